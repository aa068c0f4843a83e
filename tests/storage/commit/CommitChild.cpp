// The child program of the commit tests (see KVTable.h): a connection
// serving commands, or one churning through the crash test's transactions
// until it is killed.

#include "KVTable.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

using namespace orvex::committest;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: vek_commit_child serve|churn <database> [first transaction [budget]]\n";
        return 2;
    }
    const std::string mode = argv[1];
    const std::string path = argv[2];
    if (mode == "serve")
        return KVCommandLoop(path, std::cin, std::cout);
    if (mode != "churn" || argc < 4)
        return 2;
    try {
        TKVTable table(path);
        const bool big = argc > 4;
        if (big)
            table.Disk().SetSpillBudget(std::strtoll(argv[4], nullptr, 10));
        std::cout << "ready" << std::endl;
        for (std::uint32_t n = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));; ++n) {
            RunTransaction(n, table, big);
            std::cout << "done " << n << std::endl;
        }
    } catch (const std::exception& e) {
        std::cout << "error " << e.what() << std::endl;
        return 1;
    }
}
