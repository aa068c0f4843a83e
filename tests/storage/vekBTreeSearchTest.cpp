// Searching and navigating a B-tree: the search types, the cursor at the
// ends of the index, record numbers, partial searches, record lists, the
// read-ahead fill and the hash fill.

#include "vekBTreeTestUtil.h"

#include "storage/vekIndexUnitManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace orvex {
namespace {

using btreetest::TRecord;
using btreetest::TTable;
using btreetest::TTreeUnderTest;

Cardinal AddressOf(Integer Value)
{
    return static_cast<Cardinal>(100000 + Value);
}

// A tree keyed by one Integer column: key values v get record address
// AddressOf(v).
class IntegerTreeTest : public ::testing::Test {
protected:
    void Build(const std::vector<Integer>& Values, Integer PageSize = 4096)
    {
        FTable.IndexOn(FTree.Tree, {{"I"}});
        FTree.Create(&FIO, PageSize);
        for (const Integer value : Values) {
            Key(value);
            FTree.Tree.SetKeyBufAddr(AddressOf(value));
            ASSERT_EQ(FTree.Tree.IdxInsert(), 0) << value;
        }
    }
    // The search key for Value.
    void Key(Integer Value, const TKeyComparisonFlags& Flags = {})
    {
        TRecord record = FTable.NewRecord(1);
        FTable.PutInteger(record, "I", Value);
        FTree.Tree.ConstructKeyBufFromRecBuf(record.data(), Flags);
    }
    Integer Search(TIndexSearchType Type, Integer Value)
    {
        Key(Value);
        return FTree.Tree.IndexSearch(Type);
    }
    // The key value at the cursor.
    Integer Current()
    {
        return static_cast<Integer>(FTree.Tree.GetRecAddr()) - 100000;
    }
    // A search for Value stands on Expected, or fails for Expected 0.
    void ExpectFound(TIndexSearchType Type, Integer Value, Integer Expected)
    {
        SCOPED_TRACE(testing::Message() << "type " << Type << " value " << Value);
        const Integer result = Search(Type, Value);
        if (Expected == 0) {
            EXPECT_NE(result, 0);
            return;
        }
        ASSERT_EQ(result, 0);
        EXPECT_EQ(Current(), Expected);
    }

    TTable FTable{{{"I", ftInteger}}};
    TMemoryIOInterface FIO;
    TTreeUnderTest FTree;
};

const TIndexSearchType AllTypes[] = {stLT, stLE, stEQ, stGE, stGT, stLEG};

TEST_F(IntegerTreeTest, EmptyTreeAnswersNoSearch)
{
    Build({});
    for (const TIndexSearchType type : AllTypes) {
        EXPECT_EQ(Search(type, 5), -1) << "type " << type;
        EXPECT_FALSE(FTree.Tree.CursorValid());
    }
    EXPECT_VEK_ERROR_TEXT(8581, "CurrentKeyCursor is invalid", FTree.Tree.GetCurrentKeyBuf());
    EXPECT_FALSE(FTree.Tree.NextRecord());
    EXPECT_EQ(FTree.Tree.GetRecordCount(false), 0);
    EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(1), 0u);
}

// The answer of each search type: the key the cursor stands on, or none.
struct TSearchCase {
    TIndexSearchType Type;
    Integer Value;
    Integer Expected; // the key found; 0: the search fails
};

TEST_F(IntegerTreeTest, SearchTypesOnThreeKeys)
{
    Build({20, 10, 30});
    const TSearchCase cases[] = {
        {stLT, 20, 10}, {stLT, 10, 0},  {stLT, 5, 0},   {stLT, 35, 30},
        {stLE, 25, 20}, {stLE, 20, 20}, {stLE, 5, 0},   {stLE, 35, 30},
        {stEQ, 20, 20}, {stEQ, 25, 0},  {stEQ, 35, 0},
        {stGE, 25, 30}, {stGE, 30, 30}, {stGE, 35, 0},  {stGE, 5, 10},
        {stGT, 30, 0},  {stGT, 20, 30}, {stGT, 25, 30}, {stGT, 5, 10},
        {stLEG, 25, 30}, {stLEG, 20, 20}, {stLEG, 5, 10},
        // Above every key: the last key, not the one before it.
        {stLEG, 35, 30},
    };
    for (const TSearchCase& c : cases)
        ExpectFound(c.Type, c.Value, c.Expected);
    // stGT at the last key reports -1 and stays there.
    EXPECT_EQ(Search(stGT, 30), -1);
    EXPECT_EQ(Current(), 30);
}

