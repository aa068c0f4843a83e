// The statement item's INSERT, UPDATE, DELETE and schema statements: parsing
// their clauses, preparing, binding their parameters, listing the records
// their selection matches, and carrying them out.
//
// The modifying statements write through the item's result set, opened over
// the statement's base table as the target. UPDATE and DELETE first list the
// addresses of every record they touch, and UPDATE evaluates every
// right-hand side of a row before it stores any: `UPDATE t SET id = id * 10`
// changes each row once whatever its index order, and `SET a = b, b = a`
// swaps. INSERT ... SELECT fills the SELECT's result table before the first
// row is added, so `INSERT INTO t SELECT * FROM t` copies the rows once.
//
// A write failing part-way (a key violation at the n-th row) raises the
// dataset layer's error; the query component rolls back the statement's own
// transaction on a disk database. The "MEMORY" database has no transactions:
// there the rows written before the failure stay written.
//
// Schema statements work through a TVekTable: CREATE TABLE creates it from
// the parsed columns (and primary index), DROP TABLE deletes it, ALTER TABLE,
// CREATE INDEX and DROP INDEX restructure a disk table (on an in-memory table
// the index statements add or delete the index directly; ALTER TABLE of an
// in-memory table is refused by the restructure). A disk table's restructure
// needs the database exclusively: when the connection is shared it is
// reopened exclusively for the statement, and only when that closes nothing
// else: with other datasets open on the connection, or in-memory tables that
// a reconnect would drop, the statement fails with 10121 and changes nothing.
// The connection's connected and exclusive state is restored on every path.

#include "query/vekQueryProvider.h"

#include "dataset/vekDataSetFilter.h"
#include "dataset/vekDatabase.h"
#include "host/DBConsts.h"
#include "host/SysUtils.h"
#include "query/vekQueryDataset.h"
#include "sql/vekExecParsers.h"
#include "sql/vekMiscParsersSchema.h"
#include "storage/vekConsts.h"

#include <vector>

namespace orvex {

namespace {

constexpr Integer ErrNotExclusive = 10121;

// The item's result set opened (engine level) over the statement's base
// table for the statement's writes; closed again when the scope ends.
class TTargetScope {
public:
    TTargetScope(TVekQueryDataset* Target, TVekDataBase* Db, TTableNameItem* Table) : FTarget(Target)
    {
        if (FTarget->Active())
            FTarget->Close();
        if (FTarget->DataSetIsOpen())
            FTarget->DataSetClose();
        FTarget->SetDataBase(Db);
        FTarget->SetTableName(Table->TableName());
        FTarget->SetMemory(Table->Memory() || Db->IsMemory());
        FTarget->DataSetOpen();
    }
    ~TTargetScope()
    {
        try {
            if (FTarget->DataSetIsOpen())
                FTarget->DataSetClose();
        } catch (...) {
        }
    }
    TTargetScope(const TTargetScope&) = delete;
    TTargetScope& operator=(const TTargetScope&) = delete;

private:
    TVekQueryDataset* FTarget;
};

// The addresses of every record of the target, in its index order.
std::vector<Cardinal> AllAddresses(TVekQueryDataset* Target)
{
    std::vector<Cardinal> list;
    for (bool more = Target->DataSetFirst(); more; more = Target->DataSetNext())
        list.push_back(Target->DatasetGetRecAddr());
    return list;
}

// Adds one record holding Values in the target's engine fields FieldNos;
// the others stay null. NOT NULL fields must have a value.
void AddTargetRecord(TVekQueryDataset* Target, const std::vector<Integer>& FieldNos,
                     const std::vector<Variant>& Values)
{
    Target->ClearRecord(Target->CurrentBuffer());
    for (std::size_t i = 0; i < FieldNos.size(); ++i)
        Target->DataSetSetFieldDataAsVariant(FieldNos[i], Values[i]);
    TInternalFields* fields = Target->GetInternalFields();
    const Integer autoInc = fields->AutoIncFieldNo();
    for (int i = 0; i < fields->Count(); ++i) {
        TInternalFieldItem* field = fields->GetIndex(i);
        if (field->Required() && field->FieldIndex() != autoInc && !field->Hidden() &&
            Target->GetIsFieldNullFromRecBuf(field->FieldIndex(), Target->CurrentBuffer()))
            DatabaseErrorFmt(SFieldRequired, {field->FieldName()}, Target);
    }
    const bool assignAutoInc = autoInc >= 0 && Target->GetIsFieldNullFromRecBuf(autoInc, Target->CurrentBuffer());
    Target->AddRecord(assignAutoInc);
}

// Restores a connection's connected and exclusive state when the scope
// ends, however it ends. Restore runs it on the normal path, where its
// errors are the statement's.
class TConnectionStateScope {
public:
    explicit TConnectionStateScope(TVekDataBase* Db)
        : FDb(Db), FWasConnected(Db->Connected()), FWasExclusive(Db->Exclusive())
    {
    }
    ~TConnectionStateScope()
    {
        if (FRestored)
            return;
        try {
            Restore();
        } catch (...) {
        }
    }
    TConnectionStateScope(const TConnectionStateScope&) = delete;
    TConnectionStateScope& operator=(const TConnectionStateScope&) = delete;

