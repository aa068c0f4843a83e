// The SQL benchmark against SQLite: both engines on disk in one temporary
// folder, SQLite with synchronous FULL and a rollback journal (the engine's
// durability), warm runs, the same rows on both sides.
//
// Data: T1 (ORVEX_BENCH_ROWS / 10 rows, default 100,000) and T2
// (ORVEX_BENCH_ROWS, default 1,000,000) with columns id (primary key),
// k (join key, T1's size distinct values), g (100 groups), v FLOAT and
// s VARCHAR(20); T2K holds T2's rows with a secondary index on k.
//
// The engine's side runs every statement through TVekQuery as a program
// would: Open and a walk over the result for a SELECT, ExecSQL for an
// UPDATE or DELETE. Both sides read every result row into the same answer
// (the row count and a digest summing the numbers and a hash of each
// string, so that the two sides' results are compared, not only counted);
// a statement that changes T2 answers its rows affected and puts the data
// back afterwards, untimed.
//
// Every query runs at half and at full size, each side once to warm up and
// then timed as the fastest of ORVEX_BENCH_REPEATS runs (3 when not set).
// Each benchmark reports
// orvex_ms, sqlite_ms, ratio = SQLite time / Orvex time (above 1: Orvex is
// faster) and scaling = full-size time / half-size time of the Orvex side
// (sqlite_scaling for SQLite); different answers, or a scaling above 2.3,
// fail the benchmark.

#include "dataset/vekDatabase.h"
#include "host/DBFields.h"
#include "host/DBParams.h"
#include "query/vekSQL.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
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

// What a side answers for one run: the rows it read (or changed), the sum
// of every number in them and the sum of a hash of every string. The
// string sum is exact; the number sum is compared within rounding.
struct TAnswer {
    double Rows = 0;
    double Numbers = 0;
    std::uint64_t Strings = 0;
};

std::uint64_t StringHash(const char* Text, std::size_t Size)
{
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < Size; ++i) {
        hash ^= static_cast<unsigned char>(Text[i]);
        hash *= 16777619u;
    }
    return hash;
}

// Column OrderColumn of the rows read must not decrease (-1: no order).
class TOrderCheck {
public:
    explicit TOrderCheck(int Column) : FColumn(Column) {}
    bool Checks(int Column) const { return Column == FColumn; }
    void Next(double Value)
    {
        if (Value < FLast)
            throw std::runtime_error("the rows came out of order");
        FLast = Value;
    }

private:
    int FColumn;
    double FLast = -HUGE_VAL;
};

bool IsStringField(TField* Field)
{
    switch (Field->DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
        return true;
    default:
        return false;
    }
}

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

    // ------------------------------------------------------- engine side

    // Opens Sql through a query component and reads every row.
    TAnswer OrvexSelect(const std::string& Sql, int OrderColumn = -1)
    {
        TVekQuery query(nullptr);
        query.SetDataBase(&FDb);
        query.SetSQLText(Sql);
        query.Open();
        TAnswer answer;
        OrvexRead(query, answer, OrderColumn);
        query.Close();
        return answer;
    }

    // Opens one parameterised query once per set of values (parameters
    // named in Names, values in Values), reading every row each time.
    TAnswer OrvexRepeated(const std::string& Sql, const std::vector<std::string>& Names,
                          const std::vector<std::vector<int>>& Values)
    {
        TVekQuery query(nullptr);
        query.SetDataBase(&FDb);
        query.SetSQLText(Sql);
        std::vector<TParam*> params;
        for (const std::string& name : Names)
            params.push_back(query.ParamByName(name));
        TAnswer answer;
        for (const std::vector<int>& row : Values) {
            for (std::size_t i = 0; i < params.size(); ++i)
                params[i]->SetAsInteger(row[i]);
            query.Open();
            OrvexRead(query, answer, -1);
            query.Close();
        }
        return answer;
    }

    // Runs a changing statement through ExecSQL, in a transaction of the
    // program's own or on its own; answers the rows affected.
    TAnswer OrvexExec(const std::string& Sql, bool InTransaction)
    {
        TVekQuery query(nullptr);
        query.SetDataBase(&FDb);
        query.SetSQLText(Sql);
        if (InTransaction)
            FDb.StartTransaction();
        try {
            query.ExecSQL();
        } catch (...) {
            if (InTransaction)
                FDb.Rollback();
            throw;
        }
        if (InTransaction)
            FDb.Commit();
        TAnswer answer;
        answer.Rows = query.RowsAffected();
        return answer;
    }

    // ------------------------------------------------------- SQLite side

    TAnswer SqliteSelect(const std::string& Sql, int OrderColumn = -1)
    {
        sqlite3_stmt* stmt = Prepare(Sql);
        TAnswer answer;
        try {
            SqliteRead(stmt, answer, OrderColumn);
        } catch (...) {
            sqlite3_finalize(stmt);
            throw;
        }
        sqlite3_finalize(stmt);
        return answer;
    }

    TAnswer SqliteExec(const std::string& Sql, bool InTransaction)
    {
        if (InTransaction)
            Exec("BEGIN");
        Exec(Sql);
        TAnswer answer;
        answer.Rows = sqlite3_changes(FLite);
        if (InTransaction)
            Exec("COMMIT");
        return answer;
    }

    sqlite3_stmt* Prepare(const std::string& Sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(FLite, Sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FLite));
        return stmt;
    }

    // Steps Stmt to its end, adding its rows to Answer, and resets it.
    static void SqliteRead(sqlite3_stmt* Stmt, TAnswer& Answer, int OrderColumn)
    {
        TOrderCheck order(OrderColumn);
        const int columns = sqlite3_column_count(Stmt);
        int rc;
        while ((rc = sqlite3_step(Stmt)) == SQLITE_ROW) {
            Answer.Rows += 1;
            for (int i = 0; i < columns; ++i) {
                switch (sqlite3_column_type(Stmt, i)) {
                case SQLITE_NULL:
                    break;
                case SQLITE_TEXT: {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Stmt, i));
                    Answer.Strings += StringHash(text, static_cast<std::size_t>(sqlite3_column_bytes(Stmt, i)));
                    break;
                }
                default: {
                    const double value = sqlite3_column_double(Stmt, i);
                    Answer.Numbers += value;
                    if (order.Checks(i))
                        order.Next(value);
                }
                }
            }
        }
        if (rc != SQLITE_DONE)
            throw std::runtime_error("sqlite step");
        sqlite3_reset(Stmt);
    }

    void Exec(const std::string& Sql) { bench::SqliteExec(FLite, Sql); }

