// Starts the real `mongoose` binary in a temporary folder on a free loopback port and talks to it
// over raw sockets, so every byte of a request (malformed targets, odd Host headers) is ours.

#include "server/ServerProtocol.h"
#include "tests/support/ServerTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

using namespace CorvanTest;
using Server = CServerProcess;

class TestServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Command line and process contract
    void commandLineErrors_data();
    void commandLineErrors();
    void help();
    void readyLine();
    void portInUse_data();
    void portInUse();
    void folderThatCannotBeServed();
    void listensOnLoopbackOnly();
    void stopSignals_data();
    void stopSignals();

    // Safety
    void hostHeader_data();
    void hostHeader();
    void methods_data();
    void methods();
    void framing_data();
    void framing();
    void noCrossOriginHeaders();
    void traversal_data();
    void traversal();
    void dangerousFilesComeBackAsBytes_data();
    void dangerousFilesComeBackAsBytes();
    void dotNamesAreHidden_data();
    void dotNamesAreHidden();
    void specialFilesAreNotOpened();

    // Static-file semantics
    void mimeTypes_data();
    void mimeTypes();
    void validators();
    void conditionalRequests_data();
    void conditionalRequests();
    void etagChangesOnEverySave();
    void ranges_data();
    void ranges();
    void largeFiles_data();
    void largeFiles();
    void stalledReaderGetsAnExactPrefix_data();
    void stalledReaderGetsAnExactPrefix();
    void slowAndIdleClientsLeaveRoom_data();
    void slowAndIdleClientsLeaveRoom();
    void raisesOpenFileLimit();
    void outOfDescriptors();
    void head();
    void keepAlive();
    void folders_data();
    void folders();
    void listing();
    void specialCharactersInNames_data();
    void specialCharactersInNames();
    void gzipSiblingNeverReplacesTheFile();

private:
    QTemporaryDir m_root; // holds site/ and a secret beside it
    QString m_strSite;    // the served folder
    Server m_server;
    QByteArray m_range1024; // content of site/r.bin
};

void TestServer::initTestCase()
{
    QVERIFY2(QFileInfo(ServerBinary).isExecutable(), qPrintable(ServerBinary));
    QVERIFY(m_root.isValid());
    m_strSite = m_root.filePath("site");
    WriteFile(m_root.filePath("secret.txt"), "TOP-SECRET outside the folder");
    WriteFile(m_strSite + "/index.html", "<h1>home</h1>");
    WriteFile(m_strSite + "/.env", "TOP-SECRET env");
    WriteFile(m_strSite + "/.git/config", "TOP-SECRET git");
    WriteFile(m_strSite + "/.ssh/id_rsa", "TOP-SECRET key");
    WriteFile(m_strSite + "/sub/.hidden", "TOP-SECRET hidden");
    WriteFile(m_strSite + "/sub/page.html", "<p>sub page</p>");
    WriteFile(m_strSite + "/indexed/index.html", "<p>indexed</p>");
    WriteFile(m_strSite + "/legacy/index.htm", "<p>legacy</p>");
    for (int i = 0; i < 1024; ++i)
        m_range1024 += char('A' + i % 26);
    WriteFile(m_strSite + "/r.bin", m_range1024);
    WriteFile(m_strSite + "/app/asset.js", "asset");
    WriteFile(m_strSite + "/_redirects", "/old /sub/page.html?from=old 302\n/app/* /index.html 200\n"
                                         "/gone /sub/page.html 404\n/peek/* /_redirects 200\n");
    WriteFile(m_strSite + "/_headers",
              "/sub/*\n  X-Site: sub\n  Content-Length: 1\n  Set-Cookie: a=1\n  Set-Cookie: b=2\n");
    QVERIFY(m_server.Start(m_strSite));
    QVERIFY(m_server.Errors().contains("_headers line 3: Content-Length is set by the server alone"));
}

void TestServer::commandLineErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no port") << QStringList();
    QTest::newRow("not a number") << QStringList{"http"};
    QTest::newRow("zero") << QStringList{"0"};
    QTest::newRow("too large") << QStringList{"65536"};
    QTest::newRow("negative") << QStringList{"-80"};
    QTest::newRow("sign") << QStringList{"+8721"};
    QTest::newRow("trailing text") << QStringList{"8721x"};
    QTest::newRow("empty") << QStringList{""};
    QTest::newRow("huge") << QStringList{"99999999999999999999"};
    QTest::newRow("extra word") << QStringList{"8721", "extra"};
    QTest::newRow("proxy target on another machine") << QStringList{"--proxy-allow", "example.com:80", "8721"};
    QTest::newRow("proxy target without a port") << QStringList{"--proxy-allow", "localhost", "8721"};
}

void TestServer::commandLineErrors()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.setWorkingDirectory(m_strSite);
    process.start(ServerBinary, arguments);
    QVERIFY(process.waitForFinished(TimeoutMs));
    QCOMPARE(process.exitCode(), int(Corvan::ServerProtocol::ExitUsage));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(error.startsWith("mongoose: ") && error.endsWith('\n') && error.count('\n') == 1, error.constData());
}

void TestServer::help()
{
    QProcess process;
    process.start(ServerBinary, {"--help"});
    QVERIFY(process.waitForFinished(TimeoutMs));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().startsWith("usage: mongoose PORT"));
}

void TestServer::readyLine()
{
    const QString folder = QFileInfo(m_strSite).canonicalFilePath();
    QCOMPARE(QString::fromUtf8(m_server.readyLine),
             QString("Serving %1 at http://localhost:%2/\n").arg(folder).arg(m_server.port));
}

void TestServer::portInUse_data()
{
    QTest::addColumn<bool>("heldByAnotherServer");
    QTest::newRow("a second instance") << true;
    QTest::newRow("another program") << false;
}

void TestServer::portInUse()
{
    QFETCH(bool, heldByAnotherServer);
    QTcpServer other;
    quint16 port = m_server.port;
    if (!heldByAnotherServer)
    {
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        port = other.serverPort();
    }
    QProcess process;
    process.setWorkingDirectory(m_strSite);
    process.start(ServerBinary, {QString::number(port)});
    QVERIFY(process.waitForFinished(TimeoutMs));
    QCOMPARE(process.exitCode(), int(Corvan::ServerProtocol::ExitPortInUse));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QCOMPARE(process.readAllStandardError(),
             QByteArray("mongoose: port " + QByteArray::number(port) + " is already in use\n"));
    QCOMPARE(m_server.Get("/index.html", "").status, 200); // the first one is untouched
}

