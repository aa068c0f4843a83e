#pragma once
// Fields, record images, blob states and the record manager.
//
// A table's records are fixed-size byte images. TInternalFields describes the
// physical fields of such an image; SetDefaultOffsets lays them out:
//
//   offset       size  content
//   0            14    record prefix: byte 0 status (1 in use), byte 1 always 0,
//                      bytes 2-5 owner tag, bytes 6-9 record ID (the logical
//                      record number), bytes 10-13 modification counter
//   14 + i       1     null flag of the field at collection position i:
//                      1 when the field holds a value, anything else is null
//   14 + n       ...   the fields in collection order; a string field has a
//                      16-bit size marker right before its data
//
// All numbers are little-endian. FieldIndex is a field's stable logical
// number; its position in the collection is its physical position in the
// image. After Open a list maps each FieldIndex 0 .. Count - 1 to its
// position (GetField).

#include "host/Classes.h"
#include "host/DB.h"
#include "host/System.h"
#include "storage/vekConsts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orvex {

class TBaseIOInterface;

// The record prefix in front of the null flags.
inline constexpr Integer RecordPrefixSize = 14;
// Byte offsets inside the prefix.
inline constexpr Integer rpoStatus = 0;
inline constexpr Integer rpoUnused = 1;
inline constexpr Integer rpoOwnerTag = 2;
inline constexpr Integer rpoRecordID = 6;
inline constexpr Integer rpoModCounter = 10;
// A field list describes at most this many fields.
inline constexpr Integer MaxInternalFields = 256;
// A blob reference in a record: u32 address of the first block, u32 length.
inline constexpr Integer BlobReferenceSize = 8;

// Whether DataType is one of the blob types (ftBlob, ftMemo, ftGraphic,
// ftFmtMemo).
constexpr bool IsBlobFieldType(TFieldType DataType)
{
    return DataType >= ftBlob && DataType <= ftFmtMemo;
}

// The framework's name of a field type ("Integer"), or its ordinal as text
// for a value outside the framework's list; for error texts.
std::string FieldTypeName(TFieldType DataType);
// The identifiers of the field types ("ftUnknown" .. "ftGuid"), by ordinal:
// how streamed definitions name a field's type.
const std::vector<std::string>& FieldTypeIdentifiers();

// ------------------------------------------------------- TInternalFieldItem

// The physical description of one field of a record image.
class TInternalFieldItem : public TCollectionItem {
public:
    explicit TInternalFieldItem(TCollection* Collection);

    // From another TInternalFieldItem: all sixteen properties. Any other
    // source goes to the inherited assignment.
    void Assign(TPersistent* Source) override;
    // The fourteen published properties below, in their order.
    void PublishProperties(TPropertyList& List) override;

    // Characters a value may hold: FieldSize - 1 for a string (one byte is
    // the terminator), (FieldSize - 2) div 2 for a wide string, FieldSize
    // for any other type.
    Integer GetWriteableFieldSize() const;

