// TVekDataBase: its storage objects, settings, connecting with the login,
// disconnecting, the header record and creating a database file.

#include "dataset/vekDatabase.h"

#include "dataset/vekDatabaseLogin.h"
#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "platform/FileIO.h"
#include "storage/vekCommon.h"
#include "storage/vekCrypt.h"

#include <algorithm>
#include <exception>

namespace orvex {

namespace {

constexpr Integer ErrCorruptHeader = 8961;
constexpr Integer ErrHigherLevel = 12041;
constexpr Integer ErrLogin = 10015;
constexpr Integer ErrDatabaseName = 10118;
constexpr Integer ErrNotConnected = 10113;
constexpr Integer ErrInMemory = 10880;
constexpr Integer ErrConnected = 10120;
constexpr Integer ErrNotExclusive = 10121;
constexpr Integer ErrKeySize = 9602;
constexpr Integer ErrTableType = 10766;
constexpr Integer ErrReadOnlyDatabase = 10501;

// How a message names a master key: by its length only.
std::string MasterKeyDescription(Integer Length)
{
    return "A master key of " + IntToStr(Length) + " characters";
}
constexpr Integer ErrExists = 8580;
constexpr Integer ErrFileNotFound = 9988;

constexpr Integer MinMasterKey = 4;
constexpr Integer MaxMasterKey = 100;

std::unique_ptr<TDiskIOInterface> NewHeaderInterface(TDiskMgr* Disk, Integer GlobalOffset)
{
    auto io = std::make_unique<TDiskIOInterface>();
    io->SetDiskMgr(Disk);
    io->SetBlockSize(256);
    io->SetTableID(0);
    io->SetAccessFlags(0);
    io->SetUsage(1);
    io->SetIOMode(iomDiskFixedSize);
    io->SetGlobalFirstEmptyOffset(GlobalOffset);
    return io;
}

} // namespace

// ------------------------------------------------------------ life cycle

TVekDataBase::TVekDataBase(TComponent* Owner)
    : TCustomConnection(Owner),
      FPrivileges(std::make_unique<TPrivileges>()),
      FMemoryTableMgr(std::make_unique<TMemoryTableDefMgr>()),
      FSecurityDataBase(this)
{
    InitDBDef();
}

TVekDataBase::~TVekDataBase()
{
    try {
        Close();
    } catch (...) {
        // A destructor cannot raise; DoDisconnect has closed what it could.
    }
    FMemoryTableMgr.reset();
    FSystemTables.reset();
    FSystemTableMgr.reset();
    FUserTableMgr.reset();
    FSystemHdrDiskInterface.reset();
    FTableHdrDiskInterface.reset();
    FDiskMgr.reset();
    FPrivileges.reset();
    BurnString(FMasterKey);
}

// -------------------------------------------------------------- settings

void TVekDataBase::CheckClosedForSetting(const char* Context)
{
    if (FConnected)
        VekDatabaseError(ErrConnected, Context, "", this);
}

void TVekDataBase::SetDataBaseName(const std::string& Value)
{
    CheckClosedForSetting("TVekDataBase.SetDataBaseName");
    const std::string name = ExtractFileName(Value);
    FDataBaseName = SameText(name, VekMemoryDatabaseName) ? std::string(VekMemoryDatabaseName) : name;
    const std::string path = ExtractFilePath(Value);
    if (!path.empty())
        FDirectory = path;
}

void TVekDataBase::SetDirectory(const std::string& Value)
{
    CheckClosedForSetting("TVekDataBase.SetDirectory");
    FDirectory = Value.empty() ? Value : IncludeTrailingPathDelimiter(Value);
}

void TVekDataBase::SetExclusive(bool Value)
{
    CheckClosedForSetting("TVekDataBase.SetExclusive");
    FExclusive = Value;
}

void TVekDataBase::SetReadOnly(bool Value)
{
    CheckClosedForSetting("TVekDataBase.SetReadOnly");
    FReadOnly = Value;
}

void TVekDataBase::SetDefaultSortOrder(TSortOrder Value)
{
    CheckClosedForSetting("TVekDataBase.SetDefaultSortOrder");
    FDefaultSortOrder = Value;
}

void TVekDataBase::SetMasterKey(const std::string& Value)
{
    CheckClosedForSetting("TVekDataBase.SetMasterKey");
    const auto length = static_cast<Integer>(Value.size());
    // The key itself never goes into a message or the log: its length does.
    if (!Value.empty() && (length < MinMasterKey || length > MaxMasterKey))
        VekDatabaseErrorFmt(ErrKeySize, "TVekDataBase.SetMasterKey", SvekStringInvalidFmt,
                            {MasterKeyDescription(length), MinMasterKey, MaxMasterKey}, this);
    BurnString(FMasterKey);
    FMasterKey = Value;
}

void TVekDataBase::SetEnforceSecurity(bool Value)
{
    CheckClosedForSetting("TVekDataBase.SetEnforceSecurity");
    FEnforceSecurity = Value;
    if (Value)
        FUseEncryption = true;
}

void TVekDataBase::SetUseEncryption(bool Value)
{
    CheckClosedForSetting("TVekDataBase.SetUseEncryption");
    if (!Value && FEnforceSecurity)
        VekDatabaseError(ErrTableType, "TVekDataBase.SetUseEncryption", SvekDBOperationCannotBePerformed,
                         this);
    FUseEncryption = Value;
}

void TVekDataBase::SetDBOwner(const std::string& Value)
{
    CheckClosedForSetting("TVekDataBase.SetDBOwner");
    FDBDef.SetDBOwner(Value);
}

void TVekDataBase::SetLockRetryInterval(Integer Value)
{
    FLockRetryInterval = Value;
    if (FDiskMgr)
        FDiskMgr->SetLockRetryInterval(Value);
}

void TVekDataBase::SetLockRetryMaximum(Integer Value)
{
    FLockRetryMaximum = Value;
    if (FDiskMgr)
        FDiskMgr->SetLockRetryCount(Value);
}

void TVekDataBase::SetTransactionPageBudget(Int64 Value)
{
    FTransactionPageBudget = std::max<Int64>(Value, 0);
    if (FDiskMgr)
        FDiskMgr->SetSpillBudget(FTransactionPageBudget);
}

// ----------------------------------------------------------- information

std::string TVekDataBase::GetDataFileVersion() const
{
    return FConnected ? FDBDef.Version() : std::string();
}

Int64 TVekDataBase::DatabaseSize()
{
    CheckConnected(false);
    return FDiskMgr ? FDiskMgr->GetFileSize() : 0;
}

void TVekDataBase::GetCurrentUsers(TStrings* List)
{
    CheckConnected(false);
    if (!FDiskMgr)
        VekDatabaseError(ErrReadOnlyDatabase, "TVekDataBase.GetCurrentUsers",
                         "Connection details unavailable on memory only databases", this);
    FDiskMgr->GetCurrentUsers(List);
}

Integer TVekDataBase::GetLocalConnectedUserCount(const std::string& TableName)
{
    CheckConnected(false);
    return FUserTableMgr->CheckTableUserCount(TableName);
}

void TVekDataBase::FlushBuffers()
{
    CheckConnected(false);
    FDiskMgr->ForceToDisk();
}

TStrings* TVekDataBase::GetLog()
{
    return GDBLogger ? GDBLogger->LogItems() : nullptr;
}

void TVekDataBase::ClearLog()
{
    if (GDBLogger)
        GDBLogger->Clear();
}

// ---------------------------------------------------------------- checks

void TVekDataBase::CheckConnected(bool MemoryAllowed)
{
    if (!FConnected)
        VekDatabaseError(ErrNotConnected, "TVekDataBase.CheckConnected", "", this);
    if (IsMemory() && !MemoryAllowed)
        VekDatabaseError(ErrInMemory, "TVekDataBase.CheckConnected", "", this);
}

void TVekDataBase::CheckNotConnected()
{
    if (FConnected)
        VekDatabaseError(ErrConnected, "TVekDataBase.CheckNotConnected", "", this);
}

void TVekDataBase::CheckExclusive()
{
    if (!FExclusive)
        VekDatabaseError(ErrNotExclusive, "TVekDataBase.CheckExclusive", "", this);
}

void TVekDataBase::QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive)
{
    if (MustBeConnected)
        CheckConnected(false);
    else
        CheckNotConnected();
    if (MustBeExclusive)
        CheckExclusive();
}

