// The record-lock table: every connection's record locks in one shared hash
// table, so that taking and giving up a lock costs the same however many
// locks are held.

#include "storage/vekLockMgrUnit.h"

#include "platform/FileIO.h"
#include "storage/vekConsts.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_map>

namespace orvex {

namespace {

constexpr Integer ErrSystemFileIO = 8450; // "I/O error on a system file"

constexpr std::uint64_t TableMagic = 0x324B434C52564B56ULL; // "VKVRLCK2"
constexpr std::int64_t HeaderSize = 4096;
constexpr std::uint64_t OpenLockByte = 0;
constexpr std::size_t MutexOffset = 64;   // the table's mutex in the header
constexpr int MutexTimeoutMs = 30000;     // a holder keeps it for one operation
constexpr std::uint64_t OwnerLockBase = 0x100000;
constexpr std::uint32_t MaxOwners = 0x100000;
constexpr unsigned MinSlotBits = 10;  // 1024 slots, 8 KiB
constexpr unsigned MaxSlotBits = 32;  // 32 GiB: far beyond any transaction
constexpr std::uint32_t DeletedOwner = 1;

// Header fields, as 8-byte words.
constexpr int HdrMagic = 0;
constexpr int HdrRegion = 1;
constexpr int HdrUsed = 2;
constexpr int HdrLive = 3;

std::uint64_t Load(const std::uint64_t* Word)
{
    return std::atomic_ref<std::uint64_t>(*const_cast<std::uint64_t*>(Word)).load(std::memory_order_relaxed);
}

void Store(std::uint64_t* Word, std::uint64_t Value)
{
    std::atomic_ref<std::uint64_t>(*Word).store(Value, std::memory_order_relaxed);
}

constexpr std::uint32_t OwnerOf(std::uint64_t Entry) { return static_cast<std::uint32_t>(Entry >> 32); }
constexpr std::uint32_t RecordOf(std::uint64_t Entry) { return static_cast<std::uint32_t>(Entry); }
constexpr std::uint64_t MakeEntry(std::uint32_t Owner, std::uint32_t Record)
{
    return (static_cast<std::uint64_t>(Owner) << 32) | Record;
}

constexpr std::int64_t RegionOffset(std::uint64_t Word) { return static_cast<std::int64_t>(Word >> 8) * 4096; }
constexpr unsigned RegionBits(std::uint64_t Word) { return static_cast<unsigned>(Word & 0xFF); }
constexpr std::int64_t RegionBytes(unsigned Bits) { return static_cast<std::int64_t>(8) << Bits; }

std::uint64_t SlotOf(std::uint32_t Record, std::uint64_t Mask)
{
    // Fibonacci hashing spreads neighbouring addresses over the table.
    return ((static_cast<std::uint64_t>(Record) + 1) * 0x9E3779B97F4A7C15ULL >> 32) & Mask;
}

[[noreturn]] void TableError(const std::string& Context, const std::string& Text)
{
    VekDatabaseError(ErrSystemFileIO, "TRecordLockTable." + Context, Text, nullptr);
}

} // namespace

std::string GetRecordLockFileName(const std::string& LockFileName)
{
    return LockFileName + ".records.lck";
}

// Holds the table's mutex for a scope and brings the mapping up to date.
class TRecordLockTable::THold {
public:
    explicit THold(TRecordLockTable* Table) : FTable(Table)
    {
        if (!LockSharedMutex(FTable->Mutex(), MutexTimeoutMs))
            TableError("Lock", "The record-lock table could not be locked");
        try {
            FTable->Sync();
        } catch (...) {
            UnlockSharedMutex(FTable->Mutex());
            throw;
        }
    }
    ~THold() { UnlockSharedMutex(FTable->Mutex()); }
    THold(const THold&) = delete;
    THold& operator=(const THold&) = delete;

private:
    TRecordLockTable* FTable;
};

TRecordLockTable::TRecordLockTable(const std::string& FileName) : FFileName(FileName)
{
    FFile = TPlatformFile::Open(FileName, TFileAccess::ReadWrite, TFileShare::DenyNone, TFileCreate::OpenAlways);
    if (!FFile)
        TableError("Open", "The record-lock table could not be opened: " + FileName);
    // Openers take turns on the open lock, so that only one sets up a new
    // (or unusable) table and its mutex, which nobody can be using then.
    if (!FFile->LockRangeWait(OpenLockByte, 1))
        TableError("Open", "The record-lock table could not be locked");
    try {
        if (FFile->Size() < HeaderSize && !FFile->Reserve(HeaderSize))
            TableError("Open", "The record-lock table could not be made: " + FileName);
        FHeader = FFile->MapShared(0, HeaderSize);
        if (!FHeader)
            TableError("Open", "The record-lock table could not be mapped: " + FileName);
        auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
        if (Load(header + HdrMagic) != TableMagic) {
            InitSharedMutex(Mutex());
            Reset();
        } else if (FFile->CanLockRange(OwnerLockBase, MaxOwners)) {
            // No connection uses the table, so nobody can hold its mutex: one
            // found held was left by a holder that went down with its
            // machine, and would otherwise refuse every locker from now on.
            InitSharedMutex(Mutex());
        }
        THold hold(this);
        // The lowest free owner byte; entries left under it by a connection
        // that died are not ours.
        for (std::uint32_t k = 0; k < MaxOwners && FOwner == 0; ++k)
            if (FFile->LockRange(OwnerLockBase + k, 1))
                FOwner = static_cast<Integer>(k + 2);
        if (FOwner == 0)
            TableError("Open", "Too many connections hold record locks");
        PurgeOwner();
    } catch (...) {
        FRegion.reset();
        FHeader.reset();
        FFile.reset(); // gives up the open lock and the owner byte
        throw;
    }
    FFile->UnlockRange(OpenLockByte, 1);
}

void* TRecordLockTable::Mutex() const
{
    return FHeader->Data() + MutexOffset;
}

TRecordLockTable::~TRecordLockTable()
{
    FRegion.reset();
    FHeader.reset();
    FFile.reset(); // gives up the owner byte: entries still under it are dead
}

// An empty table: no region. Only a file nobody has used (or a damaged one)
// is reset.
void TRecordLockTable::Reset()
{
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    Store(header + HdrRegion, 0);
    Store(header + HdrUsed, 0);
    Store(header + HdrLive, 0);
    Store(header + HdrMagic, TableMagic);
}

// Maps the region the header names, when it is not the one mapped. A region
// word that does not describe a region inside the file resets the table.
void TRecordLockTable::Sync()
{
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    const std::uint64_t word = Load(header + HdrRegion);
    if (word == FRegionWord && (word == 0 || FRegion))
        return;
    FRegion.reset();
    FRegionWord = 0;
    FMask = 0;
    if (word == 0)
        return;
    const unsigned bits = RegionBits(word);
    const std::int64_t offset = RegionOffset(word);
    const std::int64_t size = FFile->Size();
    if (bits < MinSlotBits || bits > MaxSlotBits || offset < HeaderSize || size < 0 ||
        offset > size || RegionBytes(bits) > size - offset) {
        Reset();
        return;
    }
    FRegion = FFile->MapShared(offset, RegionBytes(bits));
    if (!FRegion)
        TableError("Sync", "The record-lock table could not be mapped: " + FFileName);
    FRegionWord = word;
    FMask = (std::uint64_t{1} << bits) - 1;
}

bool TRecordLockTable::OwnerAlive(std::uint32_t Owner)
{
    if (Owner == static_cast<std::uint32_t>(FOwner))
        return true;
    if (Owner < 2 || Owner - 2 >= MaxOwners)
        return false;
    return !FFile->CanLockRange(OwnerLockBase + (Owner - 2), 1);
}

// The slot holding the record's live entry (whatever its owner), or nullptr;
// Deleted (when given) receives the first deleted slot of the probe, or the
// empty slot that ended it, or nullptr when the probe met neither.
std::uint64_t* TRecordLockTable::FindSlot(Cardinal Record, std::uint64_t** Deleted)
{
    if (Deleted)
        *Deleted = nullptr;
    if (!FRegion)
        return nullptr;
    auto* slots = reinterpret_cast<std::uint64_t*>(FRegion->Data());
    std::uint64_t at = SlotOf(Record, FMask);
    for (std::uint64_t probes = 0; probes <= FMask; ++probes, at = (at + 1) & FMask) {
        const std::uint64_t entry = Load(slots + at);
        if (entry == 0) {
            if (Deleted && !*Deleted)
                *Deleted = slots + at;
            return nullptr;
        }
        if (OwnerOf(entry) == DeletedOwner) {
            if (Deleted && !*Deleted)
                *Deleted = slots + at;
        } else if (RecordOf(entry) == Record) {
            return slots + at;
        }
    }
    return nullptr;
}

// A new region holding the live entries of live owners, with room for at
// least MinLive entries at a load of a quarter: the table grows, shrinks and
// sheds its deleted slots here. The new region lies at the file's start when
// it fits before the current one, else after it, so that the current one
// stays whole until the region word names the new one.
void TRecordLockTable::Rebuild(Int64 MinLive)
{
    std::vector<std::uint64_t> kept;
    if (FRegion) {
        std::unordered_map<std::uint32_t, bool> alive;
        const auto* slots = reinterpret_cast<const std::uint64_t*>(FRegion->Data());
        for (std::uint64_t i = 0; i <= FMask; ++i) {
            const std::uint64_t entry = Load(slots + i);
            const std::uint32_t owner = OwnerOf(entry);
            if (owner < 2)
                continue;
            auto known = alive.find(owner);
            if (known == alive.end())
                known = alive.emplace(owner, OwnerAlive(owner)).first;
            if (known->second)
                kept.push_back(entry);
        }
    }
    const Int64 wanted = std::max<Int64>(MinLive, static_cast<Int64>(kept.size()) + 1);
    unsigned bits = MinSlotBits;
    while (bits < MaxSlotBits && (Int64{1} << bits) < 4 * wanted)
        ++bits;
    if ((Int64{1} << bits) < 2 * wanted)
        TableError("Rebuild", "The record-lock table is full");
    const std::int64_t bytes = RegionBytes(bits);
    std::int64_t offset = HeaderSize;
    if (FRegion && HeaderSize + bytes > RegionOffset(FRegionWord))
        offset = std::max(RegionOffset(FRegionWord) + FRegion->Length(), HeaderSize + bytes);
    if (FFile->Size() < offset + bytes && !FFile->Reserve(offset + bytes))
        TableError("Rebuild", "The record-lock table could not grow: " + FFileName);
    std::unique_ptr<TFileMapping> region = FFile->MapShared(offset, bytes);
    if (!region)
        TableError("Rebuild", "The record-lock table could not be mapped: " + FFileName);
    auto* slots = reinterpret_cast<std::uint64_t*>(region->Data());
    std::memset(slots, 0, static_cast<std::size_t>(bytes));
    const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    for (const std::uint64_t entry : kept) {
        std::uint64_t at = SlotOf(RecordOf(entry), mask);
        while (slots[at] != 0)
            at = (at + 1) & mask;
        slots[at] = entry;
    }
    // The one store that switches every connection to the new region.
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    const std::uint64_t word = (static_cast<std::uint64_t>(offset / 4096) << 8) | bits;
    Store(header + HdrRegion, word);
    Store(header + HdrUsed, kept.size());
    Store(header + HdrLive, kept.size());
    FRegion = std::move(region);
    FRegionWord = word;
    FMask = mask;
}

bool TRecordLockTable::TryLock(Cardinal Record)
{
    THold hold(this);
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    const std::uint64_t mine = MakeEntry(static_cast<std::uint32_t>(FOwner), Record);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!FRegion || (Load(header + HdrUsed) + 1) * 4 > (FMask + 1) * 3)
            Rebuild(static_cast<Int64>(Load(header + HdrLive)) + 1);
        std::uint64_t* free = nullptr;
        if (std::uint64_t* held = FindSlot(Record, &free)) {
            const std::uint32_t owner = OwnerOf(Load(held));
            if (owner == static_cast<std::uint32_t>(FOwner))
                return true;
            if (OwnerAlive(owner))
                return false;
            Store(held, mine); // taken over from a connection that is gone
            return true;
        }
        if (!free) {
            // A full probe: the counts were off (a process died between an
            // entry and its count); a rebuild recounts.
            Rebuild(static_cast<Int64>(FMask + 1) / 2);
            continue;
        }
        const bool wasEmpty = Load(free) == 0;
        Store(free, mine);
        if (wasEmpty)
            Store(header + HdrUsed, Load(header + HdrUsed) + 1);
        Store(header + HdrLive, Load(header + HdrLive) + 1);
        return true;
    }
    TableError("TryLock", "The record-lock table is full");
}

