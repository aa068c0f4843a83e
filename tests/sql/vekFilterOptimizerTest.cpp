// The filter optimiser over real index trees: the levels it rates, the
// records its index answers give, and a differential test in which random
// conditions over random tables are answered with the indexes, with the
// indexes ignored, and by evaluating every record as parsed, in both NULL
// modes. More seeds: ORVEX_OPTIM_SEEDS=<count> (and ORVEX_OPTIM_SEED=<first>).

#include "FilterOptimizerTestTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>

namespace orvex {
namespace {

using namespace optimtest;

// People: Age INTEGER, Name VARCHAR(8), City VARCHAR(8), Score FLOAT.
class PeopleTest : public ::testing::Test {
protected:
    PeopleTest()
    {
        const std::vector<std::vector<Variant>> Rows = {
            {Variant(30), Variant("SMITH"), Variant("X"), Variant(1.5)},   // 1
            {Variant(25), Variant("SMZA"), Variant("Y"), Variant(2.5)},    // 2
            {Null(), Variant("Smith"), Variant("X"), Null()},               // 3
            {Variant(5), Variant("JONES"), Null(), Variant(-1.0)},          // 4
            {Variant(6), Variant("SM\xB5"), Variant("X"), Variant(7.0)},       // 5
            {Variant(30), Null(), Variant("Z"), Variant(2.5)},              // 6
            {Variant(41), Variant("SM%X"), Variant("Y"), Variant(0.0)},     // 7
            {Variant(1), Variant("ADAMS"), Variant("X"), Variant(3.0)},     // 8
        };
        for (const auto& Row : Rows)
            FTable.AddRow(Row);
    }

    TAddressSet Answer(const std::string& Text, TFilterMode Mode = {}, int* Evaluated = nullptr)
    {
        TFilterRun Run(FTable, Text, Mode);
        EXPECT_EQ(Run.Error(), "") << Text;
        return Run.Answer(Evaluated);
    }
    TVekFilterOptimisationLevel Level(const std::string& Text, TFilterMode Mode = {})
    {
        TFilterRun Run(FTable, Text, Mode);
        EXPECT_EQ(Run.Error(), "") << Text;
        return Run.Analyze();
    }

