// A site's _redirects and _headers, read and matched directly on the rules library.

#include "server/siterules/HeaderRules.h"
#include "server/siterules/RedirectRules.h"

#include <QtTest>

using namespace Corvan;

class TestSiteRules : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void proxyRules_data();
    void proxyRules();
};

void TestSiteRules::rules_data()
{
    QTest::addColumn<QByteArray>("redirects");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QStringList>("files"); // paths a file answers
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("decision"); // "none", "301 LOCATION" or "200 FILE"
    QTest::addColumn<QByteArray>("answerHeaders");
    QTest::addColumn<QStringList>("notices");

    const QByteArray spa = "# single-page app\n/* /index.html 200\n";
    const QStringList site{"/index.html", "/app.js"};
    QTest::newRow("deep link of an app") << spa << QByteArray() << site << QByteArray("/settings/profile")
                                         << QByteArray("200 index.html") << QByteArray() << QStringList();
    QTest::newRow("a file shadows a rule")
        << spa << QByteArray() << site << QByteArray("/app.js") << QByteArray("none") << QByteArray() << QStringList();
    QTest::newRow("! wins over a file") << QByteArray("/app.js /index.html 200!") << QByteArray() << site
                                        << QByteArray("/app.js") << QByteArray("200 index.html") << QByteArray()
                                        << QStringList();
    QTest::newRow("301 by default, query kept")
        << QByteArray("/old/ /new") << QByteArray() << QStringList() << QByteArray("/old?a=1&b=%20")
        << QByteArray("301 /new?a=1&b=%20") << QByteArray() << QStringList();
    QTest::newRow("first match wins") << QByteArray("/a /b 307\n/a /c 302") << QByteArray() << QStringList()
                                      << QByteArray("/a") << QByteArray("307 /b") << QByteArray() << QStringList();
    QTest::newRow("placeholders, encoded")
        << QByteArray("/news/:year/:slug /blog/:slug/:year 302") << QByteArray() << QStringList()
        << QByteArray("/news/2024/a b#c") << QByteArray("302 /blog/a%20b%23c/2024") << QByteArray() << QStringList();
    QTest::newRow("splat to another host")
        << QByteArray("/docs/* https://example.com:8443/d/:splat?x=1#top 308") << QByteArray() << QStringList()
        << QByteArray("/docs/a/b?q=2") << QByteArray("308 https://example.com:8443/d/a/b?x=1&q=2#top") << QByteArray()
        << QStringList();
    QTest::newRow("empty splat stays on this host")
        << QByteArray("/go/* /:splat/x 303") << QByteArray() << QStringList() << QByteArray("/go")
        << QByteArray("303 /x") << QByteArray() << QStringList();
    QTest::newRow("placeholder in a file name")
        << QByteArray("/u/:name /users/:name.html 404") << QByteArray() << QStringList() << QByteArray("/u/bob?x")
        << QByteArray("404 users/bob.html") << QByteArray() << QStringList();
    QTest::newRow("bad lines are skipped")
        << QByteArray("/only\n/a /b 418\n/a/*/b /c\n/api/* https://api.example.com/:splat 200\n/x /../etc 200\n"
                      "/y /.env 404\nhttps://other.example/* /z\n/a relative\n/ok /fine 301! # comment")
        << QByteArray() << QStringList() << QByteArray("/ok") << QByteArray("301 /fine") << QByteArray()
        << QStringList{"_redirects line 1: expected a path and a target, such as /old /new 301",
                       "_redirects line 2: \"418\" is not a status: use 301, 302, 303, 307, 308, 200 or 404",
                       "_redirects line 3: \"/a/*/b\": a splat * may only be the last segment of a path",
                       "_redirects line 4: a 200 to another machine or over https:// is passed on by the host "
                       "once deployed; this server passes requests only to http://localhost, 127.0.0.1 or [::1], "
                       "so nothing leaves this machine",
                       "_redirects line 5: \"/../etc\" is not a file of this folder (no .., no names that begin "
                       "with a dot)",
                       "_redirects line 6: \"/.env\" is not a file of this folder (no .., no names that begin "
                       "with a dot)",
                       "_redirects line 7: rules for other hosts do not apply to this server",
                       "_redirects line 8: \"relative\": a target starts with / or http:// or https://"};
    QTest::newRow("limits") << QByteArray(1001, 'a') + "\n" + QByteArray("/a /b\n").repeated(1001)
                            << QByteArray(70 * 1024, '#') + "\n/*\n  X-Late: 1" << QStringList() << QByteArray("/a")
                            << QByteArray("301 /b") << QByteArray()
                            << QStringList{"_redirects line 1: longer than 1,000 characters",
                                           "_redirects line 1002: more than 1,000 rules; the rest of the file is "
                                           "ignored",
                                           "_headers: larger than 64 KiB; the rest of the file is ignored"};
    QTest::newRow("headers of every matching block")
        << QByteArray()
        << QByteArray("  Early: 1\n/*\n  X-A: 1\n  Content-Length: 5\n  proxy-x: y\n  Bad Name: v\n"
                      "/app/:page\n\tX-A: 2\n\tSet-Cookie: a=1\n/app/*\n  Set-Cookie: b=2\n/b\n  X-B: 1")
        << QStringList() << QByteArray("/app/x") << QByteArray("none")
        << QByteArray("X-A: 1, 2|Set-Cookie: a=1|Set-Cookie: b=2")
        << QStringList{"_headers line 1: a header needs a path line above it",
                       "_headers line 4: Content-Length is set by the server alone and cannot be changed",
                       "_headers line 5: proxy-x is set by the server alone and cannot be changed",
                       "_headers line 6: \"Bad Name\" is not a header name"};
    QTest::newRow("other websites may not read the folder")
        << QByteArray()
        << QByteArray("/*\n  Access-Control-Allow-Origin: *\n  Access-Control-Allow-Origin: null\n"
                      "/api/*\n  Access-Control-Allow-Origin: http://localhost:5173")
        << QStringList() << QByteArray("/api/x") << QByteArray("none")
        << QByteArray("Access-Control-Allow-Origin: http://localhost:5173")
        << QStringList{"_headers line 2: \"*\" would let other websites read this folder; only http://localhost, "
                       "http://127.0.0.1 or http://[::1] origins (with a port) are allowed",
                       "_headers line 3: \"null\" would let other websites read this folder; only "
                       "http://localhost, http://127.0.0.1 or http://[::1] origins (with a port) are allowed"};
}

