#pragma once

// Live reload's open sockets: one WebSocket session per page, each with its own write queue, so a
// page that stops reading holds up only itself. A page says one thing, its first text message
// (which page it is, PageNotices.h); whatever it sends after is read and dropped (pings answered),
// and a message above a few KiB ends the socket with 1009 before any of it is kept. Runs on the
// server's loop thread.

#include "server/http/HttpResponse.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace Corvan
{

struct CConnection;

class CLiveSockets
{
public:
    // A page's socket has little to say; this bounds what a client may send in one message.
    static constexpr std::size_t MaxMessageSize = 4096;

    // Sends `message` (nothing when it is empty) to one page's socket; false once that socket ended.
    using Reply = std::function<bool(const std::string& message)>;
    // Takes a page's first text message, with the way to answer that page alone.
    using MessageHandler = std::function<void(const std::string& text, const Reply& reply)>;

    CLiveSockets();
    ~CLiveSockets();

    // Completes the handshake of an upgrade request (its bytes, and any frames after them, still in
    // the connection's buffer) and keeps the socket until it closes; `greeting`, unless empty, is
    // its first message.
    void Open(CConnection&& connection, const std::string& greeting = std::string());
    // Answers an upgrade request with `response` instead, and ends the connection.
    static void Refuse(CConnection&& connection, CHttpResponse response);

    void SetMessageHandler(MessageHandler handler);

    // Open sockets, handshakes under way included.
    std::size_t Count() const;
    // Sockets whose close frame has not been written yet (behind a handshake or messages).
    std::size_t ClosesWaiting() const;
    // A text message to every open socket.
    void Broadcast(const std::string& message);
    // "off" to every open socket, then a normal close: live reload has ended for good.
    void SendOff();
    // Closes every socket with 1001: the server goes away.
    void CloseAll();

    // The open sockets, shared with each of them, so that a socket can leave it whenever it ends.
    struct CSet;

private:
    std::shared_ptr<CSet> m_pSet;
};

} // namespace Corvan
