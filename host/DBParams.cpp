// Parameters.

#include "host/DBParams.h"

#include "host/DBConsts.h"
#include "host/DataSet.h"

namespace orvex {

// ------------------------------------------------------------------ TParam

std::string TParam::DisplayName() const
{
    return FName.empty() ? TCollectionItem::DisplayName() : FName;
}

void TParam::SetValue(const Variant& value)
{
    if (FParamType == ptUnknown)
        FParamType = ptInput;
    FBound = !value.IsEmpty();
    if (FDataType == ftUnknown) {
        switch (value.VType()) {
        case varSmallint:
        case varByte: FDataType = ftSmallint; break;
        case varInteger: FDataType = ftInteger; break;
        case varCurrency: FDataType = ftBCD; break;
        case varDouble: FDataType = ftFloat; break;
        case varDate: FDataType = ftDateTime; break;
        case varBoolean: FDataType = ftBoolean; break;
        case varString: FDataType = ftString; break;
        default: break;
        }
    }
    FData = value;
}

void TParam::SetTyped(TFieldType dataType, const Variant& value)
{
    FDataType = dataType;
    SetValue(value);
}

std::string TParam::AsString() const
{
    return IsNull() ? std::string() : FData.AsString();
}

int TParam::AsInteger() const
{
    return IsNull() ? 0 : FData.AsInteger();
}

double TParam::AsFloat() const
{
    return IsNull() ? 0 : FData.AsDouble();
}

bool TParam::AsBoolean() const
{
    return !IsNull() && FData.AsBoolean();
}

TDateTime TParam::AsDateTime() const
{
    return IsNull() ? 0 : FData.AsDateTime();
}

void TParam::AssignFieldValue(TField* field, const Variant& value)
{
    if (!field)
        return;
    FDataType = field->DataType();
    if (value.IsNull())
        Clear();
    else
        SetValue(value);
    FBound = true;
}

void TParam::AssignField(TField* field)
{
    if (!field)
        return;
    AssignFieldValue(field, field->Value());
    FName = field->FieldName();
}

void TParam::Assign(TPersistent* source)
{
    if (auto* param = dynamic_cast<TParam*>(source)) {
        FName = param->FName;
        FDataType = param->FDataType;
        FParamType = param->FParamType;
        FBound = param->FBound;
        FData = param->FData;
        return;
    }
    if (auto* field = dynamic_cast<TField*>(source)) {
        AssignField(field);
        return;
    }
    TCollectionItem::Assign(source);
}

// ----------------------------------------------------------------- TParams

TParams::TParams(TPersistent* owner) : TCollection(ItemClassOf<TParam>()), FOwner(owner) {}

TParam* TParams::CreateParam(TFieldType dataType, const std::string& name, TParamType paramType)
{
    auto* param = static_cast<TParam*>(Add());
    param->SetName(name);
    param->SetDataType(dataType);
    param->SetParamType(paramType);
    return param;
}

TParam* TParams::FindParam(const std::string& name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(Items(i)->Name(), name) == 0)
            return Items(i);
    return nullptr;
}

TParam* TParams::ParamByName(const std::string& name) const
{
    TParam* param = FindParam(name);
    if (!param)
        DatabaseErrorFmt(SParameterNotFound, {name}, dynamic_cast<TDataSet*>(FOwner));
    return param;
}

Variant TParams::ParamValues(const std::string& names) const
{
    if (names.find(';') == std::string::npos)
        return ParamByName(names)->Value();
    const std::vector<std::string> list = SplitFieldNames(names);
    Variant values = VarArrayCreate(0, static_cast<int>(list.size()) - 1, varVariant);
    for (std::size_t i = 0; i < list.size(); ++i)
        values.PutElement(static_cast<int>(i), ParamByName(list[i])->Value());
    return values;
}

void TParams::SetParamValues(const std::string& names, const Variant& value)
{
    if (names.find(';') == std::string::npos) {
        ParamByName(names)->SetValue(value);
        return;
    }
    const std::vector<std::string> list = SplitFieldNames(names);
    for (std::size_t i = 0; i < list.size(); ++i)
        ParamByName(list[i])->SetValue(value.GetElement(value.ArrayLowBound() + static_cast<int>(i)));
}

void TParams::AssignValues(TParams* source)
{
    for (int i = 0; i < source->Count(); ++i)
        if (TParam* param = FindParam(source->Items(i)->Name()))
            param->Assign(source->Items(i));
}

} // namespace orvex
