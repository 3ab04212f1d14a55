// The launcher against real processes on the product's port: the real server from the build's bin
// folder, and a stand-in for the ways a server can fail that the real one cannot be made to show.
#include "launcher/CorvanStringConversion.h"
#include "launcher/LocalServer.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessSweep.h"
#include "productidentity/ProductIdentity.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

#include <csignal>

using namespace Corvan;
using namespace CorvanTest;

namespace
{
// Gone means reaped or a zombie: either way it holds no port any more.
bool IsGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) == "Z";
}

// Running processes of the given program (file), by id.
QList<qint64> RunningInstancesOf(const QString& strProgram)
{
    QList<qint64> ids;
    const QString strWanted = QFileInfo(strProgram).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
    {
        bool isId = false;
        const qint64 pid = entry.toLongLong(&isId);
        if (isId && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == strWanted && !IsGone(pid))
            ids.append(pid);
    }
    return ids;
}

QString WorkingDirectoryOf(qint64 pid)
{
    return QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
}

QStringList ArgumentsOf(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    const QList<QByteArray> words =
        cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll().split('\0') : QList<QByteArray>();
    QStringList arguments;
    for (int i = 1; i + 1 < words.size(); ++i)
        arguments.append(QString::fromUtf8(words.at(i)));
    return arguments;
}

QString WriteFile(const QString& strFolder, const QString& strName, const QByteArray& content)
{
    QDir().mkpath(strFolder);
    const QString strPath = strFolder + QLatin1Char('/') + strName;
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qWarning("cannot write %s", qPrintable(strPath));
    return QDir::toNativeSeparators(strPath);
}

// The body of an HTTP GET, or a null array when the request fails or takes over 5 s.
QByteArray Fetch(const QString& strURL)
{
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(strURL))));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(5000) || reply->error() != QNetworkReply::NoError)
        return QByteArray();
    return reply->readAll();
}
} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url)
    {
        m_opened.append(url);
        m_busyWhenOpened = BusyCursor();
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void corvanStringConversionRoundTrips_data();
    void corvanStringConversionRoundTrips();
    void fileURL_data();
    void fileURL();
    void launchServesTheFile_data();
    void launchServesTheFile();
    void secondLaunchReplacesTheFirstServer();
    void failureLeavesTheLastLaunchAlone_data();
    void failureLeavesTheLastLaunchAlone();
    void missingProgramOnFirstLaunchShowsNoButton();
    void chattyServerIsHeardAndDropped();
    void browserFailureStillOffersTheURL();
    void closeEndsTheServer();
    void proxyRulesAskOnce_data();
    void proxyRulesAskOnce();

private:
    QPushButton* CopyButton() const
    {
        return m_pWindow->findChild<QPushButton*>(QStringLiteral("copyToClipboardPushButton"));
    }
    QString ProductTitle() const { return QString::fromUtf8(ProductIdentity::Instance()->GetProductTitle()); }

    std::unique_ptr<QTemporaryDir> m_pSite;
    std::unique_ptr<CCorvanHTMLStarter> m_pWindow;
    QList<QUrl> m_opened;
    bool m_busyWhenOpened = false;
    QList<Shown> m_shown;
};

void TestLauncher::initTestCase()
{
    QVERIFY2(QFileInfo(LocalServer::ProgramPath()).isExecutable(),
             qPrintable(LocalServer::ProgramPath() + QStringLiteral(" is not built")));
}

void TestLauncher::init()
{
    m_opened.clear();
    m_busyWhenOpened = false;
    m_pSite = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pSite->isValid());
    m_pWindow = std::make_unique<CCorvanHTMLStarter>();
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    RecordMessages(m_shown);
}

void TestLauncher::cleanup()
{
    m_pWindow.reset(); // and the server with it
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    UserMessage::SetRecorder(nullptr);
    UserMessage::SetAnswerer(nullptr);
    LocalServer::SetFolder(QString());
    qunsetenv("CORVAN_STANDIN_MODE");
    qunsetenv("CORVAN_PROXY_ALLOW");
    QVERIFY2(!QApplication::overrideCursor(), "the busy cursor outlives the launch");
    m_pSite.reset();
}

