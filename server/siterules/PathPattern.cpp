#include "server/siterules/PathPattern.h"

#include "server/httprules/Target.h"

#include <cctype>

namespace Corvan
{

namespace
{

// FNV-1a, never 0 (which stands for "any segment").
std::uint32_t SegmentHash(std::string_view segment)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : segment)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash | 1u;
}

} // namespace

CRequestPath::CRequestPath(std::string_view path) : segments(SplitPath(path))
{
    if (!segments.empty())
        firstHash = SegmentHash(segments[0]);
}

std::size_t PlaceholderNameLength(std::string_view text)
{
    std::size_t length = 0;
    while (length < text.size())
    {
        const unsigned char c = static_cast<unsigned char>(text[length]);
        if (!(std::isalpha(c) || c == '_' || (length > 0 && std::isdigit(c))))
            break;
        ++length;
    }
    return length;
}

bool CPathPattern::Parse(std::string_view text, std::string& error)
{
    m_segments.clear();
    m_key = CKey();
    if (text.empty() || text[0] != '/')
    {
        error = "a path starts with /";
        return false;
    }
    const std::vector<std::string_view> parts = SplitPath(text);
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        const std::string_view part = parts[i];
        if (part.find('*') != std::string_view::npos)
        {
            if (part != "*" || i + 1 != parts.size())
            {
                error = "a splat * may only be the last segment of a path";
                return false;
            }
            m_key.splat = true;
        }
        else if (part[0] == ':' && PlaceholderNameLength(part.substr(1)) == part.size() - 1 && part.size() > 1)
        {
            m_segments.push_back({std::string(part.substr(1)), true});
        }
        else
        {
            // Literal names are compared with decoded request paths, so they are decoded the same
            // way; whatever a request could never be ("..", bad escapes) is refused here.
            HttpRules::CTarget decoded;
            if (HttpRules::DecodeTarget(("/" + std::string(part)).c_str(), decoded) == HttpRules::ETarget::BadRequest)
            {
                error = "the path is not readable (write blanks and special characters as %XX)";
                return false;
            }
            m_segments.push_back({decoded.relativePath, false});
        }
    }
    m_key.segments = static_cast<std::uint16_t>(m_segments.size()); // a line holds fewer than 1,000
    if (!m_segments.empty() && !m_segments[0].placeholder)
        m_key.firstHash = SegmentHash(m_segments[0].text);
    return true;
}

bool CPathPattern::MatchesSegments(const CRequestPath& path, CCaptures& captures) const
{
    const std::vector<std::string_view>& segments = path.segments;
    for (std::size_t i = 0; i < m_segments.size(); ++i)
    {
        if (!m_segments[i].placeholder && m_segments[i].text != segments[i])
            return false;
    }
    captures.named.clear();
    for (std::size_t i = 0; i < m_segments.size(); ++i)
    {
        if (m_segments[i].placeholder)
            captures.named.emplace_back(m_segments[i].text, segments[i]);
    }
    captures.splat = std::string_view();
    if (m_key.splat && segments.size() > m_segments.size())
    {
        const char* pBegin = segments[m_segments.size()].data();
        const char* pEnd = segments.back().data() + segments.back().size();
        captures.splat = std::string_view(pBegin, static_cast<std::size_t>(pEnd - pBegin));
    }
    return true;
}

bool CPathPattern::HasPlaceholder(std::string_view name) const
{
    for (const CSegment& segment : m_segments)
    {
        if (segment.placeholder && segment.text == name)
            return true;
    }
    return false;
}

} // namespace Corvan
