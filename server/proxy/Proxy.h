#pragma once

// Passing requests to another server on this machine, for the site's proxy rules (_redirects
// "FROM http://localhost:PORT/... 200", once the user allowed the target: ProxyRules.h). It takes a
// request's connection over after the central check (Routes.h), whatever its method, and relays
// the request and its answer piece by piece (ProxyExchange.h). Connections to each target are
// kept for reuse. Runs on the server's loop thread.

#include "server/http/Connection.h"
#include "server/http/Routes.h"
#include "server/siterules/RedirectRules.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace Corvan
{

class CSiteRules;
class CStaticFiles;
struct CSiteRuleSet;

// A connection to a target, with its place among the server's connections.
struct CBackend
{
    boost::beast::tcp_stream stream;
    CConnectionPlace place;
    std::chrono::steady_clock::time_point idleSince;
    // Its answers' room, kept with it: a reused connection reads without an allocation.
    boost::beast::flat_buffer buffer;
};

// An exchange that awaits its answer. Its client is watched for leaving only once the answer is
// late (CProxy::AwaitAnswer): most answers come sooner, and a watch costs each of them a system call.
class CLateAnswer
{
public:
    virtual void OnLate() = 0;

protected:
    ~CLateAnswer() = default;
    bool Awaiting() const { return m_slot != Unlisted; }

private:
    friend class CProxy;
    static constexpr std::size_t Unlisted = static_cast<std::size_t>(-1);
    std::size_t m_slot = Unlisted;
    std::uint64_t m_tick = 0;
};

class CProxy
{
public:
    // How long a backend connection waits for its next request: below the 5 s that common
    // development servers keep an idle connection, so that a reused one is rarely closed under us.
    static constexpr std::chrono::seconds IdleReuse{4};
    // Enough for a load test's connections; a browser holds six per host.
    static constexpr std::size_t MaxIdlePerTarget = 64;
    static constexpr std::chrono::seconds ConnectTimeout{5};
    // A kept connection this fresh is sent a request without a look first (TakeIdle).
    static constexpr std::chrono::seconds FreshIdle{1};
    // An answer is late after one to two of these.
    static constexpr std::chrono::milliseconds LateTick{50};
    // A path that no file answered is taken for the backend's this long without a look at the
    // folder: a file saved there is served a few milliseconds later, and a load test does not cost
    // the disk a look per request.
    static constexpr std::chrono::milliseconds NoFileTime{10};
    static constexpr std::size_t MaxNoFile = 4096;

    // `routes` give the next request of a connection back to the HTTP session; they must outlive this.
    // `files` judge whether a file answers a path; they and `routes` must outlive this.
    CProxy(boost::asio::io_context& loop, const CStaticFiles& files, int port, const CRouteTable& routes);
    ~CProxy();
    CProxy(const CProxy&) = delete;
    CProxy& operator=(const CProxy&) = delete;

    void SetSiteRules(const CSiteRules* pSiteRules) { m_pSiteRules = pSiteRules; }
    // Called with every proxy rule's current trouble ("_redirects line 4: ... refused the
    // connection"), none when all work, each time that changes.
    void SetTroubleSink(std::function<void(const std::vector<std::string>& lines)> sink) { m_sink = std::move(sink); }

    // The route table's take-over: the exchange for a request that a proxy rule passes on, or none.
    CTakeOver TakeOver(const CRequest& request);

    // For the exchanges.
    int Port() const { return m_port; }
    // What this server adds to Via, by which it knows a request that has been here before.
    const std::string& ViaEntry() const { return m_viaEntry; }
    const CRouteTable& Routes() const { return m_routes; }
    // Where to connect, in the order to try: "localhost" is [::1] then 127.0.0.1, or the other way
    // round once 127.0.0.1 took the last connection.
    std::vector<boost::asio::ip::tcp::endpoint> Endpoints(const CProxyTarget& target) const;
    void Connected(const CProxyRoute& route, const boost::asio::ip::tcp::endpoint& endpoint);
    // Held by pointer: moving Beast's stream allocates it anew. A request that can be sent again
    // on a new connection (`resendable`) takes a fresh one without a look: if the server closed it,
    // no answer comes and the request is sent again.
    std::unique_ptr<CBackend> TakeIdle(const std::string& key, bool resendable);
    void GiveBack(const std::string& key, std::unique_ptr<CBackend> pBackend);
    // What became of a request for `route`: empty when its server answered.
    void Report(const CProxyRoute& route, const std::string& trouble);
    // Calls the exchange's OnLate if it still awaits its answer a tick from now; until
    // AnswerDone, which its end must call.
    void AwaitAnswer(CLateAnswer& exchange);
    void AnswerDone(CLateAnswer& exchange);

private:
    bool FileAnswers(const HttpRules::CTarget& target);
    void ArmTick();
    void OnTick();

    const CStaticFiles& m_files;
    int m_port;
    std::string m_viaEntry;
    const CRouteTable& m_routes;
    const CSiteRules* m_pSiteRules = nullptr;
    std::function<void(const std::vector<std::string>&)> m_sink;
    std::map<std::string, std::deque<std::unique_ptr<CBackend>>> m_idle;
    std::set<std::string> m_ipv4First;             // "localhost" targets whose server took 127.0.0.1
    std::map<int, std::string> m_troubles;         // by the rule's line
    const CSiteRuleSet* m_pTroubleRules = nullptr; // the rules the troubles' lines are of
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> m_noFile; // until when
    std::vector<CLateAnswer*> m_awaiting;
    boost::asio::steady_timer m_tickTimer;
    std::uint64_t m_ticks = 0;
    bool m_ticking = false;
};

} // namespace Corvan
