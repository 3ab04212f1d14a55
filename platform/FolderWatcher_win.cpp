#include "platform/FolderWatcher.h"
#include "platform/WinText_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Corvan
{

namespace
{

using WinText::SystemMessage;
using WinText::Utf8;
using WinText::Wide;

// What counts as a change: files and folders appearing, going or renamed, writes, a touch.
constexpr DWORD ChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                               FILE_NOTIFY_CHANGE_CREATION;

// Changes gathered by the system between two reads. 64 KiB is the most a read may ask for on a
// network share; a burst beyond it is reported as "anything may have changed".
constexpr DWORD BufferBytes = 64 * 1024;

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

// One watched folder: its handle, the event its reads complete with, and the buffer the system
// writes the changes into until the read ends.
struct CWatch
{
    Handle folder;
    Handle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped{};
    // DWORD-aligned, as the change records require.
    std::vector<DWORD> buffer = std::vector<DWORD>(BufferBytes / sizeof(DWORD));
    bool reading = false;

    bool IsOpen() const { return folder && folder.get() != INVALID_HANDLE_VALUE; }

    // Shared for everything: watching must never keep anyone from writing, renaming or deleting.
    bool Open(const std::wstring& path)
    {
        Close();
        folder.reset(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
        return IsOpen();
    }

    bool StartRead(BOOL subtree, DWORD filter)
    {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event.get();
        reading = ReadDirectoryChangesW(folder.get(), buffer.data(), BufferBytes, subtree, filter, nullptr, &overlapped,
                                        nullptr) != 0;
        return reading;
    }

    // Ends a read in progress (the system writes into the buffer until it has) and lets go of the
    // folder, so that it can be removed.
    void Close()
    {
        if (reading)
        {
            DWORD bytes = 0;
            if (CancelIoEx(folder.get(), &overlapped) || GetLastError() != ERROR_NOT_FOUND)
                GetOverlappedResult(folder.get(), &overlapped, &bytes, TRUE);
            reading = false;
        }
        folder.reset();
    }
};

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file's size and last write time, read without opening it for data: no writer is ever kept from
// the file. False for a file that is gone; `isFolder` tells a folder.
struct CLook
{
    ULONGLONG size = 0;
    ULONGLONG written = 0;
    bool operator==(const CLook& other) const { return size == other.size && written == other.written; }
};

bool Look(const std::wstring& path, CLook& look, bool& isFolder)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    look.size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    look.written = (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

// The system tells no close of a file: a written file counts as closed once two looks this far
// apart find the same size and last write time.
constexpr ULONGLONG SettleMs = 10;

// The folder above, in the "\\?\" form; empty above a drive's or share's root.
std::wstring Parent(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L'\\');
    const std::size_t top = path.compare(0, 8, L"\\\\?\\UNC\\") == 0 ? 8 : 7; // "\\?\C:\" or "\\?\UNC\"
    if (slash == std::wstring::npos || slash < top)
        return std::wstring();
    std::wstring parent = path.substr(0, slash);
    return parent.size() == 6 ? parent + L'\\' : parent; // "\\?\C:" is no folder, "\\?\C:\" is
}

} // namespace

struct CFolderWatcher::CImpl
{
    std::string root;
    std::wstring nativeRoot;
    CLimits limits;
    ReadyCallback onReady;
    ChangeCallback onChange;
    RootGoneCallback onRootGone;
    FailureCallback onFailure;
    // Written files not yet seen to stop changing: their path below the root, the last look, and
    // when to look again.
    struct CSettling
    {
        std::wstring path;
        CLook look;
        ULONGLONG lookAt = 0;
    };
    std::map<std::string, CSettling> settling;
    std::atomic<std::uint64_t> reported{0};
    // Changes the system handed over are being reported. What it still holds is not known here: a
    // reader that asks may miss a change of the last moment, and hears of it next.
    std::atomic<bool> handling{false};
    CWatch tree;   // the root and everything below it
    CWatch anchor; // the nearest existing folder above the root: tells when the root's name comes and goes
    bool anchorIsParent = false;
    Handle stopEvent;
    std::thread thread;

    void Run();
    // Watches the root's tree if there is one at its path; false with a reason when it is too big.
    bool WatchRoot(std::string& strReason);
    void WatchAnchor();
    // The root's name was removed, renamed or given to another folder: the old tree is dropped, and
    // a folder now at the root's path is watched and reported whole.
    bool RootChanged(bool gone, std::string& strReason);
    bool HandleTree(std::string& strReason);
    bool HandleAnchor(std::string& strReason);
    bool CountEntries(std::string& strReason) const;
    void Report(const CWatch& watch, DWORD bytes);
    void ReportRecord(const std::string& path, const std::wstring& name, DWORD action);
    // Reports the written files that stopped changing; the time until the next look is due.
    DWORD LookAgain();
};

// One watch covers the whole tree, so there is no per-folder limit to meet; the entry count still
// keeps an enormous folder from costing the server a scan it cannot afford at every change.
// Dot folders and links are not entered, as on Linux.
bool CFolderWatcher::CImpl::CountEntries(std::string& strReason) const
{
    std::size_t entries = 0;
    std::vector<std::wstring> pending{nativeRoot};
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

bool CFolderWatcher::CImpl::WatchRoot(std::string& strReason)
{
    // The watch starts before the scan, so a file created meanwhile is still seen. A root that is
    // not there (or goes while this runs) is watched once it is back.
    if (!tree.Open(nativeRoot))
        return true;
    if (!tree.StartRead(TRUE, ChangeFilter))
    {
        const DWORD error = GetLastError();
        tree.Close();
        // A file system that cannot report changes at all (some network shares): said, not stale.
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED)
        {
            strReason = "the folder's file system does not report changes";
            return false;
        }
        return true;
    }
    if (CountEntries(strReason))
        return true;
    tree.Close();
    return false;
}

void CFolderWatcher::CImpl::WatchAnchor()
{
    anchor.Close();
    anchorIsParent = false;
    for (std::wstring folder = Parent(nativeRoot); !folder.empty(); folder = Parent(folder))
    {
        if (anchor.Open(folder) && anchor.StartRead(FALSE, FILE_NOTIFY_CHANGE_DIR_NAME))
        {
            anchorIsParent = folder == Parent(nativeRoot);
            return;
        }
        anchor.Close();
    }
}

bool CFolderWatcher::CImpl::RootChanged(bool gone, std::string& strReason)
{
    tree.Close();
    settling.clear();
    if (gone)
        onRootGone();
    // Anchor first, then look: a root that comes back meanwhile is not missed.
    WatchAnchor();
    if (!IsFolder(nativeRoot))
        return true;
    if (!WatchRoot(strReason))
        return false;
    onChange(std::string(), EChange::Everything);
    return true;
}

void CFolderWatcher::CImpl::Report(const CWatch& watch, DWORD bytes)
{
    // No records: more changed than the buffer held, and anything may have changed.
    if (bytes == 0)
    {
        onChange(std::string(), EChange::Everything);
        return;
    }
    const auto* pBytes = reinterpret_cast<const unsigned char*>(watch.buffer.data());
    for (DWORD offset = 0;;)
    {
        const auto* pRecord = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(pBytes + offset);
        std::string path = Utf8(pRecord->FileName, pRecord->FileNameLength / sizeof(wchar_t));
        for (char& c : path)
        {
            if (c == '\\')
                c = '/';
        }
        // The whole tree is watched, so every name on the way counts: a change inside .git/ is as
        // ignored as .git itself.
        bool ignored = path.empty();
        for (std::size_t start = 0; !ignored && start <= path.size();)
        {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos)
                end = path.size();
            ignored = IsIgnoredName(path.substr(start, end - start));
            start = end + 1;
        }
        if (!ignored)
            ReportRecord(path, std::wstring(pRecord->FileName, pRecord->FileNameLength / sizeof(wchar_t)),
                         pRecord->Action);
        if (pRecord->NextEntryOffset == 0)
            return;
        offset += pRecord->NextEntryOffset;
    }
}

void CFolderWatcher::CImpl::ReportRecord(const std::string& path, const std::wstring& name, DWORD action)
{
    if (action == FILE_ACTION_REMOVED || action == FILE_ACTION_RENAMED_OLD_NAME)
    {
        settling.erase(path);
        return onChange(path, EChange::Removed);
    }
    const std::wstring full = nativeRoot + L'\\' + name;
    CLook look;
    bool isFolder = false;
    const bool there = Look(full, look, isFolder);
    if (!there)
    {
        // Gone again already (an editor's temporary file, renamed into place): it came, whole, and
        // its removal follows.
        if (action == FILE_ACTION_ADDED || action == FILE_ACTION_RENAMED_NEW_NAME)
            onChange(path, EChange::MovedIn);
        return;
    }
    if (isFolder)
    {
        // A folder's own "modified" is a change of its entries, which report themselves.
        if (action != FILE_ACTION_MODIFIED)
            onChange(path, EChange::Folder);
        return;
    }
    if (action == FILE_ACTION_RENAMED_NEW_NAME)
    {
        settling.erase(path);
        return onChange(path, EChange::MovedIn);
    }
    settling[path] = {full, look, GetTickCount64() + SettleMs};
    onChange(path, action == FILE_ACTION_ADDED ? EChange::Created : EChange::Written);
}

DWORD CFolderWatcher::CImpl::LookAgain()
{
    const ULONGLONG now = GetTickCount64();
    ULONGLONG next = INFINITE;
    for (auto it = settling.begin(); it != settling.end();)
    {
        CSettling& file = it->second;
        CLook look;
        bool isFolder = false;
        if (file.lookAt <= now)
        {
            const bool there = Look(file.path, look, isFolder);
            if (there && !(look == file.look))
            {
                file.look = look;
                file.lookAt = now + SettleMs;
            }
            else
            {
                if (there)
                    onChange(it->first, EChange::Closed);
                it = settling.erase(it); // a file that went has its removal reported
                continue;
            }
        }
        next = std::min(next, file.lookAt - now);
        ++it;
    }
    return static_cast<DWORD>(next);
}

bool CFolderWatcher::CImpl::HandleTree(std::string& strReason)
{
    DWORD bytes = 0;
    const bool read = GetOverlappedResult(tree.folder.get(), &tree.overlapped, &bytes, FALSE);
    tree.reading = false;
    // ERROR_NOTIFY_ENUM_DIR: the system lost track, and anything may have changed. Any other
    // failure means the root went (a removed folder ends its reads): look again.
    if (!read && GetLastError() != ERROR_NOTIFY_ENUM_DIR)
        return RootChanged(!IsFolder(nativeRoot), strReason);
    handling = true;
    Report(tree, read ? bytes : 0);
    handling = false;
    if (!tree.StartRead(TRUE, ChangeFilter))
        return RootChanged(!IsFolder(nativeRoot), strReason);
    return true;
}

bool CFolderWatcher::CImpl::HandleAnchor(std::string& strReason)
{
    DWORD bytes = 0;
    const bool read = GetOverlappedResult(anchor.folder.get(), &anchor.overlapped, &bytes, FALSE);
    anchor.reading = false;
    // The anchor itself went, or a folder above the root changed while the root is away: look again.
    if (!read || bytes == 0 || !anchorIsParent || !tree.IsOpen())
        return RootChanged(tree.IsOpen() && !IsFolder(nativeRoot), strReason);
    const std::wstring rootName = nativeRoot.substr(nativeRoot.find_last_of(L'\\') + 1);
    const auto* pBytes = reinterpret_cast<const unsigned char*>(anchor.buffer.data());
    bool rootNamed = false;
    bool gone = false;
    for (DWORD offset = 0;;)
    {
        const auto* pRecord = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(pBytes + offset);
        if (CompareStringOrdinal(pRecord->FileName, static_cast<int>(pRecord->FileNameLength / sizeof(wchar_t)),
                                 rootName.c_str(), static_cast<int>(rootName.size()), TRUE) == CSTR_EQUAL)
        {
            rootNamed = true;
            gone |= pRecord->Action == FILE_ACTION_REMOVED || pRecord->Action == FILE_ACTION_RENAMED_OLD_NAME;
        }
        if (pRecord->NextEntryOffset == 0)
            break;
        offset += pRecord->NextEntryOffset;
    }
    if (rootNamed)
        return RootChanged(gone, strReason);
    if (!anchor.StartRead(FALSE, FILE_NOTIFY_CHANGE_DIR_NAME))
        WatchAnchor();
    return true;
}

void CFolderWatcher::CImpl::Run()
{
    std::string reason;
    WatchAnchor();
    if (!WatchRoot(reason))
    {
        anchor.Close();
        onFailure(reason);
        return;
    }
    // A share reports the changes made through this computer only, or none at all.
    const bool remote = nativeRoot.compare(0, 8, L"\\\\?\\UNC\\") == 0 ||
                        GetDriveTypeW((nativeRoot.substr(4, 2) + L"\\").c_str()) == DRIVE_REMOTE;
    onReady(NetworkCaveat(remote ? "a network share" : ""));
    for (;;)
    {
        HANDLE waits[3] = {stopEvent.get()};
        DWORD count = 1;
        CWatch* watches[3] = {nullptr};
        for (CWatch* pWatch : {&tree, &anchor})
        {
            if (pWatch->reading)
            {
                watches[count] = pWatch;
                waits[count++] = pWatch->event.get();
            }
        }
        const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, LookAgain());
        bool ok = true;
        if (woken == WAIT_TIMEOUT)
            continue;
        if (woken == WAIT_OBJECT_0)
        {
            tree.Close();
            anchor.Close();
            return;
        }
        if (woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + count)
        {
            ok = watches[woken - WAIT_OBJECT_0] == &tree ? HandleTree(reason) : HandleAnchor(reason);
        }
        else
        {
            ok = false;
            reason = "cannot wait for changes: " + SystemMessage(GetLastError());
        }
        if (!ok)
        {
            tree.Close();
            anchor.Close();
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
                           ChangeCallback onChange, RootGoneCallback onRootGone, FailureCallback onFailure)
{
    Stop();
    m_pImpl = std::make_unique<CImpl>();
    m_pImpl->root = root;
    m_pImpl->nativeRoot = NativeRoot(root);
    m_pImpl->limits = limits;
    m_pImpl->onReady = std::move(onReady);
    CImpl* pCounted = m_pImpl.get();
    m_pImpl->onChange = [pCounted, onChange = std::move(onChange)](const std::string& path, EChange change)
    {
        ++pCounted->reported;
        onChange(path, change);
    };
    m_pImpl->onRootGone = std::move(onRootGone);
    m_pImpl->onFailure = std::move(onFailure);
    m_pImpl->stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_pImpl->stopEvent || !m_pImpl->tree.event || !m_pImpl->anchor.event)
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

std::uint64_t CFolderWatcher::Reported() const
{
    return m_pImpl ? m_pImpl->reported.load() : 0;
}

bool CFolderWatcher::HasUnreported() const
{
    return m_pImpl && m_pImpl->handling;
}

} // namespace Corvan
