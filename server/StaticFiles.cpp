#include "server/StaticFiles.h"

#include "server/ConditionalRequest.h"
#include "server/FolderListing.h"
#include "server/HtmlInjection.h"
#include "server/HttpResponse.h"

#include <civetweb.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace Corvan
{

namespace
{

// A page with the tag in it, read like a file: the page's bytes up to the tag's place, the tag,
// then the rest. Only the place is looked for first (reading the page once in pieces), so a page
// of any size costs a streamed file's memory.
class CTaggedPage
{
public:
    CTaggedPage(const ServerPlatform::CReadOnlyFile& file, const char* pTag) : m_file(file), m_pTag(pTag)
    {
        m_at = FindPlace();
        if (m_at < 0)
            m_pTag = ""; // a UTF-16 page, or one that cannot be read: its own bytes
        m_tagLength = static_cast<std::int64_t>(std::strlen(m_pTag));
    }

    std::int64_t Size() const { return m_file.Info().size + m_tagLength; }

    long long ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const
    {
        if (offset < m_at)
            return m_file.ReadAt(pBuffer, static_cast<std::size_t>(std::min<std::int64_t>(length, m_at - offset)),
                                 offset);
        if (offset < m_at + m_tagLength)
        {
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::int64_t>(length, m_at + m_tagLength - offset));
            std::memcpy(pBuffer, m_pTag + (offset - m_at), count);
            return static_cast<long long>(count);
        }
        return m_file.ReadAt(pBuffer, length, offset - m_tagLength);
    }

private:
    // The tag's offset in the page, -1 for none.
    std::int64_t FindPlace() const
    {
        constexpr std::size_t Piece = 64 * 1024;
        const std::unique_ptr<char[]> pPiece(new char[Piece]);
        HtmlInjection::CBodyEndFinder finder;
        const std::int64_t size = m_file.Info().size;
        for (std::int64_t offset = 0; offset < size;)
        {
            const long long count = m_file.ReadAt(pPiece.get(), std::min<std::size_t>(Piece, size - offset), offset);
            if (count <= 0)
                return -1;
            finder.Feed(pPiece.get(), static_cast<std::size_t>(count));
            offset += count;
        }
        const std::uint64_t at = finder.Finish();
        return at == HtmlInjection::CBodyEndFinder::Unchanged ? -1 : static_cast<std::int64_t>(at);
    }

    const ServerPlatform::CReadOnlyFile& m_file;
    const char* m_pTag;
    std::int64_t m_at = -1;
    std::int64_t m_tagLength = 0;
};

int SendPage(const CRequest& request, const std::string& page, const char* pContentType)
{
    CHttpResponse response(request, 200);
    response.Add("Content-Type", pContentType);
    response.Add("Content-Length", static_cast<std::int64_t>(page.size()));
    response.Send(page);
    return 200;
}

} // namespace

CStaticFiles::CStaticFiles(std::string strRoot) : m_strRoot(std::move(strRoot)) {}

void CStaticFiles::Register(mg_context* pContext)
{
    mg_set_request_handler(pContext, "/", &CStaticFiles::OnRequest, this);
}

int CStaticFiles::OnRequest(mg_connection*, void* pData)
{
    return static_cast<const CStaticFiles*>(pData)->Answer(CurrentRequest());
}

const char* CStaticFiles::TagFor(const CRequest& request) const
{
    return m_pageTag ? m_pageTag(request.pConnection) : nullptr;
}

int CStaticFiles::Answer(const CRequest& request) const
{
    const HttpRules::CTarget& target = request.target;
    const std::string path = m_strRoot + "/" + target.relativePath;
    ServerPlatform::CReadOnlyFile file;
    switch (file.Open(path))
    {
    case ServerPlatform::EOpenResult::NotFound:
        return SendError(request, 404);
    case ServerPlatform::EOpenResult::Forbidden:
        return SendError(request, 403);
    case ServerPlatform::EOpenResult::File:
        if (target.endsWithSlash)
            return SendError(request, 404);
        return ServeFile(request, file, target.lastSegment,
                         HtmlInjection::IsPageName(target.lastSegment) ? TagFor(request) : nullptr);
    case ServerPlatform::EOpenResult::Folder:
        break;
    }
    if (!target.endsWithSlash)
        return RedirectToFolder(request);
    return AnswerFolder(request, target.relativePath.empty() ? path : path + '/');
}

