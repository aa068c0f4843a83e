// TVekFile: the database file's transfers, page encryption and file
// transaction.

#include "storage/vekDisk.h"

#include "platform/FileIO.h"
#include "platform/SysInfo.h"
#include "storage/vekCommon.h"
#include "storage/vekDiskErrors.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace orvex {

namespace {

constexpr Integer MinCachePages = 50;
constexpr Integer MaxCachePages = 1000;
constexpr Integer CopyChunkSize = 4096;
constexpr Int64 MaxFileAddress = 0xFFFFFFFFLL; // addresses are 32-bit

constexpr Cardinal CipherFlags = VekAccessXOR | VekAccessBlowfish;

} // namespace

TVekFile::TVekFile() : FCache(std::make_unique<TCacheMgr>()), FBlockCache(std::make_unique<TCacheBlockMgr>())
{
}

TVekFile::~TVekFile()
{
    CloseVekFile();
    // The key schedule is the key in another form.
    BlowfishBurn(FBlowfish);
}

Integer TVekFile::Handle() const
{
    return FFile ? FFile->Handle() : -1;
}

// ------------------------------------------------------------ open and close

Integer TVekFile::OpenVekFile(const std::string& FileName)
{
    if (FPageSize == 0)
        VekDatabaseError(diskerr::Internal, "TVekFile.OpenVekFile", "Database page size not set on opening",
                         this);
    if (FXORKey.empty())
        VekDatabaseError(diskerr::Internal, "TVekFile.OpenVekFile", "Crypt key not set before opening", this);
    CloseVekFile();

    TFileAccess access = TFileAccess::Read;
    if (FOpenRead && FOpenWrite)
        access = TFileAccess::ReadWrite;
    else if (FOpenWrite)
        access = TFileAccess::Write;
    TFileShare share = TFileShare::DenyNone;
    if (FOpenReadExclusive && FOpenWriteExclusive)
        share = TFileShare::Exclusive;
    else if (FOpenWriteExclusive)
        share = TFileShare::DenyWrite;
    else if (FOpenReadExclusive)
        share = TFileShare::DenyRead;

    int osError = 0;
    FFile = TPlatformFile::Open(FileName, access, share, TFileCreate::OpenExisting, nullptr, &osError);
    if (!FFile)
        VekDatabaseError(diskerr::FileOpen, "TVekFile.OpenVekFile",
                         "Unable to open file. Error type of: " + SysErrorText(osError), this);
    FJournalName = GetJournalFileName(FileName);
    const Int64 pages = RealFileSize() / FPageSize / 4;
    ConnectCaches(static_cast<Integer>(std::clamp<Int64>(pages, MinCachePages, MaxCachePages)));
    return Handle();
}

Integer TVekFile::CreateVekFile(const std::string& FileName)
{
    CloseVekFile();
    FFile = TPlatformFile::Open(FileName, TFileAccess::ReadWrite, TFileShare::Exclusive,
                                TFileCreate::CreateAlways);
    if (!FFile)
        return -1;
    // A journal beside the old file must never be applied to the new one.
    const std::string journal = GetJournalFileName(FileName);
    if (FileExists(journal) && !DeleteFile(journal)) {
        FFile.reset();
        return -1;
    }
    FJournalName.clear(); // nothing a new file gets is journalled
    // The caches are not used on a new file, but every route must stay valid.
    ConnectCaches(MinCachePages);
    return Handle();
}

