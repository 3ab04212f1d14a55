#include "server/livereload/LiveReload.h"

#include "server/TestLimits.h"
#include "server/files/SiteRules.h"
#include "server/http/Connection.h"
#include "server/httprules/Hosts.h"
#include "server/livereload/LiveReloadScript.h"
#include "server/siterules/RuleFile.h"

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
bool IsSocketKey(std::optional<std::string_view> key)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!key || key->size() != 24 || key->substr(22) != "==")
        return false;
    return std::all_of(key->begin(), key->begin() + 22,
                       [](char c) { return c && std::strchr(Alphabet, c) != nullptr; });
}

// An upgrade request that gets no socket: the connection ends after the answer.
CHttpResponse Refusal(int status)
{
    return ErrorResponse(CRequest(), status, true);
}

} // namespace

struct CLiveReload::CTimers
{
    explicit CTimers(boost::asio::io_context& loop) : scanWait(loop), changes(loop) {}
    boost::asio::steady_timer scanWait;
    boost::asio::steady_timer changes;
    // When the changes' timer fires; the wait it stands for, so that a wait replaced by an earlier
    // one does nothing.
    CChangeTracker::Clock::time_point armedFor = CChangeTracker::Clock::time_point::max();
    unsigned armed = 0;
};

CLiveReload::CLiveReload(std::string strRoot, int port, boost::asio::io_context& loop)
    : m_strRoot(std::move(strRoot)), m_port(port), m_loop(loop), m_pTimers(std::make_unique<CTimers>(loop)),
      m_maxSockets(TestLimits::FromEnvironment("CORVAN_TEST_MAX_SOCKETS", MaxSockets)), m_notices(m_strRoot, port)
{
    // A page's socket says which page it is: its notices go to it.
    m_sockets.SetMessageHandler([this](const std::string& text, const CLiveSockets::Reply& reply)
                                { m_notices.OnPageMessage(text, reply); });
}

CLiveReload::~CLiveReload()
{
    StopWatching();
}

void CLiveReload::AddRoutes(CRouteTable& table)
{
    table.routes.push_back({LiveReloadScript::ScriptPath, &LiveReloadScript::Answer, nullptr});
    // The socket's name asked for without a proper upgrade.
    table.routes.push_back(
        {LiveReloadScript::SocketPath, [](const CRequest& request) { return ErrorResponse(request, 400, true); },
         [this](const CRequest& request, CConnection&& connection) { OnUpgrade(request, std::move(connection)); }});
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
    m_notices.Start();
    CFolderWatcher::CLimits limits;
    limits.maxEntries = TestLimits::FromEnvironment("CORVAN_TEST_MAX_ENTRIES", limits.maxEntries);
    limits.maxWatches = TestLimits::FromEnvironment("CORVAN_TEST_MAX_WATCHES", limits.maxWatches);
    // The watcher calls from its own thread: everything goes to the loop.
    m_watcher.Start(
        m_strRoot, limits,
        [this](const std::string& caveat) { boost::asio::post(m_loop, [this, caveat] { OnReady(caveat); }); },
        [this](const std::string& path, CFolderWatcher::EChange change)
        { boost::asio::post(m_loop, [this, path, change] { OnChange(path, change); }); },
        [this] { OnRootGone(); },
        [this](const std::string& reason) { boost::asio::post(m_loop, [this, reason] { OnFailure(reason); }); });
}

bool CLiveReload::CloseSockets()
{
    m_pTimers->scanWait.cancel();
    m_pTimers->changes.cancel();
    m_pTimers->armedFor = Clock::time_point::max();
    m_waiting.clear();
    const bool any = m_sockets.Count() > 0;
    m_sockets.CloseAll();
    return any;
}

void CLiveReload::StopWatching()
{
    m_watcher.Stop();
    m_notices.Stop();
}

void CLiveReload::Observe(const CRequest& request, CHttpResponse& response)
{
    if (m_active)
        m_notices.Observe(request, response);
}

void CLiveReload::OnUpgrade(const CRequest& request, CConnection&& connection)
{
    if (!IsSocketKey(request.Header(boost::beast::http::field::sec_websocket_key)))
        return CLiveSockets::Refuse(std::move(connection), Refusal(400));
    const auto origin = request.Header(boost::beast::http::field::origin);
    if (!origin || !HttpRules::IsLoopbackOrigin(*origin, m_port))
        return CLiveSockets::Refuse(std::move(connection), Refusal(403)); // another site's page may not listen
    if (m_waitForScan)
        return m_waiting.push_back(std::move(connection));
    Admit(std::move(connection));
}

void CLiveReload::Admit(CConnection&& connection)
{
    if (!m_active)
        return CLiveSockets::Refuse(std::move(connection), Refusal(404)); // live reload has ended
    if (m_sockets.Count() >= m_maxSockets)
        return CLiveSockets::Refuse(std::move(connection), Refusal(503));
    m_sockets.Open(std::move(connection), Greeting());
}

