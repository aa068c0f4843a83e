// Building, comparing and decoding keys; the optimized search key.

#include "storage/vekIndexUnit.h"

#include "host/SysUtils.h"
#include "platform/CodePage.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekDataUnit.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace orvex {

namespace {

constexpr bool IsStringKey(TFieldType DataType)
{
    return DataType == ftString || DataType == ftWideString;
}

bool KeyNullBit(const Byte* NullFlags, int Index)
{
    return (NullFlags[Index / 8] & (0x80 >> (Index % 8))) != 0;
}

// The comparison flag of key field Index: its entry, or 1 without one.
Integer FlagOf(const TKeyComparisonFlags& Flags, int Index)
{
    return Index < static_cast<int>(Flags.size()) ? Flags[Index] : kcfNormal;
}

// The bytes a value of a fixed-size key type occupies when compared (0 for
// strings and for types keys cannot hold).
Integer ComparedWidth(TFieldType DataType)
{
    return IsIndexableFieldType(DataType) && !IsStringKey(DataType) ? CalculateCoreDataSize(DataType) : 0;
}

template <class T>
int CompareOrdered(T A, T B)
{
    return A < B ? -1 : (A > B ? 1 : 0);
}

// The size of a string's value in a record image: its size marker (when it
// has one) taken at most as the field's size, so that a corrupt marker never
// reads past the field; else the field's size.
Integer RecordValueSize(const TKeyFieldItem* Field, const Byte* RecBuf)
{
    if (Field->SizeMarkerOffset() < 1)
        return Field->FieldSize();
    return std::min<Integer>(ReadLE16(RecBuf + Field->SizeMarkerOffset()), Field->FieldSize());
}

// One key field's value as stored in a key.
struct TKeyValue {
    const Byte* Data;
    Integer Size; // bytes of the value (a string's length)
    Integer Span; // bytes it occupies in the key
};

// Reads the value of Field at Pos of Key; a value that would leave the
// KeySize bytes of the key raises 8581 with Text (and the size needed).
TKeyValue ReadKeyValue(const TKeyFieldItem* Field, const Byte* Key, Integer Pos, Integer KeySize,
                       const char* Context, const char* Text)
{
    TKeyValue value{};
    if (IsStringKey(Field->DataType())) {
        if (Pos + 2 > KeySize)
            VekDatabaseError(8581, Context, Text + IntToStr(Pos + 2), nullptr);
        value.Size = ReadLE16(Key + Pos);
        value.Data = Key + Pos + 2;
        value.Span = 2 + value.Size;
    } else {
        value.Data = Key + Pos;
        value.Size = Field->FieldSize();
        value.Span = Field->FieldSize();
    }
    const Integer needed = Pos + std::max(value.Span, ComparedWidth(Field->DataType()));
    if (needed > KeySize)
        VekDatabaseError(8581, Context, Text + IntToStr(needed), nullptr);
    return value;
}

// The order of two present values of Field by its type.
int CompareValues(const TKeyFieldItem* Field, TDBStringCompare StringCompare, const Byte* A,
                  Integer LenA, const Byte* B, Integer LenB, const char* Context,
                  const char* UnknownTypeText)
{
    switch (Field->DataType()) {
    case ftString:
        if (StringCompare == nullptr)
            VekDatabaseError(8581, Context, "No sort order function assigned", nullptr);
        return StringCompare(A, B, LenA, LenB, Field->CaseInsensitive(), false);
    case ftWideString:
        return DBCompareWideStrings(A, B, LenA, LenB, Field->CaseInsensitive(), false);
    case ftSmallint:
        return CompareOrdered(static_cast<SmallInt>(ReadLE16(A)), static_cast<SmallInt>(ReadLE16(B)));
    case ftWord:
        return CompareOrdered(ReadLE16(A), ReadLE16(B));
    case ftInteger:
    case ftAutoInc:
        return CompareOrdered(static_cast<Integer>(ReadLE32(A)), static_cast<Integer>(ReadLE32(B)));
    case ftBoolean:
        return CompareOrdered(A[0], B[0]);
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return CompareReals(ReadLEDouble(A), ReadLEDouble(B));
    default:
        VekDatabaseError(8581, Context, UnknownTypeText + FieldTypeName(Field->DataType()), nullptr);
    }
}

// Writes key data at Pos and moves Pos on; data that would leave the
// MaxKeySize bytes of the key raises 8581 "Invalid key size: ".
class TKeyWriter {
public:
    TKeyWriter(Byte* Key, Integer MaxKeySize, Integer DataOffset, const char* Context)
        : FKey(Key), FMaxKeySize(MaxKeySize), FDataOffset(DataOffset), FPos(KeyInfoSize + DataOffset),
          FContext(Context)
    {
        Reserve(0);
    }

