#include "platform/ConnectionSocket.h"

// Not written for Windows yet: Find says no, and live reload leaves its sockets to civetweb's own
// reader. A Windows version would look for the connection among the process's SOCKET handles
// (getsockname/getpeername) and read it with WSAPoll and recv.

namespace Corvan
{
namespace ServerPlatform
{

bool CConnectionSocket::Find(const char*, int, int)
{
    return false;
}

long long CConnectionSocket::Receive(char*, std::size_t, int) const
{
    return Failed;
}

void CConnectionSocket::Shutdown() const {}

} // namespace ServerPlatform
} // namespace Corvan
