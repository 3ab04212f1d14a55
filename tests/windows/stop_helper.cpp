// Waits for a stop request exactly as the server does, then exits with code 42, which only the end
// of the wait gives (the system's own end of a process on Ctrl+C has another code): the test sends it
// Ctrl+C and Ctrl+Break.

#include "platform/StopRequest.h"

int main()
{
    Corvan::StopRequest::Block();
    Corvan::StopRequest::Wait();
    return 42;
}
