// TBlobInterface: blob values as chains of fixed-size blocks in a block I/O
// interface.

#include "storage/vekInterfaceUnit.h"

#include "storage/vekByteOrder.h"

#include <algorithm>

namespace orvex {

namespace {

constexpr Integer ErrCorruption = 8451;     // "Data structure corruption"
constexpr Integer ErrNotInitialized = 8576; // "System object is not initialized"
constexpr Integer ErrInternal = 8581;       // "There was an unexpected internal error ..."

} // namespace

// Counts the blocks of a chain as it is walked: a chain with more blocks
// than the interface held when the walk began runs in a circle (a next link
// pointing back into the chain), which would otherwise read or free without
// end. A walk that frees blocks says so: the interface then holds fewer
// blocks than the chain had, and the blocks freed still count.
class TBlobInterface::ChainWalk {
public:
    ChainWalk(TBlobInterface* Owner, const char* Context) : FOwner(Owner), FContext(Context) {}
    void Step(Cardinal Block)
    {
        // The limit is asked for only once a chain grows long.
        if (++FSteps > 64 && FSteps > Limit())
            VekDatabaseError(ErrCorruption, FContext, Format("Blob chain loops at block %u", {Block}), FOwner);
    }
    void Released() { ++FReleased; }

private:
    Cardinal Limit() const
    {
        const Cardinal limit = FOwner->FIOInterface->ChainLimit();
        return limit > 0xFFFFFFFFu - FReleased ? 0xFFFFFFFFu : limit + FReleased;
    }

