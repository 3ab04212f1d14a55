// Live reload, end to end on the real `mongoose` binary: which answers carry the script, who may
// open the socket, what a save sends, and how the server degrades. Pages and sockets are spoken
// over raw sockets, so every header (Host, Origin, Upgrade) is the test's own.

#include "platform/FolderWatcher.h"
#include "server/files/HtmlInjection.h"
#include "server/livereload/ChangeTracker.h"
#include "tests/support/HeadlessBrowser.h"
#include "tests/support/ServerTestSupport.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using namespace CorvanTest;

namespace
{

const QByteArray ScriptTag = "<script src=\"/__corvan/live.js\"></script>";
const QByteArray NavigationHeaders = "Sec-Fetch-Dest: document\r\nAccept: text/html,*/*;q=0.8\r\n";
constexpr int MaxSockets = 40; // the cap on open live-reload sockets these tests give the server

// A page's live-reload socket, spoken by hand: the handshake with chosen headers, then the
// server's frames (unmasked, short text and close).
class LiveSocket
{
public:
    // The handshake's status: 101 when the server took the socket.
    int Open(quint16 port, const QByteArray& origin, const QByteArray& host = "localhost",
             const QByteArray& key = QByteArray("corvan-live-test").toBase64())
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(TimeoutMs))
            return 0;
        QByteArray request = "GET /__corvan/live HTTP/1.1\r\nHost: " + host +
                             "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " +
                             key + "\r\n";
        if (!origin.isNull())
            request += "Origin: " + origin + "\r\n";
        m_socket.write(request + "\r\n");
        m_socket.waitForBytesWritten(TimeoutMs);
        const Response response = ReadResponse(m_socket, true);
        if (response.status == 101)
        {
            const QByteArray accept =
                QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
                    .toBase64();
            if (response.header("Sec-WebSocket-Accept") != accept)
                return -1;
        }
        return response.status;
    }

    // Sends raw bytes: frames as a client (or a hostile one) writes them.
    void Send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.waitForBytesWritten(TimeoutMs);
    }

    // The next text message, or "pong:" and a pong's payload; empty when none came in
    // `timeoutMs`, "<closed>" when the server closed the socket (closeCode then holds the code of
    // its close frame, 0 for one without a code; -1 for no close frame).
    QByteArray Next(int timeoutMs = TimeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;)
        {
            if (m_buffer.size() >= 2)
            {
                const int opcode = m_buffer[0] & 0x0F;
                int length = m_buffer[1] & 0x7F;
                int offset = 2;
                if (length == 126 && m_buffer.size() >= 4)
                {
                    length = (uchar(m_buffer[2]) << 8) | uchar(m_buffer[3]);
                    offset = 4;
                }
                if (length < 126 && m_buffer.size() >= offset + length)
                {
                    const QByteArray payload = m_buffer.mid(offset, length);
                    m_buffer.remove(0, offset + length);
                    if (opcode == 0x1)
                        return payload;
                    if (opcode == 0xA)
                        return "pong:" + payload;
                    if (opcode == 0x8)
                    {
                        closeCode = payload.size() >= 2 ? (uchar(payload[0]) << 8) | uchar(payload[1]) : 0;
                        return "<closed>";
                    }
                    continue;
                }
            }
            if (m_socket.state() != QAbstractSocket::ConnectedState && m_socket.bytesAvailable() == 0)
                return "<closed>";
            const int left = timeoutMs - int(timer.elapsed());
            if (left <= 0)
                return QByteArray();
            if (m_socket.bytesAvailable() > 0 || m_socket.waitForReadyRead(std::min(left, 100)))
                m_buffer += m_socket.readAll();
        }
    }

    void Close() { m_socket.abort(); }
    bool IsConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    int closeCode = -1;

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// A frame as a client sends it: `first` is FIN, RSV and opcode; the payload is masked unless
// `masked` is false; `announced` overrides the length in the head (the payload sent stays).
QByteArray Frame(int first, const QByteArray& payload, bool masked = true, quint64 announced = 0)
{
    const quint64 length = announced ? announced : quint64(payload.size());
    QByteArray frame(1, char(first));
    const char maskBit = masked ? char(0x80) : 0;
    if (length < 126)
        frame += char(maskBit | char(length));
    else if (length < 65536)
        frame += QByteArray(1, char(maskBit | 126)) + char(length >> 8) + char(length & 0xFF);
    else
    {
        frame += char(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((length >> shift) & 0xFF);
    }
    const QByteArray mask = masked ? QByteArray("\x12\x34\x56\x78") : QByteArray();
    frame += mask;
    for (int i = 0; i < payload.size(); ++i)
        frame += masked ? char(payload[i] ^ mask[i % 4]) : payload[i];
    return frame;
}

// The shared server, plus pages asked for as a browser asks when it opens them in a tab.
class Server : public CServerProcess
{
public:
    Response GetPage(const QByteArray& target, const QByteArray& method = "GET") const
    {
        return Get(target, NavigationHeaders, method);
    }
};

// A folder to serve, with the sub folders (plain and hidden) the event rows write into.
class Site
{
public:
    Site()
    {
        for (const char* pFolder : {"sub/deep", ".git/objects", ".cache", "__corvan"})
            QDir().mkpath(Path(pFolder));
    }
    QString Path(const QString& relative) const { return m_dir.filePath("site/" + relative); }
    QString Root() const { return Path(""); }
    QString Beside(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace

class TestLiveReload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // The page text
    void injection_data();
    void injection();
    void pageNames_data();
    void pageNames();
    void ignoredNames_data();
    void ignoredNames();
    void changeTracker_data();
    void changeTracker();

    // What is served
    void pagesCarryTheScript_data();
    void pagesCarryTheScript();
    void onlyNavigationsGetTheScript_data();
    void onlyNavigationsGetTheScript();
    void bigPagesStreamInBoundedMemory();
    void otherFilesAreUntouched_data();
    void otherFilesAreUntouched();
    void reservedNames_data();
    void reservedNames();

    // Who may listen
    void socketHandshake_data();
    void socketHandshake();
    void socketLimitKeepsRequestsServed();
    void socketInput_data();
    void socketInput();
    void badHandshakesFreeTheirPlace_data();
    void badHandshakesFreeTheirPlace();

    // What a save sends
    void events_data();
    void events();
    void burstIsTold();
    void newFoldersAreWatched();
    void everyOpenPageIsTold();
    void siteRulesFollowEdits();
    void replacedFolderIsWatchedAgain_data();
    void replacedFolderIsWatchedAgain();

    // Turned off, or degraded
    void noLiveReload();
    void degrades_data();
    void degrades();
    void degradesWhileRunning();

    // In a real browser
    void browserShowsTheSavedText();
    void browserRunsTheSiteRecipes();
    void browserShowsPageNotices();
};

void TestLiveReload::initTestCase()
{
    QVERIFY2(QFileInfo(ServerBinary).isExecutable(), qPrintable(ServerBinary));
}

void TestLiveReload::injection_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("expected"); // "@" marks where the tag goes
    QTest::newRow("body end") << QByteArray("<html><body><p>x</p></body></html>")
                              << QByteArray("<html><body><p>x</p>@</body></html>");
    QTest::newRow("no body end") << QByteArray("<p>x</p>") << QByteArray("<p>x</p>@");
    QTest::newRow("empty") << QByteArray() << QByteArray("@");
    QTest::newRow("upper case") << QByteArray("<BODY>x</BODY>\n</HTML>") << QByteArray("<BODY>x@</BODY>\n</HTML>");
    QTest::newRow("mixed case, space") << QByteArray("x</Body >") << QByteArray("x@</Body >");
    QTest::newRow("comments before") << QByteArray("<!-- </body> --><p>x</p><!--</body>--></body>")
                                     << QByteArray("<!-- </body> --><p>x</p><!--</body>-->@</body>");
    QTest::newRow("comment after") << QByteArray("x</body><!-- old: </body> -->")
                                   << QByteArray("x@</body><!-- old: </body> -->");
    QTest::newRow("unclosed comment") << QByteArray("x</body><!-- </body>") << QByteArray("x@</body><!-- </body>");
    QTest::newRow("script text") << QByteArray("<script>s = '</body>';</script></body>")
                                 << QByteArray("<script>s = '</body>';</script>@</body>");
    QTest::newRow("script after the end") << QByteArray("</body><SCRIPT type=x>'</body>'</SCRIPT>")
                                          << QByteArray("@</body><SCRIPT type=x>'</body>'</SCRIPT>");
    QTest::newRow("style and textarea") << QByteArray("<style>/*</body>*/</style><textarea></body></textarea>")
                                        << QByteArray("<style>/*</body>*/</style><textarea></body></textarea>@");
    QTest::newRow("not a body tag") << QByteArray("x</bodyguard>") << QByteArray("x</bodyguard>@");
    QTest::newRow("page ends in the tag's name") << QByteArray("x</body") << QByteArray("x@</body");
    QTest::newRow("\"<!-->\" opens a comment") << QByteArray("<!-->x</body>") << QByteArray("<!-->x</body>@");
    QTest::newRow("'<' before a tag") << QByteArray("a<</body>") << QByteArray("a<@</body>");
    QTest::newRow("two bodies") << QByteArray("</body>x</body>") << QByteArray("</body>x@</body>");
    QTest::newRow("UTF-8 text") << QByteArray("<p>\xc3\xa9</p></body>") << QByteArray("<p>\xc3\xa9</p>@</body>");
    QTest::newRow("UTF-16 is left alone") << QByteArray("\xff\xfe<\0p\0>\0", 8) << QByteArray("\xff\xfe<\0p\0>\0", 8);
}

void TestLiveReload::injection()
{
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, expected);
    const std::string result = Corvan::HtmlInjection::InsertBeforeBodyEnd(page.toStdString(), ScriptTag.toStdString());
    QCOMPARE(QByteArray::fromStdString(result), QByteArray(expected).replace("@", ScriptTag));

    // Pages are read in pieces: any cut gives the same place, here the worst one (byte by byte).
    Corvan::HtmlInjection::CBodyEndFinder finder;
    for (char c : page)
        finder.Feed(&c, 1);
    const qsizetype at = expected.indexOf('@');
    QCOMPARE(finder.Finish(), at < 0 ? Corvan::HtmlInjection::CBodyEndFinder::Unchanged : std::uint64_t(at));
}

