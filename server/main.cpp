// mongoose [--no-live-reload] [--proxy-allow HOST:PORT]... PORT: serves the working directory on http://127.0.0.1:PORT/
// until SIGTERM or SIGINT. The words it prints and its exit codes are the contract in ServerProtocol.h.

#include "server/CFileServer.h"
#include "server/CommandLine.h"
#include "server/ServerProtocol.h"
#include "server/ServerStart.h"
#include "server/httprules/Escaping.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace Corvan;

// The message may quote the folder's name or the command line: shown, never obeyed, by a terminal.
static int Fail(ServerProtocol::ExitCode code, const std::string& message)
{
    std::fprintf(stderr, "mongoose: %s\n", HttpRules::TerminalEscape(message).c_str());
    return code;
}

int main(int argc, char** argv)
{
    CCommandLine line;
    std::string folder, error;
    if (!CommandLine::Parse(argc, argv, line, error))
        return Fail(ServerProtocol::ExitUsage, error);
    if (line.help)
    {
        std::fputs(CommandLine::Usage, stdout);
        return ServerProtocol::ExitOk;
    }
    if (const ServerProtocol::ExitCode code = ServerStart::CheckFolderAndPort(line.port, folder, error))
        return Fail(code, error);

    if (const char* pAllowed = std::getenv(ServerProtocol::ProxyAllowVariable))
    {
        const std::string skipped = CommandLine::AddProxyAllowed(pAllowed, line);
        if (!skipped.empty())
            std::fprintf(stderr, "mongoose: %s\n", skipped.c_str());
    }

    ServerStart::Prepare();
    {
        CFileServer server(folder);
        if (line.liveReload)
            server.EnableLiveReload();
        server.AllowProxyTargets(line.proxyAllowed);
        if (const ServerProtocol::ExitCode code = ServerStart::Start(server, line.port, error))
            return Fail(code, error);
        std::printf("%s%s at http://localhost:%d/\n", ServerProtocol::ReadyPrefix, folder.c_str(), line.port);
        std::fflush(stdout);
        ServerStart::WaitForStop();
        server.StopBeforeExit();
    }
    return ServerProtocol::ExitOk;
}
