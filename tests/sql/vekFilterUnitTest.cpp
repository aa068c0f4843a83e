// The filter evaluator over a small record source: order rules, the table's
// own filter with a driver's selection, field limits, the index seam and its
// per-record switch.

#include "SqlTestSupport.h"

#include "sql/vekFilterUnit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>

namespace orvex {
namespace {

// Records at addresses 10, 20, ... 80 with columns A, B (integers, some
// Null) and S (a string); the provider's order is descending by address,
// its record numbers 1, 2, ...
class ListProvider : public TVekExprDataProvider {
public:
    ListProvider()
    {
        SetDBStringCompare(DBANSICompareStrings);
        TTableNameItem* Table = FTables.Add();
        Table->SetTableName("T");
        const char* Names[] = {"A", "B", "S"};
        const TFieldType Types[] = {ftInteger, ftInteger, ftString};
        for (int I = 0; I < 3; ++I)
            for (TInternalFields* Fields : {ProviderFields(), Table->TableFields()}) {
                TInternalFieldItem* F = Fields->Add();
                F->SetFieldName(Names[I]);
                F->SetDataType(Types[I]);
                if (Types[I] == ftString)
                    F->SetFieldSize(11);
                F->SetFieldNo(I);
            }
        const int A[] = {1, 2, 3, 0, 5, 2, -1, 4};
        const int B[] = {2, 2, 0, 2, -1, 7, 2, 0}; // 0 stands for Null
        const char* S[] = {"x", "Hat", "hut", "Ham", "y", "Hen", "z", "H"};
        for (int I = 0; I < 8; ++I) {
            const Cardinal Address = static_cast<Cardinal>(10 * (I + 1));
            FRows[Address] = {A[I] == 0 ? Variant::Null() : Variant(A[I]), B[I] == 0 ? Variant::Null() : Variant(B[I]),
                              Variant(S[I])};
        }
    }

    void GetDefaultRecordList(TCompoundList* List) override
    {
        List->Clear();
        std::intptr_t RecNo = 1;
        for (auto It = FRows.rbegin(); It != FRows.rend(); ++It)
            List->Add(reinterpret_cast<void*>(static_cast<std::uintptr_t>(It->first)),
                      reinterpret_cast<void*>(RecNo++));
        SetBaseRecNo(1);
    }
    bool MoveToRecord(Integer Address) override
    {
        FCurrent = static_cast<Cardinal>(Address);
        ++Reads;
        return FRows.count(FCurrent) != 0;
    }
    Variant GetDataAsVariant(Integer FieldNo) override { return FRows.at(FCurrent).at(static_cast<std::size_t>(FieldNo)); }
    TTableList* Tables() { return &FTables; }

    int Reads = 0;

private:
    TTableList FTables;
    std::map<Cardinal, std::vector<Variant>> FRows;
    Cardinal FCurrent = 0;
};

// An index side that answers with a fixed list at a fixed level.
class FixedAnswerer : public TFilterIndexAnswerer {
public:
    FixedAnswerer(TVekFilterOptimisationLevel Level, std::vector<Cardinal> Addresses)
        : FLevel(Level), FAddresses(std::move(Addresses))
    {
    }
    TVekFilterOptimisationLevel Analyze(TVekExpr*, TVekExprNode*, bool) override { return FLevel; }
    void Answer(const std::vector<Cardinal>&, Integer, std::vector<Cardinal>& Result) override
    {
        Result.insert(Result.end(), FAddresses.begin(), FAddresses.end());
    }
    TFilterFieldLimits AssessFieldLimits(const std::string&) override { return {}; }

private:
    TVekFilterOptimisationLevel FLevel;
    std::vector<Cardinal> FAddresses;
};

class FilterEvaluator : public ::testing::Test {
protected:
    FilterEvaluator()
    {
        Evaluator.SetDataProvider(&Provider);
        Evaluator.SetTables(Provider.Tables());
    }

