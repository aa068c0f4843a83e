#include "installer/cmp_TDrvnRegistry.h"
#include "installer/cmp_TProgramLauncher.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvex {
namespace {

TEST(RoutinesStringsTest, BackslashesAndTokens)
{
    EXPECT_EQ(AddBackSlash("C:\\A"), "C:\\A\\");
    EXPECT_EQ(AddBackSlash("C:\\A\\"), "C:\\A\\");
    EXPECT_EQ(AddBackSlash(""), "");
    EXPECT_EQ(RemoveBackSlash("C:\\A\\\\"), "C:\\A\\");
    EXPECT_EQ(RemoveBackSlash("C:\\A"), "C:\\A");

    struct TCase {
        const char* Text;
        int Count;
        const char* Second;
    };
    const TCase cases[] = {
        {"", 0, ""}, {"a", 1, ""}, {"a;b", 2, "b"}, {"a;b;", 2, "b"}, {";;", 2, ""}, {"C:\\BDE;D:\\X;E", 3, "D:\\X"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TokenCount(c.Text, ';'), c.Count) << c.Text;
        EXPECT_EQ(GetToken(c.Text, ';', 2), c.Second) << c.Text;
    }
    EXPECT_EQ(GetToken("a;b;c", ';', 1), "a");
    EXPECT_EQ(GetToken("a;b;c", ';', 4), "");
    TStringList list;
    SplitTokens("x;y;", ';', &list);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "y");

    EXPECT_EQ(AfterColon("Key: Value:2"), " Value:2");
    EXPECT_EQ(AfterColon("none"), "");
    EXPECT_EQ(FileNameFilter("Orvex 1.43/02: \"beta\" <a|b>*?\\\t.txt"), "Orvex 1.43-02 beta ab.txt");
}

TEST(RoutinesApiTest, TheWindowsFamilyFollowsTheVersionNumbers)
{
    TTempWindowsRoot root;
    struct TCase {
        TWinEdition Edition;
        TOSVerType Family;
    };
    // Windows 95 itself reads as oswin98: only minor version 90 is told apart.
    const TCase cases[] = {
        {TWinEdition::Win32s, os31win32}, {TWinEdition::Win95, oswin98},     {TWinEdition::Win98, oswin98},
        {TWinEdition::WinME, oswinME},    {TWinEdition::WinNT351, oswinNT351}, {TWinEdition::WinNT4, oswinNT},
        {TWinEdition::Win2000, oswin2K},  {TWinEdition::WinXP, oswinXP},     {TWinEdition::WinVista, osUnidentified},
    };
    for (const TCase& c : cases) {
        EmulateWindows(c.Edition);
        EXPECT_EQ(GetOSVersionType(), c.Family) << static_cast<int>(c.Edition);
    }
    TWinSystemConfig config = DefaultWinSystemConfig(TWinEdition::WinXP);
    config.Version.MinorVersion = 2; // a later 5.x
    SetWinSystemConfig(config);
    EXPECT_EQ(GetOSVersionType(), oswinXP);
    config.Version.PlatformId = 3;
    SetWinSystemConfig(config);
    EXPECT_EQ(GetOSVersionType(), osUnidentified);

    config.SystemDir.clear();
    config.WindowsDir.clear();
    SetWinSystemConfig(config);
    EXPECT_THROW(
        {
            try {
                GetSystemDir();
            } catch (const EAPIRoutines& e) {
                EXPECT_STREQ(e.what(), "Could not retrieve the system directroy from windows");
                throw;
            }
        },
        EAPIRoutines);
    EXPECT_THROW(GetWindowsDir(), EAPIRoutines);
}

TEST(RoutinesApiTest, TemporaryFilesShortPathsAndSpecialFolders)
{
    TTempWindowsRoot root;
    EXPECT_THROW(CreateTempFileName(true), EAPIRoutines); // the temporary folder does not exist yet
    TTempWindowsRoot::MakeFolder(GetTempDir());
    const std::string kept = CreateTempFileName(true);
    EXPECT_EQ(kept.rfind(GetTempDir() + "\\bat", 0), 0u);
    EXPECT_TRUE(WinFileExists(kept));
    const std::string gone = CreateTempFileName(false);
    EXPECT_NE(gone, kept);
    EXPECT_FALSE(WinFileExists(gone));

    EXPECT_EQ(GetShortPath(kept), kept);
    EXPECT_EQ(GetShortPath("C:\\Missing\\File.txt"), "");
    EXPECT_EQ(GetSpecialFolder(CSIDL_PRINTERS), "");
    EXPECT_EQ(GetSpecialFolder(CSIDL_COMMON_STARTUP), "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Startup");
    EXPECT_EQ(GetCurrentDrive(), "C:");
}

