#pragma once
// Table definitions and the table-definition managers.
//
// TTableDef is a table's definition: its identity and dates, its physical
// fields, its key fields and index definitions, its blob and encryption
// settings and, once opened, its connections to storage: the table header
// and three block I/O interfaces (index pages, blobs, records). It is a
// component, so that the connection can store it in the textual object form
// (WriteComponentText) and read it back (ReadComponentText).
//
// A table-definition manager owns one table map and the shared master
// definitions of one group of tables (user tables, system tables, in-memory
// tables). A master definition owns the table's interfaces; every dataset
// that uses the table holds a copy of the definition that points at the
// master's header and interfaces, and the master counts those users. The
// first connection to a table opens its master, the last one closes it
// (in-memory tables stay until their manager closes: their master is the
// table).
//
// Access flags of a table's interfaces: VekAccessPaged, plus VekAccessXOR for
// encWeak or VekAccessBlowfish for encStrong. A new index is one empty
// 4096-byte leaf page: Leaf (u32 at 0) = 1, every other byte 0.

#include "host/Classes.h"
#include "host/DB.h"
#include "host/System.h"
#include "storage/vekConsts.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekIndexUnitManager.h"
#include "storage/vekInterfaceUnit.h"
#include "storage/vekVerControl.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TDiskMgr;

// The version text the engine writes into every table definition.
inline constexpr const char* VekTableDefVersion = "1.43.02";
// The block size of a blob chain after creation and after Clear.
inline constexpr Integer DefaultTableBlobSize = 512;
// The size of the index roots the managers make, and of the index pages of a
// table without index definitions.
inline constexpr Integer DefaultIndexPageSize = 4096;

// The access flags of a table's block I/O interfaces at an encryption level.
Cardinal TableAccessFlags(TEncryptionLevel Level);

// --------------------------------------------------------- restructure record

// What a restructure of a table asks for: the new field and index layouts
// (each with its change status), the host definitions that receive them, and
// table-level settings, each with a flag that says whether it is given.
struct TInternalRestructureRecord {
    TRestructureFieldDefs* NewFieldDefs = nullptr;
    TRestructureIndexDefs* NewIndexDefs = nullptr;
    TFieldDefs* DestFieldDefs = nullptr;
    TIndexDefs* DestIndexDefs = nullptr;
    bool ResetAutoInc = false;
    bool ChangeBlobSize = false;
    Cardinal BlobSize = 0;
    bool ChangeBlobCompression = false;
    bool BlobCompression = false;
    bool ChangeSortOrder = false;
    TSortOrder SortOrder = soANSI;
    // New values for the table header's counters.
    bool ChangeAutoIncValue = false;
    Cardinal AutoIncValue = 0;
    bool ChangeGenerator1 = false;
    Cardinal Generator1 = 0;
    bool ChangeGenerator2 = false;
    Cardinal Generator2 = 0;
};

// ------------------------------------------------------------------ TTableDef

class TTableDef : public TComponent {
public:
    // Creates the three collections; DefaultBlobSize := 512.
    explicit TTableDef(TComponent* Owner);
    // Closes (InternalClose) and frees the collections.
    ~TTableDef() override;

    // From another TTableDef: TableID, TableName, Version, OS, CreationDate,
    // CreatedBy, Encrypted, EncryptionLevel, Password, Memory, the three
    // collections (each by its own Assign), RecordSize, UsesBlobs,
    // DefaultBlobSize, SortOrder, AltName, PrivilegeFlags and
    // BlobCompression. OwnerFlag, LastModDate, SecurityLevel, InternalTable
    // and the storage references stay as they were. Any other source goes to
    // the inherited assignment.
    void Assign(TPersistent* Source) override;
    // The published properties, in the order of the class's streaming.
    void PublishProperties(TPropertyList& List) override;

