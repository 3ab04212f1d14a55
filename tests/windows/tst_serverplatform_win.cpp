// The server's Windows platform layer against a real file system: UTF-16 names in and UTF-8 out, only
// a file's own name finds it, files stay writable while they are sent, the folder watcher reports the
// changes live reload needs and nothing else, and the console's stop requests end the wait.
// Plain C++; ends with "N passed, M failed".

// Before windows.h, which WinTestSupport.h includes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "WinTestSupport.h"
#include "platform/FileSend.h"
#include "platform/FolderWatcher.h"
#include "platform/LoopbackPort.h"
#include "platform/ServedFiles.h"
#include "platform/ServedFolder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/read.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace Corvan;
using namespace Corvan::WinTest;
using ServedFiles::EOpenResult;

namespace
{

const std::wstring FolderName = L"my site \u00e4";               // my site ä
const std::wstring PageName = L"\u00dcn\u00efcode page #2.html"; // Ünïcode page #2.html
const std::string FolderUtf8 = "my site \xc3\xa4";
const std::string PageUtf8 = "\xc3\x9cn\xc3\xaf"
                             "code page #2.html";

std::string Utf8(const std::wstring& wide)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(size > 0 ? size - 1 : 0));
    return text;
}

bool WriteWide(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

// A fresh folder "my site ä" in the temporary folder, holding the page and a ".git" folder.
std::wstring MakeSite()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // Unique per run: wine hands out the same process ids again.
    const std::wstring base = std::wstring(temp) + L"corvan-serverplatform-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(base.c_str(), nullptr);
    const std::wstring site = base + L"\\" + FolderName;
    CreateDirectoryW(site.c_str(), nullptr);
    CreateDirectoryW((site + L"\\.git").c_str(), nullptr);
    WriteWide(site + L"\\" + PageName, "<p>page</p>");
    WriteWide(site + L"\\.git\\config", "secret");
    return site;
}

std::string Slashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void TestFiles(const std::wstring& site)
{
    const std::string root = Slashes(Utf8(site));
    Check(root.find(FolderUtf8) != std::string::npos, "the folder's name survives the conversion to UTF-8");

    ServedFiles::CReadOnlyFile page;
    Check(page.Open(root + "/" + PageUtf8) == EOpenResult::File, "a page named beyond ASCII opens");
    char buffer[32] = {};
    Check(page.Info().size == 11 && page.ReadAt(buffer, sizeof buffer, 0) == 11 && std::string(buffer) == "<p>page</p>",
          "its size and bytes are the file's");
    Check(page.ReadAt(buffer, sizeof buffer, 11) == 0, "a read at the end gives nothing");

    // A page being sent stays open: an editor must still be able to save it, or delete it.
    const std::wstring pagePath = site + L"\\" + PageName;
    Check(WriteWide(pagePath, "<p>saved</p>"), "an open page can be written");
    {
        const std::wstring doomed = site + L"\\doomed.html";
        ServedFiles::CReadOnlyFile open;
        Check(WriteWide(doomed, "x") && open.Open(root + "/doomed.html") == EOpenResult::File &&
                  DeleteFileW(doomed.c_str()),
              "an open page can be deleted");
    }

    ServedFiles::CReadOnlyFile folder;
    Check(folder.Open(root) == EOpenResult::Folder && folder.Open(root + "/.git/") == EOpenResult::Folder,
          "folders open as folders, with or without a trailing separator");
    ServedFiles::CReadOnlyFile missing;
    Check(missing.Open(root + "/missing.html") == EOpenResult::NotFound, "a missing file is not found");

    // Names Windows would also take, but which are not the file's own.
    std::vector<std::string> others = {PageUtf8 + ".", PageUtf8 + " ", PageUtf8 + "::$DATA", "CON", "NUL",
                                       "con.html",     "COM1"};
    wchar_t shortName[MAX_PATH] = {};
    if (GetShortPathNameW((site + L"\\.git").c_str(), shortName, MAX_PATH))
    {
        const std::wstring alias = std::wstring(shortName).substr(std::wstring(shortName).find_last_of(L'\\') + 1);
        if (alias != L".git")
            others.push_back(Utf8(alias) + "/config");
    }
    for (const std::string& name : others)
    {
        ServedFiles::CReadOnlyFile other;
        Check(other.Open(root + "/" + name) == EOpenResult::NotFound, "not found by another name", name);
    }

    std::vector<ServedFiles::CFolderEntry> entries;
    Check(ServedFiles::ListFolder(root + "/", entries), "the folder lists");
    std::set<std::string> names;
    for (const auto& entry : entries)
        names.insert(entry.name + (entry.isFolder ? "/" : ""));
    std::string listed;
    for (const std::string& name : names)
        listed += name + " | ";
    Check(names == std::set<std::string>{PageUtf8, ".git/"}, "the listing holds the page and the folder in UTF-8",
          listed);

    std::string error;
    Check(!ServedFolder::CanServe(root + "/missing", error) && !error.empty(),
          "a missing folder cannot be served, with a reason");
    Check(ServedFolder::CanServe(root, error), "the site can be served", error);

    // The working folder comes back in UTF-8 with '/' separators; then it is let go of, so that the
    // served folder can be renamed or removed while the server runs.
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    SetCurrentDirectoryW(site.c_str());
    std::string current;
    Check(ServedFolder::Current(current, error) && current == root, "the current folder", current);
    ServedFolder::ReleaseWorkingDirectory();
    Check(ServedFolder::Current(current, error) && current.find(FolderUtf8) == std::string::npos,
          "the served folder is no longer the working folder", current);
    SetCurrentDirectoryW(before);
}

