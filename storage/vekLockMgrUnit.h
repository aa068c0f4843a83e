#pragma once
// The lock file beside a database (who is connected) and the lock managers
// that turn table, record and transaction locks into byte ranges of it.
//
// Connections in one or several processes coordinate only through exclusive,
// non-re-entrant byte-range locks on the platform file layer: there is no
// shared memory and no server. Layout of the lock file:
//   0 .. 4095            block 0; its byte 0 is the mutex (locked, never written)
//   4096, 8192, ...      user slots of 4096 bytes: the zero-terminated entry
//                        text "computer,user" (comma text), zero-padded; an
//                        all-zero first byte marks an empty slot
//   < 0x400000           the file never grows this far (9486 on open)
//   0x400000 + S + i     connection byte i of slot S (beyond the end of file)
//   0x800000 + T * 8192  the 8192-byte lock region of table T (0: the header)
//   0x1FFE000 + T        the transaction byte of table T
// Byte 8192 of the database file itself guards the lock file's creation and
// removal (the parent lock).
//
// Record locks do not live in the lock file: a transaction may hold hundreds
// of thousands of them, and the kernel checks a new byte-range lock against
// every lock of the file, so taking n scattered locks would cost n^2. They
// live in the record-lock table, a shared hash table in a file of its own
// (see TRecordLockTable), where taking or giving up one costs the same
// whatever the number held.

#include "host/Classes.h"
#include "host/System.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TPlatformFile;
class TFileMapping;
class TRecordLockTable;

// ------------------------------------------------------------------- layout

inline constexpr Int64 LockFileSlotSize = 4096;       // block 0 and every user slot
inline constexpr Int64 LockFileMutexOffset = 0;       // the mutex byte
inline constexpr Int64 LockFileSizeLimit = 0x400000;  // a lock file this big refuses connections
inline constexpr Int64 ConnectionLockBase = 0x400000; // + slot offset: the slot's connection bytes
inline constexpr Int64 TableLockBase = 0x800000;
inline constexpr Int64 TableLockRegionSize = 8192;
inline constexpr Int64 TransactionLockBase = 0x1FFE000;
inline constexpr Int64 RecordLockBase = 0x2000000;
inline constexpr Int64 ParentLockOffset = 8192; // on the database file

// The mutex byte and the parent lock: one try, then this many more, this far apart.
inline constexpr Integer LockFileMutexRetries = 20;
inline constexpr Integer LockFileMutexInterval = 100; // ms

// Transaction locks: tried this many times, 80 + Random(40) ms apart (drawn
// once per connection).
inline constexpr Integer TransactionLockRetries = 20;
inline constexpr Integer TransactionLockIntervalBase = 80;
inline constexpr Integer TransactionLockIntervalSpread = 40;

// Lock types of TLockItem.LckType and of the lock queries.
inline constexpr Integer LockTypeNone = 0;
inline constexpr Integer LockTypeRead = 1;
inline constexpr Integer LockTypeWrite = 4;

// The lock file of a database file. When the lower-cased file name (not its
// folder) contains ".vek", the database name with the extension ".lck"
// ("/data/shop.vek" -> "/data/shop.lck"); otherwise the folder, the file name
// with every "." turned into "_", and ".lck" ("/data/shop.dat" ->
// "/data/shop_dat.lck").
std::string GetLockFileName(const std::string& DatabaseFileName);

// ----------------------------------------------------------- TDBUserMonitor

// One connection's place in the lock file: its user slot and its connection
// byte. Open and Close follow the connection protocol; the counting and
// listing routines run under the lock file's mutex. Linux lets a process
// remove a file that others hold open, so the lock file is removed only under
// its mutex, and an opener checks under the mutex that its handle still is the
// file at the lock file's path, starting again when it is not: no two
// connections ever coordinate through different files.
class TDBUserMonitor : public TObject {
public:
    // DatabaseHandle carries the parent lock (none when nullptr); it is not owned.
    TDBUserMonitor(TPlatformFile* DatabaseHandle, const std::string& LockFileName);
    ~TDBUserMonitor() override; // closes