    // Room for Size bytes at the current position, which moves past them.
    Byte* Reserve(Integer Size)
    {
        if (FPos + Size > FMaxKeySize)
            VekDatabaseError(8581, FContext, "Invalid key size: " + IntToStr(FPos + Size), nullptr);
        Byte* p = FKey + FPos;
        FPos += Size;
        return p;
    }
    void PutBytes(const Byte* Data, Integer Size)
    {
        Byte* p = Reserve(Size);
        if (Size > 0)
            std::memcpy(p, Data, static_cast<std::size_t>(Size));
    }
    void PutLength(Integer Size) { WriteLE16(Reserve(2), static_cast<Word>(Size)); }
    // Marks key field Index as having a value.
    void SetHasValue(int Index)
    {
        if (Index / 8 >= FDataOffset)
            VekDatabaseError(8581, FContext, "KeyBuffers invalid", nullptr);
        FKey[KeyInfoSize + Index / 8] |= static_cast<Byte>(0x80 >> (Index % 8));
    }
    void Finish() { WriteLE16(FKey + kioLength, static_cast<Word>(FMaxKeySize)); }

private:
    Byte* FKey;
    Integer FMaxKeySize;
    Integer FDataOffset;
    Integer FPos;
    const char* FContext;
};

// A fixed-size value of Width bytes (little-endian) into a field's span of
// FieldSize bytes.
void PutFixed(TKeyWriter& Writer, Integer FieldSize, std::uint64_t Value, Integer Width)
{
    Byte* p = Writer.Reserve(FieldSize);
    std::memset(p, 0, static_cast<std::size_t>(std::max<Integer>(FieldSize, 0)));
    for (Integer i = 0; i < std::min(Width, FieldSize); ++i)
        p[i] = static_cast<Byte>(Value >> (8 * i));
}

void PutVariant(TKeyWriter& Writer, const TKeyFieldItem* Field, const Variant& Value)
{
    const char* context = "TBTree.ConstructKeyBufFromVariants";
    switch (Field->DataType()) {
    case ftString: {
        const std::string text = Value.AsString();
        if (static_cast<Integer>(text.size()) > Field->FieldSize())
            VekDatabaseError(8581, context, "Field data length is out of range", nullptr);
        Writer.PutLength(static_cast<Integer>(text.size()));
        Writer.PutBytes(reinterpret_cast<const Byte*>(text.data()), static_cast<Integer>(text.size()));
        break;
    }
    case ftWideString: {
        const std::u16string text = Win1252ToUtf16(Value.AsString());
        const Integer size = static_cast<Integer>(text.size() * 2);
        if (size > Field->FieldSize())
            VekDatabaseError(8581, context, "Field data length is out of range", nullptr);
        Writer.PutLength(size);
        Byte* p = Writer.Reserve(size);
        for (std::size_t i = 0; i < text.size(); ++i)
            WriteLE16(p + 2 * i, static_cast<Word>(text[i]));
        break;
    }
    case ftSmallint:
        PutFixed(Writer, Field->FieldSize(), static_cast<Word>(Value.AsSmallint()), 2);
        break;
    case ftWord: {
        const int number = Value.AsInteger();
        if (number < 0 || number > 0xFFFF)
            throw EVariantError(SInvalidVarCast);
        PutFixed(Writer, Field->FieldSize(), static_cast<Word>(number), 2);
        break;
    }
    case ftInteger:
    case ftAutoInc:
        PutFixed(Writer, Field->FieldSize(), static_cast<Cardinal>(Value.AsInteger()), 4);
        break;
    case ftBoolean:
        // As the dataset stores a Boolean from a value: the low byte of its
        // integer (-1 for True).
        PutFixed(Writer, Field->FieldSize(), static_cast<Byte>(Value.AsInteger()), 1);
        break;
    case ftFloat:
    case ftCurrency:
        PutFixed(Writer, Field->FieldSize(), std::bit_cast<std::uint64_t>(Value.AsDouble()), 8);
        break;
    case ftDate:
    case ftTime:
    case ftDateTime:
        PutFixed(Writer, Field->FieldSize(), std::bit_cast<std::uint64_t>(Value.AsDateTime()), 8);
        break;
    default:
        VekDatabaseError(8581, context, "Field type not found: " + FieldTypeName(Field->DataType()),
                         nullptr);
    }
}

std::string ValueAsText(const TKeyFieldItem* Field, const TKeyValue& Value)
{
    const Byte* p = Value.Data;
    switch (Field->DataType()) {
    case ftString:
        return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(Value.Size));
    case ftWideString: {
        std::u16string text(static_cast<std::size_t>(Value.Size / 2), u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(ReadLE16(p + 2 * i));
        return Utf16ToWin1252(text);
    }
    case ftSmallint:
        return IntToStr(static_cast<SmallInt>(ReadLE16(p)));
    case ftWord:
        return IntToStr(ReadLE16(p));
    case ftInteger:
    case ftAutoInc:
        return IntToStr(static_cast<Integer>(ReadLE32(p)));
    case ftBoolean:
        return p[0] != 0 ? "True" : "False";
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return FloatToStr(ReadLEDouble(p));
    default:
        VekDatabaseError(8581, "TBTree.DecodeKeyBufAsStrings",
                         "Field type not found: " + FieldTypeName(Field->DataType()), nullptr);
    }
}

} // namespace