void TestLiveReload::pageNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isPage");
    QTest::newRow("html") << "a.html" << true;
    QTest::newRow("htm") << "a.htm" << true;
    QTest::newRow("upper case") << "A.HTML" << true;
    QTest::newRow("two dots") << "a.tar.html" << true;
    QTest::newRow("xhtml") << "a.xhtml" << false;
    QTest::newRow("html.txt") << "a.html.txt" << false;
    QTest::newRow("htmlx") << "a.htmlx" << false;
    QTest::newRow("no dot") << "html" << false;
}

void TestLiveReload::pageNames()
{
    QFETCH(QString, name);
    QFETCH(bool, isPage);
    QCOMPARE(Corvan::HtmlInjection::IsPageName(name.toStdString()), isPage);
}

void TestLiveReload::ignoredNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ignored");
    QTest::newRow("page") << "index.html" << false;
    QTest::newRow("style sheet") << "a.css" << false;
    QTest::newRow("tilde inside") << "a~b.js" << false;
    QTest::newRow("number") << "4914" << false;
    QTest::newRow("one hash") << "#a" << false;
    QTest::newRow("dot file") << ".env" << true;
    QTest::newRow("dot folder") << ".git" << true;
    QTest::newRow("backup") << "index.html~" << true;
    QTest::newRow("swap") << ".index.html.swp" << true;
    QTest::newRow("swap without dot") << "index.html.swp" << true;
    QTest::newRow("swap x") << "index.html.swx" << true;
    QTest::newRow("auto-save") << "#index.html#" << true;
    QTest::newRow("tmp inside") << "a.tmp.html" << false;
    QTest::newRow("probe") << "4913" << true;
}

void TestLiveReload::ignoredNames()
{
    QFETCH(QString, name);
    QFETCH(bool, ignored);
    QCOMPARE(Corvan::CFolderWatcher::IsIgnoredName(name.toStdString()), ignored);
}

