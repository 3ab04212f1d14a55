#include "server/httprules/ProxyHeaders.h"

#include "server/httprules/TextRules.h"

#include <algorithm>

namespace Corvan
{
namespace HttpRules
{

bool IsHopByHop(std::string_view name, std::string_view connection)
{
    for (const char* pName : {"Connection", "Keep-Alive", "TE", "Trailer", "Transfer-Encoding", "Upgrade"})
    {
        if (TextRules::EqualsNoCase(name, pName))
            return true;
    }
    return TextRules::StartsWithNoCase(name, "Proxy-") || TextRules::HasToken(connection, name);
}

bool IsSetByProxy(std::string_view name)
{
    return TextRules::EqualsNoCase(name, "Host") || TextRules::EqualsNoCase(name, "Forwarded") ||
           TextRules::StartsWithNoCase(name, "X-Forwarded-");
}

bool ViaHolds(std::string_view via, std::string_view name)
{
    while (!via.empty())
    {
        const std::size_t comma = via.find(',');
        std::string_view entry = via.substr(0, comma);
        via = comma == std::string_view::npos ? std::string_view() : via.substr(comma + 1);
        // "protocol received-by [comment]": the second word.
        const std::size_t begin = entry.find_first_not_of(" \t");
        const std::size_t gap = entry.find_first_of(" \t", begin);
        const std::size_t second = entry.find_first_not_of(" \t", gap);
        if (second == std::string_view::npos)
            continue;
        const std::size_t end = std::min(entry.find_first_of(" \t", second), entry.size());
        if (TextRules::EqualsNoCase(entry.substr(second, end - second), name))
            return true;
    }
    return false;
}

} // namespace HttpRules
} // namespace Corvan
