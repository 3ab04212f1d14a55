#pragma once

// The server's stop requests: SIGTERM and SIGINT; on Windows the console's Ctrl+C, Ctrl+Break and
// close. One source file per platform (StopRequest_posix.cpp, StopRequest_win.cpp).

namespace Corvan
{
namespace StopRequest
{

// Makes stop requests wait for Wait. Call before any thread starts, so that every thread inherits
// the blocked mask and only the waiting thread sees them.
void Block();

// Blocks until a stop request arrives.
void Wait();

// From now on the end of standard input is a stop request too (a thread reads the input to its end),
// for a program whose starter holds the other end open for as long as it runs. Call after Block.
void StopAtEndOfInput();

} // namespace StopRequest
} // namespace Corvan
