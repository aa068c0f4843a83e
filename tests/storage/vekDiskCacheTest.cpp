// The page cache and the block cache against an in-memory stand-in for the
// file, which counts every transfer.

#include "vekDiskTestUtil.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace orvex {
namespace {

using disktest::Pattern;

constexpr Integer PageSize = 256;

// A "file" of bytes behind the caches' transfer procedures.
struct TFakeFile {
    std::vector<Byte> Bytes;
    int PageReads = 0;
    int PageWrites = 0;
    int BlockReads = 0;
    int BlockWrites = 0;
    std::vector<Cardinal> WriteOrder;
    bool FailWrites = false;

    explicit TFakeFile(std::size_t Pages) : Bytes(Pages * PageSize)
    {
        for (std::size_t i = 0; i < Bytes.size(); ++i)
            Bytes[i] = static_cast<Byte>(i * 7 + i / PageSize);
    }
    void Connect(TCacheMgr& Cache)
    {
        Cache.SetReadIO([this](void* Buffer, Integer, Cardinal, Cardinal Low, Cardinal) {
            ++PageReads;
            std::memcpy(Buffer, Bytes.data() + Low, PageSize);
        });
        Cache.SetWriteIO([this](void* Buffer, Integer, Cardinal, Cardinal Low, Cardinal) {
            if (FailWrites)
                throw std::runtime_error("disk gone");
            ++PageWrites;
            WriteOrder.push_back(Low);
            std::memcpy(Bytes.data() + Low, Buffer, PageSize);
        });
    }
    // Also the reader of page runs.
    void ConnectRuns(TCacheMgr& Cache)
    {
        Connect(Cache);
        Cache.SetReadRunIO([this](void* Buffer, Integer, Cardinal, Cardinal Low, Cardinal, Integer Pages) {
            ++RunReads;
            std::memcpy(Buffer, Bytes.data() + Low, static_cast<std::size_t>(Pages) * PageSize);
        });
    }
    int RunReads = 0;
    void Connect(TCacheBlockMgr& Blocks)
    {
        Blocks.SetReadIO([this](void* Buffer, Integer, Cardinal, Cardinal Low, Cardinal, Integer Size) {
            ++BlockReads;
            std::memcpy(Buffer, Bytes.data() + Low, static_cast<std::size_t>(Size));
        });
        Blocks.SetWriteIO([this](void* Buffer, Integer, Cardinal, Cardinal Low, Cardinal, Integer Size) {
            ++BlockWrites;
            WriteOrder.push_back(Low);
            std::memcpy(Bytes.data() + Low, Buffer, static_cast<std::size_t>(Size));
        });
    }
    std::vector<Byte> At(Cardinal Address, std::size_t Size) const
    {
        return {Bytes.begin() + Address, Bytes.begin() + Address + Size};
    }
};

class CacheTest : public ::testing::Test {
protected:
    CacheTest() : FFile(100)
    {
        FFile.Connect(FCache);
        FCache.Open(50, PageSize);
    }
    std::vector<Byte> Read(Cardinal Address, Integer Size, Integer TableID = 1)
    {
        std::vector<Byte> out(static_cast<std::size_t>(Size));
        FCache.ReadCache(out.data(), TableID, VekAccessPaged, Address, 0, Size);
        return out;
    }
    TFakeFile FFile;
    TCacheMgr FCache;
};

TEST_F(CacheTest, OpenRefusesMissingTransferProcedures)
{
    TCacheMgr cache;
    EXPECT_VEK_ERROR_TEXT(10065, "ReadIO", cache.Open(10, PageSize));
    cache.SetReadIO([](void*, Integer, Cardinal, Cardinal, Cardinal) {});
    EXPECT_VEK_ERROR_TEXT(10065, "WriteIO", cache.Open(10, PageSize));
}

TEST_F(CacheTest, ARangeAcrossAPageBoundaryTouchesBothPages)
{
    EXPECT_EQ(Read(PageSize - 4, 10), FFile.At(PageSize - 4, 10));
    EXPECT_EQ(FCache.Misses(), 2);
    EXPECT_EQ(FFile.PageReads, 2);
    // Both pages are now cached: the same range is two hits.
    EXPECT_EQ(Read(PageSize - 4, 10), FFile.At(PageSize - 4, 10));
    EXPECT_EQ(FCache.Hits(), 2);
    EXPECT_EQ(FFile.PageReads, 2);
}

TEST_F(CacheTest, APageCachedUnderAnotherTableIsReadAgain)
{
    Read(5 * PageSize, 8, 5);
    Read(5 * PageSize, 8, 6);
    EXPECT_EQ(FFile.PageReads, 2);
    EXPECT_EQ(FCache.Misses(), 2);
    EXPECT_EQ(FCache.Count(), 50); // the same page was reused, not a second one
}

TEST_F(CacheTest, WritesGoThroughAtOnceAndAWholePageIsNotReadFirst)
{
    const auto page = Pattern(PageSize, 1);
    FCache.WriteCache(page.data(), 1, VekAccessPaged, 3 * PageSize, 0, PageSize);
    EXPECT_EQ(FFile.PageReads, 0);
    EXPECT_EQ(FFile.PageWrites, 1);
    EXPECT_EQ(FFile.At(3 * PageSize, PageSize), page);

    const auto part = Pattern(10, 2);
    FCache.WriteCache(part.data(), 1, VekAccessPaged, 7 * PageSize + 100, 0, 10);
    EXPECT_EQ(FFile.PageReads, 1); // a partial write reads the page first
    EXPECT_EQ(FFile.At(7 * PageSize + 100, 10), part);
    EXPECT_EQ(FCache.Pages(FCache.FindPage(7 * PageSize, 0))->State, cpClean);
}

TEST_F(CacheTest, TheLeastRecentlyUsedPageIsReplacedWhenFull)
{
    for (Cardinal page = 0; page < 50; ++page)
        Read(page * PageSize, 1);
    Read(0, 1); // page 0 is now the most recent, page 1 the oldest
    Read(60 * PageSize, 1);
    EXPECT_LT(FCache.FindPage(PageSize, 0), 0);
    EXPECT_GE(FCache.FindPage(0, 0), 0);
    EXPECT_GE(FCache.FindPage(60 * PageSize, 0), 0);
    EXPECT_EQ(FCache.Count(), 50);
}

// A random walk of reads, removals, resizes and (with Transactions) reading
// transactions that end in a commit or a rollback; outside a transaction
// the page chosen for replacement is checked against the rule read plainly:
// a scan over the pages in collection order.
void CheckReplacementOrder(TCacheMgr& Cache, bool Transactions)
{
    auto reference = [&] {
        int oldest = -1;
        for (int i = 0; i < Cache.Count(); ++i) {
            const TCachePage* page = Cache.Pages(i);
            if (page->State == cpEmpty)
                return i;
            if (page->State != cpDirty && (oldest < 0 || page->LRUFlag < Cache.Pages(oldest)->LRUFlag))
                oldest = i;
        }
        return oldest;
    };
    auto read = [&](Cardinal Address, Integer TableID) {
        Byte out[1];
        Cache.ReadCache(out, TableID, VekAccessPaged, Address, 0, 1);
    };
    std::mt19937 random(7);
    auto roll = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };
    for (int step = 0; step < 4000; ++step) {
        const int choice = roll(100);
        const Cardinal address = static_cast<Cardinal>(roll(100)) * PageSize;
        if (choice < 70)
            read(address + static_cast<Cardinal>(roll(PageSize)), 1 + roll(2));
        else if (choice < 80)
            Cache.RemovePage(address, 0);
        else if (choice < 83)
            Cache.ClearOwnedPages(1 + roll(2));
        else if (choice < 85)
            Cache.ResetPageCount(40 + roll(20));
        else if (Transactions && choice < 90) {
            if (!Cache.TransactionActive())
                Cache.StartTransaction();
            else if (choice < 88)
                Cache.Commit();
            else
                Cache.Rollback();
        } else if (!Cache.TransactionActive()) {
            ASSERT_EQ(Cache.GetNextEmptyPage(), reference()) << "step " << step;
        }
    }
}