    // 8577 on a master definition. Otherwise forgets the interfaces and the
    // header, MasterDef, UserCount and Active; TableID, OwnerFlag,
    // CreationDate and EncryptionLevel := 0; empties TableName, Version, OS,
    // CreatedBy and Password; Memory := false; clears the three collections;
    // RecordSize := 0, DefaultBlobSize := 512, UsesBlobs := false.
    void Clear();
    // The first index definition without key fields adopts every key field
    // whose IndexName names no index definition. True.
    bool Validate();
    // Opens a master definition's storage (see the unit's .cpp): 8576
    // without a table header; nothing more on a definition that is not a
    // master or is already active. DiskMgr is not needed for an in-memory
    // table.
    void InternalOpen(TDiskMgr* DiskMgr);
    // On an active master: closes and frees the three interfaces; otherwise
    // forgets them. Active := false. The header is the manager's to close.
    void InternalClose();
    // A fixed sample definition for diagnostics: fields "Int1", "Str1" and
    // "Date1", indexes "one" (on Int1) and "two" (on Str1).
    void DebugSetDefs();

    // Published, in streaming order.
    Integer TableID() const { return FTableID; }
    void SetTableID(Integer Value) { FTableID = Value; }
    Cardinal OwnerFlag() const { return FOwnerFlag; }
    void SetOwnerFlag(Cardinal Value) { FOwnerFlag = Value; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    const std::string& AltName() const { return FAltName; }
    void SetAltName(const std::string& Value) { FAltName = Value; }
    const std::string& Version() const { return FVersion; }
    void SetVersion(const std::string& Value) { FVersion = Value; }
    const std::string& OS() const { return FOS; }
    void SetOS(const std::string& Value) { FOS = Value; }
    TDateTime CreationDate() const { return FCreationDate; }
    void SetCreationDate(TDateTime Value) { FCreationDate = Value; }
    TDateTime LastModDate() const { return FLastModDate; }
    void SetLastModDate(TDateTime Value) { FLastModDate = Value; }
    const std::string& CreatedBy() const { return FCreatedBy; }
    void SetCreatedBy(const std::string& Value) { FCreatedBy = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }
    bool Encrypted() const { return FEncrypted; }
    void SetEncrypted(bool Value) { FEncrypted = Value; }
    Integer SecurityLevel() const { return FSecurityLevel; }
    void SetSecurityLevel(Integer Value) { FSecurityLevel = Value; }
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value) { FMemory = Value; }
    // The record size and the blob flag are the field list's own, so that a
    // copy of the list and the definition agree.
    Integer RecordSize() const { return FInternalFields->RecordSize(); }
    void SetRecordSize(Integer Value) { FInternalFields->SetRecordSize(Value); }
    Integer DefaultBlobSize() const { return FDefaultBlobSize; }
    void SetDefaultBlobSize(Integer Value) { FDefaultBlobSize = Value; }
    bool UsesBlobs() const { return FInternalFields->UsesBlobs(); }
    void SetUsesBlobs(bool Value) { FInternalFields->SetUsesBlobs(Value); }
    TSortOrder SortOrder() const { return FSortOrder; }
    void SetSortOrder(TSortOrder Value) { FSortOrder = Value; }
    bool InternalTable() const { return FInternalTable; }
    void SetInternalTable(bool Value) { FInternalTable = Value; }
    TEncryptionLevel EncryptionLevel() const { return FEncryptionLevel; }
    void SetEncryptionLevel(TEncryptionLevel Value) { FEncryptionLevel = Value; }
    // The three collections, owned.
    TKeyFields* KeyFields() const { return FKeyFields.get(); }
    TInternalFields* InternalFields() const { return FInternalFields.get(); }
    TInternalIndexDefs* InternalIndexDefs() const { return FInternalIndexDefs.get(); }
    // Stored only: blob values are kept uncompressed.
    bool BlobCompression() const { return FBlobCompression; }
    void SetBlobCompression(bool Value) { FBlobCompression = Value; }

