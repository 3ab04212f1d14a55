#pragma once

// Keeps the index of the served folder's names (NameIndex.h) current, on a thread of its own while
// there is work: a first scan of the whole folder, then, for each change the folder watcher
// reports, the folder it happened in listed again. Each change is made on a copy that then
// replaces the published index, so the loop's look-ups never wait for the disk and never see half
// of a change.

#include "server/noticerules/NameIndex.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace Corvan
{

class CNameIndexKeeper
{
public:
    // Names at most: the folder watcher's own bound (CFolderWatcher::CLimits), past which live
    // reload is off anyway.
    static constexpr std::size_t MaxNames = 100000;

    explicit CNameIndexKeeper(std::string strRoot);
    ~CNameIndexKeeper();
    CNameIndexKeeper(const CNameIndexKeeper&) = delete;
    CNameIndexKeeper& operator=(const CNameIndexKeeper&) = delete;

    // Scans the folder in the background.
    void Start();
    // Ends the thread at once, a scan under way included; the index last published stays.
    void Stop();
    // A path the folder watcher reported changed; empty: anything may have changed. Any thread.
    void Changed(const std::string& relativePath);
    // The index as of the last change taken in; null until the first scan is done. Any thread.
    std::shared_ptr<const CNameIndex> Current() const;

private:
    void Wake();
    void Run();
    void Update(CNameIndex& index, const std::set<std::string>& paths) const;
    void Scan(CNameIndex& index, const std::string& top) const;
    bool List(CNameIndex& index, const std::string& folder, std::vector<std::string>& added) const;

    std::string m_strRoot;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::set<std::string> m_changed;
    bool m_all = true;
    bool m_stop = false;
    bool m_running = false;              // a thread is at work or about to be
    std::atomic<bool> m_stopping{false}; // read by a scan between folders: Stop never waits for a whole one
    std::shared_ptr<const CNameIndex> m_pCurrent;
    std::thread m_thread;
};

} // namespace Corvan
