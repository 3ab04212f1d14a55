#pragma once

// What the central check learned about a request, handed to the feature that owns its route so
// that no feature parses the request again. Its fields are those Beast parsed, read in place: the
// request is a view of the parsed head, which the connection holds while the route answers.

#include "server/httprules/Target.h"

#include <boost/beast/http/fields.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Corvan
{

class CRequest
{
public:
    // A request of which nothing is known: no fields (an answer to a head that could not be read).
    CRequest();
    // Over the fields of a parsed head, which must outlive the request.
    explicit CRequest(const boost::beast::http::fields& fields) : m_pFields(&fields) {}

    bool isHead = false;
    bool keepAlive = true;     // what the answer announces, and what happens after it
    bool http11 = true;        // else HTTP/1.0
    HttpRules::CTarget target; // decoded once, already checked
    std::string query;         // raw, without its '?'

    // The value of the first field named `name` (any case) in the order they were sent, or none.
    std::optional<std::string_view> Header(boost::beast::http::field name) const;
    std::optional<std::string_view> Header(std::string_view name) const;
    // How many fields are named `name`.
    std::size_t CountHeaders(boost::beast::http::field name) const { return m_pFields->count(name); }

private:
    const boost::beast::http::fields* m_pFields;
};

} // namespace Corvan
