#pragma once
// What the commit and spill tests share: a child process of the commit
// tests driven through pipes, and an injector of file faults.

#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace orvex::committest {

// A vek_commit_child process, its standard input and output on pipes.
class TCommitChild {
public:
    explicit TCommitChild(const std::vector<std::string>& Args)
    {
        int toChild[2], fromChild[2];
        EXPECT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
        std::vector<char*> argv{const_cast<char*>(VEK_COMMIT_CHILD)};
        for (const std::string& arg : Args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            ::execv(VEK_COMMIT_CHILD, argv.data());
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        FIn = toChild[1];
        FOut = fromChild[0];
    }
    ~TCommitChild()
    {
        if (FPid > 0) {
            Write("quit\n");
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FIn);
        ::close(FOut);
    }

    std::string Send(const std::string& Command)
    {
        Write(Command + "\n");
        return Receive(60000);
    }
    // The next line, "<eof>" at the end, "<timeout>" after TimeoutMs.
    std::string Receive(int TimeoutMs)
    {
        for (;;) {
            const std::size_t end = FBuffered.find('\n');
            if (end != std::string::npos) {
                std::string line = FBuffered.substr(0, end);
                FBuffered.erase(0, end + 1);
                return line;
            }
            pollfd poll{FOut, POLLIN, 0};
            if (::poll(&poll, 1, TimeoutMs) <= 0)
                return "<timeout>";
            char chunk[4096];
            const ssize_t got = ::read(FOut, chunk, sizeof chunk);
            if (got <= 0)
                return "<eof>";
            FBuffered.append(chunk, static_cast<std::size_t>(got));
        }
    }
    // Every line written until the pipe closes.
    std::vector<std::string> Rest()
    {
        std::vector<std::string> lines;
        for (std::string line = Receive(10000); line != "<eof>" && line != "<timeout>"; line = Receive(10000))
            lines.push_back(line);
        return lines;
    }
    void Kill()
    {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

private:
    void Write(const std::string& Text) { (void)!::write(FIn, Text.data(), Text.size()); }

    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
    std::string FBuffered;
};

// Counts, or fails, the writes, truncations, flushes and deletes of
// everything but the lock file while it is armed.
class TFaultInjector {
public:
    enum class TMode { Count, FailOne, FailFrom };

    TFaultInjector()
    {
        SetFileFaultHook([this](TFileFaultPoint, const std::string& Path) {
            if (!FArmed || Path.ends_with(".lck"))
                return false;
            ++FSeen;
            switch (FMode) {
            case TMode::Count: return false;
            case TMode::FailOne: return FSeen == FTarget;
            case TMode::FailFrom: return FSeen >= FTarget;
            }
            return false;
        });
    }
    ~TFaultInjector() { SetFileFaultHook({}); }

    void Arm(TMode Mode, int Target = 0)
    {
        FMode = Mode;
        FTarget = Target;
        FSeen = 0;
        FArmed = true;
    }
    void Disarm() { FArmed = false; }
    int Seen() const { return FSeen; }

private:
    bool FArmed = false;
    TMode FMode = TMode::Count;
    int FTarget = 0;
    int FSeen = 0;
};

} // namespace orvex::committest
