#pragma once

#include "ui_CorvanHTMLStarter.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

namespace Corvan
{
namespace Platform
{
class CChildProcess;
}

class CCorvanHTMLStarterDropAreaWidget;

// The tool's one window: a drop frame, a close button, "Copy URL" and the vendor link. It keeps what
// the last launch left behind (the URL it opened, the server it started).
class CCorvanHTMLStarter : public QMainWindow
{
    Q_OBJECT

public:
    explicit CCorvanHTMLStarter(QWidget* parent = nullptr);
    ~CCorvanHTMLStarter() override;

    // The process-wide window, built on first call and never destroyed.
    static CCorvanHTMLStarter* Instance();

    // The tool's look (the Fusion style and the application style sheet) for every box and window,
    // also those shown when no window is ever built.
    static void ApplyLook();

    // Serves the folder of the given HTML file with our server and opens the file in the browser.
    void LaunchLocalServer(QString strPath);

    // Takes a file handed over from outside (the command line, a later start of the tool) as if it
    // had been dropped on the frame, and brings the window forward; an empty path only does the latter.
    // A path that names nothing here, or a file URL of another computer, gets a message and changes
    // nothing. Files handed over while a message is open wait for it to close.
    void OpenFile(const QString& strPath);

    // The URL the last successful launch opened (empty before any).
    const QString& URL() const { return m_strURL; }
    // The server process of the last launch, or null before any.
    Platform::CChildProcess* ServerProcess() const { return m_pServerProcess.get(); }

    // The vendor's home page, the link target of the label at the bottom.
    static const char* const HomePageURL;

protected:
    // A close from the window system (Alt+F4, a task bar) would otherwise only hide the frameless
    // window and leave an unreachable process with a running server: treat it as the close button.
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_closeToolButton_clicked();
    void on_copyToClipboardPushButton_clicked();
    void on_label_linkActivated(QString);

private:
    // Keeps the platform's font for "Copy URL", "Powerd By " and the link where the three fit the
    // window's width with it (hidden Copy URL counted), and makes them smaller where they do not.
    void FitBottomRow();
    void OpenPendingFiles();
    void OpenOneFile(const QString& strPath);
    // Ends the server the last launch started, then leaves the event loop with exit code 0.
    void Shutdown();

    Ui::CorvanHTMLStarterClass ui;
    CCorvanHTMLStarterDropAreaWidget* m_pDropArea = nullptr;
    std::unique_ptr<Platform::CChildProcess> m_pServerProcess;
    QString m_strURL;
    QStringList m_listPendingFiles;
    bool m_bOpeningFiles = false;
};

} // namespace Corvan
