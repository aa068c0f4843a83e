#pragma once
// The statement driver: carries the SQL text of one query from text to
// effect. TVekQueryProvider holds the text, the database, the parameters and
// a collection of statement items; item 0 is the statement the user wrote,
// every subquery and every UNION part found while parsing becomes a further
// item linked to the item that contains it. TQueryExprNodeDataProvider lets
// a subquery node of a containing statement run its item and read the
// item's result table.
//
// While it parses, resolves and prepares, the driver reports a bad statement
// without raising: each step answers true or false and adds a line to an
// error list, read through GetErrors / GetErrorsAsText. A few failures raise
// at once (a HAVING column not in the result, a grouped result over
// MaxRecords, an unknown parameter name, unsupported join shapes).
//
// The SELECT path lives in vekQueryProvider.cpp and vekQueryProviderSelect.cpp;
// INSERT, UPDATE, DELETE and the schema statements (parsing their clauses,
// preparing, executing, the record-address list of their selection and
// their parameter binders) live in vekQueryProviderExec.cpp.

#include "host/DBParams.h"
#include "query/vekJoinDataProviderUnit.h"
#include "query/vekQueryAnalyser.h"
#include "query/vekQueryPlanner.h"
#include "sql/vekParserEngine.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TVekDataBase;
class TVekQueryDataset;
class TResultSetFields;
class TResultSetField;
class TVekQueryProvider;
class TVekQueryProviderItem;

// Runs a subquery item for an expression node and exposes the item's result
// table as the node's dataset.
class TQueryExprNodeDataProvider : public TCustomExprNodeDataProvider {
public:
    void SetQueryProviderItem(TVekQueryProviderItem* Item) { FItem = Item; }
    TVekQueryProviderItem* QueryProviderItem() const { return FItem; }
    // Plans and fills the item's result table (a correlated item again for
    // every outer row, with the outer row's values bound) and positions it
    // on its first row; false when that fails (the item's errors tell why).
    bool PrepareAndOpen() override;
    bool RowsAreReused() const override;

private:
    TVekQueryProviderItem* FItem = nullptr;
};

// One statement: item 0 is the statement written, further items are its
// subqueries and UNION parts.
class TVekQueryProviderItem : public TCollectionItem {
public:
    explicit TVekQueryProviderItem(TCollection* Collection);
    ~TVekQueryProviderItem() override;

    TVekQueryProvider* Provider() const;
    TStrings* SQL() const { return FSQL.get(); }
    TStrings* Errors() const { return FErrors.get(); }
    // Appends a line to this item's error list; answers false.
    bool AddError(const std::string& Text);

    // ------------------------------------------------------------- parsing
    // Parses SQL (item 0) into this item; false with errors when it is not
    // a valid statement.
    bool ValidateSQL();
    bool InternalParseQuery();
    bool InternalParseSelectQuery();
    // Statement kinds other than SELECT (vekQueryProviderExec.cpp).
    bool InternalParseInsertQuery();
    bool InternalParseDeleteQuery();
    bool InternalParseUpdateQuery();
    bool InternalParseSchemaStatement();
    // The selection of a DELETE or UPDATE, parsed by a nested engine.
    bool InternalParseWhereQuery();
    // The handler of the parser engine's notifications: nested statements
    // (subqueries, UNION parts) and names to resolve from enclosing ones.
    void ParserEngineCallback(TParserNotifyType NotifyType, TVekParserEngine* Engine, TVekExprNode* Node,
                              Variant& NotifyData);
    // Takes Engine (made by the containing item's engine) as this item's
    // engine and parses it: the selection only (WhereOnly, for DELETE and
    // UPDATE, TableName added to its table list), else the whole statement.
    bool AssignExternalParserEngine(bool WhereOnly, const std::string& TableName, TVekParserEngine* Engine);
    // The table named Name (table or correlation name) in this item's
    // table list, else in the enclosing items' lists; nullptr when none.
    // A name in scope (an alias, or a table without one) is preferred over
    // an aliased table's own name at every level.
    TTableNameItem* FindTable(const std::string& Name) const;
    TTableNameItem* FindTableForField(const std::string& Name) const;
    // Fills the field list of every table of Tables from its definition
    // (disk or memory as resolved).
    void InternalSetupTableLists(TTableList* Tables);
    // Whether a step of parsing this item failed (its error is listed, or
    // the provider's is).
    bool Failed() const { return FFailed; }

    // --------------------------------------------------------------- union
    bool ParseRemainingUnionStatement(bool UnionAll);
    bool ValidateUnionSubStatements();
    bool IsDistinctUnionStatement() const;
    bool ProcessUnionResultSets();

