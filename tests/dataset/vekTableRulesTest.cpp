// Rules every write path keeps: a blob stream that is never written changes
// nothing, a string field takes no more characters than its size (also when
// a restructure shortens it), auto-increment values stop at the largest
// Integer and are renumbered on request, a progress handler may replace
// itself, a rollback leaves every open table on a record that remains, a
// read under a table lock another dataset holds leaves that lock held, and
// an in-memory table carries large memos.

#include "vekTableTestUtil.h"

#include "dataset/vekDatabase.h"
#include "storage/vekCommon.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orvex::tabletests {
namespace {

// The log lines that hold Text.
int LogLinesWith(const std::string& Text)
{
    int count = 0;
    for (const std::string& line : GDBLogger->LogLines())
        if (line.find(Text) != std::string::npos)
            ++count;
    return count;
}

// ------------------------------------------------------------------- blobs

class BlobWrites : public ::testing::TestWithParam<TWhere> {
protected:
    BlobWrites() : FFixture(GetParam())
    {
        FTable = FFixture.CreatePeople();
        FTable->Open();
        TTableFixture::AddPerson(FTable, 1, "Ann", 30, "Oslo");
        FTable->Edit();
        FTable->FieldByName("Notes")->SetAsString("kept notes");
        FTable->Post();
    }
    std::string Notes()
    {
        FTable->Refresh();
        TField* notes = FTable->FieldByName("Notes");
        return notes->IsNull() ? "<null>" : notes->AsString();
    }

