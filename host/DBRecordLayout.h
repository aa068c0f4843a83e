#pragma once
// The record buffer shared by every engine dataset.
//
// The dataset layer itself only hands buffers around (AllocRecordBuffer,
// GetRecord, the bookmark routines and the calculated-fields hooks are the
// dataset's own); every engine dataset lays its buffers out the same way, so
// that a buffer read by one can be given to another and the engine's storage
// code finds the 12 bytes behind the record image where it expects them.
//
//   offset             size  content
//   0                  R     the record image as stored (R = the table's record size)
//   R                  4     engine: u32 record address in the record I/O interface
//   R + 4              4     engine: u32 record number in the current index (1-based, 0 unknown)
//   R + 8              4     engine: u32 key flag (0 ordinary, 2 before the first key, 4 after the last)
//   R + 12             C     calculated fields (C = the dataset's CalcFieldsSize): for each
//                            calculated or lookup field at its Offset, a has-value byte and
//                            then DataSize bytes of the native value
//   R + 12 + C         8     record information: bytes 0-3 unused, byte 4 record status
//                            (0 valid, 1 being edited, 2 inserted, 3 deleted), byte 5 the
//                            bookmark flag (TBookmarkFlag), bytes 6-7 unused
//   R + 20 + C         8     bookmark data: the u32 record address, then the u32 record ID
//   R + 28 + C               buffer size
//
// The engine's 12 bytes stand where a framework-only dataset keeps a spare
// byte; everything after them moves by the same 12 bytes, so the record image
// plus its engine information is one block that the storage layer copies as a
// whole. All numbers are little-endian.

namespace orvex {

struct TRecordBufferLayout {
    int RecordSize = 0;     // R
    int CalcFieldsSize = 0; // C

    static constexpr int EngineInfoSize = 12;
    static constexpr int RecordInfoSize = 8;
    static constexpr int BookmarkSize = 8;

    constexpr int RecAddrOffset() const { return RecordSize; }
    constexpr int RecNoOffset() const { return RecordSize + 4; }
    constexpr int KeyFlagOffset() const { return RecordSize + 8; }
    constexpr int CalcFieldsOffset() const { return RecordSize + EngineInfoSize; }
    constexpr int RecordInfoOffset() const { return CalcFieldsOffset() + CalcFieldsSize; }
    constexpr int RecordStatusOffset() const { return RecordInfoOffset() + 4; }
    constexpr int BookmarkFlagOffset() const { return RecordInfoOffset() + 5; }
    constexpr int BookmarkOffset() const { return RecordInfoOffset() + RecordInfoSize; }
    constexpr int BufferSize() const { return BookmarkOffset() + BookmarkSize; }
};

} // namespace orvex
