// Whole statements through the parser engine: random and mutated statements
// of every kind (from a grammar of valid ones and from the statement corpus)
// and random bytes. Every input
// ends in a parsed statement or a recorded error within a bounded time;
// nothing raises, crashes or leaks (the sanitizers watch).
//
// ORVEX_SQL_STMT_FUZZ_COUNT sets the number of inputs (default 40000) and
// ORVEX_SQL_STMT_FUZZ_SEED the seed (default 20), for longer runs by hand.

#include "SqlStatementHarness.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>

namespace orvex::sqltest {
namespace {

// Valid statements over the standard test tables.
class StatementGrammar {
public:
    explicit StatementGrammar(std::mt19937& Random) : R(Random) {}

    std::string Statement()
    {
        switch (Pick(10)) {
        case 0:
        case 1:
        case 2:
        case 3:
            return Select(0);
        case 4:
            return Insert();
        case 5:
            return Update();
        case 6:
            return Delete();
        case 7:
            return Create();
        case 8:
            return Alter();
        default:
            return Drop();
        }
    }

    std::string Select(int Depth)
    {
        std::string text = "SELECT ";
        if (Pick(5) == 0)
            text += "DISTINCT ";
        const bool grouped = Pick(4) == 0;
        if (grouped) {
            text += "a, " + Pick({"COUNT(*)", "SUM(c)", "MAX(b)", "COUNT(DISTINCT a)", "AVG(a + c)"});
        } else if (Pick(3) == 0) {
            text += Pick({"*", "t.*", "x.*, a"});
        } else {
            text += Column();
            for (int i = Pick(3); i > 0; --i)
                text += ", " + Column();
        }
        text += " FROM " + From(Depth);
        if (Pick(2) == 0)
            text += " WHERE " + Condition(Depth + 1);
        if (grouped) {
            text += " GROUP BY a";
            if (Pick(2) == 0)
                text += " HAVING " + Pick({"COUNT(*) > 1", "a > 2", "SUM(c) < 10 OR a = 1"});
        }
        if (Depth == 0 && Pick(5) == 0)
            text += Pick({" UNION ", " UNION ALL "}) + "SELECT a FROM u";
        if (Depth == 0 && Pick(3) == 0)
            text += " ORDER BY " + Pick({"1", "a DESC", "1, 2", "t.a"});
        return text;
    }

    std::string Column()
    {
        return Pick({"a", "b", "t.a", "c + 1", "UPPER(b)", "a AS k", "b 'lbl'", "CAST(a AS CHAR(3))",
                     "EXTRACT(YEAR FROM d)", "SUBSTRING(b FROM 1 FOR 2)", "TRIM(LEADING 'x' FROM b)", "NULL",
                     "'s'", "2.5", "a = 1", "CURRENT_DATE"});
    }

    std::string From(int Depth)
    {
        switch (Pick(8)) {
        case 0:
            return "t JOIN u ON t.a = u.a";
        case 1:
            return "t " + Pick({"LEFT", "RIGHT", "FULL", "INNER", "LEFT OUTER"}) + " JOIN u ON t.a = u.x";
        case 2:
            return "t NATURAL JOIN u";
        case 3:
            return "t JOIN u USING (" + Pick({"a", "b", "a, b"}) + ")";
        case 4:
            return "t, u";
        case 5:
            return "t x";
        case 6:
            return "(t CROSS JOIN u)";
        default:
            return "t";
        }
    }

    std::string Value(int Depth)
    {
        switch (Pick(Depth > 3 ? 5 : 8)) {
        case 0:
            return "a";
        case 1:
            return Pick({"1", "-2", "3.5", ".5"});
        case 2:
            return Pick({"'x'", "'2001-02-03'", "NULL"});
        case 3:
            return ":p" + std::to_string(Pick(3));
        case 4:
            return "c";
        case 5:
            return Value(Depth + 1) + Pick({" + ", " - ", " * ", " / "}) + Value(Depth + 1);
        case 6:
            return "(" + Value(Depth + 1) + ")";
        default:
            return "(SELECT " + Pick({"MAX(a)", "COUNT(*)", "x"}) + " FROM u" +
                   (Pick(2) == 0 ? " WHERE u.a = t.a" : "") + ")";
        }
    }

