// End to end, as a user: the real tool on a real X display (Xvfb), a real drag and drop from another
// program, the real server on the fixed port, and a real browser (headless Chromium, reached through a
// stand-in xdg-open first on PATH). The functions run in order and tell one story: drop a page, drop
// another from elsewhere, drop something that is not a page, copy the address, close.
//
// Environment: CORVAN_E2E_OUTPUT_DIR takes screenshots and logs of a failed function (default: the
// current folder). Exit code 77 means the display or the browser cannot run here (a skip).

#include "CE2eDesktop.h"
#include "E2eSupport.h"
#include "productidentity/ProductRows.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <cstdio>

using Corvan::E2e::CDragSource;
using Corvan::E2e::CE2eDesktop;
using Corvan::E2e::CommandResult;
using Corvan::E2e::ReadFile;
using Corvan::E2e::RunCommand;

namespace
{

const quint16 ServerPort = 8721;
const QSize ScreenSize(1024, 768);
// Where the drag source window sits, well away from the tool at the bottom right.
const QPoint DragSourcePosition(40, 40);
// Button centres inside the tool's 250 x 250 window, as its form lays them out.
const QPoint CloseButtonOffset(236, 11);
const QPoint CopyButtonOffset(30, 240);

const int ShortWaitMs = 10000;
const int BrowserWaitMs = 90000; // a cold headless Chromium on a busy two-core machine

QString BinPath(const QString& strName)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + strName;
}

QString FixturePath(const QString& strName)
{
    return QStringLiteral(CORVAN_E2E_SOURCE_DIR) + QLatin1Char('/') + strName;
}

// A running process started from our server binary, as /proc shows it. Zombies (killed, not yet
// reaped by their parent) no longer serve anything and are left out.
struct ServerProcess
{
    qint64 nPid = 0;
    qint64 nParentPid = 0;
    QString strWorkingDirectory;
};

QList<ServerProcess> LiveServers()
{
    const QString strServer = QFileInfo(BinPath(QStringLiteral("mongoose"))).canonicalFilePath();
    QList<ServerProcess> servers;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
    {
        bool bNumber = false;
        const qint64 nPid = entry.toLongLong(&bNumber);
        if (!bNumber)
            continue;
        const QString strProc = QStringLiteral("/proc/") + entry;
        // Any of these reads may fail because the process just ended: then it is not live anyway.
        QString strExe = QFile::symLinkTarget(strProc + QStringLiteral("/exe"));
        strExe.remove(QStringLiteral(" (deleted)"));
        if (strExe != strServer)
            continue;
        const QByteArray stat = ReadFile(strProc + QStringLiteral("/stat"));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields.at(0) == "Z")
            continue;
        servers.append({nPid, fields.at(1).toLongLong(), QFile::symLinkTarget(strProc + QStringLiteral("/cwd"))});
    }
    return servers;
}

QList<qint64> ServerPids()
{
    QList<qint64> pids;
    for (const ServerProcess& server : LiveServers())
        pids.append(server.nPid);
    return pids;
}

