#include "host/Classes.h"

#include "ClassesTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

// ------------------------------------------------------------- TPersistent

class TColour : public TPersistent {
public:
    int Value = 0;
    void Assign(TPersistent* source) override
    {
        if (auto* other = dynamic_cast<TColour*>(source)) {
            Value = other->Value;
            return;
        }
        TPersistent::Assign(source);
    }
};

class TShade : public TPersistent {
public:
    int Level = 0;

protected:
    // A shade knows how to become a colour.
    void AssignTo(TPersistent* dest) override
    {
        if (auto* colour = dynamic_cast<TColour*>(dest)) {
            colour->Value = Level * 10;
            return;
        }
        TPersistent::AssignTo(dest);
    }
};

TEST(PersistentTest, AssignUsesTheTargetOrTheSourceElseRaises)
{
    TColour a;
    TColour b;
    b.Value = 7;
    a.Assign(&b);
    EXPECT_EQ(a.Value, 7);

    TShade shade;
    shade.Level = 4;
    a.Assign(&shade); // through the source's AssignTo
    EXPECT_EQ(a.Value, 40);

    EXPECT_RAISES(shade.Assign(&a), EConvertError, "Cannot assign a TColour to a TShade");
    EXPECT_RAISES(a.Assign(nullptr), EConvertError, "Cannot assign a nil to a TColour");
}

// ------------------------------------------------------------------- TList

void* P(std::intptr_t v)
{
    return reinterpret_cast<void*>(v);
}

std::vector<std::intptr_t> Values(const TList& list)
{
    std::vector<std::intptr_t> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(reinterpret_cast<std::intptr_t>(list[i]));
    return out;
}

// Records what Notify hears.
class TRecordingList : public TList {
public:
    ~TRecordingList() override { Clear(); }
    std::vector<std::string> Log;

protected:
    void Notify(void* item, TListNotification action) override
    {
        static const char* names[] = {"added", "extracted", "deleted"};
        Log.push_back(std::string(names[action]) + " " +
                      std::to_string(reinterpret_cast<std::intptr_t>(item)));
    }
};

TEST(ListTest, EditingOperationsKeepTheOrder)
{
    TList list;
    EXPECT_EQ(list.Add(P(1)), 0);
    EXPECT_EQ(list.Add(P(2)), 1);
    list.Add(P(3));
    list.Insert(0, P(9));
    list.Insert(4, P(8)); // at the end
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{9, 1, 2, 3, 8}));
    list.Delete(1);
    EXPECT_EQ(list.Remove(P(3)), 2);
    EXPECT_EQ(list.Remove(P(77)), -1);
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{9, 2, 8}));
    list.Exchange(0, 2);
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{8, 2, 9}));
    list.Move(0, 2);
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{2, 9, 8}));
    EXPECT_EQ(list.IndexOf(P(8)), 2);
    EXPECT_EQ(list.First(), P(2));
    EXPECT_EQ(list.Last(), P(8));
    list.Put(1, nullptr);
    list.Add(nullptr);
    list.Pack();
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{2, 8}));
    list.SetCount(4); // grows with nil items
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{2, 8, 0, 0}));
    EXPECT_EQ(list.Extract(P(8)), P(8));
    EXPECT_EQ(list.Extract(P(8)), nullptr);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(ListTest, BadIndicesRaiseListErrorNamingTheIndex)
{
    TList list;
    list.Add(P(1));
    list.Add(P(2));
    struct Case {
        const char* what;
        std::function<void()> op;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"Get -1", [&] { list.Get(-1); }, "List index out of bounds (-1)"},
        {"Get Count", [&] { list.Get(2); }, "List index out of bounds (2)"},
        {"Put", [&] { list.Put(5, nullptr); }, "List index out of bounds (5)"},
        {"Insert past end", [&] { list.Insert(3, nullptr); }, "List index out of bounds (3)"},
        {"Delete", [&] { list.Delete(2); }, "List index out of bounds (2)"},
        {"Exchange second", [&] { list.Exchange(0, 7); }, "List index out of bounds (7)"},
        {"Move target", [&] { list.Move(0, 2); }, "List index out of bounds (2)"},
        {"Move source", [&] { list.Move(-3, 1); }, "List index out of bounds (-3)"},
        {"SetCount", [&] { list.SetCount(-1); }, "List count out of bounds (-1)"},
        {"SetCapacity", [&] { list.SetCapacity(1); }, "List capacity out of bounds (1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_RAISES(c.op(), EListError, c.message);
    }
    EXPECT_EQ(Values(list), (std::vector<std::intptr_t>{1, 2})); // nothing changed

    TList empty;
    EXPECT_RAISES(empty.First(), EListError, "List index out of bounds (0)");
    EXPECT_RAISES(empty.Last(), EListError, "List index out of bounds (-1)");
}

TEST(ListTest, NotifyHearsNonNilItemsComingAndGoing)
{
    TRecordingList list;
    list.Add(P(1));
    list.Add(nullptr); // nil items are not announced
    list.Insert(0, P(2));
    list.Move(0, 2); // a move is not an addition
    list.Exchange(0, 1);
    list.Put(0, P(3)); // over the nil item: nothing deleted
    list.Extract(P(2));
    list.Add(P(4));
    list.Add(P(5));
    list.Log.push_back("--");
    list.Clear(); // deletes from the end
    EXPECT_EQ(list.Log, (std::vector<std::string>{"added 1", "added 2", "added 3", "extracted 2",
                                                  "added 4", "added 5", "--", "deleted 5",
                                                  "deleted 4", "deleted 1", "deleted 3"}));
}

int CompareInts(void* a, void* b)
{
    const auto x = reinterpret_cast<std::intptr_t>(a);
    const auto y = reinterpret_cast<std::intptr_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int CompareByTens(void* a, void* b)
{
    return CompareInts(P(reinterpret_cast<std::intptr_t>(a) / 10),
                       P(reinterpret_cast<std::intptr_t>(b) / 10));
}

int CompareNonsense(void*, void*)
{
    return -1; // "less" whatever the order
}

TEST(ListTest, SortOrdersByTheCompareFunction)
{
    const std::vector<std::vector<std::intptr_t>> inputs = {
        {},
        {5},
        {2, 1},
        {3, 1, 2, 3, 1, 2},
        {9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
        {1, 2, 3, 4, 5, 6, 7},
    };
    for (const auto& input : inputs) {
        TList list;
        for (auto v : input)
            list.Add(P(v));
        list.Sort(CompareInts);
        auto expected = input;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Values(list), expected);
    }

    // A large list in a scrambled order, with many equal keys.
    TList big;
    for (int i = 0; i < 5000; ++i)
        big.Add(P((i * 7919) % 1000));
    big.Sort(CompareByTens);
    for (int i = 1; i < big.Count(); ++i)
        ASSERT_LE(CompareByTens(big[i - 1], big[i]), 0) << i;

    // A compare function that is no order at all still leaves every item.
    TList odd;
    for (int i = 0; i < 50; ++i)
        odd.Add(P(i));
    odd.Sort(CompareNonsense);
    auto values = Values(odd);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values.size(), 50u);
    EXPECT_EQ(values.front(), 0);
    EXPECT_EQ(values.back(), 49);
}

} // namespace
} // namespace orvex
