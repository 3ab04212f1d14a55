#pragma once

// The server's command line: mongoose [--no-live-reload] PORT, or --help.

#include <string>

namespace Corvan
{

struct CCommandLine
{
    bool help = false;
    bool liveReload = true;
    int port = 0; // 1..65535
};

namespace CommandLine
{

extern const char Usage[];

// Reads the arguments; false with a message for the user when they are not a valid command line.
bool Parse(int argc, const char* const* argv, CCommandLine& line, std::string& strError);

} // namespace CommandLine
} // namespace Corvan
