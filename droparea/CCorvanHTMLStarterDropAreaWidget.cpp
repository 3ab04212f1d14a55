#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"

#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "productidentity/ProductIdentity.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
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
    prompt->setStyleSheet(QStringLiteral("color: %0;").arg(QStringLiteral("#e2b639")));
    prompt->setAlignment(Qt::AlignCenter);
    prompt->setText(QStringLiteral("Drop HTML file to open locally"));
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
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths.append(QDir::toNativeSeparators(url.toLocalFile()));
    if (paths.isEmpty())
        return;

    // Only the first file counts. The launch runs to its end here; the drop itself stays
    // unaccepted, so the drag source never takes it for a completed move or copy.
    const QString& strPath = paths.first();
    if (!IsSupportedFile(strPath))
        return;
    if (const LaunchHandler& handler = CurrentLaunchHandler())
        handler(strPath);
    else
        CCorvanHTMLStarter::Instance()->LaunchLocalServer(strPath);
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
