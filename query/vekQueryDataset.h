#pragma once
// The result of a statement: the result table and its columns, the
// accumulators of aggregates, and the target operations of INSERT, UPDATE
// and DELETE.
//
//   - TResultSetFields / TResultSetField: the result columns, in select-list
//     order; each reads a field of its table instance's provider or
//     evaluates its expression over the root provider;
//   - TVekQueryDataset: the result table. A SELECT fills it with the rows of
//     the provider manager (plain rows, DISTINCT through "idxdistinct",
//     groups through "idxgroupby"); ORDER BY presents it by "idxorderby";
//     HAVING deletes groups afterwards. Opened on a base table instead, it
//     is the target through which INSERT, UPDATE and DELETE write;
//   - the accumulators of a grouped fill: one compact state per aggregate
//     per group in memory up to half the result memory budget, past it (for
//     a result in the temporary database) in a table there, one record per
//     group (query/vekQueryDatasetAggregates.cpp);
//   - TFuncResultList / TFuncResultHolder / TFuncResultItem: one accumulator
//     per aggregate per group row, found by hash, for HAVING's aggregates
//     that are no result column; the values of a DISTINCT aggregate are
//     kept in a set of its own.
//
// The table is created by CreateResultStore, the one place that decides
// where result rows live.

#include "dataset/vekDataSet.h"
#include "query/vekJoinDataProviderUnit.h"
#include "sql/vekExecParsers.h"
#include "sql/vekSelectParser.h"
#include "storage/vekIndexUnitSort.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orvex {

class TVekDataBase;
class TVekTable;
class TVekQueryDataset;
class TIndexItem;
class TBTree;

// Names of the result table's indexes and live hidden fields.
inline constexpr const char* ResultOrderByIndexName = "idxorderby";
inline constexpr const char* ResultGroupByIndexName = "idxgroupby";
inline constexpr const char* ResultDistinctIndexName = "idxdistinct";
inline constexpr const char* ResultRecAddrFieldName = "__RecAddr";
inline constexpr const char* ResultRecModFlagFieldName = "__RecModFlag";

// ============================================================= accumulators

// One aggregate (COUNT, AVG, SUM, MAX or MIN, optionally DISTINCT) of one
// group row.
class TFuncResultItem : public TCollectionItem {
public:
    explicit TFuncResultItem(TCollection* Collection);
    ~TFuncResultItem() override;

    // Which aggregate of the statement this is (the owner's key).
    Integer ColumnNo = -1;
    TVekSQLAggFunc AggFunc = vafUnknown;
    bool Distinct = false;
    std::string CustomQualifier;
    // The type of the values taken (the aggregate's argument).
    TFieldType DataType = ftUnknown;
    Integer DataSize = 0;
    // How MIN and MAX order strings (byte order when nil).
    TDBStringCompare StringCompare = nullptr;

    // Counts a non-null value (COUNT) or folds it into the running value;
    // for DISTINCT, keeps it when it was not taken before. Null is ignored.
    void SetNewValue(const Variant& Value);
    // The aggregate's value: COUNT an Integer; AVG a Float; SUM of integers
    // a 64-bit integer, else a Float; MIN and MAX in the argument's type.
    // Over no values numbers give 0, strings and dates give Null.
    Variant CalculateNumericFuncResult() const;
    // The number of values taken (distinct ones for DISTINCT).
    Int64 Count() const { return FCount; }

private:
    void Fold(const Variant& Value);

    Int64 FCount = 0;
    double FValue = 0;  // the running sum of AVG and SUM (exact for integers up to 2^53)
    Variant FExtreme;   // the running MIN or MAX, in the argument's type
    std::unique_ptr<std::unordered_set<std::string>> FSeen; // DISTINCT: the values taken (canonical form)
};

// The accumulators of one group row.
class TFuncResultHolder : public TCollection {
public:
    TFuncResultHolder();
    ~TFuncResultHolder() override;

