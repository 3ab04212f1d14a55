#pragma once

// What the Linux platform files read from /proc. Every read can fail because the process just ended
// or belongs to another user; each function then answers "nothing".

#include <string>
#include <vector>

#include <sys/types.h>

namespace Corvan
{
namespace Platform
{
namespace ProcFs
{

// The ids of all processes visible now.
std::vector<pid_t> AllProcessIds();

// The file name of the process's executable, or empty when it cannot be read (the process ended, is a
// zombie, or belongs to another user). A program replaced since it started (a rebuilt server) shows
// in /proc as "<path> (deleted)"; its name is still the file name.
std::string ExecutableName(pid_t pid);

// True when the process has ended, whether or not its parent has reaped it yet.
bool IsGoneOrZombie(pid_t pid);

} // namespace ProcFs
} // namespace Platform
} // namespace Corvan
