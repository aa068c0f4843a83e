// The lock managers: table, record and transaction locks as byte ranges of
// the lock file, with their retry rules.

#include "storage/vekLockMgrUnit.h"

#include "platform/FileIO.h"
#include "storage/vekConsts.h"

#include <algorithm>
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

TLockItem* TLockCollection::AddLock(Int64 RqID, Int64 LckAddr, Integer LckType, Int64 LckSize)
{
    auto* item = static_cast<TLockItem*>(Add());
    item->RqID = RqID;
    item->LckAddr = LckAddr;
    item->LckType = LckType;
    item->LckSize = LckSize;
    return item;
}

TLockItem* TLockCollection::FindLockInRegion(Int64 RqID, Integer LckType) const
{
    for (int i = 0; i < Count(); ++i) {
        TLockItem* item = Items(i);
        if (item->RqID == RqID && item->LckType == LckType)
            return item;
    }
    return nullptr;
}

Integer TLockCollection::FindLockType(Int64 RqID) const
{
    Integer strongest = LockTypeNone;
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->RqID == RqID)
            strongest = std::max(strongest, Items(i)->LckType);
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
    for (int i = FLocks->Count() - 1; i >= 0; --i) {
        const TLockItem* item = FLocks->Items(i);
        if (item->RqID != ID)
            continue;
        InternalReleaseFileLock(item->LckAddr, item->LckSize);
        FLocks->Delete(i);
    }
}

void TBaseLockMgr::ReleaseAllLocks()
{
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

// ---------------------------------------------------------------- TWinLockMgr

TWinLockMgr::~TWinLockMgr()
{
    // The database releases its locks before it frees the managers; this only
    // keeps a forgotten lock from outliving its manager on the shared handle.
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

// ------------------------------------------------------------------ factories

TBaseLockMgr* GetLockManager(TPlatformFile*, TPlatformFile* LockFileHandle, Int64 BaseOffset,
                             Int64 RegionSize, Integer)
{
    return new TWinLockMgr(LockFileHandle, BaseOffset, RegionSize);
}

TBaseLockMgr* CreateLockManager(TLockMgrKind Kind, TPlatformFile* LockFileHandle, Integer RetryCount,
                                Integer RetryInterval)
{
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
        manager = GetLockManager(nullptr, LockFileHandle, RecordLockBase, 1, 0);
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
