// Joins against the brute-force reference: generated fixture tables (NULL
// keys, duplicate keys on both sides, integer, smallint, float and string
// keys, empty tables) and SELECT texts of every join shape, each run with
// the hash join, the indexed nested loop and the plain nested loop forced,
// with and without indexes. The rows must equal the reference's as
// multisets.
//
// ORVEX_QUERY_JOIN_SEEDS sets the number of seeds (default 8) and
// ORVEX_QUERY_JOIN_SEED the first seed (default 1), for longer runs by hand.

#include "vekQueryTestUtil.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>

namespace orvex::querytest {
namespace {

// Tables T1 .. T4, each with k INTEGER, s SMALLINT, f FLOAT and v
// VARCHAR(4): small value ranges so that joins match and keys repeat.
class TFixtureGenerator {
public:
    TFixtureGenerator(std::mt19937_64& Random, bool Indexed) : R(Random), FIndexed(Indexed) {}

    TTableSpec Table(const std::string& Name)
    {
        TTableSpec spec;
        spec.Name = Name;
        spec.Columns = {{"id", ftInteger, 0}, {"k", ftInteger, 0}, {"s", ftSmallint, 0}, {"f", ftFloat, 0}, {"v", ftString, 4}};
        if (FIndexed) {
            spec.Indexes.push_back({"ixid", "id", ixPrimary | ixUnique, ""});
            if (Pick(3) != 0)
                spec.Indexes.push_back({"ixk", "k", 0, ""});
            if (Pick(2) == 0)
                spec.Indexes.push_back({"ixs", "s", ixDescending, ""});
            if (Pick(2) == 0)
                spec.Indexes.push_back({"ixv", Pick(2) == 0 ? "v" : "v;k", 0, ""});
            if (Pick(3) == 0)
                spec.Indexes.push_back({"ixf", "f", 0, "f"});
        }
        // Empty tables now and then, on either side of any join.
        const int rows = Pick(6) == 0 ? 0 : 1 + Pick(9);
        for (int r = 0; r < rows; ++r) {
            std::vector<Variant> row;
            row.push_back(Variant(r + 1));
            row.push_back(Nullable(Variant(Pick(5) - 1)));
            row.push_back(Nullable(Variant(static_cast<std::int16_t>(Pick(5) - 1))));
            static const double floats[] = {-0.0, 0.0, 1.0, 1.5, 2.0, 3.0, -1.0};
            row.push_back(Nullable(Variant(floats[Pick(7)])));
            static const char* const strings[] = {"a", "b", "ab", "B", "a b"};
            row.push_back(Nullable(Variant(std::string(strings[Pick(5)]))));
            spec.Rows.push_back(row);
        }
        return spec;
    }

    int Pick(int N) { return static_cast<int>(R() % static_cast<std::uint64_t>(N)); }

private:
    Variant Nullable(const Variant& Value) { return Pick(6) == 0 ? Variant::Null() : Value; }

    std::mt19937_64& R;
    bool FIndexed;
};

// SELECT texts over T1 .. T4.
class TQueryGenerator {
public:
    explicit TQueryGenerator(std::mt19937_64& Random) : R(Random) {}

    std::string Query()
    {
        switch (Pick(9)) {
        case 0:
            return "SELECT * FROM T1 " + JoinWord() + " T2 ON " + Cond("T1", "T2") + Where({"T1", "T2"});
        case 1:
            return "SELECT * FROM T1, T2 WHERE " + Equal("T1", "T2") + Maybe(" AND " + Select("T2"));
        case 2:
            return "SELECT * FROM T1 " + JoinWord() + " T2 ON " + Cond("T1", "T2") + " " + JoinWord() +
                   " T3 ON " + Cond(Pick(2) ? "T1" : "T2", "T3") + Where({"T1", "T2", "T3"});
        case 3:
            return "SELECT * FROM T1 " + JoinWord() + " (T2 " + JoinWord() + " T3 ON " + Cond("T2", "T3") +
                   ") ON " + Cond("T1", Pick(2) ? "T2" : "T3") + Where({"T1", "T3"});
        case 4:
            return "SELECT * FROM T1 a " + JoinWord() + " T1 b ON " + Cond("a", "b") + Where({"a", "b"});
        case 5:
            return "SELECT * FROM T1, T2, T3 WHERE " + Equal("T1", "T2") + " AND " + Equal("T2", "T3") +
                   Maybe(" AND " + Equal("T3", "T1"));
        case 6:
            return "SELECT * FROM T1, T2, T3, T4 WHERE " + Equal("T1", "T2") + " AND " + Equal("T2", "T3") +
                   " AND " + Equal("T3", "T4") + Maybe(" AND " + Equal("T4", "T1")) +
                   Maybe(" AND " + Select("T3"));
        case 7:
            return "SELECT * FROM T1 " + JoinWord() + " T2 ON " + Cond("T1", "T2") + ", T3 " + JoinWord() +
                   " T4 ON " + Cond("T3", "T4") + Maybe(" WHERE " + Equal("T2", "T3"));
        default:
            return "SELECT * FROM T1 " + Pick({"CROSS JOIN", "UNION JOIN"}) + " T2" + Where({"T1", "T2"});
        }
    }

private:
    int Pick(int N) { return static_cast<int>(R() % static_cast<std::uint64_t>(N)); }
    std::string Pick(std::initializer_list<const char*> Items)
    {
        return *(Items.begin() + Pick(static_cast<int>(Items.size())));
    }
    std::string Maybe(const std::string& Text) { return Pick(2) ? Text : std::string(); }

