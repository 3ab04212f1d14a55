// The running executable's path on Windows and the branding key made from it, for the test program
// itself and for a renamed copy of it. Plain C++; ends with "N passed, M failed". Run with --print,
// it writes its path and key, one a line, and ends: that is how the copy reports back.

#include "WinTestSupport.h"
#include "platform/ExecutablePath.h"
#include "productidentity/ProductIdentity.h"

#include <sstream>
#include <string>

using namespace Corvan;
using namespace Corvan::WinTest;

namespace
{

const std::string PrintArgument = "--print";
const DWORD CopyRunTimeoutMs = 30000;

bool SameFileName(const std::string& a, const std::string& b)
{
    // Windows compares path names without regard to letter case.
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

void TestOwnPath()
{
    const std::string path = Platform::ExecutablePath();
    Check(!path.empty(), "own path is known");
    Check(FileExists(path), "own path names an existing file", path);
    const std::string fileName = path.substr(path.find_last_of("\\/") + 1);
    Check(SameFileName(fileName, "tst_executablepath_win.exe"), "own path ends with the program's file name", fileName);
    Check(SameFileName(path, OwnFolder() + fileName), "own path is the module's full path", path);
    CheckEqual(BrandingKeyFromPath(path), "tst_executablepath_win", "own branding key");
}

struct CopyReport
{
    bool ran = false;
    std::string path;
    std::string brandingKey;
};

// Copies the test program to `folder\fileName`, runs the copy with --print and reads what it says.
CopyReport RunRenamedCopy(const std::string& folder, const std::string& fileName)
{
    CopyReport report;
    const std::string copy = folder + "\\" + fileName;
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA(Platform::ExecutablePath().c_str(), copy.c_str(), FALSE))
    {
        Check(false, "copy the test program", copy);
        return report;
    }
    const std::string output = RunAndCapture(copy, PrintArgument, CopyRunTimeoutMs, report.ran);
    Check(report.ran, "renamed copy runs", copy);
    std::istringstream lines(output);
    for (std::string* line : {&report.path, &report.brandingKey})
    {
        std::getline(lines, *line);
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
    }
    DeleteFileA(copy.c_str());
    return report;
}

void TestRenamedCopy()
{
    // A blank, a second dot and capitals: the name is taken as it lies on disk.
    const std::string folder = OwnFolder() + "renamed copy";
    const std::string fileName = "Corvan Renamed.Copy.EXE";
    const CopyReport report = RunRenamedCopy(folder, fileName);
    if (!report.ran)
        return;
    Check(SameFileName(report.path, folder + "\\" + fileName), "renamed copy reports its own path",
          "got \"" + report.path + "\"");
    const std::string reportedName = report.path.substr(report.path.find_last_of("\\/") + 1);
    CheckEqual(reportedName, fileName, "renamed copy keeps the letter case of its file name");
    // Drive, backslashes and a blank in the folder; capitals and two dots in the name.
    CheckEqual(report.brandingKey, "corvan renamed.copy", "renamed copy's branding key");
    RemoveDirectoryA(folder.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1] == PrintArgument)
    {
        const std::string path = Platform::ExecutablePath();
        std::cout << path << "\n" << BrandingKeyFromPath(path) << "\n";
        return 0;
    }
    TestOwnPath();
    TestRenamedCopy();
    return Summary();
}
