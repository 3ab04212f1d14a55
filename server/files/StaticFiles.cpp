#include "server/files/StaticFiles.h"

#include "server/files/ConditionalRequest.h"
#include "server/files/FolderListing.h"
#include "server/files/HtmlInjection.h"
#include "server/files/SiteRules.h"
#include "server/http/HttpResponse.h"
#include "server/httprules/TextRules.h"
#include "server/siterules/RuleFile.h"

#include "platform/ServedFiles.h"
#include "server/httprules/ETags.h"
#include "server/httprules/Escaping.h"
#include "server/httprules/HttpDates.h"
#include "server/httprules/MimeTypes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace Corvan
{

namespace
{

class CFileSource : public CBodySource
{
public:
    explicit CFileSource(std::unique_ptr<ServedFiles::CReadOnlyFile> pFile) : m_pFile(std::move(pFile)) {}
    long long ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const override
    {
        return m_pFile->ReadAt(pBuffer, length, offset);
    }

private:
    std::unique_ptr<ServedFiles::CReadOnlyFile> m_pFile;
};

// A page with the tag in it, read like a file: the page's bytes up to the tag's place, the tag,
// then the rest. Only the place is looked for first (reading the page once in pieces), so a page
// of any size costs a streamed file's memory.
class CTaggedPage : public CBodySource
{
public:
    CTaggedPage(std::unique_ptr<ServedFiles::CReadOnlyFile> pFile, const char* pTag)
        : m_pFile(std::move(pFile)), m_pTag(pTag)
    {
        m_at = FindPlace();
        if (m_at < 0)
            m_pTag = ""; // a UTF-16 page, or one that cannot be read: its own bytes
        m_tagLength = static_cast<std::int64_t>(std::strlen(m_pTag));
    }

    std::int64_t Size() const { return m_pFile->Info().size + m_tagLength; }

    long long ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const override
    {
        if (offset < m_at)
            return m_pFile->ReadAt(pBuffer, static_cast<std::size_t>(std::min<std::int64_t>(length, m_at - offset)),
                                   offset);
        if (offset < m_at + m_tagLength)
        {
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::int64_t>(length, m_at + m_tagLength - offset));
            std::memcpy(pBuffer, m_pTag + (offset - m_at), count);
            return static_cast<long long>(count);
        }
        return m_pFile->ReadAt(pBuffer, length, offset - m_tagLength);
    }

private:
    // The tag's offset in the page, -1 for none.
    std::int64_t FindPlace() const
    {
        constexpr std::size_t Piece = 64 * 1024;
        const std::unique_ptr<char[]> pPiece(new char[Piece]);
        HtmlInjection::CBodyEndFinder finder;
        const std::int64_t size = m_pFile->Info().size;
        for (std::int64_t offset = 0; offset < size;)
        {
            const long long count = m_pFile->ReadAt(pPiece.get(), std::min<std::size_t>(Piece, size - offset), offset);
            if (count <= 0)
                return -1;
            finder.Feed(pPiece.get(), static_cast<std::size_t>(count));
            offset += count;
        }
        const std::uint64_t at = finder.Finish();
        return at == HtmlInjection::CBodyEndFinder::Unchanged ? -1 : static_cast<std::int64_t>(at);
    }

    std::unique_ptr<ServedFiles::CReadOnlyFile> m_pFile;
    const char* m_pTag;
    std::int64_t m_at = -1;
    std::int64_t m_tagLength = 0;
};

// The file may well exist: saying 404 would tell the page it does not. The connection ends, which
// also gives back a descriptor.
CHttpResponse Unavailable(const CRequest& request)
{
    CRequest closing = request;
    closing.keepAlive = false;
    return ErrorResponse(closing, 503, "Retry-After", "1");
}

CHttpResponse Page(const CRequest& request, std::string page, const char* pContentType, int status = 200)
{
    CHttpResponse response(request, status);
    response.Add("Content-Type", pContentType);
    response.Add("Content-Length", static_cast<std::int64_t>(page.size()));
    response.SetBody(std::move(page));
    return response;
}

// Without the site's own /404.html: a page (a browser shows it as one) that says what was asked for
// and leads back to the folder.
std::string NotFoundPage(const std::string& urlPath)
{
    const std::string path = HttpRules::HtmlEscape(urlPath);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width\"><title>404 Not Found</title>"
           "<style>body{font-family:sans-serif;margin:2em}</style></head>\n<body><h1>404 Not Found</h1>\n"
           "<p>Nothing in this folder answers <code>" +
           path +
           "</code>.</p>\n<p><a href=\"/\">Back to the folder</a></p>\n"
           "</body></html>\n";
}

bool IsRedirect(int status)
{
    return status >= 300 && status < 400 && status != 304;
}

} // namespace

