#include "server/siterules/ProxyRules.h"

#include "server/httprules/Hosts.h"
#include "server/httprules/TextRules.h"
#include "server/siterules/RuleFile.h"

#include <algorithm>

namespace Corvan
{
namespace ProxyRules
{

namespace
{

// "HOST[:PORT]" with a loopback host as every request's Host may name it.
bool ParseAuthority(std::string_view authority, bool portRequired, CProxyTarget& target)
{
    if (!HttpRules::IsLoopbackHost(std::string(authority).c_str()))
        return false;
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    const bool hasPort = colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
    if (!hasPort && portRequired)
        return false;
    std::string_view host = authority.substr(0, hasPort ? colon : authority.size());
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    target.host.clear();
    for (const char c : host)
        target.host += TextRules::LowerAscii(c);
    unsigned long port = hasPort ? std::stoul(std::string(authority.substr(colon + 1))) : 80;
    if (port == 0 || port > 65535)
        return false;
    target.port = static_cast<unsigned short>(port);
    return true;
}

} // namespace

bool ParseTarget(std::string_view url, CProxyTarget& target)
{
    static constexpr std::string_view Scheme = "http://";
    if (!TextRules::StartsWithNoCase(url, Scheme))
        return false;
    url.remove_prefix(Scheme.size());
    return ParseAuthority(url.substr(0, url.find_first_of("/?#")), false, target);
}

bool ParseAllowed(std::string_view text, CProxyTarget& target)
{
    return ParseAuthority(text, true, target);
}

std::string Refusal(std::string_view from, const CProxyTarget& target, int ownPort,
                    const std::vector<std::string>& allowedKeys)
{
    if (target.port == ownPort)
        return target.Origin() + " is this server itself: a rule cannot pass requests back to it";
    if (std::find(allowedKeys.begin(), allowedKeys.end(), target.Key()) != allowedKeys.end())
        return std::string();
    return "passing " + CRuleFileReader::Quote(from) + " to " + target.Origin() +
           " is not allowed for this folder: drop the page on the tool again to allow it, or start mongoose "
           "with --proxy-allow " +
           target.Key();
}

} // namespace ProxyRules
} // namespace Corvan
