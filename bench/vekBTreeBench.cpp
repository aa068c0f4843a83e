// B-tree indexes: inserts, point searches and a full ordered scan per second
// for random integer keys (10^4 to 10^6 keys) and random string keys (10^4
// to 10^5 keys), in memory and in a database file. The ranges show how each
// grows with the number of keys.

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"
#include "storage/vekDisk.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekInterfaceUnit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

constexpr Integer IndexPageSize = 4096;
constexpr Integer StringSize = 20;

// Record images of one table: an Integer column or a String column, and the
// record ID that makes every key unique, as the dataset appends it.
class TKeySource {
public:
    explicit TKeySource(bool Strings) : FStrings(Strings)
    {
        TInternalFieldItem* item = FFields.Add();
        item->SetFieldName("K");
        item->SetDataType(Strings ? ftString : ftInteger);
        if (Strings)
            item->SetFieldSize(StringSize);
        item->SetFieldIndex(0);
        FFields.SetDefaultOffsets();
        FFields.Open();
    }

    // Key fields: the column, then the hidden record ID.
    void IndexOn(TBTree& Tree) const
    {
        const TInternalFieldItem* field = FFields.FindField("K");
        TKeyFields* keys = Tree.KeyFields();
        keys->Clear();
        keys->Add()->AssignFromField(field);
        keys->Add()->SetAsRecordIDKey();
        keys->SetDataOffset(1);
        Tree.SetMaximumKeySize(CalculateMaximumKeySize(keys) + 1);
        Tree.SetDBStringCompare(DBANSICompareStrings);
    }

    // Count records of random values, record IDs 1 .. Count.
    std::vector<std::vector<Byte>> Records(int Count, unsigned Seed) const
    {
        std::mt19937 random(Seed);
        std::vector<std::vector<Byte>> records(static_cast<std::size_t>(Count));
        const TInternalFieldItem* field = FFields.FindField("K");
        for (int i = 0; i < Count; ++i) {
            std::vector<Byte>& record = records[static_cast<std::size_t>(i)];
            record.assign(static_cast<std::size_t>(FFields.RecordSize()), 0);
            record[rpoStatus] = 1;
            WriteLE32(record.data() + rpoRecordID, static_cast<Cardinal>(i + 1));
            record[field->NullFlagOffset()] = 1;
            if (FStrings) {
                const int length = 8 + static_cast<int>(random() % (StringSize - 8));
                for (int c = 0; c < length; ++c)
                    record[static_cast<std::size_t>(field->DataOffset() + c)] = static_cast<Byte>('A' + random() % 52);
                WriteLE16(record.data() + field->SizeMarkerOffset(), static_cast<Word>(length));
            } else {
                WriteLE32(record.data() + field->DataOffset(), static_cast<Cardinal>(random()));
            }
        }
        return records;
    }

private:
    bool FStrings;
    TInternalFields FFields;
};

// A database file in a scratch folder, removed afterwards.
class TScratchDatabase {
public:
    TScratchDatabase()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vekbtree-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FFolder = pattern;
        FDisk.SetFileName(FFolder + "/bench.vek");
        FDisk.SetPageSize(IndexPageSize);
        FDisk.CreateNewFile(true);
        FDisk.Open();
        FIO.SetDiskMgr(&FDisk);
        FIO.SetBlockSize(IndexPageSize);
        FIO.SetUsage(IOUsageIndexPages);
        FIO.SetTableID(1);
        FIO.SetAccessFlags(VekAccessPaged);
        FIO.SetGlobalFirstEmptyOffset(TGlobalHdr::OfsIndexesFirstEmpty);
        FIO.Open();
    }
    ~TScratchDatabase()
    {
        FIO.Close();
        FDisk.Close();
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
    TBaseIOInterface* IO() { return &FIO; }

private:
    std::string FFolder;
    TDiskMgr FDisk;
    TDiskIOInterface FIO;
};

// An index over one of the two interfaces.
class TBenchIndex {
public:
    // An empty index, or one holding Records (record i at address i + 1).
    TBenchIndex(bool OnDisk, const TKeySource& Source, const std::vector<std::vector<Byte>>& Records = {})
    {
        if (OnDisk)
            FDatabase = std::make_unique<TScratchDatabase>();
        Source.IndexOn(FTree);
        FTree.ConnectToIFace(OnDisk ? FDatabase->IO() : &FMemory, IndexPageSize, &FRoot, &FDepth);
        FTree.CreateTree();
        FTree.Open();
        for (std::size_t i = 0; i < Records.size(); ++i)
            Insert(Records[i], static_cast<Cardinal>(i + 1));
    }
    void Insert(const std::vector<Byte>& Record, Cardinal Address)
    {
        FTree.ConstructKeyBufFromRecBuf(Record.data(), {});
        FTree.SetKeyBufAddr(Address);
        if (FTree.IdxInsert() != 0)
            throw std::runtime_error("insert refused");
    }
    TBTree& Tree() { return FTree; }
    Integer Depth() const { return FDepth; }

private:
    std::unique_ptr<TScratchDatabase> FDatabase;
    TMemoryIOInterface FMemory;
    TBTree FTree;
    Cardinal FRoot = 0;
    Integer FDepth = 0;
};

