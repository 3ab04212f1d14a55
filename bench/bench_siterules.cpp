// What a site's rule files cost a request for a plain file: the _redirects match (a 100-rule file
// whose only matching rule is the last, a catch-all that the file shadows) and the _headers
// lookup (empty file), against the same request with no rule files; and the _headers lookup alone
// for the largest file a site may have: 64 KiB of 5,041 distinct names in one /* block. Prints
// nanoseconds per request, the median of ROUNDS rounds. Usage: bench_siterules [ROUNDS [HEADER_REQUESTS]]

#include "server/siterules/HeaderRules.h"
#include "server/siterules/RedirectRules.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Corvan;

namespace
{

double NanosecondsPerRequest(const CRedirectRules& redirects, const CHeaderRules& headers)
{
    constexpr int Requests = 200000;
    std::size_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Requests; ++i)
    {
        const CRedirectDecision decision =
            redirects.Match("/assets/app.js", "v=3", [](std::string_view) { return true; });
        sink += static_cast<std::size_t>(decision.action) + headers.HeadersFor("/assets/app.js").size();
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    if (sink != 0)
        std::abort(); // a plain file is never redirected: the rules would be wrong
    return elapsed.count() / Requests;
}

double HeadersNanosecondsPerRequest(const CHeaderRules& headers, int requests)
{
    std::size_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i)
        sink += headers.HeadersFor("/assets/app.js").size();
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    if (sink != 5041u * static_cast<std::size_t>(requests))
        std::abort(); // every name is set once: the merge would be wrong
    return elapsed.count() / requests;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    // A few when each costs milliseconds, as it did while headers were merged per request.
    const int manyRequests = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    std::string file;
    for (int i = 0; i < 99; ++i)
        file += "/old-" + std::to_string(i) + "/:slug/* /new-" + std::to_string(i) + "/:slug/:splat 301\n";
    file += "/* /index.html 200\n";
    std::vector<std::string> notices;
    const CRedirectRules hundred = CRedirectRules::Parse(file, notices);
    const CHeaderRules noHeaders = CHeaderRules::Parse("", notices);
    const CRedirectRules none = CRedirectRules::Parse("", notices);

    std::string headersFile = "/*\n";
    for (int i = 0; i < 5041; ++i)
    {
        char line[16];
        std::snprintf(line, sizeof line, "  X-%04d: ab\n", i);
        headersFile += line;
    }
    const CHeaderRules manyHeaders = CHeaderRules::Parse(headersFile, notices);
    if (!notices.empty() || headersFile.size() != 64 * 1024)
        std::abort();

    std::vector<double> with, without, many;
    for (int round = 0; round < rounds; ++round)
    {
        without.push_back(NanosecondsPerRequest(none, noHeaders));
        with.push_back(NanosecondsPerRequest(hundred, noHeaders));
        many.push_back(HeadersNanosecondsPerRequest(manyHeaders, manyRequests));
    }
    std::printf("per plain-file request: %.0f ns with a 100-rule _redirects and an empty _headers, %.0f ns "
                "without them\n",
                Median(with), Median(without));
    std::printf("per request, _headers of 5,041 names in one /* block (64 KiB): %.0f ns\n", Median(many));
    return 0;
}
