#pragma once
// The rows of a query: bridge datasets over base tables, and the tree of join
// data providers that reads and joins them.
//
//   - TVekDatasetBridge: the dataset through which the SQL engine reads one
//     base table (cursor, raw field access, positioning by record address,
//     index ranges, the selection of its rows);
//   - TJoinFields / TJoinFieldItem: the columns of a provider, each naming the
//     provider and field that supply its value; TDataHolder: one raw value;
//   - TVekNonJoinDataProvider: a leaf over one bridge, with the table's own
//     selection; TVekStdJoinDataProvider: the join of an outer and an inner
//     child; TVekJoinDataProviderMgr: owns a statement's providers, holds the
//     root and the residual condition and answers the statement's rows;
//   - TJoinAnalyser / TJoinEvaluator: how a join provider joins its children:
//     a hash join on the equalities between the two sides, an indexed nested
//     loop (an index range on the searched table per driving row), or a
//     plain nested loop; inner, left, right, full, cross and union joins.
//
// Every condition (selections, join conditions, the residual condition) is
// evaluated with the SQL NULL rule: a comparison with NULL is unknown, and
// an unknown condition rejects the row. The join methods only narrow the
// candidates of a driving row; each candidate pair is then checked against
// the whole join condition, so that every method yields the same rows.

#include "dataset/vekDataSet.h"
#include "sql/vekExprEvaluator.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace orvex {

class TVekBaseJoinDataProvider;
class TVekNonJoinDataProvider;
class TVekStdJoinDataProvider;

enum TVekJoinType : std::uint8_t {
    jtNone, jtCrossJoin, jtUnionJoin, jtInnerJoin, jtLeftOuterJoin, jtRightOuterJoin, jtFullOuterJoin,
};
inline constexpr int TVekJoinTypeCount = jtFullOuterJoin + 1;
extern const char* const CVekJoinTypeNames[TVekJoinTypeCount];

// How a join provider finds the searched rows of a driving row. Auto lets
// the evaluator choose; the others force a method where it applies (a
// method that does not apply falls back to the plain nested loop).
enum class TJoinMethod : std::uint8_t { Auto, Hash, IndexedRange, NestedLoop };
const char* JoinMethodName(TJoinMethod Method);

// ============================================================ raw values

// One field value of the current row: by reference to the record buffer's
// bytes, or (blobs) copied into Stream.
class TDataHolder {
public:
    TDataHolder();
    ~TDataHolder();

    bool IsNull = true;
    Integer Length = 0;
    const Byte* Data = nullptr;
    bool UsesStream = false;
    // Created on first use; owned.
    TMemoryStream* Stream();
    // Holds field FieldNo of Set's current record: a blob as a stream read
    // from its start, any other field by reference to the record's bytes.
    void ReadField(TVekDataSet& Set, Integer FieldNo);

private:
    std::unique_ptr<TMemoryStream> FStream;
};

class TJoinStatistics {
public:
    bool Indexed = false;
};

// ============================================================== the bridge

// The dataset of one base table of a statement. It is opened as a dataset
// (so that ranges can be set through its key buffers) and read with the
// engine's own cursor operations.
class TVekDatasetBridge : public TVekBaseTable {
public:
    explicit TVekDatasetBridge(TComponent* AOwner);

    bool FirstBridgeRecord() { return DataSetFirst(); }
    bool NextBridgeRecord() { return DataSetNext(); }
    bool LastBridgeRecord() { return DataSetLast(); }

    // FieldNo: the engine field number (the field's FieldIndex).
    Variant GetFieldDataAsVariant(Integer FieldNo);
    // A blob is copied into the holder's stream (positioned at 0); any other
    // field is given by reference to the current record's bytes.
    void GetRawFieldData(Integer FieldNo, TDataHolder& Holder);

