#include "platform/ChildProcess.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <thread>

namespace Corvan
{
namespace Platform
{

struct CChildProcess::SHandles
{
    PROCESS_INFORMATION process{};
    bool ended = false;
    DWORD exitCode = 0;
    // The read ends of the pipes; null once at their end or handed to the discarding threads.
    HANDLE output = nullptr;
    HANDLE errors = nullptr;
    HANDLE input = nullptr; // the write end of the program's input, when kept open
};

namespace
{
// What TerminateProcess leaves as the exit code, read back as "crashed" like the toolkit's own.
constexpr UINT KilledExitCode = 0xf291;
constexpr DWORD KillWaitMs = 2000;

void CloseIfOpen(HANDLE& handle)
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

std::string SystemMessage(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof(text), nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

// One word of a command line as the C runtime splits it again: in quotes, with the backslashes before
// a quote (and before the closing one) doubled.
std::wstring Quoted(const std::wstring& word)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word)
    {
        if (c == L'\\')
        {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// A variable's name in an environment block's entry ("NAME=value"; a hidden "=C:=C:\Work" keeps its
// first '=').
std::wstring_view NameOf(std::wstring_view entry)
{
    return entry.substr(0, entry.find(L'=', 1));
}

// This process's environment block with `variables` set, or left out where their value is empty,
// sorted by name without regard to case, as Windows keeps it.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& variables)
{
    std::vector<std::wstring> entries;
    if (wchar_t* pBlock = GetEnvironmentStringsW())
    {
        for (const wchar_t* pEntry = pBlock; *pEntry; pEntry += wcslen(pEntry) + 1)
            entries.emplace_back(pEntry);
        FreeEnvironmentStringsW(pBlock);
    }
    for (const auto& [name, value] : variables)
    {
        const std::wstring wideName = Wide(name);
        const auto same = [&wideName](const std::wstring& entry)
        {
            const std::wstring_view entryName = NameOf(entry);
            return CompareStringOrdinal(entryName.data(), static_cast<int>(entryName.size()), wideName.data(),
                                        static_cast<int>(wideName.size()), TRUE) == CSTR_EQUAL;
        };
        entries.erase(std::remove_if(entries.begin(), entries.end(), same), entries.end());
        if (!value.empty())
            entries.push_back(wideName + L"=" + Wide(value));
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::wstring& a, const std::wstring& b)
              {
                  const std::wstring_view nameA = NameOf(a), nameB = NameOf(b);
                  return CompareStringOrdinal(nameA.data(), static_cast<int>(nameA.size()), nameB.data(),
                                              static_cast<int>(nameB.size()), TRUE) == CSTR_LESS_THAN;
              });
    std::wstring block;
    for (const std::wstring& entry : entries)
        block.append(entry).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// Starts the program with exactly the three standard handles `inherited` (input, output, error), listed
// explicitly, so no other handle this process holds leaks into it.
BOOL CreateWithHandles(const std::wstring& program, std::wstring commandLine, const std::wstring& folder,
                       std::wstring environment, HANDLE (&inherited)[3], PROCESS_INFORMATION& process)
{
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::string listBuffer(listSize, '\0');
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&listBuffer[0]);
    InitializeProcThreadAttributeList(list, 1, 0, &listSize);
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited), nullptr,
                              nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inherited[0];
    startup.StartupInfo.hStdOutput = inherited[1];
    startup.StartupInfo.hStdError = inherited[2];
    startup.lpAttributeList = list;
    // No console window of its own: the tool is a windowed program.
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                                        &environment[0], folder.c_str(), &startup.StartupInfo, &process);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(list);
    SetLastError(error);
    return started;
}

// Reads what `pipe` holds now into `into` (or drops it when `into` is null); closes it at its end.
void ReadSome(HANDLE& pipe, std::string* into)
{
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
    {
        CloseIfOpen(pipe);
        return;
    }
    char buffer[4096];
    DWORD length = 0;
    if (available > 0 &&
        ReadFile(pipe, buffer, sizeof(buffer) < available ? sizeof(buffer) : available, &length, nullptr) && into)
        into->append(buffer, length);
}

void DrainInBackground(HANDLE pipe)
{
    std::thread(
        [pipe]
        {
            char buffer[4096];
            DWORD length = 0;
            while (ReadFile(pipe, buffer, sizeof(buffer), &length, nullptr))
            {
            }
            CloseHandle(pipe);
        })
        .detach();
}

// True once the program has ended (waiting up to `waitMs`), with its exit code noted.
bool NoteEnd(PROCESS_INFORMATION& process, bool& ended, DWORD& exitCode, DWORD waitMs)
{
    if (!ended && process.hProcess && WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0)
    {
        GetExitCodeProcess(process.hProcess, &exitCode);
        ended = true;
    }
    return ended;
}
} // namespace

CChildProcess::CChildProcess() : m_pHandles(new SHandles) {}

CChildProcess::~CChildProcess()
{
    Kill();
    CloseIfOpen(m_pHandles->output);
    CloseIfOpen(m_pHandles->errors);
    CloseIfOpen(m_pHandles->input);
    CloseIfOpen(m_pHandles->process.hProcess);
    CloseIfOpen(m_pHandles->process.hThread);
}

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& folder, std::string& error)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outputRead = nullptr, outputWrite = nullptr, errorRead = nullptr, errorWrite = nullptr;
    HANDLE input = nullptr, inputWrite = nullptr;
    if (m_keepInputOpen)
    {
        if (!CreatePipe(&input, &inputWrite, &inheritable, 0))
            input = INVALID_HANDLE_VALUE;
    }
    else
    {
        input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                            nullptr);
    }
    if (input == INVALID_HANDLE_VALUE || !CreatePipe(&outputRead, &outputWrite, &inheritable, 0) ||
        !CreatePipe(&errorRead, &errorWrite, &inheritable, 0))
    {
        error = SystemMessage(GetLastError());
        for (HANDLE handle : {input, inputWrite, outputRead, outputWrite, errorRead, errorWrite})
            if (handle && handle != INVALID_HANDLE_VALUE)
                CloseHandle(handle);
        return false;
    }
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
    if (inputWrite)
        SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);

    HANDLE inherited[] = {input, outputWrite, errorWrite};
    std::wstring commandLine = Quoted(Wide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + Quoted(Wide(argument));
    const BOOL started = CreateWithHandles(Wide(program), commandLine, Wide(folder), EnvironmentBlock(m_variables),
                                           inherited, m_pHandles->process);
    const DWORD startError = GetLastError();
    for (HANDLE handle : inherited)
        CloseHandle(handle);
    if (!started)
    {
        CloseHandle(outputRead);
        CloseHandle(errorRead);
        CloseIfOpen(inputWrite);
        m_pHandles->process = PROCESS_INFORMATION{};
        error = SystemMessage(startError);
        return false;
    }
    m_pHandles->output = outputRead;
    m_pHandles->errors = errorRead;
    m_pHandles->input = inputWrite;
    return true;
}

