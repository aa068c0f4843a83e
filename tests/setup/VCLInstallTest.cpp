// Registration of the design-time package in the development environments
// and the setup log, on a fresh emulated machine per test.

#include "host/SysUtils.h"
#include "installer/routines_Registry.h"
#include "platform/WinPaths.h"
#include "setup/VCLInstall.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

std::string ReadNative(const std::string& native)
{
    std::ifstream in(native, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> LogLines()
{
    std::vector<std::string> lines;
    for (int i = 0; i < InstallLog()->Count(); ++i)
        lines.push_back(InstallLog()->Get(i));
    return lines;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& key)
{
    TRegistry reg(KEY_READ);
    reg.SetRootKey(root);
    std::vector<std::string> result;
    if (!reg.OpenKeyReadOnly(key))
        return result;
    TStringList names;
    reg.GetValueNames(&names);
    for (int i = 0; i < names.Count(); ++i)
        result.push_back(names.Get(i));
    return result;
}

class VCLInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallLog()->Clear();
        TTempWindowsRoot::MakeFolder(WinSystemConfig().TempDir);
        SetInstallLogFolder(WinSystemConfig().TempDir);
    }
    void TearDown() override { InstallLog()->Clear(); }

    // An installed environment: its key with "RootDir", its user keys and,
    // when wanted, its help configuration file.
    static std::string Seed(int index, const std::string& help = "")
    {
        const TVCLProductInfo& info = VCLProducts[static_cast<std::size_t>(index)];
        const std::string root = std::string("C:\\Program Files\\Borland\\") + info.Name;
        WriteRegString(HKEY_LOCAL_MACHINE, info.Key, "RootDir", root);
        const std::string user = info.Key;
        TdrvnRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        for (const char* sub : {"\\Known Packages", "\\Disabled Packages", "\\Library"})
            EXPECT_TRUE(reg.OpenOrCreateKey(user + sub));
        EXPECT_TRUE(reg.OpenOrCreateKey(info.PaletteKey));
        reg.CloseKey();
        if (!help.empty())
            TTempWindowsRoot::WriteFile(root + info.HelpFile, help);
        return root;
    }

    TTempWindowsRoot Root;
};

TEST_F(VCLInstallTest, PackageNamesFollowTheProductTable)
{
    for (int i = 0; i < VCLProductCount; ++i)
        EXPECT_EQ(VCLPackageName(i), VCLProducts[static_cast<std::size_t>(i)].Package) << i;
    TStringList names;
    VCLPackageNames(vpDelphi5, &names);
    EXPECT_EQ(names.CommaText(), "dclvek12d5.bpl,dclvek13d5.bpl,dclvek14d5.bpl");
    VCLPackageNames(vpBuilder6, &names);
    EXPECT_EQ(names.CommaText(), "dclvek12b6.bpi,dclvek14b6.bpl");
    EXPECT_THROW(VCLPackageName(6), Exception);
}

TEST_F(VCLInstallTest, DetectionFindsTheEnvironmentsWithKeysAndLogsInItsOrder)
{
    Seed(vpDelphi5);
    Seed(vpBuilder6);
    Seed(vpDelphi3);
    TPackageInstaller installer;
    const std::vector<std::string> expected = {
        "Starting find products",
        "Found Delphi 5 installation",
        "Found Delphi 3 installation",
        "Looking for: \\software\\Borland\\C++Builder\\6.0",
        "Found Builder 6 installation",
        "Finished finding products",
    };
    EXPECT_EQ(LogLines(), expected);
    for (int i = 0; i < VCLProductCount; ++i) {
        const TProductRecord p = installer.Product(i);
        const bool seeded = i == vpDelphi5 || i == vpBuilder6 || i == vpDelphi3;
        EXPECT_EQ(p.Found, seeded) << i;
        EXPECT_EQ(p.RegKey, VCLProducts[static_cast<std::size_t>(i)].Key);
    }
    EXPECT_EQ(installer.Product(vpDelphi5).RootDir, "C:\\Program Files\\Borland\\Delphi 5");
    EXPECT_EQ(installer.Product(vpDelphi5).HelpFile, "C:\\Program Files\\Borland\\Delphi 5\\Help\\delphi5.ohl");
    EXPECT_EQ(installer.Product(vpBuilder6).HelpFile, "C:\\Program Files\\Borland\\Builder 6\\Help\\bcb6.ohl");
    EXPECT_THROW(installer.Product(-1), Exception);
    EXPECT_THROW(installer.Product(6), Exception);
    // Detection only reads.
    EXPECT_FALSE(TRegistryStore::Default()->KeyExists(HKEY_LOCAL_MACHINE, "software\\Borland\\Delphi\\4.0"));
    // The log went to the temporary folder.
    const std::string logFile = NativePath(WinSystemConfig().TempDir + "\\instlog.txt");
    EXPECT_EQ(ReadNative(logFile), InstallLog()->Text());
}

