#include "server/proxy/Proxy.h"

#include "server/files/SiteRules.h"
#include "server/files/StaticFiles.h"
#include "server/proxy/ProxyExchange.h"
#include "server/siterules/RuleFile.h"

#include <cstdio>

namespace Corvan
{

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace
{

// A kept connection the server has closed since (or that holds bytes nobody asked for) is not reused.
// Its socket stays non-blocking (ProxyExchange.cpp), so the look costs one call.
bool IsIdleAndOpen(tcp::socket& socket)
{
    boost::system::error_code error;
    if (!socket.non_blocking())
        socket.non_blocking(true, error);
    char byte;
    socket.receive(net::buffer(&byte, 1), tcp::socket::message_peek, error);
    return error == net::error::would_block;
}

} // namespace

CProxy::CProxy(net::io_context& loop, const CStaticFiles& files, int port, const CRouteTable& routes)
    : m_files(files), m_port(port), m_viaEntry("1.1 corvan-" + std::to_string(port)), m_routes(routes),
      m_tickTimer(loop)
{
}

CProxy::~CProxy()
{
    // Exchanges may outlive the proxy in the stopped loop's handlers: they must not unlist themselves.
    for (CLateAnswer* pExchange : m_awaiting)
        pExchange->m_slot = CLateAnswer::Unlisted;
}

CTakeOver CProxy::TakeOver(const CRequest& request)
{
    if (!m_pSiteRules)
        return nullptr;
    const CSiteRuleSet& rules = m_pSiteRules->Current();
    const HttpRules::CTarget& target = request.target;
    // Like dot names, the rule files are never served, whatever a rule says.
    if (!rules.redirects.HasProxyRules() || IsRuleFile(target.relativePath))
        return nullptr;
    // Judged as for a GET: where a file answers, rules without '!' leave the path to it, and it
    // takes GET and HEAD only.
    CRedirectDecision decision = rules.redirects.Match("/" + target.relativePath, request.query,
                                                       [&](std::string_view) { return FileAnswers(target); });
    if (decision.action != CRedirectDecision::EAction::Proxy)
        return nullptr;
    return [this, pRoute = std::move(decision.pProxy), location = std::move(decision.location)](CConnection&& client)
    { StartExchange(*this, std::move(client), pRoute, location); };
}

bool CProxy::FileAnswers(const HttpRules::CTarget& target)
{
    if (target.endsWithSlash)
        return m_files.Answers(target);
    const auto now = std::chrono::steady_clock::now();
    const auto found = m_noFile.find(target.relativePath);
    if (found != m_noFile.end() && now < found->second)
        return false;
    if (m_files.Answers(target))
        return true;
    if (m_noFile.size() >= MaxNoFile)
        m_noFile.clear();
    m_noFile[target.relativePath] = now + NoFileTime;
    return false;
}

std::vector<tcp::endpoint> CProxy::Endpoints(const CProxyTarget& target) const
{
    const tcp::endpoint ipv4(net::ip::address_v4::loopback(), target.port);
    const tcp::endpoint ipv6(net::ip::address_v6::loopback(), target.port);
    if (target.host == "127.0.0.1")
        return {ipv4};
    if (target.host == "[::1]")
        return {ipv6};
    if (m_ipv4First.count(target.Key()))
        return {ipv4, ipv6};
    return {ipv6, ipv4};
}

void CProxy::Connected(const CProxyRoute& route, const tcp::endpoint& endpoint)
{
    if (route.target.host != "localhost")
        return;
    if (endpoint.address().is_v4())
        m_ipv4First.insert(route.target.Key());
    else
        m_ipv4First.erase(route.target.Key());
}

std::unique_ptr<CBackend> CProxy::TakeIdle(const std::string& key, bool resendable)
{
    const auto found = m_idle.find(key);
    if (found == m_idle.end())
        return nullptr;
    std::deque<std::unique_ptr<CBackend>>& idle = found->second;
    const auto now = std::chrono::steady_clock::now();
    while (!idle.empty())
    {
        std::unique_ptr<CBackend> pBackend = std::move(idle.back());
        idle.pop_back();
        const auto idleFor = now - pBackend->idleSince;
        // A server that sends something before it closes an idle connection (a 408) does so after
        // seconds, not within FreshIdle: what a fresh one reads is the answer to this request.
        if (resendable && idleFor < FreshIdle && pBackend->stream.socket().is_open())
            return pBackend;
        if (idleFor < IdleReuse && IsIdleAndOpen(pBackend->stream.socket()))
            return pBackend;
    }
    return nullptr;
}

void CProxy::GiveBack(const std::string& key, std::unique_ptr<CBackend> pBackend)
{
    std::deque<std::unique_ptr<CBackend>>& idle = m_idle[key];
    const auto now = std::chrono::steady_clock::now();
    while (!idle.empty() && (idle.size() >= MaxIdlePerTarget || now - idle.front()->idleSince >= IdleReuse))
        idle.pop_front();
    pBackend->idleSince = now;
    // Like a client's connection between requests, it gives its place to a newcomer when all are
    // taken.
    pBackend->place.WaitForRequest(pBackend->stream);
    idle.push_back(std::move(pBackend));
}

void CProxy::AwaitAnswer(CLateAnswer& exchange)
{
    if (exchange.m_slot != CLateAnswer::Unlisted)
        return;
    exchange.m_slot = m_awaiting.size();
    exchange.m_tick = m_ticks;
    m_awaiting.push_back(&exchange);
    if (!m_ticking)
        ArmTick();
}

void CProxy::AnswerDone(CLateAnswer& exchange)
{
    const std::size_t slot = exchange.m_slot;
    if (slot == CLateAnswer::Unlisted)
        return;
    m_awaiting[slot] = m_awaiting.back();
    m_awaiting[slot]->m_slot = slot;
    m_awaiting.pop_back();
    exchange.m_slot = CLateAnswer::Unlisted;
}

void CProxy::OnTick()
{
    // Those listed before the last tick have waited a tick at least.
    std::vector<CLateAnswer*> late;
    for (CLateAnswer* pExchange : m_awaiting)
        if (pExchange->m_tick < m_ticks)
            late.push_back(pExchange);
    ++m_ticks;
    for (CLateAnswer* pExchange : late)
    {
        AnswerDone(*pExchange);
        pExchange->OnLate();
    }
    m_ticking = false;
    if (!m_awaiting.empty())
        ArmTick();
}

void CProxy::ArmTick()
{
    m_ticking = true;
    m_tickTimer.expires_after(LateTick);
    m_tickTimer.async_wait(
        [this](const boost::system::error_code& error)
        {
            if (!error)
                OnTick();
        });
}

void CProxy::Report(const CProxyRoute& route, const std::string& trouble)
{
    bool changed = false;
    const CSiteRuleSet* pRules = m_pSiteRules ? &m_pSiteRules->Current() : nullptr;
    if (pRules != m_pTroubleRules) // the file was read again: its lines may have moved
    {
        changed = !m_troubles.empty();
        m_troubles.clear();
        m_pTroubleRules = pRules;
    }
    if (trouble.empty())
    {
        changed = m_troubles.erase(route.line) > 0 || changed;
    }
    else
    {
        const std::string line =
            std::string(RedirectsFileName) + " line " + std::to_string(route.line) + ": " + trouble;
        std::string& known = m_troubles[route.line];
        if (known != line) // one line of output for each new trouble, not one a request
        {
            std::fprintf(stderr, "mongoose: %s\n", line.c_str());
            std::fflush(stderr);
        }
        known = line;
        changed = true; // pages that opened since are told as well
    }
    if (!changed || !m_sink)
        return;
    std::vector<std::string> lines;
    for (const auto& entry : m_troubles)
        lines.push_back(entry.second);
    m_sink(lines);
}

} // namespace Corvan