bool ProcessExists(qint64 nPid)
{
    const QByteArray stat = ReadFile(QStringLiteral("/proc/%1/stat").arg(nPid));
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

public:
    explicit TestEndToEnd(CE2eDesktop* pDesktop)
        : m_pDesktop(pDesktop), m_dragSource(*pDesktop, BinPath(QStringLiteral("e2e_dragsource")), DragSourcePosition)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void realDragReachesQtWindow();
    void pageFromDiskDoesNotRun();
    void droppedPageRunsOverHttp();
    void dropFromOtherFolderReplacesServer();
    void unsupportedFileShowsBoxAndOpensNothing();
    void copyUrlPutsAddressOnClipboard();
    void closeButtonEndsToolAndServer();
    void killedToolTakesItsServerAlong();

private:
    QString RecordPath(const QString& strName) const { return m_workDir.filePath(QStringLiteral("record/") + strName); }
    QStringList OpenedUrls() const { return Corvan::E2e::OpenedUrls(RecordPath(QString())); }
    QString MakeSite(const QString& strFolder, const QString& strPageName);
    bool DragOnto(const QString& strFile, const QPoint& target)
    {
        return m_dragSource.DragOnto(strFile, target, ShortWaitMs);
    }
    QPoint ToolCenter() const { return m_toolRect.center(); }
    QList<qulonglong> ToolBoxes() const;
    bool WaitForBox(qulonglong* pBox);
    void DropPageAndCheck(const QString& strPage, const QString& strExpectedUrl);

    CE2eDesktop* m_pDesktop;
    QTemporaryDir m_workDir;
    QString m_strOutputDir;
    QProcess m_tool;
    QRect m_toolRect;
    qulonglong m_nToolWindow = 0;
    CDragSource m_dragSource;
    QList<qint64> m_serverPids; // every server the tool started during this run
    int m_nSiteCount = 0;
    int m_nOpenedByDrops = -1; // URLs opened once every drop is done, -1 before
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    QVERIFY(QDir().mkpath(RecordPath(QString())));
    m_strOutputDir = qEnvironmentVariable("CORVAN_E2E_OUTPUT_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(m_strOutputDir));

    QProcessEnvironment environment = m_pDesktop->Environment();
    environment.insert(QStringLiteral("PATH"), BinPath(QStringLiteral("e2e-opener")) + QLatin1Char(':') +
                                                   environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("CORVAN_E2E_RECORD_DIR"), RecordPath(QString()));
    m_tool.setProcessEnvironment(environment);
    m_tool.setProcessChannelMode(QProcess::MergedChannels);
    m_tool.setStandardOutputFile(RecordPath(QStringLiteral("tool.log")));
    m_tool.start(BinPath(QStringLiteral("corvan-html-starter")), QStringList());
    QVERIFY2(m_tool.waitForStarted(ShortWaitMs), qPrintable(m_tool.errorString()));

    // The window is there once X lists it as visible; no window manager moves it afterwards.
    QTRY_VERIFY2_WITH_TIMEOUT(
        !m_pDesktop->VisibleWindowsOf(m_tool.processId()).isEmpty(),
        qPrintable(QStringLiteral("no window; tool %1, exit code %2, said: %3")
                       .arg(m_tool.state() == QProcess::Running ? "running" : "ended")
                       .arg(m_tool.exitCode())
                       .arg(QString::fromLocal8Bit(ReadFile(RecordPath(QStringLiteral("tool.log")))))),
        ShortWaitMs);
    m_nToolWindow = m_pDesktop->VisibleWindowsOf(m_tool.processId()).first();
    QCOMPARE(m_pDesktop->WindowName(m_nToolWindow), QStringLiteral("Corvan HTML Starter"));
    m_toolRect = m_pDesktop->WindowGeometry(m_nToolWindow);
    QCOMPARE(m_toolRect.size(), QSize(250, 250));
}

void TestEndToEnd::init()
{
    m_pDesktop->Screenshot(m_workDir.filePath(QStringLiteral("before.png")));
}

void TestEndToEnd::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    Corvan::E2e::KeepFailureOutput(*m_pDesktop, m_strOutputDir, m_workDir.filePath(QStringLiteral("before.png")),
                                   RecordPath(QString()), m_dragSource.Output());

    // A box left open would block every later function; close it, now that it is on the screenshot.
    for (const qulonglong nBox : ToolBoxes())
        m_pDesktop->PressKeyIn(nBox, QStringLiteral("Return"));
}

void TestEndToEnd::cleanupTestCase()
{
    m_dragSource.Stop();
    // Only after a failure is anything of this run left: servers the tool started (seen earlier or
    // still its children) and the tool itself, each ended by its own id.
    const qint64 nToolPid = m_tool.state() != QProcess::NotRunning ? m_tool.processId() : -1;
    for (const ServerProcess& server : LiveServers())
    {
        if (m_serverPids.contains(server.nPid) || server.nParentPid == nToolPid)
            ::kill(static_cast<pid_t>(server.nPid), SIGKILL);
    }
    if (nToolPid > 0)
    {
        m_tool.kill();
        m_tool.waitForFinished(5000);
    }
}

// Copies the site fixture into a new folder of the work folder, the page under strPageName. Each copy's
// page carries its own number, so a page served from an older folder is told apart from it.
QString TestEndToEnd::MakeSite(const QString& strFolder, const QString& strPageName)
{
    const QString strDir = m_workDir.filePath(strFolder);
    if (!QDir().mkpath(strDir))
        return QString();
    return Corvan::E2e::CopySite(FixturePath(QStringLiteral("site")), strDir, strPageName, ++m_nSiteCount);
}

