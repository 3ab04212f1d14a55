#pragma once

// The conditional and range rules of a file answer, read from the request's headers: whether the
// client's copy is still current (304), and which bytes it wants (206, 416).

#include "server/http/Request.h"
#include "server/httprules/Ranges.h"

#include <cstdint>
#include <string>

namespace Corvan
{
namespace ConditionalRequest
{

// True when the client already holds this version: If-None-Match decides alone when present (a
// date cannot tell two saves within a second apart), else If-Modified-Since.
bool IsNotModified(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds);

// The bytes of a file of `size` bytes the request wants, in first..last (inclusive). A Range
// counts only while If-Range still names this version; Whole sets first..last to the whole file.
HttpRules::ERange WantedRange(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds,
                              std::int64_t size, std::int64_t& first, std::int64_t& last);

} // namespace ConditionalRequest
} // namespace Corvan
