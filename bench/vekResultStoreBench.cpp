// Where a query's result table lives: a memory table of "MEMORY" against a
// table of the connection's temporary database (a private file with a page
// cache bounded by the result memory budget). Each run creates the table
// (an Integer and a Float field, an index on the Float as ORDER BY makes
// it), adds the rows as the result set adds them (engine record buffers),
// reads them back in index order and drops the table: the whole life of a
// sorted result. Sizes: 100 rows (a small query: the table's creation
// dominates), 10,000 and 200,000.
//
// Reported: rows per second, and peak_rss_mb, the process's resident
// high-water mark so far.

#include "dataset/vekDatabase.h"
#include "platform/FileIO.h"
#include "storage/vekByteOrder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace orvex {
namespace {

std::atomic<int> GSerial{0};

double PeakRssMb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// One sorted result of Rows rows in Db (Memory: a memory table).
void SortedResult(TVekDataBase* Db, bool Memory, int Rows)
{
    TVekBaseTable table(nullptr);
    table.SetDataBase(Db);
    table.SetMemory(Memory);
    table.SetTableName("result_" + std::to_string(GSerial.fetch_add(1)));
    table.FieldDefs()->Add("K", ftInteger, 0, false);
    table.FieldDefs()->Add("V", ftFloat, 0, false);
    table.IndexDefs()->Add("idxorderby", "V", 0);
    table.CreateTable();
    table.SetInQuery(true);
    table.DataSetOpen();
    const Integer k = table.GetFieldNo("K");
    const Integer v = table.GetFieldNo("V");
    std::uint64_t state = 88172645463325252ULL;
    for (int i = 0; i < Rows; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const double value = static_cast<double>(state % 1000000) / 7.0;
        Byte kb[4];
        Byte vb[8];
        WriteLE32(kb, static_cast<Cardinal>(i));
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, 8);
        WriteLE64(vb, bits);
        table.ClearRecord(table.CurrentBuffer());
        table.DataSetSetFieldData(k, 4, false, kb);
        table.DataSetSetFieldData(v, 8, false, vb);
        table.AddRecord(false);
    }
    table.InternalSetIndexName("idxorderby");
    double sum = 0;
    for (bool ok = table.DataSetFirst(); ok; ok = table.DataSetNext()) {
        bool isNull = false;
        double value = 0;
        table.DataSetGetFieldData(v, isNull, &value);
        sum += value;
    }
    benchmark::DoNotOptimize(sum);
    table.DataSetClose();
    Db->DeleteTable(table.TableName(), Memory);
}

void BM_ResultTable(benchmark::State& State, bool Temporary)
{
    const int rows = static_cast<int>(State.range(0));
    const std::string folder = std::filesystem::temp_directory_path() / ("vekresultbench-" + std::to_string(::getpid()));
    ForceDirectories(folder);
    {
        TVekDataBase db(nullptr);
        db.SetDataBaseName("MEMORY");
        db.SetTemporaryDirectory(folder);
        db.Open();
        TVekDataBase* target = Temporary ? db.TemporaryDatabase() : &db;
        for (auto _ : State)
            SortedResult(target, !Temporary, rows);
        State.SetItemsProcessed(State.iterations() * rows);
        State.counters["peak_rss_mb"] = PeakRssMb();
    }
    std::filesystem::remove_all(folder);
}

BENCHMARK_CAPTURE(BM_ResultTable, memory, false)->Arg(100)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResultTable, temporary, true)->Arg(100)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orvex
