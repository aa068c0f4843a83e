// Table headers and table maps, on a memory interface and in a database file.

#include "storage/vekByteOrder.h"
#include "storage/vekDataUnit.h"
#include "storage/vekInterfaceUnit.h"

#include "vekDiskTestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace {

using disktest::CreateDatabase;
using disktest::OpenDatabase;
using disktest::TTempDir;

constexpr const char* SOffsetOutOfRange = "Table header: The offset value is out of range";

// What a table-header interface was asked to do.
struct TIOCounters {
    int Allocations = 0;
    int Releases = 0;
    int Writes = 0;
    std::vector<Integer> Notified;

    void Reset() { *this = TIOCounters(); }
};

template <class Base>
class TCountingIO : public Base, public TIOCounters {
public:
    Cardinal AllocateNewAddress(Integer Size, const void* Buffer) override
    {
        ++Allocations;
        return Base::AllocateNewAddress(Size, Buffer);
    }
    void ReleaseBlock(Cardinal Address, Integer Size) override
    {
        ++Releases;
        Base::ReleaseBlock(Address, Size);
    }
    void WriteBlock(Cardinal Address, Integer Size, const void* Buffer) override
    {
        ++Writes;
        Base::WriteBlock(Address, Size, Buffer);
    }
    void NotifyPageChange(Integer TableID) override
    {
        Notified.push_back(TableID);
        Base::NotifyPageChange(TableID);
    }
};

enum class TStoreKind { Memory, Disk };

// One connection's table-header interface.
struct TConnection {
    std::unique_ptr<TDiskMgr> Disk; // none for memory
    std::unique_ptr<TBaseIOInterface> IO;
    TIOCounters* Counters = nullptr;
};

// The storage of one table map: an 8192-byte block in a memory interface, or
// the user-table map at three pages into a database file, reached through a
// header interface as a connection sets it up (256-byte blocks, usage 1,
// free chain in the global header at 28).
class TTableStore {
public:
    explicit TTableStore(TStoreKind Kind) : FKind(Kind)
    {
        if (Kind == TStoreKind::Disk) {
            FPath = FDir.File("tables.vek");
            CreateDatabase(FPath);
            FMapAddress = 3 * DefaultPageSize;
        }
        FFirst = Connect();
        if (Kind == TStoreKind::Memory)
            FMapAddress = FFirst.IO->AllocateNewAddress(TableMapSize, nullptr);
    }

    TStoreKind Kind() const { return FKind; }
    TBaseIOInterface* IO() const { return FFirst.IO.get(); }
    TIOCounters& Counters() const { return *FFirst.Counters; }
    Cardinal MapAddress() const { return FMapAddress; }

    // Another connection to the same tables: its own file handle and
    // interface on disk; in memory the one interface, as all connections of
    // an in-memory database share it.
    TBaseIOInterface* SecondIO()
    {
        if (FKind == TStoreKind::Memory)
            return IO();
        if (!FSecond.IO)
            FSecond = Connect();
        return FSecond.IO.get();
    }

    std::unique_ptr<TTableHeaderMgr> NewMgr(Integer BaseTableID = 1, TBaseIOInterface* On = nullptr)
    {
        auto mgr = std::make_unique<TTableHeaderMgr>();
        mgr->SetBaseAddress(FMapAddress);
        mgr->SetBaseTableID(BaseTableID);
        mgr->Open(On ? On : IO());
        return mgr;
    }

