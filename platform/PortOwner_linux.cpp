#include "platform/PortOwner.h"

#include "platform/ProcFs_linux.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include <dirent.h>
#include <unistd.h>

namespace Corvan
{
namespace Platform
{

namespace
{
// Socket inodes of the listeners on `port`, from the kernel's socket tables. A row reads
// "sl local_address rem_address st ... uid timeout inode", the local address as hex "ADDR:PORT".
std::set<std::string> ListeningSocketInodes(unsigned short port)
{
    constexpr const char* Listen = "0A";
    std::set<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"})
    {
        std::ifstream file(table);
        std::string line;
        std::getline(file, line); // column titles
        while (std::getline(file, line))
        {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
                  inode))
                continue;
            const std::string::size_type colon = local.rfind(':');
            if (state == Listen && colon != std::string::npos &&
                std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port)
                inodes.insert("socket:[" + inode + "]");
        }
    }
    return inodes;
}

bool HoldsAnyOf(pid_t pid, const std::set<std::string>& sockets)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    if (!fds)
        return false;
    bool holds = false;
    char target[64];
    while (const dirent* entry = readdir(fds))
    {
        const std::string link = folder + "/" + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof(target));
        if (length > 0 && static_cast<std::size_t>(length) < sizeof(target) &&
            sockets.count(std::string(target, static_cast<std::size_t>(length))))
        {
            holds = true;
            break;
        }
    }
    closedir(fds);
    return holds;
}
} // namespace

std::string ProgramListeningOn(unsigned short port)
{
    const std::set<std::string> sockets = ListeningSocketInodes(port);
    if (sockets.empty())
        return std::string();
    for (const pid_t pid : ProcFs::AllProcessIds())
    {
        if (HoldsAnyOf(pid, sockets))
            return ProcFs::ExecutableName(pid);
    }
    return std::string();
}

} // namespace Platform
} // namespace Corvan
