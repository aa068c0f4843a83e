// Hand cases of the joins over small fixtures: what the generator does not
// reach or what a fault showed (NULL keys, mixed key types, long keys,
// outer joins with WHERE conditions on the null-extended side, the plan).

#include "vekQueryTestUtil.h"

#include "query/vekQueryAnalyser.h"
#include "storage/vekCommon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace orvex::querytest {
namespace {

// A: (id, k INTEGER, f FLOAT, s VARCHAR(10)); B: (id, k SMALLINT, f FLOAT,
// s VARCHAR(10)) with NULL keys, duplicates and -0 against 0.
class JoinCases : public ::testing::Test {
protected:
    void SetUp() override
    {
        TTableSpec a{"A",
                     {{"id", ftInteger, 0}, {"k", ftInteger, 0}, {"f", ftFloat, 0}, {"s", ftString, 10}},
                     {{"ixak", "k", 0, ""}},
                     {{Variant(1), Variant(1), Variant(1.0), Variant("x")},
                      {Variant(2), Variant(2), Variant(-0.0), Variant("y")},
                      {Variant(3), Variant::Null(), Variant::Null(), Variant::Null()},
                      {Variant(4), Variant(0), Variant(2.5), Variant("y")},
                      {Variant(5), Variant(2), Variant(3.0), Variant("z")}}};
        TTableSpec b{"B",
                     {{"id", ftInteger, 0}, {"k", ftSmallint, 0}, {"f", ftFloat, 0}, {"s", ftString, 10}},
                     {{"ixbk", "k", ixDescending, ""}},
                     {{Variant(1), Variant(std::int16_t{2}), Variant(0.0), Variant("y")},
                      {Variant(2), Variant(std::int16_t{2}), Variant(1.0), Variant("w")},
                      {Variant(3), Variant::Null(), Variant(2.5), Variant::Null()},
                      {Variant(4), Variant(std::int16_t{0}), Variant(7.0), Variant("x")},
                      {Variant(5), Variant(std::int16_t{9}), Variant::Null(), Variant("y")}}};
        TTableSpec empty{"E", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {}, {}};
        fixture.AddTable(a);
        fixture.AddTable(b);
        fixture.AddTable(empty);
    }

    // The statement under every method equals the reference; the rows.
    std::vector<std::string> Check(const std::string& Sql)
    {
        const TQueryFixture::TOutcome expected = fixture.Reference(Sql);
        EXPECT_EQ(expected.Error, "") << Sql;
        for (TJoinMethod method :
             {TJoinMethod::Auto, TJoinMethod::Hash, TJoinMethod::IndexedRange, TJoinMethod::NestedLoop}) {
            const TQueryFixture::TOutcome actual = fixture.Run(Sql, method);
            EXPECT_EQ(actual.Error, "") << Sql;
            EXPECT_EQ(actual.Rows, expected.Rows) << JoinMethodName(method) << ": " << Sql;
        }
        return expected.Rows;
    }

