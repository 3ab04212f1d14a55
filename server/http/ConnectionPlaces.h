#pragma once

// The places the server has for connections: as many as the open-file limit allows, and which of
// the connections holding one wait for a request head, longest first. When every place is taken
// a newcomer takes the place of the connection that has waited longest, instead of waiting in the
// backlog behind clients that never speak. Connections in the middle of an answer and live pages'
// sockets never wait here, so they are never the ones closed. Everything runs on the loop's
// thread, and each change is O(1): a list through the places themselves, never a scan.

#include <boost/beast/core/tcp_stream.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace Corvan
{

class CConnectionPlace;

class CConnectionPlaces
{
public:
    explicit CConnectionPlaces(int cap) : m_cap(cap) {}
    CConnectionPlaces(const CConnectionPlaces&) = delete;
    CConnectionPlaces& operator=(const CConnectionPlaces&) = delete;

    int Open() const { return m_open; }
    int Cap() const { return m_cap; }
    // Near the cap answers end their connection, so that keep-alive connections waiting for a next
    // request give their places back at once.
    bool Scarce() const { return m_open > m_cap / 8 * 7; }
    // A newcomer can be given a place: one is free, or a connection waits that can give up its own.
    bool HasRoom() const { return m_open < m_cap || m_pOldest; }
    // Closes the connection that has waited longest for a request head and takes its place back at
    // once; false when none waits.
    bool FreeOne();

    // Called when a place may be had again: one came free, or, with every place taken, a
    // connection began to wait.
    std::function<void()> onRoom;

private:
    friend class CConnectionPlace;
    void Link(CConnectionPlace& place);
    void Unlink(CConnectionPlace& place);

    int m_open = 0;
    int m_cap;
    CConnectionPlace* m_pOldest = nullptr;
    CConnectionPlace* m_pNewest = nullptr;
};

// One connection's place; given back when the last owner of the connection ends, or when another
// connection takes it.
class CConnectionPlace
{
public:
    explicit CConnectionPlace(std::shared_ptr<CConnectionPlaces> pPlaces);
    // The new owner's place no longer waits: the stream it waited on moves with it.
    CConnectionPlace(CConnectionPlace&& other);
    CConnectionPlace& operator=(CConnectionPlace&&) = delete;
    ~CConnectionPlace();

    // The connection waits for a request head on `stream`, which another connection may close to
    // take its place. A head that comes in part by part keeps the turn its connection had.
    void WaitForRequest(boost::beast::tcp_stream& stream);
    // A head is complete: the place is the connection's until it ends.
    void Keep();
    const CConnectionPlaces& Count() const { return *m_pPlaces; }
    // A place for a second descriptor the connection holds (a proxied request's connection to its
    // server), had as a newcomer has one: none when every place is taken and none waits.
    std::optional<CConnectionPlace> Another();

private:
    friend class CConnectionPlaces;
    std::shared_ptr<CConnectionPlaces> m_pPlaces;
    bool m_counted = true;                         // false once another connection took the place
    boost::beast::tcp_stream* m_pStream = nullptr; // while it waits
    CConnectionPlace* m_pOlder = nullptr;
    CConnectionPlace* m_pNewer = nullptr;
};

} // namespace Corvan
