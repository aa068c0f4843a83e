// The table component against SQLite in one run: a table of an integer key
// with an index and a 100-byte string, in a database file.
//
//   insert        every record in one transaction (Orvex also with the
//                 table locked for the whole run)
//   findkey       FindKey of every key in random order, reading the string
//   scan          every record in index order, reading both fields
//   range         1,000-record ranges in index order, reading both fields
//   update        a new string for every tenth key, in random order, in one
//                 transaction (Orvex: FindKey, Edit, Post; each edited record
//                 keeps its record lock until the commit)
//   delete        every tenth key (others than those updated), in random
//                 order, in one transaction
//
// SQLite runs with prepared statements in one transaction, synchronous FULL
// and an index on the key. Each benchmark reports both times and
// ratio = SQLite time / Orvex time (above 1: Orvex is faster), and cpu_ratio
// the same for processor time (which the disk's waits, shared with other
// programs, do not blur). The number of
// records is 1,000,000, or ORVEX_BENCH_ROWS (run it at 100000, 1000000 and
// 10000000). orvex_peak_mb and sqlite_peak_mb are the process's resident
// high-water mark while that side ran (the key lists and the other side's
// open connection included). ORVEX_BENCH_HUGE=1 adds the insert rate at
// 10^7 records against the rate at 10^6 (rate_ratio). The reads run on the table as a
// program finds it later: Orvex connects again after the inserts (its page
// cache is sized from the file at connect), and both sides read inside one
// transaction each.

#include "dataset/vekDatabase.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <time.h>

namespace orvex {
namespace {

int Rows()
{
    return bench::BenchRows(1000);
}

constexpr int RangeSize = 1000;
constexpr int RangeCount = 200;

std::string Payload(int Key)
{
    std::string text(100, 'a');
    for (int i = 0; i < 100; ++i)
        text[static_cast<std::size_t>(i)] = static_cast<char>('a' + (Key * 7 + i * 13) % 26);
    return text;
}

std::vector<int> Shuffled(int Count, unsigned Seed)
{
    std::vector<int> keys(static_cast<std::size_t>(Count));
    std::iota(keys.begin(), keys.end(), 1);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(Seed));
    return keys;
}

using bench::Clock;

using bench::TScratch;

// ------------------------------------------------------------------ Orvex

class TOrvexSide {
public:
    TOrvexSide(const TScratch& Scratch, const std::string& Name)
    {
        TVekDataBase creator(nullptr);
        creator.SetDataBaseName(Scratch.File(Name + ".vek"));
        creator.CreateDatabase();
        FDb.SetDataBaseName(Scratch.File(Name + ".vek"));
        FDb.Open();
        FTable.SetDataBase(&FDb);
        FTable.SetTableName("bench");
        FTable.FieldDefs()->Add("K", ftInteger, 0, true);
        FTable.FieldDefs()->Add("S", ftString, 100);
        FTable.IndexDefs()->Add("ixK", "K", ixUnique);
        FTable.CreateTable();
        FTable.Open();
        FTable.SetIndexName("ixK");
        FKey = FTable.FieldByName("K");
        FText = FTable.FieldByName("S");
    }
    ~TOrvexSide()
    {
        FTable.Close();
        FDb.Close();
    }

    // Connects again, as a program that reads a table made earlier does.
    void Reconnect()
    {
        FTable.Close();
        FDb.Close();
        FDb.Open();
        FTable.Open();
        FTable.SetIndexName("ixK");
        FKey = FTable.FieldByName("K");
        FText = FTable.FieldByName("S");
    }

    double Insert(const std::vector<int>& Keys, bool Locked)
    {
        const auto start = Clock::now();
        FDb.StartTransaction();
        if (Locked)
            FTable.SetLocked(true);
        for (int key : Keys) {
            FTable.Append();
            FKey->SetAsInteger(key);
            FText->SetAsString(Payload(key));
            FTable.Post();
        }
        if (Locked)
            FTable.SetLocked(false);
        FDb.Commit();
        return bench::SecondsSince(start);
    }