void TestServer::folderThatCannotBeServed()
{
    // The working folder vanishes before the server starts (root may read any folder, so a removed
    // folder is the case every user can reproduce).
    QTemporaryDir scratch;
    const QString gone = scratch.filePath("gone");
    QVERIFY(QDir().mkpath(gone));
    QProcess process;
    process.start("/bin/sh", {"-c", "cd \"$1\" && rmdir \"$1\" && exec \"$2\" \"$3\"", "sh", gone, ServerBinary,
                              QString::number(FreePort())});
    QVERIFY(process.waitForFinished(TimeoutMs));
    QCOMPARE(process.exitCode(), int(Corvan::ServerProtocol::ExitBadFolder));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(error.startsWith("mongoose: ") && error.count('\n') == 1, error.constData());

    if (geteuid() != 0)
    {
        const QString locked = scratch.filePath("locked");
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0) == 0);
        QProcess lockedProcess;
        lockedProcess.setWorkingDirectory(locked);
        lockedProcess.start(ServerBinary, {QString::number(FreePort())});
        const bool finished = lockedProcess.waitForFinished(TimeoutMs);
        ::chmod(QFile::encodeName(locked).constData(), 0700);
        QVERIFY(finished);
        QCOMPARE(lockedProcess.exitCode(), int(Corvan::ServerProtocol::ExitBadFolder));
    }
}

void TestServer::listensOnLoopbackOnly()
{
    // Exactly one listening socket on the port, bound to 127.0.0.1 (state 0A is LISTEN).
    const QByteArray wanted = "0100007F:" + QByteArray::number(m_server.port, 16).toUpper().rightJustified(4, '0');
    const QByteArray portSuffix = ":" + QByteArray::number(m_server.port, 16).toUpper().rightJustified(4, '0');
    int listening = 0;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"})
    {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n'))
        {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1].endsWith(portSuffix) && fields[3] == "0A")
            {
                QCOMPARE(fields[1], wanted);
                ++listening;
            }
        }
    }
    QCOMPARE(listening, 1);

    // And nothing answers on this machine's other addresses.
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
    {
        if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        QTcpSocket socket;
        socket.connectToHost(address, m_server.port);
        QVERIFY2(!socket.waitForConnected(1000), qPrintable(address.toString()));
    }
}

void TestServer::stopSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("halfRequest"); // a connection in the middle of a request
    QTest::addColumn<bool>("livePage");    // an open live-reload socket, told the server goes away
    QTest::newRow("SIGTERM, idle") << int(SIGTERM) << false << false;
    QTest::newRow("SIGINT, idle") << int(SIGINT) << false << false;
    QTest::newRow("SIGTERM, half a request") << int(SIGTERM) << true << false;
    QTest::newRow("SIGTERM, live page") << int(SIGTERM) << false << true;
    // As the tool starts it: its input's end stops it (0: no signal).
    QTest::newRow("end of input, live page") << 0 << false << true;
}

void TestServer::stopSignals()
{
    QFETCH(int, signal);
    QFETCH(bool, halfRequest);
    QFETCH(bool, livePage);
    Server server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!signal)
        environment.insert("CORVAN_STOP_WITH_INPUT", "1");
    QVERIFY(server.Start(m_strSite, {}, environment));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port);
    QVERIFY(client.waitForConnected(TimeoutMs));
    if (halfRequest)
        client.write("GET / HTTP/1.1\r\nHost: loc");
    else if (livePage)
        client.write(Request("/__corvan/live", "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: "
                                               "13\r\nSec-WebSocket-Key: Y29ydmFuLWxpdmUtdGVzdA==\r\nOrigin: " +
                                                   server.OwnOrigin() + "\r\n"));
    else
        client.write(Request("/index.html", "Connection: close\r\n"));
    client.waitForBytesWritten(TimeoutMs);
    if (!halfRequest)
        QCOMPARE(ReadResponse(client, livePage).status, livePage ? 101 : 200);
    QTRY_VERIFY_WITH_TIMEOUT(halfRequest || livePage || client.state() == QAbstractSocket::UnconnectedState, TimeoutMs);

    QElapsedTimer timer;
    timer.start();
    if (signal)
        QCOMPARE(::kill(pid_t(server.process.processId()), signal), 0);
    else
        server.process.closeWriteChannel();
    QVERIFY(server.process.waitForFinished(TimeoutMs));
    // The promise is a second; how much less is the benchmarks' to say (a sanitizer's exit alone
    // takes hundreds of milliseconds).
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(server.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process.exitCode(), 0);
    QByteArray closeFrame;
    // After the site's notices, a close frame with 1001, "going away".
    QTRY_VERIFY_WITH_TIMEOUT(!livePage || (closeFrame += client.readAll()).endsWith("\x88\x02\x03\xe9"), TimeoutMs);
}

void TestServer::hostHeader_data()
{
    QTest::addColumn<QByteArray>("hostLines");
    QTest::addColumn<int>("status");
    QTest::newRow("localhost") << QByteArray("Host: localhost\r\n") << 200;
    QTest::newRow("localhost with port") << QByteArray("Host: localhost:8721\r\n") << 200;
    QTest::newRow("upper case") << QByteArray("Host: LocalHost:8721\r\n") << 200;
    QTest::newRow("trailing dot") << QByteArray("Host: localhost.:8721\r\n") << 200;
    QTest::newRow("127.0.0.1") << QByteArray("Host: 127.0.0.1\r\n") << 200;
    QTest::newRow("127.0.0.1 with port") << QByteArray("Host: 127.0.0.1:8721\r\n") << 200;
    QTest::newRow("[::1]") << QByteArray("Host: [::1]\r\n") << 200;
    QTest::newRow("[::1] with port") << QByteArray("Host: [::1]:8721\r\n") << 200;
    QTest::newRow("rebinding domain") << QByteArray("Host: attacker.example\r\n") << 403;
    QTest::newRow("rebinding domain with port") << QByteArray("Host: attacker.example:8721\r\n") << 403;
    QTest::newRow("localhost as a prefix") << QByteArray("Host: localhost.attacker.example\r\n") << 403;
    QTest::newRow("subdomain of localhost") << QByteArray("Host: www.localhost\r\n") << 403;
    QTest::newRow("loopback prefix") << QByteArray("Host: 127.0.0.1.nip.io\r\n") << 403;
    QTest::newRow("other loopback address") << QByteArray("Host: 127.0.0.2\r\n") << 403;
    QTest::newRow("unbracketed ::1") << QByteArray("Host: ::1\r\n") << 403;
    QTest::newRow("bad port") << QByteArray("Host: localhost:http\r\n") << 403;
    QTest::newRow("empty port") << QByteArray("Host: localhost:\r\n") << 403;
    QTest::newRow("empty") << QByteArray("Host: \r\n") << 403;
    QTest::newRow("user info") << QByteArray("Host: localhost@attacker.example\r\n") << 403;
    QTest::newRow("missing") << QByteArray() << 400;
    QTest::newRow("twice") << QByteArray("Host: localhost\r\nHost: attacker.example\r\n") << 400;
}

