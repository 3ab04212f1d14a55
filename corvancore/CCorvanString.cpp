#include "corvancore/CCorvanString.h"

#include <filesystem>
#include <system_error>

namespace Corvan
{

namespace
{
// The characters that end a directory in a path of this platform. Windows also takes the slash.
#ifdef _WIN32
constexpr const wchar_t* NativeSeparators = L"\\/";
#else
constexpr const wchar_t* NativeSeparators = L"/";
#endif

bool IsDriveRoot(const std::wstring& text)
{
    return text.size() == 2 && text[1] == L':' &&
           ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
}

// File names on Linux are bytes that are UTF-8 by convention; wide text there is UTF-32. Encoding it
// ourselves keeps the result independent of the process's locale.
std::string ToUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2)
        {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
            {
                const char32_t low = static_cast<char32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF)
                {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (c < 0x80)
        {
            out += static_cast<char>(c);
        }
        else if (c < 0x800)
        {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::filesystem::path ToFileSystemPath(const std::wstring& text)
{
#ifdef _WIN32
    return std::filesystem::path(text);
#else
    return std::filesystem::path(ToUtf8(text));
#endif
}
} // namespace

CCorvanString::CCorvanString(const wchar_t* text) : m_strText(text ? text : L"") {}

CCorvanString::CCorvanString(const CCorvanString& other) = default;

CCorvanString& CCorvanString::operator=(const CCorvanString& other) = default;

CCorvanString::~CCorvanString() = default;

CCorvanString::operator wchar_t*()
{
    return m_strText.data();
}

CCorvanString CCorvanString::Path(wchar_t separator) const
{
    const std::wstring::size_type last = m_strText.rfind(separator);
    if (last == std::wstring::npos)
        return CCorvanString(L"");
    std::wstring directory = m_strText.substr(0, last);
    if (directory.empty() || IsDriveRoot(directory))
        directory += separator;
    return CCorvanString(directory.c_str());
}

void CCorvanString::RemovePath()
{
    const std::wstring::size_type last = m_strText.find_last_of(NativeSeparators);
    if (last != std::wstring::npos)
        m_strText.erase(0, last + 1);
}

bool CCorvanString::FileExist(CCorvanString path)
{
    if (path.m_strText.empty())
        return false;
    std::error_code error;
    return std::filesystem::is_regular_file(ToFileSystemPath(path.m_strText), error);
}

} // namespace Corvan
