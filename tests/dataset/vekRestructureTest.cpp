// Restructuring, re-indexing and rebuilding tables; copying, rebuilding and
// dumping databases.

#include "vekTableTestUtil.h"

#include "dataset/vekDatabase.h"
#include "platform/FileIO.h"
#include "storage/vekCommon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace orvex::tabletests {
namespace {

std::string ReadAll(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An exclusive connection to a new database file with the table "People".
class Restructure : public ::testing::Test {
protected:
    void SetUp() override
    {
        conntest::MakeDatabase(FDir.File("rs.vek"));
        FDb.SetDataBaseName(FDir.File("rs.vek"));
        FDb.SetExclusive(true);
        FDb.Open();
        FTable = NewTable("People");
        TFieldDefs* fields = FTable->FieldDefs();
        fields->Add("ID", ftInteger, 0, true);
        fields->Add("Name", ftString, 30);
        fields->Add("Age", ftSmallint);
        fields->Add("Notes", ftMemo);
        FTable->IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
        FTable->IndexDefs()->Add("ixName", "Name", 0);
        FTable->CreateTable();
        FTable->Open();
        for (int i = 1; i <= Count; ++i) {
            FTable->Append();
            FTable->FieldByName("ID")->SetAsInteger(i);
            FTable->FieldByName("Name")->SetAsString(i % 3 == 0 ? "x" + std::to_string(i) : std::to_string(i * 7));
            FTable->FieldByName("Age")->SetAsInteger(i % 90);
            FTable->FieldByName("Notes")->SetAsString(std::string(static_cast<std::size_t>(i * 13), 'n'));
            FTable->Post();
        }
        FTable->Close();
    }

    TVekTable* NewTable(const std::string& Name)
    {
        auto table = std::make_unique<TVekTable>(nullptr);
        table->SetDataBase(&FDb);
        table->SetTableName(Name);
        FTables.push_back(std::move(table));
        return FTables.back().get();
    }

    // Restructures People with the copies after Change edited them.
    template <class F>
    void Run(F&& Change)
    {
        FTable->Open();
        TRestructureFieldDefs fields;
        fields.Assign(FTable->FieldDefs());
        TRestructureIndexDefs indexes;
        indexes.Assign(FTable->IndexDefs());
        FTable->Close();
        Change(fields, indexes);
        TInternalRestructureRecord request;
        request.NewFieldDefs = &fields;
        request.NewIndexDefs = &indexes;
        const std::string before = ReadAll(FDir.File("rs.vek"));
        FDb.FlushBuffers();
        FTable->RestructureTable(request);
        EXPECT_EQ(ReadAll(FDb.LastBackupFileName()), before);
    }

    // Stores People's definition with a unique index over Age, which
    // repeats, and gives every index a new empty tree, as a definition
    // change below the dataset leaves the table for a ReIndex to fill.
    void StoreUnbuiltUniqueAgeIndex()
    {
        FTable->Open();
        TIndexDefs indexes(nullptr);
        indexes.Assign(FTable->IndexDefs());
        indexes.Add("ixAgeU", "Age", ixUnique);
        TVekTableDefSettings settings;
        settings.TableName = "People";
        TTableDef layout(nullptr);
        VekSetTableDef(&layout, false, FTable->FieldDefs(), &indexes, settings, "test", nullptr);
        TRestructureIndexDefs changed;
        changed.Assign(&indexes);
        changed.SetChangeStatus(dcAdded);
        FTable->Close();
        TTableDef def(nullptr);
        FDb.OpenTable("People", &def);
        def.InternalIndexDefs()->Assign(layout.InternalIndexDefs());
        def.KeyFields()->Assign(layout.KeyFields());
        TInternalRestructureRecord request;
        request.NewIndexDefs = &changed;
        FDb.UpdateTableDef(&def, request);
        FDb.CloseTable(&def);
    }

    static constexpr int Count = 300;
    conntest::TTempDir FDir;
    TVekDataBase FDb{nullptr};
    std::vector<std::unique_ptr<TVekTable>> FTables;
    TVekTable* FTable = nullptr;
};

TEST_F(Restructure, AddingAFieldKeepsEveryRecordAndTheNewFieldIsNull)
{
    Run([](TRestructureFieldDefs& Fields, TRestructureIndexDefs&) {
        Fields.AddAndSetFieldDef("Extra", ftInteger, 0);
    });
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), Count);
    int n = 0;
    FTable->First();
    while (!FTable->Eof()) {
        ++n;
        EXPECT_TRUE(FTable->FieldByName("Extra")->IsNull());
        const int id = FTable->FieldByName("ID")->AsInteger();
        EXPECT_EQ(FTable->FieldByName("Age")->AsInteger(), id % 90);
        EXPECT_EQ(FTable->FieldByName("Notes")->AsString().size(), static_cast<std::size_t>(id * 13));
        FTable->Next();
    }
    EXPECT_EQ(n, Count);
}

