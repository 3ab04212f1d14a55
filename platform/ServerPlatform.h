#pragma once

// Operating-system services the server needs, behind a neutral interface: one source file per
// platform (ServerPlatform_posix.cpp, ServerPlatform_win.cpp). Paths are UTF-8 with '/' separators.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Corvan
{
namespace ServerPlatform
{

// Makes the stop requests (SIGTERM and SIGINT; on Windows the console's Ctrl+C, Ctrl+Break and
// close) wait for WaitForStopSignal. Call before any thread starts, so that every thread inherits
// the blocked mask and only the waiting thread sees them.
void BlockStopSignals();

// Blocks until a stop request arrives.
void WaitForStopSignal();

// Raises the soft limit on open files and sockets to the hard limit: the usual soft limit of 1,024
// is below the connections a browser, its live pages and a load beside them may hold at once.
void RaiseOpenFileLimit();

// How many more files and sockets the process may open now; a large number when nothing limits it.
long long FreeFileDescriptors();

// Readies a listening socket (a native handle) before it binds: on Windows for our exclusive use,
// since a second program could otherwise bind the same port; elsewhere free to bind again at once
// while connections of an earlier run linger.
void PrepareListeningSocket(std::uintptr_t socket);

// The absolute path of the working directory; false with a reason when it cannot be found.
bool CurrentFolder(std::string& strFolder, std::string& strError);

// Lets go of the working directory once its path is known, so that the folder being served can still
// be renamed or removed (build tools replace their output folder). Windows holds a process's working
// directory open; elsewhere there is nothing to do. Everything after it uses absolute paths.
void ReleaseWorkingDirectory();

// True when `folder` can be listed and its entries opened; otherwise false with a reason.
bool CanServeFolder(const std::string& folder, std::string& strError);

enum class EPortCheck
{
    Free,
    InUse,
    OtherError
};

// Binds 127.0.0.1:port the way the server will and releases it at once, to tell "port in use"
// apart from other start failures with a clear reason.
EPortCheck CheckLoopbackPort(int port, std::string& strError);

enum class EOpenResult
{
    File,        // a regular file, now open
    Folder,      // a directory (closed again)
    NotFound,    // missing, or neither file nor directory (FIFOs and devices are never opened for reading)
    Forbidden,   // exists, but the user may not read it
    Unavailable, // the process may open no more files for now (descriptors or memory ran out)
};

struct CFileInfo
{
    std::int64_t size = 0;
    std::int64_t mtimeSeconds = 0;
    std::int64_t mtimeNanoseconds = 0;
    std::uint64_t fileId = 0; // changes when an editor saves by writing a new file and renaming it
};

// A regular file opened for reading; the size and times are taken from the open file, so they
// describe exactly the bytes that ReadAt returns.
class CReadOnlyFile
{
public:
    CReadOnlyFile() = default;
    ~CReadOnlyFile();
    CReadOnlyFile(const CReadOnlyFile&) = delete;
    CReadOnlyFile& operator=(const CReadOnlyFile&) = delete;

    EOpenResult Open(const std::string& path);
    const CFileInfo& Info() const { return m_info; }
    // Reads up to `length` bytes at `offset`; returns the count, 0 at the end, -1 on error.
    long long ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const;

private:
    // The open file: a descriptor on POSIX, a HANDLE on Windows.
    static constexpr std::intptr_t InvalidHandle = -1;
    std::intptr_t m_handle = InvalidHandle;
    CFileInfo m_info;
};

struct CFolderEntry
{
    std::string name;
    bool isFolder = false;
};

// Regular files and folders (links followed) in `folder`, unsorted; false when it cannot be read.
bool ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries);

} // namespace ServerPlatform
} // namespace Corvan
