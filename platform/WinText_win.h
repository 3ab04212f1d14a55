#pragma once

// Text at the Windows boundary, shared by the Windows sources of this folder: paths and messages are
// UTF-16 there and UTF-8 everywhere else.

#include <cstddef>
#include <string>

namespace Corvan
{
namespace WinText
{

// UTF-8 to UTF-16; empty for text that is not valid UTF-8.
std::wstring Wide(const std::string& utf8);

std::string Utf8(const wchar_t* pWide, std::size_t length);
std::string Utf8(const std::wstring& wide);

// A '/'-separated UTF-8 path as Windows takes it: backslashes, and the "\\?\" form, which lifts the
// 260-character limit and hands every name to the file system exactly as written (no trailing dots
// or blanks dropped, no device names such as CON found in any folder).
std::wstring NativePath(const std::string& path);

// The system's words for an error code (GetLastError, WSAGetLastError), without the trailing line break.
std::string SystemMessage(unsigned long code);

} // namespace WinText
} // namespace Corvan
