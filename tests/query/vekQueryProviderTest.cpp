// The statement driver's SELECT road beyond what the corpus shows:
// parameters, result-table names, error lists, nested items and repeated
// runs of one prepared statement.

#include "vekDriverTestUtil.h"

#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"
#include "storage/vekConsts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace orvex::querytest {
namespace {

TTableSpec Emp()
{
    TTableSpec spec;
    spec.Name = "emp";
    spec.Columns = {{"id", ftInteger, 0}, {"name", ftString, 10}, {"dept", ftInteger, 0}};
    spec.Rows = {{Variant(1), Variant(std::string("Ann")), Variant(10)},
                 {Variant(2), Variant(std::string("Bob")), Variant(20)},
                 {Variant(3), Variant(std::string("Cid")), Variant::Null()}};
    return spec;
}

class QueryProvider : public ::testing::TestWithParam<bool> {
protected:
    QueryProvider() : Fixture(GetParam()) { Fixture.AddTable(Emp()); }
    TDriverFixture Fixture;
};

TEST_P(QueryProvider, ParametersAreListedOnceAndBoundEachRun)
{
    TVekQueryProvider provider;
    TParams params(nullptr);
    provider.SetDatabase(&Fixture.Db());
    provider.SetParams(&params);
    provider.SetSQL("SELECT name, id FROM emp WHERE id >= :lo AND id <= :hi AND id <> :lo + 5 ORDER BY id");
    ASSERT_TRUE(provider.ValidateSQL()) << provider.GetErrorsAsText();
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params.Items(0)->Name(), "lo");
    EXPECT_EQ(params.Items(1)->Name(), "hi");
    EXPECT_EQ(params.Items(0)->DataType(), ftUnknown);

    const auto rows = [&](int Lo, int Hi) {
        params.ParamByName("lo")->SetValue(Variant(Lo));
        params.ParamByName("hi")->SetValue(Variant(Hi));
        std::vector<std::string> names;
        EXPECT_TRUE(provider.PreparePlan() && provider.CreateResultSet()) << provider.GetErrorsAsText();
        TVekQueryDataset* set = provider.GetResultSet();
        for (set->First(); !set->Eof(); set->Next())
            names.push_back(set->Fields()->Fields(0)->Value().AsString());
        return names;
    };
    EXPECT_EQ(rows(1, 2), (std::vector<std::string>{"Ann", "Bob"}));
    // The same prepared statement again, with other values.
    EXPECT_EQ(rows(2, 3), (std::vector<std::string>{"Bob", "Cid"}));
}

TEST_P(QueryProvider, AnUnknownParameterRaisesTheHostError)
{
    TVekQueryProvider provider;
    TParams params(nullptr);
    provider.SetDatabase(&Fixture.Db());
    provider.SetParams(&params);
    provider.SetSQL("SELECT name FROM emp WHERE id = :p");
    ASSERT_TRUE(provider.ValidateSQL());
    params.Clear();
    EXPECT_THROW(provider.PreparePlan(), Exception);
}

TEST_P(QueryProvider, ResultTableNamesAreUniqueAcrossStatements)
{
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        TDriverFixture::TResult result = Fixture.Run("SELECT id FROM emp");
        ASSERT_EQ(result.Error, "");
        EXPECT_EQ(result.TableName.substr(0, 6), "$Q0000");
        EXPECT_EQ(result.TableName.size(), 14u);
        names.insert(result.TableName);
    }
    EXPECT_EQ(names.size(), 20u);
}

TEST_P(QueryProvider, ErrorsAreListedOnceEachWithTheirSeparator)
{
    TVekQueryProvider provider;
    provider.SetDatabase(&Fixture.Db());
    provider.SetSQL("   ");
    EXPECT_FALSE(provider.ValidateSQL());
    EXPECT_EQ(provider.GetErrorsAsText(), "SQL statment is empty. ");
    provider.SetSQL("SELECT id FROM emp, nosuch1, nosuch2");
    EXPECT_FALSE(provider.ValidateSQL());
    EXPECT_EQ(provider.GetErrorsAsText(), "Table not found - nosuch1. Table not found - nosuch2. ");
    // A failure inside a subquery is listed once, with its position.
    provider.SetSQL("SELECT id FROM emp WHERE id IN (SELECT nosuchcol FROM emp)");
    EXPECT_FALSE(provider.ValidateSQL());
    const std::string text = provider.GetErrorsAsText();
    EXPECT_NE(text.find("Line 1, Character"), std::string::npos) << text;
    EXPECT_EQ(provider.GetErrors()->Count(), 1) << text;
}

