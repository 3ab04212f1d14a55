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

} // namespace TestLimits
} // namespace Corvan
