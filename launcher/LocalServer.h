#pragma once

#include <QString>

namespace Corvan
{
namespace Platform
{
class CChildProcess;
}

// The fixed port of our server: its one argument, in base 10, and the port of every URL.
constexpr quint16 LauncherPort = 8721;

// Starting our server program and telling whether it serves. Used by LaunchLocalServer only.
namespace LocalServer
{

// The folder that holds the server program: the application's folder. Tests point it at a stand-in
// server with SetFolder; an empty folder restores the default.
QString Folder();
void SetFolder(const QString& strFolder);

// The server program: Folder(), the native separator and the platform's server executable name.
QString ProgramPath();

// The address of a file at the top of the served folder. The name is percent-encoded as one path
// segment (UTF-8, only unreserved characters kept), so "#", "?" and "%" stay part of the name.
QString FileURL(const QString& strFileName);

struct StartResult
{
    enum Outcome
    {
        Serving,       // the server said it accepts connections
        FolderMissing, // the working folder does not exist; nothing was started
        FailedToStart, // the program could not be run (not executable, not a program)
        PortInUse,     // exit code 3
        FolderRefused, // exit code 4
        Stopped,       // any other exit
        Crashed,       // ended by a signal
        TimedOut,      // still silent when the wait ran out; it has been ended
    };
    Outcome outcome = FailedToStart;
    int exitCode = 0;
    QString strErrorLine;  // the server's own error line, or the system's reason it could not start
    QString strPortHolder; // for PortInUse: the program that holds the port, if it can be found
};

// How long a start may take before the server counts as hung.
constexpr int ReadyTimeoutMs = 5000;

// Starts `strProgram` with the port argument in `strFolder` on `process` and waits, bounded by
// ReadyTimeoutMs, until the server reports that it serves or ends. Only what readiness and errors
// need is kept of its output; once it serves, all further output is read and dropped, so a chatty
// server cannot fill the tool's memory. A server that stays silent is ended.
StartResult Start(Platform::CChildProcess& process, const QString& strProgram, const QString& strFolder);

// The words for the user when a start failed.
QString FailureText(const StartResult& result, const QString& strProgram, const QString& strFolder);
QString MissingProgramText(const QString& strProgram);
QString BrowserFailureText(const QString& strURL);

} // namespace LocalServer
} // namespace Corvan
