// Edge cases of the table component: other connections' changes, edits
// that survive reads, emptying, the read-ahead window's age, auto-increment
// values, master-detail links, index changes, imports, filters and locks.

#include "vekTableTestUtil.h"

#include "host/DBLinks.h"
#include "storage/vekIndexUnitKeys.h"
#include "storage/vekIndexUnitManager.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <utility>

namespace orvex {
namespace {

using tabletests::TTableFixture;
using tabletests::TWhere;

class TableEdges : public ::testing::TestWithParam<TWhere> {
protected:
    TableEdges() : fx(GetParam()) {}
    TTableFixture fx;
};

// A second connection to the fixture's database file.
struct TSecondConnection {
    explicit TSecondConnection(const std::string& Path, const std::string& Table)
    {
        db.SetDataBaseName(Path);
        db.SetLockRetryInterval(20);
        db.Open();
        table.SetDataBase(&db);
        table.SetTableName(Table);
        table.Open();
    }
    ~TSecondConnection()
    {
        table.Close();
        db.Close();
    }
    TVekDataBase db{nullptr};
    TVekTable table{nullptr};
};

TEST(TableConnections, AnotherConnectionsKeysAreSeenAfterItsChange)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* mine = fx.CreatePeople();
    mine->Open();
    mine->SetIndexName("ixID");
    for (int id = 1; id <= 300; ++id)
        TTableFixture::AddPerson(mine, id * 2, "p" + std::to_string(id), id % 50, "Oslo", id);
    // Every index page of this dataset is now in its trees' copies.
    EXPECT_EQ(TTableFixture::Column(mine, "ID").size(), 300u);
    {
        TSecondConnection other(fx.Dir().File("tables.vek"), "People");
        other.table.SetIndexName("ixID");
        // Odd keys between the even ones split the pages this dataset holds.
        for (int id = 1; id <= 300; ++id)
            TTableFixture::AddPerson(&other.table, id * 2 - 1, "q" + std::to_string(id), 7, "Rome", id);
    }
    EXPECT_TRUE(mine->FindKey({299}));
    EXPECT_EQ(mine->FieldByName("Name")->AsString(), "q150");
    const std::vector<std::string> ids = TTableFixture::Column(mine, "ID");
    ASSERT_EQ(ids.size(), 600u);
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(ids[static_cast<std::size_t>(i)], std::to_string(i + 1));
    EXPECT_EQ(mine->RecordCount(), 600);
}

// A find by key lists the records around the one found without reading
// them; steps from there reach the neighbours in key order all the same, in
// and beyond that window, and so do steps from the record a delete leaves
// current.
TEST(TableConnections, StepsFromARecordFoundByKeyOrLeftByADeleteReachTheNeighboursInOrder)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    t->DataBase()->StartTransaction();
    for (int id = 1; id <= 40; ++id)
        TTableFixture::AddPerson(t, id * 2, "n" + std::to_string(id * 2), 30, "Oslo");
    t->DataBase()->Commit();
    auto at = [&](int id) {
        EXPECT_EQ(t->FieldByName("ID")->AsInteger(), id);
        EXPECT_EQ(t->FieldByName("Name")->AsString(), "n" + std::to_string(id));
        EXPECT_EQ(t->RecNo(), id / 2);
    };
    const struct {
        int key;
        int steps; // positive: Next that often, negative: Prior
    } cases[] = {{40, 9}, {40, -9}, {2, 12}, {80, -12}, {4, -3}, {78, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_TRUE(t->FindKey({c.key}));
        at(c.key);
        int id = c.key;
        for (int i = 0; i < std::abs(c.steps); ++i) {
            const int next = id + (c.steps > 0 ? 2 : -2);
            if (c.steps > 0)
                t->Next();
            else
                t->Prior();
            if (next < 2 || next > 80) {
                EXPECT_TRUE(c.steps > 0 ? t->Eof() : t->Bof());
                at(id);
                break;
            }
            id = next;
            at(id);
        }
    }
    t->DataBase()->StartTransaction();
    ASSERT_TRUE(t->FindKey({40}));
    t->Delete();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 42);
    t->Next();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 44);
    t->Prior();
    t->Prior();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 38);
    ASSERT_TRUE(t->FindKey({60}));
    t->Edit();
    t->FieldByName("Name")->SetAsString("changed");
    t->Post();
    t->Prior();
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "n58");
    t->Next();
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "changed");
    t->DataBase()->Commit();
}

