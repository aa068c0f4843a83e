// TField, the field classes and TFields.

#include "host/DBFields.h"

#include "host/DBConsts.h"
#include "host/DataSet.h"
#include "host/DateUtils.h"
#include "host/FloatText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace orvex {

namespace {
constexpr int MaxStringSize = 8192;

template <class T>
T ReadAs(const void* buffer)
{
    T value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

template <class T>
void WriteAs(void* buffer, T value)
{
    std::memcpy(buffer, &value, sizeof value);
}

// Writes a whole value into a blob stream. The value is written even when it
// is empty: a blob stream stores nothing unless it was written to, so an
// empty write is what replaces a value by an empty one.
void WriteValue(TStream* stream, const void* data, std::int32_t count)
{
    if (stream->Write(data, count) != count)
        throw EWriteError("Stream write error");
}

// Room for any fixed-size native value.
struct NativeBuffer {
    alignas(8) Byte Data[16] = {};
};
} // namespace

void DateTimeToNative(TFieldType dataType, TDateTime value, void* buffer)
{
    const TTimeStamp stamp = DateTimeToTimeStamp(value);
    switch (dataType) {
    case ftDate: WriteAs<std::int32_t>(buffer, stamp.Date); break;
    case ftTime: WriteAs<std::int32_t>(buffer, stamp.Time); break;
    default: WriteAs<double>(buffer, TimeStampToMSecs(stamp)); break;
    }
}

TDateTime NativeToDateTime(TFieldType dataType, const void* buffer)
{
    TTimeStamp stamp{};
    switch (dataType) {
    case ftDate:
        stamp.Date = ReadAs<std::int32_t>(buffer);
        stamp.Time = 0;
        break;
    case ftTime:
        stamp.Date = DateDelta;
        stamp.Time = ReadAs<std::int32_t>(buffer);
        break;
    default: stamp = MSecsToTimeStamp(ReadAs<double>(buffer)); break;
    }
    return TimeStampToDateTime(stamp);
}

// ------------------------------------------------------------------ TField

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField()
{
    if (FDataSet)
        FDataSet->FFields->Remove(this);
}

void TField::CheckInactive()
{
    if (FDataSet)
        FDataSet->CheckInactive();
}

void TField::SetDataSet(TDataSet* dataSet)
{
    if (dataSet == FDataSet)
        return;
    CheckInactive();
    if (dataSet) {
        dataSet->CheckInactive();
        dataSet->FFields->CheckFieldName(FFieldName);
    }
    if (FDataSet)
        FDataSet->FFields->Remove(this);
    if (dataSet)
        dataSet->FFields->Add(this);
}

void TField::SetFieldName(const std::string& value)
{
    CheckInactive();
    if (FDataSet && AnsiCompareText(value, FFieldName) != 0)
        FDataSet->FFields->CheckFieldName(value);
    FFieldName = value;
}

void TField::SetFieldKind(TFieldKind value)
{
    if (FFieldKind == value)
        return;
    CheckInactive();
    FFieldKind = value;
}

void TField::SetSize(int value)
{
    CheckInactive();
    CheckTypeSize(value);
    FSize = value;
}

void TField::CheckTypeSize(int value)
{
    if (value != 0)
        DatabaseError(SInvalidFieldSize);
}

int TField::Index() const
{
    return FDataSet ? FDataSet->FFields->IndexOf(this) : -1;
}

std::string TField::DisplayName() const
{
    return FDisplayLabel.empty() ? FFieldName : FDisplayLabel;
}

bool TField::GetData(void* buffer)
{
    if (!FDataSet)
        DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
    if (FValidating) {
        if (FValueBuffer && buffer)
            std::memcpy(buffer, FValueBuffer, static_cast<std::size_t>(DataSize()));
        return FValueBuffer != nullptr;
    }
    return FDataSet->GetFieldData(this, buffer);
}

void TField::SetData(const void* buffer)
{
    if (!FDataSet)
        DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
    // Key and filter buffers, and calculated values, may be written whatever
    // ReadOnly says; the record itself may not.
    if (FReadOnly && (FFieldKind == fkData || FFieldKind == fkInternalCalc) &&
        StateIn(FDataSet->State(), StateBit(dsEdit) | StateBit(dsInsert) | StateBit(dsNewValue)))
        DatabaseErrorFmt(SFieldReadOnly, {DisplayName()});
    FDataSet->SetFieldData(this, buffer);
}

void TField::Validate(const void* buffer)
{
    if (!OnValidate)
        return;
    FValueBuffer = buffer;
    FValidating = true;
    try {
        OnValidate(this);
    } catch (...) {
        FValidating = false;
        FValueBuffer = nullptr;
        throw;
    }
    FValidating = false;
    FValueBuffer = nullptr;
}

bool TField::CanModify()
{
    return !FReadOnly && (FFieldKind == fkData || FFieldKind == fkInternalCalc) && FDataSet &&
           FDataSet->Active() && FDataSet->CanModify();
}

void TField::Change()
{
    if (OnChange)
        OnChange(this);
}

bool TField::IsNull()
{
    return !GetData(nullptr);
}

void TField::Clear()
{
    SetData(nullptr);
}

void TField::SetAsVariant(const Variant& value)
{
    if (value.IsNull() || value.IsEmpty())
        Clear();
    else
        SetVarValue(value);
}

std::string TField::Text()
{
    std::string text;
    if (OnGetText)
        OnGetText(this, text, false);
    else
        GetText(text, false);
    return text;
}

std::string TField::DisplayText()
{
    std::string text;
    if (OnGetText)
        OnGetText(this, text, true);
    else
        GetText(text, true);
    return text;
}

void TField::SetText(const std::string& value)
{
    if (OnSetText)
        OnSetText(this, value);
    else
        SetAsString(value);
}

void TField::GetText(std::string& text, bool displayText)
{
    text = GetAsString();
}

void TField::Assign(TPersistent* source)
{
    if (!source) {
        Clear();
        return;
    }
    if (auto* field = dynamic_cast<TField*>(source)) {
        SetValue(field->Value());
        return;
    }
    TComponent::Assign(source);
}

void TField::AccessError(const char* typeName)
{
    DatabaseErrorFmt(SFieldAccessError, {DisplayName(), typeName});
}

void TField::RangeError(double value, double min, double max)
{
    DatabaseErrorFmt(SFieldRangeError, {value, DisplayName(), min, max});
}

std::string TField::GetClassDesc()
{
    std::string name = ClassName();
    if (!name.empty() && name[0] == 'T')
        name.erase(0, 1);
    if (name.size() > 5 && name.compare(name.size() - 5, 5, "Field") == 0)
        name.erase(name.size() - 5);
    const std::string desc = "(" + name + ")";
    return IsNull() ? desc : AnsiUpperCase(desc);
}

void TField::SetLookupDataSet(TDataSet* value)
{
    if (value == FLookupDataSet)
        return;
    CheckInactive();
    if (FLookupDataSet)
        RemoveFreeNotification(FLookupDataSet);
    FLookupDataSet = value;
    if (value)
        FreeNotification(value);
}

void TField::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == FLookupDataSet)
        FLookupDataSet = nullptr;
}

