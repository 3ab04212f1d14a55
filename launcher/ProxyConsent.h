#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace Corvan
{
namespace Platform
{
class CChildProcess;
}

// The user's consent to a folder's proxy rules. A _redirects rule such as
// "/api/* http://localhost:3000/:splat 200" makes the server pass a page's requests to another server
// on this computer; the folder may be a stranger's, so the server uses such a rule only for a target
// the user allowed for that folder, asked here before the page opens. Used by LaunchLocalServer only.
namespace ProxyConsent
{

// The targets ("localhost:3000") allowed for the folder `strFolder`, after asking, once for each, about
// those its _redirects names that were not asked about before in this run of the tool ("page.html's
// folder asks to pass /api/* to http://localhost:3000 on this computer. Allow?"). The answers, yes
// and no, are kept in memory for the tool's run only: the tool has no settings files.
QStringList AllowedTargets(QWidget* parent, const QString& strFolder, const QString& strPageName);

// Hands `allowed` to the server started on `process` through its environment (the server's
// arguments stay the same), and nothing else: a value the tool itself was started with is dropped.
void HandOver(Platform::CChildProcess& process, const QStringList& allowed);

} // namespace ProxyConsent
} // namespace Corvan
