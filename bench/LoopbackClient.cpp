#include "bench/LoopbackClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace CorvanBench
{

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CSummary Summarise(const std::vector<double>& times)
{
    CSummary summary;
    std::vector<double> sorted;
    for (double time : times)
    {
        if (time < 0)
            ++summary.failed;
        else
            sorted.push_back(time);
    }
    summary.count = static_cast<int>(times.size());
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty())
    {
        const std::size_t middle = sorted.size() / 2;
        summary.median = sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
        summary.worst = sorted.back();
    }
    return summary;
}

void PrintSummary(const char* pLabel, const char* pKey, const CSummary& summary)
{
    std::printf("%s: %d, failed %d, median %.2f ms, worst %.2f ms\n", pLabel, summary.count, summary.failed,
                summary.median, summary.worst);
    std::printf("=%s_median_ms=%.2f %s_worst_ms=%.2f %s_failed=%d\n", pKey, summary.median, pKey, summary.worst, pKey,
                summary.failed);
}

void RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max)
    {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int StartConnect(int port, int receiveBuffer)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
    {
        close(fd);
        return -1;
    }
    return fd;
}

bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    pollfd entry{fd, events, 0};
    for (;;)
    {
        const int ready = poll(&entry, 1, MsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool IsConnected(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

int Connect(int port, Clock::time_point deadline, int receiveBuffer)
{
    const int fd = StartConnect(port, receiveBuffer);
    if (fd >= 0 && WaitFor(fd, POLLOUT, deadline) && IsConnected(fd))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

std::vector<int> ConnectMany(int port, int count, int receiveBuffer)
{
    std::vector<int> fds;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(40);
    constexpr int Batch = 250;
    for (int first = 0; first < count && MsLeft(deadline) > 0; first += Batch)
    {
        const std::size_t begin = fds.size();
        for (int i = first; i < std::min(count, first + Batch); ++i)
            fds.push_back(StartConnect(port, receiveBuffer));
        const Clock::time_point batchDeadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(2000));
        for (std::size_t i = begin; i < fds.size(); ++i)
        {
            if (fds[i] >= 0 && !(WaitFor(fds[i], POLLOUT, batchDeadline) && IsConnected(fds[i])))
            {
                close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    fds.resize(static_cast<std::size_t>(count), -1);
    return fds;
}

bool SendAll(int fd, const std::string& data, Clock::time_point deadline)
{
    std::size_t sent = 0;
    while (sent < data.size())
    {
        const ssize_t count = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count > 0)
            sent += static_cast<std::size_t>(count);
        else if (count < 0 && errno == EAGAIN)
        {
            if (!WaitFor(fd, POLLOUT, deadline))
                return false;
        }
        else if (count < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

bool ReadAvailable(int fd, std::string& buffer)
{
    char chunk[65536];
    for (;;)
    {
        const ssize_t count = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (count > 0)
            buffer.append(chunk, static_cast<std::size_t>(count));
        else if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        else
            return false;
    }
}

int TakeHead(std::string& buffer, long long* pContentLength)
{
    const std::size_t end = buffer.find("\r\n\r\n");
    if (end == std::string::npos)
        return 0;
    std::string head = buffer.substr(0, end + 4);
    buffer.erase(0, end + 4);
    const int status = head.size() > 12 ? std::atoi(head.c_str() + 9) : -1;
    if (pContentLength)
    {
        std::transform(head.begin(), head.end(), head.begin(), [](char c) { return static_cast<char>(tolower(c)); });
        const std::size_t length = head.find("\r\ncontent-length:");
        *pContentLength = length == std::string::npos ? -1 : std::atoll(head.c_str() + length + 17);
    }
    return status > 0 ? status : -1;
}

int ReadResponse(int fd, std::string& body, Clock::time_point deadline)
{
    std::string buffer;
    int status = 0;
    long long length = -1;
    bool open = true;
    while ((status = TakeHead(buffer, &length)) == 0)
    {
        if (!open || !WaitFor(fd, POLLIN, deadline))
            return -1;
        open = ReadAvailable(fd, buffer);
    }
    if (status < 0)
        return -1;
    while (length < 0 ? open : static_cast<long long>(buffer.size()) < length)
    {
        if (!open || !WaitFor(fd, POLLIN, deadline))
            return -1;
        open = ReadAvailable(fd, buffer);
    }
    body = std::move(buffer);
    return status;
}

std::string Get(const std::string& target, const std::string& extra)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

double FreshGet(int port, const std::string& target)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(TimeoutMs);
    const int fd = Connect(port, deadline);
    if (fd < 0)
        return -1;
    std::string body;
    const bool ok =
        SendAll(fd, Get(target, "Connection: close\r\n"), deadline) && ReadResponse(fd, body, deadline) == 200;
    const double elapsed = MsSince(start);
    close(fd);
    return ok ? elapsed : -1;
}

std::string Frame(unsigned char opcode, const std::string& payload)
{
    std::string frame;
    frame += static_cast<char>(0x80 | opcode);
    frame += static_cast<char>(0x80 | payload.size()); // control and short frames only
    const char mask[4] = {0x11, 0x22, 0x33, 0x44};
    frame.append(mask, 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        frame += static_cast<char>(payload[i] ^ mask[i % 4]);
    return frame;
}

bool TakeFrames(int fd, std::string& buffer, int& messages)
{
    for (;;)
    {
        if (buffer.size() < 2)
            return true;
        const unsigned char opcode = static_cast<unsigned char>(buffer[0]) & 0x0F;
        std::size_t length = static_cast<unsigned char>(buffer[1]) & 0x7F;
        std::size_t offset = 2;
        if (length == 126 || length == 127)
        {
            const std::size_t bytes = length == 126 ? 2 : 8;
            if (buffer.size() < 2 + bytes)
                return true;
            length = 0;
            for (std::size_t i = 0; i < bytes; ++i)
                length = (length << 8) | static_cast<unsigned char>(buffer[2 + i]);
            offset += bytes;
        }
        if (buffer.size() < offset + length)
            return true;
        const std::string payload = buffer.substr(offset, length);
        buffer.erase(0, offset + length);
        if (opcode == 1)
            ++messages;
        else if (opcode == 9)
            SendAll(fd, Frame(10, payload), Clock::now() + std::chrono::milliseconds(100));
        else if (opcode == 8)
            return false;
    }
}

std::string Handshake(const std::string& path, int port)
{
    return Get(path, "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                     "Sec-WebSocket-Key: Y29ydmFuLWJlbmNoLWtleQ==\r\nOrigin: http://127.0.0.1:" +
                         std::to_string(port) + "\r\n");
}

std::string FindSocketPath(int port)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    std::string page, script;
    int fd = Connect(port, deadline);
    if (fd < 0)
        return "";
    const bool ok = SendAll(fd, Get("/", "Sec-Fetch-Dest: document\r\nAccept: text/html\r\n"), deadline) &&
                    ReadResponse(fd, page, deadline) == 200;
    close(fd);
    const std::size_t tag = page.find("<script src=\"");
    if (!ok || tag == std::string::npos)
        return "";
    const std::string scriptPath = page.substr(tag + 13, page.find('"', tag + 13) - tag - 13);
    fd = Connect(port, deadline);
    if (fd < 0)
        return "";
    const bool scriptOk = SendAll(fd, Get(scriptPath), deadline) && ReadResponse(fd, script, deadline) == 200;
    close(fd);
    const char marker[] = "location.host + '";
    const std::size_t at = script.find(marker);
    if (!scriptOk || at == std::string::npos)
        return "";
    const std::size_t start = at + sizeof marker - 1;
    return script.substr(start, script.find('\'', start) - start);
}

std::vector<CLiveSocket> OpenLiveSockets(int port, const std::string& path, int count, int timeoutMs, int receiveBuffer)
{
    std::vector<CLiveSocket> sockets(static_cast<std::size_t>(count));
    const std::string request = Handshake(path, port);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (CLiveSocket& socket : sockets)
        socket.fd = StartConnect(port, receiveBuffer);
    for (;;)
    {
        std::vector<pollfd> entries;
        std::vector<CLiveSocket*> owners;
        for (CLiveSocket& socket : sockets)
        {
            if (socket.fd >= 0 && socket.status == 0)
            {
                entries.push_back({socket.fd, static_cast<short>(socket.sent ? POLLIN : POLLOUT), 0});
                owners.push_back(&socket);
            }
        }
        if (entries.empty() || poll(entries.data(), entries.size(), std::min(MsLeft(deadline), 1000)) <= 0)
        {
            if (entries.empty() || MsLeft(deadline) == 0)
                break;
            continue;
        }
        for (std::size_t i = 0; i < entries.size(); ++i)
        {
            CLiveSocket& socket = *owners[i];
            if (!entries[i].revents)
                continue;
            if (!socket.sent)
            {
                socket.sent = IsConnected(socket.fd) && SendAll(socket.fd, request, deadline);
                if (!socket.sent)
                    socket.status = -1;
                continue;
            }
            const bool stillOpen = ReadAvailable(socket.fd, socket.buffer);
            socket.status = TakeHead(socket.buffer);
            if (socket.status == 0 && !stillOpen)
                socket.status = -1;
        }
    }
    for (CLiveSocket& socket : sockets)
    {
        socket.open = socket.status == 101;
        if (!socket.open && socket.fd >= 0)
        {
            close(socket.fd);
            socket.fd = -1;
        }
    }
    return sockets;
}

void CloseAll(std::vector<CLiveSocket>& sockets)
{
    for (CLiveSocket& socket : sockets)
        if (socket.fd >= 0)
            close(socket.fd);
    sockets.clear();
}

CChild Spawn(const std::vector<std::string>& command, bool pipeOutput)
{
    CChild child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (pipeOutput && pipe2(pipeFds, O_CLOEXEC) == 0)
    {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        child.output = pipeFds[0];
    }
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0)
        close(pipeFds[1]);
    return child;
}

bool WaitForPort(int port, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (MsLeft(deadline) > 0)
    {
        const int fd = Connect(port, deadline);
        if (fd >= 0)
        {
            close(fd);
            return true;
        }
        SleepMs(1);
    }
    return false;
}

double EndChild(pid_t pid)
{
    const Clock::time_point start = Clock::now();
    kill(pid, SIGTERM);
    for (int i = 0; i < 5000; ++i)
    {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return MsSince(start);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

} // namespace CorvanBench
