#include "platform/ProcessSweep.h"

#include "platform/ProcFs_linux.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Corvan
{
namespace Platform
{

const char* const ServerExecutableName = "mongoose";

namespace
{
using Clock = std::chrono::steady_clock;

// Called through syscall(): glibc's own wrappers are newer than some systems we run on.
int PidfdOpen(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool PidfdKill(int pidfd)
{
    return syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
}

// A process we sent SIGKILL. The pidfd, where the kernel offers one, pins the process, so neither the
// name check, the kill nor the wait can hit a new process that reused the id; it also lets us sleep
// until the exit instead of polling.
struct Ended
{
    pid_t pid;
    int pidfd;
};

bool WaitUntilGone(const Ended& ended, Clock::time_point deadline)
{
    while (ended.pidfd >= 0)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd exited{ended.pidfd, POLLIN, 0};
        const int ready = poll(&exited, 1, static_cast<int>(std::max<decltype(left)>(0, left)));
        if (ready >= 0 || errno != EINTR)
            return ready > 0;
    }
    while (!ProcFs::IsGoneOrZombie(ended.pid))
    {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool Kill(const Ended& process)
{
    if (process.pidfd >= 0)
        return PidfdKill(process.pidfd);
    return kill(process.pid, SIGKILL) == 0;
}
} // namespace

SweepResult TerminateProcessesNamed(const std::string& executableName, std::chrono::milliseconds wait)
{
    SweepResult result;
    std::vector<Ended> ended;
    const pid_t self = getpid();
    // Newest first: the server of the tool's last launch is usually among the newest processes, so it
    // is ended early and goes while the rest of the list is read, rather than after it.
    const std::vector<pid_t> ids = ProcFs::AllProcessIds();
    for (auto id = ids.rbegin(); id != ids.rend(); ++id)
    {
        const pid_t pid = *id;
        // Nearly every process is another program: its name alone rules it out, before a pidfd is
        // opened for it (opening and closing one for each took about as long as the rest of the sweep).
        if (pid == self || ProcFs::ExecutableName(pid) != executableName)
            continue;
        const Ended process{pid, PidfdOpen(pid)};
        if (process.pidfd < 0 && errno == ESRCH)
            continue;
        // Checked again after pidfd_open, so the process we end is the one we looked at.
        if (ProcFs::ExecutableName(pid) == executableName && !ProcFs::IsGoneOrZombie(pid) && Kill(process))
        {
            ++result.terminated;
            ended.push_back(process);
        }
        else if (process.pidfd >= 0)
        {
            close(process.pidfd);
        }
    }

    // A killed server holds its port until it has exited: wait, so a new server can bind it at once.
    const Clock::time_point deadline = Clock::now() + wait;
    for (const Ended& process : ended)
    {
        if (!WaitUntilGone(process, deadline))
            ++result.stillRunning;
        if (process.pidfd >= 0)
            close(process.pidfd);
    }
    return result;
}

} // namespace Platform
} // namespace Corvan
