#include "server/livereload/ChangeDebouncer.h"

#include "server/httprules/TextRules.h"

#include <algorithm>

namespace Corvan
{

void CChangeDebouncer::Add(const std::string& relativePath, Clock::time_point now)
{
    if (!m_pending)
    {
        m_pending = true;
        m_onlyStyleSheets = true;
        m_first = now;
    }
    m_last = now;
    if (!TextRules::EndsWithNoCase(relativePath, ".css") || relativePath.size() <= 4)
        m_onlyStyleSheets = false;
}

CChangeDebouncer::Clock::time_point CChangeDebouncer::Due() const
{
    return std::min(m_last + QuietTime, m_first + LongestDelay);
}

std::string CChangeDebouncer::Take()
{
    m_pending = false;
    return m_onlyStyleSheets ? "css" : "reload";
}

} // namespace Corvan
