// The server engine under load that wrk cannot make, with plain sockets on 127.0.0.1 only
// (bench/engine.sh runs it against each server in turn). Every loop is bounded in count and time.
//   idle PORT COUNT TARGET [PID...]       COUNT idle connections, then 20 fresh GETs of TARGET; the PIDs'
//                                         open sockets are counted while they are held
//   slowloris PORT COUNT TARGET           COUNT clients sending a request head one line a second (anew
//                                         when cut off), then 20 fresh GETs
//   pingflood PORT FOLDER TARGET SAVES    one live socket that sends pings and never reads beside a
//                                         page's socket; SAVES saves, each timed to the page's message
//   live PORT FOLDER COUNT SAVES          COUNT live sockets; from a save until every one has its message
//   stop PORT CONNECTIONS STOPS TARGET -- COMMAND...
//                                         starts COMMAND (a server on PORT), opens CONNECTIONS
//                                         keep-alive connections, then times SIGTERM to exit
//   ready PORT STARTS line|port -- COMMAND...
//                                         from exec to the first line on standard output (line) or to
//                                         the first accepted connection (port)
// The live-reload commands find the socket's path in the page's script, as a browser does: the
// benchmark knows no reserved names. Each command prints lines for people, then one line of
// name=value pairs; a time that never came is -1.

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
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int FreshGetCount = 20;
constexpr int FreshGetIntervalMs = 100;
constexpr int TimeoutMs = 5000;

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

// Median and worst of the times that came, and how many never did.
struct CSummary
{
    double median = -1;
    double worst = -1;
    int failed = 0;
    int count = 0;
};

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

