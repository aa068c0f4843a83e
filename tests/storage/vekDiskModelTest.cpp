// A randomized run of allocations, releases, rewrites, deletions, commits,
// rollbacks and reopenings against a simple model of the map and the pages:
// after every step the map pages, the header and (now and then) every page's
// bytes must be what the model says. Each cipher runs once as a shared file
// and once as a private file with a write-back cache of a few pages, which
// holds written pages, headers and map pages back until it replaces them.

#include "vekDiskTestUtil.h"

#include "storage/vekByteOrder.h"

#include <map>
#include <random>
#include <tuple>

namespace orvex {
namespace {

using disktest::Pattern;
using disktest::ReadFileBytes;

constexpr Integer PageSize = 256; // 118 entries a map page: boundaries come often
constexpr Integer EntriesPerMap = (PageSize - MapPageHeaderSize) / 2;
constexpr int Steps = 3000;

// What the file should hold: the map entry of every page (free entries as
// MapEntryFree alone), the map pages in id order, and the seed of every
// page in use.
struct TModel {
    std::vector<Word> Entries;
    std::vector<Cardinal> MapPages; // page numbers
    std::map<Cardinal, Cardinal> Seeds; // page number -> pattern seed

    TModel()
    {
        Entries.assign(NewFilePages, MapPageTypeSystem);
        Entries[SystemAreaPages] = MapPageTypeMap;
        MapPages.push_back(SystemAreaPages);
    }
    Cardinal PageCount() const { return static_cast<Cardinal>(Entries.size()); }

    // The first run of Count free entries inside one map page, map pages in order.
    Int64 FindFree(Integer Count) const
    {
        for (std::size_t map = 0; map < MapPages.size(); ++map) {
            Integer run = 0;
            for (Integer i = 0; i < EntriesPerMap; ++i) {
                const std::size_t page = map * EntriesPerMap + static_cast<std::size_t>(i);
                run = page < Entries.size() && Entries[page] == MapEntryFree ? run + 1 : 0;
                if (run == Count)
                    return static_cast<Int64>(page) - Count + 1;
            }
        }
        return -1;
    }
    void AddMapPage(std::vector<Cardinal>& Added)
    {
        MapPages.push_back(PageCount());
        Added.push_back(PageCount());
        Entries.push_back(0);
    }
    // The allocator's choice: a free run, else the end of file, with map
    // pages appended for every new map range and marked afterwards.
    Cardinal Allocate(Integer Count, Word Value, Cardinal Seed)
    {
        const Int64 found = FindFree(Count);
        const Cardinal start = found >= 0 ? static_cast<Cardinal>(found) : PageCount();
        if (found < 0)
            Entries.resize(Entries.size() + static_cast<std::size_t>(Count), 0);
        std::vector<Cardinal> added;
        for (Cardinal map = start / EntriesPerMap; map <= (start + Count - 1) / EntriesPerMap; ++map)
            if (map == MapPages.size())
                AddMapPage(added);
        for (Integer i = 0; i < Count; ++i) {
            Entries[start + i] = Value;
            Seeds[start + i] = Seed + static_cast<Cardinal>(i);
        }
        for (std::size_t next = 0; next < added.size(); ++next) {
            if (added[next] / EntriesPerMap == MapPages.size())
                AddMapPage(added);
            Entries[added[next]] = MapPageTypeMap;
        }
        return start;
    }
    void Release(Cardinal Start, Integer Count)
    {
        for (Integer i = 0; i < Count; ++i) {
            Entries[Start + i] = MapEntryFree;
            Seeds.erase(Start + i);
        }
    }
    void DeleteOwner(Integer Owner)
    {
        for (Cardinal page = 0; page < PageCount(); ++page)
            if (Entries[page] != 0 && !(Entries[page] & MapEntryFree) && Entries[page] >> 4 == Owner)
                Release(page, 1);
    }
};

// The page access flags, and whether the file is private with a write-back cache.
using TModelParam = std::tuple<Cardinal, bool>;

class DiskModelTest : public ::testing::TestWithParam<TModelParam> {
protected:
    DiskModelTest()
        : FPath(FDir.File("model.vek")), FFlags(std::get<0>(GetParam())), FWriteBack(std::get<1>(GetParam())),
          FRandom(20240611u + FFlags + (FWriteBack ? 100 : 0))
    {
        disktest::CreateDatabase(FPath, PageSize);
        Reopen();
    }

