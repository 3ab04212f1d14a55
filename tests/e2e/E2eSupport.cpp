#include "E2eSupport.h"

#include "CE2eDesktop.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <chrono>
#include <cstdio>

namespace Corvan
{
namespace E2e
{

QByteArray ReadFile(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HttpAnswer HttpGet(quint16 nPort, const QString& strEncodedPath)
{
    HttpAnswer answer;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), nPort);
    if (!socket.waitForConnected(1000))
        return answer;
    socket.write("GET " + strEncodedPath.toLatin1() + " HTTP/1.0\r\nHost: localhost:" + QByteArray::number(nPort) +
                 "\r\n\r\n");
    QByteArray response;
    const QDeadlineTimer deadline(5000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
    {
        socket.waitForReadyRead(100);
        response += socket.readAll();
    }
    response += socket.readAll();
    const int nHeaderEnd = response.indexOf("\r\n\r\n");
    if (!response.startsWith("HTTP/1.") || nHeaderEnd < 0)
        return answer;
    answer.nStatus = response.mid(9, 3).toInt();
    answer.headers = response.left(nHeaderEnd);
    answer.body = response.mid(nHeaderEnd + 4);
    return answer;
}

QString CopySite(const QString& strFixtureDir, const QString& strDir, const QString& strPageName, int nCopy)
{
    for (const QString& strName : {QStringLiteral("app.mjs"), QStringLiteral("greeting.mjs"),
                                   QStringLiteral("data.json"), QStringLiteral("add.wasm")})
    {
        if (!QFile::copy(strFixtureDir + QLatin1Char('/') + strName, strDir + QLatin1Char('/') + strName))
            return QString();
    }
    QFile page(strDir + QLatin1Char('/') + strPageName);
    if (!page.open(QIODevice::WriteOnly))
        return QString();
    page.write(ReadFile(strFixtureDir + QStringLiteral("/index.html")));
    page.write(QStringLiteral("<!-- site copy %1 -->\n").arg(nCopy).toUtf8());
    return page.fileName();
}

QStringList OpenedUrls(const QString& strRecordDir)
{
    return QString::fromUtf8(ReadFile(strRecordDir + QStringLiteral("/opened-urls.txt")))
        .split('\n', Qt::SkipEmptyParts);
}

namespace
{
// The release on the clock the tool stamps its launch steps with (see launcher/LaunchTrace.h).
void TraceRelease()
{
    const QByteArray path = qgetenv("CORVAN_LAUNCH_TRACE");
    if (path.isEmpty())
        return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (std::FILE* file = std::fopen(path.constData(), "a"))
    {
        std::fprintf(file, "release %lld\n",
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
        std::fclose(file);
    }
}
} // namespace

CDragSource::CDragSource(const CE2eDesktop& desktop, QString strProgram, QPoint position)
    : m_desktop(desktop), m_strProgram(std::move(strProgram)), m_position(position)
{
}

CDragSource::~CDragSource()
{
    Stop();
}

void CDragSource::Stop()
{
    if (m_pProcess && m_pProcess->state() != QProcess::NotRunning)
    {
        m_pProcess->kill();
        m_pProcess->waitForFinished(5000);
    }
    m_pProcess.reset();
}

bool CDragSource::Start(const QString& strFile, int nTimeoutMs)
{
    // One source per drag; the previous one has served its data by now.
    Stop();
    m_pProcess.reset(new QProcess);
    m_output.clear();
    m_pProcess->setProcessEnvironment(m_desktop.Environment());
    m_pProcess->setProcessChannelMode(QProcess::MergedChannels);
    m_pProcess->start(m_strProgram, {strFile, QString::number(m_position.x()), QString::number(m_position.y())});
    return m_pProcess->waitForStarted(nTimeoutMs) && WaitForLine("ready", nTimeoutMs);
}

bool CDragSource::WaitForLine(const QByteArray& prefix, int nTimeoutMs)
{
    const QDeadlineTimer deadline(nTimeoutMs);
    while (!m_output.startsWith(prefix) && !m_output.contains('\n' + prefix))
    {
        if (deadline.hasExpired() || m_pProcess->state() != QProcess::Running)
            return false;
        m_pProcess->waitForReadyRead(20);
        m_output += m_pProcess->readAll();
    }
    return true;
}

bool CDragSource::DragOnto(const QString& strFile, const QPoint& target, int nTimeoutMs)
{
    if (!Start(strFile, nTimeoutMs))
        return false;
    const QPoint start = m_position + QPoint(80, 60);
    if (!m_desktop
             .XDoTool({QStringLiteral("mousemove"), QString::number(start.x()), QString::number(start.y()),
                       QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
                       QString::number(start.x() + 20), QString::number(start.y() + 10)})
             .Succeeded() ||
        !WaitForLine("dragging", nTimeoutMs))
    {
        m_desktop.XDoTool({QStringLiteral("mouseup"), QStringLiteral("1")});
        return false;
    }
    const QPoint middle = (start + target) / 2;
    const bool bAccepted =
        m_desktop
            .XDoTool({QStringLiteral("mousemove"), QString::number(middle.x()), QString::number(middle.y()),
                      QStringLiteral("mousemove"), QString::number(target.x() - 5), QString::number(target.y() - 5),
                      QStringLiteral("mousemove"), QString::number(target.x()), QString::number(target.y())})
            .Succeeded() &&
        WaitForLine("accepted", nTimeoutMs);
    TraceRelease();
    m_sinceRelease.start();
    // Released either way: a refused drag must not leave the mouse grabbed for the next function.
    const bool bReleased = m_desktop.XDoTool({QStringLiteral("mouseup"), QStringLiteral("1")}).Succeeded();
    return bAccepted && bReleased;
}

void KeepFailureOutput(const CE2eDesktop& desktop, const QString& strOutputDir, const QString& strBeforeShot,
                       const QString& strRecordDir, const QByteArray& dragSourceOutput)
{
    const QString strFunction = QString::fromLatin1(QTest::currentTestFunction());
    QDir outputDir(strOutputDir);
    for (const QString& strOld : outputDir.entryList({strFunction + QStringLiteral("-*")}, QDir::Files))
        outputDir.remove(strOld);
    const QString strPrefix = outputDir.filePath(strFunction);
    QFile::copy(strBeforeShot, strPrefix + QStringLiteral("-before.png"));
    desktop.Screenshot(strPrefix + QStringLiteral("-after.png"));
    for (const QString& strRecord : QDir(strRecordDir).entryList(QDir::Files))
        QFile::copy(QDir(strRecordDir).filePath(strRecord), strPrefix + QLatin1Char('-') + strRecord);
    QFile dragLog(strPrefix + QStringLiteral("-dragsource.log"));
    if (dragLog.open(QIODevice::WriteOnly))
        dragLog.write(dragSourceOutput);
    qWarning("screenshots and logs of this failure: %s-*", qPrintable(strPrefix));
}

} // namespace E2e
} // namespace Corvan
