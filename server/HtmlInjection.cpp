#include "server/HtmlInjection.h"

#include <cctype>
#include <cstring>

namespace Corvan
{
namespace HtmlInjection
{

namespace
{

bool StartsWithNoCase(const std::string& text, std::size_t at, const char* pPrefix)
{
    const std::size_t length = std::strlen(pPrefix);
    if (text.size() - at < length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
    {
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != pPrefix[i])
            return false;
    }
    return true;
}

std::size_t FindNoCase(const std::string& text, std::size_t from, const char* pNeedle)
{
    for (std::size_t at = from; at < text.size(); ++at)
    {
        if (StartsWithNoCase(text, at, pNeedle))
            return at;
    }
    return std::string::npos;
}

// True when `text` has, at `at`, the tag `pName` (lower case, with its '<' or "</") ending there as
// a name: what follows is '>', '/', white space or the end.
bool IsTagAt(const std::string& text, std::size_t at, const char* pName)
{
    if (!StartsWithNoCase(text, at, pName))
        return false;
    const std::size_t end = at + std::strlen(pName);
    return end == text.size() || text[end] == '>' || text[end] == '/' ||
           std::isspace(static_cast<unsigned char>(text[end]));
}

// Elements whose content the HTML parser reads as text up to their own end tag.
struct CTextElement
{
    const char* pOpen;
    const char* pClose;
};
constexpr CTextElement TextElements[] = {
    {"<script", "</script"}, {"<style", "</style"}, {"<title", "</title"}, {"<textarea", "</textarea"}};

} // namespace

bool IsPageName(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string extension = fileName.substr(dot);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".html" || extension == ".htm";
}

std::string InsertBeforeBodyEnd(const std::string& html, const std::string& tag)
{
    if (html.size() >= 2 && ((html[0] == '\xFF' && html[1] == '\xFE') || (html[0] == '\xFE' && html[1] == '\xFF')))
        return html;

    std::size_t bodyEnd = std::string::npos;
    std::size_t at = 0;
    while ((at = html.find('<', at)) != std::string::npos)
    {
        if (html.compare(at, 4, "<!--") == 0)
        {
            const std::size_t end = html.find("-->", at + 4);
            if (end == std::string::npos)
                break;
            at = end + 3;
            continue;
        }
        if (IsTagAt(html, at, "</body"))
        {
            bodyEnd = at;
            at += 6;
            continue;
        }
        std::size_t next = at + 1;
        for (const CTextElement& element : TextElements)
        {
            if (IsTagAt(html, at, element.pOpen))
            {
                const std::size_t close = FindNoCase(html, at + std::strlen(element.pOpen), element.pClose);
                next = close == std::string::npos ? html.size() : close;
                break;
            }
        }
        at = next;
    }

    if (bodyEnd == std::string::npos)
        return html + tag;
    std::string result;
    result.reserve(html.size() + tag.size());
    result.append(html, 0, bodyEnd).append(tag).append(html, bodyEnd, std::string::npos);
    return result;
}

} // namespace HtmlInjection
} // namespace Corvan
