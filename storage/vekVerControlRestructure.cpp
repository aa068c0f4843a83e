// Restructure definitions: the new field and index layouts of a table, their
// change statuses against the current layout, the change log and the checks
// on new indexes.

#include "storage/vekVerControl.h"

#include "storage/vekCommon.h"

#include <vector>

namespace orvex {

namespace {

const char* const ValidateContext = "TRestructureIndexDefs.ValidateNewIndexDefs";

// A collection's status only ever rises while its items are compared.
void RaiseStatus(TDefChangeType& Status, TDefChangeType Value)
{
    if (Value > Status)
        Status = Value;
}

// A collection's status before its items are compared: all new without a
// current layout, else an addition or a deletion when the counts differ.
TDefChangeType StartingStatus(int NewCount, const TCollection* Current)
{
    if (!Current || NewCount > Current->Count())
        return dcAdded;
    return NewCount < Current->Count() ? dcDeleted : dcNoChange;
}

bool IsBlobType(TFieldType Type)
{
    return Type == ftBlob || Type == ftMemo || Type == ftGraphic || Type == ftFmtMemo;
}

bool IsStringType(TFieldType Type)
{
    return Type == ftString || Type == ftWideString;
}

// The names of a semicolon-separated field list, every piece kept (so that
// joining them again gives the same text); an empty list has no names.
std::vector<std::string> SplitFieldList(const std::string& List)
{
    std::vector<std::string> names;
    if (List.empty())
        return names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = List.find(';', start);
        names.push_back(List.substr(start, end - start));
        if (end == std::string::npos)
            return names;
        start = end + 1;
    }
}

std::string JoinFieldList(const std::vector<std::string>& Names)
{
    std::string list;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (i > 0)
            list += ';';
        list += Names[i];
    }
    return list;
}

// The list with every entry that is OldName (ignoring case) renamed; entries
// that only contain OldName inside them stay.
std::string RenameInFieldList(const std::string& List, const std::string& OldName, const std::string& NewName)
{
    std::vector<std::string> names = SplitFieldList(List);
    for (std::string& name : names)
        if (AnsiSameText(name, OldName))
            name = NewName;
    return JoinFieldList(names);
}

std::string RemoveFromFieldList(const std::string& List, const std::string& FieldName)
{
    std::vector<std::string> kept;
    for (std::string& name : SplitFieldList(List))
        if (!AnsiSameText(name, FieldName))
            kept.push_back(std::move(name));
    return JoinFieldList(kept);
}

// Whether some new field takes its data from the current field Name.
bool IsSourceOfSomeField(const TRestructureFieldDefs& Defs, const std::string& Name)
{
    for (int i = 0; i < Defs.Count(); ++i)
        if (AnsiSameText(Defs.Items(i)->SourceFieldName(), Name))
            return true;
    return false;
}

// The status of one new field against the current layout.
TDefChangeType FieldStatus(const TRestructureFieldDef& Def, const TFieldDefs& Current)
{
    if (Def.SourceFieldName().empty())
        return dcAdded;
    const int sourceIndex = Current.IndexOf(Def.SourceFieldName());
    ORVEX_ASSERT(sourceIndex >= 0, "Source Def not found");
    const TFieldDef& source = *Current.Items(sourceIndex);
    if (RestructureTypeChangeLosesData(source.DataType(), Def.DataType()))
        return dcDataLoss;
    if (source.DataType() == Def.DataType()) {
        if (Def.Size() < source.Size())
            return dcDataLoss;
        if (Def.Size() == source.Size()) {
            const bool unchanged = Def.Name() == source.Name() && Def.Index() == sourceIndex &&
                                   Def.Required() == source.Required();
            return unchanged ? dcNoChange : dcDefOnlyChange;
        }
    }
    return dcDataChange;
}

} // namespace