bool CChildProcess::Read(std::string& output, std::string& errors, std::chrono::milliseconds wait)
{
    // Anonymous pipes cannot be waited on, so they are looked at every millisecond.
    SHandles& handles = *m_pHandles;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;)
    {
        const std::size_t before = output.size() + errors.size();
        if (handles.output)
            ReadSome(handles.output, &output);
        if (handles.errors)
            ReadSome(handles.errors, &errors);
        if (!handles.output && !handles.errors && NoteEnd(handles.process, handles.ended, handles.exitCode, 0))
            return false;
        if (output.size() + errors.size() > before || std::chrono::steady_clock::now() >= deadline)
            return true;
        Sleep(1);
    }
}

void CChildProcess::DiscardOutput()
{
    for (HANDLE* pipe : {&m_pHandles->output, &m_pHandles->errors})
    {
        if (*pipe)
            DrainInBackground(*pipe);
        *pipe = nullptr;
    }
}

bool CChildProcess::IsRunning()
{
    SHandles& handles = *m_pHandles;
    return handles.process.hProcess && !NoteEnd(handles.process, handles.ended, handles.exitCode, 0);
}

bool CChildProcess::Crashed() const
{
    const DWORD code = m_pHandles->exitCode;
    return m_pHandles->ended && (code == KilledExitCode || (code >= 0x80000000 && code < 0xD0000000));
}

int CChildProcess::ExitCode() const
{
    return m_pHandles->ended ? static_cast<int>(m_pHandles->exitCode) : 0;
}

long long CChildProcess::Id() const
{
    return m_pHandles->process.dwProcessId;
}

void CChildProcess::Kill()
{
    SHandles& handles = *m_pHandles;
    if (!handles.process.hProcess || handles.ended)
        return;
    TerminateProcess(handles.process.hProcess, KilledExitCode);
    // The handle keeps its exit code readable however late the end comes; nothing is left to reap.
    if (!NoteEnd(handles.process, handles.ended, handles.exitCode, KillWaitMs))
    {
        handles.ended = true;
        handles.exitCode = KilledExitCode;
    }
}

} // namespace Platform
} // namespace Corvan
