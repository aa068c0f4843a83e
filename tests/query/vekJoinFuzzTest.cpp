// Generated SELECT statements of a wider grammar (every join shape, USING
// and NATURAL, conditions with arithmetic, functions, NOT, IN, LIKE,
// BETWEEN, IS NULL and constants in ON and WHERE) through the parser, the
// analyser, the plan and the providers. Whatever the parser accepts runs to
// its end without an assertion or another exception, under every join
// method, and gives the reference's rows.
//
// ORVEX_QUERY_FUZZ_COUNT sets the number of statements (default 150) and
// ORVEX_QUERY_FUZZ_SEED the seed (default 7), for longer runs by hand.

#include "vekQueryTestUtil.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace orvex::querytest {
namespace {

class TStatementGenerator {
public:
    explicit TStatementGenerator(std::mt19937_64& Random) : R(Random) {}

    std::string Statement()
    {
        // At most four table instances, so that the reference stays small.
        std::string from;
        do {
            FTables.clear();
            from = FromList();
        } while (FTables.size() > 4);
        std::string text = "SELECT * FROM " + from;
        if (Pick(3) != 0)
            text += " WHERE " + Condition(0);
        return text;
    }

private:
    int Pick(int N) { return static_cast<int>(R() % static_cast<std::uint64_t>(N)); }
    std::string Pick(std::initializer_list<const char*> Items)
    {
        return *(Items.begin() + Pick(static_cast<int>(Items.size())));
    }

    // A table reference with a fresh name or alias.
    std::string Table()
    {
        const std::string table = "T" + std::to_string(1 + Pick(4));
        std::string name = table;
        for (const std::string& used : FTables)
            if (used == name)
                name = "a" + std::to_string(FTables.size());
        FTables.push_back(name);
        return name == table ? table : table + " " + name;
    }
    std::string Ref() { return FTables[static_cast<std::size_t>(Pick(static_cast<int>(FTables.size())))]; }
    std::string Column() { return Ref() + "." + Pick({"k", "s", "f", "id", "k", "s"}); }
    std::string StringColumn() { return Ref() + ".v"; }

    std::string Joined(int Depth)
    {
        std::string left = Depth > 0 && Pick(3) == 0 ? "(" + Joined(Depth - 1) + ")" : Table();
        const int joins = 1 + Pick(2);
        for (int j = 0; j < joins; ++j) {
            switch (Pick(8)) {
            case 0:
                left += " CROSS JOIN " + Table();
                break;
            case 1:
                left += " NATURAL JOIN " + Table();
                break;
            case 2:
                left += " JOIN " + Table() + " USING (" + Pick({"k", "v", "k, s"}) + ")";
                break;
            default: {
                const std::string kind = Pick({"JOIN", "LEFT JOIN", "RIGHT JOIN", "FULL JOIN", "INNER JOIN"});
                const std::string right = Depth > 0 && Pick(4) == 0 ? "(" + Joined(Depth - 1) + ")" : Table();
                left += " " + kind + " " + right + " ON " + Condition(2);
                break;
            }
            }
        }
        return left;
    }

    std::string FromList()
    {
        std::string from = Pick(2) ? Joined(1) : Table();
        for (int i = Pick(3); i > 0; --i)
            from += ", " + (Pick(2) ? Joined(0) : Table());
        return from;
    }

    std::string Value(int Depth)
    {
        switch (Pick(Depth > 2 ? 3 : 6)) {
        case 0:
        case 1:
            return Column();
        case 2:
            return std::to_string(Pick(5) - 1);
        case 3:
            return Column() + " " + Pick({"+", "-", "*"}) + " " + Value(Depth + 1);
        case 4:
            return "(" + Value(Depth + 1) + ")";
        default:
            return "2.5";
        }
    }

    std::string Condition(int Depth)
    {
        switch (Pick(Depth > 3 ? 6 : 11)) {
        case 0:
        case 1:
            return Column() + " = " + Column();
        case 2:
            return Value(Depth) + " " + Pick({"<", "<=", ">", ">=", "<>", "="}) + " " + Value(Depth);
        case 3:
            return Column() + Pick({" IS NULL", " IS NOT NULL"});
        case 4:
            return StringColumn() + Pick({" LIKE 'a%'", " = 'ab'", " NOT LIKE '_'", " IN ('a', 'B')"});
        case 5:
            return Column() + " BETWEEN " + std::to_string(Pick(3) - 1) + " AND 2";
        case 6:
        case 7:
            return Condition(Depth + 1) + " AND " + Condition(Depth + 1);
        case 8:
            return "(" + Condition(Depth + 1) + " OR " + Condition(Depth + 1) + ")";
        case 9:
            return "NOT (" + Condition(Depth + 1) + ")";
        default:
            return Column() + " IN (1, 2, " + Column() + ")";
        }
    }

    std::mt19937_64& R;
    std::vector<std::string> FTables;
};

TEST(JoinFuzz, ParsedStatementsRunToTheirEndWithTheReferencesRows)
{
    const long count = EnvNumber("ORVEX_QUERY_FUZZ_COUNT", 150);
    std::mt19937_64 random(static_cast<std::uint64_t>(EnvNumber("ORVEX_QUERY_FUZZ_SEED", 7)));
    TQueryFixture fixture;
    for (int t = 1; t <= 4; ++t) {
        TTableSpec spec;
        spec.Name = "T" + std::to_string(t);
        spec.Columns = {{"id", ftInteger, 0}, {"k", ftInteger, 0}, {"s", ftSmallint, 0}, {"f", ftFloat, 0},
                        {"v", ftString, 4}};
        if (t % 2 == 0)
            spec.Indexes = {{"ixk", "k", 0, ""}, {"ixs", "s", ixDescending, ""}};
        const int rows = t == 4 ? 0 : 3 + t;
        for (int r = 0; r < rows; ++r)
            spec.Rows.push_back({Variant(r), r % 4 == 3 ? Variant::Null() : Variant(r % 3),
                                 Variant(static_cast<std::int16_t>(r % 2)), Variant(r * 0.5),
                                 r % 5 == 4 ? Variant::Null() : Variant(std::string(r % 2 ? "a" : "ab"))});
        fixture.AddTable(spec);
    }
    TStatementGenerator generator(random);
    int parsed = 0;
    for (long i = 0; i < count; ++i) {
        const std::string sql = generator.Statement();
        const TQueryFixture::TOutcome expected = fixture.Reference(sql);
        if (!expected.Error.empty())
            continue; // refused by the parser
        ++parsed;
        for (TJoinMethod method : {TJoinMethod::Auto, TJoinMethod::Hash, TJoinMethod::NestedLoop}) {
            const TQueryFixture::TOutcome actual = fixture.Run(sql, method);
            ASSERT_EQ(actual.Error, "") << sql;
            ASSERT_EQ(actual.Rows, expected.Rows) << JoinMethodName(method) << ": " << sql;
        }
    }
    // Most generated statements are valid: the run reached the back end.
    EXPECT_GT(parsed, count / 2);
}

} // namespace
} // namespace orvex::querytest
