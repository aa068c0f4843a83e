// The record-buffer ring of TDataSet: navigation in both directions across
// buffer boundaries, Resync, bookmarks, record numbers, and what data links
// see of the buffers.

#include "ClassesTestUtil.h"
#include "DatasetTestTable.h"
#include "PinnedFormatSettings.h"

#include <memory>

namespace orvex::testing {
namespace {

constexpr int RecordTotal = 20;

std::string Name(int id)
{
    return Format("N%.2d", {id});
}

class DatasetNavigation : public PinnedFormatSettings {
protected:
    void SetUp() override
    {
        PinnedFormatSettings::SetUp();
        Table = std::make_unique<TMemTable>();
        Table->FieldDefs()->Add("ID", ftInteger, 0, true);
        Table->FieldDefs()->Add("NAME", ftString, 10);
        Table->Open();
        for (int id = 1; id <= RecordTotal; ++id)
            Table->AddRecord({id, Name(id)});
        Table->First();
    }

    // Shows the table through a link of `rows` buffers.
    TGridLink* Grid(int rows)
    {
        Source = std::make_unique<TDataSource>(nullptr);
        Source->SetDataSet(Table.get());
        Link = std::make_unique<TGridLink>(rows);
        Link->SetDataSource(Source.get());
        return Link.get();
    }

    int Id() { return Table->FieldByName("ID")->AsInteger(); }

