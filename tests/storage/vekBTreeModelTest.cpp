// The B-tree against an ordered reference model: random inserts and deletes
// of keys over a case-insensitive string, a descending integer, a float, a
// descending date and the hidden record ID, all but the last sometimes null,
// in memory and in a database file, on page sizes that make shallow and deep
// trees. At checkpoints the counts, record numbers, every search type and
// full scans agree with the model, a second tree reading the stored pages
// sees the same keys, and every page of the index's storage is either in the
// tree or free, never both and never twice.

#include "vekBTreeTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

using btreetest::TKeySpec;
using btreetest::TRecord;
using btreetest::TTable;

// The logical values of one key.
struct TKeyValues {
    bool SNull = false;
    std::string S;
    bool INull = false;
    Integer I = 0;
    bool FNull = false;
    double F = 0;
    bool DNull = false;
    double D = 0;
    Cardinal ID = 0; // the record ID and, times 16 plus 1, the record address

    Cardinal Address() const { return ID * 16 + 1; }
};

int Sign(int Value)
{
    return (Value > 0) - (Value < 0);
}

// Null before any value, then the values.
template <class F>
int CompareField(bool NullA, bool NullB, F&& Values)
{
    if (NullA || NullB)
        return static_cast<int>(!NullA) - static_cast<int>(!NullB);
    return Sign(Values());
}

// The index's order, computed from the values: the first Fields fields.
int CompareModel(const TKeyValues& A, const TKeyValues& B, int Fields = 5)
{
    int c = CompareField(A.SNull, B.SNull, [&] {
        return DBANSICompareStrings(A.S.data(), B.S.data(), static_cast<Integer>(A.S.size()),
                                    static_cast<Integer>(B.S.size()), true, false);
    });
    if (c != 0 || Fields == 1)
        return c;
    c = -CompareField(A.INull, B.INull, [&] { return (A.I > B.I) - (A.I < B.I); }); // descending
    if (c != 0 || Fields == 2)
        return c;
    c = CompareField(A.FNull, B.FNull, [&] { return CompareReals(A.F, B.F); });
    if (c != 0 || Fields == 3)
        return c;
    c = -CompareField(A.DNull, B.DNull, [&] { return CompareReals(A.D, B.D); }); // descending
    if (c != 0 || Fields == 4)
        return c;
    return (A.ID > B.ID) - (A.ID < B.ID);
}

struct TVariant {
    const char* Name;
    bool OnDisk;
    Integer PageSize;
    int Operations;
    unsigned Seed;
};

void PrintTo(const TVariant& Variant, std::ostream* Stream)
{
    *Stream << Variant.Name;
}

class BTreeModelTest : public ::testing::TestWithParam<TVariant> {
protected:
    static constexpr Word TableID = 3;

    BTreeModelTest()
    {
        const TVariant& v = GetParam();
        if (v.OnDisk) {
            FDatabase = std::make_unique<btreetest::TDiskDatabase>();
            FDiskIO = FDatabase->IndexInterface(TableID, v.PageSize);
            FIO = FDiskIO.get();
        } else {
            FIO = &FMemoryIO;
        }
        FTable.IndexOn(FTree, Specs());
        FTree.ConnectToIFace(FIO, v.PageSize, &FRoot, &FDepth);
        FTree.CreateTree();
        FTree.Open();
        FRandom.seed(v.Seed);
    }

    static std::vector<TKeySpec> Specs()
    {
        return {{"S", false, true}, {"I", true}, {"F"}, {"D", true}, {""}};
    }

    // ------------------------------------------------------------ values

    int Random(int Below) { return std::uniform_int_distribution<int>(0, Below - 1)(FRandom); }
    bool Chance(int Percent) { return Random(100) < Percent; }

