#include "tests/support/ServerTestSupport.h"

#include "server/ServerProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <cstring>

namespace CorvanTest
{

const QString ServerBinary = QStringLiteral(CORVAN_SERVER_BINARY);

Response ReadResponse(QTcpSocket& socket, bool noBody)
{
    Response response;
    QElapsedTimer timer;
    timer.start();
    QByteArray data;
    int headEnd = -1;
    while ((headEnd = data.indexOf("\r\n\r\n")) < 0)
    {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100) &&
            (socket.state() != QAbstractSocket::ConnectedState || timer.elapsed() > TimeoutMs))
            return response;
        data += socket.read(1); // never read past this response
    }
    const QList<QByteArray> lines = data.left(headEnd).split('\n');
    response.status = lines.value(0).trimmed().split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i)
    {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    if (noBody || response.status == 304)
        return response;
    const qint64 length = response.header("Content-Length").toLongLong();
    while (response.body.size() < length && timer.elapsed() < TimeoutMs)
    {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100) &&
            socket.state() != QAbstractSocket::ConnectedState)
            break;
        response.body += socket.read(length - response.body.size());
    }
    return response;
}

QByteArray Request(const QByteArray& target, const QByteArray& extraHeaders, const QByteArray& method)
{
    return method + " " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders + "\r\n";
}

quint16 FreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

bool CServerProcess::Start(const QString& folder, const QStringList& options, const QProcessEnvironment& environment)
{
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        port = FreePort();
        process.setWorkingDirectory(folder);
        process.setProcessEnvironment(environment);
        process.start(ServerBinary, options + QStringList{QString::number(port)});
        if (!process.waitForStarted(TimeoutMs))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine() && process.state() == QProcess::Running && timer.elapsed() < TimeoutMs)
            process.waitForReadyRead(100);
        if (process.canReadLine())
        {
            readyLine = process.readLine();
            return true;
        }
        process.waitForFinished(TimeoutMs);
        if (process.exitCode() != Corvan::ServerProtocol::ExitPortInUse)
            return false;
    }
    return false;
}

void CServerProcess::Stop()
{
    if (process.state() != QProcess::NotRunning)
    {
        process.kill();
        process.waitForFinished(TimeoutMs);
    }
}

QByteArray CServerProcess::Errors()
{
    m_errors += process.readAllStandardError();
    return m_errors;
}

qint64 CServerProcess::MemoryKiB(const char* pField) const
{
    QFile status(QString("/proc/%1/status").arg(process.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
    {
        if (line.startsWith(QByteArray(pField) + ':'))
            return line.mid(int(std::strlen(pField)) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

Response CServerProcess::Exchange(const QByteArray& rawRequest, bool noBody) const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(TimeoutMs))
        return Response();
    socket.write(rawRequest);
    socket.waitForBytesWritten(TimeoutMs);
    return ReadResponse(socket, noBody);
}

Response CServerProcess::Get(const QByteArray& target, const QByteArray& extraHeaders, const QByteArray& method) const
{
    return Exchange(Request(target, extraHeaders, method), method == "HEAD");
}

} // namespace CorvanTest