    // The connection reopened exclusively (it was shared).
    void ReopenExclusive()
    {
        FReopened = true;
        if (FDb->Connected())
            FDb->Close();
        FDb->SetExclusive(true);
        FDb->Open();
    }

    void Restore()
    {
        FRestored = true;
        if (FReopened) {
            if (FDb->Connected())
                FDb->Close();
            FDb->SetExclusive(FWasExclusive);
        }
        if (FWasConnected && !FDb->Connected())
            FDb->Open();
        else if (!FWasConnected && FDb->Connected())
            FDb->Close();
    }

private:
    TVekDataBase* FDb;
    bool FWasConnected;
    bool FWasExclusive;
    bool FReopened = false;
    bool FRestored = false;
};

// What an exclusive reopen of Db would close or drop besides the statement's
// own objects: open datasets and in-memory tables. Empty when nothing.
std::string WhatReopenWouldLose(TVekDataBase* Db)
{
    int open = 0;
    for (int i = 0; i < Db->DataSetCount(); ++i) {
        TDataSet* dataSet = Db->DataSets(i);
        auto* engineSet = dynamic_cast<TVekDataSet*>(dataSet);
        if (dataSet->Active() || (engineSet && engineSet->DataSetIsOpen()))
            ++open;
    }
    TStringList memoryTables;
    Db->GetTableNames(&memoryTables, true);
    std::string lost;
    if (open > 0)
        lost = IntToStr(open) + " open dataset(s)";
    if (memoryTables.Count() > 0)
        lost += (lost.empty() ? "" : " and ") + IntToStr(memoryTables.Count()) + " in-memory table(s)";
    return lost;
}

// The field definition of each parsed column.
void SetTableFieldDefs(TFieldDefs* FieldDefs, TInternalFields* Fields)
{
    FieldDefs->Clear();
    for (int i = 0; i < Fields->Count(); ++i) {
        TInternalFieldItem* field = Fields->GetIndex(i);
        int size = 0;
        switch (field->DataType()) {
        case ftString:
        case ftFixedChar:
        case ftWideString:
        case ftBytes:
        case ftVarBytes:
            size = field->FieldSize();
            break;
        default:
            break;
        }
        FieldDefs->Add(field->FieldName(), field->DataType(), size, field->Required());
    }
}

} // namespace

// ================================================================= parsing

bool TVekQueryProviderItem::InternalParseInsertQuery()
{
    if (!FEngine->ParseInsertStatement() || NestedFailed())
        return FailEngine();
    if (!CheckTables(FEngine->TableList()))
        return false;
    TVekInsertParser* parser = FEngine->InsertParser();
    TInternalFields* tableFields = FEngine->TableList()->Items(0)->TableFields();
    if (parser->HasSelectClause()) {
        ORVEX_ASSERT(FNestedItems.size() == 1, "Insert select count is incorrect");
        if (!parser->ValidateSelectColumns(FNestedItems[0]->GetSelectResultSetFields(), tableFields))
            return AddError(parser->GetErrorMsg());
    } else if (!parser->ValidateValueColumns(tableFields)) {
        return AddError(parser->GetErrorMsg());
    }
    return true;
}

bool TVekQueryProviderItem::InternalParseDeleteQuery()
{
    if (!FEngine->ParseDeleteStatement() || NestedFailed())
        return FailEngine();
    return CheckTables(FEngine->TableList());
}

bool TVekQueryProviderItem::InternalParseUpdateQuery()
{
    TVekUpdateParser* parser = FEngine->UpdateParser();
    parser->SetTableListValidateEvent([this](TTableList* Tables) { return CheckTables(Tables); });
    if (!FEngine->ParseUpdateStatement() || NestedFailed()) {
        // A missing table has its "Table not found" line already.
        if (!Provider()->ProviderErrors()->Count() || NestedFailed())
            return FailEngine();
        FFailed = true;
        return false;
    }
    if (!parser->ValidateValueColumns(FEngine->TableList()->Items(0)->TableFields()))
        return AddError(parser->GetErrorMsg());
    return true;
}

bool TVekQueryProviderItem::InternalParseSchemaStatement()
{
    if (!FEngine->ParseSchemaManipulationStatement())
        return FailEngine();
    TTableList* tables = FEngine->TableList();
    const bool found = Provider()->CheckTableList(tables, false);
    TVekSchemaManipulationParser* parser = FEngine->SchemaParser();
    if (parser->Operation() == ddCreateTable) {
        if (found)
            return AddError("Table already exists: " + parser->TableName());
    } else if (!found) {
        return AddError("Table not found: " + parser->TableName());
    }
    if (found)
        InternalSetupTableLists(tables);
    return true;
}

bool TVekQueryProviderItem::InternalParseWhereQuery()
{
    if (!CheckTables(FEngine->TableList()))
        return false;
    if (!FEngine->ParseWhereClause() || NestedFailed())
        return FailEngine();
    FSelectAnalyser->SetIsDistinct(FEngine->SelectParser()->IsDistinct());
    if (!FEngine->ParseOrderByClause() || NestedFailed())
        return FailEngine();
    return true;
}

// =============================================================== preparing

bool TVekQueryProviderItem::InternalPrepareInsertStatement()
{
    // The values of INSERT ... VALUES are constants or expressions over
    // constants and parameters: evaluated without a record.
    FEngine->InsertParser()->Row()->Prepare(nullptr);
    return true;
}

bool TVekQueryProviderItem::InternalPrepareUpdateStatement()
{
    return true;
}

void TVekQueryProviderItem::BindInsertParams()
{
    if (TParams* params = Provider()->Params())
        FEngine->InsertParser()->Row()->BindParams(params);
}

void TVekQueryProviderItem::BindUpdateParams()
{
    if (TParams* params = Provider()->Params())
        FEngine->UpdateParser()->Row()->BindParams(params);
}

// ======================================================= selection addresses

bool TVekQueryProviderItem::CreateResultList(std::vector<Cardinal>& List)
{
    List.clear();
    if (!PreparePlan())
        return false;
    ORVEX_ASSERT(FResultSet != nullptr, "Result set is not assigned");
    TVekBaseJoinDataProvider* root = FProviderMgr->RootProvider();
    auto* table = dynamic_cast<TVekNonJoinDataProvider*>(root);
    ORVEX_ASSERT(table != nullptr, "RootProvider type is incorrect");
    if (!table->Bridge() || !table->Bridge()->DataSetIsOpen())
        FProviderMgr->OpenProviders();
    // What the analysis could not answer from the selections (an OR, a
    // subquery) is checked row by row.
    if (!FAnalyser->CheckAnalysisComplete())
        InternalBindRootExprParams();
    // The table stays read-locked while the addresses are collected; the
    // writes come after the scan.
    TVekProviderScan scan(FProviderMgr.get());
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord())
        List.push_back(table->Bridge()->GetRecAddr());
    return true;
}

