#pragma once

// Which headers pass a proxy, as a reverse proxy should treat them (RFC 9110 7.6).

#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// True for headers that describe one connection rather than the message, and so never pass a proxy
// in either direction: Connection, Keep-Alive, TE, Trailer, Transfer-Encoding, Upgrade (the caller
// passes it on for an upgrade), Proxy-*, and those that `connection` (the message's Connection
// values, joined with commas) names.
bool IsHopByHop(std::string_view name, std::string_view connection);

// True for the request headers a proxy sets itself in place of the client's: Host, Forwarded and
// X-Forwarded-*.
bool IsSetByProxy(std::string_view name);

// True when the Via list `via` ("1.1 a, HTTP/1.0 b (comment)") holds an entry received by `name`.
bool ViaHolds(std::string_view via, std::string_view name);

} // namespace HttpRules
} // namespace Corvan
