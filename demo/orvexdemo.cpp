// Demonstration of the engine's main road: a database file is created, a
// table with indexes and a blob field gets records, a record is found by its
// key, a range is walked, a master-detail pair follows its master, SQL
// statements run through a query (a join, a GROUP BY, an UPDATE, a live
// result edited), and after reconnecting the data is still there. The engine's log is printed only
// when something fails.
//
//   orvexdemo [folder]     (default: a new folder under the temporary folder)

#include "dataset/vekDatabase.h"
#include "host/DBLinks.h"
#include "query/vekSQL.h"
#include "storage/vekCommon.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace orvex;

namespace {

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
};

void Show(TVekTable& Table, const char* Fields)
{
    std::string line = "  ";
    for (const std::string& name : SplitFieldNames(Fields)) {
        TField* field = Table.FieldByName(name);
        line += Format("%-16s", {field->IsNull() ? std::string("-") : field->AsString().substr(0, 15)});
    }
    std::puts(line.c_str());
}

void ShowRows(TDataSet& Set)
{
    for (Set.First(); !Set.Eof(); Set.Next()) {
        std::string line = "  ";
        for (int i = 0; i < Set.FieldCount(); ++i) {
            TField* field = Set.Fields()->Fields(i);
            line += Format("%-16s", {field->IsNull() ? std::string("-") : field->AsString().substr(0, 15)});
        }
        std::puts(line.c_str());
    }
}

void RunSql(TVekDataBase& Db)
{
    TVekQuery query(nullptr);
    query.SetDataBase(&Db);

    std::puts("\n== SQL: a join (each order with its customer), by amount");
    query.SetSQLText("SELECT c.Name, o.Item, o.Amount FROM Customers c JOIN Orders o ON o.CustID = c.CustID "
                     "WHERE o.Amount > 40 ORDER BY o.Amount");
    query.Open();
    ShowRows(query);

    std::puts("\n== SQL: GROUP BY (orders and their total per city)");
    query.SetSQLText("SELECT c.City, COUNT(*) AS Orders, SUM(o.Amount) AS Total FROM Customers c, Orders o "
                     "WHERE o.CustID = c.CustID GROUP BY c.City ORDER BY c.City");
    query.Open();
    ShowRows(query);

    std::puts("\n== SQL: UPDATE (a 10% discount on the orders of Rome)");
    query.SetSQLText("UPDATE Orders SET Amount = Amount * 0.9 "
                     "WHERE CustID IN (SELECT CustID FROM Customers WHERE City = :city)");
    query.ParamByName("city")->SetAsString("Rome");
    query.ExecSQL();
    std::printf("  %d order(s) changed\n", query.RowsAffected());

    std::puts("\n== SQL: a live result edited (the change goes to the Customers table)");
    query.SetSQLText("SELECT CustID, Name, City FROM Customers WHERE City = 'Oslo' ORDER BY Name");
    query.SetRequestLive(true);
    query.Open();
    ShowRows(query);
    query.First();
    query.Edit();
    query.FieldByName("City")->SetAsString("Bergen");
    query.Post();
    query.Close();
    query.SetRequestLive(false);
    query.SetSQLText("SELECT CustID, Name, City FROM Customers WHERE City <> 'Rome' ORDER BY CustID");
    query.Open();
    ShowRows(query);
    query.Close();
}