    std::vector<Byte> Raw(Cardinal Address, Integer Size) const
    {
        std::vector<Byte> bytes(static_cast<std::size_t>(Size));
        IO()->ReadBlock(Address, Size, bytes.data());
        return bytes;
    }
    void PutRaw(Cardinal Address, const std::vector<Byte>& Bytes) const
    {
        IO()->WriteBlock(Address, static_cast<Integer>(Bytes.size()), Bytes.data());
    }
    std::vector<Byte> RawMap() const { return Raw(FMapAddress, TableMapSize); }
    std::vector<Byte> RawHeader(Cardinal Address) const { return Raw(Address, TableHeaderMaxSize); }

private:
    TConnection Connect()
    {
        TConnection c;
        if (FKind == TStoreKind::Memory) {
            auto io = std::make_unique<TCountingIO<TMemoryIOInterface>>();
            c.Counters = io.get();
            c.IO = std::move(io);
        } else {
            c.Disk = OpenDatabase(FPath);
            auto io = std::make_unique<TCountingIO<TDiskIOInterface>>();
            io->SetDiskMgr(c.Disk.get());
            io->SetBlockSize(256);
            io->SetTableID(0);
            io->SetAccessFlags(0);
            io->SetUsage(1);
            io->SetIOMode(iomDiskFixedSize);
            io->SetGlobalFirstEmptyOffset(TGlobalHdr::OfsTableHeadersFirstEmpty);
            io->SetFirstEmptyValid(false);
            c.Counters = io.get();
            c.IO = std::move(io);
        }
        c.IO->Open();
        return c;
    }

    TStoreKind FKind;
    TTempDir FDir;
    std::string FPath;
    Cardinal FMapAddress = 0;
    TConnection FFirst;
    TConnection FSecond;
};

Cardinal DWordAt(const std::vector<Byte>& Bytes, Integer Offset)
{
    return ReadLE32(Bytes.data() + Offset);
}

// The map's used entries as {TableID, position} up to the first empty one.
std::vector<Integer> MapIDs(const TTableHeaderMgr& Mgr)
{
    std::vector<Integer> ids;
    for (Integer i = 0; i < TableMapEntryCount && Mgr.MapTableID(i) != 0; ++i)
        ids.push_back(Mgr.MapTableID(i));
    return ids;
}

class TableHeaderTest : public ::testing::TestWithParam<TStoreKind> {
protected:
    TableHeaderTest() : Store(GetParam()) {}

    TTableStore Store;
};

INSTANTIATE_TEST_SUITE_P(Stores, TableHeaderTest, ::testing::Values(TStoreKind::Memory, TStoreKind::Disk),
                         [](const ::testing::TestParamInfo<TStoreKind>& Info) {
                             return Info.param == TStoreKind::Memory ? std::string("Memory")
                                                                     : std::string("Disk");
                         });

// ------------------------------------------------------------ the table map

TEST_P(TableHeaderTest, AddTableNumbersFromTheBaseAndReusesTheLowestFreeID)
{
    for (Integer base : {1, 1024}) {
        SCOPED_TRACE(base);
        TTableStore store(GetParam());
        auto mgr = store.NewMgr(base);

        EXPECT_EQ(base, mgr->AddTable(1));
        EXPECT_EQ(base + 1, mgr->AddTable(1));
        mgr->DeleteTable(base);
        // Compaction moved the second table to the front.
        EXPECT_EQ((std::vector<Integer>{base + 1}), MapIDs(*mgr));

        EXPECT_EQ(base, mgr->AddTable(1));
        EXPECT_EQ((std::vector<Integer>{base + 1, base}), MapIDs(*mgr));

        // The map as stored says the same, entry by entry.
        const auto raw = store.RawMap();
        EXPECT_EQ(Cardinal(base + 1), DWordAt(raw, 0));
        EXPECT_EQ(mgr->MapHeaderAddress(0), DWordAt(raw, 4));
        EXPECT_EQ(Cardinal(base), DWordAt(raw, 8));
        EXPECT_EQ(mgr->MapHeaderAddress(1), DWordAt(raw, 12));
        EXPECT_EQ(0u, DWordAt(raw, 16));
    }
}