TEST_F(CacheTest, ReplacementTakesTheFirstEmptyElseTheLeastRecentCleanPage)
{
    CheckReplacementOrder(FCache, false);
}

TEST_F(CacheTest, AfterReadingTransactionsReplacementStillTakesTheLeastRecentCleanPage)
{
    // Inside a transaction only the pages' stamps move; its end puts the
    // pages it used behind all others, in the order of their use.
    CheckReplacementOrder(FCache, true);
}

TEST_F(CacheTest, ATransactionGrowsTheCacheAndRollbackLeavesTheFileAlone)
{
    const auto before = FFile.Bytes;
    FCache.StartTransaction();
    for (Cardinal page = 0; page < 60; ++page) {
        const auto bytes = Pattern(PageSize, page);
        FCache.WriteCache(bytes.data(), 1, VekAccessPaged, page * PageSize, 0, PageSize);
    }
    EXPECT_EQ(FCache.Count(), 60);
    EXPECT_EQ(FFile.PageWrites, 0);
    FCache.Rollback();
    for (int i = 0; i < FCache.Count(); ++i)
        EXPECT_NE(FCache.Pages(i)->State, cpDirty);
    EXPECT_EQ(FCache.Count(), 60); // it keeps its grown size
    EXPECT_EQ(FFile.Bytes, before);
    EXPECT_EQ(Read(17 * PageSize, PageSize), FFile.At(17 * PageSize, PageSize));
}

