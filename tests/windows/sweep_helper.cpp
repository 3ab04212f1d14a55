// A stand-in for a running server: built as mongoose.exe and under near-miss names, it tells the
// test it is up by setting the inherited event whose handle value it gets as its argument, then
// idles until it is ended. It ends itself with exit code 3 after a minute, so a failed test leaves
// nothing running for long; the sweep ends it with exit code 0, which the test tells apart.

#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const HANDLE ready = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[1], nullptr, 10)));
    if (!SetEvent(ready))
        return 2;
    CloseHandle(ready);
    Sleep(60000);
    return 3;
}