// ====================================================== TOptimizedSearchKey

void TOptimizedSearchKey::Reset(const TKeyFields* KeyFields, const TKeyComparisonFlags& Flags)
{
    Clear();
    FFieldCount = std::min(KeyFields->Count(), MaxKeyFields);
    for (int i = 0; i < FFieldCount; ++i)
        FSlots[i].Marker = (FlagOf(Flags, i) & 0x7F) - 1;
}

void TOptimizedSearchKey::Clear()
{
    FSlots = {};
    FNullFlags = {};
    FFieldCount = 0;
}

void TOptimizedSearchKey::SetDataFromRecBuf(const TKeyFields* KeyFields,
                                            const TKeyComparisonFlags& Flags, const Byte* RecBuf)
{
    Reset(KeyFields, Flags);
    for (int i = 0; i < FFieldCount; ++i) {
        const TKeyFieldItem* field = KeyFields->GetItems(i);
        if (RecBuf[field->NullFlagOffset()] != 1)
            continue;
        FNullFlags[i / 8] |= static_cast<Byte>(0x80 >> (i % 8));
        TSlot& slot = FSlots[i];
        if (IsStringKey(field->DataType())) {
            slot.Size = RecordValueSize(field, RecBuf);
            slot.Chars = RecBuf + field->RecBufOffset();
        } else {
            slot.Size = field->FieldSize();
            std::memcpy(slot.Value, RecBuf + field->RecBufOffset(),
                        static_cast<std::size_t>(std::clamp<Integer>(slot.Size, 0, 8)));
        }
    }
}

void TOptimizedSearchKey::SetDataFromKeyBuf(const TKeyFields* KeyFields,
                                            const TKeyComparisonFlags& Flags, const Byte* Key)
{
    Reset(KeyFields, Flags);
    const Byte* nullFlags = Key + KeyInfoSize;
    std::memcpy(FNullFlags.data(), nullFlags,
                static_cast<std::size_t>(std::clamp<Integer>(KeyFields->DataOffset(), 0, NullFlagBytes)));
    const Byte* p = nullFlags + KeyFields->DataOffset();
    for (int i = 0; i < FFieldCount; ++i) {
        if (!HasValue(i))
            continue;
        const TKeyFieldItem* field = KeyFields->GetItems(i);
        TSlot& slot = FSlots[i];
        if (IsStringKey(field->DataType())) {
            slot.Size = ReadLE16(p);
            slot.Chars = p + 2;
            p += 2 + slot.Size;
        } else {
            slot.Size = field->FieldSize();
            std::memcpy(slot.Value, p, static_cast<std::size_t>(std::clamp<Integer>(slot.Size, 0, 8)));
            p += slot.Size;
        }
    }
}

