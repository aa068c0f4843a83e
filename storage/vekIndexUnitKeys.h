#pragma once
// The index unit's keys: key fields, keys and their comparison.
//
// A key is built from a record image, from another key or from host values,
// and stands in index pages as an entry of MaximumKeySize bytes:
//
//   offset           size        content
//   0                2           entry length (= MaximumKeySize)
//   2                4           Count: records under the child page (inner
//                                pages); 0 in a leaf and in a built key
//   6                4           Address: the record's block address (leaves)
//                                or the child page's address (inner pages)
//   10               DataOffset  null-flag bits: key field i is bit
//                                7 - (i mod 8) of byte i div 8; 1 = has a value
//   10 + DataOffset  ...         the data of each key field that has a value,
//                                packed in key-field order: a string (or wide
//                                string) as a 16-bit length and that many
//                                bytes, any other type as FieldSize bytes of
//                                the record image
//                    ...         zero bytes up to MaximumKeySize
//
// All numbers are little-endian. A null key field has no data bytes.
//
// Keys compare field by field: comparison flags first (see
// TKeyComparisonFlags), then null before value, then the values by type; a
// Descending key field turns its result round. Byte arrays and blobs have no
// order, so no key field may be of those types (10117).
//
// TIndexKeys holds the keys of one open index (its key fields, the search
// key, a temporary key, a read buffer, the search key's comparison flags and
// its TOptimizedSearchKey) with the routines that build, compare and decode
// keys. These are the B-tree's own key routines: TBTree derives from
// TIndexKeys, so that ConstructKeyBufFromRecBuf, CompareKeys and the rest are
// called on the tree itself. The tree is given its key fields, DataOffset,
// MaximumKeySize and string compare routine before it opens, checks them
// with CheckKeyFields when it opens, searches pages with
// CompareToOptimizedKey (then CompareKeys with KeyFlags at the leaf), and
// gives the search key's Address word its record address with SetKeyBufAddr
// before an insert. It adds what needs its pages (the key at the cursor:
// CurrentKeyAsStrings is DecodeKeyBufAsStrings of that entry). The temporary
// sort can own a TIndexKeys for its work key and comparisons.

#include "host/Classes.h"
#include "host/DB.h"
#include "host/System.h"
#include "host/Variants.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TInternalFieldItem;

// --------------------------------------------------------------- key layout

// Byte offsets of a key entry's header and its size.
inline constexpr Integer kioLength = 0;
inline constexpr Integer kioCount = 2;
inline constexpr Integer kioAddress = 6;
inline constexpr Integer KeyInfoSize = 10;

// The database's string compare routine (DBANSICompareStrings or
// DBASCIICompareStrings, by the table's sort order).
using TDBStringCompare = int (*)(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                                 bool CaseInsensitive, bool Partial);

// Comparison flags given with a search key, one per key field: 1 compares
// the field normally, 0 puts the search key's field before every stored
// value, 2 after every stored value. A field without an entry counts as 1;
// an empty list gives no flags. A search with fewer values than key fields
// lands before (0) or after (2) all keys that share the given leading values.
using TKeyComparisonFlags = std::vector<Byte>;
inline constexpr Byte kcfBeforeAll = 0;
inline constexpr Byte kcfNormal = 1;
inline constexpr Byte kcfAfterAll = 2;

// Whether keys may hold a field of this type: strings, wide strings,
// integers of every width, Booleans, reals and dates.
bool IsIndexableFieldType(TFieldType DataType);

// ------------------------------------------------------------ TKeyFieldItem

// One key field of an index.
class TKeyFieldItem : public TCollectionItem {
public:
    explicit TKeyFieldItem(TCollection* Collection);

    // From another TKeyFieldItem: all thirteen properties; an assertion
    // ("Internal status error in assign KeyField") when the source is a
    // string or wide-string field without a size marker. Any other source
    // goes to the inherited assignment.
    void Assign(TPersistent* Source) override;
    // The thirteen properties below, in their order.
    void PublishProperties(TPropertyList& List) override;

    // A key field over a record field: its FieldName, DataType, FieldSize,
    // IsVariable, offsets in the record image (RecBufOffset is its
    // DataOffset) and PhysicalFieldNo (its FieldIndex). The index's own
    // properties (IndexName, KeyIndex, Descending, ...) are left as they are.
    void AssignFromField(const TInternalFieldItem* Field);
    // The hidden record-ID key field that keeps equal keys apart: the 4-byte
    // integer at rpoRecordID, whose "null flag" is the status byte (set in
    // every record in use), with no physical field (-1).
    void SetAsRecordIDKey();

