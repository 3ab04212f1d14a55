#include "platform/ExecutablePath.h"

namespace Corvan
{
namespace Platform
{

std::string ExecutablePath()
{
    return std::string();
}

} // namespace Platform
} // namespace Corvan
