// The child program of the table process tests: one connection to a
// database file and one table component on the table "Shared", in a process
// of its own.
//
//   vek_table_child <database> work <worker> <operations> <output>
//       adds and edits records of its own (IDs worker * 1000000 + n) with
//       random values, and writes "<ID> <Value>" per record it owns, in the
//       end state, into <output>.
//   vek_table_child <database> stale <ID> <signal folder> <output>
//       edits record <ID>, writes "editing" into <folder>/editing, waits for
//       <folder>/go, posts, and writes the engine error code of the post
//       (0 when it went through) into <output>; then adds the record
//       <ID> + 1 with the value 5 and exits.
// Any failure writes "error <text>" into <output> and exits with 1.

#include "dataset/vekDatabase.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

using namespace orvex;

namespace {

void OpenTable(TVekDataBase& Db, TVekTable& Table, const std::string& Path)
{
    Db.SetDataBaseName(Path);
    Db.SetLockRetryInterval(5);
    Db.SetLockRetryMaximum(2000);
    Db.Open();
    Table.SetDataBase(&Db);
    Table.SetTableName("Shared");
    Table.SetIndexName("ixID");
    Table.Open();
}

int Work(const std::string& Path, int Worker, int Operations, const std::string& Output)
{
    TVekDataBase db(nullptr);
    TVekTable table(nullptr);
    OpenTable(db, table, Path);
    std::mt19937 random(static_cast<unsigned>(Worker * 7919));
    std::map<int, int> values;
    int next = 0;
    for (int op = 0; op < Operations; ++op) {
        const int value = static_cast<int>(random() % 1000000);
        if (values.empty() || random() % 3 == 0) {
            const int id = Worker * 1000000 + ++next;
            table.Append();
            table.FieldByName("ID")->SetAsInteger(id);
            table.FieldByName("Owner")->SetAsInteger(Worker);
            table.FieldByName("Value")->SetAsInteger(value);
            table.Post();
            values[id] = value;
        } else {
            auto it = values.begin();
            std::advance(it, static_cast<long>(random() % values.size()));
            if (!table.FindKey({it->first}))
                throw std::runtime_error("own record missing: " + std::to_string(it->first));
            table.Edit();
            table.FieldByName("Value")->SetAsInteger(value);
            table.Post();
            it->second = value;
        }
    }
    table.Close();
    db.Close();
    std::ofstream out(Output);
    for (const auto& [id, value] : values)
        out << id << ' ' << value << '\n';
    return 0;
}

int Stale(const std::string& Path, int ID, const std::string& Folder, const std::string& Output)
{
    TVekDataBase db(nullptr);
    TVekTable table(nullptr);
    OpenTable(db, table, Path);
    if (!table.FindKey({ID}))
        throw std::runtime_error("record missing");
    table.Edit();
    table.FieldByName("Value")->SetAsInteger(999);
    std::ofstream(Folder + "/editing") << "editing";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(Folder + "/go") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    int code = 0;
    try {
        table.Post();
    } catch (const EVekDatabaseError& e) {
        code = e.ErrorCode;
        table.Cancel();
    }
    // The rest of its work goes on.
    table.Append();
    table.FieldByName("ID")->SetAsInteger(ID + 500000);
    table.FieldByName("Owner")->SetAsInteger(9);
    table.FieldByName("Value")->SetAsInteger(5);
    table.Post();
    table.Close();
    db.Close();
    std::ofstream(Output) << code;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const std::string output = argv[5];
    try {
        const std::string mode = argv[2];
        if (mode == "work")
            return Work(argv[1], std::stoi(argv[3]), std::stoi(argv[4]), output);
        if (mode == "stale")
            return Stale(argv[1], std::stoi(argv[3]), argv[4], output);
        throw std::runtime_error("unknown mode " + mode);
    } catch (const std::exception& e) {
        std::ofstream(output) << "error " << e.what();
        return 1;
    }
}
