// The storage engine beside SQLite in one run: random integer keys with a
// 100-byte value, indexed; inserted in one transaction, looked up one by one
// in random order, and scanned in key order; in a database file and in
// memory. Each benchmark runs both engines on the same keys and reports the
// rate of each and their ratio Orvex/SQLite (above 1: Orvex is faster).
//
// SQLite: prepared statements, one transaction, synchronous FULL, a unique
// index on the key (the rowid table holds the value). Orvex: records in a
// record interface, keys in a B-tree over an index interface, one file
// transaction with its journal.
//
// 10^4 and 10^5 keys by default; ORVEX_BENCH_LARGE=1 adds 10^6 and 4 x 10^6.
// orvex_peak_mb and sqlite_peak_mb: the process's resident high-water mark
// while each side ran (the workload's key lists included).

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"
#include "storage/vekDisk.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekInterfaceUnit.h"

#include "bench/vekBenchUtil.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex {
namespace {

constexpr Integer PageSize = 4096;
constexpr int ValueSize = 100;

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point Start)
{
    return std::chrono::duration<double>(TClock::now() - Start).count();
}

// The keys (distinct, random) and the value of each.
struct TWorkload {
    std::vector<std::int32_t> Keys;      // insertion order
    std::vector<std::size_t> LookupOrder; // indexes into Keys
    explicit TWorkload(int Count)
    {
        std::mt19937 random(42);
        std::vector<std::int32_t> all(static_cast<std::size_t>(Count));
        // Distinct keys spread over the 31-bit range, shuffled.
        for (int i = 0; i < Count; ++i)
            all[static_cast<std::size_t>(i)] = static_cast<std::int32_t>((static_cast<std::int64_t>(i) * 2147483629LL / Count) + random() % 7);
        std::shuffle(all.begin(), all.end(), random);
        Keys = std::move(all);
        LookupOrder.resize(Keys.size());
        std::iota(LookupOrder.begin(), LookupOrder.end(), std::size_t{0});
        std::shuffle(LookupOrder.begin(), LookupOrder.end(), random);
    }
    // The value of a key: 100 letters from a place that depends on the key.
    static void Value(std::int32_t Key, Byte* Out)
    {
        static const auto letters = [] {
            std::array<Byte, ValueSize + 26> bytes{};
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = static_cast<Byte>('a' + i % 26);
            return bytes;
        }();
        std::memcpy(Out, letters.data() + static_cast<std::uint32_t>(Key) % 26, ValueSize);
    }
};

struct TRates {
    double Insert = 0, Lookup = 0, Scan = 0; // operations per second
};

std::string ScratchFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vekvslite-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("no scratch folder");
    return pattern;
}

// ------------------------------------------------------------------ Orvex

class TOrvexTable {
public:
    explicit TOrvexTable(bool OnDisk) : FOnDisk(OnDisk)
    {
        TInternalFieldItem* key = FFields.Add();
        key->SetFieldName("K");
        key->SetDataType(ftInteger);
        key->SetFieldIndex(0);
        TInternalFieldItem* value = FFields.Add();
        value->SetFieldName("V");
        value->SetDataType(ftBytes);
        value->SetFieldSize(ValueSize);
        value->SetFieldIndex(1);
        FFields.SetDefaultOffsets();
        FFields.Open();
        FKey = FFields.FindField("K");
        FValue = FFields.FindField("V");

        if (OnDisk) {
            FFolder = ScratchFolder();
            FDisk.SetFileName(FFolder + "/bench.vek");
            FDisk.SetPageSize(PageSize);
            FDisk.CreateNewFile(true);
            FDisk.Open();
            auto disk = [&](Integer BlockSize, Word Usage, Integer GlobalOffset) {
                auto io = std::make_unique<TDiskIOInterface>();
                io->SetDiskMgr(&FDisk);
                io->SetBlockSize(BlockSize);
                io->SetGlobalFirstEmptyOffset(GlobalOffset);
                io->SetTableID(1);
                io->SetUsage(Usage);
                io->SetAccessFlags(VekAccessPaged);
                io->SetFirstEmptyValid(true);
                io->Open();
                return io;
            };
            FIndexIO = disk(PageSize, IOUsageIndexPages, TGlobalHdr::OfsIndexesFirstEmpty);
            FRecordIO = disk(FFields.RecordSize(), IOUsageRecords, 0);
        } else {
            auto memory = [&](Integer BlockSize, Word Usage) {
                auto io = std::make_unique<TMemoryIOInterface>();
                io->SetBlockSize(BlockSize);
                io->SetTableID(1);
                io->SetUsage(Usage);
                io->Open();
                return io;
            };
            FIndexIO = memory(PageSize, IOUsageIndexPages);
            FRecordIO = memory(FFields.RecordSize(), IOUsageRecords);
        }
        FRecords.InternalFields()->Assign(&FFields);
        FRecords.SetRecordSize(FFields.RecordSize());
        FRecords.Open(FRecordIO.get());

        TKeyFields* keys = FTree.KeyFields();
        keys->Add()->AssignFromField(FKey);
        keys->SetDataOffset(1);
        FTree.SetMaximumKeySize(CalculateMaximumKeySize(keys) + 1);
        FTree.SetDBStringCompare(DBANSICompareStrings);
        FTree.ConnectToIFace(FIndexIO.get(), PageSize, &FRoot, &FDepth);
        FTree.CreateTree();
        FTree.Open();
        FImage.assign(static_cast<std::size_t>(FFields.RecordSize()), 0);
    }
    ~TOrvexTable()
    {
        FTree.Close();
        FRecords.Close();
        FRecordIO->Close();
        FIndexIO->Close();
        if (FOnDisk) {
            FDisk.Close();
            std::error_code ignored;
            std::filesystem::remove_all(FFolder, ignored);
        }
    }

