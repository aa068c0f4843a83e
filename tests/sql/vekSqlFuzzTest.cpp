// Random and mutated statements through the tokenizer, the pre-parser, the
// clause parsers and the expression parser (and the evaluator when a
// condition parses): every input ends in a result or a recorded parser
// error; nothing crashes, leaks or hangs.
//
// ORVEX_SQL_FUZZ_COUNT sets the number of inputs (default 100000) and
// ORVEX_SQL_FUZZ_SEED the seed (default 19), for longer runs by hand.

#include "SqlTestSupport.h"
#include "sql/vekMiscParsers.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace orvex {
namespace {

using namespace sqltest;

// Valid conditions and values from a small grammar.
class Grammar {
public:
    explicit Grammar(std::mt19937& Random) : R(Random) {}

    std::string Condition(int Depth)
    {
        switch (Pick(Depth > 3 ? 4 : 9)) {
        case 0:
            return Value(Depth + 1) + " " + Pick({"=", "<>", "<", ">", "<=", ">="}) + " " + Value(Depth + 1);
        case 1:
            return Value(Depth + 1) + Pick({" IS NULL", " IS NOT NULL"});
        case 2:
            return Text(Depth + 1) + Pick({" LIKE ", " NOT LIKE "}) + Pattern() +
                   (Pick(3) == 0 ? " ESCAPE '!'" : "");
        case 3:
            return Value(Depth + 1) + Pick({" BETWEEN ", " NOT BETWEEN "}) + Value(Depth + 1) + " AND " +
                   Value(Depth + 1);
        case 4:
            return Condition(Depth + 1) + Pick({" AND ", " OR "}) + Condition(Depth + 1);
        case 5:
            return "NOT " + Condition(Depth + 1);
        case 6:
            return "(" + Condition(Depth + 1) + ")";
        case 7: {
            std::string List = Value(Depth + 1);
            for (int I = Pick(4); I > 0; --I)
                List += ", " + Value(Depth + 1);
            return Value(Depth + 1) + Pick({" IN (", " NOT IN ("}) + List + ")";
        }
        default:
            return Pick({"EXISTS (SELECT a FROM t)", "i = (SELECT a FROM t)", "i IN (SELECT a FROM t)",
                         "i > ALL (SELECT a FROM t)"});
        }
    }

    std::string Value(int Depth)
    {
        switch (Pick(Depth > 3 ? 6 : 12)) {
        case 0:
            return Pick({"i", "n", "f", "T.i", "T.f", "c", "si"});
        case 1:
            return Number();
        case 2:
            return Text(Depth);
        case 3:
            return Pick({"d", "t", "dt", "'2001-12-25'", "'10:20:30'", "CURRENT_DATE"});
        case 4:
            return Pick({"NULL", "TRUE", "FALSE", ":p", "b"});
        case 5:
            return Pick({"COUNT(*)", "SUM(i)", "AVG(DISTINCT f)", "MAX(s)"});
        case 6:
        case 7:
            return Value(Depth + 1) + " " + Pick({"+", "-", "*", "/", "||"}) + " " + Value(Depth + 1);
        case 8:
            return "(" + Value(Depth + 1) + ")";
        case 9:
            return "CAST(" + Value(Depth + 1) + " AS " +
                   Pick({"CHAR(5)", "VARCHAR(20)", "INT", "SMALLINT", "FLOAT", "NUMERIC(8,2)", "MONEY",
                         "BOOLEAN", "DATE", "TIME", "TIMESTAMP", "BLOB"}) +
                   ")";
        case 10:
            return "EXTRACT(" + Pick({"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"}) + " FROM " +
                   Pick({"d", "t", "dt", "i"}) + ")";
        default:
            return Text(Depth);
        }
    }

    std::string Text(int Depth)
    {
        switch (Pick(Depth > 3 ? 2 : 6)) {
        case 0:
            return Pick({"s", "e", "z", "T.s"});
        case 1:
            return Pick({"'abc'", "'it''s'", "\"quoted\"", "'%'", "''"});
        case 2:
            return "UPPER(" + Text(Depth + 1) + ")";
        case 3:
            return "SUBSTRING(" + Text(Depth + 1) + " FROM " + Number() +
                   (Pick(2) ? " FOR " + Number() : std::string()) + ")";
        case 4:
            return "TRIM(" + Pick({"", "LEADING ", "TRAILING ", "BOTH "}) + Pick({"", "'x' "}) + "FROM " +
                   Text(Depth + 1) + ")";
        default:
            return Text(Depth + 1) + " || " + Text(Depth + 1);
        }
    }

