#pragma once
// The database unit: the connection component TVekDataBase, its database
// header record, its system-table seam, and the building of table
// definitions from field and index layouts.
//
// A TVekDataBase reaches one database: a file (Directory + DataBaseName) or
// the whole in-memory database "MEMORY". For a file it owns the storage of
// the connection: the TDiskMgr over the file, the two header interfaces
// (system headers, table headers) and the two disk table-definition managers
// (system tables from ID 1024, user tables from 1); for every database a
// memory table-definition manager for in-memory tables. Datasets attach
// through the host connection's client list (RegisterClient) and reach
// their tables, locks and transactions through the connection.
//
// Where table definitions are stored (the master and system tables), how a
// user logs on and what a user may do, and the generators are the business
// of a TVekSystemTables object that the connection asks for when it is
// created (see NewSystemTables).

#include "host/Classes.h"
#include "host/DB.h"
#include "storage/vekConsts.h"
#include "storage/vekDisk.h"
#include "storage/vekInterfaceUnit.h"
#include "storage/vekTableMgrUnit.h"
#include "storage/vekVerControl.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace orvex {

class TVekDataBase;
class TVekDataSet;
class TSecurityManager;

// The version text the engine writes into the database header and shows as
// the Version of its components.
inline constexpr const char* VekEngineVersion = "1.43.02";
// The release number of that version: a header with a higher one is refused.
inline constexpr Integer VekEngineRelease = 2;
// The name of the in-memory database.
inline constexpr const char* VekMemoryDatabaseName = "MEMORY";
// Every privilege bit; a temporary privilege status of this value switches
// security off for the connection.
inline constexpr Integer VekAllPrivileges = 0x7FFFFFFF;
// Lock types of the table and record locks.
inline constexpr Integer VekLockRead = 1;
inline constexpr Integer VekLockWrite = 4;
// The error of a maintenance operation that its progress handler cancelled
// ("Update operation aborted"): nothing was changed.
inline constexpr Integer VekErrCancelled = 13062;

// Sender, then the user name, password and master key to use, which the
// handler may change.
using TBeforeLoginEvent = std::function<void(TObject* Sender, std::string& Username,
                                             std::string& Password, std::string& MasterKey)>;
// Long operations report progress; setting Cancel stops them.
using TUpdateProgressProc = std::function<void(Integer PercentDone, bool& Cancel)>;

// ----------------------------------------------------------- header record

// The database header: the 254-byte record at file offset 0, kept as its
// bytes (so the checksum covers every byte as stored). Text fields are
// zero-terminated arrays of 16-bit characters, converted from and to
// Windows-1252; the engine writes at most Capacity - 2 characters.
class TVekDBDef {
public:
    static constexpr Integer Size = 254;
    static constexpr Integer OfsRecordVersion = 0;   // u16, always 1
    static constexpr Integer OfsDatabaseName = 2;    // 31 characters
    static constexpr Integer OfsOSDetails = 64;      // 31 characters
    static constexpr Integer OfsDateCreated = 126;   // double
    static constexpr Integer OfsDBOwner = 134;       // 31 characters
    static constexpr Integer OfsReserved = 196;      // u32, 0
    static constexpr Integer OfsSortOrder = 200;     // u32, ordinal of TSortOrder
    static constexpr Integer OfsVersion = 204;       // 21 characters
    static constexpr Integer OfsSecurityLevel = 246; // u32: 0 none, 1 encrypted, 2 secured
    static constexpr Integer OfsCRC = 250;           // u32
    static constexpr Integer NameChars = 31;
    static constexpr Integer VersionChars = 21;

    // All zero.
    void Clear() { Bytes.fill(0); }

    Word RecordVersion() const;
    void SetRecordVersion(Word Value);
    std::string DatabaseName() const;
    void SetDatabaseName(const std::string& Value);
    std::string OSDetails() const;
    void SetOSDetails(const std::string& Value);
    TDateTime DateCreated() const;
    void SetDateCreated(TDateTime Value);
    std::string DBOwner() const;
    void SetDBOwner(const std::string& Value);
    Cardinal Reserved() const;
    void SetReserved(Cardinal Value);
    Integer SortOrder() const;
    void SetSortOrder(Integer Value);
    std::string Version() const;
    void SetVersion(const std::string& Value);
    Integer SecurityLevel() const;
    void SetSecurityLevel(Integer Value);
    Cardinal CRC() const;
    void SetCRC(Cardinal Value);

