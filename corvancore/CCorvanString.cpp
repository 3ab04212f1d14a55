#include "corvancore/CCorvanString.h"

namespace Corvan
{

CCorvanString::CCorvanString(const wchar_t*) {}

} // namespace Corvan
