#include "host/SysUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace orvex {
namespace {

TEST(RandomTest, ASeedRepeatsItsSequence)
{
    RandSeed(12345);
    std::vector<int> first;
    for (int i = 0; i < 50; ++i)
        first.push_back(Random(1000));
    RandSeed(12345);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(Random(1000), first[static_cast<std::size_t>(i)]);
    RandSeed(54321);
    std::vector<int> other;
    for (int i = 0; i < 50; ++i)
        other.push_back(Random(1000));
    EXPECT_NE(first, other);
}

TEST(RandomTest, ValuesStayInRangeAndSpreadOverIt)
{
    RandSeed(7);
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        const int v = Random(40);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 40);
        seen.insert(v);
        const double f = RandomFloat();
        ASSERT_GE(f, 0.0);
        ASSERT_LT(f, 1.0);
    }
    EXPECT_EQ(seen.size(), 40u);
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(-5), 0);
    EXPECT_EQ(Random(1), 0);
    for (int i = 0; i < 100; ++i) {
        const int v = Random(2147483647);
        ASSERT_GE(v, 0);
    }
}

TEST(RandomTest, ThreadsShareOneSequenceWithoutLosingDraws)
{
    // Each draw advances the one generator exactly once: four threads drawing
    // together see the same values, in some order, as one thread alone.
    constexpr int PerThread = 2000;
    RandSeed(99);
    std::multiset<int> alone;
    for (int i = 0; i < 4 * PerThread; ++i)
        alone.insert(Random(1 << 30));
    RandSeed(99);
    std::vector<std::vector<int>> drawn(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < PerThread; ++i)
                drawn[static_cast<std::size_t>(t)].push_back(Random(1 << 30));
        });
    for (auto& th : threads)
        th.join();
    std::multiset<int> together;
    for (const auto& v : drawn)
        together.insert(v.begin(), v.end());
    EXPECT_EQ(together, alone);
}

TEST(RandomTest, RandomizeChangesTheSequence)
{
    RandSeed(1);
    const int fixed = Random(1 << 30);
    Randomize();
    std::set<int> values;
    for (int i = 0; i < 3; ++i) {
        Randomize();
        values.insert(Random(1 << 30));
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    values.insert(fixed);
    EXPECT_GT(values.size(), 1u);
}

TEST(TickCountTest, TestsCanReplaceTheSourceAndRestoreIt)
{
    std::atomic<std::uint32_t> fake{0xFFFFFFF0u};
    SetTickCountSource([&fake] { return fake.load(); });
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    fake = 0x10; // past the wrap
    const std::uint32_t after = GetTickCount();
    EXPECT_EQ(after, 0x10u);
    EXPECT_EQ(static_cast<std::uint32_t>(after - 0xFFFFFFF0u), 0x20u); // elapsed across the wrap
    SetTickCountSource(nullptr);
    const std::uint32_t a = GetTickCount();
    Sleep(15);
    const std::uint32_t b = GetTickCount();
    EXPECT_GE(static_cast<std::uint32_t>(b - a), 15u);
}

} // namespace
} // namespace orvex
