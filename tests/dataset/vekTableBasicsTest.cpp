// The table component on disk and in memory: creating, opening, writing,
// moving in index order, keys, ranges, locating, bookmarks, record numbers.

#include "vekTableTestUtil.h"

#include "storage/vekByteOrder.h"

namespace orvex {
namespace {

using tabletests::TTableFixture;
using tabletests::TWhere;

class TableBasics : public ::testing::TestWithParam<TWhere> {
protected:
    TableBasics() : fx(GetParam()) {}

    // Ten people; IDs 1..10 added in a scrambled order.
    TVekTable* People()
    {
        TVekTable* t = fx.CreatePeople();
        t->Open();
        const int ids[] = {5, 2, 9, 1, 7, 3, 10, 6, 4, 8};
        const char* names[] = {"eve", "Bob", "ivy", "amy", "Gus", "cat", "jon", "fay", "Dan", "hal"};
        const char* cities[] = {"Rome", "Oslo", "Rome", "Oslo", "Lima", "Rome", "Oslo", "Lima", "Rome", "Oslo"};
        for (int i = 0; i < 10; ++i)
            TTableFixture::AddPerson(t, ids[i], names[i], 20 + ids[i] % 4, cities[i], ids[i] * 1.5);
        return t;
    }

    TTableFixture fx;
};

TEST_P(TableBasics, RecordsComeBackInTheOrderOfEachIndexBothWays)
{
    TVekTable* t = People();
    EXPECT_EQ(t->RecordCount(), 10);
    using V = std::vector<std::string>;
    t->SetIndexName("ixID");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(TTableFixture::ColumnBackwards(t, "ID"), (V{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    t->SetIndexName("ixName");
    EXPECT_EQ(TTableFixture::Column(t, "Name"),
              (V{"amy", "Bob", "cat", "Dan", "eve", "fay", "Gus", "hal", "ivy", "jon"}));
    t->SetIndexName("ixScore");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"10", "9", "8", "7", "6", "5", "4", "3", "2", "1"}));
    t->SetIndexName("ixCityAge");
    EXPECT_EQ(TTableFixture::Column(t, "City"),
              (V{"Lima", "Lima", "Oslo", "Oslo", "Oslo", "Oslo", "Rome", "Rome", "Rome", "Rome"}));
    EXPECT_EQ(TTableFixture::ColumnBackwards(t, "ID"), TTableFixture::Column(t, "ID"));
}

TEST_P(TableBasics, RecordNumbersCountsAndBookmarks)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    t->First();
    EXPECT_EQ(t->RecNo(), 1);
    t->MoveBy(4);
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 5);
    EXPECT_EQ(t->RecNo(), 5);
    const TBookmark mark = t->GetBookmark();
    t->SetRecNo(9);
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 9);
    t->GotoBookmark(mark);
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 5);
    EXPECT_TRUE(t->BookmarkValid(mark));
    EXPECT_EQ(t->CompareBookmarks(TBookmark(), TBookmark()), 0);
    EXPECT_EQ(t->CompareBookmarks(mark, TBookmark()), 1);
    EXPECT_EQ(t->CompareBookmarks(TBookmark(), mark), 1);
    EXPECT_EQ(t->CompareBookmarks(mark, mark), 0);
    // A deleted record's bookmark is refused.
    t->Delete();
    EXPECT_FALSE(t->BookmarkValid(mark));
    EXPECT_VEK_ERROR(10021, t->GotoBookmark(mark));
    EXPECT_EQ(t->RecordCount(), 9);
}

