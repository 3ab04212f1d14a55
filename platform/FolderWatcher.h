#pragma once

// Watches a folder tree and reports which files change and how, on a thread of its own. The neutral part
// (which names never count, the limits) is here; each platform has its own file
// (FolderWatcher_linux.cpp with inotify; FolderWatcher_win.cpp with ReadDirectoryChangesW).
//
// The root is watched by its path, not as the folder it was at the start: build tools replace
// their output folder ("rm -rf dist && mkdir dist") or rename it away. When the root is removed or
// renamed, the old tree is no longer watched (a page must not reload into a folder that is gone)
// and RootGoneCallback runs; when a folder is at the root's path again, its tree is watched anew
// and reported as a change of everything (an empty path).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Corvan
{

class CFolderWatcher
{
public:
    // Bounds that keep a huge folder from costing the server its start or its memory.
    struct CLimits
    {
        std::size_t maxEntries = 100000; // files and folders, dot entries not counted
        std::size_t maxWatches = 0;      // 0: only the system's own limit
    };

    // What happened to a file. Written and Created leave a writer at work; the others are whole:
    // what a page loads next is what it will stay.
    enum class EChange
    {
        Written,    // bytes written; the writer may not be done (and says so with Closed)
        Created,    // a new file, still to be written
        Closed,     // a writer closed it, or (where the system does not tell) it stopped changing
        MovedIn,    // put in place whole: renamed in, or a link made
        Touched,    // attributes or times changed
        Removed,    // deleted or renamed away
        Folder,     // a folder came, went or was renamed
        Everything, // changes were lost (empty path): anything may have changed
    };

    // Called on the watcher's thread with a '/'-separated path relative to the root; empty with
    // Everything.
    using ChangeCallback = std::function<void(const std::string& relativePath, EChange change)>;
    // Called once, on the watcher's thread, when the first scan is done and every folder watched;
    // `strCaveat`, unless empty, says why some changes may never be reported (a network share).
    using ReadyCallback = std::function<void(const std::string& strCaveat)>;
    // Called on the watcher's thread each time the root is removed or renamed away; watching
    // resumes by itself.
    using RootGoneCallback = std::function<void()>;
    // Called once when the folder cannot (or can no longer) be watched.
    // Nothing is reported after it.
    using FailureCallback = std::function<void(const std::string& reason)>;

    CFolderWatcher();
    ~CFolderWatcher();
    CFolderWatcher(const CFolderWatcher&) = delete;
    CFolderWatcher& operator=(const CFolderWatcher&) = delete;

    // Scans and watches `root` in the background, so a large folder never delays the server.
    void Start(const std::string& root, const CLimits& limits, ReadyCallback onReady, ChangeCallback onChange,
               RootGoneCallback onRootGone, FailureCallback onFailure);
    // Ends the thread; no callback runs after it returns.
    void Stop();

    // How many changes have been handed to the change callback so far. Any thread.
    std::uint64_t Reported() const;
    // True while changes may have happened that are not yet handed on: the system still holds
    // them, or the watcher is on its way to the callback with them. A reader that finds false after
    // reading a file, and has seen Reported() changes, knows of every write before its read. Any
    // thread.
    bool HasUnreported() const;

    // Names whose changes never count, and folders never entered: dot entries (hidden, version
    // control), and editors' temporary files (backup "x~", swap "x.swp"/"x.swx", auto-save "#x#",
    // the probe file "4913" one editor writes to test a folder, the "x___jb_tmp___" and
    // "x___jb_old___" of an atomic save, a browser's "x.crswap", and "x.tmp"), so that a save by
    // rename stays a change of the saved file alone.
    static bool IsIgnoredName(const std::string& name);

private:
    // What the user is told of a folder on a network file system of `type` (none when empty).
    static std::string NetworkCaveat(const std::string& type);

    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};

} // namespace Corvan
