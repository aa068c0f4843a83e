// Index definitions and the index manager: building from definitions, key
// fields, header slots, the choice of an index for fields, and adding,
// dropping and emptying indexes in memory and in a database file.

#include "host/Streaming.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnit.h"

#include "vekInterfaceTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orvex {
namespace {

using TRecord = std::vector<Byte>;

constexpr Integer PageSize = 4096;
constexpr Word IndexTableID = 7;
constexpr Integer WideText = 100; // characters of column "S"

// The property names an object publishes, in streaming order.
std::vector<std::string> PublishedNames(TPersistent& Object)
{
    TPropertyList list;
    Object.PublishProperties(list);
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i)
        names.push_back(list[i].Name);
    return names;
}

// A table of three columns, "A" and "B" (integers) and "S" (a string of 100
// characters), with index definitions and key fields over them as a table
// definition has them.
class TIndexedTable {
public:
    TIndexedTable()
    {
        AddField("A", ftInteger, 0);
        AddField("B", ftInteger, 0);
        AddField("S", ftString, WideText + 1);
        FFields.SetDefaultOffsets();
        FFields.Open();
    }

    struct TKeySpec {
        std::string Column;
        bool CaseInsensitive = false;
    };

    // Adds an index definition in the next slot with key fields over Keys.
    TInternalIndexDef* AddIndex(const std::string& Name, const std::vector<TKeySpec>& Keys, bool Hidden = false)
    {
        TInternalIndexDef* def = Defs.Add();
        def->SetIndexName(Name);
        def->SetIndexSequence(def->Index());
        def->SetMaintained(true);
        def->SetHidden(Hidden);
        def->SetUnique(true);
        def->SetIndexPageSize(PageSize);
        TKeyFields own;
        for (const TKeySpec& spec : Keys) {
            const TInternalFieldItem* field = FFields.FindField(spec.Column);
            for (TKeyFields* target : {&KeyFields, &own}) {
                TKeyFieldItem* key = target->Add();
                key->AssignFromField(field);
                key->SetIndexName(Name);
                key->SetCaseInsensitive(spec.CaseInsensitive);
                key->SetKeyIndex(target->FindFieldCountForIndex(Name) - 1);
            }
        }
        def->SetKeyDataOffset(static_cast<Integer>(Keys.size()) / 8 + 1);
        def->SetMaximumKeySize(CalculateMaximumKeySize(&own) + def->KeyDataOffset());
        return def;
    }

    TRecord Record(Integer A, Integer B, const std::string& S) const
    {
        TRecord record(static_cast<std::size_t>(FFields.RecordSize()), 0);
        record[rpoStatus] = 1;
        Put(record, "A", &A, 4);
        Put(record, "B", &B, 4);
        const TInternalFieldItem* s = FFields.FindField("S");
        record[s->NullFlagOffset()] = 1;
        std::memcpy(record.data() + s->DataOffset(), S.data(), S.size());
        WriteLE16(record.data() + s->SizeMarkerOffset(), static_cast<Word>(S.size()));
        return record;
    }

    TInternalIndexDefs Defs;
    TKeyFields KeyFields;

private:
    void AddField(const std::string& Name, TFieldType DataType, Integer Size)
    {
        TInternalFieldItem* field = FFields.Add();
        field->SetFieldName(Name);
        field->SetDataType(DataType);
        if (Size > 0)
            field->SetFieldSize(Size);
        field->SetFieldIndex(field->Index());
    }
    void Put(TRecord& Record, const std::string& Name, const Integer* Value, std::size_t Size) const
    {
        const TInternalFieldItem* field = FFields.FindField(Name);
        Record[field->NullFlagOffset()] = 1;
        std::memcpy(Record.data() + field->DataOffset(), Value, Size);
    }

    TInternalFields FFields;
};

// ------------------------------------------------------------- definitions

