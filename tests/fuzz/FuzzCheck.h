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

} // namespace CorvanFuzz