TEST(CacheBlocks, BlocksReadPageByPageAreTheBytesReadOneByOne)
{
    // Blocks of 24 bytes; Visit reads a far page when Busy, which in a cache
    // of 8 pages pushes others out between the blocks.
    struct Case {
        const char* Name;
        std::vector<Cardinal> Addresses;
        Integer CachePages;
        bool Busy;
    };
    std::vector<Cardinal> ascending, descending, spread;
    for (Cardinal at = 0; at + 24 <= 40 * PageSize; at += 30)
        ascending.push_back(at);
    descending.assign(ascending.rbegin(), ascending.rend());
    for (Cardinal page = 0; page < 40; page += 3)
        spread.push_back(page * PageSize + 100);
    const Case Cases[] = {
        {"ascending, several blocks a page, some over a page boundary", ascending, 50, false},
        {"descending", descending, 50, false},
        {"one block in every third page", spread, 50, false},
        {"the same block twice, a block at the very end", {512, 512, 600, 100 * PageSize - 24}, 50, false},
        {"a small cache used by the visitor", ascending, 8, true},
    };
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.Name);
        TFakeFile file(100);
        TCacheMgr cache;
        file.ConnectRuns(cache);
        cache.Open(c.CachePages, PageSize);
        std::vector<Byte> block(24), other(8);
        std::vector<std::size_t> visited;
        cache.ReadCacheBlocks(c.Addresses.data(), c.Addresses.size(), 24, 1, VekAccessPaged, 0, block.data(),
                              [&](std::size_t I) {
                                  visited.push_back(I);
                                  EXPECT_EQ(block, file.At(c.Addresses[I], 24)) << c.Addresses[I];
                                  if (c.Busy)
                                      cache.ReadCache(other.data(), 1, VekAccessPaged, (60 + I % 30) * PageSize, 0, 8);
                              });
        std::vector<std::size_t> expected(c.Addresses.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            expected[i] = i;
        EXPECT_EQ(visited, expected);
    }
}

TEST_F(CacheTest, ReadAheadTakesOnlyPagesNotCachedAndCachesOnlyThoseAsked)
{
    FFile.ConnectRuns(FCache);
    // A transaction changed page 3; blocks lie in pages 0, 1, 3, 4 and 6.
    FCache.StartTransaction();
    const auto written = Pattern(PageSize, 9);
    FCache.WriteCache(written.data(), 1, VekAccessPaged, 3 * PageSize, 0, PageSize);
    const std::vector<Cardinal> addresses = {8, PageSize + 8, 3 * PageSize + 8, 4 * PageSize + 8, 6 * PageSize + 8};
    std::vector<std::vector<Byte>> blocks;
    std::vector<Byte> block(16);
    FCache.ReadCacheBlocks(addresses.data(), addresses.size(), 16, 1, VekAccessPaged, 0, block.data(),
                           [&](std::size_t) { blocks.push_back(block); });
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_EQ(blocks[2], std::vector<Byte>(written.begin() + 8, written.begin() + 24)); // the changed page
    for (std::size_t i : {0u, 1u, 3u, 4u})
        EXPECT_EQ(blocks[i], FFile.At(addresses[i], 16));
    // Pages 0-1 and 4-6 came in one read each; page 5 was read along but is
    // not cached (it may be another table's), nor is page 2, never read.
    EXPECT_EQ(FFile.RunReads, 2);
    EXPECT_EQ(FFile.PageReads, 0);
    EXPECT_LT(FCache.FindPage(5 * PageSize, 0), 0);
    EXPECT_LT(FCache.FindPage(2 * PageSize, 0), 0);
    EXPECT_GE(FCache.FindPage(6 * PageSize, 0), 0);
    EXPECT_EQ(FCache.Pages(FCache.FindPage(3 * PageSize, 0))->State, cpDirty);
    FCache.Rollback();
}

