#pragma once
// Block I/O interfaces and blob chains.
//
// A block I/O interface hands out, reads, writes and frees fixed-size blocks
// addressed by 32-bit addresses; every table structure above it (records,
// blobs, index pages, table headers and table maps) reaches storage only
// through one. TDiskIOInterface keeps its blocks in pages of the database
// file, TMemoryIOInterface keeps each block as an allocation of its own, for
// in-memory tables and the in-memory database. TBlobInterface stores a blob
// value as a chain of blocks in such an interface.
//
// Free blocks on disk form a chain of free runs. The first block of a run
// holds, little-endian, at byte 8 the address of the next run (0 ends the
// chain) and at byte 12 the number of blocks in the run; the rest of that
// block and the other blocks of the run are zero. The chain's head is kept
// either by the interface's owner (the table header keeps the heads of the
// record and blob chains) or, for a global interface, in the database's
// global header at GlobalFirstEmptyOffset; every change of a global chain
// runs under the database header's write lock and starts from the header as
// stored, so that all connections share the chain.
//
// A blob block: at byte 0 the address of the chain's next block (0 in the
// last), at byte 4 the number of payload bytes used, then the payload; bytes
// beyond the used count are zero. Every block but the last is full.

#include "host/Classes.h"
#include "host/System.h"
#include "storage/vekConsts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvex {

class TDiskMgr;

// What an interface stores; also the page type its pages get in the map.
inline constexpr Word IOUsageIndexPages = 8;
inline constexpr Word IOUsageRecords = 9;
inline constexpr Word IOUsageBlobs = 10;

// A free run's header within its first block.
inline constexpr Integer FreeRunNextOffset = 8;
inline constexpr Integer FreeRunCountOffset = 12;
// The smallest block a disk interface can chain when it is free.
inline constexpr Integer MinDiskBlockSize = 16;

// A blob block's header.
inline constexpr Integer BlobNextOffset = 0;
inline constexpr Integer BlobUsedOffset = 4;
inline constexpr Integer BlobHeaderSize = 8;

// ========================================================= TBaseIOInterface

// The operations every block store offers. The base versions of the
// transfers and of Empty, AllocateNewAddress and ReleaseBlock raise 10065
// ("Invalid procedure name"); the diagnostics do nothing and the queries
// answer 0 or false.
class TBaseIOInterface : public TObject {
public:
    TBaseIOInterface() = default;

