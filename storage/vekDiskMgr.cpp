// TDiskMgr: the open database file of one connection, its allocation of
// pages, its headers, and the lock and transaction wrappers the connection
// uses. Also the security header's encoding and DoCopyFile.

#include "storage/vekDisk.h"

#include "host/DateUtils.h"
#include "platform/FileIO.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDiskErrors.h"
#include "storage/vekLockMgrUnit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>

namespace orvex {

namespace {

constexpr unsigned OpenAccessMask = 0x7;
constexpr unsigned OpenShareMask = 0x70;

// The key's digest as the security header stores it: the five SHA-1 words,
// each little-endian.
std::array<Byte, 20> KeyDigestOf(const std::string& Key)
{
    TSha1Stream sha;
    sha.Write(Key.data(), static_cast<std::int32_t>(Key.size()));
    const std::string digest = sha.GetDigestString();
    std::array<Byte, 20> bytes{};
    std::memcpy(bytes.data(), digest.data(), bytes.size());
    return bytes;
}

} // namespace

bool DoCopyFile(const std::string& Source, const std::string& Dest, bool Overwrite)
{
    return CopyFile(Source, Dest, !Overwrite);
}

// ============================================================ TSecurityHeader

void TSecurityHeader::Encode(Byte* Dest) const
{
    WriteLE32(Dest + 0, HeaderSize);
    WriteLEDouble(Dest + 4, TimeWritten);
    WriteLE16(Dest + 12, Major);
    WriteLE16(Dest + 14, Minor);
    std::memcpy(Dest + 16, KeyDigest.data(), KeyDigest.size());
    WriteLE32(Dest + 36, CRC);
}

TSecurityHeader TSecurityHeader::Decode(const Byte* Source)
{
    TSecurityHeader header;
    header.HeaderSize = ReadLE32(Source + 0);
    header.TimeWritten = ReadLEDouble(Source + 4);
    header.Major = ReadLE16(Source + 12);
    header.Minor = ReadLE16(Source + 14);
    std::memcpy(header.KeyDigest.data(), Source + 16, header.KeyDigest.size());
    header.CRC = ReadLE32(Source + 36);
    return header;
}

// =================================================================== TDiskMgr

TDiskMgr::TDiskMgr() : FVekFile(std::make_unique<TVekFile>())
{
    FVekFile->SetLockRetryInterval(FLockRetryInterval);
    FVekFile->SetLockRetryCount(FLockRetryCount);
    FVekFile->SetOnBeforeSpill([this] { return LockForSpill(); });
    // Pages enciphered before a key is given use the default key, as an
    // empty key would.
    SetCryptKey("");
}

TDiskMgr::~TDiskMgr()
{
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; Close has let go of everything it could.
    }
    BurnString(FCryptKey);
}

// ------------------------------------------------------------------ settings

void TDiskMgr::SetOpenFlags(unsigned Value)
{
    FOpenFlags = Value;
    FExclusive = (Value & OpenShareMask) == fmShareExclusive;
    FReadOnly = (Value & OpenAccessMask) == fmOpenRead;
}

void TDiskMgr::SetReadOnly(bool Value)
{
    SetOpenFlags((FOpenFlags & ~OpenAccessMask) | (Value ? fmOpenRead : fmOpenReadWrite));
}

void TDiskMgr::SetLockRetryCount(Integer Value)
{
    FLockRetryCount = Value;
    FVekFile->SetLockRetryCount(Value);
}

void TDiskMgr::SetLockRetryInterval(Integer Value)
{
    FLockRetryInterval = Value;
    FVekFile->SetLockRetryInterval(Value);
}

void TDiskMgr::SetCryptKey(const std::string& Key)
{
    BurnString(FCryptKey);
    FCryptKey = Key.empty() ? std::string(CVekDefaultMasterKey) : Key;
    FVekFile->SetBlowKeyBuf(FCryptKey.data(), static_cast<Integer>(FCryptKey.size()));
}

void TDiskMgr::CheckPageSize(const char* Context) const
{
    if (FPageSize < MinPageSize || FPageSize > MaxPageSize ||
        !std::has_single_bit(static_cast<Cardinal>(FPageSize)))
        VekDatabaseError(diskerr::Internal, Context, "Invalid database page size", const_cast<TDiskMgr*>(this));
}