TEST_F(CacheTest, PagesStayFoundWhileTheIndexGrowsPastItsFirstSize)
{
    TFakeFile file(1200);
    TCacheMgr cache;
    file.Connect(cache);
    cache.Open(50, PageSize);
    cache.StartTransaction();
    const auto bytes = Pattern(PageSize, 1);
    for (Cardinal page = 0; page < 1100; ++page)
        cache.WriteCache(bytes.data(), 1, VekAccessPaged, page * PageSize, 0, PageSize);
    cache.Rollback();
    // Every page is reused for other addresses; none may still answer for an old one.
    for (Cardinal page = 0; page < 1100; ++page) {
        std::vector<Byte> out(4);
        cache.ReadCache(out.data(), 2, VekAccessPaged, (page + 100) % 1200 * PageSize, 0, 4);
    }
    for (Cardinal page = 0; page < 1200; ++page) {
        const int index = cache.FindPage(page * PageSize, 0);
        if (index >= 0) {
            EXPECT_EQ(cache.Pages(index)->LowerAddress, page * PageSize);
        }
    }
}

TEST_F(CacheTest, CommitWritesTheDirtyPagesOnce)
{
    FCache.StartTransaction();
    const auto a = Pattern(PageSize, 10);
    const auto b = Pattern(PageSize, 11);
    FCache.WriteCache(a.data(), 1, VekAccessPaged, 9 * PageSize, 0, PageSize);
    FCache.WriteCache(b.data(), 1, VekAccessPaged, 4 * PageSize, 0, PageSize);
    FCache.WriteCache(a.data(), 1, VekAccessPaged, 4 * PageSize, 0, 16);
    EXPECT_EQ(FFile.PageWrites, 0);
    FCache.Commit();
    EXPECT_EQ(FFile.PageWrites, 2);
    EXPECT_EQ(FFile.At(9 * PageSize, PageSize), a);
    auto expected = b;
    std::copy(a.begin(), a.begin() + 16, expected.begin());
    EXPECT_EQ(FFile.At(4 * PageSize, PageSize), expected);
    EXPECT_VEK_ERROR(10257, FCache.Commit());
    EXPECT_VEK_ERROR(10257, FCache.Rollback());
}

TEST_F(CacheTest, WithARunWriterTheCommitWritesPagesThatFollowOneAnotherInOneWrite)
{
    // Runs written: where, how many pages, whose. A run of one page goes
    // through the page writer.
    struct TRun {
        Cardinal Low;
        Integer Pages;
        Integer Owner;
        bool operator==(const TRun&) const = default;
    };
    std::vector<TRun> runs;
    bool failRuns = false;
    FCache.SetWriteRunIO([&](void* Buffer, Integer Owner, Cardinal, Cardinal Low, Cardinal, Integer Pages) {
        if (failRuns)
            throw std::runtime_error("disk gone");
        runs.push_back({Low, Pages, Owner});
        std::memcpy(FFile.Bytes.data() + Low, Buffer, static_cast<std::size_t>(Pages) * PageSize);
    });
    auto dirty = [&](Cardinal Page, Integer Owner) {
        const auto bytes = Pattern(PageSize, 500 + Page);
        FCache.WriteCache(bytes.data(), Owner, VekAccessPaged, Page * PageSize, 0, PageSize);
    };

    // Pages 3-5 of table 1 (dirtied out of order), 6 of table 2, 8 and 9 of
    // table 1, 11 alone.
    FCache.StartTransaction();
    for (auto [page, owner] : {std::pair{5u, 1}, {3u, 1}, {9u, 1}, {6u, 2}, {4u, 1}, {11u, 1}, {8u, 1}})
        dirty(page, owner);
    FCache.Commit();
    const std::vector<TRun> expected = {{3 * PageSize, 3, 1}, {8 * PageSize, 2, 1}};
    EXPECT_EQ(runs, expected);
    EXPECT_EQ(FFile.WriteOrder, (std::vector<Cardinal>{6 * PageSize, 11 * PageSize}));
    for (Cardinal page : {3u, 4u, 5u, 6u, 8u, 9u, 11u})
        EXPECT_EQ(FFile.At(page * PageSize, PageSize), Pattern(PageSize, 500 + page)) << page;
    EXPECT_EQ(FCache.DirtyCount(), 0);

    // A run that fails stays dirty for the rollback; the runs before it are
    // in the file and clean.
    runs.clear();
    FCache.StartTransaction();
    for (Cardinal page : {20u, 21u, 30u, 31u})
        dirty(page, 1);
    FCache.SetWriteRunIO([&](void* Buffer, Integer Owner, Cardinal, Cardinal Low, Cardinal, Integer Pages) {
        if (Low == 30 * PageSize)
            failRuns = true;
        if (failRuns)
            throw std::runtime_error("disk gone");
        runs.push_back({Low, Pages, Owner});
        std::memcpy(FFile.Bytes.data() + Low, Buffer, static_cast<std::size_t>(Pages) * PageSize);
    });
    EXPECT_THROW(FCache.Commit(), std::runtime_error);
    EXPECT_EQ(runs, (std::vector<TRun>{{20 * PageSize, 2, 1}}));
    EXPECT_EQ(FCache.Pages(FCache.FindPage(21 * PageSize, 0))->State, cpClean);
    EXPECT_EQ(FCache.Pages(FCache.FindPage(30 * PageSize, 0))->State, cpDirty);
    EXPECT_EQ(FCache.Pages(FCache.FindPage(31 * PageSize, 0))->State, cpDirty);
    FCache.Rollback();
    EXPECT_EQ(Read(30 * PageSize, PageSize), FFile.At(30 * PageSize, PageSize));
}