private:
    static void OrvexRead(TVekQuery& Query, TAnswer& Answer, int OrderColumn)
    {
        TOrderCheck order(OrderColumn);
        std::vector<TField*> fields;
        std::vector<bool> strings;
        for (int i = 0; i < Query.FieldCount(); ++i) {
            fields.push_back(Query.Fields()->Fields(i));
            strings.push_back(IsStringField(fields.back()));
        }
        for (Query.First(); !Query.Eof(); Query.Next()) {
            Answer.Rows += 1;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (fields[i]->IsNull())
                    continue;
                if (strings[i]) {
                    const std::string text = fields[i]->AsString();
                    Answer.Strings += StringHash(text.data(), text.size());
                } else {
                    const double value = fields[i]->AsFloat();
                    Answer.Numbers += value;
                    if (order.Checks(static_cast<int>(i)))
                        order.Next(value);
                }
            }
        }
    }

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
        table.Close();
    }

    TScratch FScratch{"vekquery"};
    int FRows;
    TVekDataBase FDb;
    sqlite3* FLite = nullptr;
};

TQuerySides& Sides(bool Half)
{
    static std::unique_ptr<TQuerySides> full, half;
    std::unique_ptr<TQuerySides>& sides = Half ? half : full;
    if (!sides)
        sides = std::make_unique<TQuerySides>(Half ? FullRows() / 2 : FullRows());
    return *sides;
}

// What one engine runs for a query, and what puts the data back after a
// changing statement (untimed; empty for a reading one).
struct TSide {
    std::function<TAnswer(TQuerySides&)> Run;
    std::function<void(TQuerySides&)> Restore;
};

struct TQuery {
    TSide Sqlite;
    TSide Orvex;
};

struct TTimes {
    double Seconds = 0;
    TAnswer Answer;
};

TTimes Time(const TSide& Side, TQuerySides& Sides)
{
    const auto start = Clock::now();
    TTimes times;
    times.Answer = Side.Run(Sides);
    times.Seconds = bench::SecondsSince(start);
    if (Side.Restore)
        Side.Restore(Sides);
    return times;
}

// The fastest of ORVEX_BENCH_REPEATS timed runs (3 when not set): on a busy
// machine one run can lose the processor for a while, and a ratio or a
// scaling must not hang on that.
TTimes Best(const TSide& Side, TQuerySides& Sides)
{
    static const int repeats = [] {
        const char* text = std::getenv("ORVEX_BENCH_REPEATS");
        return text && std::atoi(text) > 0 ? std::atoi(text) : 3;
    }();
    TTimes best = Time(Side, Sides);
    for (int i = 1; i < repeats; ++i) {
        TTimes next = Time(Side, Sides);
        if (next.Seconds < best.Seconds)
            best = std::move(next);
    }
    return best;
}