    // Published, in streaming order.
    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& Value) { FFieldName = Value; }
    Integer FieldNo() const { return FFieldNo; }
    void SetFieldNo(Integer Value) { FFieldNo = Value; }
    Integer FieldIndex() const { return FFieldIndex; }
    void SetFieldIndex(Integer Value) { FFieldIndex = Value; }
    TFieldType DataType() const { return FDataType; }
    // Accepts the 16 storable types and gives FieldSize the type's core size
    // (0 for ftString and ftBytes, whose size the caller declares); any other
    // type raises 10000 with the type's name and leaves the item unchanged.
    void SetDataType(TFieldType Value);
    Integer FieldSize() const { return FFieldSize; }
    void SetFieldSize(Integer Value) { FFieldSize = Value; }
    Integer NumDecimalPlaces() const { return FNumDecimalPlaces; }
    void SetNumDecimalPlaces(Integer Value) { FNumDecimalPlaces = Value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    Integer SizeMarkerOffset() const { return FSizeMarkerOffset; }
    void SetSizeMarkerOffset(Integer Value) { FSizeMarkerOffset = Value; }
    Integer DataOffset() const { return FDataOffset; }
    void SetDataOffset(Integer Value) { FDataOffset = Value; }
    Integer NullFlagOffset() const { return FNullFlagOffset; }
    void SetNullFlagOffset(Integer Value) { FNullFlagOffset = Value; }
    bool IsVariable() const { return FIsVariable; }
    void SetIsVariable(bool Value) { FIsVariable = Value; }
    Integer FieldGeneratorID() const { return FFieldGeneratorID; }
    void SetFieldGeneratorID(Integer Value) { FFieldGeneratorID = Value; }
    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    // Stored only: values are always kept uncompressed.
    TDataCompressionMode CompressionMode() const { return FCompressionMode; }
    void SetCompressionMode(TDataCompressionMode Value) { FCompressionMode = Value; }

    // Not published.
    // The field this one was taken from (query field lists).
    const std::string& SourceField() const { return FSourceField; }
    void SetSourceField(const std::string& Value) { FSourceField = Value; }
    Integer PrivilegeFlags() const { return FPrivilegeFlags; }
    void SetPrivilegeFlags(Integer Value) { FPrivilegeFlags = Value; }

private:
    std::string FFieldName;
    Integer FFieldNo = 0;
    Integer FFieldIndex = 0;
    TFieldType FDataType = ftUnknown;
    Integer FFieldSize = 0;
    Integer FNumDecimalPlaces = 0;
    bool FRequired = false;
    Integer FSizeMarkerOffset = 0;
    Integer FDataOffset = 0;
    Integer FNullFlagOffset = 0;
    bool FIsVariable = false;
    Integer FFieldGeneratorID = 0;
    bool FHidden = false;
    TDataCompressionMode FCompressionMode = dcNone;
    std::string FSourceField;
    Integer FPrivilegeFlags = 0;
};

// ---------------------------------------------------------- TInternalFields

// The physical fields of a record image, with the record's size, whether it
// holds blobs, its auto-increment field and the table from FieldIndex to
// collection position.
class TInternalFields : public TCollection {
public:
    TInternalFields();

    // A new item with a random FieldGeneratorID (0 .. 2147483646).
    TInternalFieldItem* Add();
    // The item at collection position Index.
    TInternalFieldItem* GetIndex(int Index) const
    {
        return static_cast<TInternalFieldItem*>(Items(Index));
    }
    void SetIndex(int Index, TInternalFieldItem* Value) { GetIndex(Index)->Assign(Value); }
    // The item whose FieldIndex is Index (through the table that Open
    // builds); an assertion for an index outside 0 .. Count - 1.
    TInternalFieldItem* GetField(int Index) const;
    // Entry Index of the FieldIndex table; an assertion outside 0 .. 255.
    Integer GetFieldIndexValue(int Index) const;
    // The first item whose FieldName (SourceField) equals Name ignoring case
    // by the ANSI comparison; nullptr when none does.
    TInternalFieldItem* FindField(const std::string& Name) const;
    TInternalFieldItem* FindSourceField(const std::string& Name) const;

    // Lays the fields out (see the unit comment) and sets RecordSize.
    void SetDefaultOffsets();
    // Derives UsesBlobs (once set it stays set), AutoIncFieldNo (the last
    // ftAutoInc field's FieldIndex, -1 for none) and the FieldIndex table.
    // A list of more than 256 fields, or whose FieldIndex values are not
    // exactly 0 .. Count - 1 each once, is refused with 8581 ("Invalid field
    // index" or "Field indexes degenerate") before anything changes.
    void Open();
    // Clears the items.
    void Close() { Clear(); }

    // From another TInternalFields: a copy of each item and of its table
    // entry; from anything else the collection's assignment. Either way
    // RecordSize := 0, UsesBlobs := false and AutoIncFieldNo := -1 until the
    // next Open.
    void Assign(TPersistent* Source) override;