TEST(RoutinesRegistryTest, ReadsWritesAndDeletesWithDefaults)
{
    TTempWindowsRoot root;
    EXPECT_EQ(GetRootKey(hkClassesRoot), HKEY_CLASSES_ROOT);
    EXPECT_EQ(GetRootKey(hkCurrentConfig), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(GetRootKey(hkDynData), HKEY_DYN_DATA);
    EXPECT_EQ(GetRootKey(hkUsers), HKEY_USERS);
    for (Integer i = 0; i < 6; ++i)
        EXPECT_EQ(GetRootKeyOrdinal(GetRootKey(i)), i);
    EXPECT_THROW(GetRootKey(6), Exception);

    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\Software\\Vantry", "Path", "none"), "none");
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "Software\\Vantry", "Count", -7), -7);
    EXPECT_FALSE(std::filesystem::exists(TRegistryStore::Default()->FileName())); // reading created nothing

    WriteRegString(HKEY_LOCAL_MACHINE, "\\Software\\Vantry\\Orvex", "Path", "C:\\Orvex");
    WriteRegInteger(HKEY_LOCAL_MACHINE, "Software\\Vantry\\Orvex", "Count", 3);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "Software\\Vantry\\Orvex", "path", ""), "C:\\Orvex");
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "\\Software\\Vantry\\Orvex", "Count", 0), 3);
    // A value of another type reads as the default.
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "Software\\Vantry\\Orvex", "Path", 9), 9);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "Software\\Vantry\\Orvex", "Count", "d"), "d");
    EXPECT_THROW(WriteRegString(0x1234u, "Software", "x", "y"), EIRCannotWriteValue);

    WriteRegString(HKEY_LOCAL_MACHINE, "Software\\Vantry\\Orvex\\Deep\\Deeper", "x", "y");
    EXPECT_TRUE(DeleteRegKey(HKEY_LOCAL_MACHINE, "Software\\Vantry"));
    TdrvnRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.KeyExistsForRead("\\Software\\Vantry"));
    EXPECT_TRUE(reg.KeyExistsForRead("\\Software"));
    EXPECT_FALSE(DeleteRegKey(HKEY_LOCAL_MACHINE, "Software\\Vantry"));
}

TEST(RoutinesRegistryTest, TheRegistryClassOpensAbsoluteAndRelativePaths)
{
    TTempWindowsRoot root;
    TdrvnRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenOrCreateKey("\\SOFTWARE\\Kelm"));
    ASSERT_TRUE(reg.OpenOrCreateKey("Install\\Install0"));
    EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Kelm\\Install\\Install0");
    reg.WriteFloat("CreationDate", 40000.25);
    reg.WriteInteger("Size", 1234);
    reg.WriteString("Path", "C:\\setup.exe");
    reg.WriteBinaryData("Raw", "\x00\x01", 2);
    EXPECT_DOUBLE_EQ(reg.ReadFloat("CreationDate"), 40000.25);
    EXPECT_EQ(reg.ReadInteger("size"), 1234);
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_EQ(reg.GetDataSize("Path"), 13);
    EXPECT_EQ(reg.GetDataType("Raw"), rdBinary);
    EXPECT_THROW(reg.ReadInteger("Path"), ERegistryException);
    EXPECT_THROW(reg.ReadFloat("Size"), ERegistryException);
    EXPECT_THROW(reg.ReadString("Size"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Missing"), ERegistryException);
    char small[1];
    EXPECT_THROW(reg.ReadBinaryData("Raw", small, 1), ERegistryException);

    EXPECT_TRUE(reg.KeyExistsForRead("\\SOFTWARE\\Kelm\\Install"));
    EXPECT_FALSE(reg.KeyExistsForRead("Install")); // relative to ...\Install0
    TStringList names;
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Kelm\\Install", false));
    reg.GetKeyNames(&names);
    EXPECT_EQ(names.Count(), 1);
    EXPECT_TRUE(reg.HasSubKeys());
    EXPECT_TRUE(reg.DeleteKeyTree("Install0"));
    EXPECT_FALSE(reg.HasSubKeys());

    // A read-only open refuses writes and never creates.
    TRegistry reader(KEY_READ);
    reader.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reader.OpenKeyReadOnly("\\SOFTWARE\\Nowhere"));
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\Nowhere"));
    ASSERT_TRUE(reader.OpenKeyReadOnly("\\SOFTWARE\\Kelm"));
    EXPECT_THROW(reader.WriteString("x", "y"), ERegistryException);
    EXPECT_FALSE(reader.DeleteValue("x"));
    EXPECT_THROW(reader.CreateKey("Sub"), ERegistryException);
    EXPECT_FALSE(reader.OpenKey("Sub", true));
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\Kelm\\Sub"));
}

