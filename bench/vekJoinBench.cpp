// Joins against SQLite in one run: T1 of 100,000 records and T2 of
// 1,000,000 (id, k; k has 100,000 distinct values), both in memory ("MEMORY"
// for Orvex, ":memory:" for SQLite).
//
//   join_hash     SELECT ... FROM T1 JOIN T2 ON T1.k = T2.k without an index:
//                 the hash join over the smaller table (SQLite builds an
//                 automatic index)
//   join_indexed  the same with an index on T2.k: the indexed nested loop
//
// Orvex runs the statement through the parser engine, the analyser, the plan
// and the provider manager and counts the rows; SQLite counts them with
// COUNT(*). Each benchmark reports both times and ratio = SQLite time /
// Orvex time (above 1: Orvex is faster). ORVEX_BENCH_ROWS sets the size of
// T2 (T1 is a tenth of it).

#include "dataset/vekDatabase.h"
#include "query/vekQueryAnalyser.h"
#include "query/vekQueryPlanner.h"
#include "sql/vekParserEngine.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace orvex {
namespace {

int Rows()
{
    return bench::BenchRows(1000);
}

using bench::Clock;

int KeyOf(int Id, int Distinct)
{
    return static_cast<int>((static_cast<long long>(Id) * 7919) % Distinct);
}

class TJoinTables {
public:
    explicit TJoinTables(bool Indexed) : FDb(nullptr)
    {
        FDb.SetDataBaseName("MEMORY");
        FDb.Open();
        const int large = Rows();
        const int small = large / 10;
        Create("T1", small, small, false);
        Create("T2", large, small, Indexed);
        if (sqlite3_open(":memory:", &FLite) != SQLITE_OK)
            throw std::runtime_error("sqlite3_open");
        Exec("CREATE TABLE T1 (id INTEGER, k INTEGER)");
        Exec("CREATE TABLE T2 (id INTEGER, k INTEGER)");
        Exec("BEGIN");
        Fill("T1", small, small);
        Fill("T2", large, small);
        Exec("COMMIT");
        if (Indexed)
            Exec("CREATE INDEX ixk ON T2 (k)");
    }
    ~TJoinTables()
    {
        sqlite3_close(FLite);
        FDb.Close();
    }

    // The rows of the statement through the query back end.
    long OrvexCount(const std::string& Sql)
    {
        TVekParserEngine engine;
        engine.PreParseSQL(Sql);
        if (!engine.ParseFromClause())
            throw std::runtime_error(engine.GetErrorMsg());
        for (int i = 0; i < engine.TableList()->Count(); ++i) {
            TTableNameItem* item = engine.TableList()->Items(i);
            item->SetTableFields(FFields.at(item->TableName()).get());
            item->SetMemory(true);
        }
        if (!engine.ParseSelectClause() || !engine.ParseWhereClause())
            throw std::runtime_error(engine.GetErrorMsg());
        TVekQueryAnalyser analyser;
        TVekJoins joins;
        TVekSelects selects;
        TVekExprNode* where = engine.WhereParser()->Root();
        analyser.Prepare(&joins, &selects, where, engine.TableList());
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
        long count = 0;
        for (bool ok = mgr.FirstProviderRecord(); ok; ok = mgr.NextProviderRecord())
            ++count;
        return count;
    }

    long SqliteCount(const std::string& Sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(FLite, Sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FLite));
        long count = 0;
        if (sqlite3_step(stmt) == SQLITE_ROW)
            count = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
        return count;
    }

private:
    void Create(const std::string& Name, int Count, int Distinct, bool Indexed)
    {
        TVekTable table(nullptr);
        table.SetDataBase(&FDb);
        table.SetTableName(Name);
        table.SetMemory(true);
        table.FieldDefs()->Add("id", ftInteger);
        table.FieldDefs()->Add("k", ftInteger);
        if (Indexed)
            table.IndexDefs()->Add("ixk", "k", 0);
        table.CreateTable();
        table.Open();
        for (int i = 0; i < Count; ++i) {
            table.Append();
            table.FieldByName("id")->SetAsInteger(i);
            table.FieldByName("k")->SetAsInteger(KeyOf(i, Distinct));
            table.Post();
        }
        auto fields = std::make_unique<TInternalFields>();
        fields->Assign(table.GetInternalFields());
        fields->Open();
        FFields[Name] = std::move(fields);
        table.Close();
    }
    void Exec(const std::string& Sql) { bench::SqliteExec(FLite, Sql); }
    void Fill(const std::string& Name, int Count, int Distinct)
    {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(FLite, ("INSERT INTO " + Name + " VALUES (?, ?)").c_str(), -1, &stmt, nullptr);
        for (int i = 0; i < Count; ++i) {
            sqlite3_bind_int(stmt, 1, i);
            sqlite3_bind_int(stmt, 2, KeyOf(i, Distinct));
            sqlite3_step(stmt);
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
    }

    TVekDataBase FDb;
    sqlite3* FLite = nullptr;
    std::map<std::string, std::unique_ptr<TInternalFields>> FFields;
};

void RunJoin(benchmark::State& State, bool Indexed)
{
    TJoinTables tables(Indexed);
    for (auto _ : State) {
        Clock::time_point start = Clock::now();
        const long orvex = tables.OrvexCount("SELECT * FROM T1 JOIN T2 ON T1.k = T2.k");
        const double orvexSeconds = bench::SecondsSince(start);
        start = Clock::now();
        const long lite = tables.SqliteCount("SELECT COUNT(*) FROM T1 JOIN T2 ON T1.k = T2.k");
        const double sqliteSeconds = bench::SecondsSince(start);
        if (orvex != lite)
            State.SkipWithError("the row counts differ");
        State.SetIterationTime(orvexSeconds);
        State.counters["rows"] = static_cast<double>(orvex);
        State.counters["orvex_ms"] = orvexSeconds * 1000;
        State.counters["sqlite_ms"] = sqliteSeconds * 1000;
        State.counters["ratio"] = sqliteSeconds / orvexSeconds;
    }
}

void BM_JoinHash(benchmark::State& State)
{
    RunJoin(State, false);
}

void BM_JoinIndexed(benchmark::State& State)
{
    RunJoin(State, true);
}

BENCHMARK(BM_JoinHash)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinIndexed)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
