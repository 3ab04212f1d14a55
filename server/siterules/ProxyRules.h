#pragma once

// A _redirects rule with status 200 whose target is an http:// address of this machine passes its
// requests to that server (a proxy), but only once the user has allowed that target for the folder:
// the folder may be a stranger's, and a rule to, say, a container engine's API on 127.0.0.1 would
// give any page of it that API. The user's consent comes from outside the folder (the desktop tool,
// or mongoose --proxy-allow); these are its rules on text, shared by the server and the tool.

#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{

// A proxy rule's target on this machine.
struct CProxyTarget
{
    std::string host; // "localhost", "127.0.0.1" or "[::1]"
    unsigned short port = 80;

    // "localhost:3000": what the user allows.
    std::string Key() const { return host + ":" + std::to_string(port); }
    // "http://localhost:3000": how messages name it.
    std::string Origin() const { return "http://" + Key(); }
};

namespace ProxyRules
{

// Reads the host and port of an absolute URL over http:// to localhost, 127.0.0.1 or [::1] (any
// case, optional port, default 80), such as "http://localhost:3000/api/:splat"; false for any other
// URL, user names included.
bool ParseTarget(std::string_view url, CProxyTarget& target);

// Reads an allowed target as the user gives it: "HOST:PORT" with one of the three hosts.
bool ParseAllowed(std::string_view text, CProxyTarget& target);

// Why the rule "FROM target 200" is not used, or empty when it is: a target on this server's own
// port would pass requests back to it, and a target the user has not allowed is not reached.
std::string Refusal(std::string_view from, const CProxyTarget& target, int ownPort,
                    const std::vector<std::string>& allowedKeys);

} // namespace ProxyRules
} // namespace Corvan
