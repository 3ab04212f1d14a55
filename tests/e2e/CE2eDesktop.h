#pragma once

// A private X display for the end-to-end suite (Xvfb, with no window manager, so windows land exactly
// where they ask to be) and the X tools that act on it as a user would.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

namespace Corvan
{
namespace E2e
{

struct CommandResult
{
    bool bFinished = false; // false: did not start, crashed or ran past its time limit (then killed)
    int nExitCode = -1;
    QByteArray stdOut;
    QByteArray stdErr;

    bool Succeeded() const { return bFinished && nExitCode == 0; }
};

// Runs a short-lived program to its end, killing it after nTimeoutMs.
CommandResult RunCommand(const QString& strProgram, const QStringList& args, const QProcessEnvironment& environment,
                         int nTimeoutMs);

class CE2eDesktop
{
public:
    CE2eDesktop() = default;
    CE2eDesktop(const CE2eDesktop&) = delete;
    CE2eDesktop& operator=(const CE2eDesktop&) = delete;
    ~CE2eDesktop();

    // Starts Xvfb on a display number it picks itself (so parallel runs never collide) and waits,
    // bounded, until the display accepts clients.
    bool Start(const QSize& screenSize, QString* pError);
    // Ends the Xvfb this object started, by its process id.
    void Stop();

    QString DisplayName() const { return m_strDisplay; }
    // The calling process's environment, pointed at this display with Qt on its X11 platform.
    QProcessEnvironment Environment() const;

    // Runs xdotool (or another X client) against this display.
    CommandResult Run(const QString& strProgram, const QStringList& args, int nTimeoutMs = 10000) const;
    CommandResult XDoTool(const QStringList& args, int nTimeoutMs = 10000) const;

    // Visible top-level windows that belong to the process (by _NET_WM_PID).
    QList<qulonglong> VisibleWindowsOf(qint64 nPid) const;
    // Visible top-level windows whose name matches the regular expression (any program's: wine's
    // windows carry the pid of a process the suite did not start).
    QList<qulonglong> VisibleWindowsNamed(const QString& strPattern) const;
    QString WindowName(qulonglong nWindow) const;
    QRect WindowGeometry(qulonglong nWindow) const;

    bool MoveMouse(const QPoint& position) const;
    bool Click(const QPoint& position) const;
    // Sends a key press to whichever window has the keyboard focus after focusing nWindow.
    bool PressKeyIn(qulonglong nWindow, const QString& strKey) const;

    // The X clipboard's text, as any other program on the desktop would read it.
    QString ClipboardText() const;
    bool Screenshot(const QString& strPngPath) const;
    // One window's contents only.
    bool WindowScreenshot(qulonglong nWindow, const QString& strPngPath) const;

private:
    QProcess m_xvfb;
    QString m_strDisplay;
};

} // namespace E2e
} // namespace Corvan