void TField::CalcLookupValue()
{
    if (FLookupDataSet && FLookupDataSet->Active())
        SetValue(FLookupDataSet->Lookup(LookupKeyFields, FDataSet->FieldValues(KeyFields),
                                        LookupResultField));
}

std::string TField::GetAsString() { return GetClassDesc(); }
void TField::SetAsStringValue(const std::string&) { AccessError("String"); }
int TField::GetAsInteger() { AccessError("Integer"); }
void TField::SetAsIntegerValue(int) { AccessError("Integer"); }
double TField::GetAsFloat() { AccessError("Float"); }
void TField::SetAsFloatValue(double) { AccessError("Float"); }
bool TField::GetAsBoolean() { AccessError("Boolean"); }
void TField::SetAsBooleanValue(bool) { AccessError("Boolean"); }
TDateTime TField::GetAsDateTime() { AccessError("DateTime"); }
void TField::SetAsDateTimeValue(TDateTime) { AccessError("DateTime"); }
Variant TField::GetAsVariant() { AccessError("Variant"); }
void TField::SetVarValue(const Variant&) { AccessError("Variant"); }

// ------------------------------------------------------------ TStringField

TStringField::TStringField(TComponent* owner) : TField(owner)
{
    SetDataType(ftString);
    SetSize(20);
}