    // Published, in streaming order.
    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& Value) { FFieldName = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    // The field's size in the record image.
    Integer FieldSize() const { return FFieldSize; }
    void SetFieldSize(Integer Value) { FFieldSize = Value; }
    bool CaseInsensitive() const { return FCaseInsensitive; }
    void SetCaseInsensitive(bool Value) { FCaseInsensitive = Value; }
    bool Descending() const { return FDescending; }
    void SetDescending(bool Value) { FDescending = Value; }
    bool IsVariable() const { return FIsVariable; }
    void SetIsVariable(bool Value) { FIsVariable = Value; }
    // The field's DataOffset in the record image.
    Integer RecBufOffset() const { return FRecBufOffset; }
    void SetRecBufOffset(Integer Value) { FRecBufOffset = Value; }
    Integer NullFlagOffset() const { return FNullFlagOffset; }
    void SetNullFlagOffset(Integer Value) { FNullFlagOffset = Value; }
    // 0 for a field without a size marker.
    Integer SizeMarkerOffset() const { return FSizeMarkerOffset; }
    void SetSizeMarkerOffset(Integer Value) { FSizeMarkerOffset = Value; }
    Integer PhysicalFieldNo() const { return FPhysicalFieldNo; }
    void SetPhysicalFieldNo(Integer Value) { FPhysicalFieldNo = Value; }
    // The index this key field belongs to.
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& Value) { FIndexName = Value; }
    // A field the engine appends (the record ID), not named by the user.
    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    // The position within its index.
    Integer KeyIndex() const { return FKeyIndex; }
    void SetKeyIndex(Integer Value) { FKeyIndex = Value; }

private:
    std::string FFieldName;
    TFieldType FDataType = ftUnknown;
    Integer FFieldSize = 0;
    bool FCaseInsensitive = false;
    bool FDescending = false;
    bool FIsVariable = false;
    Integer FRecBufOffset = 0;
    Integer FNullFlagOffset = 0;
    Integer FSizeMarkerOffset = 0;
    Integer FPhysicalFieldNo = 0;
    std::string FIndexName;
    bool FHidden = false;
    Integer FKeyIndex = 0;
};

// The key fields of all indexes of a table, or of one index. DataOffset is
// the number of null-flag bytes at the start of a key's data area.
class TKeyFields : public TCollection {
public:
    TKeyFields();

    TKeyFieldItem* Add() { return static_cast<TKeyFieldItem*>(TCollection::Add()); }
    TKeyFieldItem* GetItems(int Index) const { return static_cast<TKeyFieldItem*>(Items(Index)); }
    void SetItems(int Index, TKeyFieldItem* Value) { GetItems(Index)->Assign(Value); }
    // The first item whose FieldName equals Name ignoring case; nullptr when none.
    TKeyFieldItem* FindField(const std::string& Name) const;
    // The number of items whose IndexName equals IndexName ignoring case.
    Integer FindFieldCountForIndex(const std::string& IndexName) const;
    // From another TKeyFields: item by item, and DataOffset. Any other
    // source goes to the collection's assignment.
    void Assign(TPersistent* Source) override;

    Integer DataOffset() const { return FDataOffset; }
    void SetDataOffset(Integer Value) { FDataOffset = Value; }

private:
    Integer FDataOffset = 0;
};

// 10 + the core size of each key field's type + the declared FieldSize of
// each string and wide-string key field (without the null-flag bytes). A
// key field of a type that keys cannot hold raises 10117 with its name.
Integer CalculateMaximumKeySize(const TKeyFields* KeyFields);

// ------------------------------------------------------ TOptimizedSearchKey

// A search key taken apart once, so that the binary search of a page does
// not decode it again for every entry: for each of up to 32 key fields its
// value (a string's characters are referred to, not copied: the record or
// key it came from must outlive the use), its data size, its comparison
// marker (the field's flag with bit 7 cleared, minus 1: -1, 0 or +1) and
// the null-flag bits in the key's order.
class TOptimizedSearchKey : public TObject {
public:
    static constexpr int MaxKeyFields = 32;
    static constexpr int NullFlagBytes = MaxKeyFields / 8;

    // Clear every slot, then fill one per key field (the first 32) from the
    // record image (its null flag, size marker and offsets) or from a key
    // (its null bits and packed data); markers come from Flags. A string's
    // size marker is taken at most as the field's size.
    void SetDataFromRecBuf(const TKeyFields* KeyFields, const TKeyComparisonFlags& Flags,
                           const Byte* RecBuf);
    void SetDataFromKeyBuf(const TKeyFields* KeyFields, const TKeyComparisonFlags& Flags,
                           const Byte* Key);
    // No key fields, no values.
    void Clear();

    // The value of key field Index: the 8-byte slot holding it, or a
    // string's characters.
    const Byte* GetData(int Index) const;
    Integer GetDataSize(int Index) const { return FSlots[Index].Size; }
    Integer GetComparisonMarker(int Index) const { return FSlots[Index].Marker; }
    Byte GetNullFlags(int Index) const { return FNullFlags[Index]; }
    // Whether key field Index has a value.
    bool HasValue(int Index) const;
    // The number of key fields filled (at most 32).
    int FieldCount() const { return FFieldCount; }

private:
    struct TSlot {
        Byte Value[8];
        const Byte* Chars; // strings: the characters in the record or key
        Integer Size;
        Integer Marker;
    };
    void Reset(const TKeyFields* KeyFields, const TKeyComparisonFlags& Flags);

