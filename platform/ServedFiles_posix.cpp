#include "platform/ServedFiles.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace Corvan
{
namespace ServedFiles
{

CReadOnlyFile::~CReadOnlyFile()
{
    if (m_handle != InvalidHandle)
        close(static_cast<int>(m_handle));
}

EOpenResult CReadOnlyFile::Open(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer and hold the server.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
    {
        switch (errno)
        {
        case EACCES:
        case EPERM:
            return EOpenResult::Forbidden;
        case EMFILE:
        case ENFILE:
        case ENOMEM:
            return EOpenResult::Unavailable;
        default:
            return EOpenResult::NotFound;
        }
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
    {
        close(fd);
        return EOpenResult::NotFound;
    }
    if (S_ISDIR(st.st_mode))
    {
        close(fd);
        return EOpenResult::Folder;
    }
    m_handle = fd;
    m_info.size = st.st_size;
    m_info.mtimeSeconds = st.st_mtim.tv_sec;
    m_info.mtimeNanoseconds = st.st_mtim.tv_nsec;
    m_info.fileId = st.st_ino;
    return EOpenResult::File;
}

long long CReadOnlyFile::ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const
{
    for (;;)
    {
        const ssize_t count = pread(static_cast<int>(m_handle), pBuffer, length, offset);
        if (count >= 0 || errno != EINTR)
            return count;
    }
}

bool CReadOnlyFile::HasWriter() const
{
#ifdef F_SETLEASE
    // A read lease is granted only while no process has the file open for writing, and given back
    // at once: a writer that opens meanwhile waits that moment. Its break is told with a signal
    // that is ignored unless handled, not the default SIGIO, which would end the server.
    const int fd = static_cast<int>(m_handle);
    if (fcntl(fd, F_SETSIG, SIGURG) != 0)
        return false;
    if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
        return errno == EAGAIN;
    fcntl(fd, F_SETLEASE, F_UNLCK);
#endif
    return false;
}

bool ListFolder(const std::string& folder, std::vector<CFolderEntry>& entries)
{
    std::unique_ptr<DIR, int (*)(DIR*)> pDir(opendir(folder.c_str()), closedir);
    if (!pDir)
        return false;
    while (const dirent* pEntry = readdir(pDir.get()))
    {
        struct stat st;
        if (fstatat(dirfd(pDir.get()), pEntry->d_name, &st, 0) != 0)
            continue;
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
            entries.push_back({pEntry->d_name, S_ISDIR(st.st_mode)});
    }
    return true;
}

bool FindsAnyCase()
{
    return false;
}

} // namespace ServedFiles
} // namespace Corvan
