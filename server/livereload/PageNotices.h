#pragma once

// Notices in the page itself about its own resources that failed: a request of a page of this
// site (an image, a script, a module's import, a style sheet's url()) that the folder did not
// answer, or answered with a page, becomes a line in that page, naming what was asked and what
// the folder has that was meant (NoticeRules). A page's live socket says which page it is; the
// server tells it that page's notices, and prints each once. Runs on the server's loop thread,
// except the index of names, which is kept on its own thread.

#include "server/http/HttpResponse.h"
#include "server/http/Request.h"
#include "server/livereload/LiveSockets.h"
#include "server/livereload/NameIndexKeeper.h"
#include "server/noticerules/NoticeBook.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace Corvan
{

class CPageNotices
{
public:
    CPageNotices(std::string strRoot, int port);

    // Starts keeping the index of names (the first scan runs in the background).
    void Start() { m_keeper.Start(); }
    void Stop() { m_keeper.Stop(); }
    // A change the folder watcher reported, for the index of names.
    void OnChange(const std::string& relativePath) { m_keeper.Changed(relativePath); }

    // An answer of the folder's files, only read (its head is text until answers are Beast's).
    void Observe(const CRequest& request, CHttpResponse& response);
    // A page's message on its socket: "page PATH" makes it the socket of that page.
    void OnPageMessage(const std::string& text, const CLiveSockets::Reply& reply);

private:
    void Report(const std::string& page, const std::string& text);
    void Print(const std::string& page, const std::string& text);

    int m_port;
    CNameIndexKeeper m_keeper;
    CNoticeBook m_book;
    CNoticePrinter m_printer;
    std::unordered_map<std::string, std::vector<CLiveSockets::Reply>> m_sockets; // by page
};

} // namespace Corvan