void TestServer::hostHeader()
{
    QFETCH(QByteArray, hostLines);
    QFETCH(int, status);
    const Response response =
        m_server.Exchange("GET /index.html HTTP/1.1\r\n" + hostLines + "Connection: close\r\n\r\n");
    QCOMPARE(response.status, status);
    if (status == 200)
        QCOMPARE(response.body, QByteArray("<h1>home</h1>"));
}

void TestServer::methods_data()
{
    QTest::addColumn<QByteArray>("method");
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "PATCH", "TRACE", "PROPFIND", "MKCOL", "BREW"})
        QTest::newRow(method) << QByteArray(method);
}

void TestServer::methods()
{
    QFETCH(QByteArray, method);
    const Response response = m_server.Exchange(Request("/index.html", "Content-Length: 0\r\n", method));
    QCOMPARE(response.status, 405);
    QCOMPARE(response.header("Allow"), QByteArray("GET, HEAD"));
    QVERIFY(QFile::exists(m_strSite + "/index.html"));
}

void TestServer::framing_data()
{
    // Each request is followed on its connection by a plain GET, which shows whether the server
    // kept reading the connection; `hidden` rides in a body and must never be answered.
    const QByteArray hidden = "GET /sub/page.html HTTP/1.1\r\nHost: localhost\r\n\r\n";
    const auto get = [](const QByteArray& headers, const QByteArray& body = QByteArray())
    { return "GET /index.html HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n" + body; };
    QByteArray headers63;
    for (int i = 0; i < 63; ++i)
        headers63 += "X-Header-" + QByteArray::number(i) + ": " + QByteArray::number(i) + "\r\n";
    const QByteArray hiddenLength = QByteArray::number(hidden.size());

    QTest::addColumn<bool>("afterHead"); // a HEAD answered on the same connection first
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<bool>("keepsReading"); // the next request on the connection is answered
    QTest::newRow("64 header lines") << false << get(headers63) << 200 << QByteArray("OK") << true;
    QTest::newRow("65 header lines") << false << get(headers63 + "X-One-Too-Many: 1\r\n") << 431
                                     << QByteArray("Request Header Fields Too Large") << false;
    QTest::newRow("folded line") << false
                                 << get("X-Note: a\r\n folded\r\nContent-Length: " + hiddenLength + "\r\n", hidden)
                                 << 400 << QByteArray("Bad Request") << false;
    QTest::newRow("length and chunked") << false
                                        << get("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n",
                                               "0\r\n\r\n" + hidden)
                                        << 400 << QByteArray("Bad Request") << false;
    QTest::newRow("two lengths") << false
                                 << get("Content-Length: 0\r\nContent-Length: " + hiddenLength + "\r\n", hidden) << 400
                                 << QByteArray("Bad Request") << false;
    QTest::newRow("length 5abc") << false << get("Content-Length: 5abc\r\n", "abcde") << 400
                                 << QByteArray("Bad Request") << false;
    QTest::newRow("length +5") << false << get("Content-Length: +5\r\n", "abcde") << 400 << QByteArray("Bad Request")
                               << false;
    QTest::newRow("length -5") << false << get("Content-Length: -5\r\n") << 400 << QByteArray("Bad Request") << false;
    QTest::newRow("length x") << false << get("Content-Length: x\r\n") << 400 << QByteArray("Bad Request") << false;
    QTest::newRow("other coding") << false << get("Transfer-Encoding: gzip\r\n") << 400 << QByteArray("Bad Request")
                                  << false;
    // A body is never read: the answer comes, then the connection ends.
    QTest::newRow("GET with a body") << false << get("Content-Length: " + hiddenLength + "\r\n", hidden) << 200
                                     << QByteArray("OK") << false;
    QTest::newRow("GET with a chunked body")
        << false << get("Transfer-Encoding: chunked\r\n", QByteArray::number(hidden.size(), 16) + "\r\n" + hidden)
        << 200 << QByteArray("OK") << false;
    QTest::newRow("body trickling") << false << get("Content-Length: 1000000\r\n", "a") << 200 << QByteArray("OK")
                                    << false;
    QTest::newRow("version 2.0") << false << QByteArray("GET / HTTP/2.0\r\nHost: localhost\r\n\r\n") << 505
                                 << QByteArray("HTTP Version Not Supported") << false;
    QTest::newRow("malformed after HEAD") << true << QByteArray("HEAD / HTTP/1.1 extra\r\nHost: localhost\r\n\r\n")
                                          << 400 << QByteArray("Bad Request") << false;
    QTest::newRow("GET after HEAD") << true << get("") << 200 << QByteArray("OK") << true;
    QTest::newRow("bare LF") << false << QByteArray("GET / HTTP/1.1\nHost: localhost\n\n") << 400
                             << QByteArray("Bad Request") << false;
    QTest::newRow("mixed line ends") << false << get("X-A: 1\nHost: attacker.example\r\n") << 400
                                     << QByteArray("Bad Request") << false;
    QTest::newRow("tab in a value") << false << get("X-Note: a\tb\r\n") << 200 << QByteArray("OK") << true;
    QTest::newRow("head over 16 KiB") << false << get("X-Big: " + QByteArray(16384, 'a') + "\r\n") << 431
                                      << QByteArray("Request Header Fields Too Large") << false;
    QTest::newRow("OPTIONS *") << false << QByteArray("OPTIONS * HTTP/1.1\r\nHost: localhost\r\n\r\n") << 200
                               << QByteArray("OK") << true;
    QTest::newRow("empty lines before") << false << "\r\n\r\n" + get("") << 200 << QByteArray("OK") << true;
    QTest::newRow("only empty lines") << false << QByteArray(16386, '\n').replace("\n", "\r\n") << 431
                                      << QByteArray("Request Header Fields Too Large") << false;
}

void TestServer::framing()
{
    QFETCH(bool, afterHead);
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(bool, keepsReading);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    if (afterHead)
    {
        socket.write(Request("/index.html", "", "HEAD"));
        QCOMPARE(ReadResponse(socket, true).status, 200);
    }
    socket.write(request + Request("/index.html"));
    const Response response = ReadResponse(socket);
    QCOMPARE(response.status, status);
    QCOMPARE(response.reason, reason);
    // The whole announced body came: a client reading it does not hang.
    QVERIFY(response.header("Content-Length").toInt() > 0);
    QCOMPARE(QByteArray::number(response.body.size()), response.header("Content-Length"));
    QCOMPARE(response.header("Connection") == "close", !keepsReading);
    const Response next = ReadResponse(socket);
    QCOMPARE(next.status, keepsReading ? 200 : 0);
    if (!keepsReading)
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, TimeoutMs);
}

