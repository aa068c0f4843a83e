// The lock managers: table, record and transaction locks as byte ranges of
// the lock file, with their retry rules.

#include "storage/vekLockMgrUnit.h"

#include "platform/FileIO.h"
#include "storage/vekConsts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace orvex {

namespace {

constexpr Integer ErrFileOpen = 8449;     // "Cannot open the requested file"
constexpr Integer ErrSystemFileIO = 8450; // "I/O error on a system file"
constexpr Integer ErrLockTimeout = 10249; // "The requested lock could not be obtained. ..."

// Read locks pick a random byte of their region, and the transaction-lock
// interval is random too: seed the generator when the engine loads, so that
// processes draw differently.
[[maybe_unused]] const bool GRandomSeeded = (Randomize(), true);

void BeepOnce()
{
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

} // namespace

// ------------------------------------------------------------ TLockCollection

TLockCollection::TLockCollection() : TCollection(ItemClassOf<TLockItem>()) {}

TLockCollection::~TLockCollection()
{
    // The base destructor frees the items without notifying; the index goes first.
    FSlots.clear();
    FUsed = 0;
}

std::size_t TLockCollection::SlotOf(Int64 RqID) const
{
    // Fibonacci hashing spreads neighbouring ids (record addresses) apart.
    return static_cast<std::size_t>((static_cast<std::uint64_t>(RqID) * 0x9E3779B97F4A7C15ULL) >> 32) &
           (FSlots.size() - 1);
}

std::size_t TLockCollection::FindSlot(Int64 RqID) const
{
    const std::size_t mask = FSlots.size() - 1;
    std::size_t at = SlotOf(RqID);
    while (FSlots[at].First && FSlots[at].ID != RqID)
        at = (at + 1) & mask;
    return at;
}

void TLockCollection::Grow()
{
    std::vector<TSlot> old = std::move(FSlots);
    FSlots.assign(old.empty() ? 16 : old.size() * 2, TSlot{});
    for (const TSlot& slot : old)
        if (slot.First)
            FSlots[FindSlot(slot.ID)] = slot;
}

TLockItem* TLockCollection::AddLock(Int64 RqID, Int64 LckAddr, Integer LckType, Int64 LckSize)
{
    if ((FUsed + 1) * 2 > FSlots.size())
        Grow();
    auto* item = static_cast<TLockItem*>(Add());
    item->RqID = RqID;
    item->LckAddr = LckAddr;
    item->LckType = LckType;
    item->LckSize = LckSize;
    TSlot& slot = FSlots[FindSlot(RqID)];
    if (!slot.First) {
        slot.ID = RqID;
        slot.First = item;
        ++FUsed;
    } else {
        TLockItem* last = slot.First;
        while (last->FNextOfID)
            last = last->FNextOfID;
        last->FNextOfID = item;
    }
    return item;
}

TLockItem::~TLockItem()
{
    // While its collection is itself being destroyed it is no longer a lock
    // collection, and its index is gone already.
    if (auto* owner = dynamic_cast<TLockCollection*>(Collection()))
        owner->Forget(this);
}

void TLockCollection::Forget(TLockItem* lock)
{
    if (FSlots.empty())
        return;
    const std::size_t mask = FSlots.size() - 1;
    std::size_t at = FindSlot(lock->RqID);
    TSlot& slot = FSlots[at];
    if (!slot.First)
        return;
    if (slot.First != lock) {
        for (TLockItem* prior = slot.First; prior->FNextOfID; prior = prior->FNextOfID)
            if (prior->FNextOfID == lock) {
                prior->FNextOfID = lock->FNextOfID;
                break;
            }
        return;
    }
    if (lock->FNextOfID) {
        slot.First = lock->FNextOfID;
        return;
    }
    // The id's last lock: empty the slot and move later entries of the probe
    // back, so that no probe runs into a hole (no deleted marks needed).
    slot = TSlot{};
    --FUsed;
    for (std::size_t next = (at + 1) & mask; FSlots[next].First; next = (next + 1) & mask) {
        const std::size_t home = SlotOf(FSlots[next].ID);
        // The entry may move to the hole when its home does not lie in (at, next].
        const bool stays = at <= next ? (home > at && home <= next) : (home > at || home <= next);
        if (!stays) {
            FSlots[at] = FSlots[next];
            FSlots[next] = TSlot{};
            at = next;
        }
    }
}

void TLockCollection::Clear()
{
    // The index goes first, so that the items leave without a look-up each.
    FSlots.clear();
    FUsed = 0;
    TCollection::Clear();
}

TLockItem* TLockCollection::FirstLockOf(Int64 RqID) const
{
    if (FSlots.empty())
        return nullptr;
    return FSlots[FindSlot(RqID)].First;
}

TLockItem* TLockCollection::FindLockInRegion(Int64 RqID, Integer LckType) const
{
    for (TLockItem* item = FirstLockOf(RqID); item; item = item->NextOfID())
        if (item->LckType == LckType)
            return item;
    return nullptr;
}

Integer TLockCollection::FindLockType(Int64 RqID) const
{
    Integer strongest = LockTypeNone;
    for (const TLockItem* item = FirstLockOf(RqID); item; item = item->NextOfID())
        strongest = std::max(strongest, item->LckType);
    return strongest;
}

void TLockCollection::DebugDumpStatus(TStrings* List) const
{
    List->Add("TLockCollection.DebugDumpStatus - start");
    for (int i = 0; i < Count(); ++i) {
        const TLockItem* item = Items(i);
        List->Add(Format("RqID %d  LckType %d  LckAddr %d  LckSize %d",
                         {item->RqID, item->LckType, item->LckAddr, item->LckSize}));
    }
    List->Add("TLockCollection.DebugDumpStatus - end");
}

// --------------------------------------------------------------- TBaseLockMgr

TBaseLockMgr::TBaseLockMgr(TPlatformFile* Handle, Int64 BaseOffset, Int64 RegionSize)
    : FHandle(Handle), FLocks(std::make_unique<TLockCollection>()), FRegionSize(RegionSize),
      FBaseOffset(BaseOffset)
{
    ORVEX_ASSERT(Handle != nullptr, "File handle is not set");
    ORVEX_ASSERT(RegionSize != 0, "Lock region size is 0");
}

TBaseLockMgr::~TBaseLockMgr() = default;

Int64 TBaseLockMgr::GetCalculatedLockAddr(Int64 ID) const
{
    return FRegionSize < 2 ? FBaseOffset + ID : FBaseOffset + ID * FRegionSize;
}

Int64 TBaseLockMgr::LockWithRetries(const std::function<Int64()>& NextAddress, Int64 Size,
                                    Integer LockType)
{
    // A retry count of 0 or less still makes one attempt.
    const Integer attempts = std::max<Integer>(1, FLockRetryCount);
    for (Integer attempt = 0; attempt < attempts; ++attempt) {
        const Int64 address = NextAddress();
        if (InternalLockFile(address, Size, LockType))
            return address;
        if (FBeepOnLockRetry)
            BeepOnce();
        Sleep(static_cast<std::uint32_t>(std::max<Integer>(0, FLockRetryInterval)));
    }
    return -1;
}

bool TBaseLockMgr::SetReadLock(Int64 ID, Int64 Size)
{
    if (FLocks->FindLockInRegion(ID, LockTypeRead))
        return true;
    if (!FHandle)
        VekDatabaseError(ErrFileOpen, "TBaseLockMgr.SetReadLock", "", this);
    if (Size == 0)
        Size = 1;
    ORVEX_ASSERT(Size <= FRegionSize, "Lock Request size is out of range");
    // A new random place for every attempt: two readers that drew the same
    // byte meet again only by chance. The lock stays inside the region.
    const Int64 region = GetCalculatedLockAddr(ID);
    const Int64 places = FRegionSize - Size + 1;
    const Int64 address = LockWithRetries(
        [&] { return places > 1 ? region + Random(static_cast<int>(places)) : region; }, Size,
        LockTypeRead);
    if (address < 0)
        VekDatabaseError(ErrLockTimeout, "TBaseLockMgr.SetReadLock", FReadLockErrMsg, this);
    FLocks->AddLock(ID, address, LockTypeRead, Size);
    return true;
}

Integer TBaseLockMgr::SetWriteLock(Int64 ID, Int64 Size)
{
    if (!FHandle)
        VekDatabaseError(ErrSystemFileIO, "TBaseLockMgr.SetWriteLock", "File handle is invalid", this);
    ORVEX_ASSERT(Size <= FRegionSize, "Lock size is greater than lock region");
    if (FLocks->FindLockInRegion(ID, LockTypeWrite))
        return LockTypeWrite;
    if (FLocks->FindLockInRegion(ID, LockTypeRead)) {
        UpgradeReadLockToWriteLock(ID, Size);
        return LockTypeWrite;
    }
    if (Size == 0)
        Size = FRegionSize;
    const Int64 region = GetCalculatedLockAddr(ID);
    if (LockWithRetries([region] { return region; }, Size, LockTypeWrite) < 0)
        VekDatabaseError(ErrLockTimeout, "TBaseLockMgr.SetWriteLock", FWriteLockErrMsg, this);
    FLocks->AddLock(ID, region, LockTypeWrite, Size);
    return LockTypeWrite;
}

bool TBaseLockMgr::UpgradeReadLockToWriteLock(Int64 ID, Int64 Size)
{
    if (!InternalUpgradeReadLock(ID, Size))
        VekDatabaseError(ErrLockTimeout, "TBaseLockMgr.UpgradeReadLockToWriteLock", FWriteLockErrMsg,
                         this);
    return true;
}

void TBaseLockMgr::UpgradeReadLocks()
{
    struct THeld {
        Int64 ID;
        Int64 Size;
    };
    std::vector<THeld> held;
    for (int i = 0; i < FLocks->Count(); ++i)
        held.push_back({FLocks->Items(i)->RqID, FLocks->Items(i)->LckSize});
    for (const THeld& lock : held)
        SetWriteLock(lock.ID, lock.Size);
}

void TBaseLockMgr::ReleaseLock(Int64 ID)
{
    // Newest first (an id holds at most a read lock and the two parts of its
    // upgrade); each item leaves the index as it is freed.
    while (TLockItem* newest = FLocks->FirstLockOf(ID)) {
        while (newest->NextOfID())
            newest = newest->NextOfID();
        InternalReleaseFileLock(newest->LckAddr, newest->LckSize);
        delete newest;
    }
}

void TBaseLockMgr::ReleaseAllLocks()
{
    if (FLocks->Count() == 0)
        return;
    if (InternalReleaseAllFileLocks()) {
        FLocks->Clear();
        return;
    }
    for (int i = FLocks->Count() - 1; i >= 0; --i) {
        const TLockItem* item = FLocks->Items(i);
        InternalReleaseFileLock(item->LckAddr, item->LckSize);
        FLocks->Delete(i);
    }
}

Integer TBaseLockMgr::QueryLockType(Int64 ID) const
{
    return FLocks->FindLockType(ID);
}

bool TBaseLockMgr::LockExists(Int64 ID, Integer LockType) const
{
    return FLocks->FindLockInRegion(ID, LockType) != nullptr;
}

void TBaseLockMgr::DebugDumpStatus(TStrings* List) const
{
    List->Add("TBaseLockMgr.DebugDumpStatus");
    List->Add("Hnd - " + IntToStr(FHandle ? FHandle->Handle() : 0));
    FLocks->DebugDumpStatus(List);
}

bool TBaseLockMgr::InternalReleaseFileLock(Int64, Int64)
{
    return false;
}

bool TBaseLockMgr::InternalLockFile(Int64, Int64, Integer)
{
    return false;
}

bool TBaseLockMgr::InternalUpgradeReadLock(Int64, Int64)
{
    return false;
}

bool TBaseLockMgr::InternalReleaseAllFileLocks()
{
    return false;
}

// ---------------------------------------------------------------- TWinLockMgr

TWinLockMgr::~TWinLockMgr()
{
    // The database releases its locks before it frees the managers; this only
    // keeps a forgotten lock from outliving its manager on the shared handle.
    if (FLocks->Count() > 0 && InternalReleaseAllFileLocks())
        return;
    for (int i = FLocks->Count() - 1; i >= 0; --i)
        FHandle->UnlockRange(static_cast<std::uint64_t>(FLocks->Items(i)->LckAddr),
                             static_cast<std::uint64_t>(FLocks->Items(i)->LckSize));
}

bool TWinLockMgr::InternalReleaseFileLock(Int64 Address, Int64 Size)
{
    if (!FHandle)
        VekDatabaseError(ErrSystemFileIO, "TWinLockMgr.InternalReleaseFileLock", "File handle is invalid",
                         this);
    return FHandle->UnlockRange(static_cast<std::uint64_t>(Address), static_cast<std::uint64_t>(Size));
}

bool TWinLockMgr::InternalLockFile(Int64 Address, Int64 Size, Integer)
{
    if (!FHandle)
        VekDatabaseError(ErrSystemFileIO, "TWinLockMgr.InternalLockFile", "File handle is invalid", this);
    return Address >= 0 &&
           FHandle->LockRange(static_cast<std::uint64_t>(Address), static_cast<std::uint64_t>(Size));
}

bool TWinLockMgr::InternalReleaseAllFileLocks()
{
    if (!FHandle)
        return false;
    Int64 low = FLocks->Items(0)->LckAddr;
    Int64 high = low;
    for (int i = 0; i < FLocks->Count(); ++i) {
        const TLockItem* item = FLocks->Items(i);
        if (item->LckAddr < 0 || item->LckSize <= 0)
            return false;
        low = std::min(low, item->LckAddr);
        high = std::max(high, item->LckAddr + item->LckSize);
    }
    // Only when every range the handle holds in the span is one of ours: the
    // handle is shared with the other managers and the connection's own bytes.
    const auto start = static_cast<std::uint64_t>(low);
    const auto length = static_cast<std::uint64_t>(high - low);
    if (FHandle->LockedRangeCountWithin(start, length) != FLocks->Count())
        return false;
    return FHandle->UnlockRangesWithin(start, length) == FLocks->Count();
}

bool TWinLockMgr::InternalUpgradeReadLock(Int64 ID, Int64)
{
    const TLockItem* read = FLocks->FindLockInRegion(ID, LockTypeRead);
    if (!read)
        return false;
    const Int64 region = GetCalculatedLockAddr(ID);
    const Int64 before = read->LckAddr - region;
    const Int64 afterStart = read->LckAddr + read->LckSize;
    const Int64 after = region + FRegionSize - afterStart;

    TLockItem* first = nullptr;
    if (before > 0) {
        if (LockWithRetries([region] { return region; }, before, LockTypeWrite) < 0)
            return false;
        first = FLocks->AddLock(ID, region, LockTypeWrite, before);
    }
    if (after > 0) {
        if (LockWithRetries([afterStart] { return afterStart; }, after, LockTypeWrite) < 0) {
            if (first) {
                InternalReleaseFileLock(first->LckAddr, first->LckSize);
                FLocks->Delete(first->Index());
            }
            return false;
        }
        FLocks->AddLock(ID, afterStart, LockTypeWrite, after);
    }
    return true;
}

// ------------------------------------------------------------- TRecordLockMgr

TRecordLockMgr::TRecordLockMgr(TPlatformFile* Handle, TRecordLockTable* Table)
    : TBaseLockMgr(Handle, RecordLockBase, 1), FTable(Table)
{
    ORVEX_ASSERT(Table != nullptr, "The record-lock table is not open");
}

TRecordLockMgr::~TRecordLockMgr()
{
    try {
        if (FLocks->Count() > 0)
            InternalReleaseAllFileLocks();
    } catch (...) {
        // The entries of a connection that cannot reach its table any more
        // die with its owner byte.
    }
}

bool TRecordLockMgr::InternalReleaseFileLock(Int64 Address, Int64)
{
    FTable->Unlock(static_cast<Cardinal>(Address - FBaseOffset));
    return true;
}

bool TRecordLockMgr::InternalLockFile(Int64 Address, Int64, Integer)
{
    const Int64 record = Address - FBaseOffset;
    return record >= 0 && record <= 0xFFFFFFFFLL && FTable->TryLock(static_cast<Cardinal>(record));
}

bool TRecordLockMgr::InternalUpgradeReadLock(Int64, Int64)
{
    return true;
}

bool TRecordLockMgr::InternalReleaseAllFileLocks()
{
    std::vector<Cardinal> records;
    records.reserve(static_cast<std::size_t>(FLocks->Count()));
    for (int i = 0; i < FLocks->Count(); ++i)
        records.push_back(static_cast<Cardinal>(FLocks->Items(i)->LckAddr - FBaseOffset));
    FTable->UnlockAll(records);
    return true;
}

// ------------------------------------------------------------------ factories

TBaseLockMgr* GetLockManager(TPlatformFile*, TPlatformFile* LockFileHandle, Int64 BaseOffset,
                             Int64 RegionSize, Integer)
{
    return new TWinLockMgr(LockFileHandle, BaseOffset, RegionSize);
}

TBaseLockMgr* CreateLockManager(TLockMgrKind Kind, TDBUserMonitor* Monitor, Integer RetryCount,
                                Integer RetryInterval)
{
    ORVEX_ASSERT(Monitor && Monitor->Active(), "The lock file is not open");
    TPlatformFile* LockFileHandle = Monitor->LockFileHandle();
    TBaseLockMgr* manager = nullptr;
    switch (Kind) {
    case lmkTable:
        manager = GetLockManager(nullptr, LockFileHandle, TableLockBase, TableLockRegionSize, 0);
        manager->SetLockRetryCount(RetryCount);
        manager->SetLockRetryInterval(RetryInterval);
        manager->SetReadLockErrMsg(SvekTableReadLockErr);
        manager->SetWriteLockErrMsg(SvekTableWriteLockErr);
        break;
    case lmkRecord:
        manager = new TRecordLockMgr(LockFileHandle, Monitor->RecordLocks());
        manager->SetLockRetryCount(RetryCount);
        manager->SetLockRetryInterval(RetryInterval);
        manager->SetReadLockErrMsg(SvekRecordLockErr);
        manager->SetWriteLockErrMsg(SvekRecordLockErr);
        break;
    case lmkTransaction:
        manager = GetLockManager(nullptr, LockFileHandle, TransactionLockBase, 1, 0);
        manager->SetLockRetryCount(TransactionLockRetries);
        manager->SetLockRetryInterval(TransactionLockIntervalBase +
                                      Random(TransactionLockIntervalSpread));
        manager->SetReadLockErrMsg(SvekTransactionLockErr);
        manager->SetWriteLockErrMsg(SvekTransactionLockErr);
        break;
    }
    return manager;
}

} // namespace orvex
