// The master and system tables: table definitions stored and read through
// them, object IDs, generators, databases without identity tables, deleting
// and renaming, and definitions read back by another process.

#include "SysTblDescribe.h"
#include "vekChildProcess.h"
#include "vekConnTestUtil.h"

#include "platform/FileIO.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace orvex {
namespace {

// A child process of vek_systbl_child.
class TChild : public conntest::TChildProcess {
public:
    explicit TChild(const std::vector<std::string>& Args)
        : TChildProcess(VEK_SYSTBL_CHILD, "vek_systbl_child", Args) {}
    int Wait(int Seconds = 300) { return TChildProcess::Wait(Seconds); }
};

std::string ReadText(const std::string& Path)
{
    const std::vector<Byte> bytes = conntest::ReadFileBytes(Path);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> Lines(TStrings* List)
{
    std::vector<std::string> lines;
    for (int i = 0; i < List->Count(); ++i)
        lines.push_back(List->Strings(i));
    return lines;
}

class SystemTablesTest : public ::testing::Test {
protected:
    SystemTablesTest()
    {
        conntest::MakeDatabase(Path());
        db.SetDataBaseName(Path());
    }
    std::string Path() const { return dir.File("systbl.vek"); }

    // A closed table component on Name.
    std::unique_ptr<TVekTable> NewTable(const std::string& Name)
    {
        auto table = std::make_unique<TVekTable>(nullptr);
        table->SetDataBase(&db);
        table->SetTableName(Name);
        return table;
    }
    // A table of an integer key and a name.
    void CreateTable(const std::string& Name)
    {
        auto table = NewTable(Name);
        table->FieldDefs()->Add("ID", ftInteger, 0, true);
        table->FieldDefs()->Add("Name", ftString, 20);
        table->IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
        table->CreateTable();
    }
    std::vector<std::string> Names()
    {
        TStringList list;
        db.GetTableNames(&list, false);
        return Lines(&list);
    }
    std::vector<std::string> SystemNames()
    {
        TStringList list;
        db.GetSystemTableNames(&list);
        return Lines(&list);
    }
    // The rows of the identity table as "name=id".
    std::vector<std::string> Identities()
    {
        auto table = NewTable("$SYSTBL_OBJECTIDREF");
        table->TableDef()->SetInternalTable(true);
        table->SetDataBase(&db);
        table->Open();
        table->SetIndexName("ixObjectID");
        std::vector<std::string> rows;
        for (table->First(); !table->Eof(); table->Next())
            rows.push_back(table->FieldByName("ObjectName")->AsString() + "=" +
                           table->FieldByName("ObjectID")->AsString());
        return rows;
    }

    conntest::TTempDir dir;
    TVekDataBase db{nullptr};
};

TEST_F(SystemTablesTest, ANewDatabaseHasItsSystemTables)
{
    db.Open();
    EXPECT_EQ(SystemNames(), (std::vector<std::string>{"$SYSTBL_INTGENERATOR", "$SYSTBL_OBJECTIDREF"}));
    EXPECT_TRUE(Names().empty());
    // The master tables are not listed; they cannot be opened as user tables.
    EXPECT_VEK_ERROR(10024, NewTable("$MSTRTBLUSER")->Open());
    db.Close();

    const std::string secured = dir.File("secured.vek");
    conntest::MakeDatabase(secured, "the key", true, true);
    TVekDataBase sdb(nullptr);
    sdb.SetDataBaseName(secured);
    sdb.BeforeLogin = [](TObject*, std::string& User, std::string& Password, std::string& Key) {
        User = "administrator";
        Password = "";
        Key = "the key";
    };
    sdb.Open();
    TStringList names;
    sdb.GetSystemTableNames(&names);
    EXPECT_EQ(Lines(&names),
              (std::vector<std::string>{"$SYSTBL_INTGENERATOR", "$SYSTBL_OBJECTIDREF", "$SYSTBL_SECGROUPS",
                                        "$SYSTBL_SECOBJPRIV", "$SYSTBL_SECSYSPRIV", "$SYSTBL_SECUSERS"}));
}

TEST_F(SystemTablesTest, NamesObjectIDsRenamingAndDeleting)
{
    db.SetExclusive(true);
    db.Open();
    CreateTable("orders");
    CreateTable("Customers");
    CreateTable(std::string(40, 'x'));
    EXPECT_VEK_ERROR(13060, CreateTable("ORDERS"));
    EXPECT_VEK_ERROR(10039, CreateTable(std::string(41, 'y')));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Customers", "orders", std::string(40, 'x')}));
    EXPECT_EQ(Identities(), (std::vector<std::string>{"orders=1", "Customers=2", std::string(40, 'x') + "=3"}));
    EXPECT_EQ(db.InternalGetObjectIDFromName("CUSTOMERS"), 2);
    EXPECT_EQ(db.InternalGetObjectIDFromName("nothing"), 0);

    // Renaming keeps the object ID and changes only the name.
    db.RenameTable("orders", "Sales");
    EXPECT_EQ(Identities(), (std::vector<std::string>{"Sales=1", "Customers=2", std::string(40, 'x') + "=3"}));
    EXPECT_VEK_ERROR(13060, db.RenameTable("Sales", "customers"));
    EXPECT_VEK_ERROR(10024, NewTable("orders")->Open());

    // Deleting removes the master row and the identity row; the name is
    // free at once and a new table gets a new number.
    db.DeleteTable("Sales", false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Customers", std::string(40, 'x')}));
    CreateTable("Sales");
    EXPECT_EQ(Identities(), (std::vector<std::string>{"Customers=2", std::string(40, 'x') + "=3", "Sales=4"}));

    // All of it is in the file.
    db.Close();
    db.Open();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Customers", "Sales", std::string(40, 'x')}));
    EXPECT_EQ(db.InternalGetObjectIDFromName("sales"), 4);
}

TEST_F(SystemTablesTest, ARefusedDeleteLeavesTheTableWhole)
{
    db.SetExclusive(true);
    db.Open();
    CreateTable("Orders");
    auto table = NewTable("Orders");
    table->Open();
    table->Append();
    table->FieldByName("ID")->SetAsInteger(1);
    table->Post();
    const Int64 size = db.DatabaseSize();
    EXPECT_VEK_ERROR(10053, db.DeleteTable("Orders", false));
    table->Close();
    EXPECT_EQ(Names(), std::vector<std::string>{"Orders"});
    EXPECT_EQ(Identities(), std::vector<std::string>{"Orders=1"});
    EXPECT_EQ(db.DatabaseSize(), size);
    table->Open();
    EXPECT_EQ(table->RecordCount(), 1);
}

TEST_F(SystemTablesTest, ARenamedTableSharesOneMasterDefinition)
{
    db.SetExclusive(true);
    db.Open();
    CreateTable("Orders");
    {
        auto table = NewTable("Orders");
        table->Open();
        table->Append();
        table->FieldByName("ID")->SetAsInteger(7);
        table->Post();
    }
    db.RenameTable("Orders", "Sales");
    auto first = NewTable("Sales");
    auto second = NewTable("sales");
    first->Open();
    second->Open();
    EXPECT_EQ(db.GetLocalConnectedUserCount("Sales"), 2);
    EXPECT_EQ(db.UserTableMgr()->TableDefCount(), 1);
    EXPECT_EQ(second->RecordCount(), 1);
    first->Close();
    second->Close();
    EXPECT_EQ(db.UserTableMgr()->TableDefCount(), 0);
    db.DeleteTable("Sales", false);
    EXPECT_TRUE(Names().empty());
}

TEST_F(SystemTablesTest, CreatingAndDeletingATableDoesNotGrowTheFile)
{
    db.SetExclusive(true);
    db.Open();
    const auto cycle = [&] {
        auto table = NewTable("Churn");
        table->FieldDefs()->Add("ID", ftInteger, 0, true);
        table->FieldDefs()->Add("Text", ftString, 200);
        table->FieldDefs()->Add("Notes", ftMemo);
        table->IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
        table->IndexDefs()->Add("ixText", "Text", ixCaseInsensitive);
        table->CreateTable();
        table->Open();
        for (int i = 0; i < 50; ++i) {
            table->Append();
            table->FieldByName("ID")->SetAsInteger(i);
            table->FieldByName("Text")->SetAsString(std::string(150, static_cast<char>('a' + i % 26)));
            table->FieldByName("Notes")->SetAsString(std::string(3000, 'n'));
            table->Post();
        }
        table->Close();
        db.DeleteTable("Churn", false);
    };
    cycle();
    const Int64 size = db.DatabaseSize();
    for (int i = 0; i < 99; ++i)
        cycle();
    EXPECT_LE(db.DatabaseSize(), size);
    EXPECT_TRUE(Names().empty());
}

TEST_F(SystemTablesTest, ADatabaseOfMinorVersionOneHasNoIdentitiesOrGenerators)
{
    TVekDBDef header = conntest::ReadHeader(Path());
    header.SetVersion("1.01.02");
    header.StoreCRC();
    conntest::WriteHeader(Path(), header);
    db.SetExclusive(true);
    db.Open();
    EXPECT_EQ(db.MinorVersion(), 1);
    EXPECT_TRUE(SystemNames().empty());
    CreateTable("Orders");
    EXPECT_EQ(Names(), std::vector<std::string>{"Orders"});
    EXPECT_EQ(db.InternalGetObjectIDFromName("Orders"), 0);
    EXPECT_VEK_ERROR(12041, db.CreateGenerator("G", 1, 1));
    EXPECT_VEK_ERROR(12041, db.GetGeneratorValue("G", true));
    db.RenameTable("Orders", "Sales");
    db.DeleteTable("Sales", false);
    EXPECT_TRUE(Names().empty());
}

TEST_F(SystemTablesTest, Generators)
{
    db.Open();
    db.CreateGenerator("Invoice", 10, 5);
    EXPECT_EQ(db.GetGeneratorValue("Invoice", true), 10);
    EXPECT_EQ(db.GetGeneratorValue("invoice", false), 10);
    EXPECT_EQ(db.GetGeneratorValue("Invoice", false), 15);
    EXPECT_EQ(db.GetGeneratorValue("Invoice", true), 20);
    EXPECT_EQ(db.GetGeneratorValue("Invoice", false), 20);
    Integer value = 0, step = 0;
    EXPECT_TRUE(db.QueryGenerator("INVOICE", value, step));
    EXPECT_EQ(value, 25);
    EXPECT_EQ(step, 5);
    EXPECT_FALSE(db.QueryGenerator("nothing", value, step));

    EXPECT_VEK_ERROR_TEXT(8580, "INVOICE", db.CreateGenerator("INVOICE", 1, 1));
    EXPECT_VEK_ERROR_TEXT(10125, "'$X' is not a valid generator name", db.CreateGenerator("$X", 1, 1));
    EXPECT_VEK_ERROR(10125, db.CreateGenerator("", 1, 1));
    EXPECT_VEK_ERROR_TEXT(9605, "min. length 1, max. length 20", db.CreateGenerator(std::string(21, 'g'), 1, 1));
    db.CreateGenerator(std::string(20, 'g'), -3, -2);
    EXPECT_EQ(db.GetGeneratorValue(std::string(20, 'g'), false), -3);
    EXPECT_EQ(db.GetGeneratorValue(std::string(20, 'g'), false), -5);
    EXPECT_VEK_ERROR_TEXT(8579, "nothing", db.GetGeneratorValue("nothing", false));
    EXPECT_VEK_ERROR(8579, db.GetGeneratorValue("nothing", true));
    EXPECT_VEK_ERROR(8579, db.InternalGetGenerator("nothing", false));
    EXPECT_EQ(db.InternalGetGenerator("Made", true), 1);
    EXPECT_EQ(db.InternalGetGenerator("Made", true), 2);

    // The engine's own generator is hidden and cannot be deleted.
    CreateTable("Orders");
    TStringList names;
    names.Add("stale");
    db.GetGeneratorNames(&names);
    EXPECT_EQ(Lines(&names), (std::vector<std::string>{std::string(20, 'g'), "Invoice", "Made"}));
    EXPECT_VEK_ERROR(10125, db.DeleteGenerator("$INTGEN_OBJID"));
    EXPECT_TRUE(db.QueryGenerator("$INTGEN_OBJID", value, step));
    EXPECT_EQ(value, 2);
    db.DeleteGenerator("Made");
    db.DeleteGenerator("Made");
    db.DeleteGenerator(std::string(21, 'g'));
    EXPECT_FALSE(db.QueryGenerator("Made", value, step));

    // Generators persist and count on inside a transaction, which a rollback
    // takes back.
    db.Close();
    db.Open();
    EXPECT_EQ(db.GetGeneratorValue("Invoice", true), 25);
    db.StartTransaction();
    EXPECT_EQ(db.GetGeneratorValue("Invoice", false), 25);
    db.Rollback();
    EXPECT_EQ(db.GetGeneratorValue("Invoice", false), 25);
    db.Close();
    EXPECT_VEK_ERROR(10113, db.GetGeneratorValue("Invoice", true));
    db.SetDataBaseName("MEMORY");
    db.Open();
    EXPECT_VEK_ERROR(10880, db.CreateGenerator("G", 1, 1));
}

TEST_F(SystemTablesTest, SystemChangesNeedTheHeaderLock)
{
    db.Open();
    TTableDef def(nullptr);
    def.SetTableName("Orders");
    EXPECT_VEK_ERROR_TEXT(8581, "Database header not locked prior to system change",
                          db.SystemTables()->WriteTableDef("Orders", &def, true));
    EXPECT_VEK_ERROR_TEXT(8581, "Database header not locked prior to system change",
                          db.SystemTables()->CreateTables());
}

TEST_F(SystemTablesTest, AnotherConnectionSeesNewTablesAndSharesGenerators)
{
    db.Open();
    TVekDataBase other(nullptr);
    other.SetDataBaseName(Path());
    other.Open();
    CreateTable("Orders");
    {
        auto table = NewTable("Orders");
        table->Open();
        table->Append();
        table->FieldByName("ID")->SetAsInteger(5);
        table->Post();
    }
    TStringList names;
    other.GetTableNames(&names, false);
    EXPECT_EQ(Lines(&names), std::vector<std::string>{"Orders"});
    {
        TVekTable table(nullptr);
        table.SetDataBase(&other);
        table.SetTableName("orders");
        table.Open();
        EXPECT_EQ(table.RecordCount(), 1);
        EXPECT_EQ(table.FieldByName("ID")->AsInteger(), 5);
    }
    EXPECT_EQ(other.InternalGetObjectIDFromName("Orders"), 1);
    db.CreateGenerator("G", 1, 1);
    for (int i = 1; i <= 6; i += 2) {
        EXPECT_EQ(db.GetGeneratorValue("G", false), i);
        EXPECT_EQ(other.GetGeneratorValue("G", false), i + 1);
    }
}

// Inside a transaction the connection keeps the master's read lock from its
// first look at a definition to the end: no other connection can store a
// definition meanwhile, so what the transaction read stays true without
// being read again. After the commit the other's change goes through and is
// seen.
TEST_F(SystemTablesTest, NoOtherConnectionStoresADefinitionWhileATransactionReadsThem)
{
    db.Open();
    CreateTable("T");
    TVekDataBase other(nullptr);
    other.SetDataBaseName(Path());
    other.SetLockRetryMaximum(2);
    other.SetLockRetryInterval(5);
    other.Open();
    const auto createU = [&] {
        TVekTable table(nullptr);
        table.SetDataBase(&other);
        table.SetTableName("U");
        table.FieldDefs()->Add("ID", ftInteger, 0, true);
        table.IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
        table.CreateTable();
    };

    db.StartTransaction();
    NewTable("T")->Open();
    EXPECT_THROW(createU(), EVekDatabaseError);
    NewTable("T")->Open();
    EXPECT_VEK_ERROR(10024, NewTable("U")->Open());
    db.Commit();

    createU();
    db.StartTransaction();
    auto u = NewTable("U");
    u->Open();
    EXPECT_EQ(u->FieldCount(), 1);
    u->Close();
    db.Commit();
    EXPECT_EQ(Names(), (std::vector<std::string>{"T", "U"}));
}

// A connection keeps the definitions it read; after every kind of layout
// change it makes, an open shows what a fresh connection reads from the file.
TEST_F(SystemTablesTest, AnOpenShowsTheStoredDefinitionAfterEachLayoutChange)
{
    db.SetExclusive(true);
    db.Open();
    CreateTable("T");
    {
        auto table = NewTable("T");
        table->Open();
        for (int i = 1; i <= 3; ++i) {
            table->Append();
            table->FieldByName("ID")->SetAsInteger(i);
            table->Post();
        }
    }
    // Adds the integer field Field to the table Name by a restructure.
    const auto restructure = [&](const std::string& Name, const std::string& Field,
                                 const std::function<void(TVekTable*)>& Prepare) {
        auto table = NewTable(Name);
        table->Open();
        TRestructureFieldDefs fields;
        fields.Assign(table->FieldDefs());
        TRestructureIndexDefs indexes;
        indexes.Assign(table->IndexDefs());
        table->Close();
        fields.AddAndSetFieldDef(Field, ftInteger, 0);
        TInternalRestructureRecord request;
        request.NewFieldDefs = &fields;
        request.NewIndexDefs = &indexes;
        Prepare(table.get());
        table->RestructureTable(request);
    };
    struct TStep {
        const char* What;
        const char* Before;   // the table read before the change
        const char* After;    // the table described after it
        std::function<void()> Change;
        const char* Shows;    // a line the description holds, or empty
        const char* NotShows; // a line it no longer holds, or empty
    };
    const std::vector<TStep> steps = {
        {"an index added", "T", "T", [&] { NewTable("T")->AddIndex("ixName", "Name", 0); }, "index ixName", ""},
        {"a field added by a restructure", "T", "T", [&] { restructure("T", "Added", [](TVekTable*) {}); }, "field Added",
         ""},
        {"an index deleted", "T", "T", [&] { NewTable("T")->DeleteIndex("ixName"); }, "", "index ixName"},
        {"a restructure its progress handler cancels", "T", "T",
         [&] {
             EXPECT_VEK_ERROR(VekErrCancelled, restructure("T", "Cancelled", [](TVekTable* Table) {
                                  Table->OnUpdateProgress = [](Integer, bool& Cancel) { Cancel = true; };
                              }));
         },
         "field Added", "field Cancelled"},
        {"the table emptied", "T", "T",
         [&] {
             auto table = NewTable("T");
             table->Open();
             table->EmptyTable();
             EXPECT_EQ(table->RecordCount(), 0);
         },
         "field Added", ""},
        {"the table renamed", "T", "U", [&] { db.RenameTable("T", "U"); }, "table U", ""},
        {"the table dropped and made again with other fields", "U", "U",
         [&] {
             db.DeleteTable("U", false);
             auto table = NewTable("U");
             table->FieldDefs()->Add("Other", ftString, 5);
             table->IndexDefs()->Add("ixOther", "Other", ixPrimary | ixUnique);
             table->CreateTable();
         },
         "field Other", "field Added"},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.What);
        // Read (and keep) the definition as it is before the change.
        systbltest::DescribeTable(db, step.Before);
        step.Change();
        const std::string shown = systbltest::DescribeTable(db, step.After);
        db.Close();
        db.Open();
        EXPECT_EQ(shown, systbltest::DescribeTable(db, step.After));
        if (*step.Shows) {
            EXPECT_NE(shown.find(step.Shows), std::string::npos) << shown;
        }
        if (*step.NotShows) {
            EXPECT_EQ(shown.find(step.NotShows), std::string::npos) << shown;
        }
    }
    EXPECT_VEK_ERROR(10024, NewTable("T")->Open());
}

// Another connection of this process and another process change the layout
// of a table this connection has read: its next open reads it again.
TEST_F(SystemTablesTest, AnOpenShowsTheLayoutAnotherConnectionOrProcessChanged)
{
    db.Open();
    CreateTable("T");
    TVekDataBase other(nullptr);
    other.SetDataBaseName(Path());
    other.Open();
    const std::string out = dir.File("described.txt");
    struct TStep {
        const char* What;
        std::function<void()> Change;
        bool HasIndex;
    };
    const std::vector<TStep> steps = {
        {"another connection adds an index",
         [&] {
             TVekTable table(nullptr);
             table.SetDataBase(&other);
             table.SetTableName("T");
             table.AddIndex("ixName", "Name", 0);
         },
         true},
        {"another process deletes it", [&] { ASSERT_EQ(TChild({"dropindex", Path(), "T", "ixName"}).Wait(), 0); },
         false},
        {"another process adds it again",
         [&] { ASSERT_EQ(TChild({"addindex", Path(), "T", "ixName", "Name"}).Wait(), 0); }, true},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.What);
        systbltest::DescribeTable(db, "T");
        step.Change();
        const std::string shown = systbltest::DescribeTable(db, "T");
        EXPECT_EQ(shown.find("index ixName") != std::string::npos, step.HasIndex) << shown;
        ASSERT_EQ(TChild({"describe", Path(), out}).Wait(), 0);
        EXPECT_EQ(shown, ReadText(out));
    }
}

TEST_F(SystemTablesTest, AReadOnlyConnectionReadsButChangesNothing)
{
    db.Open();
    CreateTable("Orders");
    db.CreateGenerator("G", 1, 1);
    db.Close();
    const std::vector<Byte> before = conntest::ReadFileBytes(Path());
    db.SetReadOnly(true);
    db.Open();
    EXPECT_EQ(Names(), std::vector<std::string>{"Orders"});
    auto table = NewTable("Orders");
    table->Open();
    EXPECT_FALSE(table->CanModify());
    table->Close();
    EXPECT_EQ(db.GetGeneratorValue("G", true), 1);
    EXPECT_VEK_ERROR(10501, db.GetGeneratorValue("G", false));
    EXPECT_VEK_ERROR(10501, db.CreateGenerator("H", 1, 1));
    EXPECT_VEK_ERROR(10501, db.DeleteGenerator("G"));
    EXPECT_VEK_ERROR(10501, CreateTable("More"));
    db.Close();
    EXPECT_EQ(conntest::ReadFileBytes(Path()), before);
}

TEST_F(SystemTablesTest, GeneratorsFromTwoProcessesAreDistinctAndConsecutive)
{
    db.Open();
    db.CreateGenerator("Shared", 100, 3);
    db.Close();
    constexpr int Count = 10000;
    const std::string outA = dir.File("a.txt");
    const std::string outB = dir.File("b.txt");
    const std::string go = dir.File("go");
    TChild a({"gen", Path(), "Shared", std::to_string(Count), outA, go});
    TChild b({"gen", Path(), "Shared", std::to_string(Count), outB, go});
    conntest::WriteFileBytes(go, {});
    ASSERT_EQ(a.Wait(), 0);
    ASSERT_EQ(b.Wait(), 0);
    std::set<long> values;
    std::map<long, int> owner;
    for (const std::string& out : {outA, outB}) {
        std::ifstream in(out);
        long previous = -1;
        long value = 0;
        int lines = 0;
        while (in >> value) {
            EXPECT_GT(value, previous) << "each process sees its values rise";
            previous = value;
            values.insert(value);
            owner[value] = out == outA ? 0 : 1;
            ++lines;
        }
        EXPECT_EQ(lines, Count);
    }
    ASSERT_EQ(values.size(), 2u * Count);
    long expected = 100;
    for (long value : values) {
        ASSERT_EQ(value, expected);
        expected += 3;
    }
    // The two really ran side by side: the values changed hands (in runs:
    // a process that releases the lock usually takes it again before the
    // other's next try).
    int changes = 0;
    for (auto it = std::next(owner.begin()); it != owner.end(); ++it)
        changes += it->second != std::prev(it)->second ? 1 : 0;
    EXPECT_GT(changes, 0);
    db.Open();
    EXPECT_EQ(db.GetGeneratorValue("Shared", true), 100 + 3 * 2 * Count);
}

TEST_F(SystemTablesTest, FiftyTablesReadBackByAnotherProcess)
{
    // Every accepted field type and every kind of index, spread over 50
    // tables.
    const std::vector<std::pair<TFieldType, int>> types = {
        {ftString, 25}, {ftBytes, 16}, {ftBoolean, 0}, {ftSmallint, 0}, {ftWord, 0},   {ftInteger, 0},
        {ftAutoInc, 0}, {ftFloat, 0},  {ftCurrency, 0}, {ftDate, 0},    {ftTime, 0},   {ftDateTime, 0},
        {ftBlob, 0},    {ftMemo, 0},   {ftGraphic, 0}, {ftFmtMemo, 0}};
    db.Open();
    for (int t = 0; t < 50; ++t) {
        auto table = NewTable("Table" + std::to_string(t));
        TFieldDefs* fields = table->FieldDefs();
        fields->Add("Key", ftInteger, 0, true);
        fields->Add("Label", ftString, 10 + t);
        for (int f = 0; f < 6; ++f) {
            const auto& [type, size] = types[static_cast<std::size_t>((t + f) % types.size())];
            if (type == ftAutoInc && f != 0)
                continue;
            fields->Add("F" + std::to_string(f), type, size, f % 2 == 1);
        }
        TIndexDefs* indexes = table->IndexDefs();
        indexes->Add("ixKey", "Key", ixUnique | ixPrimary);
        switch (t % 5) {
        case 0:
            indexes->Add("ixLabel", "Label", ixCaseInsensitive);
            break;
        case 1:
            indexes->Add("ixLabelDesc", "Label", ixDescending);
            break;
        case 2:
            indexes->Add("ixCompound", "Label;Key", ixUnique);
            break;
        case 3: {
            indexes->Add("ixMixed", "Label;Key", 0);
            TIndexDef* mixed = indexes->Items(indexes->Count() - 1);
            mixed->SetDescFields("Key");
            mixed->SetCaseInsFields("Label");
            break;
        }
        default:
            break;
        }
        table->CreateTable();
    }
    const std::string here = systbltest::DescribeDatabase(db);
    db.Close();
    const std::string out = dir.File("describe.txt");
    TChild child({"describe", Path(), out});
    ASSERT_EQ(child.Wait(), 0);
    EXPECT_EQ(ReadText(out), here);
    EXPECT_NE(here.find("table Table49"), std::string::npos);
    for (const char* type : {" Bytes ", " Word ", " AutoInc ", " Currency ", " Time ", " Graphic ", " FmtMemo "})
        EXPECT_NE(here.find(type), std::string::npos) << type;
    EXPECT_NE(here.find("index ixMixed"), std::string::npos);
}

} // namespace
} // namespace orvex