TEST_F(VCLInstallTest, PaletteAddsOnlyTheMissingClasses)
{
    struct Case {
        const char* existing; // nullptr: no value yet
        const char* expected;
        bool updated;
    };
    const Case cases[] = {
        {nullptr, "TVekDatabase;TVekTable;TVekQuery", true},
        {"TVekDatabase;TVekTable", "TVekDatabase;TVekTable;TVekQuery", true},
        {"TTable;TQuery;", "TTable;TQuery;TVekDatabase;TVekTable;TVekQuery", true},
        {"", "TVekDatabase;TVekTable;TVekQuery", true},
        {"TVekQuery;TVekTable;TVekDatabase", "TVekQuery;TVekTable;TVekDatabase", false},
        // A longer name holding a class's name is another class.
        {"TVekTableX;TVekDatabase;TVekQuery", "TVekTableX;TVekDatabase;TVekQuery;TVekTable", true},
    };
    Seed(vpDelphi5);
    TPackageInstaller installer;
    TStringList classes;
    classes.SetCommaText("TVekDatabase,TVekTable,TVekQuery");
    const std::string key = VCLProducts[vpDelphi5].PaletteKey;
    for (const Case& c : cases) {
        DeleteRegKey(HKEY_CURRENT_USER, key);
        TdrvnRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenOrCreateKey(key));
        if (c.existing != nullptr)
            reg.WriteString("Data Access", c.existing);
        reg.CloseKey();
        InstallLog()->Clear();
        installer.InstallIntoPalette(vpDelphi5, "Data Access", &classes);
        EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, "Data Access", "?"), c.expected)
            << (c.existing ? c.existing : "(none)");
        std::vector<std::string> log = {"Install into palette. Product - Delphi 5. Found Reg Key"};
        if (c.existing != nullptr)
            log.push_back(std::string("Install into palette. Product - Delphi 5. Existing components: ") +
                          c.existing);
        if (c.updated)
            log.push_back("Install into palette. Product - Delphi 5. Updating Registry");
        log.push_back("Install into palette. Product - Delphi 5. Completed");
        EXPECT_EQ(LogLines(), log);
    }

    // Without a palette key nothing happens.
    DeleteRegKey(HKEY_CURRENT_USER, key);
    InstallLog()->Clear();
    installer.InstallIntoPalette(vpDelphi5, "Data Access", &classes);
    EXPECT_FALSE(TRegistryStore::Default()->KeyExists(HKEY_CURRENT_USER, key));
    EXPECT_TRUE(LogLines().empty());
}

class VCLPackageTest : public VCLInstallTest {
protected:
    void SetUp() override
    {
        VCLInstallTest::SetUp();
        Seed(vpDelphi5);
        TTempWindowsRoot::WriteFile(PackagePath, "package");
        VCLPackageNames(vpDelphi5, &Names);
    }
    void SetLibrary(const std::string& value)
    {
        WriteRegString(HKEY_CURRENT_USER, User + "\\Library", "Search Path", value);
    }
    std::string Library() { return ReadRegString(HKEY_CURRENT_USER, User + "\\Library", "Search Path", "?"); }

    const std::string User = "\\software\\Borland\\Delphi\\5.0";
    const std::string PackagePath = "C:\\Orvex\\Delphi5\\dclvek14d5.bpl";
    TStringList Names;
};