// =============================================================== executing

bool TVekQueryProviderItem::ExecSQL()
{
    switch (GetSQLStatementType()) {
    case vsSQLInsert:
        return InternalExecuteInsertStatement();
    case vsSQLDelete:
        return InternalExecuteDeleteStatement();
    case vsSQLUpdate:
        return InternalExecuteUpdateStatement();
    case vsSchemaManipulation:
        return InternalExecuteSchemaStatement();
    default:
        return AddError(SvekSQLStatmentCannotbeExecuted);
    }
}

bool TVekQueryProviderItem::InternalExecuteInsertStatement()
{
    FResultSet->SetRowsAffected(0);
    BindInsertParams();
    TVekInsertParser* parser = FEngine->InsertParser();
    TVekDataBase* db = Provider()->Database();
    TVekQueryDataset* target = FResultSet.get();

    // The SELECT's rows are all in its result table before the first
    // record is added.
    TVekQueryProviderItem* select = nullptr;
    if (parser->HasSelectClause()) {
        ORVEX_ASSERT(FNestedItems.size() == 1, "Insert select count is incorrect");
        select = FNestedItems[0];
        // Planned again, so that this run's parameter values are bound.
        if (!select->PreparePlan() || !select->CreateResultSet())
            return false;
    }

    TTargetScope scope(target, db, FEngine->TableList()->Items(0));
    TStringList* columns = parser->ColumnNames();
    std::vector<Integer> fieldNos;
    for (int i = 0; i < columns->Count(); ++i) {
        const Integer fieldNo = target->GetFieldNo(columns->Strings(i));
        if (fieldNo < 0)
            return AddError("Column not found: " + columns->Strings(i));
        fieldNos.push_back(fieldNo);
    }
    std::vector<Variant> values(fieldNos.size());
    Integer affected = 0;
    if (select) {
        TVekQueryDataset* source = select->ResultSet();
        const bool wasOpen = source->DataSetIsOpen();
        if (!wasOpen)
            source->DataSetOpen();
        try {
            // The result's visible columns in order (a live result's hidden
            // fields come after them).
            std::vector<Integer> sourceNos;
            TInternalFields* sourceFields = source->GetInternalFields();
            for (int i = 0; i < sourceFields->Count() && sourceNos.size() < fieldNos.size(); ++i)
                if (!sourceFields->GetIndex(i)->Hidden())
                    sourceNos.push_back(sourceFields->GetIndex(i)->FieldIndex());
            for (bool more = source->DataSetFirst(); more; more = source->DataSetNext()) {
                for (std::size_t i = 0; i < fieldNos.size(); ++i)
                    values[i] = i < sourceNos.size() ? source->DataSetGetFieldDataAsVariant(sourceNos[i]) : Null();
                AddTargetRecord(target, fieldNos, values);
                target->SetRowsAffected(++affected);
            }
        } catch (...) {
            if (!wasOpen && source->DataSetIsOpen())
                source->DataSetClose();
            throw;
        }
        if (!wasOpen && source->DataSetIsOpen())
            source->DataSetClose();
        return true;
    }
    // The evaluators take this run's parameter values.
    TVekRowConstructor* row = parser->Row();
    row->Prepare(nullptr);
    for (std::size_t i = 0; i < fieldNos.size(); ++i)
        values[i] = static_cast<int>(i) < row->Count() ? row->GetItems(static_cast<int>(i))->GetRowData() : Null();
    AddTargetRecord(target, fieldNos, values);
    target->SetRowsAffected(1);
    return true;
}

