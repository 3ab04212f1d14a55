#pragma once

// The path patterns of a site's rule files (_redirects, _headers): '/'-separated segments, each a
// literal name, a ":name" placeholder that takes any one segment, or, as the last segment only, a
// "*" splat that takes the rest of the path (nothing included). Patterns are split once when the
// file is read, so matching a request is a few string compares per rule: no regular expressions.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Corvan
{

// What a match took from the request path; views into that path.
struct CCaptures
{
    std::vector<std::pair<std::string_view, std::string_view>> named; // placeholder name, segment
    std::string_view splat;
};

// The non-empty segments of a decoded path, so "/a//b/" and "/a/b" are the same path.
std::vector<std::string_view> SplitPath(std::string_view path);

class CPathPattern
{
public:
    // Reads a pattern that starts with '/'; false with a short reason for anything else.
    bool Parse(std::string_view text, std::string& error);

    bool Matches(const std::vector<std::string_view>& segments, CCaptures& captures) const;

    bool HasSplat() const { return m_splat; }
    bool HasPlaceholder(std::string_view name) const;

private:
    struct CSegment
    {
        std::string text; // the decoded name, or the placeholder's name
        bool placeholder;
    };
    std::vector<CSegment> m_segments;
    bool m_splat = false;
};

// Length of the placeholder name at the start of `text` (letters, digits, '_'; not a digit first),
// 0 when there is none.
std::size_t PlaceholderNameLength(std::string_view text);

} // namespace Corvan
