#include "app/StartUp.h"

#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"

#include "platform/DisplaySession.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace Corvan
{

QPoint BottomRightPosition(const QRect& screen, const QSize& windowSize)
{
    return QPoint(screen.left() + screen.width() - windowSize.width() - 5,
                  screen.top() + screen.height() - windowSize.height() - 45);
}

QRect ScreenUnder(const QPoint& cursor, const QList<QRect>& screens)
{
    for (const QRect& screen : screens)
    {
        if (screen.contains(cursor))
            return screen;
    }
    return screens.isEmpty() ? QRect() : screens.first();
}

void EnableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Qt 5 rounds a 150 % display up to 200 % by default, which would make the window a third too
    // large there: a scale the user chose is taken as it is.
    if (Platform::DisplayScaleIsChosen())
        QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

QString CommandLineFile(const QStringList& arguments, const QString& strWorkingFolder)
{
    if (arguments.size() < 2)
        return QString();
    const QString& strArgument = arguments.at(1);
    if (strArgument.isEmpty())
        return QString();
    // Desktops that pass URLs (%u) send "file:" ones; a Windows path such as C:\x.html must not be
    // read as a URL with the scheme "c", so only that scheme is looked at.
    if (strArgument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
    {
        QUrl url(strArgument);
        // A file of another computer stays a URL, which the window refuses with a message; it must
        // not turn into a network path that could be read as a local one.
        if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
            return strArgument;
        url.setHost(QString());
        return QDir::toNativeSeparators(url.toLocalFile());
    }
    if (strArgument.contains(QLatin1String("://")))
        return QString();
    // The running tool that may get this path has another working folder: make it absolute here.
    return QDir::toNativeSeparators(QDir::cleanPath(QDir(strWorkingFolder).absoluteFilePath(strArgument)));
}

void ReportNoAnswer(const QString& strTitle)
{
    // A Windows GUI program has no console: the box is what the user sees.
    std::fprintf(stderr, "corvan-html-starter: the running tool does not answer\n");
    CCorvanHTMLStarter::ApplyLook();
    UserMessage::Information(
        nullptr, strTitle,
        QStringLiteral("%1 is already running but does not answer. End it, then start it again.").arg(strTitle));
}

void ShowAtBottomRight(QWidget* window)
{
    QList<QRect> screens;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        screens.append(primary->geometry());
    for (QScreen* screen : QGuiApplication::screens())
    {
        if (screen != QGuiApplication::primaryScreen())
            screens.append(screen->geometry());
    }
    window->move(BottomRightPosition(ScreenUnder(QCursor::pos(), screens), window->size()));
    window->show();
}

} // namespace Corvan
