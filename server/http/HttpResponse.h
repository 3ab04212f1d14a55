#pragma once

// An answer as a route gives it: Beast's message (its fields and status), and a body that is either
// text or read like a file, piece by piece, as the client takes it. Every answer carries Date and
// Cache-Control: no-cache.

#include "server/http/Request.h"

#include <boost/beast/http/message.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace Corvan
{

// A body that is read like a file. Reads up to `length` bytes at `offset`: the count, 0 at the
// end, -1 on error. A short count only means "call again".
class CBodySource
{
public:
    virtual ~CBodySource() = default;
    virtual long long ReadAt(char* pBuffer, std::size_t length, std::int64_t offset) const = 0;
};

// The body of an answer: text, or `length` bytes of a source from `first`. The connection writes
// the head itself (WriteHead) and sends the body after it.
struct CAnswerBody
{
    struct value_type
    {
        std::string text;
        std::unique_ptr<CBodySource> pSource;
        std::int64_t first = 0;
        std::int64_t length = 0;
    };
};

using CHttpMessage = boost::beast::http::response<CAnswerBody>;

class CHttpResponse
{
public:
    CHttpResponse(const CRequest& request, int status);

    void Add(const char* pName, const char* pValue) { m_message.insert(pName, pValue); }
    void Add(const char* pName, const std::string& value) { Add(pName, value.c_str()); }
    void Add(const char* pName, std::int64_t value) { Add(pName, std::to_string(value)); }

    // Replaces every header named `name` (any case) with this one; also after the body is set.
    void Set(std::string_view name, std::string_view value) { m_message.set(name, value); }

    // The body, unless this answers HEAD.
    void SetBody(std::string body);
    // `length` bytes of `pSource` from `first`. Should the source end early, the connection ends,
    // so the client holds an exact prefix and knows it is short.
    void SetBody(std::unique_ptr<CBodySource> pSource, std::int64_t first, std::int64_t length);

    int Status() const { return static_cast<int>(m_message.result_int()); }
    bool KeepAlive() const { return m_keepAlive; }
    CHttpMessage& Message() { return m_message; }
    const CBodySource* Source() const { return m_message.body().pSource.get(); }
    std::int64_t First() const { return m_message.body().first; }
    std::int64_t Length() const { return m_message.body().length; }

private:
    bool m_isHead;
    bool m_keepAlive;
    CHttpMessage m_message;
};

// A short plain-text answer for `status`, with one extra header if `pExtraName` is given.
CHttpResponse ErrorResponse(const CRequest& request, int status, const char* pExtraName = nullptr,
                            const std::string& extraValue = std::string());

// The same for a connection that ends after it (a request that could not be framed or read).
CHttpResponse ClosingErrorResponse(int status);

// The head of `message` in one pass into `head` (whose capacity a connection keeps from answer to
// answer): half the time of Beast's serializer for a file's head, and one buffer however many
// fields it has.
void WriteHead(const CHttpMessage& message, std::string& head);

} // namespace Corvan
