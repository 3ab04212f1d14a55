// The suite's xdg-open: stamps its own start for bench/drop-to-page.sh when CORVAN_LAUNCH_TRACE names
// a file (on the clock of launcher/LaunchTrace.h), then becomes the recording script stub-bin/xdg-open
// with the same arguments. A program and not a script line, so the stamp is the opener's start itself,
// not an interpreter's start or a `date` process later.

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <unistd.h>

int main(int, char** argv)
{
    const char* trace = std::getenv("CORVAN_LAUNCH_TRACE");
    timespec now{};
    if (trace && *trace && clock_gettime(CLOCK_REALTIME, &now) == 0)
    {
        if (std::FILE* file = std::fopen(trace, "a"))
        {
            std::fprintf(file, "opener %lld\n", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
            std::fclose(file);
        }
    }
    char script[] = CORVAN_E2E_OPENER_SCRIPT;
    argv[0] = script;
    execv(script, argv);
    std::perror(CORVAN_E2E_OPENER_SCRIPT);
    return 127;
}
