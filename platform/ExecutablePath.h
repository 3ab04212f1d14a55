#pragma once

#include <string>

namespace Corvan
{
namespace Platform
{

// The full path of the running executable as 8-bit text; empty when the system cannot tell.
std::string ExecutablePath();

} // namespace Platform
} // namespace Corvan
