// One database connection in a process of its own, for the multi-process
// tests of the connection; see ConnScenario.h for its commands.

#include "ConnScenario.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <memory>
#include <sstream>
#include <string>

using namespace orvex;

int main()
{
    TVekDataBase db(nullptr);
    std::unique_ptr<TTableDef> table;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        std::string reply = "ok";
        try {
            if (command == "open") {
                std::string path;
                Integer retries = 0, interval = 0;
                in >> path >> retries >> interval;
                db.SetDataBaseName(path);
                db.SetLockRetryMaximum(retries);
                db.SetLockRetryInterval(interval);
                db.Open();
            } else if (command == "table") {
                std::string name;
                in >> name;
                table = std::make_unique<TTableDef>(nullptr);
                db.OpenTable(name, table.get());
                reply += " " + std::to_string(table->TableID());
            } else if (command == "locktable") {
                Integer type = 0;
                in >> type;
                db.LockTable(table.get(), type);
            } else if (command == "unlocktable") {
                db.UnLockTable(table.get());
            } else if (command == "lockrecord" || command == "unlockrecord") {
                Cardinal address = 0;
                in >> address;
                if (command == "lockrecord")
                    db.LockRecord(table.get(), address);
                else
                    db.UnLockRecord(table.get(), address);
            } else if (command == "start") {
                db.StartTransaction();
            } else if (command == "commit") {
                db.Commit();
            } else if (command == "rollback") {
                db.Rollback();
            } else if (command == "create") {
                std::string name;
                in >> name;
                TTableDef def(nullptr);
                conntest::BuildCounterDef(def, name);
                db.CreateTable(&def, false);
            } else if (command == "get") {
                Cardinal address = 0;
                in >> address;
                db.LockTable(table.get(), VekLockRead);
                reply += " " + std::to_string(conntest::ReadCounter(*table, address));
                db.UnLockTable(table.get());
            } else if (command == "set") {
                Cardinal address = 0;
                Integer value = 0;
                in >> address >> value;
                db.LockTable(table.get(), VekLockWrite);
                conntest::WriteCounter(*table, address, value);
                db.UnLockTable(table.get());
            } else if (command == "bump") {
                Cardinal address = 0;
                int count = 0;
                in >> address >> count;
                // A transaction that could not have its locks in time is
                // tried again, as an application would.
                int retries = 0;
                for (int i = 0; i < count;) {
                    db.StartTransaction();
                    try {
                        db.LockTable(table.get(), VekLockWrite);
                        conntest::WriteCounter(*table, address, conntest::ReadCounter(*table, address) + 1);
                        db.Commit();
                        ++i;
                    } catch (const EVekDatabaseError& e) {
                        db.Rollback();
                        if (e.ErrorCode < 0x2800 || e.ErrorCode > 0x28FF || ++retries > 1000)
                            throw;
                        std::this_thread::sleep_for(std::chrono::milliseconds(1 + std::rand() % 20));
                    }
                }
            } else if (command == "close") {
                if (table)
                    db.CloseTable(table.get());
                table.reset();
                db.Close();
            } else {
                reply = "error 0 unknown command";
            }
        } catch (const EVekDatabaseError& e) {
            reply = "error " + std::to_string(e.ErrorCode);
        } catch (const std::exception& e) {
            reply = std::string("error -1 ") + e.what();
        }
        std::cout << reply << std::endl;
    }
    return 0;
}
