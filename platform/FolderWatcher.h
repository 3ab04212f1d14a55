#pragma once

// Watches a folder tree and reports which files change, on a thread of its own. The neutral part
// (which names never count, the limits) is here; each platform has its own file
// (FolderWatcher_linux.cpp with inotify; FolderWatcher_win.cpp with ReadDirectoryChangesW).
//
// The root is watched by its path, not as the folder it was at the start: build tools replace
// their output folder ("rm -rf dist && mkdir dist") or rename it away. When the root is removed or
// renamed, the old tree is no longer watched (a page must not reload into a folder that is gone)
// and RootGoneCallback runs; when a folder is at the root's path again, its tree is watched anew
// and reported as a change of everything (an empty path).

#include <cstddef>
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

    // Called on the watcher's thread with a '/'-separated path relative to the root; empty when
    // changes were lost and anything may have changed.
    using ChangeCallback = std::function<void(const std::string& relativePath)>;
    // Called once, on the watcher's thread, when the first scan is done and every folder watched.
    using ReadyCallback = std::function<void()>;
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

    // Names whose changes never count, and folders never entered: dot entries (hidden, version
    // control), and editors' temporary files (backup "x~", swap "x.swp"/"x.swx", auto-save "#x#",
    // and the probe file "4913" one editor writes to test a folder).
    static bool IsIgnoredName(const std::string& name);

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};

} // namespace Corvan
