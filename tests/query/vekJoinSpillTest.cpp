// Joins past the connection's result memory budget: the hashed side's keys
// go to the temporary database and are searched through its index; a full
// join's matched rows are a bitmap of record addresses, on memory and file
// tables alike. Each gives the reference's rows.

#include "vekQueryTestUtil.h"

#include "../storage/vekEngineTestUtil.h"
#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex::querytest {
namespace {

// "L" and "R": (id, k VARCHAR(250), n INTEGER); keys shared in part, some
// NULL, some repeated, so that every join kind has matched and unmatched
// rows on both sides.
void AddTables(TQueryFixture& Fixture, int Rows)
{
    for (const char* name : {"L", "R"}) {
        TTableSpec spec{name, {{"id", ftInteger, 0}, {"k", ftString, 250}, {"n", ftInteger, 0}}, {}, {}};
        const bool left = name[0] == 'L';
        for (int i = 0; i < Rows; ++i) {
            // L's keys 0, 1, ... ; R's keys every third of them, repeated.
            const int key = left ? i : (i / 2) * 3;
            Variant k = i % 17 == 5 ? Variant::Null() : Variant("key-" + std::to_string(key) + std::string(40, 'x'));
            spec.Rows.push_back({Variant(i), k, Variant(key % 10)});
        }
        Fixture.AddTable(spec);
    }
}

class JoinSpill : public ::testing::TestWithParam<bool> {
protected:
    JoinSpill() : FFixture(GetParam() ? FDir.File("spill.vek") : std::string())
    {
        FFixture.Db().SetTemporaryDirectory(FDir.Path());
    }
    enginetest::TTempDir FDir{"vekspill"};
    TQueryFixture FFixture;
};

TEST_P(JoinSpill, HashedSidePastTheBudgetGoesToTheTemporaryDatabase)
{
    AddTables(FFixture, 280);
    // About 300 bytes a key in memory: 280 rows stay under 256 KiB and pass
    // 64 KiB. With about 270 bytes a record, hash and record images fit in
    // 256 KiB (matches come from the images); in 128 KiB only the hash does
    // (matches are read from the table by address).
    for (const char* kind : {"INNER", "LEFT", "RIGHT", "FULL"}) {
        const std::string sql = std::string("SELECT * FROM L ") + kind + " JOIN R ON L.k = R.k AND L.n <= R.n";
        const TQueryFixture::TOutcome expected = FFixture.Reference(sql);
        for (const Int64 budget : {Int64{256 * 1024}, Int64{128 * 1024}, Int64{64 * 1024}}) {
            SCOPED_TRACE(budget);
            FFixture.Db().SetResultMemoryBudget(budget);
            const bool spilled = budget < 100 * 1024;
            const TQueryFixture::TOutcome actual = FFixture.Run(sql, TJoinMethod::Hash);
            ASSERT_EQ(actual.Error, "") << sql;
            ASSERT_EQ(actual.Plans.size(), 1u);
            EXPECT_EQ(actual.Plans[0].Method, TJoinMethod::Hash) << sql;
            EXPECT_EQ(actual.Plans[0].HashSpilled, spilled) << sql;
            EXPECT_EQ(actual.Rows, expected.Rows) << sql;
        }
    }
    // The key tables went with their joins; the file goes at disconnect.
    ASSERT_TRUE(FFixture.Db().HasTemporaryDatabase());
    TStringList names;
    FFixture.Db().TemporaryDatabase()->GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), 0);
    const std::string file = FFixture.Db().TemporaryFileName();
    EXPECT_TRUE(FileExists(file));
    FFixture.Db().Close();
    EXPECT_FALSE(FileExists(file));
}

// The full join's second pass skips exactly the rows matched in the first,
// told apart by address on file tables (record-size units) and memory
// tables (handles), with every method.
TEST_P(JoinSpill, FullJoinMatchedRowsByAddress)
{
    AddTables(FFixture, 120);
    for (TJoinMethod method : {TJoinMethod::Hash, TJoinMethod::NestedLoop}) {
        for (const char* sql : {"SELECT * FROM L FULL JOIN R ON L.k = R.k",
                                "SELECT * FROM L FULL JOIN R ON L.n = R.n AND L.id < R.id AND R.id < 40",
                                "SELECT * FROM R FULL JOIN L ON L.k = R.k AND L.id > 100"}) {
            const TQueryFixture::TOutcome expected = FFixture.Reference(sql);
            const TQueryFixture::TOutcome actual = FFixture.Run(sql, method);
            ASSERT_EQ(actual.Error, "") << sql;
            EXPECT_EQ(actual.Rows, expected.Rows) << JoinMethodName(method) << ": " << sql;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, JoinSpill, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) { return Info.param ? "File" : "Memory"; });

TEST(JoinMatchedSet, BitsPerGranuleAcrossChunks)
{
    TJoinMatchedSet set;
    set.Reset(48);
    const std::vector<Cardinal> addresses = {0, 47 + 1, 4096, 48 * 65536, 48 * 65536 + 48, 0xFFFFFFF0u};
    for (Cardinal address : addresses)
        set.Insert(address);
    set.Insert(4096); // again
    EXPECT_EQ(set.Count(), addresses.size());
    for (Cardinal address : addresses)
        EXPECT_TRUE(set.Contains(address)) << address;
    for (Cardinal address : {Cardinal{96}, Cardinal{4096 + 48}, Cardinal{48 * 65536 - 48}, Cardinal{0xFFFFFF00u}})
        EXPECT_FALSE(set.Contains(address)) << address;
    set.Reset(1);
    EXPECT_EQ(set.Count(), 0u);
    EXPECT_FALSE(set.Contains(0));
}

} // namespace
} // namespace orvex::querytest
