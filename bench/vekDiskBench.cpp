// Page reads and writes per second through a connection's page cache: hot
// (the pages are cached), cold (every read misses the cache), write-through
// and inside a transaction, for plain, scrambled and Blowfish pages.

#include "storage/vekDisk.h"

#include "platform/FileIO.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace {

constexpr Integer PageSize = 4096;
constexpr Integer TablePages = 4000; // a 16 MB table: the cache holds a quarter of it
constexpr Integer TableID = 1;

// A database with one table of TablePages pages, removed afterwards.
class TBenchDatabase {
public:
    explicit TBenchDatabase(Cardinal Flags) : FFlags(Flags)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vekbench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FFolder = pattern;
        const std::string path = FFolder + "/bench.vek";
        FDisk.SetFileName(path);
        FDisk.SetPageSize(PageSize);
        FDisk.CreateNewFile(true);
        FDisk.Open();
        std::vector<Byte> pages(static_cast<std::size_t>(TablePages) * PageSize);
        for (std::size_t i = 0; i < pages.size(); ++i)
            pages[i] = static_cast<Byte>(i * 31 + i / PageSize);
        FFirst = FDisk.WriteNewPages(TableID, Flags, 9, TablePages, pages.data());
        // Open again, so that the cache is sized for the grown file and empty.
        FDisk.Close();
        FDisk.Open();
    }
    ~TBenchDatabase()
    {
        FDisk.Close();
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
    Cardinal Page(Integer Number) const { return FFirst + static_cast<Cardinal>(Number * PageSize); }
    TDiskMgr& Disk() { return FDisk; }
    Cardinal Flags() const { return FFlags; }

private:
    std::string FFolder;
    TDiskMgr FDisk;
    Cardinal FFirst = 0;
    Cardinal FFlags;
};

Cardinal FlagsOf(const benchmark::State& state)
{
    return static_cast<Cardinal>(state.range(0));
}

void Label(benchmark::State& state, TBenchDatabase& db)
{
    const Int64 hits = db.Disk().VekFile()->Cache()->Hits();
    const Int64 misses = db.Disk().VekFile()->Cache()->Misses();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * PageSize);
    state.counters["hit%"] = hits + misses > 0 ? 100.0 * static_cast<double>(hits) / static_cast<double>(hits + misses) : 0;
    const Cardinal flags = FlagsOf(state);
    state.SetLabel(flags & VekAccessXOR ? "scrambled" : flags & VekAccessBlowfish ? "blowfish" : "plain");
}

// Reads among 64 pages that stay cached.
void BM_PageReadHot(benchmark::State& state)
{
    TBenchDatabase db(FlagsOf(state));
    std::vector<Byte> page(PageSize);
    Integer next = 0;
    for (auto _ : state) {
        db.Disk().ReadPages(db.Page(next), 1, TableID, db.Flags(), page.data());
        next = (next + 1) % 64;
        benchmark::DoNotOptimize(page.data());
    }
    Label(state, db);
}

// Reads that sweep the whole table, four times the cache: every one misses
// the engine's cache (the operating system's may still hold the file).
void BM_PageReadCold(benchmark::State& state)
{
    TBenchDatabase db(FlagsOf(state));
    std::vector<Byte> page(PageSize);
    Integer next = 0;
    for (auto _ : state) {
        db.Disk().ReadPages(db.Page(next), 1, TableID, db.Flags(), page.data());
        next = (next + 1) % TablePages;
        benchmark::DoNotOptimize(page.data());
    }
    Label(state, db);
}

// Whole-page writes to cached pages: each goes through to the file.
void BM_PageWriteThrough(benchmark::State& state)
{
    TBenchDatabase db(FlagsOf(state));
    std::vector<Byte> page(PageSize, 0x5A);
    Integer next = 0;
    for (auto _ : state) {
        page[0] = static_cast<Byte>(next);
        db.Disk().WritePages(db.Page(next), 1, TableID, db.Flags(), page.data());
        next = (next + 1) % 64;
    }
    Label(state, db);
}

// Writes of 100 bytes inside pages, in transactions of 100 writes to 100
// pages that end in a commit: the writes stay in memory until then.
void BM_PageWriteInTransaction(benchmark::State& state)
{
    TBenchDatabase db(FlagsOf(state));
    std::vector<Byte> bytes(100, 0xA5);
    Integer next = 0;
    db.Disk().DiskStartTransaction(false);
    for (auto _ : state) {
        db.Disk().WriteCustomSize(db.Page(next) + 200, 100, TableID, db.Flags(), bytes.data());
        if (++next % 100 == 0) {
            db.Disk().DiskCommit();
            db.Disk().DiskStartTransaction(false);
            next %= TablePages;
        }
    }
    db.Disk().DiskCommit();
    Label(state, db);
}

void FlagArgs(benchmark::internal::Benchmark* b)
{
    b->Arg(VekAccessPaged)->Arg(VekAccessPaged | VekAccessXOR)->Arg(VekAccessPaged | VekAccessBlowfish);
}

BENCHMARK(BM_PageReadHot)->Apply(FlagArgs);
BENCHMARK(BM_PageReadCold)->Apply(FlagArgs);
BENCHMARK(BM_PageWriteThrough)->Apply(FlagArgs);
BENCHMARK(BM_PageWriteInTransaction)->Apply(FlagArgs);

} // namespace
} // namespace orvex
