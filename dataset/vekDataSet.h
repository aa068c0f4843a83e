#pragma once
// The engine's datasets: TVekDataSet (a cursor over one table of a
// TVekDataBase), TVekBaseTable (the complete dataset protocol of the host
// framework on top of it) and TVekTable (the table component), with the blob
// stream TBlobStream and the record filter TFilterMgr.
//
// Record buffers. The engine's own buffers (the current record, the scratch
// record, the two range ends) are the record image (R bytes, the table's
// record size) followed by 12 bytes: the u32 record address, the u32 record
// number in the current index (1-based, 0 unknown) and the u32 key flag (0
// ordinary, 2 before the first key, 4 after the last). The host framework's
// buffers of TVekBaseTable continue that block with the calculated fields,
// the record information and the 8-byte bookmark (host/DBRecordLayout.h), so
// the first R + 12 bytes of every buffer are interchangeable.
//
// Null flags in an image: 0 null, 1 value, 2 the lowest possible key value,
// 4 the highest (2 and 4 only in search and range buffers).
//
// Locks. Every operation that reads takes the table's read lock, every write
// its write lock, for the operation's own duration, unless the dataset holds
// a lock already (Locked, or an outer operation); it releases only what it
// took. Taking a lock re-reads the table header; a moved modification flag
// (another writer) drops the read-ahead window, the blob cache and the index
// trees' page copies.

#include "dataset/vekDatabase.h"
#include "host/DB.h"
#include "host/DBRecordLayout.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekDataUnitFields.h"
#include "storage/vekDataUnitReadAhead.h"
#include "storage/vekDataUnitTables.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekInterfaceUnit.h"
#include "storage/vekTableMgrUnit.h"

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TVekDataBase;
class TVekBaseTable;
class TVekDataSet;
class TVekExprDBDataProvider;
class TVekFilterEvaluator;
class TVekFilterExprDriver;

// The engine's 12 bytes after a record image.
inline constexpr Integer eioRecAddr = 0;
inline constexpr Integer eioRecNo = 4;
inline constexpr Integer eioKeyFlag = 8;
inline constexpr Integer EngineInfoSize = 12;

// Null-flag and key-flag values.
inline constexpr Byte nfNull = 0;
inline constexpr Byte nfValue = 1;
inline constexpr Byte nfLowest = 2;
inline constexpr Byte nfHighest = 4;
inline constexpr Cardinal kfOrdinary = 0;
inline constexpr Cardinal kfBeforeFirst = 2;
inline constexpr Cardinal kfAfterLast = 4;

// Lock types of the table locks.
inline constexpr Integer ltReadLock = 1;
inline constexpr Integer ltWriteLock = 4;

// Size of the key buffers of the range ends and of an update.
inline constexpr Integer DataSetKeyBufferSize = 500;
// How long a read-ahead window is trusted, in milliseconds.
inline constexpr Cardinal ReadAheadValidPeriod = 10000;

// Privilege bits a dataset checks.
inline constexpr Integer dpInsertData = 256;
inline constexpr Integer dpDeleteData = 1024;
inline constexpr Integer dpReadData = 2048;
inline constexpr Integer dpUpdateData = 4096;

enum TRecordBufferState { rbsNone, rbsRead, rbsAssigned };
enum TReadAheadMode { raReadAheadInactive, raReadAheadUninitialized, raReadAheadActive };
enum TRangeMode { rmRangeStart, rmRangeEnd };
enum TKeyMode { kmNone, kmKey, kmRange };
enum TRecordBufferStatus : Byte { rbValid, rbEdited, rbInserted, rbDeleted };

using TRecordFilterProc = std::function<bool(const Byte* RecBuf)>;

// Where a move through the filter starts.
enum TFilterSeekPosition { fspFromStart, fspFromCurrent, fspFromEnd };

// ---------------------------------------------------------------- TFilterMgr

// The filter of a dataset: a condition on the table's records (the Filter
// text, or a selection of the query side) evaluated once into the list of
// the passing record addresses in the current index order, and the record
// event (OnFilterRecord) asked for each record the cursor would visit.
//
// The list is re-evaluated when it is next used after Reset: the dataset's
// own writes, a range change and another writer's change reset it. Moves
// and counts run under the table's read lock, which the dataset takes.
class TFilterMgr : public TObject {
public:
    explicit TFilterMgr(TVekDataSet* DataSet = nullptr);
    ~TFilterMgr() override;

    // A filter is open.
    bool Active() const { return FActive; }
    bool InQuery() const { return FQueryActive; }
    void SetInQuery(bool Value) { SetQueryActive(Value); }

