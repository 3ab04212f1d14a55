#pragma once

// Where the live-reload script goes in a page, as pure functions on text: no I/O, so every odd
// page can be checked on its own, and a page read in pieces gets the same answer as a whole one.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvan
{
namespace HtmlInjection
{

// True for the names that are served as pages and get the script: .html and .htm, in any case.
bool IsPageName(const std::string& fileName);

// Finds where the tag goes while a page is read in pieces of any size, with a few bytes of state
// whatever the page's size: before the page's last closing body tag that is markup (one inside a
// comment, a script, a style, a title or a textarea is text), or at its end when it has none.
class CBodyEndFinder
{
public:
    // Pages in UTF-16 (by their byte-order mark) stay unchanged: an ASCII tag would corrupt them.
    static constexpr std::uint64_t Unchanged = UINT64_MAX;

    void Feed(const char* pData, std::size_t length);
    // Call once, after the whole page was fed: the offset where the tag goes, or Unchanged.
    std::uint64_t Finish();

private:
    enum class EState
    {
        Text,
        Tag,     // after a '<', not yet known which tag
        Comment, // up to "-->"
        RawText, // a text element's content, up to m_pClose
    };
    void Step(char c, std::uint64_t offset);
    // Decides a pending tag (atEnd: no more bytes come); false while more bytes are needed.
    bool DecideTag(bool atEnd);

    EState m_state = EState::Text;
    std::uint64_t m_size = 0;
    unsigned char m_start[2] = {0, 0};
    std::uint64_t m_bodyEnd = Unchanged;
    std::uint64_t m_tagStart = 0;
    char m_pending[12];
    std::size_t m_pendingLength = 0;
    const char* m_pClose = nullptr;
    std::size_t m_matched = 0;
};

// The whole page with `tag` inserted where CBodyEndFinder says (a page fed in one piece).
std::string InsertBeforeBodyEnd(const std::string& html, const std::string& tag);

} // namespace HtmlInjection
} // namespace Corvan