// Every search type for values on and between the keys of a tree of many
// small pages, so that answers lie across leaf boundaries.
TEST_F(IntegerTreeTest, SearchTypesAcrossLeaves)
{
    std::vector<Integer> values;
    for (Integer v = 10; v <= 2000; v += 10)
        values.push_back(v);
    Build(values, 128);
    ASSERT_GE(FTree.Depth, 3);
    for (Integer probe = 0; probe <= 2010; probe += 5) {
        const bool exists = probe % 10 == 0 && probe >= 10 && probe <= 2000;
        const Integer below = std::min<Integer>((probe - 1) / 10 * 10, 2000); // the largest key < probe
        const Integer above = std::max<Integer>((probe / 10 + 1) * 10, 10);   // the smallest key > probe
        const Integer expected[] = {
            below >= 10 ? below : 0,                    // stLT
            exists ? probe : (below >= 10 ? below : 0), // stLE
            exists ? probe : 0,                         // stEQ
            exists ? probe : (above <= 2000 ? above : 0), // stGE
            above <= 2000 ? above : 0,                  // stGT
            exists ? probe : (above <= 2000 ? above : 2000), // stLEG
        };
        for (const TIndexSearchType type : AllTypes) {
            ExpectFound(type, probe, expected[type]);
            if (expected[type] != 0) {
                EXPECT_EQ(FTree.Tree.GetRecordNo(), expected[type] / 10) << "type " << type << " value " << probe;
            }
        }
    }
}

TEST_F(IntegerTreeTest, RecordNumbersAndTheCursorAtTheEnds)
{
    std::vector<Integer> values;
    for (Integer v = 1; v <= 300; ++v)
        values.push_back(v * 3);
    Build(values, 256);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 300);
    EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(1), AddressOf(3));
    EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(300), AddressOf(900));
    EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(0), AddressOf(3));
    EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(-7), AddressOf(3));
    for (Integer n : {2, 57, 58, 150, 299}) {
        EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(n), AddressOf(3 * n));
        // The cursor stands on record n.
        EXPECT_EQ(FTree.Tree.GetRecordNo(), n);
        EXPECT_TRUE(FTree.Tree.NextRecord());
        EXPECT_EQ(Current(), 3 * (n + 1));
    }

    // Forwards over every key from the first, then backwards.
    ASSERT_EQ(Search(stGE, 0), 0);
    for (Integer n = 1;; ++n) {
        ASSERT_EQ(Current(), 3 * n);
        ASSERT_EQ(FTree.Tree.GetRecordNo(), n);
        if (!FTree.Tree.NextRecord()) {
            EXPECT_EQ(n, 300);
            break;
        }
    }
    // Past the last key nothing moves.
    EXPECT_FALSE(FTree.Tree.NextRecord());
    EXPECT_EQ(Current(), 900);
    for (Integer n = 300;; --n) {
        ASSERT_EQ(Current(), 3 * n);
        ASSERT_EQ(FTree.Tree.GetRecordNo(), n);
        if (!FTree.Tree.PriorRecord()) {
            EXPECT_EQ(n, 1);
            break;
        }
    }
    EXPECT_FALSE(FTree.Tree.PriorRecord());
    EXPECT_EQ(Current(), 3);
}

TEST_F(IntegerTreeTest, InsertAndDeleteRefuseWhatIsNotThere)
{
    Build({10, 20, 30});
    Key(20);
    EXPECT_EQ(FTree.Tree.IdxInsert(), -1);
    Key(25);
    EXPECT_EQ(FTree.Tree.IdxDelete(), -1);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 3);

    // The dataset's way: an exact search, then insert or delete at its path.
    Key(25);
    EXPECT_NE(FTree.Tree.IndexSearch(stEQ), 0);
    FTree.Tree.SetKeyBufAddr(AddressOf(25));
    EXPECT_EQ(FTree.Tree.InsertKey(), 0);
    Key(10);
    EXPECT_EQ(FTree.Tree.IndexSearch(stEQ), 0);
    EXPECT_EQ(FTree.Tree.DeleteKey(), 0);
    // A search that stepped off the key is not a path to delete at.
    Key(26);
    EXPECT_EQ(FTree.Tree.IndexSearch(stGE), 0);
    Key(26);
    EXPECT_EQ(FTree.Tree.DeleteKey(), -1);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 3);
    ASSERT_EQ(Search(stGE, 0), 0);
    EXPECT_EQ(Current(), 20);
    EXPECT_TRUE(FTree.Tree.NextRecord());
    EXPECT_EQ(Current(), 25);
}