    std::string Number()
    {
        return Pick({"0", "1", "7", "2.5", "-3", "1000000", ".5", "1.2.3", "99999999999999999999"});
    }
    std::string Pattern() { return Pick({"'a%'", "'%b_'", "'!%%'", "'_'", "s", "'%' || 'x'"}); }

    std::string Statement()
    {
        switch (Pick(4)) {
        case 0:
            return "SELECT " + Value(1) + ", " + Value(1) + " FROM T WHERE " + Condition(0) + " GROUP BY i, T.s" +
                   " HAVING " + Condition(1) + " ORDER BY 1 DESC, s";
        case 1:
            return "SELECT DISTINCT a FROM T /* note */ WHERE " + Condition(0) + " // end";
        default:
            return Condition(0);
        }
    }

    int Pick(int N) { return static_cast<int>(R() % static_cast<unsigned>(N)); }
    std::string Pick(std::initializer_list<const char*> Items)
    {
        return *(Items.begin() + Pick(static_cast<int>(Items.size())));
    }

private:
    std::mt19937& R;
};

std::string Mutate(std::string Text, std::mt19937& R)
{
    static const std::string Interesting = "()'\"[]#`.,;:-+*/<>=%_!|\n\r\t \x01\xff\xe9" + std::string(1, '\0');
    const int Steps = 1 + static_cast<int>(R() % 4);
    for (int Step = 0; Step < Steps; ++Step) {
        const std::size_t Pos = Text.empty() ? 0 : R() % (Text.size() + 1);
        switch (R() % 5) {
        case 0: // delete a run
            if (!Text.empty() && Pos < Text.size())
                Text.erase(Pos, 1 + R() % 8);
            break;
        case 1: // insert an interesting character
            Text.insert(Pos, 1, Interesting[R() % Interesting.size()]);
            break;
        case 2: // replace a character by any byte
            if (Pos < Text.size())
                Text[Pos] = static_cast<char>(R() % 256);
            break;
        case 3: { // duplicate a run
            if (Pos < Text.size()) {
                const std::string Run = Text.substr(Pos, 1 + R() % 12);
                Text.insert(Pos, Run);
            }
            break;
        }
        default: // cut the text short
            Text.resize(Pos);
            break;
        }
    }
    return Text;
}

std::string RandomBytes(std::mt19937& R)
{
    std::string Text(R() % 64, '\0');
    for (char& C : Text)
        C = static_cast<char>(R() % 256);
    return Text;
}

// Runs one input through every stage. Exceptions other than the engine's
// own evaluation errors fail the test. True when the input parsed as a
// condition and was evaluated.
bool RunOne(const std::string& Text, RowProvider& Row)
{
    // The tokenizer alone, to the end of the text.
    {
        TVekTokenParser Tokenizer;
        Tokenizer.SetTokenString(Text);
        std::string Token;
        std::size_t Guard = 0;
        while (!(Tokenizer.GetNextToken(Token) == vstEnd && Token.empty()))
            if (++Guard > Text.size() + 2) {
                ADD_FAILURE() << "the tokenizer does not advance";
                return false;
            }
    }
    // A statement: its sections and the ORDER BY and GROUP BY parsers.
    {
        TVekPreParser Pre;
        Pre.SetText(Text);
        Pre.PreParseTokens();
        TStringList Params;
        Pre.GetParamList(&Params);
        TOrderByItems OrderBy;
        TVekOrderByParser OrderByParser;
        OrderByParser.ExecuteOrderBy(&OrderBy, Pre.GetSection(vstOrderBy));
        TGroupByItems GroupBy;
        TVekGroupByParser GroupByParser;
        GroupByParser.ExecuteGroupBy(&GroupBy, Pre.GetSection(vstGroupBy));
        if (TParserStack* Where = Pre.GetSection(vstWhere)) {
            TVekExprParser Parser;
            Parser.SetTableList(Row.Tables());
            Parser.SetValidEndTokens({vstEnd});
            Parser.Execute(AllOptions(), Where);
            if (Parser.HasParseError()) {
                EXPECT_FALSE(Parser.GetErrorMsg().empty());
            }
        }
        TVekPreParser Single;
        Single.SetParseSingleStack(true);
        Single.SetText(Text);
        Single.PreParseTokens();
        Single.CheckParseComplete();
    }
    // A filter condition, evaluated when it parses.
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText(Text);
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Row.Tables());
    Parser.Execute(AllOptions(), Pre.GetSection(vstWhere));
    if (Parser.HasParseError()) {
        EXPECT_FALSE(Parser.GetErrorMsg().empty());
        return false;
    }
    if (!Parser.Root())
        return false;
    TVekExpr Copy;
    Copy.CloneFromTree(Parser.Root());
    TExprEvaluator Evaluator;
    Evaluator.Prepare(&Row, Copy.FirstNode());
    try {
        Evaluator.Evaluate();
    } catch (const EVekDatabaseError& E) {
        // CAST to a blob type has no value.
        EXPECT_EQ(E.ErrorCode, 10000) << Text;
    }
    return true;
}

