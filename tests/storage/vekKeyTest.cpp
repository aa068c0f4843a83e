// Key fields, keys built from records, keys and values, and their comparison.

#include "host/Streaming.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnit.h"

#include "platform/CodePage.h"
#include "vekDiskTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace orvex {
namespace {

using TRecord = std::vector<Byte>;
using TKey = std::vector<Byte>;

// A column of a test table. Wide columns are string fields of the record
// whose key fields read them as 2-byte characters.
struct TColumn {
    std::string Name;
    TFieldType DataType;
    Integer Size = 0; // declared size of strings
    bool Wide = false;
};

// A key field of a test index: a column by name, or the hidden record-ID
// field for an empty name.
struct TKeySpec {
    std::string Name;
    bool Descending = false;
    bool CaseInsensitive = false;
};

// A table laid out by the field list, records written as the dataset writes
// them, and indexes over its columns.
class TTable {
public:
    explicit TTable(const std::vector<TColumn>& Columns) : FColumns(Columns)
    {
        for (const TColumn& column : Columns) {
            TInternalFieldItem* item = FFields.Add();
            item->SetFieldName(column.Name);
            item->SetDataType(column.DataType);
            if (column.DataType == ftString)
                item->SetFieldSize(column.Size);
            item->SetFieldIndex(item->Index());
        }
        FFields.SetDefaultOffsets();
        FFields.Open();
    }

    TRecord NewRecord(Cardinal RecordID = 1) const
    {
        TRecord record(static_cast<std::size_t>(FFields.RecordSize()), 0);
        record[rpoStatus] = 1;
        WriteLE32(record.data() + rpoRecordID, RecordID);
        return record;
    }

    // Stores Value in the column as the dataset does; Null clears it.
    void Put(TRecord& Record, const std::string& Name, const Variant& Value) const
    {
        const TInternalFieldItem* field = FFields.FindField(Name);
        Byte* p = Record.data() + field->DataOffset();
        if (VarIsNull(Value)) {
            Record[field->NullFlagOffset()] = 0;
            return;
        }
        Record[field->NullFlagOffset()] = 1;
        switch (field->DataType()) {
        case ftString:
            if (Column(Name).Wide) {
                const std::u16string text = Win1252ToUtf16(Value.AsString());
                for (std::size_t i = 0; i < text.size(); ++i)
                    WriteLE16(p + 2 * i, text[i]);
                WriteLE16(Record.data() + field->SizeMarkerOffset(), static_cast<Word>(2 * text.size()));
            } else {
                const std::string text = Value.AsString();
                std::memcpy(p, text.data(), text.size());
                WriteLE16(Record.data() + field->SizeMarkerOffset(), static_cast<Word>(text.size()));
            }
            break;
        case ftSmallint:
        case ftWord:
            WriteLE16(p, static_cast<Word>(Value.AsInteger()));
            break;
        case ftInteger:
        case ftAutoInc:
            WriteLE32(p, static_cast<Cardinal>(Value.AsInteger()));
            break;
        case ftBoolean:
            *p = static_cast<Byte>(Value.AsInteger());
            break;
        default:
            WriteLEDouble(p, Value.AsDouble());
            break;
        }
    }

    const TInternalFieldItem* Field(const std::string& Name) const { return FFields.FindField(Name); }

    // Gives Keys the key fields of an index over Specs, its null-flag bytes
    // and maximum key size, and the ANSI string comparison.
    void IndexOn(TIndexKeys& Keys, const std::vector<TKeySpec>& Specs) const
    {
        TKeyFields* keyFields = Keys.KeyFields();
        keyFields->Clear();
        for (const TKeySpec& spec : Specs) {
            TKeyFieldItem* key = keyFields->Add();
            key->SetIndexName("Idx");
            key->SetKeyIndex(key->Index());
            key->SetDescending(spec.Descending);
            key->SetCaseInsensitive(spec.CaseInsensitive);
            if (spec.Name.empty()) {
                key->SetAsRecordIDKey();
                continue;
            }
            key->AssignFromField(FFields.FindField(spec.Name));
            // A wide column is stored as a string field but keyed as a wide string.
            if (Column(spec.Name).Wide)
                key->SetDataType(ftWideString);
        }
        keyFields->SetDataOffset(keyFields->Count() / 8 + 1);
        Keys.SetMaximumKeySize(CalculateMaximumKeySize(keyFields) + keyFields->DataOffset());
        Keys.SetDBStringCompare(DBANSICompareStrings);
        Keys.CheckKeyFields();
    }

private:
    const TColumn& Column(const std::string& Name) const
    {
        for (const TColumn& column : FColumns)
            if (column.Name == Name)
                return column;
        throw std::runtime_error("no column " + Name);
    }

