// The privilege model: stored privilege bits and their enumerations, the
// stored privileges of a group with their masks, and the user-facing
// privileges by object name.

#include "storage/vekVerControl.h"

#include <array>

namespace orvex {

namespace {

// The stored bit of each privilege type, indexed by the type.
constexpr std::array<Integer, TObjectPrivilegeTypeCount> ObjectPrivilegeBits = {
    0, 2, 4, 8, 16, 256, 1024, 2048, 4096,
};
constexpr std::array<Integer, TSystemPrivilegeTypeCount> SystemPrivilegeBits = {0, 1, 2, 8, 16};

// The type whose stored bit is Value; the first type (none) for any other value.
template <class Type, std::size_t Count>
Type TypeOfBit(const std::array<Integer, Count>& Bits, Integer Value)
{
    for (std::size_t i = 1; i < Count; ++i)
        if (Bits[i] == Value)
            return static_cast<Type>(i);
    return static_cast<Type>(0);
}

template <std::size_t Count>
Integer BitOfType(const std::array<Integer, Count>& Bits, int Ordinal)
{
    return Ordinal >= 0 && static_cast<std::size_t>(Ordinal) < Count ? Bits[Ordinal] : 0;
}

} // namespace

TObjectPrivilegeType MapObjectPrivConstToType(Integer Value)
{
    return TypeOfBit<TObjectPrivilegeType>(ObjectPrivilegeBits, Value);
}

Integer MapObjectPrivTypeToConst(TObjectPrivilegeType Type)
{
    return BitOfType(ObjectPrivilegeBits, static_cast<int>(Type));
}

TSystemPrivilegeType MapSystemPrivConstToType(Integer Value)
{
    return TypeOfBit<TSystemPrivilegeType>(SystemPrivilegeBits, Value);
}

Integer MapSystemPrivTypeToConst(TSystemPrivilegeType Type)
{
    return BitOfType(SystemPrivilegeBits, static_cast<int>(Type));
}

// ---------------------------------------------------------- TInternalObjPriv

TInternalObjPriv::TInternalObjPriv(TCollection* Collection)
    : TCollectionItem(Collection), FFieldIDs(new TStringList)
{
}

TInternalObjPriv::~TInternalObjPriv()
{
    delete FFieldIDs;
}

void TInternalObjPriv::SetFields(bool AllFields, const std::string& FieldIDs)
{
    FAllFields = AllFields;
    FFieldIDs->SetCommaText(FieldIDs);
}

void TInternalObjPriv::SetFieldIDValues(TStrings* List)
{
    FFieldIDs->Assign(List);
}

// --------------------------------------------------------- TInternalObjPrivs

TInternalObjPrivs::TInternalObjPrivs() : TCollection(ItemClassOf<TInternalObjPriv>()) {}

TInternalObjPriv* TInternalObjPrivs::FindPrivilege(Integer ObjectID, Integer PrivilegeID) const
{
    for (int i = 0; i < Count(); ++i) {
        TInternalObjPriv* priv = Items(i);
        if (priv->ObjectID() == ObjectID && priv->PrivilegeID() == PrivilegeID)
            return priv;
    }
    return nullptr;
}

bool TInternalObjPrivs::CheckPrivilegeExists(Integer ObjectID, Integer PrivilegeID) const
{
    return FindPrivilege(ObjectID, PrivilegeID) != nullptr;
}

bool TInternalObjPrivs::CheckPrivilegeAndFieldID(Integer ObjectID, Integer PrivilegeID, Integer FieldID) const
{
    const TInternalObjPriv* priv = FindPrivilege(ObjectID, PrivilegeID);
    if (!priv)
        return false;
    return priv->AllFields() || priv->FieldIDs()->IndexOf(IntToStr(FieldID)) >= 0;
}

void TInternalObjPrivs::SetMasks()
{
    Integer mask = 0;
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->ObjectID() == 1)
            mask |= Items(i)->PrivilegeID();
    FTablePrivilegeMask = mask;
}

