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

// The names of `names` whose folded form is `folded`.
std::pair<CNameIndex::CNames::const_iterator, CNameIndex::CNames::const_iterator>
SameFolded(const CNameIndex::CNames& names, const std::string& folded)
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

std::uint64_t CNameIndex::Letters(std::string_view folded)
{
    std::uint64_t letters = 0;
    for (const char c : folded)
        letters |= std::uint64_t(1) << (static_cast<unsigned char>(c) % 64);
    return letters;
}

bool CNameIndex::Keeps(std::string_view folder, std::string_view name)
{
    return HttpRules::IsLinkableName(name) && !(folder.empty() && IsRuleFile(name));
}

std::vector<std::string> CNameIndex::PutFolder(const std::string& folder, const std::vector<CNameEntry>& entries)
{
    auto pNames = std::make_shared<CNames>();
    for (const CNameEntry& entry : entries)
    {
        if (!Keeps(folder, entry.name))
            continue;
        std::string folded = Fold(entry.name);
        const std::uint64_t letters = Letters(folded);
        pNames->push_back({entry.name, std::move(folded), letters, entry.isFolder});
    }
    std::sort(pNames->begin(), pNames->end(), Before);

    std::shared_ptr<const CNames>& pSlot = m_folders[folder];
    const CNames none;
    const CNames& old = pSlot ? *pSlot : none;
    std::vector<std::string> added;
    for (const CName& name : *pNames)
    {
        const auto same = std::equal_range(old.begin(), old.end(), name, Before);
        if (name.isFolder && (same.first == same.second || !same.first->isFolder))
            added.push_back(JoinPath(folder, name.name));
    }
    std::vector<std::string> gone;
    for (const CName& name : old)
    {
        const auto same = std::equal_range(pNames->begin(), pNames->end(), name, Before);
        if (name.isFolder && (same.first == same.second || !same.first->isFolder))
            gone.push_back(JoinPath(folder, name.name));
    }
    m_nameCount = m_nameCount - old.size() + pNames->size();
    pSlot = std::move(pNames);
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
            m_nameCount -= it->second->size();
            it = m_folders.erase(it);
        }
        else
        {
            ++it;
        }
    }
}

const CNameIndex::CNames* CNameIndex::Folder(const std::string& folder) const
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
    const CNames* pNames = Folder(std::string(FolderOf(path)));
    if (!pNames)
        return false;
    const std::string name(NameOf(path));
    const auto same = SameFolded(*pNames, Fold(name));
    return std::any_of(same.first, same.second,
                       [&](const CName& entry) { return entry.name == name && (!folder || entry.isFolder); });
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
            const CNames* pNames = Folder(parent);
            if (!pNames)
                continue;
            const auto same = SameFolded(*pNames, folded);
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