TEST_F(IntegerTreeTest, TheKeyAtTheCursor)
{
    Build({10, 20, 30});
    EXPECT_VEK_ERROR_TEXT(8581, "CurrentKeyCursor is invalid", FTree.Tree.GetRecAddr());
    ASSERT_EQ(Search(stEQ, 20), 0);
    TStringList lines;
    FTree.Tree.CurrentKeyAsStrings(&lines);
    ASSERT_EQ(lines.Count(), 1);
    EXPECT_EQ(lines[0], "20");
    std::vector<Byte> key(FTree.Tree.GetCurrentKeyBuf(), FTree.Tree.GetCurrentKeyBuf() + FTree.Tree.MaximumKeySize());
    EXPECT_EQ(ReadLE32(key.data() + kioAddress), AddressOf(20));
    EXPECT_EQ(FTree.Tree.CompareKeyToCurrentKeyBuf({}, key.data()), 0);
    ASSERT_EQ(Search(stEQ, 30), 0);
    EXPECT_LT(FTree.Tree.CompareKeyToCurrentKeyBuf({}, key.data()), 0);
    EXPECT_GT(FTree.Tree.CompareKeyToCurrentKeyBuf({kcfAfterAll}, key.data()), 0);
}

// --------------------------------------------------------- record lists

class ListTest : public IntegerTreeTest {
protected:
    void SetUp() override
    {
        std::vector<Integer> values;
        for (Integer v = 1; v <= 100; ++v)
            values.push_back(v);
        Build(values, 256);
    }
    static std::vector<Integer> Values(const TCompoundList& List)
    {
        std::vector<Integer> values;
        for (int i = 0; i < List.Count(); ++i)
            values.push_back(static_cast<Integer>(reinterpret_cast<std::uintptr_t>(List.Items(i))) - 100000);
        return values;
    }
    static std::vector<Integer> Numbers(const TCompoundList& List)
    {
        std::vector<Integer> numbers;
        for (int i = 0; i < List.Count(); ++i)
            numbers.push_back(static_cast<Integer>(reinterpret_cast<std::uintptr_t>(List.List2()->Get(i))));
        return numbers;
    }
    static std::vector<Integer> Run(Integer From, Integer To)
    {
        std::vector<Integer> values;
        for (Integer v = From; From <= To ? v <= To : v >= To; v += From <= To ? 1 : -1)
            values.push_back(v);
        return values;
    }
};

TEST_F(ListTest, ForwardsToTheStopAddressOrTheEnd)
{
    TCompoundList list;
    bool done = true;
    ASSERT_EQ(Search(stGE, 40), 0);
    FTree.Tree.ListMatchingRecords(nullptr, 0, AddressOf(75), stGE, true, &list, done);
    EXPECT_TRUE(done);
    EXPECT_EQ(Values(list), Run(40, 75));
    EXPECT_EQ(Numbers(list), Run(40, 75));

    list.Clear();
    ASSERT_EQ(Search(stGT, 90), 0);
    FTree.Tree.ListMatchingRecords(nullptr, 0, 0, stGT, true, &list, done);
    EXPECT_FALSE(done) << "the scan ran out of keys";
    EXPECT_EQ(Values(list), Run(91, 100));
    // The path stays where the search left it.
    EXPECT_EQ(Current(), 91);
}

