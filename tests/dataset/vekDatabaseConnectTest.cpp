// The connection component: names and settings, the header record, creating
// and connecting to files and to "MEMORY", the login, and what a connection
// leaves behind when connecting fails.

#include "vekConnDialogScript.h"
#include "vekConnTestUtil.h"

#include "host/DateUtils.h"
#include "platform/FileIO.h"
#include "storage/vekCrypt.h"
#include "storage/vekLockMgrUnit.h"

#include <random>

namespace orvex {
namespace {

using conntest::MakeDatabase;
using conntest::ReadFileBytes;
using conntest::ReadHeader;
using conntest::TTempDir;
using conntest::WriteFileBytes;
using conntest::WriteHeader;

constexpr Integer ErrCorruptHeader = 8961;

class ConnectTest : public ::testing::Test {
protected:
    void SetUp() override { conntest::ResetDialogs(); }
    void TearDown() override { conntest::ResetDialogs(); }

    std::string Path(const std::string& Name = "test.vek") const { return dir.File(Name); }
    // A closed connection to Path().
    std::unique_ptr<TVekDataBase> Connection(const std::string& Name = "test.vek")
    {
        auto db = std::make_unique<TVekDataBase>(nullptr);
        db->SetDataBaseName(Path(Name));
        return db;
    }
    // No handle or lock of a closed connection remains: the file opens
    // exclusively, and its lock file is gone.
    void ExpectNothingLeft(const std::string& Name = "test.vek")
    {
        EXPECT_NE(TPlatformFile::Open(Path(Name), TFileAccess::ReadWrite, TFileShare::Exclusive,
                                      TFileCreate::OpenExisting),
                  nullptr)
            << "a handle on the file stayed open";
        EXPECT_FALSE(FileExists(GetLockFileName(Path(Name)))) << "a lock-file slot stayed behind";
    }