bool SameAnswer(const TAnswer& A, const TAnswer& B)
{
    return A.Rows == B.Rows && A.Strings == B.Strings &&
           std::abs(A.Numbers - B.Numbers) <= 1e-9 * std::max(1.0, std::abs(A.Numbers));
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
        Time(Query.Sqlite, half);
        Time(Query.Sqlite, full);
        const TTimes liteHalf = Best(Query.Sqlite, half);
        const TTimes liteFull = Best(Query.Sqlite, full);
        State.counters["sqlite_ms"] = liteFull.Seconds * 1000;
        State.counters["sqlite_scaling"] = liteFull.Seconds / liteHalf.Seconds;
        State.counters["rows"] = liteFull.Answer.Rows;
        Time(Query.Orvex, half);
        Time(Query.Orvex, full);
        const TTimes orvexHalf = Best(Query.Orvex, half);
        const TTimes orvexFull = Best(Query.Orvex, full);
        State.SetIterationTime(orvexFull.Seconds);
        State.counters["orvex_ms"] = orvexFull.Seconds * 1000;
        State.counters["ratio"] = liteFull.Seconds / orvexFull.Seconds;
        const double scaling = orvexFull.Seconds / orvexHalf.Seconds;
        State.counters["scaling"] = scaling;
        // A failed check names the figures too: an error hides the counters.
        const std::string figures = " (orvex_ms " + std::to_string(orvexFull.Seconds * 1000) + ", ratio " +
                                    std::to_string(liteFull.Seconds / orvexFull.Seconds) + ", scaling " +
                                    std::to_string(scaling) + ", sqlite_scaling " +
                                    std::to_string(liteFull.Seconds / liteHalf.Seconds) + ")";
        if (!SameAnswer(orvexFull.Answer, liteFull.Answer) || !SameAnswer(orvexHalf.Answer, liteHalf.Answer))
            State.SkipWithError(("the two sides answered differently" + figures).c_str());
        else if (scaling > 2.3)
            State.SkipWithError(("twice the data took more than 2.3 times as long" + figures).c_str());
    }
}

// ------------------------------------------------------------- the queries

// A reading statement, the same text on both sides.
TQuery Select(const std::string& Sql, int OrderColumn = -1)
{
    return {{[=](TQuerySides& S) { return S.SqliteSelect(Sql, OrderColumn); }, nullptr},
            {[=](TQuerySides& S) { return S.OrvexSelect(Sql, OrderColumn); }, nullptr}};
}

// A changing statement and the one that puts T2 back, the same text on both
// sides.
TQuery Change(const std::string& Sql, const std::string& Undo, bool InTransaction)
{
    return {{[=](TQuerySides& S) { return S.SqliteExec(Sql, InTransaction); },
             [=](TQuerySides& S) { S.SqliteExec(Undo, false); }},
            {[=](TQuerySides& S) { return S.OrvexExec(Sql, InTransaction); },
             [=](TQuerySides& S) { S.OrvexExec(Undo, false); }}};
}

// 10^4 random keys of T2 (the same on both sides).
std::vector<std::vector<int>> PointKeys(const TQuerySides& Sides)
{
    std::mt19937 random(5);
    std::vector<std::vector<int>> keys;
    for (int i = 0; i < 10000; ++i)
        keys.push_back({1 + static_cast<int>(random() % static_cast<unsigned>(Sides.Rows()))});
    return keys;
}

// 100 ranges of 100 values of k.
std::vector<std::vector<int>> RangeBounds(const TQuerySides& Sides)
{
    std::mt19937 random(6);
    std::vector<std::vector<int>> bounds;
    const int distinct = std::max(1, Sides.Rows() / 10);
    for (int i = 0; i < 100; ++i) {
        const int from = static_cast<int>(random() % static_cast<unsigned>(distinct));
        bounds.push_back({from, from + 99});
    }
    return bounds;
}

// SQLite preparing each statement from its text (PointSelect) or reusing
// one prepared statement (PointSelectReused); the engine opens one
// parameterised query per key.
const TSide OrvexPoints{[](TQuerySides& S) {
                            return S.OrvexRepeated("SELECT * FROM T2 WHERE id = :p", {"p"}, PointKeys(S));
                        },
                        nullptr};

const TQuery PointSelect{{[](TQuerySides& S) {
                              TAnswer answer;
                              for (const auto& key : PointKeys(S)) {
                                  const TAnswer one = S.SqliteSelect("SELECT * FROM T2 WHERE id = " + std::to_string(key[0]));
                                  answer.Rows += one.Rows;
                                  answer.Numbers += one.Numbers;
                                  answer.Strings += one.Strings;
                              }
                              return answer;
                          },
                          nullptr},
                         OrvexPoints};