bool RestructureTypeChangeLosesData(TFieldType OldType, TFieldType NewType)
{
    switch (NewType) {
    case ftSmallint:
    case ftWord:
        if (OldType != ftSmallint && OldType != ftWord && OldType != ftBoolean)
            return true;
        break;
    case ftInteger:
    case ftAutoInc:
        if (OldType == ftFloat || OldType == ftCurrency || OldType == ftBCD || OldType == ftTime ||
            OldType == ftDateTime)
            return true;
        break;
    case ftBoolean:
        if (OldType != ftBoolean)
            return true;
        break;
    case ftCurrency:
    case ftBCD:
        if (OldType == ftFloat || OldType == ftTime || OldType == ftDateTime)
            return true;
        break;
    default:
        if (IsBlobType(NewType) && !IsBlobType(OldType))
            return true;
        break;
    }
    return (IsBlobType(OldType) && !IsBlobType(NewType)) || IsStringType(OldType) != IsStringType(NewType);
}

// ------------------------------------------------------ TRestructureFieldDef

TRestructureFieldDef::TRestructureFieldDef(TCollection* Collection) : TCollectionItem(Collection) {}

void TRestructureFieldDef::CopyFrom(const TRestructureFieldDef& Other)
{
    FChangeStatus = Other.FChangeStatus;
    FRequired = Other.FRequired;
    FSize = Other.FSize;
    FName = Other.FName;
    FDataType = Other.FDataType;
    FPrecision = Other.FPrecision;
    FSourceFieldName = Other.FSourceFieldName;
}

void TRestructureFieldDef::Assign(TPersistent* Source)
{
    if (auto* field = dynamic_cast<TFieldDef*>(Source)) {
        FName = field->Name();
        FDataType = field->DataType();
        FSize = field->Size();
        FPrecision = field->Precision();
        FRequired = field->Required();
        FSourceFieldName = field->Name();
    } else if (auto* other = dynamic_cast<TRestructureFieldDef*>(Source)) {
        CopyFrom(*other);
    } else {
        TCollectionItem::Assign(Source);
    }
}

void TRestructureFieldDef::AssignTo(TPersistent* Dest)
{
    auto* field = dynamic_cast<TFieldDef*>(Dest);
    if (!field) {
        TCollectionItem::AssignTo(Dest);
        return;
    }
    field->SetName(FName);
    field->SetDataType(FDataType);
    field->SetSize(FSize);
    field->SetPrecision(FPrecision);
    field->SetRequired(FRequired);
}

// ----------------------------------------------------- TRestructureFieldDefs

TRestructureFieldDefs::TRestructureFieldDefs() : TRestructureFieldDefs(ItemClassOf<TRestructureFieldDef>()) {}

TRestructureFieldDefs::TRestructureFieldDefs(TCollectionItemClass ItemClass) : TCollection(std::move(ItemClass))
{
}

TRestructureFieldDef* TRestructureFieldDefs::AddFieldDef()
{
    return static_cast<TRestructureFieldDef*>(Add());
}

TRestructureFieldDef* TRestructureFieldDefs::AddAndSetFieldDef(const std::string& Name, TFieldType DataType,
                                                               Integer Size)
{
    TRestructureFieldDef* def = AddFieldDef();
    def->SetName(Name);
    def->SetDataType(DataType);
    def->SetSize(Size);
    return def;
}

TRestructureFieldDef* TRestructureFieldDefs::Insert(int Index)
{
    return static_cast<TRestructureFieldDef*>(TCollection::Insert(Index));
}

TRestructureFieldDef* TRestructureFieldDefs::Find(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Items(i)->Name(), Name))
            return Items(i);
    return nullptr;
}

TFieldDef* TRestructureFieldDefs::FindSourceDef(const std::string& Name) const
{
    if (!FFieldDefs)
        return nullptr;
    const int index = FFieldDefs->IndexOf(Name);
    return index < 0 ? nullptr : FFieldDefs->Items(index);
}

void TRestructureFieldDefs::Assign(TPersistent* Source)
{
    TCollection::Assign(Source);
    if (auto* other = dynamic_cast<TRestructureFieldDefs*>(Source); other && other != this) {
        FChangeStatus = other->FChangeStatus;
        FAutoIncResetValue = other->FAutoIncResetValue;
        FResetAutoIncValue = other->FResetAutoIncValue;
        FChangeLog = other->FChangeLog;
        FFieldDefs = other->FFieldDefs;
    }
}

