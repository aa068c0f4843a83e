// IN and NOT IN over an uncorrelated subquery look values up in a set made
// once from its rows; every statement gives the rows of its correlated twin
// (the same subquery with a condition on the outer row that is always true),
// which walks the subquery's rows for every outer row.

#include "vekDriverTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace orvex::querytest {
namespace {

const Variant N = Variant::Null();

// ta: the outer rows; tb: the subquery's, with NULLs, 0 and -0, an integer
// and a float of one value, strings that differ only in case, and values
// of one column's kind in another's column.
void AddTables(TDriverFixture& Fixture)
{
    TTableSpec ta;
    ta.Name = "ta";
    ta.Columns = {{"id", ftInteger}, {"n", ftInteger}, {"f", ftFloat}, {"s", ftString, 8}, {"d", ftDate}};
    ta.Rows = {
        {Variant(1), Variant(1), Variant(1.0), Variant("a"), Variant::FromDate(45000)},
        {Variant(2), Variant(2), Variant(2.5), Variant("B"), Variant::FromDate(45001)},
        {Variant(3), N, Variant(-0.0), Variant("b"), N},
        {Variant(4), Variant(0), N, N, Variant::FromDate(45002)},
        {Variant(5), Variant(7), Variant(7.0), Variant("7"), Variant::FromDate(45003)},
        {Variant(6), Variant(-3), Variant(0.0), Variant("zz"), Variant::FromDate(45000)},
    };
    Fixture.AddTable(ta);
    TTableSpec tb;
    tb.Name = "tb";
    tb.Columns = {{"x", ftInteger}, {"y", ftFloat}, {"t", ftString, 8}, {"e", ftDate}};
    tb.Rows = {
        {Variant(1), Variant(2.5), Variant("b"), Variant::FromDate(45000)},
        {Variant(0), Variant(-0.0), Variant("7"), N},
        {N, Variant(1.0), N, Variant::FromDate(45002)},
        {Variant(7), N, Variant("a"), Variant::FromDate(45003)},
        {Variant(1), Variant(9.75), Variant("b"), Variant::FromDate(45000)},
    };
    Fixture.AddTable(tb);
}

// The statement with its subquery made correlated: "FROM tb" gets the
// condition ta.id = ta.id.
std::string CorrelatedTwin(std::string Sql)
{
    const std::string from = "FROM tb";
    const std::size_t at = Sql.find(from);
    const std::size_t end = at + from.size();
    if (Sql.compare(end, 7, " WHERE ") == 0)
        Sql.insert(end + 7, "ta.id = ta.id AND ");
    else
        Sql.insert(end, " WHERE ta.id = ta.id");
    return Sql;
}

std::vector<std::string> Sorted(std::vector<std::string> Rows)
{
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

class InSubquery : public ::testing::TestWithParam<bool> {
protected:
    InSubquery() : FFixture(GetParam()) { AddTables(FFixture); }
    TDriverFixture FFixture;
};

TEST_P(InSubquery, ValueSetAnswersAsTheWalkOfTheRows)
{
    const char* const statements[] = {
        "SELECT id FROM ta WHERE n IN (SELECT x FROM tb)",
        "SELECT id FROM ta WHERE n NOT IN (SELECT x FROM tb)",
        "SELECT id FROM ta WHERE NOT (n IN (SELECT x FROM tb WHERE x IS NOT NULL))",
        "SELECT id FROM ta WHERE f IN (SELECT x FROM tb)",
        "SELECT id FROM ta WHERE f IN (SELECT y FROM tb)",
        "SELECT id FROM ta WHERE n NOT IN (SELECT y FROM tb)",
        "SELECT id FROM ta WHERE s IN (SELECT t FROM tb)",
        "SELECT id FROM ta WHERE s NOT IN (SELECT t FROM tb WHERE t <> 'a')",
        // Values of other kinds are compared one by one.
        "SELECT id FROM ta WHERE n IN (SELECT t FROM tb)",
        "SELECT id FROM ta WHERE s IN (SELECT x FROM tb)",
        "SELECT id FROM ta WHERE d IN (SELECT e FROM tb)",
        "SELECT id FROM ta WHERE d NOT IN (SELECT e FROM tb WHERE e IS NOT NULL)",
        // No rows at all.
        "SELECT id FROM ta WHERE n IN (SELECT x FROM tb WHERE x > 100)",
        "SELECT id FROM ta WHERE n NOT IN (SELECT x FROM tb WHERE x > 100)",
        // The set serves several outer rows and both sides of OR.
        "SELECT id FROM ta WHERE n IN (SELECT x FROM tb) OR s IN ('zz')",
        "SELECT id, n FROM ta WHERE n + 1 IN (SELECT x FROM tb) OR n IS NULL",
    };
    for (const char* sql : statements) {
        SCOPED_TRACE(sql);
        const TDriverFixture::TResult actual = FFixture.Run(sql);
        ASSERT_EQ(actual.Error, "");
        const TDriverFixture::TResult walked = FFixture.Run(CorrelatedTwin(sql));
        ASSERT_EQ(walked.Error, "");
        EXPECT_EQ(Sorted(actual.Rows), Sorted(walked.Rows));
    }
    // A few answers pinned: NULL never matches, 0 and -0 are equal, 2.5 is
    // found among floats, strings match by their bytes.
    EXPECT_EQ(Sorted(FFixture.Run("SELECT id FROM ta WHERE n IN (SELECT x FROM tb)").Rows),
              (std::vector<std::string>{"1", "4", "5"}));
    EXPECT_EQ(Sorted(FFixture.Run("SELECT id FROM ta WHERE f IN (SELECT y FROM tb)").Rows),
              (std::vector<std::string>{"1", "2", "3", "6"}));
    EXPECT_EQ(Sorted(FFixture.Run("SELECT id FROM ta WHERE s IN (SELECT t FROM tb)").Rows),
              (std::vector<std::string>{"1", "3", "5"}));
}

INSTANTIATE_TEST_SUITE_P(, InSubquery, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) { return Info.param ? "Disk" : "Memory"; });

} // namespace
} // namespace orvex::querytest