    double Update(const std::vector<int>& Keys)
    {
        const auto start = Clock::now();
        FDb.StartTransaction();
        for (int key : Keys) {
            if (!FTable.FindKey({key}))
                throw std::runtime_error("key not found");
            FTable.Edit();
            FText->SetAsString(Payload(key + 1));
            FTable.Post();
        }
        FDb.Commit();
        return bench::SecondsSince(start);
    }

    double Delete(const std::vector<int>& Keys)
    {
        const auto start = Clock::now();
        FDb.StartTransaction();
        for (int key : Keys) {
            if (!FTable.FindKey({key}))
                throw std::runtime_error("key not found");
            FTable.Delete();
        }
        FDb.Commit();
        return bench::SecondsSince(start);
    }

    double FindKeys(const std::vector<int>& Keys, std::size_t& Bytes)
    {
        const auto start = Clock::now();
        FDb.StartTransaction();
        for (int key : Keys) {
            if (!FTable.FindKey({key}))
                throw std::runtime_error("key not found");
            Bytes += FText->AsString().size();
        }
        FDb.Commit();
        return bench::SecondsSince(start);
    }

    double Scan(std::size_t& Bytes)
    {
        const auto start = Clock::now();
        FDb.StartTransaction();
        FTable.First();
        while (!FTable.Eof()) {
            Bytes += static_cast<std::size_t>(FKey->AsInteger() & 1) + FText->AsString().size();
            FTable.Next();
        }
        FDb.Commit();
        return bench::SecondsSince(start);
    }

    double Ranges(const std::vector<int>& Starts, std::size_t& Rows)
    {
        const auto start = Clock::now();
        FDb.StartTransaction();
        for (int from : Starts) {
            FTable.SetRange({from}, {from + RangeSize - 1});
            while (!FTable.Eof()) {
                Rows += static_cast<std::size_t>(FKey->AsInteger() > 0) + (FText->AsString().empty() ? 0 : 0);
                FTable.Next();
            }
        }
        FTable.CancelRange();
        FDb.Commit();
        return bench::SecondsSince(start);
    }

private:
    TVekDataBase FDb{nullptr};
    TVekTable FTable{nullptr};
    TField* FKey = nullptr;
    TField* FText = nullptr;
};

// ----------------------------------------------------------------- SQLite

class TSqliteSide {
public:
    explicit TSqliteSide(const TScratch& Scratch)
    {
        if (sqlite3_open(Scratch.File("bench.sqlite").c_str(), &FDb) != SQLITE_OK)
            throw std::runtime_error("sqlite open");
        Exec("PRAGMA synchronous=FULL");
        Exec("CREATE TABLE bench (K INTEGER NOT NULL, S TEXT)");
        Exec("CREATE UNIQUE INDEX ixK ON bench (K)");
    }
    ~TSqliteSide() { sqlite3_close(FDb); }

    double Insert(const std::vector<int>& Keys)
    {
        const auto start = Clock::now();
        sqlite3_stmt* insert = Prepare("INSERT INTO bench (K, S) VALUES (?, ?)");
        Exec("BEGIN");
        for (int key : Keys) {
            const std::string text = Payload(key);
            sqlite3_bind_int(insert, 1, key);
            sqlite3_bind_text(insert, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(insert) != SQLITE_DONE)
                throw std::runtime_error("sqlite insert");
            sqlite3_reset(insert);
        }
        Exec("COMMIT");
        sqlite3_finalize(insert);
        return bench::SecondsSince(start);
    }

