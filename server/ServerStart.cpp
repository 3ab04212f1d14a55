#include "server/ServerStart.h"

#include "platform/ServerPlatform.h"
#include "server/CFileServer.h"

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
    // The stop closes live pages and ends the loop at once; should anything hold it, the process
    // still ends within its promised second.
    std::thread(
        []
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            std::_Exit(ServerProtocol::ExitOk);
        })
        .detach();
}

} // namespace ServerStart
} // namespace Corvan
