// Two real processes on one database file: each adds and edits records of
// one table at the same time; afterwards every record is there exactly once
// with its last value. A stale update (the record was deleted and added
// again by another process while it was being edited) is refused with 8708
// and the rest of that process's work is kept.

#include "vekTableTestUtil.h"
#include "vekChildProcess.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace orvex {
namespace {

// A child process of vek_table_child.
class TChild : public conntest::TChildProcess {
public:
    explicit TChild(const std::vector<std::string>& Args)
        : TChildProcess(VEK_TABLE_CHILD, "vek_table_child", Args) {}
    int Wait(int Seconds = 240) { return TChildProcess::Wait(Seconds); }
};

std::string ReadText(const std::string& Path)
{
    std::ifstream in(Path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::map<int, int> ReadValues(const std::string& Path)
{
    std::map<int, int> values;
    std::ifstream in(Path);
    int id, value;
    while (in >> id >> value)
        values[id] = value;
    return values;
}

// A connection to the shared table, ordered by its key.
void OpenShared(TVekDataBase& Db, TVekTable& Table, const std::string& Path)
{
    Db.SetDataBaseName(Path);
    Db.Open();
    Table.SetDataBase(&Db);
    Table.SetTableName("Shared");
    Table.SetIndexName("ixID");
    Table.Open();
}

TEST(TableProcesses, TwoWritersLoseNothingAndAStaleUpdateIsRefused)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("shared.vek");
    conntest::MakeDatabase(path);
    {
        TVekDataBase db(nullptr);
        db.SetDataBaseName(path);
        db.Open();
        TVekTable table(nullptr);
        table.SetDataBase(&db);
        table.SetTableName("Shared");
        table.FieldDefs()->Add("ID", ftInteger, 0, true);
        table.FieldDefs()->Add("Owner", ftSmallint);
        table.FieldDefs()->Add("Value", ftInteger);
        table.FieldDefs()->Add("Note", ftString, 20);
        table.IndexDefs()->Add("ixID", "ID", ixUnique);
        table.IndexDefs()->Add("ixOwner", "Owner;Value", 0);
        table.CreateTable();
    }

    // Both workers at once.
    const int operations = 20000;
    {
        TChild one({path, "work", "1", std::to_string(operations), dir.File("one.txt")});
        TChild two({path, "work", "2", std::to_string(operations), dir.File("two.txt")});
        ASSERT_EQ(one.Wait(), 0) << ReadText(dir.File("one.txt"));
        ASSERT_EQ(two.Wait(), 0) << ReadText(dir.File("two.txt"));
    }
    std::map<int, int> expected = ReadValues(dir.File("one.txt"));
    const std::map<int, int> second = ReadValues(dir.File("two.txt"));
    ASSERT_GT(expected.size(), 1000u);
    ASSERT_GT(second.size(), 1000u);
    expected.insert(second.begin(), second.end());

    // A stale update: the child edits a record that this process deletes and
    // adds again before the child posts.
    const int stale = expected.begin()->first;
    {
        const std::string signals = dir.File("signals");
        std::filesystem::create_directory(signals);
        TChild editor({path, "stale", std::to_string(stale), signals, dir.File("stale.txt")});
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!std::filesystem::exists(signals + "/editing") && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(std::filesystem::exists(signals + "/editing")) << ReadText(dir.File("stale.txt"));
        TVekDataBase db(nullptr);
        TVekTable table(nullptr);
        OpenShared(db, table, path);
        ASSERT_TRUE(table.FindKey({stale}));
        table.Delete();
        table.Append();
        table.FieldByName("ID")->SetAsInteger(stale);
        table.FieldByName("Owner")->SetAsInteger(1);
        table.FieldByName("Value")->SetAsInteger(777);
        table.Post();
        table.Close();
        db.Close();
        std::ofstream(signals + "/go") << "go";
        ASSERT_EQ(editor.Wait(), 0) << ReadText(dir.File("stale.txt"));
        EXPECT_EQ(ReadText(dir.File("stale.txt")), "8708");
    }
    expected[stale] = 777;
    expected[stale + 500000] = 5;

    // Every record exactly once, with its last value; both indexes agree.
    TVekDataBase db(nullptr);
    TVekTable table(nullptr);
    OpenShared(db, table, path);
    std::map<int, int> stored;
    int rows = 0;
    for (table.First(); !table.Eof(); table.Next()) {
        stored[table.FieldByName("ID")->AsInteger()] = table.FieldByName("Value")->AsInteger();
        ++rows;
    }
    EXPECT_EQ(rows, static_cast<int>(expected.size()));
    EXPECT_TRUE(stored == expected);
    table.SetIndexName("ixOwner");
    EXPECT_EQ(table.RecordCount(), rows);
    int walked = 0;
    for (table.First(); !table.Eof(); table.Next())
        ++walked;
    EXPECT_EQ(walked, rows);
}

} // namespace
} // namespace orvex
