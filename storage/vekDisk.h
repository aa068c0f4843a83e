#pragma once
// The database file: the page file with its page cache, block cache, per-page
// encryption and file transaction (TVekFile), and the open database of one
// connection on top of it (TDiskMgr) with its global header, its page map and
// the lock and transaction wrappers the connection uses.
//
// File layout (byte offsets, little-endian, P the page size):
//   0        the database definition record (254 bytes; the connection's)
//   768      the security header (40 bytes)
//   1024     the global header (128 bytes)
//   0 .. 5P  pages 0 to 4: the system area (map value 1)
//   5P       the first map page (map value 2)
//   6P ..    table pages, system-header pages and further map pages,
//            appended at the end of the file and reused when freed.
//
// A map page: id (4), next map page's address (4), offset of the first free
// entry (2), 10 unused bytes, then (P - 20) / 2 two-byte entries, entry i of
// map page k describing page k * EntriesPerMap + i. An entry is 0 (never
// used), 0x8000 | offset of the next free entry of the same map page (free;
// the chain ascends and ends in 0), or owner * 16 + page type (in use).

#include "host/Classes.h"
#include "host/System.h"
#include "storage/vekConsts.h"
#include "storage/vekCommon.h"
#include "storage/vekCrypt.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TPlatformFile;
class TDBUserMonitor;
class TBaseLockMgr;
class TDiskMgr;

// ------------------------------------------------------------------ layout

// Access flags of every transfer. Paged data goes through the page cache;
// the two cipher bits take effect only there, because only whole pages are
// enciphered (with both set, the scramble is used).
inline constexpr Cardinal VekAccessPaged = 1;    // page-structured table data
inline constexpr Cardinal VekAccessXOR = 2;      // keyed scramble, seeded with the table id
inline constexpr Cardinal VekAccessBlowfish = 4; // Blowfish CFB under the database key

inline constexpr Cardinal DBDefRecordOffset = 0;
inline constexpr Integer DBDefRecordSize = 254;
inline constexpr Cardinal SecurityHeaderOffset = 768;
inline constexpr Integer SecurityHeaderSize = 40;
inline constexpr Cardinal GlobalHeaderOffset = 1024;
inline constexpr Integer GlobalHeaderSize = 128;

inline constexpr Integer DefaultPageSize = 4096;
inline constexpr Integer MinPageSize = 256;   // the system area must hold the headers
inline constexpr Integer MaxPageSize = 32768; // free-chain offsets have 15 bits
inline constexpr Integer SystemAreaPages = 5; // pages 0 to 4
inline constexpr Integer NewFilePages = 6;    // the system area and the first map page

// Map page layout and entry values.
inline constexpr Integer MapPageIDOffset = 0;
inline constexpr Integer MapPageNextOffset = 4;
inline constexpr Integer MapPageFirstFreeOffset = 8;
inline constexpr Integer MapPageHeaderSize = 20; // the first entry's offset
inline constexpr Word MapEntryFree = 0x8000;     // plus the next free entry's offset
inline constexpr Word MapPageTypeSystem = 1;
inline constexpr Word MapPageTypeMap = 2;

// Table ids above this are logged as invalid by the page file.
inline constexpr Integer MaxVekTableID = 2048;

// The 1000 bytes a connection locks in the database file while it is open.
inline constexpr Int64 OpenMarkerOffset = 0x0FF10000;
inline constexpr Int64 OpenMarkerSize = 1000;

// The master key that stands in for an empty one (14 characters).
inline constexpr const char* CVekDefaultMasterKey = "OrvexMasterKey";

// The bytes to request from the map for a run of fixed-size blocks: the block
// rounded up to whole pages when that wastes at most a quarter page;
// otherwise the multiple of the page size below ten times that first
// candidate that wastes least (the smallest on a tie).
Integer GetBestPageRequestSize(Integer BlockSize, Integer PageSize);
// Copies Source to Dest; false when it could not.
bool DoCopyFile(const std::string& Source, const std::string& Dest, bool Overwrite);

// The rollback journal of a database file: the file's name with ".jnl"
// added, in the same folder.
std::string GetJournalFileName(const std::string& DatabaseFileName);
// The byte of the database file a connection holds locked from before it
// writes a journal until after it removed it, and while it rolls one back.
// A journal whose byte nobody holds was left by a writer that died (or gave
// up); any connection rolls it back.
inline constexpr Int64 JournalLockOffset = 0x0FF20000;
// The byte a connection holds while it rolls back a journal it found (and
// while it looks whether there is one to roll back): one at a time, and a
// connection that finds a journal waits here while another rolls it back.
inline constexpr Int64 JournalRecoveryLockOffset = JournalLockOffset + 1;
// The default budget of a transaction's changed pages held in memory.
inline constexpr Int64 DefaultSpillBudget = 16 * 1024 * 1024;

// ---------------------------------------------------------- transfer procs

// Connect the caches to the file. LowAddress is the byte address in the
// file; HighAddress travels along as the upper half of the cache key (always
// 0) and is never used for positioning.
using TIOTransferPageProc = std::function<void(void* Buffer, Integer TableID, Cardinal AccessFlags,
                                               Cardinal LowAddress, Cardinal HighAddress)>;
using TIOTransferBlockProc =
    std::function<void(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                       Cardinal HighAddress, Integer Size)>;
// Reads (or writes) PageCount pages one after the other from LowAddress on,
// into (from) Buffer (PageCount times the page size), as a page transfer
// reads (writes) each.
using TIOTransferPageRunProc = std::function<void(void* Buffer, Integer TableID, Cardinal AccessFlags,
                                                  Cardinal LowAddress, Cardinal HighAddress, Integer PageCount)>;
// Told the position of each block a scan has read into the caller's buffer.
using TBlockVisitProc = std::function<void(std::size_t Index)>;

// -------------------------------------------------------------- page cache

class TCachePage;

// The page cache's index: page key (upper address << 32 | lower address) to
// the cached page. Open addressing with linear probing over a
// power-of-two table; the key is multiplied by a large odd constant and the
// top bits taken, so that page-aligned addresses (whose low bits are all
// zero) spread over the whole table.
class TCachePageIndex {
public:
    TCachePageIndex() { Reset(16); }
    // Empties the index with room for Capacity keys before it grows.
    void Reset(std::size_t Capacity);
    TCachePage* Find(std::uint64_t Key) const; // nullptr when absent
    void Insert(std::uint64_t Key, TCachePage* Value); // the key must be absent
    void Erase(std::uint64_t Key);
    std::size_t Count() const { return FCount; }

private:
    std::size_t SlotOf(std::uint64_t Key) const
    {
        return static_cast<std::size_t>((Key * 0x9E3779B97F4A7C15ULL) >> FShift);
    }
    void Grow();

    std::vector<std::uint64_t> FKeys;
    std::vector<TCachePage*> FValues; // nullptr: an empty slot
    std::size_t FMask = 0;
    unsigned FShift = 0;
    std::size_t FCount = 0;
};

// One cached page: PageSize bytes of plain (deciphered) data.
class TCachePage : public THashCollectionItem {
public:
    explicit TCachePage(TCollection* Collection) : THashCollectionItem(Collection) {}