TEST_P(TableHeaderTest, DeleteClosesTheGapAndReleasesTheHeader)
{
    auto mgr = Store.NewMgr();
    for (int i = 0; i < 4; ++i) {
        mgr->AddTable(0);
    }
    const Cardinal third = mgr->MapHeaderAddress(2);
    const Cardinal fourth = mgr->MapHeaderAddress(3);

    Store.Counters().Reset();
    mgr->DeleteTable(2);
    EXPECT_EQ(1, Store.Counters().Releases);
    EXPECT_EQ((std::vector<Integer>{1, 3, 4}), MapIDs(*mgr));
    EXPECT_EQ(third, mgr->MapHeaderAddress(1));
    EXPECT_EQ(fourth, mgr->MapHeaderAddress(2));
    EXPECT_EQ(0, mgr->MapTableID(3));
    EXPECT_EQ(0u, mgr->MapHeaderAddress(3));

    // The last entry goes too, and the map can be emptied.
    mgr->DeleteTable(4);
    mgr->DeleteTable(1);
    mgr->DeleteTable(3);
    EXPECT_TRUE(MapIDs(*mgr).empty());
    EXPECT_EQ(std::vector<Byte>(TableMapSize, 0), Store.RawMap());
    if (Store.Kind() == TStoreKind::Memory) {
        EXPECT_FALSE(Store.IO()->CheckBlockAddressValid(third));
    }
}

// On disk the header blocks form a free chain (memory blocks get fresh
// addresses instead).
TEST(TableHeaderDiskTest, AReleasedHeaderBlockServesTheNextTable)
{
    TTableStore store(TStoreKind::Disk);
    auto mgr = store.NewMgr();
    mgr->AddTable(1);
    mgr->AddTable(1);
    const Cardinal first = mgr->MapHeaderAddress(0);
    mgr->DeleteTable(1);
    EXPECT_EQ(1, mgr->AddTable(1));
    EXPECT_EQ(first, mgr->MapHeaderAddress(1));
}

TEST_P(TableHeaderTest, AThousandTablesFillTheMap)
{
    auto mgr = Store.NewMgr();
    for (Integer i = 1; i <= TableMapEntryCount; ++i) {
        ASSERT_EQ(i, mgr->AddTable(0));
    }

    const auto mapBefore = Store.RawMap();
    Store.Counters().Reset();
    EXPECT_VEK_ERROR(9601, mgr->AddTable(0));
    EXPECT_EQ(0, Store.Counters().Allocations);
    EXPECT_EQ(0, Store.Counters().Writes);
    EXPECT_EQ(mapBefore, Store.RawMap());

    // Dropping the first table at a full map moves all 999 others down and
    // clears the last entry; its ID comes back in that last entry.
    mgr->DeleteTable(1);
    EXPECT_EQ(TableMapEntryCount, mgr->MapTableID(TableMapEntryCount - 2));
    EXPECT_EQ(0, mgr->MapTableID(TableMapEntryCount - 1));
    EXPECT_EQ(1, mgr->AddTable(0));
    EXPECT_EQ(1, mgr->MapTableID(TableMapEntryCount - 1));
    EXPECT_VEK_ERROR(9601, mgr->AddTable(0));
}

TEST_P(TableHeaderTest, AnotherConnectionSeesTablesAddedAndDropped)
{
    auto mine = Store.NewMgr();
    auto theirs = Store.NewMgr(1, Store.SecondIO());

    const Integer a = mine->AddTable(2);
    const Integer b = theirs->AddTable(2); // reads the map again first
    EXPECT_EQ(a + 1, b);

    TTableHeader* header = mine->OpenTable(b);
    EXPECT_EQ(2u, header->IndexCount());
    mine->CloseTable(header);

    theirs->DeleteTable(a);
    EXPECT_VEK_ERROR(8581, mine->OpenTable(a));
    EXPECT_EQ(a, mine->AddTable(0));
}

TEST_P(TableHeaderTest, MapErrors)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(1);

    EXPECT_VEK_ERROR_TEXT(8579, "Delete table", mgr->DeleteTable(id + 1));
    EXPECT_VEK_ERROR_TEXT(8581, "The TableID could not be found: 77", mgr->OpenTable(77));
    EXPECT_VEK_ERROR_TEXT(8581, "The requested object has not been assigned", mgr->CloseTable(nullptr));

    TTableHeaderMgr unplaced;
    EXPECT_VEK_ERROR_TEXT(8581, "Base address of table header mapper has not been set", unplaced.Open(Store.IO()));
    EXPECT_THROW(unplaced.AddTable(1), EAssertionFailed);

    // A table whose header is open here is not dropped under its users.
    TTableHeader* header = mgr->OpenTable(id);
    EXPECT_VEK_ERROR(8578, mgr->DeleteTable(id));
    EXPECT_EQ((std::vector<Integer>{id}), MapIDs(*mgr));
    mgr->CloseTable(header);
    mgr->DeleteTable(id);
}