void CLiveReload::SetServingNotices(std::vector<std::string> lines)
{
    m_servingNotices = std::move(lines);
    const std::string message = Greeting();
    if (m_active)
        m_sockets.Broadcast(message.empty() ? "notices\n" : message);
}

std::string CLiveReload::Greeting() const
{
    std::string message = m_pSiteRules ? m_pSiteRules->NoticeMessage() : std::string();
    for (const std::string& line : m_servingNotices)
        message += (message.empty() ? "notices\n" : "\n") + line;
    if (!m_strCaveat.empty())
        message += (message.empty() ? "notices\n" : "\n") + m_strCaveat;
    return message;
}

void CLiveReload::OnReady(const std::string& strCaveat)
{
    // Said once: the pages show it too, as each opens its socket.
    m_strCaveat = strCaveat;
    if (!m_strCaveat.empty())
    {
        std::fprintf(stderr, "mongoose: %s\n", m_strCaveat.c_str());
        std::fflush(stderr);
    }
    OnScanDone();
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

void CLiveReload::OnChange(const std::string& relativePath, CFolderWatcher::EChange change)
{
    ++m_heard;
    m_notices.OnChange(relativePath); // keeps the index of names current
    m_changes.Add(relativePath, change, Clock::now());
    Arm();
}

void CLiveReload::Arm()
{
    Clock::time_point due = m_changes.Due();
    if (m_rulesStale)
        due = std::min(due, m_nextRulesTry);
    if (due == Clock::time_point::max() || due >= m_pTimers->armedFor)
        return; // the timer fires before then anyway
    m_pTimers->armedFor = due;
    // Setting the time ends a wait under way (with operation_aborted); the number tells a late one.
    m_pTimers->changes.expires_at(due);
    m_pTimers->changes.async_wait(
        [this, armed = ++m_pTimers->armed](const boost::system::error_code& error)
        {
            if (error || armed != m_pTimers->armed)
                return;
            m_pTimers->armedFor = Clock::time_point::max();
            Tell();
        });
}

void CLiveReload::Tell()
{
    const Clock::time_point now = Clock::now();
    if (m_changes.Due() <= now)
        Owe(m_changes.Take(now), now);
    // The pages wait for a rule file that is being written, briefly: they reload once, under its
    // complete rules, and never show a notice for a line that was only half written.
    if (m_rulesStale && !ReadRules(now) && !m_owed.empty() && now < m_owedSince + CChangeTracker::LongestDelay)
        return Arm();
    if (!m_owed.empty() && m_active) // after "off" nothing may follow
        m_sockets.Broadcast(m_owed);
    m_owed.clear();
    Arm();
}

void CLiveReload::Owe(const CChangeMessage& message, Clock::time_point now)
{
    if (message.text.empty())
        return;
    if (std::any_of(message.paths.begin(), message.paths.end(), CSiteRules::Concerns) && m_pSiteRules)
    {
        m_rulesStale = true;
        m_nextRulesTry = now;
        m_rulesRetry = RulesRetry;
    }
    if (m_owed.empty())
        m_owedSince = now;
    // Two held messages make one: sheets named apart are all swapped, anything else reloads.
    const bool bothSheets = m_owed.compare(0, 3, "css") == 0 && message.text.compare(0, 3, "css") == 0;
    m_owed = m_owed.empty() || m_owed == message.text ? message.text : bothSheets ? "css" : "reload";
}

bool CLiveReload::ReadRules(Clock::time_point now)
{
    if (now < m_nextRulesTry)
        return false;
    // A rule file still open for writing, or one that changed while it was read, is read again
    // shortly; the rules in force stay whole meanwhile.
    const auto isStillWhole = [this]
    {
        // Every write before the read has been heard of, and none is still going on.
        return !m_watcher.HasUnreported() && m_watcher.Reported() == m_heard &&
               !m_changes.IsBeingWritten(RedirectsFileName) && !m_changes.IsBeingWritten(HeadersFileName);
    };
    if (!isStillWhole() || !m_pSiteRules->Reload(isStillWhole))
    {
        m_nextRulesTry = now + m_rulesRetry;
        m_rulesRetry = std::min(m_rulesRetry * 2, LongestRulesRetry);
        return false;
    }
    m_rulesStale = false;
    // Read before the pages reload, so that they load under the new rules.
    if (m_owed.empty())
        m_owedSince = now;
    m_owed = "reload";
    return true;
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
    m_notices.Stop();
    std::fprintf(stderr, "mongoose: live reload is off: %s\n", reason.c_str());
    std::fflush(stderr);
    m_sockets.SendOff();
    OnScanDone(); // sockets waiting for the scan get their answer now
}

} // namespace Corvan
