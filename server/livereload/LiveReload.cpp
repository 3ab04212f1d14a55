#include "server/livereload/LiveReload.h"

#include "server/TestLimits.h"
#include "server/files/SiteRules.h"
#include "server/http/Connection.h"
#include "server/httprules/Hosts.h"
#include "server/httprules/TextRules.h"
#include "server/livereload/LiveReloadScript.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace Corvan
{

namespace
{

// A handshake key as RFC 6455 has it: 16 bytes in base64.
bool IsSocketKey(const char* pKey)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!pKey || std::strlen(pKey) != 24 || std::strcmp(pKey + 22, "==") != 0)
        return false;
    return std::all_of(pKey, pKey + 22, [](char c) { return c && std::strchr(Alphabet, c) != nullptr; });
}

CHttpResponse Refusal(int status)
{
    return ClosingErrorResponse(status);
}

} // namespace

struct CLiveReload::CTimers
{
    explicit CTimers(boost::asio::io_context& loop) : scanWait(loop), changes(loop) {}
    boost::asio::steady_timer scanWait;
    boost::asio::steady_timer changes;
    bool changesArmed = false;
};

CLiveReload::CLiveReload(std::string strRoot, int port, boost::asio::io_context& loop)
    : m_strRoot(std::move(strRoot)), m_port(port), m_loop(loop), m_pTimers(std::make_unique<CTimers>(loop))
{
}

CLiveReload::~CLiveReload()
{
    StopWatching();
}

void CLiveReload::AddRoutes(CRouteTable& table)
{
    table.routes.push_back({LiveReloadScript::ScriptPath, &LiveReloadScript::Answer, nullptr});
    // The socket's name asked for without a proper upgrade.
    table.routes.push_back({LiveReloadScript::SocketPath,
                            [](const CRequest& request)
                            {
                                CRequest closing = request;
                                closing.keepAlive = false;
                                return ErrorResponse(closing, 400);
                            },
                            [this](const CRequest& request, CConnection&& connection)
                            { OnUpgrade(request, std::move(connection)); }});
}

CPageTag CLiveReload::PageTag() const
{
    return {LiveReloadScript::Tag(),
            [this](const CRequest& request) { return m_active && LiveReloadScript::IsNavigation(request); }};
}

void CLiveReload::Start()
{
    m_pTimers->scanWait.expires_after(ScanWait);
    m_pTimers->scanWait.async_wait(
        [this](const boost::system::error_code& error)
        {
            if (!error)
                OnScanDone();
        });
    CFolderWatcher::CLimits limits;
    limits.maxEntries = TestLimits::FromEnvironment("CORVAN_TEST_MAX_ENTRIES", limits.maxEntries);
    limits.maxWatches = TestLimits::FromEnvironment("CORVAN_TEST_MAX_WATCHES", limits.maxWatches);
    // The watcher calls from its own thread: everything goes to the loop.
    m_watcher.Start(
        m_strRoot, limits, [this] { boost::asio::post(m_loop, [this] { OnScanDone(); }); },
        [this](const std::string& path) { boost::asio::post(m_loop, [this, path] { OnChange(path); }); },
        [this] { OnRootGone(); },
        [this](const std::string& reason) { boost::asio::post(m_loop, [this, reason] { OnFailure(reason); }); });
}

bool CLiveReload::CloseSockets()
{
    m_pTimers->scanWait.cancel();
    m_pTimers->changes.cancel();
    m_waiting.clear();
    const bool any = m_sockets.Count() > 0;
    m_sockets.CloseAll();
    return any;
}

void CLiveReload::StopWatching()
{
    m_watcher.Stop();
}

bool CLiveReload::IsOwnOrigin(const char* pOrigin, int port)
{
    // The host as every request's Host is checked (a page served for "localhost." may listen),
    // and the port exactly as a browser writes it: none for 80.
    static const char Scheme[] = "http://";
    if (!pOrigin || !TextRules::StartsWithNoCase(pOrigin, Scheme))
        return false;
    const std::string host = pOrigin + sizeof Scheme - 1;
    if (!HttpRules::IsLoopbackHost(host.c_str()))
        return false;
    const std::size_t colon = host.rfind(':');
    const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
    return hasPort ? host.compare(colon + 1, std::string::npos, std::to_string(port)) == 0 : port == 80;
}

void CLiveReload::OnUpgrade(const CRequest& request, CConnection&& connection)
{
    if (!IsSocketKey(request.Header("Sec-WebSocket-Key")))
        return CLiveSockets::Refuse(std::move(connection), Refusal(400));
    if (!IsOwnOrigin(request.Header("Origin"), m_port))
        return CLiveSockets::Refuse(std::move(connection), Refusal(403)); // another site's page may not listen
    if (m_waitForScan)
        return m_waiting.push_back(std::move(connection));
    Admit(std::move(connection));
}

void CLiveReload::Admit(CConnection&& connection)
{
    if (!m_active)
        return CLiveSockets::Refuse(std::move(connection), Refusal(404)); // live reload has ended
    static const std::size_t maxSockets = TestLimits::FromEnvironment("CORVAN_TEST_MAX_SOCKETS", MaxSockets);
    if (m_sockets.Count() >= maxSockets)
        return CLiveSockets::Refuse(std::move(connection), Refusal(503));
    m_sockets.Open(std::move(connection), NoticeMessage());
}

void CLiveReload::SetServingNotices(std::vector<std::string> lines)
{
    m_servingNotices = std::move(lines);
    const std::string message = NoticeMessage();
    if (m_active)
        m_sockets.Broadcast(message.empty() ? "notices\n" : message);
}

std::string CLiveReload::NoticeMessage() const
{
    std::string message = m_pSiteRules ? m_pSiteRules->NoticeMessage() : std::string();
    for (const std::string& line : m_servingNotices)
        message += (message.empty() ? "notices\n" : "\n") + line;
    return message;
}

void CLiveReload::OnScanDone()
{
    if (!m_waitForScan)
        return;
    m_waitForScan = false;
    m_pTimers->scanWait.cancel();
    std::vector<CConnection> waiting = std::move(m_waiting);
    m_waiting.clear();
    for (CConnection& connection : waiting)
        Admit(std::move(connection));
}

void CLiveReload::OnChange(const std::string& relativePath)
{
    m_siteRulesChanged = m_siteRulesChanged || CSiteRules::Concerns(relativePath);
    m_changes.Add(relativePath, CChangeDebouncer::Clock::now());
    WaitForQuiet();
}

void CLiveReload::WaitForQuiet()
{
    if (m_pTimers->changesArmed)
        return;
    m_pTimers->changesArmed = true;
    m_pTimers->changes.expires_at(m_changes.Due());
    m_pTimers->changes.async_wait(
        [this](const boost::system::error_code& error)
        {
            m_pTimers->changesArmed = false;
            if (!error)
                Tell();
        });
}

void CLiveReload::Tell()
{
    if (!m_changes.IsPending())
        return;
    if (CChangeDebouncer::Clock::now() < m_changes.Due())
        return WaitForQuiet(); // more changes came meanwhile
    const std::string message = m_changes.Take();
    // Read before the pages reload, so that they load under the new rules.
    if (std::exchange(m_siteRulesChanged, false) && m_pSiteRules)
        m_pSiteRules->Load();
    if (m_active) // after "off" nothing may follow
        m_sockets.Broadcast(message);
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
    std::fprintf(stderr, "mongoose: live reload is off: %s\n", reason.c_str());
    std::fflush(stderr);
    m_sockets.SendOff();
    OnScanDone(); // sockets waiting for the scan get their answer now
}

} // namespace Corvan
