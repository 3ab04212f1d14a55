#pragma once

// Live reload: pages served from the folder follow it while the user edits. In three parts: the
// script every shown page gets (LiveReloadScript.h), the pages' sockets (LiveSockets.h), and the
// changes the folder watcher reports, coalesced (ChangeDebouncer.h) and sent to every open socket
// as one text message:
//   "reload"  reload the page
//   "css"     only style sheets changed: fetch them again in place
//   "off"     live reload has ended for this server (the folder cannot be watched): stop retrying
//   "notices\n<line>\n..."  sent as a socket opens, when the site's rule files have lines that were
//             skipped (SiteRules.h) or serving found troubles: the page shows them ("notices\n" and
//             nothing: they are gone). A change of a rule file reads it again and reloads the pages.
// This part joins them on the server's loop; the watcher's thread only posts to it.

#include "platform/FolderWatcher.h"
#include "server/files/StaticFiles.h"
#include "server/http/Routes.h"
#include "server/livereload/ChangeDebouncer.h"
#include "server/livereload/LiveSockets.h"

#include <chrono>
#include <cstddef>
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
    // Stops watching; no callback reaches the loop after it.
    void StopWatching();

    // True for this server's own origin: http://HOST:PORT with this server's port and a HOST that
    // every request's Host may name (HttpRules::IsLoopbackHost).
    static bool IsOwnOrigin(const char* pOrigin, int port);

private:
    struct CTimers;
    void OnUpgrade(const CRequest& request, CConnection&& connection);
    void Admit(CConnection&& connection);
    void OnScanDone();
    void OnChange(const std::string& relativePath);
    void WaitForQuiet();
    void Tell();
    void OnRootGone();
    void OnFailure(const std::string& reason);
    std::string NoticeMessage() const;

    std::string m_strRoot;
    int m_port;
    boost::asio::io_context& m_loop;
    std::unique_ptr<CTimers> m_pTimers;
    CSiteRules* m_pSiteRules = nullptr;
    bool m_siteRulesChanged = false;
    bool m_active = true;
    bool m_waitForScan = true;
    bool m_rootGoneTold = false; // on the watcher's thread only
    std::vector<CConnection> m_waiting;
    std::vector<std::string> m_servingNotices;
    CChangeDebouncer m_changes;
    CLiveSockets m_sockets;
    CFolderWatcher m_watcher;
};

} // namespace Corvan
