// The read-ahead buffer: pooled buffers, lookups and expiry on the tick counter.

#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace orvex {
namespace {

// Appends items for the record addresses, numbered from FirstRecNo, each
// record buffer filled with its address's low byte.
void Fill(TReadAheadBuffer& Buffer, const std::vector<Cardinal>& Addresses, Integer FirstRecNo = 1)
{
    for (Cardinal address : Addresses) {
        TReadAheadBufferItem* item = Buffer.Add();
        item->SetRecAddr(address);
        item->SetRecNo(FirstRecNo++);
        std::memset(item->RecBuf(), static_cast<int>(address & 0xFF),
                    static_cast<std::size_t>(Buffer.RecordBufferSize()));
    }
}

std::vector<Byte*> RecBufs(const TReadAheadBuffer& Buffer)
{
    std::vector<Byte*> bufs;
    for (int i = 0; i < Buffer.Count(); ++i)
        bufs.push_back(Buffer.GetItems(i)->RecBuf());
    return bufs;
}

// The tick counter pinned to a value the test moves.
class PinnedTicks {
public:
    explicit PinnedTicks(Cardinal Start) : FNow(Start)
    {
        SetTickCountSource([this] { return FNow; });
    }
    ~PinnedTicks() { SetTickCountSource(nullptr); }
    void Set(Cardinal Now) { FNow = Now; }

private:
    Cardinal FNow;
};

TEST(ReadAheadBufferTest, RefillsReuseThePooledBuffers)
{
    TReadAheadBuffer buffer;
    buffer.Open(64, 24, 500);
    Fill(buffer, {100, 200, 300, 400, 500});
    EXPECT_EQ(buffer.GetInternalBufferCount(), 5);
    const std::vector<Byte*> first = RecBufs(buffer);
    EXPECT_NE(buffer.GetItems(0)->KeyBuf(), buffer.GetItems(1)->KeyBuf());

    buffer.Invalidate();
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_EQ(buffer.ValidTimeStamp(), 0u);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 5);

    Fill(buffer, {600, 700, 800});
    EXPECT_EQ(buffer.GetInternalBufferCount(), 5) << "no new buffers within the earlier size";
    EXPECT_EQ(RecBufs(buffer), std::vector<Byte*>(first.begin(), first.begin() + 3));

    Fill(buffer, {900, 1000, 1100});
    EXPECT_EQ(buffer.GetInternalBufferCount(), 6);
    EXPECT_EQ(buffer.GetItems(4)->RecBuf(), first[4]);

    buffer.Close();
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 0);
}

TEST(ReadAheadBufferTest, OpenStartsAfreshWithTheNewSizes)
{
    TReadAheadBuffer buffer;
    buffer.Open(16, 8, 500);
    Fill(buffer, {1, 2});
    buffer.SetValidTimeStamp(77);
    buffer.SetLastRecordCount(12);
    buffer.SetRecordCountValid(true);

    buffer.Open(32, 10, 10000);
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 0);
    EXPECT_EQ(buffer.RecordBufferSize(), 32);
    EXPECT_EQ(buffer.KeyBufferSize(), 10);
    EXPECT_EQ(buffer.ValidPeriod(), 10000u);
    EXPECT_EQ(buffer.ValidTimeStamp(), 0u);
    EXPECT_EQ(buffer.LastRecordCount(), 0);
    EXPECT_FALSE(buffer.RecordCountValid());

    // Buffers of the new sizes: the whole record buffer can be written.
    Fill(buffer, {3});
    EXPECT_EQ(buffer.GetItems(0)->RecBuf()[31], 3);
}

TEST(ReadAheadBufferTest, ValidForThePeriodAfterTheFill)
{
    TReadAheadBuffer buffer;
    buffer.Open(8, 8, 500);
    EXPECT_FALSE(buffer.IsValid(0)) << "an empty buffer is never valid";

    Fill(buffer, {1, 2, 3});
    buffer.SetValidTimeStamp(1000);
    EXPECT_TRUE(buffer.IsValid(1000));
    EXPECT_TRUE(buffer.IsValid(1500));
    EXPECT_EQ(buffer.Count(), 3);
    EXPECT_FALSE(buffer.IsValid(1501));
    EXPECT_EQ(buffer.Count(), 0) << "an expired buffer empties itself";
    EXPECT_EQ(buffer.ValidTimeStamp(), 0u);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 3);
}

