// Block I/O interfaces: the free runs of disk interfaces, whole pages going
// back to the map, the global chain shared by connections, the memory
// interface's addresses and checks, and randomized allocation, release and
// rewriting on both kinds.

#include "vekInterfaceTestUtil.h"

#include "storage/vekByteOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace orvex {
namespace {

using disktest::Pattern;
using iotest::FreeBlocks;
using iotest::OpenDiskInterface;
using iotest::ReadBytes;
using iotest::TDatabaseFixture;
using iotest::TDiskSetup;

constexpr Cardinal FirstNewPage = 6 * DefaultPageSize; // after the system area and the first map page

// A block holding only a free-run header (next, count): zeros elsewhere.
std::vector<Byte> RunBlock(Integer Size, Cardinal Next, Cardinal Count)
{
    std::vector<Byte> block(static_cast<std::size_t>(Size), 0);
    WriteLE32(&block[FreeRunNextOffset], Next);
    WriteLE32(&block[FreeRunCountOffset], Count);
    return block;
}

// ========================================================== base interface

TEST(BaseIOInterface, OffersNoStorageOfItsOwn)
{
    TBaseIOInterface io;
    Byte buffer[16] = {};
    void* p = nullptr;
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"Empty", [&] { io.Empty(true); }},
        {"AllocateNewAddress", [&] { io.AllocateNewAddress(16, buffer); }},
        {"ReleaseBlock", [&] { io.ReleaseBlock(64, 16); }},
        {"WriteBlock", [&] { io.WriteBlock(64, 16, buffer); }},
        {"WriteBlockByRef", [&] { io.WriteBlockByRef(64, 16, buffer); }},
        {"ReadBlock", [&] { io.ReadBlock(64, 16, buffer); }},
        {"ReadBlockByRef", [&] { io.ReadBlockByRef(64, 16, p); }},
        {"WriteBlockHeader", [&] { io.WriteBlockHeader(64, 16, buffer); }},
        {"ReadBlockHeader", [&] { io.ReadBlockHeader(64, 16, buffer); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_IO_CODE(10065, operation());
        // The operation is named where the error is logged.
        const auto lines = GDBLogger->LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find(std::string("TBaseIOInterface.") + name), std::string::npos) << lines.back();
    }

    std::vector<Cardinal> list{1, 2};
    TStringList lines;
    io.ShowBlocks(&lines);
    io.ShowStatus(&lines);
    io.ListBlocks(list);
    io.NotifyPageChange(3);
    EXPECT_EQ(lines.Count(), 0);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_FALSE(io.CheckPageValid(64));
    EXPECT_FALSE(io.CheckBlockAddressValid(64));
    EXPECT_EQ(io.GetNextMemoryBlockAddress(0), 0u);

    io.SetTableID(5);
    io.SetUsage(IOUsageBlobs);
    io.Open();
    EXPECT_EQ(io.Owner(), 5 * 16 + 10);
}

// ========================================================== disk interface

TEST(DiskIOInterface, OpeningNeedsADiskMgrAUsageAndABlockThatHoldsARunHeader)
{
    TDatabaseFixture db;
    const struct {
        bool WithDisk;
        Word Usage;
        Integer BlockSize;
        const char* Text; // nullptr: opens
    } cases[] = {
        {false, 9, 100, "Unable to open Disk IOInterface - DiskMgr is null"},
        {true, 0, 100, "Unable to open Disk IOInterface - Usage is not set"},
        {true, 9, 0, "Unable to open Disk IOInterface - Block size is 0"},
        {true, 9, 15, "Block size 15 is below 16"},
        {true, 9, -4, "Block size -4 is below 16"},
        {true, 9, 16, nullptr},
    };
    for (const auto& c : cases) {
        TDiskIOInterface io;
        io.SetDiskMgr(c.WithDisk ? db.Disk() : nullptr);
        io.SetUsage(c.Usage);
        io.SetBlockSize(c.BlockSize);
        io.SetTableID(3);
        if (c.Text) {
            EXPECT_IO_ERROR(8581, c.Text, io.Open());
            EXPECT_FALSE(io.IsOpen());
        } else {
            io.Open();
            EXPECT_TRUE(io.IsOpen());
            EXPECT_EQ(io.Owner(), 3 * 16 + 9);
        }
    }

    // Allocating and releasing need an open interface.
    TDiskIOInterface closed;
    closed.SetDiskMgr(db.Disk());
    closed.SetBlockSize(100);
    closed.SetFirstEmptyValid(true);
    EXPECT_IO_CODE(8576, closed.AllocateNewAddress(100, nullptr));
    EXPECT_IO_CODE(8576, closed.ReleaseBlock(FirstNewPage, 100));
}