TEST(RoutinesRegistryTest, RunOnceValuesGoUnderTheFamilysRoot)
{
    for (TWinEdition edition : {TWinEdition::WinXP, TWinEdition::Win95}) {
        TTempWindowsRoot root(edition);
        const HKEY expected = edition == TWinEdition::WinXP ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        const HKEY other = edition == TWinEdition::WinXP ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        EXPECT_TRUE(WriteRunOnceValue("DorvaneUnfinished", "first", true));
        EXPECT_TRUE(WriteRunOnceValue("DorvaneUnfinished", "second", true));
        EXPECT_TRUE(WriteRunOnceValue("DorvaneUnfinished", "third", true));
        EXPECT_EQ(ReadRegString(expected, RunOnceKey, "DorvaneUnfinished", ""), "first");
        EXPECT_EQ(ReadRegString(expected, RunOnceKey, "DorvaneUnfinished1", ""), "second");
        EXPECT_EQ(ReadRegString(expected, RunOnceKey, "DorvaneUnfinished2", ""), "third");
        EXPECT_TRUE(WriteRunOnceValue("DorvaneUnfinished", "replaced", false));
        EXPECT_EQ(ReadRegString(expected, RunOnceKey, "DorvaneUnfinished", ""), "replaced");
        EXPECT_EQ(ReadRegString(other, RunOnceKey, "DorvaneUnfinished", "none"), "none");
    }
}

TEST(RoutinesFileSystemTest, ShellFoldersComeFromTheRegistryElseDefaults)
{
    TTempWindowsRoot root;
    EXPECT_EQ(GetStartMenuFolder(), "C:\\WINDOWS\\Startmen");
    EXPECT_EQ(GetProgramsFolder(), "C:\\WINDOWS\\Startmen\\Programs");
    EXPECT_EQ(GetDesktopFolder(), "C:\\WINDOWS\\Desktop");
    EXPECT_EQ(GetStartupFolder(), "C:\\WINDOWS\\Startup");
    EXPECT_EQ(GetProgramFilesFolder(), "C:\\Program Files");
    EXPECT_EQ(GetCommonFilesFolder(), "C:\\Program Files\\Common Files");

    WriteRegString(HKEY_CURRENT_USER, ShellFoldersKey, "Start Menu", "D:\\Menu\\");
    WriteRegString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", "E:\\Programs\\");
    EXPECT_EQ(GetStartMenuFolder(), "D:\\Menu");
    EXPECT_EQ(GetProgramsFolder(), "D:\\Menu\\Programs");
    EXPECT_EQ(GetProgramFilesFolder(), "E:\\Programs");
}

