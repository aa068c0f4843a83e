// The SQL engine against SQLite: generated schemas, rows and statements
// (see vekSqlDiffGenerator.h), each statement run on both, results compared
// as multisets (under ORDER BY besides in the order of the keys). An error
// from either side on a generated statement is a failure. A mismatch is
// reduced (clauses and rows dropped while it stays) and printed with the
// seed, the schema, the data, both texts and both results.
//
// CI runs a fixed list of seeds. ORVEX_SQL_DIFF_SEED=N starts the seeds at
// N and ORVEX_SQL_DIFF_COUNT=M runs M of them, for longer runs by hand;
// ORVEX_SQL_DIFF_REDUCE=0 reports mismatches unreduced (faster surveys),
// ORVEX_SQL_DIFF_TRACE=1 prints each statement before it runs.

#include "vekSqlDiffGenerator.h"
#include "vekSqlDiffOrvex.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace orvex::sqldiff {
namespace {

std::vector<std::uint64_t> Seeds(std::uint64_t First, long Count)
{
    std::vector<std::uint64_t> seeds;
    const long from = EnvNumber("ORVEX_SQL_DIFF_SEED", static_cast<long>(First));
    const long count = EnvNumber("ORVEX_SQL_DIFF_COUNT", Count);
    for (long i = 0; i < count; ++i)
        seeds.push_back(static_cast<std::uint64_t>(from + i));
    return seeds;
}

// The side under test: runs the engine's text of a statement.
class TSide {
public:
    virtual ~TSide() = default;
    virtual void Load(const TSchema& Schema) = 0;
    virtual TResult Query(const TText& Sql) = 0;
    virtual TResult Exec(const TText& Sql) = 0;
    virtual std::vector<TRow> TableRows(const TTable& Table) = 0;
};

// SQLite in the engine's place, its rows stored in the opposite order:
// checks the generator's texts, the comparison and the reducer by
// themselves.
class TSqliteSide : public TSide {
public:
    void Load(const TSchema& Schema) override
    {
        TSchema reversed = Schema;
        for (TTable& table : reversed.Tables)
            std::reverse(table.Rows.begin(), table.Rows.end());
        FDb = std::make_unique<TSqlite>();
        FDb->Load(reversed);
    }
    TResult Query(const TText& Sql) override { return FDb->Query(Sql.S); }
    TResult Exec(const TText& Sql) override { return FDb->Exec(Sql.S); }
    std::vector<TRow> TableRows(const TTable& Table) override { return FDb->TableRows(Table); }

private:
    std::unique_ptr<TSqlite> FDb;
};

// The engine in one of its modes.
class TOrvexSide : public TSide {
public:
    explicit TOrvexSide(TEngineMode Mode) : FEngine(Mode) {}
    void Load(const TSchema& Schema) override { FEngine.Load(Schema); }
    TResult Query(const TText& Sql) override { return FEngine.Query(Sql.O); }
    TResult Exec(const TText& Sql) override { return FEngine.Exec(Sql.O); }
    std::vector<TRow> TableRows(const TTable& Table) override { return FEngine.TableRows(Table); }

private:
    TOrvexEngine FEngine;
};

std::function<std::unique_ptr<TSide>()> Engine(TEngineMode Mode)
{
    return [Mode] { return std::make_unique<TOrvexSide>(Mode); };
}

struct TRunOutcome {
    std::string Difference;
    TResult Engine, Expected;
};

TRunOutcome RunSelect(TSide& Side, const TSchema& Schema, const TSelect& Select)
{
    TRunOutcome outcome;
    const TText text = Select.Render();
    TSqlite reference;
    reference.Load(Schema);
    Side.Load(Schema);
    outcome.Expected = reference.Query(text.S);
    outcome.Engine = Side.Query(text);
    outcome.Difference = Compare(outcome.Engine, outcome.Expected, Select.OrderBy);
    return outcome;
}

std::string Report(std::uint64_t Seed, const TSchema& Schema, const TText& Text, const TRunOutcome& Outcome)
{
    return "seed " + std::to_string(Seed) + ": " + Outcome.Difference + "\n" + Schema.Describe() +
           "engine: " + Text.O + "\nSQLite: " + Text.S + "\nengine rows" +
           (Outcome.Engine.Error.empty() ? "" : " (error: " + Outcome.Engine.Error + ")") + ":\n" +
           RowsText(Outcome.Engine.Rows) + "SQLite rows" +
           (Outcome.Expected.Error.empty() ? "" : " (error: " + Outcome.Expected.Error + ")") + ":\n" +
           RowsText(Outcome.Expected.Rows);
}

// Every statement of a seed on one side; reports at most a few mismatches,
// each reduced.
void CheckSelects(const std::function<std::unique_ptr<TSide>()>& MakeSide, std::uint64_t Seed, int Statements)
{
    TGenerator generator(Seed);
    const TSchema schema = generator.Schema();
    std::unique_ptr<TSide> side = MakeSide();
    TSqlite reference;
    reference.Load(schema);
    side->Load(schema);
    int failures = 0;
    for (int s = 0; s < Statements && failures < 3; ++s) {
        TSelect select = generator.Select(schema);
        const TText text = select.Render();
        TRunOutcome outcome;
        if (EnvNumber("ORVEX_SQL_DIFF_TRACE", 0) != 0)
            std::fprintf(stderr, "seed %llu statement %d: %s\n", static_cast<unsigned long long>(Seed), s,
                         text.O.c_str());
        outcome.Expected = reference.Query(text.S);
        outcome.Engine = side->Query(text);
        outcome.Difference = Compare(outcome.Engine, outcome.Expected, select.OrderBy);
        if (outcome.Difference.empty())
            continue;
        ++failures;
        TSchema small = schema;
        if (EnvNumber("ORVEX_SQL_DIFF_REDUCE", 1) != 0)
            Reduce(small, select, [&](const TSchema& Schema, const TSelect& Candidate) {
                std::unique_ptr<TSide> fresh = MakeSide();
                return !RunSelect(*fresh, Schema, Candidate).Difference.empty();
            });
        std::unique_ptr<TSide> fresh = MakeSide();
        const TRunOutcome reduced = RunSelect(*fresh, small, select);
        ADD_FAILURE() << "statement " << s << " (unreduced: " << text.O << ")\n"
                      << Report(Seed, small, select.Render(), reduced);
    }
}

// A DML sequence: after each statement both hold the same tables and
// report the same rows affected.
void CheckDml(const std::function<std::unique_ptr<TSide>()>& MakeSide, std::uint64_t Seed, int Statements)
{
    TGenerator generator(Seed);
    TSchema schema = generator.Schema();
    std::unique_ptr<TSide> side = MakeSide();
    TSqlite reference;
    reference.Load(schema);
    side->Load(schema);
    const TSchema initial = schema;
    std::vector<std::string> done;
    for (int s = 0; s < Statements; ++s) {
        const TDml dml = generator.Dml(schema);
        const TResult expected = reference.Exec(dml.Text.S);
        const TResult engine = side->Exec(dml.Text);
        // Until statement execution lands the driver answers every DML
        // statement so; nothing to compare then.
        if (engine.Error.find("This statement type is not built yet") != std::string::npos)
            GTEST_SKIP() << "INSERT, UPDATE and DELETE are not built yet";
        done.push_back(dml.Text.O);
        std::string difference = Compare(engine, expected, {});
        TTable* table = schema.Find(dml.Table);
        table->Rows = reference.TableRows(*table);
        if (difference.empty()) {
            TResult mine, theirs;
            mine.Rows = side->TableRows(*table);
            theirs.Rows = table->Rows;
            mine.RowsAffected = theirs.RowsAffected = 0;
            difference = Compare(mine, theirs, {});
            if (!difference.empty())
                difference = "table " + dml.Table + " differs afterwards: " + difference + "\nengine table:\n" +
                             RowsText(mine.Rows) + "SQLite table:\n" + RowsText(theirs.Rows);
        }
        if (!difference.empty()) {
            std::string history;
            for (const std::string& statement : done)
                history += "  " + statement + ";\n";
            ADD_FAILURE() << "seed " << Seed << ", DML statement " << s << ": " << difference
                          << "\nengine error: " << engine.Error << "\nSQLite error: " << expected.Error
                          << "\nstatements so far:\n"
                          << history << "SQLite: " << dml.Text.S << "\n"
                          << initial.Describe();
            return;
        }
    }
}

// COUNT(*) over each whole table, the statement the lone-COUNT shortcut
// answers (the generated statements seldom are that one).
void CheckWholeTableCounts(TSide& Side, std::uint64_t Seed)
{
    TGenerator generator(Seed);
    const TSchema schema = generator.Schema();
    TSqlite reference;
    reference.Load(schema);
    Side.Load(schema);
    for (const TTable& table : schema.Tables) {
        const std::string sql = "SELECT COUNT(*) FROM " + table.Name;
        EXPECT_EQ(Compare(Side.Query({sql, sql}), reference.Query(sql), {}), "") << "seed " << Seed << ": " << sql;
    }
}

// ------------------------------------------------------------------ tests

// The generator's texts run on SQLite and agree with themselves over rows
// stored in another order: checks the rendering, the comparison and the
// order check.
TEST(SqlDifferential, GeneratorAgreesWithItselfOnSqlite)
{
    for (std::uint64_t seed : Seeds(1, 8))
        CheckSelects([] { return std::make_unique<TSqliteSide>(); }, seed, 60);
}

TEST(SqlDifferential, DmlGeneratorAgreesWithItselfOnSqlite)
{
    for (std::uint64_t seed : Seeds(1, 10))
        CheckDml([] { return std::make_unique<TSqliteSide>(); }, seed, 25);
}

// Tables loaded into the engine read back as they were stored: the
// loader and reader the engine tests stand on.
TEST(SqlDifferential, EngineTablesRoundTrip)
{
    for (bool disk : {false, true}) {
        TGenerator generator(3);
        const TSchema schema = generator.Schema();
        TEngineMode mode;
        mode.Disk = disk;
        TOrvexEngine engine(mode);
        engine.Load(schema);
        for (const TTable& table : schema.Tables) {
            TResult stored, expected;
            stored.Rows = engine.TableRows(table);
            expected.Rows = table.Rows;
            EXPECT_EQ(Compare(stored, expected, {}), "") << table.Name << (disk ? " on disk" : " in MEMORY");
        }
    }
}

// SELECT statements on the engine against SQLite, in MEMORY and on disk.
TEST(SqlDifferential, SelectMatchesSqlite)
{
    if (!EngineAvailable())
        GTEST_SKIP() << "the statement driver is not built";
    for (std::uint64_t seed : Seeds(100, 4)) {
        TEngineMode mode;
        mode.Disk = seed % 2 == 1;
        CheckSelects(Engine(mode), seed, 25);
    }
}

// The same statements give the same rows whatever the engine's way to
// them: without indexes, with every condition rated olNone, with each join
// method forced, with the lone-COUNT shortcut off.
TEST(SqlDifferential, MetamorphicVariantsMatchSqlite)
{
    if (!EngineAvailable())
        GTEST_SKIP() << "the statement driver is not built";
    std::vector<TEngineMode> modes(6);
    modes[0].DropIndexes = true;
    modes[1].ForceNoIndexes = true;
    modes[2].JoinMethod = 1; // hash
    modes[3].JoinMethod = 2; // indexed range
    modes[4].JoinMethod = 3; // nested loop
    modes[5].NoCountShortcut = true;
    std::uint64_t next = 500;
    for (const TEngineMode& mode : modes)
        for (std::uint64_t seed : Seeds(next++, 1)) {
            SCOPED_TRACE(mode.Describe());
            CheckSelects(Engine(mode), seed, 20);
        }
    // COUNT(*) of a whole table with the shortcut on and off, on both
    // database kinds.
    for (std::uint64_t seed : Seeds(next, 4))
        for (const bool shortcut : {true, false}) {
            TEngineMode mode;
            mode.Disk = seed % 2 == 0;
            mode.NoCountShortcut = !shortcut;
            SCOPED_TRACE(mode.Describe());
            TOrvexSide side(mode);
            CheckWholeTableCounts(side, seed);
        }
}

// INSERT, UPDATE and DELETE: the same tables and rows affected after each.
TEST(SqlDifferential, DmlMatchesSqlite)
{
    if (!EngineAvailable())
        GTEST_SKIP() << "the statement driver is not built";
    for (std::uint64_t seed : Seeds(200, 4)) {
        TEngineMode mode;
        mode.Disk = seed % 2 == 0;
        CheckDml(Engine(mode), seed, 20);
    }
}

// The comparison itself: multisets, tolerance, ORDER BY as key order.
TEST(SqlDifferential, ComparisonRules)
{
    auto row = [](std::initializer_list<TValue> values) { return TRow(values); };
    TResult a, b;
    a.Rows = {row({TValue::MakeInt(1), TValue::MakeString("x")}), row({TValue::MakeNull(), TValue::MakeString("y")})};
    b.Rows = {row({TValue::MakeNull(), TValue::MakeString("y")}), row({TValue::MakeFloat(1.0 + 1e-12), TValue::MakeString("x")})};
    EXPECT_EQ(Compare(a, b, {}), "");
    b.Rows[1][1] = TValue::MakeString("X");
    EXPECT_NE(Compare(a, b, {}), "");
    b.Rows[1][1] = TValue::MakeString("x");
    b.Rows[0][0] = TValue::MakeInt(0);
    EXPECT_NE(Compare(a, b, {}), "") << "NULL differs from 0";
    b.Rows[0][0] = TValue::MakeNull();
    // Ascending: NULL first; a row out of order fails even with equal multisets.
    TOrderKey key;
    key.Column = 0;
    EXPECT_NE(Compare(a, b, {key}), "");
    std::swap(a.Rows[0], a.Rows[1]);
    EXPECT_EQ(Compare(a, b, {key}), "");
    key.Descending = true;
    EXPECT_NE(Compare(a, b, {key}), "");
    // Strings order by the engine's collation ('a' before 'B'), not by bytes.
    TResult s;
    s.Rows = {row({TValue::MakeString("a")}), row({TValue::MakeString("B")})};
    key.Descending = false;
    EXPECT_EQ(Compare(s, s, {key}), "");
    a.Error = "boom";
    EXPECT_NE(Compare(a, b, {}), "");
}

} // namespace
} // namespace orvex::sqldiff