TEST(DiskIOInterface, ReopeningKeepsTheWorkBlockAndLogsTheState)
{
    TDatabaseFixture db;
    auto io = OpenDiskInterface(db.Disk(), {});
    io->SetFirstEmpty(1234);
    io->Open();
    const auto lines = GDBLogger->LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("Open- BlockSize 100 FirstEmpty 1234"), std::string::npos) << lines.back();
}

TEST(DiskIOInterface, OnePageServesFortyRecordBlocksBeforeTheNextIsTaken)
{
    TDatabaseFixture db;
    auto io = OpenDiskInterface(db.Disk(), {});
    const Int64 size = db.FileSize();

    const Cardinal first = io->AllocateNewAddress(100, Pattern(100, 0).data());
    EXPECT_EQ(first, FirstNewPage);
    EXPECT_EQ(db.FileSize(), size + DefaultPageSize);
    EXPECT_EQ(db.MapEntry(first), 7 * 16 + IOUsageRecords);
    // The 39 spare blocks are one run behind the new block.
    EXPECT_EQ(io->FirstEmpty(), first + 100);
    EXPECT_EQ(ReadBytes(*io, first + 100, 100), RunBlock(100, 0, 39));

    std::vector<Cardinal> blocks{first};
    for (Cardinal i = 1; i < 40; ++i) {
        blocks.push_back(io->AllocateNewAddress(100, Pattern(100, i).data()));
        ASSERT_EQ(blocks.back(), first + 100 * i);
        EXPECT_EQ(io->FirstEmpty(), i < 39 ? first + 100 * (i + 1) : 0u);
    }
    EXPECT_EQ(db.FileSize(), size + DefaultPageSize);
    blocks.push_back(io->AllocateNewAddress(100, Pattern(100, 40).data()));
    EXPECT_EQ(blocks.back(), first + DefaultPageSize);
    for (Cardinal i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(ReadBytes(*io, blocks[i], 100), Pattern(100, i)) << i;
}

TEST(DiskIOInterface, AReleasedRunGoesToTheFrontOfTheChainAndIsHandedOutBlockByBlock)
{
    TDatabaseFixture db;
    auto io = OpenDiskInterface(db.Disk(), {});
    std::vector<Cardinal> blocks;
    for (Cardinal i = 0; i < 10; ++i)
        blocks.push_back(io->AllocateNewAddress(100, Pattern(100, i).data()));
    const Cardinal oldHead = io->FirstEmpty();
    ASSERT_EQ(oldHead, blocks[0] + 1000);

    const Cardinal a = blocks[3];
    io->ReleaseBlock(a, 300);
    EXPECT_EQ(io->FirstEmpty(), a);
    EXPECT_EQ(ReadBytes(*io, a, 100), RunBlock(100, oldHead, 3));
    EXPECT_EQ(ReadBytes(*io, a + 100, 100), std::vector<Byte>(100, 0));
    EXPECT_EQ(ReadBytes(*io, a + 200, 100), std::vector<Byte>(100, 0));

    EXPECT_EQ(io->AllocateNewAddress(100, Pattern(100, 20).data()), a);
    EXPECT_EQ(ReadBytes(*io, a + 100, 100), RunBlock(100, oldHead, 2));
    EXPECT_EQ(io->FirstEmpty(), a + 100);
    EXPECT_EQ(io->AllocateNewAddress(100, Pattern(100, 21).data()), a + 100);
    EXPECT_EQ(io->AllocateNewAddress(100, Pattern(100, 22).data()), a + 200);
    EXPECT_EQ(io->FirstEmpty(), oldHead);
    EXPECT_EQ(io->AllocateNewAddress(100, Pattern(100, 23).data()), oldHead);
    EXPECT_EQ(ReadBytes(*io, a, 100), Pattern(100, 20));
    EXPECT_EQ(ReadBytes(*io, blocks[2], 100), Pattern(100, 2));
    EXPECT_EQ(ReadBytes(*io, blocks[6], 100), Pattern(100, 6));
}

TEST(DiskIOInterface, ASmallerRequestIsPaddedWithZerosOverTheRunHeader)
{
    TDatabaseFixture db;
    auto io = OpenDiskInterface(db.Disk(), {});
    const Cardinal first = io->AllocateNewAddress(100, Pattern(100, 1).data());
    const Cardinal second = io->AllocateNewAddress(10, Pattern(10, 2).data());
    EXPECT_EQ(second, first + 100);
    auto expected = Pattern(10, 2);
    expected.resize(100, 0);
    EXPECT_EQ(ReadBytes(*io, second, 100), expected);
    const Cardinal zeroed = io->AllocateNewAddress(0, nullptr);
    EXPECT_EQ(ReadBytes(*io, zeroed, 100), std::vector<Byte>(100, 0));
}

TEST(DiskIOInterface, AWholePageGoesBackToTheMapAndLeavesTheChainAlone)
{
    TDatabaseFixture db;
    // Page-sized index blocks: every block is a page of its own.
    auto index = OpenDiskInterface(db.Disk(), {.BlockSize = DefaultPageSize, .Usage = IOUsageIndexPages,
                                               .GlobalOffset = TGlobalHdr::OfsIndexesFirstEmpty});
    const Cardinal page = index->AllocateNewAddress(DefaultPageSize, Pattern(DefaultPageSize, 1).data());
    EXPECT_EQ(db.MapEntry(page), 7 * 16 + IOUsageIndexPages);
    index->ReleaseBlock(page, DefaultPageSize);
    EXPECT_NE(db.MapEntry(page) & 0x8000, 0);
    EXPECT_EQ(index->GetGlobalFirstEmpty(), 0u);
    // The page is free for anyone again.
    EXPECT_EQ(index->AllocateNewAddress(DefaultPageSize, nullptr), page);

    // Four 1024-byte record blocks fill a page; released together, the page
    // goes back and the chain keeps its head.
    auto records = OpenDiskInterface(db.Disk(), {.BlockSize = 1024});
    std::vector<Cardinal> blocks;
    for (int i = 0; i < 5; ++i)
        blocks.push_back(records->AllocateNewAddress(1024, nullptr));
    const Cardinal head = records->FirstEmpty();
    ASSERT_EQ(head, blocks[4] + 1024);
    records->ReleaseBlock(blocks[0], DefaultPageSize);
    EXPECT_NE(db.MapEntry(blocks[0]) & 0x8000, 0);
    EXPECT_EQ(records->FirstEmpty(), head);
    EXPECT_EQ(db.MapEntry(blocks[4]), 7 * 16 + IOUsageRecords);
}

TEST(DiskIOInterface, AnOversizeRequestIsRefusedAndChangesNothing)
{
    TDatabaseFixture db;
    auto io = OpenDiskInterface(db.Disk(), {});
    io->AllocateNewAddress(100, nullptr);
    const Int64 size = db.FileSize();
    const Cardinal head = io->FirstEmpty();
    const std::vector<Byte> big(101, 7);
    EXPECT_IO_ERROR(8581, "Block request sizes < block size", io->AllocateNewAddress(101, big.data()));
    EXPECT_IO_ERROR(8581, "Block request sizes < block size", io->AllocateNewAddress(-1, big.data()));
    EXPECT_EQ(db.FileSize(), size);
    EXPECT_EQ(io->FirstEmpty(), head);
    EXPECT_EQ(ReadBytes(*io, head, 100), RunBlock(100, 0, 39));
}

TEST(DiskIOInterface, AChainKeptByItsOwnerMustBeKnownBeforeItChanges)
{
    TDatabaseFixture db;
    auto io = OpenDiskInterface(db.Disk(), {});
    const Cardinal block = io->AllocateNewAddress(100, nullptr);
    io->SetFirstEmptyValid(false);
    EXPECT_IO_ERROR(8581, "DiskIOInterface - non global first empty not set", io->AllocateNewAddress(100, nullptr));
    EXPECT_IO_ERROR(8581, "DiskIOInterface - non global first empty not set", io->ReleaseBlock(block, 100));
    EXPECT_IO_ERROR(8581, "Not a global interface", io->GetGlobalFirstEmpty());
    EXPECT_IO_ERROR(8581, "Attempt to write non validated first empty to global header",
                          io->SetGlobalFirstEmpty());
    // Address 0 is the database definition record: releasing it is refused.
    io->SetFirstEmptyValid(true);
    EXPECT_IO_ERROR(8581, "Invalid block address 0", io->ReleaseBlock(0, 100));
    EXPECT_EQ(io->FirstEmpty(), block + 100);
}

TEST(DiskIOInterface, TheGlobalChainIsSharedByEveryConnection)
{
    TDatabaseFixture db;
    auto other = db.Connect();
    const TDiskSetup setup{.BlockSize = 1024, .Usage = IOUsageIndexPages,
                           .GlobalOffset = TGlobalHdr::OfsIndexesFirstEmpty};
    auto mine = OpenDiskInterface(db.Disk(), setup);
    auto theirs = OpenDiskInterface(other.get(), setup);
    auto storedHead = [&] {
        auto third = db.Connect();
        third->SetHeaderReadLock();
        const Cardinal head = third->GlobalHdr()->IndexesFirstEmpty();
        third->ReleaseHeaderLock();
        return head;
    };

    const Cardinal a = mine->AllocateNewAddress(1024, Pattern(1024, 1).data());
    EXPECT_EQ(storedHead(), a + 1024);
    EXPECT_EQ(theirs->GetGlobalFirstEmpty(), a + 1024);
    // The other connection reads the head under the header lock, so it
    // continues the run the first one started.
    const Cardinal b = theirs->AllocateNewAddress(1024, Pattern(1024, 2).data());
    EXPECT_EQ(b, a + 1024);
    EXPECT_EQ(storedHead(), a + 2048);
    // Pages the other connection changed are forgotten before they are
    // used again, as a changed table header makes the owner do.
    mine->NotifyPageChange(7);
    const Cardinal c = mine->AllocateNewAddress(1024, Pattern(1024, 3).data());
    EXPECT_EQ(c, a + 2048);
    EXPECT_EQ(storedHead(), a + 3072);
    theirs->NotifyPageChange(7);
    theirs->ReleaseBlock(b, 1024);
    EXPECT_EQ(storedHead(), b);
    EXPECT_EQ(mine->GetGlobalFirstEmpty(), b);

    auto third = db.Connect();
    auto reader = OpenDiskInterface(third.get(), setup);
    EXPECT_EQ(ReadBytes(*reader, a, 1024), Pattern(1024, 1));
    EXPECT_EQ(ReadBytes(*reader, b, 1024), RunBlock(1024, a + 3072, 1));
    EXPECT_EQ(ReadBytes(*reader, c, 1024), Pattern(1024, 3));
}

TEST(DiskIOInterface, BlocksAreListedRequestByRequest)
{
    TDatabaseFixture db;
    // 3000-byte blocks come four to a request of three pages.
    auto io = OpenDiskInterface(db.Disk(), {.BlockSize = 3000});
    std::vector<Cardinal> allocated;
    for (int i = 0; i < 5; ++i)
        allocated.push_back(io->AllocateNewAddress(3000, nullptr));
    EXPECT_EQ(allocated[1], allocated[0] + 3000);
    EXPECT_EQ(allocated[4], allocated[0] + 3 * DefaultPageSize);

    std::vector<Cardinal> listed{99};
    io->ListBlocks(listed);
    std::vector<Cardinal> expected;
    for (Cardinal request : {allocated[0], allocated[4]})
        for (Cardinal i = 0; i < 4; ++i)
            expected.push_back(request + 3000 * i);
    EXPECT_EQ(listed, expected);
}

TEST(DiskIOInterface, EmptyingFreesTheTablesPagesAndForgetsTheChain)
{
    TDatabaseFixture db;
    auto records = OpenDiskInterface(db.Disk(), {});
    auto blobs = OpenDiskInterface(db.Disk(), {.BlockSize = 512, .Usage = IOUsageBlobs});
    const Cardinal record = records->AllocateNewAddress(100, nullptr);
    const Cardinal blob = blobs->AllocateNewAddress(512, nullptr);

    records->Empty(true);
    EXPECT_FALSE(records->FirstEmptyValid());
    EXPECT_NE(db.MapEntry(record) & 0x8000, 0);
    EXPECT_EQ(db.MapEntry(blob), 7 * 16 + IOUsageBlobs);
    std::vector<Cardinal> listed;
    records->ListBlocks(listed);
    EXPECT_TRUE(listed.empty());

    blobs->Empty(false);
    EXPECT_NE(db.MapEntry(blob) & 0x8000, 0);
}

// ======================================================== memory interface

TEST(MemoryIOInterface, EveryLiveBlockHasItsOwnNonZeroAddress)
{
    TMemoryIOInterface io;
    TMemoryIOInterface other;
    EXPECT_EQ(io.IOMode(), iomMemory);
    std::set<Cardinal> seen;
    for (Cardinal i = 0; i < 200; ++i) {
        const Cardinal address = (i % 2 ? io : other).AllocateNewAddress(64, Pattern(64, i).data());
        EXPECT_NE(address, 0u);
        EXPECT_TRUE(seen.insert(address).second) << address;
    }
    for (Cardinal address : seen) {
        EXPECT_NE(io.CheckBlockAddressValid(address), other.CheckBlockAddressValid(address));
        EXPECT_EQ(io.CheckPageValid(address), io.CheckBlockAddressValid(address));
    }
    // A block is as large as asked for, whatever the block size; a nil
    // buffer gives zeros.
    const Cardinal big = io.AllocateNewAddress(8192, nullptr);
    EXPECT_EQ(ReadBytes(io, big, 8192), std::vector<Byte>(8192, 0));
}

TEST(MemoryIOInterface, AReleasedAddressCanNoLongerBeRead)
{
    TMemoryIOInterface io;
    TStringList debug;
    io.SetDebugStrings(&debug);
    const Cardinal a = io.AllocateNewAddress(32, Pattern(32, 1).data());
    const Cardinal b = io.AllocateNewAddress(32, Pattern(32, 2).data());
    io.ReleaseBlock(a, 32);
    io.ReleaseBlock(a, 32); // unknown: ignored
    EXPECT_FALSE(io.CheckBlockAddressValid(a));
    std::vector<Byte> buffer(32, 0xEE);
    EXPECT_IO_ERROR(8581, "Read page error - block address not found", io.ReadBlock(a, 32, buffer.data()));
    EXPECT_NE(debug.IndexOf("  " + std::to_string(b)), -1) << debug.Text();
    void* p = nullptr;
    EXPECT_IO_ERROR(8581, "Read page error - block address not found", io.ReadBlockByRef(a, 32, p));

    // Writes and header transfers of unknown addresses do nothing.
    io.WriteBlock(a, 32, Pattern(32, 3).data());
    io.WriteBlockHeader(a, 16, Pattern(16, 3).data());
    io.ReadBlockHeader(a, 16, buffer.data());
    EXPECT_EQ(buffer, std::vector<Byte>(32, 0xEE));
    EXPECT_EQ(ReadBytes(io, b, 32), Pattern(32, 2));
}

TEST(MemoryIOInterface, TransfersRefuseNilBuffersTheBlockItselfAndSizesBeyondTheBlock)
{
    TMemoryIOInterface io;
    const Cardinal a = io.AllocateNewAddress(32, Pattern(32, 1).data());
    void* inside = nullptr;
    io.ReadBlockByRef(a, 32, inside);
    std::vector<Byte> buffer(64);
    const struct {
        const char* Text;
        std::function<void()> Transfer;
    } cases[] = {
        {"Write page error - nil pointer", [&] { io.WriteBlock(a, 32, nullptr); }},
        {"Write page error - nil pointer", [&] { io.WriteBlockByRef(a, 32, nullptr); }},
        {"Write header error - nil pointer", [&] { io.WriteBlockHeader(a, 8, nullptr); }},
        {"Unassigned memory pointer", [&] { io.ReadBlock(a, 32, nullptr); }},
        {"Read header error - nil pointer", [&] { io.ReadBlockHeader(a, 8, nullptr); }},
        {"Read page error - buffers equal", [&] { io.ReadBlock(a, 32, inside); }},
        {"holds 32 bytes, not 33", [&] { io.ReadBlock(a, 33, buffer.data()); }},
        {"holds 32 bytes, not 64", [&] { io.WriteBlock(a, 64, buffer.data()); }},
        {"holds 32 bytes, not 40", [&] { io.ReadBlockHeader(a, 40, buffer.data()); }},
        {"holds 32 bytes, not 33", [&] { io.ReadBlockByRef(a, 33, inside); }},
        {"holds 32 bytes, not -1", [&] { io.WriteBlockHeader(a, -1, buffer.data()); }},
        {"Invalid block request size -5", [&] { io.AllocateNewAddress(-5, nullptr); }},
    };
    for (const auto& c : cases)
        EXPECT_IO_ERROR(8581, c.Text, c.Transfer());
    EXPECT_EQ(ReadBytes(io, a, 32), Pattern(32, 1));

    // The pointer handed out is the block itself.
    static_cast<Byte*>(inside)[0] = 0x5A;
    EXPECT_EQ(ReadBytes(io, a, 1)[0], 0x5A);
    io.WriteBlockByRef(a, 32, inside);
    io.WriteBlockHeader(a, 4, Pattern(4, 9).data());
    io.ReadBlockHeader(a, 4, buffer.data());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 4, Pattern(4, 9).begin()));
}