void TestLauncher::corvanStringConversionRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QStringLiteral("/srv/site/index.html");
    QTest::newRow("empty") << QString();
    QTest::newRow("accents") << QStringLiteral("/tmp/\u00e9t\u00e9/caf\u00e9.html");
    // Outside the 16-bit range: two QChars, one wchar_t on Linux.
    QTest::newRow("beyond 16 bits") << QString::fromUtf8("/tmp/\xF0\x9F\x98\x80/\xF0\x9F\x98\x80.html");
}

void TestLauncher::corvanStringConversionRoundTrips()
{
    QFETCH(QString, text);
    QCOMPARE(ToQString(ToCorvanString(text)), text);
}

void TestLauncher::fileURL_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url");
    QTest::newRow("plain") << "index.html"
                           << "http://localhost:8721/index.html";
    QTest::newRow("unreserved") << "a-b_c.d~e.html"
                                << "http://localhost:8721/a-b_c.d~e.html";
    QTest::newRow("space") << "my page.html"
                           << "http://localhost:8721/my%20page.html";
    QTest::newRow("number sign") << "a#b.html"
                                 << "http://localhost:8721/a%23b.html";
    QTest::newRow("question mark") << "what?.html"
                                   << "http://localhost:8721/what%3F.html";
    QTest::newRow("percent") << "100%.html"
                             << "http://localhost:8721/100%25.html";
    QTest::newRow("non-ASCII") << QStringLiteral("\u00e9t\u00e9.html") << "http://localhost:8721/%C3%A9t%C3%A9.html";
}

void TestLauncher::fileURL()
{
    QFETCH(QString, name);
    QFETCH(QString, url);
    QCOMPARE(LocalServer::FileURL(name), url);
    // What the browser gets is the same address, not a re-read one.
    QCOMPARE(QUrl(url, QUrl::TolerantMode).toEncoded(), url.toLatin1());
}

void TestLauncher::launchServesTheFile_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url");
    QTest::newRow("plain") << ""
                           << "index.html"
                           << "http://localhost:8721/index.html";
    QTest::newRow("space") << ""
                           << "my page.html"
                           << "http://localhost:8721/my%20page.html";
    QTest::newRow("number sign") << ""
                                 << "a#b.html"
                                 << "http://localhost:8721/a%23b.html";
    QTest::newRow("question mark") << ""
                                   << "what?.html"
                                   << "http://localhost:8721/what%3F.html";
    QTest::newRow("percent") << ""
                             << "100%.html"
                             << "http://localhost:8721/100%25.html";
    QTest::newRow("non-ASCII") << "" << QStringLiteral("\u00e9t\u00e9.html")
                               << "http://localhost:8721/%C3%A9t%C3%A9.html";
    QTest::newRow("folder with spaces") << "my site"
                                        << "index.html"
                                        << "http://localhost:8721/index.html";
}

void TestLauncher::launchServesTheFile()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, url);
    const QString strFolder = folder.isEmpty() ? m_pSite->path() : m_pSite->filePath(folder);
    const QByteArray content = "<html><body>" + name.toUtf8() + "</body></html>";
    const QString strDropped = WriteFile(strFolder, name, content);

    m_pWindow->LaunchLocalServer(strDropped);

    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.value(0).text));
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toEncoded(), url.toLatin1());
    QVERIFY2(m_busyWhenOpened, "no busy cursor while the launch blocks the window");
    QCOMPARE(m_pWindow->URL(), url);
    QVERIFY(CopyButton() && !CopyButton()->isHidden());

    Platform::CChildProcess* pServer = m_pWindow->ServerProcess();
    QVERIFY(pServer && pServer->IsRunning());
    QCOMPARE(ArgumentsOf(pServer->Id()), QStringList{QStringLiteral("8721")});
    QCOMPARE(WorkingDirectoryOf(pServer->Id()), QFileInfo(strFolder).canonicalFilePath());
    QCOMPARE(Fetch(url), content);
}

void TestLauncher::secondLaunchReplacesTheFirstServer()
{
    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->filePath("one"), "one.html", "1"));
    QVERIFY(m_pWindow->ServerProcess());
    const qint64 firstId = m_pWindow->ServerProcess()->Id();
    QVERIFY(firstId > 0);

    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->filePath("two"), "two.html", "2"));

    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.value(0).text));
    QVERIFY2(IsGone(firstId), "the first server still runs");
    QVERIFY(m_pWindow->ServerProcess());
    QCOMPARE(RunningInstancesOf(LocalServer::ProgramPath()), QList<qint64>{m_pWindow->ServerProcess()->Id()});
    QCOMPARE(m_pWindow->URL(), QStringLiteral("http://localhost:8721/two.html"));
    QCOMPARE(Fetch(m_pWindow->URL()), QByteArray("2"));
}

