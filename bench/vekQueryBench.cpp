// The SQL benchmark against SQLite: both engines on disk in one temporary
// folder, SQLite with synchronous FULL and a rollback journal (the engine's
// durability), warm runs, the same rows on both sides.
//
// Data: T1 (ORVEX_BENCH_ROWS / 10 rows, default 100,000) and T2
// (ORVEX_BENCH_ROWS, default 1,000,000) with columns id (primary key),
// k (join key, T1's size distinct values), g (100 groups), v FLOAT and
// s VARCHAR(20); T2K holds T2's rows with a secondary index on k.
//
// Every query of the table below runs at half and at full size. Each
// benchmark reports orvex_ms, sqlite_ms, ratio = SQLite time / Orvex time
// (above 1: Orvex is faster) and scaling = full-size time / half-size time
// of the Orvex side (sqlite_scaling for SQLite); a scaling above 2.3 fails
// the benchmark. The Orvex side runs the statement through the parser
// engine, the analyser, the plan and the provider manager and reads every
// row (COUNT and SUM are taken over the rows it delivers); statements that
// need the result set or statement execution (GROUP BY, ORDER BY,
// DISTINCT, UPDATE, DELETE, EXISTS) report SQLite's side alone until the
// query component runs them ("orvex": "not run").

#include "dataset/vekDatabase.h"
#include "query/vekQueryAnalyser.h"
#include "query/vekQueryPlanner.h"
#include "sql/vekParserEngine.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex {
namespace {

int FullRows()
{
    return bench::BenchRows(2000);
}

using bench::Clock;

// One row of T1 or T2 (T2K holds T2's rows).
struct TRow {
    int Id;
    int K;
    int G;
    double V;
    std::string S;
};

TRow MakeRow(int Id, int Distinct, std::mt19937& Random)
{
    static const char* const Words[] = {"Hat", "Ham", "Cat", "Dog", "Eel", "Fox", "Gnu", "Hen"};
    TRow row;
    row.Id = Id;
    row.K = static_cast<int>(Random() % static_cast<unsigned>(Distinct));
    row.G = static_cast<int>(Random() % 100);
    row.V = static_cast<double>(Random() % 20000) / 100.0;
    row.S = std::string(Words[Random() % 8]) + std::to_string(Random() % 5000);
    return row;
}

using bench::TScratch;

// Both engines holding the same T1, T2 and T2K of one size.
class TQuerySides {
public:
    explicit TQuerySides(int Rows) : FRows(Rows), FDb(nullptr)
    {
        const std::string file = FScratch.File("query.vek");
        {
            TVekDataBase creator(nullptr);
            creator.SetDataBaseName(file);
            creator.CreateDatabase();
        }
        FDb.SetDataBaseName(file);
        FDb.Open();
        if (sqlite3_open(FScratch.File("query.sqlite").c_str(), &FLite) != SQLITE_OK)
            throw std::runtime_error("sqlite3_open");
        Exec("PRAGMA synchronous=FULL");
        Exec("PRAGMA journal_mode=DELETE");
        const int small = std::max(1, Rows / 10);
        Create("T1", small, small, false);
        Create("T2", Rows, small, false);
        Create("T2K", Rows, small, true);
    }
    ~TQuerySides()
    {
        FDb.Close();
        sqlite3_close(FLite);
    }

    int Rows() const { return FRows; }

