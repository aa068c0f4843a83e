// The temporary sort: appending keys from records, growth, sorting and
// finding.

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnit.h"

#include "vekDiskTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

using TRecord = std::vector<Byte>;
using TKey = std::vector<Byte>;

// A record layout with an integer column "N" and a string column "S" of 20
// characters, and key fields over them in the order asked.
class TSortTable {
public:
    TSortTable()
    {
        TInternalFieldItem* n = FFields.Add();
        n->SetFieldName("N");
        n->SetDataType(ftInteger);
        n->SetFieldIndex(0);
        TInternalFieldItem* s = FFields.Add();
        s->SetFieldName("S");
        s->SetDataType(ftString);
        s->SetFieldSize(StringSize);
        s->SetFieldIndex(1);
        FFields.SetDefaultOffsets();
        FFields.Open();
    }

    static constexpr Integer StringSize = 20;

    // A record; a missing value is null.
    TRecord Record(std::optional<Integer> N, std::optional<std::string> S = std::nullopt) const
    {
        TRecord record(static_cast<std::size_t>(FFields.RecordSize()), 0);
        record[rpoStatus] = 1;
        const TInternalFieldItem* n = FFields.FindField("N");
        const TInternalFieldItem* s = FFields.FindField("S");
        if (N) {
            record[n->NullFlagOffset()] = 1;
            WriteLE32(record.data() + n->DataOffset(), static_cast<Cardinal>(*N));
        }
        if (S) {
            record[s->NullFlagOffset()] = 1;
            std::memcpy(record.data() + s->DataOffset(), S->data(), S->size());
            WriteLE16(record.data() + s->SizeMarkerOffset(), static_cast<Word>(S->size()));
        }
        return record;
    }

    // Key fields over the named columns (repeats allowed), as a table
    // definition gives them; DataOffset is left to the sort.
    void KeyOn(TKeyFields* Keys, const std::vector<std::string>& Columns, bool Descending = false,
               bool CaseInsensitive = false) const
    {
        Keys->Clear();
        for (const std::string& name : Columns) {
            TKeyFieldItem* key = Keys->Add();
            key->AssignFromField(FFields.FindField(name));
            key->SetIndexName("Sort");
            key->SetKeyIndex(key->Index());
            key->SetDescending(Descending);
            key->SetCaseInsensitive(CaseInsensitive);
        }
    }

    // The key of a record as the sort's search key: built with the sort's
    // own key fields and key size.
    TKey KeyOf(const TTemporarySort& Sort, const TRecord& Record) const
    {
        TIndexKeys keys;
        keys.KeyFields()->Assign(Sort.KeyFields());
        keys.SetMaximumKeySize(Sort.KeySize());
        keys.SetDBStringCompare(Sort.DBStringCompare());
        TKey key(static_cast<std::size_t>(Sort.KeySize()), 0);
        keys.ConstructTempKeyBufFromRecBuf(key.data(), Record.data(), {});
        return key;
    }

private:
    TInternalFields FFields;
};

class TempSortTest : public ::testing::Test {
protected:
    TempSortTest() : Sort(Sorts.Add()) { Sort->SetDBStringCompare(DBANSICompareStrings); }

    // An open sort keyed on Columns.
    void OpenOn(const std::vector<std::string>& Columns, Integer Capacity, bool Descending = false,
                bool CaseInsensitive = false)
    {
        Table.KeyOn(Sort->KeyFields(), Columns, Descending, CaseInsensitive);
        Sort->Open(Capacity);
    }
    Cardinal FindKey(const TRecord& Record) { return Sort->FindKey(Table.KeyOf(*Sort, Record).data()); }
    Cardinal FindNearest(const TRecord& Record)
    {
        return Sort->FindNearest(Table.KeyOf(*Sort, Record).data());
    }

    TSortTable Table;
    TTemporarySortManager Sorts;
    TTemporarySort* Sort;
};

TEST_F(TempSortTest, FindsEqualAndNearestKeys)
{
    OpenOn({"N"}, 8);
    Sort->AppendKey(300, Table.Record(30).data());
    Sort->AppendKey(100, Table.Record(10).data());
    Sort->AppendKey(200, Table.Record(20).data());
    Sort->Sort();
    EXPECT_TRUE(Sort->Sorted());

    EXPECT_EQ(FindKey(Table.Record(20)), 200u);
    EXPECT_EQ(FindKey(Table.Record(25)), 0u);
    EXPECT_EQ(FindNearest(Table.Record(25)), 300u);
    EXPECT_EQ(FindNearest(Table.Record(35)), 0u);
    EXPECT_EQ(FindNearest(Table.Record(-5)), 100u);
    EXPECT_EQ(FindKey(Table.Record(10)), 100u);
    EXPECT_EQ(FindKey(Table.Record(30)), 300u);
    // Each slot carries its record's address in the key's Address word.
    EXPECT_EQ(ReadLE32(Sort->Keys(0) + kioAddress), 100u);
    EXPECT_EQ(ReadLE16(Sort->Keys(0) + kioLength), Sort->KeySize());
}