TEST_F(ListTest, BackwardsInEitherOrder)
{
    TCompoundList list;
    list.Add(reinterpret_cast<void*>(std::uintptr_t{100999}), nullptr); // an earlier entry stays first
    bool done = false;
    ASSERT_EQ(Search(stLE, 30), 0);
    FTree.Tree.ListMatchingRecords(nullptr, 0, AddressOf(12), stLE, false, &list, done);
    EXPECT_TRUE(done);
    std::vector<Integer> expected{999};
    for (Integer v : Run(30, 12))
        expected.push_back(v);
    EXPECT_EQ(Values(list), expected);

    list.Clear();
    ASSERT_EQ(Search(stLT, 30), 0);
    FTree.Tree.ListMatchingRecords(nullptr, 0, 0, stLT, true, &list, done);
    EXPECT_FALSE(done);
    EXPECT_EQ(Values(list), Run(1, 29));
    EXPECT_EQ(Numbers(list), Run(1, 29));
}

TEST_F(ListTest, NothingFromTheWrongSideOrWithoutACursor)
{
    TCompoundList list;
    bool done = true;
    FTree.Tree.ListMatchingRecords(nullptr, 0, 0, stGE, true, &list, done);
    EXPECT_FALSE(done);
    EXPECT_EQ(list.Count(), 0) << "no search yet";

    ASSERT_EQ(Search(stEQ, 50), 0);
    Key(60);
    const std::vector<Byte> above(FTree.Tree.KeyBuf(), FTree.Tree.KeyBuf() + FTree.Tree.MaximumKeySize());
    Key(40);
    const std::vector<Byte> below(FTree.Tree.KeyBuf(), FTree.Tree.KeyBuf() + FTree.Tree.MaximumKeySize());
    FTree.Tree.ListMatchingRecords(above.data(), 0, 0, stLE, true, &list, done);
    EXPECT_EQ(list.Count(), 0) << "a backward scan from a key below the one given";
    FTree.Tree.ListMatchingRecords(below.data(), 0, 0, stGT, true, &list, done);
    EXPECT_EQ(list.Count(), 0) << "a forward scan from a key above the one given";
    FTree.Tree.ListMatchingRecords(below.data(), 0, 0, stEQ, true, &list, done);
    EXPECT_EQ(list.Count(), 0) << "an equality scan from another key";
    EXPECT_TRUE(done);
}

// ---------------------------------------------------- keys of many fields

// A tree keyed by a case-insensitive string, an integer and the hidden
// record ID.
class CompositeTreeTest : public ::testing::Test {
public:
    struct TRow {
        const char* Name; // nullptr: null
        Integer Number;
        Integer NumberNull = 0; // 1: the number is null
    };

protected:

    void Build(const std::vector<TRow>& Rows, Integer PageSize = 4096)
    {
        FTable.IndexOn(FTree.Tree, {{"S", false, true}, {"I"}, {""}});
        FTree.Create(&FIO, PageSize);
        Cardinal id = 0;
        for (const TRow& row : Rows) {
            ++id;
            const TRecord record = Record(row, id);
            FTree.Tree.ConstructKeyBufFromRecBuf(record.data(), {});
            FTree.Tree.SetKeyBufAddr(id);
            ASSERT_EQ(FTree.Tree.IdxInsert(), 0);
        }
    }
    TRecord Record(const TRow& Row, Cardinal ID) const
    {
        TRecord record = FTable.NewRecord(ID);
        if (Row.Name != nullptr)
            FTable.PutString(record, "S", Row.Name);
        if (Row.NumberNull == 0)
            FTable.PutInteger(record, "I", Row.Number);
        return record;
    }
    Integer Search(TIndexSearchType Type, const TRow& Row, const TKeyComparisonFlags& Flags,
                   const TSearchModifier* Modifier = nullptr)
    {
        const TRecord record = Record(Row, 0);
        FTree.Tree.ConstructKeyBufFromRecBuf(record.data(), Flags);
        return FTree.Tree.IndexSearch(Type, Modifier);
    }

    TTable FTable{{{"S", ftString, 12}, {"I", ftInteger}}};
    TMemoryIOInterface FIO;
    TTreeUnderTest FTree;
};

// Rows in key order: (name, number), record IDs 1 .. 9.
const std::vector<CompositeTreeTest::TRow> NameRows{
    {nullptr, 5}, {"a", 1}, {"B", 0, 1}, {"b", 1}, {"B", 2}, {"b", 3}, {"bb", 1}, {"c", 7}, {"C", 8},
};