    TQueryFixture fixture;
};

TEST_F(JoinCases, EveryJoinKindOverNullDuplicateAndMixedKeys)
{
    // Integer against Smallint and Float keys, -0 against 0, NULL never
    // matching (not even NULL against NULL).
    EXPECT_EQ(Check("SELECT * FROM A JOIN B ON A.k = B.k").size(), 5u);
    EXPECT_EQ(Check("SELECT * FROM A JOIN B ON A.f = B.f").size(), 3u);
    EXPECT_EQ(Check("SELECT * FROM A JOIN B ON A.k = B.f").size(), 2u);
    EXPECT_EQ(Check("SELECT * FROM A JOIN B ON A.s = B.s").size(), 5u);
    for (const char* kind : {"LEFT", "RIGHT", "FULL", "INNER", "LEFT OUTER", "FULL OUTER"})
        Check(std::string("SELECT * FROM A ") + kind + " JOIN B ON A.k = B.k");
    EXPECT_EQ(Check("SELECT * FROM A CROSS JOIN B").size(), 25u);
    EXPECT_EQ(Check("SELECT * FROM A CROSS JOIN B WHERE A.k > 0").size(), 15u);
    EXPECT_EQ(Check("SELECT * FROM A UNION JOIN B").size(), 10u);
    // An empty table on either side of each outer join.
    for (const char* kind : {"LEFT", "RIGHT", "FULL", "INNER"}) {
        Check(std::string("SELECT * FROM A ") + kind + " JOIN E ON A.k = E.k");
        Check(std::string("SELECT * FROM E ") + kind + " JOIN A ON A.k = E.k");
    }
}

TEST_F(JoinCases, WhereOnTheNullExtendedSideFiltersTheJoinedRows)
{
    // The rows of A without a match in B (an anti-join), and a WHERE
    // condition on B that must remove rows, never null-extend them.
    EXPECT_EQ(Check("SELECT * FROM A LEFT JOIN B ON A.k = B.k WHERE B.k IS NULL").size(), 2u);
    EXPECT_EQ(Check("SELECT * FROM A LEFT JOIN B ON A.k = B.k WHERE B.s = 'y'").size(), 2u);
    Check("SELECT * FROM A RIGHT JOIN B ON A.k = B.k WHERE A.id IS NULL");
    Check("SELECT * FROM A FULL JOIN B ON A.k = B.k WHERE A.f > 0 AND B.f >= 0");
    const TQueryFixture::TOutcome outcome = fixture.Run("SELECT * FROM A LEFT JOIN B ON A.k = B.k WHERE B.k IS NULL");
    EXPECT_EQ(outcome.Residual, "yes");
}

TEST_F(JoinCases, EqualityWithFurtherConditionsAndSelfJoins)
{
    Check("SELECT * FROM A JOIN B ON A.k = B.k AND A.f > B.f");
    Check("SELECT * FROM A LEFT JOIN B ON A.k = B.k AND B.f < 1");
    Check("SELECT * FROM A JOIN B ON A.k = B.k OR A.s = B.s");
    EXPECT_EQ(Check("SELECT * FROM A x JOIN A y ON x.k = y.k").size(), 6u);
    Check("SELECT * FROM A x LEFT JOIN A y ON x.k = y.k WHERE y.f > x.f");
    Check("SELECT * FROM A, A y WHERE A.k = y.k AND A.s <> y.s");
    Check("SELECT * FROM A JOIN B USING (k)");
    Check("SELECT * FROM A x NATURAL JOIN A y");
}

TEST_F(JoinCases, WhereJoinsOverJoinedTablesAndManyTablesStayResidual)
{
    // A join item over two tables already joined, and one over three tables.
    Check("SELECT * FROM A JOIN B ON A.k = B.k WHERE A.f = B.f");
    Check("SELECT * FROM A, B, E WHERE A.k = B.k AND B.k = E.k AND E.k = A.k");
    Check("SELECT * FROM A, B, A z WHERE A.k + B.k = z.k");
    Check("SELECT * FROM A JOIN B ON A.k = B.k, A z JOIN B w ON z.k = w.k WHERE B.id = w.id");
    Check("SELECT * FROM A RIGHT JOIN (B JOIN A z ON B.k = z.k) ON A.s = B.s");
    Check("SELECT * FROM (A JOIN B ON A.k = B.k) FULL JOIN A z ON B.f = z.f");
}

TEST_F(JoinCases, TheHashJoinHashesTheSmallerSideAndLogsItsPlan)
{
    TTableSpec big{"Big", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {}, {}};
    for (int i = 0; i < 40; ++i)
        big.Rows.push_back({Variant(i), Variant(i % 7)});
    fixture.AddTable(big);
    GDBLogger->Clear();
    // No index on A.f: the hash join, the 5-row A hashed.
    const TQueryFixture::TOutcome outcome = fixture.Run("SELECT * FROM Big JOIN A ON Big.k = A.f");
    ASSERT_EQ(outcome.Plans.size(), 1u);
    EXPECT_EQ(outcome.Plans[0].Method, TJoinMethod::Hash);
    EXPECT_EQ(outcome.Plans[0].HashedName, "A");
    const std::vector<std::string> lines = GDBLogger->LogLines();
    int planLines = 0;
    for (const std::string& line : lines)
        if (line.find("Outer : Big") != std::string::npos || line.find("Inner Expr opt level : ") != std::string::npos)
            ++planLines;
    EXPECT_EQ(planLines, 2);
    EXPECT_EQ(outcome.Rows, fixture.Reference("SELECT * FROM Big JOIN A ON Big.k = A.f").Rows);
}

TEST_F(JoinCases, AnIndexOnTheSearchedKeyIsUsedWhenItsSearchesCostLessThanAHash)
{
    TTableSpec big{"Big", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {}, {}};
    for (int i = 0; i < 40; ++i)
        big.Rows.push_back({Variant(i), Variant(i % 7)});
    // Many: 200 rows, 50 per key of A's; U: the same keys once each under a
    // unique index.
    TTableSpec many{"Many", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {{"ixmk", "k", 0, ""}}, {}};
    TTableSpec unique{"U", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {{"ixuk", "k", ixUnique, ""}}, {}};
    for (int i = 0; i < 200; ++i) {
        many.Rows.push_back({Variant(i), Variant(i % 4)});
        unique.Rows.push_back({Variant(i), Variant(i)});
    }
    fixture.AddTable(big);
    fixture.AddTable(many);
    fixture.AddTable(unique);
    struct TCase {
        const char* Sql;
        TJoinMethod Method;
    };
    const TCase cases[] = {
        // 40 searches of A's index cost more than reading A's 5 rows once.
        {"SELECT * FROM Big JOIN A ON Big.k = A.k AND A.id > 0", TJoinMethod::Hash},
        // Every row of A searching Many meets about 40 rows each: Many read
        // once in order costs less.
        {"SELECT * FROM A JOIN Many ON A.k = Many.k", TJoinMethod::Hash},
        // A selection leaves few rows of A to search with.
        {"SELECT * FROM A JOIN Many ON A.k = Many.k WHERE A.id = 2", TJoinMethod::IndexedRange},
        // A unique index: one match per search.
        {"SELECT * FROM A JOIN U ON A.k = U.k", TJoinMethod::IndexedRange},
        {"SELECT * FROM A LEFT JOIN U ON A.k = U.k", TJoinMethod::IndexedRange},
    };
    for (const TCase& c : cases) {
        const TQueryFixture::TOutcome outcome = fixture.Run(c.Sql);
        ASSERT_EQ(outcome.Error, "") << c.Sql;
        ASSERT_EQ(outcome.Plans.size(), 1u) << c.Sql;
        EXPECT_EQ(outcome.Plans[0].Method, c.Method) << c.Sql;
        EXPECT_EQ(outcome.Rows, fixture.Reference(c.Sql).Rows) << c.Sql;
    }
}

TEST_F(JoinCases, ThePlanGivesTheOptimiserLevelOfEachSidesSelection)
{
    struct TCase {
        const char* Sql;
        TVekFilterOptimisationLevel Outer, Inner;
    };
    const TCase cases[] = {
        // A.k has an index: answered in full, or in part beside a condition
        // on f; B's selection on f has none.
        {"SELECT * FROM A JOIN B ON A.id = B.id WHERE A.k = 2 AND B.f > 0", olFull, olNone},
        {"SELECT * FROM A JOIN B ON A.id = B.id WHERE A.k = 2 AND A.f > 0", olPartial, olNone},
        {"SELECT * FROM B JOIN A ON A.id = B.id WHERE A.k >= 1 AND B.k = 2", olFull, olFull},
        {"SELECT * FROM A JOIN B ON A.id = B.id", olNone, olNone},
    };
    for (const TCase& c : cases) {
        GDBLogger->Clear();
        const TQueryFixture::TOutcome outcome = fixture.Run(c.Sql);
        ASSERT_EQ(outcome.Error, "") << c.Sql;
        ASSERT_EQ(outcome.Plans.size(), 1u) << c.Sql;
        EXPECT_EQ(outcome.Plans[0].OuterExprOptLevel, c.Outer) << c.Sql;
        EXPECT_EQ(outcome.Plans[0].InnerExprOptLevel, c.Inner) << c.Sql;
        const std::vector<std::string> lines = GDBLogger->LogLines();
        const std::string outerLine = std::string("Outer Expr opt level : ") + CFilterOptLevelNames[c.Outer];
        const std::string innerLine = std::string("Inner Expr opt level : ") + CFilterOptLevelNames[c.Inner];
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(outerLine) != std::string::npos; }))
            << c.Sql;
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(innerLine) != std::string::npos; }))
            << c.Sql;
        EXPECT_EQ(outcome.Rows, fixture.Reference(c.Sql).Rows) << c.Sql;
    }
}

