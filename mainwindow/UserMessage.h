#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace Corvan
{

// Every message the tool shows the user goes through here: a modal information box with one Ok
// button. Tests install a recorder instead, so no box ever waits for a click.
namespace UserMessage
{
using Recorder = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

// Shows the box (or hands it to the recorder) and returns once it is dismissed.
void Information(QWidget* parent, const QString& title, const QString& text);

// Whether a message is being shown (its box is open) right now.
bool IsOpen();

// Replaces the real box; an empty recorder restores it.
void SetRecorder(Recorder recorder);
} // namespace UserMessage

} // namespace Corvan
