// The engine's maintenance transaction: an operation that changes table
// headers, index trees, the table map or stored definitions commits whole,
// and when it raises the file is byte for byte as before, with every index
// agreeing with the records; the host's own transaction still refuses such
// operations with 10122.

#include "vekTableTestUtil.h"

#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace orvex {
namespace {

using namespace tabletests;

constexpr int Rows = 300;

struct TMaintenanceCase {
    const char* Name;
    // The work, on the closed table People; the check of its effect once
    // committed.
    std::function<void(TTableFixture&, TVekTable*)> Work;
    std::function<void(TTableFixture&, TVekTable*)> CheckCommitted;
};

std::vector<std::string> IndexNames(TVekTable* Table)
{
    Table->IndexDefs()->Update();
    std::vector<std::string> names;
    for (int i = 0; i < Table->IndexDefs()->Count(); ++i)
        names.push_back(Table->IndexDefs()->Items(i)->Name());
    return names;
}

// Every index of the open table reaches the same records as the primary.
void ExpectIndexesAgree(TVekTable* Table, int Expected)
{
    for (const std::string& index : IndexNames(Table)) {
        SCOPED_TRACE("index " + index);
        Table->SetIndexName(index);
        std::vector<std::string> ids = TTableFixture::Column(Table, "ID");
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(static_cast<int>(ids.size()), Expected);
        EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    }
    Table->SetIndexName("");
}

std::vector<TMaintenanceCase> Cases()
{
    return {
        {"EmptyTable",
         [](TTableFixture&, TVekTable* People) {
             People->Open();
             People->EmptyTable();
             People->Close();
         },
         [](TTableFixture&, TVekTable* People) {
             People->Open();
             EXPECT_EQ(People->RecordCount(), 0);
             People->Close();
         }},
        {"AddIndex", [](TTableFixture&, TVekTable* People) { People->AddIndex("ixAge", "Age", 0); },
         [](TTableFixture&, TVekTable* People) {
             People->Open();
             const std::vector<std::string> names = IndexNames(People);
             EXPECT_NE(std::find(names.begin(), names.end(), "ixAge"), names.end());
             ExpectIndexesAgree(People, Rows);
             People->Close();
         }},
        {"DeleteIndex", [](TTableFixture&, TVekTable* People) { People->DeleteIndex("ixName"); },
         [](TTableFixture&, TVekTable* People) {
             People->Open();
             const std::vector<std::string> names = IndexNames(People);
             EXPECT_EQ(std::find(names.begin(), names.end(), "ixName"), names.end());
             ExpectIndexesAgree(People, Rows);
             People->Close();
         }},
        {"EmptyAndRefill",
         [](TTableFixture&, TVekTable* People) {
             People->Open();
             People->EmptyTable();
             for (int id = 0; id < Rows; ++id)
                 TTableFixture::AddPerson(People, 5000 + id, "N" + std::to_string(id), id % 90, "Town");
             People->Close();
         },
         [](TTableFixture&, TVekTable* People) {
             People->Open();
             ExpectIndexesAgree(People, Rows);
             EXPECT_TRUE(People->FindKey({Variant(5000)}));
             People->Close();
         }},
    };
}

class MaintenanceTransactionTest : public ::testing::TestWithParam<std::tuple<int, Int64>> {
protected:
    void SetUp() override
    {
        FPeople = FFixture.CreatePeople();
        FPeople->Open();
        for (int id = 0; id < Rows; ++id)
            TTableFixture::AddPerson(FPeople, id, "Person " + std::to_string(id), id % 90,
                                     id % 2 ? "Leeds" : "York", id * 0.5);
        FPeople->Close();
        FFixture.Db().SetTransactionPageBudget(std::get<1>(GetParam()));
    }
    const TMaintenanceCase& Case() const
    {
        static const std::vector<TMaintenanceCase> cases = Cases();
        return cases[static_cast<std::size_t>(std::get<0>(GetParam()))];
    }
    std::string Path() const { return FFixture.Dir().File("tables.vek"); }

