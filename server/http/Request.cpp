#include "server/http/Request.h"

#include "server/httprules/TextRules.h"

#include <cstring>

namespace Corvan
{

void CRequest::ClearHeaders()
{
    m_text.clear();
    m_offsets.clear();
}

void CRequest::AddHeader(std::string_view name, std::string_view value)
{
    m_offsets.push_back(m_text.size());
    m_text.append(name).push_back('\0');
    m_text.append(value).push_back('\0');
}

const char* CRequest::Header(const char* pName) const
{
    for (const std::size_t offset : m_offsets)
    {
        const char* pHeader = m_text.c_str() + offset;
        const std::size_t length = std::strlen(pHeader);
        if (TextRules::EqualsNoCase(std::string_view(pHeader, length), pName))
            return pHeader + length + 1;
    }
    return nullptr;
}

int CRequest::CountHeaders(const char* pName) const
{
    int count = 0;
    for (const std::size_t offset : m_offsets)
        count += TextRules::EqualsNoCase(m_text.c_str() + offset, pName);
    return count;
}

} // namespace Corvan
