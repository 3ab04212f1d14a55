// The Windows release under wine, as a user meets it: the release zip unpacked into a folder whose
// name has blanks, CorvanHTMLStarter.exe run by wine64 in a private prefix on a private X display
// (Xvfb), a real drag from the stand-in file manager (wine hands X11 drops to the OLE drop target
// that Qt registers), mongoose.exe serving on the fixed port, and headless Chromium on the Linux side,
// reached through wine's winebrowser and the suite's stand-in xdg-open. Then the installer, silently.
// The functions run in order and tell one story.
//
// Environment (scripts/windows-e2e.sh sets it):
//   CORVAN_WINDOWS_ZIP          the release zip
//   CORVAN_WINDOWS_SETUP        the release installer
//   CORVAN_WINDOWS_HELPERS      the suite's Windows helpers: standin-server.exe (idles, started as a
//                               stale mongoose.exe) and press-return.exe (see wine_press_return.cpp)
//   CORVAN_E2E_OUTPUT_DIR       screenshots and logs of a failed function (default: current folder)
//   CORVAN_E2E_SCREENSHOT_DIR   optional: where the window and the refusal box are saved as PNG
//   CORVAN_E2E_WINEDEBUG        optional: wine's debug channels, for the logs of a failed run
// Exit code 77 means a program the suite needs is missing (a skip).

#include "CE2eDesktop.h"
#include "E2eSupport.h"
#include "tests/support/HeadlessBrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

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
// The tool sits 5 pixels from the right and 45 from the bottom of the screen.
const QRect ExpectedToolRect(1024 - 250 - 5, 768 - 250 - 45, 250, 250);
const QPoint DragSourcePosition(40, 40);
const QPoint CloseButtonOffset(236, 11);
const QPoint CopyButtonOffset(30, 240);

const QString Wine64 = QStringLiteral("/usr/lib/wine/wine64");
const QString WineServer = QStringLiteral("/usr/lib/wine/wineserver");
const QString ToolTitle = QStringLiteral("Corvan HTML Starter");

const int ShortWaitMs = 10000;
const int WineStartMs = 60000;   // a Qt program's first start in a fresh prefix
const int BrowserWaitMs = 90000; // a cold headless Chromium on a busy two-core machine
const int InstallerWaitMs = 120000;

QString BinPath(const QString& strName)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + strName;
}

QString FixturePath(const QString& strName)
{
    return QStringLiteral(CORVAN_E2E_SOURCE_DIR) + QLatin1Char('/') + strName;
}

bool ProcessExists(qint64 nPid)
{
    const QByteArray stat = ReadFile(QStringLiteral("/proc/%1/stat").arg(nPid));
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

QString RegexFor(const QString& strTitle)
{
    return QLatin1Char('^') + QRegularExpression::escape(strTitle) + QLatin1Char('$');
}

} // namespace

class TestWindowsRelease : public QObject
{
    Q_OBJECT

public:
    explicit TestWindowsRelease(CE2eDesktop* pDesktop)
        : m_pDesktop(pDesktop), m_dragSource(*pDesktop, BinPath(QStringLiteral("e2e_dragsource")), DragSourcePosition)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void staleServerRunsBeforeTheFirstDrop();
    void droppedPageRunsOverHttp();
    void savedFileReloadsPage();
    void wrongCaseNameShowsNotice();
    void siteRulesFileApplies();
    void unsupportedFileShowsBox();
    void copyUrlReachesX11Clipboard();
    void proxyRuleReachesAnApi();
    void renamedCopyCarriesItsBranding();
    void closeButtonEndsToolAndServer();
    void installerInstallsAndUninstallsCleanly();

private:
    QString RecordPath(const QString& strName) const { return m_workDir.filePath(QStringLiteral("record/") + strName); }
    QString PrefixPath(const QString& strName) const { return m_strPrefix + QLatin1Char('/') + strName; }
    static QString HelperPath(const QString& strName)
    {
        return qEnvironmentVariable("CORVAN_WINDOWS_HELPERS") + QLatin1Char('/') + strName;
    }
    QStringList OpenedUrls() const { return Corvan::E2e::OpenedUrls(RecordPath(QString())); }
    QProcessEnvironment WineEnvironment() const;
    CommandResult RunWine(const QStringList& args, int nTimeoutMs) const;
    bool StartTool(QProcess& tool, const QString& strExe, qulonglong* pWindow, QRect* pRect);
    bool CloseTool(QProcess& tool, const QRect& toolRect, QString* pWhy);
    QList<qint64> WineProcesses(const QString& strExeName) const;
    // The one visible window titled strTitle, besides nOther.
    bool WaitForWindow(const QString& strTitle, qulonglong* pWindow, int nTimeoutMs, qulonglong nOther = 0) const;
    // Presses Return in the box (or Y, with bYes) until it is gone.
    bool CloseBox(qulonglong nBox, bool bYes = false) const;
    bool SaveShot(qulonglong nWindow, const QString& strName) const;
    QSet<QString> UserFiles() const;
    QStringList RegistryLinesMentioning(const QString& strWord) const;

