// Filters by expression on the table component, on disk and in memory:
// moving both ways inside the filter, counts and record numbers, locating
// and finding nearest, with a range and with a record event, after writes
// of this table and of another connection, and the filter's errors.

#include "vekTableTestUtil.h"

#include "dataset/vekDataSetFilter.h"

#include <functional>

namespace orvex {
namespace {

using tabletests::TTableFixture;
using tabletests::TWhere;
using V = std::vector<std::string>;

class TableFilter : public ::testing::TestWithParam<TWhere> {
protected:
    TableFilter() : fx(GetParam()) {}

    // Ten people, IDs 1..10 added in a scrambled order; ages 20..23, some
    // Null; cities Rome, Oslo, Lima.
    TVekTable* People()
    {
        TVekTable* t = fx.CreatePeople();
        t->Open();
        const int ids[] = {5, 2, 9, 1, 7, 3, 10, 6, 4, 8};
        const char* names[] = {"eve", "Bob", "ivy", "amy", "Gus", "cat", "jon", "fay", "Dan", "hal"};
        const char* cities[] = {"Rome", "Oslo", "Rome", "Oslo", "Lima", "Rome", "Oslo", "Lima", "Rome", "Oslo"};
        for (int i = 0; i < 10; ++i) {
            const Variant age = ids[i] == 4 ? Variant::Null() : Variant(20 + ids[i] % 4);
            TTableFixture::AddPerson(t, ids[i], names[i], age, cities[i], ids[i] * 1.5);
        }
        t->SetIndexName("ixID");
        return t;
    }

    static V RecNos(TVekTable* t)
    {
        V values;
        for (t->First(); !t->Eof(); t->Next())
            values.push_back(std::to_string(t->RecNo()));
        return values;
    }

    TTableFixture fx;
};

TEST_P(TableFilter, MovesBothWaysInsideTheFilterWithCountsAndRecordNumbers)
{
    TVekTable* t = People();
    // Ages by ID: 1:21 2:22 3:23 4:null 5:21 6:22 7:23 8:20 9:21 10:22.
    t->SetFilter("Age > 21 AND City <> 'Lima'");
    t->SetFiltered(true);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"2", "3", "10"}));
    EXPECT_EQ(TTableFixture::ColumnBackwards(t, "ID"), (V{"2", "3", "10"}));
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_EQ(RecNos(t), (V{"1", "2", "3"}));
    t->SetRecNo(2);
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(t->MoveBy(1), 1);
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 10);
    // Prior from the first record of the filter stops there.
    t->First();
    t->Prior();
    EXPECT_TRUE(t->Bof());
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 2);

    // Another index: the filter follows its order.
    t->SetIndexName("ixName");
    EXPECT_EQ(TTableFixture::Column(t, "Name"), (V{"Bob", "cat", "jon"}));
    t->SetIndexName("ixScore");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"10", "3", "2"}));

    t->SetFiltered(false);
    EXPECT_EQ(t->RecordCount(), 10);
}

TEST_P(TableFilter, FilterTextsSelectWhatTheirConditionSays)
{
    TVekTable* t = People();
    struct Case {
        const char* Text;
        V Ids;
    };
    const Case cases[] = {
        {"", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}},
        {"City = 'Rome'", {"3", "4", "5", "9"}},
        {"Age IS NULL", {"4"}},
        {"Age < 21", {"4", "8"}}, // a NULL ranks below every value in table filters
        {"Age BETWEEN 21 AND 22 AND ID > 5", {"6", "9", "10"}},
        {"Name LIKE '%a%'", {"1", "3", "4", "6", "8"}},
        {"ID IN (2, 4, 11)", {"2", "4"}},
        {"Score * 2 >= 27", {"9", "10"}},
        {"NOT (City = 'Oslo' OR City = 'Rome')", {"6", "7"}},
        {"ID > 100", {}},
    };
    t->SetFiltered(true);
    for (const Case& c : cases) {
        t->SetFilter(c.Text);
        EXPECT_EQ(TTableFixture::Column(t, "ID"), c.Ids) << c.Text;
        EXPECT_EQ(t->RecordCount(), static_cast<int>(c.Ids.size())) << c.Text;
    }
    // No match: first and last fail, the count is 0.
    t->SetFilter("ID > 100");
    t->First();
    EXPECT_TRUE(t->Eof());
    EXPECT_TRUE(t->IsEmpty());
    t->Last();
    EXPECT_TRUE(t->Bof());
    // Case-insensitive filter option.
    t->SetFilter("Name = 'BOB'");
    EXPECT_EQ(t->RecordCount(), 0);
    t->SetFilterOptions(foCaseInsensitive);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"2"}));
}