// The soft limit up to the hard one: 10,000 connections need as many descriptors.
void RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max)
    {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int StartConnect(int port, int receiveBuffer = 0)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
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

int Connect(int port, Clock::time_point deadline, int receiveBuffer = 0)
{
    const int fd = StartConnect(port, receiveBuffer);
    if (fd >= 0 && WaitFor(fd, POLLOUT, deadline) && IsConnected(fd))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
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

// Appends what the socket has now; false once it has ended.
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

// The status of a complete response head at the start of `buffer`, 0 while incomplete; the head
// is removed, the bytes after it stay.
int TakeHead(std::string& buffer, long long* pContentLength = nullptr)
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

// One response on `fd`: its status and body, or -1.
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

std::string Get(const std::string& target, const std::string& extra = "")
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

// A fresh connection's GET, from connect to the last byte of a 200; -1 when it failed or took
// longer than TimeoutMs.
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

std::vector<double> FreshGets(int port, const std::string& target)
{
    std::vector<double> times;
    for (int i = 0; i < FreshGetCount; ++i)
    {
        times.push_back(FreshGet(port, target));
        SleepMs(FreshGetIntervalMs);
    }
    return times;
}

int CountSockets(const std::vector<int>& pids)
{
    int count = 0;
    for (int pid : pids)
    {
        const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
        DIR* pDir = opendir(folder.c_str());
        if (!pDir)
            continue;
        while (dirent* pEntry = readdir(pDir))
        {
            char target[64];
            const ssize_t size = readlink((folder + "/" + pEntry->d_name).c_str(), target, sizeof target - 1);
            if (size > 0 && std::strncmp(target, "socket:", 7) == 0)
                ++count;
        }
        closedir(pDir);
    }
    return count;
}

// ---- WebSocket, the client's side of RFC 6455: masked frames out, plain frames in.

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

// Takes the complete frames off `buffer`: counts the text messages, answers pings as a browser
// does. False when the server closed the socket.
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

// The live socket's path, as the page's script names it.
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

struct CLiveSocket
{
    int fd = -1;
    bool sent = false;
    bool open = false;
    int status = 0;
    std::string buffer;
    int messages = 0;
};

// Opens `count` live sockets at once; those that got their 101 are `open`.
std::vector<CLiveSocket> OpenLiveSockets(int port, const std::string& path, int count, int timeoutMs = TimeoutMs,
                                         int receiveBuffer = 0)
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

// A save as an editor makes it: the file written and closed; reloads every page, not only style.
void Save(const std::string& folder, int number)
{
    std::ofstream(folder + "/bench-save.js", std::ios::trunc) << "// save " << number << "\n";
}

// From now until each open socket in `sockets` has one more message (or `timeoutMs` passed): the
// time at which the last one got it, or -1; `pReached` counts those that did.
double WaitForMessages(std::vector<CLiveSocket*> sockets, Clock::time_point start, int timeoutMs, int* pReached)
{
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    std::vector<int> before;
    for (CLiveSocket* pSocket : sockets)
        before.push_back(pSocket->messages);
    std::vector<bool> done(sockets.size(), false);
    std::size_t remaining = sockets.size();
    double last = -1;
    while (remaining > 0 && MsLeft(deadline) > 0)
    {
        std::vector<pollfd> entries;
        std::vector<std::size_t> index;
        for (std::size_t i = 0; i < sockets.size(); ++i)
        {
            if (!done[i] && sockets[i]->fd >= 0)
            {
                entries.push_back({sockets[i]->fd, POLLIN, 0});
                index.push_back(i);
            }
        }
        if (entries.empty() || poll(entries.data(), entries.size(), MsLeft(deadline)) <= 0)
            break;
        for (std::size_t k = 0; k < entries.size(); ++k)
        {
            if (!entries[k].revents)
                continue;
            CLiveSocket& socket = *sockets[index[k]];
            const bool open = ReadAvailable(socket.fd, socket.buffer);
            const bool framesOpen = TakeFrames(socket.fd, socket.buffer, socket.messages);
            if (socket.messages > before[index[k]])
            {
                done[index[k]] = true;
                --remaining;
                last = MsSince(start);
            }
            else if (!open || !framesOpen)
            {
                close(socket.fd);
                socket.fd = -1;
            }
        }
    }
    if (pReached)
        *pReached = static_cast<int>(sockets.size() - remaining);
    return remaining == 0 ? last : -1;
}

// ---- The commands.

int Idle(int port, int count, const std::string& target, const std::vector<int>& pids)
{
    const int socketsBefore = CountSockets(pids);
    std::vector<int> fds;
    std::vector<bool> connected;
    // In batches: a burst of 10,000 SYNs overflows any backlog and measures the kernel's retries.
    const Clock::time_point connectDeadline = Clock::now() + std::chrono::seconds(40);
    constexpr int Batch = 250;
    int made = 0;
    const Clock::time_point connectStart = Clock::now();
    for (int first = 0; first < count && MsLeft(connectDeadline) > 0; first += Batch)
    {
        const std::size_t begin = fds.size();
        for (int i = first; i < std::min(count, first + Batch); ++i)
        {
            fds.push_back(StartConnect(port));
            connected.push_back(false);
        }
        const Clock::time_point batchDeadline =
            std::min(connectDeadline, Clock::now() + std::chrono::milliseconds(2000));
        for (;;)
        {
            std::vector<pollfd> entries;
            std::vector<std::size_t> index;
            for (std::size_t i = begin; i < fds.size(); ++i)
            {
                if (fds[i] >= 0 && !connected[i])
                {
                    entries.push_back({fds[i], POLLOUT, 0});
                    index.push_back(i);
                }
            }
            if (entries.empty() || poll(entries.data(), entries.size(), MsLeft(batchDeadline)) <= 0)
                break;
            for (std::size_t k = 0; k < entries.size(); ++k)
            {
                if (!entries[k].revents)
                    continue;
                if (IsConnected(fds[index[k]]))
                {
                    connected[index[k]] = true;
                    ++made;
                }
                else
                {
                    close(fds[index[k]]);
                    fds[index[k]] = -1;
                }
            }
        }
    }
    const double connectMs = MsSince(connectStart);
    SleepMs(1000);
    const int socketsHeld = CountSockets(pids) - socketsBefore;
    const std::vector<double> times = FreshGets(port, target);
    // Held: connected and neither closed nor answered by the server since.
    int held = 0;
    for (std::size_t i = 0; i < fds.size(); ++i)
    {
        if (fds[i] < 0 || !connected[i])
            continue;
        pollfd entry{fds[i], POLLIN | POLLRDHUP, 0};
        if (poll(&entry, 1, 0) == 0)
            ++held;
    }
    for (int fd : fds)
        if (fd >= 0)
            close(fd);
    std::printf("idle connections: %d asked, %d connected in %.0f ms, %d still open after the fresh GETs; "
                "server sockets while held: %d\n",
                count, made, connectMs, held, socketsHeld);
    std::printf("=idle_connected=%d idle_held=%d idle_server_sockets=%d\n", made, held, socketsHeld);
    PrintSummary("fresh GETs", "idle_get", Summarise(times));
    return 0;
}

struct CSlowClient
{
    int fd = -1;
    bool headSent = false;
};

int Slowloris(int port, int count, const std::string& target)
{
    std::vector<CSlowClient> clients(static_cast<std::size_t>(count));
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    const std::string head = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string line = "X-Slow: 1\r\n";
    // One pass a second: a cut client connects again, a connected one sends its next header line.
    std::thread trickle(
        [&]
        {
            for (int pass = 0; pass < 60 && !stop; ++pass)
            {
                const Clock::time_point next = Clock::now() + std::chrono::milliseconds(1000);
                for (CSlowClient& client : clients)
                {
                    if (client.fd >= 0)
                    {
                        pollfd entry{client.fd, POLLIN | POLLRDHUP, 0};
                        if (poll(&entry, 1, 0) == 0)
                        {
                            const std::string& bytes = client.headSent ? line : head;
                            const ssize_t sent =
                                send(client.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                            if (sent == static_cast<ssize_t>(bytes.size()))
                            {
                                client.headSent = true;
                                continue;
                            }
                            // Still connecting: its turn comes next pass.
                            if (sent < 0 && (errno == EAGAIN || errno == ENOTCONN))
                                continue;
                        }
                        close(client.fd);
                        client.fd = -1;
                    }
                    client.fd = StartConnect(port);
                    client.headSent = false;
                    ++connections;
                }
                while (!stop && Clock::now() < next)
                    SleepMs(10);
            }
        });
    SleepMs(2500);
    const std::vector<double> times = FreshGets(port, target);
    stop = true;
    trickle.join();
    for (CSlowClient& client : clients)
        if (client.fd >= 0)
            close(client.fd);
    std::printf("slowloris: %d clients, %d connections made\n", count, connections.load());
    std::printf("=slow_connections=%d\n", connections.load());
    PrintSummary("fresh GETs", "slow_get", Summarise(times));
    return 0;
}

int PingFlood(int port, const std::string& folder, const std::string& target, int saves)
{
    const std::string path = FindSocketPath(port);
    if (path.empty())
    {
        std::fprintf(stderr, "bench_engine: no live-reload socket path in the page's script\n");
        return 1;
    }
    std::vector<CLiveSocket> page = OpenLiveSockets(port, path, 1);
    // A small receive window, so that the server's pongs back up at once.
    std::vector<CLiveSocket> flooder = OpenLiveSockets(port, path, 1, TimeoutMs, 4096);
    if (!page[0].open || !flooder[0].open)
    {
        std::fprintf(stderr, "bench_engine: the live sockets did not open (%d, %d)\n", page[0].status,
                     flooder[0].status);
        return 1;
    }
    std::atomic<bool> stop{false};
    std::atomic<long long> pings{0};
    const int flood = flooder[0].fd;
    std::thread pinger(
        [&]
        {
            std::string burst;
            for (int i = 0; i < 512; ++i)
                burst += Frame(9, "bench-ping-bench-ping-bench-ping");
            const Clock::time_point deadline = Clock::now() + std::chrono::seconds(120);
            std::size_t offset = 0;
            while (!stop && Clock::now() < deadline)
            {
                const ssize_t count =
                    send(flood, burst.data() + offset, burst.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (count > 0)
                {
                    offset = (offset + static_cast<std::size_t>(count)) % burst.size();
                    pings += count / 38;
                }
                else if (count < 0 && errno == EAGAIN)
                {
                    pollfd entry{flood, POLLOUT, 0};
                    poll(&entry, 1, 50);
                }
                else
                    break; // the server closed it: that is allowed
            }
        });
    SleepMs(1000);
    std::vector<double> saveTimes, getTimes, handshakeTimes;
    for (int i = 0; i < saves; ++i)
    {
        Save(folder, i);
        const Clock::time_point saved = Clock::now();
        saveTimes.push_back(WaitForMessages({&page[0]}, saved, 3000, nullptr));
        SleepMs(300);
        getTimes.push_back(FreshGet(port, target));
        const Clock::time_point start = Clock::now();
        std::vector<CLiveSocket> fresh = OpenLiveSockets(port, path, 1);
        handshakeTimes.push_back(fresh[0].open ? MsSince(start) : -1);
        CloseAll(fresh);
        SleepMs(200);
    }
    stop = true;
    pinger.join();
    std::printf("ping flood: %lld pings sent\n", pings.load());
    PrintSummary("save to the page's message", "flood_save", Summarise(saveTimes));
    PrintSummary("fresh GETs", "flood_get", Summarise(getTimes));
    PrintSummary("fresh handshakes", "flood_handshake", Summarise(handshakeTimes));
    CloseAll(page);
    CloseAll(flooder);
    return 0;
}

int Live(int port, const std::string& folder, int count, int saves)
{
    const std::string path = FindSocketPath(port);
    if (path.empty())
    {
        std::fprintf(stderr, "bench_engine: no live-reload socket path in the page's script\n");
        return 1;
    }
    const Clock::time_point start = Clock::now();
    std::vector<CLiveSocket> sockets = OpenLiveSockets(port, path, count, 30000);
    const double openMs = MsSince(start);
    std::vector<CLiveSocket*> open;
    for (CLiveSocket& socket : sockets)
        if (socket.open)
            open.push_back(&socket);
    std::vector<double> times;
    int reachedLeast = static_cast<int>(open.size());
    SleepMs(500);
    for (int i = 0; i < saves; ++i)
    {
        Save(folder, i);
        int reached = 0;
        times.push_back(WaitForMessages(open, Clock::now(), 5000, &reached));
        reachedLeast = std::min(reachedLeast, reached);
        SleepMs(500);
    }
    CloseAll(sockets);
    std::printf("live sockets: %d asked, %d opened in %.0f ms, at least %d reached on every save\n", count,
                static_cast<int>(open.size()), openMs, reachedLeast);
    std::printf("=live_opened=%d live_reached=%d\n", static_cast<int>(open.size()), reachedLeast);
    PrintSummary("save until all opened sockets had the message", "live_all", Summarise(times));
    return 0;
}

struct CChild
{
    pid_t pid = -1;
    int output = -1; // the read end of its standard output, when asked for
};

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

// Until the port accepts a connection; false after `timeoutMs`.
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

// SIGTERM, then the exit waited for; SIGKILL after 5 s. The time until the exit, in ms.
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

int Stop(int port, int connections, int stops, const std::string& target, const std::vector<std::string>& command)
{
    std::vector<double> times;
    for (int i = 0; i < stops; ++i)
    {
        const CChild child = Spawn(command, false);
        if (child.pid < 0 || !WaitForPort(port, TimeoutMs))
        {
            std::fprintf(stderr, "bench_engine: the server did not start\n");
            if (child.pid > 0)
                EndChild(child.pid);
            return 1;
        }
        SleepMs(300);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        std::vector<int> fds;
        int kept = 0;
        for (int c = 0; c < connections; ++c)
        {
            const int fd = Connect(port, deadline);
            std::string body;
            if (fd >= 0 && SendAll(fd, Get(target), deadline) && ReadResponse(fd, body, deadline) == 200)
                ++kept;
            fds.push_back(fd);
        }
        SleepMs(100);
        times.push_back(EndChild(child.pid));
        for (int fd : fds)
            if (fd >= 0)
                close(fd);
        if (kept != connections)
            std::fprintf(stderr, "bench_engine: only %d of %d keep-alive connections were answered\n", kept,
                         connections);
        SleepMs(100);
    }
    PrintSummary("SIGTERM to exit", "stop", Summarise(times));
    return 0;
}

int Ready(int port, int starts, bool line, const std::vector<std::string>& command)
{
    std::vector<double> times;
    // One start more than counted: the first one pays for a cold page cache.
    for (int i = 0; i <= starts; ++i)
    {
        const Clock::time_point start = Clock::now();
        const CChild child = Spawn(command, line);
        if (child.pid < 0)
            return 1;
        double elapsed = -1;
        if (line)
        {
            const Clock::time_point deadline = start + std::chrono::milliseconds(TimeoutMs);
            char c = 0;
            while (WaitFor(child.output, POLLIN, deadline) && read(child.output, &c, 1) == 1)
            {
                if (c == '\n')
                {
                    elapsed = MsSince(start);
                    break;
                }
            }
            close(child.output);
        }
        else if (WaitForPort(port, TimeoutMs))
            elapsed = MsSince(start);
        if (i > 0)
            times.push_back(elapsed);
        if (line)
            WaitForPort(port, TimeoutMs); // the ready line promises this; a stop before it is not timed here
        EndChild(child.pid);
        SleepMs(50);
    }
    std::vector<double> baseline;
    for (int i = 0; i < starts; ++i)
    {
        const Clock::time_point start = Clock::now();
        const CChild child = Spawn({"/bin/true"}, false);
        waitpid(child.pid, nullptr, 0);
        baseline.push_back(MsSince(start));
    }
    PrintSummary(line ? "exec to the ready line" : "exec to the first accepted connection", "ready", Summarise(times));
    PrintSummary("exec of /bin/true to its exit", "spawn", Summarise(baseline));
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: bench_engine idle PORT COUNT TARGET [PID...]\n"
                         "       bench_engine slowloris PORT COUNT TARGET\n"
                         "       bench_engine pingflood PORT FOLDER TARGET SAVES\n"
                         "       bench_engine live PORT FOLDER COUNT SAVES\n"
                         "       bench_engine stop PORT CONNECTIONS STOPS TARGET -- COMMAND...\n"
                         "       bench_engine ready PORT STARTS line|port -- COMMAND...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    RaiseFileLimit();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2)
        return Usage();
    const std::string& command = args[0];
    const int port = std::atoi(args[1].c_str());
    const auto rest = [&args]
    {
        const auto dashes = std::find(args.begin(), args.end(), "--");
        return dashes == args.end() ? std::vector<std::string>() : std::vector<std::string>(dashes + 1, args.end());
    };
    if (command == "idle" && args.size() >= 4)
    {
        std::vector<int> pids;
        for (std::size_t i = 4; i < args.size(); ++i)
            pids.push_back(std::atoi(args[i].c_str()));
        return Idle(port, std::atoi(args[2].c_str()), args[3], pids);
    }
    if (command == "slowloris" && args.size() == 4)
        return Slowloris(port, std::atoi(args[2].c_str()), args[3]);
    if (command == "pingflood" && args.size() == 5)
        return PingFlood(port, args[2], args[3], std::atoi(args[4].c_str()));
    if (command == "live" && args.size() == 5)
        return Live(port, args[2], std::atoi(args[3].c_str()), std::atoi(args[4].c_str()));
    if (command == "stop" && args.size() > 6 && args[5] == "--")
        return Stop(port, std::atoi(args[2].c_str()), std::atoi(args[3].c_str()), args[4], rest());
    if (command == "ready" && args.size() > 5 && args[4] == "--" && (args[3] == "line" || args[3] == "port"))
        return Ready(port, std::atoi(args[2].c_str()), args[3] == "line", rest());
    return Usage();
}
