#include "server/ServerStart.h"

#include "platform/FileLimit.h"
#include "platform/LoopbackPort.h"
#include "platform/ServedFolder.h"
#include "platform/StopRequest.h"
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
    if (!ServedFolder::Current(strFolder, strError) || !ServedFolder::CanServe(strFolder, strError))
        return ServerProtocol::ExitBadFolder;
    switch (LoopbackPort::Check(port, strError))
    {
    case LoopbackPort::EState::InUse:
        return ServerProtocol::ExitPortInUse;
    case LoopbackPort::EState::OtherError:
        return ServerProtocol::ExitFailure;
    case LoopbackPort::EState::Free:
        break;
    }
    return ServerProtocol::ExitOk;
}

void Prepare()
{
    ServedFolder::ReleaseWorkingDirectory();
    StopRequest::Block();
    if (std::getenv(ServerProtocol::StopWithInputVariable))
        StopRequest::StopAtEndOfInput();
    FileLimit::Raise();
}

ServerProtocol::ExitCode Start(CFileServer& server, int port, std::string& strError)
{
    if (server.Start(port, strError))
        return ServerProtocol::ExitOk;
    // Someone may have taken the port between the check and the start.
    if (LoopbackPort::Check(port, strError) == LoopbackPort::EState::InUse)
        return ServerProtocol::ExitPortInUse;
    strError = "cannot start the web server: " + strError;
    return ServerProtocol::ExitFailure;
}

void WaitForStop()
{
    StopRequest::Wait();
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
