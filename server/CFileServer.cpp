#include "server/CFileServer.h"

#include "server/HtmlInjection.h"
#include "server/HttpRules.h"
#include "server/LiveReload.h"
#include "platform/ServerPlatform.h"

#include <civetweb.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

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

// The same rule civetweb applies after the response, so that what we announce is what happens.
bool ClientKeepsAlive(const mg_connection* pConnection, const mg_request_info* pRequest)
{
    const char* pHeader = mg_get_header(pConnection, "Connection");
    if (pHeader)
        return HasToken(pHeader, "keep-alive");
    return pRequest->http_version && std::strcmp(pRequest->http_version, "1.1") == 0;
}

// One response: the head is collected here and goes out in the same send as the start of the body.
class CResponse
{
public:
    CResponse(mg_connection* pConnection, bool isHead, bool keepAlive, int status)
        : m_pConnection(pConnection), m_isHead(isHead)
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
        if (!keepAlive)
            Add("Connection", "close");
        else if (!mg_get_request_info(pConnection)->http_version ||
                 std::strcmp(mg_get_request_info(pConnection)->http_version, "1.1") != 0)
            Add("Connection", "keep-alive");
    }

    void Add(const char* pName, const std::string& value) { Add(pName, value.c_str()); }
    void Add(const char* pName, const char* pValue)
    {
        m_head += pName;
        m_head += ": ";
        m_head += pValue;
        m_head += "\r\n";
    }
    void Add(const char* pName, std::int64_t value) { Add(pName, std::to_string(value)); }

    // Sends the head and, unless this answers HEAD, `body`.
    void Send(const std::string& body)
    {
        m_head += "\r\n";
        if (!m_isHead)
            m_head += body;
        mg_write(m_pConnection, m_head.data(), m_head.size());
    }

    // Sends the head and `length` bytes of `file` from `first`, in as few sends as the chunk allows.
    void Send(const ServerPlatform::CReadOnlyFile& file, std::int64_t first, std::int64_t length)
    {
        m_head += "\r\n";
        if (m_isHead || length == 0)
        {
            mg_write(m_pConnection, m_head.data(), m_head.size());
            return;
        }
        // Small answers go out in one send from the stack; large ones stream through a heap chunk
        // that is returned to the system when the answer is done.
        char smallBuffer[SmallSize];
        std::unique_ptr<char[]> pLarge;
        const std::size_t total = m_head.size() + static_cast<std::size_t>(std::min<std::int64_t>(length, ChunkSize));
        std::size_t capacity = SmallSize;
        char* pBuffer = smallBuffer;
        if (total > SmallSize)
        {
            capacity = ChunkSize;
            pLarge.reset(new char[capacity]);
            pBuffer = pLarge.get();
        }
        std::size_t filled = 0;
        if (m_head.size() < capacity / 2)
        {
            std::memcpy(pBuffer, m_head.data(), m_head.size());
            filled = m_head.size();
        }
        else if (mg_write(m_pConnection, m_head.data(), m_head.size()) <= 0)
        {
            return;
        }
        std::int64_t offset = first;
        std::int64_t remaining = length;
        while (remaining > 0)
        {
            const std::size_t wanted = static_cast<std::size_t>(
                std::min<std::int64_t>(remaining, static_cast<std::int64_t>(capacity - filled)));
            const long long count = file.ReadAt(pBuffer + filled, wanted, offset);
            if (count <= 0)
            {
                // The file shrank while we sent it: the promised length cannot be kept, so the
                // connection must end for the client to notice.
                if (filled > 0)
                    mg_write(m_pConnection, pBuffer, filled);
                mg_disable_keep_alive(m_pConnection);
                return;
            }
            offset += count;
            remaining -= count;
            filled += static_cast<std::size_t>(count);
            if (filled == capacity || remaining == 0)
            {
                if (mg_write(m_pConnection, pBuffer, filled) <= 0)
                    return;
                filled = 0;
            }
        }
    }

private:
    mg_connection* m_pConnection;
    bool m_isHead;
    std::string m_head;
};

int SendError(mg_connection* pConnection, bool isHead, bool keepAlive, int status, const char* pExtraName = nullptr,
              const std::string& extraValue = std::string())
{
    CResponse response(pConnection, isHead, keepAlive, status);
    const std::string body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
    response.Add("Content-Type", "text/plain; charset=utf-8");
    response.Add("Content-Length", static_cast<std::int64_t>(body.size()));
    if (pExtraName)
        response.Add(pExtraName, extraValue);
    response.Send(body);
    return status;
}