    Cardinal RecordAddress = 0;
    std::string BaseName;

    TFuncResultItem* AddNewResultItem(const std::string& Qualifier, Integer ColumnNo, bool Distinct,
                                      TVekSQLAggFunc AggFunc, TFieldType DataType, Integer Size);
    // The accumulator of ColumnNo; nullptr when none.
    TFuncResultItem* FindFuncResultItem(Integer ColumnNo) const;
    TFuncResultItem* Item(int Index) const { return static_cast<TFuncResultItem*>(Items(Index)); }
    // The holder keeps no database of its own: DISTINCT values are kept in
    // memory by each accumulator. Always nullptr.
    TVekDataBase* GetHolderDatabase() const { return nullptr; }

private:
    std::unordered_map<Integer, TFuncResultItem*> FByColumn;
};

// The accumulators of every group row, by record address.
class TFuncResultList : public TObject {
public:
    TFuncResultList();
    ~TFuncResultList() override;

    std::string BaseName;

    TFuncResultItem* AddNewResultItem(const std::string& Qualifier, Cardinal RecordAddress, bool Distinct,
                                      TVekSQLAggFunc AggFunc, TFieldType DataType, Integer Size,
                                      Integer ColumnNo);
    // The holder of RecordAddress; nullptr when none.
    TFuncResultHolder* GetHolder(Cardinal RecordAddress) const;
    void SetNewValue(Cardinal RecordAddress, Integer ColumnNo, const Variant& Value);
    Variant GetFuncResult(Cardinal RecordAddress, Integer ColumnNo) const;
    // An internal assertion "FindFuncResultItem failed" when there is none.
    TFuncResultItem* FindFuncResultItem(Cardinal RecordAddress, Integer ColumnNo) const;
    int HolderCount() const { return static_cast<int>(FHolders.size()); }
    // The group rows that have accumulators (in no particular order).
    std::vector<Cardinal> RecordAddresses() const;
    void Clear();

private:
    std::unordered_map<Cardinal, std::unique_ptr<TFuncResultHolder>> FHolders;
};

// ============================================================ result columns

// One aggregate inside a result column: its node in the select item's
// expression, the accumulator number and the evaluator of its argument.
struct TResultAggregatePart {
    TVekExprNode* Node = nullptr;     // the aggregate node (not owned)
    TVekSQLAggFunc AggFunc = vafUnknown;
    bool Distinct = false;
    bool CountRows = false;           // COUNT(*): every row counts
    TFieldType ArgType = ftUnknown;   // the argument's type
    Integer ArgSize = 0;
    Integer AccumulatorNo = -1;
    std::unique_ptr<TVekExpr> ArgExpr; // the argument, qualified (owned)
    std::unique_ptr<TExprEvaluator> ArgEvaluator;
};

class TResultSetField : public TJoinFieldItem {
public:
    explicit TResultSetField(TCollection* Collection);
    ~TResultSetField() override;

    // The select item the column comes from (not owned); nullptr for the
    // columns of INSERT and UPDATE.
    TSelectFieldItem* SelectItem = nullptr;
    // A dataset the column may own (freed with it).
    std::unique_ptr<TVekTable> TempDataset;
    // The value an INSERT ... VALUES stores.
    Variant DataValue;
    // Whether the source field's bytes are stored as they are (its type is
    // the table field's): -1 until first asked.
    int RawCopyState = -1;

    // Whether the column is computed (its evaluator is prepared).
    bool IsComputed() const { return Evaluator() && Evaluator()->IsPrepared(); }
    bool IsAggregate() const { return SelectItem && SelectItem->HasAggregateFunction(); }
    // The aggregates of an aggregate column, in the order of its expression.
    std::vector<std::unique_ptr<TResultAggregatePart>>& AggregateParts() { return FParts; }
    // For an aggregate inside a larger expression: that expression, whose
    // aggregate nodes are constants set to the results (else nullptr).
    TExprEvaluator* FinalEvaluator() const { return FFinalEvaluator.get(); }

