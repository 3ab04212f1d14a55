#pragma once

// Which part of a file a Range header asks for.

#include <cstdint>
#include <string_view>

namespace Corvan
{
namespace HttpRules
{

enum class ERange
{
    Whole,         // no usable single range: send the whole file
    Partial,       // send bytes first..last (inclusive)
    Unsatisfiable, // 416
};

// Reads a Range header for a file of `size` bytes. Single ranges only ("N-M", "N-", "-N"); a list
// or a malformed header is ignored as the standard allows.
ERange ParseRange(std::string_view range, std::int64_t size, std::int64_t& first, std::int64_t& last);

} // namespace HttpRules
} // namespace Corvan
