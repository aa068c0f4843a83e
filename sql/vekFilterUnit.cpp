// The filter evaluator: parsing, the index seam, the per-record evaluation
// and the order of the result.

#include "sql/vekFilterUnit.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace orvex {

namespace {

Cardinal AddressOf(void* P)
{
    return static_cast<Cardinal>(reinterpret_cast<std::uintptr_t>(P));
}

bool IsFieldNamed(const TVekExprNode* Node, const std::string& Name)
{
    return Node && Node->Kind() == enkField && SameText(VarToStr(Node->Data()), Name);
}

} // namespace

TFilterFieldLimits AssessRootFieldLimits(const TVekExprNode* Root, const std::string& FieldName)
{
    TFilterFieldLimits Limits;
    if (!Root)
        return Limits;
    const bool Comparison = Root->Kind() == enkRelOperator && IsFieldNamed(Root->Left(), FieldName) &&
                            Root->Right() && Root->Right()->Kind() == enkConst && !Root->Right()->Left() &&
                            !Root->Right()->Right();
    if (Comparison) {
        const TVekExprOperator Op = Root->Operator();
        const Variant& Value = Root->Right()->Data();
        if (Op == veoEQ || Op == veoGT || Op == veoGE) {
            Limits.Min = Value;
            Limits.MinSet = true;
        }
        if (Op == veoEQ || Op == veoLT || Op == veoLE) {
            Limits.Max = Value;
            Limits.MaxSet = true;
        }
        Limits.Valid = true;
    }
    // The field anywhere else (or nowhere) leaves its limits unknown.
    return Limits;
}

// ============================================================== lifetime

TVekBaseFilterEvaluator::TVekBaseFilterEvaluator()
    : FBaseList(std::make_unique<TCompoundList>()), FPreParser(std::make_unique<TVekPreParser>()),
      FParser(std::make_unique<TVekExprParser>()), FOwnFilter(std::make_unique<TVekExprParser>())
{
}

TVekBaseFilterEvaluator::~TVekBaseFilterEvaluator() = default;

void TVekBaseFilterEvaluator::Close()
{
    FActive = false;
    FBaseList->Clear();
    FResult.clear();
    FResult.shrink_to_fit();
    FPreParser->Clear();
    FLevel = olNone;
    FRecordsEvaluated = 0;
}

bool TVekBaseFilterEvaluator::Open()
{
    Close();
    ORVEX_ASSERT(FDataProvider != nullptr, "The Data provider is not assigned");
    FDataProvider->Open();
    if (!Prepare())
        return false;
    Evaluate();
    FActive = true;
    return true;
}

bool TVekBaseFilterEvaluator::Prepare()
{
    Close();
    if (!Parse())
        return false;
    return Optimize();
}

// =============================================================== parsing

void TVekBaseFilterEvaluator::SetUpParser(TVekExprParser* Parser) const
{
    Parser->SetCaseInsensitiveMatch((FFilterOptions & foCaseInsensitive) != 0);
    Parser->SetPartialStringComparison((FFilterOptions & foNoPartialCompare) == 0);
    Parser->SetTableList(FTables);
    Parser->SetValidateFields(true);
}

bool TVekBaseFilterEvaluator::Parse()
{
    Close();
    FPreParser->SetParseAsExprOnly(true);
    FPreParser->SetText(FFilterText);
    FPreParser->PreParseTokens();
    FParser = std::make_unique<TVekExprParser>();
    SetUpParser(FParser.get());
    FParser->Execute(TVekParserOptions{vpoExtSyntax}, FPreParser->GetSection(vstWhere));
    if (FParser->HasParseError())
        return false;
    // The parsed condition is the table's own filter from now on.
    FOwnFilter = std::make_unique<TVekExprParser>();
    SetUpParser(FOwnFilter.get());
    FOwnFilter->CloneFromExpr(FParser->Expr(), true);
    return true;
}

std::string TVekBaseFilterEvaluator::GetErrors() const
{
    return FParser->HasParseError() ? FParser->GetErrorMsgNoLine() : std::string();
}

TVekExpr* TVekBaseFilterEvaluator::GetFilterExpr(bool SetFirst)
{
    if (SetFirst && FParser->Root())
        FParser->Expr()->SetAsFirstNode(FParser->Root());
    return FParser->Expr();
}

Integer TVekBaseFilterEvaluator::GetBaseRecNo() const
{
    return FDataProvider ? FDataProvider->BaseRecNo() : 0;
}

// ============================================================ index seam

