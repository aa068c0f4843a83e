// Secured databases: logon with the bootstrap administrator, passwords and
// their age, groups and users, object privileges with field lists and "ALL"
// as table components see them, and a file that keeps nothing in clear.

#include "vekConnDialogScript.h"
#include "vekConnTestUtil.h"

#include "host/DateUtils.h"

#include <algorithm>

namespace orvex {
namespace {

constexpr const char* Key = "master key 1";

class SecurityTest : public ::testing::Test {
protected:
    SecurityTest() { conntest::MakeDatabase(Path(), Key, true, true); }
    std::string Path() const { return dir.File("secured.vek"); }

    // A connection logged on as User.
    std::unique_ptr<TVekDataBase> Connect(const std::string& User, const std::string& Password,
                                          bool Exclusive = false, Integer ExpiryDays = 0)
    {
        auto db = std::make_unique<TVekDataBase>(nullptr);
        db->SetDataBaseName(Path());
        db->SetExclusive(Exclusive);
        db->SecurityManager()->SetPasswordExpiryPeriod(ExpiryDays);
        db->BeforeLogin = [User, Password](TObject*, std::string& U, std::string& P, std::string& K) {
            U = User;
            P = Password;
            K = Key;
        };
        db->Open();
        return db;
    }
    std::unique_ptr<TVekDataBase> Admin(bool Exclusive = false)
    {
        return Connect("administrator", "walrus", Exclusive);
    }

    static std::unique_ptr<TVekTable> Table(TVekDataBase* Db, const std::string& Name)
    {
        auto table = std::make_unique<TVekTable>(nullptr);
        table->SetDataBase(Db);
        table->SetTableName(Name);
        return table;
    }
    // "Orders": ID, Customer, Amount, Secret; encrypted with the database
    // key; one record.
    static void CreateOrders(TVekDataBase* Db, const std::string& Name = "Orders")
    {
        auto table = Table(Db, Name);
        table->FieldDefs()->Add("ID", ftInteger, 0, true);
        table->FieldDefs()->Add("Customer", ftString, 30);
        table->FieldDefs()->Add("Amount", ftFloat);
        table->FieldDefs()->Add("Secret", ftString, 40);
        table->IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
        table->SetEncryptionLevel(encStrong);
        table->CreateTable();
        table->Open();
        table->Append();
        table->FieldByName("ID")->SetAsInteger(1);
        table->FieldByName("Customer")->SetAsString("Zebulon Quartermaine");
        table->FieldByName("Secret")->SetAsString("launch code 8472-XYZZY");
        table->Post();
    }
    static void Grant(TVekDataBase* Db, const std::string& Group, const std::string& Object,
                      TObjectPrivilegeType Type, const std::string& Fields = "ALL")
    {
        TPrivileges privileges;
        privileges.SetGroupName(Group);
        TObjectPrivilege* priv = privileges.ObjectPrivileges()->Add();
        priv->SetObjectType(doTable);
        priv->SetObjectName(Object);
        priv->SetPrivilegeType(Type);
        priv->SetFields(Fields);
        Db->SecurityManager()->SetPrivileges(&privileges, false);
    }
    static std::vector<std::string> VisibleFields(TVekTable* Table)
    {
        std::vector<std::string> names;
        for (int i = 0; i < Table->Fields()->Count(); ++i)
            if (Table->Fields()->Fields(i)->Visible())
                names.push_back(Table->Fields()->Fields(i)->FieldName());
        return names;
    }

