#pragma once
// A child test program run for one test: started with its arguments, waited
// for with a time limit, killed at the end if it is still running.

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace orvex::conntest {

class TChildProcess {
public:
    // Runs the program at Path, its name Name, with Args.
    TChildProcess(const char* Path, const char* Name, const std::vector<std::string>& Args)
    {
        FPid = ::fork();
        if (FPid == 0) {
            std::vector<char*> argv{const_cast<char*>(Name)};
            for (const std::string& arg : Args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(Path, argv.data());
            ::_exit(127);
        }
    }
    ~TChildProcess()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // The exit code, or -1 after the time allowed.
    int Wait(int Seconds)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t FPid = -1;
};

} // namespace orvex::conntest
