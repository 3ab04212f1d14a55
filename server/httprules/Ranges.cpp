#include "server/httprules/Ranges.h"

#include "server/httprules/TextRules.h"
#include <cctype>

namespace Corvan
{
namespace HttpRules
{

namespace
{

// Parses up to 18 decimal digits (no overflow) at the start of `text` and takes them off it.
bool ParseNumber(std::string_view& text, std::int64_t& value)
{
    value = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])); ++digits)
    {
        if (digits == 18)
            return false;
        value = value * 10 + (text[digits] - '0');
    }
    text.remove_prefix(digits);
    return digits > 0;
}

} // namespace

ERange ParseRange(std::string_view range, std::int64_t size, std::int64_t& first, std::int64_t& last)
{
    TextRules::SkipSpaces(range);
    if (!TextRules::StartsWithNoCase(range, "bytes="))
        return ERange::Whole;
    range.remove_prefix(6);
    TextRules::SkipSpaces(range);
    std::int64_t start = -1, end = -1;
    if (!range.empty() && range[0] == '-')
    {
        range.remove_prefix(1);
        if (!ParseNumber(range, end))
            return ERange::Whole;
    }
    else
    {
        if (!ParseNumber(range, start) || range.empty() || range[0] != '-')
            return ERange::Whole;
        range.remove_prefix(1);
        if (!range.empty() && std::isdigit(static_cast<unsigned char>(range[0])) && !ParseNumber(range, end))
            return ERange::Whole;
    }
    TextRules::SkipSpaces(range);
    if (!range.empty()) // a list of ranges, or trailing garbage
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
