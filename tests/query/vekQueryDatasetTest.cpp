// The result table: plain rows, DISTINCT, ORDER BY, MaxRecords, grouping,
// aggregates and HAVING, through SQL text on "MEMORY" and on disk; the
// accumulators; live hidden fields; the target operations of DML.

#include "vekDriverTestUtil.h"

#include "dataset/vekDataSetFilter.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"
#include "sql/vekParserEngine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvex::querytest {
namespace {

std::vector<Variant> Row(std::initializer_list<Variant> Values)
{
    return Values;
}

const Variant N = Variant::Null();

Variant Day(double Value)
{
    return Variant::FromDate(Value);
}

// t: six rows with NULLs in every column but id; k groups a, b and NULL.
TTableSpec FixtureTable()
{
    TTableSpec spec;
    spec.Name = "t";
    spec.Columns = {{"id", ftInteger}, {"k", ftString, 5}, {"v", ftInteger},
                    {"f", ftFloat},    {"s", ftString, 10}, {"d", ftDate}};
    spec.Indexes = {{"pk", "id", ixPrimary, ""}};
    spec.Rows = {
        Row({1, "a", 10, 1.5, "pear", Day(45000)}),
        Row({2, "a", 20, 2.5, "apple", Day(45001)}),
        Row({3, "b", N, N, N, N}),
        Row({4, "b", 40, 4.0, "fig", Day(45003)}),
        Row({5, N, 50, 0.5, "apple", Day(45004)}),
        Row({6, N, N, N, "zz", N}),
    };
    return spec;
}

class ResultSetTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        FFixture = std::make_unique<TDriverFixture>(GetParam());
        FFixture->AddTable(FixtureTable());
    }
    TDriverFixture& Fx() { return *FFixture; }

    static std::vector<std::string> Sorted(std::vector<std::string> Rows)
    {
        std::sort(Rows.begin(), Rows.end());
        return Rows;
    }

    std::unique_ptr<TDriverFixture> FFixture;
};

struct TCase {
    const char* Sql;
    std::vector<std::string> Rows;
    bool Ordered = false; // compare in order (ORDER BY), else as multisets
};

