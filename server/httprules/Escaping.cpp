#include "server/httprules/Escaping.h"

#include <cctype>

namespace Corvan
{
namespace HttpRules
{

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

} // namespace HttpRules
} // namespace Corvan
