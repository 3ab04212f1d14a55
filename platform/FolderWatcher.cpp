#include "platform/FolderWatcher.h"

namespace Corvan
{

bool CFolderWatcher::IsIgnoredName(const std::string& name)
{
    const auto endsWith = [&name](const char* pSuffix)
    {
        const std::string suffix(pSuffix);
        return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    return name.empty() || name[0] == '.' || endsWith("~") || endsWith(".swp") || endsWith(".swx") ||
           (name.size() >= 2 && name.front() == '#' && name.back() == '#') || name == "4913";
}

} // namespace Corvan