    std::string Condition(int Depth)
    {
        switch (Pick(Depth > 3 ? 4 : 10)) {
        case 0:
            return Value(Depth + 1) + Pick({" = ", " <> ", " < ", " >= "}) + Value(Depth + 1);
        case 1:
            return "b" + Pick({" IS NULL", " IS NOT NULL", " LIKE 'x%'", " NOT LIKE '_y'"});
        case 2:
            return "a" + Pick({" BETWEEN 1 AND 5", " NOT BETWEEN 2 AND 3", " IN (1, 2, 3)", " NOT IN (4)"});
        case 3:
            return "d > '2001-01-01'";
        case 4:
            return Condition(Depth + 1) + Pick({" AND ", " OR "}) + Condition(Depth + 1);
        case 5:
            return "NOT " + Condition(Depth + 1);
        case 6:
            return "(" + Condition(Depth + 1) + ")";
        case 7:
            return "a IN (" + Select(Depth + 1) + ")";
        case 8:
            return Pick({"EXISTS ", "NOT EXISTS "}) + "(" + Select(Depth + 1) + ")";
        default:
            return "a " + Pick({"> ANY", "< ALL", "= SOME"}) + " (SELECT x FROM u)";
        }
    }

    std::string Insert()
    {
        switch (Pick(4)) {
        case 0:
            return "INSERT INTO t VALUES (1, 'a', 2.5, '2001-02-03')";
        case 1:
            return "INSERT INTO t (a, b) VALUES (" + Value(2) + ", " + Pick({"'x'", ":q", "UPPER('y')"}) + ")";
        case 2:
            return "INSERT INTO t (a) " + Select(1);
        default:
            return "INSERT INTO u (a, x, b) SELECT a, a, b FROM t WHERE " + Condition(2);
        }
    }

    std::string Update()
    {
        std::string text = "UPDATE t SET a = " + Value(1);
        if (Pick(2) == 0)
            text += ", b = " + Pick({"'z'", "UPPER(b)", "NULL"});
        if (Pick(2) == 0)
            text += " WHERE " + Condition(1);
        return text;
    }

    std::string Delete()
    {
        return Pick(3) == 0 ? "DELETE FROM t" : "DELETE FROM t WHERE " + Condition(1);
    }

    std::string Create()
    {
        if (Pick(2) == 0)
            return "CREATE " + Pick({"", "UNIQUE ", "UNIQUE DESC ", "ASC "}) + "INDEX ix ON t (" +
                   Pick({"a", "b, c", "d"}) + ")";
        return "CREATE TABLE " + Pick({"", "TEMPORARY "}) + "n (a INT NOT NULL, b VARCHAR(20), c NUMERIC(10,2), " +
               Pick({"d BLOB(0,1)", "e AUTOINC", "f DATE"}) + Pick({"", ", PRIMARY KEY (a)"}) + ")";
    }

    std::string Alter()
    {
        return "ALTER TABLE t " + Pick({"ADD e INT", "DROP COLUMN b", "ALTER a TO a2", "ALTER c TYPE MONEY",
                                        "ADD e CHAR(5), DROP d"});
    }

    std::string Drop()
    {
        return Pick({"DROP TABLE t", "DROP INDEX t ixb", "DROP INDEX t primary", "DROP TABLE TEMPORARY mem"});
    }

private:
    int Pick(int N) { return static_cast<int>(R() % static_cast<unsigned>(N)); }
    std::string Pick(std::initializer_list<const char*> Items)
    {
        return *(Items.begin() + Pick(static_cast<int>(Items.size())));
    }