    TTableFixture FFixture;
    TVekTable* FTable = nullptr;
};

TEST_P(BlobWrites, AWriteStreamNeverWrittenChangesNothing)
{
    TField* notes = FTable->FieldByName("Notes");
    FTable->Edit();
    delete FTable->CreateBlobStream(notes, bmWrite);
    FTable->Post();
    EXPECT_EQ(Notes(), "kept notes");

    // An empty write, Clear and an empty text do replace the value.
    FTable->Edit();
    {
        std::unique_ptr<TStream> stream(FTable->CreateBlobStream(notes, bmWrite));
        stream->Write(nullptr, 0);
    }
    FTable->Post();
    EXPECT_EQ(Notes(), "<null>");
    for (int way = 0; way < 2; ++way) {
        FTable->Edit();
        notes->SetAsString("again");
        FTable->Post();
        EXPECT_EQ(Notes(), "again");
        FTable->Edit();
        if (way == 0)
            notes->Clear();
        else
            notes->SetAsString("");
        FTable->Post();
        EXPECT_EQ(Notes(), "<null>") << way;
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, BlobWrites, ::testing::Values(TWhere::Disk, TWhere::Memory), WhereName);

// ----------------------------------------------------------------- strings

TEST(StringFields, TakeNoMoreCharactersThanTheirSize)
{
    TTableFixture fixture(TWhere::Disk);
    TVekTable* table = fixture.NewTable("Codes");
    table->FieldDefs()->Add("ID", ftInteger, 0, true);
    table->FieldDefs()->Add("Code", ftString, 10);
    table->IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
    table->CreateTable();
    table->Open();
    table->Append();
    table->FieldByName("ID")->SetAsInteger(1);
    table->Post();
    const Integer code = table->GetFieldNo("Code");
    const std::string ten(10, 'a');
    const std::string eleven(11, 'b');
    // The engine's own paths: by length, by variant, into a record buffer.
    EXPECT_VEK_ERROR_TEXT(8581, "Field data length is out of range",
                          table->DataSetSetFieldData(code, 11, false, eleven.data()));
    EXPECT_VEK_ERROR_TEXT(8581, "Field data length is out of range",
                          table->DataSetSetFieldDataAsVariant(code, Variant(eleven)));
    std::vector<Byte> buffer(static_cast<std::size_t>(table->EngineBufferSize()), 0);
    EXPECT_VEK_ERROR(8581, table->DataSetSetFieldDataToRecBufAsVariant(buffer.data(), code, Variant(eleven)));
    table->DataSetSetFieldDataAsVariant(code, Variant(ten));
    EXPECT_EQ(VarToStr(table->DataSetGetFieldDataAsVariant(code)), ten);
    // The field component cuts a longer text to the field's size.
    table->Edit();
    table->FieldByName("Code")->SetAsString(eleven);
    table->Post();
    table->Refresh();
    EXPECT_EQ(table->FieldByName("Code")->AsString(), std::string(10, 'b'));
}

// A file table "Items": Num auto-increment, Name string(30), Qty integer;
// unique index on Name.
class ItemsTable : public ::testing::Test {
protected:
    ItemsTable() : FFixture(TWhere::Disk)
    {
        FFixture.Db().Close();
        FFixture.Db().SetExclusive(true);
        FFixture.Db().Open();
        FTable = FFixture.NewTable("Items");
        FTable->FieldDefs()->Add("Num", ftAutoInc);
        FTable->FieldDefs()->Add("Name", ftString, 30);
        FTable->FieldDefs()->Add("Qty", ftInteger);
        FTable->IndexDefs()->Add("ixName", "Name", ixUnique);
        FTable->CreateTable();
        FTable->Open();
    }
    void Add(const std::string& Name, const Variant& Num = Variant::Null())
    {
        FTable->Append();
        FTable->FieldByName("Name")->SetAsString(Name);
        FTable->FieldByName("Num")->SetValue(Num);
        FTable->Post();
    }
    // Num by Name, in Name order.
    std::vector<std::string> Numbers()
    {
        std::vector<std::string> values;
        FTable->First();
        while (!FTable->Eof()) {
            values.push_back(FTable->FieldByName("Name")->AsString() + "=" + FTable->FieldByName("Num")->AsString());
            FTable->Next();
        }
        return values;
    }

    TTableFixture FFixture;
    TVekTable* FTable = nullptr;
};

TEST_F(ItemsTable, ARestructureThatShortensAFieldCutsEveryLongerValueAndLogsIt)
{
    for (const std::string& name : {std::string("abc"), std::string("12345"), std::string("abcdef"),
                                     std::string(30, 'z'), std::string("vwxyz1")})
        Add(name);
    FTable->Close();
    GDBLogger->Clear();
    FTable->GetRestructureFieldDefs()->Find("Name")->SetSize(5);
    TInternalRestructureRecord request;
    FTable->RestructureTable(request);
    FTable->Open();
    EXPECT_EQ(TTableFixture::Column(FTable, "Name"),
              (std::vector<std::string>{"12345", "abc", "abcde", "vwxyz", "zzzzz"}));
    EXPECT_EQ(LogLinesWith("Name cut from"), 3);
    EXPECT_EQ(LogLinesWith("Name cut from 30 to 5 characters"), 1);
}

TEST_F(ItemsTable, TheAutoIncrementCounterStopsAtTheLargestInteger)
{
    Add("given", 2147483646);
    // A negative value given by the caller does not move the counter.
    Add("negative", -5);
    Add("last");
    ASSERT_TRUE(FTable->Locate("Name", Variant("last"), {}));
    EXPECT_EQ(FTable->FieldByName("Num")->AsInteger(), 2147483647);
    EXPECT_VEK_ERROR(9482, Add("beyond"));
    FTable->Cancel();
    EXPECT_EQ(FTable->RecordCount(), 3);
    EXPECT_FALSE(FTable->Locate("Name", Variant("beyond"), {}));
}

TEST_F(ItemsTable, ResettingTheAutoIncrementRenumbersFromOneInRecordOrder)
{
    for (const std::string name : {"e", "d", "c", "b", "a"})
        Add(name, Variant(100 + static_cast<int>(name[0])));
    // A deleted record's slot is taken by the next one: the file order is
    // not the order the records were added.
    ASSERT_TRUE(FTable->Locate("Name", Variant("c"), {}));
    FTable->Delete();
    Add("f", 7);
    FTable->Close();
    TInternalRestructureRecord request;
    request.ResetAutoInc = true;
    FTable->RestructureTable(request);
    FTable->Open();
    EXPECT_EQ(Numbers(), (std::vector<std::string>{"a=4", "b=3", "d=2", "e=1", "f=5"}));
    Add("g");
    ASSERT_TRUE(FTable->Locate("Name", Variant("g"), {}));
    EXPECT_EQ(FTable->FieldByName("Num")->AsInteger(), 6);
}

TEST_F(ItemsTable, ANewAutoIncrementFieldIsNumbered)
{
    TVekTable* plain = FFixture.NewTable("Plain");
    plain->FieldDefs()->Add("Name", ftString, 10);
    plain->CreateTable();
    plain->Open();
    for (const std::string name : {"x", "y", "z"}) {
        plain->Append();
        plain->FieldByName("Name")->SetAsString(name);
        plain->Post();
    }
    plain->Close();
    plain->GetRestructureFieldDefs()->AddAndSetFieldDef("Num", ftAutoInc, 0);
    TInternalRestructureRecord request;
    plain->RestructureTable(request);
    plain->Open();
    EXPECT_EQ(TTableFixture::Column(plain, "Num"), (std::vector<std::string>{"1", "2", "3"}));
}

// ---------------------------------------------------------------- progress

TEST(ProgressHandlers, MayReplaceOrClearThemselvesWhileTheyRun)
{
    TTableFixture fixture(TWhere::Disk);
    fixture.Db().Close();
    fixture.Db().SetExclusive(true);
    fixture.Db().Open();
    TVekTable* table = fixture.CreatePeople();
    table->Open();
    for (int i = 1; i <= 200; ++i)
        TTableFixture::AddPerson(table, i, "P" + std::to_string(i), i % 80, "Town");
    int first = 0;
    int second = 0;
    // The first handler hands over to the second; the second clears itself.
    table->OnUpdateProgress = [&](Integer, bool&) {
        ++first;
        table->OnUpdateProgress = [&](Integer, bool&) {
            ++second;
            table->OnUpdateProgress = nullptr;
        };
    };
    table->ReIndex(false);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(table->OnUpdateProgress);
    EXPECT_EQ(table->RecordCount(), 200);

    // The import's handler likewise.
    TVekTable* copy = fixture.CreatePeople("Copy");
    copy->Open();
    int calls = 0;
    copy->OnUpdateProgress = [&](Integer, bool&) {
        ++calls;
        copy->OnUpdateProgress = nullptr;
    };
    copy->GetRestructureFieldDefs();
    copy->ImportData(table);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(copy->RecordCount(), 200);
}

// ---------------------------------------------------------------- rollback

TEST(Rollback, LeavesEveryOpenTableOnARecordThatRemains)
{
    TTableFixture fixture(TWhere::Disk);
    TVekTable* table = fixture.CreatePeople();
    table->Open();
    for (int id : {10, 20, 30})
        TTableFixture::AddPerson(table, id, "P" + std::to_string(id), id, "Town");
    TVekTable* other = fixture.NewTable("People");
    other->Open();
    TVekDataBase& db = fixture.Db();
    db.StartTransaction();
    TTableFixture::AddPerson(table, 15, "New", 15, "Town");
    TTableFixture::AddPerson(other, 35, "Newer", 35, "Town");
    // A search that finds nothing leaves the table on the added record.
    EXPECT_FALSE(table->FindKey({Variant(99)}));
    ASSERT_EQ(table->FieldByName("ID")->AsInteger(), 15);
    db.Rollback();
    EXPECT_FALSE(db.InTransaction());
    EXPECT_EQ(TTableFixture::Column(table, "ID"), (std::vector<std::string>{"10", "20", "30"}));
    EXPECT_EQ(TTableFixture::Column(other, "ID"), (std::vector<std::string>{"10", "20", "30"}));
    EXPECT_EQ(table->RecordCount(), 3);

    // Each table stands on the nearest record that remains.
    db.StartTransaction();
    TTableFixture::AddPerson(table, 15, "New", 15, "Town");
    TTableFixture::AddPerson(other, 35, "Newer", 35, "Town");
    db.Rollback();
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 20);
    EXPECT_EQ(other->FieldByName("ID")->AsInteger(), 30);
}

// ------------------------------------------------------------- table locks

TEST(TableLocks, AReadUnderALockAnotherDatasetHoldsLeavesThatLockHeld)
{
    TTableFixture fixture(TWhere::Disk);
    TVekTable* holder = fixture.CreatePeople();
    holder->Open();
    for (int id : {10, 20, 30})
        TTableFixture::AddPerson(holder, id, "P" + std::to_string(id), id, "Town");
    TVekTable* reader = fixture.NewTable("People");
    reader->Open();

    // A second connection writes when no lock of the first stands in its way.
    TVekDataBase writerDb(nullptr);
    writerDb.SetDataBaseName(fixture.Dir().File("tables.vek"));
    writerDb.SetLockRetryMaximum(1);
    writerDb.SetLockRetryInterval(1);
    writerDb.Open();
    TVekTable writer(nullptr);
    writer.SetDataBase(&writerDb);
    writer.SetTableName("People");
    writer.Open();
    int age = 40;
    const auto writes = [&] {
        try {
            writer.First();
            writer.Edit();
            writer.FieldByName("Age")->SetAsInteger(++age);
            writer.Post();
            return true;
        } catch (const EVekDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 10249) << e.Message();
            writer.Cancel();
            return false;
        }
    };

