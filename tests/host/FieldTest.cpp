// Field classes: conversions of every class, their errors and texts, native
// data forms, and the field properties the datasets rely on.

#include "ClassesTestUtil.h"
#include "DatasetTestTable.h"
#include "PinnedFormatSettings.h"

#include "host/DateUtils.h"

#include <cstring>
#include <memory>

namespace orvex::testing {
namespace {

// A table with one field "F" of a type, inserting its first record.
class FieldConversions : public PinnedFormatSettings {
protected:
    TField* Make(TFieldType type, int size = 0)
    {
        Table = std::make_unique<TMemTable>();
        Table->FieldDefs()->Add("F", type, size);
        Table->Open();
        Table->Append();
        return Table->FieldByName("F");
    }

    template <class T>
    T Native(TField* field)
    {
        Byte buffer[16] = {};
        EXPECT_TRUE(field->GetData(buffer));
        T value;
        std::memcpy(&value, buffer, sizeof value);
        return value;
    }

    std::unique_ptr<TMemTable> Table;
};

TEST_F(FieldConversions, FieldClassesFollowTheType)
{
    struct Case {
        TFieldType Type;
        int Size;
        const char* ClassName;
        int DataSize;
    };
    const Case cases[] = {
        {ftString, 8, "TStringField", 9},     {ftSmallint, 0, "TSmallintField", 2},
        {ftInteger, 0, "TIntegerField", 4},   {ftWord, 0, "TWordField", 2},
        {ftBoolean, 0, "TBooleanField", 2},   {ftFloat, 0, "TFloatField", 8},
        {ftCurrency, 0, "TCurrencyField", 8}, {ftDate, 0, "TDateField", 4},
        {ftTime, 0, "TTimeField", 4},         {ftDateTime, 0, "TDateTimeField", 8},
        {ftBytes, 6, "TBytesField", 6},       {ftVarBytes, 6, "TVarBytesField", 8},
        {ftAutoInc, 0, "TAutoIncField", 4},   {ftBlob, 0, "TBlobField", 0},
        {ftMemo, 0, "TMemoField", 0},         {ftGraphic, 0, "TGraphicField", 0},
        {ftFmtMemo, 0, "TBlobField", 0},
    };
    for (const Case& c : cases) {
        TField* field = Make(c.Type, c.Size);
        EXPECT_EQ(field->ClassName(), c.ClassName);
        EXPECT_EQ(field->DataType(), c.Type) << c.ClassName;
        EXPECT_EQ(field->DataSize(), c.DataSize) << c.ClassName;
        EXPECT_EQ(field->IsBlob(), c.DataSize == 0) << c.ClassName;
        EXPECT_EQ(field->FieldNo(), 1);
        EXPECT_TRUE(field->IsNull());
        EXPECT_TRUE(VarIsNull(field->Value()));
    }
    TMemTable other;
    other.FieldDefs()->Add("X", ftADT);
    EXPECT_RAISES(other.Open(), EDatabaseError, "Field 'X' is of an unknown type");
}

TEST_F(FieldConversions, StringField)
{
    TField* f = Make(ftString, 5);
    f->SetAsString("abcdefg");
    EXPECT_EQ(f->AsString(), "abcde");
    EXPECT_EQ(VarType(f->Value()), varString);
    f->SetAsString("");
    EXPECT_FALSE(f->IsNull()); // an empty string is a value
    f->SetAsInteger(12);
    EXPECT_EQ(f->AsString(), "12");
    EXPECT_EQ(f->AsInteger(), 12);
    EXPECT_EQ(f->AsFloat(), 12.0);
    f->SetAsFloat(1.5);
    EXPECT_EQ(f->AsString(), "1.5");
    f->SetAsBoolean(true);
    EXPECT_EQ(f->AsString(), "True");
    EXPECT_TRUE(f->AsBoolean());
    for (const char* text : {"yes", "Y", "true", "T"}) {
        f->SetAsString(text);
        EXPECT_TRUE(f->AsBoolean()) << text;
    }
    for (const char* text : {"no", "false", "x", ""}) {
        f->SetAsString(text);
        EXPECT_FALSE(f->AsBoolean()) << text;
    }
    f->SetAsString("x1");
    EXPECT_RAISES(f->AsInteger(), EConvertError, "'x1' is not a valid integer value");
    EXPECT_RAISES(f->AsFloat(), EConvertError, "'x1' is not a valid floating point value");
    f->SetValue(Variant(42));
    EXPECT_EQ(f->AsString(), "42");
    f->SetValue(Null());
    EXPECT_TRUE(f->IsNull());
    EXPECT_EQ(f->AsString(), "");
    f->SetAsDateTime(EncodeDate(2001, 12, 25));
    EXPECT_EQ(f->AsString(), "12/25"); // cut to the field's size
    TField* narrow = Make(ftString, 3);
    narrow->SetAsBoolean(false);
    EXPECT_EQ(narrow->AsString(), "Fal");
    EXPECT_RAISES(narrow->SetSize(-1), EDatabaseError, "Cannot perform this operation on an open dataset");
}

TEST_F(FieldConversions, IntegerFields)
{
    TField* f = Make(ftInteger);
    f->SetAsString("42");
    EXPECT_EQ(f->AsInteger(), 42);
    EXPECT_EQ(f->AsFloat(), 42.0);
    EXPECT_EQ(f->AsString(), "42");
    EXPECT_EQ(VarType(f->Value()), varInteger);
    EXPECT_EQ(Native<std::int32_t>(f), 42);
    f->SetAsFloat(2.5);
    EXPECT_EQ(f->AsInteger(), 2); // half to even
    f->SetAsFloat(3.5);
    EXPECT_EQ(f->AsInteger(), 4);
    f->SetValue(Variant("17"));
    EXPECT_EQ(f->AsInteger(), 17);
    f->SetAsString("");
    EXPECT_TRUE(f->IsNull());
    EXPECT_EQ(f->AsInteger(), 0);
    EXPECT_RAISES(f->SetAsString("4x"), EDatabaseError, "'4x' is not a valid integer value for field 'F'");
    EXPECT_RAISES(f->AsBoolean(), EDatabaseError, "Cannot access field 'F' as type Boolean");
    EXPECT_RAISES(f->SetAsBoolean(true), EDatabaseError, "Cannot access field 'F' as type Boolean");
    EXPECT_RAISES(f->AsDateTime(), EDatabaseError, "Cannot access field 'F' as type DateTime");
    EXPECT_RAISES(f->SetAsFloat(1e12), EDatabaseError,
                  "1000000000000 is not a valid value for field 'F'. The allowed range is -2147483648 to 2147483647");
    auto* ranged = static_cast<TIntegerField*>(f);
    ranged->MinValue = 1;
    ranged->MaxValue = 10;
    EXPECT_RAISES(f->SetAsInteger(11), EDatabaseError,
                  "11 is not a valid value for field 'F'. The allowed range is 1 to 10");
    f->SetAsInteger(10);
    EXPECT_EQ(f->AsInteger(), 10);

    TField* small = Make(ftSmallint);
    small->SetAsInteger(-32768);
    EXPECT_EQ(Native<std::int16_t>(small), -32768);
    EXPECT_EQ(small->AsInteger(), -32768);
    EXPECT_RAISES(small->SetAsInteger(40000), EDatabaseError,
                  "40000 is not a valid value for field 'F'. The allowed range is -32768 to 32767");

    TField* word = Make(ftWord);
    word->SetAsInteger(65535);
    EXPECT_EQ(word->AsInteger(), 65535);
    EXPECT_RAISES(word->SetAsInteger(-1), EDatabaseError,
                  "-1 is not a valid value for field 'F'. The allowed range is 0 to 65535");

    TField* autoInc = Make(ftAutoInc);
    autoInc->SetAsString("7");
    EXPECT_EQ(autoInc->AsVariant().AsInteger(), 7);
}

TEST_F(FieldConversions, FloatAndCurrencyFields)
{
    TField* f = Make(ftFloat);
    f->SetAsString("1.25");
    EXPECT_EQ(f->AsFloat(), 1.25);
    EXPECT_EQ(Native<double>(f), 1.25);
    EXPECT_EQ(VarType(f->Value()), varDouble);
    f->SetAsFloat(2.5);
    EXPECT_EQ(f->AsInteger(), 2);
    f->SetAsFloat(1.0 / 3);
    EXPECT_EQ(f->AsString(), "0.333333333333333");
    static_cast<TFloatField*>(f)->Precision = 5;
    EXPECT_EQ(f->AsString(), "0.33333");
    f->SetAsInteger(3);
    EXPECT_EQ(f->AsString(), "3");
    f->SetValue(Variant("2.75"));
    EXPECT_EQ(f->AsFloat(), 2.75);
    EXPECT_RAISES(f->SetAsString("abc"), EDatabaseError,
                  "'abc' is not a valid floating point value for field 'F'");
    EXPECT_RAISES(f->AsBoolean(), EDatabaseError, "Cannot access field 'F' as type Boolean");
    auto* ranged = static_cast<TFloatField*>(f);
    ranged->MaxValue = 100;
    EXPECT_RAISES(f->SetAsFloat(100.5), EDatabaseError,
                  "100.5 is not a valid value for field 'F'. The allowed range is 0 to 100");
    f->SetAsString("");
    EXPECT_TRUE(f->IsNull());

    TField* money = Make(ftCurrency);
    EXPECT_TRUE(static_cast<TCurrencyField*>(money)->Currency);
    money->SetAsCurrency(Currency{12345});
    EXPECT_EQ(money->AsFloat(), 1.2345);
    EXPECT_EQ(money->AsCurrency().Value, 12345);
}

TEST_F(FieldConversions, BooleanField)
{
    TField* f = Make(ftBoolean);
    f->SetAsBoolean(true);
    EXPECT_EQ(Native<std::int16_t>(f), -1);
    EXPECT_EQ(f->AsString(), "True");
    EXPECT_EQ(VarType(f->Value()), varBoolean);
    f->SetAsString("f");
    EXPECT_FALSE(f->AsBoolean());
    EXPECT_EQ(f->AsString(), "False");
    f->SetValue(Variant("True"));
    EXPECT_TRUE(f->AsBoolean());
    f->SetValue(Variant(0));
    EXPECT_FALSE(f->AsBoolean());
    f->SetAsString("");
    EXPECT_TRUE(f->IsNull());
    EXPECT_EQ(f->AsString(), "");
    EXPECT_RAISES(f->SetAsString("maybe"), EDatabaseError, "'maybe' is not a valid boolean value for field 'F'");
    EXPECT_RAISES(f->AsInteger(), EDatabaseError, "Cannot access field 'F' as type Integer");
    EXPECT_RAISES(f->AsFloat(), EDatabaseError, "Cannot access field 'F' as type Float");

    auto* flag = static_cast<TBooleanField*>(f);
    flag->SetDisplayValues("Yes;No");
    f->SetAsString("y");
    EXPECT_EQ(f->AsString(), "Yes");
    f->SetAsString("NO");
    EXPECT_EQ(f->AsString(), "No");
    // Only a true text: the empty text means False.
    flag->SetDisplayValues("On");
    f->SetAsString("");
    EXPECT_FALSE(f->IsNull());
    EXPECT_FALSE(f->AsBoolean());
}

TEST_F(FieldConversions, DateAndTimeFieldsKeepTheirNativeForms)
{
    const TDateTime christmas = EncodeDate(2001, 12, 25);

    TField* date = Make(ftDate);
    date->SetAsDateTime(christmas + 0.75);
    EXPECT_EQ(Native<std::int32_t>(date), 37250 + DateDelta);
    EXPECT_EQ(date->AsDateTime(), christmas); // the time is dropped
    EXPECT_EQ(date->AsString(), "12/25/2001");
    date->SetAsDateTime(0);
    EXPECT_EQ(Native<std::int32_t>(date), 693594); // 30 Dec 1899
    date->SetAsString("1/2/2003");
    EXPECT_EQ(date->AsDateTime(), EncodeDate(2003, 1, 2));
    EXPECT_EQ(VarType(date->Value()), varDate);
    EXPECT_RAISES(date->SetAsString("xx"), EConvertError, "'xx' is not a valid date");
    EXPECT_RAISES(date->AsInteger(), EDatabaseError, "Cannot access field 'F' as type Integer");
    date->SetAsString("");
    EXPECT_TRUE(date->IsNull());
    EXPECT_EQ(date->AsString(), "");

    TField* time = Make(ftTime);
    time->SetAsDateTime(christmas + 0.75);
    EXPECT_EQ(Native<std::int32_t>(time), 64800000); // milliseconds of 18:00
    EXPECT_EQ(time->AsDateTime(), 0.75);
    EXPECT_EQ(time->AsString(), "6:00:00 PM");
    time->SetAsString("10:30 AM");
    EXPECT_EQ(Native<std::int32_t>(time), 37800000);

    TField* stamp = Make(ftDateTime);
    stamp->SetAsDateTime(christmas + 0.5);
    EXPECT_EQ(Native<double>(stamp), (37250.0 + DateDelta) * MSecsPerDay + 43200000);
    EXPECT_EQ(stamp->AsDateTime(), christmas + 0.5);
    EXPECT_EQ(stamp->AsString(), "12/25/2001 12:00:00 PM");
    EXPECT_EQ(stamp->AsFloat(), christmas + 0.5);
    stamp->SetAsFloat(christmas);
    EXPECT_EQ(stamp->AsString(), "12/25/2001"); // midnight shows the date alone
    static_cast<TDateTimeField*>(stamp)->DisplayFormat = "yyyy-mm-dd";
    EXPECT_EQ(stamp->DisplayText(), "2001-12-25");
    EXPECT_EQ(stamp->Text(), "12/25/2001");
    stamp->SetValue(Variant("12/26/2001 6:00 AM"));
    EXPECT_EQ(stamp->AsDateTime(), christmas + 1.25);

    Byte native[8];
    DateTimeToNative(ftDateTime, -1.5, native); // before 1899 too
    EXPECT_EQ(NativeToDateTime(ftDateTime, native), -1.5);
}

TEST_F(FieldConversions, BinaryFields)
{
    TField* bytes = Make(ftBytes, 4);
    bytes->SetAsString("ab");
    EXPECT_EQ(bytes->AsString(), std::string("ab\0\0", 4)); // padded
    Variant value = bytes->Value();
    EXPECT_EQ(VarType(value), varArray | varByte);
    EXPECT_EQ(VarArrayHighBound(value, 1), 3);
    EXPECT_EQ(value.GetElement(1).AsInteger(), 'b');
    bytes->SetValue(VarArrayOf({1, 2, 3}));
    EXPECT_EQ(bytes->AsString(), std::string("\1\2\3\0", 4));
    EXPECT_RAISES(bytes->SetValue(VarArrayOf({1, 2, 3, 4, 5})), EDatabaseError,
                  "Invalid variant type or size for field 'F'");
    EXPECT_RAISES(bytes->SetValue(Variant(5)), EDatabaseError, "Invalid variant type or size for field 'F'");
    EXPECT_EQ(bytes->DisplayText(), "(BYTES)");
    EXPECT_RAISES(bytes->AsInteger(), EDatabaseError, "Cannot access field 'F' as type Integer");

    TField* counted = Make(ftVarBytes, 4);
    EXPECT_EQ(counted->DisplayText(), "(VarBytes)");
    counted->SetAsString("xyz");
    EXPECT_EQ(Native<std::uint16_t>(counted), 3); // the length comes first
    EXPECT_EQ(counted->AsString(), "xyz");
    EXPECT_EQ(VarArrayHighBound(counted->Value(), 1), 2);
}

TEST_F(FieldConversions, BlobFields)
{
    for (TFieldType type : {ftBlob, ftMemo, ftGraphic, ftFmtMemo}) {
        TField* f = Make(type);
        f->SetAsString(std::string("a\0b", 3));
        EXPECT_EQ(f->AsString(), std::string("a\0b", 3));
        EXPECT_EQ(VarType(f->Value()), varString);
        f->SetValue(VarArrayOf({65, 66}));
        EXPECT_EQ(f->AsString(), "AB");
        f->SetValue(Null());
        EXPECT_TRUE(f->IsNull());
        EXPECT_RAISES(f->AsInteger(), EDatabaseError, "Cannot access field 'F' as type Integer");
        EXPECT_RAISES(f->AsDateTime(), EDatabaseError, "Cannot access field 'F' as type DateTime");
    }
    TField* memo = Make(ftMemo);
    EXPECT_EQ(memo->DisplayText(), "(Memo)");
    memo->SetAsString("text");
    EXPECT_EQ(memo->DisplayText(), "(MEMO)");
    EXPECT_EQ(Make(ftGraphic)->DisplayText(), "(Graphic)");
    EXPECT_EQ(Make(ftBlob)->DisplayText(), "(Blob)");

    ScratchDir dir;
    memo = Make(ftMemo);
    memo->SetAsString("saved");
    static_cast<TBlobField*>(memo)->SaveToFile(dir.File("memo.txt"));
    memo->Clear();
    static_cast<TBlobField*>(memo)->LoadFromFile(dir.File("memo.txt"));
    EXPECT_EQ(memo->AsString(), "saved");
}

TEST_F(FieldConversions, TextEventsAndAssignment)
{
    TField* f = Make(ftInteger);
    f->SetAsInteger(5);
    f->OnGetText = [](TField* sender, std::string& text, bool display) {
        text = (display ? "#" : "") + sender->AsString();
    };
    EXPECT_EQ(f->DisplayText(), "#5");
    EXPECT_EQ(f->Text(), "5");
    f->OnSetText = [](TField* sender, const std::string& text) { sender->SetAsInteger(StrToInt(text) * 10); };
    f->SetText("4");
    EXPECT_EQ(f->AsInteger(), 40);

    EXPECT_EQ(f->DisplayName(), "F");
    f->SetDisplayLabel("Amount");
    EXPECT_EQ(f->DisplayName(), "Amount");
    EXPECT_RAISES(f->AsBoolean(), EDatabaseError, "Cannot access field 'Amount' as type Boolean");

    TMemTable other;
    other.FieldDefs()->Add("S", ftString, 5);
    other.Open();
    other.Append();
    TField* s = other.FieldByName("S");
    s->Assign(f);
    EXPECT_EQ(s->AsString(), "40");
    s->Assign(nullptr);
    EXPECT_TRUE(s->IsNull());

    // Values through the dataset, one field or several.
    Table->FieldDefs();
    Table->SetFieldValues("F", Variant(8));
    EXPECT_EQ(Table->FieldValues("F").AsInteger(), 8);

    TIntegerField loose(nullptr);
    loose.SetFieldName("L");
    EXPECT_RAISES(loose.AsInteger(), EDatabaseError, "Field 'L' has no dataset");
}

TEST_F(FieldConversions, SeveralFieldValuesAtOnce)
{
    Table = std::make_unique<TMemTable>();
    Table->FieldDefs()->Add("A", ftInteger);
    Table->FieldDefs()->Add("B", ftString, 4);
    Table->Open();
    Table->Append();
    Table->SetFieldValues("A; B", VarArrayOf({3, "x"}));
    const Variant both = Table->FieldValues("A;B");
    EXPECT_EQ(both.GetElement(0).AsInteger(), 3);
    EXPECT_EQ(both.GetElement(1).AsString(), "x");
    std::vector<TField*> fields;
    Table->GetFieldList(fields, "B;A");
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0]->FieldName(), "B");
    EXPECT_RAISES(Table->GetFieldList(fields, "A;C"), EDatabaseError, "Field 'C' not found");
    EXPECT_EQ(Table->FieldByNumber(2)->FieldName(), "B");
    EXPECT_EQ(Table->Fields()->Fields(1)->Index(), 1);
    EXPECT_RAISES(Table->Fields()->Fields(2), EDatabaseError, "Field index out of range");
}

} // namespace
} // namespace orvex::testing
