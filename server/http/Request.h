#pragma once

// What the central check learned about a request, handed to the feature that owns its route so
// that no feature parses the request again. Its header lines are copied once into one buffer of
// NUL-terminated names and values, which a connection reuses from request to request.

#include "server/httprules/Target.h"

#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{

class CRequest
{
public:
    bool isHead = false;
    bool keepAlive = true;     // what the answer announces, and what happens after it
    bool http11 = true;        // else HTTP/1.0
    HttpRules::CTarget target; // decoded once, already checked
    std::string query;         // raw, without its '?'

    void ClearHeaders();
    void AddHeader(std::string_view name, std::string_view value);
    // The value of the first header named `pName` (any case), or nullptr.
    const char* Header(const char* pName) const;
    // How many headers are named `pName`.
    int CountHeaders(const char* pName) const;

private:
    std::string m_text;                 // name NUL value NUL, header after header
    std::vector<std::size_t> m_offsets; // where each name starts in m_text
};

} // namespace Corvan