    Byte* Data = nullptr; // PageSize bytes, held by the cache
    Cardinal LowerAddress = 0;
    Cardinal UpperAddress = 0;
    Integer PageOwner = 0; // the table id the page was read or written under
    std::uint64_t LRUFlag = 0;
    TCachePageState State = cpEmpty;
    Cardinal AccessFlags = 0;
    // Set by whoever borrows the page (LendCacheByRef) once it checked the
    // bytes; cleared whenever they come from the file or from a copy.
    bool Checked = false;
    // Lent out (LendCacheByRef) and not yet given back (ReturnLentPages):
    // the borrower changes it through a pointer, so it is neither written
    // out early nor replaced.
    bool Lent = false;
    // Lent at least once since it came to hold this file page: a B-tree page.
    // Written out early, it stays cached (clean), where any other page goes.
    bool TreePage = false;

private:
    friend class TCacheMgr;
    int FSlot = 0; // its index in the cache (pages leave only from the end)
    // Neighbours in the cache's use order.
    TCachePage* FLessRecent = nullptr;
    TCachePage* FMoreRecent = nullptr;
};

// The page cache of one connection. Outside a transaction every write goes
// through to the file at once (pages stay clean) and the least recently used
// clean page is replaced; in write-back mode (SetWriteBack) written pages stay
// dirty instead and go to the file only when they are replaced or flushed
// (FlushDirtyPages). Inside a transaction, written pages stay dirty in memory until
// Commit or until the file writes them out early (CollectSpillPages,
// PageSpilled), and the cache grows up to its page count plus the
// transaction's allowance (SetTransactionAllowance) before it replaces clean
// pages that are not lent. A page cached under another table id than the one
// asked for counts as a miss, because the enciphering depends on the table id.
class TCacheMgr : public TCollection {
public:
    TCacheMgr();
    ~TCacheMgr() override;

    // Adds PageCount empty pages of PageSize bytes (a power of two) and zeroes
    // the counters; 10065 with "ReadIO" / "WriteIO" when a procedure is missing.
    void Open(Integer PageCount, Integer PageSize);
    void Close(); // frees the pages

    void ReadCache(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Address,
                   Cardinal HighAddress, Integer Size);
    void WriteCache(const void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Address,
                    Cardinal HighAddress, Integer Size);
    // As ReadCache and WriteCache for a range inside one page: the read hands
    // back a pointer into the cached page (valid until the next cache call);
    // the write takes its bytes from Buffer, which may be such a pointer.
    // False when the range crosses a page.
    bool ReadCacheByRef(void*& Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Address,
                        Cardinal HighAddress, Integer Size);
    // ReadCache of Size bytes at each of Addresses in turn into Buffer,
    // calling Visit(I) once block I is there. Each page is acquired once for
    // all the blocks in it that follow one another in Addresses (so best
    // ascending), and with a page-run reader (SetReadRunIO) the pages the
    // next blocks need that are not cached are read ahead, several in one
    // read. Visit may use the cache.
    void ReadCacheBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, Integer TableID,
                         Cardinal AccessFlags, Cardinal HighAddress, void* Buffer, const TBlockVisitProc& Visit);
    bool WriteCacheByRef(const void* Buffer, Integer TableID, Cardinal AccessFlags,
                         Cardinal Address, Cardinal HighAddress, Integer Size);
    // Inside a transaction: a pointer into the cached page for a range inside
    // it, the page dirty from now on (so changes made through the pointer
    // stay with the transaction). False outside one or when the range
    // crosses a page.
    // Checked: the page's mark (TCachePage::Checked).
    bool LendCacheByRef(void*& Buffer, bool*& Checked, Integer TableID, Cardinal AccessFlags,
                        Cardinal Address, Cardinal HighAddress, Integer Size);

    // The index of the page cached for the address, -1 when none.
    int FindPage(Cardinal Address, Cardinal HighAddress) const;
    // The page to reuse: the first empty one; else, outside a transaction,
    // the clean one least recently used; else a new page. It leaves the hash.
    int GetNextEmptyPage();
    int AddPage();
    // Forgets the page cached for the address, whatever its state.
    void RemovePage(Cardinal Address, Cardinal HighAddress);
    // Empties every page of the table id except dirty ones: a dirty page holds
    // this connection's own newest bytes, which must not be lost.
    void ClearOwnedPages(Integer Owner);
    void ClearCache();
    // Empties every page that is not dirty.
    void ClearCleanPages();
    // The target page count: frees clean pages from the end down to Count
    // (stopping at a dirty one), or adds pages up to it.
    void ResetPageCount(Integer Count);
    // The same, but pages are added only when needed: the cache grows up to
    // Count pages as pages are read, and only then replaces the oldest.
    void SetPageLimit(Integer Count);

    // Write-back mode: outside a transaction a written page stays dirty in
    // the cache, and the least recently used page, dirty or clean, is
    // replaced (a dirty one written first). For a private file that is
    // thrown away after a crash: nobody else reads it, and no journal keeps
    // it whole. Turning it off flushes.
    void SetWriteBack(bool Value);
    bool WriteBack() const { return FWriteBack; }
    // Outside a transaction: writes every dirty page, in ascending address
    // order; they turn clean. A failure leaves the pages not yet written dirty.
    void FlushDirtyPages();

    void StartTransaction();
    void Commit();   // writes the dirty pages in collection order; 10257 outside a transaction
    void Rollback(); // empties the dirty pages; 10257 outside a transaction
    bool TransactionActive() const { return FTransactionActive; }

    bool IsBaseAddrInCache(Cardinal Address) const { return FindPage(GetBaseAddress(Address), 0) >= 0; }
    Cardinal GetBaseAddress(Cardinal Address) const { return Address & FPageMask; }
    Int64 TotalCacheSize() const { return Int64{Count()} * FPageSize; }
    void DumpState();

    TCachePage* Pages(int Index) const { return static_cast<TCachePage*>(Items(Index)); }
    Integer PageSize() const { return FPageSize; }
    Integer PageCount() const { return FPageCount; }
    Int64 Hits() const { return FHits; }
    Int64 Misses() const { return FMisses; }
    void SetHits(Int64 Value) { FHits = Value; }
    void SetMisses(Int64 Value) { FMisses = Value; }
    void SetLog(TStrings* Value) { FLog = Value; }
    void SetReadIO(TIOTransferPageProc Value) { FReadIO = std::move(Value); }
    void SetWriteIO(TIOTransferPageProc Value) { FWriteIO = std::move(Value); }
    void SetReadRunIO(TIOTransferPageRunProc Value) { FReadRunIO = std::move(Value); }
    // With a page-run writer the commit writes dirty pages that follow one
    // another in the file (of one owner and access) with one write.
    void SetWriteRunIO(TIOTransferPageRunProc Value) { FWriteRunIO = std::move(Value); }
    // Heard whenever a page turns dirty inside a transaction.
    void SetOnPageDirty(std::function<void(TCachePage*)> Value) { FOnPageDirty = std::move(Value); }

    // The dirty pages now.
    Integer DirtyCount() const { return FDirtyCount; }
    // Pages a transaction may add beyond the page count before clean pages
    // are replaced (the file keeps the dirty ones below it by spilling).
    void SetTransactionAllowance(Integer Pages) { FTransactionAllowance = Pages; }
    // Every lent page is given back: from now on it may be written out early
    // or replaced like any other.
    void ReturnLentPages();
    // Moves on whenever a lent page is given back or dropped: a pointer lent
    // before may then no longer be used.
    Cardinal LendEpoch() const { return FLendEpoch; }
    // Up to Count dirty pages that are not lent, in ascending address order:
    // those that are no B-tree pages first (records and blobs, mostly written
    // once), then the B-tree pages used longest ago.
    std::vector<TCachePage*> CollectSpillPages(Integer Count);
    // Writes Pages (dirty, in ascending address order) to the file, pages
    // that follow one another (of one owner and access) with one write, and
    // calls Written for each page the file holds. A failure leaves the pages
    // of the failed write and after it as they were.
    void WritePages(const std::vector<TCachePage*>& Pages, const std::function<void(TCachePage*)>& Written);
    // The file holds the page's bytes now: a B-tree page turns clean and
    // stays, any other is forgotten (its place goes to the next page read, so
    // the cache keeps the trees an insert walks rather than pages written
    // once).
    void PageSpilled(TCachePage* Page);

