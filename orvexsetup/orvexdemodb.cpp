// orvexdemodb: writes the demonstration databases of the setup's
// distribution with the engine itself, at build time.
//
//   orvexdemodb FOLDER
//
// VekDemo.vek: the tables the demonstration projects open: "Customers"
// (with a memo), "Orders" (a detail of Customers) and "Pictures" (bitmaps in
// a blob field). SecurityDemo.vek: a secured, enciphered database (master key
// "orvexdemo") with the table "Employees", the bootstrap administrator
// ("administrator", password "walrus") and the group "staff" whose user
// "guest" (password "guest") may only read it. Existing files are replaced;
// each file is written in a working folder and moved in when complete.

#include "dataset/vekDatabase.h"
#include "storage/vekCommon.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace orvex;

namespace {

namespace fs = std::filesystem;

constexpr const char* SecurityMasterKey = "orvexdemo";

struct TCustomer {
    int ID;
    const char* Name;
    const char* City;
    const char* Notes;
};

const TCustomer Customers[] = {
    {1, "Ada Lindqvist", "Oslo", "Prefers e-mail."},
    {2, "Bruno Vidal", "Lima", "Pays on delivery; call before shipping large orders."},
    {3, "Chen Wei", "Oslo", ""},
    {4, "Dara Okafor", "Rome", "Long-standing customer since the first catalogue."},
    {5, "Eli Sand", "Rome", "Ships to the warehouse address only."},
    {6, "Fiona Marsh", "Leeds", "Asks for paper invoices."},
};

struct TEmployee {
    int ID;
    const char* Name;
    const char* Department;
    double Salary;
};

const TEmployee Employees[] = {
    {1, "Grace Holm", "Accounts", 4200},
    {2, "Hugo Brandt", "Sales", 3900},
    {3, "Ines Duarte", "Sales", 4100},
    {4, "Jonas Weber", "Warehouse", 3100},
};

void PutLE(std::string& data, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A small 24-bit Windows bitmap: a diagonal gradient between two colours.
std::string GradientBitmap(int size, std::uint32_t from, std::uint32_t to)
{
    const int rowBytes = (size * 3 + 3) / 4 * 4;
    std::string data = "BM";
    PutLE(data, static_cast<std::uint32_t>(54 + rowBytes * size), 4);
    PutLE(data, 0, 4);
    PutLE(data, 54, 4);
    PutLE(data, 40, 4);
    PutLE(data, static_cast<std::uint32_t>(size), 4);
    PutLE(data, static_cast<std::uint32_t>(size), 4);
    PutLE(data, 1, 2);
    PutLE(data, 24, 2);
    PutLE(data, 0, 4);
    PutLE(data, static_cast<std::uint32_t>(rowBytes * size), 4);
    PutLE(data, 2835, 4);
    PutLE(data, 2835, 4);
    PutLE(data, 0, 4);
    PutLE(data, 0, 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int step = x + y, steps = 2 * (size - 1);
            for (int shift : {16, 8, 0}) { // blue, green, red
                const int a = static_cast<int>((from >> shift) & 0xFF), b = static_cast<int>((to >> shift) & 0xFF);
                data += static_cast<char>(a + (b - a) * step / steps);
            }
        }
        data.append(static_cast<std::size_t>(rowBytes - size * 3), '\0');
    }
    return data;
}

std::unique_ptr<TVekTable> Table(TVekDataBase& db, const char* name)
{
    auto table = std::make_unique<TVekTable>(nullptr);
    table->SetDataBase(&db);
    table->SetTableName(name);
    return table;
}

void WriteVekDemo(const std::string& path)
{
    {
        TVekDataBase creator(nullptr);
        creator.SetDataBaseName(path);
        creator.CreateDatabase();
    }
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.SetExclusive(true);
    db.Open();

    auto customers = Table(db, "Customers");
    customers->FieldDefs()->Add("CustID", ftInteger, 0, true);
    customers->FieldDefs()->Add("Name", ftString, 30);
    customers->FieldDefs()->Add("City", ftString, 20);
    customers->FieldDefs()->Add("Notes", ftMemo);
    customers->IndexDefs()->Add("ixCustID", "CustID", ixPrimary | ixUnique);
    customers->IndexDefs()->Add("ixName", "Name", ixCaseInsensitive);
    customers->IndexDefs()->Add("ixCity", "City;Name", 0);
    customers->CreateTable();
    customers->Open();
    for (const TCustomer& c : Customers) {
        customers->Append();
        customers->FieldByName("CustID")->SetAsInteger(c.ID);
        customers->FieldByName("Name")->SetAsString(c.Name);
        customers->FieldByName("City")->SetAsString(c.City);
        if (*c.Notes)
            customers->FieldByName("Notes")->SetAsString(c.Notes);
        customers->Post();
    }

    auto orders = Table(db, "Orders");
    orders->FieldDefs()->Add("OrderID", ftAutoInc);
    orders->FieldDefs()->Add("CustID", ftInteger, 0, true);
    orders->FieldDefs()->Add("Item", ftString, 20);
    orders->FieldDefs()->Add("Quantity", ftInteger);
    orders->FieldDefs()->Add("Amount", ftCurrency);
    orders->IndexDefs()->Add("ixOrderID", "OrderID", ixPrimary | ixUnique);
    orders->IndexDefs()->Add("ixCust", "CustID;OrderID", 0);
    orders->CreateTable();
    orders->Open();
    const char* items[] = {"lamp", "desk", "chair", "shelf", "rug", "clock"};
    int item = 0;
    for (const TCustomer& c : Customers)
        for (int n = 0; n < c.ID % 3 + 1; ++n, ++item) {
            orders->Append();
            orders->FieldByName("CustID")->SetAsInteger(c.ID);
            orders->FieldByName("Item")->SetAsString(items[item % 6]);
            orders->FieldByName("Quantity")->SetAsInteger(item % 4 + 1);
            orders->FieldByName("Amount")->SetAsFloat(12.5 * (item + 1));
            orders->Post();
        }

    auto pictures = Table(db, "Pictures");
    pictures->FieldDefs()->Add("PictureID", ftInteger, 0, true);
    pictures->FieldDefs()->Add("Title", ftString, 40);
    pictures->FieldDefs()->Add("Picture", ftGraphic);
    pictures->IndexDefs()->Add("ixPictureID", "PictureID", ixPrimary | ixUnique);
    pictures->CreateTable();
    pictures->Open();
    const struct {
        const char* Title;
        std::uint32_t From, To;
    } shades[] = {{"Dawn", 0x203060, 0xF0C080}, {"Sea", 0x002040, 0x40C0E0}, {"Forest", 0x103010, 0x90D070}};
    int id = 0;
    for (const auto& shade : shades) {
        pictures->Append();
        pictures->FieldByName("PictureID")->SetAsInteger(++id);
        pictures->FieldByName("Title")->SetAsString(shade.Title);
        pictures->FieldByName("Picture")->SetAsString(GradientBitmap(32, shade.From, shade.To));
        pictures->Post();
    }
    pictures->Close();
    orders->Close();
    customers->Close();
    db.Close();
}

void WriteSecurityDemo(const std::string& path)
{
    {
        TVekDataBase creator(nullptr);
        creator.SetDataBaseName(path);
        creator.SetMasterKey(SecurityMasterKey);
        creator.SetEnforceSecurity(true);
        creator.CreateDatabase();
    }
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.SetExclusive(true);
    db.BeforeLogin = [](TObject*, std::string& user, std::string& password, std::string& key) {
        user = VekAdministratorUser;
        password = VekDefaultAdministratorPassword;
        key = SecurityMasterKey;
    };
    db.Open();

    auto employees = Table(db, "Employees");
    employees->FieldDefs()->Add("EmpID", ftInteger, 0, true);
    employees->FieldDefs()->Add("Name", ftString, 30);
    employees->FieldDefs()->Add("Department", ftString, 20);
    employees->FieldDefs()->Add("Salary", ftCurrency);
    employees->IndexDefs()->Add("ixEmpID", "EmpID", ixPrimary | ixUnique);
    employees->SetEncryptionLevel(encStrong);
    employees->CreateTable();
    employees->Open();
    for (const TEmployee& e : Employees) {
        employees->Append();
        employees->FieldByName("EmpID")->SetAsInteger(e.ID);
        employees->FieldByName("Name")->SetAsString(e.Name);
        employees->FieldByName("Department")->SetAsString(e.Department);
        employees->FieldByName("Salary")->SetAsFloat(e.Salary);
        employees->Post();
    }
    employees->Close();

    TSecurityManager* security = db.SecurityManager();
    security->AddGroup("staff");
    security->AddUser("guest", "guest", "staff");
    TPrivileges privileges;
    privileges.SetGroupName("staff");
    TObjectPrivilege* read = privileges.ObjectPrivileges()->Add();
    read->SetObjectType(doTable);
    read->SetObjectName("Employees");
    read->SetPrivilegeType(opReadData);
    read->SetFields(VekAllObjects);
    security->SetPrivileges(&privileges, false);
    db.Close();
}

// Writes the database in a folder of its own beside the final one and moves
// it into place when complete, so that a build stopped midway never leaves a
// half-made file under the final name (and the header keeps the file's own
// name).
void WriteDatabase(const fs::path& folder, const char* name, void (*write)(const std::string&))
{
    const fs::path making = folder / "~making";
    std::error_code ignored;
    fs::remove_all(making, ignored);
    fs::create_directories(making);
    write((making / name).string());
    fs::rename(making / name, folder / name);
    fs::remove_all(making);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvexdemodb FOLDER\n");
        return 2;
    }
    try {
        const fs::path folder = argv[1];
        fs::create_directories(folder);
        WriteDatabase(folder, "VekDemo.vek", WriteVekDemo);
        WriteDatabase(folder, "SecurityDemo.vek", WriteSecurityDemo);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvexdemodb: %s\n", e.what());
        for (const std::string& line : GDBLogger->LogLines())
            std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
    return 0;
}