    // Prepares the column's evaluation over its data provider (the root):
    // a computed column's evaluator, or an aggregate column's parts. The
    // expressions are qualified copies of Item's.
    void PrepareColumnExpr(TSelectFieldItem* Item);

private:
    std::unique_ptr<TVekExpr> FExpr;
    TVekExprNode* FFinalRoot = nullptr;
    std::unique_ptr<TExprEvaluator> FFinalEvaluator;
    std::vector<std::unique_ptr<TResultAggregatePart>> FParts;
};

class TResultSetFields : public TJoinFields {
public:
    TResultSetFields();

    TResultSetField* Add() { return static_cast<TResultSetField*>(TInternalFields::Add()); }
    TResultSetField* Items(int Index) const { return static_cast<TResultSetField*>(TCollection::Items(Index)); }
    // The first column whose name equals Name (without case); else the first
    // with a select item whose source field name, name or trimmed custom
    // qualifier equals it; nullptr when none.
    TResultSetField* FindResultSetField(const std::string& Name) const;

    // The result column of Item, read from the provider of Item's table
    // instance (by correlation name first, so that each instance of a
    // self-joined table has its own) or computed over the root provider.
    // Its name is Item's, made unique with "_1", "_2", ... appended while
    // taken. When Defs is given a field definition is added for it.
    TResultSetField* AddSelectColumn(TSelectFieldItem* Item, TVekJoinDataProviderMgr* Mgr, TFieldDefs* Defs);
};

// The aggregate nodes of the tree under Node, left to right (Left, Right,
// then the arguments), not looking inside an aggregate.
void CollectAggregateNodes(TVekExprNode* Node, std::vector<TVekExprNode*>& Out, int Depth);
// Turns an aggregate node into a constant (Null until its Data is set),
// read in place by an evaluator prepared over its tree.
void MakeConstantNode(TVekExprNode* Node);

// Rows' value bytes (CurrentValueBytes) to a number, for grouping and
// DISTINCT: open addressing over one array of entries, keys of up to 16
// bytes held in the entry itself and longer ones in one arena, so that a
// lookup touches one entry.
class TGroupKeyHash {
public:
    // The group of Key; -1 when none.
    std::int64_t Find(const std::string& Key) const
    {
        if (FEntries.empty())
            return -1;
        const std::uint64_t hash = TJoinHash::HashOf(Key);
        for (std::size_t at = hash & FMask;; at = (at + 1) & FMask) {
            const TEntry& entry = FEntries[at];
            if (entry.Length == Empty)
                return -1;
            if (entry.Hash == hash && entry.Length == Key.size() && std::memcmp(KeyOf(entry), Key.data(), Key.size()) == 0)
                return entry.Group;
        }
    }

    // Key leads to Group (Key not yet in).
    void Add(const std::string& Key, std::uint32_t Group)
    {
        if ((FCount + 1) * 2 > FEntries.size())
            Grow();
        Place(TJoinHash::HashOf(Key), Key.data(), static_cast<std::uint32_t>(Key.size()), Group);
        ++FCount;
    }

    // The memory one more key of Size bytes takes (the entry at half load,
    // and the arena's bytes for a long key).
    static std::size_t EntryBytes(std::size_t Size) { return 2 * sizeof(TEntry) + (Size > InlineBytes ? Size : 0); }

private:
    static constexpr std::size_t InlineBytes = 16;
    static constexpr std::uint32_t Empty = 0xFFFFFFFFu;
    struct TEntry {
        std::uint64_t Hash = 0;
        std::uint32_t Group = 0;
        std::uint32_t Length = Empty;
        // The key's bytes, or the offset of its bytes in the arena.
        char Inline[InlineBytes] = {};
    };


    const char* KeyOf(const TEntry& Entry) const
    {
        if (Entry.Length <= InlineBytes)
            return Entry.Inline;
        std::uint64_t offset = 0;
        std::memcpy(&offset, Entry.Inline, sizeof offset);
        return FArena.data() + offset;
    }

