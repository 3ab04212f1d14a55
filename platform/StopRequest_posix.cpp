#include "platform/StopRequest.h"

#include <csignal>
#include <pthread.h>

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

} // namespace StopRequest
} // namespace Corvan