TEST(TableConnections, AReadAheadWindowAgesAcrossTheTickCounterWrapping)
{
    std::uint32_t tick = 0xFFFFF000u;
    SetTickCountSource([&] { return tick; });
    {
        TTableFixture fx(TWhere::Disk);
        TVekTable* mine = fx.CreatePeople();
        mine->Open();
        mine->SetIndexName("ixID");
        for (int id = 1; id <= 5; ++id)
            TTableFixture::AddPerson(mine, id, "n" + std::to_string(id), 30, "Oslo");
        TSecondConnection other(fx.Dir().File("tables.vek"), "People");
        other.table.SetIndexName("ixID");

        mine->First(); // the window holds records 1 to 5
        ASSERT_TRUE(other.table.FindKey({2}));
        other.table.Edit();
        other.table.FieldByName("Name")->SetAsString("changed");
        other.table.Post();
        // 0x1200 ms later, across the wrap: the window is still trusted.
        tick += 0x1200;
        mine->Next();
        EXPECT_EQ(mine->FieldByName("Name")->AsString(), "n2");
        // Past its 10 seconds it is not.
        mine->First();
        tick += 10001;
        mine->Next();
        EXPECT_EQ(mine->FieldByName("Name")->AsString(), "changed");
    }
    SetTickCountSource(nullptr);
}

TEST_P(TableEdges, AnEditSurvivesALookupOnTheSameTable)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    for (int id = 1; id <= 5; ++id)
        TTableFixture::AddPerson(t, id, "name" + std::to_string(id), 30, "Oslo");
    t->SetIndexName("ixName");
    ASSERT_TRUE(t->FindKey({"name3"}));
    t->Edit();
    t->FieldByName("Name")->SetAsString("renamed");
    t->FieldByName("Notes")->SetAsString("kept notes");
    // A read of other records between edit and post.
    EXPECT_EQ(t->Lookup("ID", Variant(5), "Name").AsString(), "name5");
    EXPECT_EQ(t->State(), dsEdit);
    t->Post();
    EXPECT_FALSE(t->FindKey({"name3"}));
    ASSERT_TRUE(t->FindKey({"renamed"}));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(t->FieldByName("Notes")->AsString(), "kept notes");
    EXPECT_EQ(TTableFixture::Column(t, "Name"),
              (std::vector<std::string>{"name1", "name2", "name4", "name5", "renamed"}));
}

TEST_P(TableEdges, AFailedWriteLeavesNothingBehind)
{
    TVekTable* t = fx.NewTable("Twice");
    t->FieldDefs()->Add("A", ftInteger);
    t->FieldDefs()->Add("B", ftString, 10);
    t->FieldDefs()->Add("Memo", ftMemo);
    t->IndexDefs()->Add("ixA", "A", ixUnique);
    t->IndexDefs()->Add("ixB", "B", ixUnique);
    t->CreateTable();
    t->Open();
    auto add = [&](int A, const std::string& B) {
        t->Append();
        t->FieldByName("A")->SetAsInteger(A);
        t->FieldByName("B")->SetAsString(B);
        t->FieldByName("Memo")->SetAsString(std::string(3000, 'm'));
        t->Post();
    };
    add(1, "one");
    add(2, "two");
    // New in the first index, taken in the second.
    EXPECT_VEK_ERROR_TEXT(9729, "ixB", add(3, "one"));
    t->Cancel();
    t->SetIndexName("ixA");
    EXPECT_FALSE(t->FindKey({3}));
    EXPECT_EQ(t->RecordCount(), 2);
    // An update that would take another record's key changes nothing.
    ASSERT_TRUE(t->FindKey({2}));
    t->Edit();
    t->FieldByName("A")->SetAsInteger(20);
    t->FieldByName("B")->SetAsString("one");
    EXPECT_VEK_ERROR(9729, t->Post());
    t->Cancel();
    EXPECT_TRUE(t->FindKey({2}));
    EXPECT_FALSE(t->FindKey({20}));
    EXPECT_EQ(t->FieldByName("B")->AsString(), "two");
    t->SetIndexName("ixB");
    EXPECT_EQ(TTableFixture::Column(t, "A"), (std::vector<std::string>{"1", "2"}));
}

TEST(TableConnections, EmptyingGivesThePagesBackForTheNextInserts)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* t = fx.CreatePeople();
    t->Open();
    auto fill = [&] {
        fx.Db().StartTransaction();
        for (int id = 1; id <= 1500; ++id) {
            TTableFixture::AddPerson(t, id, "person" + std::to_string(id), id % 60, "City" + std::to_string(id % 9),
                                     id * 0.5);
            if (id % 3 == 0) {
                t->Edit();
                t->FieldByName("Notes")->SetAsString(std::string(700, static_cast<char>('a' + id % 26)));
                t->Post();
            }
        }
        fx.Db().Commit();
    };
    fill();
    const Int64 full = fx.Db().DatabaseSize();
    EXPECT_VEK_ERROR(10122, {
        fx.Db().StartTransaction();
        try {
            t->EmptyTable();
        } catch (...) {
            fx.Db().Rollback();
            throw;
        }
    });
    t->EmptyTable();
    EXPECT_EQ(t->RecordCount(), 0);
    EXPECT_TRUE(t->IsEmpty());
    fill();
    EXPECT_EQ(t->RecordCount(), 1500);
    // The refill reuses the freed pages: the file hardly grows.
    EXPECT_LE(fx.Db().DatabaseSize(), full + 8 * 4096);
}

