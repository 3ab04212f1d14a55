#include "mainwindow/CCorvanHTMLStarter.h"

#include "launcher/CorvanStringConversion.h"
#include "launcher/LocalServer.h"
#include "launcher/ProxyConsent.h"
#include "mainwindow/UserMessage.h"
#include "platform/ProcessSweep.h"
#include "productidentity/ProductIdentity.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <chrono>

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

// The sweep has ended the server of an earlier launch; reap it and free its process object.
void Release(QProcess* pProcess)
{
    if (!pProcess)
        return;
    pProcess->kill();
    pProcess->waitForFinished(static_cast<int>(SweepWait.count()));
    delete pProcess;
}

void ShowFailure(QWidget* parent, const QString& strText)
{
    UserMessage::Information(parent, QString::fromUtf8(ProductIdentity::Instance()->GetProductTitle()), strText);
}
} // namespace

void CCorvanHTMLStarter::LaunchLocalServer(QString strPath)
{
    CCorvanString path = ToCorvanString(strPath);
    const QString strProgram = LocalServer::ProgramPath();
    const QString strFolder = ToQString(path.Path(QDir::separator().unicode()));
    // Asked before the launch blocks the window, and before the page opens.
    const QStringList allowed = ProxyConsent::AllowedTargets(this, strFolder, QFileInfo(strPath).fileName());
    QString strFailure;
    {
        CBusyCursor busy;
        Platform::TerminateProcessesNamed(Platform::ServerExecutableName, SweepWait);
        Release(m_pServerProcess);
        m_pServerProcess = new QProcess();

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
                if (!QDesktopServices::openUrl(QUrl(m_strURL, QUrl::TolerantMode)))
                    strFailure = LocalServer::BrowserFailureText(m_strURL);
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
