#include "platform/StopRequest.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace Corvan
{
namespace StopRequest
{

namespace
{

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void Block()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A peer that closes early must cost a failed send, not the process.
    std::signal(SIGPIPE, SIG_IGN);
}

void Wait()
{
    const sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0)
    {
    }
}

void StopAtEndOfInput()
{
    std::thread(
        []
        {
            char buffer[256];
            ssize_t count;
            while ((count = read(STDIN_FILENO, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR))
            {
            }
            // To the process, not this thread: the signal is blocked here, and Wait takes it.
            kill(getpid(), SIGTERM);
        })
        .detach();
}

} // namespace StopRequest
} // namespace Corvan
