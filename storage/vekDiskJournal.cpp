// TVekFile: the rollback journal that makes a commit all or nothing.
//
// The journal (the database file's name + ".jnl"):
//   0   "VEKJRNL1"
//   8   the page size (4)
//   12  the database file's size before the commit (8)
//   20  the number of records (4); 0xFFFFFFFF for an open-ended journal
//   24  0 (4)
//   28  CRC-32 of bytes 0 to 27 (4)
//   32  the records, each: the address (4), the size (4), the CRC-32 of the
//       data (4), the CRC-32 of these twelve bytes (4), then the data: the
//       bytes the file held there before the transaction wrote to it.
// All fields little-endian. Only bytes below the old size are journalled;
// everything beyond it goes when the file is cut back to that size.
//
// A commit writes a counted journal whole before it writes the file: one
// that is short of its count was never followed by a write, and is only
// removed. A transaction that spills writes an open-ended journal record by
// record, each flushed before the file is written there: it is read up to
// its first incomplete or damaged record, and every record before that is
// applied. A place may be recorded more than once (a page spilled, then a
// block over it at the commit); the records are applied last first, so the
// first record of a place, its original bytes, is what stays.

#include "storage/vekDisk.h"

#include "host/SysUtils.h"
#include "platform/FileIO.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCrypt.h"
#include "storage/vekDiskErrors.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace orvex {

namespace {

constexpr char JournalMagic[8] = {'V', 'E', 'K', 'J', 'R', 'N', 'L', '1'};
constexpr Integer JournalHeaderSize = 32;
constexpr Integer JournalRecordHeaderSize = 16;
constexpr std::size_t JournalChunk = 256 * 1024;
// How long a connection waits for the journal byte another one holds. A
// holder only writes and flushes files while it holds it, never waits.
constexpr auto JournalWaitLimit = std::chrono::seconds(120);

constexpr Cardinal OpenEndedCount = 0xFFFFFFFFu;

// One record of a journal read back: where its data lies in the journal.
struct TJournalRange {
    Cardinal Address;
    Integer Size;
    Int64 DataOffset;
};

// The journal read back (its records' places, not their data, which may be
// far larger than memory).
struct TJournalImage {
    Int64 OriginalSize = 0;
    std::vector<TJournalRange> Ranges;
};

// False when the journal is not to be applied: its header is damaged, or a
// counted journal is short of a whole record.
bool ReadJournal(TPlatformFile& File, TJournalImage& Image)
{
    const Int64 size = File.Size();
    Byte header[JournalHeaderSize];
    if (size < JournalHeaderSize || File.ReadAt(0, header, JournalHeaderSize) != JournalHeaderSize)
        return false;
    if (std::memcmp(header, JournalMagic, sizeof JournalMagic) != 0 ||
        CalcCRC(header, JournalHeaderSize - 4) != ReadLE32(header + 28))
        return false;
    Image.OriginalSize = static_cast<Int64>(ReadLE64(header + 12));
    const Cardinal count = ReadLE32(header + 20);
    const bool openEnded = count == OpenEndedCount;
    if (Image.OriginalSize < 0 || Image.OriginalSize > 0x100000000LL)
        return false;
    Int64 at = JournalHeaderSize;
    std::vector<Byte> data;
    for (Cardinal i = 0; openEnded || i < count; ++i) {
        Byte record[JournalRecordHeaderSize];
        bool whole = at + JournalRecordHeaderSize <= size &&
                     File.ReadAt(at, record, JournalRecordHeaderSize) == JournalRecordHeaderSize &&
                     CalcCRC(record, 12) == ReadLE32(record + 12);
        const Cardinal address = whole ? ReadLE32(record) : 0;
        const Cardinal length = whole ? ReadLE32(record + 4) : 0;
        whole = whole && length != 0 && Int64{address} + length <= Image.OriginalSize &&
                at + JournalRecordHeaderSize + length <= size;
        if (whole) {
            data.resize(length);
            whole = File.ReadAt(at + JournalRecordHeaderSize, data.data(), length) == length &&
                    CalcCRC(data.data(), static_cast<Integer>(length)) == ReadLE32(record + 8);
        }
        if (!whole)
            return openEnded; // an open-ended journal ends at its first torn record
        Image.Ranges.push_back({address, static_cast<Integer>(length), at + JournalRecordHeaderSize});
        at += JournalRecordHeaderSize + length;
    }
    return true;
}

// The journal's 32-byte header.
void EncodeJournalHeader(Byte* Header, Integer PageSize, Int64 OriginalSize, Cardinal Count)
{
    std::memset(Header, 0, JournalHeaderSize);
    std::memcpy(Header, JournalMagic, sizeof JournalMagic);
    WriteLE32(Header + 8, static_cast<Cardinal>(PageSize));
    WriteLE64(Header + 12, static_cast<std::uint64_t>(OriginalSize));
    WriteLE32(Header + 20, Count);
    WriteLE32(Header + 28, CalcCRC(Header, JournalHeaderSize - 4));
}

// Reads the bytes the file holds at each of Ranges (address, size; every one
// below the file's old size) and hands them to Take(address, size, bytes),
// in address order. Ranges that follow one another in the file are read
// with one read, up to a chunk at a time; overlapping ones are read apart.
// False when a read falls short.
template <class F>
bool ReadOriginals(TPlatformFile& File, std::vector<std::pair<Cardinal, Integer>> Ranges, F&& Take)
{
    std::sort(Ranges.begin(), Ranges.end());
    std::vector<Byte> run;
    for (std::size_t first = 0; first < Ranges.size();) {
        Int64 runEnd = Int64{Ranges[first].first} + Ranges[first].second;
        std::size_t last = first + 1;
        while (last < Ranges.size() && Int64{Ranges[last].first} == runEnd &&
               runEnd - Ranges[first].first + Ranges[last].second <= static_cast<Int64>(JournalChunk)) {
            runEnd += Ranges[last].second;
            ++last;
        }
        const Int64 runSize = runEnd - Ranges[first].first;
        run.resize(static_cast<std::size_t>(runSize));
        if (File.ReadAt(Ranges[first].first, run.data(), runSize) != runSize)
            return false;
        const Byte* data = run.data();
        for (std::size_t i = first; i < last; ++i) {
            Take(Ranges[i].first, Ranges[i].second, data);
            data += Ranges[i].second;
        }
        first = last;
    }
    return true;
}

// Adds one journal record (its header, then Data) to Chunk.
void AddJournalRecord(std::vector<Byte>& Chunk, Cardinal Address, Integer Size, const Byte* Data)
{
    Byte record[JournalRecordHeaderSize];
    WriteLE32(record, Address);
    WriteLE32(record + 4, static_cast<Cardinal>(Size));
    WriteLE32(record + 8, CalcCRC(Data, Size));
    WriteLE32(record + 12, CalcCRC(record, 12));
    Chunk.insert(Chunk.end(), record, record + JournalRecordHeaderSize);
    Chunk.insert(Chunk.end(), Data, Data + Size);
}

} // namespace

