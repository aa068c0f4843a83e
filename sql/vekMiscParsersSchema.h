#pragma once
// The schema statement parser of the unit vekMiscParsers: CREATE TABLE, ALTER
// TABLE, DROP TABLE, CREATE INDEX and DROP INDEX.
//
// It reads the statement from a single-stack pre-parse, checks the requested
// change against the table's current fields and indexes, and fills the
// restructure definitions with which the statement is carried out.
//
// Columns are kept as field items: added fields (name, type, size, scale,
// NOT NULL), dropped fields (name only) and altered fields (FieldGeneratorID
// holds aoAlterName or aoAlterType; a rename keeps the old name in
// SourceField and the new one in FieldName). The token of each column is
// kept with it, so that validation errors point at the column.

#include "sql/vekMiscParsers.h"
#include "storage/vekVerControl.h"

#include <map>
#include <memory>
#include <string>

namespace orvex {

class TIndexDefs;

enum TSQLSchemaManipulationOp : std::uint8_t {
    ddUnknown, ddCreateTable, ddAlterTable, ddCreateIndex, ddDropTable, ddDropIndex,
};

enum TAlterColumnOperation : std::uint8_t {
    aoUnknown, aoAdd, aoDrop, aoAlterAny, aoAlterName, aoAlterType,
};

class TVekSchemaManipulationParser : public TBaseParser {
public:
    TVekSchemaManipulationParser();
    ~TVekSchemaManipulationParser() override;

    void Clear() override;
    // Clears the previous statement and parses this one from the current
    // token; HasParseError tells the outcome.
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;

    // Checks the parsed change against the table's current fields (Fields)
    // and indexes (IndexDefs, required for the index statements).
    bool ValidateTableChanges(TInternalFields* Fields, TIndexDefs* IndexDefs);
    // ALTER TABLE: drops, adds, renames and retypes the field definitions,
    // which the caller has filled with the table's current ones.
    void SetRestructureFieldDefs(TRestructureFieldDefs* Defs);
    // DROP INDEX, CREATE INDEX, and the renames of ALTER TABLE in every index.
    void SetRestructureIndexDefs(TRestructureIndexDefs* Defs);
    // The index columns joined with ";".
    std::string GetIndexFieldsAsText() const;

    TInternalFields* AddedFields() const { return FAddedFields.get(); }
    TInternalFields* DroppedFields() const { return FDroppedFields.get(); }
    TInternalFields* AlteredFields() const { return FAlteredFields.get(); }
    // The index columns; each object is a copy of the column's token.
    TStringList* IndexFields() const { return FIndexFields.get(); }
    TIndexOptions IndexOptions() const { return FIndexOptions; }
    TSQLSchemaManipulationOp Operation() const { return FOperation; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    const std::string& IndexName() const { return FIndexName; }
    bool TemporaryTable() const { return FTemporaryTable; }
    void SetTemporaryTable(bool Value) { FTemporaryTable = Value; }
    // The token a column was written at (nullptr when unknown).
    const TParserToken* ColumnToken(const TCollectionItem* Item) const;

private:
    void ParseCreate();
    void ParseAlter();
    void ParseDrop();
    void ParseColumnDefinitions();
    TInternalFieldItem* ParseColumnDataDefinition(const TParserToken* NameToken, TInternalFields* Fields);
    void ParseAlterColumns();
    void ParseIndexColumns();
    void ParsePrimaryIndexDefinition();
    // The name at the current token (consumed), or false with "Invalid token".
    bool TakeName(std::string& Name, const TParserToken** Token = nullptr);
    bool TakeTemporary();
    // [TEMPORARY] name into FTemporaryTable and FTableName; false on error.
    bool TakeTableName();
    void KeepToken(const TCollectionItem* Item, const TParserToken* Token);
    void SetColumnError(const TInternalFieldItem* Item, const char* Msg, const std::string& Name);

    bool CheckAddedFields(TInternalFields* Fields);
    bool CheckDroppedFields(TInternalFields* Fields);
    bool CheckAlteredFields(TInternalFields* Fields);
    bool CheckIndexFields(TInternalFields* Fields);
    // Whether an index of the statement's name exists; records "Index
    // already exists" (ReportIfFound) or "Index not found" (otherwise).
    bool CheckIndexExists(TIndexDefs* IndexDefs, bool ReportIfFound);

    std::unique_ptr<TInternalFields> FAddedFields;
    std::unique_ptr<TInternalFields> FDroppedFields;
    std::unique_ptr<TInternalFields> FAlteredFields;
    std::unique_ptr<TStringList> FIndexFields;
    std::map<const TCollectionItem*, std::unique_ptr<TParserToken>> FColumnTokens;
    TIndexOptions FIndexOptions = 0;
    TSQLSchemaManipulationOp FOperation = ddUnknown;
    std::string FTableName;
    std::string FIndexName;
    bool FTemporaryTable = false;
};

} // namespace orvex
