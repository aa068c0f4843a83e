// The filter optimiser: rewriting the tree, rating it against the indexes
// and combining the record lists of its index answers.

#include "sql/vekFilterOptimizer.h"

#include "host/DateUtils.h"
#include "host/SysUtils.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

namespace orvex {

namespace {

// Expression trees are at most MaxExprTreeHeight high; the walks here stop
// well beyond that rather than exhaust the stack on a tree built elsewhere.
constexpr int MaxWalkDepth = MaxExprTreeHeight + 64;

bool IsLeaf(const TVekExprNode* Node)
{
    return Node && !Node->Left() && !Node->Right() && Node->Args().empty();
}

bool IsConstLeaf(const TVekExprNode* Node)
{
    return IsLeaf(Node) && (Node->Kind() == enkConst || Node->Kind() == enkParam);
}

bool IsFieldLeaf(const TVekExprNode* Node)
{
    return Node && Node->Kind() == enkField && !Node->Left() && !Node->Right();
}

bool IsStringFieldType(TFieldType Type)
{
    return Type == ftString || Type == ftWideString;
}

bool IsTemporalType(TFieldType Type)
{
    return Type == ftDate || Type == ftTime || Type == ftDateTime;
}

bool IsComparison(TVekExprOperator Op)
{
    return Op >= veoEQ && Op <= veoLE;
}

TVekExprOperator Reversed(TVekExprOperator Op)
{
    switch (Op) {
    case veoGT:
        return veoLT;
    case veoLT:
        return veoGT;
    case veoGE:
        return veoLE;
    case veoLE:
        return veoGE;
    default:
        return Op;
    }
}

TVekSQLToken TokenOf(const TVekExprNode* Node)
{
    return Node->ParserToken() ? Node->ParserToken()->Token() : vstUnknown;
}

bool IsLikeNode(const TVekExprNode* Node)
{
    return Node->Kind() == enkNonRelPredicate && Node->Operator() == veoLIKE;
}

bool IsInNode(const TVekExprNode* Node)
{
    return Node->Kind() == enkNonRelPredicate && Node->Operator() == veoIN;
}

bool IsNullTest(const TVekExprNode* Node)
{
    return Node->Kind() == enkLogicalOperator &&
           (Node->Operator() == veoISBLANK || Node->Operator() == veoNOTBLANK);
}

// The escape character of a LIKE node: '\0' for none; false when the escape
// is not a constant.
bool LikeEscape(const TVekExprNode* Node, char& Escape)
{
    Escape = '\0';
    if (Node->Args().empty() || !Node->Args()[0])
        return true;
    const TVekExprNode* Arg = Node->Args()[0];
    if (!IsConstLeaf(Arg))
        return false;
    const std::string Text = VarToStr(Arg->Data());
    if (!Text.empty())
        Escape = Text[0];
    return true;
}

} // namespace

// ============================================================ record lists

void SortAndDeduplicate(TRecordEntries& Entries)
{
    const auto ByAddress = [](const TRecordEntry& A, const TRecordEntry& B) { return A.Address < B.Address; };
    if (!std::is_sorted(Entries.begin(), Entries.end(), ByAddress))
        std::stable_sort(Entries.begin(), Entries.end(), ByAddress);
    Entries.erase(std::unique(Entries.begin(), Entries.end(),
                              [](const TRecordEntry& A, const TRecordEntry& B) { return A.Address == B.Address; }),
                  Entries.end());
}

void IntersectSorted(const TRecordEntries& A, const TRecordEntries& B, TRecordEntries& Target)
{
    std::size_t I = 0, J = 0;
    while (I < A.size() && J < B.size()) {
        if (A[I].Address < B[J].Address) {
            ++I;
        } else if (B[J].Address < A[I].Address) {
            ++J;
        } else {
            Target.push_back(A[I]);
            ++I;
            ++J;
        }
    }
}

void UniteSorted(const TRecordEntries& A, const TRecordEntries& B, TRecordEntries& Target)
{
    std::size_t I = 0, J = 0;
    Target.reserve(A.size() + B.size());
    while (I < A.size() || J < B.size()) {
        if (J >= B.size() || (I < A.size() && A[I].Address < B[J].Address)) {
            Target.push_back(A[I++]);
        } else if (I >= A.size() || B[J].Address < A[I].Address) {
            Target.push_back(B[J++]);
        } else {
            Target.push_back(A[I]);
            ++I;
            ++J;
        }
    }
}

// ====================================================== TExprOptimizerNode

TExprOptimizerNode::TExprOptimizerNode() : FRecordList(std::make_unique<TCompoundList>()) {}

TExprOptimizerNode::~TExprOptimizerNode() = default;

void TExprOptimizerNode::SetRanges(TIndexDataInterface* Index, TIndexPositionRanges Value)
{
    FHasRanges = true;
    FRangeIndex = Index;
    FRanges = std::move(Value);
}

void TExprOptimizerNode::ClearRanges()
{
    FHasRanges = false;
    FRangeIndex = nullptr;
    FRanges.clear();
}

// ======================================================= TExprOptimizerMgr

TExprOptimizerMgr::TExprOptimizerMgr() : FOpEvaluator(std::make_unique<TVekOpEvaluator>()) {}

TExprOptimizerMgr::~TExprOptimizerMgr()
{
    Clear();
}

void TExprOptimizerMgr::Clear()
{
    while (FFirstNode) {
        TExprOptimizerNode* Next = FFirstNode->Next();
        delete FFirstNode;
        FFirstNode = Next;
    }
    FRoot = nullptr;
    FExprRoot = nullptr;
    FRootListFilled = false;
    FRootDeferred = false;
}

// ----------------------------------------------------------- rewriting

void TExprOptimizerMgr::OptimizeExprTree(TVekExprNode* Root)
{
    OptimizeNode(Root, 0);
}

void TExprOptimizerMgr::OptimizeNode(TVekExprNode* Node, int Depth)
{
    if (!Node)
        return;
    ORVEX_ASSERT(Depth < MaxWalkDepth, "Expression tree too deep to optimise");
    for (TVekExprNode* Arg : Node->Args())
        OptimizeNode(Arg, Depth + 1);
    OptimizeNode(Node->Left(), Depth + 1);
    OptimizeNode(Node->Right(), Depth + 1);
    FoldConstants(Node);
}

void TExprOptimizerMgr::FoldConstants(TVekExprNode* Node)
{
    if (Node->Kind() == enkConst && IsLeaf(Node)) {
        PrepareConstant(Node);
        return;
    }
    TVekExprNode* L = Node->Left();
    TVekExprNode* R = Node->Right();
    if (Node->Kind() == enkArithOperator && IsConstLeaf(L) && IsConstLeaf(R) && L->Kind() == enkConst &&
        R->Kind() == enkConst && Node->Args().empty()) {
        // The evaluator's own arithmetic, once; the node keeps the type the
        // parser gave it.
        Variant Value;
        FOpEvaluator->EvaluateArithExprValues(Node->Operator(), L->Data(), R->Data(), Value);
        Node->SetLeft(nullptr);
        Node->SetRight(nullptr);
        Node->SetKind(enkConst);
        Node->SetOperator(veoCONST2);
        Node->SetData(Value);
        Node->SetScopeKind(vskConst);
        return;
    }
    if (Node->Kind() != enkRelOperator || !IsComparison(Node->Operator()))
        return;
    if (IsConstLeaf(L) && L->Kind() == enkConst && IsConstLeaf(R) && R->Kind() == enkConst) {
        // Strings compare by the table's collation, which only the
        // evaluator knows: such comparisons stay.
        if (IsStringFieldType(L->DataType()) || IsStringFieldType(R->DataType()) ||
            L->PartialLength() > 0 || R->PartialLength() > 0)
            return;
        const Variant Value = FOpEvaluator->EvaluateRelopExprAsVar(Node->Operator(), L->Data(), R->Data(),
                                                                   FExcludeRelopNulls);
        Node->SetLeft(nullptr);
        Node->SetRight(nullptr);
        Node->SetKind(enkConst);
        Node->SetOperator(veoCONST2);
        Node->SetData(Value);
        Node->SetDataType(ftBoolean);
        Node->SetScopeKind(vskConst);
        return;
    }
    if (IsConstLeaf(L) && IsFieldLeaf(R)) {
        // "5 < Age" is answered as "Age > 5".
        Node->SetLeft(R);
        Node->SetRight(L);
        Node->SetOperator(Reversed(Node->Operator()));
    }
}

void TExprOptimizerMgr::PrepareConstant(TVekExprNode* Node)
{
    switch (TokenOf(Node)) {
    case vstCurrentDate:
        Node->SetData(Variant::FromDate(Date()));
        return;
    case vstCurrentTime:
        Node->SetData(Variant::FromDate(Time()));
        return;
    case vstCurrentTimestamp:
        Node->SetData(Variant::FromDate(Now()));
        return;
    default:
        break;
    }
    const Variant& Data = Node->Data();
    if (Data.VType() != varString)
        return;
    if (IsTemporalType(Node->DataType())) {
        Variant Value;
        TVekDataConversionValidator().ConvertStrToDateTime(Data.AsString(), Node->DataType(), Value);
        Node->SetData(Value);
        return;
    }
    if (!IsStringFieldType(Node->DataType()))
        return;
    std::string Text = Data.AsString();
    if (Node->CaseInsensitiveMatch())
        Text = AnsiUpperCase(Text);
    // "AB*" compares the first two characters; a constant already cut keeps
    // its length.
    if (Node->PartialMatch() && Node->PartialLength() <= 0 && Text.size() > 1 && Text.back() == '*') {
        Text.pop_back();
        Node->SetPartialLength(static_cast<Integer>(Text.size()));
    }
    Node->SetData(Variant(Text));
}

// ------------------------------------------------------- optimiser tree

TExprOptimizerNode* TExprOptimizerMgr::NewNode(TVekExprNode* ExprNode)
{
    auto* Node = new TExprOptimizerNode();
    Node->SetNext(FFirstNode);
    FFirstNode = Node;
    Node->SetExprNode(ExprNode);
    return Node;
}

void TExprOptimizerMgr::CreateOptimizerTree(TVekExprNode* Root)
{
    Clear();
    FExprRoot = Root;
    FRoot = InternalCreateOptimizerNode(Root, 0);
}

TExprOptimizerNode* TExprOptimizerMgr::InternalCreateOptimizerNode(TVekExprNode* Node, int Depth)
{
    if (!Node || Depth > MaxWalkDepth)
        return nullptr;
    switch (Node->Kind()) {
    case enkRelOperator:
    case enkArithOperator:
    case enkLogicalOperator:
    case enkNonRelPredicate:
        break;
    default:
        return nullptr;
    }
    if (Node->Left() && Node->Right())
        return InternalCreateBinaryOptimizerNode(Node, Depth);
    if (Node->Left())
        return InternalCreateUnaryOptimizerNode(Node, Depth);
    return nullptr;
}

TExprOptimizerNode* TExprOptimizerMgr::InternalCreateBinaryOptimizerNode(TVekExprNode* Node, int Depth)
{
    TExprOptimizerNode* OptNode = NewNode(Node);
    MatchLeafToIndex(OptNode);
    OptNode->SetLeft(InternalCreateOptimizerNode(Node->Left(), Depth + 1));
    OptNode->SetRight(InternalCreateOptimizerNode(Node->Right(), Depth + 1));
    if (OptNode->Left() && OptNode->Right())
        RateLogicalNode(OptNode);
    return OptNode;
}

TExprOptimizerNode* TExprOptimizerMgr::InternalCreateUnaryOptimizerNode(TVekExprNode* Node, int Depth)
{
    // Only a field's IS [NOT] NULL and IN are answered from an index; NOT
    // and any test of a condition are evaluated.
    TExprOptimizerNode* OptNode = NewNode(Node);
    MatchLeafToIndex(OptNode);
    OptNode->SetLeft(InternalCreateOptimizerNode(Node->Left(), Depth + 1));
    return OptNode;
}

TIndexDataInterface* TExprOptimizerMgr::MatchFieldsToIndex(const TVekExprNode* Field, bool CaseInsensitive) const
{
    if (!FIndexQueryMgr || !IsFieldLeaf(Field))
        return nullptr;
    TIndexQueryItem* Item = FIndexQueryMgr->FindIndexForFields(VarToStr(Field->Data()), CaseInsensitive);
    if (!Item || !Item->IndexInterface() || !Item->IndexInterface()->BTree() ||
        !Item->IndexInterface()->BTree()->IsOpen())
        return nullptr;
    return Item->IndexInterface();
}

bool TExprOptimizerMgr::MatchLeafToIndex(TExprOptimizerNode* OptNode)
{
    TVekExprNode* Node = OptNode->ExprNode();
    TVekExprNode* Field = Node->Left();
    if (!IsFieldLeaf(Field))
        return false;
    const bool StringField = IsStringFieldType(Field->DataType());
    // The evaluator upper-cases a field for case-insensitive matching and
    // compares by the comparison's own rule: both must agree with the
    // index's order.
    const bool CaseInsensitive = StringField && Node->CaseInsensitiveMatch();
    if (StringField && Field->CaseInsensitiveMatch() != Node->CaseInsensitiveMatch())
        return false;
    TVekFilterOptimisationLevel Level = olFull;
    TIndexDataInterface* Index = nullptr;
    if (Node->Kind() == enkRelOperator && IsComparison(Node->Operator())) {
        const TVekExprNode* Value = Node->Right();
        if (!IsConstLeaf(Value))
            return false;
        if (StringField != IsStringFieldType(Value->DataType()) && !VarIsMissing(Value->Data()))
            return false;
        Index = MatchFieldsToIndex(Field, CaseInsensitive);
        if (!Index || !Index->CanCompareWith(Value->Data(), CaseInsensitive))
            return false;
        if (Value->PartialLength() > 0) {
            // "Name = 'AB*'": candidates from the prefix; other comparisons
            // of a partial constant are no run of the index.
            if (Node->Operator() != veoEQ || !StringField || Value->Data().VType() != varString ||
                !Index->CanSearchPrefix(CaseInsensitive))
                return false;
            Level = olPartial;
        }
        OptNode->SetBaseResultInverted(Node->Operator() == veoNE);
    } else if (IsLikeNode(Node)) {
        const TVekExprNode* Pattern = Node->Right();
        char Escape = '\0';
        if (TokenOf(Node) != vstLike || !StringField || !IsConstLeaf(Pattern) ||
            Pattern->Data().VType() != varString || !LikeEscape(Node, Escape))
            return false;
        const std::string Text = Pattern->Data().AsString();
        if (Text.size() < 2 || Text[0] == '%' || Text[0] == '_' ||
            TIndexDataInterface::ConvertStringForPartialMatch(veoLIKE, Text, Escape).empty())
            return false;
        Index = MatchFieldsToIndex(Field, CaseInsensitive);
        if (!Index || !Index->CanSearchPrefix(CaseInsensitive))
            return false;
        Level = olPartial;
    } else if (IsNullTest(Node)) {
        Index = MatchFieldsToIndex(Field, false);
        if (!Index && StringField)
            Index = MatchFieldsToIndex(Field, true);
        if (!Index || !Index->CanCompareWith(Variant(), false))
            return false;
    } else if (IsInNode(Node)) {
        if (TokenOf(Node) != vstIn || Node->Args().empty())
            return false;
        Index = MatchFieldsToIndex(Field, CaseInsensitive);
        if (!Index)
            return false;
        for (const TVekExprNode* Item : Node->Args()) {
            if (!IsConstLeaf(Item) || Item->PartialLength() > 0 || Item->Operator() == veoSUBQUERY)
                return false;
            if (StringField != IsStringFieldType(Item->DataType()) && !VarIsMissing(Item->Data()))
                return false;
            if (!Index->CanCompareWith(Item->Data(), CaseInsensitive))
                return false;
        }
        // IN compares texts byte for byte: a case-insensitive index gives
        // candidates only.
        if (CaseInsensitive)
            Level = olPartial;
    } else {
        return false;
    }
    OptNode->SetIndexInterface(Index);
    OptNode->SetOptimizationLevel(Level);
    OptNode->SetNodeResultType(nrDynamic);
    return true;
}

void TExprOptimizerMgr::RateLogicalNode(TExprOptimizerNode* OptNode)
{
    const TVekExprNode* Node = OptNode->ExprNode();
    const TVekFilterOptimisationLevel L = OptNode->Left()->OptimizationLevel();
    const TVekFilterOptimisationLevel R = OptNode->Right()->OptimizationLevel();
    TVekFilterOptimisationLevel Level = olNone;
    if (Node->Kind() == enkLogicalOperator && Node->Operator() == veoAND) {
        if (L == olFull && R == olFull)
            Level = olFull;
        else if (L > olNone || R > olNone)
            Level = olPartial;
    } else if (Node->Kind() == enkLogicalOperator && Node->Operator() == veoOR) {
        if (L == olNone || R == olNone)
            Level = olNone;
        else
            Level = L == olFull && R == olFull ? olFull : olPartial;
    }
    OptNode->SetOptimizationLevel(Level);
    OptNode->SetNodeResultType(nrDynamic);
}

// ------------------------------------------------------------ record lists

void TExprOptimizerMgr::PrepareRecordLists()
{
    if (!FRoot || FRoot->OptimizationLevel() == olNone)
        return;
    FRootListFilled = false;
    FRootDeferred = false;
    for (TExprOptimizerNode* Node = FFirstNode; Node; Node = Node->Next()) {
        Node->Entries().clear();
        Node->ClearRanges();
        Node->SetListReady(false);
        if (Node->IndexInterface())
            Node->IndexInterface()->StartLeafRuns();
    }
    try {
        PrepareNodeList(FRoot, 0);
    } catch (...) {
        EndLeafRuns();
        throw;
    }
}

void TExprOptimizerMgr::EndLeafRuns()
{
    for (TExprOptimizerNode* Node = FFirstNode; Node; Node = Node->Next())
        if (Node->IndexInterface())
            Node->IndexInterface()->EndLeafRuns();
}

void TExprOptimizerMgr::PrepareNodeList(TExprOptimizerNode* Node, int Depth)
{
    if (!Node || Node->OptimizationLevel() == olNone || Depth > MaxWalkDepth)
        return;
    TIndexDataInterface* Index = Node->IndexInterface();
    const TVekExprNode* Expr = Node->ExprNode();
    if (Index) {
        Index->SetExcludeRelopNulls(FExcludeRelopNulls);
        const TVekExprNode* Field = Expr->Left();
        const bool CaseInsensitive = IsStringFieldType(Field->DataType()) && Expr->CaseInsensitiveMatch();
        TIndexPositionRanges Ranges;
        if (IsInNode(Expr)) {
            for (const TVekExprNode* Item : Expr->Args())
                Ranges = UniteIndexRanges(Ranges, Index->GetRecordRanges(veoEQ, Item->Data(), false, CaseInsensitive));
        } else if (IsNullTest(Expr)) {
            Ranges = Index->GetRecordRanges(Expr->Operator(), Variant(), false, false);
        } else if (IsLikeNode(Expr)) {
            char Escape = '\0';
            LikeEscape(Expr, Escape);
            Ranges = Index->GetRecordRanges(veoLIKE, Expr->Right()->Data(), true, CaseInsensitive, Escape);
        } else if (Expr->Right()->PartialLength() > 0) {
            const std::string Text = Expr->Right()->Data().AsString();
            Ranges = Index->GetRecordRanges(
                veoEQ, Variant(Text.substr(0, static_cast<std::size_t>(Expr->Right()->PartialLength()))), true,
                CaseInsensitive);
        } else {
            Ranges = Index->GetRecordRanges(Expr->Operator(), Expr->Right()->Data(), false, CaseInsensitive);
        }
        Node->SetRanges(Index, std::move(Ranges));
        return;
    }
    TExprOptimizerNode* L = Node->Left();
    TExprOptimizerNode* R = Node->Right();
    if (!L || !R)
        return;
    PrepareNodeList(L, Depth + 1);
    PrepareNodeList(R, Depth + 1);
    // Two answers from one index (BETWEEN, a range from two comparisons,
    // an OR of values) combine as positions, before any record is listed.
    const bool AndNode = Expr->Operator() == veoAND;
    if (L->HasRanges() && R->HasRanges() && L->RangeIndex() == R->RangeIndex() && !L->BaseResultInverted() &&
        !R->BaseResultInverted() && L->OptimizationLevel() > olNone && R->OptimizationLevel() > olNone) {
        Node->SetRanges(L->RangeIndex(), AndNode ? IntersectIndexRanges(L->Ranges(), R->Ranges())
                                                 : UniteIndexRanges(L->Ranges(), R->Ranges()));
        L->ClearRanges();
        R->ClearRanges();
    }
}

void TExprOptimizerMgr::MaterializeRanges(TExprOptimizerNode* Node, int Depth)
{
    if (!Node || Depth > MaxWalkDepth)
        return;
    if (Node->HasRanges()) {
        if (Node->ListReady())
            return;
        Node->Entries().clear();
        Node->RangeIndex()->ListRanges(Node->Ranges(), Node->Entries());
        // One index's answer at the root stays in key order; every other
        // list is combined by address.
        if (Node != FRoot || Node->BaseResultInverted())
            SortAndDeduplicate(Node->Entries());
        Node->SetListReady(!Node->BaseResultInverted());
        return;
    }
    MaterializeRanges(Node->Left(), Depth + 1);
    MaterializeRanges(Node->Right(), Depth + 1);
}

bool TExprOptimizerMgr::HasInvertedLists() const
{
    if (!FRoot || FRoot->OptimizationLevel() == olNone)
        return false;
    // The not-equal answers the combination uses: those reached from the
    // root through nodes rated above olNone (known before any list is made).
    std::vector<const TExprOptimizerNode*> Pending{FRoot};
    while (!Pending.empty()) {
        const TExprOptimizerNode* Node = Pending.back();
        Pending.pop_back();
        if (!Node || Node->OptimizationLevel() == olNone)
            continue;
        if (Node->IndexInterface()) {
            if (Node->BaseResultInverted())
                return true;
            continue;
        }
        if (Node->Left() && Node->Right()) {
            Pending.push_back(Node->Left());
            Pending.push_back(Node->Right());
        }
    }
    return false;
}

template <class TBaseEntry>
void TExprOptimizerMgr::ComplementInvertedLists(std::size_t Count, TBaseEntry BaseEntry)
{
    if (!HasInvertedLists())
        return;
    MaterializeRanges(FRoot, 0);
    for (TExprOptimizerNode* Node = FFirstNode; Node; Node = Node->Next()) {
        if (!Node->HasRanges() || !Node->BaseResultInverted() || Node->ListReady())
            continue;
        // The node's list holds the records that fail "<>", sorted by
        // address: the answer is the rest of the base list.
        std::vector<std::uintptr_t> Failing;
        Failing.reserve(Node->Entries().size());
        for (const TRecordEntry& Entry : Node->Entries())
            Failing.push_back(Entry.Address);
        Node->Entries().clear();
        for (std::size_t I = 0; I < Count; ++I) {
            const TRecordEntry Entry = BaseEntry(I);
            if (!std::binary_search(Failing.begin(), Failing.end(), Entry.Address))
                Node->Entries().push_back(Entry);
        }
        SortAndDeduplicate(Node->Entries());
        Node->SetListReady(true);
    }
}

void TExprOptimizerMgr::ResetInvertedLists(const TCompoundList* BaseList)
{
    ComplementInvertedLists(BaseList ? static_cast<std::size_t>(BaseList->Count()) : 0, [BaseList](std::size_t I) {
        const int At = static_cast<int>(I);
        return TRecordEntry{reinterpret_cast<std::uintptr_t>(BaseList->List1()->Get(At)),
                            reinterpret_cast<std::uintptr_t>(BaseList->List2()->Get(At))};
    });
}

void TExprOptimizerMgr::ResetInvertedLists(const std::vector<Cardinal>& BaseList, Integer FirstRecNo)
{
    ComplementInvertedLists(BaseList.size(), [&BaseList, FirstRecNo](std::size_t I) {
        return TRecordEntry{BaseList[I], static_cast<std::uintptr_t>(FirstRecNo + static_cast<Integer>(I))};
    });
}

void TExprOptimizerMgr::CombineRecordLists()
{
    if (!FRoot || FRoot->OptimizationLevel() == olNone)
        return;
    FRootListFilled = false;
    if (FRoot->HasRanges() && !FRoot->BaseResultInverted() && !FRoot->ListReady()) {
        // One index answers the whole condition: its positions are the
        // answer, and its records are listed only when asked for (a count
        // needs none).
        FRootDeferred = true;
        return;
    }
    ListRootRanges();
    CombineNode(FRoot, 0);
    FRootListFilled = false;
}

void TExprOptimizerMgr::ListRootRanges()
{
    try {
        MaterializeRanges(FRoot, 0);
    } catch (...) {
        EndLeafRuns();
        throw;
    }
    EndLeafRuns();
}

const TRecordEntries& TExprOptimizerMgr::RootEntries()
{
    ORVEX_ASSERT(FRoot != nullptr, "Optimizer root is not assigned");
    if (FRootDeferred) {
        FRootDeferred = false;
        ListRootRanges();
    }
    return FRoot->Entries();
}

TCompoundList* TExprOptimizerMgr::GetResultSetList()
{
    if (!FRoot)
        return nullptr;
    // Made on demand: a caller that only counts needs no pointer list.
    if (!FRootListFilled) {
        const TRecordEntries& Entries = RootEntries();
        TCompoundList* List = FRoot->RecordList();
        List->Clear();
        for (const TRecordEntry& Entry : Entries)
            List->Add(reinterpret_cast<void*>(Entry.Address), reinterpret_cast<void*>(Entry.Companion));
        FRootListFilled = true;
    }
    return FRoot->RecordList();
}

void TExprOptimizerMgr::CombineNode(TExprOptimizerNode* Node, int Depth)
{
    if (!Node || Node->ListReady() || Node->OptimizationLevel() == olNone || Depth > MaxWalkDepth)
        return;
    if (Node->HasRanges()) {
        // A not-equal answer that was never complemented: no base list was
        // given.
        ORVEX_ASSERT(!Node->BaseResultInverted(), "Inverted list without a base list");
        return;
    }
    TExprOptimizerNode* L = Node->Left();
    TExprOptimizerNode* R = Node->Right();
    TRecordEntries& Target = Node->Entries();
    Target.clear();
    if (!L || !R) {
        Node->SetListReady(true);
        return;
    }
    CombineNode(L, Depth + 1);
    CombineNode(R, Depth + 1);
    const TVekExprOperator Op = Node->ExprNode()->Operator();
    const bool LUsed = L->OptimizationLevel() > olNone;
    const bool RUsed = R->OptimizationLevel() > olNone;
    if (Op == veoAND) {
        if (LUsed && RUsed)
            IntersectSorted(L->Entries(), R->Entries(), Target);
        else
            Target = LUsed ? L->Entries() : R->Entries();
    } else if (Op == veoOR) {
        UniteSorted(L->Entries(), R->Entries(), Target);
    } else {
        VekDatabaseError(8581, "TExprOptimizerMgr.InternalCombineRecordLists", "Invalid operator", nullptr);
    }
    Node->SetListReady(true);
}

Integer TExprOptimizerMgr::GetResultSetCount() const
{
    ORVEX_ASSERT(FRoot != nullptr, "Optimizer root is not assigned");
    if (!FRootDeferred)
        return static_cast<Integer>(FRoot->Entries().size());
    // The positions of one index: disjoint runs, one record each.
    Integer Count = 0;
    for (const TIndexPositionRange& Range : FRoot->Ranges())
        if (!Range.Empty())
            Count += Range.Last - Range.First + 1;
    return Count;
}

Integer TExprOptimizerMgr::GetNodeCount() const
{
    Integer Count = 0;
    for (const TExprOptimizerNode* Node = FFirstNode; Node; Node = Node->Next())
        ++Count;
    return Count;
}

void TExprOptimizerMgr::ListIndexRequests(TStrings* Lines) const
{
    Lines->Clear();
    ListRequests(FRoot, Lines, 0);
}

void TExprOptimizerMgr::ListRequests(const TExprOptimizerNode* Node, TStrings* Lines, int Depth) const
{
    if (!Node || Depth > MaxWalkDepth)
        return;
    if (Node->IndexInterface())
        Lines->AddObject(C_STRCANOperator[Node->ExprNode()->Operator()], Node->IndexInterface());
    ListRequests(Node->Left(), Lines, Depth + 1);
    ListRequests(Node->Right(), Lines, Depth + 1);
}

void TExprOptimizerMgr::AssessExprFieldLimits(TExprFieldLimits* Limits) const
{
    Limits->SetValid(false);
    Limits->SetMinSet(false);
    Limits->SetMaxSet(false);
    const TVekExprNode* Root = FExprRoot;
    if (!Root)
        return;
    const TVekExprNode* Field = Root->Left();
    const TVekExprNode* Value = Root->Right();
    if (Root->Kind() == enkRelOperator && IsComparison(Root->Operator()) && IsFieldLeaf(Field) &&
        IsConstLeaf(Value) && AnsiSameText(VarToStr(Field->Data()), Limits->FieldName())) {
        Limits->SetValid(true);
        const TVekExprOperator Op = Root->Operator();
        if (Op == veoEQ || Op == veoGT || Op == veoGE) {
            Limits->SetMin(Value->Data());
            Limits->SetMinSet(true);
        }
        if (Op == veoEQ || Op == veoLT || Op == veoLE) {
            Limits->SetMax(Value->Data());
            Limits->SetMaxSet(true);
        }
        return;
    }
    // The field in any other form gives no limits (nor does its absence).
}

// ======================================================== TFilterOptimizer

namespace {
std::atomic<bool> GForceNoIndexesByDefault{false};
} // namespace

TFilterOptimizer::TFilterOptimizer(TIndexQueryMgr* IndexQueryMgr)
    : FIndexQueryMgr(IndexQueryMgr), FMgr(std::make_unique<TExprOptimizerMgr>()),
      FForceNoIndexes(GForceNoIndexesByDefault.load())
{
}

void TFilterOptimizer::SetForceNoIndexesByDefault(bool Value)
{
    GForceNoIndexesByDefault = Value;
}

bool TFilterOptimizer::ForceNoIndexesByDefault()
{
    return GForceNoIndexesByDefault.load();
}

TFilterOptimizer::~TFilterOptimizer() = default;

void TFilterOptimizer::SetExcludeRelopNulls(bool Value)
{
    FExcludeRelopNulls = Value;
    FMgr->SetExcludeRelopNulls(Value);
}

void TFilterOptimizer::AnalyzeExpr()
{
    FMgr->SetIndexQueryMgr(FIndexQueryMgr);
    FMgr->SetExcludeRelopNulls(FExcludeRelopNulls);
    FMgr->OptimizeExprTree(FExprRoot);
    FMgr->CreateOptimizerTree(FForceNoIndexes ? nullptr : FExprRoot);
    if (FForceNoIndexes)
        FMgr->SetExprRoot(FExprRoot);
}

void TFilterOptimizer::PrepareResultLists()
{
    ORVEX_ASSERT(FExprRoot != nullptr, "Expr root is not assigned");
    FMgr->PrepareRecordLists();
}

void TFilterOptimizer::CombineResultLists()
{
    FMgr->CombineRecordLists();
}

TVekFilterOptimisationLevel TFilterOptimizer::GetBaseOptimisationLevel() const
{
    return FMgr->Root() ? FMgr->Root()->OptimizationLevel() : olNone;
}

TCompoundList* TFilterOptimizer::GetResultSetList() const
{
    return FMgr->GetResultSetList();
}

Integer TFilterOptimizer::GetResultSetCount() const
{
    return FMgr->Root() ? FMgr->GetResultSetCount() : 0;
}

void TFilterOptimizer::AssessExprFieldLimits(TExprFieldLimits* Limits) const
{
    FMgr->AssessExprFieldLimits(Limits);
}

void TFilterOptimizer::Clear()
{
    FMgr->Clear();
    FExprRoot = nullptr;
}

// ================================================ TFilterOptimizerAnswerer

TFilterOptimizerAnswerer::TFilterOptimizerAnswerer(TFillRegistry FillRegistry)
    : FFillRegistry(std::move(FillRegistry))
{
}

TVekFilterOptimisationLevel TFilterOptimizerAnswerer::Analyze(TVekExpr* Expr, TVekExprNode* Root,
                                                              bool ExcludeRelopNulls)
{
    static_cast<void>(Expr);
    FOptimizer.Clear();
    FRegistry.Clear();
    if (FFillRegistry)
        FFillRegistry(&FRegistry);
    FOptimizer.SetExcludeRelopNulls(ExcludeRelopNulls);
    FOptimizer.SetExprRoot(Root);
    FOptimizer.AnalyzeExpr();
    return FOptimizer.GetBaseOptimisationLevel();
}

void TFilterOptimizerAnswerer::Answer(const std::vector<Cardinal>& BaseList, Integer BaseRecNo,
                                      std::vector<Cardinal>& Result)
{
    FOptimizer.PrepareResultLists();
    if (FOptimizer.HasInvertedLists())
        FOptimizer.ResetInvertedLists(BaseList, BaseRecNo);
    FOptimizer.CombineResultLists();
    const TRecordEntries& Entries = FOptimizer.Mgr()->RootEntries();
    Result.reserve(Result.size() + Entries.size());
    for (const TRecordEntry& Entry : Entries)
        Result.push_back(static_cast<Cardinal>(Entry.Address));
}

TFilterFieldLimits TFilterOptimizerAnswerer::AssessFieldLimits(const std::string& FieldName)
{
    TExprFieldLimits Limits;
    Limits.SetFieldName(FieldName);
    FOptimizer.AssessExprFieldLimits(&Limits);
    TFilterFieldLimits Result;
    Result.Valid = Limits.Valid();
    Result.MinSet = Limits.MinSet();
    Result.MaxSet = Limits.MaxSet();
    Result.Min = Limits.Min();
    Result.Max = Limits.Max();
    return Result;
}

} // namespace orvex