TEST(TableConnections, AMemoryTableEmpties)
{
    TTableFixture fx(TWhere::Memory);
    TVekTable* t = fx.CreatePeople();
    t->Open();
    TTableFixture::AddPerson(t, 1, "a", 1, "x");
    t->EmptyTable();
    EXPECT_EQ(t->RecordCount(), 0);
    TTableFixture::AddPerson(t, 1, "a", 1, "x");
    EXPECT_EQ(t->RecordCount(), 1);
}

TEST_P(TableEdges, AutoIncrementValues)
{
    TVekTable* t = fx.NewTable("Auto");
    t->FieldDefs()->Add("N", ftAutoInc);
    t->FieldDefs()->Add("S", ftString, 5);
    t->IndexDefs()->Add("ixN", "N", ixUnique);
    t->CreateTable();
    t->Open();
    auto add = [&](const Variant& N) {
        t->Append();
        if (!N.IsNull())
            t->FieldByName("N")->SetValue(N);
        t->FieldByName("S")->SetAsString("s");
        t->Post();
        return t->FieldByName("N")->AsInteger();
    };
    EXPECT_EQ(add(Variant::Null()), 1);
    EXPECT_EQ(add(Variant::Null()), 2);
    EXPECT_EQ(add(Variant(10)), 10);
    EXPECT_EQ(t->NextAutoIncValue(), 11u);
    EXPECT_EQ(add(Variant(5)), 5);
    EXPECT_EQ(t->NextAutoIncValue(), 11u);
    EXPECT_EQ(add(Variant::Null()), 11);
}

TEST_P(TableEdges, MasterDetailFollowsTheMaster)
{
    TVekTable* master = fx.NewTable("Customers");
    master->FieldDefs()->Add("CustID", ftInteger);
    master->FieldDefs()->Add("Name", ftString, 10);
    master->IndexDefs()->Add("ixCust", "CustID", ixUnique);
    master->CreateTable();
    master->Open();
    TVekTable* detail = fx.NewTable("Orders");
    detail->FieldDefs()->Add("OrderID", ftInteger);
    detail->FieldDefs()->Add("CustID", ftInteger);
    detail->IndexDefs()->Add("ixOrder", "OrderID", ixUnique);
    detail->IndexDefs()->Add("ixCust", "CustID;OrderID", 0);
    detail->CreateTable();
    detail->Open();
    for (int c = 1; c <= 3; ++c) {
        master->Append();
        master->FieldByName("CustID")->SetAsInteger(c);
        master->FieldByName("Name")->SetAsString("c" + std::to_string(c));
        master->Post();
    }
    int order = 0;
    for (int c = 1; c <= 3; ++c)
        for (int i = 0; i < c; ++i) {
            detail->Append();
            detail->FieldByName("OrderID")->SetAsInteger(++order);
            detail->FieldByName("CustID")->SetAsInteger(c);
            detail->Post();
        }
    TDataSource source(nullptr);
    source.SetDataSet(master);
    detail->SetIndexName("ixCust");
    detail->SetMasterSource(&source);
    detail->SetMasterFields("CustID");
    master->First();
    EXPECT_EQ(TTableFixture::Column(detail, "OrderID"), (std::vector<std::string>{"1"}));
    master->Next();
    EXPECT_EQ(TTableFixture::Column(detail, "OrderID"), (std::vector<std::string>{"2", "3"}));
    master->Last();
    EXPECT_EQ(detail->RecordCount(), 3);
    // A new detail record takes the master's key.
    detail->Append();
    detail->FieldByName("OrderID")->SetAsInteger(100);
    detail->Post();
    EXPECT_EQ(detail->FieldByName("CustID")->AsInteger(), 3);
    EXPECT_EQ(detail->RecordCount(), 4);
    // More master fields than the index has.
    detail->SetMasterFields("CustID;CustID;CustID");
    EXPECT_THROW(
        {
            try {
                detail->Append();
            } catch (const EDatabaseError& e) {
                EXPECT_NE(e.Message().find("Master-detail error"), std::string::npos);
                throw;
            }
        },
        EDatabaseError);
    detail->Cancel();
}