const Byte* TDiskMgr::ZeroPage()
{
    if (FZeroPage.size() != static_cast<std::size_t>(FPageSize))
        FZeroPage.assign(static_cast<std::size_t>(FPageSize), 0);
    return FZeroPage.data();
}

// ---------------------------------------------------------------- life cycle

void TDiskMgr::CreateHeaderObjects()
{
    FGlobalHdr = std::make_unique<TGlobalHdr>();
    FGlobalHdr->SetHdrSize(GlobalHeaderSize);
    FGlobalHdr->Initialize();
    FMapPageMgr = std::make_unique<TMapPageMgr>(this, FGlobalHdr.get(), FPageSize);
}

void TDiskMgr::FreeHeaderObjects()
{
    FMapPageMgr.reset();
    FGlobalHdr.reset();
}

void TDiskMgr::CreateNewFile(bool Overwrite)
{
    Close();
    CheckPageSize("TDiskMgr.CreateNewFile");
    if (!Overwrite && FileExists(FFileName))
        VekDatabaseError(diskerr::FileExists, "TDiskMgr.CreateNewFile", FFileName, this);
    FVekFile->SetPageSize(FPageSize);
    if (FVekFile->CreateVekFile(FFileName) < 0)
        VekDatabaseError(diskerr::NotCreated, "TDiskMgr.CreateNewFile", FFileName, this);
    try {
        const std::vector<Byte> pages(static_cast<std::size_t>(NewFilePages) * FPageSize, 0);
        FVekFile->SeekAndWriteVekFile(pages.data(), 0, static_cast<Integer>(pages.size()), 0, 0);
        CreateHeaderObjects();
        const Cardinal firstMap = static_cast<Cardinal>(SystemAreaPages * FPageSize);
        FGlobalHdr->SetFirstMapPage(firstMap);
        FGlobalHdr->SetFirstMapPageEmpty(firstMap);
        FGlobalHdr->SetMapPageCount(1);
        FVekFile->WriteThroughVekFile(FGlobalHdr->Buffer(), GlobalHeaderOffset, GlobalHeaderSize);
        FMapPageMgr->SetMapEntryFlags(MapPageTypeSystem, 0, SystemAreaPages);
        FMapPageMgr->SetMapEntryFlags(MapPageTypeMap, firstMap, 1);
    } catch (...) {
        FVekFile->CloseVekFile();
        FreeHeaderObjects();
        throw;
    }
    FVekFile->CloseVekFile();
    FreeHeaderObjects();
}

void TDiskMgr::Open()
{
    Close();
    if (FPageSize == 0)
        VekDatabaseError(diskerr::Internal, "TDiskMgr.Open", "PageSize is 0", this);
    CheckPageSize("TDiskMgr.Open");
    if (!FileExists(FFileName))
        VekDatabaseError(diskerr::NoSuchFile, "TDiskMgr.Open", FFileName, this);
    FLockFileInUse = !FPrivateFile && !FileIsReadOnly(FFileName);

    FVekFile->SetXORKeyBuf(CVekXORPageKey, CVekXORPageKeyLen);
    FVekFile->SetPageSize(FPageSize);
    FVekFile->SetOpenRead(true);
    FVekFile->SetOpenWrite((FOpenFlags & (fmOpenWrite | fmOpenReadWrite)) != 0);
    FVekFile->SetOpenReadExclusive(FExclusive);
    FVekFile->SetOpenWriteExclusive(FExclusive);
    FVekFile->SetLockRetryCount(FLockRetryCount);
    FVekFile->SetLockRetryInterval(FLockRetryInterval);
    FVekFile->OpenVekFile(FFileName);
    try {
        if (FCacheBudget > 0)
            SetCacheBudget(FCacheBudget);
        if (FWriteBack)
            FVekFile->SetWriteBack(true);
        // Nothing is read before a journal left by a dead writer is rolled back.
        FVekFile->RecoverJournal();
        if (FVekFile->OpenWrite() && FLockFileInUse)
            CreateLockObjects();
        FVekFile->SetCacheActive(true);
        CreateHeaderObjects();
        SetHeaderReadLock();
        ReleaseHeaderLock();
        // The open marker; another connection holding it too is no failure.
        FOpenMarkerLocked = FVekFile->FileHandle()->LockRange(OpenMarkerOffset, OpenMarkerSize);
    } catch (...) {
        try {
            Close();
        } catch (...) {
        }
        throw;
    }
}

