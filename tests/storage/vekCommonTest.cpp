#include "storage/vekCommon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace orvex {
namespace {

void* P(std::uint64_t value)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value));
}

std::uint64_t V(void* p)
{
    return reinterpret_cast<std::uintptr_t>(p);
}

std::vector<std::uint64_t> Values(const TList& list)
{
    std::vector<std::uint64_t> values;
    for (int i = 0; i < list.Count(); ++i)
        values.push_back(V(list.Get(i)));
    return values;
}

// Values on both sides of 2^31 and 2^32: a signed 32-bit subtraction orders
// these wrongly.
const std::vector<std::uint64_t> WideValues{0x80000000u, 5, 0xFFFFFFFFu, 0x7FFFFFFFu,
                                             0x100000000ull, 0, 0xFFFFFFFF00000000ull, 0x80000001u};

// ------------------------------------------------------------ compare routines

TEST(CommonCompareTest, AscendingListSortOrdersPointersAsUnsignedIntegers)
{
    EXPECT_LT(AscendingListSort(P(0x7FFFFFFF), P(0x80000000)), 0);
    EXPECT_GT(AscendingListSort(P(0xFFFFFFFF), P(1)), 0);
    EXPECT_GT(AscendingListSort(P(0x100000000ull), P(0xFFFFFFFF)), 0);
    EXPECT_EQ(AscendingListSort(P(0x80000000), P(0x80000000)), 0);
    EXPECT_EQ(AscendingListSort(P(0), P(0xFFFFFFFF00000000ull)), -1);
}

TEST(CommonCompareTest, CompareRealsGivesTheSign)
{
    EXPECT_EQ(CompareReals(1.5, 2.5), -1);
    EXPECT_EQ(CompareReals(2.5, 1.5), 1);
    EXPECT_EQ(CompareReals(-0.0, 0.0), 0);
    EXPECT_EQ(CompareReals(-1e300, 1e300), -1);
}

TEST(CommonCompareTest, CompareRealsPutsEveryNaNAfterEveryNumber)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nans[] = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::signaling_NaN(), std::nan("7")};
    const double numbers[] = {-inf, -1e308, -0.0, 0.0, 5e-324, 1.0, 1e308, inf};
    for (double nan : nans) {
        for (double number : numbers) {
            EXPECT_EQ(CompareReals(nan, number), 1) << number;
            EXPECT_EQ(CompareReals(number, nan), -1) << number;
        }
        for (double other : nans)
            EXPECT_EQ(CompareReals(nan, other), 0);
    }
    // The numbers keep their order.
    for (std::size_t i = 0; i + 1 < std::size(numbers); ++i) {
        if (i != 2) { // -0 and 0 are equal
            EXPECT_EQ(CompareReals(numbers[i], numbers[i + 1]), -1) << i;
        }
    }
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

struct TKeyCompareCase {
    std::string Key1;
    std::string Key2;
    bool CaseInsensitive;
    bool Partial;
    int Expected; // sign
};

TEST(CommonCompareTest, ASCIIAndANSIKeyComparisons)
{
    const TKeyCompareCase cases[] = {
        {"abc", "abcd", false, true, 0},
        {"abc", "abcd", false, false, -1},
        {"abcd", "abc", false, false, 1},
        {"abc", "abc", false, false, 0},
        {"ABC", "abc", true, false, 0},
        {"abd", "abc", false, false, 1},
        {"abc", "abd", true, true, -1},
        {"", "a", false, true, 0},
        {"", "a", false, false, -1},
    };
    for (const TKeyCompareCase& c : cases) {
        // Keys in buffers of their exact length: nothing is read past them.
        std::vector<char> k1(c.Key1.begin(), c.Key1.end());
        std::vector<char> k2(c.Key2.begin(), c.Key2.end());
        const Integer l1 = static_cast<Integer>(k1.size());
        const Integer l2 = static_cast<Integer>(k2.size());
        EXPECT_EQ(Sign(DBASCIICompareStrings(k1.data(), k2.data(), l1, l2, c.CaseInsensitive, c.Partial)),
                  c.Expected)
            << "ASCII " << c.Key1 << " / " << c.Key2;
        EXPECT_EQ(Sign(DBANSICompareStrings(k1.data(), k2.data(), l1, l2, c.CaseInsensitive, c.Partial)),
                  c.Expected)
            << "ANSI " << c.Key1 << " / " << c.Key2;
    }
    // Case decides between otherwise equal keys only when case counts.
    EXPECT_NE(DBASCIICompareStrings("ABC", "abc", 3, 3, false, false), 0);
    EXPECT_NE(DBANSICompareStrings("ABC", "abc", 3, 3, false, false), 0);
}