const Byte* TOptimizedSearchKey::GetData(int Index) const
{
    const TSlot& slot = FSlots[Index];
    return slot.Chars != nullptr ? slot.Chars : slot.Value;
}

bool TOptimizedSearchKey::HasValue(int Index) const
{
    return KeyNullBit(FNullFlags.data(), Index);
}

// =============================================================== TIndexKeys

TIndexKeys::TIndexKeys() : FKeyFields(std::make_unique<TKeyFields>())
{
    SetMaximumKeySize(0);
}

TIndexKeys::~TIndexKeys() = default;

void TIndexKeys::SetMaximumKeySize(Integer Value)
{
    FMaximumKeySize = Value;
    const std::size_t size = static_cast<std::size_t>(std::max<Integer>(Value, 0)) + 1;
    FKeyBuf.assign(size, 0);
    FTempKeyBuf.assign(size, 0);
    FReadKeyBuf.assign(size, 0);
    // The optimized key may refer to the old search key.
    FOptimizedKey.Clear();
}

void TIndexKeys::CheckKeyFields() const
{
    const Integer needed = CalculateMaximumKeySize(FKeyFields.get()) + FKeyFields->DataOffset();
    if (FKeyFields->DataOffset() * 8 < FKeyFields->Count())
        VekDatabaseError(8581, "TIndexKeys.CheckKeyFields", "KeyBuffers invalid", nullptr);
    if (FMaximumKeySize < needed)
        VekDatabaseError(8581, "TIndexKeys.CheckKeyFields", "Invalid key size: " + IntToStr(FMaximumKeySize),
                         nullptr);
}

void TIndexKeys::SetKeyBufAddr(Cardinal Address)
{
    if (FKeyBuf.size() >= static_cast<std::size_t>(kioAddress + 4))
        WriteLE32(FKeyBuf.data() + kioAddress, Address);
}

void TIndexKeys::SetKeyFlags(const TKeyComparisonFlags& Flags)
{
    FKeyFlags.assign(static_cast<std::size_t>(FKeyFields->Count()), kcfNormal);
    for (std::size_t i = 0; i < FKeyFlags.size() && i < Flags.size(); ++i)
        FKeyFlags[i] = Flags[i];
}

Integer TIndexKeys::FieldCountFor(Integer FieldCount) const
{
    return FieldCount >= 1 ? std::min<Integer>(FieldCount, FKeyFields->Count()) : FKeyFields->Count();
}

void TIndexKeys::BuildKeyFromRecBuf(Byte* Key, const Byte* RecBuf) const
{
    std::memset(Key, 0, static_cast<std::size_t>(FMaximumKeySize) + 1);
    TKeyWriter writer(Key, FMaximumKeySize, FKeyFields->DataOffset(), "TBTree.ConstructKeyBufFromRecBuf");
    for (int i = 0; i < FKeyFields->Count(); ++i) {
        const TKeyFieldItem* field = FKeyFields->GetItems(i);
        if (RecBuf[field->NullFlagOffset()] != 1)
            continue;
        const Integer size = RecordValueSize(field, RecBuf);
        if (IsStringKey(field->DataType()))
            writer.PutLength(size);
        writer.PutBytes(RecBuf + field->RecBufOffset(), size);
        writer.SetHasValue(i);
    }
    writer.Finish();
}

void TIndexKeys::ConstructKeyBufFromRecBuf(const Byte* RecBuf, const TKeyComparisonFlags& Flags)
{
    BuildKeyFromRecBuf(FKeyBuf.data(), RecBuf);
    SetKeyFlags(Flags);
    // Taken apart from the search key itself, so that it does not refer to
    // the caller's record after the call.
    FOptimizedKey.SetDataFromKeyBuf(FKeyFields.get(), FKeyFlags, FKeyBuf.data());
}