TEST(IndexDefTest, PublishesInStreamingOrderAndAssignsAllProperties)
{
    TInternalIndexDefs defs;
    TInternalIndexDef* def = defs.Add();
    EXPECT_EQ(PublishedNames(*def),
              (std::vector<std::string>{"IndexSequence", "IndexName", "Unique", "Primary", "Hidden", "Maintained",
                                        "Memory", "MaximumKeySize", "KeyDataOffset", "IndexPageSize",
                                        "IndexKeyType"}));
    TIndexManager manager;
    EXPECT_EQ(PublishedNames(*manager.Add()),
              (std::vector<std::string>{"IndexSequence", "IndexName", "Unique", "Primary", "Hidden", "Maintained",
                                        "Memory", "KeyFields", "MaximumKeySize", "KeyDataOffset",
                                        "IndexPageSize", "Root", "Depth"}));

    def->SetIndexSequence(3);
    def->SetIndexName("ByName");
    def->SetUnique(true);
    def->SetPrimary(true);
    def->SetHidden(true);
    def->SetMaintained(true);
    def->SetMemory(true);
    def->SetMaximumKeySize(57);
    def->SetKeyDataOffset(2);
    def->SetIndexPageSize(4096);
    def->SetIndexKeyType(ikMinStringLen);
    TInternalIndexDefs copy;
    copy.Assign(&defs);
    ASSERT_EQ(copy.Count(), 1);
    // The copy publishes the same values as the original.
    TPropertyList original;
    TPropertyList copied;
    def->PublishProperties(original);
    copy.GetItems(0)->PublishProperties(copied);
    for (int i = 0; i < original.Count(); ++i) {
        if (original[i].Kind == pkString)
            EXPECT_EQ(copied[i].GetString(), original[i].GetString()) << original[i].Name;
        else
            EXPECT_EQ(copied[i].GetOrdinal(), original[i].GetOrdinal()) << original[i].Name;
    }
    EXPECT_EQ(copy.FindIndexDef("BYNAME"), copy.GetItems(0));
    EXPECT_EQ(copy.FindIndexDef("Other"), nullptr);
}

// ---------------------------------------------------------------- storage

enum class TStore { Memory, Disk };

std::string StoreName(const ::testing::TestParamInfo<TStore>& Info)
{
    return Info.param == TStore::Memory ? "Memory" : "Disk";
}

// A table's index pages (usage 8) in memory or in a database file, and its
// table header with room for every index slot.
class TIndexStore {
public:
    explicit TIndexStore(TStore Kind) : Header(static_cast<TTableHeaderMgr*>(nullptr))
    {
        if (Kind == TStore::Disk) {
            FDatabase = std::make_unique<iotest::TDatabaseFixture>(PageSize);
            iotest::TDiskSetup setup;
            setup.BlockSize = PageSize;
            setup.Usage = IOUsageIndexPages;
            setup.TableID = IndexTableID;
            setup.GlobalOffset = TGlobalHdr::OfsIndexesFirstEmpty;
            IO = iotest::OpenDiskInterface(FDatabase->Disk(), setup);
        } else {
            auto memory = std::make_unique<TMemoryIOInterface>();
            memory->SetBlockSize(PageSize);
            memory->SetUsage(IOUsageIndexPages);
            memory->SetTableID(IndexTableID);
            memory->Open();
            IO = std::move(memory);
        }
        Header.SetHeaderSize(TableHeaderMaxSize);
    }

    // The index pages in use: in memory the interface's blocks, on disk the
    // pages the file's map gives the table's index pages.
    std::set<Cardinal> Pages() const
    {
        std::vector<Cardinal> list;
        if (FDatabase) {
            TDiskMgr* disk = FDatabase->Disk();
            disk->SetHeaderReadLock();
            disk->MapPageMgr()->ListPagesUsedByOwner(IndexTableID, IOUsageIndexPages, list, true);
            disk->ReleaseHeaderLock();
        } else {
            IO->ListBlocks(list);
        }
        return {list.begin(), list.end()};
    }
    // On disk: whether the file's map marks the page free.
    bool PageFree(Cardinal Address) const
    {
        return !FDatabase || (FDatabase->MapEntry(Address) & MapEntryFree) != 0;
    }

    std::unique_ptr<TBaseIOInterface> IO;
    TTableHeader Header;

private:
    std::unique_ptr<iotest::TDatabaseFixture> FDatabase;
};