void TStringField::CheckTypeSize(int value)
{
    if (value < 0 || value > MaxStringSize)
        DatabaseError(SInvalidFieldSize);
}

std::string TStringField::GetAsString()
{
    // A few bytes of slack: datasets may clear a little more than the value.
    std::vector<char> buffer(static_cast<std::size_t>(DataSize()) + 8, '\0');
    if (!GetData(buffer.data()))
        return {};
    return std::string(buffer.data(), strnlen(buffer.data(), static_cast<std::size_t>(DataSize())));
}

void TStringField::SetAsStringValue(const std::string& value)
{
    std::vector<char> buffer(static_cast<std::size_t>(DataSize()), '\0');
    std::memcpy(buffer.data(), value.data(), std::min(value.size(), static_cast<std::size_t>(Size())));
    SetData(buffer.data());
}

int TStringField::GetAsInteger() { return StrToInt(GetAsString()); }
void TStringField::SetAsIntegerValue(int value) { SetAsString(IntToStr(value)); }
double TStringField::GetAsFloat() { return StrToFloat(GetAsString()); }
void TStringField::SetAsFloatValue(double value) { SetAsString(FloatToStr(value)); }
TDateTime TStringField::GetAsDateTime() { return StrToDateTime(GetAsString()); }
void TStringField::SetAsDateTimeValue(TDateTime value) { SetAsString(DateTimeToStr(value)); }

bool TStringField::GetAsBoolean()
{
    const std::string s = GetAsString();
    return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}

void TStringField::SetAsBooleanValue(bool value)
{
    SetAsString(Copy(value ? STextTrue : STextFalse, 1, Size()));
}

Variant TStringField::GetAsVariant()
{
    if (IsNull())
        return Null();
    return Variant(GetAsString());
}

void TStringField::SetVarValue(const Variant& value)
{
    SetAsString(value.AsString());
}

// ----------------------------------------------------------- TIntegerField

TIntegerField::TIntegerField(TComponent* owner) : TNumericField(owner)
{
    SetDataType(ftInteger);
}

TSmallintField::TSmallintField(TComponent* owner) : TIntegerField(owner)
{
    SetDataType(ftSmallint);
    FMinRange = -32768;
    FMaxRange = 32767;
}

TWordField::TWordField(TComponent* owner) : TIntegerField(owner)
{
    SetDataType(ftWord);
    FMinRange = 0;
    FMaxRange = 65535;
}

TAutoIncField::TAutoIncField(TComponent* owner) : TIntegerField(owner)
{
    SetDataType(ftAutoInc);
}

bool TIntegerField::GetValue(int& value)
{
    NativeBuffer buffer;
    if (!GetData(buffer.Data))
        return false;
    switch (DataType()) {
    case ftSmallint: value = ReadAs<std::int16_t>(buffer.Data); break;
    case ftWord: value = ReadAs<std::uint16_t>(buffer.Data); break;
    default: value = ReadAs<std::int32_t>(buffer.Data); break;
    }
    return true;
}

int TIntegerField::GetAsInteger()
{
    int value = 0;
    return GetValue(value) ? value : 0;
}

double TIntegerField::GetAsFloat()
{
    return GetAsInteger();
}

std::string TIntegerField::GetAsString()
{
    int value = 0;
    return GetValue(value) ? IntToStr(value) : std::string();
}

Variant TIntegerField::GetAsVariant()
{
    int value = 0;
    return GetValue(value) ? Variant(value) : Null();
}

void TIntegerField::SetAsIntegerValue(int value)
{
    long long min = FMinRange, max = FMaxRange;
    if (MinValue != 0 || MaxValue != 0) {
        min = MinValue;
        max = MaxValue;
    }
    if (value < min || value > max)
        RangeError(value, static_cast<double>(min), static_cast<double>(max));
    NativeBuffer buffer;
    switch (DataType()) {
    case ftSmallint: WriteAs<std::int16_t>(buffer.Data, static_cast<std::int16_t>(value)); break;
    case ftWord: WriteAs<std::uint16_t>(buffer.Data, static_cast<std::uint16_t>(value)); break;
    default: WriteAs<std::int32_t>(buffer.Data, value); break;
    }
    SetData(buffer.Data);
}

