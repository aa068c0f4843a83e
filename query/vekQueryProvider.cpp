// The statement driver: the provider (text, database, parameters, errors,
// table-name resolution) and the items' life and parsing.

#include "query/vekQueryProvider.h"

#include "dataset/vekDatabase.h"
#include "query/vekQueryDataset.h"
#include "storage/vekConsts.h"

#include <atomic>

namespace orvex {

namespace {

// Result tables live in their database's memory tables, where every
// statement of every query component of the process puts its own: the
// names are drawn from one counter, so that no two statements ever share a
// result table.
std::atomic<std::uint32_t> GResultTableCounter{0};

std::string NewResultTableName(int ID)
{
    const std::uint32_t serial = ++GResultTableCounter;
    return "$Q" + IntToHex(ID & 0xFFFF, 4) + IntToHex(serial, 8);
}

} // namespace

// ================================================================ provider

TVekQueryProvider::TVekQueryProvider()
    : TCollection(ItemClassOf<TVekQueryProviderItem>()), FSQL(std::make_unique<TStringList>()),
      FErrors(std::make_unique<TStringList>()), FProviderErrors(std::make_unique<TStringList>())
{
}

TVekQueryProvider::~TVekQueryProvider()
{
    ClearItems();
}

void TVekQueryProvider::ClearItems()
{
    FParsed = false;
    // Nested items borrow the tokens and engines of the items that contain
    // them, which come before them: free from the last.
    while (Count() > 0)
        Delete(Count() - 1);
}

void TVekQueryProvider::SetSQL(TStrings* Value)
{
    ClearItems();
    FSQL->Assign(Value);
}

void TVekQueryProvider::SetSQL(const std::string& Text)
{
    ClearItems();
    FSQL->SetText(Text);
}

bool TVekQueryProvider::ValidateSQLOnly()
{
    ClearItems();
    FErrors->Clear();
    FProviderErrors->Clear();
    TVekQueryProviderItem* item = AddItem();
    item->SQL()->Assign(FSQL.get());
    FParsed = item->ValidateSQL();
    FParsedDatabase = FDatabase;
    return FParsed;
}

bool TVekQueryProvider::ValidateSQLOrReuse()
{
    if (ParseStillValid())
        return true;
    return ValidateSQLOnly();
}

namespace {

// Whether two field lists describe the same record image under the same
// names: what a parse took from a table's definition.
bool SameFields(const TInternalFields* A, const TInternalFields* B)
{
    if (A->Count() != B->Count())
        return false;
    for (int i = 0; i < A->Count(); ++i) {
        const TInternalFieldItem* a = A->GetIndex(i);
        const TInternalFieldItem* b = B->GetIndex(i);
        if (a->FieldName() != b->FieldName() || a->FieldNo() != b->FieldNo() || a->FieldIndex() != b->FieldIndex() ||
            a->DataType() != b->DataType() || a->FieldSize() != b->FieldSize() ||
            a->NumDecimalPlaces() != b->NumDecimalPlaces() || a->Required() != b->Required() ||
            a->SizeMarkerOffset() != b->SizeMarkerOffset() || a->DataOffset() != b->DataOffset() ||
            a->NullFlagOffset() != b->NullFlagOffset() || a->IsVariable() != b->IsVariable() ||
            a->Hidden() != b->Hidden() || a->SourceField() != b->SourceField() ||
            a->PrivilegeFlags() != b->PrivilegeFlags())
            return false;
    }
    return true;
}

} // namespace

bool TVekQueryProvider::ParseStillValid()
{
    // Only a SELECT runs again from its parse: the other statements' items
    // keep what their last run wrote.
    if (!FParsed || !FDatabase || FParsedDatabase != FDatabase || !FDatabase->Connected() || Count() == 0 ||
        Items(0)->GetSQLStatementType() != vsSQLSelect || FProviderErrors->Count() > 0)
        return false;
    for (int i = 0; i < Count(); ++i) {
        TVekQueryProviderItem* item = Items(i);
        if (item->Failed() || item->Errors()->Count() > 0 || !item->ParserEngine())
            return false;
        // Every table resolves as a fresh parse would resolve it (a disk
        // table before a memory table of the name, unless the statement
        // marks it in memory) and has the fields the parse bound names to.
        TTableList* tables = item->ParserEngine()->TableList();
        for (int t = 0; t < tables->Count(); ++t) {
            TTableNameItem* table = tables->Items(t);
            const std::string& name = table->TableName();
            bool memory = true;
            if (!table->MemorySpecified() && !FDatabase->IsMemory() && FDatabase->TableExists(name, false))
                memory = false;
            else if (!FDatabase->TableExists(name, true))
                return false;
            if (memory != table->Memory() || !table->TableFields())
                return false;
            TInternalFields fields;
            GetFieldsForTable(name, &fields, memory);
            if (!SameFields(&fields, table->TableFields()))
                return false;
        }
    }
    return true;
}

bool TVekQueryProvider::ValidateSQL()
{
    if (!ValidateSQLOnly())
        return false;
    if (FParams)
        Items(0)->CreateParamList();
    return true;
}

bool TVekQueryProvider::ResetParams()
{
    if (!FParams || !FDatabase)
        return false;
    if (ValidateSQL())
        return true;
    if (Count() > 0)
        Items(0)->CreateParamList();
    return false;
}

bool TVekQueryProvider::PreparePlan()
{
    // The tables of the last run stay open into this one (the plans take
    // them again): what they kept of that run beside the pages (a record
    // count, rows read ahead) is read afresh, as a table opened anew would.
    for (int i = 0; i < Count(); ++i)
        for (const auto& leaf : Items(i)->ProviderMgr()->NonJoinProviders())
            if (leaf->Bridge() && leaf->Bridge()->DataSetIsOpen())
                leaf->Bridge()->DumpInternalCaches();
    return Count() > 0 && Items(0)->Prepare();
}

bool TVekQueryProvider::CreateResultSet()
{
    if (Count() == 0)
        return false;
    TVekQueryProviderItem* item = Items(0);
    item->SetRequestLive(FRequestLive && Count() == 1);
    item->SetCreateDefsOnly(FCreateDefsOnly);
    const bool result = item->CreateResultSet();
    // The nested items' result tables are dropped; the items stay, since
    // the statement's expression nodes still run them when it is filled
    // again (a refresh plans and fills item 0 anew).
    for (int i = Count() - 1; i >= 1; --i)
        Items(i)->DropResultTable();
    return result;
}

bool TVekQueryProvider::ExecSQL()
{
    return Count() > 0 && Items(0)->ExecSQL();
}

TVekSQLStatementType TVekQueryProvider::GetSQLStatementType() const
{
    return Count() > 0 ? Items(0)->GetSQLStatementType() : vsSQLUnknown;
}

TVekQueryDataset* TVekQueryProvider::GetResultSet() const
{
    return Count() > 0 ? Items(0)->ResultSet() : nullptr;
}

bool TVekQueryProvider::GetIsLiveRequest() const
{
    return Count() == 1 && Items(0)->ResultIsLive();
}

void TVekQueryProvider::SetLiveResultBridge(TVekDatasetBridge* Bridge)
{
    if (Count() == 1)
        Items(0)->SetLiveResultBridge(Bridge);
}

Integer TVekQueryProvider::GetRowsAffected() const
{
    if (Count() == 0)
        return 0;
    TVekQueryProviderItem* item = Items(0);
    TVekQueryDataset* resultSet = item->ResultSet();
    const TVekSQLStatementType type = item->GetSQLStatementType();
    if (type == vsSchemaManipulation || !resultSet)
        return 0;
    if (type == vsSQLSelect && resultSet->Active())
        return resultSet->RecordCount();
    return resultSet->GetRowsAffected();
}

TStrings* TVekQueryProvider::GetErrors()
{
    FErrors->Clear();
    FErrors->AddStrings(FProviderErrors.get());
    for (int i = 0; i < Count(); ++i)
        FErrors->AddStrings(Items(i)->Errors());
    for (int i = FErrors->Count() - 1; i >= 0; --i)
        if (FErrors->Strings(i).empty())
            FErrors->Delete(i);
    return FErrors.get();
}

std::string TVekQueryProvider::GetErrorsAsText()
{
    std::string text;
    TStrings* errors = GetErrors();
    for (int i = 0; i < errors->Count(); ++i)
        text += errors->Strings(i) + ". ";
    return text;
}

bool TVekQueryProvider::CheckTableList(TTableList* Tables, bool ReportMissing)
{
    ORVEX_ASSERT(FDatabase != nullptr, "The database has not been assigned");
    // Names compare without regard to case.
    bool all = true;
    for (int i = 0; i < Tables->Count(); ++i) {
        TTableNameItem* item = Tables->Items(i);
        const std::string& name = item->TableName();
        bool found = false;
        if (!item->MemorySpecified() && !item->Memory() && !FDatabase->IsMemory() &&
            FDatabase->TableExists(name, false)) {
            item->SetMemory(false);
            found = true;
        }
        if (!found && FDatabase->TableExists(name, true)) {
            item->SetMemory(true);
            found = true;
        }
        if (!found) {
            all = false;
            if (ReportMissing)
                FProviderErrors->Add("Table not found - " + item->TableName());
        }
    }
    return all;
}

void TVekQueryProvider::GetFieldsForTable(const std::string& TableName, TInternalFields* Fields, bool Memory)
{
    // The fields are the stored definition's, as a dataset opened on the
    // table numbers them. Opening it is needed only where the open itself
    // checks something: the user's right to read the table, an encrypted
    // table's key.
    TTableDef def(nullptr);
    FDatabase->QueryTableDef(TableName, Memory, &def);
    if (!FDatabase->NeedSecurity() && !def.Encrypted()) {
        TInternalFields fields;
        fields.Assign(def.InternalFields());
        for (int i = 0; i < fields.Count(); ++i)
            fields.GetIndex(i)->SetSourceField(fields.GetIndex(i)->FieldName());
        fields.Open();
        Fields->Assign(&fields);
        return;
    }
    TVekDatasetBridge bridge(nullptr);
    bridge.SetDataBase(FDatabase);
    bridge.SetTableName(TableName);
    bridge.SetMemory(Memory);
    bridge.Open();
    Fields->Assign(bridge.GetInternalFields());
    bridge.Close();
}

// ==================================================================== item

TVekQueryProviderItem::TVekQueryProviderItem(TCollection* Collection)
    : TCollectionItem(Collection), FSQL(std::make_unique<TStringList>()), FErrors(std::make_unique<TStringList>())
{
    FOwnEngine = std::make_unique<TVekParserEngine>();
    BindEngine(FOwnEngine.get());
    InternalCreateObjects();
    FResultTableName = NewResultTableName(ID());
}

TVekQueryProviderItem::~TVekQueryProviderItem()
{
    // The result table of the statement itself outlives the item: the query
    // component shows it and drops it when it closes.
    if (FParentQuery) {
        try {
            DropResultTable();
        } catch (const Exception&) {
            // A destructor reports nothing; the memory table goes with its
            // database at the latest.
        }
    } else if (FResultSet && FResultSet->Active()) {
        FResultSet->Close();
    }
    InternalDestroyObjects();
}

TVekQueryProvider* TVekQueryProviderItem::Provider() const
{
    return static_cast<TVekQueryProvider*>(Collection());
}

bool TVekQueryProviderItem::AddError(const std::string& Text)
{
    FErrors->Add(Text);
    FFailed = true;
    return false;
}

void TVekQueryProviderItem::BindEngine(TVekParserEngine* Engine)
{
    FEngine = Engine;
    FEngine->SetParserEngineNotifyEvent(
        [this](TParserNotifyType NotifyType, TVekParserEngine* Nested, TVekExprNode* Node, Variant& NotifyData) {
            ParserEngineCallback(NotifyType, Nested, Node, NotifyData);
        });
}

void TVekQueryProviderItem::InternalCreateObjects()
{
    FAnalyser = std::make_unique<TVekQueryAnalyser>();
    FJoins = std::make_unique<TVekJoins>();
    FSelects = std::make_unique<TVekSelects>();
    FResultSetFields = std::make_unique<TResultSetFields>();
    FProviderMgr = std::make_unique<TVekJoinDataProviderMgr>();
    FPlan = std::make_unique<TVekPlan>();
    FSelectAnalyser = std::make_unique<TVekSelectAnalyser>();
    FResultSet = std::make_unique<TVekQueryDataset>(nullptr);
    FNodeProvider = std::make_unique<TQueryExprNodeDataProvider>();
    FNodeProvider->SetQueryProviderItem(this);
    FNodeProvider->SetProviderDataset(FResultSet.get());
}

void TVekQueryProviderItem::InternalDestroyObjects()
{
    FNodeProvider.reset();
    if (FResultSet && FResultSet->Active())
        FResultSet->Close();
    FResultSetFields.reset();
    FResultSet.reset();
    FPlan.reset();
    FProviderMgr.reset();
    FSelectAnalyser.reset();
    FAnalyser.reset();
    FJoins.reset();
    FSelects.reset();
    FRootExpr.reset();
    FHavingExpr.reset();
}

void TVekQueryProviderItem::DropResultTable()
{
    if (!FResultSet)
        return;
    if (FResultSet->Active())
        FResultSet->Close();
    if (!FDefsCreated)
        return;
    FDefsCreated = false;
    // The result table lives where the result store put it: in the
    // statement's database or in its temporary database.
    TVekDataBase* db = FResultSet->DataBase();
    if (db && db->Connected() && db->TableExists(FResultTableName, FResultSet->Memory()))
        db->DeleteTable(FResultTableName, FResultSet->Memory());
    // The next run builds its definitions again.
    FResultSet->FieldDefs()->Clear();
    FResultSet->IndexDefs()->Clear();
}

TVekSQLStatementType TVekQueryProviderItem::GetSQLStatementType() const
{
    return FEngine ? FEngine->GetSQLStatementType() : vsSQLUnknown;
}

TSelectFields* TVekQueryProviderItem::GetSelectResultSetFields() const
{
    return FSelectAnalyser->SelectFields();
}

// ----------------------------------------------------------------- parsing

bool TVekQueryProviderItem::NestedFailed() const
{
    for (const TVekQueryProviderItem* nested : FNestedItems)
        if (nested->FFailed)
            return true;
    return false;
}

bool TVekQueryProviderItem::FailEngine()
{
    // A nested statement that failed has its own error line (with the
    // position where it stopped); its container adds none.
    if (NestedFailed()) {
        FFailed = true;
        return false;
    }
    const std::string message = FEngine->GetErrorMsg();
    return AddError(message.empty() ? std::string(SvekUnrecognizedSQLStatement) + " " +
                                          FEngine->GetCurrentPreParserTokenAsErrorFmt()
                                    : message);
}

bool TVekQueryProviderItem::ValidateSQL()
{
    FErrors->Clear();
    FFailed = false;
    const std::string text = FSQL->Text();
    if (Trim(text).empty())
        return AddError(SvekEmptySQLStatement);
    if (!FEngine->PreParseSQL(text))
        return FailEngine();
    if (!InternalParseQuery())
        return false;
    if (NestedFailed())
        return FailEngine();
    // Nested statements leave the engine's stacks where they stopped, so
    // the check holds for statements with subqueries and UNION parts too.
    if (!FEngine->CheckNoTokensRemain())
        return AddError("Unrecognized tokens beyond end of statement: " +
                        FEngine->GetCurrentPreParserTokenAsErrorFmt());
    return true;
}

bool TVekQueryProviderItem::InternalParseQuery()
{
    switch (FEngine->GetSQLStatementType()) {
    case vsSQLSelect:
        return InternalParseSelectQuery();
    case vsSQLInsert:
        return InternalParseInsertQuery();
    case vsSQLDelete:
        return InternalParseDeleteQuery();
    case vsSQLUpdate:
        return InternalParseUpdateQuery();
    case vsSchemaManipulation:
        return InternalParseSchemaStatement();
    default:
        return AddError(std::string(SvekUnrecognizedSQLStatement) + " " +
                        FEngine->GetCurrentPreParserTokenAsErrorFmt());
    }
}

bool TVekQueryProviderItem::CheckTables(TTableList* Tables)
{
    if (!Provider()->CheckTableList(Tables, true)) {
        FFailed = true;
        return false;
    }
    InternalSetupTableLists(Tables);
    return true;
}

void TVekQueryProviderItem::InternalSetupTableLists(TTableList* Tables)
{
    for (int i = 0; i < Tables->Count(); ++i) {
        TTableNameItem* table = Tables->Items(i);
        TInternalFields fields;
        Provider()->GetFieldsForTable(table->TableName(), &fields, table->Memory());
        table->SetTableFields(&fields);
    }
}

// One clause: false (with the engine's or a nested statement's error) when
// it failed or a statement nested in it did.
#define PARSE_STEP(call)                                                                                               \
    do {                                                                                                               \
        if (!(call) || NestedFailed())                                                                                 \
            return FailEngine();                                                                                       \
    } while (false)

bool TVekQueryProviderItem::InternalParseSelectQuery()
{
    PARSE_STEP(FEngine->ParseFromClause());
    if (!CheckTables(FEngine->TableList()))
        return false;
    PARSE_STEP(FEngine->ParseSelectClause());
    PARSE_STEP(FEngine->ParseWhereClause());
    PARSE_STEP(FEngine->ParseGroupByClause());
    PARSE_STEP(FEngine->ParseHavingClause());
    FSelectAnalyser->SetIsDistinct(FEngine->SelectParser()->IsDistinct());
    if (!FSelectAnalyser->CheckSelect(FEngine->SelectParser()->SelectNodes(), FEngine->TableList()) ||
        !FSelectAnalyser->CheckGroupedColumns(FEngine->GroupByItems()) ||
        !FSelectAnalyser->CheckHavingExpr(FEngine->HavingParser()->Expr()))
        return AddError(FSelectAnalyser->ErrorText());
    if (FIsUnionPart)
        return true;
    bool unionAll = false;
    while (FEngine->CheckForUnionStatement(false, unionAll)) {
        // A failed part stops here: the engine would answer UNION again for
        // the token where the part stopped.
        if (!ParseRemainingUnionStatement(unionAll))
            return false;
        unionAll = false;
    }
    if (!FEngine->ErrorText().empty())
        return FailEngine();
    if (!ValidateUnionSubStatements())
        return false;
    PARSE_STEP(FEngine->ParseOrderByClause());
    if (!FSelectAnalyser->CheckOrderByColumns(FEngine->OrderByItems()))
        return AddError(FSelectAnalyser->ErrorText());
    return true;
}

#undef PARSE_STEP

bool TVekQueryProviderItem::ParseRemainingUnionStatement(bool UnionAll)
{
    Variant data(UnionAll);
    FEngine->ParserCallback(pntSelectUnion, FEngine->WhereParser(), nullptr, nullptr, data);
    if (NestedFailed() || FEngine->WhereParser()->HasParseError()) {
        if (NestedFailed()) {
            FFailed = true;
            return false;
        }
        return AddError(FEngine->WhereParser()->GetErrorMsg());
    }
    return true;
}

bool TVekQueryProviderItem::ValidateUnionSubStatements()
{
    for (TVekQueryProviderItem* nested : FNestedItems)
        if (nested->IsUnionPart() &&
            !FSelectAnalyser->ValidateUnionSelectFields(nested->SelectAnalyser()->SelectFields()))
            return AddError(FSelectAnalyser->ErrorText());
    return true;
}

bool TVekQueryProviderItem::IsDistinctUnionStatement() const
{
    for (const TVekQueryProviderItem* nested : FNestedItems)
        if (nested->IsUnionPart() && !nested->UnionAll())
            return true;
    return false;
}

void TVekQueryProviderItem::ParserEngineCallback(TParserNotifyType NotifyType, TVekParserEngine* Engine,
                                                 TVekExprNode* Node, Variant& NotifyData)
{
    if (NotifyType == pntFindTableRef) {
        const std::string name = VarToStr(NotifyData);
        TTableNameItem* found = name.empty() ? nullptr : FindTable(name);
        if (!found && Node)
            found = FindTableForField(VarToStr(Node->Data()));
        // A name of this statement's own tables (HAVING asks for every name)
        // stays a column of this statement.
        if (found && OwnsTable(found)) {
            NotifyData = Variant(false);
            return;
        }
        if (found && Node) {
            // Every statement between this one and the one that owns the
            // table depends on that statement's current row.
            for (TVekQueryProviderItem* item = this; item && !item->OwnsTable(found); item = item->EnclosingQuery())
                item->FIsCorrelated = true;
            found->SetInCorrelatedSubquery(true);
            found->SetCorrelatedSubqueryID(ID());
            Node->SourceTables()->Add()->Assign(found);
        }
        NotifyData = Variant(found != nullptr);
        return;
    }
    if (!Engine || (NotifyType != pntSubquery && NotifyType != pntSelectUnion))
        return;
    TVekQueryProviderItem* item = Provider()->AddItem();
    item->FParentQuery = this;
    FNestedItems.push_back(item);
    if (NotifyType == pntSelectUnion) {
        // A UNION part stays with the engine that made it.
        item->FIsUnionPart = true;
        item->FUnionAll = NotifyData.VType() == varBoolean && NotifyData.AsBoolean();
        Engine->SetIsUnionSubstatement(true);
        item->AssignExternalParserEngine(false, "", Engine);
        return;
    }
    // A subquery's engine is taken over by its item.
    Engine->SetIsSubquery(true);
    item->FOwnEngineTaken.reset(FEngine->ReleaseNestedEngine(Engine));
    const TVekSQLStatementType type = GetSQLStatementType();
    const bool whereOnly = (type == vsSQLDelete && FEngine->DeleteParser()->HasWhereClause()) ||
                           (type == vsSQLUpdate && FEngine->UpdateParser()->HasWhereClause());
    if (whereOnly) {
        ORVEX_ASSERT(FEngine->TableList()->Count() == 1, "Parser engine table count is incorrect");
        item->AssignExternalParserEngine(true, FEngine->TableList()->Items(0)->TableName(), Engine);
    } else {
        item->AssignExternalParserEngine(false, "", Engine);
    }
    // The item's node provider exists once its objects are made again.
    if (Node)
        Node->SetExprNodeDataProvider(item->SubqueryNodeProvider());
}

bool TVekQueryProviderItem::AssignExternalParserEngine(bool WhereOnly, const std::string& TableName,
                                                       TVekParserEngine* Engine)
{
    InternalDestroyObjects();
    FOwnEngine.reset();
    if (FOwnEngineTaken)
        FOwnEngine = std::move(FOwnEngineTaken);
    BindEngine(Engine);
    InternalCreateObjects();
    const TVekSQLStatementType parentType = FParentQuery ? FParentQuery->GetSQLStatementType() : vsSQLUnknown;
    if ((parentType == vsSQLDelete || parentType == vsSQLUpdate) && !TableName.empty())
        FEngine->TableList()->Add()->SetTableName(TableName);
    FErrors->Clear();
    FFailed = false;
    return WhereOnly ? InternalParseWhereQuery() : InternalParseQuery();
}

bool TVekQueryProviderItem::OwnsTable(const TTableNameItem* Table) const
{
    TTableList* tables = FEngine->TableList();
    for (int i = 0; i < tables->Count(); ++i)
        if (tables->Items(i) == Table)
            return true;
    return false;
}

TTableNameItem* TVekQueryProviderItem::FindTable(const std::string& Name) const
{
    // SQL's scope first: an alias hides its table's name, so "t" under
    // "FROM t a" names an enclosing statement's t where there is one. Only
    // when no statement has the name in scope does an aliased table answer
    // to its own name, the nearest first.
    for (const TVekQueryProviderItem* item = this; item; item = item->EnclosingQuery())
        if (TTableNameItem* found = item->FEngine->TableList()->FindVisibleTable(Name))
            return found;
    for (const TVekQueryProviderItem* item = this; item; item = item->EnclosingQuery())
        if (TTableNameItem* found = item->FEngine->TableList()->FindTable(Name))
            return found;
    return nullptr;
}

TTableNameItem* TVekQueryProviderItem::FindTableForField(const std::string& Name) const
{
    if (TTableNameItem* item = FEngine->TableList()->FindTableForField(Name))
        return item;
    TVekQueryProviderItem* outer = EnclosingQuery();
    return outer ? outer->FindTableForField(Name) : nullptr;
}

} // namespace orvex