void Run(const std::string& Folder)
{
    const std::string path = Folder + "/demo.vek";
    std::printf("== Creating the database %s\n", path.c_str());
    {
        TVekDataBase creator(nullptr);
        creator.SetDataBaseName(path);
        creator.CreateDatabase();
    }
    TVekDataBase db(nullptr);
    db.SetDataBaseName(path);
    db.Open();

    std::puts("\n== A table with indexes and a blob field");
    TVekTable customers(nullptr);
    customers.SetDataBase(&db);
    customers.SetTableName("Customers");
    customers.FieldDefs()->Add("CustID", ftInteger, 0, true);
    customers.FieldDefs()->Add("Name", ftString, 30);
    customers.FieldDefs()->Add("City", ftString, 20);
    customers.FieldDefs()->Add("Notes", ftMemo);
    customers.IndexDefs()->Add("ixCustID", "CustID", ixPrimary | ixUnique);
    customers.IndexDefs()->Add("ixName", "Name", ixCaseInsensitive);
    customers.IndexDefs()->Add("ixCity", "City;Name", 0);
    customers.CreateTable();
    customers.Open();
    for (const TCustomer& c : Customers) {
        customers.Append();
        customers.FieldByName("CustID")->SetAsInteger(c.ID);
        customers.FieldByName("Name")->SetAsString(c.Name);
        customers.FieldByName("City")->SetAsString(c.City);
        if (*c.Notes)
            customers.FieldByName("Notes")->SetAsString(c.Notes);
        customers.Post();
    }
    std::printf("  %d customers added; indexes:", customers.RecordCount());
    for (int i = 0; i < customers.IndexDefs()->Count(); ++i)
        std::printf(" %s(%s)", customers.IndexDefs()->Items(i)->Name().c_str(),
                    customers.IndexDefs()->Items(i)->Fields().c_str());
    std::puts("");

    std::puts("\n== Finding by key (ixCustID = 4)");
    customers.SetIndexName("ixCustID");
    if (customers.FindKey({4})) {
        Show(customers, "CustID;Name;City");
        std::printf("  notes: %s\n", customers.FieldByName("Notes")->AsString().c_str());
    }
    std::puts("\n== Walking a range (ixCity from Oslo to Rome), in index order");
    customers.SetIndexName("ixCity");
    customers.SetRange({"Oslo"}, {"Rome"});
    for (customers.First(); !customers.Eof(); customers.Next())
        Show(customers, "City;Name;CustID");
    customers.CancelRange();

    std::puts("\n== A filter by expression (City <> 'Lima' AND Name LIKE '%a%'), in name order");
    customers.SetIndexName("ixName");
    customers.SetFilter("City <> 'Lima' AND Name LIKE '%a%'");
    customers.SetFiltered(true);
    for (customers.First(); !customers.Eof(); customers.Next())
        Show(customers, "Name;City;CustID");
    std::printf("  %d of %d customers pass\n", customers.RecordCount(), 5);
    customers.SetFiltered(false);

    std::puts("\n== A master-detail pair: orders of each customer");
    TVekTable orders(nullptr);
    orders.SetDataBase(&db);
    orders.SetTableName("Orders");
    orders.FieldDefs()->Add("OrderID", ftAutoInc);
    orders.FieldDefs()->Add("CustID", ftInteger, 0, true);
    orders.FieldDefs()->Add("Item", ftString, 20);
    orders.FieldDefs()->Add("Amount", ftCurrency);
    orders.IndexDefs()->Add("ixOrderID", "OrderID", ixPrimary | ixUnique);
    orders.IndexDefs()->Add("ixCust", "CustID;OrderID", 0);
    orders.CreateTable();
    orders.SetIndexName("ixCust");
    orders.Open();
    TDataSource source(nullptr);
    source.SetDataSet(&customers);
    orders.SetMasterSource(&source);
    orders.SetMasterFields("CustID");
    customers.SetIndexName("ixCustID");
    const char* items[] = {"lamp", "desk", "chair", "shelf", "rug", "clock"};
    int item = 0;
    for (customers.First(); !customers.Eof(); customers.Next())
        for (int n = 0; n < customers.FieldByName("CustID")->AsInteger() % 3 + 1; ++n) {
            orders.Append(); // the detail takes its customer's key
            orders.FieldByName("Item")->SetAsString(items[item % 6]);
            orders.FieldByName("Amount")->SetAsFloat(12.5 * (++item));
            orders.Post();
        }
    for (customers.First(); !customers.Eof(); customers.Next()) {
        std::printf("  %s: %d order(s)\n", customers.FieldByName("Name")->AsString().c_str(), orders.RecordCount());
        for (orders.First(); !orders.Eof(); orders.Next())
            Show(orders, "OrderID;Item;Amount");
    }

    orders.Close();
    customers.Close();
    orders.SetMasterSource(nullptr);
    RunSql(db);

    std::puts("\n== Reconnecting: the data persisted");
    orders.Close();
    customers.Close();
    db.Close();
    db.Open();
    customers.Open();
    orders.Open();
    std::printf("  Customers: %d records, Orders: %d records\n", customers.RecordCount(), orders.RecordCount());
    customers.SetIndexName("ixName");
    for (customers.First(); !customers.Eof(); customers.Next())
        Show(customers, "Name;City;Notes");
    orders.Close();
    customers.Close();
    db.Close();
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder;
    bool scratch = false;
    if (argc > 1) {
        folder = argv[1];
        std::filesystem::create_directories(folder);
    } else {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvexdemo-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
        scratch = true;
    }
    int result = 0;
    try {
        Run(folder);
    } catch (const std::exception& e) {
        std::printf("\nFAILED: %s\n\n== The engine log\n", e.what());
        for (const std::string& line : GDBLogger->LogLines())
            std::printf("%s\n", line.c_str());
        result = 1;
    }
    if (scratch) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return result;
}
