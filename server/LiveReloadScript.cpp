#include "server/LiveReloadScript.h"

#include "server/TextRules.h"

namespace Corvan
{
namespace LiveReloadScript
{

namespace
{

// The server's reserved names, spelled here only. Only these two are the server's: the rest of a
// user's own "__corvan" folder is served as usual.
#define CORVAN_RESERVED_FOLDER "__corvan/"
constexpr char ScriptTag[] = "<script src=\"/" CORVAN_RESERVED_FOLDER "live.js\"></script>";

// Served at ScriptPath. It never writes to the console: a server that went away (a new drop
// restarted it) costs a few quiet retries with a growing delay, not a stream of errors.
const char ScriptText[] = R"JS(// Follows the served folder: reloads the page when a file changes, swaps the
// style sheets in place when only CSS changed.
(function () {
    'use strict';
    if (window.__corvanLiveReload) {
        return;
    }
    window.__corvanLiveReload = true;
    var firstDelay = 250, longestDelay = 10000, delay = firstDelay, stopped = false;

    function swapStyleSheets() {
        var stamp = String(Date.now());
        var links = document.querySelectorAll('link[href]');
        Array.prototype.forEach.call(links, function (link) {
            if (!/(^|\s)stylesheet(\s|$)/i.test(link.rel) || link.__corvanReplaced || !link.parentNode) {
                return;
            }
            var url = new URL(link.href, location.href);
            if (url.origin !== location.origin) {
                return;
            }
            url.searchParams.set('__corvan', stamp);
            // The old sheet stays until the new one has loaded, so the page never flashes unstyled.
            var fresh = link.cloneNode(false);
            fresh.href = url.href;
            link.__corvanReplaced = true;
            var done = function () {
                if (link.parentNode) {
                    link.parentNode.removeChild(link);
                }
            };
            fresh.addEventListener('load', done);
            fresh.addEventListener('error', done);
            link.parentNode.insertBefore(fresh, link.nextSibling);
        });
    }

    function connect() {
        var socket;
        try {
            socket = new WebSocket('ws://' + location.host + '/)JS" CORVAN_RESERVED_FOLDER R"JS(live');
        } catch (e) {
            return;
        }
        socket.onopen = function () {
            delay = firstDelay;
        };
        socket.onmessage = function (event) {
            if (event.data === 'reload') {
                location.reload();
            } else if (event.data === 'css') {
                swapStyleSheets();
            } else if (event.data === 'off') {
                stopped = true;
                socket.close();
            }
        };
        socket.onclose = function () {
            if (!stopped) {
                setTimeout(connect, delay);
                delay = Math.min(delay * 2, longestDelay);
            }
        };
    }

    connect();
})();
)JS";
} // namespace

const char ScriptPath[] = CORVAN_RESERVED_FOLDER "live.js";
const char SocketPath[] = CORVAN_RESERVED_FOLDER "live";
#undef CORVAN_RESERVED_FOLDER

const char* Tag()
{
    return ScriptTag;
}

CHttpResponse Answer(const CRequest& request)
{
    CHttpResponse response(request, 200);
    response.Add("Content-Type", "text/javascript; charset=utf-8");
    response.Add("Content-Length", static_cast<std::int64_t>(sizeof ScriptText - 1));
    response.SetBody(std::string(ScriptText, sizeof ScriptText - 1));
    return response;
}

bool IsNavigation(const CRequest& request)
{
    if (const char* pDestination = request.Header("Sec-Fetch-Dest"))
        return TextRules::EqualsNoCase(pDestination, "document") || TextRules::EqualsNoCase(pDestination, "iframe") ||
               TextRules::EqualsNoCase(pDestination, "frame");
    const char* pAccept = request.Header("Accept");
    return pAccept && TextRules::ContainsNoCase(pAccept, "text/html");
}

} // namespace LiveReloadScript
} // namespace Corvan
