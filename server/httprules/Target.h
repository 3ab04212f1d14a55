#pragma once

// How a request target maps to a path below the served folder.

#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{
namespace HttpRules
{

enum class ETarget
{
    Ok,
    BadRequest, // malformed, or an attempt to leave the folder
    Hidden,     // names a dot file or dot folder, which is never served
};

struct CTarget
{
    std::string relativePath; // decoded, '/'-separated, no leading '/', no empty segments
    std::string lastSegment;  // decoded last segment, empty for the root
    bool endsWithSlash = false;
};

// Decodes a raw origin-form request target (the path, without the query) exactly once. Refuses
// anything that is not a plain path below the served folder: other forms, "//" or "/\" at the
// start, bad or NUL escapes, backslashes, raw control characters, "." and ".." segments. Escaped
// bytes may be any others: a name need not be UTF-8.
ETarget DecodeTarget(const char* pRaw, CTarget& target);

// True for a name that a folder's listing shows and a link can reach: some request target decodes to
// it (no backslash, no NUL) and it is no dot name, which is never served.
bool IsLinkableName(std::string_view name);

// The non-empty segments of a decoded path, so "/a//b/" and "/a/b" are the same path.
std::vector<std::string_view> SplitPath(std::string_view path);

} // namespace HttpRules
} // namespace Corvan