TEST_F(CompositeTreeTest, ComparisonFlagsFindTheEndsOfAPrefix)
{
    Build(NameRows, 128);
    const TKeyComparisonFlags before{kcfNormal, kcfBeforeAll, kcfBeforeAll};
    const TKeyComparisonFlags after{kcfNormal, kcfAfterAll, kcfAfterAll};
    struct TCase {
        TIndexSearchType Type;
        const char* Name;
        TKeyComparisonFlags Flags;
        Cardinal Expected; // record ID; 0: fails
    };
    const TCase cases[] = {
        {stGE, "b", before, 3}, // the first "b" in any case: the one with a null number
        {stLE, "B", after, 6},  // the last "b"
        {stGT, "b", after, 7},  // "bb"
        {stLT, "b", before, 2}, // "a"
        {stLT, "a", before, 1}, // the null name sorts first
        {stGE, "cc", before, 0},
        {stLEG, "cc", before, 9},
        {stGE, "", before, 2},  // an empty name sorts after null, before "a"
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.Type << " name " << c.Name);
        const Integer result = Search(c.Type, {c.Name, 0}, c.Flags);
        if (c.Expected == 0) {
            EXPECT_NE(result, 0);
            continue;
        }
        ASSERT_EQ(result, 0);
        EXPECT_EQ(FTree.Tree.GetRecAddr(), c.Expected);
        EXPECT_EQ(FTree.Tree.GetRecordNo(), static_cast<Integer>(c.Expected));
    }
}

TEST_F(CompositeTreeTest, ModifierLimitsTheComparedFields)
{
    Build(NameRows);
    TSearchModifier modifier;
    modifier.SetLimitedSearch(true);
    modifier.SetIncludedKeyFieldCount(1);
    // Over the name alone any "b" is equal.
    ASSERT_EQ(Search(stEQ, {"B", 99}, {}, &modifier), 0);
    const Cardinal found = FTree.Tree.GetRecAddr();
    EXPECT_TRUE(found >= 3 && found <= 6) << found;
    EXPECT_NE(Search(stEQ, {"B", 99}, {}, nullptr), 0) << "over all fields (99, ID 0) is not there";
    // Without a count: the leading fields that are not hidden, name and number.
    modifier.SetIncludedKeyFieldCount(0);
    ASSERT_EQ(Search(stEQ, {"B", 3}, {}, &modifier), 0);
    EXPECT_EQ(FTree.Tree.GetRecAddr(), 6u);
    modifier.SetLimitedSearch(false);
    EXPECT_NE(Search(stEQ, {"B", 3}, {}, &modifier), 0);
}

TEST_F(CompositeTreeTest, EqualityListStopsAtTheFirstOtherKey)
{
    Build(NameRows, 128);
    const TKeyComparisonFlags before{kcfNormal, kcfBeforeAll, kcfBeforeAll};
    ASSERT_EQ(Search(stGE, {"b", 0}, before), 0);
    TCompoundList list;
    bool done = false;
    FTree.Tree.ListMatchingRecords(nullptr, 1, 0, stEQ, true, &list, done);
    EXPECT_TRUE(done);
    ASSERT_EQ(list.Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list.Items(i)), static_cast<std::uintptr_t>(3 + i));
}

TEST_F(CompositeTreeTest, HashFillReadsEachEntryAtItsOwnOffsets)
{
    // Names of every length and nulls before the number move it in each key.
    std::vector<TRow> rows;
    const char* names[] = {nullptr, "", "x", "abcdefghijkl", "mm", "Q"};
    for (Integer i = 0; i < 60; ++i)
        rows.push_back({names[i % 6], i * 7, i % 11 == 3 ? 1 : 0});
    Build(rows, 256);
    ASSERT_GE(FTree.Depth, 2);
    // Stand before the first key, as a join does.
    ASSERT_EQ(Search(stGE, {nullptr, 0, 1}, {kcfBeforeAll}), 0);

    TVekBaseHash numbers(128, 64, 4);
    FTree.Tree.FillHashTable(1, &numbers);
    Integer nonNull = 0;
    for (Integer i = 0; i < 60; ++i) {
        if (rows[static_cast<std::size_t>(i)].NumberNull != 0)
            continue;
        ++nonNull;
        Byte value[4];
        WriteLE32(value, static_cast<Cardinal>(i * 7));
        EXPECT_EQ(numbers.ValueOf(value, 4), i + 1) << "number " << i * 7;
    }
    EXPECT_EQ(numbers.Count(), nonNull);

    TVekBaseHash strings(128, 64, 12);
    FTree.Tree.FillHashTable(0, &strings);
    EXPECT_EQ(strings.Count(), 50) << "null names are left out";
    TList matches;
    strings.GetPossibleMatchList("abcdefghijkl", 12, &matches);
    EXPECT_EQ(matches.Count(), 10);
    matches.Clear();
    strings.GetPossibleMatchList("mm", 2, &matches);
    EXPECT_EQ(matches.Count(), 10);
}

