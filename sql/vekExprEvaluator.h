#pragma once
// The evaluator: computes an expression tree for the current record of a
// record source.
//
// A TVekExprDataProvider is the record source (table filters, join providers
// and result sets implement it). TExprEvaluator mirrors a tree once into
// evaluator nodes bound to the provider's field descriptions, then evaluates
// it record by record with the NULL rules of TVekOpEvaluator.
// TExprResultListGenerator filters a list of record numbers through a
// condition.

#include "sql/vekParserUtils.h"
#include "storage/vekCommon.h"
#include "storage/vekIndexUnitKeys.h"

#include <functional>

namespace orvex {

// String comparisons use the database's compare routine, TDBStringCompare
// (the index unit's: DBANSICompareStrings or DBASCIICompareStrings).

// Where the value of one field lies in a provider's raw record buffer.
struct TRawFieldLayout {
    TFieldType DataType = ftUnknown;
    // The field has a value when the byte at NullFlagOffset is ValueFlag.
    Integer NullFlagOffset = 0;
    Byte ValueFlag = 1;
    Integer DataOffset = 0;
    Integer Size = 0;
    // A variable field's length (two bytes, little-endian); -1: the field
    // always fills Size bytes.
    Integer SizeMarkerOffset = -1;
};

class TVekExprDataProvider : public TObject {
public:
    TVekExprDataProvider();
    ~TVekExprDataProvider() override;

    virtual TInternalFields* GetProviderFields() { return FProviderFields; }
    // The value of the field with FieldNo; Unassigned here.
    virtual Variant GetDataAsVariant(Integer FieldNo);
    virtual bool IsFieldNull(Integer FieldNo);
    virtual void GetDefaultRecordList(TCompoundList* List) {}
    // The addresses of GetDefaultRecordList alone, into Addresses (emptied
    // first); their record numbers run from BaseRecNo on. Here taken from
    // GetDefaultRecordList.
    virtual void GetDefaultAddressList(std::vector<Cardinal>& Addresses);
    // The slots of the provider's records in its own (storage) order, freed
    // slots among them, which ScanRecords skips; IndexCount: the number of
    // records GetDefaultAddressList would list. False (here always) when the
    // provider has no such order or its default list is not every record.
    virtual bool GetStorageOrderSlots(std::vector<Cardinal>& Slots, Integer& IndexCount)
    {
        (void)Slots;
        (void)IndexCount;
        return false;
    }
    virtual void Open() {}
    virtual void Refresh() {}
    virtual bool MoveToRecord(Integer RecNo) { return false; }
    // MoveToRecord for each of Addresses (best in ascending order) in turn,
    // calling Visit(I) while the record at Addresses[I] is the current one;
    // a record MoveToRecord finds no more is skipped. Here one MoveToRecord
    // after the other (an address listed twice in a row read once).
    virtual void ScanRecords(const Cardinal* Addresses, std::size_t Count,
                             const std::function<void(std::size_t)>& Visit);
    // The field Name (Token: the qualifying table token, or nullptr).
    virtual TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name);
    // The provider of the table Name; this one here.
    virtual TVekExprDataProvider* FindProvider(const std::string& Name) { return this; }
    virtual bool PassFilterEvent(Integer RecNo) { return false; }
    // Typed evaluation reads fields straight from the buffer the current
    // record was read into: that buffer (nullptr when the provider keeps
    // none), its size, and where field FieldNo lies in it (false for a field
    // it does not hold there, a blob say).
    virtual const Byte* RawRecordBuffer() { return nullptr; }
    virtual std::size_t RawRecordSize() const { return 0; }
    virtual bool RawFieldLayout(Integer FieldNo, TRawFieldLayout& Layout) { return false; }

    TInternalFields* ProviderFields() const { return FProviderFields; }
    const TDBStringCompare& DBStringCompare() const { return FDBStringCompare; }
    void SetDBStringCompare(TDBStringCompare Value) { FDBStringCompare = Value; }
    bool HasPassFilterEvent() const { return FHasPassFilterEvent; }
    void SetHasPassFilterEvent(bool Value) { FHasPassFilterEvent = Value; }
    Integer BaseRecNo() const { return FBaseRecNo; }
    void SetBaseRecNo(Integer Value) { FBaseRecNo = Value; }

private:
    TInternalFields* FProviderFields;
    TDBStringCompare FDBStringCompare = nullptr;
    bool FHasPassFilterEvent = false;
    Integer FBaseRecNo = 0;
};

