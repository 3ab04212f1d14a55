#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace Corvan
{

// Every message the tool shows the user goes through here: a modal information box with one Ok
// button, or a question with Yes and No. Tests install a recorder and an answerer instead, so no box
// ever waits for a click.
namespace UserMessage
{
using Recorder = std::function<void(QWidget* parent, const QString& title, const QString& text)>;
using Answerer = std::function<bool(QWidget* parent, const QString& title, const QString& text)>;

// Shows the box (or hands it to the recorder) and returns once it is dismissed.
void Information(QWidget* parent, const QString& title, const QString& text);

// Asks in a modal box with Yes and No, No being the default, and the text shown as plain text
// (it may quote a folder's files); true for Yes.
bool Question(QWidget* parent, const QString& title, const QString& text);

// Whether a message is being shown (its box is open) right now.
bool IsOpen();

// Replaces the real box; an empty recorder restores it.
void SetRecorder(Recorder recorder);
// Replaces the real question box; an empty answerer restores it.
void SetAnswerer(Answerer answerer);
} // namespace UserMessage

} // namespace Corvan
