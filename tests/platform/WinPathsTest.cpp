#include "platform/WinPaths.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvex {
namespace {

TEST(WinPathsTest, DrivesMapToFoldersUnderTheRoot)
{
    TTempWindowsRoot root;
    EXPECT_EQ(WindowsRoot(), root.Path());
    EXPECT_EQ(DriveFolder('C'), root.Path() + "/c");
    EXPECT_EQ(DriveFolder('z'), root.Path() + "/z");
    EXPECT_EQ(NativePath("C:\\Program Files\\Orvex\\vekrun.bpl"),
              root.Path() + "/c/Program Files/Orvex/vekrun.bpl");
    EXPECT_EQ(NativePath("c:/a/b"), root.Path() + "/c/a/b");

    MapDrive('D', root.Path() + "/cdrom");
    EXPECT_EQ(NativePath("D:\\SETUP.EXE"), root.Path() + "/cdrom/SETUP.EXE");
    MapDrive('E', "");
    EXPECT_EQ(NativePath("E:\\x"), "");
    EXPECT_EQ(NativePath("\\\\server\\share\\x"), ""); // UNC paths are not mapped
    // A native path is taken only inside a drive's folder, and never leaves it.
    EXPECT_EQ(NativePath("/usr/bin/env"), "");
    EXPECT_FALSE(WinFileExists("/etc/passwd"));
    EXPECT_EQ(NativePath(root.Path() + "/c/a/b"), root.Path() + "/c/a/b");
    EXPECT_EQ(NativePath(root.Path() + "/c/../../../etc/passwd"), root.Path() + "/c/etc/passwd");
    EXPECT_EQ(NativePath(root.Path() + "/cdrom/x"), root.Path() + "/cdrom/x");
    EXPECT_EQ(NativePath(root.Path() + "/other/x"), "");
}

TEST(WinPathsTest, ExistingNamesMatchWithoutRegardToCase)
{
    TTempWindowsRoot root;
    std::filesystem::create_directories(root.Path() + "/c/Windows/System32");
    std::ofstream(root.Path() + "/c/Windows/System32/Foo.DLL") << "x";

    EXPECT_EQ(NativePath("C:\\WINDOWS\\system32\\foo.dll"), root.Path() + "/c/Windows/System32/Foo.DLL");
    EXPECT_TRUE(WinFileExists("c:\\windows\\SYSTEM32\\FOO.dll"));
    EXPECT_TRUE(WinDirectoryExists("C:\\WINDOWS"));
    EXPECT_FALSE(WinFileExists("C:\\WINDOWS"));
    // Components that do not exist yet keep the case they were given.
    EXPECT_EQ(NativePath("C:\\windows\\New Folder\\Read Me.TXT"),
              root.Path() + "/c/Windows/New Folder/Read Me.TXT");
}

TEST(WinPathsTest, NamesAreWindows1252InWindowsFormAndUtf8OnDisk)
{
    TTempWindowsRoot root;
    const std::string cafe = "C:\\Caf\xE9";     // e acute
    const std::string upper = "C:\\CAF\xC9";    // E acute
    TTempWindowsRoot::MakeFolder(cafe);
    EXPECT_TRUE(std::filesystem::is_directory(root.Path() + "/c/Caf\xC3\xA9"));
    EXPECT_TRUE(WinDirectoryExists(upper));
    EXPECT_EQ(NativeToWinPath(root.Path() + "/c/Caf\xC3\xA9"), cafe);
    EXPECT_EQ(Utf8NameToWin1252(Win1252NameToUtf8("\x80\x9C\xFF")), "\x80\x9C\xFF");
    EXPECT_EQ(CompareWinNames("\x9Cuvre", "\x8CUVRE"), 0);
    EXPECT_LT(CompareWinNames("abc", "ABD"), 0);
}

TEST(WinPathsTest, RelativePathsFollowTheCurrentDirectory)
{
    TTempWindowsRoot root;
    struct TCase {
        const char* Path;
        const char* Expanded;
    };
    const TCase cases[] = {
        {"C:\\A\\.\\B\\..\\C\\", "C:\\A\\C"},
        {"c:\\", "C:\\"},
        {"C:", "C:\\Work"},
        {"Data\\x.txt", "C:\\Work\\Data\\x.txt"},
        {"..\\..\\..\\x", "C:\\x"},
        {"\\Other", "C:\\Other"},
        {"D:rel", "D:\\rel"},
    };
    TTempWindowsRoot::MakeFolder("C:\\Work");
    ASSERT_TRUE(SetCurrentDirectory("c:\\work"));
    EXPECT_EQ(GetCurrentDirectory(), "C:\\work");
    ASSERT_TRUE(SetCurrentDirectory("C:\\Work"));
    for (const TCase& c : cases) {
        std::string expanded;
        ASSERT_TRUE(ExpandWinPath(c.Path, expanded)) << c.Path;
        EXPECT_EQ(expanded, c.Expanded) << c.Path;
    }
    EXPECT_FALSE(SetCurrentDirectory("C:\\Missing"));
    EXPECT_EQ(NativeToWinPath(root.Path() + "/c/Work/x.txt"), "C:\\Work\\x.txt");
    EXPECT_EQ(NativeToWinPath("/etc/hosts"), "/etc/hosts");
}

TEST(WinPathsTest, TemporaryFilesAreNewAndShortPathsExist)
{
    TTempWindowsRoot root;
    TTempWindowsRoot::MakeFolder("C:\\Temp");
    std::string first, second;
    ASSERT_TRUE(GetTempFileName("C:\\Temp", "batch", first));
    ASSERT_TRUE(GetTempFileName("C:\\Temp\\", "bat", second));
    EXPECT_NE(first, second);
    EXPECT_EQ(first.substr(0, 11), "C:\\Temp\\bat");
    EXPECT_EQ(first.size(), std::string("C:\\Temp\\batXXXX.TMP").size());
    EXPECT_TRUE(WinFileExists(first));
    EXPECT_FALSE(GetTempFileName("C:\\NoSuchFolder", "bat", first));

    std::string shortName;
    EXPECT_TRUE(GetShortPathName("c:\\temp\\", shortName));
    EXPECT_EQ(shortName, "C:\\temp");
    EXPECT_FALSE(GetShortPathName("C:\\Temp\\missing.txt", shortName));

    TLocalTime time;
    ASSERT_TRUE(WinFileLastWrite(second, time));
    EXPECT_GE(time.Year, 2020);
    EXPECT_FALSE(WinFileLastWrite("C:\\Temp\\missing.txt", time));
}

} // namespace
} // namespace orvex