// --------------------------------------------------------- read-ahead fill

TEST_F(IntegerTreeTest, ReadAheadTakesTheCursorsLeafInKeyOrder)
{
    std::vector<Integer> values;
    for (Integer v = 1; v <= 20; ++v)
        values.push_back(v);
    Build(values);
    TReadAheadBuffer buffer;
    buffer.Open(16, FTree.Tree.MaximumKeySize(), 10000);
    struct TCase {
        TReadAheadDirection Direction;
        Integer At;
        Integer Count;
        Integer First;
        Integer Last;
    };
    const TCase cases[] = {
        {rdForwards, 10, 5, 10, 14}, {rdNone, 18, 5, 18, 20},   {rdBackwards, 10, 5, 6, 10},
        {rdBackwards, 3, 5, 1, 3},   {rdCenter, 10, 6, 7, 12},  {rdCenter, 2, 6, 1, 4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "direction " << c.Direction << " at " << c.At);
        buffer.Invalidate();
        ASSERT_EQ(Search(stEQ, c.At), 0);
        ASSERT_EQ(FTree.Tree.ListReadAheadRecords(c.Direction, c.Count, &buffer), c.Last - c.First + 1);
        ASSERT_EQ(buffer.Count(), c.Last - c.First + 1);
        for (int i = 0; i < buffer.Count(); ++i) {
            const TReadAheadBufferItem* item = buffer.GetItems(i);
            EXPECT_EQ(item->RecAddr(), AddressOf(c.First + i));
            EXPECT_EQ(item->RecNo(), c.First + i);
            EXPECT_EQ(ReadLE32(item->KeyBuf() + kioAddress), AddressOf(c.First + i));
        }
    }
}

TEST_F(IntegerTreeTest, ReadAheadStaysInTheLeaf)
{
    std::vector<Integer> values;
    for (Integer v = 1; v <= 200; ++v)
        values.push_back(v);
    Build(values, 256);
    TReadAheadBuffer buffer;
    buffer.Open(16, FTree.Tree.MaximumKeySize(), 10000);
    // A forward fill from the first key takes the first leaf; the key after
    // it opens the second leaf, which has nothing before it.
    ASSERT_EQ(Search(stEQ, 1), 0);
    const Integer firstLeaf = FTree.Tree.ListReadAheadRecords(rdForwards, 1000, &buffer);
    ASSERT_GT(firstLeaf, 1);
    ASSERT_LT(firstLeaf, 200);
    const Integer firstOfNext = firstLeaf + 1;
    buffer.Invalidate();
    ASSERT_EQ(Search(stEQ, firstOfNext), 0);
    EXPECT_EQ(FTree.Tree.ListReadAheadRecords(rdBackwards, 10, &buffer), 1);
    EXPECT_EQ(buffer.GetItems(0)->RecNo(), firstOfNext);
}

// ------------------------------------------------------------ address lists