TEST_P(TableHeaderTest, ThirtyFourIndexSlotsFitAndThirtyFiveDoNot)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(34);
    TTableHeader* header = mgr->OpenTable(id);
    header->SetIndexRoot(33, 0xA1B2C3D4u);
    header->SetIndexDepth(33, 0xBEEF);
    header->SetIndexRoot(0, 77);
    const Cardinal address = header->BaseAddress();
    mgr->CloseTable(header);

    const auto raw = Store.RawHeader(address);
    EXPECT_EQ(34u, DWordAt(raw, thoIndexCount));
    EXPECT_EQ(77u, DWordAt(raw, 48));
    EXPECT_EQ(0xA1B2C3D4u, DWordAt(raw, 246));
    EXPECT_EQ(0xBEEF, ReadLE16(raw.data() + 250));
    EXPECT_EQ(0u, DWordAt(raw, 252));

    const auto mapBefore = Store.RawMap();
    Store.Counters().Reset();
    try {
        mgr->AddTable(35);
        ADD_FAILURE() << "35 index slots were accepted";
    } catch (const EVekDatabaseError&) {
        ADD_FAILURE() << "an engine error in place of the size check";
    } catch (const Exception& e) {
        EXPECT_EQ("Debug check -  header size <> 256", e.Message());
    }
    EXPECT_EQ(0, Store.Counters().Allocations);
    EXPECT_EQ(mapBefore, Store.RawMap());
}

// ---------------------------------------------------------------- headers

TEST_P(TableHeaderTest, EveryFieldLandsAtItsOffset)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(3);

    // A fresh header: its ID, size and slot count, written once.
    TTableHeader* header = mgr->OpenTable(id);
    const Cardinal address = header->BaseAddress();
    auto raw = Store.RawHeader(address);
    EXPECT_EQ(Cardinal(id), DWordAt(raw, 0));
    EXPECT_EQ(1u, DWordAt(raw, 4));
    EXPECT_EQ(256u, DWordAt(raw, 8));
    EXPECT_EQ(3u, DWordAt(raw, 36));
    for (Integer offset = 12; offset < 256; offset += 4) {
        if (offset != 36) {
            EXPECT_EQ(0u, DWordAt(raw, offset)) << offset;
        }
    }

    struct TCase {
        Integer Offset;
        std::function<void(TTableHeader&, Cardinal)> Set;
        std::function<Cardinal(const TTableHeader&)> Get;
    };
    const std::vector<TCase> cases = {
        {12, &TTableHeader::SetRecordFirstEmpty, &TTableHeader::RecordFirstEmpty},
        {16, &TTableHeader::SetRecordAutoIncVal, &TTableHeader::RecordAutoIncVal},
        {20, &TTableHeader::SetLogicalRecordNo, &TTableHeader::LogicalRecordNo},
        {24, &TTableHeader::SetBlobFirstEmpty, &TTableHeader::BlobFirstEmpty},
        {28, &TTableHeader::SetGenerator1, &TTableHeader::Generator1},
        {32, &TTableHeader::SetGenerator2, &TTableHeader::Generator2},
        {40, &TTableHeader::SetInternalGenerator, &TTableHeader::InternalGenerator},
        {48, [](TTableHeader& h, Cardinal v) { h.SetIndexRoot(0, v); },
         [](const TTableHeader& h) { return h.IndexRoot(0); }},
        {60, [](TTableHeader& h, Cardinal v) { h.SetIndexRoot(2, v); },
         [](const TTableHeader& h) { return h.IndexRoot(2); }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Cardinal value = 0x01020304u * static_cast<Cardinal>(i + 1);
        cases[i].Set(*header, value);
        EXPECT_EQ(value, cases[i].Get(*header)) << cases[i].Offset;
    }
    header->SetIndexDepth(1, 0x0A0B);
    mgr->CloseTable(header);

    raw = Store.RawHeader(address);
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(0x01020304u * static_cast<Cardinal>(i + 1), DWordAt(raw, cases[i].Offset))
            << cases[i].Offset;
    EXPECT_EQ(0x0A0B, ReadLE16(raw.data() + 58));
    EXPECT_EQ(2u, DWordAt(raw, 4));
    EXPECT_EQ(0u, DWordAt(raw, 44));

    // Read back through a new open.
    header = mgr->OpenTable(id);
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(0x01020304u * static_cast<Cardinal>(i + 1), cases[i].Get(*header));
    EXPECT_EQ(0x0A0B, header->IndexDepth(1));
    EXPECT_EQ(256, header->GetHeaderSize());
    mgr->CloseTable(header);
}