    // Computes the owner word, TableID * 16 + Usage.
    virtual void Open();
    virtual void Close();
    // Frees every block of the interface (on disk: every page of the table
    // and usage, or with ByType false every page of the table).
    virtual void Empty(bool ByType);
    // A new block holding the first Size bytes of Buffer (zeros for a nil
    // Buffer; on disk zeros also fill the block beyond Size); its address.
    virtual Cardinal AllocateNewAddress(Integer Size, const void* Buffer);
    virtual void ReleaseBlock(Cardinal Address, Integer Size);
    virtual void WriteBlock(Cardinal Address, Integer Size, const void* Buffer);
    virtual void WriteBlockByRef(Cardinal Address, Integer Size, const void* Buffer);
    virtual void ReadBlock(Cardinal Address, Integer Size, void* Buffer);
    // P points at the block's bytes where they are kept (the page cache on
    // disk, the allocation in memory), valid until the next call.
    virtual void ReadBlockByRef(Cardinal Address, Integer Size, void*& P);
    // ReadBlock of Size bytes at each of Addresses in turn into Buffer,
    // calling Visit(I) once block I is there; best with the addresses
    // ascending, so that a store in pages reads each page once. Here one
    // ReadBlock after the other.
    virtual void ReadBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, void* Buffer,
                            const std::function<void(std::size_t)>& Visit);
    virtual void WriteBlockHeader(Cardinal Address, Integer Size, const void* Buffer);
    virtual void ReadBlockHeader(Cardinal Address, Integer Size, void* Buffer);
    virtual void ShowBlocks(TStrings* List);
    // The addresses of the interface's blocks.
    virtual void ListBlocks(std::vector<Cardinal>& List);
    virtual bool CheckPageValid(Cardinal Address) const;
    virtual void ShowStatus(TStrings* List);
    // The block after Address in allocation order (the first for 0; 0 after
    // the last). Only memory interfaces keep such an order.
    virtual Cardinal GetNextMemoryBlockAddress(Cardinal Address) const;
    virtual bool CheckBlockAddressValid(Cardinal Address) const;
    // Another writer changed the table: forget what is cached of its pages.
    virtual void NotifyPageChange(Integer TableID);
    // Moves on whenever the store underneath dropped what it cached (a
    // rollback, a journal rolled back); 0 for stores that never do.
    virtual Cardinal CacheEpoch() const { return 0; }
    // Lends the block at Address for changing in place: P points at its
    // Size bytes in the store, counted as changed from now on, valid until
    // the next block is released or the store's transaction ends; the
    // changes are handed back by WriteBlockByRef(Address, Size, P), which
    // then copies nothing. Checked points at the block's mark of having been
    // checked by its owner: the store clears it whenever the block's bytes
    // come from anywhere but a lent change (a read from the file, a copy),
    // and the borrower sets it once it checked them. False (P untouched)
    // where the store cannot lend: the caller copies the block instead.
    virtual bool LendBlock(Cardinal Address, Integer Size, void*& P, bool*& Checked) { return false; }
    // The borrower is done with every block lent to it: the store may write
    // them out or reuse their memory again.
    virtual void ReturnLentBlocks() {}
    // Moves on whenever blocks lent earlier may no longer be used in place:
    // given back, released, or dropped by the store. A borrower that keeps
    // lent blocks between calls uses them again only while it stands still.
    virtual Cardinal LendEpoch() const { return 0; }
    // At least the number of blocks the interface holds now (on disk: the
    // file's size in blocks; in memory: the live blocks), so that a walk
    // over a chain read from storage that takes more steps runs in a
    // circle. The base version answers the largest Cardinal.
    virtual Cardinal ChainLimit();

    Integer BlockSize() const { return FBlockSize; }
    void SetBlockSize(Integer Value) { FBlockSize = Value; }
    TIOMode IOMode() const { return FIOMode; }
    void SetIOMode(TIOMode Value) { FIOMode = Value; }
    TStrings* DebugStrings() const { return FDebugStrings; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    Word Usage() const { return FUsage; }
    void SetUsage(Word Value) { FUsage = Value; }
    Word TableID() const { return FTableID; }
    void SetTableID(Word Value) { FTableID = Value; }
    Word Owner() const { return FOwner; }
    Cardinal FirstEmpty() const { return FFirstEmpty; }
    void SetFirstEmpty(Cardinal Value) { FFirstEmpty = Value; }
    TDiskMgr* DiskMgr() const { return FDiskMgr; }
    void SetDiskMgr(TDiskMgr* Value) { FDiskMgr = Value; }
    // 0: the owner keeps the free chain's head; otherwise its offset in the
    // global header.
    Integer GlobalFirstEmptyOffset() const { return FGlobalFirstEmptyOffset; }
    void SetGlobalFirstEmptyOffset(Integer Value) { FGlobalFirstEmptyOffset = Value; }
    bool FirstEmptyValid() const { return FFirstEmptyValid; }
    void SetFirstEmptyValid(bool Value) { FFirstEmptyValid = Value; }
    Cardinal AccessFlags() const { return FAccessFlags; }
    void SetAccessFlags(Cardinal Value) { FAccessFlags = Value; }

protected:
    [[noreturn]] void Unsupported(const char* Operation) const;

    Integer FBlockSize = 0;
    TIOMode FIOMode = iomNone;
    TStrings* FDebugStrings = nullptr;
    Word FUsage = 0;
    Word FTableID = 0;
    Word FOwner = 0;
    Cardinal FFirstEmpty = 0;
    TDiskMgr* FDiskMgr = nullptr;
    Integer FGlobalFirstEmptyOffset = 0;
    bool FFirstEmptyValid = false;
    Cardinal FAccessFlags = 0;
};

// ========================================================= TDiskIOInterface

// Blocks in pages of the database file, owned in the map by TableID with
// the page type Usage. New blocks come from the front of the free chain or,
// when it is empty, from new pages: one page for a page-sized block, else a
// request of pages that wastes little (GetBestPageRequestSize), whose spare
// blocks become the chain. A released block goes to the front of the chain,
// except whole pages, which go back to the map.
class TDiskIOInterface : public TBaseIOInterface {
public:
    TDiskIOInterface();
    ~TDiskIOInterface() override;

