#include "server/httprules/ETags.h"

#include "server/httprules/TextRules.h"
#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace Corvan
{
namespace HttpRules
{

std::string MakeETag(std::uint64_t fileId, std::int64_t size, std::int64_t mtimeSeconds, std::int64_t mtimeNanoseconds)
{
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "\"%" PRIx64 "-%" PRIx64 "-%" PRIx64 ".%09" PRId64 "\"", fileId,
                  static_cast<std::uint64_t>(size), static_cast<std::uint64_t>(mtimeSeconds), mtimeNanoseconds);
    return buffer;
}

bool ETagListMatches(std::string_view ifNoneMatch, const std::string& etag)
{
    std::string_view list = ifNoneMatch;
    while (!list.empty())
    {
        TextRules::SkipSpaces(list);
        if (!list.empty() && list[0] == '*')
            return true;
        if (list.size() >= 2 && list[0] == 'W' && list[1] == '/')
            list.remove_prefix(2);
        const std::size_t comma = std::min(list.find(','), list.size());
        std::string_view tag = list.substr(0, comma);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t'))
            tag.remove_suffix(1);
        if (tag == etag)
            return true;
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return false;
}

} // namespace HttpRules
} // namespace Corvan