    // The current record's address; 0 when the bridge is closed.
    Cardinal GetRecAddr() const;
    Cardinal GetRecModFlag() const { return DataSetGetRecordModFlag(); }
    Integer GetTotalBridgeRecordCount() { return GetTotalRecordCount(); }
    void MoveToRecAddr(Cardinal Address) { DataSetSetToUnorderedRecord(Address); }
    void MoveToRecImage(Cardinal Address, const Byte* Image) { DataSetSetToRecordImage(Address, Image); }
    // Positions and raises the engine's "record changed" error when the
    // record's modification counter is not ModFlag.
    void MoveToRecAddrAndValidate(Cardinal Address, Cardinal ModFlag) { DataSetSetToFlags(Address, ModFlag); }

    // IndexName becomes the current index and its range Low .. High (values
    // of its first key field) is set; ClearBridgeRange drops it.
    void SetBridgeIndexRange(const std::string& IndexName, const Variant& Low, const Variant& High);
    void ClearBridgeRange();
    // The names of the indexes whose first key field is FieldName.
    std::vector<std::string> IndexesOnField(const std::string& FieldName);
};

// Closes and frees Table (when there is one) and deletes the disk table
// Name from DataBase while the connection is up: the end of a statement's
// work table in the temporary database.
void DropWorkTable(TVekDataBase* DataBase, std::unique_ptr<TVekDatasetBridge>& Table, const std::string& Name);

// ========================================================== join columns

class TJoinFieldItem : public TInternalFieldItem {
public:
    explicit TJoinFieldItem(TCollection* Collection);

    // The base fields, SourceFieldNo and DataProvider of another join field.
    void Assign(TPersistent* Source) override;

    // The field's number in its provider; -1 when none.
    Integer SourceFieldNo = -1;
    TVekBaseJoinDataProvider* DataProvider = nullptr;

    // Prepares the field's evaluator over its data provider for a computed
    // column (nil: cleared); comparisons with NULL answer unknown.
    void PrepareJoinExprEvaluator(TVekExprNode* ExprRoot);
    TExprEvaluator* Evaluator() const { return FEvaluator.get(); }

private:
    std::unique_ptr<TExprEvaluator> FEvaluator;
};

class TJoinFields : public TInternalFields {
public:
    TJoinFields();

    TJoinFieldItem* Add() { return static_cast<TJoinFieldItem*>(TInternalFields::Add()); }
    TJoinFieldItem* Items(int Index) const { return static_cast<TJoinFieldItem*>(TCollection::Items(Index)); }
    TJoinFieldItem* FindJoinField(const std::string& Name) const
    {
        return static_cast<TJoinFieldItem*>(TInternalFields::FindField(Name));
    }
    // Clears, then adds a copy of every item of Source.
    void Assign(TPersistent* Source) override;

protected:
    // For lists whose items derive from TJoinFieldItem.
    explicit TJoinFields(TCollectionItemClass ItemClass) : TInternalFields(std::move(ItemClass)) {}
};

// ============================================================== providers

class TVekBaseJoinDataProvider : public TVekExprDataProvider {
public:
    TVekBaseJoinDataProvider();
    ~TVekBaseJoinDataProvider() override;

