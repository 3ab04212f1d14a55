#include "platform/ExecutablePath.h"

#include <windows.h>

namespace Corvan
{
namespace Platform
{

std::string ExecutablePath()
{
    // A MAX_PATH buffer, as the branding has always been read: a longer path arrives cut to its
    // first MAX_PATH - 1 bytes, and a failure (0) gives the empty path.
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0)
        return std::string();
    path[MAX_PATH - 1] = '\0';
    return std::string(path);
}

} // namespace Platform
} // namespace Corvan
