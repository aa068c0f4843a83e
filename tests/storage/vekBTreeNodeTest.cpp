// Index pages: the page size helper, positions and the cursor, entries,
// thresholds, split, the choice of a sibling, redistribution and merge; and
// the tree's shape: root split and root collapse keeping the root's address.

#include "vekBTreeTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace orvex {
namespace {

using btreetest::TTable;
using btreetest::TTreeUnderTest;

constexpr Integer PageSize = 4096;
constexpr Integer KeySize = 40;

// An entry of KeySize bytes whose key data starts with Marker.
std::vector<Byte> Entry(Cardinal Marker, Cardinal Address = 0, Cardinal Count = 0)
{
    std::vector<Byte> entry(KeySize, 0);
    WriteLE16(entry.data() + kioLength, KeySize);
    WriteLE32(entry.data() + kioCount, Count);
    WriteLE32(entry.data() + kioAddress, Address);
    WriteLE32(entry.data() + KeyInfoSize, Marker);
    return entry;
}

// A node of the test page and key sizes on IO.
class NodeTest : public ::testing::Test {
protected:
    // An open node holding entries with the markers First .. First+Count-1
    // (their addresses 1000 + marker), at a new page of IO.
    std::unique_ptr<TNode> MakeNode(bool Leaf, Cardinal First, int Count)
    {
        auto node = std::make_unique<TNode>();
        node->Open(nullptr, &FIO, PageSize);
        node->SetMaxKeySize(KeySize);
        node->SetAddress(FIO.AllocateNewAddress(PageSize, nullptr));
        node->SetLeaf(Leaf);
        for (int i = 0; i < Count; ++i)
            node->InsertKey(node->Size(), Entry(First + i, 1000 + First + i).data());
        return node;
    }
    // A node of Bytes bytes of entries.
    std::unique_ptr<TNode> NodeOfSize(Cardinal First, Integer Bytes)
    {
        return MakeNode(true, First, Bytes / KeySize);
    }

    static std::vector<Cardinal> Markers(const TNode& Node)
    {
        std::vector<Cardinal> markers;
        for (Integer pos = 0; pos < Node.Size(); pos += KeySize)
            markers.push_back(ReadLE32(Node.Keys() + pos + KeyInfoSize));
        return markers;
    }
    static std::vector<Cardinal> Range(Cardinal First, int Count)
    {
        std::vector<Cardinal> values(static_cast<std::size_t>(Count));
        for (int i = 0; i < Count; ++i)
            values[static_cast<std::size_t>(i)] = First + static_cast<Cardinal>(i);
        return values;
    }
    // The Next and Prior words of the page at Address, as stored.
    std::pair<Cardinal, Cardinal> Links(Cardinal Address)
    {
        Byte header[NodeHeaderSize];
        FIO.ReadBlockHeader(Address, NodeHeaderSize, header);
        return {ReadLE32(header + nhoNext), ReadLE32(header + nhoPrior)};
    }
    // Whether the key area is zero beyond Size.
    static bool ZeroTail(const TNode& Node)
    {
        const Byte* keys = Node.Keys();
        return std::all_of(keys + Node.Size(), keys + PageSize - NodeHeaderSize, [](Byte b) { return b == 0; });
    }

