#pragma once
// The filter optimiser: answers a condition on one table from its indexes.
//
// Given the expression tree of a filter (or of a query's selection on one
// table) and the table's indexes, the optimiser
//   - rewrites the tree in place: constant folding, "const op field" turned
//     round to "field op' const", string constants prepared for
//     case-insensitive and partial matching, date texts and CURRENT_DATE,
//     CURRENT_TIME and CURRENT_TIMESTAMP given their values;
//   - decides for every comparison of a field with constants whether an index
//     whose first key field is that field can answer it, and rates the whole
//     condition: olNone (no index help: every record is evaluated), olPartial
//     (the index lists give a superset of the answer: only those candidates
//     are evaluated) or olFull (the index lists are the answer);
//   - before evaluation, lists the records of each answered comparison from
//     its index and combines the lists of AND (intersection) and OR (union);
//     a not-equal comparison lists what it excludes and is complemented
//     against the base list.
//
// An index answer never disagrees with evaluating the record: the records of
// a comparison are the index positions whose first key value compares, by
// the evaluator's own rules, as the comparison asks. In key order those
// values fall into five runs (NULL, below the constant, equal to it, above
// it, and for reals NaN; a descending key turns the runs round), found by
// binary search over record numbers. So a constant the key type cannot hold
// (5.7 for an integer key, 1e12, a string longer than the field) needs no
// conversion, NULL keys follow the NULL mode in use (ExcludeRelopNulls: a
// comparison with NULL is unknown; otherwise NULL ranks below every value
// and equals NULL), and a LIKE prefix is bounded by the index's own
// collation.
//
// Lists hold record addresses (lead) with their companion values (the
// record numbers of the index, or of the base list); lists are combined
// after sorting by address, so that AND, OR and complements cost
// O(n log n).

#include "host/Classes.h"
#include "sql/vekFilterUnit.h"
#include "sql/vekParserUtils.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekIndexUnitKeys.h"
#include "storage/vekIndexUnitTree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orvex {

enum TNodeResultType : std::uint8_t { nrNone, nrFixedFalse, nrFixedTrue, nrDynamic };

// One record of an answer: its address and a companion value (its record
// number in the index, or in the base list).
struct TRecordEntry {
    std::uintptr_t Address = 0;
    std::uintptr_t Companion = 0;
};
using TRecordEntries = std::vector<TRecordEntry>;

// A run of index positions, record numbers First .. Last (from 1).
struct TIndexPositionRange {
    Integer First = 0;
    Integer Last = -1;
    bool Empty() const { return Last < First; }
};
using TIndexPositionRanges = std::vector<TIndexPositionRange>;
// The positions in both (in either) of two sorted lists of disjoint runs.
TIndexPositionRanges IntersectIndexRanges(const TIndexPositionRanges& A, const TIndexPositionRanges& B);
TIndexPositionRanges UniteIndexRanges(const TIndexPositionRanges& A, const TIndexPositionRanges& B);

// ---------------------------------------------------- TIndexDataInterface

// The searches of one index for the optimiser: the index's B-tree (not
// owned), which must be open. Only the first key field is searched.
class TIndexDataInterface : public TObject {
public:
    TIndexDataInterface(const std::string& IndexName, TBTree* BTree);

    // Appends the records whose first key value satisfies "value Operator
    // Value" (=, <>, <, <=, >, >=, IS NULL, IS NOT NULL, LIKE with Value the
    // pattern) to List. With PartialMatch (LIKE) the records are those whose
    // key starts like the pattern's fixed prefix: a superset of the matches.
    // CaseInsensitive: the comparison's own case rule (the evaluator
    // upper-cases both sides). "<>" lists the records that fail it: the
    // caller complements.
    void GetRecordList(TVekExprOperator Operator, const Variant& Value, bool PartialMatch,
                       bool CaseInsensitive, TCompoundList* List, char Escape = '\0');
    // Appends the records from Low up to High, both included (the two
    // bounds of BETWEEN): Operator is ">=".
    void GetBetweenRecordList(TVekExprOperator Operator, const Variant& Low, TCompoundList* List,
                              const Variant& High, bool CaseInsensitive);

