// The statement driver's SELECT road: plan, parameters, outer references of
// correlated subqueries, the result table (columns, indexes, rows, HAVING,
// UNION parts) and the subquery node provider.

#include "query/vekQueryProvider.h"

#include "dataset/vekDatabase.h"
#include "query/vekQueryDataset.h"
#include "storage/vekConsts.h"

#include <algorithm>
#include <vector>

namespace orvex {

namespace {

bool ContainsCorrelatedSubquery(const TVekExpr* Expr)
{
    if (!Expr)
        return false;
    for (const TVekExprNode* node = Expr->FirstNode(); node; node = node->Next()) {
        if (node->Kind() != enkSubquery)
            continue;
        const auto* provider = dynamic_cast<const TQueryExprNodeDataProvider*>(node->ExprNodeDataProvider());
        if (provider && provider->QueryProviderItem() && provider->QueryProviderItem()->IsCorrelated())
            return true;
    }
    return false;
}

bool IsOuterReference(const TVekExprNode* Node)
{
    return Node->Operator() == veoOUTERFIELD;
}

} // namespace

// ============================================================== preparing

bool TVekQueryProviderItem::Prepare()
{
    bool ok = true;
    switch (GetSQLStatementType()) {
    case vsSQLSelect:
        // A correlated subquery is planned for each row of its container,
        // with that row's values bound, when it runs.
        ok = FIsCorrelated || PreparePlan();
        break;
    case vsSQLInsert:
        ok = InternalPrepareInsertStatement();
        break;
    case vsSQLUpdate:
        ok = InternalPrepareUpdateStatement();
        break;
    case vsSQLDelete:
    case vsSchemaManipulation:
        break;
    default:
        ok = AddError(SvekUnrecognizedSQLStatement);
        break;
    }
    if (!ok)
        return false;
    for (TVekQueryProviderItem* nested : FNestedItems)
        if (!nested->Prepare())
            return false;
    return true;
}

bool TVekQueryProviderItem::PreparePlan()
{
    TVekDataBase* db = Provider()->Database();
    ORVEX_ASSERT(db != nullptr, "The database has not been assigned");
    if (FResultSet->Active())
        FResultSet->Close();
    // The working copy of WHERE: outer references and parameters become
    // constants in it, the parsed tree stays as written.
    FRootExpr = std::make_unique<TVekExpr>();
    if (TVekExprNode* where = FEngine->WhereParser()->Root())
        FRootExpr->CloneFromTree(where);
    if (FIsCorrelated)
        ResetOuterFieldRefs(FRootExpr.get());
    BindParams(FRootExpr.get());
    BindFromParams();
    BindSelectParams();

    // A statement is planned again for every run of its query, a correlated
    // subquery for every row of its container: its tables stay open from
    // one plan to the next (as the last plan's stay open after its run),
    // so that their definitions, headers and cached pages are not read
    // afresh each time.
    FProviderMgr->SetKeepTablesOpen(true);
    FProviderMgr->Clear();
    FProviderMgr->SetDatabase(db);
    FPlan = std::make_unique<TVekPlan>();
    TTableList* tables = FEngine->TableList();
    TVekExprNode* root = FRootExpr->FirstNode();
    // A correlated subquery in the condition reads the current row of every
    // table it refers to: it runs only over joined rows, never inside a
    // table's own selection.
    const bool keepWhole = ContainsCorrelatedSubquery(FRootExpr.get());
    FAnalyser->Prepare(FJoins.get(), FSelects.get(), keepWhole ? nullptr : root, tables);
    FPlan->SetTableList(tables);
    FPlan->SetJoins(FJoins.get());
    FPlan->SetSelects(FSelects.get());
    FPlan->SetProviderMgr(FProviderMgr.get());
    FPlan->SetFromTrees(FEngine->FromParser()->Trees());
    FPlan->SetResidualRoot(keepWhole || !FAnalyser->CheckAnalysisComplete() ? root : nullptr);
    FPlan->PreparePlan();
    FPlanned = true;
    return true;
}

bool TVekQueryProviderItem::PrepareCrossJoinPlan()
{
    return PreparePlan();
}

void TVekQueryProviderItem::InternalBindRootExprParams()
{
    // The plan binds the residual condition to the provider manager when it
    // is prepared (PreparePlan): nothing is left to bind here.
}

// ============================================================= parameters

void TVekQueryProviderItem::CreateParamList()
{
    TParams* params = Provider()->Params();
    if (!params)
        return;
    params->Clear();
    TStringList names;
    FEngine->GetParamList(&names);
    for (int i = 0; i < names.Count(); ++i)
        params->CreateParam(ftUnknown, names.Strings(i), ptInput);
}

void TVekQueryProviderItem::BindNodeParams(TVekExprNode* Node)
{
    TParams* params = Provider()->Params();
    const bool isParam = Node->Operator() == veoPARAMETER || Node->OriginalOperator() == veoPARAMETER;
    if (!params || !isParam)
        return;
    // The name stays in OriginalData, so that the node binds again with the
    // next values.
    if (Node->OriginalOperator() != veoPARAMETER) {
        Node->SetOriginalOperator(veoPARAMETER);
        Node->SetOriginalData(Node->Data());
    }
    TParam* param = params->ParamByName(VarToStr(Node->OriginalData()));
    Node->SetData(param->Value());
    Node->SetOperator(veoCONST2);
    Node->SetKind(enkConst);
    if (param->DataType() != ftUnknown)
        Node->SetDataType(param->DataType());
}

void TVekQueryProviderItem::BindExprParams(TVekExpr* Expr)
{
    if (!Expr || !Provider()->Params())
        return;
    for (TVekExprNode* node = Expr->FirstNode(); node; node = node->Next())
        BindNodeParams(node);
}

void TVekQueryProviderItem::BindParams(TVekExpr* Expr)
{
    if (!Provider()->Params())
        return;
    switch (GetSQLStatementType()) {
    case vsSQLSelect:
        BindExprParams(Expr);
        break;
    case vsSQLInsert:
        BindInsertParams();
        break;
    case vsSQLUpdate:
        BindUpdateParams();
        break;
    default:
        break;
    }
}

void TVekQueryProviderItem::BindFromParams()
{
    if (!Provider()->Params())
        return;
    for (TVekTableRefNode* tree : FEngine->FromParser()->Trees())
        BindFromNode(tree, 0);
}

void TVekQueryProviderItem::BindFromNode(TVekTableRefNode* Node, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return;
    BindExprParams(Node->Expr());
    BindFromNode(Node->Left(), Depth + 1);
    BindFromNode(Node->Right(), Depth + 1);
}

void TVekQueryProviderItem::BindSelectParams()
{
    if (!Provider()->Params() || GetSQLStatementType() != vsSQLSelect)
        return;
    // Computed columns and HAVING read their parameters in place.
    for (TVekSelectNode* node = FEngine->SelectParser()->SelectNodes(); node; node = node->Next())
        BindExprParams(node->Expr());
    BindExprParams(FEngine->HavingParser()->Expr());
}

// ================================================== correlated subqueries

void TVekQueryProviderItem::ResetOuterFieldRefs(TVekExpr* Expr)
{
    TVekQueryProviderItem* outer = EnclosingQuery();
    if (!Expr || !outer)
        return;
    for (TVekExprNode* node = Expr->FirstNode(); node; node = node->Next()) {
        if (!IsOuterReference(node) || node->SourceTables()->Count() == 0)
            continue;
        const TTableNameItem* table = node->SourceTables()->Items(0);
        const std::string name = table->CorrelationName().empty() ? table->TableName() : table->CorrelationName();
        const Variant value = outer->GetFieldData(name, VarToStr(node->Data()));
        node->SetData(value);
        node->SetOperator(veoCONST2);
        node->SetKind(enkConst);
    }
}

Variant TVekQueryProviderItem::GetFieldData(const std::string& TableName, const std::string& FieldName)
{
    // An UPDATE's table: the record being updated, in its target's buffer.
    if (GetSQLStatementType() == vsSQLUpdate && FResultSet && FResultSet->DataSetIsOpen() &&
        AnsiSameText(FEngine->UpdateParser()->TableName(), TableName)) {
        const Integer fieldNo = FResultSet->GetFieldNo(FieldName);
        return fieldNo < 0 ? Variant() : FResultSet->DataSetGetFieldDataAsVariant(fieldNo);
    }
    // The instance of the table this statement reads: by correlation name,
    // else by the name of a table without one.
    for (const auto& leaf : FProviderMgr->NonJoinProviders()) {
        const bool match = leaf->CorrelationName().empty() ? AnsiSameText(leaf->TableName(), TableName)
                                                           : AnsiSameText(leaf->CorrelationName(), TableName);
        if (!match)
            continue;
        TInternalFieldItem* field = leaf->FindField(nullptr, FieldName);
        if (!field)
            return Variant();
        if (!leaf->HasRow() || leaf->ForcedNull())
            return Variant::Null();
        return leaf->GetDataAsVariant(field->FieldNo());
    }
    TVekQueryProviderItem* outer = EnclosingQuery();
    return outer ? outer->GetFieldData(TableName, FieldName) : Variant();
}

// ================================================================ running

void TVekQueryProviderItem::CreateResultSetFields()
{
    const bool newDefs = !FDefsCreated;
    if (newDefs)
        FResultSet->FieldDefs()->Clear();
    FResultSetFields->Clear();
    TSelectFields* selectFields = FSelectAnalyser->SelectFields();
    for (int i = 0; i < selectFields->Count(); ++i) {
        TResultSetField* column = FResultSetFields->AddSelectColumn(selectFields->GetItems(i), FProviderMgr.get(),
                                                                    newDefs ? FResultSet->FieldDefs() : nullptr);
        FitColumnName(column, newDefs ? FResultSet->FieldDefs()->Items(FResultSet->FieldDefs()->Count() - 1)
                                      : nullptr);
    }
    if (newDefs)
        WidenUnionColumns();
}

void TVekQueryProviderItem::FitColumnName(TResultSetField* Column, TFieldDef* Def)
{
    // A computed column is named by its text, which may be longer than a
    // field name can be: the name is cut, and kept unique with "_" and a
    // number.
    const std::string& name = Column->FieldName();
    if (static_cast<Integer>(name.size()) <= VekMaxObjectNameLength && name == TrimRight(name))
        return;
    const auto taken = [&](const std::string& Candidate) {
        for (int i = 0; i < FResultSetFields->Count(); ++i)
            if (FResultSetFields->Items(i) != Column && SameText(FResultSetFields->Items(i)->FieldName(), Candidate))
                return true;
        return false;
    };
    // Index definitions list their fields trimmed: a cut name ends in no
    // blank.
    std::string fitted = TrimRight(name.substr(0, static_cast<std::size_t>(VekMaxObjectNameLength)));
    for (int attempt = 1; taken(fitted); ++attempt) {
        const std::string suffix = "_" + std::to_string(attempt);
        fitted = TrimRight(name.substr(0, static_cast<std::size_t>(VekMaxObjectNameLength) - suffix.size())) + suffix;
    }
    Column->SetFieldName(fitted);
    if (Def)
        Def->SetName(fitted);
}

namespace {

bool IsIntegerType(TFieldType Type)
{
    return Type == ftSmallint || Type == ftInteger || Type == ftWord || Type == ftLargeint;
}

bool IsNumberType(TFieldType Type)
{
    return IsIntegerType(Type) || Type == ftFloat || Type == ftCurrency || Type == ftBCD;
}

} // namespace

void TVekQueryProviderItem::WidenUnionColumns()
{
    // The rows of every UNION part go into this item's table: each column
    // takes the longest string of the parts and a number type that holds
    // the numbers of all, so that no value is cut.
    TFieldDefs* defs = FResultSet->FieldDefs();
    for (const TVekQueryProviderItem* part : FNestedItems) {
        if (!part->IsUnionPart())
            continue;
        TSelectFields* partFields = part->SelectAnalyser()->SelectFields();
        const int count = std::min(partFields->Count(), defs->Count());
        for (int i = 0; i < count; ++i) {
            TFieldDef* def = defs->Items(i);
            const TSelectFieldItem* field = partFields->GetItems(i);
            if (def->DataType() == ftString && field->DataType() == ftString)
                def->SetSize(std::max(def->Size(), static_cast<int>(field->FieldSize())));
            else if (IsNumberType(def->DataType()) && IsNumberType(field->DataType()) &&
                     def->DataType() != field->DataType()) {
                if (IsIntegerType(def->DataType()) && IsIntegerType(field->DataType()))
                    def->SetDataType(def->DataType() == ftLargeint || field->DataType() == ftLargeint ? ftLargeint
                                                                                                      : ftInteger);
                else
                    def->SetDataType(ftFloat);
            }
        }
    }
}

std::string TVekQueryProviderItem::GetResultSetFieldNameFromSortKey(const std::string& Key) const
{
    return FResultSet->GetResultSetFieldNameFromSortKey(FResultSetFields.get(), Key);
}

void TVekQueryProviderItem::CreateResultSetIndexes()
{
    if (FDefsCreated)
        return;
    TIndexDefs* indexes = FResultSet->IndexDefs();
    indexes->Clear();
    const int columns = FResultSetFields->Count();
    TOrderByItems* orderBy = FEngine->OrderByItems();
    if (orderBy->Count() > 0) {
        std::string fields;
        std::string descFields;
        std::vector<std::string> orderNames;
        for (int i = 0; i < orderBy->Count(); ++i) {
            const TOrderByItem* item = orderBy->Items(i);
            std::string name;
            if (item->FieldIndex() > 0) {
                if (item->FieldIndex() > columns)
                    VekDatabaseError(9645, "TVekQueryProviderItem", SvekOrderByColumnIndexOutOfRange, nullptr);
                name = FResultSetFields->Items(item->FieldIndex() - 1)->FieldName();
            } else {
                name = GetResultSetFieldNameFromSortKey(item->SortKey());
                ORVEX_ASSERT(!name.empty(), "The result set field could not be found: " + item->SortKey());
            }
            // A column named again sorts nothing further: its first key and
            // direction decide ("ORDER BY a, 1 DESC" is ascending on a).
            bool repeated = false;
            for (int k = 0; k < i && !repeated; ++k)
                repeated = SameText(orderNames[static_cast<std::size_t>(k)], name);
            orderNames.push_back(name);
            if (repeated)
                continue;
            fields += (fields.empty() ? "" : ";") + name;
            if (item->Descending())
                descFields += (descFields.empty() ? "" : ";") + name;
        }
        indexes->Add(ResultOrderByIndexName, fields, 0);
        if (!descFields.empty())
            indexes->Items(indexes->Count() - 1)->SetDescFields(descFields);
    }
    TSelectFields* selectFields = FSelectAnalyser->SelectFields();
    if (selectFields->ContainsGroupedOutput() && selectFields->ContainsAggregateColumns()) {
        std::string fields;
        for (int i = 0; i < columns; ++i)
            if (!FResultSetFields->Items(i)->IsAggregate())
                fields += (fields.empty() ? "" : ";") + FResultSetFields->Items(i)->FieldName();
        if (!fields.empty())
            indexes->Add(ResultGroupByIndexName, fields, ixUnique);
    }
    if (FSelectAnalyser->IsDistinct() || IsDistinctUnionStatement() || IsGroupedWithoutAggregates()) {
        std::string fields;
        for (int i = 0; i < columns; ++i)
            fields += (fields.empty() ? "" : ";") + FResultSetFields->Items(i)->FieldName();
        indexes->Add(ResultDistinctIndexName, fields, 0);
    }
}

void TVekQueryProviderItem::PrepareHavingExpr(TVekExprNode* HavingRoot)
{
    if (!HavingRoot || !FHavingExpr)
        return;
    BindHavingColumns(FHavingExpr->FirstNode(), 0);
}

// The names of HAVING become the result's columns; an aggregate that is no
// result column keeps the source columns of its argument, which the result
// table accumulates from the statement's rows.
void TVekQueryProviderItem::BindHavingColumns(TVekExprNode* Node, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return;
    if (Node->ParserToken()->Token() == vstAggFunc && Node->Kind() != enkField)
        return;
    if (Node->Kind() == enkField) {
        const std::string name = VarToStr(Node->Data());
        TResultSetField* column = FResultSetFields->FindResultSetField(name);
        if (!column)
            VekDatabaseErrorFmt(9645, "TVekQueryProviderItem", SvekHavingColumnNotFoundFmt, {name}, nullptr);
        Node->SetData(Variant(column->FieldName()));
        Node->SetDataType(column->DataType());
        Node->SetDataSize(column->FieldSize());
    }
    BindHavingColumns(Node->Left(), Depth + 1);
    BindHavingColumns(Node->Right(), Depth + 1);
    for (TVekExprNode* arg : Node->Args())
        BindHavingColumns(arg, Depth + 1);
}

bool TVekQueryProviderItem::CreateResultSet()
{
    ORVEX_ASSERT(FResultSet != nullptr, "Result set is not assigned");
    TVekQueryProvider* provider = Provider();
    if (!FPlanned)
        PreparePlan();
    FResultSet->SetDataBase(provider->Database());
    FResultSet->SetTableName(FResultTableName);
    FResultSet->SetProviderMgr(FProviderMgr.get());
    TVekBaseJoinDataProvider* root = FProviderMgr->RootProvider();
    if (!root || !root->IsOpen())
        FProviderMgr->OpenProviders();
    FProviderMgr->SetDBStringCompare(FResultSet->GetDBStringCompare());
    if (!FAnalyser->CheckAnalysisComplete())
        InternalBindRootExprParams();

    CreateResultSetFields();
    CreateResultSetIndexes();
    TSelectFields* selectFields = FSelectAnalyser->SelectFields();
    const bool aggregates = selectFields->ContainsAggregateColumns();
    const bool grouped = selectFields->ContainsGroupedOutput();
    root = FProviderMgr->RootProvider();
    FResultIsLive = FRequestLive && root && root->IsSingleTable() && !aggregates && !grouped &&
                    !FSelectAnalyser->IsDistinct() &&
                    FNestedItems.empty();
    if (FResultIsLive && !FDefsCreated) {
        FResultSet->FieldDefs()->Add(ResultRecAddrFieldName, ftInteger, 0);
        FResultSet->FieldDefs()->Add(ResultRecModFlagFieldName, ftInteger, 0);
    }
    FResultSet->SetCreateLiveResult(FResultIsLive);
    FResultSet->PrepareEmptyResultSet(FDefsCreated);
    FDefsCreated = true;
    // A subquery's rows are never cut: MaxRecords limits what the query
    // shows, not what its conditions compare with.
    FResultSet->SetMaxRecords(EnclosingQuery() ? 0 : provider->MaxRecords());
    if (FCreateDefsOnly)
        return true;

    {
        // The source tables stay read-locked while their rows are read
        // (HAVING's aggregates read them again).
        TVekProviderScan scan(FProviderMgr.get());
        if (aggregates)
            FResultSet->PopulateAggregateResultSet(FResultSetFields.get(), grouped);
        else
            FResultSet->PopulateResultSet(FResultSetFields.get(), FSelectAnalyser->IsDistinct() ||
                                                                      IsDistinctUnionStatement() ||
                                                                      IsGroupedWithoutAggregates());
        // HAVING removes groups afterwards, on a copy of its tree whose names
        // are the result's columns (and whose outer references hold the
        // enclosing row's values).
        FHavingExpr.reset();
        if (TVekExprNode* having = FEngine->HavingParser()->Root()) {
            FHavingExpr = std::make_unique<TVekExpr>();
            FHavingExpr->CloneFromTree(having);
            if (FIsCorrelated)
                ResetOuterFieldRefs(FHavingExpr.get());
            PrepareHavingExpr(FHavingExpr->FirstNode());
            FResultSet->ProcessHavingClause(FHavingExpr->FirstNode());
        }
    }
    if (HasUnionParts())
        return ProcessUnionResultSets();
    if (FResultIsLive)
        FResultSet->SetReadOnlyResultFields(FResultSetFields.get());
    return true;
}

bool TVekQueryProviderItem::IsGroupedWithoutAggregates() const
{
    // GROUP BY without an aggregate column: one row per group is one row per
    // distinct combination of the (grouped) columns.
    TSelectFields* selectFields = FSelectAnalyser->SelectFields();
    return selectFields->ContainsGroupedOutput() && !selectFields->ContainsAggregateColumns();
}

bool TVekQueryProviderItem::HasUnionParts() const
{
    for (const TVekQueryProviderItem* nested : FNestedItems)
        if (nested->IsUnionPart())
            return true;
    return false;
}

bool TVekQueryProviderItem::ProcessUnionResultSets()
{
    const bool distinct = IsDistinctUnionStatement();
    for (TVekQueryProviderItem* part : FNestedItems) {
        if (!part->IsUnionPart())
            continue;
        if (!part->FPlanned || part->IsCorrelated())
            part->PreparePlan();
        if (!part->CreateResultSet())
            return AddError(SvekUnionResultSetFailed);
        FResultSet->InsertDataFromDataset(FResultSetFields.get(), part->ResultSet(), false, distinct);
        part->ResultSet()->Close();
    }
    FResultSet->First();
    return true;
}

bool TVekQueryProviderItem::CreateCrossJoinResultSet(TVekQueryDataset* ResultSet)
{
    ResultSet->SetProviderMgr(FProviderMgr.get());
    FProviderMgr->OpenProviders();
    FProviderMgr->SetDBStringCompare(ResultSet->GetDBStringCompare());
    InternalBindRootExprParams();
    ResultSet->PrepareResultSet();
    return true;
}

void TVekQueryProviderItem::SetLiveResultBridge(TVekDatasetBridge* Bridge)
{
    TVekBaseJoinDataProvider* root = FProviderMgr->RootProvider();
    auto* leaf = dynamic_cast<TVekNonJoinDataProvider*>(root);
    if (!FResultIsLive || !leaf || !Bridge)
        return;
    Bridge->Close();
    Bridge->SetDataBase(Provider()->Database());
    Bridge->SetTableName(leaf->TableName());
    Bridge->SetMemory(leaf->Bridge()->Memory());
    Bridge->Open();
    TInternalFields* fields = Bridge->GetInternalFields();
    for (int i = 0; i < fields->Count(); ++i)
        fields->GetIndex(i)->SetSourceField("-1");
    for (int i = 0; i < FResultSetFields->Count(); ++i) {
        TResultSetField* column = FResultSetFields->Items(i);
        if (column->IsComputed() || column->SourceFieldNo < 0)
            continue;
        for (int f = 0; f < fields->Count(); ++f)
            if (fields->GetIndex(f)->FieldNo() == column->SourceFieldNo)
                fields->GetIndex(f)->SetSourceField(column->FieldName());
    }
}

// ============================================================== subqueries

bool TQueryExprNodeDataProvider::PrepareAndOpen()
{
    if (!FItem || !ProviderDataset())
        return false;
    TVekQueryDataset* resultSet = FItem->ResultSet();
    if (FItem->IsCorrelated() || !resultSet->Active()) {
        DiscardValueSet();
        resultSet->Close();
        // The enclosing row's current values go into the outer references.
        FItem->PreparePlan();
    }
    if (resultSet->Active()) {
        resultSet->First();
        return true;
    }
    DiscardValueSet();
    // A subquery that cannot be filled fails its statement: answering as if
    // it had no rows would let the statement succeed with wrong rows.
    if (!FItem->CreateResultSet()) {
        std::string text;
        for (int i = 0; i < FItem->Errors()->Count(); ++i)
            text += FItem->Errors()->Strings(i) + ". ";
        VekDatabaseError(9645, "TQueryExprNodeDataProvider", text, nullptr);
    }
    if (!resultSet->Active())
        resultSet->Open();
    resultSet->First();
    return true;
}

bool TQueryExprNodeDataProvider::RowsAreReused() const
{
    return FItem && !FItem->IsCorrelated();
}

} // namespace orvex
