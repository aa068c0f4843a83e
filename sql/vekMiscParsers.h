#pragma once
// The small clause parsers: ORDER BY into sort items, GROUP BY into grouping
// columns, and one SQL type name with its length, scale and NOT NULL (for
// CAST and column definitions).

#include "sql/vekBaseParser.h"

namespace orvex {

// ================================================================ ORDER BY

class TOrderByItem : public TCollectionItem {
public:
    explicit TOrderByItem(TCollection* Collection) : TCollectionItem(Collection) {}
    void Assign(TPersistent* Source) override;

    bool Descending() const { return FDescending; }
    void SetDescending(bool Value) { FDescending = Value; }
    // The 1-based result column when the item was written as a number, else 0.
    Integer FieldIndex() const { return FFieldIndex; }
    void SetFieldIndex(Integer Value) { FFieldIndex = Value; }
    // The item as written when it is a name or an expression.
    const std::string& SortKey() const { return FSortKey; }
    void SetSortKey(const std::string& Value) { FSortKey = Value; }

private:
    bool FDescending = false;
    Integer FFieldIndex = 0;
    std::string FSortKey;
};

class TOrderByItems : public TCollection {
public:
    TOrderByItems() : TCollection(ItemClassOf<TOrderByItem>()) {}
    TOrderByItem* Add() { return static_cast<TOrderByItem*>(TCollection::Add()); }
    TOrderByItem* Items(int Index) const { return static_cast<TOrderByItem*>(TCollection::Items(Index)); }
    TOrderByItem* AddOrderByItem(Integer FieldIndex, const std::string& SortKey, bool Descending);
};

class TVekOrderByParser : public TBaseParser {
public:
    // Clears Items and reads the section into it; true without error.
    bool ExecuteOrderBy(TOrderByItems* Items, TParserStack* Stack);

private:
    // The end of the section: the statement's end, or a subquery's
    // closing parenthesis.
    bool AtEndOfItems() const;
};

// ================================================================ GROUP BY

class TGroupByItem : public TCollectionItem {
public:
    explicit TGroupByItem(TCollection* Collection) : TCollectionItem(Collection) {}
    void Assign(TPersistent* Source) override;

    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& Value) { FFieldName = Value; }
    // The qualifier; empty when none.
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    // Set by the result-set layer.
    Integer ResultSetIndex() const { return FResultSetIndex; }
    void SetResultSetIndex(Integer Value) { FResultSetIndex = Value; }

private:
    std::string FFieldName;
    std::string FTableName;
    Integer FResultSetIndex = 0;
};

class TGroupByItems : public TCollection {
public:
    TGroupByItems() : TCollection(ItemClassOf<TGroupByItem>()) {}
    TGroupByItem* Add() { return static_cast<TGroupByItem*>(TCollection::Add()); }
    TGroupByItem* Items(int Index) const { return static_cast<TGroupByItem*>(TCollection::Items(Index)); }
};

class TVekGroupByParser : public TBaseParser {
public:
    bool ExecuteGroupBy(TGroupByItems* Items, TParserStack* Stack);
};

// =============================================================== data type

// Reads one type at the current token. Execute resets the results and
// InvalidDataTypes ([vstAutoInc]) and takes the stack without reading; the
// caller may then adjust InvalidDataTypes and AllowConstraints and call
// ParseDataType. A caller sharing its stack hands over its current token
// first (SetCurrToken) and takes back the token after the type.
class TVekDataTypeParser : public TBaseParser {
public:
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;
    // True without error.
    bool ParseDataType();

    static bool IsSpecifiedType(TFieldType FieldType);
    static bool TypeIncludesScale(TFieldType FieldType);
    void SetDefaultsForDataType(TFieldType FieldType);

    Integer Scale() const { return FScale; }
    void SetScale(Integer Value) { FScale = Value; }
    Integer FieldSize() const { return FFieldSize; }
    void SetFieldSize(Integer Value) { FFieldSize = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    const TVekSQLTokens& InvalidDataTypes() const { return FInvalidDataTypes; }
    void SetInvalidDataTypes(const TVekSQLTokens& Value) { FInvalidDataTypes = Value; }
    bool AllowConstraints() const { return FAllowConstraints; }
    void SetAllowConstraints(bool Value) { FAllowConstraints = Value; }
    bool NotNull() const { return FNotNull; }
    void SetNotNull(bool Value) { FNotNull = Value; }

private:
    Integer FScale = 0;
    Integer FFieldSize = 0;
    TFieldType FDataType = ftUnknown;
    TVekSQLTokens FInvalidDataTypes{vstAutoInc};
    bool FAllowConstraints = false;
    bool FNotNull = false;
};

// The integer a number token stands for; false for anything that is not a
// whole number in the 32-bit range ("1.5", "1.2.3", "99999999999").
bool SQLNumberToInteger(const std::string& Text, Integer& Value);
// The value of a number token ("12", "-1.5", ".5"); false when malformed.
bool SQLNumberToFloat(const std::string& Text, double& Value);

} // namespace orvex

// The schema statement parser of this unit lives in a header of its own.
#include "sql/vekMiscParsersSchema.h"
