#include "installer/cmp_TPathSpecifier.h"

#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Components.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "installer/specifiers_Office.h"
#include "installer/specifiers_windows.h"

namespace orvex {

namespace {

TInstallTreeAccess* GInstallTree = nullptr;

// The install object's container, after the checks every container
// specifier makes.
TComponent* CheckedContainer(TObject* obj, const std::string& specifierName, const char* noContainer)
{
    TInstallTreeAccess* tree = InstallTreeAccess();
    if (!tree || !tree->IsInstallObject(obj))
        throw IEPathSpecifier("%s must be a %s to use the %s path specifier",
                              {ObjectName(obj), "TInstallObject", specifierName});
    TComponent* container = tree->ContainerOf(obj);
    if (!container)
        throw IEPathSpecifier(noContainer, {ObjectName(obj)});
    return container;
}

// The install tree when an install component exists.
TInstallTreeAccess* CheckedInstall(TObject* obj)
{
    TInstallTreeAccess* tree = InstallTreeAccess();
    if (!tree || !tree->InstallComponent())
        throw IEPathSpecifier("There is no TInstall component so the path specifier could not be expanded for %s",
                              {ObjectName(obj)});
    return tree;
}

} // namespace

// ------------------------------------------------------------------ bases

TCustomPathSpecifier::TCustomPathSpecifier(TComponent* owner) : TComponent(owner)
{
    PathSpecifierList()->Add(this);
}

TCustomPathSpecifier::~TCustomPathSpecifier()
{
    PathSpecifierList()->Remove(this);
}

void TCustomPathSpecifier::CheckObject(TObject*) {}

void TCustomPathSpecifier::GetDescription(std::string& text)
{
    text = "Unspecified";
}

void TCustomPathSpecifier::GetObjectDescription(TObject*, std::string& text)
{
    GetDescription(text);
}

void TCustomPathSpecifier::GetPath(TObject* obj, std::string& path)
{
    if (OnGetPath)
        OnGetPath(obj, path);
}

void TCustomPathSpecifier::GetDisplayName(std::string& text)
{
    GetDescription(text);
}

void TCustomPathSpecifier::GetObjectDisplayName(TObject* obj, std::string& text)
{
    GetObjectDescription(obj, text);
}

std::string TCustomPathSpecifier::PathFor(TObject* obj)
{
    std::string path;
    GetPath(obj, path);
    return path;
}

void TPathSpecifier::GetDescription(std::string& text)
{
    text = Description;
}

TStandardPathSpecifier::TStandardPathSpecifier(TComponent* owner) : TCustomPathSpecifier(owner)
{
    StandardPathSpecList()->Add(this);
}

TStandardPathSpecifier::~TStandardPathSpecifier()
{
    StandardPathSpecList()->Remove(this);
}

void TStandardPathSpecifier::GetDescription(std::string& text)
{
    text = SpecifierClass()->Description;
}

void TStandardPathSpecifier::GetDisplayName(std::string& text)
{
    text = SpecifierClass()->DisplayName;
}

void TStandardPathSpecifier::GetPath(TObject* obj, std::string& path)
{
    ResolvePath(obj, path);
    path = RemoveBackSlash(path);
}

// ------------------------------------------------------------------ lists

TCustomPathSpecifier* TPathSpecifierList::Get(int index) const
{
    return static_cast<TCustomPathSpecifier*>(TList::Get(index));
}

int TPathSpecifierList::Add(TCustomPathSpecifier* specifier)
{
    if (!specifier)
        throw IEPathSpecifierList("Tried to add a nil object to the path specifier list");
    return TList::Add(specifier);
}

int TPathSpecifierList::Remove(TCustomPathSpecifier* specifier)
{
    return TList::Remove(specifier);
}

bool TPathSpecifierList::HasClass(TPathSpecifierClass cls) const
{
    for (int i = 0; i < Count(); ++i)
        if (auto* stock = dynamic_cast<TStandardPathSpecifier*>(Get(i)); stock && stock->SpecifierClass() == cls)
            return true;
    return false;
}

TCustomPathSpecifier* TPathSpecifierList::FindByClass(TPathSpecifierClass cls) const
{
    for (int i = 0; i < Count(); ++i)
        if (auto* stock = dynamic_cast<TStandardPathSpecifier*>(Get(i)); stock && stock->SpecifierClass() == cls)
            return stock;
    throw IEPathSpecifier("Could not find the path specifier");
}

TPathSpecifierClass TPathSpecifierClassList::Get(int index) const
{
    return static_cast<TPathSpecifierClass>(TList::Get(index));
}

int TPathSpecifierClassList::Add(TPathSpecifierClass cls)
{
    if (!cls)
        throw IEPathSpecifierClassList("Tried to add a nil object to the path specifier list");
    return TList::Add(const_cast<TPathSpecifierClassInfo*>(cls));
}

// The lists live as long as the program: specifiers owned by long-lived
// components may go after every other global.
TPathSpecifierList* PathSpecifierList()
{
    static auto* list = new TPathSpecifierList;
    return list;
}

TStandardPathSpecList* StandardPathSpecList()
{
    static auto* list = new TStandardPathSpecList;
    return list;
}

TPathSpecifierClassList* PathSpecifierClassList()
{
    static auto* list = [] {
        auto* classes = new TPathSpecifierClassList;
        RegisterStandardSpecifiers(classes);
        RegisterWindowsSpecifiers(classes);
        RegisterOfficeSpecifiers(classes);
        return classes;
    }();
    return list;
}

void EnsureStandardSpecifiers(TComponent* container, TComponent* owner, bool onlyMissing)
{
    if (!owner)
        return;
    TPathSpecifierClassList* classes = PathSpecifierClassList();
    for (int i = 0; i < classes->Count(); ++i) {
        TPathSpecifierClass cls = classes->Get(i);
        if (onlyMissing && PathSpecifierList()->HasClass(cls))
            continue;
        TStandardPathSpecifier* specifier = cls->Create(owner);
        specifier->SetName(cls->ComponentName);
    }
}

void ExpandPathPattern(const std::string& pattern, const std::string& path, std::string& result)
{
    result.clear();
    bool escape = false;
    for (char c : pattern) {
        if (!escape) {
            if (c == '%')
                escape = true;
            else
                result += c;
            continue;
        }
        escape = false;
        if (c == 'p' || c == 'P')
            result += path;
        else
            result += c; // "%%" gives "%", any other character stands for itself
    }
}

TInstallTreeAccess* InstallTreeAccess()
{
    return GInstallTree;
}

void SetInstallTreeAccess(TInstallTreeAccess* access)
{
    GInstallTree = access;
}

// ----------------------------------------------------- the stock classes


ORVEX_DEFINE_SPECIFIER_CLASS(TpsBDEDLL, "psBDEDLL", "Borland Database Engine DLL Path", "BDE DLL")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonFiles, "psCommonFiles",
                 "Path of the common files directory under the program files directory", "Common files")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsContainerArchiveFile, "psContainerArchiveFile", "Path to the archive file of the container",
                 "Container archive file")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsContainerDestDir, "psContainerDestDir", "Path of the group (container)",
                 "Path of the group (container)")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsDesktopMenu, "psDesktopMenu", "Path of the Desktop", "Desktop")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsInstallSource, "psInstallSource", "Path from which the user ran the install", "Install source")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsMainInstall, "psMainInstall", "Main installation directory", "Main install dir")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsProgramFiles, "psProgramFiles", "Path of the program files directory", "Program files")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsProgramMenu, "psProgramMenu", "Path of the Programs folder under the Start Menu",
                 "Program menu")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsStartMenu, "psStartMenu", "Path of Start Menu", "Start menu")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsStartupMenu, "psStartupMenu",
                 "Path of the Startup folder in the Programs folder under the Start Menu", "Startup menu")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsSystem, "psSystem", "Path of system directory", "System dir")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsMainArchiveFile, "psMainArchiveFile",
                 "Archive containing most or all non-internet installation files", "Main archive")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsWindow, "psWindow", "Path of the Windows directory", "Windows dir")