TEST_P(TableFilter, RecordEventNarrowsTheFilterAndCountsWithIt)
{
    TVekTable* t = People();
    // Every other record in ID order: the event refuses even IDs.
    t->SetOnFilterRecord([](TDataSet* D, bool& Accept) { Accept = D->FieldByName("ID")->AsInteger() % 2 == 1; });
    t->SetFiltered(true);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"1", "3", "5", "7", "9"}));
    EXPECT_EQ(TTableFixture::ColumnBackwards(t, "ID"), (V{"1", "3", "5", "7", "9"}));
    EXPECT_EQ(t->RecordCount(), 5);
    EXPECT_EQ(RecNos(t), (V{"1", "2", "3", "4", "5"}));
    // With a text as well: both decide.
    t->SetFilter("City = 'Rome'");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "5", "9"}));
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_EQ(RecNos(t), (V{"1", "2", "3"}));
    t->SetOnFilterRecord(nullptr);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "4", "5", "9"}));
}

TEST_P(TableFilter, LocateAndFindNearestStayInsideTheFilter)
{
    TVekTable* t = People();
    t->SetFilter("City = 'Oslo'"); // IDs 1, 2, 8, 10
    t->SetFiltered(true);
    EXPECT_TRUE(t->Locate("Name", Variant("hal"), 0));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 8);
    EXPECT_EQ(t->RecNo(), 3);
    EXPECT_FALSE(t->Locate("Name", Variant("eve"), 0)); // in Rome
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 8);
    EXPECT_TRUE(t->Locate("City;Age", VarArrayOf({Variant("Oslo"), Variant(22)}), 0));
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 2);
    EXPECT_TRUE(Variant(t->Lookup("ID", Variant(5), "Name")).IsNull());
    EXPECT_EQ(VarToStr(t->Lookup("ID", Variant(10), "Name")), "jon");

    t->FindNearest({Variant(3)});
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 8);
    t->FindNearest({Variant(9)});
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 10);
    // Past the last filter record: the nearest one before.
    t->FindNearest({Variant(99)});
    EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 10);
    EXPECT_TRUE(t->FindKey({Variant(2)}));
    EXPECT_FALSE(t->FindKey({Variant(3)}));
}

TEST_P(TableFilter, RangeAndFilterGiveTheirIntersectionAndRangeChangesReevaluate)
{
    TVekTable* t = People();
    t->SetFilter("City <> 'Lima'");
    t->SetFiltered(true);
    t->SetRange({Variant(3)}, {Variant(8)});
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "4", "5", "8"}));
    EXPECT_EQ(t->RecordCount(), 4);
    EXPECT_EQ(RecNos(t), (V{"1", "2", "3", "4"}));
    t->SetRange({Variant(6)}, {Variant(10)});
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"8", "9", "10"}));
    t->CancelRange();
    EXPECT_EQ(t->RecordCount(), 8);
}

TEST_P(TableFilter, WritesOfThisTableAreSeenByItsFilter)
{
    TVekTable* t = People();
    t->SetFilter("City = 'Rome'"); // 3, 4, 5, 9
    t->SetFiltered(true);
    ASSERT_TRUE(t->Locate("ID", Variant(4), 0));
    // An edit moves the record out of the filter: it is gone.
    t->Edit();
    t->FieldByName("City")->SetAsString("Oslo");
    t->Post();
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "5", "9"}));
    EXPECT_EQ(t->RecordCount(), 3);
    // A new record that passes appears; a deleted one goes.
    TTableFixture::AddPerson(t, 11, "kim", 30, "Rome");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "5", "9", "11"}));
    ASSERT_TRUE(t->Locate("ID", Variant(5), 0));
    t->Delete();
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "9", "11"}));
    EXPECT_EQ(t->RecordCount(), 3);
    t->EmptyTable();
    EXPECT_EQ(t->RecordCount(), 0);
}

