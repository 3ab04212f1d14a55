// Started by tst_childprocess_win. "talk ARGS...": writes its folder, arguments and two variables to
// standard output and a line to standard error, then exits with code 3. "idle": waits a minute (the
// test ends it).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "idle") == 0)
    {
        Sleep(60000);
        return 0;
    }
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::printf("folder=%s\nargs=", folder);
    for (int i = 1; i < argc; ++i)
        std::printf("%s|", argv[i]);
    std::printf("\nset=%s\ndropped=%s\n", std::getenv("CHILD_SET"), std::getenv("CHILD_DROPPED") ? "no" : "yes");
    std::fprintf(stderr, "said on stderr\n");
    return 3;
}