    const std::string& FilterText() const { return FFilterText; }
    void SetFilterText(const std::string& Value) { FFilterText = Value; }
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    void SetFilterOptions(TFilterOptions Value) { FFilterOptions = Value; }
    bool Ordered() const { return FOrdered; }
    void SetOrdered(bool Value) { FOrdered = Value; }
    bool QueryActive() const { return FQueryActive; }
    void SetQueryActive(bool Value) { FQueryActive = Value; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    // The evaluator's error text after a failed open.
    const std::string& Errors() const { return FErrors; }
    // Evaluate every record, whatever the indexes could answer (a test
    // switch; takes effect at the next evaluation).
    bool ForcePerRecord() const { return FForcePerRecord; }
    void SetForcePerRecord(bool Value) { FForcePerRecord = Value; }
    // Evaluate records with the typed steps where they apply (on by default;
    // off: the Variant evaluator alone; a test switch, as ForcePerRecord).
    bool TypedEvaluation() const { return FTypedEvaluation; }
    void SetTypedEvaluation(bool Value) { FTypedEvaluation = Value; }

    // Opens the filter on the table's text and options; false with Errors.
    bool OpenFilter();
    // Opens the filter on a selection of the query side.
    bool AssignExpr(TVekFilterExprDriver* Driver);
    void CloseFilter();
    // The list is out of date: it is evaluated again at its next use.
    void Reset() { FStale = true; }
    void ResetFilter() { Reset(); }
    void Clear() { CloseFilter(); }
    // The data provider takes the table's record event and buffers again.
    void RefreshDataProvider();
    TVekExprDBDataProvider* GetDataProvider() const;
    TVekFilterEvaluator* ExprFilter() const { return FExprFilter.get(); }
    // Evaluates the list again when it is out of date (the caller holds the
    // read lock).
    void EnsureCurrent();

    // The passing addresses in the current index order (no record event).
    const std::vector<Cardinal>& GetCurrentFilter()
    {
        EnsureOrder();
        return FList;
    }
    // The first (last) passing address; 0 when there is none.
    Cardinal MoveToEnd(bool First);
    // The passing address Count places from Address (in the list), 0 when
    // there is none or Address is not in the list.
    Cardinal MoveBy(Cardinal Address, Integer Count);
    // The nearest passing address after (Forwards) or before Address in the
    // current index order; 0 when none, or Address is not a record of the
    // index (inside its range).
    Cardinal FindNearest(Cardinal Address, bool Forwards);
    // stEQ, stLE, stLT, stGE, stGT and stLEG around Address.
    Cardinal InternalFindNearestRecAddr(Cardinal Address, TIndexSearchType SearchType);
    // Whether Address is in the master list (a record of the current index
    // inside its range).
    bool InMasterList(Cardinal Address);
    // The 1-based number of Address among the passing records, 0 when it
    // does not pass.
    Integer GetRecNo(Cardinal Address);
    // The passing address with number RecNo (1-based); 0 when none.
    Cardinal GetRecordAtNo(Integer RecNo);
    bool CheckRecordInFilter(Cardinal Address);
    Integer GetFilterRecordCount();

private:
    bool HasRecordEvent() const;
    bool PassesEvent(Cardinal Address);
    // Takes the evaluator's lists after an evaluation.
    void TakeLists();
    // Builds the lists in index order from the passing addresses when the
    // evaluation read the file in its own order.
    void EnsureOrder();
    // Whether Address passes the condition (in the list).
    bool InList(Cardinal Address);
    // Position of Address in the list (master list), -1 when absent.
    int ListIndexOf(Cardinal Address);
    int MasterIndexOf(Cardinal Address);
    // The nearest passing master entry from position Start, stepping by
    // Step (+1 or -1), Start itself included when Inclusive.
    Cardinal WalkMaster(int Start, int Step);

    TVekDataSet* FDataSet;
    bool FActive = false;
    bool FStale = false;
    bool FAssigned = false; // opened from a driver: nothing re-evaluates it
    std::string FFilterText;
    TFilterOptions FFilterOptions = 0;
    bool FOrdered = false;
    bool FQueryActive = false;
    bool FExcludeRelopNulls = false;
    bool FForcePerRecord = false;
    bool FTypedEvaluation = true;
    std::string FErrors;
    std::unique_ptr<TVekFilterEvaluator> FExprFilter;
    std::vector<Cardinal> FList;
    std::vector<Cardinal> FMaster;
    // An evaluation in file order: the passing addresses, ascending, until
    // navigation needs them in index order (FList and FMaster are empty
    // while FOrderPending).
    std::vector<Cardinal> FPassing;
    bool FOrderPending = false;
    // (address, position) sorted by address; built when first needed.
    std::vector<std::pair<Cardinal, int>> FListIndex;
    std::vector<std::pair<Cardinal, int>> FMasterIndex;
    bool FListIndexValid = false;
    bool FMasterIndexValid = false;
    // The count under a record event, kept until the next evaluation.
    Integer FEventCount = -1;
};

// --------------------------------------------------------------- TVekDataSet

class TVekDataSet : public TDataSet, public IVekDataSetCaches {
public:
    explicit TVekDataSet(TComponent* AOwner);
    ~TVekDataSet() override;

    // ------------------------------------------------------------- settings
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value);
    const std::string& TableOwner() const { return FTableOwner; }
    void SetTableOwner(const std::string& Value);
    TVekDataBase* DataBase() const { return FDataBase; }
    virtual void SetDataBase(TVekDataBase* Value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value);
    TEncryptionLevel EncryptionLevel() const { return FEncryptionLevel; }
    void SetEncryptionLevel(TEncryptionLevel Value);
    TSortOrder SortOrder() const { return FSortOrder; }
    void SetSortOrder(TSortOrder Value);
    Integer BlobBlockSize() const { return FBlobBlockSize; }
    void SetBlobBlockSize(Integer Value);
    bool GetBlobCompression() const { return FBlobCompression; }
    void SetBlobCompression(bool Value);
    Integer ReadAheadBufferSize() const { return FReadAheadBufferSize; }
    void SetReadAheadBufferSize(Integer Value);
    bool UseReadAheadBuffer() const { return FUseReadAheadBuffer; }
    void SetUseReadAheadBuffer(bool Value);
    bool InQuery() const { return FInQuery; }
    void SetInQuery(bool Value);
    TUpdateProgressProc OnUpdateProgress;
    TStrings* DebugStrings = nullptr;
    std::string Version() const { return FVersion; }
    void SetVersion(const std::string&) {}
    bool SystemTable() const;
    // The table exists in the database (its memory tables for a memory table).
    bool Exists();