    // Connects: creates the lock file when missing, takes (or reuses) the
    // slot of this computer and user and the lowest free connection byte of it.
    // 9486 when the lock file has grown too large, 10249 when the mutex or the
    // parent lock cannot be had.
    void Open(const std::string& UserName, const std::string& ComputerName);
    // Disconnects: gives up the connection byte, empties the slot when no other
    // connection of the user holds it, sweeps the slots of ended connections
    // and removes the lock file when no slot is live.
    void Close();

    Integer GetCurrentUserCount();       // slots with a live connection
    Integer GetCurrentConnectionCount(); // live connections of all slots
    // Clears List and adds the entry text of every slot in file order (an
    // empty line for an empty slot).
    void GetCurrentUsers(TStrings* List);
    // The live connections of the slot at LockOffset: connection bytes that
    // cannot be locked, this connection's own byte included.
    Integer CountConnectionsForUser(Int64 LockOffset);
    // Zeroes every slot whose connection bytes are all free and returns the
    // number of slots that have live connections.
    Integer SweepLockFile();
    void SetLockErrMsg(const std::string& Text) { FLockErrMsg = Text; }

    bool Active() const { return FLockFile != nullptr; }
    // The open lock file, on which the lock managers work (nullptr when closed).
    TPlatformFile* LockFileHandle() const { return FLockFile.get(); }
    const std::string& LockFileName() const { return FLockFileName; }
    // The record-lock table the connection shares with the others (nullptr
    // when closed).
    TRecordLockTable* RecordLocks() const { return FRecordLocks.get(); }
    const std::string& EntryText() const { return FEntryText; }
    // The offset of this connection's connection byte; 0 when it has none
    // (all 4096 of its slot taken).
    Int64 ConnectionOffset() const { return FConnectionOffset; }

private:
    class TMutexHold;
    void InternalSetLock();
    void InternalReleaseLock();
    void InternalSetParentLock();
    void InternalReleaseParentLock();
    void LockByteWithRetries(TPlatformFile* File, Int64 Offset, const char* Context);
    void CreateLockFile();
    void CloseLockFile();
    Int64 SlotEnd() const; // the offset after the last (possibly short) slot
    std::string ReadSlot(Int64 Offset);
    void WriteSlot(Int64 Offset, const std::string& Text);
    Int64 FindSlot(const std::string& Entry); // -1 when none holds it
    Int64 TakeSlot();
    void TakeConnectionByte(Int64 Slot);

    std::string FEntryText;
    std::string FLockFileName;
    std::unique_ptr<TPlatformFile> FLockFile;
    std::unique_ptr<TRecordLockTable> FRecordLocks;
    Int64 FConnectionOffset = 0;
    std::array<char, LockFileSlotSize + 1> FBuffer{}; // a slot read into it is zero-terminated
    TPlatformFile* FDatabaseHandle;
    std::string FLockErrMsg;
    bool FMutexHeld = false;
};

// ------------------------------------------------------- TRecordLockTable

// The record-lock table file of a lock file: "/data/shop.lck" ->
// "/data/shop.lck.records.lck".
std::string GetRecordLockFileName(const std::string& LockFileName);

