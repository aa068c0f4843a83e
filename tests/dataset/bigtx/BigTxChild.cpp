// The child program of the big-transaction tests: one connection inserting
// many records through a table component in one transaction, in a process
// of its own so that its peak resident memory is its own.
//
//   vek_bigtx_child <database> <records> <budget bytes> commit|rollback
//       creates the table "Big" (ID integer with the index "ixID", Name
//       string(100)) unless it exists, closes and opens the connection
//       again, then inserts IDs 0 .. records - 1 in one transaction and
//       commits or rolls it back. It writes "start <KiB>" (VmHWM before the
//       transaction), "peak <KiB>" (VmHWM after it) and "done".
// Any failure writes "error <text>" and exits with 1.

#include "dataset/vekDatabase.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

using namespace orvex;

namespace {

// The peak resident set of this process so far, in KiB.
long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void CreateBigTable(TVekDataBase& Db)
{
    TVekTable table(nullptr);
    table.SetDataBase(&Db);
    table.SetTableName("Big");
    table.FieldDefs()->Add("ID", ftInteger, 0, true);
    table.FieldDefs()->Add("Name", ftString, 100);
    table.IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
    table.CreateTable();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::cerr << "usage: vek_bigtx_child <database> <records> <budget> commit|rollback\n";
        return 2;
    }
    try {
        const std::string path = argv[1];
        const long records = std::strtol(argv[2], nullptr, 10);
        {
            TVekDataBase db(nullptr);
            db.SetDataBaseName(path);
            db.Open();
            if (!db.TableExists("Big", false))
                CreateBigTable(db);
        }
        TVekDataBase db(nullptr);
        db.SetDataBaseName(path);
        db.SetTransactionPageBudget(std::strtoll(argv[3], nullptr, 10));
        db.Open();
        TVekTable table(nullptr);
        table.SetDataBase(&db);
        table.SetTableName("Big");
        table.SetIndexName("ixID");
        table.Open();
        TField* id = table.FieldByName("ID");
        TField* name = table.FieldByName("Name");
        std::string text(100, 'x');
        std::cout << "start " << PeakResidentKiB() << std::endl;
        db.StartTransaction();
        for (long n = 0; n < records; ++n) {
            table.Append();
            id->SetAsInteger(static_cast<Integer>(n));
            for (int i = 0; i < 8; ++i)
                text[static_cast<std::size_t>(i)] = static_cast<char>('a' + (n >> (3 * i)) % 26);
            name->SetAsString(text);
            table.Post();
        }
        if (std::string(argv[4]) == "rollback")
            db.Rollback();
        else
            db.Commit();
        std::cout << "peak " << PeakResidentKiB() << std::endl;
        table.Close();
        db.Close();
        std::cout << "done" << std::endl;
    } catch (const std::exception& e) {
        std::cout << "error " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