    TOptimTable FTable{{{"Age", ftInteger}, {"Name", ftString, 8}, {"City", ftString, 8}, {"Score", ftFloat}}};
};

TEST_F(PeopleTest, LevelsOfConditions)
{
    FTable.AddIndex("ByAge", {{"Age"}});
    FTable.AddIndex("ByName", {{"Name"}});
    struct TCase {
        const char* Text;
        TVekFilterOptimisationLevel Level;
        bool CaseInsensitive;
    } const Cases[] = {
        {"Name = 'SMITH'", olFull, false},
        {"Name = 'SMITH'", olNone, true}, // only a case-sensitive index on Name
        {"Name LIKE 'SM%'", olPartial, false},
        {"Name LIKE '%SM'", olNone, false},
        {"Name LIKE 'S'", olNone, false},
        {"Name NOT LIKE 'SM%'", olNone, false},
        {"Age <> 30", olFull, false},
        {"Age BETWEEN 20 AND 30", olFull, false},
        {"Age > 5 AND City = 'X'", olPartial, false},
        {"Age > 5 AND Name = 'SMITH'", olFull, false},
        {"Age > 5 OR City = 'X'", olNone, false},
        {"Age > 5 OR Name = 'SMITH'", olFull, false},
        {"5 < Age", olFull, false},
        {"Age > 2 + 3", olFull, false},
        {"Age IN (1, 5, 30)", olFull, false},
        {"Age NOT IN (1, 5, 30)", olNone, false},
        {"Age IS NULL", olFull, false},
        {"Name IS NOT NULL", olFull, true},
        {"NOT (Age > 5)", olNone, false},
        {"NOT (Age = 1 OR Age = 5)", olNone, false},
        {"NOT (Age BETWEEN 1 AND 5)", olNone, false},
        {"NOT (Age IS NULL)", olNone, false},
        {"(Age > 5) IS NULL", olNone, false},
        {"Score > 1", olNone, false},
        {"Age * 2 > 10", olNone, false},
    };
    for (const TCase& C : Cases) {
        TFilterMode Mode;
        Mode.CaseInsensitive = C.CaseInsensitive;
        EXPECT_EQ(Level(C.Text, Mode), C.Level) << C.Text;
    }
}

TEST_F(PeopleTest, IndexAnswersMatchEvaluation)
{
    FTable.AddIndex("ByAge", {{"Age"}});
    FTable.AddIndex("ByName", {{"Name"}});
    FTable.AddIndex("ByScoreDesc", {{"Score", true}});
    struct TCase {
        const char* Text;
        std::vector<std::uintptr_t> Expected; // without ExcludeRelopNulls
        std::vector<std::uintptr_t> ExpectedSql; // with it
    } const Cases[] = {
        // NULL ranks below every value unless comparisons with NULL are
        // unknown.
        {"Age < 6", {3, 4, 8}, {4, 8}},
        {"Age <= 6", {3, 4, 5, 8}, {4, 5, 8}},
        {"Age <> 30", {2, 3, 4, 5, 7, 8}, {2, 4, 5, 7, 8}},
        {"Age = 30", {1, 6}, {1, 6}},
        {"Age > 30", {7}, {7}},
        {"Age IS NULL", {3}, {3}},
        {"Age IS NOT NULL", {1, 2, 4, 5, 6, 7, 8}, {1, 2, 4, 5, 6, 7, 8}},
        // A constant the key cannot hold moves the bound or matches nothing.
        {"Age > 5.7", {1, 2, 5, 6, 7}, {1, 2, 5, 6, 7}},
        {"Age >= 5.5", {1, 2, 5, 6, 7}, {1, 2, 5, 6, 7}},
        {"Age < 5.5", {3, 4, 8}, {4, 8}},
        {"Age = 5.5", {}, {}},
        {"Age = 1000000000000", {}, {}},
        {"Age < 1000000000000", {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 4, 5, 6, 7, 8}},
        {"Age > -1000000000000", {1, 2, 4, 5, 6, 7, 8}, {1, 2, 4, 5, 6, 7, 8}},
        {"Name = 'SMITHSONIAN'", {}, {}},
        {"Name < 'SMITHSONIAN'", {1, 3, 4, 6, 7, 8}, {1, 3, 4, 7, 8}},
        // IN: each record once, NULL elements by the NULL mode.
        {"Age IN (30, 30, 5)", {1, 4, 6}, {1, 4, 6}},
        {"Age IN (1, 1, NULL)", {3, 8}, {8}},
        // The LIKE prefix is bounded by the collation, not character 255.
        {"Name LIKE 'SM%'", {1, 2, 5, 7}, {1, 2, 5, 7}},
        {"Name LIKE 'SM\\%%' ESCAPE '\\'", {7}, {7}},
        // LIKE over a NULL value or pattern matches nothing in a filter, so
        // NOT makes it true there; in SQL it is unknown, and so is its NOT.
        {"NOT (Name LIKE 'SM%')", {3, 4, 6, 8}, {3, 4, 8}},
        {"Name NOT LIKE 'SM%'", {3, 4, 8}, {3, 4, 8}},
        {"NOT (Name NOT LIKE 'SM%')", {1, 2, 5, 6, 7}, {1, 2, 5, 7}},
        {"NOT (UPPER(Name) LIKE 'SM%')", {4, 6, 8}, {4, 8}},
        {"NOT (Name LIKE City)", {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 5, 7, 8}},
        // The field on the right.
        {"30 > Age", {2, 3, 4, 5, 8}, {2, 4, 5, 8}},
        {"30 = Age", {1, 6}, {1, 6}},
        // A descending key.
        {"Score > 2", {2, 5, 6, 8}, {2, 5, 6, 8}},
        {"Score <= 1.5", {1, 3, 4, 7}, {1, 4, 7}},
        {"Score BETWEEN 0 AND 2.5", {1, 2, 6, 7}, {1, 2, 6, 7}},
        {"Score BETWEEN 3 AND 1", {}, {}},
        // No OR rewrite.
        {"Age < 5 OR Age > 10", {1, 2, 3, 6, 7, 8}, {1, 2, 6, 7, 8}},
        {"Age BETWEEN 5 AND 30 AND Name LIKE 'S%'", {1, 2, 5}, {1, 2, 5}},
    };
    for (const TCase& C : Cases) {
        for (const bool Sql : {false, true}) {
            TFilterMode Mode;
            Mode.ExcludeRelopNulls = Sql;
            const auto& Want = Sql ? C.ExpectedSql : C.Expected;
            const TAddressSet Expected(Want.begin(), Want.end());
            EXPECT_EQ(ShowSet(Answer(C.Text, Mode)), ShowSet(Expected)) << C.Text << (Sql ? " (SQL)" : "");
            EXPECT_EQ(ShowSet(EvaluateEveryRecord(FTable, C.Text, Mode)), ShowSet(Expected))
                << C.Text << (Sql ? " (SQL, evaluated)" : " (evaluated)");
        }
    }
}

TEST_F(PeopleTest, FullAnswersEvaluateNoRecordAndPartialOnlyCandidates)
{
    FTable.AddIndex("ByAge", {{"Age"}});
    FTable.AddIndex("ByName", {{"Name"}});
    int Evaluated = -1;
    Answer("Age BETWEEN 5 AND 30", {}, &Evaluated);
    EXPECT_EQ(Evaluated, 0);
    Answer("Age <> 30 AND Name = 'SMITH'", {}, &Evaluated);
    EXPECT_EQ(Evaluated, 0);
    Answer("Name LIKE 'SM%'", {}, &Evaluated);
    // The candidates start like "sm" by the collation: SMITH, SMZA, Smith,
    // SM\xB5, SM%X.
    EXPECT_EQ(Evaluated, 5);
    Answer("Age = 30 AND Score > 2", {}, &Evaluated);
    EXPECT_EQ(Evaluated, 2);
}

TEST_F(PeopleTest, CaseInsensitiveIndexAnswersCaseInsensitiveFilter)
{
    FTable.AddIndex("ByNameCI", {{"Name", false, true}});
    TFilterMode CI;
    CI.CaseInsensitive = true;
    EXPECT_EQ(Level("Name = 'smith'", CI), olFull);
    EXPECT_EQ(ShowSet(Answer("Name = 'smith'", CI)), "{1,3}");
    EXPECT_EQ(Level("Name = 'smith'"), olNone);
    EXPECT_EQ(ShowSet(Answer("Name = 'smith'")), "{}");
    EXPECT_EQ(ShowSet(Answer("Name LIKE 'sm%'", CI)), "{1,2,3,5,7}");
}

TEST_F(PeopleTest, PartialComparisonFromThePrefix)
{
    FTable.AddRow({Variant(2), Variant("S"), Null(), Null()});  // 9: a beginning of "SM"
    FTable.AddRow({Variant(3), Variant(""), Null(), Null()});   // 10: so is ""
    FTable.AddRow({Variant(4), Variant("SA"), Null(), Null()}); // 11: not
    FTable.AddIndex("ByName", {{"Name"}});
    TFilterMode Partial;
    Partial.PartialCompare = true;
    EXPECT_EQ(Level("Name = 'SM*'", Partial), olPartial);
    EXPECT_EQ(Level("Name > 'SM*'", Partial), olNone);
    int Evaluated = -1;
    EXPECT_EQ(ShowSet(Answer("Name = 'SM*'", Partial, &Evaluated)), "{1,2,5,7,9,10}");
    EXPECT_EQ(Evaluated, 7); // and Smith
    EXPECT_EQ(ShowSet(EvaluateEveryRecord(FTable, "Name = 'SM*'", Partial)), "{}"); // "*" kept unless rewritten
}

TEST_F(PeopleTest, ConstantsAreFoldedAndTurnedRound)
{
    TFilterRun Run(FTable, "Age > 2 + 3", {});
    Run.Analyze();
    ASSERT_NE(Run.Root(), nullptr);
    ASSERT_EQ(Run.Root()->Right()->Kind(), enkConst);
    EXPECT_EQ(Run.Root()->Right()->Data().AsDouble(), 5.0);
    TFilterRun Turned(FTable, "5 < Age", {});
    Turned.Analyze();
    EXPECT_EQ(Turned.Root()->Operator(), veoGT);
    EXPECT_EQ(Turned.Root()->Left()->Kind(), enkField);
    TFilterMode Partial;
    Partial.PartialCompare = true;
    TFilterRun Cut(FTable, "Name = 'SM*'", Partial);
    Cut.Analyze();
    EXPECT_EQ(Cut.Root()->Right()->Data().AsString(), "SM");
    EXPECT_EQ(Cut.Root()->Right()->PartialLength(), 2);
}

TEST_F(PeopleTest, FieldLimitsOfTheRootComparison)
{
    struct TCase {
        const char* Text;
        bool Valid, MinSet, MaxSet;
        double Min, Max;
    } const Cases[] = {
        {"Age >= 10", true, true, false, 10, 0},
        {"10 <= Age", true, true, false, 10, 0},
        {"Age = 7", true, true, true, 7, 7},
        {"Age < 3", true, false, true, 0, 3},
        {"Age > 1 AND Age < 3", false, false, false, 0, 0},
        {"Score > 1", false, false, false, 0, 0},
    };
    for (const TCase& C : Cases) {
        TFilterRun Run(FTable, C.Text, {});
        Run.Analyze();
        TExprFieldLimits Limits;
        Limits.SetFieldName("AGE");
        Run.Optimizer().AssessExprFieldLimits(&Limits);
        EXPECT_EQ(Limits.Valid(), C.Valid) << C.Text;
        EXPECT_EQ(Limits.MinSet(), C.MinSet) << C.Text;
        EXPECT_EQ(Limits.MaxSet(), C.MaxSet) << C.Text;
        if (C.MinSet) {
            EXPECT_EQ(Limits.Min().AsDouble(), C.Min) << C.Text;
        }
        if (C.MaxSet) {
            EXPECT_EQ(Limits.Max().AsDouble(), C.Max) << C.Text;
        }
    }
}

TEST_F(PeopleTest, IndexRequestsAndSearchTypes)
{
    FTable.AddIndex("ByAge", {{"Age"}});
    TFilterRun Run(FTable, "Age > 5 AND (Age = 7 OR City = 'X')", {});
    Run.Analyze();
    TStringList Lines;
    Run.Optimizer().Mgr()->ListIndexRequests(&Lines);
    ASSERT_EQ(Lines.Count(), 2);
    EXPECT_EQ(Lines.Strings(0), "coGT");
    EXPECT_EQ(Lines.Strings(1), "coEQ");
    // Whether the base list is needed is known before any list is made.
    for (const auto& [Text, Inverted] : {std::pair{"Age <> 30", true}, std::pair{"Age <> 30 OR Age = 1", true},
                                         std::pair{"NOT (Age <> 30)", false}, std::pair{"Age = 30", false}}) {
        TFilterRun Inv(FTable, Text, {});
        Inv.Analyze();
        EXPECT_EQ(Inv.Optimizer().HasInvertedLists(), Inverted) << Text;
    }
    EXPECT_EQ(TIndexDataInterface::MapRelOpToSearchType(veoLT, false), stLT);
    EXPECT_EQ(TIndexDataInterface::MapRelOpToSearchType(veoLT, true), stGT);
    EXPECT_EQ(TIndexDataInterface::MapRelOpToSearchType(veoEQ, true), stLE);
    EXPECT_EQ(TIndexDataInterface::MapRelOpToSearchType(veoGE, true), stLE);
    try {
        TIndexDataInterface::MapRelOpToSearchType(veoAND, false);
        ADD_FAILURE() << "no error for AND";
    } catch (const EVekDatabaseError& E) {
        EXPECT_EQ(E.ErrorCode, 8581);
        EXPECT_NE(std::string(E.what()).find("Unexpected seek type in Internal Find"), std::string::npos);
    }
    EXPECT_EQ(TIndexDataInterface::ConvertStringForPartialMatch(veoLIKE, "SM%X_", '\0'), "SM");
    EXPECT_EQ(TIndexDataInterface::ConvertStringForPartialMatch(veoLIKE, "S\\%M%", '\\'), "S%M");
}

TEST(FilterOptimizerLists, SortedListOperations)
{
    TRecordEntries A, B, Out;
    for (std::uintptr_t V : {9, 3, 5, 3, 1})
        A.push_back({V, V * 10});
    for (std::uintptr_t V : {5, 2, 9})
        B.push_back({V, V * 100});
    SortAndDeduplicate(A);
    SortAndDeduplicate(B);
    ASSERT_EQ(A.size(), 4u);
    IntersectSorted(A, B, Out);
    ASSERT_EQ(Out.size(), 2u);
    EXPECT_EQ(Out[0].Address, 5u);
    EXPECT_EQ(Out[0].Companion, 50u);
    Out.clear();
    UniteSorted(A, B, Out);
    ASSERT_EQ(Out.size(), 5u);
    EXPECT_EQ(Out[1].Address, 2u);
}

TEST(FilterOptimizerUnique, SingleFieldKeysWithoutRecordID)
{
    for (const bool Descending : {false, true}) {
        TOptimTable Table({{"n", ftInteger}, {"x", ftFloat}});
        for (int N = 1; N <= 40; ++N)
            Table.AddRow({N == 17 ? Null() : Variant(N * 3), N == 5 ? Null() : Variant(N * 0.5)});
        Table.AddIndex("ByN", {{"n", Descending}}, true);
        Table.AddIndex("ByX", {{"x", Descending}}, true);
        for (const char* Text : {"n > 10.5", "n >= 12", "n = 7", "n = 9", "n <= 20", "n < 21", "n <> 3",
                                 "n IS NULL", "n BETWEEN 10 AND 30", "n > 4000000000", "n < -4000000000",
                                 "x > 3", "x >= 3", "x = 2.5", "x < 0.75", "x <> 1", "x IS NOT NULL"}) {
            for (const bool Sql : {false, true}) {
                TFilterMode Mode;
                Mode.ExcludeRelopNulls = Sql;
                TFilterRun Run(Table, Text, Mode);
                EXPECT_EQ(Run.Analyze(), olFull) << Text;
                EXPECT_EQ(ShowSet(Run.Answer()), ShowSet(EvaluateEveryRecord(Table, Text, Mode)))
                    << Text << (Descending ? " descending" : "") << (Sql ? " (SQL)" : "");
            }
        }
    }
}

TEST(FilterOptimizerDuplicates, RunsOfOneValueInOneLeafOrOverMany)
{
    // Values that fill many leaves each, rare ones whose keys sit in one
    // leaf, NULLs; the end of a value's run is found in its leaf or by a
    // second search.
    for (const bool Descending : {false, true}) {
        TOptimTable Table({{"n", ftInteger}, {"s", ftString, 6}});
        for (int Row = 0; Row < 3000; ++Row) {
            const Variant N = Row % 97 == 0 ? Null() : Row % 100 == 1 ? Variant(50 + Row / 100) : Variant(Row % 4);
            const char* const Words[] = {"aa", "bb", "cc"};
            Table.AddRow({N, Row % 89 == 0 ? Null() : Variant(std::string(Words[Row % 3]))});
        }
        Table.AddIndex("ByN", {{"n", Descending}});
        Table.AddIndex("ByS", {{"s", Descending}});
        for (const char* Text : {"n = 1", "n = 3", "n = 55", "n = 4", "n IN (0, 3)", "n IN (1, 1, NULL)",
                                 "n IN (52, 2, 77)", "n > 1", "n >= 3", "n <= 2", "n < 1", "n <> 2",
                                 "n BETWEEN 1 AND 2", "s = 'bb'", "s IN ('aa', 'cc')", "s > 'aa'",
                                 "s <= 'bb'", "n = 2 AND s = 'cc'"}) {
            for (const bool Sql : {false, true}) {
                TFilterMode Mode;
                Mode.ExcludeRelopNulls = Sql;
                TFilterRun Run(Table, Text, Mode);
                EXPECT_EQ(ShowSet(Run.Answer()), ShowSet(EvaluateEveryRecord(Table, Text, Mode)))
                    << Text << (Descending ? " descending" : "") << (Sql ? " (SQL)" : "");
            }
        }
    }
}

TEST(FilterOptimizerDuplicates, ValuesAndRangesOverManyLeavesFromOneRegistry)
{
    // 6000 rows over some sixty leaves, ten of each value of n in a
    // scattered order, so that runs of one value now and then cross a leaf's
    // end. Every condition is answered through the same registry, one after
    // the other: what one condition's searches saw must never answer the
    // next one.
    constexpr int Rows = 6000;
    auto NOf = [](int Row) { return Row % 131 == 0 ? -1 : (Row * 7919) % 600; };
    auto MOf = [](int Row) { return Row % 50; };
    for (const bool Descending : {false, true}) {
        TOptimTable Table({{"n", ftInteger}, {"m", ftInteger}});
        for (int Row = 0; Row < Rows; ++Row)
            Table.AddRow({NOf(Row) < 0 ? Null() : Variant(NOf(Row)), Variant(MOf(Row))});
        Table.AddIndex("ByN", {{"n", Descending}});
        Table.AddIndex("ByM", {{"m", false}});
        struct TCase {
            std::string Text;
            std::function<bool(int, int)> Passes; // n (-1: NULL), m
        };
        std::vector<TCase> Cases;
        for (int V = 0; V < 600; V += 31) {
            Cases.push_back({"n IN (" + std::to_string(V) + ", " + std::to_string(V + 1) + ", " +
                                 std::to_string(V + 250) + ")",
                             [V](int N, int) { return N >= 0 && (N == V || N == V + 1 || N == V + 250); }});
            Cases.push_back({"n = " + std::to_string(V + 2) + " OR n = " + std::to_string(V + 5),
                             [V](int N, int) { return N >= 0 && (N == V + 2 || N == V + 5); }});
            // Values out of order, repeated, between two whole numbers and
            // beyond every key: one value's searches must not answer the next
            // from the wrong place in a leaf.
            Cases.push_back({"n IN (" + std::to_string(V + 250) + ", " + std::to_string(V + 9) + ", " +
                                 std::to_string(V) + ".5, " + std::to_string(V + 9) + ", 700, " +
                                 std::to_string(V + 8) + ")",
                             [V](int N, int) { return N >= 0 && (N == V + 250 || N == V + 9 || N == V + 8); }});
        }
        for (int V = 0; V < 600; V += 67) {
            Cases.push_back({"n BETWEEN " + std::to_string(V) + " AND " + std::to_string(V + 12),
                             [V](int N, int) { return N >= V && N <= V + 12; }});
            Cases.push_back({"n IN (" + std::to_string(V) + ", " + std::to_string(V + 3) + ") AND m IN (1, 2, 3)",
                             [V](int N, int M) { return (N == V || N == V + 3) && M >= 1 && M <= 3; }});
            Cases.push_back({"n IN (" + std::to_string(V + 4) + ", 599) OR m = 7",
                             [V](int N, int M) { return (N >= 0 && (N == V + 4 || N == 599)) || M == 7; }});
            Cases.push_back({"n >= " + std::to_string(V) + " AND n < " + std::to_string(V + 40) + " AND n <> " +
                                 std::to_string(V + 1),
                             [V](int N, int) { return N >= V && N < V + 40 && N != V + 1; }});
        }
        for (const bool Sql : {false, true}) {
            TFilterMode Mode;
            Mode.ExcludeRelopNulls = Sql;
            for (const TCase& Case : Cases) {
                TAddressSet Expected;
                for (int Row = 0; Row < Rows; ++Row)
                    if (Case.Passes(NOf(Row), MOf(Row)))
                        Expected.insert(static_cast<std::uintptr_t>(Row + 1));
                TFilterRun Run(Table, Case.Text, Mode);
                ASSERT_EQ(ShowSet(Run.Answer()), ShowSet(Expected))
                    << Case.Text << (Descending ? " descending" : "") << (Sql ? " (SQL)" : "");
            }
        }
    }
}

TEST(FilterOptimizerEmpty, EmptyTableAndNoCondition)
{
    TOptimTable Table({{"Age", ftInteger}});
    Table.AddIndex("ByAge", {{"Age"}});
    TFilterRun Run(Table, "Age > 1 AND Age <> 3", {});
    EXPECT_EQ(ShowSet(Run.Answer()), "{}");
    TFilterOptimizer Optimizer(Table.Registry());
    EXPECT_EQ(Optimizer.GetBaseOptimisationLevel(), olNone);
    EXPECT_EQ(Optimizer.GetResultSetList(), nullptr);
}

// ================================================== the differential test

class TConditionGenerator {
public:
    explicit TConditionGenerator(std::mt19937_64& Random) : FRandom(Random) {}