void TestPortCheck()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    LoopbackPort::PrepareListener(holder);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(holder, 1);
    int length = sizeof address;
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    std::string error;
    Check(LoopbackPort::Check(port, error) == LoopbackPort::EState::InUse, "a held port is in use", error);
    // Held for the server's exclusive use: even a program that asks to share addresses cannot bind it.
    const SOCKET intruder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const BOOL on = TRUE;
    setsockopt(intruder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    Check(bind(intruder, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0, "the held port is not shared");
    closesocket(intruder);
    closesocket(holder);
    Check(LoopbackPort::Check(port, error) == LoopbackPort::EState::Free, "a released port is free", error);
    WSACleanup();
}

// A head and part of a file as FileSend sends them on a loopback connection, in pieces and through
// TransmitFile (forced here: wine, like a client edition of Windows, would get the pieces), whole
// and past a file's end, which leaves an exact prefix.
void TestFileSend(const std::wstring& site)
{
    namespace net = boost::asio;
    std::string content(700 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 7919) >> 3);
    WriteWide(site + L"\\sent.bin", content);
    ServedFiles::CReadOnlyFile file;
    Check(file.Open(Slashes(Utf8(site)) + "/sent.bin") == EOpenResult::File, "the file to send opens");
    for (const char* pTransmit : {"0", "1"})
    {
        _putenv_s("CORVAN_TEST_TRANSMIT_FILE", pTransmit);
        for (const std::int64_t length : {std::int64_t(500001), std::int64_t(content.size())})
        {
            net::io_context loop;
            net::ip::tcp::acceptor acceptor(loop, {net::ip::address_v4::loopback(), 0});
            net::ip::tcp::socket client(loop);
            client.connect(acceptor.local_endpoint());
            net::ip::tcp::socket server = acceptor.accept();
            boost::system::error_code result = net::error::would_block, ignored;
            FileSend::AsyncSend(server, "head\n", file, 100000, length, std::chrono::seconds(5),
                                [&](const boost::system::error_code& error)
                                {
                                    result = error;
                                    server.shutdown(net::socket_base::shutdown_send, ignored);
                                });
            std::string received;
            net::async_read(client, net::dynamic_buffer(received),
                            [](const boost::system::error_code&, std::size_t) {});
            loop.run_for(std::chrono::seconds(20));
            const bool whole = length == 500001;
            Check(result == (whole ? boost::system::error_code() : net::error::eof),
                  std::string("TransmitFile ") + pTransmit + ": the send ends as the file does", result.message());
            Check(received == "head\n" + content.substr(100000, whole ? length : std::string::npos),
                  std::string("TransmitFile ") + pTransmit + ": the head, then exactly the file's bytes",
                  std::to_string(received.size()) + " bytes");
        }
    }
}