enum class Failure
{
    ProgramMissing,
    ProgramNotExecutable,
    PortHeld,
    FolderMissing,
    FolderRefused,
    ServerCrashes,
    ServerHangs,
};
Q_DECLARE_METATYPE(Failure)

void TestLauncher::failureLeavesTheLastLaunchAlone_data()
{
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QStringList>("saying");
    QTest::newRow("program missing") << Failure::ProgramMissing
                                     << QStringList{"the web server program is missing", "/mongoose"};
    QTest::newRow("program not executable")
        << Failure::ProgramNotExecutable << QStringList{"could not be started", "/mongoose", "not executable"};
    QTest::newRow("port held by another program")
        << Failure::PortHeld << QStringList{"port 8721 is in use by the program \"tst_launcher\"", "mongoose: "};
    QTest::newRow("folder missing") << Failure::FolderMissing << QStringList{"gone", "does not exist"};
    QTest::newRow("folder refused") << Failure::FolderRefused << QStringList{"cannot be served", "Permission denied"};
    QTest::newRow("server crashes") << Failure::ServerCrashes << QStringList{"crashed"};
    QTest::newRow("server hangs") << Failure::ServerHangs << QStringList{"within 5 seconds"};
}

void TestLauncher::failureLeavesTheLastLaunchAlone()
{
    QFETCH(Failure, failure);
    QFETCH(QStringList, saying);
    // A launch that works first, so "left alone" means something.
    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->path(), "index.html", "x"));
    QCOMPARE(m_opened.size(), 1);
    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.value(0).text));
    const QString strURL = m_pWindow->URL();

    QString strDropped = WriteFile(m_pSite->filePath("next"), "next.html", "y");
    QTemporaryDir serverFolder;
    QTcpServer holder;
    switch (failure)
    {
    case Failure::ProgramMissing:
        LocalServer::SetFolder(serverFolder.path());
        break;
    case Failure::ProgramNotExecutable:
        WriteFile(serverFolder.path(), QString::fromLatin1(Platform::ServerExecutableName), "not a program");
        LocalServer::SetFolder(serverFolder.path());
        break;
    case Failure::PortHeld:
        // Our earlier server must be gone before this test can take the port.
        m_pWindow->ServerProcess()->Kill();
        if (!holder.listen(QHostAddress::LocalHost, LauncherPort))
            QSKIP("port 8721 is held by something this test did not start");
        break;
    case Failure::FolderMissing:
        strDropped = QDir::toNativeSeparators(m_pSite->filePath("gone/next.html"));
        break;
    case Failure::FolderRefused:
        LocalServer::SetFolder(QStringLiteral(CORVAN_STANDIN_DIR));
        qputenv("CORVAN_STANDIN_MODE", "refuse-folder");
        break;
    case Failure::ServerCrashes:
        LocalServer::SetFolder(QStringLiteral(CORVAN_STANDIN_DIR));
        qputenv("CORVAN_STANDIN_MODE", "crash");
        break;
    case Failure::ServerHangs:
        LocalServer::SetFolder(QStringLiteral(CORVAN_STANDIN_DIR));
        qputenv("CORVAN_STANDIN_MODE", "hang");
        break;
    }

    m_pWindow->LaunchLocalServer(strDropped);

    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown.first().title, ProductTitle());
    for (const QString& words : saying)
        QVERIFY2(m_shown.first().text.contains(words), qPrintable(m_shown.first().text));
    QVERIFY2(!m_shown.first().busyCursor, "the box shows under a busy cursor");
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_pWindow->URL(), strURL);
    QVERIFY(!CopyButton()->isHidden());
    // Nothing the failed launch started may linger (a hung server would hold the port).
    QVERIFY(m_pWindow->ServerProcess() && !m_pWindow->ServerProcess()->IsRunning());
}

void TestLauncher::missingProgramOnFirstLaunchShowsNoButton()
{
    QTemporaryDir emptyFolder;
    LocalServer::SetFolder(emptyFolder.path());

    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->path(), "index.html", "x"));

    QCOMPARE(m_shown.size(), 1);
    QVERIFY(m_opened.isEmpty());
    QVERIFY(m_pWindow->URL().isEmpty());
    QVERIFY(CopyButton()->isHidden());
}

