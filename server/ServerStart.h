#pragma once

// The steps around the server's life in the process, in the order main takes them, each with the
// exit code (ServerProtocol.h) its failure ends the program with.

#include "server/ServerProtocol.h"

#include <string>

namespace Corvan
{

class CFileServer;

namespace ServerStart
{

// Finds the working folder and checks that it can be served and that the port is free; ExitOk
// with `strFolder` set, or the exit code and the reason.
ServerProtocol::ExitCode CheckFolderAndPort(int port, std::string& strFolder, std::string& strError);

// Readies the process before any thread starts: stop signals wait for WaitForStop, the open-file
// limit is raised as far as allowed.
void Prepare();

// Starts `server` on the port; ExitOk, or the exit code and the reason.
ServerProtocol::ExitCode Start(CFileServer& server, int port, std::string& strError);

// Blocks until a stop signal, then makes sure the process ends within a second whatever the
// server's stop meets.
void WaitForStop();

} // namespace ServerStart
} // namespace Corvan
