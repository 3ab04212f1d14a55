#pragma once

namespace Corvan
{

// Time stamps of a launch's steps, for bench/drop-to-page.sh: when the environment variable
// CORVAN_LAUNCH_TRACE names a file, Mark appends "<step> <microseconds since the epoch>" to it.
// Wall-clock time, so that the drag harness and the stand-in browser opener, other processes, stamp
// on the same clock. Without the variable it does nothing.
namespace LaunchTrace
{
void Mark(const char* step);
} // namespace LaunchTrace

} // namespace Corvan
