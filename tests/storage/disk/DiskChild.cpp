// One database connection in a process of its own, for the multi-process
// tests of the database file:
//   vek_disk_child <database> <page size> <table id> <access flags> <steps> <seed>
// It waits for a line on standard input, then allocates, rewrites and
// releases pages of its table (some steps inside transactions) for the given
// number of steps, and finally prints one line "page <address> <tag>" for
// every page it still holds, where the page's bytes are the test pattern of
// <tag>, and "done". A failure prints "error <message>" and exits with 1.

#include "DiskPattern.h"
#include "storage/vekDisk.h"

#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace orvex;

using orvex::disktest::Pattern;

// "The requested lock could not be obtained. The request timed out"
constexpr Integer TransactionLockTimeout = 10249;

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::cout << "error usage" << std::endl;
        return 1;
    }
    const std::string path = argv[1];
    const Integer pageSize = std::stoi(argv[2]);
    const Integer table = std::stoi(argv[3]);
    const Cardinal flags = static_cast<Cardinal>(std::stoul(argv[4]));
    const int steps = std::stoi(argv[5]);
    std::mt19937 random(static_cast<std::mt19937::result_type>(std::stoul(argv[6])));
    auto roll = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };

    std::map<Cardinal, Cardinal> held; // address -> tag
    Cardinal nextTag = static_cast<Cardinal>(table) * 1000000;
    try {
        TDiskMgr disk;
        disk.SetFileName(path);
        disk.SetPageSize(pageSize);
        disk.SetOpenFlags(fmOpenReadWrite | fmShareDenyNone);
        // Generous waits: the other process may hold the header for a while.
        disk.SetLockRetryCount(3000); // patient on a loaded machine
        disk.SetLockRetryInterval(10);
        disk.Open();
        disk.SetCryptKey("shared key");

        std::string go;
        std::getline(std::cin, go);

        auto allocate = [&](Integer count, std::map<Cardinal, Cardinal>& into) {
            std::vector<Byte> pages;
            const Cardinal first = nextTag;
            for (Integer i = 0; i < count; ++i) {
                const auto page = Pattern(static_cast<std::size_t>(pageSize), nextTag++);
                pages.insert(pages.end(), page.begin(), page.end());
            }
            const Cardinal address = disk.WriteNewPages(table, flags, 9, count, pages.data());
            for (Integer i = 0; i < count; ++i)
                into[address + static_cast<Cardinal>(i * pageSize)] = first + static_cast<Cardinal>(i);
        };
        auto release = [&](std::map<Cardinal, Cardinal>& from) {
            if (from.empty())
                return;
            auto it = from.begin();
            std::advance(it, roll(static_cast<int>(from.size())));
            disk.ReleasePages(it->first, 1);
            from.erase(it);
        };

        for (int step = 0; step < steps; ++step) {
            const int choice = roll(10);
            if (choice < 6) {
                allocate(1 + roll(3), held);
            } else if (choice < 8) {
                release(held);
            } else if (choice < 9 && !held.empty()) {
                auto it = held.begin();
                std::advance(it, roll(static_cast<int>(held.size())));
                it->second = nextTag++;
                const auto page = Pattern(static_cast<std::size_t>(pageSize), it->second);
                disk.WritePages(it->first, 1, table, flags, page.data());
            } else {
                // The other process's transaction may outlast the transaction
                // lock's fixed retries on a busy machine: like a program, roll
                // back and try the whole transaction again.
                const int allocated = 1 + roll(2);
                const bool rollBack = roll(4) == 0;
                for (int attempt = 1;; ++attempt) {
                    auto inTransaction = held;
                    disk.DiskStartTransaction(false);
                    try {
                        allocate(allocated, inTransaction);
                        release(inTransaction);
                        allocate(1, inTransaction);
                    } catch (const EVekDatabaseError& e) {
                        disk.DiskRollback();
                        if (e.ErrorCode != TransactionLockTimeout || attempt == 20)
                            throw;
                        continue;
                    }
                    if (rollBack) {
                        disk.DiskRollback();
                    } else {
                        disk.DiskCommit();
                        held = inTransaction;
                    }
                    break;
                }
            }
        }
        // What this process holds must read back right through its own cache.
        std::vector<Byte> page(static_cast<std::size_t>(pageSize));
        for (const auto& [address, tag] : held) {
            disk.ReadPages(address, 1, table, flags, page.data());
            if (page != Pattern(page.size(), tag)) {
                std::cout << "error page " << address << " does not hold tag " << tag << std::endl;
                return 1;
            }
        }
        disk.Close();
    } catch (const std::exception& e) {
        std::cout << "error " << e.what() << std::endl;
        return 1;
    }
    for (const auto& [address, tag] : held)
        std::cout << "page " << address << " " << tag << "\n";
    std::cout << "done" << std::endl;
    return 0;
}
