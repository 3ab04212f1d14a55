// A server for the proxy tests to pass requests to, on a free 127.0.0.1 port that it prints on its
// first line. Every request is answered by its path:
//   /events   an event stream that sends "data: 1" and then stays open, sending nothing more
//   /socket   a WebSocket upgrade: 101, then every byte it gets comes back after "echo:"
//   /closes   as anything else, then the connection ends, though the answer said keep-alive
//   anything else   200 with the request as it arrived (request line, headers, body; a body is
//             counted, not kept, beyond 1 KiB), X-Connection, the number of its connection, and
//             X-Open, how many connections are open

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{

int g_nOpen = 0;

// One connection and the request being read.
struct CConnection
{
    int number = 0;
    QByteArray buffer;
    QByteArray head;
    QByteArray kept;
    qint64 left = -1; // body bytes still to come; -1 while reading a head
    qint64 size = 0;
    bool tunnel = false;
};

void Answer(QTcpSocket* pSocket, CConnection& connection)
{
    const QByteArray path = connection.head.split(' ').value(1);
    if (path.contains("/events"))
        return void(pSocket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\ndata: 1\n\n"));
    if (path.contains("/socket"))
    {
        connection.tunnel = true;
        return void(
            pSocket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n"));
    }
    const QByteArray echo =
        connection.head + "\r\n" + connection.kept + "\r\nbody size: " + QByteArray::number(connection.size);
    pSocket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nSet-Cookie: a=1\r\n"
                   "Access-Control-Allow-Origin: http://elsewhere.test\r\nConnection: keep-alive, X-Private\r\n"
                   "X-Private: 1\r\nX-Connection: " +
                   QByteArray::number(connection.number) + "\r\nX-Open: " + QByteArray::number(g_nOpen) +
                   "\r\nContent-Length: " + QByteArray::number(echo.size()) + "\r\n\r\n" +
                   (connection.head.startsWith("HEAD ") ? QByteArray() : echo));
    if (path.contains("/closes"))
        pSocket->disconnectFromHost();
}

// Reads requests off one connection: a head, then as many body bytes as its Content-Length says.
void Read(QTcpSocket* pSocket, CConnection& connection)
{
    if (connection.tunnel)
        return void(pSocket->write("echo:" + pSocket->readAll()));
    connection.buffer += pSocket->readAll();
    for (;;)
    {
        if (connection.left < 0)
        {
            const int end = connection.buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            connection.head = connection.buffer.left(end + 2);
            connection.buffer.remove(0, end + 4);
            const QByteArray lower = connection.head.toLower();
            const int at = lower.indexOf("content-length:");
            connection.left = at < 0 ? 0 : lower.mid(at + 15, lower.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            connection.size = 0;
            connection.kept.clear();
        }
        const int taken = int(std::min<qint64>(connection.left, connection.buffer.size()));
        connection.kept += connection.buffer.left(std::max(0, std::min(taken, 1024 - connection.kept.size())));
        connection.buffer.remove(0, taken);
        connection.size += taken;
        connection.left -= taken;
        if (connection.left > 0)
            return;
        Answer(pSocket, connection);
        connection.left = -1;
    }
}

void Serve(QTcpSocket* pSocket, int number)
{
    auto pConnection = std::make_shared<CConnection>();
    pConnection->number = number;
    ++g_nOpen;
    QObject::connect(pSocket, &QTcpSocket::disconnected, pSocket, [] { --g_nOpen; });
    QObject::connect(pSocket, &QTcpSocket::readyRead, pSocket, [=] { Read(pSocket, *pConnection); });
    QObject::connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server,
                     [&]
                     {
                         while (QTcpSocket* pSocket = server.nextPendingConnection())
                             Serve(pSocket, ++connections);
                     });
    std::printf("%d\n", server.serverPort());
    std::fflush(stdout);
    return app.exec();
}