    // CRC-32 over the values 0 to 255 followed by the record with its CRC
    // field set to 0.
    Cardinal ComputeCRC() const;
    // ComputeCRC into the CRC field.
    void StoreCRC() { SetCRC(ComputeCRC()); }
    // The stored CRC is the computed one.
    bool Validate() const { return CRC() == ComputeCRC(); }

    std::array<Byte, Size> Bytes{};
};

// The three numbers of a version text: split at its first two points, each
// piece an integer, 0 for anything not numeric ("1.43.02" gives 1, 43, 2).
void GetVersionNumbersFromText(const std::string& Text, Integer& Major, Integer& Minor,
                               Integer& Release);

// ------------------------------------------------------ system-table seam

// Where a file connection keeps its table definitions, logs its users on and
// keeps its generators: the master and system tables. The connection calls
// these at the points named; every change runs with the connection's header
// lock held. Memory tables never come here.
class TVekSystemTables {
public:
    explicit TVekSystemTables(TVekDataBase* DataBase) : FDataBase(DataBase) {}
    virtual ~TVekSystemTables() = default;
    TVekSystemTables(const TVekSystemTables&) = delete;
    TVekSystemTables& operator=(const TVekSystemTables&) = delete;

    TVekDataBase* DataBase() const { return FDataBase; }

    // CreateDatabase, the new file open with the header lock held: the
    // master tables, the system tables and (secured) the security tables.
    virtual void CreateTables() = 0;
    // Connecting (after the header and the security header are checked) and
    // disconnecting: open and close the system tables.
    virtual void Open() = 0;
    virtual void Close() = 0;
    // After a rollback: the system tables forget what they read meanwhile.
    virtual void AfterRollback() {}

    // Fills Def (flagged internal or not, as given) with the stored
    // definition of Name; 10024 with the name when there is none.
    virtual void ReadTableDef(const std::string& Name, TTableDef* Def) = 0;
    // Stores Def under Name: New creates the table (13060 when the name is
    // taken; the definition's manager creates the table and Def takes its
    // ID), else updates the stored definition of Def's current name,
    // renaming it to Name when they differ (13060 when Name is taken).
    virtual void WriteTableDef(const std::string& Name, TTableDef* Def, bool New) = 0;
    // Forgets the stored definition of Def (its table's pages and manager
    // entry are already gone).
    virtual void RemoveTableDef(TTableDef* Def) = 0;
    // The stored user table names (System: the system table names), in
    // case-insensitive name order.
    virtual void GetTableNames(TStrings* List, bool System) = 0;
    // Whether a user table of that name is stored (as GetTableNames lists
    // it, compared without regard to case).
    virtual bool TableExists(const std::string& Name);
    // The object ID of a table name; 0 when none.
    virtual Integer GetObjectIDFromName(const std::string& Name) = 0;

    // Security (a secured header): logs the user on or raises the logon
    // error; then fills the connection's privileges.
    virtual void Logon(const std::string& UserName, const std::string& Password) = 0;
    // May the user open the stored table Def (raises when not)?
    virtual void CheckCanOpenDataObject(TTableDef* Def) = 0;
    // The privilege bits of the logged-on user on a table.
    virtual Integer GetTablePrivileges(TTableDef* Def) = 0;
    // Whether the user holds the object privilege on the named object.
    virtual bool QueryObjectPrivilegeExists(Integer ObjectType, const std::string& ObjectName,
                                            Integer Privilege) = 0;

    // Generators (the connection checks the file and version first).
    virtual void CreateGenerator(const std::string& Name, Integer InitialValue, Integer Step) = 0;
    virtual Integer GetGeneratorValue(const std::string& Name, bool Peek) = 0;
    virtual Integer InternalGetGenerator(const std::string& Name, bool Create) = 0;
    virtual void DeleteGenerator(const std::string& Name) = 0;
    virtual void GetGeneratorNames(TStrings* List) = 0;
    virtual bool QueryGenerator(const std::string& Name, Integer& Value, Integer& Step) = 0;

private:
    TVekDataBase* FDataBase;
};

