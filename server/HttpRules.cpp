#include "server/HttpRules.h"

#include "server/TextRules.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace Corvan
{
namespace HttpRules
{

namespace
{

bool AllDigits(const char* pBegin, const char* pEnd)
{
    if (pBegin == pEnd)
        return false;
    for (const char* p = pBegin; p != pEnd; ++p)
    {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
    }
    return true;
}

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

// The well-formed UTF-8 lead bytes (Unicode's table 3-7): how many bytes follow each and the
// range the first of them must lie in, which rules out overlong forms, surrogates and anything
// above U+10FFFF.
struct CUtf8Lead
{
    unsigned char first, last; // lead bytes
    int continuation;
    unsigned char low, high; // first continuation byte
};
constexpr CUtf8Lead Utf8Leads[] = {
    {0x00, 0x7F, 0, 0, 0},       {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF},
    {0xE1, 0xEC, 2, 0x80, 0xBF}, {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF},
    {0xF0, 0xF0, 3, 0x90, 0xBF}, {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};

} // namespace

bool IsValidUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* pEnd = p + text.size();
    while (p < pEnd)
    {
        const unsigned char c = *p++;
        const auto* pLead = std::find_if(std::begin(Utf8Leads), std::end(Utf8Leads),
                                         [c](const CUtf8Lead& lead) { return c >= lead.first && c <= lead.last; });
        if (pLead == std::end(Utf8Leads))
            return false;
        unsigned char low = pLead->low, high = pLead->high;
        for (int i = 0; i < pLead->continuation; ++i, ++p)
        {
            if (p >= pEnd || *p < low || *p > high)
                return false;
            low = 0x80, high = 0xBF;
        }
    }
    return true;
}

namespace
{

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// Parses up to 18 decimal digits (no overflow); advances pText past them.
bool ParseNumber(const char*& pText, std::int64_t& value)
{
    value = 0;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*pText)))
    {
        if (++digits > 18)
            return false;
        value = value * 10 + (*pText - '0');
        ++pText;
    }
    return digits > 0;
}