TEST(CommonCompareTest, ANSIComparisonHandlesKeysLongerThan255Bytes)
{
    std::string a(300, 'k');
    std::string b = a;
    b[280] = 'z';
    EXPECT_LT(DBANSICompareStrings(a.data(), b.data(), 300, 300, false, false), 0);
    EXPECT_GT(DBANSICompareStrings(b.data(), a.data(), 300, 300, true, false), 0);
    EXPECT_EQ(DBANSICompareStrings(a.data(), b.data(), 280, 300, false, true), 0);
    EXPECT_LT(DBANSICompareStrings(a.data(), a.data(), 299, 300, false, false), 0);
}

std::vector<char> WideKey(const std::string& s)
{
    std::vector<char> bytes;
    for (char c : s) {
        bytes.push_back(c);
        bytes.push_back(0);
    }
    return bytes;
}

TEST(CommonCompareTest, WideKeysCompareInTheCodePage)
{
    auto cmp = [](const std::string& s1, const std::string& s2, bool ci, bool partial) {
        std::vector<char> k1 = WideKey(s1);
        std::vector<char> k2 = WideKey(s2);
        return Sign(DBCompareWideStrings(k1.data(), k2.data(), static_cast<Integer>(k1.size()),
                                         static_cast<Integer>(k2.size()), ci, partial));
    };
    EXPECT_EQ(cmp("abc", "ABC", true, false), 0);
    EXPECT_NE(cmp("abc", "ABC", false, false), 0);
    EXPECT_EQ(cmp("ab", "abc", false, true), 0);
    EXPECT_EQ(cmp("ab", "abc", false, false), -1);
    EXPECT_EQ(cmp("abd", "abc", true, false), 1);
    // The same order as the code page's own comparison.
    EXPECT_EQ(cmp("\xE9t\xE9", "ete", false, false), Sign(AnsiCompareStr("\xE9t\xE9", "ete")));
}

TEST(CommonCompareTest, LikeMatchesPercentRunsAndSingleCharacters)
{
    struct {
        const char* Value;
        const char* Pattern;
        bool Matches;
    } const cases[] = {
        {"abc", "a%", true},
        {"abc", "a_c", true},
        {"", "%", true},
        {"abc", "A%", false},
        {"abc", "ab", false},
        // Empty runs match nothing at all, wherever they stand.
        {"ab", "ab%%", true},
        {"ab", "ab%", true},
        {"ab", "%ab%", true},
        {"ab", "a%%b", true},
        {"", "", true},
        {"", "%%", true},
        {"", "_", false},
        {"a", "", false},
        {"abc", "%", true},
        {"abc", "%c", true},
        {"abc", "%b", false},
        {"abc", "___", true},
        {"abc", "__", false},
        {"abc", "____", false},
        {"abcbd", "a%b_", true},
        {"abcbd", "%b%d", true},
        {"aXbXc", "a%b%c", true},
        {"mississippi", "m%iss%ppi", true},
        {"mississippi", "m%iss%pi%x", false},
        {"abc", "ab_%", true},
        {"ab", "ab_%", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchPatternedStrings(c.Value, c.Pattern, '*', '?'), c.Matches)
            << '"' << c.Value << "\" LIKE \"" << c.Pattern << '"';
}

TEST(CommonCompareTest, LikeHandlesLongValuesAndPatterns)
{
    std::string value(5000, 'a');
    value += 'b';
    EXPECT_TRUE(MatchPatternedStrings(value, "%a%a%a%b"));
    EXPECT_FALSE(MatchPatternedStrings(value, "%a%a%a%c"));
    EXPECT_TRUE(MatchPatternedStrings(value, std::string(300, '_') + "%b"));
    EXPECT_TRUE(MatchPatternedStrings(value, value));
}

// ----------------------------------------------------------------------- lists

TEST(CompoundListTest, PairsStayTogetherAndCountsMustAgree)
{
    TCompoundList list;
    list.Add(P(3), P(30));
    list.Add(P(1), P(10));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(V(list.Items(0)), 3u);
    list.SetItems(0, P(2));
    EXPECT_EQ(V(list.Items(0)), 2u);

    list.List1()->Add(P(9));
    try {
        list.Count();
        FAIL() << "unequal lists must raise";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Compound list - list counts do no match");
    }
    EXPECT_THROW(list.SortList1(), Exception);
    list.List1()->Delete(2);

    list.SortList1();
    EXPECT_EQ(V(list.List2()->Get(0)), 10u);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.List1Sorted());
    EXPECT_FALSE(list.List2Sorted());
}

