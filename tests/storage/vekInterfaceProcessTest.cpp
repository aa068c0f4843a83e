// Two processes allocating, rewriting and releasing blocks of one global
// free chain at the same time: no block is ever held by both, every held
// block keeps what its process wrote, and the chain and the held blocks
// together are exactly the blocks of the pages.

#include "interface/InterfaceChild.h"
#include "vekInterfaceTestUtil.h"

#include "platform/Process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace orvex {
namespace {

using disktest::Pattern;
using iotest::FreeBlocks;
using iotest::ReadBytes;
using iotest::TDatabaseFixture;

TEST(InterfaceProcesses, TwoProcessesShareTheGlobalChainAndNeverHoldTheSameBlock)
{
    TDatabaseFixture db;
    const std::string path = db.Path();
    const Cardinal seeds[] = {1, 2};
    std::vector<std::unique_ptr<TChildProcess>> children;
    for (Cardinal seed : seeds) {
        std::uint32_t error = 0;
        children.push_back(TChildProcess::Start(
            {VEK_INTERFACE_CHILD, {path, "5000", std::to_string(seed), path + "." + std::to_string(seed)}, ""},
            error));
        ASSERT_TRUE(children.back()) << "error " << error;
    }
    std::ofstream(path + ".go") << "go";

    std::map<Cardinal, Cardinal> held; // address -> tag
    for (std::size_t i = 0; i < children.size(); ++i) {
        ASSERT_EQ(children[i]->WaitFor(120000), TProcessWait::Exited);
        std::ifstream output(path + "." + std::to_string(seeds[i]));
        const std::string text{std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>()};
        ASSERT_EQ(children[i]->ExitCode(), 0) << text;
        ASSERT_NE(text.find("done"), std::string::npos) << text;
        std::istringstream lines(text);
        std::string word;
        Cardinal address = 0, tag = 0;
        while (lines >> word && word == "block" && lines >> address >> tag)
            EXPECT_TRUE(held.emplace(address, tag).second) << "block " << address << " is held by both processes";
    }
    ASSERT_GT(held.size(), 100u);

    TDiskIOInterface io;
    iotest::SetUpSharedInterface(io, db.Disk());
    for (const auto& [address, tag] : held)
        EXPECT_EQ(ReadBytes(io, address, iotest::SharedBlockSize), Pattern(iotest::SharedBlockSize, tag))
            << "block " << address;
    const std::set<Cardinal> free = FreeBlocks(io, io.GetGlobalFirstEmpty());
    std::vector<Cardinal> listed;
    io.ListBlocks(listed);
    EXPECT_EQ(listed.size(), held.size() + free.size());
    for (Cardinal block : listed)
        EXPECT_NE(held.contains(block), free.contains(block)) << "block " << block;
}

} // namespace
} // namespace orvex