void CheckCases(TDriverFixture& Fixture, const std::vector<TCase>& Cases)
{
    for (const TCase& c : Cases) {
        SCOPED_TRACE(c.Sql);
        const auto result = Fixture.Run(c.Sql);
        ASSERT_EQ(result.Error, "");
        std::vector<std::string> rows = result.Rows;
        std::vector<std::string> expected = c.Rows;
        if (!c.Ordered) {
            std::sort(rows.begin(), rows.end());
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(rows, expected);
        EXPECT_EQ(result.RowsAffected, static_cast<Integer>(expected.size()));
    }
}

TEST_P(ResultSetTest, PlainRowsDistinctAndOrder)
{
    CheckCases(Fx(), {
        {"SELECT DISTINCT k FROM t", {"~", "'a'", "'b'"}},
        {"SELECT DISTINCT k, s FROM t WHERE id < 6",
         {"'a'|'pear'", "'a'|'apple'", "'b'|~", "'b'|'fig'", "~|'apple'"}},
        {"SELECT id, v FROM t ORDER BY 2, 1", {"3|~", "6|~", "1|10", "2|20", "4|40", "5|50"}, true},
        {"SELECT id, v FROM t ORDER BY t.v DESC, id",
         {"5|50", "4|40", "2|20", "1|10", "3|~", "6|~"}, true},
        {"SELECT x.id FROM t x WHERE x.id > 3 ORDER BY x.id DESC", {"6", "5", "4"}, true},
        {"SELECT s, id FROM t WHERE s IS NOT NULL ORDER BY s, id",
         {"'apple'|2", "'apple'|5", "'fig'|4", "'pear'|1", "'zz'|6"}, true},
    });
}

TEST_P(ResultSetTest, SelfJoinColumnsReadTheirOwnInstance)
{
    CheckCases(Fx(), {
        {"SELECT a.v, b.v, a.s, b.s FROM t a, t b WHERE a.id = 1 AND b.id = 2", {"10|20|'pear'|'apple'"}},
        {"SELECT a.id, b.id, a.s, b.s FROM t a JOIN t b ON a.k = b.k AND a.id < b.id ORDER BY a.id",
         {"1|2|'pear'|'apple'", "3|4|~|'fig'"}, true},
    });
}

TEST_P(ResultSetTest, MaxRecordsCutsAPlainResult)
{
    const auto one = Fx().Run("SELECT id FROM t ORDER BY id", 1);
    ASSERT_EQ(one.Error, "");
    EXPECT_EQ(one.Rows, std::vector<std::string>{"1"});
    const auto distinct = Fx().Run("SELECT DISTINCT k FROM t", 2);
    ASSERT_EQ(distinct.Error, "");
    EXPECT_EQ(distinct.Rows.size(), 2u);
}

TEST_P(ResultSetTest, GroupsAndAggregates)
{
    CheckCases(Fx(), {
        // The NULL group is one group; COUNT(*) counts rows, COUNT(v) values.
        {"SELECT k, COUNT(*), COUNT(v), SUM(v), SUM(v) / COUNT(v) FROM t GROUP BY k",
         {"~|2|1|50|50", "'a'|2|2|30|15", "'b'|2|1|40|40"}},
        {"SELECT k, COUNT(*) FROM t GROUP BY k ORDER BY k DESC", {"'b'|2", "'a'|2", "~|2"}, true},
        // AVG is a float; MIN and MAX of strings and dates in their type.
        {"SELECT AVG(id), AVG(v), MIN(s), MAX(s), MIN(d), MAX(d) FROM t",
         {"3.5|30|'apple'|'zz'|45000|45004"}},
        {"SELECT COUNT(DISTINCT s), COUNT(DISTINCT s) + 1, COUNT(*) + 1, COUNT(DISTINCT k) FROM t",
         {"4|5|7|2"}},
        {"SELECT SUM(DISTINCT v), AVG(DISTINCT f), MAX(f) * 2 FROM t WHERE id <> 5", {"70|2.6666666666666665|8"}},
        {"SELECT k, MIN(s), MAX(d) FROM t GROUP BY k", {"~|'apple'|45004", "'a'|'apple'|45001", "'b'|'fig'|45003"}},
        // Over no rows: numbers 0, strings and dates NULL; one row.
        {"SELECT COUNT(*), COUNT(v), SUM(v), AVG(f), MIN(v), MAX(f), MIN(s), MAX(d) FROM t WHERE id < 0",
         {"0|0|0|0|0|0|~|~"}},
        {"SELECT k, COUNT(*) FROM t WHERE id < 0 GROUP BY k", {}},
        // The lone COUNT(*) over a whole table, and with a condition.
        {"SELECT COUNT(*) FROM t", {"6"}},
        {"SELECT COUNT(*) FROM t WHERE v > 15", {"3"}},
        {"SELECT COUNT(v) FROM t", {"4"}},
        {"SELECT COUNT(DISTINCT k) FROM t", {"2"}},
    });
}

// Rows find their group (and DISTINCT its duplicates) by the bytes of their
// values first: values that are equal with other bytes (0 and -0) still
// form one group, in any order of arrival.
TEST_P(ResultSetTest, EqualValuesOfOtherBytesFormOneGroup)
{
    TTableSpec zeros;
    zeros.Name = "z";
    zeros.Columns = {{"id", ftInteger}, {"k", ftString, 5}, {"f", ftFloat}};
    zeros.Indexes = {{"pkz", "id", ixPrimary, ""}};
    zeros.Rows = {Row({1, "a", 0.0}), Row({2, "a", -0.0}), Row({3, "b", 1.5}), Row({4, "a", -0.0}),
                  Row({5, "b", 0.0}), Row({6, "a", N}),    Row({7, "a", 0.0})};
    Fx().AddTable(zeros);
    CheckCases(Fx(), {
        {"SELECT f, COUNT(*), SUM(id) FROM z GROUP BY f", {"0|5|19", "1.5|1|3", "~|1|6"}},
        {"SELECT k, f, COUNT(*) FROM z GROUP BY k, f", {"'a'|0|4", "'b'|0|1", "'b'|1.5|1", "'a'|~|1"}},
        {"SELECT k, f FROM z GROUP BY k, f", {"'a'|0", "'b'|0", "'b'|1.5", "'a'|~"}},
        {"SELECT DISTINCT f FROM z", {"0", "1.5", "~"}},
    });
}

TEST_P(ResultSetTest, LoneCountWithAndWithoutTheShortcut)
{
    for (bool shortcut : {true, false}) {
        SCOPED_TRACE(shortcut);
        TVekQueryDataset::SetSimpleCountEnabledByDefault(shortcut);
        CheckCases(Fx(), {
            {"SELECT COUNT(*) FROM t", {"6"}},
            {"SELECT COUNT(*) FROM t WHERE k IS NULL", {"2"}},
            {"SELECT COUNT(*) FROM t a, t b WHERE a.id = b.id", {"6"}},
        });
    }
    TVekQueryDataset::SetSimpleCountEnabledByDefault(true);
}

TEST_P(ResultSetTest, HavingRemovesGroups)
{
    CheckCases(Fx(), {
        // A comparison with the NULL group value is not true: that group goes.
        {"SELECT k, COUNT(*) FROM t GROUP BY k HAVING k <> 'a'", {"'b'|2"}},
        {"SELECT k, SUM(v) AS total FROM t GROUP BY k HAVING total > 35", {"~|50", "'b'|40"}},
        // Aggregates written in HAVING, whether or not they are columns.
        {"SELECT k, COUNT(*) FROM t WHERE id < 6 GROUP BY k HAVING COUNT(*) > 1", {"'a'|2", "'b'|2"}},
        {"SELECT k, MAX(id) FROM t GROUP BY k HAVING COUNT(k) = 2 AND MAX(id) > 2", {"'b'|4"}},
        {"SELECT k, MAX(id) FROM t GROUP BY k HAVING COUNT(k) = 2", {"'a'|2", "'b'|4"}},
        {"SELECT k, MAX(id) FROM t GROUP BY k HAVING MAX(id) > 2", {"~|6", "'b'|4"}},
        {"SELECT k, COUNT(*) FROM t GROUP BY k HAVING MIN(k) IS NULL", {"~|2"}},
        // GROUP BY without aggregates: one row per group.
        {"SELECT k FROM t GROUP BY k", {"~", "'a'", "'b'"}},
        {"SELECT k FROM t GROUP BY k HAVING k > 'a'", {"'b'"}},
        {"SELECT k FROM t GROUP BY k HAVING COUNT(k) = 2", {"'a'", "'b'"}},
        {"SELECT k, s FROM t GROUP BY k, s HAVING COUNT(*) = 1 AND k = 'a'", {"'a'|'pear'", "'a'|'apple'"}},
    });
}

TEST_P(ResultSetTest, SumOfIntegersOutgrowsThirtyTwoBits)
{
    TTableSpec big;
    big.Name = "big";
    big.Columns = {{"g", ftInteger}, {"v", ftInteger}};
    for (int i = 0; i < 6; ++i)
        big.Rows.push_back(Row({i % 2, 2000000000}));
    Fx().AddTable(big);
    CheckCases(Fx(), {
        {"SELECT SUM(v) FROM big", {"12000000000"}},
        {"SELECT g, SUM(v), AVG(v) FROM big GROUP BY g", {"0|6000000000|2000000000", "1|6000000000|2000000000"}},
    });
}

TEST_P(ResultSetTest, GroupedResultLimitedByMaxRecords)
{
    // Three groups pass a limit of 3; a fourth is refused, also when it
    // comes with the last row.
    const auto three = Fx().Run("SELECT k, COUNT(*) FROM t GROUP BY k", 3);
    EXPECT_EQ(three.Error, "");
    EXPECT_EQ(three.Rows.size(), 3u);
    const auto four = Fx().Run("SELECT id, COUNT(*) FROM t WHERE id <= 4 GROUP BY id", 3);
    EXPECT_NE(four.Error.find("Result set limit of 3 has been exceeded"), std::string::npos) << four.Error;
}

TEST_P(ResultSetTest, ManyGroups)
{
    TTableSpec many;
    many.Name = "many";
    many.Columns = {{"g", ftInteger}, {"v", ftInteger}, {"s", ftString, 8}};
    const int rows = 3000;
    const int groups = 700;
    for (int i = 0; i < rows; ++i)
        many.Rows.push_back(Row({i % groups, i, "s" + std::to_string(i % 7)}));
    Fx().AddTable(many);
    const auto result = Fx().Run("SELECT g, COUNT(*), SUM(v), COUNT(DISTINCT s) FROM many GROUP BY g ORDER BY g");
    ASSERT_EQ(result.Error, "");
    ASSERT_EQ(result.Rows.size(), static_cast<std::size_t>(groups));
    for (int g = 0; g < groups; ++g) {
        long long sum = 0;
        int count = 0;
        bool seen[7] = {};
        for (int i = g; i < rows; i += groups) {
            sum += i;
            ++count;
            seen[i % 7] = true;
        }
        const int distinct = static_cast<int>(std::count(std::begin(seen), std::end(seen), true));
        EXPECT_EQ(result.Rows[static_cast<std::size_t>(g)],
                  std::to_string(g) + "|" + std::to_string(count) + "|" + std::to_string(sum) + "|" +
                      std::to_string(distinct));
    }
}

TEST_P(ResultSetTest, UnionWidensStringColumns)
{
    TTableSpec wide;
    wide.Name = "wide";
    wide.Columns = {{"s", ftString, 30}, {"x", ftFloat}};
    wide.Rows = {Row({"a string longer than ten", 2.75})};
    Fx().AddTable(wide);
    CheckCases(Fx(), {
        {"SELECT s, id FROM t WHERE id = 1 UNION SELECT s, x FROM wide", {"'pear'|1", "'a string longer than ten'|2.75"}},
    });
}

TEST_P(ResultSetTest, ColumnNamesAreMadeUnique)
{
    const auto result = Fx().Run("SELECT id, id, id, k AS id FROM t WHERE id = 1");
    ASSERT_EQ(result.Error, "");
    EXPECT_EQ(result.Columns, (std::vector<std::string>{"id", "id_1", "id_1_2", "id_1_2_3"}));
    EXPECT_EQ(result.Rows, std::vector<std::string>{"1|1|1|'a'"});

    // Names longer than a field name may be are cut, and stay unique.
    const auto longNames = Fx().Run("SELECT SUM((v + v)) / COUNT((v + v)) + 1000000000, "
                                    "SUM((v + v)) / COUNT((v + v)) + 1000000000 FROM t");
    ASSERT_EQ(longNames.Error, "");
    ASSERT_EQ(longNames.Columns.size(), 2u);
    EXPECT_EQ(longNames.Columns[0].size(), 40u);
    EXPECT_EQ(longNames.Columns[1], longNames.Columns[0].substr(0, 38) + "_1");
    EXPECT_EQ(longNames.Rows, std::vector<std::string>{"1000000060|1000000060"});
    const auto semicolon = Fx().Run("SELECT DISTINCT 'x;y' FROM t");
    ASSERT_EQ(semicolon.Error, "");
    EXPECT_EQ(semicolon.Columns, std::vector<std::string>{"'x_y'"});
    EXPECT_EQ(semicolon.Rows, std::vector<std::string>{"'x;y'"});
}

TEST_P(ResultSetTest, ResultSortsStringsAsItsFirstTable)
{
    // A table in byte order: upper case before lower case.
    TVekTable table(nullptr);
    table.SetDataBase(&Fx().Db());
    table.SetTableName("bytes");
    table.SetMemory(!GetParam());
    table.SetSortOrder(soASCII);
    table.FieldDefs()->Add("s", ftString, 5);
    table.CreateTable();
    table.Open();
    for (const char* s : {"a", "B", "c", "A"}) {
        table.Append();
        table.FieldByName("s")->SetAsString(s);
        table.Post();
    }
    table.Close();
    const auto bytes = Fx().Run("SELECT s FROM bytes ORDER BY s");
    ASSERT_EQ(bytes.Error, "");
    EXPECT_EQ(bytes.Rows, (std::vector<std::string>{"'A'", "'B'", "'a'", "'c'"}));
    const auto ansi = Fx().Run("SELECT s FROM t WHERE s IS NOT NULL ORDER BY s");
    ASSERT_EQ(ansi.Error, "");
    EXPECT_EQ(ansi.Rows.front(), "'apple'");
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, ResultSetTest, ::testing::Values(false, true),
                         [](const auto& Info) { return Info.param ? "Disk" : "Memory"; });

// ============================================================ accumulators

TEST(FuncResultListTest, AccumulatorsByAddressAndNumber)
{
    TFuncResultList list;
    list.AddNewResultItem("", 7, false, vafSum, ftInteger, 0, 0);
    list.AddNewResultItem("", 7, true, vafCount, ftString, 5, 1);
    list.AddNewResultItem("", 9, false, vafMin, ftString, 5, 0);
    for (const char* s : {"b", "a", "b", "c"}) {
        list.SetNewValue(7, 1, Variant(s));
        list.SetNewValue(9, 0, Variant(s));
    }
    list.SetNewValue(7, 0, Variant(5));
    list.SetNewValue(7, 0, N);
    list.SetNewValue(7, 0, Variant(2.5));
    EXPECT_EQ(list.GetFuncResult(7, 0).AsDouble(), 7.5);
    EXPECT_EQ(list.GetFuncResult(7, 1).AsInteger(), 3);
    EXPECT_EQ(list.GetFuncResult(9, 0).AsString(), "a");
    EXPECT_EQ(list.HolderCount(), 2);
    EXPECT_THROW(list.FindFuncResultItem(8, 0), Exception);
    EXPECT_THROW(list.FindFuncResultItem(7, 2), Exception);
}

// ============================================================ live results

TEST(ResultSetLiveTest, HiddenFieldsHoldTheBaseRecord)
{
    TDriverFixture fixture(false);
    fixture.AddTable(FixtureTable());
    TVekQueryProvider provider;
    provider.SetDatabase(&fixture.Db());
    provider.SetRequestLive(true);
    provider.SetSQL("SELECT id, v, v + 1 FROM t WHERE id > 4");
    ASSERT_TRUE(provider.ValidateSQL()) << provider.GetErrorsAsText();
    ASSERT_TRUE(provider.PreparePlan() && provider.CreateResultSet()) << provider.GetErrorsAsText();
    ASSERT_TRUE(provider.GetIsLiveRequest());
    TVekQueryDataset* set = provider.GetResultSet();
    // Three visible fields; the computed one is read-only.
    ASSERT_EQ(set->FieldCount(), 3);
    EXPECT_EQ(set->FindField(ResultRecAddrFieldName), nullptr);
    EXPECT_TRUE(set->Fields()->Fields(2)->ReadOnly());
    EXPECT_FALSE(set->Fields()->Fields(1)->ReadOnly());
    const Integer addrField = set->GetFieldNo(ResultRecAddrFieldName);
    ASSERT_GE(addrField, 0);

    TVekTable base(nullptr);
    base.SetDataBase(&fixture.Db());
    base.SetTableName("t");
    base.SetMemory(true);
    base.Open();
    int rows = 0;
    for (bool more = set->DataSetFirst(); more; more = set->DataSetNext(), ++rows) {
        const auto address = static_cast<Cardinal>(set->GetFieldData(addrField).AsInteger());
        base.DataSetSetToUnorderedRecord(address);
        EXPECT_EQ(base.DataSetGetFieldDataAsVariant(base.GetFieldNo("id")).AsInteger(),
                  set->GetFieldData(set->GetFieldNo("id")).AsInteger());
    }
    EXPECT_EQ(rows, 2);
}

// ====================================================== target operations

class TargetOperationsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        FFixture = std::make_unique<TDriverFixture>(GetParam());
        TTableSpec spec;
        spec.Name = "w";
        spec.Columns = {{"id", ftInteger}, {"a", ftInteger}, {"b", ftInteger}, {"note", ftMemo}};
        // A non-unique index on a: an update that moves keys must still
        // visit every record exactly once.
        spec.Indexes = {{"byA", "a", 0, ""}};
        for (int i = 1; i <= 5; ++i)
            spec.Rows.push_back(Row({i, i % 2, 10 * i, N}));
        FFixture->AddTable(spec);
        FTarget = std::make_unique<TVekQueryDataset>(nullptr);
        FTarget->SetDataBase(&FFixture->Db());
        FTarget->SetTableName("w");
        FTarget->SetMemory(!GetParam());
        FTarget->Open();
    }
    void TearDown() override
    {
        FTarget->Close();
        FTarget.reset();
        FFixture.reset();
    }

    // id|a|b|note of every record, by id.
    std::vector<std::string> Rows()
    {
        const auto result = FFixture->Run("SELECT id, a, b, note FROM w ORDER BY id");
        EXPECT_EQ(result.Error, "");
        return result.Rows;
    }

    std::unique_ptr<TDriverFixture> FFixture;
    std::unique_ptr<TVekQueryDataset> FTarget;
};

