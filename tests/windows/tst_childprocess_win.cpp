// Starting and watching a program: its output and errors, its folder, arguments (blanks and quotes
// intact) and environment, its exit code, a program that cannot start, and one ended by Kill.

#include "WinTestSupport.h"
#include "platform/ChildProcess.h"

using namespace Corvan;
using namespace Corvan::WinTest;

namespace
{

const std::string Helper = OwnFolder() + "childprocess_helper.exe";

void TestTalkingProgram()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "child process test";
    CreateDirectoryA(folder.c_str(), nullptr);
    SetEnvironmentVariableA("CHILD_DROPPED", "1");
    Platform::CChildProcess process;
    process.SetVariable("CHILD_SET", "x y");
    process.SetVariable("Child_Dropped", "");
    std::string error, output, errors;
    Check(process.Start(Helper, {"talk", "a b", "say \"hi\"\\"}, folder, error), "start", error);
    // The first process of a fresh wine prefix can take seconds to come up.
    for (int i = 0; i < 600 && process.Read(output, errors, std::chrono::milliseconds(100)); ++i)
    {
    }
    Check(output.find("folder=" + folder) != std::string::npos, "its folder", output);
    Check(output.find("args=talk|a b|say \"hi\"\\|") != std::string::npos, "its arguments", output);
    Check(output.find("set=x y\r\ndropped=yes") != std::string::npos, "its environment", output);
    CheckEqual(errors, "said on stderr\r\n", "its errors");
    Check(!process.IsRunning() && process.ExitCode() == 3 && !process.Crashed(), "its end",
          std::to_string(process.ExitCode()));
    RemoveDirectoryA(folder.c_str());
}

void TestMissingProgram()
{
    Platform::CChildProcess process;
    std::string error;
    Check(!process.Start(OwnFolder() + "no-such-program.exe", {}, OwnFolder(), error) && !error.empty(),
          "a missing program is not started", error);
    Check(!process.IsRunning() && process.Id() == 0, "nothing runs");
}

void TestKill()
{
    Platform::CChildProcess process;
    std::string error;
    Check(process.Start(Helper, {"idle"}, OwnFolder(), error) && process.IsRunning(), "idle start", error);
    process.DiscardOutput();
    process.Kill();
    Check(!process.IsRunning() && process.Crashed(), "ended by Kill");
}

} // namespace

int main()
{
    TestTalkingProgram();
    TestMissingProgram();
    TestKill();
    return Summary();
}
