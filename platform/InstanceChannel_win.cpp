#include "platform/InstanceChannel.h"

#include <windows.h>

#include <sddl.h>

#include <memory>
#include <vector>

namespace Corvan
{
namespace Platform
{
namespace
{
struct CHandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle)
            CloseHandle(handle);
    }
};
using CHandle = std::unique_ptr<void, CHandleCloser>;

// The user (SID) a process runs as, as stored in its token; empty when it cannot be read.
std::vector<BYTE> TokenUserOf(HANDLE process)
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &rawToken))
        return {};
    const CHandle token(rawToken);
    DWORD length = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &length);
    if (length == 0)
        return {};
    std::vector<BYTE> buffer(length);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), length, &length))
        return {};
    return buffer;
}

PSID SidOf(std::vector<BYTE>& tokenUser)
{
    return tokenUser.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}
} // namespace

std::string InstanceChannelName(const std::string& base, std::string& strRefusedFolder)
{
    strRefusedFolder.clear();
    // Pipe names are machine-wide, so the name carries the user's SID and the session: another
    // user's start, or the same user's second remote desktop session, gets its own window. Names can
    // still be taken by anyone first, which is why both ends also check PeerIsSameUser.
    std::vector<BYTE> user = TokenUserOf(GetCurrentProcess());
    PSID sid = SidOf(user);
    LPSTR sidText = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid, &sidText))
        return std::string();
    std::string name = base + "-" + sidText;
    LocalFree(sidText);
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session))
        name += "-" + std::to_string(session);
    return name;
}

bool ChannelNeedsAccessList()
{
    // Pipe names are open to all users; the pipe's access list must keep them out.
    return true;
}

bool PeerIsSameUser(std::intptr_t handle)
{
    const HANDLE pipe = reinterpret_cast<HANDLE>(handle);
    // The descriptor is either end of the pipe: ask for the client first, then for the server.
    ULONG peerId = 0;
    if (!GetNamedPipeClientProcessId(pipe, &peerId) || peerId == GetCurrentProcessId())
    {
        if (!GetNamedPipeServerProcessId(pipe, &peerId))
            return false;
    }
    const CHandle peer(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, peerId));
    if (!peer)
        return false;
    std::vector<BYTE> own = TokenUserOf(GetCurrentProcess());
    std::vector<BYTE> other = TokenUserOf(peer.get());
    return SidOf(own) && SidOf(other) && EqualSid(SidOf(own), SidOf(other));
}

} // namespace Platform
} // namespace Corvan
