#include "platform/ConnectionSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace Corvan
{
namespace ServerPlatform
{

namespace
{

// Socket handles are kernel handles, multiples of four, issued lowest first.
constexpr ULONG_PTR HighestHandle = 1 << 20;
// The table is dense, so a run this long of values that are no socket means the rest is empty.
constexpr int LongestGap = 4096;

bool IsConnection(SOCKET socket, const in_addr& client, int clientPort, int serverPort)
{
    sockaddr_in local{}, peer{};
    int localSize = sizeof local, peerSize = sizeof peer;
    return getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 && local.sin_family == AF_INET &&
           ntohs(local.sin_port) == serverPort &&
           getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0 && peer.sin_family == AF_INET &&
           ntohs(peer.sin_port) == clientPort && peer.sin_addr.s_addr == client.s_addr;
}

} // namespace

bool CConnectionSocket::Find(const char* pClientAddress, int clientPort, int serverPort)
{
    in_addr client{};
    if (!pClientAddress || inet_pton(AF_INET, pClientAddress, &client) != 1)
        return false;
    m_socket = -1;
    // Windows lists no process's sockets: each handle value is asked instead (getsockname fails
    // with WSAENOTSOCK on anything that is not a socket).
    int misses = 0;
    for (ULONG_PTR value = 4; value < HighestHandle && misses < LongestGap; value += 4)
    {
        const SOCKET socket = static_cast<SOCKET>(value);
        sockaddr_in local{};
        int localSize = sizeof local;
        if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localSize) != 0)
        {
            ++misses;
            continue;
        }
        misses = 0;
        if (IsConnection(socket, client, clientPort, serverPort))
        {
            m_socket = static_cast<long long>(value);
            return true;
        }
    }
    return false;
}

long long CConnectionSocket::Receive(char* pBuffer, std::size_t length, int timeoutMs) const
{
    // A local shutdown wakes no WSAPoll, so the wait goes in slices short enough for Stop.
    constexpr int SliceMs = 50;
    const SOCKET socket = static_cast<SOCKET>(m_socket);
    for (int waited = 0;;)
    {
        if (m_shut)
            return Closed;
        WSAPOLLFD wanted{socket, POLLRDNORM, 0};
        const int slice = timeoutMs >= 0 && timeoutMs - waited < SliceMs ? timeoutMs - waited : SliceMs;
        const int ready = WSAPoll(&wanted, 1, slice);
        if (ready == SOCKET_ERROR)
            return Failed;
        if (ready == 0)
        {
            waited += slice;
            if (timeoutMs >= 0 && waited >= timeoutMs)
                return TimedOut;
            continue;
        }
        if (m_shut)
            return Closed;
        const int count = recv(socket, pBuffer, static_cast<int>(length > 0x7fffffff ? 0x7fffffff : length), 0);
        if (count >= 0)
            return count;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return Failed;
    }
}

void CConnectionSocket::Shutdown() const
{
    m_shut = true;
    if (m_socket >= 0)
        shutdown(static_cast<SOCKET>(m_socket), SD_BOTH);
}

} // namespace ServerPlatform
} // namespace Corvan
