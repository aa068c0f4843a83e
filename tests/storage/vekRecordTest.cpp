// Field lists and the record layout, search fields, blob states and the
// record manager.

#include "host/Streaming.h"
#include "storage/vekByteOrder.h"
#include "storage/vekDataUnit.h"
#include "storage/vekInterfaceUnit.h"

#include "vekDiskTestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

// Adds a field of that type (and declared size, for strings and byte
// arrays) whose FieldIndex is its position.
TInternalFieldItem* AddField(TInternalFields& Fields, const std::string& Name, TFieldType DataType,
                             Integer DeclaredSize = 0)
{
    TInternalFieldItem* item = Fields.Add();
    item->SetFieldName(Name);
    item->SetDataType(DataType);
    if (DataType == ftString || DataType == ftBytes)
        item->SetFieldSize(DeclaredSize);
    item->SetFieldIndex(item->Index());
    item->SetFieldNo(item->Index());
    return item;
}

// ------------------------------------------------------------------- layout

TEST(RecordLayoutTest, IntegerAndStringFieldsLayOutAsTheWorkedExample)
{
    TInternalFields fields;
    TInternalFieldItem* number = AddField(fields, "ID", ftInteger);
    TInternalFieldItem* name = AddField(fields, "Name", ftString, 21);
    fields.SetDefaultOffsets();

    EXPECT_EQ(number->NullFlagOffset(), 14);
    EXPECT_EQ(name->NullFlagOffset(), 15);
    EXPECT_EQ(number->DataOffset(), 16);
    EXPECT_EQ(number->FieldSize(), 4);
    EXPECT_EQ(number->SizeMarkerOffset(), 0);
    EXPECT_EQ(name->SizeMarkerOffset(), 20);
    EXPECT_EQ(name->DataOffset(), 22);
    EXPECT_EQ(fields.RecordSize(), 43);
}

struct TTypeLayout {
    TFieldType DataType;
    Integer SizeFromSetDataType; // what SetDataType leaves in FieldSize
    Integer ImageSize;           // bytes in the image (declared 10 for strings and bytes)
    bool SizeMarker;
};

class RecordTypeLayoutTest : public ::testing::TestWithParam<TTypeLayout> {};

// Each type between an Integer and a Smallint: the type's own offsets and
// the place of the field after it.
TEST_P(RecordTypeLayoutTest, TypeTakesItsSizeAndMarker)
{
    const TTypeLayout& t = GetParam();
    TInternalFields fields;
    AddField(fields, "Before", ftInteger);
    TInternalFieldItem* item = fields.Add();
    item->SetDataType(t.DataType);
    EXPECT_EQ(item->FieldSize(), t.SizeFromSetDataType);
    if (t.DataType == ftString || t.DataType == ftBytes)
        item->SetFieldSize(10);
    item->SetFieldIndex(1);
    TInternalFieldItem* after = AddField(fields, "After", ftSmallint);
    fields.SetDefaultOffsets();

    // Three null flags at 14..16, then the Integer at 17..20.
    EXPECT_EQ(item->NullFlagOffset(), 15);
    const Integer start = 21;
    EXPECT_EQ(item->SizeMarkerOffset(), t.SizeMarker ? start : 0);
    EXPECT_EQ(item->DataOffset(), start + (t.SizeMarker ? 2 : 0));
    EXPECT_EQ(item->FieldSize(), t.ImageSize);
    EXPECT_EQ(after->DataOffset(), item->DataOffset() + t.ImageSize);
    EXPECT_EQ(fields.RecordSize(), after->DataOffset() + 2);
}

INSTANTIATE_TEST_SUITE_P(
    AllStorableTypes, RecordTypeLayoutTest,
    ::testing::Values(TTypeLayout{ftString, 0, 10, true}, TTypeLayout{ftSmallint, 2, 2, false},
                      TTypeLayout{ftInteger, 4, 4, false}, TTypeLayout{ftWord, 2, 2, false},
                      TTypeLayout{ftBoolean, 1, 1, false}, TTypeLayout{ftFloat, 8, 8, false},
                      TTypeLayout{ftCurrency, 8, 8, false}, TTypeLayout{ftDate, 8, 8, false},
                      TTypeLayout{ftTime, 8, 8, false}, TTypeLayout{ftDateTime, 8, 8, false},
                      TTypeLayout{ftBytes, 0, 10, false}, TTypeLayout{ftAutoInc, 4, 4, false},
                      TTypeLayout{ftBlob, 8, 8, false}, TTypeLayout{ftMemo, 8, 8, false},
                      TTypeLayout{ftGraphic, 8, 8, false}, TTypeLayout{ftFmtMemo, 8, 8, false}),
    [](const ::testing::TestParamInfo<TTypeLayout>& info) {
        return std::string(FieldTypeName(info.param.DataType));
    });