TEST(MemoryIOInterface, BlocksAreWalkedInTheOrderTheyWereAllocated)
{
    TMemoryIOInterface io;
    std::vector<Cardinal> blocks;
    for (int i = 0; i < 5; ++i)
        blocks.push_back(io.AllocateNewAddress(16, nullptr));
    io.ReleaseBlock(blocks[0], 16);
    io.ReleaseBlock(blocks[2], 16);
    io.ReleaseBlock(blocks[4], 16);
    blocks = {blocks[1], blocks[3], io.AllocateNewAddress(16, nullptr)};

    std::vector<Cardinal> listed{42};
    io.ListBlocks(listed);
    EXPECT_EQ(listed, blocks);
    std::vector<Cardinal> walked;
    for (Cardinal address = io.GetNextMemoryBlockAddress(0); address != 0;
         address = io.GetNextMemoryBlockAddress(address))
        walked.push_back(address);
    EXPECT_EQ(walked, blocks);
    EXPECT_EQ(io.GetNextMemoryBlockAddress(0xFFFFFFF0u), 0u);

    io.Close(); // the blocks stay
    EXPECT_EQ(io.BlockCount(), 3);
    io.Empty(true);
    EXPECT_EQ(io.BlockCount(), 0);
    EXPECT_EQ(io.GetNextMemoryBlockAddress(0), 0u);
    EXPECT_FALSE(io.CheckBlockAddressValid(blocks[0]));
}

