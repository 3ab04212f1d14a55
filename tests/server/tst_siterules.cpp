// A site's _redirects and _headers, read and matched directly on the rules library; and what a
// page's failed request meant, and which requests a page is told of.

#include "server/httprules/Hosts.h"
#include "server/noticerules/MeantName.h"
#include "server/noticerules/ResourceRequests.h"
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
    void loopbackOrigin_data();
    void loopbackOrigin();
    void meantName_data();
    void meantName();
    void reportedRequests_data();
    void reportedRequests();
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
                      "/app/:page\n\tX-A: 2\n\tSet-Cookie: a=1\n\tx-a: 3\n/app/*\n  Set-Cookie: b=2\n  X-C: 4\n"
                      "  X-a: 5\n/b\n  X-B: 1")
        << QStringList() << QByteArray("/app/x") << QByteArray("none")
        << QByteArray("X-A: 1, 2, 3, 5|Set-Cookie: a=1|Set-Cookie: b=2|X-C: 4")
        << QStringList{"_headers line 1: a header needs a path line above it",
                       "_headers line 4: Content-Length is set by the server alone and cannot be changed",
                       "_headers line 5: proxy-x is set by the server alone and cannot be changed",
                       "_headers line 6: \"Bad Name\" is not a header name"};
    QTest::newRow("lines for other hosts or mistyped skip what follows")
        << QByteArray("//cdn.example.com/* /x\nHTTP://other.example/* /y")
        << QByteArray("/*\n  X-Frame-Options: DENY\nembed/*\n  X-Frame-Options: SAMEORIGIN\nHTTPS://other.example/*\n"
                      "  X-A: 1\n//cdn.example.com/*\n  X-B: 2")
        << QStringList() << QByteArray("/cdn.example.com/embed") << QByteArray("none")
        << QByteArray("X-Frame-Options: DENY")
        << QStringList{"_redirects line 1: rules for other hosts do not apply to this server",
                       "_redirects line 2: rules for other hosts do not apply to this server",
                       "_headers line 3: expected a path starting with / or an indented Name: value",
                       "_headers line 5: rules for other hosts do not apply to this server",
                       "_headers line 7: rules for other hosts do not apply to this server"};
    QTest::newRow("notices escape what a terminal would obey")
        << QByteArray("/a /b 2\xE2\x80\xAE\xC2\x9B\xE2\x80\x8D!")
        << QByteArray("/*\n  Access-Control-Allow-Origin: http://localhost:1\t\xEF\xBB\xBF\xD8\x9C\xE2\x81\xA6")
        << QStringList() << QByteArray("/a") << QByteArray("none") << QByteArray()
        << QStringList{"_redirects line 1: \"2\\u202e\\u009b\xE2\x80\x8D!\" is not a status: use 301, 302, 303, 307, "
                       "308, 200 or 404",
                       "_headers line 2: \"http://localhost:1\\u0009\\ufeff\\u061c...\" would let other websites "
                       "read this folder; only http://localhost, http://127.0.0.1 or http://[::1] origins (with a "
                       "port) are allowed"};
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

void TestSiteRules::loopbackOrigin_data()
{
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<int>("port"); // -1: any
    QTest::addColumn<bool>("loopback");
    QTest::newRow("any port") << QByteArray("HTTP://LocalHost:5173") << -1 << true;
    QTest::newRow("no port is 80") << QByteArray("http://[::1]") << 80 << true;
    QTest::newRow("leading zero") << QByteArray("http://localhost:08080") << 8080 << false;
    QTest::newRow("a path") << QByteArray("http://localhost:8080/") << -1 << false;
    QTest::newRow("another host") << QByteArray("http://localhost.example:8080") << -1 << false;
    QTest::newRow("NUL") << QByteArray("http://localhost\0.example", 25) << -1 << false;
}

void TestSiteRules::loopbackOrigin()
{
    QFETCH(QByteArray, origin);
    QFETCH(int, port);
    QTEST(HttpRules::IsLoopbackOrigin(std::string_view(origin.constData(), origin.size()), port), "loopback");
}

