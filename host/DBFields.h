#pragma once
// Fields of the dataset layer: TField, one class per field type, and the
// dataset's field list TFields.
//
// A field reads and writes its value through its dataset (TDataSet::
// GetFieldData / SetFieldData) in the field's native form, DataSize bytes:
//   string         zero-terminated bytes, Size characters at most
//   smallint/word  16 bits          integer/autoinc  32 bits (little-endian)
//   boolean        16 bits, 0 = False, -1 = True (any other non-zero reads True)
//   float/currency double
//   date           32-bit day number: days since 1 Jan 0001 plus one (30 Dec 1899 is 693594)
//   time           32-bit milliseconds of the day
//   date-time      double: milliseconds of the time stamp (day number * 86400000 + time)
//   bytes          Size bytes       varbytes  16-bit length, then Size bytes
//   blob types     no data in the buffer: the value is read and written through
//                  TDataSet::CreateBlobStream; GetFieldData(field, nullptr)
//                  answers whether a value is there
// DateTimeToNative / NativeToDateTime convert between TDateTime and these forms.
//
// Conversions of the As... accessors (a value that a class cannot take raises
// EDatabaseError "Cannot access field '%s' as type %s"):
//   TStringField   AsInteger/AsFloat/AsDateTime parse the text (EConvertError
//                  when it is not a number or date); AsBoolean is True when the
//                  text starts with T, t, Y or y; setting a Boolean stores
//                  "True"/"False" cut to Size; longer texts are cut to Size.
//   TIntegerField, TSmallintField, TWordField, TAutoIncField
//                  AsFloat reads the integer, setting a float rounds it; text
//                  must be an integer ("'%s' is not a valid integer value for
//                  field '%s'"); values outside the type's range, or outside
//                  MinValue..MaxValue when either is set, raise "%g is not a
//                  valid value for field '%s'. The allowed range is %g to %g".
//   TFloatField, TCurrencyField
//                  AsInteger rounds; AsString has Precision significant digits
//                  (15); text must be a number ("'%s' is not a valid floating
//                  point value for field '%s'"); MinValue/MaxValue as above.
//   TBooleanField  AsString is DisplayValues' text ("True;False" by default);
//                  setting text matches the start of the False text, then of
//                  the True text, ignoring case ("'%s' is not a valid boolean
//                  value for field '%s'"); empty text clears the field.
//   TDateField, TTimeField, TDateTimeField
//                  AsFloat is the TDateTime; AsString the short date, the long
//                  time or the date and time (DisplayFormat for DisplayText);
//                  text is parsed as a date, a time or both (EConvertError).
//   TBytesField, TVarBytesField
//                  AsString and Value carry the bytes (Value as a byte array);
//                  TBytesField pads short values with zeros.
//   TBlobField, TMemoField, TGraphicField
//                  AsString / Value carry the whole blob; DisplayText shows
//                  "(Memo)" (upper case when the field has a value).
// Every class: empty text clears the field, except for strings; a Null or
// Empty Value clears it; Value of a null field is Null.

#include "host/Classes.h"
#include "host/DBTypes.h"
#include "host/Variants.h"

#include <functional>
#include <string>
#include <vector>

namespace orvex {

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField* sender)>;
using TFieldGetTextEvent = std::function<void(TField* sender, std::string& text, bool displayText)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const std::string& text)>;

// The native forms of date, time and date-time values (see above).
void DateTimeToNative(TFieldType dataType, TDateTime value, void* buffer);
TDateTime NativeToDateTime(TFieldType dataType, const void* buffer);

class TField : public TComponent {
public:
    explicit TField(TComponent* owner);
    ~TField() override;