    const std::string& ProviderName() const { return FProviderName; }
    virtual void SetProviderName(const std::string& Value) { FProviderName = Value; }
    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& Value) { FCorrelationName = Value; }
    TVekBaseJoinDataProvider* OuterProvider() const { return FOuter; }
    void SetOuterProvider(TVekBaseJoinDataProvider* Value) { FOuter = Value; }
    TVekBaseJoinDataProvider* InnerProvider() const { return FInner; }
    void SetInnerProvider(TVekBaseJoinDataProvider* Value) { FInner = Value; }
    TVekJoinType JoinType() const { return FJoinType; }
    void SetJoinType(TVekJoinType Value) { FJoinType = Value; }
    TJoinStatistics& Statistics() { return FStatistics; }
    bool IsOpen() const { return FOpen; }
    bool ForcedNull() const { return FForcedNull; }
    // Every value of this provider (and of the providers below it) reads as
    // NULL while forced.
    virtual void SetForcedNull(bool Value) { FForcedNull = Value; }
    // The provider's selection (owned copy); nullptr when none.
    TVekExpr* SelectExpr() const { return FSelectExpr.get(); }
    TVekExprNode* SelectRoot() const { return FSelectExpr ? FSelectExpr->FirstNode() : nullptr; }

    virtual void GetRawFieldData(Integer FieldNo, TDataHolder& Holder);
    virtual bool NextProviderRecord() { return false; }
    virtual bool FirstProviderRecord() { return false; }
    virtual bool LastProviderRecord() { return false; }
    virtual void OpenProvider() { FOpen = true; }
    virtual void SetSelectExpr(bool EnforceOrder, const std::string& OrderIndexName) {}
    // A copy of the expression becomes the provider's selection (nil clears).
    virtual void SetJoinSelectExprRoot(TVekExprNode* ExprRoot);
    virtual Integer GetRecordCount() { return -1; }
    // How the provider's selection is answered: the filter optimiser's
    // assessment for a table's selection, olNone when every row is evaluated.
    virtual TVekFilterOptimisationLevel SelectionOptLevel() const { return olNone; }
    // The identity of the current row; empty when the provider has none.
    virtual std::string CurrentRecordIDAsString() { return {}; }
    // The provider named Name (its name, else its correlation name; without
    // case) in this subtree: correlation names first, so that two instances
    // of one table are told apart.
    virtual TVekBaseJoinDataProvider* FindJoinProvider(const std::string& Name);
    TVekExprDataProvider* FindProvider(const std::string& Name) override;
    // The leaves of this subtree, outer side first.
    virtual void CollectLeaves(std::vector<TVekNonJoinDataProvider*>& Leaves) {}
    bool IsSingleTable() const { return FOuter == nullptr && FInner == nullptr; }

    // Writes the subtree (outer, own name, inner) with Indent doubled per level.
    void DebugDumpProviderNames(const std::string& Indent, TStrings* Lines);

protected:
    std::unique_ptr<TVekExpr> FSelectExpr;

private:
    std::string FProviderName;
    TVekBaseJoinDataProvider* FOuter = nullptr;
    TVekBaseJoinDataProvider* FInner = nullptr;
    TVekJoinType FJoinType = jtNone;
    TJoinStatistics FStatistics;
    std::string FCorrelationName;
    bool FOpen = false;
    bool FForcedNull = false;
};

// A leaf: one table read through its bridge, filtered by its selection.
class TVekNonJoinDataProvider : public TVekBaseJoinDataProvider {
public:
    TVekNonJoinDataProvider();
    ~TVekNonJoinDataProvider() override;

    TVekDatasetBridge* Bridge() const { return FBridge; }
    void SetBridge(TVekDatasetBridge* Value) { FBridge = Value; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }

    bool FirstProviderRecord() override;
    bool NextProviderRecord() override;
    bool LastProviderRecord() override;
    void OpenProvider() override;
    void SetSelectExpr(bool EnforceOrder, const std::string& OrderIndexName) override;
    void SetJoinSelectExprRoot(TVekExprNode* ExprRoot) override;
    Integer GetRecordCount() override;
    TVekFilterOptimisationLevel SelectionOptLevel() const override { return FSelectionOptLevel; }
    std::string CurrentRecordIDAsString() override;
    TVekBaseJoinDataProvider* FindJoinProvider(const std::string& Name) override;
    void CollectLeaves(std::vector<TVekNonJoinDataProvider*>& Leaves) override { Leaves.push_back(this); }

    TInternalFields* GetProviderFields() override;
    Variant GetDataAsVariant(Integer FieldNo) override;
    bool IsFieldNull(Integer FieldNo) override;
    void GetRawFieldData(Integer FieldNo, TDataHolder& Holder) override;
    TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;

