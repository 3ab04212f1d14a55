#pragma once

namespace Corvan
{

// The process-wide product branding record, chosen by the executable's name.
class ProductIdentity
{
public:
    static ProductIdentity* Instance();
    const char* GetProductTitle() const;

private:
    ProductIdentity();
    const char* m_pszProductTitle = "";
};

} // namespace Corvan