    // ------------------------------------------------------ opening, closing
    void DataSetOpen();
    void DataSetClose();
    bool DataSetIsOpen() const { return FOpen; }
    void InternalCreateTable();
    // Builds the table definition from a field and index layout.
    void SetTableDef(bool AMemory, TFieldDefs* AFieldDefs, TIndexDefs* AIndexDefs);
    void SetTableDefFromRSDefs(bool AMemory, TRestructureFieldDefs* AFieldDefs, TRestructureIndexDefs* AIndexDefs);
    TTableDef* TableDef() const { return FTableDef.get(); }

    // ---------------------------------------------------------- field access
    // Engine field numbers are the fields' 0-based FieldIndex.
    void DataSetGetFieldData(Integer FieldNo, bool& IsNull, void* Buffer);
    void DataSetGetFieldDataFromRecBuf(Integer FieldNo, bool& IsNull, void* Buffer, const Byte* RecBuf);
    void DataSetGetFieldDataByReference(const Byte* RecBuf, Integer FieldNo, Integer& Length,
                                        const Byte*& Pointer, bool& IsNull);
    Variant DataSetGetFieldDataAsVariant(Integer FieldNo);
    Variant DataSetGetFieldDataFromRecBufAsVariant(const Byte* RecBuf, Integer FieldNo);
    void DataSetSetFieldData(Integer FieldNo, Integer Length, bool IsNull, const void* Buffer);
    void DataSetSetFieldDataToRecBuf(Integer FieldNo, Integer Length, bool IsNull, const void* Buffer,
                                     Byte* RecBuf);
    void DataSetSetFieldDataAsVariant(Integer FieldNo, const Variant& Value);
    void DataSetSetFieldDataToRecBufAsVariant(Byte* RecBuf, Integer FieldNo, const Variant& Value);
    Integer GetFieldLength(Integer FieldNo, const Byte* RecBuf) const;
    Integer GetFieldNo(const std::string& Name) const;
    Integer GetFieldDataOffset(Integer FieldNo) const;
    Integer GetFieldNullOffset(Integer FieldNo) const;
    bool GetIsFieldNullFromRecBuf(Integer FieldNo, const Byte* RecBuf) const;
    bool IsFieldBlob(Integer FieldNo) const;
    bool IsFieldTextBlob(Integer FieldNo) const;
    Integer GetInternalFieldCount() const;
    TInternalFields* GetInternalFields() const;
    void GetFieldDef(Integer FieldNo, TFieldDef* FieldDef) const;

    // -------------------------------------------------------- record buffers
    void ClearRecord(Byte* RecBuf);
    void SetRecordBuffer(const Byte* Source, Integer Size);
    void GetRecordBuffer(Byte* Dest) const;
    void ReadRecordBuffer(Cardinal Address, Byte* RecBuf);
    // ReadRecordBuffer of each of Addresses (best ascending) in turn, calling
    // Visit(I) while record I is in RecBuf; each page is read once for its
    // records.
    void ReadRecordBuffers(const Cardinal* Addresses, std::size_t Count, Byte* RecBuf,
                           const std::function<void(std::size_t)>& Visit);
    void InitializeNewRecord(Byte* RecBuf, bool KeyFieldsLow);
    void SetKeyFlagsToBOF(Byte* RecBuf);
    void SetKeyFlagsToEOF(Byte* RecBuf);
    void SetFieldKeyFlagToMax(Byte* RecBuf, Integer FieldNo);
    void GetBookMarkFromBuf(const Byte* RecBuf, void* Bookmark) const;
    void SetBookMarkToBuf(Byte* RecBuf, const void* Bookmark);
    bool CheckBookMarkValid(const void* Bookmark);
    bool CheckBufferWritten(const Byte* RecBuf) const;
    Cardinal DataSetGetRecordModFlag() const;
    Cardinal DatasetGetRecAddr() const;
    Integer InternalGetRecordSize() const { return FRecordSize; }
    // Adds the record image RecBuf, laid out by SourceFields, field by field
    // (by name) as a record of this table; the indexes are not touched.
    void TransferRecord(const Byte* RecBuf, TInternalFields* SourceFields, Integer BufNo, Integer BufCount,
                        bool& Continue);
    // R + 12: the engine part of every record buffer.
    Integer EngineBufferSize() const { return FRecordSize + EngineInfoSize; }
    Byte* CurrentBuffer() { return FCurBuf.data(); }
    TRecordBufferState RecordBufferState() const { return FRecState; }

    // ------------------------------------------------------ index information
    Integer InternalGetIndexCount() const;
    void GetIndexNames(TStrings* List);
    void GetIndexDef(Integer Index, TIndexDef* IndexDef) const;
    Integer GetIndexFieldCount() const;
    std::string GetIndexFieldsFromKeyFields(const std::string& IndexName) const;
    std::string FindIndexForFields(const std::string& FieldNames) const;
    void CheckIndexesPresent() const;
    // One line per visible index: its key field names joined by ";".
    void GetIndexFieldNamesList(TStrings* Strings);
    const std::string& CurrentIndexName() const;

