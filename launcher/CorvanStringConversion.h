#pragma once

#include "corvancore/CCorvanString.h"

#include <QString>

namespace Corvan
{

// Text crosses to the core library as zero-terminated wide strings.
CCorvanString ToCorvanString(QString str);
QString ToQString(CCorvanString value);

} // namespace Corvan
