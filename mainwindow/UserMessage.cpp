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

Answerer& CurrentAnswerer()
{
    static Answerer answerer;
    return answerer;
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

bool Question(QWidget* parent, const QString& title, const QString& text)
{
    ++s_nOpen;
    bool yes = false;
    if (const Answerer& answerer = CurrentAnswerer())
    {
        yes = answerer(parent, title, text);
    }
    else
    {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        yes = box.exec() == QMessageBox::Yes;
    }
    --s_nOpen;
    return yes;
}

bool IsOpen()
{
    return s_nOpen > 0;
}

void SetRecorder(Recorder recorder)
{
    CurrentRecorder() = std::move(recorder);
}

void SetAnswerer(Answerer answerer)
{
    CurrentAnswerer() = std::move(answerer);
}
} // namespace UserMessage
} // namespace Corvan
