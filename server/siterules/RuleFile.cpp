#include "server/siterules/RuleFile.h"

#include "server/httprules/Escaping.h"
#include "server/httprules/TextRules.h"
#include "server/httprules/Utf8.h"
#include "server/siterules/PathPattern.h"

namespace Corvan
{

bool IsRuleFile(std::string_view relativePath)
{
    return relativePath == RedirectsFileName || relativePath == HeadersFileName;
}

bool NamesOtherHost(std::string_view address)
{
    return TextRules::StartsWithNoCase(address, "http://") || TextRules::StartsWithNoCase(address, "https://") ||
           address.substr(0, 2) == "//";
}

CRuleFileReader::CRuleFileReader(const char* pFileName, std::string_view text, std::vector<std::string>& notices)
    : m_pFileName(pFileName), m_text(text), m_notices(notices)
{
    if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
        m_text.remove_prefix(3);
    if (m_text.size() > MaxBytes)
    {
        // Only whole lines count: a line cut at the limit could read as another rule.
        m_text = m_text.substr(0, MaxBytes);
        m_text = m_text.substr(0, m_text.rfind('\n') + 1);
        Notice(std::string(m_pFileName) + ": larger than 64 KiB; the rest of the file is ignored");
    }
}

bool CRuleFileReader::NextLine(std::string_view& line)
{
    while (m_position < m_text.size())
    {
        std::size_t end = m_text.find('\n', m_position);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_position, end - m_position);
        m_position = end + 1;
        ++m_lineNumber;

        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        if (line.size() > MaxLineLength)
        {
            Skip("longer than 1,000 characters");
            continue;
        }
        bool control = false;
        for (const char ch : line)
        {
            const unsigned char c = static_cast<unsigned char>(ch);
            control = control || (c < 0x20 && c != '\t') || c == 0x7F;
        }
        if (control || !HttpRules::IsValidUtf8(line))
        {
            Skip(control ? "holds a control character" : "is not valid UTF-8 text");
            continue;
        }
        return true;
    }
    return false;
}

void CRuleFileReader::Skip(const std::string& reason)
{
    Notice(std::string(m_pFileName) + " line " + std::to_string(m_lineNumber) + ": " + reason);
}

bool CRuleFileReader::ReadPattern(std::string_view token, CPathPattern& pattern)
{
    // Read as a path, "//cdn.example.com/*" would be the local "/cdn.example.com/*".
    if (NamesOtherHost(token))
    {
        Skip("rules for other hosts do not apply to this server");
        return false;
    }
    std::string error;
    if (pattern.Parse(token, error))
        return true;
    Skip(Quote(token) + ": " + error);
    return false;
}

bool CRuleFileReader::CountRule()
{
    if (++m_rules <= MaxRules)
        return true;
    // Said even past the notices' limit: it explains why later rules do nothing.
    m_notices.push_back(std::string(m_pFileName) + " line " + std::to_string(m_lineNumber) +
                        ": more than 1,000 rules; the rest of the file is ignored");
    m_position = m_text.size();
    return false;
}

std::string CRuleFileReader::Quote(std::string_view token)
{
    // A notice is one line of plain text, shown in a terminal and on a page.
    return "\"" + HttpRules::TerminalEscape(token, 40) + "\"";
}

void CRuleFileReader::Notice(const std::string& text)
{
    if (m_ownNotices < MaxNotices)
        m_notices.push_back(text);
    else if (m_ownNotices == MaxNotices)
        m_notices.push_back(std::string(m_pFileName) + ": more lines were skipped; only the first are shown");
    ++m_ownNotices;
}

} // namespace Corvan
