#include "server/livereload/ChangeTracker.h"

#include "server/httprules/TextRules.h"
#include "server/httprules/Utf8.h"

#include <algorithm>
#include <cstdio>

namespace Corvan
{

namespace
{

bool IsStyleSheet(const std::string& path)
{
    return path.size() > 4 && TextRules::EndsWithNoCase(path, ".css");
}

// A JSON string: the name is UTF-8 (checked), so only quotes, backslashes and controls need escapes.
void AppendJsonString(std::string& json, const std::string& text)
{
    json += '"';
    for (const char c : text)
    {
        if (c == '"' || c == '\\')
        {
            json += '\\';
            json += c;
        }
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        }
        else
        {
            json += c;
        }
    }
    json += '"';
}

std::string MessageText(const std::vector<std::string>& paths)
{
    if (!std::all_of(paths.begin(), paths.end(), IsStyleSheet))
        return "reload";
    // A name that is not UTF-8 cannot go into a text message; too many make it large: then the
    // page swaps every sheet, as it does for a bare "css".
    std::string names = "[";
    for (const std::string& path : paths)
    {
        if (!HttpRules::IsValidUtf8(path) || names.size() > CChangeTracker::MaxNamedBytes)
            return "css";
        if (names.size() > 1)
            names += ',';
        AppendJsonString(names, path);
    }
    return names.size() > CChangeTracker::MaxNamedBytes ? "css" : "css\n" + names + "]";
}

} // namespace

void CChangeTracker::Add(const std::string& relativePath, EChange change, Clock::time_point now)
{
    const auto found = m_files.find(relativePath);
    CFile& file = m_files[relativePath];
    if (found == m_files.end() || file.told)
    {
        file.told = false;
        file.first = now;
        file.born = change == EChange::Created || change == EChange::MovedIn;
    }
    file.gone = change == EChange::Removed;
    if (change == EChange::Written || change == EChange::Created)
        file.writing = true;
    else if (change != EChange::Touched || !file.writing) // a writer may set times before it closes
    {
        file.writing = false;
        file.complete = now;
    }
}

CChangeTracker::Clock::time_point CChangeTracker::ReadyAt(const CFile& file)
{
    return file.writing ? file.first + LongestDelay : file.complete;
}

CChangeTracker::Clock::time_point CChangeTracker::Due() const
{
    if (!IsPending())
        return Clock::time_point::max();
    Clock::time_point firstReady = Clock::time_point::max();
    Clock::time_point lastComplete = Clock::time_point::min();
    Clock::time_point oldest = Clock::time_point::max();
    for (const auto& entry : m_files)
    {
        const CFile& file = entry.second;
        if (file.told)
            continue;
        firstReady = std::min(firstReady, ReadyAt(file));
        oldest = std::min(oldest, file.first);
        if (!file.writing)
            lastComplete = std::max(lastComplete, file.complete);
    }
    Clock::time_point due = firstReady + JoinWindow;
    // Close behind the last message: a burst, told once the folder is quiet.
    if (firstReady < m_lastTold + BurstGap)
        due = std::max(due, lastComplete + QuietTime);
    return std::min(due, oldest + LongestDelay);
}

bool CChangeTracker::IsPending() const
{
    return std::any_of(m_files.begin(), m_files.end(), [](const auto& entry) { return !entry.second.told; });
}

bool CChangeTracker::IsBeingWritten(const std::string& relativePath) const
{
    const auto found = m_files.find(relativePath);
    return found != m_files.end() && found->second.writing;
}

CChangeMessage CChangeTracker::Take(Clock::time_point now)
{
    CChangeMessage message;
    for (auto it = m_files.begin(); it != m_files.end();)
    {
        CFile& file = it->second;
        if (file.told || ReadyAt(file) > now)
        {
            ++it;
            continue;
        }
        // A file that came and went meanwhile (an editor's temporary file) is nothing to a page.
        if (!file.born || !file.gone)
            message.paths.push_back(it->first);
        // One still written stays known as such, so that it is not read half-written; its close is
        // told again.
        file.told = file.writing;
        it = file.told ? std::next(it) : m_files.erase(it);
    }
    if (message.paths.empty())
        return message;
    m_lastTold = now;
    message.text = MessageText(message.paths);
    return message;
}

} // namespace Corvan
