// Block interfaces and blob chains: allocating and releasing memory blocks,
// reading them by address, allocating record blocks in a database file, and
// writing and reading blob values in memory.

#include "storage/vekDisk.h"
#include "storage/vekInterfaceUnit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

namespace orvex {
namespace {

// Count live 128-byte blocks of Record's bytes.
std::vector<Cardinal> FillBlocks(TMemoryIOInterface& IO, int Count, const std::vector<Byte>& Record)
{
    std::vector<Cardinal> held;
    for (int i = 0; i < Count; ++i)
        held.push_back(IO.AllocateNewAddress(128, Record.data()));
    return held;
}

void BM_MemoryAllocateRelease(benchmark::State& State)
{
    TMemoryIOInterface io;
    std::vector<Byte> record(128, 7);
    std::vector<Cardinal> held = FillBlocks(io, 10000, record);
    std::size_t next = 0;
    for (auto _ : State) {
        io.ReleaseBlock(held[next], 128);
        held[next] = io.AllocateNewAddress(128, record.data());
        next = (next + 1) % held.size();
    }
}
BENCHMARK(BM_MemoryAllocateRelease);

void BM_MemoryReadBlock(benchmark::State& State)
{
    TMemoryIOInterface io;
    std::vector<Byte> record(128, 7);
    const std::vector<Cardinal> held = FillBlocks(io, 100000, record);
    std::mt19937 random(1);
    for (auto _ : State) {
        io.ReadBlock(held[random() % held.size()], 128, record.data());
        benchmark::DoNotOptimize(record.data());
    }
}
BENCHMARK(BM_MemoryReadBlock);

// Record blocks of State.range(0) bytes allocated one after another in a
// database file, the free chain kept in memory as a table header keeps it.
void BM_DiskAllocateRecord(benchmark::State& State)
{
    std::string folder = (std::filesystem::temp_directory_path() / "vekiobench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        State.SkipWithError("no scratch folder");
        return;
    }
    {
        TDiskMgr disk;
        disk.SetFileName(folder + "/bench.vek");
        disk.SetPageSize(DefaultPageSize);
        disk.CreateNewFile(true);
        disk.Open();
        TDiskIOInterface io;
        io.SetDiskMgr(&disk);
        io.SetBlockSize(static_cast<Integer>(State.range(0)));
        io.SetUsage(IOUsageRecords);
        io.SetTableID(1);
        io.SetAccessFlags(VekAccessPaged);
        io.SetFirstEmptyValid(true);
        io.Open();
        std::vector<Byte> record(static_cast<std::size_t>(State.range(0)), 7);
        for (auto _ : State)
            benchmark::DoNotOptimize(io.AllocateNewAddress(io.BlockSize(), record.data()));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_DiskAllocateRecord)->Arg(100)->Arg(1000);

void BM_MemoryBlobInsertReadDelete(benchmark::State& State)
{
    TMemoryIOInterface io;
    TBlobInterface blobs;
    blobs.SetIOInterface(&io);
    blobs.SetBlobBlockSize(512);
    blobs.Open();
    TMemoryStream value;
    value.SetSize(State.range(0));
    for (auto _ : State) {
        const Cardinal address = blobs.InsertBlob(&value);
        TMemoryStream read;
        blobs.ReadBlob(address, &read);
        blobs.DeleteBlob(address, 0);
    }
    State.SetBytesProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_MemoryBlobInsertReadDelete)->Arg(1000)->Arg(100000);

} // namespace
} // namespace orvex
