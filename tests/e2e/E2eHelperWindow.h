#pragma once

// What the suite's small helper programs share: one line at a time on standard output, and a
// window placed exactly (no window manager under Xvfb) that says "ready" once it is exposed, since a
// press before that would reach the root window.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace CorvanTest
{

inline void Report(const QString& strLine)
{
    std::printf("%s\n", qPrintable(strLine));
    std::fflush(stdout);
}

// Shows `window` at (x, y), reports "ready" once it is exposed, and runs the application.
inline int ShowAndRun(QApplication& app, QWidget& window, int x, int y)
{
    window.move(x, y);
    window.show();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout,
                     [&]()
                     {
                         if (window.windowHandle() && window.windowHandle()->isExposed())
                         {
                             poll.stop();
                             Report(QStringLiteral("ready"));
                         }
                     });
    poll.start(10);
    return app.exec();
}

} // namespace CorvanTest
