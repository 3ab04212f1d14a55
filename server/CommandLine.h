#pragma once

// The server's command line: mongoose [--no-live-reload] [--proxy-allow HOST:PORT]... PORT, or --help.

#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{

struct CCommandLine
{
    bool help = false;
    bool liveReload = true;
    int port = 0;                          // 1..65535
    std::vector<std::string> proxyAllowed; // "localhost:3000": targets proxy rules may pass requests to
};

namespace CommandLine
{

extern const char Usage[];

// Reads the arguments; false with a message for the user when they are not a valid command line.
bool Parse(int argc, const char* const* argv, CCommandLine& line, std::string& strError);

// Adds the allowed proxy targets of a comma-separated list (ServerProtocol::ProxyAllowVariable) to
// `line`; a message naming the entries that are not HOST:PORT, which are left out, or empty.
std::string AddProxyAllowed(std::string_view list, CCommandLine& line);

} // namespace CommandLine
} // namespace Corvan