    CE2eDesktop* m_pDesktop;
    CDragSource m_dragSource;
    QTemporaryDir m_workDir;
    QString m_strPrefix;
    QString m_strAppDir;
    QString m_strOutputDir;
    QProcess m_tool;
    QProcess m_staleServer;
    qulonglong m_nToolWindow = 0;
    QRect m_toolRect;
    QString m_strPage;
    QString m_strPageUrl;
    QList<qint64> m_serverPids; // every mongoose.exe seen serving, as Linux processes
    qint64 m_nStalePid = 0;
    int m_nSiteCount = 0;
};

QProcessEnvironment TestWindowsRelease::WineEnvironment() const
{
    QProcessEnvironment environment = m_pDesktop->Environment();
    environment.insert(QStringLiteral("WINEPREFIX"), m_strPrefix);
    // CORVAN_E2E_WINEDEBUG (e.g. "err+all") puts wine's own messages into the tool's log.
    environment.insert(QStringLiteral("WINEDEBUG"),
                       qEnvironmentVariable("CORVAN_E2E_WINEDEBUG", QStringLiteral("-all")));
    // No Mono or Gecko prompts, and no menu entries written into the host's desktop for the
    // installer's Start menu shortcut.
    environment.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml,winemenubuilder.exe="));
    // File names cross from Linux to Windows as UTF-8.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // winebrowser hands URLs to the host's xdg-open: the stand-in records them and runs Chromium.
    environment.insert(QStringLiteral("PATH"), FixturePath(QStringLiteral("stub-bin")) + QLatin1Char(':') +
                                                   environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("CORVAN_E2E_RECORD_DIR"), RecordPath(QString()));
    return environment;
}

CommandResult TestWindowsRelease::RunWine(const QStringList& args, int nTimeoutMs) const
{
    return RunCommand(Wine64, args, WineEnvironment(), nTimeoutMs);
}

QList<qint64> TestWindowsRelease::WineProcesses(const QString& strExeName) const
{
    // wine names each process after its executable (cut to 15 bytes, as every process name is) and
    // hands WINEPREFIX down to every process it starts, so the prefix tells ours apart.
    const QByteArray name = strExeName.toUtf8().left(15);
    const QByteArray prefix = "WINEPREFIX=" + m_strPrefix.toUtf8() + '\0';
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
    {
        bool bNumber = false;
        const qint64 nPid = entry.toLongLong(&bNumber);
        if (!bNumber || ReadFile(QStringLiteral("/proc/%1/comm").arg(nPid)).trimmed() != name)
            continue;
        if (ProcessExists(nPid) && ReadFile(QStringLiteral("/proc/%1/environ").arg(nPid)).contains(prefix))
            pids.append(nPid);
    }
    return pids;
}

bool TestWindowsRelease::WaitForWindow(const QString& strTitle, qulonglong* pWindow, int nTimeoutMs,
                                       qulonglong nOther) const
{
    QList<qulonglong> windows;
    if (!QTest::qWaitFor(
            [&]()
            {
                windows = m_pDesktop->VisibleWindowsNamed(RegexFor(strTitle));
                windows.removeAll(nOther);
                return windows.size() == 1;
            },
            nTimeoutMs))
        return false;
    *pWindow = windows.first();
    return true;
}

bool TestWindowsRelease::CloseBox(qulonglong nBox, bool bYes) const
{
    // Return, posted to the box by a Windows helper: X11 keys do not reach a box shown during a drop.
    const QString strTitle = m_pDesktop->WindowName(nBox);
    return QTest::qWaitFor(
        [&]()
        {
            QStringList args{HelperPath(QStringLiteral("press-return.exe")), strTitle};
            if (bYes)
                args.append(QStringLiteral("Y"));
            return RunWine(args, ShortWaitMs).Succeeded() &&
                   QTest::qWaitFor([&]() { return m_pDesktop->VisibleWindowsNamed(RegexFor(strTitle)).isEmpty(); },
                                   1000);
        },
        ShortWaitMs);
}