void TestLauncher::chattyServerIsHeardAndDropped()
{
    LocalServer::SetFolder(QStringLiteral(CORVAN_STANDIN_DIR));
    qputenv("CORVAN_STANDIN_MODE", "chatty");

    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->path(), "index.html", "x"));

    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.value(0).text));
    QCOMPARE(m_opened.size(), 1);
    // The stand-in talks on after serving, then leaves a mark; it only gets there if the tool keeps
    // reading its pipes (and keeps none of it: the tool drops what it reads).
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_pSite->filePath("chatty-done")), 30000);
}

void TestLauncher::browserFailureStillOffersTheURL()
{
    // Offscreen without a handler, opening a URL fails and starts nothing.
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->path(), "index.html", "x"));

    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown.first().title, ProductTitle());
    QVERIFY2(m_shown.first().text.contains("http://localhost:8721/index.html"), qPrintable(m_shown.first().text));
    QCOMPARE(m_pWindow->URL(), QStringLiteral("http://localhost:8721/index.html"));
    QVERIFY(!CopyButton()->isHidden());
    QCOMPARE(Fetch(m_pWindow->URL()), QByteArray("x"));
}

void TestLauncher::closeEndsTheServer()
{
    m_pWindow->LaunchLocalServer(WriteFile(m_pSite->path(), "index.html", "x"));
    Platform::CChildProcess* pServer = m_pWindow->ServerProcess();
    QVERIFY(pServer && pServer->IsRunning());
    const qint64 serverId = pServer->Id();

    QToolButton* pClose = m_pWindow->findChild<QToolButton*>(QStringLiteral("closeToolButton"));
    QVERIFY(pClose);
    QTimer::singleShot(0, pClose, &QToolButton::click);
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY2(IsGone(serverId), "the server outlives the tool");
}

void TestLauncher::proxyRulesAskOnce_data()
{
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QByteArray>("allowed"); // what the server is handed
    QTest::newRow("yes, then no") << QList<bool>{true, false} << QByteArray("localhost:3000");
    // A value the tool was started with grants nothing.
    QTest::newRow("no to both") << QList<bool>{false, false} << QByteArray();
}

void TestLauncher::proxyRulesAskOnce()
{
    QFETCH(QList<bool>, answers);
    QFETCH(QByteArray, allowed);
    qputenv("CORVAN_PROXY_ALLOW", "localhost:2375");
    WriteFile(
        m_pSite->path(), "_redirects",
        "/api/* http://localhost:3000/:splat 200\n/v2/* http://LOCALHOST:3000/v2/:splat 200\n"
        "/db/* http://127.0.0.1:5432/ 200\n/ext/* https://example.com/:splat 200\n/me http://localhost:8721/ 200\n");
    QStringList asked;
    UserMessage::SetAnswerer(
        [&](QWidget*, const QString& title, const QString& text)
        {
            asked << title + ": " + text + (m_opened.isEmpty() ? "" : " (after the page opened)");
            return answers.value(asked.size() - 1);
        });
    const QString strPage = WriteFile(m_pSite->path(), "page.html", "x");
    for (int drop = 0; drop < 2; ++drop)
    {
        m_pWindow->LaunchLocalServer(strPage);
        Platform::CChildProcess* pServer = m_pWindow->ServerProcess();
        QCOMPARE(ArgumentsOf(pServer->Id()), QStringList{QStringLiteral("8721")});
        QFile environment(QStringLiteral("/proc/%1/environ").arg(pServer->Id()));
        QVERIFY(environment.open(QIODevice::ReadOnly));
        QByteArrayList handed;
        for (const QByteArray& variable : environment.readAll().split('\0'))
        {
            if (variable.startsWith("CORVAN_PROXY_ALLOW="))
                handed << variable.mid(19);
        }
        QCOMPARE(handed, allowed.isEmpty() ? QByteArrayList() : QByteArrayList{allowed});
    }
    const QString strAsks = ProductTitle() + ": page.html's folder asks to pass %1 on this computer. Allow?";
    QCOMPARE(asked, QStringList({strAsks.arg("/api/* to http://localhost:3000"),
                                 strAsks.arg("/db/* to http://127.0.0.1:5432")}));
    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.value(0).text));
}

QTEST_MAIN(TestLauncher)
#include "tst_launcher.moc"
