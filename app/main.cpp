#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "platform/DisplaySession.h"
#include "platform/ExecutablePath.h"
#include "productidentity/ProductIdentity.h"
#include "singleinstance/CSingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

namespace
{
QString ProductTitle()
{
    return QString::fromUtf8(Corvan::ProductIdentity::Instance()->GetProductTitle());
}
} // namespace

int main(int argc, char* argv[])
{
    Corvan::Platform::ChooseDisplayPlatform();
    Corvan::EnableHighDpiScaling();
    QApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Lets desktop shells match the window to its installed desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.corvan_works.HTMLStarter"));

    const QString strFile = Corvan::CommandLineFile(QCoreApplication::arguments(), QDir::currentPath());
    QString strRefusedFolder;
    Corvan::CSingleInstance instance(
        Corvan::CSingleInstance::ChannelName(Corvan::Platform::ExecutablePath(), &strRefusedFolder));
    switch (instance.Claim(strFile))
    {
    case Corvan::CSingleInstance::EClaim::HandedOver:
        return 0;
    case Corvan::CSingleInstance::EClaim::NoAnswer:
        Corvan::ReportNoAnswer(ProductTitle());
        return 1;
    case Corvan::CSingleInstance::EClaim::Alone:
    case Corvan::CSingleInstance::EClaim::First:
        break;
    }

    Corvan::CCorvanHTMLStarter* window = Corvan::CCorvanHTMLStarter::Instance();
    QObject::connect(&instance, &Corvan::CSingleInstance::Requested, window, &Corvan::CCorvanHTMLStarter::OpenFile);
    Corvan::ShowAtBottomRight(window);
    if (!strRefusedFolder.isEmpty())
        Corvan::UserMessage::Information(
            window, ProductTitle(),
            QStringLiteral("The folder %1 is not private to you, so a later start cannot hand its file to this "
                           "window: every start opens a window of its own.")
                .arg(QDir::toNativeSeparators(strRefusedFolder)));
    // The file is taken once the window shows, as a drop would be: its messages need the window.
    if (!strFile.isEmpty())
        QTimer::singleShot(0, window, [window, strFile] { window->OpenFile(strFile); });
    return app.exec();
}