// What a watcher reported, for a test to wait on with a bounded wait.
struct CReports
{
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    int rootGone = 0;
    std::vector<std::string> paths;
    std::vector<std::string> closed; // paths told complete
    std::vector<std::string> failures;

    template <typename Predicate>
    bool WaitFor(Predicate predicate)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return predicate(); });
    }
    bool Has(const std::string& path) { return std::find(paths.begin(), paths.end(), path) != paths.end(); }
};

void StartWatcher(CFolderWatcher& watcher, const std::wstring& site, CReports& reports,
                  CFolderWatcher::CLimits limits = {})
{
    watcher.Start(
        Slashes(Utf8(site)), limits,
        [&](const std::string&)
        {
            std::lock_guard<std::mutex> lock(reports.mutex);
            reports.ready = true;
            reports.changed.notify_all();
        },
        [&](const std::string& path, CFolderWatcher::EChange change)
        {
            std::lock_guard<std::mutex> lock(reports.mutex);
            reports.paths.push_back(path);
            if (change == CFolderWatcher::EChange::Closed)
                reports.closed.push_back(path);
            reports.changed.notify_all();
        },
        [&]
        {
            std::lock_guard<std::mutex> lock(reports.mutex);
            ++reports.rootGone;
            reports.changed.notify_all();
        },
        [&](const std::string& reason)
        {
            std::lock_guard<std::mutex> lock(reports.mutex);
            reports.failures.push_back(reason);
            reports.changed.notify_all();
        });
}

void TestWatcher(const std::wstring& site)
{
    CReports reports;
    CFolderWatcher watcher;
    StartWatcher(watcher, site, reports);
    Check(reports.WaitFor([&] { return reports.ready || !reports.failures.empty(); }) && reports.ready,
          "the watcher gets ready");

    // Ignored first: if they were reported, they would come before the marks below.
    WriteWide(site + L"\\.git\\index", "x");
    WriteWide(site + L"\\page.html.swp", "x");
    WriteWide(site + L"\\notes~", "x");
    WriteWide(site + L"\\" + PageName, "<p>saved again</p>");
    Check(reports.WaitFor([&] { return reports.Has(PageUtf8); }), "a saved page is reported by its UTF-8 name");
    Check(reports.WaitFor([&] { return !reports.closed.empty() && reports.closed.back() == PageUtf8; }),
          "a saved page is reported complete once it stops changing");
    CreateDirectoryW((site + L"\\sub " + FolderName).c_str(), nullptr);
    WriteWide(site + L"\\sub " + FolderName + L"\\deep.css", "p{}");
    const std::string deep = "sub " + FolderUtf8 + "/deep.css";
    Check(reports.WaitFor([&] { return reports.Has(deep); }), "a file in a new folder is reported with '/'", deep);
    {
        std::lock_guard<std::mutex> lock(reports.mutex);
        for (const std::string& path : reports.paths)
        {
            Check(path.find(".git") == std::string::npos && path.find(".swp") == std::string::npos &&
                      path.find('~') == std::string::npos,
                  "ignored names are never reported", path);
        }
        Check(reports.failures.empty(), "no failure while watching");
    }

    // Stop ends the read in progress and joins the thread, which no callback outlives.
    const auto stopStarted = std::chrono::steady_clock::now();
    watcher.Stop();
    Check(std::chrono::steady_clock::now() - stopStarted < std::chrono::seconds(2), "the watcher stops at once");
}

