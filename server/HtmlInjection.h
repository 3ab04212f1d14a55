#pragma once

// Where the live-reload script goes in a page, as a pure function on text: no I/O, so every odd
// page can be checked on its own.

#include <string>

namespace Corvan
{
namespace HtmlInjection
{

// True for the names that are served as pages and get the script: .html and .htm, in any case.
bool IsPageName(const std::string& fileName);

// Returns `html` with `tag` inserted before its last closing body tag that is markup (one inside a
// comment, a script, a style, a title or a textarea is text), or appended when it has none.
// Pages in UTF-16 (by their byte-order mark) come back unchanged: an ASCII tag would corrupt them.
std::string InsertBeforeBodyEnd(const std::string& html, const std::string& tag);

} // namespace HtmlInjection
} // namespace Corvan
