#include "server/files/FolderListing.h"

#include "server/httprules/Escaping.h"
#include "server/httprules/Target.h"

#include <algorithm>

namespace Corvan
{
namespace FolderListing
{

std::string Page(const std::string& urlPath, std::vector<ServedFiles::CFolderEntry> entries)
{
    // Only names a link can reach: not dot names, and none that no request target decodes to
    // (not UTF-8, a backslash, a control character), whose links would only answer 400.
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const ServedFiles::CFolderEntry& entry)
                                 { return !HttpRules::IsLinkableName(entry.name); }),
                  entries.end());
    std::sort(entries.begin(), entries.end(),
              [](const ServedFiles::CFolderEntry& a, const ServedFiles::CFolderEntry& b)
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
    for (const ServedFiles::CFolderEntry& entry : entries)
    {
        const std::string suffix = entry.isFolder ? "/" : "";
        page += "<li><a href=\"" + HttpRules::PercentEncode(entry.name) + suffix + "\">" +
                HttpRules::HtmlEscape(entry.name) + suffix + "</a></li>\n";
    }
    page += "</ul>\n</body></html>\n";
    return page;
}

} // namespace FolderListing
} // namespace Corvan
