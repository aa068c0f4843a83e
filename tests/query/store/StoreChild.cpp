// The child program of the result-store tests: one connection sorting and
// grouping a generated table, in a process of its own so that its peak
// resident memory is its own.
//
//   vek_store_child <folder> <rows> <budget bytes>
//       makes <folder>/big.vek with the table "big" (k INTEGER, v FLOAT) of
//       rows generated rows (k: rows / 100 groups, v: pseudo-random), then
//       connects with the result memory budget and the temporary folder
//       <folder>/tmp and runs
//         SELECT k, v FROM big ORDER BY v
//         SELECT k, COUNT(*), SUM(v) FROM big GROUP BY k
//       It writes "orderby <rows> <sorted 0|1> <digest>", "groupby <groups>
//       <rows counted> <digest>" (digests of the rows as a multiset),
//       "expected <orderby digest> <groupby digest>" (the digests the rows
//       must have, worked out from the generator without the engine),
//       "temporary <0|1>" (whether the temporary database was made),
//       "gone <0|1>" (its file gone after disconnecting), "peak <KiB>"
//       (the peak resident set, getrusage), "seconds <make> <orderby>
//       <groupby>" (wall-clock time of each step), "peaks <make> <orderby>
//       <groupby>" (the peak in KiB when each step ended) and "done".
// Any failure writes "error <text>" and exits with 1.

#include "dataset/vekDatabase.h"
#include "platform/FileIO.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>

using namespace orvex;

