#include "server/http/HttpSession.h"

#include "platform/FileSend.h"
#include "server/http/HttpResponse.h"
#include "server/http/RequestFraming.h"
#include "server/http/Routes.h"
#include "server/httprules/Hosts.h"
#include "server/httprules/Target.h"
#include "server/httprules/TextRules.h"

#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace Corvan
{

namespace
{

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

constexpr std::size_t ReadSize = 4096;

// After an answer that ends the connection, what the client still sends (a body nobody reads) is
// read and dropped for this long, so that closing with unread bytes does not reset the connection
// before the client has read the answer.
constexpr std::chrono::seconds LingerTime{2};

// The answer to a head that could not be read: nothing is known of the request, and the connection
// ends after it.
CHttpResponse ClosingErrorResponse(int status)
{
    return ErrorResponse(CRequest(), status, true);
}

class CHttpSession : public std::enable_shared_from_this<CHttpSession>
{
public:
    CHttpSession(net::ip::tcp::socket socket, CConnectionPlace place, const CRouteTable& routes)
        : m_connection{beast::tcp_stream(std::move(socket)), beast::flat_buffer(), std::move(place), std::string()},
          m_routes(routes)
    {
    }
    // A connection given back with the start of its next request, if any, already read: that
    // head's time runs from here.
    CHttpSession(CConnection&& connection, const CRouteTable& routes)
        : m_connection(std::move(connection)), m_routes(routes)
    {
        if (m_connection.buffer.size() > 0)
            m_headDeadline = std::chrono::steady_clock::now() + routes.headTimeout;
    }

    void ReadHead()
    {
        const std::string_view data = Data();
        const std::size_t headLength = RequestFraming::HeadLength(data);
        if (headLength > 0 || data.size() > RequestFraming::MaxHeadSize)
        {
            // This request is under way: its place is kept, and the next head's time starts when
            // the server waits for it, not when its first bytes came in behind this one.
            m_connection.place.Keep();
            m_headDeadline.reset();
        }
        if (headLength > RequestFraming::MaxHeadSize || (headLength == 0 && data.size() > RequestFraming::MaxHeadSize))
            return Send(ClosingErrorResponse(431));
        if (headLength > 0)
            return Answer(headLength);
        if (data.empty())
            m_connection.stream.expires_after(m_routes.idleTimeout);
        else
        {
            if (!m_headDeadline)
                m_headDeadline = std::chrono::steady_clock::now() + m_routes.headTimeout;
            m_connection.stream.expires_at(*m_headDeadline);
        }
        m_connection.place.WaitForRequest(m_connection.stream);
        m_connection.stream.async_read_some(m_connection.buffer.prepare(ReadSize),
                                            beast::bind_front_handler(&CHttpSession::OnRead, shared_from_this()));
    }

private:
    std::string_view Data() const
    {
        const auto data = m_connection.buffer.cdata();
        return std::string_view(static_cast<const char*>(data.data()), data.size());
    }

    void OnRead(beast::error_code error, std::size_t count)
    {
        if (error)
            return; // the client left, or took too long: the connection ends with this session
        m_connection.buffer.commit(count);
        ReadHead();
    }

    void Answer(std::size_t headLength)
    {
        const std::size_t emptyLines = RequestFraming::EmptyLinesBefore(Data());
        Consume(emptyLines);
        headLength -= emptyLines;
        const std::string_view head = Data().substr(0, headLength);
        if (const int status = RequestFraming::CheckHead(head))
            return Send(ClosingErrorResponse(status));
        http::request_parser<http::empty_body> parser;
        parser.header_limit(static_cast<std::uint32_t>(RequestFraming::MaxHeadSize));
        parser.eager(false);
        parser.body_limit(boost::none); // a body's length is checked by whoever reads it
        beast::error_code error;
        parser.put(net::buffer(head.data(), head.size()), error);
        if (error || !parser.is_header_done())
            return Send(ClosingErrorResponse(400));
        const http::request<http::empty_body>& message = parser.get();
        if (message.version() != 11 && message.version() != 10)
            return Send(ClosingErrorResponse(505));
        // The parsed head stays here while the route answers: the request reads its fields in place.
        Route(message, headLength);
    }

    void Route(const http::request<http::empty_body>& message, std::size_t headLength)
    {
        CRequest request(message);
        request.isHead = message.method() == http::verb::head;
        request.http11 = message.version() == 11;
        request.keepAlive = message.keep_alive();
        const int framing = RequestFraming::CheckBodyLength(request);
        // Only GET and HEAD are served, and neither needs a body: one is never read. Closing after
        // the answer is what keeps a body (and anything hidden in it) from being taken for the next
        // request.
        const bool carriesBody = RequestFraming::CarriesBody(request);
        if (framing || carriesBody || m_connection.place.Count().Scarce())
            request.keepAlive = false;
        const bool upgrade = beast::websocket::is_upgrade(message);
        std::string_view target = message.target();
        std::optional<CHttpResponse> refusal = CheckHost(request, target, framing);
        const HttpRules::ETarget decoded = refusal ? HttpRules::ETarget::BadRequest : DecodeTarget(target, request);
        if (const CTakeOver takeOver = FindTakeOver(request, decoded))
            return takeOver(std::move(m_connection)); // the head stays for the feature
        if (!refusal)
            refusal = CheckMethod(request, message.method_string(), target, carriesBody && upgrade);
        if (refusal)
            return Consume(headLength), Send(std::move(*refusal));

        switch (decoded)
        {
        case HttpRules::ETarget::BadRequest:
            return Consume(headLength), Send(ErrorResponse(request, 400));
        case HttpRules::ETarget::Hidden:
            return Consume(headLength), Send(m_routes.hidden ? m_routes.hidden(request) : ErrorResponse(request, 404));
        case HttpRules::ETarget::Ok:
            break;
        }
        const CRoute* pRoute = m_routes.Find(request.target);
        if (pRoute && pRoute->upgrade && upgrade)
            return pRoute->upgrade(request, std::move(m_connection)); // the head stays for the socket
        Consume(headLength);
        Send(pRoute ? pRoute->answer(request) : m_routes.fallback(request));
    }

    // What every request needs before its route's owner sees it: a head framed beyond doubt, a
    // loopback Host, and a target in origin form (or absolute form naming this server), which it
    // reduces to its path; then (CheckMethod) GET or HEAD. An answer when the request goes no further.
    static std::optional<CHttpResponse> CheckHost(const CRequest& request, std::string_view& target, int framing)
    {
        if (framing)
            return ErrorResponse(request, framing);
        const auto host = request.Header(http::field::host);
        if (!host || request.CountHeaders(http::field::host) > 1)
            return ErrorResponse(request, 400);
        if (!HttpRules::IsLoopbackHost(std::string(*host).c_str()))
            return ErrorResponse(request, 403);
        static constexpr std::string_view Scheme = "http://";
        if (TextRules::StartsWithNoCase(target, Scheme))
        {
            const std::size_t pathAt = std::min(target.find_first_of("/?", Scheme.size()), target.size());
            if (!HttpRules::IsLoopbackOrigin(target.substr(0, pathAt)))
                return ErrorResponse(request, 403);
            target.remove_prefix(pathAt);
            if (target.empty() || target[0] == '?')
                return ErrorResponse(request, 400);
        }
        return std::nullopt;
    }

    static std::optional<CHttpResponse> CheckMethod(const CRequest& request, std::string_view method,
                                                    std::string_view target, bool bodyBeforeSocket)
    {
        if (method == "OPTIONS" && target == "*") // a question about the server as a whole
            return Allowed(request, 200);
        if (method != "GET" && method != "HEAD")
            return Allowed(request, 405);
        if (bodyBeforeSocket)
            return ErrorResponse(request, 400); // a socket's frames would follow a body nobody reads
        return std::nullopt;
    }

    // An answer that names the methods served.
    static CHttpResponse Allowed(const CRequest& request, int status)
    {
        CHttpResponse response = ErrorResponse(request, status);
        response.set(http::field::allow, "GET, HEAD");
        return response;
    }

    // Sets the request's target and query from the raw target.
    static HttpRules::ETarget DecodeTarget(std::string_view target, CRequest& request)
    {
        const std::size_t queryAt = target.find('?');
        request.query = queryAt == std::string_view::npos ? std::string() : std::string(target.substr(queryAt + 1));
        return HttpRules::DecodeTarget(std::string(target.substr(0, queryAt)).c_str(), request.target);
    }

    CTakeOver FindTakeOver(const CRequest& request, HttpRules::ETarget decoded) const
    {
        if (decoded != HttpRules::ETarget::Ok || !m_routes.takeOver || m_routes.Find(request.target))
            return nullptr;
        return m_routes.takeOver(request);
    }

    void Consume(std::size_t count) { m_connection.buffer.consume(count); }

    void Send(CHttpResponse response)
    {
        m_response.emplace(std::move(response));
        if (!m_response->keep_alive())
            m_closeAfter = true;
        WriteHead(*m_response, m_head);
        m_position = 0;
        SendBody(m_head);
    }

    // The body from m_position on, after `before` (the head, while it has not gone out): text is
    // written, a file's bytes are handed to the system. Each step waits at most the send timeout
    // for the client to take more.
    void SendBody(std::string_view before)
    {
        const CAnswerBody::value_type& body = m_response->body();
        const std::int64_t textLength = static_cast<std::int64_t>(body.text.size());
        const std::int64_t size = (body.pFile ? body.length : 0) + textLength;
        if (m_position >= size && before.empty())
            return Done();
        const bool inText = m_position >= body.textAt && m_position < body.textAt + textLength;
        if (inText || m_position >= size) // the text, or a head alone
        {
            const std::string_view text =
                inText ? std::string_view(body.text).substr(m_position - body.textAt) : std::string_view();
            m_position = std::max(m_position, body.textAt + textLength);
            m_connection.stream.expires_after(m_routes.sendTimeout);
            const std::array<net::const_buffer, 2> buffers{net::buffer(before.data(), before.size()),
                                                           net::buffer(text.data(), text.size())};
            return net::async_write(m_connection.stream, buffers,
                                    beast::bind_front_handler(&CHttpSession::OnWritten, shared_from_this()));
        }
        const bool beforeText = m_position < body.textAt;
        const std::int64_t end = beforeText ? body.textAt : size;
        const std::int64_t offset = body.first + m_position - (beforeText ? 0 : textLength);
        const std::int64_t length = end - m_position;
        m_position = end;
        FileSend::AsyncSend(m_connection.stream.socket(), before, *body.pFile, offset, length, m_routes.sendTimeout,
                            [self = shared_from_this()](const beast::error_code& error) { self->OnFileSent(error); });
    }

    void OnWritten(beast::error_code error, std::size_t)
    {
        if (error)
            return; // a short write: the connection ends, the client holds an exact prefix
        SendBody({});
    }

    void OnFileSent(const beast::error_code& error)
    {
        if (!error)
            return SendBody({});
        if (error != net::error::eof)
            return; // the client left or took nothing for too long: the connection ends
        // A file cut short while it was sent: the connection ends after what it gave, so the client
        // holds an exact prefix and sees that it is short.
        m_closeAfter = true;
        Done();
    }

    void Done()
    {
        m_response.reset();
        if (!m_closeAfter)
            return ReadHead();
        beast::error_code ignored;
        m_connection.stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
        m_connection.stream.expires_after(LingerTime);
        Linger();
    }

    void Linger()
    {
        static std::array<char, ReadSize> dropped;
        m_connection.stream.async_read_some(net::buffer(dropped),
                                            [self = shared_from_this()](beast::error_code error, std::size_t)
                                            {
                                                if (!error)
                                                    self->Linger();
                                            });
    }

    CConnection m_connection;
    const CRouteTable& m_routes;
    std::optional<std::chrono::steady_clock::time_point> m_headDeadline;
    std::optional<CHttpResponse> m_response;
    std::string m_head;
    std::int64_t m_position = 0; // in the body
    bool m_closeAfter = false;
};

} // namespace

void ServeHttp(boost::asio::ip::tcp::socket socket, CConnectionPlace place, const CRouteTable& routes)
{
    std::make_shared<CHttpSession>(std::move(socket), std::move(place), routes)->ReadHead();
}

void ResumeHttp(CConnection&& connection, const CRouteTable& routes)
{
    std::make_shared<CHttpSession>(std::move(connection), routes)->ReadHead();
}

} // namespace Corvan