TEST_P(TableFilter, EditMovingTheCurrentRecordOutStandsOnTheNextFilterRecord)
{
    TVekTable* t = People();
    t->SetFilter("Age >= 22"); // 2, 3, 6, 7, 10
    t->SetFiltered(true);
    ASSERT_TRUE(t->Locate("ID", Variant(6), 0));
    t->Edit();
    t->FieldByName("Age")->SetAsInteger(1);
    t->Post();
    EXPECT_NE(t->FieldByName("ID")->AsInteger(), 6);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"2", "3", "7", "10"}));
}

TEST_P(TableFilter, BadTextRaisesTheFilterErrorAndKeepsTheFilterBefore)
{
    TVekTable* t = People();
    t->SetFilter("City = 'Lima'");
    t->SetFiltered(true);
    try {
        t->SetFilter("City = = 'Lima'");
        FAIL() << "no error";
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10051);
        EXPECT_NE(std::string(e.what()).find("Character"), std::string::npos) << e.what();
    }
    EXPECT_EQ(t->Filter(), "City = 'Lima'");
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"6", "7"}));
    try {
        t->SetFilter("Town = 'Lima'");
        FAIL() << "no error";
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10051);
    }
    t->SetFiltered(false);
    t->SetFilter("Nonsense >");
    EXPECT_THROW(t->SetFiltered(true), EVekDatabaseError);
    EXPECT_FALSE(t->Filtered());
    EXPECT_EQ(t->RecordCount(), 10);
}

TEST_P(TableFilter, SameTextKeepsTheFilterAndANewTextReopensIt)
{
    TVekTable* t = People();
    t->SetFilter("Age = 21");
    t->SetFiltered(true);
    EXPECT_EQ(t->RecordCount(), 3);
    TVekFilterEvaluator* first = t->FilterMgr()->ExprFilter();
    ASSERT_NE(first, nullptr);
    t->SetFilter("Age = 21");
    EXPECT_EQ(t->FilterMgr()->ExprFilter(), first);
    t->SetFilter("Age = 22");
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"2", "6", "10"}));
}

TEST_P(TableFilter, ForcedPerRecordEvaluationGivesTheSameRecords)
{
    TVekTable* t = People();
    t->SetFilter("Age > 20 AND ID < 9");
    t->SetFiltered(true);
    const V indexed = TTableFixture::Column(t, "ID");
    t->FilterMgr()->SetForcePerRecord(true);
    t->FilterMgr()->Reset();
    EXPECT_EQ(TTableFixture::Column(t, "ID"), indexed);
    EXPECT_EQ(t->FilterMgr()->ExprFilter()->OptimisationLevel(), olNone);
}

TEST_P(TableFilter, AFilterOverMoreRecordsThanTheCacheHoldsSeesTheTransactionsChanges)
{
    // 3000 people added in a scrambled order (more pages than the cache of a
    // new database holds); a transaction changes the age of some and deletes
    // others: the filter passes the records a walk through the table finds,
    // before and after the commit.
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    for (int i = 0; i < 3000; ++i) {
        const int id = i * 7919 % 3000 + 1;
        TTableFixture::AddPerson(t, id, "p" + std::to_string(id), id % 13 == 0 ? Variant::Null() : Variant(id % 50),
                                 id % 2 ? "Rome" : "Oslo");
    }
    const auto walk = [t] {
        V ids;
        for (t->First(); !t->Eof(); t->Next())
            if (!t->FieldByName("Age")->IsNull() && t->FieldByName("Age")->AsInteger() > 30 &&
                t->FieldByName("City")->AsString() == "Rome")
                ids.push_back(t->FieldByName("ID")->AsString());
        return ids;
    };
    const auto filtered = [t] {
        t->SetFilter("Age > 30 AND City = 'Rome'");
        t->SetFiltered(true);
        const V ids = TTableFixture::Column(t, "ID");
        t->SetFiltered(false);
        return ids;
    };
    // (A memory database has no transactions: there the changes stand alone.)
    if (fx.OnDisk())
        fx.Db().StartTransaction();
    for (int id = 7; id <= 3000; id += 7) {
        ASSERT_TRUE(t->FindKey({Variant(id)}));
        if (id % 11 == 0) {
            t->Delete();
            continue;
        }
        t->Edit();
        t->FieldByName("Age")->SetValue(id % 3 ? Variant(45) : Variant::Null());
        t->Post();
    }
    const V expected = walk();
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(filtered(), expected);
    if (fx.OnDisk())
        fx.Db().Commit();
    EXPECT_EQ(filtered(), expected);
}