    TTempDir dir;
};

// ------------------------------------------------------------ the record

TEST(DBDefRecord, FieldsLieAtTheirOffsetsAndTheCRCCoversTheCountingPrefix)
{
    TVekDBDef def;
    def.SetRecordVersion(1);
    def.SetDatabaseName(std::string(40, 'n'));
    def.SetOSDetails("Linux \xE9");
    def.SetDateCreated(45000.5);
    def.SetDBOwner("owner");
    def.SetSortOrder(1);
    def.SetVersion("1.43.02");
    def.SetSecurityLevel(2);
    def.StoreCRC();

    EXPECT_EQ(def.Bytes[0], 1);
    EXPECT_EQ(def.DatabaseName(), std::string(29, 'n')); // at most 29 characters and a zero
    EXPECT_EQ(def.Bytes[2 + 58], 0);
    EXPECT_EQ(def.Bytes[64], 'L');
    EXPECT_EQ(def.Bytes[64 + 12], 0xE9); // UTF-16 of Windows-1252 é
    EXPECT_EQ(def.OSDetails(), "Linux \xE9");
    EXPECT_EQ(def.Bytes[134], 'o');
    EXPECT_EQ(def.Bytes[200], 1);
    EXPECT_EQ(def.Bytes[204], '1');
    EXPECT_EQ(def.Bytes[206], '.');
    EXPECT_EQ(def.Bytes[246], 2);
    EXPECT_EQ(def.DateCreated(), 45000.5);

    std::vector<Byte> buffer(510);
    for (int i = 0; i < 256; ++i)
        buffer[static_cast<std::size_t>(i)] = static_cast<Byte>(i);
    std::copy(def.Bytes.begin(), def.Bytes.end(), buffer.begin() + 256);
    std::fill_n(buffer.begin() + 256 + 250, 4, Byte{0});
    EXPECT_EQ(def.CRC(), CalcCRC(buffer.data(), 510));
    EXPECT_TRUE(def.Validate());
    def.Bytes[253] ^= 1;
    EXPECT_FALSE(def.Validate());
}

TEST(DBDefRecord, VersionNumbers)
{
    const struct {
        const char* Text;
        Integer Major, Minor, Release;
    } cases[] = {{"1.43.02", 1, 43, 2}, {"2.0", 2, 0, 0}, {"x.7.9z", 0, 7, 0}, {"", 0, 0, 0}, {"3", 3, 0, 0},
                 {"1.2.3.4", 1, 2, 0}};
    for (const auto& c : cases) {
        Integer major = -1, minor = -1, release = -1;
        GetVersionNumbersFromText(c.Text, major, minor, release);
        EXPECT_EQ(major, c.Major) << c.Text;
        EXPECT_EQ(minor, c.Minor) << c.Text;
        EXPECT_EQ(release, c.Release) << c.Text;
    }
}

// ------------------------------------------------------ names and settings

TEST_F(ConnectTest, NamesAndDirectories)
{
    TVekDataBase db(nullptr);
    db.SetDataBaseName("memory");
    EXPECT_EQ(db.DataBaseName(), "MEMORY");
    EXPECT_TRUE(db.IsMemory());
    db.SetDataBaseName("/data/shop/orders.vek");
    EXPECT_EQ(db.DataBaseName(), "orders.vek");
    EXPECT_EQ(db.Directory(), "/data/shop/");
    db.SetDataBaseName("other.vek"); // no directory part: the directory stays
    EXPECT_EQ(db.Directory(), "/data/shop/");
    db.SetDirectory("/tmp");
    EXPECT_EQ(db.Directory(), "/tmp/");
    EXPECT_EQ(db.Version(), "1.43.02");
    db.SetVersion("9.9.9");
    EXPECT_EQ(db.Version(), "1.43.02");
    EXPECT_EQ(db.LockRetryInterval(), 200);
    EXPECT_EQ(db.LockRetryMaximum(), 10);
}

TEST_F(ConnectTest, MasterKeyLengthsAndSecuritySettings)
{
    TVekDataBase db(nullptr);
    EXPECT_VEK_ERROR_TEXT(9602, "(min. length 4, max. length 100)", db.SetMasterKey("abc"));
    EXPECT_VEK_ERROR(9602, db.SetMasterKey(std::string(101, 'k')));
    EXPECT_NO_THROW(db.SetMasterKey("abcd"));
    EXPECT_NO_THROW(db.SetMasterKey(std::string(100, 'k')));
    EXPECT_NO_THROW(db.SetMasterKey(""));
    db.SetEnforceSecurity(true);
    EXPECT_TRUE(db.UseEncryption());
    EXPECT_VEK_ERROR_TEXT(10766, "This operation can not be performed on this database/table",
                          db.SetUseEncryption(false));
    db.SetEnforceSecurity(false);
    EXPECT_NO_THROW(db.SetUseEncryption(false));
}

TEST_F(ConnectTest, SettingsThatShapeTheFileAreRefusedWhileConnected)
{
    MakeDatabase(Path());
    auto db = Connection();
    db->Open();
    EXPECT_VEK_ERROR(10120, db->SetDataBaseName("x.vek"));
    EXPECT_VEK_ERROR(10120, db->SetDirectory("/tmp"));
    EXPECT_VEK_ERROR(10120, db->SetExclusive(true));
    EXPECT_VEK_ERROR(10120, db->SetReadOnly(true));
    EXPECT_VEK_ERROR(10120, db->SetDefaultSortOrder(soASCII));
    EXPECT_VEK_ERROR(10120, db->SetMasterKey("abcdef"));
    EXPECT_VEK_ERROR(10120, db->SetEnforceSecurity(true));
    EXPECT_VEK_ERROR(10120, db->SetUseEncryption(true));
    EXPECT_VEK_ERROR(10120, db->SetDBOwner("me"));
    EXPECT_VEK_ERROR(10120, db->CreateDatabase());
    // Retries may change at any time and reach the open file at once.
    db->SetLockRetryMaximum(3);
    db->SetLockRetryInterval(7);
    EXPECT_EQ(db->DiskMgr()->LockRetryCount(), 3);
    EXPECT_EQ(db->DiskMgr()->LockRetryInterval(), 7);
    EXPECT_VEK_ERROR(10121, db->CheckExclusive());
    EXPECT_VEK_ERROR(10120, db->QueryOpenStatus(false, false));
    EXPECT_NO_THROW(db->QueryOpenStatus(true, false));
    EXPECT_VEK_ERROR_TEXT(12041, "This database version does not support this operation 44",
                          db->CheckMinorVersion(44));
    EXPECT_NO_THROW(db->CheckMinorVersion(43));
}

// ---------------------------------------------------------------- MEMORY

TEST_F(ConnectTest, MemoryNeedsNoFileAndRefusesFileOperations)
{
    TVekDataBase db(nullptr);
    db.SetDataBaseName("Memory");
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.DiskMgr(), nullptr);
    EXPECT_EQ(db.DatabasePrivileges(), VekAllPrivileges);
    EXPECT_VEK_ERROR(10880, db.DatabaseSize());
    EXPECT_VEK_ERROR(10880, db.FlushBuffers());
    TStringList users;
    EXPECT_VEK_ERROR(10880, db.GetCurrentUsers(&users));
    EXPECT_VEK_ERROR(10880, db.StartTransaction());
    EXPECT_NO_THROW(db.Commit());
    EXPECT_NO_THROW(db.Rollback());
    EXPECT_FALSE(db.InTransaction());
    EXPECT_NO_THROW(db.CheckConnected(true));
    EXPECT_VEK_ERROR(10880, db.CheckConnected(false));
    db.Close();
    EXPECT_FALSE(db.Connected());
    EXPECT_VEK_ERROR(10113, db.CheckConnected(true));
}

TEST_F(ConnectTest, MissingAndEmptyNames)
{
    TVekDataBase db(nullptr);
    EXPECT_VEK_ERROR(10118, db.Open());
    EXPECT_VEK_ERROR(10118, db.CreateDatabase());
    db.SetDataBaseName(Path("absent.vek"));
    EXPECT_VEK_ERROR_TEXT(9988, "absent.vek", db.Open());
    EXPECT_FALSE(db.Connected());
    db.SetDataBaseName(Path("secret.vek"));
    db.SetUseEncryption(true);
    EXPECT_VEK_ERROR_TEXT(10015, "(min. length 4, max. length 100)", db.CreateDatabase());
    EXPECT_FALSE(FileExists(Path("secret.vek")));
}

// ------------------------------------------------------- a new database

TEST_F(ConnectTest, CreateDatabaseWritesTheHeaderAndLeavesTheComponentClosed)
{
    auto db = Connection();
    db->SetDefaultSortOrder(soASCII);
    db->SetDBOwner("Ren\xE9");
    db->CreateDatabase();
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(db->Locked());
    EXPECT_FALSE(FileExists(GetLockFileName(Path())));

    const TVekDBDef header = ReadHeader(Path());
    EXPECT_TRUE(header.Validate());
    EXPECT_EQ(header.RecordVersion(), 1);
    EXPECT_EQ(header.DatabaseName(), "test.vek");
    EXPECT_EQ(header.DBOwner(), "Ren\xE9");
    EXPECT_EQ(header.Version(), "1.43.02");
    EXPECT_EQ(header.SortOrder(), 1);
    EXPECT_EQ(header.SecurityLevel(), 0);
    EXPECT_EQ(header.Reserved(), 0u);
    EXPECT_NEAR(header.DateCreated(), Now(), 1.0 / 24);

    // A second create never overwrites the file.
    EXPECT_VEK_ERROR(11043, db->CreateDatabase());
    EXPECT_TRUE(ReadHeader(Path()).Validate());

    db->SetDefaultSortOrder(soANSI);
    db->Open();
    EXPECT_EQ(db->DefaultSortOrder(), soASCII); // from the header
    EXPECT_EQ(db->GetDataFileVersion(), "1.43.02");
    EXPECT_EQ(db->MinorVersion(), 43);
    EXPECT_EQ(db->DBOwner(), "Ren\xE9");
    EXPECT_GE(db->DatabaseSize(), 24576);
    TStringList users;
    db->GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 1);
    EXPECT_NO_THROW(db->FlushBuffers());
    db->Close();
    EXPECT_EQ(db->GetDataFileVersion(), "");
    EXPECT_FALSE(FileExists(GetLockFileName(Path())));
}

