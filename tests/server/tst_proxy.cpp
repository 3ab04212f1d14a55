// The site's proxy rules, end to end on the real `mongoose` binary: allowed rules pass requests to a
// small server started here (proxy_backend.cpp) and its answers back, streamed; what other sites,
// files and loops may not do; and one page in headless Chromium.

#include "tests/support/HeadlessBrowser.h"
#include "tests/support/ServerTestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace CorvanTest;

class TestProxy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void requests_data();
    void requests();
    void connectionsAreKeptAndStreamsFlow();
    void exchangesKeepTheirPlaces();
    void nextHeadAfterAPause();
    void bigBodiesStreamInBoundedMemory();
    void browserReachesOnlyAllowedTargets();

private:
    // The text with OWN (this server's origin), PORT, BACKEND and DOWN (a port nothing listens on).
    QByteArray Fill(QByteArray text) const
    {
        return text.replace("DOWN", QByteArray::number(m_downPort))
            .replace("OWN", m_server.OwnOrigin())
            .replace("BACKEND", QByteArray::number(m_backendPort))
            .replace("PORT", QByteArray::number(m_server.port));
    }

    // A server of its own, the backend allowed by hand, with one variable set in its environment.
    bool StartWith(CServerProcess& server, const char* pLimit, const char* pValue) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(pLimit, pValue);
        return server.Start(m_site.path(), {"--proxy-allow", QString("127.0.0.1:%1").arg(m_backendPort)}, environment);
    }

    QProcess m_backend;
    quint16 m_backendPort = 0;
    quint16 m_downPort = 0;
    QTemporaryDir m_site;
    CServerProcess m_server;
};

void TestProxy::initTestCase()
{
    m_backend.start(QStringLiteral(CORVAN_PROXY_BACKEND), QStringList());
    QVERIFY(m_backend.waitForStarted(TimeoutMs) && m_backend.waitForReadyRead(TimeoutMs));
    m_backendPort = m_backend.readLine().trimmed().toUShort();
    m_downPort = FreePort();
    WriteFile(m_site.filePath("file.txt"), "a file");
    WriteFile(
        m_site.filePath("index.html"),
        "<!DOCTYPE html><script>Promise.all([fetch('/api/echo', {method: 'POST', body: 'from the page'})"
        ".then(r => r.text()), fetch('/blocked/x').then(r => r.status), fetch('/down/x')]).then(([echo, blocked]) => "
        "{ window.result = (echo.includes('from the page') ? 'reached ' : 'missed ') + blocked; });</script>");
    WriteFile(m_site.filePath("_redirects"), Fill("/api/* http://127.0.0.1:BACKEND/v1/:splat?k=1 200\n"
                                                  "/file.txt http://127.0.0.1:BACKEND/f 200\n"
                                                  "/down/* http://localhost:DOWN/:splat 200\n"
                                                  "/blocked/* http://localhost:BACKEND/:splat 200\n"));
    // One target allowed as the tool allows it, the other as a user does by hand.
    QVERIFY(StartWith(m_server, "CORVAN_PROXY_ALLOW", Fill("localhost:DOWN,nonsense").constData()));
    QTRY_VERIFY(m_server.Errors().contains(Fill("_redirects line 4: passing \"/blocked/*\" to http://localhost:BACKEND "
                                                "is not allowed for this folder")));
    QVERIFY(m_server.Errors().contains("proxy targets that are not HOST:PORT are left out: 'nonsense'"));
}

void TestProxy::cleanupTestCase()
{
    m_server.Stop();
    m_backend.kill();
    m_backend.waitForFinished(TimeoutMs);
}

