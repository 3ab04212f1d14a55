#include "server/RequestFraming.h"

#include <civetweb.h>

#include <cstdint>
#include <cstring>
#include <strings.h>

namespace Corvan
{
namespace RequestFraming
{

namespace
{

const char* LineEnd(const char* pText)
{
    return pText + std::strlen(pText);
}

// civetweb parses the head in place: each line it reads loses its "\r\n" (or bare "\n") to NULs,
// and the blank line that ends the head keeps its '\r' but loses its '\n'. It stops without a word
// at a line that starts with white space (an obsolete folded line) or once its header slots are
// full; the lines it did not read then still follow the last header it kept. The head holds no NUL
// of its own: civetweb refuses control characters in it.
bool StoppedEarly(const mg_request_info* pRequest)
{
    const int count = pRequest->num_headers;
    if (count <= 0)
        return false;
    const mg_header& last = pRequest->http_headers[count - 1];
    // Whether lines end in a bare "\n" shows in how the line before the last one ended.
    const char* pPreviousEnd =
        count > 1 ? LineEnd(pRequest->http_headers[count - 2].value) : LineEnd(pRequest->http_version);
    const bool bareNewlines = last.name - pPreviousEnd == 1;
    const char* pNext = LineEnd(last.value) + (bareNewlines ? 1 : 2);
    return !(pNext[0] == '\0' || (pNext[0] == '\r' && pNext[1] == '\0'));
}

// Digits only, optionally followed by blanks; false for a sign, a list, or more than fits.
bool ParseLength(const char* pText, std::int64_t& length)
{
    length = 0;
    const char* p = pText;
    for (; *p >= '0' && *p <= '9'; ++p)
    {
        if (length > (INT64_MAX - 9) / 10)
            return false;
        length = length * 10 + (*p - '0');
    }
    if (p == pText)
        return false;
    while (*p == ' ')
        ++p;
    return *p == '\0';
}

int CountHeaders(const mg_request_info* pRequest, const char* pName, const char** ppValue)
{
    int count = 0;
    for (int i = 0; i < pRequest->num_headers; ++i)
    {
        if (strcasecmp(pRequest->http_headers[i].name, pName) == 0)
        {
            *ppValue = pRequest->http_headers[i].value;
            ++count;
        }
    }
    return count;
}

} // namespace

int Check(const mg_request_info* pRequest)
{
    if (StoppedEarly(pRequest))
        return pRequest->num_headers == MG_MAX_HEADERS ? 431 : 400;
    const char* pLength = nullptr;
    const char* pEncoding = nullptr;
    const int lengths = CountHeaders(pRequest, "Content-Length", &pLength);
    if (lengths == 0)
        return 0;
    std::int64_t length = 0;
    if (lengths > 1 || CountHeaders(pRequest, "Transfer-Encoding", &pEncoding) > 0 || !ParseLength(pLength, length))
        return 400;
    return 0;
}

bool CarriesBody(const mg_request_info* pRequest)
{
    const char* pValue = nullptr;
    if (CountHeaders(pRequest, "Transfer-Encoding", &pValue) > 0)
        return true;
    std::int64_t length = 0;
    return CountHeaders(pRequest, "Content-Length", &pValue) > 0 && (!ParseLength(pValue, length) || length > 0);
}

} // namespace RequestFraming
} // namespace Corvan