void TestLiveReload::changeTracker_data()
{
    // Events "MS KIND PATH" in order (KIND: w written, n created, c closed, m moved in, t touched,
    // r removed, e everything); messages "MS TEXT" as the tracker tells them, at its due times.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("writer closes") << QStringList{"0 w a.html", "1 c a.html"} << QStringList{"4 reload"};
    QTest::newRow("three parts over 120 ms, then closed")
        << QStringList{"0 w a.html", "60 w a.html", "120 w a.html", "125 c a.html"} << QStringList{"128 reload"};
    QTest::newRow("save all") << QStringList{"0 c a.css", "1 c sub/b.css", "2 c c.css"}
                              << QStringList{"3 css\n[\"a.css\",\"c.css\",\"sub/b.css\"]"};
    QTest::newRow("temporary file renamed in")
        << QStringList{"0 n a.css.x7", "1 w a.css.x7", "2 c a.css.x7", "3 r a.css.x7", "3 m a.css"}
        << QStringList{"6 css\n[\"a.css\"]"};
    QTest::newRow("renamed away, another renamed in")
        << QStringList{"0 r a.css", "0 m a.css"} << QStringList{"3 css\n[\"a.css\"]"};
    QTest::newRow("backed up by rename, then written")
        << QStringList{"0 r a.html", "0 n a.html", "1 w a.html", "30 c a.html"} << QStringList{"33 reload"};
    QTest::newRow("came and went") << QStringList{"0 n x.js", "1 c x.js", "2 r x.js"} << QStringList{};
    QTest::newRow("times set before the close")
        << QStringList{"0 w a.js", "5 t a.js", "50 c a.js"} << QStringList{"53 reload"};
    QTest::newRow("link made, changes lost")
        << QStringList{"0 m a.html", "200 e "} << QStringList{"3 reload", "203 reload"};
    QTest::newRow("writer that stays open holds back only itself")
        << QStringList{"0 w log.txt", "20 c a.css", "100 w log.txt", "300 w log.txt", "500 c log.txt"}
        << QStringList{"23 css\n[\"a.css\"]", "400 reload", "503 reload"};
    QStringList build;
    for (int i = 0; i < 50; ++i)
        build << QString("%1 n f%2.js").arg(6 * i).arg(i) << QString("%1 c f%2.js").arg(6 * i + 1).arg(i);
    QTest::newRow("50 files over 300 ms") << build << QStringList{"4 reload", "335 reload"};
}

void TestLiveReload::changeTracker()
{
    using Corvan::CChangeTracker;
    QFETCH(QStringList, events);
    QFETCH(QStringList, messages);
    const CChangeTracker::Clock::time_point start;
    CChangeTracker tracker;
    QStringList told;
    const auto tellUntil = [&](CChangeTracker::Clock::time_point until)
    {
        for (auto due = tracker.Due(); due <= until; due = tracker.Due())
        {
            const Corvan::CChangeMessage message = tracker.Take(due);
            if (!message.text.empty())
                told << QString("%1 %2").arg((due - start) / std::chrono::milliseconds(1)).arg(message.text.c_str());
        }
    };
    for (const QString& event : events)
    {
        const QStringList parts = event.split(' ');
        const auto now = start + std::chrono::milliseconds(parts[0].toInt());
        tellUntil(now);
        const int kind = QString("wncmtrfe").indexOf(parts[1]);
        tracker.Add(parts[2].toStdString(), static_cast<Corvan::CFolderWatcher::EChange>(kind), now);
    }
    tellUntil(CChangeTracker::Clock::time_point::max() - std::chrono::hours(1));
    QCOMPARE(told, messages);
    QVERIFY(!tracker.IsPending());
}

void TestLiveReload::pagesCarryTheScript_data()
{
    QTest::addColumn<QString>("file"); // written with a body end, empty for none
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::newRow("html") << "page.html" << QByteArray("/page.html") << 200;
    QTest::newRow("htm, upper case") << "OLD.HTM" << QByteArray("/OLD.HTM") << 200;
    QTest::newRow("index page") << "index.html" << QByteArray("/") << 200;
    QTest::newRow("index.htm in a folder") << "sub/index.htm" << QByteArray("/sub/") << 200;
    QTest::newRow("folder listing") << "" << QByteArray("/sub/deep/") << 200;
    QTest::newRow("site's 404 page") << "404.html" << QByteArray("/missing/page") << 404;
    QTest::newRow("server's 404 page") << "" << QByteArray("/missing/page") << 404;
}

void TestLiveReload::pagesCarryTheScript()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    Site site;
    if (!file.isEmpty())
        WriteFile(site.Path(file), "<html><body><p>text</p></body></html>");
    Server server;
    QVERIFY(server.Start(site.Root()));

    const Response response = server.GetPage(target);
    QCOMPARE(response.status, status);
    QVERIFY2(response.header("Content-Type").startsWith("text/html"), response.header("Content-Type"));
    QCOMPARE(response.header("Cache-Control"), QByteArray("no-cache"));
    QCOMPARE(response.header("Content-Length").toInt(), response.body.size());
    QCOMPARE(response.body.count(ScriptTag), 1);
    QVERIFY2(response.body.contains(ScriptTag + "</body>"), response.body.constData());
    if (!file.isEmpty())
        QCOMPARE(response.body, QByteArray("<html><body><p>text</p>" + ScriptTag + "</body></html>"));

    // A revalidation matches the injected page's own tag; HEAD announces the same length.
    const QByteArray etag = response.header("ETag");
    if (!etag.isEmpty())
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(socket.waitForConnected(TimeoutMs));
        socket.write("GET " + target + " HTTP/1.1\r\nHost: localhost\r\nIf-None-Match: " + etag + "\r\n" +
                     NavigationHeaders + "\r\n");
        QCOMPARE(ReadResponse(socket, true).status, 304);
    }
    QCOMPARE(server.GetPage(target, "HEAD").header("Content-Length"), response.header("Content-Length"));
}