void TestSiteRules::meantName_data()
{
    QTest::addColumn<QStringList>("files"); // the folder's files; their folders come with them
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("meant"); // "KIND PATH" or "none"
    const QStringList site{"index.html",       "img/logo.png",    "js/util.js",  "js/util.ts",
                           "js/lib/index.mjs", "images/icon.svg", "css/site.css"};
    QTest::newRow("case") << site << QByteArray("img/Logo.png") << QByteArray("case img/logo.png");
    QTest::newRow("case of a folder") << site << QByteArray("IMG/logo.png") << QByteArray("case img/logo.png");
    QTest::newRow("extension") << site << QByteArray("js/util") << QByteArray("extension js/util.js");
    QTest::newRow("index module") << site << QByteArray("js/lib/") << QByteArray("extension js/lib/index.mjs");
    QTest::newRow("a letter off") << site << QByteArray("img/lgo.png") << QByteArray("near img/logo.png");
    QTest::newRow("two letters off") << site << QByteArray("img/lofo.pnk") << QByteArray("near img/logo.png");
    QTest::newRow("sibling folder") << site << QByteArray("img/icon.svg") << QByteArray("elsewhere images/icon.svg");
    QTest::newRow("folder left out") << site << QByteArray("css/img/logo.png") << QByteArray("elsewhere img/logo.png");
    QTest::newRow("folder below") << site << QByteArray("logo.png") << QByteArray("elsewhere img/logo.png");
    QTest::newRow("nothing near") << site << QByteArray("img/banner.png") << QByteArray("none");
    QTest::newRow("held: failed otherwise") << site << QByteArray("img/logo.png") << QByteArray("none");
    const QStringList hidden{".env", ".git/config", "_redirects", "_headers", "img/.logo.png"};
    QTest::newRow("dot name") << hidden << QByteArray("xenv") << QByteArray("none");
    QTest::newRow("dot name near") << hidden << QByteArray("img/_logo.png") << QByteArray("none");
    QTest::newRow("dot folder") << hidden << QByteArray("git/config") << QByteArray("none");
    QTest::newRow("rule file") << hidden << QByteArray("_redirect") << QByteArray("none");
}

void TestSiteRules::meantName()
{
    QFETCH(QStringList, files);
    QFETCH(QByteArray, request);
    QMap<QString, std::vector<CNameEntry>> folders{{QString(), {}}};
    for (const QString& file : files)
    {
        for (QString path = file; !path.isEmpty(); path = path.section('/', 0, -2))
        {
            const QString folder = path.section('/', 0, -2);
            const CNameEntry entry{path.section('/', -1).toStdString(), path != file};
            std::vector<CNameEntry>& entries = folders[folder];
            if (std::none_of(entries.begin(), entries.end(), [&](const CNameEntry& e) { return e.name == entry.name; }))
                entries.push_back(entry);
        }
    }
    CNameIndex index;
    for (auto it = folders.begin(); it != folders.end(); ++it)
        index.PutFolder(it.key().toStdString(), it.value());
    const CMeantName meant = MeantName(index, request.toStdString());
    static const char* const Kinds[] = {"none", "case", "extension", "near", "elsewhere"};
    QByteArray got = Kinds[int(meant.kind)];
    if (meant.kind != CMeantName::EKind::None)
        got += " " + QByteArray::fromStdString(meant.path);
    QTEST(got, "meant");
}

void TestSiteRules::reportedRequests_data()
{
    QTest::addColumn<QByteArray>("site"); // Sec-Fetch-Site; empty: none sent
    QTest::addColumn<QByteArray>("referer");
    QTest::addColumn<QByteArray>("destination");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("page"); // the page told; empty: none
    const QByteArray own = "http://localhost:8080/index.html";
    QTest::newRow("own page's image") << QByteArray("same-origin") << own << QByteArray("image")
                                      << QByteArray("img/x.png") << QByteArray("/index.html");
    QTest::newRow("query off, decoded") << QByteArray() << QByteArray("http://127.0.0.1:8080/a%20b/?q=1")
                                        << QByteArray("script") << QByteArray("x.js") << QByteArray("/a b/");
    QTest::newRow("another site's page") << QByteArray("cross-site") << own << QByteArray("image")
                                         << QByteArray("x.png") << QByteArray();
    QTest::newRow("another port") << QByteArray() << QByteArray("http://localhost:9999/") << QByteArray("image")
                                  << QByteArray("x.png") << QByteArray();
    QTest::newRow("https") << QByteArray() << QByteArray("https://localhost:8080/") << QByteArray("image")
                           << QByteArray("x.png") << QByteArray();
    QTest::newRow("the browser's favicon")
        << QByteArray("same-origin") << own << QByteArray("image") << QByteArray("favicon.ico") << QByteArray();
    QTest::newRow("a tool") << QByteArray() << own << QByteArray() << QByteArray("x.png") << QByteArray();
}

void TestSiteRules::reportedRequests()
{
    QFETCH(QByteArray, site);
    QFETCH(QByteArray, referer);
    QFETCH(QByteArray, destination);
    QFETCH(QByteArray, path);
    const NoticeRules::EResource resource =
        NoticeRules::Resource(destination.isEmpty() ? nullptr : destination.constData());
    const std::string page =
        NoticeRules::IsReported(resource, path.toStdString())
            ? NoticeRules::OwnReferrer(site.isEmpty() ? nullptr : site.constData(), referer.constData(), 8080)
            : std::string();
    QTEST(QByteArray::fromStdString(page), "page");
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