TEST(CompoundListTest, SortsByEitherListAsUnsignedValues)
{
    TCompoundList list;
    for (std::uint64_t v : WideValues)
        list.Add(P(v), P(v + 1));
    list.SortList1();
    std::vector<std::uint64_t> sorted = WideValues;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Values(*list.List1()), sorted);
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(V(list.List2()->Get(i)), V(list.List1()->Get(i)) + 1);
    EXPECT_TRUE(list.List1Sorted());
    EXPECT_EQ(list.IndexOfList1(P(0x80000000)), 3);
    EXPECT_EQ(list.IndexOfList1(P(0xFFFFFFFF00000000ull)), 7);
    EXPECT_EQ(list.IndexOfList1(P(6)), -1);
    // The companion list is not sorted: a linear search.
    EXPECT_EQ(list.IndexOfList2(P(1)), 0);

    list.SortList2();
    EXPECT_TRUE(list.List2Sorted());
    EXPECT_FALSE(list.List1Sorted());
    EXPECT_EQ(list.IndexOfList2(P(0x100000001ull)), 6);
}

TEST(CompoundListTest, SortMatchesAReferenceSortOnManyDuplicates)
{
    std::mt19937 random(7);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
    TCompoundList list;
    for (int i = 0; i < 3000; ++i) {
        std::uint64_t key = (random() % 50) * 0x10000001ull;
        pairs.emplace_back(key, static_cast<std::uint64_t>(i));
        list.Add(P(key), P(static_cast<std::uint64_t>(i)));
    }
    list.SortList1();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> got;
    for (int i = 0; i < list.Count(); ++i)
        got.emplace_back(V(list.List1()->Get(i)), V(list.List2()->Get(i)));
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
    std::sort(got.begin(), got.end());
    std::sort(pairs.begin(), pairs.end());
    EXPECT_EQ(got, pairs);
    // The leftmost of equal keys.
    for (int i = 0; i < list.Count(); ++i) {
        int index = list.IndexOfList1(list.List1()->Get(i));
        EXPECT_EQ(list.List1()->Get(index), list.List1()->Get(i));
        EXPECT_TRUE(index == 0 || list.List1()->Get(index - 1) != list.List1()->Get(i));
    }

    TCompoundList sortedAlready;
    for (int i = 0; i < 100000; ++i)
        sortedAlready.Add(P(static_cast<std::uint64_t>(i)), nullptr);
    sortedAlready.SortList1();
    EXPECT_EQ(sortedAlready.IndexOfList1(P(77777)), 77777);
}

TEST(SortedListTest, SortsOnlyListsOfMoreThanOneHundredItems)
{
    TSortedList list;
    for (int i = 100; i >= 1; --i)
        list.Add(P(static_cast<std::uint64_t>(i)));
    list.SortList(AscendingListSort);
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(V(list.Get(0)), 100u);
    EXPECT_EQ(list.SortedIndexOf(P(1)), 99);

    list.Add(P(0));
    list.SortList(AscendingListSort);
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(V(list.Get(0)), 0u);
    EXPECT_EQ(list.SortedIndexOf(P(1)), 1);
    EXPECT_EQ(list.SortedIndexOf(P(500)), -1);
}

