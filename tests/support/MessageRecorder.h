#pragma once

// The GUI tests' stand-in for the tool's message box: every message is recorded, with whether the
// busy cursor was up when it came, and no box ever waits for a click.

#include "mainwindow/UserMessage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QTimer>

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

// For the smoke tests of the real box: while it lives, notes what the first modal message box
// says and closes it with its Ok button (or rejects it when it has none). It clicks rather than
// asserts, since a failed check inside a timer would not fail the test: assert on its fields.
class CRealBoxCloser
{
public:
    QString title;
    QString text;
    QWidget* parent = nullptr;
    int buttons = -1;
    bool hasOk = false;

    CRealBoxCloser()
    {
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this]
                         {
                             auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                             if (!box)
                                 return;
                             title = box->windowTitle();
                             text = box->text();
                             parent = box->parentWidget();
                             buttons = box->buttons().size();
                             if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                             {
                                 hasOk = true;
                                 ok->click();
                             }
                             else
                             {
                                 box->reject();
                             }
                         });
        m_timer.start(10);
    }

private:
    QTimer m_timer;
};

} // namespace CorvanTest
