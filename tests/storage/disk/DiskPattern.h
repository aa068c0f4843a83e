#pragma once
// The byte pattern the database-file tests write into pages: no two seeds
// share one by accident. Shared by the tests and their child program.

#include "host/System.h"

#include <cstddef>
#include <vector>

namespace orvex::disktest {

inline std::vector<Byte> Pattern(std::size_t Size, Cardinal Seed)
{
    std::vector<Byte> bytes(Size);
    Cardinal x = Seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<Byte>(x >> 23);
    }
    return bytes;
}

} // namespace orvex::disktest
