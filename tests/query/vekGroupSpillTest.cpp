// Grouping past the connection's result memory budget: the group rows go
// to the temporary database, and the rows of the groups past half the
// budget are set aside for later passes. Every statement gives the rows of
// the run that keeps everything in memory.

#include "vekDriverTestUtil.h"

#include "../storage/vekEngineTestUtil.h"
#include "host/Classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace orvex::querytest {
namespace {

// g: 3000 rows in 1000 groups of k (and a NULL group); f has NULLs, 0 and
// -0 and about 600 other values; s has NULLs and strings that order
// differently from id.
TTableSpec GroupTable()
{
    TTableSpec spec;
    spec.Name = "g";
    spec.Columns = {{"id", ftInteger}, {"k", ftInteger}, {"f", ftFloat}, {"s", ftString, 12}};
    spec.Indexes = {{"pkg", "id", ixPrimary, ""}};
    for (int i = 0; i < 3000; ++i) {
        const Variant k = i % 61 == 7 ? Variant::Null() : Variant((i * 37) % 1000);
        Variant f = Variant(static_cast<double>((i * 13) % 601) / 4.0 - 50.5);
        if (i % 29 == 3)
            f = Variant::Null();
        else if (i % 5 == 0)
            f = Variant(i % 10 == 0 ? -0.0 : 0.0);
        const Variant s = i % 17 == 4 ? Variant::Null() : Variant("s" + std::to_string((i * 7919) % 1009));
        spec.Rows.push_back({Variant(i), k, f, s});
    }
    return spec;
}

std::vector<std::string> Sorted(std::vector<std::string> Rows)
{
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

class GroupSpill : public ::testing::TestWithParam<bool> {
protected:
    GroupSpill() : FFixture(GetParam())
    {
        FFixture.Db().SetTemporaryDirectory(FDir.Path());
        FFixture.AddTable(GroupTable());
    }
    enginetest::TTempDir FDir{"vekgroupspill"};
    TDriverFixture FFixture;
};

TEST_P(GroupSpill, GroupsPastTheBudgetAreGroupedInLaterPasses)
{
    struct TCase {
        const char* Sql;
        bool Spills;   // some groups' accumulators leave memory
        bool InOrder;  // the rows' order is the statement's
    };
    const TCase cases[] = {
        {"SELECT k, COUNT(*), COUNT(f), SUM(f), AVG(f), MIN(f), MAX(f), MIN(id), MAX(id) FROM g GROUP BY k", true,
         false},
        // 0 and -0 are one group, whichever comes first.
        {"SELECT f, COUNT(*), SUM(id) FROM g GROUP BY f", true, false},
        {"SELECT k, SUM(f) * 2 + COUNT(*), MAX(id) - MIN(id) FROM g GROUP BY k", true, false},
        {"SELECT k, SUM(id) FROM g GROUP BY k HAVING SUM(id) > 4500 AND COUNT(k) > 2", true, false},
        {"SELECT k, AVG(id) FROM g GROUP BY k ORDER BY k DESC", true, true},
        // String arguments are set aside with their rows.
        {"SELECT k, MIN(s), MAX(s), COUNT(s) FROM g GROUP BY k", true, false},
        // DISTINCT aggregates keep their values, and so their groups, in
        // memory.
        {"SELECT k, COUNT(DISTINCT f), SUM(DISTINCT id - id / 7 * 7) FROM g GROUP BY k", false, false},
        {"SELECT COUNT(*), SUM(f), MIN(s) FROM g", false, false},
        {"SELECT k, s FROM g GROUP BY k, s", false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        FFixture.Db().SetResultMemoryBudget(TVekDataBase::DefaultResultMemoryBudget);
        const TDriverFixture::TResult expected = FFixture.Run(c.Sql);
        ASSERT_EQ(expected.Error, "");
        EXPECT_FALSE(expected.Temporary);
        EXPECT_EQ(expected.SpilledGroups, 0);
        // The smallest budget: its half holds a few hundred of the groups.
        FFixture.Db().SetResultMemoryBudget(64 * 1024);
        const TDriverFixture::TResult actual = FFixture.Run(c.Sql);
        ASSERT_EQ(actual.Error, "");
        if (c.Spills) {
            EXPECT_TRUE(actual.Temporary);
            EXPECT_GT(actual.SpilledGroups, 0);
        } else {
            EXPECT_EQ(actual.SpilledGroups, 0);
        }
        EXPECT_EQ(actual.RowsAffected, expected.RowsAffected);
        if (c.InOrder)
            EXPECT_EQ(actual.Rows, expected.Rows);
        else
            EXPECT_EQ(Sorted(actual.Rows), Sorted(expected.Rows));
    }
    // The accumulator tables went with their statements.
    ASSERT_TRUE(FFixture.Db().HasTemporaryDatabase());
    TStringList names;
    FFixture.Db().TemporaryDatabase()->GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), 0);
}

// The rows set aside go to a file that leaves the folder at once and goes
// with the statement; a write of it that fails fails the statement with
// nothing left behind, and the next one runs as if nothing happened.
TEST_P(GroupSpill, RowsSetAsideLeaveNothingBehindWhetherTheStatementEndsOrFails)
{
    int writes = 0;
    const TDriverFixture::TResult passes = ExpectSpillsLeaveNothingBehind(
        FFixture, FDir.Path(), "SELECT f, COUNT(*), MIN(s), SUM(id) FROM g GROUP BY f ORDER BY 3 DESC, 1", writes);
    EXPECT_GT(passes.SpilledGroups, 0);
}

INSTANTIATE_TEST_SUITE_P(, GroupSpill, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) { return Info.param ? "File" : "Memory"; });

} // namespace
} // namespace orvex::querytest
