#pragma once

// The one place the fuzz targets put the live-reload tag into a whole page, so a change to the
// injection's interface is adapted here alone.

#include "server/files/HtmlInjection.h"

#include <string>

namespace CorvanFuzz
{

// Not the server's real tag: its reserved path is spelled in one place only, and any tag will do.
inline const std::string LiveTag = "<script src=\"/live-tag.js\"></script>";

inline std::string InjectWholePage(const std::string& page, const std::string& tag = LiveTag)
{
    return Corvan::HtmlInjection::InsertBeforeBodyEnd(page, tag);
}

} // namespace CorvanFuzz