CStaticFiles::CStaticFiles(std::string strRoot) : m_strRoot(std::move(strRoot)) {}

const char* CStaticFiles::TagFor(const CRequest& request) const
{
    return m_pageTag.tag && m_pageTag.wants && m_pageTag.wants(request) ? m_pageTag.tag : nullptr;
}

CHttpResponse CStaticFiles::Answer(const CRequest& request) const
{
    const CSiteRuleSet* pRules = m_pSiteRules ? &m_pSiteRules->Current() : nullptr;
    return WithSiteHeaders(request, pRules, AnswerSite(request, pRules));
}

CHttpResponse CStaticFiles::AnswerHidden(const CRequest& request) const
{
    return WithSiteHeaders(request, m_pSiteRules ? &m_pSiteRules->Current() : nullptr, NotFound(request));
}

CHttpResponse CStaticFiles::AnswerSite(const CRequest& request, const CSiteRuleSet* pRules) const
{
    const HttpRules::CTarget& target = request.target;
    // Like dot names, the rule files are never served, whatever a rule says.
    if (IsRuleFile(target.relativePath))
        return NotFound(request);
    const std::string path = m_strRoot + "/" + target.relativePath;
    auto pFile = std::make_unique<ServedFiles::CReadOnlyFile>();
    const ServedFiles::EOpenResult opened = pFile->Open(path);
    if (pRules && !pRules->redirects.IsEmpty())
    {
        const CRedirectDecision decision = pRules->redirects.Match(
            "/" + target.relativePath, request.query,
            [&](std::string_view)
            { return opened == ServedFiles::EOpenResult::File ? !target.endsWithSlash : FileAnswers(opened, path); });
        if (decision.action == CRedirectDecision::EAction::Redirect)
        {
            CHttpResponse response(request, decision.status);
            response.Add("Location", decision.location);
            response.Add("Content-Length", std::int64_t(0));
            response.SetBody(std::string());
            return response;
        }
        if (decision.action == CRedirectDecision::EAction::Rewrite)
        {
            std::optional<CHttpResponse> rewritten = AnswerRewrite(request, decision.target, decision.status);
            return rewritten ? std::move(*rewritten) : NotFound(request);
        }
    }

    switch (opened)
    {
    case ServedFiles::EOpenResult::NotFound:
        return NotFound(request);
    case ServedFiles::EOpenResult::Forbidden:
        return ErrorResponse(request, 403);
    case ServedFiles::EOpenResult::Unavailable:
        return Unavailable(request);
    case ServedFiles::EOpenResult::File:
        if (target.endsWithSlash)
            return NotFound(request);
        return ServeFile(request, std::move(pFile), target.lastSegment,
                         HtmlInjection::IsPageName(target.lastSegment) ? TagFor(request) : nullptr);
    case ServedFiles::EOpenResult::Folder:
        break;
    }
    if (!target.endsWithSlash)
        return RedirectToFolder(request);
    return AnswerFolder(request, target.relativePath.empty() ? path : path + '/');
}