void TDiskMgr::CreateLockObjects()
{
    FUserMonitor = std::make_unique<TDBUserMonitor>(FVekFile->FileHandle(), GetLockFileName(FFileName));
    FUserMonitor->Open(GetCurrentUser(), GetCurrentComputer());
    TDBUserMonitor* monitor = FUserMonitor.get();
    FTableLockMgr.reset(CreateLockManager(lmkTable, monitor, FLockRetryCount, FLockRetryInterval));
    FRecordLockMgr.reset(CreateLockManager(lmkRecord, monitor, FLockRetryCount, FLockRetryInterval));
    FTransactionLockMgr.reset(
        CreateLockManager(lmkTransaction, monitor, FLockRetryCount, FLockRetryInterval));
}

void TDiskMgr::FreeLockObjects()
{
    FTableLockMgr.reset();
    FRecordLockMgr.reset();
    FTransactionLockMgr.reset();
    if (FUserMonitor) {
        FUserMonitor->Close();
        FUserMonitor.reset();
    }
}

void TDiskMgr::Close()
{
    TRunAllSteps steps;
    if (FOpenMarkerLocked && FVekFile->FileHandle())
        FVekFile->FileHandle()->UnlockRange(OpenMarkerOffset, OpenMarkerSize);
    FOpenMarkerLocked = false;
    if (FVekFile->CheckOpen()) {
        // A transaction still running is given up while its locks still
        // keep others away from what it may have written early.
        steps.Run([this] {
            if (FVekFile->GetTransactionActive()) {
                // Its changes of the header go with it.
                if (FGlobalHdr)
                    FGlobalHdr->SetDirty(false);
                FVekFile->Rollback();
            }
        });
        steps.Run([this] {
            if (FGlobalHdr && FGlobalHdr->Dirty())
                WriteHeader();
        });
        steps.Run([this] { FVekFile->FlushWriteBack(); });
        steps.Run([this] { ReleaseAllLocks(); });
        steps.Run([this] { FreeLockObjects(); });
        FVekFile->CloseVekFile();
    }
    // Whatever failed above, nothing of the connection may outlive Close.
    FTableLockMgr.reset();
    FRecordLockMgr.reset();
    FTransactionLockMgr.reset();
    FUserMonitor.reset();
    FHeaderLocked = false;
    FHeaderWriteLocked = false;
    FHeaderKept = false;
    FreeHeaderObjects();
    ORVEX_ASSERT(!FTableLockMgr, "TableLockMgr is not nil");
    ORVEX_ASSERT(!FRecordLockMgr, "RecordLockMgr is not nil");
    ORVEX_ASSERT(!FTransactionLockMgr, "TransactionLockMgr is not nil");
    ORVEX_ASSERT(!FUserMonitor, "UserMonitor is not nil");
    steps.Finish();
}

// ------------------------------------------------------------- file matters

void TDiskMgr::CopyCurrentFile(const std::string& DestName)
{
    FVekFile->CopyVekFile(DestName);
}

Int64 TDiskMgr::GetFileSize()
{
    if (!IsOpen())
        VekDatabaseError(diskerr::Internal, "TDiskMgr.GetFileSize", "Unable to get file size", this);
    // In a transaction the size known in memory; else the file's, which
    // raises when the system cannot tell it.
    return FVekFile->SeekVekEof();
}

void TDiskMgr::SetCacheBudget(Int64 Bytes)
{
    FCacheBudget = std::max<Int64>(Bytes, 0);
    if (FCacheBudget > 0 && IsOpen()) {
        // At least a handful of pages, so that a tree search and the page it
        // reads from never push each other out.
        constexpr Int64 MinPages = 16;
        const Int64 pages = std::clamp<Int64>(FCacheBudget / FPageSize, MinPages, 0x7FFFFFFF);
        FVekFile->Cache()->SetPageLimit(static_cast<Integer>(pages));
    }
}