    std::vector<TColumn> FColumns;
    TInternalFields FFields;
};

// One column of every type that keys hold.
const std::vector<TColumn> AllTypes{
    {"S", ftString, 11},  {"SI", ftSmallint}, {"I", ftInteger},  {"W", ftWord},
    {"B", ftBoolean},     {"F", ftFloat},     {"C", ftCurrency}, {"D", ftDate},
    {"T", ftTime},        {"DT", ftDateTime}, {"A", ftAutoInc},  {"WS", ftString, 22, true},
};

TKey TempKey(TIndexKeys& Keys, const TRecord& Record)
{
    TKey key(static_cast<std::size_t>(Keys.MaximumKeySize()), 0xEE);
    Keys.ConstructTempKeyBufFromRecBuf(key.data(), Record.data(), {});
    return key;
}

int Sign(Integer Value)
{
    return (Value > 0) - (Value < 0);
}

// The sign of the search key built from Search (with Flags) against Entry,
// by the full comparison and by the optimized key; both must agree.
int SearchSign(TIndexKeys& Keys, const TRecord& Search, const TKey& Entry,
               const TKeyComparisonFlags& Flags = {}, Integer FieldCount = 0)
{
    Keys.ConstructKeyBufFromRecBuf(Search.data(), Flags);
    const int full = Sign(Keys.CompareKeys(FieldCount, Keys.KeyFlags(), {}, Keys.KeyBuf(), Entry.data()));
    const int optimized = Sign(Keys.CompareToOptimizedKey(FieldCount, Entry.data()));
    EXPECT_EQ(full, optimized) << "the two comparisons disagree";
    return full;
}

// Records given in key order compare in that order, both ways round and by
// both comparisons, and each equals itself.
void ExpectKeyOrder(TIndexKeys& Keys, const std::vector<TRecord>& Ordered)
{
    std::vector<TKey> keys;
    for (const TRecord& record : Ordered)
        keys.push_back(TempKey(Keys, record));
    for (std::size_t i = 0; i < keys.size(); ++i)
        for (std::size_t j = 0; j < keys.size(); ++j) {
            const int expected = (i > j) - (i < j);
            EXPECT_EQ(Sign(Keys.CompareKeys(0, {}, {}, keys[i].data(), keys[j].data())), expected)
                << "records " << i << " and " << j;
            EXPECT_EQ(SearchSign(Keys, Ordered[i], keys[j]), expected) << "records " << i << " and " << j;
        }
}

// ------------------------------------------------------ comparison by type

struct TTypeCase {
    std::string Column;
    Variant Low;
    Variant High;
};

class KeyTypeOrderTest : public ::testing::TestWithParam<TTypeCase> {};

// Null before the lower value before the higher one; a descending field
// turns all of it round.
TEST_P(KeyTypeOrderTest, NullFirstThenValuesAndDescendingReverses)
{
    const TTypeCase& c = GetParam();
    TTable table(AllTypes);
    std::vector<TRecord> ordered(3, table.NewRecord());
    table.Put(ordered[1], c.Column, c.Low);
    table.Put(ordered[2], c.Column, c.High);

    TIndexKeys keys;
    table.IndexOn(keys, {{c.Column}});
    ExpectKeyOrder(keys, ordered);

    table.IndexOn(keys, {{c.Column, true}});
    ExpectKeyOrder(keys, {ordered[2], ordered[1], ordered[0]});
}

INSTANTIATE_TEST_SUITE_P(
    AllIndexableTypes, KeyTypeOrderTest,
    ::testing::Values(
        TTypeCase{"S", "abc", "abd"}, TTypeCase{"S", "ab", "abc"}, TTypeCase{"S", "", "a"},
        TTypeCase{"S", "apple", "Zebra"} /* the ANSI order, not the byte order */,
        TTypeCase{"SI", -1, 1}, TTypeCase{"SI", -32768, 32767}, TTypeCase{"I", -1, 2147483647},
        TTypeCase{"I", static_cast<int>(-2147483647 - 1), -1}, TTypeCase{"W", 1, 65535},
        TTypeCase{"W", 32767, 32768}, TTypeCase{"B", false, true}, TTypeCase{"F", -1.5, 2.25},
        TTypeCase{"F", -1e300, 1e-300}, TTypeCase{"C", 0.0001, 0.0002},
        TTypeCase{"D", Variant::FromDate(36526.0), Variant::FromDate(36527.0)},
        TTypeCase{"T", Variant::FromDate(0.25), Variant::FromDate(0.75)},
        TTypeCase{"DT", Variant::FromDate(44000.5), Variant::FromDate(44000.75)},
        TTypeCase{"A", 5, 70000}, TTypeCase{"WS", "abc", "abd"}, TTypeCase{"WS", "ab", "abc"}),
    [](const ::testing::TestParamInfo<TTypeCase>& info) {
        return info.param.Column + "_" + std::to_string(info.index);
    });

TEST(KeyCompareTest, CaseInsensitiveStringsCompareEqualAcrossCase)
{
    TTable table(AllTypes);
    TRecord upper = table.NewRecord();
    TRecord lower = table.NewRecord();
    table.Put(upper, "S", "ABC");
    table.Put(lower, "S", "abc");
    table.Put(upper, "WS", "ABC");
    table.Put(lower, "WS", "abc");

    for (const char* column : {"S", "WS"}) {
        TIndexKeys keys;
        table.IndexOn(keys, {{column}});
        EXPECT_NE(SearchSign(keys, upper, TempKey(keys, lower)), 0) << column;
        table.IndexOn(keys, {{column, false, true}});
        EXPECT_EQ(SearchSign(keys, upper, TempKey(keys, lower)), 0) << column;
    }
}

TEST(KeyCompareTest, ComparisonOverOneFieldIgnoresTheLaterOnes)
{
    TTable table(AllTypes);
    TRecord a = table.NewRecord();
    TRecord b = table.NewRecord();
    table.Put(a, "I", 7);
    table.Put(b, "I", 7);
    table.Put(a, "S", "zzz");
    table.Put(b, "S", "aaa");

    TIndexKeys keys;
    table.IndexOn(keys, {{"I"}, {"S"}});
    const TKey keyB = TempKey(keys, b);
    EXPECT_EQ(SearchSign(keys, a, keyB, {}, 1), 0);
    EXPECT_GT(SearchSign(keys, a, keyB, {}, 2), 0);
    EXPECT_GT(SearchSign(keys, a, keyB, {}, 0), 0);
    EXPECT_GT(SearchSign(keys, a, keyB, {}, 9), 0) << "a count above the key fields means all";
}

TEST(KeyCompareTest, NonUniqueIndexOrdersEqualKeysByTheHiddenRecordId)
{
    TTable table(AllTypes);
    std::vector<TRecord> ordered{table.NewRecord(1), table.NewRecord(2), table.NewRecord(70000)};
    for (TRecord& record : ordered)
        table.Put(record, "S", "same");
    // A free slot (status 0) has no record ID: it counts as null.
    TRecord unused = table.NewRecord(99);
    table.Put(unused, "S", "same");
    unused[rpoStatus] = 0;
    ordered.insert(ordered.begin(), unused);

    TIndexKeys keys;
    table.IndexOn(keys, {{"S"}, {""}});
    ExpectKeyOrder(keys, ordered);
    table.IndexOn(keys, {{"S", true}, {"", true}});
    ExpectKeyOrder(keys, {ordered[3], ordered[2], ordered[1], ordered[0]});
}

// ---------------------------------------------------------- comparison flags

class KeyFlagsTest : public ::testing::Test {
protected:
    KeyFlagsTest() : Table({{"A", ftInteger}, {"B", ftInteger}})
    {
        Table.IndexOn(Keys, {{"A"}, {"B"}});
        const std::pair<int, int> stored[] = {{1, 5}, {2, 1}, {2, 7}, {3, 0}};
        for (auto [a, b] : stored)
            Stored.push_back(TempKey(Keys, Record(a, b)));
    }

