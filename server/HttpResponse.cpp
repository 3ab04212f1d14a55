#include "server/HttpResponse.h"

#include "platform/ServerPlatform.h"

#include <civetweb.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>

namespace Corvan
{

namespace
{

// Large enough that a big file streams in few sends (256 KiB measured best on loopback), small
// enough that a 1 GiB download costs a quarter MiB of memory.
constexpr std::size_t ChunkSize = 256 * 1024;
// Head plus a small file in one send.
constexpr std::size_t SmallSize = 16 * 1024;

const char* ReasonPhrase(int status)
{
    switch (status)
    {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 416:
        return "Range Not Satisfiable";
    case 503:
        return "Service Unavailable";
    default:
        return status >= 500 ? "Internal Server Error" : "Error";
    }
}

// The Date header changes once a second; formatting it once per second per thread is enough.
const char* CurrentHttpDate()
{
    thread_local std::int64_t cachedSecond = -1;
    thread_local char cachedText[HttpRules::HttpDateSize];
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (now != cachedSecond)
    {
        HttpRules::FormatHttpDate(now, cachedText);
        cachedSecond = now;
    }
    return cachedText;
}

bool HasToken(const char* pList, const char* pToken)
{
    const std::size_t tokenLength = std::strlen(pToken);
    const char* p = pList;
    while (*p)
    {
        while (*p == ' ' || *p == '\t' || *p == ',')
            ++p;
        const char* pBegin = p;
        while (*p && *p != ',' && *p != ' ' && *p != '\t')
            ++p;
        if (static_cast<std::size_t>(p - pBegin) == tokenLength && strncasecmp(pBegin, pToken, tokenLength) == 0)
            return true;
    }
    return false;
}

bool IsHttp11(const mg_connection* pConnection)
{
    const char* pVersion = mg_get_request_info(pConnection)->http_version;
    return pVersion && std::strcmp(pVersion, "1.1") == 0;
}

} // namespace

bool ClientKeepsAlive(const mg_connection* pConnection)
{
    const char* pHeader = mg_get_header(pConnection, "Connection");
    if (pHeader)
        return HasToken(pHeader, "keep-alive");
    return IsHttp11(pConnection);
}

CHttpResponse::CHttpResponse(const CRequest& request, int status)
    : m_pConnection(request.pConnection), m_isHead(request.isHead)
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
    else if (!IsHttp11(m_pConnection))
        Add("Connection", "keep-alive");
}

void CHttpResponse::Add(const char* pName, const char* pValue)
{
    m_head += pName;
    m_head += ": ";
    m_head += pValue;
    m_head += "\r\n";
}

void CHttpResponse::Send(const std::string& body)
{
    m_head += "\r\n";
    if (!m_isHead)
        m_head += body;
    mg_write(m_pConnection, m_head.data(), m_head.size());
}

void CHttpResponse::Send(const ServerPlatform::CReadOnlyFile& file, std::int64_t first, std::int64_t length)
{
    Send([&file](char* pBuffer, std::size_t size, std::int64_t offset) { return file.ReadAt(pBuffer, size, offset); },
         first, length);
}

void CHttpResponse::Send(const Reader& read, std::int64_t first, std::int64_t length)
{
    m_head += "\r\n";
    if (m_isHead || length == 0)
    {
        mg_write(m_pConnection, m_head.data(), m_head.size());
        return;
    }
    // Small answers go out in one send from the stack; large ones stream through a heap chunk
    // that is returned to the system when the answer is done.
    const std::size_t total = m_head.size() + static_cast<std::size_t>(std::min<std::int64_t>(length, ChunkSize));
    if (total <= SmallSize)
    {
        char smallBuffer[SmallSize];
        StreamFile(read, first, length, smallBuffer, SmallSize);
        return;
    }
    std::unique_ptr<char[]> pLarge(new char[ChunkSize]);
    StreamFile(read, first, length, pLarge.get(), ChunkSize);
}

bool CHttpResponse::StreamFile(const Reader& read, std::int64_t first, std::int64_t length, char* pBuffer,
                               std::size_t capacity)
{
    std::size_t filled = 0;
    if (m_head.size() < capacity / 2)
    {
        std::memcpy(pBuffer, m_head.data(), m_head.size());
        filled = m_head.size();
    }
    else if (mg_write(m_pConnection, m_head.data(), m_head.size()) <= 0)
    {
        return false;
    }
    std::int64_t offset = first;
    std::int64_t remaining = length;
    while (remaining > 0)
    {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::int64_t>(remaining, static_cast<std::int64_t>(capacity - filled)));
        const long long count = read(pBuffer + filled, wanted, offset);
        if (count <= 0)
        {
            // The file shrank while we sent it: the promised length cannot be kept, so the
            // connection must end for the client to notice.
            if (filled > 0)
                mg_write(m_pConnection, pBuffer, filled);
            mg_disable_keep_alive(m_pConnection);
            return false;
        }
        offset += count;
        remaining -= count;
        filled += static_cast<std::size_t>(count);
        if (filled == capacity || remaining == 0)
        {
            if (mg_write(m_pConnection, pBuffer, filled) <= 0)
                return false;
            filled = 0;
        }
    }
    return true;
}

int SendError(const CRequest& request, int status, const char* pExtraName, const std::string& extraValue)
{
    CHttpResponse response(request, status);
    const std::string body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
    response.Add("Content-Type", "text/plain; charset=utf-8");
    response.Add("Content-Length", static_cast<std::int64_t>(body.size()));
    if (pExtraName)
        response.Add(pExtraName, extraValue);
    response.Send(body);
    return status;
}

} // namespace Corvan
