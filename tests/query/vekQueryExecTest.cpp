// TVekQuery and statement execution: INSERT, UPDATE, DELETE and schema
// statements with their affected-row counts, parameters, master-detail,
// live results, the transaction rule and the connection state of schema
// statements, on a disk database and on "MEMORY".

#include "../dataset/vekTableTestUtil.h"

#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"
#include "query/vekSQL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace {

using tabletests::TTableFixture;
using tabletests::TWhere;

class QueryExec : public ::testing::TestWithParam<TWhere> {
protected:
    QueryExec() : F(GetParam()) {}

    bool OnDisk() const { return GetParam() == TWhere::Disk; }

    std::unique_ptr<TVekQuery> NewQuery(const std::string& Sql)
    {
        auto query = std::make_unique<TVekQuery>(nullptr);
        query->SetDataBase(&F.Db());
        query->SetSQLText(Sql);
        return query;
    }

    // Runs a modifying statement; its RowsAffected.
    Integer Exec(const std::string& Sql)
    {
        auto query = NewQuery(Sql);
        query->ExecSQL();
        return query->RowsAffected();
    }

    static std::vector<std::string> RowsOf(TDataSet* Set)
    {
        std::vector<std::string> rows;
        for (Set->First(); !Set->Eof(); Set->Next()) {
            std::string row;
            for (int i = 0; i < Set->FieldCount(); ++i) {
                TField* field = Set->Fields()->Fields(i);
                if (i > 0)
                    row += "|";
                row += field->IsNull() ? "~" : field->AsString();
            }
            rows.push_back(row);
        }
        return rows;
    }

    // The rows of a SELECT, one "a|b|c" line each ("~" for NULL).
    std::vector<std::string> Rows(const std::string& Sql)
    {
        auto query = NewQuery(Sql);
        query->Open();
        return RowsOf(query.get());
    }

    // The rows of a table read through a table component, one "a|b" line
    // each, ordered by their first field's number.
    std::vector<std::string> TableRows(const std::string& Table, const std::string& Fields, bool Memory = false)
    {
        TVekTable table(nullptr);
        table.SetDataBase(&F.Db());
        table.SetTableName(Table);
        table.SetMemory(Memory || !OnDisk());
        table.Open();
        std::vector<std::pair<double, std::string>> rows;
        for (table.First(); !table.Eof(); table.Next()) {
            std::string row;
            double key = 0;
            bool first = true;
            for (const std::string& name : SplitFieldNames(Fields)) {
                TField* field = table.FieldByName(name);
                if (first && !field->IsNull())
                    key = field->AsFloat();
                row += (first ? "" : "|") + (field->IsNull() ? std::string("~") : field->AsString());
                first = false;
            }
            rows.emplace_back(key, row);
        }
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto& A, const auto& B) { return A.first < B.first; });
        std::vector<std::string> lines;
        for (auto& row : rows)
            lines.push_back(row.second);
        return lines;
    }

    // t: id primary key, a, b integers, s a string; rows (i, i * 10, 100 - i, "s<i>").
    void CreateT(int Count)
    {
        Exec("CREATE TABLE t (id INTEGER NOT NULL, a INTEGER, b INTEGER, s VARCHAR(10), PRIMARY KEY (id))");
        for (int i = 1; i <= Count; ++i)
            Exec("INSERT INTO t VALUES (" + std::to_string(i) + ", " + std::to_string(i * 10) + ", " +
                 std::to_string(100 - i) + ", 's" + std::to_string(i) + "')");
    }

    TTableFixture F;
};

INSTANTIATE_TEST_SUITE_P(Where, QueryExec, ::testing::Values(TWhere::Disk, TWhere::Memory),
                         tabletests::WhereName);

using Lines = std::vector<std::string>;