    void Reopen()
    {
        if (FDisk)
            FDisk->Close(); // writes what a write-back cache holds
        FDisk = std::make_unique<TDiskMgr>();
        FDisk->SetFileName(FPath);
        FDisk->SetPageSize(PageSize);
        FDisk->SetOpenFlags(fmOpenReadWrite | (FWriteBack ? fmShareExclusive : fmShareDenyNone));
        if (FWriteBack) {
            FDisk->SetPrivateFile(true);
            FDisk->SetWriteBack(true);
            FDisk->SetCacheBudget(16 * PageSize); // the smallest cache: pages are replaced all the time
        }
        FDisk->Open();
        FDisk->SetCryptKey("model key");
    }
    int Roll(int Below) { return std::uniform_int_distribution<int>(0, Below - 1)(FRandom); }

    std::vector<Byte> PagesFor(Cardinal Seed, Integer Count) const
    {
        std::vector<Byte> bytes;
        for (Integer i = 0; i < Count; ++i) {
            const auto page = Pattern(PageSize, Seed + static_cast<Cardinal>(i));
            bytes.insert(bytes.end(), page.begin(), page.end());
        }
        return bytes;
    }

    // A random page in use and how many pages in use follow it (at most Limit).
    bool PickUsedRun(Cardinal& Start, Integer& Count, Integer Limit)
    {
        if (FModel.Seeds.empty())
            return false;
        auto it = FModel.Seeds.begin();
        std::advance(it, Roll(static_cast<int>(FModel.Seeds.size())));
        Start = it->first;
        Count = 1;
        while (Count < Limit && FModel.Seeds.count(Start + static_cast<Cardinal>(Count)))
            ++Count;
        return true;
    }

    void Step(int Number)
    {
        const int choice = Roll(100);
        const bool inTransaction = FDisk->IsTransactionActive();
        if (choice < 40) {
            const Integer count = Roll(10) == 0 ? 1 + Roll(130) : 1 + Roll(4);
            const Integer table = 1 + Roll(6);
            const Cardinal seed = static_cast<Cardinal>(Number) * 1000;
            const Cardinal expected = FModel.Allocate(count, static_cast<Word>(table * 16 + 9), seed);
            const Cardinal address =
                FDisk->WriteNewPages(table, FFlags, 9, count, PagesFor(seed, count).data());
            ASSERT_EQ(address, expected * PageSize) << "allocation of " << count << " at step " << Number;
        } else if (choice < 65) {
            Cardinal start;
            Integer count;
            if (PickUsedRun(start, count, 1 + Roll(3))) {
                FModel.Release(start, count);
                FDisk->ReleasePages(start * PageSize, count);
            }
        } else if (choice < 75) {
            Cardinal start;
            Integer count;
            if (PickUsedRun(start, count, 1)) {
                const Integer table = FModel.Entries[start] >> 4;
                const Cardinal seed = 7000000 + static_cast<Cardinal>(Number);
                const auto bytes = Pattern(PageSize, seed);
                if (Roll(2) == 0) {
                    FDisk->WritePages(start * PageSize, 1, table, FFlags, bytes.data());
                    FModel.Seeds[start] = seed;
                } else {
                    // A partial write: the model keeps whole pages, so read,
                    // patch and remember the page as its own pattern.
                    std::vector<Byte> page(PageSize);
                    FDisk->ReadPages(start * PageSize, 1, table, FFlags, page.data());
                    ASSERT_EQ(page, Expected(start)) << "page " << start << " at step " << Number;
                    FDisk->WriteCustomSize(start * PageSize + 40, 100, table, FFlags, bytes.data() + 40);
                    std::copy(bytes.begin() + 40, bytes.begin() + 140, page.begin() + 40);
                    FPatched[start] = page;
                    FModel.Seeds[start] = PatchedSeed;
                }
            }
        } else if (choice < 78) {
            const Integer table = 1 + Roll(6);
            FModel.DeleteOwner(table);
            FDisk->DeleteOwnedPages(table, 9, false);
        } else if (choice < 86) {
            if (!inTransaction) {
                FSnapshot = FModel;
                FPatchedSnapshot = FPatched;
                // The transaction starts by writing what the cache holds back.
                if (FWriteBack)
                    FDisk->VekFile()->FlushWriteBack();
                FFileBefore = ReadFileBytes(FPath);
                FDisk->DiskStartTransaction(Roll(2) == 0);
            }
        } else if (choice < 92) {
            if (inTransaction)
                FDisk->DiskCommit();
        } else if (choice < 98) {
            if (inTransaction) {
                FDisk->DiskRollback();
                FModel = FSnapshot;
                FPatched = FPatchedSnapshot;
                ASSERT_EQ(ReadFileBytes(FPath), FFileBefore) << "rollback at step " << Number;
            }
        } else if (!inTransaction) {
            Reopen();
        }
    }

