// A small program using the installed engine: it creates a database in the
// folder it is given, adds a table with a primary index, writes a few
// records, reconnects, finds one by its key and runs an SQL query.
//
//   orvex_consumer <folder>

#include "dataset/vekDatabase.h"
#include "query/vekSQL.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace orvex;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvex_consumer <folder>\n");
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/consumer.vek";
    try {
        {
            TVekDataBase creator(nullptr);
            creator.SetDataBaseName(path);
            creator.CreateDatabase();
        }
        TVekDataBase db(nullptr);
        db.SetDataBaseName(path);
        db.Open();
        {
            TVekTable parts(nullptr);
            parts.SetDataBase(&db);
            parts.SetTableName("Parts");
            parts.FieldDefs()->Add("PartNo", ftInteger, 0, true);
            parts.FieldDefs()->Add("Name", ftString, 30);
            parts.IndexDefs()->Add("ixPartNo", "PartNo", ixPrimary | ixUnique);
            parts.CreateTable();
            parts.Open();
            const char* names[] = {"bolt", "nut", "washer", "spring"};
            for (int i = 0; i < 4; ++i) {
                parts.Append();
                parts.FieldByName("PartNo")->SetAsInteger(100 + i);
                parts.FieldByName("Name")->SetAsString(names[i]);
                parts.Post();
            }
            parts.Close();
        }
        db.Close();
        db.Open();
        TVekTable parts(nullptr);
        parts.SetDataBase(&db);
        parts.SetTableName("Parts");
        parts.SetIndexName("ixPartNo");
        parts.Open();
        if (parts.RecordCount() != 4 || !parts.FindKey({102})) {
            std::fprintf(stderr, "the records did not come back\n");
            return 1;
        }
        std::printf("%d parts; part 102 is %s\n", parts.RecordCount(),
                    parts.FieldByName("Name")->AsString().c_str());
        parts.Close();

        TVekQuery query(nullptr);
        query.SetDataBase(&db);
        query.SetSQLText("SELECT Name FROM Parts WHERE PartNo > :low ORDER BY Name");
        query.ParamByName("low")->SetAsInteger(101);
        query.Open();
        std::printf("parts after 101 by name:");
        for (query.First(); !query.Eof(); query.Next())
            std::printf(" %s", query.FieldByName("Name")->AsString().c_str());
        std::printf("\n");
        query.Close();
        db.Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
