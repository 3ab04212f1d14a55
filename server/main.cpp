// mongoose [--no-live-reload] PORT: serves the working directory on http://127.0.0.1:PORT/ until SIGTERM or SIGINT.
// The words it prints and its exit codes are the contract in ServerProtocol.h.

#include "platform/ServerPlatform.h"
#include "server/CFileServer.h"
#include "server/ServerProtocol.h"

#include <civetweb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace
{

using namespace Corvan;

const char Usage[] = "usage: mongoose PORT\n"
                     "       mongoose --no-live-reload PORT\n"
                     "Serves the current folder at http://localhost:PORT/ (127.0.0.1 only) until stopped.\n"
                     "PORT is a number from 1 to 65535.\n"
                     "Pages reload by themselves when a file in the folder changes (style sheets are\n"
                     "swapped in place); --no-live-reload turns that off and serves every file untouched.\n";

int Fail(ServerProtocol::ExitCode code, const std::string& message)
{
    std::fprintf(stderr, "mongoose: %s\n", message.c_str());
    return code;
}

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

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    {
        std::fputs(Usage, stdout);
        return ServerProtocol::ExitOk;
    }
    bool liveReload = true;
    if (argc == 3 && std::strcmp(argv[1], "--no-live-reload") == 0)
    {
        liveReload = false;
        --argc;
        ++argv;
    }
    if (argc != 2)
        return Fail(ServerProtocol::ExitUsage,
                    argc < 2 ? "missing PORT (try --help)" : "too many arguments (try --help)");
    const int port = ParsePort(argv[1]);
    if (port == 0)
        return Fail(ServerProtocol::ExitUsage,
                    std::string("invalid port '") + argv[1] + "': use a number from 1 to 65535");

    std::string folder, error;
    if (!ServerPlatform::CurrentFolder(folder, error) || !ServerPlatform::CanServeFolder(folder, error))
        return Fail(ServerProtocol::ExitBadFolder, error);

    switch (ServerPlatform::CheckLoopbackPort(port, error))
    {
    case ServerPlatform::EPortCheck::InUse:
        return Fail(ServerProtocol::ExitPortInUse, error);
    case ServerPlatform::EPortCheck::OtherError:
        return Fail(ServerProtocol::ExitFailure, error);
    case ServerPlatform::EPortCheck::Free:
        break;
    }

    ServerPlatform::BlockStopSignals();
    mg_init_library(0);
    {
        CFileServer server(folder);
        if (liveReload)
            server.EnableLiveReload();
        if (!server.Start(port, error))
        {
            // Someone may have taken the port between the check and the start.
            const bool inUse = ServerPlatform::CheckLoopbackPort(port, error) == ServerPlatform::EPortCheck::InUse;
            return Fail(inUse ? ServerProtocol::ExitPortInUse : ServerProtocol::ExitFailure,
                        inUse ? error : "cannot start the web server: " + error);
        }
        std::printf("%s%s at http://localhost:%d/\n", ServerProtocol::ReadyPrefix, folder.c_str(), port);
        std::fflush(stdout);
        ServerPlatform::WaitForStopSignal();
        // A stop waits for workers to finish their sends; a slow client must not hold the
        // process past its promised second.
        std::thread(
            []
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(800));
                std::_Exit(ServerProtocol::ExitOk);
            })
            .detach();
    }
    mg_exit_library();
    return ServerProtocol::ExitOk;
}