    Integer RecordSize() const { return FRecordSize; }
    void SetRecordSize(Integer Value) { FRecordSize = Value; }
    bool UsesBlobs() const { return FUsesBlobs; }
    void SetUsesBlobs(bool Value) { FUsesBlobs = Value; }
    Integer AutoIncFieldNo() const { return FAutoIncFieldNo; }
    void SetAutoIncFieldNo(Integer Value) { FAutoIncFieldNo = Value; }

protected:
    // For descendants with their own item class.
    explicit TInternalFields(TCollectionItemClass ItemClass);

private:
    Integer FRecordSize = 0;
    bool FUsesBlobs = false;
    Integer FAutoIncFieldNo = -1;
    std::array<Integer, MaxInternalFields> FFieldIndexTable{};
};

// ------------------------------------------------------------ search fields

// A field of a locate request: whether it is a leading key field of the
// index used, and whether that key field is descending.
class TSearchFieldItem : public TInternalFieldItem {
public:
    explicit TSearchFieldItem(TCollection* Collection);

    // The base properties and, from another TSearchFieldItem, InIndex.
    // Descending stays as it was: callers that need it set it themselves.
    void Assign(TPersistent* Source) override;

    bool InIndex() const { return FInIndex; }
    void SetInIndex(bool Value) { FInIndex = Value; }
    bool Descending() const { return FDescending; }
    void SetDescending(bool Value) { FDescending = Value; }

private:
    bool FInIndex = false;
    bool FDescending = false;
};

// The fields of a locate request. Assign copies item by item through the
// search items' own assignment.
class TSearchFields : public TInternalFields {
public:
    TSearchFields();

    TSearchFieldItem* Add() { return static_cast<TSearchFieldItem*>(TInternalFields::Add()); }
    TSearchFieldItem* GetItems(int Index) const
    {
        return static_cast<TSearchFieldItem*>(Items(Index));
    }
    void SetItems(int Index, TSearchFieldItem* Value) { GetItems(Index)->Assign(Value); }
    TSearchFieldItem* FindField(const std::string& Name) const
    {
        return static_cast<TSearchFieldItem*>(TInternalFields::FindField(Name));
    }
};

// -------------------------------------------------------------------- blobs

enum TBlobState : std::uint8_t { bsNone, bsInvalid, bsValid, bsModified };
enum TRecordState : std::uint8_t { rsInvalid, rsValid, rsModified };

// The state and value of one blob field of one record. RecID is the record's
// identity (0 matches any record in FindBlob), FieldNo the field's
// FieldIndex; the value is held in the owned stream.
class TBlob : public TCollectionItem {
public:
    explicit TBlob(TCollection* Collection);
    ~TBlob() override;

    Cardinal RecID() const { return FRecID; }
    // Setting either key moves the blob in its TBlobMgr's lookup index.
    void SetRecID(Cardinal Value);
    Integer FieldNo() const { return FFieldNo; }
    void SetFieldNo(Integer Value);
    TBlobState State() const { return FState; }
    void SetState(TBlobState Value) { FState = Value; }
    TMemoryStream* BlobStream() const { return FBlobStream; }

private:
    Cardinal FRecID = 0;
    Integer FFieldNo = 0;
    TBlobState FState = bsNone;
    TMemoryStream* FBlobStream;
};

// Beside the list, an index by (RecID, FieldNo) keeps FindBlob for a given
// record constant time however many blobs the list holds (the dataset's
// blob cache holds one per record and field read). The index follows every
// add, removal and key change. The collection announces an item before the
// item is constructed and after it is destroyed, so the index knows items
// by address there and reads an item's key only at the first lookup after
// it was added or when the item itself reports a key change.
class TBlobMgr : public TCollection {
public:
    TBlobMgr();

