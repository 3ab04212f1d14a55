#pragma once

// The socket under one of the server's accepted connections, found among the process's own by
// its two ends, so that a feature can read it itself: live reload reads its sockets' frames this
// way, because civetweb's own reader allocates a whole frame of any announced size first.
// One source file per platform (ConnectionSocket_linux.cpp; ConnectionSocket_win.cpp).

#include <atomic>
#include <cstddef>

namespace Corvan
{
namespace ServerPlatform
{

class CConnectionSocket
{
public:
    static constexpr long long Closed = 0;
    static constexpr long long Failed = -1;
    static constexpr long long TimedOut = -2;

    // Finds the TCP connection from clientAddress:clientPort (IPv4, as text) to this process's
    // serverPort; false when there is none (or the platform cannot look).
    bool Find(const char* pClientAddress, int clientPort, int serverPort);

    // Waits up to `timeoutMs` for bytes and reads up to `length` of them: the count, Closed when
    // the peer closed or Shutdown ran, TimedOut, or Failed.
    long long Receive(char* pBuffer, std::size_t length, int timeoutMs) const;

    // Ends the connection both ways; a Receive under way in another thread returns Closed. The
    // socket stays open (its owner closes it).
    void Shutdown() const;

private:
    long long m_socket = -1; // not owned
    // Set by Shutdown: where shutting a socket down does not wake a read already waiting on it
    // (Windows), Receive waits in short slices and looks here between them.
    mutable std::atomic<bool> m_shut{false};
};

} // namespace ServerPlatform
} // namespace Corvan
