#include "platform/ProcessSweep.h"

namespace Corvan
{
namespace Platform
{

SweepResult TerminateProcessesNamed(const std::string&, std::chrono::milliseconds)
{
    return {};
}

} // namespace Platform
} // namespace Corvan