    conntest::TTempDir dir;
};

TEST_F(SecurityTest, TheBootstrapAdministrator)
{
    // The first logon as "administrator" makes the group and the user, with
    // whatever password was given.
    {
        auto db = Connect("administrator", "anything");
        TSecurityManager* security = db->SecurityManager();
        EXPECT_TRUE(security->LoggedOn());
        EXPECT_EQ(security->GroupName(), "administrators");
        TStringList groups;
        security->ListGroupNames(&groups);
        EXPECT_EQ(groups.CommaText(), "administrators");
        // Every system privilege: view and edit users and groups.
        EXPECT_EQ(db->DatabasePrivileges(), 1 | 2 | 8 | 16);
    }
    // From then on the default password is needed.
    EXPECT_VEK_ERROR(10036, Connect("administrator", "anything"));
    EXPECT_VEK_ERROR(10036, Connect("nobody", "walrus"));
    auto db = Admin();
    EXPECT_TRUE(db->Connected());
    db->SecurityManager()->ChangePassword("administrator", "new admin pw");
    db->Close();
    EXPECT_VEK_ERROR(10036, Connect("administrator", "walrus"));
    EXPECT_TRUE(Connect("administrator", "new admin pw")->Connected());
}

TEST_F(SecurityTest, TheLoginDialogAsksAgainAfterABadPassword)
{
    Admin()->Close();
    conntest::ResetDialogs();
    conntest::ScriptLogin(Key, "administrator", "wrong");
    conntest::ScriptMessageOK();
    conntest::ScriptLogin("", "administrator", "walrus");
    TVekDataBase db(nullptr);
    db.SetDataBaseName(Path());
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(conntest::LoginModes(), (std::vector<int>{3, 2}));
    ASSERT_EQ(conntest::MessageTexts().size(), 1u);
    EXPECT_NE(conntest::MessageTexts()[0].find("Bad user name or password"), std::string::npos);
    db.Close();

    // Cancelling the second dialog: 10015, closed.
    conntest::ResetDialogs();
    conntest::ScriptLogin(Key, "administrator", "wrong");
    conntest::ScriptMessageOK();
    EXPECT_VEK_ERROR(10015, db.Open());
    EXPECT_FALSE(db.Connected());
}

TEST_F(SecurityTest, UsersGroupsAndNames)
{
    {
        // Before connecting, and on an unsecured database, the manager is not active.
        TVekDataBase closed(nullptr);
        EXPECT_VEK_ERROR_TEXT(8581, "The security manager is not active", closed.SecurityManager()->AddGroup("x"));
        const std::string plain = dir.File("plain.vek");
        conntest::MakeDatabase(plain);
        closed.SetDataBaseName(plain);
        closed.Open();
        EXPECT_VEK_ERROR_TEXT(8581, "The security manager is not active",
                              closed.SecurityManager()->Logon("administrator", "walrus", "plain.vek"));
        EXPECT_TRUE(closed.QueryObjectPrivilegeExists(VekObjectTypeTable, "anything", 2048));
    }
    auto db = Admin();
    TSecurityManager* security = db->SecurityManager();
    EXPECT_VEK_ERROR_TEXT(9605, "min. length 2, max. length 30", security->AddGroup("c"));
    security->SetMinimumGroupNameLength(1);
    security->AddGroup("c");
    EXPECT_VEK_ERROR(9605, security->AddGroup(std::string(31, 'g')));
    EXPECT_VEK_ERROR_TEXT(8580, "C", security->AddGroup("C"));
    security->AddGroup("clerks");
    security->AddUser("alice", "alice pw", "clerks");
    security->AddUser("bob", "bob pw", "c");
    EXPECT_VEK_ERROR(8580, security->AddUser("ALICE", "x", "clerks"));
    EXPECT_VEK_ERROR(8579, security->AddUser("carol", "x", "nobody"));
    EXPECT_VEK_ERROR(9605, security->AddUser("x", "x", "clerks"));
    EXPECT_EQ(security->GetUserGroupName("bob"), "c");
    security->ChangeGroup("bob", "clerks");
    TStringList users;
    security->ListUserNames("clerks", &users);
    EXPECT_EQ(users.CommaText(), "alice,bob");
    security->RenameGroup("clerks", "staff");
    EXPECT_EQ(security->GetUserGroupName("alice"), "staff");
    EXPECT_VEK_ERROR(8579, security->RenameGroup("clerks", "other"));

    // The users log on with their own passwords; a user without privileges
    // may not manage users.
    db->Close();
    auto alice = Connect("alice", "alice pw");
    EXPECT_EQ(alice->SecurityManager()->GroupName(), "staff");
    EXPECT_VEK_ERROR(10624, alice->SecurityManager()->AddGroup("mine"));
    EXPECT_VEK_ERROR(10624, alice->SecurityManager()->AddUser("dave", "pw", "staff"));
    EXPECT_VEK_ERROR(10624, {
        TPrivileges privileges;
        privileges.SetGroupName("staff");
        alice->SecurityManager()->SetPrivileges(&privileges, false);
    });
    // Changing one's own password is allowed.
    alice->SecurityManager()->ChangePassword("alice", "alice pw 2");
    alice->Close();
    EXPECT_VEK_ERROR(10036, Connect("alice", "alice pw"));
    EXPECT_TRUE(Connect("alice", "alice pw 2")->Connected());
}

TEST_F(SecurityTest, PasswordsExpire)
{
    {
        auto db = Admin();
        db->SecurityManager()->AddGroup("clerks");
        db->SecurityManager()->AddUser("alice", "alice pw", "clerks");
        // The password was changed 31 days ago.
        auto users = Table(db.get(), "$SYSTBL_SECUSERS");
        users->TableDef()->SetInternalTable(true);
        users->SetDataBase(nullptr);
        users->SetDataBase(db.get());
        users->Open();
        users->SetIndexName("ixUserName");
        for (const char* name : {"alice", "administrator"}) {
            ASSERT_TRUE(users->FindKey({Variant(name)}));
            users->Edit();
            users->FieldByName("DateLastPWordChange")->SetAsDateTime(Now() - 31);
            users->Post();
        }
    }
    EXPECT_TRUE(Connect("alice", "alice pw", false, 32)->Connected());
    EXPECT_VEK_ERROR_TEXT(10036, "The password has expired", Connect("alice", "alice pw", false, 30));
    // The administrator is never refused for age.
    EXPECT_TRUE(Connect("administrator", "walrus", false, 30)->Connected());
}

TEST_F(SecurityTest, PrivilegesDecideWhatTablesShow)
{
    {
        auto db = Admin();
        CreateOrders(db.get());
        CreateOrders(db.get(), "Archive");
        CreateOrders(db.get(), "Hidden");
        TSecurityManager* security = db->SecurityManager();
        security->AddGroup("clerks");
        security->AddUser("alice", "alice pw", "clerks");
        // Orders: read two fields, update one. Every other table: read all.
        Grant(db.get(), "clerks", "Orders", opReadData, "ID,Customer");
        Grant(db.get(), "clerks", "Orders", opUpdateData, "Customer");
        Grant(db.get(), "clerks", "ALL", opReadData);
        Grant(db.get(), "clerks", "ALL", opInsertData);
        Grant(db.get(), "clerks", "*", opUpdateData);
        security->AddGroup("outsiders");
        security->AddUser("eve", "eve pw", "outsiders");
        Grant(db.get(), "outsiders", "Archive", opReadData);

        TPrivileges read;
        read.SetGroupName("clerks");
        security->GetPrivileges(VekObjectTypeTable, "Orders", &read);
        ASSERT_EQ(read.ObjectPrivileges()->Count(), 2);
        EXPECT_EQ(read.ObjectPrivileges()->Items(0)->Fields(), "ID,Customer");
        EXPECT_EQ(read.ObjectPrivileges()->Items(0)->PrivilegeType(), opReadData);
        EXPECT_VEK_ERROR(10123, {
            TPrivileges admins;
            admins.SetGroupName("administrators");
            security->SetPrivileges(&admins, true);
        });
    }

    auto alice = Connect("alice", "alice pw");
    {
        // A named table: only its own privileges count, field by field.
        auto orders = Table(alice.get(), "Orders");
        orders->Open();
        EXPECT_EQ(VisibleFields(orders.get()), (std::vector<std::string>{"ID", "Customer"}));
        EXPECT_TRUE(orders->FieldByName("ID")->ReadOnly());
        EXPECT_FALSE(orders->FieldByName("Customer")->ReadOnly());
        EXPECT_EQ(orders->FieldByName("Customer")->AsString(), "Zebulon Quartermaine");
        EXPECT_TRUE(orders->CanModify());
        orders->Edit();
        orders->FieldByName("Customer")->SetAsString("Changed");
        orders->Post();
        // No insert privilege on Orders itself, although "ALL" has one.
        EXPECT_VEK_ERROR(10624, {
            orders->Append();
            orders->Post();
        });
        orders->Cancel();
        EXPECT_VEK_ERROR(10624, orders->Delete());
    }
    {
        // Every other table: the "ALL" privileges (no delete).
        auto archive = Table(alice.get(), "Archive");
        archive->Open();
        EXPECT_EQ(VisibleFields(archive.get()), (std::vector<std::string>{"ID", "Customer", "Amount", "Secret"}));
        archive->Append();
        archive->FieldByName("ID")->SetAsInteger(2);
        archive->Post();
        EXPECT_VEK_ERROR(10624, archive->Delete());
    }
    // Creating and deleting tables need their privileges.
    EXPECT_VEK_ERROR(10624, CreateOrders(alice.get(), "Mine"));
    alice->Close();

    auto eve = Connect("eve", "eve pw", true);
    {
        auto hidden = Table(eve.get(), "Hidden");
        EXPECT_VEK_ERROR(10624, hidden->Open());
        auto archive = Table(eve.get(), "Archive");
        archive->Open();
        EXPECT_FALSE(archive->CanModify());
        EXPECT_EQ(archive->RecordCount(), 2);
    }
    EXPECT_VEK_ERROR(10624, eve->DeleteTable("Archive", false));
    EXPECT_VEK_ERROR(10624, eve->RenameTable("Archive", "Old"));
    EXPECT_TRUE(eve->QueryObjectPrivilegeExists(VekObjectTypeTable, "Archive", 2048));
    EXPECT_VEK_ERROR(10624, eve->QueryObjectPrivilegeExists(VekObjectTypeTable, "Hidden", 2048));
    EXPECT_VEK_ERROR_TEXT(8579, "nothing", eve->QueryObjectPrivilegeExists(VekObjectTypeTable, "nothing", 2048));
}

TEST_F(SecurityTest, DeletingAGroupTakesItsUsersAndPrivileges)
{
    auto db = Admin();
    CreateOrders(db.get());
    TSecurityManager* security = db->SecurityManager();
    security->AddGroup("clerks");
    security->AddGroup("others");
    security->AddUser("alice", "pw", "clerks");
    security->AddUser("bob", "pw", "clerks");
    security->AddUser("carol", "pw", "others");
    Grant(db.get(), "clerks", "Orders", opReadData);
    Grant(db.get(), "others", "Orders", opReadData);
    {
        TPrivileges privileges;
        privileges.SetGroupName("clerks");
        privileges.SystemPrivileges()->Add()->SetPrivilegeType(spViewUsers);
        security->SetPrivileges(&privileges, false);
    }
    EXPECT_VEK_ERROR(10124, security->DeleteGroup("administrators"));
    EXPECT_VEK_ERROR(8579, security->DeleteGroup("nobody"));
    db->StartTransaction();
    EXPECT_VEK_ERROR(10122, security->DeleteGroup("clerks"));
    db->Rollback();
    TStringList users;
    security->ListUserNames("", &users);
    EXPECT_EQ(users.CommaText(), "administrator,alice,bob,carol");

    security->DeleteGroup("clerks");
    users.Clear();
    security->ListUserNames("", &users);
    EXPECT_EQ(users.CommaText(), "administrator,carol");
    TStringList groups;
    security->ListGroupNames(&groups);
    EXPECT_EQ(groups.CommaText(), "administrators,others");
    // The remaining group keeps its privileges; the deleted one's rows are gone.
    auto privs = Table(db.get(), "$SYSTBL_SECOBJPRIV");
    privs->TableDef()->SetInternalTable(true);
    privs->SetDataBase(nullptr);
    privs->SetDataBase(db.get());
    privs->Open();
    EXPECT_EQ(privs->RecordCount(), 1);
    auto sysPrivs = Table(db.get(), "$SYSTBL_SECSYSPRIV");
    sysPrivs->TableDef()->SetInternalTable(true);
    sysPrivs->SetDataBase(nullptr);
    sysPrivs->SetDataBase(db.get());
    sysPrivs->Open();
    EXPECT_EQ(sysPrivs->RecordCount(), 0);
}

TEST_F(SecurityTest, AFailedGroupDeleteLeavesEverything)
{
    auto db = Admin();
    CreateOrders(db.get());
    TSecurityManager* security = db->SecurityManager();
    security->AddGroup("clerks");
    security->AddUser("alice", "pw", "clerks");
    Grant(db.get(), "clerks", "Orders", opReadData);
    db->SetLockRetryMaximum(2);
    db->SetLockRetryInterval(5);

    // Another connection holds the users table, so the delete fails after
    // the group row and its privilege rows are gone.
    auto other = Admin();
    auto users = Table(other.get(), "$SYSTBL_SECUSERS");
    users->TableDef()->SetInternalTable(true);
    users->SetDataBase(nullptr);
    users->SetDataBase(other.get());
    users->Open();
    users->SetLocked(true);
    EXPECT_NE(conntest::VekErrorCode([&] { security->DeleteGroup("clerks"); }), 0);
    users->SetLocked(false);
    users->Close();

    EXPECT_EQ(security->GetUserGroupName("alice"), "clerks");
    TPrivileges privileges;
    privileges.SetGroupName("clerks");
    security->GetPrivileges(VekObjectTypeTable, "Orders", &privileges);
    EXPECT_EQ(privileges.ObjectPrivileges()->Count(), 1);
    db->Close();
    other->Close();
    auto alice = Connect("alice", "pw");
    auto orders = Table(alice.get(), "Orders");
    orders->Open();
    EXPECT_EQ(orders->RecordCount(), 1);
}

TEST_F(SecurityTest, TheAdministratorsGroupKeepsItsNameAndTheBootstrapStaysGone)
{
    {
        auto db = Admin();
        TSecurityManager* security = db->SecurityManager();
        security->AddGroup("clerks");
        security->AddUser("alice", "alice pw", "clerks");
        // Renaming the group, or another group to its name in any case,
        // is refused like deleting it.
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"administrators", "admins"},
                 {"Administrators", "other"},
                 {"clerks", "administrators"},
                 {"clerks", "ADMINISTRATORS"}})
            EXPECT_VEK_ERROR_TEXT(10123, "administrators", security->RenameGroup(from, to)) << from << " " << to;
        EXPECT_VEK_ERROR(10124, security->DeleteGroup("administrators"));
        EXPECT_EQ(security->GetUserGroupName("administrator"), "administrators");
        EXPECT_EQ(security->GetUserGroupName("alice"), "clerks");
        // Without the administrator the default password opens nothing.
        security->DeleteUser("administrator");
    }
    EXPECT_VEK_ERROR(10036, Connect("administrator", "walrus"));
    EXPECT_VEK_ERROR(10036, Connect("administrator", "anything"));
    EXPECT_TRUE(Connect("alice", "alice pw")->Connected());
}

