#include "mainwindow/UserMessage.h"

#include <QMessageBox>

namespace Corvan
{
namespace UserMessage
{
namespace
{
Recorder& CurrentRecorder()
{
    static Recorder recorder;
    return recorder;
}
} // namespace

void Information(QWidget* parent, const QString& title, const QString& text)
{
    if (const Recorder& recorder = CurrentRecorder())
    {
        recorder(parent, title, text);
        return;
    }
    QMessageBox::information(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void SetRecorder(Recorder recorder)
{
    CurrentRecorder() = std::move(recorder);
}
} // namespace UserMessage
} // namespace Corvan
