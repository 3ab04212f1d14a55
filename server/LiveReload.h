#pragma once

// Live reload: pages served from the folder follow it while the user edits. Every page gets one
// script tag for ScriptPath (served here, so a "script-src 'self'" policy still runs it); the
// script opens a WebSocket to SocketPath. Changes the folder watcher reports are coalesced for a
// short quiet time and sent to every open socket as one text message:
//   "reload"  reload the page
//   "css"     only style sheets changed: fetch them again in place
//   "off"     live reload has ended for this server (the folder cannot be watched): stop retrying

#include "platform/FolderWatcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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
    // Reserved names below the root. Only these two are the server's: the rest of a user's own
    // "__corvan" folder is served as usual.
    static constexpr const char* ScriptPath = "/__corvan/live.js";
    static constexpr const char* SocketPath = "/__corvan/live";
    static constexpr const char* ScriptTag = "<script src=\"/__corvan/live.js\"></script>";

    // Each open socket holds one of civetweb's 64 workers for as long as its page stays open;
    // refusing sockets beyond this keeps the rest free for requests.
    static constexpr int MaxSockets = 40;
    // A page gets the script only if it can be read whole; larger ones go out untouched.
    static constexpr std::int64_t MaxPageSize = 8 * 1024 * 1024;

    // An editor's save is several events within a few milliseconds; a build may go on longer.
    static constexpr std::chrono::milliseconds QuietTime{40};
    static constexpr std::chrono::milliseconds LongestDelay{400};

    CLiveReload(std::string strRoot, int port);
    ~CLiveReload();
    CLiveReload(const CLiveReload&) = delete;
    CLiveReload& operator=(const CLiveReload&) = delete;

    // Starts watching the folder in the background and takes SocketPath on `pContext`.
    void Start(mg_context* pContext);
    // Stops watching; call before the civetweb context stops, and keep this object until it has.
    void Stop();

    // False once the folder could not be watched: pages are then served untouched.
    bool IsActive() const { return m_active; }

    enum class ERoute
    {
        NotOurs,       // an ordinary request
        Script,        // answer with Script()
        Socket,        // a WebSocket upgrade to accept: let civetweb go on
        NotUpgrade,    // SocketPath without a proper upgrade: 400
        ForeignOrigin, // 403: another site's page may not listen
        Busy,          // 503: MaxSockets are open
        Off,           // 404: live reload has ended
    };
    // Decides a request whose target decoded to `relativePath` (as the server maps it, without the
    // leading '/'). The Host header must have been checked already. A socket that arrives while
    // the first scan of the folder still runs waits for it (up to ScanWait), so that a page whose
    // socket is open never misses a change.
    ERoute Route(const mg_connection* pConnection, const std::string& relativePath);
    static constexpr std::chrono::milliseconds ScanWait{3000};

    static const std::string& Script();

    // True for a request a browser makes to show a page: a navigation of a tab or a frame
    // (Sec-Fetch-Dest), or, from a browser without that header, one that asks for HTML first.
    // A script's fetch of an HTML file, a download tool or a test gets the file's own bytes.
    static bool IsNavigation(const mg_connection* pConnection);

    // True for this server's own origin: http://localhost:PORT or http://127.0.0.1:PORT.
    static bool IsOwnOrigin(const char* pOrigin, int port);

private:
    static int OnConnect(const mg_connection* pConnection, void* pData);
    static void OnReady(mg_connection* pConnection, void* pData);
    static int OnData(mg_connection* pConnection, int bits, char* pText, std::size_t length, void* pData);
    static void OnClose(const mg_connection* pConnection, void* pData);

    void OnWatching();
    void OnChange(const std::string& relativePath);
    void OnFailure(const std::string& reason);
    void Debounce();
    void Broadcast(const std::string& message);
    // Tells every open page that live reload is off for good, and closes its socket.
    void BroadcastOff();
    static void SendOff(mg_connection* pConnection);
    int OpenSockets() const;

    std::string m_strRoot;
    int m_port;
    std::atomic<bool> m_active{true};
    CFolderWatcher m_watcher;

    mutable std::mutex m_socketsMutex;
    std::vector<mg_connection*> m_sockets; // handshake done
    int m_reservedSockets = 0;             // accepted, handshake done or under way

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