void TVekDataBase::CheckMinorVersion(Integer Minimum)
{
    if (Minimum > FMinorVersion)
        VekDatabaseError(ErrHigherLevel, "TVekDataBase.CheckMinorVersion",
                         SvekFileVersionDoesNotSupportOperation + IntToStr(Minimum), this);
}

bool TVekDataBase::NeedSecurity() const
{
    return FDBDef.SecurityLevel() >= 2 && FTempPrivilegeStatus != VekAllPrivileges;
}

// --------------------------------------------------------- header record

void TVekDataBase::InitDBDef()
{
    FDBDef.Clear();
    FDBDef.SetRecordVersion(1);
    FDBDef.SetDatabaseName(FDataBaseName);
    FDBDef.SetOSDetails(GetOSDetails());
    FDBDef.SetDateCreated(Now());
    FDBDef.SetDBOwner(GetCurrentUser());
    FDBDef.SetVersion(VekEngineVersion);
    GetVersionNumbersFromText(FDBDef.Version(), FMajorVersion, FMinorVersion, FReleaseVersion);
}

void TVekDataBase::ReadDBDef()
{
    FDiskMgr->ReadCustomSize(DBDefRecordOffset, TVekDBDef::Size, 0, 0, FDBDef.Bytes.data());
    GetVersionNumbersFromText(FDBDef.Version(), FMajorVersion, FMinorVersion, FReleaseVersion);
    const Integer order = FDBDef.SortOrder();
    if (order >= 0 && order < TSortOrderCount)
        FDefaultSortOrder = static_cast<TSortOrder>(order);
    FSecured = FDBDef.SecurityLevel() >= 2;
    FEncrypted = FDBDef.SecurityLevel() >= 1;
}