TEST_F(CacheTest, ASpillWritesOtherPagesBeforeTreePagesInRunsAndKeepsOnlyTheTreePages)
{
    std::vector<std::pair<Cardinal, Integer>> runs; // where, how many pages
    FCache.SetWriteRunIO([&](void* Buffer, Integer, Cardinal, Cardinal Low, Cardinal, Integer Pages) {
        runs.emplace_back(Low, Pages);
        std::memcpy(FFile.Bytes.data() + Low, Buffer, static_cast<std::size_t>(Pages) * PageSize);
    });
    auto written = [&](Cardinal Page) { return Pattern(PageSize, 700 + Page); };
    FCache.StartTransaction();
    // Tree pages 10 and 12, changed through lent pointers and given back,
    // then record pages 3 to 5: under use order alone the tree pages,
    // used longest ago, would go first.
    for (Cardinal page : {10u, 12u}) {
        void* bytes = nullptr;
        bool* checked = nullptr;
        ASSERT_TRUE(FCache.LendCacheByRef(bytes, checked, 1, VekAccessPaged, page * PageSize, 0, PageSize));
        std::memcpy(bytes, written(page).data(), PageSize);
    }
    FCache.ReturnLentPages();
    for (Cardinal page : {5u, 3u, 4u})
        FCache.WriteCache(written(page).data(), 1, VekAccessPaged, page * PageSize, 0, PageSize);
    const int readsBefore = FFile.PageReads;

    auto spill = [&](Integer Count) {
        const std::vector<TCachePage*> pages = FCache.CollectSpillPages(Count);
        std::vector<Cardinal> addresses;
        for (const TCachePage* page : pages)
            addresses.push_back(page->LowerAddress / PageSize);
        FCache.WritePages(pages, [&](TCachePage* Page) { FCache.PageSpilled(Page); });
        return addresses;
    };
    EXPECT_EQ(spill(3), (std::vector<Cardinal>{3, 4, 5}));
    EXPECT_EQ(runs, (std::vector<std::pair<Cardinal, Integer>>{{3 * PageSize, 3}}));
    EXPECT_EQ(FFile.PageWrites, 0);
    // The record pages are forgotten, the tree pages still dirty.
    for (Cardinal page : {3u, 4u, 5u})
        EXPECT_LT(FCache.FindPage(page * PageSize, 0), 0) << page;
    EXPECT_EQ(FCache.DirtyCount(), 2);

    EXPECT_EQ(spill(5), (std::vector<Cardinal>{10, 12}));
    EXPECT_EQ(FFile.WriteOrder, (std::vector<Cardinal>{10 * PageSize, 12 * PageSize}));
    EXPECT_EQ(FCache.DirtyCount(), 0);
    // The tree pages stay, clean: reading them reads nothing from the file.
    for (Cardinal page : {10u, 12u}) {
        ASSERT_GE(FCache.FindPage(page * PageSize, 0), 0) << page;
        EXPECT_EQ(FCache.Pages(FCache.FindPage(page * PageSize, 0))->State, cpClean);
        EXPECT_EQ(Read(page * PageSize, PageSize), written(page));
    }
    EXPECT_EQ(FFile.PageReads, readsBefore);
    // A forgotten record page is read back from the file as spilled.
    EXPECT_EQ(Read(4 * PageSize, PageSize), written(4));
    EXPECT_EQ(FFile.PageReads, readsBefore + 1);
    FCache.Commit();
    EXPECT_EQ(FFile.PageWrites, 2);
    for (Cardinal page : {3u, 4u, 5u, 10u, 12u})
        EXPECT_EQ(FFile.At(page * PageSize, PageSize), written(page)) << page;
}

