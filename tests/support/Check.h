#pragma once

// Plain checks with a summary, for the test programs that run without QtTest (the Qt-free layers,
// on Linux and under wine): a failed check prints what failed and the program goes on.

#include <iostream>
#include <string>

namespace CorvanTest
{

inline int g_nPassed = 0;
inline int g_nFailed = 0;

inline void Check(bool ok, const std::string& what, const std::string& detail = std::string())
{
    if (ok)
    {
        ++g_nPassed;
        return;
    }
    ++g_nFailed;
    std::cout << "FAIL: " << what << (detail.empty() ? "" : ": ") << detail << std::endl;
}

// The same for a detail in wide characters (a Windows path); anything beyond ASCII is shown as \uXXXX.
inline void Check(bool ok, const std::string& what, const std::wstring& detail)
{
    std::string text;
    for (const wchar_t c : detail)
    {
        if (c >= 0x20 && c < 0x7F)
        {
            text += static_cast<char>(c);
            continue;
        }
        static const char digits[] = "0123456789ABCDEF";
        text += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            text += digits[(static_cast<unsigned long>(c) >> shift) & 0xF];
    }
    Check(ok, what, text);
}

inline void CheckEqual(const std::string& actual, const std::string& expected, const std::string& what)
{
    Check(actual == expected, what, "got \"" + actual + "\", expected \"" + expected + "\"");
}

// Prints the summary; the result is the program's exit code.
inline int Summary()
{
    std::cout << g_nPassed << " passed, " << g_nFailed << " failed" << std::endl;
    return g_nFailed == 0 ? 0 : 1;
}

} // namespace CorvanTest
