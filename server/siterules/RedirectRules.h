#pragma once

// A site's _redirects file: one rule a line, "FROM TO [STATUS][!]", '#' comments.
//   FROM    a path pattern (PathPattern.h): /old, /blog/:year/:slug, /app/*
//   TO      a path on this server or an http(s) URL; ":name" and ":splat" take what FROM matched
//   STATUS  301 (the default), 302, 303, 307, 308: a redirect, the request's query kept;
//           200: answer with TO's content at the requested URL; 404: the same with status 404
//   !       the rule applies even where a file answers the path; without it a file always wins
// The first matching rule decides. Rewrites (200, 404) answer with a file of the served folder,
// except a 200 to an http:// address of this machine that the user allowed (ProxyRules.h): it
// passes the request to that server. Nothing else makes this server fetch for a page.

#include "server/httprules/Target.h"
#include "server/siterules/PathPattern.h"
#include "server/siterules/ProxyRules.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Corvan
{

class CRuleFileReader;

// A proxy rule as its requests and its messages need it.
struct CProxyRoute
{
    CProxyTarget target;
    int line = 0;     // in _redirects
    std::string from; // the rule's FROM, as written
};

// What the rules make of a request.
struct CRedirectDecision
{
    enum class EAction
    {
        None,     // no rule applies: serve the path as usual
        Redirect, // answer `status` with `location`
        Rewrite,  // answer with the file at `target` (checked like any request's) and `status`
        Proxy,    // pass the request to `pProxy`'s server, for the target `location` (path and query)
    };
    EAction action = EAction::None;
    int status = 0;
    std::string location;
    HttpRules::CTarget target;
    std::shared_ptr<const CProxyRoute> pProxy;
};

class CRedirectRules
{
public:
    // Whether a file (or a folder's index page) of the served folder answers a decoded path.
    using FileAnswers = std::function<bool(std::string_view path)>;

    // Whether a proxy rule (FROM, target) may be used: empty when it may, else why it is skipped.
    using ProxyCheck = std::function<std::string(std::string_view from, const CProxyTarget& target)>;

    // Reads a _redirects file; every line that cannot be used adds one notice to `notices`. Without
    // `proxyCheck` no proxy rule is used.
    static CRedirectRules Parse(std::string_view text, std::vector<std::string>& notices,
                                const ProxyCheck& proxyCheck = ProxyCheck());

    // Decides for a decoded request path ("/a/b") and its raw query (without '?'). `fileAnswers`
    // is asked at most once, and only when a rule without '!' matches.
    CRedirectDecision Match(std::string_view path, std::string_view query, const FileAnswers& fileAnswers) const;

    bool IsEmpty() const { return m_rules.empty(); }
    bool HasProxyRules() const { return m_anyProxy; }

private:
    // TO, split once: literal text (already safe for a Location) and references to what FROM took.
    struct CPiece
    {
        enum class EKind
        {
            Text,
            Placeholder,
            Splat
        };
        EKind kind;
        std::string text; // the literal, or the placeholder's name
    };
    struct CRule
    {
        CPathPattern from;
        std::vector<CPiece> to;
        int status = 301;
        bool force = false;
        bool otherHost = false;                    // TO names a host: a redirect's Location as written
        std::shared_ptr<const CProxyRoute> pProxy; // TO is then the path and query on that server
    };

    // Each reads one part of a line into `rule`; false, with a notice, when the line is skipped.
    static bool ReadRule(CRuleFileReader& reader, std::string_view line, const ProxyCheck& proxyCheck, CRule& rule);
    static bool ReadTarget(CRuleFileReader& reader, std::string_view from, std::string_view to,
                           const ProxyCheck& proxyCheck, CRule& rule);
    // TO, split into literal text and references to what FROM took.
    static void SplitTarget(std::string_view to, CRule& rule);
    static std::string Expand(const CRule& rule, const CCaptures& captures);

    std::vector<CRule> m_rules;
    std::vector<CPathPattern::CKey> m_keys; // m_rules[i].from.Key(), side by side
    // Once a file answers the path, only rules with '!' can apply: none is left after this one.
    std::size_t m_lastForced = 0;
    bool m_anyForced = false;
    bool m_anyProxy = false;
};

} // namespace Corvan
