#include "platform/Process.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvex {
namespace {

TEST(ProcessTest, StartsAProgramAndWaitsForItsExit)
{
    std::uint32_t error = 0;
    auto child = TChildProcess::Start({"/bin/sh", {"-c", "exit 3"}, ""}, error);
    ASSERT_TRUE(child) << error;
    EXPECT_EQ(child->WaitFor(-1), TProcessWait::Exited);
    EXPECT_EQ(child->ExitCode(), 3);
    EXPECT_FALSE(child->Running());
}

TEST(ProcessTest, AWaitEndsAtItsTimeout)
{
    TTempWindowsRoot root;
    std::uint32_t error = 0;
    auto child = TChildProcess::Start({"/bin/sh", {"-c", "sleep 0.5; pwd > where.txt"}, root.Path()}, error);
    ASSERT_TRUE(child) << error;
    EXPECT_EQ(child->WaitFor(20), TProcessWait::TimedOut);
    EXPECT_TRUE(child->Running());
    EXPECT_EQ(child->WaitFor(-1), TProcessWait::Exited);
    EXPECT_EQ(child->ExitCode(), 0);
    std::string where;
    std::ifstream(root.Path() + "/where.txt") >> where;
    EXPECT_EQ(std::filesystem::canonical(where), std::filesystem::canonical(root.Path()));
}

TEST(ProcessTest, FailedStartsGiveWindowsCodes)
{
    TTempWindowsRoot root;
    std::ofstream(root.Path() + "/readme.txt") << "just text";
    std::ofstream(root.Path() + "/broken.exe") << "\x01\x02\x03 not a program";
    std::filesystem::permissions(root.Path() + "/broken.exe", std::filesystem::perms::owner_all);
    struct TCase {
        std::string Program, Directory;
        std::uint32_t Error;
    };
    const TCase cases[] = {
        {root.Path() + "/missing.exe", "", SE_ERR_FNF},
        {root.Path() + "/nowhere/missing.exe", "", SE_ERR_PNF},
        {"/bin/sh", root.Path() + "/nowhere", SE_ERR_PNF},
        {root.Path() + "/readme.txt", "", SE_ERR_NOASSOC},
        {root.Path() + "/broken.exe", "", SE_ERR_BAD_FORMAT},
    };
    for (const TCase& c : cases) {
        std::uint32_t error = 0;
        EXPECT_FALSE(TChildProcess::Start({c.Program, {}, c.Directory}, error)) << c.Program;
        EXPECT_EQ(error, c.Error) << c.Program;
    }
}

TEST(ProcessTest, CommandLinesSplitAsOnWindows)
{
    struct TCase {
        const char* Line;
        std::vector<std::string> Args;
    };
    const TCase cases[] = {
        {"", {}},
        {"  /REGSERVER  ", {"/REGSERVER"}},
        {"-r \"-sC:\\My Build\" -c", {"-r", "-sC:\\My Build", "-c"}},
        {"a\\\\b \"c\\\"d\" e\\\\\"f g\"", {"a\\\\b", "c\"d", "e\\f g"}},
        {"\"\" x", {"", "x"}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(SplitCommandLine(c.Line), c.Args) << c.Line;
}

} // namespace
} // namespace orvex