    // Values from small domains, so that keys share leading fields often.
    TKeyValues RandomValues()
    {
        static const char* const letters[] = {"a", "A", "b", "B", "\xE9", "z"};
        static const Integer integers[] = {0, 1, -1, 2, 7, 2147483647, -2147483647 - 1};
        static const double floats[] = {0.0, -0.0, 0.5, -2.25, 1e300, -1e-300, 3.0};
        TKeyValues v;
        v.SNull = Chance(8);
        for (int n = Random(5); n > 0; --n)
            v.S += letters[Random(6)];
        v.INull = Chance(8);
        v.I = integers[Random(7)];
        v.FNull = Chance(8);
        v.F = floats[Random(7)];
        v.DNull = Chance(8);
        v.D = 40000 + Random(4) + Random(4) / 4.0;
        return v;
    }

    TRecord RecordOf(const TKeyValues& V) const
    {
        TRecord record = FTable.NewRecord(V.ID);
        if (!V.SNull)
            FTable.PutString(record, "S", V.S);
        if (!V.INull)
            FTable.PutInteger(record, "I", V.I);
        if (!V.FNull)
            FTable.PutDouble(record, "F", V.F);
        if (!V.DNull)
            FTable.PutDouble(record, "D", V.D);
        return record;
    }

    void SearchKey(const TKeyValues& V, const TKeyComparisonFlags& Flags = {})
    {
        const TRecord record = RecordOf(V);
        FTree.ConstructKeyBufFromRecBuf(record.data(), Flags);
    }

    // The first model position not before V over Fields fields.
    std::size_t LowerBound(const TKeyValues& V, int Fields = 5) const
    {
        return static_cast<std::size_t>(
            std::partition_point(FModel.begin(), FModel.end(),
                                 [&](const TKeyValues& E) { return CompareModel(E, V, Fields) < 0; }) -
            FModel.begin());
    }
    std::size_t UpperBound(const TKeyValues& V, int Fields = 5) const
    {
        return static_cast<std::size_t>(
            std::partition_point(FModel.begin(), FModel.end(),
                                 [&](const TKeyValues& E) { return CompareModel(E, V, Fields) <= 0; }) -
            FModel.begin());
    }

    // -------------------------------------------------------- operations

    void Insert()
    {
        TKeyValues v = RandomValues();
        v.ID = ++FLastID;
        SearchKey(v);
        FTree.SetKeyBufAddr(v.Address());
        if (Chance(50)) {
            ASSERT_EQ(FTree.IdxInsert(), 0);
        } else {
            // As the dataset does it: an exact search, then the insert at its path.
            ASSERT_NE(FTree.IndexSearch(stEQ), 0);
            FTree.SetKeyBufAddr(v.Address());
            ASSERT_EQ(FTree.InsertKey(), 0);
        }
        FModel.insert(FModel.begin() + static_cast<std::ptrdiff_t>(LowerBound(v)), v);
    }