Int64 TDiskMgr::DiskCacheSize() const
{
    return IsOpen() ? FVekFile->Cache()->TotalCacheSize() : 0;
}

void TDiskMgr::ForceToDisk()
{
    if (IsOpen())
        FVekFile->FlushBuffers();
}

void TDiskMgr::GetCurrentUsers(TStrings* List)
{
    if (!FUserMonitor)
        VekDatabaseError(diskerr::ReadOnly, "TDiskMgr.GetCurrentUsers",
                         "Connection details unavailable for read only database files", this);
    FUserMonitor->GetCurrentUsers(List);
}

// ----------------------------------------------------------------- transfers

void TDiskMgr::ReadPages(Cardinal Address, Integer Count, Integer TableID, Cardinal AccessFlags,
                         void* Buffer)
{
    FVekFile->SeekAndReadVekFile(Buffer, Address, Count * FPageSize, TableID, AccessFlags);
}

void TDiskMgr::WritePages(Cardinal Address, Integer Count, Integer TableID, Cardinal AccessFlags,
                          const void* Buffer)
{
    FVekFile->SeekAndWriteVekFile(Buffer, Address, Count * FPageSize, TableID, AccessFlags);
}

void TDiskMgr::ReadCustomSize(Cardinal Address, Integer Size, Integer TableID, Cardinal AccessFlags,
                              void* Buffer)
{
    FVekFile->SeekAndReadVekFile(Buffer, Address, Size, TableID, AccessFlags);
}

void TDiskMgr::ReadCustomSizeBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, Integer TableID,
                                    Cardinal AccessFlags, void* Buffer, const TBlockVisitProc& Visit)
{
    FVekFile->SeekAndReadVekFileBlocks(Addresses, Count, Size, TableID, AccessFlags, Buffer, Visit);
}

void TDiskMgr::WriteCustomSize(Cardinal Address, Integer Size, Integer TableID,
                               Cardinal AccessFlags, const void* Buffer)
{
    FVekFile->SeekAndWriteVekFile(Buffer, Address, Size, TableID, AccessFlags);
}

void TDiskMgr::ReadCustomSizeByRef(Cardinal Address, Integer Size, Integer TableID,
                                   Cardinal AccessFlags, void*& Buffer)
{
    FVekFile->SeekAndReadVekFileByRef(Buffer, Address, Size, TableID, AccessFlags);
}

void TDiskMgr::WriteCustomSizeByRef(Cardinal Address, Integer Size, Integer TableID,
                                    Cardinal AccessFlags, const void* Buffer)
{
    FVekFile->SeekAndWriteVekFileByRef(Buffer, Address, Size, TableID, AccessFlags);
}

// ---------------------------------------------------------------- allocation

bool TDiskMgr::AcquireHeaderWriteLock()
{
    const bool held = FHeaderLocked;
    if (!FHeaderWriteLocked)
        SetHeaderWriteLock();
    return !held;
}

void TDiskMgr::ReleaseTakenHeaderLock(bool Taken, bool Failing)
{
    if (!Taken)
        return;
    if (!Failing) {
        ReleaseHeaderLock();
        return;
    }
    try {
        ReleaseHeaderLock();
    } catch (...) {
        // The failure being raised is the one to report.
    }
}

