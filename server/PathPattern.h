#pragma once

// The path patterns of a site's rule files (_redirects, _headers): '/'-separated segments, each a
// literal name, a ":name" placeholder that takes any one segment, or, as the last segment only, a
// "*" splat that takes the rest of the path (nothing included). Patterns are split once when the
// file is read, so matching a request is a few string compares per rule: no regular expressions.

#include <cstdint>
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

// A request path split once for all the rules it is matched against.
struct CRequestPath
{
    explicit CRequestPath(std::string_view path);
    std::vector<std::string_view> segments;
    // Most rules differ from a request in their first segment: a hash of it settles that without
    // reading the rule's text, so a long rule file costs a request little more than an empty one.
    std::uint32_t firstHash = 0;
};

class CPathPattern
{
public:
    // Reads a pattern that starts with '/'; false with a short reason for anything else.
    bool Parse(std::string_view text, std::string& error);

    bool Matches(const CRequestPath& path, CCaptures& captures) const
    {
        return MayMatch(path) && MatchesSegments(path, captures);
    }

    bool HasSplat() const { return m_splat; }
    bool HasPlaceholder(std::string_view name) const;

private:
    // The quick test that turns most rules away, inline in the loop over them.
    bool MayMatch(const CRequestPath& path) const
    {
        const std::size_t count = path.segments.size();
        return (m_splat ? count >= m_segments.size() : count == m_segments.size()) &&
               (m_firstHash == 0 || m_firstHash == path.firstHash);
    }
    bool MatchesSegments(const CRequestPath& path, CCaptures& captures) const;

    struct CSegment
    {
        std::string text; // the decoded name, or the placeholder's name
        bool placeholder;
    };
    std::vector<CSegment> m_segments;
    std::uint32_t m_firstHash = 0; // of a literal first segment; 0 when any first segment matches
    bool m_splat = false;
};

// Length of the placeholder name at the start of `text` (letters, digits, '_'; not a digit first),
// 0 when there is none.
std::size_t PlaceholderNameLength(std::string_view text);

} // namespace Corvan
