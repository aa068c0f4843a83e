// A filter answered from an index against SQLite in one run: a table of
// ORVEX_BENCH_ROWS records (1,000,000 by default) with a non-unique integer
// key K (about ten records a value) and an index on it, in a database file.
//
//   between    the count of the records of "K BETWEEN a AND a + 99" for 200
//              (ORVEX_BENCH_QUERIES) random a: Orvex parses the condition, the optimiser rates it
//              (olFull) and counts its records from their positions in the
//              index (no record is listed for a count); SQLite steps
//              a prepared "SELECT count(*) FROM t WHERE K BETWEEN ? AND ?"
//              over its index on K
//   in         the same with "K IN (a, a + 7, a + 300, a + 301)"
//
// Orvex reads each condition as text; SQLite's time is taken twice: with
// one prepared statement whose parameters are bound per query (ratio), and
// with each query's text prepared (ratio_prepare_each), as a filter text is.
// Each benchmark reports both times and ratio = SQLite time / Orvex time
// (above 1: Orvex is faster); ratio_listed is the same for other starts
// with Orvex listing the records' addresses as a filter does
// (orvex_listed_ms).

#include "dataset/vekDatabase.h"
#include "sql/vekExprParser.h"
#include "sql/vekFilterOptimizer.h"
#include "storage/vekIndexUnitManager.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex {
namespace {

int Rows()
{
    return bench::BenchRows(1000);
}

int KeyOf(int Row)
{
    return static_cast<int>((static_cast<unsigned>(Row) * 2654435761u) % static_cast<unsigned>(Rows() / 10 + 1));
}

// The number of queries of each benchmark: 200, or ORVEX_BENCH_QUERIES.
int QueryCount()
{
    if (const char* text = std::getenv("ORVEX_BENCH_QUERIES"))
        return std::max(1, std::atoi(text));
    return 200;
}

using bench::Clock;

using bench::TScratch;

// The count of the records a filter text passes, from the indexes only.
class TOrvexSide {
public:
    explicit TOrvexSide(const TScratch& Scratch)
    {
        TVekDataBase creator(nullptr);
        creator.SetDataBaseName(Scratch.File("optim.vek"));
        creator.CreateDatabase();
        FDb.SetDataBaseName(Scratch.File("optim.vek"));
        FDb.Open();
        FTable.SetDataBase(&FDb);
        FTable.SetTableName("t");
        FTable.FieldDefs()->Add("K", ftInteger, 0, false);
        FTable.FieldDefs()->Add("V", ftInteger, 0, false);
        FTable.IndexDefs()->Add("ixK", "K", {});
        FTable.CreateTable();
        FTable.Open();
        FDb.StartTransaction();
        FTable.SetLocked(true);
        TField* key = FTable.FieldByName("K");
        TField* value = FTable.FieldByName("V");
        for (int row = 0; row < Rows(); ++row) {
            FTable.Append();
            key->SetAsInteger(KeyOf(row));
            value->SetAsInteger(row);
            FTable.Post();
        }
        FTable.SetLocked(false);
        FDb.Commit();
        TIndexItem* index = FTable.IndexManager()->FindIndex("ixK");
        FRegistry.Add("ixK", index->KeyFields(), index->Tree());
        TTableNameItem* item = FTables.Add();
        item->SetTableName("t");
        for (const char* name : {"K", "V"}) {
            TInternalFieldItem* field = item->TableFields()->Add();
            field->SetFieldName(name);
            field->SetDataType(ftInteger);
        }
    }
    ~TOrvexSide()
    {
        FTable.Close();
        FDb.Close();
    }

    // With List the records are listed (a filter's list), not only counted.
    Integer Count(const std::string& Text, bool List = false)
    {
        TVekPreParser pre;
        pre.SetParseAsExprOnly(true);
        pre.SetText(Text);
        pre.PreParseTokens();
        TVekExprParser parser;
        parser.SetTableList(&FTables);
        parser.Execute({vpoExtSyntax}, pre.GetSection(vstWhere));
        TFilterOptimizer optimizer(&FRegistry);
        optimizer.SetExprRoot(parser.Root());
        optimizer.AnalyzeExpr();
        if (optimizer.GetBaseOptimisationLevel() != olFull)
            throw std::runtime_error("not answered from the index: " + Text);
        optimizer.PrepareResultLists();
        optimizer.CombineResultLists();
        return List ? optimizer.GetResultSetList()->Count() : optimizer.GetResultSetCount();
    }

private:
    TVekDataBase FDb{nullptr};
    TVekTable FTable{nullptr};
    TIndexQueryMgr FRegistry;
    TTableList FTables;
};

class TSqliteSide {
public:
    explicit TSqliteSide(const TScratch& Scratch)
    {
        if (sqlite3_open(Scratch.File("optim.sqlite").c_str(), &FDb) != SQLITE_OK)
            throw std::runtime_error("sqlite open");
        Exec("PRAGMA synchronous=FULL");
        Exec("CREATE TABLE t (K INTEGER, V INTEGER)");
        Exec("CREATE INDEX ixK ON t (K)");
        sqlite3_stmt* insert = Prepare("INSERT INTO t (K, V) VALUES (?, ?)");
        Exec("BEGIN");
        for (int row = 0; row < Rows(); ++row) {
            sqlite3_bind_int(insert, 1, KeyOf(row));
            sqlite3_bind_int(insert, 2, row);
            if (sqlite3_step(insert) != SQLITE_DONE)
                throw std::runtime_error("sqlite insert");
            sqlite3_reset(insert);
        }
        Exec("COMMIT");
        sqlite3_finalize(insert);
    }
    ~TSqliteSide() { sqlite3_close(FDb); }

