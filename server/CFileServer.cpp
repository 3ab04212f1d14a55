#include "server/CFileServer.h"

#include "platform/ServerPlatform.h"
#include "server/HttpResponse.h"
#include "server/LiveReload.h"
#include "server/RequestFraming.h"

#include <civetweb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <strings.h>
#include <thread>
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

// Workers and civetweb's queue of accepted connections, sized to the descriptors the process may
// still open: each worker holds its connection and one file at a time, each queue place a
// connection. Accepting then never fails for want of a descriptor, which civetweb would retry at
// once, in a loop. False when too few are left to serve at all.
bool SizeForDescriptors(long long freeDescriptors, int& workers, int& queue)
{
    // Kept back: the listening socket, the connection civetweb holds while its queue is full, and
    // the folder watcher's (one per folder level while it scans).
    const long long budget = freeDescriptors - 24;
    queue = static_cast<int>(std::clamp<long long>(budget / 8, 1, 20));
    workers = static_cast<int>(std::clamp<long long>((budget - queue) / 2, 1, CFileServer::MaxWorkers));
    return budget >= queue + 2 * workers;
}

} // namespace

CFileServer::CFileServer(std::string strRoot) : m_strRoot(std::move(strRoot)), m_staticFiles(m_strRoot) {}

CFileServer::~CFileServer()
{
    Stop();
}

bool CFileServer::Start(int port, std::string& strError)
{
    int queue = 0;
    if (!SizeForDescriptors(ServerPlatform::FreeFileDescriptors(), m_workers, queue))
    {
        strError = "too few file descriptors are left to serve (see ulimit -n)";
        return false;
    }
    m_port = port;
    const std::string ports = "127.0.0.1:" + std::to_string(port);
    const std::string workers = std::to_string(m_workers);
    const std::string queueSize = std::to_string(queue);
    // No document_root: civetweb itself serves, lists, runs and includes nothing; the features'
    // routes answer every request.
    // clang-format off
    const char* options[] = {
        "listening_ports", ports.c_str(),
        "num_threads", workers.c_str(),
        "connection_queue", queueSize.c_str(),
        // Connections not yet accepted: a burst beyond this costs its latecomers a second (their
        // SYN is dropped and sent again).
        "listen_backlog", "1024",
        "enable_keep_alive", "yes",
        // Without it keep-alive responses wait for Nagle's delayed ACK.
        "tcp_nodelay", "1",
        // A request's head must arrive, and a client must take the answer's bytes, within this; a
        // browser sends its head in one piece and reads at once, so only stalled or hostile
        // clients meet it.
        "request_timeout_ms", "2000",
        // Raw targets: this server decodes them itself, exactly once.
        "decode_url", "no",
        nullptr};
    // clang-format on
    mg_callbacks callbacks{};
    callbacks.begin_request = &CFileServer::BeginRequest;
    callbacks.http_error = &CFileServer::HttpError;
    callbacks.init_connection = &CFileServer::ConnectionOpened;
    callbacks.connection_closed = &CFileServer::ConnectionClosed;
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
    RegisterFeatures();
    return true;
}

void CFileServer::RegisterFeatures()
{
    if (m_liveReloadWanted)
    {
        m_pLiveReload = std::make_unique<CLiveReload>(m_strRoot, m_port);
        m_pLiveReload->Start(m_pContext);
        const CLiveReload* pLiveReload = m_pLiveReload.get();
        m_staticFiles.SetPageTag([pLiveReload](const mg_connection* pConnection)
                                 { return pLiveReload->PageTagFor(pConnection); });
    }
    // Last: it takes every target the features above did not.
    m_staticFiles.Register(m_pContext);
}