TEST(MemoryIOInterface, ThreadsAllocatingAtOnceNeverShareAnAddress)
{
    constexpr int Threads = 4;
    std::vector<std::vector<Cardinal>> held(Threads);
    std::vector<std::unique_ptr<TMemoryIOInterface>> interfaces;
    for (int t = 0; t < Threads; ++t)
        interfaces.push_back(std::make_unique<TMemoryIOInterface>());
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t + 1));
            auto& io = *interfaces[t];
            // Enough releases that released addresses are handed out again.
            for (int step = 0; step < 20000; ++step) {
                if (!held[t].empty() && random() % 3 == 0) {
                    const std::size_t at = random() % held[t].size();
                    io.ReleaseBlock(held[t][at], 8);
                    held[t][at] = held[t].back();
                    held[t].pop_back();
                } else {
                    held[t].push_back(io.AllocateNewAddress(8, nullptr));
                }
            }
        });
    for (auto& worker : workers)
        worker.join();
    std::set<Cardinal> all;
    for (int t = 0; t < Threads; ++t)
        for (Cardinal address : held[t]) {
            EXPECT_TRUE(all.insert(address).second) << address;
            EXPECT_TRUE(interfaces[t]->CheckBlockAddressValid(address));
        }
    EXPECT_GT(all.size(), 10000u);
}

