#include "server/noticerules/NoticeBook.h"

namespace Corvan
{

CNoticeBook::CPage& CNoticeBook::PageEntry(const std::string& page)
{
    const auto found = m_pages.find(page);
    if (found != m_pages.end())
        return found->second;
    if (m_pages.size() >= MaxPages)
    {
        m_pages.erase(m_pageOrder.front());
        m_pageOrder.pop_front();
    }
    m_pageOrder.push_back(page);
    return m_pages[page];
}

void CNoticeBook::BeginLoad(const std::string& page)
{
    PageEntry(page) = CPage();
}

std::string CNoticeBook::PageFor(const std::string& referrer) const
{
    const auto found = m_loaders.find(referrer);
    return found == m_loaders.end() ? referrer : found->second;
}

void CNoticeBook::NoteLoader(const std::string& resource, const std::string& page)
{
    if (resource == page)
        return;
    const auto found = m_loaders.find(resource);
    if (found != m_loaders.end())
    {
        found->second = page;
        return;
    }
    if (m_loaders.size() >= MaxLoaders)
    {
        m_loaders.erase(m_loaderOrder.front());
        m_loaderOrder.pop_front();
    }
    m_loaderOrder.push_back(resource);
    m_loaders.emplace(resource, page);
}

bool CNoticeBook::Add(const std::string& page, const std::string& text)
{
    CPage& entry = PageEntry(page);
    if (entry.notices.size() >= MaxPerPage || !entry.seen.insert(text).second)
        return false;
    entry.notices.push_back(text);
    return true;
}

std::vector<std::string> CNoticeBook::Notices(const std::string& page) const
{
    const auto found = m_pages.find(page);
    return found == m_pages.end() ? std::vector<std::string>() : found->second.notices;
}

CNoticePrinter::CDecision CNoticePrinter::Decide(const std::string& text, Clock::time_point now)
{
    CDecision decision;
    if (m_printed.size() >= MaxPrinted || m_printed.count(text))
        return decision;
    if (now - m_second >= std::chrono::seconds(1))
        m_second = now, m_inSecond = 0;
    if (m_inSecond >= PerSecond)
    {
        ++m_heldBack;
        return decision;
    }
    ++m_inSecond;
    m_printed.insert(text);
    decision.print = true;
    decision.heldBack = m_heldBack;
    decision.last = m_printed.size() == MaxPrinted;
    m_heldBack = 0;
    return decision;
}

} // namespace Corvan
