// Time from the call of LaunchLocalServer to the URL being handed to the browser, sweep and server
// start included, over repeated launches with the server from this program's own folder (the real one
// in build/bin). Usage: bench_launch [launches, default 25]. Runs offscreen; no browser is opened.
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "platform/ChildProcess.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Corvan;

class CBrowserStandIn : public QObject
{
    Q_OBJECT

public:
    QElapsedTimer clock;
    qint64 openedAt = -1;

public slots:
    void openUrl(const QUrl&) { openedAt = clock.nsecsElapsed(); }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int launches = argc > 1 ? std::max(1, atoi(argv[1])) : 25;

    QTemporaryDir site;
    QFile page(site.filePath(QStringLiteral("index.html")));
    if (!site.isValid() || !page.open(QIODevice::WriteOnly) || page.write("<html>bench</html>") < 0)
        return 1;
    page.close();

    CBrowserStandIn browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "openUrl");
    bool failed = false;
    UserMessage::SetRecorder(
        [&failed](QWidget*, const QString&, const QString& text)
        {
            std::fprintf(stderr, "launch failed: %s\n", qPrintable(text));
            failed = true;
        });

    CCorvanHTMLStarter window;
    std::vector<double> milliseconds;
    for (int i = 0; i < launches && !failed; ++i)
    {
        browser.openedAt = -1;
        browser.clock.start();
        window.LaunchLocalServer(page.fileName());
        if (browser.openedAt < 0)
            break;
        milliseconds.push_back(browser.openedAt / 1e6);
        app.processEvents();
    }
    if (Platform::CChildProcess* pServer = window.ServerProcess())
        pServer->Kill();
    if (milliseconds.size() != static_cast<std::size_t>(launches))
        return 1;

    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double share)
    { return milliseconds[static_cast<std::size_t>(share * static_cast<double>(milliseconds.size() - 1))]; };
    std::printf("launches: %d  median: %.1f ms  min: %.1f ms  p90: %.1f ms  max: %.1f ms\n", launches, at(0.5),
                milliseconds.front(), at(0.9), milliseconds.back());
    return 0;
}

#include "bench_launch.moc"
