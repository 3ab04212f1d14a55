#pragma once

// Text made safe for a link, a Location or an HTML page.

#include <string>

namespace Corvan
{
namespace HttpRules
{

// Percent-encodes every byte except unreserved characters, so the result is safe as a relative
// link or Location (a ':' cannot turn it into a scheme).
std::string PercentEncode(const std::string& text);

std::string HtmlEscape(const std::string& text);

} // namespace HttpRules
} // namespace Corvan