class TExprEvaluatorNode : public TObject {
public:
    TExprEvaluatorNode* Left() const { return FLeft; }
    void SetLeft(TExprEvaluatorNode* Value) { FLeft = Value; }
    TExprEvaluatorNode* Right() const { return FRight; }
    void SetRight(TExprEvaluatorNode* Value) { FRight = Value; }
    TExprEvaluatorNode* Next() const { return FNext; }
    void SetNext(TExprEvaluatorNode* Value) { FNext = Value; }
    TVekExprNode* ExprNode() const { return FExprNode; }
    void SetExprNode(TVekExprNode* Value) { FExprNode = Value; }
    TInternalFieldItem* FieldRef() const { return FFieldRef; }
    void SetFieldRef(TInternalFieldItem* Value) { FFieldRef = Value; }
    // The value of the last evaluation since the evaluator's last Reset;
    // Null after a Reset.
    const Variant& NodeResult() const;
    void SetNodeResult(const Variant& Value)
    {
        FNodeResult = Value;
        FResultForm = TResultForm::Value;
        Stamp();
    }
    void SetNodeResult(Variant&& Value)
    {
        FNodeResult = std::move(Value);
        FResultForm = TResultForm::Value;
        Stamp();
    }
    // The result is the expression node's own Data (a constant or a
    // parameter): read in place, never copied per record.
    void SetNodeResultToData()
    {
        FResultForm = TResultForm::Data;
        Stamp();
    }
    // The result of a condition, kept as a truth value; NodeResult reads it
    // as a Boolean, or Empty when unknown.
    void SetTruthResult(TVekTruth Value)
    {
        FTruth = Value;
        FResultForm = TResultForm::Truth;
        Stamp();
    }
    // The evaluator's reset count, which tells a kept result from a stale one.
    void SetResetCounter(const unsigned* Counter) { FResetCounter = Counter; }
    // Mirrors of the expression node's Args.
    std::vector<TExprEvaluatorNode*>& Args() { return FArgs; }
    TVekExprDataProvider* DataProvider() const { return FDataProvider; }
    void SetDataProvider(TVekExprDataProvider* Value) { FDataProvider = Value; }

private:
    TExprEvaluatorNode* FLeft = nullptr;
    TExprEvaluatorNode* FRight = nullptr;
    TExprEvaluatorNode* FNext = nullptr;
    TVekExprNode* FExprNode = nullptr;
    TInternalFieldItem* FFieldRef = nullptr;
    void Stamp() { FResultStamp = FResetCounter ? *FResetCounter : 0; }

    // Where the result is: FNodeResult, the expression node's Data, or
    // FTruth (turned into FNodeResult when NodeResult is asked for it).
    enum class TResultForm : std::uint8_t { Value, Data, Truth };
    mutable Variant FNodeResult;
    mutable TResultForm FResultForm = TResultForm::Value;
    TVekTruth FTruth = TVekTruth::Unknown;
    std::vector<TExprEvaluatorNode*> FArgs;
    TVekExprDataProvider* FDataProvider = nullptr;
    const unsigned* FResetCounter = nullptr;
    unsigned FResultStamp = 0;
};

class TExprEvaluator : public TObject {
    friend class TTypedCondition;

public:
    ~TExprEvaluator() override;

    // Keeps the provider (not owned) and mirrors the tree under Root.
    void Prepare(TVekExprDataProvider* Provider, TVekExprNode* Root);
    bool IsPrepared() const { return FRoot != nullptr; }
    void Clear();
    // Every mirror's result to Null.
    void Reset();
    // The condition for the current record: unknown counts as false.
    bool Evaluate();
    // Evaluate's answer for a filter: the operands of an AND at the top are
    // evaluated only while those before are true (an AND is true only when
    // both operands are), so the nodes not reached keep no result.
    bool EvaluatePasses();
    // The value of the expression for the current record.
    Variant EvaluateValueExpr();