void TestServer::noCrossOriginHeaders()
{
    const QByteArray origin = "Origin: http://attacker.example\r\n";
    for (const QByteArray& request :
         {Request("/index.html", origin), Request("/sub/", origin), Request("/missing", origin),
          Request("/index.html", origin + "Access-Control-Request-Method: GET\r\n", "OPTIONS")})
    {
        const Response response = m_server.Exchange(request);
        QVERIFY(response.status != 0);
        for (const QByteArray& name : response.headers.keys())
            QVERIFY2(!name.startsWith("access-control-"), name.constData());
    }
}

void TestServer::traversal_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status"); // 0: refused without an answer
    QTest::newRow("dot dot") << QByteArray("/../secret.txt") << 400;
    QTest::newRow("deep dot dot") << QByteArray("/sub/../../secret.txt") << 400;
    QTest::newRow("encoded dots") << QByteArray("/%2e%2e/secret.txt") << 400;
    QTest::newRow("encoded upper") << QByteArray("/%2E%2E/secret.txt") << 400;
    QTest::newRow("encoded slash") << QByteArray("/..%2fsecret.txt") << 400;
    QTest::newRow("encoded slash deep") << QByteArray("/sub/..%2F..%2Fsecret.txt") << 400;
    QTest::newRow("encoded backslash") << QByteArray("/..%5csecret.txt") << 400;
    QTest::newRow("backslash") << QByteArray("/..\\secret.txt") << 400;
    QTest::newRow("double encoding") << QByteArray("/%252e%252e/secret.txt") << 404;
    QTest::newRow("overlong dot") << QByteArray("/%c0%ae%c0%ae/secret.txt") << 404;
    QTest::newRow("overlong slash") << QByteArray("/..%c0%afsecret.txt") << 404;
    QTest::newRow("three byte overlong") << QByteArray("/%e0%80%ae%e0%80%ae/secret.txt") << 404;
    QTest::newRow("NUL") << QByteArray("/index.html%00.txt") << 400;
    QTest::newRow("bad escape") << QByteArray("/%zz") << 400;
    QTest::newRow("cut escape") << QByteArray("/index.html%2") << 400;
    QTest::newRow("dot segment") << QByteArray("/./index.html") << 400;
    QTest::newRow("network path") << QByteArray("//secret.txt") << 400;
    QTest::newRow("open redirect") << QByteArray("//attacker.example/../sub") << 400;
    QTest::newRow("backslash network path") << QByteArray("/\\attacker.example/../sub") << 400;
    QTest::newRow("encoded network path") << QByteArray("/%2f%2fattacker.example/../sub") << 400;
    QTest::newRow("absolute form") << QByteArray("http://localhost/../secret.txt") << 400;
    QTest::newRow("absolute form, other host") << QByteArray("http://attacker.example/index.html") << 403;
    QTest::newRow("asterisk") << QByteArray("*") << 400;
    QTest::newRow("no slash") << QByteArray("secret.txt") << 400;
    QTest::newRow("system file") << QByteArray("/etc/passwd") << 404;
}

void TestServer::traversal()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    const Response response = m_server.Get(target, "Connection: close\r\n");
    QCOMPARE(response.status, status);
    QVERIFY(!response.body.contains("TOP-SECRET"));
    QVERIFY(response.header("Location").isEmpty());
}

void TestServer::dangerousFilesComeBackAsBytes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("cgi") << "run.cgi" << QByteArray("#!/bin/sh\necho Content-Type: text/plain\necho\nid\n");
    QTest::newRow("perl") << "run.pl" << QByteArray("#!/usr/bin/perl\nprint \"Content-Type: text/plain\\n\\n\";\n");
    QTest::newRow("php") << "run.php" << QByteArray("<?php echo 'ran'; ?>");
    QTest::newRow("ssi exec") << "exec.shtml" << QByteArray("<!--#exec cmd=\"id\" -->");
    QTest::newRow("ssi include") << "include.shtml" << QByteArray("<!--#include file=\"../secret.txt\" -->");
    QTest::newRow("lua page") << "page.lp" << QByteArray("<? mg.write('ran') ?>");
    QTest::newRow("lua script") << "run.lua" << QByteArray("mg.write('ran')");
    QTest::newRow("server js") << "run.ssjs" << QByteArray("conn.write('ran')");
}

void TestServer::dangerousFilesComeBackAsBytes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString path = m_strSite + "/scripts/" + name;
    WriteFile(path, content);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    const Response response = m_server.Get("/scripts/" + name.toUtf8(), "");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, content);
    QCOMPARE(response.header("Content-Type"), QByteArray("application/octet-stream"));
}

void TestServer::dotNamesAreHidden_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::newRow(".env") << QByteArray("/.env");
    QTest::newRow(".git/config") << QByteArray("/.git/config");
    QTest::newRow(".git/") << QByteArray("/.git/");
    QTest::newRow(".git") << QByteArray("/.git");
    QTest::newRow(".ssh/id_rsa") << QByteArray("/.ssh/id_rsa");
    QTest::newRow("encoded dot") << QByteArray("/%2essh/id_rsa");
    QTest::newRow("in a sub folder") << QByteArray("/sub/.hidden");
    QTest::newRow("missing dot file") << QByteArray("/.nothing");
}

void TestServer::dotNamesAreHidden()
{
    QFETCH(QByteArray, target);
    const Response response = m_server.Get(target, "");
    QCOMPARE(response.status, 404);
    QVERIFY(!response.body.contains("TOP-SECRET"));
    QVERIFY(response.header("Location").isEmpty());
}

void TestServer::specialFilesAreNotOpened()
{
    // A FIFO would block a reader until someone writes; it must be refused at once.
    const QByteArray fifo = QFile::encodeName(m_strSite + "/pipe");
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    QCOMPARE(m_server.Get("/pipe", "").status, 404);
    QCOMPARE(m_server.Get("/", "").body.contains("pipe"), false);
    ::unlink(fifo.constData());
}

void TestServer::mimeTypes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("type");
    const QList<QPair<const char*, const char*>> table = {
        {"a.html", "text/html"},
        {"a.htm", "text/html"},
        {"a.HTML", "text/html"},
        {"a.js", "text/javascript"},
        {"a.mjs", "text/javascript"},
        {"a.css", "text/css"},
        {"a.json", "application/json"},
        {"a.js.map", "application/json"},
        {"a.wasm", "application/wasm"},
        {"a.svg", "image/svg+xml"},
        {"a.png", "image/png"},
        {"a.jpg", "image/jpeg"},
        {"a.jpeg", "image/jpeg"},
        {"a.gif", "image/gif"},
        {"a.webp", "image/webp"},
        {"a.avif", "image/avif"},
        {"a.ico", "image/x-icon"},
        {"a.woff", "font/woff"},
        {"a.woff2", "font/woff2"},
        {"a.ttf", "font/ttf"},
        {"a.otf", "font/otf"},
        {"a.txt", "text/plain"},
        {"a.xml", "application/xml"},
        {"a.pdf", "application/pdf"},
        {"a.mp4", "video/mp4"},
        {"a.webm", "video/webm"},
        {"a.mp3", "audio/mpeg"},
        {"a.wav", "audio/wav"},
        {"a.unknown", "application/octet-stream"},
        {"noextension", "application/octet-stream"},
        {"a.js.gz", "application/gzip"},
    };
    for (const auto& row : table)
        QTest::newRow(row.first) << QString(row.first) << QByteArray(row.second);
}