TEST_F(SecurityTest, TheBootstrapNeedsADatabaseWithoutUsersOrGroups)
{
    // A database whose administrators' group went under another name (as an
    // older engine allowed) does not make a new administrator.
    {
        auto db = Admin();
        db->SecurityManager()->AddGroup("clerks");
        db->SecurityManager()->AddUser("alice", "alice pw", "clerks");
        auto groups = Table(db.get(), "$SYSTBL_SECGROUPS");
        groups->TableDef()->SetInternalTable(true);
        groups->SetDataBase(nullptr);
        groups->SetDataBase(db.get());
        groups->Open();
        groups->First();
        while (!groups->Eof()) {
            if (groups->FieldByName("GroupName")->AsString() == "administrators") {
                groups->Edit();
                groups->FieldByName("GroupName")->SetAsString("old admins");
                groups->Post();
            }
            groups->Next();
        }
        auto users = Table(db.get(), "$SYSTBL_SECUSERS");
        users->TableDef()->SetInternalTable(true);
        users->SetDataBase(nullptr);
        users->SetDataBase(db.get());
        users->Open();
        users->SetIndexName("ixUserName");
        ASSERT_TRUE(users->FindKey({Variant("administrator")}));
        users->Delete();
    }
    EXPECT_VEK_ERROR(10036, Connect("administrator", "walrus"));
    auto alice = Connect("alice", "alice pw");
    EXPECT_EQ(alice->SecurityManager()->GroupName(), "clerks");
}

