#include "server/noticerules/NameIndex.h"

#include "server/httprules/Target.h"
#include "server/httprules/TextRules.h"
#include "server/siterules/RuleFile.h"

#include <algorithm>
#include <tuple>

namespace Corvan
{

namespace
{

bool Before(const CNameIndex::CName& a, const CNameIndex::CName& b)
{
    return std::tie(a.folded, a.name) < std::tie(b.folded, b.name);
}

struct CFoldedLess
{
    bool operator()(const CNameIndex::CName& a, const std::string& folded) const { return a.folded < folded; }
    bool operator()(const std::string& folded, const CNameIndex::CName& b) const { return folded < b.folded; }
};

using CNames = std::vector<CNameIndex::CName>;

// The names of `names` whose folded form is `folded`.
std::pair<CNames::const_iterator, CNames::const_iterator> SameFolded(const CNames& names, const std::string& folded)
{
    return std::equal_range(names.begin(), names.end(), folded, CFoldedLess());
}

} // namespace

std::string_view FolderOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view NameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    if (!path.empty())
        path += '/';
    return path.append(name);
}

std::string CNameIndex::Fold(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded)
        c = TextRules::LowerAscii(c);
    return folded;
}

CNameIndex::CCounts CNameIndex::Counts(std::string_view folded)
{
    CCounts counts{};
    for (const char c : folded)
    {
        std::uint8_t& count = counts[static_cast<unsigned char>(c) % 16];
        count = static_cast<std::uint8_t>(std::min(count + 1, 255));
    }
    return counts;
}

std::size_t CNameIndex::CountsApart(const CCounts& a, const CCounts& b)
{
    std::size_t apart = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        apart += static_cast<std::size_t>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
    return apart;
}

bool CNameIndex::Keeps(std::string_view folder, std::string_view name)
{
    return HttpRules::IsLinkableName(name) && !(folder.empty() && IsRuleFile(name));
}

std::vector<std::string> CNameIndex::PutFolder(const std::string& folder, const std::vector<CNameEntry>& entries)
{
    auto pFolder = std::make_shared<CFolder>();
    CNames& names = pFolder->names;
    for (const CNameEntry& entry : entries)
    {
        if (Keeps(folder, entry.name))
            names.push_back({entry.name, Fold(entry.name), entry.isFolder});
    }
    std::sort(names.begin(), names.end(), Before);
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        const CName& name = names[i];
        pFolder->shapes.push_back({Counts(name.folded),
                                   static_cast<std::uint16_t>(std::min<std::size_t>(name.folded.size(), 65535)),
                                   name.isFolder});
        if (name.isFolder)
            pFolder->folders.push_back(i);
    }

    std::shared_ptr<const CFolder>& pSlot = m_folders[folder];
    const CNames none;
    const CNames& old = pSlot ? pSlot->names : none;
    // Sub folders that came, and those that went (or became files).
    const auto subfolders = [&folder](const CNames& these, const CNames& others)
    {
        std::vector<std::string> paths;
        for (const CName& name : these)
        {
            const auto same = std::equal_range(others.begin(), others.end(), name, Before);
            if (name.isFolder && (same.first == same.second || !same.first->isFolder))
                paths.push_back(JoinPath(folder, name.name));
        }
        return paths;
    };
    std::vector<std::string> added = subfolders(names, old);
    const std::vector<std::string> gone = subfolders(old, names);
    m_nameCount = m_nameCount - old.size() + names.size();
    pSlot = std::move(pFolder);
    for (const std::string& path : gone)
        DropTree(path);
    return added;
}

void CNameIndex::DropTree(const std::string& folder)
{
    for (auto it = m_folders.begin(); it != m_folders.end();)
    {
        const std::string& path = it->first;
        const bool below = folder.empty() || (path.size() > folder.size() && path[folder.size()] == '/' &&
                                              path.compare(0, folder.size(), folder) == 0);
        if (path == folder || below)
        {
            m_nameCount -= it->second->names.size();
            it = m_folders.erase(it);
        }
        else
        {
            ++it;
        }
    }
}

const CNameIndex::CFolder* CNameIndex::Folder(const std::string& folder) const
{
    const auto found = m_folders.find(folder);
    return found == m_folders.end() ? nullptr : found->second.get();
}

bool CNameIndex::Holds(std::string_view path) const
{
    const bool folder = !path.empty() && path.back() == '/';
    if (folder)
        path.remove_suffix(1);
    if (path.empty())
        return m_folders.count(std::string()) != 0;
    return Holds(std::string(FolderOf(path)), NameOf(path), Fold(NameOf(path)), folder);
}

bool CNameIndex::Holds(const std::string& folder, std::string_view name, const std::string& folded, bool isFolder) const
{
    const CFolder* pFolder = Folder(folder);
    if (!pFolder)
        return false;
    const auto same = SameFolded(pFolder->names, folded);
    return std::any_of(same.first, same.second,
                       [&](const CName& entry) { return entry.name == name && (!isFolder || entry.isFolder); });
}

std::vector<std::string> CNameIndex::OtherCases(std::string_view path, std::size_t most) const
{
    const bool folder = !path.empty() && path.back() == '/';
    if (folder)
        path.remove_suffix(1);
    std::vector<std::string> found{std::string()};
    const std::vector<std::string_view> segments = HttpRules::SplitPath(path);
    for (std::size_t i = 0; i < segments.size() && !found.empty(); ++i)
    {
        const bool last = i + 1 == segments.size();
        const std::string folded = Fold(segments[i]);
        std::vector<std::string> next;
        for (const std::string& parent : found)
        {
            const CFolder* pFolder = Folder(parent);
            if (!pFolder)
                continue;
            const auto same = SameFolded(pFolder->names, folded);
            for (auto it = same.first; it != same.second && next.size() < most + 1; ++it)
            {
                if (it->isFolder || (last && !folder))
                    next.push_back(JoinPath(parent, it->name));
            }
        }
        found = std::move(next);
    }
    const std::string asked(path);
    found.erase(std::remove(found.begin(), found.end(), asked), found.end());
    if (found.size() > most)
        found.resize(most);
    if (folder)
    {
        for (std::string& each : found)
            each += '/';
    }
    return found;
}

} // namespace Corvan
