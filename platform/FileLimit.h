#pragma once

// The process's limit on open files and sockets. One source file per platform (FileLimit_posix.cpp,
// FileLimit_win.cpp).

namespace Corvan
{
namespace FileLimit
{

// Raises the soft limit to the hard limit: the usual soft limit of 1,024 is below the connections
// a browser, its live pages and a load beside them may hold at once.
void Raise();

// How many more files and sockets the process may open now; a large number when nothing limits it.
long long Free();

} // namespace FileLimit
} // namespace Corvan
