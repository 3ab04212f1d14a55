#pragma once

// An answer as a route gives it: the head, collected here, and a body that is either text or
// read like a file, piece by piece, as the client takes it. The connection sends it (the head in
// the same send as the start of the body). Every answer carries Date and Cache-Control: no-cache.

#include "server/http/Request.h"

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

class CHttpResponse
{
public:
    CHttpResponse(const CRequest& request, int status);

    void Add(const char* pName, const char* pValue);
    void Add(const char* pName, const std::string& value) { Add(pName, value.c_str()); }
    void Add(const char* pName, std::int64_t value) { Add(pName, std::to_string(value)); }

    // Replaces every header named `name` (any case) with this one; also after the body is set.
    void Set(std::string_view name, std::string_view value);

    // The body, unless this answers HEAD.
    void SetBody(std::string body);
    // `length` bytes of `pSource` from `first`. Should the source end early, the connection ends,
    // so the client holds an exact prefix and knows it is short.
    void SetBody(std::unique_ptr<CBodySource> pSource, std::int64_t first, std::int64_t length);

    int Status() const { return m_status; }
    bool KeepAlive() const { return m_keepAlive; }
    // The head through its blank line; after it the text body, if any.
    std::string& Head() { return m_head; }
    const std::string& TextBody() const { return m_text; }
    const CBodySource* Source() const { return m_pSource.get(); }
    std::int64_t First() const { return m_first; }
    std::int64_t Length() const { return m_length; }

private:
    int m_status;
    bool m_isHead;
    bool m_keepAlive;
    std::string m_head;
    std::string m_text;
    std::unique_ptr<CBodySource> m_pSource;
    std::int64_t m_first = 0;
    std::int64_t m_length = 0;
};

// A short plain-text answer for `status`, with one extra header if `pExtraName` is given.
CHttpResponse ErrorResponse(const CRequest& request, int status, const char* pExtraName = nullptr,
                            const std::string& extraValue = std::string());

// The same for a connection that ends after it (a request that could not be framed or read).
CHttpResponse ClosingErrorResponse(int status);

} // namespace Corvan
