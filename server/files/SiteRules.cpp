#include "server/files/SiteRules.h"

#include "platform/ServedFiles.h"
#include "server/siterules/RuleFile.h"

#include <cstdio>

namespace Corvan
{

namespace
{

// The file's first MaxBytes + 1 bytes: enough for the reader to tell that it is too long. Opened as
// any request's file is, so a rule file is held to the same rules as what it serves.
std::string ReadRuleFile(const std::string& path, const char* pName, std::vector<std::string>& notices)
{
    ServedFiles::CReadOnlyFile file;
    switch (file.Open(path))
    {
    case ServedFiles::EOpenResult::File:
        break;
    case ServedFiles::EOpenResult::Forbidden:
    case ServedFiles::EOpenResult::Unavailable:
        notices.push_back(std::string(pName) + ": cannot be read; its rules are not used");
        return std::string();
    default:
        return std::string();
    }
    std::string text(CRuleFileReader::MaxBytes + 1, '\0');
    std::size_t filled = 0;
    while (filled < text.size())
    {
        const long long count = file.ReadAt(&text[filled], text.size() - filled, static_cast<std::int64_t>(filled));
        if (count < 0)
        {
            notices.push_back(std::string(pName) + ": cannot be read; its rules are not used");
            return std::string();
        }
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    text.resize(filled);
    return text;
}

} // namespace

CSiteRules::CSiteRules(std::string strRoot)
    : m_strRoot(std::move(strRoot)), m_pCurrent(std::make_shared<const CSiteRuleSet>())
{
}

void CSiteRules::Load()
{
    auto pNext = std::make_shared<CSiteRuleSet>();
    std::vector<std::string>& notices = pNext->notices;
    const std::string redirects = ReadRuleFile(m_strRoot + "/" + RedirectsFileName, RedirectsFileName, notices);
    pNext->redirects = CRedirectRules::Parse(redirects, notices, m_proxyCheck);
    const std::string headers = ReadRuleFile(m_strRoot + "/" + HeadersFileName, HeadersFileName, notices);
    pNext->headers = CHeaderRules::Parse(headers, notices);
    for (const std::string& notice : notices)
        std::fprintf(stderr, "mongoose: %s\n", notice.c_str());
    std::fflush(stderr);
    m_pCurrent = std::move(pNext);
}

bool CSiteRules::Concerns(const std::string& relativePath)
{
    return relativePath.empty() || IsRuleFile(relativePath);
}

std::string CSiteRules::NoticeMessage() const
{
    std::string message;
    if (m_pCurrent->notices.empty())
        return message;
    message = "notices";
    for (const std::string& notice : m_pCurrent->notices)
        message += "\n" + notice;
    return message;
}

} // namespace Corvan
