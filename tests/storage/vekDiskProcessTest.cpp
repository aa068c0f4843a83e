// Two processes allocating, writing and releasing pages of one database file
// at the same time, each under the header and transaction locks: the pages
// they end up holding never overlap, hold what each wrote, and the map agrees.

#include "vekDiskTestUtil.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>

namespace orvex {
namespace {

using disktest::CreateDatabase;
using disktest::OpenDatabase;
using disktest::Pattern;

// A child program with its standard input and output on pipes.
class TChildProcess {
public:
    explicit TChildProcess(const std::vector<std::string>& Args)
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            throw std::runtime_error("pipe");
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> argv;
            for (const auto& arg : Args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(VEK_DISK_CHILD, argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        FIn = in[1];
        FOut = out[0];
    }
    ~TChildProcess()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            Wait();
        }
        ::close(FIn);
        ::close(FOut);
    }
    void Go() { (void)!::write(FIn, "go\n", 3); }
    // Everything the child writes, until it ends.
    std::string Output()
    {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(FOut, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
    int Wait()
    {
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
};

TEST(DiskProcesses, TwoProcessesAllocatingAtOnceNeverOverlap)
{
    constexpr Integer PageSize = 512;
    disktest::TTempDir dir;
    const std::string path = dir.File("busy.vek");
    CreateDatabase(path, PageSize);

    const struct {
        Integer Table;
        Cardinal Flags;
    } children[] = {{11, VekAccessPaged | VekAccessXOR}, {12, VekAccessPaged | VekAccessBlowfish}};
    std::vector<std::unique_ptr<TChildProcess>> processes;
    for (const auto& child : children)
        processes.push_back(std::make_unique<TChildProcess>(std::vector<std::string>{
            "vek_disk_child", path, std::to_string(PageSize), std::to_string(child.Table),
            std::to_string(child.Flags), "1500", std::to_string(child.Table * 7)}));
    for (auto& process : processes)
        process->Go();

    std::map<Cardinal, std::pair<Integer, Cardinal>> held; // address -> table, tag
    for (std::size_t i = 0; i < processes.size(); ++i) {
        const std::string output = processes[i]->Output();
        ASSERT_EQ(processes[i]->Wait(), 0) << output;
        ASSERT_NE(output.find("done"), std::string::npos) << output;
        std::istringstream lines(output);
        std::string word;
        Cardinal address, tag;
        while (lines >> word && word == "page" && lines >> address >> tag) {
            const bool fresh = held.emplace(address, std::make_pair(children[i].Table, tag)).second;
            EXPECT_TRUE(fresh) << "page " << address << " is held by both processes";
        }
    }

    auto disk = OpenDatabase(path, PageSize);
    disk->SetCryptKey("shared key");
    TStringList problems;
    disk->SetDebugStrings(&problems);
    EXPECT_TRUE(disk->DebugCheckContents()) << problems.Text();
    std::vector<Byte> page(PageSize);
    for (const auto& [address, owner] : held) {
        const Cardinal flags = owner.first == 11 ? children[0].Flags : children[1].Flags;
        disk->ReadPages(address, 1, owner.first, flags, page.data());
        EXPECT_EQ(page, Pattern(PageSize, owner.second)) << "page " << address;
    }
    // The map gives each table exactly the pages its process holds.
    for (const auto& child : children) {
        disk->SetHeaderReadLock();
        std::vector<Cardinal> pages;
        disk->MapPageMgr()->ListPagesUsedByOwner(child.Table, 9, pages, true);
        disk->ReleaseHeaderLock();
        std::size_t expected = 0;
        for (const auto& [address, owner] : held)
            if (owner.first == child.Table) {
                ++expected;
                EXPECT_NE(std::find(pages.begin(), pages.end(), address), pages.end()) << address;
            }
        EXPECT_EQ(pages.size(), expected) << "table " << child.Table;
    }
    // The processes really did work at once: their pages alternate along the file.
    int switches = 0;
    Integer last = 0;
    for (const auto& [address, owner] : held) {
        switches += last != 0 && owner.first != last ? 1 : 0;
        last = owner.first;
    }
    EXPECT_GT(switches, 1);
    EXPECT_GT(held.size(), 300u);
}

} // namespace
} // namespace orvex