    // The rows of Sql through the query back end; Sum adds up column SumField
    // of table SumTable when given.
    long OrvexRows(const std::string& Sql, const std::string& SumTable = {}, const std::string& SumField = {},
                   double* Sum = nullptr)
    {
        TVekParserEngine engine;
        engine.PreParseSQL(Sql);
        if (!engine.ParseFromClause())
            throw std::runtime_error(engine.GetErrorMsg());
        for (int i = 0; i < engine.TableList()->Count(); ++i) {
            TTableNameItem* item = engine.TableList()->Items(i);
            item->SetTableFields(FFields.at(item->TableName()).get());
        }
        if (!engine.ParseSelectClause() || !engine.ParseWhereClause())
            throw std::runtime_error(engine.GetErrorMsg());
        TVekQueryAnalyser analyser;
        TVekJoins joins;
        TVekSelects selects;
        TVekExprNode* where = engine.WhereParser()->Root();
        analyser.Prepare(&joins, &selects, where, engine.TableList());
        // A statement runs with the connection in query mode, as the query
        // component sets it.
        FDb.SetQueryActive(true);
        struct TQueryModeOff {
            TVekDataBase& Db;
            ~TQueryModeOff() { Db.SetQueryActive(false); }
        } queryModeOff{FDb};
        TVekJoinDataProviderMgr mgr;
        mgr.SetDatabase(&FDb);
        TVekPlan plan;
        plan.SetTableList(engine.TableList());
        plan.SetJoins(&joins);
        plan.SetSelects(&selects);
        plan.SetProviderMgr(&mgr);
        plan.SetFromTrees(engine.FromParser()->Trees());
        plan.SetResidualRoot(analyser.CheckAnalysisComplete() ? nullptr : where);
        plan.PreparePlan();
        TVekNonJoinDataProvider* sumLeaf = nullptr;
        if (Sum) {
            for (const auto& leaf : mgr.NonJoinProviders())
                if (SameText(leaf->TableName(), SumTable))
                    sumLeaf = leaf.get();
            if (!sumLeaf)
                throw std::runtime_error("no table to sum");
            *Sum = 0;
        }
        // The leaves open with the first row: the field is found then.
        Integer sumField = -1;
        long count = 0;
        for (bool ok = mgr.FirstProviderRecord(); ok; ok = mgr.NextProviderRecord()) {
            ++count;
            if (!sumLeaf)
                continue;
            if (sumField < 0) {
                TInternalFieldItem* item = sumLeaf->GetProviderFields()->FindField(SumField);
                if (!item)
                    throw std::runtime_error("no field to sum");
                sumField = item->FieldNo();
            }
            const Variant value = sumLeaf->GetDataAsVariant(sumField);
            if (!value.IsNull())
                *Sum += value.AsDouble();
        }
        return count;
    }