void SkipSpaces(const char*& pText)
{
    while (*pText == ' ' || *pText == '\t')
        ++pText;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

const char* const MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const DayNames[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"}; // 1970-01-01 was a Thursday

struct CMimeEntry
{
    const char* extension;
    const char* type;
};

// Scripts must be text/javascript: browsers refuse module scripts of any other type.
const CMimeEntry MimeTable[] = {
    {"html", "text/html"},
    {"htm", "text/html"},
    {"xhtml", "application/xhtml+xml"},
    {"js", "text/javascript"},
    {"mjs", "text/javascript"},
    {"cjs", "text/javascript"},
    {"css", "text/css"},
    {"json", "application/json"},
    {"map", "application/json"},
    {"webmanifest", "application/manifest+json"},
    {"wasm", "application/wasm"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"apng", "image/apng"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"avif", "image/avif"},
    {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},
    {"otf", "font/otf"},
    {"txt", "text/plain"},
    {"md", "text/markdown"},
    {"csv", "text/csv"},
    {"xml", "application/xml"},
    {"pdf", "application/pdf"},
    {"mp4", "video/mp4"},
    {"webm", "video/webm"},
    {"ogv", "video/ogg"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/wav"},
    {"ogg", "audio/ogg"},
    {"oga", "audio/ogg"},
    {"flac", "audio/flac"},
    {"glb", "model/gltf-binary"},
    {"gltf", "model/gltf+json"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
};

} // namespace

bool IsLoopbackHost(const char* pHost)
{
    if (!pHost)
        return false;
    const char* pEnd = pHost + std::strlen(pHost);
    // An optional ":port" at the end; for "[::1]" only after the closing bracket.
    const char* pColon = nullptr;
    for (const char* p = pEnd; p != pHost; --p)
    {
        if (p[-1] == ':')
        {
            pColon = p - 1;
            break;
        }
        if (p[-1] == ']')
            break;
    }
    if (pColon)
    {
        if (!AllDigits(pColon + 1, pEnd) || pEnd - pColon > 6)
            return false;
        pEnd = pColon;
    }
    if (pEnd != pHost && pEnd[-1] == '.')
        --pEnd;
    const std::string_view host(pHost, static_cast<std::size_t>(pEnd - pHost));
    return TextRules::EqualsNoCase(host, "localhost") || TextRules::EqualsNoCase(host, "127.0.0.1") ||
           TextRules::EqualsNoCase(host, "[::1]");
}

std::vector<std::string_view> SplitPath(std::string_view path)
{
    std::vector<std::string_view> segments;
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

const char* MimeType(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot != std::string::npos && fileName.find('/', dot) == std::string::npos)
    {
        const char* pExtension = fileName.c_str() + dot + 1;
        const std::size_t length = fileName.size() - dot - 1;
        for (const CMimeEntry& entry : MimeTable)
        {
            if (TextRules::EqualsNoCase(std::string_view(pExtension, length), entry.extension))
                return entry.type;
        }
    }
    return "application/octet-stream";
}

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

void FormatHttpDate(std::int64_t secondsSinceEpoch, char* pBuffer)
{
    std::int64_t days = secondsSinceEpoch / 86400;
    std::int64_t secondsOfDay = secondsSinceEpoch % 86400;
    if (secondsOfDay < 0)
        secondsOfDay += 86400, --days;
    const int weekday = static_cast<int>(((days % 7) + 7) % 7);
    // Civil date from days (inverse of DaysFromCivil).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(z - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    std::snprintf(pBuffer, HttpDateSize, "%s, %02u %s %04" PRId64 " %02d:%02d:%02d GMT", DayNames[weekday], day,
                  MonthNames[month - 1], year, static_cast<int>(secondsOfDay / 3600),
                  static_cast<int>(secondsOfDay / 60 % 60), static_cast<int>(secondsOfDay % 60));
}

bool ParseHttpDate(const char* pText, std::int64_t& secondsSinceEpoch)
{
    char weekday[4] = {}, monthName[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    if (!pText ||
        std::sscanf(pText, "%3s, %2d %3s %4d %2d:%2d:%2d GMT%n", weekday, &day, monthName, &year, &hour, &minute,
                    &second, &consumed) != 7 ||
        consumed == 0 || pText[consumed] != '\0')
        return false;
    for (unsigned month = 1; month <= 12; ++month)
    {
        if (std::strcmp(monthName, MonthNames[month - 1]) == 0)
        {
            if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
                return false;
            const std::int64_t seconds =
                DaysFromCivil(year, month, static_cast<unsigned>(day)) * 86400 + hour * 3600 + minute * 60 + second;
            // sscanf also takes "8" for "08", "-1" for an hour, 31 February and any weekday, which
            // name no date or another one: only the exact text of that instant is a valid date.
            char canonical[HttpDateSize];
            FormatHttpDate(seconds, canonical);
            while (std::isspace(static_cast<unsigned char>(*pText)))
                ++pText;
            if (std::strcmp(canonical, pText) != 0)
                return false;
            secondsSinceEpoch = seconds;
            return true;
        }
    }
    return false;
}

std::string MakeETag(std::uint64_t fileId, std::int64_t size, std::int64_t mtimeSeconds, std::int64_t mtimeNanoseconds)
{
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "\"%" PRIx64 "-%" PRIx64 "-%" PRIx64 ".%09" PRId64 "\"", fileId,
                  static_cast<std::uint64_t>(size), static_cast<std::uint64_t>(mtimeSeconds), mtimeNanoseconds);
    return buffer;
}

bool ETagListMatches(const char* pIfNoneMatch, const std::string& etag)
{
    const char* p = pIfNoneMatch;
    while (*p)
    {
        SkipSpaces(p);
        if (*p == '*')
            return true;
        if (p[0] == 'W' && p[1] == '/')
            p += 2;
        const char* pBegin = p;
        while (*p && *p != ',')
            ++p;
        const char* pEnd = p;
        while (pEnd != pBegin && (pEnd[-1] == ' ' || pEnd[-1] == '\t'))
            --pEnd;
        if (static_cast<std::size_t>(pEnd - pBegin) == etag.size() &&
            etag.compare(0, etag.size(), pBegin, etag.size()) == 0)
            return true;
        if (*p == ',')
            ++p;
    }
    return false;
}

ERange ParseRange(const char* pRange, std::int64_t size, std::int64_t& first, std::int64_t& last)
{
    const char* p = pRange;
    SkipSpaces(p);
    if (!TextRules::StartsWithNoCase(p, "bytes="))
        return ERange::Whole;
    p += 6;
    SkipSpaces(p);
    std::int64_t start = -1, end = -1;
    if (*p == '-')
    {
        ++p;
        if (!ParseNumber(p, end))
            return ERange::Whole;
    }
    else
    {
        if (!ParseNumber(p, start) || *p++ != '-')
            return ERange::Whole;
        if (std::isdigit(static_cast<unsigned char>(*p)) && !ParseNumber(p, end))
            return ERange::Whole;
    }
    SkipSpaces(p);
    if (*p != '\0') // a list of ranges, or trailing garbage
        return ERange::Whole;
    if (start < 0) // suffix: the last `end` bytes
    {
        if (end == 0 || size == 0)
            return ERange::Unsatisfiable;
        first = end >= size ? 0 : size - end;
        last = size - 1;
        return ERange::Partial;
    }
    if (end >= 0 && end < start)
        return ERange::Whole;
    if (start >= size)
        return ERange::Unsatisfiable;
    first = start;
    last = end < 0 || end >= size ? size - 1 : end;
    return ERange::Partial;
}

} // namespace HttpRules
} // namespace Corvan
