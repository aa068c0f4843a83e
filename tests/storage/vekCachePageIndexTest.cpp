// The page cache's index against a model: page-aligned keys (the addresses
// the cache holds), inserted and erased at random, wrapping around the end
// of the table, growing; every key found where the model has it.

#include "storage/vekDisk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>

namespace orvex {
namespace {

// Values stand for pages the index never looks into.
TCachePage* Fake(int Value)
{
    return reinterpret_cast<TCachePage*>(static_cast<std::uintptr_t>(Value + 1) * 64);
}

TEST(CachePageIndex, AgreesWithAModelThroughInsertsAndErases)
{
    TCachePageIndex index;
    index.Reset(8);
    std::map<std::uint64_t, int> model;
    std::mt19937 random(7);
    for (int step = 0; step < 200000; ++step) {
        // Few distinct keys at first (many collisions and erasures), more later.
        const std::uint64_t range = step < 50000 ? 64 : 5000;
        const std::uint64_t key = (random() % range) * 4096 + (random() % 50 == 0 ? (std::uint64_t{1} << 32) : 0);
        if (model.contains(key)) {
            if (random() % 2 == 0) {
                index.Erase(key);
                model.erase(key);
            }
        } else {
            const int value = static_cast<int>(random() % 100000);
            index.Insert(key, Fake(value));
            model[key] = value;
        }
        if (step % 997 == 0) {
            ASSERT_EQ(index.Count(), model.size());
            for (std::uint64_t probe = 0; probe < range; ++probe) {
                const std::uint64_t k = probe * 4096;
                const auto it = model.find(k);
                ASSERT_EQ(index.Find(k), it == model.end() ? nullptr : Fake(it->second)) << "step " << step;
            }
            for (const auto& [k, v] : model)
                ASSERT_EQ(index.Find(k), Fake(v)) << "step " << step;
        }
    }
}

} // namespace
} // namespace orvex