    // ------------------------------------------------------ identity, layout
    TDataSet* DataSet() const { return FDataSet; }
    // Joins the dataset's field list (both datasets must be closed).
    void SetDataSet(TDataSet* dataSet);
    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& value);
    // 1-based number of a data field in the dataset's field definitions;
    // -1 for calculated and lookup fields; 0 while unbound.
    int FieldNo() const { return FFieldNo; }
    TFieldKind FieldKind() const { return FFieldKind; }
    void SetFieldKind(TFieldKind value);
    TFieldType DataType() const { return FDataType; }
    int Size() const { return FSize; }
    void SetSize(int value);
    // Bytes of the native value in a record buffer.
    virtual int DataSize() const { return 0; }
    // Calculated and lookup fields: the start of the field's slot in the
    // dataset's calculated-fields area (a has-value byte, then DataSize bytes).
    int Offset() const { return FOffset; }
    int Index() const; // position in the dataset's Fields, -1 without a dataset
    bool Calculated() const { return FFieldKind == fkCalculated; }
    bool Lookup() const { return FFieldKind == fkLookup; }
    virtual bool IsBlob() const { return false; }

    bool Visible() const { return FVisible; }
    void SetVisible(bool value) { FVisible = value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool value) { FRequired = value; }
    const std::string& DefaultExpression() const { return FDefaultExpression; }
    void SetDefaultExpression(const std::string& value) { FDefaultExpression = value; }
    const std::string& DisplayLabel() const { return FDisplayLabel; }
    void SetDisplayLabel(const std::string& value) { FDisplayLabel = value; }
    // DisplayLabel when set, else FieldName.
    std::string DisplayName() const;

    // Lookup fields: the value of LookupResultField in the record of
    // LookupDataSet whose LookupKeyFields equal this dataset's KeyFields.
    TDataSet* LookupDataSet() const { return FLookupDataSet; }
    void SetLookupDataSet(TDataSet* value); // forgotten when that dataset goes
    std::string KeyFields, LookupKeyFields, LookupResultField;

    // ----------------------------------------------------------------- value
    virtual bool IsNull();
    virtual void Clear();
    std::string AsString() { return GetAsString(); }
    void SetAsString(const std::string& value) { SetAsStringValue(value); }
    int AsInteger() { return GetAsInteger(); }
    void SetAsInteger(int value) { SetAsIntegerValue(value); }
    double AsFloat() { return GetAsFloat(); }
    void SetAsFloat(double value) { SetAsFloatValue(value); }
    Currency AsCurrency() { return Currency::FromDouble(GetAsFloat()); }
    void SetAsCurrency(Currency value) { SetAsFloatValue(value.ToDouble()); }
    bool AsBoolean() { return GetAsBoolean(); }
    void SetAsBoolean(bool value) { SetAsBooleanValue(value); }
    TDateTime AsDateTime() { return GetAsDateTime(); }
    void SetAsDateTime(TDateTime value) { SetAsDateTimeValue(value); }
    Variant AsVariant() { return GetAsVariant(); }
    void SetAsVariant(const Variant& value);
    Variant Value() { return GetAsVariant(); }
    void SetValue(const Variant& value) { SetAsVariant(value); }
    // Text for editing and for display; OnGetText and OnSetText replace the
    // field's own conversion.
    std::string Text();
    void SetText(const std::string& value);
    std::string DisplayText();
    // Copies another field's value (nullptr clears this one).
    void Assign(TPersistent* source) override;

    // ------------------------------------------------------ native data
    // The value in native form; false when the field is null. While OnValidate
    // runs, the value being stored is read back.
    bool GetData(void* buffer);
    // Stores a native value (nullptr: null) through the dataset. A read-only
    // data field refuses while the dataset edits or inserts:
    // "Field '%s' cannot be modified".
    void SetData(const void* buffer);
    // Runs OnValidate for a value about to be stored (the dataset's
    // SetFieldData calls this).
    void Validate(const void* buffer);
    // Not read-only, a data or internal-calc field, and the dataset can modify.
    bool CanModify();

    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;
    TFieldGetTextEvent OnGetText;
    TFieldSetTextEvent OnSetText;