    // The records the link shows: consecutive, holding the current one.
    void ExpectWindowAroundCurrent(int rows)
    {
        const std::vector<std::string> shown = Link->Rows("NAME");
        ASSERT_EQ(static_cast<int>(shown.size()), std::min(rows, Table->RecordCount()));
        ASSERT_GE(Link->ActiveRecord(), 0);
        ASSERT_LT(Link->ActiveRecord(), static_cast<int>(shown.size()));
        EXPECT_EQ(shown[static_cast<std::size_t>(Link->ActiveRecord())], Name(Id()));
        const int first = Id() - Link->ActiveRecord();
        for (std::size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(shown[i], Name(first + static_cast<int>(i)));
    }

    std::unique_ptr<TMemTable> Table;
    std::unique_ptr<TDataSource> Source;
    std::unique_ptr<TGridLink> Link;
};

class DatasetNavigationBuffers : public DatasetNavigation, public ::testing::WithParamInterface<int> {};

TEST_P(DatasetNavigationBuffers, WalksForwardAndBackAcrossBufferBoundaries)
{
    const int rows = GetParam();
    Grid(rows);
    EXPECT_EQ(Table->BufferCount(), rows);

    Table->First();
    EXPECT_TRUE(Table->Bof());
    for (int id = 1; id <= RecordTotal; ++id) {
        ASSERT_FALSE(Table->Eof());
        EXPECT_EQ(Id(), id);
        ExpectWindowAroundCurrent(rows);
        Table->Next();
        EXPECT_FALSE(Table->Bof());
    }
    EXPECT_TRUE(Table->Eof());
    EXPECT_EQ(Id(), RecordTotal); // Next past the end stays on the last record

    for (int id = RecordTotal; id >= 1; --id) {
        EXPECT_EQ(Id(), id);
        ExpectWindowAroundCurrent(rows);
        Table->Prior();
    }
    EXPECT_TRUE(Table->Bof());
    EXPECT_EQ(Id(), 1);

    Table->Last();
    EXPECT_TRUE(Table->Eof());
    EXPECT_EQ(Id(), RecordTotal);
    ExpectWindowAroundCurrent(rows);
    Table->Prior();
    EXPECT_EQ(Id(), RecordTotal - 1);
    EXPECT_FALSE(Table->Eof());
}

TEST_P(DatasetNavigationBuffers, MoveByCountsTheRecordsItPassed)
{
    const int rows = GetParam();
    Grid(rows);
    EXPECT_EQ(Table->MoveBy(7), 7);
    EXPECT_EQ(Id(), 8);
    EXPECT_EQ(Table->MoveBy(-3), -3);
    EXPECT_EQ(Id(), 5);
    ExpectWindowAroundCurrent(rows);
    EXPECT_EQ(Table->MoveBy(100), RecordTotal - 5);
    EXPECT_TRUE(Table->Eof());
    EXPECT_EQ(Table->MoveBy(1), 0);
    EXPECT_EQ(Table->MoveBy(-100), -(RecordTotal - 1));
    EXPECT_TRUE(Table->Bof());
    EXPECT_EQ(Id(), 1);
}

TEST_P(DatasetNavigationBuffers, ResyncKeepsTheCursorOnItsRecord)
{
    const int rows = GetParam();
    Grid(rows);
    Table->MoveBy(11);
    const int activeBefore = Link->ActiveRecord();
    // Resync rebuilds the buffers around the record the cursor stands on;
    // the cursor is brought back to the active record first.
    Table->UpdateCursorPos();
    Table->Resync(0);
    EXPECT_EQ(Id(), 12);
    EXPECT_EQ(Link->ActiveRecord(), activeBefore);
    ExpectWindowAroundCurrent(rows);

    Table->UpdateCursorPos();
    Table->Resync(rmCenter);
    EXPECT_EQ(Id(), 12);
    EXPECT_EQ(Link->ActiveRecord(), std::min((rows - 1) / 2, 11)); // 11 records before it
    ExpectWindowAroundCurrent(rows);

    // Refresh does both.
    Table->MoveBy(-4);
    const int row = Link->ActiveRecord();
    Table->Refresh();
    EXPECT_EQ(Id(), 8);
    EXPECT_EQ(Link->ActiveRecord(), row);
    ExpectWindowAroundCurrent(rows);
}

TEST_P(DatasetNavigationBuffers, BookmarksReturnToTheirRecord)
{
    const int rows = GetParam();
    Grid(rows);
    Table->MoveBy(6);
    const TBookmark mark = Table->GetBookmark();
    ASSERT_EQ(static_cast<int>(mark.size()), Table->BookmarkSize());
    Table->Last();
    const TBookmark last = Table->Bookmark();
    Table->GotoBookmark(mark);
    EXPECT_EQ(Id(), 7);
    EXPECT_EQ(Link->ActiveRecord(), std::min(6, (rows - 1) / 2)); // centred when possible
    ExpectWindowAroundCurrent(rows);
    EXPECT_TRUE(Table->BookmarkValid(mark));
    EXPECT_LT(Table->CompareBookmarks(mark, last), 0);
    EXPECT_EQ(Table->CompareBookmarks(mark, mark), 0);
    Table->SetBookmark(last);
    EXPECT_EQ(Id(), RecordTotal);
}

INSTANTIATE_TEST_SUITE_P(BufferCounts, DatasetNavigationBuffers, ::testing::Values(1, 2, 3, 7, 25));

TEST_F(DatasetNavigation, AForwardWalkNeverRepositionsTheCursor)
{
    for (int rows : {1, 4}) {
        Grid(rows);
        Table->First();
        Table->SetToRecordCount = 0;
        while (!Table->Eof())
            Table->Next();
        EXPECT_EQ(Table->SetToRecordCount, 0) << rows;
    }
}

TEST_F(DatasetNavigation, LinksHearHowFarTheirWindowScrolled)
{
    Grid(3);
    Link->Heard.clear();
    Table->Next(); // row 2 of 3: inside the window
    Table->Next(); // row 3 of 3
    Table->Next(); // past the window: the ring shifts by one
    Table->Prior();
    Table->Prior();
    Table->Prior(); // above the window
    const std::vector<std::string> expected = {"Scrolled0", "Scrolled0", "Scrolled1",
                                               "Scrolled0", "Scrolled0", "Scrolled-1"};
    EXPECT_EQ(Link->Heard, expected);
    EXPECT_EQ(Id(), 1);
}

TEST_F(DatasetNavigation, ABufferCountChangeKeepsTheActiveRecord)
{
    Grid(8);
    Table->MoveBy(9);
    EXPECT_EQ(Id(), 10);
    Link->SetBufferCount(2);
    EXPECT_EQ(Table->BufferCount(), 2);
    EXPECT_EQ(Id(), 10);
    ExpectWindowAroundCurrent(2);
    Link->SetBufferCount(6);
    EXPECT_EQ(Id(), 10);
    ExpectWindowAroundCurrent(6);
    // Without links the dataset keeps one buffer.
    Link->SetDataSource(nullptr);
    EXPECT_EQ(Table->BufferCount(), 1);
    EXPECT_EQ(Id(), 10);
}

TEST_F(DatasetNavigation, RecordNumbersAndCounts)
{
    EXPECT_EQ(Table->RecordCount(), RecordTotal);
    Table->MoveBy(4);
    EXPECT_EQ(Table->RecNo(), 5);
    Table->SetRecNo(15);
    EXPECT_EQ(Id(), 15);
    EXPECT_EQ(Table->RecNo(), 15);
}

TEST_F(DatasetNavigation, ResyncFindsTheNeighbourWhenTheRecordIsGone)
{
    Grid(4);
    Table->MoveBy(9); // on 10
    const int row = Link->ActiveRecord();
    Table->Delete(); // the cursor moves on to 11, in the same row of the window
    EXPECT_EQ(Id(), 11);
    EXPECT_EQ(Link->ActiveRecord(), row);
    EXPECT_EQ(Link->Rows("NAME"), (std::vector<std::string>{"N07", "N08", "N09", "N11"}));
    Table->Last();
    Table->Delete(); // the last record: the cursor goes back to the new last
    EXPECT_EQ(Id(), RecordTotal - 1);
    EXPECT_TRUE(Table->Eof() || !Table->Bof());
}

TEST_F(DatasetNavigation, ExactResyncOfAVanishedRecordFails)
{
    Table->SetName("Orders");
    const TBookmark mark = Table->GetBookmark();
    Table->Delete();
    EXPECT_FALSE(Table->BookmarkValid(mark));
    EXPECT_RAISES(Table->GotoBookmark(mark), EDatabaseError, "Orders: Record not found");
    // An absent bookmark leaves the cursor where it is.
    Table->Last();
    Table->GotoBookmark(TBookmark());
    EXPECT_EQ(Id(), RecordTotal);
    EXPECT_EQ(Table->CompareBookmarks(TBookmark(), TBookmark()), 0);
    EXPECT_EQ(Table->CompareBookmarks(mark, TBookmark()), 1);
}

TEST_F(DatasetNavigation, AnEmptyDatasetIsAtBothEnds)
{
    TMemTable empty;
    empty.FieldDefs()->Add("ID", ftInteger);
    EventLog log;
    log.Attach(&empty);
    empty.Open();
    EXPECT_EQ(log.Text(), "BeforeOpen,AfterOpen"); // no AfterScroll without a record
    EXPECT_TRUE(empty.Bof());
    EXPECT_TRUE(empty.Eof());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty.RecordCount(), 0);
    EXPECT_TRUE(empty.GetBookmark().empty());
    EXPECT_EQ(empty.MoveBy(1), 0);
    EXPECT_TRUE(empty.FieldByName("ID")->IsNull());
}

TEST_F(DatasetNavigation, OpenAndCloseRunTheirEventsInOrder)
{
    EventLog log;
    log.Attach(Table.get());
    Table->Close();
    EXPECT_FALSE(Table->Active());
    EXPECT_EQ(Table->FieldCount(), 0); // default fields go with the cursor
    Table->Open();
    EXPECT_EQ(log.Text(), "BeforeClose,AfterClose,BeforeOpen,AfterOpen,AfterScroll");
    EXPECT_EQ(Id(), 1);
    EXPECT_EQ(Table->RecordCount(), RecordTotal);
}

TEST_F(DatasetNavigation, ScrollEventsSurroundEveryMove)
{
    EventLog log;
    log.Attach(Table.get());
    Table->Next();
    Table->Last();
    Table->Next(); // at the end: BeforeScroll only
    Table->First();
    EXPECT_EQ(log.Text(), "BeforeScroll,AfterScroll,BeforeScroll,AfterScroll,BeforeScroll,"
                          "BeforeScroll,AfterScroll");
}

} // namespace
} // namespace orvex::testing
