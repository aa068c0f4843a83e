// SQL front end: tokenizing and parsing a condition, and evaluating it row by
// row, beside SQLite filtering the same rows with the same condition. The
// side-by-side benchmark reports both row rates and their ratio
// (orvex / sqlite: above 1 is faster than the peer).

#include "sql/vekExprEvaluator.h"
#include "sql/vekExprParser.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <vector>

namespace orvex {
namespace {

constexpr const char* Condition = "i > 5 AND s LIKE 'H%' AND f * 2 < 100";
constexpr int RowCount = 100000;

struct Row {
    int I;
    std::string S;
    double F;
};

std::vector<Row> MakeRows()
{
    std::vector<Row> Rows;
    Rows.reserve(RowCount);
    for (int N = 0; N < RowCount; ++N)
        Rows.push_back({N % 10, (N % 3 == 0 ? "Hello " : "World ") + std::to_string(N), (N % 97) * 1.5});
    return Rows;
}

// The rows as a record source: MoveToRecord picks the current one.
class RowsProvider : public TVekExprDataProvider {
public:
    explicit RowsProvider(const std::vector<Row>& Rows) : FRows(Rows)
    {
        SetDBStringCompare(DBANSICompareStrings);
        const std::pair<const char*, TFieldType> Columns[] = {{"i", ftInteger}, {"s", ftString}, {"f", ftFloat}};
        int No = 1;
        for (const auto& [Name, Type] : Columns) {
            TInternalFieldItem* F = ProviderFields()->Add();
            F->SetFieldName(Name);
            F->SetDataType(Type);
            if (Type == ftString)
                F->SetFieldSize(41);
            F->SetFieldNo(No++);
        }
        FTables.Add()->SetTableFields(ProviderFields());
    }
    bool MoveToRecord(Integer RecNo) override
    {
        FCurrent = &FRows[static_cast<std::size_t>(RecNo)];
        return true;
    }
    Variant GetDataAsVariant(Integer FieldNo) override
    {
        switch (FieldNo) {
        case 1:
            return Variant(FCurrent->I);
        case 2:
            return Variant(FCurrent->S);
        default:
            return Variant(FCurrent->F);
        }
    }
    TTableList* Tables() { return &FTables; }

private:
    const std::vector<Row>& FRows;
    const Row* FCurrent = nullptr;
    TTableList FTables;
};

double Seconds(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

void BM_ParseCondition(benchmark::State& State)
{
    const std::vector<Row> Rows = MakeRows();
    RowsProvider Provider(Rows);
    for (auto _ : State) {
        TVekPreParser Pre;
        Pre.SetParseAsExprOnly(true);
        Pre.SetText(Condition);
        Pre.PreParseTokens();
        TVekExprParser Parser;
        Parser.SetTableList(Provider.Tables());
        Parser.Execute({vpoExtSyntax}, Pre.GetSection(vstWhere));
        benchmark::DoNotOptimize(Parser.Root());
    }
}
BENCHMARK(BM_ParseCondition);

// Evaluates the condition over every row, and has SQLite count the same
// rows through the same condition.
void BM_FilterRowsBesideSQLite(benchmark::State& State)
{
    const std::vector<Row> Rows = MakeRows();
    RowsProvider Provider(Rows);
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText(Condition);
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Provider.Tables());
    Parser.Execute({vpoExtSyntax}, Pre.GetSection(vstWhere));
    if (Parser.HasParseError()) {
        State.SkipWithError(Parser.GetErrorMsg().c_str());
        return;
    }
    TExprEvaluator Evaluator;
    Evaluator.Prepare(&Provider, Parser.Root());

    sqlite3* Db = nullptr;
    sqlite3_open(":memory:", &Db);
    sqlite3_exec(Db, "PRAGMA case_sensitive_like = ON; CREATE TABLE t (i INTEGER, s TEXT, f REAL)", nullptr,
                 nullptr, nullptr);
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* Insert = nullptr;
    sqlite3_prepare_v2(Db, "INSERT INTO t VALUES (?, ?, ?)", -1, &Insert, nullptr);
    for (const Row& R : Rows) {
        sqlite3_bind_int(Insert, 1, R.I);
        sqlite3_bind_text(Insert, 2, R.S.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(Insert, 3, R.F);
        sqlite3_step(Insert);
        sqlite3_reset(Insert);
    }
    sqlite3_finalize(Insert);
    sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_stmt* Count = nullptr;
    sqlite3_prepare_v2(Db, (std::string("SELECT count(*) FROM t WHERE ") + Condition).c_str(), -1, &Count,
                       nullptr);

    double OrvexSeconds = 0, SqliteSeconds = 0;
    long Matches = 0, SqliteMatches = 0;
    for (auto _ : State) {
        auto Start = std::chrono::steady_clock::now();
        Matches = 0;
        for (int N = 0; N < RowCount; ++N) {
            Provider.MoveToRecord(N);
            Evaluator.Reset();
            Matches += Evaluator.Evaluate() ? 1 : 0;
        }
        OrvexSeconds += Seconds(Start);

        Start = std::chrono::steady_clock::now();
        sqlite3_step(Count);
        SqliteMatches = sqlite3_column_int(Count, 0);
        sqlite3_reset(Count);
        SqliteSeconds += Seconds(Start);
    }
    sqlite3_finalize(Count);
    sqlite3_close(Db);
    if (Matches != SqliteMatches) {
        State.SkipWithError("the two engines disagree on the rows");
        return;
    }
    const double Rows_ = static_cast<double>(State.iterations()) * RowCount;
    State.counters["orvex_rows_per_s"] = Rows_ / OrvexSeconds;
    State.counters["sqlite_rows_per_s"] = Rows_ / SqliteSeconds;
    State.counters["ratio"] = SqliteSeconds / OrvexSeconds;
}
BENCHMARK(BM_FilterRowsBesideSQLite)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
