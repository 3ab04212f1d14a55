#include "server/CFileServer.h"

#include "platform/FileLimit.h"
#include "platform/LoopbackPort.h"
#include "server/TestLimits.h"
#include "server/files/SiteRules.h"
#include "server/files/StaticFiles.h"
#include "server/http/Connection.h"
#include "server/http/HttpSession.h"
#include "server/http/Routes.h"
#include "server/livereload/LiveReload.h"
#include "server/proxy/Proxy.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

namespace Corvan
{

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace
{

// An accept that failed for want of a descriptor or memory is tried again after this pause, not
// at once in a loop.
constexpr std::chrono::milliseconds AcceptBackOff{50};
// The longest a stop waits for open live pages' close frames to be written: most go at once, some
// wait behind a handshake or a message. The bound must outlast a loaded machine's pause, or the
// frames are never sent; it only holds a stop for a page that does not read.
constexpr std::chrono::milliseconds CloseTime{100};

bool OutOfResources(const boost::system::error_code& error)
{
    return error == net::error::no_descriptors || error == boost::system::errc::too_many_files_open_in_system ||
           error == net::error::no_buffer_space || error == net::error::no_memory;
}

} // namespace

struct CFileServer::CImpl
{
    explicit CImpl(const std::string& strRoot)
        : acceptor(loop), backOff(loop), work(net::make_work_guard(loop)), siteRules(strRoot), staticFiles(strRoot)
    {
    }

    bool SetPlaces(std::string& strError);
    void Accept();
    void EndLoop();