TEST_F(Restructure, RenamingAFieldChangesOnlyTheDefinition)
{
    Run([](TRestructureFieldDefs& Fields, TRestructureIndexDefs&) { Fields.Find("Age")->SetName("Years"); });
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), Count);
    ASSERT_TRUE(FTable->FindField("Years"));
    EXPECT_FALSE(FTable->FindField("Age"));
    FTable->Last();
    EXPECT_EQ(FTable->FieldByName("Years")->AsInteger(), Count % 90);
}

TEST_F(Restructure, StringToIntegerLogsEveryUnconvertedValueAndKeepsTheRecord)
{
    GDBLogger->Clear();
    Run([](TRestructureFieldDefs& Fields, TRestructureIndexDefs&) {
        Fields.Find("Name")->SetDataType(ftInteger);
        Fields.Find("Name")->SetSize(0);
    });
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), Count);
    FTable->First();
    while (!FTable->Eof()) {
        const int id = FTable->FieldByName("ID")->AsInteger();
        if (id % 3 == 0)
            EXPECT_TRUE(FTable->FieldByName("Name")->IsNull());
        else
            EXPECT_EQ(FTable->FieldByName("Name")->AsInteger(), id * 7);
        FTable->Next();
    }
    const std::string log = ReadAll(FDir.File("dblog.txt"));
    int conversions = 0;
    for (auto at = log.find("Error converting Name"); at != std::string::npos;
         at = log.find("Error converting Name", at + 1))
        ++conversions;
    EXPECT_EQ(conversions, Count / 3);
}

TEST_F(Restructure, DroppingAFieldAndAddingAnIndex)
{
    Run([](TRestructureFieldDefs& Fields, TRestructureIndexDefs& Indexes) {
        Fields.Delete(Fields.Find("Notes")->Index());
        Indexes.AddAndSetIndexDef("ixAge", "Age", 0);
    });
    FTable->Open();
    EXPECT_FALSE(FTable->FindField("Notes"));
    FTable->SetIndexName("ixAge");
    EXPECT_EQ(FTable->RecordCount(), Count);
    FTable->First();
    EXPECT_EQ(FTable->FieldByName("Age")->AsInteger(), 0);
}

TEST_F(Restructure, ANewUniqueIndexTheDataViolatesChangesNothing)
{
    // A unique index over Age, which repeats: the restructure raises and
    // the table keeps its definition, its records and its indexes.
    const auto size = FileSizeOf(FDir.File("rs.vek"));
    EXPECT_EQ(conntest::VekErrorCode([&] {
                  Run([](TRestructureFieldDefs&, TRestructureIndexDefs& Indexes) {
                      Indexes.AddAndSetIndexDef("ixAgeU", "Age", ixUnique);
                  });
              }),
              9729);
    EXPECT_TRUE(FileExists(FDb.LastBackupFileName()));
    EXPECT_EQ(FTable->IndexDefs()->Count(), 2);
    FTable->Open();
    EXPECT_EQ(FTable->IndexDefs()->Count(), 2);
    for (const char* index : {"ixID", "ixName"}) {
        FTable->SetIndexName(index);
        EXPECT_EQ(FTable->RecordCount(), Count) << index;
    }
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->SetIndexName("ixAgeU"); }), 9997);
    FTable->Close();
    FDb.Close();
    EXPECT_LE(FileSizeOf(FDir.File("rs.vek")), size);
}