    // Whether the bridge stands on a row (not at its end).
    bool HasRow() const { return FHasRow; }
    // Positions on the record at Address (a row of the hash join); true when
    // it passes the selection (or CheckSelection is false).
    bool MoveToRecordAddress(Cardinal Address, bool CheckSelection);
    // Positions on the record at Address from its image, kept by the hash
    // join while the statement's scan holds the table.
    void MoveToRecordImage(Cardinal Address, const Byte* Image)
    {
        FBridge->MoveToRecImage(Address, Image);
        FHasRow = true;
    }
    // The searched table of an indexed nested loop: IndexName's range is
    // Value .. Value until ClearSearchRange.
    void SetSearchRange(const std::string& IndexName, const Variant& Value);
    void ClearSearchRange();
    bool SearchRangeOn() const { return FSearchRangeOn; }

private:
    // Whether the current record passes the selection (the seam where the
    // table's filter engine answers the selection).
    bool RowPassesSelection();
    bool SkipToPassingRow(bool Found);
    void PrepareSelection();

    TVekDatasetBridge* FBridge = nullptr;
    std::string FTableName;
    TVekFilterOptimisationLevel FSelectionOptLevel = olNone;
    std::unique_ptr<TExprEvaluator> FSelection;
    bool FHasRow = false;
    bool FSearchRangeOn = false;
    std::string FOriginalIndexName;
};

class TJoinEvaluator;
class TJoinAnalyser;

class TVekStdJoinDataProvider : public TVekBaseJoinDataProvider {
public:
    TVekStdJoinDataProvider();
    ~TVekStdJoinDataProvider() override;

    // The join condition (a copy is kept); nil for a cross or union join.
    void SetJoinExprRoot(TVekExprNode* Root);
    TVekExpr* JoinExpr() const { return FJoinExpr.get(); }
    TVekExprNode* JoinRoot() const { return FJoinExpr ? FJoinExpr->FirstNode() : nullptr; }

    void SetSelectExpr(bool EnforceOrder, const std::string& OrderIndexName) override;
    void OpenProvider() override;
    bool FirstProviderRecord() override;
    bool NextProviderRecord() override;
    void SetForcedNull(bool Value) override;
    std::string CurrentRecordIDAsString() override;
    void CollectLeaves(std::vector<TVekNonJoinDataProvider*>& Leaves) override;

    TInternalFields* GetProviderFields() override { return &FFields; }
    Variant GetDataAsVariant(Integer FieldNo) override;
    void GetRawFieldData(Integer FieldNo, TDataHolder& Holder) override;
    TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;

    // The merged columns: every outer field, then every inner field (a name
    // already taken becomes inner name + "." + name).
    void PrepareInternalFields();
    TJoinFields* JoinFields() { return &FFields; }
    TJoinEvaluator* Evaluator() const { return FEvaluator.get(); }
    TJoinAnalyser* Analyser() const { return FAnalyser.get(); }
    void CheckProviders() const;

    // The method this join must use (tests and the plan's diagnostics).
    void SetForcedMethod(TJoinMethod Value) { FForcedMethod = Value; }
    TJoinMethod ForcedMethod() const { return FForcedMethod; }

private:
    std::unique_ptr<TVekExpr> FJoinExpr;
    std::unique_ptr<TJoinAnalyser> FAnalyser;
    std::unique_ptr<TJoinEvaluator> FEvaluator;
    TJoinFields FFields;
    TJoinMethod FForcedMethod = TJoinMethod::Auto;
};

// ====================================================== join evaluation

// One equality between a field of each side of a join.
struct TJoinKeyPair {
    TVekNonJoinDataProvider* OuterLeaf = nullptr;
    TInternalFieldItem* OuterField = nullptr;
    TVekNonJoinDataProvider* InnerLeaf = nullptr;
    TInternalFieldItem* InnerField = nullptr;
};

// A node of the analyser's mirror of the join condition: the equalities
// between the two sides found among the condition's AND terms.
class TJoinExprNode {
public:
    TVekExprNode* ExprNode = nullptr;
    TJoinKeyPair Pair;
};