// ================================================================ randomized

// Allocates, releases (single blocks and, on disk, adjacent pairs as one
// run) and rewrites blocks at random, checking after every allocation that
// the new block overlaps no live one, and now and then that every live
// block holds what was last written to it. Span is the address room a
// block takes (the block size on disk, 1 in memory). Returns the live
// blocks and their bytes.
std::map<Cardinal, std::vector<Byte>> RunRandomBlocks(TBaseIOInterface& IO, Integer BlockSize, Cardinal Span,
                                                      int Steps, unsigned Seed,
                                                      const std::function<void(int)>& BetweenSteps = {})
{
    std::mt19937 random(Seed);
    auto roll = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };
    std::map<Cardinal, std::vector<Byte>> live;
    Cardinal tag = Seed * 100000;
    auto pick = [&] { return std::next(live.begin(), roll(static_cast<int>(live.size())))->first; };
    auto verifyAll = [&] {
        for (const auto& [address, bytes] : live)
            EXPECT_EQ(ReadBytes(IO, address, BlockSize), bytes) << "block " << address;
    };

    for (int step = 0; step < Steps && !::testing::Test::HasFailure(); ++step) {
        if (BetweenSteps)
            BetweenSteps(step);
        const int op = roll(10);
        if (live.empty() || op < 5) {
            auto bytes = Pattern(static_cast<std::size_t>(BlockSize), ++tag);
            const Cardinal address = IO.AllocateNewAddress(BlockSize, bytes.data());
            EXPECT_NE(address, 0u);
            auto after = live.lower_bound(address);
            if (after != live.end()) {
                EXPECT_GE(after->first, address + Span) << "block " << address << " handed out twice";
            }
            if (after != live.begin()) {
                EXPECT_LE(std::prev(after)->first + Span, address) << "block " << address << " handed out twice";
            }
            live[address] = std::move(bytes);
        } else if (op < 8) {
            const Cardinal address = pick();
            const auto next = live.find(address + Span);
            if (Span > 1 && next != live.end() && roll(2) == 0) {
                IO.ReleaseBlock(address, 2 * BlockSize);
                live.erase(next);
            } else {
                IO.ReleaseBlock(address, BlockSize);
            }
            live.erase(address);
        } else {
            const Cardinal address = pick();
            live[address] = Pattern(static_cast<std::size_t>(BlockSize), ++tag);
            IO.WriteBlock(address, BlockSize, live[address].data());
        }
        if (step % 101 == 0)
            verifyAll();
    }
    verifyAll();
    return live;
}

