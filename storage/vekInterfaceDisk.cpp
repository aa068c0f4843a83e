// TDiskIOInterface: fixed-size blocks in pages of the database file, with a
// chain of free runs kept by the owner or in the global header.

#include "storage/vekInterfaceUnit.h"

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDisk.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrCorruption = 8451;     // "Data structure corruption"
constexpr Integer ErrNotInitialized = 8576; // "System object is not initialized"
constexpr Integer ErrInternal = 8581;       // "There was an unexpected internal error ..."

constexpr const char* SNonGlobalFirstEmpty = "DiskIOInterface - non global first empty not set";

} // namespace

TDiskIOInterface::TDiskIOInterface()
{
    FIOMode = iomDiskFixedSize;
}

TDiskIOInterface::~TDiskIOInterface()
{
    Close();
}

// ---------------------------------------------------------------- life cycle

void TDiskIOInterface::Open()
{
    constexpr const char* Context = "TDiskIOInterface.Open";
    if (!FDiskMgr)
        VekDatabaseError(ErrInternal, Context, "Unable to open Disk IOInterface - DiskMgr is null", this);
    if (FUsage == 0)
        VekDatabaseError(ErrInternal, Context, "Unable to open Disk IOInterface - Usage is not set", this);
    if (FBlockSize == 0)
        VekDatabaseError(ErrInternal, Context, "Unable to open Disk IOInterface - Block size is 0", this);
    // A free block carries its run's header at bytes 8 to 15.
    if (FBlockSize < MinDiskBlockSize)
        VekDatabaseError(ErrInternal, Context,
                         Format("Unable to open Disk IOInterface - Block size %d is below %d",
                                {FBlockSize, MinDiskBlockSize}),
                         this);
    if (IsOpen())
        GDBLogger->LogItem(Context, Format("Open- BlockSize %d FirstEmpty %d", {FBlockSize, FFirstEmpty}));
    else
        FWorkBuffer.assign(static_cast<std::size_t>(FBlockSize), 0);
    TBaseIOInterface::Open();
}

void TDiskIOInterface::Close()
{
    FWorkBuffer.clear();
    FWorkBuffer.shrink_to_fit();
}

void TDiskIOInterface::RequireDiskMgr(const char* Context) const
{
    if (!FDiskMgr)
        VekDatabaseError(ErrNotInitialized, Context, "DiskMgr is null", const_cast<TDiskIOInterface*>(this));
}

void TDiskIOInterface::RequireOpen(const char* Context) const
{
    RequireDiskMgr(Context);
    if (!IsOpen())
        VekDatabaseError(ErrNotInitialized, Context, "Disk IOInterface is not open",
                         const_cast<TDiskIOInterface*>(this));
}

// ---------------------------------------------------------------- free chain

Cardinal TDiskIOInterface::GetGlobalFirstEmpty()
{
    constexpr const char* Context = "TDiskIOInterface.GetGlobalFirstEmpty";
    if (!IsGlobal())
        VekDatabaseError(ErrInternal, Context, "Unable to get a global first empty. Not a global interface",
                         this);
    RequireDiskMgr(Context);
    // Under a header lock the header in memory is the current one; without
    // one, another connection may have moved the head: taking a lock reads
    // the header again.
    if (!FDiskMgr->HeaderLocked()) {
        FDiskMgr->SetHeaderReadLock();
        FDiskMgr->ReleaseHeaderLock();
    }
    FFirstEmpty = FDiskMgr->GlobalHdr()->GlobalInterfaceGetHdrItem(FGlobalFirstEmptyOffset);
    FFirstEmptyValid = true;
    return FFirstEmpty;
}

void TDiskIOInterface::SetGlobalFirstEmpty()
{
    constexpr const char* Context = "TDiskIOInterface.SetGlobalFirstEmpty";
    if (!FFirstEmptyValid)
        VekDatabaseError(ErrInternal, Context, "Attempt to write non validated first empty to global header",
                         this);
    RequireDiskMgr(Context);
    FDiskMgr->GlobalHdr()->GlobalInterfaceSetHdrItem(FFirstEmpty, FGlobalFirstEmptyOffset);
}

