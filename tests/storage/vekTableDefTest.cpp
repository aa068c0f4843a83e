// TTableDef: defaults, Assign, Clear and Validate; its textual object form;
// the storage its master opens (interfaces, usage codes, access flags,
// in-memory index roots).

#include "vekTableDefTestUtil.h"

#include "host/Streaming.h"
#include "storage/vekByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace orvex {
namespace {

using namespace tabletest;

// ================================================================ the object

TEST(TableDef, FreshDefinitionHasTheDefaults)
{
    TTableDef def(nullptr);
    EXPECT_EQ(def.DefaultBlobSize(), 512);
    EXPECT_EQ(def.KeyFields()->Count(), 0);
    EXPECT_EQ(def.InternalFields()->Count(), 0);
    EXPECT_EQ(def.InternalIndexDefs()->Count(), 0);
    EXPECT_EQ(def.TableID(), 0);
    EXPECT_EQ(def.RecordSize(), 0);
    EXPECT_FALSE(def.UsesBlobs());
    EXPECT_EQ(def.SortOrder(), soANSI);
    EXPECT_EQ(def.EncryptionLevel(), encNone);
    EXPECT_FALSE(def.MasterDef());
    EXPECT_FALSE(def.Active());
    EXPECT_EQ(def.UserCount(), 0);
    EXPECT_EQ(def.TableHeader(), nullptr);
    EXPECT_EQ(def.RecordInterface(), nullptr);
}

TEST(TableDef, DebugSetDefsFillsTheSampleDefinition)
{
    TTableDef def(nullptr);
    def.DebugSetDefs();
    ASSERT_EQ(def.InternalFields()->Count(), 3);
    EXPECT_EQ(def.InternalFields()->GetIndex(0)->FieldName(), "Int1");
    EXPECT_EQ(def.InternalFields()->GetIndex(1)->FieldName(), "Str1");
    EXPECT_EQ(def.InternalFields()->GetIndex(2)->FieldName(), "Date1");
    ASSERT_EQ(def.InternalIndexDefs()->Count(), 2);
    EXPECT_EQ(def.InternalIndexDefs()->GetItems(0)->IndexName(), "one");
    EXPECT_EQ(def.InternalIndexDefs()->GetItems(1)->IndexName(), "two");
    EXPECT_EQ(def.KeyFields()->FindFieldCountForIndex("two"), 1);
    EXPECT_GT(def.RecordSize(), 0);
}

TEST(TableDef, AssignCopiesTheDefinitionAndLeavesTheRest)
{
    TTableDef source(nullptr);
    SetEveryProperty(source);
    source.SetPrivilegeFlags(4096);

    TTableDef target(nullptr);
    target.SetOwnerFlag(16);
    target.SetLastModDate(1.25);
    target.SetSecurityLevel(7);
    target.SetInternalTable(false);
    TTableHeaderMgr map;
    TTableHeader header(&map);
    target.SetTableHeader(&header);
    target.Assign(&source);

    EXPECT_EQ(target.TableID(), 77);
    EXPECT_EQ(target.TableName(), source.TableName());
    EXPECT_EQ(target.Version(), source.Version());
    EXPECT_EQ(target.OS(), source.OS());
    EXPECT_EQ(target.CreationDate(), source.CreationDate());
    EXPECT_EQ(target.CreatedBy(), source.CreatedBy());
    EXPECT_TRUE(target.Encrypted());
    EXPECT_EQ(target.EncryptionLevel(), encStrong);
    EXPECT_EQ(target.Password(), source.Password());
    EXPECT_FALSE(target.Memory());
    EXPECT_EQ(target.RecordSize(), source.RecordSize());
    EXPECT_TRUE(target.UsesBlobs());
    EXPECT_EQ(target.DefaultBlobSize(), 1024);
    EXPECT_EQ(target.SortOrder(), soASCII);
    EXPECT_EQ(target.AltName(), source.AltName());
    EXPECT_EQ(target.PrivilegeFlags(), 4096);
    EXPECT_TRUE(target.BlobCompression());
    EXPECT_EQ(target.KeyFields()->Count(), source.KeyFields()->Count());
    EXPECT_EQ(target.KeyFields()->DataOffset(), 3);
    EXPECT_EQ(target.InternalFields()->Count(), source.InternalFields()->Count());
    EXPECT_EQ(target.InternalIndexDefs()->Count(), source.InternalIndexDefs()->Count());
    EXPECT_EQ(target.InternalIndexDefs()->GetItems(0)->IndexKeyType(), ikMinStringLen);

    EXPECT_EQ(target.OwnerFlag(), 16u);
    EXPECT_EQ(target.LastModDate(), 1.25);
    EXPECT_EQ(target.SecurityLevel(), 7);
    EXPECT_FALSE(target.InternalTable());
    EXPECT_EQ(target.TableHeader(), &header);
}

TEST(TableDef, ClearEmptiesTheDefinitionButNotAMaster)
{
    TTableDef def(nullptr);
    SetEveryProperty(def);
    def.SetUserCount(2);
    def.SetMasterDef(true);
    EXPECT_RAISED_AT(8577, "TTableDef.Clear", "", def.Clear());
    EXPECT_EQ(def.TableName(), "Every 'quoted' table");

    def.SetMasterDef(false);
    def.Clear();
    EXPECT_EQ(def.TableID(), 0);
    EXPECT_EQ(def.OwnerFlag(), 0u);
    EXPECT_EQ(def.CreationDate(), 0);
    EXPECT_EQ(def.EncryptionLevel(), encNone);
    EXPECT_EQ(def.TableName(), "");
    EXPECT_EQ(def.Version(), "");
    EXPECT_EQ(def.OS(), "");
    EXPECT_EQ(def.CreatedBy(), "");
    EXPECT_EQ(def.Password(), "");
    EXPECT_FALSE(def.Memory());
    EXPECT_EQ(def.KeyFields()->Count(), 0);
    EXPECT_EQ(def.InternalFields()->Count(), 0);
    EXPECT_EQ(def.InternalIndexDefs()->Count(), 0);
    EXPECT_EQ(def.RecordSize(), 0);
    EXPECT_EQ(def.DefaultBlobSize(), 512);
    EXPECT_FALSE(def.UsesBlobs());
    EXPECT_EQ(def.UserCount(), 0);
    // What Clear does not name stays.
    EXPECT_EQ(def.AltName().size(), 256u);
    EXPECT_EQ(def.SortOrder(), soASCII);
    EXPECT_EQ(def.LastModDate(), -693593.0000001);
}

TEST(TableDef, ValidateGivesUnclaimedKeyFieldsToTheFirstIndexWithoutKeys)
{
    TTableDef def(nullptr);
    BuildTableDef(def, "T", {{"A", ftInteger}, {"B", ftString, 10}}, {{"ixA", {"A"}, true}, {"ixB", {"B"}, true}});
    TInternalIndexDef* empty = def.InternalIndexDefs()->Add();
    empty->SetIndexName("ixEmpty");
    TInternalIndexDef* second = def.InternalIndexDefs()->Add();
    second->SetIndexName("ixSecond");
    TKeyFieldItem* orphan = def.KeyFields()->Add();
    orphan->SetFieldName("B");
    orphan->SetIndexName("gone");

    EXPECT_TRUE(def.Validate());
    EXPECT_EQ(def.KeyFields()->GetItems(0)->IndexName(), "ixA");
    EXPECT_EQ(def.KeyFields()->GetItems(1)->IndexName(), "ixB");
    EXPECT_EQ(orphan->IndexName(), "ixEmpty");
    EXPECT_EQ(def.KeyFields()->FindFieldCountForIndex("ixSecond"), 0);
}

// ========================================================== textual form

// The names of the top-level properties of an object's text, in order.
std::vector<std::string> TopLevelNames(const std::string& Text)
{
    std::vector<std::string> names;
    std::istringstream lines(Text);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("  ", 0) == 0 && line[2] != ' ' && line.find(" =") != std::string::npos)
            names.push_back(line.substr(2, line.find(" =") - 2));
    return names;
}