// SQLite binding Values into one prepared statement, row by row.
TAnswer SqliteRepeated(TQuerySides& S, const std::string& Sql, const std::vector<std::vector<int>>& Values)
{
    sqlite3_stmt* stmt = S.Prepare(Sql);
    TAnswer answer;
    try {
        for (const auto& row : Values) {
            for (std::size_t i = 0; i < row.size(); ++i)
                sqlite3_bind_int(stmt, static_cast<int>(i) + 1, row[i]);
            TQuerySides::SqliteRead(stmt, answer, -1);
        }
    } catch (...) {
        sqlite3_finalize(stmt);
        throw;
    }
    sqlite3_finalize(stmt);
    return answer;
}

const TQuery PointSelectReused{
    {[](TQuerySides& S) { return SqliteRepeated(S, "SELECT * FROM T2 WHERE id = ?", PointKeys(S)); }, nullptr},
    OrvexPoints};

const TQuery RangeSelect{
    {[](TQuerySides& S) { return SqliteRepeated(S, "SELECT * FROM T2K WHERE k BETWEEN ? AND ?", RangeBounds(S)); },
     nullptr},
    {[](TQuerySides& S) {
         return S.OrvexRepeated("SELECT * FROM T2K WHERE k BETWEEN :a AND :b", {"a", "b"}, RangeBounds(S));
     },
     nullptr}};

const char* const ScanWhere = " WHERE v * 2 < 100 AND s LIKE 'H%'";

TQuery Join(const std::string& Searched)
{
    return Select("SELECT COUNT(*), SUM(" + Searched + ".v) FROM T1 JOIN " + Searched + " ON T1.k = " + Searched +
                  ".k");
}

const std::string UpdateSql = "UPDATE T2 SET v = v + 1 WHERE g = 7";
const std::string UpdateUndo = "UPDATE T2 SET v = v - 1 WHERE g = 7";
const std::string DeleteSql = "DELETE FROM T2 WHERE g = 8";
const std::string DeleteUndo = "INSERT INTO T2 SELECT * FROM T2K WHERE g = 8";

void BM_QueryPointSelect(benchmark::State& State) { RunQuery(State, PointSelect); }
void BM_QueryPointSelectReused(benchmark::State& State) { RunQuery(State, PointSelectReused); }
void BM_QueryRangeOnSecondaryIndex(benchmark::State& State) { RunQuery(State, RangeSelect); }
void BM_QueryScanCount(benchmark::State& State)
{
    RunQuery(State, Select(std::string("SELECT COUNT(*) FROM T2") + ScanWhere));
}
void BM_QueryScanRows(benchmark::State& State) { RunQuery(State, Select(std::string("SELECT * FROM T2") + ScanWhere)); }
void BM_QueryJoinHash(benchmark::State& State) { RunQuery(State, Join("T2")); }
void BM_QueryJoinIndexed(benchmark::State& State) { RunQuery(State, Join("T2K")); }
void BM_QueryGroupBy100(benchmark::State& State)
{
    RunQuery(State, Select("SELECT g, COUNT(*), SUM(v), AVG(v), MIN(v), MAX(v) FROM T2 GROUP BY g"));
}
void BM_QueryGroupByK(benchmark::State& State)
{
    RunQuery(State, Select("SELECT k, COUNT(*), SUM(v), AVG(v), MIN(v), MAX(v) FROM T2 GROUP BY k"));
}
void BM_QueryOrderBy(benchmark::State& State) { RunQuery(State, Select("SELECT * FROM T2 ORDER BY v", 3)); }
void BM_QueryDistinct(benchmark::State& State) { RunQuery(State, Select("SELECT DISTINCT s FROM T2")); }
void BM_QueryUpdate(benchmark::State& State) { RunQuery(State, Change(UpdateSql, UpdateUndo, false)); }
void BM_QueryUpdateInTransaction(benchmark::State& State) { RunQuery(State, Change(UpdateSql, UpdateUndo, true)); }
void BM_QueryDelete(benchmark::State& State) { RunQuery(State, Change(DeleteSql, DeleteUndo, false)); }
void BM_QueryDeleteInTransaction(benchmark::State& State) { RunQuery(State, Change(DeleteSql, DeleteUndo, true)); }
void BM_QueryCorrelatedExists(benchmark::State& State)
{
    RunQuery(State, Select("SELECT COUNT(*) FROM T1 WHERE T1.id <= 10000 AND EXISTS "
                           "(SELECT T2K.id FROM T2K WHERE T2K.k = T1.k AND T2K.g = T1.g)"));
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