void TVekDataBase::WriteDBDef()
{
    FDBDef.StoreCRC();
    FDiskMgr->WriteCustomSize(DBDefRecordOffset, TVekDBDef::Size, 0, 0, FDBDef.Bytes.data());
    GetVersionNumbersFromText(FDBDef.Version(), FMajorVersion, FMinorVersion, FReleaseVersion);
}

void TVekDataBase::ResetDBHeader()
{
    CheckConnected(false);
    CheckExclusive();
    WriteDBDef();
}

// --------------------------------------------------------- disk objects

void TVekDataBase::InternalCreateDiskInterfaces()
{
    const char* context = "TVekDataBase.InternalCreateDiskInterfaces";
    if (FDiskMgr)
        VekDatabaseError(ErrExists, context, "TDiskMgr", this);
    if (FSystemHdrDiskInterface)
        VekDatabaseError(ErrExists, context, "FSystemHdrDiskInterface", this);
    if (FTableHdrDiskInterface)
        VekDatabaseError(ErrExists, context, "FTableHdrDiskInterface", this);
    if (FSystemTableMgr)
        VekDatabaseError(ErrExists, context, "FSystemTableMgr", this);
    if (FUserTableMgr)
        VekDatabaseError(ErrExists, context, "FUserTableMgr", this);
    FDiskMgr = std::make_unique<TDiskMgr>();
    FDiskMgr->SetPageSize(DefaultPageSize);
    FSystemHdrDiskInterface = NewHeaderInterface(FDiskMgr.get(), TGlobalHdr::OfsSystemHeadersFirstEmpty);
    FTableHdrDiskInterface = NewHeaderInterface(FDiskMgr.get(), TGlobalHdr::OfsTableHeadersFirstEmpty);
    FSystemTableMgr = std::make_unique<TDiskTableDefMgr>();
    FSystemTableMgr->SetHdrDiskInterface(FSystemHdrDiskInterface.get());
    FSystemTableMgr->SetBaseDefMgrAddress(static_cast<Cardinal>(DefaultPageSize));
    FSystemTableMgr->SetSystemTableMgr(true);
    FUserTableMgr = std::make_unique<TDiskTableDefMgr>();
    FUserTableMgr->SetHdrDiskInterface(FTableHdrDiskInterface.get());
    FUserTableMgr->SetBaseDefMgrAddress(static_cast<Cardinal>(3 * DefaultPageSize));
}

void TVekDataBase::InternalOpenDiskConnections()
{
    const std::string fileName = FileName();
    if (!FileExists(fileName))
        VekDatabaseError(ErrFileNotFound, "TVekDataBase.InternalOpenDiskConnections", fileName, this);
    FDiskMgr->SetFileName(fileName);
    FDiskMgr->SetPageSize(DefaultPageSize);
    FDiskMgr->SetOpenFlags((FReadOnly ? fmOpenRead : fmOpenReadWrite) |
                           (FExclusive ? fmShareExclusive : fmShareDenyNone));
    FDiskMgr->SetLockRetryCount(FLockRetryMaximum);
    FDiskMgr->SetLockRetryInterval(FLockRetryInterval);
    FDiskMgr->SetSpillBudget(FTransactionPageBudget);
    FDiskMgr->SetPrivateFile(FPrivateFile);
    // The temporary database is thrown away after a crash: its pages need
    // reach the file only when the bounded cache has no room for them.
    FDiskMgr->SetWriteBack(FPrivateFile);
    FDiskMgr->SetCacheBudget(FPrivateFile ? FResultMemoryBudget : 0);
    try {
        FDiskMgr->Open();
        FSystemHdrDiskInterface->SetFirstEmptyValid(false);
        FSystemHdrDiskInterface->Open();
        FSystemTableMgr->Open();
        FTableHdrDiskInterface->SetFirstEmptyValid(false);
        FTableHdrDiskInterface->Open();
        FUserTableMgr->Open();
    } catch (...) {
        // Nothing taken so far may stay: no slot in the lock file, no
        // lock, no open handle.
        try {
            InternalCloseDiskConnections();
        } catch (...) {
        }
        throw;
    }
}

