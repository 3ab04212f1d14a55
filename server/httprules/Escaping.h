#pragma once

// Text made safe for a link, a Location, an HTML page or a terminal.

#include <cstddef>
#include <string>
#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// Percent-encodes every byte except unreserved characters, so the result is safe as a relative
// link or Location (a ':' cannot turn it into a scheme).
std::string PercentEncode(const std::string& text);

std::string HtmlEscape(const std::string& text);

// Text from outside (a site's rule files, a request) as stderr or a page's notice may show it: one
// line that cannot move the cursor, recolour the terminal or reorder and hide what it says.
// Controls (C0, DEL, C1), the marks that set or flip the text's direction (U+061C, U+200E, U+200F,
// U+202A-U+202E, U+2066-U+2069), U+FEFF and the line and paragraph separators are shown as
// "\u202e"; bytes that are not UTF-8 as "\x9b". Joiners that names need (U+200C, U+200D) stay.
// Past `longest` bytes it is cut short, before a character or an escape, and ends in "...".
std::string TerminalEscape(std::string_view text, std::size_t longest = std::string_view::npos);

} // namespace HttpRules
} // namespace Corvan