// ------------------------------------------------------- engine datasets

// What a rollback asks of an attached engine dataset besides the host
// dataset's Cancel and Refresh: forget the index pages and other data it
// cached from the file. Engine datasets implement it; the connection finds
// it on its attached datasets by dynamic_cast.
class IVekDataSetCaches {
public:
    virtual ~IVekDataSetCaches() = default;
    virtual void DumpInternalCaches() = 0;
    // After a rollback: shows the data again from the record nearest to the
    // current one (that record may be gone). False when the dataset leaves
    // this to the framework's refresh.
    virtual bool RefreshNearest() { return false; }
};

// ------------------------------------------------------------ TVekDataBase

class TVekDataBase : public TCustomConnection {
public:
    // Security manager seam, privileges object and memory table-definition
    // manager; header record reset; retries 200 ms x 10.
    explicit TVekDataBase(TComponent* Owner);
    // Disconnects, then frees what it owns.
    ~TVekDataBase() override;

    // ---------------------------------------------------------- settings
    // Setters marked (closed) raise 10120 while connected.
    const std::string& DataBaseName() const { return FDataBaseName; }
    // (closed) The file-name part; "MEMORY" in any case becomes "MEMORY"; a
    // directory part sets Directory.
    void SetDataBaseName(const std::string& Value);
    const std::string& Directory() const { return FDirectory; }
    void SetDirectory(const std::string& Value); // (closed) with a trailing separator
    bool Exclusive() const { return FExclusive; }
    void SetExclusive(bool Value); // (closed)
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value); // (closed)
    TSortOrder DefaultSortOrder() const { return FDefaultSortOrder; }
    void SetDefaultSortOrder(TSortOrder Value); // (closed)
    const std::string& MasterKey() const { return FMasterKey; }
    void SetMasterKey(const std::string& Value); // (closed) empty or 4..100, else 9602
    bool EnforceSecurity() const { return FEnforceSecurity; }
    void SetEnforceSecurity(bool Value); // (closed) true also sets UseEncryption
    bool UseEncryption() const { return FUseEncryption; }
    void SetUseEncryption(bool Value); // (closed) false while secured: 10766
    std::string DBOwner() const { return FDBDef.DBOwner(); }
    void SetDBOwner(const std::string& Value); // (closed)
    Integer LockRetryInterval() const { return FLockRetryInterval; }
    void SetLockRetryInterval(Integer Value); // also to the disk manager at once
    Integer LockRetryMaximum() const { return FLockRetryMaximum; }
    void SetLockRetryMaximum(Integer Value); // also to the disk manager at once
    // The bytes of changed pages a transaction keeps in memory; past them
    // the oldest go to the file before the commit, their original bytes
    // kept in the rollback journal (16 MiB; 0: all stay in memory). Takes
    // effect at the next transaction.
    Int64 TransactionPageBudget() const { return FTransactionPageBudget; }
    void SetTransactionPageBudget(Int64 Value);
    bool SaveTableDefinitions() const { return FSaveTableDefinitions; }
    void SetSaveTableDefinitions(bool Value) { FSaveTableDefinitions = Value; }

    // ------------------------------------------- the temporary database
    // Query results, their sort, group and DISTINCT indexes and join inputs
    // too big for memory live in a private temporary database of the
    // connection: a database file in TemporaryDirectory, made on first need
    // (TemporaryDatabase), opened exclusively by this connection alone, with
    // no lock file, no record or table locks and no transactions (so no
    // journal). Its page cache is bounded by ResultMemoryBudget. The file is
    // removed when the connection disconnects; a file left behind by a
    // process that died is removed by the next connect in that folder
    // (SweepStaleTemporaryFiles).
    //
    // The bytes of memory a connection's results may take: the page cache of
    // the temporary database, and the point past which a join's searched
    // side is copied there instead of hashed in memory (32 MiB; at least
    // 64 KiB). Takes effect when the temporary database is next made.
    Int64 ResultMemoryBudget() const { return FResultMemoryBudget; }
    void SetResultMemoryBudget(Int64 Value);
    // The folder of the temporary database; empty (the default): the
    // system's temporary folder (platform TemporaryFolder).
    const std::string& TemporaryDirectory() const { return FTemporaryDirectory; }
    void SetTemporaryDirectory(const std::string& Value);
    // The connected temporary database, made now when there is none yet
    // (10113 while this connection is closed).
    TVekDataBase* TemporaryDatabase();
    // Whether the temporary database has been made (and not yet removed).
    bool HasTemporaryDatabase() const { return FTemporaryDatabase != nullptr; }
    // Its file name; empty while there is none.
    std::string TemporaryFileName() const;
    // Whether this connection is some connection's temporary database.
    bool IsTemporaryDatabase() const { return FPrivateFile; }
    // Removes from Folder the temporary database files whose process has
    // ended and that no handle holds open; the number removed.
    static Integer SweepStaleTemporaryFiles(const std::string& Folder);
    // The name a temporary database file of a process starts with and ends
    // with ("orvex-<process id>-<n>.vkt").
    static constexpr const char* TemporaryFilePrefix = "orvex-";
    static constexpr const char* TemporaryFileExt = ".vkt";
    static constexpr Int64 DefaultResultMemoryBudget = 32 * 1024 * 1024;

    TBeforeLoginEvent BeforeLogin;
    TUpdateProgressProc OnUpdateProgress;

    // ------------------------------------------------------ information
    std::string Version() const { return VekEngineVersion; }
    void SetVersion(const std::string&) {}
    TDateTime DateCreated() const { return FDBDef.DateCreated(); }
    // The header's version text while connected, else empty.
    std::string GetDataFileVersion() const;
    bool IsMemory() const { return FDataBaseName == VekMemoryDatabaseName; }
    // The next four need a connection to a file (CheckConnected(false)).
    Int64 DatabaseSize();
    void GetCurrentUsers(TStrings* List);
    Integer GetLocalConnectedUserCount(const std::string& TableName);
    void FlushBuffers();
    TStrings* GetLog();
    void ClearLog();

    // --------------------------------------------------- header record
    const TVekDBDef& DBDef() const { return FDBDef; }
    void ReadDBDef();  // refreshes versions, sort order, secured, encrypted
    void WriteDBDef(); // stores the CRC first; refreshes the versions
    void ResetDBHeader(); // connected to a file, exclusive; WriteDBDef
    void InitDBDef();
    Integer MajorVersion() const { return FMajorVersion; }
    Integer MinorVersion() const { return FMinorVersion; }
    Integer ReleaseVersion() const { return FReleaseVersion; }
    // Header security level >= 2 and security not switched off.
    bool NeedSecurity() const;
    // The header says secured / encrypted (after ReadDBDef).
    bool Secured() const { return FSecured; }
    bool Encrypted() const { return FEncrypted; }

    // ---------------------------------------------------------- checks
    void CheckConnected(bool MemoryAllowed);   // 10113; 10880 on MEMORY
    void CheckNotConnected();                  // 10120
    void CheckExclusive();                     // 10121
    void QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive);
    void CheckMinorVersion(Integer Minimum);   // 12041

    // ---------------------------------------------------------- creation
    // A new database file, left closed.
    void CreateDatabase();

    // ----------------------------------------------------- transactions
    void StartTransaction(); // file only (10880 on MEMORY)
    void Commit();
    // Rolls the file back; then every attached dataset drops its caches,
    // is cancelled when editing or inserting, and is refreshed when active.
    void Rollback();
    bool InTransaction() const;
    bool GetInTransaction() const { return InTransaction(); }
    // A transaction the host started (schema changes are refused in it with
    // 10122), as opposed to the engine's own maintenance transaction.
    bool InHostTransaction() const { return InTransaction() && FMaintenanceDepth == 0; }

    // ------------------------------------------- maintenance transaction
    // Runs a maintenance operation on a file table (emptying it, rebuilding
    // its indexes, moving its records to a new layout, storing its new
    // definition) as one file transaction: table headers, index trees, the
    // table map and stored definitions it changes reach the file at the
    // commit, or nothing does. When Body raises (a failure, or
    // VekErrCancelled from a progress handler), the file is rolled back, the
    // open table headers are read again, the attached datasets and the
    // system tables are brought back in line (as after Rollback), and the
    // error is raised again, so that nothing of it happened. A call inside
    // another maintenance operation runs in that one's transaction; inside a
    // transaction of the host it raises 10122. Memory tables (Memory) and
    // "MEMORY" run Body as it is. Big operations stay in bounded memory:
    // changed pages past TransactionPageBudget go to the file early.
    void RunMaintenance(const char* Context, bool Memory, const std::function<void()>& Body);
    // Whether a maintenance operation's transaction is running.
    bool InMaintenance() const { return FMaintenanceDepth > 0; }
    // Whether this connection is the new file of a database rebuild.
    bool BuildingBeside() const { return FBuildingBeside; }
    void SetQueryActive(bool Value) { FQueryActive = Value; }
    void ActivateQueryMode(bool Modifies);
    bool QueryActive() const { return FQueryActive; }
    bool QueryMode() const { return FQueryMode; }
    void CloseDataSets();
    void RefreshDataSets();
    void CancelDataSets();
    void RollbackDataSets();

    // -------------------------------------------------------------- locks
    // By the definition's table ID; memory tables: no-ops answering false.
    bool LockTable(TTableDef* Def, Integer LockType);
    bool UnLockTable(TTableDef* Def);
    bool TableLockExists(TTableDef* Def, Integer LockType);
    bool LockRecord(TTableDef* Def, Cardinal RecordID);
    bool UnLockRecord(TTableDef* Def, Cardinal RecordID);
    bool RecordLockExists(TTableDef* Def, Cardinal RecordID);
    // The header write lock (every change of the stored definitions).
    bool Locked() const { return FLocked; }
    void SetLocked(bool Value);

    // ------------------------------------------------------------- tables
    // Opens the table Name into Def (Def.Memory() chooses the manager):
    // reads the stored definition, checks the user may open it, connects it
    // to its shared master and sets its privilege flags.
    void OpenTable(const std::string& Name, TTableDef* Def);
    // The stored definition of Name, not connected.
    void QueryTableDef(const std::string& Name, bool Memory, TTableDef* Def);
    // Gives Def's connection back to its manager.
    void CloseTable(TTableDef* Def);
    // Creates the table Def describes (name 1 to 40 characters, 10039;
    // 13060 when it exists).
    void CreateTable(TTableDef* Def, bool Dump);
    // Exclusive; restructures Def's table and stores the new definition.
    void UpdateTableDef(TTableDef* Def, const TInternalRestructureRecord& Restructure);
    void RenameTable(const std::string& OldName, const std::string& NewName);
    // 10053 while the table has users; frees every page it owned.
    void DeleteTable(const std::string& Name, bool Memory);
    // Stored table names (Memory: the open memory tables' names).
    void GetTableNames(TStrings* List, bool Memory);
    void GetSystemTableNames(TStrings* List);
    // Whether the table exists (names compared without regard to case).
    bool TableExists(const std::string& Name, bool Memory);
    Integer InternalGetObjectIDFromName(const std::string& Name);
    // FSystemTableMgr for internal tables, the memory manager for memory
    // tables, else FUserTableMgr.
    TBaseTableDefMgr* GetTableDefMgr(TTableDef* Def) const;

    // ------------------------------------------------------- privileges
    // Whether the user holds the object privilege (always without security).
    bool QueryObjectPrivilegeExists(Integer ObjectType, const std::string& ObjectName,
                                    Integer Privilege);
    Integer DatabasePrivileges() const { return FDatabasePrivileges; }
    void SetDatabasePrivileges(Integer Value) { FDatabasePrivileges = Value; }
    Integer TempPrivilegeStatus() const { return FTempPrivilegeStatus; }
    void SetTempPrivilegeStatus(Integer Value) { FTempPrivilegeStatus = Value; }
    TPrivileges* Privileges() const { return FPrivileges.get(); }

    // ------------------------------------------------------- generators
    void CreateGenerator(const std::string& Name, Integer InitialValue, Integer Step);
    Integer GetGeneratorValue(const std::string& Name, bool Peek);
    Integer InternalGetGenerator(const std::string& Name, bool Create);
    void DeleteGenerator(const std::string& Name);
    void GetGeneratorNames(TStrings* List);
    bool QueryGenerator(const std::string& Name, Integer& Value, Integer& Step);

    // ------------------------------------ rebuild, copy and dump (maintenance)
    // Copies the database file (Directory + DataBaseName) to Target.
    void CopyDatabase(const std::string& Target, bool Overwrite);
    // A backup name of its own for the next operation that backs the file
    // up: the database name with the extension ".vkx" while no such file
    // exists, else ".1.vkx", ".2.vkx" and so on. Backups are never
    // overwritten.
    std::string NewBackupFileName() const;
    // The backup the last restructure, rebuild or database rebuild of this
    // connection wrote (empty before the first).
    const std::string& LastBackupFileName() const { return FLastBackupFileName; }
    // Copies the database file to a backup of its own (NewBackupFileName)
    // and returns its name.
    std::string BackupDatabase();
    // Closed database: backs it up (BackupDatabase), builds a new file
    // beside it from every table of the backup and puts that in the old
    // one's place in one step; ends closed. On any failure the database
    // file is as it was.
    void RebuildDatabase();
    // Fills TableName from the same table of the database file SourceFile;
    // the number of records copied.
    Integer RebuildTable(const std::string& TableName, const std::string& SourceFile, TVekDataSet* Target);
    // A database of the stored table definitions alone, beside this one (".vkd").
    void DumpTableDefinitions();
    using TTransferRecordProc = std::function<void(const Byte* Buffer, TInternalFields* Fields, Integer BufNo,
                                                   Integer BufCount, bool& Continue)>;
    // Closed database: hands every record block of a table to Callback.
    void TransferRecordBuffers(Integer TableID, Integer RecordSize, const TTransferRecordProc& Callback);
    void InternalTransferRecordBuffers(Integer TableID, Integer RecordSize, const TTransferRecordProc& Callback);

    // ----------------------------------------------- storage (engine use)
    TDiskMgr* DiskMgr() const { return FDiskMgr.get(); }
    TDiskIOInterface* SystemHdrDiskInterface() const { return FSystemHdrDiskInterface.get(); }
    TDiskIOInterface* TableHdrDiskInterface() const { return FTableHdrDiskInterface.get(); }
    TDiskTableDefMgr* SystemTableMgr() const { return FSystemTableMgr.get(); }
    TDiskTableDefMgr* UserTableMgr() const { return FUserTableMgr.get(); }
    TMemoryTableDefMgr* MemoryTableMgr() const { return FMemoryTableMgr.get(); }
    TVekSystemTables* SystemTables() const { return FSystemTables.get(); }
    // The users, groups and privileges of a secured database (active while
    // connected to one).
    TSecurityManager* SecurityManager();
    // The database that holds the security tables (this one by default).
    TVekDataBase* SecurityDataBase() const { return FSecurityDataBase; }
    void SetSecurityDataBase(TVekDataBase* Value) { FSecurityDataBase = Value; }