    void CheckMap(int Number)
    {
        const bool inTransaction = FDisk->IsTransactionActive();
        ASSERT_EQ(FDisk->GetFileSize(), Int64{FModel.PageCount()} * PageSize) << "step " << Number;
        FDisk->SetHeaderReadLock();
        ASSERT_EQ(FDisk->GlobalHdr()->MapPageCount(), FModel.MapPages.size()) << "step " << Number;
        FDisk->ReleaseHeaderLock();
        std::vector<Byte> map(PageSize);
        for (std::size_t id = 0; id < FModel.MapPages.size(); ++id) {
            FDisk->ReadCustomSize(FModel.MapPages[id] * PageSize, PageSize, 0, 0, map.data());
            ASSERT_EQ(ReadLE32(map.data() + MapPageIDOffset), id);
            const Cardinal next = id + 1 < FModel.MapPages.size() ? FModel.MapPages[id + 1] * PageSize : 0;
            ASSERT_EQ(ReadLE32(map.data() + MapPageNextOffset), next);
            for (Integer i = 0; i < EntriesPerMap; ++i) {
                const std::size_t page = id * EntriesPerMap + static_cast<std::size_t>(i);
                const Word expected = page < FModel.Entries.size() ? FModel.Entries[page] : 0;
                Word actual = ReadLE16(map.data() + MapPageHeaderSize + 2 * i);
                if (actual & MapEntryFree)
                    actual = MapEntryFree;
                ASSERT_EQ(actual, expected) << "page " << page << " at step " << Number
                                            << (inTransaction ? " in a transaction" : "");
            }
        }
        TStringList problems;
        FDisk->SetDebugStrings(&problems);
        ASSERT_TRUE(FDisk->DebugCheckContents()) << "step " << Number << ": " << problems.Text();
        FDisk->SetDebugStrings(nullptr);
    }

    void CheckPages(int Number)
    {
        std::vector<Byte> page(PageSize);
        for (const auto& [number, seed] : FModel.Seeds) {
            (void)seed;
            const Integer table = FModel.Entries[number] >> 4;
            FDisk->ReadPages(number * PageSize, 1, table, FFlags, page.data());
            ASSERT_EQ(page, Expected(number)) << "page " << number << " at step " << Number;
        }
        const std::vector<Byte> zeros(PageSize);
        for (Cardinal number = 0; number < FModel.PageCount(); ++number) {
            if (FModel.Entries[number] != MapEntryFree)
                continue;
            FDisk->ReadCustomSize(number * PageSize, PageSize, 0, 0, page.data());
            ASSERT_EQ(page, zeros) << "released page " << number << " at step " << Number;
        }
    }

    // The bytes a page in use should hold.
    std::vector<Byte> Expected(Cardinal Page)
    {
        const Cardinal seed = FModel.Seeds.at(Page);
        return seed == PatchedSeed ? FPatched.at(Page) : Pattern(PageSize, seed);
    }

    static constexpr Cardinal PatchedSeed = 0xFFFFFFFFu;

    disktest::TTempDir FDir;
    std::string FPath;
    Cardinal FFlags;
    bool FWriteBack;
    std::mt19937 FRandom;
    std::unique_ptr<TDiskMgr> FDisk;
    TModel FModel;
    TModel FSnapshot;
    std::map<Cardinal, std::vector<Byte>> FPatched; // pages last written in part
    std::map<Cardinal, std::vector<Byte>> FPatchedSnapshot;
    std::vector<Byte> FFileBefore;
};

TEST_P(DiskModelTest, TheMapAndThePagesFollowTheModel)
{
    for (int number = 0; number < Steps; ++number) {
        ASSERT_NO_FATAL_FAILURE(Step(number));
        ASSERT_NO_FATAL_FAILURE(CheckMap(number));
        if (number % 50 == 0) {
            ASSERT_NO_FATAL_FAILURE(CheckPages(number));
        }
    }
    if (FDisk->IsTransactionActive())
        FDisk->DiskCommit();
    Reopen();
    ASSERT_NO_FATAL_FAILURE(CheckMap(Steps));
    ASSERT_NO_FATAL_FAILURE(CheckPages(Steps));
    // The run did reach beyond the first map pages and reuse freed pages.
    EXPECT_GT(FModel.MapPages.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Pages, DiskModelTest, ::testing::Combine(disktest::PageAccessFlags(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<TModelParam>& Info) {
                             return disktest::PageAccessName({std::get<0>(Info.param), Info.index}) +
                                    (std::get<1>(Info.param) ? "WriteBack" : "");
                         });

} // namespace
} // namespace orvex
