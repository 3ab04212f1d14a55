#pragma once

// Writing answers: the head is collected and goes out in the same send as the start of the body;
// files stream in large chunks. Every answer carries Date and Cache-Control: no-cache.

#include "server/Request.h"

#include <cstdint>
#include <functional>
#include <string>

struct mg_connection;

namespace Corvan
{

namespace ServerPlatform
{
class CReadOnlyFile;
}

class CHttpResponse
{
public:
    CHttpResponse(const CRequest& request, int status);

    void Add(const char* pName, const char* pValue);
    void Add(const char* pName, const std::string& value) { Add(pName, value.c_str()); }
    void Add(const char* pName, std::int64_t value) { Add(pName, std::to_string(value)); }

    // Sends the head and, unless this answers HEAD, `body`.
    void Send(const std::string& body);
    // Sends the head and `length` bytes of `file` from `first`, in as few sends as the chunk allows.
    // A file that shrinks meanwhile ends the connection, so the client sees a short answer, never
    // one with a hole.
    void Send(const ServerPlatform::CReadOnlyFile& file, std::int64_t first, std::int64_t length);
    // A body that is read like a file, from anything with CReadOnlyFile::ReadAt's contract.
    using Reader = std::function<long long(char* pBuffer, std::size_t length, std::int64_t offset)>;
    void Send(const Reader& read, std::int64_t first, std::int64_t length);

private:
    bool StreamFile(const Reader& read, std::int64_t first, std::int64_t length, char* pBuffer, std::size_t capacity);

    mg_connection* m_pConnection;
    bool m_isHead;
    std::string m_head;
};

// A short plain-text answer for `status`, with one extra header if `pExtraName` is given.
// Returns `status`, as civetweb's handlers do.
int SendError(const CRequest& request, int status, const char* pExtraName = nullptr,
              const std::string& extraValue = std::string());

// Whether civetweb keeps this connection open after the answer (its own rule), so that the
// Connection header announces what really happens.
bool ClientKeepsAlive(const mg_connection* pConnection);

} // namespace Corvan
