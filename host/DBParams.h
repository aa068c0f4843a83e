#pragma once
// Parameters of the dataset layer: TParam values of a statement, collected in
// TParams.
//
// Setting Value makes the parameter Bound (unless the value is Empty), an
// input parameter when its type was unknown, and, while DataType is
// ftUnknown, gives it the type of the value (smallint and byte ftSmallint,
// integer ftInteger, double ftFloat, currency ftBCD, date ftDateTime,
// boolean ftBoolean, string ftString). The As... setters set DataType to
// their own type. A null parameter reads as "", 0, False or date 0.

#include "host/Classes.h"
#include "host/DBTypes.h"
#include "host/Variants.h"

#include <string>

namespace orvex {

class TField;

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam : public TCollectionItem {
public:
    explicit TParam(TCollection* collection) : TCollectionItem(collection) {}

    const std::string& Name() const { return FName; }
    void SetName(const std::string& value) { FName = value; }
    std::string DisplayName() const override;
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType value) { FDataType = value; }
    TParamType ParamType() const { return FParamType; }
    void SetParamType(TParamType value) { FParamType = value; }
    bool Bound() const { return FBound; }
    void SetBound(bool value) { FBound = value; }

    const Variant& Value() const { return FData; }
    void SetValue(const Variant& value);
    bool IsNull() const { return FData.IsNull() || FData.IsEmpty(); }
    void Clear() { FData = Null(); }

    std::string AsString() const;
    void SetAsString(const std::string& value) { SetTyped(ftString, Variant(value)); }
    int AsInteger() const;
    void SetAsInteger(int value) { SetTyped(ftInteger, Variant(value)); }
    int AsSmallInt() const { return AsInteger(); }
    void SetAsSmallInt(int value) { SetTyped(ftSmallint, Variant(value)); }
    int AsWord() const { return AsInteger(); }
    void SetAsWord(int value) { SetTyped(ftWord, Variant(value)); }
    double AsFloat() const;
    void SetAsFloat(double value) { SetTyped(ftFloat, Variant(value)); }
    double AsCurrency() const { return AsFloat(); }
    void SetAsCurrency(double value) { SetTyped(ftCurrency, Variant(value)); }
    bool AsBoolean() const;
    void SetAsBoolean(bool value) { SetTyped(ftBoolean, Variant(value)); }
    TDateTime AsDateTime() const;
    void SetAsDateTime(TDateTime value) { SetTyped(ftDateTime, VarFromDateTime(value)); }
    TDateTime AsDate() const { return AsDateTime(); }
    void SetAsDate(TDateTime value) { SetTyped(ftDate, VarFromDateTime(value)); }
    TDateTime AsTime() const { return AsDateTime(); }
    void SetAsTime(TDateTime value) { SetTyped(ftTime, VarFromDateTime(value)); }
    std::string AsMemo() const { return AsString(); }
    void SetAsMemo(const std::string& value) { SetTyped(ftMemo, Variant(value)); }
    std::string AsBlob() const { return AsString(); }
    void SetAsBlob(const std::string& value) { SetTyped(ftBlob, Variant(value)); }

    // The field's type and value (Null clears); the parameter becomes bound.
    void AssignFieldValue(TField* field, const Variant& value);
    // AssignFieldValue with the field's value, and the field's name.
    void AssignField(TField* field);
    // From another parameter (everything) or from a field (AssignField).
    void Assign(TPersistent* source) override;

private:
    void SetTyped(TFieldType dataType, const Variant& value);

    std::string FName;
    TFieldType FDataType = ftUnknown;
    TParamType FParamType = ptUnknown;
    bool FBound = false;
    Variant FData;
};

class TParams : public TCollection {
public:
    // An owner that is a dataset names itself in ParamByName's error.
    explicit TParams(TPersistent* owner = nullptr);

    TPersistent* Owner() const { return FOwner; }
    TParam* Items(int index) const { return static_cast<TParam*>(TCollection::Items(index)); }
    TParam* CreateParam(TFieldType dataType, const std::string& name, TParamType paramType);
    TParam* FindParam(const std::string& name) const;  // ignores case; nullptr when absent
    TParam* ParamByName(const std::string& name) const; // "Parameter '%s' not found"
    // One parameter's Value, or a variant array of several (";" list).
    Variant ParamValues(const std::string& names) const;
    void SetParamValues(const std::string& names, const Variant& value);
    // Each parameter of source that this collection has by name is assigned.
    void AssignValues(TParams* source);

private:
    TPersistent* FOwner;
};

} // namespace orvex