TEST(RecordLayoutTest, LayoutWritesTheCoreSizeBackOverADeclaredOne)
{
    TInternalFields fields;
    TInternalFieldItem* item = AddField(fields, "A", ftFloat);
    item->SetFieldSize(3);
    fields.SetDefaultOffsets();
    EXPECT_EQ(item->FieldSize(), 8);
    EXPECT_EQ(fields.RecordSize(), 15 + 8);
}

TEST(RecordLayoutTest, EmptyListIsJustThePrefix)
{
    TInternalFields fields;
    fields.SetDefaultOffsets();
    EXPECT_EQ(fields.RecordSize(), 14);
}

TEST(RecordLayoutTest, TypesThatCannotBeStoredAreRefusedWith10000)
{
    for (TFieldType type : {ftUnknown, ftBCD, ftVarBytes, ftParadoxOle, ftWideString, ftLargeint, ftGuid}) {
        TInternalFields fields;
        TInternalFieldItem* item = AddField(fields, "A", ftInteger);
        EXPECT_VEK_ERROR_TEXT(10000, FieldTypeName(type), item->SetDataType(type))
            << FieldTypeName(type);
        EXPECT_EQ(item->DataType(), ftInteger);
        EXPECT_EQ(item->FieldSize(), 4);
    }
}

TEST(RecordLayoutTest, WriteableSizeLeavesRoomForTheTerminator)
{
    TInternalFields fields;
    EXPECT_EQ(AddField(fields, "S", ftString, 21)->GetWriteableFieldSize(), 20);
    EXPECT_EQ(AddField(fields, "B", ftBytes, 10)->GetWriteableFieldSize(), 10);
    EXPECT_EQ(AddField(fields, "I", ftInteger)->GetWriteableFieldSize(), 4);
}

// ----------------------------------------------------------------- the list

TEST(InternalFieldsTest, OpenDerivesBlobsAutoIncAndTheFieldIndexTable)
{
    TInternalFields fields;
    AddField(fields, "A", ftAutoInc)->SetFieldIndex(2);
    AddField(fields, "B", ftString, 5)->SetFieldIndex(0);
    AddField(fields, "C", ftAutoInc)->SetFieldIndex(1);
    fields.Open();

    EXPECT_EQ(fields.AutoIncFieldNo(), 1) << "the later ftAutoInc field wins";
    EXPECT_FALSE(fields.UsesBlobs());
    EXPECT_EQ(fields.GetField(0)->FieldName(), "B");
    EXPECT_EQ(fields.GetField(1)->FieldName(), "C");
    EXPECT_EQ(fields.GetField(2)->FieldName(), "A");
    EXPECT_EQ(fields.GetFieldIndexValue(2), 0);

    AddField(fields, "D", ftMemo);
    fields.Open();
    EXPECT_TRUE(fields.UsesBlobs());
    EXPECT_THROW(fields.GetField(4), EAssertionFailed);
    EXPECT_THROW(fields.GetField(-1), EAssertionFailed);
}

TEST(InternalFieldsTest, OpenRefusesBadFieldIndexesBeforeChangingAnything)
{
    struct TCase {
        std::vector<Integer> Indexes;
        const char* Text;
    };
    const std::vector<TCase> cases{
        {{1, 1, 0}, "Field indexes degenerate"},
        // A duplicate of FieldIndex 0: its table entry is 0 like an unused one.
        {{0, 2, 0}, "Field indexes degenerate"},
        {{0, 3, 1}, "Invalid field index"},
        {{0, -1, 1}, "Invalid field index"},
        {{0, 1, 256}, "Invalid field index"},
    };
    for (const TCase& c : cases) {
        TInternalFields fields;
        for (std::size_t i = 0; i < c.Indexes.size(); ++i)
            AddField(fields, "F" + std::to_string(i), ftAutoInc)->SetFieldIndex(c.Indexes[i]);
        fields.SetAutoIncFieldNo(7);
        EXPECT_VEK_ERROR_TEXT(8581, c.Text, fields.Open()) << c.Indexes[1];
        EXPECT_EQ(fields.AutoIncFieldNo(), 7);
        EXPECT_EQ(fields.GetFieldIndexValue(0), 0);
        EXPECT_EQ(fields.GetFieldIndexValue(1), 0);
    }
}