    // The index positions of GetRecordList's records, in key order.
    TIndexPositionRanges GetRecordRanges(TVekExprOperator Operator, const Variant& Value, bool PartialMatch,
                                         bool CaseInsensitive, char Escape = '\0');
    // Appends the records at the positions of Ranges, in key order, with
    // their record numbers.
    void ListRanges(const TIndexPositionRanges& Ranges, TCompoundList* List);
    void ListRanges(const TIndexPositionRanges& Ranges, TRecordEntries& Entries);

    // Whether the first key field can answer a comparison with Value: a
    // string key (ftString) against a string, a number or date key against
    // a number or a date; for a case-insensitive comparison only under the
    // engine's ANSI collation.
    bool CanCompareWith(const Variant& Value, bool CaseInsensitive) const;
    // Whether the first key field can answer a prefix search (LIKE): a
    // string key ordered by the ANSI or ASCII collation, a case-insensitive
    // search only under the ANSI one.
    bool CanSearchPrefix(bool CaseInsensitive) const;

    // The search key of the index from Values (one value, or a variant
    // array in key-field order): the given key fields compare normally, the
    // others as ComparisonValue asks (fcForceBOF: before every key sharing
    // the given values; fcForceEOF: after them).
    void CreateKeyBuffer(TFieldComparisonValue ComparisonValue, const Variant& Values);

    // The search type of a comparison on an ascending or descending first
    // key field; any other operator raises 8581 "Unexpected seek type in
    // Internal Find".
    static TIndexSearchType MapRelOpToSearchType(TVekExprOperator Operator, bool Descending);
    // The fixed prefix of a LIKE pattern: the characters before the first
    // "%" or "_" that is not escaped, escapes removed. For any other
    // operator the text itself.
    static std::string ConvertStringForPartialMatch(TVekExprOperator Operator, const std::string& Text,
                                                    char Escape = '\0');

    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetItemIndex(Integer Value) { FItemIndex = Value; }
    Integer ItemIndex() const { return FItemIndex; }
    const std::string& IndexName() const { return FIndexName; }
    TBTree* BTree() const { return FBTree; }
    // The first key field (nullptr for an index without key fields).
    const TKeyFieldItem* FirstKeyField() const;

    // While one condition's positions are taken and listed, the searches
    // note the addresses they pass in their leaves, so that listing those
    // positions reads no page again. Starting forgets what was noted before
    // (the tree may have changed since); ending forgets it and stops noting.
    void StartLeafRuns();
    void EndLeafRuns();

private:
    // Where a first key value stands against the searched constant, in
    // value order: these runs follow one another in key order (turned round
    // on a descending key).
    enum TKeyClass : std::uint8_t { kcNull, kcLess, kcEqual, kcGreater, kcNaN };
    static constexpr int KeyClassCount = kcNaN + 1;
    using TClassSet = std::uint8_t; // bit per TKeyClass

    struct TProbe;
    TKeyClass ClassAt(const TProbe& Probe, Integer RecNo);
    // The number of records whose class is below Class: by key searches
    // where the constant fits the key (FastCountBelow), else by binary
    // search over record numbers.
    Integer CountBelow(const TProbe& Probe, int Class, Integer Count);
    bool FastCountBelow(const TProbe& Probe, int Class, Integer Count, Integer& Result);
    // The number of keys that sort before every key whose first field holds
    // Value (After: before or with them).
    Integer KeyPosition(const Variant& Value, bool After, Integer Count);
    TIndexPositionRanges RangesOfClasses(const TProbe& Probe, TClassSet Classes);
    // The classes a comparison selects.
    TClassSet ClassesFor(TVekExprOperator Operator, bool NullConstant) const;