QList<qulonglong> TestEndToEnd::ToolBoxes() const
{
    QList<qulonglong> windows = m_pDesktop->VisibleWindowsOf(m_tool.processId());
    windows.removeAll(m_nToolWindow);
    return windows;
}

bool TestEndToEnd::WaitForBox(qulonglong* pBox)
{
    if (!QTest::qWaitFor([&]() { return ToolBoxes().size() == 1; }, ShortWaitMs))
        return false;
    *pBox = ToolBoxes().first();
    return true;
}

// Drops strPage onto the tool, then checks that exactly strExpectedUrl was opened, that the server
// answers with this very page, and that Chromium ran the page's module, fetch and WebAssembly. Prints
// the times from the release for the benchmark script.
void TestEndToEnd::DropPageAndCheck(const QString& strPage, const QString& strExpectedUrl)
{
    const int nOpenedBefore = OpenedUrls().size();
    QVERIFY2(DragOnto(strPage, ToolCenter()), m_dragSource.Output().constData());

    const QByteArray expectedBody = ReadFile(strPage);
    const QString strDomPath = RecordPath(QStringLiteral("dom-%1.html").arg(nOpenedBefore + 1));
    qint64 nOpenMs = -1;
    qint64 nServerMs = -1;
    qint64 nPageMs = -1;
    qint64 nBoxCheckMs = 0;
    bool bBoxShown = false;
    // All three are checked below, each with its own message. A box from the tool (a launch that
    // failed) ends the wait at once; it is looked for only now and then, as each look starts a process.
    (void)QTest::qWaitFor(
        [&]()
        {
            const qint64 nNowMs = m_dragSource.MsSinceRelease();
            if (nNowMs - nBoxCheckMs > 250)
            {
                nBoxCheckMs = nNowMs;
                bBoxShown = !ToolBoxes().isEmpty();
                if (bBoxShown)
                    return true;
            }
            if (nOpenMs < 0 && OpenedUrls().size() > nOpenedBefore)
                nOpenMs = nNowMs;
            if (nServerMs < 0 &&
                Corvan::E2e::HttpGet(ServerPort, QUrl(strExpectedUrl).path(QUrl::FullyEncoded)).body == expectedBody)
                nServerMs = nNowMs;
            if (nPageMs < 0 && QFile::exists(strDomPath))
                nPageMs = nNowMs;
            return nOpenMs >= 0 && nServerMs >= 0 && nPageMs >= 0;
        },
        BrowserWaitMs);
    QVERIFY2(!bBoxShown, "the tool showed a message box instead (see the screenshot)");
    QVERIFY2(nServerMs >= 0, "the server never answered with the dropped page");
    QVERIFY2(nOpenMs >= 0, "no address was handed to the browser");
    QCOMPARE(OpenedUrls().mid(nOpenedBefore), QStringList{strExpectedUrl});
    QVERIFY2(nPageMs >= 0, "Chromium never finished the page");

    const QString strDom = QString::fromUtf8(ReadFile(strDomPath));
    QVERIFY2(strDom.contains(QStringLiteral("<body data-state=\"done\">")), qPrintable(strDom));
    QVERIFY2(strDom.contains(QStringLiteral("<p id=\"result\">module-import-ok fetch-ok wasm-add=5</p>")),
             qPrintable(strDom));
    // Read by bench/drop-to-page.sh. The page time includes the start of a cold headless Chromium.
    std::printf("timing: release-to-server-ms=%lld release-to-open-ms=%lld release-to-page-ms=%lld\n",
                static_cast<long long>(nServerMs), static_cast<long long>(nOpenMs), static_cast<long long>(nPageMs));
    std::fflush(stdout);

    // Exactly one server runs, the tool's child, in the dropped page's folder.
    const QString strFolder = QFileInfo(strPage).canonicalPath();
    QTRY_COMPARE_WITH_TIMEOUT(LiveServers().size(), 1, ShortWaitMs);
    const ServerProcess server = LiveServers().first();
    QCOMPARE(server.nParentPid, m_tool.processId());
    QCOMPARE(server.strWorkingDirectory, strFolder);
    m_serverPids.append(server.nPid);
}