    std::string Condition(int Depth)
    {
        const int Kind = Pick(Depth > 0 ? 10 : 6);
        switch (Kind) {
        case 6:
        case 7:
            return "(" + Condition(Depth - 1) + (Pick(2) ? " AND " : " OR ") + Condition(Depth - 1) + ")";
        case 8:
            return "NOT (" + Condition(Depth - 1) + ")";
        case 9:
            return "(" + Condition(Depth - 1) + " AND " + Condition(Depth - 1) + ")";
        default:
            return Leaf();
        }
    }

private:
    int Pick(int N) { return static_cast<int>(FRandom() % static_cast<std::uint64_t>(N)); }

    std::string Number()
    {
        static const char* const Numbers[] = {"0", "1", "2", "3", "-1", "-3", "2.5", "5.7", "-0.5", "4",
                                              "1000000000000", "-1000000000000", "40000", "1 + 1", "6 / 4"};
        return Numbers[Pick(std::size(Numbers))];
    }
    std::string Text()
    {
        static const char* const Texts[] = {"'a'",  "'A'",   "'ab'", "'Ab'",     "'b'",  "'SM'",  "'SMZ'",
                                            "'sm'", "'Smi'", "'\xE9'", "'\xC9'",      "'z'",  "'\xB5'",   "'abcdefghij'",
                                            "'B*'", "'a*'",  "'zz'", "'SMz'",    "'A%'", "'a_'"};
        return Texts[Pick(std::size(Texts))];
    }
    std::string Pattern()
    {
        static const char* const Patterns[] = {"'a%'", "'SM%'", "'S%'", "'Ab%'", "'\xE9%'", "'a_'", "'%b'",
                                               "'A\\%%' ESCAPE '\\'", "'s_%'", "'SMZ'", "'b'"};
        return Patterns[Pick(std::size(Patterns))];
    }
    std::string NumberField()
    {
        static const char* const Fields[] = {"i", "f", "si"};
        return Fields[Pick(3)];
    }
    std::string Date()
    {
        static const char* const Dates[] = {"'2001-12-20'", "'2001-12-22'", "'2001-12-25'", "'2001-12-31'",
                                            "'2001-12-22 12:00'"};
        return Dates[Pick(std::size(Dates))];
    }
    std::string Op()
    {
        static const char* const Ops[] = {"=", "<>", "<", "<=", ">", ">="};
        return Ops[Pick(6)];
    }
    std::string Leaf()
    {
        switch (Pick(13)) {
        case 12: {
            // Forms no index answers: they must be left to evaluation.
            static const char* const Others[] = {
                "UPPER(s) = 'A'", "s || 'x' = 'ax'", "i < si", "f BETWEEN i AND 3", "s LIKE s",
                "i IN (1, si)", "(i + 1) IS NULL", "NOT NOT (i > 1)", "(i > 1) = (si > 1)",
                "CAST(i AS VARCHAR(5)) = '3'", "s = s", "2 * 3 = 6", "1 = 0", "i > NULL + 1",
            };
            return Others[Pick(std::size(Others))];
        }
        case 11:
            return Pick(2) ? "d " + Op() + " " + Date() : "d BETWEEN " + Date() + " AND " + Date();
        case 0:
        case 1:
            return NumberField() + " " + Op() + " " + Number();
        case 2:
            return Number() + " " + Op() + " " + NumberField();
        case 3:
        case 4:
            return "s " + Op() + " " + Text();
        case 5:
            return "s LIKE " + Pattern();
        case 6: {
            std::string Text = NumberField() + " IN (" + Number();
            for (int N = Pick(3); N >= 0; --N)
                Text += ", " + (Pick(5) == 0 ? std::string("NULL") : Number());
            return Text + ")";
        }
        case 7:
            return (Pick(2) ? "s" : NumberField()) + (Pick(2) ? std::string(" IS NULL") : std::string(" IS NOT NULL"));
        case 8:
            return NumberField() + (Pick(3) == 0 ? " NOT" : "") + " BETWEEN " + Number() + " AND " + Number();
        case 9:
            return "s IN (" + Text() + ", " + Text() + ")";
        default:
            return NumberField() + " * 2 " + Op() + " " + Number();
        }
    }

