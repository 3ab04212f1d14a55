#include "platform/FileLimit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

namespace Corvan
{
namespace FileLimit
{

void Raise()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max)
    {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

long long Free()
{
    constexpr long long Plenty = 1 << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= Plenty)
        return Plenty;
    long long inUse = 0;
    // Linux lists them; elsewhere each possible one is asked about (the limit is small there).
    if (DIR* pDir = opendir("/proc/self/fd"))
    {
        while (const dirent* pEntry = readdir(pDir))
            inUse += pEntry->d_name[0] != '.';
        closedir(pDir);
        --inUse; // the listing's own
    }
    else
    {
        for (rlim_t fd = 0; fd < limit.rlim_cur; ++fd)
            inUse += fcntl(static_cast<int>(fd), F_GETFD) != -1;
    }
    return static_cast<long long>(limit.rlim_cur) - inUse;
}

} // namespace FileLimit
} // namespace Corvan
