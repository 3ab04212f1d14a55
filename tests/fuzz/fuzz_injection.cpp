// Pages of any bytes through the live-reload injection. Whatever the page: it comes back whole,
// byte for byte in order, with the tag added exactly once, before a closing body tag or at the
// end; where it goes depends on the page alone, never on the tag.
//
// Input: the page.

#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/PageInjection.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

using CorvanFuzz::Require;

namespace
{

bool IsBodyEndAt(const std::string& page, std::size_t at)
{
    static const char Name[] = "</body";
    for (std::size_t i = 0; i < sizeof Name - 1; ++i)
    {
        if (at + i >= page.size() || std::tolower(static_cast<unsigned char>(page[at + i])) != Name[i])
            return false;
    }
    const std::size_t end = at + sizeof Name - 1;
    return end == page.size() || page[end] == '>' || page[end] == '/' ||
           std::isspace(static_cast<unsigned char>(page[end]));
}

// Where `tag` went into `page` in `result`; npos when `result` is not the page with the tag added once.
std::size_t InsertionPoint(const std::string& page, const std::string& tag, const std::string& result)
{
    if (result.size() != page.size() + tag.size())
        return std::string::npos;
    std::size_t prefix = 0;
    while (prefix < page.size() && page[prefix] == result[prefix])
        ++prefix;
    // The tag may start or end with bytes the page has there too, so several places can give the
    // same result: any place where the tag and the rest of the page fit, a body end if one does.
    std::size_t found = std::string::npos;
    for (std::size_t at = prefix + 1; at-- > 0;)
    {
        if (result.compare(at, tag.size(), tag) == 0 &&
            result.compare(at + tag.size(), std::string::npos, page, at, std::string::npos) == 0 &&
            result.compare(0, at, page, 0, at) == 0)
        {
            if (at == page.size() || IsBodyEndAt(page, at))
                return at;
            found = found == std::string::npos ? at : found;
        }
    }
    return found;
}

std::size_t CheckInjection(const std::string& page, const std::string& tag)
{
    const std::string result = CorvanFuzz::InjectWholePage(page, tag);
    if (page.size() >= 2 && ((page[0] == '\xFF' && page[1] == '\xFE') || (page[0] == '\xFE' && page[1] == '\xFF')))
    {
        Require(result == page, "a UTF-16 page comes back unchanged", page);
        return std::string::npos;
    }
    const std::size_t at = InsertionPoint(page, tag, result);
    Require(at != std::string::npos, "the page comes back whole with the tag added once", page);
    Require(at == page.size() || IsBodyEndAt(page, at), "the tag goes before a closing body tag or at the end",
            page.substr(at, 16) + " in " + page);
    return at;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    const std::string page(reinterpret_cast<const char*>(pData), size);
    const std::size_t at = CheckInjection(page, CorvanFuzz::LiveTag);
    if (at == std::string::npos)
        return 0;
    // A tag that looks like the places the search looks for must land in the same place: the page
    // is read, never the result.
    const std::string otherTag = "</body><!--<script>";
    Require(CorvanFuzz::InjectWholePage(page, otherTag) == page.substr(0, at) + otherTag + page.substr(at),
            "the place does not depend on the tag", page);
    // Markup after the page (on a line of its own) cannot move a body end already found.
    const std::string longer = page + "\n<p>more</p>";
    const std::size_t atLonger = CheckInjection(longer, CorvanFuzz::LiveTag);
    Require(atLonger == (at == page.size() ? longer.size() : at), "text after the page does not move the tag", page);
    return 0;
}
