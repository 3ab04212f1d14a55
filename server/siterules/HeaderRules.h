#pragma once

// A site's _headers file: a path pattern (PathPattern.h) at the start of a line, then indented
// "Name: value" lines for answers to the paths it matches; '#' comments.
//   /*
//     Cross-Origin-Opener-Policy: same-origin
// A line that is not indented starts a block: one that cannot be used (a mistyped path, another
// host's address) is skipped with the header lines under it. Every matching block adds its
// headers. Headers that frame the answer or the connection (Content-Length, Transfer-Encoding,
// Connection, ...) stay the server's: they are skipped.

#include "server/siterules/PathPattern.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Corvan
{

class CRuleFileReader;

class CHeaderRules
{
public:
    using CHeaders = std::vector<std::pair<std::string, std::string>>;

    // Reads a _headers file; every line that cannot be used adds one notice to `notices`.
    static CHeaderRules Parse(std::string_view text, std::vector<std::string>& notices);

    // The headers for an answer to a decoded request path, in the file's order. A name that
    // several lines (or several matching blocks) set comes once, where it is first set, their
    // values joined by ", "; each Set-Cookie line stays an entry of its own.
    CHeaders HeadersFor(std::string_view path) const;

    bool IsEmpty() const { return m_blocks.empty(); }

    // True for a header a site may not set: how the answer is framed and the connection kept is
    // the server's alone.
    static bool IsServersOwn(std::string_view name);

private:
    // Names are merged when the file is read, so that an answer costs a copy of its block.
    struct CBlock
    {
        CPathPattern pattern;
        CHeaders headers;               // one entry a name (Set-Cookie: one a line), in the file's order
        std::vector<std::size_t> names; // headers[i]'s number among the file's names, or Apart
    };
    static constexpr std::size_t Apart = static_cast<std::size_t>(-1); // Set-Cookie: never joined
    // The file's names while it is read: a number for each (in any case), and the last block that
    // set it with the entry it holds there.
    struct CNames
    {
        std::unordered_map<std::string, std::size_t> numbers;
        std::vector<std::pair<std::size_t, std::size_t>> inBlock;
    };
    // Read a block's path line and an indented header line, with a notice each when it cannot be
    // used; `open`: a path line above was read.
    static bool ReadPath(CRuleFileReader& reader, std::string_view content, CPathPattern& pattern);
    void ReadHeader(CRuleFileReader& reader, std::string_view content, bool open, CNames& names);
    void Add(std::string_view name, std::string_view value, CNames& names);

    std::vector<CBlock> m_blocks;
    std::size_t m_nameCount = 0;
};

} // namespace Corvan