    // Not published.
    Integer PrivilegeFlags() const { return FPrivilegeFlags; }
    void SetPrivilegeFlags(Integer Value) { FPrivilegeFlags = Value; }
    // The table header (the map's, not owned).
    TTableHeader* TableHeader() const { return FTableHeader; }
    void SetTableHeader(TTableHeader* Value) { FTableHeader = Value; }
    // The interfaces in use: those a master definition opened (and owns
    // until InternalClose), or in a copy the master's, set through the
    // setters and never freed by the copy.
    TBaseIOInterface* IndexInterface() const { return FIndexInterface; }
    void SetIndexInterface(TBaseIOInterface* Value) { FIndexInterface = Value; }
    TBaseIOInterface* BlobInterface() const { return FBlobInterface; }
    void SetBlobInterface(TBaseIOInterface* Value) { FBlobInterface = Value; }
    TBaseIOInterface* RecordInterface() const { return FRecordInterface; }
    void SetRecordInterface(TBaseIOInterface* Value) { FRecordInterface = Value; }
    // This definition owns its interfaces (a manager's master).
    bool MasterDef() const { return FMasterDef; }
    void SetMasterDef(bool Value) { FMasterDef = Value; }
    // The datasets using a master definition.
    Integer UserCount() const { return FUserCount; }
    void SetUserCount(Integer Value) { FUserCount = Value; }
    // The interfaces are open.
    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }

private:
    // Forgets the storage references without closing anything.
    void ForgetStorage();
    void OpenMemoryInterfaces();
    void OpenDiskInterfaces(TDiskMgr* DiskMgr);
    // Takes the opened interfaces into this definition's ownership and use.
    void TakeInterfaces(std::unique_ptr<TBaseIOInterface> Index, std::unique_ptr<TBaseIOInterface> Blob,
                        std::unique_ptr<TBaseIOInterface> Record);
    void FreeOwnedInterfaces();

    Integer FTableID = 0;
    Cardinal FOwnerFlag = 0;
    std::string FTableName;
    std::string FAltName;
    std::string FVersion;
    std::string FOS;
    TDateTime FCreationDate = 0;
    TDateTime FLastModDate = 0;
    std::string FCreatedBy;
    std::string FPassword;
    bool FEncrypted = false;
    Integer FSecurityLevel = 0;
    bool FMemory = false;
    Integer FDefaultBlobSize = DefaultTableBlobSize;
    TSortOrder FSortOrder = soANSI;
    bool FInternalTable = false;
    TEncryptionLevel FEncryptionLevel = encNone;
    std::unique_ptr<TKeyFields> FKeyFields;
    std::unique_ptr<TInternalFields> FInternalFields;
    std::unique_ptr<TInternalIndexDefs> FInternalIndexDefs;
    bool FBlobCompression = false;

    Integer FPrivilegeFlags = 0;
    TTableHeader* FTableHeader = nullptr;
    // The interfaces in use (not owned) and those this definition opened
    // (owned), which InternalClose and the destructor free in every state.
    TBaseIOInterface* FIndexInterface = nullptr;
    TBaseIOInterface* FBlobInterface = nullptr;
    TBaseIOInterface* FRecordInterface = nullptr;
    std::unique_ptr<TBaseIOInterface> FOwnedIndexInterface;
    std::unique_ptr<TBaseIOInterface> FOwnedBlobInterface;
    std::unique_ptr<TBaseIOInterface> FOwnedRecordInterface;
    bool FMasterDef = false;
    Integer FUserCount = 0;
    bool FActive = false;
};

// ----------------------------------------------------------- TBaseTableDefMgr

// The list of master definitions of one group of tables. The operations of
// the base do nothing (CreateTableDef answers -1, the others 0).
class TBaseTableDefMgr : public TObject {
public:
    TBaseTableDefMgr() = default;
    // Close (the base's: a descendant closes in its own destructor).
    ~TBaseTableDefMgr() override;