TEST(SortedListTest, BinarySearchFindsTheLeftmostHit)
{
    TSortedList list;
    EXPECT_EQ(list.SearchSortedList(P(7)), -1);
    for (std::uint64_t v : {5, 7, 7, 7, 9})
        list.Add(P(v));
    EXPECT_EQ(list.SearchSortedList(P(7)), 1);
    EXPECT_EQ(list.SearchSortedList(P(5)), 0);
    EXPECT_EQ(list.SearchSortedList(P(9)), 4);
    EXPECT_EQ(list.SearchSortedList(P(6)), -1);
    EXPECT_EQ(list.SearchSortedList(P(10)), -1);
    EXPECT_EQ(list.SearchSortedList(P(1)), -1);
}

TEST(SortedListTest, AddressesAboveTwoToTheThirtyOneSortAndSearchCorrectly)
{
    TSortedList list;
    for (int i = 0; i < 20; ++i)
        for (std::uint64_t v : WideValues)
            list.Add(P(v + static_cast<std::uint64_t>(i)));
    list.SortList(AscendingListSort);
    ASSERT_TRUE(list.Sorted());
    std::vector<std::uint64_t> values = Values(list);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    for (std::uint64_t v : WideValues) {
        int index = list.SortedIndexOf(P(v + 3));
        ASSERT_GE(index, 0);
        EXPECT_EQ(V(list.Get(index)), v + 3);
    }
}

TEST(StackListTest, PushPopAndPeek)
{
    TStackList stack;
    EXPECT_EQ(stack.Peek(), nullptr);
    stack.Push(P(1));
    stack.Push(P(2));
    EXPECT_EQ(V(stack.Peek()), 2u);
    EXPECT_EQ(V(stack.Pop()), 2u);
    EXPECT_EQ(V(stack.Pop()), 1u);
    EXPECT_EQ(stack.Count(), 0);
    EXPECT_THROW(stack.Pop(), EListError);
}

// ------------------------------------------------------------------------ hash

Integer ValueOf(TVekBaseHash& hash, const std::string& key)
{
    return hash.ValueOf(key.data(), static_cast<Integer>(key.size()));
}

void Add(TVekBaseHash& hash, const std::string& key, Integer value)
{
    hash.Add(key.data(), static_cast<Integer>(key.size()), value);
}

TEST(VekBaseHashTest, HashRotatesLeftByTwoAndXors)
{
    TVekBaseHash hash(10, 10, 4);
    EXPECT_EQ(hash.HashOf("ab", 2), 486u);
    EXPECT_EQ(hash.HashOf("ab", 2) % 10, 6u);
    EXPECT_EQ(hash.HashOf("", 0), 0u);
    // Bits leaving at the top come back at the bottom.
    const Byte high[14] = {0xC0};
    EXPECT_EQ(hash.HashOf(high, 14), 3u);
    const Byte wrap[17] = {0xFF};
    EXPECT_EQ(hash.HashOf(wrap, 17), 0xFFu);
}

TEST(VekBaseHashTest, LaterDuplicateWinsUntilDeleted)
{
    TVekBaseHash hash(10, 10, 4);
    EXPECT_EQ(ValueOf(hash, "ab"), -1);
    Add(hash, "ab", 1);
    Add(hash, "ab", 2);
    Add(hash, "cd", 3);
    EXPECT_EQ(hash.Count(), 3);
    EXPECT_EQ(ValueOf(hash, "ab"), 2);
    hash.Delete("ab", 2, 999);
    EXPECT_EQ(ValueOf(hash, "ab"), 1);
    hash.Delete("ab", 2, 0);
    EXPECT_EQ(ValueOf(hash, "ab"), -1);
    hash.Delete("ab", 2, 0);
    EXPECT_EQ(hash.Count(), 1);
    EXPECT_EQ(ValueOf(hash, "cd"), 3);
}

