#include "server/proxy/ProxyExchange.h"

#include "server/http/HttpResponse.h"
#include "server/http/HttpSession.h"
#include "server/http/RequestFraming.h"
#include "server/httprules/Escaping.h"
#include "server/httprules/Hosts.h"
#include "server/httprules/ProxyHeaders.h"
#include "server/httprules/TextRules.h"
#include "server/proxy/Proxy.h"

#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace Corvan
{

namespace
{

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// A piece of a body in either direction; a tunnel reads this much at a time.
constexpr std::size_t PieceSize = 64 * 1024;
// What the server's connection reads at first.
constexpr std::size_t HeadRoom = 16 * 1024;
// Servers' answers carry more cookies than requests: a head may be this large.
constexpr std::uint32_t MaxAnswerHeadSize = 64 * 1024;
// As for the HTTP session: what a client still sends after an answer that ends its connection is
// read and dropped this long, so that the close does not reset the connection before the answer
// was read.
constexpr std::chrono::seconds LingerTime{2};

// The values of every Connection header of a message, joined.
std::string ConnectionOptions(const http::fields& fields)
{
    std::string options;
    for (auto range = fields.equal_range(http::field::connection); range.first != range.second; ++range.first)
        options.append(range.first->value()).push_back(',');
    return options;
}

// Moves the headers that pass a proxy (ProxyHeaders.h) out of a parsed message, whose fields are
// left empty: each field is an allocation, so they are not copied. The start line's texts (method,
// target, reason) come along; the framing is the caller's to set.
void TakeEndToEnd(http::fields& from, http::fields& to, bool request)
{
    to = std::move(from);
    const std::string connection = ConnectionOptions(to);
    for (auto field = to.begin(); field != to.end();)
    {
        const std::string_view name = field->name_string();
        if (HttpRules::IsHopByHop(name, connection) || TextRules::EqualsNoCase(name, "Content-Length") ||
            (request && (HttpRules::IsSetByProxy(name) || TextRules::EqualsNoCase(name, "Expect"))))
            field = to.erase(field);
        else
            ++field;
    }
}

void AddVia(http::fields& fields, const std::string& entry)
{
    const std::string via(fields[http::field::via]);
    fields.set(http::field::via, via.empty() ? entry : via + ", " + entry);
}

std::string TextPage(int status, const char* pWhy)
{
    return std::to_string(status) + " " + std::string(http::obsolete_reason(http::int_to_status(status))) + "\n" +
           pWhy + "\n";
}

// For a server that could not be reached or answered badly: which rule sent the request where, and
// what went wrong.
std::string TroublePage(int status, const CProxyRoute& route, const std::string& why)
{
    const std::string title =
        std::to_string(status) + " " + std::string(http::obsolete_reason(http::int_to_status(status)));
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title><style>body{font-family:sans-serif;margin:2em}</style></head>\n<body><h1>" + title +
           "</h1>\n<p><code>_redirects</code> line " + std::to_string(route.line) + " passes <code>" +
           HttpRules::HtmlEscape(route.from) + "</code> on to <code>" + route.target.Origin() + "</code>, which " +
           HttpRules::HtmlEscape(why) +
           ".</p>\n<p>Start that server, or check its port, then reload.</p>\n"
           "</body></html>\n";
}

class CProxyExchange : public std::enable_shared_from_this<CProxyExchange>, public CLateAnswer
{
public:
    CProxyExchange(CProxy& proxy, CConnection&& client, std::shared_ptr<const CProxyRoute> pRoute, std::string target)
        : m_proxy(proxy), m_client(std::move(client)), m_pRoute(std::move(pRoute)), m_target(std::move(target)),
          m_viaEntry(proxy.ViaEntry())
    {
    }
    ~CProxyExchange()
    {
        if (Awaiting())
            m_proxy.AnswerDone(*this);
    }

    void Start()
    {
        beast::error_code error;
        m_request.header_limit(static_cast<std::uint32_t>(RequestFraming::MaxHeadSize));
        m_request.body_limit(boost::none);
        m_client.buffer.consume(m_request.put(m_client.buffer.data(), error));
        if (error || !m_request.is_header_done())
            return SendPage(400, TextPage(400, "The request could not be read."), "text/plain; charset=utf-8");
        http::request_header<>& request = m_request.get();
        m_upgrade = beast::websocket::is_upgrade(request);
        m_clientKeepAlive = m_request.keep_alive() && !m_client.place.Count().Scarce();
        if (const int status = Check(request))
            return SendPage(status, TextPage(status, Refusal(status)), "text/plain; charset=utf-8");
        BuildRequest(request);
        Connect();
    }

private:
    // What a proxied path refuses that other paths need not: what other websites' pages send (a
    // cross-site request; a method other than GET and HEAD, or a socket, from another origin), a
    // request that has been here before (a loop of rules), and a body it cannot pass on as it is.
    int Check(const http::request_header<>& request) const
    {
        const bool unsafe = (request.method() != http::verb::get && request.method() != http::verb::head) || m_upgrade;
        for (const auto& field : request)
        {
            const std::string_view name = field.name_string();
            const std::string_view value = field.value();
            if (TextRules::EqualsNoCase(name, "Via") &&
                HttpRules::ViaHolds(value, std::string_view(m_viaEntry).substr(4)))
                return 508;
            if ((TextRules::EqualsNoCase(name, "Sec-Fetch-Site") && TextRules::EqualsNoCase(value, "cross-site")) ||
                (TextRules::EqualsNoCase(name, "Origin") && unsafe &&
                 !HttpRules::IsLoopbackOrigin(value, m_proxy.Port())))
                return 403;
            if (TextRules::EqualsNoCase(name, "Transfer-Encoding") && !TextRules::EqualsNoCase(value, "chunked"))
                return 501;
        }
        return m_upgrade && !m_request.is_done() ? 400 : 0; // a socket's frames would follow a body
    }

    static const char* Refusal(int status)
    {
        switch (status)
        {
        case 403:
            return "Another website's page may not use this path: it is passed on to a server on this computer.";
        case 508:
            return "This request has passed this server before: the site's rules send it round in a loop.";
        case 501:
            return "Only the chunked transfer coding is passed on.";
        default:
            return "A socket's request cannot carry a body.";
        }
    }

    // Read what is needed of the request's head first: its fields move into the request passed on.
    void BuildRequest(http::request_header<>& request)
    {
        const http::verb method = request.method();
        m_idempotent = method == http::verb::get || method == http::verb::head || method == http::verb::options ||
                       method == http::verb::put || method == http::verb::delete_;
        const std::string unknownMethod(method == http::verb::unknown ? request.method_string() : beast::string_view());
        const std::string host(request[http::field::host]);
        const std::string upgrade(m_upgrade ? request[http::field::upgrade] : beast::string_view());
        const bool expectsContinue = TextRules::EqualsNoCase(request[http::field::expect], "100-continue");
        TakeEndToEnd(request, m_out, true);
        if (method == http::verb::unknown)
            m_out.method_string(unknownMethod);
        else
            m_out.method(method);
        m_out.target(m_target);
        m_out.version(11);
        const CProxyTarget& target = m_pRoute->target;
        m_out.set(http::field::host, target.port == 80 ? target.host : target.Key());
        if (m_client.peerAddress.empty())
        {
            beast::error_code error;
            m_client.peerAddress = m_client.stream.socket().remote_endpoint(error).address().to_string();
        }
        std::string client = m_client.peerAddress;
        m_out.set("X-Forwarded-For", client);
        m_out.set("X-Forwarded-Host", host);
        m_out.set("X-Forwarded-Proto", "http");
        if (client.find(':') != std::string::npos)
            client = "\"[" + client + "]\"";
        m_out.set(http::field::forwarded, "for=" + client + ";host=\"" + host + "\";proto=http");
        AddVia(m_out, m_viaEntry);
        if (m_upgrade)
        {
            m_out.set(http::field::upgrade, upgrade);
            m_out.set(http::field::connection, "Upgrade");
        }
        if (m_request.chunked())
            m_out.chunked(true);
        else if (m_request.content_length())
            m_out.content_length(*m_request.content_length());
        m_hasBody = !m_request.is_done();
        m_continue = m_hasBody && expectsContinue;
        m_out.body().more = m_hasBody;
    }

    void Connect()
    {
        if (std::unique_ptr<CBackend> pIdle =
                m_retried ? nullptr : m_proxy.TakeIdle(m_pRoute->target.Key(), m_idempotent && !m_hasBody))
        {
            m_backend = std::move(pIdle);
            m_reused = true;
            return SendHead();
        }
        std::optional<CConnectionPlace> place = m_client.place.Another();
        if (!place)
            return SendPage(503, TextPage(503, "Too many connections are open."), "text/plain; charset=utf-8");
        m_reused = false;
        m_backend.reset(new CBackend{beast::tcp_stream(m_client.stream.get_executor()), std::move(*place), {}, {}});
        m_endpoints = m_proxy.Endpoints(m_pRoute->target);
        m_backend->stream.expires_after(CProxy::ConnectTimeout);
        m_backend->stream.async_connect(m_endpoints,
                                        beast::bind_front_handler(&CProxyExchange::OnConnected, shared_from_this()));
    }

    void OnConnected(beast::error_code error, const tcp::endpoint& endpoint)
    {
        if (error == beast::error::timeout)
            return FailBackend(504, "did not take the connection within 5 seconds");
        if (error == net::error::connection_refused)
            return FailBackend(502, "refused the connection");
        if (error)
            return FailBackend(502, "could not be reached (" + error.message() + ")");
        m_backend->stream.expires_never();
        m_backend->stream.socket().set_option(tcp::no_delay(true), error);
        m_backend->stream.socket().non_blocking(true, error); // for the look before it is reused
        m_proxy.Connected(*m_pRoute, endpoint);
        SendHead();
    }

    void SendHead()
    {
        if (m_continue) // the client waits for this before it sends its body; the server is not asked
        {
            m_continue = false;
            static const char Continue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
            return net::async_write(m_client.stream, net::buffer(Continue, sizeof Continue - 1),
                                    [self = shared_from_this()](beast::error_code error, std::size_t)
                                    {
                                        if (error)
                                            return self->CloseBackend();
                                        self->SendHead();
                                    });
        }
        // A head alone, the common case, is written in one piece rather than by Beast's serializer,
        // which spends more than the write itself on a few hundred bytes.
        if (!m_hasBody)
        {
            WriteHead(m_out, m_head);
            return net::async_write(m_backend->stream, net::buffer(m_head),
                                    beast::bind_front_handler(&CProxyExchange::OnRequestSent, shared_from_this()));
        }
        m_outWriter.emplace(m_out);
        http::async_write_header(m_backend->stream, *m_outWriter,
                                 beast::bind_front_handler(&CProxyExchange::OnBodyWritten, shared_from_this()));
    }

    void ReadBody()
    {
        Reserve(m_client.buffer, m_request.content_length());
        auto& body = m_request.get().body();
        body.data = m_up.Get(m_request.content_length());
        body.size = m_up.size;
        http::async_read_some(m_client.stream.socket(), m_client.buffer, m_request,
                              beast::bind_front_handler(&CProxyExchange::OnBodyRead, shared_from_this()));
    }

    void OnBodyRead(beast::error_code error, std::size_t)
    {
        if (error == http::error::need_buffer)
            error = {};
        if (error) // the client left, or broke its body's framing: no answer can follow
            return CloseBackend();
        SetPiece(m_out.body(), m_up.data.get(), m_up.size - m_request.get().body().size, !m_request.is_done());
        http::async_write(m_backend->stream, *m_outWriter,
                          beast::bind_front_handler(&CProxyExchange::OnBodyWritten, shared_from_this()));
    }

    void OnBodyWritten(beast::error_code error, std::size_t)
    {
        if (error == http::error::need_buffer)
            error = {};
        if (error || m_outWriter->is_done())
            return OnRequestSent(error, 0);
        ReadBody();
    }

    void OnRequestSent(beast::error_code error, std::size_t)
    {
        // A server may answer before it has taken the whole body (413, say) and close: its answer
        // is still read.
        m_requestBroken = bool(error);
        if (!m_upgrade && m_request.is_done())
            m_proxy.AwaitAnswer(*this);
        ReadAnswerHead();
    }

    // While a late answer is awaited and relayed, a client that leaves ends the exchange, so that a
    // long poll holds no server connection for a page that is gone. Only waited for, not read:
    // what it sends meanwhile is its next request, left for the HTTP session.
    // A peek rather than a wait: each wait would re-arm the socket's epoll registration.
    void OnLate() override
    {
        if (m_watching)
            return;
        m_watching = true;
        m_client.stream.socket().async_receive(net::buffer(&m_peeked, 1), tcp::socket::message_peek,
                                               beast::bind_front_handler(&CProxyExchange::OnWatch, shared_from_this()));
    }

    void OnWatch(beast::error_code error, std::size_t count)
    {
        m_watching = false;
        if (error != net::error::operation_aborted && (error || count == 0))
        {
            m_clientGone = true; // it closed its end
            CloseBackend();
        }
        if (m_afterWatch)
            std::exchange(m_afterWatch, nullptr)();
    }

    void ReadAnswerHead()
    {
        // Room for a head and a small body at once: they come in one read and go out in one write.
        if (m_backend->buffer.capacity() < HeadRoom)
            m_backend->buffer.reserve(HeadRoom);
        m_response.emplace();
        m_response->header_limit(MaxAnswerHeadSize);
        m_response->body_limit(boost::none);
        m_response->skip(m_request.get().method() == http::verb::head);
        http::async_read_header(m_backend->stream, m_backend->buffer, *m_response,
                                beast::bind_front_handler(&CProxyExchange::OnAnswerHead, shared_from_this()));
    }

    void OnAnswerHead(beast::error_code error, std::size_t)
    {
        if (m_clientGone)
            return;
        if (error)
            return OnNoAnswer(error);
        const unsigned status = m_response->get().result_int();
        if (status == 101 && m_upgrade)
            return OpenTunnel();
        if (status == 101)
            return FailBackend(502, "switched protocols unasked");
        if (status / 100 == 1)
            return ReadAnswerHead(); // an interim answer (100, 103) is not passed on
        m_proxy.Report(*m_pRoute, std::string());
        BuildAnswer();
        const boost::optional<std::uint64_t> length = m_response->content_length();
        if (m_response->is_done())
            return WriteWholeAnswer(0);
        if (length && !m_response->chunked() && m_backend->buffer.size() >= *length)
            return WriteWholeAnswer(static_cast<std::size_t>(*length));
        m_answerWriter.emplace(m_answer);
        // The head goes with what came of the body; with nothing yet it goes at once, so that an
        // event stream's page learns it is open before the first event.
        if (m_backend->buffer.size() > 0)
            return RelayAnswer();
        m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
        http::async_write_header(m_client.stream, *m_answerWriter,
                                 beast::bind_front_handler(&CProxyExchange::OnAnswerWritten, shared_from_this()));
    }

    void OnNoAnswer(beast::error_code error)
    {
        // A kept connection the server closed just as it was reused: a request that may be sent
        // twice, with no body, is sent once more on a new one.
        if (m_reused && !m_retried && m_idempotent && !m_hasBody && m_backend->buffer.size() == 0)
        {
            m_retried = true;
            CloseBackend();
            return Connect();
        }
        const bool nothing = error == http::error::end_of_stream || error == net::error::connection_reset;
        FailBackend(502, nothing ? "closed the connection without an answer" : "sent an answer that is not valid HTTP");
    }

    void BuildAnswer()
    {
        http::response_header<>& in = m_response->get();
        const unsigned status = in.result_int();
        const bool bodiless = m_request.get().method() == http::verb::head || status == 204 || status == 304;
        // Such an answer's length tells what a GET would have had: it passes as it came.
        const bool hasLength = bodiless && in.count(http::field::content_length);
        const std::string length(hasLength ? in[http::field::content_length] : beast::string_view());
        m_answer.result(status);
        m_answer.version(m_request.get().version());
        TakeEndToEnd(in, m_answer, false);
        AddVia(m_answer, m_viaEntry);
        if (bodiless)
        {
            if (hasLength)
                m_answer.set(http::field::content_length, length);
        }
        else if (m_response->content_length())
            m_answer.content_length(*m_response->content_length());
        else if (m_answer.version() == 11)
            m_answer.chunked(true);
        else
            m_clientKeepAlive = false; // the end of the connection ends the body
        m_clientKeepAlive = m_clientKeepAlive && !m_requestBroken;
        m_answer.keep_alive(m_clientKeepAlive);
        m_answer.body().more = !m_response->is_done();
    }

    void RelayAnswer()
    {
        Reserve(m_backend->buffer, m_response->content_length());
        auto& body = m_response->get().body();
        body.data = m_down.Get(m_response->content_length());
        body.size = m_down.size;
        http::async_read_some(m_backend->stream, m_backend->buffer, *m_response,
                              beast::bind_front_handler(&CProxyExchange::OnAnswerRead, shared_from_this()));
    }

    void OnAnswerRead(beast::error_code error, std::size_t)
    {
        if (error == http::error::need_buffer)
            error = {};
        if (m_clientGone)
            return;
        if (error) // the server broke off: the client's connection ends too, so it knows its answer is short
        {
            m_proxy.Report(*m_pRoute, m_pRoute->target.Origin() + " broke off its answer");
            CloseBackend();
            return EndClient(false);
        }
        SetPiece(m_answer.body(), m_down.data.get(), m_down.size - m_response->get().body().size,
                 !m_response->is_done());
        WriteAnswer();
    }

    // An answer whose body came with its head (most do) goes out as it is, in one write.
    void WriteWholeAnswer(std::size_t bodySize)
    {
        WriteHead(m_answer, m_head);
        m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
        const std::array<net::const_buffer, 2> buffers{net::buffer(m_head),
                                                       net::buffer(m_backend->buffer.data(), bodySize)};
        net::async_write(m_client.stream, buffers,
                         [self = shared_from_this(), bodySize](beast::error_code error, std::size_t)
                         {
                             if (error)
                             {
                                 self->CloseBackend();
                                 return self->EndClient(false);
                             }
                             self->m_backend->buffer.consume(bodySize);
                             self->m_answerWhole = true;
                             self->Finish();
                         });
    }

    void WriteAnswer()
    {
        m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
        http::async_write(m_client.stream, *m_answerWriter,
                          beast::bind_front_handler(&CProxyExchange::OnAnswerWritten, shared_from_this()));
    }

    void OnAnswerWritten(beast::error_code error, std::size_t)
    {
        if (error == http::error::need_buffer)
            error = {};
        if (error) // the client left or stopped reading: it holds an exact prefix
        {
            CloseBackend();
            return EndClient(false);
        }
        if (!m_answerWriter->is_done())
            return RelayAnswer();
        Finish();
    }

    // The answer is out: the server's connection is kept if nothing of it is left over.
    void Finish()
    {
        if (m_backend->stream.socket().is_open() && m_response->keep_alive() &&
            (m_answerWhole || m_response->is_done()) && !m_requestBroken && m_backend->buffer.size() == 0)
        {
            m_proxy.GiveBack(m_pRoute->target.Key(), std::move(m_backend));
        }
        CloseBackend();
        EndClient(m_clientKeepAlive);
    }

    // A server that could not be reached or did not answer properly: the client gets a page that
    // says so (nothing has been sent to it yet), and so do open live pages; its connection ends.
    void FailBackend(int status, const std::string& why)
    {
        m_proxy.Report(*m_pRoute, m_pRoute->target.Origin() + " " + why);
        CloseBackend();
        m_clientKeepAlive = false;
        SendPage(status, TroublePage(status, *m_pRoute, why), "text/html; charset=utf-8");
    }

    void SendPage(int status, std::string page, const char* pContentType)
    {
        m_page = std::move(page);
        m_answer = {};
        m_answer.result(status);
        m_answer.version(m_request.is_header_done() ? m_request.get().version() : 11);
        m_answer.set(http::field::content_type, pContentType);
        m_answer.set(http::field::cache_control, "no-cache");
        m_answer.content_length(m_page.size());
        // A body left unread ends the connection, so nothing hidden in it is taken for a request.
        m_clientKeepAlive = m_clientKeepAlive && m_request.is_done();
        m_answer.keep_alive(m_clientKeepAlive);
        const bool head = m_request.is_header_done() && m_request.get().method() == http::verb::head;
        m_answer.body() = {m_page.data(), head ? 0 : m_page.size(), false};
        m_answerWriter.emplace(m_answer);
        m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
        http::async_write(m_client.stream, *m_answerWriter,
                          [self = shared_from_this()](beast::error_code error, std::size_t)
                          { self->EndClient(!error && self->m_clientKeepAlive); });
    }

    // After the 101: bytes both ways as they come, until both ends have closed their side.
    void OpenTunnel()
    {
        m_proxy.Report(*m_pRoute, std::string());
        http::response_header<>& in = m_response->get();
        const std::string upgrade(in[http::field::upgrade]);
        m_answer.result(http::status::switching_protocols);
        m_answer.version(11);
        TakeEndToEnd(in, m_answer, false);
        m_answer.reason(std::string_view()); // the status's own words, whatever the server said
        AddVia(m_answer, m_viaEntry);
        m_answer.set(http::field::upgrade, upgrade);
        m_answer.set(http::field::connection, "Upgrade");
        m_answerWriter.emplace(m_answer);
        m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
        http::async_write_header(m_client.stream, *m_answerWriter,
                                 [self = shared_from_this()](beast::error_code error, std::size_t)
                                 {
                                     if (error)
                                         return self->CloseTunnel();
                                     self->SendUp();
                                     self->SendDown();
                                 });
    }

    void SendUp()
    {
        if (m_client.buffer.size() == 0)
            return m_client.stream.socket().async_read_some(
                m_client.buffer.prepare(PieceSize),
                [self = shared_from_this()](beast::error_code error, std::size_t count)
                { self->OnTunnelRead(error, count, self->m_client.buffer, self->m_upEnded, true); });
        net::async_write(m_backend->stream, m_client.buffer.data(),
                         [self = shared_from_this()](beast::error_code error, std::size_t count)
                         { self->OnTunnelWritten(error, count, self->m_client.buffer, true); });
    }

    void SendDown()
    {
        if (m_backend->buffer.size() == 0)
            return m_backend->stream.socket().async_read_some(
                m_backend->buffer.prepare(PieceSize),
                [self = shared_from_this()](beast::error_code error, std::size_t count)
                { self->OnTunnelRead(error, count, self->m_backend->buffer, self->m_downEnded, false); });
        m_client.stream.expires_after(m_proxy.Routes().sendTimeout);
        net::async_write(m_client.stream, m_backend->buffer.data(),
                         [self = shared_from_this()](beast::error_code error, std::size_t count)
                         { self->OnTunnelWritten(error, count, self->m_backend->buffer, false); });
    }

    void OnTunnelRead(beast::error_code error, std::size_t count, beast::flat_buffer& buffer, bool& ended, bool up)
    {
        if (m_tunnelClosed)
            return;
        buffer.commit(count);
        if (error != net::error::eof)
            return error ? CloseTunnel() : (up ? SendUp() : SendDown());
        // One side is done sending: the other learns it, and may still answer.
        ended = true;
        beast::error_code ignored;
        (up ? m_backend->stream.socket() : m_client.stream.socket()).shutdown(tcp::socket::shutdown_send, ignored);
        if (m_upEnded && m_downEnded)
            CloseTunnel();
    }

    void OnTunnelWritten(beast::error_code error, std::size_t count, beast::flat_buffer& buffer, bool up)
    {
        if (m_tunnelClosed)
            return;
        if (error)
            return CloseTunnel();
        buffer.consume(count);
        up ? SendUp() : SendDown();
    }

    void CloseTunnel()
    {
        m_tunnelClosed = true;
        beast::error_code ignored;
        m_client.stream.socket().close(ignored);
        CloseBackend();
    }

    // Ends the server's connection; the stream itself stays until the exchange ends, since an
    // operation may still be pending on it.
    void CloseBackend()
    {
        beast::error_code ignored;
        if (m_backend)
            m_backend->stream.socket().close(ignored);
    }

    // Gives the connection back to the HTTP session for its next request, or ends it.
    void EndClient(bool keep)
    {
        m_proxy.AnswerDone(*this);
        if (m_watching) // the watch ends first: a connection has one reader
        {
            m_afterWatch = [self = shared_from_this(), keep] { self->EndClient(keep); };
            beast::error_code ignored;
            m_client.stream.socket().cancel(ignored);
            return;
        }
        if (m_clientGone)
            return;
        if (keep)
            return ResumeHttp(std::move(m_client), m_proxy.Routes());
        beast::error_code ignored;
        m_client.stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_client.stream.expires_after(LingerTime);
        Linger();
    }

    void Linger()
    {
        static std::array<char, 4096> dropped;
        m_client.stream.async_read_some(net::buffer(dropped),
                                        [self = shared_from_this()](beast::error_code error, std::size_t)
                                        {
                                            if (!error)
                                                self->Linger();
                                        });
    }

    // Reads of a body take what the buffer has room for: a large body is read in whole pieces.
    static void Reserve(beast::flat_buffer& buffer, const boost::optional<std::uint64_t>& length)
    {
        if (buffer.capacity() < PieceSize && (!length || *length > buffer.size()))
            buffer.reserve(PieceSize);
    }

    // An empty piece has no data: in a chunked body, a piece of length 0 would be the last chunk.
    static void SetPiece(http::buffer_body::value_type& body, char* pData, std::size_t size, bool more)
    {
        body = {size ? pData : nullptr, size, more};
    }

    // Where a body's pieces pass: PieceSize, or less for a body known to be smaller.
    struct CPiece
    {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;

        char* Get(const boost::optional<std::uint64_t>& length)
        {
            if (!data)
            {
                size = length && *length > 0 && *length < PieceSize ? static_cast<std::size_t>(*length) : PieceSize;
                data.reset(new char[size]);
            }
            return data.get();
        }
    };

    CProxy& m_proxy;
    CConnection m_client;
    std::shared_ptr<const CProxyRoute> m_pRoute;
    std::string m_target;
    const std::string& m_viaEntry;
    http::request_parser<http::buffer_body> m_request;
    http::request<http::buffer_body> m_out;
    std::optional<http::request_serializer<http::buffer_body>> m_outWriter;
    std::vector<tcp::endpoint> m_endpoints;
    std::unique_ptr<CBackend> m_backend;
    std::optional<http::response_parser<http::buffer_body>> m_response;
    http::response<http::buffer_body> m_answer;
    std::optional<http::response_serializer<http::buffer_body>> m_answerWriter;
    std::string m_page;
    std::string m_head;
    CPiece m_up;
    CPiece m_down;
    std::function<void()> m_afterWatch;
    char m_peeked = 0;
    bool m_upgrade = false;
    bool m_hasBody = false;
    bool m_continue = false;
    bool m_idempotent = false;
    bool m_clientKeepAlive = false;
    bool m_reused = false;
    bool m_retried = false;
    bool m_requestBroken = false;
    bool m_answerWhole = false; // written by WriteWholeAnswer
    bool m_watching = false;
    bool m_clientGone = false;
    bool m_upEnded = false;
    bool m_downEnded = false;
    bool m_tunnelClosed = false;
};

} // namespace

void StartExchange(CProxy& proxy, CConnection&& client, std::shared_ptr<const CProxyRoute> pRoute, std::string target)
{
    std::make_shared<CProxyExchange>(proxy, std::move(client), std::move(pRoute), std::move(target))->Start();
}

} // namespace Corvan
