#include "launcher/LaunchTrace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace Corvan
{
namespace LaunchTrace
{

void Mark(const char* step)
{
    static const char* const path = std::getenv("CORVAN_LAUNCH_TRACE");
    if (!path || !*path)
        return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long microseconds = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    // Opened per mark: a handful of lines a launch, and nothing stays open for the tool's lifetime.
    if (std::FILE* file = std::fopen(path, "a"))
    {
        std::fprintf(file, "%s %lld\n", step, microseconds);
        std::fclose(file);
    }
}

} // namespace LaunchTrace
} // namespace Corvan