TEST(RoutinesFileSystemTest, AttributesNearestFoldersAndDates)
{
    TTempWindowsRoot root;
    TTempWindowsRoot::WriteFile("C:\\App\\Data\\file.txt", "x");
    SetDrvnFileAttributes("C:\\App\\Data\\FILE.TXT", {dfaReadOnly, dfaHidden});
    EXPECT_EQ(GetDrvnFileAttributes("c:\\app\\data\\file.txt"), TDrvnFileAttributes{dfaReadOnly});
    SetDrvnFileAttributes("C:\\App\\Data\\file.txt", {dfaArchive});
    EXPECT_TRUE(GetDrvnFileAttributes("C:\\App\\Data\\file.txt").Empty());
    try {
        SetDrvnFileAttributes("C:\\App\\missing.txt", {dfaReadOnly});
        FAIL() << "no exception";
    } catch (const IEfcSetAttributes& e) {
        EXPECT_EQ(e.Message(), "Cannot set file attributes. Error : The system cannot find the file specified.");
    }

    EXPECT_EQ(NearestExistingFolder("C:\\App\\Data\\New\\Deeper"), "C:\\App\\Data");
    EXPECT_EQ(NearestExistingFolder("C:\\App"), "C:\\App");
    EXPECT_EQ(NearestExistingFolder("C:\\Nothing\\Here"), "C:\\");
    EXPECT_EQ(NearestExistingFolder("Q:\\Nothing"), ""); // the drive's folder does not exist

    TDateTime date = 0;
    ASSERT_TRUE(GetFileDateTime("C:\\App\\Data\\file.txt", date));
    EXPECT_GT(date, 40000.0);
    EXPECT_FALSE(GetFileDateTime("C:\\App\\missing.txt", date));
}

TEST(ProgramLauncherTest, StartsWaitsAndReportsFailures)
{
    TTempWindowsRoot root;
    std::filesystem::create_directories(root.Path() + "/c/Tools");
    std::filesystem::copy_file("/bin/sh", root.Path() + "/c/Tools/sh");
    TProgramLauncher launcher(nullptr);
    EXPECT_EQ(launcher.Action, "Open");
    EXPECT_EQ(launcher.Timeout, -1);
    EXPECT_TRUE(launcher.Wait);
    launcher.FileName = "C:\\TOOLS\\SH";
    launcher.Parameters = "-c \"echo started > done.txt\"";
    launcher.StartDir = "C:\\Tools";
    launcher.Execute();
    EXPECT_TRUE(WinFileExists("C:\\Tools\\done.txt"));

    struct TCase {
        const char* File;
        const char* Dir;
        Integer Code;
        const char* Text;
    };
    TTempWindowsRoot::WriteFile("C:\\Tools\\readme.txt", "text");
    const TCase cases[] = {
        {"C:\\Tools\\missing.exe", "", 2, "File not found"},
        {"C:\\Nowhere\\missing.exe", "", 3, "Path not found"},
        {"C:\\TOOLS\\SH", "C:\\Nowhere", 3, "Path not found"},
        {"C:\\Tools\\readme.txt", "", 31, "File type has no association"},
    };
    for (const TCase& c : cases) {
        launcher.FileName = c.File;
        launcher.StartDir = c.Dir;
        try {
            launcher.Execute();
            ADD_FAILURE() << c.File;
        } catch (const EProgramLauncherFailed& e) {
            EXPECT_EQ(e.ErrorCode, c.Code) << c.File;
            EXPECT_EQ(e.Message(), c.Text) << c.File;
        }
    }
    const std::pair<Integer, const char*> texts[] = {
        {0, "Out of memory"}, {5, "Sharing violation"}, {6, "Library/Segment error"}, {10, "Incorrect version of windows"},
        {11, "Invalid file"}, {13, "Invalid DOS version"}, {14, "File type has no association"},
        {15, "Cannot load a Real-mode application"}, {16, "Invalid attempt to launch second instance"},
        {19, "Cannot load a compressed executable file"}, {20, "Invalid dynamic link library"},
        {21, "Application requires Win32"}, {267, "Unknown error"}};
    for (const auto& [code, text] : texts)
        EXPECT_EQ(TProgramLauncher::StartErrorText(code), text) << code;

    // A timeout ends the wait, not the program.
    launcher.FileName = "C:\\Tools\\sh";
    launcher.StartDir = "C:\\Tools";
    launcher.Parameters = "-c \"sleep 0.3; echo late > late.txt\"";
    launcher.Timeout = 10;
    launcher.Execute();
    EXPECT_FALSE(WinFileExists("C:\\Tools\\late.txt"));
    // The program goes on by itself and finishes its work.
    for (int i = 0; i < 500 && !WinFileExists("C:\\Tools\\late.txt"); ++i)
        Sleep(10);
    EXPECT_TRUE(WinFileExists("C:\\Tools\\late.txt"));
}

} // namespace
} // namespace orvex
