#include "server/livereload/PageNotices.h"

#include "platform/ServedFiles.h"
#include "server/httprules/Escaping.h"
#include "server/httprules/TextRules.h"
#include "server/noticerules/MeantName.h"
#include "server/noticerules/ResourceRequests.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace Corvan
{

namespace
{

using NoticeRules::EResource;

// Sockets a page keeps at once: tabs of the same page.
constexpr std::size_t MaxSocketsPerPage = 64;

// What the page shows (LiveReload.h): "resources" and a line each.
std::string Message(const std::vector<std::string>& notices)
{
    std::string message = "resources";
    for (const std::string& notice : notices)
        message += "\n" + notice;
    return message;
}

// True for an answer whose body is a page.
bool IsPageAnswer(const CHttpResponse& response)
{
    return TextRules::StartsWithNoCase(response[boost::beast::http::field::content_type], "text/html");
}

// A header's value as the rules take it: null when the request has none.
struct CHeaderText
{
    explicit CHeaderText(std::optional<std::string_view> value) : present(value.has_value()), text(value.value_or(""))
    {
    }
    const char* Get() const { return present ? text.c_str() : nullptr; }
    bool present;
    std::string text;
};

} // namespace

CPageNotices::CPageNotices(std::string strRoot, int port) : m_port(port), m_keeper(std::move(strRoot)) {}

void CPageNotices::Observe(const CRequest& request, CHttpResponse& response)
{
    const EResource resource = NoticeRules::Resource(CHeaderText(request.Header("Sec-Fetch-Dest")).Get());
    if (resource == EResource::None)
        return; // a tool
    const std::string key = NoticeRules::PageKey(request.target);
    if (resource == EResource::Page)
        return m_book.BeginLoad(key);
    const std::string referrer = NoticeRules::OwnReferrer(CHeaderText(request.Header("Sec-Fetch-Site")).Get(),
                                                          CHeaderText(request.Header("Referer")).Get(), m_port);
    if (referrer.empty())
        return; // another site's page, or a page that sends no Referer: nowhere to tell
    const std::string page = m_book.PageFor(referrer);
    if (NoticeRules::LoadsMore(resource))
        m_book.NoteLoader(key, page);
    if (!NoticeRules::IsReported(resource, request.target.relativePath))
        return;
    const int status = static_cast<int>(response.result_int());
    const char* pFailure = NoticeRules::Failure(resource, status, status == 200 && IsPageAnswer(response));
    // Where names are found in any case, an answer that succeeded may still fail once published.
    const bool answered = status == 200 || status == 206 || status == 304;
    if (!pFailure && !(answered && ServedFiles::FindsAnyCase()))
        return;
    const std::shared_ptr<const CNameIndex> pIndex = m_keeper.Current();
    const std::string path = key.substr(1);
    CMeantName meant;
    if (pIndex)
        meant = pFailure ? MeantName(*pIndex, path) : CaseOnDisk(*pIndex, path);
    if (pFailure || meant.kind == CMeantName::EKind::Case)
        Report(page, NoticeRules::NoticeText(path, pFailure, meant));
}

void CPageNotices::OnPageMessage(const std::string& text, const CLiveSockets::Reply& reply)
{
    const std::string page = NoticeRules::SocketPage(text);
    if (page.empty())
        return;
    // Sockets that ended since go now, and pages left without any (the map stays small).
    for (auto it = m_sockets.begin(); it != m_sockets.end();)
    {
        std::vector<CLiveSockets::Reply>& replies = it->second;
        replies.erase(std::remove_if(replies.begin(), replies.end(),
                                     [](const CLiveSockets::Reply& each) { return !each(std::string()); }),
                      replies.end());
        it = replies.empty() ? m_sockets.erase(it) : std::next(it);
    }
    std::vector<CLiveSockets::Reply>& replies = m_sockets[page];
    if (replies.size() >= MaxSocketsPerPage)
        return;
    replies.push_back(reply);
    const std::vector<std::string> notices = m_book.Notices(page);
    if (!notices.empty())
        reply(Message(notices));
}

void CPageNotices::Report(const std::string& page, const std::string& text)
{
    if (!m_book.Add(page, text))
        return;
    Print(page, text);
    const auto found = m_sockets.find(page);
    if (found == m_sockets.end())
        return; // told when the page's socket says which page it is
    std::vector<CLiveSockets::Reply>& replies = found->second;
    const std::string message = Message({text});
    replies.erase(std::remove_if(replies.begin(), replies.end(),
                                 [&message](const CLiveSockets::Reply& each) { return !each(message); }),
                  replies.end());
}

void CPageNotices::Print(const std::string& page, const std::string& text)
{
    const CNoticePrinter::CDecision decision = m_printer.Decide(text, CNoticePrinter::Clock::now());
    if (!decision.print)
        return;
    std::string lines;
    if (decision.heldBack > 0)
        lines += "mongoose: " + std::to_string(decision.heldBack) +
                 " more page notices were not printed (too many at once)\n";
    lines += "mongoose: notice in " + HttpRules::TerminalEscape(page, 200) + ": " + text + "\n";
    if (decision.last)
        lines += "mongoose: " + std::to_string(CNoticePrinter::MaxPrinted) +
                 " page notices printed; later ones show only in their pages\n";
    std::fputs(lines.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace Corvan