void TestEndToEnd::realDragReachesQtWindow()
{
    // The harness itself, without the tool: if this fails, nothing below can be trusted.
    const QString strFile = m_workDir.filePath(QStringLiteral("a b #1.html"));
    QProcess target;
    target.setProcessEnvironment(m_pDesktop->Environment());
    target.start(BinPath(QStringLiteral("e2e_droptarget")), {QStringLiteral("300"), QStringLiteral("100")});
    QVERIFY(target.waitForStarted(ShortWaitMs));
    QByteArray output;
    QVERIFY(QTest::qWaitFor(
        [&]()
        {
            output += target.readAllStandardOutput();
            return output.contains("ready\n");
        },
        ShortWaitMs));

    QVERIFY2(DragOnto(strFile, QPoint(400, 200)), m_dragSource.Output().constData());
    const QByteArray expected = "dropped " + QUrl::fromLocalFile(strFile).toEncoded() + '\n';
    QVERIFY2(QTest::qWaitFor(
                 [&]()
                 {
                     output += target.readAllStandardOutput();
                     return output.contains(expected);
                 },
                 ShortWaitMs),
             output.constData());
    QVERIFY(target.waitForFinished(ShortWaitMs));
}

void TestEndToEnd::pageFromDiskDoesNotRun()
{
    // The same page straight from disk: the browser blocks its module, so nothing of it runs. This is
    // what the tool exists to avoid. The stand-in URL handler is called directly, with the same flags.
    const QString strPage = MakeSite(QStringLiteral("from-disk"), QStringLiteral("index.html"));
    QVERIFY(!strPage.isEmpty());
    const int nOpenedBefore = OpenedUrls().size();
    QProcessEnvironment environment = m_pDesktop->Environment();
    environment.insert(QStringLiteral("CORVAN_E2E_RECORD_DIR"), RecordPath(QString()));
    const CommandResult result =
        RunCommand(FixturePath(QStringLiteral("stub-bin/xdg-open")),
                   {QString::fromLatin1(QUrl::fromLocalFile(strPage).toEncoded())}, environment, BrowserWaitMs);
    QVERIFY2(result.Succeeded(), result.stdErr.constData());
    const QString strDom =
        QString::fromUtf8(ReadFile(RecordPath(QStringLiteral("dom-%1.html").arg(nOpenedBefore + 1))));
    QVERIFY2(strDom.contains(QStringLiteral("<p id=\"result\">not run</p>")), qPrintable(strDom));
    QVERIFY2(strDom.contains(QStringLiteral("<body>")), qPrintable(strDom));
}

void TestEndToEnd::droppedPageRunsOverHttp()
{
    const QString strPage = MakeSite(QStringLiteral("site-%1").arg(m_nSiteCount + 1), QStringLiteral("index.html"));
    QVERIFY(!strPage.isEmpty());
    DropPageAndCheck(strPage, QStringLiteral("http://localhost:8721/index.html"));
}

void TestEndToEnd::dropFromOtherFolderReplacesServer()
{
    // A name with blanks and a number sign, in a folder with blanks: the address must carry them
    // percent-encoded, or the browser asks for another file.
    QVERIFY2(!m_serverPids.isEmpty(), "needs the server of the earlier drop");
    const qint64 nEarlierServer = m_serverPids.last();
    const QString strPage = MakeSite(QStringLiteral("folder with spaces"), QStringLiteral("my page #1.html"));
    QVERIFY(!strPage.isEmpty());
    DropPageAndCheck(strPage, QStringLiteral("http://localhost:8721/my%20page%20%231.html"));
    QVERIFY(!ProcessExists(nEarlierServer));
}