TEST_F(TempSortTest, FindsNothingInAnEmptySort)
{
    OpenOn({"N"}, 4);
    EXPECT_EQ(FindKey(Table.Record(1)), 0u);
    EXPECT_EQ(FindNearest(Table.Record(1)), 0u);
}

TEST_F(TempSortTest, GrowsByAQuarterKeepingEveryKey)
{
    OpenOn({"N"}, 8);
    std::vector<Integer> capacities;
    for (Integer i = 0; i < 15; ++i) {
        Sort->AppendKey(static_cast<Cardinal>(1000 + i), Table.Record(100 - i).data());
        capacities.push_back(Sort->Capacity());
    }
    // Full at 8, 10 and 12 keys: 8 -> 10 -> 12 -> 15.
    const std::vector<Integer> expected{8, 8, 8, 8, 8, 8, 8, 8, 10, 10, 12, 12, 15, 15, 15};
    EXPECT_EQ(capacities, expected);
    EXPECT_EQ(Sort->Count(), 15);
    for (Integer i = 0; i < 15; ++i)
        EXPECT_EQ(FindKey(Table.Record(100 - i)), static_cast<Cardinal>(1000 + i)) << i;
}

TEST_F(TempSortTest, SmallCapacitiesStillGrow)
{
    for (Integer capacity : {-1, 0, 1, 2, 3}) {
        SCOPED_TRACE(capacity);
        OpenOn({"N"}, capacity);
        EXPECT_EQ(Sort->Capacity(), std::max(capacity, 0));
        for (Integer i = 0; i < 6; ++i)
            Sort->AppendKey(static_cast<Cardinal>(i + 1), Table.Record(i * 7 % 6).data());
        EXPECT_EQ(Sort->Count(), 6);
        EXPECT_GE(Sort->Capacity(), 6);
        for (Integer i = 0; i < 6; ++i)
            EXPECT_EQ(FindKey(Table.Record(i * 7 % 6)), static_cast<Cardinal>(i + 1));
    }
}

TEST_F(TempSortTest, SlotsHoldTheNullFlagBytesOfFullKeys)
{
    // Nine key fields need two null-flag bytes; every string holds its full
    // 20 characters, so the key fills its slot to the last byte.
    const std::vector<std::string> columns{"S", "S", "S", "S", "S", "S", "S", "S", "N"};
    OpenOn(columns, 2);
    EXPECT_EQ(Sort->KeyFields()->DataOffset(), 2);
    EXPECT_EQ(Sort->KeySize(), CalculateMaximumKeySize(Sort->KeyFields()) + 2);

    const std::string full(TSortTable::StringSize, 'z');
    const std::string low(TSortTable::StringSize, 'a');
    Sort->AppendKey(1, Table.Record(5, full).data());
    Sort->AppendKey(2, Table.Record(5, low).data());
    Sort->AppendKey(3, Table.Record(std::nullopt, full).data());
    Sort->Sort();
    EXPECT_EQ(FindKey(Table.Record(5, full)), 1u);
    EXPECT_EQ(FindKey(Table.Record(5, low)), 2u);
    EXPECT_EQ(FindKey(Table.Record(std::nullopt, full)), 3u);
    // A DataOffset the caller set is kept when it covers the key fields.
    OpenOn({"N"}, 1);
    Sort->KeyFields()->SetDataOffset(3);
    Sort->Open(1);
    EXPECT_EQ(Sort->KeyFields()->DataOffset(), 3);
    EXPECT_EQ(Sort->KeySize(), KeyInfoSize + 4 + 3);
}

