#include "server/http/HttpResponse.h"

#include "server/httprules/HttpDates.h"
#include "server/httprules/TextRules.h"

#include <ctime>

namespace Corvan
{

namespace
{

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
    : m_isHead(request.isHead), m_keepAlive(request.keepAlive),
      m_message(static_cast<boost::beast::http::status>(status), 11)
{
    Add("Date", CurrentHttpDate());
    // Every answer is revalidated: the user edits these files while the page is open.
    Add("Cache-Control", "no-cache");
    if (!request.keepAlive)
        Add("Connection", "close");
    else if (!request.http11)
        Add("Connection", "keep-alive");
}

void CHttpResponse::SetBody(std::string body)
{
    if (!m_isHead)
        m_message.body().text = std::move(body);
}

void CHttpResponse::SetBody(std::unique_ptr<CBodySource> pSource, std::int64_t first, std::int64_t length)
{
    if (m_isHead || length <= 0)
        return;
    m_message.body().pSource = std::move(pSource);
    m_message.body().first = first;
    m_message.body().length = length;
}

CHttpResponse ErrorResponse(const CRequest& request, int status, const char* pExtraName, const std::string& extraValue)
{
    CHttpResponse response(request, status);
    std::string body = std::to_string(status) + " " + std::string(response.Message().reason()) + "\n";
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

void WriteHead(const CHttpMessage& message, std::string& head)
{
    head.clear();
    head += "HTTP/1.1 ";
    head += std::to_string(message.result_int());
    head += ' ';
    head += message.reason();
    head += "\r\n";
    for (const auto& field : message)
    {
        head += field.name_string();
        head += ": ";
        head += field.value();
        head += "\r\n";
    }
    head += "\r\n";
}

} // namespace Corvan
