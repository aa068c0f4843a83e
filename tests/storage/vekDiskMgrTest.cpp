// TDiskMgr: the new file's layout, opening, page sizes, the global and
// security headers, allocation through the map and the lock wrappers.

#include "vekDiskTestUtil.h"

#include "platform/FileIO.h"
#include "storage/vekByteOrder.h"
#include "storage/vekLockMgrUnit.h"
#include "host/DateUtils.h"

namespace orvex {
namespace {

using disktest::CreateDatabase;
using disktest::OpenDatabase;
using disktest::Pattern;
using disktest::ReadFileBytes;

constexpr Cardinal Owner(Integer TableID, Integer Type)
{
    return static_cast<Cardinal>(TableID * 16 + Type);
}

class DiskMgrTest : public ::testing::Test {
protected:
    DiskMgrTest() : FPath(FDir.File("shop.vek")) {}

    // The map entry of page number Page, read from the file itself.
    static Word MapEntryOnDisk(const std::vector<Byte>& File, Cardinal MapAddress, Integer Entry)
    {
        return ReadLE16(File.data() + MapAddress + MapPageHeaderSize + 2 * Entry);
    }
    Cardinal Allocate(TDiskMgr& Disk, Integer TableID, Integer Count, Cardinal Seed,
                      Cardinal Flags = VekAccessPaged)
    {
        const auto pages = Pattern(static_cast<std::size_t>(Count) * Disk.PageSize(), Seed);
        return Disk.WriteNewPages(TableID, Flags, 9, Count, pages.data());
    }

    disktest::TTempDir FDir;
    std::string FPath;
};

TEST_F(DiskMgrTest, ANewFileHoldsTheSystemAreaTheHeaderAndTheFirstMapPage)
{
    CreateDatabase(FPath);
    const auto file = ReadFileBytes(FPath);
    ASSERT_EQ(file.size(), 24576u);
    const Byte* header = file.data() + GlobalHeaderOffset;
    EXPECT_EQ(ReadLE32(header + TGlobalHdr::OfsFirstMapPageEmpty), 20480u);
    EXPECT_EQ(ReadLE32(header + TGlobalHdr::OfsFirstMapPage), 20480u);
    EXPECT_EQ(ReadLE32(header + TGlobalHdr::OfsMapPageCount), 1u);
    for (Integer offset : {0, 4, 8, 12, 28, 32, 36, 40, 44, 96, 124})
        EXPECT_EQ(ReadLE32(header + offset), 0u) << "offset " << offset;
    const Byte* map = file.data() + 20480;
    EXPECT_EQ(ReadLE32(map + MapPageIDOffset), 0u);
    EXPECT_EQ(ReadLE32(map + MapPageNextOffset), 0u);
    EXPECT_EQ(ReadLE16(map + MapPageFirstFreeOffset), 0u);
    for (Integer entry = 0; entry < 5; ++entry)
        EXPECT_EQ(MapEntryOnDisk(file, 20480, entry), MapPageTypeSystem);
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 5), MapPageTypeMap);
    for (Integer entry = 6; entry < 2038; ++entry)
        ASSERT_EQ(MapEntryOnDisk(file, 20480, entry), 0) << entry;
    // The definition record and the security header are left to their writers.
    EXPECT_EQ(std::count(file.begin(), file.begin() + 1024, 0), 1024);

    auto disk = OpenDatabase(FPath);
    EXPECT_EQ(disk->GlobalHdr()->FirstMapPage(), 20480u);
    EXPECT_EQ(disk->GlobalHdr()->MapPageCount(), 1u);
    EXPECT_EQ(disk->GetFileSize(), 24576);
    EXPECT_EQ(disk->DiskCacheSize(), 50 * 4096);
    EXPECT_TRUE(disk->DebugCheckContents());
    EXPECT_TRUE(disk->DebugCheckStatus());
}