TEST_F(VCLPackageTest, OlderPackagesGoAndTheNewOneIsKnown)
{
    WriteRegString(HKEY_CURRENT_USER, User + "\\Known Packages", "C:\\Old\\dclvek13d5.bpl", "Old engine");
    WriteRegString(HKEY_CURRENT_USER, User + "\\Known Packages", "C:\\Other\\dclusr50.bpl", "Other");
    WriteRegString(HKEY_CURRENT_USER, User + "\\Disabled Packages", "C:\\Old\\DCLVEK12D5.BPL", "Older");
    WriteRegString(HKEY_CURRENT_USER, User + "\\Disabled Packages", "C:\\Other\\dclx.bpl", "X");
    TTempWindowsRoot::WriteFile("C:\\Old\\dclvek13d5.bpl", "old");
    // A folder whose name directly followed by a package name names a file
    // is not a folder holding that package.
    TTempWindowsRoot::WriteFile("C:\\Nearlydclvek13d5.bpl", "not a package folder");
    SetLibrary("$(DELPHI)\\Lib; C:\\Old ;C:\\Nearly;C:\\Keep");

    TPackageInstaller installer;
    InstallLog()->Clear();
    EXPECT_EQ(installer.InstallPackage(vpDelphi5, PackagePath, &Names, "Orvex Database Engine"), -1);

    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, User + "\\Known Packages"),
              (std::vector<std::string>{"C:\\Other\\dclusr50.bpl", PackagePath}));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, User + "\\Known Packages", PackagePath, "?"),
              "Orvex Database Engine");
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, User + "\\Disabled Packages"),
              (std::vector<std::string>{"C:\\Other\\dclx.bpl"}));
    EXPECT_EQ(Library(), "$(DELPHI)\\Lib;C:\\Nearly;C:\\Keep;C:\\Orvex\\Delphi5");
    const std::vector<std::string> expected = {
        "Install into VCL. Product - Delphi 5.Installing component: C:\\Orvex\\Delphi5\\dclvek14d5.bpl",
        "Deleting old package: C:\\Old\\dclvek13d5.bpl",
        "Adding package: C:\\Orvex\\Delphi5\\dclvek14d5.bpl",
        "Install into VCL. Updating library path",
        "Install into VCL. Existing search path: $(DELPHI)\\Lib; C:\\Old ;C:\\Nearly;C:\\Keep",
        "Install into VCL. Updating search path to: $(DELPHI)\\Lib;C:\\Nearly;C:\\Keep;C:\\Orvex\\Delphi5",
        "Install into VCL. Product - Delphi 5. Completed",
    };
    EXPECT_EQ(LogLines(), expected);

    // A second registration replaces the package's value and leaves the
    // search path as it is.
    InstallLog()->Clear();
    installer.InstallPackage(vpDelphi5, PackagePath, &Names, "Orvex Database Engine");
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, User + "\\Known Packages"),
              (std::vector<std::string>{"C:\\Other\\dclusr50.bpl", PackagePath}));
    EXPECT_EQ(LogLines().back(), "Install into VCL. Product - Delphi 5. Completed");
    EXPECT_EQ(LogLines()[LogLines().size() - 2], "Install into VCL. Search path not required to update");
}

TEST_F(VCLPackageTest, ALibraryPathHoldingThePackageFolderStaysUnchanged)
{
    for (const std::string path : {"C:\\Orvex\\Delphi5;$(DELPHI)\\Lib", "$(DELPHI)\\Lib;C:\\orvex\\delphi5\\;X"}) {
        SetLibrary(path);
        TPackageInstaller installer;
        InstallLog()->Clear();
        installer.InstallPackage(vpDelphi5, PackagePath, &Names, "Orvex Database Engine");
        EXPECT_EQ(Library(), path);
        EXPECT_EQ(LogLines()[LogLines().size() - 2], "Install into VCL. Search path not required to update");
    }
    // An empty path gains the folder.
    SetLibrary("");
    TPackageInstaller installer;
    installer.InstallPackage(vpDelphi5, PackagePath, &Names, "Orvex Database Engine");
    EXPECT_EQ(Library(), "C:\\Orvex\\Delphi5");
}

