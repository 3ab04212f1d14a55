#include "server/livereload/LiveSockets.h"

#include "server/http/Connection.h"

#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <algorithm>
#include <array>
#include <deque>
#include <unordered_set>
#include <utility>

namespace Corvan
{

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace
{

class CLiveSocket;

// A page that has not taken this many messages is not reading; its socket ends.
constexpr std::size_t MaxQueuedMessages = 16;

} // namespace

struct CLiveSockets::CSet
{
    std::unordered_set<CLiveSocket*> sockets;
    MessageHandler onMessage;
};

namespace
{

class CLiveSocket : public std::enable_shared_from_this<CLiveSocket>
{
public:
    CLiveSocket(CConnection&& connection, std::shared_ptr<CLiveSockets::CSet> pSet)
        : m_socket(std::move(connection.stream)), m_request(std::move(connection.buffer)),
          m_place(std::move(connection.place)), m_pSet(std::move(pSet))
    {
        m_pSet->sockets.insert(this);
    }
    ~CLiveSocket() { m_pSet->sockets.erase(this); }

    void Open()
    {
        // The socket's own timers from here on: a handshake must finish, and a page that neither
        // answers a ping nor sends anything for a minute is gone.
        beast::get_lowest_layer(m_socket).expires_never();
        websocket::stream_base::timeout timeout;
        timeout.handshake_timeout = std::chrono::seconds(5);
        timeout.idle_timeout = std::chrono::seconds(60);
        timeout.keep_alive_pings = true;
        m_socket.set_option(timeout);
        m_socket.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& response) { response.set(beast::http::field::server, "mongoose"); }));
        m_socket.read_message_max(CLiveSockets::MaxMessageSize);
        m_socket.auto_fragment(false);
        m_socket.async_accept(m_request.data(),
                              beast::bind_front_handler(&CLiveSocket::OnAccepted, shared_from_this()));
    }

    void Send(const std::shared_ptr<const std::string>& pMessage) { Queue({pMessage, 0}); }
    void Close(int code) { Queue({nullptr, code}); }
    // Whether a close is queued behind a handshake or messages not yet written.
    bool CloseWaits() const { return m_closeQueued && !m_closeSent; }

private:
    struct COutgoing
    {
        std::shared_ptr<const std::string> pText; // nullptr: a close frame
        int closeCode = 0;
    };

    void OnAccepted(beast::error_code error)
    {
        if (error)
            return;
        m_request.clear();
        m_request.shrink_to_fit();
        m_open = true;
        Read();
        WriteNext();
    }

    void Read() { m_socket.async_read(m_input, beast::bind_front_handler(&CLiveSocket::OnRead, shared_from_this())); }

    void OnRead(beast::error_code error, std::size_t)
    {
        if (error)
            return; // closed by the page, refused by the stream (with its close code), or timed out
        // The one thing a page says: which page it is (PageNotices.h).
        if (m_socket.got_text() && !std::exchange(m_spoke, true) && m_pSet->onMessage)
            m_pSet->onMessage(beast::buffers_to_string(m_input.data()), ReplyToThis());
        m_input.clear();
        Read();
    }

    CLiveSockets::Reply ReplyToThis()
    {
        return [pWeak = weak_from_this()](const std::string& message)
        {
            const std::shared_ptr<CLiveSocket> pSocket = pWeak.lock();
            if (!pSocket || pSocket->m_closeQueued)
                return false;
            if (!message.empty())
                pSocket->Send(std::make_shared<const std::string>(message));
            return true;
        };
    }

    void Queue(COutgoing outgoing)
    {
        if (m_closeQueued)
            return;
        m_closeQueued = !outgoing.pText;
        if (m_queue.size() >= MaxQueuedMessages)
        {
            beast::get_lowest_layer(m_socket).close();
            return;
        }
        m_queue.push_back(std::move(outgoing));
        if (m_queue.size() == 1 && m_open)
            WriteNext();
    }

    void WriteNext()
    {
        if (m_queue.empty() || m_writing)
            return;
        m_writing = true;
        const COutgoing& next = m_queue.front();
        if (next.pText)
            m_socket.async_write(net::buffer(*next.pText),
                                 [self = shared_from_this()](beast::error_code error, std::size_t)
                                 { self->OnWritten(error); });
        else
        {
            // The frame is written at once; the rest of the close waits for the page's answer.
            m_closeSent = true;
            m_socket.async_close(websocket::close_reason(static_cast<std::uint16_t>(next.closeCode)),
                                 [self = shared_from_this()](beast::error_code error) { self->OnWritten(error); });
        }
    }

    void OnWritten(beast::error_code error)
    {
        m_writing = false;
        if (error)
            return;
        m_queue.pop_front();
        WriteNext();
    }

    websocket::stream<beast::tcp_stream> m_socket;
    beast::flat_buffer m_request;
    beast::flat_buffer m_input;
    CConnectionPlace m_place;
    std::shared_ptr<CLiveSockets::CSet> m_pSet;
    std::deque<COutgoing> m_queue;
    bool m_open = false;
    bool m_writing = false;
    bool m_closeQueued = false;
    bool m_closeSent = false;
    bool m_spoke = false;
};