void TRecordLockTable::DeleteOwned(Cardinal Record)
{
    std::uint64_t* held = FindSlot(Record, nullptr);
    if (!held || OwnerOf(Load(held)) != static_cast<std::uint32_t>(FOwner))
        return;
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    Store(held, MakeEntry(DeletedOwner, 0));
    const std::uint64_t live = Load(header + HdrLive);
    Store(header + HdrLive, live > 0 ? live - 1 : 0);
}

void TRecordLockTable::Unlock(Cardinal Record)
{
    THold hold(this);
    DeleteOwned(Record);
}

void TRecordLockTable::UnlockAll(const std::vector<Cardinal>& Records)
{
    if (Records.empty())
        return;
    THold hold(this);
    for (const Cardinal record : Records)
        DeleteOwned(record);
    // A big transaction leaves as many deleted slots: shed them while they
    // are many, so that the next connection's probes stay short.
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    if (FMask + 1 > (std::uint64_t{1} << MinSlotBits) && Load(header + HdrLive) * 8 < FMask + 1)
        Rebuild(0);
}

bool TRecordLockTable::LockedByOther(Cardinal Record)
{
    THold hold(this);
    const std::uint64_t* held = FindSlot(Record, nullptr);
    if (!held)
        return false;
    const std::uint32_t owner = OwnerOf(Load(held));
    return owner != static_cast<std::uint32_t>(FOwner) && OwnerAlive(owner);
}

Int64 TRecordLockTable::LiveCount()
{
    THold hold(this);
    return static_cast<Int64>(Load(reinterpret_cast<std::uint64_t*>(FHeader->Data()) + HdrLive));
}

// Deletes the entries a dead connection left under this connection's owner
// byte (under the mutex, before this connection locks anything).
void TRecordLockTable::PurgeOwner()
{
    if (!FRegion)
        return;
    auto* header = reinterpret_cast<std::uint64_t*>(FHeader->Data());
    if (Load(header + HdrLive) == 0)
        return;
    auto* slots = reinterpret_cast<std::uint64_t*>(FRegion->Data());
    std::uint64_t purged = 0;
    for (std::uint64_t i = 0; i <= FMask; ++i)
        if (OwnerOf(Load(slots + i)) == static_cast<std::uint32_t>(FOwner)) {
            Store(slots + i, MakeEntry(DeletedOwner, 0));
            ++purged;
        }
    const std::uint64_t live = Load(header + HdrLive);
    Store(header + HdrLive, live > purged ? live - purged : 0);
}

} // namespace orvex