TEST_P(QueryProvider, RowsAffectedAndStatementType)
{
    TVekQueryProvider provider;
    provider.SetDatabase(&Fixture.Db());
    EXPECT_EQ(provider.GetSQLStatementType(), vsSQLUnknown);
    EXPECT_EQ(provider.GetRowsAffected(), 0);
    provider.SetSQL("SELECT id FROM emp WHERE id > 1");
    ASSERT_TRUE(provider.ValidateSQL() && provider.PreparePlan() && provider.CreateResultSet());
    EXPECT_EQ(provider.GetSQLStatementType(), vsSQLSelect);
    EXPECT_EQ(provider.GetRowsAffected(), 2);
    EXPECT_FALSE(provider.ExecSQL());
    EXPECT_NE(provider.GetErrorsAsText().find("SQL statement cannot be executed by ExecSQL"), std::string::npos);
}

TEST_P(QueryProvider, AStatementWithASubqueryIsNeverLive)
{
    TVekQueryProvider provider;
    provider.SetDatabase(&Fixture.Db());
    provider.SetRequestLive(true);
    provider.SetSQL("SELECT id FROM emp WHERE id IN (SELECT id FROM emp WHERE dept = 10)");
    ASSERT_TRUE(provider.ValidateSQL() && provider.PreparePlan() && provider.CreateResultSet())
        << provider.GetErrorsAsText();
    EXPECT_FALSE(provider.GetIsLiveRequest());
    provider.SetSQL("SELECT id, name FROM emp");
    ASSERT_TRUE(provider.ValidateSQL() && provider.PreparePlan() && provider.CreateResultSet());
    EXPECT_TRUE(provider.GetIsLiveRequest());
}

TEST_P(QueryProvider, ARefreshRunsTheSubqueriesAgain)
{
    TVekQueryProvider provider;
    provider.SetDatabase(&Fixture.Db());
    provider.SetSQL("SELECT name FROM emp e WHERE EXISTS (SELECT id FROM emp f WHERE f.id = e.id + 1) "
                    "AND id IN (SELECT id FROM emp WHERE dept IS NOT NULL)");
    ASSERT_TRUE(provider.ValidateSQL()) << provider.GetErrorsAsText();
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(provider.PreparePlan() && provider.CreateResultSet()) << provider.GetErrorsAsText();
        std::vector<std::string> names;
        TVekQueryDataset* set = provider.GetResultSet();
        for (set->First(); !set->Eof(); set->Next())
            names.push_back(set->Fields()->Fields(0)->Value().AsString());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Ann", "Bob"}));
    }
}

TEST_P(QueryProvider, OuterReferencesInTheSelectListAreRefused)
{
    TDriverFixture::TResult result =
        Fixture.Run("SELECT id FROM emp e WHERE id IN (SELECT e.dept FROM emp f)");
    EXPECT_NE(result.Error, "");
}

TEST_P(QueryProvider, ParametersOfSubqueriesAreBound)
{
    TVekQueryProvider provider;
    TParams params(nullptr);
    provider.SetDatabase(&Fixture.Db());
    provider.SetParams(&params);
    provider.SetSQL("SELECT id FROM emp WHERE id > :k AND id IN (SELECT id FROM emp WHERE dept = :d)");
    ASSERT_TRUE(provider.ValidateSQL()) << provider.GetErrorsAsText();
    ASSERT_EQ(params.Count(), 2);
    const auto rows = [&](int K, int D) {
        params.ParamByName("k")->SetValue(Variant(K));
        params.ParamByName("d")->SetValue(Variant(D));
        EXPECT_TRUE(provider.PreparePlan() && provider.CreateResultSet()) << provider.GetErrorsAsText();
        TVekQueryDataset* set = provider.GetResultSet();
        std::vector<std::string> result;
        for (set->First(); !set->Eof(); set->Next())
            result.push_back(CanonicalValue(set->Fields()->Fields(0)->Value()));
        return result;
    };
    EXPECT_EQ(rows(1, 20), (std::vector<std::string>{"2"}));
    EXPECT_EQ(rows(0, 10), (std::vector<std::string>{"1"}));
    EXPECT_EQ(rows(2, 20), (std::vector<std::string>{}));
}