    std::string FIndexName;
    TBTree* FBTree;
    Integer FItemIndex = 0;
    bool FExcludeRelopNulls = false;
    // The last search of KeyPosition, while the tree's cursor still stands
    // on its answer: its search key and flags, whether it asked for the
    // first key after (stGT) rather than at or after (stGE) that key, and
    // the number of keys before the cursor. A later position for a search
    // key that sorts at or after it is counted in the cursor's leaf when it
    // lies there, without a second search (the values of an IN list, the
    // end of a value's keys).
    bool FCursorKnown = false;
    std::vector<Byte> FCursorKey;
    TKeyComparisonFlags FCursorFlags;
    bool FCursorOrEqual = false;
    Integer FCursorPosition = 0;
    // Whether the search key now built may be counted from the cursor's
    // leaf (see FCursorKnown); OrEqual: it is searched with stGT.
    bool CursorCovers(bool OrEqual) const;

    // The addresses of the entries from a search's cursor to the end of its
    // leaf: Count addresses from Offset in FLeafRunAddresses, the first
    // being record number First.
    struct TLeafRun {
        Integer First = 0;
        std::size_t Offset = 0;
        std::size_t Count = 0;
    };
    // Notes the run of the leaf where the cursor stands on record RecNo.
    void NoteLeafRun(Integer RecNo);
    // A noted run holding record number RecNo; nullptr when none.
    const TLeafRun* FindLeafRun(Integer RecNo);
    bool FNoteLeafRuns = false;
    bool FLeafRunsSorted = true;
    std::vector<TLeafRun> FLeafRuns;
    std::vector<Cardinal> FLeafRunAddresses;
};

// ------------------------------------------------------ TIndexQueryMgr

class TIndexQueryItem : public TCollectionItem {
public:
    explicit TIndexQueryItem(TCollection* Collection);
    ~TIndexQueryItem() override;

    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& Value) { FIndexName = Value; }
    // The key fields of the index (not owned).
    TKeyFields* KeyFields() const { return FKeyFields; }
    void SetKeyFields(TKeyFields* Value) { FKeyFields = Value; }
    // Frees the old interface and makes one on IndexName and BTree.
    void CreateIndexInterface(TBTree* BTree);
    TIndexDataInterface* IndexInterface() const { return FIndexInterface.get(); }

private:
    std::string FIndexName;
    TKeyFields* FKeyFields = nullptr;
    std::unique_ptr<TIndexDataInterface> FIndexInterface;
};

// The indexes the optimiser may use.
class TIndexQueryMgr : public TCollection {
public:
    TIndexQueryMgr();

    TIndexQueryItem* Add() { return static_cast<TIndexQueryItem*>(TCollection::Add()); }
    // An item for the index (its key fields and tree), with its interface.
    TIndexQueryItem* Add(const std::string& IndexName, TKeyFields* KeyFields, TBTree* BTree);
    TIndexQueryItem* GetItems(int Index) const { return static_cast<TIndexQueryItem*>(Items(Index)); }
    void SetItems(int Index, TIndexQueryItem* Value);
    // The first item, in order, with at least as many key fields as names
    // whose leading key fields are the named fields (a comma-separated
    // text, names compared ignoring case) in that order, where a string key
    // field has the case-insensitivity asked. nullptr when none.
    TIndexQueryItem* FindIndexForFields(const std::string& FieldNames, bool CaseInsensitive) const;
};

// ------------------------------------------------------ optimiser nodes

class TExprOptimizerNode : public TObject {
public:
    TExprOptimizerNode();
    ~TExprOptimizerNode() override;