void TIndexKeys::ConstructTempKeyBufFromRecBuf(Byte* Target, const Byte* RecBuf,
                                               const TKeyComparisonFlags& Flags)
{
    static_cast<void>(Flags); // the search key's flags belong to the search key
    BuildKeyFromRecBuf(FTempKeyBuf.data(), RecBuf);
    std::memcpy(Target, FTempKeyBuf.data(), static_cast<std::size_t>(FMaximumKeySize));
}

void TIndexKeys::ConstructKeyBufFromKeyBuf(const Byte* Key, const TKeyComparisonFlags& Flags)
{
    const char* context = "TBTree.ConstructKeyBufFromKeyBuf";
    if (Key == nullptr)
        VekDatabaseError(8581, context, "SrcBuf is unassigned", nullptr);
    if (ReadLE16(Key + kioLength) > FMaximumKeySize)
        VekDatabaseError(8581, context, "Invalid key size: " + IntToStr(ReadLE16(Key + kioLength)), nullptr);
    std::memmove(FKeyBuf.data(), Key, static_cast<std::size_t>(FMaximumKeySize));
    // A key read from a page is walked once here, so that a damaged length
    // is refused before the optimized key refers past it.
    Integer pos = KeyInfoSize + FKeyFields->DataOffset();
    for (int i = 0; i < FKeyFields->Count(); ++i)
        if (KeyNullBit(FKeyBuf.data() + KeyInfoSize, i))
            pos += ReadKeyValue(FKeyFields->GetItems(i), FKeyBuf.data(), pos, FMaximumKeySize, context,
                                "Invalid key size: ")
                       .Span;
    SetKeyFlags(Flags);
    FOptimizedKey.SetDataFromKeyBuf(FKeyFields.get(), FKeyFlags, FKeyBuf.data());
}

void TIndexKeys::ConstructKeyBufFromVariants(const Variant& Values, const TKeyComparisonFlags& Flags)
{
    Byte* key = FKeyBuf.data();
    std::memset(key, 0, FKeyBuf.size());
    TKeyWriter writer(key, FMaximumKeySize, FKeyFields->DataOffset(), "TBTree.ConstructKeyBufFromVariants");
    int valueCount = 1;
    int lowBound = 0;
    if (VarIsArray(Values)) {
        lowBound = Values.ArrayLowBound();
        valueCount = Values.ArrayHighBound() - lowBound + 1;
    }
    for (int i = 0; i < FKeyFields->Count() && i < valueCount; ++i) {
        const Variant value = VarIsArray(Values) ? Values.GetElement(lowBound + i) : Values;
        if (VarIsNull(value))
            continue;
        PutVariant(writer, FKeyFields->GetItems(i), value);
        writer.SetHasValue(i);
    }
    writer.Finish();
    SetKeyFlags(Flags);
    FOptimizedKey.SetDataFromKeyBuf(FKeyFields.get(), FKeyFlags, FKeyBuf.data());
}

Integer TIndexKeys::CompareKeys(Integer FieldCount, const TKeyComparisonFlags& Flags1,
                                const TKeyComparisonFlags& Flags2, const Byte* Key1,
                                const Byte* Key2) const
{
    const char* context = "TBTree.CompareKeys";
    if (ReadLE16(Key1 + kioLength) > FMaximumKeySize || ReadLE16(Key2 + kioLength) > FMaximumKeySize)
        VekDatabaseError(8581, context, "KeySize out of range", nullptr);
    const Integer n = FieldCountFor(FieldCount);
    Integer pos1 = KeyInfoSize + FKeyFields->DataOffset();
    Integer pos2 = pos1;
    for (int i = 0; i < n; ++i) {
        // A flag of the first key decides on its own, without the
        // Descending rule.
        if (i < static_cast<int>(Flags1.size())) {
            const Integer result = Flags1[i] - FlagOf(Flags2, i);
            if (result != 0)
                return result;
        }
        const TKeyFieldItem* field = FKeyFields->GetItems(i);
        const bool has1 = KeyNullBit(Key1 + KeyInfoSize, i);
        const bool has2 = KeyNullBit(Key2 + KeyInfoSize, i);
        Integer result = static_cast<Integer>(has1) - static_cast<Integer>(has2);
        if (has1 && has2) {
            const TKeyValue v1 = ReadKeyValue(field, Key1, pos1, FMaximumKeySize, context, "KeySize out of range: ");
            const TKeyValue v2 = ReadKeyValue(field, Key2, pos2, FMaximumKeySize, context, "KeySize out of range: ");
            result = CompareValues(field, FDBStringCompare, v1.Data, v1.Size, v2.Data, v2.Size, context,
                                   "Field type not found: ");
            pos1 += v1.Span;
            pos2 += v2.Span;
        } else if (has1) {
            pos1 += ReadKeyValue(field, Key1, pos1, FMaximumKeySize, context, "KeySize out of range: ").Span;
        } else if (has2) {
            pos2 += ReadKeyValue(field, Key2, pos2, FMaximumKeySize, context, "KeySize out of range: ").Span;
        }
        if (field->Descending())
            result = -result;
        if (result != 0)
            return result;
    }
    return 0;
}

