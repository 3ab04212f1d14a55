// Started by tst_childprocess_win. "talk ARGS...": writes its folder and arguments to standard output
// and a line to standard error, then exits with code 3. "idle": waits a minute (the test ends it).

#include <windows.h>

#include <cstdio>
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
    std::printf("\n");
    std::fprintf(stderr, "said on stderr\n");
    return 3;
}
