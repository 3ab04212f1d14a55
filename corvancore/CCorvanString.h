#pragma once

#include <string>

namespace Corvan
{

// Path value of the core library: an owned, zero-terminated wide string with the few path operations
// the launcher needs. Pure string work except FileExist; the separator is always the caller's choice.
class CCorvanString
{
public:
    // Holds a copy of the zero-terminated text; a null pointer gives an empty value.
    explicit CCorvanString(const wchar_t* text);
    CCorvanString(const CCorvanString& other);
    CCorvanString& operator=(const CCorvanString& other);
    ~CCorvanString();

    // The held text, zero-terminated; valid while this value lives and is not changed.
    operator wchar_t*();

    // The directory part: the text before the last `separator`, or empty when there is none. A result
    // that would be a bare root ("" for "/x", "C:" for "C:\x") keeps its separator, so it still names
    // the root rather than the current directory.
    CCorvanString Path(wchar_t separator) const;

    // Replaces the held path by its last component, the bare file name.
    void RemovePath();

    // True when a regular file (or a link to one) exists at the given path.
    static bool FileExist(CCorvanString path);

private:
    std::wstring m_strText;
};

} // namespace Corvan
