#include "server/http/HttpSession.h"

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

// Large enough that a big file streams in few sends (256 KiB measured best on loopback), small
// enough that a 1 GiB download costs a quarter MiB. A connection holds one piece at a time.
constexpr std::size_t PieceSize = 256 * 1024;
constexpr std::size_t ReadSize = 4096;
// After an answer that ends the connection, what the client still sends (a body nobody reads) is
// read and dropped for this long, so that closing with unread bytes does not reset the connection
// before the client has read the answer.
constexpr std::chrono::seconds LingerTime{2};

class CHttpSession : public std::enable_shared_from_this<CHttpSession>
{
public:
    CHttpSession(net::ip::tcp::socket socket, CConnectionPlace place, const CRouteTable& routes)
        : m_connection{beast::tcp_stream(std::move(socket)), beast::flat_buffer(), std::move(place)}, m_routes(routes)
    {
    }
    CHttpSession(CConnection&& connection, const CRouteTable& routes)
        : m_connection(std::move(connection)), m_routes(routes),
          m_headDeadline(std::chrono::steady_clock::now() + routes.headTimeout)
    {
    }

    void ReadHead()
    {
        const std::string_view data = Data();
        const std::size_t headLength = RequestFraming::HeadLength(data);
        if (headLength > RequestFraming::MaxHeadSize || (headLength == 0 && data.size() > RequestFraming::MaxHeadSize))
            return Send(ClosingErrorResponse(431));
        if (headLength > 0)
            return Answer(headLength);
        if (data.empty())
            m_connection.stream.expires_after(m_routes.idleTimeout);
        else
            m_connection.stream.expires_at(m_headDeadline);
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
        if (m_connection.buffer.size() == 0 && count > 0)
            m_headDeadline = std::chrono::steady_clock::now() + m_routes.headTimeout;
        m_connection.buffer.commit(count);
        ReadHead();
    }

    void Answer(std::size_t headLength)
    {
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

        CRequest& request = m_request;
        request.ClearHeaders();
        for (const auto& field : message)
            request.AddHeader(field.name_string(), field.value());
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
        const std::string_view method = message.method_string();
        std::string_view target = message.target();
        std::optional<CHttpResponse> refusal = CheckHost(target, framing);
        const HttpRules::ETarget decoded = refusal ? HttpRules::ETarget::BadRequest : DecodeTarget(target);
        if (const CTakeOver takeOver = FindTakeOver(decoded))
            return takeOver(std::move(m_connection)); // the head stays for the feature
        if (!refusal)
            refusal = CheckMethod(method, target, carriesBody && upgrade);
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
    std::optional<CHttpResponse> CheckHost(std::string_view& target, int framing) const
    {
        const CRequest& request = m_request;
        if (framing)
            return ErrorResponse(request, framing);
        const char* pHost = request.Header("Host");
        if (!pHost || request.CountHeaders("Host") > 1)
            return ErrorResponse(request, 400);
        if (!HttpRules::IsLoopbackHost(pHost))
            return ErrorResponse(request, 403);
        static constexpr std::string_view Scheme = "http://";
        if (TextRules::StartsWithNoCase(target, Scheme))
        {
            const std::size_t pathAt = std::min(target.find_first_of("/?", Scheme.size()), target.size());
            const std::string host(target.substr(Scheme.size(), pathAt - Scheme.size()));
            if (!HttpRules::IsLoopbackHost(host.c_str()))
                return ErrorResponse(request, 403);
            target.remove_prefix(pathAt);
            if (target.empty() || target[0] == '?')
                return ErrorResponse(request, 400);
        }
        return std::nullopt;
    }

    std::optional<CHttpResponse> CheckMethod(std::string_view method, std::string_view target,
                                             bool bodyBeforeSocket) const
    {
        const CRequest& request = m_request;
        if (method == "OPTIONS" && target == "*") // a question about the server as a whole
            return ErrorResponse(request, 200, "Allow", "GET, HEAD");
        if (method != "GET" && method != "HEAD")
            return ErrorResponse(request, 405, "Allow", "GET, HEAD");
        if (bodyBeforeSocket)
            return ErrorResponse(request, 400); // a socket's frames would follow a body nobody reads
        return std::nullopt;
    }

    // Sets the request's target and query from the raw target.
    HttpRules::ETarget DecodeTarget(std::string_view target)
    {
        const std::size_t queryAt = target.find('?');
        m_request.query = queryAt == std::string_view::npos ? std::string() : std::string(target.substr(queryAt + 1));
        return HttpRules::DecodeTarget(std::string(target.substr(0, queryAt)).c_str(), m_request.target);
    }

    CTakeOver FindTakeOver(HttpRules::ETarget decoded) const
    {
        if (decoded != HttpRules::ETarget::Ok || !m_routes.takeOver || m_routes.Find(m_request.target))
            return nullptr;
        return m_routes.takeOver(m_request);
    }

    void Consume(std::size_t count) { m_connection.buffer.consume(count); }

    void Send(CHttpResponse response)
    {
        m_response.emplace(std::move(response));
        if (!m_response->KeepAlive())
            m_closeAfter = true;
        if (!m_response->Source())
        {
            const std::array<net::const_buffer, 2> buffers{net::buffer(m_response->Head()),
                                                           net::buffer(m_response->TextBody())};
            return Write(buffers);
        }
        m_offset = m_response->First();
        m_left = m_response->Length();
        m_pPiece.reset(new char[static_cast<std::size_t>(std::min<std::int64_t>(m_left, PieceSize))]);
        const std::size_t filled = FillPiece();
        const std::array<net::const_buffer, 2> buffers{net::buffer(m_response->Head()),
                                                       net::buffer(m_pPiece.get(), filled)};
        Write(buffers);
    }

    // Reads the next piece of the body; a source that ends early ends the connection after what
    // it gave, so the client holds an exact prefix.
    std::size_t FillPiece()
    {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(m_left, PieceSize));
        std::size_t filled = 0;
        while (filled < wanted)
        {
            const long long count = m_response->Source()->ReadAt(m_pPiece.get() + filled, wanted - filled, m_offset);
            if (count <= 0)
            {
                m_left = 0;
                m_closeAfter = true;
                return filled;
            }
            filled += static_cast<std::size_t>(count);
            m_offset += count;
        }
        m_left -= static_cast<std::int64_t>(filled);
        return filled;
    }

    template <class Buffers>
    void Write(const Buffers& buffers)
    {
        m_connection.stream.expires_after(m_routes.sendTimeout);
        net::async_write(m_connection.stream, buffers,
                         beast::bind_front_handler(&CHttpSession::OnWritten, shared_from_this()));
    }

    void OnWritten(beast::error_code error, std::size_t)
    {
        if (error)
            return; // a short write: the connection ends, the client holds an exact prefix
        if (m_left > 0)
        {
            const std::size_t filled = FillPiece();
            return Write(net::buffer(m_pPiece.get(), filled));
        }
        m_pPiece.reset();
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
    CRequest m_request;
    std::chrono::steady_clock::time_point m_headDeadline;
    std::optional<CHttpResponse> m_response;
    std::unique_ptr<char[]> m_pPiece;
    std::int64_t m_offset = 0;
    std::int64_t m_left = 0;
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
