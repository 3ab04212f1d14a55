#include "platform/DisplaySession_linux.h"
#include "platform/DisplaySession.h"

#include <cstdlib>
#include <cstring>

namespace Corvan
{
namespace Platform
{
namespace
{
bool IsSet(const char* value)
{
    return value && *value;
}
} // namespace

std::string DisplayPlatformFor(const char* qtPlatform, const char* sessionType, const char* display)
{
    // Qt 5.15 runs natively on Wayland in such a session (outside GNOME, where it picks X itself),
    // and Wayland gives no window its position: it would open wherever the compositor likes.
    if (IsSet(qtPlatform) || !IsSet(sessionType) || std::strcmp(sessionType, "wayland") != 0 || !IsSet(display))
        return std::string();
    return "xcb";
}

void ChooseDisplayPlatform()
{
    const std::string platform =
        DisplayPlatformFor(std::getenv("QT_QPA_PLATFORM"), std::getenv("XDG_SESSION_TYPE"), std::getenv("DISPLAY"));
    if (!platform.empty())
        setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
}

bool DisplayScaleIsChosen()
{
    // Without a desktop's Xft.dpi, Qt 5 works the scale out from the monitor's size in millimetres,
    // which gives factors such as 1.04 that only blur the window unless rounded.
    return false;
}

} // namespace Platform
} // namespace Corvan