// A tree of several levels over the values 1 .. Count inserted in scrambled
// order, and its leaves in chain order.
class AddressListTest : public IntegerTreeTest {
protected:
    static constexpr Integer Count = 700;
    void SetUp() override
    {
        std::vector<Integer> values;
        for (Integer i = 0; i < Count; ++i)
            values.push_back((i * 389) % Count + 1);
        Build(values, 128);
        ASSERT_GE(FTree.Depth, 3);
        // The first leaf: the first child at every level.
        std::vector<Byte> page(128);
        Cardinal address = FTree.Root;
        for (Integer level = 1; level < FTree.Depth; ++level) {
            FIO.ReadBlock(address, 128, page.data());
            address = ReadLE32(page.data() + NodeHeaderSize + kioAddress);
        }
        for (; address != 0; address = ReadLE32(page.data() + nhoNext)) {
            FIO.ReadBlock(address, 128, page.data());
            FLeaves.push_back(address);
        }
    }
    // The key values of the leaves from the first on, in chain order.
    std::vector<Integer> ChainValues()
    {
        std::vector<Integer> values;
        std::vector<Byte> page(128);
        const Integer keySize = FTree.Tree.MaximumKeySize();
        for (Cardinal address = FLeaves.front(); address != 0; address = ReadLE32(page.data() + nhoNext)) {
            FIO.ReadBlock(address, 128, page.data());
            for (Cardinal pos = 0; pos < ReadLE32(page.data() + nhoSize); pos += static_cast<Cardinal>(keySize))
                values.push_back(static_cast<Integer>(ReadLE32(page.data() + NodeHeaderSize + pos + kioAddress)) -
                                 100000);
        }
        return values;
    }
    std::vector<Integer> List(Integer From, Integer Wanted)
    {
        std::vector<Cardinal> addresses;
        FTree.Tree.GetAddrOfRecNo(From);
        FTree.Tree.ListAddresses(Wanted, addresses);
        std::vector<Integer> values;
        for (const Cardinal address : addresses)
            values.push_back(static_cast<Integer>(address) - 100000);
        return values;
    }
    void SetHeaderWord(Cardinal Address, Integer Offset, Cardinal Value)
    {
        std::vector<Byte> page(128);
        FIO.ReadBlock(Address, 128, page.data());
        WriteLE32(page.data() + Offset, Value);
        FIO.WriteBlock(Address, 128, page.data());
        FTree.Tree.InvalidateInternalBuffers();
    }
    std::vector<Cardinal> FLeaves;
};

TEST_F(AddressListTest, EveryStartAndLengthListsTheKeysInOrderAndKeepsThePath)
{
    ASSERT_GT(FLeaves.size(), 20u);
    for (const Integer from : {1, 2, 7, 350, 651, Count}) {
        for (const Integer wanted : {1, 3, 40, 64, 300, Count, std::numeric_limits<Integer>::max()}) {
            SCOPED_TRACE(testing::Message() << "from " << from << " wanted " << wanted);
            const Integer last = static_cast<Integer>(std::min<Int64>(Int64{from} + wanted - 1, Count));
            std::vector<Integer> expected;
            for (Integer v = from; v <= last; ++v)
                expected.push_back(v);
            EXPECT_EQ(List(from, wanted), expected);
            EXPECT_EQ(FTree.Tree.GetRecordNo(), from) << "the path stays";
            EXPECT_EQ(Current(), from);
        }
    }
}

TEST_F(AddressListTest, WhereTheLeafChainAndTheParentsDifferTheChainDecides)
{
    // The second leaf leads past the third: a list follows the chain, as a
    // walk from leaf to leaf does.
    SetHeaderWord(FLeaves[1], nhoNext, FLeaves[3]);
    const std::vector<Integer> chain = ChainValues();
    ASSERT_LT(chain.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(List(1, std::numeric_limits<Integer>::max()), chain);
}

TEST_F(AddressListTest, ADamagedLeafAfterTheFirstIsReported)
{
    // A leaf in the middle of a long list that claims to be an inner page,
    // and one whose size is no whole number of entries.
    struct TCase {
        Integer Offset;
        Cardinal Value;
    };
    for (const TCase c : {TCase{nhoLeaf, 0}, TCase{nhoSize, 3}}) {
        SCOPED_TRACE(testing::Message() << "offset " << c.Offset);
        std::vector<Byte> saved(128);
        FIO.ReadBlock(FLeaves[10], 128, saved.data());
        SetHeaderWord(FLeaves[10], c.Offset, c.Value);
        EXPECT_EQ(disktest::VekErrorCode([&] { List(1, std::numeric_limits<Integer>::max()); }), 8451);
        FIO.WriteBlock(FLeaves[10], 128, saved.data());
        FTree.Tree.InvalidateInternalBuffers();
        EXPECT_EQ(List(1, std::numeric_limits<Integer>::max()).size(), static_cast<std::size_t>(Count));
    }
}

} // namespace
} // namespace orvex