TEST(InternalFieldsTest, ListOfMoreThan256FieldsIsRefused)
{
    TInternalFields fields;
    for (int i = 0; i < 257; ++i)
        AddField(fields, "F" + std::to_string(i), ftBoolean);
    EXPECT_VEK_ERROR_TEXT(8581, "Invalid field index", fields.Open());
    fields.Delete(256);
    fields.Open();
    EXPECT_EQ(fields.GetField(255)->FieldName(), "F255");
}

TEST(InternalFieldsTest, FindFieldIgnoresCaseByTheAnsiComparison)
{
    TInternalFields fields;
    // Windows-1252: \xC4 and \xE4 are A and a with diaeresis, \xDC and \xFC
    // U with it, \xDF the sharp s.
    AddField(fields, "Stra\xDF" "e", ftInteger)->SetSourceField("\xDC" "bel");
    AddField(fields, "\xC4RGER", ftInteger)->SetSourceField("\xC4rger");
    EXPECT_EQ(fields.FindField("\xE4RGer"), fields.GetIndex(1));
    EXPECT_EQ(fields.FindField("STRASSE"), nullptr);
    EXPECT_EQ(fields.FindSourceField("\xFC" "BEL"), fields.GetIndex(0));
    EXPECT_EQ(fields.FindSourceField("Stra\xDF" "e"), nullptr);
}

TEST(InternalFieldsTest, AddDrawsGeneratorIdsFromTheWholeRange)
{
    RandSeed(12345);
    TInternalFields fields;
    bool differ = false;
    Integer first = fields.Add()->FieldGeneratorID();
    for (int i = 0; i < 50; ++i) {
        const Integer id = fields.Add()->FieldGeneratorID();
        EXPECT_GE(id, 0);
        EXPECT_LE(id, 2147483646);
        differ = differ || id != first;
    }
    EXPECT_TRUE(differ);
}

TEST(InternalFieldsTest, AssignCopiesItemsAndTableAndResetsTheDerivedValues)
{
    TInternalFields source;
    TInternalFieldItem* a = AddField(source, "A", ftAutoInc);
    a->SetFieldIndex(1);
    a->SetSourceField("SrcA");
    a->SetPrivilegeFlags(2048);
    a->SetHidden(true);
    a->SetCompressionMode(dcZLib);
    a->SetNumDecimalPlaces(3);
    a->SetRequired(true);
    a->SetIsVariable(true);
    AddField(source, "B", ftBlob)->SetFieldIndex(0);
    source.SetDefaultOffsets();
    source.Open();

    TInternalFields copy;
    copy.SetRecordSize(99);
    copy.SetUsesBlobs(true);
    copy.Assign(&source);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.RecordSize(), 0);
    EXPECT_FALSE(copy.UsesBlobs());
    EXPECT_EQ(copy.AutoIncFieldNo(), -1);
    EXPECT_EQ(copy.GetField(0)->FieldName(), "B") << "the table came along";
    const TInternalFieldItem* c = copy.GetIndex(0);
    EXPECT_EQ(c->FieldGeneratorID(), a->FieldGeneratorID());
    EXPECT_EQ(c->SourceField(), "SrcA");
    EXPECT_EQ(c->PrivilegeFlags(), 2048);
    EXPECT_TRUE(c->Hidden());
    EXPECT_EQ(c->CompressionMode(), dcZLib);
    EXPECT_EQ(c->NumDecimalPlaces(), 3);
    EXPECT_TRUE(c->Required());
    EXPECT_TRUE(c->IsVariable());
    EXPECT_EQ(c->DataOffset(), a->DataOffset());
    EXPECT_EQ(c->NullFlagOffset(), a->NullFlagOffset());
    copy.Open();
    EXPECT_EQ(copy.AutoIncFieldNo(), 1);
    EXPECT_TRUE(copy.UsesBlobs());
}

TEST(SearchFieldsTest, AssignCarriesInIndexButNotDescending)
{
    TSearchFields source;
    TSearchFieldItem* a = source.Add();
    a->SetFieldName("A");
    a->SetInIndex(true);
    a->SetDescending(true);

    TSearchFields copy;
    copy.Assign(&source);
    ASSERT_EQ(copy.Count(), 1);
    EXPECT_EQ(copy.FindField("a")->FieldName(), "A");
    EXPECT_TRUE(copy.GetItems(0)->InIndex());
    EXPECT_FALSE(copy.GetItems(0)->Descending());

    // From a plain field list: the base properties only.
    TInternalFields plain;
    AddField(plain, "P", ftWord);
    copy.Assign(&plain);
    EXPECT_EQ(copy.GetItems(0)->DataType(), ftWord);
    EXPECT_FALSE(copy.GetItems(0)->InIndex());
}