void TestServer::mimeTypes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, type);
    WriteFile(m_strSite + "/mime/" + name, "x");
    const Response response = m_server.Get("/mime/" + name.toUtf8(), "");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.header("Content-Type"), type);
}

void TestServer::validators()
{
    const Response response = m_server.Get("/index.html", "");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.header("Cache-Control"), QByteArray("no-cache"));
    QVERIFY(response.header("ETag").startsWith('"') && response.header("ETag").endsWith('"'));
    QCOMPARE(response.header("Last-Modified"),
             QLocale::c()
                     .toString(QFileInfo(m_strSite + "/index.html").lastModified().toUTC(), "ddd, dd MMM yyyy hh:mm:ss")
                     .toLatin1() +
                 " GMT");
    QCOMPARE(response.header("Accept-Ranges"), QByteArray("bytes"));
    QCOMPARE(response.header("Content-Length"), QByteArray("13"));
}

void TestServer::conditionalRequests_data()
{
    QTest::addColumn<QByteArray>("headers"); // $ETAG and $DATE are replaced by the file's own
    QTest::addColumn<int>("status");
    QTest::newRow("matching tag") << QByteArray("If-None-Match: $ETAG\r\n") << 304;
    QTest::newRow("weak matching tag") << QByteArray("If-None-Match: W/$ETAG\r\n") << 304;
    QTest::newRow("tag in a list") << QByteArray("If-None-Match: \"other\", $ETAG\r\n") << 304;
    QTest::newRow("star") << QByteArray("If-None-Match: *\r\n") << 304;
    QTest::newRow("other tag") << QByteArray("If-None-Match: \"other\"\r\n") << 200;
    QTest::newRow("other tag wins over a newer date")
        << QByteArray("If-None-Match: \"other\"\r\nIf-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n") << 200;
    QTest::newRow("same date") << QByteArray("If-Modified-Since: $DATE\r\n") << 304;
    QTest::newRow("newer date") << QByteArray("If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n") << 304;
    QTest::newRow("older date") << QByteArray("If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT\r\n") << 200;
    QTest::newRow("malformed date") << QByteArray("If-Modified-Since: yesterday\r\n") << 200;
    // Not dates at all, though a lenient reader would take them for one after the file's.
    QTest::newRow("31 February") << QByteArray("If-Modified-Since: Sun, 31 Feb 2100 00:00:00 GMT\r\n") << 200;
    QTest::newRow("wrong weekday") << QByteArray("If-Modified-Since: Mon, 01 Jan 2100 00:00:00 GMT\r\n") << 200;
    QTest::newRow("negative hour") << QByteArray("If-Modified-Since: Fri, 01 Jan 2100 -1:00:00 GMT\r\n") << 200;
    QTest::newRow("one-digit day") << QByteArray("If-Modified-Since: Fri, 1 Jan 2100 00:00:00 GMT\r\n") << 200;
}

void TestServer::conditionalRequests()
{
    QFETCH(QByteArray, headers);
    QFETCH(int, status);
    const Response first = m_server.Get("/index.html", "");
    headers.replace("$ETAG", first.header("ETag")).replace("$DATE", first.header("Last-Modified"));
    const Response response = m_server.Get("/index.html", headers);
    QCOMPARE(response.status, status);
    QCOMPARE(response.header("ETag"), first.header("ETag"));
    QCOMPARE(response.body, status == 304 ? QByteArray() : QByteArray("<h1>home</h1>"));
}

void TestServer::etagChangesOnEverySave()
{
    // Two saves of the same size within one second: the second must not be answered 304.
    const QString path = m_strSite + "/edited.js";
    WriteFile(path, "let a = 1;");
    const Response before = m_server.Get("/edited.js", "");
    WriteFile(path, "let a = 2;");
    const Response after = m_server.Get("/edited.js", "If-None-Match: " + before.header("ETag") + "\r\n");
    QCOMPARE(after.status, 200);
    QCOMPARE(after.body, QByteArray("let a = 2;"));
    QVERIFY(after.header("ETag") != before.header("ETag"));
}

void TestServer::ranges_data()
{
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("first"); // expected slice of the 1,024-byte file
    QTest::addColumn<int>("last");
    QTest::newRow("plain") << QByteArray("bytes=0-99") << 206 << 0 << 99;
    QTest::newRow("one byte") << QByteArray("bytes=5-5") << 206 << 5 << 5;
    QTest::newRow("past the end, clamped") << QByteArray("bytes=1000-2000") << 206 << 1000 << 1023;
    QTest::newRow("open") << QByteArray("bytes=1000-") << 206 << 1000 << 1023;
    QTest::newRow("last byte") << QByteArray("bytes=1023-") << 206 << 1023 << 1023;
    QTest::newRow("suffix") << QByteArray("bytes=-100") << 206 << 924 << 1023;
    QTest::newRow("suffix longer than the file") << QByteArray("bytes=-5000") << 206 << 0 << 1023;
    QTest::newRow("spaces") << QByteArray("bytes= 10-19") << 206 << 10 << 19;
    QTest::newRow("open past the end") << QByteArray("bytes=5000-") << 416 << -1 << -1;
    QTest::newRow("start at size") << QByteArray("bytes=1024-1030") << 416 << -1 << -1;
    QTest::newRow("empty suffix") << QByteArray("bytes=-0") << 416 << -1 << -1;
    QTest::newRow("several ranges") << QByteArray("bytes=0-1,5-6") << 200 << 0 << 1023;
    QTest::newRow("reversed") << QByteArray("bytes=9-5") << 200 << 0 << 1023;
    QTest::newRow("other unit") << QByteArray("items=0-1") << 200 << 0 << 1023;
    QTest::newRow("garbage") << QByteArray("bytes=abc") << 200 << 0 << 1023;
    QTest::newRow("overflow") << QByteArray("bytes=99999999999999999999999-") << 200 << 0 << 1023;
}