TEST_P(TableBasics, FindKeyFindNearestAndPartialKeys)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    EXPECT_TRUE(t->FindKey({7}));
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "Gus");
    EXPECT_FALSE(t->FindKey({70}));
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "Gus");
    t->SetIndexName("ixName");
    EXPECT_TRUE(t->FindKey({"DAN"}));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 4);
    t->FindNearest({"c"});
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "cat");
    // Fewer values than index fields: the first of the equal leading keys.
    t->SetIndexName("ixCityAge");
    EXPECT_TRUE(t->FindKey({"Oslo"}));
    EXPECT_EQ(t->FieldByName("City")->AsString(), "Oslo");
    t->Prior();
    EXPECT_EQ(t->FieldByName("City")->AsString(), "Lima");
    EXPECT_VEK_ERROR(9985, {
        t->SetKey();
        t->SetKeyFieldCount(3);
    });
    t->CancelKey();
}

TEST_P(TableBasics, RangesLimitEveryMove)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    t->SetRange({3}, {6});
    using V = std::vector<std::string>;
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "4", "5", "6"}));
    EXPECT_EQ(TTableFixture::ColumnBackwards(t, "ID"), (V{"3", "4", "5", "6"}));
    EXPECT_EQ(t->RecordCount(), 4);
    t->Last();
    t->Next();
    EXPECT_TRUE(t->Eof());
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 6);
    t->First();
    EXPECT_EQ(t->RecNo(), 1);
    // An empty range.
    t->SetRange({6}, {3});
    EXPECT_TRUE(t->IsEmpty());
    EXPECT_EQ(t->RecordCount(), 0);
    t->CancelRange();
    EXPECT_EQ(t->RecordCount(), 10);
    // A range over the leading field of a compound index.
    t->SetIndexName("ixCityAge");
    t->SetRange({"Oslo"}, {"Oslo"});
    EXPECT_EQ(t->RecordCount(), 4);
    for (const std::string& city : TTableFixture::Column(t, "City"))
        EXPECT_EQ(city, "Oslo");
}

TEST_P(TableBasics, LocateAndLookup)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    EXPECT_TRUE(t->Locate("Name", Variant("GUS"), loCaseInsensitive));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 7);
    EXPECT_FALSE(t->Locate("Name", Variant("GUS"), 0));
    EXPECT_TRUE(t->Locate("City;Age", VarArrayOf({Variant("Rome"), Variant(21)}), 0));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 5);
    EXPECT_TRUE(t->Locate("Name", Variant("i"), loPartialKey));
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "ivy");
    EXPECT_EQ(t->Lookup("ID", Variant(3), "Name").AsString(), "cat");
    EXPECT_TRUE(t->Lookup("ID", Variant(33), "Name").IsNull());
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "ivy");
    EXPECT_VEK_ERROR(10000, t->Locate("Photo", Variant("x"), 0));
}

TEST_P(TableBasics, EditsAndDeletesKeepEveryIndex)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    ASSERT_TRUE(t->FindKey({4}));
    t->Edit();
    t->FieldByName("ID")->SetAsInteger(40);
    t->FieldByName("Name")->SetAsString("zed");
    t->Post();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 40);
    t->Last();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 40);
    t->SetIndexName("ixName");
    t->Last();
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "zed");
    EXPECT_FALSE(t->FindKey({"Dan"}));
    // A duplicate unique key is refused and nothing is written.
    t->Append();
    t->FieldByName("ID")->SetAsInteger(40);
    t->FieldByName("Name")->SetAsString("dup");
    EXPECT_VEK_ERROR_TEXT(9729, "ixID", t->Post());
    t->Cancel();
    EXPECT_EQ(t->RecordCount(), 10);
    EXPECT_FALSE(t->FindKey({"dup"}));
    // Deleting the last record leaves the cursor on the new last one.
    t->SetIndexName("ixID");
    t->Last();
    t->Delete();
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 10);
    EXPECT_EQ(t->RecordCount(), 9);
}