std::string GetJournalFileName(const std::string& DatabaseFileName)
{
    return DatabaseFileName + ".jnl";
}

// ------------------------------------------------------------ the lock byte

bool TVekFile::LockJournalByte(bool WhileJournal)
{
    if (FJournalLocked)
        return true;
    const auto start = std::chrono::steady_clock::now();
    // WhileJournal: the recovery byte, while a journal is there to recover.
    const Int64 offset = WhileJournal ? JournalRecoveryLockOffset : JournalLockOffset;
    while (!FFile->LockRange(offset, 1)) {
        if (WhileJournal && !FileExists(FJournalName))
            return false; // another connection rolled it back
        if (std::chrono::steady_clock::now() - start > JournalWaitLimit)
            VekDatabaseError(diskerr::SystemFileIO, "TVekFile.LockJournalByte",
                             "The rollback journal is held by another connection", this);
        Sleep(1);
    }
    if (!WhileJournal)
        FJournalLocked = true;
    return true;
}

void TVekFile::UnlockJournalByte()
{
    if (FJournalLocked && FFile)
        FFile->UnlockRange(JournalLockOffset, 1);
    FJournalLocked = false;
}

// --------------------------------------------------------------- the journal

bool TVekFile::WriteJournal(Int64 OriginalSize)
{
    std::vector<std::pair<Cardinal, Integer>> ranges;
    auto add = [&](Cardinal Address, Integer Size) {
        if (Int64{Address} < OriginalSize)
            ranges.emplace_back(Address, static_cast<Integer>(std::min<Int64>(Size, OriginalSize - Address)));
    };
    for (int i = 0; i < FCache->Count(); ++i)
        if (FCache->Pages(i)->State == cpDirty)
            add(FCache->Pages(i)->LowerAddress, FPageSize);
    for (int i = 0; i < FBlockCache->Count(); ++i)
        if (FBlockCache->Blocks(i)->State == cpDirty)
            add(FBlockCache->Blocks(i)->LowAddress, FBlockCache->Blocks(i)->BlockSize);
    bool anything = !ranges.empty();
    for (int i = 0; i < FCache->Count() && !anything; ++i)
        anything = FCache->Pages(i)->State == cpDirty;
    for (int i = 0; i < FBlockCache->Count() && !anything; ++i)
        anything = FBlockCache->Blocks(i)->State == cpDirty;
    if (!anything)
        return false;

    auto journal = TPlatformFile::Open(FJournalName, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                       TFileCreate::CreateAlways);
    if (!journal)
        VekDatabaseError(diskerr::DiskWrite, "TVekFile.WriteJournal", "The rollback journal could not be created",
                         this);
    std::vector<Byte> chunk;
    chunk.reserve(JournalChunk + FPageSize + JournalRecordHeaderSize);
    Int64 written = 0;
    auto flushChunk = [&] {
        if (chunk.empty())
            return;
        if (journal->WriteAt(written, chunk.data(), static_cast<std::int64_t>(chunk.size())) !=
            static_cast<std::int64_t>(chunk.size()))
            VekDatabaseError(diskerr::DiskWrite, "TVekFile.WriteJournal",
                             "Unable to complete file write operation", this);
        written += static_cast<Int64>(chunk.size());
        chunk.clear();
    };
    Byte header[JournalHeaderSize];
    EncodeJournalHeader(header, FPageSize, OriginalSize, static_cast<Cardinal>(ranges.size()));
    chunk.insert(chunk.end(), header, header + JournalHeaderSize);
    // Every record holds bytes the file held before the transaction: their
    // order in the journal does not matter.
    const bool read = ReadOriginals(*FFile, std::move(ranges), [&](Cardinal Address, Integer Size, const Byte* Data) {
        AddJournalRecord(chunk, Address, Size, Data);
        if (chunk.size() >= JournalChunk)
            flushChunk();
    });
    if (!read)
        VekDatabaseError(diskerr::DiskRead, "TVekFile.WriteJournal", "Unable to complete file read operation", this);
    flushChunk();
    if (!journal->Flush() || !FlushDirectoryOf(FJournalName))
        VekDatabaseError(diskerr::DiskWrite, "TVekFile.WriteJournal", "The rollback journal could not be flushed",
                         this);
    return true;
}