void TestLiveReload::onlyNavigationsGetTheScript_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<bool>("injected");
    QTest::newRow("tab") << NavigationHeaders << true;
    QTest::newRow("frame") << QByteArray("Sec-Fetch-Dest: iframe\r\nAccept: text/html\r\n") << true;
    QTest::newRow("browser without Sec-Fetch") << QByteArray("Accept: text/html,application/xhtml+xml\r\n") << true;
    QTest::newRow("script's fetch") << QByteArray("Sec-Fetch-Dest: empty\r\nAccept: */*\r\n") << false;
    QTest::newRow("script's fetch asking for HTML")
        << QByteArray("Sec-Fetch-Dest: empty\r\nAccept: text/html\r\n") << false;
    QTest::newRow("tool") << QByteArray("Accept: */*\r\n") << false;
    QTest::newRow("no headers") << QByteArray() << false;
}

void TestLiveReload::onlyNavigationsGetTheScript()
{
    QFETCH(QByteArray, headers);
    QFETCH(bool, injected);
    Site site;
    const QByteArray page = "<html><body>x</body></html>";
    WriteFile(site.Path("page.html"), page);
    Server server;
    QVERIFY(server.Start(site.Root()));
    const Response response = server.Get("/page.html", headers);
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body.contains(ScriptTag), injected);
    if (!injected)
    {
        QCOMPARE(response.body, page);
        QCOMPARE(response.header("Accept-Ranges"), QByteArray("bytes"));
    }
}

void TestLiveReload::bigPagesStreamInBoundedMemory()
{
    // Many tabs opening a big page at once: each answer streams through a small buffer, so the
    // server's memory does not grow with the page, and nothing stays behind.
    constexpr int Tabs = 16;
    Site site;
    const QByteArray text(8 * 1024 * 1024 - 64, 'x');
    WriteFile(site.Path("big.html"), "<html><body>" + text + "</body></html>");
    Server server;
    QVERIFY(server.Start(site.Root()));
    QCOMPARE(server.GetPage("/").status, 200); // every path warmed up once
    const qint64 before = server.MemoryKiB("VmRSS");
    QVERIFY(before > 0);

    std::vector<std::unique_ptr<QTcpSocket>> tabs;
    for (int i = 0; i < Tabs; ++i)
    {
        tabs.push_back(std::make_unique<QTcpSocket>());
        tabs.back()->connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(tabs.back()->waitForConnected(TimeoutMs));
        tabs.back()->write(Request("/big.html", NavigationHeaders));
        QVERIFY(tabs.back()->waitForBytesWritten(TimeoutMs));
    }
    const QByteArray expected = "<html><body>" + text + ScriptTag + "</body></html>";
    for (auto& tab : tabs)
    {
        const Response response = ReadResponse(*tab);
        QCOMPARE(response.header("Content-Length").toInt(), expected.size());
        QVERIFY(response.body == expected);
    }
    const qint64 peak = server.MemoryKiB("VmHWM");
    QVERIFY2(peak - before < 48 * 1024, qPrintable(QString("peak grew by %1 KiB").arg(peak - before)));
#ifndef __SANITIZE_ADDRESS__
    // (AddressSanitizer keeps freed memory in quarantine, so what stays held says nothing there.)
    QTRY_VERIFY2_WITH_TIMEOUT(server.MemoryKiB("VmRSS") - before < 16 * 1024,
                              qPrintable(QString("%1 KiB held").arg(server.MemoryKiB("VmRSS") - before)), TimeoutMs);
#endif
}

void TestLiveReload::otherFilesAreUntouched_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("script") << "app.js";
    QTest::newRow("module") << "app.mjs";
    QTest::newRow("style sheet") << "style.css";
    QTest::newRow("text") << "notes.txt";
    QTest::newRow("page name inside") << "page.html.txt";
    QTest::newRow("xhtml") << "page.xhtml";
    QTest::newRow("svg") << "image.svg";
}

void TestLiveReload::otherFilesAreUntouched()
{
    QFETCH(QString, file);
    Site site;
    const QByteArray content = "<html><body>not a page</body></html>\n";
    WriteFile(site.Path(file), content);
    Server server;
    QVERIFY(server.Start(site.Root()));
    const Response response = server.GetPage("/" + file.toUtf8());
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, content);
    QCOMPARE(response.header("Accept-Ranges"), QByteArray("bytes"));
}

void TestLiveReload::reservedNames_data()
{
    // A user's own "__corvan" folder: the script's name stays the server's while live reload is
    // on; every other file in it is the user's.
    QTest::addColumn<bool>("liveReload");
    QTest::newRow("live reload") << true;
    QTest::newRow("--no-live-reload") << false;
}

void TestLiveReload::reservedNames()
{
    QFETCH(bool, liveReload);
    Site site;
    WriteFile(site.Path("__corvan/live.js"), "user's own script");
    WriteFile(site.Path("__corvan/live"), "user's own file");
    WriteFile(site.Path("__corvan/theme.css"), "user's own style");
    Server server;
    QVERIFY(server.Start(site.Root(), liveReload ? QStringList() : QStringList{"--no-live-reload"}));

    const Response script = server.Get("/__corvan/live.js");
    QCOMPARE(script.status, 200);
    if (liveReload)
    {
        QCOMPARE(script.header("Content-Type"), QByteArray("text/javascript; charset=utf-8"));
        // A page that requires it (Cross-Origin-Embedder-Policy: require-corp) still loads the script.
        QCOMPARE(script.header("Cross-Origin-Resource-Policy"), QByteArray("same-origin"));
        QVERIFY2(script.body.contains("new WebSocket("), script.body.constData());
        QCOMPARE(server.Get("/__corvan/live.js?v=2").body, script.body);
        QCOMPARE(server.Get("/__corvan/live").status, 400); // only as a socket
    }
    else
    {
        QCOMPARE(script.body, QByteArray("user's own script"));
        QCOMPARE(server.Get("/__corvan/live").body, QByteArray("user's own file"));
    }
    QCOMPARE(server.Get("/__corvan/theme.css").body, QByteArray("user's own style"));
}