void TRestructureFieldDefs::AssignTo(TPersistent* Dest)
{
    if (auto* fields = dynamic_cast<TFieldDefs*>(Dest))
        fields->Assign(this); // item by item, through TRestructureFieldDef::AssignTo
    else
        TCollection::AssignTo(Dest);
}

bool TRestructureFieldDefs::CheckIfFieldsDeleted() const
{
    if (!FFieldDefs)
        return false;
    for (int i = 0; i < FFieldDefs->Count(); ++i)
        if (!IsSourceOfSomeField(*this, FFieldDefs->Items(i)->Name()))
            return true;
    return false;
}

void TRestructureFieldDefs::SwapDefs(int I, int J)
{
    if (I < 0 || I >= Count() || J < 0 || J >= Count())
        throw Exception("Invalid Field Def Index in SwapDefs");
    TRestructureFieldDef held(nullptr);
    held.CopyFrom(*Items(I));
    Items(I)->CopyFrom(*Items(J));
    Items(J)->CopyFrom(held);
}

void TRestructureFieldDefs::Log(const std::string& Line) const
{
    if (FChangeLog)
        FChangeLog->Add(Line);
}

void TRestructureFieldDefs::ValidateAgainstOriginalDefs(TFieldDefs* Current)
{
    if (Current && !FFieldDefs)
        FFieldDefs = Current;
    FChangeStatus = StartingStatus(Count(), Current);

    for (int i = 0; i < Count(); ++i) {
        TRestructureFieldDef* def = Items(i);
        def->SetChangeStatus(Current ? FieldStatus(*def, *Current) : dcAdded);
        RaiseStatus(FChangeStatus, def->ChangeStatus());
        Log("Field Def: " + def->Name() + " status: " + CChangeTypeNames[def->ChangeStatus()]);
    }

    // A current field that gives its data to no new field loses it: the data
    // must move. Raised, never lowered: a possible loss stays reported.
    if (Current)
        for (int i = 0; i < Current->Count(); ++i) {
            const std::string& name = Current->Items(i)->Name();
            if (IsSourceOfSomeField(*this, name))
                continue;
            Log("Prior Field Def: " + name + " status: " + CChangeTypeNames[dcDeleted]);
            RaiseStatus(FChangeStatus, dcDataChange);
        }

    Log(std::string("FieldDefs: Change status is - ") + CChangeTypeNames[FChangeStatus]);
}

// ------------------------------------------------------ TRestructureIndexDef

TRestructureIndexDef::TRestructureIndexDef(TCollection* Collection) : TCollectionItem(Collection) {}

void TRestructureIndexDef::Assign(TPersistent* Source)
{
    if (auto* index = dynamic_cast<TIndexDef*>(Source)) {
        FName = index->Name();
        FFields = index->Fields();
        FCaseInsFields = index->CaseInsFields();
        FDescFields = index->DescFields();
        FOptions = index->Options();
        FSourceIndexDef = index;
    } else if (auto* other = dynamic_cast<TRestructureIndexDef*>(Source)) {
        FChangeStatus = other->FChangeStatus;
        FSourceIndexDef = other->FSourceIndexDef;
        FName = other->FName;
        FFields = other->FFields;
        FCaseInsFields = other->FCaseInsFields;
        FDescFields = other->FDescFields;
        FOptions = other->FOptions;
    } else {
        TCollectionItem::Assign(Source);
    }
}

void TRestructureIndexDef::AssignTo(TPersistent* Dest)
{
    auto* index = dynamic_cast<TIndexDef*>(Dest);
    if (!index) {
        TCollectionItem::AssignTo(Dest);
        return;
    }
    index->SetName(FName);
    index->SetFields(FFields);
    index->SetCaseInsFields(FCaseInsFields);
    index->SetDescFields(FDescFields);
    index->SetOptions(FOptions);
}

void TRestructureIndexDef::DeleteField(const std::string& FieldName)
{
    FFields = RemoveFromFieldList(FFields, FieldName);
    FCaseInsFields = RemoveFromFieldList(FCaseInsFields, FieldName);
    FDescFields = RemoveFromFieldList(FDescFields, FieldName);
}

// ----------------------------------------------------- TRestructureIndexDefs

