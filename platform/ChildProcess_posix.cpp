#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Corvan
{
namespace Platform
{

struct CChildProcess::SHandles
{
    pid_t pid = 0;
    bool reaped = false;
    int status = 0;
    // The read ends of the pipes; -1 once at their end or handed to the discarding thread.
    int output = -1;
    int errors = -1;
    int input = -1; // the write end of the program's input, when kept open
};

namespace
{
using Clock = std::chrono::steady_clock;

// A killed program is gone within milliseconds; the bound only keeps a stuck one from freezing the window.
constexpr std::chrono::milliseconds KillWait(2000);

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Reads what `fd` holds now into `into` (or drops it when `into` is null); closes it at its end.
void ReadSome(int& fd, std::string* into)
{
    char buffer[4096];
    const ssize_t length = read(fd, buffer, sizeof(buffer));
    if (length > 0 && into)
        into->append(buffer, static_cast<std::size_t>(length));
    else if (length == 0 || (length < 0 && errno != EINTR && errno != EAGAIN))
        CloseFd(fd);
}

int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// True once the program has ended and been reaped, now or before.
bool Reap(pid_t pid, bool& reaped, int& status)
{
    if (reaped)
        return true;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    // ECHILD: reaped by someone else (or children are not kept); it has ended all the same.
    if (result == pid || (result < 0 && errno == ECHILD))
        reaped = true;
    return reaped;
}

// The program starts as one started from a desktop would, as the toolkit's own process start did:
// default signal handling (the toolkit ignores SIGPIPE in this process) and no signals blocked.
void InitAttributes(posix_spawnattr_t& attributes)
{
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// This process's environment with `variables` set, or left out where their value is empty.
std::vector<std::string> Environment(const std::vector<std::pair<std::string, std::string>>& variables)
{
    std::vector<std::string> entries;
    for (char** pEntry = environ; *pEntry; ++pEntry)
    {
        const std::string_view entry(*pEntry);
        if (std::none_of(variables.begin(), variables.end(),
                         [entry](const auto& variable)
                         {
                             const std::string& name = variable.first;
                             return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
                                    entry[name.size()] == '=';
                         }))
            entries.emplace_back(entry);
    }
    for (const auto& [name, value] : variables)
    {
        if (!value.empty())
            entries.push_back(name + "=" + value);
    }
    return entries;
}

// The null-terminated list of `words` that exec takes; valid while `words` is.
std::vector<char*> Pointers(std::vector<std::string>& words)
{
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(&word[0]);
    pointers.push_back(nullptr);
    return pointers;
}
// Makes the pipes that are asked for (a null one is left out), close-on-exec at both ends, so that no
// other program this process starts holds one open; on failure none stays open.
bool OpenPipes(std::initializer_list<int*> pipes, std::string& error)
{
    for (int* pPipe : pipes)
    {
        if (pPipe && pipe2(pPipe, O_CLOEXEC) != 0)
        {
            error = std::strerror(errno);
            for (int* pMade : pipes)
            {
                if (pMade)
                {
                    CloseFd(pMade[0]);
                    CloseFd(pMade[1]);
                }
            }
            return false;
        }
    }
    return true;
}
} // namespace

CChildProcess::CChildProcess() : m_pHandles(new SHandles) {}

CChildProcess::~CChildProcess()
{
    Kill();
    CloseFd(m_pHandles->output);
    CloseFd(m_pHandles->errors);
    CloseFd(m_pHandles->input);
}

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& folder, std::string& error)
{
    int outputPipe[2] = {-1, -1};
    int errorPipe[2] = {-1, -1};
    int inputPipe[2] = {-1, -1};
    if (!OpenPipes({outputPipe, errorPipe, m_keepInputOpen ? inputPipe : nullptr}, error))
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (m_keepInputOpen)
        posix_spawn_file_actions_adddup2(&actions, inputPipe[0], STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    InitAttributes(attributes);

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = Environment(m_variables);
    pid_t pid = 0;
    const int result =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, Pointers(words).data(), Pointers(environment).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(outputPipe[1]);
    close(errorPipe[1]);
    CloseFd(inputPipe[0]);
    if (result != 0)
    {
        close(outputPipe[0]);
        close(errorPipe[0]);
        CloseFd(inputPipe[1]);
        error = std::strerror(result);
        return false;
    }
    m_pHandles->input = inputPipe[1];
    m_pHandles->pid = pid;
    m_pHandles->output = outputPipe[0];
    m_pHandles->errors = errorPipe[0];
    return true;
}

bool CChildProcess::Read(std::string& output, std::string& errors, std::chrono::milliseconds wait)
{
    SHandles& handles = *m_pHandles;
    const Clock::time_point deadline = Clock::now() + wait;
    if (handles.output < 0 && handles.errors < 0)
    {
        // Its output is closed, so it is ending, or it closed its output and runs on: wait for its end.
        while (!Reap(handles.pid, handles.reaped, handles.status) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return !handles.reaped;
    }
    pollfd ends[2] = {{handles.output, POLLIN, 0}, {handles.errors, POLLIN, 0}};
    if (poll(ends, 2, MillisecondsUntil(deadline)) > 0)
    {
        if (ends[0].revents)
            ReadSome(handles.output, &output);
        if (ends[1].revents)
            ReadSome(handles.errors, &errors);
    }
    return true;
}

void CChildProcess::DiscardOutput()
{
    int ends[2] = {m_pHandles->output, m_pHandles->errors};
    m_pHandles->output = -1;
    m_pHandles->errors = -1;
    // The thread owns the pipes and ends with them, once the program is gone.
    std::thread(
        [ends]() mutable
        {
            while (ends[0] >= 0 || ends[1] >= 0)
            {
                pollfd ready[2] = {{ends[0], POLLIN, 0}, {ends[1], POLLIN, 0}};
                if (poll(ready, 2, -1) < 0 && errno != EINTR)
                    break;
                for (int i = 0; i < 2; ++i)
                {
                    if (ready[i].fd >= 0 && ready[i].revents)
                        ReadSome(ends[i], nullptr);
                }
            }
            CloseFd(ends[0]);
            CloseFd(ends[1]);
        })
        .detach();
}

bool CChildProcess::IsRunning()
{
    return m_pHandles->pid > 0 && !Reap(m_pHandles->pid, m_pHandles->reaped, m_pHandles->status);
}

bool CChildProcess::Crashed() const
{
    return m_pHandles->reaped && WIFSIGNALED(m_pHandles->status);
}

int CChildProcess::ExitCode() const
{
    return m_pHandles->reaped && WIFEXITED(m_pHandles->status) ? WEXITSTATUS(m_pHandles->status) : 0;
}

long long CChildProcess::Id() const
{
    return m_pHandles->pid;
}

void CChildProcess::Kill()
{
    SHandles& handles = *m_pHandles;
    if (handles.pid <= 0 || handles.reaped)
        return;
    // Not yet reaped, so the id is still this program's, even if it has ended.
    kill(handles.pid, SIGKILL);
    const Clock::time_point deadline = Clock::now() + KillWait;
    while (!Reap(handles.pid, handles.reaped, handles.status))
    {
        if (Clock::now() >= deadline)
        {
            const pid_t pid = handles.pid;
            std::thread(
                [pid]
                {
                    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
                    {
                    }
                })
                .detach();
            handles.reaped = true;
            handles.status = SIGKILL; // as WIFSIGNALED reads it
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace Platform
} // namespace Corvan
