// The validators and byte ranges of a file answer, decided from request headers a client chose.
// Whatever the headers: the bytes sent lie within the file, a 304 is given only for a version the
// client provably holds, and a date is understood only in the one form the server writes.
//
// Input: a first line "SIZE MTIME" (the file), then "Name: value" header lines. In values, $ETAG
// and $DATE stand for the file's own ETag and Last-Modified, so matching validators are easy to find.

#include "server/files/ConditionalRequest.h"
#include "server/httprules/ETags.h"
#include "server/httprules/HttpDates.h"
#include "server/httprules/Ranges.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace Corvan;
using CorvanFuzz::Require;

namespace
{

using CHeaders = std::vector<std::pair<std::string, std::string>>;

bool SameName(const std::string& a, const char* pB)
{
    return std::equal(
        a.begin(), a.end(), pB, pB + std::strlen(pB),
        [](char x, char y)
        { return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y)); });
}

void ReplaceAll(std::string& text, const std::string& token, const std::string& with)
{
    for (std::size_t at = 0; (at = text.find(token, at)) != std::string::npos; at += with.size())
        text.replace(at, token.size(), with);
}

const char* Header(const CHeaders& headers, const char* pName)
{
    for (const auto& header : headers)
    {
        if (SameName(header.first, pName))
            return header.second.c_str();
    }
    return nullptr;
}

bool StartsWithBytesUnit(const char* pValue)
{
    while (*pValue == ' ' || *pValue == '\t')
        ++pValue;
    return SameName(std::string(pValue, std::min<std::size_t>(std::strlen(pValue), 6)), "bytes=");
}

// A date the server understands must be one it could have written (white space around it aside):
// anything else (31 February, a negative hour, a wrong weekday) is not a valid date and must be
// ignored, not guessed at.
void CheckDateText(const char* pText)
{
    std::int64_t seconds = 0;
    if (!pText || !HttpRules::ParseHttpDate(pText, seconds))
        return;
    char written[HttpRules::HttpDateSize];
    HttpRules::FormatHttpDate(seconds, written);
    while (std::isspace(static_cast<unsigned char>(*pText)))
        ++pText;
    Require(std::strcmp(written, pText) == 0, "an accepted date is one the server writes", pText);
}