// What the join condition offers: its AND terms that compare a field of
// the outer side with a field of the inner side for equality.
class TJoinAnalyser {
public:
    void Prepare(TVekStdJoinDataProvider* Owner, TVekBaseJoinDataProvider* Outer, TVekBaseJoinDataProvider* Inner,
                 TVekExprNode* JoinRoot, TVekJoinType JoinType);
    const std::vector<TJoinExprNode>& EqualityNodes() const { return FEqualities; }
    TVekJoinType JoinType() const { return FJoinType; }

private:
    void CollectEqualities(TVekExprNode* Node, int Depth);

    TVekStdJoinDataProvider* FOwner = nullptr;
    TVekBaseJoinDataProvider* FOuter = nullptr;
    TVekBaseJoinDataProvider* FInner = nullptr;
    std::vector<TJoinExprNode> FEqualities;
    TVekJoinType FJoinType = jtNone;
};

// The decisions of one join, written to the engine log.
class TJoinPlan {
public:
    std::string OuterName;
    std::string InnerName;
    bool Indexed = false;
    bool OuterRangeOn = false;
    bool InnerRangeOn = false;
    bool OuterExprExists = false;
    bool InnerExprExists = false;
    TVekFilterOptimisationLevel OuterExprOptLevel = olNone;
    TVekFilterOptimisationLevel InnerExprOptLevel = olNone;
    TJoinMethod Method = TJoinMethod::NestedLoop;
    // The name of the side whose rows were hashed (hash join).
    std::string HashedName;
    // A hash join whose hashed side would pass the connection's result
    // memory budget keeps its keys in the temporary database (TJoinKeyStore).
    bool HashSpilled = false;

    // The nine lines "Outer : " ... "Inner Expr opt level : ".
    void DisplayPlan(TStrings* Lines) const;
};

// The canonical key of a hash join: equal keys exactly when the SQL
// equality of the key values holds (integers of every size alike, an integer
// and a float by value, -0 and 0 alike, strings by their characters).
// Numbers of the integer types and Float compare as doubles (as the
// evaluator compares them); Largeint only with Largeint; strings with
// strings; other types are not hashed.
enum class TJoinKeyClass : std::uint8_t { None, Number, Largeint, String };
TJoinKeyClass JoinKeyClassOf(TFieldType DataType);

// A hash of canonical keys to record addresses (variable-length keys), built
// once (Add for every row, then Finish) and then searched. One open-
// addressing slot per distinct key holds the key itself when it is 8 bytes
// long (every number key) and the start of that key's addresses, which
// Finish lays out side by side: a lookup touches one slot and one run of
// addresses, however big the hash grows.
class TJoinHash {
public:
    void Reserve(std::size_t Count);
    void Add(const std::string& Key, Cardinal Address);
    // Lays the addresses out by key; Add is refused afterwards (until Clear).
    void Finish();
    // Appends the addresses of Key, in the order they were added (the hash
    // is finished first when it is not yet).
    void Lookup(const std::string& Key, std::vector<Cardinal>& Out);
    std::size_t Count() const { return FCount; }
    // The distinct keys added.
    std::size_t KeyCount() const { return FKeyCount; }
    void Clear();
    // FNV-1a with a final mix, so that the low bits pick slots well; the
    // spilled key store folds the same hash to 32 bits, and grouping's
    // value-bytes table uses it too.
    static std::uint64_t HashOf(const std::string& Key)
    {
        std::uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : Key) {
            h ^= c;
            h *= 1099511628211ULL;
        }
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h;
    }
    // About the bytes the hash takes per row when every key differs (the
    // key's own bytes aside).
    static constexpr std::size_t BytesPerRow = 68;

