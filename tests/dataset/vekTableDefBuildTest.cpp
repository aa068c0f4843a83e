// Building table definitions from field and index layouts: limits, internal
// sizes, key fields, the hidden record-ID key field and the hidden index, the
// key-check value; and the order the built indexes give to equal keys.

#include "vekConnTestUtil.h"

#include "storage/vekByteOrder.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnitManager.h"

namespace orvex {
namespace {

constexpr const char* Context = "TVekDataSet.SetTableDef";

class TableDefBuildTest : public ::testing::Test {
protected:
    TableDefBuildTest() : fields(nullptr), indexes(nullptr), def(nullptr) { settings.TableName = "Orders"; }

    void Build(bool Memory = false) { VekSetTableDef(&def, Memory, &fields, &indexes, settings, Context, nullptr); }
    // The key fields of one index, in order.
    std::vector<TKeyFieldItem*> KeysOf(const std::string& Index)
    {
        std::vector<TKeyFieldItem*> keys;
        for (int i = 0; i < def.KeyFields()->Count(); ++i)
            if (def.KeyFields()->GetItems(i)->IndexName() == Index)
                keys.push_back(def.KeyFields()->GetItems(i));
        return keys;
    }

    TFieldDefs fields;
    TIndexDefs indexes;
    TVekTableDefSettings settings;
    TTableDef def;
};

TEST_F(TableDefBuildTest, FieldsGetTheirInternalSizesAndTheDefaultLayout)
{
    settings.TableOwner = "clerk";
    settings.SortOrder = soASCII;
    settings.BlobBlockSize = 2048;
    settings.BlobCompression = true;
    fields.Add("ID", ftInteger, 0, true);
    fields.Add("Name", ftString, 30);
    fields.Add("Raw", ftBytes, 6);
    fields.Add("Notes", ftMemo);
    Build();

    EXPECT_EQ(def.TableName(), "Orders");
    EXPECT_EQ(def.CreatedBy(), "clerk");
    EXPECT_EQ(def.SortOrder(), soASCII);
    EXPECT_EQ(def.DefaultBlobSize(), 2048);
    EXPECT_TRUE(def.BlobCompression());
    EXPECT_FALSE(def.Encrypted());
    EXPECT_EQ(def.AltName(), "");
    EXPECT_TRUE(def.UsesBlobs());
    TInternalFields* list = def.InternalFields();
    ASSERT_EQ(list->Count(), 4);
    EXPECT_TRUE(list->GetIndex(0)->Required());
    EXPECT_EQ(list->GetIndex(0)->FieldSize(), 4);
    EXPECT_EQ(list->GetIndex(1)->FieldSize(), 31);
    EXPECT_TRUE(list->GetIndex(1)->IsVariable());
    EXPECT_EQ(list->GetIndex(2)->FieldSize(), 6);
    EXPECT_FALSE(list->GetIndex(2)->IsVariable());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list->GetIndex(i)->FieldNo(), i);
        EXPECT_EQ(list->GetIndex(i)->FieldIndex(), i);
        EXPECT_EQ(list->GetIndex(i)->NullFlagOffset(), 14 + i);
    }
    // Prefix 14, four null flags, then ID 4, a length marker and 31, 6, 8.
    EXPECT_EQ(list->GetIndex(0)->DataOffset(), 18);
    EXPECT_EQ(list->GetIndex(1)->SizeMarkerOffset(), 22);
    EXPECT_EQ(def.RecordSize(), 18 + 4 + 2 + 31 + 6 + 8);
}

TEST_F(TableDefBuildTest, LimitsOfFieldsAndIndexes)
{
    const auto buildWith = [&](int FieldCount, int IndexCount) {
        fields.Clear();
        indexes.Clear();
        for (int i = 0; i < FieldCount; ++i)
            fields.Add("F" + std::to_string(i), ftSmallint);
        for (int i = 0; i < IndexCount; ++i)
            indexes.Add("ix" + std::to_string(i), "F" + std::to_string(i % FieldCount), 0);
        Build();
    };
    EXPECT_VEK_ERROR_TEXT(9492, "0 is not a valid value (min. 1, max. 255)", buildWith(0, 0));
    EXPECT_VEK_ERROR_TEXT(9492, "256 is not a valid value (min. 1, max. 255)", buildWith(256, 0));
    EXPECT_NO_THROW(buildWith(255, 0));
    EXPECT_NO_THROW(buildWith(1, 1));
    EXPECT_NO_THROW(buildWith(40, 32));
    EXPECT_EQ(def.InternalIndexDefs()->Count(), 32);
    EXPECT_VEK_ERROR_TEXT(9604, "Maximum allowed is 32", buildWith(40, 33));
}

