// The table-definition managers: shared master definitions and their users,
// creating, deleting and numbering tables, the refusals, and restructuring
// a table's header and index roots.

#include "vekTableDefTestUtil.h"

#include "storage/vekByteOrder.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

using namespace tabletest;

// A table of two indexes and a blob field.
void BuildOrders(TTableDef& Def, bool Memory = false, const std::string& Name = "Orders")
{
    BuildTableDef(Def, Name, {{"ID", ftInteger}, {"Name", ftString, 20}, {"Data", ftBlob}},
                  {{"ixID", {"ID"}, true}, {"ixName", {"Name"}}}, Memory);
}

// Whether the map holds the table.
bool InMap(TTableHeaderMgr* Map, Integer TableID)
{
    Map->InternalReadMap();
    Integer position = 0;
    return Map->FindTableHeaderInMap(TableID, position);
}

// The table's pages of one usage in the database file.
std::size_t OwnedPages(TDiskMgr& Disk, Integer TableID, Word Usage)
{
    std::vector<Cardinal> pages;
    Disk.ListAllocatedFixedBlocks(Disk.PageSize(), TableID, Usage, pages);
    return pages.size();
}

// Rows with a key and a blob each.
void WriteRows(TTableDef& Def, int Count)
{
    TTableAccess access(Def);
    for (int n = 1; n <= Count; ++n) {
        std::vector<Byte> image(static_cast<std::size_t>(Def.RecordSize()), 0);
        TInternalFields* fields = Def.InternalFields();
        const TInternalFieldItem* id = fields->FindField("ID");
        const TInternalFieldItem* name = fields->FindField("Name");
        const TInternalFieldItem* data = fields->FindField("Data");
        image[static_cast<std::size_t>(id->NullFlagOffset())] = 1;
        WriteLE32(&image[static_cast<std::size_t>(id->DataOffset())], static_cast<Cardinal>(n));
        const std::string text = "row " + std::to_string(n % 50);
        image[static_cast<std::size_t>(name->NullFlagOffset())] = 1;
        WriteLE16(&image[static_cast<std::size_t>(name->SizeMarkerOffset())], static_cast<Word>(text.size()));
        std::copy(text.begin(), text.end(), &image[static_cast<std::size_t>(name->DataOffset())]);
        const std::string blob(700, static_cast<char>(n));
        image[static_cast<std::size_t>(data->NullFlagOffset())] = 1;
        WriteLE32(&image[static_cast<std::size_t>(data->DataOffset())], access.InsertBlob(blob));
        WriteLE32(&image[static_cast<std::size_t>(data->DataOffset()) + 4], 700);
        access.AddRecord(image);
    }
}

// ============================================================ shared masters

