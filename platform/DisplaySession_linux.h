#pragma once

// The rule of the Linux display choice, for tests to drive with sessions of their own.

#include <string>

namespace Corvan
{
namespace Platform
{

// The Qt platform plugin to ask for, given the environment's QT_QPA_PLATFORM, XDG_SESSION_TYPE and
// DISPLAY (null when unset): "xcb" in a Wayland session that also offers an X display and where the
// user chose nothing, otherwise empty (leave Qt's own choice).
std::string DisplayPlatformFor(const char* qtPlatform, const char* sessionType, const char* display);

} // namespace Platform
} // namespace Corvan
