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
// changed style sheets in place when only CSS changed, and shows the developer's notices about the page.
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

    // Notices for the developer, stacked in one corner: lines the site's rule files skipped, and
    // what went wrong with this page's own resources. Plain text only (they quote the site's files
    // and requests); each closes with its own x, past a handful the rest wait behind a count. A
    // closed rule-file line stays closed for this tab; the page's own come back with each load
    // that still has them.
    var notices = [], noticeSeen = Object.create(null), noticesShown = 5, dismissedKey = '__corvanDismissed';

    function dismissedNotices() {
        try {
            var list = JSON.parse(sessionStorage.getItem(dismissedKey) || '[]');
            return Array.isArray(list) ? list : [];
        } catch (e) {
            return [];
        }
    }

    function addNotice(text, fromRules) {
        if (!text || noticeSeen[text] || (fromRules && dismissedNotices().indexOf(text) >= 0)) {
            return;
        }
        noticeSeen[text] = true;
        var notice = {text: text, fromRules: fromRules};
        if (fromRules) {
            notices.splice(notices.filter(function (n) { return n.fromRules; }).length, 0, notice);
        } else {
            notices.push(notice);
        }
        showNotices();
    }

    function noticeRow(notice) {
        var row = document.createElement('div');
        row.style.cssText = 'position:relative;padding:4px 28px 4px 0;border-top:1px solid #e6d48a';
        var text = document.createElement('span');
        text.textContent = notice.text;
        var close = document.createElement('button');
        close.type = 'button';
        close.textContent = '\u00d7';
        close.setAttribute('aria-label', 'Dismiss');
        close.style.cssText = 'position:absolute;top:0;right:0;border:0;background:none;color:#222;' +
            'font:18px sans-serif;cursor:pointer';
        close.onclick = function () {
            notices.splice(notices.indexOf(notice), 1);
            if (notice.fromRules) {
                try {
                    sessionStorage.setItem(dismissedKey,
                        JSON.stringify(dismissedNotices().concat([notice.text]).slice(-100)));
                } catch (e) {}
            }
            showNotices();
        };
        row.appendChild(text);
        row.appendChild(close);
        return row;
    }

    function showNotices() {
        var box = document.getElementById('__corvan-notices');
        if (!notices.length) {
            if (box && box.parentNode) {
                box.parentNode.removeChild(box);
            }
            return;
        }
        if (!box) {
            box = document.createElement('div');
            box.id = '__corvan-notices';
            box.setAttribute('role', 'status');
            box.style.cssText = 'position:fixed;right:12px;bottom:12px;z-index:2147483647;max-width:40em;' +
                'max-height:60vh;overflow:auto;margin:0;padding:4px 8px 4px 12px;background:#fff8d6;color:#222;' +
                'border:1px solid #c9a400;border-radius:4px;font:13px/1.4 sans-serif;white-space:pre-wrap;' +
                'word-break:break-word;box-shadow:0 2px 8px rgba(0,0,0,.2)';
            (document.body || document.documentElement).appendChild(box);
        }
        while (box.firstChild) {
            box.removeChild(box.firstChild);
        }
        notices.slice(0, noticesShown).forEach(function (notice) {
            box.appendChild(noticeRow(notice));
        });
        box.firstChild.style.borderTop = '0';
        if (notices.length > noticesShown) {
            var more = document.createElement('div');
            more.style.cssText = 'padding:4px 0;font-style:italic';
            more.textContent = (notices.length - noticesShown) + ' more';
            box.appendChild(more);
        }
    }

    // Paths a browser refuses from an http:// page, or that only some browsers and no static host
    // take: file: addresses, Windows drive paths, '\' for '/'.
    function checkPaths() {
        var elements = document.querySelectorAll('[src],[href],[srcset]');
        Array.prototype.forEach.call(elements, function (element) {
            ['src', 'href', 'srcset'].forEach(function (name) {
                var value = element.getAttribute(name);
                if (value === null) {
                    return;
                }
                var paths = name !== 'srcset' ? [value] : value.split(',').map(function (candidate) {
                    return candidate.trim().split(/\s+/)[0];
                });
                paths.forEach(function (path) {
                    path = path.trim();
                    var refused = 'from an http:// page; use a path relative to the page';
                    var why = /^file:/i.test(path) ? 'a browser refuses file: addresses ' + refused :
                        /^[a-z]:[\\\/]/i.test(path) ? 'a browser refuses drive paths ' + refused :
                        path.indexOf('\\') >= 0 ? '\\ is no separator on the web (static hosts answer 404): use /' : '';
                    if (why) {
                        var shown = path.length > 120 ? path.slice(0, 117) + '...' : path;
                        addNotice(element.tagName.toLowerCase() + ' ' + name + ' "' + shown + '": ' + why, false);
                    }
                });
            });
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
            socket.send('page ' + location.pathname);
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
            } else if (typeof event.data === 'string' && /^(notices|resources)\n/.test(event.data)) {
                var lines = event.data.split('\n'), fromRules = lines.shift() === 'notices';
                if (fromRules) {
                    // The whole list each time: a trouble that is over leaves the page.
                    notices = notices.filter(function (n) {
                        var kept = !n.fromRules || lines.indexOf(n.text) >= 0;
                        if (!kept) {
                            delete noticeSeen[n.text];
                        }
                        return kept;
                    });
                    showNotices();
                }
                lines.forEach(function (line) {
                    addNotice(line, fromRules);
                });
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
    if (document.readyState === 'complete') {
        checkPaths();
    } else {
        window.addEventListener('load', checkPaths);
    }
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