void TVekFile::AppendJournal(const std::vector<std::pair<Cardinal, Integer>>& Ranges)
{
    constexpr const char* Context = "TVekFile.AppendJournal";
    std::vector<Byte> chunk;
    chunk.reserve(JournalChunk + FPageSize + JournalRecordHeaderSize);
    if (FJournalEnd == 0) {
        Byte header[JournalHeaderSize];
        EncodeJournalHeader(header, FPageSize, FJournalOriginalSize, OpenEndedCount);
        chunk.insert(chunk.end(), header, header + JournalHeaderSize);
    }
    Int64 end = FJournalEnd;
    // Records past a torn one are never read: a failure leaves the end
    // where the last whole flush left it, and the next append writes over.
    auto flushChunk = [&] {
        if (chunk.empty())
            return;
        if (FJournal->WriteAt(end, chunk.data(), static_cast<std::int64_t>(chunk.size())) !=
            static_cast<std::int64_t>(chunk.size()))
            VekDatabaseError(diskerr::DiskWrite, Context, "Unable to complete file write operation", this);
        end += static_cast<Int64>(chunk.size());
        chunk.clear();
    };
    // The records of one append all hold what the file holds now; only
    // their place after the earlier appends matters.
    std::vector<std::pair<Cardinal, Integer>> below;
    for (const auto& [address, fullSize] : Ranges)
        if (Int64{address} < FJournalOriginalSize)
            below.emplace_back(address, static_cast<Integer>(std::min<Int64>(fullSize, FJournalOriginalSize - address)));
    const bool read = ReadOriginals(*FFile, std::move(below), [&](Cardinal Address, Integer Size, const Byte* Data) {
        AddJournalRecord(chunk, Address, Size, Data);
        if (chunk.size() >= JournalChunk)
            flushChunk();
    });
    if (!read)
        VekDatabaseError(diskerr::DiskRead, Context, "Unable to complete file read operation", this);
    flushChunk();
    if (end == FJournalEnd)
        return;
    if (!FJournal->Flush())
        VekDatabaseError(diskerr::DiskWrite, Context, "The rollback journal could not be flushed", this);
    FJournalEnd = end;
    for (const auto& [address, size] : Ranges)
        if (size == FPageSize && address % static_cast<Cardinal>(FPageSize) == 0 &&
            Int64{address} < FJournalOriginalSize)
            FJournalled[address / static_cast<Cardinal>(FPageSize)] = true;
}

