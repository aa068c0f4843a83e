// The child program of the restructure process tests:
//
//   vek_restr_child <database> restructure   adds the field "Extra" to "People"
//   vek_restr_child <database> rebuild       rebuilds "People" from its backup
//   vek_restr_child <database> reindex       rebuilds the indexes of "People"
//   vek_restr_child <database> empty         empties "People"
//   vek_restr_child <database> count <out>   writes the record count of
//                                            "People" and the sum of its IDs,
//                                            the same through every index
//                                            (else "mismatch")
// The parent kills it with SIGKILL in the middle of the first two.

#include "dataset/vekDatabase.h"

#include <fstream>
#include <string>

using namespace orvex;

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[2];
    try {
        TVekDataBase db(nullptr);
        db.SetDataBaseName(argv[1]);
        db.SetExclusive(mode != "count");
        db.Open();
        TVekTable table(nullptr);
        table.SetDataBase(&db);
        table.SetTableName("People");
        if (mode == "restructure") {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            table.Open();
            fields.Assign(table.FieldDefs());
            indexes.Assign(table.IndexDefs());
            table.Close();
            fields.AddAndSetFieldDef("Extra", ftInteger, 0);
            TInternalRestructureRecord request;
            request.NewFieldDefs = &fields;
            request.NewIndexDefs = &indexes;
            table.RestructureTable(request);
        } else if (mode == "rebuild") {
            table.RebuildTable();
        } else if (mode == "reindex") {
            table.Open();
            table.ReIndex(false);
            table.Close();
        } else if (mode == "empty") {
            table.Open();
            table.EmptyTable();
            table.Close();
        } else if (mode == "count" && argc > 3) {
            table.Open();
            std::string first;
            bool agree = true;
            for (const char* index : {"ixID", "ixName"}) {
                table.SetIndexName(index);
                long long sum = 0;
                int count = 0;
                table.First();
                while (!table.Eof()) {
                    sum += table.FieldByName("ID")->AsInteger();
                    ++count;
                    table.Next();
                }
                const std::string text = std::to_string(count) + " " + std::to_string(sum);
                if (first.empty())
                    first = text;
                else if (text != first)
                    agree = false;
            }
            table.Close();
            std::ofstream(argv[3]) << (agree ? first : std::string("mismatch"));
        }
        db.Close();
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}
