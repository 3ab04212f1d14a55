#pragma once

// The folder's files over HTTP: files with validators and byte ranges, folders by their index page
// or a listing, a folder named without its '/' by a redirect. It owns every target that no other
// feature took.

#include "server/HttpResponse.h"
#include "server/Request.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Corvan
{

namespace ServedFiles
{
class CReadOnlyFile;
}

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
    // A page with the tag is read twice (first to find the tag's place), so its first byte waits
    // for that; larger pages go out untouched at once, with ranges.
    static constexpr std::int64_t MaxTaggedPageSize = 8 * 1024 * 1024;

    CHttpResponse Answer(const CRequest& request) const;

private:
    CHttpResponse AnswerFolder(const CRequest& request, const std::string& path) const;
    CHttpResponse RedirectToFolder(const CRequest& request) const;
    CHttpResponse ServeFile(const CRequest& request, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile,
                            const std::string& fileName, const char* pTag) const;
    const char* TagFor(const CRequest& request) const;

    std::string m_strRoot;
    CPageTag m_pageTag;
};

} // namespace Corvan
