// The host layer's record-buffer ring over a real table: walks across
// buffer boundaries both ways, MoveBy, Resync, bookmarks, record numbers and
// deletes, with windows of 1 to 25 buffers, on disk and in memory.

#include "vekTableTestUtil.h"

#include "../host/DatasetTestTable.h"
#include "host/DBLinks.h"

#include <algorithm>

namespace orvex {
namespace {

using tabletests::TWhere;

constexpr int RecordTotal = 20;

std::string Name(int ID)
{
    return Format("N%.2d", {ID});
}

class TNavTable : public TVekTable {
public:
    using TVekTable::TVekTable;
    using TDataSet::BufferCount;
    using TDataSet::UpdateCursorPos;
};

class TableNavigation : public ::testing::TestWithParam<std::tuple<TWhere, int>> {
protected:
    TableNavigation()
    {
        const TWhere where = std::get<0>(GetParam());
        if (where == TWhere::Disk) {
            conntest::MakeDatabase(dir.File("nav.vek"));
            db.SetDataBaseName(dir.File("nav.vek"));
        } else {
            db.SetDataBaseName("MEMORY");
        }
        db.Open();
        table.SetDataBase(&db);
        table.SetTableName("Nav");
        table.SetMemory(where == TWhere::Memory);
        table.FieldDefs()->Add("ID", ftInteger, 0, true);
        table.FieldDefs()->Add("NAME", ftString, 10);
        table.IndexDefs()->Add("ixID", "ID", ixUnique);
        table.CreateTable();
        table.SetIndexName("ixID");
        table.Open();
        // Added in reverse: the index puts them in order.
        for (int id = RecordTotal; id >= 1; --id) {
            table.Append();
            table.FieldByName("ID")->SetAsInteger(id);
            table.FieldByName("NAME")->SetAsString(Name(id));
            table.Post();
        }
        source.SetDataSet(&table);
        link = std::make_unique<testing::TGridLink>(Rows());
        link->SetDataSource(&source);
        table.First();
    }
    ~TableNavigation() override
    {
        link.reset();
        table.Close();
    }

    int Rows() const { return std::get<1>(GetParam()); }
    int Id() { return table.FieldByName("ID")->AsInteger(); }

    void ExpectWindowAroundCurrent()
    {
        const std::vector<std::string> shown = link->Rows("NAME");
        ASSERT_EQ(static_cast<int>(shown.size()), std::min(Rows(), table.RecordCount()));
        ASSERT_GE(link->ActiveRecord(), 0);
        ASSERT_LT(link->ActiveRecord(), static_cast<int>(shown.size()));
        EXPECT_EQ(shown[static_cast<std::size_t>(link->ActiveRecord())], Name(Id()));
        const int first = Id() - link->ActiveRecord();
        for (std::size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(shown[i], Name(first + static_cast<int>(i)));
    }

    conntest::TTempDir dir;
    TVekDataBase db{nullptr};
    TNavTable table{nullptr};
    TDataSource source{nullptr};
    std::unique_ptr<testing::TGridLink> link;
};

TEST_P(TableNavigation, WalksForwardAndBackAcrossBufferBoundaries)
{
    EXPECT_EQ(table.BufferCount(), Rows());
    table.First();
    EXPECT_TRUE(table.Bof());
    for (int id = 1; id <= RecordTotal; ++id) {
        ASSERT_FALSE(table.Eof());
        EXPECT_EQ(Id(), id);
        ExpectWindowAroundCurrent();
        table.Next();
    }
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(Id(), RecordTotal);
    for (int id = RecordTotal; id >= 1; --id) {
        EXPECT_EQ(Id(), id);
        ExpectWindowAroundCurrent();
        table.Prior();
    }
    EXPECT_TRUE(table.Bof());
    EXPECT_EQ(Id(), 1);
    table.Last();
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(Id(), RecordTotal);
    table.Prior();
    EXPECT_EQ(Id(), RecordTotal - 1);
}

TEST_P(TableNavigation, MoveByResyncAndBookmarks)
{
    EXPECT_EQ(table.MoveBy(7), 7);
    EXPECT_EQ(Id(), 8);
    EXPECT_EQ(table.MoveBy(-3), -3);
    EXPECT_EQ(Id(), 5);
    ExpectWindowAroundCurrent();
    EXPECT_EQ(table.MoveBy(100), RecordTotal - 5);
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(table.MoveBy(-100), -(RecordTotal - 1));
    EXPECT_TRUE(table.Bof());

    table.MoveBy(11);
    const int active = link->ActiveRecord();
    table.UpdateCursorPos();
    table.Resync(0);
    EXPECT_EQ(Id(), 12);
    EXPECT_EQ(link->ActiveRecord(), active);
    ExpectWindowAroundCurrent();
    table.Refresh();
    EXPECT_EQ(Id(), 12);
    ExpectWindowAroundCurrent();

    table.First();
    table.MoveBy(6);
    const TBookmark mark = table.GetBookmark();
    table.Last();
    table.GotoBookmark(mark);
    EXPECT_EQ(Id(), 7);
    ExpectWindowAroundCurrent();
    EXPECT_TRUE(table.BookmarkValid(mark));
    EXPECT_EQ(table.RecNo(), 7);
    table.SetRecNo(15);
    EXPECT_EQ(Id(), 15);
    EXPECT_EQ(table.RecordCount(), RecordTotal);
}

TEST_P(TableNavigation, DeletingMovesToTheNeighbour)
{
    table.MoveBy(9);
    table.Delete();
    EXPECT_EQ(Id(), 11);
    const std::vector<std::string> shown = link->Rows("NAME");
    EXPECT_EQ(shown[static_cast<std::size_t>(link->ActiveRecord())], "N11");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "N10"), 0);
    table.Last();
    table.Delete();
    EXPECT_EQ(Id(), RecordTotal - 1);
    EXPECT_EQ(table.RecordCount(), RecordTotal - 2);
}

INSTANTIATE_TEST_SUITE_P(Buffers, TableNavigation,
                         ::testing::Combine(::testing::Values(TWhere::Disk, TWhere::Memory),
                                            ::testing::Values(1, 2, 3, 7, 25)),
                         [](const ::testing::TestParamInfo<std::tuple<TWhere, int>>& Info) {
                             return std::string(std::get<0>(Info.param) == TWhere::Disk ? "Disk" : "Memory") +
                                    std::to_string(std::get<1>(Info.param));
                         });

} // namespace
} // namespace orvex
