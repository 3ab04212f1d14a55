#include "server/LiveReload.h"

#include "platform/ServerPlatform.h"
#include "server/HttpResponse.h"
#include "server/WebSocketInput.h"

#include <civetweb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <utility>

namespace Corvan
{

namespace
{

// The server's reserved names, spelled here only. Only these two are the server's: the rest of a
// user's own "__corvan" folder is served as usual.
#define CORVAN_RESERVED_FOLDER "/__corvan/"
constexpr char ScriptPath[] = CORVAN_RESERVED_FOLDER "live.js";
constexpr char SocketPath[] = CORVAN_RESERVED_FOLDER "live";
constexpr char ScriptTag[] = "<script src=\"" CORVAN_RESERVED_FOLDER "live.js\"></script>";
// civetweb's route patterns: '$' takes the name alone, not the names below it.
constexpr char ScriptRoute[] = CORVAN_RESERVED_FOLDER "live.js$";
constexpr char SocketRoute[] = CORVAN_RESERVED_FOLDER "live$";

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
            socket = new WebSocket('ws://' + location.host + ')JS" CORVAN_RESERVED_FOLDER R"JS(live');
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
#undef CORVAN_RESERVED_FOLDER

bool EqualsNoCase(const char* pText, const std::string& expected)
{
    return std::strlen(pText) == expected.size() && std::equal(expected.begin(), expected.end(), pText,
                                                               [](char a, char b) {
                                                                   return std::tolower(static_cast<unsigned char>(a)) ==
                                                                          std::tolower(static_cast<unsigned char>(b));
                                                               });
}

// Case-insensitive search in a header value, as civetweb itself decides an upgrade.
bool HeaderContains(const mg_connection* pConnection, const char* pName, const char* pWord)
{
    const char* pValue = mg_get_header(pConnection, pName);
    if (!pValue)
        return false;
    std::string value(pValue);
    std::transform(value.begin(), value.end(), value.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return value.find(pWord) != std::string::npos;
}

// A handshake key as RFC 6455 has it: 16 bytes in base64. civetweb fails the handshake of a key
// too long for its buffer after our connect handler has taken a place, and then never calls the
// close handler that would give it back; so no other key gets that far.
bool IsSocketKey(const char* pKey)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!pKey || std::strlen(pKey) != 24 || std::strcmp(pKey + 22, "==") != 0)
        return false;
    return std::all_of(pKey, pKey + 22, [](char c) { return std::strchr(Alphabet, c) != nullptr; });
}

bool IsStyleSheet(const std::string& path)
{
    return path.size() > 4 && EqualsNoCase(path.c_str() + path.size() - 4, ".css");
}

// Test-only bounds, so the degraded paths can be tried without a huge folder or a changed system.
std::size_t LimitFromEnvironment(const char* pName, std::size_t fallback)
{
    const char* pValue = std::getenv(pName);
    if (!pValue || !*pValue)
        return fallback;
    char* pEnd = nullptr;
    const unsigned long long value = std::strtoull(pValue, &pEnd, 10);
    return *pEnd == '\0' ? static_cast<std::size_t>(value) : fallback;
}

} // namespace

CLiveReload::CLiveReload(std::string strRoot, int port) : m_strRoot(std::move(strRoot)), m_port(port) {}

CLiveReload::~CLiveReload()
{
    Stop();
}

void CLiveReload::Start(mg_context* pContext)
{
    // civetweb's start clears the calling thread's signal mask; new threads inherit it, and a stop
    // signal must reach only the main thread's wait.
    ServerPlatform::BlockStopSignals();
    mg_set_request_handler(pContext, ScriptRoute, &CLiveReload::OnScriptRequest, this);
    mg_set_request_handler(pContext, SocketRoute, &CLiveReload::OnPlainSocketRequest, this);
    mg_set_websocket_handler(pContext, SocketRoute, &CLiveReload::OnConnect, &CLiveReload::OnReady,
                             &CLiveReload::OnData, &CLiveReload::OnClose, this);
    m_debounceThread = std::thread([this] { Debounce(); });
    CFolderWatcher::CLimits limits;
    limits.maxEntries = LimitFromEnvironment("CORVAN_TEST_MAX_ENTRIES", limits.maxEntries);
    limits.maxWatches = LimitFromEnvironment("CORVAN_TEST_MAX_WATCHES", limits.maxWatches);
    m_watcher.Start(
        m_strRoot, limits, [this] { OnWatching(); }, [this](const std::string& path) { OnChange(path); },
        [this] { OnRootGone(); }, [this](const std::string& reason) { OnFailure(reason); });
}