void TIntegerField::SetAsFloatValue(double value)
{
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        const bool own = MinValue != 0 || MaxValue != 0;
        RangeError(value, own ? MinValue : static_cast<double>(FMinRange),
                   own ? MaxValue : static_cast<double>(FMaxRange));
    }
    SetAsInteger(static_cast<int>(rounded));
}

void TIntegerField::SetAsStringValue(const std::string& value)
{
    if (value.empty()) {
        Clear();
        return;
    }
    int number = 0;
    if (!TryStrToInt(value, number))
        DatabaseErrorFmt(SInvalidIntegerValue, {value, DisplayName()});
    SetAsInteger(number);
}

void TIntegerField::SetVarValue(const Variant& value)
{
    SetAsInteger(value.AsInteger());
}

// ------------------------------------------------------------- TFloatField

TFloatField::TFloatField(TComponent* owner) : TNumericField(owner)
{
    SetDataType(ftFloat);
}

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner)
{
    SetDataType(ftCurrency);
    Currency = true;
}

bool TFloatField::GetValue(double& value)
{
    NativeBuffer buffer;
    if (!GetData(buffer.Data))
        return false;
    value = ReadAs<double>(buffer.Data);
    return true;
}

double TFloatField::GetAsFloat()
{
    double value = 0;
    return GetValue(value) ? value : 0;
}

int TFloatField::GetAsInteger()
{
    return Variant(GetAsFloat()).AsInteger();
}

std::string TFloatField::GetAsString()
{
    double value = 0;
    if (!GetValue(value))
        return {};
    if (Precision >= 15 || Precision < 1)
        return FloatToStr(value);
    const std::string special = floattext::Special(value);
    if (!special.empty())
        return special;
    return floattext::General(value, Precision, 0, FormatSettings().DecimalSeparator);
}

Variant TFloatField::GetAsVariant()
{
    double value = 0;
    return GetValue(value) ? Variant(value) : Null();
}

void TFloatField::SetAsFloatValue(double value)
{
    if ((MinValue != 0 || MaxValue != 0) && (value < MinValue || value > MaxValue))
        RangeError(value, MinValue, MaxValue);
    NativeBuffer buffer;
    WriteAs<double>(buffer.Data, value);
    SetData(buffer.Data);
}

void TFloatField::SetAsIntegerValue(int value)
{
    SetAsFloat(value);
}

void TFloatField::SetAsStringValue(const std::string& value)
{
    if (value.empty()) {
        Clear();
        return;
    }
    double number = 0;
    if (!TryStrToFloat(value, number))
        DatabaseErrorFmt(SInvalidFloatValue, {value, DisplayName()});
    SetAsFloat(number);
}

void TFloatField::SetVarValue(const Variant& value)
{
    SetAsFloat(value.AsDouble());
}

// ----------------------------------------------------------- TBooleanField

TBooleanField::TBooleanField(TComponent* owner) : TField(owner)
{
    SetDataType(ftBoolean);
    SetDisplayValues("");
}

void TBooleanField::SetDisplayValues(const std::string& value)
{
    FDisplayValues = value;
    if (value.empty()) {
        FTextTrue = STextTrue;
        FTextFalse = STextFalse;
        return;
    }
    const std::size_t semicolon = value.find(';');
    FTextTrue = value.substr(0, semicolon);
    FTextFalse = semicolon == std::string::npos ? std::string() : value.substr(semicolon + 1);
}

bool TBooleanField::GetValue(bool& value)
{
    NativeBuffer buffer;
    if (!GetData(buffer.Data))
        return false;
    value = ReadAs<std::int16_t>(buffer.Data) != 0;
    return true;
}

bool TBooleanField::GetAsBoolean()
{
    bool value = false;
    return GetValue(value) && value;
}

std::string TBooleanField::GetAsString()
{
    bool value = false;
    if (!GetValue(value))
        return {};
    return value ? FTextTrue : FTextFalse;
}

Variant TBooleanField::GetAsVariant()
{
    bool value = false;
    return GetValue(value) ? Variant(value) : Null();
}

