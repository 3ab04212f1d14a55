#include "server/CommandLine.h"

#include "server/siterules/ProxyRules.h"

#include <cstring>

namespace Corvan
{
namespace CommandLine
{

const char Usage[] = "usage: mongoose PORT\n"
                     "       mongoose --no-live-reload PORT\n"
                     "       mongoose [--no-live-reload] --proxy-allow HOST:PORT [--proxy-allow ...] PORT\n"
                     "Serves the current folder at http://localhost:PORT/ (127.0.0.1 only) until stopped.\n"
                     "PORT is a number from 1 to 65535.\n"
                     "Pages reload by themselves when a file in the folder changes (style sheets are\n"
                     "swapped in place); --no-live-reload turns that off and serves every file untouched.\n"
                     "A _redirects rule such as '/api/* http://localhost:3000/:splat 200' passes requests\n"
                     "to that server on this computer only once it is allowed: --proxy-allow localhost:3000\n"
                     "(HOST is localhost, 127.0.0.1 or [::1]; repeat the option for more targets).\n";

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
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at)
    {
        if (std::strcmp(argv[at], "--no-live-reload") == 0)
        {
            line.liveReload = false;
            continue;
        }
        const bool proxyAllow = std::strcmp(argv[at], "--proxy-allow") == 0;
        CProxyTarget target;
        if (proxyAllow && at + 1 < argc && ProxyRules::ParseAllowed(argv[at + 1], target))
        {
            line.proxyAllowed.push_back(target.Key());
            ++at;
            continue;
        }
        strError = proxyAllow ? "--proxy-allow takes HOST:PORT, HOST being localhost, 127.0.0.1 or [::1]"
                              : std::string("unknown option '") + argv[at] + "' (try --help)";
        return false;
    }
    if (argc - at != 1)
    {
        strError = argc - at < 1 ? "missing PORT (try --help)" : "too many arguments (try --help)";
        return false;
    }
    line.port = ParsePort(argv[at]);
    if (line.port == 0)
    {
        strError = std::string("invalid port '") + argv[at] + "': use a number from 1 to 65535";
        return false;
    }
    return true;
}

std::string AddProxyAllowed(std::string_view list, CCommandLine& line)
{
    std::string skipped;
    while (!list.empty())
    {
        const std::size_t comma = list.find(',');
        const std::string_view entry = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        CProxyTarget target;
        if (ProxyRules::ParseAllowed(entry, target))
            line.proxyAllowed.push_back(target.Key());
        else if (!entry.empty())
            skipped += (skipped.empty() ? "'" : ", '") + std::string(entry) + "'";
    }
    return skipped.empty() ? skipped : "proxy targets that are not HOST:PORT are left out: " + skipped;
}

} // namespace CommandLine
} // namespace Corvan