// Exactly one Host header, naming the loopback.
int CheckHost(const mg_request_info* pRequest)
{
    const char* pHost = nullptr;
    for (int i = 0; i < pRequest->num_headers; ++i)
    {
        if (strcasecmp(pRequest->http_headers[i].name, "Host") == 0)
        {
            if (pHost)
                return 400;
            pHost = pRequest->http_headers[i].value;
        }
    }
    if (!pHost)
        return 400;
    return HttpRules::IsLoopbackHost(pHost) ? 0 : 403;
}

std::string ListingPage(const std::string& urlPath, std::vector<ServerPlatform::CFolderEntry> entries)
{
    // Folders first, then files, each by name; dot names are never shown.
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const ServerPlatform::CFolderEntry& entry) { return entry.name[0] == '.'; }),
                  entries.end());
    std::sort(entries.begin(), entries.end(),
              [](const ServerPlatform::CFolderEntry& a, const ServerPlatform::CFolderEntry& b)
              { return a.isFolder != b.isFolder ? a.isFolder : a.name < b.name; });
    const std::string title = "Index of " + HttpRules::HtmlEscape(urlPath);
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>" +
                       title +
                       "</title><style>body{font-family:sans-serif;margin:2em}li{margin:.2em 0}</style>"
                       "</head>\n<body><h1>" +
                       title + "</h1>\n<ul>\n";
    if (urlPath != "/")
        page += "<li><a href=\"../\">../</a></li>\n";
    for (const ServerPlatform::CFolderEntry& entry : entries)
    {
        const std::string suffix = entry.isFolder ? "/" : "";
        page += "<li><a href=\"" + HttpRules::PercentEncode(entry.name) + suffix + "\">" +
                HttpRules::HtmlEscape(entry.name) + suffix + "</a></li>\n";
    }
    page += "</ul>\n</body></html>\n";
    return page;
}

// If-Range: a range applies only to the version of the file the client already holds.
bool RangeStillApplies(const mg_connection* pConnection, const std::string& etag, std::int64_t mtimeSeconds)
{
    const char* pIfRange = mg_get_header(pConnection, "If-Range");
    if (!pIfRange)
        return true;
    if (pIfRange[0] == '"' || pIfRange[0] == 'W')
        return etag == pIfRange;
    std::int64_t date = 0;
    return HttpRules::ParseHttpDate(pIfRange, date) && date == mtimeSeconds;
}

// Reads a whole (small) file; false if it changed size or could not be read.
bool ReadWhole(const ServerPlatform::CReadOnlyFile& file, std::string& content)
{
    content.resize(static_cast<std::size_t>(file.Info().size));
    std::size_t filled = 0;
    while (filled < content.size())
    {
        const long long count =
            file.ReadAt(&content[filled], content.size() - filled, static_cast<std::int64_t>(filled));
        if (count <= 0)
            return false;
        filled += static_cast<std::size_t>(count);
    }
    return true;
}

// With `injectLiveScript` a page goes out whole with the live-reload script in it (no ranges: the
// file's offsets do not apply to it) under its own validator.
int ServeFile(mg_connection* pConnection, bool isHead, bool keepAlive, const ServerPlatform::CReadOnlyFile& file,
              const std::string& fileName, bool injectLiveScript = false)
{
    const ServerPlatform::CFileInfo& info = file.Info();
    std::string etag = HttpRules::MakeETag(info.fileId, info.size, info.mtimeSeconds, info.mtimeNanoseconds);
    if (info.size > CLiveReload::MaxPageSize)
        injectLiveScript = false;
    if (injectLiveScript)
        etag.insert(etag.size() - 1, "-live");
    char lastModified[HttpRules::HttpDateSize];
    HttpRules::FormatHttpDate(info.mtimeSeconds, lastModified);

    // If-None-Match decides alone when present: a date cannot tell two saves within a second apart.
    bool notModified = false;
    if (const char* pIfNoneMatch = mg_get_header(pConnection, "If-None-Match"))
    {
        notModified = HttpRules::ETagListMatches(pIfNoneMatch, etag);
    }
    else if (const char* pIfModifiedSince = mg_get_header(pConnection, "If-Modified-Since"))
    {
        std::int64_t since = 0;
        notModified = HttpRules::ParseHttpDate(pIfModifiedSince, since) && info.mtimeSeconds <= since;
    }
    if (notModified)
    {
        CResponse response(pConnection, isHead, keepAlive, 304);
        response.Add("ETag", etag);
        response.Add("Last-Modified", lastModified);
        response.Send(std::string());
        return 304;
    }

    std::string page;
    if (injectLiveScript && ReadWhole(file, page))
    {
        page = HtmlInjection::InsertBeforeBodyEnd(page, CLiveReload::ScriptTag);
        CResponse response(pConnection, isHead, keepAlive, 200);
        response.Add("Content-Type", HttpRules::MimeType(fileName));
        response.Add("Content-Length", static_cast<std::int64_t>(page.size()));
        response.Add("ETag", etag);
        response.Add("Last-Modified", lastModified);
        response.Add("Vary", "Sec-Fetch-Dest, Accept");
        response.Send(page);
        return 200;
    }

    std::int64_t first = 0;
    std::int64_t last = info.size - 1;
    HttpRules::ERange range = HttpRules::ERange::Whole;
    const char* pRange = mg_get_header(pConnection, "Range");
    if (pRange && RangeStillApplies(pConnection, etag, info.mtimeSeconds))
        range = HttpRules::ParseRange(pRange, info.size, first, last);
    if (range == HttpRules::ERange::Unsatisfiable)
        return SendError(pConnection, isHead, keepAlive, 416, "Content-Range", "bytes */" + std::to_string(info.size));
    if (range == HttpRules::ERange::Whole)
        first = 0, last = info.size - 1;

    const int status = range == HttpRules::ERange::Partial ? 206 : 200;
    const std::int64_t length = last - first + 1;
    CResponse response(pConnection, isHead, keepAlive, status);
    response.Add("Content-Type", HttpRules::MimeType(fileName));
    response.Add("Content-Length", length);
    if (status == 206)
        response.Add("Content-Range",
                     "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(info.size));
    response.Add("Accept-Ranges", "bytes");
    response.Add("ETag", etag);
    response.Add("Last-Modified", lastModified);
    response.Send(file, first, length);
    return status;
}

} // namespace

