// A statement's scan of its source tables holds their read locks from its
// first row to its end, once per table rather than once per row: another
// connection's writer waits for the whole scan, a nested statement over the
// same table leaves the scan's lock alone, and the lock goes when the scan
// ends, stops early or fails.

#include "vekDriverTestUtil.h"

#include "query/vekJoinDataProviderUnit.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::querytest {
namespace {

TTableSpec Emp()
{
    TTableSpec spec;
    spec.Name = "emp";
    spec.Columns = {{"id", ftInteger, 0}, {"name", ftString, 10}, {"dept", ftInteger, 0}};
    spec.Rows = {{Variant(1), Variant(std::string("Ann")), Variant(10)},
                 {Variant(2), Variant(std::string("Bob")), Variant(20)},
                 {Variant(3), Variant(std::string("Cid")), Variant(10)},
                 {Variant(4), Variant(std::string("Dan")), Variant(30)}};
    return spec;
}

// The database of a driver fixture on disk with a second connection that
// tries one write to "emp" at a time, trying its lock once.
class ScanLock : public ::testing::Test {
protected:
    ScanLock() : Fixture(true), WriterDb(nullptr), Writer(nullptr)
    {
        Fixture.AddTable(Emp());
        WriterDb.SetDataBaseName(Fixture.FilePath());
        WriterDb.SetLockRetryMaximum(1);
        WriterDb.SetLockRetryInterval(1);
        WriterDb.Open();
        Writer.SetDataBase(&WriterDb);
        Writer.SetTableName("emp");
        Writer.Open();
    }

    // Whether the second connection could change a row of "emp" now (the
    // row's name changes back and forth, so the statements' answers stay).
    bool OtherConnectionWrites()
    {
        try {
            Writer.First();
            Writer.Edit();
            Writer.FieldByName("name")->SetAsString(Writer.FieldByName("name")->AsString() == "Ann" ? "ann" : "Ann");
            Writer.Post();
            return true;
        } catch (const EVekDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 10249) << e.Message();
            Writer.Cancel();
            return false;
        }
    }

    TDriverFixture Fixture;
    TVekDataBase WriterDb;
    TVekTable Writer;
};

TEST_F(ScanLock, TheScanHoldsItsTablesFromItsFirstRowToItsEndOnEveryPath)
{
    TVekQueryProvider provider;
    provider.SetDatabase(&Fixture.Db());
    provider.SetSQL("SELECT e.id, f.id FROM emp e, emp f WHERE e.dept = f.dept AND e.id < f.id");
    ASSERT_TRUE(provider.ValidateSQL() && provider.PreparePlan()) << provider.GetErrorsAsText();
    TVekJoinDataProviderMgr* mgr = provider.Items(0)->ProviderMgr();
    ASSERT_NE(mgr, nullptr);

    EXPECT_TRUE(OtherConnectionWrites());
    {
        TVekProviderScan scan(mgr);
        ASSERT_TRUE(mgr->FirstProviderRecord());
        EXPECT_FALSE(OtherConnectionWrites());
        // A whole statement over the same table in between (a subquery's
        // run, say) takes and gives back nothing of the scan's.
        const auto nested = Fixture.Run("SELECT COUNT(*) FROM emp WHERE dept = 10");
        EXPECT_EQ(nested.Error, "");
        EXPECT_EQ(nested.Rows, (std::vector<std::string>{"2"}));
        EXPECT_FALSE(OtherConnectionWrites());
        EXPECT_FALSE(mgr->NextProviderRecord());
        EXPECT_FALSE(OtherConnectionWrites());
    }
    EXPECT_TRUE(OtherConnectionWrites());

    // A scan left by an error gives its locks back.
    EXPECT_THROW(
        {
            TVekProviderScan scan(mgr);
            mgr->FirstProviderRecord();
            throw std::runtime_error("stop");
        },
        std::runtime_error);
    EXPECT_TRUE(OtherConnectionWrites());

    // Nested scans of one statement share the outermost one's locks.
    {
        TVekProviderScan outer(mgr);
        ASSERT_TRUE(mgr->FirstProviderRecord());
        {
            TVekProviderScan inner(mgr);
            ASSERT_TRUE(mgr->FirstProviderRecord());
        }
        EXPECT_FALSE(OtherConnectionWrites());
    }
    EXPECT_TRUE(OtherConnectionWrites());

    // Clearing the plan in the middle of a scan lets the locks go with it.
    {
        TVekProviderScan scan(mgr);
        ASSERT_TRUE(mgr->FirstProviderRecord());
        mgr->Clear();
        EXPECT_TRUE(OtherConnectionWrites());
    }
}

TEST_F(ScanLock, StatementsLeaveNoLockBehindHoweverTheirScanEnds)
{
    struct TCase {
        const char* Sql;
        Integer MaxRecords;
        std::vector<std::string> Rows;
    };
    const std::vector<TCase> cases = {
        {"SELECT id FROM emp ORDER BY id", 0, {"1", "2", "3", "4"}},
        // Stopped after its first row.
        {"SELECT id FROM emp ORDER BY id", 1, {"1"}},
        {"SELECT dept, COUNT(*) FROM emp GROUP BY dept HAVING COUNT(*) > 1", 0, {"10|2"}},
        // A correlated subquery scans the same table once per outer row.
        {"SELECT id FROM emp e WHERE EXISTS (SELECT * FROM emp f WHERE f.dept = e.dept AND f.id <> e.id) "
         "ORDER BY id",
         0,
         {"1", "3"}},
        {"SELECT e.id FROM emp e JOIN emp f ON e.id = f.id + 1 ORDER BY e.id", 0, {"2", "3", "4"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        const auto result = Fixture.Run(c.Sql, c.MaxRecords);
        EXPECT_EQ(result.Error, "");
        EXPECT_EQ(result.Rows, c.Rows);
        EXPECT_TRUE(OtherConnectionWrites());
    }
    // The rows an UPDATE changes are collected under the scan's lock, then
    // written under the statement's own.
    TVekQueryProvider update;
    update.SetDatabase(&Fixture.Db());
    update.SetSQL("UPDATE emp SET dept = dept + 1 WHERE dept = 10");
    ASSERT_TRUE(update.ValidateSQL() && update.PreparePlan() && update.ExecSQL()) << update.GetErrorsAsText();
    EXPECT_EQ(update.GetRowsAffected(), 2);
    EXPECT_TRUE(OtherConnectionWrites());
    EXPECT_EQ(Fixture.Run("SELECT id FROM emp WHERE dept = 11 ORDER BY id").Rows,
              (std::vector<std::string>{"1", "3"}));
}

} // namespace
} // namespace orvex::querytest