    // The first column of the first row of Sql (or the row count when
    // CountRows), prepared afresh.
    double Sqlite(const std::string& Sql, bool CountRows = false)
    {
        sqlite3_stmt* stmt = Prepare(Sql);
        const double result = Step(stmt, CountRows);
        sqlite3_finalize(stmt);
        return result;
    }
    sqlite3_stmt* Prepare(const std::string& Sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(FLite, Sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FLite));
        return stmt;
    }
    static double Step(sqlite3_stmt* Stmt, bool CountRows)
    {
        double result = 0;
        int rc;
        while ((rc = sqlite3_step(Stmt)) == SQLITE_ROW) {
            if (CountRows)
                result += 1;
            else
                result = sqlite3_column_double(Stmt, 0);
            if (!CountRows)
                break;
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw std::runtime_error("sqlite step");
        sqlite3_reset(Stmt);
        return result;
    }
    int Changes() const { return sqlite3_changes(FLite); }
    void Exec(const std::string& Sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(FLite, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string text = error ? error : "sqlite error";
            sqlite3_free(error);
            throw std::runtime_error(text);
        }
    }

private:
    void Create(const std::string& Name, int Count, int Distinct, bool IndexOnK)
    {
        TVekTable table(nullptr);
        table.SetDataBase(&FDb);
        table.SetTableName(Name);
        table.FieldDefs()->Add("id", ftInteger, 0, true);
        table.FieldDefs()->Add("k", ftInteger);
        table.FieldDefs()->Add("g", ftInteger);
        table.FieldDefs()->Add("v", ftFloat);
        table.FieldDefs()->Add("s", ftString, 20);
        table.IndexDefs()->Add("ix" + Name + "id", "id", ixUnique | ixPrimary);
        if (IndexOnK)
            table.IndexDefs()->Add("ix" + Name + "k", "k", 0);
        table.CreateTable();
        table.Open();
        Exec("CREATE TABLE " + Name + " (id INTEGER PRIMARY KEY, k INTEGER, g INTEGER, v REAL, s VARCHAR(20))");
        if (IndexOnK)
            Exec("CREATE INDEX ix" + Name + "k ON " + Name + " (k)");
        sqlite3_stmt* insert = Prepare("INSERT INTO " + Name + " VALUES (?, ?, ?, ?, ?)");
        // T2K holds T2's rows: the same seed.
        std::mt19937 random(Name == "T1" ? 11 : 22);
        TField* id = table.FieldByName("id");
        TField* k = table.FieldByName("k");
        TField* g = table.FieldByName("g");
        TField* v = table.FieldByName("v");
        TField* s = table.FieldByName("s");
        FDb.StartTransaction();
        table.SetLocked(true);
        Exec("BEGIN");
        for (int i = 1; i <= Count; ++i) {
            const TRow row = MakeRow(i, Distinct, random);
            table.Append();
            id->SetAsInteger(row.Id);
            k->SetAsInteger(row.K);
            g->SetAsInteger(row.G);
            v->SetAsFloat(row.V);
            s->SetAsString(row.S);
            table.Post();
            sqlite3_bind_int(insert, 1, row.Id);
            sqlite3_bind_int(insert, 2, row.K);
            sqlite3_bind_int(insert, 3, row.G);
            sqlite3_bind_double(insert, 4, row.V);
            sqlite3_bind_text(insert, 5, row.S.data(), static_cast<int>(row.S.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(insert) != SQLITE_DONE)
                throw std::runtime_error("sqlite insert");
            sqlite3_reset(insert);
        }
        Exec("COMMIT");
        sqlite3_finalize(insert);
        table.SetLocked(false);
        FDb.Commit();
        auto fields = std::make_unique<TInternalFields>();
        fields->Assign(table.GetInternalFields());
        fields->Open();
        FFields[Name] = std::move(fields);
        table.Close();
    }

    TScratch FScratch{"vekquery"};
    int FRows;
    TVekDataBase FDb;
    sqlite3* FLite = nullptr;
    std::map<std::string, std::unique_ptr<TInternalFields>> FFields;
};

TQuerySides& Sides(bool Half)
{
    static std::unique_ptr<TQuerySides> full, half;
    std::unique_ptr<TQuerySides>& sides = Half ? half : full;
    if (!sides)
        sides = std::make_unique<TQuerySides>(Half ? FullRows() / 2 : FullRows());
    return *sides;
}

// One query: what each side runs over Sides and gives back (a count or a
// sum, compared between the sides); no Orvex runner: not run there yet.
struct TQuery {
    std::function<double(TQuerySides&)> Sqlite;
    std::function<double(TQuerySides&)> Orvex;
};

struct TTimes {
    double Seconds = 0;
    double Result = 0;
};

TTimes Time(const std::function<double(TQuerySides&)>& Side, TQuerySides& Sides)
{
    const auto start = Clock::now();
    TTimes times;
    times.Result = Side(Sides);
    times.Seconds = bench::SecondsSince(start);
    return times;
}

void RunQueryOnce(benchmark::State& State, const TQuery& Query);

void RunQuery(benchmark::State& State, const TQuery& Query)
{
    try {
        RunQueryOnce(State, Query);
    } catch (const std::exception& Error) {
        State.SkipWithError(Error.what());
    }
}

void RunQueryOnce(benchmark::State& State, const TQuery& Query)
{
    TQuerySides& half = Sides(true);
    TQuerySides& full = Sides(false);
    for (auto _ : State) {
        // Warm runs: each side once before it is timed.
        Query.Sqlite(half);
        Query.Sqlite(full);
        const TTimes liteHalf = Time(Query.Sqlite, half);
        const TTimes liteFull = Time(Query.Sqlite, full);
        State.counters["sqlite_ms"] = liteFull.Seconds * 1000;
        State.counters["sqlite_scaling"] = liteFull.Seconds / liteHalf.Seconds;
        State.counters["result"] = liteFull.Result;
        if (!Query.Orvex) {
            State.SetIterationTime(liteFull.Seconds);
            State.SetLabel("orvex: not run (needs the query component)");
            continue;
        }
        Query.Orvex(half);
        Query.Orvex(full);
        const TTimes orvexHalf = Time(Query.Orvex, half);
        const TTimes orvexFull = Time(Query.Orvex, full);
        State.SetIterationTime(orvexFull.Seconds);
        State.counters["orvex_ms"] = orvexFull.Seconds * 1000;
        State.counters["ratio"] = liteFull.Seconds / orvexFull.Seconds;
        const double scaling = orvexFull.Seconds / orvexHalf.Seconds;
        State.counters["scaling"] = scaling;
        const double tolerance = 1e-6 * std::max(1.0, std::abs(liteFull.Result));
        if (std::abs(orvexFull.Result - liteFull.Result) > tolerance ||
            std::abs(orvexHalf.Result - liteHalf.Result) > 1e-6 * std::max(1.0, std::abs(liteHalf.Result)))
            State.SkipWithError("the two sides answered differently");
        else if (scaling > 2.3)
            State.SkipWithError("twice the data took more than 2.3 times as long");
    }
}

// ------------------------------------------------------------- the queries

// 10^4 point selects by key (random keys, the same on both sides); SQLite
// prepares each statement (ratio) and, apart, reuses one (point_reused).
double PointKeysSum(TQuerySides& Sides, const std::function<double(int)>& One)
{
    std::mt19937 random(5);
    double found = 0;
    for (int i = 0; i < 10000; ++i)
        found += One(1 + static_cast<int>(random() % static_cast<unsigned>(Sides.Rows())));
    return found;
}

const TQuery PointSelect{
    [](TQuerySides& S) {
        return PointKeysSum(
            S, [&](int Key) { return S.Sqlite("SELECT * FROM T2 WHERE id = " + std::to_string(Key), true); });
    },
    [](TQuerySides& S) {
        return PointKeysSum(S, [&](int Key) {
            return static_cast<double>(S.OrvexRows("SELECT * FROM T2 WHERE id = " + std::to_string(Key)));
        });
    }};

const TQuery PointSelectReused{
    [](TQuerySides& S) {
        sqlite3_stmt* stmt = S.Prepare("SELECT * FROM T2 WHERE id = ?");
        const double found = PointKeysSum(S, [&](int Key) {
            sqlite3_bind_int(stmt, 1, Key);
            return TQuerySides::Step(stmt, true);
        });
        sqlite3_finalize(stmt);
        return found;
    },
    PointSelect.Orvex};

// 100 ranges of 100 keys on the secondary index.
std::string RangeSql(int From)
{
    return "SELECT * FROM T2K WHERE k BETWEEN " + std::to_string(From) + " AND " + std::to_string(From + 99);
}

double Ranges(TQuerySides& Sides, const std::function<double(const std::string&)>& One)
{
    std::mt19937 random(6);
    double rows = 0;
    const int distinct = std::max(1, Sides.Rows() / 10);
    for (int i = 0; i < 100; ++i)
        rows += One(RangeSql(static_cast<int>(random() % static_cast<unsigned>(distinct))));
    return rows;
}

const TQuery RangeSelect{[](TQuerySides& S) { return Ranges(S, [&](const std::string& Sql) { return S.Sqlite(Sql, true); }); },
                         [](TQuerySides& S) {
                             return Ranges(S, [&](const std::string& Sql) { return static_cast<double>(S.OrvexRows(Sql)); });
                         }};

const char* const ScanWhere = " WHERE v * 2 < 100 AND s LIKE 'H%'";

const TQuery ScanCount{
    [](TQuerySides& S) { return S.Sqlite(std::string("SELECT COUNT(*) FROM T2") + ScanWhere); },
    [](TQuerySides& S) { return static_cast<double>(S.OrvexRows(std::string("SELECT * FROM T2") + ScanWhere)); }};

const TQuery ScanRows{
    [](TQuerySides& S) { return S.Sqlite(std::string("SELECT * FROM T2") + ScanWhere, true); },
    ScanCount.Orvex};

TQuery Join(const std::string& Searched)
{
    const std::string from = " FROM T1 JOIN " + Searched + " ON T1.k = " + Searched + ".k";
    return {[=](TQuerySides& S) {
                // COUNT(*) and SUM(v): the sum is compared, the count read.
                sqlite3_stmt* stmt = S.Prepare("SELECT SUM(" + Searched + ".v), COUNT(*)" + from);
                const double sum = TQuerySides::Step(stmt, false);
                sqlite3_finalize(stmt);
                return sum;
            },
            [=](TQuerySides& S) {
                double sum = 0;
                S.OrvexRows("SELECT *" + from, Searched, "v", &sum);
                return sum;
            }};
}

const TQuery JoinHash = Join("T2");
const TQuery JoinIndexed = Join("T2K");

TQuery SqliteOnly(const std::string& Sql, bool CountRows)
{
    return {[=](TQuerySides& S) { return S.Sqlite(Sql, CountRows); }, nullptr};
}

// A statement that changes T2 and one that puts it back (both timed), inside
// one transaction or each on its own (autocommit); the result is the number
// of rows changed.
TQuery SqliteChange(const std::string& Change, const std::string& Undo, bool InTransaction)
{
    return {[=](TQuerySides& S) {
                if (InTransaction)
                    S.Exec("BEGIN");
                S.Exec(Change);
                const double changed = S.Changes();
                S.Exec(Undo);
                if (InTransaction)
                    S.Exec("COMMIT");
                return changed;
            },
            nullptr};
}

void BM_QueryPointSelect(benchmark::State& State) { RunQuery(State, PointSelect); }
void BM_QueryPointSelectReused(benchmark::State& State) { RunQuery(State, PointSelectReused); }
void BM_QueryRangeOnSecondaryIndex(benchmark::State& State) { RunQuery(State, RangeSelect); }
void BM_QueryScanCount(benchmark::State& State) { RunQuery(State, ScanCount); }
void BM_QueryScanRows(benchmark::State& State) { RunQuery(State, ScanRows); }
void BM_QueryJoinHash(benchmark::State& State) { RunQuery(State, JoinHash); }
void BM_QueryJoinIndexed(benchmark::State& State) { RunQuery(State, JoinIndexed); }
void BM_QueryGroupBy100(benchmark::State& State)
{
    RunQuery(State, SqliteOnly("SELECT g, COUNT(*), SUM(v), AVG(v), MIN(v), MAX(v) FROM T2 GROUP BY g", true));
}
void BM_QueryGroupByK(benchmark::State& State)
{
    RunQuery(State, SqliteOnly("SELECT k, COUNT(*), SUM(v) FROM T2 GROUP BY k", true));
}
void BM_QueryOrderBy(benchmark::State& State) { RunQuery(State, SqliteOnly("SELECT * FROM T2 ORDER BY v", true)); }
void BM_QueryDistinct(benchmark::State& State) { RunQuery(State, SqliteOnly("SELECT DISTINCT s FROM T2", true)); }
void BM_QueryUpdate(benchmark::State& State)
{
    RunQuery(State, SqliteChange("UPDATE T2 SET v = v + 1 WHERE g = 7", "UPDATE T2 SET v = v - 1 WHERE g = 7", false));
}
void BM_QueryUpdateInTransaction(benchmark::State& State)
{
    RunQuery(State, SqliteChange("UPDATE T2 SET v = v + 1 WHERE g = 7", "UPDATE T2 SET v = v - 1 WHERE g = 7", true));
}
void BM_QueryDelete(benchmark::State& State)
{
    RunQuery(State, SqliteChange("DELETE FROM T2 WHERE g = 8", "INSERT INTO T2 SELECT * FROM T2K WHERE g = 8", false));
}
void BM_QueryDeleteInTransaction(benchmark::State& State)
{
    RunQuery(State, SqliteChange("DELETE FROM T2 WHERE g = 8", "INSERT INTO T2 SELECT * FROM T2K WHERE g = 8", true));
}
void BM_QueryCorrelatedExists(benchmark::State& State)
{
    RunQuery(State, SqliteOnly("SELECT COUNT(*) FROM T1 WHERE T1.id <= 10000 AND EXISTS "
                               "(SELECT 1 FROM T2K WHERE T2K.k = T1.k AND T2K.g = T1.g)",
                               false));
}

#define ORVEX_QUERY_BENCH(Name) BENCHMARK(Name)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
ORVEX_QUERY_BENCH(BM_QueryPointSelect);
ORVEX_QUERY_BENCH(BM_QueryPointSelectReused);
ORVEX_QUERY_BENCH(BM_QueryRangeOnSecondaryIndex);
ORVEX_QUERY_BENCH(BM_QueryScanCount);
ORVEX_QUERY_BENCH(BM_QueryScanRows);
ORVEX_QUERY_BENCH(BM_QueryJoinHash);
ORVEX_QUERY_BENCH(BM_QueryJoinIndexed);
ORVEX_QUERY_BENCH(BM_QueryGroupBy100);
ORVEX_QUERY_BENCH(BM_QueryGroupByK);
ORVEX_QUERY_BENCH(BM_QueryOrderBy);
ORVEX_QUERY_BENCH(BM_QueryDistinct);
ORVEX_QUERY_BENCH(BM_QueryUpdate);
ORVEX_QUERY_BENCH(BM_QueryUpdateInTransaction);
ORVEX_QUERY_BENCH(BM_QueryDelete);
ORVEX_QUERY_BENCH(BM_QueryDeleteInTransaction);
ORVEX_QUERY_BENCH(BM_QueryCorrelatedExists);

} // namespace
} // namespace orvex