TEST_F(Restructure, RebuildTableKeepsEveryRecordAndTheBackup)
{
    FTable->RebuildTable();
    EXPECT_TRUE(FileExists(FDir.File("rs.vkx")));
    EXPECT_EQ(FDb.LastBackupFileName(), FDir.File("rs.vkx"));
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), Count);
    // Each operation's backup has a name of its own: the first one stays.
    const std::string first = ReadAll(FDir.File("rs.vkx"));
    FTable->Close();
    FTable->RebuildTable();
    EXPECT_EQ(FDb.LastBackupFileName(), FDir.File("rs.1.vkx"));
    EXPECT_EQ(ReadAll(FDir.File("rs.vkx")), first);
    FDb.Close();
    FDb.RebuildDatabase();
    EXPECT_EQ(FDb.LastBackupFileName(), FDir.File("rs.2.vkx"));
    EXPECT_EQ(ReadAll(FDir.File("rs.vkx")), first);
}

TEST_F(Restructure, RefusedWhileOpenOrInATransaction)
{
    TVekTable* other = NewTable("People");
    other->Open();
    TInternalRestructureRecord request;
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->RestructureTable(request); }), 10031);
    other->Close();
    FDb.StartTransaction();
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->RestructureTable(request); }), 10122);
    FDb.Rollback();
}

TEST_F(Restructure, CopyDatabaseRules)
{
    EXPECT_EQ(conntest::VekErrorCode([&] { FDb.CopyDatabase(FDir.File("rs.vek"), true); }), 9344);
    { std::ofstream(FDir.File("there.vek")) << "keep"; }
    EXPECT_EQ(conntest::VekErrorCode([&] { FDb.CopyDatabase(FDir.File("there.vek"), false); }), 1);
    EXPECT_EQ(ReadAll(FDir.File("there.vek")), "keep");
    FDb.CopyDatabase(FDir.File("copy.vek"), false);
    FDb.Close();
    EXPECT_EQ(ReadAll(FDir.File("copy.vek")), ReadAll(FDir.File("rs.vek")));
    // Another connection holding the file: refused, nothing half-copied.
    TVekDataBase other(nullptr);
    other.SetDataBaseName(FDir.File("rs.vek"));
    other.Open();
    TVekDataBase copier(nullptr);
    copier.SetDataBaseName(FDir.File("rs.vek"));
    EXPECT_EQ(conntest::VekErrorCode([&] { copier.CopyDatabase(FDir.File("copy2.vek"), true); }), 9344);
    other.Close();
    copier.CopyDatabase(FDir.File("copy2.vek"), true);
    TVekDataBase missing(nullptr);
    missing.SetDataBaseName(FDir.File("none.vek"));
    EXPECT_EQ(conntest::VekErrorCode([&] { missing.CopyDatabase(FDir.File("c3.vek"), true); }), 9988);
}