TEST_F(DiskMgrTest, PageSizesOutsideTheLayoutAreRefused)
{
    const struct {
        Integer PageSize;
        bool Valid;
    } cases[] = {{128, false}, {255, false}, {3000, false}, {65536, false},
                 {256, true},  {1024, true}, {32768, true}};
    for (const auto& c : cases) {
        TDiskMgr disk;
        disk.SetFileName(FPath);
        disk.SetPageSize(c.PageSize);
        SCOPED_TRACE(c.PageSize);
        if (!c.Valid) {
            EXPECT_VEK_ERROR_TEXT(8581, "Invalid database page size", disk.CreateNewFile(true));
            EXPECT_VEK_ERROR_TEXT(8581, "Invalid database page size", disk.Open());
            continue;
        }
        disk.CreateNewFile(true);
        EXPECT_EQ(FileSizeOf(FPath), NewFilePages * Int64{c.PageSize});
        disk.Open();
        const auto page = Pattern(static_cast<std::size_t>(c.PageSize), 1);
        EXPECT_EQ(disk.WriteNewPages(1, VekAccessPaged, 9, 1, page.data()), 6u * c.PageSize);
        EXPECT_TRUE(disk.DebugCheckContents()) << c.PageSize;
    }
    TDiskMgr unset;
    unset.SetFileName(FPath);
    EXPECT_VEK_ERROR_TEXT(8581, "PageSize is 0", unset.Open());
}

TEST_F(DiskMgrTest, CreatingAndOpeningReportMissingAndExistingFiles)
{
    TDiskMgr disk;
    disk.SetFileName(FPath);
    disk.SetPageSize(4096);
    EXPECT_VEK_ERROR_TEXT(11010, FPath, disk.Open());
    disk.CreateNewFile(false);
    EXPECT_VEK_ERROR(11043, disk.CreateNewFile(false));
    disk.CreateNewFile(true);
    disk.SetFileName(FDir.File("no/such/folder.vek"));
    EXPECT_VEK_ERROR(8582, disk.CreateNewFile(true));
    // Nothing is open: pages can be neither had nor read.
    const std::vector<Byte> page(4096);
    EXPECT_VEK_ERROR(8449, disk.WriteNewPages(1, VekAccessPaged, 9, 1, page.data()));
    EXPECT_VEK_ERROR(8449, disk.WritePages(6 * 4096, 1, 1, VekAccessPaged, page.data()));
    EXPECT_VEK_ERROR(8449, disk.DiskStartTransaction(false));
    EXPECT_VEK_ERROR(10257, disk.DiskCommit());
}

TEST_F(DiskMgrTest, TheGlobalHeaderGuardsItsItems)
{
    TGlobalHdr header;
    header.SetHdrSize(0);
    EXPECT_VEK_ERROR_TEXT(8581, "Unable to initialize header - size not set", header.Initialize());
    header.SetHdrSize(GlobalHeaderSize);
    header.Initialize();
    for (Integer offset : {0, 125, 126, -4})
        EXPECT_VEK_ERROR_TEXT(8581, "DB Header. Item offset is out of range",
                              header.GlobalInterfaceGetHdrItem(offset));
    header.GlobalInterfaceSetHdrItem(0x01020304, 124);
    EXPECT_TRUE(header.Dirty());
    EXPECT_EQ(header.GlobalInterfaceGetHdrItem(124), 0x01020304u);
    EXPECT_EQ(header.Buffer()[124], 0x04);
    header.SetDirty(false);
    header.SetIndexesFirstEmpty(0); // unchanged: not dirty
    EXPECT_FALSE(header.Dirty());
    header.SetGlobalDBGenerator(7);
    EXPECT_TRUE(header.Dirty());
    EXPECT_EQ(header.GlobalInterfaceGetHdrItem(TGlobalHdr::OfsGlobalDBGenerator), 7u);
}

TEST_F(DiskMgrTest, TheHeaderIsReadUnderALockAndWrittenThrough)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    EXPECT_VEK_ERROR(10248, disk->ReadHeader());
    disk->SetHeaderWriteLock();
    disk->GlobalHdr()->SetGlobalDBGenerator(41);
    disk->ReleaseHeaderLock(); // writes the dirty header
    EXPECT_FALSE(disk->HeaderLocked());
    const auto file = ReadFileBytes(FPath);
    EXPECT_EQ(ReadLE32(file.data() + GlobalHeaderOffset + TGlobalHdr::OfsGlobalDBGenerator), 41u);

    auto other = OpenDatabase(FPath);
    other->SetHeaderReadLock();
    EXPECT_EQ(other->GlobalHdr()->GlobalDBGenerator(), 41u);
    other->ReleaseHeaderLock();
}

