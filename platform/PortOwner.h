#pragma once

#include <string>

namespace Corvan
{
namespace Platform
{

// The file name of the program that listens on the given TCP port of this machine (any address,
// IPv4 or IPv6), or empty when there is no listener or its process may not be inspected.
std::string ProgramListeningOn(unsigned short port);

} // namespace Platform
} // namespace Corvan
