#include "server/httprules/ETags.h"

#include "server/httprules/TextRules.h"
#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace Corvan
{
namespace HttpRules
{

std::string MakeETag(std::uint64_t fileId, std::int64_t size, std::int64_t mtimeSeconds, std::int64_t mtimeNanoseconds)
{
    char buffer[80];
    if (mtimeNanoseconds < 0 || mtimeNanoseconds > 999999999)
    {
        std::snprintf(buffer, sizeof buffer, "\"%" PRIx64 "-%" PRIx64 "-%" PRIx64 ".%09" PRId64 "\"", fileId,
                      static_cast<std::uint64_t>(size), static_cast<std::uint64_t>(mtimeSeconds), mtimeNanoseconds);
        return buffer;
    }
    // Every file answer makes one: formatted by hand, it costs a fraction of a printf.
    char* pAt = buffer;
    *pAt++ = '"';
    pAt = std::to_chars(pAt, buffer + 20, fileId, 16).ptr;
    *pAt++ = '-';
    pAt = std::to_chars(pAt, pAt + 16, static_cast<std::uint64_t>(size), 16).ptr;
    *pAt++ = '-';
    pAt = std::to_chars(pAt, pAt + 16, static_cast<std::uint64_t>(mtimeSeconds), 16).ptr;
    *pAt++ = '.';
    for (int digit = 8; digit >= 0; --digit, mtimeNanoseconds /= 10)
        pAt[digit] = static_cast<char>('0' + mtimeNanoseconds % 10);
    pAt += 9;
    *pAt++ = '"';
    return std::string(buffer, pAt);
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