void TestSiteRules::rules()
{
    QFETCH(QByteArray, redirects);
    QFETCH(QByteArray, headers);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, decision);
    QFETCH(QByteArray, answerHeaders);
    QFETCH(QStringList, notices);

    std::vector<std::string> read;
    const CRedirectRules redirectRules = CRedirectRules::Parse(redirects.toStdString(), read);
    const CHeaderRules headerRules = CHeaderRules::Parse(headers.toStdString(), read);
    QStringList readNotices;
    for (const std::string& notice : read)
        readNotices << QString::fromStdString(notice);
    QCOMPARE(readNotices, notices);

    const QList<QByteArray> parts = request.split('?');
    const std::string path = parts[0].toStdString();
    int asked = 0;
    const CRedirectDecision result =
        redirectRules.Match(path, parts.value(1).toStdString(),
                            [&](std::string_view filePath)
                            {
                                ++asked;
                                return files.contains(QString::fromStdString(std::string(filePath)));
                            });
    QVERIFY(asked <= 1);
    QByteArray got = "none";
    if (result.action == CRedirectDecision::EAction::Redirect)
        got = QByteArray::number(result.status) + " " + QByteArray::fromStdString(result.location);
    else if (result.action == CRedirectDecision::EAction::Rewrite)
        got = QByteArray::number(result.status) + " " + QByteArray::fromStdString(result.target.relativePath);
    QCOMPARE(got, decision);

    QByteArrayList gotHeaders;
    for (const auto& header : headerRules.HeadersFor(path))
        gotHeaders << QByteArray::fromStdString(header.first + ": " + header.second);
    QCOMPARE(gotHeaders.join('|'), answerHeaders);
}

// Proxy rules as the server reads them with the user's consent to every target but its own port.
void TestSiteRules::proxyRules_data()
{
    QTest::addColumn<QByteArray>("redirects");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("decision"); // "none", or the target's key and the path on it
    QTest::addColumn<QStringList>("notices");
    const QByteArray api = "/api/* http://LocalHost.:3000/v1/:splat?k=1 200\n";
    QTest::newRow("splat and query") << api << QByteArray("/api/a b/c?x=%41")
                                     << QByteArray("localhost:3000 /v1/a%20b/c?k=1&x=%41") << QStringList();
    QTest::newRow("a file shadows it") << api << QByteArray("/api/file") << QByteArray("none") << QStringList();
    QTest::newRow("! wins over a file") << QByteArray("/api/* http://[::1]/:splat 200!") << QByteArray("/api/file")
                                        << QByteArray("[::1]:80 /file") << QStringList();
    QTest::newRow("skipped targets")
        << QByteArray(
               "/a http://127.0.0.1:8721/ 200\n/b http://localhost:3000/../x 200\n/c http://user@localhost/ 200\n"
               "/d http://127.0.0.1:3000/d 200")
        << QByteArray("/d") << QByteArray("127.0.0.1:3000 /d")
        << QStringList{
               "_redirects line 1: http://127.0.0.1:8721 is this server itself: a rule cannot pass requests back to it",
               "_redirects line 2: \"/../x\": a path on another server has no . or .. segments",
               "_redirects line 3: a 200 to another machine or over https:// is passed on by the host once "
               "deployed; this server passes requests only to http://localhost, 127.0.0.1 or [::1], so nothing "
               "leaves this machine"};
}

void TestSiteRules::proxyRules()
{
    QFETCH(QByteArray, redirects);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, decision);
    QFETCH(QStringList, notices);

    std::vector<std::string> read;
    const CRedirectRules rules =
        CRedirectRules::Parse(redirects.toStdString(), read,
                              [](std::string_view from, const CProxyTarget& target)
                              { return ProxyRules::Refusal(from, target, 8721, {target.Key()}); });
    QStringList readNotices;
    for (const std::string& notice : read)
        readNotices << QString::fromStdString(notice);
    QCOMPARE(readNotices, notices);
    const QList<QByteArray> parts = request.split('?');
    const CRedirectDecision result = rules.Match(parts[0].toStdString(), parts.value(1).toStdString(),
                                                 [](std::string_view path) { return path == "/api/file"; });
    QByteArray got = "none";
    if (result.action == CRedirectDecision::EAction::Proxy)
        got = QByteArray::fromStdString(result.pProxy->target.Key() + " " + result.location);
    QCOMPARE(got, decision);
}

QTEST_GUILESS_MAIN(TestSiteRules)
#include "tst_siterules.moc"