TRestructureIndexDefs::TRestructureIndexDefs() : TRestructureIndexDefs(ItemClassOf<TRestructureIndexDef>()) {}

TRestructureIndexDefs::TRestructureIndexDefs(TCollectionItemClass ItemClass) : TCollection(std::move(ItemClass))
{
}

TRestructureIndexDef* TRestructureIndexDefs::AddIndexDef()
{
    return static_cast<TRestructureIndexDef*>(Add());
}

TRestructureIndexDef* TRestructureIndexDefs::AddAndSetIndexDef(const std::string& Name, const std::string& Fields,
                                                               TIndexOptions Options)
{
    TRestructureIndexDef* def = AddIndexDef();
    def->SetName(Name);
    def->SetFields(Fields);
    def->SetOptions(Options);
    if (Options & ixCaseInsensitive)
        def->SetCaseInsFields(Fields);
    return def;
}

TRestructureIndexDef* TRestructureIndexDefs::Find(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(Items(i)->Name(), Name) == 0)
            return Items(i);
    return nullptr;
}

TRestructureIndexDef* TRestructureIndexDefs::FindSourceDef(const TIndexDef* IndexDef) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->SourceIndexDef() == IndexDef)
            return Items(i);
    return nullptr;
}

void TRestructureIndexDefs::Assign(TPersistent* Source)
{
    TCollection::Assign(Source);
    if (auto* other = dynamic_cast<TRestructureIndexDefs*>(Source); other && other != this) {
        FChangeStatus = other->FChangeStatus;
        FChangeLog = other->FChangeLog;
        FMaximumKeySize = other->FMaximumKeySize;
        FMaximumKeyFieldCount = other->FMaximumKeyFieldCount;
    }
}

void TRestructureIndexDefs::AssignTo(TPersistent* Dest)
{
    if (auto* indexes = dynamic_cast<TIndexDefs*>(Dest))
        indexes->Assign(this); // item by item, through TRestructureIndexDef::AssignTo
    else
        TCollection::AssignTo(Dest);
}

void TRestructureIndexDefs::DeleteField(const std::string& FieldName)
{
    for (int i = 0; i < Count(); ++i)
        Items(i)->DeleteField(FieldName);
}

void TRestructureIndexDefs::ReplaceFieldName(const std::string& OldName, const std::string& NewName)
{
    for (int i = 0; i < Count(); ++i) {
        TRestructureIndexDef* def = Items(i);
        def->SetFields(RenameInFieldList(def->Fields(), OldName, NewName));
        def->SetCaseInsFields(RenameInFieldList(def->CaseInsFields(), OldName, NewName));
        def->SetDescFields(RenameInFieldList(def->DescFields(), OldName, NewName));
    }
}

void TRestructureIndexDefs::CheckForDuplicatePrimaryIndexes() const
{
    bool primarySeen = false;
    for (int i = 0; i < Count(); ++i) {
        if ((Items(i)->Options() & ixPrimary) == 0)
            continue;
        if (primarySeen)
            VekDatabaseError(9996, ValidateContext, SvekOnlySinglePrimaryIndexAllowed,
                             const_cast<TRestructureIndexDefs*>(this));
        primarySeen = true;
    }
}

void TRestructureIndexDefs::ValidateNewIndexDefs(const TRestructureFieldDefs* FieldDefs) const
{
    auto* sender = const_cast<TRestructureIndexDefs*>(this);
    CheckForDuplicatePrimaryIndexes();
    for (int i = 0; i < Count(); ++i) {
        const TRestructureIndexDef* def = Items(i);
        const std::vector<std::string> names = SplitFieldList(def->Fields());
        Integer keySize = 0;
        for (const std::string& name : names) {
            const TRestructureFieldDef* field = FieldDefs ? FieldDefs->Find(name) : nullptr;
            if (!field)
                VekDatabaseErrorFmt(9996, ValidateContext,
                                    "The field '%s' in index '%s' was not found in the table field definitions.",
                                    {name, def->Name()}, sender);
            keySize += CalculateCoreDataSize(field->DataType());
            if (field->DataType() == ftString)
                keySize += field->Size();
            else if (field->DataType() == ftWideString)
                keySize += field->Size() * 2;
        }
        if (keySize > FMaximumKeySize)
            VekDatabaseErrorFmt(9996, ValidateContext,
                                "The Index '%s' with fields '%s' has exceeded the maximum key size of %d",
                                {def->Name(), def->Fields(), FMaximumKeySize}, sender);
        if (static_cast<Integer>(names.size()) > FMaximumKeyFieldCount)
            VekDatabaseErrorFmt(9996, ValidateContext,
                                "The Index '%s' with fields '%s' has exceeded the maximum key field count of %d",
                                {def->Name(), def->Fields(), FMaximumKeyFieldCount}, sender);
    }
    Log("IndexDefs: Validation OK");
}