// ------------------------------------------------------------ security header

TEST_F(DiskMgrTest, TheSecurityHeaderHoldsTheKeyDigestUnderItsCRC)
{
    CreateDatabase(FPath);
    {
        auto disk = OpenDatabase(FPath);
        disk->SetCryptKey("open sesame");
        TSecurityHeader header;
        disk->WriteSecurityHeader(header);
    }
    const auto file = ReadFileBytes(FPath);
    const Byte* raw = file.data() + SecurityHeaderOffset;
    EXPECT_EQ(ReadLE32(raw), 40u);
    EXPECT_EQ(ReadLE16(raw + 12), 1);
    EXPECT_EQ(ReadLE16(raw + 14), 1);
    TSha1Stream sha;
    const TSha1Digest digest = sha.GetSHA1FromString("open sesame");
    EXPECT_EQ(ReadLE32(raw + 16), digest.H0);
    EXPECT_EQ(ReadLE32(raw + 32), digest.H4);
    std::vector<Byte> zeroed(raw, raw + 40);
    WriteLE32(zeroed.data() + 36, 0);
    EXPECT_EQ(ReadLE32(raw + 36), CalcCRC(zeroed.data(), 40));
    const double written = ReadLEDouble(raw + 4);
    EXPECT_NEAR(written, Now(), 1.0);

    auto disk = OpenDatabase(FPath);
    TSecurityHeader header;
    disk->SetCryptKey("open sesame");
    disk->ReadSecurityHeader(header);
    EXPECT_EQ(header.TimeWritten, written);
    disk->SetCryptKey("open sesame!");
    EXPECT_VEK_ERROR_TEXT(8451, "The MasterKey is incorrect", disk->ReadSecurityHeader(header));
}

TEST_F(DiskMgrTest, AnyChangedByteOfTheSecurityHeaderFailsItsCRC)
{
    CreateDatabase(FPath);
    {
        auto disk = OpenDatabase(FPath);
        TSecurityHeader header;
        disk->WriteSecurityHeader(header);
    }
    for (Cardinal offset : {0u, 5u, 13u, 20u, 36u, 39u}) {
        auto file = ReadFileBytes(FPath);
        file[SecurityHeaderOffset + offset] ^= 0x10;
        const std::string corrupt = FDir.File("corrupt.vek");
        {
            std::ofstream out(corrupt, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        }
        auto disk = OpenDatabase(corrupt);
        TSecurityHeader header;
        SCOPED_TRACE(offset);
        EXPECT_VEK_ERROR_TEXT(8451, "The Security Header CRC is incorrect", disk->ReadSecurityHeader(header));
    }
}

TEST_F(DiskMgrTest, AnEmptyKeyIsTheDefaultKey)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    EXPECT_EQ(disk->CryptKey(), CVekDefaultMasterKey);
    EXPECT_EQ(std::string(CVekDefaultMasterKey).size(), 14u);
    TSecurityHeader header;
    disk->SetCryptKey("");
    disk->WriteSecurityHeader(header);
    disk->SetCryptKey(CVekDefaultMasterKey);
    disk->ReadSecurityHeader(header);
    const auto plain = Pattern(4096, 3);
    const Cardinal address = Allocate(*disk, 2, 1, 3, VekAccessPaged | VekAccessBlowfish);
    // Blowfish pages written under the empty key read back under the default key.
    auto other = OpenDatabase(FPath);
    other->SetCryptKey(CVekDefaultMasterKey);
    std::vector<Byte> back(4096);
    other->ReadPages(address, 1, 2, VekAccessPaged | VekAccessBlowfish, back.data());
    EXPECT_EQ(back, plain);
}

// ---------------------------------------------------------------- allocation

