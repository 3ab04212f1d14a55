// Which program listens on a TCP port, on Windows: this test program listens on loopback ports of its
// own choosing (IPv4 and IPv6) and must be named as their owner. Plain C++; ends with
// "N passed, M failed".

#include <winsock2.h>
#include <ws2tcpip.h>

#include "WinTestSupport.h"
#include "platform/PortOwner.h"

#include <iostream>
#include <string>

using namespace Corvan;
using namespace Corvan::WinTest;

namespace
{

const std::string OwnFileName = "tst_portowner_win.exe";

// A socket listening on a free loopback port; closed when it goes out of scope.
class CListener
{
public:
    explicit CListener(int family)
    {
        m_socket = socket(family, SOCK_STREAM, IPPROTO_TCP);
        if (m_socket == INVALID_SOCKET)
            return;
        sockaddr_storage address = {};
        int length = 0;
        if (family == AF_INET)
        {
            sockaddr_in& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof(v4);
        }
        else
        {
            sockaddr_in6& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            length = sizeof(v6);
        }
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_socket, 1) != 0 ||
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                         : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
    }
    CListener(const CListener&) = delete;
    CListener& operator=(const CListener&) = delete;
    ~CListener() { Close(); }

    void Close()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }

    // 0 when the socket could not listen.
    unsigned short Port() const { return m_port; }

private:
    SOCKET m_socket = INVALID_SOCKET;
    unsigned short m_port = 0;
};

bool SameFileName(const std::string& a, const std::string& b)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

void TestListener(int family, const std::string& what)
{
    CListener listener(family);
    if (listener.Port() == 0)
    {
        // A machine without IPv6 has nothing to find there; IPv4 must always work.
        Check(family != AF_INET, what + ": listen on a loopback port");
        return;
    }
    const unsigned short port = listener.Port();
    const std::string owner = Platform::ProgramListeningOn(port);
    if (RunningUnderWine() && owner.empty())
        // Wine lists the listener but not its owning process (the id comes back as 0).
        std::cout << "SKIP: " << what << ": wine does not name a listener's process" << std::endl;
    else
        Check(SameFileName(owner, OwnFileName), what + ": the listener's program is named",
              "got \"" + owner + "\" for port " + std::to_string(port));
    listener.Close();
    CheckEqual(Platform::ProgramListeningOn(port), "", what + ": a closed port has no owner");
}

} // namespace

int main()
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
    {
        Check(false, "Winsock starts");
        return Summary();
    }
    TestListener(AF_INET, "IPv4");
    TestListener(AF_INET6, "IPv6");
    WSACleanup();
    return Summary();
}
