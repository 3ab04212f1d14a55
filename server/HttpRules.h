#pragma once

// The server's HTTP decisions as plain functions on strings and numbers: which hosts may ask, how
// a request target maps to a path, what a file is called on the wire, and which part of it a
// request wants. No I/O here, so each rule can be reasoned about (and tested) on its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{
namespace HttpRules
{

// True for a Host header naming this machine's loopback: localhost, 127.0.0.1 or [::1], in any
// case, with an optional trailing dot and an optional port. Any other name may be an attacker's
// domain that resolves to 127.0.0.1 (DNS rebinding), so it is refused.
bool IsLoopbackHost(const char* pHost);

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

// The non-empty segments of a decoded path, so "/a//b/" and "/a/b" are the same path.
std::vector<std::string_view> SplitPath(std::string_view path);

// Content-Type for a file name, by its extension (case-insensitive); application/octet-stream
// for anything unknown.
const char* MimeType(const std::string& fileName);

// Percent-encodes every byte except unreserved characters, so the result is safe as a relative
// link or Location (a ':' cannot turn it into a scheme).
std::string PercentEncode(const std::string& text);

std::string HtmlEscape(const std::string& text);

// True for well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool IsValidUtf8(const std::string& text);

// "Sun, 06 Nov 1994 08:49:37 GMT"; the buffer needs HttpDateSize bytes.
void FormatHttpDate(std::int64_t secondsSinceEpoch, char* pBuffer);
constexpr std::size_t HttpDateSize = 40;
// Parses the IMF-fixdate form above; false for anything else.
bool ParseHttpDate(const char* pText, std::int64_t& secondsSinceEpoch);

// A strong validator that changes on every save: file id, size and the modification time to the
// nanosecond, as a quoted string.
std::string MakeETag(std::uint64_t fileId, std::int64_t size, std::int64_t mtimeSeconds, std::int64_t mtimeNanoseconds);

// True when an If-None-Match value ("*" or a list of tags, weak or strong) matches `etag`.
bool ETagListMatches(const char* pIfNoneMatch, const std::string& etag);

enum class ERange
{
    Whole,         // no usable single range: send the whole file
    Partial,       // send bytes first..last (inclusive)
    Unsatisfiable, // 416
};

// Reads a Range header for a file of `size` bytes. Single ranges only ("N-M", "N-", "-N"); a list
// or a malformed header is ignored as the standard allows.
ERange ParseRange(const char* pRange, std::int64_t size, std::int64_t& first, std::int64_t& last);

} // namespace HttpRules
} // namespace Corvan
