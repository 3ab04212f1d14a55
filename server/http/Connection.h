#pragma once

// An accepted connection as the server's sessions pass it on: its stream, the bytes read from it
// and not yet used, and its place among the connections the server may hold at once. Only the
// session files include this header: it brings in Asio and Beast's stream.

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <functional>
#include <memory>

namespace Corvan
{

// How many connections are open, against how many the open-file limit allows.
struct CConnectionCount
{
    int open = 0;
    int cap = 1;
    // Called when a place comes free while accepting waits for one.
    std::function<void()> onFree;
    // Near the cap answers end their connection, so that keep-alive connections waiting for a next
    // request do not keep new clients waiting in the backlog.
    bool Scarce() const { return open > cap / 8 * 7; }
};

// One connection's place; given back when the last owner of the connection ends.
class CConnectionPlace
{
public:
    explicit CConnectionPlace(std::shared_ptr<CConnectionCount> pCount) : m_pCount(std::move(pCount))
    {
        ++m_pCount->open;
    }
    CConnectionPlace(CConnectionPlace&&) = default;
    CConnectionPlace& operator=(CConnectionPlace&&) = delete;
    ~CConnectionPlace()
    {
        if (!m_pCount)
            return;
        --m_pCount->open;
        if (m_pCount->onFree)
            m_pCount->onFree();
    }
    const CConnectionCount& Count() const { return *m_pCount; }
    // One more place on the same count, for a second descriptor the connection holds.
    CConnectionPlace Another() const { return CConnectionPlace(m_pCount); }

private:
    std::shared_ptr<CConnectionCount> m_pCount;
};

struct CConnection
{
    boost::beast::tcp_stream stream;
    // For a connection handed to a socket: its upgrade request and any frames that came with it.
    boost::beast::flat_buffer buffer;
    CConnectionPlace place;
};

} // namespace Corvan