    std::array<TSlot, MaxKeyFields> FSlots{};
    std::array<Byte, NullFlagBytes> FNullFlags{};
    int FFieldCount = 0;
};

// --------------------------------------------------------------- TIndexKeys

// The keys of one open index and their routines (see the unit comment).
// The three key buffers hold MaximumKeySize + 1 bytes each.
class TIndexKeys : public TObject {
public:
    TIndexKeys();
    ~TIndexKeys() override;

    // The key fields (owned) of the index; their DataOffset is the key's
    // number of null-flag bytes.
    TKeyFields* KeyFields() const { return FKeyFields.get(); }
    Integer MaximumKeySize() const { return FMaximumKeySize; }
    // Reallocates the three key buffers, zeroed.
    void SetMaximumKeySize(Integer Value);
    TDBStringCompare DBStringCompare() const { return FDBStringCompare; }
    void SetDBStringCompare(TDBStringCompare Value) { FDBStringCompare = Value; }

    // Refuses key fields that keys cannot hold (10117), too few null-flag
    // bytes for the key fields (8581 "KeyBuffers invalid") and a maximum key
    // size below what the key fields need (8581 "Invalid key size: ").
    void CheckKeyFields() const;

    // The search key, the temporary key and the read buffer for entries.
    Byte* KeyBuf() { return FKeyBuf.data(); }
    Byte* TempKeyBuf() { return FTempKeyBuf.data(); }
    Byte* ReadKeyBuf() { return FReadKeyBuf.data(); }
    // The search key's comparison flags, one per key field.
    const TKeyComparisonFlags& KeyFlags() const { return FKeyFlags; }
    const TOptimizedSearchKey& OptimizedKey() const { return FOptimizedKey; }
    // Stores a record address into the search key's Address word.
    void SetKeyBufAddr(Cardinal Address);

    // The search key from a record image, with Flags, and the optimized key.
    void ConstructKeyBufFromRecBuf(const Byte* RecBuf, const TKeyComparisonFlags& Flags);
    // A key from a record image into the temporary buffer, then its
    // MaximumKeySize bytes into Target. The search key and its flags stay.
    void ConstructTempKeyBufFromRecBuf(Byte* Target, const Byte* RecBuf,
                                       const TKeyComparisonFlags& Flags);
    // The search key as a copy of Key (8581 "SrcBuf is unassigned" for
    // nullptr), with Flags, and the optimized key.
    void ConstructKeyBufFromKeyBuf(const Byte* Key, const TKeyComparisonFlags& Flags);
    // The search key from one value (key field 0) or a variant array (its
    // elements in key-field order); missing values and Null are null. A
    // string longer than its field raises 8581 "Field data length is out of
    // range"; a key field of another type than those keys hold raises 8581.
    void ConstructKeyBufFromVariants(const Variant& Values, const TKeyComparisonFlags& Flags);

    // Negative when Key1 sorts before Key2, 0 when equal, positive after,
    // over FieldCount key fields (all for 0 or less). Flags1 and Flags2 are
    // the comparison flags of the two keys.
    Integer CompareKeys(Integer FieldCount, const TKeyComparisonFlags& Flags1,
                        const TKeyComparisonFlags& Flags2, const Byte* Key1, const Byte* Key2) const;
    // CompareKeys of the search key (with its flags) and Entry, through the
    // optimized key.
    Integer CompareToOptimizedKey(Integer FieldCount, const Byte* Entry) const;

    // One line per key field: "NULL", a string's characters, numbers as
    // decimal text, Booleans "False"/"True". NullFlags points at the
    // null-flag bytes to use (nullptr: the key's own). A key whose length
    // word exceeds MaximumKeySize raises 8581 "Invalid key size: ".
    void DecodeKeyBufAsStrings(const Byte* Key, const Byte* NullFlags, TStrings* Lines);
    // DecodeKeyBufAsStrings of the key built from a record image.
    void DecodeRecKeyBufAsStrings(const Byte* RecBuf, TStrings* Lines);

private:
    void BuildKeyFromRecBuf(Byte* Key, const Byte* RecBuf) const;
    void SetKeyFlags(const TKeyComparisonFlags& Flags);
    Integer FieldCountFor(Integer FieldCount) const;

    std::unique_ptr<TKeyFields> FKeyFields;
    Integer FMaximumKeySize = 0;
    std::vector<Byte> FKeyBuf;
    std::vector<Byte> FTempKeyBuf;
    std::vector<Byte> FReadKeyBuf;
    TKeyComparisonFlags FKeyFlags;
    TOptimizedSearchKey FOptimizedKey;
    TDBStringCompare FDBStringCompare = nullptr;
};

} // namespace orvex
