#include "platform/UrlOpener.h"

namespace Corvan
{
namespace Platform
{

// The toolkit's way on Windows is ShellExecute, called in this process: no copy of it is made, so
// there is nothing to gain by starting an opener of our own.
bool StartUrlOpener(const std::string&)
{
    return false;
}

} // namespace Platform
} // namespace Corvan