// An index manager over a table with indexes "ByA" (A), "ByBA" (B, A) and
// "ByS" (S case-insensitive, then A).
class IndexManagerTest : public ::testing::TestWithParam<TStore> {
protected:
    IndexManagerTest() : Store(GetParam())
    {
        Table.AddIndex("ByA", {{"A"}});
        Table.AddIndex("ByBA", {{"B"}, {"A"}});
        Table.AddIndex("ByS", {{"S", true}, {"A"}});
        Store.Header.SetIndexCount(static_cast<Cardinal>(Table.Defs.Count()));
        Manager.SetIOInterface(Store.IO.get());
        Manager.SetTableHeader(&Store.Header);
        Manager.SetDBStringCompare(DBANSICompareStrings);
    }

    // The manager built from the definitions, its trees made and opened.
    void CreateAndOpen()
    {
        Manager.Assign(&Table.Defs);
        Manager.AssignKeyFields(&Table.KeyFields);
        Manager.CreateIndexes();
        Manager.Open();
    }

    // Inserts Count records (A = 0 .. Count - 1) into every index; the
    // record address of record A is 1000 + A.
    void Fill(Integer Count)
    {
        for (Integer a = 0; a < Count; ++a) {
            const TRecord record = Table.Record(a, a % 7, std::string(60, static_cast<char>('a' + a % 26)));
            for (int i = 0; i < Manager.Count(); ++i) {
                TIndexItem* index = Manager.GetItems(i);
                index->CreateKeyBuffer(record.data(), {});
                ASSERT_EQ(index->InsertKey(static_cast<Cardinal>(1000 + a)), 0) << index->IndexName() << " " << a;
            }
        }
        Manager.WriteIndexHeaders();
    }

    // The slots of the header: root and depth of slot 0 .. IndexCount - 1.
    std::vector<std::pair<Cardinal, Word>> Slots() const
    {
        std::vector<std::pair<Cardinal, Word>> slots;
        for (Integer i = 0; i < static_cast<Integer>(Store.Header.IndexCount()); ++i)
            slots.emplace_back(Store.Header.IndexRoot(i), Store.Header.IndexDepth(i));
        return slots;
    }
    // The record addresses of an index in key order.
    std::vector<Cardinal> Addresses(TIndexItem* Index)
    {
        std::vector<Cardinal> list;
        if (Index->GetRecordCount(true) == 0)
            return list;
        Index->SetRecordNo(1);
        do
            list.push_back(Index->GetRecordAddress());
        while (Index->NextKey());
        return list;
    }

    TIndexedTable Table;
    TIndexStore Store;
    TIndexManager Manager;
};

INSTANTIATE_TEST_SUITE_P(Stores, IndexManagerTest, ::testing::Values(TStore::Memory, TStore::Disk), StoreName);

