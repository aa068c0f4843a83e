// Record locks of one connection: taking n scattered record locks and giving
// them all back, as a transaction that edits n records does.
//
//   table       the record lock manager on the shared record-lock table
//   byterange   the same locks as one-byte ranges of the lock file (how
//               record locks were held before the table), for comparison
//
// Each reports per_lock_us, the time per lock of taking and releasing them;
// a flat per_lock_us over n means time linear in the number of locks.

#include "platform/FileIO.h"
#include "storage/vekLockMgrUnit.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace orvex {
namespace {

class TLockBenchDir {
public:
    TLockBenchDir()
    {
        char pattern[] = "/tmp/orvex_lockbench_XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        FDir = pattern;
        std::ofstream(FDir + "/bench.vek") << "database";
        FDatabase = TPlatformFile::Open(FDir + "/bench.vek", TFileAccess::ReadWrite, TFileShare::DenyNone,
                                        TFileCreate::OpenExisting);
        FMonitor = std::make_unique<TDBUserMonitor>(FDatabase.get(), FDir + "/bench.lck");
        FMonitor->Open("bench", "host");
    }
    ~TLockBenchDir()
    {
        FMonitor.reset();
        FDatabase.reset();
        std::filesystem::remove_all(FDir);
    }
    TDBUserMonitor* Monitor() const { return FMonitor.get(); }

private:
    std::string FDir;
    std::unique_ptr<TPlatformFile> FDatabase;
    std::unique_ptr<TDBUserMonitor> FMonitor;
};

void RunLocks(benchmark::State& State, bool Table)
{
    const auto count = static_cast<Cardinal>(State.range(0));
    TLockBenchDir dir;
    std::unique_ptr<TBaseLockMgr> records(
        Table ? CreateLockManager(lmkRecord, dir.Monitor(), 0, 0)
              : new TWinLockMgr(dir.Monitor()->LockFileHandle(), RecordLockBase, 1));
    for (auto _ : State) {
        const auto start = std::chrono::steady_clock::now();
        // Scattered addresses, as the records of random keys lie.
        for (Cardinal i = 0; i < count; ++i)
            records->SetWriteLock(static_cast<Int64>(i * 2654435761U), 0);
        records->ReleaseAllLocks();
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        State.SetIterationTime(spent.count());
        State.counters["per_lock_us"] = spent.count() * 1e6 / count;
    }
}

void BM_RecordLocksTable(benchmark::State& State)
{
    RunLocks(State, true);
}

void BM_RecordLocksByteRange(benchmark::State& State)
{
    RunLocks(State, false);
}

BENCHMARK(BM_RecordLocksTable)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordLocksByteRange)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
