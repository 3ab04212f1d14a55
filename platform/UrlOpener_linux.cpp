#include "platform/UrlOpener.h"

#include <cerrno>
#include <csignal>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace Corvan
{
namespace Platform
{

bool StartUrlOpener(const std::string& url)
{
    // posix_spawn does not copy this process as fork does; fork took 15-50 ms on a busy two-core machine,
    // this about one. The opener gets a session of its own, the default signal handling (the toolkit
    // ignores SIGPIPE) and no blocked signals, as a program started from a desktop would.
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return false;
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char program[] = "xdg-open";
    std::string argument = url;
    char* arguments[] = {program, &argument[0], nullptr};
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, program, nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return false;

    // The opener may live as long as the browser it starts; it is reaped whenever it ends, so it never
    // lingers as a zombie.
    std::thread(
        [pid]
        {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
            {
            }
        })
        .detach();
    return true;
}

} // namespace Platform
} // namespace Corvan
