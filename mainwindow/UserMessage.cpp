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

int s_nOpen = 0;
} // namespace

void Information(QWidget* parent, const QString& title, const QString& text)
{
    ++s_nOpen;
    if (const Recorder& recorder = CurrentRecorder())
        recorder(parent, title, text);
    else
        QMessageBox::information(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
    --s_nOpen;
}

bool IsOpen()
{
    return s_nOpen > 0;
}

void SetRecorder(Recorder recorder)
{
    CurrentRecorder() = std::move(recorder);
}
} // namespace UserMessage
} // namespace Corvan