void TRestructureIndexDefs::Log(const std::string& Line) const
{
    if (FChangeLog)
        FChangeLog->Add(Line);
}

TDefChangeType TRestructureIndexDefs::IndexStatus(const TRestructureIndexDef* Def,
                                                  const TRestructureFieldDefs* FieldDefs) const
{
    const TIndexDef* source = Def->SourceIndexDef();
    if (!source) {
        Log("New Index Def: " + Def->Name());
        return dcAdded;
    }
    const std::string prefix = "Index Def: " + Def->Name();
    if (Def->Options() != source->Options() || Def->Index() != source->Index()) {
        Log(prefix + " - Options or position changed");
        return dcDataChange;
    }

    TDefChangeType status = dcNoChange;
    if (!AnsiSameText(Def->Name(), source->Name())) {
        Log(prefix + " - Name changed");
        status = dcDefOnlyChange;
    }

    // Every key field must exist; a key field that is new or whose data
    // changes makes the keys change.
    const std::string* changedField = nullptr;
    const std::vector<std::string> names = SplitFieldList(Def->Fields());
    for (const std::string& name : names) {
        const TRestructureFieldDef* field = FieldDefs ? FieldDefs->Find(name) : nullptr;
        if (!field)
            throw Exception(
                Format("The field '%s' in index '%s' was not found in the table field definitions - %s",
                       {name, Def->Name(), Def->Fields()}));
        if (!changedField && field->ChangeStatus() >= dcAdded)
            changedField = &name;
    }
    if (changedField) {
        Log(prefix + " - Changed field: " + *changedField);
        return dcDataChange;
    }

    struct FieldList {
        const char* Label;
        const std::string& Old;
        const std::string& New;
    };
    const FieldList lists[] = {
        {"Index Def fields changed: ", source->Fields(), Def->Fields()},
        {"Index Def case insensitive fields changed: ", source->CaseInsFields(), Def->CaseInsFields()},
        {"Index Def descending fields changed: ", source->DescFields(), Def->DescFields()},
    };
    for (const FieldList& list : lists)
        if (!AnsiSameText(list.Old, list.New)) {
            Log(list.Label + Def->Name() + " from " + list.Old + " to " + list.New);
            return dcDataChange;
        }
    return status;
}

void TRestructureIndexDefs::ValidateAgainstOriginalDefs(TIndexDefs* IndexDefs, const TRestructureFieldDefs* FieldDefs)
{
    FChangeStatus = StartingStatus(Count(), IndexDefs);

    for (int i = 0; i < Count(); ++i) {
        TRestructureIndexDef* def = Items(i);
        def->SetChangeStatus(IndexDefs ? IndexStatus(def, FieldDefs) : dcAdded);
        RaiseStatus(FChangeStatus, def->ChangeStatus());
        Log("Index Def: '" + def->Name() + "' status: " + CChangeTypeNames[def->ChangeStatus()]);
    }

    if (IndexDefs)
        for (int i = 0; i < IndexDefs->Count(); ++i) {
            const TIndexDef* current = IndexDefs->Items(i);
            if (FindSourceDef(current))
                continue;
            Log("Prior Index Def: " + current->Name() + " status: " + CChangeTypeNames[dcDeleted]);
            RaiseStatus(FChangeStatus, dcDataChange);
        }

    Log(std::string("IndexDefs: Change status is - ") + CChangeTypeNames[FChangeStatus]);
}

} // namespace orvex
