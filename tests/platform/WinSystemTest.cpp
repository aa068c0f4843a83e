#include "platform/WinSystem.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace orvex {
namespace {

TEST(WinSystemTest, TheDefaultMachineIsWindowsXP)
{
    TTempWindowsRoot root;
    TWinVersion v;
    ASSERT_TRUE(GetVersionEx(v));
    EXPECT_EQ(v.PlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(v.MajorVersion, 5u);
    EXPECT_EQ(v.MinorVersion, 1u);

    std::string path, user;
    ASSERT_TRUE(GetUserName(user));
    EXPECT_TRUE(GetWindowsDirectory(path));
    EXPECT_EQ(path, "C:\\WINDOWS");
    EXPECT_TRUE(GetSystemDirectory(path));
    EXPECT_EQ(path, "C:\\WINDOWS\\system32");
    EXPECT_TRUE(GetTempPath(path));
    EXPECT_EQ(path, "C:\\Documents and Settings\\" + user + "\\Local Settings\\Temp\\");
    EXPECT_TRUE(SHGetSpecialFolderPath(CSIDL_COMMON_PROGRAMS, path));
    EXPECT_EQ(path, "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
    EXPECT_TRUE(SHGetSpecialFolderPath(CSIDL_APPDATA, path));
    EXPECT_EQ(path, "C:\\Documents and Settings\\" + user + "\\Application Data");
    // Virtual folders have no file-system path.
    for (int csidl : {CSIDL_CONTROLS, CSIDL_PRINTERS, CSIDL_BITBUCKET, CSIDL_DRIVES})
        EXPECT_FALSE(SHGetSpecialFolderPath(csidl, path)) << csidl;

    std::string computer;
    ASSERT_TRUE(GetComputerName(computer));
    EXPECT_LE(computer.size(), 15u);
    EXPECT_EQ(computer.find_first_of("abcdefghijklmnopqrstuvwxyz."), std::string::npos);
}

TEST(WinSystemTest, OtherEditionsHaveTheirOwnLayout)
{
    TTempWindowsRoot root(TWinEdition::Win95);
    TWinVersion v;
    GetVersionEx(v);
    EXPECT_EQ(v.PlatformId, VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(v.MinorVersion, 0u);
    std::string path;
    EXPECT_TRUE(GetSystemDirectory(path));
    EXPECT_EQ(path, "C:\\WINDOWS\\SYSTEM");
    EXPECT_TRUE(SHGetSpecialFolderPath(CSIDL_PROGRAMS, path));
    EXPECT_EQ(path, "C:\\WINDOWS\\Start Menu\\Programs");
    // Windows 95 knows no folders shared by all users.
    EXPECT_FALSE(SHGetSpecialFolderPath(CSIDL_COMMON_PROGRAMS, path));

    EmulateWindows(TWinEdition::Win2000);
    EXPECT_TRUE(GetWindowsDirectory(path));
    EXPECT_EQ(path, "C:\\WINNT");
    EmulateWindows(TWinEdition::WinME);
    GetVersionEx(v);
    EXPECT_EQ(v.MinorVersion, 90u);

    // Single facts can be changed on their own.
    TWinSystemConfig config = WinSystemConfig();
    config.WindowsDir = "D:\\WIN";
    config.SpecialFolders.erase(CSIDL_APPDATA);
    SetWinSystemConfig(config);
    EXPECT_TRUE(GetWindowsDirectory(path));
    EXPECT_EQ(path, "D:\\WIN");
    EXPECT_FALSE(SHGetSpecialFolderPath(CSIDL_APPDATA, path));
}

TEST(WinSystemTest, TheInterfaceLanguageComesFromTheLocale)
{
    struct TCase {
        const char* Locale;
        std::uint16_t LangId;
    };
    const TCase cases[] = {
        {"de_DE.UTF-8", 0x0407}, {"de_AT", 0x0C07},     {"en_US.UTF-8", 0x0409}, {"en_GB", 0x0809},
        {"fr_CA.ISO-8859-1", 0x0C0C}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816},      {"pt", 0x0816},
        {"zh_TW.Big5", 0x0404}, {"zh_CN", 0x0804},      {"nb_NO", 0x0414},       {"nn_NO", 0x0814},
        {"tr_TR.UTF-8", 0x041F}, {"ja_JP.eucJP", 0x0411}, {"sv_SE@euro", 0x041D}, {"C", 0x0409},
        {"POSIX", 0x0409},      {"", 0x0409},           {"xx_YY", 0x0409},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(LangIdFromLocale(c.Locale), c.LangId) << c.Locale;

    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    ::setenv("LC_ALL", "ru_RU.UTF-8", 1);
    EXPECT_EQ(UserLocaleName(), "ru_RU.UTF-8");
    EXPECT_EQ(DefaultWinSystemConfig(TWinEdition::WinXP).UILanguage, 0x0419);
    if (saved)
        ::setenv("LC_ALL", keep.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
}

TEST(WinSystemTest, ErrorTextsAndCodes)
{
    EXPECT_EQ(WinErrorMessage(2), "The system cannot find the file specified.");
    EXPECT_EQ(WinErrorMessage(5), "Access is denied.");
    EXPECT_EQ(WinErrorFromErrno(ENOENT), 2u);
    EXPECT_EQ(WinErrorFromErrno(EACCES), 5u);
    EXPECT_EQ(WinErrorFromErrno(ENOSPC), 112u);
}

} // namespace
} // namespace orvex
