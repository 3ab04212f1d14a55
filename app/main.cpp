#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Corvan::ShowAtBottomRight(Corvan::CCorvanHTMLStarter::Instance());
    return app.exec();
}