TEST(TableDefMgr, TwoOpensShareOneMasterThatGoesWithTheLastClose)
{
    TTableFixture fixture;
    TDiskTableDefMgr& tables = fixture.Tables();
    TTableDef stored(nullptr);
    BuildOrders(stored);
    EXPECT_EQ(tables.CreateTableDef("Orders", &stored), 0);
    // Creating leaves a master that nothing uses yet.
    ASSERT_EQ(tables.TableDefCount(), 1);
    EXPECT_EQ(tables.TableDefs(0)->UserCount(), 0);
    EXPECT_FALSE(tables.TableDefs(0)->Active());

    TTableDef first(nullptr), second(nullptr);
    first.Assign(&stored);
    second.Assign(&stored);
    EXPECT_EQ(tables.OpenTableDefConnection("Orders", &first), 0);
    tables.OpenTableDefConnection("ORDERS", &second);
    ASSERT_EQ(tables.TableDefCount(), 1);
    TTableDef* master = tables.TableDefs(0);
    EXPECT_TRUE(master->MasterDef());
    EXPECT_TRUE(master->Active());
    EXPECT_EQ(master->UserCount(), 2);
    EXPECT_EQ(tables.CheckTableUserCount("orders"), 2);
    EXPECT_EQ(tables.CheckTableUserCount("Customers"), 0);
    for (TTableDef* user : {&first, &second}) {
        EXPECT_EQ(user->RecordInterface(), master->RecordInterface());
        EXPECT_EQ(user->BlobInterface(), master->BlobInterface());
        EXPECT_EQ(user->IndexInterface(), master->IndexInterface());
        EXPECT_EQ(user->TableHeader(), master->TableHeader());
        EXPECT_FALSE(user->MasterDef());
    }
    EXPECT_EQ(tables.TableHeaderMgr()->Count(), 1);
    EXPECT_EQ(master->TableHeader()->UserCount(), 1);
    TStringList names;
    tables.GetCurrentTableNames(&names);
    EXPECT_EQ(names.Text(), "Orders\r\n");

    tables.CloseTableDefConnection(first.TableID());
    ASSERT_EQ(tables.TableDefCount(), 1);
    EXPECT_EQ(master->UserCount(), 1);
    EXPECT_TRUE(master->Active());
    tables.CloseTableDefConnection(second.TableID());
    EXPECT_EQ(tables.TableDefCount(), 0);
    EXPECT_EQ(tables.TableHeaderMgr()->Count(), 0) << "the header is closed";
    EXPECT_EQ(tables.IndexOfTableName("Orders"), -1);

    // A third connection makes the master afresh from its definition.
    TTableDef third(nullptr);
    third.Assign(&stored);
    tables.OpenTableDefConnection("Orders", &third);
    ASSERT_EQ(tables.TableDefCount(), 1);
    EXPECT_EQ(tables.TableDefs(0)->UserCount(), 1);
    EXPECT_TRUE(tables.TableDefs(0)->Active());
    EXPECT_EQ(third.RecordInterface(), tables.TableDefs(0)->RecordInterface());
    EXPECT_EQ(tables.IndexOfTableDef(stored.TableID()), 0);
    tables.CloseTableDefConnection(third.TableID());
}

TEST(TableDefMgr, InMemoryTableStaysWhenItsLastConnectionCloses)
{
    TMemoryTableDefMgr tables;
    tables.Open();
    TTableDef stored(nullptr);
    BuildOrders(stored, true);
    tables.CreateTableDef("Orders", &stored);

    TTableDef first(nullptr), second(nullptr);
    tables.OpenTableDefConnection("orders", &first);
    tables.OpenTableDefConnection("Orders", &second);
    EXPECT_EQ(first.TableName(), "Orders") << "the connection fills the definition";
    EXPECT_EQ(first.InternalFields()->Count(), 3);
    EXPECT_TRUE(first.Memory());
    EXPECT_EQ(first.RecordInterface(), second.RecordInterface());
    TTableDef* master = tables.TableDefs(0);
    EXPECT_EQ(master->UserCount(), 2);
    WriteRows(first, 20);
    TBaseIOInterface* records = master->RecordInterface();

    tables.CloseTableDefConnection(first.TableID());
    tables.CloseTableDefConnection(second.TableID());
    tables.CloseTableDefConnection(second.TableID());
    ASSERT_EQ(tables.TableDefCount(), 1);
    EXPECT_EQ(master->UserCount(), 0);
    EXPECT_TRUE(master->Active());

    TTableDef again(nullptr);
    tables.OpenTableDefConnection("Orders", &again);
    EXPECT_EQ(again.RecordInterface(), records);
    {
        TTableAccess access(again);
        EXPECT_EQ(access.IndexOrder("ixID").size(), 20u);
    }
    tables.CloseTableDefConnection(again.TableID());

    // Closing the manager ends its tables; reopened, it starts afresh.
    tables.Close();
    EXPECT_EQ(tables.TableDefCount(), 0);
    tables.Open();
    EXPECT_EQ(tables.IndexOfTableName("Orders"), -1);
    TTableDef next(nullptr);
    BuildOrders(next, true, "Next");
    tables.CreateTableDef("Next", &next);
    EXPECT_EQ(next.TableID(), 1);
}

// ======================================================= create and delete

struct TManagerCase {
    const char* Name;
    bool Memory;
};

