#pragma once
// The parsers of the data-changing statements INSERT, UPDATE and DELETE, and
// the row constructors that carry the values to be written.
//
// A nested SELECT of INSERT ... SELECT and the WHERE condition of UPDATE and
// DELETE are not parsed here: the parser places a subquery node there and
// hands it to its owner (the parser engine) through the parser notify event,
// which parses it with a nested engine.
//
// Every failure is a message in the parser's error text (first one kept);
// the validations against the target table record theirs without a token.

#include "sql/vekBaseParser.h"
#include "sql/vekExprEvaluator.h"

#include <functional>
#include <memory>
#include <string>

namespace orvex {

class TParams;

// One value of a row: a simple literal in Data, or an expression (created
// with its evaluator on first use of GetExpr).
class TVekRowConstructorElement : public TCollectionItem {
public:
    explicit TVekRowConstructorElement(TCollection* Collection);
    ~TVekRowConstructorElement() override;

    // Prepares the evaluator over the expression (when there is one) with
    // NULL operands of comparisons evaluated, not forced false.
    virtual void Prepare(TVekExprDataProvider* DataProvider);

    // The expression, created with its evaluator when absent.
    TVekExpr* GetExpr();
    bool HasExpr() const { return FExpr != nullptr; }
    TExprEvaluator* Evaluator() const { return FEvaluator.get(); }
    // The expression's value for the current row when prepared, else Data.
    Variant GetRowData();
    // Replaces parameter nodes (or a parameter-named Data) by the values of
    // Params; only for an element with HasParameter.
    void BindExprParams(TParams* Params);

    const Variant& Data() const { return FData; }
    void SetData(const Variant& Value) { FData = Value; }
    bool HasParameter() const { return FHasParameter; }
    void SetHasParameter(bool Value) { FHasParameter = Value; }

private:
    std::unique_ptr<TVekExpr> FExpr;
    std::unique_ptr<TExprEvaluator> FEvaluator;
    Variant FData;
    bool FHasParameter = false;
    // The parameter a simple element names: Data takes its value at each
    // binding, so the name is kept for the next one.
    std::string FParamName;
};

class TVekUpdateRowConstructorElement : public TVekRowConstructorElement {
public:
    explicit TVekUpdateRowConstructorElement(TCollection* Collection);

    const std::string& TargetColumnName() const { return FTargetColumnName; }
    void SetTargetColumnName(const std::string& Value) { FTargetColumnName = Value; }
    Integer TargetColumnIndex() const { return FTargetColumnIndex; }
    void SetTargetColumnIndex(Integer Value) { FTargetColumnIndex = Value; }

private:
    std::string FTargetColumnName;
    Integer FTargetColumnIndex = -1;
};

class TVekRowConstructor : public TCollection {
public:
    TVekRowConstructor();

    TVekRowConstructorElement* Add() { return static_cast<TVekRowConstructorElement*>(TCollection::Add()); }
    TVekRowConstructorElement* GetItems(int Index) const
    {
        return static_cast<TVekRowConstructorElement*>(Items(Index));
    }
    void SetItems(int Index, TVekRowConstructorElement* Value) { GetItems(Index)->Assign(Value); }
    // Prepares every element.
    virtual void Prepare(TVekExprDataProvider* DataProvider);
    // BindExprParams of every element that has a parameter.
    void BindParams(TParams* Params);

protected:
    explicit TVekRowConstructor(TCollectionItemClass ItemClass);
};

class TVekUpdateRowConstructor : public TVekRowConstructor {
public:
    TVekUpdateRowConstructor();

    TVekUpdateRowConstructorElement* Add()
    {
        return static_cast<TVekUpdateRowConstructorElement*>(TCollection::Add());
    }
    TVekUpdateRowConstructorElement* GetItems(int Index) const
    {
        return static_cast<TVekUpdateRowConstructorElement*>(Items(Index));
    }
    void SetItems(int Index, TVekUpdateRowConstructorElement* Value) { GetItems(Index)->Assign(Value); }
};

// INSERT INTO table [(columns)] VALUES (values) | SELECT ...
class TVekInsertParser : public TBaseParser {
public:
    TVekInsertParser();
    ~TVekInsertParser() override;

