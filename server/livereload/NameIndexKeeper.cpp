#include "server/livereload/NameIndexKeeper.h"

#include "platform/FolderWatcher.h"
#include "platform/ServedFiles.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace Corvan
{

namespace
{

// A burst of changes (a build writing its output) is taken in as one.
constexpr std::chrono::milliseconds Gather{50};
// Past this many changed paths waiting, the whole folder is scanned again instead.
constexpr std::size_t MaxChanged = 10000;
// Listings follow links, as serving does; a link to a folder above must not make the tree endless.
constexpr std::size_t MaxDepth = 32;

std::size_t Depth(const std::string& folder)
{
    return folder.empty() ? 0 : std::count(folder.begin(), folder.end(), '/') + 1;
}

} // namespace

CNameIndexKeeper::CNameIndexKeeper(std::string strRoot) : m_strRoot(std::move(strRoot)) {}

CNameIndexKeeper::~CNameIndexKeeper()
{
    Stop();
}

void CNameIndexKeeper::Start()
{
    Stop();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = false;
    m_stopping = false;
    m_all = true;
    Wake();
}

void CNameIndexKeeper::Stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_stopping = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
}

void CNameIndexKeeper::Changed(const std::string& relativePath)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (relativePath.empty() || m_changed.size() >= MaxChanged)
        {
            m_all = true;
            m_changed.clear();
        }
        else if (!m_all)
        {
            m_changed.insert(relativePath);
        }
        Wake();
    }
    m_wake.notify_all();
}

// The thread lives only while there is work: an idle server keeps no thread for a folder that
// does not change. Called with the lock held; a thread that has said it is done holds it no more.
void CNameIndexKeeper::Wake()
{
    if (m_running || m_stop)
        return;
    if (m_thread.joinable())
        m_thread.join();
    m_running = true;
    m_thread = std::thread([this] { Run(); });
}

std::shared_ptr<const CNameIndex> CNameIndexKeeper::Current() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_pCurrent;
}

void CNameIndexKeeper::Run()
{
    for (;;)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stop || (!m_all && m_changed.empty()))
        {
            m_running = false;
            return;
        }
        if (m_wake.wait_for(lock, Gather, [this] { return m_stop; }))
            return;
        const bool all = std::exchange(m_all, false);
        const std::set<std::string> changed = std::move(m_changed);
        m_changed.clear();
        // Only this thread replaces the index: the copy is made without the lock.
        const std::shared_ptr<const CNameIndex> pOld = m_pCurrent;
        lock.unlock();

        auto pNext = all || !pOld ? std::make_shared<CNameIndex>() : std::make_shared<CNameIndex>(*pOld);
        if (all || !pOld)
            Scan(*pNext, std::string());
        else
            Update(*pNext, changed);
        lock.lock();
        if (m_stop)
            return; // the scan may have been cut short
        m_pCurrent = std::move(pNext);
    }
}

// Each changed path's folder (the nearest one the index holds) is listed again, and a folder at
// the path itself scanned anew: it may have been replaced whole.
void CNameIndexKeeper::Update(CNameIndex& index, const std::set<std::string>& paths) const
{
    std::set<std::string> folders;
    for (const std::string& path : paths)
    {
        std::string folder(FolderOf(path));
        while (!folder.empty() && !index.Folder(folder))
            folder = std::string(FolderOf(folder));
        folders.insert(folder);
    }
    for (const std::string& folder : folders)
    {
        if (m_stopping)
            return;
        std::vector<std::string> added;
        if (!List(index, folder, added))
            index.DropTree(folder);
        for (const std::string& sub : added)
            Scan(index, sub);
    }
    for (const std::string& path : paths)
    {
        if (index.Folder(path))
            Scan(index, path);
    }
}

void CNameIndexKeeper::Scan(CNameIndex& index, const std::string& top) const
{
    std::vector<std::string> pending{top};
    while (!pending.empty() && index.NameCount() < MaxNames && !m_stopping)
    {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> added;
        if (!List(index, folder, added))
            continue;
        // Every sub folder is listed, not only new ones: a scan starts from a folder's own names.
        const CNameIndex::CFolder& names = *index.Folder(folder);
        for (const std::size_t at : names.folders)
        {
            if (Depth(folder) < MaxDepth)
                pending.push_back(JoinPath(folder, names.names[at].name));
        }
    }
}

// False when the folder cannot be listed (gone, or not readable).
bool CNameIndexKeeper::List(CNameIndex& index, const std::string& folder, std::vector<std::string>& added) const
{
    std::vector<ServedFiles::CFolderEntry> entries;
    if (!ServedFiles::ListFolder(folder.empty() ? m_strRoot : m_strRoot + "/" + folder, entries))
        return false;
    std::vector<CNameEntry> names;
    names.reserve(entries.size());
    for (ServedFiles::CFolderEntry& entry : entries)
    {
        // The watcher never reports these, so the index could not follow them.
        if (!CFolderWatcher::IsIgnoredName(entry.name))
            names.push_back({std::move(entry.name), entry.isFolder});
    }
    added = index.PutFolder(folder, names);
    return true;
}

} // namespace Corvan