    TRecord Record(const Variant& A, const Variant& B)
    {
        TRecord record = Table.NewRecord();
        Table.Put(record, "A", A);
        Table.Put(record, "B", B);
        return record;
    }

    // The signs of the search record with Flags against every stored key.
    std::vector<int> Signs(const TRecord& Search, const TKeyComparisonFlags& Flags)
    {
        std::vector<int> signs;
        for (const TKey& entry : Stored)
            signs.push_back(SearchSign(Keys, Search, entry, Flags));
        return signs;
    }

    TTable Table;
    TIndexKeys Keys;
    std::vector<TKey> Stored; // (1,5) (2,1) (2,7) (3,0), in key order
};

TEST_F(KeyFlagsTest, LowFlagLandsBeforeEveryKeyWithTheLeadingValue)
{
    // The first stored key not smaller than the search key is (2,1); the
    // search key's own B (9) plays no part.
    EXPECT_EQ(Signs(Record(2, 9), {1, 0}), (std::vector<int>{1, -1, -1, -1}));
    EXPECT_EQ(Signs(Record(2, Null()), {1, 0}), (std::vector<int>{1, -1, -1, -1}));
}

TEST_F(KeyFlagsTest, HighFlagLandsAfterEveryKeyWithTheLeadingValue)
{
    EXPECT_EQ(Signs(Record(2, 0), {1, 2}), (std::vector<int>{1, 1, 1, -1}));
    EXPECT_EQ(Signs(Record(2, Null()), {1, 2}), (std::vector<int>{1, 1, 1, -1}));
}

TEST_F(KeyFlagsTest, MissingFlagsCountAsNormalAndFlagsOfBothKeysAreSubtracted)
{
    EXPECT_EQ(Signs(Record(2, 7), {1}), (std::vector<int>{1, 1, 0, -1}));
    EXPECT_EQ(Signs(Record(2, 7), {}), (std::vector<int>{1, 1, 0, -1}));

    const TKey search = TempKey(Keys, Record(2, 7));
    // Equal flags on both sides compare the values.
    EXPECT_EQ(Keys.CompareKeys(0, {1, 0}, {1, 0}, search.data(), Stored[2].data()), 0);
    EXPECT_LT(Keys.CompareKeys(0, {1, 0}, {1, 2}, search.data(), Stored[2].data()), 0);
    EXPECT_GT(Keys.CompareKeys(0, {2}, {}, search.data(), Stored[3].data()), 0);
    // Only the first key's flags open the flag rule.
    EXPECT_EQ(Keys.CompareKeys(0, {}, {0, 0}, search.data(), Stored[2].data()), 0);
}

TEST_F(KeyFlagsTest, FlagsDecideWithoutTheDescendingRule)
{
    Table.IndexOn(Keys, {{"A", true}, {"B", true}});
    const TKey entry = TempKey(Keys, Record(2, 1));
    EXPECT_LT(SearchSign(Keys, Record(2, 9), entry, {1, 0}), 0);
    EXPECT_GT(SearchSign(Keys, Record(2, 9), entry, {1, 2}), 0);
    EXPECT_LT(SearchSign(Keys, Record(2, 9), entry, {1, 1}), 0) << "9 before 1 when descending";
}

// ----------------------------------------------------------- key building

TEST(KeyBuildTest, KeyImageHoldsLengthNullBitsAndPackedData)
{
    TTable table({{"I", ftInteger}, {"S", ftString, 6}, {"W", ftWord}});
    TRecord record = table.NewRecord();
    table.Put(record, "I", -2);
    table.Put(record, "S", "hey");
    table.Put(record, "W", Null());

    TIndexKeys keys;
    table.IndexOn(keys, {{"I"}, {"S"}, {"W"}});
    EXPECT_EQ(keys.MaximumKeySize(), 10 + 4 + (2 + 6) + 2 + 1);
    const TKey key = TempKey(keys, record);
    const TKey expected{static_cast<Byte>(keys.MaximumKeySize()), 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0xC0, 0xFE, 0xFF, 0xFF, 0xFF, 3, 0, 'h', 'e', 'y', 0, 0, 0, 0, 0};
    EXPECT_EQ(key, expected);

    keys.ConstructKeyBufFromRecBuf(record.data(), {});
    keys.SetKeyBufAddr(0x01020304);
    EXPECT_EQ(ReadLE32(keys.KeyBuf() + kioAddress), 0x01020304u);
    EXPECT_EQ(ReadLE32(keys.KeyBuf() + kioCount), 0u);
    EXPECT_EQ(keys.KeyFlags(), (TKeyComparisonFlags{1, 1, 1}));
}

TEST(KeyBuildTest, NineKeyFieldsUseTwoNullFlagBytes)
{
    std::vector<TColumn> columns;
    std::vector<TKeySpec> specs;
    for (int i = 0; i < 9; ++i) {
        columns.push_back({"N" + std::to_string(i), ftInteger});
        specs.push_back({columns.back().Name});
    }
    TTable table(columns);
    TIndexKeys keys;
    table.IndexOn(keys, specs);
    EXPECT_EQ(keys.KeyFields()->DataOffset(), 2);

    TRecord onlyLast = table.NewRecord();
    table.Put(onlyLast, "N8", 77);
    TKey key = TempKey(keys, onlyLast);
    EXPECT_EQ(key[10], 0x00);
    EXPECT_EQ(key[11], 0x80) << "key field 8 is bit 7 of the second byte";
    EXPECT_EQ(ReadLE32(key.data() + 12), 77u);

    TRecord all = table.NewRecord();
    for (int i = 0; i < 9; ++i)
        table.Put(all, "N" + std::to_string(i), i);
    key = TempKey(keys, all);
    EXPECT_EQ(key[10], 0xFF);
    EXPECT_EQ(key[11], 0x80);
    EXPECT_EQ(ReadLE32(key.data() + 12 + 8 * 4), 8u);

    // Keys that differ only in the ninth field.
    TRecord bigger = all;
    table.Put(bigger, "N8", 9);
    ExpectKeyOrder(keys, {onlyLast, all, bigger});
}

TEST(KeyBuildTest, StringSizeMarkerIsTakenAtMostAsTheFieldSize)
{
    TTable table({{"S", ftString, 11}, {"I", ftInteger}});
    TRecord record = table.NewRecord();
    table.Put(record, "S", "abcdefghijk");
    table.Put(record, "I", -1);
    TRecord corrupt = record;
    WriteLE16(corrupt.data() + table.Field("S")->SizeMarkerOffset(), 5000);

    TIndexKeys keys;
    table.IndexOn(keys, {{"S"}, {"I"}});
    const TKey key = TempKey(keys, corrupt);
    EXPECT_EQ(ReadLE16(key.data() + 11), 11);
    EXPECT_EQ(key, TempKey(keys, record));

    TOptimizedSearchKey optimized;
    optimized.SetDataFromRecBuf(keys.KeyFields(), {}, corrupt.data());
    EXPECT_EQ(optimized.GetDataSize(0), 11);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(optimized.GetData(0)), 11), "abcdefghijk");
}

