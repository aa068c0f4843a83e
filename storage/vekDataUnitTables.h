#pragma once
// Table headers and table maps.
//
// Every stored table has one 256-byte header block; every group of tables
// (user tables, system tables, in-memory tables) has one 8192-byte table map
// that pairs each table's ID with its header's block address. TTableHeader is
// the in-memory copy of one header; TTableHeaderMgr is the map together with
// the headers currently open, each with a count of users. Both read and write
// through a block I/O interface: the connection's table-header disk interface
// for tables in the database file, a memory interface for in-memory tables.
//
// Header block (little-endian, unsigned 32-bit fields):
//   0 TableID          4 ModifiedFlag      8 HeaderSize       12 RecordFirstEmpty
//  16 RecordAutoIncVal 20 LogicalRecordNo  24 BlobFirstEmpty   28 Generator1
//  32 Generator2       36 IndexCount       40 InternalGenerator 44 reserved (0)
//  48 + 6i IndexRoot[i] (32-bit), 52 + 6i IndexDepth[i] (16-bit); the rest 0.
//
// Map block: 1000 entries of {TableID, header address} (32-bit each), then
// 192 unused bytes. Used entries stand at the front without gaps; an entry
// with TableID 0 ends the list.

#include "host/Classes.h"
#include "host/System.h"

#include <array>
#include <vector>

namespace orvex {

class TBaseIOInterface;
class TTableHeaderMgr;

// ------------------------------------------------------------------ layout

// Byte offsets of the header fields.
inline constexpr Integer thoTableID = 0;
inline constexpr Integer thoModifiedFlag = 4;
inline constexpr Integer thoHeaderSize = 8;
inline constexpr Integer thoRecordFirstEmpty = 12;
inline constexpr Integer thoRecordAutoIncVal = 16;
inline constexpr Integer thoLogicalRecordNo = 20;
inline constexpr Integer thoBlobFirstEmpty = 24;
inline constexpr Integer thoGenerator1 = 28;
inline constexpr Integer thoGenerator2 = 32;
inline constexpr Integer thoIndexCount = 36;
inline constexpr Integer thoInternalGenerator = 40;
inline constexpr Integer thoIndexSlots = 48; // slot i: root at 48 + 6i, depth at 52 + 6i
inline constexpr Integer TableHeaderIndexSlotSize = 6;

// The fixed part every header holds, and the largest header there is (a
// header block holds at most 34 index slots).
inline constexpr Integer TableHeaderFixedSize = 48;
inline constexpr Integer TableHeaderMaxSize = 256;
// ReadHeaderSize reads this much of a header to find its size.
inline constexpr Integer TableHeaderProbeSize = 64;

inline constexpr Integer TableMapSize = 8192;
inline constexpr Integer TableMapEntryCount = 1000;
inline constexpr Integer TableMapEntrySize = 8;

// Raises 8581 at Context unless Size is a size a header can have: at least
// the fixed part and at most the 256-byte block it was allocated in (a larger
// size, say from a damaged header, would read and write past that block).
void CheckTableHeaderSize(Integer Size, const char* Context, TObject* Sender);

// ------------------------------------------------------------- TTableHeader

// The in-memory copy of one table header. Every field goes through one
// checked access (the offset must lie inside the header); a setter marks the
// header Dirty only when it changes the stored value, so that closing an
// unchanged header writes nothing.
class TTableHeader : public TCollectionItem {
public:
    // An open header, listed in Collection (its TTableHeaderMgr).
    explicit TTableHeader(TCollection* Collection);
    // A header outside any list that reads and writes through Owner.
    explicit TTableHeader(TTableHeaderMgr* Owner);

