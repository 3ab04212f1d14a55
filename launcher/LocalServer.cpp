#include "launcher/LocalServer.h"

#include "launcher/LaunchTrace.h"
#include "platform/ChildProcess.h"
#include "platform/PortOwner.h"
#include "platform/ProcessSweep.h"
#include "server/ServerProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <string>

namespace Corvan
{
namespace LocalServer
{

namespace
{
QString s_strFolder;

// The protocol's lines are short; anything longer is noise we do not keep.
constexpr int MaxLineBytes = 1024;

// Consumes the complete lines of `output`; true once one of them is the ready line.
bool TakeReadyLine(QByteArray& output)
{
    int newline;
    while ((newline = output.indexOf('\n')) >= 0)
    {
        const bool ready = output.startsWith(ServerProtocol::ReadyPrefix);
        output.remove(0, newline + 1);
        if (ready)
            return true;
    }
    if (output.size() > MaxLineBytes)
        output.clear();
    return false;
}

// Adds `more` to the first line of a stream until that line is complete (or long enough).
void KeepFirstLine(QByteArray& line, bool& complete, const QByteArray& more)
{
    if (complete)
        return;
    line += more;
    const int newline = line.indexOf('\n');
    if (newline >= 0 || line.size() > MaxLineBytes)
    {
        line.truncate(newline >= 0 ? newline : MaxLineBytes);
        complete = true;
    }
}

StartResult Ended(Platform::CChildProcess& process, const QByteArray& errorLine)
{
    StartResult result;
    result.exitCode = process.ExitCode();
    result.strErrorLine = QString::fromUtf8(errorLine).trimmed();
    if (process.Crashed())
    {
        result.outcome = StartResult::Crashed;
    }
    else if (result.exitCode == ServerProtocol::ExitPortInUse)
    {
        result.outcome = StartResult::PortInUse;
        result.strPortHolder = QFile::decodeName(Platform::ProgramListeningOn(LauncherPort).c_str());
    }
    else if (result.exitCode == ServerProtocol::ExitBadFolder)
    {
        result.outcome = StartResult::FolderRefused;
    }
    else
    {
        result.outcome = StartResult::Stopped;
    }
    return result;
}
} // namespace

QString Folder()
{
    return s_strFolder.isEmpty() ? QCoreApplication::applicationDirPath() : s_strFolder;
}

void SetFolder(const QString& strFolder)
{
    s_strFolder = strFolder;
}

QString ProgramPath()
{
    return Folder() + QDir::separator() + QString::fromLatin1(Platform::ServerExecutableName);
}

QString FileURL(const QString& strFileName)
{
    return QStringLiteral("http://localhost:%1/").arg(QString::number(LauncherPort)) +
           QString::fromLatin1(QUrl::toPercentEncoding(strFileName));
}

StartResult Start(Platform::CChildProcess& process, const QString& strProgram, const QString& strFolder)
{
    StartResult result;
    if (!QFileInfo(strFolder).isDir())
    {
        result.outcome = StartResult::FolderMissing;
        return result;
    }

    QElapsedTimer clock;
    clock.start();
    LaunchTrace::Mark("start");
    std::string error;
    // The server must not outlive the tool, however the tool ends.
    process.KeepInputOpen();
    process.SetVariable(ServerProtocol::StopWithInputVariable, "1");
    if (!process.Start(strProgram.toUtf8().toStdString(), {std::to_string(LauncherPort)},
                       strFolder.toUtf8().toStdString(), error))
    {
        result.outcome = StartResult::FailedToStart;
        result.strErrorLine = QString::fromLocal8Bit(error.c_str());
        return result;
    }
    LaunchTrace::Mark("started");

    // Started only means the program runs; it serves once it says so. Until then, keep the first
    // error line and drop everything else, so nothing piles up. Once it serves, its pipes stay open
    // and drained: closing them could end it with SIGPIPE on its next log line.
    QByteArray output;
    QByteArray errorLine;
    bool errorLineComplete = false;
    for (;;)
    {
        const qint64 left = std::max<qint64>(0, ReadyTimeoutMs - clock.elapsed());
        std::string more;
        std::string moreErrors;
        const bool running = process.Read(more, moreErrors, std::chrono::milliseconds(left));
        output += QByteArray::fromStdString(more);
        if (TakeReadyLine(output))
        {
            LaunchTrace::Mark("ready");
            process.DiscardOutput();
            result.outcome = StartResult::Serving;
            return result;
        }
        KeepFirstLine(errorLine, errorLineComplete, QByteArray::fromStdString(moreErrors));
        if (!running)
            return Ended(process, errorLine);
        if (left <= 0)
            break;
    }

    // A server that neither serves nor fails would only keep the port from the next one.
    process.Kill();
    result.outcome = StartResult::TimedOut;
    result.strErrorLine = QString::fromUtf8(errorLine).trimmed();
    return result;
}

QString FailureText(const StartResult& result, const QString& strProgram, const QString& strFolder)
{
    const QString strFolderShown = QDir::toNativeSeparators(strFolder);
    const QString strPort = QString::number(LauncherPort);
    QString strWhy;
    switch (result.outcome)
    {
    case StartResult::Serving:
        return QString();
    case StartResult::FolderMissing:
        strWhy = QStringLiteral("the folder %1 does not exist.").arg(strFolderShown);
        break;
    case StartResult::FailedToStart:
        return QStringLiteral("The page cannot be served: the web server program %1 could not be started (%2).\n\n"
                              "It may be damaged or not executable; reinstalling the tool repairs it.")
            .arg(QDir::toNativeSeparators(strProgram), result.strErrorLine);
    case StartResult::PortInUse:
        strWhy = result.strPortHolder.isEmpty()
                     ? QStringLiteral("port %1 is in use by another program. Close that program and drop the file "
                                      "again.")
                           .arg(strPort)
                     : QStringLiteral("port %1 is in use by the program \"%2\". Close it and drop the file again.")
                           .arg(strPort, result.strPortHolder);
        break;
    case StartResult::FolderRefused:
        strWhy = QStringLiteral("the folder %1 cannot be served. Check that it exists and that you may read it.")
                     .arg(strFolderShown);
        break;
    case StartResult::Stopped:
        strWhy = QStringLiteral("the web server stopped with exit code %1.").arg(result.exitCode);
        break;
    case StartResult::Crashed:
        strWhy = QStringLiteral("the web server crashed while starting.");
        break;
    case StartResult::TimedOut:
        strWhy = QStringLiteral("the web server did not report that it was ready within %1 seconds, so it was "
                                "stopped.")
                     .arg(ReadyTimeoutMs / 1000);
        break;
    }
    QString strText = QStringLiteral("The page cannot be served: ") + strWhy;
    if (!result.strErrorLine.isEmpty())
        strText += QStringLiteral("\n\nThe server reported: ") + result.strErrorLine;
    return strText;
}

QString MissingProgramText(const QString& strProgram)
{
    return QStringLiteral("The page cannot be served: the web server program is missing.\n\n"
                          "It should be at %1; reinstalling the tool puts it back.")
        .arg(QDir::toNativeSeparators(strProgram));
}

QString BrowserFailureText(const QString& strURL)
{
    return QStringLiteral("The page is served at %1, but no web browser could be opened.\n\n"
                          "Use Copy URL and paste the address into a browser.")
        .arg(strURL);
}

} // namespace LocalServer
} // namespace Corvan