void TVekFile::ConnectCaches(Integer CachePages)
{
    FWorkBuffer.assign(static_cast<std::size_t>(FPageSize), 0);
    FVirtualEof = 0;
    FWriteBackEof = 0;
    FCache->SetWriteBack(false);
    FTransactionActive = false;
    FCache->SetReadIO([this](void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Low,
                             Cardinal High) { InternalReadPage(Buffer, TableID, AccessFlags, Low, High); });
    FCache->SetWriteIO([this](void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Low,
                              Cardinal High) { InternalWritePage(Buffer, TableID, AccessFlags, Low, High); });
    FCache->SetReadRunIO([this](void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Low, Cardinal,
                                Integer PageCount) {
        InternalReadPageRun(Buffer, TableID, AccessFlags, Low, PageCount);
    });
    FCache->SetWriteRunIO([this](void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Low, Cardinal,
                                 Integer PageCount) {
        InternalWritePageRun(Buffer, TableID, AccessFlags, Low, PageCount);
    });
    FCache->SetOnPageDirty([this](TCachePage* Page) { PatchBlocksFromPage(Page); });
    FBlockCache->SetReadIO([this](void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Low,
                                  Cardinal High, Integer Size) {
        InternalRead(Buffer, TableID, AccessFlags, Low, High, Size);
    });
    FBlockCache->SetWriteIO([this](void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Low,
                                   Cardinal High, Integer Size) {
        InternalWrite(Buffer, TableID, AccessFlags, Low, High, Size);
    });
    FCache->Open(CachePages, FPageSize);
}

void TVekFile::CloseVekFile()
{
    // A transaction that wrote pages early is given up: the file gets its
    // bytes back now, or from the next connection when that fails.
    if (FSpilled) {
        try {
            UndoSpill();
        } catch (...) {
        }
    }
    EndSpill();
    // Pages a write-back cache still holds are not written: whoever wants
    // them in the file flushes before closing (TDiskMgr::Close does).
    FCache->Close();
    FCache->SetWriteBack(false);
    if (FBlockCache->TransactionActive())
        FBlockCache->Rollback();
    FTransactionActive = false;
    FVirtualEof = 0;
    FWriteBackEof = 0;
    UnlockJournalByte();
    FFile.reset();
    FJournalName.clear();
}

void TVekFile::CheckFile(const char* Context) const
{
    if (!FFile)
        VekDatabaseError(diskerr::FileOpen, Context, "The database file is not open",
                         const_cast<TVekFile*>(this));
}

// ------------------------------------------------------------------- routing

void TVekFile::LogTableID(Integer TableID) const
{
    if (TableID > MaxVekTableID)
        GDBLogger->LogItem("VekFile", "Invalid table id");
}

void TVekFile::SeekAndReadVekFile(void* Buffer, Cardinal Address, Integer Size, Integer TableID,
                                  Cardinal AccessFlags)
{
    LogTableID(TableID);
    CheckFile("TVekFile.SeekAndReadVekFile");
    if (ThroughPageCache(AccessFlags))
        FCache->ReadCache(Buffer, TableID, AccessFlags, Address, 0, Size);
    else if (FTransactionActive)
        FBlockCache->ReadBlock(Buffer, TableID, AccessFlags, Address, 0, Size);
    else
        InternalRead(Buffer, TableID, AccessFlags, Address, 0, Size);
}

void TVekFile::SeekAndReadVekFileBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size,
                                        Integer TableID, Cardinal AccessFlags, void* Buffer,
                                        const TBlockVisitProc& Visit)
{
    LogTableID(TableID);
    CheckFile("TVekFile.SeekAndReadVekFileBlocks");
    if (ThroughPageCache(AccessFlags)) {
        FCache->ReadCacheBlocks(Addresses, Count, Size, TableID, AccessFlags, 0, Buffer, Visit);
        return;
    }
    for (std::size_t I = 0; I < Count; ++I) {
        SeekAndReadVekFile(Buffer, Addresses[I], Size, TableID, AccessFlags);
        Visit(I);
    }
}

void TVekFile::SeekAndWriteVekFile(const void* Buffer, Cardinal Address, Integer Size,
                                   Integer TableID, Cardinal AccessFlags)
{
    LogTableID(TableID);
    CheckFile("TVekFile.SeekAndWriteVekFile");
    if (ThroughPageCache(AccessFlags)) {
        FCache->WriteCache(Buffer, TableID, AccessFlags, Address, 0, Size);
        SpillIfOverBudget();
    } else if (FTransactionActive)
        FBlockCache->WriteBlock(Buffer, TableID, AccessFlags, Address, 0, Size);
    else
        WriteRaw(Buffer, Address, Size, "TVekFile.SeekAndWriteVekFile");
}

