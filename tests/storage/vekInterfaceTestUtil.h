#pragma once
// Helpers of the block-interface and blob tests: a database with one
// connection, disk interfaces set up as the table structures set them up,
// and byte streams.

#include "storage/vekByteOrder.h"
#include "storage/vekInterfaceUnit.h"
#include "vekDiskTestUtil.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

// The engine error Code (and Text in its message) from the statement;
// commas may stand in the statement.
#define EXPECT_IO_CODE(code, ...) EXPECT_VEK_ERROR(code, (__VA_ARGS__))
#define EXPECT_IO_ERROR(code, text, ...) EXPECT_VEK_ERROR_TEXT(code, text, (__VA_ARGS__))

namespace orvex::iotest {

// How a disk interface is set up.
struct TDiskSetup {
    Integer BlockSize = 100;
    Word Usage = IOUsageRecords;
    Word TableID = 7;
    Cardinal AccessFlags = VekAccessPaged;
    Integer GlobalOffset = 0; // 0: the owner keeps the chain's head
};

// An open disk interface on Disk; a non-global one starts with an empty,
// valid chain, as a new table's header gives it.
inline std::unique_ptr<TDiskIOInterface> OpenDiskInterface(TDiskMgr* Disk, const TDiskSetup& Setup)
{
    auto io = std::make_unique<TDiskIOInterface>();
    io->SetDiskMgr(Disk);
    io->SetBlockSize(Setup.BlockSize);
    io->SetUsage(Setup.Usage);
    io->SetTableID(Setup.TableID);
    io->SetAccessFlags(Setup.AccessFlags);
    io->SetGlobalFirstEmptyOffset(Setup.GlobalOffset);
    if (Setup.GlobalOffset == 0) {
        io->SetFirstEmpty(0);
        io->SetFirstEmptyValid(true);
    }
    io->Open();
    return io;
}

// A fresh database file in a scratch folder with one open connection.
class TDatabaseFixture {
public:
    explicit TDatabaseFixture(Integer PageSize = DefaultPageSize) : FPageSize(PageSize)
    {
        disktest::CreateDatabase(Path(), PageSize);
        FDisk = disktest::OpenDatabase(Path(), PageSize);
    }

    std::string Path() const { return FDir.File("blocks.vek"); }
    TDiskMgr* Disk() const { return FDisk.get(); }
    Integer PageSize() const { return FPageSize; }
    // Another connection to the same file.
    std::unique_ptr<TDiskMgr> Connect() const { return disktest::OpenDatabase(Path(), FPageSize); }
    Int64 FileSize() const { return FDisk->GetFileSize(); }
    // The map entry of the page at Address.
    Word MapEntry(Cardinal Address) const
    {
        FDisk->SetHeaderReadLock();
        const Word entry = FDisk->MapPageMgr()->GetMapEntryFlags(Address);
        FDisk->ReleaseHeaderLock();
        return entry;
    }

private:
    disktest::TTempDir FDir;
    Integer FPageSize;
    std::unique_ptr<TDiskMgr> FDisk;
};

// Size bytes of the block at Address.
inline std::vector<Byte> ReadBytes(TBaseIOInterface& IO, Cardinal Address, Integer Size)
{
    std::vector<Byte> bytes(static_cast<std::size_t>(Size));
    IO.ReadBlock(Address, Size, bytes.data());
    return bytes;
}

// The blocks of a disk interface's free chain from Head on, read through IO.
// Fails the test when a run is empty or a block is chained twice.
inline std::set<Cardinal> FreeBlocks(TBaseIOInterface& IO, Cardinal Head)
{
    std::set<Cardinal> free;
    const Integer blockSize = IO.BlockSize();
    for (Cardinal run = Head; run != 0;) {
        const auto header = ReadBytes(IO, run, blockSize);
        const Cardinal count = ReadLE32(&header[FreeRunCountOffset]);
        EXPECT_GE(count, 1u) << "empty run at " << run;
        for (Cardinal i = 0; i < count; ++i)
            if (!free.insert(run + i * static_cast<Cardinal>(blockSize)).second) {
                ADD_FAILURE() << "block " << run + i * blockSize << " is chained twice";
                return free;
            }
        run = ReadLE32(&header[FreeRunNextOffset]);
    }
    return free;
}

inline std::unique_ptr<TMemoryStream> StreamOf(const std::vector<Byte>& Bytes)
{
    auto stream = std::make_unique<TMemoryStream>();
    if (!Bytes.empty())
        stream->WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    return stream;
}

inline std::vector<Byte> BytesOf(TMemoryStream& Stream)
{
    const Byte* data = static_cast<const Byte*>(Stream.Memory());
    return {data, data + Stream.Size()};
}

} // namespace orvex::iotest
