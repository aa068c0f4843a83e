#pragma once
// Path specifiers: components that name a root folder symbolically. Install
// objects and registry entries refer to one and ask it for the actual path
// at install time, so that "the Windows system folder" or "the destination
// of my container" resolves on the machine being installed.
//
// Every specifier joins the global list of specifiers while it lives; the
// stock ones (TStandardPathSpecifier descendants) also the list of stock
// instances, and their classes stand in the stock class list in the order
// they are registered: this unit's fourteen, then those of
// specifiers_windows, then those of specifiers_Office.

#include "host/Classes.h"

#include <functional>
#include <string>

namespace orvex {

using TGetPathEvent = std::function<void(TObject* sender, std::string& path)>;

class TCustomPathSpecifier : public TComponent {
public:
    explicit TCustomPathSpecifier(TComponent* owner);
    ~TCustomPathSpecifier() override;

    TGetPathEvent OnGetPath;

    // Validates the object that asks (stock specifiers raise their errors here).
    virtual void CheckObject(TObject* obj);
    // A sentence describing the folder.
    virtual void GetDescription(std::string& text);
    virtual void GetObjectDescription(TObject* obj, std::string& text);
    // The folder for the asking object; the base asks OnGetPath (else leaves
    // the path as it is).
    virtual void GetPath(TObject* obj, std::string& path);
    // A short name.
    virtual void GetDisplayName(std::string& text);
    virtual void GetObjectDisplayName(TObject* obj, std::string& text);

    // GetPath starting from an empty path.
    std::string PathFor(TObject* obj);
};

// A specifier defined by the user of the library through OnGetPath.
class TPathSpecifier : public TCustomPathSpecifier {
public:
    using TCustomPathSpecifier::TCustomPathSpecifier;
    std::string Description = "My cool new path specifier";
    void GetDescription(std::string& text) override;
};

class TStandardPathSpecifier;

// A stock specifier class: its names, its texts and how to create one.
struct TPathSpecifierClassInfo {
    const char* ClassName;     // "TpsBDEDLL"
    const char* ComponentName; // the name its instances get: "psBDEDLL"
    const char* Description;
    const char* DisplayName;
    TStandardPathSpecifier* (*Create)(TComponent* owner);
};
using TPathSpecifierClass = const TPathSpecifierClassInfo*;

// The base of the stock specifiers. Their descriptions and display names are
// those of their class, and every path they give has a trailing "\" removed.
class TStandardPathSpecifier : public TCustomPathSpecifier {
public:
    explicit TStandardPathSpecifier(TComponent* owner);
    ~TStandardPathSpecifier() override;

    virtual TPathSpecifierClass SpecifierClass() const = 0;
    void GetDescription(std::string& text) override;
    void GetDisplayName(std::string& text) override;
    void GetPath(TObject* obj, std::string& path) override;

protected:
    // Finds the folder; path comes in as the caller passed it.
    virtual void ResolvePath(TObject* obj, std::string& path) = 0;
};

// ------------------------------------------------------------------- lists

class TPathSpecifierList : public TList {
public:
    TCustomPathSpecifier* Get(int index) const;
    // A nil specifier raises IEPathSpecifierList.
    int Add(TCustomPathSpecifier* specifier);
    int Remove(TCustomPathSpecifier* specifier);
    // The first instance of the class; raises IEPathSpecifier "Could not
    // find the path specifier" when none.
    TCustomPathSpecifier* FindByClass(TPathSpecifierClass cls) const;
    bool HasClass(TPathSpecifierClass cls) const;
};

class TStandardPathSpecList : public TPathSpecifierList {};

class TPathSpecifierClassList : public TList {
public:
    TPathSpecifierClass Get(int index) const;
    // A nil class raises IEPathSpecifierClassList.
    int Add(TPathSpecifierClass cls);
};

// The global lists, created at first use with every stock class registered.
TPathSpecifierList* PathSpecifierList();
TStandardPathSpecList* StandardPathSpecList();
TPathSpecifierClassList* PathSpecifierClassList();

// Creates on owner, named by its class's component name, an instance of each
// stock class in registration order; with onlyMissing, only of the classes
// that have no instance yet among all specifiers. Nothing without an owner.
void EnsureStandardSpecifiers(TComponent* container, TComponent* owner, bool onlyMissing);

// Expands a pattern: "%p" (or "%P") becomes path, "%%" a "%", "%" before any
// other character is dropped, a "%" at the very end adds nothing.
void ExpandPathPattern(const std::string& pattern, const std::string& path, std::string& result);

// ------------------------------------------------------- the install tree

// What the stock specifiers need to know of the install tree (install
// objects, their containers and the install component). The install-tree
// units install an implementation; without one no object is an install
// object and no install component exists.
class TInstallTreeAccess {
public:
    enum TContainerKind { ckInstall, ckGroup, ckFileContainer, ckOther };
    virtual ~TInstallTreeAccess() = default;