void TVekFile::SeekAndReadVekFileByRef(void*& Buffer, Cardinal Address, Integer Size,
                                       Integer TableID, Cardinal AccessFlags)
{
    LogTableID(TableID);
    CheckFile("TVekFile.SeekAndReadVekFileByRef");
    const bool served = ThroughPageCache(AccessFlags) &&
                        FCache->ReadCacheByRef(Buffer, TableID, AccessFlags, Address, 0, Size);
    ORVEX_ASSERT(served, "SeekAndReadVekFileByRef failed to access cache");
}

void TVekFile::SeekAndWriteVekFileByRef(const void* Buffer, Cardinal Address, Integer Size,
                                        Integer TableID, Cardinal AccessFlags)
{
    LogTableID(TableID);
    CheckFile("TVekFile.SeekAndWriteVekFileByRef");
    if (ThroughPageCache(AccessFlags) &&
        FCache->WriteCacheByRef(Buffer, TableID, AccessFlags, Address, 0, Size)) {
        SpillIfOverBudget();
        return;
    }
    SeekAndWriteVekFile(Buffer, Address, Size, TableID, AccessFlags);
}

bool TVekFile::LendVekFileByRef(void*& Buffer, bool*& Checked, Cardinal Address, Integer Size,
                                Integer TableID, Cardinal AccessFlags)
{
    CheckFile("TVekFile.LendVekFileByRef");
    if (!FTransactionActive || (AccessFlags & VekAccessPaged) == 0 ||
        !FCache->LendCacheByRef(Buffer, Checked, TableID, AccessFlags, Address, 0, Size))
        return false;
    SpillIfOverBudget(); // never the lent pages
    return true;
}

void TVekFile::ReturnLentPages()
{
    FCache->ReturnLentPages();
}

void TVekFile::ReadThroughVekFile(void* Buffer, Cardinal Address, Integer Size)
{
    CheckFile("TVekFile.ReadThroughVekFile");
    if (HeldBack())
        FCache->ReadCache(Buffer, 0, 0, Address, 0, Size);
    else if (FTransactionActive)
        FBlockCache->ReadBlock(Buffer, 0, 0, Address, 0, Size);
    else
        InternalRead(Buffer, 0, 0, Address, 0, Size);
}

void TVekFile::WriteThroughVekFile(const void* Buffer, Cardinal Address, Integer Size)
{
    CheckFile("TVekFile.WriteThroughVekFile");
    if (HeldBack())
        FCache->WriteCache(Buffer, 0, 0, Address, 0, Size);
    else if (FTransactionActive)
        FBlockCache->WriteBlock(Buffer, 0, 0, Address, 0, Size);
    else
        WriteRaw(Buffer, Address, Size, "TVekFile.WriteThroughVekFile");
}

Cardinal TVekFile::SeekAndAppendVekFile(const void* Buffer, Integer Size, Integer TableID,
                                        Cardinal AccessFlags)
{
    CheckFile("TVekFile.SeekAndAppendVekFile");
    const Int64 eof = SeekVekEof();
    if (eof + Size > MaxFileAddress + 1)
        VekDatabaseError(diskerr::SystemFileIO, "TVekFile.SeekAndAppendVekFile", "Unable to seek to end of file",
                         this);
    const Cardinal address = static_cast<Cardinal>(eof);
    if (FTransactionActive)
        FVirtualEof = eof + Size; // before the write: a page there lies inside the transaction's file
    else if (FCache->WriteBack())
        FWriteBackEof = eof + Size; // the pages may stay in the cache for a while
    SeekAndWriteVekFile(Buffer, address, Size, TableID, AccessFlags);
    return address;
}