TEST_F(SecurityTest, FieldsAndBlobsAreCheckedAgainstTheFieldsOwnPrivileges)
{
    {
        auto db = Admin();
        auto table = Table(db.get(), "Docs");
        table->FieldDefs()->Add("ID", ftInteger, 0, true);
        table->FieldDefs()->Add("Title", ftString, 20);
        table->FieldDefs()->Add("Note", ftString, 20);
        table->FieldDefs()->Add("Body", ftMemo);
        table->IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
        table->CreateTable();
        table->Open();
        table->Append();
        table->FieldByName("ID")->SetAsInteger(1);
        table->FieldByName("Title")->SetAsString("first");
        table->FieldByName("Body")->SetAsString("body one");
        table->Post();
        TSecurityManager* security = db->SecurityManager();
        security->AddGroup("clerks");
        security->AddUser("alice", "alice pw", "clerks");
        security->AddGroup("writers");
        security->AddUser("wendy", "wendy pw", "writers");
        // Clerks may update the table, but not its note or body; they may
        // insert.
        Grant(db.get(), "clerks", "Docs", opReadData);
        Grant(db.get(), "clerks", "Docs", opUpdateData, "ID,Title");
        Grant(db.get(), "clerks", "Docs", opInsertData);
        // Writers may insert and update the body, nothing else.
        Grant(db.get(), "writers", "Docs", opReadData);
        Grant(db.get(), "writers", "Docs", opInsertData, "Body");
    }
    {
        auto alice = Connect("alice", "alice pw");
        auto docs = Table(alice.get(), "Docs");
        docs->Open();
        docs->Edit();
        EXPECT_VEK_ERROR(10624, docs->DataSetSetFieldData(docs->GetFieldNo("Note"), 3, false, "new"));
        docs->DataSetSetFieldData(docs->GetFieldNo("Title"), 3, false, "new");
        // The body of a stored record is an update of a field the clerks
        // may not update.
        const Integer body = docs->GetFieldNo("Body");
        TMemoryStream text;
        text.WriteBuffer("changed", 7);
        EXPECT_VEK_ERROR(10624, docs->DataSetSetFieldStream(body, false, &text));
        docs->Cancel();
        // A new record's body is part of inserting it.
        docs->InitializeNewRecord(docs->CurrentBuffer(), false);
        docs->DataSetSetFieldStream(body, false, &text);
    }
    auto wendy = Connect("wendy", "wendy pw");
    auto docs = Table(wendy.get(), "Docs");
    docs->Open();
    ASSERT_TRUE(docs->FindKey({Variant(1)}));
    // Insert alone does not allow changing a stored record's blob.
    EXPECT_TRUE(docs->FieldByName("Body")->ReadOnly());
    TMemoryStream text;
    text.WriteBuffer("changed", 7);
    EXPECT_VEK_ERROR(10624, docs->DataSetSetFieldStream(docs->GetFieldNo("Body"), false, &text));
    EXPECT_EQ(docs->FieldByName("Body")->AsString(), "body one");
}