    // ------------------------------------------------------------------ checks
    void CheckConnected() const;
    void CheckInternalActive() const;
    void CheckInternalInactive() const;
    void CheckPrivilegePresent(Integer Privileges, Integer Required) const;
    bool CheckReadOnlyPrivileges() const;
    void DataSetSetFieldPrivileges();
    void ValidateObjectName(const std::string& Name, const std::string& Kind) const;

    // -------------------------------------------------------------------- locks
    // The write lock on the table until UnlockTable (the table component's
    // Locked).
    void LockTable();
    void ReadLockTable();
    void UnlockTable();
    bool HoldsLock() const { return FLocked; }
    void InternalSetRecordLock(Cardinal Address);
    void InternalReleaseRecordLock(Cardinal Address);

    // ------------------------------------------------------------ table header
    // Re-reads the header (from the file unless FromFile is false: the
    // shared copy is current) and notices another writer's change.
    void ReadTableHeader(bool FromFile = true);
    void WriteTableHeader();
    bool HasTableHeaderChanged() const { return FHeaderChanged; }

    // ------------------------------------------------------------- diagnostics
    void DebugListPagesOwned(TStrings* List);
    // Drops the index trees' page copies and the read-ahead window (after a
    // rollback of the file transaction).
    void DumpInternalCaches() override;
    void DumpInternalStatus(TStrings* Lines);

    // -------------------------------------------------------------- navigation
    bool DataSetFirst();
    bool DataSetLast();
    bool DataSetNext();
    bool DataSetPrior();
    bool DataSetMoveToEnd(bool First);
    Integer DataSetMoveBy(Integer) { return 0; }
    bool IsSequenced() override;
    void Resync(TResyncMode Mode) override;
    void SetReadAheadMode();
    void ReleaseReadAheadMode();
    void ClearReadAheadMode();
    bool Find(TIndexSearchType SearchType, const std::string& IndexName, TSearchModifier* Modifier);
    bool FindBuf(const Byte* RecBuf, TIndexSearchType SearchType, const std::string& IndexName,
                 TSearchModifier* Modifier, bool RefreshOnFail);
    bool InternalSearchOnly(const Byte* RecBuf, TIndexSearchType SearchType, const std::string& IndexName,
                            TSearchModifier* Modifier);
    // Searches IndexName (the current index when empty) for the fields of
    // KeyBuf named in FieldNames; true when found (and moved when asked).
    bool DoLocate(const std::string& IndexName, Byte* KeyBuf, const std::string& FieldNames,
                  TLocateOptions Options, bool UseIndexName, bool MoveToRecord, Byte* FoundBuf = nullptr);
    void SetToRecord(Cardinal Address, const Byte* RecBuf, bool CheckFlags, bool Refresh);
    bool DataSetSetToBookmark(const void* Bookmark);
    void DataSetSetToFlags(Cardinal Address, Cardinal ModFlag);
    void DataSetSetToUnorderedRecord(Cardinal Address);
    // Stands on the record at Address from Image, its InternalGetRecordSize()
    // bytes as read while the table stays locked against writers: nothing is
    // read from the table. For reading only (the record's edit copy is not
    // taken), on a table without blob fields.
    void DataSetSetToRecordImage(Cardinal Address, const Byte* Image);
    Integer DataSetSetRecordNo(Integer RecNo);
    Integer DataSetGetRecordNo();
    Integer DataSetGetRecordNoFromBuf(const Byte* RecBuf);
    Integer GetCurrentRecordCount();
    Integer GetTotalRecordCount();
    Integer GetRangeEndRecNo(TRangeMode Mode);

    // ------------------------------------------------------------------ ranges
    void SetRangeOn(bool On);
    bool RangeOn() const { return FRangeOn; }
    void DataSetClearRange();
    void InitializeRangeBuffers(TRangeMode Mode);
    Byte* GetRangeRecBuf(TRangeMode Mode) { return FRangeBuf[Mode].data(); }
    void SetNullIndexFieldsToRangeEnd(Byte* KeyBuf, const std::string& IndexName, TRangeMode Mode,
                                      const std::string& FieldNames);
    bool CheckKeyBufInRange(const Byte* KeyBuf, TRangeMode Mode);
    bool MoveToRangeEnd(TRangeMode Mode);
    bool ValidateRecBufPostDataChange();

    Cardinal RefreshDataSet(TIndexSearchType SearchType, Byte* RecBuf);
    void RefreshDataSetIndex(Cardinal Address);
    bool DataSetRefresh(Byte* RecBuf, bool Exact);
    // (record address, record number) of every record of the current index,
    // inside the range when one is on; the first record number.
    Integer InternalPrepareMasterRecordList(TCompoundList* List);
    // The addresses of InternalPrepareMasterRecordList alone (the record
    // numbers run from the number it returns on); the first Limit of them
    // when a Limit is given.
    Integer InternalPrepareMasterAddressList(std::vector<Cardinal>& Addresses,
                                             Integer Limit = std::numeric_limits<Integer>::max());
    // The record slots of the table's file in file order (freed slots among
    // them), and the number of records its current index holds; false when
    // the current index does not list every record (a range is on).
    bool ListRecordSlots(std::vector<Cardinal>& Slots, Integer& IndexCount);
    // The record addresses in the order of the current index.
    void LoadCompleteListOfRecords(TList* List);
    // Enters the non-null values of the hash's field (Hash->SourceFieldName)
    // with their record addresses: with a filter and a List, the filter's
    // records (their addresses into List; with Flag nothing is entered);
    // otherwise from an index keyed on the field, else from every record.
    void LoadHashListOfRecords(TVekBaseHash* Hash, TList* List, bool Flag);
    void InternalSetIndexName(const std::string& Name);