TEST_P(TableEdges, IndexesAddedAndDeleted)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    for (int id = 1; id <= 6; ++id)
        TTableFixture::AddPerson(t, id, "n" + std::to_string(id), 40 - id, "Oslo");
    t->AddIndex("ixAge", "Age", 0);
    t->SetIndexName("ixAge");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (std::vector<std::string>{"6", "5", "4", "3", "2", "1"}));
    // A unique index over duplicate values is refused and not kept.
    EXPECT_VEK_ERROR(9729, t->AddIndex("ixCity", "City", ixUnique));
    EXPECT_EQ(t->IndexDefs()->Count(), 5);
    EXPECT_EQ(t->FindIndexDefByName("ixCity"), nullptr);
    // The index persists.
    t->Close();
    t->Open();
    t->SetIndexName("ixAge");
    t->First();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 6);
    // Deleting the current index leaves no index name.
    t->DeleteIndex("ixAge");
    EXPECT_EQ(t->IndexName(), "");
    EXPECT_EQ(t->IndexDefs()->Count(), 4);
    EXPECT_VEK_ERROR(9997, t->SetIndexName("ixAge"));
    EXPECT_VEK_ERROR(9997, t->DeleteIndex("ixAge"));
    t->SetIndexName("ixName");
    EXPECT_EQ(TTableFixture::Column(t, "Name").size(), 6u);
}

TEST_P(TableEdges, ATableWithoutIndexesHasOnlyTheHiddenOne)
{
    TVekTable* t = fx.NewTable("Plain");
    t->FieldDefs()->Add("S", ftString, 5);
    t->CreateTable();
    t->Open();
    for (const char* s : {"c", "a", "b"}) {
        t->Append();
        t->FieldByName("S")->SetAsString(s);
        t->Post();
    }
    TStringList names;
    t->GetIndexNames(&names);
    EXPECT_EQ(names.Count(), 0);
    EXPECT_EQ(t->IndexName(), "");
    // Records keep the order they were added in.
    EXPECT_EQ(TTableFixture::Column(t, "S"), (std::vector<std::string>{"c", "a", "b"}));
}

TEST_P(TableEdges, ImportReportsItsProgress)
{
    TVekTable* source = fx.CreatePeople("Source");
    source->Open();
    for (int id = 1; id <= 40; ++id)
        TTableFixture::AddPerson(source, id, "s" + std::to_string(id), id, "Lima");
    TVekTable* target = fx.CreatePeople("Target");
    target->Open();
    std::vector<std::pair<int, int>> progress;
    int calls = 0;
    target->OnUpdateProgress = [&](Integer Percent, bool&) { progress.emplace_back(++calls, Percent); };
    target->ImportData(source);
    EXPECT_EQ(target->RecordCount(), 40);
    ASSERT_EQ(progress.size(), 20u);
    EXPECT_EQ(progress.front().second, 5);
    EXPECT_EQ(progress.back().second, 100);
}

TEST_P(TableEdges, FiltersLocksAndDefaults)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->FieldByName("City")->SetDefaultExpression("Nowhere");
    t->SetLocked(true);
    EXPECT_TRUE(t->Locked());
    for (int id = 1; id <= 10; ++id) {
        t->Append();
        t->FieldByName("ID")->SetAsInteger(id);
        t->FieldByName("Age")->SetAsInteger(id);
        t->Post();
    }
    t->SetLocked(false);
    EXPECT_FALSE(t->Locked());
    EXPECT_EQ(t->FieldByName("City")->AsString(), "Nowhere");
    t->SetIndexName("ixID");
    t->SetOnFilterRecord([](TDataSet* D, bool& Accept) { Accept = D->FieldByName("Age")->AsInteger() % 3 == 0; });
    t->SetFiltered(true);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (std::vector<std::string>{"3", "6", "9"}));
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_TRUE(t->FindKey({6}));
    t->SetFiltered(false);
    EXPECT_EQ(t->RecordCount(), 10);
    EXPECT_EQ(t->RecNo(), 1);
    EXPECT_FALSE(t->Locate("ID", Variant(0), 0));
}

TEST(TableConnections, EncryptionNeedsAnEncryptedDatabase)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* t = fx.NewTable("Secret");
    t->FieldDefs()->Add("S", ftString, 5);
    t->SetEncryptionLevel(encWeak);
    EXPECT_VEK_ERROR(10766, t->CreateTable());
}


TEST(TableConnections, ARollbackTakesBackTheRecordsAndTheInsert)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    TTableFixture::AddPerson(t, 1, "kept", 1, "Oslo");
    fx.Db().StartTransaction();
    for (int id = 2; id <= 200; ++id)
        TTableFixture::AddPerson(t, id, "gone" + std::to_string(id), 2, "Rome");
    t->Append();
    t->FieldByName("ID")->SetAsInteger(500);
    fx.Db().Rollback();
    EXPECT_EQ(t->State(), dsBrowse);
    EXPECT_EQ(t->RecordCount(), 1);
    EXPECT_FALSE(t->FindKey({2}));
    EXPECT_EQ(TTableFixture::Column(t, "Name"), (std::vector<std::string>{"kept"}));
    // The table goes on as before.
    TTableFixture::AddPerson(t, 2, "again", 2, "Rome");
    EXPECT_EQ(t->RecordCount(), 2);
}

