// TMemoryIOInterface: blocks in memory slabs kept per block size, each
// addressed by a 32-bit handle from one table for the whole process (heap
// addresses do not fit in the engine's 32-bit block addresses).

#include "storage/vekInterfaceUnit.h"

#include "platform/PageMemory.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581; // "There was an unexpected internal error ..."

// Hands out the addresses of memory blocks to every interface of the
// process: never 0, never one that is still in use. Released addresses are
// handed out again oldest first, and only once more than ReuseDelay others
// wait behind them, so that an address used after its release is most
// likely unknown rather than another block's.
class TMemoryBlockHandles {
public:
    static TMemoryBlockHandles& Instance()
    {
        // Never destroyed: interfaces in static storage may release their
        // blocks after every other static object has gone.
        static auto* handles = new TMemoryBlockHandles;
        return *handles;
    }

    // Up to Count addresses appended to Out: released ones that waited
    // long enough, then fresh ones in one run (which keeps an interface's
    // addresses together); none only when every 32-bit address is in use.
    void AcquireRun(std::vector<Cardinal>& Out, std::size_t Count)
    {
        std::lock_guard guard(FLock);
        const std::size_t before = Out.size();
        for (; Count > 0 && FReleased.size() > ReuseDelay; --Count) {
            Out.push_back(FReleased.front());
            FReleased.pop_front();
        }
        for (; Count > 0 && FNext != 0; --Count)
            Out.push_back(FNext++); // after 0xFFFFFFFF it wraps to 0: no fresh address left
        if (Out.size() == before && !FReleased.empty()) {
            Out.push_back(FReleased.front());
            FReleased.pop_front();
        }
    }

    void Release(Cardinal Handle)
    {
        std::lock_guard guard(FLock);
        FReleased.push_back(Handle);
    }

private:
    static constexpr std::size_t ReuseDelay = 4096;

    std::mutex FLock;
    Cardinal FNext = 1;              // the lowest address never handed out
    std::deque<Cardinal> FReleased; // oldest first
};

} // namespace

TMemoryIOInterface::TMemoryIOInterface()
{
    FIOMode = iomMemory;
}

TMemoryIOInterface::~TMemoryIOInterface()
{
    Empty(false);
}

// -------------------------------------------------------------- the pool

TMemoryIOInterface::TBlockPool::TSizeClass& TMemoryIOInterface::TBlockPool::ClassOf(std::size_t Bytes)
{
    // An interface uses few sizes (its records, its pages): the last one
    // used is most likely the one asked for.
    if (FLastClass < FClasses.size() && FClasses[FLastClass].Bytes == Bytes)
        return FClasses[FLastClass];
    for (std::size_t i = 0; i < FClasses.size(); ++i)
        if (FClasses[i].Bytes == Bytes) {
            FLastClass = i;
            return FClasses[i];
        }
    FClasses.emplace_back();
    FClasses.back().Bytes = Bytes;
    FLastClass = FClasses.size() - 1;
    return FClasses.back();
}

Byte* TMemoryIOInterface::TBlockPool::Take(std::size_t Bytes)
{
    const std::size_t rounded = Rounded(Bytes);
    if (rounded > MaxPooled)
        return new Byte[rounded];
    TSizeClass& sizeClass = ClassOf(rounded);
    if (Byte* free = sizeClass.FreeList) {
        std::memcpy(&sizeClass.FreeList, free, sizeof(Byte*));
        return free;
    }
    if (sizeClass.CarveLeft == 0) {
        constexpr std::size_t SmallPage = 4096;
        const std::size_t large = SysLargePageBytes();
        std::size_t bytes = std::clamp(sizeClass.LastSlab * 2, SmallPage, large);
        bytes = std::max(bytes, (rounded + SmallPage - 1) / SmallPage * SmallPage);
        FSlabs.reserve(FSlabs.size() + 1);
        // Small slabs come from the heap: a mapping of their own would cost
        // a system call and a fault each, more than a small table (a
        // statement's result) spends on its blocks.
        const bool paged = bytes >= PagedSlabBytes;
        auto* data = paged ? static_cast<Byte*>(SysAllocPageMemory(bytes)) : new Byte[bytes];
        if (!data)
            throw std::bad_alloc();
        FSlabs.push_back({data, bytes, paged});
        sizeClass.LastSlab = bytes;
        sizeClass.Carve = data;
        sizeClass.CarveLeft = bytes / rounded;
    }
    Byte* block = sizeClass.Carve;
    sizeClass.Carve += rounded;
    --sizeClass.CarveLeft;
    return block;
}

