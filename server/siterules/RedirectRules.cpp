#include "server/siterules/RedirectRules.h"

#include "server/httprules/Escaping.h"
#include "server/httprules/Target.h"
#include "server/httprules/Utf8.h"
#include "server/siterules/RuleFile.h"

#include <algorithm>

namespace Corvan
{

namespace
{

// Bytes a header must not carry as they are: controls, blanks, non-ASCII, and '#', which would end
// the URL early.
void AppendEscaped(std::string& out, std::string_view text, bool escapeHash)
{
    static const char Hex[] = "0123456789ABCDEF";
    for (const char ch : text)
    {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || (escapeHash && c == '#'))
        {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
        else
        {
            out += ch;
        }
    }
}

// A rewrite's file, decoded as any request is, and then held to more than a request: a plain
// UTF-8 name without control characters, so that no rule reaches a file a link could not name.
bool DecodeRewriteTarget(const std::string& expanded, HttpRules::CTarget& target)
{
    if (HttpRules::DecodeTarget(expanded.c_str(), target) != HttpRules::ETarget::Ok)
        return false;
    for (const char ch : target.relativePath)
    {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            return false;
    }
    return HttpRules::IsValidUtf8(target.relativePath);
}

int ParseStatus(std::string_view token, bool& force)
{
    force = !token.empty() && token.back() == '!';
    if (force)
        token.remove_suffix(1);
    for (const int status : {301, 302, 303, 307, 308, 200, 404})
    {
        if (token == std::to_string(status))
            return status;
    }
    return 0;
}

// A 200 or 404 to another host: a proxy rule when it is a 200 to an http:// address of this machine
// that `proxyCheck` lets pass, with `proxyTo` set to its path and query on that server; else the
// reason it is skipped.
std::string ReadProxyRule(std::string_view from, std::string_view to, int status, int line,
                          const CRedirectRules::ProxyCheck& proxyCheck, std::shared_ptr<const CProxyRoute>& pProxy,
                          std::string& proxyTo)
{
    CProxyTarget target;
    if (status != 200)
        return "a 404 to another host is not followed: this server answers only with its folder's files";
    if (!ProxyRules::ParseTarget(to, target))
        return "a 200 to another machine or over https:// is passed on by the host once deployed; this server "
               "passes requests only to http://localhost, 127.0.0.1 or [::1], so nothing leaves this machine";
    std::string refusal = proxyCheck ? proxyCheck(from, target) : ProxyRules::Refusal(from, target, 0, {});
    if (!refusal.empty())
        return refusal;
    to.remove_prefix(to.find("//") + 2);
    const std::size_t pathAt = std::min(to.find_first_of("/?#"), to.size());
    const bool slash = pathAt < to.size() && to[pathAt] == '/';
    proxyTo = std::string(slash ? "" : "/") + std::string(to.substr(pathAt, to.find('#') - pathAt));
    pProxy = std::make_shared<const CProxyRoute>(CProxyRoute{target, line, std::string(from)});
    return std::string();
}

} // namespace

CRedirectRules CRedirectRules::Parse(std::string_view text, std::vector<std::string>& notices,
                                     const ProxyCheck& proxyCheck)
{
    CRedirectRules rules;
    CRuleFileReader reader(RedirectsFileName, text, notices);
    std::string_view line;
    while (reader.NextLine(line))
    {
        CRule rule;
        if (!ReadRule(reader, line, proxyCheck, rule))
            continue;
        if (!reader.CountRule())
            break;
        rules.m_anyForced = rules.m_anyForced || rule.force;
        rules.m_anyProxy = rules.m_anyProxy || rule.pProxy;
        if (rule.force)
            rules.m_lastForced = rules.m_rules.size();
        rules.m_keys.push_back(rule.from.Key());
        rules.m_rules.push_back(std::move(rule));
    }
    return rules;
}

bool CRedirectRules::ReadRule(CRuleFileReader& reader, std::string_view line, const ProxyCheck& proxyCheck, CRule& rule)
{
    std::vector<std::string_view> tokens;
    for (std::size_t begin = line.find_first_not_of(" \t"); begin != std::string_view::npos;)
    {
        const std::size_t end = std::min(line.find_first_of(" \t", begin), line.size());
        if (line[begin] == '#')
            break;
        tokens.push_back(line.substr(begin, end - begin));
        begin = line.find_first_not_of(" \t", end);
    }
    if (tokens.size() < 2)
        reader.Skip("expected a path and a target, such as /old /new 301");
    else if (tokens.size() > 3)
        reader.Skip("unexpected " + CRuleFileReader::Quote(tokens[3]) +
                    "; only a path, a target and a status are read");
    else if (tokens.size() == 3 && !(rule.status = ParseStatus(tokens[2], rule.force)))
        reader.Skip(CRuleFileReader::Quote(tokens[2]) + " is not a status: use 301, 302, 303, 307, 308, 200 or 404");
    else if (reader.ReadPattern(tokens[0], rule.from))
        return ReadTarget(reader, tokens[0], tokens[1], proxyCheck, rule);
    return false;
}

bool CRedirectRules::ReadTarget(CRuleFileReader& reader, std::string_view from, std::string_view to,
                                const ProxyCheck& proxyCheck, CRule& rule)
{
    bool rewrite = rule.status == 200 || rule.status == 404;
    rule.otherHost = NamesOtherHost(to);
    std::string proxyTo;
    if (rewrite && rule.otherHost)
    {
        const std::string refusal =
            ReadProxyRule(from, to, rule.status, reader.LineNumber(), proxyCheck, rule.pProxy, proxyTo);
        if (!refusal.empty())
        {
            reader.Skip(refusal);
            return false;
        }
        to = proxyTo;
        rewrite = rule.otherHost = false;
    }
    if (to[0] != '/' && !rule.otherHost)
    {
        reader.Skip(CRuleFileReader::Quote(to) + ": a target starts with / or http:// or https://");
        return false;
    }
    if (rewrite)
        to = to.substr(0, to.find_first_of("?#")); // a file has no query
    SplitTarget(to, rule);
    if (!rewrite && !rule.pProxy)
        return true;
    // The same check every match repeats, here with a stand-in for what FROM takes.
    CCaptures sample;
    sample.splat = "x";
    for (const CPiece& piece : rule.to)
    {
        if (piece.kind == CPiece::EKind::Placeholder)
            sample.named.emplace_back(piece.text, "x");
    }
    HttpRules::CTarget target;
    const std::string expanded = Expand(rule, sample);
    if (rule.pProxy && HttpRules::DecodeTarget(expanded.substr(0, expanded.find('?')).c_str(), target) ==
                           HttpRules::ETarget::BadRequest)
    {
        reader.Skip(CRuleFileReader::Quote(to) + ": a path on another server has no . or .. segments");
        return false;
    }
    if (rule.pProxy || DecodeRewriteTarget(expanded, target))
        return true;
    reader.Skip(CRuleFileReader::Quote(to) + " is not a file of this folder (no .., no names that begin with a dot)");
    return false;
}

void CRedirectRules::SplitTarget(std::string_view to, CRule& rule)
{
    // ":name" becomes what FROM took when FROM has that placeholder (":splat": its splat);
    // anything else, such as a port, stays as written.
    std::string literal;
    for (std::size_t i = 0; i < to.size(); ++i)
    {
        const std::size_t length = to[i] == ':' ? PlaceholderNameLength(to.substr(i + 1)) : 0;
        const std::string_view name = to.substr(i + 1, length);
        const bool splat = name == "splat" && rule.from.HasSplat();
        if (length == 0 || !(splat || rule.from.HasPlaceholder(name)))
        {
            AppendEscaped(literal, to.substr(i, 1), false);
            continue;
        }
        if (!literal.empty())
            rule.to.push_back({CPiece::EKind::Text, literal});
        literal.clear();
        rule.to.push_back({splat ? CPiece::EKind::Splat : CPiece::EKind::Placeholder, std::string(name)});
        i += length;
    }
    if (!literal.empty())
        rule.to.push_back({CPiece::EKind::Text, literal});
}

std::string CRedirectRules::Expand(const CRule& rule, const CCaptures& captures)
{
    std::string result;
    for (const CPiece& piece : rule.to)
    {
        if (piece.kind == CPiece::EKind::Text)
        {
            result += piece.text;
            continue;
        }
        std::string_view value = piece.kind == CPiece::EKind::Splat ? captures.splat : std::string_view();
        for (const auto& named : captures.named)
        {
            if (piece.kind == CPiece::EKind::Placeholder && named.first == piece.text)
                value = named.second;
        }
        // Each segment encoded on its own: what a request held can add segments (a splat's '/')
        // but never a '?', '#' or an escape of its own.
        const std::vector<std::string_view> segments = SplitPath(value);
        for (std::size_t i = 0; i < segments.size(); ++i)
            result += (i ? "/" : "") + HttpRules::PercentEncode(std::string(segments[i]));
    }
    return result;
}

CRedirectDecision CRedirectRules::Match(std::string_view path, std::string_view query,
                                        const FileAnswers& fileAnswers) const
{
    CRedirectDecision decision;
    if (m_rules.empty())
        return decision;
    const CRequestPath requestPath(path);
    CCaptures captures;
    int fileAnswersPath = -1; // not asked yet
    for (std::size_t i = 0; i < m_rules.size(); ++i)
    {
        if (fileAnswersPath == 1 && (!m_anyForced || i > m_lastForced))
            break;
        if (!m_keys[i].Admits(requestPath))
            continue;
        const CRule& rule = m_rules[i];
        if ((fileAnswersPath == 1 && !rule.force) || !rule.from.MatchesSegments(requestPath, captures))
            continue;
        if (!rule.force)
        {
            if (fileAnswersPath < 0)
                fileAnswersPath = fileAnswers(path) ? 1 : 0;
            if (fileAnswersPath == 1)
                continue;
        }
        std::string expanded = Expand(rule, captures);
        // An empty splat must not turn "/:splat/x" into "//x", another host's address.
        while (expanded.compare(0, 2, "//") == 0 && !rule.otherHost)
            expanded.erase(0, 1);
        if ((rule.status == 200 || rule.status == 404) && !rule.pProxy)
        {
            // What the request held is checked again in its new place.
            if (!DecodeRewriteTarget(expanded, decision.target))
                continue;
            decision.action = CRedirectDecision::EAction::Rewrite;
        }
        else
        {
            if (!query.empty())
            {
                const std::size_t fragment = std::min(expanded.find('#'), expanded.size());
                std::string kept(1, expanded.find('?') < fragment ? '&' : '?');
                AppendEscaped(kept, query, true);
                expanded.insert(fragment, kept);
            }
            decision.location = std::move(expanded);
            decision.action = rule.pProxy ? CRedirectDecision::EAction::Proxy : CRedirectDecision::EAction::Redirect;
            decision.pProxy = rule.pProxy;
        }
        decision.status = rule.status;
        return decision;
    }
    return CRedirectDecision();
}

} // namespace Corvan