TEST_P(TableEdges, ABlobShownTwiceWhileBrowsingIsReadOnce)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    for (int id = 1; id <= 3; ++id) {
        TTableFixture::AddPerson(t, id, "b", 1, "x");
        t->Edit();
        t->FieldByName("Photo")->SetAsString(std::string(2000, static_cast<char>('0' + id)));
        t->Post();
    }
    t->First();
    const Integer before = t->BlobChainReads();
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), std::string(2000, '1'));
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), std::string(2000, '1'));
    EXPECT_EQ(t->BlobChainReads(), before + 1);
    t->Next();
    t->Prior();
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), std::string(2000, '1'));
    EXPECT_EQ(t->BlobChainReads(), before + 1);
    // Deleting a record deletes its chains with it.
    t->Delete();
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), std::string(2000, '2'));
}

// A scan through every record's blob keeps only a bounded number of them in
// the cache, by entries and by bytes; what it keeps still serves re-reads.
TEST_P(TableEdges, TheBlobCacheStaysBoundedThroughAFullScan)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    const int records = TVekDataSet::BlobCacheMaxEntries + 100;
    for (int id = 1; id <= records; ++id) {
        t->Append();
        t->FieldByName("ID")->SetAsInteger(id);
        t->FieldByName("Notes")->SetAsString("note " + std::to_string(id));
        t->Post();
    }
    int seen = 0;
    for (t->First(); !t->Eof(); t->Next()) {
        ++seen;
        ASSERT_EQ(t->FieldByName("Notes")->AsString(), "note " + std::to_string(seen));
        ASSERT_LE(t->BlobCacheCount(), TVekDataSet::BlobCacheMaxEntries) << seen;
    }
    EXPECT_EQ(seen, records);
    t->Last();
    t->Prior();
    Integer before = t->BlobChainReads();
    EXPECT_EQ(t->FieldByName("Notes")->AsString(), "note " + std::to_string(records - 1));
    EXPECT_EQ(t->BlobChainReads(), before);

    // Bytes: two blobs of five MiB do not fit together; one of nine is never kept.
    t->EmptyTable();
    EXPECT_EQ(t->BlobCacheCount(), 0);
    const std::size_t mib = 1024 * 1024;
    const std::vector<std::pair<int, std::size_t>> photos{{1, 5 * mib}, {2, 5 * mib}, {3, 9 * mib}};
    for (const auto& [id, size] : photos) {
        t->Append();
        t->FieldByName("ID")->SetAsInteger(id);
        t->FieldByName("Photo")->SetAsString(std::string(size, static_cast<char>('a' + id)));
        t->Post();
    }
    t->First();
    EXPECT_EQ(t->FieldByName("Photo")->AsString().size(), 5 * mib);
    EXPECT_EQ(t->BlobCacheCount(), 1);
    t->Next();
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), std::string(5 * mib, 'c'));
    EXPECT_EQ(t->BlobCacheCount(), 1);
    t->Next();
    before = t->BlobChainReads();
    EXPECT_EQ(t->FieldByName("Photo")->AsString().size(), 9 * mib);
    EXPECT_EQ(t->FieldByName("Photo")->AsString().size(), 9 * mib);
    EXPECT_EQ(t->BlobChainReads(), before + 2);
    EXPECT_EQ(t->BlobCacheCount(), 1);
    t->Prior();
    before = t->BlobChainReads();
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), std::string(5 * mib, 'c'));
    EXPECT_EQ(t->BlobChainReads(), before);
}

TEST(TableConnections, AnEncryptedTableUnderAnotherNameIsRefused)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("secret.vek");
    conntest::MakeDatabase(path, "masterkey", true);
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.SetMasterKey("masterkey");
    db.SetExclusive(true);
    db.Open();
    {
        TVekTable t(nullptr);
        t.SetDataBase(&db);
        t.SetTableName("Vault");
        t.SetEncryptionLevel(encWeak);
        t.FieldDefs()->Add("S", ftString, 10);
        t.CreateTable();
        t.Open();
        t.Append();
        t.FieldByName("S")->SetAsString("hidden");
        t.Post();
        t.Close();
    }
    // The stored key-check value still names the old table.
    db.RenameTable("Vault", "Other");
    TVekTable t(nullptr);
    t.SetDataBase(&db);
    t.SetTableName("Other");
    EXPECT_VEK_ERROR_TEXT(8961, "The encrpytion key is not valid or corrupted", t.Open());
    EXPECT_FALSE(t.Active());
}

TEST_P(TableEdges, DeletingWithAStaleBufferDeletesNothing)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    TTableFixture::AddPerson(t, 1, "one", 1, "x");
    TTableFixture::AddPerson(t, 2, "two", 2, "y");
    TVekTable* other = fx.NewTable("People");
    other->SetIndexName("ixID");
    other->Open();
    ASSERT_TRUE(t->FindKey({1}));
    ASSERT_TRUE(other->FindKey({1}));
    other->Edit();
    other->FieldByName("Name")->SetAsString("changed");
    other->Post();
    EXPECT_VEK_ERROR(8708, t->Delete());
    EXPECT_EQ(other->RecordCount(), 2);
    other->Close();
}