void TestServer::ranges()
{
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(int, first);
    QFETCH(int, last);
    // Two requests on one connection: a wrong Content-Length shows as a hang or garbage in the second.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    socket.write(Request("/r.bin", "Range: " + range + "\r\n") + Request("/index.html"));
    const Response response = ReadResponse(socket);
    QCOMPARE(response.status, status);
    if (status == 416)
    {
        QCOMPARE(response.header("Content-Range"), QByteArray("bytes */1024"));
    }
    else
    {
        QCOMPARE(response.body, m_range1024.mid(first, last - first + 1));
        QCOMPARE(response.header("Content-Length"), QByteArray::number(last - first + 1));
        if (status == 206)
            QCOMPARE(response.header("Content-Range"),
                     QByteArray("bytes " + QByteArray::number(first) + "-" + QByteArray::number(last) + "/1024"));
    }
    const Response next = ReadResponse(socket);
    QCOMPARE(next.status, 200);
    QCOMPARE(next.body, QByteArray("<h1>home</h1>"));
}

void TestServer::largeFiles_data()
{
    QTest::addColumn<QByteArray>("range"); // empty: the whole file
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("length");
    const qint64 size = 700 * 1024 + 3; // several send chunks and a ragged end
    QTest::newRow("whole") << QByteArray() << qint64(0) << size;
    QTest::newRow("across chunks") << QByteArray("bytes=100000-600000") << qint64(100000) << qint64(500001);
    QTest::newRow("tail") << QByteArray("bytes=-300000") << size - 300000 << qint64(300000);
}

void TestServer::largeFiles()
{
    QFETCH(QByteArray, range);
    QFETCH(qint64, first);
    QFETCH(qint64, length);
    QByteArray content(700 * 1024 + 3, Qt::Uninitialized);
    for (int i = 0; i < content.size(); ++i)
        content[i] = char((quint32(i) * 7919u) >> 3);
    WriteFile(m_strSite + "/large.bin", content);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    socket.write(Request("/large.bin", range.isEmpty() ? QByteArray() : "Range: " + range + "\r\n") +
                 Request("/index.html"));
    const Response response = ReadResponse(socket);
    QCOMPARE(response.status, range.isEmpty() ? 200 : 206);
    QCOMPARE(response.body.size(), int(length));
    QVERIFY(response.body == content.mid(int(first), int(length)));
    QCOMPARE(ReadResponse(socket).body, QByteArray("<h1>home</h1>"));
}

void TestServer::stalledReaderGetsAnExactPrefix_data()
{
    QTest::addColumn<QString>("sendTimeoutMs"); // empty: the server's own (a minute)
    QTest::addColumn<bool>("cutShort");         // the file loses its second half during the pause
    QTest::addColumn<bool>("headBehind");       // the next head's first bytes came with the request
    QTest::newRow("pause within the send timeout") << QString() << false << false;
    QTest::newRow("pause past the send timeout") << QString("1000") << false << false;
    QTest::newRow("file cut short during the pause") << QString() << true << false;
    // Its time starts when the download ends, not when its bytes came in.
    QTest::newRow("pause past a pipelined head's time") << QString() << false << true;
}

