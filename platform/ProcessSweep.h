#pragma once

#include <chrono>
#include <string>

namespace Corvan
{
namespace Platform
{

// The file name of our server program on this platform ("mongoose", or "mongoose.exe" on Windows):
// what the launcher starts from its own folder and what the sweep looks for.
extern const char* const ServerExecutableName;

struct SweepResult
{
    int terminated = 0;   // processes we ended
    int stillRunning = 0; // ended, but not gone (nor a zombie) when the wait ran out
};

// Ends every process whose executable's file name is exactly `executableName` (case-sensitive) and
// that this user may end, then waits, up to `wait`, until each is gone, so that whatever it held (a
// listening port) is free again. Processes that cannot be inspected (another user's) are left alone;
// the calling process is never ended.
SweepResult TerminateProcessesNamed(const std::string& executableName, std::chrono::milliseconds wait);

} // namespace Platform
} // namespace Corvan