void TestLiveReload::socketHandshake_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("origin"); // PORT is replaced by the server's port
    QTest::addColumn<int>("status");
    QTest::newRow("localhost") << QByteArray("localhost:PORT") << QByteArray("http://localhost:PORT") << 101;
    QTest::newRow("127.0.0.1") << QByteArray("127.0.0.1:PORT") << QByteArray("http://127.0.0.1:PORT") << 101;
    // One Host rule for pages and their socket: a page served for "localhost." may listen.
    QTest::newRow("trailing dot") << QByteArray("localhost.:PORT") << QByteArray("http://localhost.:PORT") << 101;
    QTest::newRow("origin in upper case") << QByteArray("localhost") << QByteArray("http://LOCALHOST:PORT") << 101;
    QTest::newRow("another site") << QByteArray("localhost") << QByteArray("http://attacker.example") << 403;
    QTest::newRow("another port") << QByteArray("localhost") << QByteArray("http://localhost:1") << 403;
    QTest::newRow("no port") << QByteArray("localhost") << QByteArray("http://localhost") << 403;
    QTest::newRow("https") << QByteArray("localhost") << QByteArray("https://localhost:PORT") << 403;
    QTest::newRow("prefix of the origin")
        << QByteArray("localhost") << QByteArray("http://localhost:PORT.attacker") << 403;
    QTest::newRow("opaque origin") << QByteArray("localhost") << QByteArray("null") << 403;
    QTest::newRow("file page") << QByteArray("localhost") << QByteArray("file://") << 403;
    QTest::newRow("no origin") << QByteArray("localhost") << QByteArray() << 403;
    QTest::newRow("rebinding host") << QByteArray("attacker.example:PORT") << QByteArray("http://localhost:PORT")
                                    << 403;
}

void TestLiveReload::socketHandshake()
{
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, origin);
    QFETCH(int, status);
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    const QByteArray port = QByteArray::number(server.port);
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, origin.isNull() ? origin : QByteArray(origin).replace("PORT", port),
                         QByteArray(host).replace("PORT", port)),
             status);
    if (status == 101)
    {
        WriteFile(site.Path("a.js"), "1");
        QCOMPARE(socket.Next(), QByteArray("reload"));
    }
}

void TestLiveReload::socketLimitKeepsRequestsServed()
{
    Site site;
    WriteFile(site.Path("a.txt"), "served");
    Server server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CORVAN_TEST_MAX_SOCKETS", QString::number(MaxSockets));
    QVERIFY(server.Start(site.Root(), {}, environment));
    std::vector<std::unique_ptr<LiveSocket>> sockets;
    for (int i = 0; i < MaxSockets; ++i)
    {
        sockets.push_back(std::make_unique<LiveSocket>());
        QCOMPARE(sockets.back()->Open(server.port, server.OwnOrigin()), 101);
    }
    LiveSocket refused;
    QCOMPARE(refused.Open(server.port, server.OwnOrigin()), 503);

    // With every socket open, requests are still answered, also many at once.
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 16; ++i)
    {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(clients.back()->waitForConnected(TimeoutMs));
        clients.back()->write("GET /a.txt HTTP/1.1\r\nHost: localhost\r\n\r\n");
    }
    for (auto& client : clients)
        QCOMPARE(ReadResponse(*client).body, QByteArray("served"));

    // A closed page frees its place.
    sockets.front()->Close();
    // The server notices the close a moment later. Not QTRY: it evaluates its condition once more
    // after success, and a second open would take the freed place itself.
    QDeadlineTimer deadline(TimeoutMs);
    int status = 0;
    auto replacement = std::make_unique<LiveSocket>();
    while ((status = replacement->Open(server.port, server.OwnOrigin())) != 101 && !deadline.hasExpired())
    {
        replacement = std::make_unique<LiveSocket>();
        QTest::qWait(20);
    }
    QVERIFY2(status == 101, qPrintable(QString("last answer: %1").arg(status)));
    WriteFile(site.Path("a.js"), "1");
    QCOMPARE(sockets.back()->Next(), QByteArray("reload"));
}

void TestLiveReload::socketInput_data()
{
    // What a page (or anything else) may send on its socket, and what comes back.
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("closeCode"); // -1: the socket stays open
    const QByteArray over(int(5000), 'x');
    QTest::newRow("ping") << Frame(0x89, "hello") << QByteArray("pong:hello") << -1;
    QTest::newRow("pong, text, binary: dropped")
        << Frame(0x8A, "x") + Frame(0x81, "hi") + Frame(0x82, "\x01") << QByteArray() << -1;
    QTest::newRow("ping inside a fragmented message")
        << Frame(0x01, "a") + Frame(0x89, "p") + Frame(0x80, "b") << QByteArray("pong:p") << -1;
    QTest::newRow("close") << Frame(0x88, "\x03\xe8"
                                          "bye")
                           << QByteArray("<closed>") << 1000;
    QTest::newRow("close 4000") << Frame(0x88, "\x0f\xa0") << QByteArray("<closed>") << 4000;
    QTest::newRow("close without a code") << Frame(0x88, "") << QByteArray("<closed>") << 1000;
    QTest::newRow("unmasked") << Frame(0x81, "hi", false) << QByteArray("<closed>") << 1002;
    QTest::newRow("reserved bit") << Frame(0xC1, "x") << QByteArray("<closed>") << 1002;
    QTest::newRow("unknown opcode") << Frame(0x83, "x") << QByteArray("<closed>") << 1002;
    QTest::newRow("ping over 125 bytes") << Frame(0x89, QByteArray(126, 'p')) << QByteArray("<closed>") << 1002;
    QTest::newRow("fragmented ping") << Frame(0x09, "p") << QByteArray("<closed>") << 1002;
    QTest::newRow("continuation of nothing") << Frame(0x80, "x") << QByteArray("<closed>") << 1002;
    QTest::newRow("message inside a message") << Frame(0x01, "a") + Frame(0x81, "b") << QByteArray("<closed>") << 1002;
    QTest::newRow("close of one byte") << Frame(0x88, "\x03") << QByteArray("<closed>") << 1002;
    QTest::newRow("close code 1005") << Frame(0x88, "\x03\xed") << QByteArray("<closed>") << 1002;
    QTest::newRow("text not UTF-8") << Frame(0x81, "\xc3\x28") << QByteArray("<closed>") << 1007;
    QTest::newRow("close reason not UTF-8") << Frame(0x88, "\x03\xe8\xff") << QByteArray("<closed>") << 1002;
    QTest::newRow("text over the limit") << Frame(0x81, over) << QByteArray("<closed>") << 1009;
    QTest::newRow("fragments over the limit")
        << Frame(0x02, over.left(4000)) + Frame(0x80, over.left(1000)) << QByteArray("<closed>") << 1009;
    // Refused at its head: nothing of the 2 GiB is waited for, or kept.
    QTest::newRow("2 GiB announced") << Frame(0x82, "", true, 2ull << 30) << QByteArray("<closed>") << 1009;
}

