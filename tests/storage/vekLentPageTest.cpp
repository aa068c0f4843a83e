// Index pages lent by the page cache during inserts in a transaction are
// checked like copied ones: a damaged page read from the file ends the
// insert in the corruption error, and the inserts that work on lent pages
// leave the same tree as those that copy.

#include "vekDiskTestUtil.h"

#include "storage/vekByteOrder.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekInterfaceUnit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace orvex {
namespace {

constexpr Integer PageSize = 4096;

// A B-tree of integer keys over the index pages of a database file.
class TFileTree {
public:
    TFileTree(const std::string& Path, Cardinal& Root, Integer& Depth, bool Create)
    {
        if (Create) {
            TDiskMgr creator;
            creator.SetFileName(Path);
            creator.SetPageSize(PageSize);
            creator.CreateNewFile(true);
        }
        FDisk.SetFileName(Path);
        FDisk.SetPageSize(PageSize);
        FDisk.Open();
        FIO.SetDiskMgr(&FDisk);
        FIO.SetBlockSize(PageSize);
        FIO.SetUsage(IOUsageIndexPages);
        FIO.SetTableID(1);
        FIO.SetAccessFlags(VekAccessPaged);
        FIO.SetGlobalFirstEmptyOffset(TGlobalHdr::OfsIndexesFirstEmpty);
        FIO.Open();
        TInternalFieldItem* field = FFields.Add();
        field->SetFieldName("K");
        field->SetDataType(ftInteger);
        field->SetFieldIndex(0);
        FFields.SetDefaultOffsets();
        FFields.Open();
        TKeyFields* keys = FTree.KeyFields();
        keys->Add()->AssignFromField(FFields.FindField("K"));
        keys->SetDataOffset(1);
        FTree.SetMaximumKeySize(CalculateMaximumKeySize(keys) + 1);
        FTree.SetDBStringCompare(DBANSICompareStrings);
        FTree.ConnectToIFace(&FIO, PageSize, &Root, &Depth);
        if (Create)
            FTree.CreateTree();
        FTree.Open();
    }
    ~TFileTree()
    {
        FTree.Close();
        FIO.Close();
        FDisk.Close();
    }
    Integer Insert(std::int32_t Key)
    {
        std::vector<Byte> record(static_cast<std::size_t>(FFields.RecordSize()), 0);
        const TInternalFieldItem* field = FFields.FindField("K");
        record[static_cast<std::size_t>(field->NullFlagOffset())] = 1;
        WriteLE32(&record[static_cast<std::size_t>(field->DataOffset())], static_cast<Cardinal>(Key));
        FTree.ConstructKeyBufFromRecBuf(record.data(), {});
        FTree.SetKeyBufAddr(static_cast<Cardinal>(Key) + 1);
        return FTree.IdxInsert();
    }
    TDiskMgr& Disk() { return FDisk; }
    TBTree& Tree() { return FTree; }

private:
    TDiskMgr FDisk;
    TDiskIOInterface FIO;
    TInternalFields FFields;
    TBTree FTree;
};

TEST(LentIndexPages, InsertsInATransactionLeaveTheTreeThatCopiesLeave)
{
    disktest::TTempDir dir;
    Cardinal root = 0;
    Integer depth = 0;
    TFileTree tree(dir.File("lent.vek"), root, depth, true);
    std::mt19937 random(5);
    std::vector<std::int32_t> keys(5000);
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = static_cast<std::int32_t>(i * 3);
    std::shuffle(keys.begin(), keys.end(), random);
    // Half outside a transaction (copies), half inside one (lent pages),
    // then a rolled-back transaction that must leave no trace.
    for (std::size_t i = 0; i < keys.size() / 2; ++i)
        ASSERT_EQ(tree.Insert(keys[i]), 0);
    tree.Disk().DiskStartTransaction(false);
    for (std::size_t i = keys.size() / 2; i < keys.size(); ++i)
        ASSERT_EQ(tree.Insert(keys[i]), 0);
    ASSERT_EQ(tree.Insert(keys[0]), -1); // a duplicate found on lent pages
    tree.Disk().DiskCommit();
    const Cardinal committedRoot = root;
    const Integer committedDepth = depth;
    tree.Disk().DiskStartTransaction(false);
    for (int k = 1; k < 3000; k += 3)
        ASSERT_EQ(tree.Insert(k), 0);
    tree.Disk().DiskRollback();
    root = committedRoot;
    depth = committedDepth;
    tree.Tree().InvalidateInternalBuffers();
    TStringList problems;
    EXPECT_TRUE(tree.Tree().CheckOrder(&problems)) << problems.Text();
    EXPECT_EQ(tree.Tree().GetRecordCount(true), static_cast<Integer>(keys.size()));
}

TEST(LentIndexPages, ADamagedPageReadIntoTheCacheIsCheckedBeforeItIsLent)
{
    disktest::TTempDir dir;
    const std::string path = dir.File("damaged.vek");
    Cardinal root = 0;
    Integer depth = 0;
    {
        TFileTree tree(path, root, depth, true);
        for (std::int32_t key = 0; key < 3000; ++key)
            ASSERT_EQ(tree.Insert(key * 2 + 10), 0);
    }
    ASSERT_GE(depth, 2);
    // The first leaf: the root's first child (two levels here).
    std::vector<Byte> file = disktest::ReadFileBytes(path);
    const Cardinal leaf = ReadLE32(&file[root + NodeHeaderSize + kioAddress]);
    ASSERT_LT(leaf + PageSize, file.size() + 1);
    WriteLE16(&file[leaf + NodeHeaderSize + kioLength], 0x7FFF); // a damaged key length
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    TFileTree tree(path, root, depth, false);
    tree.Disk().DiskStartTransaction(false);
    // The damaged length is met either by the page check (8451) or by the
    // key routines that read it (8581 "KeySize out of range"): an engine
    // error either way, never a read past the page.
    const int code = disktest::VekErrorCode([&] { tree.Insert(1); });
    EXPECT_TRUE(code == 8451 || code == 8581) << code;
    tree.Disk().DiskRollback();
}

} // namespace
} // namespace orvex