// Build tools replace their output folder: the watcher follows the root's path, says when the
// folder there goes, and reports everything changed when one is back.
void TestWatcherFollowsRootPath(const std::wstring& site)
{
    const std::wstring out = site + L"\\dist \u00e4";
    CreateDirectoryW(out.c_str(), nullptr);
    WriteWide(out + L"\\index.html", "1");
    CReports reports;
    CFolderWatcher watcher;
    StartWatcher(watcher, out, reports);
    Check(reports.WaitFor([&] { return reports.ready; }), "the watcher of the output folder gets ready");

    const std::wstring away = site + L"\\old dist";
    Check(MoveFileW(out.c_str(), away.c_str()) != 0, "the watched folder can be renamed away");
    Check(reports.WaitFor([&] { return reports.rootGone == 1; }), "a root renamed away is reported gone");
    {
        std::lock_guard<std::mutex> lock(reports.mutex);
        reports.paths.clear(); // what came with the rename
    }
    WriteWide(away + L"\\index.html", "old");
    CreateDirectoryW(out.c_str(), nullptr);
    WriteWide(out + L"\\index.html", "2");
    Check(reports.WaitFor([&] { return reports.Has(std::string()); }),
          "a new folder at the root's path is reported as a change of everything");
    WriteWide(out + L"\\app.js", "3");
    Check(reports.WaitFor([&] { return reports.Has("app.js"); }), "the new folder is watched");
    watcher.Stop();
    Check(reports.failures.empty(), "no failure while the root comes and goes");
}

void TestWatcherLimit(const std::wstring& site)
{
    CReports reports;
    CFolderWatcher watcher;
    CFolderWatcher::CLimits limits;
    limits.maxEntries = 2;
    StartWatcher(watcher, site, reports, limits);
    Check(reports.WaitFor([&] { return reports.ready || !reports.failures.empty(); }) && !reports.ready &&
              reports.failures.size() == 1 && reports.failures.front() == "the folder holds 2 files or more",
          "a folder over the limit is given up with one reason",
          reports.failures.empty() ? std::string() : reports.failures.front());
    watcher.Stop();
}

void TestStopRequests()
{
    for (const DWORD event : {DWORD(CTRL_BREAK_EVENT), DWORD(CTRL_C_EVENT)})
    {
        const std::string name = event == CTRL_BREAK_EVENT ? "Ctrl+Break" : "Ctrl+C";
        // wine's console delivers Ctrl+C only; the handler treats every event alike.
        if (event == CTRL_BREAK_EVENT && RunningUnderWine())
        {
            std::cout << "SKIP: wine cannot send Ctrl+Break" << std::endl;
            continue;
        }
        // The helper gets a console of its own; this program joins it to send the event to every
        // process on it, itself ignoring the event meanwhile.
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION info = {};
        std::string program = OwnFolder() + "stop_helper.exe";
        std::string commandLine = "\"" + program + "\"";
        // Ctrl+Break goes to the helper's own process group; Ctrl+C to everyone on the console (a new
        // group would start with Ctrl+C switched off).
        const DWORD group = event == CTRL_BREAK_EVENT ? CREATE_NEW_PROCESS_GROUP : 0;
        if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE | group,
                            nullptr, nullptr, &startup, &info))
        {
            Check(false, "the stop helper starts");
            continue;
        }
        FreeConsole();
        bool attached = false;
        for (int attempt = 0; attempt < 50 && !attached; ++attempt)
        {
            attached = AttachConsole(info.dwProcessId);
            if (!attached)
                Sleep(100); // the helper's console comes up
        }
        SetConsoleCtrlHandler(nullptr, TRUE);
        bool stopped = false;
        for (int attempt = 0; attached && attempt < 50 && !stopped; ++attempt)
        {
            // Repeated until it ends: an event sent before the helper has its handler is lost.
            GenerateConsoleCtrlEvent(event, group ? info.dwProcessId : 0);
            stopped = WaitForSingleObject(info.hProcess, 100) == WAIT_OBJECT_0;
        }
        FreeConsole();
        SetConsoleCtrlHandler(nullptr, FALSE);
        if (!stopped)
            TerminateProcess(info.hProcess, 9);
        WaitForSingleObject(info.hProcess, 5000);
        DWORD exitCode = 1;
        GetExitCodeProcess(info.hProcess, &exitCode);
        Check(attached, name + ": this test joins the helper's console");
        Check(stopped && exitCode == 42, name + " ends the wait and the program goes on to its end",
              "exit code " + std::to_string(exitCode));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
}

} // namespace

int main()
{
    const std::wstring site = MakeSite();
    TestFiles(site);
    TestPortCheck();
    TestFileSend(site);
    TestWatcher(site);
    TestWatcherFollowsRootPath(site);
    TestWatcherLimit(site);
    TestStopRequests();
    return Summary();
}
