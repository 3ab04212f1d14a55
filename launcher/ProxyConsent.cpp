#include "launcher/ProxyConsent.h"

#include "launcher/LocalServer.h"
#include "mainwindow/UserMessage.h"
#include "platform/ChildProcess.h"
#include "productidentity/ProductIdentity.h"
#include "server/ServerProtocol.h"
#include "server/siterules/RedirectRules.h"
#include "server/siterules/RuleFile.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
#include <utility>
#include <vector>

namespace Corvan
{
namespace ProxyConsent
{

namespace
{

// Folder (canonical path) -> target -> allowed.
QMap<QString, QMap<QString, bool>>& Answers()
{
    static QMap<QString, QMap<QString, bool>> answers;
    return answers;
}

// The proxy rules' targets in the folder's _redirects, each with the first rule's FROM, read as the
// server reads them; none when the file is missing or unreadable.
std::vector<std::pair<QString, QString>> RequestedTargets(const QString& strFolder)
{
    std::vector<std::pair<QString, QString>> requested;
    QFile file(strFolder + QLatin1Char('/') + QLatin1String(RedirectsFileName));
    if (!file.open(QIODevice::ReadOnly))
        return requested;
    const QByteArray text = file.read(static_cast<qint64>(CRuleFileReader::MaxBytes) + 1);
    std::vector<std::string> notices;
    CRedirectRules::Parse(text.toStdString(), notices,
                          [&requested](std::string_view from, const CProxyTarget& target)
                          {
                              const QString key = QString::fromStdString(target.Key());
                              // A rule back to the server itself is refused there; nothing to ask.
                              const bool known = std::any_of(requested.begin(), requested.end(),
                                                             [&key](const auto& entry) { return entry.first == key; });
                              // A line may be 1,000 characters long; the box names the rule, not all of it.
                              QString strFrom = QString::fromUtf8(from.data(), int(from.size()));
                              if (strFrom.size() > 60)
                                  strFrom = strFrom.left(59) + QChar(0x2026);
                              if (target.port != LauncherPort && !known)
                                  requested.emplace_back(key, strFrom);
                              return std::string("noted");
                          });
    return requested;
}

} // namespace

QStringList AllowedTargets(QWidget* parent, const QString& strFolder, const QString& strPageName)
{
    const QString strKey = QFileInfo(strFolder).canonicalFilePath();
    QMap<QString, bool>& answers = Answers()[strKey.isEmpty() ? strFolder : strKey];
    for (const auto& [strTarget, strFrom] : RequestedTargets(strFolder))
    {
        if (answers.contains(strTarget))
            continue;
        const QString strText = QStringLiteral("%1's folder asks to pass %2 to http://%3 on this computer. Allow?")
                                    .arg(strPageName, strFrom, strTarget);
        answers.insert(
            strTarget,
            UserMessage::Question(parent, QString::fromUtf8(ProductIdentity::Instance()->GetProductTitle()), strText));
    }
    QStringList allowed;
    for (auto it = answers.cbegin(); it != answers.cend(); ++it)
    {
        if (it.value())
            allowed.append(it.key());
    }
    return allowed;
}

void HandOver(Platform::CChildProcess& process, const QStringList& allowed)
{
    process.SetVariable(ServerProtocol::ProxyAllowVariable, allowed.join(QLatin1Char(',')).toStdString());
}

} // namespace ProxyConsent
} // namespace Corvan
