#pragma once
// The read-ahead buffer: copies of the records and keys that lie around a
// dataset's index cursor, so that the dataset can step through them without
// reading the table again. The index fills it; the dataset reads from it
// while it is valid. Its contents expire ValidPeriod milliseconds after the
// fill stamped in ValidTimeStamp, measured on the tick counter
// (GetMSTimeMarker) that callers pass to IsValid.

#include "host/Classes.h"
#include "host/System.h"

#include <memory>
#include <vector>

namespace orvex {

// One buffered record: its image, its key, its record number and address.
// The two buffers belong to the read-ahead buffer's pools.
class TReadAheadBufferItem : public TCollectionItem {
public:
    explicit TReadAheadBufferItem(TCollection* Collection);

    // Sets both buffers; an assertion for either being nullptr.
    void Initialize(Byte* RecBuf, Byte* KeyBuf);

    Byte* RecBuf() const { return FRecBuf; }
    Byte* KeyBuf() const { return FKeyBuf; }
    Integer RecNo() const { return FRecNo; }
    void SetRecNo(Integer Value) { FRecNo = Value; }
    Cardinal RecAddr() const { return FRecAddr; }
    void SetRecAddr(Cardinal Value) { FRecAddr = Value; }
    // Whether RecBuf holds the record's image (false until the dataset has
    // read it; a new item starts without one).
    bool ImageRead() const { return FImageRead; }
    void SetImageRead(bool Value) { FImageRead = Value; }

private:
    Byte* FRecBuf = nullptr;
    Byte* FKeyBuf = nullptr;
    Integer FRecNo = 0;
    Cardinal FRecAddr = 0;
    bool FImageRead = false;
};

// The buffered records in key order. Record and key buffers come from two
// pools (always equal in number) in order and are kept for reuse until
// Close, so refilling after Invalidate allocates nothing new while a fill
// stays within the earlier size.
class TReadAheadBuffer : public TCollection {
public:
    // Items are made with ItemClass (a TReadAheadBufferItem or descendant).
    explicit TReadAheadBuffer(TCollectionItemClass ItemClass = ItemClassOf<TReadAheadBufferItem>());
    ~TReadAheadBuffer() override;

    // Closes, then records the buffer sizes and the period; ValidTimeStamp,
    // LastRecordCount := 0, RecordCountValid := false.
    void Open(Integer RecordBufferSize, Integer KeyBufferSize, Cardinal ValidPeriod);
    // Frees every pooled buffer and removes the items.
    void Close();

    // Appends an item that holds the next free pair of pooled buffers (a new
    // pair when none is free).
    TReadAheadBufferItem* Add();
    // Removes the items; ValidTimeStamp := 0; every pooled pair is free again.
    void Invalidate();
    // Whether at most ValidPeriod milliseconds passed from ValidTimeStamp to
    // Now (elapsed time, so a wrap of the tick counter does no harm) and an
    // item is present; otherwise the buffer is invalidated and false.
    bool IsValid(Cardinal Now);

    // The position of the item of record address RecAddr, searched from the
    // last item back; -1 when none.
    int GetIndexOfBufferItem(Cardinal RecAddr) const;
    TReadAheadBufferItem* GetBufferItem(Cardinal RecAddr) const;
    // The item after (before) the one of RecAddr; nullptr when that one is
    // the last (first) or is not buffered.
    TReadAheadBufferItem* GetNextBufferItem(Cardinal RecAddr) const;
    TReadAheadBufferItem* GetPriorBufferItem(Cardinal RecAddr) const;
    // The last item, nullptr when empty.
    TReadAheadBufferItem* Last() const;

    void DeleteItem(int Index) { Delete(Index); }
    TReadAheadBufferItem* GetItems(int Index) const
    {
        return static_cast<TReadAheadBufferItem*>(Items(Index));
    }
    // Copies Value's record, key, number and address into item Index; Value
    // must come from a buffer of the same sizes (an assertion otherwise).
    void SetItems(int Index, TReadAheadBufferItem* Value);
    // The number of pooled buffer pairs.
    int GetInternalBufferCount() const { return static_cast<int>(FRecordPool.size()); }

    Integer RecordBufferSize() const { return FRecordBufferSize; }
    Integer KeyBufferSize() const { return FKeyBufferSize; }
    Cardinal ValidPeriod() const { return FValidPeriod; }
    Cardinal ValidTimeStamp() const { return FValidTimeStamp; }
    void SetValidTimeStamp(Cardinal Value) { FValidTimeStamp = Value; }
    Integer LastRecordCount() const { return FLastRecordCount; }
    void SetLastRecordCount(Integer Value) { FLastRecordCount = Value; }
    bool RecordCountValid() const { return FRecordCountValid; }
    void SetRecordCountValid(bool Value) { FRecordCountValid = Value; }

private:
    using TPool = std::vector<std::unique_ptr<Byte[]>>;

    Integer FRecordBufferSize = 0;
    Integer FKeyBufferSize = 0;
    Cardinal FValidPeriod = 0;
    Cardinal FValidTimeStamp = 0;
    Integer FLastRecordCount = 0;
    bool FRecordCountValid = false;
    TPool FRecordPool;
    TPool FKeyPool;
    int FPoolInUse = 0; // pooled pairs handed to items since the last Invalidate
};

} // namespace orvex