    double Update(const std::vector<int>& Keys)
    {
        const auto start = Clock::now();
        sqlite3_stmt* update = Prepare("UPDATE bench SET S = ? WHERE K = ?");
        Exec("BEGIN");
        for (int key : Keys) {
            const std::string text = Payload(key + 1);
            sqlite3_bind_text(update, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(update, 2, key);
            if (sqlite3_step(update) != SQLITE_DONE || sqlite3_changes(FDb) != 1)
                throw std::runtime_error("sqlite update");
            sqlite3_reset(update);
        }
        Exec("COMMIT");
        sqlite3_finalize(update);
        return bench::SecondsSince(start);
    }

    double Delete(const std::vector<int>& Keys)
    {
        const auto start = Clock::now();
        sqlite3_stmt* remove = Prepare("DELETE FROM bench WHERE K = ?");
        Exec("BEGIN");
        for (int key : Keys) {
            sqlite3_bind_int(remove, 1, key);
            if (sqlite3_step(remove) != SQLITE_DONE || sqlite3_changes(FDb) != 1)
                throw std::runtime_error("sqlite delete");
            sqlite3_reset(remove);
        }
        Exec("COMMIT");
        sqlite3_finalize(remove);
        return bench::SecondsSince(start);
    }

    double FindKeys(const std::vector<int>& Keys, std::size_t& Bytes)
    {
        const auto start = Clock::now();
        sqlite3_stmt* find = Prepare("SELECT K, S FROM bench WHERE K = ?");
        Exec("BEGIN");
        for (int key : Keys) {
            sqlite3_bind_int(find, 1, key);
            if (sqlite3_step(find) != SQLITE_ROW)
                throw std::runtime_error("sqlite find");
            Bytes += std::string(reinterpret_cast<const char*>(sqlite3_column_text(find, 1))).size();
            sqlite3_reset(find);
        }
        Exec("COMMIT");
        sqlite3_finalize(find);
        return bench::SecondsSince(start);
    }

    double Scan(std::size_t& Bytes)
    {
        const auto start = Clock::now();
        sqlite3_stmt* scan = Prepare("SELECT K, S FROM bench ORDER BY K");
        Exec("BEGIN");
        while (sqlite3_step(scan) == SQLITE_ROW)
            Bytes += static_cast<std::size_t>(sqlite3_column_int(scan, 0) & 1) +
                     std::string(reinterpret_cast<const char*>(sqlite3_column_text(scan, 1))).size();
        Exec("COMMIT");
        sqlite3_finalize(scan);
        return bench::SecondsSince(start);
    }

    double Ranges(const std::vector<int>& Starts, std::size_t& Rows)
    {
        const auto start = Clock::now();
        sqlite3_stmt* range = Prepare("SELECT K, S FROM bench WHERE K BETWEEN ? AND ? ORDER BY K");
        Exec("BEGIN");
        for (int from : Starts) {
            sqlite3_bind_int(range, 1, from);
            sqlite3_bind_int(range, 2, from + RangeSize - 1);
            while (sqlite3_step(range) == SQLITE_ROW)
                Rows += static_cast<std::size_t>(sqlite3_column_int(range, 0) > 0) +
                        (std::string(reinterpret_cast<const char*>(sqlite3_column_text(range, 1))).empty() ? 0 : 0);
            sqlite3_reset(range);
        }
        Exec("COMMIT");
        sqlite3_finalize(range);
        return bench::SecondsSince(start);
    }

private:
    void Exec(const char* Sql)
    {
        if (sqlite3_exec(FDb, Sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FDb));
    }
    sqlite3_stmt* Prepare(const char* Sql)
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(FDb, Sql, -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FDb));
        return statement;
    }

    sqlite3* FDb = nullptr;
};

// ---------------------------------------------------------------- the run

// Both sides are built once and shared by the benchmarks, which run in
// order: insert first, then the reads over what was inserted.
struct TSides {
    TScratch Scratch{"vektable"};
    std::unique_ptr<TOrvexSide> Orvex;
    std::unique_ptr<TSqliteSide> Sqlite;
    std::vector<int> InsertOrder = Shuffled(Rows(), 1);
    std::vector<int> FindOrder = Shuffled(Rows(), 2);
    std::vector<int> RangeStarts;
    std::vector<int> UpdateKeys; // keys 10, 20, 30, ... in random order
    std::vector<int> DeleteKeys; // keys 5, 15, 25, ... in random order
    TSides()
    {
        for (int key = 10; key <= Rows(); key += 10)
            UpdateKeys.push_back(key);
        for (int key = 5; key <= Rows(); key += 10)
            DeleteKeys.push_back(key);
        std::shuffle(UpdateKeys.begin(), UpdateKeys.end(), std::mt19937(4));
        std::shuffle(DeleteKeys.begin(), DeleteKeys.end(), std::mt19937(5));
        std::mt19937 random(3);
        for (int i = 0; i < RangeCount; ++i)
            RangeStarts.push_back(1 + static_cast<int>(random() % static_cast<unsigned>(std::max(1, Rows() - RangeSize))));
    }
};