    std::string JoinWord()
    {
        return Pick({"JOIN", "INNER JOIN", "LEFT JOIN", "RIGHT JOIN", "FULL JOIN", "LEFT OUTER JOIN"});
    }
    // An equality of two key columns of A and B (mixed types too).
    std::string Equal(const std::string& A, const std::string& B)
    {
        static const char* const pairs[][2] = {{"k", "k"}, {"k", "s"}, {"s", "f"}, {"k", "f"}, {"v", "v"}, {"f", "f"}, {"s", "s"}, {"k", "k"}};
        const auto& pair = pairs[Pick(8)];
        return A + "." + pair[0] + " = " + B + "." + pair[1];
    }
    std::string Cond(const std::string& A, const std::string& B)
    {
        switch (Pick(6)) {
        case 0:
            return Equal(A, B) + " AND " + A + ".f > " + B + ".f";
        case 1:
            return Equal(A, B) + " AND " + Equal(A, B);
        case 2:
            return Equal(A, B) + " OR " + Equal(A, B);
        case 3:
            return Equal(A, B) + " AND " + B + ".s > 0";
        default:
            return Equal(A, B);
        }
    }
    std::string Select(const std::string& T)
    {
        return T + "." +
               Pick({"k > 0", "k IS NULL", "v IS NOT NULL", "s = 1", "f < 2", "v = 'a'", "k <> 1"});
    }
    std::string Where(std::vector<std::string> Tables)
    {
        switch (Pick(5)) {
        case 0:
            return " WHERE " + Select(Tables[static_cast<std::size_t>(Pick(static_cast<int>(Tables.size())))]);
        case 1:
            return " WHERE " + Select(Tables.back()) + " AND " + Select(Tables.front());
        case 2:
            return " WHERE " + Select(Tables.front()) + " OR " + Select(Tables.back());
        default:
            return "";
        }
    }

    std::mt19937_64& R;
};

// How often each method ran a join, over every seed.
std::map<TJoinMethod, int> GMethodsUsed;

void RunSeed(std::uint64_t Seed, int Queries)
{
    std::mt19937_64 random(Seed);
    TFixtureGenerator tables(random, Seed % 2 == 0);
    TQueryFixture fixture;
    for (const char* name : {"T1", "T2", "T3", "T4"})
        fixture.AddTable(tables.Table(name));
    TQueryGenerator queries(random);
    for (int q = 0; q < Queries; ++q) {
        const std::string sql = queries.Query();
        const TQueryFixture::TOutcome expected = fixture.Reference(sql);
        ASSERT_EQ(expected.Error, "") << sql;
        for (TJoinMethod method :
             {TJoinMethod::Auto, TJoinMethod::Hash, TJoinMethod::IndexedRange, TJoinMethod::NestedLoop}) {
            const TQueryFixture::TOutcome actual = fixture.Run(sql, method);
            ASSERT_EQ(actual.Error, "") << "seed " << Seed << ": " << sql;
            ASSERT_EQ(actual.Rows, expected.Rows)
                << "seed " << Seed << ", method " << JoinMethodName(method) << ": " << sql;
            for (const TJoinPlan& plan : actual.Plans)
                ++GMethodsUsed[plan.Method];
        }
    }
}

TEST(JoinHarness, GeneratedJoinsEqualTheReferenceUnderEveryMethod)
{
    const long first = EnvNumber("ORVEX_QUERY_JOIN_SEED", 1);
    const long count = EnvNumber("ORVEX_QUERY_JOIN_SEEDS", 8);
    for (long seed = first; seed < first + count; ++seed) {
        RunSeed(static_cast<std::uint64_t>(seed), 20);
        if (HasFatalFailure())
            return;
    }
    // The forced methods did run: the comparison covers each of them.
    EXPECT_GT(GMethodsUsed[TJoinMethod::Hash], 0);
    EXPECT_GT(GMethodsUsed[TJoinMethod::IndexedRange], 0);
    EXPECT_GT(GMethodsUsed[TJoinMethod::NestedLoop], 0);
}

} // namespace
} // namespace orvex::querytest
