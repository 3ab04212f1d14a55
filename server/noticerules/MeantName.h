#pragma once

// What a page meant when it asked for a name the folder does not have: the commonest reasons a
// page that works on the developer's machine fails once published. Only names the index holds are
// ever suggested, so never what is never served (NameIndex.h).

#include "server/noticerules/NameIndex.h"

#include <string>
#include <string_view>

namespace Corvan
{

struct CMeantName
{
    enum class EKind
    {
        None,
        Case,      // the same path in another case: found by a case-insensitive file system only
        Extension, // "util" for util.js, or a folder's index.js: a bundler adds it, a browser does not
        Near,      // one or two letters off, in the same folder
        Elsewhere, // the same name in a sibling folder, a folder below, or with one folder left out
    };
    EKind kind = EKind::None;
    std::string path;
};

// For `path` (relative to the root, a folder's with its trailing '/'), which failed: the name the
// folder has that was most likely meant, trying the kinds in the order above. None when nothing is
// close, or when the index holds `path` itself: it failed for another reason, unless it is a folder
// asked for as a module.
CMeantName MeantName(const CNameIndex& index, std::string_view path);

// For `path`, which a case-insensitive file system answered: the spelling the folder has when it
// differs from the request's.
CMeantName CaseOnDisk(const CNameIndex& index, std::string_view path);

// The optimal-alignment edit distance of `a` and `b` (a swap of neighbours counts one), or a
// number above `most` as soon as it is certain to exceed it.
std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t most);

} // namespace Corvan
