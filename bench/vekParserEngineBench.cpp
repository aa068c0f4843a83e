// SQL statements through the parser engine (every clause, the select
// analyser, nested engines for subqueries) beside SQLite preparing the same
// statements over the same tables. Reports both statement rates and their
// ratio (orvex / sqlite: above 1 is faster than the peer).

#include "sql/vekParserEngine.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace {

const char* const Statements[] = {
    "SELECT a, b FROM t WHERE a > 5 AND b LIKE 'x%' ORDER BY b",
    "SELECT t.a, u.x FROM t JOIN u ON t.a = u.a WHERE u.x BETWEEN 1 AND 9",
    "SELECT a, COUNT(*), SUM(c) FROM t GROUP BY a HAVING COUNT(*) > 1 ORDER BY 2 DESC",
    "SELECT a FROM t WHERE a IN (SELECT a FROM u WHERE x > 3) OR c = 1.5",
    "SELECT a, b FROM t UNION SELECT a, b FROM u",
    "INSERT INTO t (a, b, c) VALUES (1, 'abc', 2.5)",
    "UPDATE t SET c = c * 2 WHERE a = 3",
    "DELETE FROM t WHERE b = 'gone'",
};

// The tables' fields, as the statement driver would read them.
class Tables {
public:
    Tables()
    {
        Add("t", {{"a", ftInteger}, {"b", ftString}, {"c", ftFloat}});
        Add("u", {{"a", ftInteger}, {"x", ftInteger}, {"b", ftString}});
    }
    void Fill(TTableList* List) const
    {
        for (int i = 0; i < List->Count(); ++i) {
            const auto found = FFields.find(List->Items(i)->TableName());
            if (found != FFields.end())
                List->Items(i)->SetTableFields(found->second.get());
        }
    }

private:
    void Add(const std::string& Name, std::initializer_list<std::pair<const char*, TFieldType>> Columns)
    {
        auto fields = std::make_unique<TInternalFields>();
        int index = 0;
        for (const auto& [column, type] : Columns) {
            TInternalFieldItem* item = fields->Add();
            item->SetFieldName(column);
            item->SetDataType(type);
            if (type == ftString)
                item->SetFieldSize(21);
            item->SetFieldIndex(index++);
        }
        FFields[Name] = std::move(fields);
    }
    std::map<std::string, std::unique_ptr<TInternalFields>> FFields;
};

// The statement driver's parse order, reduced to what parsing needs.
class Statement {
public:
    Statement(const Tables& Schema, TVekParserEngine* Engine) : FSchema(Schema), FEngine(Engine)
    {
        FEngine->SetParserEngineNotifyEvent(
            [this](TParserNotifyType Type, TVekParserEngine* Nested, TVekExprNode*, Variant& Data) {
                if (Type == pntFindTableRef) {
                    Data = Variant(false);
                    return;
                }
                auto nested = std::make_unique<Statement>(FSchema, Nested);
                const TVekSQLStatementType type = FEngine->GetSQLStatementType();
                const bool whereOnly = (type == vsSQLDelete && FEngine->DeleteParser()->HasWhereClause())
                                       || (type == vsSQLUpdate && FEngine->UpdateParser()->HasWhereClause());
                if (Type == pntSelectUnion) {
                    Nested->SetIsUnionSubstatement(true);
                    nested->FUnionPart = true;
                } else {
                    Nested->SetIsSubquery(true);
                }
                if (whereOnly) {
                    Nested->TableList()->Add()->SetTableName(FEngine->TableList()->Items(0)->TableName());
                    FSchema.Fill(Nested->TableList());
                    nested->FOk = Nested->ParseWhereClause() && Nested->ParseOrderByClause();
                } else {
                    nested->FOk = nested->ParseSelect();
                }
                FNested.push_back(std::move(nested));
            });
    }

    bool Parse(const std::string& Text)
    {
        FEngine->PreParseSQL(Text);
        switch (FEngine->GetSQLStatementType()) {
        case vsSQLSelect:
            FOk = ParseSelect();
            break;
        case vsSQLInsert:
            FOk = FEngine->ParseInsertStatement();
            break;
        case vsSQLUpdate:
            FEngine->UpdateParser()->SetTableListValidateEvent([this](TTableList* List) {
                FSchema.Fill(List);
                return true;
            });
            FOk = FEngine->ParseUpdateStatement();
            break;
        case vsSQLDelete:
            FOk = FEngine->ParseDeleteStatement();
            break;
        default:
            FOk = false;
            break;
        }
        for (const auto& nested : FNested)
            FOk = FOk && nested->FOk;
        return FOk;
    }

private:
    bool ParseSelect()
    {
        if (!FEngine->ParseFromClause())
            return false;
        FSchema.Fill(FEngine->TableList());
        if (!FEngine->ParseSelectClause() || !FEngine->ParseWhereClause() || !FEngine->ParseGroupByClause()
            || !FEngine->ParseHavingClause())
            return false;
        FAnalyser.SetIsDistinct(FEngine->SelectParser()->IsDistinct());
        if (!FAnalyser.CheckSelect(FEngine->SelectParser()->SelectNodes(), FEngine->TableList())
            || !FAnalyser.CheckGroupedColumns(FEngine->GroupByItems())
            || !FAnalyser.CheckHavingExpr(FEngine->HavingParser()->Expr()))
            return false;
        if (FUnionPart)
            return true;
        bool unionAll = false;
        while (FEngine->CheckForUnionStatement(false, unionAll)) {
            Variant data(unionAll);
            FEngine->ParserCallback(pntSelectUnion, FEngine->WhereParser(), nullptr, nullptr, data);
        }
        return FEngine->ParseOrderByClause() && FAnalyser.CheckOrderByColumns(FEngine->OrderByItems());
    }

    const Tables& FSchema;
    TVekParserEngine* FEngine;
    TVekSelectAnalyser FAnalyser;
    std::vector<std::unique_ptr<Statement>> FNested;
    bool FUnionPart = false;
    bool FOk = false;
};

double Seconds(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

void BM_ParseStatementsBesideSQLite(benchmark::State& State)
{
    const Tables schema;
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t (a INTEGER, b TEXT, c REAL); CREATE TABLE u (a INTEGER, x INTEGER, b TEXT)",
                 nullptr, nullptr, nullptr);
    double orvexSeconds = 0, sqliteSeconds = 0;
    for (auto _ : State) {
        auto start = std::chrono::steady_clock::now();
        for (const char* text : Statements) {
            TVekParserEngine engine;
            Statement statement(schema, &engine);
            if (!statement.Parse(text)) {
                State.SkipWithError((std::string("does not parse: ") + text).c_str());
                return;
            }
        }
        orvexSeconds += Seconds(start);

        start = std::chrono::steady_clock::now();
        for (const char* text : Statements) {
            sqlite3_stmt* prepared = nullptr;
            if (sqlite3_prepare_v2(db, text, -1, &prepared, nullptr) != SQLITE_OK) {
                State.SkipWithError(sqlite3_errmsg(db));
                return;
            }
            sqlite3_finalize(prepared);
        }
        sqliteSeconds += Seconds(start);
    }
    sqlite3_close(db);
    const double statements = static_cast<double>(State.iterations()) * std::size(Statements);
    State.counters["orvex_statements_per_s"] = statements / orvexSeconds;
    State.counters["sqlite_statements_per_s"] = statements / sqliteSeconds;
    State.counters["ratio"] = sqliteSeconds / orvexSeconds;
}
BENCHMARK(BM_ParseStatementsBesideSQLite)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace orvex