// A component that streams a field list, as a table definition does.
class TFieldListHolder : public TComponent {
public:
    TFieldListHolder() : TComponent(nullptr) {}
    void PublishProperties(TPropertyList& List) override
    {
        TComponent::PublishProperties(List);
        List.AddCollection("Fields", &Fields);
    }
    TInternalFields Fields;
};

TEST(InternalFieldsTest, ItemsStreamTheirPublishedPropertiesInOrder)
{
    TFieldListHolder source;
    TInternalFieldItem* name = AddField(source.Fields, "Name", ftString, 21);
    name->SetRequired(true);
    name->SetIsVariable(true);
    name->SetCompressionMode(dcZLib);
    name->SetSourceField("not published");
    AddField(source.Fields, "Notes", ftMemo)->SetHidden(true);
    source.Fields.SetDefaultOffsets();

    const std::string text = WriteComponentText(&source);
    const std::vector<std::string> order{
        "FieldName = 'Name'", "FieldNo = 0",          "FieldIndex = 0",     "DataType = ftString",
        "FieldSize = 21",     "NumDecimalPlaces = 0", "Required = True",    "SizeMarkerOffset = 16",
        "DataOffset = 18",    "NullFlagOffset = 14",  "IsVariable = True",  "FieldGeneratorID = ",
        "Hidden = False",     "CompressionMode = dcZLib"};
    std::size_t at = 0;
    for (const std::string& line : order) {
        const std::size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " in\n" << text;
        at = found;
    }
    EXPECT_EQ(text.find("SourceField"), std::string::npos);

    TFieldListHolder copy;
    ReadComponentText(text, &copy);
    ASSERT_EQ(copy.Fields.Count(), 2);
    const TInternalFieldItem* read = copy.Fields.GetIndex(0);
    EXPECT_EQ(read->DataType(), ftString);
    EXPECT_EQ(read->FieldSize(), 21) << "the size follows the type in the stream";
    EXPECT_EQ(read->FieldGeneratorID(), name->FieldGeneratorID());
    EXPECT_EQ(read->CompressionMode(), dcZLib);
    EXPECT_EQ(copy.Fields.GetIndex(1)->DataType(), ftMemo);
    EXPECT_TRUE(copy.Fields.GetIndex(1)->Hidden());
    EXPECT_EQ(copy.Fields.GetIndex(1)->DataOffset(), 39);
}

// -------------------------------------------------------------- blob states

TEST(BlobMgrTest, CheckBlobStatesRanksInvalidOverModifiedOverValid)
{
    struct TCase {
        std::vector<TBlobState> States;
        TBlobState Expected;
    };
    const std::vector<TCase> cases{
        {{}, bsNone},
        {{bsValid, bsValid}, bsValid},
        {{bsValid, bsModified}, bsModified},
        {{bsModified, bsInvalid}, bsInvalid},
        {{bsInvalid, bsModified, bsValid}, bsInvalid},
        {{bsNone}, bsValid},
    };
    for (const TCase& c : cases) {
        TBlobMgr blobs;
        for (TBlobState s : c.States)
            blobs.Add()->SetState(s);
        EXPECT_EQ(blobs.CheckBlobStates(), c.Expected) << c.States.size();
    }
}

TEST(BlobMgrTest, FindBlobMatchesAnyRecordForRecIdZero)
{
    TBlobMgr blobs;
    TBlob* first = blobs.Add();
    first->SetRecID(10);
    first->SetFieldNo(3);
    TBlob* second = blobs.Add();
    second->SetRecID(20);
    second->SetFieldNo(3);
    TBlob* other = blobs.Add();
    other->SetRecID(20);
    other->SetFieldNo(4);

    EXPECT_EQ(blobs.FindBlob(0, 3), first);
    EXPECT_EQ(blobs.FindBlob(20, 3), second);
    EXPECT_EQ(blobs.FindBlob(20, 4), other);
    EXPECT_EQ(blobs.FindBlob(10, 4), nullptr);
    EXPECT_EQ(blobs.FindBlob(0, 5), nullptr);

    second->SetState(bsModified);
    second->BlobStream()->Write("abc", 3);
    blobs.SetItems(0, second);
    EXPECT_EQ(first->RecID(), 20u);
    EXPECT_EQ(first->State(), bsModified);
    EXPECT_EQ(first->BlobStream()->Size(), 3);

    blobs.InvalidateStreams();
    for (int i = 0; i < blobs.Count(); ++i)
        EXPECT_EQ(blobs.GetItems(i)->State(), bsInvalid);
}

