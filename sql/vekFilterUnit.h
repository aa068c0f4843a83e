#pragma once
// The filter evaluator: a condition on one table to the list of the records
// that pass it.
//
// TVekBaseFilterEvaluator parses a filter text (or takes a query's selection
// from a TVekFilterExprDriver), asks the index side for an answer and
// evaluates what is left record by record through its data provider. The
// table's own filter and a driver's selection combine by AND or OR.
//
// The index side is one seam, TFilterIndexAnswerer: it rates the condition
// against the table's indexes and gives the candidate (olPartial) or exact
// (olFull) record addresses. Without one, or with ForcePerRecord set, every
// record of the provider's default list is evaluated (olNone).
//
// NULL rules: with ExcludeRelopNulls a comparison with NULL is unknown (the
// SQL rule of query selections); without it NULL ranks below every value and
// NULL = NULL holds (the rule of table filters). A filter passes a record
// only when its condition is true.

#include "host/DB.h"
#include "sql/vekExprEvaluator.h"
#include "sql/vekExprParser.h"
#include "sql/vekParserUtils.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

// ------------------------------------------------------ TVekFilterExprDriver

// One selection request of the query side: a ready expression on one table,
// how it combines with the table's own filter, and (for AssessExprOnly) the
// limits of one field. A plain record of settings; created and freed by its
// user. ExprOptimizationLevel and the limits are written back.
class TVekFilterExprDriver : public TObject {
public:
    bool OpenExistingExpr() const { return FOpenExistingExpr; }
    void SetOpenExistingExpr(bool Value) { FOpenExistingExpr = Value; }
    // The driver's expression replaces the table's own filter.
    bool OverwriteExpr() const { return FOverwriteExpr; }
    void SetOverwriteExpr(bool Value) { FOverwriteExpr = Value; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    Integer MaximalResultSetSize() const { return FMaximalResultSetSize; }
    void SetMaximalResultSetSize(Integer Value) { FMaximalResultSetSize = Value; }
    const std::string& LimitFieldName() const { return FLimitFieldName; }
    void SetLimitFieldName(const std::string& Value) { FLimitFieldName = Value; }
    // Not owned.
    TVekExpr* FilterExpr() const { return FFilterExpr; }
    void SetFilterExpr(TVekExpr* Value) { FFilterExpr = Value; }
    TVekFilterOptimisationLevel ExprOptimizationLevel() const { return FExprOptimizationLevel; }
    void SetExprOptimizationLevel(TVekFilterOptimisationLevel Value) { FExprOptimizationLevel = Value; }
    const Variant& LimitFieldMax() const { return FLimitFieldMax; }
    void SetLimitFieldMax(const Variant& Value) { FLimitFieldMax = Value; }
    const Variant& LimitFieldMin() const { return FLimitFieldMin; }
    void SetLimitFieldMin(const Variant& Value) { FLimitFieldMin = Value; }
    bool AssessExprOnly() const { return FAssessExprOnly; }
    void SetAssessExprOnly(bool Value) { FAssessExprOnly = Value; }
    bool LimitsAssessed() const { return FLimitsAssessed; }
    void SetLimitsAssessed(bool Value) { FLimitsAssessed = Value; }
    bool LimitMinSet() const { return FLimitMinSet; }
    void SetLimitMinSet(bool Value) { FLimitMinSet = Value; }
    bool LimitMaxSet() const { return FLimitMaxSet; }
    void SetLimitMaxSet(bool Value) { FLimitMaxSet = Value; }
    bool EnforceExprOrder() const { return FEnforceExprOrder; }
    void SetEnforceExprOrder(bool Value) { FEnforceExprOrder = Value; }
    const std::string& OrderIndexName() const { return FOrderIndexName; }
    void SetOrderIndexName(const std::string& Value) { FOrderIndexName = Value; }

private:
    bool FOpenExistingExpr = false;
    bool FOverwriteExpr = false;
    bool FExcludeRelopNulls = false;
    Integer FMaximalResultSetSize = 0;
    std::string FLimitFieldName;
    TVekExpr* FFilterExpr = nullptr;
    TVekFilterOptimisationLevel FExprOptimizationLevel = olNone;
    Variant FLimitFieldMax;
    Variant FLimitFieldMin;
    bool FAssessExprOnly = false;
    bool FLimitsAssessed = false;
    bool FLimitMinSet = false;
    bool FLimitMaxSet = false;
    bool FEnforceExprOrder = false;
    std::string FOrderIndexName;
};

// ----------------------------------------------------- the index-side seam

// The limits of one field that a condition's root comparison sets.
struct TFilterFieldLimits {
    bool Valid = false;
    bool MinSet = false;
    bool MaxSet = false;
    Variant Min;
    Variant Max;
};

// What the evaluator asks of the index side (the filter optimiser).
class TFilterIndexAnswerer {
public:
    virtual ~TFilterIndexAnswerer() = default;
    // Takes the condition (Expr owns the tree; Root is its root, which the
    // answerer may rewrite in place: constant folding and the like) and rates
    // it against the indexes; ExcludeRelopNulls is the NULL rule in use.
    virtual TVekFilterOptimisationLevel Analyze(TVekExpr* Expr, TVekExprNode* Root, bool ExcludeRelopNulls) = 0;
    // Whether Answer needs the provider's base list (a complement of a
    // not-equal answer, say). The evaluator fills it anyway unless it may
    // skip it.
    virtual bool NeedsBaseList() const { return true; }
    // The addresses that the indexes give for the analysed condition, into
    // Result: exactly the passing records at olFull, a superset of them at
    // olPartial. BaseList holds the addresses of the provider's records in
    // its order (empty when it was not needed); the first of them has record
    // number BaseRecNo, the next BaseRecNo + 1 and so on.
    virtual void Answer(const std::vector<Cardinal>& BaseList, Integer BaseRecNo, std::vector<Cardinal>& Result) = 0;
    // The limits of FieldName set by the analysed condition's root.
    virtual TFilterFieldLimits AssessFieldLimits(const std::string& FieldName) = 0;
};

// The limits of FieldName that Root sets when it is one comparison of that
// field with a constant ("=", ">", ">=" set Min; "=", "<", "<=" set Max);
// not valid when the field occurs in Root in any other way. Used when no
// index side is registered.
TFilterFieldLimits AssessRootFieldLimits(const TVekExprNode* Root, const std::string& FieldName);

// ------------------------------------------------- TVekBaseFilterEvaluator

class TVekBaseFilterEvaluator : public TObject {
public:
    TVekBaseFilterEvaluator();
    ~TVekBaseFilterEvaluator() override;