    TBlob* Add() { return static_cast<TBlob*>(TCollection::Add()); }
    TBlob* GetItems(int Index) const { return static_cast<TBlob*>(Items(Index)); }
    void SetItems(int Index, TBlob* Value);
    // The first blob of field FieldNo and, unless RecID is 0, of record
    // RecID; nullptr when none.
    TBlob* FindBlob(Cardinal RecID, Integer FieldNo) const;
    // Every blob's State := bsInvalid.
    void InvalidateStreams();
    // bsNone for an empty list, else bsInvalid when any blob is invalid,
    // else bsModified when any is modified, else bsValid.
    TBlobState CheckBlobStates() const;

protected:
    void Notify(TCollectionItem* Item, TCollectionNotification Action) override;

private:
    friend class TBlob;
    static std::uint64_t KeyOf(Cardinal RecID, Integer FieldNo)
    {
        return (std::uint64_t{RecID} << 32) | static_cast<std::uint32_t>(FieldNo);
    }
    void IndexPending() const;
    void Unindex(TCollectionItem* Item) const;
    void KeyChanged(TBlob* Blob);
    // Items by key; more than one only when the list holds duplicates.
    mutable std::unordered_map<std::uint64_t, std::vector<TCollectionItem*>> FIndex;
    // The key each indexed item is filed under.
    mutable std::unordered_map<TCollectionItem*, std::uint64_t> FKeys;
    // Added but not yet indexed.
    mutable std::unordered_set<TCollectionItem*> FPending;
};

// --------------------------------------------------------------- TRecordMgr

// Reads, adds, updates and deletes the record images of one table through
// its record I/O interface (usage 9, not owned). Owns the field list of the
// records, the blob states of the current record and an internal copy of the
// last record read or written (for undoing an edit). Addresses are block
// addresses of the interface; a "buffer" is a record image of RecordSize
// bytes.
class TRecordMgr : public TObject {
public:
    TRecordMgr();
    ~TRecordMgr() override;

    // 8576 when RecordSize is 0. Opens the field list with this RecordSize;
    // a new zeroed internal buffer; keeps the interface; one blob state
    // (bsInvalid) for each blob field, in place of any from before.
    void Open(TBaseIOInterface* IOInterface);
    // Closes the field list, clears the blob states, frees the internal buffer.
    void Close();

    // Stores the buffer in a new block and keeps a copy; the new address.
    // Byte 1 of the prefix is written as 0 (also in Buffer).
    Cardinal AddRecord(Byte* Buffer);
    // Reads the record at Address into Buffer; KeepCopy also keeps it as the
    // internal copy and invalidates the blob states.
    void ReadRecord(Cardinal Address, Byte* Buffer, bool KeepCopy);
    // Reads the records at Addresses (best ascending) one after the other
    // into Buffer, calling Visit(I) while record I is there; a store in
    // pages reads each page once for its records. No copy is kept.
    void ReadRecords(const Cardinal* Addresses, std::size_t Count, Byte* Buffer,
                     const std::function<void(std::size_t)>& Visit);
    // Points P at the record without copying it.
    void ReadRecordByRef(Cardinal Address, void*& P);
    // Writes Buffer over the record at Address and keeps a copy. Byte 1 of
    // the prefix is written as 0 (also in Buffer).
    void UpdateRecord(Cardinal Address, Byte* Buffer);
    // Releases the record's block and invalidates the blob states.
    void DeleteRecord(Cardinal Address);
    // Copies the internal copy into Buffer (undo of an edit).
    void RestoreBufferFromInternalBuffer(Byte* Buffer) const;

    Integer RecordSize() const { return FRecordSize; }
    // Allowed only while there is no internal buffer (an assertion otherwise).
    void SetRecordSize(Integer Value);

    TInternalFields* InternalFields() const { return FInternalFields; }
    TBlobMgr* BlobMgr() const { return FBlobMgr; }
    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    // The internal copy; nullptr while closed.
    const Byte* InternalBuffer() const { return FInternalBuffer.empty() ? nullptr : FInternalBuffer.data(); }

private:
    TBaseIOInterface* CheckedInterface(const char* Context) const;
    void StoreCopy(const Byte* Buffer);

    TBlobMgr* FBlobMgr;
    TInternalFields* FInternalFields;
    std::vector<Byte> FInternalBuffer;
    TBaseIOInterface* FIOInterface = nullptr;
    Integer FRecordSize = 0;
};

} // namespace orvex
