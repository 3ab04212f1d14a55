#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

namespace Corvan
{

// Top-left corner for a window of `windowSize` at the bottom right of `screen`: 5 pixels in from
// its right edge, 45 up from its bottom edge (room for a task bar).
QPoint BottomRightPosition(const QRect& screen, const QSize& windowSize);

// The screen, of `screens`, that holds `cursor`; the first (primary) one when none does.
QRect ScreenUnder(const QPoint& cursor, const QList<QRect>& screens);

// Turns on Qt's scaling for high-density displays, so the window is 250 x 250 logical pixels at any
// scale, 150 % included, and its images are drawn scaled. Must run before the application object is made.
void EnableHighDpiScaling();

// The file named on the command line (`arguments` as QCoreApplication::arguments gives them, the
// program first), as a dropped file's path would be: absolute, with native separators. Only the
// first argument counts; a "file:" URL gives its local path (one of another host stays as it is, for
// the window to refuse), any other URL and no argument give an empty path.
QString CommandLineFile(const QStringList& arguments, const QString& strWorkingFolder);

// Tells the user, in the tool's look, that a running tool took the file's hand-over channel but
// never answered; `strTitle` is the product title.
void ReportNoAnswer(const QString& strTitle);

// Moves the window to the bottom right of the screen under the mouse cursor, then shows it.
void ShowAtBottomRight(QWidget* window);

} // namespace Corvan
