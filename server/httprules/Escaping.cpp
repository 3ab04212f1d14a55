#include "server/httprules/Escaping.h"

#include "server/httprules/Utf8.h"

#include <cctype>

namespace Corvan
{
namespace HttpRules
{

namespace
{

bool IsShownEscaped(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// The code point of a well-formed character.
char32_t CodePoint(std::string_view character)
{
    static const unsigned char LeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(character[0]) & LeadBits[character.size() - 1];
    for (std::size_t i = 1; i < character.size(); ++i)
        c = (c << 6) | (static_cast<unsigned char>(character[i]) & 0x3F);
    return c;
}

} // namespace

std::string PercentEncode(const std::string& text)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char ch : text)
    {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~')
        {
            result += ch;
        }
        else
        {
            result += '%';
            result += Hex[c >> 4];
            result += Hex[c & 15];
        }
    }
    return result;
}

std::string HtmlEscape(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text)
    {
        switch (c)
        {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        case '\'':
            result += "&#39;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

std::string TerminalEscape(std::string_view text, std::size_t longest)
{
    static const char Hex[] = "0123456789abcdef";
    std::string result;
    for (std::size_t at = 0; at < text.size();)
    {
        const std::size_t length = Utf8CharacterLength(text.substr(at));
        const unsigned char c = static_cast<unsigned char>(text[at]);
        std::string piece;
        if (length == 0)
        {
            // A lone byte such as 0x9B, which a terminal may read as the start of a command.
            piece = {'\\', 'x', Hex[c >> 4], Hex[c & 15]};
        }
        else if (const char32_t point = CodePoint(text.substr(at, length)); IsShownEscaped(point))
        {
            // Every such character is below U+10000: four digits.
            piece = "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                piece += Hex[(point >> shift) & 15];
        }
        else
        {
            piece = text.substr(at, length);
        }
        if (result.size() + piece.size() > longest)
            return result + "...";
        result += piece;
        at += length ? length : 1;
    }
    return result;
}

} // namespace HttpRules
} // namespace Corvan