TEST(KeyBuildTest, OptimizedKeyMirrorsTheKeyAndItsFlags)
{
    TTable table(AllTypes);
    TRecord record = table.NewRecord();
    table.Put(record, "S", "text");
    table.Put(record, "I", 123456);
    TIndexKeys keys;
    table.IndexOn(keys, {{"S"}, {"W"}, {"I"}});

    for (bool fromRecord : {true, false}) {
        TOptimizedSearchKey optimized;
        const TKey key = TempKey(keys, record);
        if (fromRecord)
            optimized.SetDataFromRecBuf(keys.KeyFields(), {0, 1, 2}, record.data());
        else
            optimized.SetDataFromKeyBuf(keys.KeyFields(), {0, 1, 0x82}, key.data());
        EXPECT_EQ(optimized.FieldCount(), 3);
        EXPECT_EQ(optimized.GetNullFlags(0), 0xA0);
        EXPECT_TRUE(optimized.HasValue(0));
        EXPECT_FALSE(optimized.HasValue(1));
        EXPECT_EQ(optimized.GetDataSize(0), 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(optimized.GetData(0)), 4), "text");
        EXPECT_EQ(ReadLE32(optimized.GetData(2)), 123456u);
        EXPECT_EQ(optimized.GetComparisonMarker(0), -1);
        EXPECT_EQ(optimized.GetComparisonMarker(1), 0);
        EXPECT_EQ(optimized.GetComparisonMarker(2), 1);
    }
}