TEST(MemoryIOInterface, RandomAllocationReleaseAndRewritingKeepEveryBlock)
{
    TMemoryIOInterface io;
    const auto live = RunRandomBlocks(io, 48, 1, 6000, 17);
    EXPECT_EQ(io.BlockCount(), static_cast<int>(live.size()));
}

// Blocks of several sizes share the interface's slabs (the large one is an
// allocation of its own): a block taken where a released one of its size
// lay starts as zeros without a buffer, and neither the blocks' bytes nor
// the reuse leak from one size into another, also after emptying.
TEST(MemoryIOInterface, BlocksOfEverySizeKeepTheirBytesWhenReleasedPlacesAreReused)
{
    TMemoryIOInterface io;
    const Integer sizes[] = {0, 1, 15, 16, 17, 100, 4096, 70000};
    for (int round = 0; round < 2; ++round) {
        std::map<Cardinal, std::vector<Byte>> live;
        for (int pass = 0; pass < 3; ++pass) {
            std::vector<Cardinal> dropped;
            for (Integer size : sizes)
                for (int copy = 0; copy < 40; ++copy) {
                    const bool withBytes = (copy + pass) % 2 == 0;
                    auto bytes = withBytes ? Pattern(static_cast<std::size_t>(size), static_cast<Cardinal>(size * 97 + copy + pass))
                                           : std::vector<Byte>(static_cast<std::size_t>(size), 0);
                    const Cardinal address = io.AllocateNewAddress(size, withBytes ? bytes.data() : nullptr);
                    live[address] = std::move(bytes);
                    if (copy % 3 == 0)
                        dropped.push_back(address);
                }
            for (Cardinal address : dropped) {
                io.ReleaseBlock(address, static_cast<Integer>(live[address].size()));
                live.erase(address);
                EXPECT_FALSE(io.CheckBlockAddressValid(address));
            }
            for (const auto& [address, bytes] : live) {
                if (!bytes.empty()) {
                    ASSERT_EQ(ReadBytes(io, address, static_cast<Integer>(bytes.size())), bytes) << "block " << address;
                }
            }
        }
        EXPECT_EQ(io.BlockCount(), static_cast<int>(live.size()));
        io.Empty(false);
        EXPECT_EQ(io.BlockCount(), 0);
    }
}

