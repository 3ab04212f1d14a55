#include "server/http/HttpResponse.h"

#include "server/httprules/HttpDates.h"

#include <ctime>

namespace Corvan
{

namespace
{

namespace http = boost::beast::http;

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

void AppendField(std::string& head, std::string_view name, std::string_view value)
{
    head.append(name).append(": ").append(value).append("\r\n");
}

} // namespace

CHttpResponse NewResponse(const CRequest& request, int status)
{
    CHttpResponse response(static_cast<http::status>(status), 11);
    response.body().headOnly = request.isHead;
    response.set(http::field::date, CurrentHttpDate());
    // Every answer is revalidated: the user edits these files while the page is open.
    response.set(http::field::cache_control, "no-cache");
    if (!request.keepAlive)
        response.set(http::field::connection, "close");
    else if (!request.http11)
        response.set(http::field::connection, "keep-alive");
    return response;
}

void SetText(CHttpResponse& response, std::string text)
{
    response.content_length(text.size());
    if (!response.body().headOnly)
        response.body().text = std::move(text);
}

void SetFile(CHttpResponse& response, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile, std::int64_t first,
             std::int64_t length)
{
    response.content_length(static_cast<std::uint64_t>(length));
    if (response.body().headOnly || length <= 0)
        return;
    response.body().pFile = std::move(pFile);
    response.body().first = first;
    response.body().length = length;
}

void SetPage(CHttpResponse& response, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile, std::string tag,
             std::int64_t tagAt)
{
    const std::int64_t size = pFile->Info().size;
    response.content_length(static_cast<std::uint64_t>(size) + tag.size());
    if (response.body().headOnly)
        return;
    response.body().text = std::move(tag);
    response.body().textAt = tagAt;
    if (size > 0)
    {
        response.body().pFile = std::move(pFile);
        response.body().length = size;
    }
}

CHttpResponse ErrorResponse(const CRequest& request, int status, bool closing)
{
    CHttpResponse response = NewResponse(request, status);
    if (closing)
        response.set(http::field::connection, "close");
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    SetText(response, std::to_string(status) + " " + std::string(response.reason()) + "\n");
    return response;
}

void WriteHead(const CHttpResponse& response, std::string& head)
{
    head.clear();
    head.append("HTTP/1.1 ").append(std::to_string(response.result_int())).append(" ");
    head.append(response.reason()).append("\r\n");
    for (const auto& field : response)
        AppendField(head, field.name_string(), field.value());
    for (const auto& field : response.site)
        AppendField(head, field.first, field.second);
    head += "\r\n";
}

} // namespace Corvan
