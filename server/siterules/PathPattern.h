#pragma once

// The path patterns of a site's rule files (_redirects, _headers): '/'-separated segments, each a
// literal name, a ":name" placeholder that takes any one segment, or, as the last segment only, a
// "*" splat that takes the rest of the path (nothing included). Patterns are split once when the
// file is read, so matching a request is a few string compares per rule: no regular expressions.

#include "server/httprules/Target.h"

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

using HttpRules::SplitPath;

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
    // The quick test that turns most patterns away: segment count and first segment. Small and
    // kept in an array of its own by a long rule file, so a request reads one block of memory.
    struct CKey
    {
        std::uint32_t firstHash = 0; // of a literal first segment; 0 when any first segment matches
        std::uint16_t segments = 0;  // before the splat
        bool splat = false;

        bool Admits(const CRequestPath& path) const
        {
            const std::size_t count = path.segments.size();
            return (splat ? count >= segments : count == segments) && (firstHash == 0 || firstHash == path.firstHash);
        }
    };

    // Reads a pattern that starts with '/'; false with a short reason for anything else.
    bool Parse(std::string_view text, std::string& error);

    bool Matches(const CRequestPath& path, CCaptures& captures) const
    {
        return m_key.Admits(path) && MatchesSegments(path, captures);
    }
    // For a caller that has already checked Key().Admits(path).
    bool MatchesSegments(const CRequestPath& path, CCaptures& captures) const;

    const CKey& Key() const { return m_key; }
    bool HasSplat() const { return m_key.splat; }
    bool HasPlaceholder(std::string_view name) const;

private:
    struct CSegment
    {
        std::string text; // the decoded name, or the placeholder's name
        bool placeholder;
    };
    std::vector<CSegment> m_segments;
    CKey m_key;
};

// Length of the placeholder name at the start of `text` (letters, digits, '_'; not a digit first),
// 0 when there is none.
std::size_t PlaceholderNameLength(std::string_view text);

} // namespace Corvan
