#pragma once

// Live reload's changes, told once each save is complete: a file whose writer closed it (or that a
// rename put in place) is told after a short join window that gathers a "save all"; a file still
// being written holds back only itself, until it is closed or the longest delay has passed. Once a
// message has gone out, changes that follow close behind it are a burst (a build), told when the
// folder has been quiet for a moment, or after the longest delay in all. Pure: the caller's clock,
// so the rule can be checked on its own.

#include "platform/FolderWatcher.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace Corvan
{

// What the pages are told: "reload", or "css" when only style sheets changed, with their paths below
// the root as a JSON array on a second line when they fit (a bare "css": swap every sheet).
struct CChangeMessage
{
    std::string text;               // empty: nothing to tell
    std::vector<std::string> paths; // the changes told, "" for "anything"
};

class CChangeTracker
{
public:
    using Clock = std::chrono::steady_clock;
    using EChange = CFolderWatcher::EChange;
    static constexpr std::chrono::milliseconds JoinWindow{3};
    static constexpr std::chrono::milliseconds BurstGap{100};
    static constexpr std::chrono::milliseconds QuietTime{40};
    static constexpr std::chrono::milliseconds LongestDelay{400};
    // Names in a "css" message at most, in bytes; beyond it every sheet is swapped.
    static constexpr std::size_t MaxNamedBytes = 1024;

    void Add(const std::string& relativePath, EChange change, Clock::time_point now);
    bool IsPending() const;
    // When the next message is due; Clock::time_point::max() with nothing pending.
    Clock::time_point Due() const;
    // True while a writer is known to be at work on the file (written or created, not closed).
    bool IsBeingWritten(const std::string& relativePath) const;
    // The message for the changes complete at `now`; they are no longer pending after it.
    CChangeMessage Take(Clock::time_point now);

private:
    struct CFile
    {
        Clock::time_point first;    // the first event since the file was last told
        Clock::time_point complete; // when it was last closed, renamed in, removed...
        bool writing = false;       // a writer is at work
        bool born = false;          // it did not exist before its first event
        bool gone = false;          // its last event removed it
        bool told = false;          // told while still written (after the longest delay): kept for its writer
    };
    // When the file may be told: once complete, or (still written) after the longest delay.
    static Clock::time_point ReadyAt(const CFile& file);

    std::map<std::string, CFile> m_files;
    Clock::time_point m_lastTold = Clock::time_point::min();
};

} // namespace Corvan