TEST_P(TableHeaderTest, IndexSlotsOutsideTheCountAreRefused)
{
    auto mgr = Store.NewMgr();
    TTableHeader* none = mgr->OpenTable(mgr->AddTable(0));
    TTableHeader* two = mgr->OpenTable(mgr->AddTable(2));

    EXPECT_VEK_ERROR_TEXT(8581, SOffsetOutOfRange, none->IndexRoot(0));
    EXPECT_VEK_ERROR_TEXT(8581, SOffsetOutOfRange, two->IndexRoot(2));
    EXPECT_VEK_ERROR_TEXT(8581, SOffsetOutOfRange, two->IndexDepth(-1));
    EXPECT_VEK_ERROR_TEXT(8581, SOffsetOutOfRange, two->SetIndexRoot(2, 1));
    EXPECT_VEK_ERROR_TEXT(8581, SOffsetOutOfRange, two->SetIndexDepth(5, 1));
    EXPECT_FALSE(two->Dirty());

    // A count beyond what the header holds reaches no byte past it.
    two->SetIndexCount(40);
    EXPECT_NO_THROW(two->SetIndexRoot(33, 5));
    EXPECT_VEK_ERROR_TEXT(8581, SOffsetOutOfRange, two->IndexRoot(34));
    two->SetIndexCount(2);

    mgr->CloseTable(two);
    mgr->CloseTable(none);
}

TEST_P(TableHeaderTest, UserCountsShareOneHeader)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(1);

    TTableHeader* first = mgr->OpenTable(id);
    TTableHeader* second = mgr->OpenTable(id);
    EXPECT_EQ(first, second);
    EXPECT_EQ(2, first->UserCount());
    EXPECT_EQ(1, mgr->Count());
    EXPECT_EQ(first, mgr->FindHdrItemByID(id));

    first->SetGenerator1(9);
    Store.Counters().Reset();
    mgr->CloseTable(first);
    EXPECT_EQ(0, Store.Counters().Writes);
    EXPECT_EQ(second, mgr->FindHdrItemByID(id));
    EXPECT_EQ(1, second->UserCount());

    mgr->CloseTable(second);
    EXPECT_EQ(1, Store.Counters().Writes);
    EXPECT_EQ(nullptr, mgr->FindHdrItemByID(id));
    EXPECT_EQ(0, mgr->Count());

    TTableHeader* again = mgr->OpenTable(id);
    EXPECT_EQ(9u, again->Generator1());
    EXPECT_EQ(1, again->UserCount());
    mgr->CloseTable(again);
}