    // 8581 without a disk manager, without a usage, or with a block size
    // below MinDiskBlockSize; allocates the work block.
    void Open() override;
    void Close() override;
    bool IsOpen() const { return !FWorkBuffer.empty(); }

    void Empty(bool ByType) override;
    // 8581 for a Size above BlockSize.
    Cardinal AllocateNewAddress(Integer Size, const void* Buffer) override;
    void ReleaseBlock(Cardinal Address, Integer Size) override;
    void WriteBlock(Cardinal Address, Integer Size, const void* Buffer) override;
    void WriteBlockByRef(Cardinal Address, Integer Size, const void* Buffer) override;
    void ReadBlock(Cardinal Address, Integer Size, void* Buffer) override;
    void ReadBlockByRef(Cardinal Address, Integer Size, void*& P) override;
    // Through the page cache each page once for its blocks.
    void ReadBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, void* Buffer,
                    const std::function<void(std::size_t)>& Visit) override;
    void WriteBlockHeader(Cardinal Address, Integer Size, const void* Buffer) override;
    void ReadBlockHeader(Cardinal Address, Integer Size, void* Buffer) override;
    void ListBlocks(std::vector<Cardinal>& List) override;
    void NotifyPageChange(Integer TableID) override;
    Cardinal CacheEpoch() const override;
    // Inside a transaction, for paged data whose blocks lie inside pages: the
    // page cache replaces no page until the transaction ends.
    bool LendBlock(Cardinal Address, Integer Size, void*& P, bool*& Checked) override;
    void ReturnLentBlocks() override;
    Cardinal LendEpoch() const override;
    Cardinal ChainLimit() override;

    // Loads FirstEmpty from the global header (read again unless a header
    // lock is held) and marks it valid; 8581 for an interface that is not
    // global.
    Cardinal GetGlobalFirstEmpty();
    // Stores FirstEmpty in the global header; 8581 when it was not loaded.
    void SetGlobalFirstEmpty();

private:
    bool IsGlobal() const { return FGlobalFirstEmptyOffset != 0; }
    void RequireDiskMgr(const char* Context) const;
    void RequireOpen(const char* Context) const;
    // Runs Change on the free chain: for a global interface under the
    // header write lock, with FirstEmpty loaded from the header before and
    // stored in it after; for another interface once FirstEmpty is known.
    template <class F>
    void ChangeFreeChain(const char* Context, F&& Change);
    // The run header at Address: the next run and the run's block count.
    void ReadFreeRun(Cardinal Address, Cardinal& Next, Cardinal& Count);
    // 8451 naming Context for a run of no blocks, or a run or next link
    // that leaves the file.
    void CheckFreeRun(Cardinal Address, Cardinal Next, Cardinal Count, const char* Context);
    void WriteFreeRun(Cardinal Address, Cardinal Next, Cardinal Count);
    // Writes a whole block: Size bytes of Buffer, then zeros.
    void WritePaddedBlock(Cardinal Address, Integer Size, const void* Buffer);
    Cardinal AllocateFromNewPages(Integer Size, const void* Buffer);

    std::vector<Byte> FWorkBuffer;
    Int64 FKnownFileSize = 0; // the largest file size seen (CheckFreeRun)
};

// ======================================================= TMemoryIOInterface

// Each block holds the size asked for, its bytes taken from slabs the
// interface keeps for blocks of that size (a released block's bytes serve
// the next block of its size; the slabs go when the interface is emptied or
// destroyed), so that a block costs no allocation of its own. Addresses are
// 32-bit handles drawn from one table for the whole process: never 0, and
// never the same for two blocks alive at once, in any interface or thread.
// A released handle is handed out again only after many others have been
// released since, so a stale address is very likely to be refused.
class TMemoryIOInterface : public TBaseIOInterface {
public:
    TMemoryIOInterface();
    ~TMemoryIOInterface() override;