    TTableFixture FFixture{TWhere::Disk};
    TVekTable* FPeople = nullptr;
};

TEST_P(MaintenanceTransactionTest, ARaisingOperationLeavesTheFileByteForByteAsBefore)
{
    const std::vector<Byte> before = conntest::ReadFileBytes(Path());
    EXPECT_THROW(FFixture.Db().RunMaintenance("test", false, [&] {
        Case().Work(FFixture, FPeople);
        throw std::runtime_error("cancelled");
    }),
                 std::runtime_error);
    EXPECT_FALSE(FFixture.Db().InTransaction());
    EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
    EXPECT_TRUE(conntest::ReadFileBytes(Path()) == before);
    FPeople->Open();
    ExpectIndexesAgree(FPeople, Rows);
    EXPECT_EQ(IndexNames(FPeople), (std::vector<std::string>{"ixID", "ixName", "ixScore", "ixCityAge"}));
    FPeople->Close();
    // Still usable: the same work now commits.
    FFixture.Db().RunMaintenance("test", false, [&] { Case().Work(FFixture, FPeople); });
    Case().CheckCommitted(FFixture, FPeople);
}

TEST_P(MaintenanceTransactionTest, TheOperationCommitsWhole)
{
    FFixture.Db().RunMaintenance("test", false, [&] { Case().Work(FFixture, FPeople); });
    EXPECT_FALSE(FFixture.Db().InTransaction());
    Case().CheckCommitted(FFixture, FPeople);
    // And another connection sees it.
    FFixture.Db().Close();
    FFixture.Db().Open();
    Case().CheckCommitted(FFixture, FPeople);
}

INSTANTIATE_TEST_SUITE_P(Operations, MaintenanceTransactionTest,
                         ::testing::Combine(::testing::Range(0, 4),
                                            ::testing::Values(DefaultSpillBudget, Int64{4 * DefaultPageSize})),
                         [](const ::testing::TestParamInfo<std::tuple<int, Int64>>& Info) {
                             static const std::vector<TMaintenanceCase> cases = Cases();
                             return std::string(cases[static_cast<std::size_t>(std::get<0>(Info.param))].Name) +
                                    (std::get<1>(Info.param) == DefaultSpillBudget ? "" : "Spilling");
                         });

TEST(MaintenanceTransaction, TheHostsTransactionStillRefusesSchemaChanges)
{
    TTableFixture fixture(TWhere::Disk);
    TVekTable* people = fixture.CreatePeople();
    people->Open();
    fixture.Db().StartTransaction();
    EXPECT_EQ(conntest::VekErrorCode([&] { people->EmptyTable(); }), 10122);
    EXPECT_EQ(conntest::VekErrorCode([&] { fixture.Db().RunMaintenance("test", false, [] {}); }), 10122);
    fixture.Db().Rollback();
    // Inside the engine's own, the same operation runs.
    fixture.Db().RunMaintenance("test", false, [&] {
        EXPECT_TRUE(fixture.Db().InMaintenance());
        EXPECT_FALSE(fixture.Db().InHostTransaction());
        people->EmptyTable();
    });
    EXPECT_EQ(people->RecordCount(), 0);
}

TEST(MaintenanceTransaction, ATableCreatedInARolledBackOneLeavesItsNameFree)
{
    TTableFixture fixture(TWhere::Disk);
    fixture.CreatePeople();
    EXPECT_THROW(fixture.Db().RunMaintenance("test", false, [&] {
        fixture.CreatePeople("Ghost");
        throw std::runtime_error("cancelled");
    }),
                 std::runtime_error);
    TStringList names;
    fixture.Db().GetTableNames(&names, false);
    EXPECT_EQ(names.IndexOf("Ghost"), -1);
    // The same connection creates it again and uses it.
    TVekTable* ghost = fixture.CreatePeople("Ghost");
    ghost->Open();
    TTableFixture::AddPerson(ghost, 1, "G", 1, "Town");
    EXPECT_EQ(ghost->RecordCount(), 1);
    ghost->Close();
    TVekTable* people = fixture.NewTable("People");
    people->Open();
    EXPECT_EQ(people->RecordCount(), 0);
}

} // namespace
} // namespace orvex
