// A site's _redirects and _headers as a developer may leave them mid-edit, matched against any
// request. Whatever the files say: a rewrite answers with a file below the folder that a request
// could name itself, a Location carries no byte that could end the header, no header the server
// frames its answers with is ever set, and every notice is one short line of text that a terminal
// shows as it is: no control, no mark that reorders or hides text, nothing that is not UTF-8.
//
// Input: NUL-separated: the _redirects text, the _headers text, a request target ("/path?query").

#include "server/httprules/Escaping.h"
#include "server/httprules/Target.h"
#include "server/siterules/HeaderRules.h"
#include "server/siterules/RedirectRules.h"
#include "server/siterules/RuleFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace Corvan;
using CorvanFuzz::IsStrictUtf8;
using CorvanFuzz::Require;

namespace
{

std::string Part(const std::string& input, std::size_t& begin, char separator)
{
    const std::size_t end = std::min(input.find(separator, begin), input.size());
    const std::string part = begin < input.size() ? input.substr(begin, end - begin) : std::string();
    begin = end + 1;
    return part;
}

bool HasControl(const std::string& text, bool tabAllowed)
{
    for (const char ch : text)
    {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && !(tabAllowed && c == '\t')) || c == 0x7F)
            return true;
    }
    return false;
}

// C1 controls (C2 80..9F) and the marks that reorder or hide text, as UTF-8; written apart from the
// server's list. Only for strict UTF-8, where a byte sequence cannot start inside a character.
bool HasTerminalMark(const std::string& text)
{
    for (const char* pMark :
         {"\xD8\x9C", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA", "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD",
          "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9", "\xEF\xBB\xBF"})
    {
        if (text.find(pMark) != std::string::npos)
            return true;
    }
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
    {
        if (text[i] == '\xC2' && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80)
            return true;
    }
    return false;
}

// Written apart from the server's list, so that a slip in one shows against the other.
bool IsFramingHeader(std::string name)
{
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* pName : {"connection", "content-length", "transfer-encoding", "keep-alive", "upgrade", "host",
                              "te", "trailer", "content-range", "content-encoding"})
    {
        if (name == pName)
            return true;
    }
    return name.compare(0, 6, "proxy-") == 0;
}

void CheckDecision(const CRedirectDecision& decision, const std::string& request)
{
    if (decision.action == CRedirectDecision::EAction::Rewrite)
    {
        const std::string& path = decision.target.relativePath;
        Require(decision.status == 200 || decision.status == 404, "a rewrite answers 200 or 404", request);
        Require(IsStrictUtf8(path) && !HasControl(path, false) && path.find('\\') == std::string::npos,
                "a rewrite's file has no control, backslash or invalid UTF-8", request + " -> " + path);
        for (std::size_t begin = 0; !path.empty() && begin <= path.size();)
        {
            const std::string segment = Part(path, begin, '/');
            Require(!segment.empty() && segment[0] != '.', "a rewrite's file is below the folder and not hidden",
                    request + " -> " + path);
        }
    }
    else if (decision.action == CRedirectDecision::EAction::Redirect)
    {
        const int status = decision.status;
        Require(status == 301 || status == 302 || status == 303 || status == 307 || status == 308,
                "a redirect's status is 301, 302, 303, 307 or 308", request);
        bool clean = !decision.location.empty();
        for (const char ch : decision.location)
            clean = clean && static_cast<unsigned char>(ch) > 0x20 && static_cast<unsigned char>(ch) < 0x7F;
        Require(clean, "a Location is printable ASCII without blanks", request + " -> " + decision.location);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(pData), size);
    std::size_t begin = 0;
    const std::string redirects = Part(input, begin, '\0');
    const std::string headers = Part(input, begin, '\0');
    const std::string request = Part(input, begin, '\0');

    std::vector<std::string> notices;
    const CRedirectRules redirectRules = CRedirectRules::Parse(redirects, notices);
    const CHeaderRules headerRules = CHeaderRules::Parse(headers, notices);
    Require(notices.size() <= 2 * (CRuleFileReader::MaxNotices + 2), "notices are few", std::to_string(notices.size()));
    for (const std::string& notice : notices)
    {
        Require((notice.compare(0, 10, "_redirects") == 0 || notice.compare(0, 8, "_headers") == 0) &&
                    notice.size() < 300 && IsStrictUtf8(notice) && !HasControl(notice, false) &&
                    !HasTerminalMark(notice),
                "a notice is one short line of text naming its file", notice);
    }
    // Rule files reach notices only as UTF-8 lines; a request's bytes may be anything.
    const std::string shown = HttpRules::TerminalEscape(request, 40);
    Require(IsStrictUtf8(shown) && !HasControl(shown, false) && !HasTerminalMark(shown) && shown.size() <= 43,
            "text from outside is shown as one line a terminal cannot obey", shown);

    // The path as the server hands it over (decoded), and as raw bytes, which the rules must
    // survive as well.
    const std::string raw = request.substr(0, request.find('?'));
    const std::string query = raw.size() < request.size() ? request.substr(raw.size() + 1) : std::string();
    HttpRules::CTarget target;
    const bool decoded = HttpRules::DecodeTarget(raw.c_str(), target) == HttpRules::ETarget::Ok;
    for (const std::string& path : {decoded ? "/" + target.relativePath : std::string(), raw})
    {
        for (const bool fileAnswers : {false, true})
        {
            int asked = 0;
            const CRedirectDecision decision = redirectRules.Match(path, query,
                                                                   [&](std::string_view)
                                                                   {
                                                                       ++asked;
                                                                       return fileAnswers;
                                                                   });
            Require(asked <= 1, "the file check is made at most once", request);
            CheckDecision(decision, request);
        }
        for (const auto& header : headerRules.HeadersFor(path))
        {
            Require(!IsFramingHeader(header.first), "no framing or connection header is set", header.first);
            Require(!header.first.empty() && !HasControl(header.first + header.second, true) &&
                        header.first.find_first_of(" \t:") == std::string::npos,
                    "a header is a token name and a value without line breaks", header.first + ": " + header.second);
        }
    }
    return 0;
}
