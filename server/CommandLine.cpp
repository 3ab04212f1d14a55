#include "server/CommandLine.h"

#include <cstring>

namespace Corvan
{
namespace CommandLine
{

const char Usage[] = "usage: mongoose PORT\n"
                     "       mongoose --no-live-reload PORT\n"
                     "Serves the current folder at http://localhost:PORT/ (127.0.0.1 only) until stopped.\n"
                     "PORT is a number from 1 to 65535.\n"
                     "Pages reload by themselves when a file in the folder changes (style sheets are\n"
                     "swapped in place); --no-live-reload turns that off and serves every file untouched.\n";

namespace
{

// Digits only, 1..65535; 0 for anything else.
int ParsePort(const char* pText)
{
    long value = 0;
    const std::size_t length = std::strlen(pText);
    if (length == 0 || length > 5)
        return 0;
    for (std::size_t i = 0; i < length; ++i)
    {
        if (pText[i] < '0' || pText[i] > '9')
            return 0;
        value = value * 10 + (pText[i] - '0');
    }
    return value <= 65535 ? static_cast<int>(value) : 0;
}

} // namespace

bool Parse(int argc, const char* const* argv, CCommandLine& line, std::string& strError)
{
    line = CCommandLine();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    {
        line.help = true;
        return true;
    }
    if (argc == 3 && std::strcmp(argv[1], "--no-live-reload") == 0)
    {
        line.liveReload = false;
        --argc;
        ++argv;
    }
    if (argc != 2)
    {
        strError = argc < 2 ? "missing PORT (try --help)" : "too many arguments (try --help)";
        return false;
    }
    line.port = ParsePort(argv[1]);
    if (line.port == 0)
    {
        strError = std::string("invalid port '") + argv[1] + "': use a number from 1 to 65535";
        return false;
    }
    return true;
}

} // namespace CommandLine
} // namespace Corvan
