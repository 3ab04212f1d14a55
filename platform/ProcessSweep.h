#pragma once

#include <chrono>
#include <string>

namespace Corvan
{
namespace Platform
{

struct SweepResult
{
    int terminated = 0;   // processes we ended
    int stillRunning = 0; // ended, but not gone (nor a zombie) when the wait ran out
};

// Ends every process whose executable's file name is exactly `executableName` (case-sensitive) and
// that this user may end, then waits, up to `wait`, until each is gone. Processes that cannot be
// inspected (another user's) are left alone.
SweepResult TerminateProcessesNamed(const std::string& executableName, std::chrono::milliseconds wait);

} // namespace Platform
} // namespace Corvan
