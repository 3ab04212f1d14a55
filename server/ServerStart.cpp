#include "server/ServerStart.h"

#include "platform/ServerPlatform.h"
#include "server/CFileServer.h"

#include <civetweb.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace Corvan
{
namespace ServerStart
{

ServerProtocol::ExitCode CheckFolderAndPort(int port, std::string& strFolder, std::string& strError)
{
    if (!ServerPlatform::CurrentFolder(strFolder, strError) || !ServerPlatform::CanServeFolder(strFolder, strError))
        return ServerProtocol::ExitBadFolder;
    switch (ServerPlatform::CheckLoopbackPort(port, strError))
    {
    case ServerPlatform::EPortCheck::InUse:
        return ServerProtocol::ExitPortInUse;
    case ServerPlatform::EPortCheck::OtherError:
        return ServerProtocol::ExitFailure;
    case ServerPlatform::EPortCheck::Free:
        break;
    }
    return ServerProtocol::ExitOk;
}

void Prepare()
{
    ServerPlatform::ReleaseWorkingDirectory();
    ServerPlatform::BlockStopSignals();
    ServerPlatform::RaiseOpenFileLimit();
    mg_init_library(0);
}

ServerProtocol::ExitCode Start(CFileServer& server, int port, std::string& strError)
{
    if (server.Start(port, strError))
        return ServerProtocol::ExitOk;
    // Someone may have taken the port between the check and the start.
    if (ServerPlatform::CheckLoopbackPort(port, strError) == ServerPlatform::EPortCheck::InUse)
        return ServerProtocol::ExitPortInUse;
    strError = "cannot start the web server: " + strError;
    return ServerProtocol::ExitFailure;
}

void WaitForStop()
{
    ServerPlatform::WaitForStopSignal();
    // A stop waits for workers to finish their sends; a slow client must not hold the process
    // past its promised second.
    std::thread(
        []
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            std::_Exit(ServerProtocol::ExitOk);
        })
        .detach();
}

void Finish()
{
    mg_exit_library();
}

} // namespace ServerStart
} // namespace Corvan