// The record locks of every connection to one database: an open-addressing
// hash table of 8-byte entries (owner << 32 | record address) in a file that
// each connection maps shared. Layout of the file:
//   0 .. 4095   the header: a magic number, the region word (the table's
//               offset in 4096-byte units << 8 | log2 of its slot count),
//               the used slots (live, dead and deleted entries) and the live
//               entries; at byte 64 the table's mutex (a shared-memory mutex
//               of the platform layer, held only for one operation: taking a
//               lock costs no system call)
//   region      the slots; 0 is empty, owner 1 marks a deleted entry
// Byte-range locks on the file (none of them on its data):
//   0               the open lock: openers take turns on it, so that one
//                   alone sets up a new table and its mutex (or, finding no
//                   owner byte held, frees a mutex a holder left held when
//                   its machine went down)
//   0x100000 + k    owner byte k: held by the connection that owns entries of
//                   owner k + 2 for as long as it lives
// Every reader and writer holds the mutex, so each operation sees the table
// whole, and each change is made by one 8-byte store (a new table by a new
// region word), so a process killed at any moment leaves a sound table (its
// mutex passes to the next locker). An
// entry whose owner byte is free belongs to a connection that is gone: it is
// taken over by the next locker and dropped when the table is rebuilt. A
// connection that takes an owner byte first deletes the entries a dead
// predecessor left under it.
class TRecordLockTable {
public:
    // Opens the table at FileName, creating it when missing or unusable, and
    // takes an owner byte; 8450 when the file cannot be made or mapped.
    // Call under the lock file's mutex, which also guards the file's removal.
    explicit TRecordLockTable(const std::string& FileName);
    ~TRecordLockTable(); // gives up the owner byte and the mapping
    TRecordLockTable(const TRecordLockTable&) = delete;
    TRecordLockTable& operator=(const TRecordLockTable&) = delete;

    // Locks the record for this connection: true when it holds it now (also
    // when it held it already), false when another live connection does.
    bool TryLock(Cardinal Record);
    // Gives up the record's lock (nothing when this connection has none).
    void Unlock(Cardinal Record);
    // Gives up every listed lock in one hold of the mutex.
    void UnlockAll(const std::vector<Cardinal>& Records);
    // Whether a live connection other than this one holds the record.
    bool LockedByOther(Cardinal Record);
    // The live entries, this connection's and others' (dead owners' entries
    // count until they are taken over or dropped).
    Int64 LiveCount();
    Integer Owner() const { return FOwner; }
    const std::string& FileName() const { return FFileName; }

private:
    class THold;
    void* Mutex() const;
    void Sync();
    void Reset();
    void Rebuild(Int64 MinLive);
    bool OwnerAlive(std::uint32_t Owner);
    std::uint64_t* FindSlot(Cardinal Record, std::uint64_t** Deleted);
    void DeleteOwned(Cardinal Record);
    void PurgeOwner();

    std::string FFileName;
    std::unique_ptr<TPlatformFile> FFile;
    std::unique_ptr<TFileMapping> FHeader;
    std::unique_ptr<TFileMapping> FRegion;
    std::uint64_t FRegionWord = 0; // the region word FRegion maps
    std::uint64_t FMask = 0;       // slot count - 1
    Integer FOwner = 0;            // this connection's owner value (owner byte + 2)
};

// ------------------------------------------------------------ lock records

// One lock a lock manager holds.
class TLockItem : public TCollectionItem {
public:
    explicit TLockItem(TCollection* Collection) : TCollectionItem(Collection) {}
    ~TLockItem() override; // leaves its collection's index

    Int64 LckSize = 0;
    Integer LckType = LockTypeNone; // LockTypeRead or LockTypeWrite
    Int64 LckAddr = 0;              // offset in the lock file
    Int64 RqID = 0;                 // the table, record or transaction id

    // The next newer lock of the same id in its collection, or nullptr.
    TLockItem* NextOfID() const { return FNextOfID; }

private:
    friend class TLockCollection;
    TLockItem* FNextOfID = nullptr;
};

// The locks one lock manager holds, oldest first, found by id through an
// index beside the list, so that a manager holding many locks (a transaction
// that edits many records) answers in constant time per id. The index is one
// flat open-addressing table of (id, oldest lock) slots; the locks of one id
// are chained oldest to newest through the items themselves, so a lock costs
// no allocation beyond its item.
class TLockCollection : public TCollection {
public:
    TLockCollection();
    ~TLockCollection() override;