Integer TIndexKeys::CompareToOptimizedKey(Integer FieldCount, const Byte* Entry) const
{
    const char* context = "TBTree.CompareToOptimizedKey";
    const Integer size = ReadLE16(Entry + kioLength);
    if (size > FMaximumKeySize)
        VekDatabaseError(8581, context, "Invalid key size: " + IntToStr(size), nullptr);
    const Integer n = FieldCountFor(FieldCount);
    // The optimized key holds the first 32 key fields; a longer key compares
    // in full.
    if (n > FOptimizedKey.FieldCount())
        return CompareKeys(n, FKeyFlags, {}, FKeyBuf.data(), Entry);
    Integer pos = KeyInfoSize + FKeyFields->DataOffset();
    for (int i = 0; i < n; ++i) {
        const Integer marker = FOptimizedKey.GetComparisonMarker(i);
        if (marker != 0)
            return marker;
        const TKeyFieldItem* field = FKeyFields->GetItems(i);
        const bool has1 = FOptimizedKey.HasValue(i);
        const bool has2 = KeyNullBit(Entry + KeyInfoSize, i);
        Integer result = static_cast<Integer>(has1) - static_cast<Integer>(has2);
        if (has2) {
            const TKeyValue v2 = ReadKeyValue(field, Entry, pos, FMaximumKeySize, context, "Invalid key size: ");
            if (has1)
                result = CompareValues(field, FDBStringCompare, FOptimizedKey.GetData(i),
                                       FOptimizedKey.GetDataSize(i), v2.Data, v2.Size, context,
                                       "Field type not found in KeyBufCompare: ");
            pos += v2.Span;
        }
        if (field->Descending())
            result = -result;
        if (result != 0)
            return result;
    }
    return 0;
}

void TIndexKeys::DecodeKeyBufAsStrings(const Byte* Key, const Byte* NullFlags, TStrings* Lines)
{
    const char* context = "TBTree.DecodeKeyBufAsStrings";
    const Integer size = ReadLE16(Key + kioLength);
    if (size > FMaximumKeySize)
        VekDatabaseError(8581, context, "Invalid key size: " + IntToStr(size), nullptr);
    if (NullFlags == nullptr)
        NullFlags = Key + KeyInfoSize;
    Integer pos = KeyInfoSize + FKeyFields->DataOffset();
    for (int i = 0; i < FKeyFields->Count(); ++i) {
        if (!KeyNullBit(NullFlags, i)) {
            Lines->Add("NULL");
            continue;
        }
        const TKeyFieldItem* field = FKeyFields->GetItems(i);
        const TKeyValue value = ReadKeyValue(field, Key, pos, FMaximumKeySize, context, "Invalid key size: ");
        Lines->Add(ValueAsText(field, value));
        pos += value.Span;
    }
}

void TIndexKeys::DecodeRecKeyBufAsStrings(const Byte* RecBuf, TStrings* Lines)
{
    BuildKeyFromRecBuf(FTempKeyBuf.data(), RecBuf);
    DecodeKeyBufAsStrings(FTempKeyBuf.data(), nullptr, Lines);
}

} // namespace orvex