    Cardinal TableID() const { return InternalGetHdrItemDWord(thoTableID); }
    Cardinal ModifiedFlag() const { return InternalGetHdrItemDWord(thoModifiedFlag); }
    Cardinal RecordFirstEmpty() const { return InternalGetHdrItemDWord(thoRecordFirstEmpty); }
    Cardinal RecordAutoIncVal() const { return InternalGetHdrItemDWord(thoRecordAutoIncVal); }
    Cardinal LogicalRecordNo() const { return InternalGetHdrItemDWord(thoLogicalRecordNo); }
    Cardinal BlobFirstEmpty() const { return InternalGetHdrItemDWord(thoBlobFirstEmpty); }
    Cardinal Generator1() const { return InternalGetHdrItemDWord(thoGenerator1); }
    Cardinal Generator2() const { return InternalGetHdrItemDWord(thoGenerator2); }
    Cardinal IndexCount() const { return InternalGetHdrItemDWord(thoIndexCount); }
    Cardinal InternalGenerator() const { return InternalGetHdrItemDWord(thoInternalGenerator); }
    // Slot Index of 0 .. IndexCount - 1; any other index is an out-of-range
    // offset (8581).
    Cardinal IndexRoot(Integer Index) const;
    Word IndexDepth(Integer Index) const;

    void SetTableID(Cardinal Value) { InternalSetHdrItemDWord(thoTableID, Value); }
    void SetModifiedFlag(Cardinal Value) { InternalSetHdrItemDWord(thoModifiedFlag, Value); }
    void SetRecordFirstEmpty(Cardinal Value) { InternalSetHdrItemDWord(thoRecordFirstEmpty, Value); }
    void SetRecordAutoIncVal(Cardinal Value) { InternalSetHdrItemDWord(thoRecordAutoIncVal, Value); }
    void SetLogicalRecordNo(Cardinal Value) { InternalSetHdrItemDWord(thoLogicalRecordNo, Value); }
    void SetBlobFirstEmpty(Cardinal Value) { InternalSetHdrItemDWord(thoBlobFirstEmpty, Value); }
    void SetGenerator1(Cardinal Value) { InternalSetHdrItemDWord(thoGenerator1, Value); }
    void SetGenerator2(Cardinal Value) { InternalSetHdrItemDWord(thoGenerator2, Value); }
    void SetIndexCount(Cardinal Value) { InternalSetHdrItemDWord(thoIndexCount, Value); }
    void SetInternalGenerator(Cardinal Value) { InternalSetHdrItemDWord(thoInternalGenerator, Value); }
    void SetIndexRoot(Integer Index, Cardinal Value);
    void SetIndexDepth(Integer Index, Word Value);

    // The size stored at offset 8.
    Integer GetHeaderSize() const { return static_cast<Integer>(InternalGetHdrItemDWord(thoHeaderSize)); }
    // A zero-filled buffer of Size bytes with Size at offset 8. Sizes below
    // the fixed part or above 256 bytes raise 8581.
    void SetHeaderSize(Integer Size);
    // Resizes to Size and zero-fills; unless Clear, the first min(old size,
    // Size) bytes come back; Size goes to offset 8. Sizes as SetHeaderSize.
    void ResetHeaderSize(Integer Size, bool Clear);
    // Zero-fills the buffer when there is one.
    void ClearHeader();

    // Reads the header at BaseAddress; Dirty := false. When the modification
    // flag read differs from the one held before (or that one was 0), or the
    // interface's cache epoch moved since the last read (a rollback: the flag
    // held may be one the file never kept), the interface hears
    // NotifyPageChange so that cached pages of the table go.
    // 8576 without a buffer.
    void ReadHeader();
    // ModifiedFlag + 1, then the header goes to BaseAddress; Dirty := false.
    // 8576 without a buffer.
    void WriteHeader();

    Cardinal BaseAddress() const { return FBaseAddress; }
    void SetBaseAddress(Cardinal Value) { FBaseAddress = Value; }
    bool Dirty() const { return FDirty; }
    void SetDirty(bool Value) { FDirty = Value; }
    Integer UserCount() const { return FUserCount; }
    void SetUserCount(Integer Value) { FUserCount = Value; }
    TTableHeaderMgr* Owner() const { return FOwner; }
    // The raw header bytes (empty before the size is set).
    const std::vector<Byte>& HeaderBuf() const { return FHeaderBuf; }