TSides& Sides()
{
    static TSides sides;
    return sides;
}

// The sides with every record inserted (when a read benchmark runs alone).
TSides& LoadedSides()
{
    TSides& sides = Sides();
    if (!sides.Sqlite) {
        sides.Sqlite = std::make_unique<TSqliteSide>(sides.Scratch);
        sides.Sqlite->Insert(sides.InsertOrder);
    }
    if (!sides.Orvex) {
        sides.Orvex = std::make_unique<TOrvexSide>(sides.Scratch, "plain");
        sides.Orvex->Insert(sides.InsertOrder, true);
        sides.Orvex->Reconnect();
    }
    return sides;
}

// What one side did: its time and the process's resident peak while it ran.
struct TSideRun {
    double Seconds = 0;
    double CpuSeconds = 0; // the process's processor time (the waits for the disk left out)
    double PeakMiB = 0;
};

double ProcessCpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs one side with the resident high-water mark started afresh.
// ORVEX_PERF_CTL / ORVEX_PERF_ACK: the control and acknowledgement fifos of
// "perf record --control=fifo:CTL,ACK -D -1"; the profile then covers the
// Orvex side of each benchmark only.
void PerfControl(const char* Command)
{
    const char* ctl = std::getenv("ORVEX_PERF_CTL");
    const char* ack = std::getenv("ORVEX_PERF_ACK");
    if (!ctl || !ack)
        return;
    if (FILE* out = std::fopen(ctl, "w")) {
        std::fputs(Command, out);
        std::fclose(out);
    }
    if (FILE* in = std::fopen(ack, "r")) {
        char reply[16];
        (void)std::fgets(reply, sizeof reply, in);
        std::fclose(in);
    }
}

template <class F>
TSideRun Measure(F&& Run)
{
    bench::ResetPeakResident();
    TSideRun run;
    const double cpu = ProcessCpuSeconds();
    run.Seconds = Run();
    run.CpuSeconds = ProcessCpuSeconds() - cpu;
    run.PeakMiB = bench::PeakResidentMiB();
    return run;
}

template <class F>
TSideRun MeasureProfiled(F&& Run)
{
    PerfControl("enable\n");
    const TSideRun run = Measure(std::forward<F>(Run));
    PerfControl("disable\n");
    return run;
}

void Report(benchmark::State& State, const TSideRun& Orvex, const TSideRun& Sqlite, double Items)
{
    State.SetIterationTime(Orvex.Seconds);
    State.counters["orvex_ms"] = Orvex.Seconds * 1000;
    State.counters["sqlite_ms"] = Sqlite.Seconds * 1000;
    State.counters["ratio"] = Sqlite.Seconds / Orvex.Seconds;
    State.counters["orvex_items_per_s"] = Items / Orvex.Seconds;
    State.counters["cpu_ratio"] = Sqlite.CpuSeconds / Orvex.CpuSeconds;
    State.counters["orvex_peak_mb"] = Orvex.PeakMiB;
    State.counters["sqlite_peak_mb"] = Sqlite.PeakMiB;
}

void BM_TableInsert(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = Sides();
        sides.Sqlite.reset();
        sides.Orvex.reset();
        sides.Sqlite = std::make_unique<TSqliteSide>(sides.Scratch);
        const TSideRun sqlite = Measure([&] { return sides.Sqlite->Insert(sides.InsertOrder); });
        sides.Orvex = std::make_unique<TOrvexSide>(sides.Scratch, "plain");
        const TSideRun orvex = Measure([&] { return sides.Orvex->Insert(sides.InsertOrder, false); });
        sides.Orvex->Reconnect();
        Report(State, orvex, sqlite, Rows());
    }
}

void BM_TableInsertLocked(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = Sides();
        TScratch other{"vektable"};
        TSqliteSide sqliteSide(other);
        const TSideRun sqlite = Measure([&] { return sqliteSide.Insert(sides.InsertOrder); });
        TOrvexSide orvexSide(other, "locked");
        const TSideRun orvex = Measure([&] { return orvexSide.Insert(sides.InsertOrder, true); });
        Report(State, orvex, sqlite, Rows());
    }
}

