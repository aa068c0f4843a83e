#pragma once
// What the system-table tests compare between processes: a table's field and
// index definitions as its table component shows them after opening.

#include "dataset/vekDatabase.h"

#include <string>

namespace orvex::systbltest {

// One line per field (name, type, size, required) and per index (name,
// fields, options, descending and case-insensitive fields).
inline std::string DescribeTable(TVekDataBase& Db, const std::string& Name)
{
    TVekTable table(nullptr);
    table.SetDataBase(&Db);
    table.SetTableName(Name);
    table.Open();
    std::string text = "table " + Name + "\n";
    TFieldDefs* fields = table.FieldDefs();
    for (int i = 0; i < fields->Count(); ++i) {
        TFieldDef* field = fields->Items(i);
        text += "  field " + field->Name() + " " + FieldTypeNames[field->DataType()] + " " +
                std::to_string(field->Size()) + (field->Required() ? " required" : "") + "\n";
    }
    table.UpdateIndexDefs();
    TIndexDefs* indexes = table.IndexDefs();
    for (int i = 0; i < indexes->Count(); ++i) {
        TIndexDef* index = indexes->Items(i);
        text += "  index " + index->Name() + " [" + index->Fields() + "] options " +
                std::to_string(static_cast<int>(index->Options())) + " desc [" + index->DescFields() +
                "] caseins [" + index->CaseInsFields() + "]\n";
    }
    table.Close();
    return text;
}

// Every user table of Db, described in name order.
inline std::string DescribeDatabase(TVekDataBase& Db)
{
    TStringList names;
    Db.GetTableNames(&names, false);
    std::string text;
    for (int i = 0; i < names.Count(); ++i)
        text += DescribeTable(Db, names.Strings(i));
    return text;
}

} // namespace orvex::systbltest
