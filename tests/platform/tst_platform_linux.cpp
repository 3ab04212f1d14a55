// The sweep and the port-owner lookup against real processes and sockets.
#include "platform/DisplaySession_linux.h"
#include "platform/InstanceChannel_linux.h"
#include "platform/PortOwner.h"
#include "platform/ProcessSweep.h"
#include "tests/support/Check.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Corvan::Platform;

namespace
{
using CorvanTest::Check;

const std::string SleeperDir = CORVAN_SLEEPER_DIR;

std::string ExecutableOf(pid_t pid)
{
    char target[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// Starts `program` and returns once the child runs it (before exec the child still looks like us).
pid_t Start(const std::string& program)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ExecutableOf(pid) != program && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ExecutableOf(pid) != program)
        std::fprintf(stderr, "note: %s did not start in time\n", program.c_str());
    return pid;
}

// True when the child has ended by SIGKILL; reaps it. Does not wait: the sweep must have waited.
bool EndedByKill(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool StillRunning(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

void EndOwnChild(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

void TestSweepEndsExactlyTheServers()
{
    const pid_t first = Start(SleeperDir + "/mongoose");
    const pid_t second = Start(SleeperDir + "/mongoose");
    const pid_t upperCase = Start(SleeperDir + "/MONGOOSE");
    const pid_t longerName = Start(SleeperDir + "/mongoose-x");

    const SweepResult result = TerminateProcessesNamed(ServerExecutableName, std::chrono::seconds(2));

    // Other processes named like the server may have been running too, so at least ours.
    Check(result.terminated >= 2, "both servers are counted as ended");
    Check(result.stillRunning == 0, "no ended server is left running");
    Check(EndedByKill(first) && EndedByKill(second), "both servers have exited when the sweep returns");
    Check(StillRunning(upperCase), "a name differing in letter case is left alone");
    Check(StillRunning(longerName), "a longer name is left alone");
    EndOwnChild(upperCase);
    EndOwnChild(longerName);
}

void TestSweepFindsARebuiltServer()
{
    char folder[] = "/tmp/tst_platform_XXXXXX";
    if (!mkdtemp(folder))
    {
        Check(false, "temporary folder");
        return;
    }
    const std::string program = std::string(folder) + "/mongoose";
    const std::string copy = "cp '" + SleeperDir + "/mongoose' '" + program + "'";
    Check(std::system(copy.c_str()) == 0, "copy the helper");
    const pid_t server = Start(program);
    // A rebuild replaces the file under the running server; /proc then reports "... (deleted)".
    unlink(program.c_str());
    rmdir(folder);

    TerminateProcessesNamed(ServerExecutableName, std::chrono::seconds(2));
    Check(EndedByKill(server), "a server whose program file was replaced is ended");
}

void TestPortOwner()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    {
        Check(false, "listen on a free loopback port");
        close(listener);
        return;
    }
    const unsigned short port = ntohs(address.sin_port);
    const std::string self = ExecutableOf(getpid());
    Check(ProgramListeningOn(port) == self.substr(self.rfind('/') + 1), "the listening program is named");
    close(listener);
    Check(ProgramListeningOn(port).empty(), "a port nobody listens on names nobody");
}
// The instance channel's socket lies only in folders no other user can enter.
void TestInstanceChannelFolder()
{
    char rootTemplate[] = "/tmp/corvan-channel-test.XXXXXX";
    const std::string root = mkdtemp(rootTemplate) ? rootTemplate : "";
    Check(!root.empty(), "make a scratch folder");
    const std::string own = "corvan-html-starter-" + std::to_string(getuid());

    std::string refused;
    const std::string runtime = root + "/runtime";
    mkdir(runtime.c_str(), 0700);
    Check(InstanceChannelNameIn("tool", ":0", runtime, root, refused) == runtime + "/tool-_0",
          "a private runtime folder is used, the display in a plain name");

    chmod(runtime.c_str(), 0755);
    const std::string fallback = root + "/" + own;
    Check(InstanceChannelNameIn("tool", "", runtime, root, refused) == fallback + "/tool",
          "a runtime folder others may enter is passed over for a private one of our own");
    struct stat made = {};
    Check(stat(fallback.c_str(), &made) == 0 && (made.st_mode & 0777) == 0700, "the private folder is 0700");
    Check(InstanceChannelNameIn("tool", "", "", root, refused) == fallback + "/tool",
          "no runtime folder: the private one");

    chmod(fallback.c_str(), 0777);
    Check(InstanceChannelNameIn("tool", "", "", root, refused).empty() && refused == fallback,
          "a private folder opened to others is refused, by name");
    rmdir(fallback.c_str());
    symlink(runtime.c_str(), fallback.c_str());
    chmod(runtime.c_str(), 0700);
    Check(InstanceChannelNameIn("tool", "", "", root, refused).empty() && refused == fallback,
          "a link planted at the private folder's name is refused");
    unlink(fallback.c_str());
    Check(InstanceChannelNameIn("tool", std::string(200, 'x'), runtime, root, refused).empty(),
          "a name too long for a socket address is refused");

    rmdir(runtime.c_str());
    rmdir(root.c_str());
}

void TestDisplayPlatform()
{
    Check(DisplayPlatformFor(nullptr, "wayland", ":0") == "xcb", "Wayland with XWayland: through X");
    Check(DisplayPlatformFor("wayland", "wayland", ":0").empty(), "the user's own choice stands");
    Check(DisplayPlatformFor(nullptr, "wayland", nullptr).empty(), "no X display: Qt's own choice");
    Check(DisplayPlatformFor(nullptr, "x11", ":0").empty(), "an X session needs nothing");
}
} // namespace

int main()
{
    TestSweepEndsExactlyTheServers();
    TestSweepFindsARebuiltServer();
    TestPortOwner();
    TestInstanceChannelFolder();
    TestDisplayPlatform();
    return CorvanTest::Summary();
}
