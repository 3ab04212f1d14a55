#include "platform/StopRequest.h"

#include <windows.h>

#include <thread>

namespace Corvan
{
namespace StopRequest
{

namespace
{

// Set by the console's Ctrl+C, Ctrl+Break and close; WaitForStopSignal waits for it.
HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    SetEvent(g_stopEvent);
    // After a close, log-off or shut-down the system ends the process as soon as this returns: hold
    // it here so the main thread can stop the server (the system waits a few seconds at most).
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

} // namespace

void Block()
{
    if (!g_stopEvent)
        g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void Wait()
{
    WaitForSingleObject(g_stopEvent, INFINITE);
}

void StopAtEndOfInput()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::thread(
        [input]
        {
            char buffer[256];
            DWORD count = 0;
            while (ReadFile(input, buffer, sizeof buffer, &count, nullptr) && count > 0)
            {
            }
            SetEvent(g_stopEvent);
        })
        .detach();
}

} // namespace StopRequest
} // namespace Corvan
