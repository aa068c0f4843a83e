// Results in bounded memory, in a child process: it sorts
// (SELECT k, v FROM big ORDER BY v) and groups
// (SELECT k, COUNT(*), SUM(v) FROM big GROUP BY k) a generated table once
// with a small result memory budget (the results go to the temporary
// database) and once with an unbounded one (they stay in memory); both give
// the rows the generator implies, and the temporary file is gone after
// disconnecting.
//
// CI runs 8,000 rows. The acceptance case, 10,000,000 rows with the default
// 32 MiB budget and a peak resident set under 128 MiB, runs with
//   ORVEX_STORE_ROWS=10000000
// (from the release build: build/release/tests/orvex_tests_query
//  --gtest_filter='ResultStoreProcess.*'); the README gives its time.

#include "../storage/vekEngineTestUtil.h"
#include "platform/FileIO.h"
#include "tests/vekTestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace orvex {
namespace {

// The child's output lines by their first word.
struct TChildRun {
    std::map<std::string, std::string> Lines;
    std::string Output;
    std::string Word(const std::string& Key) const
    {
        const auto found = Lines.find(Key);
        return found == Lines.end() ? std::string() : found->second;
    }
};

TChildRun RunChild(const std::string& Folder, long Rows, long Budget)
{
    const std::string command = "ASAN_OPTIONS=quarantine_size_mb=4:detect_leaks=1 " + std::string(VEK_STORE_CHILD) +
                                " '" + Folder + "' " + std::to_string(Rows) + " " + std::to_string(Budget);
    TChildRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        run.Output += line;
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        const auto space = text.find(' ');
        run.Lines[text.substr(0, space)] = space == std::string::npos ? std::string() : text.substr(space + 1);
    }
    ::pclose(pipe);
    return run;
}

TEST(ResultStoreProcess, SortAndGroupPastTheBudgetEqualTheInMemoryRunAndLeaveNoFile)
{
    const long rows = EnvNumber("ORVEX_STORE_ROWS", 8000);
    enginetest::TTempDir bounded("vekstore");
    const TChildRun spilled = RunChild(bounded.Path(), rows, rows >= 1000000 ? 32L * 1024 * 1024 : 64 * 1024);
    ASSERT_EQ(spilled.Lines.count("done"), 1u) << spilled.Output;
    EXPECT_EQ(spilled.Word("temporary"), "1") << spilled.Output;
    EXPECT_EQ(spilled.Word("gone"), "1") << spilled.Output;
    std::istringstream order(spilled.Word("orderby"));
    long count = 0;
    int sorted = 0;
    std::string orderDigest;
    order >> count >> sorted >> orderDigest;
    EXPECT_EQ(count, rows);
    EXPECT_EQ(sorted, 1);
    std::istringstream group(spilled.Word("groupby"));
    long groups = 0;
    long counted = 0;
    std::string groupDigest;
    group >> groups >> counted >> groupDigest;
    EXPECT_EQ(groups, std::max(rows / 100, 1L));
    EXPECT_EQ(counted, rows);
    // Every row, at any size: the digests the generator implies.
    std::istringstream expected(spilled.Word("expected"));
    std::string expectedOrder;
    std::string expectedGroup;
    expected >> expectedOrder >> expectedGroup;
    EXPECT_EQ(orderDigest, expectedOrder) << spilled.Output;
    EXPECT_EQ(groupDigest, expectedGroup) << spilled.Output;
    RecordProperty("seconds", spilled.Word("seconds"));
    RecordProperty("peak_kib", spilled.Word("peak"));
    if (rows >= 1000000) {
        EXPECT_LT(std::strtol(spilled.Word("peak").c_str(), nullptr, 10), 128L * 1024) << spilled.Output;
    }

    // The same rows from results kept in memory (at the CI size only: at the
    // acceptance size they would take gigabytes).
    if (rows < 1000000) {
        enginetest::TTempDir unbounded("vekstore");
        const TChildRun memory = RunChild(unbounded.Path(), rows, 1L << 40);
        ASSERT_EQ(memory.Lines.count("done"), 1u) << memory.Output;
        EXPECT_EQ(memory.Word("temporary"), "0") << memory.Output;
        EXPECT_EQ(memory.Word("orderby"), spilled.Word("orderby"));
        EXPECT_EQ(memory.Word("groupby"), spilled.Word("groupby"));
    }
    // Nothing left in the temporary folder.
    EXPECT_TRUE(FolderEntries(bounded.Path() + "/tmp").empty());
}

} // namespace
} // namespace orvex
