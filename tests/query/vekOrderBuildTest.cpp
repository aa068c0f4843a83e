// ORDER BY fills the result's order index from sorted runs of keys: one run
// within the connection's result memory budget (loaded into the empty tree
// page by page), several past it (the later ones inserted in key order).
// Either way the rows come in the statement's order, NULLs first ascending
// and last descending, 0 and -0 equal, and rows with equal sort values in
// the order the statement produced them.

#include "vekDriverTestUtil.h"

#include "../storage/vekEngineTestUtil.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace orvex::querytest {
namespace {

// o: 5000 rows; i repeats (about 50 rows a value) and is NULL now and then;
// f has NULLs, 0 and -0, negative and positive values with ties; s is short
// text of lower-case letters and digits (byte order is the collation's).
TTableSpec OrderTable()
{
    TTableSpec spec;
    spec.Name = "o";
    spec.Columns = {{"id", ftInteger}, {"i", ftInteger}, {"f", ftFloat}, {"s", ftString, 10}};
    spec.Indexes = {{"pko", "id", ixPrimary, ""}};
    for (int id = 0; id < 5000; ++id) {
        const Variant i = id % 13 == 5 ? Variant::Null() : Variant((id * 37) % 101 - 50);
        Variant f = Variant(static_cast<double>((id * 7919) % 1009) / 4.0 - 120.0);
        if (id % 11 == 3)
            f = Variant::Null();
        else if (id % 9 == 0)
            f = Variant(id % 18 == 0 ? -0.0 : 0.0);
        const Variant s = id % 17 == 2 ? Variant::Null() : Variant("x" + std::to_string((id * 31) % 97));
        spec.Rows.push_back({Variant(id), i, f, s});
    }
    return spec;
}

std::vector<std::string> SplitRow(const std::string& Row)
{
    std::vector<std::string> values;
    std::size_t start = 0;
    for (std::size_t bar = Row.find('|'); bar != std::string::npos; bar = Row.find('|', start)) {
        values.push_back(Row.substr(start, bar - start));
        start = bar + 1;
    }
    values.push_back(Row.substr(start));
    return values;
}

// Two canonical values in SQL order: NULL ("~") first, strings by their
// bytes, numbers by value (so 0 and -0 are equal).
int CompareValues(const std::string& A, const std::string& B)
{
    const bool nullA = A == "~";
    const bool nullB = B == "~";
    if (nullA || nullB)
        return static_cast<int>(!nullA) - static_cast<int>(!nullB);
    if (A.front() == '\'')
        return A.compare(B) < 0 ? -1 : (A == B ? 0 : 1);
    const double a = std::strtod(A.c_str(), nullptr);
    const double b = std::strtod(B.c_str(), nullptr);
    return a < b ? -1 : (a > b ? 1 : 0);
}

struct TSortKey {
    std::size_t Column;
    bool Descending;
};

// The rows of the statement without ORDER BY, stably sorted by Keys: the
// order a sort index over those keys gives, ties in production order.
std::vector<std::string> OrderedBy(std::vector<std::string> Rows, const std::vector<TSortKey>& Keys)
{
    std::stable_sort(Rows.begin(), Rows.end(), [&](const std::string& A, const std::string& B) {
        const std::vector<std::string> a = SplitRow(A);
        const std::vector<std::string> b = SplitRow(B);
        for (const TSortKey& key : Keys) {
            int c = CompareValues(a[key.Column], b[key.Column]);
            if (key.Descending)
                c = -c;
            if (c != 0)
                return c < 0;
        }
        return false;
    });
    return Rows;
}

class OrderBuild : public ::testing::TestWithParam<bool> {
protected:
    OrderBuild() : FFixture(GetParam())
    {
        FFixture.Db().SetTemporaryDirectory(FDir.Path());
        FFixture.AddTable(OrderTable());
    }
    enginetest::TTempDir FDir{"vekorderbuild"};
    TDriverFixture FFixture;
};

TEST_P(OrderBuild, RowsComeInTheStatementsOrderWhateverTheNumberOfRuns)
{
    struct TCase {
        const char* Sql;
        const char* Unordered; // the same rows without ORDER BY
        std::vector<TSortKey> Keys;
    };
    const TCase cases[] = {
        {"SELECT f, id FROM o ORDER BY f", "SELECT f, id FROM o", {{0, false}}},
        {"SELECT f, id FROM o ORDER BY f DESC", "SELECT f, id FROM o", {{0, true}}},
        {"SELECT i, f, id FROM o ORDER BY i DESC, f", "SELECT i, f, id FROM o", {{0, true}, {1, false}}},
        {"SELECT s, i, id FROM o ORDER BY s, i DESC", "SELECT s, i, id FROM o", {{0, false}, {1, true}}},
        {"SELECT id, i FROM o WHERE f > 0 ORDER BY i", "SELECT id, i FROM o WHERE f > 0", {{1, false}}},
        {"SELECT DISTINCT i FROM o ORDER BY i DESC", "SELECT DISTINCT i FROM o", {{0, true}}},
        // The order of group rows is built once their aggregates are known.
        {"SELECT i, COUNT(*), SUM(f) FROM o GROUP BY i ORDER BY 2 DESC, 1",
         "SELECT i, COUNT(*), SUM(f) FROM o GROUP BY i",
         {{1, true}, {0, false}}},
        {"SELECT s, MIN(f) FROM o GROUP BY s ORDER BY 2, 1 DESC", "SELECT s, MIN(f) FROM o GROUP BY s",
         {{1, false}, {0, true}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        FFixture.Db().SetResultMemoryBudget(TVekDataBase::DefaultResultMemoryBudget);
        const TDriverFixture::TResult unordered = FFixture.Run(c.Unordered);
        ASSERT_EQ(unordered.Error, "");
        const std::vector<std::string> expected = OrderedBy(unordered.Rows, c.Keys);
        const TDriverFixture::TResult oneRun = FFixture.Run(c.Sql);
        ASSERT_EQ(oneRun.Error, "");
        EXPECT_EQ(oneRun.Rows, expected);
        // The smallest budget: a run holds about a thousand keys, and the
        // result lives in the temporary database.
        FFixture.Db().SetResultMemoryBudget(64 * 1024);
        const TDriverFixture::TResult runs = FFixture.Run(c.Sql);
        ASSERT_EQ(runs.Error, "");
        EXPECT_EQ(runs.Rows, expected);
    }
}

// The result built from several runs is an ordinary index: record numbers,
// stepping backwards and a search by value work on it as on any other.
TEST_P(OrderBuild, ResultBuiltFromRunsNavigatesLikeAnyIndex)
{
    FFixture.Db().SetResultMemoryBudget(64 * 1024);
    const TDriverFixture::TResult forwards = FFixture.Run("SELECT f, id FROM o ORDER BY f DESC");
    ASSERT_EQ(forwards.Error, "");
    ASSERT_EQ(forwards.Rows.size(), 5000u);

    TVekQueryProvider provider;
    provider.SetDatabase(&FFixture.Db());
    provider.SetSQL("SELECT f, id FROM o ORDER BY f DESC");
    ASSERT_TRUE(provider.ValidateSQL()) << provider.GetErrorsAsText();
    ASSERT_TRUE(provider.PreparePlan() && provider.CreateResultSet()) << provider.GetErrorsAsText();
    TVekQueryDataset* set = provider.GetResultSet();
    ASSERT_TRUE(set->DataBase()->IsTemporaryDatabase());
    EXPECT_EQ(set->RecordCount(), 5000);
    std::vector<std::string> backwards;
    for (set->Last(); !set->Bof(); set->Prior())
        backwards.push_back(CanonicalValue(set->Fields()->Fields(0)->Value()) + "|" +
                            CanonicalValue(set->Fields()->Fields(1)->Value()));
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, forwards.Rows);
    for (const int n : {1, 2, 1234, 4999, 5000}) {
        set->SetRecNo(n);
        EXPECT_EQ(set->RecNo(), n);
        EXPECT_EQ(CanonicalValue(set->Fields()->Fields(0)->Value()) + "|" +
                      CanonicalValue(set->Fields()->Fields(1)->Value()),
                  forwards.Rows[static_cast<std::size_t>(n - 1)]);
    }
}

// A result in the temporary database keeps its full sort runs in a run
// file beside it, which no one else sees (it leaves the folder as soon as
// it is made) and which goes with the statement, finished or failed. A
// failed write of a run fails the statement and leaves nothing behind; the
// next statement runs as if nothing happened.
TEST_P(OrderBuild, SortRunsLeaveNothingBehindWhetherTheStatementEndsOrFails)
{
    int writes = 0;
    ExpectSpillsLeaveNothingBehind(FFixture, FDir.Path(), "SELECT s, f, id FROM o ORDER BY s DESC, f", writes);
    EXPECT_GE(writes, 2) << "several runs were written";
}

INSTANTIATE_TEST_SUITE_P(, OrderBuild, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) { return Info.param ? "File" : "Memory"; });

} // namespace
} // namespace orvex::querytest