void TVekDataBase::InternalCloseDiskConnections()
{
    TRunAllSteps steps;
    steps.Run([this] { FSystemTableMgr->Close(); });
    steps.Run([this] { FSystemHdrDiskInterface->Close(); });
    steps.Run([this] { FUserTableMgr->Close(); });
    steps.Run([this] { FTableHdrDiskInterface->Close(); });
    steps.Run([this] {
        // A transaction still running is given up, as if rolled back.
        if (FDiskMgr->IsOpen() && FDiskMgr->IsTransactionActive())
            FDiskMgr->DiskRollback();
    });
    steps.Run([this] { FDiskMgr->Close(); });
    steps.Finish();
}

// ------------------------------------------------------------ connecting

void TVekDataBase::DoConnect()
{
    if (FConnected)
        return;
    if (FDataBaseName.empty())
        VekDatabaseError(ErrDatabaseName, "TVekDataBase.DoConnect", FDirectory + FDataBaseName, this);
    // Temporary databases of connections that died with their process are
    // removed before this connection may make its own.
    if (!FPrivateFile)
        SweepStaleTemporaryFiles(FTemporaryDirectory);
    if (FDataBaseName == VekMemoryDatabaseName)
        ConnectMemory();
    else
        ConnectFile();
}

void TVekDataBase::ConnectMemory()
{
    FMemoryTableMgr->Open();
    InitDBDef();
    FSecured = false;
    FEncrypted = false;
    FDatabasePrivileges = VekAllPrivileges;
    FConnected = true;
}

void TVekDataBase::ConnectFile()
{
    if (!FSystemTables)
        FSystemTables = NewSystemTables();
    FMemoryTableMgr->Open();
    if (!FDiskMgr)
        InternalCreateDiskInterfaces();
    try {
        InternalOpenDiskConnections();
    } catch (...) {
        try {
            FMemoryTableMgr->Close();
        } catch (...) {
        }
        throw;
    }

    FConnected = true;
    try {
        ReadDBDef();
        if (!FDBDef.Validate() || FDBDef.SortOrder() < 0 || FDBDef.SortOrder() >= TSortOrderCount)
            VekDatabaseError(ErrCorruptHeader, "TVekTable.DoConnect", "", this);
        if (FReleaseVersion > VekEngineRelease)
            VekDatabaseErrorFmt(ErrHigherLevel, "TVekDataBase.DoConnect", SvekDBFileVersionFmt,
                                {FDBDef.Version()}, this);
        bool loggedOn = false;
        Login(loggedOn);
        if (!loggedOn) {
            DoDisconnect();
            VekDatabaseError(ErrLogin, "TVekDataBase.DoConnect", "", this);
        }
    } catch (...) {
        try {
            DoDisconnect();
        } catch (...) {
        }
        throw;
    }
}

// Steps 6 to 11 of connecting: ask for what the header requires, key the
// file, check the key, open the system tables and log the user on.
// LoggedOn stays false only when the user cancelled the retried login.
void TVekDataBase::Login(bool& LoggedOn)
{
    std::string key = FMasterKey;
    std::string user;
    std::string password;
    TBurnOnExit burnKey(key);
    TBurnOnExit burnPassword(password);
    int mode = 0;
    if (NeedSecurity())
        mode = FMasterKey.empty() ? 3 : 2;
    else if (FEncrypted && FMasterKey.empty())
        mode = 1;

    if (mode != 0) {
        if (BeforeLogin) {
            BeforeLogin(this, user, password, key);
        } else if (!VekAskLogin(FDataBaseName, mode, key, user, password)) {
            VekDatabaseError(ErrLogin, "TVekDataBase.DoConnect", "", this);
        }
        if (mode == 1 || mode == 3)
            FMasterKey = key;
    }

    FDiskMgr->SetCryptKey(FMasterKey);
    if (FEncrypted || NeedSecurity()) {
        try {
            TSecurityHeader header;
            FDiskMgr->ReadSecurityHeader(header);
        } catch (...) {
            BurnString(FMasterKey);
            throw;
        }
    }

    FSystemTables->Open();

    if (!NeedSecurity()) {
        FDatabasePrivileges = VekAllPrivileges;
        LoggedOn = true;
        return;
    }
    if (BeforeLogin) {
        FSystemTables->Logon(user, password);
        LoggedOn = true;
        return;
    }
    for (;;) {
        try {
            FSystemTables->Logon(user, password);
            LoggedOn = true;
            return;
        } catch (const Exception& error) {
            VekShowLoginError(error.Message());
        }
        if (!VekAskLogin(FDataBaseName, 2, key, user, password))
            return;
    }
}

