// Typed evaluation of conditions: the tree compiled once into steps that read
// field bytes straight from the provider's record buffer.
//
// Every step gives what the Variant evaluator gives for the same node:
// numbers compare as doubles (the evaluator's rule for plain numbers), an
// arithmetic operation is typed only where the evaluator computes it in
// doubles (an operand of type double), strings compare through the
// database's compare routine over the evaluator's lengths, LIKE matches the
// value up to its first NUL, and NULL follows the evaluator's rule in use.
// What is not covered (dates, currency constants, subqueries, functions,
// integer arithmetic, fields of other providers ...) is one fallback step
// that asks the evaluator for that node.

#include "sql/vekExprEvaluator.h"

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"

#include <cstring>

namespace orvex {

namespace {

enum class TStep : std::uint8_t {
    // Truth values.
    CompareNumbers, CompareFieldConst, CompareTexts, Like, LikePrefix, InNumbers, IsNull, BoolField, Not, And, Or, Fallback,
    // Numbers.
    NumberField, NumberConst, Arith,
    // Texts.
    TextField, TextConst
};

bool IsStringType(TFieldType T) { return T == ftString || T == ftWideString; }

bool IsComparison(TVekExprOperator Op)
{
    switch (Op) {
    case veoEQ:
    case veoNE:
    case veoGT:
    case veoLT:
    case veoGE:
    case veoLE:
        return true;
    default:
        return false;
    }
}

TVekTruth TruthOf(bool B) { return B ? TVekTruth::True : TVekTruth::False; }

// C (a comparison's outcome: negative, zero, positive) under Op.
bool CompareOutcome(TVekExprOperator Op, int C)
{
    switch (Op) {
    case veoEQ:
        return C == 0;
    case veoNE:
        return C != 0;
    case veoGT:
        return C > 0;
    case veoLT:
        return C < 0;
    case veoGE:
        return C >= 0;
    default: // veoLE
        return C <= 0;
    }
}

bool CompareDoubles(TVekExprOperator Op, double X, double Y)
{
    switch (Op) {
    case veoEQ:
        return X == Y;
    case veoNE:
        return X != Y;
    case veoGT:
        return X > Y;
    case veoLT:
        return X < Y;
    case veoGE:
        return X >= Y;
    default: // veoLE
        return X <= Y;
    }
}

// The evaluator's rule for a comparison with a missing operand.
TVekTruth CompareMissing(TVekExprOperator Op, bool AMissing, bool BMissing, bool ExcludeNulls)
{
    if (ExcludeNulls)
        return TVekTruth::Unknown;
    // Null ranks below every value; two Nulls are equal.
    const int C = AMissing && BMissing ? 0 : AMissing ? -1 : 1;
    return TruthOf(CompareOutcome(Op, C));
}

// A constant as a plain number: the evaluator's plain numbers are doubles,
// integers, small integers and bytes.
bool PlainConstant(const Variant& V, double& Value, bool& IsDouble)
{
    switch (V.VType()) {
    case varDouble:
        Value = V.AsDouble();
        IsDouble = true;
        return true;
    case varInteger:
    case varSmallint:
    case varByte:
        Value = V.AsInteger();
        IsDouble = false;
        return true;
    default:
        return false;
    }
}

bool IsPlainConstantNode(const TExprEvaluatorNode* Node)
{
    const TVekExprNode* Expr = Node->ExprNode();
    return (Expr->Kind() == enkConst || Expr->Kind() == enkParam) && !Node->Left() && !Node->Right();
}

} // namespace

struct TTypedCondition::TNumber {
    double Value;
    bool Known;
};

struct TTypedCondition::TText {
    const char* Data;
    std::size_t Length;
    bool Known;
};

struct TTypedCondition::TNode {
    explicit TNode(TStep Kind) : Step(Kind) {}