TEST_F(ConnectTest, ReadOnlyConnectionsAndTheHeaderReset)
{
    MakeDatabase(Path());
    auto db = Connection();
    db->SetReadOnly(true);
    db->Open();
    // A read-only connection takes no slot in the lock file.
    TStringList users;
    EXPECT_VEK_ERROR_TEXT(10501, "Connection details unavailable for read only database files",
                          db->GetCurrentUsers(&users));
    EXPECT_FALSE(FileExists(GetLockFileName(Path())));
    db->Close();

    db->SetReadOnly(false);
    db->Open();
    EXPECT_VEK_ERROR(10121, db->ResetDBHeader());
    db->Close();
    db->SetExclusive(true);
    db->Open();
    db->ResetDBHeader();
    db->Close();
    EXPECT_TRUE(ReadHeader(Path()).Validate());
    EXPECT_VEK_ERROR(10113, db->ResetDBHeader());
}

TEST_F(ConnectTest, TheLogAccessors)
{
    TVekDataBase db(nullptr);
    db.ClearLog();
    EXPECT_EQ(db.GetLog()->Count(), 0);
    EXPECT_VEK_ERROR(10118, db.Open());
    ASSERT_EQ(db.GetLog()->Count(), 1);
    EXPECT_NE(db.GetLog()->Strings(0).find("10118"), std::string::npos);
    db.ClearLog();
    EXPECT_EQ(db.GetLog()->Count(), 0);
}

