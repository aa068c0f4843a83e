#include "platform/PageMemory.h"

#include <cstdint>

#include <sys/mman.h>

namespace orvex {

namespace {

constexpr std::size_t LargePage = std::size_t{2} << 20;

#ifndef MADV_POPULATE_WRITE
constexpr int MADV_POPULATE_WRITE = 23; // Linux 5.14 and later
#endif

} // namespace

std::size_t SysLargePageBytes()
{
    return LargePage;
}

void* SysAllocPageMemory(std::size_t Bytes)
{
    if (Bytes == 0)
        return nullptr;
    const bool large = Bytes % LargePage == 0;
    // A large-page block is mapped one large page longer, so that an aligned
    // start can be cut out of it; the ends beyond go back at once.
    const std::size_t mapped = large ? Bytes + LargePage : Bytes;
    void* map = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return nullptr;
    auto* start = static_cast<unsigned char*>(map);
    if (large) {
        const auto at = reinterpret_cast<std::uintptr_t>(start);
        const std::size_t lead = (LargePage - at % LargePage) % LargePage;
        if (lead > 0)
            ::munmap(start, lead);
        const std::size_t tail = LargePage - lead;
        if (tail > 0)
            ::munmap(start + lead + Bytes, tail);
        start += lead;
        // Advice only: without large pages the block still works.
        ::madvise(start, Bytes, MADV_HUGEPAGE);
    }
    // Faults the whole block in with one call; where the system cannot, the
    // pages fault in one by one as they are first written.
    ::madvise(start, Bytes, MADV_POPULATE_WRITE);
    return start;
}

void SysFreePageMemory(void* Block, std::size_t Bytes)
{
    if (Block && Bytes > 0)
        ::munmap(Block, Bytes);
}

} // namespace orvex