TEST_P(TableEdges, LocateChoosesTheIndexAndScansWhereCaseDiffers)
{
    TVekTable* t = fx.NewTable("Pairs");
    t->FieldDefs()->Add("A", ftString, 5);
    t->FieldDefs()->Add("B", ftInteger);
    t->IndexDefs()->Add("ixA", "A", 0);
    t->IndexDefs()->Add("ixAB", "A;B", 0);
    t->CreateTable();
    t->Open();
    for (int i = 0; i < 20; ++i) {
        t->Append();
        t->FieldByName("A")->SetAsString(i % 2 ? "Up" : "up");
        t->FieldByName("B")->SetAsInteger(i);
        t->Post();
    }
    t->SetIndexName("ixA");
    EXPECT_TRUE(t->Locate("A;B", VarArrayOf({Variant("Up"), Variant(7)}), 0));
    EXPECT_EQ(t->FieldByName("B")->AsInteger(), 7);
    // A case-insensitive locate on a case-sensitive index scans.
    EXPECT_TRUE(t->Locate("A;B", VarArrayOf({Variant("UP"), Variant(12)}), loCaseInsensitive));
    EXPECT_EQ(t->FieldByName("B")->AsInteger(), 12);
    EXPECT_FALSE(t->Locate("A", Variant("UP"), 0));
    EXPECT_EQ(t->DataSetSetRecordNo(0), -1);
    EXPECT_EQ(t->DataSetSetRecordNo(21), -1);
    EXPECT_EQ(t->DataSetSetRecordNo(20), 20);
}

TEST_P(TableEdges, OpeningFailuresLeaveTheTableClosed)
{
    TVekTable* missing = fx.NewTable("Nothing");
    EXPECT_VEK_ERROR(10024, missing->Open());
    EXPECT_FALSE(missing->Active());
    TVekTable loose(nullptr);
    loose.SetTableName("People");
    EXPECT_VEK_ERROR(10112, loose.Open());
    EXPECT_FALSE(loose.Active());
    TVekTable* t = fx.CreatePeople();
    t->Open();
    EXPECT_THROW(t->SetTableName("Other"), EDatabaseError);
    EXPECT_VEK_ERROR(9997, t->SetIndexName("ixNone"));
    EXPECT_EQ(t->TableName(), "People");
    t->Close();
    // The connection closes its tables when it disconnects.
    t->Open();
    fx.Db().Close();
    EXPECT_FALSE(t->Active());
}

TEST(TableConnections, ALockedTableRefusesAnotherConnectionsWrites)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* mine = fx.CreatePeople();
    mine->Open();
    TTableFixture::AddPerson(mine, 1, "one", 1, "x");
    TSecondConnection other(fx.Dir().File("tables.vek"), "People");
    other.db.SetLockRetryMaximum(2);
    mine->SetLocked(true);
    // The write lock keeps the other connection out, readers too.
    EXPECT_VEK_ERROR(10249, TTableFixture::AddPerson(&other.table, 2, "two", 1, "x"));
    TTableFixture::AddPerson(mine, 3, "three", 1, "x");
    mine->SetLocked(false);
    if (other.table.State() == dsInsert)
        other.table.Cancel();
    TTableFixture::AddPerson(&other.table, 2, "two", 1, "x");
    EXPECT_EQ(mine->RecordCount(), 3);
}

TEST(TableConnections, EncryptedTablesKeepTheirRowsAcrossConnections)
{
    conntest::TTempDir dir;
    const std::string path = dir.File("crypt.vek");
    conntest::MakeDatabase(path, "masterkey", true);
    for (TEncryptionLevel level : {encWeak, encStrong}) {
        const std::string name = level == encWeak ? "Weak" : "Strong";
        {
            TVekDataBase db(nullptr);
            db.SetDataBaseName(path);
            db.SetMasterKey("masterkey");
            db.Open();
            TVekTable t(nullptr);
            t.SetDataBase(&db);
            t.SetTableName(name);
            t.SetEncryptionLevel(level);
            t.FieldDefs()->Add("ID", ftInteger);
            t.FieldDefs()->Add("Secret", ftString, 20);
            t.FieldDefs()->Add("Memo", ftMemo);
            t.IndexDefs()->Add("ixID", "ID", ixUnique);
            t.CreateTable();
            t.Open();
            for (int id = 1; id <= 50; ++id) {
                t.Append();
                t.FieldByName("ID")->SetAsInteger(id);
                t.FieldByName("Secret")->SetAsString("plaintext" + std::to_string(id));
                t.FieldByName("Memo")->SetAsString(std::string(600, 'z'));
                t.Post();
            }
        }
        TVekDataBase db(nullptr);
        db.SetDataBaseName(path);
        db.SetMasterKey("masterkey");
        db.Open();
        TVekTable t(nullptr);
        t.SetDataBase(&db);
        t.SetTableName(name);
        t.Open();
        EXPECT_EQ(t.RecordCount(), 50) << name;
        ASSERT_TRUE(t.FindKey({37})) << name;
        EXPECT_EQ(t.FieldByName("Secret")->AsString(), "plaintext37") << name;
        EXPECT_EQ(t.FieldByName("Memo")->AsString(), std::string(600, 'z')) << name;
    }
    // The rows never stand in the file in clear.
    const std::vector<Byte> file = conntest::ReadFileBytes(path);
    const std::string text(file.begin(), file.end());
    EXPECT_EQ(text.find("plaintext"), std::string::npos);
}