TEST(KeyBuildTest, MoreThan32KeyFieldsStillCompareThroughTheOptimizedRoute)
{
    std::vector<TColumn> columns;
    std::vector<TKeySpec> specs;
    for (int i = 0; i < 33; ++i) {
        columns.push_back({"B" + std::to_string(i), ftBoolean});
        specs.push_back({columns.back().Name});
    }
    TTable table(columns);
    TIndexKeys keys;
    table.IndexOn(keys, specs);
    TRecord low = table.NewRecord();
    TRecord high = table.NewRecord();
    for (int i = 0; i < 33; ++i) {
        table.Put(low, "B" + std::to_string(i), true);
        table.Put(high, "B" + std::to_string(i), true);
    }
    table.Put(low, "B32", false);
    ExpectKeyOrder(keys, {low, high});
}

// --------------------------------------------------------- keys from values

TEST(KeyVariantTest, KeysFromARecordAndFromValuesAreTheSame)
{
    TTable table(AllTypes);
    const std::vector<Variant> values{"Name",
                                      -123,
                                      2000000000,
                                      65000,
                                      true,
                                      3.75,
                                      12.5,
                                      Variant::FromDate(36526.0),
                                      Variant::FromDate(0.5),
                                      Variant::FromDate(36526.25),
                                      42,
                                      "wide"};
    std::vector<TKeySpec> specs;
    TRecord record = table.NewRecord();
    for (std::size_t i = 0; i < AllTypes.size(); ++i) {
        specs.push_back({AllTypes[i].Name});
        table.Put(record, AllTypes[i].Name, values[i]);
    }
    TIndexKeys keys;
    table.IndexOn(keys, specs);

    const TKey fromRecord = TempKey(keys, record);
    keys.ConstructKeyBufFromVariants(VarArrayOf(values), {});
    EXPECT_EQ(TKey(keys.KeyBuf(), keys.KeyBuf() + keys.MaximumKeySize()), fromRecord);
    EXPECT_EQ(keys.CompareKeys(0, {}, {}, keys.KeyBuf(), fromRecord.data()), 0);
    EXPECT_EQ(keys.CompareToOptimizedKey(0, fromRecord.data()), 0);

    // Null values and missing trailing values are null fields.
    std::vector<Variant> partial(values.begin(), values.begin() + 4);
    partial[1] = Null();
    TRecord partialRecord = table.NewRecord();
    for (std::size_t i = 0; i < partial.size(); ++i)
        table.Put(partialRecord, AllTypes[i].Name, partial[i]);
    keys.ConstructKeyBufFromVariants(VarArrayOf(partial), {});
    EXPECT_EQ(TKey(keys.KeyBuf(), keys.KeyBuf() + keys.MaximumKeySize()), TempKey(keys, partialRecord));

    // A single value is the first key field's.
    TRecord first = table.NewRecord();
    table.Put(first, "S", "Name");
    keys.ConstructKeyBufFromVariants(Variant("Name"), {});
    EXPECT_EQ(TKey(keys.KeyBuf(), keys.KeyBuf() + keys.MaximumKeySize()), TempKey(keys, first));
}