    TBlobInterface* FOwner;
    const char* FContext;
    Cardinal FSteps = 0;
    Cardinal FReleased = 0;
};

TBlobInterface::~TBlobInterface()
{
    Close();
}

void TBlobInterface::Open()
{
    constexpr const char* Context = "TBlobInterface.Open";
    if (!FIOInterface)
        VekDatabaseError(ErrInternal, Context, "Unable to create blob interface - IOInterface is null", this);
    if (FBlobBlockSize == 0)
        VekDatabaseError(ErrInternal, Context, "Unable to create blob interface - Block size is 0", this);
    if (FBlobBlockSize <= BlobHeaderSize)
        VekDatabaseError(ErrInternal, Context,
                         Format("Unable to create blob interface - Block size %d leaves no room for data",
                                {FBlobBlockSize}),
                         this);
    FBuffer.assign(static_cast<std::size_t>(FBlobBlockSize), 0);
}

void TBlobInterface::Close()
{
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FIOInterface = nullptr;
    FBlobBlockSize = 0;
}

void TBlobInterface::RequireOpen(const char* Context) const
{
    if (FBuffer.empty() || !FIOInterface)
        VekDatabaseError(ErrNotInitialized, Context, "Blob interface is not open",
                         const_cast<TBlobInterface*>(this));
}

Integer TBlobInterface::ReadChainBlock(Cardinal Address, const char* Context)
{
    FIOInterface->ReadBlock(Address, FBlobBlockSize, FBuffer.data());
    const Cardinal used = ReadLE32(FBuffer.data() + BlobUsedOffset);
    if (used > static_cast<Cardinal>(Payload()))
        VekDatabaseError(ErrCorruption, Context,
                         Format("Blob block %u claims %u bytes of %d", {Address, used, Payload()}), this);
    return static_cast<Integer>(used);
}

// ------------------------------------------------------------------ writing

Cardinal TBlobInterface::WriteNewBlocks(Int64 Size, TStream* Stream)
{
    if (Size <= 0)
        return 0;
    // The last block takes the odd bytes; every block before it is full.
    Integer chunk = static_cast<Integer>(Size % Payload());
    if (chunk == 0)
        chunk = Payload();
    Int64 position = Stream->Size() - chunk;
    Int64 remaining = Size;
    Cardinal next = 0;
    std::fill(FBuffer.begin(), FBuffer.end(), Byte{0});
    while (remaining > 0) {
        Stream->SetPosition(position);
        Stream->ReadBuffer(FBuffer.data() + BlobHeaderSize, chunk);
        WriteLE32(FBuffer.data() + BlobNextOffset, next);
        WriteLE32(FBuffer.data() + BlobUsedOffset, static_cast<Cardinal>(chunk));
        next = FIOInterface->AllocateNewAddress(FBlobBlockSize, FBuffer.data());
        remaining -= chunk;
        chunk = Payload();
        position -= chunk;
    }
    return next;
}

Cardinal TBlobInterface::InsertBlob(TStream* Stream)
{
    RequireOpen("TBlobInterface.InsertBlob");
    return WriteNewBlocks(Stream->Size(), Stream);
}

Cardinal TBlobInterface::EditBlob(Cardinal Address, Integer, TStream* Stream)
{
    RequireOpen("TBlobInterface.EditBlob");
    const Int64 size = Stream->Size();
    // An empty value has no chain: the old one goes, and so does its address.
    if (size == 0) {
        DeleteBlob(Address, 0);
        return 0;
    }
    if (Address == 0)
        return InsertBlob(Stream);

    // Rewrite the old chain's blocks in place for as long as both last.
    Int64 remaining = size;
    Stream->SetPosition(0);
    Integer chunk = static_cast<Integer>(std::min<Int64>(remaining, Payload()));
    Cardinal current = Address;
    Cardinal previous = 0;
    ChainWalk walk(this, "TBlobInterface.EditBlob");
    while (remaining > 0 && current != 0) {
        walk.Step(current);
        FIOInterface->ReadBlock(current, FBlobBlockSize, FBuffer.data());
        const Cardinal oldNext = ReadLE32(FBuffer.data() + BlobNextOffset);
        std::fill(FBuffer.begin() + BlobHeaderSize, FBuffer.end(), Byte{0});
        Stream->ReadBuffer(FBuffer.data() + BlobHeaderSize, chunk);
        WriteLE32(FBuffer.data() + BlobUsedOffset, static_cast<Cardinal>(chunk));
        if (remaining <= Payload())
            WriteLE32(FBuffer.data() + BlobNextOffset, 0);
        FIOInterface->WriteBlock(current, FBlobBlockSize, FBuffer.data());
        previous = current;
        current = oldNext;
        remaining -= chunk;
        chunk = static_cast<Integer>(std::min<Int64>(remaining, Payload()));
    }

    if (remaining > 0) {
        // Longer than the old chain: the rest becomes a new chain after it.
        const Cardinal tail = WriteNewBlocks(remaining, Stream);
        FIOInterface->ReadBlock(previous, FBlobBlockSize, FBuffer.data());
        WriteLE32(FBuffer.data() + BlobNextOffset, tail);
        FIOInterface->WriteBlock(previous, FBlobBlockSize, FBuffer.data());
    } else if (current != 0) {
        // Shorter: the old chain's remaining blocks are no longer needed.
        DeleteBlob(current, 0);
    }
    return Address;
}

// ------------------------------------------------------ reading and release

Int64 TBlobInterface::ReadBlob(Cardinal Address, TStream* Stream)
{
    constexpr const char* Context = "TBlobInterface.ReadBlob";
    if (Address == 0)
        return 0;
    RequireOpen(Context);
    Int64 total = 0;
    ChainWalk walk(this, Context);
    for (Cardinal block = Address; block != 0;) {
        walk.Step(block);
        const Integer used = ReadChainBlock(block, Context);
        const Cardinal next = ReadLE32(FBuffer.data() + BlobNextOffset);
        // Every block but the last is full.
        if (next != 0 && used != Payload())
            VekDatabaseError(ErrCorruption, Context,
                             Format("Blob block %u holds %d bytes but is not the last", {block, used}), this);
        Stream->WriteBuffer(FBuffer.data() + BlobHeaderSize, used);
        total += used;
        block = next;
    }
    return total;
}

void TBlobInterface::DeleteBlob(Cardinal Address, Integer)
{
    if (Address == 0)
        return;
    RequireOpen("TBlobInterface.DeleteBlob");
    ChainWalk walk(this, "TBlobInterface.DeleteBlob");
    for (Cardinal block = Address; block != 0;) {
        walk.Step(block);
        FIOInterface->ReadBlock(block, FBlobBlockSize, FBuffer.data());
        const Cardinal next = ReadLE32(FBuffer.data() + BlobNextOffset);
        FIOInterface->ReleaseBlock(block, FBlobBlockSize);
        walk.Released();
        block = next;
    }
}

} // namespace orvex