TEST_F(Restructure, TransferStopsWhenTheCallbackSaysSo)
{
    FTable->Open();
    const Integer id = FTable->TableDef()->TableID();
    const Integer size = FTable->TableDef()->RecordSize();
    FTable->Close();
    FDb.Close();
    int calls = 0;
    auto first = [&](const Byte* Buffer, TInternalFields*, Integer, Integer Blocks, bool& Go) {
        ++calls;
        EXPECT_GE(Blocks, Count);
        EXPECT_EQ(Buffer[0], 1); // a record in use
        Go = false;
    };
    FDb.TransferRecordBuffers(id, size, first);
    // While connected the transfer is refused.
    FDb.Open();
    EXPECT_EQ(conntest::VekErrorCode([&] {
                  FDb.TransferRecordBuffers(id, size, [](const Byte*, TInternalFields*, Integer, Integer, bool&) {});
              }),
              10120);
    EXPECT_EQ(calls, 1);
}

TEST_F(Restructure, DumpTableDefinitions)
{
    FDb.DumpTableDefinitions();
    FDb.Close();
    TVekDataBase dump(nullptr);
    dump.SetDataBaseName(FDir.File("rs.vkd"));
    dump.Open();
    EXPECT_TRUE(dump.TableExists("People", false));
    TVekTable table(nullptr);
    table.SetDataBase(&dump);
    table.SetTableName("People");
    table.Open();
    EXPECT_EQ(table.RecordCount(), 0);
    EXPECT_TRUE(table.FindField("Notes"));
    table.Close();
}

TEST_F(Restructure, RebuildDatabaseOfManyTablesShrinksAfterDeletes)
{
    for (int t = 0; t < 19; ++t) {
        TVekTable* table = NewTable("T" + std::to_string(t));
        table->FieldDefs()->Add("K", ftInteger);
        table->FieldDefs()->Add("S", ftString, 80);
        table->IndexDefs()->Add("ixK", "K", ixUnique);
        table->CreateTable();
        table->Open();
        for (int i = 0; i < 200; ++i) {
            table->Append();
            table->FieldByName("K")->SetAsInteger(i);
            table->FieldByName("S")->SetAsString(std::string(80, 'a' + t % 26));
            table->Post();
        }
        // Many deletes: every record but each tenth.
        table->First();
        while (!table->Eof())
            if (table->FieldByName("K")->AsInteger() % 10 != 0)
                table->Delete();
            else
                table->Next();
        table->Close();
    }
    FDb.Close();
    const auto before = ReadAll(FDir.File("rs.vek")).size();
    FDb.RebuildDatabase();
    EXPECT_FALSE(FDb.Connected());
    EXPECT_TRUE(FileExists(FDir.File("rs.vkx")));
    EXPECT_TRUE(FileExists(FDir.File("dblog.txt")));
    // The folder the new file was built in is gone, its log with it.
    EXPECT_FALSE(DirectoryExists(FDir.File("rs.vek.rebuild")));
    EXPECT_LE(ReadAll(FDir.File("rs.vek")).size(), before);
    FDb.Open();
    TStringList names;
    FDb.GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), 20);
    for (int t = 0; t < 19; ++t) {
        TVekTable* table = NewTable("T" + std::to_string(t));
        table->Open();
        EXPECT_EQ(table->RecordCount(), 20);
        table->Close();
    }
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), Count);
}

} // namespace
} // namespace orvex::tabletests

namespace orvex::tabletests {
namespace {

TEST_F(Restructure, RecordsTheCopyCannotAddAreReportedWithTheBackup)
{
    // Age repeats: a new unique index over it refuses all but 90 records.
    std::string message;
    EXPECT_EQ(conntest::VekErrorCode(
                  [&] {
                      Run([](TRestructureFieldDefs& Fields, TRestructureIndexDefs& Indexes) {
                          Fields.AddAndSetFieldDef("Extra", ftInteger, 0);
                          Indexes.AddAndSetIndexDef("ixAgeU", "Age", ixUnique);
                      });
                  },
                  &message),
              10012);
    EXPECT_NE(message.find(std::to_string(Count - 90) + " records were not copied"), std::string::npos) << message;
    EXPECT_NE(message.find("rs.vkx"), std::string::npos);
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), 90);
}