private:
    // The page that serves Address for TableID, read from the file unless it
    // is a hit or the caller overwrites it whole; counts the hit or miss.
    TCachePage* AcquirePage(Integer TableID, Cardinal AccessFlags, Cardinal Base,
                            Cardinal HighAddress, bool WholePage);
    // Addresses[0] lies in a page the cache does not hold: that page and the
    // following ones the next addresses need, up to the first page the cache
    // holds and within a small fraction of the cache, are read with one
    // page-run read and cached as clean pages.
    void ReadAhead(Integer TableID, Cardinal AccessFlags, Cardinal HighAddress, const Cardinal* Addresses,
                   std::size_t Count);
    void StorePage(TCachePage* Page, const Byte* Source, Integer Offset, Integer Count,
                   Integer TableID, Cardinal AccessFlags);
    void HashPage(int Index);
    // Gives an empty page the identity of the file page it now holds and hashes it.
    void NamePage(int Index, Integer TableID, Cardinal AccessFlags, Cardinal LowerAddress,
                  Cardinal UpperAddress);
    void UnhashPage(int Index);
    void ForgetPage(int Index); // empty and out of the hash
    // Stamps the page as used now and moves it to the end of the use order
    // (inside a transaction only the stamp: see RestoreUseOrder).
    void Touch(TCachePage* Page);
    // Puts the use order right again when a transaction left it stale: the
    // pages the transaction used move, in the order of their stamps, to the
    // recent end; the others keep their order.
    void RestoreUseOrder();
    void Unlink(TCachePage* Page);
    // Moves the page to the recent end of the use order.
    void MakeMostRecent(TCachePage* Page);
    void RebuildHash(Integer Capacity);
    void LogLine(const std::string& Text);
    // Every change of a page's state goes through here, which keeps the
    // dirty count.
    void SetState(TCachePage* Page, TCachePageState State);
    // Inside a transaction: a clean page, not lent, to replace (one not used
    // lately, found by a sweep over the pages); -1 when there is none.
    int FindReplaceablePage();
    // Writes a dirty page to the file; it turns clean. On a failure it stays dirty.
    void WritePageOut(TCachePage* Page);

    // The pages' bytes, many pages to a slab, the pages in slab order (pages
    // leave only from the end, so a slab goes when the last of its pages
    // does). A slab is as large as the cache before it, from MinSlabPages up
    // to a large page of memory (SysLargePageBytes): a growing cache takes
    // its memory in few, large, already resident blocks, since faulting in
    // fresh memory page by page costs more than anything else it does with
    // a new page, and a small cache stays small.
    static constexpr int MinSlabPages = 64;
    struct TSlab {
        Byte* Data = nullptr;
        std::size_t Bytes = 0;
        int Pages = 0;
        TSlab(std::size_t Size, int PageCount);
        TSlab(TSlab&& Other) noexcept;
        TSlab& operator=(TSlab&&) = delete;
        ~TSlab();
    };
    std::vector<TSlab> FSlabs;
    int FSlabbedPages = 0; // the pages the slabs hold room for
    // The bytes of page slot Slot, a new slab taken when the slabs are full
    // (of at least Wanted pages, when more pages are about to follow).
    Byte* SlabRoom(int Slot, int Wanted = 0);
    // Deletes the last page and, with it gone, a slab no page uses.
    void DeleteLastPage();

    Integer FPageCount = 0;
    Integer FDirtyCount = 0;
    Integer FTransactionAllowance = 0;
    int FSweepHand = 0;
    std::vector<TCachePage*> FLentPages;
    Cardinal FLendEpoch = 0;
    Integer FPageSize = 0;
    Cardinal FPageMask = 0;
    std::uint64_t FNextStamp = 0;
    bool FTransactionActive = false;
    bool FWriteBack = false;
    TStrings* FLog = nullptr;
    Int64 FHits = 0;
    Int64 FMisses = 0;
    TIOTransferPageProc FReadIO;
    TIOTransferPageProc FWriteIO;
    TIOTransferPageRunProc FReadRunIO;
    TIOTransferPageRunProc FWriteRunIO;
    std::vector<Byte> FRunBuffer; // the pages of one read-ahead or one run written
    std::function<void(TCachePage*)> FOnPageDirty;
    TCachePageIndex FIndex; // page key -> page
    // The page cached for the address, nullptr when none.
    TCachePage* FindCachedPage(Cardinal Address, Cardinal HighAddress) const
    {
        return FIndex.Find((std::uint64_t{HighAddress} << 32) | Address);
    }
    // Every page in the order of its use stamp, least recent first.
    TCachePage* FLeastRecent = nullptr;
    TCachePage* FMostRecent = nullptr;
    int FEmptyHint = 0; // no page before this index is empty
    bool FUseOrderStale = false;
    // The stamp given last before the running transaction began, and the
    // slots of the pages it used, each once: its first use finds the page's
    // stamp at or below the mark. Slots, not pages: a page leaves the cache
    // only from its end, and a slot past the end is simply skipped.
    std::uint64_t FTransactionStamp = 0;
    std::vector<int> FTransactionUsed;
    // Each slot's page owner, side by side, so that a search by owner
    // (ClearOwnedPages, at every fresh read of a table header) reads one
    // small array instead of every page. Every owner change goes through
    // SetOwner.
    std::vector<Integer> FSlotOwners;
    void SetOwner(TCachePage* Page, Integer Owner);
};

// ------------------------------------------------------------- block cache

// One byte range held during a transaction.
class TCacheBlock : public TCollectionItem {
public:
    explicit TCacheBlock(TCollection* Collection) : TCollectionItem(Collection) {}

    std::vector<Byte> Data;
    Cardinal LowAddress = 0;
    Cardinal HighAddress = 0;
    Integer BlockOwner = 0;
    Integer BlockSize = 0;
    Cardinal AccessFlags = 0;
    TCachePageState State = cpEmpty;
};

// The byte-range writes of a transaction (headers, map pages, zeroed pages),
// kept in memory until Commit writes them in the order they were first made.
// Held blocks never overlap: a write over another extent than one held
// block's (a header rewritten at another size, a page zeroed over headers)
// merges with every block it overlaps into one block over their union.
class TCacheBlockMgr : public TCollection {
public:
    TCacheBlockMgr();

    // The block starting at the address, -1 when none; 8579 when a block
    // starts before it and reaches past it.
    int FindBlock(Cardinal LowAddress, Cardinal HighAddress) const;
    // A held block of that address and size, else the file's bytes with
    // every held block over them.
    void ReadBlock(void* Buffer, Integer Owner, Cardinal AccessFlags, Cardinal LowAddress,
                   Cardinal HighAddress, Integer Size);
    void WriteBlock(const void* Buffer, Integer Owner, Cardinal AccessFlags, Cardinal LowAddress,
                    Cardinal HighAddress, Integer Size);
    // Copies into Buffer (the file's bytes from LowAddress on) the bytes of
    // every held block that overlaps them, and the reverse: writes the bytes
    // of Buffer into every held block they overlap.
    void OverlayBlocks(void* Buffer, Cardinal LowAddress, Cardinal HighAddress, Integer Size) const;
    void PatchBlocks(const void* Buffer, Cardinal LowAddress, Cardinal HighAddress, Integer Size);
    bool HasBlocksIn(Cardinal LowAddress, Cardinal HighAddress, Integer Size) const;