TEST_P(IndexManagerTest, BuildsFromDefinitionsAndWritesEachIndexToItsSlot)
{
    Table.Defs.GetItems(2)->SetHidden(true);
    CreateAndOpen();
    ASSERT_EQ(Manager.Count(), 3);
    EXPECT_EQ(Manager.IndexCount(), 2);
    EXPECT_EQ(Store.Pages().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        TIndexItem* index = Manager.GetItems(i);
        SCOPED_TRACE(index->IndexName());
        EXPECT_TRUE(index->IsOpen());
        EXPECT_NE(index->Root(), 0u);
        EXPECT_EQ(index->Depth(), 1);
        EXPECT_EQ(Store.Header.IndexRoot(i), index->Root());
        EXPECT_EQ(Store.Header.IndexDepth(i), 1);
        EXPECT_EQ(index->KeyFields()->Count(), Table.KeyFields.FindFieldCountForIndex(index->IndexName()));
        EXPECT_EQ(index->Tree()->KeyFields()->DataOffset(), index->KeyDataOffset());
        EXPECT_EQ(index->GetTempKeyBuffer() != nullptr, true);
        EXPECT_EQ(index->GetRecordCount(false), 0);
    }

    Fill(300);
    // Each index orders the same records by its own keys, and sees them
    // again after the manager re-reads its slots.
    Manager.ReadIndexHeaders(true);
    TIndexItem* byBA = Manager.FindIndex("byba");
    ASSERT_NE(byBA, nullptr);
    EXPECT_EQ(byBA->GetRecordCount(true), 300);
    EXPECT_GT(byBA->Depth(), 1);
    const std::vector<Cardinal> order = Addresses(byBA);
    ASSERT_EQ(order.size(), 300u);
    EXPECT_EQ(order[0], 1000u);  // B 0, A 0
    EXPECT_EQ(order[1], 1007u);  // B 0, A 7
    EXPECT_EQ(byBA->SetRecordNo(44), order[43]);
    EXPECT_EQ(byBA->GetRecordNo(), 44);
    EXPECT_TRUE(byBA->MoveBy(-3));
    EXPECT_EQ(byBA->GetRecordAddress(), order[40]);
    EXPECT_TRUE(byBA->MoveBy(5));
    EXPECT_EQ(byBA->GetRecordAddress(), order[45]);
    EXPECT_FALSE(byBA->MoveBy(1000));

    // B = 3 before every A lands on the first key of B = 3; a search
    // limited to B lands on some key of B = 3.
    byBA->CreateKeyBuffer(Table.Record(0, 3, "").data(), {kcfNormal, kcfBeforeAll});
    EXPECT_EQ(byBA->FullIndexSearch(stGE), 0);
    EXPECT_EQ(byBA->GetRecordAddress(), 1003u);
    byBA->CreateKeyBuffer(Table.Record(1, 3, "").data(), {});
    TSearchModifier modifier;
    modifier.SetLimitedSearch(true);
    modifier.SetIncludedKeyFieldCount(1);
    EXPECT_NE(byBA->FullIndexSearch(stEQ), 0);
    EXPECT_EQ(byBA->PartialIndexSearch(stEQ, &modifier), 0);
    EXPECT_EQ((byBA->GetRecordAddress() - 1000) % 7, 3u);
    byBA->CreateKeyBuffer(Table.Record(10, 3, "").data(), {});
    EXPECT_EQ(byBA->FullIndexSearch(stEQ), 0);
    EXPECT_EQ(byBA->GetRecordAddress(), 1010u);
    EXPECT_EQ(byBA->CompareKeyToCurrentKey({}, byBA->Tree()->KeyBuf()), 0);

    Manager.SetCurrentIndexName("BYS");
    EXPECT_EQ(Manager.CurrentIndex(), Manager.GetItems(2));
    Manager.SetCurrentIndexName("Missing");
    EXPECT_IO_ERROR(9997, "Missing", Manager.CurrentIndex());

    // A copy of the manager carries key fields, roots and depths.
    TIndexManager copy;
    copy.Assign(&Manager);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy.GetItems(1)->Root(), byBA->Root());
    EXPECT_EQ(copy.GetItems(1)->Depth(), byBA->Depth());
    EXPECT_EQ(copy.GetItems(1)->KeyFields()->Count(), 2);
    EXPECT_TRUE(copy.GetItems(2)->Hidden());

    Manager.Close();
    EXPECT_EQ(Manager.Count(), 0);
    EXPECT_EQ(Manager.IndexCount(), 0);
    EXPECT_EQ(Manager.IOInterface(), nullptr);
}

