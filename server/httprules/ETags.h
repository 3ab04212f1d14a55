#pragma once

// Validators that change on every save, and If-None-Match lists.

#include <cstdint>
#include <string>
#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// A strong validator that changes on every save: file id, size and the modification time to the
// nanosecond, as a quoted string.
std::string MakeETag(std::uint64_t fileId, std::int64_t size, std::int64_t mtimeSeconds, std::int64_t mtimeNanoseconds);

// True when an If-None-Match value ("*" or a list of tags, weak or strong) matches `etag`.
bool ETagListMatches(std::string_view ifNoneMatch, const std::string& etag);

} // namespace HttpRules
} // namespace Corvan
