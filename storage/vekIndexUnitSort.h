#pragma once
// The temporary sort: keys sorted in memory; and the spill file of sorts
// and passes that do not fit in memory.
//
// A TTemporarySort builds a key from each record image it is given (the
// index key format: length word, Count word, the record's address, null-flag
// bits, packed data), keeps the keys in one contiguous array of fixed-size
// slots, sorts them with a quicksort and finds them by binary search. A
// TTemporarySortManager is a collection of such sorts. The engine exports
// both for host programs and uses neither itself.
//
// A slot is KeySize bytes: CalculateMaximumKeySize of the key fields plus
// the key's null-flag bytes (the key fields' DataOffset), so that a key whose
// fields all hold their largest values fits.

#include "host/Classes.h"
#include "host/System.h"
#include "storage/vekIndexUnitKeys.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TPlatformFile;

// ----------------------------------------------------------- TTemporarySort

class TTemporarySort : public TCollectionItem {
public:
    explicit TTemporarySort(TCollection* Collection);
    ~TTemporarySort() override;

    // From another TTemporarySort: its key fields and string compare
    // routine (not its keys). Any other source goes to the inherited
    // assignment.
    void Assign(TPersistent* Source) override;

    // The key fields (owned) of the keys; fill them before Open. Their
    // DataOffset is the key's number of null-flag bytes; Open raises it to
    // Count div 8 + 1 (as every index has it) when it is too small to hold
    // a bit per key field.
    TKeyFields* KeyFields() const { return FKeys.KeyFields(); }
    // The database's string compare routine; required.
    void SetDBStringCompare(TDBStringCompare Value) { FKeys.SetDBStringCompare(Value); }
    TDBStringCompare DBStringCompare() const { return FKeys.DBStringCompare(); }

    // 8581 "Sort function not assinged" without a string compare routine.
    // Closes, computes KeySize, and makes room for Capacity keys (a negative
    // capacity counts as 0). Key fields of a type keys cannot hold raise
    // 10117.
    void Open(Integer Capacity);
    // Frees the keys; Capacity and Count := 0.
    void Close();

    // Builds the key of the record image (all key fields, no comparison
    // flags) with RecordAddress in its Address word and appends it; a full
    // array first grows to trunc(Capacity * 1.25) keys, and by one key while
    // that would not grow it (capacities 0 to 3). Clears the sorted flag.
    void AppendKey(Cardinal RecordAddress, const Byte* RecBuf);
    // Sorts the keys appended so far and sets the sorted flag.
    void Sort();
    // The record address of the first key equal to Key (over all key fields),
    // 0 when none is. Key is a key of KeySize bytes. Keys not yet sorted are
    // sorted first.
    Cardinal FindKey(const Byte* Key);
    // The record address of the first key not smaller than Key, 0 when every
    // key is smaller. Keys not yet sorted are sorted first.
    Cardinal FindNearest(const Byte* Key);
    // Negative when Key1 sorts before Key2, 0 when equal, positive after,
    // over all key fields without comparison flags. A key whose length word
    // exceeds KeySize raises 8581 "KeySize out of range".
    Integer CompareKeys(const Byte* Key1, const Byte* Key2) const;

    Integer KeySize() const { return FKeySize; }
    Integer Capacity() const { return FCapacity; }
    Integer Count() const { return FCount; }
    bool Sorted() const { return FSorted; }
    // The key in slot Index (0 .. Count - 1).
    const Byte* Keys(Integer Index) const;

private:
    Byte* Slot(Integer Index) { return FKeyArray.data() + static_cast<std::size_t>(Index) * FKeySize; }
    void Grow();
    void QuickSort(Integer Low, Integer High);
    void Exchange(Integer A, Integer B);
    // The first slot whose key is not smaller than Key (Count when none).
    Integer LowerBound(const Byte* Key);

    // The key fields, the key building and the comparison of the keys.
    TIndexKeys FKeys;
    Integer FKeySize = 0;
    Integer FCapacity = 0;
    Integer FCount = 0;
    std::vector<Byte> FKeyArray;
    // The key being appended, and the slot in hand while two are exchanged.
    std::vector<Byte> FWorkKey;
    // The quicksort's pivot, copied out of the slots that move around it.
    std::vector<Byte> FPivotKey;
    bool FSorted = false;
};

// --------------------------------------------------- TTemporarySortManager

class TTemporarySortManager : public TCollection {
public:
    TTemporarySortManager();

    TTemporarySort* Add() { return static_cast<TTemporarySort*>(TCollection::Add()); }
    TTemporarySort* GetItems(int Index) const { return static_cast<TTemporarySort*>(Items(Index)); }
    void SetItems(int Index, TTemporarySort* Value) { GetItems(Index)->Assign(Value); }
    // Closes every sort; the sorts stay in the collection.
    void Close();
};

// ---------------------------------------------------------------- TSpillFile

// A file of bytes that one operation writes and reads back (sort runs, rows
// waiting for a later pass), named Prefix, the process id, "-", a serial
// number and Ext in Folder (the form of the temporary files a start-up
// sweep removes when their process is gone). It leaves the folder as soon
// as it is made, so that it goes with the handle, or with the process
// whatever happens to it. Failures raise the engine's errors (8582 when it
// cannot be made, 9218 and 9217 for a write and a read) in the name of
// Sender.
class TSpillFile {
public:
    // The bytes Append gathers before it writes them.
    static constexpr std::size_t ChunkBytes = 256 * 1024;

    TSpillFile(const std::string& Folder, const std::string& Prefix, const std::string& Ext, TObject* Sender);
    ~TSpillFile();
    TSpillFile(const TSpillFile&) = delete;
    TSpillFile& operator=(const TSpillFile&) = delete;

    // Appends Size bytes (through a buffer).
    void Append(const void* Data, std::size_t Size);
    // The bytes appended so far.
    std::int64_t Size() const { return FWritten + static_cast<std::int64_t>(FBuffer.size()); }
    // Size bytes from Offset (inside the bytes appended).
    void Read(std::int64_t Offset, void* Data, std::size_t Size);

private:
    void Flush();

    std::unique_ptr<TPlatformFile> FFile;
    TObject* FSender;
    std::int64_t FWritten = 0;
    std::vector<Byte> FBuffer;
};

} // namespace orvex