bool TestWindowsRelease::SaveShot(qulonglong nWindow, const QString& strName) const
{
    const QString strDir = qEnvironmentVariable("CORVAN_E2E_SCREENSHOT_DIR");
    if (strDir.isEmpty())
        return true;
    // Shot until the window shows more than its background: wine maps it before Qt has painted.
    const QString strPath = QDir(strDir).filePath(strName);
    return QTest::qWaitFor(
        [&]()
        {
            if (!m_pDesktop->WindowScreenshot(nWindow, strPath))
                return false;
            const CommandResult colours = RunCommand(QStringLiteral("/usr/bin/identify"),
                                                     {QStringLiteral("-format"), QStringLiteral("%k"), strPath},
                                                     QProcessEnvironment::systemEnvironment(), ShortWaitMs);
            return colours.Succeeded() && colours.stdOut.trimmed().toInt() > 8;
        },
        ShortWaitMs);
}

bool TestWindowsRelease::StartTool(QProcess& tool, const QString& strExe, qulonglong* pWindow, QRect* pRect)
{
    tool.setProcessEnvironment(WineEnvironment());
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.setStandardOutputFile(RecordPath(QFileInfo(strExe).completeBaseName() + QStringLiteral(".log")),
                               QIODevice::Append);
    // Started from elsewhere: the tool must find mongoose.exe beside itself, not in its working folder.
    tool.setWorkingDirectory(m_workDir.path());
    tool.start(Wine64, {strExe});
    // The main tool's window is told apart only while it exists: X hands a closed client's window
    // ids to the next client, so a later tool's window may carry the same id.
    const qulonglong nOther = m_tool.state() == QProcess::NotRunning ? 0 : m_nToolWindow;
    if (!tool.waitForStarted(ShortWaitMs) || !WaitForWindow(ToolTitle, pWindow, WineStartMs, nOther))
        return false;
    *pRect = m_pDesktop->WindowGeometry(*pWindow);
    return true;
}

bool TestWindowsRelease::CloseTool(QProcess& tool, const QRect& toolRect, QString* pWhy)
{
    if (!m_pDesktop->Click(toolRect.topLeft() + CloseButtonOffset))
        *pWhy = QStringLiteral("xdotool could not click");
    else if (!tool.waitForFinished(ShortWaitMs))
        *pWhy = QStringLiteral("the tool did not exit after its close button");
    else if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        *pWhy = QStringLiteral("the tool exited with code %1").arg(tool.exitCode());
    else
        return true;
    return false;
}

