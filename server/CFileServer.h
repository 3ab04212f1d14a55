#pragma once

// Serves one folder over HTTP on the loopback interface, on top of civetweb. civetweb accepts
// connections, parses requests and keeps connections alive. Every request first passes the
// central check here (method, Host, target); then the feature that owns its route answers it:
// live reload its script and socket (LiveReload.h), the folder's files everything else
// (StaticFiles.h). None of civetweb's scripting, listing or file-serving defaults can run.

#include "server/StaticFiles.h"

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

    std::string m_strRoot;
    mg_context* m_pContext = nullptr;
    bool m_liveReloadWanted = false;
    CStaticFiles m_staticFiles;
    std::unique_ptr<CLiveReload> m_pLiveReload;
};

} // namespace Corvan