// "bytes=N-M" with plain digits: what the standard says, to hold the parser to.
void CheckPlainRange(const char* pRange, std::int64_t size, HttpRules::ERange range, std::int64_t first,
                     std::int64_t last)
{
    const std::string value = pRange;
    const std::size_t dash = value.find('-');
    if (value.compare(0, 6, "bytes=") != 0 || dash == std::string::npos || dash == 6 || dash + 1 == value.size() ||
        dash - 6 > 15 || value.size() - dash - 1 > 15 ||
        !std::all_of(value.begin() + 6, value.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '-'; }) ||
        value.find('-', dash + 1) != std::string::npos)
        return;
    const std::int64_t n = std::stoll(value.substr(6, dash - 6)), m = std::stoll(value.substr(dash + 1));
    if (n > m)
        Require(range == HttpRules::ERange::Whole, "a reversed range is ignored", value);
    else if (n >= size)
        Require(range == HttpRules::ERange::Unsatisfiable, "a range past the end is unsatisfiable", value);
    else
        Require(range == HttpRules::ERange::Partial && first == n && last == std::min(m, size - 1),
                "a plain range gives exactly its bytes", value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(pData), size);
    std::size_t lineEnd = input.find('\n');
    const std::string fileLine = input.substr(0, lineEnd);
    char* pEnd = nullptr;
    // Files up to a petabyte, modified between 1970 and 9999.
    const std::int64_t fileSize = std::llabs(std::strtoll(fileLine.c_str(), &pEnd, 10) % (std::int64_t(1) << 50));
    const std::int64_t mtime = std::llabs(std::strtoll(pEnd, nullptr, 10) % 253402300800);
    const std::string etag = HttpRules::MakeETag(0x1234, fileSize, mtime, 500000000);
    char lastModified[HttpRules::HttpDateSize];
    HttpRules::FormatHttpDate(mtime, lastModified);
    std::int64_t parsedBack = -1;
    Require(HttpRules::ParseHttpDate(lastModified, parsedBack) && parsedBack == mtime,
            "the server reads back its own Last-Modified", lastModified);

    CHeaders headers;
    while (lineEnd != std::string::npos)
    {
        const std::size_t begin = lineEnd + 1;
        lineEnd = input.find('\n', begin);
        const std::string line =
            input.substr(begin, lineEnd == std::string::npos ? std::string::npos : lineEnd - begin);
        const std::size_t colon = line.find(':');
        // The parser refuses a name that is not a token; Beast's fields would match it loosely.
        if (colon == std::string::npos || line.find('\0') != std::string::npos ||
            line.find_first_not_of("!#$%&'*+-.^_`|~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") <
                colon)
            continue;
        std::string value = line.substr(colon + 1);
        // The parser strips the blanks and tabs around a value: they are no part of it.
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        ReplaceAll(value, "$ETAG", etag);
        ReplaceAll(value, "$DATE", lastModified);
        headers.emplace_back(line.substr(0, colon), value);
    }
    boost::beast::http::fields fields;
    for (const auto& header : headers)
        fields.insert(header.first, header.second);
    const CRequest request(fields);
    const char* pRange = Header(headers, "Range");
    const char* pIfRange = Header(headers, "If-Range");
    const char* pIfNoneMatch = Header(headers, "If-None-Match");
    const char* pIfModifiedSince = Header(headers, "If-Modified-Since");
    CheckDateText(pIfRange);
    CheckDateText(pIfModifiedSince);

    std::int64_t first = -1, last = -1;
    const HttpRules::ERange range = ConditionalRequest::WantedRange(request, etag, mtime, fileSize, first, last);
    const std::string detail = input + " (size " + std::to_string(fileSize) + ", bytes " + std::to_string(first) + "-" +
                               std::to_string(last) + ")";
    if (range == HttpRules::ERange::Whole)
        Require(first == 0 && last == fileSize - 1, "the whole file is the whole file", detail);
    if (range == HttpRules::ERange::Partial)
        Require(first >= 0 && first <= last && last < fileSize, "a range lies within the file", detail);
    if (range != HttpRules::ERange::Whole)
        Require(pRange && StartsWithBytesUnit(pRange), "only a bytes Range asks for part of a file", detail);
    std::string ifRange = pIfRange ? pIfRange : "";
    ifRange.erase(0, std::min(ifRange.size(), ifRange.find_first_not_of(" \t\r\n\v\f")));
    const bool ifRangeHolds = !pIfRange || etag == pIfRange || ifRange == lastModified;
    if (!ifRangeHolds)
        Require(range == HttpRules::ERange::Whole, "a range for another version sends the whole file", detail);
    if (pRange && ifRangeHolds)
        CheckPlainRange(pRange, fileSize, range, first, last);

    const bool notModified = ConditionalRequest::IsNotModified(request, etag, mtime);
    if (pIfNoneMatch)
    {
        const std::string value = pIfNoneMatch;
        Require(!notModified || value.find(etag) != std::string::npos || value.find('*') != std::string::npos,
                "304 only for a listed ETag", input);
        if (value == etag || value == "W/" + etag || value == "*")
            Require(notModified, "the client's own ETag gives 304", input);
    }
    else if (pIfModifiedSince)
    {
        std::int64_t since = 0;
        Require(!notModified || (HttpRules::ParseHttpDate(pIfModifiedSince, since) && mtime <= since),
                "304 by date only for a copy at least as new", input);
        if (std::string(pIfModifiedSince) == lastModified)
            Require(notModified, "the client's own Last-Modified gives 304", input);
    }
    else
    {
        Require(!notModified, "304 needs a validator", input);
    }
    return 0;
}