    TStep Step;
    TVekExprOperator Op = veoNOTDEFINED;
    int Left = -1;
    int Right = -1;
    // Fields.
    TRawFieldLayout Layout;
    bool UpperCase = false;
    // Constants: a number, or a text (also a LIKE pattern or its prefix).
    double Number = 0;
    bool Known = true;
    std::string Text;
    // A comparison's partial lengths and case rule; LIKE's negation.
    Integer LeftPartial = -1;
    Integer RightPartial = -1;
    bool CaseInsensitive = false;
    bool LeftIsField = false;
    bool RightIsField = false;
    bool Negated = false;
    // IN: the constants, and whether one is NULL.
    std::vector<double> Values;
    bool HasNull = false;
    TExprEvaluatorNode* Mirror = nullptr;
    // A case-insensitive field's upper-cased value.
    std::string Scratch;
};

TTypedCondition::TTypedCondition()
{
    for (int C = 0; C < 256; ++C)
        FUpper[C] = static_cast<Byte>(AnsiUpperCase(std::string(1, static_cast<char>(C)))[0]);
}

TTypedCondition::~TTypedCondition() = default;

int TTypedCondition::Add(TNode&& Node)
{
    FNodes.push_back(std::move(Node));
    return static_cast<int>(FNodes.size()) - 1;
}

bool TTypedCondition::Compile(TExprEvaluator* Evaluator)
{
    FNodes.clear();
    FConjuncts.clear();
    FRoot = -1;
    FFallbacks = 0;
    FEvaluator = Evaluator;
    FProvider = Evaluator ? Evaluator->DataProvider() : nullptr;
    if (!FProvider || !Evaluator->Root() || !FProvider->RawRecordBuffer())
        return false;
    const int Root = CompileTruth(Evaluator->Root());
    if (FNodes[static_cast<std::size_t>(Root)].Step == TStep::Fallback) {
        // Nothing typed: the evaluator alone is the cheaper way.
        FNodes.clear();
        FFallbacks = 0;
        return false;
    }
    FRoot = Root;
    // The operands of the AND chain at the top, left to right: each must
    // pass, and those after a failing one are not evaluated.
    FConjuncts.clear();
    std::vector<int> Pending{Root};
    while (!Pending.empty()) {
        const int Index = Pending.back();
        Pending.pop_back();
        const TNode& Node = FNodes[static_cast<std::size_t>(Index)];
        if (Node.Step == TStep::And) {
            Pending.push_back(Node.Right);
            Pending.push_back(Node.Left);
        } else {
            FConjuncts.push_back(Index);
        }
    }
    return true;
}

int TTypedCondition::Fallback(TExprEvaluatorNode* Node)
{
    TNode Step(TStep::Fallback);
    Step.Mirror = Node;
    ++FFallbacks;
    return Add(std::move(Step));
}

int TTypedCondition::CompileField(TExprEvaluatorNode* Node)
{
    // A plain field of this provider, held in its buffer, inside the buffer.
    if (Node->ExprNode()->Kind() != enkField || Node->Left() || Node->Right() || !Node->FieldRef() ||
        Node->DataProvider() != FProvider)
        return -1;
    TRawFieldLayout Layout;
    if (!FProvider->RawFieldLayout(Node->FieldRef()->FieldNo(), Layout))
        return -1;
    const std::size_t Size = FProvider->RawRecordSize();
    auto Inside = [Size](Integer Offset, Integer Length) {
        return Offset >= 0 && Length >= 0 && static_cast<std::size_t>(Offset) + static_cast<std::size_t>(Length) <= Size;
    };
    if (!Inside(Layout.NullFlagOffset, 1) || !Inside(Layout.DataOffset, Layout.Size) ||
        (Layout.SizeMarkerOffset >= 0 && !Inside(Layout.SizeMarkerOffset, 2)))
        return -1;
    TNode Step(TStep::NumberField);
    Step.Layout = Layout;
    return Add(std::move(Step));
}

int TTypedCondition::CompileNumber(TExprEvaluatorNode* Node, bool& IsDouble)
{
    if (!Node || Node->ExprNode()->Operator() == veoSUBQUERY)
        return -1;
    const TVekExprNode* Expr = Node->ExprNode();
    if (IsPlainConstantNode(Node)) {
        TNode Step(TStep::NumberConst);
        const Variant& Data = Expr->Data();
        if (VarIsMissing(Data)) {
            Step.Known = false;
            IsDouble = false;
            return Add(std::move(Step));
        }
        if (!PlainConstant(Data, Step.Number, IsDouble))
            return -1;
        return Add(std::move(Step));
    }
    if (Expr->Kind() == enkField) {
        const int Field = CompileField(Node);
        if (Field < 0)
            return -1;
        TNode& Step = FNodes[static_cast<std::size_t>(Field)];
        switch (Step.Layout.DataType) {
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc:
            IsDouble = false;
            break;
        case ftFloat:
        case ftCurrency:
            if (Step.Layout.Size < 8)
                return -1;
            IsDouble = true;
            break;
        default:
            return -1;
        }
        const Integer Need = Step.Layout.DataType == ftInteger || Step.Layout.DataType == ftAutoInc ? 4
                             : IsDouble                                                             ? 8
                                                                                                    : 2;
        return Step.Layout.Size >= Need ? Field : -1;
    }
    if (Expr->Kind() == enkArithOperator && Node->Left() && Node->Right()) {
        const TVekExprOperator Op = Expr->Operator();
        if (Op != veoADD && Op != veoSUB && Op != veoMINUS && Op != veoMUL && Op != veoDIV)
            return -1;
        bool LeftDouble = false, RightDouble = false;
        const std::size_t Mark = FNodes.size();
        const int L = CompileNumber(Node->Left(), LeftDouble);
        const int R = L < 0 ? -1 : CompileNumber(Node->Right(), RightDouble);
        // Two integers are computed by the Variant operations (which widen
        // on overflow): left to the evaluator.
        if (L < 0 || R < 0 || (!LeftDouble && !RightDouble)) {
            FNodes.erase(FNodes.begin() + static_cast<std::ptrdiff_t>(Mark), FNodes.end());
            return -1;
        }
        TNode Step(TStep::Arith);
        Step.Op = Op;
        Step.Left = L;
        Step.Right = R;
        IsDouble = true;
        return Add(std::move(Step));
    }
    return -1;
}

int TTypedCondition::CompileText(TExprEvaluatorNode* Node)
{
    if (!Node || Node->ExprNode()->Operator() == veoSUBQUERY)
        return -1;
    const TVekExprNode* Expr = Node->ExprNode();
    if (IsPlainConstantNode(Node)) {
        TNode Step(TStep::TextConst);
        const Variant& Data = Expr->Data();
        if (VarIsMissing(Data))
            Step.Known = false;
        else if (Data.VType() == varString)
            Step.Text = Data.AsString();
        else
            return -1;
        return Add(std::move(Step));
    }
    if (Expr->Kind() != enkField)
        return -1;
    const int Field = CompileField(Node);
    if (Field < 0)
        return -1;
    TNode& Step = FNodes[static_cast<std::size_t>(Field)];
    if (Step.Layout.DataType != ftString) {
        FNodes.pop_back();
        return -1;
    }
    Step.Step = TStep::TextField;
    // The evaluator upper-cases the value of a case-insensitive string field.
    Step.UpperCase = Expr->CaseInsensitiveMatch() && IsStringType(Node->FieldRef()->DataType());
    return Field;
}

int TTypedCondition::CompileTruth(TExprEvaluatorNode* Node)
{
    TVekExprNode* Expr = Node->ExprNode();
    const TVekExprOperator Op = Expr->Operator();
    const std::size_t Mark = FNodes.size();
    auto GiveUp = [&] {
        FNodes.erase(FNodes.begin() + static_cast<std::ptrdiff_t>(Mark), FNodes.end());
        return Fallback(Node);
    };
    TExprEvaluatorNode* L = Node->Left();
    TExprEvaluatorNode* R = Node->Right();

    if ((Op == veoISBLANK || Op == veoNOTBLANK) && L && L->FieldRef()) {
        const int Field = CompileField(L);
        if (Field < 0)
            return GiveUp();
        TNode Step(TStep::IsNull);
        Step.Negated = Op == veoNOTBLANK;
        Step.Left = Field;
        return Add(std::move(Step));
    }
    switch (Expr->Kind()) {
    case enkLogicalOperator: {
        if (Op != veoNOT && Op != veoAND && Op != veoOR)
            return GiveUp();
        // The evaluator reads a missing operand as unknown.
        if (!L || (Op != veoNOT && !R))
            return GiveUp();
        const int A = CompileTruth(L);
        const int B = Op == veoNOT ? -1 : CompileTruth(R);
        if (FNodes[static_cast<std::size_t>(A)].Step == TStep::Fallback &&
            (B < 0 || FNodes[static_cast<std::size_t>(B)].Step == TStep::Fallback)) {
            // Nothing typed below: one fallback for the whole node.
            FFallbacks -= B < 0 ? 1 : 2;
            return GiveUp();
        }
        TNode Step(Op == veoNOT ? TStep::Not : Op == veoAND ? TStep::And : TStep::Or);
        Step.Left = A;
        Step.Right = B;
        return Add(std::move(Step));
    }
    case enkRelOperator: {
        if (!IsComparison(Op) || !L || !R)
            return GiveUp();
        if (IsStringType(L->ExprNode()->DataType()) && IsStringType(R->ExprNode()->DataType())) {
            const int A = CompileText(L);
            const int B = A < 0 ? -1 : CompileText(R);
            if (B < 0)
                return GiveUp();
            TNode Step(TStep::CompareTexts);
            Step.Op = Op;
            Step.Left = A;
            Step.Right = B;
            Step.LeftPartial = L->ExprNode()->PartialLength();
            Step.RightPartial = R->ExprNode()->PartialLength();
            Step.CaseInsensitive = Expr->CaseInsensitiveMatch();
            // Which side is the field, for a partial comparison.
            Step.LeftIsField = L->ExprNode()->Kind() == enkField;
            Step.RightIsField = R->ExprNode()->Kind() == enkField;
            if (!FEvaluator->FDBStringCompare)
                return GiveUp();
            return Add(std::move(Step));
        }
        bool LeftDouble = false, RightDouble = false;
        const int A = CompileNumber(L, LeftDouble);
        const int B = A < 0 ? -1 : CompileNumber(R, RightDouble);
        if (B < 0)
            return GiveUp();
        const TNode& Left = FNodes[static_cast<std::size_t>(A)];
        const TNode& Right = FNodes[static_cast<std::size_t>(B)];
        if (Left.Step == TStep::NumberField && Right.Step == TStep::NumberConst && Right.Known) {
            // A field against a known constant, the commonest comparison:
            // one step that reads the field and compares.
            TNode Step(TStep::CompareFieldConst);
            Step.Op = Op;
            Step.Layout = Left.Layout;
            Step.Number = Right.Number;
            FNodes.erase(FNodes.begin() + static_cast<std::ptrdiff_t>(Mark), FNodes.end());
            return Add(std::move(Step));
        }
        TNode Step(TStep::CompareNumbers);
        Step.Op = Op;
        Step.Left = A;
        Step.Right = B;
        return Add(std::move(Step));
    }
    case enkNonRelPredicate: {
        const int Token = Expr->ParserToken()->Token();
        if ((Token == vstLike || Token == vstNotLike) && Node->Args().empty() && L && R) {
            const int A = CompileText(L);
            const int B = A < 0 ? -1 : CompileText(R);
            if (B < 0)
                return GiveUp();
            TNode Step(TStep::Like);
            Step.Negated = Token == vstNotLike;
            Step.Left = A;
            Step.Right = B;
            const TNode& Pattern = FNodes[static_cast<std::size_t>(B)];
            if (Pattern.Step == TStep::TextConst && Pattern.Known) {
                // The pattern ends at its first NUL, as the matcher reads it.
                const std::string Text = Pattern.Text.substr(0, std::strlen(Pattern.Text.c_str()));
                Step.Text = Text;
                // 'ABC%': a literal prefix and one final run.
                if (!Text.empty() && Text.back() == '%' &&
                    Text.find_first_of("%_") == Text.size() - 1) {
                    Step.Step = TStep::LikePrefix;
                    Step.Text.pop_back();
                }
            }
            return Add(std::move(Step));
        }
        if ((Token == vstIn || Token == vstNotIn) && L) {
            bool IsDouble = false;
            const int A = CompileNumber(L, IsDouble);
            if (A < 0)
                return GiveUp();
            TNode Step(TStep::InNumbers);
            Step.Negated = Token == vstNotIn;
            Step.Left = A;
            for (TExprEvaluatorNode* Arg : Node->Args()) {
                if (!Arg || !IsPlainConstantNode(Arg) || Arg->ExprNode()->Operator() == veoSUBQUERY)
                    return GiveUp();
                const Variant& Data = Arg->ExprNode()->Data();
                double Value = 0;
                bool ArgDouble = false;
                if (VarIsMissing(Data))
                    Step.HasNull = true;
                else if (PlainConstant(Data, Value, ArgDouble))
                    Step.Values.push_back(Value);
                else
                    return GiveUp();
            }
            return Add(std::move(Step));
        }
        return GiveUp();
    }
    case enkField: {
        // A Boolean field as a condition.
        const int Field = CompileField(Node);
        if (Field < 0 || FNodes[static_cast<std::size_t>(Field)].Layout.DataType != ftBoolean ||
            FNodes[static_cast<std::size_t>(Field)].Layout.Size < 1)
            return GiveUp();
        FNodes[static_cast<std::size_t>(Field)].Step = TStep::BoolField;
        return Field;
    }
    default:
        return GiveUp();
    }
}

// ================================================================ running

bool TTypedCondition::Passes()
{
    FBuffer = FProvider->RawRecordBuffer();
    if (FFallbacks > 0)
        FEvaluator->Reset();
    // As the evaluator: the operands of an AND at the top must all pass.
    for (const int Index : FConjuncts)
        if (Truth(Index) != TVekTruth::True)
            return false;
    return true;
}

// The value of a plain number field in the record buffer; false when NULL.
bool TTypedCondition::FieldNumber(const TRawFieldLayout& F, double& Value) const
{
    if (FBuffer[F.NullFlagOffset] != F.ValueFlag)
        return false;
    const Byte* Data = FBuffer + F.DataOffset;
    switch (F.DataType) {
    case ftSmallint:
        Value = static_cast<double>(static_cast<std::int16_t>(ReadLE16(Data)));
        return true;
    case ftWord:
        Value = static_cast<double>(ReadLE16(Data));
        return true;
    case ftInteger:
    case ftAutoInc:
        Value = static_cast<double>(static_cast<std::int32_t>(ReadLE32(Data)));
        return true;
    default:
        std::memcpy(&Value, Data, sizeof Value);
        return true;
    }
}

TTypedCondition::TNumber TTypedCondition::Number(int Index)
{
    const TNode& Node = FNodes[static_cast<std::size_t>(Index)];
    switch (Node.Step) {
    case TStep::NumberConst:
        return {Node.Number, Node.Known};
    case TStep::NumberField: {
        double Value = 0;
        if (!FieldNumber(Node.Layout, Value))
            return {0, false};
        return {Value, true};
    }
    default: { // TStep::Arith
        const TNumber A = Number(Node.Left);
        if (!A.Known)
            return {0, false};
        const TNumber B = Number(Node.Right);
        if (!B.Known)
            return {0, false};
        switch (Node.Op) {
        case veoADD:
            return {A.Value + B.Value, true};
        case veoMUL:
            return {A.Value * B.Value, true};
        case veoDIV:
            if (B.Value == 0)
                return {0, false};
            return {A.Value / B.Value, true};
        default: // veoSUB, veoMINUS
            return {A.Value - B.Value, true};
        }
    }
    }
}

TTypedCondition::TText TTypedCondition::Text(int Index)
{
    TNode& Node = FNodes[static_cast<std::size_t>(Index)];
    if (Node.Step == TStep::TextConst)
        return {Node.Text.data(), Node.Text.size(), Node.Known};
    const TRawFieldLayout& F = Node.Layout;
    if (FBuffer[F.NullFlagOffset] != F.ValueFlag)
        return {nullptr, 0, false};
    const char* Data = reinterpret_cast<const char*>(FBuffer + F.DataOffset);
    std::size_t Length = static_cast<std::size_t>(F.Size);
    if (F.SizeMarkerOffset >= 0)
        Length = std::min<std::size_t>(ReadLE16(FBuffer + F.SizeMarkerOffset), Length);
    if (!Node.UpperCase)
        return {Data, Length, true};
    Node.Scratch.resize(Length);
    for (std::size_t I = 0; I < Length; ++I)
        Node.Scratch[I] = static_cast<char>(FUpper[static_cast<Byte>(Data[I])]);
    return {Node.Scratch.data(), Length, true};
}

TVekTruth TTypedCondition::Truth(int Index)
{
    TNode& Node = FNodes[static_cast<std::size_t>(Index)];
    const bool ExcludeNulls = FEvaluator->FExcludeRelopNulls;
    switch (Node.Step) {
    case TStep::CompareFieldConst: {
        double Value = 0;
        if (!FieldNumber(Node.Layout, Value))
            return CompareMissing(Node.Op, true, false, ExcludeNulls);
        return TruthOf(CompareDoubles(Node.Op, Value, Node.Number));
    }
    case TStep::CompareNumbers: {
        const TNumber A = Number(Node.Left);
        const TNumber B = Number(Node.Right);
        if (!A.Known || !B.Known)
            return CompareMissing(Node.Op, !A.Known, !B.Known, ExcludeNulls);
        return TruthOf(CompareDoubles(Node.Op, A.Value, B.Value));
    }
    case TStep::CompareTexts: {
        const TText A = Text(Node.Left);
        const TText B = Text(Node.Right);
        if (!A.Known || !B.Known)
            return CompareMissing(Node.Op, !A.Known, !B.Known, ExcludeNulls);
        // The evaluator's lengths: a partial comparison reads the field
        // over the other side's length; no key beyond its own.
        Integer Len1 = Node.LeftPartial > 0 ? Node.LeftPartial : static_cast<Integer>(A.Length);
        Integer Len2 = Node.RightPartial > 0 ? Node.RightPartial : static_cast<Integer>(B.Length);
        const bool Partial = Node.LeftPartial > 0 || Node.RightPartial > 0;
        if (Partial) {
            if (Node.LeftIsField)
                Len1 = Len2;
            else if (Node.RightIsField)
                Len2 = Len1;
        }
        Len1 = std::min<Integer>(Len1, static_cast<Integer>(A.Length));
        Len2 = std::min<Integer>(Len2, static_cast<Integer>(B.Length));
        // The routine reads zero-terminated keys: an empty text is "".
        const char* P1 = A.Length ? A.Data : "";
        const char* P2 = B.Length ? B.Data : "";
        const int C = FEvaluator->FDBStringCompare(P1, P2, Len1, Len2, Node.CaseInsensitive, Partial);
        return TruthOf(CompareOutcome(Node.Op, C));
    }
    case TStep::Like:
    case TStep::LikePrefix: {
        // An unknown value or pattern: unknown where NULLs are excluded (SQL),
        // else a match of nothing, negated or not (table filters).
        const TVekTruth Missing = ExcludeNulls ? TVekTruth::Unknown : TVekTruth::False;
        const TText A = Text(Node.Left);
        if (!A.Known)
            return Missing;
        bool Match;
        if (Node.Step == TStep::LikePrefix) {
            const std::size_t Length = ::strnlen(A.Data ? A.Data : "", A.Length);
            Match = Length >= Node.Text.size() && std::memcmp(A.Data, Node.Text.data(), Node.Text.size()) == 0;
        } else {
            const TText B = Text(Node.Right);
            if (!B.Known)
                return Missing;
            if (FNodes[static_cast<std::size_t>(Node.Right)].Step == TStep::TextConst) {
                Match = MatchPatternedBytes(A.Data ? A.Data : "", A.Length, Node.Text.c_str());
            } else {
                const std::string Pattern(B.Data ? B.Data : "", B.Length);
                Match = MatchPatternedBytes(A.Data ? A.Data : "", A.Length, Pattern.c_str());
            }
        }
        return TruthOf(Node.Negated ? !Match : Match);
    }
    case TStep::InNumbers: {
        const TNumber A = Number(Node.Left);
        bool Found = false;
        if (!A.Known) {
            // Null = Null holds unless NULLs are excluded.
            Found = Node.HasNull && !ExcludeNulls;
        } else {
            for (const double Value : Node.Values)
                if (A.Value == Value) {
                    Found = true;
                    break;
                }
        }
        return TruthOf(Node.Negated ? !Found : Found);
    }
    case TStep::IsNull: {
        const TRawFieldLayout& F = FNodes[static_cast<std::size_t>(Node.Left)].Layout;
        const bool IsNull = FBuffer[F.NullFlagOffset] != F.ValueFlag;
        return TruthOf(Node.Negated ? !IsNull : IsNull);
    }
    case TStep::BoolField: {
        const TRawFieldLayout& F = Node.Layout;
        if (FBuffer[F.NullFlagOffset] != F.ValueFlag)
            return TVekTruth::Unknown;
        return TruthOf(FBuffer[F.DataOffset] != 0);
    }
    case TStep::Not: {
        const TVekTruth A = Truth(Node.Left);
        return A == TVekTruth::Unknown ? A : TruthOf(A == TVekTruth::False);
    }
    case TStep::And: {
        // Unknown with anything is unknown (the evaluator's rule).
        const TVekTruth A = Truth(Node.Left);
        if (A == TVekTruth::Unknown)
            return A;
        const TVekTruth B = Truth(Node.Right);
        if (B == TVekTruth::Unknown)
            return B;
        return TruthOf(A == TVekTruth::True && B == TVekTruth::True);
    }
    case TStep::Or: {
        const TVekTruth A = Truth(Node.Left);
        if (A == TVekTruth::True)
            return A;
        const TVekTruth B = Truth(Node.Right);
        if (A == TVekTruth::Unknown && B == TVekTruth::Unknown)
            return B;
        return TruthOf(B == TVekTruth::True);
    }
    default: // TStep::Fallback
        return FEvaluator->EvaluateOperandTruth(Node.Mirror);
    }
}

} // namespace orvex
