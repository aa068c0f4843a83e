#pragma once

// Set-up shared by the benchmarks that compare the engine with SQLite: the
// table size, a wall-clock timer, a scratch folder removed afterwards and
// SQLite statements run for their effect.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include <sqlite3.h>
#include <stdlib.h>

namespace orvex::bench {

using Clock = std::chrono::steady_clock;

// Runs SQL on SQLite for its effect; an error is thrown with SQLite's text.
inline void SqliteExec(sqlite3* Db, const std::string& Sql)
{
    char* error = nullptr;
    if (sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "sqlite error";
        sqlite3_free(error);
        throw std::runtime_error(text);
    }
}

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

// The process's resident high-water mark starts again from what it holds now
// (Linux keeps it per process; writing 5 to clear_refs resets it), so that
// PeakResidentMiB afterwards names the peak of what ran in between.
inline void ResetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A field of /proc/self/status in kB ("VmHWM:", "VmRSS:") as MiB; 0 if absent.
inline double StatusMiB(const std::string& Field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        if (name == Field) {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

inline double PeakResidentMiB() { return StatusMiB("VmHWM:"); }
inline double ResidentMiB() { return StatusMiB("VmRSS:"); }

} // namespace orvex::bench
