#include "mainwindow/CCorvanHTMLStarter.h"

#include "launcher/CorvanStringConversion.h"
#include "launcher/LaunchTrace.h"
#include "launcher/LocalServer.h"
#include "launcher/ProxyConsent.h"
#include "mainwindow/UserMessage.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessSweep.h"
#include "platform/UrlOpener.h"
#include "productidentity/ProductIdentity.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <chrono>
#include <memory>

namespace Corvan
{

namespace
{
// A killed server is normally gone within milliseconds; the bound only keeps a stuck one from
// freezing the window.
constexpr std::chrono::milliseconds SweepWait(2000);

// The launch blocks the window; the cursor says so, and is back before any message box.
class CBusyCursor
{
public:
    CBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CBusyCursor() { QApplication::restoreOverrideCursor(); }
    CBusyCursor(const CBusyCursor&) = delete;
    CBusyCursor& operator=(const CBusyCursor&) = delete;
};

// The toolkit hands a URL to the desktop through a copy (a double fork) of this whole process, which
// took 20-60 ms on a busy machine; the platform starts the desktop's opener directly in about one. Only
// on a real display: elsewhere (the offscreen tests) the toolkit's way, and the URL handlers tests
// register with it, stay in charge.
bool OpenInBrowser(const QString& strURL)
{
    const QUrl url(strURL, QUrl::TolerantMode);
    const QString strDisplay = QGuiApplication::platformName();
    const bool bDesktop = strDisplay == QLatin1String("xcb") || strDisplay.startsWith(QLatin1String("wayland"));
    if (bDesktop && Platform::StartUrlOpener(url.toEncoded().toStdString()))
        return true;
    return QDesktopServices::openUrl(url);
}

void ShowFailure(QWidget* parent, const QString& strText)
{
    UserMessage::Information(parent, QString::fromUtf8(ProductIdentity::Instance()->GetProductTitle()), strText);
}
} // namespace

void CCorvanHTMLStarter::LaunchLocalServer(QString strPath)
{
    LaunchTrace::Mark("launch");
    CCorvanString path = ToCorvanString(strPath);
    const QString strProgram = LocalServer::ProgramPath();
    const QString strFolder = ToQString(path.Path(QDir::separator().unicode()));
    // Asked before the launch blocks the window, and before the page opens.
    const QStringList allowed = ProxyConsent::AllowedTargets(this, strFolder, QFileInfo(strPath).fileName());
    QString strFailure;
    {
        CBusyCursor busy;
        LaunchTrace::Mark("sweep");
        Platform::TerminateProcessesNamed(Platform::ServerExecutableName, SweepWait);
        // The sweep has ended the server of an earlier launch; its process object reaps it.
        m_pServerProcess = std::make_unique<Platform::CChildProcess>();
        LaunchTrace::Mark("swept");

        if (!CCorvanString::FileExist(ToCorvanString(strProgram)))
        {
            strFailure = LocalServer::MissingProgramText(strProgram);
        }
        else
        {
            ProxyConsent::HandOver(*m_pServerProcess, allowed);
            const LocalServer::StartResult started = LocalServer::Start(*m_pServerProcess, strProgram, strFolder);
            if (started.outcome == LocalServer::StartResult::Serving)
            {
                CCorvanString fileName(path);
                fileName.RemovePath();
                m_strURL = LocalServer::FileURL(ToQString(fileName));
                LaunchTrace::Mark("open");
                if (!OpenInBrowser(m_strURL))
                    strFailure = LocalServer::BrowserFailureText(m_strURL);
                LaunchTrace::Mark("opened");
                // The page is served either way, so its address can be copied.
                ui.copyToClipboardPushButton->show();
            }
            else
            {
                strFailure = LocalServer::FailureText(started, strProgram, strFolder);
            }
        }
    }
    if (!strFailure.isEmpty())
        ShowFailure(this, strFailure);
}

} // namespace Corvan