    // ----------------------------------------------------------------- writing
    void AddRecord(bool AssignAutoInc);
    void UpdateRecord();
    Integer DeleteRecord(const Byte* RecBuf);
    void DataSetEmptyTable();
    void InternalEmptyTable();
    bool InternalCheckRecordFlags(const Byte* RecA, const Byte* RecB, bool CheckModification,
                                  bool CheckIdentity) const;
    bool InternalCheckRecordValid(const Byte* RecBuf) const;
    // Remembers the current record as the original of an edit: its image and
    // its blob states stay as they are until the edit is posted or cancelled.
    void BeginEditCopy();
    void EndEditCopy();

    // ------------------------------------------------------------------- blobs
    void DataSetGetFieldStream(Integer FieldNo, bool& IsNull, TStream* Stream);
    void DataSetGetFieldStreamFromRecBuf(const Byte* RecBuf, Integer FieldNo, bool& IsNull, TStream* Stream);
    void DataSetSetFieldStream(Integer FieldNo, bool IsNull, TStream* Stream);
    void DataSetSetFieldStreamFromRecBuf(const Byte* RecBuf, Integer FieldNo, bool IsNull, TStream* Stream);
    bool GetBlobCacheData(const Byte* RecBuf, Integer FieldNo, TStream* Stream);
    void SetBlobCacheData(const Byte* RecBuf, Integer FieldNo, TStream* Stream);
    void ClearBlobCache();
    bool BlobCacheEnabled = false;
    // Blob chains read from the file (the cache's effect is measurable).
    Integer BlobChainReads() const { return FBlobChainReads; }
    // Entries the blob cache holds (never more than BlobCacheMaxEntries).
    Integer BlobCacheCount() const { return FBlobCache->Count(); }
    // The blob cache's bounds: a full scan does not keep every blob read.
    // Adding past either bound empties the cache first; a blob larger than
    // BlobCacheMaxBytes is not cached.
    static constexpr Integer BlobCacheMaxEntries = 512;
    static constexpr Int64 BlobCacheMaxBytes = 8 * 1024 * 1024;
    TBlob* FindFieldBlob(Integer FieldNo) const;

    // ----------------------------------------- restructure, reindex, rebuild
    // Restructures the (closed) table to the request's layout; the ".vkx"
    // backup of the database file is made first.
    Integer InternalRestructureTable(const TInternalRestructureRecord& Request);
    // Rebuilds every index of the open table from its records.
    void InternalReIndex(bool IgnoreKeyViolations);
    void RebuildIndexes(bool IgnoreKeyViolations);
    // Releases one of two trees of Index and leaves the item on the other:
    // with KeepCurrent the tree Other, else the item's current tree (Other
    // then becomes current).
    void SwapTree(TIndexItem* Index, const std::pair<Cardinal, Integer>& Other, bool KeepCurrent);
    void InitializeRebuild();
    void FinalizeRebuild();
    // Refills the (closed) table from a ".vkx" copy of the database file.
    void InternalRebuildTable();
    // Adds every record of this open dataset to the open dataset Dest, each
    // field of Dest taking the value of its source field; the number added.
    Integer CopyRawTableData(TVekDataSet* Dest);
    Integer InternalCopyRawTableData(TVekDataSet* Dest);
    // Records the last CopyRawTableData could not add.
    Integer RawCopyFailures = 0;
    // Set on a Dest of CopyRawTableData: the records get new auto-increment
    // values, numbered in the order the records were added to the source.
    bool CopyAssignsAutoInc = false;
    // Puts record addresses in the order of their record IDs (the order the
    // records were added).
    void SortByRecordID(std::vector<Cardinal>& Addresses);

    TFilterMgr* FilterMgr() const { return FFilterMgr.get(); }
    TRecordFilterProc RecordFilter;
    // Whether a record event (OnFilterRecord) decides with the filter.
    bool HasRecordEvent() const;
    // Moves to the first (fspFromStart), last (fspFromEnd) or, from the
    // current record, the Count-th next (previous for a negative Count)
    // record of the open filter; false when there is none.
    bool InternalMoveToFilterRecord(TFilterSeekPosition Position, Integer Count);
    // Opens the filter on a selection of the query side (combined by AND
    // with the table's own filter); false with the filter manager's Errors.
    bool AssignFilterExpr(TVekFilterExprDriver* Driver);
    // Whether the record at Address passes the open filter.
    bool FilterAccepts(Cardinal Address);
    // The number of RecBuf's record among the filter's records (0: none).
    Integer FilterRecNo(const Byte* RecBuf);
    // Work under the table's read lock, taken for it unless one is held.
    void UnderReadLock(const std::function<void()>& Work);
    TIndexManager* IndexManager() const { return FIndexMgr.get(); }
    TSearchModifier* SearchModifier() const { return FSearchModifier.get(); }

protected:
    // The host framework's operations that a table component must provide.
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalClose() override;
    void InternalHandleException() override;
    void InternalInitFieldDefs() override;
    void InternalOpen() override;
    bool IsCursorOpen() override;
    bool GetNextRecord() override;
    bool GetPriorRecord() override;
    int GetNextRecords() override;
    int GetPriorRecords() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // Writes the engine log line (for diagnostics that are not errors).
    void LogLine(const std::string& Caller, const std::string& Text) const;
    // The table's privileges (all bits until users and groups come).
    Integer TablePrivileges() const;
    // The privileges of one field: its own once users and groups have set
    // them, else the table's.
    Integer FieldPrivileges(const TInternalFieldItem* Item) const;
    void InternalOpenDataSet();