TEST_P(IndexManagerTest, ChoosesTheFirstIndexWhoseLeadingKeyFieldsAreTheFields)
{
    Table.AddIndex("ByAB", {{"A"}, {"B"}});
    Store.Header.SetIndexCount(4);
    Manager.Assign(&Table.Defs);
    Manager.AssignKeyFields(&Table.KeyFields);
    auto find = [&](const std::string& Names, bool CaseSensitiveOnly) -> std::string {
        TStringList names;
        ConvertFieldNamesToList(Names, &names);
        const TIndexItem* index = Manager.FindIndexForFields(&names, CaseSensitiveOnly);
        return index != nullptr ? index->IndexName() : "none";
    };
    EXPECT_EQ(find("B", false), "ByBA");
    EXPECT_EQ(find("a", false), "ByA");
    EXPECT_EQ(find("A;B", false), "ByAB");
    EXPECT_EQ(find("B;A", false), "ByBA");
    EXPECT_EQ(find("A;B;S", false), "none");
    EXPECT_EQ(find("S", false), "ByS");
    // Only ByS leads with S, and its S is case-insensitive.
    EXPECT_EQ(find("S", true), "none");
    EXPECT_EQ(find("B", true), "ByBA");

    // Indexes keyed (B, A) and (A, B) only: A finds the second.
    Table.Defs.Delete(0);
    Table.Defs.Delete(1);
    TKeyFields keys;
    for (int i = 0; i < Table.KeyFields.Count(); ++i) {
        const std::string& name = Table.KeyFields.GetItems(i)->IndexName();
        if (name == "ByBA" || name == "ByAB")
            keys.Add()->Assign(Table.KeyFields.GetItems(i));
    }
    Manager.Assign(&Table.Defs);
    Manager.AssignKeyFields(&keys);
    EXPECT_EQ(find("A", false), "ByAB");
}

TEST_P(IndexManagerTest, RefusesKeyFieldsThatFitNoIndex)
{
    Manager.Assign(&Table.Defs);
    TKeyFields keys;
    keys.Assign(&Table.KeyFields);
    keys.GetItems(0)->SetIndexName("Nowhere");
    EXPECT_IO_ERROR(9997, "Nowhere", Manager.AssignKeyFields(&keys));

    // ByA left without key fields.
    keys.Delete(0);
    EXPECT_IO_ERROR(8581, "KeyBuffers invalid", Manager.AssignKeyFields(&keys));

    // A string key field without its size marker.
    keys.Assign(&Table.KeyFields);
    for (int i = 0; i < keys.Count(); ++i)
        if (keys.GetItems(i)->DataType() == ftString)
            keys.GetItems(i)->SetSizeMarkerOffset(0);
    EXPECT_IO_ERROR(8581, "KeyBuffers invalid", Manager.AssignKeyFields(&keys));

    Manager.AssignKeyFields(&Table.KeyFields);
    EXPECT_EQ(Manager.GetItems(2)->KeyFields()->Count(), 2);
}

TEST_P(IndexManagerTest, RefusesToOpenWithoutItsSetUp)
{
    Manager.Assign(&Table.Defs);
    Manager.AssignKeyFields(&Table.KeyFields);
    Manager.SetDBStringCompare(nullptr);
    EXPECT_IO_ERROR(8581, "Sort function not assinged", Manager.Open());
    Manager.SetDBStringCompare(DBASCIICompareStrings);

    Manager.SetIOInterface(nullptr);
    EXPECT_IO_ERROR(8581, "IO Interface is unassigned", Manager.GetItems(0)->Open());
    Manager.SetIOInterface(Store.IO.get());
    Manager.GetItems(0)->SetIndexPageSize(0);
    EXPECT_IO_ERROR(8581, "Not initialized", Manager.GetItems(0)->Open());
    Manager.GetItems(0)->SetIndexPageSize(PageSize);
    Manager.GetItems(0)->SetMaximumKeySize(0);
    EXPECT_IO_ERROR(8581, "Not initialized", Manager.GetItems(0)->Open());

    Manager.SetTableHeader(nullptr);
    try {
        Manager.ReadIndexHeaders(false);
        ADD_FAILURE() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.Message()).find("IndexManager table header = nil"), std::string::npos);
    }
}

