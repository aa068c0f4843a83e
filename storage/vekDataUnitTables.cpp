// TTableHeader: the in-memory copy of one table header block.

#include "storage/vekDataUnitTables.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekConsts.h"
#include "storage/vekInterfaceUnit.h"

#include <algorithm>

namespace orvex {

namespace {

constexpr const char* SOffsetOutOfRange = "Table header: The offset value is out of range";

} // namespace

TTableHeader::TTableHeader(TCollection* Collection)
    : TCollectionItem(Collection), FOwner(dynamic_cast<TTableHeaderMgr*>(Collection))
{
}

TTableHeader::TTableHeader(TTableHeaderMgr* Owner) : TCollectionItem(nullptr), FOwner(Owner) {}

// ------------------------------------------------------------ field access

bool TTableHeader::OffsetFits(Integer Offset, Integer Size) const
{
    return Offset >= 0 && Offset + Size <= static_cast<Integer>(FHeaderBuf.size());
}

void TTableHeader::CheckBufferAllocated() const
{
    ORVEX_ASSERT(!FHeaderBuf.empty(), "Table header buf is not allocated");
}

Cardinal TTableHeader::GetItem(Integer Offset, Integer Size, const char* Context) const
{
    CheckBufferAllocated();
    if (!OffsetFits(Offset, Size))
        VekDatabaseError(8581, Context, "", const_cast<TTableHeader*>(this));
    const Byte* item = FHeaderBuf.data() + Offset;
    return Size == 4 ? ReadLE32(item) : ReadLE16(item);
}

void TTableHeader::SetItem(Integer Offset, Integer Size, Cardinal Value, const char* Context)
{
    CheckBufferAllocated();
    if (!OffsetFits(Offset, Size))
        VekDatabaseError(8581, Context, SOffsetOutOfRange, this);
    if (GetItem(Offset, Size, Context) == Value)
        return;
    Byte* item = FHeaderBuf.data() + Offset;
    if (Size == 4)
        WriteLE32(item, Value);
    else
        WriteLE16(item, static_cast<Word>(Value));
    FDirty = true;
}

Cardinal TTableHeader::InternalGetHdrItemDWord(Integer Offset) const
{
    return GetItem(Offset, 4, "TTableHeader.InternalGetHdrItemDWord");
}

void TTableHeader::InternalSetHdrItemDWord(Integer Offset, Cardinal Value)
{
    SetItem(Offset, 4, Value, "TTableHeader.InternalSetHdrItemDWord");
}

Word TTableHeader::InternalGetHdrItemWord(Integer Offset) const
{
    return static_cast<Word>(GetItem(Offset, 2, "TTableHeader.InternalGetHdrItemWord"));
}

void TTableHeader::InternalSetHdrItemWord(Integer Offset, Word Value)
{
    SetItem(Offset, 2, Value, "TTableHeader.InternalSetHdrItemWord");
}

Integer TTableHeader::InternalGetIndexOffset(Integer Index) const
{
    const Integer offset = thoIndexSlots + TableHeaderIndexSlotSize * Index;
    if (Index < 0 || static_cast<Cardinal>(Index) >= IndexCount() ||
        !OffsetFits(offset, TableHeaderIndexSlotSize))
        VekDatabaseError(8581, "TTableHeader.InternalGetIndexOffset", SOffsetOutOfRange,
                         const_cast<TTableHeader*>(this));
    return offset;
}

Cardinal TTableHeader::IndexRoot(Integer Index) const
{
    return InternalGetHdrItemDWord(InternalGetIndexOffset(Index));
}

Word TTableHeader::IndexDepth(Integer Index) const
{
    return InternalGetHdrItemWord(InternalGetIndexOffset(Index) + 4);
}

void TTableHeader::SetIndexRoot(Integer Index, Cardinal Value)
{
    InternalSetHdrItemDWord(InternalGetIndexOffset(Index), Value);
}

void TTableHeader::SetIndexDepth(Integer Index, Word Value)
{
    InternalSetHdrItemWord(InternalGetIndexOffset(Index) + 4, Value);
}

// -------------------------------------------------------------- the buffer

void CheckTableHeaderSize(Integer Size, const char* Context, TObject* Sender)
{
    if (Size < TableHeaderFixedSize || Size > TableHeaderMaxSize)
        VekDatabaseErrorFmt(8581, Context, "Table header: The header size is out of range: %d", {Size}, Sender);
}

void TTableHeader::SetHeaderSize(Integer Size)
{
    CheckTableHeaderSize(Size, "TTableHeader.SetHeaderSize", this);
    FHeaderBuf.assign(static_cast<std::size_t>(Size), 0);
    WriteLE32(FHeaderBuf.data() + thoHeaderSize, static_cast<Cardinal>(Size));
}

void TTableHeader::ResetHeaderSize(Integer Size, bool Clear)
{
    CheckTableHeaderSize(Size, "TTableHeader.ResetHeaderSize", this);
    std::vector<Byte> fresh(static_cast<std::size_t>(Size), 0);
    if (!Clear) {
        const std::size_t kept = std::min(fresh.size(), FHeaderBuf.size());
        std::copy_n(FHeaderBuf.begin(), kept, fresh.begin());
    }
    FHeaderBuf = std::move(fresh);
    WriteLE32(FHeaderBuf.data() + thoHeaderSize, static_cast<Cardinal>(Size));
}

void TTableHeader::ClearHeader()
{
    std::fill(FHeaderBuf.begin(), FHeaderBuf.end(), Byte{0});
}

// ------------------------------------------------------------------- I/O

TBaseIOInterface* TTableHeader::IOFor(const char* Context) const
{
    TBaseIOInterface* io = FOwner ? FOwner->IOInterface() : nullptr;
    if (FHeaderBuf.empty() || !io)
        VekDatabaseError(8576, Context, "", const_cast<TTableHeader*>(this));
    return io;
}

void TTableHeader::ReadHeader()
{
    TBaseIOInterface* io = IOFor("TTableHeader.ReadHeader");
    const Cardinal heldFlag = ModifiedFlag();
    // Read into a fresh buffer, so that a failed read leaves the header as
    // it was.
    std::vector<Byte> fresh(FHeaderBuf.size());
    io->ReadBlock(FBaseAddress, static_cast<Integer>(fresh.size()), fresh.data());
    FHeaderBuf = std::move(fresh);
    FDirty = false;
    // Another writer changed the table, or this connection rolled back what
    // it held: the pages cached for it are stale.
    const Cardinal epoch = io->CacheEpoch();
    if (heldFlag == 0 || ModifiedFlag() != heldFlag || epoch != FCacheEpoch)
        io->NotifyPageChange(static_cast<Integer>(TableID()));
    FCacheEpoch = epoch;
}

void TTableHeader::WriteHeader()
{
    TBaseIOInterface* io = IOFor("TTableHeader.WriteHeader");
    SetModifiedFlag(ModifiedFlag() + 1);
    io->WriteBlock(FBaseAddress, static_cast<Integer>(FHeaderBuf.size()), FHeaderBuf.data());
    FDirty = false;
}

// ------------------------------------------------------------ diagnostics

void TTableHeader::DebugDumpStatus(TStrings* Lines) const
{
    Lines->Add(Format("TableID=%d BaseAddr=%d HdrSize=%d UserCount=%d",
                      {TableID(), FBaseAddress, GetHeaderSize(), FUserCount}));
    Lines->Add(Format("RecFirstEmpty=%d BlobFE=%d", {RecordFirstEmpty(), BlobFirstEmpty()}));
    Lines->Add(Format("AutoInc=%d LogRecNo=%d IdxCount=%d",
                      {RecordAutoIncVal(), LogicalRecordNo(), IndexCount()}));
    // Only the slots the header holds: a damaged count must not stop the dump.
    const Integer slotsInHeader =
        (static_cast<Integer>(FHeaderBuf.size()) - thoIndexSlots) / TableHeaderIndexSlotSize;
    const Integer slots = static_cast<Integer>(std::min<Cardinal>(IndexCount(), std::max(slotsInHeader, 0)));
    for (Integer i = 0; i < slots; ++i)
        Lines->Add(Format("   Idx=%d Root=%d Depth=%d", {i, IndexRoot(i), IndexDepth(i)}));
}

} // namespace orvex
