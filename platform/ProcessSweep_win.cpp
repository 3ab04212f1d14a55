#include "platform/ProcessSweep.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace Corvan
{
namespace Platform
{

const char* const ServerExecutableName = "mongoose.exe";

namespace
{

constexpr DWORD QueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ; // 0x0410
// SYNCHRONIZE lets the sweep wait on the very handle it terminated with.
constexpr DWORD TerminateAccess = PROCESS_TERMINATE | SYNCHRONIZE;

constexpr DWORD NameBufferSize = MAX_PATH;
constexpr DWORD NameReadLimit = 130;
constexpr char UnknownName[] = "<unknown>";

struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// OpenProcess reports failure as a null handle, so a null pointer is exactly "nothing to close".
using ProcessHandle = std::unique_ptr<void, HandleCloser>;

ProcessHandle OpenProcessFor(DWORD access, DWORD processId)
{
    return ProcessHandle(OpenProcess(access, FALSE, processId));
}

// Every running process id. The array grows until the list comes back with room to spare: a full
// array may have cut the list short, and a server missing from it would survive the sweep.
std::vector<DWORD> RunningProcessIds()
{
    std::vector<DWORD> ids(1024);
    for (;;)
    {
        const DWORD capacityBytes = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        DWORD returnedBytes = 0;
        if (!K32EnumProcesses(ids.data(), capacityBytes, &returnedBytes))
            return {};
        if (returnedBytes < capacityBytes)
        {
            ids.resize(returnedBytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// The base name of the process's first module (its executable), or "<unknown>" when the process
// cannot be inspected; the name buffer is reset for each process so no earlier name leaks into it.
void ReadExecutableName(DWORD processId, char (&name)[NameBufferSize])
{
    std::memset(name, 0, sizeof(name));
    std::memcpy(name, UnknownName, sizeof(UnknownName));

    const ProcessHandle query = OpenProcessFor(QueryAccess, processId);
    if (!query)
        return;
    HMODULE executable = nullptr;
    DWORD neededBytes = 0;
    if (!K32EnumProcessModules(query.get(), &executable, sizeof(executable), &neededBytes) ||
        K32GetModuleBaseNameA(query.get(), executable, name, NameReadLimit) == 0)
        std::memcpy(name, UnknownName, sizeof(UnknownName)); // a failed read may have left part of a name
}

// What is left of the wait, as WaitForSingleObject takes it (never INFINITE).
DWORD MillisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return static_cast<DWORD>(std::clamp<decltype(left)>(left, 0, INFINITE - 1));
}

} // namespace

SweepResult TerminateProcessesNamed(const std::string& executableName, std::chrono::milliseconds wait)
{
    SweepResult result;
    std::vector<ProcessHandle> terminated;
    char name[NameBufferSize];
    const DWORD self = GetCurrentProcessId();

    for (const DWORD processId : RunningProcessIds())
    {
        // Id 0 is the idle process; the caller itself is never ended, whatever its name.
        if (processId == 0 || processId == self)
            continue;
        ReadExecutableName(processId, name);
        if (std::strcmp(name, executableName.c_str()) != 0)
            continue;

        ProcessHandle process = OpenProcessFor(TerminateAccess, processId);
        if (process && TerminateProcess(process.get(), 0))
            terminated.push_back(std::move(process));
    }
    result.terminated = static_cast<int>(terminated.size());

    // TerminateProcess only starts the end; the server's port is free once the process is gone, so
    // wait for that, but never longer than the caller allows in total.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (const ProcessHandle& process : terminated)
    {
        if (WaitForSingleObject(process.get(), MillisecondsUntil(deadline)) != WAIT_OBJECT_0)
            ++result.stillRunning;
    }
    return result;
}

} // namespace Platform
} // namespace Corvan
