#pragma once

// The folder's files over HTTP: files with validators and byte ranges, folders by their index page
// or a listing, a folder named without its '/' by a redirect. It owns every target that no other
// feature took. The site's own rules (SiteRules.h) come first where no file answers (or with '!'),
// a path nothing answers gets the site's /404.html or a small page, and every answer carries the
// site's _headers for the requested path.

#include "server/http/HttpResponse.h"
#include "server/http/Request.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Corvan
{

class CSiteRules;
struct CSiteRuleSet;

// What another feature puts into pages: `tag` goes before the end of a page's body when `wants`
// says the request shows the page (live reload's script).
struct CPageTag
{
    const char* tag = nullptr;
    std::function<bool(const CRequest& request)> wants;
};

class CStaticFiles
{
public:
    explicit CStaticFiles(std::string strRoot);

    void SetPageTag(CPageTag pageTag) { m_pageTag = std::move(pageTag); }
    // The site's rule files; without them the folder is served as it is.
    void SetSiteRules(const CSiteRules* pSiteRules) { m_pSiteRules = pSiteRules; }
    // A page with the tag is read twice (first to find the tag's place), so its first byte waits
    // for that; larger pages go out untouched at once, with ranges.
    static constexpr std::int64_t MaxTaggedPageSize = 8 * 1024 * 1024;

    CHttpResponse Answer(const CRequest& request) const;
    // A target that names a dot file or folder: the same answer as a path nothing answers.
    CHttpResponse AnswerHidden(const CRequest& request) const;
    // Whether a file, or a folder's index page, answers the target, as the site's rules judge it.
    bool Answers(const HttpRules::CTarget& target) const;

private:
    CHttpResponse AnswerSite(const CRequest& request, const CSiteRuleSet* pRules) const;
    bool FileAnswers(ServedFiles::EOpenResult opened, const std::string& path) const;
    // What an opened path answers: a file is served with `status`, a folder by its index page or,
    // with `listing`, by a listing; none when nothing answers there.
    std::optional<CHttpResponse> AnswerOpened(const CRequest& request,
                                              std::unique_ptr<ServedFiles::CReadOnlyFile> pFile,
                                              ServedFiles::EOpenResult opened, const std::string& path,
                                              const std::string& fileName, int status, bool listing) const;
    CHttpResponse NotFound(const CRequest& request) const;
    CHttpResponse WithSiteHeaders(const CRequest& request, const CSiteRuleSet* pRules, CHttpResponse response) const;
    CHttpResponse AnswerListing(const CRequest& request, const std::string& path) const;
    CHttpResponse ServeFile(const CRequest& request, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile,
                            const std::string& fileName, int status = 200) const;
    const char* TagFor(const CRequest& request) const;

    std::string m_strRoot;
    CPageTag m_pageTag;
    const CSiteRules* m_pSiteRules = nullptr;
};

} // namespace Corvan