TEST_F(ConnectTest, SecurityLevelsOfNewDatabases)
{
    MakeDatabase(Path("plain.vek"));
    MakeDatabase(Path("encrypted.vek"), "the key", true);
    MakeDatabase(Path("secured.vek"), "the key", true, true);
    EXPECT_EQ(ReadHeader(Path("plain.vek")).SecurityLevel(), 0);
    EXPECT_EQ(ReadHeader(Path("encrypted.vek")).SecurityLevel(), 1);
    EXPECT_EQ(ReadHeader(Path("secured.vek")).SecurityLevel(), 2);
}

// ------------------------------------------------------- the header check

TEST_F(ConnectTest, EveryHeaderByteChangedAloneIsACorruptHeader)
{
    MakeDatabase(Path());
    const std::vector<Byte> good = ReadFileBytes(Path());
    for (int offset = 0; offset < TVekDBDef::Size; ++offset) {
        std::vector<Byte> bad = good;
        bad[static_cast<std::size_t>(offset)] ^= static_cast<Byte>(1u << (offset % 8));
        WriteFileBytes(Path(), bad);
        auto db = Connection();
        std::string message;
        const Integer code = conntest::VekErrorCode([&] { db->Open(); }, &message);
        ASSERT_EQ(code, ErrCorruptHeader) << "byte " << offset << ": " << message;
        ASSERT_FALSE(db->Connected()) << "byte " << offset;
    }
    ExpectNothingLeft();
    WriteFileBytes(Path(), good);
    auto db = Connection();
    EXPECT_NO_THROW(db->Open());
}

TEST_F(ConnectTest, AHigherReleaseIsRefusedAndLowerOnesAreAccepted)
{
    MakeDatabase(Path());
    const struct {
        const char* Version;
        bool Accepted;
    } cases[] = {{"1.43.03", false}, {"1.43.9", false}, {"1.43.02", true}, {"9.99.02", true},
                 {"1.1.01", true},   {"garbage", true}};
    for (const auto& c : cases) {
        TVekDBDef header = ReadHeader(Path());
        header.SetVersion(c.Version);
        header.StoreCRC();
        WriteHeader(Path(), header);
        auto db = Connection();
        if (c.Accepted) {
            EXPECT_NO_THROW(db->Open()) << c.Version;
            EXPECT_EQ(db->GetDataFileVersion(), c.Version);
        } else {
            EXPECT_VEK_ERROR_TEXT(12041, std::string("Current database disk format is ") + c.Version, db->Open());
            EXPECT_FALSE(db->Connected());
        }
    }
    ExpectNothingLeft();
}

TEST_F(ConnectTest, FilesThatAreNotDatabasesGiveAnEngineErrorAndLeaveNothingBehind)
{
    MakeDatabase(Path("good.vek"));
    const std::vector<Byte> good = ReadFileBytes(Path("good.vek"));
    std::mt19937 random(20261210);
    std::vector<std::vector<Byte>> inputs;
    for (std::size_t length : {0, 1, 100, 253, 254, 767, 1024, 1151, 4096, 20480, 24575, 24576, 40000}) {
        std::vector<Byte> bytes(length);
        for (Byte& b : bytes)
            b = static_cast<Byte>(random());
        inputs.push_back(bytes);
    }
    // A real database cut short, with its header intact.
    std::vector<std::size_t> cuts{0, 200, 253, 254, 767, 768, 807, 1000, 1024, 1151, 1152, 4096, 20480, 20500, 24575};
    for (std::size_t length = 1; length < good.size(); length += 509)
        cuts.push_back(length);
    for (std::size_t length : cuts)
        inputs.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    // A valid header over random pages.
    {
        std::vector<Byte> bytes(good.size());
        for (Byte& b : bytes)
            b = static_cast<Byte>(random());
        std::copy_n(good.begin(), 254, bytes.begin());
        inputs.push_back(bytes);
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        WriteFileBytes(Path(), inputs[i]);
        auto db = Connection();
        try {
            db->Open();
            // A cut-off file may still hold a whole header and map: it opens.
            db->Close();
        } catch (const EVekDatabaseError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "input " << i << " (" << inputs[i].size() << " bytes): not an engine error: " << e.what();
        }
        EXPECT_FALSE(db->Connected()) << "input " << i;
        ExpectNothingLeft();
    }
}