TEST(ReadAheadBufferTest, ValidityCountsElapsedTicksAcrossTheCounterWrap)
{
    struct TCase {
        Cardinal Stamp;
        Cardinal Now;
        bool Valid;
    };
    const std::vector<TCase> cases{
        {0xFFFFFF00u, 0xFFFFFF10u, true}, // the stamp plus the period wraps past 0
        {0xFFFFFF00u, 0x000000F3u, true}, // 499 ticks, the counter wrapped
        {0xFFFFFF00u, 0x000000F4u, true}, // 500 ticks
        {0xFFFFFF00u, 0x000000F5u, false},
        {0xFFFFFE10u, 0xFFFFFFFFu, true}, // 495 ticks
        {0x00000010u, 0xFFFFFFF0u, false}, // far past the period
    };
    for (const TCase& c : cases) {
        TReadAheadBuffer buffer;
        buffer.Open(8, 8, 500);
        Fill(buffer, {1});
        buffer.SetValidTimeStamp(c.Stamp);
        EXPECT_EQ(buffer.IsValid(c.Now), c.Valid) << std::hex << c.Stamp << " " << c.Now;
    }
}

TEST(ReadAheadBufferTest, StampedAndCheckedOnTheEngineTickCounter)
{
    PinnedTicks ticks(0xFFFFFFF0u);
    TReadAheadBuffer buffer;
    buffer.Open(8, 8, 10000);
    Fill(buffer, {1});
    buffer.SetValidTimeStamp(GetMSTimeMarker());

    ticks.Set(0x00000100u);
    EXPECT_TRUE(buffer.IsValid(GetMSTimeMarker()));
    ticks.Set(0x00002710u); // 10000 ticks after the wrap: 10016 since the fill
    EXPECT_FALSE(buffer.IsValid(GetMSTimeMarker()));
}

TEST(ReadAheadBufferTest, LookupsByRecordAddress)
{
    TReadAheadBuffer buffer;
    buffer.Open(4, 4, 500);
    EXPECT_EQ(buffer.Last(), nullptr);
    Fill(buffer, {10, 20, 30}, 7);

    EXPECT_EQ(buffer.GetIndexOfBufferItem(20), 1);
    EXPECT_EQ(buffer.GetIndexOfBufferItem(99), -1);
    EXPECT_EQ(buffer.GetBufferItem(30)->RecNo(), 9);
    EXPECT_EQ(buffer.GetBufferItem(99), nullptr);
    EXPECT_EQ(buffer.GetNextBufferItem(10)->RecAddr(), 20u);
    EXPECT_EQ(buffer.GetNextBufferItem(30), nullptr) << "the last has no next";
    EXPECT_EQ(buffer.GetNextBufferItem(99), nullptr) << "not buffered";
    EXPECT_EQ(buffer.GetPriorBufferItem(20)->RecAddr(), 10u);
    EXPECT_EQ(buffer.GetPriorBufferItem(10), nullptr) << "the first has no prior";
    EXPECT_EQ(buffer.GetPriorBufferItem(99), nullptr);
    EXPECT_EQ(buffer.Last()->RecAddr(), 30u);

    // The search runs from the last item back.
    Fill(buffer, {20}, 10);
    EXPECT_EQ(buffer.GetIndexOfBufferItem(20), 3);

    buffer.DeleteItem(0);
    EXPECT_EQ(buffer.GetIndexOfBufferItem(10), -1);
    EXPECT_EQ(buffer.GetItems(0)->RecAddr(), 20u);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 4);
}

TEST(ReadAheadBufferTest, SetItemsCopiesRecordKeyAndPosition)
{
    TReadAheadBuffer buffer;
    buffer.Open(4, 2, 500);
    Fill(buffer, {0x11, 0x22});
    buffer.GetItems(1)->KeyBuf()[0] = 0x5A;
    buffer.SetItems(0, buffer.GetItems(1));
    EXPECT_EQ(buffer.GetItems(0)->RecAddr(), 0x22u);
    EXPECT_EQ(buffer.GetItems(0)->RecNo(), 2);
    EXPECT_EQ(buffer.GetItems(0)->RecBuf()[3], 0x22);
    EXPECT_EQ(buffer.GetItems(0)->KeyBuf()[0], 0x5A);
    EXPECT_NE(buffer.GetItems(0)->RecBuf(), buffer.GetItems(1)->RecBuf());

    TReadAheadBuffer other;
    other.Open(8, 2, 500);
    Fill(other, {0x33});
    EXPECT_THROW(buffer.SetItems(0, other.GetItems(0)), EAssertionFailed);
}

TEST(ReadAheadBufferTest, ItemsNeedBothBuffers)
{
    TReadAheadBuffer buffer;
    auto* item = new TReadAheadBufferItem(&buffer);
    Byte byte = 0;
    EXPECT_THROW(item->Initialize(nullptr, &byte), EAssertionFailed);
    EXPECT_THROW(item->Initialize(&byte, nullptr), EAssertionFailed);
    item->Initialize(&byte, &byte);
    EXPECT_EQ(item->RecBuf(), &byte);
}

} // namespace
} // namespace orvex