TEST_P(IndexManagerTest, AddsAClosedOnePageIndexInTheNextSlot)
{
    CreateAndOpen();
    Fill(10);
    const auto before = Slots();
    const auto pagesBefore = Store.Pages();

    EXPECT_IO_ERROR(10027, "aInternalIndexDef.IndexName", Manager.AddIndex(Table.Defs.GetItems(1), &Table.KeyFields));

    TInternalIndexDef* def = Table.AddIndex("ByAB", {{"A"}, {"B"}});
    ASSERT_EQ(def->IndexSequence(), 3);
    Manager.AddIndex(def, &Table.KeyFields);
    TIndexItem* index = Manager.FindIndex("ByAB");
    ASSERT_NE(index, nullptr);
    EXPECT_FALSE(index->IsOpen());
    EXPECT_EQ(Manager.IndexCount(), 4);
    EXPECT_EQ(index->KeyFields()->Count(), 2);
    EXPECT_EQ(index->Depth(), 1);
    // The header grew to the new slot, which holds the new root; the other
    // slots are as they were.
    ASSERT_EQ(Store.Header.IndexCount(), 4u);
    EXPECT_EQ(Store.Header.IndexRoot(3), index->Root());
    EXPECT_EQ(Store.Header.IndexDepth(3), 1);
    const auto after = Slots();
    EXPECT_EQ(std::vector(after.begin(), after.begin() + 3), before);
    // One new page: an empty leaf.
    const auto pages = Store.Pages();
    EXPECT_EQ(pages.size(), pagesBefore.size() + 1);
    EXPECT_EQ(pages.count(index->Root()), 1u);
    std::vector<Byte> page(PageSize);
    Store.IO->ReadBlock(index->Root(), PageSize, page.data());
    EXPECT_EQ(ReadLE32(page.data() + nhoLeaf), 1u);
    EXPECT_EQ(ReadLE32(page.data() + nhoSize), 0u);

    // Opened, it takes keys.
    index->Open();
    index->CreateKeyBuffer(Table.Record(1, 2, "k").data(), {});
    EXPECT_EQ(index->InsertKey(5), 0);
    EXPECT_EQ(index->GetRecordCount(true), 1);
}

TEST_P(IndexManagerTest, RefusesAnAddThatFitsNoSlotOrHasNoKeyFields)
{
    CreateAndOpen();
    const auto pages = Store.Pages();
    const auto slots = Slots();
    TInternalIndexDefs extra;
    TInternalIndexDef* def = extra.Add();
    def->Assign(Table.Defs.GetItems(0));
    def->SetIndexName("Beyond");
    def->SetIndexSequence(34);
    EXPECT_IO_ERROR(8581, "The offset value is out of range", Manager.AddIndex(def, &Table.KeyFields));
    def->SetIndexSequence(3);
    EXPECT_IO_ERROR(8581, "KeyBuffers invalid", Manager.AddIndex(def, &Table.KeyFields));
    // Nothing changed.
    EXPECT_EQ(Manager.Count(), 3);
    EXPECT_EQ(Store.Pages(), pages);
    EXPECT_EQ(Slots(), slots);
}