TEST_F(JoinCases, KeysLongerThanTwoHundredFiftySixBytesJoin)
{
    // Two string equalities of 200 characters each: a 400-byte hash key.
    TTableSpec l{"L", {{"id", ftInteger, 0}, {"t", ftString, 200}, {"u", ftString, 200}}, {{"ixt", "t", 0, ""}}, {}};
    TTableSpec m{"M", {{"id", ftInteger, 0}, {"t", ftString, 200}, {"u", ftString, 200}}, {}, {}};
    const std::string longA(199, 'a');
    const std::string longB = std::string(198, 'a') + "b";
    l.Rows = {{Variant(1), Variant(longA), Variant(longB)},
              {Variant(2), Variant(longB), Variant(longB)},
              {Variant(3), Variant::Null(), Variant(longA)}};
    m.Rows = {{Variant(1), Variant(longB), Variant(longB)},
              {Variant(2), Variant(longA), Variant(longB)},
              {Variant(3), Variant(longA), Variant(longB)},
              {Variant(4), Variant(longA), Variant(longA)}};
    fixture.AddTable(l);
    fixture.AddTable(m);
    EXPECT_EQ(Check("SELECT * FROM L JOIN M ON L.t = M.t AND L.u = M.u").size(), 3u);
    EXPECT_EQ(fixture.Run("SELECT * FROM L JOIN M ON L.t = M.t AND L.u = M.u", TJoinMethod::Hash).Plans[0].Method,
              TJoinMethod::Hash);
    Check("SELECT * FROM M LEFT JOIN L ON L.t = M.t AND L.u = M.u");
}

