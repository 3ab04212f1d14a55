#pragma once

// An answer as a route gives it: Beast's message, its status (with Beast's reason phrase) and its
// fields set by name, with a body of our own. The connection writes the head (WriteHead) and sends
// the body after it. Every answer carries Date and Cache-Control: no-cache.

#include "platform/ServedFiles.h"
#include "server/http/Request.h"

#include <boost/beast/http/message.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Corvan
{

// The body of an answer: text; or `length` bytes of an open file from `first` (a file or a range of
// it), which the connection sends without copying them where the system can; or a whole page with
// `text` inserted `textAt` bytes into it as it streams (live reload's tag). Empty in an answer to
// HEAD, whatever its Content-Length says.
struct CAnswerBody
{
    struct value_type
    {
        std::string text;
        std::unique_ptr<ServedFiles::CReadOnlyFile> pFile;
        std::int64_t first = 0;
        std::int64_t length = 0;
        std::int64_t textAt = 0;
        bool headOnly = false;
    };
};

// An answer's fields: Beast's, which the server sets by name, then the site's own headers for the
// path (_headers) as the rules give them, written after Beast's. A site may give thousands: kept
// apart, they cost an answer a copy, where each field in Beast's set costs a lookup of its name.
class CAnswerFields : public boost::beast::http::fields
{
public:
    std::vector<std::pair<std::string, std::string>> site;
};

using CHttpResponse = boost::beast::http::response<CAnswerBody, CAnswerFields>;

// A new answer to `request`: `status`, Date, Cache-Control, and Connection where the connection
// does not go on as the request's version would have it.
CHttpResponse NewResponse(const CRequest& request, int status);

// The body, with its Content-Length.
void SetText(CHttpResponse& response, std::string text);
// `length` bytes of `pFile` from `first`, with their Content-Length.
void SetFile(CHttpResponse& response, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile, std::int64_t first,
             std::int64_t length);
// The whole of `pFile` with `tag` inserted at `tagAt`, with their Content-Length.
void SetPage(CHttpResponse& response, std::unique_ptr<ServedFiles::CReadOnlyFile> pFile, std::string tag,
             std::int64_t tagAt);

// A short plain-text answer for `status`; `closing` ends the connection after it whatever the
// request asked (a head that could not be read, a socket refused, no descriptor to open a file).
CHttpResponse ErrorResponse(const CRequest& request, int status, bool closing = false);

// The head of `response` in one pass into `head` (whose capacity a connection keeps from answer to
// answer): half the time of Beast's serializer for a file's head, and one buffer however many
// fields it has.
void WriteHead(const CHttpResponse& response, std::string& head);
// The same for a message passed on as it is (the proxy's).
void WriteHead(const boost::beast::http::request_header<>& request, std::string& head);
void WriteHead(const boost::beast::http::response_header<>& response, std::string& head);

} // namespace Corvan