TEST_F(TableDefBuildTest, FieldSizesAndTypes)
{
    const struct {
        TFieldType Type;
        int Size;
        Integer Code;
    } cases[] = {
        {ftString, 255, 0},    {ftString, 256, 9606}, {ftString, 1, 0},     {ftString, 0, 9606},
        {ftBytes, 2, 0},       {ftBytes, 256, 0},     {ftBytes, 1, 9606},   {ftBytes, 257, 9606},
        {ftString, -5, 9606},  {ftWideString, 10, 10000}, {ftBCD, 4, 10000}, {ftVariant, 0, 10000},
    };
    for (const auto& c : cases) {
        fields.Clear();
        fields.Add("Field", c.Type, c.Size);
        std::string message;
        EXPECT_EQ(conntest::VekErrorCode([&] { Build(); }, &message), c.Code)
            << FieldTypeNames[c.Type] << " " << c.Size << ": " << message;
        if (c.Code == 9606) {
            EXPECT_NE(message.find("Field is not a valid value (min. length 1, max. length 255)"), std::string::npos);
        }
    }
}

TEST_F(TableDefBuildTest, NamesAreChecked)
{
    const struct {
        std::string Table;
        std::string Field;
        Integer Code;
        std::string Text;
    } cases[] = {
        {"", "F", 10039, "is not a valid value (min. length 1, max. length 40)"},
        {std::string(41, 't'), "F", 10039, ""},
        {std::string(40, 't'), "F", 0, ""},
        {"all", "F", 10041, "all: Table"},
        {"ALL", "F", 10041, "ALL: Table"},
        {"T", "aLl", 10041, "aLl: Field"},
        {"T", "", 10041, ": Field"},
        {"T", std::string(41, 'f'), 10038, "(min. length 1, max. length 40)"},
        {"T", std::string(40, 'f'), 0, ""},
        {"Allowance", "Alls", 0, ""},
    };
    for (const auto& c : cases) {
        settings.TableName = c.Table;
        fields.Clear();
        auto* field = fields.AddFieldDef();
        field->SetDataType(ftInteger);
        // The host's definitions refuse duplicate names, not odd ones.
        if (!c.Field.empty())
            field->SetName(c.Field);
        if (c.Code == 0) {
            EXPECT_NO_THROW(Build()) << c.Table << " / " << c.Field;
        } else {
            EXPECT_TRUE(conntest::RaisesVekError(c.Code, c.Text, [&] { Build(); })) << c.Table << " / " << c.Field;
        }
    }
    EXPECT_VEK_ERROR(10041, VekValidateObjectName("All", "Group", Context, nullptr));
    EXPECT_NO_THROW(VekValidateObjectName("A", "Group", Context, nullptr));
}

TEST_F(TableDefBuildTest, ATableWithoutIndexesGetsTheHiddenRecordIDIndex)
{
    fields.Add("Name", ftString, 10);
    Build();
    ASSERT_EQ(def.InternalIndexDefs()->Count(), 1);
    TInternalIndexDef* index = def.InternalIndexDefs()->GetItems(0);
    EXPECT_EQ(index->IndexName(), "_LogicalRecNo");
    EXPECT_TRUE(index->Hidden());
    EXPECT_FALSE(index->Unique());
    EXPECT_TRUE(index->Maintained());
    EXPECT_EQ(index->IndexPageSize(), 4096);
    const auto keys = KeysOf("_LogicalRecNo");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(keys[0]->Hidden());
    EXPECT_EQ(keys[0]->DataType(), ftInteger);
    EXPECT_EQ(keys[0]->RecBufOffset(), 6);
    EXPECT_EQ(keys[0]->NullFlagOffset(), 0);
    EXPECT_EQ(keys[0]->PhysicalFieldNo(), -1);
    EXPECT_EQ(index->KeyDataOffset(), 1);
}

