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

#include "bench/LoopbackClient.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

using namespace CorvanBench;

namespace
{

constexpr int FreshGetCount = 20;
constexpr int FreshGetIntervalMs = 100;

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
    const Clock::time_point connectStart = Clock::now();
    std::vector<int> fds = ConnectMany(port, count);
    const int made = static_cast<int>(std::count_if(fds.begin(), fds.end(), [](int fd) { return fd >= 0; }));
    const double connectMs = MsSince(connectStart);
    SleepMs(1000);
    const int socketsHeld = CountSockets(pids) - socketsBefore;
    const std::vector<double> times = FreshGets(port, target);
    // Held: connected and neither closed nor answered by the server since.
    int held = 0;
    for (std::size_t i = 0; i < fds.size(); ++i)
    {
        if (fds[i] < 0)
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
