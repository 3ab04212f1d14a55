// The hostile and unlucky side of a soak (bench/soak.sh runs wrk beside it): for SECONDS seconds,
// on one server, at once
//   - 30 pages' live-reload sockets, which must stay open and hear of every save;
//   - a save of a watched file every 100 ms;
//   - 200 slowloris clients: half a request head, one more line a second, again when cut off;
//   - a stalled reader: asks for a large file and never reads, anew every three seconds;
//   - a fresh request every 200 ms on a new connection, timed from connect to the last byte.
// Prints what the normal clients (sockets and fresh requests) saw, then one line of name=value.
// Usage: bench_soak PORT FOLDER SECONDS [LARGE_FILE_TARGET]

#include "tests/support/ServerTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace CorvanTest;

namespace
{

constexpr int LiveSockets = 30;
constexpr int SlowClients = 200;

struct CCounts
{
    int liveOpened = 0;
    int liveLost = 0; // closed by the server while the soak ran
    int liveMessages = 0;
    int saves = 0;
    int slowConnections = 0;
    int stalledConnections = 0;
};

// The page's socket path, as the live script names it: the benchmark knows no reserved names.
QByteArray FindSocketPath(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(TimeoutMs))
        return QByteArray();
    socket.write(Request("/", "Sec-Fetch-Dest: document\r\nAccept: text/html\r\n"));
    const QByteArray page = ReadResponse(socket).body;
    const QRegularExpressionMatch tag = QRegularExpression("<script src=\"([^\"]+)\"").match(QString::fromUtf8(page));
    if (!tag.hasMatch())
        return QByteArray();
    socket.write(Request(tag.captured(1).toUtf8()));
    const QString script = QString::fromUtf8(ReadResponse(socket).body);
    return QRegularExpression("location\\.host \\+ '([^']+)'").match(script).captured(1).toUtf8();
}

void OpenLiveSocket(QTcpSocket& socket, quint16 port, const QByteArray& path, CCounts& counts)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(TimeoutMs))
        return;
    socket.write(Request(path, "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                               "Sec-WebSocket-Key: Y29ydmFuLXNvYWstdGVzdA==\r\nOrigin: http://localhost:" +
                                   QByteArray::number(port) + "\r\n"));
    if (ReadResponse(socket, true).status != 101)
        return;
    ++counts.liveOpened;
    QObject::connect(&socket, &QTcpSocket::readyRead,
                     [&socket, &counts] { counts.liveMessages += socket.readAll().count("reload"); });
}

// A client that keeps `connect` going: whenever the server cuts it off, it comes back.
void KeepConnecting(QTcpSocket& socket, quint16 port, int& connections, std::function<void()> onConnected)
{
    QObject::connect(&socket, &QTcpSocket::connected, onConnected);
    QObject::connect(
        &socket, &QTcpSocket::disconnected,
        [&socket, port]
        { QTimer::singleShot(10, &socket, [&socket, port] { socket.connectToHost(QHostAddress::LocalHost, port); }); });
    QObject::connect(&socket, &QTcpSocket::connected, [&connections] { ++connections; });
    socket.connectToHost(QHostAddress::LocalHost, port);
}

// Fresh requests on their own thread, so that their timing does not wait for the event loop.
class CProbe : public QThread
{
public:
    CProbe(quint16 port, int seconds) : m_port(port), m_seconds(seconds) {}
    std::vector<double> latenciesMs;
    std::atomic<int> failures{0};

protected:
    void run() override
    {
        QElapsedTimer total;
        total.start();
        while (total.elapsed() < m_seconds * 1000)
        {
            QElapsedTimer timer;
            timer.start();
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            const bool ok = socket.waitForConnected(TimeoutMs) && socket.write(Request("/index.html")) > 0 &&
                            ReadResponse(socket).status == 200;
            latenciesMs.push_back(timer.nsecsElapsed() / 1e6);
            if (!ok)
                ++failures;
            QThread::msleep(200);
        }
    }

private:
    quint16 m_port;
    int m_seconds;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
    {
        std::fprintf(stderr, "usage: bench_soak PORT FOLDER SECONDS [LARGE_FILE_TARGET]\n");
        return 2;
    }
    const quint16 port = quint16(QByteArray(argv[1]).toUShort());
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const int seconds = QByteArray(argv[3]).toInt();
    const QByteArray largeTarget = argc > 4 ? QByteArray(argv[4]) : QByteArray("/large.bin");
    CCounts counts;