TEST_F(TableDefBuildTest, IndexesAndTheirKeyFields)
{
    fields.Add("ID", ftInteger);
    fields.Add("Name", ftString, 20);
    fields.Add("Town", ftString, 20);
    fields.Add("Photo", ftGraphic);
    indexes.Add("", "ID", ixPrimary | ixUnique);
    indexes.Add("ixName", "Name;Town", ixCaseInsensitive | ixDescending);
    auto* mixed = indexes.AddIndexDef();
    mixed->SetName("ixMixed");
    mixed->SetFields("Town;Name");
    mixed->SetOptions(ixDescending | ixCaseInsensitive);
    mixed->SetDescFields("Name");
    mixed->SetCaseInsFields("town");
    Build(true);

    ASSERT_EQ(def.InternalIndexDefs()->Count(), 3);
    TInternalIndexDef* primary = def.InternalIndexDefs()->GetItems(0);
    EXPECT_TRUE(primary->Primary());
    EXPECT_TRUE(primary->Unique());
    EXPECT_TRUE(primary->Memory());
    EXPECT_EQ(KeysOf("").size(), 1u); // unique: no record-ID key field
    EXPECT_EQ(def.InternalIndexDefs()->GetItems(2)->IndexSequence(), 2);

    const auto name = KeysOf("ixName");
    ASSERT_EQ(name.size(), 3u);
    EXPECT_EQ(name[0]->FieldName(), "Name");
    EXPECT_EQ(name[0]->KeyIndex(), 0);
    EXPECT_EQ(name[1]->KeyIndex(), 1);
    EXPECT_TRUE(name[0]->CaseInsensitive());
    EXPECT_TRUE(name[1]->Descending());
    EXPECT_EQ(name[1]->SizeMarkerOffset(), def.InternalFields()->GetIndex(2)->SizeMarkerOffset());
    EXPECT_EQ(name[1]->PhysicalFieldNo(), 2);
    EXPECT_TRUE(name[2]->Hidden()); // the record ID, descending with the index
    EXPECT_TRUE(name[2]->Descending());
    EXPECT_FALSE(name[2]->CaseInsensitive());
    TInternalIndexDef* nameIndex = def.InternalIndexDefs()->GetItems(1);
    EXPECT_EQ(nameIndex->KeyDataOffset(), 1);
    EXPECT_EQ(nameIndex->MaximumKeySize(), CalculateMaximumKeySize([&] {
                                               static TKeyFields own;
                                               own.Clear();
                                               for (TKeyFieldItem* key : name)
                                                   own.Add()->Assign(key);
                                               return &own;
                                           }()) + 1);

    // Listed fields only, when lists are given.
    const auto mixedKeys = KeysOf("ixMixed");
    ASSERT_EQ(mixedKeys.size(), 3u);
    EXPECT_FALSE(mixedKeys[0]->Descending());
    EXPECT_TRUE(mixedKeys[0]->CaseInsensitive());
    EXPECT_TRUE(mixedKeys[1]->Descending());
    EXPECT_FALSE(mixedKeys[1]->CaseInsensitive());
    EXPECT_TRUE(mixedKeys[2]->Descending()); // ixDescending still orders the record ID

    indexes.Clear();
    indexes.Add("ixMissing", "Nope", 0);
    EXPECT_VEK_ERROR_TEXT(10116, "Nope", Build());
    indexes.Clear();
    indexes.Add("ixPhoto", "Photo", 0);
    EXPECT_VEK_ERROR_TEXT(10117, "Photo", Build());
}

TEST_F(TableDefBuildTest, KeysLongerThan500BytesAreRefused)
{
    fields.Add("A", ftString, 255);
    fields.Add("B", ftString, 255);
    fields.Add("C", ftString, 200);
    indexes.Add("ixAC", "A;C", ixUnique);
    EXPECT_NO_THROW(Build());
    indexes.Add("ixAB", "A;B", ixUnique);
    EXPECT_VEK_ERROR_TEXT(9602, "ixAB has not been set or is out of range", Build());
}

TEST_F(TableDefBuildTest, EncryptedTablesCarryTheKeyCheckValue)
{
    fields.Add("A", ftInteger);
    settings.EncryptionLevel = encWeak;
    Build();
    EXPECT_TRUE(def.Encrypted());
    EXPECT_EQ(def.EncryptionLevel(), encWeak);
    EXPECT_EQ(def.AltName().size(), 6u);
    EXPECT_NE(def.AltName(), "Orders");
    EXPECT_EQ(def.AltName(), VekTableKeyCheckValue("Orders"));
    EXPECT_TRUE(VekCheckTableKeyValue(&def));
    // A definition copied under another name no longer matches.
    def.SetTableName("Copied");
    EXPECT_FALSE(VekCheckTableKeyValue(&def));
}

