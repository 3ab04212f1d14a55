// From a file save to the page showing it, in headless Chromium: the page itself stamps the
// moment its new document runs (a reload) or a new style sheet has loaded (a CSS swap), on the
// same wall clock the benchmark reads just before it writes the file. The page has three sheets:
// the one saved, one left alone, and one that only imports another, whose save is measured too.
// Prints medians of SAVES saves of each kind, and how many sheets a CSS save fetched again.
// Usage: bench_livereload MONGOOSE CHROMIUM [SAVES]

#include "tests/support/HeadlessBrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool Write(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray Page(int version)
{
    // Three sheets: the one saved, one left alone, and one that only imports another.
    return "<!DOCTYPE html><html><head><link rel=\"stylesheet\" href=\"style.css\">"
           "<link rel=\"stylesheet\" href=\"other.css\"><link rel=\"stylesheet\" href=\"base.css\"></head><body>"
           "<p id=\"v\">" +
           QByteArray::number(version) +
           "</p><p id=\"w\">imported</p><script>"
           "window.shownAt = performance.timeOrigin + performance.now(); window.added = 0;"
           "function color(id) { return getComputedStyle(document.getElementById(id)).color.replace(/ /g, ''); }"
           "new MutationObserver(function (changes) { changes.forEach(function (change) {"
           "  change.addedNodes.forEach(function (node) { if (node.tagName === 'LINK') { window.added++;"
           "    node.addEventListener('load', function () {"
           "      window.cssAt = performance.timeOrigin + performance.now();"
           "      window.cssColor = color('v'); window.importColor = color('w'); }); } }); }); })"
           ".observe(document.head, {childList: true});"
           "</script></body></html>";
}

QByteArray Style(int version, const char* pSelector = "#v", int shift = 0)
{
    return QByteArray(pSelector) + " { color: rgb(0, " + QByteArray::number(shift ? version : 0) + ", " +
           QByteArray::number(shift ? 0 : version) + "); }\n";
}

// Waits (bounded) until `expression` (giving "value stamp") shows `expected`; returns the stamp,
// read in the same evaluation so that it belongs to that very document, or -1.
double WaitFor(CorvanTest::CHeadlessBrowser& browser, const QString& expression, const QString& expected)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000)
    {
        const QStringList answer = browser.Evaluate(expression).split(' ');
        // The stamp is set by the page's last script: until it ran, the document is not complete.
        if (answer.size() == 2 && answer[0] == expected && answer[1].toDouble() > 0)
            return answer[1].toDouble();
        QThread::msleep(5);
    }
    return -1;
}

void Report(const char* pWhat, std::vector<double> values)
{
    if (values.empty())
    {
        std::printf("%-22s no measurement\n", pWhat);
        return;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%-22s median %6.1f ms  min %6.1f  max %6.1f  (%zu saves)\n", pWhat, median, values.front(),
                values.back(), n);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: bench_livereload MONGOOSE CHROMIUM [SAVES]\n");
        return 2;
    }
    const int saves = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    QTemporaryDir work;
    const QString site = work.filePath("site");
    QDir().mkpath(site);
    // A copy under another name: the tool and its tests end every process named `mongoose`.
    const QString server = work.filePath("mongoose-bench-live");
    if (!QFile::copy(argv[1], server) ||
        !QFile::setPermissions(server, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !Write(site + "/index.html", Page(0)) || !Write(site + "/style.css", Style(0)) ||
        !Write(site + "/other.css", "p { margin: 1px; }\n") ||
        !Write(site + "/base.css", "@import \"imported.css\";\n") || !Write(site + "/imported.css", Style(0, "#w", 1)))
    {
        std::fprintf(stderr, "error: cannot prepare %s\n", qPrintable(work.path()));
        return 1;
    }

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess process;
    process.setWorkingDirectory(site);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(server, {QString::number(port)});
    if (!process.waitForStarted(5000))
    {
        std::fprintf(stderr, "error: the server did not start\n");
        return 1;
    }
    QThread::msleep(200);

    CorvanTest::CHeadlessBrowser browser;
    QString error;
    if (!browser.Start(argv[2], QString("http://localhost:%1/index.html").arg(port), error))
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(error));
        return 1;
    }
    const QString version = "(document.getElementById('v') ? document.getElementById('v').textContent : '') + ' ' + "
                            "window.shownAt";
    if (WaitFor(browser, version, "0") < 0)
    {
        std::fprintf(stderr, "error: the page did not load\n");
        return 1;
    }

    std::vector<double> reloads;
    std::vector<double> swaps;
    std::vector<double> importSwaps;
    for (int i = 1; i <= saves; ++i)
    {
        // Let the reloaded page open its socket before the next save.
        QThread::msleep(300);
        const double savedAt = NowMs();
        Write(site + "/index.html", Page(i));
        const double shownAt = WaitFor(browser, version, QString::number(i));
        if (shownAt < 0)
            std::fprintf(stderr, "save %d: the page never showed it\n", i);
        else
            reloads.push_back(shownAt - savedAt);
    }
    for (int i = 1; i <= saves; ++i)
    {
        QThread::msleep(300);
        const double savedAt = NowMs();
        Write(site + "/style.css", Style(i));
        const double swappedAt =
            WaitFor(browser, "(window.cssColor || '') + ' ' + window.cssAt", QString("rgb(0,0,%1)").arg(i));
        if (swappedAt < 0)
            std::fprintf(stderr, "style %d: the page never showed it\n", i);
        else
            swaps.push_back(swappedAt - savedAt);
    }
    const int sheetsPerSave = browser.Evaluate("String(window.added)").toInt() / saves;
    // A sheet that only imports the saved one is fetched again, and the page shows the import.
    for (int i = 1; i <= saves; ++i)
    {
        QThread::msleep(300);
        const double savedAt = NowMs();
        Write(site + "/imported.css", Style(i, "#w", 1));
        const double swappedAt =
            WaitFor(browser, "(window.importColor || '') + ' ' + window.cssAt", QString("rgb(0,%1,0)").arg(i));
        if (swappedAt < 0)
            std::fprintf(stderr, "import %d: the page never showed it\n", i);
        else
            importSwaps.push_back(swappedAt - savedAt);
    }
    if (!browser.Evaluate(version).startsWith(QString::number(saves) + " "))
        std::fprintf(stderr, "warning: a style sheet save reloaded the page\n");

    browser.Stop();
    process.kill();
    process.waitForFinished(5000);
    Report("save -> page reloaded", reloads);
    Report("save -> CSS swapped", swaps);
    Report("import save -> swapped", importSwaps);
    std::printf("sheets fetched again per CSS save: %d of 3\n", sheetsPerSave);
    return reloads.size() == std::size_t(saves) && swaps.size() == std::size_t(saves) &&
                   importSwaps.size() == std::size_t(saves)
               ? 0
               : 1;
}
