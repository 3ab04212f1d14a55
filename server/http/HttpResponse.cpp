#include "server/http/HttpResponse.h"

#include "server/httprules/HttpDates.h"
#include "server/httprules/TextRules.h"

#include <ctime>

namespace Corvan
{

namespace
{

const char* ReasonPhrase(int status)
{
    switch (status)
    {
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return status >= 500 ? "Server Error" : "Client Error";
    }
}

// The Date header changes once a second; the server answers on one thread.
const char* CurrentHttpDate()
{
    static std::int64_t cachedSecond = -1;
    static char cachedText[HttpRules::HttpDateSize];
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (now != cachedSecond)
    {
        HttpRules::FormatHttpDate(now, cachedText);
        cachedSecond = now;
    }
    return cachedText;
}

} // namespace

CHttpResponse::CHttpResponse(const CRequest& request, int status)
    : m_status(status), m_isHead(request.isHead), m_keepAlive(request.keepAlive)
{
    m_head.reserve(512);
    m_head += "HTTP/1.1 ";
    m_head += std::to_string(status);
    m_head += ' ';
    m_head += ReasonPhrase(status);
    m_head += "\r\n";
    Add("Date", CurrentHttpDate());
    // Every answer is revalidated: the user edits these files while the page is open.
    Add("Cache-Control", "no-cache");
    if (!request.keepAlive)
        Add("Connection", "close");
    else if (!request.http11)
        Add("Connection", "keep-alive");
}

void CHttpResponse::Add(const char* pName, const char* pValue)
{
    m_head += pName;
    m_head += ": ";
    m_head += pValue;
    m_head += "\r\n";
}

void CHttpResponse::Set(std::string_view name, std::string_view value)
{
    const bool ended = m_head.size() >= 4 && m_head.compare(m_head.size() - 4, 4, "\r\n\r\n") == 0;
    if (ended)
        m_head.resize(m_head.size() - 2);
    std::size_t at = m_head.find("\r\n") + 2; // past the status line
    while (at < m_head.size())
    {
        const std::size_t next = m_head.find("\r\n", at) + 2;
        const std::string_view line(m_head.data() + at, next - at);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            TextRules::EqualsNoCase(line.substr(0, name.size()), name))
            m_head.erase(at, next - at);
        else
            at = next;
    }
    m_head.append(name).append(": ").append(value).append("\r\n");
    if (ended)
        m_head += "\r\n";
}

void CHttpResponse::SetBody(std::string body)
{
    m_head += "\r\n";
    if (!m_isHead)
        m_text = std::move(body);
}

void CHttpResponse::SetBody(std::unique_ptr<CBodySource> pSource, std::int64_t first, std::int64_t length)
{
    m_head += "\r\n";
    if (m_isHead || length <= 0)
        return;
    m_pSource = std::move(pSource);
    m_first = first;
    m_length = length;
}

CHttpResponse ErrorResponse(const CRequest& request, int status, const char* pExtraName, const std::string& extraValue)
{
    CHttpResponse response(request, status);
    std::string body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
    response.Add("Content-Type", "text/plain; charset=utf-8");
    response.Add("Content-Length", static_cast<std::int64_t>(body.size()));
    if (pExtraName)
        response.Add(pExtraName, extraValue);
    response.SetBody(std::move(body));
    return response;
}

CHttpResponse ClosingErrorResponse(int status)
{
    CRequest request;
    request.keepAlive = false;
    return ErrorResponse(request, status);
}

} // namespace Corvan