int CStaticFiles::RedirectToFolder(const CRequest& request) const
{
    // Relative, so it can never point at another host; the last segment re-encoded, so a ':' in it
    // cannot become a scheme.
    std::string location = HttpRules::PercentEncode(request.target.lastSegment) + "/";
    const char* pQuery = mg_get_request_info(request.pConnection)->query_string;
    if (pQuery && *pQuery &&
        std::none_of(pQuery, pQuery + std::strlen(pQuery),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        location += std::string("?") + pQuery;
    CHttpResponse response(request, 301);
    response.Add("Location", location);
    response.Add("Content-Length", std::int64_t(0));
    response.Send(std::string());
    return 301;
}

// `path` ends with '/'.
int CStaticFiles::AnswerFolder(const CRequest& request, const std::string& path) const
{
    for (const char* pIndex : {"index.html", "index.htm"})
    {
        ServerPlatform::CReadOnlyFile index;
        switch (index.Open(path + pIndex))
        {
        case ServerPlatform::EOpenResult::File:
            return ServeFile(request, index, pIndex, TagFor(request));
        case ServerPlatform::EOpenResult::Forbidden:
            return SendError(request, 403);
        default:
            break;
        }
    }

    std::vector<ServerPlatform::CFolderEntry> entries;
    if (!ServerPlatform::ListFolder(path, entries))
        return SendError(request, 403);
    const std::string& relative = request.target.relativePath;
    std::string page = FolderListing::Page("/" + relative + (relative.empty() ? "" : "/"), std::move(entries));
    if (const char* pTag = TagFor(request))
        page = HtmlInjection::InsertBeforeBodyEnd(page, pTag);
    return SendPage(request, page, "text/html; charset=utf-8");
}

// With `pTag` a page goes out whole with the tag in it (no ranges: the file's offsets do not apply
// to it) under its own validator.
int CStaticFiles::ServeFile(const CRequest& request, const ServerPlatform::CReadOnlyFile& file,
                            const std::string& fileName, const char* pTag) const
{
    const ServerPlatform::CFileInfo& info = file.Info();
    std::string etag = HttpRules::MakeETag(info.fileId, info.size, info.mtimeSeconds, info.mtimeNanoseconds);
    if (info.size > MaxTaggedPageSize)
        pTag = nullptr;
    if (pTag)
        etag.insert(etag.size() - 1, "-live");
    char lastModified[HttpRules::HttpDateSize];
    HttpRules::FormatHttpDate(info.mtimeSeconds, lastModified);

    if (ConditionalRequest::IsNotModified(request.pConnection, etag, info.mtimeSeconds))
    {
        CHttpResponse response(request, 304);
        response.Add("ETag", etag);
        response.Add("Last-Modified", lastModified);
        response.Send(std::string());
        return 304;
    }

    if (pTag)
    {
        const CTaggedPage page(file, pTag);
        CHttpResponse response(request, 200);
        response.Add("Content-Type", HttpRules::MimeType(fileName));
        response.Add("Content-Length", page.Size());
        response.Add("ETag", etag);
        response.Add("Last-Modified", lastModified);
        response.Add("Vary", "Sec-Fetch-Dest, Accept");
        response.Send([&page](char* pBuffer, std::size_t length, std::int64_t offset)
                      { return page.ReadAt(pBuffer, length, offset); },
                      0, page.Size());
        return 200;
    }

    std::int64_t first = 0, last = 0;
    const HttpRules::ERange range =
        ConditionalRequest::WantedRange(request.pConnection, etag, info.mtimeSeconds, info.size, first, last);
    if (range == HttpRules::ERange::Unsatisfiable)
        return SendError(request, 416, "Content-Range", "bytes */" + std::to_string(info.size));
    const int status = range == HttpRules::ERange::Partial ? 206 : 200;
    CHttpResponse response(request, status);
    response.Add("Content-Type", HttpRules::MimeType(fileName));
    response.Add("Content-Length", last - first + 1);
    if (status == 206)
        response.Add("Content-Range",
                     "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(info.size));
    response.Add("Accept-Ranges", "bytes");
    response.Add("ETag", etag);
    response.Add("Last-Modified", lastModified);
    response.Send(file, first, last - first + 1);
    return status;
}

} // namespace Corvan