void TBooleanField::SetAsBooleanValue(bool value)
{
    NativeBuffer buffer;
    WriteAs<std::int16_t>(buffer.Data, value ? -1 : 0);
    SetData(buffer.Data);
}

void TBooleanField::SetAsStringValue(const std::string& value)
{
    const int length = static_cast<int>(value.size());
    if (length == 0) {
        // An empty text may itself be one of the two values.
        if (FTextFalse.empty())
            SetAsBoolean(false);
        else if (FTextTrue.empty())
            SetAsBoolean(true);
        else
            Clear();
        return;
    }
    if (AnsiCompareText(value, Copy(FTextFalse, 1, length)) == 0)
        SetAsBoolean(false);
    else if (AnsiCompareText(value, Copy(FTextTrue, 1, length)) == 0)
        SetAsBoolean(true);
    else
        DatabaseErrorFmt(SInvalidBoolValue, {value, DisplayName()});
}

void TBooleanField::SetVarValue(const Variant& value)
{
    SetAsBoolean(value.AsBoolean());
}

// ---------------------------------------------------------- TDateTimeField

TDateTimeField::TDateTimeField(TComponent* owner) : TField(owner)
{
    SetDataType(ftDateTime);
}

TDateField::TDateField(TComponent* owner) : TDateTimeField(owner)
{
    SetDataType(ftDate);
}

TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner)
{
    SetDataType(ftTime);
}

bool TDateTimeField::GetValue(TDateTime& value)
{
    NativeBuffer buffer;
    if (!GetData(buffer.Data))
        return false;
    value = NativeToDateTime(DataType(), buffer.Data);
    return true;
}

TDateTime TDateTimeField::GetAsDateTime()
{
    TDateTime value = 0;
    return GetValue(value) ? value : 0;
}

double TDateTimeField::GetAsFloat()
{
    return GetAsDateTime();
}

void TDateTimeField::GetText(std::string& text, bool displayText)
{
    TDateTime value = 0;
    if (!GetValue(value)) {
        text.clear();
        return;
    }
    std::string format;
    if (displayText && !DisplayFormat.empty())
        format = DisplayFormat;
    else if (DataType() == ftDate)
        format = FormatSettings().ShortDateFormat;
    else if (DataType() == ftTime)
        format = FormatSettings().LongTimeFormat;
    text = FormatDateTime(format.empty() ? "c" : format, value);
}

std::string TDateTimeField::GetAsString()
{
    std::string text;
    GetText(text, false);
    return text;
}

Variant TDateTimeField::GetAsVariant()
{
    TDateTime value = 0;
    return GetValue(value) ? VarFromDateTime(value) : Null();
}

void TDateTimeField::SetAsDateTimeValue(TDateTime value)
{
    NativeBuffer buffer;
    DateTimeToNative(DataType(), value, buffer.Data);
    SetData(buffer.Data);
}

void TDateTimeField::SetAsFloatValue(double value)
{
    SetAsDateTime(value);
}

void TDateTimeField::SetAsStringValue(const std::string& value)
{
    if (value.empty()) {
        Clear();
        return;
    }
    switch (DataType()) {
    case ftDate: SetAsDateTime(StrToDate(value)); break;
    case ftTime: SetAsDateTime(StrToTime(value)); break;
    default: SetAsDateTime(StrToDateTime(value)); break;
    }
}

void TDateTimeField::SetVarValue(const Variant& value)
{
    SetAsDateTime(value.AsDateTime());
}

// ------------------------------------------------------------ TBinaryField

TBinaryField::TBinaryField(TComponent* owner) : TField(owner)
{
    SetSize(16);
}

TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner)
{
    SetDataType(ftBytes);
}

TVarBytesField::TVarBytesField(TComponent* owner) : TBinaryField(owner)
{
    SetDataType(ftVarBytes);
}

void TBinaryField::CheckTypeSize(int value)
{
    if (value < 0)
        DatabaseError(SInvalidFieldSize);
}

std::string TBinaryField::GetAsString()
{
    std::vector<char> buffer(static_cast<std::size_t>(DataSize()) + 8, '\0');
    if (!GetData(buffer.data()))
        return {};
    if (DataType() != ftVarBytes)
        return std::string(buffer.data(), static_cast<std::size_t>(Size()));
    const int length = std::min<int>(ReadAs<std::uint16_t>(buffer.data()), Size());
    return std::string(buffer.data() + 2, static_cast<std::size_t>(length));
}

