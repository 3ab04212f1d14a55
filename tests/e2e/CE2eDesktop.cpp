#include "CE2eDesktop.h"

#include <QDeadlineTimer>
#include <QSize>

#include <csignal>
#include <cstdlib>

namespace Corvan
{
namespace E2e
{

CommandResult RunCommand(const QString& strProgram, const QStringList& args, const QProcessEnvironment& environment,
                         int nTimeoutMs)
{
    CommandResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(strProgram, args);
    if (!process.waitForStarted(nTimeoutMs))
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(nTimeoutMs))
    {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.bFinished = process.exitStatus() == QProcess::NormalExit;
    result.nExitCode = process.exitCode();
    result.stdOut = process.readAllStandardOutput();
    result.stdErr = process.readAllStandardError();
    return result;
}

namespace
{
// QtTest leaves through exit() on a bad command line, past every destructor: an exit handler still
// ends the display server this process started.
qint64 s_nXvfbPid = 0;

void EndXvfbAtExit()
{
    if (s_nXvfbPid > 0)
        ::kill(static_cast<pid_t>(s_nXvfbPid), SIGTERM);
}
} // namespace

CE2eDesktop::~CE2eDesktop()
{
    Stop();
}

bool CE2eDesktop::Start(const QSize& screenSize, QString* pError)
{
    // -displayfd 1: Xvfb takes the first free display number and writes it to its standard output
    // once it accepts clients, which is both the free-number search and the readiness signal.
    // -noreset: a reset when the last client (often a short xdotool call) leaves drops connections
    // still in their handshake, and refused the tool at start ("could not connect to display").
    const QString screen = QStringLiteral("%1x%2x24").arg(screenSize.width()).arg(screenSize.height());
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                  screen, QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!m_xvfb.waitForStarted(10000))
    {
        *pError = QStringLiteral("Xvfb did not start: ") + m_xvfb.errorString();
        return false;
    }
    static const bool bHandlerRegistered = std::atexit(EndXvfbAtExit) == 0;
    Q_UNUSED(bHandlerRegistered);
    s_nXvfbPid = m_xvfb.processId();
    QByteArray output;
    const QDeadlineTimer deadline(20000);
    while (!output.contains('\n') && !deadline.hasExpired() && m_xvfb.state() == QProcess::Running)
    {
        m_xvfb.waitForReadyRead(100);
        output += m_xvfb.readAllStandardOutput();
    }
    bool bNumber = false;
    const int nDisplay = output.trimmed().toInt(&bNumber);
    if (!bNumber)
    {
        *pError =
            QStringLiteral("Xvfb gave no display number: ") + QString::fromLocal8Bit(m_xvfb.readAllStandardError());
        Stop();
        return false;
    }
    m_strDisplay = QStringLiteral(":%1").arg(nDisplay);
    return true;
}

void CE2eDesktop::Stop()
{
    s_nXvfbPid = 0;
    if (m_xvfb.state() != QProcess::NotRunning)
    {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000))
        {
            m_xvfb.kill();
            m_xvfb.waitForFinished(5000);
        }
    }
}

QProcessEnvironment CE2eDesktop::Environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_strDisplay);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

CommandResult CE2eDesktop::Run(const QString& strProgram, const QStringList& args, int nTimeoutMs) const
{
    return RunCommand(strProgram, args, Environment(), nTimeoutMs);
}

CommandResult CE2eDesktop::XDoTool(const QStringList& args, int nTimeoutMs) const
{
    return Run(QStringLiteral("xdotool"), args, nTimeoutMs);
}

namespace
{
QList<qulonglong> WindowList(const CommandResult& result)
{
    QList<qulonglong> windows;
    for (const QByteArray& line : result.stdOut.split('\n'))
    {
        bool bNumber = false;
        const qulonglong nWindow = line.trimmed().toULongLong(&bNumber);
        if (bNumber)
            windows.append(nWindow);
    }
    return windows;
}
} // namespace

QList<qulonglong> CE2eDesktop::VisibleWindowsOf(qint64 nPid) const
{
    // Exits 1 when nothing matches: an empty list, not an error. The name must not be empty: without
    // that, xdotool also lists the root window.
    return WindowList(
        XDoTool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--pid"), QString::number(nPid), QStringLiteral("--name"), QStringLiteral(".")}));
}

QList<qulonglong> CE2eDesktop::VisibleWindowsNamed(const QString& strPattern) const
{
    return WindowList(XDoTool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--name"), strPattern}));
}

QString CE2eDesktop::WindowName(qulonglong nWindow) const
{
    const CommandResult result = XDoTool({QStringLiteral("getwindowname"), QString::number(nWindow)});
    return result.Succeeded() ? QString::fromUtf8(result.stdOut).trimmed() : QString();
}

QRect CE2eDesktop::WindowGeometry(qulonglong nWindow) const
{
    const CommandResult result =
        XDoTool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(nWindow)});
    if (!result.Succeeded())
        return QRect();
    QRect rect;
    for (const QByteArray& line : result.stdOut.split('\n'))
    {
        const QList<QByteArray> pair = line.trimmed().split('=');
        if (pair.size() != 2)
            continue;
        const int nValue = pair.at(1).toInt();
        if (pair.at(0) == "X")
            rect.moveLeft(nValue);
        else if (pair.at(0) == "Y")
            rect.moveTop(nValue);
        else if (pair.at(0) == "WIDTH")
            rect.setWidth(nValue);
        else if (pair.at(0) == "HEIGHT")
            rect.setHeight(nValue);
    }
    return rect;
}

bool CE2eDesktop::MoveMouse(const QPoint& position) const
{
    return XDoTool({QStringLiteral("mousemove"), QString::number(position.x()), QString::number(position.y())})
        .Succeeded();
}

bool CE2eDesktop::Click(const QPoint& position) const
{
    return XDoTool({QStringLiteral("mousemove"), QString::number(position.x()), QString::number(position.y()),
                    QStringLiteral("click"), QStringLiteral("1")})
        .Succeeded();
}

bool CE2eDesktop::PressKeyIn(qulonglong nWindow, const QString& strKey) const
{
    // No window manager hands out focus here, so give it to the window directly before typing.
    return XDoTool({QStringLiteral("windowfocus"), QString::number(nWindow), QStringLiteral("key"), strKey})
        .Succeeded();
}

QString CE2eDesktop::ClipboardText() const
{
    const CommandResult result =
        Run(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    return result.Succeeded() ? QString::fromUtf8(result.stdOut) : QString();
}

bool CE2eDesktop::Screenshot(const QString& strPngPath) const
{
    // ImageMagick's own path: another "import" may come first on PATH.
    return Run(QStringLiteral("/usr/bin/import"),
               {QStringLiteral("-display"), m_strDisplay, QStringLiteral("-window"), QStringLiteral("root"),
                strPngPath},
               30000)
        .Succeeded();
}

bool CE2eDesktop::WindowScreenshot(qulonglong nWindow, const QString& strPngPath) const
{
    return Run(QStringLiteral("/usr/bin/import"),
               {QStringLiteral("-display"), m_strDisplay, QStringLiteral("-window"), QString::number(nWindow),
                strPngPath},
               30000)
        .Succeeded();
}

} // namespace E2e
} // namespace Corvan
