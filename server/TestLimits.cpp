#include "server/TestLimits.h"

#include <cstdlib>

namespace Corvan
{
namespace TestLimits
{

std::size_t FromEnvironment(const char* pName, std::size_t fallback)
{
    const char* pValue = std::getenv(pName);
    if (!pValue || !*pValue)
        return fallback;
    char* pEnd = nullptr;
    const unsigned long long value = std::strtoull(pValue, &pEnd, 10);
    return *pEnd == '\0' ? static_cast<std::size_t>(value) : fallback;
}

std::chrono::milliseconds FromEnvironment(const char* pName, std::chrono::milliseconds fallback)
{
    return std::chrono::milliseconds(FromEnvironment(pName, static_cast<std::size_t>(fallback.count())));
}

} // namespace TestLimits
} // namespace Corvan
