#include "server/http/RequestFraming.h"

#include "server/http/Request.h"
#include "server/httprules/TextRules.h"

#include <algorithm>
#include <cstdint>

namespace Corvan
{
namespace RequestFraming
{

namespace
{

namespace http = boost::beast::http;

// Digits only, optionally followed by blanks; false for a sign, a list, or more than fits.
bool ParseLength(std::string_view text, std::int64_t& length)
{
    length = 0;
    std::size_t at = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    {
        if (length > (INT64_MAX - 9) / 10)
            return false;
        length = length * 10 + (text[at] - '0');
    }
    if (at == 0)
        return false;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    return at == text.size();
}

// The last coding of a Transfer-Encoding list.
std::string_view LastCoding(std::string_view list)
{
    const std::size_t comma = list.rfind(',');
    std::string_view last = comma == std::string_view::npos ? list : list.substr(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
        last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    return last;
}

} // namespace

std::size_t EmptyLinesBefore(std::string_view data)
{
    std::size_t at = 0;
    while (data.compare(at, 2, "\r\n") == 0)
        at += 2;
    return at;
}

std::size_t HeadLength(std::string_view data)
{
    for (std::size_t at = data.find('\n', EmptyLinesBefore(data)); at != std::string_view::npos;
         at = data.find('\n', at + 1))
    {
        if (at + 1 < data.size() && data[at + 1] == '\n')
            return at + 2;
        if (at + 2 < data.size() && data[at + 1] == '\r' && data[at + 2] == '\n')
            return at + 3;
    }
    return 0;
}

int CheckHead(std::string_view head)
{
    // A version this server does not speak, told apart from a malformed request line.
    const std::string_view requestLine = head.substr(0, head.find('\r'));
    const std::string_view version = requestLine.substr(std::min(requestLine.size(), requestLine.rfind(' ') + 1));
    if (version.size() == 8 && version.compare(0, 5, "HTTP/") == 0 && version[5] >= '0' && version[5] <= '9' &&
        version[6] == '.' && version[7] >= '0' && version[7] <= '9' && version != "HTTP/1.1" && version != "HTTP/1.0")
        return 505;
    int lines = -1; // the request line is no header line
    for (std::size_t begin = 0; begin < head.size();)
    {
        const std::size_t end = head.find('\n', begin);
        if (end == std::string_view::npos || end == begin || head[end - 1] != '\r')
            return 400;
        if (end == begin + 1)
            break; // the blank line
        if (head[begin] == ' ' || head[begin] == '\t')
            return 400; // a folded line continues the one before it
        if (head.substr(begin, end - 1 - begin).find('\r') != std::string_view::npos)
            return 400;
        if (++lines > MaxHeaderLines)
            return 431;
        begin = end + 1;
    }
    return 0;
}

int CheckBodyLength(const CRequest& request)
{
    const std::size_t lengths = request.CountHeaders(http::field::content_length);
    const std::size_t encodings = request.CountHeaders(http::field::transfer_encoding);
    std::int64_t length = 0;
    if (lengths > 1 ||
        (lengths == 1 && (encodings > 0 || !ParseLength(*request.Header(http::field::content_length), length))))
        return 400;
    if (encodings > 1 ||
        (encodings == 1 &&
         !TextRules::EqualsNoCase(LastCoding(*request.Header(http::field::transfer_encoding)), "chunked")))
        return 400;
    return 0;
}

bool CarriesBody(const CRequest& request)
{
    if (request.Header(http::field::transfer_encoding))
        return true;
    std::int64_t length = 0;
    const auto contentLength = request.Header(http::field::content_length);
    return contentLength && (!ParseLength(*contentLength, length) || length > 0);
}

} // namespace RequestFraming
} // namespace Corvan