    TLockItem* Items(int Index) const { return static_cast<TLockItem*>(TCollection::Items(Index)); }
    TLockItem* AddLock(Int64 RqID, Int64 LckAddr, Integer LckType, Int64 LckSize);
    // Forgets every lock (the file locks are the manager's to give up).
    void Clear();
    // The first lock of that id and type, or nullptr.
    TLockItem* FindLockInRegion(Int64 RqID, Integer LckType) const;
    // The strongest type recorded for the id (write over read), LockTypeNone
    // when none: after an upgrade the id reports write.
    Integer FindLockType(Int64 RqID) const;
    // The oldest lock of the id (nullptr when it has none); the newer ones
    // follow through NextOfID.
    TLockItem* FirstLockOf(Int64 RqID) const;
    void DebugDumpStatus(TStrings* List) const;

private:
    friend class TLockItem;
    struct TSlot {
        Int64 ID = 0;
        TLockItem* First = nullptr; // nullptr: an empty slot
    };
    std::size_t SlotOf(Int64 RqID) const;
    std::size_t FindSlot(Int64 RqID) const; // the id's slot, or the empty one that ends its probe
    void Grow();
    void Forget(TLockItem* Item);
    std::vector<TSlot> FSlots; // a power of two in size, at most half used
    std::size_t FUsed = 0;
};

// --------------------------------------------------------------- managers

// Turns the locks of one kind (tables, records or transactions) into byte
// ranges of the lock file. Each id owns a region of RegionSize bytes from
// BaseOffset; a read lock holds one random byte of it, a write lock the whole
// region, so readers share an id and a writer excludes everyone. A lock that
// cannot be had after LockRetryCount tries (at least one), LockRetryInterval
// ms apart, raises 10249 with the manager's text; locks held before stay held.
class TBaseLockMgr : public TObject {
public:
    // Asserts "File handle is not set" without a handle and "Lock region size
    // is 0" for a zero RegionSize. The handle is not owned.
    TBaseLockMgr(TPlatformFile* Handle, Int64 BaseOffset, Int64 RegionSize);
    ~TBaseLockMgr() override;

    Int64 GetCalculatedLockAddr(Int64 ID) const;
    // A read lock of Size bytes (0 means 1) at a random place of the region;
    // true at once when the id already has one.
    bool SetReadLock(Int64 ID, Int64 Size);
    // A write lock of Size bytes (0 means the region) at the region's start;
    // a read lock of the id is upgraded instead. Returns LockTypeWrite.
    Integer SetWriteLock(Int64 ID, Int64 Size);
    // Locks the rest of the region around the id's read byte; 10249 when it
    // cannot.
    bool UpgradeReadLockToWriteLock(Int64 ID, Int64 Size);
    // Every held read lock becomes a write lock (before a transaction commits).
    void UpgradeReadLocks();
    // Unlocks and forgets the id's locks, newest first.
    void ReleaseLock(Int64 ID);
    // Unlocks and forgets every lock. When the handle holds nothing else
    // between the lowest and the highest of them, one file call releases
    // them all; otherwise they go newest first.
    void ReleaseAllLocks();
    // The strongest lock type held for the id (LockTypeNone when none).
    Integer QueryLockType(Int64 ID) const;
    bool LockExists(Int64 ID, Integer LockType) const;
    Integer GetLockCount() const { return FLocks->Count(); }
    const TLockCollection* Locks() const { return FLocks.get(); }

    void SetLockRetryCount(Integer Value) { FLockRetryCount = Value; }
    void SetLockRetryInterval(Integer Value) { FLockRetryInterval = Value; }
    void SetBeepOnLockRetry(bool Value) { FBeepOnLockRetry = Value; }
    void SetReadLockErrMsg(const std::string& Value) { FReadLockErrMsg = Value; }
    void SetWriteLockErrMsg(const std::string& Value) { FWriteLockErrMsg = Value; }
    Integer LockRetryCount() const { return FLockRetryCount; }
    Integer LockRetryInterval() const { return FLockRetryInterval; }
    bool BeepOnLockRetry() const { return FBeepOnLockRetry; }
    Int64 BaseOffset() const { return FBaseOffset; }
    Int64 RegionSize() const { return FRegionSize; }
    TPlatformFile* Handle() const { return FHandle; }