TEST_P(TableHeaderTest, OnlyChangedValuesMakeTheHeaderDirty)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(1);
    TTableHeader* header = mgr->OpenTable(id);
    EXPECT_FALSE(header->Dirty());

    header->SetTableID(static_cast<Cardinal>(id));
    header->SetIndexCount(1);
    header->SetGenerator2(0);
    header->SetIndexRoot(0, 0);
    header->SetIndexDepth(0, 0);
    EXPECT_FALSE(header->Dirty());
    Store.Counters().Reset();
    mgr->CloseTable(header);
    EXPECT_EQ(0, Store.Counters().Writes);

    header = mgr->OpenTable(id);
    header->SetIndexDepth(0, 1);
    EXPECT_TRUE(header->Dirty());
    header->WriteHeader();
    EXPECT_FALSE(header->Dirty());
    header->SetIndexDepth(0, 1);
    EXPECT_FALSE(header->Dirty());
    Store.Counters().Reset();
    mgr->CloseTable(header);
    EXPECT_EQ(0, Store.Counters().Writes);
}

TEST_P(TableHeaderTest, EveryWriteRaisesTheModifiedFlagByOne)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(0);
    TTableHeader* header = mgr->OpenTable(id);
    EXPECT_EQ(1u, header->ModifiedFlag());
    for (Cardinal expected = 2; expected <= 4; ++expected) {
        header->WriteHeader();
        EXPECT_EQ(expected, header->ModifiedFlag());
        EXPECT_EQ(expected, DWordAt(Store.RawHeader(header->BaseAddress()), thoModifiedFlag));
    }
    // The counter wraps rather than stopping.
    header->SetModifiedFlag(0xFFFFFFFFu);
    header->WriteHeader();
    EXPECT_EQ(0u, header->ModifiedFlag());
    mgr->CloseTable(header);
}

TEST_P(TableHeaderTest, ReadingAChangedHeaderDropsTheTablesCachedPages)
{
    auto mine = Store.NewMgr();
    const Integer id = mine->AddTable(0);

    // The first read always counts as a change.
    Store.Counters().Reset();
    TTableHeader* header = mine->OpenTable(id);
    EXPECT_EQ(std::vector<Integer>{id}, Store.Counters().Notified);

    Store.Counters().Reset();
    header->ReadHeader();
    header->WriteHeader(); // our own write: the flag we hold moves with it
    header->ReadHeader();
    EXPECT_TRUE(Store.Counters().Notified.empty());

    // Another connection's write moves the stored flag.
    auto theirs = Store.NewMgr(1, Store.SecondIO());
    TTableHeader* other = theirs->OpenTable(id);
    other->SetLogicalRecordNo(41);
    theirs->CloseTable(other);

    Store.Counters().Reset();
    header->ReadHeader();
    EXPECT_EQ(std::vector<Integer>{id}, Store.Counters().Notified);
    EXPECT_EQ(41u, header->LogicalRecordNo());
    EXPECT_FALSE(header->Dirty());
    mine->CloseTable(header);
}

TEST_P(TableHeaderTest, CloseWritesTheDirtyHeadersAndFreesAll)
{
    auto mgr = Store.NewMgr();
    const Integer a = mgr->AddTable(0);
    const Integer b = mgr->AddTable(0);
    TTableHeader* clean = mgr->OpenTable(a);
    TTableHeader* dirty = mgr->OpenTable(b);
    mgr->OpenTable(b);
    dirty->SetRecordAutoIncVal(1234);
    const Cardinal cleanAddress = clean->BaseAddress();
    const Cardinal dirtyAddress = dirty->BaseAddress();

    Store.Counters().Reset();
    mgr->Close();
    EXPECT_EQ(0, mgr->Count());
    EXPECT_EQ(1, Store.Counters().Writes);
    EXPECT_EQ(1234u, DWordAt(Store.RawHeader(dirtyAddress), thoRecordAutoIncVal));
    EXPECT_EQ(1u, DWordAt(Store.RawHeader(cleanAddress), thoModifiedFlag));
}

TEST_P(TableHeaderTest, ADamagedHeaderSizeIsRefused)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(0);
    const Cardinal address = mgr->MapHeaderAddress(0);
    auto raw = Store.RawHeader(address);
    WriteLE32(raw.data() + thoHeaderSize, 0x10000);
    Store.PutRaw(address, raw);

    EXPECT_EQ(0x10000, mgr->ReadHeaderSize(address));
    EXPECT_VEK_ERROR_TEXT(8581, "header size is out of range", mgr->OpenTable(id));
    EXPECT_EQ(0, mgr->Count());
    const auto mapBefore = Store.RawMap();
    EXPECT_VEK_ERROR(8581, mgr->DeleteTable(id));
    EXPECT_EQ(mapBefore, Store.RawMap());
}