void TestServer::stalledReaderGetsAnExactPrefix()
{
    // A paused video or a suspended laptop: the client stops reading for a while. A pause within
    // the send timeout costs nothing; past it the download may end early, but what arrived is the
    // file's start, and a resume with Range and If-Range completes it exactly.
    QFETCH(QString, sendTimeoutMs);
    QFETCH(bool, cutShort);
    QFETCH(bool, headBehind);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!sendTimeoutMs.isEmpty())
        environment.insert("CORVAN_TEST_SEND_TIMEOUT_MS", sendTimeoutMs);
    // Shorter than the pause, so a next head's time counted from its first bytes would have run
    // out; long enough for a slow build to read the rest of the file.
    environment.insert("CORVAN_TEST_HEAD_TIMEOUT_MS", "2500");
    const QByteArray nextHead = Request("/index.html");
    Server server;
    QVERIFY(server.Start(m_strSite, {"--no-live-reload"}, environment));
    QByteArray content(24 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < content.size(); i += 4)
        *reinterpret_cast<quint32*>(content.data() + i) = quint32(i) * 2654435761u;
    WriteFile(m_strSite + "/video.bin", content);
    QTcpSocket socket;
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    socket.setReadBufferSize(4096); // Qt stops taking bytes from the kernel, so the server's sends stall
    socket.connectToHost(QHostAddress::LocalHost, server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    socket.write(Request("/video.bin") + (headBehind ? nextHead.left(10) : QByteArray()));
    QVERIFY(socket.waitForReadyRead(TimeoutMs));
    QTest::qWait(3000); // the pause itself
    QVERIFY(!cutShort || QFile::resize(m_strSite + "/video.bin", content.size() / 2));
    socket.setReadBufferSize(0);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    const auto complete = [&received, &content]
    { return received.contains("\r\n\r\n") && received.size() - received.indexOf("\r\n\r\n") - 4 >= content.size(); };
    while (socket.state() == QAbstractSocket::ConnectedState && !complete() && timer.elapsed() < 4 * TimeoutMs)
    {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    received += socket.readAll();
    const int headEnd = received.indexOf("\r\n\r\n");
    QVERIFY(headEnd > 0);
    const QByteArray etag = received.mid(received.indexOf("ETag: ") + 6).split('\r').value(0);
    const QByteArray body = received.mid(headEnd + 4);
    QVERIFY2(content.startsWith(body), qPrintable(QString("%1 bytes are not the file's start").arg(body.size())));
    QCOMPARE(body.size() < content.size(), !sendTimeoutMs.isEmpty() || cutShort);
    QVERIFY(!cutShort || (body.size() <= content.size() / 2 && socket.state() != QAbstractSocket::ConnectedState));
    if (headBehind)
    {
        socket.write(nextHead.mid(10));
        QCOMPARE(ReadResponse(socket).body, QByteArray("<h1>home</h1>"));
    }

    if (body.size() < content.size() && !cutShort)
    {
        const Response rest = server.Get("/video.bin", "Range: bytes=" + QByteArray::number(body.size()) +
                                                           "-\r\nIf-Range: " + etag + "\r\n");
        QCOMPARE(rest.status, 206);
        QVERIFY(body + rest.body == content);
    }
    QFile::remove(m_strSite + "/video.bin");
}

void TestServer::slowAndIdleClientsLeaveRoom_data()
{
    QTest::addColumn<QString>("maxConnections"); // empty: as many as the open-file limit allows
    QTest::newRow("room for all") << QString();
    // Each newcomer takes the place of the connection that has waited longest for a request.
    QTest::newRow("past the cap") << QString("8");
}

void TestServer::slowAndIdleClientsLeaveRoom()
{
    // Connections that never send a request, and some that send half a head and stop. Beside them
    // a new request is answered at once (the bound is generous); a half head ends its connection
    // when the head's time is up, while an idle connection may wait longer.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QFETCH(QString, maxConnections);
    environment.insert("CORVAN_TEST_HEAD_TIMEOUT_MS", "1000");
    if (!maxConnections.isEmpty())
        environment.insert("CORVAN_TEST_MAX_CONNECTIONS", maxConnections);
    Server server;
    QVERIFY(server.Start(m_strSite, {}, environment));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    const int count = 400;
    for (int i = 0; i < count; ++i)
    {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(clients.back()->waitForConnected(TimeoutMs));
        if (i % 2)
        {
            clients.back()->write("GET /index.html HTTP/1.1\r\nHost: loc");
            QVERIFY(clients.back()->waitForBytesWritten(TimeoutMs));
        }
    }
    QElapsedTimer timer;
    timer.start();
    const Response response = server.Get("/index.html");
    QCOMPARE(response.status, 200);
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString("%1 ms").arg(timer.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(clients[1]->state(), QAbstractSocket::UnconnectedState, TimeoutMs);
    // While there is room every idle client keeps its connection; past the cap no more than there
    // are places.
    const auto stillOpen = [&clients]
    {
        return std::count_if(clients.begin(), clients.end(),
                             [](const auto& pClient) { return pClient->state() == QAbstractSocket::ConnectedState; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(
        maxConnections.isEmpty() ? stillOpen() == count / 2 : stillOpen() <= maxConnections.toInt(), TimeoutMs);
}

void TestServer::raisesOpenFileLimit()
{
    Server server;
    server.launcher = QStringList{"/bin/sh", "-c", "ulimit -S -n 128 && exec \"$0\" \"$@\""};
    QVERIFY(server.Start(m_strSite, {"--no-live-reload"}));
    QFile limits(QString("/proc/%1/limits").arg(server.process.processId()));
    if (!limits.open(QIODevice::ReadOnly))
        QSKIP("no /proc on this system");
    QByteArray line;
    for (const QByteArray& each : limits.readAll().split('\n'))
        if (each.startsWith("Max open files"))
            line = each.simplified();
    const QList<QByteArray> fields = line.split(' '); // Max open files SOFT HARD files
    QVERIFY2(fields.size() == 6 && fields[3] != "128", line.constData());
    QCOMPARE(fields[3], fields[4]);
}

void TestServer::outOfDescriptors()
{
    // A server close to its open-file limit: 64, with 30 descriptors inherited from its parent.
    // More clients connect than it has descriptors for. It must not spin on failed accepts, and
    // files that exist are never reported missing.
    Server server;
    server.launcher = QStringList{"/bin/bash", "-c",
                                  "ulimit -n 64 && for fd in $(seq 3 32); do eval \"exec $fd</dev/null\"; done && "
                                  "exec \"$0\" \"$@\""};
    QVERIFY2(server.Start(m_strSite, {"--no-live-reload"}), server.Errors().constData());
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 40; ++i)
    {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(clients.back()->waitForConnected(TimeoutMs));
    }
    const auto cpuTicks = [&server]
    {
        QFile stat(QString("/proc/%1/stat").arg(server.process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1LL;
        const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
        return fields.value(12).toLongLong() + fields.value(13).toLongLong(); // utime + stime
    };
    const long long before = cpuTicks();
    QTest::qWait(1000); // the window the server's CPU time is measured over
    const long long used = cpuTicks() - before;
    QVERIFY2(used * 1000 / sysconf(_SC_CLK_TCK) < 200, qPrintable(QString("%1 ticks of CPU in 1 s").arg(used)));

    // New clients that ask at once: idle ones give up their places to them.
    for (int i = 40; i < 45; ++i)
    {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(clients.back()->waitForConnected(TimeoutMs));
        clients.back()->write(Request("/r.bin"));
    }
    for (int i = 40; i < 45; ++i)
    {
        const int status = ReadResponse(*clients[i]).status;
        QVERIFY2(status == 200 || status == 503, qPrintable(QString("client %1: %2").arg(i).arg(status)));
    }
}

void TestServer::head()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    socket.write(Request("/r.bin", "", "HEAD") + Request("/sub/", "", "HEAD") + Request("/index.html"));
    const Response file = ReadResponse(socket, true);
    QCOMPARE(file.status, 200);
    QCOMPARE(file.header("Content-Length"), QByteArray("1024"));
    QCOMPARE(file.header("Content-Type"), QByteArray("application/octet-stream"));
    const Response listing = ReadResponse(socket, true);
    QCOMPARE(listing.status, 200);
    QCOMPARE(listing.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
    // No body bytes were sent for either: the next answer starts right away.
    const Response next = ReadResponse(socket);
    QCOMPARE(next.status, 200);
    QCOMPARE(next.body, QByteArray("<h1>home</h1>"));
}

void TestServer::keepAlive()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port);
    QVERIFY(socket.waitForConnected(TimeoutMs));
    for (int i = 0; i < 3; ++i)
    {
        socket.write(Request("/index.html"));
        const Response response = ReadResponse(socket);
        QCOMPARE(response.status, 200);
        QVERIFY(response.header("Connection").isEmpty());
    }
    socket.write(Request("/index.html", "Connection: close\r\n"));
    QCOMPARE(ReadResponse(socket).header("Connection"), QByteArray("close"));
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, TimeoutMs);
}

void TestServer::folders_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("folder without slash") << QByteArray("/sub") << 301 << QByteArray("sub/") << QByteArray();
    QTest::newRow("keeps the query") << QByteArray("/sub?x=1") << 301 << QByteArray("sub/?x=1") << QByteArray();
    // The site's _redirects and _headers (initTestCase).
    QTest::newRow("redirect keeps the query")
        << QByteArray("/old?x=1") << 302 << QByteArray("/sub/page.html?from=old&x=1") << QByteArray();
    QTest::newRow("SPA deep link") << QByteArray("/app/settings/profile") << 200 << QByteArray()
                                   << QByteArray("<h1>home</h1>");
    QTest::newRow("SPA asset") << QByteArray("/app/asset.js") << 200 << QByteArray() << QByteArray("asset");
    QTest::newRow("404 rewrite") << QByteArray("/gone") << 404 << QByteArray() << QByteArray("<p>sub page</p>");
    QTest::newRow("rule file") << QByteArray("/_headers") << 404 << QByteArray() << QByteArray("/_headers");
    QTest::newRow("rewrite to a rule file") << QByteArray("/peek/x") << 404 << QByteArray() << QByteArray("/peek/x");
    QTest::newRow("listing") << QByteArray("/sub/") << 200 << QByteArray() << QByteArray(">page.html</a>");
    QTest::newRow("not found, as a page")
        << QByteArray("/a%3Cb%3E?q") << 404 << QByteArray()
        << QByteArray("<p>Nothing in this folder answers <code>/a&lt;b&gt;</code>.</p>");
    QTest::newRow("deep folder") << QByteArray("/sub/deep") << 301 << QByteArray("deep/") << QByteArray();
    QTest::newRow("colon cannot become a scheme")
        << QByteArray("/javascript:alert(1)") << 301 << QByteArray("javascript%3Aalert%281%29/") << QByteArray();
    QTest::newRow("index.html") << QByteArray("/indexed/") << 200 << QByteArray() << QByteArray("<p>indexed</p>");
    QTest::newRow("index.htm") << QByteArray("/legacy/") << 200 << QByteArray() << QByteArray("<p>legacy</p>");
    QTest::newRow("root") << QByteArray("/") << 200 << QByteArray() << QByteArray("<h1>home</h1>");
    QTest::newRow("file with slash") << QByteArray("/index.html/") << 404 << QByteArray() << QByteArray();
    QTest::newRow("query ignored") << QByteArray("/index.html?v=2") << 200 << QByteArray()
                                   << QByteArray("<h1>home</h1>");
    QTest::newRow("absolute form for this server")
        << QByteArray("http://localhost/index.html") << 200 << QByteArray() << QByteArray("<h1>home</h1>");
    QTest::newRow("doubled slash inside")
        << QByteArray("/sub//page.html") << 200 << QByteArray() << QByteArray("<p>sub page</p>");
}

void TestServer::folders()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, location);
    QFETCH(QByteArray, body);
    QDir().mkpath(m_strSite + "/sub/deep");
    QDir().mkpath(m_strSite + "/javascript:alert(1)");
    const Response response = m_server.Get(target, "");
    QCOMPARE(response.status, status);
    QCOMPARE(response.header("Location"), location);
    if (!body.isEmpty())
        QVERIFY2(response.body.contains(body), response.body.constData());
    QVERIFY(!response.body.contains("X-Site") && !response.body.contains("/old"));
    // The site's _headers: on files, listings and redirects below /sub alone.
    QCOMPARE(response.header("X-Site"), QByteArray(target.startsWith("/sub") ? "sub" : ""));
    QCOMPARE(response.headers.values("set-cookie").size(), target.startsWith("/sub") ? 2 : 0);
}