TEST_F(JoinCases, AnUnknownColumnInOnIsAParserErrorWithItsPosition)
{
    const TQueryFixture::TOutcome outcome = fixture.Run("SELECT * FROM A JOIN B ON A.k = B.nope");
    EXPECT_NE(outcome.Error.find("Table and/or field not found (B.nope)"), std::string::npos) << outcome.Error;
    EXPECT_NE(outcome.Error.find("Line 1"), std::string::npos) << outcome.Error;
    const TQueryFixture::TOutcome unqualified = fixture.Run("SELECT * FROM A JOIN B ON nope = B.k");
    EXPECT_NE(unqualified.Error.find("Field not found"), std::string::npos) << unqualified.Error;
}

TEST(QueryAnalyser, SplitsConjunctionsIntoSelectionsAndJoins)
{
    TQueryFixture fixture;
    fixture.AddTable({"T1", {{"a", ftInteger, 0}, {"b", ftInteger, 0}, {"c", ftInteger, 0}}, {}, {}});
    fixture.AddTable({"T2", {{"b", ftInteger, 0}, {"c", ftInteger, 0}}, {}, {}});
    struct TCase {
        const char* Sql;
        int Joins;
        int Selections;
        bool Complete;
    };
    const TCase cases[] = {
        {"SELECT * FROM T1, T2 WHERE T1.a = 1 AND T1.b = T2.b", 1, 1, true},
        {"SELECT * FROM T1, T2 WHERE T1.a = 1 OR T2.b = 2", 0, 0, false},
        {"SELECT * FROM T1, T2 WHERE (T1.a = 1 OR T1.b = 2) AND T1.c = T2.c", 1, 1, true},
        {"SELECT * FROM T1, T2 WHERE T1.b = T2.b AND T1.c = T2.c", 1, 0, true},
        {"SELECT * FROM T1 WHERE a = 1 OR NOT (b = 2)", 0, 1, true},
        {"SELECT * FROM T1, T2 WHERE NOT (T1.b = T2.b)", 0, 0, false},
        {"SELECT * FROM T1 x, T1 y WHERE x.a = 1 AND y.a = 2 AND x.b = y.b", 1, 2, true},
    };
    for (const TCase& c : cases) {
        TVekParserEngine engine;
        ASSERT_EQ(fixture.Parse(engine, c.Sql), "") << c.Sql;
        TVekQueryAnalyser analyser;
        TVekJoins joins;
        TVekSelects selects;
        analyser.Prepare(&joins, &selects, engine.WhereParser()->Root(), engine.TableList());
        int selections = 0;
        for (int i = 0; i < selects.Count(); ++i)
            selections += selects.Items(i)->ExprRoot() ? 1 : 0;
        EXPECT_EQ(joins.Count(), c.Joins) << c.Sql;
        EXPECT_EQ(selections, c.Selections) << c.Sql;
        EXPECT_EQ(selects.Count(), engine.TableList()->Count()) << c.Sql;
        EXPECT_EQ(analyser.CheckAnalysisComplete(), c.Complete) << c.Sql;
    }
}

} // namespace
} // namespace orvex::querytest

