#include "mainwindow/CCorvanHTMLStarter.h"

#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"
#include "mainwindow/UserMessage.h"
#include "platform/ChildProcess.h"
#include "productidentity/ProductIdentity.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QStyleFactory>
#include <QTimer>
#include <QUrl>

// Q_INIT_RESOURCE declares the collection's registration function where it stands, so it must stand
// outside any namespace.
static void RegisterCustomizedUIResources()
{
    Q_INIT_RESOURCE(CorvanCustomizedUI);
}

namespace Corvan
{

const char* const CCorvanHTMLStarter::HomePageURL = "https://corvan-works.example/";

namespace
{
CCorvanHTMLStarter* s_pInstance = nullptr;

// The style sheet resource is text up to its first NUL byte, Latin-1 encoded.
QString ReadStyleSheet(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray data = file.readAll();
    file.close();
    const int nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    return QString::fromLatin1(data);
}
} // namespace

CCorvanHTMLStarter* CCorvanHTMLStarter::Instance()
{
    if (!s_pInstance)
        s_pInstance = new CCorvanHTMLStarter(nullptr);
    return s_pInstance;
}

void CCorvanHTMLStarter::ApplyLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    qApp->setStyleSheet(ReadStyleSheet(QStringLiteral(":/CorvanCustomizedUI/Resources/CorvanMainStyle.qss")));
}

CCorvanHTMLStarter::CCorvanHTMLStarter(QWidget* parent) : QMainWindow(parent, Qt::WindowFlags())
{
    // Already registered before main; registering again adds nothing but keeps the style sheet
    // reachable from any program that builds this window.
    RegisterCustomizedUIResources();

    ui.setupUi(this);

    m_pDropArea = new CCorvanHTMLStarterDropAreaWidget(this);
    ui.mainFrame->layout()->addWidget(m_pDropArea);

    setWindowFlags(Qt::WindowFlags(0x5800));

    ApplyLook();

    ui.mainFrame->setStyleSheet(
        QStringLiteral("QFrame#mainFrame {background-image:url(%0); background-repeat:no-repeat; "
                       "background-position: center; background-origin: content; border-style:dashed; "
                       "border-width: 2px; border-color: %1}")
            .arg(QStringLiteral(":/CorvanHTMLStarter/Resources/logoBG.png"), QStringLiteral("#A9A9A9")));

    ui.copyToClipboardPushButton->hide();

    setWindowIcon(QIcon(QPixmap(QStringLiteral(":/CorvanHTMLStarter/Resources/Tools_iconz.png"))));
    ui.closeToolButton->setIcon(QIcon(QPixmap(QStringLiteral(":/CorvanHTMLStarter/Resources/SmallClose.png"))));

    FitBottomRow();

    // What screen readers say for the controls that show no text or only an image.
    ui.closeToolButton->setAccessibleName(QStringLiteral("Close"));
    ui.copyToClipboardPushButton->setAccessibleName(QStringLiteral("Copy URL"));
    ui.label->setAccessibleName(QStringLiteral("Corvan-Works home page"));

    // Keyboard order: the frame first (Enter opens the file dialog), then Copy URL, then close.
    setTabOrder(m_pDropArea, ui.copyToClipboardPushButton);
    setTabOrder(ui.copyToClipboardPushButton, ui.closeToolButton);
    m_pDropArea->setFocus();
}

void CCorvanHTMLStarter::FitBottomRow()
{
    QWidget* const row[] = {ui.copyToClipboardPushButton, ui.label_2, ui.label};
    auto* const rowLayout = ui.horizontalLayout_4;
    const QMargins outer = ui.centralWidget->layout()->contentsMargins();
    const QMargins inner = rowLayout->contentsMargins();
    // The spacer between the button and "Powerd By " may shrink to nothing, but not the gaps.
    const int room = width() - outer.left() - outer.right() - inner.left() - inner.right() - 3 * rowLayout->spacing();
    auto needed = [&row]
    {
        int sum = 0;
        for (QWidget* widget : row)
        {
            widget->ensurePolished();
            sum += widget->sizeHint().width();
        }
        return sum;
    };
    QFont font = ui.label_2->font();
    while (needed() > room && font.pointSizeF() > 6)
    {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        for (QWidget* widget : row)
            widget->setFont(font);
    }
}

void CCorvanHTMLStarter::OpenFile(const QString& strPath)
{
    m_listPendingFiles.append(strPath);
    OpenPendingFiles();
}

void CCorvanHTMLStarter::OpenPendingFiles()
{
    // A message box runs a nested event loop, in which the next hand-over can arrive: it waits its
    // turn, so there is one box at a time and every file is taken in the order it came.
    if (m_bOpeningFiles)
        return;
    m_bOpeningFiles = true;
    while (!m_listPendingFiles.isEmpty())
    {
        // A box that a drop or Copy URL opened: look again once it may be closed.
        if (UserMessage::IsOpen())
        {
            QTimer::singleShot(100, this, &CCorvanHTMLStarter::OpenPendingFiles);
            break;
        }
        OpenOneFile(m_listPendingFiles.takeFirst());
    }
    m_bOpeningFiles = false;
}

void CCorvanHTMLStarter::OpenOneFile(const QString& strPath)
{
    show();
    raise();
    activateWindow();
    if (strPath.isEmpty())
        return;
    // Checked before the launch sweeps the running server away: a file that cannot be served must
    // leave the page that is open alone.
    QString strProblem;
    if (strPath.contains(QLatin1String("://")))
        strProblem = QStringLiteral("%1 cannot be opened: it is on another computer.");
    else if (!QFileInfo::exists(strPath))
        strProblem = QStringLiteral("%1 cannot be opened: there is no such file or folder.");
    if (strProblem.isEmpty())
    {
        m_pDropArea->OpenFile(strPath);
        return;
    }
    UserMessage::Information(this, QString::fromUtf8(ProductIdentity::Instance()->GetProductTitle()),
                             strProblem.arg(strPath));
}

CCorvanHTMLStarter::~CCorvanHTMLStarter()
{
    m_pDropArea = nullptr;
}

void CCorvanHTMLStarter::Shutdown()
{
    if (m_pServerProcess)
        m_pServerProcess->Kill();
    QCoreApplication::exit(0);
}

void CCorvanHTMLStarter::closeEvent(QCloseEvent* event)
{
    event->accept();
    Shutdown();
}

void CCorvanHTMLStarter::on_closeToolButton_clicked()
{
    Shutdown();
}

void CCorvanHTMLStarter::on_copyToClipboardPushButton_clicked()
{
    QGuiApplication::clipboard()->setText(m_strURL, QClipboard::Clipboard);
    UserMessage::Information(this, QStringLiteral("Corvan"), QStringLiteral("URL Copied"));
}

void CCorvanHTMLStarter::on_label_linkActivated(QString)
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(HomePageURL), QUrl::TolerantMode));
}

} // namespace Corvan