// The insert rate at 10^7 records against the rate at 10^6 (Orvex alone,
// each into a new file in one transaction, keys in random order); only with
// ORVEX_BENCH_HUGE=1, since it writes some 1.5 GB.
void BM_TableInsertRateAt10e7(benchmark::State& State)
{
    for (auto _ : State) {
        double rate[2] = {0, 0};
        double peak[2] = {0, 0};
        const int counts[2] = {1000000, 10000000};
        for (int i = 0; i < 2; ++i) {
            TScratch scratch{"vektable"};
            const std::vector<int> keys = Shuffled(counts[i], 1);
            TOrvexSide side(scratch, "rate");
            const TSideRun run = Measure([&] { return side.Insert(keys, false); });
            rate[i] = counts[i] / run.Seconds;
            peak[i] = run.PeakMiB;
        }
        State.SetIterationTime(counts[1] / rate[1]);
        State.counters["rate_1e6"] = rate[0];
        State.counters["rate_1e7"] = rate[1];
        State.counters["rate_ratio"] = rate[1] / rate[0];
        State.counters["peak_mb_1e6"] = peak[0];
        State.counters["peak_mb_1e7"] = peak[1];
    }
}

void BM_TableFindKey(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = LoadedSides();
        std::size_t a = 0, b = 0;
        const TSideRun sqlite = Measure([&] { return sides.Sqlite->FindKeys(sides.FindOrder, b); });
        const TSideRun orvex = Measure([&] { return sides.Orvex->FindKeys(sides.FindOrder, a); });
        if (a != b)
            State.SkipWithError("the two sides read different data");
        Report(State, orvex, sqlite, Rows());
    }
}

void BM_TableScan(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = LoadedSides();
        std::size_t a = 0, b = 0;
        const TSideRun sqlite = Measure([&] { return sides.Sqlite->Scan(b); });
        const TSideRun orvex = Measure([&] { return sides.Orvex->Scan(a); });
        if (a != b)
            State.SkipWithError("the two sides read different data");
        Report(State, orvex, sqlite, Rows());
    }
}

void BM_TableRange(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = LoadedSides();
        std::size_t a = 0, b = 0;
        const TSideRun sqlite = Measure([&] { return sides.Sqlite->Ranges(sides.RangeStarts, b); });
        const TSideRun orvex = Measure([&] { return sides.Orvex->Ranges(sides.RangeStarts, a); });
        if (a != b)
            State.SkipWithError("the two sides read different data");
        Report(State, orvex, sqlite, static_cast<double>(RangeCount) * RangeSize);
    }
}

// The writes change the loaded tables, so they run after the reads.
void BM_TableUpdate(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = LoadedSides();
        const TSideRun sqlite = Measure([&] { return sides.Sqlite->Update(sides.UpdateKeys); });
        const TSideRun orvex = MeasureProfiled([&] { return sides.Orvex->Update(sides.UpdateKeys); });
        Report(State, orvex, sqlite, static_cast<double>(sides.UpdateKeys.size()));
    }
}

void BM_TableDelete(benchmark::State& State)
{
    for (auto _ : State) {
        TSides& sides = LoadedSides();
        const TSideRun sqlite = Measure([&] { return sides.Sqlite->Delete(sides.DeleteKeys); });
        const TSideRun orvex = MeasureProfiled([&] { return sides.Orvex->Delete(sides.DeleteKeys); });
        Report(State, orvex, sqlite, static_cast<double>(sides.DeleteKeys.size()));
    }
}

bool HugeRun()
{
    const char* huge = std::getenv("ORVEX_BENCH_HUGE");
    return huge && *huge && std::string(huge) != "0";
}

BENCHMARK(BM_TableInsert)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableInsertLocked)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
const bool RateAt10e7Registered = HugeRun() && benchmark::RegisterBenchmark("BM_TableInsertRateAt10e7", BM_TableInsertRateAt10e7)
                                                   ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond) != nullptr;
BENCHMARK(BM_TableFindKey)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableScan)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableRange)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableUpdate)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableDelete)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
