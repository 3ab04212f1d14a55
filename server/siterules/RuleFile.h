#pragma once

// Reading a site's rule file (_redirects, _headers) line by line within fixed limits, and the
// notices that tell the developer which lines were skipped and why ("_redirects line 3: ...").
// The files are the site's own and edited live, so nothing in them can stop the server: a line
// that cannot be used is skipped, and past a limit the rest of the file is.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{

class CPathPattern;

// The rule files live at the served folder's root and are never served themselves.
constexpr char RedirectsFileName[] = "_redirects";
constexpr char HeadersFileName[] = "_headers";
// True for the relative path of either rule file ("_redirects", "_headers").
bool IsRuleFile(std::string_view relativePath);

// True for an address on another host, which no rule of this server can match or serve:
// "http://" or "https://" in any case, or a scheme-relative "//host/...".
bool NamesOtherHost(std::string_view address);

class CRuleFileReader
{
public:
    static constexpr std::size_t MaxBytes = 64 * 1024;
    static constexpr std::size_t MaxLineLength = 1000;
    static constexpr int MaxRules = 1000;
    // A file of nothing but bad lines must not bury the page in notices.
    static constexpr std::size_t MaxNotices = 20;

    // Reads `text` (the file's first MaxBytes + 1 bytes are enough to tell it is too long).
    CRuleFileReader(const char* pFileName, std::string_view text, std::vector<std::string>& notices);

    // The next line that holds something: without its line end and trailing blanks, leading blanks
    // kept. Blank lines and '#' comments are passed over; lines that are too long, not UTF-8 or hold
    // control characters are reported and passed over. False at the end.
    bool NextLine(std::string_view& line);

    // Reports the current line as skipped, with `reason`.
    void Skip(const std::string& reason);
    // Reads a rule's path pattern; false, with a notice, for another host's address or a pattern
    // that cannot be used.
    bool ReadPattern(std::string_view token, CPathPattern& pattern);
    // Counts one more rule; false, with one notice, when the limit is reached (stop reading then).
    bool CountRule();

    // The number of the line NextLine gave last, from 1.
    int LineNumber() const { return m_lineNumber; }

    // A token from the file, as a notice shows it: quoted, escaped for a terminal (TerminalEscape),
    // and cut short when long.
    static std::string Quote(std::string_view token);

private:
    void Notice(const std::string& text);

    const char* m_pFileName;
    std::string_view m_text;
    std::vector<std::string>& m_notices;
    std::size_t m_ownNotices = 0;
    std::size_t m_position = 0;
    int m_lineNumber = 0;
    int m_rules = 0;
};

} // namespace Corvan
