// Tables by name through the connection (file and memory), transactions
// with the attached datasets brought back in line, and locks by table ID.

#include "ConnScenario.h"
#include "vekConnTestUtil.h"

#include "../host/DatasetTestTable.h"
#include "platform/FileIO.h"
#include "storage/vekByteOrder.h"

namespace orvex {
namespace {

using conntest::BuildCounterDef;
using conntest::CreateCounterTable;
using conntest::ReadCounter;
using conntest::WriteCounter;

class TablesTest : public ::testing::Test {
protected:
    TablesTest()
    {
        conntest::MakeDatabase(dir.File("tables.vek"));
        db.SetDataBaseName(dir.File("tables.vek"));
    }
    void CreateTable(const std::string& Name, bool Memory = false)
    {
        TTableDef def(nullptr);
        BuildCounterDef(def, Name, Memory);
        db.CreateTable(&def, false);
    }
    std::vector<std::string> Names(bool Memory = false)
    {
        TStringList list;
        db.GetTableNames(&list, Memory);
        std::vector<std::string> names;
        for (int i = 0; i < list.Count(); ++i)
            names.push_back(list.Strings(i));
        return names;
    }

    conntest::TTempDir dir;
    TVekDataBase db{nullptr};
};

TEST_F(TablesTest, FileTablesAreCreatedListedOpenedAndPersist)
{
    db.Open();
    CreateTable("orders");
    CreateTable("Customers");
    CreateTable(std::string(40, 'x'));
    EXPECT_VEK_ERROR_TEXT(13060, "ORDERS", CreateTable("ORDERS"));
    EXPECT_VEK_ERROR(10039, CreateTable(std::string(41, 'x')));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Customers", "orders", std::string(40, 'x')}));
    EXPECT_TRUE(db.TableExists("ORDERS", false));
    EXPECT_FALSE(db.TableExists("nothing", false));
    EXPECT_VEK_ERROR_TEXT(10024, "nothing", {
        TTableDef def(nullptr);
        db.OpenTable("nothing", &def);
    });

    // Two users share one master; the stored definition carries the stamps.
    TTableDef a(nullptr), b(nullptr);
    db.OpenTable("Orders", &a);
    db.OpenTable("orders", &b);
    EXPECT_EQ(a.TableID(), b.TableID());
    EXPECT_EQ(a.RecordInterface(), b.RecordInterface());
    EXPECT_EQ(db.GetLocalConnectedUserCount("orders"), 2);
    EXPECT_EQ(a.Version(), "1.43.02");
    EXPECT_FALSE(a.CreatedBy().empty());
    EXPECT_GT(a.CreationDate(), 0);
    EXPECT_EQ(a.PrivilegeFlags(), VekAllPrivileges);
    db.CloseTable(&b);
    db.CloseTable(&a);
    EXPECT_EQ(db.GetLocalConnectedUserCount("orders"), 0);

    TTableDef stored(nullptr);
    db.QueryTableDef("customers", false, &stored);
    EXPECT_EQ(stored.TableName(), "Customers");
    EXPECT_EQ(stored.TableHeader(), nullptr);

    db.Close();
    db.Open();
    EXPECT_EQ(Names().size(), 3u);
    const Cardinal address = CreateCounterTable(db, "Counter");
    TTableDef counter(nullptr);
    db.OpenTable("Counter", &counter);
    WriteCounter(counter, address, 41);
    db.CloseTable(&counter);
    db.Close();
    db.Open();
    db.OpenTable("Counter", &counter);
    EXPECT_EQ(ReadCounter(counter, address), 41);
    db.CloseTable(&counter);
}

TEST_F(TablesTest, ListingTablesAtDesignTimeConnectsForTheCall)
{
    db.Open();
    CreateTable("Orders");
    db.Close();
    EXPECT_VEK_ERROR(10113, Names());
    EXPECT_FALSE(db.TableExists("Orders", false));
    db.SetDesigning(true);
    EXPECT_EQ(Names(), std::vector<std::string>{"Orders"});
    EXPECT_TRUE(db.TableExists("orders", false));
    EXPECT_FALSE(db.Connected());
}

TEST_F(TablesTest, AStoredDefinitionThatDoesNotReadIsAnEngineError)
{
    db.Open();
    CreateTable("Orders");
    // The user master table, opened as the engine opens it.
    TVekTable master(nullptr);
    master.TableDef()->SetInternalTable(true);
    master.SetDataBase(&db);
    master.SetTableName("$MSTRTBLUSER");
    master.Open();
    ASSERT_TRUE(master.FindKey({Variant("orders")}));
    for (const std::string& text : {std::string(), std::string("#"), std::string("object Orders: TTableDef\n  TableID = x\nend\n"),
                                  // Readable, but not the table of this row.
                                  std::string("object Orders: TTableDef\n  TableID = 1\n  TableName = 'Other'\nend\n"),
                                  std::string("object Orders: TTableDef\n  TableID = 4000\n  TableName = 'Orders'\nend\n")}) {
        master.Edit();
        master.FieldByName("TableDef")->SetAsString(text);
        master.Post();
        EXPECT_VEK_ERROR_TEXT(8581, "the table definition could not be read", {
            TTableDef def(nullptr);
            db.OpenTable("Orders", &def);
        }) << text;
    }
}

TEST_F(TablesTest, DeletingAndRenamingNeedExclusiveAccessAndNoUsers)
{
    db.Open();
    CreateCounterTable(db, "Orders");
    EXPECT_VEK_ERROR(10121, db.DeleteTable("Orders", false));
    EXPECT_VEK_ERROR(10121, db.RenameTable("Orders", "Sales"));
    db.Close();
    db.SetExclusive(true);
    db.Open();
    TTableDef user(nullptr);
    db.OpenTable("Orders", &user);
    EXPECT_VEK_ERROR_TEXT(10053, "The table Orders is in use", db.DeleteTable("Orders", false));
    EXPECT_VEK_ERROR_TEXT(10119, "The table Orders is in use", db.RenameTable("Orders", "Sales"));
    db.CloseTable(&user);

    db.RenameTable("Orders", "Sales");
    EXPECT_EQ(Names(), std::vector<std::string>{"Sales"});
    CreateTable("Other");
    EXPECT_VEK_ERROR(13060, db.RenameTable("Sales", "other"));
    const Int64 size = db.DatabaseSize();
    db.DeleteTable("Sales", false);
    db.DeleteTable("Other", false);
    EXPECT_TRUE(Names().empty());
    EXPECT_VEK_ERROR(10024, db.DeleteTable("Sales", false));
    // The pages of deleted tables come back: making them again grows nothing.
    CreateCounterTable(db, "Orders");
    CreateTable("Other");
    EXPECT_LE(db.DatabaseSize(), size);
}

TEST_F(TablesTest, MemoryTables)
{
    db.SetDataBaseName("MEMORY");
    db.Open();
    CreateTable("Scratch", true);
    EXPECT_VEK_ERROR(8580, CreateTable("scratch", true));
    EXPECT_EQ(Names(true), std::vector<std::string>{"Scratch"});
    EXPECT_TRUE(db.TableExists("SCRATCH", true));
    EXPECT_VEK_ERROR(10880, Names(false));

    TTableDef open(nullptr);
    open.SetMemory(true);
    db.OpenTable("Scratch", &open);
    // Locks on memory tables are answered at once and take nothing.
    EXPECT_FALSE(db.LockTable(&open, VekLockWrite));
    EXPECT_FALSE(db.TableLockExists(&open, VekLockWrite));
    EXPECT_FALSE(db.LockRecord(&open, 1));
    EXPECT_FALSE(db.RecordLockExists(&open, 1));
    EXPECT_FALSE(db.UnLockRecord(&open, 1));
    EXPECT_FALSE(db.UnLockTable(&open));
    EXPECT_VEK_ERROR_TEXT(10053, "The table Scratch is in use", db.DeleteTable("Scratch", true));
    db.CloseTable(&open);
    db.DeleteTable("Scratch", true);
    EXPECT_TRUE(Names(true).empty());
}

TEST_F(TablesTest, TransactionsKeepOrDropTheirWork)
{
    db.Open();
    const Cardinal address = CreateCounterTable(db, "Counter");
    TTableDef counter(nullptr);
    db.OpenTable("Counter", &counter);

    db.StartTransaction();
    EXPECT_TRUE(db.InTransaction());
    EXPECT_TRUE(db.LockTable(&counter, VekLockWrite));
    WriteCounter(counter, address, 7);
    // Structure does not change inside a transaction.
    EXPECT_VEK_ERROR(10122, CreateTable("Ghost"));
    EXPECT_VEK_ERROR(10122, db.DeleteTable("Counter", false));
    EXPECT_VEK_ERROR(10122, db.RenameTable("Counter", "Other"));
    db.Rollback();
    EXPECT_FALSE(db.InTransaction());
    EXPECT_EQ(ReadCounter(counter, address), 0);
    EXPECT_FALSE(db.TableLockExists(&counter, VekLockRead)); // the rollback gave the locks back

    db.StartTransaction();
    db.LockTable(&counter, VekLockWrite);
    WriteCounter(counter, address, 8);
    db.Commit();
    EXPECT_FALSE(db.InTransaction());
    db.CloseTable(&counter);
    db.Close();
    db.Open();
    db.OpenTable("Counter", &counter);
    EXPECT_EQ(ReadCounter(counter, address), 8);

    // Disconnecting in the middle of a transaction gives its work up.
    db.StartTransaction();
    db.LockTable(&counter, VekLockWrite);
    WriteCounter(counter, address, 9);
    db.CloseTable(&counter);
    db.Close();
    db.Open();
    db.OpenTable("Counter", &counter);
    EXPECT_EQ(ReadCounter(counter, address), 8);
    db.CloseTable(&counter);
}

TEST_F(TablesTest, LocksByTableIDAndRecordAddress)
{
    db.Open();
    CreateCounterTable(db, "Counter");
    TTableDef counter(nullptr);
    db.OpenTable("Counter", &counter);
    EXPECT_TRUE(db.LockTable(&counter, VekLockRead));
    EXPECT_TRUE(db.TableLockExists(&counter, VekLockRead));
    EXPECT_FALSE(db.TableLockExists(&counter, VekLockWrite));
    EXPECT_TRUE(db.UnLockTable(&counter));
    EXPECT_TRUE(db.LockTable(&counter, VekLockWrite));
    EXPECT_TRUE(db.TableLockExists(&counter, VekLockWrite));
    db.UnLockTable(&counter);
    EXPECT_FALSE(db.TableLockExists(&counter, VekLockWrite));
    EXPECT_TRUE(db.LockRecord(&counter, 4242));
    EXPECT_TRUE(db.RecordLockExists(&counter, 4242));
    EXPECT_FALSE(db.RecordLockExists(&counter, 4243));
    db.UnLockRecord(&counter, 4242);
    EXPECT_FALSE(db.RecordLockExists(&counter, 4242));

    // The header lock.
    db.SetLocked(true);
    EXPECT_TRUE(db.Locked());
    EXPECT_TRUE(db.DiskMgr()->HeaderWriteLocked());
    db.SetLocked(false);
    EXPECT_FALSE(db.DiskMgr()->HeaderLocked());
    // The end of a transaction gives the header lock back with the others.
    for (const bool commit : {true, false}) {
        db.SetLocked(true);
        db.StartTransaction();
        if (commit)
            db.Commit();
        else
            db.Rollback();
        EXPECT_FALSE(db.Locked());
        EXPECT_NO_THROW(db.SetLocked(false));
        db.SetLocked(true);
        EXPECT_TRUE(db.DiskMgr()->HeaderWriteLocked());
        db.SetLocked(false);
    }
    db.CloseTable(&counter);
    db.Close();
    TTableDef unconnected(nullptr);
    EXPECT_VEK_ERROR(10113, db.LockTable(&counter, VekLockRead));
}

// A dataset attached to the connection that notes what a rollback asks of it.
class TProbe : public testing::TMemTable, public IVekDataSetCaches {
public:
    explicit TProbe(TVekDataBase* DataBase)
    {
        FieldDefs()->Add("N", ftInteger);
        DataBase->RegisterClient(this);
        AfterRefresh = [this](TDataSet*) { ++Refreshes; };
    }
    void DumpInternalCaches() override { ++Dumps; }
    int Dumps = 0;
    int Refreshes = 0;
};

TEST_F(TablesTest, RollbackCancelsAndRefreshesTheAttachedDatasets)
{
    db.SetDataBaseName("MEMORY");
    db.Open();
    TProbe inserting(&db), browsing(&db), closed(&db);
    inserting.Open();
    inserting.AddRecord({1});
    inserting.Insert();
    browsing.Open();
    ASSERT_EQ(db.DataSetCount(), 3);

    db.Rollback();
    EXPECT_EQ(inserting.State(), dsBrowse);
    EXPECT_EQ(inserting.StoredCount(), 1);
    EXPECT_EQ(inserting.Dumps, 1);
    EXPECT_EQ(browsing.Dumps, 1);
    EXPECT_EQ(closed.Dumps, 1);
    EXPECT_EQ(inserting.Refreshes, 1);
    EXPECT_EQ(browsing.Refreshes, 1);
    EXPECT_EQ(closed.Refreshes, 0);
    EXPECT_FALSE(closed.Active());

    // Disconnecting closes them.
    db.Close();
    EXPECT_FALSE(inserting.Active());
    EXPECT_FALSE(browsing.Active());
    db.UnRegisterClient(&inserting);
    db.UnRegisterClient(&browsing);
    db.UnRegisterClient(&closed);
}

} // namespace
} // namespace orvex