    // The base clear, the row, the column names and the subquery node.
    void Clear() override;
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;

    // For VALUES: the columns (all fields when none were written) against
    // the values and the table, then the literal values converted to their
    // fields' types.
    bool ValidateValueColumns(TInternalFields* TableFields);
    // For INSERT ... SELECT: the columns against the SELECT's result columns.
    bool ValidateSelectColumns(TInternalFields* SelectFields, TInternalFields* TableFields);
    void CreateDefaultColumns(TInternalFields* TableFields);
    bool ValidateColumnsPresent(TInternalFields* TableFields);
    bool ValidateAndSetDataTypes(TInternalFields* TableFields);
    // False when either type is ftUnknown, else the validator's answer.
    bool CheckDataConversionValid(TFieldType FromType, TFieldType ToType) const;

    TStringList* ColumnNames() const { return FColumnNames.get(); }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    bool ColumnsNotSpecified() const { return FColumnsNotSpecified; }
    void SetColumnsNotSpecified(bool Value) { FColumnsNotSpecified = Value; }
    TVekRowConstructor* Row() const { return FRow.get(); }
    // Holds the subquery node of INSERT ... SELECT.
    TVekExpr* Expr() const { return FExpr.get(); }
    bool HasSelectClause() const { return FHasSelectClause; }
    void SetHasSelectClause(bool Value) { FHasSelectClause = Value; }

private:
    void ParseColumnNames();
    void ParseRowValues();
    bool CheckColumnCount(int ValueCount);

    std::unique_ptr<TStringList> FColumnNames;
    std::string FTableName;
    bool FColumnsNotSpecified = false;
    std::unique_ptr<TVekRowConstructor> FRow;
    std::unique_ptr<TVekExpr> FExpr;
    bool FHasSelectClause = false;
};

// DELETE FROM table [WHERE ...]
class TVekDeleteParser : public TBaseParser {
public:
    TVekDeleteParser();
    ~TVekDeleteParser() override;

    void Clear() override;
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;

    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    bool HasWhereClause() const { return FHasWhereClause; }
    void SetHasWhereClause(bool Value) { FHasWhereClause = Value; }
    TTableList* Tables() const { return FTables; }
    void SetTables(TTableList* Value) { FTables = Value; }
    // Holds the subquery node of the WHERE clause.
    TVekExpr* Expr() const { return FExpr.get(); }

private:
    std::string FTableName;
    std::unique_ptr<TVekExpr> FExpr;
    bool FHasWhereClause = false;
    TTableList* FTables = nullptr;
};

// Called with the statement's table list once the UPDATE's table is named;
// false refuses the table.
using TTableListValidateEvent = std::function<bool(TTableList* Tables)>;

// UPDATE table SET column = value {, column = value} [WHERE ...]
class TVekUpdateParser : public TBaseParser {
public:
    TVekUpdateParser();
    ~TVekUpdateParser() override;

    void Clear() override;
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;

    bool ValidateValueColumns(TInternalFields* TableFields);
    bool ValidateAndSetDataTypes(TInternalFields* TableFields);

    bool HasWhereClause() const { return FHasWhereClause; }
    void SetHasWhereClause(bool Value) { FHasWhereClause = Value; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    TTableList* Tables() const { return FTables; }
    void SetTables(TTableList* Value) { FTables = Value; }
    TVekExpr* Expr() const { return FExpr.get(); }
    TVekUpdateRowConstructor* Row() const { return FRow.get(); }
    void SetTableListValidateEvent(TTableListValidateEvent Event) { FOnValidateTableList = std::move(Event); }

private:
    void ParseSetList();

    bool FHasWhereClause = false;
    std::string FTableName;
    TTableList* FTables = nullptr;
    std::unique_ptr<TVekExpr> FExpr;
    std::unique_ptr<TVekUpdateRowConstructor> FRow;
    TTableListValidateEvent FOnValidateTableList;
};

} // namespace orvex
