// File transactions of TDiskMgr, alone and against a second connection, for
// plain, weakly and strongly enciphered pages.

#include "commit/CommitTestUtil.h"
#include "vekDiskTestUtil.h"

#include "platform/FileIO.h"
#include "storage/vekByteOrder.h"
#include "storage/vekLockMgrUnit.h"

namespace orvex {
namespace {

using disktest::CreateDatabase;
using disktest::OpenDatabase;
using disktest::Pattern;
using disktest::ReadFileBytes;
using disktest::VekErrorCode;

constexpr Integer PageSize = 1024;

std::vector<Byte> Slice(const std::vector<Byte>& Bytes, std::size_t From, std::size_t Count)
{
    return {Bytes.begin() + static_cast<std::ptrdiff_t>(From),
            Bytes.begin() + static_cast<std::ptrdiff_t>(From + Count)};
}

class DiskTransactionTest : public ::testing::TestWithParam<Cardinal> {
protected:
    DiskTransactionTest() : FPath(FDir.File("orders.vek")) { CreateDatabase(FPath, PageSize); }

    Cardinal Allocate(TDiskMgr& Disk, Integer TableID, Integer Count, Cardinal Seed)
    {
        const auto pages = Pattern(static_cast<std::size_t>(Count) * PageSize, Seed);
        return Disk.WriteNewPages(TableID, GetParam(), 9, Count, pages.data());
    }
    std::vector<Byte> ReadBack(TDiskMgr& Disk, Cardinal Address, Integer Count, Integer TableID)
    {
        std::vector<Byte> bytes(static_cast<std::size_t>(Count) * PageSize);
        Disk.ReadPages(Address, Count, TableID, GetParam(), bytes.data());
        return bytes;
    }
    std::unique_ptr<TDiskMgr> Open() { return OpenDatabase(FPath, PageSize); }
    Word MapEntry(TDiskMgr& Disk, Cardinal Address)
    {
        Disk.SetHeaderReadLock();
        const Word value = Disk.MapPageMgr()->GetMapEntryFlags(Address);
        Disk.ReleaseHeaderLock();
        return value;
    }
    // A connection with one page of table 3 and short lock waits, beside
    // another connection that reads table 3, and the file's bytes then.
    struct TBesideAReader {
        std::unique_ptr<TDiskMgr> Disk;
        Cardinal Page = 0;
        std::unique_ptr<TDiskMgr> Other;
        std::vector<Byte> Before;
    };
    TBesideAReader OpenBesideAReader()
    {
        TBesideAReader setup;
        setup.Disk = Open();
        setup.Page = Allocate(*setup.Disk, 3, 1, 1);
        setup.Disk->SetLockRetryCount(2);
        setup.Disk->SetLockRetryInterval(5);
        setup.Disk->Close();
        setup.Disk->Open();
        setup.Other = Open();
        setup.Other->SetTableLock(3, LockTypeRead);
        setup.Before = ReadFileBytes(FPath);
        return setup;
    }

