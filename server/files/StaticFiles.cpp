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
#include <memory>
#include <utility>
#include <vector>

namespace Corvan
{

namespace
{

namespace http = boost::beast::http;
using ServedFiles::CReadOnlyFile;
using ServedFiles::EOpenResult;

// Where the tag goes in a page: found by reading the page once in pieces, so a page of any size
// costs a piece of memory. -1 for a page that keeps its own bytes (UTF-16, or unreadable). A page
// that fits in one piece is left in `whole`.
std::int64_t TagPlace(const CReadOnlyFile& page, std::string& whole)
{
    constexpr std::size_t Piece = 64 * 1024;
    const std::int64_t size = page.Info().size;
    std::string piece(std::min<std::size_t>(Piece, static_cast<std::size_t>(size)), '\0');
    HtmlInjection::CBodyEndFinder finder;
    for (std::int64_t offset = 0; offset < size;)
    {
        const long long count = page.ReadAt(
            piece.data(), std::min<std::size_t>(piece.size(), static_cast<std::size_t>(size - offset)), offset);
        if (count <= 0)
            return -1;
        finder.Feed(piece.data(), static_cast<std::size_t>(count));
        offset += count;
        if (offset == size && count == size)
            whole = std::move(piece);
    }
    const std::uint64_t at = finder.Finish();
    return at == HtmlInjection::CBodyEndFinder::Unchanged ? -1 : static_cast<std::int64_t>(at);
}

// The file may well exist: saying 404 would tell the page it does not. The connection ends, which
// also gives back a descriptor.
CHttpResponse Unavailable(const CRequest& request)
{
    CHttpResponse response = ErrorResponse(request, 503, true);
    response.set(http::field::retry_after, "1");
    return response;
}

CHttpResponse Page(const CRequest& request, std::string page, const char* pContentType, int status = 200)
{
    CHttpResponse response = NewResponse(request, status);
    response.set(http::field::content_type, pContentType);
    SetText(response, std::move(page));
    return response;
}

CHttpResponse Redirect(const CRequest& request, int status, const std::string& location)
{
    CHttpResponse response = NewResponse(request, status);
    response.set(http::field::location, location);
    SetText(response, std::string());
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

// `name` in the folder `folder`, which may end with '/' (the root does).
std::string InFolder(const std::string& folder, const char* pName)
{
    return folder.empty() || folder.back() != '/' ? folder + '/' + pName : folder + pName;
}

// A file's validators: its ETag (with "-live" for a page that carries the tag, whose bytes differ
// from the file's) and its time.
struct CValidators
{
    std::string etag;
    char lastModified[HttpRules::HttpDateSize];

    CValidators(const ServedFiles::CFileInfo& info, bool tagged)
        : etag(HttpRules::MakeETag(info.fileId, info.size, info.mtimeSeconds, info.mtimeNanoseconds))
    {
        if (tagged)
            etag.insert(etag.size() - 1, "-live");
        HttpRules::FormatHttpDate(info.mtimeSeconds, lastModified);
    }
    void AddTo(CHttpResponse& response) const
    {
        response.set(http::field::etag, etag);
        response.set(http::field::last_modified, lastModified);
    }
};

// A page with the tag in it goes out whole (the file's offsets do not apply to it).
CHttpResponse ServePage(const CRequest& request, std::unique_ptr<CReadOnlyFile> pFile, const std::string& fileName,
                        const char* pTag, int status, const CValidators* pValidators)
{
    std::string whole;
    const std::int64_t at = TagPlace(*pFile, whole);
    CHttpResponse response = NewResponse(request, status);
    response.set(http::field::content_type, HttpRules::MimeType(fileName));
    // A page read whole goes out in one write with its tag, where the file would take three steps.
    if (at >= 0 && !whole.empty())
    {
        whole.insert(static_cast<std::size_t>(at), pTag);
        SetText(response, std::move(whole));
    }
    else
        SetPage(response, std::move(pFile), at < 0 ? std::string() : std::string(pTag), std::max<std::int64_t>(at, 0));
    if (pValidators)
        pValidators->AddTo(response);
    response.set(http::field::vary, "Sec-Fetch-Dest, Accept");
    return response;
}

// The file's bytes, or the range the request asks for while its validators still hold.
CHttpResponse ServeBytes(const CRequest& request, std::unique_ptr<CReadOnlyFile> pFile, const std::string& fileName,
                         int status, const CValidators* pValidators)
{
    const std::int64_t size = pFile->Info().size;
    std::int64_t first = 0, last = size - 1;
    const HttpRules::ERange range =
        pValidators
            ? ConditionalRequest::WantedRange(request, pValidators->etag, pFile->Info().mtimeSeconds, size, first, last)
            : HttpRules::ERange::Whole;
    if (range == HttpRules::ERange::Unsatisfiable)
    {
        CHttpResponse response = ErrorResponse(request, 416);
        response.set(http::field::content_range, "bytes */" + std::to_string(size));
        return response;
    }
    if (range == HttpRules::ERange::Partial)
        status = 206;
    CHttpResponse response = NewResponse(request, status);
    response.set(http::field::content_type, HttpRules::MimeType(fileName));
    SetFile(response, std::move(pFile), first, last - first + 1);
    if (status == 206)
        response.set(http::field::content_range,
                     "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
    if (pValidators)
    {
        response.set(http::field::accept_ranges, "bytes");
        pValidators->AddTo(response);
    }
    return response;
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
    auto pFile = std::make_unique<CReadOnlyFile>();
    const EOpenResult opened = pFile->Open(path);
    if (pRules && !pRules->redirects.IsEmpty())
    {
        const CRedirectDecision decision = pRules->redirects.Match(
            "/" + target.relativePath, request.query,
            [&](std::string_view)
            { return opened == EOpenResult::File ? !target.endsWithSlash : FileAnswers(opened, path); });
        if (decision.action == CRedirectDecision::EAction::Redirect)
            return Redirect(request, decision.status, decision.location);
        if (decision.action == CRedirectDecision::EAction::Rewrite)
        {
            const HttpRules::CTarget& rewritten = decision.target;
            const std::string rewrittenPath = m_strRoot + "/" + rewritten.relativePath;
            auto pRewritten = std::make_unique<CReadOnlyFile>();
            const EOpenResult rewrittenOpened =
                IsRuleFile(rewritten.relativePath) ? EOpenResult::NotFound : pRewritten->Open(rewrittenPath);
            std::optional<CHttpResponse> answer =
                AnswerOpened(request, std::move(pRewritten), rewrittenOpened, rewrittenPath, rewritten.lastSegment,
                             decision.status, false);
            return answer ? std::move(*answer) : NotFound(request);
        }
    }
    if (opened == EOpenResult::File && target.endsWithSlash)
        return NotFound(request);
    if (opened == EOpenResult::Folder && !target.endsWithSlash)
    {
        // Relative, so it can never point at another host; the last segment re-encoded, so a ':' in
        // it cannot become a scheme.
        const std::string& query = request.query;
        const bool plainQuery = std::none_of(query.begin(), query.end(),
                                             [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
        return Redirect(request, 301,
                        HttpRules::PercentEncode(target.lastSegment) + "/" +
                            (query.empty() || !plainQuery ? std::string() : "?" + query));
    }
    std::optional<CHttpResponse> answer =
        AnswerOpened(request, std::move(pFile), opened, path, target.lastSegment, 200, true);
    return answer ? std::move(*answer) : NotFound(request);
}

bool CStaticFiles::Answers(const HttpRules::CTarget& target) const
{
    const std::string path = m_strRoot + "/" + target.relativePath;
    CReadOnlyFile file;
    const EOpenResult opened = file.Open(path);
    return opened == EOpenResult::File ? !target.endsWithSlash : FileAnswers(opened, path);
}

// Whether a folder (or what could not be opened) answers its path, so that rules without '!' leave
// it alone: a folder with an index page does; one that would only be listed leaves it to the rules.
bool CStaticFiles::FileAnswers(EOpenResult opened, const std::string& path) const
{
    // A file that cannot be opened for want of a descriptor may well exist: 503 beats a rewrite.
    if (opened == EOpenResult::Unavailable)
        return true;
    if (opened != EOpenResult::Folder)
        return false;
    for (const char* pIndex : {"index.html", "index.htm"})
    {
        CReadOnlyFile index;
        if (index.Open(InFolder(path, pIndex)) == EOpenResult::File)
            return true;
    }
    return false;
}

// The one way a path that was opened becomes an answer, for a request's own path, a rewrite's and
// a folder's index page: a file that cannot be read gets 403, or 503 for want of a descriptor.
std::optional<CHttpResponse> CStaticFiles::AnswerOpened(const CRequest& request, std::unique_ptr<CReadOnlyFile> pFile,
                                                        EOpenResult opened, const std::string& path,
                                                        const std::string& fileName, int status, bool listing) const
{
    switch (opened)
    {
    case EOpenResult::File:
        return ServeFile(request, std::move(pFile), fileName, status);
    case EOpenResult::Forbidden:
        return ErrorResponse(request, 403);
    case EOpenResult::Unavailable:
        return Unavailable(request);
    case EOpenResult::NotFound:
        return std::nullopt;
    case EOpenResult::Folder:
        break;
    }
    for (const char* pIndex : {"index.html", "index.htm"})
    {
        auto pIndexFile = std::make_unique<CReadOnlyFile>();
        const std::string indexPath = InFolder(path, pIndex);
        const EOpenResult indexOpened = pIndexFile->Open(indexPath);
        if (indexOpened != EOpenResult::Folder && indexOpened != EOpenResult::NotFound)
            return AnswerOpened(request, std::move(pIndexFile), indexOpened, indexPath, pIndex, status, false);
    }
    if (!listing)
        return std::nullopt;
    return AnswerListing(request, InFolder(path, ""));
}

CHttpResponse CStaticFiles::NotFound(const CRequest& request) const
{
    auto pPage = std::make_unique<CReadOnlyFile>();
    if (pPage->Open(m_strRoot + "/404.html") == EOpenResult::File)
        return ServeFile(request, std::move(pPage), "404.html", 404);
    const HttpRules::CTarget& target = request.target;
    std::string page = NotFoundPage("/" + target.relativePath + (target.endsWithSlash ? "/" : ""));
    if (const char* pTag = TagFor(request))
        page = HtmlInjection::InsertBeforeBodyEnd(page, pTag);
    return Page(request, std::move(page), "text/html; charset=utf-8", 404);
}

// The site's _headers for the requested path (not a rewrite's file) on every answer about the
// site, in one pass: each name the site sets takes the server's field of that name away (not a
// redirect's Location), and the site's values follow the server's fields, each Set-Cookie line a
// field of its own.
CHttpResponse CStaticFiles::WithSiteHeaders(const CRequest& request, const CSiteRuleSet* pRules,
                                            CHttpResponse response) const
{
    if (!pRules || pRules->headers.IsEmpty())
        return response;
    const HttpRules::CTarget& target = request.target;
    CHeaderRules::CHeaders headers =
        pRules->headers.HeadersFor("/" + target.relativePath + (target.endsWithSlash ? "/" : ""));
    if (IsRedirect(static_cast<int>(response.result_int())))
        headers.erase(std::remove_if(headers.begin(), headers.end(),
                                     [](const auto& header)
                                     { return TextRules::EqualsNoCase(header.first, "Location"); }),
                      headers.end());
    for (const auto& header : headers)
        response.erase(header.first);
    response.site = std::move(headers);
    return response;
}

// `path` ends with '/'.
CHttpResponse CStaticFiles::AnswerListing(const CRequest& request, const std::string& path) const
{
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

// A page (.html, .htm) that the request shows gets the tag, unless it is too large to read twice.
// A `status` other than 200 (a rewrite's 404, the site's 404 page) goes out whole, without
// validators: a client's copy of the file is no answer to another path.
CHttpResponse CStaticFiles::ServeFile(const CRequest& request, std::unique_ptr<CReadOnlyFile> pFile,
                                      const std::string& fileName, int status) const
{
    const ServedFiles::CFileInfo& info = pFile->Info();
    const char* pTag =
        HtmlInjection::IsPageName(fileName) && info.size <= MaxTaggedPageSize ? TagFor(request) : nullptr;
    const CValidators validators(info, pTag != nullptr);
    const CValidators* pValidators = status == 200 ? &validators : nullptr;
    if (pValidators && ConditionalRequest::IsNotModified(request, validators.etag, info.mtimeSeconds))
    {
        CHttpResponse response = NewResponse(request, 304);
        validators.AddTo(response);
        return response;
    }
    if (pTag)
        return ServePage(request, std::move(pFile), fileName, pTag, status, pValidators);
    return ServeBytes(request, std::move(pFile), fileName, status, pValidators);
}

} // namespace Corvan