void TestProxy::requests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArrayList>("present"); // in the answer's headers and body, lower case
    QTest::addColumn<QByteArrayList>("absent");

    QTest::newRow("a POST with a body") << QByteArray("POST") << QByteArray("/api/items?x=1")
                                        << QByteArray("Origin: OWN\r\n") << QByteArray("hello") << 200
                                        << QByteArrayList{"post /v1/items?k=1&x=1 http/1.1",
                                                          "\r\nhello\r\n",
                                                          "host: 127.0.0.1:BACKEND",
                                                          "x-forwarded-for: 127.0.0.1",
                                                          "x-forwarded-host: localhost",
                                                          "via: 1.1 corvan-PORT",
                                                          "set-cookie: a=1",
                                                          "access-control-allow-origin: http://elsewhere"}
                                        << QByteArrayList{"x-private", "live.js"};
    QTest::newRow("the client's forwarding and hop-by-hop headers")
        << QByteArray("GET") << QByteArray("/api/x")
        << QByteArray("X-Forwarded-For: 6.6.6.6\r\nForwarded: for=6.6.6.6\r\nConnection: keep-alive, X-Secret\r\n"
                      "X-Secret: 1\r\nProxy-Authorization: Basic eA==\r\nTE: trailers\r\n")
        << QByteArray() << 200 << QByteArrayList{"forwarded: for=127.0.0.1;host=\"localhost\";proto=http"}
        << QByteArrayList{"6.6.6.6", "x-secret", "proxy-authorization", "te: trailers"};
    QTest::newRow("a preflight") << QByteArray("OPTIONS") << QByteArray("/api/x")
                                 << QByteArray("Origin: OWN\r\nAccess-Control-Request-Method: PUT\r\n") << QByteArray()
                                 << 200 << QByteArrayList{"options /v1/x?k=1"} << QByteArrayList();
    QTest::newRow("HEAD") << QByteArray("HEAD") << QByteArray("/api/x") << QByteArray() << QByteArray() << 200
                          << QByteArrayList{"x-connection"} << QByteArrayList{"head /v1"};
    QTest::newRow("a GET from another site's page")
        << QByteArray("GET") << QByteArray("/api/x") << QByteArray("Origin: http://evil.test\r\n") << QByteArray()
        << 200 << QByteArrayList{"get /v1/x"} << QByteArrayList();
    QTest::newRow("a POST from another site's page")
        << QByteArray("POST") << QByteArray("/api/x") << QByteArray("Origin: http://evil.test\r\n") << QByteArray("x")
        << 403 << QByteArrayList() << QByteArrayList{"x-connection"};
    QTest::newRow("a cross-site request")
        << QByteArray("GET") << QByteArray("/api/x") << QByteArray("Sec-Fetch-Site: cross-site\r\n") << QByteArray()
        << 403 << QByteArrayList() << QByteArrayList{"x-connection"};
    QTest::newRow("a loop") << QByteArray("GET") << QByteArray("/api/x")
                            << QByteArray("Via: 1.1 a, 1.1 corvan-PORT\r\n") << QByteArray() << 508 << QByteArrayList()
                            << QByteArrayList{"x-connection"};
    QTest::newRow("a file's path takes GET")
        << QByteArray("GET") << QByteArray("/file.txt") << QByteArray() << QByteArray() << 200
        << QByteArrayList{"a file"} << QByteArrayList{"x-connection"};
    QTest::newRow("a file's path takes no POST")
        << QByteArray("POST") << QByteArray("/file.txt") << QByteArray() << QByteArray("x") << 405 << QByteArrayList()
        << QByteArrayList{"x-connection"};
    QTest::newRow("a target not allowed") << QByteArray("GET") << QByteArray("/blocked/x") << QByteArray()
                                          << QByteArray() << 404 << QByteArrayList() << QByteArrayList{"x-connection"};
    QTest::newRow("a server that is down")
        << QByteArray("PUT") << QByteArray("/down/x") << QByteArray("Origin: OWN\r\n") << QByteArray("x") << 502
        << QByteArrayList{"<code>_redirects</code> line 3 passes <code>/down/*</code>",
                          "http://localhost:DOWN</code>, which refused the connection"}
        << QByteArrayList();
}

void TestProxy::requests()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    const QByteArray length =
        body.isEmpty() ? QByteArray() : "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    const Response response =
        m_server.Exchange(Request(target, Fill(headers) + length, method) + body, method == "HEAD");
    QCOMPARE(response.status, status);
    QByteArray text;
    for (auto it = response.headers.cbegin(); it != response.headers.cend(); ++it)
        text += it.key() + ": " + it.value() + "\r\n";
    text = (text + response.body).toLower();
    for (const QByteArray& part : present)
        QVERIFY2(text.contains(Fill(part).toLower()), text.constData());
    for (const QByteArray& part : absent)
        QVERIFY2(!text.contains(Fill(part).toLower()), text.constData());
    if (status == 502)
        QTRY_VERIFY(
            m_server.Errors().contains(Fill("_redirects line 3: http://localhost:DOWN refused the connection\n")));
}

