#include "platform/InstanceChannel_linux.h"
#include "platform/InstanceChannel.h"

#include <cerrno>
#include <cstdlib>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

namespace Corvan
{
namespace Platform
{
namespace
{
// A folder only we can enter: a real folder (not a link to one), ours, with no rights for anyone else.
bool IsPrivateFolder(const std::string& path)
{
    struct stat info;
    return !path.empty() && lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string MakePrivateFolder(const std::string& root, std::string& strRefusedFolder)
{
    if (root.empty())
        return std::string();
    const std::string folder = root + "/corvan-html-starter-" + std::to_string(getuid());
    // mkdir never follows a link planted at the name, and a folder someone else made first fails
    // the ownership check below, so a shared /tmp cannot hand us a folder another user controls.
    if (mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST)
        return std::string();
    if (IsPrivateFolder(folder))
        return folder;
    strRefusedFolder = folder;
    return std::string();
}

std::string SafeName(const std::string& text)
{
    std::string name;
    for (char c : text)
    {
        const bool plain =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += plain ? c : '_';
    }
    return name;
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}
} // namespace

std::string InstanceChannelNameIn(const std::string& base, const std::string& session, const std::string& runtimeFolder,
                                  const std::string& fallbackRoot, std::string& strRefusedFolder)
{
    strRefusedFolder.clear();
    std::string folder =
        IsPrivateFolder(runtimeFolder) ? runtimeFolder : MakePrivateFolder(fallbackRoot, strRefusedFolder);
    if (folder.empty())
        return std::string();
    const std::string path = folder + "/" + SafeName(session.empty() ? base : base + "-" + session);
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return std::string();
    return path;
}

std::string InstanceChannelName(const std::string& base, std::string& strRefusedFolder)
{
    // One window per display: a start on another X display or Wayland session (a second seat, a
    // test's Xvfb) gets a window there instead of handing its file to one it cannot see.
    std::string session = Environment("WAYLAND_DISPLAY");
    if (session.empty())
        session = Environment("DISPLAY");
    std::string fallback = Environment("TMPDIR");
    if (fallback.empty())
        fallback = "/tmp";
    return InstanceChannelNameIn(base, session, Environment("XDG_RUNTIME_DIR"), fallback, strRefusedFolder);
}

bool ChannelNeedsAccessList()
{
    // The socket lies in a folder only we can enter.
    return false;
}

bool PeerIsSameUser(std::intptr_t handle)
{
    struct ucred peer = {};
    socklen_t length = sizeof(peer);
    if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof(peer))
        return false;
    return peer.uid == getuid();
}

} // namespace Platform
} // namespace Corvan
