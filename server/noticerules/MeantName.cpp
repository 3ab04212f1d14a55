#include "server/noticerules/MeantName.h"

#include "server/httprules/Target.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace Corvan
{

namespace
{

using EKind = CMeantName::EKind;

// Folders looked into for the same name, and names compared for a near one: a folder of
// thousands costs a bounded time.
constexpr std::size_t MostFoldersTried = 500;
constexpr std::size_t MostNamesCompared = 8192;

// The folder the index holds for `folder`: that one, else the same in another case.
std::optional<std::string> HeldFolder(const CNameIndex& index, std::string_view folder)
{
    if (index.Folder(std::string(folder)))
        return std::string(folder);
    const std::vector<std::string> others = index.OtherCases(std::string(folder) + "/", 1);
    if (others.empty())
        return std::nullopt;
    return others.front().substr(0, others.front().size() - 1);
}

std::optional<std::string> HeldAnyCase(const CNameIndex& index, const std::string& path)
{
    if (index.Holds(path))
        return path;
    std::vector<std::string> others = index.OtherCases(path, 1);
    return others.empty() ? std::nullopt : std::optional<std::string>(std::move(others.front()));
}

// "util" for util.js (or .mjs, or another extension), else a folder's index module.
std::optional<std::string> WithExtension(const CNameIndex& index, std::string_view folder, std::string_view name,
                                         bool isFolder)
{
    if (name.find('.') != std::string_view::npos)
        return std::nullopt;
    const std::optional<std::string> held = isFolder ? std::nullopt : HeldFolder(index, folder);
    if (held)
    {
        const std::vector<CNameIndex::CName>& names = index.Folder(*held)->names;
        const std::string prefix = CNameIndex::Fold(name) + ".";
        auto it = std::lower_bound(names.begin(), names.end(), prefix,
                                   [](const CNameIndex::CName& entry, const std::string& text)
                                   { return entry.folded < text; });
        std::optional<std::string> best;
        int bestRank = 3;
        for (; it != names.end() && it->folded.compare(0, prefix.size(), prefix) == 0; ++it)
        {
            const std::string_view extension = std::string_view(it->folded).substr(prefix.size());
            if (it->isFolder || extension.empty() || extension.find('.') != std::string_view::npos)
                continue; // util.test.js is another name
            const int rank = extension == "js" ? 0 : extension == "mjs" ? 1 : 2;
            if (rank < bestRank)
                best = JoinPath(*held, it->name), bestRank = rank;
        }
        if (best)
            return best;
    }
    for (const char* pIndex : {"index.js", "index.mjs"})
    {
        if (std::optional<std::string> found = HeldAnyCase(index, JoinPath(JoinPath(folder, name), pIndex)))
            return found;
    }
    return std::nullopt;
}

// The nearest name of the same kind in the folder: one letter off for short names, two for longer
// ones; of those equally near, the first in name order. In a huge folder only the names nearest in
// name order are looked at, so that a look-up costs a bounded time.
std::optional<std::string> NearName(const CNameIndex& index, std::string_view folder, std::string_view name,
                                    bool isFolder)
{
    const std::optional<std::string> held = HeldFolder(index, folder);
    const std::string folded = CNameIndex::Fold(name);
    const std::size_t most = folded.size() <= 3 ? 0 : folded.size() <= 5 ? 1 : 2;
    if (!held || most == 0)
        return std::nullopt;
    const CNameIndex::CFolder& inFolder = *index.Folder(*held);
    const std::vector<CNameIndex::CName>& names = inFolder.names;
    const CNameIndex::CCounts counts = CNameIndex::Counts(folded);
    const std::size_t at = static_cast<std::size_t>(
        std::lower_bound(names.begin(), names.end(), folded,
                         [](const CNameIndex::CName& entry, const std::string& text) { return entry.folded < text; }) -
        names.begin());
    const std::size_t first = at > MostNamesCompared / 2 ? at - MostNamesCompared / 2 : 0;
    const std::size_t end = std::min(names.size(), first + MostNamesCompared);
    const CNameIndex::CName* pBest = nullptr;
    std::size_t bestDistance = most + 1;
    for (std::size_t i = first; i < end; ++i)
    {
        const CNameIndex::CShape& shape = inFolder.shapes[i];
        // An edit adds or takes one character: cheap refusals before the names are compared.
        if (shape.isFolder != isFolder || shape.length + most < folded.size() || shape.length > folded.size() + most ||
            CNameIndex::CountsApart(counts, shape.counts) > 2 * most)
            continue;
        const std::size_t distance = EditDistance(folded, names[i].folded, bestDistance - 1);
        if (distance > 0 && distance < bestDistance)
            pBest = &names[i], bestDistance = distance;
    }
    return pBest ? std::optional<std::string>(JoinPath(*held, pBest->name) + (isFolder ? "/" : "")) : std::nullopt;
}

// `tail` in a sub folder of `parent` other than `skip`.
std::optional<std::string> InSubfolders(const CNameIndex& index, std::string_view parent, std::string_view skip,
                                        std::string_view name, bool isFolder)
{
    const std::optional<std::string> held = HeldFolder(index, parent);
    if (!held)
        return std::nullopt;
    const std::string folded = CNameIndex::Fold(name);
    const CNameIndex::CFolder& inFolder = *index.Folder(*held);
    std::size_t tried = 0;
    for (const std::size_t at : inFolder.folders)
    {
        const std::string& subName = inFolder.names[at].name;
        if (subName == skip)
            continue;
        if (++tried > MostFoldersTried)
            break;
        const std::string sub = JoinPath(*held, subName);
        if (index.Holds(sub, name, folded, isFolder))
            return JoinPath(sub, name) + (isFolder ? "/" : "");
    }
    return std::nullopt;
}

// The same name in a sibling folder, in a folder below the asked one, or with one folder left out
// ("css/img/bg.png" for img/bg.png: a style sheet's url() is relative to the sheet).
std::optional<std::string> Elsewhere(const CNameIndex& index, std::string_view folder, std::string_view name,
                                     bool isFolder)
{
    if (!folder.empty())
    {
        if (std::optional<std::string> found = InSubfolders(index, FolderOf(folder), NameOf(folder), name, isFolder))
            return found;
    }
    if (std::optional<std::string> found = InSubfolders(index, folder, std::string_view(), name, isFolder))
        return found;
    const std::string tail = std::string(name) + (isFolder ? "/" : "");
    const std::vector<std::string_view> segments = HttpRules::SplitPath(folder);
    for (std::size_t left = 0; left < segments.size(); ++left)
    {
        std::string candidate;
        for (std::size_t i = 0; i < segments.size(); ++i)
            candidate = i == left ? candidate : JoinPath(candidate, segments[i]);
        candidate = JoinPath(candidate, tail);
        if (index.Holds(candidate))
            return candidate;
    }
    return std::nullopt;
}

} // namespace

CMeantName CaseOnDisk(const CNameIndex& index, std::string_view path)
{
    if (index.Holds(path))
        return {};
    std::vector<std::string> others = index.OtherCases(path, 1);
    return others.empty() ? CMeantName() : CMeantName{EKind::Case, std::move(others.front())};
}

CMeantName MeantName(const CNameIndex& index, std::string_view path)
{
    const bool isFolder = !path.empty() && path.back() == '/';
    const std::string_view bare = isFolder ? path.substr(0, path.size() - 1) : path;
    if (bare.empty())
        return {};
    const std::string_view folder = FolderOf(bare), name = NameOf(bare);
    if (index.Holds(path))
    {
        // A folder that is there answers with its index page or a listing, no module.
        std::optional<std::string> module = isFolder ? WithExtension(index, folder, name, true) : std::nullopt;
        return module ? CMeantName{EKind::Extension, std::move(*module)} : CMeantName();
    }
    CMeantName meant = CaseOnDisk(index, path);
    if (meant.kind != EKind::None)
        return meant;
    using CRule = std::optional<std::string> (*)(const CNameIndex&, std::string_view, std::string_view, bool);
    for (const auto& [kind, rule] : {std::pair<EKind, CRule>{EKind::Extension, &WithExtension},
                                     {EKind::Near, &NearName},
                                     {EKind::Elsewhere, &Elsewhere}})
    {
        if (std::optional<std::string> found = rule(index, folder, name, isFolder))
            return {kind, std::move(*found)};
    }
    return {};
}

std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t most)
{
    while (!a.empty() && !b.empty() && a.front() == b.front())
        a.remove_prefix(1), b.remove_prefix(1);
    while (!a.empty() && !b.empty() && a.back() == b.back())
        a.remove_suffix(1), b.remove_suffix(1);
    if (a.size() > b.size())
        std::swap(a, b);
    const std::size_t m = a.size(), n = b.size(), over = most + 1;
    if (n - m > most)
        return over;
    if (m == 0)
        return n;
    // Three rows of the table (the swap of neighbours looks two back), each only within `most` of
    // its diagonal: cells beyond it cannot come back under the bound.
    std::size_t small[3 * 72];
    std::vector<std::size_t> large;
    std::size_t* pRows = small;
    if (n + 2 > 72)
        large.resize(3 * (n + 2)), pRows = large.data();
    std::size_t *before = pRows, *previous = pRows + (n + 2), *current = pRows + 2 * (n + 2);
    for (std::size_t j = 0; j <= n + 1; ++j)
        previous[j] = j <= most ? j : over;
    for (std::size_t i = 1; i <= m; ++i)
    {
        const std::size_t lo = i > most ? i - most : 1, hi = std::min(n, i + most);
        current[lo - 1] = lo == 1 && i <= most ? i : over;
        std::size_t rowLeast = current[lo - 1];
        for (std::size_t j = lo; j <= hi; ++j)
        {
            std::size_t cell =
                std::min({previous[j - 1] + (a[i - 1] != b[j - 1]), previous[j] + 1, current[j - 1] + 1});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                cell = std::min(cell, before[j - 2] + 1);
            current[j] = std::min(cell, over);
            rowLeast = std::min(rowLeast, current[j]);
        }
        if (hi < n)
            current[hi + 1] = over;
        if (rowLeast > most)
            return over;
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[n];
}

} // namespace Corvan
