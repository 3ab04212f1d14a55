// Stands in for a running server: does nothing until it is ended.
#include <unistd.h>

int main()
{
    for (;;)
        pause();
}