    void Empty(bool ByType) override;
    Cardinal AllocateNewAddress(Integer Size, const void* Buffer) override;
    // An unknown address is ignored.
    void ReleaseBlock(Cardinal Address, Integer Size) override;
    // An unknown address is ignored; 8581 for a nil buffer or a Size beyond
    // the block.
    void WriteBlock(Cardinal Address, Integer Size, const void* Buffer) override;
    void WriteBlockByRef(Cardinal Address, Integer Size, const void* Buffer) override;
    // 8581 for an unknown address, a Size beyond the block, the block's own
    // bytes as Buffer, or a nil buffer.
    void ReadBlock(Cardinal Address, Integer Size, void* Buffer) override;
    void ReadBlockByRef(Cardinal Address, Integer Size, void*& P) override;
    // Always: a block's bytes stay where they are until it is released.
    bool LendBlock(Cardinal Address, Integer Size, void*& P, bool*& Checked) override;
    Cardinal LendEpoch() const override { return FLendEpoch; }
    void WriteBlockHeader(Cardinal Address, Integer Size, const void* Buffer) override;
    // An unknown address reads nothing.
    void ReadBlockHeader(Cardinal Address, Integer Size, void* Buffer) override;
    // The addresses in allocation order.
    void ListBlocks(std::vector<Cardinal>& List) override;
    bool CheckPageValid(Cardinal Address) const override;
    Cardinal GetNextMemoryBlockAddress(Cardinal Address) const override;
    bool CheckBlockAddressValid(Cardinal Address) const override;

    int BlockCount() const { return static_cast<int>(FBlocks.Count()); }
    Cardinal ChainLimit() override { return static_cast<Cardinal>(BlockCount()) + 1; }

private:
    Cardinal FLendEpoch = 0; // moves on with every block released
    struct TMemoryBlock {
        Byte* Data = nullptr; // never null for a block in use; held by the pool
        Integer Size = 0;
        Cardinal Prior = 0; // neighbours in allocation order
        Cardinal Next = 0;
        bool Checked = false; // see LendBlock
    };

    // The blocks by address in constant time, without hashing: the address
    // split into a chunk number (its high bits) and a slot in the chunk.
    // Addresses come from one counter for the process, so an interface's
    // blocks fill chunks densely; a chunk exists while it holds a block.
    class TBlockDirectory {
    public:
        TMemoryBlock* Find(Cardinal Address) const
        {
            const std::size_t chunk = Address >> ChunkBits;
            if (chunk >= FChunks.size() || !FChunks[chunk])
                return nullptr;
            TMemoryBlock& block = FChunks[chunk]->Slots[Address & SlotMask];
            return block.Data ? &block : nullptr;
        }
        TMemoryBlock& At(Cardinal Address) const; // asserts it is there
        // Stores Block (whose Data is set) at a free address.
        void Insert(Cardinal Address, TMemoryBlock Block);
        void Erase(Cardinal Address);
        void Clear();
        std::size_t Count() const { return FCount; }

    private:
        static constexpr unsigned ChunkBits = 10;
        static constexpr Cardinal SlotMask = (1u << ChunkBits) - 1;
        struct TChunk {
            std::array<TMemoryBlock, std::size_t{1} << ChunkBits> Slots;
            int Used = 0;
        };
        std::vector<std::unique_ptr<TChunk>> FChunks;
        std::size_t FCount = 0;
    };

    TMemoryBlock* FindBlock(Cardinal Address);
    const TMemoryBlock* FindBlock(Cardinal Address) const;
    // The block at Address; 8581 "Read page error - block address not
    // found" (after listing the known addresses into DebugStrings) when
    // there is none.
    TMemoryBlock& RequireBlock(Cardinal Address, const char* Context);
    // 8581 for a transfer of Size bytes that does not fit the block.
    void CheckTransfer(const TMemoryBlock& Block, Cardinal Address, Integer Size,
                       const char* Context) const;
    // Copies Size bytes of Buffer into the block at Address; nothing for an
    // unknown address, 8581 with NilText for a nil buffer.
    void CopyIntoBlock(Cardinal Address, Integer Size, const void* Buffer, const char* NilText,
                       const char* Context);
    // Takes the block out of the allocation order.
    void Unlink(TMemoryBlock& Block);

    // The bytes of the blocks: for each rounded size, slabs carved in turn
    // and a list of the released blocks (linked through their first bytes).
    // A class's slabs double from one system page up to one large page
    // (the big ones taken resident: a fault per small page would cost more
    // than the block's use). Large blocks are allocations of their own.
    class TBlockPool {
    public:
        TBlockPool() = default;
        TBlockPool(const TBlockPool&) = delete;
        TBlockPool& operator=(const TBlockPool&) = delete;
        ~TBlockPool() { Clear(); }
        Byte* Take(std::size_t Bytes);
        void Give(Byte* Data, std::size_t Bytes);
        void Clear();