    TExprOptimizerNode* Left() const { return FLeft; }
    void SetLeft(TExprOptimizerNode* Value) { FLeft = Value; }
    TExprOptimizerNode* Right() const { return FRight; }
    void SetRight(TExprOptimizerNode* Value) { FRight = Value; }
    TExprOptimizerNode* Next() const { return FNext; }
    void SetNext(TExprOptimizerNode* Value) { FNext = Value; }
    TVekExprNode* ExprNode() const { return FExprNode; }
    void SetExprNode(TVekExprNode* Value) { FExprNode = Value; }
    TIndexDataInterface* IndexInterface() const { return FIndexInterface; }
    void SetIndexInterface(TIndexDataInterface* Value) { FIndexInterface = Value; }
    TNodeResultType NodeResultType() const { return FNodeResultType; }
    void SetNodeResultType(TNodeResultType Value) { FNodeResultType = Value; }
    TVekFilterOptimisationLevel OptimizationLevel() const { return FOptimizationLevel; }
    void SetOptimizationLevel(TVekFilterOptimisationLevel Value) { FOptimizationLevel = Value; }
    // The node's answer as it is combined (sorted by address, except a
    // one-index answer at the root, which stays in key order); RecordList
    // receives the root's answer.
    TRecordEntries& Entries() { return FEntries; }
    TCompoundList* RecordList() const { return FRecordList.get(); }
    bool BaseResultInverted() const { return FBaseResultInverted; }
    void SetBaseResultInverted(bool Value) { FBaseResultInverted = Value; }

    // The index positions that answer the node, kept while the node's
    // answer stays on one index (a comparison, or an AND or OR of
    // comparisons answered by the same index, BETWEEN among them): such a
    // node's list is made from its positions at once.
    bool HasRanges() const { return FHasRanges; }
    const TIndexPositionRanges& Ranges() const { return FRanges; }
    void SetRanges(TIndexDataInterface* Index, TIndexPositionRanges Value);
    void ClearRanges();
    TIndexDataInterface* RangeIndex() const { return FRangeIndex; }
    // Whether RecordList holds the node's answer (sorted by address).
    bool ListReady() const { return FListReady; }
    void SetListReady(bool Value) { FListReady = Value; }

private:
    TExprOptimizerNode* FLeft = nullptr;
    TExprOptimizerNode* FRight = nullptr;
    TExprOptimizerNode* FNext = nullptr;
    TVekExprNode* FExprNode = nullptr;
    TIndexDataInterface* FIndexInterface = nullptr;
    TNodeResultType FNodeResultType = nrDynamic;
    TVekFilterOptimisationLevel FOptimizationLevel = olNone;
    std::unique_ptr<TCompoundList> FRecordList;
    TRecordEntries FEntries;
    bool FBaseResultInverted = false;
    bool FHasRanges = false;
    bool FListReady = false;
    TIndexDataInterface* FRangeIndex = nullptr;
    TIndexPositionRanges FRanges;
};

// The limits one field gets from a condition's root comparison.
class TExprFieldLimits : public TObject {
public:
    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& Value) { FFieldName = Value; }
    bool Valid() const { return FValid; }
    void SetValid(bool Value) { FValid = Value; }
    const Variant& Min() const { return FMin; }
    void SetMin(const Variant& Value) { FMin = Value; }
    const Variant& Max() const { return FMax; }
    void SetMax(const Variant& Value) { FMax = Value; }
    bool MinSet() const { return FMinSet; }
    void SetMinSet(bool Value) { FMinSet = Value; }
    bool MaxSet() const { return FMaxSet; }
    void SetMaxSet(bool Value) { FMaxSet = Value; }

private:
    std::string FFieldName;
    bool FValid = false;
    Variant FMin;
    Variant FMax;
    bool FMinSet = false;
    bool FMaxSet = false;
};

// ------------------------------------------------------ TExprOptimizerMgr

class TExprOptimizerMgr : public TObject {
public:
    TExprOptimizerMgr();
    ~TExprOptimizerMgr() override;