    void Place(std::uint64_t Hash, const char* Key, std::uint32_t Length, std::uint32_t Group)
    {
        std::size_t at = Hash & FMask;
        while (FEntries[at].Length != Empty)
            at = (at + 1) & FMask;
        TEntry& entry = FEntries[at];
        entry.Hash = Hash;
        entry.Group = Group;
        entry.Length = Length;
        if (Length <= InlineBytes) {
            std::memcpy(entry.Inline, Key, Length);
        } else {
            const std::uint64_t offset = FArena.size();
            FArena.append(Key, Length);
            std::memcpy(entry.Inline, &offset, sizeof offset);
        }
    }

    void Grow()
    {
        std::vector<TEntry> old = std::move(FEntries);
        FEntries.assign(old.empty() ? 64 : old.size() * 2, TEntry{});
        FMask = FEntries.size() - 1;
        for (const TEntry& entry : old) {
            if (entry.Length == Empty)
                continue;
            std::size_t at = entry.Hash & FMask;
            while (FEntries[at].Length != Empty)
                at = (at + 1) & FMask;
            FEntries[at] = entry;
        }
    }

    std::vector<TEntry> FEntries;
    std::size_t FMask = 0;
    std::size_t FCount = 0;
    std::string FArena;
};

// ================================================================= the table

// The "idxorderby" tree of a result filled in one go. While the rows are
// written the index stays out of the table's writes and its keys are
// gathered here instead, in runs of up to a quarter of the connection's
// result memory budget, each sorted when full. A result of one run is
// loaded from it into the empty tree page by page. A result in the
// temporary database with more runs writes each full run to a spill file
// and finally merges the runs into the empty tree, page by page again: the
// tree is written once, in key order, however large it is. A result in
// memory inserts its later runs in key order. A build that is not finished
// (a failed fill) gives the index back to the table as it was.
//
// A plain fill of a result in the temporary database (no search of the
// table while it fills, no blob columns) hands its rows to AddRow instead
// of writing them: they are sorted with their keys in the same runs and
// written in key order when the build finishes, so that reading the result
// in its order reads its pages one after another.
class TOrderIndexBuild {
public:
    // Takes Table's order index out of its writes; does nothing when the
    // table has none.
    explicit TOrderIndexBuild(TVekQueryDataset* Table);
    ~TOrderIndexBuild();
    TOrderIndexBuild(const TOrderIndexBuild&) = delete;
    TOrderIndexBuild& operator=(const TOrderIndexBuild&) = delete;

    bool Active() const { return FIndex != nullptr; }
    // Whether AddRow may take the rows of the table (see above), when the
    // fill never looks for a row in the table.
    bool CanHoldRows() const;
    // The key of the table's current record (written at Address).
    void Add(Cardinal Address);
    // The table's current record, not yet written: the build writes it.
    void AddRow();
    // Writes the rows held, inserts the keys gathered and gives the index
    // back to the table.
    void Finish();

    struct TRun {
        std::int64_t Offset = 0;
        std::size_t Count = 0;
    };

private:
    void Detach();
    void Attach();
    // Fill changes the tree, under the table's write lock with the index
    // attached (which writes its root and depth to the header).
    void ChangeTree(const std::function<void(TBTree*)>& Fill);
    // Sorts the gathered keys and inserts them.
    void InsertRun();
    // Sorts the gathered entries (Entries, Size bytes each, the key first)
    // and appends them to the spill file as one more of Runs.
    void WriteRun(std::vector<Byte>& Entries, std::size_t Size, std::vector<TRun>& Runs);
    // Merges the runs of the spill file and the keys gathered into the tree.
    void MergeRuns();
    // Writes the rows held, in key order, each key gathered as it is written.
    void WriteRows();
    std::size_t RunEntries(std::size_t Size) const;