    // Adds the header's fields and its index slots to Lines.
    void DebugDumpStatus(TStrings* Lines) const;

private:
    // The checked accesses: 8581 for an offset whose bytes leave the header
    // (reads without, writes with a custom text); an assertion when there is
    // no buffer. Size is 4 or 2 bytes.
    Cardinal GetItem(Integer Offset, Integer Size, const char* Context) const;
    void SetItem(Integer Offset, Integer Size, Cardinal Value, const char* Context);
    Cardinal InternalGetHdrItemDWord(Integer Offset) const;
    void InternalSetHdrItemDWord(Integer Offset, Cardinal Value);
    Word InternalGetHdrItemWord(Integer Offset) const;
    void InternalSetHdrItemWord(Integer Offset, Word Value);
    // The offset of index slot Index; 8581 outside 0 .. IndexCount - 1 or
    // beyond the header.
    Integer InternalGetIndexOffset(Integer Index) const;
    bool OffsetFits(Integer Offset, Integer Size) const;
    void CheckBufferAllocated() const;
    // The interface of the owner for ReadHeader and WriteHeader; 8576 when
    // there is no buffer or no interface.
    TBaseIOInterface* IOFor(const char* Context) const;

    TTableHeaderMgr* FOwner;
    std::vector<Byte> FHeaderBuf;
    bool FDirty = false;
    Cardinal FBaseAddress = 0;
    Integer FUserCount = 0;
    Cardinal FCacheEpoch = 0; // the interface's epoch at the last read
};

// ---------------------------------------------------------- TTableHeaderMgr

// One table map and the headers open on it. The map is read again before
// every AddTable, DeleteTable and open of a header not yet open, so that
// tables created or dropped by other connections are seen.
class TTableHeaderMgr : public TCollection {
public:
    TTableHeaderMgr();

    // 8581 "Base address of table header mapper has not been set" when
    // BaseAddress is 0; keeps the interface (not owned) and reads the map.
    void Open(TBaseIOInterface* IOInterface);
    // Writes every Dirty open header, then frees them all.
    void Close();

    // Allocates a header for IndexCount index slots, enters it in the map
    // under the lowest free ID and writes it (ModifiedFlag 1); the new ID.
    // 9601 when the map is full.
    Integer AddTable(Integer IndexCount);
    // Releases the table's header block and closes the gap in the map. 8579
    // for an ID not in the map, 8578 while the table's header is open here.
    void DeleteTable(Integer TableID);
    // The open header of the table, its UserCount raised by 1; or the header
    // read from the map with UserCount 1. 8581 for an ID not in the map.
    TTableHeader* OpenTable(Integer TableID);
    // UserCount - 1; at 0 the header is written when Dirty and freed.
    void CloseTable(TTableHeader* Header);

    // The open header of the ID, nullptr when none is open.
    TTableHeader* FindHdrItemByID(Integer TableID) const;
    // Whether the map (as last read) holds the ID, and at which entry.
    bool FindTableHeaderInMap(Integer TableID, Integer& Position) const;
    // The size stored in the header at Address.
    Integer ReadHeaderSize(Cardinal Address);

    // The whole map block from and to BaseAddress.
    void InternalReadMap();
    void InternalWriteMap();

    // "Current Headers" with every open header's status, then "All Headers"
    // with every used map entry.
    void DebugDumpAllHeaders(TStrings* Lines) const;

    // Map entry Position (0 .. 999) as last read or written.
    Integer MapTableID(Integer Position) const;
    Cardinal MapHeaderAddress(Integer Position) const;

    TTableHeader* Headers(int Index) const { return static_cast<TTableHeader*>(Items(Index)); }
    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    Cardinal BaseAddress() const { return FBaseAddress; }
    void SetBaseAddress(Cardinal Value) { FBaseAddress = Value; }
    Integer BaseTableID() const { return FBaseTableID; }
    void SetBaseTableID(Integer Value) { FBaseTableID = Value; }
    const std::array<Byte, TableMapSize>& MapBuf() const { return FMap; }

private:
    // Enters Address in the first free map entry under the lowest free ID
    // and writes the map; the ID.
    Integer AddTableHeaderToMap(Cardinal Address);
    void SetMapEntry(Integer Position, Integer TableID, Cardinal Address);
    TBaseIOInterface* CheckedIOInterface(const char* Text) const;

    std::array<Byte, TableMapSize> FMap{};
    TBaseIOInterface* FIOInterface = nullptr;
    Cardinal FBaseAddress = 0;
    Integer FBaseTableID = 1;
};

} // namespace orvex