// --------------------------------------------------------- disconnecting

void TVekDataBase::DoDisconnect()
{
    if (!FConnected)
        return;
    TRunAllSteps steps;
    steps.Run([this] {
        if (FLocked && FDiskMgr && FDiskMgr->IsOpen())
            FDiskMgr->ReleaseHeaderLock();
        FLocked = false;
    });
    steps.Run([this] { CloseDataSets(); });
    // The results the datasets held are gone with them: so is the file.
    steps.Run([this] { DropTemporaryDatabase(); });
    if (!IsMemory() && FDiskMgr) {
        steps.Run([this] {
            if (FSystemTables)
                FSystemTables->Close();
        });
        steps.Run([this] { InternalCloseDiskConnections(); });
    }
    steps.Run([this] { FMemoryTableMgr->Close(); });
    FPrivileges->ClearPrivileges();
    FPrivileges->SetGroupName("");
    FDatabasePrivileges = 0;
    FTempPrivilegeStatus = 0;
    BurnString(FMasterKey);
    InitDBDef();
    FSecured = false;
    FEncrypted = false;
    FConnected = false;
    steps.Finish();
}

// ------------------------------------------------------ a new database

void TVekDataBase::CreateDatabase()
{
    const char* context = "TVekTable.CreateDatabase";
    if (FConnected)
        VekDatabaseError(ErrConnected, context, "", this);
    if (FDataBaseName.empty() || IsMemory())
        VekDatabaseError(ErrDatabaseName, context, FDirectory + FDataBaseName, this);
    if (FUseEncryption && static_cast<Integer>(FMasterKey.size()) < MinMasterKey)
        VekDatabaseErrorFmt(ErrLogin, context, SvekStringInvalidFmt,
                            {MasterKeyDescription(static_cast<Integer>(FMasterKey.size())), MinMasterKey,
                             MaxMasterKey},
                            this);

    const std::string fileName = FileName();
    {
        TDiskMgr creator;
        creator.SetFileName(fileName);
        creator.SetPageSize(DefaultPageSize);
        creator.CreateNewFile(false);
    }

    const std::string owner = FDBDef.DBOwner();
    FDBDef.Clear();
    FDBDef.SetRecordVersion(1);
    FDBDef.SetDatabaseName(FDataBaseName);
    FDBDef.SetOSDetails(GetOSDetails());
    FDBDef.SetDateCreated(Now());
    FDBDef.SetDBOwner(owner);
    FDBDef.SetSortOrder(FDefaultSortOrder);
    FDBDef.SetVersion(VekEngineVersion);
    FDBDef.SetSecurityLevel(FEnforceSecurity ? 2 : FUseEncryption ? 1 : 0);

    std::string masterKey = FMasterKey;
    TBurnOnExit burnKey(masterKey);
    if (!FSystemTables)
        FSystemTables = NewSystemTables();
    FConnected = true;
    try {
        if (!FDiskMgr)
            InternalCreateDiskInterfaces();
        InternalOpenDiskConnections();
        FDiskMgr->SetCryptKey(FMasterKey);
        SetLocked(true);
        WriteDBDef();
        FSecured = FEnforceSecurity;
        FEncrypted = FUseEncryption;
        if (FUseEncryption) {
            TSecurityHeader header;
            FDiskMgr->WriteSecurityHeader(header);
        }
        FSystemHdrDiskInterface->SetFirstEmpty(FDiskMgr->GlobalHdr()->SystemHeadersFirstEmpty());
        FSystemTables->CreateTables();
        SetLocked(false);
        InternalCloseDiskConnections();
    } catch (...) {
        // A database that could not be made whole is not left behind.
        try {
            if (FLocked && FDiskMgr->IsOpen())
                FDiskMgr->ReleaseHeaderLock();
        } catch (...) {
        }
        FLocked = false;
        try {
            InternalCloseDiskConnections();
        } catch (...) {
        }
        DeleteFile(fileName);
        FConnected = false;
        InitDBDef();
        throw;
    }
    FConnected = false;
    FSecured = false;
    FEncrypted = false;
    FMasterKey = masterKey;
    InitDBDef();
    FDBDef.SetDBOwner(owner);
}

} // namespace orvex