    std::unique_ptr<TTableDef> FTableDef;
    bool FOpen = false;
    bool FCursorUnknown = false;

private:
    // Locks of one operation.
    bool LockHeldByTransaction(Integer LockType);
    bool LockHeldByConnection() const;
    bool InternalSetReadLock();  // true when taken here
    bool InternalSetWriteLock(); // true when taken here
    void InternalReleaseLock();
    void ReleaseIfTaken(bool Taken) { if (Taken) InternalReleaseLock(); }
    void TableHeaderChanged();

    TInternalFieldItem* Field(Integer FieldNo) const;
    // Whether a record of this table can lie at Address (a bookmark or a
    // stored address from the caller is checked before it is read).
    bool RecordAddressValid(Cardinal Address);
    TInternalFieldItem* CheckedNonBlobField(Integer FieldNo, const char* Context) const;
    // Comparison flags for a search from a record buffer's null flags.
    TKeyComparisonFlags KeyFlagsFor(TIndexItem* Index, const Byte* RecBuf) const;
    TIndexItem* RequireIndex(const std::string& Name, const char* Context) const;
    TIndexItem* CurrentIndex() const;
    // Searches Index for the key of RecBuf; 0 on success.
    Integer SearchIndex(TIndexItem* Index, const Byte* RecBuf, TIndexSearchType SearchType,
                        TSearchModifier* Modifier, bool Full);
    // Reads the record at the index cursor into the current buffer.
    void ReadCurrentFromIndex(TIndexItem* Index);
    void ReadIntoCurrent(Cardinal Address, Integer RecNo);
    bool InternalFind(TIndexSearchType SearchType, const std::string& IndexName, TSearchModifier* Modifier);
    bool StepCurrentIndex(bool Forwards);
    // Steps the unfiltered cursor to the next (previous) record that the
    // record event accepts (the host's FindFirst, FindNext ...).
    bool MoveFiltered(Integer Direction, bool FromEnd);
    // The nearest filter record after (before) the current buffer's record.
    Cardinal NearestFilterRecord(bool Forwards);
    bool KeyInRange(const Byte* RecBuf);
    Integer CompareToRangeEnd(const Byte* RecBuf, TRangeMode Mode);
    void BuildRangeKeys();
    void ForgetRangeEnds();
    void InvalidateReadAhead();
    void FillReadAheadBuffer(Integer Count, TReadAheadDirection Direction);
    bool GetFromReadAheadBuffer(TReadAheadDirection Direction);
    Integer InternalCompareRecords(const Byte* RecA, const Byte* RecB, TSearchFields* Fields,
                                   bool CaseInsensitive, bool Partial, Integer& FieldIndex) const;
    void WriteBlobsToInterface(bool Deleting, std::vector<std::pair<Cardinal, Integer>>* NewChains,
                               std::vector<std::pair<Cardinal, Integer>>* OldChains);
    void DeleteChains(const std::vector<std::pair<Cardinal, Integer>>& Chains);
    // The current buffer holds the record just written at Address.
    void RecordWritten(Cardinal Address);
    Cardinal OwnerTag() const { return FOwnerTag; }
    void CloseStorage();

    TVekDataBase* FDataBase = nullptr;
    std::string FTableName;
    std::string FTableOwner;
    bool FReadOnly = false;
    bool FMemory = false;
    TEncryptionLevel FEncryptionLevel = encNone;
    TSortOrder FSortOrder = soANSI;
    Integer FBlobBlockSize = DefaultTableBlobSize;
    bool FBlobCompression = false;
    Integer FReadAheadBufferSize = 10;
    bool FUseReadAheadBuffer = false;
    bool FInQuery = false;
    std::string FVersion = VekTableDefVersion;

    std::unique_ptr<TRecordMgr> FRecordMgr;
    std::unique_ptr<TIndexManager> FIndexMgr;
    std::unique_ptr<TBlobInterface> FBlobInterface;
    std::unique_ptr<TReadAheadBuffer> FReadAhead;
    std::unique_ptr<TFilterMgr> FFilterMgr;
    std::unique_ptr<TSearchModifier> FSearchModifier;
    std::unique_ptr<TBlobMgr> FBlobCache;
    Int64 FBlobCacheBytes = 0; // data held by the blob cache's entries
    bool FBlobsOpen = false;
    bool FTableConnected = false;

    Integer FRecordSize = 0;
    Cardinal FOwnerTag = 0;
    std::vector<Byte> FCurBuf;
    std::vector<Byte> FScratchBuf;
    std::vector<Byte> FRangeBuf[2];
    std::vector<Byte> FRangeKey[2];
    TKeyComparisonFlags FRangeFlags[2];
    TRecordBufferState FRecState = rbsNone;