TEST_F(SecurityTest, TheMasterKeyNeverAppearsInAMessageOrTheLog)
{
    const std::string secret = "sesame-4711-very-long-master-key-" + std::string(80, 'k');
    GDBLogger->Clear();
    std::string message;
    TVekDataBase db(nullptr);
    try {
        db.SetMasterKey(secret);
    } catch (const EVekDatabaseError& e) {
        message = e.Message();
    }
    EXPECT_NE(message.find("113"), std::string::npos) << message;
    try {
        db.SetMasterKey("zq7");
    } catch (const EVekDatabaseError& e) {
        message += e.Message();
    }
    EXPECT_NE(message.find(" 3 characters"), std::string::npos) << message;
    // A wrong key on a secured database.
    db.SetDataBaseName(Path());
    db.BeforeLogin = [](TObject*, std::string& U, std::string& P, std::string& K) {
        U = "administrator";
        P = "walrus";
        K = "sesame-wrong-key";
    };
    try {
        db.Open();
    } catch (const Exception& e) {
        message += e.Message();
    }
    const std::string log = dir.File("dblog.txt");
    GDBLogger->SaveLogToFile(log);
    const std::vector<Byte> saved = conntest::ReadFileBytes(log);
    const std::string text = message + std::string(saved.begin(), saved.end());
    for (const std::string& line : GDBLogger->LogLines())
        EXPECT_EQ(line.find("sesame"), std::string::npos) << line;
    EXPECT_EQ(text.find("sesame"), std::string::npos) << text;
    EXPECT_EQ(text.find("zq7"), std::string::npos) << text;
}