    virtual void InitializeIndexInterface(TTableDef* Def);
    virtual Integer CreateTableDef(const std::string& Name, TTableDef* Def);
    virtual Integer CloseTableDefConnection(Integer TableID);
    virtual Integer OpenTableDefConnection(const std::string& Name, TTableDef* Def);
    virtual Integer DeleteTableDef(const std::string& Name, TTableDef* Def);
    virtual Integer RestructureTableDef(TTableDef* Def, const TInternalRestructureRecord& Restructure);
    virtual void Open();
    // Frees every master definition and empties the list.
    virtual void Close();

    // The position of the master definition whose TableName equals Name
    // ignoring case, or whose TableID is TableID; -1 when none.
    int IndexOfTableName(const std::string& Name) const;
    int IndexOfTableDef(Integer TableID) const;
    // The user count of the master definition of that name; 0 when none is
    // open.
    Integer CheckTableUserCount(const std::string& Name) const;
    // Adds the name of every master definition to List.
    void GetCurrentTableNames(TStrings* List) const;

    int TableDefCount() const { return static_cast<int>(FTableDefs.size()); }
    TTableDef* TableDefs(int Index) const { return FTableDefs[static_cast<std::size_t>(Index)].get(); }
    // Table IDs of a system manager start at 1024, of any other at 1.
    bool SystemTableMgr() const { return FSystemTableMgr; }
    void SetSystemTableMgr(bool Value) { FSystemTableMgr = Value; }

protected:
    Integer BaseTableID() const { return FSystemTableMgr ? 1024 : 1; }
    // A new master definition: a copy of Def with MasterDef set, not listed.
    static std::unique_ptr<TTableDef> NewMasterDef(TTableDef* Def);
    TTableDef* AddMasterDef(std::unique_ptr<TTableDef> Master);
    void FreeMasterDef(int Index);
    // The master of TableID; engine error 8579 at Context (with CustomMsg)
    // when there is none.
    TTableDef* RequireMasterDef(Integer TableID, const char* Context) const;
    // Gives Def the header and the interfaces of Master.
    static void ShareStorage(TTableDef* Master, TTableDef* Def);
    // Allocates Def's table in Map and hands Def and Master its ID and owner
    // flag. The part of CreateTableDef that both managers share: the checks
    // come first (8577 for the wrong kind of table, 8580 for a name in use).
    TTableDef* CreateMasterDef(const std::string& Name, TTableDef* Def, bool Memory,
                               TTableHeaderMgr* Map, const char* Context);
    // The part of DeleteTableDef both managers share: the master of Def's
    // TableID, when one is open, counts Def's connection off (8578 at
    // Context, with the count unchanged, while others remain) and is closed
    // and freed with its header; then the table leaves Map and Def forgets
    // its storage and TableID.
    void DeleteMasterDef(TTableDef* Def, TTableHeaderMgr* Map, const char* Context);
    // Closes an open master's interfaces and its header in Map.
    static void CloseMasterDef(TTableDef* Master, TTableHeaderMgr* Map);

private:
    std::vector<std::unique_ptr<TTableDef>> FTableDefs;
    bool FSystemTableMgr = false;
};

// ----------------------------------------------------------- TDiskTableDefMgr

// The tables of one table map in the database file.
class TDiskTableDefMgr : public TBaseTableDefMgr {
public:
    TDiskTableDefMgr() = default;
    ~TDiskTableDefMgr() override;