    disktest::TTempDir FDir;
    std::string FPath;
};

TEST_P(DiskTransactionTest, RollbackLeavesTheFileByteIdentical)
{
    auto disk = Open();
    const Cardinal kept = Allocate(*disk, 3, 4, 1);
    disk->ReleasePages(kept + PageSize, 2);
    const auto before = ReadFileBytes(FPath);

    disk->DiskStartTransaction(false);
    EXPECT_EQ(Allocate(*disk, 3, 2, 2), kept + PageSize); // the two free pages
    Allocate(*disk, 4, 600, 3);                          // past two map-page boundaries
    disk->ReleasePages(kept, 1);
    disk->DeleteOwnedPages(4, 9, true);
    TSecurityHeader header;
    disk->WriteSecurityHeader(header);
    const auto page = Pattern(PageSize, 4);
    disk->WritePages(kept + 3 * PageSize, 1, 3, GetParam(), page.data());
    EXPECT_EQ(ReadFileBytes(FPath), before);
    disk->DiskRollback();

    EXPECT_EQ(ReadFileBytes(FPath), before);
    EXPECT_FALSE(disk->IsTransactionActive());
    EXPECT_TRUE(disk->DebugCheckContents());
    const auto original = Pattern(4 * PageSize, 1);
    EXPECT_EQ(ReadBack(*disk, kept, 1, 3), Slice(original, 0, PageSize));
    EXPECT_EQ(ReadBack(*disk, kept + 3 * PageSize, 1, 3), Slice(original, 3 * PageSize, PageSize));
    // The map is as it was: the same two pages are found again.
    EXPECT_EQ(Allocate(*disk, 3, 2, 5), kept + PageSize);
    EXPECT_TRUE(disk->DebugCheckContents());
}

TEST_P(DiskTransactionTest, CommitMakesEveryPageVisibleToASecondConnection)
{
    auto disk = Open();
    auto other = Open();
    const Cardinal shared = Allocate(*disk, 2, 1, 1);
    EXPECT_EQ(ReadBack(*other, shared, 1, 2), Pattern(PageSize, 1)); // now cached by the other

    disk->DiskStartTransaction(false);
    const Cardinal run = Allocate(*disk, 2, 3, 2);
    const auto changed = Pattern(PageSize, 3);
    disk->WritePages(shared, 1, 2, GetParam(), changed.data());
    EXPECT_EQ(MapEntry(*other, run), 0);
    EXPECT_EQ(other->GetFileSize(), 7 * PageSize);
    disk->DiskCommit();

    EXPECT_EQ(MapEntry(*other, run), 2 * 16 + 9);
    EXPECT_EQ(ReadBack(*other, run, 3, 2), Pattern(3 * PageSize, 2));
    // A page the other connection had cached is seen once it forgets the
    // table's pages, as the table layer does when the table changed.
    other->VekFile()->Cache()->ClearOwnedPages(2);
    EXPECT_EQ(ReadBack(*other, shared, 1, 2), changed);
    EXPECT_TRUE(other->DebugCheckContents());
}

TEST_P(DiskTransactionTest, APageReleasedAndReusedInOneTransactionKeepsItsNewBytes)
{
    auto disk = Open();
    const Cardinal page = Allocate(*disk, 5, 1, 1);
    const Cardinal spare = Allocate(*disk, 5, 1, 2);
    disk->DiskStartTransaction(false);
    disk->ReleasePages(page, 1);
    // Zeroed for now, as the file will hold it.
    std::vector<Byte> raw(PageSize, 1);
    disk->ReadCustomSize(page, PageSize, 0, 0, raw.data());
    EXPECT_EQ(raw, std::vector<Byte>(PageSize));
    if (GetParam() == VekAccessPaged) {
        EXPECT_EQ(ReadBack(*disk, page, 1, 5), std::vector<Byte>(PageSize));
    }
    EXPECT_EQ(Allocate(*disk, 6, 1, 3), page);
    // A later partial write on top of the reused page.
    const auto part = Pattern(40, 4);
    disk->WriteCustomSize(page + 100, 40, 6, GetParam(), part.data());
    // And a page released at the end stays released.
    disk->ReleasePages(spare, 1);
    disk->DiskCommit();

    auto expected = Pattern(PageSize, 3);
    std::copy(part.begin(), part.end(), expected.begin() + 100);
    auto other = Open();
    EXPECT_EQ(ReadBack(*other, page, 1, 6), expected);
    const auto file = ReadFileBytes(FPath);
    EXPECT_EQ(Slice(file, spare, PageSize), std::vector<Byte>(PageSize));
    EXPECT_EQ(MapEntry(*other, page), 6 * 16 + 9);
    EXPECT_EQ(MapEntry(*other, spare) & MapEntryFree, MapEntryFree);
}

TEST_P(DiskTransactionTest, ATransactionNeverOverlapsPagesAppendedByOthers)
{
    auto disk = Open();
    auto other = Open();
    disk->DiskStartTransaction(false); // its end of file is taken now
    const Cardinal theirs = Allocate(*other, 8, 2, 2);        // appended meanwhile
    const Cardinal ours = Allocate(*disk, 7, 2, 3);
    EXPECT_GE(ours, theirs + 2 * PageSize);
    disk->DiskCommit();
    EXPECT_EQ(ReadBack(*other, theirs, 2, 8), Pattern(2 * PageSize, 2));
    EXPECT_EQ(ReadBack(*other, ours, 2, 7), Pattern(2 * PageSize, 3));
    EXPECT_TRUE(other->DebugCheckContents());
}

TEST_P(DiskTransactionTest, ForceToDiskInsideATransactionDoesNotCommitIt)
{
    auto disk = Open();
    const auto before = ReadFileBytes(FPath);
    disk->DiskStartTransaction(false);
    Allocate(*disk, 2, 2, 1);
    disk->ForceToDisk();
    EXPECT_TRUE(disk->IsTransactionActive());
    EXPECT_EQ(ReadFileBytes(FPath), before);
    disk->DiskRollback();
    EXPECT_EQ(ReadFileBytes(FPath), before);
}

TEST_P(DiskTransactionTest, AnAllocatingTransactionKeepsOthersFromAllocating)
{
    auto disk = Open();
    auto other = OpenDatabase(FPath, PageSize);
    other->SetLockRetryCount(2);
    other->SetLockRetryInterval(5);
    other->Close();
    other->Open();
    disk->DiskStartTransaction(false);
    const Cardinal ours = Allocate(*disk, 2, 1, 1);
    EXPECT_VEK_ERROR(10249, Allocate(*other, 3, 1, 2));
    disk->DiskCommit();
    EXPECT_EQ(Allocate(*other, 3, 1, 2), ours + PageSize);
}

TEST_P(DiskTransactionTest, AHeaderChangedUnderAHeldLockIsCommitted)
{
    auto disk = Open();
    disk->DiskStartTransaction(false);
    disk->SetHeaderWriteLock();
    disk->GlobalHdr()->SetGlobalDBGenerator(1234);
    disk->DiskCommit();
    const auto file = ReadFileBytes(FPath);
    EXPECT_EQ(ReadLE32(file.data() + GlobalHeaderOffset + TGlobalHdr::OfsGlobalDBGenerator), 1234u);
}

// A transaction that only read gives its locks back at the commit as they
// are: another reader of the same table is no obstacle (a write lock would
// have to wait for it), the file is untouched, and nothing stays held.
TEST_P(DiskTransactionTest, ACommitThatWroteNothingReleasesItsReadLocksWithoutUpgrading)
{
    auto [disk, page, other, before] = OpenBesideAReader();

    disk->DiskStartTransaction(false);
    disk->SetTableLock(3, LockTypeRead);
    disk->SetTableLock(4, LockTypeWrite); // asked for writing, then left alone
    EXPECT_EQ(ReadBack(*disk, page, 1, 3), Pattern(PageSize, 1));
    EXPECT_EQ(MapEntry(*disk, page), 3 * 16 + 9);
    disk->DiskCommit();

    EXPECT_FALSE(disk->IsTransactionActive());
    EXPECT_EQ(disk->TableLockMgr()->Locks()->Count(), 0);
    EXPECT_EQ(disk->TransactionLockMgr()->Locks()->Count(), 0);
    EXPECT_FALSE(disk->HeaderLocked());
    EXPECT_EQ(ReadFileBytes(FPath), before);
    EXPECT_FALSE(FileExists(GetJournalFileName(FPath)));
    other->ReleaseTableLock(3);
    EXPECT_EQ(other->SetTableLock(3, LockTypeWrite), LockTypeWrite);
    EXPECT_EQ(other->SetTableLock(4, LockTypeWrite), LockTypeWrite);
    other->ReleaseAllLocks();
    // The next transaction of the same connection works as before.
    disk->DiskStartTransaction(false);
    const auto changed = Pattern(PageSize, 2);
    disk->WritePages(page, 1, 3, GetParam(), changed.data());
    disk->DiskCommit();
    EXPECT_EQ(ReadBack(*Open(), page, 1, 3), changed);
}

// A transaction that wrote still turns its read locks into write locks
// before it writes: while another connection reads its table the commit
// fails and leaves the file and the transaction as they were; once the
// reader is gone it commits through the journal.
TEST_P(DiskTransactionTest, ACommitThatWroteWaitsForTheOtherReadersOfItsTables)
{
    auto [disk, page, other, before] = OpenBesideAReader();

    disk->DiskStartTransaction(false);
    disk->SetTableLock(3, LockTypeWrite);
    const auto changed = Pattern(PageSize, 2);
    disk->WritePages(page, 1, 3, GetParam(), changed.data());
    EXPECT_VEK_ERROR(10249, disk->DiskCommit());
    EXPECT_TRUE(disk->IsTransactionActive());
    EXPECT_EQ(ReadFileBytes(FPath), before);

    other->ReleaseTableLock(3);
    disk->DiskCommit();
    EXPECT_FALSE(disk->IsTransactionActive());
    EXPECT_EQ(disk->TableLockMgr()->Locks()->Count(), 0);
    EXPECT_FALSE(FileExists(GetJournalFileName(FPath)));
    EXPECT_EQ(ReadBack(*Open(), page, 1, 3), changed);
}

// Look-ups of map entries spread over several map pages are answered from
// copies inside a transaction; every change of the map must show at once,
// and a rollback must bring the old entries back.
TEST_P(DiskTransactionTest, MapEntriesSeenInATransactionFollowEveryChangeOfTheMap)
{
    auto disk = Open();
    const Cardinal first = Allocate(*disk, 3, 1200, 1); // over three map pages
    const std::vector<Cardinal> probes = {first, first + 500 * PageSize, first + 1100 * PageSize};
    disk->DiskStartTransaction(false);
    for (int round = 0; round < 2; ++round)
        for (Cardinal page : probes)
            EXPECT_EQ(MapEntry(*disk, page), 3 * 16 + 9) << page;
    for (Cardinal page : probes) {
        disk->ReleasePages(page, 1);
        for (Cardinal other : probes)
            EXPECT_EQ(MapEntry(*disk, other) & MapEntryFree, other <= page ? MapEntryFree : 0) << other;
    }
    // Taken again by another table: the freed pages are found and marked anew.
    for (Cardinal page : probes) {
        EXPECT_EQ(Allocate(*disk, 7, 1, 2), page);
        EXPECT_EQ(MapEntry(*disk, page), 7 * 16 + 9);
    }
    disk->DiskRollback();
    disk->DiskStartTransaction(false);
    for (Cardinal page : probes)
        EXPECT_EQ(MapEntry(*disk, page), 3 * 16 + 9) << page;
    disk->DiskCommit();
    EXPECT_TRUE(disk->DebugCheckContents());
}

// The journal holds the bytes the file had before the transaction for every
// page it changed, enciphered as the file holds them: a commit failing at any
// of its writes, and a rollback after pages went to the file early, leave the
// file byte for byte as it was. Among the pages: one changed twice, one read
// under one table and overwritten whole under another, one released (zeroed
// through a byte range) and taken again, and new pages past the end.
TEST_P(DiskTransactionTest, TheJournalHoldsTheFilesOriginalBytesOfEveryChangedPage)
{
    Cardinal first = 0;
    {
        auto disk = Open();
        first = Allocate(*disk, 3, 12, 1);
    }
    const auto before = ReadFileBytes(FPath);
    const auto restore = [&] {
        std::ofstream out(FPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(before.data()), static_cast<std::streamsize>(before.size()));
    };
    const auto change = [&](TDiskMgr& Disk) {
        const auto at = [&](int Page) { return first + static_cast<Cardinal>(Page) * PageSize; };
        std::vector<Byte> page(PageSize);
        Disk.ReadPages(at(0), 1, 3, GetParam(), page.data());
        page[10] ^= 0xFF;
        Disk.WritePages(at(0), 1, 3, GetParam(), page.data());
        page[20] ^= 0xFF;
        Disk.WritePages(at(0), 1, 3, GetParam(), page.data());
        Disk.ReadPages(at(1), 1, 3, GetParam(), page.data());
        const auto other = Pattern(PageSize, 7);
        Disk.WritePages(at(1), 1, 5, GetParam(), other.data());
        Disk.ReadPages(at(2), 1, 3, GetParam(), page.data());
        Disk.ReleasePages(at(2), 1);
        EXPECT_EQ(Allocate(Disk, 3, 1, 8), at(2));
        for (int i = 3; i < 12; ++i) {
            Disk.ReadPages(at(i), 1, 3, GetParam(), page.data());
            page[static_cast<std::size_t>(i)] ^= 0x5A;
            Disk.WritePages(at(i), 1, 3, GetParam(), page.data());
        }
        Allocate(Disk, 3, 3, 9);
    };

    committest::TFaultInjector faults;
    int steps = 0;
    {
        auto disk = Open();
        disk->DiskStartTransaction(false);
        change(*disk);
        faults.Arm(committest::TFaultInjector::TMode::Count);
        disk->DiskCommit();
        faults.Disarm();
        steps = faults.Seen();
    }
    ASSERT_GE(steps, 4); // the journal written and flushed, the pages, the flush
    for (int step = 1; step <= steps; ++step) {
        SCOPED_TRACE("failing step " + std::to_string(step) + " of " + std::to_string(steps));
        restore();
        auto disk = Open();
        disk->DiskStartTransaction(false);
        change(*disk);
        faults.Arm(committest::TFaultInjector::TMode::FailOne, step);
        const Integer code = VekErrorCode([&] { disk->DiskCommit(); });
        faults.Disarm();
        if (code == 0)
            continue; // a flush of the folder after the journal went
        disk->DiskRollback();
        EXPECT_FALSE(FileExists(GetJournalFileName(FPath)));
        EXPECT_EQ(ReadFileBytes(FPath), before);
    }

    // Spilled: the smallest budget sends pages to the file as they change.
    restore();
    auto disk = Open();
    disk->SetSpillBudget(4 * PageSize);
    disk->DiskStartTransaction(false);
    change(*disk);
    EXPECT_TRUE(disk->VekFile()->Spilled());
    EXPECT_NE(ReadFileBytes(FPath), before);
    disk->DiskRollback();
    EXPECT_EQ(ReadFileBytes(FPath), before);
    EXPECT_TRUE(disk->DebugCheckContents());
}

INSTANTIATE_TEST_SUITE_P(Pages, DiskTransactionTest, disktest::PageAccessFlags(), disktest::PageAccessName);

// Enciphered pages never reach the file in clear, whichever way they go.
TEST(DiskEncryption, PagesNeverReachTheFileInClear)
{
    disktest::TTempDir dir;
    const std::string path = dir.File("secret.vek");
    CreateDatabase(path, PageSize);
    auto disk = OpenDatabase(path, PageSize);
    disk->SetCryptKey("a master key");
    std::vector<Byte> text;
    for (int i = 0; text.size() < static_cast<std::size_t>(PageSize); ++i) {
        const std::string line = "Customer " + std::to_string(i) + " owes 100.00; ";
        text.insert(text.end(), line.begin(), line.end());
    }
    text.resize(PageSize);
    const std::vector<Byte> probe(text.begin() + 300, text.begin() + 332);
    const Cardinal weak = disk->WriteNewPages(11, VekAccessPaged | VekAccessXOR, 9, 1, text.data());
    const Cardinal strong = disk->WriteNewPages(12, VekAccessPaged | VekAccessBlowfish, 9, 1, text.data());
    disk->DiskStartTransaction(false);
    const Cardinal weakTx = disk->WriteNewPages(11, VekAccessPaged | VekAccessXOR, 9, 1, text.data());
    const Cardinal strongTx = disk->WriteNewPages(12, VekAccessPaged | VekAccessBlowfish, 9, 1, text.data());
    disk->DiskCommit();
    disk.reset();

    const auto file = ReadFileBytes(path);
    EXPECT_FALSE(disktest::Contains(file, probe));
    // A connection with the same key reads the text; another key does not
    // decipher the strong pages.
    auto reader = OpenDatabase(path, PageSize);
    reader->SetCryptKey("a master key");
    for (auto [address, table, flags] : {std::tuple{weak, 11, VekAccessPaged | VekAccessXOR},
                                         std::tuple{strong, 12, VekAccessPaged | VekAccessBlowfish},
                                         std::tuple{weakTx, 11, VekAccessPaged | VekAccessXOR},
                                         std::tuple{strongTx, 12, VekAccessPaged | VekAccessBlowfish}}) {
        std::vector<Byte> back(PageSize);
        reader->ReadPages(address, 1, table, flags, back.data());
        EXPECT_EQ(back, text) << address;
    }
    auto stranger = OpenDatabase(path, PageSize);
    stranger->SetCryptKey("another key");
    std::vector<Byte> back(PageSize);
    stranger->ReadPages(strong, 1, 12, VekAccessPaged | VekAccessBlowfish, back.data());
    EXPECT_NE(back, text);
    // The scramble depends on the table id it was written under.
    stranger->ReadPages(weak, 1, 13, VekAccessPaged | VekAccessXOR, back.data());
    EXPECT_NE(back, text);
}

} // namespace
} // namespace orvex
