#include "server/http/Request.h"

namespace Corvan
{

CRequest::CRequest()
{
    static const boost::beast::http::fields None;
    m_pFields = &None;
}

} // namespace Corvan