void CLiveReload::Stop()
{
    {
        // Sockets read here wait for their page without a time limit: wake them.
        std::lock_guard<std::mutex> lock(m_socketsMutex);
        m_socketsEnding = true;
        for (const auto& pSocket : m_sockets)
            pSocket->socket.Shutdown();
    }
    m_watcher.Stop();
    {
        std::lock_guard<std::mutex> lock(m_changesMutex);
        m_stopping = true;
    }
    m_changesChanged.notify_all();
    if (m_debounceThread.joinable())
        m_debounceThread.join();
}

const char* CLiveReload::PageTagFor(const mg_connection* pConnection) const
{
    return m_active && IsNavigation(pConnection) ? ScriptTag : nullptr;
}

int CLiveReload::OnScriptRequest(mg_connection*, void*)
{
    static const std::string script(ScriptText);
    CHttpResponse response(CurrentRequest(), 200);
    response.Add("Content-Type", "text/javascript; charset=utf-8");
    response.Add("Content-Length", static_cast<std::int64_t>(script.size()));
    response.Send(script);
    return 200;
}

int CLiveReload::OnPlainSocketRequest(mg_connection*, void*)
{
    // The socket's name asked for without a proper upgrade.
    CRequest request = CurrentRequest();
    request.keepAlive = false;
    return SendError(request, 400);
}

bool CLiveReload::IsNavigation(const mg_connection* pConnection)
{
    if (const char* pDestination = mg_get_header(pConnection, "Sec-Fetch-Dest"))
        return EqualsNoCase(pDestination, "document") || EqualsNoCase(pDestination, "iframe") ||
               EqualsNoCase(pDestination, "frame");
    return HeaderContains(pConnection, "Accept", "text/html");
}

bool CLiveReload::IsOwnOrigin(const char* pOrigin, int port)
{
    // The host as every request's Host is checked (a page served for "localhost." may listen),
    // and the port exactly as a browser writes it: none for 80.
    static const char Scheme[] = "http://";
    if (!pOrigin || strncasecmp(pOrigin, Scheme, sizeof Scheme - 1) != 0)
        return false;
    const std::string host = pOrigin + sizeof Scheme - 1;
    if (!HttpRules::IsLoopbackHost(host.c_str()))
        return false;
    const std::size_t colon = host.rfind(':');
    const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
    return hasPort ? host.compare(colon + 1, std::string::npos, std::to_string(port)) == 0 : port == 80;
}

int CLiveReload::AdmitSocket(const mg_connection* pConnection)
{
    if (!IsSocketKey(mg_get_header(pConnection, "Sec-WebSocket-Key")))
        return 400;
    if (!IsOwnOrigin(mg_get_header(pConnection, "Origin"), m_port))
        return 403; // another site's page may not listen
    {
        std::unique_lock<std::mutex> lock(m_changesMutex);
        m_changesChanged.wait_for(lock, ScanWait, [this] { return !m_scanning || m_stopping; });
    }
    if (!m_active)
        return 404; // live reload has ended
    std::lock_guard<std::mutex> lock(m_socketsMutex);
    if (m_reservedSockets >= MaxSockets)
        return 503;
    ++m_reservedSockets;
    return 0;
}

int CLiveReload::OnConnect(const mg_connection* pConnection, void* pData)
{
    const int status = static_cast<CLiveReload*>(pData)->AdmitSocket(pConnection);
    if (status == 0)
        return 0; // civetweb completes the handshake
    CRequest request = CurrentRequest();
    request.keepAlive = false;
    SendError(request, status);
    return 1;
}

void CLiveReload::OnReady(mg_connection* pConnection, void* pData)
{
    auto* pSelf = static_cast<CLiveReload*>(pData);
    auto pOwned = std::make_unique<CSocket>();
    CSocket& socket = *pOwned;
    socket.pConnection = pConnection;
    const mg_request_info* pInfo = mg_get_request_info(pConnection);
    socket.readHere = socket.socket.Find(pInfo->remote_addr, pInfo->remote_port, pSelf->m_port);
    {
        std::lock_guard<std::mutex> lock(pSelf->m_socketsMutex);
        pSelf->m_sockets.push_back(std::move(pOwned));
        if (pSelf->m_socketsEnding)
            socket.socket.Shutdown();
        // The page has its 101 before this runs. Had watching failed in between, the broadcast of
        // "off" missed this socket: tell it here (m_active turns false before that broadcast locks).
        else if (!pSelf->m_active)
            SendOff(socket);
    }
    if (!socket.readHere)
        return;
    pSelf->Listen(socket);
    // civetweb's own reader, which runs next, finds the socket ended and calls OnClose.
    socket.socket.Shutdown();
}

