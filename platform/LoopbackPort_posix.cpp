#include "platform/LoopbackPort.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Corvan
{
namespace LoopbackPort
{

void PrepareListener(std::uintptr_t socket)
{
    const int on = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#ifdef TCP_DEFER_ACCEPT
    // A connection is handed over once its request starts, or after a second without one, so
    // that clients holding connections that never speak do not stand in the queue before those
    // that ask for something.
    const int deferSeconds = 1;
    setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
#endif
}

EState Check(int port, std::string& strError)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        strError = std::string("cannot open a socket: ") + std::strerror(errno);
        return EState::OtherError;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EState result = EState::Free;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        const int error = errno;
        result = error == EADDRINUSE ? EState::InUse : EState::OtherError;
        strError = result == EState::InUse
                       ? "port " + std::to_string(port) + " is already in use"
                       : "cannot listen on port " + std::to_string(port) + ": " + std::strerror(error);
    }
    close(fd);
    return result;
}

} // namespace LoopbackPort
} // namespace Corvan