protected:
    void DoConnect() override;
    void DoDisconnect() override;
    bool GetConnected() override { return FConnected; }

    // The system-table object of this connection.
    virtual std::unique_ptr<TVekSystemTables> NewSystemTables();

private:
    void InternalCreateDiskInterfaces();
    void InternalOpenDiskConnections();
    void InternalCloseDiskConnections();
    void ConnectFile();
    void ConnectMemory();
    void Login(bool& LoggedOn);
    void CheckClosedForSetting(const char* Context);
    std::string FileName() const { return FDirectory + FDataBaseName; }
    void InternalCreateTable(TTableDef* Def);
    void ReleaseLocksQuietly();
    // The temporary database: made, and closed with its file removed.
    void CreateTemporaryDatabase();
    void DropTemporaryDatabase();

    std::string FDataBaseName;
    std::string FDirectory;
    bool FExclusive = false;
    bool FReadOnly = false;
    bool FConnected = false;
    bool FSecured = false;
    bool FEncrypted = false;
    bool FEnforceSecurity = false;
    bool FUseEncryption = false;
    TSortOrder FDefaultSortOrder = soANSI;
    bool FLocked = false;
    std::string FMasterKey;
    std::string FLastBackupFileName;
    Integer FMaintenanceDepth = 0;
    bool FBuildingBeside = false;
    Integer FLockRetryInterval = 200;
    Integer FLockRetryMaximum = 10;
    Int64 FTransactionPageBudget = DefaultSpillBudget;
    bool FSaveTableDefinitions = false;
    bool FQueryActive = false;
    bool FQueryMode = false;
    // Reads every open table header again (after a rollback: what they held
    // in memory went with it).
    void ReloadOpenTableHeaders();
    Integer FDatabasePrivileges = 0;
    Integer FTempPrivilegeStatus = 0;
    TVekDBDef FDBDef;
    Integer FMajorVersion = 0;
    Integer FMinorVersion = 0;
    Integer FReleaseVersion = 0;

    std::unique_ptr<TPrivileges> FPrivileges;
    std::unique_ptr<TMemoryTableDefMgr> FMemoryTableMgr;
    std::unique_ptr<TDiskMgr> FDiskMgr;
    std::unique_ptr<TDiskIOInterface> FSystemHdrDiskInterface;
    std::unique_ptr<TDiskIOInterface> FTableHdrDiskInterface;
    std::unique_ptr<TDiskTableDefMgr> FSystemTableMgr;
    std::unique_ptr<TDiskTableDefMgr> FUserTableMgr;
    std::unique_ptr<TVekSystemTables> FSystemTables;
    TVekDataBase* FSecurityDataBase;
    Int64 FResultMemoryBudget = DefaultResultMemoryBudget;
    std::string FTemporaryDirectory;
    std::unique_ptr<TVekDataBase> FTemporaryDatabase;
    bool FPrivateFile = false;
};

