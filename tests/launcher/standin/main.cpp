// Stands in for our server where the launcher's handling of its words matters: it follows the
// server's protocol (bind 127.0.0.1:PORT, print the ready line, or one error line and an exit code)
// and answers a GET of a file in its working folder, nothing more. CORVAN_STANDIN_MODE picks a misbehaviour the real
// server cannot be made to show:
//   refuse-folder  exit as for an unreadable folder (as root every folder is readable)
//   crash          die by a signal before serving
//   hang           never say anything
//   chatty         bury the ready line in noise and keep talking after it on both channels
#include "server/ServerProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Corvan::ServerProtocol;

namespace
{
int Fail(int code, const std::string& what)
{
    std::fprintf(stderr, "mongoose: %s\n", what.c_str());
    return code;
}

int HexValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// "GET /a%20b.html HTTP/1.1" gives "a b.html"; anything else gives "".
std::string RequestedFile(const std::string& request)
{
    const std::string::size_type end = request.find(' ', 5);
    if (request.compare(0, 5, "GET /") != 0 || end == std::string::npos)
        return std::string();
    std::string name;
    for (std::string::size_type i = 5; i < end; ++i)
    {
        if (request[i] == '%' && i + 2 < end && HexValue(request[i + 1]) >= 0 && HexValue(request[i + 2]) >= 0)
        {
            name += static_cast<char>(HexValue(request[i + 1]) * 16 + HexValue(request[i + 2]));
            i += 2;
        }
        else
        {
            name += request[i];
        }
    }
    return name.find('/') == std::string::npos ? name : std::string();
}

void Answer(int client)
{
    char request[4096];
    const ssize_t size = recv(client, request, sizeof(request) - 1, 0);
    std::string body;
    const std::string name = size > 0 ? RequestedFile(std::string(request, static_cast<std::size_t>(size))) : "";
    std::FILE* file = name.empty() ? nullptr : std::fopen(name.c_str(), "rb");
    if (file)
    {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
            body.append(chunk, got);
        std::fclose(file);
    }
    const std::string reply = std::string(file ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found") +
                              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                              body;
    send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    close(client);
}

void Noise(std::FILE* stream, int lines)
{
    for (int i = 0; i < lines; ++i)
        std::fprintf(stream, "noise %d: the quick brown fox jumps over the lazy dog, again and again\n", i);
    std::fflush(stream);
}
} // namespace

int main(int argc, char** argv)
{
    const char* env = std::getenv("CORVAN_STANDIN_MODE");
    const std::string mode = env ? env : "";
    if (argc != 2)
        return Fail(ExitUsage, "usage: mongoose PORT");
    if (mode == "refuse-folder")
        return Fail(ExitBadFolder, "cannot serve this folder: Permission denied");
    if (mode == "crash")
        std::abort();
    if (mode == "hang")
        for (;;)
            pause();

    const int port = std::atoi(argv[1]);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    {
        const int error = errno;
        return Fail(error == EADDRINUSE ? ExitPortInUse : ExitFailure,
                    "cannot listen on port " + std::to_string(port) + ": " + std::strerror(error));
    }
    listen(listener, 16);

    if (mode == "chatty")
    {
        Noise(stderr, 1000);
        Noise(stdout, 1000);
    }
    char folder[4096] = "?";
    if (!getcwd(folder, sizeof(folder)))
        std::strcpy(folder, "?");
    std::printf("%s%s at http://localhost:%d/\n", ReadyPrefix, folder, port);
    std::fflush(stdout);

    if (mode == "chatty")
    {
        // About 16 MB on each channel, then a mark in the served folder that the talking is over.
        for (int i = 0; i < 2000; ++i)
        {
            Noise(stdout, 100);
            Noise(stderr, 100);
        }
        std::fclose(std::fopen("chatty-done", "w"));
    }
    for (;;)
    {
        const int client = accept(listener, nullptr, nullptr);
        if (client >= 0)
            Answer(client);
    }
}