void CLiveReload::Listen(CSocket& socket)
{
    CWebSocketInput input;
    std::vector<CWebSocketInput::CFrame> replies;
    char buffer[4096];
    for (bool open = true; open;)
    {
        const long long count = socket.socket.Receive(buffer, sizeof buffer, CloseWaitMs);
        std::lock_guard<std::mutex> lock(m_socketsMutex);
        if (count == ServerPlatform::CConnectionSocket::TimedOut && !socket.closeSent)
            continue;
        if (count <= 0)
            return;
        open = input.Feed(buffer, static_cast<std::size_t>(count), replies);
        for (const CWebSocketInput::CFrame& reply : replies)
        {
            // A close answers the page's, unless this side's own close went first.
            if (reply.opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE && std::exchange(socket.closeSent, true))
                continue;
            mg_websocket_write(socket.pConnection, reply.opcode, reply.payload.data(), reply.payload.size());
        }
        replies.clear();
    }
}

int CLiveReload::OnData(mg_connection*, int bits, char*, std::size_t, void*)
{
    // Only where the socket could not be read here. Pages have nothing to say; only their close
    // ends the socket.
    return (bits & 0x0F) != MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE;
}

void CLiveReload::OnClose(const mg_connection* pConnection, void* pData)
{
    auto* pSelf = static_cast<CLiveReload*>(pData);
    std::lock_guard<std::mutex> lock(pSelf->m_socketsMutex);
    pSelf->m_sockets.erase(std::remove_if(pSelf->m_sockets.begin(), pSelf->m_sockets.end(),
                                          [pConnection](const std::unique_ptr<CSocket>& pSocket)
                                          { return pSocket->pConnection == pConnection; }),
                           pSelf->m_sockets.end());
    --pSelf->m_reservedSockets;
}

void CLiveReload::OnWatching()
{
    {
        std::lock_guard<std::mutex> lock(m_changesMutex);
        m_scanning = false;
    }
    m_changesChanged.notify_all();
}

void CLiveReload::OnChange(const std::string& relativePath)
{
    {
        std::lock_guard<std::mutex> lock(m_changesMutex);
        const Clock::time_point now = Clock::now();
        if (!m_pending)
        {
            m_pending = true;
            m_onlyStyleSheets = true;
            m_firstChange = now;
        }
        m_lastChange = now;
        if (!IsStyleSheet(relativePath))
            m_onlyStyleSheets = false;
    }
    m_changesChanged.notify_all();
}

void CLiveReload::OnRootGone()
{
    // Build tools replace their output folder on every build: one line says what happens, not
    // one per build.
    if (m_rootGoneTold)
        return;
    m_rootGoneTold = true;
    std::fprintf(stderr, "mongoose: the folder was removed or renamed; live reload stops until a folder is "
                         "back at its path, then pages reload\n");
    std::fflush(stderr);
}

void CLiveReload::OnFailure(const std::string& reason)
{
    m_active = false;
    OnWatching(); // sockets waiting for the scan get their answer now
    std::fprintf(stderr, "mongoose: live reload is off: %s\n", reason.c_str());
    std::fflush(stderr);
    BroadcastOff();
}

void CLiveReload::Debounce()
{
    std::unique_lock<std::mutex> lock(m_changesMutex);
    for (;;)
    {
        m_changesChanged.wait(lock, [this] { return m_stopping || m_pending; });
        // Wait until the folder has been quiet for a moment, but not longer than LongestDelay in all.
        while (!m_stopping)
        {
            const Clock::time_point due = std::min(m_lastChange + QuietTime, m_firstChange + LongestDelay);
            if (Clock::now() >= due)
                break;
            m_changesChanged.wait_until(lock, due);
        }
        if (m_stopping)
            return;
        const std::string message = m_onlyStyleSheets ? "css" : "reload";
        m_pending = false;
        if (!m_active)
            continue; // pages were told "off"; nothing may follow it
        lock.unlock();
        Broadcast(message);
        lock.lock();
    }
}

void CLiveReload::Broadcast(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_socketsMutex);
    for (const auto& pSocket : m_sockets)
    {
        if (!pSocket->closeSent)
            mg_websocket_write(pSocket->pConnection, MG_WEBSOCKET_OPCODE_TEXT, message.data(), message.size());
    }
}

void CLiveReload::BroadcastOff()
{
    std::lock_guard<std::mutex> lock(m_socketsMutex);
    for (const auto& pSocket : m_sockets)
        SendOff(*pSocket);
}

void CLiveReload::SendOff(CSocket& socket)
{
    if (std::exchange(socket.closeSent, true))
        return;
    static const char off[] = "off";
    mg_websocket_write(socket.pConnection, MG_WEBSOCKET_OPCODE_TEXT, off, sizeof off - 1);
    const char normalClosure[] = {'\x03', '\xE8'}; // 1000
    mg_websocket_write(socket.pConnection, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, normalClosure, sizeof normalClosure);
}

} // namespace Corvan
