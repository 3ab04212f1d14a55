// Presses Return in the top-level window with the given title, for the Windows end-to-end suite.
//
// A message box that the tool shows while it handles a drop cannot get X11 input under wine: wine
// hands the drop over from inside its handling of an X event and takes no further X events from the
// display until that returns, so neither xdotool's keys nor its clicks reach the box. Key messages
// posted straight to the window do, as they would from a user's keyboard on Windows.
//
// Usage: wine_press_return.exe TITLE [Y]   (exit code 1: no such window)
// With Y it presses Y instead, which answers Yes in a question box whose default is No.

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    const HWND window = FindWindowW(nullptr, argv[1]);
    if (!window)
        return 1;
    // Scan code 0x1C is Return, 0x15 is Y; bit 30 and 31 mark the release.
    const bool yes = argc == 3 && argv[2][0] == L'Y';
    const WPARAM key = yes ? 'Y' : VK_RETURN;
    const LPARAM scan = yes ? 0x00150001 : 0x001C0001;
    return PostMessageW(window, WM_KEYDOWN, key, scan) && PostMessageW(window, WM_KEYUP, key, scan | 0xC0000000) ? 0
                                                                                                                 : 3;
}
