#pragma once
// Memory for page caches, straight from the system in whole pages.
//
// A fresh page of memory costs a fault the first time it is written, and in a
// virtual machine that fault is dear (tens of microseconds). A block taken
// here is faulted in at once, with one call for the whole block, and a block
// of whole large pages (SysLargePageBytes) is asked for as large pages: one
// fault serves hundreds of small pages' worth.

#include <cstddef>

namespace orvex {

// The size of a large page on this system (2 MiB); a block of a multiple of
// it, taken here, starts at a large-page boundary.
std::size_t SysLargePageBytes();

// Bytes of zeroed, writable memory, already resident; nullptr when the system
// has none. Give it back with SysFreePageMemory and the same size.
void* SysAllocPageMemory(std::size_t Bytes);
void SysFreePageMemory(void* Block, std::size_t Bytes);

} // namespace orvex