    void StartTransaction();
    void Commit();   // writes the dirty blocks, then frees them all; 10257 outside a transaction
    void Rollback(); // frees all blocks; 10257 outside a transaction
    bool TransactionActive() const { return FTransactionActive; }

    TCacheBlock* Blocks(int Index) const { return static_cast<TCacheBlock*>(Items(Index)); }
    Int64 Hits() const { return FHits; }
    Int64 Misses() const { return FMisses; }
    void SetLog(TStrings* Value) { FLog = Value; }
    void SetReadIO(TIOTransferBlockProc Value) { FReadIO = std::move(Value); }
    void SetWriteIO(TIOTransferBlockProc Value) { FWriteIO = std::move(Value); }

private:
    static std::uint64_t KeyOf(Cardinal LowAddress, Cardinal HighAddress)
    {
        return (std::uint64_t{HighAddress} << 32) | LowAddress;
    }
    // Calls Visit(block, offset in the range, offset in the block, count) for
    // every block overlapping [LowAddress, LowAddress + Size).
    template <class F>
    void ForEachOverlap(Cardinal LowAddress, Cardinal HighAddress, Integer Size, F&& Visit) const;
    void FreeBlocks();
    // A write over other extents than one held block's.
    void MergeBlock(const void* Buffer, Integer Owner, Cardinal AccessFlags, Cardinal LowAddress,
                    Cardinal HighAddress, Integer Size);

    bool FTransactionActive = false;
    Int64 FHits = 0;
    Int64 FMisses = 0;
    TStrings* FLog = nullptr;
    TIOTransferBlockProc FReadIO;
    TIOTransferBlockProc FWriteIO;
    std::map<std::uint64_t, int> FIndex; // start key -> collection index
    Integer FLargestBlock = 0;
};

// --------------------------------------------------------------- page file

// The open database file: whole pages and byte ranges at 32-bit addresses,
// the per-page encryption of table data, the page and block caches and the
// file transaction. Transfers with VekAccessPaged go through the page cache
// when it is active or a transaction runs; other transfers go through the
// block cache during a transaction and straight to the file otherwise.
//
// Inside a transaction nothing reaches the file before Commit: written pages
// stay dirty in the page cache, byte ranges in the block cache, appended
// pages get addresses beyond the real end of file (the virtual end), and
// released pages are zeroed through the block cache. Rollback forgets both.
//
// Commit is all or nothing. Holding the journal byte (JournalLockOffset), it
// writes the file's present bytes of every page and block it is about to
// write, and the file's size, into the rollback journal beside the file and
// flushes it; then it writes the pages, then the blocks, and flushes the
// file; then it removes the journal and lets the byte go. When a step fails
// the journal is rolled back at once (the file gets back its old bytes and
// size) and the commit raises; should that fail too, the journal stays
// behind for the next connection. A journal found while nobody holds its
// byte is rolled back (RecoverJournal) before anything reads the file: when
// the file is opened and whenever a lock is taken. One that is incomplete or
// damaged was never followed by a write to the file, and is only removed.
//
// Spilling: when the transaction's dirty pages pass the spill budget, the
// least recently used of them are written to the file before the commit.
// The first spill asks the owner for the locks that keep every other
// connection away from what the transaction touched (SetOnBeforeSpill),
// takes the journal byte and opens the journal, which from then on stays
// open to the end of the transaction and grows record by record (an
// open-ended journal: read up to its first incomplete record). Each spill
// records the original bytes of pages not recorded yet, flushes the
// journal, then writes the pages, which turn clean. The commit appends what
// it writes to the same journal; a rollback applies it (the last record
// first, so the first, original, bytes of a place win) and removes it.
class TVekFile : public TObject {
public:
    TVekFile();
    ~TVekFile() override;

    // Opens FileName as the Open* flags say; 8581 without page size or crypt
    // key, 8449 when the open fails. Returns the handle.
    Integer OpenVekFile(const std::string& FileName);
    // Creates (or empties) FileName and keeps it open without caches; the
    // handle, or -1 when it could not be created.
    Integer CreateVekFile(const std::string& FileName);
    void CloseVekFile();