    std::mt19937_64& FRandom;
};

// How many conditions were rated at each level, so that the test shows it
// reaches the index answers.
struct TLevelCounts {
    int Counts[TVekFilterOptimisationLevelCount] = {};
    int Refused = 0; // conditions the parser refused
};

void RunSeed(std::uint64_t Seed, TLevelCounts& Levels)
{
    SCOPED_TRACE(testing::Message() << "seed " << Seed);
    std::mt19937_64 Random(Seed);
    auto Pick = [&](int N) { return static_cast<int>(Random() % static_cast<std::uint64_t>(N)); };
    sqltest::PinnedFormats Formats;
    TOptimTable Table(
        {{"i", ftInteger}, {"f", ftFloat}, {"s", ftString, 6}, {"si", ftSmallint}, {"d", ftDateTime}});
    static const char* const Words[] = {"a", "A", "ab", "Ab", "aB", "b", "B", "SM", "SMZ", "SMz", "Smith",
                                        "sm", "\xE9", "\xC9", "ea", "z", "\xB5", "zz", "A%", "a_b", "B*"};
    const int Rows = Pick(4) == 0 ? Pick(3) : 50 + Pick(250);
    for (int Row = 0; Row < Rows; ++Row) {
        auto Maybe = [&](Variant V) { return Pick(7) == 0 ? Null() : V; };
        Table.AddRow({Maybe(Variant(Pick(11) - 5)), Maybe(Variant((Pick(13) - 6) * 0.5)),
                      Maybe(Variant(Words[Pick(std::size(Words))])),
                      Maybe(Variant::FromSmallint(static_cast<SmallInt>(Pick(9) - 4))),
                      Maybe(Variant::FromDate(EncodeDate(2001, 12, 19 + Pick(8)) + Pick(2) * 0.5))});
    }
    const std::vector<std::vector<TKeySpec>> Candidates = {
        {{"i"}}, {{"i", true}}, {{"f"}}, {{"f", true}}, {{"s"}}, {{"s", true}}, {{"s", false, true}},
        {{"s", true, true}}, {{"s"}, {"i"}}, {{"i", true}, {"f"}}, {{"si"}}, {{"si", true}, {"s"}},
        {{"d"}}, {{"d", true}},
    };
    int Count = 0;
    for (const auto& Keys : Candidates)
        if (Pick(3) == 0)
            Table.AddIndex("Idx" + std::to_string(Count++), Keys);
    TConditionGenerator Generator(Random);
    for (int N = 0; N < 60; ++N) {
        const std::string Text = Generator.Condition(Pick(3));
        TFilterMode Mode;
        Mode.ExcludeRelopNulls = Pick(2) == 0;
        Mode.CaseInsensitive = Pick(3) == 0;
        Mode.PartialCompare = Pick(3) == 0;
        TFilterRun Indexed(Table, Text, Mode);
        if (!Indexed.Error().empty()) {
            ++Levels.Refused;
            continue;
        }
        const TAddressSet WithIndexes = Indexed.Answer();
        ++Levels.Counts[Indexed.Optimizer().GetBaseOptimisationLevel()];
        TFilterMode Forced = Mode;
        Forced.ForceNoIndexes = true;
        TFilterRun Plain(Table, Text, Forced);
        const TAddressSet WithoutIndexes = Plain.Answer();
        const std::string Context = Text + (Mode.ExcludeRelopNulls ? " [SQL nulls]" : "") +
                                    (Mode.CaseInsensitive ? " [ci]" : "") + (Mode.PartialCompare ? " [partial]" : "");
        ASSERT_EQ(ShowSet(WithIndexes), ShowSet(WithoutIndexes)) << Context;
        // Folding and turning round change nothing: compare with the tree as
        // parsed where no constant is prepared for matching.
        if (!Mode.CaseInsensitive && !Mode.PartialCompare) {
            ASSERT_EQ(ShowSet(WithIndexes), ShowSet(EvaluateEveryRecord(Table, Text, Mode))) << Context;
        }
    }
}

TEST(FilterOptimizerDifferential, IndexesAgreeWithEvaluation)
{
    std::uint64_t First = 1;
    int Seeds = 12;
    if (const char* Env = std::getenv("ORVEX_OPTIM_SEEDS"))
        Seeds = std::atoi(Env);
    if (const char* Env = std::getenv("ORVEX_OPTIM_SEED"))
        First = std::strtoull(Env, nullptr, 10);
    TLevelCounts Levels;
    for (int N = 0; N < Seeds; ++N) {
        RunSeed(First + static_cast<std::uint64_t>(N), Levels);
        if (HasFatalFailure())
            return;
    }
    if (Seeds >= 12) {
        EXPECT_GT(Levels.Counts[olFull], 50);
        EXPECT_GT(Levels.Counts[olPartial], 20);
        EXPECT_LT(Levels.Refused * 20, Seeds * 60) << "the generator writes conditions the parser refuses";
    }
}

} // namespace
} // namespace orvex