TEST_F(DiskMgrTest, NewPagesAreAppendedAndEnteredUnderTheirOwner)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    const Cardinal first = Allocate(*disk, 3, 2, 1);
    EXPECT_EQ(first, 6u * 4096);
    const Cardinal second = Allocate(*disk, 4, 1, 2);
    EXPECT_EQ(second, 8u * 4096);
    EXPECT_EQ(disk->GetFileSize(), 9 * 4096);
    const auto file = ReadFileBytes(FPath);
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 6), Owner(3, 9));
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 7), Owner(3, 9));
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 8), Owner(4, 9));
    EXPECT_EQ(std::vector<Byte>(file.begin() + first, file.begin() + first + 8192), Pattern(8192, 1));
    EXPECT_TRUE(disk->DebugCheckAddressOwnerFlags(second, 4, 9));
    EXPECT_FALSE(disk->DebugCheckAddressOwnerFlags(second, 3, 9));
    EXPECT_VEK_ERROR(8581, Allocate(*disk, 2048, 1, 1)); // would read as a free entry
    EXPECT_VEK_ERROR(8581, Allocate(*disk, 1, 0, 1));
}

TEST_F(DiskMgrTest, AllocatingPage2038AddsTheSecondMapPageAtTheEnd)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    EXPECT_EQ(Allocate(*disk, 1, 2032, 1), 6u * 4096); // pages 6 .. 2037: map page 0 is full
    EXPECT_EQ(disk->GlobalHdr()->MapPageCount(), 1u);
    EXPECT_EQ(Allocate(*disk, 1, 1, 2), 2038u * 4096);
    EXPECT_EQ(disk->GlobalHdr()->MapPageCount(), 2u);
    EXPECT_EQ(disk->GetFileSize(), 2040 * 4096);
    const auto file = ReadFileBytes(FPath);
    const Cardinal map1 = 2039u * 4096;
    EXPECT_EQ(ReadLE32(file.data() + 20480 + MapPageNextOffset), map1);
    EXPECT_EQ(ReadLE32(file.data() + map1 + MapPageIDOffset), 1u);
    EXPECT_EQ(MapEntryOnDisk(file, map1, 0), Owner(1, 9));
    EXPECT_EQ(MapEntryOnDisk(file, map1, 1), MapPageTypeMap);
    EXPECT_TRUE(disk->DebugCheckContents());
}

TEST_F(DiskMgrTest, ARunAcrossSeveralMapPagesAddsThemInOrder)
{
    CreateDatabase(FPath, 256); // 118 entries a map page
    auto disk = OpenDatabase(FPath, 256);
    EXPECT_EQ(Allocate(*disk, 1, 200, 1), 6u * 256); // pages 6 .. 205, map page 1 at 206
    EXPECT_EQ(Allocate(*disk, 2, 400, 2), 207u * 256); // pages 207 .. 606, map pages 2 .. 5 at 607 .. 610
    EXPECT_EQ(disk->GlobalHdr()->MapPageCount(), 6u);
    EXPECT_EQ(disk->GetFileSize(), 611 * 256);
    TMapPageMgr* map = disk->MapPageMgr();
    disk->SetHeaderReadLock();
    for (Cardinal page : {206u, 607u, 608u, 609u, 610u})
        EXPECT_EQ(map->GetMapEntryFlags(page * 256), MapPageTypeMap) << page;
    EXPECT_EQ(map->GetMapEntryFlags(205 * 256), Owner(1, 9));
    EXPECT_EQ(map->GetMapEntryFlags(606 * 256), Owner(2, 9));
    EXPECT_EQ(map->SearchMapsForMapPage(5), 610u * 256);
    disk->ReleaseHeaderLock();
    TStringList problems;
    disk->SetDebugStrings(&problems);
    EXPECT_TRUE(disk->DebugCheckContents()) << problems.Text();
    EXPECT_TRUE(disk->DebugCheckStatus()) << problems.Text();
}

