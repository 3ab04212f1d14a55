#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Lets desktop shells match the window to its installed desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.corvan_works.HTMLStarter"));
    Corvan::ShowAtBottomRight(Corvan::CCorvanHTMLStarter::Instance());
    return app.exec();
}