protected:
    virtual std::string GetAsString();
    virtual void SetAsStringValue(const std::string& value);
    virtual int GetAsInteger();
    virtual void SetAsIntegerValue(int value);
    virtual double GetAsFloat();
    virtual void SetAsFloatValue(double value);
    virtual bool GetAsBoolean();
    virtual void SetAsBooleanValue(bool value);
    virtual TDateTime GetAsDateTime();
    virtual void SetAsDateTimeValue(TDateTime value);
    virtual Variant GetAsVariant();
    // Stores a value that is neither Null nor Empty.
    virtual void SetVarValue(const Variant& value);
    virtual void GetText(std::string& text, bool displayText);
    // Refuses sizes the type cannot have ("Invalid field size").
    virtual void CheckTypeSize(int value);
    // Drops what the field keeps of the current record (after post and cancel).
    virtual void FreeBuffers() {}

    void SetDataType(TFieldType value) { FDataType = value; }
    [[noreturn]] void AccessError(const char* typeName);
    [[noreturn]] void RangeError(double value, double min, double max);
    // "(Memo)", "(MEMO)" when the field has a value.
    std::string GetClassDesc();
    void CheckInactive();
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TDataSet;
    friend class TFields;
    void Change();
    void CalcLookupValue();

    TDataSet* FDataSet = nullptr;
    std::string FFieldName;
    int FFieldNo = 0;
    TFieldKind FFieldKind = fkData;
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    int FOffset = 0;
    bool FVisible = true;
    bool FReadOnly = false;
    bool FRequired = false;
    std::string FDefaultExpression;
    std::string FDisplayLabel;
    TDataSet* FLookupDataSet = nullptr;
    bool FValidating = false;
    const void* FValueBuffer = nullptr;
};

class TStringField : public TField {
public:
    explicit TStringField(TComponent* owner);
    int DataSize() const override { return Size() + 1; }

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    int GetAsInteger() override;
    void SetAsIntegerValue(int value) override;
    double GetAsFloat() override;
    void SetAsFloatValue(double value) override;
    bool GetAsBoolean() override;
    void SetAsBooleanValue(bool value) override;
    TDateTime GetAsDateTime() override;
    void SetAsDateTimeValue(TDateTime value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    void CheckTypeSize(int value) override;
};

class TNumericField : public TField {
public:
    using TField::TField;
    std::string DisplayFormat, EditFormat; // kept for display controls
};

// Integers of 32 bits; the base of the 16-bit and auto-increment fields.
class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(TComponent* owner);
    int DataSize() const override { return 4; }
    // 0 and 0: only the type's own range applies.
    int MinValue = 0;
    int MaxValue = 0;

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    int GetAsInteger() override;
    void SetAsIntegerValue(int value) override;
    double GetAsFloat() override;
    void SetAsFloatValue(double value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    bool GetValue(int& value);
    // The range checked when MinValue and MaxValue are both 0.
    long long FMinRange = -2147483648LL;
    long long FMaxRange = 2147483647LL;
};

class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TComponent* owner);
    int DataSize() const override { return 2; }
};

class TWordField : public TIntegerField {
public:
    explicit TWordField(TComponent* owner);
    int DataSize() const override { return 2; }
};

class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(TComponent* owner);
};

