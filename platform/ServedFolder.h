#pragma once

// The folder the server serves: the working directory, found and checked once at start. Paths are
// UTF-8 with '/' separators. One source file per platform (ServedFolder_posix.cpp,
// ServedFolder_win.cpp).

#include <string>

namespace Corvan
{
namespace ServedFolder
{

// The absolute path of the working directory; false with a reason when it cannot be found.
bool Current(std::string& strFolder, std::string& strError);

// Lets go of the working directory once its path is known, so that the folder being served can still
// be renamed or removed (build tools replace their output folder). Windows holds a process's working
// directory open; elsewhere there is nothing to do. Everything after it uses absolute paths.
void ReleaseWorkingDirectory();

// True when `folder` can be listed and its entries opened; otherwise false with a reason.
bool CanServe(const std::string& folder, std::string& strError);

} // namespace ServedFolder
} // namespace Corvan