// FindBlob by record goes through the list's index: random adds, inserts,
// deletes, key changes, moves and clears must leave it answering exactly as
// a walk of the list would, duplicates included (first in list order).
TEST(BlobMgrTest, FindBlobAgreesWithTheListThroughEveryChange)
{
    TBlobMgr blobs;
    auto walk = [&](Cardinal RecID, Integer FieldNo) -> TBlob* {
        for (int i = 0; i < blobs.Count(); ++i) {
            TBlob* blob = blobs.GetItems(i);
            if (blob->FieldNo() == FieldNo && (RecID == 0 || blob->RecID() == RecID))
                return blob;
        }
        return nullptr;
    };
    std::mt19937 random(16);
    auto pick = [&](int Below) { return static_cast<int>(random() % static_cast<unsigned>(Below)); };
    for (int step = 0; step < 4000; ++step) {
        const int action = pick(100);
        const int count = blobs.Count();
        if (action < 35 || count == 0) {
            TBlob* blob = action % 2 == 0 || count == 0 ? blobs.Add() : static_cast<TBlob*>(blobs.Insert(pick(count + 1)));
            blob->SetRecID(static_cast<Cardinal>(pick(12)));
            blob->SetFieldNo(pick(3));
        } else if (action < 50) {
            blobs.Delete(pick(count));
        } else if (action < 65) {
            blobs.GetItems(pick(count))->SetRecID(static_cast<Cardinal>(pick(12)));
        } else if (action < 75) {
            blobs.GetItems(pick(count))->SetFieldNo(pick(3));
        } else if (action < 85) {
            blobs.GetItems(pick(count))->SetIndex(pick(count));
        } else if (action < 90) {
            blobs.SetItems(pick(count), blobs.GetItems(pick(count)));
        } else if (action < 91) {
            blobs.Clear();
        } else {
            // An item that was added and changed before any lookup.
            TBlob* blob = blobs.Add();
            blob->SetFieldNo(pick(3));
            blob->SetRecID(static_cast<Cardinal>(pick(12)));
            delete blobs.GetItems(pick(blobs.Count()));
        }
        for (Cardinal recID = 0; recID < 12; ++recID)
            for (Integer fieldNo = 0; fieldNo < 3; ++fieldNo)
                ASSERT_EQ(blobs.FindBlob(recID, fieldNo), walk(recID, fieldNo))
                    << "step " << step << " record " << recID << " field " << fieldNo;
    }
}

// ----------------------------------------------------------- record manager

class RecordMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TInternalFields* fields = Records.InternalFields();
        AddField(*fields, "ID", ftInteger);
        AddField(*fields, "Notes", ftMemo);
        AddField(*fields, "Name", ftString, 21);
        AddField(*fields, "Picture", ftGraphic)->SetFieldIndex(4);
        AddField(*fields, "Flag", ftBoolean)->SetFieldIndex(3);
        fields->SetDefaultOffsets();
        Records.SetRecordSize(fields->RecordSize());
        IO.SetBlockSize(fields->RecordSize());
        IO.SetUsage(IOUsageRecords);
        IO.Open();
    }

    std::vector<Byte> Image(Byte Fill) const
    {
        std::vector<Byte> image(static_cast<std::size_t>(Records.RecordSize()), Fill);
        image[rpoStatus] = 1;
        return image;
    }

    TMemoryIOInterface IO;
    TRecordMgr Records;
};

TEST_F(RecordMgrTest, OpenWithoutARecordSizeIsRefused)
{
    TRecordMgr empty;
    EXPECT_VEK_ERROR(8576, empty.Open(&IO));
    EXPECT_EQ(empty.InternalBuffer(), nullptr);
}