    std::mt19937& R;
};

// Token-level and byte-level damage to a valid statement.
std::string Mutate(const std::string& Text, std::mt19937& R)
{
    static const char* const pieces[] = {"(", ")", ",", "SELECT", "FROM", "WHERE", "JOIN", "ON", "USING", "UNION",
                                         "ALL", "GROUP BY", "HAVING", "ORDER BY", "IN", "EXISTS", "NOT", "AND",
                                         "'", "\"", "[", "#", "/*", ":", ";", "*", ".", "NULL", "VALUES", "SET",
                                         "=", "INTO", "TABLE", "INDEX", "PRIMARY KEY", "CAST", "AS", "\n", "1.2.3"};
    std::string text = Text;
    const int edits = 1 + static_cast<int>(R() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = R() % (text.size() + 1);
        switch (R() % 6) {
        case 0: // remove a stretch
            text.erase(std::min(at, text.size()), 1 + R() % 8);
            break;
        case 1: // insert a piece of syntax
            text.insert(std::min(at, text.size()), std::string(" ") + pieces[R() % std::size(pieces)] + " ");
            break;
        case 2: // duplicate a stretch
            text.insert(std::min(at, text.size()), text.substr(R() % text.size(), 1 + R() % 12));
            break;
        case 3: // cut the statement short
            text.resize(std::min(at, text.size()));
            break;
        case 4: // one random byte
            if (at < text.size())
                text[at] = static_cast<char>(R() % 256);
            break;
        default: // swap two stretches
            if (text.size() > 4) {
                const std::size_t a = R() % (text.size() / 2);
                const std::size_t b = text.size() / 2 + R() % (text.size() / 2);
                std::swap(text[a], text[b]);
            }
            break;
        }
    }
    return text;
}

// The one-line statements of the statement corpus, as further seeds.
std::vector<std::string> CorpusStatements()
{
    std::vector<std::string> statements;
    std::ifstream in(std::string(ORVEX_SQL_TEST_DATA) + "/statement_corpus.txt");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("> ", 0) == 0)
            statements.push_back(line.substr(2));
    return statements;
}

std::string RandomBytes(std::mt19937& R)
{
    std::string text(R() % 64, '\0');
    for (char& c : text)
        c = static_cast<char>(R() % 256);
    return text;
}

TEST(StatementFuzz, RandomAndMutatedStatementsEndInATreeOrAnError)
{
    const long count = EnvNumber("ORVEX_SQL_STMT_FUZZ_COUNT", 40000);
    std::mt19937 random(static_cast<unsigned>(EnvNumber("ORVEX_SQL_STMT_FUZZ_SEED", 20)));
    StatementGrammar grammar(random);
    const std::vector<std::string> seeds = CorpusStatements();
    ASSERT_FALSE(seeds.empty());
    long parsed = 0;
    double slowest = 0;
    std::string slowestInput;
    for (long i = 0; i < count; ++i) {
        std::string input;
        switch (i % 4) {
        case 0:
            input = grammar.Statement();
            break;
        case 2:
            input = Mutate(seeds[random() % seeds.size()], random);
            break;
        case 3:
            input = i % 16 == 3 ? RandomBytes(random) : Mutate(grammar.Statement(), random);
            break;
        default:
            input = Mutate(grammar.Statement(), random);
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        try {
            TestStatement statement(TestSchema::Standard());
            if (statement.Parse(input))
                ++parsed;
            const std::string printed = statement.Print();
            ASSERT_FALSE(printed.empty()) << input;
        } catch (const std::exception& e) {
            FAIL() << "input #" << i << " raised " << e.what() << "\n" << input;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > slowest) {
            slowest = seconds;
            slowestInput = input;
        }
    }
    // The grammar's own statements are mostly sound (some combine clauses the
    // analyser refuses, such as DISTINCT over a memo column).
    EXPECT_GT(parsed, count / 8);
    EXPECT_LT(slowest, 5.0) << slowestInput;
}

// Deep and long shapes end in a result or a recorded error too.
TEST(StatementFuzz, DeepAndLongStatements)
{
    auto parse = [](const std::string& Text) {
        TestStatement statement(TestSchema::Standard());
        statement.Parse(Text);
        return statement.Print();
    };
    // Subqueries within subqueries: refused past the nesting limit.
    std::string nested = "a = 1";
    for (int i = 0; i < 200; ++i)
        nested = "a IN (SELECT a FROM t WHERE " + nested + ")";
    EXPECT_EQ(parse("SELECT a FROM t WHERE " + nested).rfind("ERROR:", 0), 0u);
    std::string fits = "a = 1";
    for (int i = 0; i < MaxNestedEngineDepth - 1; ++i)
        fits = "a IN (SELECT a FROM t WHERE " + fits + ")";
    EXPECT_EQ(parse("SELECT a FROM t WHERE " + fits).rfind("SELECT", 0), 0u);

    // Parenthesised joins nested deeper than the parser allows.
    std::string joins = "t";
    for (int i = 0; i < 2000; ++i)
        joins = "(" + joins + ")";
    EXPECT_EQ(parse("SELECT a FROM " + joins).rfind("ERROR:", 0), 0u);
    EXPECT_EQ(parse("SELECT a FROM " + std::string(20000, '(')).rfind("ERROR:", 0), 0u);

    // Long UNION chains and long join chains parse.
    std::string unions = "SELECT a FROM t";
    for (int i = 0; i < 150; ++i)
        unions += " UNION SELECT a FROM u";
    EXPECT_EQ(parse(unions).rfind("SELECT", 0), 0u);
    std::string chain = "SELECT t.a FROM t";
    for (int i = 0; i < 300; ++i)
        chain += " JOIN u ON t.a = u.a";
    EXPECT_EQ(parse(chain).rfind("SELECT", 0), 0u);
}

} // namespace
} // namespace orvex::sqltest