    void Delete()
    {
        const std::size_t at = static_cast<std::size_t>(Random(static_cast<int>(FModel.size())));
        SearchKey(FModel[at]);
        if (Chance(50)) {
            ASSERT_EQ(FTree.IdxDelete(), 0);
        } else {
            ASSERT_EQ(FTree.IndexSearch(stEQ), 0);
            ASSERT_EQ(FTree.GetRecAddr(), FModel[at].Address());
            ASSERT_EQ(FTree.DeleteKey(), 0);
        }
        FModel.erase(FModel.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // Refused operations change nothing.
    void Refusals()
    {
        if (!FModel.empty()) {
            SearchKey(FModel[static_cast<std::size_t>(Random(static_cast<int>(FModel.size())))]);
            ASSERT_EQ(FTree.IdxInsert(), -1);
        }
        TKeyValues missing = RandomValues();
        missing.ID = FLastID + 1;
        SearchKey(missing);
        ASSERT_EQ(FTree.IdxDelete(), -1);
    }

    // --------------------------------------------------------- checking

    // The model's answer for a search: the position of the key the cursor
    // must stand on, or -1.
    static long Expected(TIndexSearchType Type, std::size_t Lower, std::size_t Upper, std::size_t Count)
    {
        const long lower = static_cast<long>(Lower);
        const long upper = static_cast<long>(Upper);
        const long count = static_cast<long>(Count);
        switch (Type) {
        case stLT:
            return lower - 1;
        case stLE:
            return upper - 1;
        case stEQ:
            return upper > lower ? lower : -1;
        case stGE:
            return lower < count ? lower : -1;
        case stGT:
            return upper < count ? upper : -1;
        case stLEG:
            return lower < count ? lower : count - 1;
        }
        return -1;
    }

    void ExpectAnswer(TIndexSearchType Type, long Position, const char* What)
    {
        const Integer result = FTree.IndexSearch(Type);
        SCOPED_TRACE(testing::Message() << What << " type " << Type << " expects position " << Position
                                        << " of " << FModel.size());
        if (Position < 0) {
            ASSERT_NE(result, 0);
            return;
        }
        ASSERT_EQ(result, 0);
        ASSERT_EQ(FTree.GetRecAddr(), FModel[static_cast<std::size_t>(Position)].Address());
        ASSERT_EQ(FTree.GetRecordNo(), Position + 1);
    }

    void CheckSearches(int Probes)
    {
        static const TIndexSearchType types[] = {stLT, stLE, stEQ, stGE, stGT, stLEG};
        for (int i = 0; i < Probes; ++i) {
            // Stored keys, their neighbours by record ID, and random keys.
            TKeyValues probe = RandomValues();
            probe.ID = static_cast<Cardinal>(Random(static_cast<int>(FLastID) + 2));
            if (!FModel.empty() && Chance(60)) {
                probe = FModel[static_cast<std::size_t>(Random(static_cast<int>(FModel.size())))];
                probe.ID += static_cast<Cardinal>(Random(3)) - 1;
            }
            const std::size_t lower = LowerBound(probe);
            const std::size_t upper = UpperBound(probe);
            for (const TIndexSearchType type : types) {
                SearchKey(probe);
                ExpectAnswer(type, Expected(type, lower, upper, FModel.size()), "full key");
            }
            // The ends of the keys that share the leading one or two fields,
            // through comparison flags.
            const int fields = 1 + Random(2);
            TKeyComparisonFlags before(5, kcfBeforeAll);
            TKeyComparisonFlags after(5, kcfAfterAll);
            for (int f = 0; f < fields; ++f)
                before[static_cast<std::size_t>(f)] = after[static_cast<std::size_t>(f)] = kcfNormal;
            const std::size_t first = LowerBound(probe, fields);
            const std::size_t last = UpperBound(probe, fields);
            SearchKey(probe, before);
            ExpectAnswer(stGE, Expected(stGE, first, first, FModel.size()), "before the prefix");
            SearchKey(probe, before);
            ExpectAnswer(stLT, Expected(stLT, first, first, FModel.size()), "before the prefix");
            SearchKey(probe, after);
            ExpectAnswer(stLE, Expected(stLE, last, last, FModel.size()), "after the prefix");
            SearchKey(probe, after);
            ExpectAnswer(stGT, Expected(stGT, last, last, FModel.size()), "after the prefix");
        }
    }

    void CheckRecordNumbers(int Probes)
    {
        ASSERT_EQ(FTree.GetRecordCount(true), static_cast<Integer>(FModel.size()));
        if (FModel.empty()) {
            ASSERT_EQ(FTree.GetAddrOfRecNo(1), 0u);
            return;
        }
        for (int i = 0; i < Probes; ++i) {
            const Integer n = 1 + Random(static_cast<int>(FModel.size()));
            ASSERT_EQ(FTree.GetAddrOfRecNo(n), FModel[static_cast<std::size_t>(n - 1)].Address());
            ASSERT_EQ(FTree.GetRecordNo(), n);
        }
    }

    // Every key in order through Tree's cursor, forwards and backwards.
    void CheckScan(TBTree& Tree)
    {
        TKeyValues first;
        first.SNull = true;
        SearchKey(first, {kcfBeforeAll});
        Tree.ConstructKeyBufFromKeyBuf(FTree.KeyBuf(), {kcfBeforeAll});
        if (FModel.empty()) {
            ASSERT_NE(Tree.IndexSearch(stGE), 0);
            return;
        }
        ASSERT_EQ(Tree.IndexSearch(stGE), 0);
        for (std::size_t i = 0; i < FModel.size(); ++i) {
            ASSERT_EQ(Tree.GetRecAddr(), FModel[i].Address()) << "key " << i;
            ASSERT_EQ(Tree.GetRecordNo(), static_cast<Integer>(i + 1));
            ASSERT_EQ(Tree.NextRecord(), i + 1 < FModel.size());
        }
        for (std::size_t i = FModel.size(); i-- > 0;) {
            ASSERT_EQ(Tree.GetRecAddr(), FModel[i].Address()) << "key " << i;
            ASSERT_EQ(Tree.PriorRecord(), i > 0);
        }
    }

    // Every block of the index's storage is in the tree or free, once.
    void CheckPages()
    {
        const std::set<Cardinal> tree = btreetest::TreePages(*FIO, GetParam().PageSize, FRoot, FDepth);
        if (!GetParam().OnDisk) {
            EXPECT_EQ(FMemoryIO.BlockCount(), static_cast<int>(tree.size())) << "a block outside the tree";
            return;
        }
        std::vector<Cardinal> listed;
        FDiskIO->ListBlocks(listed);
        const std::set<Cardinal> blocks(listed.begin(), listed.end());
        ASSERT_EQ(blocks.size(), listed.size()) << "a block listed twice";
        const std::set<Cardinal> free = btreetest::FreeChainBlocks(*FIO, FDiskIO->GetGlobalFirstEmpty());
        std::vector<Cardinal> both;
        std::set_intersection(tree.begin(), tree.end(), free.begin(), free.end(), std::back_inserter(both));
        EXPECT_TRUE(both.empty()) << "block " << (both.empty() ? 0 : both.front()) << " is used and free";
        std::set<Cardinal> all = tree;
        all.insert(free.begin(), free.end());
        EXPECT_EQ(all, blocks) << "the map's blocks of the index differ from the tree's and the free ones";
        TStringList problems;
        EXPECT_TRUE(FDatabase->MapConsistent(&problems)) << problems.Text();
    }

    void Checkpoint()
    {
        TStringList problems;
        ASSERT_TRUE(FTree.CheckOrder(&problems)) << problems.Text();
        ASSERT_NO_FATAL_FAILURE(CheckRecordNumbers(20));
        ASSERT_NO_FATAL_FAILURE(CheckSearches(20));
        ASSERT_NO_FATAL_FAILURE(CheckScan(FTree));
        // Another tree over the same storage reads the same keys.
        TBTree reader;
        FTable.IndexOn(reader, Specs());
        reader.ConnectToIFace(FIO, GetParam().PageSize, &FRoot, &FDepth);
        reader.Open();
        ASSERT_NO_FATAL_FAILURE(CheckScan(reader));
        ASSERT_NO_FATAL_FAILURE(CheckPages());
    }

    TTable FTable{{{"S", ftString, 8}, {"I", ftInteger}, {"F", ftFloat}, {"D", ftDate}}};
    std::unique_ptr<btreetest::TDiskDatabase> FDatabase;
    std::unique_ptr<TDiskIOInterface> FDiskIO;
    TMemoryIOInterface FMemoryIO;
    TBaseIOInterface* FIO = nullptr;
    TBTree FTree;
    Cardinal FRoot = 0;
    Integer FDepth = 0;
    std::mt19937 FRandom;
    std::vector<TKeyValues> FModel; // in key order
    Cardinal FLastID = 0;
};

TEST_P(BTreeModelTest, AgreesWithAnOrderedModel)
{
    const TVariant& v = GetParam();
    const Cardinal root = FRoot;
    int maxDepth = 1;
    for (int op = 0; op < v.Operations; ++op) {
        // Growing, then mixed, then shrinking.
        const int insertPercent = op < v.Operations * 6 / 10 ? 65 : (op < v.Operations * 85 / 100 ? 50 : 10);
        if (FModel.empty() || Chance(insertPercent)) {
            ASSERT_NO_FATAL_FAILURE(Insert()) << "operation " << op;
        } else {
            ASSERT_NO_FATAL_FAILURE(Delete()) << "operation " << op;
        }
        maxDepth = std::max(maxDepth, FDepth);
        if (op % 97 == 0) {
            ASSERT_NO_FATAL_FAILURE(Refusals());
        }
        if (op % 1000 == 999) {
            ASSERT_NO_FATAL_FAILURE(CheckRecordNumbers(5));
            ASSERT_NO_FATAL_FAILURE(CheckSearches(5));
        }
        if (op % (v.Operations / 4) == v.Operations / 4 - 1) {
            ASSERT_NO_FATAL_FAILURE(Checkpoint()) << "after operation " << op;
        }
    }
    EXPECT_GE(maxDepth, 3) << "the tree should have grown several levels";
    while (!FModel.empty()) {
        ASSERT_NO_FATAL_FAILURE(Delete());
    }
    ASSERT_NO_FATAL_FAILURE(Checkpoint());
    EXPECT_EQ(FDepth, 1);
    EXPECT_EQ(FRoot, root) << "the root keeps its address";
}

// A tree filled from keys in key order, as a result's order index is, is
// an ordinary tree: at sizes that fill one page, end on a page boundary and
// need several levels it agrees with the model (counts, record numbers,
// searches, scans, pages), then takes inserts and deletes like any tree.
// Loading into a tree that holds keys, or keys out of order, is refused.
TEST_P(BTreeModelTest, LoadsKeysGivenInOrderIntoAnEmptyTree)
{
    const TVariant& v = GetParam();
    const Integer keySize = FTree.MaximumKeySize();
    const int perPage = (v.PageSize - NodeHeaderSize - keySize - 1) / keySize;
    const Cardinal root = FRoot;
    // Count new random values in key order, and their keys side by side.
    auto sortedKeys = [&](int Count, std::vector<TKeyValues>& Values) {
        Values.clear();
        for (int i = 0; i < Count; ++i) {
            Values.push_back(RandomValues());
            Values.back().ID = ++FLastID;
        }
        std::sort(Values.begin(), Values.end(),
                  [](const TKeyValues& A, const TKeyValues& B) { return CompareModel(A, B) < 0; });
        std::vector<Byte> keys(Values.size() * static_cast<std::size_t>(keySize));
        for (std::size_t i = 0; i < Values.size(); ++i) {
            Byte* key = keys.data() + i * static_cast<std::size_t>(keySize);
            const TRecord record = RecordOf(Values[i]);
            FTree.ConstructTempKeyBufFromRecBuf(key, record.data(), {});
            WriteLE32(key + kioAddress, Values[i].Address());
        }
        return keys;
    };
    // Keys handed out by position, or one after another (Stream).
    auto load = [&](int Count, bool Stream) {
        std::vector<TKeyValues> values;
        const std::vector<Byte> keys = sortedKeys(Count, values);
        if (Stream) {
            std::size_t next = 0;
            FTree.LoadSortedKeyStream(values.size(), [&] {
                return keys.data() + (next++) * static_cast<std::size_t>(keySize);
            });
        } else {
            FTree.LoadSortedKeys(values.size(),
                                 [&](std::size_t I) { return keys.data() + I * static_cast<std::size_t>(keySize); });
        }
        FModel = values;
    };
    for (const bool stream : {false, true})
    for (const int count : {1, perPage, perPage + 1, perPage * perPage + 3, v.Operations / 2}) {
        SCOPED_TRACE(testing::Message() << count << " keys" << (stream ? ", streamed" : ""));
        ASSERT_NO_FATAL_FAILURE(load(count, stream));
        ASSERT_NO_FATAL_FAILURE(Checkpoint());
        EXPECT_EQ(FRoot, root) << "the root keeps its address";
        // Loading again over keys is refused and changes nothing.
        EXPECT_THROW(load(3, stream), EVekDatabaseError);
        for (int op = 0; op < 300; ++op) {
            if (FModel.empty() || Chance(50)) {
                ASSERT_NO_FATAL_FAILURE(Insert());
            } else {
                ASSERT_NO_FATAL_FAILURE(Delete());
            }
        }
        ASSERT_NO_FATAL_FAILURE(Checkpoint());
        while (!FModel.empty()) {
            ASSERT_NO_FATAL_FAILURE(Delete());
        }
        ASSERT_NO_FATAL_FAILURE(Checkpoint());
        EXPECT_EQ(FDepth, 1);
    }
    // Two keys out of order are refused.
    TKeyValues a = RandomValues();
    a.ID = ++FLastID;
    TKeyValues b = a;
    b.ID = ++FLastID;
    std::vector<Byte> keys(2 * static_cast<std::size_t>(keySize));
    for (const auto& [value, at] : {std::pair{b, 0}, std::pair{a, 1}}) {
        const TRecord record = RecordOf(value);
        FTree.ConstructTempKeyBufFromRecBuf(keys.data() + at * keySize, record.data(), {});
    }
    EXPECT_THROW(FTree.LoadSortedKeys(2, [&](std::size_t I) { return keys.data() + I * keySize; }),
                 EVekDatabaseError);
    // Streamed keys are checked as they come: the last of several levels'
    // worth of keys out of order leaves the tree empty and usable.
    std::vector<TKeyValues> values;
    const std::vector<Byte> sorted = sortedKeys(perPage * perPage + 5, values);
    std::size_t handed = 0;
    EXPECT_THROW(FTree.LoadSortedKeyStream(values.size(),
                                           [&] {
                                               const std::size_t i = handed++;
                                               return sorted.data() + (i + 1 < values.size() ? i : 0) *
                                                                          static_cast<std::size_t>(keySize);
                                           }),
                 EVekDatabaseError);
    EXPECT_EQ(handed, values.size());
    FModel.clear();
    ASSERT_NO_FATAL_FAILURE(Checkpoint());
    EXPECT_EQ(FRoot, root);
    ASSERT_NO_FATAL_FAILURE(load(perPage * 3, true));
    ASSERT_NO_FATAL_FAILURE(Checkpoint());
}

const TVariant Variants[] = {
    {"Memory", false, 4096, 30000, 11},
    {"MemorySmallPages", false, 512, 20000, 12},
    {"Disk", true, 4096, 30000, 13},
    {"DiskSmallPages", true, 1024, 20000, 14},
};

INSTANTIATE_TEST_SUITE_P(Variants, BTreeModelTest, ::testing::ValuesIn(Variants),
                         [](const ::testing::TestParamInfo<TVariant>& Info) { return std::string(Info.param.Name); });

// Emptying a tree in a database file gives its pages back to the map, and
// dropping it gives back the root too.
TEST(BTreeOnDisk, EmptyingAndDroppingGiveThePagesToTheFile)
{
    btreetest::TDiskDatabase database;
    auto io = database.IndexInterface(4, 4096);
    TTable table{{{"I", ftInteger}}};
    TBTree tree;
    table.IndexOn(tree, {{"I"}, {""}});
    Cardinal root = 0;
    Integer depth = 0;
    tree.ConnectToIFace(io.get(), 4096, &root, &depth);
    tree.CreateTree();
    tree.Open();
    for (Integer i = 0; i < 3000; ++i) {
        TRecord record = table.NewRecord(static_cast<Cardinal>(i + 1));
        table.PutInteger(record, "I", i * 7919 % 3001);
        tree.ConstructKeyBufFromRecBuf(record.data(), {});
        tree.SetKeyBufAddr(static_cast<Cardinal>(i + 1));
        ASSERT_EQ(tree.IdxInsert(), 0);
    }
    auto pages = [&] {
        std::vector<Cardinal> blocks;
        io->ListBlocks(blocks);
        return blocks.size();
    };
    ASSERT_GE(depth, 2);
    EXPECT_EQ(pages(), btreetest::TreePages(*io, 4096, root, depth).size());

    tree.EmptyTree(false);
    EXPECT_EQ(pages(), 1u);
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(tree.GetRecordCount(true), 0);
    tree.EmptyTree(true);
    EXPECT_EQ(pages(), 0u);
    EXPECT_EQ(root, 0u);
    TStringList problems;
    EXPECT_TRUE(database.MapConsistent(&problems)) << problems.Text();
}

} // namespace
} // namespace orvex
