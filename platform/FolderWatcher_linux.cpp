#include "platform/FolderWatcher.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Corvan
{

namespace
{

// What counts as a change: writes (also by programs that never close the file), a touch, files
// appearing, going, or renamed in; folders are watched without following links, so a link to a
// parent folder cannot make the tree endless.
constexpr std::uint32_t WatchMask = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                    IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// Only the root's own removal or rename matters; a sub folder's shows in its parent's events.
constexpr std::uint32_t RootMask = WatchMask | IN_DELETE_SELF | IN_MOVE_SELF;
// The anchor, the nearest existing folder above the root (its parent while it is there), tells
// when the root's name comes and goes. The root's own IN_DELETE_SELF is not enough: it waits for
// the folder's last user, and the server runs in it.
constexpr std::uint32_t AnchorMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// What an event on a file (not a folder) says of it.
CFolderWatcher::EChange FileChange(const std::string& path, std::uint32_t mask)
{
    using EChange = CFolderWatcher::EChange;
    if (mask & IN_CLOSE_WRITE)
        return EChange::Closed;
    if (mask & IN_MODIFY)
        return EChange::Written;
    if (mask & IN_MOVED_TO)
        return EChange::MovedIn;
    if (mask & (IN_DELETE | IN_MOVED_FROM))
        return EChange::Removed;
    if (mask & IN_CREATE)
    {
        // A plain file is created to be written, and closed when done; a link (soft or hard) or a
        // special file is whole at once, and no close may follow.
        struct stat info;
        const bool plain = lstat(path.c_str(), &info) != 0 || (S_ISREG(info.st_mode) && info.st_nlink == 1);
        return plain ? EChange::Created : EChange::MovedIn;
    }
    return EChange::Touched;
}

// The type of the FUSE mount that holds `path` ("fuse.sshfs"), from the mount table.
std::string FuseType(const std::string& path)
{
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    std::string type;
    std::size_t longest = 0;
    while (std::getline(table, line))
    {
        // "ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [TAGS...] - TYPE SOURCE ..."; a blank in a
        // mount point is written "\040", so fields never hold one.
        std::istringstream fields(line);
        std::string field;
        std::string mountPoint;
        for (int i = 0; i < 5 && fields >> field; ++i)
            mountPoint = field;
        while (fields >> field && field != "-")
        {
        }
        const bool holds =
            mountPoint == "/" || path == mountPoint || path.compare(0, mountPoint.size() + 1, mountPoint + "/") == 0;
        if (holds && mountPoint.size() >= longest && fields >> field)
        {
            longest = mountPoint.size();
            type = field;
        }
    }
    return type;
}

// The network file system that holds `root` ("nfs"), empty for a local one.
std::string NetworkType(const std::string& root)
{
    static const std::pair<std::uint32_t, const char*> NetworkTypes[] = {
        {0x6969, "nfs"},    {0x517B, "smb"},      {0xFF534D42, "cifs"}, {0xFE534D42, "smb2"},
        {0x01021997, "9p"}, {0x00C36400, "ceph"}, {0x5346414F, "afs"},  {0x73757245, "coda"}};
    struct statfs info;
    if (statfs(root.c_str(), &info) != 0)
        return std::string();
    std::string type;
    for (const auto& known : NetworkTypes)
    {
        if (static_cast<std::uint32_t>(info.f_type) == known.first)
            type = known.second;
    }
    // FUSE serves local disks too ("fuseblk"); its named types ("fuse.sshfs") are mostly remote.
    constexpr std::uint32_t FuseMagic = 0x65735546;
    if (static_cast<std::uint32_t>(info.f_type) == FuseMagic)
    {
        char resolved[PATH_MAX];
        type = FuseType(realpath(root.c_str(), resolved) ? resolved : root);
        if (type.compare(0, 5, "fuse.") != 0)
            type.clear();
    }
    return type;
}

} // namespace

struct CFolderWatcher::CImpl
{
    std::string root;
    CLimits limits;
    ReadyCallback onReady;
    ChangeCallback onChange;
    RootGoneCallback onRootGone;
    FailureCallback onFailure;
    int inotifyFd = -1;
    std::atomic<std::uint64_t> reported{0};
    std::atomic<bool> handling{false}; // events read from inotifyFd are being handed on
    int stopPipe[2] = {-1, -1};
    std::thread thread;
    std::unordered_map<int, std::string> folders; // watch descriptor -> folder relative to the root
    int anchorWatch = -1;

    ~CImpl()
    {
        for (int fd : {inotifyFd, stopPipe[0], stopPipe[1]})
        {
            if (fd >= 0)
                close(fd);
        }
    }

    void Run();
    // Reports one event, watching a folder that came in; false with a reason when watching fails.
    bool HandleEvent(const inotify_event& event, std::string& strReason);
    bool HandleAnchorEvent(const inotify_event& event, std::string& strReason);
    void WatchAnchor();
    // The root's name was removed, renamed or given to another folder: the old tree is dropped,
    // and a folder now at the root's path is watched and reported whole.
    bool RootChanged(bool gone, std::string& strReason);
    bool WatchTree(const std::string& top, std::string& strReason);
    bool AddWatch(const std::string& relative, std::string& strReason);
    void Forget(const std::string& top);
};

bool CFolderWatcher::CImpl::AddWatch(const std::string& relative, std::string& strReason)
{
    if (limits.maxWatches != 0 && folders.size() >= limits.maxWatches)
    {
        errno = ENOSPC;
    }
    else
    {
        const int wd =
            inotify_add_watch(inotifyFd, (root + "/" + relative).c_str(), relative.empty() ? RootMask : WatchMask);
        if (wd >= 0)
        {
            folders[wd] = relative;
            return true;
        }
    }
    if (errno == ENOSPC || errno == ENOMEM)
    {
        strReason = "the system's limit of watched folders is reached (fs.inotify.max_user_watches)";
        return false;
    }
    // A folder that vanished or may not be read is simply not watched; serving it fails anyway.
    return true;
}

// Watches `top` and every folder below it, counting the entries on the way so that an enormous
// tree is given up early instead of costing minutes and memory.
bool CFolderWatcher::CImpl::WatchTree(const std::string& top, std::string& strReason)
{
    std::size_t entries = 0;
    std::vector<std::string> pending{top};
    while (!pending.empty())
    {
        const std::string relative = std::move(pending.back());
        pending.pop_back();
        // Watch before listing, so a file created meanwhile is still seen.
        if (!AddWatch(relative, strReason))
            return false;
        const std::string path = relative.empty() ? root : root + "/" + relative;
        DIR* pDir = opendir(path.c_str());
        if (!pDir)
            continue;
        while (const dirent* pEntry = readdir(pDir))
        {
            const std::string name = pEntry->d_name;
            if (name == "." || name == ".." || IsIgnoredName(name))
                continue;
            if (++entries >= limits.maxEntries)
            {
                closedir(pDir);
                strReason = "the folder holds " + std::to_string(limits.maxEntries) + " files or more";
                return false;
            }
            bool isFolder = pEntry->d_type == DT_DIR;
            if (pEntry->d_type == DT_UNKNOWN)
            {
                struct stat info;
                isFolder = lstat((path + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            }
            if (isFolder)
                pending.push_back(Join(relative, name));
        }
        closedir(pDir);
    }
    return true;
}

void CFolderWatcher::CImpl::Forget(const std::string& top)
{
    const std::string prefix = top + "/";
    for (auto it = folders.begin(); it != folders.end();)
    {
        if (it->second == top || it->second.compare(0, prefix.size(), prefix) == 0)
        {
            inotify_rm_watch(inotifyFd, it->first);
            it = folders.erase(it);
        }
        else
        {
            ++it;
        }
    }
}

void CFolderWatcher::CImpl::Run()
{
    std::string reason;
    WatchAnchor();
    if (!WatchTree(std::string(), reason))
    {
        onFailure(reason);
        return;
    }
    const std::string network = NetworkType(root);
    onReady(NetworkCaveat(network.empty() ? network : "a network file system (" + network + ")"));
    pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;)
    {
        if (poll(fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            onFailure(std::string("cannot wait for changes: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0)
            return;
        // Set before the events leave the system's queue, cleared once all are handed on.
        handling = true;
        const ssize_t count = read(inotifyFd, buffer, sizeof buffer);
        if (count <= 0)
        {
            handling = false;
            if (count < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            onFailure(std::string("cannot read changes: ") + std::strerror(errno));
            return;
        }
        for (const char* p = buffer; p < buffer + count;)
        {
            const auto* pEvent = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + pEvent->len;
            if (!HandleEvent(*pEvent, reason))
            {
                onFailure(reason);
                return;
            }
        }
        handling = false;
    }
}

void CFolderWatcher::CImpl::WatchAnchor()
{
    if (anchorWatch >= 0)
        inotify_rm_watch(inotifyFd, anchorWatch);
    anchorWatch = -1;
    if (root == "/")
        return; // nothing above it; and a second watch on the root would replace the root's own
    for (std::string folder = Parent(root); anchorWatch < 0; folder = Parent(folder))
    {
        anchorWatch = inotify_add_watch(inotifyFd, folder.c_str(), AnchorMask);
        if (folder == "/")
            break;
    }
}

bool CFolderWatcher::CImpl::RootChanged(bool gone, std::string& strReason)
{
    for (const auto& folder : folders)
        inotify_rm_watch(inotifyFd, folder.first);
    folders.clear();
    if (gone)
        onRootGone();
    // Anchor first, then look: a root that comes back meanwhile is not missed.
    WatchAnchor();
    if (!IsFolder(root))
        return true;
    if (!WatchTree(std::string(), strReason))
        return false;
    onChange(std::string(), EChange::Everything);
    return true;
}

bool CFolderWatcher::CImpl::HandleAnchorEvent(const inotify_event& event, std::string& strReason)
{
    const bool self = event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED);
    if (folders.empty())
        return RootChanged(false, strReason); // the root may be back
    if (self)
        return RootChanged(!IsFolder(root), strReason);
    if (event.len == 0 || root.compare(root.rfind('/') + 1, std::string::npos, event.name) != 0)
        return true; // a sibling
    return RootChanged((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0, strReason);
}

bool CFolderWatcher::CImpl::HandleEvent(const inotify_event& event, std::string& strReason)
{
    if (event.mask & IN_Q_OVERFLOW)
    {
        onChange(std::string(), EChange::Everything);
        return true;
    }
    if (event.wd == anchorWatch)
        return HandleAnchorEvent(event, strReason);
    const auto folder = folders.find(event.wd);
    if (folder == folders.end())
        return true;
    if (event.mask & IN_IGNORED)
    {
        folders.erase(folder);
        return true;
    }
    if (folder->second.empty() && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)))
        return RootChanged(true, strReason);
    if (event.len == 0 || IsIgnoredName(event.name))
        return true;
    const std::string path = Join(folder->second, event.name);
    if (event.mask & IN_ISDIR)
    {
        if (event.mask & IN_MOVED_FROM)
            Forget(path);
        else if ((event.mask & (IN_CREATE | IN_MOVED_TO)) && !WatchTree(path, strReason))
            return false;
        onChange(path, EChange::Folder);
        return true;
    }
    onChange(path, FileChange(root + "/" + path, event.mask));
    return true;
}

CFolderWatcher::CFolderWatcher() = default;

CFolderWatcher::~CFolderWatcher()
{
    Stop();
}

void CFolderWatcher::Start(const std::string& root, const CLimits& limits, ReadyCallback onReady,
                           ChangeCallback onChange, RootGoneCallback onRootGone, FailureCallback onFailure)
{
    Stop();
    m_pImpl = std::make_unique<CImpl>();
    m_pImpl->root = root;
    m_pImpl->limits = limits;
    m_pImpl->onReady = std::move(onReady);
    CImpl* pCounted = m_pImpl.get();
    m_pImpl->onChange = [pCounted, onChange = std::move(onChange)](const std::string& path, EChange change)
    {
        ++pCounted->reported;
        onChange(path, change);
    };
    m_pImpl->onRootGone = std::move(onRootGone);
    m_pImpl->onFailure = std::move(onFailure);
    m_pImpl->inotifyFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_pImpl->inotifyFd < 0 || pipe2(m_pImpl->stopPipe, O_CLOEXEC) != 0)
    {
        const int error = errno;
        m_pImpl->onFailure(error == EMFILE ? "the system's limit of folder watchers is reached "
                                             "(fs.inotify.max_user_instances)"
                                           : std::string("cannot watch the folder: ") + std::strerror(error));
        m_pImpl.reset();
        return;
    }
    CImpl* pImpl = m_pImpl.get();
    pImpl->thread = std::thread([pImpl] { pImpl->Run(); });
}

void CFolderWatcher::Stop()
{
    if (!m_pImpl)
        return;
    if (m_pImpl->thread.joinable())
    {
        const char stop = 0;
        while (write(m_pImpl->stopPipe[1], &stop, 1) < 0 && errno == EINTR)
        {
        }
        m_pImpl->thread.join();
    }
    m_pImpl.reset();
}

std::uint64_t CFolderWatcher::Reported() const
{
    return m_pImpl ? m_pImpl->reported.load() : 0;
}

bool CFolderWatcher::HasUnreported() const
{
    if (!m_pImpl)
        return false;
    // The queue first: an event that leaves it after this look is handled, or counted, by the next.
    int queued = 0;
    const bool inQueue = ioctl(m_pImpl->inotifyFd, FIONREAD, &queued) != 0 || queued > 0;
    return inQueue || m_pImpl->handling;
}

} // namespace Corvan
