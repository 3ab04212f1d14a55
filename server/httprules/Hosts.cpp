#include "server/httprules/Hosts.h"

#include "server/httprules/TextRules.h"
#include <cctype>
#include <cstring>

namespace Corvan
{
namespace HttpRules
{

namespace
{

bool AllDigits(const char* pBegin, const char* pEnd)
{
    if (pBegin == pEnd)
        return false;
    for (const char* p = pBegin; p != pEnd; ++p)
    {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
    }
    return true;
}

} // namespace

bool IsLoopbackHost(const char* pHost)
{
    if (!pHost)
        return false;
    const char* pEnd = pHost + std::strlen(pHost);
    // An optional ":port" at the end; for "[::1]" only after the closing bracket.
    const char* pColon = nullptr;
    for (const char* p = pEnd; p != pHost; --p)
    {
        if (p[-1] == ':')
        {
            pColon = p - 1;
            break;
        }
        if (p[-1] == ']')
            break;
    }
    if (pColon)
    {
        if (!AllDigits(pColon + 1, pEnd) || pEnd - pColon > 6)
            return false;
        pEnd = pColon;
    }
    if (pEnd != pHost && pEnd[-1] == '.')
        --pEnd;
    const std::string_view host(pHost, static_cast<std::size_t>(pEnd - pHost));
    return TextRules::EqualsNoCase(host, "localhost") || TextRules::EqualsNoCase(host, "127.0.0.1") ||
           TextRules::EqualsNoCase(host, "[::1]");
}

} // namespace HttpRules
} // namespace Corvan
