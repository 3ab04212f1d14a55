#include "platform/LoopbackPort.h"
#include "platform/WinText_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

namespace Corvan
{
namespace LoopbackPort
{

void PrepareListener(std::uintptr_t socket)
{
    const BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
}

EState Check(int port, std::string& strError)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    {
        strError = "cannot use sockets: " + WinText::SystemMessage(static_cast<DWORD>(WSAGetLastError()));
        return EState::OtherError;
    }
    EState result = EState::Free;
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET)
    {
        strError = "cannot open a socket: " + WinText::SystemMessage(static_cast<DWORD>(WSAGetLastError()));
        result = EState::OtherError;
    }
    else
    {
        // As the server binds: exclusively, so no other program can take the port from under it.
        const BOOL on = TRUE;
        setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        {
            const int error = WSAGetLastError();
            // WSAEACCES: another program holds the port for its exclusive use.
            const bool inUse = error == WSAEADDRINUSE || error == WSAEACCES;
            result = inUse ? EState::InUse : EState::OtherError;
            strError = inUse ? "port " + std::to_string(port) + " is already in use"
                             : "cannot listen on port " + std::to_string(port) + ": " +
                                   WinText::SystemMessage(static_cast<DWORD>(error));
        }
        closesocket(socket);
    }
    WSACleanup();
    return result;
}

} // namespace LoopbackPort
} // namespace Corvan