void TestWindowsRelease::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    QVERIFY(QDir().mkpath(RecordPath(QString())));
    m_strOutputDir = qEnvironmentVariable("CORVAN_E2E_OUTPUT_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(m_strOutputDir));
    const QString strZip = qEnvironmentVariable("CORVAN_WINDOWS_ZIP");
    const QString strStandIn = HelperPath(QStringLiteral("standin-server.exe"));
    QVERIFY2(QFileInfo::exists(strZip), "CORVAN_WINDOWS_ZIP must name the release zip");
    QVERIFY2(QFileInfo::exists(strStandIn), "CORVAN_WINDOWS_HELPERS must name the folder of the Windows helpers");

    // Unpacked as a user would, into a folder whose name has blanks.
    const QString strApps = m_workDir.filePath(QStringLiteral("Corvan apps"));
    QVERIFY(QDir().mkpath(strApps));
    const CommandResult unzip =
        RunCommand(QStringLiteral("unzip"), {QStringLiteral("-q"), strZip, QStringLiteral("-d"), strApps},
                   QProcessEnvironment::systemEnvironment(), ShortWaitMs);
    QVERIFY2(unzip.Succeeded(), unzip.stdErr.constData());
    const QStringList unpacked = QDir(strApps).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(unpacked.size(), 1);
    m_strAppDir = strApps + QLatin1Char('/') + unpacked.first();
    QVERIFY(QFileInfo::exists(m_strAppDir + QStringLiteral("/CorvanHTMLStarter.exe")));

    m_strPrefix = m_workDir.filePath(QStringLiteral("wineprefix"));
    const CommandResult boot = RunWine({QStringLiteral("wineboot"), QStringLiteral("--init")}, InstallerWaitMs);
    QVERIFY2(boot.Succeeded(), boot.stdErr.constData());

    // A server left over from an earlier run of the tool: the first drop must end it.
    const QString strStaleDir = m_workDir.filePath(QStringLiteral("stale server"));
    QVERIFY(QDir().mkpath(strStaleDir));
    QVERIFY(QFile::copy(strStandIn, strStaleDir + QStringLiteral("/mongoose.exe")));
    m_staleServer.setProcessEnvironment(WineEnvironment());
    m_staleServer.setProcessChannelMode(QProcess::ForwardedChannels);
    m_staleServer.start(Wine64, {strStaleDir + QStringLiteral("/mongoose.exe")});
    QVERIFY(m_staleServer.waitForStarted(ShortWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(WineProcesses(QStringLiteral("mongoose.exe")).size(), 1, WineStartMs);
    m_nStalePid = WineProcesses(QStringLiteral("mongoose.exe")).first();

    QVERIFY2(StartTool(m_tool, m_strAppDir + QStringLiteral("/CorvanHTMLStarter.exe"), &m_nToolWindow, &m_toolRect),
             "the tool's window did not appear");
    QCOMPARE(m_toolRect, ExpectedToolRect);
    QVERIFY(SaveShot(m_nToolWindow, QStringLiteral("screenshot-windows.png")));
}

void TestWindowsRelease::init()
{
    m_pDesktop->Screenshot(m_workDir.filePath(QStringLiteral("before.png")));
}

void TestWindowsRelease::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    Corvan::E2e::KeepFailureOutput(*m_pDesktop, m_strOutputDir, m_workDir.filePath(QStringLiteral("before.png")),
                                   RecordPath(QString()), m_dragSource.Output());
}

void TestWindowsRelease::cleanupTestCase()
{
    m_dragSource.Stop();
    // Everything still running in the private prefix (only after a failure) ends with its server.
    if (!m_strPrefix.isEmpty())
        RunCommand(WineServer, {QStringLiteral("-k")}, WineEnvironment(), ShortWaitMs);
    for (QProcess* pProcess : {&m_tool, &m_staleServer})
    {
        if (pProcess->state() != QProcess::NotRunning)
        {
            pProcess->kill();
            pProcess->waitForFinished(5000);
        }
    }
}

void TestWindowsRelease::staleServerRunsBeforeTheFirstDrop()
{
    // The stand-in must still be up, or the first drop proves nothing about the sweep.
    QVERIFY(ProcessExists(m_nStalePid));
    QCOMPARE(m_staleServer.state(), QProcess::Running);
}

void TestWindowsRelease::droppedPageRunsOverHttp()
{
    // Blanks, a number sign and letters beyond ASCII in the name, in a folder with a name beyond ASCII:
    // every one of them crosses wine's drop, the server's UTF-16 file names and the percent-encoding.
    ++m_nSiteCount;
    const QString strFolder = m_workDir.filePath(
        QStringLiteral("my site ä") + (m_nSiteCount > 1 ? QStringLiteral(" %1").arg(m_nSiteCount) : QString()));
    QVERIFY(QDir().mkpath(strFolder));
    m_strPage = Corvan::E2e::CopySite(FixturePath(QStringLiteral("site")), strFolder,
                                      QStringLiteral("Ünïcode page #2.html"), m_nSiteCount);
    QVERIFY(!m_strPage.isEmpty());
    m_strPageUrl = QStringLiteral("http://localhost:8721/%C3%9Cn%C3%AFcode%20page%20%232.html");
    const int nOpenedBefore = OpenedUrls().size();

    QVERIFY2(m_dragSource.DragOnto(m_strPage, m_toolRect.center(), ShortWaitMs), m_dragSource.Output().constData());

    const QByteArray expectedBody = ReadFile(m_strPage);
    const QString strDomPath = RecordPath(QStringLiteral("dom-%1.html").arg(nOpenedBefore + 1));
    qint64 nOpenMs = -1;
    qint64 nServerMs = -1;
    qint64 nPageMs = -1;
    (void)QTest::qWaitFor(
        [&]()
        {
            const qint64 nNowMs = m_dragSource.MsSinceRelease();
            if (nOpenMs < 0 && OpenedUrls().size() > nOpenedBefore)
                nOpenMs = nNowMs;
            if (nServerMs < 0 &&
                Corvan::E2e::HttpGet(ServerPort, QUrl(m_strPageUrl).path(QUrl::FullyEncoded)).body == expectedBody)
                nServerMs = nNowMs;
            if (nPageMs < 0 && QFile::exists(strDomPath))
                nPageMs = nNowMs;
            return nOpenMs >= 0 && nServerMs >= 0 && nPageMs >= 0;
        },
        BrowserWaitMs);
    QVERIFY2(nServerMs >= 0, "mongoose.exe never answered with the dropped page");
    QVERIFY2(nOpenMs >= 0, "no address reached the browser");
    QCOMPARE(OpenedUrls().mid(nOpenedBefore), QStringList{m_strPageUrl});
    QVERIFY2(nPageMs >= 0, "Chromium never finished the page");
    const QString strDom = QString::fromUtf8(ReadFile(strDomPath));
    QVERIFY2(strDom.contains(QStringLiteral("<p id=\"result\">module-import-ok fetch-ok wasm-add=5</p>")),
             qPrintable(strDom));
    // Read by bench/drop-to-url-wine.sh.
    std::printf("timing: release-to-server-ms=%lld release-to-open-ms=%lld release-to-page-ms=%lld\n",
                static_cast<long long>(nServerMs), static_cast<long long>(nOpenMs), static_cast<long long>(nPageMs));
    std::fflush(stdout);

    // The folder's listing names the page in UTF-8 and links it percent-encoded.
    const QByteArray listing = Corvan::E2e::HttpGet(ServerPort, QStringLiteral("/")).body;
    QVERIFY2(listing.contains("href=\"%C3%9Cn%C3%AFcode%20page%20%232.html\"") &&
                 listing.contains(QStringLiteral("Ünïcode page #2.html").toUtf8()),
             listing.constData());

    // The stale server and the server of an earlier drop are gone, and exactly one server runs: the
    // one that just answered.
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(m_nStalePid), ShortWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_staleServer.state(), QProcess::NotRunning, ShortWaitMs);
    if (!m_serverPids.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(m_serverPids.last()), ShortWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(WineProcesses(QStringLiteral("mongoose.exe")).size(), 1, ShortWaitMs);
    m_serverPids.append(WineProcesses(QStringLiteral("mongoose.exe")).first());
}

void TestWindowsRelease::savedFileReloadsPage()
{
    QVERIFY2(!m_strPage.isEmpty(), "needs the dropped page");
    const QString strChromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    CorvanTest::CHeadlessBrowser browser;
    QString strError;
    QVERIFY2(browser.Start(strChromium, m_strPageUrl, strError), qPrintable(strError));
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate(QStringLiteral("document.body ? document.body.dataset.state : ''")),
                              QStringLiteral("done"), BrowserWaitMs);

    // The page's socket opens just after its load, and a save before that passes unseen: the save
    // is repeated, each time with a new mark, until the page shows one.
    const QByteArray original = ReadFile(m_strPage);
    const QString strShown = QStringLiteral("document.getElementById('saved') ? "
                                            "document.getElementById('saved').textContent : ''");
    QString strMark;
    for (int nAttempt = 1; nAttempt <= 10; ++nAttempt)
    {
        QFile page(m_strPage);
        QVERIFY(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
        page.write(original + QStringLiteral("<p id=\"saved\">save %1</p>\n").arg(nAttempt).toUtf8());
        page.close();
        if (QTest::qWaitFor([&]() { return !(strMark = browser.Evaluate(strShown)).isEmpty(); }, 2000))
            break;
    }
    QVERIFY2(strMark.startsWith(QStringLiteral("save ")), "the page did not reload after a save");
    // A reload, not just a late first load: the page ran again, module and all.
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate(QStringLiteral("document.body.dataset.state")), QStringLiteral("done"),
                              ShortWaitMs);
    browser.Stop();
}