bool TVekBaseFilterEvaluator::Optimize()
{
    FHasCondition = FParser->Root() != nullptr;
    FLevel = AnalyzeIndexes();
    return true;
}

TVekFilterOptimisationLevel TVekBaseFilterEvaluator::AnalyzeIndexes()
{
    if (!FHasCondition || !FAnswerer)
        return olNone;
    const TVekFilterOptimisationLevel Level =
        FAnswerer->Analyze(FParser->Expr(), FParser->Root(), FExcludeRelopNulls);
    return FForcePerRecord ? olNone : Level;
}

// ============================================================ evaluation

void TVekBaseFilterEvaluator::MergeRecordLists(TCompoundList* Passing, TCompoundList* Candidates)
{
    FBaseList->Clear();
    const bool SkipBase = FQueryActive && !FSortedOutput && FLevel > olNone && !FAnswerer->NeedsBaseList();
    if (!SkipBase)
        FDataProvider->GetDefaultRecordList(FBaseList.get());
    // A condition answered from the indexes gives their list, never the
    // whole base list; without one the base list itself is the candidates.
    if (FLevel > olNone)
        FAnswerer->Answer(FBaseList.get(), FLevel == olFull ? Passing : Candidates);
}

void TVekBaseFilterEvaluator::EvaluateCandidates(const TCompoundList* Candidates, std::vector<std::uint8_t>& Passed)
{
    // Records are read in address order: the file is read front to back.
    const int Count = Candidates->Count();
    Passed.assign(static_cast<std::size_t>(Count), 0);
    void** Items1 = Candidates->List1()->List();
    // The order of reading; none needed when the candidates are in address
    // order already (a table written in key order).
    std::vector<int> Order;
    const bool InAddressOrder =
        std::is_sorted(Items1, Items1 + Count, [](void* A, void* B) { return AddressOf(A) < AddressOf(B); });
    if (!InAddressOrder) {
        Order.resize(static_cast<std::size_t>(Count));
        std::iota(Order.begin(), Order.end(), 0);
        std::stable_sort(Order.begin(), Order.end(),
                         [&](int A, int B) { return AddressOf(Items1[A]) < AddressOf(Items1[B]); });
    }

    if (!FDataProvider->DBStringCompare())
        VekDatabaseError(10065, "TVekBaseFilterEvaluator.Evaluate", "", nullptr);
    TExprEvaluator Evaluator;
    Evaluator.SetExcludeRelopNulls(FExcludeRelopNulls);
    Evaluator.SetDBStringCompare(FDataProvider->DBStringCompare());
    Evaluator.Prepare(FDataProvider, FParser->Root());
    // The condition compiled to typed steps where the provider allows it.
    TTypedCondition Typed;
    const bool UseTyped = FTypedEvaluation && Typed.Compile(&Evaluator);
    Cardinal Previous = 0;
    std::uint8_t PreviousPassed = 0;
    for (int N = 0; N < Count; ++N) {
        const int I = InAddressOrder ? N : Order[static_cast<std::size_t>(N)];
        const Cardinal Address = AddressOf(Items1[I]);
        // An address listed twice is read once and decided alike.
        if (Address == Previous && Address != 0) {
            Passed[static_cast<std::size_t>(I)] = PreviousPassed;
            continue;
        }
        Previous = Address;
        PreviousPassed = 0;
        if (!FDataProvider->MoveToRecord(static_cast<Integer>(Address)))
            continue;
        ++FRecordsEvaluated;
        bool Passes;
        if (UseTyped) {
            Passes = Typed.Passes();
        } else {
            Evaluator.Reset();
            Passes = Evaluator.EvaluatePasses();
        }
        PreviousPassed = Passes ? 1 : 0;
        Passed[static_cast<std::size_t>(I)] = PreviousPassed;
    }
}

