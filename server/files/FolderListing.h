#pragma once

// The page that lists a folder without an index page.

#include "platform/ServedFiles.h"

#include <string>
#include <vector>

namespace Corvan
{
namespace FolderListing
{

// An HTML page listing `entries` of the folder at `urlPath` (with its trailing '/'): folders
// first, then files, each by name, with a link up unless this is the root. Dot names are never
// shown.
std::string Page(const std::string& urlPath, std::vector<ServedFiles::CFolderEntry> entries);

} // namespace FolderListing
} // namespace Corvan
