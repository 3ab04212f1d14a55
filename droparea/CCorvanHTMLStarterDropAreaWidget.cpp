#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"

#include "launcher/LaunchTrace.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "productidentity/ProductIdentity.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSpacerItem>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>

namespace Corvan
{
namespace
{
CCorvanHTMLStarterDropAreaWidget::LaunchHandler& CurrentLaunchHandler()
{
    static CCorvanHTMLStarterDropAreaWidget::LaunchHandler handler;
    return handler;
}

CCorvanHTMLStarterDropAreaWidget::FileChooser& CurrentFileChooser()
{
    static CCorvanHTMLStarterDropAreaWidget::FileChooser chooser;
    return chooser;
}

const char* const Prompt = "Drop HTML file to open locally";
const char* const Accent = "#e2b639";

QSpacerItem* NewExpandingSpacer()
{
    return new QSpacerItem(1, 1, QSizePolicy::Preferred, QSizePolicy::Expanding);
}
} // namespace

CCorvanHTMLStarterDropAreaWidget::CCorvanHTMLStarterDropAreaWidget(QWidget* parent)
    : QWidget(parent, Qt::WindowFlags()), m_pPanel(nullptr)
{
    setAcceptDrops(true);
    setAttribute(Qt::WA_TranslucentBackground, true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    CreatePanel();

    // Also a button: keyboard users reach it with Tab, and everyone can click it to choose a file.
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QString::fromLatin1(Prompt));
    setAccessibleDescription(QStringLiteral("Click, or press Enter or Space, to choose an HTML file"));
}

CCorvanHTMLStarterDropAreaWidget::~CCorvanHTMLStarterDropAreaWidget()
{
    delete m_pPanel;
    m_pPanel = nullptr;
}

void CCorvanHTMLStarterDropAreaWidget::SetLaunchHandler(LaunchHandler handler)
{
    CurrentLaunchHandler() = std::move(handler);
}

void CCorvanHTMLStarterDropAreaWidget::SetFileChooser(FileChooser chooser)
{
    CurrentFileChooser() = std::move(chooser);
}

void CCorvanHTMLStarterDropAreaWidget::CreatePanel()
{
    if (m_pPanel)
        return;
    m_pPanel = new QWidget(this);
    m_pPanel->setAttribute(Qt::WA_TranslucentBackground, true);
    auto* panelLayout = new QVBoxLayout();
    panelLayout->setContentsMargins(6, 0, 6, 0);
    m_pPanel->setLayout(panelLayout);

    panelLayout->addItem(NewExpandingSpacer());
    auto* prompt = new QLabel(m_pPanel);
    prompt->setStyleSheet(QStringLiteral("color: %0;").arg(QString::fromLatin1(Accent)));
    prompt->setAlignment(Qt::AlignCenter);
    prompt->setText(QString::fromLatin1(Prompt));
    // Large desktop fonts would cut the prompt at the frame's edges; it takes two lines instead.
    prompt->setWordWrap(true);
    panelLayout->addWidget(prompt);
    panelLayout->addItem(NewExpandingSpacer());

    layout()->addWidget(m_pPanel);
}

void CCorvanHTMLStarterDropAreaWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->accept();
}

void CCorvanHTMLStarterDropAreaWidget::dropEvent(QDropEvent* event)
{
    LaunchTrace::Mark("drop");
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths.append(QDir::toNativeSeparators(url.toLocalFile()));
    if (paths.isEmpty())
        return;

    ShowFocusLine(false);
    // Only the first file counts. The launch runs to its end here; the drop itself stays
    // unaccepted, so the drag source never takes it for a completed move or copy.
    OpenFile(paths.first());
}

void CCorvanHTMLStarterDropAreaWidget::OpenFile(const QString& strPath)
{
    if (!IsSupportedFile(strPath))
        return;
    m_strLastFolder = QFileInfo(strPath).absolutePath();
    if (const LaunchHandler& handler = CurrentLaunchHandler())
        handler(strPath);
    else
        CCorvanHTMLStarter::Instance()->LaunchLocalServer(strPath);
}

QString CCorvanHTMLStarterDropAreaWidget::StartFolder() const
{
    return m_strLastFolder.isEmpty() ? QDir::homePath() : m_strLastFolder;
}

void CCorvanHTMLStarterDropAreaWidget::ChooseFile()
{
    // A click that arrives while the dialog is up (through a nested event loop) opens no second one.
    if (m_bChoosing)
        return;
    m_bChoosing = true;
    QString strChosen;
    if (const FileChooser& chooser = CurrentFileChooser())
        strChosen = chooser(this, StartFolder());
    else
        strChosen = QFileDialog::getOpenFileName(this, QStringLiteral("Open HTML file"), StartFolder(),
                                                 QStringLiteral("HTML files (*.html)"));
    m_bChoosing = false;
    ShowFocusLine(false);
    if (!strChosen.isEmpty())
        OpenFile(QDir::toNativeSeparators(strChosen));
}

void CCorvanHTMLStarterDropAreaWidget::mousePressEvent(QMouseEvent* event)
{
    m_bPressed = event->button() == Qt::LeftButton;
    ShowFocusLine(false);
    QWidget::mousePressEvent(event);
}

void CCorvanHTMLStarterDropAreaWidget::mouseReleaseEvent(QMouseEvent* event)
{
    // Like a button: the press and the release must both be ours, so dragging off the frame cancels.
    const bool clicked = m_bPressed && event->button() == Qt::LeftButton && rect().contains(event->pos());
    m_bPressed = false;
    if (clicked)
        ChooseFile();
    else
        QWidget::mouseReleaseEvent(event);
}

void CCorvanHTMLStarterDropAreaWidget::keyPressEvent(QKeyEvent* event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (event->key())
    {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (plain && !event->isAutoRepeat())
        {
            ShowFocusLine(true);
            ChooseFile();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void CCorvanHTMLStarterDropAreaWidget::focusInEvent(QFocusEvent* event)
{
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        ShowFocusLine(true);
    QWidget::focusInEvent(event);
}

void CCorvanHTMLStarterDropAreaWidget::focusOutEvent(QFocusEvent* event)
{
    // Losing focus to another window (the file dialog, a message box) and getting it back is no
    // keyboard move: the line stays as it was.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
        event->reason() == Qt::MouseFocusReason)
        ShowFocusLine(false);
    update();
    QWidget::focusOutEvent(event);
}

void CCorvanHTMLStarterDropAreaWidget::ShowFocusLine(bool bShow)
{
    if (m_bShowFocusLine == bShow)
        return;
    m_bShowFocusLine = bShow;
    update();
}

void CCorvanHTMLStarterDropAreaWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!hasFocus() || !m_bShowFocusLine)
        return;
    // The keyboard focus: a thin line in the accent colour just inside the dashed frame, only once
    // the keyboard is in use, so the frame at rest looks as drawn.
    QPainter painter(this);
    painter.setPen(QPen(QColor(QString::fromLatin1(Accent)), 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool CCorvanHTMLStarterDropAreaWidget::IsSupportedFile(QString strPath)
{
    // A web link dragged from a browser has no local path: nothing to refuse, nothing to say.
    if (strPath.isEmpty())
        return false;
    const QFileInfo fileInfo(strPath);
    if (fileInfo.completeSuffix() == QLatin1String("html"))
        return true;

    // The branding record is built here, on the first refusal, and not before.
    const QString title = QString::fromUtf8(ProductIdentity::Instance()->GetProductTitle());
    UserMessage::Information(this, title, QObject::tr("%0 is not supported").arg(fileInfo.fileName()));
    return false;
}

} // namespace Corvan
