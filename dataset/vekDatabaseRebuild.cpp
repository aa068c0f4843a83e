// TVekDataBase: whole-database maintenance. Copying the database file,
// rebuilding every table from a backup copy into a fresh file, rebuilding
// one table from another file, dumping the table definitions into an empty
// database beside this one, and handing a table's raw record blocks to a
// callback.
//
// A copy is a consistent state of the file: an exclusive connection copies
// its own open file (nobody else can write it); otherwise the copy holds the
// file with a handle that denies writing, so no connection can have it open
// for writing while it is copied, and a file some connection has open is
// refused (9344) rather than copied half-changed. Every copy is written
// through to the disk before it is trusted as a backup.

#include "dataset/vekDataSet.h"

#include "host/SysUtils.h"
#include "platform/FileIO.h"
#include "storage/vekCrypt.h"
#include "storage/vekDisk.h"
#include "storage/vekLockMgrUnit.h"

namespace orvex {

namespace {

constexpr Integer ErrUnknownCode = 1;
constexpr Integer ErrCopyFailed = 9344;
constexpr Integer ErrFileNotFound = 9988;
constexpr Integer ErrTableOpen = 10031;
constexpr Integer ErrRestructure = 10012;

void Log(const std::string& Caller, const std::string& Text)
{
    if (GDBLogger)
        GDBLogger->LogItem(Caller, Text);
}

template <class F>
void Quietly(F&& Step)
{
    try {
        Step();
    } catch (...) {
        // Clean-up after a failure: the first error is the one to report.
    }
}

// Writes the file's data through to the disk.
bool SyncFile(const std::string& Name)
{
    auto file = TPlatformFile::Open(Name, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting);
    return file && file->Flush();
}

bool SameFile(const std::string& A, const std::string& B)
{
    TFileIdentity a, b;
    if (FileIdentityOf(A, a) && FileIdentityOf(B, b))
        return a == b;
    return A == B;
}

} // namespace

// ================================================================== copy

void TVekDataBase::CopyDatabase(const std::string& Target, bool Overwrite)
{
    constexpr const char* Context = "TVekDataBase.CopyDatabase";
    const std::string source = FileName();
    if (SameFile(source, Target))
        VekDatabaseError(ErrCopyFailed, Context, source, this);
    if (!FileExists(source))
        VekDatabaseError(ErrFileNotFound, Context, source, this);
    if (FileExists(Target) && !Overwrite)
        VekDatabaseError(ErrUnknownCode, Context, Target, this);
    if (Connected() && Exclusive()) {
        FDiskMgr->ForceToDisk();
        FDiskMgr->CopyCurrentFile(Target);
    } else if (Connected()) {
        VekDatabaseError(ErrCopyFailed, Context,
                         "The database " + source + " is shared: connect exclusively to copy it", this);
    } else {
        // Holding the file with writing denied keeps every connection out
        // while it is copied; a connection that has it open refuses the hold.
        TFileError error = TFileError::None;
        auto hold = TPlatformFile::Open(source, TFileAccess::Read, TFileShare::DenyWrite, TFileCreate::OpenExisting,
                                        &error);
        if (!hold)
            VekDatabaseError(ErrCopyFailed, Context,
                             error == TFileError::SharingViolation
                                 ? "The database " + source + " is in use by another connection"
                                 : GetOSErrorMsg(),
                             this);
        if (!DoCopyFile(source, Target, Overwrite))
            VekDatabaseError(ErrCopyFailed, Context, GetOSErrorMsg(), this);
    }
    if (!FileExists(Target) || !SyncFile(Target))
        VekDatabaseError(ErrCopyFailed, Context, Target, this);
}

// ========================================================= rebuild table

Integer TVekDataBase::RebuildTable(const std::string& TableName, const std::string& SourceFile,
                                   TVekDataSet* Target)
{
    constexpr const char* Context = "TVekDataBase.RebuildTable";
    CheckConnected(false);
    CheckExclusive();
    TTableDef probe(nullptr);
    const Integer users = GetTableDefMgr(&probe)->CheckTableUserCount(TableName);
    const Integer allowed = Target && Target->DataSetIsOpen() ? 1 : 0;
    if (users > allowed)
        VekDatabaseErrorFmt(ErrTableOpen, Context, SvekTableInUseFmt, {TableName}, this);

    TVekDataBase source(nullptr);
    source.SetExclusive(true);
    source.SetDirectory(ExtractFilePath(SourceFile));
    source.SetDataBaseName(ExtractFileName(SourceFile));
    source.SetMasterKey(MasterKey());
    source.BeforeLogin = BeforeLogin;
    source.Open();
    TVekTable from(nullptr);
    from.SetDataBase(&source);
    from.SetTableName(TableName);
    std::unique_ptr<TVekTable> temp;
    Integer result = 0;
    try {
        from.DataSetOpen();
        TVekDataSet* dest = Target;
        if (!dest) {
            temp = std::make_unique<TVekTable>(nullptr);
            temp->SetDataBase(this);
            temp->SetTableName(TableName);
            temp->OnUpdateProgress = OnUpdateProgress;
            temp->DataSetOpen();
            dest = temp.get();
        }
        // Emptied and refilled as one change.
        RunMaintenance(Context, dest->Memory(), [&] {
            if (temp) {
                temp->DataSetEmptyTable();
                TInternalFields* fields = temp->GetInternalFields();
                for (int i = 0; i < fields->Count(); ++i)
                    fields->GetIndex(i)->SetSourceField(fields->GetIndex(i)->FieldName());
            }
            result = from.CopyRawTableData(dest);
        });
    } catch (...) {
        if (temp && temp->DataSetIsOpen())
            Quietly([&] { temp->DataSetClose(); });
        if (from.DataSetIsOpen())
            Quietly([&] { from.DataSetClose(); });
        Quietly([&] { source.Close(); });
        throw;
    }
    if (temp)
        temp->DataSetClose();
    from.DataSetClose();
    source.Close();
    return result;
}

// ====================================================== rebuild database

std::string TVekDataBase::NewBackupFileName() const
{
    const std::string base = FDirectory + ChangeFileExt(ExtractFileName(FDataBaseName), "");
    std::string name = base + ".vkx";
    for (int n = 1; FileExists(name); ++n)
        name = base + "." + IntToStr(n) + ".vkx";
    return name;
}

std::string TVekDataBase::BackupDatabase()
{
    const std::string backup = NewBackupFileName();
    CopyDatabase(backup, false);
    FLastBackupFileName = backup;
    return backup;
}

namespace {

// The files a connection may leave in the folder where a rebuild builds the
// new database: the database, its lock file, its journal and a log.
void ClearRebuildFolder(const std::string& Folder, const std::string& Name)
{
    const std::string file = Folder + Name;
    for (const std::string& leftover : {file, GetLockFileName(file), file + ".jnl", Folder + "dblog.txt"})
        if (FileExists(leftover))
            DeleteFile(leftover);
    if (DirectoryExists(Folder))
        RemoveDir(ExcludeTrailingPathDelimiter(Folder));
}

} // namespace

// The new database is built in a folder of its own beside the old one
// (Directory + DataBaseName + ".rebuild"), under the same name, and renamed
// over the old file once every table is in it. The old file stays as it is
// until that rename, held with writing denied so that no connection changes
// it meanwhile: a failure or a kill at any moment leaves it whole. The
// folder goes at the end (a killed rebuild's folder is cleared by the next
// rebuild).
void TVekDataBase::RebuildDatabase()
{
    constexpr const char* Context = "TVekDataBase.RebuildDatabase";
    CheckNotConnected();
    const std::string caller = FDataBaseName;
    Log(caller, "Rebuild database start");
    const std::string backup = BackupDatabase();
    Log(caller, "Backup database created -" + backup);

    const std::string original = FileName();
    const std::string folder = FDirectory;
    const std::string work = IncludeTrailingPathDelimiter(folder + FDataBaseName + ".rebuild");
    const Integer lineLimit = GDBLogger ? GDBLogger->MaxLogItemCount() : 0;
    if (GDBLogger)
        GDBLogger->SetMaxLogItemCount(0);
    const bool wasExclusive = FExclusive;
    const bool wasSecured = EnforceSecurity();
    const bool wasEncrypted = UseEncryption();
    std::string givenKey = FMasterKey;
    std::string key = givenKey;
    TBurnOnExit burnGiven(givenKey);
    TBurnOnExit burnKey(key);
    std::unique_ptr<TPlatformFile> hold;
    auto finish = [&]() {
        if (Connected())
            Quietly([&] { Close(); });
        FDirectory = folder;
        FBuildingBeside = false;
        FExclusive = wasExclusive;
        Quietly([&] { SetEnforceSecurity(wasSecured); });
        Quietly([&] { SetUseEncryption(wasEncrypted); });
        // The key as the caller set it.
        if (FMasterKey != givenKey)
            Quietly([&] { SetMasterKey(givenKey); });
        hold.reset();
        if (GDBLogger)
            GDBLogger->SetMaxLogItemCount(lineLimit);
    };

    // Records the copy could not add, over every table.
    Integer notCopied = 0;
    TVekDataBase source(nullptr);
    try {
        FExclusive = true;
        // Connecting once checks the key and reads the settings to keep.
        try {
            Open();
        } catch (...) {
            Quietly([&] { Close(); });
            throw;
        }
        // The key the logon gave (BeforeLogin may supply it).
        if (!FMasterKey.empty())
            key = FMasterKey;
        const bool secured = Secured();
        const bool encrypted = Encrypted();
        Close();
        SetMasterKey(key);
        SetEnforceSecurity(secured);
        if (!secured)
            SetUseEncryption(encrypted);
        TFileError error = TFileError::None;
        hold = TPlatformFile::Open(original, TFileAccess::Read, TFileShare::DenyWrite, TFileCreate::OpenExisting,
                                   &error);
        if (!hold)
            VekDatabaseError(ErrCopyFailed, Context,
                             error == TFileError::SharingViolation
                                 ? "The database " + original + " is in use by another connection"
                                 : GetOSErrorMsg(),
                             this);

        // The new, empty file, beside the old one.
        ClearRebuildFolder(work, FDataBaseName);
        if (!ForceDirectories(work))
            VekDatabaseError(ErrCopyFailed, Context, work, this);
        FDirectory = work;
        FBuildingBeside = true;
        CreateDatabase();
        Open();

        Log(caller, "Opening Backup dir " + ExtractFilePath(backup));
        Log(caller, "Opening Backup file " + ExtractFileName(backup));
        source.SetDirectory(ExtractFilePath(backup));
        source.SetDataBaseName(ExtractFileName(backup));
        source.SetExclusive(true);
        source.SetReadOnly(true);
        source.SetTempPrivilegeStatus(0x7FFFFFFF);
        Log(caller, "Opening Source database");
        source.SetMasterKey(key);
        source.BeforeLogin = BeforeLogin;
        try {
            source.Open();
        } catch (...) {
            Log(caller, "Could not open source database");
            throw;
        }

        TStringList systemNames;
        GetSystemTableNames(&systemNames);
        TStringList names;
        source.GetTableNames(&names, false);
        TStringList sourceSystem;
        source.GetSystemTableNames(&sourceSystem);
        const int userCount = names.Count();
        for (int i = 0; i < sourceSystem.Count(); ++i)
            names.Add(sourceSystem.Strings(i));
        auto isSystem = [&](const std::string& Name) { return systemNames.IndexOf(Name) >= 0; };

        Log(caller, "Creating tables...");
        for (int i = 0; i < names.Count(); ++i) {
            const std::string name = names.Strings(i);
            if (isSystem(name))
                continue;
            TTableDef def(nullptr);
            def.SetInternalTable(i >= userCount);
            source.QueryTableDef(name, false, &def);
            def.SetTableName(name);
            def.Validate();
            Log(caller, "Creating table " + name);
            CreateTable(&def, false);
        }

        TVekTable target(nullptr);
        target.SetDataBase(this);
        target.OnUpdateProgress = OnUpdateProgress;
        TVekTable from(nullptr);
        from.SetDataBase(&source);
        for (int i = 0; i < names.Count(); ++i) {
            const std::string name = names.Strings(i);
            try {
                target.SetTableName(name);
                from.SetTableName(name);
                const bool internal = isSystem(name);
                target.TableDef()->SetInternalTable(internal);
                from.TableDef()->SetInternalTable(internal);
                target.DataSetOpen();
                TInternalFields* fields = target.GetInternalFields();
                for (int f = 0; f < fields->Count(); ++f)
                    fields->GetIndex(f)->SetSourceField(fields->GetIndex(f)->FieldName());
                if (target.GetTotalRecordCount() > 0)
                    target.DataSetEmptyTable();
                Log(caller, "Copying data from source table " + name);
                try {
                    from.DataSetOpen();
                    from.CopyRawTableData(&target);
                    notCopied += from.RawCopyFailures;
                    from.DataSetClose();
                    target.DataSetClose();
                } catch (const Exception& e) {
                    // A table that cannot be copied stops the rebuild: the
                    // old file stays as it is rather than be replaced by one
                    // without the table's records.
                    Log(caller, "Exception while copying data from source table " + name);
                    Log(caller, "Exception was " + e.Message());
                    throw;
                }
            } catch (const Exception& e) {
                Log(caller, "Now closing tables causing exception of " + e.Message());
                if (from.DataSetIsOpen())
                    Quietly([&] { from.DataSetClose(); });
                if (target.DataSetIsOpen())
                    Quietly([&] { target.DataSetClose(); });
                throw;
            }
        }
        source.Close();
        Close();

        // The new file takes the old one's place in one step.
        FDirectory = folder;
        FBuildingBeside = false;
        if (!RenameFile(work + FDataBaseName, original) || !FlushDirectoryOf(original))
            VekDatabaseError(ErrCopyFailed, Context, GetOSErrorMsg(), this);
    } catch (...) {
        Quietly([&] { source.Close(); });
        if (Connected())
            Quietly([&] { Close(); });
        Log(caller, "Rebuild database failed: the database file is as it was");
        Quietly([&] { ClearRebuildFolder(work, FDataBaseName); });
        finish();
        if (GDBLogger)
            Quietly([&] { GDBLogger->SaveLogToFile(folder + "dblog.txt"); });
        throw;
    }
    finish();
    Quietly([&] { ClearRebuildFolder(work, FDataBaseName); });
    Log(caller, "Rebuild database complete");
    if (GDBLogger)
        Quietly([&] { GDBLogger->SaveLogToFile(FDirectory + "dblog.txt"); });
    if (notCopied > 0)
        VekDatabaseError(ErrRestructure, Context,
                         Format("%d records were not copied; the backup %s keeps them", {notCopied, backup}), this);
}

// ================================================================== dump

void TVekDataBase::DumpTableDefinitions()
{
    CheckConnected(false);
    if (FDirectory.empty())
        return;
    const bool lock = !Locked();
    if (lock)
        SetLocked(true);
    try {
        TVekDataBase dump(nullptr);
        dump.SetDirectory(FDirectory);
        dump.SetDataBaseName(ChangeFileExt(ExtractFileName(FDataBaseName), ".vkd"));
        // The dump is replaced each time.
        if (FileExists(FDirectory + dump.DataBaseName()))
            DeleteFile(FDirectory + dump.DataBaseName());
        dump.CreateDatabase();
        dump.Open();
        try {
            TStringList names;
            GetTableNames(&names, false);
            for (int i = 0; i < names.Count(); ++i) {
                TTableDef def(nullptr);
                QueryTableDef(names.Strings(i), false, &def);
                def.SetTableName(names.Strings(i));
                dump.CreateTable(&def, false);
            }
        } catch (...) {
            Quietly([&] { dump.Close(); });
            throw;
        }
        dump.Close();
    } catch (...) {
        if (lock)
            Quietly([&] { SetLocked(false); });
        throw;
    }
    if (lock)
        SetLocked(false);
}

// ====================================================== record transfer

void TVekDataBase::TransferRecordBuffers(Integer TableID, Integer RecordSize, const TTransferRecordProc& Callback)
{
    CheckNotConnected();
    InternalTransferRecordBuffers(TableID, RecordSize, Callback);
}

void TVekDataBase::InternalTransferRecordBuffers(Integer TableID, Integer RecordSize,
                                                 const TTransferRecordProc& Callback)
{
    constexpr const char* Context = "TVekDataBase.InternalTransferRecordBuffers";
    if (RecordSize <= 0 || RecordSize > 65536)
        VekDatabaseError(9985, Context, "Invalid record size", this);
    TDiskMgr disk;
    disk.SetPageSize(4096);
    disk.SetCryptKey(FMasterKey);
    disk.SetFileName(FileName());
    disk.SetOpenFlags(16);
    disk.Open();
    bool locked = false;
    try {
        disk.SetTableLock(TableID, LockTypeRead);
        locked = true;
        std::vector<Cardinal> blocks;
        disk.ListAllocatedFixedBlocks(RecordSize, TableID, 9, blocks);
        std::vector<Byte> buffer(static_cast<std::size_t>(RecordSize));
        bool go = true;
        for (std::size_t i = 0; i < blocks.size() && go; ++i) {
            disk.ReadCustomSize(blocks[i], RecordSize, TableID, 1, buffer.data());
            Callback(buffer.data(), nullptr, static_cast<Integer>(i), static_cast<Integer>(blocks.size()), go);
        }
    } catch (...) {
        if (locked)
            Quietly([&] { disk.ReleaseTableLock(TableID); });
        Quietly([&] { disk.Close(); });
        throw;
    }
    disk.ReleaseTableLock(TableID);
    disk.Close();
    (void)Context;
}

} // namespace orvex
