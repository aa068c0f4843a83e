// Throughput of the crypto routines over one database page.

#include "storage/vekCrypt.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace orvex {
namespace {

constexpr int PageSize = 4096;

std::vector<Byte> Page()
{
    std::vector<Byte> page(PageSize);
    for (int i = 0; i < PageSize; ++i)
        page[i] = static_cast<Byte>(i * 31 + 7);
    return page;
}

void BM_CalcCRC(benchmark::State& state)
{
    const std::vector<Byte> page = Page();
    for (auto _ : state)
        benchmark::DoNotOptimize(CalcCRC(page.data(), PageSize));
    state.SetBytesProcessed(state.iterations() * PageSize);
}
BENCHMARK(BM_CalcCRC);

void BM_Sha1(benchmark::State& state)
{
    const std::vector<Byte> page = Page();
    TSha1Stream sha;
    for (auto _ : state) {
        sha.Write(page.data(), PageSize);
        benchmark::DoNotOptimize(sha.GetDigest());
    }
    state.SetBytesProcessed(state.iterations() * PageSize);
}
BENCHMARK(BM_Sha1);

void BM_XORCryptBuf(benchmark::State& state)
{
    std::vector<Byte> page = Page();
    for (auto _ : state) {
        XORCryptBuf(page.data(), page.data(), CVekXORPageKey, PageSize, CVekXORPageKeyLen, 17);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * PageSize);
}
BENCHMARK(BM_XORCryptBuf);

// The strong page encryption: 8-bit CFB from the same vector for every page.
void BM_BlowfishCFBPage(benchmark::State& state)
{
    std::vector<Byte> page = Page();
    const Byte key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    TBlowfishData data{};
    BlowfishInit(data, key, 128, nullptr);
    for (auto _ : state) {
        BlowfishEncryptCFB(data, page.data(), page.data(), PageSize);
        BlowfishReset(data);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * PageSize);
}
BENCHMARK(BM_BlowfishCFBPage);

void BM_BlowfishInit(benchmark::State& state)
{
    const Byte key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    TBlowfishData data{};
    for (auto _ : state) {
        BlowfishInit(data, key, 128, nullptr);
        benchmark::DoNotOptimize(data.InitBlock);
    }
}
BENCHMARK(BM_BlowfishInit);

} // namespace
} // namespace orvex
