#pragma once

// What the server remembers of its pages' notices, within fixed bounds: each page's notices since
// its last load, which page loaded each module and style sheet, and which notices stderr has
// shown. The oldest entry gives way to a new one; nothing here grows with the pages' traffic.

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Corvan
{

class CNoticeBook
{
public:
    static constexpr std::size_t MaxPerPage = 100;
    static constexpr std::size_t MaxPages = 64;
    static constexpr std::size_t MaxLoaders = 4096;

    // The page was loaded (again): its notices start afresh.
    void BeginLoad(const std::string& page);
    // The page a request whose Referer is `referrer` belongs to: the page that loaded the module or
    // style sheet `referrer` names, else `referrer` itself.
    std::string PageFor(const std::string& referrer) const;
    // `resource` (a module, a style sheet) was loaded by `page`.
    void NoteLoader(const std::string& resource, const std::string& page);
    // Adds `text` to the page's notices; false when it has it already this load, or MaxPerPage.
    bool Add(const std::string& page, const std::string& text);
    // The page's notices this load, oldest first.
    std::vector<std::string> Notices(const std::string& page) const;

private:
    struct CPage
    {
        std::vector<std::string> notices;
        std::unordered_set<std::string> seen;
    };
    CPage& PageEntry(const std::string& page);

    std::unordered_map<std::string, CPage> m_pages;
    std::deque<std::string> m_pageOrder;
    std::unordered_map<std::string, std::string> m_loaders;
    std::deque<std::string> m_loaderOrder;
};

// Which notices the server prints: each distinct one once, a few a second at most (a page that
// asks for a thousand missing images prints a handful and a count), and MaxPrinted in all.
class CNoticePrinter
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t MaxPrinted = 1000;
    static constexpr std::size_t PerSecond = 10;

    struct CDecision
    {
        bool print = false;
        std::size_t heldBack = 0; // notices not printed for the rate since the last one printed
        bool last = false;        // the last one ever printed: say that the rest show only in pages
    };
    CDecision Decide(const std::string& text, Clock::time_point now);

private:
    std::unordered_set<std::string> m_printed;
    Clock::time_point m_second;
    std::size_t m_inSecond = 0;
    std::size_t m_heldBack = 0;
};

} // namespace Corvan
