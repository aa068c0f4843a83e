#include "storage/vekCommon.h"

#include "host/DateUtils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvex {
namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() /
            ("orvex_logger_" + std::to_string(getpid()) + "_" + name))
        .string();
}

std::vector<std::string> ReadLines(const std::string& fileName)
{
    TStringList list;
    list.LoadFromFile(fileName);
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i)
        lines.push_back(list[i]);
    return lines;
}

// The text part of a log line: what follows " : ".
std::string TextOf(const std::string& line)
{
    auto pos = line.find(" : ");
    return pos == std::string::npos ? std::string() : line.substr(pos + 3);
}

std::vector<std::string> Texts(const TDBLogger& logger)
{
    std::vector<std::string> texts;
    for (const std::string& line : logger.LogLines())
        texts.push_back(TextOf(line));
    return texts;
}

void LogNumbered(TDBLogger& logger, int from, int to)
{
    for (int i = from; i <= to; ++i)
        logger.LogItem("Test", "msg " + std::to_string(i));
}

TEST(DBLoggerTest, TheGlobalLoggerAndItsLockExistBeforeAnyEngineCall)
{
    ASSERT_NE(GDBLogger, nullptr);
    ASSERT_NE(GDBLoggerLock, nullptr);
    EXPECT_EQ(GDBLogger->MaxLogItemCount(), 500);
}

