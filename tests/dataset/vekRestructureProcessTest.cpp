// A process killed in the middle of a restructure or a table rebuild leaves
// the table or its ".vkx" backup whole.

#include "vekConnTestUtil.h"

#include "dataset/vekDatabase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex {
namespace {

pid_t Spawn(const std::vector<std::string>& Args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>("vek_restr_child")};
        for (const std::string& arg : Args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(VEK_RESTR_CHILD, argv.data());
        ::_exit(127);
    }
    return pid;
}

// The child's exit code; -1 when it was killed or ran past Seconds (a
// reader of a table left damaged may walk its index without end).
int RunChild(const std::vector<std::string>& Args, int Seconds = 60)
{
    const pid_t pid = Spawn(Args);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr int Records = 2000;
constexpr long long IdSum = static_cast<long long>(Records) * (Records + 1) / 2;

void MakePeople(const std::string& Path)
{
    conntest::MakeDatabase(Path);
    TVekDataBase db(nullptr);
    db.SetDataBaseName(Path);
    db.Open();
    TVekTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("People");
    table.FieldDefs()->Add("ID", ftInteger, 0, true);
    table.FieldDefs()->Add("Name", ftString, 40);
    table.FieldDefs()->Add("Notes", ftMemo);
    table.IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
    table.IndexDefs()->Add("ixName", "Name", 0);
    table.CreateTable();
    table.Open();
    db.StartTransaction();
    for (int i = 1; i <= Records; ++i) {
        table.Append();
        table.FieldByName("ID")->SetAsInteger(i);
        table.FieldByName("Name")->SetAsString("name " + std::to_string(i));
        table.FieldByName("Notes")->SetAsString(std::string(static_cast<std::size_t>(i % 200), 'm'));
        table.Post();
    }
    db.Commit();
    table.Close();
    db.Close();
}

// "count sum" of People in Path, or "" when it cannot be read in Seconds.
std::string Count(const std::string& Path, const std::string& Out, int Seconds = 60)
{
    std::filesystem::remove(Out);
    if (RunChild({Path, "count", Out}, Seconds) != 0)
        return "";
    std::ifstream in(Out);
    std::string text;
    std::getline(in, text);
    return text;
}

class KilledMidway : public ::testing::TestWithParam<std::string> {};

TEST_P(KilledMidway, LeavesTheTableOrTheBackupWhole)
{
    const std::string whole = std::to_string(Records) + " " + std::to_string(IdSum);
    // Killed once the backup file appears (while it is written) and at
    // growing delays after it (the emptying and the copy back).
    int damaged = 0;
    for (int delay : {0, 5, 20, 50, 100, 200}) {
        conntest::TTempDir dir;
        const std::string path = dir.File("kill.vek");
        MakePeople(path);
        const pid_t pid = Spawn({path, GetParam()});
        bool exited = false;
        // Re-indexing and emptying make no backup: the delays count from
        // the start.
        const bool backs = GetParam() == "restructure" || GetParam() == "rebuild";
        while (backs && !std::filesystem::exists(dir.File("kill.vkx")) && !exited) {
            exited = ::waitpid(pid, nullptr, WNOHANG) == pid;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (!exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        const std::string table = Count(path, dir.File("count.txt"), 10);
        // Emptying is whole when the table is as before or empty.
        if (table == whole || (GetParam() == "empty" && table == "0 0"))
            continue;
        ++damaged;
        ASSERT_TRUE(std::filesystem::exists(dir.File("kill.vkx"))) << "delay " << delay << ": table reads " << table;
        EXPECT_EQ(Count(dir.File("kill.vkx"), dir.File("count.txt")), whole) << "delay " << delay;
    }
    // A rebuild, a re-index and emptying run in one file transaction: a
    // kill leaves the table as it was or as the operation left it, every
    // index agreeing with the others. A restructure changes the table's
    // layout outside one, so its backup is what keeps the table.
    if (GetParam() != "restructure") {
        EXPECT_EQ(damaged, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Restructure, KilledMidway, ::testing::Values("restructure", "rebuild", "reindex", "empty"));

TEST(RestructureProcess, ChildFinishesAndAnotherProcessSeesTheNewLayout)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("done.vek");
    MakePeople(path);
    ASSERT_EQ(RunChild({path, "restructure"}), 0);
    EXPECT_EQ(Count(path, dir.File("count.txt")), std::to_string(Records) + " " + std::to_string(IdSum));
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.Open();
    TVekTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("People");
    table.Open();
    EXPECT_TRUE(table.FindField("Extra"));
    table.Close();
}

} // namespace
} // namespace orvex