bool TVekBaseFilterEvaluator::Evaluate()
{
    ORVEX_ASSERT(FDataProvider != nullptr, "The Data provider is not assigned");
    FResult.clear();
    FRecordsEvaluated = 0;
    TCompoundList Passing;
    TCompoundList Candidates;
    MergeRecordLists(&Passing, &Candidates);

    std::vector<Cardinal> Sorted;
    if (FLevel == olNone) {
        // Every record of the base list is a candidate.
        const int Count = FBaseList->Count();
        void** Base = FBaseList->List1()->List();
        std::vector<std::uint8_t> Passed;
        if (FHasCondition)
            EvaluateCandidates(FBaseList.get(), Passed);
        else
            Passed.assign(static_cast<std::size_t>(Count), 1);
        if (!FQueryActive || FSortedOutput) {
            // The base order: the provider's records that passed.
            for (int I = 0; I < Count; ++I)
                if (Passed[static_cast<std::size_t>(I)])
                    FResult.push_back(AddressOf(Base[I]));
            return true;
        }
        for (int I = 0; I < Count; ++I)
            if (Passed[static_cast<std::size_t>(I)])
                Sorted.push_back(AddressOf(Base[I]));
    } else {
        if (FHasCondition && FLevel < olFull) {
            std::vector<std::uint8_t> Passed;
            EvaluateCandidates(&Candidates, Passed);
            void** Items1 = Candidates.List1()->List();
            void** Items2 = Candidates.List2()->List();
            for (int I = 0; I < Candidates.Count(); ++I)
                if (Passed[static_cast<std::size_t>(I)])
                    Passing.Add(Items1[I], Items2[I]);
        }
        const int PassCount = Passing.Count();
        Sorted.resize(static_cast<std::size_t>(PassCount));
        void** Passed = Passing.List1()->List();
        for (int I = 0; I < PassCount; ++I)
            Sorted[static_cast<std::size_t>(I)] = AddressOf(Passed[I]);
    }
    if (!std::is_sorted(Sorted.begin(), Sorted.end()))
        std::sort(Sorted.begin(), Sorted.end());
    // An address the index side or the provider gave twice passes once.
    Sorted.erase(std::unique(Sorted.begin(), Sorted.end()), Sorted.end());

    if (FQueryActive && !FSortedOutput) {
        FResult = std::move(Sorted);
        return true;
    }
    // The base order: the provider's records that passed.
    const int Count = FBaseList->Count();
    void** Base = FBaseList->List1()->List();
    FResult.reserve(Sorted.size());
    if (static_cast<int>(Sorted.size()) == Count) {
        for (int I = 0; I < Count; ++I)
            FResult.push_back(AddressOf(Base[I]));
        return true;
    }
    for (int I = 0; I < Count; ++I) {
        const Cardinal Address = AddressOf(Base[I]);
        if (std::binary_search(Sorted.begin(), Sorted.end(), Address))
            FResult.push_back(Address);
    }
    return true;
}

// ============================================================ selections

bool TVekBaseFilterEvaluator::AssignExpr(TVekFilterExprDriver* Driver, TVekExprOperator Operator)
{
    if (!Driver || !Driver->FilterExpr() || !Driver->FilterExpr()->FirstNode())
        return false;
    const Cardinal Started = GetMSTimeMarker();
    Close();
    ORVEX_ASSERT(FDataProvider != nullptr, "The Data provider is not assigned");
    auto Parser = std::make_unique<TVekExprParser>();
    SetUpParser(Parser.get());
    const bool Combine = !Driver->OverwriteExpr() && FOwnFilter->Root() != nullptr;
    if (Combine) {
        Parser->CloneFromExpr(FOwnFilter->Expr(), true);
        Parser->CloneFromExpr(Driver->FilterExpr(), false, Operator);
    } else {
        Parser->CloneFromExpr(Driver->FilterExpr(), true);
    }
    FParser = std::move(Parser);
    const bool SavedExclude = FExcludeRelopNulls;
    FExcludeRelopNulls = Driver->ExcludeRelopNulls() || FExcludeRelopNulls;
    Optimize();
    Driver->SetExprOptimizationLevel(FLevel);
    if (Driver->AssessExprOnly()) {
        AssessExpr(Driver);
    } else {
        FDataProvider->Open();
        Evaluate();
        FActive = true;
    }
    FExcludeRelopNulls = SavedExclude;
    if (GDBLogger)
        GDBLogger->NamedMonitorDelta("BaseFilterEvaluator.AssignExpr time",
                                     static_cast<Integer>(GetMSTimeMarker() - Started));
    return true;
}

bool TVekBaseFilterEvaluator::AssessExpr(TVekFilterExprDriver* Driver)
{
    const TFilterFieldLimits Limits = FAnswerer ? FAnswerer->AssessFieldLimits(Driver->LimitFieldName())
                                                : AssessRootFieldLimits(FParser->Root(), Driver->LimitFieldName());
    Driver->SetExprOptimizationLevel(FLevel);
    if (Limits.Valid) {
        Driver->SetLimitMinSet(Limits.MinSet);
        Driver->SetLimitFieldMin(Limits.Min);
        Driver->SetLimitMaxSet(Limits.MaxSet);
        Driver->SetLimitFieldMax(Limits.Max);
        Driver->SetLimitsAssessed(true);
    }
    return true;
}

} // namespace orvex
