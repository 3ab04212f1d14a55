#include "server/ServerProtocol.h"

#include <cstdio>

int main()
{
    std::fputs("mongoose: not built yet\n", stderr);
    return Corvan::ServerProtocol::ExitFailure;
}