struct TRandomDiskCase {
    const char* Name;
    TDiskSetup Setup;
    bool Transactions; // steps run in transactions of 40, committed
};

void PrintTo(const TRandomDiskCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class DiskIOInterfaceRandom : public ::testing::TestWithParam<TRandomDiskCase> {};

TEST_P(DiskIOInterfaceRandom, KeepsEveryLiveBlockAndNeverHandsOneOutTwice)
{
    const TRandomDiskCase& c = GetParam();
    TDatabaseFixture db;
    db.Disk()->SetCryptKey("random key");
    auto io = OpenDiskInterface(db.Disk(), c.Setup);
    const Integer blockSize = c.Setup.BlockSize;
    const auto between = [&](int step) {
        if (!c.Transactions || step % 40 != 0)
            return;
        if (db.Disk()->IsTransactionActive())
            db.Disk()->DiskCommit();
        db.Disk()->DiskStartTransaction(false);
    };
    const auto live = RunRandomBlocks(*io, blockSize, static_cast<Cardinal>(blockSize), 1500, 5, between);
    if (db.Disk()->IsTransactionActive())
        db.Disk()->DiskCommit();
    ASSERT_FALSE(HasFailure());

    // Every live block lies in a page the map gives the table.
    const Word owner = static_cast<Word>(c.Setup.TableID * 16 + c.Setup.Usage);
    for (const auto& [address, bytes] : live) {
        EXPECT_EQ(db.MapEntry(address), owner) << address;
        EXPECT_EQ(db.MapEntry(address + static_cast<Cardinal>(blockSize) - 1), owner) << address;
    }

    // Another connection reads the same bytes.
    auto other = db.Connect();
    other->SetCryptKey("random key");
    auto reader = OpenDiskInterface(other.get(), c.Setup);
    for (const auto& [address, bytes] : live)
        EXPECT_EQ(ReadBytes(*reader, address, blockSize), bytes) << address;

    // The free chain and the live blocks together are exactly the blocks of
    // the table's pages: nothing lost, nothing counted twice.
    const std::set<Cardinal> free =
        FreeBlocks(*reader, c.Setup.GlobalOffset ? reader->GetGlobalFirstEmpty() : io->FirstEmpty());
    for (Cardinal block : free)
        EXPECT_FALSE(live.contains(block)) << "live block " << block << " is in the free chain";
    std::vector<Cardinal> listed;
    reader->ListBlocks(listed);
    EXPECT_EQ(listed.size(), live.size() + free.size());
    for (Cardinal block : listed)
        EXPECT_TRUE(live.contains(block) || free.contains(block)) << "block " << block << " is lost";
}

INSTANTIATE_TEST_SUITE_P(
    Setups, DiskIOInterfaceRandom,
    ::testing::Values(
        TRandomDiskCase{"Records100", {.BlockSize = 100}, false},
        TRandomDiskCase{"Blobs512Strong", {.BlockSize = 512, .Usage = IOUsageBlobs, .AccessFlags = 5}, false},
        TRandomDiskCase{"Index3000WeakGlobal",
                        {.BlockSize = 3000, .Usage = IOUsageIndexPages, .AccessFlags = 3,
                         .GlobalOffset = TGlobalHdr::OfsIndexesFirstEmpty},
                        false},
        TRandomDiskCase{"WholePages",
                        {.BlockSize = DefaultPageSize, .Usage = IOUsageIndexPages,
                         .GlobalOffset = TGlobalHdr::OfsIndexesFirstEmpty},
                        false},
        TRandomDiskCase{"HeadersUnpaged",
                        {.BlockSize = 256, .Usage = IOUsageIndexPages, .AccessFlags = 0,
                         .GlobalOffset = TGlobalHdr::OfsTableHeadersFirstEmpty},
                        false},
        TRandomDiskCase{"Records2048InTransactions", {.BlockSize = 2048}, true},
        TRandomDiskCase{"GlobalInTransactions",
                        {.BlockSize = 1000, .Usage = IOUsageIndexPages,
                         .GlobalOffset = TGlobalHdr::OfsIndexesFirstEmpty},
                        true}),
    [](const ::testing::TestParamInfo<TRandomDiskCase>& Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace orvex