// Whether a folder (or what could not be opened) answers its path, so that rules without '!' leave
// it alone: a folder with an index page does; one that would only be listed leaves it to the rules.
bool CStaticFiles::FileAnswers(ServedFiles::EOpenResult opened, const std::string& path) const
{
    // A file that cannot be opened for want of a descriptor may well exist: 503 beats a rewrite.
    if (opened == ServedFiles::EOpenResult::Unavailable)
        return true;
    if (opened != ServedFiles::EOpenResult::Folder)
        return false;
    for (const char* pIndex : {"/index.html", "/index.htm"})
    {
        ServedFiles::CReadOnlyFile index;
        if (index.Open(path + pIndex) == ServedFiles::EOpenResult::File)
            return true;
    }
    return false;
}

std::optional<CHttpResponse> CStaticFiles::AnswerRewrite(const CRequest& request, const HttpRules::CTarget& target,
                                                         int status) const
{
    if (IsRuleFile(target.relativePath))
        return std::nullopt;
    const std::string path = m_strRoot + "/" + target.relativePath;
    auto pFile = std::make_unique<ServedFiles::CReadOnlyFile>();
    switch (pFile->Open(path))
    {
    case ServedFiles::EOpenResult::File:
        return ServeFile(request, std::move(pFile), target.lastSegment,
                         HtmlInjection::IsPageName(target.lastSegment) ? TagFor(request) : nullptr, status);
    case ServedFiles::EOpenResult::Forbidden:
        return ErrorResponse(request, 403);
    case ServedFiles::EOpenResult::Unavailable:
        return Unavailable(request);
    case ServedFiles::EOpenResult::Folder:
        break;
    case ServedFiles::EOpenResult::NotFound:
        return std::nullopt;
    }
    for (const char* pIndex : {"index.html", "index.htm"})
    {
        auto pIndexFile = std::make_unique<ServedFiles::CReadOnlyFile>();
        if (pIndexFile->Open(path + "/" + pIndex) == ServedFiles::EOpenResult::File)
            return ServeFile(request, std::move(pIndexFile), pIndex, TagFor(request), status);
    }
    return std::nullopt;
}

CHttpResponse CStaticFiles::NotFound(const CRequest& request) const
{
    auto pPage = std::make_unique<ServedFiles::CReadOnlyFile>();
    if (pPage->Open(m_strRoot + "/404.html") == ServedFiles::EOpenResult::File)
        return ServeFile(request, std::move(pPage), "404.html", TagFor(request), 404);
    const HttpRules::CTarget& target = request.target;
    std::string page = NotFoundPage("/" + target.relativePath + (target.endsWithSlash ? "/" : ""));
    if (const char* pTag = TagFor(request))
        page = HtmlInjection::InsertBeforeBodyEnd(page, pTag);
    return Page(request, std::move(page), "text/html; charset=utf-8", 404);
}

// The site's _headers for the requested path (not a rewrite's file) on every answer about the
// site; a header of the same name the server set gives way, except a redirect's Location.
CHttpResponse CStaticFiles::WithSiteHeaders(const CRequest& request, const CSiteRuleSet* pRules,
                                            CHttpResponse response) const
{
    if (!pRules || pRules->headers.IsEmpty())
        return response;
    const HttpRules::CTarget& target = request.target;
    for (const auto& header : pRules->headers.HeadersFor("/" + target.relativePath + (target.endsWithSlash ? "/" : "")))
    {
        if (IsRedirect(response.Status()) && TextRules::EqualsNoCase(header.first, "Location"))
            continue;
        response.Set(header.first, header.second);
    }
    return response;
}

