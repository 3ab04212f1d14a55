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

#ifdef _WIN32
std::filesystem::path ToFileSystemPath(const std::wstring& text)
{
    return std::filesystem::path(text);
}
#else
// File names here are bytes, UTF-8 by convention, and wide text is UTF-32. Encoding it ourselves keeps
// the result independent of the process's locale.
std::filesystem::path ToFileSystemPath(const std::wstring& text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t wide : text)
    {
        const auto c = static_cast<char32_t>(wide);
        if (c < 0x80)
        {
            bytes += static_cast<char>(c);
        }
        else if (c < 0x800)
        {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return std::filesystem::path(bytes);
}
#endif
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
