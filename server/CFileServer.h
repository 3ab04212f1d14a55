#pragma once

// Serves one folder over HTTP on the loopback interface, on one event loop thread. Every request
// first passes the central check (HttpSession.cpp: framing, method, Host, target); then the
// feature that owns its route answers it: live reload its script and socket (LiveReload.h), the
// site's allowed proxy rules their paths, whatever the method (Proxy.h), the folder's files
// everything else (StaticFiles.h).

#include <memory>
#include <string>
#include <vector>

namespace Corvan
{

class CFileServer
{
public:
    explicit CFileServer(std::string strRoot);
    ~CFileServer();
    CFileServer(const CFileServer&) = delete;
    CFileServer& operator=(const CFileServer&) = delete;

    // Pages follow the folder as it changes (LiveReload.h); call before Start.
    void EnableLiveReload() { m_liveReloadWanted = true; }
    // The targets ("localhost:3000") the site's proxy rules may pass requests to (Proxy.h); none
    // by default. Call before Start.
    void AllowProxyTargets(std::vector<std::string> keys) { m_proxyAllowed = std::move(keys); }

    // Puts every route in place, then listens on 127.0.0.1:port and serves on a thread of its own;
    // false with the reason when it cannot.
    bool Start(int port, std::string& strError);
    // Open live pages are told that the server goes away; returns once the loop has ended.
    void Stop();
    // As Stop, for a process about to exit: the other connections are left open for the exit to
    // close. It closes them all at once, where closing them one by one through the loop took
    // 120-220 ms with 10,000 idle connections.
    void StopBeforeExit();

private:
    struct CImpl;
    void PrepareProxy(CImpl& impl, int port);
    std::string m_strRoot;
    bool m_liveReloadWanted = false;
    std::vector<std::string> m_proxyAllowed;
    std::unique_ptr<CImpl> m_pImpl;
};

} // namespace Corvan