TEST(DBLoggerTest, LineHoldsDateTimeCallerRightAlignedAndText)
{
    TDBLogger logger;
    TDateTime before = Now();
    logger.LogItem("TDiskMgr.Open", "Unable to open file");
    TDateTime after = Now();
    ASSERT_EQ(logger.LogItemCount(), 1);
    const std::string line = logger.LogItems()->Get(0);

    // "%10s; %30s : %s": the date and time, the caller padded to 30, the text.
    const std::string tail = "; " + std::string(30 - 13, ' ') + "TDiskMgr.Open : Unable to open file";
    ASSERT_GT(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    const std::string stamp = line.substr(0, line.size() - tail.size());
    EXPECT_GE(stamp.size(), 10u);
    const std::string trimmed = Trim(stamp);
    EXPECT_TRUE(trimmed == DateTimeToStr(before) || trimmed == DateTimeToStr(after)) << stamp;
}

TEST(DBLoggerTest, FullLogKeepsExactlyItsLimitNewestLast)
{
    TDBLogger logger;
    logger.SetMaxLogItemCount(3);
    LogNumbered(logger, 0, 9);
    EXPECT_EQ(Texts(logger), (std::vector<std::string>{"msg 7", "msg 8", "msg 9"}));

    TDBLogger standard;
    LogNumbered(standard, 1, 501);
    ASSERT_EQ(standard.LogItemCount(), 500);
    EXPECT_EQ(TextOf(standard.LogItems()->Get(0)), "msg 2");
    EXPECT_EQ(TextOf(standard.LogItems()->Get(499)), "msg 501");
}

TEST(DBLoggerTest, LoweringTheLimitKeepsTheNewestLines)
{
    TDBLogger logger;
    LogNumbered(logger, 0, 9);
    logger.SetMaxLogItemCount(3);
    EXPECT_EQ(logger.MaxLogItemCount(), 3);
    EXPECT_EQ(Texts(logger), (std::vector<std::string>{"msg 7", "msg 8", "msg 9"}));

    // A log already within the limit loses nothing.
    logger.SetMaxLogItemCount(3);
    EXPECT_EQ(logger.LogItemCount(), 3);
    logger.SetMaxLogItemCount(5);
    EXPECT_EQ(logger.LogItemCount(), 3);
}

TEST(DBLoggerTest, ZeroOrNegativeLimitKeepsEveryLine)
{
    for (int limit : {0, -1}) {
        TDBLogger logger;
        logger.SetMaxLogItemCount(limit);
        LogNumbered(logger, 1, 600);
        EXPECT_EQ(logger.LogItemCount(), 600) << limit;
    }
}

TEST(DBLoggerTest, NamedMonitorsCountFromZeroAndReset)
{
    TDBLogger logger;
    logger.NamedMonitorDelta("x", 5);
    EXPECT_EQ(logger.NamedMonitors()->Get(0), "x=5");
    logger.NamedMonitorDelta("x", -2);
    ASSERT_EQ(logger.NamedMonitors()->Count(), 1);
    EXPECT_EQ(logger.NamedMonitors()->Get(0), "x=3");

    logger.NamedMonitorReset("y", 40);
    logger.NamedMonitorDelta("y", 2);
    EXPECT_EQ(logger.NamedMonitors()->Values("y"), "42");

    // A value that is not a number counts as 0.
    logger.NamedMonitors()->SetValue("z", "abc");
    logger.NamedMonitorDelta("z", 7);
    EXPECT_EQ(logger.NamedMonitors()->Values("z"), "7");

    logger.LogItem("Test", "line");
    logger.Clear();
    EXPECT_EQ(logger.LogItemCount(), 0);
    EXPECT_EQ(logger.NamedMonitors()->Count(), 0);
}

std::vector<std::string> TraceDump(TDBLogger& logger)
{
    logger.SetMaxLogItemCount(0);
    logger.Clear();
    logger.DumpTraceToLog();
    return logger.LogLines();
}

TEST(DBLoggerTest, FreshTraceDumpsOneHundredZeroPairs)
{
    TDBLogger logger;
    std::vector<std::string> expected{"TraceLog"};
    expected.insert(expected.end(), 100, "Caller 0  Event 0");
    EXPECT_EQ(TraceDump(logger), expected);
}

TEST(DBLoggerTest, TraceRingKeepsTheLastHundredPairsOldestFirst)
{
    TDBLogger logger;
    for (int i = 1; i <= 105; ++i)
        logger.AddLogTraceItem(i, i);
    std::vector<std::string> expected{"TraceLog"};
    for (int i = 6; i <= 105; ++i)
        expected.push_back("Caller " + std::to_string(i) + "  Event " + std::to_string(i));
    EXPECT_EQ(TraceDump(logger), expected);

    // Exactly 100 pairs: the ring is full and starts at its first slot.
    TDBLogger hundred;
    for (int i = 1; i <= 100; ++i)
        hundred.AddLogTraceItem(i, -i);
    std::vector<std::string> lines = TraceDump(hundred);
    ASSERT_EQ(lines.size(), 101u);
    EXPECT_EQ(lines[1], "Caller 1  Event -1");
    EXPECT_EQ(lines[100], "Caller 100  Event -100");

    hundred.ClearLogTrace();
    lines = TraceDump(hundred);
    EXPECT_EQ(lines[1], "Caller 0  Event 0");
    EXPECT_EQ(lines[100], "Caller 0  Event 0");
}

TEST(DBLoggerTest, SavesToAFileOnRequestAndWhenFreed)
{
    const std::string path = TempPath("save.txt");
    const std::string outPath = TempPath("out.txt");
    std::remove(path.c_str());
    std::remove(outPath.c_str());
    {
        TDBLogger logger;
        LogNumbered(logger, 1, 3);
        logger.SaveLogToFile("");
        logger.SaveLogToFile(path);
        std::vector<std::string> saved = ReadLines(path);
        EXPECT_EQ(saved, logger.LogLines());

        logger.SetOutputFileName(outPath);
        EXPECT_EQ(logger.OutputFileName(), outPath);
        logger.LogItem("Test", "last");
    }
    std::vector<std::string> written = ReadLines(outPath);
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(TextOf(written[3]), "last");
    std::remove(path.c_str());
    std::remove(outPath.c_str());
}

TEST(DBLoggerTest, FailedSaveRaisesOnRequestAndIsDroppedWhenFreed)
{
    const std::string badPath = TempPath("missing_dir") + "/log.txt";
    auto* logger = new TDBLogger;
    logger->LogItem("Test", "line");
    EXPECT_THROW(logger->SaveLogToFile(badPath), Exception);
    logger->SetOutputFileName(badPath);
    delete logger;
}

TEST(DBLoggerTest, PlainSettersStoreTheirValues)
{
    TDBLogger logger;
    EXPECT_FALSE(logger.Active());
    logger.SetActive(true);
    logger.SetDumpMod(17);
    EXPECT_TRUE(logger.Active());
    EXPECT_EQ(logger.DumpMod(), 17);
}

TEST(DBLoggerDeathTest, GlobalLoggerWritesItsOutputFileAtShutDown)
{
    const std::string path = TempPath("shutdown.txt");
    std::remove(path.c_str());
    // The child process ends normally, which runs the engine's shut-down.
    EXPECT_EXIT(
        {
            GDBLogger->SetOutputFileName(path);
            GDBLogger->LogItem("Shutdown", "written at exit");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(TextOf(lines.back()), "written at exit");
    std::remove(path.c_str());
}

// Several threads log, count and trace at once into one logger: every line
// arrives whole, none is lost, and the counter sees every delta.
TEST(DBLoggerTest, ThreadsLogConcurrentlyWithoutLossOrCorruption)
{
    constexpr int Threads = 8;
    constexpr int PerThread = 300;
    TDBLogger logger;
    logger.SetMaxLogItemCount(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < PerThread; ++i) {
                logger.LogItem("Thread" + std::to_string(t), "item " + std::to_string(i));
                logger.NamedMonitorDelta("count", 1);
                logger.AddLogTraceItem(t, i);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::vector<std::string> lines = logger.LogLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(Threads * PerThread));
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        auto sep = line.find("; ");
        ASSERT_NE(sep, std::string::npos) << line;
        std::string caller = Trim(line.substr(sep + 2, 30));
        seen.insert(caller + "/" + TextOf(line));
    }
    EXPECT_EQ(seen.size(), lines.size());
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i)
            EXPECT_TRUE(seen.count("Thread" + std::to_string(t) + "/item " + std::to_string(i)));
    EXPECT_EQ(logger.NamedMonitors()->Values("count"), std::to_string(Threads * PerThread));
}

TEST(DBLoggerTest, ThreadsKeepALimitedLogAtItsLimit)
{
    TDBLogger logger;
    logger.SetMaxLogItemCount(50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&logger] { LogNumbered(logger, 1, 500); });
    // The limit changes while the threads log.
    threads.emplace_back([&logger] {
        for (int i = 0; i < 100; ++i)
            logger.SetMaxLogItemCount(i % 2 ? 50 : 20);
    });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(logger.MaxLogItemCount(), 50);
    EXPECT_LE(logger.LogItemCount(), 50);
    EXPECT_GE(logger.LogItemCount(), 20);
}

} // namespace
} // namespace orvex
