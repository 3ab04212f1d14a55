// Request targets as a client sends them, through the server's one decoding and its mapping onto
// the served folder. Whatever the bytes, an accepted target maps to a path that stays below the
// folder and that a link the server writes (a listing entry, a redirect) decodes back to.

#include "server/httprules/Escaping.h"
#include "server/httprules/Target.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace Corvan;
using CorvanFuzz::Require;

namespace
{

// The folder the server serves; StaticFiles joins it and the decoded path with one '/'.
const std::string Root = "/srv/site";

std::vector<std::string> Split(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t begin = 0;
    while (begin <= path.size())
    {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        segments.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return segments;
}

void CheckAccepted(const std::string& raw, HttpRules::ETarget result, const HttpRules::CTarget& target)
{
    const std::string& relative = target.relativePath;
    Require(raw[0] == '/', "only origin-form targets are accepted", raw);

    bool hidden = false;
    const std::vector<std::string> segments = relative.empty() ? std::vector<std::string>() : Split(relative);
    for (const std::string& segment : segments)
    {
        Require(!segment.empty(), "decoded path has no empty segment", raw + " -> " + relative);
        Require(segment != "." && segment != "..", "decoded path has no dot segment", raw + " -> " + relative);
        for (const char ch : segment)
        {
            const unsigned char c = static_cast<unsigned char>(ch);
            Require(c != 0 && c != '\\', "decoded path has no NUL or backslash", raw + " -> " + relative);
        }
        hidden = hidden || segment[0] == '.';
    }
    Require(hidden == (result == HttpRules::ETarget::Hidden), "hidden exactly when a segment is a dot name",
            raw + " -> " + relative);
    Require(target.lastSegment == (segments.empty() ? std::string() : segments.back()),
            "last segment is the path's last", raw);

    // Mapped onto the folder, the path never climbs above it.
    const std::string mapped = Root + "/" + relative;
    int depth = 0;
    for (const std::string& segment : Split(mapped.substr(Root.size() + 1)))
    {
        depth += segment == ".." ? -1 : segment.empty() || segment == "." ? 0 : 1;
        Require(depth >= 0, "mapped path stays below the folder", mapped);
    }

    // The server's own links (percent-encoded segments) decode back to the same path.
    std::string link = "/";
    for (std::size_t i = 0; i < segments.size(); ++i)
        link += (i ? "/" : "") + HttpRules::PercentEncode(segments[i]);
    if (target.endsWithSlash && !segments.empty())
        link += '/';
    HttpRules::CTarget again;
    const HttpRules::ETarget resultAgain = HttpRules::DecodeTarget(link.c_str(), again);
    Require(resultAgain == result && again.relativePath == relative && again.lastSegment == target.lastSegment &&
                again.endsWithSlash == target.endsWithSlash,
            "a re-encoded link decodes to the same path", raw + " -> " + link);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t size)
{
    // The server hands over a C string: a target ends at its first NUL.
    std::string raw(reinterpret_cast<const char*>(pData), size);
    raw.resize(raw.find('\0') == std::string::npos ? raw.size() : raw.find('\0'));

    HttpRules::CTarget target;
    const HttpRules::ETarget result = HttpRules::DecodeTarget(raw.c_str(), target);
    if (result != HttpRules::ETarget::BadRequest)
        CheckAccepted(raw, result, target);
    return 0;
}