bool TVekFile::ApplyJournal()
{
    TJournalImage image;
    auto journal = TPlatformFile::Open(FJournalName, TFileAccess::Read, TFileShare::DenyNone,
                                       TFileCreate::OpenExisting);
    if (!journal || !ReadJournal(*journal, image))
        return false;
    // A connection that only reads writes through a handle of its own.
    std::unique_ptr<TPlatformFile> own;
    TPlatformFile* target = FFile.get();
    if (FFile->Access() == TFileAccess::Read) {
        own = TPlatformFile::Open(FFile->Path(), TFileAccess::ReadWrite, TFileShare::DenyNone,
                                  TFileCreate::OpenExisting);
        if (!own)
            VekDatabaseError(diskerr::FileOpen, "TVekFile.ApplyJournal",
                             "The rollback journal cannot be applied to a file that cannot be written", this);
        target = own.get();
    }
    // Last first: the first record of a place holds its original bytes.
    std::vector<Byte> data;
    for (auto range = image.Ranges.rbegin(); range != image.Ranges.rend(); ++range) {
        data.resize(static_cast<std::size_t>(range->Size));
        if (journal->ReadAt(range->DataOffset, data.data(), range->Size) != range->Size)
            VekDatabaseError(diskerr::DiskRead, "TVekFile.ApplyJournal", "Unable to complete file read operation",
                             this);
        if (target->WriteAt(range->Address, data.data(), range->Size) != range->Size)
            VekDatabaseError(diskerr::DiskWrite, "TVekFile.ApplyJournal", "Unable to complete file write operation",
                             this);
    }
    const Int64 size = target->Size();
    if (size < 0 || (size > image.OriginalSize && !target->Truncate(image.OriginalSize)) || !target->Flush())
        VekDatabaseError(diskerr::DiskWrite, "TVekFile.ApplyJournal", "The file could not be restored", this);
    return true;
}

void TVekFile::RemoveJournal(const char* Context)
{
    if (!DeleteFile(FJournalName) && FileExists(FJournalName))
        VekDatabaseError(diskerr::DiskWrite, Context, "The rollback journal could not be removed", this);
    // Losing the removal in a crash only repeats a rollback already made
    // (or, after a commit, undoes a commit whose caller was still waiting).
    FlushDirectoryOf(FJournalName);
}

bool TVekFile::RecoverJournal()
{
    if (!FFile || FJournalName.empty() || FJournalLocked || !FileExists(FJournalName))
        return false;
    // Such a file grants no lock and takes no write: nobody can be
    // committing to it, and the journal cannot be applied.
    if (FileIsReadOnly(FFile->Path()))
        VekDatabaseError(diskerr::ReadOnly, "TVekFile.RecoverJournal",
                         "The rollback journal beside the file cannot be applied to a read-only file", this);
    // One connection rolls back at a time; the others wait on the recovery
    // byte until it is done. The journal byte held by another connection
    // means a live writer: its journal is in use (a commit under way, or a
    // transaction that spilled), and what it wrote lies under its write
    // locks, out of every reader's way.
    if (!LockJournalByte(true))
        return false;
    bool changed = false;
    try {
        if (FileExists(FJournalName) && FFile->LockRange(JournalLockOffset, 1)) {
            FJournalLocked = true;
            changed = ApplyJournal();
            RemoveJournal("TVekFile.RecoverJournal");
        }
    } catch (...) {
        UnlockJournalByte();
        FFile->UnlockRange(JournalRecoveryLockOffset, 1);
        throw;
    }
    UnlockJournalByte();
    FFile->UnlockRange(JournalRecoveryLockOffset, 1);
    if (changed) {
        FCache->ClearCleanPages();
        ++FCacheEpoch;
        GDBLogger->LogItem("VekFile", "Rolled back the journal a connection left behind");
    }
    return changed;
}

void TVekFile::UndoFailedCommit()
{
    try {
        ApplyJournal();
        RemoveJournal("TVekFile.Commit");
    } catch (...) {
        // The journal stays: whoever takes a lock next rolls it back.
    }
    FCache->ClearCache();
    ++FCacheEpoch;
}

} // namespace orvex