template <class F>
void TDiskIOInterface::ChangeFreeChain(const char* Context, F&& Change)
{
    if (!IsGlobal()) {
        if (!FFirstEmptyValid)
            VekDatabaseError(ErrInternal, Context, SNonGlobalFirstEmpty, this);
        Change();
        return;
    }
    // Taking the lock reads the header again; a lock held already means the
    // header in memory is the current one (and may hold changes of ours that
    // a second read would lose).
    const bool taken = !FDiskMgr->HeaderLocked();
    if (!FDiskMgr->HeaderWriteLocked())
        FDiskMgr->SetHeaderWriteLock();
    try {
        FFirstEmpty = FDiskMgr->GlobalHdr()->GlobalInterfaceGetHdrItem(FGlobalFirstEmptyOffset);
        FFirstEmptyValid = true;
        Change();
        SetGlobalFirstEmpty();
        if (FDiskMgr->GlobalHdr()->Dirty())
            FDiskMgr->WriteHeader();
    } catch (...) {
        // The head in memory may be ahead of the stored one: load it afresh next time.
        FFirstEmptyValid = false;
        if (taken) {
            try {
                FDiskMgr->ReleaseHeaderLock();
            } catch (...) {
                // The failure being raised is the one to report.
            }
        }
        throw;
    }
    if (taken)
        FDiskMgr->ReleaseHeaderLock();
}

void TDiskIOInterface::ReadFreeRun(Cardinal Address, Cardinal& Next, Cardinal& Count)
{
    // Whole blocks only: inside a transaction the file's byte ranges are
    // held per address and size.
    FWorkBuffer.assign(static_cast<std::size_t>(FBlockSize), 0);
    FDiskMgr->ReadCustomSize(Address, FBlockSize, FTableID, FAccessFlags, FWorkBuffer.data());
    Next = ReadLE32(FWorkBuffer.data() + FreeRunNextOffset);
    Count = ReadLE32(FWorkBuffer.data() + FreeRunCountOffset);
}

void TDiskIOInterface::CheckFreeRun(Cardinal Address, Cardinal Next, Cardinal Count, const char* Context)
{
    // The run and the next one must lie in the file: a damaged count or
    // link would hand out, or write a run header into, bytes that belong to
    // something else or lie beyond the end. The file's size is asked for
    // only when a run reaches past the largest size seen (files only grow
    // while open, so a known size is never too small).
    const Int64 block = FBlockSize;
    const Int64 end = std::max<Int64>(Int64{Address} + Int64{Count} * block, Next != 0 ? Int64{Next} + block : 0);
    if (Count == 0 || end > FKnownFileSize) {
        FKnownFileSize = std::max(FKnownFileSize, FDiskMgr->GetFileSize());
        if (Count == 0 || end > FKnownFileSize)
            VekDatabaseError(ErrCorruption, Context,
                             Format("Damaged free run at %u: %u blocks, next %u", {Address, Count, Next}), this);
    }
}

void TDiskIOInterface::WriteFreeRun(Cardinal Address, Cardinal Next, Cardinal Count)
{
    FWorkBuffer.assign(static_cast<std::size_t>(FBlockSize), 0);
    WriteLE32(FWorkBuffer.data() + FreeRunNextOffset, Next);
    WriteLE32(FWorkBuffer.data() + FreeRunCountOffset, Count);
    FDiskMgr->WriteCustomSize(Address, FBlockSize, FTableID, FAccessFlags, FWorkBuffer.data());
}

void TDiskIOInterface::WritePaddedBlock(Cardinal Address, Integer Size, const void* Buffer)
{
    if (Buffer && Size == FBlockSize) {
        FDiskMgr->WriteCustomSize(Address, FBlockSize, FTableID, FAccessFlags, Buffer);
        return;
    }
    FWorkBuffer.assign(static_cast<std::size_t>(FBlockSize), 0);
    if (Buffer && Size > 0)
        std::memcpy(FWorkBuffer.data(), Buffer, static_cast<std::size_t>(Size));
    FDiskMgr->WriteCustomSize(Address, FBlockSize, FTableID, FAccessFlags, FWorkBuffer.data());
}