    std::vector<Cardinal> Run(const std::string& Text)
    {
        Evaluator.SetFilterText(Text);
        EXPECT_TRUE(Evaluator.Open()) << Evaluator.GetErrors();
        return Evaluator.ResultList();
    }

    sqltest::PinnedFormats Formats;
    ListProvider Provider;
    TVekBaseFilterEvaluator Evaluator;
};

using Addresses = std::vector<Cardinal>;

TEST_F(FilterEvaluator, ConditionsPassRecordsInTheProvidersOrder)
{
    struct Case {
        const char* Text;
        Addresses Expected;
    };
    const Case Cases[] = {
        {"", {80, 70, 60, 50, 40, 30, 20, 10}},
        {"A > 2", {80, 50, 30}},
        {"A = 2 AND B = 2", {20}},
        {"A = 2 OR B = 2", {70, 60, 40, 20, 10}},
        {"S LIKE 'H%'", {80, 60, 40, 20}},
        {"A BETWEEN 2 AND 3", {60, 30, 20}},
        {"A IN (1, 4, 9)", {80, 10}},
        {"A IS NULL", {40}},
        {"NOT (A > 1)", {70, 40, 10}}, // a NULL ranks below every value here
        {"A * 2 < B", {70, 60, 40}}, // an unknown product ranks below too
        {"S = 'h' ", {}},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(Run(C.Text), C.Expected) << C.Text;
}

TEST_F(FilterEvaluator, ExcludeRelopNullsMakesComparisonsWithNullUnknown)
{
    EXPECT_EQ(Run("A < 2"), (Addresses{70, 40, 10}));
    EXPECT_EQ(Run("B <> 2"), (Addresses{80, 60, 50, 30}));
    Evaluator.SetExcludeRelopNulls(true);
    EXPECT_EQ(Run("A < 2"), (Addresses{70, 10}));
    EXPECT_EQ(Run("B <> 2"), (Addresses{60, 50}));
}

TEST_F(FilterEvaluator, QueryModeGivesAddressOrderUnlessSortedOutputIsAsked)
{
    Evaluator.SetQueryActive(true);
    EXPECT_EQ(Run("A > 2"), (Addresses{30, 50, 80}));
    Evaluator.SetSortedOutput(true);
    EXPECT_EQ(Run("A > 2"), (Addresses{80, 50, 30}));
}

TEST_F(FilterEvaluator, BadTextFailsWithThePositionAndEvaluatesNothing)
{
    Evaluator.SetFilterText("A > > 2");
    EXPECT_FALSE(Evaluator.Open());
    EXPECT_NE(Evaluator.GetErrors().find("Character"), std::string::npos) << Evaluator.GetErrors();
    EXPECT_EQ(Provider.Reads, 0);
    EXPECT_FALSE(Evaluator.Active());
    Evaluator.SetFilterText("Nope = 1");
    EXPECT_FALSE(Evaluator.Open());
    EXPECT_FALSE(Evaluator.GetErrors().empty());
}

TEST_F(FilterEvaluator, DriverSelectionCombinesWithTheTablesOwnFilter)
{
    Run("A > 1");
    // B = 2 as a ready expression of the query side.
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText("B = 2");
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Provider.Tables());
    Parser.Execute(TVekParserOptions{vpoExtSyntax}, Pre.GetSection(vstWhere));
    ASSERT_FALSE(Parser.HasParseError());

    TVekFilterExprDriver Driver;
    Driver.SetFilterExpr(Parser.Expr());
    EXPECT_TRUE(Evaluator.AssignExpr(&Driver, veoAND));
    EXPECT_EQ(Evaluator.ResultList(), (Addresses{20}));
    EXPECT_TRUE(Evaluator.AssignExpr(&Driver, veoOR));
    EXPECT_EQ(Evaluator.ResultList(), (Addresses{80, 70, 60, 50, 40, 30, 20, 10}));
    Driver.SetOverwriteExpr(true);
    EXPECT_TRUE(Evaluator.AssignExpr(&Driver, veoAND));
    EXPECT_EQ(Evaluator.ResultList(), (Addresses{70, 40, 20, 10}));
    // The own filter stays the last parsed text.
    Driver.SetOverwriteExpr(false);
    EXPECT_TRUE(Evaluator.AssignExpr(&Driver, veoAND));
    EXPECT_EQ(Evaluator.ResultList(), (Addresses{20}));
}

TEST_F(FilterEvaluator, AssessExprOnlyFillsTheLimitsAndEvaluatesNoRecord)
{
    struct Case {
        const char* Text;
        bool Assessed, MinSet, MaxSet;
        double Min, Max;
    };
    const Case Cases[] = {
        {"A >= 10", true, true, false, 10, 0},
        {"A = 3", true, true, true, 3, 3},
        {"A < 7", true, false, true, 0, 7},
        {"A <> 7", true, false, false, 0, 0},
        {"A > 1 AND A < 5", false, false, false, 0, 0},
        {"B > 1", false, false, false, 0, 0},
    };
    for (const Case& C : Cases) {
        TVekPreParser Pre;
        Pre.SetParseAsExprOnly(true);
        Pre.SetText(C.Text);
        Pre.PreParseTokens();
        TVekExprParser Parser;
        Parser.SetTableList(Provider.Tables());
        Parser.Execute(TVekParserOptions{vpoExtSyntax}, Pre.GetSection(vstWhere));
        TVekFilterExprDriver Driver;
        Driver.SetFilterExpr(Parser.Expr());
        Driver.SetOverwriteExpr(true);
        Driver.SetAssessExprOnly(true);
        Driver.SetLimitFieldName("a");
        Provider.Reads = 0;
        EXPECT_TRUE(Evaluator.AssignExpr(&Driver, veoAND));
        EXPECT_EQ(Provider.Reads, 0) << C.Text;
        EXPECT_EQ(Driver.LimitsAssessed(), C.Assessed) << C.Text;
        EXPECT_EQ(Driver.LimitMinSet(), C.MinSet) << C.Text;
        EXPECT_EQ(Driver.LimitMaxSet(), C.MaxSet) << C.Text;
        if (C.MinSet) {
            EXPECT_EQ(Driver.LimitFieldMin().AsDouble(), C.Min) << C.Text;
        }
        if (C.MaxSet) {
            EXPECT_EQ(Driver.LimitFieldMax().AsDouble(), C.Max) << C.Text;
        }
        EXPECT_EQ(Driver.ExprOptimizationLevel(), olNone);
    }
}

TEST_F(FilterEvaluator, IndexAnswerIsTakenAtFullAndEvaluatedAtPartial)
{
    // At olFull the index list is the answer (never the whole base list);
    // at olPartial only its candidates are read.
    Evaluator.SetIndexAnswerer(std::make_unique<FixedAnswerer>(olFull, Addresses{50, 30, 80}));
    EXPECT_EQ(Run("A > 2"), (Addresses{80, 50, 30}));
    EXPECT_EQ(Provider.Reads, 0);
    EXPECT_EQ(Evaluator.OptimisationLevel(), olFull);

    Evaluator.SetIndexAnswerer(std::make_unique<FixedAnswerer>(olPartial, Addresses{10, 20, 30, 30}));
    EXPECT_EQ(Run("A > 1"), (Addresses{30, 20}));
    EXPECT_EQ(Provider.Reads, 3);

    // Forced per record: the index side is not asked for its answer.
    Evaluator.SetIndexAnswerer(std::make_unique<FixedAnswerer>(olFull, Addresses{}));
    Evaluator.SetForcePerRecord(true);
    Provider.Reads = 0;
    EXPECT_EQ(Run("A > 2"), (Addresses{80, 50, 30}));
    EXPECT_EQ(Provider.Reads, 8);
    EXPECT_EQ(Evaluator.OptimisationLevel(), olNone);
}

} // namespace
} // namespace orvex
