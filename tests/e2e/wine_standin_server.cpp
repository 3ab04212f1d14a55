// A stand-in for a server left running by an earlier session of the tool, for the Windows end-to-end
// suite: copied as mongoose.exe, it idles until the tool's sweep ends it. It ends itself after five
// minutes, so a failed run leaves nothing behind for long.

#include <windows.h>

int main()
{
    Sleep(5 * 60 * 1000);
    return 3;
}
