#pragma once

// The names the served folder holds, as its listings show them, so that a request that failed can
// be matched against them without touching the disk: folder by folder (real names, '/'-separated,
// "" for the root), each folder's names sorted by their ASCII lower case. A copy shares the
// folders' name lists, which never change once made: whoever keeps the index current changes a
// copy and publishes it whole, and readers never see half of a change.

#include <array>
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
        std::string folded; // ASCII lower case
        bool isFolder = false;
    };
    // How many of each kind of character a name holds (bytes by their value modulo 16, counts up
    // to 255): an edit changes the counts by two at most, so names whose counts differ by more
    // than twice the edits allowed are too different, found without comparing the names.
    using CCounts = std::array<std::uint8_t, 16>;
    // What the search for a near name reads of each name, small and kept apart, so that a folder
    // of thousands is read at memory's pace.
    struct CShape
    {
        CCounts counts{};
        std::uint16_t length = 0; // of the name, up to 65,535
        bool isFolder = false;
    };
    struct CFolder
    {
        std::vector<CName> names;         // sorted by `folded`, then `name`
        std::vector<CShape> shapes;       // one a name, in the same order
        std::vector<std::size_t> folders; // where the sub folders are among the names
    };

    // True for a name the index keeps: one a listing shows, and never a rule file at the root.
    static bool Keeps(std::string_view folder, std::string_view name);

    // Replaces the names of `folder` with those of `entries` it keeps. Sub folders it no longer
    // holds are dropped with everything below them; returns the sub folders that are new, whose
    // own names the caller puts next.
    std::vector<std::string> PutFolder(const std::string& folder, const std::vector<CNameEntry>& entries);
    // Forgets `folder` and everything below it.
    void DropTree(const std::string& folder);

    // The names of `folder`, nullptr when the index does not hold it.
    const CFolder* Folder(const std::string& folder) const;
    // True when `path` (a folder's with a trailing '/') is held with exactly this spelling.
    bool Holds(std::string_view path) const;
    // The same for `name` in `folder`, its folded form given.
    bool Holds(const std::string& folder, std::string_view name, const std::string& folded, bool isFolder) const;
    // The paths held that are spelled like `path` but for ASCII case, `path` itself excluded; at
    // most `most`, in name order.
    std::vector<std::string> OtherCases(std::string_view path, std::size_t most) const;
    std::size_t NameCount() const { return m_nameCount; }

    static std::string Fold(std::string_view text);
    static CCounts Counts(std::string_view folded);
    // How far apart two names' counts are: the sum of the differences.
    static std::size_t CountsApart(const CCounts& a, const CCounts& b);

private:
    std::unordered_map<std::string, std::shared_ptr<const CFolder>> m_folders;
    std::size_t m_nameCount = 0;
};

// "a/b" of "a/b/c" ("" for a name at the root), and "c".
std::string_view FolderOf(std::string_view path);
std::string_view NameOf(std::string_view path);
std::string JoinPath(std::string_view folder, std::string_view name);

} // namespace Corvan