void RegisterStandardSpecifiers(TPathSpecifierClassList* list)
{
    for (TPathSpecifierClass cls :
         {&TpsBDEDLL::ClassInfo, &TpsCommonFiles::ClassInfo, &TpsContainerArchiveFile::ClassInfo,
          &TpsContainerDestDir::ClassInfo, &TpsDesktopMenu::ClassInfo, &TpsInstallSource::ClassInfo,
          &TpsMainInstall::ClassInfo, &TpsProgramFiles::ClassInfo, &TpsProgramMenu::ClassInfo,
          &TpsStartMenu::ClassInfo, &TpsStartupMenu::ClassInfo, &TpsSystem::ClassInfo,
          &TpsMainArchiveFile::ClassInfo, &TpsWindow::ClassInfo})
        list->Add(cls);
}

void TpsBDEDLL::ResolvePath(TObject*, std::string& path)
{
    path = ReadRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Database Engine", "DLLPath", "");
    if (path.empty())
        path = GetProgramFilesFolder() + "\\Borland\\Common Files\\BDE";
    path = GetToken(path, ';', 1);
}

void TpsCommonFiles::ResolvePath(TObject*, std::string& path)
{
    path = GetCommonFilesFolder();
}

void TpsContainerArchiveFile::CheckObject(TObject* obj)
{
    TComponent* container =
        CheckedContainer(obj, Name(), "Cannot use ddContainerArchiveFile for %s unless you assign a Container");
    if (!InstallTreeAccess()->IsFileRelated(container))
        throw IEPathSpecifier(
            "Cannot use the ddContainerArchiveFile path specifier for %s because the Container is not a TFileRelated descendant",
            {ObjectName(obj)});
}

