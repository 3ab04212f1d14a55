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

bool IsValidUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* pEnd = p + text.size();
    while (p < pEnd)
    {
        const unsigned char c = *p++;
        const auto* pLead = std::find_if(std::begin(Utf8Leads), std::end(Utf8Leads),
                                         [c](const CUtf8Lead& lead) { return c >= lead.first && c <= lead.last; });
        if (pLead == std::end(Utf8Leads))
            return false;
        unsigned char low = pLead->low, high = pLead->high;
        for (int i = 0; i < pLead->continuation; ++i, ++p)
        {
            if (p >= pEnd || *p < low || *p > high)
                return false;
            low = 0x80, high = 0xBF;
        }
    }
    return true;
}

} // namespace HttpRules
} // namespace Corvan