TEST_F(TableDefBuildTest, RestructureDefinitionsBuildTheSameWay)
{
    TRestructureFieldDefs rsFields;
    rsFields.AddAndSetFieldDef("ID", ftInteger, 0);
    rsFields.AddAndSetFieldDef("Name", ftString, 12);
    rsFields.AddAndSetFieldDef("Gone", ftInteger, 0)->SetChangeStatus(dcDeleted);
    TRestructureIndexDefs rsIndexes;
    VekSetTableDefFromRSDefs(&def, false, &rsFields, &rsIndexes, settings, "TVekDataSet.SetTableDefFromRSDefs",
                             nullptr);
    EXPECT_EQ(def.InternalFields()->Count(), 2);
    EXPECT_EQ(def.InternalFields()->GetIndex(1)->FieldSize(), 13);
    ASSERT_EQ(def.InternalIndexDefs()->Count(), 1);
    EXPECT_EQ(def.InternalIndexDefs()->GetItems(0)->IndexName(), "_LogicalRecNo");
    EXPECT_EQ(rsIndexes.Count(), 0); // the caller's definitions are left alone

    rsIndexes.AddAndSetIndexDef("ixName", "Name", ixUnique);
    VekSetTableDefFromRSDefs(&def, false, &rsFields, &rsIndexes, settings, "TVekDataSet.SetTableDefFromRSDefs",
                             nullptr);
    ASSERT_EQ(def.InternalIndexDefs()->Count(), 1);
    EXPECT_EQ(def.InternalIndexDefs()->GetItems(0)->IndexName(), "ixName");
    EXPECT_EQ(KeysOf("ixName").size(), 1u);
}

// Equal keys of a non-unique index are kept apart, and ordered, by the
// record ID: ascending, or descending with a descending index.
TEST_F(TableDefBuildTest, EqualKeysAreOrderedByRecordID)
{
    fields.Add("Grp", ftInteger);
    indexes.Add("ixUp", "Grp", 0);
    indexes.Add("ixDown", "Grp", ixDescending);

    TVekDataBase db(nullptr);
    db.SetDataBaseName("MEMORY");
    db.Open();
    Build(true);
    db.CreateTable(&def, false);
    TTableDef open(nullptr);
    open.SetMemory(true);
    db.OpenTable("Orders", &open);

    TRecordMgr records;
    records.InternalFields()->Assign(open.InternalFields());
    records.SetRecordSize(open.RecordSize());
    records.Open(open.RecordInterface());
    TIndexManager keys;
    keys.Assign(open.InternalIndexDefs());
    keys.AssignKeyFields(open.KeyFields());
    keys.SetIOInterface(open.IndexInterface());
    keys.SetTableHeader(open.TableHeader());
    keys.SetDBStringCompare(DBANSICompareStrings);
    keys.Open();

    const Integer groups[] = {5, 3, 5, 3, 5};
    std::vector<Cardinal> addresses;
    const TInternalFieldItem* field = open.InternalFields()->GetIndex(0);
    for (int i = 0; i < 5; ++i) {
        std::vector<Byte> image(static_cast<std::size_t>(open.RecordSize()), 0);
        image[rpoStatus] = 1;
        WriteLE32(&image[rpoOwnerTag], (static_cast<Cardinal>(open.TableID()) << 4) | 9);
        WriteLE32(&image[rpoRecordID], static_cast<Cardinal>(i + 1));
        image[static_cast<std::size_t>(field->NullFlagOffset())] = 1;
        WriteLE32(&image[static_cast<std::size_t>(field->DataOffset())], static_cast<Cardinal>(groups[i]));
        const Cardinal address = records.AddRecord(image.data());
        addresses.push_back(address);
        for (int k = 0; k < keys.Count(); ++k) {
            TIndexItem* index = keys.GetItems(k);
            index->CreateKeyBuffer(image.data(), {});
            ASSERT_EQ(index->InsertKey(address), 0) << "equal keys were taken for duplicates";
        }
    }
    const auto order = [&](const std::string& Name) {
        std::vector<int> rows;
        TIndexItem* index = keys.FindIndex(Name);
        if (index->SetRecordNo(1) == 0)
            return rows;
        do
            rows.push_back(static_cast<int>(std::find(addresses.begin(), addresses.end(), index->GetRecordAddress()) -
                                            addresses.begin()) + 1);
        while (index->NextKey());
        return rows;
    };
    EXPECT_EQ(order("ixUp"), (std::vector<int>{2, 4, 1, 3, 5}));
    EXPECT_EQ(order("ixDown"), (std::vector<int>{5, 3, 1, 4, 2}));
    keys.Close();
    records.Close();
    db.CloseTable(&open);
}

} // namespace
} // namespace orvex