Cardinal TDiskMgr::WriteNewPages(Integer TableID, Cardinal AccessFlags, Integer PageType,
                                 Integer Count, const void* Buffer)
{
    const Integer owner = TableID * 16 + PageType;
    if (TableID < 0 || PageType < 0 || PageType > 15 || owner == 0 || owner >= MapEntryFree ||
        Count <= 0)
        VekDatabaseError(diskerr::Internal, "TDiskMgr.WriteNewPages",
                         Format("Invalid page request: owner %d, type %d, count %d", {TableID, PageType, Count}),
                         this);
    const bool taken = AcquireHeaderWriteLock();
    Cardinal address = 0;
    try {
        address = FMapPageMgr->GetNextEmptyPageAddress(Count);
        if (address != 0)
            WritePages(address, Count, TableID, AccessFlags, Buffer);
        else
            address = AppendNewPages(Buffer, Count, TableID, AccessFlags);
        FMapPageMgr->AdjustMapPageFlags(static_cast<Word>(owner), address, Count);
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
    return address;
}

Cardinal TDiskMgr::AppendNewPages(const void* Buffer, Integer Count, Integer TableID,
                                  Cardinal AccessFlags)
{
    const bool taken = AcquireHeaderWriteLock();
    Cardinal address = 0;
    try {
        address = FVekFile->SeekAndAppendVekFile(Buffer, Count * FPageSize, TableID, AccessFlags);
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
    return address;
}

void TDiskMgr::ZeroPages(const std::vector<Cardinal>& Pages)
{
    for (Cardinal page : Pages)
        FVekFile->ReleasePage(page, ZeroPage());
}

void TDiskMgr::ReleasePages(Cardinal Address, Integer Count)
{
    const bool taken = AcquireHeaderWriteLock();
    try {
        FMapPageMgr->AdjustMapPageFlags(MapEntryFree, Address, Count);
        for (Integer i = 0; i < Count; ++i)
            FVekFile->ReleasePage(Address + static_cast<Cardinal>(i * FPageSize), ZeroPage());
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
}

void TDiskMgr::DeleteOwnedPages(Integer Owner, Integer PageType, bool ByType)
{
    const bool taken = AcquireHeaderWriteLock();
    try {
        FVekFile->Cache()->ClearOwnedPages(Owner);
        std::vector<Cardinal> pages;
        FMapPageMgr->DeleteOwnedPages(Owner, PageType, pages, ByType);
        if (FGlobalHdr->Dirty())
            WriteHeader();
        ZeroPages(pages);
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
}

void TDiskMgr::ListAllocatedFixedBlocks(Integer BlockSize, Integer Owner, Integer PageType,
                                        std::vector<Cardinal>& List)
{
    ORVEX_ASSERT(BlockSize != 0, "Invalid block size of 0 in ListAllocatedFixedBlocks");
    const bool taken = !FHeaderLocked;
    if (taken)
        SetHeaderReadLock();
    try {
        const Integer request = GetBestPageRequestSize(BlockSize, FPageSize);
        ORVEX_ASSERT(request >= FPageSize, "Invalid request size returned from GetBestPageRequestSize");
        const Integer pagesPerRequest = request / FPageSize;
        std::vector<Cardinal> pages;
        FMapPageMgr->ListPagesUsedByOwner(Owner, PageType, pages, true);
        std::sort(pages.begin(), pages.end());
        for (std::size_t i = 0; i < pages.size(); i += static_cast<std::size_t>(pagesPerRequest)) {
            const Int64 start = pages[i];
            for (Integer k = 1; k < pagesPerRequest; ++k)
                ORVEX_ASSERT(i + k < pages.size() && pages[i + k] == start + Int64{k} * FPageSize,
                             "Invalid requestpage/pagelist sequence");
            for (Int64 block = start; block + BlockSize <= start + request; block += BlockSize)
                List.push_back(static_cast<Cardinal>(block));
        }
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
}

// --------------------------------------------------------------- diagnostics

template <class F>
bool TDiskMgr::UnderHeaderReadLock(F&& Work)
{
    const bool taken = !FHeaderLocked;
    if (taken)
        SetHeaderReadLock();
    bool result = false;
    try {
        result = Work();
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
    return result;
}

void TDiskMgr::DebugListOwnedPages(Integer Owner, TStrings* List)
{
    UnderHeaderReadLock([&] {
        std::vector<Cardinal> pages;
        FMapPageMgr->ListPagesUsedByOwner(Owner, 0, pages, false);
        for (Cardinal page : pages)
            List->Add(Format("Page %u: owner %d, type %d",
                             {page, Owner, FMapPageMgr->GetMapEntryFlags(page) & 15}));
        return true;
    });
}

bool TDiskMgr::DebugCheckContents()
{
    return UnderHeaderReadLock(
        [&] { return FMapPageMgr->CheckConsistency(FDebugStrings, FVekFile->SeekVekEof()); });
}

void TDiskMgr::DebugDumpContents()
{
    if (!FDebugStrings)
        return;
    UnderHeaderReadLock([&] {
        FMapPageMgr->DumpContents(FDebugStrings);
        return true;
    });
}

bool TDiskMgr::DebugCheckStatus()
{
    return UnderHeaderReadLock([&] {
        bool ok = true;
        auto report = [&](const std::string& Text) {
            ok = false;
            if (FDebugStrings)
                FDebugStrings->Add(Text);
        };
        const Int64 size = FVekFile->SeekVekEof();
        if (size % FPageSize != 0)
            report(Format("File size %d is not a whole number of pages", {size}));
        if (FGlobalHdr->FirstMapPage() != static_cast<Cardinal>(SystemAreaPages * FPageSize))
            report(Format("First map page is %u", {FGlobalHdr->FirstMapPage()}));
        if (FGlobalHdr->MapPageCount() == 0)
            report("Map page count is 0");
        const Int64 mapped = Int64{FGlobalHdr->MapPageCount()} * FMapPageMgr->EntriesPerMap() * FPageSize;
        if (mapped < size)
            report(Format("The map pages cover %d bytes of %d", {mapped, size}));
        return ok;
    });
}

bool TDiskMgr::DebugCheckAddressOwnerFlags(Cardinal Address, Integer Owner, Integer PageType)
{
    return UnderHeaderReadLock([&] {
        const Word value = FMapPageMgr->GetMapEntryFlags(Address);
        const bool ok = value == Owner * 16 + PageType;
        if (!ok && FDebugStrings)
            FDebugStrings->Add(Format("Page %u is marked %d, not owner %d type %d",
                                      {Address, value, Owner, PageType}));
        return ok;
    });
}

// ------------------------------------------------------------------- headers

void TDiskMgr::CheckOpen(const char* Context) const
{
    if (!IsOpen() || !FGlobalHdr)
        VekDatabaseError(diskerr::FileOpen, Context, "The database file is not open",
                         const_cast<TDiskMgr*>(this));
}

void TDiskMgr::ReadHeader()
{
    CheckOpen("TDiskMgr.ReadHeader");
    if (!FHeaderLocked)
        VekDatabaseError(diskerr::NoPriorLock, "TDiskMgr.ReadHeader", "", this);
    FVekFile->ReadThroughVekFile(FGlobalHdr->Buffer(), GlobalHeaderOffset, GlobalHeaderSize);
    FGlobalHdr->SetDirty(false);
    FGlobalHdr->SetHeaderValid(true);
}

void TDiskMgr::WriteHeader()
{
    const bool taken = AcquireHeaderWriteLock();
    try {
        FVekFile->WriteThroughVekFile(FGlobalHdr->Buffer(), GlobalHeaderOffset, GlobalHeaderSize);
        FGlobalHdr->SetDirty(false);
    } catch (...) {
        ReleaseTakenHeaderLock(taken, true);
        throw;
    }
    ReleaseTakenHeaderLock(taken, false);
}

void TDiskMgr::HeaderLockTaken()
{
    // Inside a transaction the header's lock, once had, stays until the
    // transaction ends, so no other connection can change the header, the
    // map or the end of file meanwhile: what was read under it still holds.
    // A failed commit or a recovery (which move the cache epoch on) changed
    // the file under it, though.
    if (FHeaderKept && HeaderLockKept() && FHeaderEpoch == FVekFile->CacheEpoch())
        return;
    FHeaderKept = false;
    FMapPageMgr->ForgetBufferedPage();
    FVekFile->AdjustTransactionEof();
    ReadHeader();
    FHeaderKept = HeaderLockKept();
    FHeaderEpoch = FVekFile->CacheEpoch();
}

bool TDiskMgr::HeaderLockKept() const
{
    if (!IsTransactionActive())
        return false;
    if (!FTableLockMgr)
        return FPrivateFile; // nobody else opens a private file
    return FTableLockMgr->QueryLockType(0) != LockTypeNone;
}

void TDiskMgr::SetHeaderReadLock()
{
    CheckOpen("TDiskMgr.SetHeaderReadLock");
    const bool held = FHeaderLocked;
    SetTableLock(0, LockTypeRead);
    FHeaderLocked = true;
    if (!held)
        HeaderLockTaken();
}

void TDiskMgr::SetHeaderWriteLock()
{
    CheckOpen("TDiskMgr.SetHeaderWriteLock");
    const bool held = FHeaderLocked;
    SetTableLock(0, LockTypeWrite);
    FHeaderLocked = true;
    FHeaderWriteLocked = true;
    if (!held)
        HeaderLockTaken();
}

void TDiskMgr::ReleaseHeaderLock()
{
    if (FGlobalHdr && FGlobalHdr->Dirty())
        WriteHeader();
    ReleaseTableLock(0);
    FHeaderLocked = false;
    FHeaderWriteLocked = false;
}

void TDiskMgr::WriteSecurityHeader(TSecurityHeader& Header)
{
    Header.HeaderSize = SecurityHeaderSize;
    Header.TimeWritten = Now();
    Header.Major = 1;
    Header.Minor = 1;
    Header.KeyDigest = KeyDigestOf(FCryptKey);
    Header.CRC = 0;
    Byte bytes[SecurityHeaderSize];
    Header.Encode(bytes);
    Header.CRC = CalcCRC(bytes, SecurityHeaderSize);
    Header.Encode(bytes);
    FVekFile->WriteThroughVekFile(bytes, SecurityHeaderOffset, SecurityHeaderSize);
}

void TDiskMgr::ReadSecurityHeader(TSecurityHeader& Header)
{
    Byte bytes[SecurityHeaderSize];
    FVekFile->ReadThroughVekFile(bytes, SecurityHeaderOffset, SecurityHeaderSize);
    Header = TSecurityHeader::Decode(bytes);
    WriteLE32(bytes + 36, 0);
    if (CalcCRC(bytes, SecurityHeaderSize) != Header.CRC)
        VekDatabaseError(diskerr::Corruption, "TDiskMgr.ReadSecurityHeader", "The Security Header CRC is incorrect",
                         this);
    if (Header.KeyDigest != KeyDigestOf(FCryptKey))
        VekDatabaseError(diskerr::Corruption, "TDiskMgr.ReadSecurityHeader", "The MasterKey is incorrect", this);
}

// ------------------------------------------------------ locks and transactions

Integer TDiskMgr::SetTableLock(Integer TableID, Integer LockType)
{
    ORVEX_ASSERT(LockType == LockTypeRead || LockType == LockTypeWrite, "Invalid table lock type");
    if (!FTableLockMgr)
        return LockType;
    if (IsTransactionActive() && !FNoTransactionLocks) {
        FTransactionLockMgr->SetWriteLock(TableID, 0);
        // Written pages stay in memory until commit, which upgrades the lock.
        if (LockType == LockTypeWrite)
            LockType = LockTypeRead;
    }
    // A write lock held already covers every request: the manager's locks
    // are not re-entrant, so a read byte inside it could never be had.
    const Integer held = FTableLockMgr->QueryLockType(TableID);
    bool taken = false;
    if (held != LockTypeWrite) {
        if (LockType == LockTypeWrite) {
            FTableLockMgr->SetWriteLock(TableID, 0);
            taken = true;
        } else if (held == LockTypeNone) {
            FTableLockMgr->SetReadLock(TableID, 0);
            taken = true;
        }
    }
    // What is read under a new lock must not come from a dead writer's half
    // commit. A lock held already was checked when it was taken: no writer
    // has had the table (or, for the header, the map) since.
    if (taken)
        FVekFile->RecoverJournal();
    return FTableLockMgr->QueryLockType(TableID);
}

void TDiskMgr::ReleaseTableLock(Integer TableID)
{
    if (FTableLockMgr && !IsTransactionActive())
        FTableLockMgr->ReleaseLock(TableID);
}

Integer TDiskMgr::SetRecordLock(Cardinal RecordID, Integer TableID)
{
    if (!FRecordLockMgr)
        return LockTypeWrite;
    if (IsTransactionActive() && !FNoTransactionLocks)
        FTransactionLockMgr->SetWriteLock(TableID, 0);
    FRecordLockMgr->SetWriteLock(RecordID, 0);
    // While this connection holds a lock on the record's table, no writer
    // has had the table since the lock was taken, and a dead writer's
    // journal was looked for then.
    if (FTableLockMgr->QueryLockType(TableID) == LockTypeNone)
        FVekFile->RecoverJournal();
    return FRecordLockMgr->QueryLockType(RecordID);
}

void TDiskMgr::ReleaseRecordLock(Cardinal RecordID)
{
    if (FRecordLockMgr && !IsTransactionActive())
        FRecordLockMgr->ReleaseLock(RecordID);
}

Integer TDiskMgr::QueryTableLockStatus(Integer TableID) const
{
    return FTableLockMgr ? FTableLockMgr->QueryLockType(TableID) : LockTypeRead;
}

Integer TDiskMgr::QueryRecordLockStatus(Cardinal RecordID) const
{
    return FRecordLockMgr ? FRecordLockMgr->QueryLockType(RecordID) : LockTypeRead;
}

void TDiskMgr::ReleaseAllLocks()
{
    if (!IsOpen() || !FTableLockMgr)
        return;
    // The header goes out while its lock is still held.
    if (FHeaderLocked && FGlobalHdr && FGlobalHdr->Dirty())
        WriteHeader();
    FHeaderKept = false;
    FMapPageMgr->ForgetBufferedPage();
    FTableLockMgr->ReleaseAllLocks();
    FRecordLockMgr->ReleaseAllLocks();
    FTransactionLockMgr->ReleaseAllLocks();
    FHeaderLocked = false;
    FHeaderWriteLocked = false;
}

bool TDiskMgr::LockForSpill()
{
    if (!FTableLockMgr)
        return true; // no other connection can share the file
    try {
        // The header stays readable: map pages and headers are never
        // written early, only table pages are.
        if (FTableLockMgr->QueryLockType(0) == LockTypeNone) {
            if (!FNoTransactionLocks)
                FTransactionLockMgr->SetWriteLock(0, 0);
            FTableLockMgr->SetReadLock(0, 0);
        }
        struct THeld {
            Int64 ID;
            Int64 Size;
        };
        std::vector<THeld> reads;
        const TLockCollection* locks = FTableLockMgr->Locks();
        for (int i = 0; i < locks->Count(); ++i) {
            const TLockItem* item = locks->Items(i);
            if (item->RqID != 0 && locks->FindLockType(item->RqID) == LockTypeRead)
                reads.push_back({item->RqID, item->LckSize});
        }
        for (const THeld& lock : reads)
            FTableLockMgr->SetWriteLock(lock.ID, lock.Size);
    } catch (const EVekDatabaseError&) {
        // Others hold locks of their own: the pages wait in memory.
        return false;
    }
    return true;
}

void TDiskMgr::DiskStartTransaction(bool NoTransactionLocks)
{
    FHeaderKept = false;
    FVekFile->StartTransaction();
    FNoTransactionLocks = NoTransactionLocks;
}

void TDiskMgr::DiskCommit()
{
    if (!IsTransactionActive())
        VekDatabaseError(diskerr::NoTransaction, "TDiskMgr.DiskCommit", "", this);
    // A transaction that changed nothing leaves the file as it found it:
    // its read locks go as a rollback gives them back, without first
    // becoming write locks (which would wait for every other reader of its
    // tables, for nothing).
    const bool wrote = FVekFile->TransactionWrote() || (FHeaderLocked && FGlobalHdr->Dirty());
    if (FTableLockMgr && wrote)
        FTableLockMgr->UpgradeReadLocks();
    // A header changed under a lock still held belongs to the transaction.
    if (FHeaderLocked && FGlobalHdr->Dirty())
        WriteHeader();
    FVekFile->Commit();
    ReleaseAllLocks();
}

void TDiskMgr::DiskRollback()
{
    // The transaction's header and map pages go with it.
    FHeaderKept = false;
    try {
        FVekFile->Rollback();
    } catch (...) {
        // The transaction is over even so (its journal, should one stay,
        // goes back with the next lock anyone takes).
        FMapPageMgr->ForgetMapAddresses();
        try {
            ReleaseAllLocks();
        } catch (...) {
        }
        throw;
    }
    FMapPageMgr->ForgetMapAddresses();
    if (FHeaderLocked) {
        ReadHeader();
    } else {
        SetHeaderReadLock();
        ReleaseHeaderLock();
    }
    ReleaseAllLocks();
}

bool TDiskMgr::IsTransactionActive() const
{
    return FVekFile->GetTransactionActive();
}

} // namespace orvex