TEST_P(TargetOperationsTest, UpdateSwapsAndVisitsEveryRecordOnce)
{
    // SET a = b, b = a + 1 over every record, read from the record buffer.
    TVekExprDBDataProvider provider;
    provider.Initialize(FTarget.get());
    provider.SetReadDataFromRecBuf(true);
    TVekParserEngine engine;
    engine.PreParseSQL("UPDATE w SET a = b, b = a + 1");
    engine.UpdateParser()->SetTableListValidateEvent([&](TTableList* Tables) {
        for (int i = 0; i < Tables->Count(); ++i) {
            Tables->Items(i)->SetTableFields(FTarget->GetInternalFields());
            Tables->Items(i)->SetMemory(!GetParam());
        }
        return true;
    });
    ASSERT_TRUE(engine.ParseUpdateStatement()) << engine.GetErrorMsg();
    TVekUpdateRowConstructor& assignments = *engine.UpdateParser()->Row();
    assignments.Prepare(&provider);
    std::vector<Cardinal> none;
    FTarget->UpdateData(true, none, &assignments);
    EXPECT_EQ(FTarget->GetRowsAffected(), 5);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|10|2|~", "2|20|1|~", "3|30|2|~", "4|40|1|~", "5|50|2|~"}));
}

TEST_P(TargetOperationsTest, InsertAndDelete)
{
    TResultSetFields fields;
    const char* names[] = {"id", "b", "note"};
    const Variant values[] = {Variant(9), Variant(90), Variant("a long note")};
    for (int i = 0; i < 3; ++i) {
        TResultSetField* column = fields.Add();
        column->SetFieldName(names[i]);
        column->DataValue = values[i];
    }
    FTarget->InsertData(&fields);
    EXPECT_EQ(FTarget->GetRowsAffected(), 1);
    EXPECT_EQ(Rows().back(), "9|~|90|'a long note'");

    // Delete the listed records, then all.
    std::vector<Cardinal> list;
    for (bool more = FTarget->DataSetFirst(); more; more = FTarget->DataSetNext())
        if (FTarget->GetFieldData(FTarget->GetFieldNo("a")).IsNull() ||
            FTarget->GetFieldData(FTarget->GetFieldNo("a")).AsInteger() == 0)
            list.push_back(FTarget->DatasetGetRecAddr());
    FTarget->DeleteData(false, list);
    EXPECT_EQ(FTarget->GetRowsAffected(), 3);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|1|10|~", "3|1|30|~", "5|1|50|~"}));
    FTarget->DeleteData(true, list);
    EXPECT_EQ(FTarget->GetRowsAffected(), 3);
    EXPECT_TRUE(Rows().empty());
}

TEST_P(TargetOperationsTest, InsertFromAnotherResult)
{
    // INSERT INTO w (id, b) SELECT id + 100, v FROM a result.
    FFixture->AddTable(FixtureTable());
    TVekQueryProvider provider;
    provider.SetDatabase(&FFixture->Db());
    provider.SetSQL("SELECT id + 100, v FROM t WHERE id <= 3");
    ASSERT_TRUE(provider.ValidateSQL() && provider.PreparePlan() && provider.CreateResultSet())
        << provider.GetErrorsAsText();
    TResultSetFields fields;
    for (const char* name : {"id", "b"})
        fields.Add()->SetFieldName(name);
    FTarget->InsertDataFromDataset(&fields, provider.GetResultSet(), true, false);
    EXPECT_EQ(FTarget->GetRowsAffected(), 3);
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[5], "101|~|10|~");
    EXPECT_EQ(rows[7], "103|~|~|~");
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, TargetOperationsTest, ::testing::Values(false, true),
                         [](const auto& Info) { return Info.param ? "Disk" : "Memory"; });

} // namespace
} // namespace orvex::querytest
