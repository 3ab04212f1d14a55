#pragma once

// The GUI tests' stand-in for the tool's message box: every message is recorded, with whether the
// busy cursor was up when it came, and no box ever waits for a click.

#include "mainwindow/UserMessage.h"

#include <QApplication>
#include <QCursor>
#include <QList>
#include <QString>

namespace CorvanTest
{

struct Shown
{
    QWidget* parent;
    QString title;
    QString text;
    bool busyCursor;
};

inline bool BusyCursor()
{
    return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

// Empties `shown` and records every later message into it (for init()); an empty recorder
// (UserMessage::SetRecorder({})) brings the real box back.
inline void RecordMessages(QList<Shown>& shown)
{
    shown.clear();
    Corvan::UserMessage::SetRecorder(
        [&shown](QWidget* parent, const QString& title, const QString& text) {
            shown.append({parent, title, text, BusyCursor()});
        });
}

} // namespace CorvanTest
