#pragma once

// Which Host values and origins name this machine: the guard against DNS rebinding and against
// other websites' pages.

#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// True for a Host header naming this machine's loopback: localhost, 127.0.0.1 or [::1], in any
// case, with an optional trailing dot and an optional port. Any other name may be an attacker's
// domain that resolves to 127.0.0.1 (DNS rebinding), so it is refused.
bool IsLoopbackHost(const char* pHost);

// True for an origin on this machine's loopback: "http://" (in any case) and a host as
// IsLoopbackHost takes it, and nothing after it. With a `port`, the origin's port must be that one
// as a browser writes it (none for 80); with none (-1), any port or none will do.
bool IsLoopbackOrigin(std::string_view origin, int port = -1);

} // namespace HttpRules
} // namespace Corvan