void TpsContainerArchiveFile::ResolvePath(TObject* obj, std::string& path)
{
    CheckObject(obj);
    TInstallTreeAccess* tree = InstallTreeAccess();
    path = tree->ArchiveFileOf(tree->ContainerOf(obj));
}

void TpsContainerDestDir::CheckObject(TObject* obj)
{
    CheckedContainer(obj, Name(), "Cannot use ddContainerDestDir for %s unless you assign a Container");
}

void TpsContainerDestDir::ResolvePath(TObject* obj, std::string& path)
{
    CheckObject(obj);
    TInstallTreeAccess* tree = InstallTreeAccess();
    path = tree->DestinationDirectoryOf(tree->ContainerOf(obj));
}

// How the asking object's container is named in texts: its kind and its
// caption (its component name for other containers); false when the object
// fails the checks.
bool TpsContainerDestDir::ContainerLabel(TObject* obj, TInstallTreeAccess::TContainerKind& kind,
                                         std::string& label)
{
    try {
        CheckObject(obj);
    } catch (const Exception&) {
        return false;
    }
    TInstallTreeAccess* tree = InstallTreeAccess();
    TComponent* container = tree->ContainerOf(obj);
    kind = tree->KindOf(container);
    label = kind == TInstallTreeAccess::ckOther ? container->Name() : tree->CaptionOf(container);
    return true;
}

void TpsContainerDestDir::GetObjectDescription(TObject* obj, std::string& text)
{
    TInstallTreeAccess::TContainerKind kind;
    std::string label;
    if (!ContainerLabel(obj, kind, label))
        GetDescription(text);
    else if (kind == TInstallTreeAccess::ckInstall)
        text = "Main installation directory";
    else if (kind == TInstallTreeAccess::ckFileContainer)
        text = Format("Path of the <%s> directory", {label});
    else
        text = Format("Path of the <%s> group", {label});
}

void TpsContainerDestDir::GetObjectDisplayName(TObject* obj, std::string& text)
{
    TInstallTreeAccess::TContainerKind kind;
    std::string label;
    if (!ContainerLabel(obj, kind, label))
        GetDisplayName(text);
    else if (kind == TInstallTreeAccess::ckInstall)
        text = "Main installation directory";
    else
        text = Format("<%s>", {label});
}

void TpsDesktopMenu::ResolvePath(TObject*, std::string& path)
{
    path = GetDesktopFolder();
}

void TpsInstallSource::CheckObject(TObject* obj)
{
    CheckedInstall(obj);
}

void TpsInstallSource::ResolvePath(TObject* obj, std::string& path)
{
    path = CheckedInstall(obj)->SourceDirectory();
}

void TpsMainInstall::CheckObject(TObject* obj)
{
    if (CheckedInstall(obj)->InstallComponent() == obj)
        throw IEPathSpecifier("Cannot use the ddMainInstallDir path specifier for a TInstall component");
}

void TpsMainInstall::ResolvePath(TObject* obj, std::string& path)
{
    CheckObject(obj);
    TInstallTreeAccess* tree = InstallTreeAccess();
    path = tree->DestinationDirectoryOf(tree->InstallComponent());
}

void TpsProgramFiles::ResolvePath(TObject*, std::string& path)
{
    path = GetProgramFilesFolder();
}

void TpsProgramMenu::ResolvePath(TObject*, std::string& path)
{
    path = GetProgramsFolder();
}

void TpsStartMenu::ResolvePath(TObject*, std::string& path)
{
    path = GetStartMenuFolder();
}

void TpsStartupMenu::ResolvePath(TObject*, std::string& path)
{
    path = GetStartupFolder();
}

void TpsSystem::ResolvePath(TObject*, std::string& path)
{
    path = GetSystemDir();
}

void TpsMainArchiveFile::CheckObject(TObject* obj)
{
    CheckedInstall(obj);
}

void TpsMainArchiveFile::ResolvePath(TObject* obj, std::string& path)
{
    TInstallTreeAccess* tree = CheckedInstall(obj);
    std::string exeName;
    const std::string folder = Folder.empty() ? tree->SourceDirectory() : RemoveBackSlash(Folder);
    if (tree->StartedBySelfExtractor(exeName)) {
        if (Trim(exeName).empty())
            throw IEInstall("You forgot to pass in the name of the self-extracting executable. Usage example: "
                            "\"-eSetup.exe\"");
        path = folder + "\\" + exeName;
    } else {
        path = folder + "\\files.1";
    }
}

void TpsWindow::ResolvePath(TObject*, std::string& path)
{
    path = GetWindowsDir();
}

} // namespace orvex