// Writes one answer to an upgrade request that is refused, then ends the connection.
class CRefusal : public std::enable_shared_from_this<CRefusal>
{
public:
    CRefusal(CConnection&& connection, CHttpResponse response)
        : m_stream(std::move(connection.stream)), m_place(std::move(connection.place)), m_response(std::move(response))
    {
    }

    void Send()
    {
        m_stream.expires_after(std::chrono::seconds(5));
        WriteHead(m_response, m_head);
        const std::array<net::const_buffer, 2> buffers{net::buffer(m_head), net::buffer(m_response.body().text)};
        net::async_write(m_stream, buffers,
                         [self = shared_from_this()](beast::error_code, std::size_t)
                         {
                             beast::error_code ignored;
                             self->m_stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
                         });
    }

private:
    beast::tcp_stream m_stream;
    CConnectionPlace m_place;
    CHttpResponse m_response;
    std::string m_head;
};

} // namespace

CLiveSockets::CLiveSockets() : m_pSet(std::make_shared<CSet>()) {}

CLiveSockets::~CLiveSockets() = default;

void CLiveSockets::Open(CConnection&& connection, const std::string& greeting)
{
    const auto pSocket = std::make_shared<CLiveSocket>(std::move(connection), m_pSet);
    pSocket->Open();
    if (!greeting.empty())
        pSocket->Send(std::make_shared<const std::string>(greeting));
}

void CLiveSockets::Refuse(CConnection&& connection, CHttpResponse response)
{
    std::make_shared<CRefusal>(std::move(connection), std::move(response))->Send();
}

void CLiveSockets::SetMessageHandler(MessageHandler handler)
{
    m_pSet->onMessage = std::move(handler);
}

std::size_t CLiveSockets::Count() const
{
    return m_pSet->sockets.size();
}

std::size_t CLiveSockets::ClosesWaiting() const
{
    return static_cast<std::size_t>(std::count_if(m_pSet->sockets.begin(), m_pSet->sockets.end(),
                                                  [](const CLiveSocket* pSocket) { return pSocket->CloseWaits(); }));
}

void CLiveSockets::Broadcast(const std::string& message)
{
    const auto pMessage = std::make_shared<const std::string>(message);
    // A socket may end (and leave the set) while the message is queued.
    const std::vector<CLiveSocket*> sockets(m_pSet->sockets.begin(), m_pSet->sockets.end());
    for (CLiveSocket* pSocket : sockets)
        pSocket->Send(pMessage);
}

void CLiveSockets::SendOff()
{
    Broadcast("off");
    const std::vector<CLiveSocket*> sockets(m_pSet->sockets.begin(), m_pSet->sockets.end());
    for (CLiveSocket* pSocket : sockets)
        pSocket->Close(websocket::close_code::normal);
}

void CLiveSockets::CloseAll()
{
    const std::vector<CLiveSocket*> sockets(m_pSet->sockets.begin(), m_pSet->sockets.end());
    for (CLiveSocket* pSocket : sockets)
        pSocket->Close(websocket::close_code::going_away);
}

} // namespace Corvan