// --------------------------------------------------------- TInternalSysPrivs

TInternalSysPrivs::TInternalSysPrivs() : TCollection(ItemClassOf<TInternalSysPriv>()) {}

TInternalSysPriv* TInternalSysPrivs::FindPrivilege(Integer PrivilegeID) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->PrivilegeID() == PrivilegeID)
            return Items(i);
    return nullptr;
}

bool TInternalSysPrivs::CheckPrivilegeExists(Integer PrivilegeID) const
{
    return FindPrivilege(PrivilegeID) != nullptr;
}

void TInternalSysPrivs::SetMask()
{
    Integer mask = 0;
    for (int i = 0; i < Count(); ++i)
        mask |= Items(i)->PrivilegeID();
    FPrivilegeMask = mask;
}

// ------------------------------------------------------- TInternalPrivileges

TInternalPrivileges::TInternalPrivileges()
    : FObjectPrivileges(new TInternalObjPrivs), FSystemPrivileges(new TInternalSysPrivs)
{
}

TInternalPrivileges::~TInternalPrivileges()
{
    delete FSystemPrivileges;
    delete FObjectPrivileges;
}

void TInternalPrivileges::Clear()
{
    // The masks go with the items: an emptied set grants nothing.
    FObjectPrivileges->Clear();
    FObjectPrivileges->SetTablePrivilegeMask(0);
    FSystemPrivileges->Clear();
    FSystemPrivileges->SetPrivilegeMask(0);
}

// ------------------------------------------------------------ object privileges

void TObjectPrivilege::Assign(TPersistent* Source)
{
    auto* other = dynamic_cast<TObjectPrivilege*>(Source);
    if (!other) {
        TCollectionItem::Assign(Source);
        return;
    }
    FObjectName = other->FObjectName;
    FObjectType = other->FObjectType;
    FPrivilegeType = other->FPrivilegeType;
    FFields = other->FFields;
    FGrantOption = other->FGrantOption;
}

TObjectPrivileges::TObjectPrivileges() : TCollection(ItemClassOf<TObjectPrivilege>()) {}

TObjectPrivilege* TObjectPrivileges::FindPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                                   TObjectPrivilegeType PrivilegeType) const
{
    for (int i = 0; i < Count(); ++i) {
        TObjectPrivilege* priv = Items(i);
        if (priv->ObjectType() == ObjectType && priv->PrivilegeType() == PrivilegeType &&
            AnsiSameText(priv->ObjectName(), ObjectName))
            return priv;
    }
    return nullptr;
}

bool TObjectPrivileges::CheckForNamedObjectPrivileges(TDatabaseObjectType ObjectType,
                                                      const std::string& ObjectName) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->ObjectType() == ObjectType && AnsiSameText(Items(i)->ObjectName(), ObjectName))
            return true;
    return false;
}

// ------------------------------------------------------------ system privileges

void TSystemPrivilege::Assign(TPersistent* Source)
{
    auto* other = dynamic_cast<TSystemPrivilege*>(Source);
    if (!other) {
        TCollectionItem::Assign(Source);
        return;
    }
    FPrivilegeType = other->FPrivilegeType;
    FGrantOption = other->FGrantOption;
}

TSystemPrivileges::TSystemPrivileges() : TCollection(ItemClassOf<TSystemPrivilege>()) {}

TSystemPrivilege* TSystemPrivileges::FindPrivilege(TSystemPrivilegeType PrivilegeType) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->PrivilegeType() == PrivilegeType)
            return Items(i);
    return nullptr;
}

// -------------------------------------------------------------------- TPrivileges

TPrivileges::TPrivileges() : FSystemPrivileges(new TSystemPrivileges), FObjectPrivileges(new TObjectPrivileges) {}

TPrivileges::~TPrivileges()
{
    delete FObjectPrivileges;
    delete FSystemPrivileges;
}

void TPrivileges::ClearPrivileges()
{
    FSystemPrivileges->Clear();
    FObjectPrivileges->Clear();
}

} // namespace orvex
