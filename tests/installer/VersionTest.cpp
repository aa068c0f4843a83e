#include "installer/cmp_TVersion.h"
#include "installer/routines_FileSystem.h"
#include "platform/FileIO.h"
#include "tests/platform/VersionResourceFixture.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace orvex {
namespace {

// A library at a Windows path with the given file version (none: no
// version resource at all).
std::string WriteLibrary(const std::string& winPath, std::initializer_list<std::uint16_t> version)
{
    TPeFixture pe;
    if (version.size() == 0)
        pe.Resources = TPeFixture::ResourcesWithoutVersion;
    std::copy(version.begin(), version.end(), pe.FileVersion);
    const std::string native = TTempWindowsRoot::WriteFile(winPath, "");
    pe.WriteTo(native);
    return winPath;
}

// Sets a file's last-write time to a date-time value plus some milliseconds.
void SetFileDate(const std::string& winPath, int secondsFromNow, int milliseconds = 0)
{
    namespace fs = std::filesystem;
    const auto when = fs::file_time_type::clock::now();
    const auto whole = std::chrono::time_point_cast<std::chrono::seconds>(when) + std::chrono::seconds(secondsFromNow);
    fs::last_write_time(NativePath(winPath), whole + std::chrono::milliseconds(milliseconds));
}

TEST(VersionTest, VersionStringsCompareByNumbersThenText)
{
    struct TCase {
        const char* A;
        const char* B;
        Integer Result;
    };
    const TCase cases[] = {
        {"1.2.10", "1.2.9", 1}, {"1.2", "1.2.0", 2},  {"1.2a", "1.2b", 2},   {"1.2b", "1.2a", 1},
        {"1.0.0.0", "1.0.0.0", 0}, {"", "", 0},       {"", "0", 2},          {"2", "10", 2},
        {"1.x", "1.x", 0},      {"5.0", "4.99.99", 1}, {"1.10", "1.9a", 2}, {"1..2", "1..2", 0},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(CompareVersionStrings(c.A, c.B), c.Result) << c.A << " vs " << c.B;
}

TEST(VersionTest, ReadsTheVersionResourceOfAFile)
{
    TTempWindowsRoot root;
    TPeFixture pe;
    pe.Pe64 = true;
    pe.FileVersion[0] = 1, pe.FileVersion[1] = 43, pe.FileVersion[2] = 2, pe.FileVersion[3] = 7;
    pe.ProductVersion[0] = 1, pe.ProductVersion[1] = 43;
    pe.FileOS = 0x40004;
    pe.FileType = 3;
    pe.FileSubtype = 7;
    pe.Translations = {{0x0407, 1252}};
    pe.Tables = {{"040704E4", {{"CompanyName", "Vantry GmbH"}, {"Comment", "F\xFCr Entwickler"},
                               {"ProductVersion", "1.43 Beta"}, {"Comments", "not read"}}},
                 {"040904E4", {{"CompanyName", "Vantry Software"}, {"LegalTradeMarks", "Orvex"}}}};
    pe.WriteTo(TTempWindowsRoot::WriteFile("C:\\Orvex\\vekrun.bpl", ""));

    TVersionResource res(nullptr);
    EXPECT_EQ(res.Language(), lnUSEnglish);
    EXPECT_EQ(res.CharacterSet(), csMultilingual);
    EXPECT_EQ(res.VersionInfo()->FileVersion, ""); // the running program has none
    res.SetFileName("c:\\orvex\\VEKRUN.BPL");
    const TVersionInfo& info = *res.VersionInfo();
    EXPECT_EQ(info.FileVersion, "1.43.2.7");
    EXPECT_EQ(info.ProductVersion, "1.43.0.0");
    EXPECT_EQ(info.FileOS, "Windows NT with 32 bit Windows");
    EXPECT_EQ(info.FileType, "Device Driver");
    EXPECT_EQ(info.FileSubType, "System");
    EXPECT_EQ(info.PrimaryLanguage, 7);
    EXPECT_EQ(info.CompanyName, "Vantry Software");
    EXPECT_EQ(info.LegalTradeMarks, "Orvex");
    EXPECT_EQ(info.Comment, "");

    res.SetLanguage(lnGerman); // reads StringFileInfo 040704E4
    EXPECT_EQ(info.CompanyName, "Vantry GmbH");
    EXPECT_EQ(info.Comment, "F\xFCr Entwickler");
    EXPECT_EQ(info.ProductVersion, "1.43 Beta");
    EXPECT_EQ(info.LegalTradeMarks, "");
    res.SetCharacterSet(csUnicode); // 040704B0: no such table
    EXPECT_EQ(info.CompanyName, "");
    EXPECT_EQ(info.ProductVersion, "1.43.0.0");
    EXPECT_EQ(info.FileVersion, "1.43.2.7");

    EXPECT_THROW(res.SetLanguage(static_cast<TVersionLanguage>(99)), Exception);
    EXPECT_THROW(res.SetCharacterSet(static_cast<TCharacterSet>(-1)), Exception);
    EXPECT_EQ(VersionLanguageId(lnSwissFrench), 4108);
    EXPECT_EQ(VersionLanguageId(lnSimplifiedChinese), 2052);
    EXPECT_EQ(CharacterSetCodePage(csArabic), 1256);
    EXPECT_EQ(CharacterSetCodePage(csASCII), 0);

    struct TCase {
        std::uint32_t OS, Type, SubType;
        const char *OSText, *TypeText, *SubText;
    };
    const TCase cases[] = {
        {4, 1, 0, "32 bit Windows", "Application", ""},
        {0x10001, 2, 0, "Windows 3.0 or later with MS-Dos", "Dynamic-Link Library", ""},
        {0x30003, 4, 3, "32 bit OS/2 with Presentation Manager", "Font", "TrueType"},
        {0x99, 4, 9, "Unknown", "Font", "Unknown"},
        {0x40000, 6, 1, "Windows NT", "Unknown", ""},
    };
    for (const TCase& c : cases) {
        TPeFixture small;
        small.FileOS = c.OS;
        small.FileType = c.Type;
        small.FileSubtype = c.SubType;
        small.WriteTo(NativePath("C:\\Orvex\\vekrun.bpl"));
        res.SetFileName("C:\\Orvex\\vekrun.bpl");
        EXPECT_EQ(info.FileOS, c.OSText);
        EXPECT_EQ(info.FileType, c.TypeText);
        EXPECT_EQ(info.FileSubType, c.SubText);
    }
    res.SetFileName("C:\\Orvex\\missing.bpl");
    EXPECT_EQ(info.FileType, "");
}

TEST(VersionTest, OverwriteByVersionComesFromRealFiles)
{
    TTempWindowsRoot root;
    const std::string newer = WriteLibrary("C:\\Source\\new.dll", {2, 0, 0, 1});
    const std::string older = WriteLibrary("C:\\Source\\old.dll", {1, 9, 9, 9});
    const std::string same = WriteLibrary("C:\\Source\\same.dll", {2, 0, 0, 1});
    const std::string plain1 = WriteLibrary("C:\\Source\\plain1.dll", {});
    const std::string plain2 = WriteLibrary("C:\\Source\\plain2.dll", {});
    const std::string dest = "C:\\Windows\\System\\lib.dll";
    WriteLibrary(dest, {2, 0, 0, 1});

    struct TCase {
        std::string Source, Dest;
        TOverwriteType Type;
        Integer Outcome;
    };
    const TCase cases[] = {
        {older, dest, owAlways, ovrReplace},
        {older, dest, owAsk, ovrAsk},
        {older, dest, owNever, ovrKeep},
        {older, "  ", owNever, ovrReplace},                 // a blank destination name
        {older, "C:\\Windows\\none.dll", owNever, ovrReplace},
        {older, dest, owVersion, ovrKeep},
        {same, dest, owVersion, ovrSame},
        {WriteLibrary("C:\\Source\\newest.dll", {2, 0, 0, 2}), dest, owVersion, ovrReplace},
        {plain1, plain2, owVersion, ovrSame},               // two files without versions are the same
        {plain1, dest, owVersion, ovrKeep},                 // no version is lower than any
        {newer, "C:\\Windows\\none.dll", owVersion, ovrReplace}, // a missing file is never the same
        {plain1, "C:\\Windows\\none.dll", owVersion, ovrReplace},
        {older, dest, owVersionDate, ovrKeep},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TVersionResource::IsFileNewerByName(c.Source, c.Dest, c.Type), c.Outcome)
            << c.Source << " over " << c.Dest << " by " << c.Type;

    EXPECT_EQ(IsFileNewerByInfo("2.0.0.1", dest, owVersion, 0), ovrSame);
    EXPECT_EQ(IsFileNewerByInfo("2.0.0.10", dest, owVersion, 0), ovrReplace);
    EXPECT_EQ(IsFileNewerByInfo("", dest, owVersion, 0), ovrKeep);
    EXPECT_EQ(IsFileNewerByInfo("", "C:\\Windows\\none.dll", owVersion, 0), ovrReplace);
    EXPECT_EQ(IsFileNewerByInfo("1.0", "", owNever, 0), ovrReplace);
}

TEST(VersionTest, OverwriteByDateComparesWholeSeconds)
{
    TTempWindowsRoot root;
    const std::string source = WriteLibrary("C:\\Source\\lib.dll", {1, 0, 0, 0});
    const std::string dest = WriteLibrary("C:\\Dest\\lib.dll", {1, 0, 0, 0});

    SetFileDate(source, -100);
    SetFileDate(dest, -200);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(source, dest, owDate), ovrReplace);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(dest, source, owDate), ovrKeep);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(source, dest, owVersionDate), ovrReplace);

    // Within one second the dates are equal.
    SetFileDate(source, -100, 100);
    SetFileDate(dest, -100, 300);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(source, dest, owDate), ovrSame);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(source, dest, owVersionDate), ovrSame);
    TDateTime destDate = 0;
    ASSERT_TRUE(GetFileDateTime(dest, destDate));
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.0", dest, owDate, destDate + 0.2 / 86400), ovrSame);
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.0", dest, owDate, destDate + 2.0 / 86400), ovrReplace);
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.0", dest, owDate, destDate - 2.0 / 86400), ovrKeep);
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.0", dest, owVersionDate, destDate - 2.0 / 86400), ovrKeep);
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.1", dest, owVersionDate, destDate - 2.0 / 86400), ovrReplace);

    // A file that cannot be opened gives no decision.
    EXPECT_EQ(TVersionResource::IsFileNewerByName(source, "C:\\Dest\\none.dll", owDate), ovrNone);
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.0", "C:\\Dest\\none.dll", owDate, destDate), ovrNone);
    // Equal versions (none on either side) and a destination that cannot be opened.
    EXPECT_EQ(IsFileNewerByInfo("", "C:\\Dest\\none.dll", owVersionDate, destDate), ovrNone);
    auto held = TPlatformFile::Open(NativePath(dest), TFileAccess::ReadWrite, TFileShare::Exclusive,
                                    TFileCreate::OpenExisting);
    ASSERT_TRUE(held);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(source, dest, owDate), ovrNone);
    EXPECT_EQ(TVersionResource::IsFileNewerByName(dest, source, owDate), ovrNone);
    EXPECT_EQ(IsFileNewerByInfo("1.0.0.0", dest, owDate, destDate), ovrNone);
}

} // namespace
} // namespace orvex