void PrintTo(const TManagerCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class TableDefMgrDelete : public ::testing::TestWithParam<TManagerCase> {};

TEST_P(TableDefMgrDelete, DeletingATableInUseRaises8578AndChangesNothing)
{
    const bool inMemory = GetParam().Memory;
    TTableFixture fixture;
    TMemoryTableDefMgr memory;
    memory.Open();
    TBaseTableDefMgr& tables = inMemory ? static_cast<TBaseTableDefMgr&>(memory) : fixture.Tables();
    TTableHeaderMgr* map = inMemory ? memory.TableHeaderMgr() : fixture.Tables().TableHeaderMgr();
    const std::string context = inMemory ? "TMemoryTableDefMgr.DeleteTableDef" : "TDiskTableDefMgr.DeleteTableDef";

    TTableDef stored(nullptr);
    BuildOrders(stored, inMemory);
    tables.CreateTableDef("Orders", &stored);
    const Integer tableID = stored.TableID();
    TTableDef first(nullptr), second(nullptr);
    first.Assign(&stored);
    second.Assign(&stored);
    tables.OpenTableDefConnection("Orders", &first);
    tables.OpenTableDefConnection("Orders", &second);

    EXPECT_RAISED_AT(8578, context, "", tables.DeleteTableDef("Orders", &first));
    EXPECT_EQ(tables.CheckTableUserCount("Orders"), 2) << "a refused delete keeps the count";
    EXPECT_TRUE(InMap(map, tableID));
    EXPECT_EQ(first.TableID(), tableID);
    EXPECT_NE(first.TableHeader(), nullptr);
    EXPECT_RAISED_AT(8578, context, "", tables.DeleteTableDef("Orders", &first));
    EXPECT_EQ(tables.CheckTableUserCount("Orders"), 2);

    // The last connection may delete its table.
    tables.CloseTableDefConnection(second.TableID());
    EXPECT_EQ(tables.DeleteTableDef("Orders", &first), 0);
    EXPECT_EQ(tables.TableDefCount(), 0);
    EXPECT_FALSE(InMap(map, tableID));
    EXPECT_EQ(map->Count(), 0) << "no header left open";
    EXPECT_EQ(first.TableID(), 0);
    EXPECT_EQ(first.TableHeader(), nullptr);
    EXPECT_EQ(first.RecordInterface(), nullptr);

    // The name and the ID are free again.
    TTableDef again(nullptr);
    BuildOrders(again, inMemory);
    tables.CreateTableDef("ORDERS", &again);
    EXPECT_EQ(again.TableID(), tableID);
}

INSTANTIATE_TEST_SUITE_P(Managers, TableDefMgrDelete,
                         ::testing::Values(TManagerCase{"Disk", false}, TManagerCase{"Memory", true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TableDefMgr, SystemManagersNumberFrom1024AndUserManagersFrom1)
{
    TTableFixture fixture;
    TMemoryTableDefMgr memorySystem;
    memorySystem.SetSystemTableMgr(true);
    memorySystem.Open();
    TMemoryTableDefMgr memoryUser;
    memoryUser.Open();
    const struct {
        TBaseTableDefMgr* Tables;
        bool Memory;
        Integer First;
    } cases[] = {
        {&fixture.Connection().SystemTables(), false, 1024},
        {&fixture.Tables(), false, 1},
        {&memorySystem, true, 1024},
        {&memoryUser, true, 1},
    };
    for (const auto& c : cases) {
        std::vector<Integer> ids;
        for (const char* name : {"A", "B", "C"}) {
            TTableDef def(nullptr);
            BuildOrders(def, c.Memory, name);
            c.Tables->CreateTableDef(name, &def);
            ids.push_back(def.TableID());
            EXPECT_EQ(c.Tables->TableDefs(c.Tables->IndexOfTableName(name))->OwnerFlag(),
                      static_cast<Cardinal>(def.TableID()) << 4);
        }
        EXPECT_EQ(ids, (std::vector<Integer>{c.First, c.First + 1, c.First + 2}));
        // The lowest free ID goes to the next table.
        TTableDef b(nullptr);
        b.SetTableID(c.First + 1);
        c.Tables->DeleteTableDef("B", &b);
        TTableDef d(nullptr);
        BuildOrders(d, c.Memory, "D");
        c.Tables->CreateTableDef("D", &d);
        EXPECT_EQ(d.TableID(), c.First + 1);
    }
}

TEST(TableDefMgr, RefusesTheWrongKindOfTableAndANameInUse)
{
    TTableFixture fixture;
    TMemoryTableDefMgr memory;
    memory.Open();
    TTableDef diskDef(nullptr), memoryDef(nullptr);
    BuildOrders(diskDef);
    BuildOrders(memoryDef, true);

    EXPECT_RAISED_AT(8577, "TDiskTableDefMgr.CreateTableDef", "", fixture.Tables().CreateTableDef("Orders", &memoryDef));
    EXPECT_RAISED_AT(8577, "TMemoryTableDefMgr.CreateTableDef", "", memory.CreateTableDef("Orders", &diskDef));
    EXPECT_EQ(fixture.Tables().TableDefCount(), 0);
    EXPECT_FALSE(InMap(fixture.Tables().TableHeaderMgr(), 1));

    fixture.Tables().CreateTableDef("Orders", &diskDef);
    memory.CreateTableDef("Orders", &memoryDef);
    TTableDef twin(nullptr);
    BuildOrders(twin, false, "oRDERS");
    EXPECT_RAISED_AT(8580, "TDiskTableDefMgr.CreateTableDef", "oRDERS", fixture.Tables().CreateTableDef("oRDERS", &twin));
    twin.SetMemory(true);
    EXPECT_RAISED_AT(8580, "TMemoryTableDefMgr.CreateTableDef", "oRDERS", memory.CreateTableDef("oRDERS", &twin));
    EXPECT_FALSE(InMap(fixture.Tables().TableHeaderMgr(), 2)) << "no second table";
    EXPECT_EQ(twin.TableID(), 0);
}

TEST(TableDefMgr, UnknownTablesAndUnopenedManagersRaise)
{
    TTableFixture fixture;
    TDiskTableDefMgr unset;
    EXPECT_RAISED_AT(8579, "TDiskTableDefMgr.InternalInitHeaderMgr", "", unset.Open());
    unset.SetHdrDiskInterface(&fixture.Connection().TableHeaders());
    EXPECT_RAISED_AT(8576, "TDiskTableDefMgr.InternalInitHeaderMgr", "", unset.Open());
    TTableDef def(nullptr);
    BuildOrders(def);
    EXPECT_RAISED_AT(8576, "TDiskTableDefMgr.CreateTableDef", "", unset.CreateTableDef("Orders", &def));

    EXPECT_RAISED_AT(8579, "TDiskTableDefMgr.CloseTableDefConnection", "", fixture.Tables().CloseTableDefConnection(5));
    TInternalRestructureRecord request;
    EXPECT_RAISED_AT(8576, "TDiskTableDefMgr.RestructureTableDef", "Orders",
                     fixture.Tables().RestructureTableDef(&def, request));

    TMemoryTableDefMgr memory;
    TTableDef memoryDef(nullptr);
    BuildOrders(memoryDef, true);
    EXPECT_RAISED_AT(8576, "TMemoryTableDefMgr.CreateTableDef", "", memory.CreateTableDef("Orders", &memoryDef));
    memory.Open();
    EXPECT_RAISED_AT(8579, "TMemoryTableDefMgr.OpenTableDefConnection", "Orders",
                     memory.OpenTableDefConnection("Orders", &memoryDef));
    EXPECT_RAISED_AT(8579, "MemoryTableDefMgr.CloseTableDefConnection", "", memory.CloseTableDefConnection(1));
    memory.CreateTableDef("Orders", &memoryDef);
    EXPECT_RAISED_AT(10766, "TMemoryTableDefMgr.RestructureTableDef", "Orders",
                     memory.RestructureTableDef(&memoryDef, request));
    EXPECT_RAISED_AT(8577, "TDiskTableDefMgr.RestructureTableDef", "",
                     fixture.Tables().RestructureTableDef(&memoryDef, request));

    TBaseTableDefMgr base;
    EXPECT_EQ(base.CreateTableDef("Orders", &def), -1);
    EXPECT_EQ(base.OpenTableDefConnection("Orders", &def), 0);
    EXPECT_EQ(def.RecordInterface(), nullptr);
}

// ============================================================= restructure

// A connected table of rows with keys and blobs, and the restructure request
// of its new layout.
class TableDefRestructure : public ::testing::Test {
protected:
    void SetUp() override
    {
        BuildOrders(FStored);
        Tables().CreateTableDef("Orders", &FStored);
        FUser.Assign(&FStored);
        Tables().OpenTableDefConnection("Orders", &FUser);
        WriteRows(FUser, 300);
        TTableHeader* header = FUser.TableHeader();
        header->SetRecordAutoIncVal(41);
        header->SetGenerator1(7);
        header->SetGenerator2(8);
        header->WriteHeader();
        FRequest.NewFieldDefs = &FFields;
        FRequest.NewIndexDefs = &FIndexes;
    }
    void TearDown() override { Tables().CloseTableDefConnection(FUser.TableID()); }

    TDiskTableDefMgr& Tables() { return FFixture.Tables(); }
    TDiskMgr& Disk() { return FFixture.Disk(); }
    // The connected definition takes the new layout (as the dataset hands
    // its definition over), keeping its storage.
    void TakeLayout(const std::vector<TIndexSpec>& Indexes)
    {
        TTableDef layout(nullptr);
        BuildTableDef(layout, "Orders", {{"ID", ftInteger}, {"Name", ftString, 20}, {"Data", ftBlob}}, Indexes);
        layout.SetTableID(FUser.TableID());
        FUser.Assign(&layout);
        for (const TIndexSpec& index : Indexes)
            FIndexes.AddAndSetIndexDef(index.Name, index.Fields.front(), 0);
    }
    // Every index root is a fresh empty leaf of depth 1.
    void ExpectEmptyRoots(Integer Count)
    {
        TTableHeader* header = FUser.TableHeader();
        ASSERT_EQ(header->IndexCount(), static_cast<Cardinal>(Count));
        for (Integer i = 0; i < Count; ++i) {
            std::vector<Byte> page(4096);
            FUser.IndexInterface()->ReadBlock(header->IndexRoot(i), 4096, page.data());
            EXPECT_EQ(ReadLE32(&page[0]), 1u) << "slot " << i;
            EXPECT_EQ(ReadLE32(&page[4]), 0u) << "slot " << i;
            EXPECT_EQ(header->IndexDepth(i), 1) << "slot " << i;
        }
        EXPECT_EQ(OwnedPages(Disk(), FUser.TableID(), IOUsageIndexPages), static_cast<std::size_t>(Count))
            << "the old trees are freed";
    }

    TTableFixture FFixture;
    TTableDef FStored{nullptr};
    TTableDef FUser{nullptr};
    TRestructureFieldDefs FFields;
    TRestructureIndexDefs FIndexes;
    TInternalRestructureRecord FRequest;
};

TEST_F(TableDefRestructure, OfTheIndexesOnlyKeepsTheRowsAndGivesEveryIndexANewEmptyRoot)
{
    TTableHeader* header = FUser.TableHeader();
    const Cardinal recordFirstEmpty = header->RecordFirstEmpty();
    const Cardinal blobFirstEmpty = header->BlobFirstEmpty();
    ASSERT_NE(recordFirstEmpty, 0u) << "the record pages have spare blocks";
    ASSERT_GT(OwnedPages(Disk(), FUser.TableID(), IOUsageIndexPages), 2u);
    const std::size_t recordPages = OwnedPages(Disk(), FUser.TableID(), IOUsageRecords);
    const std::size_t blobPages = OwnedPages(Disk(), FUser.TableID(), IOUsageBlobs);

    TakeLayout({{"ixID", {"ID"}, true}, {"ixName", {"Name"}}, {"ixBoth", {"Name", "ID"}, true}});
    FIndexes.SetChangeStatus(dcAdded);
    FRequest.ChangeGenerator1 = true;
    FRequest.Generator1 = 99;
    EXPECT_EQ(Tables().RestructureTableDef(&FUser, FRequest), 0);

    EXPECT_EQ(header->RecordFirstEmpty(), recordFirstEmpty);
    EXPECT_EQ(header->BlobFirstEmpty(), blobFirstEmpty);
    EXPECT_EQ(header->LogicalRecordNo(), 300u);
    EXPECT_EQ(header->RecordAutoIncVal(), 41u);
    EXPECT_EQ(header->Generator1(), 99u);
    EXPECT_EQ(header->Generator2(), 8u);
    EXPECT_EQ(header->TableID(), static_cast<Cardinal>(FUser.TableID()));
    EXPECT_FALSE(header->Dirty()) << "written";
    ExpectEmptyRoots(3);
    EXPECT_EQ(OwnedPages(Disk(), FUser.TableID(), IOUsageRecords), recordPages);
    EXPECT_EQ(OwnedPages(Disk(), FUser.TableID(), IOUsageBlobs), blobPages);
}

TEST_F(TableDefRestructure, ThatRemovesEveryIndexLeavesIndexCount1)
{
    TakeLayout({});
    FIndexes.SetChangeStatus(dcDeleted);
    Tables().RestructureTableDef(&FUser, FRequest);
    ASSERT_EQ(FUser.InternalIndexDefs()->Count(), 1) << "the hidden index";
    ExpectEmptyRoots(1);
    EXPECT_EQ(FUser.TableHeader()->LogicalRecordNo(), 300u);
}

TEST_F(TableDefRestructure, OfTheFieldsClearsTheHeaderAndFreesRecordsBlobsAndTrees)
{
    ASSERT_GT(OwnedPages(Disk(), FUser.TableID(), IOUsageBlobs), 0u);
    TakeLayout({{"ixID", {"ID"}, true}});
    FFields.SetChangeStatus(dcDataChange);
    FIndexes.SetChangeStatus(dcDeleted);
    FRequest.ChangeAutoIncValue = true;
    FRequest.AutoIncValue = 5;
    Tables().RestructureTableDef(&FUser, FRequest);

    TTableHeader* header = FUser.TableHeader();
    EXPECT_EQ(header->RecordFirstEmpty(), 0u);
    EXPECT_EQ(header->BlobFirstEmpty(), 0u);
    EXPECT_EQ(header->LogicalRecordNo(), 0u);
    EXPECT_EQ(header->RecordAutoIncVal(), 5u);
    EXPECT_EQ(header->Generator1(), 7u) << "kept through the clearing";
    EXPECT_EQ(header->Generator2(), 8u);
    EXPECT_EQ(header->TableID(), static_cast<Cardinal>(FUser.TableID()));
    EXPECT_EQ(header->GetHeaderSize(), 256);
    ExpectEmptyRoots(1);
    EXPECT_EQ(OwnedPages(Disk(), FUser.TableID(), IOUsageRecords), 0u);
    EXPECT_EQ(OwnedPages(Disk(), FUser.TableID(), IOUsageBlobs), 0u);
}

TEST_F(TableDefRestructure, OfDefinitionsOnlyChangesOnlyTheGivenValues)
{
    TTableHeader* header = FUser.TableHeader();
    const std::vector<Byte> before = header->HeaderBuf();
    FFields.SetChangeStatus(dcDefOnlyChange);
    FIndexes.SetChangeStatus(dcDefOnlyChange);
    FRequest.ChangeGenerator2 = true;
    FRequest.Generator2 = 12;
    Tables().RestructureTableDef(&FUser, FRequest);
    EXPECT_EQ(header->Generator2(), 12u);
    header->SetGenerator2(8);
    std::vector<Byte> after = header->HeaderBuf();
    WriteLE32(&after[thoModifiedFlag], ReadLE32(&before[thoModifiedFlag]));
    EXPECT_EQ(after, before);
}

} // namespace
} // namespace orvex
