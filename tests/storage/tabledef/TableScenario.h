#pragma once
// What the table-definition tests and their child program share: building a
// table definition from a plain layout (as the dataset layer builds one),
// a connection with the two table maps of a database file, storage-level
// access to a connected table (records, blobs, keys), and the end-to-end
// scenario: a table of every accepted field type whose rows follow from
// their number, written, read back by each index, restructured and read
// again.
//
// The child program (vek_tabledef_child, see TableDefChild.cpp):
//
//   vek_tabledef_child <database> <definition file> <key> <rows> <output>
//
// connects to the database (master key <key>, "-" for none), reads the
// table's definition from the definition file, checks the rows by every
// index, restructures the table (see RestructureOnDisk), writes the new
// definition back into the definition file and checks the rows again. It
// writes "ok" into <output>, or "error <text>" and exits with 1.

#include "storage/vekDisk.h"
#include "storage/vekTableMgrUnit.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvex::tabletest {

// ------------------------------------------------------------ definitions

struct TFieldSpec {
    std::string Name;
    TFieldType DataType;
    Integer Size = 0; // characters of a string, bytes of ftBytes
};

struct TIndexSpec {
    std::string Name;
    std::vector<std::string> Fields;
    bool Unique = false;
    bool CaseInsensitive = false;
    bool Descending = false;
};

// Clears Def and fills it as the dataset layer does: fields with the default
// layout, one index definition per spec with its key fields (a non-unique
// index ends in the hidden record-ID key field), the hidden index
// "_LogicalRecNo" for a table without indexes.
void BuildTableDef(TTableDef& Def, const std::string& Name, const std::vector<TFieldSpec>& Fields,
                   const std::vector<TIndexSpec>& Indexes, bool Memory = false,
                   TEncryptionLevel Level = encNone);

// ------------------------------------------------------------- connection

// A table-header interface of the database on Disk (not yet open): 256-byte
// blocks whose free chain's head is at GlobalOffset in the global header.
std::unique_ptr<TDiskIOInterface> NewHeaderInterface(TDiskMgr* Disk, Integer GlobalOffset);

// A connection's storage objects: the database file, the two table-header
// interfaces and the two disk table-definition managers (system tables from
// 1024, user tables from 1), as the database component sets them up.
class TDiskConnection {
public:
    // Opens Path; Key is the master key (empty: the default key).
    explicit TDiskConnection(const std::string& Path, const std::string& Key = "");
    ~TDiskConnection();
    TDiskConnection(const TDiskConnection&) = delete;
    TDiskConnection& operator=(const TDiskConnection&) = delete;

    // A new database file (closed).
    static void CreateDatabase(const std::string& Path);

    TDiskMgr& Disk() { return *FDisk; }
    TDiskTableDefMgr& Tables() { return *FUserTables; }
    TDiskTableDefMgr& SystemTables() { return *FSystemTables; }
    TDiskIOInterface& TableHeaders() { return *FTableHdrs; }

private:
    std::unique_ptr<TDiskMgr> FDisk;
    std::unique_ptr<TDiskIOInterface> FSystemHdrs;
    std::unique_ptr<TDiskIOInterface> FTableHdrs;
    std::unique_ptr<TDiskTableDefMgr> FSystemTables;
    std::unique_ptr<TDiskTableDefMgr> FUserTables;
};

// --------------------------------------------------------- table access

// Records, blobs and keys of a connected table, as a dataset reaches them:
// a record manager on the record interface, an index manager on the index
// interface and header, a blob interface. Flush stores the free-chain heads
// and the index roots in the header and writes it; the destructor flushes.
class TTableAccess {
public:
    explicit TTableAccess(TTableDef& Def);
    ~TTableAccess();
    TTableAccess(const TTableAccess&) = delete;
    TTableAccess& operator=(const TTableAccess&) = delete;

    // Gives Image (RecordSize bytes, fields filled) its prefix (in use, the
    // owner tag, the next record ID, modification counter 0), stores it and
    // inserts its key into every index. Its address; the record ID goes to
    // RecordID.
    Cardinal AddRecord(std::vector<Byte>& Image, Cardinal* RecordID = nullptr);
    std::vector<Byte> ReadRecord(Cardinal Address);
    Cardinal InsertBlob(const std::string& Bytes);
    std::string ReadBlob(Cardinal Address);
    // The record addresses in the order of the index.
    std::vector<Cardinal> IndexOrder(const std::string& IndexName);
    void Flush();

    TTableDef& Def() { return FDef; }
    TInternalFields* Fields() { return FRecords.InternalFields(); }
    TIndexManager& Indexes() { return FIndexes; }

private:
    TTableDef& FDef;
    TRecordMgr FRecords;
    TIndexManager FIndexes;
    TBlobInterface FBlobs;
    bool FBlobsOpen = false;
};

// ------------------------------------------------------------ the scenario

inline constexpr const char* ScenarioTable = "Everything";

// The layout before and after the restructure: every accepted field type
// and four indexes; then the field "Word1" and the index "ixWhen" are gone
// and the field "Code" and the unique index "ixCode" are new.
std::vector<TFieldSpec> ScenarioFields(bool Restructured);
std::vector<TIndexSpec> ScenarioIndexes(bool Restructured);

// Row N of the scenario in the record image of the connected table (blobs
// stored through Access).
std::vector<Byte> ScenarioImage(TTableAccess& Access, int N);
// Adds rows 1 .. Count, keeping the table's header up to date.
void WriteScenarioRows(TTableAccess& Access, int Count);
// Checks rows 1 .. Count: every field of every row against the scenario,
// and the order of every index against the order its keys define. An empty
// text when all hold, else what differs first.
std::string CheckScenarioRows(TTableAccess& Access, int Count, bool Restructured);

// Connects to the table the stored definition describes, checks its rows
// (CheckScenarioRows) and closes the connection again.
std::string CheckStoredTable(TDiskTableDefMgr& Tables, TTableDef& Stored, int Count, bool Restructured);

// A row as stored: its image and the contents of its blobs by field name.
struct TStoredRow {
    std::vector<Byte> Image;
    std::map<std::string, std::string> Blobs;
};
// Every row of the table, in the order of "ixID".
std::vector<TStoredRow> ReadStoredRows(TTableAccess& Access);
// Adds Rows, stored in the layout From, to the table of To: every field by
// name, a field that From lacks filled as the scenario fills it.
void AddStoredRows(TTableAccess& To, TInternalFields* From, const std::vector<TStoredRow>& Rows);

// The restructure at the storage level, as a dataset performs it: reads the
// rows, prepares the table for the new layout (RestructureTableDef), and
// writes them back in the new layout with the new field filled. Def (the
// stored definition) becomes the new one, connected to nothing.
void RestructureOnDisk(TDiskTableDefMgr& Tables, TTableDef& Def);

// The definition's textual form and back.
void SaveDefinition(TTableDef& Def, const std::string& Path);
void LoadDefinition(TTableDef& Def, const std::string& Path);

// Byte strings that the scenario's rows carry in clear: none may be found in
// an encrypted table's file.
std::vector<std::string> ScenarioClearTexts();

} // namespace orvex::tabletest
