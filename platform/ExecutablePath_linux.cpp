#include "platform/ExecutablePath.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <vector>

namespace Corvan
{
namespace Platform
{
namespace
{
const char* const SelfExe = "/proc/self/exe";

std::string ReadSelfExeLink()
{
    // The link's length is not known up front (st_size of /proc links is 0): grow until it fits.
    std::vector<char> buffer(256);
    for (;;)
    {
        const ssize_t length = readlink(SelfExe, buffer.data(), buffer.size());
        if (length < 0)
            return std::string();
        if (static_cast<size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

bool SameFile(const std::string& path, const struct stat& running)
{
    struct stat named;
    return stat(path.c_str(), &named) == 0 && named.st_dev == running.st_dev && named.st_ino == running.st_ino;
}
} // namespace

std::string ExecutablePath()
{
    std::string path = ReadSelfExeLink();

    // Once the binary is replaced on disk (an upgrade while the tool runs), the kernel appends
    // " (deleted)" to the link. The name the process was started under is still the one without it;
    // a file that really is called "... (deleted)" is told apart by being the running binary itself.
    static const std::string deletedMark = " (deleted)";
    struct stat running;
    if (path.size() > deletedMark.size() &&
        path.compare(path.size() - deletedMark.size(), deletedMark.size(), deletedMark) == 0 &&
        stat(SelfExe, &running) == 0 && !SameFile(path, running))
        path.resize(path.size() - deletedMark.size());
    return path;
}

} // namespace Platform
} // namespace Corvan