// Each insert first checks in every index that its key is new; in a file
// transaction the checks keep their paths on the cache's pages for the
// inserts that follow. Refused keys (found by the first or by a later
// index), a tiny budget of changed pages (pages go to the file between the
// checks and the inserts) and page splits must leave every index holding
// exactly the records a full scan finds, before and after the commit.
TEST_P(TableEdges, KeyChecksKeepEveryIndexWholeThroughRefusalsAndSpills)
{
    TVekTable* t = fx.NewTable("Checked");
    t->FieldDefs()->Add("K", ftInteger, 0, true);
    t->FieldDefs()->Add("U", ftString, 12);
    t->FieldDefs()->Add("V", ftInteger);
    t->IndexDefs()->Add("ixK", "K", ixUnique | ixPrimary);
    t->IndexDefs()->Add("ixU", "U", ixUnique);
    t->IndexDefs()->Add("ixV", "V", 0);
    t->CreateTable();
    t->Open();
    if (fx.OnDisk()) {
        fx.Db().SetTransactionPageBudget(32 * 1024);
        fx.Db().StartTransaction();
    }
    std::vector<int> keys(1200);
    std::iota(keys.begin(), keys.end(), 1);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    const auto name = [](int Key) { return "u" + std::to_string(Key * 7919 % 100003); };
    std::set<int> stored;
    int refused = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        int key = keys[i];
        std::string u = name(key);
        // Every 17th a key stored already (refused by ixK), every 13th a new
        // key with a stored U (refused by ixU after ixK passed).
        if (i % 17 == 16 && !stored.empty()) {
            key = *stored.begin();
            u = "fresh" + std::to_string(i);
        } else if (i % 13 == 12 && !stored.empty()) {
            u = name(*stored.rbegin());
            key = 100000 + static_cast<int>(i);
        }
        t->Append();
        t->FieldByName("K")->SetAsInteger(key);
        t->FieldByName("U")->SetAsString(u);
        t->FieldByName("V")->SetAsInteger(key % 97);
        try {
            t->Post();
            stored.insert(key);
        } catch (const EDatabaseError&) {
            t->Cancel();
            ++refused;
        }
    }
    ASSERT_GT(refused, 100);
    const auto expectWhole = [&] {
        for (const char* index : {"ixK", "ixU", "ixV", ""}) {
            t->SetIndexName(index);
            std::vector<int> seen;
            for (const std::string& k : TTableFixture::Column(t, "K"))
                seen.push_back(std::stoi(k));
            std::sort(seen.begin(), seen.end());
            EXPECT_EQ(seen, std::vector<int>(stored.begin(), stored.end())) << index;
        }
        t->SetIndexName("ixK");
        for (int key : {keys.front(), keys.back(), *stored.rbegin()})
            EXPECT_EQ(t->FindKey({key}), stored.count(key) == 1) << key;
    };
    expectWhole();
    if (fx.OnDisk()) {
        fx.Db().Commit();
        t->Close();
        t->Open();
    }
    expectWhole();
}

// Every index of Table holds exactly the records a full scan finds, each
// under the key bytes its stored record gives, in strictly ascending order.
void ExpectIndexesMatchTheRecords(TVekTable* Table, const std::string& Step)
{
    std::set<Cardinal> scanned;
    Table->SetIndexName("");
    for (Table->First(); !Table->Eof(); Table->Next())
        scanned.insert(Table->DatasetGetRecAddr());
    std::vector<Byte> image(static_cast<std::size_t>(Table->EngineBufferSize()), 0);
    TIndexManager* indexes = Table->IndexManager();
    for (int i = 0; i < indexes->Count(); ++i) {
        TIndexItem* index = indexes->GetItems(i);
        const auto keySize = static_cast<std::size_t>(index->MaximumKeySize());
        const Integer count = index->GetRecordCount(true);
        std::set<Cardinal> listed;
        std::vector<Byte> prior, expected(keySize + 1, 0);
        for (Integer n = 1; n <= count; ++n) {
            const Cardinal address = index->SetRecordNo(n);
            const std::vector<Byte> key(index->GetCurrentKeyBuf(), index->GetCurrentKeyBuf() + keySize);
            listed.insert(address);
            Table->ReadRecordBuffer(address, image.data());
            index->CreateTempKeyBuffer(image.data(), expected.data(), {});
            EXPECT_EQ(std::memcmp(key.data() + KeyInfoSize, expected.data() + KeyInfoSize, keySize - KeyInfoSize), 0)
                << Step << ": " << index->IndexName() << " holds old key bytes for record " << n;
            if (!prior.empty()) {
                EXPECT_LT(index->CompareKeyBuffers(prior.data(), key.data(), {}, {}), 0)
                    << Step << ": " << index->IndexName() << " out of order at " << n;
            }
            prior = key;
        }
        EXPECT_EQ(listed, scanned) << Step << ": " << index->IndexName();
    }
    Table->SetIndexName("ixID");
}

