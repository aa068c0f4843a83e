#include "installer/cmp_TPathSpecifier.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "installer/specifiers_Office.h"
#include "installer/specifiers_windows.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace orvex {
namespace {

std::string PathOf(TPathSpecifierClass cls, TObject* obj = nullptr, std::string path = "")
{
    TComponent owner(nullptr);
    TStandardPathSpecifier* specifier = cls->Create(&owner);
    specifier->SetName(cls->ComponentName);
    specifier->GetPath(obj, path);
    return path;
}

std::string ErrorOf(TPathSpecifierClass cls, TObject* obj)
{
    try {
        PathOf(cls, obj);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

TEST(PathSpecifierTest, PatternsExpandThePath)
{
    struct TCase {
        const char* Pattern;
        const char* Result;
    };
    const TCase cases[] = {
        {"%p\\Data", "C:\\App\\Data"}, {"%P", "C:\\App"}, {"100%%", "100%"}, {"%x", "x"},
        {"abc%", "abc"},               {"", ""},          {"%%p", "%p"},     {"a%p%p", "aC:\\AppC:\\App"},
    };
    for (const TCase& c : cases) {
        std::string result = "stale";
        ExpandPathPattern(c.Pattern, "C:\\App", result);
        EXPECT_EQ(result, c.Result) << c.Pattern;
    }
}

TEST(PathSpecifierTest, TheStockClassesStandInRegistrationOrder)
{
    struct TCase {
        const char* ClassName;
        const char* Component;
        const char* Description;
        const char* Display;
    };
    const TCase cases[] = {
        {"TpsBDEDLL", "psBDEDLL", "Borland Database Engine DLL Path", "BDE DLL"},
        {"TpsCommonFiles", "psCommonFiles", "Path of the common files directory under the program files directory", "Common files"},
        {"TpsContainerArchiveFile", "psContainerArchiveFile", "Path to the archive file of the container", "Container archive file"},
        {"TpsContainerDestDir", "psContainerDestDir", "Path of the group (container)", "Path of the group (container)"},
        {"TpsDesktopMenu", "psDesktopMenu", "Path of the Desktop", "Desktop"},
        {"TpsInstallSource", "psInstallSource", "Path from which the user ran the install", "Install source"},
        {"TpsMainInstall", "psMainInstall", "Main installation directory", "Main install dir"},
        {"TpsProgramFiles", "psProgramFiles", "Path of the program files directory", "Program files"},
        {"TpsProgramMenu", "psProgramMenu", "Path of the Programs folder under the Start Menu", "Program menu"},
        {"TpsStartMenu", "psStartMenu", "Path of Start Menu", "Start menu"},
        {"TpsStartupMenu", "psStartupMenu", "Path of the Startup folder in the Programs folder under the Start Menu", "Startup menu"},
        {"TpsSystem", "psSystem", "Path of system directory", "System dir"},
        {"TpsMainArchiveFile", "psMainArchiveFile", "Archive containing most or all non-internet installation files", "Main archive"},
        {"TpsWindow", "psWindow", "Path of the Windows directory", "Windows dir"},
        {"TpsPrinters", "psPrinters", "virtual folder containing installed printers", "Installed Printers"},
        {"TpsRecent", "psRecent", "Recently Used Documents", "Recently Used"},
        {"TpsSendTo", "psSendTo", "Send To Menu", "Send To"},
        {"TpsStartup", "psStartup", "User Startup", "Startup"},
        {"TpsControlPanel", "psControlPanel", "Control Panel", "Control Panel"},
        {"TpsFavorites", "psFavorites", "Favorites", "Favorites"},
        {"TpsBitBucket", "psBitBucket", "Recycle bin", "Recycle bin"},
        {"TpsCookies", "psCookies", "Cookies", "Cookies"},
        {"TpsCommonAltStartup", "psCommonAltStartup", "Alternate Startup folder for (All Users profile)", "Common Alternate Startup folder"},
        {"TpsCommonStartup", "psCommonStartup", "Common Startup directory", "Common Startup"},
        {"TpsCommonDesktopDirectory", "psCommonDesktopDirectory", "Common Desktop Directory", "Common Desktop"},
        {"TpsCommonFavorites", "psCommonFavorites", "Common Favorites", "Common Favorites"},
        {"TpsCommonPrograms", "psCommonPrograms", "Common Programs", "Common Programs"},
        {"TpsCommonStartMenu", "psCommonStartMenu", "Common Start Menu", "Common Start Menu"},
        {"TpsQuickLaunchMenu", "psQuickLaunchMenu", "Path of the Quick Launch Toolbar Menu", "Quick Launch Toolbar menu"},
        {"TpsOfficeUserTemplates", "psOfficeUserTemplates", "Path to the MS Office User Templates directory", "User Templates"},
        {"TpsOfficeWorkgroupTemplates", "psOfficeWorkgroupTemplates", "Path to the MS Office Workgroup Templates directory", "Workgroup Templates"},
        {"TpsOfficeClipartDirectory", "psOfficeClipartDirectory", "Path to the MS Office Clipart directory", "Office Clipart dir"},
        {"TpsOfficeStartupDirectory", "psOfficeStartupDirectory", "Path to the MS Office Startup directory", "Office Startup dir"},
        {"TpsOfficeToolsDirectory", "psOfficeToolsDirectory", "Path to the MS Office Tools directory", "Office Tools dir"},
        {"TpsOfficeFavoritesDirectory", "psOfficeFavoritesDirectory", "Path to the MS Office Favorites directory", "Office Favorites dir"},
    };
    TPathSpecifierClassList* classes = PathSpecifierClassList();
    ASSERT_EQ(classes->Count(), 35);
    TComponent owner(nullptr);
    for (int i = 0; i < 35; ++i) {
        const TCase& c = cases[i];
        TPathSpecifierClass cls = classes->Get(i);
        EXPECT_STREQ(cls->ClassName, c.ClassName);
        EXPECT_STREQ(cls->ComponentName, c.Component);
        TStandardPathSpecifier* specifier = cls->Create(&owner);
        EXPECT_EQ(specifier->ClassName(), c.ClassName);
        std::string text;
        specifier->GetDescription(text);
        EXPECT_EQ(text, c.Description);
        specifier->GetDisplayName(text);
        EXPECT_EQ(text, c.Display);
        specifier->GetObjectDisplayName(nullptr, text);
        EXPECT_EQ(text, c.Description); // an object's display name is its description by default
    }
    EXPECT_THROW(classes->Add(nullptr), IEPathSpecifierClassList);
    try {
        PathSpecifierList()->Add(nullptr);
        FAIL();
    } catch (const IEPathSpecifierList& e) {
        EXPECT_EQ(e.Message(), "Tried to add a nil object to the path specifier list");
    }
}

TEST(PathSpecifierTest, EachFormGetsOneInstanceOfEachStockClass)
{
    TTempWindowsRoot root;
    EnsureStandardSpecifiers(nullptr, nullptr, false); // nothing without an owner
    EXPECT_EQ(StandardPathSpecList()->Count(), 0);

    TComponent form(nullptr);
    auto* own = new TPathSpecifier(&form);
    EnsureStandardSpecifiers(nullptr, &form, true);
    EXPECT_EQ(form.ComponentCount(), 36);
    EXPECT_EQ(StandardPathSpecList()->Count(), 35);
    EXPECT_EQ(PathSpecifierList()->Count(), 36);
    EXPECT_EQ(form.Components(1)->Name(), "psBDEDLL");
    EXPECT_EQ(form.Components(35)->Name(), "psOfficeFavoritesDirectory");

    EnsureStandardSpecifiers(nullptr, &form, true); // a second container creates none
    EXPECT_EQ(form.ComponentCount(), 36);

    delete form.FindComponent("psRecent");
    EXPECT_THROW(PathSpecifierList()->FindByClass(&TpsRecent::ClassInfo), IEPathSpecifier);
    EnsureStandardSpecifiers(nullptr, &form, true);
    EXPECT_EQ(form.ComponentCount(), 36);
    TComponent* recreated = form.FindComponent("psRecent");
    ASSERT_NE(recreated, nullptr);
    EXPECT_EQ(PathSpecifierList()->FindByClass(&TpsRecent::ClassInfo), recreated);

    // The user's own specifier: its description, and an empty path without OnGetPath.
    std::string text;
    own->GetDescription(text);
    EXPECT_EQ(text, "My cool new path specifier");
    EXPECT_EQ(own->PathFor(nullptr), "");
    own->OnGetPath = [](TObject*, std::string& path) { path = "D:\\Mine\\"; };
    EXPECT_EQ(own->PathFor(nullptr), "D:\\Mine\\");
    TCustomPathSpecifier plain(nullptr);
    plain.GetDescription(text);
    EXPECT_EQ(text, "Unspecified");
}

TEST(PathSpecifierTest, FoldersOfTheMachine)
{
    TTempWindowsRoot root;
    EXPECT_EQ(PathOf(&TpsWindow::ClassInfo), "C:\\WINDOWS");
    EXPECT_EQ(PathOf(&TpsSystem::ClassInfo), "C:\\WINDOWS\\system32");
    EXPECT_EQ(PathOf(&TpsProgramFiles::ClassInfo), "C:\\Program Files");
    EXPECT_EQ(PathOf(&TpsCommonFiles::ClassInfo), "C:\\Program Files\\Common Files");
    EXPECT_EQ(PathOf(&TpsDesktopMenu::ClassInfo), "C:\\WINDOWS\\Desktop");
    EXPECT_EQ(PathOf(&TpsStartMenu::ClassInfo), "C:\\WINDOWS\\Startmen");
    EXPECT_EQ(PathOf(&TpsProgramMenu::ClassInfo), "C:\\WINDOWS\\Startmen\\Programs");
    EXPECT_EQ(PathOf(&TpsStartupMenu::ClassInfo), "C:\\WINDOWS\\Startup");
    EXPECT_EQ(PathOf(&TpsBDEDLL::ClassInfo), "C:\\Program Files\\Borland\\Common Files\\BDE");

    const std::string user = "C:\\Documents and Settings\\" + WinSystemConfig().UserName;
    WriteRegString(HKEY_CURRENT_USER, ShellFoldersKey, "Start Menu", user + "\\Start Menu\\");
    WriteRegString(HKEY_CURRENT_USER, ShellFoldersKey, "Desktop", user + "\\Desktop");
    WriteRegString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", "D:\\Programme");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Database Engine", "DLLPath", "C:\\BDE;D:\\X");
    EXPECT_EQ(PathOf(&TpsStartMenu::ClassInfo), user + "\\Start Menu");
    EXPECT_EQ(PathOf(&TpsProgramMenu::ClassInfo), user + "\\Start Menu\\Programs");
    EXPECT_EQ(PathOf(&TpsDesktopMenu::ClassInfo), user + "\\Desktop");
    EXPECT_EQ(PathOf(&TpsProgramFiles::ClassInfo), "D:\\Programme");
    EXPECT_EQ(PathOf(&TpsBDEDLL::ClassInfo), "C:\\BDE");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Database Engine", "DLLPath", "C:\\BDE\\");
    EXPECT_EQ(PathOf(&TpsBDEDLL::ClassInfo), "C:\\BDE");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Database Engine", "DLLPath", "");
    EXPECT_EQ(PathOf(&TpsBDEDLL::ClassInfo), "D:\\Programme\\Borland\\Common Files\\BDE");
}

TEST(PathSpecifierTest, ShellFoldersDependOnTheWindowsFamily)
{
    struct TCase {
        TPathSpecifierClass Class;
        const char* XP;      // "~" stands for the user's profile, "*" for all users'
        const char* Win2000;
        const char* Win95;
        const char* Later;   // a Windows the library does not know
    };
    const TCase cases[] = {
        {&TpsRecent::ClassInfo, "~\\Recent", "~\\Recent", "undefined", "undefined"},
        {&TpsPrinters::ClassInfo, "", "", "undefined", "undefined"},
        {&TpsCommonDesktopDirectory::ClassInfo, "*\\Desktop", "*\\Desktop", "C:\\WINDOWS\\Desktop", "undefined"},
        {&TpsFavorites::ClassInfo, "~\\Favorites", "~\\Favorites", "undefined", "undefined"},
        {&TpsControlPanel::ClassInfo, "", "", "KEEP", "KEEP"},
        {&TpsBitBucket::ClassInfo, "", "", "KEEP", "KEEP"},
        {&TpsCookies::ClassInfo, "~\\Cookies", "~\\Cookies", "KEEP", "KEEP"},
        {&TpsSendTo::ClassInfo, "~\\SendTo", "~\\SendTo", "KEEP", "KEEP"},
        {&TpsStartup::ClassInfo, "~\\Start Menu\\Programs\\Startup", "~\\Start Menu\\Programs\\Startup", "KEEP", "KEEP"},
        {&TpsCommonAltStartup::ClassInfo, "*\\Start Menu\\Programs\\Startup", "*\\Start Menu\\Programs\\Startup",
         "C:\\WINDOWS\\Start Menu\\Programs\\StartUp", "KEEP"},
        {&TpsCommonStartMenu::ClassInfo, "*\\Start Menu", "*\\Start Menu", "C:\\WINDOWS\\Start Menu", "KEEP"},
        {&TpsCommonPrograms::ClassInfo, "*\\Start Menu\\Programs", "*\\Start Menu\\Programs",
         "C:\\WINDOWS\\Start Menu\\Programs", "KEEP"},
        {&TpsCommonStartup::ClassInfo, "KEEP", "*\\Start Menu\\Programs\\Startup",
         "C:\\WINDOWS\\Start Menu\\Programs\\StartUp", "KEEP"},
        {&TpsCommonFavorites::ClassInfo, "*\\Favorites", "*\\Favorites", "C:\\WINDOWS\\Favorites", "KEEP"},
        {&TpsQuickLaunchMenu::ClassInfo, "~\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch",
         "~\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch",
         "C:\\WINDOWS\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch",
         "~\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch"},
    };
    auto expand = [](std::string text, const std::string& profiles, const std::string& keep) {
        const std::string user = profiles + "\\" + WinSystemConfig().UserName;
        if (text == "KEEP")
            return keep;
        if (!text.empty() && text[0] == '~')
            text = user + text.substr(1);
        if (!text.empty() && text[0] == '*')
            text = profiles + "\\All Users" + text.substr(1);
        return text;
    };
    const std::string keep = "X:\\Passed In";
    for (const TCase& c : cases) {
        const std::pair<TWinEdition, const char*> editions[] = {
            {TWinEdition::WinXP, c.XP}, {TWinEdition::Win2000, c.Win2000}, {TWinEdition::Win95, c.Win95},
            {TWinEdition::WinVista, c.Later}};
        for (const auto& [edition, expected] : editions) {
            TTempWindowsRoot root(edition);
            const std::string profiles = edition == TWinEdition::WinVista ? "C:\\Users" : "C:\\Documents and Settings";
            EXPECT_EQ(PathOf(c.Class, nullptr, keep), expand(expected, profiles, keep))
                << c.Class->ClassName << " on " << static_cast<int>(edition);
        }
    }
    // Where the shell has no application-data folder the quick launch is undefined.
    TTempWindowsRoot old(TWinEdition::Win32s);
    EXPECT_EQ(PathOf(&TpsQuickLaunchMenu::ClassInfo), "undefined");
    EXPECT_EQ(PathOf(&TpsRecent::ClassInfo), "undefined");
    EXPECT_EQ(PathOf(&TpsCookies::ClassInfo), "");
}

TEST(PathSpecifierTest, OfficeFoldersFollowTheInstalledOffice)
{
    const TPathSpecifierClass office[] = {
        &TpsOfficeUserTemplates::ClassInfo,    &TpsOfficeWorkgroupTemplates::ClassInfo,
        &TpsOfficeClipartDirectory::ClassInfo, &TpsOfficeStartupDirectory::ClassInfo,
        &TpsOfficeToolsDirectory::ClassInfo,   &TpsOfficeFavoritesDirectory::ClassInfo};
    const char* const defaults[] = {
        "C:\\Program Files\\Microsoft Office\\Templates", "C:\\Program Files\\Microsoft Office\\Templates",
        "C:\\Program Files\\Microsoft Office\\Clipart",   "C:\\Program Files\\Microsoft Office\\Office\\Startup",
        "C:\\Program Files\\Microsoft Office\\Office",    "C:\\WINDOWS\\Favorites"};
    for (TWinEdition edition : {TWinEdition::WinXP, TWinEdition::Win95}) {
        TTempWindowsRoot root(edition);
        // No office: every folder falls back to its default.
        EXPECT_EQ(OfficeVersion(), -1);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(PathOf(office[i]), defaults[i]) << office[i]->ClassName;

        // Word 97 (version 8) with its server program.
        WriteRegString(HKEY_CLASSES_ROOT, "\\Word.Document\\CurVer", "", "Word.Document.8");
        WriteRegString(HKEY_CLASSES_ROOT, "\\Word.Document.8\\protocol\\StdFileEditing\\server", "",
                       "C:\\Office\\WINWORD.EXE");
        EXPECT_EQ(OfficeVersion(), -1); // the server program is missing
        TTempWindowsRoot::WriteFile("C:\\Office\\WinWord.exe", "MZ");
        EXPECT_EQ(OfficeVersion(), 8);
        for (int i = 0; i < 6; ++i) // the keys are missing: still the defaults
            EXPECT_EQ(PathOf(office[i]), defaults[i]) << office[i]->ClassName;
        const std::string fileNew = "\\Software\\Microsoft\\Office\\8.0\\Common\\FileNew\\";
        WriteRegString(HKEY_CURRENT_USER, fileNew + "LocalTemplates", "", "D:\\Templates\\");
        WriteRegString(HKEY_CURRENT_USER, "\\Software\\Microsoft\\Office\\8.0\\Word\\Options", "PICTURE-PATH",
                       "D:\\Clipart");
        WriteRegString(HKEY_CURRENT_USER, ShellFoldersKey, "Favorites", "D:\\Favs");
        EXPECT_EQ(PathOf(&TpsOfficeUserTemplates::ClassInfo), "D:\\Templates");
        EXPECT_EQ(PathOf(&TpsOfficeWorkgroupTemplates::ClassInfo), "D:\\Templates");
        WriteRegString(HKEY_CURRENT_USER, fileNew + "SharedTemplates", "", "S:\\Shared");
        EXPECT_EQ(PathOf(&TpsOfficeWorkgroupTemplates::ClassInfo), "S:\\Shared");
        EXPECT_EQ(PathOf(&TpsOfficeClipartDirectory::ClassInfo), "D:\\Clipart");
        EXPECT_EQ(PathOf(&TpsOfficeFavoritesDirectory::ClassInfo), "D:\\Favs");

        // Office 2000 (version 9) keeps its settings under the policies key.
        WriteRegString(HKEY_CLASSES_ROOT, "\\Word.Document\\CurVer", "", "Word.Document.9");
        WriteRegString(HKEY_CLASSES_ROOT, "\\Word.Document.9\\protocol\\StdFileEditing\\server", "",
                       "C:\\Office\\WINWORD.EXE");
        EXPECT_EQ(OfficeVersion(), 9);
        EXPECT_EQ(PathOf(&TpsOfficeUserTemplates::ClassInfo), defaults[0]);
        WriteRegString(HKEY_CURRENT_USER, "\\Software\\Policies\\Microsoft\\Office\\9.0\\Word\\Options",
                       "TOOLS-PATH", "T:\\Tools");
        EXPECT_EQ(PathOf(&TpsOfficeToolsDirectory::ClassInfo), "T:\\Tools");

        // Versions that are no numbers, or outside 7 to 19, mean no office.
        for (const char* current : {"Word.Document.X", "Word.Document", "Word.Document.20"}) {
            WriteRegString(HKEY_CLASSES_ROOT, "\\Word.Document\\CurVer", "", current);
            WriteRegString(HKEY_CLASSES_ROOT, std::string("\\") + current + "\\protocol\\StdFileEditing\\server",
                           "", "C:\\Office\\WINWORD.EXE");
            EXPECT_EQ(PathOf(&TpsOfficeToolsDirectory::ClassInfo), defaults[4]) << current;
        }
    }
}

// An install tree as the install-tree units will present it.
class TFakeTree : public TInstallTreeAccess {
public:
    std::set<TObject*> InstallObjects;
    std::map<TObject*, TComponent*> Containers;
    std::map<TComponent*, TContainerKind> Kinds;
    std::map<TComponent*, std::string> Captions;
    std::set<TComponent*> FileRelated;
    TComponent* Install = nullptr;
    bool SelfExtracting = false;
    std::string ExeName;

    bool IsInstallObject(TObject* obj) const override { return InstallObjects.count(obj) > 0; }
    TComponent* ContainerOf(TObject* obj) const override
    {
        auto it = Containers.find(obj);
        return it == Containers.end() ? nullptr : it->second;
    }
    TContainerKind KindOf(TComponent* c) const override
    {
        auto it = Kinds.find(c);
        return it == Kinds.end() ? ckOther : it->second;
    }
    std::string CaptionOf(TComponent* c) const override
    {
        auto it = Captions.find(c);
        return it == Captions.end() ? "" : it->second;
    }
    bool IsFileRelated(TComponent* c) const override { return FileRelated.count(c) > 0; }
    std::string ArchiveFileOf(TComponent* c) const override { return "D:\\Setup\\" + c->Name() + ".1"; }
    std::string DestinationDirectoryOf(TComponent* c) const override { return "C:\\Dest\\" + c->Name() + "\\"; }
    TComponent* InstallComponent() const override { return Install; }
    std::string SourceDirectory() const override { return "D:\\Setup"; }
    bool StartedBySelfExtractor(std::string& exeName) const override
    {
        exeName = ExeName;
        return SelfExtracting;
    }
};

class InstallTreeSpecifierTest : public ::testing::Test {
protected:
    InstallTreeSpecifierTest()
    {
        File->SetName("File1");
        Group->SetName("Group1");
        Dir->SetName("Dir1");
        Install->SetName("Install1");
        Other->SetName("Other1");
        Edit->SetName("Edit1");
    }
    void TearDown() override { SetInstallTreeAccess(nullptr); }
    TComponent Form{nullptr};
    TComponent* File = new TComponent(&Form);
    TComponent* Group = new TComponent(&Form);
    TComponent* Dir = new TComponent(&Form);
    TComponent* Install = new TComponent(&Form);
    TComponent* Other = new TComponent(&Form);
    TComponent* Edit = new TComponent(&Form);
    TFakeTree Tree;
};

TEST_F(InstallTreeSpecifierTest, ContainerSpecifiersCheckTheAskingObject)
{
    // Without the install tree nothing is an install object.
    EXPECT_EQ(ErrorOf(&TpsContainerDestDir::ClassInfo, File),
              "File1 must be a TInstallObject to use the psContainerDestDir path specifier");
    EXPECT_EQ(ErrorOf(&TpsInstallSource::ClassInfo, File),
              "There is no TInstall component so the path specifier could not be expanded for File1");

    SetInstallTreeAccess(&Tree);
    Tree.InstallObjects = {File, Group, Dir, Install};
    EXPECT_EQ(ErrorOf(&TpsContainerArchiveFile::ClassInfo, Edit),
              "Edit1 must be a TInstallObject to use the psContainerArchiveFile path specifier");
    EXPECT_EQ(ErrorOf(&TpsContainerDestDir::ClassInfo, File),
              "Cannot use ddContainerDestDir for File1 unless you assign a Container");
    EXPECT_EQ(ErrorOf(&TpsContainerArchiveFile::ClassInfo, File),
              "Cannot use ddContainerArchiveFile for File1 unless you assign a Container");

    Tree.Containers[File] = Group;
    EXPECT_EQ(PathOf(&TpsContainerDestDir::ClassInfo, File), "C:\\Dest\\Group1");
    EXPECT_EQ(ErrorOf(&TpsContainerArchiveFile::ClassInfo, File),
              "Cannot use the ddContainerArchiveFile path specifier for File1 because the Container is not a "
              "TFileRelated descendant");
    Tree.FileRelated.insert(Group);
    EXPECT_EQ(PathOf(&TpsContainerArchiveFile::ClassInfo, File), "D:\\Setup\\Group1.1");
}

TEST_F(InstallTreeSpecifierTest, TheContainerSpecifierDescribesItselfPerObject)
{
    SetInstallTreeAccess(&Tree);
    Tree.InstallObjects = {File};
    Tree.Kinds = {{Install, TInstallTreeAccess::ckInstall},
                  {Group, TInstallTreeAccess::ckGroup},
                  {Dir, TInstallTreeAccess::ckFileContainer}};
    Tree.Captions = {{Group, "Program Files"}, {Dir, "Data"}};
    TpsContainerDestDir specifier(nullptr);
    struct TCase {
        TComponent* Container;
        const char* Description;
        const char* Display;
    };
    const TCase cases[] = {
        {Install, "Main installation directory", "Main installation directory"},
        {Group, "Path of the <Program Files> group", "<Program Files>"},
        {Dir, "Path of the <Data> directory", "<Data>"},
        {Other, "Path of the <Other1> group", "<Other1>"},
        {nullptr, "Path of the group (container)", "Path of the group (container)"}, // the check fails
    };
    for (const TCase& c : cases) {
        Tree.Containers[File] = c.Container;
        std::string text;
        specifier.GetObjectDescription(File, text);
        EXPECT_EQ(text, c.Description);
        specifier.GetObjectDisplayName(File, text);
        EXPECT_EQ(text, c.Display);
    }
}

TEST_F(InstallTreeSpecifierTest, InstallSpecifiersNeedTheInstallComponent)
{
    SetInstallTreeAccess(&Tree);
    EXPECT_EQ(ErrorOf(&TpsMainInstall::ClassInfo, File),
              "There is no TInstall component so the path specifier could not be expanded for File1");
    EXPECT_EQ(ErrorOf(&TpsMainArchiveFile::ClassInfo, File),
              "There is no TInstall component so the path specifier could not be expanded for File1");
    Tree.Install = Install;
    EXPECT_EQ(PathOf(&TpsInstallSource::ClassInfo, File), "D:\\Setup");
    EXPECT_EQ(PathOf(&TpsMainInstall::ClassInfo, File), "C:\\Dest\\Install1");
    EXPECT_EQ(ErrorOf(&TpsMainInstall::ClassInfo, Install),
              "Cannot use the ddMainInstallDir path specifier for a TInstall component");
    EXPECT_EQ(PathOf(&TpsMainArchiveFile::ClassInfo, File), "D:\\Setup\\files.1");
    Tree.SelfExtracting = true;
    Tree.ExeName = "Setup.exe";
    EXPECT_EQ(PathOf(&TpsMainArchiveFile::ClassInfo, File), "D:\\Setup\\Setup.exe");
    Tree.ExeName = "  ";
    try {
        PathOf(&TpsMainArchiveFile::ClassInfo, File);
        FAIL();
    } catch (const IEInstall& e) {
        EXPECT_EQ(e.Message(),
                  "You forgot to pass in the name of the self-extracting executable. Usage example: \"-eSetup.exe\"");
    }
}

} // namespace
} // namespace orvex
