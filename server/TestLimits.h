#pragma once

// Bounds a test may lower through the environment, so that the degraded paths can be tried without
// a huge folder, a changed system or a minute's wait.

#include <chrono>
#include <cstddef>

namespace Corvan
{
namespace TestLimits
{

// The number in the environment variable `pName`, or `fallback` when it is unset or no number.
std::size_t FromEnvironment(const char* pName, std::size_t fallback);
// The same for a duration, in milliseconds.
std::chrono::milliseconds FromEnvironment(const char* pName, std::chrono::milliseconds fallback);

} // namespace TestLimits
} // namespace Corvan
