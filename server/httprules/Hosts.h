#pragma once

// Which Host values name this machine: the guard against DNS rebinding.

#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// True for a Host header naming this machine's loopback: localhost, 127.0.0.1 or [::1], in any
// case, with an optional trailing dot and an optional port. Any other name may be an attacker's
// domain that resolves to 127.0.0.1 (DNS rebinding), so it is refused.
bool IsLoopbackHost(const char* pHost);

} // namespace HttpRules
} // namespace Corvan