// ---------------------------------------------------------------- allocation

Cardinal TDiskIOInterface::AllocateFromNewPages(Integer Size, const void* Buffer)
{
    // A request of whole pages for one block and the spare blocks after it,
    // which start the free chain. The request depends on the block size
    // only, so that the blocks of every request lie where ListBlocks finds
    // them.
    const Integer pageSize = FDiskMgr->PageSize();
    const Integer request = FIOMode == iomDiskVariableSize
                                ? (FBlockSize + pageSize - 1) / pageSize * pageSize
                                : GetBestPageRequestSize(FBlockSize, pageSize);
    const Integer spare = (request - FBlockSize) / FBlockSize;
    std::vector<Byte> pages(static_cast<std::size_t>(request), 0);
    if (Buffer && Size > 0)
        std::memcpy(pages.data(), Buffer, static_cast<std::size_t>(Size));
    if (spare > 0)
        WriteLE32(pages.data() + FBlockSize + FreeRunCountOffset, static_cast<Cardinal>(spare));
    const Cardinal address = FDiskMgr->WriteNewPages(FTableID, FAccessFlags, FUsage, request / pageSize,
                                                     pages.data());
    if (spare > 0)
        FFirstEmpty = address + static_cast<Cardinal>(FBlockSize);
    return address;
}

Cardinal TDiskIOInterface::AllocateNewAddress(Integer Size, const void* Buffer)
{
    constexpr const char* Context = "TDiskIOInterface.AllocateNewAddress";
    RequireOpen(Context);
    if (Size > FBlockSize || Size < 0)
        VekDatabaseError(ErrInternal, Context, "Block request sizes < block size", this);
    Cardinal address = 0;
    ChangeFreeChain(Context, [&] {
        if (FFirstEmpty == 0) {
            address = AllocateFromNewPages(Size, Buffer);
            return;
        }
        // The front block of the first run; the rest of the run, if any,
        // stays at the front of the chain. Its header goes out before the
        // block is overwritten, so a failure leaves the chain whole.
        address = FFirstEmpty;
        Cardinal next = 0;
        Cardinal count = 0;
        ReadFreeRun(address, next, count);
        CheckFreeRun(address, next, count, Context);
        Cardinal head = next;
        if (count > 1) {
            head = address + static_cast<Cardinal>(FBlockSize);
            WriteFreeRun(head, next, count - 1);
        }
        WritePaddedBlock(address, Size, Buffer);
        FFirstEmpty = head;
    });
    return address;
}

void TDiskIOInterface::ReleaseBlock(Cardinal Address, Integer Size)
{
    constexpr const char* Context = "TDiskIOInterface.ReleaseBlock";
    RequireOpen(Context);
    // Address 0 is the database definition record, never a block.
    if (Address == 0)
        VekDatabaseError(ErrInternal, Context, "Invalid block address 0", this);
    ChangeFreeChain(Context, [&] {
        const Integer pageSize = FDiskMgr->PageSize();
        if (Size >= pageSize && Address % static_cast<Cardinal>(pageSize) == 0 && Size % pageSize == 0) {
            FDiskMgr->ReleasePages(Address, Size / pageSize);
            return;
        }
        const Integer count = std::max<Integer>(1, (Size + FBlockSize - 1) / FBlockSize);
        WriteFreeRun(Address, FFirstEmpty, static_cast<Cardinal>(count));
        FWorkBuffer.assign(static_cast<std::size_t>(FBlockSize), 0);
        for (Integer i = 1; i < count; ++i)
            FDiskMgr->WriteCustomSize(Address + static_cast<Cardinal>(i * FBlockSize), FBlockSize, FTableID,
                                      FAccessFlags, FWorkBuffer.data());
        FFirstEmpty = Address;
    });
}