TEST_F(CacheTest, AFailedWriteThroughLeavesNoCopyClaimingTheBytes)
{
    Read(2 * PageSize, 4);
    FFile.FailWrites = true;
    const auto bytes = Pattern(4, 3);
    EXPECT_THROW(FCache.WriteCache(bytes.data(), 1, VekAccessPaged, 2 * PageSize, 0, 4), std::runtime_error);
    FFile.FailWrites = false;
    EXPECT_EQ(Read(2 * PageSize, 4), FFile.At(2 * PageSize, 4));
}

TEST_F(CacheTest, InWriteBackModeAWrittenPageReachesTheFileOnlyWhenReplacedOrFlushed)
{
    FCache.SetWriteBack(true);
    for (Cardinal page = 0; page < 50; ++page) {
        const auto bytes = Pattern(PageSize, page);
        FCache.WriteCache(bytes.data(), 1, VekAccessPaged, page * PageSize, 0, PageSize);
    }
    EXPECT_EQ(FFile.PageWrites, 0);
    EXPECT_EQ(FCache.DirtyCount(), 50);
    EXPECT_EQ(Read(3 * PageSize, PageSize), Pattern(PageSize, 3));
    EXPECT_NE(FFile.At(3 * PageSize, PageSize), Pattern(PageSize, 3));

    // The cache is full: the least recently used page (0; 3 was read since)
    // goes to the file before its place is reused.
    Read(60 * PageSize, 4);
    EXPECT_EQ(FFile.WriteOrder, std::vector<Cardinal>{0});
    EXPECT_EQ(FFile.At(0, PageSize), Pattern(PageSize, 0));

    // A write-out that fails fails the access that needed the room; the
    // page keeps its bytes and stays dirty.
    FFile.FailWrites = true;
    EXPECT_THROW(Read(61 * PageSize, 4), std::runtime_error);
    FFile.FailWrites = false;
    EXPECT_EQ(Read(PageSize, PageSize), Pattern(PageSize, 1));
    EXPECT_EQ(FCache.Pages(FCache.FindPage(PageSize, 0))->State, cpDirty);

    // Asked for under another table id, a dirty page goes to the file first.
    FFile.WriteOrder.clear();
    EXPECT_EQ(Read(7 * PageSize, PageSize, 2), Pattern(PageSize, 7));
    EXPECT_EQ(FFile.WriteOrder, std::vector<Cardinal>{7 * PageSize});

    // A flush writes the rest once each, in address order.
    FFile.WriteOrder.clear();
    FCache.FlushDirtyPages();
    std::vector<Cardinal> expected;
    for (Cardinal page = 1; page < 50; ++page)
        if (page != 7)
            expected.push_back(page * PageSize);
    EXPECT_EQ(FFile.WriteOrder, expected);
    EXPECT_EQ(FCache.DirtyCount(), 0);
    for (Cardinal page = 0; page < 50; ++page)
        EXPECT_EQ(FFile.At(page * PageSize, PageSize), Pattern(PageSize, page)) << "page " << page;

    // Turning the mode off writes what it holds; writes go through again.
    const auto part = Pattern(10, 99);
    FCache.WriteCache(part.data(), 1, VekAccessPaged, 9 * PageSize + 5, 0, 10);
    EXPECT_NE(FFile.At(9 * PageSize + 5, 10), part);
    FCache.SetWriteBack(false);
    EXPECT_EQ(FFile.At(9 * PageSize + 5, 10), part);
    FCache.WriteCache(part.data(), 1, VekAccessPaged, 11 * PageSize + 5, 0, 10);
    EXPECT_EQ(FFile.At(11 * PageSize + 5, 10), part);
}

