#pragma once

// What the server program tells whoever started it. Shared by the server and the launcher, so
// neither side guesses at the other's words. Plain C++: no Qt, no network library.
//
// On success the server prints exactly one line to standard output, flushed, once it accepts
// connections:   Serving <absolute folder> at http://localhost:<port>/
// On failure it prints one line to standard error, "mongoose: <what went wrong>", and exits with
// one of the codes below. Both lines are UTF-8 on every system (on Windows too, whatever its code
// page), so folder names beyond ASCII reach the tool's messages intact.

namespace Corvan
{
namespace ServerProtocol
{

constexpr const char* ReadyPrefix = "Serving ";

// The proxy targets the user allowed for the served folder, "localhost:3000,127.0.0.1:8080" (what
// --proxy-allow takes, comma-separated): the tool hands them over here, so that the server's
// arguments stay the same whatever was allowed.
constexpr const char* ProxyAllowVariable = "CORVAN_PROXY_ALLOW";

// Set (to anything) by the tool, which holds the other end of the server's standard input open: the
// server stops when its input ends, so that it never outlives the tool, however the tool ends.
constexpr const char* StopWithInputVariable = "CORVAN_STOP_WITH_INPUT";

enum ExitCode : int
{
    ExitOk = 0,
    ExitFailure = 1,   // anything not listed below
    ExitUsage = 2,     // bad command line
    ExitPortInUse = 3, // the port is held by another socket
    ExitBadFolder = 4, // the working directory cannot be read or served
};

} // namespace ServerProtocol
} // namespace Corvan
