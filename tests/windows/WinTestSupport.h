#pragma once

// Small helpers shared by the Windows-side test programs: the plain checks (tests/support/Check.h), and child
// processes started, waited for and read with bounded waits only.

#include "../support/Check.h"

#include <windows.h>

#include <iostream>
#include <string>

namespace Corvan
{
namespace WinTest
{

using CorvanTest::Check;
using CorvanTest::CheckEqual;
using CorvanTest::Summary;

// The folder of the running test program, with a trailing backslash. Read without the code under
// test, so a fault there cannot hide itself.
inline std::string OwnFolder()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// Wine answers some system queries only in part; the tests say so instead of failing there.
inline bool RunningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A started child; both handles are closed when it goes out of scope (the process itself is not
// ended: tests end what they started explicitly, by handle).
class CChildProcess
{
public:
    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess()
    {
        if (m_info.hThread)
            CloseHandle(m_info.hThread);
        if (m_info.hProcess)
            CloseHandle(m_info.hProcess);
    }

    // Starts `program` with `arguments`; handles marked inheritable pass to it, and so does
    // `stdOutput` as its standard output when given.
    bool Start(const std::string& program, const std::string& arguments, HANDLE stdOutput = nullptr)
    {
        std::string commandLine = "\"" + program + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (stdOutput)
        {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = stdOutput;
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        }
        return CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                              nullptr, &startup, &m_info) != 0;
    }

    HANDLE Handle() const { return m_info.hProcess; }

    bool IsRunning() const { return m_info.hProcess && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }

    bool WaitForExit(DWORD timeoutMs) const { return WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0; }

    // The exit code, or STILL_ACTIVE while it runs.
    DWORD ExitCode() const
    {
        DWORD code = 0;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

    // Ends the child we started, by its handle, and waits (bounded) until it is gone.
    void End() const
    {
        if (IsRunning())
        {
            TerminateProcess(m_info.hProcess, 1);
            WaitForExit(10000);
        }
    }

private:
    PROCESS_INFORMATION m_info = {};
};

// Runs `program` with `arguments` to its end (at most `timeoutMs`) and returns what it wrote to its
// standard output; `ok` tells whether it ended in time with exit code 0.
inline std::string RunAndCapture(const std::string& program, const std::string& arguments, DWORD timeoutMs, bool& ok)
{
    ok = false;
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return std::string();
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::string output;
    {
        CChildProcess child;
        const bool started = child.Start(program, arguments, writeEnd);
        // Our copy of the write end must go, or the pipe never reports its end.
        CloseHandle(writeEnd);
        if (started)
        {
            // The output is a few lines, well within the pipe's buffer: wait first, then read.
            if (child.WaitForExit(timeoutMs))
                ok = child.ExitCode() == 0;
            else
                child.End();
            char buffer[4096];
            DWORD count = 0;
            while (ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0)
                output.append(buffer, count);
        }
    }
    CloseHandle(readEnd);
    return output;
}

} // namespace WinTest
} // namespace Corvan
