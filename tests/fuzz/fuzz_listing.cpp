// Folder listings of names a user (or a hostile download) put on disk. Whatever the names: each one a
// link can reach is listed once, in order, as a link that decodes back to it and a text that shows it; no name can
// open markup, leave an attribute or move where the live-reload tag goes.
//
// Input: NUL-separated fields; the first is the request target of the folder, each other one a
// name, a folder when it ends in '/'.

#include "server/files/FolderListing.h"
#include "server/httprules/Escaping.h"
#include "server/httprules/Target.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/PageInjection.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace Corvan;
using CorvanFuzz::Require;

namespace
{

const std::string PageEnd = "</body></html>\n";

// Undoes HtmlEscape; false for markup characters or an '&' that starts no entity the server writes.
bool Unescape(const std::string& text, std::string& plain)
{
    static const char* const Entities[][2] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}};
    plain.clear();
    for (std::size_t i = 0; i < text.size();)
    {
        if (text[i] == '<' || text[i] == '>' || text[i] == '"' || text[i] == '\'')
            return false;
        if (text[i] != '&')
        {
            plain += text[i++];
            continue;
        }
        const auto* pEntity = std::find_if(std::begin(Entities), std::end(Entities),
                                           [&](const char* const* pPair)
                                           { return text.compare(i, std::strlen(pPair[0]), pPair[0]) == 0; });
        if (pEntity == std::end(Entities))
            return false;
        plain += (*pEntity)[1];
        i += std::strlen((*pEntity)[0]);
    }
    return true;
}

// Undoes PercentEncode; false for anything but unreserved characters, "%XX" and a final '/'.
bool PercentDecode(const std::string& link, std::string& plain)
{
    plain.clear();
    for (std::size_t i = 0; i < link.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(link[i]);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || (c == '/' && i + 1 == link.size()))
        {
            plain += link[i];
            continue;
        }
        if (c != '%' || i + 2 >= link.size() || !std::isxdigit(static_cast<unsigned char>(link[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(link[i + 2])))
            return false;
        plain += static_cast<char>(std::stoi(link.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

std::string Between(const std::string& page, const std::string& open, const std::string& close)
{
    const std::size_t begin = page.find(open);
    Require(begin != std::string::npos, "the page has its frame", open);
    const std::size_t end = page.find(close, begin + open.size());
    Require(end != std::string::npos, "the page has its frame", close);
    return page.substr(begin + open.size(), end - begin - open.size());
}

void CheckEntry(const std::string& line, const std::string& shown)
{
    const std::string open = "<li><a href=\"", close = "</a></li>";
    Require(line.compare(0, open.size(), open) == 0 && line.size() >= open.size() + close.size() &&
                line.compare(line.size() - close.size(), close.size(), close) == 0,
            "each entry is one list item", line);
    const std::string inner = line.substr(open.size(), line.size() - open.size() - close.size());
    const std::size_t quote = inner.find("\">");
    Require(quote != std::string::npos, "each entry is one link", line);
    std::string decoded;
    Require(PercentDecode(inner.substr(0, quote), decoded) && decoded == shown, "the link leads to the name",
            line + " for " + shown);
    Require(Unescape(inner.substr(quote + 2), decoded) && decoded == shown, "the text shows the name",
            line + " for " + shown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < size; ++i)
    {
        if (pData[i] == '\0')
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(pData[i]);
    }

    // The folder as StaticFiles names it: the decoded target, or the root for one it would refuse.
    HttpRules::CTarget target;
    if (HttpRules::DecodeTarget(fields[0].c_str(), target) == HttpRules::ETarget::BadRequest)
        target = HttpRules::CTarget();
    const std::string urlPath = "/" + target.relativePath + (target.relativePath.empty() ? "" : "/");

    // What a folder can hold: names without '/' or NUL, each once.
    std::vector<ServedFiles::CFolderEntry> entries;
    for (std::size_t i = 1; i < fields.size(); ++i)
    {
        ServedFiles::CFolderEntry entry;
        entry.isFolder = !fields[i].empty() && fields[i].back() == '/';
        entry.name = fields[i].substr(0, fields[i].size() - (entry.isFolder ? 1 : 0));
        const bool taken =
            std::any_of(entries.begin(), entries.end(),
                        [&](const ServedFiles::CFolderEntry& other) { return other.name == entry.name; });
        if (!entry.name.empty() && entry.name.find('/') == std::string::npos && !taken)
            entries.push_back(entry);
    }

    const std::string page = FolderListing::Page(urlPath, entries);
    std::string title;
    Require(Unescape(Between(page, "<title>", "</title>"), title) && title == "Index of " + urlPath,
            "the title shows the folder", page);
    Require(Between(page, "<h1>", "</h1>") == Between(page, "<title>", "</title>"), "the heading is the title", page);

    // The expected entries: names a request can reach (visible, no backslash), folders first, then
    // by name.
    std::vector<std::string> expected;
    if (urlPath != "/")
        expected.push_back("../");
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ServedFiles::CFolderEntry& a, const ServedFiles::CFolderEntry& b)
                     { return a.isFolder != b.isFolder ? a.isFolder : a.name < b.name; });
    for (const ServedFiles::CFolderEntry& entry : entries)
    {
        if (entry.name[0] != '.' && entry.name.find('\\') == std::string::npos)
            expected.push_back(entry.name + (entry.isFolder ? "/" : ""));
    }
    std::string list = Between(page, "\n<ul>\n", "</ul>\n");
    // Split at the items' ends, not at line breaks: a name may hold a line break.
    const std::string itemEnd = "</a></li>\n";
    for (const std::string& shown : expected)
    {
        const std::size_t end = list.find(itemEnd);
        Require(end != std::string::npos, "every name is listed", shown);
        CheckEntry(list.substr(0, end + itemEnd.size() - 1), shown);
        list.erase(0, end + itemEnd.size());
    }
    Require(list.empty(), "nothing but the names is listed", list);
    Require(page.size() >= PageEnd.size() && page.compare(page.size() - PageEnd.size(), PageEnd.size(), PageEnd) == 0,
            "the page ends with its body", page);

    // Names are text, so the live-reload tag still goes right before the listing's own body end.
    std::string tagged = page;
    tagged.insert(page.size() - PageEnd.size(), CorvanFuzz::LiveTag);
    Require(CorvanFuzz::InjectWholePage(page) == tagged, "no name moves the live-reload tag", page);
    return 0;
}
