#pragma once

// Which requests a page's notices are about, which page each belongs to, and what the notice says.
// Only a page of this server's own origin is ever told anything, so that no other web site can
// write text into the developer's page; tools (no Sec-Fetch-Dest, no Referer) are never reported.

#include "server/httprules/Target.h"
#include "server/noticerules/MeantName.h"

#include <string>
#include <string_view>

namespace Corvan
{
namespace NoticeRules
{

enum class EResource
{
    None, // no Sec-Fetch-Dest: a tool, or a browser too old to say
    Page, // a navigation of a tab or a frame
    Script,
    Style,
    Image,
    Font,
    Media,
    Worker,
    Fetch, // a script's fetch
    Other, // a manifest, an embedded object, ...
};

// What a request is for, from its Sec-Fetch-Dest.
EResource Resource(const char* pDestination);
// True for what loads more on a page's behalf: the Referer of what a module imports, or of what a
// style sheet's url() names, is the module or the sheet.
bool LoadsMore(EResource resource);
// True for a request whose failure a page is told of: a resource of a page, not the browser's own
// /favicon.ico nor a source map.
bool IsReported(EResource resource, std::string_view relativePath);

// How pages are told apart: "/" and the decoded path below the root, a folder's with its '/'.
std::string PageKey(const HttpRules::CTarget& target);
// The page key of the Referer when it names this server's own origin (http://, a loopback host and
// `port`) and Sec-Fetch-Site, where sent, says same-origin; empty otherwise.
std::string OwnReferrer(const char* pSite, const char* pReferer, int port);
// The page key a page's socket names in its one message, "page " and its location.pathname; empty
// for anything else.
std::string SocketPage(std::string_view message);

// Why the answer failed the page ("not found", ...), or nullptr when it did not. A script, style
// sheet, image, font or media file answered with a page (what a "/* /index.html 200" rule does for
// every missing file) failed too.
const char* Failure(EResource resource, int status, bool answeredWithPage);

// One line: what was asked and, where the folder has it, what was meant. Paths are outside text,
// escaped as such (HttpRules::TerminalEscape).
std::string NoticeText(std::string_view path, const char* pFailure, const CMeantName& meant);

} // namespace NoticeRules
} // namespace Corvan
