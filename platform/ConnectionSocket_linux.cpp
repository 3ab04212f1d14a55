#include "platform/ConnectionSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace Corvan
{
namespace ServerPlatform
{

namespace
{

bool IsConnection(int fd, in_addr client, int clientPort, int serverPort)
{
    sockaddr_in local{}, peer{};
    socklen_t localSize = sizeof local, peerSize = sizeof peer;
    return getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 && local.sin_family == AF_INET &&
           ntohs(local.sin_port) == serverPort && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0 &&
           peer.sin_family == AF_INET && ntohs(peer.sin_port) == clientPort && peer.sin_addr.s_addr == client.s_addr;
}

} // namespace

bool CConnectionSocket::Find(const char* pClientAddress, int clientPort, int serverPort)
{
    in_addr client{};
    if (!pClientAddress || inet_pton(AF_INET, pClientAddress, &client) != 1)
        return false;
    // Only the descriptors that are open, however high the limit of open files was raised.
    DIR* pDir = opendir("/proc/self/fd");
    if (!pDir)
        return false;
    m_socket = -1;
    while (const dirent* pEntry = readdir(pDir))
    {
        char* pEnd = nullptr;
        const long fd = std::strtol(pEntry->d_name, &pEnd, 10);
        if (*pEnd == '\0' && pEnd != pEntry->d_name && fd != dirfd(pDir) &&
            IsConnection(static_cast<int>(fd), client, clientPort, serverPort))
        {
            m_socket = fd;
            break;
        }
    }
    closedir(pDir);
    return m_socket >= 0;
}

long long CConnectionSocket::Receive(char* pBuffer, std::size_t length, int timeoutMs) const
{
    const int fd = static_cast<int>(m_socket);
    for (;;)
    {
        if (m_shut)
            return Closed;
        pollfd wanted{fd, POLLIN, 0};
        const int ready = poll(&wanted, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Failed;
        if (ready == 0)
            return TimedOut;
        const ssize_t count = recv(fd, pBuffer, length, MSG_DONTWAIT);
        if (count >= 0)
            return count;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return Failed;
    }
}

void CConnectionSocket::Shutdown() const
{
    m_shut = true;
    if (m_socket >= 0)
        shutdown(static_cast<int>(m_socket), SHUT_RDWR);
}

} // namespace ServerPlatform
} // namespace Corvan
