#include "app/StartUp.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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