    TVekQueryDataset* FTable;
    TIndexItem* FIndex = nullptr;
    int FPosition = -1;
    std::size_t FKeySize = 0;
    std::size_t FRunLimit = 0;
    std::vector<Byte> FKeys;
    // Where full runs go (empty: they are inserted), the file once made,
    // and its runs of keys.
    std::string FRunFolder;
    std::unique_ptr<TSpillFile> FRunFile;
    std::vector<TRun> FRuns;
    // The rows held: each its key and its record image; the runs of them
    // in the spill file.
    std::size_t FImageSize = 0;
    std::vector<Byte> FRows;
    std::vector<TRun> FRowRuns;
};

// Creates the table that holds a statement's result rows: the one place
// that decides where they live (today an in-memory table of the statement's
// database). Replaceable as a whole.
class TResultStoreFactory {
public:
    virtual ~TResultStoreFactory() = default;
    // Makes Table ready to be created as the result table of its database:
    // a memory table of it while the result is expected to fit the
    // connection's ResultMemoryBudget, else a
    // table of the connection's temporary database
    // (query/vekQueryDatasetStore.cpp). Table's
    // DataBase() may change: drop the table through Table itself.
    virtual void PrepareResultStore(TVekQueryDataset* Table);
    // The bytes Table's result is expected to take: one row per row of the
    // statement's tables, each with a key per index.
    static Int64 EstimatedResultBytes(TVekQueryDataset* Table);
    // The factory in use (never nullptr); SetResultStoreFactory(nullptr)
    // restores the in-memory one.
    static TResultStoreFactory* Current();
    static void SetResultStoreFactory(TResultStoreFactory* Factory);
};

class TVekQueryDataset : public TVekBaseTable {
public:
    explicit TVekQueryDataset(TComponent* AOwner);
    ~TVekQueryDataset() override;

    TVekJoinDataProviderMgr* ProviderMgr() const { return FProviderMgr; }
    void SetProviderMgr(TVekJoinDataProviderMgr* Value) { FProviderMgr = Value; }
    Integer MaxRecords() const { return FMaxRecords; }
    void SetMaxRecords(Integer Value) { FMaxRecords = Value; }
    bool CreateLiveResult() const { return FCreateLiveResult; }
    void SetCreateLiveResult(bool Value) { FCreateLiveResult = Value; }
    Integer GetRowsAffected() const { return FRowsAffected; }
    // The groups of the last grouped fill that were grouped in a later pass
    // (their rows set aside past the result memory budget).
    Integer SpilledGroups() const { return FSpilledGroups; }
    // The count of a statement that writes through this dataset as target.
    void SetRowsAffected(Integer Value) { FRowsAffected = Value; }
    // The string comparison of the result: the table's once created, else
    // that of the statement's first table (its sort order, ANSI or ASCII).
    TDBStringCompare GetDBStringCompare() const;

    // ------------------------------------------------------ the result table
    // Makes the table ready: with Reuse an existing table is opened and
    // emptied, else created from the field and index definitions.
    void PrepareEmptyResultSet(bool ReuseDefinitions);
    void CreateResultSetTable();

    void PopulateResultSet(TResultSetFields* Fields, bool Distinct);
    void PopulateAggregateResultSet(TResultSetFields* Fields, bool Grouped);
    void PopulateSimpleCountResultSet();
    void ProcessHavingClause(TVekExprNode* HavingRoot);
    void PopulateResultSetAddrList(std::vector<Cardinal>& List);
    void PrepareResultSet();
    void SetReadOnlyResultFields(TResultSetFields* Fields);

    // The result column name for an ORDER BY key ("name", "t.name"); empty
    // when none matches.
    std::string GetResultSetFieldNameFromSortKey(TResultSetFields* Fields, const std::string& Key) const;