TEST_P(TableFilter, DetailTableFiltersInsideItsMasterRecord)
{
    TVekTable* people = People();
    TVekTable* cities = fx.NewTable("Cities");
    cities->FieldDefs()->Add("City", ftString, 20);
    cities->IndexDefs()->Add("ixCity", "City", ixPrimary | ixUnique);
    cities->CreateTable();
    cities->Open();
    for (const char* name : {"Lima", "Oslo", "Rome"}) {
        cities->Append();
        cities->FieldByName("City")->SetAsString(name);
        cities->Post();
    }
    TDataSource source(nullptr);
    source.SetDataSet(cities);
    people->SetIndexName("ixCityAge");
    people->SetMasterFields("City");
    people->SetMasterSource(&source);
    people->SetFilter("Age >= 22");
    people->SetFiltered(true);
    cities->First(); // Lima: 6 (22), 7 (23)
    EXPECT_EQ(TTableFixture::Column(people, "ID"), (V{"6", "7"}));
    cities->Next(); // Oslo: 2 (22), 10 (22)
    EXPECT_EQ(people->RecordCount(), 2);
    cities->Next(); // Rome: 3 (23)
    EXPECT_EQ(TTableFixture::Column(people, "ID"), (V{"3"}));
    people->SetMasterSource(nullptr);
}

