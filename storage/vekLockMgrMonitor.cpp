// The lock file beside a database: its name, its user slots and connection
// bytes, and the connection and disconnection protocols.

#include "storage/vekLockMgrUnit.h"

#include "platform/FileIO.h"
#include "storage/vekConsts.h"

#include <algorithm>
#include <utility>

namespace orvex {

namespace {

constexpr Integer ErrLockFileTooLarge = 9486; // "Too many clients"
constexpr Integer ErrLockTimeout = 10249;
constexpr const char* LockFileTooLargeText = "The lock file has grown too large";

// How often Open starts again when the lock file it opened was removed or
// replaced by a closing connection before Open held its mutex.
constexpr int MaxOpenAttempts = 50;

// Runs an action when the scope ends.
template <class F>
class TOnExit {
public:
    explicit TOnExit(F action) : FAction(std::move(action)) {}
    ~TOnExit() { FAction(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    F FAction;
};

// The number of bytes of [Start, Start + Length) that are locked by anyone,
// this handle included: whole ranges are probed first, halves only where a
// range is taken, so a mostly free range costs a few probes.
Integer CountLockedBytes(const TPlatformFile& File, Int64 Start, Int64 Length)
{
    if (File.CanLockRange(static_cast<std::uint64_t>(Start), static_cast<std::uint64_t>(Length)))
        return 0;
    if (Length == 1)
        return 1;
    const Int64 half = Length / 2;
    return CountLockedBytes(File, Start, half) + CountLockedBytes(File, Start + half, Length - half);
}

} // namespace

std::string GetLockFileName(const std::string& DatabaseFileName)
{
    const std::string name = ExtractFileName(DatabaseFileName);
    if (Pos(".vek", LowerCase(name)) > 0)
        return ChangeFileExt(DatabaseFileName, ".lck");
    return ChangeFileExt(ExtractFilePath(DatabaseFileName) + StringReplace(name, ".", "_", rfReplaceAll) +
                             ExtractFileExt(DatabaseFileName),
                         ".lck");
}

// Holds the lock file's mutex for a scope unless this monitor holds it already.
class TDBUserMonitor::TMutexHold {
public:
    explicit TMutexHold(TDBUserMonitor* Monitor) : FMonitor(Monitor), FTaken(!Monitor->FMutexHeld)
    {
        if (FTaken)
            FMonitor->InternalSetLock();
    }
    ~TMutexHold()
    {
        if (FTaken)
            FMonitor->InternalReleaseLock();
    }
    TMutexHold(const TMutexHold&) = delete;
    TMutexHold& operator=(const TMutexHold&) = delete;

private:
    TDBUserMonitor* FMonitor;
    bool FTaken;
};

TDBUserMonitor::TDBUserMonitor(TPlatformFile* DatabaseHandle, const std::string& LockFileName)
    : FLockFileName(LockFileName), FDatabaseHandle(DatabaseHandle), FLockErrMsg(SvekLckFileLockErr)
{
}

TDBUserMonitor::~TDBUserMonitor()
{
    try {
        Close();
    } catch (...) {
        // Close has closed the lock file; the failure has been logged.
    }
}

// ------------------------------------------------------------ the protocols

void TDBUserMonitor::Open(const std::string& UserName, const std::string& ComputerName)
{
    Close();
    TStringList items;
    items.Add(ComputerName);
    items.Add(UserName);
    FEntryText = items.CommaText();

    for (int attempt = 1;; ++attempt) {
        if (!FileExists(FLockFileName))
            CreateLockFile();
        TFileError error = TFileError::None;
        FLockFile = TPlatformFile::Open(FLockFileName, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                        TFileCreate::OpenExisting, &error);
        if (!FLockFile) {
            // A closing connection may have removed the file since we looked.
            if (error == TFileError::NotFound && attempt < MaxOpenAttempts)
                continue;
            ORVEX_ASSERT(false, "The lock file could not be opened");
        }
        try {
            if (FLockFile->Size() >= LockFileSizeLimit)
                VekDatabaseError(ErrLockFileTooLarge, "TDBUserMonitor.Open", LockFileTooLargeText, this);
            InternalSetLock();
            if (!FLockFile->IsFileAt(FLockFileName)) {
                // The file was removed (and perhaps created anew) between our
                // open and our mutex: join the file now at the path instead.
                CloseLockFile();
                if (attempt < MaxOpenAttempts)
                    continue;
                VekDatabaseError(ErrLockTimeout, "TDBUserMonitor.Open", FLockErrMsg, this);
            }
            const Int64 slot = TakeSlot();
            TakeConnectionByte(slot);
            // Under the mutex, which also guards the table file's removal.
            FRecordLocks = std::make_unique<TRecordLockTable>(GetRecordLockFileName(FLockFileName));
            InternalReleaseLock();
            return;
        } catch (...) {
            CloseLockFile(); // gives up every lock of the handle
            throw;
        }
    }
}

void TDBUserMonitor::Close()
{
    if (!FLockFile)
        return;
    FRecordLocks.reset();
    if (FConnectionOffset != 0)
        FLockFile->UnlockRange(static_cast<std::uint64_t>(FConnectionOffset), 1);
    FConnectionOffset = 0;

    bool parentHeld = false;
    try {
        InternalSetLock();
        const Int64 slot = FindSlot(FEntryText);
        const auto range = static_cast<std::uint64_t>(ConnectionLockBase + slot);
        if (slot >= 0 && FLockFile->LockRange(range, LockFileSlotSize)) {
            // No other connection of this user and computer holds the slot.
            WriteSlot(slot, "");
            FLockFile->UnlockRange(range, LockFileSlotSize);
        }
        if (SweepLockFile() == 0) {
            InternalSetParentLock();
            parentHeld = true;
            // Removed while we hold the mutex: a connection that opened the
            // file meanwhile sees, once it holds the mutex, that the path no
            // longer names its file, and starts again.
            if (FLockFile->IsFileAt(FLockFileName)) {
                DeleteFile(GetRecordLockFileName(FLockFileName));
                DeleteFile(FLockFileName);
            }
        }
    } catch (...) {
        CloseLockFile();
        if (parentHeld)
            InternalReleaseParentLock();
        throw;
    }
    InternalReleaseLock();
    CloseLockFile();
    if (parentHeld)
        InternalReleaseParentLock();
}

void TDBUserMonitor::CreateLockFile()
{
    InternalSetParentLock();
    TOnExit release([this] { InternalReleaseParentLock(); });
    if (FileExists(FLockFileName))
        return;
    TFileError error = TFileError::None;
    const auto file = TPlatformFile::Open(FLockFileName, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                          TFileCreate::CreateNew, &error);
    if (!file) {
        if (error == TFileError::AlreadyExists)
            return; // created meanwhile by a connection without a parent lock
        ORVEX_ASSERT(false, "Lock File could not be created:" + FLockFileName);
    }
    const std::array<char, LockFileSlotSize> block0{};
    ORVEX_ASSERT(file->WriteAt(0, block0.data(), LockFileSlotSize) == LockFileSlotSize,
                 "Unable to complete lock file creation");
}

void TDBUserMonitor::CloseLockFile()
{
    FRecordLocks.reset();
    FLockFile.reset(); // gives up the handle's locks, the mutex among them
    FMutexHeld = false;
    FConnectionOffset = 0;
}

// --------------------------------------------------------------------- slots

Int64 TDBUserMonitor::SlotEnd() const
{
    const Int64 size = std::max<Int64>(FLockFile->Size(), LockFileSlotSize);
    return (size + LockFileSlotSize - 1) / LockFileSlotSize * LockFileSlotSize;
}

std::string TDBUserMonitor::ReadSlot(Int64 Offset)
{
    FBuffer.fill('\0');
    FLockFile->ReadAt(Offset, FBuffer.data(), LockFileSlotSize);
    return std::string(FBuffer.data());
}

void TDBUserMonitor::WriteSlot(Int64 Offset, const std::string& Text)
{
    std::array<char, LockFileSlotSize> slot{};
    std::copy_n(Text.begin(), std::min<std::size_t>(Text.size(), LockFileSlotSize - 1), slot.begin());
    FLockFile->WriteAt(Offset, slot.data(), LockFileSlotSize);
}

Int64 TDBUserMonitor::FindSlot(const std::string& Entry)
{
    const Int64 end = SlotEnd();
    for (Int64 slot = LockFileSlotSize; slot < end; slot += LockFileSlotSize)
        if (AnsiCompareText(ReadSlot(slot), Entry) == 0)
            return slot;
    return -1;
}

// The slot of this entry, else the first empty slot, else a new one at the
// end of the file; a new or reused slot is written with the entry.
Int64 TDBUserMonitor::TakeSlot()
{
    Int64 empty = -1;
    const Int64 end = SlotEnd();
    for (Int64 slot = LockFileSlotSize; slot < end; slot += LockFileSlotSize) {
        if (AnsiCompareText(ReadSlot(slot), FEntryText) == 0)
            return slot;
        if (empty < 0 && FBuffer[0] == '\0')
            empty = slot;
    }
    const Int64 slot = empty >= 0 ? empty : end;
    // A slot at or past the limit would put its connection bytes on the
    // table locks.
    if (slot + LockFileSlotSize > LockFileSizeLimit)
        VekDatabaseError(ErrLockFileTooLarge, "TDBUserMonitor.Open", LockFileTooLargeText, this);
    WriteSlot(slot, FEntryText);
    return slot;
}

void TDBUserMonitor::TakeConnectionByte(Int64 Slot)
{
    FConnectionOffset = 0;
    for (Int64 i = 0; i < LockFileSlotSize; ++i) {
        const Int64 offset = ConnectionLockBase + Slot + i;
        if (FLockFile->LockRange(static_cast<std::uint64_t>(offset), 1)) {
            FConnectionOffset = offset;
            return;
        }
    }
}

// ----------------------------------------------------------------- queries

Integer TDBUserMonitor::GetCurrentUserCount()
{
    if (!FLockFile)
        return 0;
    TMutexHold hold(this);
    Integer users = 0;
    const Int64 end = SlotEnd();
    for (Int64 slot = LockFileSlotSize; slot < end; slot += LockFileSlotSize)
        if (!FLockFile->CanLockRange(static_cast<std::uint64_t>(ConnectionLockBase + slot),
                                     LockFileSlotSize))
            ++users;
    return users;
}

Integer TDBUserMonitor::GetCurrentConnectionCount()
{
    if (!FLockFile)
        return 0;
    TMutexHold hold(this);
    Integer connections = 0;
    const Int64 end = SlotEnd();
    for (Int64 slot = LockFileSlotSize; slot < end; slot += LockFileSlotSize)
        connections += CountConnectionsForUser(slot);
    return connections;
}

void TDBUserMonitor::GetCurrentUsers(TStrings* List)
{
    List->Clear();
    if (!FLockFile)
        return;
    TMutexHold hold(this);
    const Int64 end = SlotEnd();
    for (Int64 slot = LockFileSlotSize; slot < end; slot += LockFileSlotSize)
        List->Add(ReadSlot(slot));
}

Integer TDBUserMonitor::CountConnectionsForUser(Int64 LockOffset)
{
    if (!FLockFile)
        return 0;
    return CountLockedBytes(*FLockFile, ConnectionLockBase + LockOffset, LockFileSlotSize);
}

Integer TDBUserMonitor::SweepLockFile()
{
    if (!FLockFile)
        return 0;
    TMutexHold hold(this);
    Integer live = 0;
    const Int64 end = SlotEnd();
    for (Int64 slot = LockFileSlotSize; slot < end; slot += LockFileSlotSize) {
        const auto range = static_cast<std::uint64_t>(ConnectionLockBase + slot);
        if (!FLockFile->LockRange(range, LockFileSlotSize)) {
            ++live;
            continue;
        }
        // No connection holds a byte of the slot: its connections have closed
        // or their processes have ended.
        if (!ReadSlot(slot).empty())
            WriteSlot(slot, "");
        FLockFile->UnlockRange(range, LockFileSlotSize);
    }
    return live;
}

// ------------------------------------------------------------------- mutexes

void TDBUserMonitor::LockByteWithRetries(TPlatformFile* File, Int64 Offset, const char* Context)
{
    const auto byte = static_cast<std::uint64_t>(Offset);
    if (File->LockRange(byte, 1))
        return;
    for (Integer retry = 0; retry < LockFileMutexRetries; ++retry) {
        Sleep(LockFileMutexInterval);
        if (File->LockRange(byte, 1))
            return;
    }
    VekDatabaseError(ErrLockTimeout, Context, FLockErrMsg, this);
}

void TDBUserMonitor::InternalSetLock()
{
    LockByteWithRetries(FLockFile.get(), LockFileMutexOffset, "TDBUserMonitor.InternalSetLock");
    FMutexHeld = true;
}

void TDBUserMonitor::InternalReleaseLock()
{
    if (FMutexHeld && FLockFile)
        FLockFile->UnlockRange(LockFileMutexOffset, 1);
    FMutexHeld = false;
}

void TDBUserMonitor::InternalSetParentLock()
{
    if (FDatabaseHandle)
        LockByteWithRetries(FDatabaseHandle, ParentLockOffset, "TDBUserMonitor.InternalSetParentLock");
}

void TDBUserMonitor::InternalReleaseParentLock()
{
    if (FDatabaseHandle)
        FDatabaseHandle->UnlockRange(ParentLockOffset, 1);
}

} // namespace orvex
