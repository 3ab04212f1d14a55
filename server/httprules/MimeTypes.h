#pragma once

// What a file is called on the wire: its Content-Type by extension.

#include <string>

namespace Corvan
{
namespace HttpRules
{

// Content-Type for a file name, by its extension (case-insensitive); application/octet-stream
// for anything unknown.
const char* MimeType(const std::string& fileName);

} // namespace HttpRules
} // namespace Corvan