void TestServer::listing()
{
    const QString folder = m_strSite + "/listed";
    WriteFile(folder + "/<b>&\"x'.txt", "x");
    WriteFile(folder + "/a b#c%d+e.txt", "x");
    WriteFile(folder + "/.secret", "x");
    QVERIFY(QDir().mkpath(folder + "/child"));
    QVERIFY(QDir().mkpath(folder + "/.hiddenfolder"));
    const Response response = m_server.Get("/listed/", "");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
    const QByteArray& page = response.body;
    QVERIFY(page.contains("<a href=\"%3Cb%3E%26%22x%27.txt\">&lt;b&gt;&amp;&quot;x&#39;.txt</a>"));
    QVERIFY(page.contains("<a href=\"a%20b%23c%25d%2Be.txt\">a b#c%d+e.txt</a>"));
    QVERIFY(page.contains("<a href=\"child/\">child/</a>"));
    QVERIFY(page.contains("<a href=\"../\">"));
    QVERIFY(!page.contains("secret"));
    QVERIFY(!page.contains("hiddenfolder"));
    QVERIFY(!page.contains("<b>"));

    // Every link a listing shows answers: names that are not UTF-8 or hold a control character
    // too; a backslash, which no target may hold, is not listed.
    for (const char* pName : {"caf\xe9.txt", "back\\slash.txt", "tab\t.txt"})
    {
        std::FILE* pFile = std::fopen(QFile::encodeName(folder) + "/" + pName, "w");
        QVERIFY2(pFile, pName);
        std::fclose(pFile);
    }
    WriteFile(folder + QString::fromUtf8("/caf\xc3\xa9.txt"), "x");
    const QByteArray withOddNames = m_server.Get("/listed/", "").body;
    QVERIFY(withOddNames.contains("caf\xc3\xa9.txt</a>"));
    const QRegularExpression link("href=\"([^\"]*)\"");
    int links = 0;
    for (auto match = link.globalMatch(QString::fromUtf8(withOddNames)); match.hasNext(); ++links)
    {
        const QUrl url =
            QUrl("http://localhost/listed/").resolved(QUrl::fromEncoded(match.next().captured(1).toUtf8()));
        const QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
        QVERIFY2(m_server.Get(target, "").status == 200, target.constData());
    }
    QCOMPARE(links, 7); // ../, child/ and five files

    // The root listing shows no dot names either, and no link above the root.
    QVERIFY(QFile::rename(m_strSite + "/index.html", m_strSite + "/home.html"));
    const Response root = m_server.Get("/", "");
    QVERIFY(QFile::rename(m_strSite + "/home.html", m_strSite + "/index.html"));
    QCOMPARE(root.status, 200);
    QVERIFY(root.body.contains("home.html"));
    QVERIFY(!root.body.contains(".env") && !root.body.contains(".git") && !root.body.contains(".ssh"));
    QVERIFY(!root.body.contains("_redirects") && !root.body.contains("_headers"));
    QVERIFY(!root.body.contains("href=\"../\""));
}

void TestServer::specialCharactersInNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("space") << "my page.html" << QByteArray("/my%20page.html");
    QTest::newRow("number sign") << "a#b.html" << QByteArray("/a%23b.html");
    QTest::newRow("percent") << "100%.html" << QByteArray("/100%25.html");
    QTest::newRow("plus encoded") << "a+b.html" << QByteArray("/a%2Bb.html");
    QTest::newRow("plus as is") << "a+b.html" << QByteArray("/a+b.html");
    QTest::newRow("question mark") << "why?.html" << QByteArray("/why%3F.html");
    QTest::newRow("non-ASCII") << QString::fromUtf8("h\u00e9llo.html") << QByteArray("/h%C3%A9llo.html");
    QTest::newRow("non-ASCII lower hex") << QString::fromUtf8("h\u00e9llo.html") << QByteArray("/h%c3%a9llo.html");
    QTest::newRow("CJK") << QString::fromUtf8("\u65e5\u672c.html") << QByteArray("/%E6%97%A5%E6%9C%AC.html");
    QTest::newRow("in a folder") << "my folder/my page.html" << QByteArray("/my%20folder/my%20page.html");
}

void TestServer::specialCharactersInNames()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, target);
    WriteFile(m_strSite + "/names/" + name, name.toUtf8());
    const Response response = m_server.Get("/names" + target, "");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, name.toUtf8());
}

void TestServer::gzipSiblingNeverReplacesTheFile()
{
    WriteFile(m_strSite + "/app.js", "console.log('edited');");
    WriteFile(m_strSite + "/app.js.gz", "stale compressed bytes");
    const Response response = m_server.Get("/app.js", "Accept-Encoding: gzip, deflate, br\r\n");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, QByteArray("console.log('edited');"));
    QVERIFY(response.header("Content-Encoding").isEmpty());
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
