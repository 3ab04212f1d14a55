#include "platform/ServerPlatform.h"
#include "platform/WinText_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cwchar>
#include <memory>

namespace Corvan
{
namespace ServerPlatform
{

namespace
{

using WinText::SystemMessage;
using WinText::Utf8;
using WinText::Wide;

// Set by the console's Ctrl+C, Ctrl+Break and close; WaitForStopSignal waits for it.
HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    SetEvent(g_stopEvent);
    // After a close, log-off or shut-down the system ends the process as soon as this returns: hold
    // it here so the main thread can stop the server (the system waits a few seconds at most).
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

// A '/'-separated UTF-8 path as Windows takes it: backslashes, and the "\\?\" form, which lifts the
// 260-character limit and hands every name to the file system exactly as written (no trailing dots
// or blanks dropped, no device names such as CON found in any folder).
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

void BlockStopSignals()
{
    if (!g_stopEvent)
        g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WaitForStopSignal()
{
    WaitForSingleObject(g_stopEvent, INFINITE);
}

bool CurrentFolder(std::string& strFolder, std::string& strError)
{
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(length, L'\0');
    const DWORD written = length ? GetCurrentDirectoryW(length, buffer.data()) : 0;
    if (written == 0 || written >= length)
    {
        strError = "cannot find the current folder: " + SystemMessage(GetLastError());
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
    strFolder = Utf8(buffer);
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

bool CanServeFolder(const std::string& folder, std::string& strError)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((NativePath(folder) + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
    {
        strError = "cannot serve " + folder + ": " + SystemMessage(GetLastError());
        return false;
    }
    FindClose(search);
    return true;
}

void RaiseOpenFileLimit()
{
    // Windows sets no per-process limit on file and socket handles that a program could raise.
}

long long FreeFileDescriptors()
{
    return 1 << 20;
}

void PrepareListeningSocket(std::uintptr_t socket)
{
    const BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
}

EPortCheck CheckLoopbackPort(int port, std::string& strError)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    {
        strError = "cannot use sockets: " + SystemMessage(static_cast<DWORD>(WSAGetLastError()));
        return EPortCheck::OtherError;
    }
    EPortCheck result = EPortCheck::Free;
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET)
    {
        strError = "cannot open a socket: " + SystemMessage(static_cast<DWORD>(WSAGetLastError()));
        result = EPortCheck::OtherError;
    }
    else
    {
        // As the server binds: exclusively, so no other program can take the port from under it.
        const BOOL on = TRUE;
        setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        {
            const int error = WSAGetLastError();
            // WSAEACCES: another program holds the port for its exclusive use.
            const bool inUse = error == WSAEADDRINUSE || error == WSAEACCES;
            result = inUse ? EPortCheck::InUse : EPortCheck::OtherError;
            strError = inUse ? "port " + std::to_string(port) + " is already in use"
                             : "cannot listen on port " + std::to_string(port) + ": " +
                                   SystemMessage(static_cast<DWORD>(error));
        }
        closesocket(socket);
    }
    WSACleanup();
    return result;
}

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

} // namespace ServerPlatform
} // namespace Corvan
