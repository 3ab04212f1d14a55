#include "server/http/HttpResponse.h"

#include "server/httprules/HttpDates.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <initializer_list>

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

namespace
{

// A head in one pass: measured first, then copied, so that a site's thousands of headers cost one
// allocation at most. `start` is the start line without its line end; `site` fields follow Beast's.
void PutHead(std::initializer_list<std::string_view> start, const http::fields& fields,
             const std::vector<std::pair<std::string, std::string>>& site, std::string& head)
{
    std::size_t size = 2 + 2;
    for (const std::string_view piece : start)
        size += piece.size();
    for (const auto& field : fields)
        size += field.name_string().size() + 2 + field.value().size() + 2;
    for (const auto& field : site)
        size += field.first.size() + 2 + field.second.size() + 2;
    head.resize(size);
    char* pAt = head.data();
    const auto put = [&pAt](std::string_view text) { pAt = std::copy(text.begin(), text.end(), pAt); };
    const auto putField = [&put](std::string_view name, std::string_view value)
    {
        put(name);
        put(": ");
        put(value);
        put("\r\n");
    };
    for (const std::string_view piece : start)
        put(piece);
    put("\r\n");
    for (const auto& field : fields)
        putField(field.name_string(), field.value());
    for (const auto& field : site)
        putField(field.first, field.second);
    put("\r\n");
}

const std::vector<std::pair<std::string, std::string>> NoSiteFields;

// "HTTP/1.1" for 11.
std::array<char, 8> VersionText(unsigned version)
{
    return {'H', 'T', 'T', 'P', '/', char('0' + version / 10 % 10), '.', char('0' + version % 10)};
}

} // namespace

void WriteHead(const CHttpResponse& response, std::string& head)
{
    const std::string status = std::to_string(response.result_int());
    PutHead({"HTTP/1.1 ", status, " ", response.reason()}, response, response.site, head);
}

void WriteHead(const http::request_header<>& request, std::string& head)
{
    const std::array<char, 8> version = VersionText(request.version());
    PutHead({request.method_string(), " ", request.target(), " ", {version.data(), version.size()}}, request,
            NoSiteFields, head);
}

void WriteHead(const http::response_header<>& response, std::string& head)
{
    const std::array<char, 8> version = VersionText(response.version());
    const std::string status = std::to_string(response.result_int());
    PutHead({{version.data(), version.size()}, " ", status, " ", response.reason()}, response, NoSiteFields, head);
}

} // namespace Corvan