CFileServer::CFileServer(std::string strRoot) : m_strRoot(std::move(strRoot)) {}

CFileServer::~CFileServer()
{
    Stop();
}

bool CFileServer::Start(int port, std::string& strError)
{
    const std::string ports = "127.0.0.1:" + std::to_string(port);
    // No document_root: civetweb itself serves, lists, runs and includes nothing; BeginRequest
    // answers every request.
    const char* options[] = {"listening_ports", ports.c_str(),
                             // Browser tabs hold keep-alive connections, each one a worker.
                             "num_threads", "64", "enable_keep_alive", "yes",
                             // Without it keep-alive responses wait for Nagle's delayed ACK.
                             "tcp_nodelay", "1",
                             // Raw targets: this server decodes them itself, exactly once.
                             "decode_url", "no", nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = &CFileServer::BeginRequest;
    callbacks.http_error = &CFileServer::HttpError;
    callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = this;
    init.configuration_options = options;
    char text[256] = "";
    unsigned code = 0;
    mg_error_data error{&code, text, sizeof text};
    m_pContext = mg_start2(&init, &error);
    if (!m_pContext)
    {
        strError = text[0] ? text : "the web server did not start";
        return false;
    }
    if (m_liveReloadWanted)
    {
        m_pLiveReload = std::make_unique<CLiveReload>(m_strRoot, port);
        m_pLiveReload->Start(m_pContext);
    }
    return true;
}

void CFileServer::Stop()
{
    // No more messages to sockets, then civetweb closes them (and calls back into live reload).
    if (m_pLiveReload)
        m_pLiveReload->Stop();
    if (m_pContext)
        mg_stop(m_pContext);
    m_pContext = nullptr;
    m_pLiveReload.reset();
}

int CFileServer::BeginRequest(mg_connection* pConnection)
{
    const auto* pServer = static_cast<const CFileServer*>(mg_get_user_data(mg_get_context(pConnection)));
    return pServer->HandleRequest(pConnection);
}

int CFileServer::HttpError(mg_connection* pConnection, int status, const char*)
{
    // civetweb's own refusals (malformed request lines, oversized headers): same shape as ours,
    // and the connection ends because the request could not be framed.
    const mg_request_info* pRequest = mg_get_request_info(pConnection);
    const char* pMethod = pRequest ? pRequest->request_method : nullptr;
    const bool isHead = pMethod && std::strcmp(pMethod, "HEAD") == 0;
    // civetweb refuses methods it does not know (TRACE among them) as malformed; to the client
    // they are just methods this server does not allow.
    if (status == 400 && pMethod && *pMethod &&
        std::all_of(pMethod, pMethod + std::strlen(pMethod), [](char c) { return c >= 'A' && c <= 'Z'; }) &&
        std::strcmp(pMethod, "GET") != 0 && !isHead)
        SendError(pConnection, false, false, 405, "Allow", "GET, HEAD");
    else
        SendError(pConnection, isHead, false, status);
    return 0;
}

int CFileServer::HandleRequest(mg_connection* pConnection) const
{
    const mg_request_info* pRequest = mg_get_request_info(pConnection);
    const bool isHead = std::strcmp(pRequest->request_method, "HEAD") == 0;
    const bool keepAlive = ClientKeepsAlive(pConnection, pRequest);

    if (const int status = CheckHost(pRequest))
        return SendError(pConnection, isHead, keepAlive, status);
    if (!isHead && std::strcmp(pRequest->request_method, "GET") != 0)
        return SendError(pConnection, isHead, keepAlive, 405, "Allow", "GET, HEAD");

    HttpRules::CTarget target;
    switch (HttpRules::DecodeTarget(pRequest->request_uri, target))
    {
    case HttpRules::ETarget::BadRequest:
        return SendError(pConnection, isHead, keepAlive, 400);
    case HttpRules::ETarget::Hidden:
        return SendError(pConnection, isHead, keepAlive, 404);
    case HttpRules::ETarget::Ok:
        break;
    }

    if (m_pLiveReload)
    {
        switch (m_pLiveReload->Route(pConnection, target.relativePath))
        {
        case CLiveReload::ERoute::NotOurs:
            break;
        case CLiveReload::ERoute::Script:
        {
            const std::string& script = CLiveReload::Script();
            CResponse response(pConnection, isHead, keepAlive, 200);
            response.Add("Content-Type", "text/javascript; charset=utf-8");
            response.Add("Content-Length", static_cast<std::int64_t>(script.size()));
            response.Send(script);
            return 200;
        }
        case CLiveReload::ERoute::Socket:
            return 0; // civetweb completes the handshake and hands the socket to live reload
        case CLiveReload::ERoute::NotUpgrade:
            return SendError(pConnection, isHead, false, 400);
        case CLiveReload::ERoute::ForeignOrigin:
            return SendError(pConnection, isHead, false, 403);
        case CLiveReload::ERoute::Busy:
            return SendError(pConnection, isHead, false, 503);
        case CLiveReload::ERoute::Off:
            return SendError(pConnection, isHead, false, 404);
        }
    }
    const bool injectLiveScript = m_pLiveReload && m_pLiveReload->IsActive() && CLiveReload::IsNavigation(pConnection);

    std::string path = m_strRoot + "/" + target.relativePath;
    ServerPlatform::CReadOnlyFile file;
    switch (file.Open(path))
    {
    case ServerPlatform::EOpenResult::NotFound:
        return SendError(pConnection, isHead, keepAlive, 404);
    case ServerPlatform::EOpenResult::Forbidden:
        return SendError(pConnection, isHead, keepAlive, 403);
    case ServerPlatform::EOpenResult::File:
        if (target.endsWithSlash)
            return SendError(pConnection, isHead, keepAlive, 404);
        return ServeFile(pConnection, isHead, keepAlive, file, target.lastSegment,
                         injectLiveScript && HtmlInjection::IsPageName(target.lastSegment));
    case ServerPlatform::EOpenResult::Folder:
        break;
    }

    if (!target.endsWithSlash)
    {
        // Relative, so it can never point at another host; the last segment re-encoded, so a ':'
        // in it cannot become a scheme.
        std::string location = HttpRules::PercentEncode(target.lastSegment) + "/";
        const char* pQuery = pRequest->query_string;
        if (pQuery && *pQuery &&
            std::none_of(pQuery, pQuery + std::strlen(pQuery),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            location += std::string("?") + pQuery;
        CResponse response(pConnection, isHead, keepAlive, 301);
        response.Add("Location", location);
        response.Add("Content-Length", std::int64_t(0));
        response.Send(std::string());
        return 301;
    }

    if (!target.relativePath.empty())
        path += '/';
    for (const char* pIndex : {"index.html", "index.htm"})
    {
        ServerPlatform::CReadOnlyFile index;
        switch (index.Open(path + pIndex))
        {
        case ServerPlatform::EOpenResult::File:
            return ServeFile(pConnection, isHead, keepAlive, index, pIndex, injectLiveScript);
        case ServerPlatform::EOpenResult::Forbidden:
            return SendError(pConnection, isHead, keepAlive, 403);
        default:
            break;
        }
    }

    std::vector<ServerPlatform::CFolderEntry> entries;
    if (!ServerPlatform::ListFolder(path, entries))
        return SendError(pConnection, isHead, keepAlive, 403);
    std::string page =
        ListingPage("/" + target.relativePath + (target.relativePath.empty() ? "" : "/"), std::move(entries));
    if (injectLiveScript)
        page = HtmlInjection::InsertBeforeBodyEnd(page, CLiveReload::ScriptTag);
    CResponse response(pConnection, isHead, keepAlive, 200);
    response.Add("Content-Type", "text/html; charset=utf-8");
    response.Add("Content-Length", static_cast<std::int64_t>(page.size()));
    response.Send(page);
    return 200;
}

} // namespace Corvan