    private:
        static constexpr std::size_t Grain = 16;
        static constexpr std::size_t MaxPooled = 64 * 1024;
        // Slabs from this size on are page memory taken resident, smaller
        // ones heap allocations.
        static constexpr std::size_t PagedSlabBytes = 256 * 1024;
        struct TSlab {
            Byte* Data = nullptr;
            std::size_t Bytes = 0;
            bool Paged = false;
        };
        struct TSizeClass {
            std::size_t Bytes = 0;
            Byte* FreeList = nullptr;
            Byte* Carve = nullptr; // the unused rest of the newest slab
            std::size_t CarveLeft = 0;
            std::size_t LastSlab = 0; // the newest slab's size
        };
        static std::size_t Rounded(std::size_t Bytes) { return (std::max<std::size_t>(Bytes, 1) + Grain - 1) / Grain * Grain; }
        TSizeClass& ClassOf(std::size_t Rounded);
        std::vector<TSizeClass> FClasses;
        std::vector<TSlab> FSlabs;
        std::size_t FLastClass = 0;
    };

    TBlockPool FPool;
    // Addresses taken from the process's table in runs (so that this
    // interface's blocks fill the directory's chunks densely) and not yet
    // handed out; they go back when the interface is emptied.
    static constexpr std::size_t MinHandleRun = 16;
    static constexpr std::size_t MaxHandleRun = 1024;
    std::vector<Cardinal> FSpareHandles;
    std::size_t FSpareAt = 0;
    std::size_t FHandleRun = MinHandleRun;
    TBlockDirectory FBlocks;
    Cardinal FFirstBlock = 0; // allocation order, oldest first
    Cardinal FLastBlock = 0;
};

// =========================================================== TBlobInterface

// Blob values as chains of BlobBlockSize-byte blocks in an I/O interface
// (not owned). A record keeps the chain's first address and the value's
// length; an empty value has no chain (address 0). The compression mode is
// kept for the table definition and has no effect: values are stored as
// they are.
class TBlobInterface : public TObject {
public:
    TBlobInterface() = default;
    ~TBlobInterface() override;

    // 8581 without an I/O interface or with a block size that leaves no
    // payload; allocates the work block.
    void Open();
    // Frees the work block and forgets the interface and the block size.
    void Close();

    // Writes the whole stream as a new chain; its first address (0 for an
    // empty stream).
    Cardinal InsertBlob(TStream* Stream);
    // Writes the chain's bytes to the stream at its position; their number
    // (0 for address 0).
    Int64 ReadBlob(Cardinal Address, TStream* Stream);
    // Rewrites the chain at Address with the stream's bytes, releasing the
    // blocks it no longer needs and chaining new ones where it needs more.
    // Returns the chain's first address: Address for a non-empty value, 0
    // for an empty one (the chain is then released), and the new chain's
    // for Address 0. OldSize is not needed.
    Cardinal EditBlob(Cardinal Address, Integer OldSize, TStream* Stream);
    // Releases every block of the chain; Size is not needed.
    void DeleteBlob(Cardinal Address, Integer Size);

    Integer BlobBlockSize() const { return FBlobBlockSize; }
    void SetBlobBlockSize(Integer Value) { FBlobBlockSize = Value; }
    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    void SetIOInterface(TBaseIOInterface* Value) { FIOInterface = Value; }
    TDataCompressionMode CompressionMode() const { return FCompressionMode; }
    void SetCompressionMode(TDataCompressionMode Value) { FCompressionMode = Value; }

private:
    Integer Payload() const { return FBlobBlockSize - BlobHeaderSize; }
    void RequireOpen(const char* Context) const;
    // Writes the stream's last Size bytes as a new chain, from its end
    // backwards so that each block is written knowing its successor; the
    // first block's address (0 for Size 0).
    Cardinal WriteNewBlocks(Int64 Size, TStream* Stream);
    // Reads the block at Address into the work block; its used count,
    // checked against the payload.
    Integer ReadChainBlock(Cardinal Address, const char* Context);
    // Bounds a walk over a chain (8451 once it is longer than the
    // interface's ChainLimit).
    class ChainWalk;

    Integer FBlobBlockSize = 0;
    TBaseIOInterface* FIOInterface = nullptr;
    std::vector<Byte> FBuffer;
    TDataCompressionMode FCompressionMode = dcNone;
};

} // namespace orvex
