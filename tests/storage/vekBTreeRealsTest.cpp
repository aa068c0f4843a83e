// Real keys in one total order: numbers by value, then every NaN (all NaNs
// equal), so that an index holding NaN keys keeps its order and finds,
// lists and deletes each of its keys.

#include "vekBTreeTestUtil.h"

#include "host/Classes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace orvex {
namespace {

using btreetest::TRecord;
using btreetest::TTable;
using btreetest::TTreeUnderTest;

struct TRealRow {
    bool Null;
    double Value;
};

// The order the index must have: nulls first, numbers ascending, NaNs last
// (all turned round for a descending key); record IDs keep equal keys apart
// in insertion order, ascending either way.
int Rank(const TRealRow& Row)
{
    return Row.Null ? 0 : std::isnan(Row.Value) ? 2 : 1;
}

std::vector<TRealRow> Rows()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {nan, -nan, std::nan("1"), std::nan("12345"), std::numeric_limits<double>::signaling_NaN(),
                               inf, -inf, 0.0, -0.0};
    std::mt19937 random(14);
    std::vector<TRealRow> rows;
    for (int i = 0; i < 600; ++i) {
        if (i % 23 == 0)
            rows.push_back({true, 0});
        else if (i % 4 == 0)
            rows.push_back({false, specials[random() % std::size(specials)]});
        else
            rows.push_back({false, static_cast<double>(static_cast<int>(random() % 2001) - 1000) / 8});
    }
    return rows;
}

class RealKeyTest : public ::testing::TestWithParam<bool> {
protected:
    bool Descending() const { return GetParam(); }

    TRecord Record(const TRealRow& Row, Cardinal ID) const
    {
        TRecord record = FTable.NewRecord(ID);
        if (!Row.Null)
            FTable.PutDouble(record, "F", Row.Value);
        return record;
    }
    void Key(const TRealRow& Row, Cardinal ID)
    {
        const TRecord record = Record(Row, ID);
        FTree.Tree.ConstructKeyBufFromRecBuf(record.data(), {});
    }

    TTable FTable{{{"F", ftFloat}}};
    TMemoryIOInterface FIO;
    TTreeUnderTest FTree;
};

TEST_P(RealKeyTest, NaNKeysKeepTheIndexSortedFindableAndDeletable)
{
    FTable.IndexOn(FTree.Tree, {{"F", Descending()}, {""}});
    FTree.Create(&FIO, 512); // small pages: many leaves and levels
    const std::vector<TRealRow> rows = Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Key(rows[i], static_cast<Cardinal>(i + 1));
        FTree.Tree.SetKeyBufAddr(static_cast<Cardinal>(i + 1));
        ASSERT_EQ(FTree.Tree.IdxInsert(), 0) << i;
    }
    TStringList problems;
    ASSERT_TRUE(FTree.Tree.CheckOrder(&problems)) << problems.Text();
    ASSERT_EQ(FTree.Tree.GetRecordCount(true), static_cast<Integer>(rows.size()));

    // A scan meets nulls, numbers and NaNs in their order.
    std::vector<Cardinal> order;
    if (FTree.Tree.GetAddrOfRecNo(1) != 0) {
        do
            order.push_back(FTree.Tree.GetRecAddr());
        while (FTree.Tree.NextRecord());
    }
    ASSERT_EQ(order.size(), rows.size());
    for (std::size_t i = 1; i < order.size(); ++i) {
        const TRealRow& a = rows[order[i - 1] - 1];
        const TRealRow& b = rows[order[i] - 1];
        int c = Rank(a) - Rank(b);
        if (c == 0 && Rank(a) == 1)
            c = CompareReals(a.Value, b.Value);
        if (Descending())
            c = -c;
        EXPECT_TRUE(c < 0 || (c == 0 && order[i - 1] < order[i])) << "at " << i;
    }

    // Every key is found exactly, NaN or not, and then deleted.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Key(rows[i], static_cast<Cardinal>(i + 1));
        ASSERT_EQ(FTree.Tree.IndexSearch(stEQ), 0) << i;
        EXPECT_EQ(FTree.Tree.GetRecAddr(), i + 1);
    }
    for (std::size_t i = 0; i < rows.size(); i += 2) {
        Key(rows[i], static_cast<Cardinal>(i + 1));
        ASSERT_EQ(FTree.Tree.IdxDelete(), 0) << i;
    }
    for (std::size_t i = 1; i < rows.size(); i += 2) {
        Key(rows[i], static_cast<Cardinal>(i + 1));
        ASSERT_EQ(FTree.Tree.IdxDelete(), 0) << i;
    }
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 0);
    EXPECT_TRUE(FTree.Tree.CheckOrder(&problems)) << problems.Text();
}

TEST_P(RealKeyTest, AUniqueIndexHoldsOneNaN)
{
    FTable.IndexOn(FTree.Tree, {{"F", Descending()}});
    FTree.Create(&FIO, 4096);
    const double values[] = {1.0, std::numeric_limits<double>::quiet_NaN(), -2.0};
    for (Cardinal id = 1; id <= 3; ++id) {
        Key({false, values[id - 1]}, id);
        FTree.Tree.SetKeyBufAddr(id);
        ASSERT_EQ(FTree.Tree.IdxInsert(), 0);
    }
    // Any other NaN is the same key.
    Key({false, -std::nan("99")}, 4);
    FTree.Tree.SetKeyBufAddr(4);
    EXPECT_EQ(FTree.Tree.IdxInsert(), -1);
    ASSERT_EQ(FTree.Tree.IndexSearch(stEQ), 0);
    EXPECT_EQ(FTree.Tree.GetRecAddr(), 2u);
    // The NaN stands after every number (before them when descending).
    Key({false, std::numeric_limits<double>::infinity()}, 0);
    ASSERT_EQ(FTree.Tree.IndexSearch(Descending() ? stLT : stGT), 0);
    EXPECT_EQ(FTree.Tree.GetRecAddr(), 2u);
    EXPECT_EQ(FTree.Tree.IdxDelete(), -1); // infinity is not in the index
    Key({false, std::nan("3")}, 0);
    EXPECT_EQ(FTree.Tree.IdxDelete(), 0);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 2);
}

INSTANTIATE_TEST_SUITE_P(Order, RealKeyTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) {
                             return Info.param ? "Descending" : "Ascending";
                         });

} // namespace
} // namespace orvex
