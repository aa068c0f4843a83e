// SQLite as the differential test's reference: an in-memory database with
// case-sensitive LIKE and the engine's string order registered as ORVEX.

#include "vekSqlDiffGenerator.h"

#include <sqlite3.h>

#include <stdexcept>

namespace orvex::sqldiff {

namespace {

int CollateCallback(void*, int LengthA, const void* A, int LengthB, const void* B)
{
    return CollateOrvex(std::string(static_cast<const char*>(A), static_cast<std::size_t>(LengthA)),
                        std::string(static_cast<const char*>(B), static_cast<std::size_t>(LengthB)));
}

} // namespace

TSqlite::TSqlite()
{
    if (sqlite3_open(":memory:", &FDb) != SQLITE_OK)
        throw std::runtime_error("sqlite3_open failed");
    sqlite3_exec(FDb, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
    sqlite3_create_collation_v2(FDb, "ORVEX", SQLITE_UTF8, nullptr, CollateCallback, nullptr);
}

TSqlite::~TSqlite()
{
    sqlite3_close(FDb);
}

void TSqlite::Load(const TSchema& Schema)
{
    for (const TTable& table : Schema.Tables) {
        std::string create = "CREATE TABLE " + table.Name + " (";
        for (std::size_t c = 0; c < table.Columns.size(); ++c) {
            const TColumn& column = table.Columns[c];
            create += (c ? ", " : "") + column.Name;
            create += column.Kind == TColKind::Int     ? " INTEGER"
                      : column.Kind == TColKind::Float ? " REAL"
                                                       : Schema.MixedCase ? " TEXT COLLATE ORVEX" : " TEXT";
            if (column.NotNull)
                create += " NOT NULL";
        }
        create += ")";
        TResult created = Exec(create);
        if (!created.Error.empty())
            throw std::runtime_error(create + ": " + created.Error);
        for (const TIndex& index : table.Indexes)
            if (index.Primary)
                Exec("CREATE UNIQUE INDEX " + table.Name + "pk ON " + table.Name + " (id)");
        Exec("BEGIN");
        for (const TRow& row : table.Rows) {
            std::string insert = "INSERT INTO " + table.Name + " VALUES (";
            for (std::size_t c = 0; c < row.size(); ++c)
                insert += (c ? ", " : "") + row[c].Literal();
            TResult inserted = Exec(insert + ")");
            if (!inserted.Error.empty())
                throw std::runtime_error(insert + ": " + inserted.Error);
        }
        Exec("COMMIT");
    }
}

TResult TSqlite::Query(const std::string& Sql)
{
    TResult result;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(FDb, Sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        result.Error = sqlite3_errmsg(FDb);
        return result;
    }
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        TRow row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            switch (sqlite3_column_type(statement, c)) {
            case SQLITE_NULL:
                row.push_back(TValue::MakeNull());
                break;
            case SQLITE_INTEGER:
                row.push_back(TValue::MakeInt(sqlite3_column_int64(statement, c)));
                break;
            case SQLITE_FLOAT:
                row.push_back(TValue::MakeFloat(sqlite3_column_double(statement, c)));
                break;
            default:
                row.push_back(TValue::MakeString(
                    std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, c)),
                                static_cast<std::size_t>(sqlite3_column_bytes(statement, c)))));
                break;
            }
        }
        result.Rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        result.Error = sqlite3_errmsg(FDb);
    sqlite3_finalize(statement);
    return result;
}

TResult TSqlite::Exec(const std::string& Sql)
{
    TResult result = Query(Sql);
    if (result.Error.empty())
        result.RowsAffected = sqlite3_changes(FDb);
    return result;
}

std::vector<TRow> TSqlite::TableRows(const TTable& Table)
{
    std::string columns;
    for (std::size_t c = 0; c < Table.Columns.size(); ++c)
        columns += (c ? ", " : "") + Table.Columns[c].Name;
    return Query("SELECT " + columns + " FROM " + Table.Name).Rows;
}

} // namespace orvex::sqldiff
