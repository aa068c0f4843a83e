// Field and index definitions.

#include "host/DBDefs.h"

#include "host/DBConsts.h"
#include "host/DBFields.h"
#include "host/DataSet.h"

namespace orvex {

// --------------------------------------------------------------- TNamedItem

void TNamedItem::SetDisplayName(const std::string& value)
{
    if (!value.empty() && AnsiCompareText(value, FName) != 0) {
        auto* defs = dynamic_cast<TDefCollection*>(Collection());
        if (defs && defs->IndexOf(value) >= 0)
            DatabaseErrorFmt(SDuplicateName, {value, defs->ClassName()});
    }
    FName = value;
    Changed(false);
}

// ----------------------------------------------------------- TDefCollection

TDefCollection::TDefCollection(TDataSet* dataSet, TCollectionItemClass itemClass)
    : TCollection(std::move(itemClass)), FDataSet(dataSet)
{
}

int TDefCollection::IndexOf(const std::string& name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(static_cast<TNamedItem*>(Items(i))->Name(), name) == 0)
            return i;
    return -1;
}

TNamedItem* TDefCollection::Find(const std::string& name) const
{
    const int index = IndexOf(name);
    return index < 0 ? nullptr : static_cast<TNamedItem*>(Items(index));
}

void TDefCollection::Update(TCollectionItem* item)
{
    if (FDataSet && FDataSet->HasState(csLoading))
        return;
    if (OnUpdate)
        OnUpdate(this);
}

// ----------------------------------------------------------- TFieldDef(s)

void TFieldDef::SetDataType(TFieldType value)
{
    FDataType = value;
    Changed(false);
}

void TFieldDef::SetSize(int value)
{
    FSize = value;
    Changed(false);
}

void TFieldDef::SetPrecision(int value)
{
    FPrecision = value;
    Changed(false);
}

void TFieldDef::SetRequired(bool value)
{
    SetAttributes(value ? (FAttributes | faRequired) : (FAttributes & ~TFieldAttributes(faRequired)));
}

void TFieldDef::SetAttributes(TFieldAttributes value)
{
    FAttributes = value;
    Changed(false);
}

void TFieldDef::SetInternalCalcField(bool value)
{
    FInternalCalcField = value;
    Changed(false);
}

void TFieldDef::Assign(TPersistent* source)
{
    auto* def = dynamic_cast<TFieldDef*>(source);
    if (!def) {
        TNamedItem::Assign(source);
        return;
    }
    SetName(def->Name());
    FDataType = def->FDataType;
    FSize = def->FSize;
    FPrecision = def->FPrecision;
    FAttributes = def->FAttributes;
    FInternalCalcField = def->FInternalCalcField;
    FFieldNo = def->FFieldNo;
    Changed(false);
}

TField* TFieldDef::CreateField(TComponent* owner)
{
    TField* field = CreateFieldOfType(FDataType, owner);
    if (!field)
        DatabaseErrorFmt(SUnknownFieldType, {Name()});
    try {
        switch (FDataType) {
        case ftString:
        case ftBytes:
        case ftVarBytes: field->SetSize(FSize); break;
        default:
            if (field->IsBlob())
                field->SetSize(FSize);
            break;
        }
        field->SetFieldName(Name());
        field->SetRequired(Required());
        field->SetReadOnly((FAttributes & faReadonly) != 0);
        if (FInternalCalcField)
            field->SetFieldKind(fkInternalCalc);
        field->SetDataSet(static_cast<TDefCollection*>(Collection())->DataSet());
    } catch (...) {
        delete field;
        throw;
    }
    return field;
}

TFieldDefs::TFieldDefs(TDataSet* dataSet) : TDefCollection(dataSet, ItemClassOf<TFieldDef>()) {}

void TFieldDefs::Add(const std::string& name, TFieldType dataType, int size, bool required)
{
    if (IndexOf(name) >= 0)
        DatabaseErrorFmt(SDuplicateName, {name, ClassName()});
    BeginUpdate();
    TFieldDef* def = AddFieldDef();
    def->SetName(name);
    def->SetDataType(dataType);
    def->SetSize(size);
    def->SetRequired(required);
    EndUpdate();
}

TFieldDef* TFieldDefs::Find(const std::string& name) const
{
    TNamedItem* def = TDefCollection::Find(name);
    if (!def)
        DatabaseErrorFmt(SFieldNotFound, {name}, DataSet());
    return static_cast<TFieldDef*>(def);
}

void TFieldDefs::Update()
{
    if (Updated())
        return;
    BeginUpdate();
    try {
        DataSet()->InitFieldDefs();
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    SetUpdated(true);
}

// ----------------------------------------------------------- TIndexDef(s)

void TIndexDef::SetFields(const std::string& value)
{
    FFields = value;
    Changed(false);
}

void TIndexDef::SetOptions(TIndexOptions value)
{
    FOptions = value;
    Changed(false);
}

void TIndexDef::SetCaseInsFields(const std::string& value)
{
    FCaseInsFields = value;
    Changed(false);
}

void TIndexDef::SetDescFields(const std::string& value)
{
    FDescFields = value;
    Changed(false);
}

void TIndexDef::SetExpression(const std::string& value)
{
    FExpression = value;
    Changed(false);
}

void TIndexDef::Assign(TPersistent* source)
{
    auto* def = dynamic_cast<TIndexDef*>(source);
    if (!def) {
        TNamedItem::Assign(source);
        return;
    }
    SetName(def->Name());
    FFields = def->FFields;
    FOptions = def->FOptions;
    FCaseInsFields = def->FCaseInsFields;
    FDescFields = def->FDescFields;
    FExpression = def->FExpression;
    Changed(false);
}

TIndexDefs::TIndexDefs(TDataSet* dataSet) : TDefCollection(dataSet, ItemClassOf<TIndexDef>()) {}

void TIndexDefs::Add(const std::string& name, const std::string& fields, TIndexOptions options)
{
    if (IndexOf(name) >= 0)
        DatabaseErrorFmt(SDuplicateName, {name, ClassName()});
    BeginUpdate();
    TIndexDef* def = AddIndexDef();
    def->SetName(name);
    def->SetFields(fields);
    def->SetOptions(options);
    EndUpdate();
}

TIndexDef* TIndexDefs::Find(const std::string& name) const
{
    TNamedItem* def = TDefCollection::Find(name);
    if (!def)
        DatabaseErrorFmt(SIndexNotFound, {name}, DataSet());
    return static_cast<TIndexDef*>(def);
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& fields, bool caseInsensitive) const
{
    const std::size_t length = fields.size();
    for (const bool exact : {true, false})
        for (int i = 0; i < Count(); ++i) {
            TIndexDef* def = Items(i);
            if ((def->Options() & (ixDescending | ixExpression)) != 0)
                continue;
            if (caseInsensitive && (def->Options() & ixCaseInsensitive) == 0)
                continue;
            const std::string& own = def->Fields();
            if (exact ? AnsiCompareText(fields, own) == 0
                      : own.size() > length && own[length] == ';' &&
                            AnsiCompareText(fields, own.substr(0, length)) == 0)
                return def;
        }
    return nullptr;
}

TIndexDef* TIndexDefs::FindIndexForFields(const std::string& fields) const
{
    TIndexDef* def = GetIndexForFields(fields, false);
    if (!def)
        def = GetIndexForFields(fields, true);
    if (!def)
        DatabaseErrorFmt(SNoIndexForFields, {fields}, DataSet());
    return def;
}

void TIndexDefs::Update()
{
    if (Updated())
        return;
    DataSet()->UpdateIndexDefs();
    SetUpdated(true);
}

} // namespace orvex
