#pragma once

// Live reload: pages served from the folder follow it while the user edits. Every page a browser
// shows gets one script tag for the live script (served here, so a "script-src 'self'" policy
// still runs it); the script opens a WebSocket back to this server. Both names are reserved below
// the root, in LiveReload.cpp alone. Changes the folder watcher reports are coalesced for a
// short quiet time and sent to every open socket as one text message:
//   "reload"  reload the page
//   "css"     only style sheets changed: fetch them again in place
//   "off"     live reload has ended for this server (the folder cannot be watched): stop retrying

#include "platform/ConnectionSocket.h"
#include "platform/FolderWatcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mg_connection;
struct mg_context;

namespace Corvan
{

class CLiveReload
{
public:
    // Each open socket holds one of civetweb's 64 workers for as long as its page stays open;
    // refusing sockets beyond this keeps the rest free for requests.
    static constexpr int MaxSockets = 40;

    // An editor's save is several events within a few milliseconds; a build may go on longer.
    static constexpr std::chrono::milliseconds QuietTime{40};
    static constexpr std::chrono::milliseconds LongestDelay{400};
    // A socket that arrives while the first scan of the folder still runs waits for it (this long
    // at most), so that a page whose socket is open never misses a change.
    static constexpr std::chrono::milliseconds ScanWait{3000};
    // How long a page has to answer this side's close before its socket ends anyway.
    static constexpr int CloseWaitMs = 1000;

    CLiveReload(std::string strRoot, int port);
    ~CLiveReload();
    CLiveReload(const CLiveReload&) = delete;
    CLiveReload& operator=(const CLiveReload&) = delete;

    // Takes its routes on `pContext` (the script, and the socket with its answers to requests
    // that are no proper upgrade) and starts watching the folder in the background.
    void Start(mg_context* pContext);
    // Stops watching; call before the civetweb context stops, and keep this object until it has.
    void Stop();

    // False once the folder could not be watched: pages are then served untouched.
    bool IsActive() const { return m_active; }

    // The script tag for a page this request shows while live reload is on; nullptr otherwise.
    const char* PageTagFor(const mg_connection* pConnection) const;

    // True for a request a browser makes to show a page: a navigation of a tab or a frame
    // (Sec-Fetch-Dest), or, from a browser without that header, one that asks for HTML first.
    // A script's fetch of an HTML file, a download tool or a test gets the file's own bytes.
    static bool IsNavigation(const mg_connection* pConnection);

    // True for this server's own origin: http://HOST:PORT with this server's port and a HOST that
    // every request's Host may name (HttpRules::IsLoopbackHost).
    static bool IsOwnOrigin(const char* pOrigin, int port);

private:
    static int OnScriptRequest(mg_connection* pConnection, void* pData);
    static int OnPlainSocketRequest(mg_connection* pConnection, void* pData);
    static int OnConnect(const mg_connection* pConnection, void* pData);
    static void OnReady(mg_connection* pConnection, void* pData);
    static int OnData(mg_connection* pConnection, int bits, char* pText, std::size_t length, void* pData);
    static void OnClose(const mg_connection* pConnection, void* pData);

    // An open socket. Its frames are read here (CWebSocketInput) on the worker that opened it;
    // civetweb reads it only where the platform cannot find the socket.
    struct CSocket
    {
        mg_connection* pConnection = nullptr;
        ServerPlatform::CConnectionSocket socket;
        bool readHere = false;
        bool closeSent = false; // guarded by m_socketsMutex
    };
    void Listen(CSocket& socket);

    // 0 when a socket may open (one place is then reserved for it), else the status to refuse with.
    int AdmitSocket(const mg_connection* pConnection);
    void OnWatching();
    void OnChange(const std::string& relativePath);
    void OnRootGone();
    void OnFailure(const std::string& reason);
    void Debounce();
    void Broadcast(const std::string& message);
    // Tells every open page that live reload is off for good, and closes its socket.
    void BroadcastOff();
    static void SendOff(CSocket& socket);

    std::string m_strRoot;
    int m_port;
    std::atomic<bool> m_active{true};
    bool m_rootGoneTold = false; // on the watcher's thread only
    CFolderWatcher m_watcher;

    mutable std::mutex m_socketsMutex;
    std::vector<std::unique_ptr<CSocket>> m_sockets; // handshake done
    int m_reservedSockets = 0;                       // accepted, handshake done or under way
    bool m_socketsEnding = false;                    // Stop has ended them

    using Clock = std::chrono::steady_clock;
    std::mutex m_changesMutex;
    std::condition_variable m_changesChanged;
    bool m_stopping = false;
    bool m_scanning = true;
    bool m_pending = false;
    bool m_onlyStyleSheets = true;
    Clock::time_point m_firstChange;
    Clock::time_point m_lastChange;
    std::thread m_debounceThread;
};

} // namespace Corvan