void TMemoryIOInterface::TBlockPool::Give(Byte* Data, std::size_t Bytes)
{
    const std::size_t rounded = Rounded(Bytes);
    if (rounded > MaxPooled) {
        delete[] Data;
        return;
    }
    TSizeClass& sizeClass = ClassOf(rounded);
    std::memcpy(Data, &sizeClass.FreeList, sizeof(Byte*));
    sizeClass.FreeList = Data;
}

void TMemoryIOInterface::TBlockPool::Clear()
{
    for (const TSlab& slab : FSlabs) {
        if (slab.Paged)
            SysFreePageMemory(slab.Data, slab.Bytes);
        else
            delete[] slab.Data;
    }
    FSlabs.clear();
    FClasses.clear();
    FLastClass = 0;
}

// ------------------------------------------------------------ the directory

TMemoryIOInterface::TMemoryBlock& TMemoryIOInterface::TBlockDirectory::At(Cardinal Address) const
{
    TMemoryBlock* block = Find(Address);
    ORVEX_ASSERT(block != nullptr, "Memory block missing from the directory");
    return *block;
}

void TMemoryIOInterface::TBlockDirectory::Insert(Cardinal Address, TMemoryBlock Block)
{
    const std::size_t chunk = Address >> ChunkBits;
    if (chunk >= FChunks.size())
        FChunks.resize(chunk + 1);
    if (!FChunks[chunk])
        FChunks[chunk] = std::make_unique<TChunk>();
    TMemoryBlock& slot = FChunks[chunk]->Slots[Address & SlotMask];
    ORVEX_ASSERT(!slot.Data, "Memory block address in use twice");
    slot = Block;
    ++FChunks[chunk]->Used;
    ++FCount;
}

void TMemoryIOInterface::TBlockDirectory::Erase(Cardinal Address)
{
    const std::size_t chunk = Address >> ChunkBits;
    if (!Find(Address))
        return;
    FChunks[chunk]->Slots[Address & SlotMask] = TMemoryBlock{};
    --FCount;
    if (--FChunks[chunk]->Used == 0)
        FChunks[chunk].reset();
}

void TMemoryIOInterface::TBlockDirectory::Clear()
{
    FChunks.clear();
    FCount = 0;
}

TMemoryIOInterface::TMemoryBlock* TMemoryIOInterface::FindBlock(Cardinal Address)
{
    return FBlocks.Find(Address);
}

const TMemoryIOInterface::TMemoryBlock* TMemoryIOInterface::FindBlock(Cardinal Address) const
{
    return FBlocks.Find(Address);
}

void TMemoryIOInterface::CheckTransfer(const TMemoryBlock& Block, Cardinal Address, Integer Size,
                                       const char* Context) const
{
    if (Size < 0 || Size > Block.Size)
        VekDatabaseError(ErrInternal, Context,
                         Format("Block %u holds %d bytes, not %d", {Address, Block.Size, Size}),
                         const_cast<TMemoryIOInterface*>(this));
}

TMemoryIOInterface::TMemoryBlock& TMemoryIOInterface::RequireBlock(Cardinal Address, const char* Context)
{
    TMemoryBlock* block = FindBlock(Address);
    if (!block) {
        if (FDebugStrings) {
            FDebugStrings->Add(Format("Block address %u not found; known blocks:", {Address}));
            for (Cardinal known = FFirstBlock; known != 0; known = FBlocks.At(known).Next)
                FDebugStrings->Add(Format("  %u", {known}));
        }
        VekDatabaseError(ErrInternal, Context, "Read page error - block address not found", this);
    }
    return *block;
}

