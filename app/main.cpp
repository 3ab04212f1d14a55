#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "singleinstance/CSingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    Corvan::EnableHighDpiScaling();
    QApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Lets desktop shells match the window to its installed desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.corvan_works.HTMLStarter"));

    const QString strFile = Corvan::CommandLineFile(QCoreApplication::arguments(), QDir::currentPath());
    Corvan::CSingleInstance instance(Corvan::CSingleInstance::ChannelName());
    switch (instance.Claim(strFile))
    {
    case Corvan::CSingleInstance::EClaim::HandedOver:
        return 0;
    case Corvan::CSingleInstance::EClaim::NoAnswer:
        std::fprintf(stderr, "corvan-html-starter: the running Corvan HTML Starter does not answer\n");
        return 1;
    case Corvan::CSingleInstance::EClaim::First:
    case Corvan::CSingleInstance::EClaim::Alone:
        break;
    }

    Corvan::CCorvanHTMLStarter* window = Corvan::CCorvanHTMLStarter::Instance();
    QObject::connect(&instance, &Corvan::CSingleInstance::Requested, window, &Corvan::CCorvanHTMLStarter::OpenFile);
    Corvan::ShowAtBottomRight(window);
    // The file is taken once the window shows, as a drop would be: its messages need the window.
    if (!strFile.isEmpty())
        QTimer::singleShot(0, window, [window, strFile] { window->OpenFile(strFile); });
    return app.exec();
}