CHttpResponse CStaticFiles::RedirectToFolder(const CRequest& request) const
{
    // Relative, so it can never point at another host; the last segment re-encoded, so a ':' in it
    // cannot become a scheme.
    std::string location = HttpRules::PercentEncode(request.target.lastSegment) + "/";
    const std::string& query = request.query;
    if (!query.empty() && std::none_of(query.begin(), query.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        location += "?" + query;
    CHttpResponse response(request, 301);
    response.Add("Location", location);
    response.Add("Content-Length", std::int64_t(0));
    response.SetBody(std::string());
    return response;
}

// `path` ends with '/'.
CHttpResponse CStaticFiles::AnswerFolder(const CRequest& request, const std::string& path) const
{
    for (const char* pIndex : {"index.html", "index.htm"})
    {
        auto pIndexFile = std::make_unique<ServedFiles::CReadOnlyFile>();
        switch (pIndexFile->Open(path + pIndex))
        {
        case ServedFiles::EOpenResult::File:
            return ServeFile(request, std::move(pIndexFile), pIndex, TagFor(request));
        case ServedFiles::EOpenResult::Forbidden:
            return ErrorResponse(request, 403);
        case ServedFiles::EOpenResult::Unavailable:
            return Unavailable(request);
        default:
            break;
        }
    }

    std::vector<ServedFiles::CFolderEntry> entries;
    if (!ServedFiles::ListFolder(path, entries))
        return ErrorResponse(request, 403);
    const std::string& relative = request.target.relativePath;
    if (relative.empty())
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [](const ServedFiles::CFolderEntry& entry) { return IsRuleFile(entry.name); }),
                      entries.end());
    std::string page = FolderListing::Page("/" + relative + (relative.empty() ? "" : "/"), std::move(entries));
    if (const char* pTag = TagFor(request))
        page = HtmlInjection::InsertBeforeBodyEnd(page, pTag);
    return Page(request, std::move(page), "text/html; charset=utf-8");
}

// With `pTag` a page goes out whole with the tag in it (no ranges: the file's offsets do not apply
// to it) under its own validator. A `status` other than 200 (a 404 page) goes out whole, without
// validators: a client's copy of the page is no answer to another path.
CHttpResponse CStaticFiles::ServeFile(const CRequest& request, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile,
                                      const std::string& fileName, const char* pTag, int status) const
{
    const bool whole = status != 200;
    const ServedFiles::CFileInfo info = pFile->Info();
    std::string etag = HttpRules::MakeETag(info.fileId, info.size, info.mtimeSeconds, info.mtimeNanoseconds);
    if (info.size > MaxTaggedPageSize)
        pTag = nullptr;
    if (pTag)
        etag.insert(etag.size() - 1, "-live");
    char lastModified[HttpRules::HttpDateSize];
    HttpRules::FormatHttpDate(info.mtimeSeconds, lastModified);

    if (!whole && ConditionalRequest::IsNotModified(request, etag, info.mtimeSeconds))
    {
        CHttpResponse response(request, 304);
        response.Add("ETag", etag);
        response.Add("Last-Modified", lastModified);
        response.SetBody(std::string());
        return response;
    }

    if (pTag)
    {
        auto pPage = std::make_unique<CTaggedPage>(std::move(pFile), pTag);
        const std::int64_t size = pPage->Size();
        CHttpResponse response(request, status);
        response.Add("Content-Type", HttpRules::MimeType(fileName));
        response.Add("Content-Length", size);
        if (!whole)
        {
            response.Add("ETag", etag);
            response.Add("Last-Modified", lastModified);
        }
        response.Add("Vary", "Sec-Fetch-Dest, Accept");
        response.SetBody(std::move(pPage), 0, size);
        return response;
    }

    std::int64_t first = 0, last = info.size - 1;
    const HttpRules::ERange range =
        whole ? HttpRules::ERange::Whole
              : ConditionalRequest::WantedRange(request, etag, info.mtimeSeconds, info.size, first, last);
    if (range == HttpRules::ERange::Unsatisfiable)
        return ErrorResponse(request, 416, "Content-Range", "bytes */" + std::to_string(info.size));
    if (range == HttpRules::ERange::Partial)
        status = 206;
    CHttpResponse response(request, status);
    response.Add("Content-Type", HttpRules::MimeType(fileName));
    response.Add("Content-Length", last - first + 1);
    if (status == 206)
        response.Add("Content-Range",
                     "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(info.size));
    if (!whole)
    {
        response.Add("Accept-Ranges", "bytes");
        response.Add("ETag", etag);
        response.Add("Last-Modified", lastModified);
    }
    response.SetBody(std::make_unique<CFileSource>(std::move(pFile)), first, last - first + 1);
    return response;
}

} // namespace Corvan
