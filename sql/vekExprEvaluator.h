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

class TVekExprDataProvider : public TObject {
public:
    TVekExprDataProvider();
    ~TVekExprDataProvider() override;

    virtual TInternalFields* GetProviderFields() { return FProviderFields; }
    // The value of the field with FieldNo; Unassigned here.
    virtual Variant GetDataAsVariant(Integer FieldNo);
    virtual bool IsFieldNull(Integer FieldNo);
    virtual void GetDefaultRecordList(TCompoundList* List) {}
    virtual void Open() {}
    virtual void Refresh() {}
    virtual bool MoveToRecord(Integer RecNo) { return false; }
    // The field Name (Token: the qualifying table token, or nullptr).
    virtual TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name);
    // The provider of the table Name; this one here.
    virtual TVekExprDataProvider* FindProvider(const std::string& Name) { return this; }
    virtual bool PassFilterEvent(Integer RecNo) { return false; }

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
    bool EvaluateLike(TExprEvaluatorNode* Node, const Variant& Left, const Variant& Right);
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