// Every field type through each path, on a table of VEK_RESTRUCTURE_RECORDS
// records (100,000 for the full run; fewer by default to bound the test's time).
TEST(RestructureAllTypes, EveryPathKeepsTheValues)
{
    const char* env = std::getenv("VEK_RESTRUCTURE_RECORDS");
    const int records = env ? std::atoi(env) : 3000;
    conntest::TTempDir dir;
    const std::string path = dir.File("all.vek");
    conntest::MakeDatabase(path);
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.SetExclusive(true);
    db.Open();
    TVekTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("Every");
    TFieldDefs* f = table.FieldDefs();
    f->Add("I", ftInteger, 0, true);
    f->Add("S", ftString, 24);
    f->Add("SI", ftSmallint);
    f->Add("W", ftWord);
    f->Add("B", ftBoolean);
    f->Add("F", ftFloat);
    f->Add("C", ftCurrency);
    f->Add("D", ftDate);
    f->Add("T", ftTime);
    f->Add("DT", ftDateTime);
    f->Add("A", ftAutoInc);
    f->Add("M", ftMemo);
    f->Add("BL", ftBlob);
    f->Add("Num", ftString, 10);
    table.IndexDefs()->Add("ixI", "I", ixUnique | ixPrimary);
    table.CreateTable();
    table.Open();
    db.StartTransaction();
    for (int i = 0; i < records; ++i) {
        table.Append();
        table.FieldByName("I")->SetAsInteger(i);
        table.FieldByName("S")->SetAsString("s" + std::to_string(i));
        table.FieldByName("SI")->SetAsInteger(i % 30000);
        table.FieldByName("W")->SetAsInteger(i % 60000);
        table.FieldByName("B")->SetAsBoolean(i % 2 == 0);
        table.FieldByName("F")->SetAsFloat(i + 0.5);
        table.FieldByName("C")->SetAsFloat(i + 0.25);
        table.FieldByName("D")->SetAsFloat(30000 + i % 1000);
        table.FieldByName("T")->SetAsFloat((i % 86400) / 86400.0);
        table.FieldByName("DT")->SetAsFloat(30000 + (i % 1000) + 0.5);
        table.FieldByName("M")->SetAsString(std::string(static_cast<std::size_t>(i % 50), 'm'));
        table.FieldByName("BL")->SetAsString(std::string(static_cast<std::size_t>(i % 70), 'b'));
        table.FieldByName("Num")->SetAsString(i % 4 == 0 ? "n/a" : std::to_string(i));
        table.Post();
        if (i % 1000 == 999) {
            db.Commit();
            db.StartTransaction();
        }
    }
    db.Commit();
    table.Close();

    auto restructure = [&](auto&& Change) {
        table.Open();
        TRestructureFieldDefs fields;
        fields.Assign(table.FieldDefs());
        TRestructureIndexDefs indexes;
        indexes.Assign(table.IndexDefs());
        table.Close();
        Change(fields, indexes);
        TInternalRestructureRecord request;
        request.NewFieldDefs = &fields;
        request.NewIndexDefs = &indexes;
        db.FlushBuffers();
        const std::string before = ReadAll(path);
        table.RestructureTable(request);
        EXPECT_EQ(ReadAll(db.LastBackupFileName()), before);
    };
    auto check = [&](TVekTable& t, const char* Step) {
        t.Open();
        t.SetIndexName("ixI");
        ASSERT_EQ(t.RecordCount(), records) << Step;
        t.First();
        for (int i = 0; i < records; ++i, t.Next()) {
            ASSERT_EQ(t.FieldByName("I")->AsInteger(), i) << Step;
            ASSERT_EQ(t.FieldByName("Text")->AsString(), "s" + std::to_string(i)) << Step;
            ASSERT_EQ(t.FieldByName("W")->AsInteger(), i % 60000) << Step;
            ASSERT_EQ(t.FieldByName("B")->AsBoolean(), i % 2 == 0) << Step;
            ASSERT_DOUBLE_EQ(t.FieldByName("F")->AsFloat(), i + 0.5) << Step;
            ASSERT_DOUBLE_EQ(t.FieldByName("C")->AsFloat(), i + 0.25) << Step;
            ASSERT_DOUBLE_EQ(t.FieldByName("DT")->AsFloat(), 30000 + (i % 1000) + 0.5) << Step;
            ASSERT_EQ(t.FieldByName("A")->AsInteger(), i + 1) << Step;
            // The dataset's blob cache searches its entries one by one, so
            // a large run reads a sample of the blobs.
            if (records <= 10000 || i % 97 == 0) {
                ASSERT_EQ(t.FieldByName("M")->AsString().size(), static_cast<std::size_t>(i % 50)) << Step;
                ASSERT_EQ(t.FieldByName("BL")->AsString().size(), static_cast<std::size_t>(i % 70)) << Step;
            }
            if (i % 4 == 0)
                ASSERT_TRUE(t.FieldByName("Num")->IsNull()) << Step;
            else
                ASSERT_EQ(t.FieldByName("Num")->AsInteger(), i) << Step;
            ASSERT_TRUE(t.FieldByName("New")->IsNull()) << Step;
        }
        t.Close();
    };
    // Add a field, change a type with loss (text to integer), rename, add an
    // index, shrink a number without loss (smallint to integer), drop a field.
    restructure([](TRestructureFieldDefs& Fields, TRestructureIndexDefs& Indexes) {
        Fields.AddAndSetFieldDef("New", ftInteger, 0);
        Fields.Find("Num")->SetDataType(ftInteger);
        Fields.Find("Num")->SetSize(0);
        Fields.Find("SI")->SetDataType(ftInteger);
        Fields.Delete(Fields.Find("T")->Index());
        Indexes.AddAndSetIndexDef("ixW", "W", 0);
    });
    restructure([](TRestructureFieldDefs& Fields, TRestructureIndexDefs&) { Fields.Find("S")->SetName("Text"); });
    // Reorder and drop the added index.
    restructure([](TRestructureFieldDefs& Fields, TRestructureIndexDefs& Indexes) {
        Fields.SwapDefs(0, 1);
        Indexes.Delete(Indexes.Find("ixW")->Index());
    });
    check(table, "this process");
    db.Close();
    TVekDataBase other(nullptr);
    other.SetDataBaseName(path);
    other.Open();
    TVekTable again(nullptr);
    again.SetDataBase(&other);
    again.SetTableName("Every");
    check(again, "reconnected");
    other.Close();
}

} // namespace
} // namespace orvex::tabletests