void TVekFile::ReleasePage(Cardinal Address, const void* ZeroPage)
{
    CheckFile("TVekFile.ReleasePage");
    // A cached copy, even a dirty one, is gone with the page: the next owner
    // must find the zeroed page, not its old contents.
    FCache->RemovePage(Address, 0);
    if (FTransactionActive)
        FBlockCache->WriteBlock(ZeroPage, 0, 0, Address, 0, FPageSize);
    else
        WriteRaw(ZeroPage, Address, FPageSize, "TVekFile.ReleasePage");
}

// -------------------------------------------------------------- end of file

Int64 TVekFile::RealFileSize() const
{
    CheckFile("TVekFile.SeekVekEof");
    const Int64 size = FFile->Size();
    if (size < 0)
        VekDatabaseError(diskerr::SystemFileIO, "TVekFile.SeekVekEof", "Unable to seek to end of file",
                         const_cast<TVekFile*>(this));
    return size;
}

Int64 TVekFile::SeekVekEof() const
{
    if (FTransactionActive)
        return FVirtualEof;
    const Int64 size = RealFileSize();
    return FCache->WriteBack() ? std::max(size, FWriteBackEof) : size;
}

void TVekFile::SetWriteBack(bool Value)
{
    CheckFile("TVekFile.SetWriteBack");
    if (FTransactionActive)
        VekDatabaseError(diskerr::TransactionActive, "TVekFile.SetWriteBack", "", this);
    FCache->SetWriteBack(Value);
    FWriteBackEof = Value ? RealFileSize() : 0;
}

void TVekFile::FlushWriteBack()
{
    if (FFile && !FTransactionActive)
        FCache->FlushDirtyPages();
}

void TVekFile::AdjustTransactionEof()
{
    if (FTransactionActive)
        FVirtualEof = std::max(FVirtualEof, RealFileSize());
}

void TVekFile::FlushBuffers()
{
    FlushWriteBack();
    if (!FFile || !FFile->Flush())
        VekDatabaseError(diskerr::SystemFileIO, "TVekFile.FlushBuffers", "The file buffers could not be flushed",
                         this);
}

void TVekFile::CopyVekFile(const std::string& DestName)
{
    CheckFile("TVekFile.CopyVekFile");
    FlushWriteBack();
    TFileStream dest(DestName, fmCreate);
    std::vector<Byte> chunk(CopyChunkSize);
    Int64 copied = 0;
    for (;;) {
        const Int64 count = FFile->ReadAt(copied, chunk.data(), CopyChunkSize);
        if (count < 0 || dest.Write(chunk.data(), static_cast<std::int32_t>(count)) != count)
            break;
        copied += count;
        if (count < CopyChunkSize)
            break;
    }
    if (copied != SeekVekEof())
        VekDatabaseError(diskerr::SystemFileIO, "TVekFile.CopyVekFile", "The file could not be copied correctly",
                         this);
}

// ---------------------------------------------------------------- page I/O

void TVekFile::ReadRaw(void* Buffer, Cardinal Address, Integer Size, const char* Context)
{
    CheckFile(Context);
    Int64 count = FFile->ReadAt(Address, Buffer, Size);
    if (count != Size) {
        // Inside a transaction the file reaches to its virtual end, in
        // write-back mode to the end of the pages appended: bytes there that
        // no write has reached yet read as zeros.
        const Int64 end = FTransactionActive ? FVirtualEof : FCache->WriteBack() ? FWriteBackEof : 0;
        if (count < 0 || Int64{Address} + Size > end)
            VekDatabaseError(diskerr::DiskRead, Context, "Unable to complete file read operation", this);
        std::memset(static_cast<Byte*>(Buffer) + count, 0, static_cast<std::size_t>(Size - count));
    }
    // What the transaction will write over these bytes is what it must read.
    if (FTransactionActive && FBlockCache->Count() > 0)
        FBlockCache->OverlayBlocks(Buffer, Address, 0, Size);
}