// -------------------------------------------------------------- logging on

TEST_F(ConnectTest, EncryptedDatabaseKeys)
{
    MakeDatabase(Path(), "right key", true);

    // The key given beforehand.
    auto db = Connection();
    db->SetMasterKey("right key");
    db->Open();
    EXPECT_TRUE(db->Encrypted());
    EXPECT_EQ(db->DiskMgr()->CryptKey(), "right key");
    db->Close();
    EXPECT_EQ(db->MasterKey(), "");

    // A wrong key: the security header refuses it, the key is cleared.
    db->SetMasterKey("wrong key");
    EXPECT_VEK_ERROR_TEXT(8451, "The MasterKey is incorrect", db->Open());
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(db->MasterKey(), "");
    ExpectNothingLeft();

    // No key: BeforeLogin is asked (mode 1) and its key becomes the key.
    int calls = 0;
    db->BeforeLogin = [&](TObject* Sender, std::string& User, std::string& Password, std::string& Key) {
        ++calls;
        EXPECT_EQ(Sender, db.get());
        EXPECT_EQ(Key, "");
        Key = "right key";
    };
    db->Open();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(db->MasterKey(), "right key");
    db->Close();

    // Without BeforeLogin the dialog asks in mode 1; nobody answering it
    // cancels, which is 10015.
    db->BeforeLogin = nullptr;
    EXPECT_VEK_ERROR(10015, db->Open());
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(conntest::LoginModes().size(), 0u);
    conntest::ScriptLogin("right key", "", "");
    db->Open();
    EXPECT_EQ(conntest::LoginModes(), std::vector<int>{1});
    EXPECT_EQ(db->MasterKey(), "right key");
    db->Close();
    ExpectNothingLeft();
}

// A stand-in for the security tables: one user "admin" with password "pw".
class TTestSecurity : public TVekSystemTables {
public:
    using TVekSystemTables::TVekSystemTables;
    void CreateTables() override {}
    void Open() override { ++Opens; }
    void Close() override { ++Closes; }
    void ReadTableDef(const std::string& Name, TTableDef*) override { VekDatabaseError(10024, "test", Name, nullptr); }
    void WriteTableDef(const std::string&, TTableDef*, bool) override {}
    void RemoveTableDef(TTableDef*) override {}
    void GetTableNames(TStrings*, bool) override {}
    Integer GetObjectIDFromName(const std::string&) override { return 0; }
    void Logon(const std::string& User, const std::string& Password) override
    {
        Attempts.push_back(User + "/" + Password);
        if (User != "admin" || Password != "pw")
            VekDatabaseError(10015, "TSecurityManager.Logon", "bad credentials", nullptr);
    }
    void CheckCanOpenDataObject(TTableDef*) override {}
    Integer GetTablePrivileges(TTableDef*) override { return 0; }
    bool QueryObjectPrivilegeExists(Integer, const std::string&, Integer) override { return false; }
    void CreateGenerator(const std::string&, Integer, Integer) override {}
    Integer GetGeneratorValue(const std::string&, bool) override { return 0; }
    Integer InternalGetGenerator(const std::string&, bool) override { return 0; }
    void DeleteGenerator(const std::string&) override {}
    void GetGeneratorNames(TStrings*) override {}
    bool QueryGenerator(const std::string&, Integer&, Integer&) override { return false; }

    static inline std::vector<std::string> Attempts;
    static inline int Opens = 0;
    static inline int Closes = 0;
};