TEST_F(DiskMgrTest, FreedPagesChainInAscendingOrderAndARunIsFoundInIt)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    for (int i = 0; i < 6; ++i)
        Allocate(*disk, 1, 1, static_cast<Cardinal>(i)); // pages 6 .. 11
    for (Cardinal page : {9u, 7u, 8u})
        disk->ReleasePages(page * 4096, 1);
    auto file = ReadFileBytes(FPath);
    EXPECT_EQ(ReadLE16(file.data() + 20480 + MapPageFirstFreeOffset), MapPageHeaderSize + 2 * 7);
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 7), MapEntryFree | (MapPageHeaderSize + 2 * 8));
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 8), MapEntryFree | (MapPageHeaderSize + 2 * 9));
    EXPECT_EQ(MapEntryOnDisk(file, 20480, 9), MapEntryFree);
    EXPECT_EQ(ReadLE32(file.data() + GlobalHeaderOffset + TGlobalHdr::OfsFirstMapPageEmpty), 20480u);
    // Released pages are zeroed on disk and their cached copies are gone.
    EXPECT_EQ(std::count(file.begin() + 7 * 4096, file.begin() + 10 * 4096, 0), 3 * 4096);
    std::vector<Byte> page(4096);
    disk->ReadPages(8 * 4096, 1, 1, VekAccessPaged, page.data());
    EXPECT_EQ(page, std::vector<Byte>(4096));

    EXPECT_EQ(Allocate(*disk, 5, 3, 99), 7u * 4096);
    file = ReadFileBytes(FPath);
    EXPECT_EQ(ReadLE16(file.data() + 20480 + MapPageFirstFreeOffset), 0);
    EXPECT_EQ(ReadLE32(file.data() + GlobalHeaderOffset + TGlobalHdr::OfsFirstMapPageEmpty), 0u);
    EXPECT_EQ(std::vector<Byte>(file.begin() + 7 * 4096, file.begin() + 10 * 4096), Pattern(3 * 4096, 99));
    EXPECT_TRUE(disk->DebugCheckContents());
}

TEST_F(DiskMgrTest, ARunIsOnlyFoundWhereEnoughFreePagesAdjoin)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    Allocate(*disk, 1, 10, 1); // pages 6 .. 15
    disk->ReleasePages(7 * 4096, 2);  // 7, 8
    disk->ReleasePages(11 * 4096, 3); // 11, 12, 13
    EXPECT_EQ(Allocate(*disk, 2, 3, 2), 11u * 4096);
    EXPECT_EQ(Allocate(*disk, 2, 3, 3), 16u * 4096); // 7, 8 are too few: appended
    EXPECT_EQ(Allocate(*disk, 2, 2, 4), 7u * 4096);
    EXPECT_TRUE(disk->DebugCheckContents());
}