namespace orvex::tabletests {
namespace {

TEST_F(Restructure, ReIndexReportsProgressCancelsAndReusesItsPages)
{
    FTable->Open();
    std::vector<Integer> seen;
    FTable->OnUpdateProgress = [&](Integer Percent, bool&) { seen.push_back(Percent); };
    FTable->ReIndex(false);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(FTable->RecordCount(), Count);
    // Reindexing again and again gives the old trees' pages back.
    FTable->OnUpdateProgress = nullptr;
    FTable->ReIndex(false);
    FDb.FlushBuffers();
    const auto size = ReadAll(FDir.File("rs.vek")).size();
    for (int i = 0; i < 5; ++i)
        FTable->ReIndex(false);
    FDb.FlushBuffers();
    EXPECT_LE(ReadAll(FDir.File("rs.vek")).size(), size);
    // A cancel stops the rebuild of the keys and says so; the indexes are
    // as they were.
    const std::string before = ReadAll(FDir.File("rs.vek"));
    FTable->OnUpdateProgress = [&](Integer Percent, bool& Cancel) { Cancel = Percent >= 10; };
    EXPECT_VEK_ERROR_TEXT(13062, "Cancelled by the progress handler", FTable->ReIndex(false));
    FDb.FlushBuffers();
    EXPECT_EQ(ReadAll(FDir.File("rs.vek")), before);
    EXPECT_EQ(FTable->RecordCount(), Count);
    FTable->SetIndexName("ixName");
    EXPECT_EQ(FTable->RecordCount(), Count);
    FTable->OnUpdateProgress = nullptr;
    FTable->ReIndex(false);
    EXPECT_EQ(FTable->RecordCount(), Count);
}

TEST_F(Restructure, ReIndexIgnoringViolationsKeepsEveryRecordAndNamesItInTheLog)
{
    StoreUnbuiltUniqueAgeIndex();
    FTable->Open();
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->ReIndex(false); }), 9729);
    GDBLogger->Clear();
    FTable->ReIndex(true);
    GDBLogger->SaveLogToFile(FDir.File("reindex.txt"));
    const std::string log = ReadAll(FDir.File("reindex.txt"));
    int lines = 0;
    for (auto at = log.find("key violation in index ixAgeU"); at != std::string::npos;
         at = log.find("key violation in index ixAgeU", at + 1))
        ++lines;
    EXPECT_EQ(lines, Count - 90);
    EXPECT_NE(log.find("Record 91: key violation in index ixAgeU"), std::string::npos);
    // One record per age in the unique index; every record is reachable
    // through the other indexes.
    FTable->SetIndexName("ixAgeU");
    EXPECT_EQ(FTable->RecordCount(), 90);
    for (const char* index : {"ixID", "ixName"}) {
        FTable->SetIndexName(index);
        EXPECT_EQ(FTable->RecordCount(), Count) << index;
    }
}

