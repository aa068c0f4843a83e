// The demonstration databases the setup installs: the build tool writes
// them with the engine, and the engine reads them back as the readme
// describes them (the tables, the secured database's logons and the guest's
// read-only access).

#include "vekConnTestUtil.h"

#include <cstdlib>

#include <sys/wait.h>

namespace orvex {
namespace {

std::unique_ptr<TVekTable> OpenTable(TVekDataBase* db, const std::string& name)
{
    auto table = std::make_unique<TVekTable>(nullptr);
    table->SetDataBase(db);
    table->SetTableName(name);
    table->Open();
    return table;
}

std::unique_ptr<TVekDataBase> Logon(const std::string& path, const std::string& user, const std::string& password)
{
    auto db = std::make_unique<TVekDataBase>(nullptr);
    db->SetDataBaseName(path);
    db->BeforeLogin = [user, password](TObject*, std::string& u, std::string& p, std::string& k) {
        u = user;
        p = password;
        k = "orvexdemo";
    };
    db->Open();
    return db;
}

TEST(DemoDatabasesTest, TheBuildToolWritesWhatTheReadmeDescribes)
{
    conntest::TTempDir dir;
    const std::string command = std::string("'") + ORVEX_DEMODB_PROGRAM + "' '" + dir.File("demo") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    // Only the two databases: no temporary or lock file is left.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.File("demo")))
        ++files;
    EXPECT_EQ(files, 2);

    {
        TVekDataBase db(nullptr);
        db.SetDataBaseName(dir.File("demo/VekDemo.vek"));
        db.Open();
        auto customers = OpenTable(&db, "Customers");
        EXPECT_EQ(customers->RecordCount(), 6);
        customers->SetIndexName("ixCustID");
        ASSERT_TRUE(customers->FindKey({2}));
        EXPECT_EQ(customers->FieldByName("Name")->AsString(), "Bruno Vidal");
        EXPECT_FALSE(customers->FieldByName("Notes")->AsString().empty());
        auto orders = OpenTable(&db, "Orders");
        EXPECT_EQ(orders->RecordCount(), 2 + 3 + 1 + 2 + 3 + 1);
        auto pictures = OpenTable(&db, "Pictures");
        EXPECT_EQ(pictures->RecordCount(), 3);
        const std::string bitmap = pictures->FieldByName("Picture")->AsString();
        EXPECT_EQ(bitmap.substr(0, 2), "BM");
        EXPECT_EQ(bitmap.size(), 54u + 32 * 32 * 3);
    }

    const std::string secured = dir.File("demo/SecurityDemo.vek");
    {
        auto admin = Logon(secured, "administrator", "walrus");
        auto employees = OpenTable(admin.get(), "Employees");
        EXPECT_EQ(employees->RecordCount(), 4);
        EXPECT_TRUE(employees->CanModify());
    }
    {
        auto guest = Logon(secured, "guest", "guest");
        auto employees = OpenTable(guest.get(), "Employees");
        EXPECT_EQ(employees->RecordCount(), 4);
        EXPECT_FALSE(employees->CanModify());
    }
    EXPECT_VEK_ERROR(10036, Logon(secured, "guest", "wrong"));
}

} // namespace
} // namespace orvex