    void InsertAll(const TWorkload& Work)
    {
        if (FOnDisk)
            FDisk.DiskStartTransaction(false);
        Cardinal id = 0;
        for (std::int32_t key : Work.Keys) {
            std::fill(FImage.begin(), FImage.end(), Byte{0});
            FImage[rpoStatus] = 1;
            WriteLE32(&FImage[rpoOwnerTag], (1u << 4) | IOUsageRecords);
            WriteLE32(&FImage[rpoRecordID], ++id);
            FImage[static_cast<std::size_t>(FKey->NullFlagOffset())] = 1;
            WriteLE32(&FImage[static_cast<std::size_t>(FKey->DataOffset())], static_cast<Cardinal>(key));
            FImage[static_cast<std::size_t>(FValue->NullFlagOffset())] = 1;
            TWorkload::Value(key, &FImage[static_cast<std::size_t>(FValue->DataOffset())]);
            const Cardinal address = FRecords.AddRecord(FImage.data());
            FTree.ConstructKeyBufFromRecBuf(FImage.data(), {});
            FTree.SetKeyBufAddr(address);
            if (FTree.IdxInsert() != 0)
                throw std::runtime_error("insert refused");
        }
        if (FOnDisk)
            FDisk.DiskCommit(); // flushed to the disk, as SQLite's with synchronous FULL
    }

    // Looks every key up in the lookup order; the sum of the values' first bytes.
    std::int64_t LookupAll(const TWorkload& Work)
    {
        std::int64_t sum = 0;
        for (std::size_t at : Work.LookupOrder) {
            const std::int32_t key = Work.Keys[at];
            FImage[static_cast<std::size_t>(FKey->NullFlagOffset())] = 1;
            WriteLE32(&FImage[static_cast<std::size_t>(FKey->DataOffset())], static_cast<Cardinal>(key));
            FTree.ConstructKeyBufFromRecBuf(FImage.data(), {});
            if (FTree.IndexSearch(stEQ) != 0)
                throw std::runtime_error("key not found");
            FRecords.ReadRecord(FTree.GetRecAddr(), FImage.data(), false);
            sum += FImage[static_cast<std::size_t>(FValue->DataOffset())];
        }
        return sum;
    }

    // Reads every record in key order; the number read.
    std::int64_t ScanAll()
    {
        std::int64_t count = 0;
        std::int32_t last = INT32_MIN;
        FImage[static_cast<std::size_t>(FKey->NullFlagOffset())] = 1;
        FTree.ConstructKeyBufFromRecBuf(FImage.data(), {kcfBeforeAll});
        if (FTree.IndexSearch(stGE) == 0) {
            do {
                FRecords.ReadRecord(FTree.GetRecAddr(), FImage.data(), false);
                const auto key = static_cast<std::int32_t>(ReadLE32(&FImage[static_cast<std::size_t>(FKey->DataOffset())]));
                if (key < last)
                    throw std::runtime_error("scan out of order");
                last = key;
                ++count;
            } while (FTree.NextRecord());
        }
        return count;
    }

private:
    bool FOnDisk;
    std::string FFolder;
    TInternalFields FFields;
    const TInternalFieldItem* FKey = nullptr;
    const TInternalFieldItem* FValue = nullptr;
    TDiskMgr FDisk;
    std::unique_ptr<TBaseIOInterface> FIndexIO;
    std::unique_ptr<TBaseIOInterface> FRecordIO;
    TRecordMgr FRecords;
    TBTree FTree;
    Cardinal FRoot = 0;
    Integer FDepth = 0;
    std::vector<Byte> FImage;
};

TRates RunOrvex(const TWorkload& Work, bool OnDisk)
{
    TRates rates;
    const double n = static_cast<double>(Work.Keys.size());
    TOrvexTable table(OnDisk);
    auto start = TClock::now();
    table.InsertAll(Work);
    rates.Insert = n / Seconds(start);
    start = TClock::now();
    benchmark::DoNotOptimize(table.LookupAll(Work));
    rates.Lookup = n / Seconds(start);
    start = TClock::now();
    if (table.ScanAll() != static_cast<std::int64_t>(Work.Keys.size()))
        throw std::runtime_error("scan lost rows");
    rates.Scan = n / Seconds(start);
    return rates;
}

