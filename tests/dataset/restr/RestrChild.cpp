// The child program of the restructure process tests:
//
//   vek_restr_child <database> restructure        adds the field "Extra" to "People"
//   vek_restr_child <database> restructure-index  adds the index "ixNameID" by a restructure
//   vek_restr_child <database> addindex           adds the index "ixNameID" (AddIndex)
//   vek_restr_child <database> deleteindex        deletes the index "ixName"
//   vek_restr_child <database> rebuild            rebuilds "People" from its backup
//   vek_restr_child <database> reindex            rebuilds the indexes of "People"
//   vek_restr_child <database> empty              empties "People"
//   vek_restr_child <database> count <out>        writes "<count> <sum of IDs> | <fields> |
//                                                 <indexes>" of "People", the count and sum
//                                                 the same through every index (else
//                                                 "mismatch")
// The parent kills it with SIGKILL in the middle of the changes.

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
        if (mode == "restructure" || mode == "restructure-index") {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            table.Open();
            fields.Assign(table.FieldDefs());
            indexes.Assign(table.IndexDefs());
            table.Close();
            if (mode == "restructure")
                fields.AddAndSetFieldDef("Extra", ftInteger, 0);
            else
                indexes.AddAndSetIndexDef("ixNameID", "Name;ID", 0);
            TInternalRestructureRecord request;
            request.NewFieldDefs = &fields;
            request.NewIndexDefs = &indexes;
            table.RestructureTable(request);
        } else if (mode == "addindex") {
            table.AddIndex("ixNameID", "Name;ID", 0);
        } else if (mode == "deleteindex") {
            table.DeleteIndex("ixName");
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
            std::string fields;
            for (int i = 0; i < table.FieldDefs()->Count(); ++i)
                fields += (i ? " " : "") + table.FieldDefs()->Items(i)->Name();
            std::string indexes;
            for (int i = 0; i < table.IndexDefs()->Count(); ++i) {
                const std::string index = table.IndexDefs()->Items(i)->Name();
                indexes += (i ? " " : "") + index;
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
            std::ofstream(argv[3]) << (agree ? first + " | " + fields + " | " + indexes : std::string("mismatch"));
        }
        db.Close();
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}
