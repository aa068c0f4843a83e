#pragma once
// Registry objects: one registry key with a collection of values, written in
// the install run's registry phase and recorded for the uninstall program.

#include "host/Classes.h"
#include "installer/cmp_TInstallContainer.h"
#include "installer/routines_Registry.h"

#include <functional>
#include <string>

namespace orvex {

class TCustomInstallRegistry;

enum TRegistryEntryType { retText, retInteger, retBoolean };
enum TKeySpecifier { ksAbsolute, ksCompanyName, ksProductName, ksVersion };

// One value of a registry object.
class TRegistryEntry : public TCollectionItem {
public:
    explicit TRegistryEntry(TCollection* collection);

    bool Boolean() const { return FBoolean; }
    TRegistryEntryType EntryType = retText;
    std::string Ident;
    Integer Integer_() const { return FInteger; }
    TCustomPathSpecifier* PathSpecifier() const { return FPathSpecifier; }
    const std::string& Text() const { return FText; }
    TCustomInstallRegistry* Owner() const { return FOwner; }
    void SetOwner(TCustomInstallRegistry* owner) { FOwner = owner; }

    // Outside loading each setter also sets the entry's type; a specifier
    // makes it text "%p" and registers the owner with the specifier.
    void SetBoolean(bool value);
    void SetInteger(Integer value);
    void SetText(const std::string& value);
    void SetPathSpecifier(TCustomPathSpecifier* value);
    // Drops a specifier that is being freed, keeping the type.
    void ForgetPathSpecifier() { FPathSpecifier = nullptr; }
    // The text written: Text, with "%p" replaced by the specifier's path and
    // "%%" by "%" when there is a specifier.
    std::string ExpandedText() const;
    void Assign(TPersistent* source) override;

private:
    bool Loading() const;
    bool FBoolean = false;
    Integer FInteger = 0;
    TCustomPathSpecifier* FPathSpecifier = nullptr;
    std::string FText;
    TCustomInstallRegistry* FOwner = nullptr;
};

class TRegistryEntries : public TCollection {
public:
    // A nil owner raises "Cannot create a TRegistryEntries component with a
    // Nil Owner".
    explicit TRegistryEntries(TCustomInstallRegistry* owner);
    TRegistryEntry* Items(int index) const { return static_cast<TRegistryEntry*>(TCollection::Items(index)); }
    TRegistryEntry* Add() { return static_cast<TRegistryEntry*>(TCollection::Add()); }
    TCustomInstallRegistry* Owner() const { return FOwner; }
    // Tells every item its owner.
    void AssignOwners();

private:
    TCustomInstallRegistry* FOwner;
};

using TBeforeWriteEntryEvent = std::function<void(TObject* sender, TRegistryEntry* entry, bool& write)>;

class TCustomInstallRegistry : public TInstallObject {
public:
    explicit TCustomInstallRegistry(TComponent* owner);
    ~TCustomInstallRegistry() override;

    Integer KindCode() const override { return kcRegistry; }

    // -- virtual operations added, in order
    void SetContainer(TInstallContainer* value) override;
    virtual void SetEntries(TRegistryEntries* value);
    virtual void SetKey(const std::string& value);
    // Other than ksAbsolute needs an install component and sets RootKey to
    // hkLocalMachine.
    virtual void SetKeySpecifierType(TKeySpecifier value);
    // The key path by KeySpecifierType.
    virtual std::string KeyPath();

    void ReceiveMessage(TObject* sender, Integer code, TObject* parameter) override;
    // Writes the entries, then installs the children.
    void InstallChildren() override;
    void WriteUninstallInfo(const std::string& keyPath) override;

    TRegistryEntries* Entries() const { return FEntries; }
    const std::string& Key() const { return FKey; }
    TKeySpecifier KeySpecifierType() const { return FKeySpecifierType; }
    TRootKeys RootKey = hkLocalMachine;
    TBeforeWriteEntryEvent OnBeforeWriteEntry;
    // The entries written in this run (refused ones are not listed for the
    // uninstall program).
    std::vector<TRegistryEntry*> Written;

protected:
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TRegistryEntry;
    bool IsLoading() const { return Loading(); }
    TRegistryEntries* FEntries; // owned
    std::string FKey = "\\SOFTWARE\\MyStuff";
    TKeySpecifier FKeySpecifierType = ksAbsolute;
};

class TInstallRegistry : public TCustomInstallRegistry {
public:
    using TCustomInstallRegistry::TCustomInstallRegistry;
};

// Every registry object while it exists.
class TInstallRegistryList : public TList {
public:
    // Nil raises "Cannot add blank entry to the registry list".
    int Add(TCustomInstallRegistry* item);
};
TInstallRegistryList* InstallRegistryList();

} // namespace orvex
