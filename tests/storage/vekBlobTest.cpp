// Blob chains, on disk and in memory: the block layout of new chains,
// rewriting in place for shorter, longer and empty values, reading, and
// randomized editing that keeps every value and leaks no block.

#include "vekInterfaceTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace orvex {
namespace {

using disktest::Pattern;
using iotest::BytesOf;
using iotest::FreeBlocks;
using iotest::OpenDiskInterface;
using iotest::ReadBytes;
using iotest::StreamOf;
using iotest::TDatabaseFixture;

constexpr Integer BlockSize = 512;
constexpr Integer Payload = BlockSize - BlobHeaderSize; // 504

struct TBlobBlock {
    Cardinal Next;
    Cardinal Used;
    std::vector<Byte> Payload;
};

// A blob interface with 512-byte blocks over a disk interface (param true)
// or a memory interface.
class BlobChains : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            FDatabase = std::make_unique<TDatabaseFixture>();
            FIO = OpenDiskInterface(FDatabase->Disk(), {.BlockSize = BlockSize, .Usage = IOUsageBlobs});
        } else {
            FIO = std::make_unique<TMemoryIOInterface>();
            FIO->SetBlockSize(BlockSize);
            FIO->Open();
        }
        FBlobs.SetIOInterface(FIO.get());
        FBlobs.SetBlobBlockSize(BlockSize);
        FBlobs.Open();
    }

    bool OnDisk() const { return GetParam(); }

    Cardinal Insert(const std::vector<Byte>& Bytes)
    {
        auto stream = StreamOf(Bytes);
        return FBlobs.InsertBlob(stream.get());
    }
    Cardinal Edit(Cardinal Address, const std::vector<Byte>& Bytes)
    {
        auto stream = StreamOf(Bytes);
        stream->SetPosition(stream->Size()); // editing rewinds by itself
        return FBlobs.EditBlob(Address, 0, stream.get());
    }
    std::vector<Byte> Read(Cardinal Address)
    {
        TMemoryStream stream;
        const Int64 count = FBlobs.ReadBlob(Address, &stream);
        EXPECT_EQ(count, stream.Size());
        return BytesOf(stream);
    }

    TBlobBlock Block(Cardinal Address)
    {
        const auto bytes = ReadBytes(*FIO, Address, BlockSize);
        return {ReadLE32(&bytes[BlobNextOffset]), ReadLE32(&bytes[BlobUsedOffset]),
                {bytes.begin() + BlobHeaderSize, bytes.end()}};
    }
    std::vector<Cardinal> Chain(Cardinal Address)
    {
        std::vector<Cardinal> chain;
        for (; Address != 0 && chain.size() < 1000; Address = Block(Address).Next)
            chain.push_back(Address);
        return chain;
    }
    // The used counts along the chain.
    std::vector<Cardinal> UsedCounts(Cardinal Address)
    {
        std::vector<Cardinal> used;
        for (Cardinal block : Chain(Address))
            used.push_back(Block(block).Used);
        return used;
    }
    // Whether the block is free again.
    bool IsFree(Cardinal Address)
    {
        if (!OnDisk())
            return !FIO->CheckBlockAddressValid(Address);
        return FreeBlocks(*FIO, FIO->FirstEmpty()).contains(Address);
    }
    // Whether every block the interface has is free: no chain left behind.
    bool AllFree()
    {
        if (!OnDisk())
            return static_cast<TMemoryIOInterface&>(*FIO).BlockCount() == 0;
        std::vector<Cardinal> listed;
        FIO->ListBlocks(listed);
        return FreeBlocks(*FIO, FIO->FirstEmpty()).size() == listed.size();
    }

    std::unique_ptr<TDatabaseFixture> FDatabase;
    std::unique_ptr<TBaseIOInterface> FIO;
    TBlobInterface FBlobs;
};

// Payload bytes: Count bytes of Bytes from From on, then zeros to the end of a block.
std::vector<Byte> PayloadOf(const std::vector<Byte>& Bytes, std::size_t From, std::size_t Count)
{
    std::vector<Byte> payload(Bytes.begin() + static_cast<std::ptrdiff_t>(From),
                              Bytes.begin() + static_cast<std::ptrdiff_t>(From + Count));
    payload.resize(Payload, 0);
    return payload;
}

TEST_P(BlobChains, AThousandBytesTakeTwoBlocksWrittenFromTheEnd)
{
    const auto value = Pattern(1000, 1);
    const Cardinal first = Insert(value);
    const auto chain = Chain(first);
    ASSERT_EQ(chain.size(), 2u);
    const TBlobBlock head = Block(chain[0]);
    const TBlobBlock tail = Block(chain[1]);
    EXPECT_EQ(head.Used, 504u);
    EXPECT_EQ(head.Payload, PayloadOf(value, 0, 504));
    EXPECT_EQ(tail.Next, 0u);
    EXPECT_EQ(tail.Used, 496u);
    EXPECT_EQ(tail.Payload, PayloadOf(value, 504, 496));
    // The tail was allocated first, so that the head could name it.
    if (OnDisk()) {
        EXPECT_EQ(chain[0], chain[1] + BlockSize);
    } else {
        EXPECT_EQ(FIO->GetNextMemoryBlockAddress(0), chain[1]);
    }
    EXPECT_EQ(Read(first), value);
}