void TestProxy::connectionsAreKeptAndStreamsFlow()
{
    // Both ends' connections are kept: the server sees one connection, and the client's serves a
    // file next.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(client.waitForConnected(TimeoutMs));
    QByteArrayList connections;
    for (const char* pTarget : {"/api/one", "/api/two"})
    {
        client.write(Request(pTarget));
        const Response response = ReadResponse(client);
        QCOMPARE(response.status, 200);
        connections << response.header("X-Connection");
    }
    QCOMPARE(connections[0], connections[1]);
    // A kept connection that its server has closed since: a request goes on a new one.
    for (const QByteArray& request : {Request("/api/closes"), Request("/api/x"), Request("/api/closes"),
                                      Request("/api/x", Fill("Origin: OWN\r\nContent-Length: 1\r\n"), "POST") + "x"})
    {
        client.write(request);
        QCOMPARE(ReadResponse(client).status, 200);
    }
    client.write(Request("/file.txt"));
    QCOMPARE(ReadResponse(client).body, QByteArray("a file"));
    // A file saved where a rule passes requests on answers from then on.
    QCOMPARE(m_server.Get("/api/saved.txt").status, 200);
    WriteFile(m_site.filePath("api/saved.txt"), "saved");
    QTRY_COMPARE_WITH_TIMEOUT(m_server.Get("/api/saved.txt").body, QByteArray("saved"), TimeoutMs);

    // An event stream that stays open still delivers its first event.
    QTcpSocket events;
    events.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(events.waitForConnected(TimeoutMs));
    events.write(Request("/api/events"));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += events.readAll()).contains("data: 1\n\n"), TimeoutMs);

    // A WebSocket: the 101, then bytes both ways.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    socket.write(
        Request("/api/socket", Fill("Upgrade: websocket\r\nConnection: Upgrade\r\nOrigin: OWN\r\n"
                                    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")));
    QCOMPARE(ReadResponse(socket, true).status, 101);
    socket.write("frames");
    received.clear();
    QTRY_COMPARE_WITH_TIMEOUT(received += socket.readAll(), QByteArray("echo:frames"), TimeoutMs);
}

void TestProxy::exchangesKeepTheirPlaces()
{
    // Four places: a flowing event stream holds two (its page's and its server's) and gives neither
    // up, while clients that wait for their head give theirs to newcomers and to a proxied request.
    CServerProcess server;
    QVERIFY(StartWith(server, "CORVAN_TEST_MAX_CONNECTIONS", "4"));
    QTcpSocket events;
    events.connectToHost(QHostAddress::LocalHost, server.port);
    QVERIFY(events.waitForConnected(TimeoutMs));
    events.write(Request("/api/events"));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += events.readAll()).contains("data: 1\n\n"), TimeoutMs);
    std::vector<std::unique_ptr<QTcpSocket>> waiting(4);
    for (auto& pClient : waiting)
    {
        pClient = std::make_unique<QTcpSocket>();
        pClient->connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(pClient->waitForConnected(TimeoutMs));
        pClient->write("GET /file.txt HTTP/1.1\r\nHost: loc");
        QVERIFY(pClient->waitForBytesWritten(TimeoutMs));
    }
    QCOMPARE(server.Get("/api/x").status, 200);
    QVERIFY2(!events.waitForDisconnected(500), "the event stream lost its place");
}

void TestProxy::nextHeadAfterAPause()
{
    // The head after a proxied answer has its time from its own first byte, however long the
    // connection waited for it.
    CServerProcess server;
    QVERIFY(StartWith(server, "CORVAN_TEST_HEAD_TIMEOUT_MS", "300"));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port);
    QVERIFY(client.waitForConnected(TimeoutMs));
    client.write(Request("/api/x"));
    QCOMPARE(ReadResponse(client).status, 200);
    QTest::qWait(500); // the pause itself
    client.write("GET /file.txt HTTP/1.1\r\n");
    QVERIFY(client.waitForBytesWritten(TimeoutMs));
    QTest::qWait(100); // read by the server on its own
    client.write("Host: localhost\r\n\r\n");
    QCOMPARE(ReadResponse(client).body, QByteArray("a file"));
    // A page that leaves its event stream ends the stream's connection to the server too.
    client.write(Request("/api/events"));
    QVERIFY(client.waitForReadyRead(TimeoutMs));
    const int nOpen = server.Get("/api/open").header("X-Open").toInt();
    client.abort();
    QTRY_COMPARE_WITH_TIMEOUT(server.Get("/api/open").header("X-Open").toInt(), nOpen - 1, TimeoutMs);
}

void TestProxy::bigBodiesStreamInBoundedMemory()
{
    constexpr qint64 Size = 64 * 1024 * 1024;
    // Growth, not the whole: a sanitizer build holds far more from the start.
    const qint64 before = m_server.MemoryKiB("VmRSS");
    QTcpSocket upload;
    upload.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(upload.waitForConnected(TimeoutMs));
    upload.write(Request("/api/upload", "Content-Length: " + QByteArray::number(Size) + "\r\n", "PUT"));
    const QByteArray piece(1024 * 1024, 'u');
    for (qint64 sent = 0; sent < Size; sent += piece.size())
    {
        upload.write(piece);
        while (upload.bytesToWrite() > 0)
            QVERIFY(upload.waitForBytesWritten(TimeoutMs));
    }
    QVERIFY(ReadResponse(upload).body.endsWith("body size: " + QByteArray::number(Size)));
    const qint64 peak = m_server.MemoryKiB("VmHWM");
    QVERIFY2(before > 0 && peak - before < 16 * 1024, qPrintable(QString("peak grew by %1 KiB").arg(peak - before)));
}

void TestProxy::browserReachesOnlyAllowedTargets()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (scripts/install-deps.sh --test installs it)");
    CHeadlessBrowser browser;
    QString error;
    QVERIFY2(browser.Start(chromium, QString("http://localhost:%1/index.html").arg(m_server.port), error),
             qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate("window.result || ''"), QString("reached 404"), 20000);
    // The server that is down is named on the page.
    const QString notices = "(document.getElementById('__corvan-notices') || {}).textContent || ''";
    QTRY_VERIFY_WITH_TIMEOUT(
        browser.Evaluate(notices).contains(Fill("_redirects line 3: http://localhost:DOWN refused")), 10000);
}

QTEST_GUILESS_MAIN(TestProxy)
#include "tst_proxy.moc"