    TMemoryIOInterface FIO;
};

TEST(IndexPageSize, GrowsInSteps)
{
    const std::pair<Integer, Integer> cases[] = {{0, 4096}, {4079, 4096}, {4080, 6144}, {6127, 6144}, {6128, 8192}};
    for (const auto& [key, page] : cases)
        EXPECT_EQ(CalculateIndexPageSize(key), page) << "key size " << key;
}

TEST_F(NodeTest, FindKeyByPosition)
{
    auto node = MakeNode(true, 1, 3); // entries at 0, 40, 80; Size 120
    struct TCase {
        TKeySearchType Type;
        Integer Pos;
        Integer Expected;
    };
    const TCase cases[] = {
        {ksLE, 0, 0},    {ksLE, 39, 0},  {ksLE, 40, 40},  {ksLE, 119, 80}, {ksLE, 120, 80}, {ksLE, 121, -1},
        {ksEQ, 40, 40},  {ksEQ, 41, -1}, {ksEQ, 120, -1}, {ksGE, 0, 0},    {ksGE, 1, 40},   {ksGE, 81, 120},
        {ksGE, 120, 120}, {ksGE, -1, -1}, {ksLE, -1, -1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(node->FindKeyByPosition(c.Type, c.Pos), c.Expected)
            << "type " << c.Type << " position " << c.Pos;
    auto empty = MakeNode(true, 1, 0);
    EXPECT_EQ(empty->FindKeyByPosition(ksLE, 0), -1);
    EXPECT_EQ(empty->FindKeyByPosition(ksGE, 0), 0);
}

TEST_F(NodeTest, CursorMovesOverEntries)
{
    auto node = MakeNode(true, 1, 3);
    node->SetCursorToEnd(false);
    EXPECT_EQ(node->Cursor(), 80);
    EXPECT_EQ(node->GetKeyNo(), 3);
    EXPECT_EQ(node->GetRecordAddress(), 1003u);
    EXPECT_FALSE(node->NextRecord());
    EXPECT_EQ(node->Cursor(), 80);
    EXPECT_TRUE(node->PriorRecord());
    EXPECT_TRUE(node->PriorRecord());
    EXPECT_FALSE(node->PriorRecord());
    EXPECT_EQ(node->Cursor(), 0);
    EXPECT_EQ(node->GetKeyNo(), 1);

    // A cursor after the last entry is forced onto it.
    node->SetCursor(node->Size());
    EXPECT_VEK_ERROR_TEXT(8581, "Node cursor out of range", node->GetRecordAddress());
    std::vector<Byte> copy(KeySize);
    EXPECT_VEK_ERROR_TEXT(8581, "Cursor is out of range", node->CopyCurrentKey(copy.data()));
    node->ForceCursorToPhysicalKey();
    EXPECT_EQ(node->Cursor(), 80);
    node->CopyCurrentKey(copy.data());
    EXPECT_EQ(copy, Entry(3, 1003));

    auto empty = MakeNode(true, 1, 0);
    empty->SetCursorToEnd(false);
    EXPECT_EQ(empty->Cursor(), 0);
    EXPECT_VEK_ERROR_TEXT(8581, "Node is empty", empty->ForceCursorToPhysicalKey());
}

TEST_F(NodeTest, EntriesShiftAndLeaveZerosBehind)
{
    auto node = MakeNode(true, 10, 3);
    node->InsertKey(40, Entry(99).data());
    EXPECT_EQ(Markers(*node), (std::vector<Cardinal>{10, 99, 11, 12}));
    node->UpdateKey(80, Entry(55).data());
    EXPECT_EQ(Markers(*node), (std::vector<Cardinal>{10, 99, 55, 12}));
    node->DeleteKey(0);
    node->DeleteKey(80);
    EXPECT_EQ(Markers(*node), (std::vector<Cardinal>{99, 55}));
    EXPECT_EQ(node->Size(), 80);
    EXPECT_EQ(node->GetCount(), 2);
    EXPECT_TRUE(ZeroTail(*node));

    std::vector<Byte> read(KeySize);
    node->ReadKey(40, read.data());
    EXPECT_EQ(read, Entry(55));
    EXPECT_VEK_ERROR_TEXT(8581, "ReadPos is out of range: 80", node->ReadKey(80, read.data()));
    EXPECT_VEK_ERROR_TEXT(8581, "ReadPos is out of range: -1", node->ReadKey(-1, read.data()));
    EXPECT_VEK_ERROR_TEXT(8581, "Move block error - Start Pos - Delta are out of range",
                          node->MoveBlock(40, 41, false));
    // A damaged length word.
    WriteLE16(node->Keys() + 40, 0);
    EXPECT_VEK_ERROR_TEXT(8581, "Invalid key size in Delete key: 0", node->DeleteKey(40));
    WriteLE16(node->Keys() + 40, KeySize + 1);
    EXPECT_VEK_ERROR_TEXT(8581, "Invalid key size in Delete key: 41", node->DeleteKey(40));

    TNode closed;
    EXPECT_VEK_ERROR_TEXT(8581, "Node Buffer not allocated", closed.ReadNode(64));
}

TEST_F(NodeTest, RecordCountsOfLeavesAndInnerPages)
{
    auto leaf = MakeNode(true, 1, 4);
    EXPECT_EQ(leaf->GetRecordCount(-1), 4);
    EXPECT_EQ(leaf->GetRecordCount(0), 1);
    EXPECT_EQ(leaf->GetRecordCount(45), 2); // byte 45 lies in the second entry
    EXPECT_EQ(leaf->GetRecordCount(120), 4);
    EXPECT_EQ(leaf->GetRecordCount(4000), 4);

    auto inner = MakeNode(false, 1, 0);
    for (Cardinal count : {5u, 7u, 11u})
        inner->InsertKey(inner->Size(), Entry(count, 2000 + count, count).data());
    EXPECT_EQ(inner->GetRecordCount(-1), 23);
    EXPECT_EQ(inner->GetRecordCount(40), 12);
    EXPECT_EQ(MakeNode(false, 1, 0)->GetRecordCount(-1), 0);
}

TEST_F(NodeTest, Thresholds)
{
    // Full once another key would leave no room: Size + 16 + 40 >= 4096.
    auto node = NodeOfSize(1, 4000);
    EXPECT_FALSE(node->IsFull());
    EXPECT_TRUE(node->RoomForKey(80));
    EXPECT_FALSE(node->RoomForKey(81));
    node->InsertKey(node->Size(), Entry(0).data());
    EXPECT_TRUE(node->IsFull()); // 4040 + 16 + 40 = 4096

    // Too empty below half a page: Size + 16 < 2048.
    EXPECT_TRUE(NodeOfSize(1, 2000)->IsTooEmpty());
    EXPECT_FALSE(NodeOfSize(1, 2040)->IsTooEmpty());
    EXPECT_TRUE(MakeNode(true, 1, 0)->IsEmpty());
}

TEST_F(NodeTest, SplitMovesTheEntryHoldingTheMiddleByte)
{
    // Two entries of equal size: the middle byte (40) starts the second.
    auto two = MakeNode(false, 1, 2);
    std::vector<Byte> page(PageSize);
    two->SplitNode(page.data(), 77);
    EXPECT_EQ(Markers(*two), (std::vector<Cardinal>{1}));
    EXPECT_EQ(ReadLE32(page.data() + nhoSize), static_cast<Cardinal>(KeySize));
    EXPECT_EQ(ReadLE32(page.data() + NodeHeaderSize + KeyInfoSize), 2u);
    EXPECT_EQ(ReadLE32(page.data() + nhoLeaf), 0u);
    EXPECT_EQ(two->Next(), 0u); // inner pages are not linked

    // Five entries (200 bytes): byte 100 lies in the third.
    auto five = MakeNode(false, 1, 5);
    five->SplitNode(page.data(), 77);
    EXPECT_EQ(Markers(*five), (std::vector<Cardinal>{1, 2}));
    EXPECT_TRUE(ZeroTail(*five));
    EXPECT_EQ(ReadLE32(page.data() + nhoSize), 3u * KeySize);

    EXPECT_VEK_ERROR_TEXT(8581, "Node is empty", MakeNode(true, 1, 0)->SplitNode(page.data(), 77));
}

TEST_F(NodeTest, SplitLinksTheNewLeafAfterThisOne)
{
    auto left = MakeNode(true, 1, 6);
    auto after = MakeNode(true, 50, 2);
    left->SetNext(after->Address());
    after->SetPrior(left->Address());
    after->WriteNode();
    const Cardinal added = FIO.AllocateNewAddress(PageSize, nullptr);
    std::vector<Byte> page(PageSize);
    left->SplitNode(page.data(), added);
    EXPECT_EQ(left->Next(), added);
    EXPECT_EQ(ReadLE32(page.data() + nhoNext), after->Address());
    EXPECT_EQ(ReadLE32(page.data() + nhoPrior), left->Address());
    EXPECT_EQ(ReadLE32(page.data() + nhoLeaf), 1u);
    EXPECT_EQ(Links(after->Address()).second, added);
}

TEST_F(NodeTest, SiblingChoice)
{
    auto parent = [&](std::vector<Cardinal> Counts) {
        auto node = MakeNode(false, 1, 0);
        for (const Cardinal count : Counts)
            node->InsertKey(node->Size(), Entry(count, 1, count).data());
        return node;
    };
    EXPECT_EQ(parent({5, 9, 3})->GetRedistributeNode(40), 80); // the right one has fewer records
    EXPECT_EQ(parent({2, 9, 3})->GetRedistributeNode(40), 0);  // the left one has
    EXPECT_EQ(parent({4, 9, 4})->GetRedistributeNode(40), 80); // a tie takes the right one
    EXPECT_EQ(parent({4, 9, 4})->GetRedistributeNode(0), 40);  // only a right neighbour
    EXPECT_EQ(parent({4, 9, 4})->GetRedistributeNode(80), 40); // only a left neighbour
    EXPECT_EQ(parent({})->GetRedistributeNode(0), -1);
    EXPECT_EQ(MakeNode(true, 1, 3)->GetRedistributeNode(40), -1);
}

TEST_F(NodeTest, RedistributionAndMergeThresholds)
{
    struct TCase {
        Integer Left;
        Integer Right;
        Integer Result;
        Integer LeftAfter;
        Integer RightAfter;
    };
    const TCase cases[] = {
        {1000, 200, -1, 1000, 200},   // 1200 <= 4096 / 3: the caller merges
        {1000, 1400, 1, 1200, 1200},  // the right page's entries up to byte 200 move left
        {1000, 1440, 1, 1240, 1200},  // up to the first boundary at or after byte 220
        {1400, 1000, 1, 1200, 1200},  // the left page's entries from byte 1200 move right
        {1200, 1200, 0, 1200, 1200},  // equal sizes stay
    };
    for (const TCase& c : cases) {
        auto left = NodeOfSize(1, c.Left);
        auto right = NodeOfSize(1000, c.Right);
        std::vector<Cardinal> all = Markers(*left);
        const std::vector<Cardinal> rightMarkers = Markers(*right);
        all.insert(all.end(), rightMarkers.begin(), rightMarkers.end());
        SCOPED_TRACE(testing::Message() << c.Left << " and " << c.Right);
        EXPECT_EQ(left->RedistributeNodes(right.get()), c.Result);
        EXPECT_EQ(left->Size(), c.LeftAfter);
        EXPECT_EQ(right->Size(), c.RightAfter);
        std::vector<Cardinal> after = Markers(*left);
        const std::vector<Cardinal> rightAfter = Markers(*right);
        after.insert(after.end(), rightAfter.begin(), rightAfter.end());
        EXPECT_EQ(after, all) << "the order of the entries";
        EXPECT_TRUE(ZeroTail(*left));
        EXPECT_TRUE(ZeroTail(*right));
    }
    // Just above a third of the page the pages are redistributed.
    auto left = NodeOfSize(1, 1160);
    auto right = NodeOfSize(1000, 240);
    EXPECT_EQ(left->RedistributeNodes(right.get()), 1);
    EXPECT_EQ(left->Size(), 680);
    EXPECT_EQ(right->Size(), 720);
}

TEST_F(NodeTest, MergeAppendsOrPrependsAndRelinksLeaves)
{
    // Leaves before <-> a <-> b <-> after.
    auto before = MakeNode(true, 1, 1);
    auto a = MakeNode(true, 10, 3);
    auto b = MakeNode(true, 20, 2);
    auto after = MakeNode(true, 30, 1);
    auto link = [&](TNode& x, TNode& y) {
        x.SetNext(y.Address());
        y.SetPrior(x.Address());
    };
    link(*before, *a);
    link(*a, *b);
    link(*b, *after);
    for (TNode* node : {before.get(), a.get(), b.get(), after.get()})
        node->WriteNode();

    // a absorbs b from the right: a's Next and after's Prior skip b.
    a->MergeNodes(b.get(), true);
    EXPECT_EQ(Markers(*a), (std::vector<Cardinal>{10, 11, 12, 20, 21}));
    EXPECT_EQ(a->Next(), after->Address());
    EXPECT_EQ(Links(after->Address()).second, a->Address());

    // after absorbs a from the left: after's Prior and before's Next skip a.
    after->ReadNode(after->Address());
    after->MergeNodes(a.get(), false);
    EXPECT_EQ(Markers(*after), (std::vector<Cardinal>{10, 11, 12, 20, 21, 30}));
    EXPECT_EQ(after->Prior(), before->Address());
    EXPECT_EQ(Links(before->Address()).first, after->Address());

    // Inner pages have no links to mend.
    auto inner = MakeNode(false, 1, 2);
    auto other = MakeNode(false, 5, 2);
    inner->MergeNodes(other.get(), false);
    EXPECT_EQ(Markers(*inner), (std::vector<Cardinal>{5, 6, 1, 2}));
    EXPECT_EQ(inner->Next(), 0u);
    EXPECT_EQ(inner->Prior(), 0u);
}

// ------------------------------------------------------------ tree shape

// A tree over one Integer column and the hidden record ID, on small pages so
// that a few dozen keys make several levels.
class TreeShapeTest : public ::testing::Test {
protected:
    static constexpr Integer SmallPage = 256;

    TreeShapeTest()
    {
        FTable.IndexOn(FTree.Tree, {{"I"}, {""}});
        FTree.Create(&FIO, SmallPage);
    }

    void Insert(Integer Value)
    {
        btreetest::TRecord record = FTable.NewRecord(static_cast<Cardinal>(Value + 1));
        FTable.PutInteger(record, "I", Value);
        FTree.Tree.ConstructKeyBufFromRecBuf(record.data(), {});
        FTree.Tree.SetKeyBufAddr(static_cast<Cardinal>(1000 + Value));
        ASSERT_EQ(FTree.Tree.IdxInsert(), 0) << Value;
    }
    void Delete(Integer Value)
    {
        btreetest::TRecord record = FTable.NewRecord(static_cast<Cardinal>(Value + 1));
        FTable.PutInteger(record, "I", Value);
        FTree.Tree.ConstructKeyBufFromRecBuf(record.data(), {});
        ASSERT_EQ(FTree.Tree.IdxDelete(), 0) << Value;
    }
    void ExpectSound()
    {
        TStringList problems;
        EXPECT_TRUE(FTree.Tree.CheckOrder(&problems)) << problems.Text();
        EXPECT_EQ(FIO.BlockCount(),
                  static_cast<int>(btreetest::TreePages(FIO, SmallPage, FTree.Root, FTree.Depth).size()))
            << "every block of the interface belongs to the tree";
    }

    TTable FTable{{{"I", ftInteger}}};
    TMemoryIOInterface FIO;
    TTreeUnderTest FTree;
};

TEST_F(TreeShapeTest, RootSplitsAndCollapsesInPlace)
{
    const Cardinal root = FTree.Root;
    EXPECT_EQ(FTree.Depth, 1);
    // The root splits with the insert that leaves no room for another key.
    const Integer keySize = FTree.Tree.MaximumKeySize();
    const Integer fill = (SmallPage - NodeHeaderSize - keySize + keySize - 1) / keySize;
    for (Integer i = 0; i < fill - 1; ++i)
        Insert(i * 10);
    EXPECT_EQ(FTree.Depth, 1);
    Insert((fill - 1) * 10);
    EXPECT_EQ(FTree.Depth, 2);
    EXPECT_EQ(FTree.Root, root);
    EXPECT_EQ(FIO.BlockCount(), 3);
    ExpectSound();

    for (Integer i = 0; i < 300; ++i)
        Insert(i * 10 + 5);
    EXPECT_GE(FTree.Depth, 3);
    EXPECT_EQ(FTree.Root, root);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), fill + 300);
    ExpectSound();

    for (Integer i = 0; i < 300; ++i)
        Delete(i * 10 + 5);
    ExpectSound();
    for (Integer i = 0; i < fill; ++i)
        Delete(i * 10);
    EXPECT_EQ(FTree.Depth, 1);
    EXPECT_EQ(FTree.Root, root);
    EXPECT_EQ(FIO.BlockCount(), 1);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 0);
    EXPECT_EQ(FTree.Tree.IndexSearch(stGE), -1);
    ExpectSound();
}