TEST(KeyVariantTest, ValuesThatDoNotFitTheirFieldAreRefused)
{
    TTable table(AllTypes);
    TIndexKeys keys;
    table.IndexOn(keys, {{"S"}, {"W"}, {"WS"}});
    keys.ConstructKeyBufFromVariants(VarArrayOf({std::string(11, 'x'), 65535}), {});
    EXPECT_VEK_ERROR_TEXT(8581, "Field data length is out of range",
                          keys.ConstructKeyBufFromVariants(VarArrayOf({std::string(12, 'x')}), {}));
    EXPECT_VEK_ERROR_TEXT(8581, "Field data length is out of range",
                          keys.ConstructKeyBufFromVariants(VarArrayOf({Null(), 1, std::string(12, 'x')}), {}));
    EXPECT_THROW(keys.ConstructKeyBufFromVariants(VarArrayOf({Null(), 65536}), {}), EVariantError);
    EXPECT_THROW(keys.ConstructKeyBufFromVariants(VarArrayOf({Null(), -1}), {}), EVariantError);
}

// -------------------------------------------------- byte arrays and errors

TEST(KeyFieldsTest, ByteArrayKeyFieldIsRefusedWith10117)
{
    TKeyFields keyFields;
    TKeyFieldItem* bytes = keyFields.Add();
    bytes->SetFieldName("Raw");
    bytes->SetDataType(ftBytes);
    bytes->SetFieldSize(8);
    EXPECT_VEK_ERROR_TEXT(10117, "Raw", CalculateMaximumKeySize(&keyFields));

    TIndexKeys keys;
    keys.KeyFields()->Assign(&keyFields);
    keys.KeyFields()->SetDataOffset(1);
    keys.SetMaximumKeySize(40);
    EXPECT_VEK_ERROR(10117, keys.CheckKeyFields());

    // Even unchecked, two such keys never compare by accident.
    TKey a(40, 0);
    WriteLE16(a.data(), 40);
    a[10] = 0x80;
    EXPECT_VEK_ERROR_TEXT(8581, "Field type not found: Bytes", keys.CompareKeys(0, {}, {}, a.data(), a.data()));
    keys.ConstructKeyBufFromKeyBuf(a.data(), {});
    EXPECT_VEK_ERROR_TEXT(8581, "Field type not found in KeyBufCompare: Bytes",
                          keys.CompareToOptimizedKey(0, a.data()));
    EXPECT_VEK_ERROR(8581, keys.ConstructKeyBufFromVariants(Variant(1), {}));
}