    void SeekAndReadVekFile(void* Buffer, Cardinal Address, Integer Size, Integer TableID,
                            Cardinal AccessFlags);
    void SeekAndWriteVekFile(const void* Buffer, Cardinal Address, Integer Size, Integer TableID,
                             Cardinal AccessFlags);
    // SeekAndReadVekFile of Size bytes at each of Addresses in turn into
    // Buffer, calling Visit(I) once block I is there; through the page cache
    // a page is acquired once for its blocks (TCacheMgr::ReadCacheBlocks).
    void SeekAndReadVekFileBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, Integer TableID,
                                  Cardinal AccessFlags, void* Buffer, const TBlockVisitProc& Visit);
    // The same routes by pointer into the page cache; a read the page cache
    // cannot serve fails an assertion.
    void SeekAndReadVekFileByRef(void*& Buffer, Cardinal Address, Integer Size, Integer TableID,
                                 Cardinal AccessFlags);
    void SeekAndWriteVekFileByRef(const void* Buffer, Cardinal Address, Integer Size,
                                  Integer TableID, Cardinal AccessFlags);
    // Paged data inside a transaction, changed in place in the page cache
    // (see TCacheMgr::LendCacheByRef); false where the cache cannot lend.
    bool LendVekFileByRef(void*& Buffer, bool*& Checked, Cardinal Address, Integer Size,
                          Integer TableID, Cardinal AccessFlags);
    // Unenciphered byte ranges (the headers), through the block cache during
    // a transaction.
    void ReadThroughVekFile(void* Buffer, Cardinal Address, Integer Size);
    void WriteThroughVekFile(const void* Buffer, Cardinal Address, Integer Size);
    // Writes Size bytes at the end of file (the virtual end in a transaction,
    // which grows by Size) and returns their address.
    Cardinal SeekAndAppendVekFile(const void* Buffer, Integer Size, Integer TableID,
                                  Cardinal AccessFlags);
    // Writes PageSize bytes of ZeroPage at the address and forgets any cached
    // copy of the page; in a transaction through the block cache.
    void ReleasePage(Cardinal Address, const void* ZeroPage);

    Int64 SeekVekBof() const { return 0; }
    // The virtual end in a transaction; else the file's, or in write-back
    // mode the end of the pages appended so far, whichever lies further.
    Int64 SeekVekEof() const;
    Int64 SeekVekPosition(Int64 Offset) const { return Offset; }
    Int64 RealFileSize() const;
    void FlushBuffers();
    void CopyVekFile(const std::string& DestName);

    void StartTransaction();
    void Commit();
    void Rollback();
    // Rolls back a journal that no live connection holds: waits while another
    // connection commits (the journal is then its own), else restores the
    // journal's bytes and size, flushes and removes it. True when it changed
    // the file; clean cached pages are then dropped and CacheEpoch moves on.
    bool RecoverJournal();
    // Moves on after every rollback and every recovery: a table header read
    // under another epoch than the one it was read under before cannot tell
    // from its modification counter alone whether cached pages are stale.
    Cardinal CacheEpoch() const { return FCacheEpoch; }
    // Moves on at every StartTransaction: tells one transaction from the
    // next, so that what was seen under locks the transaction still holds
    // can be trusted without being read again.
    Cardinal TransactionSerial() const { return FTransactionSerial; }
    // The transaction's end of file becomes the larger of its own and the
    // file's real end: appends made by others since it started are never
    // overlapped.
    void AdjustTransactionEof();
    bool GetTransactionActive() const { return CheckOpen() && FTransactionActive; }

    // The bytes of changed pages a transaction keeps in memory before it
    // spills the oldest to the file; 0 never spills.
    void SetSpillBudget(Int64 Bytes);
    Int64 SpillBudget() const { return FSpillBudget; }
    // Asked before each spill; true when the locks that keep other
    // connections from the pages are held. False postpones the spill.
    void SetOnBeforeSpill(std::function<bool()> Value) { FOnBeforeSpill = std::move(Value); }
    // Whether the running transaction has written pages to the file, and
    // how many it has written so far.
    bool Spilled() const { return FSpilled; }
    Int64 SpilledPages() const { return FSpilledPages; }
    // Whether the running transaction has changed anything: a page or block
    // waiting for the commit, or pages already written early.
    bool TransactionWrote() const { return FSpilled || HasDirtyData(); }
    // The borrower of lent pages is done with them (see TCacheMgr).
    void ReturnLentPages();

    void SetXORKeyBuf(const void* Key, Integer Length);
    void SetBlowKeyBuf(const void* Key, Integer Length);
    // Enciphers or deciphers Count bytes: the scramble with access flag 2,
    // else Blowfish CFB restarted from the initialisation vector.
    void InternalCryptBuf(bool Encrypt, const void* Source, void* Dest, Cardinal AccessFlags,
                          Integer Seed, Integer Count);

    // The page and byte-range transfers the caches are connected to.
    void InternalReadPage(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                          Cardinal HighAddress);
    void InternalReadPageRun(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                             Integer PageCount);
    void InternalWritePageRun(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                              Integer PageCount);
    void InternalWritePage(void* Buffer, Integer TableID, Cardinal AccessFlags,
                           Cardinal LowAddress, Cardinal HighAddress);
    void InternalRead(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                      Cardinal HighAddress, Integer Size);
    void InternalWrite(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                       Cardinal HighAddress, Integer Size);

    // (after opening) Written pages stay in the page cache until it
    // replaces them (TCacheMgr::SetWriteBack): for a private file nobody
    // else reads and nothing needs after a crash. Outside a transaction the
    // unenciphered byte ranges (headers, map pages) are cached as pages too.
    // Pages appended meanwhile count towards the end of file before they
    // reach it. A transaction starts by writing the pages held back and
    // forgetting the cached byte ranges, so it holds only its own pages and
    // its block cache reads the file's bytes.
    void SetWriteBack(bool Value);
    bool WriteBack() const { return FCache->WriteBack(); }
    // Outside a transaction: the pages held back go to the file.
    void FlushWriteBack();

    void SetPageSize(Integer Value) { FPageSize = Value; }
    void SetCacheActive(bool Value) { FCacheActive = Value; }
    void SetOpenRead(bool Value) { FOpenRead = Value; }
    void SetOpenWrite(bool Value) { FOpenWrite = Value; }
    void SetOpenReadExclusive(bool Value) { FOpenReadExclusive = Value; }
    void SetOpenWriteExclusive(bool Value) { FOpenWriteExclusive = Value; }
    void SetLockRetryCount(Integer Value) { FLockRetryCount = Value; }
    void SetLockRetryInterval(Integer Value) { FLockRetryInterval = Value; }
    void SetBeepOnLockRetry(bool Value) { FBeepOnLockRetry = Value; }
    bool CheckOpen() const { return FFile != nullptr; }

    Integer Handle() const; // -1 when closed
    TPlatformFile* FileHandle() const { return FFile.get(); }
    Integer PageSize() const { return FPageSize; }
    bool CacheActive() const { return FCacheActive; }
    bool OpenRead() const { return FOpenRead; }
    bool OpenWrite() const { return FOpenWrite; }
    bool OpenReadExclusive() const { return FOpenReadExclusive; }
    bool OpenWriteExclusive() const { return FOpenWriteExclusive; }
    Integer LockRetryCount() const { return FLockRetryCount; }
    Integer LockRetryInterval() const { return FLockRetryInterval; }
    bool BeepOnLockRetry() const { return FBeepOnLockRetry; }
    Int64 VirtualEof() const { return FVirtualEof; }
    TCacheMgr* Cache() const { return FCache.get(); }
    TCacheBlockMgr* BlockCache() const { return FBlockCache.get(); }

private:
    // Write-back mode outside a transaction: every transfer, paged or not
    // (headers, map pages), goes through the page cache, so that none
    // reaches the file before the cache replaces its page.
    bool HeldBack() const { return FCacheActive && !FTransactionActive && FCache->WriteBack(); }
    bool ThroughPageCache(Cardinal AccessFlags) const
    {
        return ((AccessFlags & VekAccessPaged) != 0 && (FCacheActive || FTransactionActive)) || HeldBack();
    }
    void LogTableID(Integer TableID) const;
    void CheckFile(const char* Context) const; // 8449 when closed
    // Points the caches at this file's transfers and opens the page cache.
    void ConnectCaches(Integer CachePages);
    // Unenciphered transfers of Size bytes: 9217 / 9218 when they fail or
    // come back short. In a transaction a read sees the transaction's file:
    // zeros up to its virtual end, and the bytes of its blocks.
    void ReadRaw(void* Buffer, Cardinal Address, Integer Size, const char* Context);
    void WriteRaw(const void* Buffer, Cardinal Address, Integer Size, const char* Context);
    // Keeps the transaction's blocks equal to what a dirty page will write
    // over them, so that the later of the two writes wins at commit.
    void PatchBlocksFromPage(TCachePage* Page);
    // The journal: written and flushed before the commit writes (true when
    // there was anything to write), applied to the file (false when it was
    // incomplete or damaged, so never followed by a write), taken away.
    bool WriteJournal(Int64 OriginalSize);
    bool ApplyJournal();
    void RemoveJournal(const char* Context);
    // Takes the journal byte, waiting while another connection holds it;
    // false when the journal disappeared meanwhile (when WhileJournal).
    bool LockJournalByte(bool WhileJournal);
    void UnlockJournalByte();
    // Restores the file from the journal after a failed commit; the cache
    // forgets every page, since pages written before the failure were
    // marked clean.
    void UndoFailedCommit();
    // Spills when the dirty pages pass the budget.
    void SpillIfOverBudget()
    {
        if (FTransactionActive && FSpillPages > 0 && FCache->DirtyCount() > FSpillAt)
            SpillPages();
    }
    void SpillPages();
    // Opens the journal of a spilling transaction; false when another
    // connection holds the journal byte (the spill waits).
    bool StartSpillJournal();
    // Appends records of the file's present bytes of the ranges (below the
    // journal's original size) to the open journal and flushes it.
    void AppendJournal(const std::vector<std::pair<Cardinal, Integer>>& Ranges);
    // Closes the journal of a spilled transaction and forgets its state.
    void EndSpill();
    // Whether the transaction holds a changed page or block.
    bool HasDirtyData() const;
    // Rolls a spilled transaction's writes back from its journal.
    void UndoSpill();

    std::unique_ptr<TPlatformFile> FFile;
    std::vector<Byte> FWorkBuffer;
    std::string FXORKey;
    Int64 FVirtualEof = 0;
    // Write-back mode: the end of the pages appended so far, which may lie
    // beyond the file's end while they are held in the cache.
    Int64 FWriteBackEof = 0;
    std::unique_ptr<TCacheMgr> FCache;
    std::unique_ptr<TCacheBlockMgr> FBlockCache;
    bool FOpenWrite = false;
    bool FOpenRead = false;
    bool FOpenReadExclusive = false;
    bool FOpenWriteExclusive = false;
    Integer FLockRetryCount = 10;
    Integer FLockRetryInterval = 200;
    bool FBeepOnLockRetry = false;
    Integer FPageSize = DefaultPageSize;
    TBlowfishData FBlowfish{};
    bool FCacheActive = false;
    bool FTransactionActive = false;
    std::string FJournalName;
    bool FJournalLocked = false;
    Cardinal FCacheEpoch = 0;
    Cardinal FTransactionSerial = 0;
    // Spilling.
    Int64 FSpillBudget = DefaultSpillBudget;
    Integer FSpillPages = 0; // the budget in pages (0: never spill)
    Integer FSpillAt = 0;    // the dirty count past which the next spill runs
    std::function<bool()> FOnBeforeSpill;
    bool FSpilled = false;
    Int64 FSpilledPages = 0;
    std::unique_ptr<TPlatformFile> FJournal; // open while a transaction has spilled
    Int64 FJournalEnd = 0;                   // the end of its last flushed record
    Int64 FJournalOriginalSize = 0;
    std::vector<bool> FJournalled; // by page number: its original is recorded
};

