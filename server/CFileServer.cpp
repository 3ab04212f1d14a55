#include "server/CFileServer.h"

#include "server/HttpResponse.h"
#include "server/LiveReload.h"

#include <civetweb.h>

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <utility>

namespace Corvan
{

namespace
{

// Exactly one Host header, naming the loopback; 0 when it does, else the status to refuse with.
int CheckHost(const mg_request_info* pRequest)
{
    const char* pHost = nullptr;
    for (int i = 0; i < pRequest->num_headers; ++i)
    {
        if (strcasecmp(pRequest->http_headers[i].name, "Host") == 0)
        {
            if (pHost)
                return 400;
            pHost = pRequest->http_headers[i].value;
        }
    }
    if (!pHost)
        return 400;
    return HttpRules::IsLoopbackHost(pHost) ? 0 : 403;
}

} // namespace

CFileServer::CFileServer(std::string strRoot) : m_strRoot(std::move(strRoot)), m_staticFiles(m_strRoot) {}

CFileServer::~CFileServer()
{
    Stop();
}

bool CFileServer::Start(int port, std::string& strError)
{
    const std::string ports = "127.0.0.1:" + std::to_string(port);
    // No document_root: civetweb itself serves, lists, runs and includes nothing; the features'
    // routes answer every request.
    const char* options[] = {"listening_ports", ports.c_str(),
                             // Browser tabs hold keep-alive connections, each one a worker.
                             "num_threads", "64", "enable_keep_alive", "yes",
                             // Without it keep-alive responses wait for Nagle's delayed ACK.
                             "tcp_nodelay", "1",
                             // Raw targets: this server decodes them itself, exactly once.
                             "decode_url", "no", nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = &CFileServer::BeginRequest;
    callbacks.http_error = &CFileServer::HttpError;
    callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = this;
    init.configuration_options = options;
    char text[256] = "";
    unsigned code = 0;
    mg_error_data error{&code, text, sizeof text};
    m_pContext = mg_start2(&init, &error);
    if (!m_pContext)
    {
        strError = text[0] ? text : "the web server did not start";
        return false;
    }
    if (m_liveReloadWanted)
    {
        m_pLiveReload = std::make_unique<CLiveReload>(m_strRoot, port);
        m_pLiveReload->Start(m_pContext);
        const CLiveReload* pLiveReload = m_pLiveReload.get();
        m_staticFiles.SetPageTag([pLiveReload](const mg_connection* pConnection)
                                 { return pLiveReload->PageTagFor(pConnection); });
    }
    // Last: it takes every target the features above did not.
    m_staticFiles.Register(m_pContext);
    return true;
}

void CFileServer::Stop()
{
    // No more messages to sockets, then civetweb closes them (and calls back into live reload).
    if (m_pLiveReload)
        m_pLiveReload->Stop();
    if (m_pContext)
        mg_stop(m_pContext);
    m_pContext = nullptr;
    m_staticFiles.SetPageTag(nullptr);
    m_pLiveReload.reset();
}

// What every request needs before its route's owner sees it: GET or HEAD, a loopback Host, and a
// target that decodes to a visible path below the folder. 0 lets civetweb hand it to that owner.
int CFileServer::BeginRequest(mg_connection* pConnection)
{
    const mg_request_info* pInfo = mg_get_request_info(pConnection);
    CRequest& request = CurrentRequest();
    request.pConnection = pConnection;
    request.isHead = std::strcmp(pInfo->request_method, "HEAD") == 0;
    request.keepAlive = ClientKeepsAlive(pConnection);

    if (const int status = CheckHost(pInfo))
        return SendError(request, status);
    if (!request.isHead && std::strcmp(pInfo->request_method, "GET") != 0)
        return SendError(request, 405, "Allow", "GET, HEAD");
    switch (HttpRules::DecodeTarget(pInfo->request_uri, request.target))
    {
    case HttpRules::ETarget::BadRequest:
        return SendError(request, 400);
    case HttpRules::ETarget::Hidden:
        return SendError(request, 404);
    case HttpRules::ETarget::Ok:
        break;
    }
    return 0;
}

int CFileServer::HttpError(mg_connection* pConnection, int status, const char*)
{
    // civetweb's own refusals (malformed request lines, oversized headers): same shape as ours,
    // and the connection ends because the request could not be framed.
    const mg_request_info* pInfo = mg_get_request_info(pConnection);
    const char* pMethod = pInfo ? pInfo->request_method : nullptr;
    CRequest request;
    request.pConnection = pConnection;
    request.isHead = pMethod && std::strcmp(pMethod, "HEAD") == 0;
    request.keepAlive = false;
    // civetweb refuses methods it does not know (TRACE among them) as malformed; to the client
    // they are just methods this server does not allow.
    if (status == 400 && pMethod && *pMethod &&
        std::all_of(pMethod, pMethod + std::strlen(pMethod), [](char c) { return c >= 'A' && c <= 'Z'; }) &&
        std::strcmp(pMethod, "GET") != 0 && !request.isHead)
        SendError(request, 405, "Allow", "GET, HEAD");
    else
        SendError(request, status);
    return 0;
}

} // namespace Corvan
