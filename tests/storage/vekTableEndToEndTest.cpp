// A table of every accepted field type with several indexes, end to end at
// the storage level: created and filled with rows and blobs in a database
// file, read back in another process by each index, restructured there
// (a field and an index added, a field and an index dropped) and read again
// in both processes; the same for an in-memory table; and no row data in
// clear in the file of an encrypted table.

#include "tabledef/TableScenario.h"
#include "vekDiskTestUtil.h"

#include "platform/Process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace orvex {
namespace {

using namespace tabletest;

struct TEndToEndCase {
    const char* Name;
    TEncryptionLevel Level;
    int Rows;
};

void PrintTo(const TEndToEndCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

// Which of the scenario's clear texts the file holds.
std::vector<std::string> ClearTextsIn(const std::string& Path)
{
    const std::vector<Byte> file = disktest::ReadFileBytes(Path);
    std::vector<std::string> found;
    for (const std::string& text : ScenarioClearTexts())
        if (disktest::Contains(file, std::vector<Byte>(text.begin(), text.end())))
            found.push_back(text);
    return found;
}

class TableEndToEnd : public ::testing::TestWithParam<TEndToEndCase> {};

TEST_P(TableEndToEnd, WrittenThenReadRestructuredAndReadAgainInAnotherProcess)
{
    const TEndToEndCase& param = GetParam();
    disktest::TTempDir dir;
    const std::string path = dir.File("tables.vek");
    const std::string definition = path + ".def";
    const std::string key = param.Level == encStrong ? "Sesame" : "";
    TDiskConnection::CreateDatabase(path);
    {
        TDiskConnection connection(path, key);
        TTableDef def(nullptr);
        BuildTableDef(def, ScenarioTable, ScenarioFields(false), ScenarioIndexes(false), false, param.Level);
        connection.Tables().CreateTableDef(def.TableName(), &def);
        ASSERT_EQ(def.TableID(), 1);
        TTableDef user(nullptr);
        user.Assign(&def);
        connection.Tables().OpenTableDefConnection(def.TableName(), &user);
        {
            TTableAccess access(user);
            WriteScenarioRows(access, param.Rows);
        }
        connection.Tables().CloseTableDefConnection(user.TableID());
        SaveDefinition(def, definition);
    }
    const std::vector<std::string> written = ClearTextsIn(path);

    const std::string output = path + ".out";
    std::uint32_t error = 0;
    auto child = TChildProcess::Start(
        {VEK_TABLEDEF_CHILD, {path, definition, key.empty() ? "-" : key, std::to_string(param.Rows), output}, ""},
        error);
    ASSERT_TRUE(child) << "error " << error;
    ASSERT_EQ(child->WaitFor(600000), TProcessWait::Exited);
    std::ifstream result(output);
    const std::string text{std::istreambuf_iterator<char>(result), std::istreambuf_iterator<char>()};
    ASSERT_EQ(child->ExitCode(), 0) << text;
    ASSERT_EQ(text, "ok\n");

    // The restructured table as the other process left it.
    {
        TDiskConnection connection(path, key);
        TTableDef stored(nullptr);
        LoadDefinition(stored, definition);
        EXPECT_EQ(stored.InternalFields()->Count(), static_cast<int>(ScenarioFields(true).size()));
        EXPECT_EQ(CheckStoredTable(connection.Tables(), stored, param.Rows, true), "");
    }
    const std::vector<std::string> restructured = ClearTextsIn(path);
    if (param.Level == encNone) {
        // The plain table shows that the texts would be found.
        EXPECT_EQ(written, ScenarioClearTexts());
        EXPECT_EQ(restructured, ScenarioClearTexts());
    } else {
        EXPECT_TRUE(written.empty()) << written.front();
        EXPECT_TRUE(restructured.empty()) << restructured.front();
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, TableEndToEnd,
                         ::testing::Values(TEndToEndCase{"Plain", encNone, 10000},
                                           TEndToEndCase{"Weak", encWeak, 2000},
                                           TEndToEndCase{"Strong", encStrong, 1000}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TableEndToEnd, InMemoryTableWrittenReadAndRebuiltInTheNewLayout)
{
    constexpr int rows = 10000;
    TMemoryTableDefMgr tables;
    tables.Open();
    TTableDef def(nullptr);
    BuildTableDef(def, ScenarioTable, ScenarioFields(false), ScenarioIndexes(false), true);
    tables.CreateTableDef(def.TableName(), &def);
    {
        TTableDef user(nullptr);
        user.SetMemory(true);
        tables.OpenTableDefConnection(ScenarioTable, &user);
        TTableAccess access(user);
        WriteScenarioRows(access, rows);
    }
    tables.CloseTableDefConnection(def.TableID());

    // Another connection finds the rows in the master the table lives in.
    TTableDef old(nullptr);
    tables.OpenTableDefConnection(ScenarioTable, &old);
    std::vector<TStoredRow> stored;
    {
        TTableAccess access(old);
        ASSERT_EQ(CheckScenarioRows(access, rows, false), "");
        stored = ReadStoredRows(access);
    }

    // An in-memory table is not restructured in place: its rows go to a new
    // table of the new layout, and the old table is deleted.
    TInternalRestructureRecord request;
    EXPECT_VEK_ERROR_TEXT(10766, ScenarioTable, tables.RestructureTableDef(&old, request));
    TTableDef rebuilt(nullptr);
    BuildTableDef(rebuilt, std::string(ScenarioTable) + "2", ScenarioFields(true), ScenarioIndexes(true), true);
    tables.CreateTableDef(rebuilt.TableName(), &rebuilt);
    EXPECT_EQ(rebuilt.TableID(), 2);
    {
        TTableDef user(nullptr);
        tables.OpenTableDefConnection(rebuilt.TableName(), &user);
        TTableAccess access(user);
        AddStoredRows(access, old.InternalFields(), stored);
    }
    tables.CloseTableDefConnection(rebuilt.TableID());
    tables.DeleteTableDef(ScenarioTable, &old);
    EXPECT_EQ(tables.IndexOfTableName(ScenarioTable), -1);

    TTableDef user(nullptr);
    tables.OpenTableDefConnection(rebuilt.TableName(), &user);
    {
        TTableAccess access(user);
        EXPECT_EQ(CheckScenarioRows(access, rows, true), "");
    }
    tables.CloseTableDefConnection(user.TableID());
}

} // namespace
} // namespace orvex
