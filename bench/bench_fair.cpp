// Fairness when a server's places run out, and its stop under load, with plain sockets on
// 127.0.0.1 only (bench/fair.sh runs it). Every loop is bounded in count and time.
//   hold PORT COUNT SECONDS            COUNT connections that never send a byte, each opened again
//                                      as soon as the server closes it, for SECONDS
//   fresh PORT COUNT SECONDS TARGET    COUNT GETs of TARGET on fresh connections, spread over
//                                      SECONDS, each timed from connect to the last byte
//   stop PORT IDLE LIVE STALLED TARGET STOPS -- COMMAND...
//                                      starts COMMAND (a server on PORT), opens IDLE idle connections,
//                                      LIVE live-reload sockets and STALLED downloads of TARGET that
//                                      are never read, then times SIGTERM to exit; counts the live
//                                      sockets that were told 1001 (going away) before the end
//   bare PORT                          the bare program to stop beside a server: accepts and holds
//                                      every connection, fills its send buffer once a request comes,
//                                      and exits on SIGTERM, leaving its sockets to the kernel
// Each command prints lines for people, then one line of name=value pairs; -1: never came.

#include "bench/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace CorvanBench;

namespace
{

constexpr int StalledReceiveBuffer = 16 * 1024;

// The holder: one epoll set over every connection; a slot's connection that ends is made anew.
int Hold(int port, int count, int seconds)
{
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    std::vector<int> fds(static_cast<std::size_t>(count), -1);
    std::vector<std::size_t> failed; // slots whose connect could not even start (no descriptor)
    long long reopened = 0;
    const auto open = [&](std::size_t slot)
    {
        fds[slot] = StartConnect(port);
        if (fds[slot] < 0)
            failed.push_back(slot);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = slot;
        if (fds[slot] >= 0)
            epoll_ctl(poller, EPOLL_CTL_ADD, fds[slot], &event);
    };
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    // In batches at first: a burst of SYNs beyond the backlog only measures the kernel's retries.
    for (std::size_t slot = 0; slot < fds.size(); ++slot)
    {
        open(slot);
        if (slot % 250 == 249)
            SleepMs(20);
    }
    std::vector<epoll_event> events(1024);
    while (MsLeft(end) > 0)
    {
        const int ready =
            epoll_wait(poller, events.data(), static_cast<int>(events.size()), std::min(MsLeft(end), 100));
        for (int i = 0; i < ready; ++i)
        {
            const std::size_t slot = events[static_cast<std::size_t>(i)].data.u64;
            close(fds[slot]); // the server closed it, or refused it: never a byte comes from a server here
            open(slot);
            ++reopened;
        }
        for (std::size_t slot : std::exchange(failed, {}))
            open(slot);
    }
    int held = 0;
    for (int fd : fds)
    {
        held += fd >= 0 && IsConnected(fd);
        if (fd >= 0)
            close(fd);
    }
    close(poller);
    std::printf("holder: %d connections, %d connected at the end, %lld opened again\n", count, held, reopened);
    std::printf("=hold_connected=%d hold_reopened=%lld\n", held, reopened);
    return 0;
}

// Each GET on a thread of its own at its time, so that one left waiting does not hold back the next.
int Fresh(int port, int count, int seconds, const std::string& target)
{
    std::vector<double> times(static_cast<std::size_t>(count), -1);
    std::vector<std::thread> threads;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i)
    {
        const Clock::time_point due = start + std::chrono::milliseconds(1000LL * seconds * i / count);
        threads.emplace_back(
            [&times, i, due, port, &target]
            {
                std::this_thread::sleep_until(due);
                times[static_cast<std::size_t>(i)] = FreshGet(port, target);
            });
    }
    for (std::thread& thread : threads)
        thread.join();
    const CSummary summary = Summarise(times);
    std::printf("=fresh_answered=%d\n", summary.count - summary.failed);
    PrintSummary("fresh GETs", "fresh", summary);
    return 0;
}

// Whether a close frame with `code` is among the frames the server sent on `socket`.
bool ToldClose(CLiveSocket& socket, int code)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(500);
    while (ReadAvailable(socket.fd, socket.buffer) && WaitFor(socket.fd, POLLIN, deadline))
    {
    }
    std::string& buffer = socket.buffer;
    for (std::size_t at = 0; at + 2 <= buffer.size();)
    {
        const unsigned char opcode = static_cast<unsigned char>(buffer[at]) & 0x0F;
        const std::size_t length = static_cast<unsigned char>(buffer[at + 1]) & 0x7F; // the server's are short
        if (opcode == 8 && length >= 2 && at + 4 <= buffer.size())
            return (static_cast<unsigned char>(buffer[at + 2]) << 8 | static_cast<unsigned char>(buffer[at + 3])) ==
                   code;
        at += 2 + length;
    }
    return false;
}

// The kernel's TCP memory in pages (all sockets on the machine), or -1.
long long TcpMemoryPages()
{
    std::ifstream sockstat("/proc/net/sockstat");
    std::string line;
    while (std::getline(sockstat, line))
    {
        const std::size_t at = line.find(" mem ");
        if (line.rfind("TCP:", 0) == 0 && at != std::string::npos)
            return std::atoll(line.c_str() + at + 5);
    }
    return -1;
}

