#include "platform/ServedFolder.h"
#include "platform/WinText_win.h"

#include <windows.h>

namespace Corvan
{
namespace ServedFolder
{

bool Current(std::string& strFolder, std::string& strError)
{
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(length, L'\0');
    const DWORD written = length ? GetCurrentDirectoryW(length, buffer.data()) : 0;
    if (written == 0 || written >= length)
    {
        strError = "cannot find the current folder: " + WinText::SystemMessage(GetLastError());
        return false;
    }
    buffer.resize(written);
    // The long form of every name (a folder entered by its 8.3 alias would fail the name checks).
    const DWORD longLength = GetLongPathNameW(buffer.c_str(), nullptr, 0);
    std::wstring longer(longLength, L'\0');
    const DWORD longWritten = longLength ? GetLongPathNameW(buffer.c_str(), longer.data(), longLength) : 0;
    if (longWritten > 0 && longWritten < longLength)
    {
        longer.resize(longWritten);
        buffer = longer;
    }
    if (buffer.size() > 3 && buffer.back() == L'\\')
        buffer.pop_back();
    strFolder = WinText::Utf8(buffer);
    for (char& c : strFolder)
    {
        if (c == '\\')
            c = '/';
    }
    return true;
}

void ReleaseWorkingDirectory()
{
    // The system folder: always there, and never one a user replaces.
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        SetCurrentDirectoryW(system);
}

bool CanServe(const std::string& folder, std::string& strError)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((WinText::NativePath(folder) + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
    {
        strError = "cannot serve " + folder + ": " + WinText::SystemMessage(GetLastError());
        return false;
    }
    FindClose(search);
    return true;
}

} // namespace ServedFolder
} // namespace Corvan