// Random keys with duplicates and nulls on a descending, case-insensitive
// string field, then the integer: the sort orders them as the key
// comparison does and finds what a lower bound over that order finds.
TEST_F(TempSortTest, SortsLikeTheKeyComparison)
{
    OpenOn({"S", "N"}, 16, /*Descending=*/true, /*CaseInsensitive=*/true);
    std::mt19937 random(12345);
    const std::vector<std::string> words{"apple", "Apple", "pear", "PEAR", "fig", "", "kiwi", "Zebra"};
    std::vector<TRecord> records;
    for (Cardinal i = 1; i <= 2000; ++i) {
        std::optional<std::string> s;
        if (random() % 10 != 0)
            s = words[random() % words.size()];
        std::optional<Integer> n;
        if (random() % 10 != 0)
            n = static_cast<Integer>(random() % 50) - 25;
        records.push_back(Table.Record(n, s));
        Sort->AppendKey(i, records.back().data());
    }
    Sort->Sort();
    ASSERT_EQ(Sort->Count(), 2000);

    std::vector<Cardinal> addresses;
    for (Integer i = 0; i < Sort->Count(); ++i) {
        addresses.push_back(ReadLE32(Sort->Keys(i) + kioAddress));
        if (i > 0) {
            ASSERT_LE(Sort->CompareKeys(Sort->Keys(i - 1), Sort->Keys(i)), 0) << "slot " << i;
        }
    }
    std::sort(addresses.begin(), addresses.end());
    for (Cardinal i = 0; i < 2000; ++i)
        ASSERT_EQ(addresses[i], i + 1);

    // Probes: every stored record, and values between and beyond them.
    std::vector<TRecord> probes(records.begin(), records.begin() + 50);
    probes.push_back(Table.Record(1000, "banana"));
    probes.push_back(Table.Record(-1000, "zzz"));
    probes.push_back(Table.Record(std::nullopt, std::nullopt));
    for (const TRecord& probe : probes) {
        const TKey key = Table.KeyOf(*Sort, probe);
        Integer first = 0;
        while (first < Sort->Count() && Sort->CompareKeys(Sort->Keys(first), key.data()) < 0)
            ++first;
        const Cardinal nearest = first < Sort->Count() ? ReadLE32(Sort->Keys(first) + kioAddress) : 0;
        EXPECT_EQ(Sort->FindNearest(key.data()), nearest);
        const bool equal = first < Sort->Count() && Sort->CompareKeys(Sort->Keys(first), key.data()) == 0;
        EXPECT_EQ(Sort->FindKey(key.data()), equal ? nearest : 0u);
    }
}

TEST_F(TempSortTest, FindingSortsKeysAppendedSinceTheLastSort)
{
    OpenOn({"N"}, 4);
    Sort->AppendKey(1, Table.Record(5).data());
    Sort->Sort();
    Sort->AppendKey(2, Table.Record(1).data());
    EXPECT_FALSE(Sort->Sorted());
    EXPECT_EQ(FindNearest(Table.Record(0)), 2u);
    EXPECT_TRUE(Sort->Sorted());
}

TEST_F(TempSortTest, RefusesMissingSortFunctionAndOversizedKeys)
{
    Table.KeyOn(Sort->KeyFields(), {"N"});
    Sort->SetDBStringCompare(nullptr);
    EXPECT_VEK_ERROR_TEXT(8581, "Sort function not assinged", Sort->Open(4));

    Sort->SetDBStringCompare(DBASCIICompareStrings);
    Sort->Open(4);
    TKey key = Table.KeyOf(*Sort, Table.Record(1));
    TKey oversized = key;
    WriteLE16(oversized.data() + kioLength, static_cast<Word>(Sort->KeySize() + 1));
    EXPECT_VEK_ERROR_TEXT(8581, "KeySize out of range", Sort->CompareKeys(key.data(), oversized.data()));
    EXPECT_VEK_ERROR_TEXT(8581, "KeySize out of range", Sort->CompareKeys(oversized.data(), key.data()));
}

TEST_F(TempSortTest, ReopenAndManagerCloseStartAfresh)
{
    OpenOn({"N"}, 4);
    Sort->AppendKey(1, Table.Record(1).data());
    Sort->Open(2);
    EXPECT_EQ(Sort->Count(), 0);
    EXPECT_EQ(Sort->Capacity(), 2);
    EXPECT_EQ(FindKey(Table.Record(1)), 0u);

    TTemporarySort* second = Sorts.Add();
    Sorts.SetItems(1, Sort);
    EXPECT_EQ(second->KeyFields()->Count(), 1);
    EXPECT_EQ(second->DBStringCompare(), &DBANSICompareStrings);
    second->Open(4);
    second->AppendKey(9, Table.Record(3).data());
    Sort->AppendKey(8, Table.Record(3).data());
    Sorts.Close();
    EXPECT_EQ(Sort->Count(), 0);
    EXPECT_EQ(second->Count(), 0);
    EXPECT_EQ(second->Capacity(), 0);
    EXPECT_EQ(Sorts.Count(), 2);
}

} // namespace
} // namespace orvex