// Until the load is in place: deferred idle connections accepted (3 s) and the downloads' send
// buffers full, seen as the machine's TCP memory standing still for a second; 20 s at most.
void WaitForQuiet()
{
    SleepMs(3000);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(17);
    for (long long before = TcpMemoryPages(); MsLeft(deadline) > 0;)
    {
        SleepMs(1000);
        const long long now = TcpMemoryPages();
        if (std::llabs(now - before) <= before / 100)
            return;
        before = now;
    }
}

struct CLoad
{
    std::vector<int> idle;
    std::vector<CLiveSocket> live;
    std::vector<int> stalled;
    bool ok = true;
};

CLoad OpenLoad(int port, int idle, int live, int stalled, const std::string& target)
{
    CLoad load;
    load.idle = ConnectMany(port, idle);
    if (live > 0)
    {
        const std::string path = FindSocketPath(port);
        load.live = path.empty() ? std::vector<CLiveSocket>() : OpenLiveSockets(port, path, live, 30000);
    }
    load.stalled = ConnectMany(port, stalled, StalledReceiveBuffer);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    for (int fd : load.stalled)
        if (fd >= 0)
            SendAll(fd, Get(target), deadline);
    const auto bad = [](int fd) { return fd < 0; };
    const int liveOpen = static_cast<int>(
        std::count_if(load.live.begin(), load.live.end(), [](const CLiveSocket& socket) { return socket.open; }));
    load.ok = std::none_of(load.idle.begin(), load.idle.end(), bad) &&
              std::none_of(load.stalled.begin(), load.stalled.end(), bad) && liveOpen == live;
    if (!load.ok)
        std::fprintf(stderr, "bench_fair: the load was not all made (live sockets open: %d of %d)\n", liveOpen, live);
    return load;
}

int Stop(int port, int idle, int live, int stalled, const std::string& target, int stops,
         const std::vector<std::string>& command)
{
    std::vector<double> times;
    int toldLeast = live;
    for (int i = 0; i < stops; ++i)
    {
        const CChild child = Spawn(command, false);
        if (child.pid < 0 || !WaitForPort(port, TimeoutMs))
        {
            std::fprintf(stderr, "bench_fair: the server did not start\n");
            if (child.pid > 0)
                EndChild(child.pid);
            return 1;
        }
        SleepMs(300);
        CLoad load = OpenLoad(port, idle, live, stalled, target);
        WaitForQuiet();
        std::printf("stop %d: the machine's TCP memory %lld MiB\n", i + 1, TcpMemoryPages() * 4096 / (1024 * 1024));
        times.push_back(load.ok ? EndChild(child.pid) : -1);
        if (!load.ok)
            EndChild(child.pid);
        int told = 0;
        for (CLiveSocket& socket : load.live)
            told += socket.open && ToldClose(socket, 1001);
        toldLeast = std::min(toldLeast, told);
        CloseAll(load.live);
        for (const std::vector<int>* pFds : {&load.idle, &load.stalled})
            for (int fd : *pFds)
                if (fd >= 0)
                    close(fd);
        SleepMs(300);
    }
    std::printf("live sockets told 1001 before the exit: at least %d of %d in every stop\n", toldLeast, live);
    std::printf("=stop_live_told=%d\n", toldLeast);
    PrintSummary("SIGTERM to exit", "stop", Summarise(times));
    return 0;
}

volatile sig_atomic_t g_stop = 0;

int Bare(int port)
{
    struct sigaction action
    {
    };
    action.sa_handler = [](int) { g_stop = 1; };
    sigaction(SIGTERM, &action, nullptr);
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in address = LoopbackAddress(port);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1024) != 0)
        return 1;
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
    const std::string piece(256 * 1024, 'x');
    std::vector<epoll_event> events(1024);
    // Bounded like every loop here: a bare program left behind ends by itself within the hour.
    const Clock::time_point end = Clock::now() + std::chrono::hours(1);
    while (!g_stop && MsLeft(end) > 0)
    {
        const int ready = epoll_wait(poller, events.data(), static_cast<int>(events.size()), 1000);
        for (int i = 0; i < ready; ++i)
        {
            const int fd = events[static_cast<std::size_t>(i)].data.fd;
            if (fd == listener)
            {
                for (int client; (client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
                {
                    event.data.fd = client;
                    epoll_ctl(poller, EPOLL_CTL_ADD, client, &event);
                }
                continue;
            }
            // A request: the answer is sent until the client's window and the send buffer are full,
            // as a server's stalled download holds them; then the socket is only held.
            char discard[4096];
            if (recv(fd, discard, sizeof discard, 0) <= 0)
                epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
            else
                while (send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) > 0)
                {
                }
        }
    }
    return 0; // every socket left open for the exit, as the kernel alone closes them
}

int Usage()
{
    std::fprintf(stderr, "usage: bench_fair hold PORT COUNT SECONDS\n"
                         "       bench_fair fresh PORT COUNT SECONDS TARGET\n"
                         "       bench_fair stop PORT IDLE LIVE STALLED TARGET STOPS -- COMMAND...\n"
                         "       bench_fair bare PORT\n");
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
    const auto number = [&args](std::size_t i) { return std::atoi(args[i].c_str()); };
    if (command == "hold" && args.size() == 4)
        return Hold(port, number(2), number(3));
    if (command == "fresh" && args.size() == 5)
        return Fresh(port, number(2), number(3), args[4]);
    if (command == "stop" && args.size() > 8 && args[7] == "--")
        return Stop(port, number(2), number(3), number(4), args[5], number(6),
                    std::vector<std::string>(args.begin() + 8, args.end()));
    if (command == "bare" && args.size() == 2)
        return Bare(port);
    return Usage();
}
