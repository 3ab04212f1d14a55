// The sweep against real processes: helpers named mongoose.exe, MONGOOSE.EXE and mongoose-x.exe are
// started, and only the first may be ended. Plain C++; ends with "N passed, M failed".

#include "WinTestSupport.h"
#include "platform/ProcessSweep.h"

#include <iostream>
#include <string>

using namespace Corvan;
using namespace Corvan::WinTest;

namespace
{

const std::string ServerName = "mongoose.exe";
const std::chrono::milliseconds SweepWait(10000);
// The first process of a fresh wine prefix can take seconds to come up.
const DWORD HelperStartTimeoutMs = 30000;

struct Helper
{
    Helper(const char* what, const char* relativePath, bool sweptByName)
        : what(what), relativePath(relativePath), sweptByName(sweptByName)
    {
    }

    const char* what;
    std::string relativePath;
    bool sweptByName; // whether a sweep for ServerName must end it
    CChildProcess process;
};

// Starts the helper and waits until its own code runs, so that its executable is mapped and its
// name can be read by the sweep.
bool StartHelper(Helper& helper)
{
    const std::string program = OwnFolder() + helper.relativePath;
    if (!FileExists(program))
    {
        Check(false, helper.what, "helper program missing: " + program);
        return false;
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE ready = CreateEventA(&inheritable, TRUE, FALSE, nullptr);
    const std::string argument = std::to_string(reinterpret_cast<uintptr_t>(ready));
    bool up = helper.process.Start(program, argument);
    Check(up, helper.what, "could not start " + program);
    if (up)
    {
        up = WaitForSingleObject(ready, HelperStartTimeoutMs) == WAIT_OBJECT_0;
        Check(up, helper.what, "did not report ready in time");
    }
    CloseHandle(ready);
    return up;
}

void TestSweepEndsOnlyTheExactName()
{
    Helper helpers[] = {
        {"exact name", "sweep-helpers\\lower\\mongoose.exe", true},
        {"name in capitals", "sweep-helpers\\upper\\MONGOOSE.EXE", false},
        {"name with a suffix", "sweep-helpers\\suffix\\mongoose-x.exe", false},
    };
    for (Helper& helper : helpers)
    {
        if (!StartHelper(helper))
        {
            for (Helper& started : helpers)
                started.process.End();
            return;
        }
    }

    const Platform::SweepResult result = Platform::TerminateProcessesNamed(ServerName, SweepWait);
    // Another server may run on a developer's machine; under the check's private wine prefix there is
    // none, so ours is the one.
    Check(result.terminated >= 1, "sweep reports the ended server",
          "terminated = " + std::to_string(result.terminated));
    Check(result.stillRunning == 0, "sweep waits until the ended server is gone",
          "stillRunning = " + std::to_string(result.stillRunning));

    for (Helper& helper : helpers)
    {
        if (helper.sweptByName)
        {
            // No extra wait here: the sweep itself waited until the process was gone.
            Check(!helper.process.IsRunning(), std::string(helper.what) + ": ended by the sweep");
            Check(helper.process.ExitCode() == 0, std::string(helper.what) + ": ended with exit code 0",
                  "exit code " + std::to_string(helper.process.ExitCode()));
        }
        else
        {
            Check(helper.process.IsRunning(), std::string(helper.what) + ": left running");
        }
    }

    const Platform::SweepResult again = Platform::TerminateProcessesNamed(ServerName, SweepWait);
    Check(again.terminated == 0 && again.stillRunning == 0, "a second sweep finds nothing left to end",
          "terminated = " + std::to_string(again.terminated));

    for (Helper& helper : helpers)
        helper.process.End();
}

void TestSweepWithoutMatch()
{
    const Platform::SweepResult result =
        Platform::TerminateProcessesNamed("no-such-server.exe", std::chrono::milliseconds(1000));
    Check(result.terminated == 0 && result.stillRunning == 0, "a name nothing runs under ends nothing");

    // The test program itself runs under its own name; an empty name must not match the
    // "<unknown>" of processes that cannot be read, nor anything else.
    const Platform::SweepResult empty = Platform::TerminateProcessesNamed("", std::chrono::milliseconds(1000));
    Check(empty.terminated == 0, "an empty name ends nothing");
}

// Run as a copy named like the server: the sweep must spare its caller.
const std::string SweepAsCallerArgument = "--sweep-as-caller";

int SweepAsCaller()
{
    const Platform::SweepResult result = Platform::TerminateProcessesNamed(ServerName, SweepWait);
    std::cout << result.terminated << std::endl;
    return 0;
}

void TestSweepSparesItsCaller()
{
    const std::string folder = OwnFolder() + "sweep-caller";
    const std::string copy = folder + "\\" + ServerName;
    CreateDirectoryA(folder.c_str(), nullptr);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (!CopyFileA(self, copy.c_str(), FALSE))
    {
        Check(false, "copy the test program as " + ServerName, copy);
        return;
    }
    bool ran = false;
    const std::string output = RunAndCapture(copy, SweepAsCallerArgument, 30000, ran);
    // Ended by its own sweep, it would exit with code 0 too, but without a word.
    Check(ran && !output.empty(), "a caller named like the server survives its own sweep");
    CheckEqual(output.substr(0, output.find_first_of("\r\n")), "0", "a caller named like the server ends nothing");
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1] == SweepAsCallerArgument)
        return SweepAsCaller();
    TestSweepWithoutMatch();
    TestSweepEndsOnlyTheExactName();
    TestSweepSparesItsCaller();
    return Summary();
}