void TestEndToEnd::unsupportedFileShowsBoxAndOpensNothing()
{
    const QString strNotes = m_workDir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(QFile::copy(FixturePath(QStringLiteral("site/notes.txt")), strNotes));
    const QStringList openedBefore = OpenedUrls();
    const QList<qint64> serversBefore = ServerPids();

    QVERIFY2(DragOnto(strNotes, ToolCenter()), m_dragSource.Output().constData());
    qulonglong nBox = 0;
    QVERIFY2(WaitForBox(&nBox), "no message box appeared");
    const QString strTitle = QString::fromUtf8(Corvan::SelectProductRow("corvan-html-starter").pszProductTitle);
    QCOMPARE(m_pDesktop->WindowName(nBox), strTitle);
    QVERIFY(QTest::qWaitFor(
        [&]()
        {
            return m_pDesktop->PressKeyIn(nBox, QStringLiteral("Return")) &&
                   QTest::qWaitFor([&]() { return ToolBoxes().isEmpty(); }, 1000);
        },
        ShortWaitMs));

    // The box was the drop's last step, so the drop is over: nothing was opened (the later functions
    // check again, in case an opening were late) and the server is untouched.
    QCOMPARE(OpenedUrls(), openedBefore);
    m_nOpenedByDrops = openedBefore.size();
    QCOMPARE(ServerPids(), serversBefore);
}

void TestEndToEnd::copyUrlPutsAddressOnClipboard()
{
    QVERIFY2(!OpenedUrls().isEmpty(), "needs an earlier drop");
    QVERIFY(m_pDesktop->Click(m_toolRect.topLeft() + CopyButtonOffset));
    qulonglong nBox = 0;
    QVERIFY2(WaitForBox(&nBox), "no confirmation box appeared");
    QCOMPARE(m_pDesktop->WindowName(nBox), QStringLiteral("Corvan"));
    // The tool answers the clipboard request while its box is open, as any desktop program may ask.
    const QString strClipboard = m_pDesktop->ClipboardText();
    QVERIFY(QTest::qWaitFor(
        [&]()
        {
            return m_pDesktop->PressKeyIn(nBox, QStringLiteral("Return")) &&
                   QTest::qWaitFor([&]() { return ToolBoxes().isEmpty(); }, 1000);
        },
        ShortWaitMs));
    if (m_nOpenedByDrops >= 0)
        QCOMPARE(OpenedUrls().size(), m_nOpenedByDrops);
    // The text may be written with blanks or percent-encoded; either way it must name the page opened.
    QCOMPARE(QUrl(strClipboard, QUrl::TolerantMode), QUrl(OpenedUrls().last()));
}

void TestEndToEnd::closeButtonEndsToolAndServer()
{
    QVERIFY(m_pDesktop->Click(m_toolRect.topLeft() + CloseButtonOffset));
    QVERIFY2(m_tool.waitForFinished(ShortWaitMs), "the tool did not exit after its close button");
    QCOMPARE(m_tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_tool.exitCode(), 0);
    for (const qint64 nPid : qAsConst(m_serverPids))
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(nPid), ShortWaitMs);
    QVERIFY(LiveServers().isEmpty());
    if (m_nOpenedByDrops >= 0)
        QCOMPARE(OpenedUrls().size(), m_nOpenedByDrops);
}

void TestEndToEnd::killedToolTakesItsServerAlong()
{
    // A tool given its page on the command line serves it at once; however it ends, its server ends.
    QProcess tool;
    tool.setProcessEnvironment(m_tool.processEnvironment());
    tool.start(BinPath(QStringLiteral("corvan-html-starter")),
               {MakeSite(QStringLiteral("killed"), QStringLiteral("index.html"))});
    QVERIFY2(tool.waitForStarted(ShortWaitMs), qPrintable(tool.errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(LiveServers().size(), 1, ShortWaitMs);
    m_serverPids << LiveServers().first().nPid;
    QCOMPARE(::kill(pid_t(tool.processId()), SIGKILL), 0);
    QVERIFY(tool.waitForFinished(ShortWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(m_serverPids.last()), ShortWaitMs);
}

namespace
{

// The suite cannot run without a display server, xdotool, xclip and a browser: missing ones make it a
// skip, reported as such, never a pass.
QStringList MissingPrograms()
{
    QStringList missing;
    for (const QString& strProgram :
         {QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("xclip"), QStringLiteral("chromium")})
    {
        if (QStandardPaths::findExecutable(strProgram).isEmpty())
            missing.append(strProgram);
    }
    return missing;
}

} // namespace

int main(int argc, char* argv[])
{
    return Corvan::E2e::RunOnDesktop<TestEndToEnd>(argc, argv, &MissingPrograms,
                                                   QStringLiteral("make test-deps installs them"), ScreenSize);
}

#include "tst_e2e.moc"
