#pragma once

// The one way a fuzz target reports a broken property: say which and with what, then abort, so
// libFuzzer stops and keeps the input as a crash artifact.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace CorvanFuzz
{

// Non-printable bytes as \xNN, so a finding can be read in a terminal.
inline std::string Printable(const std::string& text)
{
    std::string shown;
    for (const char ch : text)
    {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\')
        {
            shown += ch;
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", c);
        shown += escape;
    }
    return shown;
}

inline void Require(bool ok, const char* pProperty, const std::string& detail = std::string())
{
    if (ok)
        return;
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n  %s\n", pProperty, Printable(detail).c_str());
    std::abort();
}

// Strict UTF-8 (shortest forms, no surrogates, nothing above U+10FFFF), written apart from the
// server's table so that one cannot hide a slip in the other.
inline bool IsStrictUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();)
    {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return false;
        std::uint32_t code = length == 1 ? c : c & (0x7F >> length);
        for (int k = 1; k < length; ++k)
        {
            const unsigned char next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

} // namespace CorvanFuzz