    void DebugDumpStatus(TStrings* List) const;

protected:
    // The file operations; the base versions do nothing and answer false.
    virtual bool InternalReleaseFileLock(Int64 Address, Int64 Size);
    virtual bool InternalLockFile(Int64 Address, Int64 Size, Integer LockType);
    virtual bool InternalUpgradeReadLock(Int64 ID, Int64 Size);
    // Releases every held lock at once when it can (false: nothing released).
    virtual bool InternalReleaseAllFileLocks();
    // Tries InternalLockFile up to LockRetryCount times (at least once), with
    // the address that NextAddress gives for each try; the address locked, or
    // -1 when every try failed.
    Int64 LockWithRetries(const std::function<Int64()>& NextAddress, Int64 Size, Integer LockType);

    TPlatformFile* FHandle;
    std::unique_ptr<TLockCollection> FLocks;
    Int64 FRegionSize;
    bool FBeepOnLockRetry = false;
    Integer FLockRetryCount = 10;
    Integer FLockRetryInterval = 200; // ms
    Int64 FBaseOffset;
    std::string FWriteLockErrMsg;
    std::string FReadLockErrMsg;
};

// The lock manager on the platform's byte-range locks.
class TWinLockMgr : public TBaseLockMgr {
public:
    using TBaseLockMgr::TBaseLockMgr;
    ~TWinLockMgr() override; // releases what it still holds

protected:
    bool InternalReleaseFileLock(Int64 Address, Int64 Size) override;
    bool InternalLockFile(Int64 Address, Int64 Size, Integer LockType) override;
    // Locks the part of the region before the id's read byte, then the part
    // after it (each with the retry loop, each recorded as a write lock); when
    // the second part fails the first is given back.
    bool InternalUpgradeReadLock(Int64 ID, Int64 Size) override;
    // One unlock over the span of the held locks, when the handle holds no
    // other range inside it.
    bool InternalReleaseAllFileLocks() override;
};

// The record lock manager: each record's lock is an entry of the shared
// record-lock table instead of a byte of the lock file, exclusive whether it
// was asked for as a read or a write lock. Its items keep the record's lock
// file address (RecordLockBase + id) for the debug dump.
class TRecordLockMgr : public TBaseLockMgr {
public:
    // Handle is the lock file (for the dump); the table is not owned.
    TRecordLockMgr(TPlatformFile* Handle, TRecordLockTable* Table);
    ~TRecordLockMgr() override; // releases what it still holds

protected:
    bool InternalReleaseFileLock(Int64 Address, Int64 Size) override;
    bool InternalLockFile(Int64 Address, Int64 Size, Integer LockType) override;
    bool InternalUpgradeReadLock(Int64 ID, Int64 Size) override; // already exclusive
    bool InternalReleaseAllFileLocks() override;

private:
    TRecordLockTable* FTable;
};

// A lock manager on the lock file: a TWinLockMgr(LockFileHandle, BaseOffset,
// RegionSize). DatabaseHandle and Flag are not used.
TBaseLockMgr* GetLockManager(TPlatformFile* DatabaseHandle, TPlatformFile* LockFileHandle,
                             Int64 BaseOffset, Int64 RegionSize, Integer Flag);

// The three managers of an open connection, with their regions, retry rules
// and error texts: table and record locks take the connection's retry count
// and interval; transaction locks are tried TransactionLockRetries times,
// 80 + Random(40) ms apart, drawn here once. Table and transaction locks are
// byte ranges of the monitor's lock file, record locks entries of its
// record-lock table.
enum TLockMgrKind { lmkTable, lmkRecord, lmkTransaction };
TBaseLockMgr* CreateLockManager(TLockMgrKind Kind, TDBUserMonitor* Monitor, Integer RetryCount,
                                Integer RetryInterval);

} // namespace orvex
