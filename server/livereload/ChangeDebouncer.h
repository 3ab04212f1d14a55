#pragma once

// Live reload's changes, coalesced: an editor's save is several events within a few milliseconds
// and a build may go on longer, so pages hear of them once the folder has been quiet for a moment,
// or after a longest delay in all. Pure: the caller's clock, so the rule can be checked on its own.

#include <chrono>
#include <string>

namespace Corvan
{

class CChangeDebouncer
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds QuietTime{40};
    static constexpr std::chrono::milliseconds LongestDelay{400};

    // A change of the file at `relativePath` (empty: anything may have changed) at `now`.
    void Add(const std::string& relativePath, Clock::time_point now);
    bool IsPending() const { return m_pending; }
    // When the pending changes are due to be told.
    Clock::time_point Due() const;
    // The message for the pending changes ("css" when only style sheets changed, else "reload");
    // nothing is pending after it.
    std::string Take();

private:
    bool m_pending = false;
    bool m_onlyStyleSheets = true;
    Clock::time_point m_first;
    Clock::time_point m_last;
};

} // namespace Corvan
