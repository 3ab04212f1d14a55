#include "platform/ServerPlatform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Corvan
{
namespace ServerPlatform
{

namespace
{

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void BlockStopSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A peer that closes early must cost a failed send, not the process.
    std::signal(SIGPIPE, SIG_IGN);
}

void WaitForStopSignal()
{
    const sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0)
    {
    }
}

void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max)
    {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

long long FreeFileDescriptors()
{
    constexpr long long Plenty = 1 << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= Plenty)
        return Plenty;
    long long inUse = 0;
    // Linux lists them; elsewhere each possible one is asked about (the limit is small there).
    if (DIR* pDir = opendir("/proc/self/fd"))
    {
        while (const dirent* pEntry = readdir(pDir))
            inUse += pEntry->d_name[0] != '.';
        closedir(pDir);
        --inUse; // the listing's own
    }
    else
    {
        for (rlim_t fd = 0; fd < limit.rlim_cur; ++fd)
            inUse += fcntl(static_cast<int>(fd), F_GETFD) != -1;
    }
    return static_cast<long long>(limit.rlim_cur) - inUse;
}

void PrepareListeningSocket(std::uintptr_t socket)
{
    const int on = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool CurrentFolder(std::string& strFolder, std::string& strError)
{
    std::string buffer(PATH_MAX, '\0');
    if (!getcwd(buffer.data(), buffer.size()))
    {
        strError = std::string("cannot find the current folder: ") + std::strerror(errno);
        return false;
    }
    strFolder = buffer.c_str();
    return true;
}

void ReleaseWorkingDirectory() {}

bool CanServeFolder(const std::string& folder, std::string& strError)
{
    DIR* pDir = opendir(folder.c_str());
    if (!pDir || access(folder.c_str(), R_OK | X_OK) != 0)
    {
        strError = "cannot serve " + folder + ": " + std::strerror(errno);
        if (pDir)
            closedir(pDir);
        return false;
    }
    closedir(pDir);
    return true;
}

EPortCheck CheckLoopbackPort(int port, std::string& strError)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        strError = std::string("cannot open a socket: ") + std::strerror(errno);
        return EPortCheck::OtherError;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EPortCheck result = EPortCheck::Free;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        const int error = errno;
        result = error == EADDRINUSE ? EPortCheck::InUse : EPortCheck::OtherError;
        strError = result == EPortCheck::InUse
                       ? "port " + std::to_string(port) + " is already in use"
                       : "cannot listen on port " + std::to_string(port) + ": " + std::strerror(error);
    }
    close(fd);
    return result;
}

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

} // namespace ServerPlatform
} // namespace Corvan
