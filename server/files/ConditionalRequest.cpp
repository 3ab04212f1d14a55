#include "server/files/ConditionalRequest.h"
#include "server/httprules/ETags.h"
#include "server/httprules/HttpDates.h"
#include "server/httprules/Ranges.h"

namespace Corvan
{
namespace ConditionalRequest
{

namespace
{

// If-Range: a range applies only to the version of the file the client already holds.
bool RangeStillApplies(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds)
{
    const char* pIfRange = request.Header("If-Range");
    if (!pIfRange)
        return true;
    if (pIfRange[0] == '"' || pIfRange[0] == 'W')
        return etag == pIfRange;
    std::int64_t date = 0;
    return HttpRules::ParseHttpDate(pIfRange, date) && date == mtimeSeconds;
}

} // namespace

bool IsNotModified(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds)
{
    if (const char* pIfNoneMatch = request.Header("If-None-Match"))
        return HttpRules::ETagListMatches(pIfNoneMatch, etag);
    if (const char* pIfModifiedSince = request.Header("If-Modified-Since"))
    {
        std::int64_t since = 0;
        return HttpRules::ParseHttpDate(pIfModifiedSince, since) && mtimeSeconds <= since;
    }
    return false;
}

HttpRules::ERange WantedRange(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds,
                              std::int64_t size, std::int64_t& first, std::int64_t& last)
{
    HttpRules::ERange range = HttpRules::ERange::Whole;
    const char* pRange = request.Header("Range");
    if (pRange && RangeStillApplies(request, etag, mtimeSeconds))
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
