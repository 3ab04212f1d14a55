#include "platform/FolderWatcher.h"

#include <algorithm>
#include <cctype>

namespace Corvan
{

bool CFolderWatcher::IsIgnoredName(const std::string& name)
{
    // `suffix` at the name's end; in letters of either case with `anyCase`.
    const auto endsWith = [&name](const std::string& suffix, bool anyCase = false)
    {
        const auto same = [anyCase](char a, char b)
        {
            return a == b || (anyCase && std::tolower(static_cast<unsigned char>(a)) ==
                                             std::tolower(static_cast<unsigned char>(b)));
        };
        return name.size() >= suffix.size() &&
               std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(), same);
    };
    return name.empty() || name[0] == '.' || endsWith("~") || endsWith(".swp") || endsWith(".swx") ||
           (name.size() >= 2 && name.front() == '#' && name.back() == '#') || name == "4913" ||
           endsWith("___jb_tmp___") || endsWith("___jb_old___") || endsWith(".crswap") || endsWith(".tmp", true);
}

std::string CFolderWatcher::NetworkCaveat(const std::string& type)
{
    // Such systems report the changes made through this computer only (some none at all).
    return type.empty() ? type
                        : "the folder is on " + type +
                              ", which reports only the changes made on this computer: a save made elsewhere "
                              "does not reload the pages";
}

} // namespace Corvan