class TSecuredDataBase : public TVekDataBase {
public:
    using TVekDataBase::TVekDataBase;

protected:
    std::unique_ptr<TVekSystemTables> NewSystemTables() override { return std::make_unique<TTestSecurity>(this); }
};

TEST_F(ConnectTest, SecuredDatabaseLogon)
{
    MakeDatabase(Path(), "the key", true, true);
    TTestSecurity::Attempts.clear();
    TTestSecurity::Opens = TTestSecurity::Closes = 0;

    TSecuredDataBase db(nullptr);
    db.SetDataBaseName(Path());

    // BeforeLogin with wrong credentials: the logon error, closed.
    db.BeforeLogin = [](TObject*, std::string& User, std::string& Password, std::string& Key) {
        User = "admin";
        Password = "nope";
        Key = "the key";
    };
    EXPECT_VEK_ERROR_TEXT(10015, "bad credentials", db.Open());
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(TTestSecurity::Opens, TTestSecurity::Closes);
    ExpectNothingLeft();

    // Right credentials.
    db.BeforeLogin = [](TObject*, std::string& User, std::string& Password, std::string& Key) {
        User = "admin";
        Password = "pw";
        Key = "the key";
    };
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_TRUE(db.NeedSecurity());
    EXPECT_FALSE(db.QueryObjectPrivilegeExists(2, "T", 4));
    db.Close();

    // The dialog: mode 3 first (no key); a failed logon shows the error and
    // asks again in mode 2, each set of credentials tried once.
    db.BeforeLogin = nullptr;
    TTestSecurity::Attempts.clear();
    conntest::ScriptLogin("the key", "admin", "wrong");
    conntest::ScriptMessageOK();
    conntest::ScriptLogin("ignored", "admin", "pw");
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(conntest::LoginModes(), (std::vector<int>{3, 2}));
    EXPECT_EQ(TTestSecurity::Attempts, (std::vector<std::string>{"admin/wrong", "admin/pw"}));
    ASSERT_EQ(conntest::MessageTexts().size(), 1u);
    EXPECT_NE(conntest::MessageTexts()[0].find("bad credentials"), std::string::npos);
    db.Close();

    // The key set beforehand: mode 2; a failed logon then a cancelled
    // dialog is 10015 and the connection is closed.
    conntest::ResetDialogs();
    db.SetMasterKey("the key");
    conntest::ScriptLogin("", "admin", "wrong");
    conntest::ScriptMessageOK();
    EXPECT_VEK_ERROR(10015, db.Open());
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(conntest::LoginModes(), std::vector<int>{2});
    ExpectNothingLeft();

    // Security switched off for the connection: no logon at all.
    db.SetMasterKey("the key");
    db.SetTempPrivilegeStatus(VekAllPrivileges);
    TTestSecurity::Attempts.clear();
    EXPECT_FALSE(db.NeedSecurity());
}

// ------------------------------------------------ a failed connect is gone

TEST_F(ConnectTest, AFailedConnectReleasesEverythingItTook)
{
    MakeDatabase(Path(), "right key", true);
    auto first = Connection();
    first->SetMasterKey("right key");
    first->Open();
    // Another connection fails at the key check, after its slot and the
    // file were taken; the first connection stays the only user.
    auto second = Connection();
    second->SetMasterKey("wrong key");
    EXPECT_VEK_ERROR(8451, second->Open());
    TStringList users;
    first->GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 1);
    first->Close();
    ExpectNothingLeft();
    // And an exclusive connection is refused while another holds the file
    // (disconnecting forgot the key).
    EXPECT_EQ(first->MasterKey(), "");
    first->SetMasterKey("right key");
    first->Open();
    auto exclusive = Connection();
    exclusive->SetExclusive(true);
    exclusive->SetLockRetryMaximum(1);
    exclusive->SetLockRetryInterval(1);
    exclusive->SetMasterKey("right key");
    EXPECT_VEK_ERROR(8449, exclusive->Open());
    EXPECT_FALSE(exclusive->Connected());
    first->Close();
    ExpectNothingLeft();
}

TEST_F(ConnectTest, DestroyingAConnectedComponentDisconnects)
{
    MakeDatabase(Path());
    {
        auto db = Connection();
        db->Open();
        db->SetLocked(true);
    }
    ExpectNothingLeft();
}

} // namespace
} // namespace orvex