void TestLiveReload::socketInput()
{
    QFETCH(QByteArray, frames);
    QFETCH(QByteArray, answer);
    QFETCH(int, closeCode);
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);
    socket.Send(frames);
    QCOMPARE(socket.Next(answer.isEmpty() ? 300 : TimeoutMs), answer);
    if (closeCode >= 0)
    {
        QCOMPARE(socket.closeCode, closeCode);
        QTRY_VERIFY_WITH_TIMEOUT(!socket.IsConnected(), TimeoutMs); // the server ends the connection
        return;
    }
    WriteFile(site.Path("a.js"), "1");
    QCOMPARE(socket.Next(), QByteArray("reload"));
}

void TestLiveReload::badHandshakesFreeTheirPlace_data()
{
    // Keys a browser never sends (its key is 16 random bytes in base64); more refusals than there
    // are places, then a page's socket must still open.
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("too long") << QByteArray(70, 'A');
    QTest::newRow("not base64") << QByteArray("!!!!!!!!!!!!!!!!!!!!!!==");
    QTest::newRow("15 bytes") << QByteArray("corvan-live-tes").toBase64();
    QTest::newRow("17 bytes") << QByteArray("corvan-live-test!").toBase64();
    QTest::newRow("blank") << QByteArray(" ");
}

void TestLiveReload::badHandshakesFreeTheirPlace()
{
    QFETCH(QByteArray, key);
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    for (int i = 0; i <= MaxSockets; ++i)
    {
        LiveSocket bad;
        QCOMPARE(bad.Open(server.port, server.OwnOrigin(), "localhost", key), 400);
    }
    LiveSocket page;
    QCOMPARE(page.Open(server.port, server.OwnOrigin()), 101);
}

void TestLiveReload::events_data()
{
    QTest::addColumn<QStringList>("files"); // written in this order, at once
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("style sheet") << QStringList{"style.css"} << QByteArray("css\n[\"style.css\"]");
    QTest::newRow("style sheet, upper case") << QStringList{"STYLE.CSS"} << QByteArray("css\n[\"STYLE.CSS\"]");
    QTest::newRow("style sheets in sub folders")
        << QStringList{"sub/a.css", "sub/deep/b.css"} << QByteArray("css\n[\"sub/a.css\",\"sub/deep/b.css\"]");
    QTest::newRow("names escaped") << QStringList{"q\"\\\t.css"} << QByteArray("css\n[\"q\\\"\\\\\\u0009.css\"]");
    QTest::newRow("script") << QStringList{"app.js"} << QByteArray("reload");
    QTest::newRow("page") << QStringList{"index.html"} << QByteArray("reload");
    QTest::newRow("image in a sub folder") << QStringList{"sub/deep/logo.png"} << QByteArray("reload");
    QTest::newRow("style sheet and script") << QStringList{"style.css", "app.js"} << QByteArray("reload");
    QTest::newRow("file in the reserved folder") << QStringList{"__corvan/x.js"} << QByteArray("reload");
    // Ignored names written with a style sheet: had any counted, the message would be "reload".
    QTest::newRow("editors' temporary files") << QStringList{"index.html~",
                                                             ".index.html.swp",
                                                             "index.html.swp",
                                                             "x.swx",
                                                             "#index.html#",
                                                             "4913",
                                                             "sub/4913",
                                                             "a.css___jb_tmp___",
                                                             "a.css___jb_old___",
                                                             "a.css.crswap",
                                                             "a.TMP",
                                                             "style.css"}
                                              << QByteArray("css\n[\"style.css\"]");
    QTest::newRow("dot files and folders")
        << QStringList{".env", ".git/objects/ab", ".cache/app.js", "sub/.hidden.html", "style.css"}
        << QByteArray("css\n[\"style.css\"]");
}

void TestLiveReload::events()
{
    QFETCH(QStringList, files);
    QFETCH(QByteArray, message);
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);
    for (const QString& file : files)
        WriteFile(site.Path(file), "changed");
    // Saves further apart than the join window (a busy machine) are told apart: folded here as a
    // page acts on them.
    QByteArray told = socket.Next();
    for (QByteArray more; (more = socket.Next(300)) == "reload" || more.startsWith("css");)
        told = told.startsWith("css\n") && more.startsWith("css\n") ? told.chopped(1) + "," + more.mid(5) : "reload";
    QCOMPARE(told, message);
}

void TestLiveReload::burstIsTold()
{
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);
    for (int i = 0; i < 50; ++i)
        WriteFile(site.Path("app.js"), QByteArray::number(i));
    // How few messages a burst makes is the tracker's rule (changeTracker); here they all arrive,
    // the first at once, and the next save is told on its own.
    QCOMPARE(socket.Next(), QByteArray("reload"));
    while (socket.Next(600) == "reload")
    {
    }
    WriteFile(site.Path("style.css"), "p{}");
    QCOMPARE(socket.Next(), QByteArray("css\n[\"style.css\"]"));
}

void TestLiveReload::newFoldersAreWatched()
{
    Site site;
    QTemporaryDir outside;
    WriteFile(outside.filePath("moved/in/deep.css"), "p{}");
    Server server;
    QVERIFY(server.Start(site.Root()));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);

    QVERIFY(QDir().mkpath(site.Path("new/inner")));
    QCOMPARE(socket.Next(), QByteArray("reload"));
    WriteFile(site.Path("new/inner/a.css"), "p{}");
    QCOMPARE(socket.Next(), QByteArray("css\n[\"new/inner/a.css\"]"));

    // A folder moved in with its tree, and a folder renamed: both keep being watched.
    QVERIFY(QDir().rename(outside.filePath("moved"), site.Path("moved")));
    QCOMPARE(socket.Next(), QByteArray("reload"));
    WriteFile(site.Path("moved/in/deep.css"), "a{}");
    QCOMPARE(socket.Next(), QByteArray("css\n[\"moved/in/deep.css\"]"));
    QVERIFY(QDir().rename(site.Path("new"), site.Path("renamed")));
    QCOMPARE(socket.Next(), QByteArray("reload"));
    WriteFile(site.Path("renamed/inner/a.css"), "a{}");
    QCOMPARE(socket.Next(), QByteArray("css\n[\"renamed/inner/a.css\"]"));
}