void TVekFile::WriteRaw(const void* Buffer, Cardinal Address, Integer Size, const char* Context)
{
    CheckFile(Context);
    if (FFile->WriteAt(Address, Buffer, Size) != Size)
        VekDatabaseError(diskerr::DiskWrite, Context, "Unable to complete file write operation", this);
}

void TVekFile::InternalReadPage(void* Buffer, Integer TableID, Cardinal AccessFlags,
                                Cardinal LowAddress, Cardinal)
{
    if ((AccessFlags & CipherFlags) == 0) {
        ReadRaw(Buffer, LowAddress, FPageSize, "TVekFile.InternalReadPage");
        return;
    }
    ReadRaw(FWorkBuffer.data(), LowAddress, FPageSize, "TVekFile.InternalReadPage");
    InternalCryptBuf(false, FWorkBuffer.data(), Buffer, AccessFlags, TableID, FPageSize);
}

void TVekFile::InternalReadPageRun(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                                   Integer PageCount)
{
    Byte* pages = static_cast<Byte*>(Buffer);
    ReadRaw(pages, LowAddress, PageCount * FPageSize, "TVekFile.InternalReadPageRun");
    if ((AccessFlags & CipherFlags) == 0)
        return;
    for (Integer i = 0; i < PageCount; ++i) {
        Byte* page = pages + static_cast<std::size_t>(i) * static_cast<std::size_t>(FPageSize);
        std::memcpy(FWorkBuffer.data(), page, static_cast<std::size_t>(FPageSize));
        InternalCryptBuf(false, FWorkBuffer.data(), page, AccessFlags, TableID, FPageSize);
    }
}

void TVekFile::InternalWritePage(void* Buffer, Integer TableID, Cardinal AccessFlags,
                                 Cardinal LowAddress, Cardinal)
{
    if ((AccessFlags & CipherFlags) == 0) {
        WriteRaw(Buffer, LowAddress, FPageSize, "TVekFile.InternalWritePage");
        return;
    }
    InternalCryptBuf(true, Buffer, FWorkBuffer.data(), AccessFlags, TableID, FPageSize);
    WriteRaw(FWorkBuffer.data(), LowAddress, FPageSize, "TVekFile.InternalWritePage");
}

void TVekFile::InternalWritePageRun(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal LowAddress,
                                    Integer PageCount)
{
    // Buffer is the cache's copy of the pages: ciphered in place.
    Byte* pages = static_cast<Byte*>(Buffer);
    if ((AccessFlags & CipherFlags) != 0) {
        for (Integer i = 0; i < PageCount; ++i) {
            Byte* page = pages + static_cast<std::size_t>(i) * static_cast<std::size_t>(FPageSize);
            InternalCryptBuf(true, page, FWorkBuffer.data(), AccessFlags, TableID, FPageSize);
            std::memcpy(page, FWorkBuffer.data(), static_cast<std::size_t>(FPageSize));
        }
    }
    WriteRaw(pages, LowAddress, PageCount * FPageSize, "TVekFile.InternalWritePageRun");
}

void TVekFile::InternalRead(void* Buffer, Integer, Cardinal, Cardinal LowAddress, Cardinal,
                            Integer Size)
{
    ReadRaw(Buffer, LowAddress, Size, "TVekFile.InternalRead");
}

void TVekFile::InternalWrite(void* Buffer, Integer, Cardinal, Cardinal LowAddress, Cardinal,
                             Integer Size)
{
    WriteRaw(Buffer, LowAddress, Size, "TVekFile.InternalWrite");
}

void TVekFile::PatchBlocksFromPage(TCachePage* Page)
{
    if (!FBlockCache->HasBlocksIn(Page->LowerAddress, Page->UpperAddress, FPageSize))
        return;
    const Byte* image = Page->Data;
    if ((Page->AccessFlags & CipherFlags) != 0) {
        InternalCryptBuf(true, Page->Data, FWorkBuffer.data(), Page->AccessFlags,
                         Page->PageOwner, FPageSize);
        image = FWorkBuffer.data();
    }
    FBlockCache->PatchBlocks(image, Page->LowerAddress, Page->UpperAddress, FPageSize);
}