TEST_F(DiskMgrTest, ACorruptFreeChainIsRefusedAndReported)
{
    CreateDatabase(FPath);
    {
        auto disk = OpenDatabase(FPath);
        Allocate(*disk, 1, 3, 1); // pages 6 .. 8
        disk->ReleasePages(7 * 4096, 1);
    }
    const auto good = ReadFileBytes(FPath);
    const struct {
        Word FirstFree;
        const char* Why;
    } cases[] = {
        {6, "an offset inside the map page's own fields"},
        {MapPageHeaderSize + 2 * 6, "an entry in use"},
        {MapPageHeaderSize + 2 * 2038, "an offset past the last entry"},
        {MapPageHeaderSize + 2 * 7 + 1, "an odd offset"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        auto bytes = good;
        WriteLE16(bytes.data() + 20480 + MapPageFirstFreeOffset, c.FirstFree);
        {
            std::ofstream out(FPath, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        auto disk = OpenDatabase(FPath);
        EXPECT_VEK_ERROR_TEXT(8581, "Empty segment found is invalid", Allocate(*disk, 2, 1, 2));
        TStringList problems;
        disk->SetDebugStrings(&problems);
        EXPECT_FALSE(disk->DebugCheckContents());
        EXPECT_GT(problems.Count(), 0);
    }
}

TEST_F(DiskMgrTest, BestRequestSizesWasteLittle)
{
    const struct {
        Integer Block, Page, Request;
    } cases[] = {
        {100, 4096, 4096},   {3000, 4096, 12288}, {4096, 4096, 4096}, {1024, 4096, 4096},
        {5000, 4096, 45056}, {256, 4096, 4096},   {1100, 4096, 4096}, {3500, 4096, 4096},   {2500, 4096, 32768},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetBestPageRequestSize(c.Block, c.Page), c.Request) << c.Block;
}

TEST_F(DiskMgrTest, FixedBlocksAreListedRunByRun)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    Allocate(*disk, 4, 1, 1);                                  // page 6
    Allocate(*disk, 5, 1, 1);                                  // page 7, another table
    const Cardinal run = Allocate(*disk, 4, 3, 2);             // pages 8 .. 10
    std::vector<Cardinal> blocks;
    disk->ListAllocatedFixedBlocks(100, 5, 9, blocks);
    ASSERT_EQ(blocks.size(), 40u);
    EXPECT_EQ(blocks.front(), 7u * 4096);
    EXPECT_EQ(blocks.back(), 7u * 4096 + 3900);

    // 3000-byte blocks come in runs of three pages, four blocks each.
    disk->DeleteOwnedPages(4, 9, true);
    const Cardinal again = Allocate(*disk, 4, 3, 3);
    EXPECT_EQ(again, 8u * 4096); // the three adjacent free pages
    blocks.clear();
    disk->ListAllocatedFixedBlocks(3000, 4, 9, blocks);
    EXPECT_EQ(blocks, (std::vector<Cardinal>{run, run + 3000, run + 6000, run + 9000}));
    Allocate(*disk, 4, 1, 4); // a lone page: not a whole run
    EXPECT_THROW(disk->ListAllocatedFixedBlocks(3000, 4, 9, blocks), EAssertionFailed);
    EXPECT_THROW(disk->ListAllocatedFixedBlocks(0, 4, 9, blocks), EAssertionFailed);
}

TEST_F(DiskMgrTest, DeletingOwnedPagesFreesAndZeroesThem)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    Allocate(*disk, 4, 2, 1);                              // 6, 7 records
    disk->WriteNewPages(4, VekAccessPaged, 8, 1, Pattern(4096, 2).data()); // 8 index
    Allocate(*disk, 6, 1, 3);                              // 9 another table
    disk->DeleteOwnedPages(4, 9, true);
    disk->SetHeaderReadLock();
    TMapPageMgr* map = disk->MapPageMgr();
    EXPECT_EQ(map->GetMapEntryFlags(6 * 4096) & MapEntryFree, MapEntryFree);
    EXPECT_EQ(map->GetMapEntryFlags(8 * 4096), Owner(4, 8));
    EXPECT_EQ(disk->GlobalHdr()->FirstMapPageEmpty(), 20480u);
    disk->ReleaseHeaderLock();
    disk->DeleteOwnedPages(4, 0, false);
    disk->SetHeaderReadLock();
    EXPECT_EQ(map->GetMapEntryFlags(8 * 4096) & MapEntryFree, MapEntryFree);
    EXPECT_EQ(map->GetMapEntryFlags(9 * 4096), Owner(6, 9));
    disk->ReleaseHeaderLock();
    const auto file = ReadFileBytes(FPath);
    EXPECT_EQ(std::count(file.begin() + 6 * 4096, file.begin() + 9 * 4096, 0), 3 * 4096);
    EXPECT_TRUE(disk->DebugCheckContents());
    TStringList listing;
    disk->DebugListOwnedPages(6, &listing);
    EXPECT_EQ(listing.Count(), 1);
}

// ----------------------------------------------------------- locks and users

TEST_F(DiskMgrTest, AReadOnlyFileHasNoLockFileAndAnswersEveryLock)
{
    CreateDatabase(FPath);
    ASSERT_TRUE(FileSetReadOnly(FPath, true));
    auto disk = OpenDatabase(FPath, 4096, fmOpenRead | fmShareDenyNone);
    EXPECT_TRUE(disk->ReadOnly());
    EXPECT_FALSE(disk->LockFileInUse());
    EXPECT_EQ(disk->UserMonitor(), nullptr);
    EXPECT_FALSE(FileExists(GetLockFileName(FPath)));
    TStringList users;
    EXPECT_VEK_ERROR_TEXT(10501, "Connection details unavailable for read only database files",
                          disk->GetCurrentUsers(&users));
    EXPECT_EQ(disk->SetTableLock(3, LockTypeWrite), LockTypeWrite);
    EXPECT_EQ(disk->QueryTableLockStatus(3), LockTypeRead);
    EXPECT_EQ(disk->SetRecordLock(4096, 3), LockTypeWrite);
    EXPECT_EQ(disk->QueryRecordLockStatus(4096), LockTypeRead);
    disk->ReleaseAllLocks();
    disk.reset();
    FileSetReadOnly(FPath, false);
}

TEST_F(DiskMgrTest, AWritableFileTakesItsPlaceInTheLockFile)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    ASSERT_NE(disk->UserMonitor(), nullptr);
    EXPECT_TRUE(FileExists(FDir.File("shop.lck")));
    TStringList users;
    disk->GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 1);
    EXPECT_EQ(users[0], disk->UserMonitor()->EntryText());
    disk->Close();
    EXPECT_FALSE(FileExists(FDir.File("shop.lck")));
    EXPECT_FALSE(disk->IsOpen());
}