private:
    // Key: the key's 8 bytes (an inline key) or the offset of its length
    // and bytes in FKeys. Tag: the hash's upper half, which also picks the
    // home slot. Ref: 0 for an empty slot, else 1 + the key's number while
    // building and 1 + the start of its run in FAddresses once finished;
    // LongKey marks a key kept in FKeys.
    struct Slot {
        std::uint64_t Key;
        std::uint32_t Tag;
        std::uint32_t Ref;
    };
    static constexpr std::uint32_t LongKey = 0x80000000u;
    static constexpr std::uint32_t RefMask = 0x7FFFFFFFu;

    // The slot holding Key, else the empty slot where it belongs.
    std::size_t Probe(const std::string& Key, std::uint32_t Tag, std::uint64_t Inline) const;
    bool SlotHolds(const Slot& S, const std::string& Key, std::uint32_t Tag, std::uint64_t Inline) const;
    void Grow();

    std::vector<Slot> FSlots;
    std::string FKeys;
    // While building: each row's key number and address, and the rows per
    // key. Finished: per key its row count, then its addresses.
    std::vector<std::uint32_t> FRowKeys;
    std::vector<Cardinal> FRowAddresses;
    std::vector<std::uint32_t> FKeyRows;
    std::vector<Cardinal> FAddresses;
    std::size_t FCount = 0;
    std::size_t FKeyCount = 0;
    bool FFinished = false;
};

// The searched side of a hash join too big for memory: each row's key hash
// (32 bits) and record address in a table of the connection's temporary
// database, indexed on the hash. A lookup gives the addresses whose hash
// equals the key's; a hash shared by two keys only adds candidates, which
// the join condition rejects. The table is dropped with the store.
class TJoinKeyStore {
public:
    // A new empty table in Temporary (a connected temporary database).
    explicit TJoinKeyStore(TVekDataBase* Temporary);
    ~TJoinKeyStore();
    TJoinKeyStore(const TJoinKeyStore&) = delete;
    TJoinKeyStore& operator=(const TJoinKeyStore&) = delete;

    void Add(const std::string& Key, Cardinal Address);
    // Appends the addresses whose key hash is Key's, in the order added.
    void Lookup(const std::string& Key, std::vector<Cardinal>& Out);
    std::size_t Count() const { return FCount; }
    const std::string& TableName() const { return FTableName; }

private:
    void Drop();

    TVekDataBase* FDataBase;
    std::string FTableName;
    std::unique_ptr<TVekDatasetBridge> FTable;
    Integer FHashField = 0;
    Integer FAddressField = 1;
    std::size_t FCount = 0;
};

// The searched rows a full join matched in its first pass, by record
// address: a bitmap with one bit per Granularity address units. Record
// blocks of a file table never overlap and are at least the record size
// apart, so address / record size tells them apart; memory-table addresses
// are handles counted up one by one (Granularity 1). The bitmap is kept in
// chunks of 65,536 bits made when first touched: its memory follows the
// addresses actually matched, at most 512 MiB / Granularity.
class TJoinMatchedSet {
public:
    // Granularity: the distance between two record addresses of the table
    // (its record block size); 1 when not known.
    void Reset(Cardinal Granularity);
    void Insert(Cardinal Address);
    bool Contains(Cardinal Address) const;
    std::size_t Count() const { return FCount; }

private:
    Cardinal FGranularity = 1;
    std::vector<std::unique_ptr<std::uint64_t[]>> FChunks;
    std::size_t FCount = 0;
};

class TJoinEvaluator {
public:
    explicit TJoinEvaluator(TVekStdJoinDataProvider* Owner);
    ~TJoinEvaluator();

    // Chooses the method, writes the plan to the engine log and prepares.
    void AnalyseAndOpenJoin(TJoinAnalyser* Analyser);
    bool FirstRecord() { return Step(true); }
    bool NextRecord() { return Step(false); }
    const TJoinPlan& Plan() const { return FPlan; }
    TJoinMethod Method() const { return FMethod; }
    TVekBaseJoinDataProvider* DrivingProvider() const { return FDriving; }
    TVekBaseJoinDataProvider* SearchedProvider() const { return FSearched; }

private:
    // One equality oriented from the driving to the searched side.
    struct TKeyPart {
        TVekNonJoinDataProvider* DrivingLeaf = nullptr;
        TInternalFieldItem* DrivingField = nullptr;
        TVekNonJoinDataProvider* SearchedLeaf = nullptr;
        TInternalFieldItem* SearchedField = nullptr;
        TJoinKeyClass KeyClass = TJoinKeyClass::None;
    };