// -------------------------------------------------------- a header by itself

TEST_P(TableHeaderTest, TheBufferFollowsItsSize)
{
    auto mgr = Store.NewMgr();
    TTableHeader header(mgr.get());
    EXPECT_THROW(header.TableID(), EAssertionFailed);
    EXPECT_VEK_ERROR(8576, header.ReadHeader());
    EXPECT_VEK_ERROR(8576, header.WriteHeader());

    header.SetHeaderSize(256);
    EXPECT_EQ(256, header.GetHeaderSize());
    EXPECT_EQ(256u, header.HeaderBuf().size());
    header.SetGenerator1(5);
    header.SetIndexCount(1);
    header.SetIndexRoot(0, 6);

    header.ResetHeaderSize(256, false);
    EXPECT_EQ(5u, header.Generator1());
    EXPECT_EQ(6u, header.IndexRoot(0));

    header.ResetHeaderSize(64, false);
    EXPECT_EQ(64, header.GetHeaderSize());
    EXPECT_EQ(5u, header.Generator1());

    header.ResetHeaderSize(256, true);
    EXPECT_EQ(0u, header.Generator1());
    EXPECT_EQ(256, header.GetHeaderSize());

    header.SetGenerator2(3);
    header.SetHeaderSize(256);
    EXPECT_EQ(0u, header.Generator2());

    header.ClearHeader();
    EXPECT_EQ(std::vector<Byte>(256, 0), header.HeaderBuf());

    for (Integer size : {0, 12, 47, 257, 512}) {
        SCOPED_TRACE(size);
        EXPECT_VEK_ERROR_TEXT(8581, "header size is out of range", header.SetHeaderSize(size));
    }
    EXPECT_VEK_ERROR(8581, header.ResetHeaderSize(1024, false));
    EXPECT_EQ(256u, header.HeaderBuf().size());
}

TEST_P(TableHeaderTest, DiagnosticDumps)
{
    auto mgr = Store.NewMgr();
    const Integer id = mgr->AddTable(2);
    mgr->AddTable(0);
    TTableHeader* header = mgr->OpenTable(id);
    header->SetRecordFirstEmpty(7);
    header->SetBlobFirstEmpty(8);
    header->SetRecordAutoIncVal(9);
    header->SetLogicalRecordNo(10);
    header->SetIndexRoot(1, 11);
    header->SetIndexDepth(1, 2);

    TStringList lines;
    mgr->DebugDumpAllHeaders(&lines);
    const std::vector<std::string> expected = {
        "Current Headers",
        "Header Item index=0",
        Format("TableID=%d BaseAddr=%d HdrSize=256 UserCount=1", {id, header->BaseAddress()}),
        "RecFirstEmpty=7 BlobFE=8",
        "AutoInc=9 LogRecNo=10 IdxCount=2",
        "   Idx=0 Root=0 Depth=0",
        "   Idx=1 Root=11 Depth=2",
        "All Headers",
        "Header MapPos=0 TableID=1",
        "Header MapPos=1 TableID=2",
    };
    ASSERT_EQ(static_cast<int>(expected.size()), lines.Count());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], lines.Strings(static_cast<int>(i)));
    mgr->CloseTable(header);

    // An entry stranded behind an empty one is reported.
    auto map = Store.RawMap();
    WriteLE32(map.data() + 8 * 5, 6);
    WriteLE32(map.data() + 8 * 5 + 4, 4242);
    Store.PutRaw(Store.MapAddress(), map);
    mgr->InternalReadMap();
    lines.Clear();
    mgr->DebugDumpAllHeaders(&lines);
    EXPECT_EQ("Eror. Found Table in map above 0 entry: ID = 6 Addr=4242", lines.Strings(lines.Count() - 1));
}

} // namespace
} // namespace orvex
