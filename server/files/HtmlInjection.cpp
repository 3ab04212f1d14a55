#include "server/files/HtmlInjection.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace Corvan
{
namespace HtmlInjection
{

namespace
{

// Tags the finder tells apart, lower case, each ending as a name: at '>', '/', white space or the
// end of the page. Text elements' content is read as text up to their own end tag.
struct CTagName
{
    const char* pName;
    const char* pClose; // nullptr: the body's end tag itself
};
constexpr CTagName TagNames[] = {{"</body", nullptr},
                                 {"<script", "</script"},
                                 {"<style", "</style"},
                                 {"<title", "</title"},
                                 {"<textarea", "</textarea"}};
constexpr char CommentOpen[] = "<!--";

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool EndsName(char c)
{
    return c == '>' || c == '/' || std::isspace(static_cast<unsigned char>(c));
}

// How `pending` (starting with '<') stands against `pName`: 1 matches, 0 may still match, -1 not.
int MatchTag(const char* pPending, std::size_t length, const char* pName, bool atEnd)
{
    const std::size_t nameLength = std::strlen(pName);
    for (std::size_t i = 0; i < std::min(length, nameLength); ++i)
    {
        if (Lower(pPending[i]) != pName[i])
            return -1;
    }
    if (length > nameLength)
        return EndsName(pPending[nameLength]) ? 1 : -1;
    return length == nameLength && atEnd ? 1 : (atEnd ? -1 : 0);
}

} // namespace

bool IsPageName(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string extension = fileName.substr(dot);
    for (char& c : extension)
        c = Lower(c);
    return extension == ".html" || extension == ".htm";
}

void CBodyEndFinder::Feed(const char* pData, std::size_t length)
{
    for (std::size_t i = 0; m_size + i < 2 && i < length; ++i)
        m_start[m_size + i] = static_cast<unsigned char>(pData[i]);
    for (std::size_t i = 0; i < length; ++i)
    {
        if (m_state == EState::Text)
        {
            // Plain text is most of a page: skip to the next '<' at once.
            const void* pNext = std::memchr(pData + i, '<', length - i);
            if (!pNext)
                break;
            i = static_cast<std::size_t>(static_cast<const char*>(pNext) - pData);
        }
        Step(pData[i], m_size + i);
    }
    m_size += length;
}

void CBodyEndFinder::Step(char c, std::uint64_t offset)
{
    switch (m_state)
    {
    case EState::Text:
        if (c == '<')
        {
            m_state = EState::Tag;
            m_tagStart = offset;
            m_pending[0] = c;
            m_pendingLength = 1;
        }
        break;
    case EState::Tag:
        m_pending[m_pendingLength++] = c;
        DecideTag(false);
        break;
    case EState::Comment:
        if (c == '>' && m_matched == 2)
            m_state = EState::Text;
        m_matched = c == '-' ? std::min<std::size_t>(m_matched + 1, 2) : 0;
        break;
    case EState::RawText:
        if (Lower(c) == m_pClose[m_matched])
        {
            if (m_pClose[++m_matched] == '\0')
                m_state = EState::Text;
        }
        else
        {
            m_matched = c == '<' ? 1 : 0;
        }
        break;
    }
}

bool CBodyEndFinder::DecideTag(bool atEnd)
{
    if (m_pendingLength >= 4 && std::memcmp(m_pending, CommentOpen, 4) == 0)
    {
        // The search for its end starts after "<!--": "<!-->" opens a comment, it does not end one.
        m_state = EState::Comment;
        m_matched = 0;
        return true;
    }
    bool undecided = !atEnd && std::memcmp(m_pending, CommentOpen, std::min<std::size_t>(m_pendingLength, 4)) == 0;
    for (const CTagName& tag : TagNames)
    {
        const int match = MatchTag(m_pending, m_pendingLength, tag.pName, atEnd);
        if (match > 0)
        {
            if (!tag.pClose)
                m_bodyEnd = m_tagStart;
            m_state = tag.pClose ? EState::RawText : EState::Text;
            m_pClose = tag.pClose;
            m_matched = 0;
            return true;
        }
        undecided = undecided || match == 0;
    }
    if (undecided)
        return false;
    // Not a tag that matters: what followed the '<' is text again (and may hold the next '<').
    char rest[sizeof m_pending];
    const std::size_t restLength = m_pendingLength - 1;
    std::memcpy(rest, m_pending + 1, restLength);
    const std::uint64_t restStart = m_tagStart + 1;
    m_state = EState::Text;
    for (std::size_t i = 0; i < restLength; ++i)
        Step(rest[i], restStart + i);
    return true;
}

std::uint64_t CBodyEndFinder::Finish()
{
    while (m_state == EState::Tag)
        DecideTag(true);
    if (m_size >= 2 && ((m_start[0] == 0xFF && m_start[1] == 0xFE) || (m_start[0] == 0xFE && m_start[1] == 0xFF)))
        return Unchanged;
    return m_bodyEnd != Unchanged ? m_bodyEnd : m_size;
}

std::string InsertBeforeBodyEnd(const std::string& html, const std::string& tag)
{
    CBodyEndFinder finder;
    finder.Feed(html.data(), html.size());
    const std::uint64_t at = finder.Finish();
    if (at == CBodyEndFinder::Unchanged)
        return html;
    std::string result;
    result.reserve(html.size() + tag.size());
    result.append(html, 0, static_cast<std::size_t>(at))
        .append(tag)
        .append(html, static_cast<std::size_t>(at), std::string::npos);
    return result;
}

} // namespace HtmlInjection
} // namespace Corvan