    holder->ReadLockTable();
    EXPECT_FALSE(writes());
    // Reads of another dataset of the connection stand on the held lock and
    // give back nothing: the holder's lock still keeps writers out.
    reader->First();
    reader->Next();
    EXPECT_EQ(reader->FieldByName("ID")->AsInteger(), 20);
    reader->Refresh();
    EXPECT_FALSE(writes());
    holder->UnlockTable();
    EXPECT_TRUE(writes());

    // Without a holder each read takes and gives back its own lock.
    reader->First();
    EXPECT_TRUE(writes());
    reader->Refresh();
    EXPECT_EQ(reader->FieldByName("Age")->AsInteger(), age);
}

// ------------------------------------------------------------ memory store

TEST(MemoryTables, LargeMemosAreDeletedAndEdited)
{
    TTableFixture fixture(TWhere::Memory);
    TVekTable* table = fixture.CreatePeople();
    table->Open();
    const std::string big(100 * 1024, 'm');
    for (int id = 1; id <= 3; ++id) {
        TTableFixture::AddPerson(table, id, "P" + std::to_string(id), id, "Town");
        table->Edit();
        table->FieldByName("Notes")->SetAsString(big + std::to_string(id));
        table->Post();
    }
    ASSERT_TRUE(table->FindKey({Variant(2)}));
    table->Edit();
    table->FieldByName("Notes")->SetAsString("short");
    table->Post();
    ASSERT_TRUE(table->FindKey({Variant(1)}));
    table->Delete();
    ASSERT_TRUE(table->FindKey({Variant(3)}));
    table->Edit();
    table->FieldByName("Notes")->SetAsString(big + big);
    table->Post();
    EXPECT_EQ(TTableFixture::Column(table, "ID"), (std::vector<std::string>{"2", "3"}));
    ASSERT_TRUE(table->FindKey({Variant(3)}));
    EXPECT_EQ(table->FieldByName("Notes")->AsString(), big + big);
    ASSERT_TRUE(table->FindKey({Variant(2)}));
    EXPECT_EQ(table->FieldByName("Notes")->AsString(), "short");
    table->EmptyTable();
    EXPECT_EQ(table->RecordCount(), 0);
}

