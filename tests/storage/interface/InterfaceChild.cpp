// One connection in a process of its own for the multi-process tests of the
// block interfaces; see InterfaceChild.h for its command line.

#include "InterfaceChild.h"

#include "platform/FileIO.h"
#include "tests/storage/disk/DiskPattern.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>

using namespace orvex;

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const std::string path = argv[1];
    const int steps = std::stoi(argv[2]);
    const Cardinal seed = static_cast<Cardinal>(std::stoul(argv[3]));
    std::ofstream out(argv[4]);
    std::mt19937 random(seed);
    auto roll = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };

    std::map<Cardinal, Cardinal> held; // address -> tag
    Cardinal nextTag = seed * 1000000;
    try {
        TDiskMgr disk;
        disk.SetFileName(path);
        disk.SetPageSize(DefaultPageSize);
        disk.SetOpenFlags(fmOpenReadWrite | fmShareDenyNone);
        // Generous waits: the other process may hold the header for a while.
        disk.SetLockRetryCount(1000);
        disk.SetLockRetryInterval(5);
        disk.Open();
        TDiskIOInterface io;
        iotest::SetUpSharedInterface(io, &disk);

        for (int wait = 0; !FileExists(path + ".go"); ++wait) {
            if (wait > 10000)
                throw std::runtime_error("no go");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (int step = 0; step < steps; ++step) {
            const int op = roll(10);
            if (held.empty() || op < 5) {
                const Cardinal tag = ++nextTag;
                const Cardinal address =
                    io.AllocateNewAddress(iotest::SharedBlockSize, disktest::Pattern(iotest::SharedBlockSize, tag).data());
                if (held.contains(address))
                    throw std::runtime_error("block " + std::to_string(address) + " handed out twice");
                held[address] = tag;
            } else {
                auto it = std::next(held.begin(), roll(static_cast<int>(held.size())));
                if (op < 8) {
                    io.ReleaseBlock(it->first, iotest::SharedBlockSize);
                    held.erase(it);
                } else {
                    it->second = ++nextTag;
                    io.WriteBlock(it->first, iotest::SharedBlockSize,
                                  disktest::Pattern(iotest::SharedBlockSize, it->second).data());
                }
            }
        }
        io.Close();
        disk.Close();
    } catch (const std::exception& e) {
        out << "error " << e.what() << std::endl;
        return 1;
    }
    for (const auto& [address, tag] : held)
        out << "block " << address << ' ' << tag << '\n';
    out << "done" << std::endl;
    return 0;
}