TEST(SqlFuzz, RandomAndMutatedStatementsEndInAResultOrAnError)
{
    PinnedFormats Formats;
    RowProvider Row(StandardColumns());
    const long Count = EnvNumber("ORVEX_SQL_FUZZ_COUNT", 100000);
    std::mt19937 R(static_cast<unsigned>(EnvNumber("ORVEX_SQL_FUZZ_SEED", 19)));
    Grammar G(R);
    long Parsed = 0;
    long Evaluated = 0;
    for (long I = 0; I < Count; ++I) {
        std::string Text;
        switch (I % 10) {
        case 0:
        case 1:
        case 2:
            Text = G.Statement();
            break;
        case 9:
            Text = RandomBytes(R);
            break;
        default:
            Text = Mutate(G.Statement(), R);
            break;
        }
        if (Text.size() > 4000)
            Text.resize(4000);
        if (RunOne(Text, Row))
            ++Evaluated;
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "input " << I << ": " << Text;
            return;
        }
        ++Parsed;
    }
    EXPECT_EQ(Parsed, Count);
    // The grammar's conditions mostly parse: the evaluator is reached.
    EXPECT_GT(Evaluated, Count / 20);
    std::printf("%ld inputs, %ld evaluated\n", Count, Evaluated);
}

TEST(SqlFuzz, PathologicalShapes)
{
    RowProvider Row({{"i", ftInteger, 0, Variant(1)}, {"s", ftString, 10, Variant("x")}});
    const std::vector<std::string> Inputs = {
        std::string(100000, '('),
        std::string(100000, ')'),
        std::string(50000, '\''),
        "'" + std::string(50000, '\'') ,
        [] { std::string S; for (int I = 0; I < 20000; ++I) S += "NOT "; return S + "i = 1"; }(),
        [] { std::string S = "i"; for (int I = 0; I < 20000; ++I) S += " IN (i"; return S; }(),
        [] { std::string S = "i = 1"; for (int I = 0; I < 20000; ++I) S += " AND i = 1"; return S; }(),
        [] { std::string S; for (int I = 0; I < 20000; ++I) S += "UPPER("; return S + "s"; }(),
        [] { std::string S; for (int I = 0; I < 20000; ++I) S += "CAST("; return S + "i"; }(),
        [] { std::string S = "s LIKE '"; for (int I = 0; I < 20000; ++I) S += "%_"; return S + "'"; }(),
        std::string(20000, '-') + "1",
        "/*" + std::string(50000, '*'),
        "[" + std::string(50000, 'x'),
        std::string(30000, '.'),
        std::string(30000, ':'),
    };
    for (const std::string& Text : Inputs) {
        const auto Start = std::chrono::steady_clock::now();
        RunOne(Text, Row);
        if (std::getenv("ORVEX_SQL_FUZZ_TIMES"))
            std::printf("%.40s... %lld ms\n", Text.c_str(),
                        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - Start)
                                                   .count()));
        if (::testing::Test::HasFailure())
            return;
    }
}

} // namespace
} // namespace orvex