TEST_P(TableBasics, BlobsAreWrittenAtPostAndGoneWithTheRecord)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    ASSERT_TRUE(t->FindKey({2}));
    t->Edit();
    const std::string big(5000, 'q');
    t->FieldByName("Notes")->SetAsString("hello notes");
    t->FieldByName("Photo")->SetAsString(big);
    t->Post();
    t->First();
    ASSERT_TRUE(t->FindKey({2}));
    EXPECT_EQ(t->FieldByName("Notes")->AsString(), "hello notes");
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), big);
    // Clearing a blob deletes it at post and leaves the field null.
    t->Edit();
    t->FieldByName("Notes")->Clear();
    t->Post();
    EXPECT_TRUE(t->FieldByName("Notes")->IsNull());
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), big);
    // A read-write stream saves its edits.
    t->Edit();
    {
        std::unique_ptr<TStream> s(t->CreateBlobStream(t->FieldByName("Photo"), bmReadWrite));
        s->Seek(0, soEnd);
        s->WriteBuffer("!!", 2);
    }
    t->Post();
    EXPECT_EQ(t->FieldByName("Photo")->AsString(), big + "!!");
}

TEST_P(TableBasics, ReopeningShowsWhatWasWritten)
{
    TVekTable* t = People();
    t->Close();
    t->SetIndexName("ixName");
    t->Open();
    EXPECT_EQ(t->RecordCount(), 10);
    EXPECT_EQ(t->IndexName(), "ixName");
    t->First();
    EXPECT_EQ(t->FieldByName("Name")->AsString(), "amy");
    EXPECT_DOUBLE_EQ(t->FieldByName("Score")->AsFloat(), 1.5);
    EXPECT_EQ(t->IndexDefs()->Count(), 4);
}

TEST_P(TableBasics, RecordListsFollowTheIndexAndTheRange)
{
    TVekTable* t = People();
    t->SetIndexName("ixID");
    TList all;
    t->LoadCompleteListOfRecords(&all);
    EXPECT_EQ(all.Count(), 10);
    t->SetRange({4}, {7});
    TCompoundList ranged;
    EXPECT_EQ(t->InternalPrepareMasterRecordList(&ranged), 4);
    ASSERT_EQ(ranged.Count(), 4);
    t->First();
    for (int i = 0; i < 4; ++i, t->Next()) {
        EXPECT_EQ(reinterpret_cast<std::intptr_t>(ranged.List2()->Get(i)), 4 + i);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ranged.Items(i)), t->DatasetGetRecAddr());
    }
    TStringList lists;
    t->GetIndexFieldNamesList(&lists);
    EXPECT_EQ(lists.CommaText(), "ID,Name,Score,City;Age");
}

TEST_P(TableBasics, HashListsHoldTheValuesOfAField)
{
    TVekTable* t = People();
    for (const char* fieldName : {"City", "Age", "Name"}) {
        TVekBaseHash hash(64, 32, 32);
        hash.SourceFieldName = fieldName;
        t->LoadHashListOfRecords(&hash, nullptr, false);
        EXPECT_EQ(hash.Count(), 10) << fieldName;
    }
    TVekBaseHash cities(64, 32, 32);
    cities.SourceFieldName = "City";
    t->LoadHashListOfRecords(&cities, nullptr, false);
    TList lima;
    cities.GetPossibleMatchList("Lima", 4, &lima);
    EXPECT_EQ(lima.Count(), 2);
    // A filter: its records' addresses, and their values.
    t->SetOnFilterRecord([](TDataSet* D, bool& Accept) { Accept = D->FieldByName("City")->AsString() == "Rome"; });
    t->SetFiltered(true);
    TVekBaseHash rome(64, 32, 32);
    rome.SourceFieldName = "Name";
    TList addresses;
    t->LoadHashListOfRecords(&rome, &addresses, false);
    EXPECT_EQ(addresses.Count(), 4);
    EXPECT_EQ(rome.Count(), 4);
}

INSTANTIATE_TEST_SUITE_P(Where, TableBasics, ::testing::Values(TWhere::Disk, TWhere::Memory), tabletests::WhereName);

} // namespace
} // namespace orvex