    virtual bool IsInstallObject(TObject* obj) const = 0;
    // The Container of an install object; nullptr when it has none.
    virtual TComponent* ContainerOf(TObject* installObject) const = 0;
    virtual TContainerKind KindOf(TComponent* container) const = 0;
    // The caption of a group or file container.
    virtual std::string CaptionOf(TComponent* container) const = 0;
    virtual bool IsFileRelated(TComponent* container) const = 0;
    virtual std::string ArchiveFileOf(TComponent* fileRelated) const = 0;
    virtual std::string DestinationDirectoryOf(TComponent* container) const = 0;
    // The one install component; nullptr when none exists.
    virtual TComponent* InstallComponent() const = 0;
    // The install component's source directory.
    virtual std::string SourceDirectory() const = 0;
    // Whether the install component was started by its self-extracting
    // loader ("-e"), and the executable name given with it.
    virtual bool StartedBySelfExtractor(std::string& exeName) const = 0;
};

TInstallTreeAccess* InstallTreeAccess();
void SetInstallTreeAccess(TInstallTreeAccess* access);

// ------------------------------------------------------ the stock classes

#define ORVEX_STOCK_SPECIFIER_BODY(Name)                                                           \
public:                                                                                            \
    using TStandardPathSpecifier::TStandardPathSpecifier;                                          \
    static const TPathSpecifierClassInfo ClassInfo;                                                \
    TPathSpecifierClass SpecifierClass() const override { return &ClassInfo; }                     \
                                                                                                   \
protected:                                                                                         \
    void ResolvePath(TObject* obj, std::string& path) override;

#define ORVEX_STOCK_SPECIFIER(Name)                                                                \
    class Name : public TStandardPathSpecifier {                                                   \
        ORVEX_STOCK_SPECIFIER_BODY(Name)                                                           \
    };

// Specifiers that ask the install tree check the asking object first.
#define ORVEX_TREE_SPECIFIER(Name)                                                                 \
    class Name : public TStandardPathSpecifier {                                                   \
    public:                                                                                        \
        void CheckObject(TObject* obj) override;                                                   \
        ORVEX_STOCK_SPECIFIER_BODY(Name)                                                           \
    };

ORVEX_STOCK_SPECIFIER(TpsBDEDLL)
ORVEX_STOCK_SPECIFIER(TpsCommonFiles)
ORVEX_TREE_SPECIFIER(TpsContainerArchiveFile)

class TpsContainerDestDir : public TStandardPathSpecifier {
public:
    void CheckObject(TObject* obj) override;
    void GetObjectDescription(TObject* obj, std::string& text) override;
    void GetObjectDisplayName(TObject* obj, std::string& text) override;
    ORVEX_STOCK_SPECIFIER_BODY(TpsContainerDestDir)

private:
    bool ContainerLabel(TObject* obj, TInstallTreeAccess::TContainerKind& kind, std::string& label);
};

ORVEX_STOCK_SPECIFIER(TpsDesktopMenu)
ORVEX_TREE_SPECIFIER(TpsInstallSource)
ORVEX_TREE_SPECIFIER(TpsMainInstall)
ORVEX_STOCK_SPECIFIER(TpsProgramFiles)
ORVEX_STOCK_SPECIFIER(TpsProgramMenu)
ORVEX_STOCK_SPECIFIER(TpsStartMenu)
ORVEX_STOCK_SPECIFIER(TpsStartupMenu)
ORVEX_STOCK_SPECIFIER(TpsSystem)
class TpsMainArchiveFile : public TStandardPathSpecifier {
public:
    void CheckObject(TObject* obj) override;
    // The folder the user gave at a disk change: the main archive is looked
    // for there from then on (empty: the install source folder).
    std::string Folder;
    ORVEX_STOCK_SPECIFIER_BODY(TpsMainArchiveFile)
};
ORVEX_STOCK_SPECIFIER(TpsWindow)

// Defines the class information of a stock class, in its unit's source.
#define ORVEX_DEFINE_SPECIFIER_CLASS(Name, Component, Description, Display)                        \
    const TPathSpecifierClassInfo Name::ClassInfo = {                                              \
        #Name, Component, Description, Display,                                                    \
        [](TComponent* owner) -> TStandardPathSpecifier* { return new Name(owner); }};

// Registers this unit's fourteen classes (the class list does it).
void RegisterStandardSpecifiers(TPathSpecifierClassList* list);

} // namespace orvex