// A correlated subquery is planned again for each row of its container and
// keeps its tables open from one plan to the next: each row's selections,
// index ranges and joins start afresh, whatever the previous row left.
TEST_P(QueryProvider, CorrelatedSubqueriesAnswerEachRowOfTheirContainerAfresh)
{
    TTableSpec staff;
    staff.Name = "staff";
    staff.Columns = {{"id", ftInteger, 0}, {"name", ftString, 10}, {"dept", ftInteger, 0}};
    staff.Indexes = {{"ixStaffId", "id", ixPrimary | ixUnique, ""}, {"ixStaffDept", "dept", 0, ""}};
    staff.Rows = {{Variant(1), Variant(std::string("Ann")), Variant(10)},
                  {Variant(2), Variant(std::string("Bob")), Variant(20)},
                  {Variant(3), Variant(std::string("Cid")), Variant::Null()},
                  {Variant(4), Variant(std::string("Dan")), Variant(10)}};
    Fixture.AddTable(staff);
    TTableSpec task;
    task.Name = "task";
    task.Columns = {{"tid", ftInteger, 0}, {"who", ftInteger, 0}, {"hours", ftInteger, 0}};
    task.Indexes = {{"ixTaskId", "tid", ixPrimary | ixUnique, ""}, {"ixTaskWho", "who", 0, ""}};
    task.Rows = {{Variant(1), Variant(1), Variant(5)},       {Variant(2), Variant(1), Variant(7)},
                 {Variant(3), Variant(2), Variant(3)},       {Variant(4), Variant::Null(), Variant(9)},
                 {Variant(5), Variant(3), Variant(1)}};
    Fixture.AddTable(task);

    struct TCase {
        const char* Sql;
        std::vector<std::string> Names;
    };
    const TCase cases[] = {
        // An indexed selection on the outer value, and a constant one.
        {"SELECT name FROM staff e WHERE EXISTS (SELECT tid FROM task t WHERE t.who = e.id AND t.hours > 4)",
         {"'Ann'"}},
        {"SELECT name FROM staff e WHERE NOT EXISTS (SELECT tid FROM task t WHERE t.who = e.id)", {"'Dan'"}},
        // A join inside the subquery, searched through the index on who.
        {"SELECT name FROM staff e WHERE EXISTS (SELECT t.tid FROM staff f JOIN task t ON t.who = f.id "
         "WHERE f.dept = e.dept AND t.hours > 2)",
         {"'Ann'", "'Bob'", "'Dan'"}},
        // A table of the subquery without a selection of its own.
        {"SELECT name FROM staff e WHERE EXISTS (SELECT t.tid FROM task t, staff f WHERE t.who = f.id "
         "AND f.id = e.id)",
         {"'Ann'", "'Bob'", "'Cid'"}},
        // The container's own table under another name.
        {"SELECT name FROM staff e WHERE EXISTS (SELECT id FROM staff f WHERE f.dept = e.dept AND f.id <> e.id)",
         {"'Ann'", "'Dan'"}},
        {"SELECT name FROM staff e WHERE (SELECT COUNT(*) FROM task t WHERE t.who = e.id) = 1", {"'Bob'", "'Cid'"}},
    };
    for (const TCase& c : cases) {
        TDriverFixture::TResult result = Fixture.Run(c.Sql);
        ASSERT_EQ(result.Error, "") << c.Sql;
        std::sort(result.Rows.begin(), result.Rows.end());
        EXPECT_EQ(result.Rows, c.Names) << c.Sql;
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, QueryProvider, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& Info) { return Info.param ? "File" : "Memory"; });

} // namespace
} // namespace orvex::querytest
