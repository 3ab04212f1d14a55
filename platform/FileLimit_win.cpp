#include "platform/FileLimit.h"

namespace Corvan
{
namespace FileLimit
{

void Raise()
{
    // Windows sets no per-process limit on file and socket handles that a program could raise.
}

long long Free()
{
    return 1 << 20;
}

} // namespace FileLimit
} // namespace Corvan