namespace orvex::querytest {
namespace {

TEST(DatasetBridge, RawFieldsRecordAddressesAndValidation)
{
    TQueryFixture fixture;
    {
        TVekTable table(nullptr);
        table.SetDataBase(&fixture.Db());
        table.SetTableName("Notes");
        table.SetMemory(true);
        table.FieldDefs()->Add("id", ftInteger);
        table.FieldDefs()->Add("name", ftString, 8);
        table.FieldDefs()->Add("memo", ftMemo);
        table.CreateTable();
        table.Open();
        table.Append();
        table.FieldByName("id")->SetAsInteger(7);
        table.FieldByName("name")->SetAsString("abc");
        table.FieldByName("memo")->SetAsString(std::string(1000, 'm'));
        table.Post();
        table.Close();
    }
    TVekDatasetBridge bridge(nullptr);
    bridge.SetDataBase(&fixture.Db());
    bridge.SetTableName("Notes");
    bridge.SetMemory(true);
    EXPECT_EQ(bridge.GetRecAddr(), 0u);
    bridge.DataSetOpen();
    ASSERT_TRUE(bridge.FirstBridgeRecord());
    TDataHolder holder;
    bridge.GetRawFieldData(bridge.GetFieldNo("name"), holder);
    EXPECT_FALSE(holder.IsNull);
    EXPECT_FALSE(holder.UsesStream);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(holder.Data), static_cast<std::size_t>(holder.Length)), "abc");
    bridge.GetRawFieldData(bridge.GetFieldNo("memo"), holder);
    EXPECT_TRUE(holder.UsesStream);
    EXPECT_EQ(holder.Length, 1000);
    EXPECT_EQ(holder.Stream()->Position(), 0);
    const Cardinal address = bridge.GetRecAddr();
    const Cardinal modFlag = bridge.GetRecModFlag();
    EXPECT_NE(address, 0u);
    EXPECT_EQ(bridge.GetTotalBridgeRecordCount(), 1);
    bridge.MoveToRecAddrAndValidate(address, modFlag);
    EXPECT_EQ(bridge.GetFieldDataAsVariant(bridge.GetFieldNo("id")).AsInteger(), 7);
    {
        // Another dataset changes the record: validation fails.
        TVekTable other(nullptr);
        other.SetDataBase(&fixture.Db());
        other.SetTableName("Notes");
        other.SetMemory(true);
        other.Open();
        other.Edit();
        other.FieldByName("id")->SetAsInteger(8);
        other.Post();
        other.Close();
    }
    EXPECT_THROW(bridge.MoveToRecAddrAndValidate(address, modFlag), EVekDatabaseError);
    bridge.DataSetClose();
    EXPECT_EQ(bridge.GetRecAddr(), 0u);
}