bool TVekQueryProviderItem::InternalExecuteDeleteStatement()
{
    FResultSet->SetRowsAffected(0);
    TVekQueryDataset* target = FResultSet.get();
    std::vector<Cardinal> addresses;
    // The selection lists every matching record before the first one goes:
    // a subquery over the same table sees the table as it was.
    if (FEngine->DeleteParser()->HasWhereClause()) {
        ORVEX_ASSERT(!FNestedItems.empty(), "Insert select count is incorrect");
        if (!FNestedItems.back()->CreateResultList(addresses))
            return false;
    }
    TTargetScope scope(target, Provider()->Database(), FEngine->TableList()->Items(0));
    if (!FEngine->DeleteParser()->HasWhereClause())
        addresses = AllAddresses(target);
    Integer affected = 0;
    for (Cardinal address : addresses) {
        target->DataSetSetToUnorderedRecord(address);
        if (target->DeleteRecord(nullptr) >= 0)
            target->SetRowsAffected(++affected);
    }
    return true;
}

bool TVekQueryProviderItem::InternalExecuteUpdateStatement()
{
    FResultSet->SetRowsAffected(0);
    BindUpdateParams();
    TVekUpdateParser* parser = FEngine->UpdateParser();
    TVekQueryDataset* target = FResultSet.get();
    std::vector<Cardinal> addresses;
    if (parser->HasWhereClause()) {
        ORVEX_ASSERT(!FNestedItems.empty(), "Insert select count is incorrect");
        if (!FNestedItems.back()->CreateResultList(addresses))
            return false;
    }
    TTargetScope scope(target, Provider()->Database(), FEngine->TableList()->Items(0));
    // The assignments read the record being updated from the target's
    // current buffer.
    TVekExprDBDataProvider reader;
    reader.Initialize(target);
    reader.SetReadDataFromRecBuf(true);
    TVekUpdateRowConstructor* row = parser->Row();
    row->Prepare(&reader);
    std::vector<Integer> fieldNos;
    for (int i = 0; i < row->Count(); ++i) {
        const std::string& name = row->GetItems(i)->TargetColumnName();
        const Integer fieldNo = target->GetFieldNo(name);
        if (fieldNo < 0)
            return AddError("Column not found: " + name);
        fieldNos.push_back(fieldNo);
    }
    if (!parser->HasWhereClause())
        addresses = AllAddresses(target);
    std::vector<Variant> values(fieldNos.size());
    Integer affected = 0;
    for (Cardinal address : addresses) {
        target->DataSetSetToUnorderedRecord(address);
        // Every right-hand side sees the record as it was read.
        for (std::size_t i = 0; i < fieldNos.size(); ++i)
            values[i] = row->GetItems(static_cast<int>(i))->GetRowData();
        target->BeginEditCopy();
        try {
            for (std::size_t i = 0; i < fieldNos.size(); ++i)
                target->DataSetSetFieldDataAsVariant(fieldNos[i], values[i]);
            TInternalFields* fields = target->GetInternalFields();
            for (std::size_t i = 0; i < fieldNos.size(); ++i) {
                TInternalFieldItem* field = fields->GetIndex(fieldNos[i]);
                if (field->Required() && (values[i].IsNull() || values[i].IsEmpty()))
                    DatabaseErrorFmt(SFieldRequired, {field->FieldName()}, target);
            }
            target->UpdateRecord();
        } catch (...) {
            target->EndEditCopy();
            throw;
        }
        target->EndEditCopy();
        target->SetRowsAffected(++affected);
    }
    return true;
}

