#pragma once

#include <string>

namespace Corvan
{
namespace Platform
{

// Hands `url` (percent-encoded) to the desktop's own URL opener, started directly and not waited for.
// True once the opener runs. False where this platform has no opener to start this way, or it could
// not be started: the caller then takes the toolkit's way.
bool StartUrlOpener(const std::string& url);

} // namespace Platform
} // namespace Corvan