TEST_F(DiskMgrTest, TableAndRecordLocksExcludeOtherConnections)
{
    CreateDatabase(FPath);
    auto first = OpenDatabase(FPath);
    auto second = OpenDatabase(FPath);
    second->SetLockRetryCount(1);
    second->SetLockRetryInterval(1);
    second->Close();
    second->Open(); // the managers take the retry settings when the file opens

    EXPECT_EQ(first->SetTableLock(5, LockTypeWrite), LockTypeWrite);
    EXPECT_VEK_ERROR(10249, second->SetTableLock(5, LockTypeRead));
    first->ReleaseTableLock(5);
    EXPECT_EQ(second->SetTableLock(5, LockTypeRead), LockTypeRead);
    EXPECT_EQ(first->SetTableLock(5, LockTypeRead), LockTypeRead); // readers share

    EXPECT_EQ(first->SetRecordLock(40960, 5), LockTypeWrite);
    EXPECT_EQ(first->QueryRecordLockStatus(40960), LockTypeWrite);
    EXPECT_VEK_ERROR(10249, second->SetRecordLock(40960, 5));
    first->ReleaseRecordLock(40960);
    EXPECT_EQ(second->SetRecordLock(40960, 5), LockTypeWrite);
    first->ReleaseAllLocks();
    second->ReleaseAllLocks();
}

TEST_F(DiskMgrTest, InsideATransactionLocksTurnToTransactionLocksAndAreKept)
{
    CreateDatabase(FPath);
    auto first = OpenDatabase(FPath);
    auto second = OpenDatabase(FPath);
    first->DiskStartTransaction(false);
    // A write request is served as a read lock behind the table's transaction byte.
    EXPECT_EQ(first->SetTableLock(5, LockTypeWrite), LockTypeRead);
    EXPECT_EQ(first->TransactionLockMgr()->QueryLockType(5), LockTypeWrite);
    first->ReleaseTableLock(5); // kept until the transaction ends
    EXPECT_EQ(first->QueryTableLockStatus(5), LockTypeRead);
    // Others still read the table meanwhile.
    EXPECT_EQ(second->SetTableLock(5, LockTypeRead), LockTypeRead);
    second->ReleaseTableLock(5);
    first->DiskCommit();
    EXPECT_EQ(first->QueryTableLockStatus(5), LockTypeNone);
    EXPECT_EQ(first->TransactionLockMgr()->GetLockCount(), 0);

    // Without transaction locks a write request stays a write request.
    first->DiskStartTransaction(true);
    EXPECT_EQ(first->SetTableLock(6, LockTypeWrite), LockTypeWrite);
    EXPECT_EQ(first->TransactionLockMgr()->GetLockCount(), 0);
    first->DiskRollback();
    EXPECT_EQ(first->QueryTableLockStatus(6), LockTypeNone);
}

TEST_F(DiskMgrTest, AHeldWriteLockServesALaterRequestInsideATransaction)
{
    CreateDatabase(FPath);
    auto disk = OpenDatabase(FPath);
    disk->SetLockRetryCount(1);
    disk->SetHeaderWriteLock();
    disk->DiskStartTransaction(false);
    EXPECT_EQ(disk->SetTableLock(0, LockTypeWrite), LockTypeWrite);
    Allocate(*disk, 1, 1, 1);
    disk->DiskCommit();
    EXPECT_FALSE(disk->HeaderLocked());
    EXPECT_EQ(disk->QueryTableLockStatus(0), LockTypeNone);
}

} // namespace
} // namespace orvex
