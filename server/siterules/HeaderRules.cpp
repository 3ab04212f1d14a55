#include "server/siterules/HeaderRules.h"

#include "server/httprules/Hosts.h"
#include "server/httprules/TextRules.h"
#include "server/siterules/RuleFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace Corvan
{

namespace
{

// A header name is an HTTP token.
bool IsToken(std::string_view name)
{
    for (const char ch : name)
    {
        if (!std::isalnum(static_cast<unsigned char>(ch)) && !std::strchr("!#$%&'*+-.^_`|~", ch))
            return false;
    }
    return !name.empty();
}

} // namespace

bool CHeaderRules::IsServersOwn(std::string_view name)
{
    static const char* const Names[] = {
        "Connection", "Content-Length", "Content-Encoding",  "Content-Range", "Host", "Keep-Alive",
        "TE",         "Trailer",        "Transfer-Encoding", "Upgrade"};
    for (const char* pName : Names)
    {
        if (TextRules::EqualsNoCase(name, pName))
            return true;
    }
    return TextRules::StartsWithNoCase(name, "Proxy-");
}

CHeaderRules CHeaderRules::Parse(std::string_view text, std::vector<std::string>& notices)
{
    CHeaderRules rules;
    CRuleFileReader reader(HeadersFileName, text, notices);
    // Header lines after a path that was skipped are skipped with it, without a notice each.
    enum class EBlock
    {
        None,
        Open,
        Skipped
    } block = EBlock::None;
    CNames names;
    std::string_view line;
    while (reader.NextLine(line))
    {
        const bool indented = line[0] == ' ' || line[0] == '\t';
        const std::string_view content = line.substr(line.find_first_not_of(" \t"));
        // A line that is not indented starts a block, even one that cannot be used: the header
        // lines under it are its own and must not land in the block above.
        if (!indented || content[0] == '/')
        {
            CBlock next;
            block = EBlock::Skipped;
            if (!ReadPath(reader, content, next.pattern))
                continue;
            if (!reader.CountRule())
                break;
            rules.m_blocks.push_back(std::move(next));
            block = EBlock::Open;
        }
        else if (block != EBlock::Skipped)
        {
            rules.ReadHeader(reader, content, block == EBlock::Open, names);
        }
    }
    rules.m_nameCount = names.numbers.size();
    return rules;
}

bool CHeaderRules::ReadPath(CRuleFileReader& reader, std::string_view content, CPathPattern& pattern)
{
    if (!NamesOtherHost(content))
    {
        if (content[0] != '/')
        {
            reader.Skip("expected a path starting with / or an indented Name: value");
            return false;
        }
        if (content.find_first_of(" \t") != std::string_view::npos)
        {
            reader.Skip("a path is alone on its line; its headers follow on indented lines");
            return false;
        }
    }
    return reader.ReadPattern(content, pattern);
}

void CHeaderRules::ReadHeader(CRuleFileReader& reader, std::string_view content, bool open, CNames& names)
{
    const std::size_t colon = content.find(':');
    if (colon == std::string_view::npos)
    {
        reader.Skip("expected Name: value");
        return;
    }
    std::string_view name = content.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    std::string_view value = content.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    if (!open)
        reader.Skip("a header needs a path line above it");
    else if (!IsToken(name))
        reader.Skip(CRuleFileReader::Quote(name) + " is not a header name");
    else if (IsServersOwn(name))
        reader.Skip(std::string(name) + " is set by the server alone and cannot be changed");
    // An origin on this machine's loopback, on any port, is the only kind a site may let read its
    // answers: "*" or another site's origin would open the folder to every page the user visits
    // while the server runs.
    else if (TextRules::EqualsNoCase(name, "Access-Control-Allow-Origin") && !HttpRules::IsLoopbackOrigin(value))
        reader.Skip(CRuleFileReader::Quote(value) +
                    " would let other websites read this folder; only http://localhost, http://127.0.0.1 "
                    "or http://[::1] origins (with a port) are allowed");
    else
        Add(name, value, names);
}

void CHeaderRules::Add(std::string_view name, std::string_view value, CNames& names)
{
    CBlock& block = m_blocks.back();
    if (TextRules::EqualsNoCase(name, "Set-Cookie"))
    {
        block.headers.emplace_back(name, value);
        block.names.push_back(Apart);
        return;
    }
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), TextRules::LowerAscii);
    const auto known = names.numbers.emplace(std::move(key), names.numbers.size());
    if (known.second)
        names.inBlock.emplace_back(std::string::npos, 0);
    const std::size_t number = known.first->second;
    std::pair<std::size_t, std::size_t>& where = names.inBlock[number];
    if (where.first == m_blocks.size() - 1)
    {
        std::string& joined = block.headers[where.second].second;
        joined.append(", ").append(value);
        return;
    }
    where = {m_blocks.size() - 1, block.headers.size()};
    block.headers.emplace_back(name, value);
    block.names.push_back(number);
}

CHeaderRules::CHeaders CHeaderRules::HeadersFor(std::string_view path) const
{
    CHeaders result;
    if (m_blocks.empty())
        return result;
    const CRequestPath requestPath(path);
    CCaptures captures;
    const CBlock* pFirst = nullptr;
    std::vector<std::size_t> at; // by name number: where `result` holds it, once a second block matches
    for (const CBlock& block : m_blocks)
    {
        if (block.headers.empty() || !block.pattern.Matches(requestPath, captures))
            continue;
        if (!pFirst)
        {
            // The common case: one block, merged when the file was read.
            pFirst = &block;
            result = block.headers;
            continue;
        }
        if (at.empty())
        {
            at.assign(m_nameCount, std::string::npos);
            for (std::size_t i = 0; i < pFirst->names.size(); ++i)
            {
                if (pFirst->names[i] != Apart)
                    at[pFirst->names[i]] = i;
            }
        }
        for (std::size_t i = 0; i < block.headers.size(); ++i)
        {
            const std::size_t number = block.names[i];
            if (number != Apart && at[number] != std::string::npos)
            {
                result[at[number]].second.append(", ").append(block.headers[i].second);
                continue;
            }
            if (number != Apart)
                at[number] = result.size();
            result.push_back(block.headers[i]);
        }
    }
    return result;
}

} // namespace Corvan