TEST_F(RecordMgrTest, OpenGivesEachBlobFieldAnInvalidState)
{
    Records.Open(&IO);
    EXPECT_EQ(Records.InternalFields()->RecordSize(), Records.RecordSize());
    ASSERT_EQ(Records.BlobMgr()->Count(), 2);
    EXPECT_EQ(Records.BlobMgr()->GetItems(0)->FieldNo(), 1);
    EXPECT_EQ(Records.BlobMgr()->GetItems(1)->FieldNo(), 4);
    EXPECT_EQ(Records.BlobMgr()->CheckBlobStates(), bsInvalid);
    ASSERT_NE(Records.InternalBuffer(), nullptr);
    EXPECT_EQ(Records.InternalBuffer()[0], 0);

    // Opening again starts the blob states afresh.
    Records.Open(&IO);
    EXPECT_EQ(Records.BlobMgr()->Count(), 2);

    Records.Close();
    EXPECT_EQ(Records.BlobMgr()->Count(), 0);
    EXPECT_EQ(Records.InternalFields()->Count(), 0);
    EXPECT_EQ(Records.InternalBuffer(), nullptr);
}

TEST_F(RecordMgrTest, FieldListRefusedByOpenLeavesTheManagerClosed)
{
    Records.InternalFields()->GetIndex(4)->SetFieldIndex(0);
    EXPECT_VEK_ERROR_TEXT(8581, "Field indexes degenerate", Records.Open(&IO));
    EXPECT_EQ(Records.InternalBuffer(), nullptr);
    std::vector<Byte> image = Image(0);
    EXPECT_VEK_ERROR(8576, Records.AddRecord(image.data()));
}

TEST_F(RecordMgrTest, RecordsRoundTripAndTheSecondPrefixByteIsStoredAsZero)
{
    Records.Open(&IO);
    std::vector<Byte> image = Image(0xA5);
    const Cardinal address = Records.AddRecord(image.data());
    EXPECT_NE(address, 0u);
    EXPECT_EQ(image[rpoUnused], 0);
    EXPECT_EQ(std::vector<Byte>(Records.InternalBuffer(), Records.InternalBuffer() + image.size()), image);

    std::vector<Byte> read(image.size(), 0);
    Records.ReadRecord(address, read.data(), false);
    EXPECT_EQ(read[rpoUnused], 0);
    EXPECT_EQ(read, image);

    std::vector<Byte> update = Image(0x3C);
    Records.UpdateRecord(address, update.data());
    void* stored = nullptr;
    Records.ReadRecordByRef(address, stored);
    EXPECT_EQ(std::vector<Byte>(static_cast<Byte*>(stored), static_cast<Byte*>(stored) + update.size()), update);
    EXPECT_EQ(static_cast<Byte*>(stored)[rpoUnused], 0);

    // The internal copy undoes an edit.
    std::vector<Byte> edited = update;
    edited[30] = 0;
    Records.RestoreBufferFromInternalBuffer(edited.data());
    EXPECT_EQ(edited, update);
}

TEST_F(RecordMgrTest, ReadingWithACopyInvalidatesBlobStatesAndDeletingFreesTheBlock)
{
    Records.Open(&IO);
    std::vector<Byte> first = Image(1);
    std::vector<Byte> second = Image(2);
    const Cardinal a = Records.AddRecord(first.data());
    const Cardinal b = Records.AddRecord(second.data());
    for (int i = 0; i < Records.BlobMgr()->Count(); ++i)
        Records.BlobMgr()->GetItems(i)->SetState(bsValid);

    std::vector<Byte> read(first.size());
    Records.ReadRecord(a, read.data(), false);
    EXPECT_EQ(Records.BlobMgr()->CheckBlobStates(), bsValid);
    EXPECT_EQ(Records.InternalBuffer()[20], 2) << "no copy kept";
    Records.ReadRecord(a, read.data(), true);
    EXPECT_EQ(Records.BlobMgr()->CheckBlobStates(), bsInvalid);
    EXPECT_EQ(Records.InternalBuffer()[20], 1);

    Records.BlobMgr()->GetItems(0)->SetState(bsValid);
    Records.BlobMgr()->GetItems(1)->SetState(bsValid);
    Records.DeleteRecord(b);
    EXPECT_EQ(Records.BlobMgr()->CheckBlobStates(), bsInvalid);
    EXPECT_VEK_ERROR_TEXT(8581, "block address not found", Records.ReadRecord(b, read.data(), false));
    EXPECT_EQ(IO.BlockCount(), 1);
}

TEST_F(RecordMgrTest, RecordSizeCannotChangeWhileOpen)
{
    Records.Open(&IO);
    EXPECT_THROW(Records.SetRecordSize(10), EAssertionFailed);
    Records.Close();
    Records.SetRecordSize(10);
    EXPECT_EQ(Records.RecordSize(), 10);
}

} // namespace
} // namespace orvex
