#include "productidentity/ProductIdentity.h"

namespace Corvan
{

ProductIdentity* ProductIdentity::Instance()
{
    static ProductIdentity* s_pInstance = new ProductIdentity();
    return s_pInstance;
}

ProductIdentity::ProductIdentity() = default;

const char* ProductIdentity::GetProductTitle() const
{
    return m_pszProductTitle;
}

} // namespace Corvan