    // The count of a statement's text, prepared for this query alone.
    Integer CountText(const std::string& Sql)
    {
        sqlite3_stmt* statement = Prepare(Sql.c_str());
        if (sqlite3_step(statement) != SQLITE_ROW)
            throw std::runtime_error("sqlite count");
        const Integer count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        return count;
    }

    // The statement prepared once, its parameters bound per query.
    Integer Count(sqlite3_stmt* Statement, const std::vector<int>& Values)
    {
        for (std::size_t i = 0; i < Values.size(); ++i)
            sqlite3_bind_int(Statement, static_cast<int>(i + 1), Values[i]);
        if (sqlite3_step(Statement) != SQLITE_ROW)
            throw std::runtime_error("sqlite count");
        const Integer count = sqlite3_column_int(Statement, 0);
        sqlite3_reset(Statement);
        return count;
    }
    sqlite3_stmt* Prepare(const char* Sql)
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(FDb, Sql, -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FDb));
        return statement;
    }
    void Exec(const char* Sql)
    {
        if (sqlite3_exec(FDb, Sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FDb));
    }

private:
    sqlite3* FDb = nullptr;
};

struct TSides {
    TScratch Scratch{"vekoptim"};
    TOrvexSide Orvex{Scratch};
    TSqliteSide Sqlite{Scratch};
    // The starts of the counted queries, and other starts (whose leaves are
    // not in the caches yet) for the listed ones.
    std::vector<int> Starts;
    std::vector<int> ListStarts;
    TSides()
    {
        std::mt19937 random(7);
        for (int i = 0; i < QueryCount(); ++i)
            Starts.push_back(static_cast<int>(random() % static_cast<unsigned>(Rows() / 10)));
        for (int i = 0; i < QueryCount(); ++i)
            ListStarts.push_back(static_cast<int>(random() % static_cast<unsigned>(Rows() / 10)));
    }
};

TSides& Sides()
{
    static TSides sides;
    return sides;
}

// One benchmark's queries on both sides: TextOf(a) is the condition for
// start a, ValuesOf(a) the parameters of the prepared statement Prepared.
template <class TTextOf, class TValuesOf>
void RunQueries(benchmark::State& State, TTextOf TextOf, TValuesOf ValuesOf, const char* Prepared)
{
    TSides& sides = Sides();
    for (auto _ : State) {
        auto orvexPass = [&](const std::vector<int>& Starts, bool List, Integer& Rows) {
            const auto start = Clock::now();
            for (int a : Starts)
                Rows += sides.Orvex.Count(TextOf(a), List);
            return bench::SecondsSince(start);
        };
        auto sqlitePass = [&](const std::vector<int>& Starts, Integer& Rows) {
            sqlite3_stmt* count = sides.Sqlite.Prepare(Prepared);
            const auto start = Clock::now();
            sides.Sqlite.Exec("BEGIN");
            for (int a : Starts)
                Rows += sides.Sqlite.Count(count, ValuesOf(a));
            sides.Sqlite.Exec("COMMIT");
            const double seconds = bench::SecondsSince(start);
            sqlite3_finalize(count);
            return seconds;
        };
        Integer orvexRows = 0, sqliteRows = 0, listedRows = 0, sqliteListedRows = 0;
        const double orvexTime = orvexPass(sides.Starts, false, orvexRows);
        const double sqliteTime = sqlitePass(sides.Starts, sqliteRows);
        const double listedTime = orvexPass(sides.ListStarts, true, listedRows);
        const double sqliteListedTime = sqlitePass(sides.ListStarts, sqliteListedRows);
        auto start = Clock::now();
        sides.Sqlite.Exec("BEGIN");
        for (int a : sides.Starts)
            sides.Sqlite.CountText("SELECT count(*) FROM t WHERE " + TextOf(a));
        sides.Sqlite.Exec("COMMIT");
        const double sqliteTextTime = bench::SecondsSince(start);

        if (orvexRows != sqliteRows || listedRows != sqliteListedRows)
            State.SkipWithError("the two sides count differently");
        State.counters["orvex_listed_ms"] = listedTime * 1000;
        State.counters["ratio_listed"] = listedTime > 0 ? sqliteListedTime / listedTime : 0;
        State.counters["sqlite_each_ms"] = sqliteTextTime * 1000;
        State.counters["ratio_prepare_each"] = orvexTime > 0 ? sqliteTextTime / orvexTime : 0;
        State.counters["orvex_ms"] = orvexTime * 1000;
        State.counters["sqlite_ms"] = sqliteTime * 1000;
        State.counters["ratio"] = orvexTime > 0 ? sqliteTime / orvexTime : 0;
        State.counters["rows"] = static_cast<double>(orvexRows);
    }
}

void BM_FilterBetween(benchmark::State& State)
{
    RunQueries(
        State, [](int a) { return "K BETWEEN " + std::to_string(a) + " AND " + std::to_string(a + 99); },
        [](int a) { return std::vector<int>{a, a + 99}; }, "SELECT count(*) FROM t WHERE K BETWEEN ? AND ?");
}
BENCHMARK(BM_FilterBetween)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FilterIn(benchmark::State& State)
{
    RunQueries(
        State,
        [](int a) {
            return "K IN (" + std::to_string(a) + ", " + std::to_string(a + 7) + ", " + std::to_string(a + 300) +
                   ", " + std::to_string(a + 301) + ")";
        },
        [](int a) { return std::vector<int>{a, a + 7, a + 300, a + 301}; },
        "SELECT count(*) FROM t WHERE K IN (?, ?, ?, ?)");
}
BENCHMARK(BM_FilterIn)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