void TestWindowsRelease::wrongCaseNameShowsNotice()
{
    // Windows finds img\logo.png for img/Logo.png and the server answers it, which a static host
    // with case-sensitive names would not: the page says so.
    QVERIFY2(!m_strPage.isEmpty(), "needs the dropped page");
    const QString strRoot = QFileInfo(m_strPage).absolutePath();
    QVERIFY(QDir().mkpath(strRoot + QStringLiteral("/img")));
    for (const auto& [strName, content] :
         {std::pair(QStringLiteral("/img/logo.png"), QByteArray("not decoded")),
          std::pair(QStringLiteral("/case.html"),
                    QByteArray("<!DOCTYPE html><body><img src=\"img/Logo.png\"></body>"))})
    {
        QFile file(strRoot + strName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QCOMPARE(Corvan::E2e::HttpGet(ServerPort, QStringLiteral("/img/Logo.png")).nStatus, 200);
    CorvanTest::CHeadlessBrowser browser;
    QString strError;
    QVERIFY2(browser.Start(QStandardPaths::findExecutable(QStringLiteral("chromium")),
                           QStringLiteral("http://localhost:8721/case.html"), strError),
             qPrintable(strError));
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.Evaluate(QStringLiteral(
            "Array.from(document.querySelectorAll('#__corvan-notices span'), s => s.textContent).join('\\n')")),
        QStringLiteral("img/Logo.png: the folder has img/logo.png. Names are case-sensitive once deployed"),
        BrowserWaitMs);
    browser.Stop();
}

void TestWindowsRelease::siteRulesFileApplies()
{
    // Written while the server runs: the Windows watcher must report them, and the server read them.
    QVERIFY2(!m_strPage.isEmpty(), "needs the dropped page");
    const QString strRoot = QFileInfo(m_strPage).absolutePath();
    QFile redirects(strRoot + QStringLiteral("/_redirects"));
    QVERIFY(redirects.open(QIODevice::WriteOnly));
    redirects.write("/* /" + QUrl(m_strPageUrl).path(QUrl::FullyEncoded).mid(1).toLatin1() + " 200\n");
    redirects.close();
    QFile headers(strRoot + QStringLiteral("/_headers"));
    QVERIFY(headers.open(QIODevice::WriteOnly));
    headers.write("/*\r\n  Cross-Origin-Embedder-Policy: require-corp\r\n");
    headers.close();
    const QByteArray page = ReadFile(m_strPage);
    QTRY_VERIFY_WITH_TIMEOUT(Corvan::E2e::HttpGet(ServerPort, QStringLiteral("/settings/profile")).body == page,
                             ShortWaitMs);
    QVERIFY(Corvan::E2e::HttpGet(ServerPort, QStringLiteral("/settings/profile"))
                .headers.contains("Cross-Origin-Embedder-Policy: require-corp"));
    QCOMPARE(Corvan::E2e::HttpGet(ServerPort, QStringLiteral("/_redirects")).nStatus, 404);
}

void TestWindowsRelease::unsupportedFileShowsBox()
{
    const QString strNotes = m_workDir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(QFile::copy(FixturePath(QStringLiteral("site/notes.txt")), strNotes));
    const QStringList openedBefore = OpenedUrls();
    const QList<qint64> serversBefore = WineProcesses(QStringLiteral("mongoose.exe"));

    QVERIFY2(m_dragSource.DragOnto(strNotes, m_toolRect.center(), ShortWaitMs), m_dragSource.Output().constData());
    qulonglong nBox = 0;
    QVERIFY2(WaitForWindow(QStringLiteral("Corvan Atelier 9"), &nBox, ShortWaitMs),
             "no box titled \"Corvan Atelier 9\" appeared");
    QVERIFY(SaveShot(nBox, QStringLiteral("screenshot-windows-refusal.png")));
    QVERIFY2(CloseBox(nBox), "the box did not close on Return");
    QCOMPARE(OpenedUrls(), openedBefore);
    QCOMPARE(WineProcesses(QStringLiteral("mongoose.exe")), serversBefore);
}

void TestWindowsRelease::copyUrlReachesX11Clipboard()
{
    QVERIFY2(!m_strPageUrl.isEmpty(), "needs an earlier drop");
    QVERIFY(m_pDesktop->Click(m_toolRect.topLeft() + CopyButtonOffset));
    qulonglong nBox = 0;
    QVERIFY2(WaitForWindow(QStringLiteral("Corvan"), &nBox, ShortWaitMs), "no confirmation box appeared");
    // Read by an X11 program while the box is open: wine passes Windows' clipboard on to X11.
    QString strClipboard;
    QTRY_VERIFY_WITH_TIMEOUT(!(strClipboard = m_pDesktop->ClipboardText()).isEmpty(), ShortWaitMs);
    QVERIFY2(CloseBox(nBox), "the box did not close on Return");
    QCOMPARE(QUrl(strClipboard, QUrl::TolerantMode), QUrl(m_strPageUrl));
}

void TestWindowsRelease::proxyRuleReachesAnApi()
{
    // An API of the test's own on the Linux side, which wine's programs share the loopback with.
    QTcpServer api;
    QVERIFY(api.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&api, &QTcpServer::newConnection, &api,
                     [&api]
                     {
                         QTcpSocket* pSocket = api.nextPendingConnection();
                         // The proxy sends a head in one piece.
                         QObject::connect(pSocket, &QTcpSocket::readyRead, pSocket,
                                          [pSocket]
                                          {
                                              pSocket->write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\napi-ok");
                                              pSocket->disconnectFromHost();
                                          });
                     });
    const QString strFolder = m_workDir.filePath(QStringLiteral("api site"));
    QVERIFY(QDir().mkpath(strFolder));
    QFile rules(strFolder + QStringLiteral("/_redirects"));
    QVERIFY(rules.open(QIODevice::WriteOnly));
    rules.write("/api/* http://127.0.0.1:" + QByteArray::number(api.serverPort()) + "/:splat 200\n");
    rules.close();
    QVERIFY(QFile::copy(FixturePath(QStringLiteral("site/index.html")), strFolder + QStringLiteral("/api.html")));
    const int nOpenedBefore = OpenedUrls().size();

    // The tool asks before the page opens; Yes lets the server pass /api/* on.
    QVERIFY2(m_dragSource.DragOnto(strFolder + QStringLiteral("/api.html"), m_toolRect.center(), ShortWaitMs),
             m_dragSource.Output().constData());
    qulonglong nBox = 0;
    QVERIFY2(WaitForWindow(QStringLiteral("Corvan Atelier 9"), &nBox, ShortWaitMs), "no question box appeared");
    QVERIFY2(CloseBox(nBox, true), "the box did not close on Y");
    QTRY_VERIFY_WITH_TIMEOUT(OpenedUrls().size() > nOpenedBefore, ShortWaitMs);

    // Asked without blocking: the API answers on this thread's event loop.
    QTcpSocket client;
    QByteArray answer;
    QObject::connect(&client, &QTcpSocket::readyRead, &client, [&] { answer += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, ServerPort);
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QAbstractSocket::ConnectedState, ShortWaitMs);
    client.write("GET /api/hello HTTP/1.1\r\nHost: localhost:8721\r\nConnection: close\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(answer.endsWith("api-ok"), ShortWaitMs);
    QVERIFY2(answer.startsWith("HTTP/1.1 200 OK"), answer.constData());
    QTRY_COMPARE_WITH_TIMEOUT(WineProcesses(QStringLiteral("mongoose.exe")).size(), 1, ShortWaitMs);
    m_serverPids.append(WineProcesses(QStringLiteral("mongoose.exe")).first());
}

void TestWindowsRelease::closeButtonEndsToolAndServer()
{
    QString strWhy;
    QVERIFY2(CloseTool(m_tool, m_toolRect, &strWhy), qPrintable(strWhy));
    for (const qint64 nPid : qAsConst(m_serverPids))
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessExists(nPid), ShortWaitMs);
    QVERIFY(WineProcesses(QStringLiteral("mongoose.exe")).isEmpty());
}

void TestWindowsRelease::renamedCopyCarriesItsBranding()
{
    // The executable's name is the branding key: the same program copied as CorvanStudio.exe is
    // another product, with a window of its own beside the running "Corvan Atelier 9".
    const QString strStudio = m_strAppDir + QStringLiteral("/CorvanStudio.exe");
    QVERIFY(QFile::copy(m_strAppDir + QStringLiteral("/CorvanHTMLStarter.exe"), strStudio));
    QProcess studio;
    qulonglong nWindow = 0;
    QRect rect;
    QVERIFY2(StartTool(studio, strStudio, &nWindow, &rect), "the renamed copy's window did not appear");

    const QString strNotes = m_workDir.filePath(QStringLiteral("notes.txt"));
    QVERIFY2(m_dragSource.DragOnto(strNotes, rect.center(), ShortWaitMs), m_dragSource.Output().constData());
    qulonglong nBox = 0;
    QVERIFY2(WaitForWindow(QStringLiteral("Corvan Studio 7"), &nBox, ShortWaitMs),
             "no box titled \"Corvan Studio 7\" appeared");
    QVERIFY2(CloseBox(nBox), "the box did not close on Return");
    QString strWhy;
    QVERIFY2(CloseTool(studio, rect, &strWhy), qPrintable(strWhy));
    QVERIFY(QFile::remove(strStudio));
}

QSet<QString> TestWindowsRelease::UserFiles() const
{
    // Everything in the prefix's user folders except temporary files, which wine and the installer
    // come and go with.
    QSet<QString> files;
    QDirIterator it(PrefixPath(QStringLiteral("drive_c/users")), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
    {
        const QString strPath = it.next();
        if (!strPath.contains(QStringLiteral("/Temp/")) && !strPath.endsWith(QStringLiteral("/Temp")))
            files.insert(strPath);
    }
    return files;
}

QStringList TestWindowsRelease::RegistryLinesMentioning(const QString& strWord) const
{
    QStringList lines;
    for (const QString& strHive : {QStringLiteral("user.reg"), QStringLiteral("system.reg")})
    {
        const QStringList all = QString::fromUtf8(ReadFile(PrefixPath(strHive))).split('\n');
        for (const QString& strLine : all)
        {
            if (strLine.contains(strWord, Qt::CaseInsensitive))
                lines.append(strHive + QStringLiteral(": ") + strLine);
        }
    }
    return lines;
}

void TestWindowsRelease::installerInstallsAndUninstallsCleanly()
{
    const QString strSetup = qEnvironmentVariable("CORVAN_WINDOWS_SETUP");
    QVERIFY2(QFileInfo::exists(strSetup), "CORVAN_WINDOWS_SETUP must name the installer");
    // wine writes its registry files when its server ends: wait for that before each look.
    const auto settle = [this]()
    { return RunCommand(WineServer, {QStringLiteral("-w")}, WineEnvironment(), InstallerWaitMs).Succeeded(); };
    QVERIFY(settle());
    const QSet<QString> filesBefore = UserFiles();
    const QStringList registryBefore = RegistryLinesMentioning(QStringLiteral("corvan"));

    const CommandResult install = RunWine({strSetup, QStringLiteral("/S")}, InstallerWaitMs);
    QVERIFY2(
        install.Succeeded(),
        qPrintable(QStringLiteral("exit %1: %2").arg(install.nExitCode).arg(QString::fromLocal8Bit(install.stdErr))));
    QVERIFY(settle());

    // Per user, without administrator rights: under the user's own folders and keys only.
    QString strInstallDir;
    for (const QString& strFile : UserFiles() - filesBefore)
    {
        if (strFile.endsWith(QStringLiteral("/AppData/Local/Programs/Corvan HTML Starter/CorvanHTMLStarter.exe")))
            strInstallDir = QFileInfo(strFile).path();
    }
    QVERIFY2(!strInstallDir.isEmpty(), "CorvanHTMLStarter.exe is not in %LOCALAPPDATA%\\Programs");
    for (const QString& strName :
         {QStringLiteral("mongoose.exe"), QStringLiteral("Qt5Widgets.dll"), QStringLiteral("platforms/qwindows.dll"),
          QStringLiteral("Uninstall.exe"), QStringLiteral("licenses/Qt-LGPL-3.0.txt")})
        QVERIFY2(QFileInfo::exists(strInstallDir + QLatin1Char('/') + strName), qPrintable(strName));
    bool bShortcut = false;
    for (const QString& strFile : UserFiles() - filesBefore)
        bShortcut |= strFile.endsWith(QStringLiteral("/Start Menu/Programs/Corvan HTML Starter.lnk"));
    QVERIFY2(bShortcut, "no Start menu entry");
    const CommandResult openWith =
        RunWine({QStringLiteral("reg"), QStringLiteral("query"),
                 QStringLiteral("HKCU\\Software\\Classes\\CorvanHTMLStarter.html\\shell\\open\\command")},
                ShortWaitMs);
    QVERIFY2(openWith.stdOut.contains("CorvanHTMLStarter.exe\" \"%1\""), openWith.stdOut.constData());
    const CommandResult progIds = RunWine({QStringLiteral("reg"), QStringLiteral("query"),
                                           QStringLiteral("HKCU\\Software\\Classes\\.html\\OpenWithProgids")},
                                          ShortWaitMs);
    QVERIFY2(progIds.stdOut.contains("CorvanHTMLStarter.html"), progIds.stdOut.constData());

    // The installed tool starts and closes as the unpacked one does.
    QProcess installed;
    qulonglong nWindow = 0;
    QRect rect;
    QVERIFY2(StartTool(installed, strInstallDir + QStringLiteral("/CorvanHTMLStarter.exe"), &nWindow, &rect),
             "the installed tool's window did not appear");
    QCOMPARE(rect, ExpectedToolRect);
    QString strWhy;
    QVERIFY2(CloseTool(installed, rect, &strWhy), qPrintable(strWhy));

    // The uninstaller copies itself away and runs from there; the settle waits for that copy too.
    const CommandResult uninstall =
        RunWine({strInstallDir + QStringLiteral("/Uninstall.exe"), QStringLiteral("/S")}, InstallerWaitMs);
    QVERIFY2(uninstall.Succeeded(), uninstall.stdErr.constData());
    QVERIFY(settle());
    QStringList left = (UserFiles() - filesBefore).values();
    left.sort();
    QVERIFY2(left.isEmpty(), qPrintable(QStringLiteral("left behind: ") + left.join(QStringLiteral(", "))));
    QStringList registryLeft = RegistryLinesMentioning(QStringLiteral("corvan"));
    for (const QString& strLine : registryBefore)
        registryLeft.removeOne(strLine);
    QVERIFY2(registryLeft.isEmpty(), qPrintable(QStringLiteral("left in the registry: ") + registryLeft.join('\n')));
}

namespace
{

QStringList MissingPrograms()
{
    QStringList missing;
    for (const QString& strProgram : {QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("xclip"),
                                      QStringLiteral("chromium"), QStringLiteral("unzip"), QStringLiteral("identify")})
    {
        if (QStandardPaths::findExecutable(strProgram).isEmpty())
            missing.append(strProgram);
    }
    if (!QFileInfo(Wine64).isExecutable())
        missing.append(Wine64);
    return missing;
}

} // namespace

int main(int argc, char* argv[])
{
    return Corvan::E2e::RunOnDesktop<TestWindowsRelease>(
        argc, argv, &MissingPrograms, QStringLiteral("scripts/install-deps.sh --windows-e2e"), ScreenSize);
}

#include "tst_e2e_wine.moc"
