#pragma once

// Live reload: pages served from the folder follow it while the user edits. In three parts: the
// script every shown page gets (LiveReloadScript.h), the pages' sockets (LiveSockets.h), and the
// changes the folder watcher reports, told once each save is complete (ChangeTracker.h) and sent
// to every open socket as one text message:
//   "reload"  reload the page
//   "css\n[\"a.css\",\"sub/b.css\"]"  only these style sheets changed (paths below the root, a JSON
//             array): fetch them, and the sheets that import them, again in place; a bare "css"
//             (too many names, or a name that is not UTF-8) fetches every sheet again
//   "off"     live reload has ended for this server (the folder cannot be watched): stop retrying
//   "notices\n<line>\n..."  sent as a socket opens, when the site's rule files have lines that were
//             skipped (SiteRules.h), serving found troubles, or the folder's file system may not
//             report every change: the page shows them. Each is the whole list: a line it no longer
//             holds is gone from the page. A change of a rule file reads it again, once it is
//             complete, and reloads the pages.
//   "resources\n<line>\n..."  the page's own requests that failed (PageNotices.h): the page shows
//             each line once a load.
// A page sends one message: "page " and its path, once its socket is open.
// This part joins them on the server's loop; the watcher's thread only posts to it.

#include "platform/FolderWatcher.h"
#include "server/files/StaticFiles.h"
#include "server/http/Routes.h"
#include "server/livereload/ChangeTracker.h"
#include "server/livereload/LiveSockets.h"
#include "server/livereload/PageNotices.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace boost
{
namespace asio
{
class io_context;
}
} // namespace boost

namespace Corvan
{

class CSiteRules;

class CLiveReload
{
public:
    // Open sockets at most; a bound a page cannot raise.
    static constexpr std::size_t MaxSockets = 4096;
    // A socket that arrives while the first scan of the folder still runs waits for it (this long
    // at most), so that a page whose socket is open never misses a change.
    static constexpr std::chrono::milliseconds ScanWait{3000};
    // How soon a rule file that was not complete is read again: at first, and at most (the wait
    // doubles while a writer keeps it open).
    static constexpr std::chrono::milliseconds RulesRetry{5};
    static constexpr std::chrono::milliseconds LongestRulesRetry{160};

    CLiveReload(std::string strRoot, int port, boost::asio::io_context& loop);
    ~CLiveReload();
    CLiveReload(const CLiveReload&) = delete;
    CLiveReload& operator=(const CLiveReload&) = delete;

    // The rule files to read again when they change, and whose notices pages get; call before Start.
    void SetSiteRules(CSiteRules* pSiteRules) { m_pSiteRules = pSiteRules; }
    // The script's and the socket's routes.
    void AddRoutes(CRouteTable& table);
    // What pages get while live reload is on.
    CPageTag PageTag() const;
    // Starts watching the folder in the background.
    void Start();
    // Troubles found while serving (a proxy rule's server that refused), one line each: pages show
    // them beside the rule files' notices, those open now and those that open later.
    void SetServingNotices(std::vector<std::string> lines);
    // Closes the open sockets with 1001 (on the loop); true when there were any.
    bool CloseSockets();
    std::size_t ClosesWaiting() const { return m_sockets.ClosesWaiting(); }
    // Stops watching; no callback reaches the loop after it.
    void StopWatching();
    // Every answer of the folder's files, which pages' notices watch (PageNotices.h).
    void Observe(const CRequest& request, CHttpResponse& response);

private:
    struct CTimers;
    void OnUpgrade(const CRequest& request, CConnection&& connection);
    void Admit(CConnection&& connection);
    using Clock = CChangeTracker::Clock;
    void OnReady(const std::string& strCaveat);
    void OnScanDone();
    void OnChange(const std::string& relativePath, CFolderWatcher::EChange change);
    // Sets the timer for the next message, or the next read of the rule files.
    void Arm();
    void Tell();
    void Owe(const CChangeMessage& message, Clock::time_point now);
    // Reads the rule files again once both are complete; false (the rules kept) until then.
    bool ReadRules(Clock::time_point now);
    // A socket's first message: the notices, if any.
    std::string Greeting() const;
    void OnRootGone();
    void OnFailure(const std::string& reason);

    std::string m_strRoot;
    int m_port;
    boost::asio::io_context& m_loop;
    std::unique_ptr<CTimers> m_pTimers;
    std::size_t m_maxSockets;
    CSiteRules* m_pSiteRules = nullptr;
    bool m_rulesStale = false;
    Clock::time_point m_nextRulesTry;
    std::chrono::milliseconds m_rulesRetry = RulesRetry;
    std::string m_owed; // a message held while the rule files are written
    Clock::time_point m_owedSince;
    std::string m_strCaveat;
    std::uint64_t m_heard = 0; // changes the watcher reported that reached the loop
    bool m_active = true;
    bool m_waitForScan = true;
    bool m_rootGoneTold = false; // on the watcher's thread only
    std::vector<CConnection> m_waiting;
    CChangeTracker m_changes;
    std::vector<std::string> m_servingNotices;
    CLiveSockets m_sockets;
    CPageNotices m_notices;
    CFolderWatcher m_watcher;
};

} // namespace Corvan