    // Rewrites the tree under Root in place (see the unit comment).
    void OptimizeExprTree(TVekExprNode* Root);
    // Builds the optimiser nodes of the tree under Root and rates them.
    void CreateOptimizerTree(TVekExprNode* Root);
    // Lists the records of every node answered from an index (only when the
    // root is rated above olNone).
    void PrepareRecordLists();
    // The indexes of the condition stop noting their searches' leaves.
    void EndLeafRuns();
    // Combines the lists bottom-up; the root's list is the answer. When one
    // index answers the whole condition, its records are listed only when
    // RootEntries or GetResultSetList first asks for them (the tree must not
    // change in between); the count needs no list.
    void CombineRecordLists();
    // The root's answer (see CombineRecordLists).
    const TRecordEntries& RootEntries();
    // Whether a node's list must be complemented against the base list.
    bool HasInvertedLists() const;
    // Each such list becomes the entries of BaseList whose record is not in
    // it, in BaseList's order.
    void ResetInvertedLists(const TCompoundList* BaseList);
    // The same with the base list's addresses, whose companions are the
    // record numbers from FirstRecNo on.
    void ResetInvertedLists(const std::vector<Cardinal>& BaseList, Integer FirstRecNo);
    // The number of records in the root's list (an assertion without root).
    Integer GetResultSetCount() const;
    // The root's answer as a pointer list; nullptr without a root.
    TCompoundList* GetResultSetList();
    Integer GetNodeCount() const;
    // One line per node answered from an index (pre-order, left first):
    // the operator's name ("coEQ"), with the index interface as its object.
    void ListIndexRequests(TStrings* Lines) const;
    void AssessExprFieldLimits(TExprFieldLimits* Limits) const;
    // Frees every node.
    void Clear();
    void SetIndexQueryMgr(TIndexQueryMgr* Value) { FIndexQueryMgr = Value; }
    TIndexQueryMgr* IndexQueryMgr() const { return FIndexQueryMgr; }
    // The NULL rule of folding and of the index answers.
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    TExprOptimizerNode* Root() const { return FRoot; }
    // The expression root the limits are read from (kept by
    // CreateOptimizerTree).
    TVekExprNode* ExprRoot() const { return FExprRoot; }
    void SetExprRoot(TVekExprNode* Value) { FExprRoot = Value; }

private:
    // ResetInvertedLists over a base list of Count entries, BaseEntry(I)
    // giving entry I.
    template <class TBaseEntry>
    void ComplementInvertedLists(std::size_t Count, TBaseEntry BaseEntry);
    void OptimizeNode(TVekExprNode* Node, int Depth);
    void FoldConstants(TVekExprNode* Node);
    void PrepareConstant(TVekExprNode* Node);
    TExprOptimizerNode* NewNode(TVekExprNode* ExprNode);
    TExprOptimizerNode* InternalCreateOptimizerNode(TVekExprNode* Node, int Depth);
    TExprOptimizerNode* InternalCreateBinaryOptimizerNode(TVekExprNode* Node, int Depth);
    TExprOptimizerNode* InternalCreateUnaryOptimizerNode(TVekExprNode* Node, int Depth);
    // Rates a comparison, LIKE or IN of a field with constants; true when an
    // index answers it.
    bool MatchLeafToIndex(TExprOptimizerNode* OptNode);
    // The index for a field node: the first key field that field, and for a
    // string key the case rule asked; nullptr when none.
    TIndexDataInterface* MatchFieldsToIndex(const TVekExprNode* Field, bool CaseInsensitive) const;
    void RateLogicalNode(TExprOptimizerNode* OptNode);
    void PrepareNodeList(TExprOptimizerNode* Node, int Depth);
    // The records at the positions of every node that keeps ranges.
    void MaterializeRanges(TExprOptimizerNode* Node, int Depth);
    // MaterializeRanges from the root, then the indexes stop noting their
    // leaves (also when listing fails).
    void ListRootRanges();
    void CombineNode(TExprOptimizerNode* Node, int Depth);
    void ListRequests(const TExprOptimizerNode* Node, TStrings* Lines, int Depth) const;

    TExprOptimizerNode* FRoot = nullptr;
    TExprOptimizerNode* FFirstNode = nullptr;
    TVekExprNode* FExprRoot = nullptr;
    TIndexQueryMgr* FIndexQueryMgr = nullptr;
    bool FRootListFilled = false;
    // The root's answer is its index positions, not listed yet.
    bool FRootDeferred = false;
    bool FExcludeRelopNulls = false;
    std::unique_ptr<TVekOpEvaluator> FOpEvaluator;
};

// ------------------------------------------------------ TFilterOptimizer

