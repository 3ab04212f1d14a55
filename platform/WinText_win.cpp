#include "platform/WinText_win.h"

#include <windows.h>

namespace Corvan
{
namespace WinText
{

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t* pWide, std::size_t length)
{
    if (length == 0)
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, pWide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, pWide, static_cast<int>(length), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::string Utf8(const std::wstring& wide)
{
    return Utf8(wide.data(), wide.size());
}

std::string SystemMessage(unsigned long code)
{
    wchar_t* pText = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
    std::string text = length ? Utf8(pText, length) : "error " + std::to_string(code);
    LocalFree(pText);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::wstring NativePath(const std::string& path)
{
    std::wstring wide = Wide(path);
    for (wchar_t& c : wide)
    {
        if (c == L'/')
            c = L'\\';
    }
    // A folder given with its trailing separator ("C:/site/"): the "\\?\" form takes no empty names.
    while (wide.size() > 3 && wide.back() == L'\\')
        wide.pop_back();
    if (wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    if (wide.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

} // namespace WinText
} // namespace Corvan
