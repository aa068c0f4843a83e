// One connection in a process of its own for the end-to-end test of table
// definitions; see TableScenario.h for its command line.

#include "TableScenario.h"

#include <fstream>
#include <stdexcept>
#include <string>

using namespace orvex;
using namespace orvex::tabletest;

namespace {

void CheckRows(TDiskConnection& Connection, TTableDef& Stored, int Rows, bool Restructured)
{
    const std::string problem = CheckStoredTable(Connection.Tables(), Stored, Rows, Restructured);
    if (!problem.empty())
        throw std::runtime_error((Restructured ? "after the restructure: " : "before the restructure: ") + problem);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const std::string path = argv[1];
    const std::string definition = argv[2];
    const std::string key = argv[3] == std::string("-") ? "" : argv[3];
    const int rows = std::stoi(argv[4]);
    std::ofstream out(argv[5]);
    try {
        TDiskConnection connection(path, key);
        TTableDef stored(nullptr);
        LoadDefinition(stored, definition);
        CheckRows(connection, stored, rows, false);
        RestructureOnDisk(connection.Tables(), stored);
        SaveDefinition(stored, definition);
        CheckRows(connection, stored, rows, true);
    } catch (const std::exception& e) {
        out << "error " << e.what() << std::endl;
        return 1;
    }
    out << "ok" << std::endl;
    return 0;
}
