#pragma once

// Whether bytes are well-formed UTF-8.

#include <string>

namespace Corvan
{
namespace HttpRules
{

// True for well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool IsValidUtf8(const std::string& text);

} // namespace HttpRules
} // namespace Corvan
