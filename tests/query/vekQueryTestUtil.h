#pragma once
// The join harness: fixture tables in a "MEMORY" database, a SELECT text
// taken through the parser engine, the analyser, the plan and the provider
// manager, and a brute-force reference that reads the same tables and
// evaluates the FROM trees with nested loops (ON and WHERE under the SQL
// NULL rule). Rows are compared as multisets of text lines, one value per
// column of every table instance of the statement.

#include "dataset/vekDatabase.h"
#include "query/vekJoinDataProviderUnit.h"
#include "query/vekQueryPlanner.h"
#include "sql/vekParserEngine.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvex::querytest {

struct TColumnSpec {
    std::string Name;
    TFieldType Type;
    int Size = 0;
};

struct TIndexSpec {
    std::string Name;
    std::string Fields;
    TIndexOptions Options = 0;
    std::string DescFields;
};

struct TTableSpec {
    std::string Name;
    std::vector<TColumnSpec> Columns;
    std::vector<TIndexSpec> Indexes;
    std::vector<std::vector<Variant>> Rows;
};

// Creates Spec's table in Db (a memory table when Memory), fills it with
// Spec's rows and, when Filled is given, hands it the still open table.
void CreateSpecTable(TVekDataBase& Db, const TTableSpec& Spec, bool Memory,
                     const std::function<void(TVekTable&)>& Filled = {});

// One value as the comparisons see it: "~" for NULL, strings quoted,
// numbers in full precision.
std::string CanonicalValue(const Variant& Value);

class TQueryFixture {
public:
    // Tables in "MEMORY"; with DatabaseFile, file tables of a new database
    // file of that name.
    explicit TQueryFixture(const std::string& DatabaseFile = {});
    ~TQueryFixture();

    void AddTable(const TTableSpec& Spec);
    TVekDataBase& Db() { return *FDb; }

    struct TOutcome {
        std::vector<std::string> Rows; // sorted
        std::string Error;             // the parser's message, or an exception's
        std::vector<TJoinPlan> Plans;  // one per join provider
        std::string Residual;          // "yes" when a residual condition runs
    };
    // The statement through the engine, every join with Method.
    TOutcome Run(const std::string& Sql, TJoinMethod Method = TJoinMethod::Auto);
    // The statement through the brute-force reference.
    TOutcome Reference(const std::string& Sql);

    // Parses Sql into Engine (the tables' fields filled in from the
    // fixture); an empty string on success, else the error.
    std::string Parse(TVekParserEngine& Engine, const std::string& Sql) const;

    // The rows of a table as the engine stores them.
    const std::vector<std::vector<Variant>>& StoredRows(const std::string& Table) const;

private:
    struct TStored {
        std::string Name;
        std::unique_ptr<TInternalFields> Fields;
        std::vector<std::vector<Variant>> Rows;
    };
    const TStored* Find(const std::string& Name) const;
    std::unique_ptr<TVekDataBase> FDb;
    bool FMemory = true;
    std::vector<TStored> FTables;
};

} // namespace orvex::querytest
