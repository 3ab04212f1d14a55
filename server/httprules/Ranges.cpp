#include "server/httprules/Ranges.h"

#include "server/httprules/TextRules.h"
#include <cctype>

namespace Corvan
{
namespace HttpRules
{

namespace
{

// Parses up to 18 decimal digits (no overflow); advances pText past them.
bool ParseNumber(const char*& pText, std::int64_t& value)
{
    value = 0;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*pText)))
    {
        if (++digits > 18)
            return false;
        value = value * 10 + (*pText - '0');
        ++pText;
    }
    return digits > 0;
}

} // namespace

ERange ParseRange(const char* pRange, std::int64_t size, std::int64_t& first, std::int64_t& last)
{
    const char* p = pRange;
    TextRules::SkipSpaces(p);
    if (!TextRules::StartsWithNoCase(p, "bytes="))
        return ERange::Whole;
    p += 6;
    TextRules::SkipSpaces(p);
    std::int64_t start = -1, end = -1;
    if (*p == '-')
    {
        ++p;
        if (!ParseNumber(p, end))
            return ERange::Whole;
    }
    else
    {
        if (!ParseNumber(p, start) || *p++ != '-')
            return ERange::Whole;
        if (std::isdigit(static_cast<unsigned char>(*p)) && !ParseNumber(p, end))
            return ERange::Whole;
    }
    TextRules::SkipSpaces(p);
    if (*p != '\0') // a list of ranges, or trailing garbage
        return ERange::Whole;
    if (start < 0) // suffix: the last `end` bytes
    {
        if (end == 0 || size == 0)
            return ERange::Unsatisfiable;
        first = end >= size ? 0 : size - end;
        last = size - 1;
        return ERange::Partial;
    }
    if (end >= 0 && end < start)
        return ERange::Whole;
    if (start >= size)
        return ERange::Unsatisfiable;
    first = start;
    last = end < 0 || end >= size ? size - 1 : end;
    return ERange::Partial;
}

} // namespace HttpRules
} // namespace Corvan