    bool Step(bool First);
    void ChooseMethod();
    bool HashApplies() const;
    int IndexedPart();
    // Whether a hash join is expected to cost less than the indexed loop.
    bool HashBeatsIndexedLoop();
    // The searched side's first/next row that satisfies the join condition
    // for the current driving row.
    bool FirstMatch();
    bool NextMatch();
    bool NextCandidate();
    bool PairMatches();
    // The canonical key of the driving (or searched) row; false when a key
    // value is NULL, which never matches.
    bool RowKey(bool Driving, std::string& Key);
    void BuildHash();
    // Whether the hash may keep the searched side's record images.
    bool ImagesFit();
    void ResetState();
    // The bytes an in-memory hash of the searched side would take.
    Int64 EstimatedHashBytes();
    // The searched side's own table (a single-table side), else nil.
    TVekNonJoinDataProvider* SearchedLeaf() const;

    TVekStdJoinDataProvider* FOwner;
    TJoinAnalyser* FAnalyser = nullptr;
    TVekBaseJoinDataProvider* FDriving = nullptr;
    TVekBaseJoinDataProvider* FSearched = nullptr;
    TJoinPlan FPlan;
    TJoinMethod FMethod = TJoinMethod::NestedLoop;
    TVekJoinType FJoinType = jtNone;
    std::vector<TKeyPart> FKeys;
    int FRangePart = -1;
    std::string FRangeIndex;

    TJoinHash FHash;
    std::unique_ptr<TJoinKeyStore> FKeyStore;
    // With record images kept, the hash holds row numbers: row N is the
    // record at FImageAddresses[N], its bytes at N * FImageSize in FImages.
    // Its matches are then taken from memory rather than read again from
    // the table at their own places.
    bool FKeepImages = false;
    std::size_t FImageSize = 0;
    std::vector<Cardinal> FImageAddresses;
    std::vector<Byte> FImages;
    bool FSpillHash = false;
    bool FHashBuilt = false;
    std::vector<Cardinal> FCandidates;
    std::size_t FCandidatePos = 0;
    TDataHolder FHolder;

    std::unique_ptr<TExprEvaluator> FCondition;
    int FPass = 1;
    bool FDrivingValid = false;
    bool FRowStarted = false;
    bool FMatchedThisRow = false;
    bool FDeliveredNullRow = false;
    bool FPassTwoStarted = false;
    // The searched rows matched in pass 1 of a full join: by address when
    // the searched side is one table, else by the row's identity text.
    TJoinMatchedSet FMatchedAddresses;
    std::unordered_set<std::string> FMatched;
};

// ================================================================ manager

class TVekDataBase;

class TVekJoinDataProviderMgr : public TObject {
public:
    TVekJoinDataProviderMgr();
    ~TVekJoinDataProviderMgr() override;

    TVekStdJoinDataProvider* GetStdJoinProvider();
    TVekNonJoinDataProvider* GetNonJoinProvider(const std::string& TableName, const std::string& CorrelationName,
                                                bool Memory);
    void SetRootProvider(TVekBaseJoinDataProvider* Value) { FRoot = Value; }
    TVekBaseJoinDataProvider* RootProvider() const { return FRoot; }
    void SetDatabase(TVekDataBase* Value) { FDatabase = Value; }
    TVekDataBase* Database() const { return FDatabase; }
    void SetDBStringCompare(TDBStringCompare Value);
    // Frees every provider and bridge; with KeepTablesOpen the open bridges
    // wait, open, for the next plan of the same tables instead.
    void Clear();
    // A statement planned again and again (a correlated subquery, once per
    // row of its container) keeps its tables open between its plans: a
    // later plan takes an open bridge of the same table rather than opening
    // the table afresh. The waiting bridges close with the manager or when
    // this is switched off.
    void SetKeepTablesOpen(bool Value);
    bool KeepTablesOpen() const { return FKeepTablesOpen; }
    int GetJoinCount() const { return static_cast<int>(FStdProviders.size()); }

