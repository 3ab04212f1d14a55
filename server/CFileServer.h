#pragma once

// Serves one folder over HTTP on the loopback interface, on top of civetweb. civetweb accepts
// connections, parses requests and keeps connections alive; every response is made here, so none
// of civetweb's scripting, listing or file-serving defaults can run.

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
    static int BeginRequest(mg_connection* pConnection);
    static int HttpError(mg_connection* pConnection, int status, const char* pMessage);

    int HandleRequest(mg_connection* pConnection) const;

    std::string m_strRoot;
    mg_context* m_pContext = nullptr;
    bool m_liveReloadWanted = false;
    std::unique_ptr<CLiveReload> m_pLiveReload;
};

} // namespace Corvan