TEST(KeyFieldsTest, CheckKeyFieldsWantsRoomForNullBitsAndData)
{
    TTable table(AllTypes);
    TIndexKeys keys;
    table.IndexOn(keys, {{"I"}, {"S"}});
    keys.KeyFields()->SetDataOffset(0);
    EXPECT_VEK_ERROR_TEXT(8581, "KeyBuffers invalid", keys.CheckKeyFields());
    keys.KeyFields()->SetDataOffset(1);
    keys.SetMaximumKeySize(keys.MaximumKeySize() - 1);
    EXPECT_VEK_ERROR_TEXT(8581, "Invalid key size: ", keys.CheckKeyFields());
}

TEST(KeyFieldsTest, DamagedKeysAreRefusedWithTheirRoutinesTexts)
{
    TTable table(AllTypes);
    TIndexKeys keys;
    table.IndexOn(keys, {{"S"}, {"I"}});
    TRecord record = table.NewRecord();
    table.Put(record, "S", "abc");
    table.Put(record, "I", 1);
    const TKey good = TempKey(keys, record);

    TKey tooLong = good;
    WriteLE16(tooLong.data(), static_cast<Word>(keys.MaximumKeySize() + 1));
    EXPECT_VEK_ERROR_TEXT(8581, "KeySize out of range", keys.CompareKeys(0, {}, {}, good.data(), tooLong.data()));
    keys.ConstructKeyBufFromRecBuf(record.data(), {});
    EXPECT_VEK_ERROR_TEXT(8581, "Invalid key size: " + std::to_string(keys.MaximumKeySize() + 1),
                          keys.CompareToOptimizedKey(0, tooLong.data()));
    TStringList lines;
    EXPECT_VEK_ERROR_TEXT(8581, "Invalid key size: ", keys.DecodeKeyBufAsStrings(tooLong.data(), nullptr, &lines));
    EXPECT_VEK_ERROR_TEXT(8581, "SrcBuf is unassigned", keys.ConstructKeyBufFromKeyBuf(nullptr, {}));

    // A string length inside the key that runs past its end.
    TKey badLength = good;
    WriteLE16(badLength.data() + 11, 5000);
    EXPECT_VEK_ERROR_TEXT(8581, "KeySize out of range", keys.CompareKeys(0, {}, {}, good.data(), badLength.data()));
    EXPECT_VEK_ERROR(8581, keys.CompareToOptimizedKey(0, badLength.data()));
    EXPECT_VEK_ERROR(8581, keys.ConstructKeyBufFromKeyBuf(badLength.data(), {}));

    TIndexKeys noCompare;
    table.IndexOn(noCompare, {{"S"}});
    noCompare.SetDBStringCompare(nullptr);
    const TKey s = TempKey(noCompare, record);
    EXPECT_VEK_ERROR(8581, noCompare.CompareKeys(0, {}, {}, s.data(), s.data()));
}

TEST(KeyFieldsTest, KeyFromAKeyCopiesItAndSetsTheFlags)
{
    TTable table(AllTypes);
    TIndexKeys keys;
    table.IndexOn(keys, {{"I"}, {"S"}});
    TRecord record = table.NewRecord();
    table.Put(record, "I", 5);
    table.Put(record, "S", "x");
    TKey entry = TempKey(keys, record);
    WriteLE32(entry.data() + kioAddress, 4242);

    keys.ConstructKeyBufFromKeyBuf(entry.data(), {2});
    EXPECT_EQ(TKey(keys.KeyBuf(), keys.KeyBuf() + keys.MaximumKeySize()), entry);
    EXPECT_EQ(keys.KeyFlags(), (TKeyComparisonFlags{2, 1}));
    EXPECT_GT(keys.CompareToOptimizedKey(0, entry.data()), 0);
    keys.ConstructKeyBufFromKeyBuf(entry.data(), {});
    EXPECT_EQ(keys.CompareToOptimizedKey(0, entry.data()), 0);
}

// ---------------------------------------------------- key fields and texts