void TDiskIOInterface::Empty(bool ByType)
{
    RequireDiskMgr("TDiskIOInterface.Empty");
    FDiskMgr->DeleteOwnedPages(FTableID, FUsage, ByType);
    FFirstEmptyValid = false;
}

// ----------------------------------------------------------------- transfers

void TDiskIOInterface::WriteBlock(Cardinal Address, Integer Size, const void* Buffer)
{
    RequireDiskMgr("TDiskIOInterface.WriteBlock");
    FDiskMgr->WriteCustomSize(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::WriteBlockByRef(Cardinal Address, Integer Size, const void* Buffer)
{
    RequireDiskMgr("TDiskIOInterface.WriteBlockByRef");
    FDiskMgr->WriteCustomSizeByRef(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::ReadBlock(Cardinal Address, Integer Size, void* Buffer)
{
    RequireDiskMgr("TDiskIOInterface.ReadBlock");
    FDiskMgr->ReadCustomSize(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::ReadBlockByRef(Cardinal Address, Integer Size, void*& P)
{
    RequireDiskMgr("TDiskIOInterface.ReadBlockByRef");
    FDiskMgr->ReadCustomSizeByRef(Address, Size, FTableID, FAccessFlags, P);
}

void TDiskIOInterface::ReadBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, void* Buffer,
                                  const std::function<void(std::size_t)>& Visit)
{
    RequireDiskMgr("TDiskIOInterface.ReadBlocks");
    FDiskMgr->ReadCustomSizeBlocks(Addresses, Count, Size, FTableID, FAccessFlags, Buffer, Visit);
}

void TDiskIOInterface::WriteBlockHeader(Cardinal Address, Integer Size, const void* Buffer)
{
    WriteBlock(Address, Size, Buffer);
}

void TDiskIOInterface::ReadBlockHeader(Cardinal Address, Integer Size, void* Buffer)
{
    ReadBlock(Address, Size, Buffer);
}

// --------------------------------------------------------------- diagnostics

void TDiskIOInterface::ListBlocks(std::vector<Cardinal>& List)
{
    RequireDiskMgr("TDiskIOInterface.ListBlocks");
    List.clear();
    FDiskMgr->ListAllocatedFixedBlocks(FBlockSize, FTableID, FUsage, List);
}

bool TDiskIOInterface::LendBlock(Cardinal Address, Integer Size, void*& P, bool*& Checked)
{
    // The page is dirty from the start: a change left half done by a failure
    // goes with the transaction's rollback, never stays in a clean page.
    return FDiskMgr && FDiskMgr->IsOpen() &&
           FDiskMgr->VekFile()->LendVekFileByRef(P, Checked, Address, Size, FTableID, FAccessFlags);
}

void TDiskIOInterface::ReturnLentBlocks()
{
    if (FDiskMgr && FDiskMgr->IsOpen())
        FDiskMgr->VekFile()->ReturnLentPages();
}

Cardinal TDiskIOInterface::LendEpoch() const
{
    return FDiskMgr && FDiskMgr->VekFile() ? FDiskMgr->VekFile()->Cache()->LendEpoch() : 0;
}

Cardinal TDiskIOInterface::CacheEpoch() const
{
    return FDiskMgr && FDiskMgr->VekFile() ? FDiskMgr->VekFile()->CacheEpoch() : 0;
}

Cardinal TDiskIOInterface::ChainLimit()
{
    RequireDiskMgr("TDiskIOInterface.ChainLimit");
    const Int64 blockSize = std::max<Integer>(FBlockSize, 1);
    return static_cast<Cardinal>(std::min<Int64>(FDiskMgr->GetFileSize() / blockSize + 1, 0xFFFFFFFFu));
}

void TDiskIOInterface::NotifyPageChange(Integer TableID)
{
    RequireDiskMgr("TDiskIOInterface.NotifyPageChange");
    FDiskMgr->VekFile()->Cache()->ClearOwnedPages(TableID);
}

} // namespace orvex