void TBinaryField::SetAsStringValue(const std::string& value)
{
    std::vector<char> buffer(static_cast<std::size_t>(DataSize()), '\0');
    const std::size_t length = std::min(value.size(), static_cast<std::size_t>(Size()));
    if (DataType() == ftVarBytes) {
        WriteAs<std::uint16_t>(buffer.data(), static_cast<std::uint16_t>(length));
        std::memcpy(buffer.data() + 2, value.data(), length);
    } else {
        std::memcpy(buffer.data(), value.data(), length);
    }
    SetData(buffer.data());
}

Variant TBinaryField::GetAsVariant()
{
    if (IsNull())
        return Null();
    const std::string bytes = GetAsString();
    Variant result = VarArrayCreate(0, static_cast<int>(bytes.size()) - 1, varByte);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        result.PutElement(static_cast<int>(i), Variant::FromByte(static_cast<std::uint8_t>(bytes[i])));
    return result;
}

void TBinaryField::SetVarValue(const Variant& value)
{
    if (value.VType() == varString) {
        SetAsString(value.AsString());
        return;
    }
    if (!value.IsArray() || value.ArrayHighBound() - value.ArrayLowBound() + 1 > Size())
        DatabaseErrorFmt(SInvalidVarByteArray, {DisplayName()});
    std::string bytes;
    for (int i = value.ArrayLowBound(); i <= value.ArrayHighBound(); ++i)
        bytes += static_cast<char>(value.GetElement(i).AsByte());
    SetAsString(bytes);
}

void TBinaryField::GetText(std::string& text, bool displayText)
{
    text = GetClassDesc();
}

// -------------------------------------------------------------- TBlobField

TBlobField::TBlobField(TComponent* owner) : TField(owner)
{
    SetDataType(ftBlob);
}

TMemoField::TMemoField(TComponent* owner) : TBlobField(owner)
{
    SetDataType(ftMemo);
}

TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner)
{
    SetDataType(ftGraphic);
}

void TBlobField::CheckTypeSize(int value)
{
    if (value < 0)
        DatabaseError(SInvalidFieldSize);
}

void TBlobField::SetBlobType(TFieldType value)
{
    SetDataType(value);
}

TStream* TBlobField::OpenBlob(TBlobStreamMode mode)
{
    if (!DataSet())
        DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
    TStream* stream = DataSet()->CreateBlobStream(this, mode);
    if (!stream && mode != bmRead)
        AccessError("Blob");
    return stream;
}

bool TBlobField::IsNull()
{
    if (!FModified)
        return TField::IsNull();
    std::unique_ptr<TStream> stream(OpenBlob(bmRead));
    return !stream || stream->Size() == 0;
}

std::string TBlobField::GetAsString()
{
    std::unique_ptr<TStream> stream(OpenBlob(bmRead));
    if (!stream)
        return {};
    std::string data(static_cast<std::size_t>(stream->Size()), '\0');
    stream->SetPosition(0);
    stream->ReadBuffer(data.data(), static_cast<std::int32_t>(data.size()));
    return data;
}

void TBlobField::SetAsStringValue(const std::string& value)
{
    std::unique_ptr<TStream> stream(OpenBlob(bmWrite));
    WriteValue(stream.get(), value.data(), static_cast<std::int32_t>(value.size()));
}

void TBlobField::Clear()
{
    std::unique_ptr<TStream> stream(OpenBlob(bmWrite));
    WriteValue(stream.get(), nullptr, 0);
}

int TBlobField::BlobSize()
{
    std::unique_ptr<TStream> stream(OpenBlob(bmRead));
    return stream ? static_cast<int>(stream->Size()) : 0;
}

void TBlobField::LoadFromStream(TStream* stream)
{
    std::unique_ptr<TStream> blob(OpenBlob(bmWrite));
    WriteValue(blob.get(), nullptr, 0);
    blob->CopyFrom(stream, 0);
}