TEST_P(BlobChains, EveryBlockButTheLastIsFull)
{
    const struct {
        std::size_t Size;
        std::vector<Cardinal> Used;
    } cases[] = {
        {0, {}},
        {1, {1}},
        {504, {504}},
        {505, {504, 1}},
        {1008, {504, 504}},
        {1009, {504, 504, 1}},
        {5000, {504, 504, 504, 504, 504, 504, 504, 504, 504, 464}},
    };
    FBlobs.SetCompressionMode(dcZLib); // kept, but values are stored as they are
    for (const auto& c : cases) {
        const auto value = Pattern(c.Size, static_cast<Cardinal>(c.Size));
        const Cardinal address = Insert(value);
        EXPECT_EQ(address == 0, c.Size == 0) << c.Size;
        EXPECT_EQ(UsedCounts(address), c.Used) << c.Size;
        EXPECT_EQ(Read(address), value) << c.Size;
        if (!c.Used.empty()) {
            EXPECT_EQ(Block(address).Payload, PayloadOf(value, 0, c.Used[0])) << c.Size;
        }
    }
}

TEST_P(BlobChains, AShorterValueRewritesTheFirstBlocksAndReleasesTheRest)
{
    const Cardinal address = Insert(Pattern(1000, 1));
    const Cardinal second = Chain(address)[1];
    const auto value = Pattern(300, 2);
    EXPECT_EQ(Edit(address, value), address);
    const TBlobBlock head = Block(address);
    EXPECT_EQ(head.Next, 0u);
    EXPECT_EQ(head.Used, 300u);
    EXPECT_EQ(head.Payload, PayloadOf(value, 0, 300));
    EXPECT_TRUE(IsFree(second));
    EXPECT_EQ(Read(address), value);

    // Exactly one block's worth fits the first block alone.
    const Cardinal three = Insert(Pattern(1500, 3));
    const auto old = Chain(three);
    EXPECT_EQ(Edit(three, Pattern(504, 4)), three);
    EXPECT_EQ(UsedCounts(three), std::vector<Cardinal>{504});
    EXPECT_TRUE(IsFree(old[1]));
    EXPECT_TRUE(IsFree(old[2]));
}

TEST_P(BlobChains, ALongerValueKeepsTheOldBlocksAndChainsNewOnesAfterThem)
{
    const Cardinal address = Insert(Pattern(400, 1));
    const auto value = Pattern(1500, 2);
    EXPECT_EQ(Edit(address, value), address);
    const auto chain = Chain(address);
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(chain[0], address);
    EXPECT_EQ(Block(address).Payload, PayloadOf(value, 0, 504));
    EXPECT_EQ(UsedCounts(address), (std::vector<Cardinal>{504, 504, 492}));
    EXPECT_EQ(Block(chain[2]).Payload, PayloadOf(value, 1008, 492));
    EXPECT_EQ(Read(address), value);

    // An edit of the same length rewrites every block in place.
    const auto same = Pattern(1500, 3);
    EXPECT_EQ(Edit(address, same), address);
    EXPECT_EQ(Chain(address), chain);
    EXPECT_EQ(Read(address), same);
}

TEST_P(BlobChains, AnEmptyValueReleasesTheChainAndLeavesNoAddress)
{
    const Cardinal address = Insert(Pattern(1200, 1));
    const auto chain = Chain(address);
    TMemoryStream empty;
    EXPECT_EQ(FBlobs.EditBlob(address, 1200, &empty), 0u);
    for (Cardinal block : chain)
        EXPECT_TRUE(IsFree(block)) << block;
    EXPECT_TRUE(AllFree());
}

TEST_P(BlobChains, EditingWithoutAChainWritesANewOne)
{
    const auto value = Pattern(700, 1);
    const Cardinal address = Edit(0, value);
    EXPECT_NE(address, 0u);
    EXPECT_EQ(Read(address), value);
    TMemoryStream empty;
    EXPECT_EQ(FBlobs.EditBlob(0, 0, &empty), 0u);
}

TEST_P(BlobChains, ReadingAppendsAtTheStreamsPosition)
{
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    EXPECT_EQ(FBlobs.ReadBlob(0, &stream), 0);
    EXPECT_EQ(stream.Size(), 3);

    const auto value = Pattern(600, 1);
    EXPECT_EQ(FBlobs.ReadBlob(Insert(value), &stream), 600);
    auto expected = std::vector<Byte>{'a', 'b', 'c'};
    expected.insert(expected.end(), value.begin(), value.end());
    EXPECT_EQ(BytesOf(stream), expected);
}

