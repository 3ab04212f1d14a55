#pragma once

// Serves one folder over HTTP on the loopback interface, on top of civetweb. civetweb accepts
// connections, parses requests and keeps connections alive. Every request first passes the
// central check here (method, Host, target); then the feature that owns its route answers it:
// live reload its script and socket (LiveReload.h), the folder's files everything else
// (StaticFiles.h). None of civetweb's scripting, listing or file-serving defaults can run.

#include "server/StaticFiles.h"

#include <atomic>
#include <memory>
#include <string>

struct mg_connection;
struct mg_context;

namespace Corvan
{

class CLiveReload;

class CFileServer
{
public:
    // civetweb gives each open connection a worker thread of its own for as long as it lasts, so
    // the pool must outnumber what may be open at once: a browser's tabs and live pages, and 200
    // stalled or hostile clients beside them. An idle worker costs about 18 KiB.
    static constexpr int MaxWorkers = 384;

    explicit CFileServer(std::string strRoot);
    ~CFileServer();
    CFileServer(const CFileServer&) = delete;
    CFileServer& operator=(const CFileServer&) = delete;

    // Pages follow the folder as it changes (LiveReload.h); call before Start.
    void EnableLiveReload() { m_liveReloadWanted = true; }

    // Listens on 127.0.0.1:port; false with civetweb's reason when it cannot.
    bool Start(int port, std::string& strError);
    void Stop();

private:
    // Each feature takes its routes on the started context.
    void RegisterFeatures();
    static int BeginRequest(mg_connection* pConnection);
    static int HttpError(mg_connection* pConnection, int status, const char* pMessage);
    static int ConnectionOpened(const mg_connection* pConnection, void** ppData);
    static void ConnectionClosed(const mg_connection* pConnection);
    static CFileServer& Of(const mg_connection* pConnection);
    // True when few workers are left: answers then end their connection, so that a keep-alive
    // connection waiting for a next request does not hold a worker a new client needs.
    bool WorkersScarce() const { return m_openConnections.load(std::memory_order_relaxed) > m_workers * 7 / 8; }

    std::string m_strRoot;
    mg_context* m_pContext = nullptr;
    int m_port = 0;
    int m_workers = MaxWorkers;
    std::atomic<int> m_openConnections{0};
    bool m_liveReloadWanted = false;
    CStaticFiles m_staticFiles;
    std::unique_ptr<CLiveReload> m_pLiveReload;
};

} // namespace Corvan