    const QByteArray socketPath = FindSocketPath(port);
    if (socketPath.isEmpty())
    {
        std::fprintf(stderr, "bench_soak: no live-reload socket path in the page's script\n");
        return 1;
    }
    std::vector<std::unique_ptr<QTcpSocket>> live;
    for (int i = 0; i < LiveSockets; ++i)
    {
        live.push_back(std::make_unique<QTcpSocket>());
        OpenLiveSocket(*live.back(), port, socketPath, counts);
        QObject::connect(live.back().get(), &QTcpSocket::disconnected, [&counts] { ++counts.liveLost; });
    }

    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < SlowClients; ++i)
    {
        slow.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket& socket = *slow.back();
        KeepConnecting(socket, port, counts.slowConnections,
                       [&socket] { socket.write("GET /index.html HTTP/1.1\r\nHost: localhost\r\n"); });
    }
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout,
                     [&slow]
                     {
                         for (auto& pSocket : slow)
                             if (pSocket->state() == QAbstractSocket::ConnectedState)
                                 pSocket->write("X-Slow: 1\r\n");
                     });
    trickle.start(1000);

    // It cannot see the server give up (the server's close waits behind the bytes it never reads),
    // so it starts over every three seconds.
    QTcpSocket stalled;
    stalled.setReadBufferSize(1);
    KeepConnecting(stalled, port, counts.stalledConnections,
                   [&stalled, largeTarget] { stalled.write(Request(largeTarget)); });
    QTimer restall;
    QObject::connect(&restall, &QTimer::timeout, [&stalled] { stalled.abort(); });
    restall.start(3000);

    QTimer saves;
    QObject::connect(&saves, &QTimer::timeout,
                     [&folder, &counts]
                     {
                         QFile file(folder + "/soak.js");
                         if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                             file.write("// save " + QByteArray::number(++counts.saves) + "\n");
                     });
    saves.start(100);

    CProbe probe(port, seconds);
    probe.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    saves.stop();
    trickle.stop();
    restall.stop();
    probe.wait();
    const int liveLost = counts.liveLost;
    for (auto& pSocket : slow)
        pSocket->disconnect(), pSocket->abort();
    stalled.disconnect();
    stalled.abort();
    for (auto& pSocket : live)
        pSocket->disconnect(), pSocket->abort();

    std::vector<double> latencies = probe.latenciesMs;
    std::sort(latencies.begin(), latencies.end());
    const double worst = latencies.empty() ? -1 : latencies.back();
    const double median = latencies.empty() ? -1 : latencies[latencies.size() / 2];
    std::printf("live sockets: %d of %d opened, %d cut off, %d reload messages for %d saves\n", counts.liveOpened,
                LiveSockets, liveLost, counts.liveMessages, counts.saves);
    std::printf("slowloris connections made: %d (%d clients); stalled reader connections: %d\n", counts.slowConnections,
                SlowClients, counts.stalledConnections);
    std::printf("fresh requests: %zu, failed %d, median %.1f ms, worst %.1f ms\n", latencies.size(),
                probe.failures.load(), median, worst);
    std::printf("soak_live_opened=%d soak_live_lost=%d soak_fresh_failed=%d soak_fresh_worst_ms=%.1f "
                "soak_fresh_median_ms=%.1f\n",
                counts.liveOpened, liveLost, probe.failures.load(), worst, median);
    return 0;
}