void CFileServer::Stop()
{
    // No more messages to sockets, then civetweb closes them (and calls back into live reload).
    if (m_pLiveReload)
        m_pLiveReload->Stop();
    if (m_pContext)
    {
        // civetweb's listening thread looks for the stop only when a connection arrives or after
        // waiting two seconds for one: knock until it has seen it, and an idle server stops at once.
        std::atomic<bool> stopped{false};
        std::thread knocker(
            [this, &stopped]
            {
                while (!stopped.load())
                {
                    ServerPlatform::KnockOnLoopbackPort(m_port);
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            });
        mg_stop(m_pContext);
        stopped = true;
        knocker.join();
    }
    m_pContext = nullptr;
    m_staticFiles.SetPageTag(nullptr);
    m_pLiveReload.reset();
}

// What every request needs before its route's owner sees it: a head framed beyond doubt, GET or
// HEAD, a loopback Host, and a target that decodes to a visible path below the folder. 0 lets
// civetweb hand it to that owner.
int CFileServer::BeginRequest(mg_connection* pConnection)
{
    const mg_request_info* pInfo = mg_get_request_info(pConnection);
    CRequest& request = CurrentRequest();
    request.pConnection = pConnection;
    request.isHead = std::strcmp(pInfo->request_method, "HEAD") == 0;
    const int framing = RequestFraming::Check(pInfo);
    // Only GET and HEAD are served, and neither needs a body: one is never read. Closing after the
    // answer is what keeps a body (and anything hidden in it) from being taken for the next request,
    // and a client that trickles one from holding a worker.
    const bool carriesBody = RequestFraming::CarriesBody(pInfo);
    request.keepAlive = ClientKeepsAlive(pConnection);
    if (framing || carriesBody || (request.keepAlive && Of(pConnection).WorkersScarce()))
    {
        // Not for the client's own "close" or "Upgrade": civetweb follows those itself, and a
        // closing mark would end a socket right after its handshake.
        request.keepAlive = false;
        mg_disable_keep_alive(pConnection);
    }

    if (framing)
        return SendError(request, framing);
    if (const int status = CheckHost(pInfo))
        return SendError(request, status);
    if (!request.isHead && std::strcmp(pInfo->request_method, "GET") != 0)
        return SendError(request, 405, "Allow", "GET, HEAD");
    if (carriesBody && mg_get_header(pConnection, "Upgrade"))
        return SendError(request, 400); // a socket's frames would follow a body nobody reads
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

CFileServer& CFileServer::Of(const mg_connection* pConnection)
{
    return *static_cast<CFileServer*>(mg_get_user_data(mg_get_context(pConnection)));
}

int CFileServer::ConnectionOpened(const mg_connection* pConnection, void**)
{
    Of(pConnection).m_openConnections.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void CFileServer::ConnectionClosed(const mg_connection* pConnection)
{
    Of(pConnection).m_openConnections.fetch_sub(1, std::memory_order_relaxed);
}

int CFileServer::HttpError(mg_connection* pConnection, int status, const char*)
{
    // civetweb's own refusals (malformed request lines, oversized heads, bad versions): same shape
    // as ours, and the connection ends because the request could not be framed.
    const mg_request_info* pInfo = mg_get_request_info(pConnection);
    const char* pMethod = pInfo ? pInfo->request_method : nullptr;
    CRequest request;
    request.pConnection = pConnection;
    request.keepAlive = false;
    mg_disable_keep_alive(pConnection);
    // A 400 means civetweb could not parse the request, so its first word is no method to trust:
    // the answer carries its body, whatever that word was.
    request.isHead = status != 400 && pMethod && std::strcmp(pMethod, "HEAD") == 0;
    const bool knownMethod = pMethod && (std::strcmp(pMethod, "GET") == 0 || std::strcmp(pMethod, "HEAD") == 0);
    // civetweb refuses methods it does not know (TRACE among them) as malformed; to the client
    // they are just methods this server does not allow.
    if (status == 400 && pMethod && *pMethod && !knownMethod &&
        std::all_of(pMethod, pMethod + std::strlen(pMethod), [](char c) { return c >= 'A' && c <= 'Z'; }))
        SendError(request, 405, "Allow", "GET, HEAD");
    else // civetweb says 411 for a Content-Length that is no number: the request is malformed
        SendError(request, status == 411 ? 400 : status);
    return 0;
}

} // namespace Corvan
