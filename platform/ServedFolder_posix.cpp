#include "platform/ServedFolder.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace Corvan
{
namespace ServedFolder
{

bool Current(std::string& strFolder, std::string& strError)
{
    std::string buffer(PATH_MAX, '\0');
    if (!getcwd(buffer.data(), buffer.size()))
    {
        strError = std::string("cannot find the current folder: ") + std::strerror(errno);
        return false;
    }
    strFolder = buffer.c_str();
    return true;
}

void ReleaseWorkingDirectory() {}

bool CanServe(const std::string& folder, std::string& strError)
{
    DIR* pDir = opendir(folder.c_str());
    if (!pDir || access(folder.c_str(), R_OK | X_OK) != 0)
    {
        strError = "cannot serve " + folder + ": " + std::strerror(errno);
        if (pDir)
            closedir(pDir);
        return false;
    }
    closedir(pDir);
    return true;
}

} // namespace ServedFolder
} // namespace Corvan