TEST_F(SecurityTest, TheFileKeepsNoPasswordOrDataInClear)
{
    {
        auto db = Admin();
        CreateOrders(db.get());
        db->SecurityManager()->AddGroup("clerks");
        db->SecurityManager()->AddUser("alice", "Tr0ub4dor&3-horse", "clerks");
        Grant(db.get(), "clerks", "Orders", opReadData, "Customer");
    }
    // The data is there for those allowed to read it.
    {
        auto alice = Connect("alice", "Tr0ub4dor&3-horse");
        auto orders = Table(alice.get(), "Orders");
        orders->Open();
        EXPECT_EQ(orders->FieldByName("Customer")->AsString(), "Zebulon Quartermaine");
    }
    const std::vector<Byte> bytes = conntest::ReadFileBytes(Path());
    const std::string file(bytes.begin(), bytes.end());
    for (const std::string& secret : {std::string("Tr0ub4dor&3-horse"), std::string("walrus"),
                                      std::string("Zebulon Quartermaine"), std::string("8472-XYZZY"),
                                      std::string("Customer"), std::string("TTableDef"), std::string("alice"),
                                      std::string("administrators"), std::string(Key)})
        EXPECT_EQ(file.find(secret), std::string::npos) << secret;
}

} // namespace
} // namespace orvex
