#include "platform/Process.h"

#include "platform/WinSystem.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

namespace orvex {

namespace {

// What went wrong in the child before exec, sent back through a pipe.
enum TStage : int { stDirectory = 1, stExec = 2 };

std::uint32_t StartError(const TProcessStart& start, int stage, int err)
{
    if (stage == stDirectory)
        return SE_ERR_PNF;
    struct stat st {};
    switch (err) {
    case ENOENT: {
        const auto slash = start.Program.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : start.Program.substr(0, slash + 1);
        return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? SE_ERR_FNF : SE_ERR_PNF;
    }
    case ENOTDIR: return SE_ERR_PNF;
    case EACCES:
        // A document rather than a program: a file nobody may execute.
        if (::stat(start.Program.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
            return SE_ERR_NOASSOC;
        return SE_ERR_ACCESSDENIED;
    case ENOEXEC: return SE_ERR_BAD_FORMAT;
    default: return WinErrorFromErrno(err);
    }
}

} // namespace

std::unique_ptr<TChildProcess> TChildProcess::Start(const TProcessStart& start, std::uint32_t& error)
{
    error = 0;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = WinErrorFromErrno(errno);
        return nullptr;
    }
    // Everything the child needs is prepared before fork.
    std::vector<std::string> args;
    args.push_back(start.Program);
    args.insert(args.end(), start.Arguments.begin(), start.Arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        error = WinErrorFromErrno(errno);
        ::close(report[0]);
        ::close(report[1]);
        return nullptr;
    }
    if (pid == 0) {
        int message[2] = {stExec, 0};
        if (!start.Directory.empty() && ::chdir(start.Directory.c_str()) != 0) {
            message[0] = stDirectory;
        } else {
            ::execv(start.Program.c_str(), argv.data());
        }
        message[1] = errno;
        [[maybe_unused]] const auto n = ::write(report[1], message, sizeof message);
        ::_exit(127);
    }
    ::close(report[1]);
    int message[2] = {0, 0};
    ssize_t got;
    do {
        got = ::read(report[0], message, sizeof message);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    std::unique_ptr<TChildProcess> child(new TChildProcess(pid));
    if (got == static_cast<ssize_t>(sizeof message)) {
        child->Reap(true);
        error = StartError(start, message[0], message[1]);
        return nullptr;
    }
    return child;
}

TChildProcess::~TChildProcess()
{
    if (!FExited)
        Reap(false);
}

bool TChildProcess::Reap(bool block)
{
    if (FExited)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(FPid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != FPid)
        return false;
    FExited = true;
    FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool TChildProcess::Running()
{
    return !Reap(false);
}

TProcessWait TChildProcess::WaitFor(int timeoutMs)
{
    if (timeoutMs < 0)
        return Reap(true) ? TProcessWait::Exited : TProcessWait::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (Reap(false))
            return TProcessWait::Exited;
        if (std::chrono::steady_clock::now() >= deadline)
            return TProcessWait::TimedOut;
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(20))
            pause *= 2;
    }
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    for (;;) {
        while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || (commandLine[i] != ' ' && commandLine[i] != '\t'))) {
            if (commandLine[i] == '\\') {
                std::size_t slashes = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (commandLine[i] == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += commandLine[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string ProgramFileName()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

int CurrentProcessId()
{
    return static_cast<int>(::getpid());
}

bool ProcessExists(int pid)
{
    if (pid <= 0)
        return false;
    // Signal 0 checks only; EPERM means the process exists under another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace orvex
