// Index definitions.

#include "storage/vekIndexUnitManager.h"

#include "host/Streaming.h"
#include "host/SysUtils.h"

namespace orvex {

const std::vector<std::string>& IndexKeyTypeIdentifiers()
{
    static const std::vector<std::string> names{"ikFixed", "ikMinStringLen"};
    return names;
}

// ======================================================== TInternalIndexDef

TInternalIndexDef::TInternalIndexDef(TCollection* Collection) : TCollectionItem(Collection) {}

void TInternalIndexDef::Assign(TPersistent* Source)
{
    auto* src = dynamic_cast<TInternalIndexDef*>(Source);
    if (src == nullptr) {
        TCollectionItem::Assign(Source);
        return;
    }
    FIndexSequence = src->FIndexSequence;
    FIndexName = src->FIndexName;
    FUnique = src->FUnique;
    FPrimary = src->FPrimary;
    FHidden = src->FHidden;
    FMaintained = src->FMaintained;
    FMemory = src->FMemory;
    FMaximumKeySize = src->FMaximumKeySize;
    FKeyDataOffset = src->FKeyDataOffset;
    FIndexPageSize = src->FIndexPageSize;
    FIndexKeyType = src->FIndexKeyType;
}

void TInternalIndexDef::PublishNameAndFlags(TPropertyList& List)
{
    using T = TInternalIndexDef;
    List.AddInteger("IndexSequence", this, &T::IndexSequence, &T::SetIndexSequence);
    List.AddString("IndexName", this, &T::IndexName, &T::SetIndexName);
    List.AddBoolean("Unique", this, &T::Unique, &T::SetUnique);
    List.AddBoolean("Primary", this, &T::Primary, &T::SetPrimary);
    List.AddBoolean("Hidden", this, &T::Hidden, &T::SetHidden);
    List.AddBoolean("Maintained", this, &T::Maintained, &T::SetMaintained);
    List.AddBoolean("Memory", this, &T::Memory, &T::SetMemory);
}

void TInternalIndexDef::PublishSizes(TPropertyList& List)
{
    using T = TInternalIndexDef;
    List.AddInteger("MaximumKeySize", this, &T::MaximumKeySize, &T::SetMaximumKeySize);
    List.AddInteger("KeyDataOffset", this, &T::KeyDataOffset, &T::SetKeyDataOffset);
    List.AddInteger("IndexPageSize", this, &T::IndexPageSize, &T::SetIndexPageSize);
}

void TInternalIndexDef::PublishProperties(TPropertyList& List)
{
    TCollectionItem::PublishProperties(List);
    PublishNameAndFlags(List);
    PublishSizes(List);
    using T = TInternalIndexDef;
    List.AddEnumeration("IndexKeyType", IndexKeyTypeIdentifiers(), this, &T::IndexKeyType,
                        &T::SetIndexKeyType);
}

// ======================================================= TInternalIndexDefs

TInternalIndexDefs::TInternalIndexDefs() : TCollection(ItemClassOf<TInternalIndexDef>()) {}

TInternalIndexDef* TInternalIndexDefs::FindIndexDef(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->IndexName(), Name))
            return GetItems(i);
    return nullptr;
}

} // namespace orvex