    // ------------------------------------------------------------- running
    bool Prepare();
    bool PreparePlan();
    bool PrepareCrossJoinPlan();
    bool CreateResultSet();
    bool CreateCrossJoinResultSet(TVekQueryDataset* ResultSet);
    // Binds the residual condition (the WHERE that the analysis could not
    // split) to the provider manager.
    void InternalBindRootExprParams();
    void CreateResultSetFields();
    void CreateResultSetIndexes();
    // Binds the HAVING field nodes to result column names (9645 for a name
    // that is not a result column).
    void PrepareHavingExpr(TVekExprNode* HavingRoot);
    void BindHavingColumns(TVekExprNode* Node, int Depth);
    std::string GetResultSetFieldNameFromSortKey(const std::string& Key) const;
    bool ExecSQL();
    // The base-table record addresses of the rows of a DELETE or UPDATE
    // selection.
    bool CreateResultList(std::vector<Cardinal>& List);
    bool InternalPrepareInsertStatement();
    bool InternalPrepareUpdateStatement();
    TVekSQLStatementType GetSQLStatementType() const;
    TSelectFields* GetSelectResultSetFields() const;
    void SetLiveResultBridge(TVekDatasetBridge* Bridge);

    // ---------------------------------------------------------- parameters
    void CreateParamList();
    void BindParams(TVekExpr* Expr);
    void BindExprParams(TVekExpr* Expr);
    void BindInsertParams();
    void BindUpdateParams();
    void BindFromParams();

    // ------------------------------------------------- correlated subqueries
    // Replaces every outer reference of Expr by the enclosing row's value.
    void ResetOuterFieldRefs(TVekExpr* Expr);
    Variant GetFieldData(const std::string& TableName, const std::string& FieldName);

    // ---------------------------------------------------------- properties
    TVekParserEngine* ParserEngine() const { return FEngine; }
    TVekQueryAnalyser* Analyser() const { return FAnalyser.get(); }
    TVekJoins* Joins() const { return FJoins.get(); }
    TVekSelects* Selects() const { return FSelects.get(); }
    TResultSetFields* ResultSetFields() const { return FResultSetFields.get(); }
    TVekJoinDataProviderMgr* ProviderMgr() const { return FProviderMgr.get(); }
    TVekPlan* Plan() const { return FPlan.get(); }
    TVekSelectAnalyser* SelectAnalyser() const { return FSelectAnalyser.get(); }
    TVekQueryDataset* ResultSet() const { return FResultSet.get(); }
    TQueryExprNodeDataProvider* SubqueryNodeProvider() const { return FNodeProvider.get(); }
    const std::vector<TVekQueryProviderItem*>& NestedItems() const { return FNestedItems; }
    TVekQueryProviderItem* ParentQuery() const { return FParentQuery; }
    // The statement whose current row this one's outer references read: the
    // container of a subquery; for a UNION part, its first part's.
    TVekQueryProviderItem* EnclosingQuery() const
    {
        return FIsUnionPart && FParentQuery ? FParentQuery->EnclosingQuery() : FParentQuery;
    }
    void SetParentQuery(TVekQueryProviderItem* Value) { FParentQuery = Value; }
    bool IsCorrelated() const { return FIsCorrelated; }
    bool IsUnionPart() const { return FIsUnionPart; }
    bool UnionAll() const { return FUnionAll; }
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool Value) { FRequestLive = Value; }
    bool ResultIsLive() const { return FResultIsLive; }
    bool CreateDefsOnly() const { return FCreateDefsOnly; }
    void SetCreateDefsOnly(bool Value) { FCreateDefsOnly = Value; }
    const std::string& ResultTableName() const { return FResultTableName; }
    bool DefsCreated() const { return FDefsCreated; }
    // Closes the result table and drops it from the database when this item
    // created it.
    void DropResultTable();

