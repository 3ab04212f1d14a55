#include "platform/FolderWatcher.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Corvan
{

namespace
{

// What counts as a change: files and folders appearing, going or renamed, writes, a touch.
constexpr DWORD ChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                               FILE_NOTIFY_CHANGE_CREATION;

// Changes gathered by the system between two reads. 64 KiB is the most a read may ask for on a
// network share; a burst beyond it is reported as "anything may have changed".
constexpr DWORD BufferBytes = 64 * 1024;

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
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

std::string SystemMessage(DWORD code)
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

// The root as Windows takes it, in the "\\?\" form that has no length limit.
std::wstring NativeRoot(const std::string& root)
{
    std::wstring wide = Wide(root);
    for (wchar_t& c : wide)
    {
        if (c == L'/')
            c = L'\\';
    }
    if (wide.compare(0, 2, L"\\\\") == 0)
        return wide.compare(0, 4, L"\\\\?\\") == 0 ? wide : L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

struct HandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

struct CFolderWatcher::CImpl
{
    std::string root;
    CLimits limits;
    ReadyCallback onReady;
    ChangeCallback onChange;
    FailureCallback onFailure;
    Handle folder;
    Handle stopEvent;
    Handle readEvent;
    OVERLAPPED overlapped{};
    // DWORD-aligned, as the change records require.
    std::vector<DWORD> buffer = std::vector<DWORD>(BufferBytes / sizeof(DWORD));
    std::thread thread;

    void Run();
    bool StartRead(std::string& strReason);
    // Ends a read in progress; the system writes into the buffer until it is ended.
    void CancelRead();
    bool CountEntries(std::string& strReason) const;
    void Report(DWORD bytes);
};

// One watch covers the whole tree, so there is no per-folder limit to meet; the entry count still
// keeps an enormous folder from costing the server a scan it cannot afford at every change.
// Dot folders and links are not entered, as on Linux.
bool CFolderWatcher::CImpl::CountEntries(std::string& strReason) const
{
    std::size_t entries = 0;
    std::vector<std::wstring> pending{NativeRoot(root)};
    while (!pending.empty())
    {
        const std::wstring folderPath = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileExW((folderPath + L"\\*").c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do
        {
            if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0 ||
                IsIgnoredName(Utf8(found.cFileName, std::wcslen(found.cFileName))))
                continue;
            if (++entries >= limits.maxEntries)
            {
                FindClose(search);
                strReason = "the folder holds " + std::to_string(limits.maxEntries) + " files or more";
                return false;
            }
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                pending.push_back(folderPath + L'\\' + found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return true;
}

bool CFolderWatcher::CImpl::StartRead(std::string& strReason)
{
    overlapped = OVERLAPPED{};
    overlapped.hEvent = readEvent.get();
    if (ReadDirectoryChangesW(folder.get(), buffer.data(), BufferBytes, TRUE, ChangeFilter, nullptr, &overlapped,
                              nullptr))
        return true;
    strReason = "cannot watch the folder: " + SystemMessage(GetLastError());
    return false;
}

void CFolderWatcher::CImpl::CancelRead()
{
    DWORD bytes = 0;
    if (CancelIoEx(folder.get(), &overlapped) || GetLastError() != ERROR_NOT_FOUND)
        GetOverlappedResult(folder.get(), &overlapped, &bytes, TRUE);
}

void CFolderWatcher::CImpl::Report(DWORD bytes)
{
    // No records: more changed than the buffer held, and anything may have changed.
    if (bytes == 0)
    {
        onChange(std::string());
        return;
    }
    const auto* pBytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (DWORD offset = 0;;)
    {
        const auto* pRecord = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(pBytes + offset);
        std::string path = Utf8(pRecord->FileName, pRecord->FileNameLength / sizeof(wchar_t));
        // The whole tree is watched, so every name on the way counts: a change inside .git/ is as
        // ignored as .git itself.
        bool ignored = path.empty();
        std::size_t start = 0;
        for (char& c : path)
        {
            if (c == '\\')
                c = '/';
        }
        while (!ignored && start <= path.size())
        {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos)
                end = path.size();
            ignored = IsIgnoredName(path.substr(start, end - start));
            start = end + 1;
        }
        if (!ignored)
            onChange(path);
        if (pRecord->NextEntryOffset == 0)
            return;
        offset += pRecord->NextEntryOffset;
    }
}

void CFolderWatcher::CImpl::Run()
{
    std::string reason;
    // The watch starts before the scan, so a file created meanwhile is still seen.
    if (!StartRead(reason))
    {
        onFailure(reason);
        return;
    }
    if (!CountEntries(reason))
    {
        CancelRead();
        onFailure(reason);
        return;
    }
    onReady();
    const HANDLE waits[2] = {readEvent.get(), stopEvent.get()};
    for (;;)
    {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0)
        {
            CancelRead();
            if (woken != WAIT_OBJECT_0 + 1)
                onFailure("cannot wait for changes: " + SystemMessage(GetLastError()));
            return;
        }
        DWORD bytes = 0;
        if (!GetOverlappedResult(folder.get(), &overlapped, &bytes, FALSE))
        {
            const DWORD error = GetLastError();
            // ERROR_NOTIFY_ENUM_DIR: the system lost track; anything may have changed.
            if (error != ERROR_NOTIFY_ENUM_DIR)
            {
                onFailure("cannot read changes: " + SystemMessage(error));
                return;
            }
            bytes = 0;
        }
        Report(bytes);
        if (!StartRead(reason))
        {
            onFailure(reason);
            return;
        }
    }
}

CFolderWatcher::CFolderWatcher() = default;

CFolderWatcher::~CFolderWatcher()
{
    Stop();
}

void CFolderWatcher::Start(const std::string& root, const CLimits& limits, ReadyCallback onReady,
                           ChangeCallback onChange, FailureCallback onFailure)
{
    Stop();
    m_pImpl = std::make_unique<CImpl>();
    m_pImpl->root = root;
    m_pImpl->limits = limits;
    m_pImpl->onReady = std::move(onReady);
    m_pImpl->onChange = std::move(onChange);
    m_pImpl->onFailure = std::move(onFailure);
    // Shared for everything: watching must never keep anyone from writing, renaming or deleting.
    m_pImpl->folder.reset(CreateFileW(NativeRoot(root).c_str(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    m_pImpl->stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_pImpl->readEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (m_pImpl->folder.get() == INVALID_HANDLE_VALUE || !m_pImpl->stopEvent || !m_pImpl->readEvent)
    {
        m_pImpl->onFailure("cannot watch the folder: " + SystemMessage(GetLastError()));
        m_pImpl.reset();
        return;
    }
    CImpl* pImpl = m_pImpl.get();
    pImpl->thread = std::thread([pImpl] { pImpl->Run(); });
}

void CFolderWatcher::Stop()
{
    if (!m_pImpl)
        return;
    if (m_pImpl->thread.joinable())
    {
        SetEvent(m_pImpl->stopEvent.get());
        m_pImpl->thread.join();
    }
    m_pImpl.reset();
}

} // namespace Corvan
