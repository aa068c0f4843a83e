// The child program of the system-table tests: one connection in a process
// of its own.
//   gen <database> <generator> <count> <out> <go>
//                                             once the file <go> exists, takes
//                                             <count> values of the generator,
//                                             one per line
//   describe <database> <out>                 the field and index definitions
//                                             of every table
//   addindex <database> <table> <index> <fields>
//                                             adds a non-unique index
//   dropindex <database> <table> <index>      deletes an index
// Exit code 0 on success, 1 on an error (its message on standard error).

#include "SysTblDescribe.h"

#include "host/SysUtils.h"
#include "platform/FileIO.h"

#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

using namespace orvex;

int main(int argc, char** argv)
{
    try {
        if (argc < 2)
            return 2;
        const std::string mode = argv[1];
        TVekDataBase db(nullptr);
        db.SetDataBaseName(argv[2]);
        db.SetLockRetryMaximum(5000);
        db.SetLockRetryInterval(2);
        db.Open();
        if (mode == "gen" && argc == 7) {
            while (!FileExists(argv[6]))
                Sleep(1);
            const int count = std::atoi(argv[4]);
            std::ofstream out(argv[5]);
            for (int i = 0; i < count; ++i)
                out << db.GetGeneratorValue(argv[3], false) << '\n';
        } else if (mode == "describe" && argc == 4) {
            std::ofstream out(argv[3]);
            out << systbltest::DescribeDatabase(db);
        } else if ((mode == "addindex" && argc == 6) || (mode == "dropindex" && argc == 5)) {
            TVekTable table(nullptr);
            table.SetDataBase(&db);
            table.SetTableName(argv[3]);
            if (mode == "addindex")
                table.AddIndex(argv[4], argv[5], 0);
            else
                table.DeleteIndex(argv[4]);
        } else {
            return 2;
        }
        db.Close();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