TEST_F(CacheTest, ClearOwnedPagesKeepsDirtyPagesAndForgetsCleanOnes)
{
    Read(0, 4, 7);
    FCache.StartTransaction();
    const auto bytes = Pattern(PageSize, 4);
    FCache.WriteCache(bytes.data(), 7, VekAccessPaged, PageSize, 0, PageSize);
    FCache.ClearOwnedPages(7);
    EXPECT_EQ(FCache.Pages(FCache.FindPage(0, 0))->State, cpEmpty);
    EXPECT_EQ(Read(PageSize, PageSize, 7), bytes);
    FCache.Commit();
}

TEST_F(CacheTest, ByReferenceAccessStaysInsideOnePage)
{
    void* p = nullptr;
    EXPECT_FALSE(FCache.ReadCacheByRef(p, 1, VekAccessPaged, PageSize - 2, 0, 4));
    ASSERT_TRUE(FCache.ReadCacheByRef(p, 1, VekAccessPaged, PageSize + 8, 0, 4));
    EXPECT_EQ(std::vector<Byte>(static_cast<Byte*>(p), static_cast<Byte*>(p) + 4), FFile.At(PageSize + 8, 4));
    static_cast<Byte*>(p)[0] = 0xEE;
    ASSERT_TRUE(FCache.WriteCacheByRef(p, 1, VekAccessPaged, PageSize + 8, 0, 4));
    EXPECT_EQ(FFile.Bytes[PageSize + 8], 0xEE);
}

TEST_F(CacheTest, ResetPageCountShrinksFromTheEndAndGrows)
{
    FCache.ResetPageCount(20);
    EXPECT_EQ(FCache.Count(), 20);
    FCache.ResetPageCount(70);
    EXPECT_EQ(FCache.Count(), 70);
    EXPECT_EQ(FCache.TotalCacheSize(), 70 * PageSize);
}

// The cache takes its page memory in slabs that grow with it (up to large
// pages of memory) and go, last first, as it shrinks: no two pages may share
// a byte, and every page keeps its own bytes through growing, shrinking and
// growing again.
TEST(CacheSlabs, PagesNeverShareBytesAndKeepThemThroughGrowthAndShrinking)
{
    constexpr std::size_t Pages = 20000; // past several large slabs of 256-byte pages
    TFakeFile file(Pages);
    TCacheMgr cache;
    file.Connect(cache);
    const auto expectApart = [&] {
        std::vector<const Byte*> data;
        for (int i = 0; i < cache.Count(); ++i)
            data.push_back(cache.Pages(i)->Data);
        std::sort(data.begin(), data.end());
        for (std::size_t i = 1; i < data.size(); ++i)
            ASSERT_GE(data[i] - data[i - 1], PageSize) << "pages " << i - 1 << " and " << i << " overlap";
    };
    // Opened at a size: one allocation for all of them.
    cache.Open(3000, PageSize);
    expectApart();
    // A transaction writes every page: the cache grows page by page.
    cache.SetPageLimit(10);
    cache.StartTransaction();
    for (std::size_t p = 0; p < Pages; ++p) {
        std::vector<Byte> bytes(PageSize);
        for (std::size_t b = 0; b < bytes.size(); ++b)
            bytes[b] = static_cast<Byte>(p * 31 + b + p / 256);
        cache.WriteCache(bytes.data(), 1, VekAccessPaged, static_cast<Cardinal>(p * PageSize), 0, PageSize);
    }
    EXPECT_GE(cache.Count(), static_cast<int>(Pages));
    expectApart();
    cache.Commit();
    std::vector<Byte> expected = file.Bytes;
    for (std::size_t p = 0; p < Pages; ++p)
        for (std::size_t b = 0; b < PageSize; ++b)
            ASSERT_EQ(expected[p * PageSize + b], static_cast<Byte>(p * 31 + b + p / 256)) << p;
    // Down to a few pages and up again: the bytes read back are the file's.
    cache.SetPageLimit(50);
    EXPECT_EQ(cache.Count(), 50);
    cache.ResetPageCount(5000);
    expectApart();
    std::vector<Byte> out(PageSize);
    for (std::size_t p = 0; p < Pages; p += 7) {
        cache.ReadCache(out.data(), 1, VekAccessPaged, static_cast<Cardinal>(p * PageSize), 0, PageSize);
        ASSERT_EQ(out, file.At(static_cast<Cardinal>(p * PageSize), PageSize)) << p;
    }
}

TEST_F(CacheTest, TheLogNamesThePageDecisions)
{
    TStringList log;
    FCache.SetLog(&log);
    Read(0, 1);
    EXPECT_EQ(log.Count(), 1);
    EXPECT_EQ(log[0], "GetNextEmptyPage. EmptyPage: 0");
    FCache.DumpState();
    EXPECT_GT(log.Count(), 50);
}

