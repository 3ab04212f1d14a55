#include "server/noticerules/ResourceRequests.h"

#include "server/httprules/Escaping.h"
#include "server/httprules/Hosts.h"
#include "server/httprules/TextRules.h"

#include <cstring>

namespace Corvan
{
namespace NoticeRules
{

namespace
{

// Long enough for any sensible path; a notice stays one readable line.
constexpr std::size_t LongestPathShown = 200;
constexpr std::size_t LongestPageMessage = 2048;

std::string PageOfPath(std::string_view path)
{
    HttpRules::CTarget target;
    if (path.empty() || path.size() > LongestPageMessage ||
        HttpRules::DecodeTarget(std::string(path).c_str(), target) != HttpRules::ETarget::Ok)
        return std::string();
    return PageKey(target);
}

} // namespace

EResource Resource(const char* pDestination)
{
    if (!pDestination)
        return EResource::None;
    static const struct
    {
        const char* pName;
        EResource resource;
    } Names[] = {
        {"document", EResource::Page}, {"iframe", EResource::Page},         {"frame", EResource::Page},
        {"script", EResource::Script}, {"audioworklet", EResource::Script}, {"paintworklet", EResource::Script},
        {"style", EResource::Style},   {"image", EResource::Image},         {"font", EResource::Font},
        {"audio", EResource::Media},   {"video", EResource::Media},         {"track", EResource::Media},
        {"worker", EResource::Worker}, {"sharedworker", EResource::Worker}, {"serviceworker", EResource::Worker},
        {"empty", EResource::Fetch}};
    for (const auto& name : Names)
    {
        if (TextRules::EqualsNoCase(pDestination, name.pName))
            return name.resource;
    }
    return EResource::Other;
}

bool LoadsMore(EResource resource)
{
    return resource == EResource::Script || resource == EResource::Style || resource == EResource::Worker;
}

bool IsReported(EResource resource, std::string_view relativePath)
{
    // Source maps are the developer tools' own fetches: a page runs without them.
    return resource != EResource::None && resource != EResource::Page && relativePath != "favicon.ico" &&
           !TextRules::EndsWithNoCase(relativePath, ".map");
}

std::string PageKey(const HttpRules::CTarget& target)
{
    return "/" + target.relativePath + (target.endsWithSlash && !target.relativePath.empty() ? "/" : "");
}

std::string OwnReferrer(const char* pSite, const char* pReferer, int port)
{
    if ((pSite && !TextRules::EqualsNoCase(pSite, "same-origin")) || !pReferer)
        return std::string();
    const std::string_view referer(pReferer);
    constexpr std::string_view Scheme = "http://";
    if (!TextRules::StartsWithNoCase(referer, Scheme))
        return std::string();
    const std::size_t pathAt = std::min(referer.find_first_of("/?#", Scheme.size()), referer.size());
    if (!HttpRules::IsLoopbackOrigin(referer.substr(0, pathAt), port))
        return std::string();
    std::string_view path = referer.substr(pathAt);
    path = path.substr(0, path.find_first_of("?#"));
    return PageOfPath(path.empty() ? std::string_view("/") : path);
}

std::string SocketPage(std::string_view message)
{
    constexpr std::string_view Word = "page ";
    return message.substr(0, Word.size()) == Word ? PageOfPath(message.substr(Word.size())) : std::string();
}

const char* Failure(EResource resource, int status, bool answeredWithPage)
{
    if (status == 404)
        return "not found";
    if (status == 403)
        return "may not be read";
    if (status != 200 || !answeredWithPage)
        return nullptr;
    switch (resource)
    {
    case EResource::Script:
        return "answered with a page, not a script";
    case EResource::Style:
        return "answered with a page, not a style sheet";
    case EResource::Image:
        return "answered with a page, not an image";
    case EResource::Font:
        return "answered with a page, not a font";
    case EResource::Media:
        return "answered with a page, not a media file";
    case EResource::Worker:
        return "answered with a page, not a worker's script";
    default:
        return nullptr; // a fetch may well want a page
    }
}

std::string NoticeText(std::string_view path, const char* pFailure, const CMeantName& meant)
{
    std::string text = HttpRules::TerminalEscape(path, LongestPathShown) + ": ";
    const std::string shown = HttpRules::TerminalEscape(meant.path, LongestPathShown);
    switch (meant.kind)
    {
    case CMeantName::EKind::Case:
        return text + "the folder has " + shown + ". Names are case-sensitive once deployed";
    case CMeantName::EKind::Extension:
        return text + "the folder has " + shown + ". A browser adds nothing to a path: name the file in full";
    case CMeantName::EKind::Near:
    case CMeantName::EKind::Elsewhere:
        return text + (pFailure ? pFailure : "not found") + ". Did you mean " + shown + "?";
    case CMeantName::EKind::None:
        break;
    }
    return text + (pFailure ? pFailure : "not found");
}

} // namespace NoticeRules
} // namespace Corvan