TEST(TableDefText, EveryPropertyRoundTripsByteForByte)
{
    TTableDef source(nullptr);
    SetEveryProperty(source);
    const std::string text = WriteComponentText(&source);

    // Read into a definition that holds other things, collections included.
    TTableDef copy(nullptr);
    copy.DebugSetDefs();
    ReadComponentText(text, &copy);
    EXPECT_EQ(WriteComponentText(&copy), text);

    const std::vector<std::string> order{
        "TableID",  "OwnerFlag",     "TableName",       "AltName",      "Version",   "OS",
        "CreationDate", "LastModDate", "CreatedBy",      "Password",     "Encrypted", "SecurityLevel",
        "Memory",   "RecordSize",    "DefaultBlobSize", "UsesBlobs",    "SortOrder", "InternalTable",
        "EncryptionLevel", "KeyFields", "InternalFields", "InternalIndexDefs", "BlobCompression"};
    EXPECT_EQ(TopLevelNames(text), order);

    EXPECT_EQ(copy.AltName(), source.AltName());
    EXPECT_EQ(copy.CreatedBy(), source.CreatedBy());
    EXPECT_EQ(copy.OS(), source.OS());
    const double copied = copy.CreationDate(), original = source.CreationDate();
    EXPECT_EQ(std::memcmp(&copied, &original, sizeof(double)), 0);
    EXPECT_EQ(copy.LastModDate(), source.LastModDate());
    EXPECT_EQ(copy.OwnerFlag(), 0xFFFFFFF0u);
    EXPECT_EQ(copy.SecurityLevel(), -2);
    EXPECT_EQ(copy.RecordSize(), source.RecordSize());
    EXPECT_TRUE(copy.UsesBlobs());
    EXPECT_EQ(copy.SortOrder(), soASCII);
    EXPECT_TRUE(copy.InternalTable());
    EXPECT_EQ(copy.EncryptionLevel(), encStrong);
    EXPECT_TRUE(copy.BlobCompression());
    ASSERT_EQ(copy.InternalFields()->Count(), source.InternalFields()->Count());
    for (int i = 0; i < source.InternalFields()->Count(); ++i)
        EXPECT_EQ(copy.InternalFields()->GetIndex(i)->DataType(), source.InternalFields()->GetIndex(i)->DataType());
    EXPECT_EQ(copy.InternalFields()->GetIndex(1)->CompressionMode(), dcZLib);
    EXPECT_EQ(copy.KeyFields()->Count(), source.KeyFields()->Count());
    EXPECT_TRUE(copy.KeyFields()->GetItems(0)->CaseInsensitive());
    ASSERT_EQ(copy.InternalIndexDefs()->Count(), 4);
    EXPECT_EQ(copy.InternalIndexDefs()->GetItems(3)->IndexName(), "ixWhen");
    EXPECT_EQ(copy.InternalIndexDefs()->GetItems(0)->IndexKeyType(), ikMinStringLen);
}