TEST_F(TreeShapeTest, TwoLevelRootWithOneChildBecomesOneLevel)
{
    Integer count = 0;
    while (FTree.Depth < 2)
        Insert(count++);
    const Cardinal root = FTree.Root;
    // Deleting the highest keys: the two leaves are rebalanced while they
    // hold more than a third of a page together, and merged at the first
    // delete that leaves no more; the root's single entry then takes the
    // merged page's place.
    const Integer keySize = FTree.Tree.MaximumKeySize();
    while (count > 0) {
        Delete(--count);
        ExpectSound();
        if (count * keySize > SmallPage / 3)
            ASSERT_EQ(FTree.Depth, 2) << count << " keys left";
        else
            break;
    }
    EXPECT_EQ(FTree.Depth, 1);
    EXPECT_EQ(FTree.Root, root);
    EXPECT_EQ(FIO.BlockCount(), 1);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), count);
    EXPECT_EQ(FTree.Tree.GetAddrOfRecNo(count), static_cast<Cardinal>(1000 + count - 1));
}

TEST_F(TreeShapeTest, EmptyingAndDroppingGiveThePagesBack)
{
    for (Integer i = 0; i < 100; ++i)
        Insert(i);
    ASSERT_GT(FIO.BlockCount(), 10);
    FTree.Tree.EmptyTree(false);
    EXPECT_EQ(FIO.BlockCount(), 1);
    EXPECT_EQ(FTree.Depth, 1);
    EXPECT_TRUE(FTree.Tree.IsOpen());
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 0);
    Insert(5);
    EXPECT_EQ(FTree.Tree.GetRecordCount(true), 1);

    // An empty root is kept when emptying, and given back when dropping.
    Delete(5);
    const Cardinal root = FTree.Root;
    FTree.Tree.EmptyTree(false);
    EXPECT_EQ(FTree.Root, root);
    FTree.Tree.EmptyTree(true);
    EXPECT_EQ(FTree.Root, 0u);
    EXPECT_EQ(FTree.Depth, 0);
    EXPECT_EQ(FIO.BlockCount(), 0);
    EXPECT_EQ(FTree.Tree.IndexSearch(stEQ), -1);
}

TEST_F(TreeShapeTest, OpenChecksItsSetUp)
{
    TBTree tree;
    FTable.IndexOn(tree, {{"I"}, {""}});
    Cardinal root = 0;
    Integer depth = 0;
    tree.SetDBStringCompare(nullptr);
    tree.ConnectToIFace(&FIO, SmallPage, &root, &depth);
    EXPECT_VEK_ERROR_TEXT(8581, "No sort order function assigned", tree.Open());
    tree.SetDBStringCompare(DBANSICompareStrings);
    tree.ConnectToIFace(nullptr, SmallPage, &root, &depth);
    EXPECT_VEK_ERROR_TEXT(8581, "IO Interface is unassigned", tree.Open());
    // A page must hold three entries.
    const Integer keySize = tree.MaximumKeySize();
    tree.ConnectToIFace(&FIO, 16 + 3 * keySize - 1, &root, &depth);
    EXPECT_VEK_ERROR_TEXT(8581, "Key size too large for page size", tree.Open());
    tree.ConnectToIFace(&FIO, 16 + 3 * keySize, &root, &depth);
    tree.Open();
    EXPECT_TRUE(tree.IsOpen());
}

} // namespace
} // namespace orvex
