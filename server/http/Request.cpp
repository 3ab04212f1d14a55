#include "server/http/Request.h"

#include "server/httprules/TextRules.h"

namespace Corvan
{

namespace
{
std::string_view View(boost::beast::string_view text)
{
    return std::string_view(text.data(), text.size());
}
} // namespace

CRequest::CRequest()
{
    static const boost::beast::http::fields None;
    m_pFields = &None;
}

// By the list, which keeps the order the fields were sent in: of several with one name (two Range
// lines), every rule here reads the first.
std::optional<std::string_view> CRequest::Header(boost::beast::http::field name) const
{
    for (const auto& field : *m_pFields)
    {
        if (field.name() == name)
            return View(field.value());
    }
    return std::nullopt;
}

std::optional<std::string_view> CRequest::Header(std::string_view name) const
{
    for (const auto& field : *m_pFields)
    {
        if (TextRules::EqualsNoCase(View(field.name_string()), name))
            return View(field.value());
    }
    return std::nullopt;
}

} // namespace Corvan