    void SetDBStringCompare(TDBStringCompare Value) { FDBStringCompare = Value; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    TExprEvaluatorNode* Root() const { return FRoot; }
    TVekExprDataProvider* DataProvider() const { return FDataProvider; }

    // The node's value for the current record, kept as its NodeResult (the
    // reference stays valid until the node is evaluated again).
    const Variant& EvaluateNode(TExprEvaluatorNode* Node);
    bool EvaluateInPredicate(const Variant& Value, TExprEvaluatorNode* Node);
    Variant EvaluateStrFunc(TExprEvaluatorNode* Node, const Variant& Left, const Variant& Right);
    Variant EvaluateCastExpr(TExprEvaluatorNode* Node, const Variant& Value);
    Variant EvaluateExtractExpr(TExprEvaluatorNode* Node, const Variant& Value);

private:
    TExprEvaluatorNode* InternalCreateEvaluatorNode(TVekExprNode* Node, int Depth);
    // Conditions (comparisons, NOT/AND/OR, LIKE, IN, a field IS [NOT] NULL)
    // are evaluated as truth values: no Variant is made for their outcome
    // unless their NodeResult is read.
    static bool IsCondition(const TExprEvaluatorNode* Node);
    // The condition's outcome, kept as its result.
    TVekTruth EvaluateCondition(TExprEvaluatorNode* Node);
    // Node as a logical operand.
    TVekTruth EvaluateOperandTruth(TExprEvaluatorNode* Node);
    bool Passes(TExprEvaluatorNode* Node);
    TVekTruth EvaluateRelop(TExprEvaluatorNode* Node);
    TVekTruth EvaluateLike(TExprEvaluatorNode* Node, const Variant& Left, const Variant& Right);
    Variant EvaluateSubqueryValue(TVekExprNode* Node);
    Variant EvaluateExists(TVekExprNode* Node);
    Variant EvaluateLeftSubquery(TVekExprOperator Op, TVekExprNode* Subquery, const Variant& Value,
                                 bool SubqueryLeft);
    Variant EvaluateDualSubqueries(TVekExprOperator Op, TVekExprNode* Left, TVekExprNode* Right);
    Variant FieldValue(TExprEvaluatorNode* Node);

    TExprEvaluatorNode* FRoot = nullptr;
    TExprEvaluatorNode* FFirstNode = nullptr;
    TVekExprDataProvider* FDataProvider = nullptr;
    TDBStringCompare FDBStringCompare = nullptr;
    bool FExcludeRelopNulls = false;
    TVekOpEvaluator FOpEvaluator;
    // Counts the Resets: a node's result stamped with an older count reads
    // as Null, so that Reset need not visit every node.
    unsigned FResetCounter = 0;
};

// A condition compiled once into typed steps for the records of one
// provider that reads its fields from a raw record buffer: comparisons of
// numbers (as doubles, as the evaluator compares plain numbers), of strings
// under the database's compare routine, LIKE, IN lists of constants,
// IS [NOT] NULL, Boolean fields and NOT/AND/OR, computed on values read
// straight from the buffer with no Variant per node. A condition it does not
// cover is handed to the evaluator it was compiled from; every answer is the
// evaluator's own (EvaluatePasses).
class TTypedCondition : public TObject {
public:
    TTypedCondition();
    ~TTypedCondition() override;

    // Compiles the prepared Evaluator's tree; false (and nothing compiled)
    // when its provider keeps no raw buffer or no part of the tree could be
    // typed.
    bool Compile(TExprEvaluator* Evaluator);
    bool Compiled() const { return FRoot >= 0; }
    // Conditions left to the evaluator.
    int FallbackCount() const { return FFallbacks; }
    // The evaluator's EvaluatePasses for the provider's current record.
    bool Passes();

private:
    struct TNode;
    struct TNumber;
    struct TText;
    int CompileTruth(TExprEvaluatorNode* Node);
    int CompileNumber(TExprEvaluatorNode* Node, bool& IsDouble);
    int CompileText(TExprEvaluatorNode* Node);
    int CompileField(TExprEvaluatorNode* Node);
    int Fallback(TExprEvaluatorNode* Node);
    int Add(TNode&& Node);
    TVekTruth Truth(int Index);
    TNumber Number(int Index);
    TText Text(int Index);
    bool FieldNumber(const TRawFieldLayout& F, double& Value) const;

    TExprEvaluator* FEvaluator = nullptr;
    TVekExprDataProvider* FProvider = nullptr;
    std::vector<TNode> FNodes;
    int FRoot = -1;
    // The operands of the AND chain at the top (the root alone when it is
    // no AND).
    std::vector<int> FConjuncts;
    int FFallbacks = 0;
    const Byte* FBuffer = nullptr;
    // Upper-case copies of case-insensitive field values.
    std::string FScratch;
    Byte FUpper[256] = {};
};

class TExprResultListGenerator : public TObject {
public:
    // OutList := the pairs of InList whose record (the lead item, a record
    // number) passes the condition under Root (every pair without one).
    void CreateResultList(TVekExprDataProvider* Provider, TVekExprNode* Root, bool ExcludeNulls,
                          TCompoundList* OutList, TCompoundList* InList);
};

// SQL LIKE with an escape character: "%" any run (also empty), "_" one
// character, Escape (when not NUL) makes the next pattern character literal.
// Byte-exact; linear in memory, quadratic at worst in time.
bool MatchLikePattern(const std::string& Value, const std::string& Pattern, char Escape);

} // namespace orvex
