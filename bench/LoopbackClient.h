#pragma once

// The plain-socket side of the benchmarks, on 127.0.0.1 only: connections, requests and answers,
// live-reload sockets, and servers started and ended by PID. Every wait has a deadline.

#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace CorvanBench
{

using Clock = std::chrono::steady_clock;

constexpr int TimeoutMs = 5000;

double MsSince(Clock::time_point start);
int MsLeft(Clock::time_point deadline);
void SleepMs(int ms);

// Median and worst of the times that came, and how many never did.
struct CSummary
{
    double median = -1;
    double worst = -1;
    int failed = 0;
    int count = 0;
};

CSummary Summarise(const std::vector<double>& times);
// One line for people, then one of name=value pairs: KEY_median_ms, KEY_worst_ms, KEY_failed.
void PrintSummary(const char* pLabel, const char* pKey, const CSummary& summary);

// The soft limit up to the hard one: 10,000 connections need as many descriptors.
void RaiseFileLimit();

// 127.0.0.1:port.
sockaddr_in LoopbackAddress(int port);
// A non-blocking connect to 127.0.0.1:port under way; -1 when it could not start.
int StartConnect(int port, int receiveBuffer = 0);
bool WaitFor(int fd, short events, Clock::time_point deadline);
bool IsConnected(int fd);
// A connected socket, or -1.
int Connect(int port, Clock::time_point deadline, int receiveBuffer = 0);
// `count` connections, -1 for each that could not be made. In batches: a burst of 10,000 SYNs
// overflows any backlog and measures the kernel's retries.
std::vector<int> ConnectMany(int port, int count, int receiveBuffer = 0);
bool SendAll(int fd, const std::string& data, Clock::time_point deadline);
// Appends what the socket has now; false once it has ended.
bool ReadAvailable(int fd, std::string& buffer);
// The status of a complete response head at the start of `buffer`, 0 while incomplete; the head
// is removed, the bytes after it stay.
int TakeHead(std::string& buffer, long long* pContentLength = nullptr);
// One response on `fd`: its status and body, or -1.
int ReadResponse(int fd, std::string& body, Clock::time_point deadline);
std::string Get(const std::string& target, const std::string& extra = "");
// A fresh connection's GET, from connect to the last byte of a 200; -1 when it failed or took
// longer than TimeoutMs.
double FreshGet(int port, const std::string& target);

// ---- WebSocket, the client's side of RFC 6455: masked frames out, plain frames in.

std::string Frame(unsigned char opcode, const std::string& payload);
// Takes the complete frames off `buffer`: counts the text messages, answers pings as a browser
// does. False when the server closed the socket.
bool TakeFrames(int fd, std::string& buffer, int& messages);
std::string Handshake(const std::string& path, int port);
// The live socket's path, as the page's script names it; empty when the page has none.
std::string FindSocketPath(int port);

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
                                         int receiveBuffer = 0);
void CloseAll(std::vector<CLiveSocket>& sockets);

// ---- Servers as child processes.

struct CChild
{
    pid_t pid = -1;
    int output = -1; // the read end of its standard output, when asked for
};

CChild Spawn(const std::vector<std::string>& command, bool pipeOutput);
// Until the port accepts a connection; false after `timeoutMs`.
bool WaitForPort(int port, int timeoutMs);
// SIGTERM, then the exit waited for; SIGKILL after 5 s. The time until the exit, in ms.
double EndChild(pid_t pid);

} // namespace CorvanBench
