// The expression evaluator, the base data provider and the result-list
// generator.

#include "sql/vekExprEvaluator.h"

#include "host/DataSet.h"
#include "host/DBFields.h"

#include <cmath>
#include <cstdint>

namespace orvex {

namespace {

// Mirrors deeper than this are refused: no tree the parsers build comes near.
constexpr int MaxMirrorDepth = 4 * MaxExprTreeHeight;

bool IsStringType(TFieldType T) { return T == ftString || T == ftWideString; }

// The framework's range of dates: 0001-01-01 to 9999-12-31.
bool IsValidDateTime(double Value)
{
    return std::isfinite(Value) && Value >= -693593.0 && Value < 2958466.0;
}

// Converts without raising: false when the value does not convert.
bool TryAsDateTime(const Variant& Value, TDateTime& Result)
{
    try {
        Result = Value.AsDateTime();
    } catch (const Exception&) {
        return false;
    }
    return IsValidDateTime(Result);
}

bool TryAsInteger(const Variant& Value, int& Result)
{
    try {
        Result = Value.AsInteger();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// The first column of the current row of a subquery's dataset.
Variant FirstColumn(TDataSet* DataSet)
{
    if (DataSet->FieldCount() == 0)
        return Null();
    return DataSet->Fields()->Fields(0)->Value();
}

// Walks to the first row; the number of rows, counted up to Limit.
int CountRows(TDataSet* DataSet, int Limit)
{
    int Count = 0;
    DataSet->First();
    while (!DataSet->Eof() && Count < Limit) {
        ++Count;
        DataSet->Next();
    }
    DataSet->First();
    return Count;
}

// A number compared by its value alone (as the comparison operators do).
bool PlainNumberValue(const Variant& V, double& Value)
{
    return PlainNumber(V, Value) && !std::isnan(Value);
}

void AddToValueSet(TSubqueryValueSet& Set, const Variant& V)
{
    double Number = 0;
    if (VarIsMissing(V))
        Set.AnyMissing = true;
    else if (PlainNumberValue(V, Number))
        Set.Numbers.insert(Number == 0 ? 0.0 : Number);
    else if (V.VType() == varString)
        Set.Strings.insert(V.AsString());
    else
        Set.AnyOther = true;
}

// Whether some value of Set equals V under the comparison rules, when the
// set can tell (Found := the answer); false when V must be compared with
// values of another kind one by one. Two strings are equal exactly when
// their bytes are, two plain numbers when their values are; a missing value
// equals only a missing one, and only where NULLs are not excluded.
bool InValueSet(const TSubqueryValueSet& Set, const Variant& V, bool ExcludeNulls, bool& Found)
{
    double Number = 0;
    if (VarIsMissing(V)) {
        Found = !ExcludeNulls && Set.AnyMissing;
        return true;
    }
    if (PlainNumberValue(V, Number)) {
        Found = Set.Numbers.count(Number == 0 ? 0.0 : Number) != 0;
        return Found || (Set.Strings.empty() && !Set.AnyOther);
    }
    if (V.VType() == varString) {
        Found = Set.Strings.count(V.AsString()) != 0;
        return Found || (Set.Numbers.empty() && !Set.AnyOther);
    }
    return false;
}

TDataSet* OpenSubquery(TVekExprNode* Node, const char* MissingText)
{
    TCustomExprNodeDataProvider* Provider = Node ? Node->ExprNodeDataProvider() : nullptr;
    ORVEX_ASSERT(Provider != nullptr, MissingText);
    if (!Provider->PrepareAndOpen())
        return nullptr;
    return Provider->ProviderDataset();
}

} // namespace

bool MatchLikePattern(const std::string& Value, const std::string& Pattern, char Escape)
{
    // The pattern as elements: a literal character, "_" or "%".
    enum class TKind { Literal, One, Run };
    struct TElement {
        TKind Kind;
        char C;
    };
    std::vector<TElement> Elements;
    Elements.reserve(Pattern.size());
    for (std::size_t I = 0; I < Pattern.size(); ++I) {
        const char C = Pattern[I];
        if (Escape != '\0' && C == Escape && I + 1 < Pattern.size())
            Elements.push_back({TKind::Literal, Pattern[++I]});
        else if (C == '%')
            Elements.push_back({TKind::Run, C});
        else if (C == '_')
            Elements.push_back({TKind::One, C});
        else
            Elements.push_back({TKind::Literal, C});
    }
    // Greedy matching that returns to the last run on a mismatch.
    std::size_t V = 0, P = 0;
    std::size_t RunP = std::string::npos, RunV = 0;
    while (V < Value.size()) {
        if (P < Elements.size() && Elements[P].Kind == TKind::Run) {
            RunP = P++;
            RunV = V;
        } else if (P < Elements.size() &&
                   (Elements[P].Kind == TKind::One || Elements[P].C == Value[V])) {
            ++P;
            ++V;
        } else if (RunP != std::string::npos) {
            P = RunP + 1;
            V = ++RunV;
        } else {
            return false;
        }
    }
    while (P < Elements.size() && Elements[P].Kind == TKind::Run)
        ++P;
    return P == Elements.size();
}

// ============================================================== provider

TVekExprDataProvider::TVekExprDataProvider() : FProviderFields(new TInternalFields()) {}

TVekExprDataProvider::~TVekExprDataProvider()
{
    delete FProviderFields;
}

Variant TVekExprDataProvider::GetDataAsVariant(Integer)
{
    return Unassigned();
}

bool TVekExprDataProvider::IsFieldNull(Integer FieldNo)
{
    return GetDataAsVariant(FieldNo).IsNull();
}

void TVekExprDataProvider::GetDefaultAddressList(std::vector<Cardinal>& Addresses)
{
    TCompoundList Records;
    GetDefaultRecordList(&Records);
    Addresses.clear();
    Addresses.reserve(static_cast<std::size_t>(Records.Count()));
    for (int I = 0; I < Records.Count(); ++I)
        Addresses.push_back(static_cast<Cardinal>(reinterpret_cast<std::uintptr_t>(Records.Items(I))));
}

void TVekExprDataProvider::ScanRecords(const Cardinal* Addresses, std::size_t Count,
                                       const std::function<void(std::size_t)>& Visit)
{
    // An address listed twice in a row is read once.
    bool Found = false;
    for (std::size_t I = 0; I < Count; ++I) {
        if (I == 0 || Addresses[I] != Addresses[I - 1])
            Found = MoveToRecord(static_cast<Integer>(Addresses[I]));
        if (Found)
            Visit(I);
    }
}

TInternalFieldItem* TVekExprDataProvider::FindField(const TParserToken*, const std::string& Name)
{
    TInternalFields* Fields = GetProviderFields();
    return Fields ? Fields->FindField(Name) : nullptr;
}

// ============================================================= evaluator

const Variant& TExprEvaluatorNode::NodeResult() const
{
    static const Variant NullValue = Variant::Null();
    if (FResetCounter && FResultStamp != *FResetCounter)
        return NullValue;
    switch (FResultForm) {
    case TResultForm::Data:
        return FExprNode->Data();
    case TResultForm::Truth:
        FNodeResult = TruthToVar(FTruth);
        FResultForm = TResultForm::Value;
        break;
    case TResultForm::Value:
        break;
    }
    return FNodeResult;
}

TExprEvaluator::~TExprEvaluator()
{
    Clear();
}

void TExprEvaluator::Clear()
{
    TExprEvaluatorNode* Node = FFirstNode;
    FFirstNode = nullptr;
    FRoot = nullptr;
    while (Node) {
        TExprEvaluatorNode* Next = Node->Next();
        delete Node;
        Node = Next;
    }
}

void TExprEvaluator::Prepare(TVekExprDataProvider* Provider, TVekExprNode* Root)
{
    Clear();
    FDataProvider = Provider;
    if (!FDBStringCompare && Provider)
        FDBStringCompare = Provider->DBStringCompare();
    FRoot = InternalCreateEvaluatorNode(Root, 0);
}

TExprEvaluatorNode* TExprEvaluator::InternalCreateEvaluatorNode(TVekExprNode* Node, int Depth)
{
    if (!Node)
        return nullptr;
    ORVEX_ASSERT(Depth < MaxMirrorDepth, "Expression tree too deep to evaluate");
    // Every mirror is chained, arguments included, so that Clear frees all.
    auto* Mirror = new TExprEvaluatorNode();
    Mirror->SetNext(FFirstNode);
    FFirstNode = Mirror;
    Mirror->SetExprNode(Node);
    Mirror->SetResetCounter(&FResetCounter);
    Mirror->SetNodeResult(Null());
    if (Node->Kind() == enkField) {
        if (Node->TokenArgs().empty()) {
            Mirror->SetDataProvider(FDataProvider);
            ORVEX_ASSERT(FDataProvider != nullptr, "Field not found in TExprEvaluator");
            Mirror->SetFieldRef(FDataProvider->FindField(nullptr, VarToStr(Node->Data())));
        } else {
            const TParserToken* TableToken = Node->TokenArgs()[0];
            TVekExprDataProvider* Provider =
                FDataProvider ? FDataProvider->FindProvider(TableToken->Text()) : nullptr;
            ORVEX_ASSERT(Provider != nullptr,
                         "The Evaluator node data provider could not be found: " + TableToken->Text());
            Mirror->SetDataProvider(Provider);
            Mirror->SetFieldRef(Provider->FindField(TableToken, VarToStr(Node->Data())));
        }
        ORVEX_ASSERT(Mirror->FieldRef() != nullptr, "Field not found in TExprEvaluator");
    }
    for (TVekExprNode* Arg : Node->Args())
        Mirror->Args().push_back(InternalCreateEvaluatorNode(Arg, Depth + 1));
    Mirror->SetLeft(InternalCreateEvaluatorNode(Node->Left(), Depth + 1));
    Mirror->SetRight(InternalCreateEvaluatorNode(Node->Right(), Depth + 1));
    return Mirror;
}

void TExprEvaluator::Reset()
{
    // Every kept result now reads as Null. After 2^32 resets the count comes
    // round again: then every node is set to Null for real.
    if (++FResetCounter == 0)
        for (TExprEvaluatorNode* Node = FFirstNode; Node; Node = Node->Next())
            Node->SetNodeResult(Variant::Null());
}

bool TExprEvaluator::Evaluate()
{
    if (!FRoot)
        return false;
    const TVekExprNode* Expr = FRoot->ExprNode();
    if (Expr->Operator() == veoISBLANK && FRoot->Left() && FRoot->Left()->FieldRef()) {
        TExprEvaluatorNode* Field = FRoot->Left();
        return Field->DataProvider()->IsFieldNull(Field->FieldRef()->FieldNo());
    }
    if (IsCondition(FRoot))
        return EvaluateCondition(FRoot) == TVekTruth::True;
    const Variant& Result = EvaluateNode(FRoot);
    if (Result.IsEmpty())
        return false;
    return VarIsTrue(Result);
}

bool TExprEvaluator::EvaluatePasses()
{
    return FRoot != nullptr && Passes(FRoot);
}

bool TExprEvaluator::Passes(TExprEvaluatorNode* Node)
{
    const TVekExprNode* Expr = Node->ExprNode();
    if (Expr->Kind() == enkLogicalOperator && Expr->Operator() == veoAND && Node->Left() && Node->Right())
        return Passes(Node->Left()) && Passes(Node->Right());
    return EvaluateOperandTruth(Node) == TVekTruth::True;
}

Variant TExprEvaluator::EvaluateValueExpr()
{
    if (!FRoot)
        return Variant();
    return EvaluateNode(FRoot);
}

Variant TExprEvaluator::FieldValue(TExprEvaluatorNode* Node)
{
    Variant Value = Node->DataProvider()->GetDataAsVariant(Node->FieldRef()->FieldNo());
    const TVekExprNode* Expr = Node->ExprNode();
    if (Expr->CaseInsensitiveMatch() && IsStringType(Node->FieldRef()->DataType()) &&
        Value.VType() == varString)
        Value = Variant(AnsiUpperCase(Value.AsString()));
    return Value;
}

bool TExprEvaluator::IsCondition(const TExprEvaluatorNode* Node)
{
    const TVekExprNode* Expr = Node->ExprNode();
    const TVekExprOperator Op = Expr->Operator();
    if ((Op == veoISBLANK || Op == veoNOTBLANK) && Node->Left() && Node->Left()->FieldRef())
        return true;
    switch (Expr->Kind()) {
    case enkRelOperator:
        return true;
    case enkLogicalOperator:
        return Op == veoNOT || Op == veoAND || Op == veoOR;
    case enkNonRelPredicate:
        switch (Expr->ParserToken()->Token()) {
        case vstLike:
        case vstNotLike:
        case vstIn:
        case vstNotIn:
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

TVekTruth TExprEvaluator::EvaluateCondition(TExprEvaluatorNode* Node)
{
    static const Variant Unknown;
    TVekExprNode* Expr = Node->ExprNode();
    const TVekExprOperator Op = Expr->Operator();
    TVekTruth Result = TVekTruth::Unknown;
    if ((Op == veoISBLANK || Op == veoNOTBLANK) && Node->Left() && Node->Left()->FieldRef()) {
        TExprEvaluatorNode* Field = Node->Left();
        const bool IsNull = Field->DataProvider()->IsFieldNull(Field->FieldRef()->FieldNo());
        Result = (Op == veoISBLANK ? IsNull : !IsNull) ? TVekTruth::True : TVekTruth::False;
    } else if (Expr->Kind() == enkRelOperator) {
        // Subquery operands are run by the comparison itself.
        Result = EvaluateRelop(Node);
    } else if (Expr->Kind() == enkLogicalOperator) {
        // Both operands are evaluated, in order, whatever the first gives.
        const TVekTruth Left = Node->Left() ? EvaluateOperandTruth(Node->Left()) : TVekTruth::Unknown;
        const TVekTruth Right = Node->Right() ? EvaluateOperandTruth(Node->Right()) : TVekTruth::Unknown;
        Result = FOpEvaluator.EvaluateLogicalTruth(Op, Left, Right);
    } else {
        const Variant& Left = Node->Left() ? EvaluateNode(Node->Left()) : Unknown;
        const Variant& Right = Node->Right() ? EvaluateNode(Node->Right()) : Unknown;
        switch (Expr->ParserToken()->Token()) {
        case vstLike:
        case vstNotLike:
            Result = EvaluateLike(Node, Left, Right);
            break;
        case vstIn:
            Result = EvaluateInPredicate(Left, Node) ? TVekTruth::True : TVekTruth::False;
            break;
        default: // vstNotIn
            Result = EvaluateInPredicate(Left, Node) ? TVekTruth::False : TVekTruth::True;
            break;
        }
    }
    Node->SetTruthResult(Result);
    return Result;
}

TVekTruth TExprEvaluator::EvaluateOperandTruth(TExprEvaluatorNode* Node)
{
    if (IsCondition(Node))
        return EvaluateCondition(Node);
    return VarTruth(EvaluateNode(Node));
}

const Variant& TExprEvaluator::EvaluateNode(TExprEvaluatorNode* Node)
{
    static const Variant Unknown;
    if (!Node)
        return Unknown;
    if (IsCondition(Node)) {
        EvaluateCondition(Node);
        return Node->NodeResult();
    }
    TVekExprNode* Expr = Node->ExprNode();
    const TVekExprOperator Op = Expr->Operator();
    if ((Expr->Kind() == enkConst || Expr->Kind() == enkParam) && !Node->Left() && !Node->Right()) {
        Node->SetNodeResultToData();
        return Expr->Data();
    }
    if (Expr->Kind() == enkField && !Node->Left() && !Node->Right()) {
        Node->SetNodeResult(FieldValue(Node));
        return Node->NodeResult();
    }
    const Variant& Left = Node->Left() ? EvaluateNode(Node->Left()) : Unknown;
    const Variant& Right = Node->Right() ? EvaluateNode(Node->Right()) : Unknown;
    Variant Result;
    switch (Expr->Kind()) {
    case enkConst:
    case enkParam:
        Result = Expr->Data();
        break;
    case enkField:
        Result = FieldValue(Node);
        break;
    case enkLogicalOperator:
        // IS [NOT] NULL of a value that is no field.
        FOpEvaluator.InternalEvaluateLogicalExprValues(Op, Left, Right, Result);
        break;
    case enkArithOperator:
        FOpEvaluator.EvaluateArithExprValues(Op, Left, Right, Result);
        break;
    case enkFunc:
        switch (Expr->ParserToken()->Token()) {
        case vstStrFunc:
            Result = EvaluateStrFunc(Node, Left, Right);
            break;
        case vstCast:
            Result = EvaluateCastExpr(Node, Right);
            break;
        case vstExtract:
            Result = EvaluateExtractExpr(Node, Right);
            break;
        default:
            // Aggregates and outer references get their values from the
            // result-set layer and the statement driver.
            break;
        }
        break;
    case enkSubquery:
        switch (Expr->ParserToken()->CustomOrdinal()) {
        case vsqExists:
            Result = EvaluateExists(Expr);
            break;
        case vsqUnspecified:
            Result = EvaluateSubqueryValue(Expr);
            break;
        default:
            break;
        }
        break;
    default:
        // Other predicates give Empty.
        break;
    }
    Node->SetNodeResult(std::move(Result));
    return Node->NodeResult();
}

TVekTruth TExprEvaluator::EvaluateRelop(TExprEvaluatorNode* Node)
{
    TVekExprNode* Expr = Node->ExprNode();
    const TVekExprOperator Op = Expr->Operator();
    TExprEvaluatorNode* L = Node->Left();
    TExprEvaluatorNode* R = Node->Right();
    const bool LSub = L && L->ExprNode()->Operator() == veoSUBQUERY;
    const bool RSub = R && R->ExprNode()->Operator() == veoSUBQUERY;
    if (L && R) {
        if (LSub && RSub)
            return VarTruth(EvaluateDualSubqueries(Op, L->ExprNode(), R->ExprNode()));
        if (LSub)
            return VarTruth(EvaluateLeftSubquery(Op, L->ExprNode(), EvaluateNode(R), true));
        if (RSub)
            return VarTruth(EvaluateLeftSubquery(Op, R->ExprNode(), EvaluateNode(L), false));
    }
    static const Variant Unknown;
    const Variant& Left = L ? EvaluateNode(L) : Unknown;
    const Variant& Right = R ? EvaluateNode(R) : Unknown;
    if (L && R && IsStringType(L->ExprNode()->DataType()) && IsStringType(R->ExprNode()->DataType()) &&
        !VarIsMissing(Left) && !VarIsMissing(Right)) {
        ORVEX_ASSERT(static_cast<bool>(FDBStringCompare), "String Comparison method is not assigned");
        const std::string A = VarToStr(Left);
        const std::string B = VarToStr(Right);
        const Integer P1 = L->ExprNode()->PartialLength();
        const Integer P2 = R->ExprNode()->PartialLength();
        Integer Len1 = P1 > 0 ? P1 : static_cast<Integer>(A.size());
        Integer Len2 = P2 > 0 ? P2 : static_cast<Integer>(B.size());
        const bool Partial = P1 > 0 || P2 > 0;
        if (Partial) {
            // The field is compared over the other side's length.
            if (L->ExprNode()->Kind() == enkField)
                Len1 = Len2;
            else if (R->ExprNode()->Kind() == enkField)
                Len2 = Len1;
        }
        // The keys are read as zero-terminated texts of at most their length.
        Len1 = std::min<Integer>(Len1, static_cast<Integer>(A.size()));
        Len2 = std::min<Integer>(Len2, static_cast<Integer>(B.size()));
        const int C = FDBStringCompare(A.c_str(), B.c_str(), Len1, Len2, Expr->CaseInsensitiveMatch(), Partial);
        return FOpEvaluator.EvaluateRelopTruth(Op, Variant(C), Variant(0), FExcludeRelopNulls);
    }
    return FOpEvaluator.EvaluateRelopTruth(Op, Left, Right, FExcludeRelopNulls);
}

TVekTruth TExprEvaluator::EvaluateLike(TExprEvaluatorNode* Node, const Variant& Left, const Variant& Right)
{
    // An unknown value or pattern: unknown where NULLs are excluded (SQL),
    // else a match of nothing, negated or not (table filters).
    if (VarIsMissing(Left) || VarIsMissing(Right))
        return FExcludeRelopNulls ? TVekTruth::Unknown : TVekTruth::False;
    char Escape = '\0';
    if (!Node->Args().empty()) {
        const Variant& EscapeValue = EvaluateNode(Node->Args()[0]);
        const std::string Text = VarToStr(EscapeValue);
        if (!Text.empty())
            Escape = Text[0];
    }
    const bool Match = Escape != '\0' ? MatchLikePattern(VarToStr(Left), VarToStr(Right), Escape)
                                      : MatchPatternedStrings(VarToStr(Left), VarToStr(Right), '%', '_');
    const bool Negated = Node->ExprNode()->ParserToken()->Token() == vstNotLike;
    return Negated != Match ? TVekTruth::True : TVekTruth::False;
}

bool TExprEvaluator::EvaluateInPredicate(const Variant& Value, TExprEvaluatorNode* Node)
{
    std::vector<TExprEvaluatorNode*>& Args = Node->Args();
    if (Args.size() == 1 && Args[0] && Args[0]->ExprNode()->Operator() == veoSUBQUERY) {
        TDataSet* DataSet = OpenSubquery(Args[0]->ExprNode(), "ExprNodeDataProvider is not assigned");
        if (!DataSet)
            return false;
        // An uncorrelated subquery's rows are read once into a value set;
        // a value finds its equal there unless it must be compared with
        // values of another kind, which the walk below does as always.
        TCustomExprNodeDataProvider* Provider = Args[0]->ExprNode()->ExprNodeDataProvider();
        if (Provider->RowsAreReused()) {
            std::unique_ptr<TSubqueryValueSet>& Set = Provider->ValueSet();
            if (!Set) {
                Set = std::make_unique<TSubqueryValueSet>();
                for (DataSet->First(); !DataSet->Eof(); DataSet->Next())
                    AddToValueSet(*Set, FirstColumn(DataSet));
                DataSet->First();
            }
            bool Found = false;
            if (InValueSet(*Set, Value, FExcludeRelopNulls, Found))
                return Found;
        }
        for (DataSet->First(); !DataSet->Eof(); DataSet->Next())
            if (FOpEvaluator.EvaluateRelopExprAsBoolean(veoEQ, FirstColumn(DataSet), Value, FExcludeRelopNulls))
                return true;
        return false;
    }
    for (TExprEvaluatorNode* Arg : Args)
        if (FOpEvaluator.EvaluateRelopExprAsBoolean(veoEQ, Value, EvaluateNode(Arg), FExcludeRelopNulls))
            return true;
    return false;
}

// ============================================================ subqueries

Variant TExprEvaluator::EvaluateExists(TVekExprNode* Node)
{
    TDataSet* DataSet = OpenSubquery(Node, "ExprNodeDataProvider is not assigned");
    if (!DataSet)
        return Variant(false);
    return Variant(CountRows(DataSet, 1) > 0);
}

Variant TExprEvaluator::EvaluateSubqueryValue(TVekExprNode* Node)
{
    static const char* const Caller = "TExprEvaluator.EvaluateSubqueryValue";
    TDataSet* DataSet = OpenSubquery(Node, "ExprNodeDataProvider is not assigned");
    if (!DataSet)
        return Variant();
    const int Rows = CountRows(DataSet, 2);
    if (Rows >= 2)
        VekDatabaseError(9650, Caller, "", nullptr);
    if (DataSet->FieldCount() >= 2)
        VekDatabaseError(9656, Caller, "", nullptr);
    if (Rows == 0)
        return Null();
    return FirstColumn(DataSet);
}

Variant TExprEvaluator::EvaluateLeftSubquery(TVekExprOperator Op, TVekExprNode* Subquery, const Variant& Value,
                                             bool SubqueryLeft)
{
    TDataSet* DataSet = OpenSubquery(Subquery, SubqueryLeft ? "Left ExprNodeDataProvider is not assigned"
                                                            : "Right ExprNodeDataProvider is not assigned");
    if (!DataSet)
        return Variant();
    auto Compare = [&](const Variant& Row) {
        return SubqueryLeft ? FOpEvaluator.EvaluateRelopExprAsVar(Op, Row, Value, FExcludeRelopNulls)
                            : FOpEvaluator.EvaluateRelopExprAsVar(Op, Value, Row, FExcludeRelopNulls);
    };
    switch (Subquery->ParserToken()->CustomOrdinal()) {
    case vsqAnyOrSome:
        for (DataSet->First(); !DataSet->Eof(); DataSet->Next())
            if (VarIsTrue(Compare(FirstColumn(DataSet))))
                return Variant(true);
        return Variant(false);
    case vsqAll:
        for (DataSet->First(); !DataSet->Eof(); DataSet->Next())
            if (!VarIsTrue(Compare(FirstColumn(DataSet))))
                return Variant(false);
        return Variant(true);
    default: {
        const int Rows = CountRows(DataSet, 2);
        if (Rows >= 2)
            VekDatabaseError(9650, "TExprEvaluator.EvaluateLeftSubquery", "", nullptr);
        if (Rows == 0)
            return Variant();
        return Compare(FirstColumn(DataSet));
    }
    }
}

Variant TExprEvaluator::EvaluateDualSubqueries(TVekExprOperator Op, TVekExprNode* Left, TVekExprNode* Right)
{
    static const char* const Caller = "TExprEvaluator.EvaluateDualSubqueries";
    TDataSet* L = OpenSubquery(Left, "Left ExprNodeDataProvider is not assigned");
    TDataSet* R = OpenSubquery(Right, "Right ExprNodeDataProvider is not assigned");
    if (!L || !R)
        return Variant();
    const int LRows = CountRows(L, 2);
    const int RRows = CountRows(R, 2);
    if (LRows >= 2 || RRows >= 2)
        VekDatabaseError(9650, Caller, "", nullptr);
    if (LRows == 1 && RRows == 1)
        return FOpEvaluator.EvaluateRelopExprAsVar(Op, FirstColumn(L), FirstColumn(R), FExcludeRelopNulls);
    return Variant();
}

// ============================================================= functions

Variant TExprEvaluator::EvaluateStrFunc(TExprEvaluatorNode* Node, const Variant& Left, const Variant& Right)
{
    const TParserToken* Token = Node->ExprNode()->ParserToken();
    switch (Token->CustomOrdinal()) {
    case vsfSubstring: {
        if (VarIsMissing(Left) || VarIsMissing(Right))
            return Null();
        const std::string S = VarToStr(Left);
        int Start = 0;
        if (!TryAsInteger(Right, Start))
            return Variant();
        long long Length = static_cast<long long>(S.size());
        if (!Node->Args().empty() && Node->Args()[0]) {
            const Variant& LengthValue = EvaluateNode(Node->Args()[0]);
            if (VarIsMissing(LengthValue))
                return Null();
            int L = 0;
            if (!TryAsInteger(LengthValue, L))
                return Variant();
            Length = L;
        }
        return Variant(Copy(S, Start, Length));
    }
    case vsfUpper:
        return VarIsMissing(Right) ? Null() : Variant(AnsiUpperCase(VarToStr(Right)));
    case vsfLower:
        return VarIsMissing(Right) ? Null() : Variant(AnsiLowerCase(VarToStr(Right)));
    case vsfTrim:
    case vsfTrimLeading:
    case vsfTrimTrailing:
    case vsfTrimBoth: {
        // TRIM of an unknown string is unknown, like UPPER and LOWER.
        if (VarIsMissing(Left))
            return Null();
        char TrimChar = ' ';
        if (Node->Right()) {
            if (!VarIsMissing(Right)) {
                const std::string Chars = VarToStr(Right);
                if (Chars.empty())
                    return Variant(std::string());
                TrimChar = Chars[0];
            }
        }
        const std::string S = VarToStr(Left);
        std::size_t First = 0, Last = S.size();
        const int Spec = Token->CustomOrdinal();
        if (Spec != vsfTrimTrailing)
            while (First < Last && S[First] == TrimChar)
                ++First;
        if (Spec != vsfTrimLeading)
            while (Last > First && S[Last - 1] == TrimChar)
                --Last;
        return Variant(S.substr(First, Last - First));
    }
    default:
        return Null();
    }
}

Variant TExprEvaluator::EvaluateCastExpr(TExprEvaluatorNode* Node, const Variant& Value)
{
    if (VarIsMissing(Value))
        return Value;
    const TVekExprNode* Expr = Node->ExprNode();
    const TFieldType Type = Expr->DataType();
    try {
        switch (Type) {
        case ftString:
        case ftWideString: {
            std::string S = VarToStr(Value);
            if (Expr->DataSize() >= 0 && static_cast<std::size_t>(Expr->DataSize()) < S.size())
                S.resize(static_cast<std::size_t>(Expr->DataSize()));
            return Variant(S);
        }
        case ftSmallint:
            return VarAsType(Value, varSmallint);
        case ftInteger:
            return VarAsType(Value, varInteger);
        case ftBoolean:
            return VarAsType(Value, varBoolean);
        case ftFloat:
            return VarAsType(Value, varDouble);
        case ftCurrency:
            return VarAsType(Value, varCurrency);
        case ftDate:
        case ftTime:
        case ftDateTime: {
            TDateTime D = 0;
            if (!TryAsDateTime(Value, D))
                return Variant();
            if (Type == ftDate)
                D = std::trunc(D);
            else if (Type == ftTime)
                D = std::fabs(D - std::trunc(D));
            return Variant::FromDate(D);
        }
        case ftMemo:
        case ftFmtMemo:
            return Variant(VarToStr(Value));
        default:
            break;
        }
    } catch (const EVariantError&) {
        // A value that does not convert is unknown.
        return Variant();
    }
    VekDatabaseError(10000, "TExprEvaluator.EvaluateCastExpr", FieldTypeName(Type), nullptr);
}

Variant TExprEvaluator::EvaluateExtractExpr(TExprEvaluatorNode* Node, const Variant& Value)
{
    if (VarIsMissing(Value))
        return Value;
    const int Field = Node->ExprNode()->ParserToken()->CustomOrdinal();
    if (Field < vstYear || Field > vstSecond)
        VekDatabaseError(10000, "TExprEvaluator.EvaluateExtractExpr", SvekInvalidFieldinEXTRACTExpr, nullptr);
    TDateTime D = 0;
    if (!TryAsDateTime(Value, D))
        return Variant();
    int Year = 0, Month = 0, Day = 0, Hour = 0, Min = 0, Sec = 0, MSec = 0;
    DecodeDate(D, Year, Month, Day);
    DecodeTime(D, Hour, Min, Sec, MSec);
    switch (Field) {
    case vstYear:
        return Variant(Year);
    case vstMonth:
        return Variant(Month);
    case vstDay:
        return Variant(Day);
    case vstHour:
        return Variant(Hour);
    case vstMinute:
        return Variant(Min);
    default:
        return Variant(Sec + MSec / 1000.0);
    }
}

// ======================================================= result lists

void TExprResultListGenerator::CreateResultList(TVekExprDataProvider* Provider, TVekExprNode* Root,
                                                bool ExcludeNulls, TCompoundList* OutList, TCompoundList* InList)
{
    if (!Provider || !Provider->DBStringCompare())
        VekDatabaseError(10065, "TExprResultListGenerator.CreateResultList", "", nullptr);
    OutList->Clear();
    if (!InList)
        return;
    const int Count = InList->Count();
    if (!Root) {
        for (int I = 0; I < Count; ++I)
            OutList->Add(InList->List1()->Get(I), InList->List2()->Get(I));
        return;
    }
    TExprEvaluator Evaluator;
    Evaluator.SetExcludeRelopNulls(ExcludeNulls);
    Evaluator.SetDBStringCompare(Provider->DBStringCompare());
    Evaluator.Prepare(Provider, Root);
    for (int I = 0; I < Count; ++I) {
        void* RecNo = InList->List1()->Get(I);
        Provider->MoveToRecord(static_cast<Integer>(reinterpret_cast<std::intptr_t>(RecNo)));
        Evaluator.Reset();
        if (Evaluator.Evaluate())
            OutList->Add(RecNo, InList->List2()->Get(I));
    }
}

} // namespace orvex