private:
    void InternalCreateObjects();
    void InternalDestroyObjects();
    void BindEngine(TVekParserEngine* Engine);
    // The first error of a nested item (with its position), or empty.
    bool NestedFailed() const;
    bool OwnsTable(const TTableNameItem* Table) const;
    // Takes the engine's message (or a nested item's) as this item's error.
    bool FailEngine();
    bool CheckTables(TTableList* Tables);
    void BindNodeParams(TVekExprNode* Node);
    void BindFromNode(TVekTableRefNode* Node, int Depth);
    // Parameters of the select list and HAVING, bound in place.
    void BindSelectParams();
    bool HasUnionParts() const;
    // The statement kinds ExecSQL carries out (vekQueryProviderExec.cpp).
    bool InternalExecuteInsertStatement();
    bool InternalExecuteDeleteStatement();
    bool InternalExecuteUpdateStatement();
    bool InternalExecuteSchemaStatement();
    bool IsGroupedWithoutAggregates() const;
    void WidenUnionColumns();
    void FitColumnName(TResultSetField* Column, TFieldDef* Def);

    std::unique_ptr<TStrings> FSQL;
    std::unique_ptr<TStrings> FErrors;
    TVekParserEngine* FEngine = nullptr;
    std::unique_ptr<TVekParserEngine> FOwnEngine;
    // A subquery's engine, released by the containing engine, until
    // AssignExternalParserEngine takes it as its own.
    std::unique_ptr<TVekParserEngine> FOwnEngineTaken;
    bool FFailed = false;
    std::unique_ptr<TVekQueryAnalyser> FAnalyser;
    std::unique_ptr<TVekJoins> FJoins;
    std::unique_ptr<TVekSelects> FSelects;
    std::unique_ptr<TResultSetFields> FResultSetFields;
    std::unique_ptr<TVekJoinDataProviderMgr> FProviderMgr;
    std::unique_ptr<TVekPlan> FPlan;
    std::unique_ptr<TVekSelectAnalyser> FSelectAnalyser;
    bool FIsCorrelated = false;
    TVekQueryProviderItem* FParentQuery = nullptr;
    std::vector<TVekQueryProviderItem*> FNestedItems;
    std::unique_ptr<TVekQueryDataset> FResultSet;
    std::unique_ptr<TQueryExprNodeDataProvider> FNodeProvider;
    bool FRequestLive = false;
    bool FResultIsLive = false;
    std::string FResultTableName;
    bool FDefsCreated = false;
    bool FIsUnionPart = false;
    bool FUnionAll = false;
    bool FCreateDefsOnly = false;
    bool FPlanned = false;
    // The working copies of the WHERE and HAVING trees of a run.
    std::unique_ptr<TVekExpr> FRootExpr;
    std::unique_ptr<TVekExpr> FHavingExpr;
};

class TVekQueryProvider : public TCollection {
public:
    TVekQueryProvider();
    ~TVekQueryProvider() override;

    TVekQueryProviderItem* Items(int Index) const
    {
        return static_cast<TVekQueryProviderItem*>(TCollection::Items(Index));
    }
    TVekQueryProviderItem* AddItem() { return static_cast<TVekQueryProviderItem*>(TCollection::Add()); }
    // Frees every item, nested ones first.
    void ClearItems();

    TStrings* SQL() const { return FSQL.get(); }
    void SetSQL(TStrings* Value);
    void SetSQL(const std::string& Text);
    TVekDataBase* Database() const { return FDatabase; }
    void SetDatabase(TVekDataBase* Value) { FDatabase = Value; }
    TParams* Params() const { return FParams; }
    void SetParams(TParams* Value) { FParams = Value; }
    Integer MaxRecords() const { return FMaxRecords; }
    void SetMaxRecords(Integer Value) { FMaxRecords = Value; }
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool Value) { FRequestLive = Value; }
    bool CreateDefsOnly() const { return FCreateDefsOnly; }
    void SetCreateDefsOnly(bool Value) { FCreateDefsOnly = Value; }
    // The provider's own error list (table-name resolution).
    TStrings* ProviderErrors() const { return FProviderErrors.get(); }

    bool ValidateSQLOnly();
    // ValidateSQLOnly, unless item 0 already holds this text's SELECT parsed
    // well against this database and every table it names (its subqueries'
    // and UNION parts' included) still resolves to the same place with the
    // same fields: a statement opened again and again is parsed once.
    bool ValidateSQLOrReuse();
    // The parsed statement is not to be run again as it is (a run of it
    // failed part-way): the next preparation parses afresh.
    void ForgetParse() { FParsed = false; }
    bool ValidateSQL();
    bool ResetParams();
    bool PreparePlan();
    bool CreateResultSet();
    bool ExecSQL();
    TVekSQLStatementType GetSQLStatementType() const;
    TVekQueryDataset* GetResultSet() const;
    bool GetIsLiveRequest() const;
    void SetLiveResultBridge(TVekDatasetBridge* Bridge);
    Integer GetRowsAffected() const;
    TStrings* GetErrors();
    std::string GetErrorsAsText();
    // Resolves every table of Tables against the database (a disk table
    // before a memory table of the same name, unless the statement marks it
    // in memory); with ReportMissing each missing one adds "Table not found
    // - " + its name to the provider's errors. True when all were found.
    bool CheckTableList(TTableList* Tables, bool ReportMissing);
    void GetFieldsForTable(const std::string& TableName, TInternalFields* Fields, bool Memory);

private:
    // Whether item 0's parse may be taken again as it stands.
    bool ParseStillValid();

    std::unique_ptr<TStrings> FSQL;
    std::unique_ptr<TStrings> FErrors;
    std::unique_ptr<TStrings> FProviderErrors;
    TVekDataBase* FDatabase = nullptr;
    // Item 0 holds FSQL parsed without error against FParsedDatabase.
    bool FParsed = false;
    TVekDataBase* FParsedDatabase = nullptr;
    TParams* FParams = nullptr;
    Integer FMaxRecords = 0;
    bool FRequestLive = false;
    bool FCreateDefsOnly = false;
};

} // namespace orvex
