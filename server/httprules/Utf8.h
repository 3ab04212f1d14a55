#pragma once

// Whether bytes are well-formed UTF-8.

#include <cstddef>
#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// True for well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// The bytes of the well-formed character that `text` starts with; 0 when it starts with none.
std::size_t Utf8CharacterLength(std::string_view text);

} // namespace HttpRules
} // namespace Corvan