void TestLiveReload::everyOpenPageIsTold()
{
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    LiveSocket pages[3];
    for (LiveSocket& page : pages)
        QCOMPARE(page.Open(server.port, server.OwnOrigin()), 101);
    pages[1].Close();
    WriteFile(site.Path("index.html"), "new");
    QCOMPARE(pages[0].Next(), QByteArray("reload"));
    QCOMPARE(pages[2].Next(), QByteArray("reload"));
}

void TestLiveReload::siteRulesFollowEdits()
{
    Site site;
    WriteFile(site.Path("_redirects"), "/a /b\n/x\n");
    Server server;
    QVERIFY(server.Start(site.Root()));
    QCOMPARE(server.Get("/a").header("Location"), QByteArray("/b"));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);
    const QByteArray notice = "_redirects line 2: expected a path and a target, such as /old /new 301";
    QCOMPARE(socket.Next(), "notices\n" + notice);
    QVERIFY(server.Errors().contains("mongoose: " + notice + "\n"));

    WriteFile(site.Path("_redirects"), "/a /c 307\n");
    QCOMPARE(socket.Next(), QByteArray("reload"));
    const Response moved = server.Get("/a");
    QCOMPARE(moved.status, 307);
    QCOMPARE(moved.header("Location"), QByteArray("/c"));
    LiveSocket next;
    QCOMPARE(next.Open(server.port, server.OwnOrigin()), 101);
    QCOMPARE(next.Next(300), QByteArray()); // no notices left to tell

    // A save in two parts: the half-written line is never read, nor told.
    QFile file(site.Path("_redirects"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write("/a") == 2 && file.flush());
    QCOMPARE(next.Next(200), QByteArray());
    QCOMPARE(server.Get("/a").header("Location"), QByteArray("/c"));
    QVERIFY(file.write(" /d 307\n") == 8);
    file.close();
    QCOMPARE(next.Next(), QByteArray("reload"));
    QCOMPARE(server.Get("/a").header("Location"), QByteArray("/d"));
    QVERIFY(!server.Errors().contains("line 1"));
}

void TestLiveReload::replacedFolderIsWatchedAgain_data()
{
    QTest::addColumn<bool>("renamed"); // else removed
    QTest::newRow("removed and made again") << false;
    QTest::newRow("renamed away and made again") << true;
}

void TestLiveReload::replacedFolderIsWatchedAgain()
{
    QFETCH(bool, renamed);
    Site site;
    Server server;
    QVERIFY(server.Start(site.Root()));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);

    // Twice, as a build does on every run; the server says it once.
    for (int round = 0; round < 2; ++round)
    {
        const QString old = site.Beside(QString("old%1").arg(round));
        QVERIFY(renamed ? QDir().rename(site.Root(), old) : QDir(site.Root()).removeRecursively());
        if (round == 0)
            QTRY_VERIFY_WITH_TIMEOUT(server.Errors().contains("removed or renamed"), TimeoutMs);
        while (socket.Next(200) == "reload") // the removed files' own events
        {
        }
        if (renamed)
        {
            // The old folder is no longer followed: a page would reload into a 404.
            WriteFile(old + "/app.js", "1");
            QCOMPARE(socket.Next(300), QByteArray());
        }
        QVERIFY(QDir().mkpath(site.Path("sub")));
        QCOMPARE(socket.Next(), QByteArray("reload"));
        WriteFile(site.Path("sub/style.css"), "p{}");
        QCOMPARE(socket.Next(), QByteArray("css\n[\"sub/style.css\"]"));
    }
    QCOMPARE(server.Errors().count('\n'), 1);
}

void TestLiveReload::noLiveReload()
{
    Site site;
    const QByteArray page = "<html><body>x</body></html>";
    WriteFile(site.Path("index.html"), page);
    Server server;
    QVERIFY(server.Start(site.Root(), {"--no-live-reload"}));
    QCOMPARE(server.GetPage("/").body, page);
    QCOMPARE(server.GetPage("/sub/").body.count(ScriptTag), 0);
    QCOMPARE(server.Get("/__corvan/live.js").status, 404);
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 404);

    QProcess help;
    help.start(ServerBinary, {"--help"});
    QVERIFY(help.waitForFinished(TimeoutMs));
    QVERIFY(help.readAllStandardOutput().contains("--no-live-reload PORT"));
}

void TestLiveReload::degrades_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QByteArray>("reason");
    // 5 entries below the root, 4 folders with it (dot entries do not count).
    QTest::newRow("too many files") << "CORVAN_TEST_MAX_ENTRIES"
                                    << "5" << QByteArray("the folder holds 5 files or more");
    QTest::newRow("watch limit") << "CORVAN_TEST_MAX_WATCHES"
                                 << "3" << QByteArray("the system's limit of watched folders is reached");
}

void TestLiveReload::degrades()
{
    QFETCH(QString, variable);
    QFETCH(QString, limit);
    QFETCH(QByteArray, reason);
    Site site;
    const QByteArray page = "<html><body>x</body></html>";
    WriteFile(site.Path("index.html"), page);
    WriteFile(site.Path("sub/a.txt"), "a");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variable, limit);
    Server server;
    QVERIFY(server.Start(site.Root(), {}, environment));

    QTRY_VERIFY_WITH_TIMEOUT(server.Errors().contains('\n'), TimeoutMs);
    QVERIFY2(server.Errors().startsWith("mongoose: live reload is off: " + reason), server.Errors().constData());
    QCOMPARE(server.GetPage("/").body, page);
    QCOMPARE(server.Get("/sub/a.txt").body, QByteArray("a"));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 404);
    WriteFile(site.Path("index.html"), page);
    QCOMPARE(server.Get("/").status, 200);
    QCOMPARE(server.Errors().count('\n'), 1);
    QCOMPARE(server.process.state(), QProcess::Running);
}

