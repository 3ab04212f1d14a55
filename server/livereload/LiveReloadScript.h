#pragma once

// Live reload's script: the tag every page a browser shows gets, and the script it loads (served
// here, so a "script-src 'self'" policy still runs it), which opens the page's socket back to this
// server and acts on its messages (LiveReload.h). The reserved names are spelled in its source.

#include "server/http/HttpResponse.h"
#include "server/http/Request.h"

namespace Corvan
{
namespace LiveReloadScript
{

// Below the root, as CTarget::relativePath has them.
extern const char ScriptPath[];
extern const char SocketPath[];

const char* Tag();
CHttpResponse Answer(const CRequest& request);

// True for a request a browser makes to show a page: a navigation of a tab or a frame
// (Sec-Fetch-Dest), or, from a browser without that header, one that asks for HTML first.
// A script's fetch of an HTML file, a download tool or a test gets the file's own bytes.
bool IsNavigation(const CRequest& request);

} // namespace LiveReloadScript
} // namespace Corvan
