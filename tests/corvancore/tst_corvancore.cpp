// The path class on its own: the directory and file-name parts of Windows and Linux paths, value
// semantics, and the file check against a real temporary folder.
#include "corvancore/CCorvanString.h"
#include "tests/support/Check.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

using Corvan::CCorvanString;

namespace
{
using CorvanTest::Check;

std::wstring Text(CCorvanString value)
{
    return std::wstring(static_cast<wchar_t*>(value));
}

struct PathRow
{
    const wchar_t* path;
    wchar_t separator;
    const wchar_t* directory;
    const wchar_t* fileName; // what RemovePath leaves on this platform
};

void TestPathAndFileName()
{
    const PathRow rows[] = {
        {L"/srv/site/index.html", L'/', L"/srv/site", L"index.html"},
        // A file in the root still gets a usable working directory.
        {L"/index.html", L'/', L"/", L"index.html"},
        {L"/home/a b/my page.html", L'/', L"/home/a b", L"my page.html"},
        {L"/tmp/\u00e9t\u00e9/\u65e5\u672c.html", L'/', L"/tmp/\u00e9t\u00e9", L"\u65e5\u672c.html"},
        {L"index.html", L'/', L"", L"index.html"},
#ifdef _WIN32
        {L"C:\\site\\index.html", L'\\', L"C:\\site", L"index.html"},
        {L"C:\\index.html", L'\\', L"C:\\", L"index.html"},
        {L"d:\\index.html", L'\\', L"d:\\", L"index.html"},
        {L"\\\\server\\share\\index.html", L'\\', L"\\\\server\\share", L"index.html"},
        {L"C:/Tools\\mongoose.exe", L'\\', L"C:/Tools", L"mongoose.exe"},
#else
        // A backslash is an ordinary character in a Linux file name.
        {L"/srv/a\\b.html", L'/', L"/srv", L"a\\b.html"},
        {L"C:\\site\\index.html", L'\\', L"C:\\site", L"C:\\site\\index.html"},
        {L"C:\\index.html", L'\\', L"C:\\", L"C:\\index.html"},
#endif
    };
    for (const PathRow& row : rows)
    {
        const CCorvanString value(row.path);
        Check(Text(value.Path(row.separator)) == row.directory, "Path", row.path);
        CCorvanString name(value);
        name.RemovePath();
        Check(Text(name) == row.fileName, "RemovePath", row.path);
        Check(Text(value) == row.path, "Path and a copy's RemovePath leave the value alone", row.path);
    }
}

void TestValueSemantics()
{
    wchar_t source[] = L"/a/b.html";
    CCorvanString value(source);
    source[1] = L'x';
    Check(Text(value) == L"/a/b.html", "the constructor copies its text");

    CCorvanString copy(value);
    copy.RemovePath();
    Check(Text(value) == L"/a/b.html" && Text(copy) == L"b.html", "a copy is independent");

    CCorvanString assigned(L"");
    assigned = value;
    value.RemovePath();
    Check(Text(assigned) == L"/a/b.html", "an assigned value is independent");

    wchar_t* text = static_cast<wchar_t*>(assigned);
    Check(text[std::wcslen(L"/a/b.html")] == L'\0', "the text is zero-terminated");
    Check(Text(CCorvanString(nullptr)).empty(), "a null pointer gives an empty value");
}

// The temporary folder's path is plain ASCII here, so widening it byte by byte is exact.
std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void TestFileExist()
{
    namespace fs = std::filesystem;
    const std::string folder =
        (fs::temp_directory_path() /
         ("tst_corvancore_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
            .string();
    fs::create_directories(folder);
    const std::wstring wideFolder = Widen(folder) + L"/";
    std::ofstream(folder + "/index.html") << "x";
    std::ofstream(fs::u8path(folder + u8"/a b#%\u00e9\u65e5.html")) << "x";
    fs::create_directory(folder + "/mongoose");

    const auto exists = [&](const std::wstring& name)
    { return CCorvanString::FileExist(CCorvanString((wideFolder + name).c_str())); };
    Check(exists(L"index.html"), "an existing file");
    Check(exists(L"a b#%\u00e9\u65e5.html"), "a non-ASCII name");
    Check(!exists(L"missing.html"), "a missing file");
    Check(!exists(L"mongoose"), "a folder is no file");
    Check(!CCorvanString::FileExist(CCorvanString(L"")), "an empty path");

    fs::remove_all(folder);
}
} // namespace

int main()
{
    TestPathAndFileName();
    TestValueSemantics();
    TestFileExist();
    return CorvanTest::Summary();
}
