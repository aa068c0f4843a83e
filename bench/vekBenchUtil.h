#pragma once

// Set-up shared by the benchmarks that compare the engine with SQLite: the
// table size, a wall-clock timer and a scratch folder removed afterwards.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace orvex::bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point From)
{
    return std::chrono::duration<double>(Clock::now() - From).count();
}

// ORVEX_BENCH_ROWS, but at least Minimum; 1,000,000 when it is not set.
inline int BenchRows(int Minimum)
{
    if (const char* text = std::getenv("ORVEX_BENCH_ROWS"))
        return std::max(Minimum, std::atoi(text));
    return 1000000;
}

// A fresh folder under the temporary directory, removed with its contents.
class TScratch {
public:
    explicit TScratch(const std::string& Prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (Prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FPath = pattern;
    }
    ~TScratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    std::string File(const std::string& Name) const { return FPath + "/" + Name; }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

} // namespace orvex::bench