// A join of two tables without an index runs as a hash join over the
// smaller one: time linear in the inputs (the benchmark measures it at
// 100,000 by 1,000,000 records).
TEST(JoinPlan, AJoinWithoutIndexHashesTheSmallerTable)
{
    TQueryFixture fixture;
    TTableSpec small{"Small", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {}, {}};
    TTableSpec large{"Large", {{"id", ftInteger, 0}, {"k", ftInteger, 0}}, {}, {}};
    for (int i = 0; i < 100; ++i)
        small.Rows.push_back({Variant(i), Variant(i)});
    for (int i = 0; i < 1000; ++i)
        large.Rows.push_back({Variant(i), Variant(i % 150)});
    fixture.AddTable(small);
    fixture.AddTable(large);
    for (const char* sql : {"SELECT * FROM Small JOIN Large ON Small.k = Large.k",
                            "SELECT * FROM Large JOIN Small ON Small.k = Large.k",
                            "SELECT * FROM Large, Small WHERE Large.k = Small.k"}) {
        const TQueryFixture::TOutcome outcome = fixture.Run(sql);
        ASSERT_EQ(outcome.Plans.size(), 1u) << sql;
        EXPECT_EQ(outcome.Plans[0].Method, TJoinMethod::Hash) << sql;
        EXPECT_EQ(outcome.Plans[0].HashedName, "Small") << sql;
        EXPECT_EQ(outcome.Rows.size(), 700u) << sql;
    }
}


// The join hash against a plain multimap: 8-byte keys (kept in their slots)
// beside longer and shorter ones (kept apart), one key's rows interleaved
// with others', growth over thousands of keys, keys that share their first
// 8 bytes, missing keys, and a Clear before reuse.
TEST(JoinHash, AnswersEveryKeysAddressesInTheOrderAdded)
{
    auto number = [](std::uint64_t Value) { return std::string(reinterpret_cast<const char*>(&Value), 8); };
    std::vector<std::pair<std::string, Cardinal>> rows;
    Cardinal address = 1;
    for (int round = 0; round < 3; ++round)
        for (std::uint64_t i = 0; i < 3000; ++i) {
            rows.emplace_back(number(i * 0x9E3779B97F4A7C15ULL), address++);
            if (i % 7 == 0)
                rows.emplace_back(std::string(4, '\0') + "long key " + std::to_string(i), address++);
        }
    // An 8-byte key, the same bytes followed by more, and a 3-byte key.
    rows.emplace_back("abcdefgh", address++);
    rows.emplace_back("abcdefghij", address++);
    rows.emplace_back("abc", address++);
    rows.emplace_back("abcdefgh", address++);

    for (int pass = 0; pass < 2; ++pass) {
        TJoinHash hash;
        if (pass == 1) {
            // A hash used and cleared answers only what it holds afterwards.
            hash.Add(number(1), 999);
            std::vector<Cardinal> out;
            hash.Lookup(number(1), out);
            ASSERT_EQ(out, std::vector<Cardinal>{999});
            hash.Clear();
        }
        std::multimap<std::string, Cardinal> expected;
        for (const auto& [key, addr] : rows) {
            hash.Add(key, addr);
            expected.emplace(key, addr);
        }
        hash.Finish();
        EXPECT_EQ(hash.Count(), rows.size());
        std::size_t keys = 0;
        for (auto it = expected.begin(); it != expected.end(); it = expected.upper_bound(it->first)) {
            ++keys;
            std::vector<Cardinal> want{7};
            for (auto [from, to] = expected.equal_range(it->first); from != to; ++from)
                want.push_back(from->second);
            std::vector<Cardinal> got{7}; // what Out holds already stays
            hash.Lookup(it->first, got);
            ASSERT_EQ(got, want) << "pass " << pass;
        }
        EXPECT_EQ(hash.KeyCount(), keys);
        for (const std::string& missing : {number(5), std::string("abcdefg"), std::string("abcdefghi"), std::string()}) {
            std::vector<Cardinal> out;
            hash.Lookup(missing, out);
            EXPECT_TRUE(out.empty());
        }
        EXPECT_ANY_THROW(hash.Add(number(1), 1));
    }
    TJoinHash empty;
    std::vector<Cardinal> out;
    empty.Lookup(number(0), out);
    EXPECT_TRUE(out.empty());
}

} // namespace
} // namespace orvex::querytest