class TFloatField : public TNumericField {
public:
    explicit TFloatField(TComponent* owner);
    int DataSize() const override { return 8; }
    // Significant digits of AsString (15 at most).
    int Precision = 15;
    // 0 and 0: no range check.
    double MinValue = 0;
    double MaxValue = 0;
    bool Currency = false;

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    int GetAsInteger() override;
    void SetAsIntegerValue(int value) override;
    double GetAsFloat() override;
    void SetAsFloatValue(double value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    bool GetValue(double& value);
};

class TCurrencyField : public TFloatField {
public:
    explicit TCurrencyField(TComponent* owner);
};

class TBooleanField : public TField {
public:
    explicit TBooleanField(TComponent* owner);
    int DataSize() const override { return 2; }
    // "TrueText;FalseText"; empty restores STextTrue;STextFalse.
    std::string DisplayValues() const { return FDisplayValues; }
    void SetDisplayValues(const std::string& value);

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    bool GetAsBoolean() override;
    void SetAsBooleanValue(bool value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    bool GetValue(bool& value);

private:
    std::string FDisplayValues;
    std::string FTextTrue, FTextFalse;
};

// Date-time values; the base of the date and time fields.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* owner);
    int DataSize() const override { return 8; }
    std::string DisplayFormat; // FormatDateTime pattern for DisplayText

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    double GetAsFloat() override;
    void SetAsFloatValue(double value) override;
    TDateTime GetAsDateTime() override;
    void SetAsDateTimeValue(TDateTime value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    void GetText(std::string& text, bool displayText) override;
    bool GetValue(TDateTime& value);
};

class TDateField : public TDateTimeField {
public:
    explicit TDateField(TComponent* owner);
    int DataSize() const override { return 4; }
};

class TTimeField : public TDateTimeField {
public:
    explicit TTimeField(TComponent* owner);
    int DataSize() const override { return 4; }
};

// Fixed or counted byte strings.
class TBinaryField : public TField {
public:
    explicit TBinaryField(TComponent* owner);

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    void GetText(std::string& text, bool displayText) override;
    void CheckTypeSize(int value) override;
};

class TBytesField : public TBinaryField {
public:
    explicit TBytesField(TComponent* owner);
    int DataSize() const override { return Size(); }
};

class TVarBytesField : public TBinaryField {
public:
    explicit TVarBytesField(TComponent* owner);
    int DataSize() const override { return Size() + 2; }
};

class TBlobField : public TField {
public:
    explicit TBlobField(TComponent* owner);
    bool IsBlob() const override { return true; }
    // After a write the stream decides: empty is null.
    bool IsNull() override;
    void Clear() override;
    void Assign(TPersistent* source) override;

    // Set by the dataset's blob stream when the value of the current record
    // was written; cleared after post and cancel.
    bool Modified() const { return FModified; }
    void SetModified(bool value) { FModified = value; }
    TFieldType BlobType() const { return DataType(); }
    void SetBlobType(TFieldType value);
    int BlobSize();
    void LoadFromStream(TStream* stream);
    void SaveToStream(TStream* stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

protected:
    std::string GetAsString() override;
    void SetAsStringValue(const std::string& value) override;
    Variant GetAsVariant() override;
    void SetVarValue(const Variant& value) override;
    void GetText(std::string& text, bool displayText) override;
    void CheckTypeSize(int value) override;
    void FreeBuffers() override { FModified = false; }

private:
    // A stream on the value; nullptr when the dataset gives none.
    TStream* OpenBlob(TBlobStreamMode mode);
    bool FModified = false;
};

class TMemoField : public TBlobField {
public:
    explicit TMemoField(TComponent* owner);
};

class TGraphicField : public TBlobField {
public:
    explicit TGraphicField(TComponent* owner);
};

// Creates the field class that the framework uses for a type (nullptr for
// types without one): ftFmtMemo, ftParadoxOle, ftDBaseOle and ftTypedBinary
// get a TBlobField of that type.
TField* CreateFieldOfType(TFieldType dataType, TComponent* owner);

// The fields of a dataset, in order. It does not own them: a field belongs to
// its Owner (the dataset for default fields).
class TFields : public TObject {
public:
    explicit TFields(TDataSet* dataSet) : FDataSet(dataSet) {}
    ~TFields() override;

    int Count() const { return static_cast<int>(FList.size()); }
    TField* Fields(int index) const; // "Field index out of range"
    TField* operator[](int index) const { return Fields(index); }
    TField* FindField(const std::string& fieldName) const; // ignores case
    TField* FieldByName(const std::string& fieldName) const; // "Field '%s' not found"
    TField* FieldByNumber(int fieldNo) const;
    int IndexOf(const TField* field) const;
    void Add(TField* field);
    void Remove(TField* field);
    void Clear(); // frees every field (the dataset's default fields)
    // Refuses a missing or duplicate field name.
    void CheckFieldName(const std::string& fieldName) const;
    TDataSet* DataSet() const { return FDataSet; }

private:
    TDataSet* FDataSet;
    std::vector<TField*> FList;
};

} // namespace orvex