TEST(TableDefText, PropertiesMissingFromTheTextKeepTheirValues)
{
    TTableDef def(nullptr);
    SetEveryProperty(def);
    const std::string before = WriteComponentText(&def);
    ReadComponentText("object TTableDef\r\n  TableName = 'Renamed'\r\n  SecurityLevel = 3\r\nend\r\n", &def);
    EXPECT_EQ(def.TableName(), "Renamed");
    EXPECT_EQ(def.SecurityLevel(), 3);

    def.SetTableName("Every 'quoted' table");
    def.SetSecurityLevel(-2);
    EXPECT_EQ(WriteComponentText(&def), before);
}

// ================================================================= storage

TEST(TableDefStorage, OpeningWithoutAHeaderRaises8576)
{
    TTableDef def(nullptr);
    def.SetTableName("Orders");
    def.SetMasterDef(true);
    EXPECT_RAISED_AT(8576, "OrdersTableDef.InternalOpen", "", def.InternalOpen(nullptr));
    EXPECT_FALSE(def.Active());
}

TEST(TableDefStorage, AccessFlagsFollowTheEncryptionLevel)
{
    EXPECT_EQ(TableAccessFlags(encNone), 1u);
    EXPECT_EQ(TableAccessFlags(encWeak), 3u);
    EXPECT_EQ(TableAccessFlags(encStrong), 5u);
}