// ---------------------------------------------------------------- encryption

void TVekFile::SetXORKeyBuf(const void* Key, Integer Length)
{
    FXORKey.assign(static_cast<const char*>(Key), static_cast<std::size_t>(std::max(Length, 0)));
}

void TVekFile::SetBlowKeyBuf(const void* Key, Integer Length)
{
    BlowfishInit(FBlowfish, Key, Length * 8, nullptr);
}

void TVekFile::InternalCryptBuf(bool Encrypt, const void* Source, void* Dest, Cardinal AccessFlags,
                                Integer Seed, Integer Count)
{
    if ((AccessFlags & VekAccessXOR) != 0) {
        XORCryptBuf(Source, Dest, FXORKey.data(), Count, static_cast<Integer>(FXORKey.size()), Seed);
        return;
    }
    if (Encrypt)
        BlowfishEncryptCFB(FBlowfish, Source, Dest, Count);
    else
        BlowfishDecryptCFB(FBlowfish, Source, Dest, Count);
    // Every page starts from the same vector.
    BlowfishReset(FBlowfish);
}

// -------------------------------------------------------------- transactions

void TVekFile::StartTransaction()
{
    if (FTransactionActive)
        VekDatabaseError(diskerr::TransactionActive, "TVekFile.StartTransaction", "", this);
    CheckFile("TVekFile.StartTransaction");
    // Pages held back by a write-back cache are not the transaction's: they
    // go to the file first, so that a rollback cannot take them along. The
    // headers and map pages cached meanwhile are forgotten: in the
    // transaction they are byte ranges of the block cache, which a cached
    // copy would not follow.
    if (FCache->WriteBack()) {
        FlushWriteBack();
        for (int i = 0; i < FCache->Count(); ++i) {
            const TCachePage* page = FCache->Pages(i);
            if (page->State != cpEmpty && (page->AccessFlags & VekAccessPaged) == 0)
                FCache->RemovePage(page->LowerAddress, page->UpperAddress);
        }
    }
    FVirtualEof = SeekVekEof();
    // Spilling needs a journal: a file opened for writing, not a new one.
    FSpillPages = 0;
    if (FSpillBudget > 0 && !FJournalName.empty() && FOpenWrite)
        FSpillPages = static_cast<Integer>(std::clamp<Int64>(FSpillBudget / FPageSize, 4, 0x10000000));
    FSpillAt = FSpillPages;
    // Room for the dirty pages below the budget and the clean ones a spill
    // leaves before the cache replaces any.
    FCache->SetTransactionAllowance(FSpillPages > 0 ? FSpillPages + FSpillPages / 4 + 16 : 0);
    FCache->StartTransaction();
    FBlockCache->StartTransaction();
    FTransactionActive = true;
    ++FTransactionSerial;
}

void TVekFile::SetSpillBudget(Int64 Bytes)
{
    FSpillBudget = std::max<Int64>(Bytes, 0);
}

void TVekFile::SpillPages()
{
    // Down to three quarters of the budget, so that a journal flush serves
    // a quarter budget of pages.
    const Integer wanted = FCache->DirtyCount() - FSpillPages * 3 / 4;
    if (wanted <= 0)
        return;
    const bool ready = FSpilled ? (!FOnBeforeSpill || FOnBeforeSpill()) : StartSpillJournal();
    if (!ready) {
        // Another connection is in the way: try again a quarter budget on.
        FSpillAt = FCache->DirtyCount() + std::max(FSpillPages / 4, 1);
        return;
    }
    FSpillAt = FSpillPages;
    const std::vector<TCachePage*> pages = FCache->CollectSpillPages(wanted);
    std::vector<std::pair<Cardinal, Integer>> originals;
    for (const TCachePage* page : pages) {
        const std::size_t number = page->LowerAddress / static_cast<Cardinal>(FPageSize);
        if (Int64{page->LowerAddress} < FJournalOriginalSize && !FJournalled[number])
            originals.emplace_back(page->LowerAddress, FPageSize);
    }
    AppendJournal(originals);
    // In address order, pages that follow one another with one write.
    FCache->WritePages(pages, [this](TCachePage* Page) {
        FCache->PageSpilled(Page);
        ++FSpilledPages;
    });
}