class TFilterOptimizer : public TObject {
public:
    explicit TFilterOptimizer(TIndexQueryMgr* IndexQueryMgr);
    ~TFilterOptimizer() override;

    void SetExprRoot(TVekExprNode* Node) { FExprRoot = Node; }
    TVekExprNode* ExprRoot() const { return FExprRoot; }
    // Rewrites the tree and builds the optimiser tree.
    void AnalyzeExpr();
    void PrepareResultLists();
    void CombineResultLists();
    // The root's level; olNone without a root (and while ForceNoIndexes).
    TVekFilterOptimisationLevel GetBaseOptimisationLevel() const;
    // The root's list, each record once; nullptr without a root. In key
    // order when one index answers the whole condition, else in address
    // order.
    TCompoundList* GetResultSetList() const;
    Integer GetResultSetCount() const;
    void AssessExprFieldLimits(TExprFieldLimits* Limits) const;
    bool HasInvertedLists() const { return FMgr->HasInvertedLists(); }
    void ResetInvertedLists(const TCompoundList* BaseList) { FMgr->ResetInvertedLists(BaseList); }
    void ResetInvertedLists(const std::vector<Cardinal>& BaseList, Integer FirstRecNo)
    {
        FMgr->ResetInvertedLists(BaseList, FirstRecNo);
    }
    void Clear();

    // The NULL rule in use (given to the manager and the index interfaces).
    void SetExcludeRelopNulls(bool Value);
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    // A test switch: rate every condition olNone (the tree is still
    // rewritten), so that answers with and without indexes can be compared.
    void SetForceNoIndexes(bool Value) { FForceNoIndexes = Value; }
    bool ForceNoIndexes() const { return FForceNoIndexes; }
    // The same switch as the default of every optimiser created from now
    // on, for tests of statements whose optimisers are built out of reach.
    static void SetForceNoIndexesByDefault(bool Value);
    static bool ForceNoIndexesByDefault();
    TExprOptimizerMgr* Mgr() const { return FMgr.get(); }

private:
    TIndexQueryMgr* FIndexQueryMgr;
    TVekExprNode* FExprRoot = nullptr;
    std::unique_ptr<TExprOptimizerMgr> FMgr;
    bool FExcludeRelopNulls = false;
    bool FForceNoIndexes = false;
};

// ---------------------------------------------- the filter evaluator's seam

// The optimiser as the filter evaluator's index side: it owns the registry,
// which FillRegistry (given by the table's side) fills afresh from the
// table's open indexes before each analysis, and the optimiser over it.
class TFilterOptimizerAnswerer : public TFilterIndexAnswerer {
public:
    using TFillRegistry = std::function<void(TIndexQueryMgr* Registry)>;
    explicit TFilterOptimizerAnswerer(TFillRegistry FillRegistry);

    TVekFilterOptimisationLevel Analyze(TVekExpr* Expr, TVekExprNode* Root, bool ExcludeRelopNulls) override;
    bool NeedsBaseList() const override { return FOptimizer.HasInvertedLists(); }
    void Answer(const std::vector<Cardinal>& BaseList, Integer BaseRecNo, std::vector<Cardinal>& Result) override;
    TFilterFieldLimits AssessFieldLimits(const std::string& FieldName) override;

    TFilterOptimizer& Optimizer() { return FOptimizer; }
    TIndexQueryMgr& Registry() { return FRegistry; }

private:
    TFillRegistry FFillRegistry;
    TIndexQueryMgr FRegistry;
    TFilterOptimizer FOptimizer{&FRegistry};
};

// Answers as sorted runs: addresses ascending, each once, with the
// companion of its first occurrence.
void SortAndDeduplicate(TRecordEntries& Entries);
// Target := the entries of A whose record is in B (both sorted).
void IntersectSorted(const TRecordEntries& A, const TRecordEntries& B, TRecordEntries& Target);
// Target := every entry of A and of B, each record once (both sorted).
void UniteSorted(const TRecordEntries& A, const TRecordEntries& B, TRecordEntries& Target);

} // namespace orvex