void TestLiveReload::degradesWhileRunning()
{
    Site site; // the root and 3 folders below it (dot folders are not watched)
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CORVAN_TEST_MAX_WATCHES", "5");
    Server server;
    QVERIFY(server.Start(site.Root(), {}, environment));
    LiveSocket socket;
    QCOMPARE(socket.Open(server.port, server.OwnOrigin()), 101);

    QVERIFY(QDir().mkpath(site.Path("one/too/many")));
    QCOMPARE(socket.Next(), QByteArray("off"));
    QCOMPARE(socket.Next(), QByteArray("<closed>"));
    QTRY_VERIFY_WITH_TIMEOUT(server.Errors().contains('\n'), TimeoutMs);
    QVERIFY2(server.Errors().startsWith("mongoose: live reload is off: "), server.Errors().constData());
    WriteFile(site.Path("index.html"), "<body>x</body>");
    QCOMPARE(server.GetPage("/").body, QByteArray("<body>x</body>"));
    QCOMPARE(server.Errors().count('\n'), 1);
}

void TestLiveReload::browserShowsTheSavedText()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (scripts/install-deps.sh --test installs it)");
    Site site;
    // A strict policy: the script must come from the server, not inline.
    const QByteArray head = "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Security-Policy\" "
                            "content=\"default-src 'self'\"><title>live</title></head><body><p id=\"text\">";
    WriteFile(site.Path("index.html"), head + "before</p></body></html>");
    Server server;
    QVERIFY(server.Start(site.Root()));

    CorvanTest::CHeadlessBrowser browser;
    QString error;
    QVERIFY2(browser.Start(chromium, QString("http://localhost:%1/index.html").arg(server.port), error),
             qPrintable(error));
    const QString text = "document.getElementById('text') ? document.getElementById('text').textContent : ''";
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate(text), QString("before"), 10000);

    // The page's socket opens just after its load; a save before that would pass unseen, so the
    // save is repeated until the page shows it.
    QElapsedTimer timer;
    timer.start();
    QString shown;
    for (int attempt = 0; attempt < 10 && shown != "after"; ++attempt)
    {
        WriteFile(site.Path("index.html"), head + "after</p></body></html>");
        QElapsedTimer wait;
        wait.start();
        while ((shown = browser.Evaluate(text)) != "after" && wait.elapsed() < 1000)
            QTest::qWait(20);
    }
    QCOMPARE(shown, QString("after"));
}

void TestLiveReload::browserRunsTheSiteRecipes()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (scripts/install-deps.sh --test installs it)");
    Site site;
    WriteFile(site.Path("_headers"), "/*\n  Cross-Origin-Opener-Policy: same-origin\n"
                                     "  Cross-Origin-Embedder-Policy: require-corp\n");
    WriteFile(site.Path("_redirects"), "/* /index.html 200\n/<b>x\n");
    WriteFile(site.Path("index.html"), "<!DOCTYPE html><html><head><script src=\"/app.js\"></script></head>"
                                       "<body></body></html>");
    WriteFile(site.Path("app.js"), "window.ran = 'first';");
    Server server;
    QVERIFY(server.Start(site.Root()));

    // A deep link of a single-page app, isolated: its script loads, and so does live reload's.
    CorvanTest::CHeadlessBrowser browser;
    QString error;
    QVERIFY2(browser.Start(chromium, QString("http://localhost:%1/settings/profile").arg(server.port), error),
             qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate("window.ran || ''"), QString("first"), 20000);
    QCOMPARE(browser.Evaluate("String(self.crossOriginIsolated)"), QString("true"));
    const QString notice = "(document.getElementById('__corvan-notices') || {}).textContent || ''";
    QTRY_VERIFY_WITH_TIMEOUT(browser.Evaluate(notice).startsWith("_redirects line 2: expected a path"), 5000);
    QString shown;
    for (int attempt = 0; attempt < 10 && shown != "saved"; ++attempt)
    {
        WriteFile(site.Path("app.js"), "window.ran = 'saved';");
        QElapsedTimer wait;
        wait.start();
        while ((shown = browser.Evaluate("window.ran || ''")) != "saved" && wait.elapsed() < 1000)
            QTest::qWait(20);
    }
    QCOMPARE(shown, QString("saved"));
}

void TestLiveReload::browserShowsPageNotices()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (scripts/install-deps.sh --test installs it)");
    Site site;
    WriteFile(site.Path("img/logo.png"), "not decoded");
    WriteFile(site.Path("js/util.js"), "export const x = 1;");
    WriteFile(site.Path("js/app.js"), "import { x } from './util';");
    WriteFile(site.Path("index.html"), "<!DOCTYPE html><body><img src=\"img/Logo.png\">"
                                       "<script type=\"module\" src=\"js/app.js\"></script></body>");
    WriteFile(site.Path("clean.html"), "<!DOCTYPE html><body><img src=\"img/logo.png\"><script type=\"module\">"
                                       "import { x } from './js/util.js'; window.ran = 'yes';</script></body>");
    Server server;
    QVERIFY(server.Start(site.Root()));

    // The module's import names the module as its Referer: the notice still reaches the page.
    CorvanTest::CHeadlessBrowser browser;
    QString error;
    QVERIFY2(browser.Start(chromium, QString("http://localhost:%1/index.html").arg(server.port), error),
             qPrintable(error));
    const QString notices =
        "Array.from(document.querySelectorAll('#__corvan-notices span'), s => s.textContent).sort().join('\\n')";
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate(notices),
                              QString("img/Logo.png: the folder has img/logo.png. Names are case-sensitive once "
                                      "deployed\njs/util: the folder has js/util.js. A browser adds nothing to a "
                                      "path: name the file in full"),
                              20000);
    // The page may show a notice before this process has read the server's line for it.
    QTRY_COMPARE_WITH_TIMEOUT(server.Errors().count("mongoose: notice in /index.html: "), 2, 5000);

    browser.Evaluate("location.href = '/clean.html'");
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate("window.ran || ''"), QString("yes"), 10000);
    QVERIFY(!QTest::qWaitFor([&] { return !browser.Evaluate(notices).isEmpty(); }, 1500));
}

QTEST_GUILESS_MAIN(TestLiveReload)
#include "tst_livereload.moc"