// -------------------------------------------- building table definitions

// The dataset settings that go into a new table definition.
struct TVekTableDefSettings {
    std::string TableName;
    std::string TableOwner;
    TSortOrder SortOrder = soANSI;
    Integer BlobBlockSize = DefaultTableBlobSize;
    bool BlobCompression = false;
    TEncryptionLevel EncryptionLevel = encNone;
};

// Limits of a table definition.
inline constexpr Integer VekMaxObjectNameLength = 40;
inline constexpr Integer VekMaxFieldCount = 255;
inline constexpr Integer VekMaxIndexCount = 32;
inline constexpr Integer VekMaxKeySize = 500;
inline constexpr const char* VekLogicalRecNoIndex = "_LogicalRecNo";

// Clears Def and builds it from a field and index layout: names, limits,
// internal field sizes and offsets, index definitions with their key fields
// (a non-unique index ends in the hidden record-ID key field), the hidden
// index "_LogicalRecNo" of a table without indexes, and the key-check value
// of an encrypted table. Errors are raised at Context ("TVekDataSet.SetTableDef")
// with Sender; a refused layout leaves Def partly filled.
void VekSetTableDef(TTableDef* Def, bool Memory, TFieldDefs* FieldDefs, TIndexDefs* IndexDefs,
                    const TVekTableDefSettings& Settings, const char* Context, TObject* Sender);
// The same from restructure definitions.
void VekSetTableDefFromRSDefs(TTableDef* Def, bool Memory, TRestructureFieldDefs* FieldDefs,
                              TRestructureIndexDefs* IndexDefs, const TVekTableDefSettings& Settings,
                              const char* Context, TObject* Sender);
// An empty name and "ALL" (any case) raise 10041 with "<name>: <kind>".
void VekValidateObjectName(const std::string& Name, const std::string& Kind, const char* Context,
                           TObject* Sender);
// The key-check value of an encrypted table: its name scrambled with the
// fixed page key, byte for byte.
std::string VekTableKeyCheckValue(const std::string& TableName);
// Whether the key-check value of Def unscrambles (up to its first zero byte)
// to Def's table name.
bool VekCheckTableKeyValue(const TTableDef* Def);

} // namespace orvex

// The unit's datasets and security manager.
#include "dataset/vekDataSet.h"
#include "dataset/vekSecurity.h"
