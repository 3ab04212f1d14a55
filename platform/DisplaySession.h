#pragma once

namespace Corvan
{
namespace Platform
{

// Picks the windowing system Qt is to use for this session, before the application object is made:
// where the native one lets no window place itself (Wayland) and another one is there (XWayland),
// that one, so the window can sit at the bottom right of the cursor's screen. A choice the user made
// (QT_QPA_PLATFORM) stands.
void ChooseDisplayPlatform();

// Whether the system's display scale is one the user picked from its settings (125 %, 150 % ...),
// to be taken as it is, rather than one worked out from the screen's physical size, which is rarely
// a round step and is better rounded to a whole factor.
bool DisplayScaleIsChosen();

} // namespace Platform
} // namespace Corvan
