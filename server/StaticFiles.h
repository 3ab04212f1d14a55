#pragma once

// The folder's files over HTTP: files with validators and byte ranges, folders by their index page
// or a listing, a folder named without its '/' by a redirect. It owns every target that no other
// feature took.

#include "platform/ServerPlatform.h"
#include "server/Request.h"

#include <cstdint>
#include <functional>
#include <string>

struct mg_connection;
struct mg_context;

namespace Corvan
{

class CStaticFiles
{
public:
    explicit CStaticFiles(std::string strRoot);

    // The tag a page gets before the end of its body when a request shows it (live reload's
    // script), or nullptr for none. Called only for pages and listings.
    using PageTag = std::function<const char*(const mg_connection* pConnection)>;
    void SetPageTag(PageTag pageTag) { m_pageTag = std::move(pageTag); }
    // A page with the tag is read twice (first to find the tag's place), so its first byte waits
    // for that; larger pages go out untouched at once, with ranges.
    static constexpr std::int64_t MaxTaggedPageSize = 8 * 1024 * 1024;

    // Takes every target on `pContext`. Register it after the other features: civetweb tries
    // route patterns in the order they were registered.
    void Register(mg_context* pContext);

private:
    static int OnRequest(mg_connection* pConnection, void* pData);

    int Answer(const CRequest& request) const;
    int AnswerFolder(const CRequest& request, const std::string& path) const;
    int RedirectToFolder(const CRequest& request) const;
    int ServeFile(const CRequest& request, const ServerPlatform::CReadOnlyFile& file, const std::string& fileName,
                  const char* pTag) const;
    const char* TagFor(const CRequest& request) const;

    std::string m_strRoot;
    PageTag m_pageTag;
};

} // namespace Corvan
