#pragma once
// The differential test's generator and comparison. A seeded generator
// builds a schema (2 to 4 tables of integers, floats in quarters and
// strings; NULLs; NOT NULL columns; random indexes; empty tables on
// purpose), its rows, and SELECT and DML statements as small syntax trees.
// Each statement is rendered once per dialect, with the rules that make the
// two engines agree: real division, IFNULL around numeric aggregates (the
// engine gives 0 over no rows), case-sensitive LIKE, the engine's string
// collation registered in SQLite as ORVEX for mixed-case strings.
//
// Results are compared as multisets of rows put in a canonical order;
// under a top ORDER BY the engine's rows must besides be in the order of
// the keys (ties are never compared by position).

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

struct sqlite3;

namespace orvex::sqldiff {

// ------------------------------------------------------------------ values

struct TValue {
    enum TKind { Null, Number, String };
    TKind Kind = Null;
    double Num = 0;
    bool Integral = false; // written as an integer (stored data)
    std::string Str;

    static TValue MakeNull() { return {}; }
    static TValue MakeInt(std::int64_t V) { return {Number, static_cast<double>(V), true, {}}; }
    static TValue MakeFloat(double V) { return {Number, V, false, {}}; }
    static TValue MakeString(std::string V) { return {String, 0, false, std::move(V)}; }
    // As an SQL literal both dialects read alike.
    std::string Literal() const;
    // As a mismatch report shows it.
    std::string Text() const;
};

using TRow = std::vector<TValue>;

// ------------------------------------------------------------------ schema

enum class TColKind { Int, Float, Str };

struct TColumn {
    std::string Name;
    TColKind Kind = TColKind::Int;
    int Size = 0; // strings
    bool NotNull = false;
};

struct TIndex {
    std::string Name;
    std::vector<std::string> Fields;
    bool Primary = false;
    bool Descending = false;
    bool CaseInsensitive = false;
};

struct TTable {
    std::string Name;
    std::vector<TColumn> Columns;
    std::vector<TIndex> Indexes;
    std::vector<TRow> Rows;
    int ColumnIndex(const std::string& Column) const;
};

struct TSchema {
    // Mixed case and punctuation in strings (compared under ORVEX in
    // SQLite); otherwise lower-case letters and digits only.
    bool MixedCase = false;
    std::vector<TTable> Tables;
    const TTable* Find(const std::string& Name) const;
    TTable* Find(const std::string& Name);
    // CREATE TABLE and INSERT statements, for the mismatch report.
    std::string Describe() const;
};

// ------------------------------------------------------------- statements

// A text in both dialects.
struct TText {
    std::string O; // the engine
    std::string S; // SQLite
};

// One key of a top ORDER BY: the result column and its direction.
struct TOrderKey {
    int Column = 0;
    bool Descending = false;
    TText Text; // how the key is written (a number, a result name, t.col)
};

struct TSelectItem {
    TText Expr;
    TColKind Kind = TColKind::Int;
    int Size = 0;             // strings
    bool Aggregate = false;   // holds an aggregate
    std::string Column;       // "a1.s1" when the item is a plain column
};

struct TSelect {
    bool Distinct = false;
    std::vector<TSelectItem> Items;
    TText From;
    std::vector<TText> Where;   // conjuncts
    std::vector<TText> GroupBy; // plain selected columns
    std::vector<TText> Having;  // conjuncts
    std::vector<TSelect> Unions; // further parts
    bool UnionAll = false;
    std::vector<TOrderKey> OrderBy;
    // A statement the clauses above cannot express in both dialects (a
    // UNION JOIN); the ORDER BY keys still follow it.
    TText Whole;
    TText Render() const;
    void RenderOrderBy(TText& Text) const;
};

enum class TDmlKind { InsertValues, InsertSelect, Update, Delete };

struct TDml {
    TDmlKind Kind = TDmlKind::Delete;
    std::string Table;
    TText Text;
};

// --------------------------------------------------------------- generator

class TGenerator {
public:
    explicit TGenerator(std::uint64_t Seed);

    TSchema Schema();
    TSelect Select(const TSchema& Schema);
    TDml Dml(const TSchema& Schema);

    int Int(int Low, int High);
    bool Chance(int Percent) { return Int(1, 100) <= Percent; }

private:
    struct TScope;
    struct TInstance;
    TValue Value(const TSchema& Schema, const TColumn& Column);
    std::string StringValue(const TSchema& Schema, int MaxLength);
    TText FromClause(const TSchema& Schema, TScope& Scope);
    TText NumExpr(const TSchema& Schema, TScope& Scope, int Depth, bool& Nullable);
    TText StrExpr(const TSchema& Schema, TScope& Scope, int Depth, bool& Nullable, int& Size);
    TText Condition(const TSchema& Schema, TScope& Scope, int Depth);
    TText Comparison(const TSchema& Schema, TScope& Scope);
    TText Subquery(const TSchema& Schema, TScope& Scope);
    TText StrOrder(const TSchema& Schema, const TText& Left, const std::string& Op, const TText& Right);
    TSelect Plain(const TSchema& Schema, TScope& Scope);
    TSelect Grouped(const TSchema& Schema, TScope& Scope);
    TSelect UnionJoin(const TSchema& Schema);
    bool UnionPart(const TSchema& Schema, const TSelect& First, TSelect& Part);
    void JoinCommaList(const TScope& Scope, TSelect& Select);
    std::mt19937_64 FRandom;
    int FAliases = 0;
};

// -------------------------------------------------------------- comparison

struct TResult {
    std::vector<TRow> Rows;
    std::string Error; // empty on success
    std::int64_t RowsAffected = -1;
};

// Rows in canonical order: NULL first, then numbers (rounded to 1e-6),
// then strings by bytes.
void Canonicalise(std::vector<TRow>& Rows);
// Whether two values are the same: NULL only equals NULL; numbers within a
// relative 1e-9 (absolute near zero); strings byte for byte.
bool SameValue(const TValue& A, const TValue& B);
// An empty string when the engine's result agrees with SQLite's, else what
// differs. Rows is the engine's (in its own order), Expected SQLite's.
std::string Compare(const TResult& Engine, const TResult& Expected, const std::vector<TOrderKey>& OrderBy);
// The rows as lines, for a report.
std::string RowsText(const std::vector<TRow>& Rows, std::size_t Limit = 60);

// The engine's string order (primary weight, then case, then bytes).
int CollateOrvex(const std::string& A, const std::string& B);

// ------------------------------------------------------------------ SQLite

class TSqlite {
public:
    TSqlite();
    ~TSqlite();
    TSqlite(const TSqlite&) = delete;
    TSqlite& operator=(const TSqlite&) = delete;

    void Load(const TSchema& Schema);
    TResult Query(const std::string& Sql);
    TResult Exec(const std::string& Sql); // RowsAffected from sqlite3_changes
    std::vector<TRow> TableRows(const TTable& Table);

private:
    ::sqlite3* FDb = nullptr;
};

// ------------------------------------------------------------------ reducer

// Drops clauses of Select (ORDER BY keys, HAVING and WHERE conjuncts,
// UNION parts, DISTINCT, items not grouped on) and rows of Schema while
// StillFails holds for the smaller case (at most 150 tries); returns the
// smallest found.
void Reduce(TSchema& Schema, TSelect& Select,
            const std::function<bool(const TSchema&, const TSelect&)>& StillFails);

} // namespace orvex::sqldiff
