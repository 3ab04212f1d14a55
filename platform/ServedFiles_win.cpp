#include "platform/ServedFiles.h"
#include "platform/WinText_win.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace Corvan
{
namespace ServedFiles
{

namespace
{

using WinText::NativePath;
using WinText::Utf8;

// Where the names of a "\\?\" path begin: after the drive ("\\?\C:\") or the share
// ("\\?\UNC\server\share\").
std::size_t FirstNameAt(const std::wstring& native)
{
    if (native.compare(0, 8, L"\\\\?\\UNC\\") != 0)
        return native.size() > 7 ? 7 : native.size();
    std::size_t at = native.find(L'\\', 8);                          // after the server
    at = at == std::wstring::npos ? at : native.find(L'\\', at + 1); // after the share
    return at == std::wstring::npos ? native.size() : at + 1;
}

// True when each name of the path is, ignoring case, the name the file system keeps for it. Windows
// also finds files by other names: short 8.3 aliases (GIT~1 for .git) and names with trailing dots
// or blanks; taking those would walk around the rules about names (no dot names).
bool NamesAreTheirOwn(const std::wstring& native)
{
    std::size_t start = FirstNameAt(native);
    while (start < native.size())
    {
        std::size_t end = native.find(L'\\', start);
        if (end == std::wstring::npos)
            end = native.size();
        const std::wstring name = native.substr(start, end - start);
        if (name.empty() || name.find_first_of(L"*?") != std::wstring::npos)
            return false;
        WIN32_FIND_DATAW found;
        const HANDLE search =
            FindFirstFileExW(native.substr(0, end).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        if (CompareStringOrdinal(found.cFileName, -1, name.c_str(), static_cast<int>(name.size()), TRUE) != CSTR_EQUAL)
            return false;
        start = end + 1;
    }
    return true;
}

// True when the open file or folder was reached by its own names. The usual case costs one call:
// the system's final path is the asked one. Otherwise (a link on the way, or another name) each
// name is looked up.
bool ReachedByOwnNames(HANDLE handle, const std::wstring& native)
{
    std::wstring final(native.size() + 64, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length > 0 && length < final.size() &&
        CompareStringOrdinal(final.data(), static_cast<int>(length), native.data(), static_cast<int>(native.size()),
                             TRUE) == CSTR_EQUAL)
        return true;
    return NamesAreTheirOwn(native);
}

std::int64_t UnixNanoseconds(const FILETIME& time)
{
    // 100-nanosecond steps since 1601-01-01.
    const std::int64_t ticks =
        (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | static_cast<std::int64_t>(time.dwLowDateTime);
    return (ticks - 116444736000000000LL) * 100;
}

} // namespace

CReadOnlyFile::~CReadOnlyFile()
{
    if (m_handle != InvalidHandle)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

EOpenResult CReadOnlyFile::Open(const std::string& path)
{
    // Shared for writing and deleting too: an editor must still be able to save or replace a page
    // while it is being sent.
    const std::wstring native = NativePath(path);
    const HANDLE file =
        CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        const DWORD error = GetLastError();
        if (error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
            error == ERROR_NO_SYSTEM_RESOURCES)
            return EOpenResult::Unavailable;
        return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EOpenResult::Forbidden
                                                                                : EOpenResult::NotFound;
    }
    BY_HANDLE_FILE_INFORMATION info;
    // Only files on a disk (no pipes, consoles or other devices), reached by their own names.
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        !ReachedByOwnNames(file, native))
    {
        CloseHandle(file);
        return EOpenResult::NotFound;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    {
        CloseHandle(file);
        return EOpenResult::Folder;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_info.size = (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const std::int64_t nanoseconds = UnixNanoseconds(info.ftLastWriteTime);
    m_info.mtimeSeconds = nanoseconds / 1000000000;
    m_info.mtimeNanoseconds = nanoseconds % 1000000000;
    m_info.fileId = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return EOpenResult::File;
}

bool CReadOnlyFile::HasWriter() const
{
    // Only an open without write sharing would tell, and while it is held a saving editor's open
    // fails: not asked.
    return false;
}

long long CReadOnlyFile::ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const
{
    // One read is at most 4 GiB less a byte on Windows; callers read in pieces anyway.
    const DWORD chunk = length > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(length);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xffffffff);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD count = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), pBuffer, chunk, &count, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return count;
}

bool ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries)
{
    const std::wstring native = NativePath(folder);
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW((native + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do
    {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0)
            continue;
        DWORD attributes = found.dwFileAttributes;
        // Links are followed, as an open would follow them; a broken one is left out.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            attributes = GetFileAttributesW((native + L'\\' + found.cFileName).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE))
            continue;
        entries.push_back(
            {Utf8(found.cFileName, std::wcslen(found.cFileName)), (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool FindsAnyCase()
{
    return true;
}

} // namespace ServedFiles
} // namespace Corvan