TEST(VekBaseHashTest, ShortKeysMatchOnlyTheirOwnLength)
{
    TVekBaseHash hash(10, 10, 4);
    Add(hash, "ab", 7);
    EXPECT_EQ(ValueOf(hash, "ab"), 7);
    EXPECT_EQ(ValueOf(hash, "a"), -1);
    EXPECT_EQ(ValueOf(hash, "abc"), -1);
    EXPECT_EQ(ValueOf(hash, "abcde"), -1); // longer than the key size
    Add(hash, "wxyz", 8);
    EXPECT_EQ(ValueOf(hash, "wxyz"), 8);
    EXPECT_EQ(ValueOf(hash, "wxy"), -1);
}

TEST(VekBaseHashTest, EntriesAreHandedOutInOrderAndReused)
{
    TVekBaseHash hash(10, 3, 4);
    Add(hash, "a", 1);
    Add(hash, "b", 2);
    EXPECT_EQ((*hash.Find("a", 1))->EntryIndex, 0);
    EXPECT_EQ((*hash.Find("b", 1))->EntryIndex, 1);
    EXPECT_EQ(*hash.Find("c", 1), nullptr);
    hash.Delete("a", 1, 0);
    Add(hash, "c", 3);
    EXPECT_EQ((*hash.Find("c", 1))->EntryIndex, 0);
}

TEST(VekBaseHashTest, ReusedSlotHoldsNoStaleBytes)
{
    TVekBaseHash hash(4, 1, 4);
    Add(hash, "abcd", 1);
    hash.Delete("abcd", 4, 0);
    Add(hash, "ab", 2);
    EXPECT_EQ(ValueOf(hash, "ab"), 2);
    EXPECT_EQ(ValueOf(hash, "abcd"), -1);
}

TEST(VekBaseHashTest, RefusesOverlongKeysAndAddsToAFullHash)
{
    TVekBaseHash hash(4, 2, 4);
    EXPECT_THROW(Add(hash, "abcde", 1), EAssertionFailed);
    EXPECT_EQ(hash.Count(), 0);
    Add(hash, "a", 1);
    Add(hash, "b", 2);
    EXPECT_TRUE(hash.CheckHashFull());
    try {
        Add(hash, "c", 3);
        FAIL() << "a full hash must refuse";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("BaseHash is full"), std::string::npos);
    }
    try {
        TVekBaseHash tooMany(4, 5, 4);
        FAIL() << "more entries than buckets must be refused";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("Hash key max is greater than hash size"), std::string::npos);
    }
}

// Every key in one bucket: the chains still tell keys apart.
class TOneBucketHash : public TVekBaseHash {
public:
    using TVekBaseHash::TVekBaseHash;
    Cardinal HashOf(const void*, Integer) override { return 3; }
};

TEST(VekBaseHashTest, PossibleMatchesListEveryMatchingEntryOfTheChain)
{
    TOneBucketHash hash(8, 8, 4);
    Add(hash, "ab", 1);
    Add(hash, "ab", -1);
    Add(hash, "abc", 5);
    Add(hash, "xy", 6);
    EXPECT_EQ(ValueOf(hash, "xy"), 6);
    TList list;
    hash.GetPossibleMatchList("ab", 2, &list);
    // Values come out as unsigned 32-bit numbers, newest first.
    EXPECT_EQ(Values(list), (std::vector<std::uint64_t>{0xFFFFFFFFu, 1}));

    TVekBaseHash empty(0, 0, 4);
    empty.GetPossibleMatchList("ab", 2, &list);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(empty.ValueOf("ab", 2), -1);
}

TEST(VekBaseHashTest, ClearedHashTakesNoEntries)
{
    TVekBaseHash hash(10, 10, 4);
    hash.SourceFieldName = "Name";
    hash.DataType = ftString;
    Add(hash, "ab", 1);
    hash.Clear();
    EXPECT_EQ(hash.MaxItems(), 0);
    EXPECT_EQ(hash.KeySize(), 0);
    EXPECT_EQ(hash.HashSize(), 0);
    EXPECT_TRUE(hash.CheckHashFull());
    EXPECT_EQ(ValueOf(hash, "ab"), -1);
    EXPECT_THROW(Add(hash, "ab", 1), EAssertionFailed);
}