TEST_P(BlobChains, AChainOfMostOfTheBlocksIsDeletedAndEdited)
{
    // One 100 KB value holds nearly every block of the interface: freeing
    // its blocks one by one must not look like a chain that loops.
    const auto big = Pattern(100 * 1024, 3);
    const Cardinal address = Insert(big);
    EXPECT_EQ(Read(address), big);
    FBlobs.DeleteBlob(address, 0);
    EXPECT_TRUE(AllFree());

    // Shortening a long value releases most of its chain.
    const Cardinal again = Insert(big);
    const auto small = Pattern(600, 4);
    EXPECT_EQ(Edit(again, small), again);
    EXPECT_EQ(Read(again), small);
    EXPECT_EQ(Edit(again, big), again);
    EXPECT_EQ(Read(again), big);
    FBlobs.DeleteBlob(again, 0);
    EXPECT_TRUE(AllFree());
}

TEST_P(BlobChains, DeletingReleasesEveryBlock)
{
    const Cardinal address = Insert(Pattern(2000, 1));
    const Cardinal kept = Insert(Pattern(100, 2));
    const auto chain = Chain(address);
    FBlobs.DeleteBlob(address, 0);
    FBlobs.DeleteBlob(0, 0);
    for (Cardinal block : chain)
        EXPECT_TRUE(IsFree(block)) << block;
    EXPECT_EQ(Read(kept), Pattern(100, 2));
}

TEST_P(BlobChains, AUsedCountBeyondTheBlockIsCorruption)
{
    const Cardinal address = Insert(Pattern(100, 1));
    auto bytes = ReadBytes(*FIO, address, BlockSize);
    WriteLE32(&bytes[BlobUsedOffset], Payload + 1);
    FIO->WriteBlock(address, BlockSize, bytes.data());
    TMemoryStream stream;
    EXPECT_IO_ERROR(8451, "claims 505 bytes of 504", FBlobs.ReadBlob(address, &stream));
}

TEST_P(BlobChains, RandomEditsKeepEveryValueAndLeakNoBlock)
{
    std::mt19937 random(OnDisk() ? 3 : 4);
    auto roll = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };
    std::map<int, std::pair<Cardinal, std::vector<Byte>>> values; // key -> address, bytes
    Cardinal tag = 0;
    // Sizes around the block boundaries, and some larger.
    auto size = [&] {
        const std::size_t edges[] = {0, 1, 503, 504, 505, 1007, 1008, 1009};
        return roll(3) == 0 ? edges[roll(8)] : static_cast<std::size_t>(roll(4000));
    };
    for (int step = 0; step < 600 && !HasFailure(); ++step) {
        const int key = roll(25);
        auto it = values.find(key);
        const int op = roll(10);
        if (it == values.end()) {
            auto bytes = Pattern(size(), ++tag);
            const Cardinal address = Insert(bytes);
            values[key] = {address, std::move(bytes)};
        } else if (op < 7) {
            auto bytes = Pattern(size(), ++tag);
            it->second.first = Edit(it->second.first, bytes);
            EXPECT_EQ(it->second.first == 0, bytes.empty());
            it->second.second = std::move(bytes);
        } else {
            FBlobs.DeleteBlob(it->second.first, 0);
            values.erase(it);
        }
        if (step % 50 != 0)
            continue;
        for (const auto& [k, value] : values)
            ASSERT_EQ(Read(value.first), value.second) << "value " << k << " at step " << step;
    }
    for (const auto& [k, value] : values) {
        EXPECT_EQ(Read(value.first), value.second) << "value " << k;
        FBlobs.DeleteBlob(value.first, 0);
    }
    EXPECT_TRUE(AllFree());
}

INSTANTIATE_TEST_SUITE_P(Stores, BlobChains, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& Info) {
                             return std::string(Info.param ? "Disk" : "Memory");
                         });

TEST(BlobInterface, OpeningNeedsAnInterfaceAndABlockWithRoomForData)
{
    TMemoryIOInterface io;
    const struct {
        TBaseIOInterface* IO;
        Integer BlockSize;
        const char* Text; // nullptr: opens
    } cases[] = {
        {nullptr, 512, "Unable to create blob interface - IOInterface is null"},
        {&io, 0, "Unable to create blob interface - Block size is 0"},
        {&io, 8, "Block size 8 leaves no room for data"},
        {&io, -1, "Block size -1 leaves no room for data"},
        {&io, 9, nullptr},
    };
    for (const auto& c : cases) {
        TBlobInterface blobs;
        blobs.SetIOInterface(c.IO);
        blobs.SetBlobBlockSize(c.BlockSize);
        if (c.Text) {
            EXPECT_IO_ERROR(8581, c.Text, blobs.Open());
            EXPECT_IO_CODE(8576, blobs.InsertBlob(StreamOf({1, 2}).get()));
        } else {
            blobs.Open();
            // A single payload byte per block still makes a chain.
            TMemoryStream out;
            EXPECT_EQ(blobs.ReadBlob(blobs.InsertBlob(StreamOf({1, 2, 3}).get()), &out), 3);
            EXPECT_EQ(BytesOf(out), (std::vector<Byte>{1, 2, 3}));
            blobs.Close();
            EXPECT_EQ(blobs.IOInterface(), nullptr);
            EXPECT_EQ(blobs.BlobBlockSize(), 0);
            EXPECT_IO_CODE(8576, blobs.InsertBlob(StreamOf({1}).get()));
        }
    }
}

} // namespace
} // namespace orvex
