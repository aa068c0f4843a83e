// The random-number generator, the millisecond tick counter and Sleep.

#include "host/SysUtils.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace orvex {

namespace {

// The framework's generator: a 32-bit linear congruential sequence whose
// state is the seed; Random(n) scales the state into [0, n). One state for the
// process, guarded so that threads draw distinct values.
class TRandomState {
public:
    void Seed(std::uint32_t seed)
    {
        std::lock_guard lock(FLock);
        FSeed = seed;
    }

    std::uint32_t Next()
    {
        std::lock_guard lock(FLock);
        FSeed = FSeed * 0x08088405u + 1u;
        return FSeed;
    }

private:
    std::mutex FLock;
    std::uint32_t FSeed = 0;
};

TRandomState& RandomState()
{
    static TRandomState state;
    return state;
}

class TTickSource {
public:
    std::uint32_t Get()
    {
        std::function<std::uint32_t()> source;
        {
            std::lock_guard lock(FLock);
            source = FSource;
        }
        if (source)
            return source();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count()); // wraps at 2^32 like the system's counter
    }

    void Set(std::function<std::uint32_t()> source)
    {
        std::lock_guard lock(FLock);
        FSource = std::move(source);
    }

private:
    std::mutex FLock;
    std::function<std::uint32_t()> FSource;
};

TTickSource& TickSource()
{
    static TTickSource source;
    return source;
}

} // namespace

void Randomize()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    RandomState().Seed(static_cast<std::uint32_t>(ticks ^ (ticks >> 32)));
}

void RandSeed(std::uint32_t seed)
{
    RandomState().Seed(seed);
}

int Random(int range)
{
    if (range <= 0)
        return 0;
    const std::uint64_t scaled = static_cast<std::uint64_t>(RandomState().Next()) *
                                 static_cast<std::uint32_t>(range);
    return static_cast<int>(scaled >> 32);
}

double RandomFloat()
{
    return RandomState().Next() / 4294967296.0;
}

std::uint32_t GetTickCount()
{
    return TickSource().Get();
}

void SetTickCountSource(std::function<std::uint32_t()> source)
{
    TickSource().Set(std::move(source));
}

void Sleep(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace orvex
