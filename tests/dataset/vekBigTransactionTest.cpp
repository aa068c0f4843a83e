// One transaction of many records through the table component, in a child
// process whose peak resident memory is measured: with a small budget of
// changed pages it stays bounded however many records it writes; the
// commit reads back whole after reconnecting, a rollback leaves the file
// byte for byte as before.
//
// CI runs 300,000 records with a 1 MiB budget (the growth of the peak over
// the child's start must stay under 24 MiB, where holding every changed page
// would take some 45 MiB). The case, 10,000,000 records with the
// default 16 MiB budget and a peak under 64 MiB, runs with
//   ORVEX_BIGTX_RECORDS=10000000 ORVEX_BIGTX_BUDGET=16777216
// (best from the release build: build/release/tests/orvex_tests_dataset).

#include "vekConnTestUtil.h"

#include "dataset/vekDatabase.h"
#include "platform/FileIO.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace orvex {
namespace {

struct TChildRun {
    long StartKiB = -1;
    long PeakKiB = -1;
    bool Done = false;
    std::string Output;
};

// Runs the child; the sanitizer's quarantine of freed memory is kept small,
// so that the peak measures what the engine holds.
TChildRun RunChild(const std::string& Path, long Records, long Budget, const char* End)
{
    const std::string command = "ASAN_OPTIONS=quarantine_size_mb=4:detect_leaks=1 " + std::string(VEK_BIGTX_CHILD) +
                                " '" + Path + "' " + std::to_string(Records) + " " + std::to_string(Budget) + " " +
                                End;
    TChildRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        run.Output += line;
        std::istringstream words(line);
        std::string word;
        long value = 0;
        words >> word >> value;
        if (word == "start")
            run.StartKiB = value;
        else if (word == "peak")
            run.PeakKiB = value;
        else if (word == "done")
            run.Done = true;
    }
    ::pclose(pipe);
    return run;
}

class BigTransactionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        conntest::MakeDatabase(Path());
        // The table, created by the child with no records.
        ASSERT_TRUE(RunChild(Path(), 0, FBudget, "commit").Done);
    }
    std::string Path() const { return FDir.File("big.vek"); }
    void ExpectBounded(const TChildRun& Run) const
    {
        ASSERT_TRUE(Run.Done) << Run.Output;
        RecordProperty("start_kib", static_cast<int>(Run.StartKiB));
        RecordProperty("peak_kib", static_cast<int>(Run.PeakKiB));
        if (FRecords >= 10000000)
            EXPECT_LT(Run.PeakKiB, 64 * 1024) << Run.Output;
        else
            EXPECT_LT(Run.PeakKiB - Run.StartKiB, 24 * 1024) << Run.Output;
    }

    conntest::TTempDir FDir;
    const long FRecords = EnvNumber("ORVEX_BIGTX_RECORDS", 300000);
    const long FBudget = EnvNumber("ORVEX_BIGTX_BUDGET", 1024 * 1024);
};

TEST_F(BigTransactionTest, ACommittedTransactionStaysBoundedAndEveryRecordIsFoundAfterReconnecting)
{
    ExpectBounded(RunChild(Path(), FRecords, FBudget, "commit"));
    EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
    TVekDataBase db(nullptr);
    db.SetDataBaseName(Path());
    db.Open();
    TVekTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("Big");
    table.SetIndexName("ixID");
    table.Open();
    // Every key in order through the index, then a spread of keys found.
    long expected = 0;
    TField* id = table.FieldByName("ID");
    for (table.First(); !table.Eof(); table.Next()) {
        ASSERT_EQ(id->AsInteger(), expected);
        ++expected;
    }
    EXPECT_EQ(expected, FRecords);
    for (long key = 0; key < FRecords; key += FRecords / 97 + 1) {
        ASSERT_TRUE(table.FindKey({Variant(static_cast<Integer>(key))})) << key;
        EXPECT_EQ(table.FieldByName("Name")->AsString().size(), 100u);
    }
}

TEST_F(BigTransactionTest, ARolledBackTransactionStaysBoundedAndLeavesTheFileAsBefore)
{
    const std::vector<Byte> before = conntest::ReadFileBytes(Path());
    ExpectBounded(RunChild(Path(), FRecords, FBudget, "rollback"));
    EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
    EXPECT_TRUE(conntest::ReadFileBytes(Path()) == before);
}

} // namespace
} // namespace orvex
