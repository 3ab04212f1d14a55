#include "server/httprules/Target.h"

#include "server/httprules/Escaping.h"

#include <algorithm>
#include <cstring>

namespace Corvan
{
namespace HttpRules
{

namespace
{

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

std::vector<std::string_view> SplitPath(std::string_view path)
{
    std::vector<std::string_view> segments;
    segments.reserve(static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1); // one allocation
    std::size_t begin = 0;
    while (begin < path.size())
    {
        std::size_t end = path.find('/', begin);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > begin)
            segments.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return segments;
}

ETarget DecodeTarget(const char* pRaw, CTarget& target)
{
    if (!pRaw || pRaw[0] != '/' || pRaw[1] == '/' || pRaw[1] == '\\')
        return ETarget::BadRequest;
    std::string decoded;
    decoded.reserve(std::strlen(pRaw));
    for (const char* p = pRaw; *p; ++p)
    {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (IsControl(c) || c == '\\' || c == '#' || c == ' ')
            return ETarget::BadRequest;
        if (c != '%')
        {
            decoded += static_cast<char>(c);
            continue;
        }
        const int high = HexValue(p[1]);
        const int low = high < 0 ? -1 : HexValue(p[2]);
        if (low < 0)
            return ETarget::BadRequest;
        const unsigned char value = static_cast<unsigned char>(high * 16 + low);
        // Any byte a file name may hold is served (names need not be UTF-8, and may hold control
        // characters), so that every name the tool or a listing links to answers; not NUL, which
        // would cut the path, nor a backslash, a separator on Windows.
        if (value == 0 || value == '\\')
            return ETarget::BadRequest;
        decoded += static_cast<char>(value);
        p += 2;
    }
    target = CTarget();
    target.endsWithSlash = decoded.back() == '/';
    bool hidden = false;
    for (const std::string_view segment : SplitPath(decoded))
    {
        if (segment == "." || segment == "..")
            return ETarget::BadRequest;
        if (segment[0] == '.')
            hidden = true;
        if (!target.relativePath.empty())
            target.relativePath += '/';
        target.relativePath += segment;
        target.lastSegment = segment;
    }
    return hidden ? ETarget::Hidden : ETarget::Ok;
}

bool IsLinkableName(std::string_view name)
{
    CTarget target;
    return DecodeTarget(("/" + PercentEncode(std::string(name))).c_str(), target) == ETarget::Ok;
}

} // namespace HttpRules
} // namespace Corvan