// ----------------------------------------------------------- global header

// The 128 bytes at offset 1024: seven 32-bit fields, and free room that the
// block I/O interfaces reach through the item access.
class TGlobalHdr : public TObject {
public:
    static constexpr Integer OfsFirstMapPageEmpty = 16;
    static constexpr Integer OfsFirstMapPage = 20;
    static constexpr Integer OfsMapPageCount = 24;
    static constexpr Integer OfsTableHeadersFirstEmpty = 28;
    static constexpr Integer OfsSystemHeadersFirstEmpty = 32;
    static constexpr Integer OfsIndexesFirstEmpty = 36;
    static constexpr Integer OfsGlobalDBGenerator = 40;

    TGlobalHdr();

    // Allocates the zeroed buffer; 8581 when HdrSize is 0.
    void Initialize();

    Cardinal FirstMapPageEmpty() const { return Item(OfsFirstMapPageEmpty); }
    Cardinal FirstMapPage() const { return Item(OfsFirstMapPage); }
    Cardinal MapPageCount() const { return Item(OfsMapPageCount); }
    Cardinal TableHeadersFirstEmpty() const { return Item(OfsTableHeadersFirstEmpty); }
    Cardinal SystemHeadersFirstEmpty() const { return Item(OfsSystemHeadersFirstEmpty); }
    Cardinal IndexesFirstEmpty() const { return Item(OfsIndexesFirstEmpty); }
    Cardinal GlobalDBGenerator() const { return Item(OfsGlobalDBGenerator); }
    // Each setter writes only a changed value and then marks the header dirty.
    void SetFirstMapPageEmpty(Cardinal Value) { SetItem(Value, OfsFirstMapPageEmpty); }
    void SetFirstMapPage(Cardinal Value) { SetItem(Value, OfsFirstMapPage); }
    void SetMapPageCount(Cardinal Value) { SetItem(Value, OfsMapPageCount); }
    void SetTableHeadersFirstEmpty(Cardinal Value) { SetItem(Value, OfsTableHeadersFirstEmpty); }
    void SetSystemHeadersFirstEmpty(Cardinal Value) { SetItem(Value, OfsSystemHeadersFirstEmpty); }
    void SetIndexesFirstEmpty(Cardinal Value) { SetItem(Value, OfsIndexesFirstEmpty); }
    void SetGlobalDBGenerator(Cardinal Value) { SetItem(Value, OfsGlobalDBGenerator); }

    // A 32-bit value at any offset; 8581 "DB Header. Item offset is out of
    // range" for offset 0 or one whose four bytes leave the header.
    Cardinal GlobalInterfaceGetHdrItem(Integer Offset) const;
    void GlobalInterfaceSetHdrItem(Cardinal Value, Integer Offset);

    bool Dirty() const { return FDirty; }
    void SetDirty(bool Value) { FDirty = Value; }
    bool HeaderValid() const { return FHeaderValid; }
    void SetHeaderValid(bool Value) { FHeaderValid = Value; }
    Integer HdrSize() const { return FHdrSize; }
    void SetHdrSize(Integer Value) { FHdrSize = Value; }
    Cardinal BaseAddress() const { return FBaseAddress; }
    Byte* Buffer() { return FBuffer.data(); }
    const Byte* Buffer() const { return FBuffer.data(); }

private:
    Cardinal Item(Integer Offset) const;
    void SetItem(Cardinal Value, Integer Offset);
    void CheckOffset(Integer Offset) const;

    bool FDirty = false;
    Integer FHdrSize = GlobalHeaderSize;
    std::vector<Byte> FBuffer;
    Cardinal FBaseAddress = GlobalHeaderOffset;
    bool FHeaderValid = false;
};

// ---------------------------------------------------------------- page map

// The allocation map: finds free runs, marks pages used or free, keeps each
// map page's free chain ascending and the global header's map fields right.
// It reads every map page afresh before it uses it; the caller holds the
// header write lock around every change.
//
// The global header's FirstMapPageEmpty names the first map page (in chain
// order) that has a free entry, or 0 when none has: every change keeps it so,
// which lets the searches start there.
class TMapPageMgr : public TObject {
public:
    TMapPageMgr(TDiskMgr* DiskMgr, TGlobalHdr* GlobalHdr, Integer PageSize);

    // The address of Count adjacent free pages, unlinked from their map
    // page's free chain, or -1 when no map page has such a run.
    Int64 FindEmptyPages(Integer Count);
    // FindEmptyPages with 0 for none.
    Cardinal GetNextEmptyPageAddress(Integer Count);
    // Marks Count pages from Address (inside one map page) with Value: in use
    // (owner * 16 + type) or free (MapEntryFree).
    void SetMapEntryFlags(Word Value, Cardinal Address, Integer Count);
    // SetMapEntryFlags for a run that may cross map pages.
    void AdjustMapPageFlags(Word Value, Cardinal Address, Integer Count);
    // The entry of the page at Address.
    Word GetMapEntryFlags(Cardinal Address);

    // Reads map page ID (FirstMapPage for a negative one) and returns its address.
    Cardinal SearchMapsForMapPage(Integer ID);
    // The first map page from map ID on that has a free entry, 0 when none.
    Cardinal SearchMapsForFirstEmptyMapPage(Integer FromID = 0);
    // Appends a zeroed map page holding the next id, links it after the last
    // one and counts it; returns its address.
    Cardinal AddNewMapPage();
    // Frees every page of the owner (with ByType: of that owner and type),
    // appending their addresses to List in map order.
    void DeleteOwnedPages(Integer Owner, Integer PageType, std::vector<Cardinal>& List, bool ByType);
    void ListPagesUsedByOwner(Integer Owner, Integer PageType, std::vector<Cardinal>& List,
                              bool ByType);

