// What a page's notices cost: the first scan of a folder into the index of names (the keeper's
// thread, as the server runs it), the memory the index takes, and the look-up of the meant name
// for failed requests of each kind, in that folder and in one flat folder of 50,000 names.
// Usage: bench_notices FOLDER [ROUNDS]   (bench/page-notices.sh makes the folder and runs it)

#include "server/livereload/NameIndexKeeper.h"
#include "server/noticerules/MeantName.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace Corvan;
using Clock = std::chrono::steady_clock;

namespace
{

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
    {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Microseconds per look-up of `path`, the median of `rounds` rounds.
double LookUpMicroseconds(const CNameIndex& index, const std::string& path, int rounds, CMeantName& meant)
{
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round)
    {
        constexpr int Calls = 200;
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < Calls; ++i)
            meant = MeantName(index, path);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / Calls);
    }
    return Median(times);
}

void Report(const char* pTitle, const CNameIndex& index, const std::vector<std::string>& paths, int rounds)
{
    static const char* const Kinds[] = {"nothing near", "case", "extension", "near", "elsewhere"};
    std::printf("%s (%zu names):\n", pTitle, index.NameCount());
    for (const std::string& path : paths)
    {
        CMeantName meant;
        const double micro = LookUpMicroseconds(index, path, rounds, meant);
        std::printf("  %-28s %-12s %8.1f us  %s\n", path.c_str(), Kinds[int(meant.kind)], micro, meant.path.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: bench_notices FOLDER [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    const long before = ResidentKiB();
    CNameIndexKeeper keeper(argv[1]);
    const Clock::time_point start = Clock::now();
    keeper.Start();
    std::shared_ptr<const CNameIndex> pIndex;
    while (!(pIndex = keeper.Current()))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double scanMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    keeper.Stop();
    std::printf("first scan: %.0f ms for %zu names (from the start, its 20 ms wait for a burst included), "
                "index about %ld KiB\n",
                scanMs, pIndex->NameCount(), ResidentKiB() - before);
    Report("look-up in the folder", *pIndex,
           {"img-125/Photo-0042.jpg", "js-125/util", "img-125/phto-0042.jpg", "img-999/photo-0042.jpg",
            "img-125/banner.png"},
           rounds);

    CNameIndex flat;
    std::vector<CNameEntry> names;
    for (int i = 0; i < 50000; ++i)
    {
        char name[32];
        std::snprintf(name, sizeof name, "photo-%05d.jpg", i);
        names.push_back({name, false});
    }
    flat.PutFolder(std::string(), names);
    Report("look-up in one flat folder", flat, {"Photo-12345.jpg", "phto-12345.jpg", "banner.png"}, rounds);
    return 0;
}