// ------------------------------------------------------------- block cache

class BlockCacheTest : public ::testing::Test {
protected:
    BlockCacheTest() : FFile(20)
    {
        FFile.Connect(FBlocks);
        FBlocks.StartTransaction();
    }
    TFakeFile FFile;
    TCacheBlockMgr FBlocks;
};

TEST_F(BlockCacheTest, BlocksAreHeldUntilCommitAndWrittenInOrder)
{
    const auto header = Pattern(128, 1);
    const auto map = Pattern(PageSize, 2);
    FBlocks.WriteBlock(header.data(), 0, 0, 1024, 0, 128);
    FBlocks.WriteBlock(map.data(), 0, 0, 5 * PageSize, 0, PageSize);
    FBlocks.WriteBlock(header.data(), 0, 0, 1024, 0, 128); // rewrites the same block
    std::vector<Byte> read(128);
    FBlocks.ReadBlock(read.data(), 0, 0, 1024, 0, 128);
    EXPECT_EQ(read, header);
    EXPECT_EQ(FFile.BlockWrites, 0);
    FBlocks.Commit();
    EXPECT_EQ(FFile.WriteOrder, (std::vector<Cardinal>{1024, 5 * PageSize}));
    EXPECT_EQ(FFile.At(1024, 128), header);
    EXPECT_EQ(FBlocks.Count(), 0);
}

TEST_F(BlockCacheTest, OverlappingWritesOfOtherExtentsMergeAndTheLatestBytesWin)
{
    const auto a = Pattern(254, 1);
    const auto b = Pattern(16, 2);
    const auto c = Pattern(PageSize, 3);
    std::vector<Byte> expected = FFile.At(0, PageSize + 64);
    auto put = [&](const std::vector<Byte>& Bytes, Cardinal At, Integer Size) {
        FBlocks.WriteBlock(Bytes.data(), 0, 0, At, 0, Size);
        std::copy_n(Bytes.begin(), Size, expected.begin() + At);
    };
    put(a, 0, 128);
    put(a, 0, 254);   // the same start, another size
    put(b, 64, 16);   // inside it
    put(b, 300, 16);  // apart
    put(c, 32, PageSize); // over all of them
    std::vector<Byte> read(16);
    FBlocks.ReadBlock(read.data(), 0, 0, 64, 0, 16); // another extent: file and blocks
    EXPECT_EQ(read, std::vector<Byte>(expected.begin() + 64, expected.begin() + 80));
    FBlocks.Commit();
    EXPECT_EQ(FFile.At(0, PageSize + 64), expected);
}

TEST_F(BlockCacheTest, RollbackForgetsEveryBlock)
{
    const auto before = FFile.Bytes;
    const auto bytes = Pattern(PageSize, 9);
    FBlocks.WriteBlock(bytes.data(), 0, 0, 2 * PageSize, 0, PageSize);
    FBlocks.Rollback();
    EXPECT_EQ(FBlocks.Count(), 0);
    EXPECT_EQ(FFile.Bytes, before);
    EXPECT_VEK_ERROR(10257, FBlocks.Rollback());
}

TEST_F(BlockCacheTest, OverlayAndPatchFollowTheBlocksByteForByte)
{
    const auto a = Pattern(64, 1);
    const auto b = Pattern(64, 2);
    FBlocks.WriteBlock(a.data(), 0, 0, 100, 0, 64);
    FBlocks.WriteBlock(b.data(), 0, 0, 300, 0, 64);
    std::vector<Byte> range = FFile.At(128, 256); // bytes 128 .. 383
    FBlocks.OverlayBlocks(range.data(), 128, 0, 256);
    EXPECT_TRUE(std::equal(a.begin() + 28, a.end(), range.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), range.begin() + 172));
    EXPECT_TRUE(FBlocks.HasBlocksIn(128, 0, 256));
    EXPECT_FALSE(FBlocks.HasBlocksIn(164, 0, 136));

    const auto patch = Pattern(PageSize, 3);
    FBlocks.PatchBlocks(patch.data(), 0, 0, PageSize); // covers all of the first block
    std::vector<Byte> read(64);
    FBlocks.ReadBlock(read.data(), 0, 0, 100, 0, 64);
    EXPECT_TRUE(std::equal(read.begin(), read.end(), patch.begin() + 100));
}

} // namespace
} // namespace orvex
