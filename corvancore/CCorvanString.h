#pragma once

namespace Corvan
{

// Path value of the core library: a zero-terminated wide string.
class CCorvanString
{
public:
    explicit CCorvanString(const wchar_t* text);
};

} // namespace Corvan