// ---------------------------------------------------------------- allocation

Cardinal TMemoryIOInterface::AllocateNewAddress(Integer Size, const void* Buffer)
{
    constexpr const char* Context = "TMemoryIOInterface.AllocateNewAddress";
    if (Size < 0)
        VekDatabaseError(ErrInternal, Context, Format("Invalid block request size %d", {Size}), this);
    TMemoryBlockHandles& handles = TMemoryBlockHandles::Instance();
    if (FSpareAt == FSpareHandles.size()) {
        // The next run of addresses, longer as the interface grows.
        FSpareHandles.clear();
        FSpareAt = 0;
        handles.AcquireRun(FSpareHandles, FHandleRun);
        FHandleRun = std::min<std::size_t>(FHandleRun * 2, MaxHandleRun);
    }
    if (FSpareAt == FSpareHandles.size())
        VekDatabaseError(ErrInternal, Context, "No memory block address is free", this);
    const Cardinal address = FSpareHandles[FSpareAt++];
    TMemoryBlock block;
    // A byte at least, so that a block in use always has data: the
    // caller's bytes, else zeros.
    const auto bytes = static_cast<std::size_t>(std::max(Size, 1));
    try {
        block.Data = FPool.Take(bytes);
        FBlocks.Insert(address, block);
    } catch (...) {
        if (block.Data)
            FPool.Give(block.Data, bytes);
        handles.Release(address);
        throw;
    }
    if (Buffer && Size > 0) {
        std::memcpy(block.Data, Buffer, static_cast<std::size_t>(Size));
        std::fill(block.Data + Size, block.Data + bytes, Byte{0});
    } else {
        std::fill(block.Data, block.Data + bytes, Byte{0});
    }
    TMemoryBlock& stored = FBlocks.At(address);
    stored.Size = Size;
    stored.Prior = FLastBlock;
    if (FLastBlock != 0)
        FBlocks.At(FLastBlock).Next = address;
    else
        FFirstBlock = address;
    FLastBlock = address;
    return address;
}

void TMemoryIOInterface::Unlink(TMemoryBlock& Block)
{
    if (Block.Prior != 0)
        FBlocks.At(Block.Prior).Next = Block.Next;
    else
        FFirstBlock = Block.Next;
    if (Block.Next != 0)
        FBlocks.At(Block.Next).Prior = Block.Prior;
    else
        FLastBlock = Block.Prior;
}

void TMemoryIOInterface::ReleaseBlock(Cardinal Address, Integer)
{
    TMemoryBlock* block = FindBlock(Address);
    if (!block)
        return;
    ++FLendEpoch;
    Unlink(*block);
    FPool.Give(block->Data, static_cast<std::size_t>(std::max(block->Size, 1)));
    FBlocks.Erase(Address);
    TMemoryBlockHandles::Instance().Release(Address);
}

void TMemoryIOInterface::Empty(bool)
{
    TMemoryBlockHandles& handles = TMemoryBlockHandles::Instance();
    ++FLendEpoch;
    for (Cardinal address = FFirstBlock; address != 0;) {
        const TMemoryBlock& block = FBlocks.At(address);
        FPool.Give(block.Data, static_cast<std::size_t>(std::max(block.Size, 1)));
        handles.Release(address);
        address = block.Next;
    }
    for (; FSpareAt < FSpareHandles.size(); ++FSpareAt)
        handles.Release(FSpareHandles[FSpareAt]);
    FSpareHandles.clear();
    FSpareAt = 0;
    FBlocks.Clear();
    FPool.Clear();
    FFirstBlock = 0;
    FLastBlock = 0;
}

// ----------------------------------------------------------------- transfers