    // First, so that it goes last: everything below lives on it.
    net::io_context loop{1};
    tcp::acceptor acceptor;
    net::steady_timer backOff;
    net::executor_work_guard<net::io_context::executor_type> work;
    std::shared_ptr<CConnectionPlaces> pPlaces;
    bool waitingForPlace = false;
    bool stopping = false;
    CSiteRules siteRules;
    CStaticFiles staticFiles;
    std::unique_ptr<CLiveReload> pLiveReload;
    CRouteTable routes;
    std::unique_ptr<CProxy> pProxy;
    std::thread thread;
};

bool CFileServer::CImpl::SetPlaces(std::string& strError)
{
    // Each connection holds a descriptor, and one more while it sends a file; what is kept back
    // serves the files, the folder watcher and the loop itself. A file that cannot be opened for
    // want of one gets 503, never a wrong 404.
    const long long free = FileLimit::Free();
    const long long cap = free - std::clamp<long long>(free / 4, 8, 64);
    if (cap < 4)
    {
        strError = "too few file descriptors are left to serve (see ulimit -n)";
        return false;
    }
    const std::size_t testCap =
        std::min<std::size_t>(TestLimits::FromEnvironment("CORVAN_TEST_MAX_CONNECTIONS", INT_MAX), INT_MAX);
    pPlaces = std::make_shared<CConnectionPlaces>(
        static_cast<int>(std::clamp<long long>(cap, 1, static_cast<long long>(testCap))));
    pPlaces->onRoom = [this]
    {
        if (std::exchange(waitingForPlace, false))
            Accept();
    };
    return true;
}

void CFileServer::CImpl::Accept()
{
    if (stopping)
        return;
    // With every place taken and none that a waiting connection could give up (all are answering
    // or live pages), new clients wait in the listening socket's backlog.
    if (!pPlaces->HasRoom())
    {
        waitingForPlace = true;
        return;
    }
    acceptor.async_accept(
        [this](const boost::system::error_code& error, tcp::socket socket)
        {
            if (stopping || error == net::error::operation_aborted)
                return;
            if (OutOfResources(error))
            {
                backOff.expires_after(AcceptBackOff);
                backOff.async_wait(
                    [this](const boost::system::error_code& waitError)
                    {
                        if (!waitError)
                            Accept();
                    });
                return;
            }
            if (!error)
            {
                // Past the cap a newcomer takes the place of the connection that has waited
                // longest; one let in over the cap before (its waiting connection began an answer
                // meanwhile) is made up for here too.
                while (pPlaces->Open() >= pPlaces->Cap() && pPlaces->FreeOne())
                {
                }
                boost::system::error_code ignored;
                // Without it keep-alive answers wait for Nagle's delayed ACK.
                socket.set_option(tcp::no_delay(true), ignored);
                ServeHttp(std::move(socket), CConnectionPlace(pPlaces), routes);
            }
            Accept();
        });
}

// Proxy rules are judged as the rule files are read; with no target allowed none is ever used.
void CFileServer::PrepareProxy(CImpl& impl, int port)
{
    impl.siteRules.SetProxyCheck([port, allowed = m_proxyAllowed](std::string_view from, const CProxyTarget& target)
                                 { return ProxyRules::Refusal(from, target, port, allowed); });
    if (m_proxyAllowed.empty())
        return;
    impl.pProxy = std::make_unique<CProxy>(impl.loop, impl.staticFiles, port, impl.routes);
    impl.pProxy->SetSiteRules(&impl.siteRules);
    impl.pProxy->SetTroubleSink(
        [&impl](const std::vector<std::string>& lines)
        {
            if (impl.pLiveReload)
                impl.pLiveReload->SetServingNotices(lines);
        });
    impl.routes.takeOver = [&impl](const CRequest& request) { return impl.pProxy->TakeOver(request); };
}

CFileServer::CFileServer(std::string strRoot) : m_strRoot(std::move(strRoot)) {}

CFileServer::~CFileServer()
{
    Stop();
}

bool CFileServer::Start(int port, std::string& strError)
{
    m_pImpl = std::make_unique<CImpl>(m_strRoot);
    CImpl& impl = *m_pImpl;
    if (!impl.SetPlaces(strError))
        return false;
    impl.routes.sendTimeout = TestLimits::FromEnvironment("CORVAN_TEST_SEND_TIMEOUT_MS", impl.routes.sendTimeout);
    impl.routes.headTimeout = TestLimits::FromEnvironment("CORVAN_TEST_HEAD_TIMEOUT_MS", impl.routes.headTimeout);

    // Every route is in place before the first connection is accepted. Without live reload the rule
    // files are read once: nothing tells the server of a change.
    PrepareProxy(impl, port);
    impl.siteRules.Load();
    impl.staticFiles.SetSiteRules(&impl.siteRules);
    if (m_liveReloadWanted)
    {
        impl.pLiveReload = std::make_unique<CLiveReload>(m_strRoot, port, impl.loop);
        impl.pLiveReload->SetSiteRules(&impl.siteRules);
        impl.pLiveReload->AddRoutes(impl.routes);
        impl.staticFiles.SetPageTag(impl.pLiveReload->PageTag());
    }
    impl.routes.fallback = [&impl](const CRequest& request)
    {
        CHttpResponse response = impl.staticFiles.Answer(request);
        // A page's own request that failed becomes a notice in that page (PageNotices.h).
        if (impl.pLiveReload)
            impl.pLiveReload->Observe(request, response);
        return response;
    };
    impl.routes.hidden = [&impl](const CRequest& request) { return impl.staticFiles.AnswerHidden(request); };

    boost::system::error_code error;
    impl.acceptor.open(tcp::v4(), error);
    if (!error)
    {
        LoopbackPort::PrepareListener(static_cast<std::uintptr_t>(impl.acceptor.native_handle()));
        impl.acceptor.bind(tcp::endpoint(net::ip::address_v4::loopback(), static_cast<unsigned short>(port)), error);
    }
    // Connections not yet accepted: a burst beyond this costs its latecomers a second (their SYN
    // is dropped and sent again).
    if (!error)
        impl.acceptor.listen(1024, error);
    if (error)
    {
        strError = "cannot listen on port " + std::to_string(port) + ": " + error.message();
        m_pImpl.reset();
        return false;
    }
    if (impl.pLiveReload)
        impl.pLiveReload->Start();
    impl.Accept();
    impl.thread = std::thread([&impl] { impl.loop.run(); });
    return true;
}

void CFileServer::CImpl::EndLoop()
{
    // The loop ends after the handler it runs now, not behind every download that waits its turn
    // (a thousand of them held a stop for 120-200 ms); the rest of the stop runs here, on a loop
    // that stands still.
    loop.stop();
    if (thread.joinable())
        thread.join();
    stopping = true;
    pPlaces->onRoom = nullptr;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    backOff.cancel();
    if (pLiveReload && pLiveReload->CloseSockets())
    {
        loop.restart();
        const auto deadline = std::chrono::steady_clock::now() + CloseTime;
        while (pLiveReload->ClosesWaiting() > 0 && loop.run_one_until(deadline) > 0)
        {
        }
    }
    if (pLiveReload)
        pLiveReload->StopWatching();
}

void CFileServer::Stop()
{
    if (!m_pImpl)
        return;
    m_pImpl->EndLoop();
    m_pImpl.reset();
}

void CFileServer::StopBeforeExit()
{
    if (!m_pImpl)
        return;
    m_pImpl->EndLoop();
    // Kept where a leak checker sees it: the exit reclaims it, and nothing in it waits for more
    // than its descriptors being closed.
    static std::atomic<CImpl*> pLeftToExit{nullptr};
    pLeftToExit = m_pImpl.release();
}

} // namespace Corvan