    // Close, then the provider's Open, Prepare and (when prepared) Evaluate.
    bool Open();
    // Forgets the lists, the parse and the index answer.
    void Close();
    // Close, Parse, and Optimize when the text parsed.
    bool Prepare();
    // The filter text into the main parser; false with GetErrors on error.
    bool Parse();
    // Hands the condition to the index side; true.
    bool Optimize();
    // Fills the result list; true.
    bool Evaluate();
    // Runs the driver's selection (combined by Operator, veoAND or veoOR,
    // with the table's own filter unless the driver overwrites it).
    bool AssignExpr(TVekFilterExprDriver* Driver, TVekExprOperator Operator);
    // Fills the driver's limits and level; evaluates nothing.
    bool AssessExpr(TVekFilterExprDriver* Driver);

    // The main parser's expression; with SetFirst its root becomes its first
    // node.
    TVekExpr* GetFilterExpr(bool SetFirst);
    Integer GetRecordCount() const { return static_cast<Integer>(FResult.size()); }
    Integer GetBaseRecNo() const;
    // The parse error as " Character %d. Token '%s'" form; empty when none.
    std::string GetErrors() const;

    // The passing record addresses: in the provider's order (for a table,
    // its current index), or in address order when QueryActive is set and
    // SortedOutput is clear.
    const std::vector<Cardinal>& ResultList() const { return FResult; }
    // The addresses of the provider's records, in its order (the first has
    // the provider's BaseRecNo); empty when the evaluation did not need it.
    const std::vector<Cardinal>& BaseList() const { return FBaseList; }
    // Hands the result and the base list over by exchanging them with Result
    // and Base (whose memory the next evaluation reuses).
    void SwapLists(std::vector<Cardinal>& Result, std::vector<Cardinal>& Base);
    // Without an index answer, read the provider's records in their storage
    // order and leave the result in address order (StorageOrderResult),
    // where the provider allows it: for a caller that needs the count first
    // and the provider's order only later. Off by default.
    bool AllowStorageOrder() const { return FAllowStorageOrder; }
    void SetAllowStorageOrder(bool Value) { FAllowStorageOrder = Value; }
    // The last evaluation read the records in storage order: the result is
    // the passing addresses ascending, the base list empty.
    bool StorageOrderResult() const { return FStorageOrderResult; }
    // The level of the last evaluation.
    TVekFilterOptimisationLevel OptimisationLevel() const { return FLevel; }
    // Records evaluated one by one in the last evaluation.
    Integer RecordsEvaluated() const { return FRecordsEvaluated; }
    // The condition being evaluated (nullptr: every record passes).
    TVekExprNode* ConditionRoot() const { return FParser ? FParser->Root() : nullptr; }

    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    TVekExprDataProvider* DataProvider() const { return FDataProvider; }
    void SetDataProvider(TVekExprDataProvider* Value) { FDataProvider = Value; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    void SetFilterOptions(TFilterOptions Value) { FFilterOptions = Value; }
    const std::string& FilterText() const { return FFilterText; }
    void SetFilterText(const std::string& Value) { FFilterText = Value; }
    bool QueryActive() const { return FQueryActive; }
    void SetQueryActive(bool Value) { FQueryActive = Value; }
    bool SortedOutput() const { return FSortedOutput; }
    void SetSortedOutput(bool Value) { FSortedOutput = Value; }
    TTableList* Tables() const { return FTables; }
    void SetTables(TTableList* Value) { FTables = Value; }

    // The index side (owned); nullptr: none.
    TFilterIndexAnswerer* IndexAnswerer() const { return FAnswerer.get(); }
    void SetIndexAnswerer(std::unique_ptr<TFilterIndexAnswerer> Value) { FAnswerer = std::move(Value); }
    // Evaluate every record, whatever the index side could answer (a test
    // switch: the answers must agree).
    bool ForcePerRecord() const { return FForcePerRecord; }
    void SetForcePerRecord(bool Value) { FForcePerRecord = Value; }
    // Records are evaluated by the typed steps of TTypedCondition where the
    // provider allows it (on by default; off: the Variant evaluator alone, a
    // test switch: the answers must agree).
    bool TypedEvaluation() const { return FTypedEvaluation; }
    void SetTypedEvaluation(bool Value) { FTypedEvaluation = Value; }

private:
    // The main parser set up from FilterOptions and Tables.
    void SetUpParser(TVekExprParser* Parser) const;
    // The level the index side gives the main parser's root (olNone without
    // one, without a condition, or with ForcePerRecord).
    TVekFilterOptimisationLevel AnalyzeIndexes();
    // The base list and, at olPartial and olFull, the index answer (into
    // FAnswer): the records taken without evaluation at olFull, those to
    // evaluate at olPartial (at olNone the base list itself is evaluated).
    void MergeRecordLists();
    // Candidates through the condition, read in address order: FPassed[i]
    // tells whether candidate i passes.
    void EvaluateCandidates(const std::vector<Cardinal>& Candidates);
    // The sorted addresses in Passing (each once) into FResult in the base
    // list's order.
    void TakeInBaseOrder(const std::vector<Cardinal>& Passing);
    // Evaluates the provider's records in storage order into FResult
    // (ascending); false, with nothing kept, when the provider has no such
    // order or its slots do not hold exactly the records of its default list.
    bool EvaluateInStorageOrder();

    // Kept between evaluations, so that a filter evaluated again reuses
    // their memory.
    std::vector<Cardinal> FBaseList;
    std::vector<Cardinal> FAnswer;
    std::vector<std::uint8_t> FPassed;
    std::vector<Cardinal> FScanOrder;
    // The provider's slots in storage order (EvaluateInStorageOrder).
    std::vector<Cardinal> FScanList;
    std::vector<int> FScanPositions;
    std::unique_ptr<TVekPreParser> FPreParser;
    std::unique_ptr<TVekExprParser> FParser;
    // The table's own filter, kept from the last parsed text.
    std::unique_ptr<TVekExprParser> FOwnFilter;
    std::unique_ptr<TFilterIndexAnswerer> FAnswerer;
    TVekExprDataProvider* FDataProvider = nullptr;
    TTableList* FTables = nullptr;
    bool FExcludeRelopNulls = false;
    bool FActive = false;
    std::string FFilterText;
    TFilterOptions FFilterOptions = 0;
    bool FQueryActive = false;
    bool FSortedOutput = false;
    bool FForcePerRecord = false;
    bool FTypedEvaluation = true;
    bool FHasCondition = false;
    bool FAllowStorageOrder = false;
    bool FStorageOrderResult = false;
    TVekFilterOptimisationLevel FLevel = olNone;
    Integer FRecordsEvaluated = 0;
    std::vector<Cardinal> FResult;
};

} // namespace orvex