// An edit moves the keys whose bytes change and leaves the other indexes
// alone: a key equal in every byte, a new value, a value in a unique index
// another record holds (refused, nothing changed), NULL to a value and
// back, a change of case under a case-insensitive index (stored anew, so
// the index holds the record's own bytes), a descending and a compound
// index, then deletes. After every step each index agrees with a full scan.
TEST_P(TableEdges, EditsMoveExactlyTheKeysWhoseBytesChange)
{
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    TTableFixture::AddPerson(t, 1, "ann", 30, "Oslo", 1.5);
    TTableFixture::AddPerson(t, 2, "Bob", 40, "Rome", 2.5);
    TTableFixture::AddPerson(t, 3, Variant::Null(), Variant::Null(), Variant::Null());
    for (int id = 4; id <= 60; ++id)
        TTableFixture::AddPerson(t, id, "p" + std::to_string(id % 7), id % 5, "c" + std::to_string(id % 3),
                                 id * 0.25);
    ExpectIndexesMatchTheRecords(t, "seeded");

    struct TEdit {
        const char* Step;
        int ID;
        const char* Field;
        Variant Value;
        bool Refused;
    };
    const std::vector<TEdit> edits = {
        {"same bytes", 1, "Name", Variant("ann"), false},
        {"compound part", 1, "Age", Variant(31), false},
        {"primary key", 2, "ID", Variant(99), false},
        {"duplicate of a unique key", 3, "ID", Variant(1), true},
        {"duplicate in a plain index", 99, "Name", Variant("ann"), false},
        {"null to value", 3, "Name", Variant("cyd"), false},
        {"value to null", 3, "Name", Variant::Null(), false},
        {"null score to value", 3, "Score", Variant(9.5), false},
        {"descending key", 3, "Score", Variant(0.5), false},
        {"score back to null", 3, "Score", Variant::Null(), false},
        {"case only", 1, "Name", Variant("ANN"), false},
        {"case only again", 1, "Name", Variant("Ann"), false},
        {"compound first field", 4, "City", Variant("Oslo"), false},
        {"compound to null", 4, "City", Variant::Null(), false},
    };
    const auto text = [](const Variant& Value) { return Value.IsNull() ? std::string("<null>") : Value.AsString(); };
    for (const TEdit& edit : edits) {
        ASSERT_TRUE(t->FindKey({Variant(edit.ID)})) << edit.Step;
        const std::string before = text(t->FieldByName(edit.Field)->Value());
        t->Edit();
        t->FieldByName(edit.Field)->SetValue(edit.Value);
        if (edit.Refused) {
            EXPECT_EQ(conntest::VekErrorCode([&] { t->Post(); }), 9729) << edit.Step;
            t->Cancel();
            ASSERT_TRUE(t->FindKey({Variant(edit.ID)})) << edit.Step;
            EXPECT_EQ(text(t->FieldByName(edit.Field)->Value()), before) << edit.Step;
        } else {
            t->Post();
            const int id = std::string(edit.Field) == "ID" ? edit.Value.AsInteger() : edit.ID;
            ASSERT_TRUE(t->FindKey({Variant(id)})) << edit.Step;
            EXPECT_EQ(text(t->FieldByName(edit.Field)->Value()), text(edit.Value)) << edit.Step;
        }
        ExpectIndexesMatchTheRecords(t, edit.Step);
    }
    t->SetIndexName("ixName");
    EXPECT_TRUE(t->FindKey({Variant("ANN")}));
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "Ann");

    // Deletes find each key once for the check and the delete.
    for (int id : {1, 99, 3, 60, 30}) {
        t->SetIndexName("ixID");
        ASSERT_TRUE(t->FindKey({Variant(id)})) << id;
        t->Delete();
        ExpectIndexesMatchTheRecords(t, "delete " + std::to_string(id));
    }
    EXPECT_EQ(t->RecordCount(), 55);
    t->Close();
    t->Open();
    ExpectIndexesMatchTheRecords(t, "reopened");
}

INSTANTIATE_TEST_SUITE_P(Where, TableEdges, ::testing::Values(TWhere::Disk, TWhere::Memory), tabletests::WhereName);

} // namespace
} // namespace orvex
