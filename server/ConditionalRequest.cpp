#include "server/ConditionalRequest.h"

#include <civetweb.h>

namespace Corvan
{
namespace ConditionalRequest
{

namespace
{

// If-Range: a range applies only to the version of the file the client already holds.
bool RangeStillApplies(const mg_connection* pConnection, const std::string& etag, std::int64_t mtimeSeconds)
{
    const char* pIfRange = mg_get_header(pConnection, "If-Range");
    if (!pIfRange)
        return true;
    if (pIfRange[0] == '"' || pIfRange[0] == 'W')
        return etag == pIfRange;
    std::int64_t date = 0;
    return HttpRules::ParseHttpDate(pIfRange, date) && date == mtimeSeconds;
}

} // namespace

bool IsNotModified(const mg_connection* pConnection, const std::string& etag, std::int64_t mtimeSeconds)
{
    if (const char* pIfNoneMatch = mg_get_header(pConnection, "If-None-Match"))
        return HttpRules::ETagListMatches(pIfNoneMatch, etag);
    if (const char* pIfModifiedSince = mg_get_header(pConnection, "If-Modified-Since"))
    {
        std::int64_t since = 0;
        return HttpRules::ParseHttpDate(pIfModifiedSince, since) && mtimeSeconds <= since;
    }
    return false;
}

HttpRules::ERange WantedRange(const mg_connection* pConnection, const std::string& etag, std::int64_t mtimeSeconds,
                              std::int64_t size, std::int64_t& first, std::int64_t& last)
{
    HttpRules::ERange range = HttpRules::ERange::Whole;
    const char* pRange = mg_get_header(pConnection, "Range");
    if (pRange && RangeStillApplies(pConnection, etag, mtimeSeconds))
        range = HttpRules::ParseRange(pRange, size, first, last);
    if (range == HttpRules::ERange::Whole)
    {
        first = 0;
        last = size - 1;
    }
    return range;
}

} // namespace ConditionalRequest
} // namespace Corvan