bool TVekFile::StartSpillJournal()
{
    if (FOnBeforeSpill && !FOnBeforeSpill())
        return false;
    // A journal a dead writer left goes first; then the byte, unless another
    // connection holds it (its own journal is in use): no wait.
    RecoverJournal();
    if (!FFile->LockRange(JournalLockOffset, 1))
        return false;
    FJournalLocked = true;
    try {
        // Appends of others since the transaction began lie inside the file
        // now; from here on the owner's locks keep the file's size ours.
        AdjustTransactionEof();
        FJournalOriginalSize = RealFileSize();
        FJournal = TPlatformFile::Open(FJournalName, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                       TFileCreate::CreateAlways);
        if (!FJournal)
            VekDatabaseError(diskerr::DiskWrite, "TVekFile.StartSpillJournal",
                             "The rollback journal could not be created", this);
        FJournalEnd = 0;
        FJournalled.assign(static_cast<std::size_t>(FJournalOriginalSize / FPageSize + 1), false);
        FSpilled = true;
        AppendJournal({}); // the header, flushed with the folder
        if (!FlushDirectoryOf(FJournalName))
            VekDatabaseError(diskerr::DiskWrite, "TVekFile.StartSpillJournal",
                             "The rollback journal could not be flushed", this);
    } catch (...) {
        // Nothing was written to the file: the journal is worth nothing.
        FJournal.reset();
        DeleteFile(FJournalName);
        FSpilled = false;
        FJournalled.clear();
        UnlockJournalByte();
        throw;
    }
    return true;
}

void TVekFile::EndSpill()
{
    FJournal.reset();
    FSpilled = false;
    FSpilledPages = 0;
    FJournalEnd = 0;
    FJournalOriginalSize = 0;
    FJournalled.clear();
    FJournalled.shrink_to_fit();
}

void TVekFile::UndoSpill()
{
    // The journal holds the original of every place the transaction wrote;
    // should this fail, it stays, and whoever takes a lock next applies it.
    FJournal.reset();
    try {
        if (!ApplyJournal())
            VekDatabaseError(diskerr::DiskWrite, "TVekFile.Rollback",
                             "The rollback journal could not be read back", this);
        RemoveJournal("TVekFile.Rollback");
    } catch (...) {
        UnlockJournalByte();
        throw;
    }
    UnlockJournalByte();
}