void TBlobField::SaveToStream(TStream* stream)
{
    std::unique_ptr<TStream> blob(OpenBlob(bmRead));
    if (blob && blob->Size() > 0)
        stream->CopyFrom(blob.get(), 0);
}

void TBlobField::LoadFromFile(const std::string& fileName)
{
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&file);
}

void TBlobField::SaveToFile(const std::string& fileName)
{
    TFileStream file(fileName, fmCreate);
    SaveToStream(&file);
}

void TBlobField::Assign(TPersistent* source)
{
    if (auto* blob = dynamic_cast<TBlobField*>(source)) {
        SetAsString(blob->AsString());
        return;
    }
    TField::Assign(source);
}

Variant TBlobField::GetAsVariant()
{
    if (IsNull())
        return Null();
    return Variant(GetAsString());
}

void TBlobField::SetVarValue(const Variant& value)
{
    if (!value.IsArray()) {
        SetAsString(value.AsString());
        return;
    }
    std::string bytes;
    for (int i = value.ArrayLowBound(); i <= value.ArrayHighBound(); ++i)
        bytes += static_cast<char>(value.GetElement(i).AsByte());
    SetAsString(bytes);
}

void TBlobField::GetText(std::string& text, bool displayText)
{
    text = GetClassDesc();
}

// ------------------------------------------------------ field class by type

TField* CreateFieldOfType(TFieldType dataType, TComponent* owner)
{
    switch (dataType) {
    case ftString: return new TStringField(owner);
    case ftSmallint: return new TSmallintField(owner);
    case ftInteger: return new TIntegerField(owner);
    case ftWord: return new TWordField(owner);
    case ftBoolean: return new TBooleanField(owner);
    case ftFloat: return new TFloatField(owner);
    case ftCurrency: return new TCurrencyField(owner);
    case ftDate: return new TDateField(owner);
    case ftTime: return new TTimeField(owner);
    case ftDateTime: return new TDateTimeField(owner);
    case ftBytes: return new TBytesField(owner);
    case ftVarBytes: return new TVarBytesField(owner);
    case ftAutoInc: return new TAutoIncField(owner);
    case ftBlob: return new TBlobField(owner);
    case ftMemo: return new TMemoField(owner);
    case ftGraphic: return new TGraphicField(owner);
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary: {
        auto* field = new TBlobField(owner);
        field->SetBlobType(dataType);
        return field;
    }
    default: return nullptr;
    }
}

// ----------------------------------------------------------------- TFields

TFields::~TFields() = default;

TField* TFields::Fields(int index) const
{
    if (index < 0 || index >= Count())
        DatabaseError(SFieldIndexError, FDataSet);
    return FList[static_cast<std::size_t>(index)];
}

TField* TFields::FindField(const std::string& fieldName) const
{
    for (TField* field : FList)
        if (AnsiCompareText(field->FieldName(), fieldName) == 0)
            return field;
    return nullptr;
}

TField* TFields::FieldByName(const std::string& fieldName) const
{
    TField* field = FindField(fieldName);
    if (!field)
        DatabaseErrorFmt(SFieldNotFound, {fieldName}, FDataSet);
    return field;
}

TField* TFields::FieldByNumber(int fieldNo) const
{
    for (TField* field : FList)
        if (field->FieldNo() == fieldNo)
            return field;
    return nullptr;
}

int TFields::IndexOf(const TField* field) const
{
    const auto it = std::find(FList.begin(), FList.end(), field);
    return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void TFields::Add(TField* field)
{
    FList.push_back(field);
    field->FDataSet = FDataSet;
}

void TFields::Remove(TField* field)
{
    const auto it = std::find(FList.begin(), FList.end(), field);
    if (it == FList.end())
        return;
    FList.erase(it);
    field->FDataSet = nullptr;
}

void TFields::Clear()
{
    while (!FList.empty()) {
        TField* field = FList.back();
        FList.pop_back();
        field->FDataSet = nullptr;
        delete field;
    }
}

void TFields::CheckFieldName(const std::string& fieldName) const
{
    if (fieldName.empty())
        DatabaseError(SFieldNameMissing, FDataSet);
    if (FindField(fieldName))
        DatabaseErrorFmt(SDuplicateFieldName, {fieldName}, FDataSet);
}

} // namespace orvex
