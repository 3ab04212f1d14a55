#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Corvan
{
namespace Platform
{

// A program this process starts and watches, with standard input from the null device and standard
// output and error on pipes. On Linux it is started with posix_spawn, which does not copy the calling
// process as fork does: fork took 15-50 ms on a busy two-core machine, posix_spawn under one.
class CChildProcess
{
public:
    CChildProcess();
    // Ends the program if it still runs (see Kill).
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Sets `name` in the program's environment to `value`, or leaves it out when `value` is empty,
    // whatever this process's own environment holds; call before Start.
    void SetVariable(const std::string& name, const std::string& value) { m_variables.emplace_back(name, value); }
    // The program's standard input becomes a pipe whose other end only this object holds: however
    // this process ends (a crash or SIGKILL included), the program reads the end of its input. Call
    // before Start.
    void KeepInputOpen() { m_keepInputOpen = true; }

    // Starts `program` with `arguments` in `folder` (all UTF-8), in this process's environment with the
    // variables set. False, with the system's reason in `error` (in the local 8-bit encoding), when it
    // could not be started (missing, not executable, the folder gone). Once per object.
    bool Start(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
               std::string& error);

    // Waits up to `wait` for output or the program's end, and appends what it read to `output` and
    // `errors`. False once the program has ended and everything it wrote has been read.
    bool Read(std::string& output, std::string& errors, std::chrono::milliseconds wait);

    // From now on its output is read and dropped in the background, so the program never blocks on a
    // full pipe and nothing of it piles up here.
    void DiscardOutput();

    // Whether the program runs (false before Start, after a failed one and once it has ended).
    bool IsRunning();
    // How it ended; meaningful once IsRunning() is false after a start.
    bool Crashed() const;
    int ExitCode() const;
    // The system's id for it, 0 before a successful start.
    long long Id() const;

    // Ends the program at once and waits, bounded, until it is gone; one stuck past the bound is
    // reaped in the background instead of freezing the caller.
    void Kill();

private:
    struct SHandles;
    std::unique_ptr<SHandles> m_pHandles;
    std::vector<std::pair<std::string, std::string>> m_variables;
    bool m_keepInputOpen = false;
};

} // namespace Platform
} // namespace Corvan
