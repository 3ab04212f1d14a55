#include "launcher/CorvanStringConversion.h"

#include <vector>

namespace Corvan
{

CCorvanString ToCorvanString(QString str)
{
    // Where wchar_t is 32 bits, a surrogate pair becomes one element, so the text can be shorter than
    // the QString: terminate where toWCharArray stopped, not at length().
    std::vector<wchar_t> buffer(static_cast<std::size_t>(str.length()) + 1, L'\0');
    const int written = str.toWCharArray(buffer.data());
    buffer[static_cast<std::size_t>(written)] = L'\0';
    return CCorvanString(buffer.data());
}

QString ToQString(CCorvanString value)
{
    return QString::fromWCharArray(value, -1);
}

} // namespace Corvan
