#include "server/httprules/ETags.h"

#include "server/httprules/TextRules.h"
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

bool ETagListMatches(const char* pIfNoneMatch, const std::string& etag)
{
    const char* p = pIfNoneMatch;
    while (*p)
    {
        TextRules::SkipSpaces(p);
        if (*p == '*')
            return true;
        if (p[0] == 'W' && p[1] == '/')
            p += 2;
        const char* pBegin = p;
        while (*p && *p != ',')
            ++p;
        const char* pEnd = p;
        while (pEnd != pBegin && (pEnd[-1] == ' ' || pEnd[-1] == '\t'))
            --pEnd;
        if (static_cast<std::size_t>(pEnd - pBegin) == etag.size() &&
            etag.compare(0, etag.size(), pBegin, etag.size()) == 0)
            return true;
        if (*p == ',')
            ++p;
    }
    return false;
}

} // namespace HttpRules
} // namespace Corvan