    // The original of an edit (image and engine bytes) and its blob states.
    std::vector<Byte> FEditOriginal;
    bool FEditCopyValid = false;

    // Locks of this dataset.
    bool FLocked = false;
    bool FWriteLocked = false;
    bool FTableLockHeld = false; // LockTable / ReadLockTable by the caller
    // The read lock stands on one that another dataset of the connection
    // holds: giving it up leaves that lock alone.
    bool FLockBorrowed = false;
    Cardinal FLastModFlag = 0;
    bool FHeaderChanged = false;

    // The current index's cursor stands on this record (0: not known).
    Cardinal FCursorAddr = 0;

    // Read-ahead.
    TReadAheadMode FReadAheadMode = raReadAheadInactive;
    Integer FReadAheadNesting = 0;
    TReadAheadDirection FReadAheadDirection = rdNone;
    bool FReadAheadOn = false;

    // Ranges.
    bool FRangeOn = false;
    bool FRangeNotEmpty = false;
    bool FRangeLocated[2] = {false, false};
    Integer FRangeRecNo[2] = {0, 0};
    Cardinal FRangeAddr[2] = {0, 0};

    Integer FBlobChainReads = 0;

    friend class TVekBaseTable;
    friend class TFilterMgr;
};

// ------------------------------------------------------------- TVekBaseTable

class TVekBaseTable : public TVekDataSet {
public:
    explicit TVekBaseTable(TComponent* AOwner);
    ~TVekBaseTable() override;

    TIndexDefs* IndexDefs() const { return FIndexDefs; }
    void SetIndexDefs(TIndexDefs* Value);
    TIndexDef* FindIndexDefByName(const std::string& Name) const;
    void UpdateIndexDefs() override;

    bool BookmarkValid(const TBookmark& Bookmark) override;
    int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) override;
    bool GetFieldData(TField* Field, void* Buffer) override;
    bool GetCurrentRecord(TRecordBuffer Buffer) override;
    TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
    bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
    Variant Lookup(const std::string& KeyFields, const Variant& KeyValues,
                   const std::string& ResultFields) override;
    bool FindRecord(bool Restart, bool GoForward) override;
    void SetRecNo(int Value) override;

    void SetFiltered(bool Value) override;
    void SetFilterText(const std::string& Value) override;
    void SetFilterOptions(TFilterOptions Value) override;
    void SetOnFilterRecord(const TFilterRecordEvent& Value) override;

    // Shows the data again from the record nearest to the current one, which
    // may no longer exist (a rolled-back insert).
    bool RefreshNearest() override;
    // Writes a pending edit and the database's buffers to the file.
    void Flush();
    void CreateTable();
    void EmptyTable();
    bool Locked() const;
    void SetLocked(bool Value);
    // Post without taking the table's write lock.
    void SilentPost();

    // The buffer that the current state reads and writes.
    TRecordBuffer GetActiveRecBuf();
    TKeyMode KeyMode() const { return FKeyMode; }
    void SetKeyMode(TKeyMode Value) { FKeyMode = Value; }
    TRangeMode RangeMode() const { return FRangeMode; }
    void SetRangeMode(TRangeMode Value) { FRangeMode = Value; }
    const TRecordBufferLayout& Layout() const { return FLayout; }

protected:
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    int GetRecordSize() override { return FRecordSize; }
    TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(TRecordBuffer& Buffer) override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() override { return FCursorOpen; }
    void InternalInitFieldDefs() override;
    void InternalHandleException() override;
    void InternalFirst() override { FPendingMove = 2; }
    void InternalLast() override { FPendingMove = 3; }
    void InternalInitRecord(TRecordBuffer Buffer) override;
    void InternalGotoBookmark(const void* Bookmark) override;
    void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
    void InternalEdit() override;
    void InternalInsert() override;
    void InternalPost() override;
    void InternalCancel() override;
    void InternalDelete() override;
    void InternalRefresh() override;
    void SetFieldData(TField* Field, const void* Buffer) override;
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
    void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
    void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
    void ClearCalcFields(TRecordBuffer Buffer) override;
    int GetRecordCount() override;
    int GetRecNo() override;
    bool GetCanModify() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    virtual void InternalCheckMasterRange() {}
    // Puts the key values into the index's fields of the active key buffer.
    void SetIndexFields(const std::vector<Variant>& Values, const std::string& IndexName);
    void InternalSetRange(const std::vector<Variant>& StartValues, const std::vector<Variant>& EndValues);
    bool LocateRecord(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                      bool SyncCursor, std::vector<Byte>* Found);
    virtual void InternalOpenForDefs();
    virtual void InternalCloseForDefs();
    bool RecordProcFilter(const Byte* RecBuf);
    TRecordBuffer KeyBuffer() const { return FKeyBuffer; }
    bool FirstFetch() const { return FFirstFetch; }
    void SetPendingMove(int Value) { FPendingMove = Value; }

