#pragma once

// HTTP's one date form, written and read back exactly.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Corvan
{
namespace HttpRules
{

// "Sun, 06 Nov 1994 08:49:37 GMT"; the buffer needs HttpDateSize bytes.
void FormatHttpDate(std::int64_t secondsSinceEpoch, char* pBuffer);
constexpr std::size_t HttpDateSize = 40;
// Parses the IMF-fixdate form above; false for anything else.
bool ParseHttpDate(std::string_view text, std::int64_t& secondsSinceEpoch);

} // namespace HttpRules
} // namespace Corvan
