#pragma once
// Helpers of the table tests: a database on disk or in memory with a table
// component over a table of a few fields and indexes.

#include "vekConnTestUtil.h"

#include "dataset/vekDatabase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orvex::tabletests {

// Where a test's tables live.
enum class TWhere { Disk, Memory };

inline std::string WhereName(const ::testing::TestParamInfo<TWhere>& Info)
{
    return Info.param == TWhere::Disk ? "Disk" : "Memory";
}

// A database and helpers to make tables in it. On disk the tables are file
// tables of a database file; in memory they are memory tables of "MEMORY".
class TTableFixture {
public:
    explicit TTableFixture(TWhere Where) : FWhere(Where)
    {
        if (Where == TWhere::Disk) {
            conntest::MakeDatabase(FDir.File("tables.vek"));
            FDb.SetDataBaseName(FDir.File("tables.vek"));
        } else {
            FDb.SetDataBaseName("MEMORY");
        }
        FDb.SetLockRetryInterval(20);
        FDb.Open();
    }
    ~TTableFixture() { FTables.clear(); }

    bool OnDisk() const { return FWhere == TWhere::Disk; }
    TVekDataBase& Db() { return FDb; }
    const conntest::TTempDir& Dir() const { return FDir; }

    // A closed table component on the table Name.
    TVekTable* NewTable(const std::string& Name)
    {
        auto table = std::make_unique<TVekTable>(nullptr);
        table->SetDataBase(&FDb);
        table->SetTableName(Name);
        table->SetMemory(FWhere == TWhere::Memory);
        FTables.push_back(std::move(table));
        return FTables.back().get();
    }

    // The table "People": ID integer (unique index "ixID"), Name string(30)
    // (case-insensitive index "ixName"), Age smallint, City string(20),
    // Score float (descending index "ixScore"), Notes memo, Photo blob,
    // compound index "ixCityAge" on City;Age.
    TVekTable* CreatePeople(const std::string& Name = "People")
    {
        TVekTable* table = NewTable(Name);
        TFieldDefs* fields = table->FieldDefs();
        fields->Add("ID", ftInteger, 0, true);
        fields->Add("Name", ftString, 30);
        fields->Add("Age", ftSmallint);
        fields->Add("City", ftString, 20);
        fields->Add("Score", ftFloat);
        fields->Add("Notes", ftMemo);
        fields->Add("Photo", ftBlob);
        TIndexDefs* indexes = table->IndexDefs();
        indexes->Add("ixID", "ID", ixUnique | ixPrimary);
        indexes->Add("ixName", "Name", ixCaseInsensitive);
        indexes->Add("ixScore", "Score", ixDescending);
        indexes->Add("ixCityAge", "City;Age", 0);
        table->CreateTable();
        return table;
    }

    // Appends a person.
    static void AddPerson(TVekTable* Table, int ID, const Variant& Name, const Variant& Age, const Variant& City,
                          const Variant& Score = Variant::Null())
    {
        Table->Append();
        Table->FieldByName("ID")->SetAsInteger(ID);
        Table->FieldByName("Name")->SetValue(Name);
        Table->FieldByName("Age")->SetValue(Age);
        Table->FieldByName("City")->SetValue(City);
        Table->FieldByName("Score")->SetValue(Score);
        Table->Post();
    }

    // The values of one field from the first record to the last.
    static std::vector<std::string> Column(TVekTable* Table, const std::string& Field)
    {
        std::vector<std::string> values;
        Table->First();
        while (!Table->Eof()) {
            TField* field = Table->FieldByName(Field);
            values.push_back(field->IsNull() ? "<null>" : field->AsString());
            Table->Next();
        }
        return values;
    }

    static std::vector<std::string> ColumnBackwards(TVekTable* Table, const std::string& Field)
    {
        std::vector<std::string> values;
        Table->Last();
        while (!Table->Bof()) {
            TField* field = Table->FieldByName(Field);
            values.insert(values.begin(), field->IsNull() ? "<null>" : field->AsString());
            Table->Prior();
        }
        return values;
    }

private:
    TWhere FWhere;
    conntest::TTempDir FDir;
    TVekDataBase FDb{nullptr};
    std::vector<std::unique_ptr<TVekTable>> FTables;
};

} // namespace orvex::tabletests
