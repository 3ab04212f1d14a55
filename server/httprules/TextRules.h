#pragma once

// Case-insensitive ASCII text rules shared by the server's files: header names, tokens, suffixes.
// HTTP's names and tokens are ASCII, so no locale takes part.

#include <cstddef>
#include <string_view>

namespace Corvan
{
namespace TextRules
{

constexpr char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

inline bool EndsWithNoCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

inline bool ContainsNoCase(std::string_view text, std::string_view word)
{
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at)
    {
        if (EqualsNoCase(text.substr(at, word.size()), word))
            return true;
    }
    return false;
}

// Takes blanks and tabs off the start of `text`.
inline void SkipSpaces(std::string_view& text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
}

// Moves `pText` past blanks and tabs.
inline void SkipSpaces(const char*& pText)
{
    while (*pText == ' ' || *pText == '\t')
        ++pText;
}

// True when the comma-separated list `list` holds `token` as one of its elements.
inline bool HasToken(std::string_view list, std::string_view token)
{
    std::size_t at = 0;
    while (at < list.size())
    {
        while (at < list.size() && (list[at] == ' ' || list[at] == '\t' || list[at] == ','))
            ++at;
        const std::size_t begin = at;
        while (at < list.size() && list[at] != ',' && list[at] != ' ' && list[at] != '\t')
            ++at;
        if (EqualsNoCase(list.substr(begin, at - begin), token))
            return true;
    }
    return false;
}

} // namespace TextRules
} // namespace Corvan
