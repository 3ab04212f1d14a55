#include "platform/DisplaySession.h"

namespace Corvan
{
namespace Platform
{

void ChooseDisplayPlatform()
{
    // Windows has one windowing system, and it lets the window place itself.
}

bool DisplayScaleIsChosen()
{
    // Windows reports the scale of its display settings, in steps of 25 %.
    return true;
}

} // namespace Platform
} // namespace Corvan