    // ---------------------------------------------------- target operations
    void InsertData(TResultSetFields* Fields);
    void InsertDataFromDataset(TResultSetFields* Fields, TVekBaseTable* Source, bool ResetCount, bool Distinct);
    void DeleteData(bool DeleteAll, std::vector<Cardinal>& List);
    // Assignments: each element names its target column; its row data is
    // the new value, read against the current record. Every right-hand side
    // is evaluated before any is stored; UpdateAll lists the records first.
    void UpdateData(bool UpdateAll, std::vector<Cardinal>& List, TVekUpdateRowConstructor* Assignments);
    void UpdateCurrentRecord(TVekUpdateRowConstructor* Assignments);

    // ---------------------------------------------------------- field access
    // FieldNo: the engine field number (0-based).
    using TVekBaseTable::GetFieldData;
    Variant GetFieldData(Integer FieldNo);
    void GetRawFieldData(Integer FieldNo, TDataHolder& Holder);
    void SetResultSetFieldFromVariant(Integer FieldNo, const Variant& Value);

    // The lone-COUNT(*) shortcut may be switched off (tests): for this
    // table, or for every table made afterwards.
    void SetSimpleCountEnabled(bool Value) { FSimpleCountEnabled = Value; }
    static void SetSimpleCountEnabledByDefault(bool Value);

private:
    // Stores the current provider row's value of Column into field FieldNo
    // of the current record buffer.
    void StoreColumnValue(TResultSetField* Column, Integer FieldNo);
    // A raw value (or a Variant) into field FieldNo; strings are cut to the
    // field's room, a value that does not convert is stored as NULL.
    void StoreRawValue(Integer FieldNo, TDataHolder& Holder);
    void StoreVariant(Integer FieldNo, const Variant& Value);
    // The engine field number of result column Column.
    Integer EngineFieldNo(Integer Column) const;
    // Key := the null flag and bytes of each of FieldNos in the current
    // record buffer. Equal keys are equal values; equal values may differ
    // in their bytes (0 and -0), so a key that is not found is no proof of
    // a new value. False when a field is a blob (not compared by bytes).
    bool CurrentValueBytes(const std::vector<Integer>& FieldNos, std::string& Key);
    bool HasIndexDef(const std::string& Name) const;
    TSortOrder SourceSortOrder() const;
    // Whether the lone-COUNT(*) shortcut answers: one COUNT(*) column over
    // one table with no condition.
    bool IsSimpleCount(TResultSetFields* Fields) const;
    // The values of HAVING's aggregates per group row (accumulator k is
    // Aggregates[k]); the nodes become constants.
    void AccumulateHavingAggregates(std::vector<TVekExprNode*>& Aggregates, TFuncResultList& Results);
    // Ends a fill: the result is presented by "idxorderby" when it has one.
    void PresentByOrderIndex();
    // Each column's SourceFieldNo := the engine number of the target field
    // of its name (-1 when none).
    void InternalSetResultSetFieldSources(TResultSetFields* Fields);
    void AddRecordAssigningAutoInc();
    // Widens the definitions of the target fields that are narrower than
    // the source's (strings, numbers); true when one changed.
    bool WidenForSource(TVekDataSet* Source, const std::vector<Integer>& SourceFields,
                        const std::vector<Integer>& TargetFields);
    // Creates the table again from its (changed) definitions, rows kept.
    void RebuildWithDefinitions();

    TVekJoinDataProviderMgr* FProviderMgr = nullptr;
    Integer FMaxRecords = 0;
    Integer FRowsAffected = 0;
    Integer FSpilledGroups = 0;
    bool FCreateLiveResult = false;
    bool FSimpleCountEnabled = true;
    // The table is a statement's result (not a base table written by DML).
    bool FIsResultTable = false;
    // The columns of the last result and the index that finds a source
    // row's group in it (empty: one group), for HAVING's aggregates.
    TResultSetFields* FAggFields = nullptr;
    std::string FHavingGroupIndex;
    TDataHolder FHolder;
    std::unique_ptr<TSearchModifier> FLimitedSearch;
};

} // namespace orvex
