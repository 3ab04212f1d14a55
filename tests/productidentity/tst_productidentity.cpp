// Checks of the branding key, the row table and the process-wide record. Plain C++ with its own
// table-driven checks; ends with "N passed, M failed" and a non-zero exit code on any failure.

#include "platform/ExecutablePath.h"
#include "productidentity/ProductIdentity.h"
#include "productidentity/ProductRows.h"
#include "tests/support/Check.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <set>
#include <string>

using namespace Corvan;
namespace fs = std::filesystem;

namespace
{
using CorvanTest::Check;
using CorvanTest::CheckEqual;

std::string Text(const char* psz)
{
    return psz ? std::string(psz) : std::string("(null)");
}

void TestBrandingKeyFromPath()
{
    struct Case
    {
        const char* name;
        std::string path;
        std::string key;
    };
    const Case cases[] = {
        {"backslashes, upper-case extension", "C:\\Tools\\Foo.EXE", "foo"},
        {"slashes, only the last dot goes", "C:/Tools/My.Tool.exe", "my.tool"},
        {"mixed separators, last one counts", "C:\\Tools/sub\\Bar.exe", "bar"},
        {"dot in a folder, none in the name", "/opt/corvan.d/Corvan-HTML-Starter", "corvan-html-starter"},
        {"no separator at all", "CorvanStudio.exe", "corvanstudio"},
        {"only an extension", "C:\\Tools\\.exe", ""},
        {"hidden file on Linux", "/usr/bin/.corvanstudio", ""},
        {"trailing separator", "C:\\Tools\\", ""},
        {"empty path", "", ""},
        {"Latin-1 byte stays", "C:\\Tools\\\xC4Rger.exe", "\xC4rger"},
        {"UTF-8 bytes stay, ASCII lowers", "/opt/\xC3\x84TELIER.bin", "\xC3\x84telier"},
        {"digits and punctuation stay", "/x/Corvan_Print2-X64.exe", "corvan_print2-x64"},
        {"blank in the name", "C:\\Program Files\\Corvan Studio.exe", "corvan studio"},
    };
    for (const Case& c : cases)
        CheckEqual(BrandingKeyFromPath(c.path), c.key, std::string("key: ") + c.name);
}

void TestRowSelection()
{
    const std::string defaultTitle = "Corvan Atelier 9";
    struct Case
    {
        const char* name;
        std::string path;
        std::string title;
    };
    const Case cases[] = {
        {"default row's title", "/usr/bin/corvan-html-starter", defaultTitle},
        {"keyed row, exact", "C:\\Tools\\corvanstudio.exe", "Corvan Studio 7"},
        {"keyed row, mixed case", "C:\\Tools\\CorvanStudio.EXE", "Corvan Studio 7"},
        {"keyed row, all upper case", "/opt/CORVANREADER", "Corvan Reader 5"},
        {"keyed row with a digit", "C:/Corvan/CorvanPrint2.exe", "Corvan Print 2"},
        {"one byte more", "C:\\Tools\\corvanstudiox.exe", defaultTitle},
        {"one byte less", "C:\\Tools\\corvanstudi.exe", defaultTitle},
        {"key plus a second extension", "C:\\Tools\\corvanstudio.old.exe", defaultTitle},
        {"key as the extension", "C:\\Tools\\app.corvanstudio", defaultTitle},
        {"non-ASCII look-alike", "C:\\Tools\\corvan\xC5tudio.exe", defaultTitle},
        {"only an extension", "C:\\Tools\\.exe", defaultTitle},
        {"empty path", "", defaultTitle},
    };
    for (const Case& c : cases)
    {
        const ProductRow& row = SelectProductRow(BrandingKeyFromPath(c.path));
        CheckEqual(Text(row.pszProductTitle), c.title, std::string("row: ") + c.name);
    }
    // Every keyed row is reached by its own key and by nothing shorter.
    for (size_t i = 0; i < KeyedProductRowCount(); ++i)
    {
        const ProductRow& row = KeyedProductRows()[i];
        Check(&SelectProductRow(row.pszKey) == &row, std::string("row reached by its key ") + row.pszKey);
    }
}

bool IsKeyText(const std::string& key)
{
    if (key.empty())
        return false;
    for (char c : key)
    {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// Every address and e-mail of the table stays under the reserved .example domain.
bool IsReservedURL(const std::string& url)
{
    const std::string scheme = "https://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return false;
    const std::string host = url.substr(scheme.size(), url.find('/', scheme.size()) - scheme.size());
    const std::string tld = ".example";
    return host.size() > tld.size() && host.compare(host.size() - tld.size(), tld.size(), tld) == 0;
}

bool IsReservedEmail(const std::string& email)
{
    const size_t at = email.find('@');
    const std::string tld = ".example";
    return at != std::string::npos && at > 0 && email.size() > tld.size() &&
           email.compare(email.size() - tld.size(), tld.size(), tld) == 0;
}

void TestRowContents()
{
    std::set<std::string> keys;
    const ProductRow* keyed = KeyedProductRows();
    Check(KeyedProductRowCount() == 5, "five keyed rows");
    CheckEqual(Text(DefaultProductRow().pszProductTitle), "Corvan Atelier 9", "default title");
    Check(DefaultProductRow().nHelpEntryCount == 4, "default row has four help entries");

    for (size_t i = 0; i <= KeyedProductRowCount(); ++i)
    {
        const ProductRow& row = i < KeyedProductRowCount() ? keyed[i] : DefaultProductRow();
        const std::string name = i < KeyedProductRowCount() ? row.pszKey : "default";
        if (&row != &DefaultProductRow())
        {
            Check(IsKeyText(row.pszKey), name + ": key is lower-case ASCII letters and digits");
            Check(keys.insert(row.pszKey).second, name + ": key is unique");
        }
        const char* const texts[] = {
            row.pszVendorName,      row.pszHomePageURL,    row.pszProductTitle,      row.pszProductShortName,
            row.pszProductFullName, row.pszLogoSquarePath, row.pszLogoWidePath,      row.pszProgressAnimationPath,
            row.pszLogoGifPath,     row.pszLegalNotice,    row.pszSupportContact,    row.pszSupportEmail,
            row.pszBuyURL,          row.pszShowcaseURL,    row.pszTutorialsURL,      row.pszPdfAuthor,
            row.pszPdfTitle,        row.pszPdfSubject,     row.pszPdfKeywords,       row.pszPdfCreator,
            row.pszDocumentFilter,  row.pszArchiveFilter,  row.pszViewerDownloadURL, row.pszSplashImagePrefix};
        bool allSet = true;
        for (const char* text : texts)
            allSet = allSet && text != nullptr;
        Check(allSet, name + ": every text is set");
        if (!allSet)
            continue;

        const std::string title = row.pszProductTitle;
        const std::string expectedTitle =
            std::string(row.pszVendorName) + " " + row.pszProductShortName + " " + std::to_string(row.nMajorVersion);
        CheckEqual(title, expectedTitle, name + ": title is vendor, product and major version");
        for (const char* url :
             {row.pszHomePageURL, row.pszBuyURL, row.pszShowcaseURL, row.pszTutorialsURL, row.pszViewerDownloadURL})
            Check(IsReservedURL(url), name + ": reserved address", url);
        Check(IsReservedEmail(row.pszSupportEmail), name + ": reserved e-mail", row.pszSupportEmail);
        Check(std::string(row.pszSupportContact).find(std::string("(") + row.pszSupportEmail + ")") !=
                  std::string::npos,
              name + ": support contact ends with the e-mail in parentheses");
        Check(std::string(row.pszPdfAuthor).find(row.pszHomePageURL) != std::string::npos,
              name + ": PDF author names the home page");
        for (const char* path : {row.pszLogoSquarePath, row.pszLogoWidePath, row.pszProgressAnimationPath,
                                 row.pszLogoGifPath, row.pszSplashImagePrefix})
            Check(std::strncmp(path, ":/", 2) == 0, name + ": resource path", path);
        for (const char* filter : {row.pszDocumentFilter, row.pszArchiveFilter})
        {
            const std::string f = filter;
            Check(f.find(" (*.") != std::string::npos && f.back() == ')', name + ": file filter", f);
        }
        Check(row.nHelpEntryCount > 0 && row.pHelpEntries, name + ": has help entries");
        for (size_t h = 0; h < row.nHelpEntryCount && row.pHelpEntries; ++h)
        {
            const ProductHelpEntry& entry = row.pHelpEntries[h];
            Check(entry.pszTitle && *entry.pszTitle, name + ": help title");
            Check(entry.pszIconPath && std::strncmp(entry.pszIconPath, ":/", 2) == 0, name + ": help icon");
            Check(entry.pszURL && IsReservedURL(entry.pszURL), name + ": help address");
        }
        if (const ProductSplashOverlay* overlay = row.pSplashOverlay)
        {
            bool inRange = true;
            for (int32_t component : {overlay->nRed, overlay->nGreen, overlay->nBlue})
                inRange = inRange && component >= 0 && component <= 255;
            Check(inRange && overlay->nWidth > 0 && overlay->nHeight > 0, name + ": splash overlay");
        }
    }
}

// Runs a copy of this program under another name and returns what it wrote; empty when it failed.
std::string RunAs(const fs::path& dir, const std::string& fileName, const std::string& mode)
{
    fs::path copy = dir / fileName;
#ifdef _WIN32
    // Windows starts only files it takes for programs; the key drops the last extension anyway.
    if (!copy.has_extension())
        copy += ".exe";
#endif
    const fs::path out = dir / (fileName + ".out");
    std::error_code error;
    fs::copy_file(Platform::ExecutablePath(), copy, fs::copy_options::overwrite_existing, error);
    if (error)
        return "copy failed: " + error.message();
    std::string command = "\"" + copy.string() + "\" " + mode + " \"" + out.string() + "\"";
#ifdef _WIN32
    // cmd strips the outermost quotes of a command line that starts with one.
    command = "\"" + command + "\"";
#endif
    if (std::system(command.c_str()) != 0)
        return "run failed: " + command;
    std::ifstream in(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TestRecordFollowsTheExecutableName()
{
    std::error_code error;
    const fs::path dir = fs::temp_directory_path() / ("tst_productidentity-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir, error);
    Check(!error, "temporary folder", dir.string());
    if (error)
        return;

    struct Case
    {
        const char* fileName;
        const char* title;
    };
    const Case cases[] = {
        {"CorvanStudio.exe", "Corvan Studio 7"},     {"corvanprint2", "Corvan Print 2"},
        {"CORVANARCHIVE.old", "Corvan Archive 4"},   {"corvanarchive.old.bin", "Corvan Atelier 9"},
        {"corvan-html-starter", "Corvan Atelier 9"},
    };
    for (const Case& c : cases)
        CheckEqual(RunAs(dir, c.fileName, "--write-product-title"), c.title,
                   std::string("record of an executable named ") + c.fileName);

#ifndef _WIN32
    // An executable replaced on disk while it runs still reports the name it was started under.
    const std::string deletedReport = RunAs(dir, "corvanreader", "--delete-self-then-write-path");
    if (deletedReport != "cannot delete")
        CheckEqual(deletedReport, (dir / "corvanreader").string(), "path of a running executable deleted on disk");
    // ... and one whose name merely looks like that keeps its whole name.
    CheckEqual(RunAs(dir, "corvanreader (deleted)", "--write-path"), (dir / "corvanreader (deleted)").string(),
               "path of an executable named like a deleted one");
#endif

    fs::remove_all(dir, error);
}

void TestInstance()
{
    ProductIdentity* first = ProductIdentity::Instance();
    Check(first != nullptr, "Instance returns a record");
    Check(ProductIdentity::Instance() == first, "Instance returns the same record twice");
    // This program's own name matches no keyed row.
    CheckEqual(Text(first->GetProductTitle()), "Corvan Atelier 9", "record of the test program");

    const std::string path = Platform::ExecutablePath();
    CheckEqual(BrandingKeyFromPath(path), "tst_productidentity", "executable path names this program");
    Check(fs::path(path).is_absolute(), "executable path is absolute", path);
}

// The modes a renamed copy of this program runs in; each writes its answer to the given file.
int RunChildMode(const std::string& mode, const std::string& outPath)
{
    std::ofstream out(outPath, std::ios::binary);
    if (mode == "--write-product-title")
    {
        out << ProductIdentity::Instance()->GetProductTitle();
        return 0;
    }
    if (mode == "--write-path")
    {
        out << Platform::ExecutablePath();
        return 0;
    }
    if (mode == "--delete-self-then-write-path")
    {
        std::error_code error;
        if (!fs::remove(Platform::ExecutablePath(), error))
            out << "cannot delete";
        else
            out << Platform::ExecutablePath();
        return 0;
    }
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 3)
        return RunChildMode(argv[1], argv[2]);

    TestBrandingKeyFromPath();
    TestRowSelection();
    TestRowContents();
    TestInstance();
    TestRecordFollowsTheExecutableName();

    return CorvanTest::Summary();
}
