#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace Corvan
{

// Top-left corner for a window of `windowSize` at the bottom right of `screen`: 5 pixels in from
// its right edge, 45 up from its bottom edge (room for a task bar).
QPoint BottomRightPosition(const QRect& screen, const QSize& windowSize);

// The screen, of `screens`, that holds `cursor`; the first (primary) one when none does.
QRect ScreenUnder(const QPoint& cursor, const QList<QRect>& screens);

// Moves the window to the bottom right of the screen under the mouse cursor, then shows it.
void ShowAtBottomRight(QWidget* window);

} // namespace Corvan
