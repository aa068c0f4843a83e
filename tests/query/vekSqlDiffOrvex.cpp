#include "vekSqlDiffOrvex.h"

#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"
#include "query/vekJoinDataProviderUnit.h"
#include "sql/vekFilterOptimizer.h"
#include "storage/vekConsts.h"
#include "tests/storage/vekEngineTestUtil.h"

#if __has_include("query/vekQueryProvider.h")
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"
#define ORVEX_SQL_DIFF_ENGINE 1
#else
#define ORVEX_SQL_DIFF_ENGINE 0
#endif

namespace orvex::sqldiff {

namespace {

TValue FromVariant(const Variant& Value)
{
    if (Value.IsNull() || Value.IsEmpty())
        return TValue::MakeNull();
    if (Value.VType() == varString)
        return TValue::MakeString(Value.AsString());
    return TValue::MakeFloat(Value.AsDouble());
}

// Sets the process-wide test switches of a mode for one statement.
class TModeScope {
public:
    explicit TModeScope(const TEngineMode& Mode)
    {
        TFilterOptimizer::SetForceNoIndexesByDefault(Mode.ForceNoIndexes);
        TVekJoinDataProviderMgr::SetDefaultForcedJoinMethod(static_cast<TJoinMethod>(Mode.JoinMethod));
#if ORVEX_SQL_DIFF_ENGINE
        TVekQueryDataset::SetSimpleCountEnabledByDefault(!Mode.NoCountShortcut);
#endif
    }
    ~TModeScope()
    {
        TFilterOptimizer::SetForceNoIndexesByDefault(false);
        TVekJoinDataProviderMgr::SetDefaultForcedJoinMethod(TJoinMethod::Auto);
#if ORVEX_SQL_DIFF_ENGINE
        TVekQueryDataset::SetSimpleCountEnabledByDefault(true);
#endif
    }
    TModeScope(const TModeScope&) = delete;
    TModeScope& operator=(const TModeScope&) = delete;
};

} // namespace

std::string TEngineMode::Describe() const
{
    std::string text = Disk ? "disk" : "MEMORY";
    if (DropIndexes)
        text += ", no indexes";
    if (ForceNoIndexes)
        text += ", olNone forced";
    if (JoinMethod)
        text += std::string(", join method ") + JoinMethodName(static_cast<TJoinMethod>(JoinMethod));
    if (NoCountShortcut)
        text += ", COUNT shortcut off";
    return text;
}

bool EngineAvailable()
{
    return ORVEX_SQL_DIFF_ENGINE != 0;
}

TOrvexEngine::TOrvexEngine(TEngineMode Mode) : FMode(Mode) {}

TOrvexEngine::~TOrvexEngine()
{
    Close();
}

void TOrvexEngine::Close()
{
    if (FDb) {
        if (FMemory)
            for (const std::string& name : FTables)
                if (FDb->Connected())
                    FDb->DeleteTable(name, true);
        FDb->Close();
    }
    FDb.reset();
    FFolder.reset();
    FTables.clear();
}

void TOrvexEngine::Load(const TSchema& Schema)
{
    Close();
    FDb = std::make_unique<TVekDataBase>(nullptr);
    FMemory = !FMode.Disk;
    if (FMode.Disk) {
        FFolder = std::make_unique<enginetest::TTempDir>("vekdiff");
        const std::string path = FFolder->File("diff.vek");
        {
            TVekDataBase creator(nullptr);
            creator.SetDataBaseName(path);
            creator.CreateDatabase();
        }
        FDb->SetDataBaseName(path);
    } else {
        FDb->SetDataBaseName("MEMORY");
    }
    FDb->Open();
    for (const TTable& spec : Schema.Tables) {
        TVekTable table(nullptr);
        table.SetDataBase(FDb.get());
        table.SetTableName(spec.Name);
        table.SetMemory(FMemory);
        for (const TColumn& column : spec.Columns)
            table.FieldDefs()->Add(column.Name,
                                   column.Kind == TColKind::Int     ? ftInteger
                                   : column.Kind == TColKind::Float ? ftFloat
                                                                    : ftString,
                                   column.Kind == TColKind::Str ? column.Size : 0, column.NotNull);
        for (const TIndex& index : spec.Indexes) {
            if (FMode.DropIndexes)
                continue;
            std::string fields;
            for (const std::string& field : index.Fields)
                fields += (fields.empty() ? "" : ";") + field;
            TIndexOptions options = 0;
            if (index.Primary)
                options |= ixPrimary;
            if (index.Descending)
                options |= ixDescending;
            if (index.CaseInsensitive)
                options |= ixCaseInsensitive;
            table.IndexDefs()->Add(index.Name, fields, options);
        }
        if (FMemory && table.Exists())
            FDb->DeleteTable(spec.Name, true);
        table.CreateTable();
        FTables.push_back(spec.Name);
        table.Open();
        for (const TRow& row : spec.Rows) {
            table.Append();
            for (std::size_t c = 0; c < row.size(); ++c) {
                TField* field = table.FieldByName(spec.Columns[c].Name);
                const TValue& value = row[c];
                if (value.Kind == TValue::Null)
                    field->Clear();
                else if (value.Kind == TValue::String)
                    field->SetValue(Variant(value.Str));
                else if (spec.Columns[c].Kind == TColKind::Int)
                    field->SetValue(Variant(static_cast<Integer>(value.Num)));
                else
                    field->SetValue(Variant(value.Num));
            }
            table.Post();
        }
        table.Close();
    }
}

std::vector<TRow> TOrvexEngine::TableRows(const TTable& Spec)
{
    std::vector<TRow> rows;
    TVekTable table(nullptr);
    table.SetDataBase(FDb.get());
    table.SetTableName(Spec.Name);
    table.SetMemory(FMemory);
    table.Open();
    for (table.First(); !table.Eof(); table.Next()) {
        TRow row;
        for (const TColumn& column : Spec.Columns)
            row.push_back(FromVariant(table.FieldByName(column.Name)->AsVariant()));
        rows.push_back(std::move(row));
    }
    table.Close();
    return rows;
}

#if ORVEX_SQL_DIFF_ENGINE

namespace {

TResult Run(TVekDataBase* Db, const TEngineMode& Mode, const std::string& Sql, bool Select)
{
    TResult result;
    TModeScope scope(Mode);
    try {
        TVekQueryProvider provider;
        provider.SetDatabase(Db);
        provider.SetSQL(Sql);
        if (!provider.ValidateSQL()) {
            result.Error = provider.GetErrorsAsText();
            return result;
        }
        if (!Select) {
            if (!provider.ExecSQL())
                result.Error = provider.GetErrorsAsText();
            else
                result.RowsAffected = provider.GetRowsAffected();
            return result;
        }
        if (!provider.PreparePlan() || !provider.CreateResultSet()) {
            result.Error = provider.GetErrorsAsText();
            if (result.Error.empty())
                result.Error = "the statement failed without a message";
            return result;
        }
        TVekQueryDataset* rows = provider.GetResultSet();
        if (!rows) {
            result.Error = "no result set";
            return result;
        }
        if (!rows->Active())
            rows->Open();
        for (rows->First(); !rows->Eof(); rows->Next()) {
            TRow row;
            for (int f = 0; f < rows->FieldCount(); ++f) {
                TField* field = rows->Fields()->Fields(f);
                if (field->FieldName().rfind("__", 0) == 0)
                    continue; // hidden columns of a live result
                row.push_back(FromVariant(field->AsVariant()));
            }
            result.Rows.push_back(std::move(row));
        }
    } catch (const EVekDatabaseError& e) {
        result.Error = "engine error " + std::to_string(e.ErrorCode) + ": " + e.Message() + " " + e.TableMessage;
    } catch (const Exception& e) {
        result.Error = "exception: " + e.Message();
    } catch (const std::exception& e) {
        result.Error = std::string("exception: ") + e.what();
    }
    return result;
}

} // namespace

TResult TOrvexEngine::Query(const std::string& Sql)
{
    return Run(FDb.get(), FMode, Sql, true);
}

TResult TOrvexEngine::Exec(const std::string& Sql)
{
    return Run(FDb.get(), FMode, Sql, false);
}

#else

TResult TOrvexEngine::Query(const std::string&)
{
    TResult result;
    result.Error = "the statement driver is not built";
    return result;
}

TResult TOrvexEngine::Exec(const std::string& Sql)
{
    return Query(Sql);
}

#endif

} // namespace orvex::sqldiff
