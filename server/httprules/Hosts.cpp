#include "server/httprules/Hosts.h"

#include "server/httprules/TextRules.h"

#include <cctype>
#include <string>

namespace Corvan
{
namespace HttpRules
{

namespace
{

// Takes an optional ":port" off the end of `host` into `port` ("[::1]"'s colons are not one);
// false when what follows the colon is not a port.
bool SplitPort(std::string_view& host, std::string_view& port)
{
    const std::size_t colon = host.rfind(':');
    if (colon == std::string_view::npos || host.find(']', colon) != std::string_view::npos)
        return true;
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
    if (port.empty() || port.size() > 5)
        return false;
    for (const char ch : port)
    {
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
    }
    return true;
}

bool IsLoopbackName(std::string_view host)
{
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    return TextRules::EqualsNoCase(host, "localhost") || TextRules::EqualsNoCase(host, "127.0.0.1") ||
           TextRules::EqualsNoCase(host, "[::1]");
}

} // namespace

bool IsLoopbackHost(const char* pHost)
{
    if (!pHost)
        return false;
    std::string_view host(pHost), port;
    return SplitPort(host, port) && IsLoopbackName(host);
}

bool IsLoopbackOrigin(std::string_view origin, int port)
{
    constexpr std::string_view Scheme = "http://";
    if (!TextRules::StartsWithNoCase(origin, Scheme))
        return false;
    std::string_view host = origin.substr(Scheme.size()), written;
    if (!SplitPort(host, written) || !IsLoopbackName(host))
        return false;
    // A browser writes no port for 80, and never a leading zero.
    return port < 0 || (written.empty() ? port == 80 : written == std::to_string(port));
}

} // namespace HttpRules
} // namespace Corvan