// Each index of People read through: the IDs in its order and (WithCounts)
// the count it reports.
std::vector<std::string> IndexOrders(TVekTable* Table, bool WithCounts = true)
{
    std::vector<std::string> orders;
    for (const char* index : {"ixID", "ixName", "ixScore", "ixCityAge"}) {
        Table->SetIndexName(index);
        std::string line = std::string(index) + ":";
        for (const std::string& id : TTableFixture::Column(Table, "ID"))
            line += " " + id;
        if (WithCounts)
            line += " count " + std::to_string(Table->RecordCount());
        orders.push_back(line);
    }
    Table->SetIndexName("ixID");
    return orders;
}

TEST(MemoryTables, AReIndexThatFailsOrIsCancelledKeepsEveryIndex)
{
    TTableFixture fixture(TWhere::Memory);
    TVekTable* table = fixture.CreatePeople();
    table->Open();
    for (int id = 1; id <= 300; ++id)
        TTableFixture::AddPerson(table, id, "P" + std::to_string(id % 150), id % 80, "Town" + std::to_string(id % 7),
                                 id * 0.5);
    const std::vector<std::string> whole = IndexOrders(table);

    // Cancelled halfway: the old trees are back.
    table->OnUpdateProgress = [](Integer Percent, bool& Cancel) { Cancel = Percent >= 50; };
    EXPECT_EQ(conntest::VekErrorCode([&] { table->ReIndex(false); }), VekErrCancelled);
    table->OnUpdateProgress = nullptr;
    EXPECT_EQ(IndexOrders(table), whole);

    // The unique index loses the key of record 100; record 101 then takes
    // ID 100, so the records violate the index.
    ASSERT_TRUE(table->FindKey({Variant(100)}));
    TIndexItem* ixID = table->IndexManager()->FindIndex("ixID");
    std::vector<Byte> image(static_cast<std::size_t>(table->EngineBufferSize()), 0);
    table->ReadRecordBuffer(ixID->GetRecordAddress(), image.data());
    ixID->CreateKeyBuffer(image.data(), {});
    ASSERT_EQ(ixID->FullIndexSearch(stEQ), 0);
    ASSERT_EQ(ixID->DeleteKey(), 0);
    table->IndexManager()->WriteIndexHeaders();
    ASSERT_TRUE(table->FindKey({Variant(101)}));
    table->Edit();
    table->FieldByName("ID")->SetAsInteger(100);
    table->Post();
    // (The counts kept in the damaged tree's pages are not compared: only
    // a re-index makes them right again.)
    const std::vector<std::string> violated = IndexOrders(table, false);
    ASSERT_NE(violated[0].find(" 99 100 102 "), std::string::npos) << violated[0];

    // The re-index meets the duplicate halfway and puts every old tree back.
    EXPECT_EQ(conntest::VekErrorCode([&] { table->ReIndex(false); }), 9729);
    EXPECT_EQ(IndexOrders(table, false), violated);

    // Ignoring violations, every record is in every index but the unique
    // one, which holds one record per ID.
    table->ReIndex(true);
    const std::vector<std::string> rebuilt = IndexOrders(table);
    EXPECT_NE(rebuilt[0].find(" count 299"), std::string::npos) << rebuilt[0];
    for (std::size_t i = 1; i < rebuilt.size(); ++i)
        EXPECT_NE(rebuilt[i].find(" count 300"), std::string::npos) << rebuilt[i];
}

} // namespace
} // namespace orvex::tabletests
