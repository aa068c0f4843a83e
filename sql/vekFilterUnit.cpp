// The filter evaluator: parsing, the index seam, the per-record evaluation
// and the order of the result.

#include "sql/vekFilterUnit.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace orvex {

namespace {

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
    : FPreParser(std::make_unique<TVekPreParser>()),
      FParser(std::make_unique<TVekExprParser>()), FOwnFilter(std::make_unique<TVekExprParser>())
{
}

TVekBaseFilterEvaluator::~TVekBaseFilterEvaluator() = default;

void TVekBaseFilterEvaluator::Close()
{
    FActive = false;
    FStorageOrderResult = false;
    FBaseList.clear();
    FResult.clear();
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

void TVekBaseFilterEvaluator::MergeRecordLists()
{
    FBaseList.clear();
    FAnswer.clear();
    const bool SkipBase = FQueryActive && !FSortedOutput && FLevel > olNone && !FAnswerer->NeedsBaseList();
    if (!SkipBase)
        FDataProvider->GetDefaultAddressList(FBaseList);
    // A condition answered from the indexes gives their list, never the
    // whole base list; without one the base list itself is the candidates.
    if (FLevel > olNone)
        FAnswerer->Answer(FBaseList, FDataProvider->BaseRecNo(), FAnswer);
}

void TVekBaseFilterEvaluator::EvaluateCandidates(const std::vector<Cardinal>& Candidates)
{
    // Records are read in address order: the file is read front to back.
    const std::size_t Count = Candidates.size();
    FPassed.assign(Count, 0);
    // The order of reading; none needed when the candidates are in address
    // order already (a table written in key order).
    const bool InAddressOrder = std::is_sorted(Candidates.begin(), Candidates.end());
    const Cardinal* ScanOrder = Candidates.data();
    if (!InAddressOrder) {
        FScanPositions.resize(Count);
        std::iota(FScanPositions.begin(), FScanPositions.end(), 0);
        std::stable_sort(FScanPositions.begin(), FScanPositions.end(),
                         [&](int A, int B) { return Candidates[static_cast<std::size_t>(A)] < Candidates[static_cast<std::size_t>(B)]; });
        FScanOrder.resize(Count);
        for (std::size_t N = 0; N < Count; ++N)
            FScanOrder[N] = Candidates[static_cast<std::size_t>(FScanPositions[N])];
        ScanOrder = FScanOrder.data();
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
    // An address listed twice is read once and decided alike: its copies
    // follow one another in the order of reading.
    Cardinal Previous = 0;
    std::uint8_t PreviousPassed = 0;
    FDataProvider->ScanRecords(ScanOrder, Count, [&](std::size_t N) {
        const std::size_t I = InAddressOrder ? N : static_cast<std::size_t>(FScanPositions[N]);
        const Cardinal Address = ScanOrder[N];
        if (Address == Previous && Address != 0) {
            FPassed[I] = PreviousPassed;
            return;
        }
        Previous = Address;
        ++FRecordsEvaluated;
        bool Passes;
        if (UseTyped) {
            Passes = Typed.Passes();
        } else {
            Evaluator.Reset();
            Passes = Evaluator.EvaluatePasses();
        }
        PreviousPassed = Passes ? 1 : 0;
        FPassed[I] = PreviousPassed;
    });
}

void TVekBaseFilterEvaluator::TakeInBaseOrder(const std::vector<Cardinal>& Passing)
{
    FResult.clear();
    FResult.reserve(Passing.size());
    if (Passing.size() == FBaseList.size()) {
        FResult.assign(FBaseList.begin(), FBaseList.end());
        return;
    }
    for (Cardinal Address : FBaseList)
        if (std::binary_search(Passing.begin(), Passing.end(), Address))
            FResult.push_back(Address);
}

bool TVekBaseFilterEvaluator::EvaluateInStorageOrder()
{
    Integer IndexCount = 0;
    if (!FDataProvider->GetStorageOrderSlots(FScanList, IndexCount))
        return false;
    EvaluateCandidates(FScanList);
    // Every record the default list holds was read once, and no other: the
    // live slots and the list's entries are the same records.
    if (FRecordsEvaluated != IndexCount) {
        FRecordsEvaluated = 0;
        return false;
    }
    FResult.reserve(static_cast<std::size_t>(IndexCount));
    for (std::size_t I = 0; I < FScanList.size(); ++I)
        if (FPassed[I])
            FResult.push_back(FScanList[I]);
    if (!std::is_sorted(FResult.begin(), FResult.end()))
        std::sort(FResult.begin(), FResult.end());
    FStorageOrderResult = true;
    return true;
}

bool TVekBaseFilterEvaluator::Evaluate()
{
    ORVEX_ASSERT(FDataProvider != nullptr, "The Data provider is not assigned");
    FResult.clear();
    FBaseList.clear();
    FRecordsEvaluated = 0;
    FStorageOrderResult = false;
    const bool BaseOrder = !FQueryActive || FSortedOutput;
    // No index answer: the count needs no order, so the records are read
    // where they lie; the caller puts them in its order when it needs it.
    if (FAllowStorageOrder && FHasCondition && FLevel == olNone && BaseOrder && EvaluateInStorageOrder())
        return true;
    MergeRecordLists();

    if (FLevel == olNone) {
        // Every record of the base list is a candidate.
        if (FHasCondition)
            EvaluateCandidates(FBaseList);
        else
            FPassed.assign(FBaseList.size(), 1);
        FResult.reserve(FBaseList.size());
        for (std::size_t I = 0; I < FBaseList.size(); ++I)
            if (FPassed[I])
                FResult.push_back(FBaseList[I]);
        if (BaseOrder)
            return true;
        // Address order, each address once.
        if (!std::is_sorted(FResult.begin(), FResult.end()))
            std::sort(FResult.begin(), FResult.end());
        FResult.erase(std::unique(FResult.begin(), FResult.end()), FResult.end());
        return true;
    }

    if (FHasCondition && FLevel < olFull) {
        EvaluateCandidates(FAnswer);
        std::size_t Kept = 0;
        for (std::size_t I = 0; I < FAnswer.size(); ++I)
            if (FPassed[I])
                FAnswer[Kept++] = FAnswer[I];
        FAnswer.resize(Kept);
    }
    if (!std::is_sorted(FAnswer.begin(), FAnswer.end()))
        std::sort(FAnswer.begin(), FAnswer.end());
    // An address the index side or the provider gave twice passes once.
    FAnswer.erase(std::unique(FAnswer.begin(), FAnswer.end()), FAnswer.end());
    if (BaseOrder)
        TakeInBaseOrder(FAnswer);
    else
        FResult.swap(FAnswer);
    return true;
}

void TVekBaseFilterEvaluator::SwapLists(std::vector<Cardinal>& Result, std::vector<Cardinal>& Base)
{
    FResult.swap(Result);
    FBaseList.swap(Base);
    FResult.clear();
    FBaseList.clear();
    FScanList.clear();
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
