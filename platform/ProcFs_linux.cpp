#include "platform/ProcFs_linux.h"

#include <cstdlib>
#include <fstream>

#include <dirent.h>
#include <unistd.h>

namespace Corvan
{
namespace Platform
{
namespace ProcFs
{

std::vector<pid_t> AllProcessIds()
{
    std::vector<pid_t> ids;
    DIR* proc = opendir("/proc");
    if (!proc)
        return ids;
    while (const dirent* entry = readdir(proc))
    {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (id > 0 && *end == '\0')
            ids.push_back(static_cast<pid_t>(id));
    }
    closedir(proc);
    return ids;
}

std::string ExecutableName(pid_t pid)
{
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return std::string();
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.erase(path.size() - deleted.size());
    return path.substr(path.rfind('/') + 1);
}

bool IsGoneOrZombie(pid_t pid)
{
    // The state letter follows the last ')': the command name in parentheses may hold both.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const std::string::size_type close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return true;
    const char state = line[close + 2];
    return state == 'Z' || state == 'X';
}

} // namespace ProcFs
} // namespace Platform
} // namespace Corvan