TEST_F(Restructure, OpeningDiscardsTheWorkingCopies)
{
    FTable->Open();
    TRestructureFieldDefs* copy = FTable->GetRestructureFieldDefs();
    copy->DeleteItem(copy->Find("Age")->Index());
    ASSERT_EQ(FTable->GetRestructureFieldDefs()->Find("Age"), nullptr);
    FTable->Close();
    FTable->Open();
    EXPECT_NE(FTable->GetRestructureFieldDefs()->Find("Age"), nullptr);
    FTable->Close();
}

TEST_F(Restructure, RefusalsOfTheRequest)
{
    TInternalRestructureRecord request;
    request.ChangeBlobSize = true;
    request.BlobSize = 32;
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->RestructureTable(request); }), 10029);
    TInternalRestructureRecord empty;
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->InternalRestructureTable(empty); }), 8576);
    TRestructureFieldDefs fields;
    TRestructureIndexDefs indexes;
    empty.NewFieldDefs = &fields;
    empty.NewIndexDefs = &indexes;
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->InternalRestructureTable(empty); }), 8576);
    EXPECT_FALSE(FileExists(FDir.File("rs.vkx")));
    // A shared connection cannot restructure or reindex.
    FDb.Close();
    FDb.SetExclusive(false);
    FDb.Open();
    FTable->Open();
    EXPECT_EQ(conntest::VekErrorCode([&] { FTable->ReIndex(false); }), 10121);
    FTable->Close();
    // Nor copy the file it shares.
    EXPECT_EQ(conntest::VekErrorCode([&] { FDb.CopyDatabase(FDir.File("c.vek"), true); }), 9344);
}

TEST_F(Restructure, RebuildTableFromAnotherFile)
{
    FDb.CopyDatabase(FDir.File("other.vek"), true);
    FTable->Open();
    FTable->EmptyTable();
    FTable->Close();
    EXPECT_EQ(FDb.RebuildTable("People", FDir.File("other.vek"), nullptr), Count);
    FTable->Open();
    EXPECT_EQ(FTable->RecordCount(), Count);
    // In use by another dataset: refused.
    TVekTable* other = NewTable("People");
    other->Open();
    FTable->Close();
    EXPECT_EQ(conntest::VekErrorCode([&] { FDb.RebuildTable("People", FDir.File("other.vek"), nullptr); }), 10031);
}

