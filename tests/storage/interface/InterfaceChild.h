#pragma once
// What the block-interface tests and their child program agree on: the
// interface each process uses on the shared database, and the child's
// command line.
//
//   vek_interface_child <database> <steps> <seed> <output>
//
// The child waits until the file "<database>.go" exists, then allocates,
// rewrites and releases blocks at random for <steps> steps on a global
// interface of the shared setup, writing into every block the test pattern
// of a tag unique to it (seed * 1000000 + n). At the end it writes into
// <output> one line "block <address> <tag>" for every block it still holds,
// then "done"; a failure writes "error <message>" and exits with 1.

#include "storage/vekDisk.h"
#include "storage/vekInterfaceUnit.h"

namespace orvex::iotest {

inline constexpr Integer SharedBlockSize = 256;
inline constexpr Word SharedTableID = 3;
inline constexpr Word SharedUsage = IOUsageIndexPages;
// Unpaged, as the header interfaces are: every process reads the file itself.
inline constexpr Cardinal SharedAccessFlags = 0;
inline constexpr Integer SharedChainOffset = TGlobalHdr::OfsTableHeadersFirstEmpty;

inline void SetUpSharedInterface(TDiskIOInterface& IO, TDiskMgr* Disk)
{
    IO.SetDiskMgr(Disk);
    IO.SetBlockSize(SharedBlockSize);
    IO.SetTableID(SharedTableID);
    IO.SetUsage(SharedUsage);
    IO.SetAccessFlags(SharedAccessFlags);
    IO.SetGlobalFirstEmptyOffset(SharedChainOffset);
    IO.Open();
}

} // namespace orvex::iotest