void TMemoryIOInterface::CopyIntoBlock(Cardinal Address, Integer Size, const void* Buffer,
                                       const char* NilText, const char* Context)
{
    TMemoryBlock* block = FindBlock(Address);
    if (!block)
        return;
    if (!Buffer)
        VekDatabaseError(ErrInternal, Context, NilText, this);
    CheckTransfer(*block, Address, Size, Context);
    // The buffer may be the block itself, handed out by ReadBlockByRef or lent.
    if (Buffer != block->Data) {
        std::memmove(block->Data, Buffer, static_cast<std::size_t>(Size));
        block->Checked = false;
    }
}

void TMemoryIOInterface::WriteBlock(Cardinal Address, Integer Size, const void* Buffer)
{
    CopyIntoBlock(Address, Size, Buffer, "Write page error - nil pointer", "TMemoryIOInterface.WriteBlock");
}

void TMemoryIOInterface::WriteBlockByRef(Cardinal Address, Integer Size, const void* Buffer)
{
    WriteBlock(Address, Size, Buffer);
}

void TMemoryIOInterface::ReadBlock(Cardinal Address, Integer Size, void* Buffer)
{
    constexpr const char* Context = "TMemoryIOInterface.ReadBlock";
    TMemoryBlock& block = RequireBlock(Address, Context);
    if (Buffer == block.Data)
        VekDatabaseError(ErrInternal, Context, "Read page error - buffers equal", this);
    if (!Buffer)
        VekDatabaseError(ErrInternal, Context, "Unassigned memory pointer", this);
    CheckTransfer(block, Address, Size, Context);
    std::memcpy(Buffer, block.Data, static_cast<std::size_t>(Size));
}

void TMemoryIOInterface::ReadBlockByRef(Cardinal Address, Integer Size, void*& P)
{
    constexpr const char* Context = "TMemoryIOInterface.ReadBlockByRef";
    TMemoryBlock& block = RequireBlock(Address, Context);
    CheckTransfer(block, Address, Size, Context);
    P = block.Data;
}

bool TMemoryIOInterface::LendBlock(Cardinal Address, Integer Size, void*& P, bool*& Checked)
{
    ReadBlockByRef(Address, Size, P);
    Checked = &FindBlock(Address)->Checked;
    return true;
}

void TMemoryIOInterface::WriteBlockHeader(Cardinal Address, Integer Size, const void* Buffer)
{
    CopyIntoBlock(Address, Size, Buffer, "Write header error - nil pointer", "TMemoryIOInterface.WriteBlockHeader");
}

void TMemoryIOInterface::ReadBlockHeader(Cardinal Address, Integer Size, void* Buffer)
{
    TMemoryBlock* block = FindBlock(Address);
    if (!block)
        return;
    if (!Buffer)
        VekDatabaseError(ErrInternal, "TMemoryIOInterface.ReadBlockHeader", "Read header error - nil pointer",
                         this);
    CheckTransfer(*block, Address, Size, "TMemoryIOInterface.ReadBlockHeader");
    std::memmove(Buffer, block->Data, static_cast<std::size_t>(Size));
}

// ------------------------------------------------------------------- queries

void TMemoryIOInterface::ListBlocks(std::vector<Cardinal>& List)
{
    List.clear();
    for (Cardinal address = FFirstBlock; address != 0; address = FBlocks.At(address).Next)
        List.push_back(address);
}

bool TMemoryIOInterface::CheckPageValid(Cardinal Address) const
{
    return FBlocks.Find(Address) != nullptr;
}

bool TMemoryIOInterface::CheckBlockAddressValid(Cardinal Address) const
{
    return FBlocks.Find(Address) != nullptr;
}

Cardinal TMemoryIOInterface::GetNextMemoryBlockAddress(Cardinal Address) const
{
    if (Address == 0)
        return FFirstBlock;
    const TMemoryBlock* block = FindBlock(Address);
    return block ? block->Next : 0;
}

} // namespace orvex
