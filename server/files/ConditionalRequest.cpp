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

namespace http = boost::beast::http;

// If-Range: a range applies only to the version of the file the client already holds.
bool RangeStillApplies(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds)
{
    const auto ifRange = request.Header(http::field::if_range);
    if (!ifRange)
        return true;
    // An entity tag is quoted, after "W/" for a weak one; a date may start with 'W' too (Wed).
    if (!ifRange->empty() && (ifRange->front() == '"' || ifRange->substr(0, 2) == "W/"))
        return etag == *ifRange;
    std::int64_t date = 0;
    return HttpRules::ParseHttpDate(*ifRange, date) && date == mtimeSeconds;
}

} // namespace

bool IsNotModified(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds)
{
    if (const auto ifNoneMatch = request.Header(http::field::if_none_match))
        return HttpRules::ETagListMatches(*ifNoneMatch, etag);
    if (const auto ifModifiedSince = request.Header(http::field::if_modified_since))
    {
        std::int64_t since = 0;
        return HttpRules::ParseHttpDate(*ifModifiedSince, since) && mtimeSeconds <= since;
    }
    return false;
}

HttpRules::ERange WantedRange(const CRequest& request, const std::string& etag, std::int64_t mtimeSeconds,
                              std::int64_t size, std::int64_t& first, std::int64_t& last)
{
    HttpRules::ERange range = HttpRules::ERange::Whole;
    const auto wanted = request.Header(http::field::range);
    if (wanted && RangeStillApplies(request, etag, mtimeSeconds))
        range = HttpRules::ParseRange(*wanted, size, first, last);
    if (range == HttpRules::ERange::Whole)
    {
        first = 0;
        last = size - 1;
    }
    return range;
}

} // namespace ConditionalRequest
} // namespace Corvan