    Integer CurrentMapPageID() const;
    // 8451 naming Context unless the map page in the buffer holds ID.
    void CheckChainedMapPage(Integer ID, const char* Context);
    Integer EntriesPerMap() const { return FEntriesPerMap; }
    Integer PageShift() const { return FPageShift; }
    Integer PageSize() const { return FPageSize; }
    Cardinal PageAddress(Integer MapID, Integer Entry) const
    {
        return static_cast<Cardinal>((Int64{MapID} * FEntriesPerMap + Entry) << FPageShift);
    }

    // Forgets the remembered map page addresses (after a rollback, which may
    // take back a map page added in the transaction).
    void ForgetMapAddresses();
    // The buffered map page is read again when next used.
    void ForgetBufferedPage();

    // Diagnostics over the map pages: true when the free chains, the marks of
    // the system area and the map pages, the entries beyond FileEnd and the
    // header's map fields are consistent; problems are added to List.
    bool CheckConsistency(TStrings* List, Int64 FileEnd);
    void DumpContents(TStrings* List);

private:
    // Search within the buffered map page: the entry index of the first run
    // of Count chained entries, unlinked from the chain; -1 when none.
    Integer FindEmptyPagesInMap(Integer Count);
    // The same through the map pages from map FromID on.
    Int64 SearchMapsForEmptyPages(Integer Count, Integer FromID);
    // SetMapEntryFlags without marking the map pages it adds.
    void SetMapEntriesInPage(Word Value, Cardinal Address, Integer Count);
    void MarkAddedMapPages();
    // Relinks every free entry of the buffered map page in ascending order.
    void OrderEmptySegments();
    void ReadMapPage(Cardinal Address);
    void WriteMapPage();
    Word Entry(Integer Index) const;
    void SetEntry(Integer Index, Word Value);
    Integer FirstFree() const;
    Cardinal NextMapPage() const;
    bool MatchesOwner(Word Value, Integer Owner, Integer PageType, bool ByType) const;
    void CheckChainOffset(Integer Offset) const;

    Integer FEntriesPerMap;
    Integer FPageShift;
    Integer FPageSize;
    std::vector<Byte> FBuffer;
    Cardinal FBufferAddress = 0; // the map page in the buffer (0: none)
    // The buffer holds what a read of its page gives now (no change of it
    // is pending or lost to a failure); while the header is kept
    // (TDiskMgr::HeaderKept) a read of that page uses it.
    bool FBufferCurrent = false;
    TDiskMgr* FDiskMgr;
    TGlobalHdr* FGlobalHdr;
    std::vector<Cardinal> FAddedMapPages; // map pages added and not yet marked
    bool FMarking = false;
    std::vector<Cardinal> FMapAddresses; // by map page id; 0 where not known
    // Copies of map pages read for entry look-ups (GetMapEntryFlags), so that
    // look-ups spread over several map pages do not read them again each
    // time. A copy holds while the header is kept and no map page changed
    // since it was taken (every change, and every end of a kept header,
    // moves FLookupEpoch on). Slot: map id modulo the slot count.
    struct TLookupPage {
        Integer ID = -1;
        Cardinal Epoch = 0;
        std::vector<Byte> Bytes;
    };
    static constexpr std::size_t LookupPages = 64;
    std::vector<TLookupPage> FLookup;
    Cardinal FLookupEpoch = 1;
    // The buffer no longer holds its page as read (a change is under way, or
    // the page is forgotten): neither it nor the look-up copies are used.
    void BufferChanging()
    {
        FBufferCurrent = false;
        ++FLookupEpoch;
    }
};

// --------------------------------------------------------- security header

// The 40 bytes at offset 768: the digest of the master key under a checksum.
struct TSecurityHeader {
    Cardinal HeaderSize = SecurityHeaderSize;
    TDateTime TimeWritten = 0;
    Word Major = 1; // always 1
    Word Minor = 1; // always 1
    std::array<Byte, 20> KeyDigest{}; // SHA-1 words, each little-endian
    Cardinal CRC = 0;                 // CRC-32 of the 40 bytes with this field 0

    void Encode(Byte* Dest) const;
    static TSecurityHeader Decode(const Byte* Source);
};

// ---------------------------------------------------------------- TDiskMgr

// The open database file of one connection. A writable file also gets a
// place in the lock file (TDBUserMonitor) and the table, record and
// transaction lock managers; a read-only one has none, and its lock calls
// answer as if granted (queries answer 1, requests the type asked for).
class TDiskMgr : public TObject {
public:
    TDiskMgr();
    ~TDiskMgr() override;

    // Creates a new file (pages 0 to 5, the global header and the first map
    // page) and leaves it closed: 8581 for a page size that is not a power of
    // two from 256 to 32768, 11043 when it exists and Overwrite is false,
    // 8582 when it cannot be created.
    void CreateNewFile(bool Overwrite);
    // Opens the file with OpenFlags: 8581 for a missing or invalid page size,
    // 11010 when the file is missing, 8449 when it cannot be opened.
    void Open();
    void Close();
    bool IsOpen() const { return FVekFile->CheckOpen(); }

    void SetFileName(const std::string& Value) { FFileName = Value; }
    void SetOpenFlags(unsigned Value);
    void SetPageSize(Integer Value) { FPageSize = Value; }
    void SetReadOnly(bool Value);
    // (before Open) A private file: opened by one connection only, so it
    // gets no lock file and no lock managers; every lock is granted.
    void SetPrivateFile(bool Value) { FPrivateFile = Value; }
    bool PrivateFile() const { return FPrivateFile; }
    // (before Open) Written pages stay in the page cache until it replaces
    // them (TVekFile::SetWriteBack): for a private file that is thrown away
    // after a crash. Close writes the held pages.
    void SetWriteBack(bool Value) { FWriteBack = Value; }
    bool WriteBack() const { return FWriteBack; }
    // The bytes the page cache may hold (0: chosen from the file's size at
    // Open). With a budget the cache starts empty and grows up to it.
    void SetCacheBudget(Int64 Bytes);
    Int64 CacheBudget() const { return FCacheBudget; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    void SetLockRetryCount(Integer Value);
    void SetLockRetryInterval(Integer Value);
    // Keeps the key (the default key when empty) and keys Blowfish with it.
    void SetCryptKey(const std::string& Key);

    void CopyCurrentFile(const std::string& DestName);
    Int64 GetFileSize();
    Int64 DiskCacheSize() const;
    // Flushes the file to the disk; inside a transaction only what is
    // committed reaches it, and the transaction goes on.
    void ForceToDisk();
    // The lock file's entries; 10501 for a file without a lock file.
    void GetCurrentUsers(TStrings* List);

    // Transfers; Address is a byte address.
    void ReadPages(Cardinal Address, Integer Count, Integer TableID, Cardinal AccessFlags,
                   void* Buffer);
    void WritePages(Cardinal Address, Integer Count, Integer TableID, Cardinal AccessFlags,
                    const void* Buffer);
    void ReadCustomSize(Cardinal Address, Integer Size, Integer TableID, Cardinal AccessFlags,
                        void* Buffer);
    void WriteCustomSize(Cardinal Address, Integer Size, Integer TableID, Cardinal AccessFlags,
                         const void* Buffer);
    void ReadCustomSizeByRef(Cardinal Address, Integer Size, Integer TableID,
                             Cardinal AccessFlags, void*& Buffer);
    // ReadCustomSize of each of Addresses in turn, Visit(I) after block I
    // (TVekFile::SeekAndReadVekFileBlocks).
    void ReadCustomSizeBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, Integer TableID,
                              Cardinal AccessFlags, void* Buffer, const TBlockVisitProc& Visit);
    void WriteCustomSizeByRef(Cardinal Address, Integer Size, Integer TableID,
                              Cardinal AccessFlags, const void* Buffer);

