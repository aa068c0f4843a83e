// A filter with no usable index against SQLite in one run: the count of the
// records of a table that pass
//
//   I > 5 AND S LIKE 'H%' AND F * 2 < 100
//
// through TVekTable's Filter (Filtered, then RecordCount) and through
// SQLite's SELECT count(*) ... WHERE with the same condition. The table has
// an integer I, a 20-character string S and a float F, an index on a key
// column only; 1,000,000 records, or ORVEX_BENCH_ROWS. Both sides read a
// file written before, inside one transaction each. ratio = SQLite time /
// Orvex time (above 1: Orvex is faster); ratio_cpu the same with each side's
// processor time, steadier on a busy machine.

#include "dataset/vekDatabase.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace orvex {
namespace {

int FilterRows()
{
    return bench::BenchRows(1000);
}

constexpr const char* Condition = "I > 5 AND S LIKE 'H%' AND F * 2 < 100";

using bench::Clock;

// The processor time of this thread: on a shared machine it tells the two
// sides apart better than the wall clock.
double ThreadSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct TRow {
    int I;
    std::string S;
    double F;
};

// The same rows for both sides: I 0..99, S a capitalised word (about one in
// eight begins with H), F 0..99.5.
TRow MakeRow(std::mt19937& Random)
{
    static const char* const Words[] = {"Hat", "Ham", "Cat", "Dog", "Eel", "Fox", "Gnu", "Hen", "Ant", "Bee",
                                        "Cow", "Elk", "Owl", "Pig", "Rat", "Yak"};
    TRow row;
    row.I = static_cast<int>(Random() % 100);
    row.S = std::string(Words[Random() % 16]) + std::to_string(Random() % 1000);
    row.F = static_cast<double>(Random() % 200) / 2.0;
    return row;
}

class TFilterScratch {
public:
    TFilterScratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vekfilter-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FPath = pattern;
    }
    ~TFilterScratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

struct TFilterSides {
    TFilterScratch Scratch;
    TVekDataBase Db{nullptr};
    TVekTable Table{nullptr};
    sqlite3* Lite = nullptr;

    TFilterSides()
    {
        const std::string file = Scratch.File("filter.vek");
        {
            TVekDataBase creator(nullptr);
            creator.SetDataBaseName(file);
            creator.CreateDatabase();
        }
        Db.SetDataBaseName(file);
        Db.Open();
        Table.SetDataBase(&Db);
        Table.SetTableName("bench");
        Table.FieldDefs()->Add("K", ftInteger, 0, true);
        Table.FieldDefs()->Add("I", ftInteger);
        Table.FieldDefs()->Add("S", ftString, 20);
        Table.FieldDefs()->Add("F", ftFloat);
        Table.IndexDefs()->Add("ixK", "K", ixUnique | ixPrimary);
        Table.CreateTable();
        Table.Open();

        if (sqlite3_open(Scratch.File("filter.sqlite").c_str(), &Lite) != SQLITE_OK)
            throw std::runtime_error("sqlite open");
        Exec("PRAGMA synchronous=FULL");
        Exec("CREATE TABLE bench (K INTEGER NOT NULL, I INTEGER, S TEXT, F REAL)");
        Exec("CREATE UNIQUE INDEX ixK ON bench (K)");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(Lite, "INSERT INTO bench VALUES (?, ?, ?, ?)", -1, &insert, nullptr);

        std::mt19937 random(7);
        TField* k = Table.FieldByName("K");
        TField* i = Table.FieldByName("I");
        TField* s = Table.FieldByName("S");
        TField* f = Table.FieldByName("F");
        Db.StartTransaction();
        Table.SetLocked(true);
        Exec("BEGIN");
        for (int key = 1; key <= FilterRows(); ++key) {
            const TRow row = MakeRow(random);
            Table.Append();
            k->SetAsInteger(key);
            i->SetAsInteger(row.I);
            s->SetAsString(row.S);
            f->SetAsFloat(row.F);
            Table.Post();
            sqlite3_bind_int(insert, 1, key);
            sqlite3_bind_int(insert, 2, row.I);
            sqlite3_bind_text(insert, 3, row.S.data(), static_cast<int>(row.S.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 4, row.F);
            if (sqlite3_step(insert) != SQLITE_DONE)
                throw std::runtime_error("sqlite insert");
            sqlite3_reset(insert);
        }
        Exec("COMMIT");
        sqlite3_finalize(insert);
        Table.SetLocked(false);
        Db.Commit();
        // A program reads the table later: connect again.
        Table.Close();
        Db.Close();
        Db.Open();
        Table.Open();
        Exec("PRAGMA case_sensitive_like = ON");
    }
    ~TFilterSides()
    {
        Table.Close();
        Db.Close();
        sqlite3_close(Lite);
    }

    void Exec(const char* Sql)
    {
        if (sqlite3_exec(Lite, Sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(Lite));
    }

    double OrvexCount(int& Count)
    {
        const auto start = Clock::now();
        Db.StartTransaction();
        Table.SetFiltered(false);
        Table.SetFilter(Condition);
        Table.SetFiltered(true);
        Count = Table.RecordCount();
        Db.Commit();
        const double seconds = bench::SecondsSince(start);
        Table.SetFiltered(false);
        return seconds;
    }

    double SqliteCount(int& Count)
    {
        const auto start = Clock::now();
        sqlite3_stmt* query = nullptr;
        const std::string sql = std::string("SELECT count(*) FROM bench WHERE ") + Condition;
        if (sqlite3_prepare_v2(Lite, sql.c_str(), -1, &query, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(Lite));
        Exec("BEGIN");
        Count = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int(query, 0) : -1;
        Exec("COMMIT");
        sqlite3_finalize(query);
        return bench::SecondsSince(start);
    }
};

void BM_FilterUnindexedCount(benchmark::State& State)
{
    static TFilterSides sides;
    for (auto _ : State) {
        int orvexCount = 0, sqliteCount = 0;
        const double sqliteCpuStart = ThreadSeconds();
        const double sqlite = sides.SqliteCount(sqliteCount);
        const double orvexCpuStart = ThreadSeconds();
        const double sqliteCpu = orvexCpuStart - sqliteCpuStart;
        const double orvex = sides.OrvexCount(orvexCount);
        const double orvexCpu = ThreadSeconds() - orvexCpuStart;
        if (orvexCount != sqliteCount)
            State.SkipWithError("the two sides counted differently");
        State.SetIterationTime(orvex);
        State.counters["orvex_ms"] = orvex * 1000;
        State.counters["sqlite_ms"] = sqlite * 1000;
        State.counters["ratio"] = sqlite / orvex;
        State.counters["ratio_cpu"] = sqliteCpu / orvexCpu;
        State.counters["passing"] = orvexCount;
    }
}

BENCHMARK(BM_FilterUnindexedCount)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
