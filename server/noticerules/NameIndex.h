#pragma once

// The names the served folder holds, as its listings show them, so that a request that failed can
// be matched against them without touching the disk: folder by folder (real names, '/'-separated,
// "" for the root), each folder's names sorted by their ASCII lower case. A copy shares the
// folders' name lists, which never change once made: whoever keeps the index current changes a
// copy and publishes it whole, and readers never see half of a change.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Corvan
{

struct CNameEntry
{
    std::string name;
    bool isFolder = false;
};

class CNameIndex
{
public:
    struct CName
    {
        std::string name;
        std::string folded;        // ASCII lower case
        std::uint64_t letters = 0; // which characters `folded` holds, for a quick "too different"
        bool isFolder = false;
    };
    using CNames = std::vector<CName>; // sorted by `folded`, then `name`

    // True for a name the index keeps: one a listing shows, and never a rule file at the root.
    static bool Keeps(std::string_view folder, std::string_view name);

    // Replaces the names of `folder` with those of `entries` it keeps. Sub folders it no longer
    // holds are dropped with everything below them; returns the sub folders that are new, whose
    // own names the caller puts next.
    std::vector<std::string> PutFolder(const std::string& folder, const std::vector<CNameEntry>& entries);
    // Forgets `folder` and everything below it.
    void DropTree(const std::string& folder);

    // The names of `folder`, nullptr when the index does not hold it.
    const CNames* Folder(const std::string& folder) const;
    // True when `path` (a folder's with a trailing '/') is held with exactly this spelling.
    bool Holds(std::string_view path) const;
    // The paths held that are spelled like `path` but for ASCII case, `path` itself excluded; at
    // most `most`, in name order.
    std::vector<std::string> OtherCases(std::string_view path, std::size_t most) const;
    std::size_t NameCount() const { return m_nameCount; }

    static std::string Fold(std::string_view text);
    static std::uint64_t Letters(std::string_view folded);

private:
    std::unordered_map<std::string, std::shared_ptr<const CNames>> m_folders;
    std::size_t m_nameCount = 0;
};

// "a/b" of "a/b/c" ("" for a name at the root), and "c".
std::string_view FolderOf(std::string_view path);
std::string_view NameOf(std::string_view path);
std::string JoinPath(std::string_view folder, std::string_view name);

} // namespace Corvan
