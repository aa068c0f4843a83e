// The setup archive's compress and extract throughput on 200 MB of mixed
// data, beside gzip -6 and gunzip on the same data timed in the same run.
// Each archive benchmark reports "vs_gzip": gzip's time / the archive's time
// (above 1: the archive is faster).

#include "installer/cmp_TDrvnCompress.h"
#include "platform/WinPaths.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace orvex {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t DataSize = 200u << 20;

// A machine root with C:\bench\mixed.bin: random blocks, text-like blocks
// and runs, in turn.
struct TBenchData {
    TBenchData()
    {
        Root = fs::temp_directory_path() / ("orvex-archive-bench-" + std::to_string(::getpid()));
        fs::create_directories(Root / "c" / "bench");
        SetWindowsRoot(Root.string());
        std::ofstream out(Root / "c" / "bench" / "mixed.bin", std::ios::binary);
        std::mt19937 rng(42);
        std::string block(1 << 20, '\0');
        const char* words[] = {"install ", "archive ", "setup ", "file ", "record ", "version ", "\r\n"};
        for (std::size_t done = 0; done < DataSize; done += block.size()) {
            const int kind = static_cast<int>((done >> 20) % 4);
            for (std::size_t i = 0; i < block.size();) {
                if (kind == 0) {
                    block[i++] = static_cast<char>(rng());
                } else if (kind == 3) {
                    const char c = static_cast<char>(rng() % 8);
                    for (int n = 0; n < 64 && i < block.size(); ++n)
                        block[i++] = c;
                } else {
                    for (const char* w = words[rng() % 7]; *w && i < block.size(); ++w)
                        block[i++] = *w;
                }
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    ~TBenchData()
    {
        std::error_code ec;
        fs::remove_all(Root, ec);
    }
    std::string Native(const std::string& name) const { return (Root / "c" / "bench" / name).string(); }
    fs::path Root;
};

TBenchData& Data()
{
    static TBenchData data;
    return data;
}

double Seconds(const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::abort();
}

double GzipSeconds()
{
    return Seconds([] { Shell("gzip -6 -c '" + Data().Native("mixed.bin") + "' > '" + Data().Native("mixed.gz") + "'"); });
}

void BM_ArchiveCompress(benchmark::State& state)
{
    Data();
    TDrvnCompress archive(nullptr);
    archive.CompressionLevel = colDefault; // zlib's default level, as gzip -6
    archive.SetCompressedFile("C:\\bench\\mixed.1");
    double ours = 0;
    for (auto _ : state) {
        archive.FilesToProcess()->Add("C:\\bench\\mixed.bin");
        ours += Seconds([&] { archive.Compress(false, 0); });
    }
    const double gzip = GzipSeconds();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * DataSize));
    state.counters["vs_gzip"] = gzip / (ours / static_cast<double>(state.iterations()));
    state.counters["size_vs_gzip"] = static_cast<double>(fs::file_size(Data().Native("mixed.gz"))) /
                                     static_cast<double>(fs::file_size(Data().Native("mixed.1")));
}

void BM_ArchiveExtract(benchmark::State& state)
{
    Data();
    TDrvnCompress archive(nullptr);
    archive.CompressionLevel = colDefault;
    archive.SetCompressedFile("C:\\bench\\mixed.1");
    archive.FilesToProcess()->Add("C:\\bench\\mixed.bin");
    archive.Compress(false, 0);
    GzipSeconds();
    archive.ExtractDirectory = "C:\\bench\\out";
    double ours = 0;
    for (auto _ : state) {
        archive.FilesToProcess()->Add("C:\\bench\\mixed.bin");
        ours += Seconds([&] { archive.Extract(); });
    }
    const double gunzip = Seconds(
        [] { Shell("gunzip -c '" + Data().Native("mixed.gz") + "' > '" + Data().Native("mixed.out") + "'"); });
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * DataSize));
    state.counters["vs_gunzip"] = gunzip / (ours / static_cast<double>(state.iterations()));
}

BENCHMARK(BM_ArchiveCompress)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ArchiveExtract)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace orvex
