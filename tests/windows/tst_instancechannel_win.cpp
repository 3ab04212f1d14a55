// The instance channel on Windows: a pipe name of this user and session, and the check of who is at
// the other end of a pipe. Plain C++; ends with "N passed, M failed".

#include "WinTestSupport.h"

#include "platform/InstanceChannel.h"

#include <windows.h>

using namespace Corvan;
using namespace Corvan::WinTest;

int main()
{
    std::string refused = "x";
    const std::string name = Platform::InstanceChannelName("corvan-test", refused);
    Check(name.rfind("corvan-test-S-1-5-", 0) == 0, "the name carries the user's SID", name);
    Check(name == Platform::InstanceChannelName("corvan-test", refused) && refused.empty(),
          "the name is the same on every call", name);
    Check(Platform::ChannelNeedsAccessList(), "pipes need an access list of their own");

    // Both ends of a pipe of our own: the peer is this user, seen from the server and the client.
    const std::string path = "\\\\.\\pipe\\" + name + "-" + std::to_string(GetCurrentProcessId());
    const HANDLE server = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    Check(server != INVALID_HANDLE_VALUE, "make a pipe", path);
    const HANDLE client =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Check(client != INVALID_HANDLE_VALUE, "connect to it");
    if (server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE)
    {
        Check(Platform::PeerIsSameUser(reinterpret_cast<std::intptr_t>(server)), "the client is this user");
        Check(Platform::PeerIsSameUser(reinterpret_cast<std::intptr_t>(client)), "the server is this user");
    }
    Check(!Platform::PeerIsSameUser(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)), "no pipe, no same user");
    if (client != INVALID_HANDLE_VALUE)
        CloseHandle(client);
    if (server != INVALID_HANDLE_VALUE)
        CloseHandle(server);
    return Summary();
}
