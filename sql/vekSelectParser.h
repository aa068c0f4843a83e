#pragma once
// The select list and its analysis.
//
// TVekSelectParser turns the tokens between SELECT and FROM into a singly
// linked list of select nodes, each with its own expression tree. Once the
// FROM, WHERE, GROUP BY and HAVING clauses are parsed, TVekSelectAnalyser
// turns that list into the statement's result columns (TSelectFields) and
// checks GROUP BY, HAVING, ORDER BY and UNION against them. Every check
// answers true or false and keeps its first message in ErrorText.

#include "sql/vekBaseParser.h"
#include "sql/vekMiscParsers.h"

#include <memory>
#include <string>

namespace orvex {

enum TSelectNodeType : std::uint8_t { snSingleColumn, snGroupColumn, snAggFunc };

// One entry of the select list.
class TVekSelectNode : public TObject {
public:
    TVekSelectNode();
    ~TVekSelectNode() override;

    // The column's expression (owned); its FirstNode is the root.
    TVekExpr* Expr() const { return FExpr.get(); }
    TVekSelectNode* Left() const { return FLeft; }
    void SetLeft(TVekSelectNode* Value) { FLeft = Value; }
    TVekSelectNode* Right() const { return FRight; }
    void SetRight(TVekSelectNode* Value) { FRight = Value; }
    TVekSelectNode* Next() const { return FNext; }
    void SetNext(TVekSelectNode* Value) { FNext = Value; }
    // The table name or alias before ".*"; empty for a lone "*".
    const std::string& Qualifier() const { return FQualifier; }
    void SetQualifier(const std::string& Value) { FQualifier = Value; }
    // A copy of the token at which the entry began.
    TParserToken* Token() const { return FToken.get(); }
    void SetToken(const TParserToken* Value);
    const std::string& RawColumnName() const { return FRawColumnName; }
    void SetRawColumnName(const std::string& Value) { FRawColumnName = Value; }
    TSelectNodeType SelectNodeType() const { return FSelectNodeType; }
    void SetSelectNodeType(TSelectNodeType Value) { FSelectNodeType = Value; }
    // The alias written after the expression.
    const std::string& OutputColumnName() const { return FOutputColumnName; }
    void SetOutputColumnName(const std::string& Value) { FOutputColumnName = Value; }

    void Display(const std::string& Indent, TStrings* Lines) const;
    // This node and its successors, two more blanks each.
    void DisplayList(const std::string& Indent, TStrings* Lines) const;
    void DisplayTree(const std::string& Indent, TStrings* Lines) const;

private:
    std::unique_ptr<TVekExpr> FExpr;
    TVekSelectNode* FLeft = nullptr;
    TVekSelectNode* FRight = nullptr;
    TVekSelectNode* FNext = nullptr;
    std::string FQualifier;
    std::unique_ptr<TParserToken> FToken;
    std::string FRawColumnName;
    TSelectNodeType FSelectNodeType = snSingleColumn;
    std::string FOutputColumnName;
};

class TVekSelectParser : public TBaseParser {
public:
    TVekSelectParser();
    ~TVekSelectParser() override;

    // The base clear, then frees the node list.
    void Clear() override;
    // Skips a leading SELECT, notes DISTINCT, skips DISTINCT or ALL and reads
    // the list; HasParseError tells the outcome.
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;

    TVekSelectNode* SelectNodes() const { return FHead; }
    TTableList* TableList() const { return FTableList; }
    void SetTableList(TTableList* Value) { FTableList = Value; }
    bool IsDistinct() const { return FIsDistinct; }
    void SetIsDistinct(bool Value) { FIsDistinct = Value; }
    void DebugDisplay(TStrings* Lines) const;

private:
    TVekSelectNode* NewSelectNode();
    void ParseSelectList();
    void ParseDerivedColumn(TSelectNodeType NodeType);
    void FreeNodes();

    TVekSelectNode* FHead = nullptr;
    TVekSelectNode* FTail = nullptr;
    TTableList* FTableList = nullptr;
    bool FIsDistinct = false;
};

// ------------------------------------------------------------ result columns

class TSelectFieldItem : public TInternalFieldItem {
public:
    explicit TSelectFieldItem(TCollection* Collection);

    // The inherited description and, from another TSelectFieldItem,
    // SourceTableItem.
    void Assign(TPersistent* Source) override;

