#pragma once

// The served folder's files and listings, as the server reads them. Paths are UTF-8 with '/'
// separators. One source file per platform (ServedFiles_posix.cpp, ServedFiles_win.cpp).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Corvan
{
namespace ServedFiles
{

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
    // The open file as the system knows it (FileSend.h hands it to the system).
    std::intptr_t NativeHandle() const { return m_handle; }
    const CFileInfo& Info() const { return m_info; }
    // Reads up to `length` bytes at `offset`; returns the count, 0 at the end, -1 on error.
    long long ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const;
    // True when a process has the file open for writing, where the system tells without holding
    // up the writer for more than the moment it takes to ask (Linux, for the user's own files);
    // false where it cannot tell.
    bool HasWriter() const;

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

// True where the file system finds a file by its name in another case (Windows): an answer that
// succeeded here may name a file that a host with case-sensitive names would not find.
bool FindsAnyCase();

} // namespace ServedFiles
} // namespace Corvan