    void OpenProviders();
    // A copy of ExprRoot, evaluated over the root for every row; rows for
    // which it is not true are skipped.
    void PrepareJoinExprEvaluator(TVekExprNode* ExprRoot);
    TVekExprNode* ResidualRoot() const { return FResidualExpr ? FResidualExpr->FirstNode() : nullptr; }
    bool FirstProviderRecord();
    bool NextProviderRecord();
    void DebugDumpProviderStatus(TStrings* Lines);

    // A scan of the statement's rows (TVekProviderScan) holds the read lock
    // of every file table the statement reads from its first row to its
    // end: the lock is taken, a dead writer's journal looked for and the
    // table header read once per table, not once per row. No other
    // connection writes the tables meanwhile, so the rows are one state of
    // them, as under the query's own transaction. Scans nest; the outermost
    // gives the locks back, on every path.
    void BeginScan() { ++FScanDepth; }
    void EndScan();

    // The method every join of the statement must use (tests).
    void SetForcedJoinMethod(TJoinMethod Value) { FForcedMethod = Value; }
    // The forced method every manager created from now on starts with: a
    // test switch for statements whose managers are built out of reach.
    static void SetDefaultForcedJoinMethod(TJoinMethod Value);
    static TJoinMethod DefaultForcedJoinMethod();
    // Every standard join provider, in order of creation.
    const std::vector<std::unique_ptr<TVekStdJoinDataProvider>>& StdProviders() const { return FStdProviders; }
    const std::vector<std::unique_ptr<TVekNonJoinDataProvider>>& NonJoinProviders() const { return FLeaves; }

private:
    bool RowPassesResidual();
    void HoldScanLocks();
    void ReleaseScanLocks();

    std::vector<std::unique_ptr<TVekStdJoinDataProvider>> FStdProviders;
    std::vector<std::unique_ptr<TVekNonJoinDataProvider>> FLeaves;
    std::vector<std::unique_ptr<TVekDatasetBridge>> FBridges;
    // Open bridges of an earlier plan, no range, no selection, on the
    // index they opened with (KeepTablesOpen).
    std::vector<std::unique_ptr<TVekDatasetBridge>> FIdleBridges;
    bool FKeepTablesOpen = false;
    TVekDataBase* FDatabase = nullptr;
    TVekBaseJoinDataProvider* FRoot = nullptr;
    std::unique_ptr<TExprEvaluator> FResidual;
    std::unique_ptr<TVekExpr> FResidualExpr;
    TDBStringCompare FStringCompare;
    TJoinMethod FForcedMethod = TJoinMethod::Auto;
    int FScanDepth = 0;
    // The bridges whose table lock the running scan holds.
    std::vector<TVekDatasetBridge*> FScanLocked;
};

// The statement's tables read-locked for one scan of its rows (see
// TVekJoinDataProviderMgr::BeginScan); the locks go when the scope ends,
// an error included.
class TVekProviderScan {
public:
    explicit TVekProviderScan(TVekJoinDataProviderMgr* Mgr) : FMgr(Mgr)
    {
        if (FMgr)
            FMgr->BeginScan();
    }
    ~TVekProviderScan();
    TVekProviderScan(const TVekProviderScan&) = delete;
    TVekProviderScan& operator=(const TVekProviderScan&) = delete;

private:
    TVekJoinDataProviderMgr* FMgr;
};

// Makes every field node of the tree under Root (arguments included) name
// the table instance it was resolved against (its correlation name, else its
// table name), so that each field reads from its own table's provider even
// when two tables have fields of one name or one table appears twice. The
// tokens are owned by Expr.
void QualifyFieldNodes(TVekExpr* Expr, TVekExprNode* Root);

// A copy of Root in Expr, its field nodes qualified; Expr's first node.
TVekExprNode* CloneQualified(TVekExpr* Expr, const TVekExprNode* Root);

} // namespace orvex