    // The table a plain column comes from (nullptr for a computed column).
    TTableNameItem* SourceTableItem() const { return FSourceTableItem; }
    void SetSourceTableItem(TTableNameItem* Value) { FSourceTableItem = Value; }
    bool HasAggregateFunction() const { return FHasAggregateFunction; }
    void SetHasAggregateFunction(bool Value) { FHasAggregateFunction = Value; }
    // The expression computed per source row (the aggregate's argument for
    // an aggregate; nullptr for a plain column). Not owned.
    TVekExprNode* ExprRoot() const { return FExprRoot; }
    void SetExprRoot(TVekExprNode* Value) { FExprRoot = Value; }
    const std::string& SourceFieldName() const { return FSourceFieldName; }
    void SetSourceFieldName(const std::string& Value) { FSourceFieldName = Value; }
    const std::string& RawColumnName() const { return FRawColumnName; }
    void SetRawColumnName(const std::string& Value) { FRawColumnName = Value; }
    bool DistinctQuantifier() const { return FDistinctQuantifier; }
    void SetDistinctQuantifier(bool Value) { FDistinctQuantifier = Value; }
    bool IsGrouped() const { return FIsGrouped; }
    void SetIsGrouped(bool Value) { FIsGrouped = Value; }
    TVekSQLAggFunc AggFunc() const { return FAggFunc; }
    void SetAggFunc(TVekSQLAggFunc Value) { FAggFunc = Value; }
    const std::string& CustomQualifier() const { return FCustomQualifier; }
    void SetCustomQualifier(const std::string& Value) { FCustomQualifier = Value; }
    // For an aggregate inside a larger expression, that whole expression.
    TVekExprNode* AggExprRoot() const { return FAggExprRoot; }
    void SetAggExprRoot(TVekExprNode* Value) { FAggExprRoot = Value; }

private:
    TTableNameItem* FSourceTableItem = nullptr;
    bool FHasAggregateFunction = false;
    TVekExprNode* FExprRoot = nullptr;
    std::string FSourceFieldName;
    std::string FRawColumnName;
    bool FDistinctQuantifier = false;
    bool FIsGrouped = false;
    TVekSQLAggFunc FAggFunc = vafUnknown;
    std::string FCustomQualifier;
    TVekExprNode* FAggExprRoot = nullptr;
};

class TSelectFields : public TInternalFields {
public:
    TSelectFields();

    TSelectFieldItem* Add() { return static_cast<TSelectFieldItem*>(TInternalFields::Add()); }
    TSelectFieldItem* GetItems(int Index) const { return static_cast<TSelectFieldItem*>(Items(Index)); }
    void SetItems(int Index, TSelectFieldItem* Value) { GetItems(Index)->Assign(Value); }

    // From another TSelectFields item by item; else the inherited assignment.
    void Assign(TPersistent* Source) override;

    TSelectFieldItem* AddSelectField(const std::string& Name, const std::string& SourceFieldName,
                                     const TInternalFieldItem* SourceField, TTableNameItem* TableItem);
    // By field name, else by the trimmed raw column name (ignoring case).
    TSelectFieldItem* FindField(const std::string& Name) const;
    // FindField, else by source field name within the qualifying table.
    TSelectFieldItem* FindColumn(const std::string& Qualifier, const std::string& Name) const;
    bool ContainsAggregateColumns() const;
    bool ContainsGroupedOutput() const;
};

class TVekSelectAnalyser : public TObject {
public:
    TVekSelectAnalyser();
    ~TVekSelectAnalyser() override;

    bool CheckSelect(TVekSelectNode* SelectNodes, TTableList* Tables);
    bool CheckGroupedColumns(TGroupByItems* Items);
    bool CheckHavingExpr(TVekExpr* Expr);
    bool CheckOrderByColumns(TOrderByItems* Items);
    bool ValidateUnionSelectFields(TSelectFields* OtherFields);

    void SetIsDistinct(bool Value) { FIsDistinct = Value; }
    bool IsDistinct() const { return FIsDistinct; }
    // Assigns Value into the owned list.
    void SetSelectFields(TSelectFields* Value);
    TSelectFields* SelectFields() const { return FSelectFields.get(); }
    const std::string& ErrorText() const { return FErrorText; }

private:
    void AddTableFields(TTableNameItem* Table);
    void AnalyseColumn(TVekSelectNode* Node);
    bool CheckHavingFields(TVekExprNode* Node, int Depth);
    bool IsAggregateOfSelectList(const std::string& Text) const;

    std::unique_ptr<TSelectFields> FSelectFields;
    TVekSelectNode* FSelectNodes = nullptr;
    TTableList* FTables = nullptr;
    std::string FErrorText;
    bool FIsDistinct = false;
};

// The largest number of result columns of a DISTINCT query.
inline constexpr int MaxDistinctColumns = 32;

} // namespace orvex