private:
    // The active buffer (already in the engine's buffer) added or updated.
    void PostToEngine();
    // Work under the table's write lock, taken for it unless one is held.
    void UnderTableWriteLock(const std::function<void()>& Work);
    // Maps host field numbers (1-based) to engine field numbers.
    Integer EngineFieldNo(const TField* Field) const;
    void InternalSetFilter();
    // Whether the current record passes the open filter, else moves to the
    // nearest that does; false when none does.
    bool StayInsideFilter();
    // InternalSetFilter; when it fails, Restore puts the previous settings
    // back and their filter is opened again before the failure is raised.
    void ApplyFilterOrRestore(const std::function<void()>& Restore);

    TIndexDefs* FIndexDefs;
    TRecordBufferLayout FLayout;
    bool FCursorOpen = false;
    bool FOpened = false;
    int FPendingMove = 0;
    bool FFirstFetch = false;
    TKeyMode FKeyMode = kmNone;
    TRangeMode FRangeMode = rmRangeStart;
    TRecordBuffer FFilterBuffer = nullptr;
    TRecordBuffer FKeyBuffer = nullptr;
    TRecordBuffer FWorkBuffer = nullptr;
    std::vector<Integer> FFieldMap; // host FieldNo - 1 -> engine field number
    bool FForDefsOpen = false;
    Cardinal FRecordLockAddr = 0;

    friend class TBlobStream;
};

// ----------------------------------------------------------------- TVekTable

class TVekTable : public TVekBaseTable {
public:
    explicit TVekTable(TComponent* AOwner);
    ~TVekTable() override;

    std::string IndexName() const;
    void SetIndexName(const std::string& Value);
    std::string IndexFieldNames();
    void SetIndexFieldNames(const std::string& Value);
    TField* GetIndexField(int Index);
    int GetIndexCount();
    int IndexFieldCount();
    bool StoreDefs = false;

    // Keys.
    void SetKey();
    void EditKey();
    void CancelKey();
    void CheckSetKeyMode();
    int KeyFieldCount() const { return FKeyFieldCount; }
    void SetKeyFieldCount(int Value);
    bool GotoKey() { return ApplyKey(true, true); }
    void GotoNearest() { ApplyKey(false, true); }
    bool FindKey(const std::vector<Variant>& Values);
    void FindNearest(const std::vector<Variant>& Values);

    // Ranges.
    void SetRangeStart();
    void SetRangeEnd();
    void EditRangeStart();
    void EditRangeEnd();
    void ApplyRange();
    void CancelRange();
    void SetRange(const std::vector<Variant>& StartValues, const std::vector<Variant>& EndValues);

    // Master-detail.
    TDataSource* MasterSource() { return FMasterLink->DataSource(); }
    void SetMasterSource(TDataSource* Value);
    std::string MasterFields() const { return FMasterLink->FieldNames(); }
    void SetMasterFields(const std::string& Value);
    void CheckMasterRange();

    // Structure.
    void DeleteTable();
    void AddIndex(const std::string& Name, const std::string& Fields, TIndexOptions Options,
                  const std::string& DescFields = "", const std::string& CaseInsFields = "");
    void DeleteIndex(const std::string& Name);
    Cardinal NextAutoIncValue();
    void ImportData(TDataSet* Source);
    // Restructure, rebuild and reindex.
    Integer RestructureTable(const TInternalRestructureRecord& Request);
    void RebuildTable();
    void ReIndex(bool IgnoreKeyViolations);
    TRestructureFieldDefs* GetRestructureFieldDefs();
    TRestructureIndexDefs* GetRestructureIndexDefs();
    std::unique_ptr<TRestructureFieldDefs> FRestructureFieldDefs;
    std::unique_ptr<TRestructureIndexDefs> FRestructureIndexDefs;

protected:
    void InternalOpen() override;
    void DoOnNewRecord() override;
    TDataSource* GetDataSource() override { return FMasterLink->DataSource(); }
    void InternalCheckMasterRange() override;
    void Loaded() override;

private:
    bool ApplyKey(bool Exact, bool FromSetKey);
    // The key buffer filled from Values on the current index; the key field
    // count becomes the number of values used.
    void FillKeyBuffer(const std::vector<Variant>& Values);
    void MasterChanged();
    void MasterDisabled();
    void SetDetailLinkRange(const std::vector<TField*>& MasterFields);
    // Rebuilds the table with its current definition plus or minus one index.
    void RebuildIndexes(TInternalIndexDefs* NewDefs, TKeyFields* NewKeys, const std::string& Added,
                        const std::string& Dropped);
    void ReopenAfterFailure(bool WasActive, const TBookmark& Mark);

    TMasterDataLink* FMasterLink;
    std::string FIndexFieldNames;
    std::string FIndexName;
    int FKeyFieldCount = 0;
};

// ----------------------------------------------------------------- TBlobStream

class TBlobStream : public TMemoryStream {
public:
    TBlobStream(TBlobField* Field, TBlobStreamMode Mode);
    ~TBlobStream() override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;

private:
    TBlobField* FField;
    TVekBaseTable* FDataSet;
    TBlobStreamMode FMode;
    bool FModified = false;
    TRecordBuffer FBuffer = nullptr;
    bool FOpened = false;
};

// Runs Body (which fills the table's current edit) and posts the row; on a
// failure a pending edit is cancelled and the failure raised again.
template <class F>
void PostOrCancel(TVekTable* Table, F&& Body)
{
    try {
        Body();
        Table->Post();
    } catch (...) {
        if (Table->State() == dsEdit || Table->State() == dsInsert)
            Table->Cancel();
        throw;
    }
}

} // namespace orvex
