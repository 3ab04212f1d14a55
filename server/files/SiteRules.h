#pragma once

// A site's own rule files (_redirects, _headers) as the server holds them: read from the served
// folder at start and again whenever live reload sees either change, each read printing its notices
// as one server line each. A read builds a whole new set, so a request never sees half of an edit,
// and live reload's reads take only complete files, so the set never holds half of a save.
// Used on the server's loop thread only.

#include "server/siterules/HeaderRules.h"
#include "server/siterules/RedirectRules.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Corvan
{

struct CSiteRuleSet
{
    CRedirectRules redirects;
    CHeaderRules headers;
    std::vector<std::string> notices; // "_redirects line 3: ...", one line each
};

class CSiteRules
{
public:
    // A file written this recently may still have a writer at work (and the watcher's word of it be
    // on its way): it is not read yet.
    static constexpr std::chrono::milliseconds SettleTime{10};

    explicit CSiteRules(std::string strRoot);

    // How the proxy rules of _redirects are judged (RedirectRules.h); call before Load.
    void SetProxyCheck(CRedirectRules::ProxyCheck proxyCheck) { m_proxyCheck = std::move(proxyCheck); }
    // Reads both files again and prints the notices; a missing file is no rules and no notice.
    void Load();
    // As Load, unless a file changed while it was read, was written within SettleTime, or
    // `isStillWhole` (asked after the reads) says a writer may have been at work meanwhile: then the
    // rules stay as they were, and false.
    bool Reload(const std::function<bool()>& isStillWhole);
    const CSiteRuleSet& Current() const { return *m_pCurrent; }

    // True when a change the folder watcher reports (empty: anything) may change the rules.
    static bool Concerns(const std::string& relativePath);
    // The notices as live reload's socket tells a page: "notices" and a line each; empty for none.
    std::string NoticeMessage() const;

private:
    bool Read(const std::function<bool()>* pIsStillWhole);

    std::string m_strRoot;
    CRedirectRules::ProxyCheck m_proxyCheck;
    std::shared_ptr<const CSiteRuleSet> m_pCurrent;
};

} // namespace Corvan