    // Allocation: Count pages for the table, reused from the map or appended,
    // written from Buffer and marked TableID * 16 + PageType; their address.
    Cardinal WriteNewPages(Integer TableID, Cardinal AccessFlags, Integer PageType, Integer Count,
                           const void* Buffer);
    // Count pages written at the end of file, not entered in the map.
    Cardinal AppendNewPages(const void* Buffer, Integer Count, Integer TableID,
                            Cardinal AccessFlags);
    // Frees Count pages in the map and zeroes them.
    void ReleasePages(Cardinal Address, Integer Count);
    // Frees every page of the owner (with ByType: of that type too) and
    // zeroes them.
    void DeleteOwnedPages(Integer Owner, Integer PageType, bool ByType);
    // The addresses of the BlockSize blocks in the owner's pages of that
    // type, as the block interfaces lay them out in runs of pages.
    void ListAllocatedFixedBlocks(Integer BlockSize, Integer Owner, Integer PageType,
                                  std::vector<Cardinal>& List);

    // Diagnostics, reported into List or DebugStrings.
    void DebugListOwnedPages(Integer Owner, TStrings* List);
    bool DebugCheckContents();
    void DebugDumpContents();
    bool DebugCheckStatus();
    bool DebugCheckAddressOwnerFlags(Cardinal Address, Integer Owner, Integer PageType);

    // Headers.
    void ReadHeader();  // 10248 without a header lock
    void WriteHeader(); // takes the header write lock unless held
    void SetHeaderReadLock();
    void SetHeaderWriteLock();
    void ReleaseHeaderLock();
    void ReadSecurityHeader(TSecurityHeader& Header);
    void WriteSecurityHeader(TSecurityHeader& Header);

    // Locks and transactions.
    Integer SetTableLock(Integer TableID, Integer LockType);
    void ReleaseTableLock(Integer TableID);
    Integer SetRecordLock(Cardinal RecordID, Integer TableID);
    void ReleaseRecordLock(Cardinal RecordID);
    Integer QueryTableLockStatus(Integer TableID) const;
    Integer QueryRecordLockStatus(Cardinal RecordID) const;
    void ReleaseAllLocks();
    void DiskStartTransaction(bool NoTransactionLocks);
    void DiskCommit();
    void DiskRollback();
    bool IsTransactionActive() const;
    // The bytes of changed pages a transaction keeps in memory before the
    // oldest go to the file early (DefaultSpillBudget; 0: never).
    void SetSpillBudget(Int64 Bytes) { FVekFile->SetSpillBudget(Bytes); }
    Int64 SpillBudget() const { return FVekFile->SpillBudget(); }

    TVekFile* VekFile() const { return FVekFile.get(); }
    TGlobalHdr* GlobalHdr() const { return FGlobalHdr.get(); }
    TMapPageMgr* MapPageMgr() const { return FMapPageMgr.get(); }
    TDBUserMonitor* UserMonitor() const { return FUserMonitor.get(); }
    TBaseLockMgr* TableLockMgr() const { return FTableLockMgr.get(); }
    TBaseLockMgr* RecordLockMgr() const { return FRecordLockMgr.get(); }
    TBaseLockMgr* TransactionLockMgr() const { return FTransactionLockMgr.get(); }
    Integer PageSize() const { return FPageSize; }
    unsigned OpenFlags() const { return FOpenFlags; }
    const std::string& FileName() const { return FFileName; }
    bool Exclusive() const { return FExclusive; }
    bool ReadOnly() const { return FReadOnly; }
    bool HeaderLocked() const { return FHeaderLocked; }
    bool HeaderWriteLocked() const { return FHeaderWriteLocked; }
    // Inside a transaction, the header and the map were read under a header
    // lock this connection holds ever since: nobody else changed them.
    bool HeaderKept() const
    {
        return FHeaderKept && IsTransactionActive() && FHeaderEpoch == FVekFile->CacheEpoch();
    }
    Integer LockRetryInterval() const { return FLockRetryInterval; }
    Integer LockRetryCount() const { return FLockRetryCount; }
    bool LockFileInUse() const { return FLockFileInUse; }
    const std::string& CryptKey() const { return FCryptKey; }
    TStrings* DebugStrings() const { return FDebugStrings; }

private:
    void CheckPageSize(const char* Context) const;
    void CheckOpen(const char* Context) const; // 8449 when the file is not open
    void CreateHeaderObjects();
    void FreeHeaderObjects();
    void CreateLockObjects();
    void FreeLockObjects();
    // Takes the header write lock unless it is held (upgrading a read lock);
    // true when no header lock was held before, so the caller gives it back.
    bool AcquireHeaderWriteLock();
    // Gives back a header lock the caller took; while a failure is being
    // raised, a second failure of the release is dropped.
    void ReleaseTakenHeaderLock(bool Taken, bool Failing);
    // Runs Work under a header read lock, taken for it unless one is held.
    template <class F>
    bool UnderHeaderReadLock(F&& Work);
    // After a header lock is newly had: the header again, and in a
    // transaction the end of file that others may have moved.
    void HeaderLockTaken();
    // Inside a transaction, with the header's lock held (it stays to the
    // end): nobody else can change the header, the map or the end of file.
    bool HeaderLockKept() const;
    void ZeroPages(const std::vector<Cardinal>& Pages);
    // Before a transaction writes pages early: a header read lock (nobody
    // else allocates or moves the end of file) and a write lock on every
    // table it holds a lock on, so no other connection reads what the file
    // now holds of the transaction. False when another connection is in the
    // way (the pages wait in memory).
    bool LockForSpill();
    const Byte* ZeroPage();

    std::unique_ptr<TVekFile> FVekFile;
    Integer FPageSize = 0;
    unsigned FOpenFlags = fmOpenReadWrite | fmShareDenyNone;
    std::string FFileName;
    std::unique_ptr<TGlobalHdr> FGlobalHdr;
    std::unique_ptr<TMapPageMgr> FMapPageMgr;
    bool FExclusive = false;
    bool FReadOnly = false;
    bool FHeaderLocked = false;
    bool FHeaderWriteLocked = false;
    // The header and the buffered map page were read under a header lock
    // held ever since (HeaderLockKept): a new header lock reads neither again.
    bool FHeaderKept = false;
    Cardinal FHeaderEpoch = 0; // the file's cache epoch then
    Integer FLockRetryInterval = 200;
    Integer FLockRetryCount = 10;
    bool FLockFileInUse = false;
    std::unique_ptr<TDBUserMonitor> FUserMonitor;
    std::unique_ptr<TBaseLockMgr> FTableLockMgr;
    std::unique_ptr<TBaseLockMgr> FRecordLockMgr;
    std::unique_ptr<TBaseLockMgr> FTransactionLockMgr;
    bool FNoTransactionLocks = false;
    std::string FCryptKey;
    TStrings* FDebugStrings = nullptr;
    bool FOpenMarkerLocked = false;
    bool FPrivateFile = false;
    bool FWriteBack = false;
    Int64 FCacheBudget = 0;
    std::vector<Byte> FZeroPage;
};

} // namespace orvex