TEST_P(IndexManagerTest, DroppingTheFirstIndexClosesUpTheSlotsAndGivesItsPagesBack)
{
    CreateAndOpen();
    Fill(400);
    TIndexItem* byA = Manager.FindIndex("ByA");
    TIndexItem* byBA = Manager.FindIndex("ByBA");
    TIndexItem* byS = Manager.FindIndex("ByS");
    const std::vector<Cardinal> orderBA = Addresses(byBA);
    const std::vector<Cardinal> orderS = Addresses(byS);
    ASSERT_GT(byA->Depth(), 1);
    const auto pagesBefore = Store.Pages();

    // The pages of ByA: every page of the file's index pages that the other
    // two trees do not use shows up as given back afterwards.
    EXPECT_IO_ERROR(9997, "NoSuchIndex", Manager.DropIndex("NoSuchIndex"));
    Manager.DropIndex("bya");
    ASSERT_EQ(Manager.Count(), 2);
    EXPECT_EQ(Manager.IndexCount(), 2);
    EXPECT_EQ(Manager.FindIndex("ByA"), nullptr);

    // The two remaining indexes take slots 0 and 1; slot 2 is cleared and
    // the header counts two slots.
    EXPECT_EQ(byBA->IndexSequence(), 0);
    EXPECT_EQ(byS->IndexSequence(), 1);
    ASSERT_EQ(Store.Header.IndexCount(), 2u);
    EXPECT_EQ(Store.Header.IndexRoot(0), byBA->Root());
    EXPECT_EQ(Store.Header.IndexDepth(0), byBA->Depth());
    EXPECT_EQ(Store.Header.IndexRoot(1), byS->Root());
    EXPECT_EQ(Store.Header.IndexDepth(1), byS->Depth());
    Store.Header.SetIndexCount(3);
    EXPECT_EQ(Store.Header.IndexRoot(2), 0u);
    EXPECT_EQ(Store.Header.IndexDepth(2), 0);
    Store.Header.SetIndexCount(2);

    // The remaining indexes read their trees from their new slots.
    Manager.ReadIndexHeaders(true);
    EXPECT_EQ(Addresses(byBA), orderBA);
    EXPECT_EQ(Addresses(byS), orderS);

    // Every page ByA had is free in the file.
    const auto pagesAfter = Store.Pages();
    EXPECT_LT(pagesAfter.size(), pagesBefore.size());
    for (Cardinal page : pagesBefore)
        if (pagesAfter.count(page) == 0) {
            EXPECT_TRUE(Store.PageFree(page)) << page;
        }
    for (Cardinal page : pagesAfter)
        EXPECT_TRUE(pagesBefore.count(page) == 1) << page;

    // Dropping what is left: the header counts no slot.
    Manager.DropIndex("ByS");
    Manager.DropIndex("ByBA");
    EXPECT_EQ(Manager.Count(), 0);
    EXPECT_EQ(Store.Header.IndexCount(), 0u);
    EXPECT_TRUE(Store.Pages().empty());
    for (Cardinal page : pagesBefore)
        EXPECT_TRUE(Store.PageFree(page)) << page;
}

TEST_P(IndexManagerTest, DroppingAnEmptyIndexGivesItsRootPageBack)
{
    CreateAndOpen();
    const Cardinal root = Manager.FindIndex("ByS")->Root();
    Manager.DropIndex("ByS");
    EXPECT_EQ(Store.Pages().count(root), 0u);
    EXPECT_TRUE(Store.PageFree(root));
    EXPECT_EQ(Store.Pages().size(), 2u);
    EXPECT_EQ(Store.Header.IndexCount(), 2u);
}

TEST_P(IndexManagerTest, EmptyingAnIndexLeavesOneEmptyPageAndTheOthersAsTheyWere)
{
    CreateAndOpen();
    Fill(400);
    TIndexItem* byS = Manager.FindIndex("ByS");
    TIndexItem* byA = Manager.FindIndex("ByA");
    ASSERT_GT(byS->Depth(), 1);
    const std::vector<Cardinal> orderA = Addresses(byA);
    const auto pagesBefore = Store.Pages();
    const Cardinal rootA = byA->Root();

    EXPECT_IO_ERROR(9997, "Nope", Manager.EmptyIndex("Nope"));
    Manager.EmptyIndex("BYS");
    EXPECT_TRUE(byS->IsOpen());
    EXPECT_EQ(byS->Depth(), 1);
    EXPECT_EQ(byS->GetRecordCount(true), 0);
    EXPECT_EQ(Store.Header.IndexRoot(2), byS->Root());
    EXPECT_EQ(Store.Header.IndexDepth(2), 1);
    EXPECT_EQ(Store.Header.IndexRoot(0), rootA);
    EXPECT_EQ(Addresses(byA), orderA);

    // ByS keeps one page; the rest of its pages are free in the file.
    const auto pagesAfter = Store.Pages();
    std::size_t freed = 0;
    for (Cardinal page : pagesBefore)
        if (pagesAfter.count(page) == 0) {
            ++freed;
            EXPECT_TRUE(Store.PageFree(page)) << page;
        }
    EXPECT_GE(freed, 2u);
    for (Cardinal page : pagesAfter)
        if (pagesBefore.count(page) == 0) {
            EXPECT_EQ(page, byS->Root());
        }

    // The emptied index takes keys again.
    byS->CreateKeyBuffer(Table.Record(5, 0, "x").data(), {});
    EXPECT_EQ(byS->InsertKey(77), 0);
    EXPECT_EQ(byS->GetRecordCount(true), 1);
}

} // namespace
} // namespace orvex