struct TInterfaceCase {
    const char* Name;
    bool Memory;
    TEncryptionLevel Level;
    Cardinal Flags;
};

void PrintTo(const TInterfaceCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class TableDefInterfaces : public ::testing::TestWithParam<TInterfaceCase> {};

TEST_P(TableDefInterfaces, CarryUsageTableIDBlockSizeAndTheLevelsAccessFlags)
{
    const TInterfaceCase& param = GetParam();
    TTableFixture fixture;
    TMemoryTableDefMgr memory;
    memory.Open();
    TBaseTableDefMgr& tables = param.Memory ? static_cast<TBaseTableDefMgr&>(memory) : fixture.Tables();
    TTableDef def(nullptr);
    BuildTableDef(def, "Orders", {{"A", ftInteger}, {"B", ftString, 20}, {"C", ftMemo}},
                  {{"ixA", {"A"}, true}, {"ixB", {"B"}}}, param.Memory, param.Level);
    def.SetDefaultBlobSize(256);
    tables.CreateTableDef("Orders", &def);
    TTableDef user(nullptr);
    user.Assign(&def);
    tables.OpenTableDefConnection("Orders", &user);

    const struct {
        TBaseIOInterface* IO;
        Word Usage;
        Integer BlockSize;
        Integer GlobalOffset;
    } expected[] = {
        {user.IndexInterface(), IOUsageIndexPages, 4096, param.Memory ? 0 : TGlobalHdr::OfsIndexesFirstEmpty},
        {user.RecordInterface(), IOUsageRecords, def.RecordSize(), 0},
        {user.BlobInterface(), IOUsageBlobs, 256, 0},
    };
    for (const auto& io : expected) {
        ASSERT_NE(io.IO, nullptr);
        EXPECT_EQ(io.IO->Usage(), io.Usage);
        EXPECT_EQ(io.IO->TableID(), def.TableID());
        EXPECT_EQ(io.IO->Owner(), def.TableID() * 16 + io.Usage) << "opened";
        EXPECT_EQ(io.IO->AccessFlags(), param.Flags) << "usage " << io.Usage;
        EXPECT_EQ(io.IO->BlockSize(), io.BlockSize) << "usage " << io.Usage;
        EXPECT_EQ(io.IO->GlobalFirstEmptyOffset(), io.GlobalOffset) << "usage " << io.Usage;
    }
    EXPECT_EQ(dynamic_cast<TMemoryIOInterface*>(user.IndexInterface()) != nullptr, param.Memory);

    // Every index root is an empty leaf, written with the table's flags
    // (through the page cache, before anything reads it).
    TTableHeader* header = user.TableHeader();
    ASSERT_EQ(header->IndexCount(), 2u);
    if (!param.Memory)
        for (Integer i = 0; i < 2; ++i) {
            TCacheMgr* cache = fixture.Disk().VekFile()->Cache();
            const int cached = cache->FindPage(cache->GetBaseAddress(header->IndexRoot(i)), 0);
            ASSERT_GE(cached, 0) << "the root went past the page cache";
            EXPECT_EQ(cache->Pages(cached)->AccessFlags, param.Flags);
        }
    for (Integer i = 0; i < 2; ++i) {
        EXPECT_EQ(header->IndexDepth(i), 1);
        std::vector<Byte> page(4096);
        user.IndexInterface()->ReadBlock(header->IndexRoot(i), 4096, page.data());
        EXPECT_EQ(ReadLE32(&page[0]), 1u);
        EXPECT_EQ(std::count(page.begin() + 4, page.end(), 0), 4092);
    }
    tables.CloseTableDefConnection(user.TableID());
}

INSTANTIATE_TEST_SUITE_P(Tables, TableDefInterfaces,
                         ::testing::Values(TInterfaceCase{"DiskPlain", false, encNone, 1},
                                           TInterfaceCase{"DiskWeak", false, encWeak, 3},
                                           TInterfaceCase{"DiskStrong", false, encStrong, 5},
                                           TInterfaceCase{"MemoryPlain", true, encNone, 1},
                                           TInterfaceCase{"MemoryWeak", true, encWeak, 3},
                                           TInterfaceCase{"MemoryStrong", true, encStrong, 5}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TableDefStorage, InMemoryTableGetsAOnePageLeafRootPerIndexWhenOpened)
{
    TMemoryTableDefMgr tables;
    tables.Open();
    TTableDef def(nullptr);
    BuildTableDef(def, "Mem", {{"A", ftInteger}, {"B", ftInteger}}, {{"ixA", {"A"}, true}, {"ixB", {"B"}, true}},
                  true);
    tables.CreateTableDef("Mem", &def);
    TTableHeader* header = tables.TableHeaderMgr()->OpenTable(def.TableID());
    EXPECT_EQ(header->IndexRoot(0), 0u) << "no roots before the table opens";
    const Cardinal modified = header->ModifiedFlag();
    tables.TableHeaderMgr()->CloseTable(header);

    TTableDef user(nullptr);
    tables.OpenTableDefConnection("Mem", &user);
    header = user.TableHeader();
    auto* index = dynamic_cast<TMemoryIOInterface*>(user.IndexInterface());
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->BlockCount(), 2);
    EXPECT_NE(header->IndexRoot(0), header->IndexRoot(1));
    for (Integer i = 0; i < 2; ++i) {
        EXPECT_TRUE(index->CheckBlockAddressValid(header->IndexRoot(i)));
        EXPECT_EQ(header->IndexDepth(i), 1);
        std::vector<Byte> page(4096);
        index->ReadBlock(header->IndexRoot(i), 4096, page.data());
        EXPECT_EQ(ReadLE32(&page[0]), 1u);
        EXPECT_EQ(std::count(page.begin(), page.end(), 0), 4095);
    }
    EXPECT_FALSE(header->Dirty());
    EXPECT_GT(header->ModifiedFlag(), modified) << "the header was written";
    tables.CloseTableDefConnection(user.TableID());
}

TEST(TableDefStorage, BlobInterfaceOpensOnlyForATableWithBlobFields)
{
    TTableFixture fixture;
    TMemoryTableDefMgr memory;
    memory.Open();
    for (bool inMemory : {false, true}) {
        TBaseTableDefMgr& tables = inMemory ? static_cast<TBaseTableDefMgr&>(memory) : fixture.Tables();
        for (bool blobs : {false, true}) {
            const std::string name = std::string(blobs ? "WithBlobs" : "Without") + (inMemory ? "M" : "D");
            TTableDef def(nullptr);
            std::vector<TFieldSpec> fields{{"A", ftInteger}};
            if (blobs)
                fields.push_back({"B", ftGraphic});
            BuildTableDef(def, name, fields, {{"ixA", {"A"}, true}}, inMemory);
            tables.CreateTableDef(name, &def);
            TTableDef user(nullptr);
            user.Assign(&def);
            tables.OpenTableDefConnection(name, &user);
            ASSERT_NE(user.BlobInterface(), nullptr);
            EXPECT_EQ(user.BlobInterface()->Owner() != 0, blobs) << name;
            if (auto* disk = dynamic_cast<TDiskIOInterface*>(user.BlobInterface())) {
                EXPECT_EQ(disk->IsOpen(), blobs) << name;
            }
            tables.CloseTableDefConnection(user.TableID());
        }
    }
}

} // namespace
} // namespace orvex