TEST(KeyFieldsTest, DecodeGivesOneTextPerKeyField)
{
    TTable table(AllTypes);
    TIndexKeys keys;
    table.IndexOn(keys, {{"S"}, {"SI"}, {"W"}, {"B"}, {"F"}, {"I"}, {"WS"}});
    TRecord record = table.NewRecord();
    table.Put(record, "S", Null());
    table.Put(record, "SI", -5);
    table.Put(record, "W", 65535);
    table.Put(record, "B", true);
    table.Put(record, "F", 2.5);
    table.Put(record, "I", -7);
    table.Put(record, "WS", "wide");

    TStringList lines;
    keys.DecodeRecKeyBufAsStrings(record.data(), &lines);
    ASSERT_EQ(lines.Count(), 7);
    const std::vector<std::string> expected{"NULL", "-5", "65535", "True", FloatToStr(2.5), "-7", "wide"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(lines[i], expected[static_cast<std::size_t>(i)]);

    // Other null flags than the key's own.
    const TKey key = TempKey(keys, record);
    const Byte allNull[2] = {0, 0};
    lines.Clear();
    keys.DecodeKeyBufAsStrings(key.data(), allNull, &lines);
    EXPECT_EQ(lines.Count(), 7);
    EXPECT_EQ(lines[3], "NULL");
}

TEST(KeyFieldsTest, AssignFindAndSizes)
{
    TKeyFields source;
    source.SetDataOffset(1);
    TKeyFieldItem* s = source.Add();
    s->SetFieldName("Name");
    s->SetIndexName("ByName");
    s->SetDataType(ftString);
    s->SetFieldSize(21);
    s->SetSizeMarkerOffset(20);
    s->SetCaseInsensitive(true);
    TKeyFieldItem* i = source.Add();
    i->SetFieldName("ID");
    i->SetIndexName("byname");
    i->SetDataType(ftInteger);
    i->SetFieldSize(4);
    TKeyFieldItem* other = source.Add();
    other->SetIndexName("Other");
    other->SetDataType(ftWideString);
    other->SetFieldSize(10);
    other->SetSizeMarkerOffset(40);

    EXPECT_EQ(CalculateMaximumKeySize(&source), 10 + (2 + 21) + 4 + (2 + 10));
    EXPECT_EQ(source.FindField("name"), s);
    EXPECT_EQ(source.FindField("nope"), nullptr);
    EXPECT_EQ(source.FindFieldCountForIndex("BYNAME"), 2);

    TKeyFields copy;
    copy.Assign(&source);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy.DataOffset(), 1);
    EXPECT_TRUE(copy.GetItems(0)->CaseInsensitive());
    EXPECT_EQ(copy.GetItems(0)->SizeMarkerOffset(), 20);

    // Streamed with the thirteen published properties, in order.
    class TKeyFieldHolder : public TComponent {
    public:
        TKeyFieldHolder() : TComponent(nullptr) {}
        void PublishProperties(TPropertyList& List) override
        {
            TComponent::PublishProperties(List);
            List.AddCollection("KeyFields", &KeyFields);
        }
        TKeyFields KeyFields;
    };
    TKeyFieldHolder holder;
    holder.KeyFields.Assign(&source);
    holder.KeyFields.GetItems(1)->SetHidden(true);
    holder.KeyFields.GetItems(1)->SetKeyIndex(1);
    const std::string text = WriteComponentText(&holder);
    const std::vector<std::string> order{
        "FieldName = 'ID'", "DataType = ftInteger", "FieldSize = 4",       "CaseInsensitive = False",
        "Descending = False", "IsVariable = False", "RecBufOffset = 0",    "NullFlagOffset = 0",
        "SizeMarkerOffset = 0", "PhysicalFieldNo = 0", "IndexName = 'byname'", "Hidden = True",
        "KeyIndex = 1"};
    std::size_t at = text.find("FieldName = 'ID'");
    for (const std::string& line : order) {
        const std::size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " in\n" << text;
        at = found;
    }
    TKeyFieldHolder read;
    ReadComponentText(text, &read);
    ASSERT_EQ(read.KeyFields.Count(), 3);
    EXPECT_EQ(read.KeyFields.GetItems(2)->DataType(), ftWideString);
    EXPECT_TRUE(read.KeyFields.GetItems(1)->Hidden());

    // A string key field must have its size marker.
    other->SetSizeMarkerOffset(0);
    EXPECT_THROW(copy.Assign(&source), EAssertionFailed);
    EXPECT_THROW(copy.GetItems(0)->Assign(other), EAssertionFailed);
    EXPECT_EQ(copy.GetItems(0)->FieldName(), "Name") << "left as it was";
}

} // namespace
} // namespace orvex