TEST_P(QueryExec, EachStatementKindReportsItsRowsAffected)
{
    struct Case {
        const char* Sql;
        Integer Affected;
    };
    const Case cases[] = {
        {"CREATE TABLE t (id INTEGER NOT NULL, a INTEGER, b INTEGER, s VARCHAR(10), PRIMARY KEY (id))", 0},
        {"INSERT INTO t VALUES (1, 10, 90, 'one')", 1},
        {"INSERT INTO t (id, a) VALUES (2, 20)", 1},
        {"INSERT INTO t (id, a) VALUES (3, 30)", 1},
        {"UPDATE t SET b = a + 1 WHERE id > 1", 2},
        {"UPDATE t SET s = 'all'", 3},
        {"DELETE FROM t WHERE id = 1", 1},
        {"CREATE INDEX ixa ON t (a)", 0},
        {"DROP INDEX t ixa", 0},
        {"DELETE FROM t", 2},
        {"DROP TABLE t", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Exec(c.Sql), c.Affected) << c.Sql;
    EXPECT_FALSE(F.Db().TableExists("t", !OnDisk()));
}

TEST_P(QueryExec, InsertUpdateDeleteLeaveTheExpectedRows)
{
    CreateT(0);
    Exec("INSERT INTO t VALUES (1, 10, 90, 'one')");
    Exec("INSERT INTO t (id, a) VALUES (2, 20)");
    Exec("INSERT INTO t (s, id) VALUES ('x', 3)");
    Exec("UPDATE t SET s = 'new', b = a + 1 WHERE id > 1");
    Exec("DELETE FROM t WHERE id = 1");
    EXPECT_EQ(TableRows("t", "id;a;b;s"), (Lines{"2|20|21|new", "3|~|~|new"}));
}

TEST_P(QueryExec, UpdateTouchesEachRowOnceAndSeesTheRowAsRead)
{
    CreateT(5);
    // The key changes in the direction of the index: each row once.
    EXPECT_EQ(Exec("UPDATE t SET id = id * 10"), 5);
    EXPECT_EQ(TableRows("t", "id"), (Lines{"10", "20", "30", "40", "50"}));
    // Every right-hand side reads the row as it was: a swap.
    EXPECT_EQ(Exec("UPDATE t SET a = b, b = a WHERE id <= 20"), 2);
    EXPECT_EQ(TableRows("t", "id;a;b"), (Lines{"10|99|10", "20|98|20", "30|30|97", "40|40|96", "50|50|95"}));
}

TEST_P(QueryExec, UpdateAlongANonUniqueIndexVisitsEveryRow)
{
    Exec("CREATE TABLE g (n INTEGER, k INTEGER, v INTEGER)");
    Exec("CREATE INDEX ixk ON g (k)");
    for (int i = 0; i < 6; ++i)
        Exec("INSERT INTO g VALUES (" + std::to_string(i) + ", " + std::to_string(i % 2) + ", 0)");
    EXPECT_EQ(Exec("UPDATE g SET v = v + 1, k = k + 1"), 6);
    EXPECT_EQ(TableRows("g", "n;k;v"), (Lines{"0|1|1", "1|2|1", "2|1|1", "3|2|1", "4|1|1", "5|2|1"}));
}

TEST_P(QueryExec, AUniqueViolationPartWay)
{
    Exec("CREATE TABLE u (id INTEGER NOT NULL, v INTEGER, PRIMARY KEY (id))");
    for (int id : {10, 20, 30, 40, 50, 55, 60})
        Exec("INSERT INTO u VALUES (" + std::to_string(id) + ", 0)");
    // In key order, 50 + 5 meets the 55 not yet moved: the fifth row fails.
    auto query = NewQuery("UPDATE u SET id = id + 5");
    EXPECT_VEK_ERROR(9729, query->ExecSQL());
    if (OnDisk()) {
        // The statement's own transaction is rolled back: no trace.
        EXPECT_EQ(TableRows("u", "id"), (Lines{"10", "20", "30", "40", "50", "55", "60"}));
        EXPECT_FALSE(F.Db().InTransaction());
    } else {
        // No transactions on "MEMORY": the rows before the failure stay.
        EXPECT_EQ(TableRows("u", "id"), (Lines{"15", "25", "35", "45", "50", "55", "60"}));
    }
}

TEST_P(QueryExec, NotNullColumnsNeedAValue)
{
    CreateT(1);
    EXPECT_ANY_THROW(Exec("INSERT INTO t (a) VALUES (1)"));
    EXPECT_ANY_THROW(Exec("UPDATE t SET id = NULL"));
    EXPECT_EQ(TableRows("t", "id;a"), (Lines{"1|10"}));
}

TEST_P(QueryExec, ErrorsCarryTheirTexts)
{
    CreateT(1);
    struct Case {
        const char* Sql;
        bool Open;
        const char* Text;
    };
    const Case cases[] = {
        {"SELECT * FROM t", false, "SQL statement cannot be executed by ExecSQL. "},
        {"INSERT INTO t VALUES (5, 1, 1, 'x')", true, "SQL statement cannot be opened (execute by ExecSQL)"},
        {"CREATE TABLE t (x INTEGER)", false, "Table already exists: t. "},
        {"DROP TABLE zz", false, "Table not found: zz. "},
        {"DELETE FROM zz", false, "Table not found - zz"},
        {"UPDATE zz SET a = 1", false, "Table not found - zz"},
        {"INSERT INTO zz VALUES (1)", false, "Table not found - zz"},
        {"", false, "SQL statment is empty"},
    };
    for (const Case& c : cases) {
        auto query = NewQuery(c.Sql);
        if (c.Open)
            EXPECT_VEK_ERROR_TEXT(9645, c.Text, query->Open()) << c.Sql;
        else
            EXPECT_VEK_ERROR_TEXT(9645, c.Text, query->ExecSQL()) << c.Sql;
    }
    EXPECT_EQ(TableRows("t", "id"), (Lines{"1"}));
}

TEST_P(QueryExec, ParametersBindAgainAtEveryExecution)
{
    CreateT(0);
    auto insert = NewQuery("INSERT INTO t (id, a, s) VALUES (:id, :a * 2, :s)");
    ASSERT_EQ(insert->ParamCount(), 3);
    for (int i = 1; i <= 3; ++i) {
        insert->ParamByName("id")->SetAsInteger(i);
        insert->ParamByName("a")->SetAsInteger(i * 100);
        insert->ParamByName("s")->SetAsString("p" + std::to_string(i));
        insert->ExecSQL();
        EXPECT_EQ(insert->RowsAffected(), 1);
    }
    auto update = NewQuery("UPDATE t SET a = :v WHERE id = :id");
    for (int i = 1; i <= 2; ++i) {
        update->ParamByName("v")->SetAsInteger(-i);
        update->ParamByName("id")->SetAsInteger(i);
        update->ExecSQL();
        EXPECT_EQ(update->RowsAffected(), 1);
    }
    EXPECT_EQ(TableRows("t", "id;a;s"), (Lines{"1|-1|p1", "2|-2|p2", "3|600|p3"}));
}

TEST_P(QueryExec, DataDefinitionOnTables)
{
    Exec("CREATE TABLE nt (a INTEGER NOT NULL, b VARCHAR(8), PRIMARY KEY (a))");
    Exec("INSERT INTO nt VALUES (1, 'x')");
    Exec("CREATE UNIQUE INDEX ixb ON nt (b)");
    EXPECT_VEK_ERROR(9729, Exec("INSERT INTO nt VALUES (2, 'x')"));
    Exec("DROP INDEX nt ixb");
    EXPECT_EQ(Exec("INSERT INTO nt VALUES (2, 'x')"), 1);
    if (OnDisk()) {
        Exec("ALTER TABLE nt ADD c INTEGER");
        Exec("UPDATE nt SET c = a * 3");
        EXPECT_EQ(TableRows("nt", "a;b;c"), (Lines{"1|x|3", "2|x|6"}));
    }
    Exec("DROP TABLE nt");
    EXPECT_FALSE(F.Db().TableExists("nt", !OnDisk()));
    // A temporary table is an in-memory table on either database.
    Exec("CREATE TABLE TEMPORARY tmp (k INTEGER)");
    EXPECT_TRUE(F.Db().TableExists("tmp", true));
    Exec("INSERT INTO tmp VALUES (4)");
    EXPECT_EQ(TableRows("tmp", "k", true), (Lines{"4"}));
    Exec("DROP TABLE tmp");
    EXPECT_FALSE(F.Db().TableExists("tmp", true));
}

TEST_P(QueryExec, AUniqueIndexTheRowsViolateChangesNothing)
{
    CreateT(4);
    Exec("UPDATE t SET b = 7 WHERE id > 2");
    EXPECT_VEK_ERROR(9729, Exec("CREATE UNIQUE INDEX ixb ON t (b)"));
    EXPECT_EQ(TableRows("t", "id;b"), (Lines{"1|99", "2|98", "3|7", "4|7"}));
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM t WHERE b = 7"), (Lines{"2"}));
    EXPECT_EQ(Exec("INSERT INTO t VALUES (5, 50, 7, 's5')"), 1);
}

TEST_P(QueryExec, ASubqueryInTheSetListReadsTheRowBeingUpdated)
{
    CreateT(3);
    Exec("CREATE TABLE c (x INTEGER)");
    for (int x : {1, 1, 3})
        Exec("INSERT INTO c VALUES (" + std::to_string(x) + ")");
    EXPECT_EQ(Exec("UPDATE t SET b = (SELECT COUNT(*) FROM c WHERE c.x = t.id)"), 3);
    EXPECT_EQ(TableRows("t", "id;b"), (Lines{"1|2", "2|0", "3|1"}));
}

TEST_P(QueryExec, TheTargetsNameInsideASubqueryOverItsOwnTableIsTheRowBeingChanged)
{
    // Inside the subquery the alias x hides the name t, so t.a is the row
    // being deleted or updated, not the subquery's own row.
    struct Case {
        const char* Sql;
        Integer Affected;
        Lines Rows; // id|a|b
    };
    const Case cases[] = {
        {"DELETE FROM t WHERE NOT EXISTS (SELECT * FROM t x WHERE x.a > t.a)", 1,
         {"1|10|99", "2|20|98", "3|30|97"}},
        {"DELETE FROM t WHERE t.b > ALL (SELECT b FROM t x WHERE x.id < t.id)", 1,
         {"2|20|98", "3|30|97", "4|40|96"}},
        {"UPDATE t SET a = 0 WHERE EXISTS (SELECT * FROM t x WHERE x.b > t.b)", 3,
         {"1|10|99", "2|0|98", "3|0|97", "4|0|96"}},
        {"UPDATE t SET b = (SELECT COUNT(*) FROM t x WHERE x.a < t.a)", 4,
         {"1|10|0", "2|20|1", "3|30|2", "4|40|3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sql);
        CreateT(4);
        EXPECT_EQ(Exec(c.Sql), c.Affected);
        EXPECT_EQ(TableRows("t", "id;a;b"), c.Rows);
        Exec("DROP TABLE t");
    }
}

TEST_P(QueryExec, ASelectTakesItsParametersAtEveryOpen)
{
    CreateT(3);
    auto select = NewQuery("SELECT id, a, s FROM t WHERE id >= :low ORDER BY id");
    select->ParamByName("low")->SetAsInteger(2);
    select->Open();
    EXPECT_EQ(RowsOf(select.get()), (Lines{"2|20|s2", "3|30|s3"}));
    EXPECT_EQ(select->RowsAffected(), 2);
    select->Close();
    select->ParamByName("low")->SetAsInteger(3);
    select->Open();
    EXPECT_EQ(RowsOf(select.get()), (Lines{"3|30|s3"}));
}

TEST_P(QueryExec, MasterDetailRunsAgainWhenTheMasterMoves)
{
    Exec("CREATE TABLE m (mid INTEGER NOT NULL, PRIMARY KEY (mid))");
    Exec("CREATE TABLE d (mid INTEGER, n VARCHAR(5))");
    for (int i = 1; i <= 3; ++i)
        Exec("INSERT INTO m VALUES (" + std::to_string(i) + ")");
    Exec("INSERT INTO d VALUES (1, 'a')");
    Exec("INSERT INTO d VALUES (1, 'b')");
    Exec("INSERT INTO d VALUES (3, 'c')");
    TVekTable* master = F.NewTable("m");
    master->Open();
    TDataSource source(nullptr);
    source.SetDataSet(master);
    auto detail = NewQuery("SELECT n FROM d WHERE mid = :mid ORDER BY n");
    detail->SetDataSource(&source);
    detail->Open();
    EXPECT_EQ(RowsOf(detail.get()), (Lines{"a", "b"}));
    master->Next();
    EXPECT_EQ(RowsOf(detail.get()), Lines{});
    master->Next();
    EXPECT_EQ(RowsOf(detail.get()), (Lines{"c"}));
    // A parameter the caller binds stays the caller's.
    detail->Close();
    detail->ParamByName("mid")->SetAsInteger(1);
    detail->Open();
    EXPECT_EQ(RowsOf(detail.get()), (Lines{"a", "b"}));
    detail->SetDataSource(nullptr);
}

TEST_P(QueryExec, ALiveResultWritesBackAndRefusesAChangedRow)
{
    CreateT(3);
    auto live = NewQuery("SELECT id, a, s FROM t WHERE id >= 2 ORDER BY id");
    live->SetRequestLive(true);
    live->Open();
    ASSERT_TRUE(live->CanModify());
    live->First();
    live->Edit();
    live->FieldByName("s")->SetAsString("edited");
    live->Post();
    EXPECT_EQ(Rows("SELECT s FROM t WHERE id = 2"), (Lines{"edited"}));
    // Edited again: the stored counter follows the base record.
    live->Edit();
    live->FieldByName("a")->SetAsInteger(7);
    live->Post();
    EXPECT_EQ(Rows("SELECT a, s FROM t WHERE id = 2"), (Lines{"7|edited"}));

    // Another dataset changes the base row of the next result row.
    Exec("UPDATE t SET a = 99 WHERE id = 3");
    live->Next();
    live->Edit();
    live->FieldByName("s")->SetAsString("lost");
    EXPECT_VEK_ERROR(8708, live->Post());
    live->Cancel();
    EXPECT_EQ(Rows("SELECT a, s FROM t WHERE id = 3"), (Lines{"99|s3"}));
    EXPECT_VEK_ERROR(8708, live->Delete());

    live->First();
    live->Delete();
    live->Append();
    live->FieldByName("id")->SetAsInteger(9);
    live->FieldByName("a")->SetAsInteger(90);
    live->Post();
    EXPECT_EQ(Rows("SELECT id, a FROM t ORDER BY id"), (Lines{"1|10", "3|99", "9|90"}));
    live->Edit();
    live->FieldByName("a")->SetAsInteger(91);
    live->Post();
    EXPECT_EQ(Rows("SELECT a FROM t WHERE id = 9"), (Lines{"91"}));
}

TEST_P(QueryExec, OnlyAPlainSingleTableSelectIsLive)
{
    CreateT(3);
    Exec("CREATE TABLE o (id INTEGER)");
    const char* const notLive[] = {
        "SELECT DISTINCT a FROM t",
        "SELECT COUNT(*) FROM t",
        "SELECT id FROM t WHERE id IN (SELECT id FROM o)",
        "SELECT id FROM t UNION SELECT id FROM o",
        "SELECT t.id FROM t, o WHERE t.id = o.id",
    };
    for (const char* sql : notLive) {
        auto query = NewQuery(sql);
        query->SetRequestLive(true);
        query->Open();
        EXPECT_FALSE(query->CanModify()) << sql;
        EXPECT_ANY_THROW(query->Edit()) << sql;
    }
    auto plain = NewQuery("SELECT id FROM t");
    plain->Open();
    EXPECT_FALSE(plain->CanModify());
}

TEST_P(QueryExec, ClosingOrReopeningAfterATextChangeDropsTheResultTable)
{
    CreateT(2);
    auto query = NewQuery("SELECT id FROM t");
    query->Open();
    const std::string first = query->TableName();
    ASSERT_TRUE(F.Db().TableExists(first, true));
    query->SetSQLText("SELECT a FROM t");
    EXPECT_FALSE(F.Db().TableExists(first, true));
    query->Open();
    const std::string second = query->TableName();
    EXPECT_NE(first, second);
    EXPECT_EQ(RowsOf(query.get()), (Lines{"10", "20"}));
    query->Close();
    EXPECT_FALSE(F.Db().TableExists(second, true));
    query->Open();
    EXPECT_EQ(RowsOf(query.get()), (Lines{"10", "20"}));
}

TEST_P(QueryExec, SelectionsOverTheSameTableSeeItAsItWas)
{
    CreateT(6);
    EXPECT_EQ(Exec("DELETE FROM t WHERE a IN (SELECT a FROM t WHERE b < 97)"), 3);
    EXPECT_EQ(TableRows("t", "id"), (Lines{"1", "2", "3"}));

    Exec("CREATE TABLE c (x INTEGER, y VARCHAR(5))");
    Exec("INSERT INTO c VALUES (1, 'a')");
    Exec("INSERT INTO c VALUES (2, 'b')");
    EXPECT_EQ(Exec("INSERT INTO c SELECT * FROM c"), 2);
    EXPECT_EQ(Exec("INSERT INTO c SELECT * FROM c"), 4);
    EXPECT_EQ(TableRows("c", "x;y"), (Lines{"1|a", "1|a", "1|a", "1|a", "2|b", "2|b", "2|b", "2|b"}));
    EXPECT_EQ(Exec("INSERT INTO t (id, a, s) SELECT x + 10, x, y FROM c WHERE y = 'a' AND x = 1 AND x < 0"), 0);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM c"), (Lines{"8"}));
}

TEST_P(QueryExec, ASelectOpenedAgainSeesRowsWrittenMeanwhile)
{
    CreateT(3);
    auto count = NewQuery("SELECT COUNT(*) FROM t");
    auto point = NewQuery("SELECT s FROM t WHERE id = :id");
    point->ParamByName("id")->SetAsInteger(4);
    count->Open();
    EXPECT_EQ(RowsOf(count.get()), (Lines{"3"}));
    count->Close();
    point->Open();
    EXPECT_EQ(RowsOf(point.get()), Lines{});
    point->Close();
    // Through a statement and through a table component of the connection.
    Exec("INSERT INTO t VALUES (4, 40, 96, 's4')");
    TVekTable* table = F.NewTable("t");
    table->Open();
    table->Append();
    table->FieldByName("id")->SetAsInteger(5);
    table->FieldByName("s")->SetAsString("s5");
    table->Post();
    table->Close();
    count->Open();
    EXPECT_EQ(RowsOf(count.get()), (Lines{"5"}));
    count->Close();
    point->Open();
    EXPECT_EQ(RowsOf(point.get()), (Lines{"s4"}));
    point->Close();
    Exec("DELETE FROM t WHERE id >= 4");
    count->Open();
    EXPECT_EQ(RowsOf(count.get()), (Lines{"3"}));
    point->Open();
    EXPECT_EQ(RowsOf(point.get()), Lines{});
}

TEST_P(QueryExec, ASelectOpenedAgainAfterAFailedRunRunsAsNew)
{
    CreateT(3);
    Exec("UPDATE t SET a = 5 WHERE id = 2");
    // Three groups over MaxRecords 2 fail part-way; the next open, with
    // room for them, answers all three.
    auto select = NewQuery("SELECT a, COUNT(*) FROM t WHERE id <= :top GROUP BY a");
    select->ParamByName("top")->SetAsInteger(3);
    select->SetMaxRecords(2);
    EXPECT_VEK_ERROR(9645, select->Open());
    EXPECT_FALSE(select->Active());
    select->SetMaxRecords(0);
    select->Open();
    EXPECT_EQ(RowsOf(select.get()), (Lines{"5|1", "10|1", "30|1"}));
    select->Close();
    select->SetMaxRecords(2);
    select->ParamByName("top")->SetAsInteger(2);
    select->Open();
    EXPECT_EQ(RowsOf(select.get()), (Lines{"5|1", "10|1"}));
}

// ------------------------------------------------------- disk only

class QueryExecDisk : public QueryExec {};
INSTANTIATE_TEST_SUITE_P(Where, QueryExecDisk, ::testing::Values(TWhere::Disk), tabletests::WhereName);

TEST_P(QueryExecDisk, SchemaStatementsRestoreTheConnectionState)
{
    CreateT(2);
    ASSERT_FALSE(F.Db().Exclusive());
    Exec("CREATE INDEX ixa ON t (a)");
    EXPECT_TRUE(F.Db().Connected());
    EXPECT_FALSE(F.Db().Exclusive());

    // Failing ones too: a column the table lacks, a column it has, and a
    // unique index the rows violate (raised by the restructure).
    EXPECT_VEK_ERROR(9645, Exec("CREATE INDEX ixz ON t (zz)"));
    EXPECT_VEK_ERROR(9645, Exec("ALTER TABLE t ADD a INTEGER"));
    EXPECT_TRUE(F.Db().Connected());
    EXPECT_FALSE(F.Db().Exclusive());
    // One the restructure raises.
    EXPECT_ANY_THROW(Exec("ALTER TABLE t DROP COLUMN id"));
    EXPECT_TRUE(F.Db().Connected());
    EXPECT_FALSE(F.Db().Exclusive());
    EXPECT_EQ(TableRows("t", "id;s"), (Lines{"1|s1", "2|s2"}));

    // With another dataset open the reopen would close it, and with an
    // in-memory table it would drop it: refused, and both stay.
    TVekTable* other = F.NewTable("t");
    other->Open();
    EXPECT_VEK_ERROR(10121, Exec("DROP INDEX t ixa"));
    EXPECT_TRUE(other->Active());
    other->Close();
    Exec("CREATE TABLE TEMPORARY keep (k INTEGER)");
    EXPECT_VEK_ERROR(10121, Exec("DROP INDEX t ixa"));
    EXPECT_TRUE(F.Db().TableExists("keep", true));
    Exec("DROP TABLE keep");
    Exec("DROP INDEX t ixa");
    EXPECT_FALSE(F.Db().Exclusive());
    EXPECT_TRUE(F.Db().Connected());
}

TEST_P(QueryExecDisk, TheHostsTransactionStaysTheHosts)
{
    CreateT(2);
    F.Db().StartTransaction();
    EXPECT_VEK_ERROR(10122, Exec("CREATE INDEX ixa ON t (a)"));
    Exec("INSERT INTO t VALUES (3, 30, 97, 's3')");
    // A failing statement does not end the host's transaction.
    EXPECT_VEK_ERROR(9729, Exec("INSERT INTO t VALUES (1, 0, 0, 'dup')"));
    EXPECT_TRUE(F.Db().InTransaction());
    EXPECT_EQ(TableRows("t", "id"), (Lines{"1", "2", "3"}));
    F.Db().Rollback();
    EXPECT_EQ(TableRows("t", "id"), (Lines{"1", "2"}));
}

TEST_P(QueryExecDisk, AFailingInsertSelectLeavesNoTrace)
{
    CreateT(5);
    Exec("CREATE TABLE w (id INTEGER NOT NULL, PRIMARY KEY (id))");
    Exec("INSERT INTO w VALUES (4)");
    EXPECT_VEK_ERROR(9729, Exec("INSERT INTO w SELECT id FROM t"));
    EXPECT_EQ(Rows("SELECT id FROM w"), (Lines{"4"}));
}

TEST_P(QueryExecDisk, ASelectOpenedAgainSeesAnotherConnectionsTablesAndRows)
{
    // "u" names a temporary table until a disk table of the name appears;
    // "t" gains a row from the other connection.
    CreateT(2);
    Exec("CREATE TABLE TEMPORARY u (id INTEGER, w INTEGER)");
    Exec("INSERT INTO u VALUES (1, 5)");
    auto fromU = NewQuery("SELECT * FROM u");
    auto fromT = NewQuery("SELECT COUNT(*), MAX(id) FROM t");
    auto named = NewQuery("SELECT id FROM t WHERE EXISTS (SELECT * FROM u WHERE u.w = t.id * 5)");
    fromU->Open();
    EXPECT_EQ(RowsOf(fromU.get()), (Lines{"1|5"}));
    fromU->Close();
    named->Open();
    EXPECT_EQ(RowsOf(named.get()), (Lines{"1"}));
    named->Close();
    fromT->Open();
    EXPECT_EQ(RowsOf(fromT.get()), (Lines{"2|2"}));
    fromT->Close();
    {
        TVekDataBase other(nullptr);
        other.SetDataBaseName(F.Dir().File("tables.vek"));
        other.SetLockRetryInterval(20);
        other.Open();
        TVekQuery change(nullptr);
        change.SetDataBase(&other);
        for (const char* sql : {"CREATE TABLE u (id INTEGER, k VARCHAR(3), v FLOAT)", "INSERT INTO u VALUES (7, 'x', 1.5)",
                                "INSERT INTO t VALUES (9, 90, 91, 's9')"}) {
            change.SetSQLText(sql);
            change.ExecSQL();
        }
        other.Close();
    }
    // The disk table comes before the temporary one, with its own columns;
    // a column only the temporary one had fails as in a fresh statement.
    fromU->Open();
    EXPECT_EQ(RowsOf(fromU.get()), (Lines{"7|x|1.5"}));
    EXPECT_VEK_ERROR(9645, named->Open());
    EXPECT_VEK_ERROR(9645, named->Open());
    fromT->Open();
    EXPECT_EQ(RowsOf(fromT.get()), (Lines{"3|9"}));
}

} // namespace
} // namespace orvex