    // Def must not be an in-memory table (8577) and no open master may have
    // the name (8580). Allocates the table (header and map entry) and a
    // master copy of Def; Def takes the new TableID. Gives every index an
    // empty root. 0.
    Integer CreateTableDef(const std::string& Name, TTableDef* Def) override;
    // Writes an empty 4096-byte leaf root for each of Def's index
    // definitions into the header of Def's table.
    void InitializeIndexInterface(TTableDef* Def) override;
    // Connects Def to its table: opens the master (made from Def when there
    // is none) and gives Def its header and interfaces. 0.
    Integer OpenTableDefConnection(const std::string& Name, TTableDef* Def) override;
    // 8579 for an unknown table; the last connection closes and frees the
    // master. 0.
    Integer CloseTableDefConnection(Integer TableID) override;
    // 8578 while others use the table; else closes its master and removes
    // the table from the map. 0.
    Integer DeleteTableDef(const std::string& Name, TTableDef* Def) override;
    // Gives Def's connected table a header and index roots for the new
    // layout (see the .cpp). 8577 for an in-memory table, 8576 for a
    // definition that is not connected. 0.
    Integer RestructureTableDef(TTableDef* Def, const TInternalRestructureRecord& Restructure) override;
    // Closes and frees every master that no connection uses (a table just
    // created, or one whose users have gone): after a rollback a master
    // may name a table the file no longer has. The next connection makes
    // its master again from the stored definition.
    void ForgetUnusedTableDefs();
    // Close, then opens the map at BaseDefMgrAddress on HdrDiskInterface:
    // 8579 without the interface, 8576 without the address.
    void Open() override;
    // Closes every master and its header, then the map; frees the masters.
    void Close() override;

    Cardinal BaseDefMgrAddress() const { return FBaseDefMgrAddress; }
    void SetBaseDefMgrAddress(Cardinal Value) { FBaseDefMgrAddress = Value; }
    // The connection's interface for table headers and maps (not owned).
    TBaseIOInterface* HdrDiskInterface() const { return FHdrDiskInterface; }
    void SetHdrDiskInterface(TBaseIOInterface* Value) { FHdrDiskInterface = Value; }
    TTableHeaderMgr* TableHeaderMgr() const { return FTableHeaderMgr.get(); }

private:
    void InternalInitHeaderMgr();
    TDiskMgr* DiskMgr() const;
    // The open map; 8576 at Context before Open.
    TTableHeaderMgr* RequireMap(const char* Context) const;

    std::unique_ptr<TTableHeaderMgr> FTableHeaderMgr;
    Cardinal FBaseDefMgrAddress = 0;
    TBaseIOInterface* FHdrDiskInterface = nullptr;
};

// --------------------------------------------------------- TMemoryTableDefMgr

// The in-memory tables of a connection. Their map and headers live in a
// memory interface of the manager; a table lives until it is deleted or the
// manager closes.
class TMemoryTableDefMgr : public TBaseTableDefMgr {
public:
    TMemoryTableDefMgr() = default;
    ~TMemoryTableDefMgr() override;

    // Def must be an in-memory table (8577); no open master may have the
    // name (8580). Allocates the table and a master copy of Def; Def takes
    // the new TableID. The index roots are made when the table is opened. 0.
    Integer CreateTableDef(const std::string& Name, TTableDef* Def) override;
    // Nothing: see CreateTableDef.
    void InitializeIndexInterface(TTableDef* Def) override;
    // The name must be a table of the manager (else 8579 with the name); its
    // master is opened when needed, Def becomes a copy of it with its header
    // and interfaces, and its user count grows by 1. 0.
    Integer OpenTableDefConnection(const std::string& Name, TTableDef* Def) override;
    // 8579 for an unknown table; the user count falls by 1 (not below 0);
    // the table stays. 0.
    Integer CloseTableDefConnection(Integer TableID) override;
    // As the disk manager's: 8578 while others use the table. 0.
    Integer DeleteTableDef(const std::string& Name, TTableDef* Def) override;
    // Always 10766: in-memory tables are not restructured.
    Integer RestructureTableDef(TTableDef* Def, const TInternalRestructureRecord& Restructure) override;
    // Close, then an empty map in the manager's memory interface.
    void Open() override;
    // Closes and frees every master, then closes the map.
    void Close() override;

    TTableHeaderMgr* TableHeaderMgr() const { return FTableHeaderMgr.get(); }
    TMemoryIOInterface* MemoryInterface() const { return FMemoryInterface.get(); }

private:
    // The open map; 8576 at Context before Open.
    TTableHeaderMgr* RequireMap(const char* Context) const;

    std::unique_ptr<TMemoryIOInterface> FMemoryInterface;
    std::unique_ptr<TTableHeaderMgr> FTableHeaderMgr;
};

} // namespace orvex
