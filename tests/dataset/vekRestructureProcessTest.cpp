// A process killed at any moment of a change to a table's layout, its
// records or its indexes leaves the table as it was or as the change left
// it, every index agreeing with the others.

#include "vekConnTestUtil.h"

#include "dataset/vekDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// "count sum | fields | indexes" of People in Path, or "" when it cannot be
// read in Seconds.
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

// For each child mode: the fields and indexes after the change, and whether
// the change leaves the table empty.
struct TKillCase {
    const char* Mode;
    const char* Layout;
    bool Emptied = false;
};

const std::string Whole = std::to_string(Records) + " " + std::to_string(IdSum);
const std::string Before = Whole + " | ID Name Notes | ixID ixName";

class KilledMidway : public ::testing::TestWithParam<TKillCase> {};

TEST_P(KilledMidway, LeavesTheTableAsBeforeOrAsAfter)
{
    const std::string mode = GetParam().Mode;
    const std::string after = (GetParam().Emptied ? std::string("0 0") : Whole) + " | " + GetParam().Layout;
    // The delays count from the moment the backup file appears for the
    // changes that write one, else from the start.
    const bool backs = mode == "restructure" || mode == "restructure-index" || mode == "rebuild";
    for (int delay : {0, 5, 20, 50, 100, 200}) {
        conntest::TTempDir dir;
        const std::string path = dir.File("kill.vek");
        MakePeople(path);
        const pid_t pid = Spawn({path, mode});
        bool exited = false;
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
        EXPECT_TRUE(table == Before || table == after) << mode << ", delay " << delay << ": table reads " << table;
        // A table that changed has its whole backup beside it.
        if (backs && table == after && after != Before) {
            EXPECT_EQ(Count(dir.File("kill.vkx"), dir.File("count.txt")), Before) << "delay " << delay;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Restructure, KilledMidway,
    ::testing::Values(TKillCase{"restructure", "ID Name Notes Extra | ixID ixName"},
                      TKillCase{"restructure-index", "ID Name Notes | ixID ixName ixNameID"},
                      TKillCase{"addindex", "ID Name Notes | ixID ixName ixNameID"},
                      TKillCase{"deleteindex", "ID Name Notes | ixID"},
                      TKillCase{"rebuild", "ID Name Notes | ixID ixName"},
                      TKillCase{"reindex", "ID Name Notes | ixID ixName"},
                      TKillCase{"empty", "ID Name Notes | ixID ixName", true}),
    [](const ::testing::TestParamInfo<TKillCase>& Info) {
        std::string name = Info.param.Mode;
        name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
        return name;
    });

TEST(RestructureProcess, ChildFinishesAndAnotherProcessSeesTheNewLayout)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("done.vek");
    MakePeople(path);
    ASSERT_EQ(RunChild({path, "restructure"}), 0);
    EXPECT_EQ(Count(path, dir.File("count.txt")), Whole + " | ID Name Notes Extra | ixID ixName");
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