// Inserts of Count random keys into an empty index.
void BM_Insert(benchmark::State& State, bool Strings, bool OnDisk)
{
    const int count = static_cast<int>(State.range(0));
    const TKeySource source(Strings);
    const auto records = source.Records(count, 1);
    Integer depth = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto index = std::make_unique<TBenchIndex>(OnDisk, source);
        State.ResumeTiming();
        for (int i = 0; i < count; ++i)
            index->Insert(records[static_cast<std::size_t>(i)], static_cast<Cardinal>(i + 1));
        depth = index->Depth();
        State.PauseTiming();
        index.reset();
        State.ResumeTiming();
    }
    State.counters["inserts/s"] = benchmark::Counter(static_cast<double>(count) * State.iterations(),
                                                     benchmark::Counter::kIsRate);
    State.counters["depth"] = depth;
}

// Exact searches of the stored keys, in random order.
void BM_PointSearch(benchmark::State& State, bool Strings, bool OnDisk)
{
    const int count = static_cast<int>(State.range(0));
    const TKeySource source(Strings);
    const auto records = source.Records(count, 1);
    TBenchIndex index(OnDisk, source, records);
    std::mt19937 random(2);
    std::int64_t searches = 0;
    for (auto _ : State) {
        const std::size_t at = random() % records.size();
        index.Tree().ConstructKeyBufFromRecBuf(records[at].data(), {});
        if (index.Tree().IndexSearch(stEQ) != 0 || index.Tree().GetRecAddr() != at + 1)
            State.SkipWithError("key not found");
        ++searches;
    }
    State.counters["searches/s"] = benchmark::Counter(static_cast<double>(searches), benchmark::Counter::kIsRate);
}

// Every key in order, from the first to the last.
void BM_OrderedScan(benchmark::State& State, bool Strings, bool OnDisk)
{
    const int count = static_cast<int>(State.range(0));
    const TKeySource source(Strings);
    const auto records = source.Records(count, 1);
    TBenchIndex index(OnDisk, source, records);
    for (auto _ : State) {
        index.Tree().ConstructKeyBufFromRecBuf(records[0].data(), {kcfBeforeAll});
        int seen = index.Tree().IndexSearch(stGE) == 0 ? 1 : 0;
        while (index.Tree().NextRecord())
            ++seen;
        if (seen != count)
            State.SkipWithError("scan missed keys");
        benchmark::DoNotOptimize(seen);
    }
    State.counters["keys/s"] = benchmark::Counter(static_cast<double>(count) * State.iterations(),
                                                  benchmark::Counter::kIsRate);
}

void IntegerRange(benchmark::internal::Benchmark* B)
{
    B->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond);
}
void StringRange(benchmark::internal::Benchmark* B)
{
    B->RangeMultiplier(10)->Range(10000, 100000)->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_Insert, IntegerMemory, false, false)->Apply(IntegerRange)->Iterations(1);
BENCHMARK_CAPTURE(BM_Insert, IntegerDisk, false, true)->Apply(IntegerRange)->Iterations(1);
BENCHMARK_CAPTURE(BM_Insert, StringMemory, true, false)->Apply(StringRange)->Iterations(1);
BENCHMARK_CAPTURE(BM_Insert, StringDisk, true, true)->Apply(StringRange)->Iterations(1);
BENCHMARK_CAPTURE(BM_PointSearch, IntegerMemory, false, false)->Apply(IntegerRange)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PointSearch, IntegerDisk, false, true)->Apply(IntegerRange)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PointSearch, StringMemory, true, false)->Apply(StringRange)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PointSearch, StringDisk, true, true)->Apply(StringRange)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OrderedScan, IntegerMemory, false, false)->Apply(IntegerRange);
BENCHMARK_CAPTURE(BM_OrderedScan, IntegerDisk, false, true)->Apply(IntegerRange);
BENCHMARK_CAPTURE(BM_OrderedScan, StringMemory, true, false)->Apply(StringRange);
BENCHMARK_CAPTURE(BM_OrderedScan, StringDisk, true, true)->Apply(StringRange);

} // namespace
} // namespace orvex