// ----------------------------------------------------------- hash collection

THashCollectionItem* AddItem(THashCollection& collection, Integer a, Integer b)
{
    auto* item = static_cast<THashCollectionItem*>(collection.Add());
    item->SetHashFromInts(a, b);
    collection.AddHashKey(item->GetHashKey(), item->ID());
    return item;
}

TEST(HashCollectionTest, ItemKeysAreTwoLittleEndianIntegers)
{
    THashCollection collection(ItemClassOf<THashCollectionItem>());
    auto* item = static_cast<THashCollectionItem*>(collection.Add());
    EXPECT_FALSE(item->IsHashed);
    item->SetHashFromInts(0x01020304, -1);
    const Byte expected[8] = {4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(item->GetHashKey(), expected, 8), 0);
    EXPECT_TRUE(item->IsHashed);
    const Byte other[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    item->SetHashKey(other);
    EXPECT_EQ(std::memcmp(item->HashKey, other, 8), 0);
}

TEST(HashCollectionTest, FindsAndForgetsItemsByKey)
{
    THashCollection collection(ItemClassOf<THashCollectionItem>());
    THashCollectionItem* first = AddItem(collection, 1, 2);
    THashCollectionItem* second = AddItem(collection, 3, 4);
    EXPECT_EQ(collection.FindHashKey(first->HashKey), first);
    EXPECT_EQ(collection.FindHashKey(second->HashKey), second);
    const Byte unknown[8] = {};
    EXPECT_EQ(collection.FindHashKey(unknown), nullptr);

    collection.DeleteHashKey(first);
    EXPECT_FALSE(first->IsHashed);
    EXPECT_EQ(collection.FindHashKey(first->HashKey), nullptr);

    Byte key[8];
    std::memcpy(key, second->HashKey, 8);
    collection.DeleteHashedItem(second->Index());
    EXPECT_EQ(collection.Count(), 1);
    EXPECT_EQ(collection.FindHashKey(key), nullptr);

    collection.Clear();
    EXPECT_EQ(collection.Count(), 0);
    EXPECT_EQ(collection.Hash()->HashSize(), 1000);
    EXPECT_EQ(collection.Hash()->Count(), 0);
}

TEST(HashCollectionTest, FullHashIsRebuiltTwiceTheItemCount)
{
    THashCollection collection(ItemClassOf<THashCollectionItem>());
    EXPECT_EQ(collection.Hash()->HashSize(), 1000);
    for (int i = 0; i < 1000; ++i)
        AddItem(collection, i, i * 7);
    EXPECT_EQ(collection.Hash()->HashSize(), 1000);
    EXPECT_TRUE(collection.Hash()->CheckHashFull());

    const Byte extra[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    collection.AddHashKey(extra, 5000);
    EXPECT_EQ(collection.Hash()->HashSize(), 2000);
    EXPECT_EQ(collection.Hash()->MaxItems(), 2000);
    EXPECT_EQ(collection.Hash()->Count(), 1001);
    EXPECT_EQ(collection.Hash()->ValueOf(extra, 8), 5000);
    for (int i = 0; i < collection.Count(); ++i)
        EXPECT_EQ(collection.FindHashKey(collection.HashItems(i)->HashKey), collection.HashItems(i));

    // Fewer than 500 items: back to 1000 buckets.
    THashCollection small(ItemClassOf<THashCollectionItem>());
    for (int i = 0; i < 499; ++i)
        AddItem(small, i, 0);
    small.ResetHash();
    EXPECT_EQ(small.Hash()->HashSize(), 1000);
    AddItem(small, 499, 0);
    small.ResetHash();
    EXPECT_EQ(small.Hash()->HashSize(), 1000);
    AddItem(small, 500, 0);
    small.ResetHash();
    EXPECT_EQ(small.Hash()->HashSize(), 1002);
    EXPECT_EQ(small.Hash()->Count(), 501);
}

// -------------------------------------------------------------- small routines

TEST(CommonRoutinesTest, TrailingDelimiterIsAddedOnce)
{
    EXPECT_EQ(VekIncludeTrailingBackslash(""), "");
    EXPECT_EQ(VekIncludeTrailingBackslash("/data/db"), "/data/db/");
    EXPECT_EQ(VekIncludeTrailingBackslash("/data/db/"), "/data/db/");
}

TEST(CommonRoutinesTest, FieldNamesBecomeListItemsWithBlanksAndCommas)
{
    TStringList list;
    list.Add("old");
    ConvertFieldNamesToList("Name;Last, First;With Blank", &list);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "Name");
    EXPECT_EQ(list[1], "Last, First");
    EXPECT_EQ(list[2], "With Blank");
    ConvertFieldNamesToList("", &list);
    EXPECT_EQ(list.Count(), 0);
}

TEST(CommonRoutinesTest, StringToWideCharIsCutToTheDestination)
{
    char16_t dest[4];
    std::fill(std::begin(dest), std::end(dest), u'#');
    StringLToWideChar("abcdef", dest, 4);
    EXPECT_EQ(std::u16string(dest), u"abc");
    StringLToWideChar("\xE9", dest, 4);
    EXPECT_EQ(std::u16string(dest), u"\u00E9");
    StringLToWideChar("", dest, 4);
    EXPECT_EQ(dest[0], u'\0');
}

TEST(CommonRoutinesTest, EnvironmentFacts)
{
    EXPECT_FALSE(GetCurrentUser().empty());
    EXPECT_FALSE(GetCurrentComputer().empty());
    // "<system>:  <n>.<n>.<n>.<n>  <details>"
    const std::string details = GetOSDetails();
    const auto numbers = details.find(":  ");
    ASSERT_NE(numbers, std::string::npos) << details;
    const auto rest = details.find("  ", numbers + 3);
    ASSERT_NE(rest, std::string::npos) << details;
    const std::string dotted = details.substr(numbers + 3, rest - numbers - 3);
    EXPECT_EQ(std::count(dotted.begin(), dotted.end(), '.'), 3) << details;
    EXPECT_EQ(dotted.find_first_not_of("0123456789."), std::string::npos) << details;

    Cardinal mine = GetCurrentThreadIdVal();
    Cardinal other = 0;
    std::thread([&other] { other = GetCurrentThreadIdVal(); }).join();
    EXPECT_EQ(GetCurrentThreadIdVal(), mine);
    EXPECT_NE(other, mine);

    SetTickCountSource([] { return 123456u; });
    EXPECT_EQ(GetMSTimeMarker(), 123456u);
    SetTickCountSource(nullptr);
}

TEST(CommonRoutinesTest, OSErrorTextOfTheLastError)
{
    errno = ENOENT;
    EXPECT_EQ(GetOSErrorMsg(), "No such file or directory");
    errno = 99999;
    EXPECT_EQ(GetOSErrorMsg(), "The error type could not be determined");
}

TEST(CommonRoutinesTest, TableHeaderFitsThirtyFourIndexes)
{
    EXPECT_EQ(CalcTableHeaderSize(0), 256);
    EXPECT_EQ(CalcTableHeaderSize(34), 256);
    for (Integer count : {35, 1000, -100}) {
        try {
            CalcTableHeaderSize(count);
            FAIL() << count;
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Debug check -  header size <> 256");
        }
    }
}

TEST(CommonRoutinesTest, CoreDataSizes)
{
    const std::pair<TFieldType, Integer> sizes[] = {
        {ftString, 2},  {ftSmallint, 2}, {ftWord, 2},     {ftWideString, 2}, {ftInteger, 4},
        {ftAutoInc, 4}, {ftBoolean, 1},  {ftFloat, 8},    {ftCurrency, 8},   {ftBCD, 8},
        {ftDate, 8},    {ftTime, 8},     {ftDateTime, 8},
    };
    for (const auto& [type, size] : sizes)
        EXPECT_EQ(CalculateCoreDataSize(type), size) << FieldTypeNames[type];
    try {
        CalculateCoreDataSize(ftBlob);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string("Error in setting CoreDataSize - field type not found: ") + FieldTypeNames[ftBlob]);
    }
}

} // namespace
} // namespace orvex