namespace {

long PeakResidentKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The value of row i: a multiple of 1/64 below 10^6 (exact as a double, so
// sums do not depend on their order).
double ValueOf(long I)
{
    std::uint64_t x = static_cast<std::uint64_t>(I) * 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 32;
    return static_cast<double>(x % 64000000ULL) / 64.0;
}

// The group of row i.
Integer KeyOf(long I, long Groups)
{
    return static_cast<Integer>((I * 7919) % Groups);
}

long GroupsOf(long Rows)
{
    return std::max(Rows / 100, 1L);
}

void MakeTable(const std::string& Path, long Rows)
{
    TVekDataBase db(nullptr);
    db.SetDataBaseName(Path);
    db.CreateDatabase();
    db.Open();
    TVekBaseTable table(nullptr);
    table.SetDataBase(&db);
    table.SetTableName("big");
    table.FieldDefs()->Add("k", ftInteger, 0, false);
    table.FieldDefs()->Add("v", ftFloat, 0, false);
    table.CreateTable();
    table.DataSetOpen();
    const long groups = GroupsOf(Rows);
    const Integer kField = table.GetFieldNo("k");
    const Integer vField = table.GetFieldNo("v");
    constexpr long Batch = 100000;
    for (long i = 0; i < Rows; ++i) {
        if (i % Batch == 0)
            db.StartTransaction();
        const Integer k = KeyOf(i, groups);
        const double v = ValueOf(i);
        table.ClearRecord(table.CurrentBuffer());
        table.DataSetSetFieldData(kField, 4, false, &k);
        table.DataSetSetFieldData(vField, 8, false, &v);
        table.AddRecord(false);
        if (i % Batch == Batch - 1 || i == Rows - 1)
            db.Commit();
    }
    table.DataSetClose();
    db.Close();
}

// An order-independent digest of rows: the sum of a mix of each row's text.
struct TDigest {
    std::uint64_t Sum = 0;
    void Add(const std::string& Row)
    {
        std::uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : Row) {
            h ^= c;
            h *= 1099511628211ULL;
        }
        h ^= h >> 31;
        Sum += h * 0x94D049BB133111EBULL;
    }
};

std::string Number(double Value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", Value);
    return text;
}

std::string OrderRow(Integer K, double V)
{
    return std::to_string(K) + "|" + Number(V);
}

std::string GroupRow(Integer K, long Count, double Sum)
{
    return std::to_string(K) + "|" + std::to_string(Count) + "|" + Number(Sum);
}

// The digests both queries must give, from the generator alone: one
// counter and one sum per group (sums of multiples of 1/64 are exact in
// any order).
std::pair<std::uint64_t, std::uint64_t> ExpectedDigests(long Rows)
{
    const long groups = GroupsOf(Rows);
    std::vector<long> counts(static_cast<std::size_t>(groups), 0);
    std::vector<double> sums(static_cast<std::size_t>(groups), 0);
    TDigest order;
    for (long i = 0; i < Rows; ++i) {
        const Integer k = KeyOf(i, groups);
        const double v = ValueOf(i);
        order.Add(OrderRow(k, v));
        ++counts[static_cast<std::size_t>(k)];
        sums[static_cast<std::size_t>(k)] += v;
    }
    TDigest grouped;
    for (long k = 0; k < groups; ++k)
        if (counts[static_cast<std::size_t>(k)] > 0)
            grouped.Add(GroupRow(static_cast<Integer>(k), counts[static_cast<std::size_t>(k)],
                                 sums[static_cast<std::size_t>(k)]));
    return {order.Sum, grouped.Sum};
}

double SecondsSince(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

// Runs Sql; calls Row with the result set positioned on each row in turn.
template <class F>
void RunQuery(TVekDataBase& Db, const std::string& Sql, F&& Row)
{
    TVekQueryProvider provider;
    provider.SetDatabase(&Db);
    provider.SetSQL(Sql);
    if (!provider.ValidateSQL() || !provider.PreparePlan() || !provider.CreateResultSet())
        throw std::runtime_error(provider.GetErrorsAsText());
    TVekQueryDataset* set = provider.GetResultSet();
    for (set->First(); !set->Eof(); set->Next())
        Row(set);
    set->Close();
    set->DataBase()->DeleteTable(set->TableName(), set->Memory());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::cerr << "usage: vek_store_child <folder> <rows> <budget>\n";
        return 2;
    }
    try {
        const std::string folder = argv[1];
        const long rows = std::strtol(argv[2], nullptr, 10);
        const long budget = std::strtol(argv[3], nullptr, 10);
        const std::string path = folder + "/big.vek";
        auto start = std::chrono::steady_clock::now();
        MakeTable(path, rows);
        const double makeSeconds = SecondsSince(start);
        const long makePeak = PeakResidentKiB();
        ForceDirectories(folder + "/tmp");

        TVekDataBase db(nullptr);
        db.SetDataBaseName(path);
        db.SetResultMemoryBudget(budget);
        db.SetTemporaryDirectory(folder + "/tmp");
        db.Open();

        long count = 0;
        bool sorted = true;
        double last = -1;
        TDigest order;
        start = std::chrono::steady_clock::now();
        RunQuery(db, "SELECT k, v FROM big ORDER BY v", [&](TVekQueryDataset* Set) {
            const Integer k = Set->Fields()->Fields(0)->AsInteger();
            const double v = Set->Fields()->Fields(1)->AsFloat();
            sorted = sorted && v >= last;
            last = v;
            order.Add(OrderRow(k, v));
            ++count;
        });
        const double orderSeconds = SecondsSince(start);
        const long orderPeak = PeakResidentKiB();
        std::cout << "orderby " << count << " " << (sorted ? 1 : 0) << " " << order.Sum << std::endl;

        long groups = 0;
        long counted = 0;
        TDigest grouped;
        start = std::chrono::steady_clock::now();
        RunQuery(db, "SELECT k, COUNT(*), SUM(v) FROM big GROUP BY k", [&](TVekQueryDataset* Set) {
            const Integer k = Set->Fields()->Fields(0)->AsInteger();
            const Integer n = Set->Fields()->Fields(1)->AsInteger();
            const double sum = Set->Fields()->Fields(2)->AsFloat();
            grouped.Add(GroupRow(k, n, sum));
            counted += n;
            ++groups;
        });
        const double groupSeconds = SecondsSince(start);
        const long groupPeak = PeakResidentKiB();
        std::cout << "groupby " << groups << " " << counted << " " << grouped.Sum << std::endl;
        const auto [expectedOrder, expectedGroup] = ExpectedDigests(rows);
        std::cout << "expected " << expectedOrder << " " << expectedGroup << std::endl;

        const bool temporary = db.HasTemporaryDatabase();
        const std::string file = db.TemporaryFileName();
        std::cout << "temporary " << (temporary ? 1 : 0) << std::endl;
        db.Close();
        std::cout << "gone " << (file.empty() || !FileExists(file) ? 1 : 0) << std::endl;
        std::cout << "peak " << PeakResidentKiB() << std::endl;
        std::cout << "seconds " << makeSeconds << " " << orderSeconds << " " << groupSeconds << std::endl;
        std::cout << "peaks " << makePeak << " " << orderPeak << " " << groupPeak << std::endl;
        std::cout << "done" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cout << "error " << e.what() << std::endl;
    } catch (...) {
        std::cout << "error unknown" << std::endl;
    }
    return 1;
}
