// A start of the tool without its window, for the single-instance tests to run as other processes
// and other users. Reports on standard output, one line each:
//   singleinstance_helper claim NAME [FILE]  claims NAME with FILE: "first", then "requested <path>"
//                                            for every request until killed; or "handed-over",
//                                            "no-answer", "alone", and exits
//   singleinstance_helper send NAME LINE     writes LINE to NAME as a raw request, without checking
//                                            who listens: "answer <reply>" or "closed"
// Paths and replies are printed percent-encoded, so a line break in a name stays on one line.
#include "singleinstance/CSingleInstance.h"

#include <QCoreApplication>
#include <QLocalSocket>

#include <cstdio>

namespace
{
void Say(const QByteArray& line)
{
    std::fputs((line + '\n').constData(), stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3)
        return 2;
    const QString name = arguments.at(2);

    if (arguments.at(1) == QLatin1String("send") && arguments.size() == 4)
    {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (!socket.waitForConnected(5000))
        {
            Say("closed");
            return 0;
        }
        socket.write(arguments.at(3).toUtf8() + '\n');
        socket.waitForBytesWritten(5000);
        while (!socket.canReadLine() && socket.waitForReadyRead(5000))
        {
        }
        Say(socket.canReadLine() ? "answer " + socket.readLine().trimmed().toPercentEncoding() : "closed");
        return 0;
    }
    if (arguments.at(1) != QLatin1String("claim"))
        return 2;

    Corvan::CSingleInstance instance(name);
    switch (instance.Claim(arguments.size() > 3 ? arguments.at(3) : QString()))
    {
    case Corvan::CSingleInstance::EClaim::HandedOver:
        Say("handed-over");
        return 0;
    case Corvan::CSingleInstance::EClaim::NoAnswer:
        Say("no-answer");
        return 1;
    case Corvan::CSingleInstance::EClaim::Alone:
        Say("alone");
        return 1;
    case Corvan::CSingleInstance::EClaim::First:
        break;
    }
    QObject::connect(&instance, &Corvan::CSingleInstance::Requested,
                     [](const QString& path) { Say("requested " + path.toUtf8().toPercentEncoding()); });
    Say("first");
    return app.exec();
}