TEST_F(VCLPackageTest, WithoutKnownPackagesTheRegistrationStops)
{
    DeleteRegKey(HKEY_CURRENT_USER, User + "\\Known Packages");
    SetLibrary("$(DELPHI)\\Lib");
    TPackageInstaller installer;
    InstallLog()->Clear();
    EXPECT_EQ(installer.InstallPackage(vpDelphi5, PackagePath, &Names, "Orvex Database Engine"), -1);
    EXPECT_EQ(LogLines().back(), "Error: Unable to open key:\\software\\Borland\\Delphi\\5.0\\Known Packages");
    EXPECT_EQ(Library(), "$(DELPHI)\\Lib");
    EXPECT_FALSE(TRegistryStore::Default()->KeyExists(HKEY_CURRENT_USER, User + "\\Known Packages"));
}

TEST_F(VCLInstallTest, HelpLinkIsAddedOnceAndTheIndexGoes)
{
    struct Case {
        const char* config;
        const char* expected;
    };
    const Case cases[] = {
        // Not linked yet: the link goes at the end.
        {":Include delphi5.cfg\r\n:Link delphi5.hlp\r\n", ":Include delphi5.cfg\r\n:Link delphi5.hlp\r\n:Link orvex.hlp\r\n"},
        // Linked below the third-party section: untouched.
        {":Link a.hlp\r\n;Third-party Help\r\n:Link ORVEX.HLP\r\n", ":Link a.hlp\r\n;Third-party Help\r\n:Link ORVEX.HLP\r\n"},
        // A link above the third-party section is not looked at.
        {":Link orvex.hlp\r\n; THIRD-PARTY help files\r\n:Link x.hlp",
         ":Link orvex.hlp\r\n; THIRD-PARTY help files\r\n:Link x.hlp\r\n:Link orvex.hlp\r\n"},
        {"", ":Link orvex.hlp\r\n"},
    };
    const std::string root = Seed(vpDelphi5, "x");
    const std::string config = root + "\\Help\\delphi5.ohl";
    const std::string gid = root + "\\Help\\delphi5.gid";
    TPackageInstaller installer;
    for (const Case& c : cases) {
        TTempWindowsRoot::WriteFile(config, c.config);
        TTempWindowsRoot::WriteFile(gid, "index");
        EXPECT_EQ(installer.InstallHelp(vpDelphi5, "orvex.hlp"), 1);
        EXPECT_EQ(ReadNative(NativePath(config)), c.expected) << c.config;
        EXPECT_FALSE(WinFileExists(gid));
    }
}

TEST_F(VCLInstallTest, AMissingHelpConfigurationTouchesNothing)
{
    const std::string root = Seed(vpDelphi5);
    TTempWindowsRoot::WriteFile(root + "\\Help\\delphi5.gid", "index");
    TPackageInstaller installer;
    EXPECT_EQ(installer.InstallHelp(vpDelphi5, "orvex.hlp"), 255);
    EXPECT_TRUE(WinFileExists(root + "\\Help\\delphi5.gid"));
    EXPECT_FALSE(WinFileExists(root + "\\Help\\delphi5.ohl"));
    // An environment not found has no configuration file at all.
    EXPECT_EQ(installer.InstallHelp(vpDelphi6, "orvex.hlp"), 255);
}

TEST_F(VCLInstallTest, TheLogGoesToTheNotedFolderWhileItExists)
{
    const std::string temp = WinSystemConfig().TempDir;
    AddInstallLog("first");
    SetInstallLogFolder("C:\\Orvex");
    EXPECT_EQ(InstallLogFileName(), temp + "\\instlog.txt");
    SaveInstallLog();
    EXPECT_EQ(ReadNative(NativePath(temp + "\\instlog.txt")), "first\r\n");

    TTempWindowsRoot::MakeFolder("C:\\Orvex");
    AddInstallLog("second");
    EXPECT_EQ(InstallLogFileName(), "C:\\Orvex\\instlog.txt");
    SaveInstallLog();
    EXPECT_EQ(ReadNative(NativePath("C:\\Orvex\\instlog.txt")), "first\r\nsecond\r\n");

    // A log that cannot be written is left unsaved.
    std::filesystem::remove(NativePath("C:\\Orvex\\instlog.txt"));
    TTempWindowsRoot::MakeFolder("C:\\Orvex\\instlog.txt");
    AddInstallLog("third");
    EXPECT_NO_THROW(SaveInstallLog());
    EXPECT_EQ(InstallLog()->Count(), 3);
}

} // namespace
} // namespace orvex
