#include "server/livereload/LiveReloadScript.h"

#include "server/httprules/TextRules.h"

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

    // The site's rule files had lines that were skipped: a small box says which, as plain text (the
    // lines quote the site's files), until the developer closes it for this tab.
    function showNotices(text) {
        var old = document.getElementById('__corvan-notices');
        if (old && old.parentNode) {
            old.parentNode.removeChild(old);
        }
        if (!text) {
            return;
        }
        try {
            if (sessionStorage.getItem('__corvanDismissed') === text) {
                return;
            }
        } catch (e) {}
        var box = document.createElement('div');
        box.id = '__corvan-notices';
        box.setAttribute('role', 'status');
        box.style.cssText = 'position:fixed;right:12px;bottom:12px;z-index:2147483647;max-width:40em;' +
            'margin:0;padding:8px 32px 8px 12px;background:#fff8d6;color:#222;border:1px solid #c9a400;' +
            'border-radius:4px;font:13px/1.4 sans-serif;white-space:pre-wrap;box-shadow:0 2px 8px rgba(0,0,0,.2)';
        box.textContent = text;
        var close = document.createElement('button');
        close.type = 'button';
        close.textContent = '\u00d7';
        close.setAttribute('aria-label', 'Dismiss');
        close.style.cssText = 'position:absolute;top:2px;right:4px;border:0;background:none;color:#222;' +
            'font:18px sans-serif;cursor:pointer';
        close.onclick = function () {
            if (box.parentNode) {
                box.parentNode.removeChild(box);
            }
            try {
                sessionStorage.setItem('__corvanDismissed', text);
            } catch (e) {}
        };
        box.appendChild(close);
        (document.body || document.documentElement).appendChild(box);
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
            } else if (typeof event.data === 'string' && event.data.indexOf('notices\n') === 0) {
                showNotices(event.data.slice(8));
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
    // A page that requires it of what it loads (Cross-Origin-Embedder-Policy: require-corp in the
    // site's _headers) still runs the script; its socket is not subject to that policy.
    response.Add("Cross-Origin-Resource-Policy", "same-origin");
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