TEST_P(TableFilter, AConditionNoIndexAnswersReadsTheFileAndKeepsTheIndexOrder)
{
    // 600 people in a scrambled order; every fifth deleted and 40 added
    // after, into the freed slots (on disk inside a transaction, seen before
    // and after its commit): a condition no index answers counts, moves,
    // numbers and locates as a walk through the index finds.
    TVekTable* t = fx.CreatePeople();
    t->Open();
    t->SetIndexName("ixID");
    for (int i = 0; i < 600; ++i) {
        const int id = i * 397 % 600 + 1;
        TTableFixture::AddPerson(t, id, "p" + std::to_string(id % 97), id % 11 == 0 ? Variant::Null() : Variant(id % 60),
                                 id % 3 ? "Rome" : "Oslo", id * 0.5);
    }
    if (fx.OnDisk())
        fx.Db().StartTransaction();
    for (int id = 5; id <= 600; id += 5) {
        ASSERT_TRUE(t->FindKey({Variant(id)}));
        t->Delete();
    }
    for (int id = 601; id <= 640; ++id)
        TTableFixture::AddPerson(t, id, "q" + std::to_string(id), Variant(id % 60), "Rome");

    const auto walk = [t](const std::function<bool()>& Passes) {
        V ids;
        for (t->First(); !t->Eof(); t->Next())
            if (Passes())
                ids.push_back(t->FieldByName("ID")->AsString());
        return ids;
    };
    const auto age = [t] { return t->FieldByName("Age")->IsNull() ? -1 : t->FieldByName("Age")->AsInteger(); };
    const auto id = [t] { return t->FieldByName("ID")->AsInteger(); };
    struct Case {
        const char* Index;
        const char* Text;
        std::function<bool()> Passes;
    };
    const Case cases[] = {
        {"ixName", "Age * 2 > 70", [&] { return age() > 35; }},
        // The first passing record lies far into the index.
        {"ixID", "Age + 0 >= 0 AND ID * 1 > 580", [&] { return age() >= 0 && id() > 580; }},
        {"ixScore", "Age * 2 > 1000", [] { return false; }},
    };
    const auto check = [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.Text);
            t->SetFiltered(false);
            t->SetIndexName(c.Index);
            const V expected = walk(c.Passes);
            t->SetFilter(c.Text);
            t->SetFiltered(true);
            // The count first, before any move asks for the order.
            EXPECT_EQ(t->RecordCount(), static_cast<int>(expected.size()));
            EXPECT_EQ(t->FilterMgr()->ExprFilter()->OptimisationLevel(), olNone);
            EXPECT_TRUE(t->FilterMgr()->ExprFilter()->StorageOrderResult());
            if (expected.empty()) {
                EXPECT_TRUE(t->IsEmpty());
                continue;
            }
            EXPECT_EQ(t->FieldByName("ID")->AsString(), expected.front());
            EXPECT_EQ(TTableFixture::Column(t, "ID"), expected);
            EXPECT_EQ(TTableFixture::ColumnBackwards(t, "ID"), expected);
            t->Last();
            EXPECT_EQ(t->RecNo(), static_cast<int>(expected.size()));
            const std::size_t middle = expected.size() / 2;
            ASSERT_TRUE(t->Locate("ID", Variant(std::stoi(expected[middle])), 0));
            EXPECT_EQ(t->RecNo(), static_cast<int>(middle) + 1);
            EXPECT_FALSE(t->Locate("ID", Variant(5), 0)); // deleted
        }
        // A record event set on a filter read in file order narrows it.
        t->SetFiltered(false);
        t->SetIndexName("ixName");
        const V even = walk([&] { return age() > 35 && id() % 2 == 0; });
        t->SetFilter("Age * 2 > 70");
        t->SetFiltered(true);
        EXPECT_TRUE(t->FilterMgr()->ExprFilter()->StorageOrderResult());
        t->SetOnFilterRecord([](TDataSet* D, bool& Accept) { Accept = D->FieldByName("ID")->AsInteger() % 2 == 0; });
        EXPECT_EQ(t->RecordCount(), static_cast<int>(even.size()));
        EXPECT_EQ(TTableFixture::Column(t, "ID"), even);
        t->SetOnFilterRecord(nullptr);
        t->SetFiltered(false);
    };
    check();
    if (fx.OnDisk()) {
        fx.Db().Commit();
        check();
    }
}

INSTANTIATE_TEST_SUITE_P(Where, TableFilter, ::testing::Values(TWhere::Disk, TWhere::Memory), tabletests::WhereName);

// Another connection's change is seen at the next move.
TEST(TableFilterConnections, AnotherConnectionsChangeIsSeen)
{
    TTableFixture fx(TWhere::Disk);
    TVekTable* t = fx.CreatePeople();
    t->Open();
    for (int id = 1; id <= 4; ++id)
        TTableFixture::AddPerson(t, id, "p" + std::to_string(id), 20 + id, "Rome");
    t->SetIndexName("ixID");
    t->SetFilter("Age > 22");
    t->SetFiltered(true);
    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"3", "4"}));

    TVekDataBase other(nullptr);
    other.SetDataBaseName(fx.Dir().File("tables.vek"));
    other.SetLockRetryInterval(20);
    other.Open();
    TVekTable writer(nullptr);
    writer.SetDataBase(&other);
    writer.SetTableName("People");
    writer.Open();
    TTableFixture::AddPerson(&writer, 5, "p5", 40, "Oslo");
    writer.SetIndexName("ixID");
    ASSERT_TRUE(writer.FindKey({Variant(3)}));
    writer.Edit();
    writer.FieldByName("Age")->SetAsInteger(1);
    writer.Post();
    writer.Close();
    other.Close();

    EXPECT_EQ(TTableFixture::Column(t, "ID"), (V{"4", "5"}));
    EXPECT_EQ(t->RecordCount(), 2);
}

} // namespace
} // namespace orvex
