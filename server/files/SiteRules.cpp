#include "server/files/SiteRules.h"

#include "platform/ServedFiles.h"
#include "server/siterules/RuleFile.h"

#include <chrono>
#include <cstdio>

namespace Corvan
{

namespace
{

// True when the file at `path` is still the one `before` describes, no writer has it open, and it was
// not written a moment ago.
bool IsSettled(const std::string& path, const ServedFiles::CFileInfo& before)
{
    ServedFiles::CReadOnlyFile again;
    if (again.Open(path) != ServedFiles::EOpenResult::File)
        return false;
    const ServedFiles::CFileInfo& after = again.Info();
    if (again.HasWriter() || after.size != before.size || after.mtimeSeconds != before.mtimeSeconds ||
        after.mtimeNanoseconds != before.mtimeNanoseconds || after.fileId != before.fileId)
        return false;
    using namespace std::chrono;
    const auto written = system_clock::time_point(
        duration_cast<system_clock::duration>(seconds(after.mtimeSeconds) + nanoseconds(after.mtimeNanoseconds)));
    const auto age = system_clock::now() - written;
    // A time far ahead (another machine's clock) says nothing of a writer.
    return age >= CSiteRules::SettleTime || age < -seconds(1);
}

// The file's first MaxBytes + 1 bytes: enough for the reader to tell that it is too long. Opened as
// any request's file is, so a rule file is held to the same rules as what it serves. `complete` is
// cleared when the file changed while it was read, or may still be written.
std::string ReadRuleFile(const std::string& path, const char* pName, std::vector<std::string>& notices, bool& complete)
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
    complete = complete && IsSettled(path, file.Info());
    return text;
}

} // namespace

CSiteRules::CSiteRules(std::string strRoot)
    : m_strRoot(std::move(strRoot)), m_pCurrent(std::make_shared<const CSiteRuleSet>())
{
}

void CSiteRules::Load()
{
    Read(nullptr);
}

bool CSiteRules::Reload(const std::function<bool()>& isStillWhole)
{
    return Read(&isStillWhole);
}

bool CSiteRules::Read(const std::function<bool()>* pIsStillWhole)
{
    auto pNext = std::make_shared<CSiteRuleSet>();
    std::vector<std::string>& notices = pNext->notices;
    bool complete = true;
    const std::string redirects =
        ReadRuleFile(m_strRoot + "/" + RedirectsFileName, RedirectsFileName, notices, complete);
    pNext->redirects = CRedirectRules::Parse(redirects, notices, m_proxyCheck);
    const std::string headers = ReadRuleFile(m_strRoot + "/" + HeadersFileName, HeadersFileName, notices, complete);
    if (pIsStillWhole && !(complete && (*pIsStillWhole)()))
        return false;
    pNext->headers = CHeaderRules::Parse(headers, notices);
    for (const std::string& notice : notices)
        std::fprintf(stderr, "mongoose: %s\n", notice.c_str());
    std::fflush(stderr);
    m_pCurrent = std::move(pNext);
    return true;
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
