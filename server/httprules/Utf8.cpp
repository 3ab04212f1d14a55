#include "server/httprules/Utf8.h"

#include <algorithm>
#include <iterator>

namespace Corvan
{
namespace HttpRules
{

namespace
{

// The well-formed UTF-8 lead bytes (Unicode's table 3-7): how many bytes follow each and the
// range the first of them must lie in, which rules out overlong forms, surrogates and anything
// above U+10FFFF.
struct CUtf8Lead
{
    unsigned char first, last; // lead bytes
    int continuation;
    unsigned char low, high; // first continuation byte
};
constexpr CUtf8Lead Utf8Leads[] = {
    {0x00, 0x7F, 0, 0, 0},       {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF},
    {0xE1, 0xEC, 2, 0x80, 0xBF}, {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF},
    {0xF0, 0xF0, 3, 0x90, 0xBF}, {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};

} // namespace

std::size_t Utf8CharacterLength(std::string_view text)
{
    if (text.empty())
        return 0;
    const unsigned char c = static_cast<unsigned char>(text[0]);
    const auto* pLead = std::find_if(std::begin(Utf8Leads), std::end(Utf8Leads),
                                     [c](const CUtf8Lead& lead) { return c >= lead.first && c <= lead.last; });
    if (pLead == std::end(Utf8Leads) || text.size() <= static_cast<std::size_t>(pLead->continuation))
        return 0;
    unsigned char low = pLead->low, high = pLead->high;
    for (int i = 1; i <= pLead->continuation; ++i)
    {
        const unsigned char next = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
        if (next < low || next > high)
            return 0;
        low = 0x80, high = 0xBF;
    }
    return static_cast<std::size_t>(pLead->continuation) + 1;
}

bool IsValidUtf8(std::string_view text)
{
    while (!text.empty())
    {
        const std::size_t length = Utf8CharacterLength(text);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

} // namespace HttpRules
} // namespace Corvan
