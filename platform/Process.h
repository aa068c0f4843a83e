#pragma once
// Child programs: start one, wait for it to end or until a timeout, and tell
// why a start failed in Windows' terms.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

// Why a start failed, as the codes of the older Windows start routines.
inline constexpr std::uint32_t SE_ERR_OOM = 8;             // out of memory
inline constexpr std::uint32_t SE_ERR_FNF = 2;             // the program file is missing
inline constexpr std::uint32_t SE_ERR_PNF = 3;             // a folder of its path (or the start folder) is missing
inline constexpr std::uint32_t SE_ERR_ACCESSDENIED = 5;    // refused, or the file is busy being written
inline constexpr std::uint32_t SE_ERR_BAD_FORMAT = 11;     // not a program this system can run
inline constexpr std::uint32_t SE_ERR_NOASSOC = 31;        // a file that is no program

struct TProcessStart {
    std::string Program;                // native path of the program
    std::vector<std::string> Arguments; // without the program itself
    std::string Directory;              // native start folder; empty: ours
};

enum class TProcessWait { Exited, TimedOut, Failed };

class TChildProcess {
public:
    // Starts the program; nullptr on failure with the reason in error (one
    // of the codes above, or another Windows error code).
    static std::unique_ptr<TChildProcess> Start(const TProcessStart& start, std::uint32_t& error);
    // Releases the handle; a child still running goes on by itself.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Waits until the child ends or timeoutMs milliseconds pass (a negative
    // timeout waits for ever).
    TProcessWait WaitFor(int timeoutMs);
    bool Running();
    // The exit code once it ended: the status it passed to exit, or 128 plus
    // the signal that ended it.
    int ExitCode() const { return FExitCode; }
    int ProcessId() const { return FPid; }

private:
    explicit TChildProcess(int pid) : FPid(pid) {}
    bool Reap(bool block);
    int FPid;
    bool FExited = false;
    int FExitCode = 0;
};

// Splits a Windows command line into arguments as Windows programs do:
// blanks separate, double quotes group, a backslash escapes a quote only.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The native path of the running program.
std::string ProgramFileName();

// The id of the running process.
int CurrentProcessId();
// Whether a process of that id exists now (it may belong to another user).
// A process that ended but was not yet reaped by its parent still counts.
bool ProcessExists(int pid);

} // namespace orvex
