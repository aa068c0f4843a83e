// Grouping against SQLite in one run: G of 200,000 records (id, k, v, s) in
// memory ("MEMORY" for Orvex, ":memory:" for SQLite).
//
//   groupby_few    SELECT k, COUNT(*), SUM(v), MAX(s) FROM G GROUP BY k, k
//                  with 10 distinct values
//   groupby_many   the same with a distinct k per 4 records (50,000 groups)
//   count_distinct SELECT k, COUNT(DISTINCT v) FROM G GROUP BY k, 1,000
//                  groups
//
// Orvex runs the statement through the statement driver into its result
// table; SQLite steps through the rows. Each benchmark reports both times,
// the group count and ratio = SQLite time / Orvex time (above 1: Orvex is
// faster). Grouping costs one key search per source row, so the time per
// row must not grow with the number of groups: compare groupby_few with
// groupby_many. ORVEX_BENCH_ROWS sets the size of G.

#include "dataset/vekDatabase.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace orvex {
namespace {

int Rows()
{
    if (const char* text = std::getenv("ORVEX_BENCH_ROWS"))
        return std::max(1000, std::atoi(text));
    return 200000;
}

using bench::Clock;

class TGroupTable {
public:
    explicit TGroupTable(int Groups) : FDb(nullptr)
    {
        FDb.SetDataBaseName("MEMORY");
        FDb.Open();
        const int rows = Rows();
        TVekTable table(nullptr);
        table.SetDataBase(&FDb);
        table.SetTableName("G");
        table.SetMemory(true);
        table.FieldDefs()->Add("id", ftInteger);
        table.FieldDefs()->Add("k", ftInteger);
        table.FieldDefs()->Add("v", ftInteger);
        table.FieldDefs()->Add("s", ftString, 12);
        table.CreateTable();
        table.Open();
        if (sqlite3_open(":memory:", &FLite) != SQLITE_OK)
            throw std::runtime_error("sqlite3_open");
        Exec("CREATE TABLE G (id INTEGER, k INTEGER, v INTEGER, s TEXT)");
        Exec("BEGIN");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(FLite, "INSERT INTO G VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
        for (int i = 0; i < rows; ++i) {
            const int k = static_cast<int>((static_cast<long long>(i) * 7919) % Groups);
            const int v = i % 97;
            const std::string s = "s" + std::to_string(i % 1013);
            table.Append();
            table.FieldByName("id")->SetAsInteger(i);
            table.FieldByName("k")->SetAsInteger(k);
            table.FieldByName("v")->SetAsInteger(v);
            table.FieldByName("s")->SetAsString(s);
            table.Post();
            sqlite3_bind_int(insert, 1, i);
            sqlite3_bind_int(insert, 2, k);
            sqlite3_bind_int(insert, 3, v);
            sqlite3_bind_text(insert, 4, s.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        Exec("COMMIT");
        table.Close();
    }
    ~TGroupTable()
    {
        sqlite3_close(FLite);
        FDb.Close();
    }

    long OrvexRows(const std::string& Sql)
    {
        TVekQueryProvider provider;
        provider.SetDatabase(&FDb);
        provider.SetSQL(Sql);
        if (!provider.ValidateSQL() || !provider.PreparePlan() || !provider.CreateResultSet())
            throw std::runtime_error(provider.GetErrorsAsText());
        return provider.GetResultSet()->RecordCount();
    }

    long SqliteRows(const std::string& Sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(FLite, Sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FLite));
        long count = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            ++count;
        sqlite3_finalize(stmt);
        return count;
    }

private:
    void Exec(const std::string& Sql) { bench::SqliteExec(FLite, Sql); }

    TVekDataBase FDb;
    sqlite3* FLite = nullptr;
};

void RunGroupBy(benchmark::State& State, int Groups, const std::string& Sql)
{
    TGroupTable table(Groups);
    for (auto _ : State) {
        Clock::time_point start = Clock::now();
        const long orvex = table.OrvexRows(Sql);
        const double orvexSeconds = bench::SecondsSince(start);
        start = Clock::now();
        const long lite = table.SqliteRows(Sql);
        const double sqliteSeconds = bench::SecondsSince(start);
        if (orvex != lite)
            State.SkipWithError("the group counts differ");
        State.SetIterationTime(orvexSeconds);
        State.counters["groups"] = static_cast<double>(orvex);
        State.counters["orvex_ms"] = orvexSeconds * 1000;
        State.counters["sqlite_ms"] = sqliteSeconds * 1000;
        State.counters["ratio"] = sqliteSeconds / orvexSeconds;
        State.counters["orvex_us_per_row"] = orvexSeconds * 1e6 / Rows();
    }
}

const char* const GroupSql = "SELECT k, COUNT(*), SUM(v), MAX(s) FROM G GROUP BY k";

void BM_GroupByFew(benchmark::State& State)
{
    RunGroupBy(State, 10, GroupSql);
}

void BM_GroupByMany(benchmark::State& State)
{
    RunGroupBy(State, std::max(1, Rows() / 4), GroupSql);
}

void BM_CountDistinct(benchmark::State& State)
{
    RunGroupBy(State, 1000, "SELECT k, COUNT(DISTINCT v) FROM G GROUP BY k");
}

BENCHMARK(BM_GroupByFew)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GroupByMany)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountDistinct)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
