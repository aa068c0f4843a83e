// Registry objects: write one key with its values in the registry phase and
// list them for the uninstall program.

#include "installer/cmp_TInstallRegistry.h"

#include "installer/cmp_TInstall.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/cmp_TDrvnRegistry.h"
#include "installer/routines_Strings.h"

namespace orvex {

// ------------------------------------------------------------ the entries

TRegistryEntry::TRegistryEntry(TCollection* collection) : TCollectionItem(collection)
{
    if (auto* entries = dynamic_cast<TRegistryEntries*>(collection))
        FOwner = entries->Owner();
}

bool TRegistryEntry::Loading() const
{
    return FOwner != nullptr && FOwner->IsLoading();
}

void TRegistryEntry::SetBoolean(bool value)
{
    FBoolean = value;
    if (!Loading())
        EntryType = retBoolean;
}

void TRegistryEntry::SetInteger(Integer value)
{
    FInteger = value;
    if (!Loading())
        EntryType = retInteger;
}

void TRegistryEntry::SetText(const std::string& value)
{
    FText = value;
    if (!Loading())
        EntryType = retText;
}

void TRegistryEntry::SetPathSpecifier(TCustomPathSpecifier* value)
{
    FPathSpecifier = value;
    if (Loading() || value == nullptr)
        return;
    EntryType = retText;
    if (FOwner)
        value->FreeNotification(FOwner);
    FText = "%p";
}

std::string TRegistryEntry::ExpandedText() const
{
    if (FPathSpecifier == nullptr)
        return FText;
    std::string path;
    FPathSpecifier->GetPath(FOwner, path);
    std::string result;
    ExpandPathPattern(FText, path, result);
    return result;
}

void TRegistryEntry::Assign(TPersistent* source)
{
    if (auto* other = dynamic_cast<TRegistryEntry*>(source)) {
        FBoolean = other->FBoolean;
        EntryType = other->EntryType;
        Ident = other->Ident;
        FInteger = other->FInteger;
        FPathSpecifier = other->FPathSpecifier;
        FText = other->FText;
        return;
    }
    TCollectionItem::Assign(source);
}

TRegistryEntries::TRegistryEntries(TCustomInstallRegistry* owner)
    : TCollection(ItemClassOf<TRegistryEntry>()), FOwner(owner)
{
    if (owner == nullptr)
        throw IERegistryEntries("Cannot create a TRegistryEntries component with a Nil Owner");
}

void TRegistryEntries::AssignOwners()
{
    for (int i = 0; i < Count(); ++i)
        Items(i)->SetOwner(FOwner);
}

// ------------------------------------------------------ the registry list

int TInstallRegistryList::Add(TCustomInstallRegistry* item)
{
    if (item == nullptr)
        throw IEInstallRegistryList("Cannot add blank entry to the registry list");
    return TList::Add(item);
}

TInstallRegistryList* InstallRegistryList()
{
    static TInstallRegistryList list;
    return &list;
}

// ------------------------------------------------------ the registry object

TCustomInstallRegistry::TCustomInstallRegistry(TComponent* owner)
    : TInstallObject(owner), FEntries(nullptr)
{
    FEntries = new TRegistryEntries(this);
    InstallRegistryList()->Add(this);
}

TCustomInstallRegistry::~TCustomInstallRegistry()
{
    InstallRegistryList()->Remove(this);
    delete FEntries;
}

void TCustomInstallRegistry::SetContainer(TInstallContainer* value)
{
    TInstallObject::SetContainer(value);
}

void TCustomInstallRegistry::SetEntries(TRegistryEntries* value)
{
    FEntries->Assign(value);
    FEntries->AssignOwners();
}

void TCustomInstallRegistry::SetKey(const std::string& value)
{
    FKey = value;
}

void TCustomInstallRegistry::SetKeySpecifierType(TKeySpecifier value)
{
    if (value != ksAbsolute && !Loading()) {
        if (GetInstall() == nullptr)
            throw IEInstallRegistry("There is no TInstall component in your project");
        GetInstall()->FreeNotification(this);
        RootKey = hkLocalMachine;
    }
    FKeySpecifierType = value;
}

std::string TCustomInstallRegistry::KeyPath()
{
    if (FKeySpecifierType == ksAbsolute)
        return RemoveBackSlash(FKey);
    TCustomInstall* install = GetInstall();
    if (install == nullptr)
        throw IEInstallRegistry("There is no TInstall component in your project");
    const TInstallInformation* info = install->Information();
    std::string path = "\\SOFTWARE\\" + info->CompanyName;
    if (FKeySpecifierType == ksProductName || FKeySpecifierType == ksVersion)
        path += "\\" + info->ProductName;
    if (FKeySpecifierType == ksVersion)
        path += "\\" + info->Version;
    return path;
}

void TCustomInstallRegistry::ReceiveMessage(TObject* sender, Integer code, TObject* parameter)
{
    TInstallObject::ReceiveMessage(sender, code, parameter);
    if (code == bmRegistryObjects)
        Install();
}

void TCustomInstallRegistry::InstallChildren()
{
    Written.clear();
    const std::string key = KeyPath();
    for (int i = 0; i < FEntries->Count(); ++i) {
        TRegistryEntry* entry = FEntries->Items(i);
        bool write = true;
        if (OnBeforeWriteEntry)
            OnBeforeWriteEntry(this, entry, write);
        if (!write)
            continue;
        TdrvnRegistry registry;
        registry.SetRootKey(GetRootKey(RootKey));
        if (!registry.OpenOrCreateKey(!key.empty() && key[0] == '\\' ? key : "\\" + key))
            throw IEInstallRegistry("%s cannot create the key %s in the registry", {Name(), key});
        switch (entry->EntryType) {
        case retText: registry.WriteString(entry->Ident, entry->ExpandedText()); break;
        case retInteger: registry.WriteInteger(entry->Ident, entry->Integer_()); break;
        case retBoolean: registry.WriteBool(entry->Ident, entry->Boolean()); break;
        }
        Written.push_back(entry);
    }
    TInstallObject::InstallChildren();
}

void TCustomInstallRegistry::WriteUninstallInfo(const std::string& keyPath)
{
    const std::string listKey = keyPath + "\\RegistryKeys";
    const Integer n = StrToIntDef(ReadRegString(HKEY_LOCAL_MACHINE, listKey, "Entries", "0"), 0) + 1;
    WriteRegString(HKEY_LOCAL_MACHINE, listKey, "Entries", std::to_string(n));
    const std::string itemKey = listKey + "\\RegistryKey" + std::to_string(n);
    WriteRegString(HKEY_LOCAL_MACHINE, itemKey, "Key", KeyPath());
    WriteRegInteger(HKEY_LOCAL_MACHINE, itemKey, "Root", static_cast<Integer>(RootKey));
    for (TRegistryEntry* entry : Written)
        WriteRegString(HKEY_LOCAL_MACHINE, itemKey + "\\Entries", entry->Ident, entry->ExpandedText());
}

void TCustomInstallRegistry::Loaded()
{
    TInstallObject::Loaded();
    FEntries->AssignOwners();
}

void TCustomInstallRegistry::Notification(TComponent* component, TOperation operation)
{
    TInstallObject::Notification(component, operation);
    if (operation != opRemove)
        return;
    for (int i = 0; i < FEntries->Count(); ++i)
        if (FEntries->Items(i)->PathSpecifier() == component)
            FEntries->Items(i)->ForgetPathSpecifier();
    if (component == GetInstall() && FKeySpecifierType != ksAbsolute)
        FKeySpecifierType = ksAbsolute;
}

} // namespace orvex
