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
// changed style sheets in place when only CSS changed.
(function () {
    'use strict';
    if (window.__corvanLiveReload) {
        return;
    }
    window.__corvanLiveReload = true;
    var firstDelay = 250, longestDelay = 10000, delay = firstDelay, stopped = false;

    // The path of a URL on this server, as the server names files (below the root), in lower case:
    // a name differing in case only is taken for the same file (a server on Windows serves it).
    function pathOf(href) {
        var url = new URL(href, location.href);
        if (url.origin !== location.origin) {
            return null;
        }
        try {
            return decodeURIComponent(url.pathname).slice(1).toLowerCase();
        } catch (e) {
            return url.pathname.slice(1).toLowerCase();
        }
    }

    // True when the sheet, or one it imports, is one of `names`.
    function uses(sheet, names, depth) {
        if (!sheet || depth > 8) {
            return false;
        }
        if (sheet.href && names.indexOf(pathOf(sheet.href)) >= 0) {
            return true;
        }
        var rules;
        try {
            rules = sheet.cssRules;
        } catch (e) {
            return false;
        }
        return Array.prototype.some.call(rules || [], function (rule) {
            return rule.type === 3 && uses(rule.styleSheet, names, depth + 1);
        });
    }

    // Fetches the page's style sheets again: those that are or import one of `names` (paths below the
    // root), or every one when none of them does or no names were given.
    function swapStyleSheets(names) {
        var stamp = String(Date.now());
        var links = Array.prototype.filter.call(document.querySelectorAll('link[href]'), function (link) {
            return /(^|\s)stylesheet(\s|$)/i.test(link.rel) && !link.__corvanReplaced && link.parentNode &&
                pathOf(link.href) !== null;
        });
        if (names) {
            names = names.map(function (name) { return String(name).toLowerCase(); });
            var named = links.filter(function (link) {
                return names.indexOf(pathOf(link.href)) >= 0 || uses(link.sheet, names, 0);
            });
            if (named.length) {
                links = named;
            }
        }
        links.forEach(function (link) {
            var url = new URL(link.href, location.href);
            url.searchParams.set('__corvan', stamp);
            // The old sheet stays until the new one has loaded, so the page never flashes unstyled; a
            // sheet swapped again while it loads takes the ones it was to replace along.
            var fresh = link.cloneNode(false);
            fresh.href = url.href;
            fresh.__corvanOld = (link.__corvanOld || []).concat([link]);
            link.__corvanReplaced = true;
            var done = function () {
                fresh.__corvanOld.forEach(function (old) {
                    if (old.parentNode) {
                        old.parentNode.removeChild(old);
                    }
                });
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
            } else if (event.data === 'css' || String(event.data).indexOf('css\n') === 0) {
                var names = null;
                try {
                    names = JSON.parse(event.data.slice(4) || 'null');
                } catch (e) {}
                swapStyleSheets(Array.isArray(names) ? names : null);
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
    CHttpResponse response = NewResponse(request, 200);
    response.set(boost::beast::http::field::content_type, "text/javascript; charset=utf-8");
    // A page that requires it of what it loads (Cross-Origin-Embedder-Policy: require-corp in the
    // site's _headers) still runs the script; its socket is not subject to that policy.
    response.set("Cross-Origin-Resource-Policy", "same-origin");
    SetText(response, std::string(ScriptText, sizeof ScriptText - 1));
    return response;
}

bool IsNavigation(const CRequest& request)
{
    if (const auto destination = request.Header("Sec-Fetch-Dest"))
        return TextRules::EqualsNoCase(*destination, "document") || TextRules::EqualsNoCase(*destination, "iframe") ||
               TextRules::EqualsNoCase(*destination, "frame");
    const auto accept = request.Header(boost::beast::http::field::accept);
    return accept && TextRules::ContainsNoCase(*accept, "text/html");
}

} // namespace LiveReloadScript
} // namespace Corvan