TEST_F(Restructure, SavedDefinitionsFollowEveryNewTable)
{
    FDb.SetSaveTableDefinitions(true);
    TVekTable* table = NewTable("Later");
    table->FieldDefs()->Add("K", ftInteger);
    table->CreateTable();
    FDb.Close();
    TVekDataBase dump(nullptr);
    dump.SetDataBaseName(FDir.File("rs.vkd"));
    dump.Open();
    EXPECT_TRUE(dump.TableExists("People", false));
    EXPECT_TRUE(dump.TableExists("Later", false));
    dump.Close();
    // Without a directory nothing is dumped.
    TVekDataBase memory(nullptr);
    memory.SetDataBaseName("MEMORY");
    memory.Open();
    EXPECT_EQ(conntest::VekErrorCode([&] { memory.DumpTableDefinitions(); }), 10880);
}

} // namespace
} // namespace orvex::tabletests

namespace orvex::tabletests {
namespace {

TEST(RebuildDatabaseEncrypted, KeepsTheKeyTheEncryptionAndTheRecords)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("enc.vek");
    conntest::MakeDatabase(path, "secret key", true);
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.SetMasterKey("secret key");
    db.Open();
    TVekTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("Clear");
    table.SetEncryptionLevel(encStrong);
    table.FieldDefs()->Add("K", ftInteger);
    table.FieldDefs()->Add("S", ftString, 40);
    table.CreateTable();
    table.Open();
    for (int i = 0; i < 50; ++i) {
        table.Append();
        table.FieldByName("K")->SetAsInteger(i);
        table.FieldByName("S")->SetAsString("plainly readable " + std::to_string(i));
        table.Post();
    }
    table.Close();
    db.Close();
    ASSERT_EQ(ReadAll(path).find("plainly readable"), std::string::npos);
    db.SetMasterKey("secret key");
    db.RebuildDatabase();
    EXPECT_EQ(ReadAll(path).find("plainly readable"), std::string::npos);
    db.SetMasterKey("secret key");
    db.Open();
    EXPECT_TRUE(db.Encrypted());
    table.Open();
    EXPECT_EQ(table.RecordCount(), 50);
    table.Last();
    EXPECT_EQ(table.FieldByName("S")->AsString(), "plainly readable 49");
    table.Close();
    db.Close();
}

} // namespace
} // namespace orvex::tabletests

namespace orvex::tabletests {
namespace {

TEST(RebuildDatabaseSecured, KeepsUsersAndTables)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("sec.vek");
    conntest::MakeDatabase(path, "secret key", true, true);
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    auto logon = [](const std::string& User, const std::string& Password) {
        return [User, Password](TObject*, std::string& U, std::string& P, std::string& K) {
            U = User;
            P = Password;
            K = "secret key";
        };
    };
    db.BeforeLogin = logon("administrator", "walrus");
    db.Open();
    db.SecurityManager()->AddUser("alice", "alice pw", "administrators");
    TVekTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("Orders");
    table.FieldDefs()->Add("ID", ftInteger);
    table.CreateTable();
    table.Open();
    for (int i = 0; i < 30; ++i) {
        table.Append();
        table.FieldByName("ID")->SetAsInteger(i);
        table.Post();
    }
    table.Close();
    db.Close();
    db.RebuildDatabase();
    db.BeforeLogin = logon("alice", "alice pw");
    db.Open();
    EXPECT_TRUE(db.Secured());
    table.Open();
    EXPECT_EQ(table.RecordCount(), 30);
    table.Close();
    db.Close();
    db.BeforeLogin = logon("alice", "wrong");
    EXPECT_NE(conntest::VekErrorCode([&] { db.Open(); }), 0);
}

} // namespace
} // namespace orvex::tabletests