bool TVekQueryProviderItem::InternalExecuteSchemaStatement()
{
    constexpr const char* Context = "TVekQueryProviderItem.InternalExecuteSchemaStatement";
    TVekSchemaManipulationParser* parser = FEngine->SchemaParser();
    TVekDataBase* db = Provider()->Database();
    TTableNameItem* tableItem = FEngine->TableList()->Items(0);
    const TSQLSchemaManipulationOp op = parser->Operation();
    const bool memory = db->IsMemory() || tableItem->Memory();
    const std::string& tableName = tableItem->TableName();

    TConnectionStateScope state(db);
    if (op != ddCreateTable && !memory && !db->Exclusive()) {
        const std::string lost = WhatReopenWouldLose(db);
        if (!lost.empty())
            VekDatabaseError(ErrNotExclusive, Context,
                             "The statement needs the database exclusively; reopening it would close " + lost,
                             nullptr);
        state.ReopenExclusive();
    }
    if (!db->Connected())
        db->Open();

    TVekTable work(nullptr);
    work.SetDataBase(db);
    work.SetTableName(tableName);
    work.SetMemory(memory);

    bool ok = true;
    if (op == ddDropTable) {
        db->DeleteTable(tableName, memory);
    } else if (op == ddCreateTable) {
        SetTableFieldDefs(work.FieldDefs(), parser->AddedFields());
        work.IndexDefs()->Clear();
        if (!parser->IndexName().empty() || (parser->IndexOptions() & ixPrimary))
            work.IndexDefs()->Add(parser->IndexName(), parser->GetIndexFieldsAsText(), parser->IndexOptions());
        work.CreateTable();
    } else {
        work.Open();
        const bool valid = parser->ValidateTableChanges(work.GetInternalFields(), work.IndexDefs());
        TRestructureFieldDefs* fieldDefs = work.GetRestructureFieldDefs();
        TRestructureIndexDefs* indexDefs = work.GetRestructureIndexDefs();
        work.Close();
        if (!valid) {
            ok = AddError(parser->GetErrorMsg());
        } else if (memory && (op == ddCreateIndex || op == ddDropIndex)) {
            // A component that was never opened: its index state is the
            // stored one.
            TVekTable indexes(nullptr);
            indexes.SetDataBase(db);
            indexes.SetTableName(tableName);
            indexes.SetMemory(true);
            if (op == ddCreateIndex)
                indexes.AddIndex(parser->IndexName(), parser->GetIndexFieldsAsText(), parser->IndexOptions());
            else
                indexes.DeleteIndex(parser->IndexName());
        } else {
            if (op == ddAlterTable)
                parser->SetRestructureFieldDefs(fieldDefs);
            parser->SetRestructureIndexDefs(indexDefs);
            work.RestructureTable(TInternalRestructureRecord{});
        }
    }
    state.Restore();
    return ok;
}

} // namespace orvex