// ----------------------------------------------------------------- SQLite

void Check(int Code, sqlite3* Db, const char* What)
{
    if (Code != SQLITE_OK && Code != SQLITE_DONE && Code != SQLITE_ROW)
        throw std::runtime_error(std::string(What) + ": " + sqlite3_errmsg(Db));
}

void Exec(sqlite3* Db, const char* Sql)
{
    Check(sqlite3_exec(Db, Sql, nullptr, nullptr, nullptr), Db, Sql);
}

TRates RunSQLite(const TWorkload& Work, bool OnDisk)
{
    TRates rates;
    const double n = static_cast<double>(Work.Keys.size());
    const std::string folder = OnDisk ? ScratchFolder() : std::string();
    sqlite3* db = nullptr;
    Check(sqlite3_open(OnDisk ? (folder + "/bench.db").c_str() : ":memory:", &db), db, "open");
    Exec(db, "PRAGMA synchronous=FULL");
    Exec(db, "CREATE TABLE t(k INTEGER NOT NULL, v BLOB NOT NULL)");
    Exec(db, "CREATE UNIQUE INDEX tk ON t(k)");
    std::vector<Byte> value(ValueSize);

    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t(k, v) VALUES(?, ?)", -1, &insert, nullptr), db, "prepare");
    auto start = TClock::now();
    Exec(db, "BEGIN");
    for (std::int32_t key : Work.Keys) {
        TWorkload::Value(key, value.data());
        sqlite3_bind_int(insert, 1, key);
        sqlite3_bind_blob(insert, 2, value.data(), ValueSize, SQLITE_STATIC);
        Check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    Exec(db, "COMMIT");
    rates.Insert = n / Seconds(start);
    sqlite3_finalize(insert);

    sqlite3_stmt* lookup = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?", -1, &lookup, nullptr), db, "prepare");
    start = TClock::now();
    std::int64_t sum = 0;
    for (std::size_t at : Work.LookupOrder) {
        sqlite3_bind_int(lookup, 1, Work.Keys[at]);
        if (sqlite3_step(lookup) != SQLITE_ROW)
            throw std::runtime_error("key not found");
        sum += static_cast<const Byte*>(sqlite3_column_blob(lookup, 0))[0];
        sqlite3_reset(lookup);
    }
    benchmark::DoNotOptimize(sum);
    rates.Lookup = n / Seconds(start);
    sqlite3_finalize(lookup);

    sqlite3_stmt* scan = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT k, v FROM t ORDER BY k", -1, &scan, nullptr), db, "prepare");
    start = TClock::now();
    std::int64_t count = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_int(scan, 0));
        benchmark::DoNotOptimize(sqlite3_column_blob(scan, 1));
        ++count;
    }
    rates.Scan = n / Seconds(start);
    sqlite3_finalize(scan);
    sqlite3_close(db);
    if (OnDisk) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    if (count != static_cast<std::int64_t>(Work.Keys.size()))
        throw std::runtime_error("SQLite scan lost rows");
    return rates;
}

// ------------------------------------------------------------- benchmarks

void BM_StorageVsSQLite(benchmark::State& State, bool OnDisk)
{
    const TWorkload work(static_cast<int>(State.range(0)));
    TRates orvex, sqlite;
    double orvexPeak = 0, sqlitePeak = 0;
    for (auto _ : State) {
        const auto start = TClock::now();
        bench::ResetPeakResident();
        orvex = RunOrvex(work, OnDisk);
        orvexPeak = bench::PeakResidentMiB();
        bench::ResetPeakResident();
        sqlite = RunSQLite(work, OnDisk);
        sqlitePeak = bench::PeakResidentMiB();
        State.SetIterationTime(Seconds(start));
    }
    State.counters["ins/s"] = orvex.Insert;
    State.counters["ins_ratio"] = orvex.Insert / sqlite.Insert;
    State.counters["get/s"] = orvex.Lookup;
    State.counters["get_ratio"] = orvex.Lookup / sqlite.Lookup;
    State.counters["scan/s"] = orvex.Scan;
    State.counters["scan_ratio"] = orvex.Scan / sqlite.Scan;
    State.counters["orvex_peak_mb"] = orvexPeak;
    State.counters["sqlite_peak_mb"] = sqlitePeak;
}

void Sizes(benchmark::internal::Benchmark* B)
{
    B->Arg(10000)->Arg(100000);
    const char* large = std::getenv("ORVEX_BENCH_LARGE");
    if (large && *large && std::string(large) != "0")
        B->Arg(1000000)->Arg(4000000);
    B->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_StorageVsSQLite, Disk, true)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_StorageVsSQLite, Memory, false)->Apply(Sizes);

} // namespace
} // namespace orvex