void TVekFile::Commit()
{
    if (!FTransactionActive)
        VekDatabaseError(diskerr::NoTransaction, "TVekFile.Commit", "", this);
    // Pages first, then blocks: a block written for an address also held as
    // a page wins. A failure leaves the file as it was before the commit and
    // the transaction open for a rollback.
    if (FJournalName.empty() || !FOpenWrite) {
        if (FCache->TransactionActive())
            FCache->Commit();
        if (FBlockCache->TransactionActive())
            FBlockCache->Commit();
        FTransactionActive = false;
        return;
    }
    if (!FSpilled && !HasDirtyData()) {
        // Nothing to write (a transaction that only read): no journal, no
        // flush; the caches end their transactions.
        if (FCache->TransactionActive())
            FCache->Commit();
        if (FBlockCache->TransactionActive())
            FBlockCache->Commit();
        EndSpill();
        FTransactionActive = false;
        return;
    }
    bool journalled = false;
    if (FSpilled) {
        // The journal is open: what the commit writes is added to it. A
        // failure here wrote nothing to the file; the transaction stays open
        // for a rollback.
        std::vector<std::pair<Cardinal, Integer>> ranges;
        for (int i = 0; i < FCache->Count(); ++i) {
            const TCachePage* page = FCache->Pages(i);
            if (page->State == cpDirty && Int64{page->LowerAddress} < FJournalOriginalSize &&
                !FJournalled[page->LowerAddress / static_cast<Cardinal>(FPageSize)])
                ranges.emplace_back(page->LowerAddress, FPageSize);
        }
        for (int i = 0; i < FBlockCache->Count(); ++i)
            if (FBlockCache->Blocks(i)->State == cpDirty)
                ranges.emplace_back(FBlockCache->Blocks(i)->LowAddress, FBlockCache->Blocks(i)->BlockSize);
        AppendJournal(ranges);
        journalled = true;
    } else {
        // A journal a dead writer left goes first. It holds no page of this
        // transaction: that writer needed write locks on its tables (and on
        // the header when it allocated) that this transaction's read locks
        // exclude.
        RecoverJournal();
        LockJournalByte(false);
        try {
            journalled = WriteJournal(RealFileSize());
        } catch (...) {
            DeleteFile(FJournalName); // the file is untouched: the journal is worth nothing
            UnlockJournalByte();
            throw;
        }
    }
    try {
        if (FCache->TransactionActive())
            FCache->Commit();
        if (FBlockCache->TransactionActive())
            FBlockCache->Commit();
        if (journalled) {
            FlushBuffers();
            RemoveJournal("TVekFile.Commit");
        }
    } catch (...) {
        if (journalled)
            UndoFailedCommit();
        UnlockJournalByte();
        EndSpill();
        // The page and block caches may have ended their transactions.
        if (!FCache->TransactionActive())
            FCache->StartTransaction();
        if (!FBlockCache->TransactionActive())
            FBlockCache->StartTransaction();
        throw;
    }
    UnlockJournalByte();
    EndSpill();
    FTransactionActive = false;
}

bool TVekFile::HasDirtyData() const
{
    if (FCache->DirtyCount() > 0)
        return true;
    for (int i = 0; i < FBlockCache->Count(); ++i)
        if (FBlockCache->Blocks(i)->State == cpDirty)
            return true;
    return false;
}

void TVekFile::Rollback()
{
    if (!FTransactionActive)
        VekDatabaseError(diskerr::NoTransaction, "TVekFile.Rollback", "", this);
    if (FSpilled) {
        // The file holds pages of the transaction: its journal gives the
        // original bytes back. Every cached page may hold the transaction's
        // bytes, so the cache forgets them all.
        std::exception_ptr failure;
        try {
            UndoSpill();
        } catch (...) {
            failure = std::current_exception();
        }
        EndSpill();
        if (FCache->TransactionActive())
            FCache->Rollback();
        if (FBlockCache->TransactionActive())
            FBlockCache->Rollback();
        FTransactionActive = false;
        FCache->ClearCache();
        ++FCacheEpoch;
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    // Clean pages read while the transaction ran may hold its blocks or its
    // virtual pages; those bytes go with it.
    std::vector<Cardinal> touched;
    for (int i = 0; i < FBlockCache->Count(); ++i) {
        const TCacheBlock* block = FBlockCache->Blocks(i);
        const Cardinal first = FCache->GetBaseAddress(block->LowAddress);
        for (Int64 page = first; page < Int64{block->LowAddress} + block->BlockSize; page += FPageSize)
            touched.push_back(static_cast<Cardinal>(page));
    }
    if (FCache->TransactionActive())
        FCache->Rollback();
    if (FBlockCache->TransactionActive())
        FBlockCache->Rollback();
    FTransactionActive = false;
    ++FCacheEpoch;
    for (Cardinal page : touched)
        FCache->RemovePage(page, 0);
    const Int64 realEnd = RealFileSize();
    for (int i = 0; i < FCache->Count(); ++i) {
        const TCachePage* page = FCache->Pages(i);
        if (page->State != cpEmpty && Int64{page->LowerAddress} + FPageSize > realEnd)
            FCache->RemovePage(page->LowerAddress, page->UpperAddress);
    }
}

} // namespace orvex
