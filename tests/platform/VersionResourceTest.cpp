#include "platform/Process.h"
#include "platform/VersionResource.h"
#include "tests/platform/VersionResourceFixture.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orvex {
namespace {

std::string Narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s)
        out += static_cast<char>(c);
    return out;
}

TPeFixture SampleFixture(bool pe64)
{
    TPeFixture pe;
    pe.Pe64 = pe64;
    pe.FileVersion[0] = 5;
    pe.FileVersion[1] = 1;
    pe.FileVersion[2] = 2600;
    pe.FileVersion[3] = 65535;
    pe.ProductVersion[0] = 1;
    pe.ProductVersion[1] = 43;
    pe.FileType = 2;
    pe.Translations = {{0x0407, 1252}, {0x0409, 1200}};
    pe.Tables = {{"040704E4", {{"CompanyName", "Vantry GmbH"}, {"Comment", "f\xFCr alle"}}},
                 {"040904b0", {{"CompanyName", "Vantry Software"}, {"ProductVersion", "1.43 beta"}}}};
    return pe;
}

TEST(VersionResourceTest, ReadsFixedInfoAndStringTablesFromPe32AndPe32Plus)
{
    TTempWindowsRoot root;
    for (bool pe64 : {false, true}) {
        SCOPED_TRACE(pe64 ? "PE32+" : "PE32");
        const std::string path = root.Path() + (pe64 ? "/lib64.dll" : "/lib32.dll");
        SampleFixture(pe64).WriteTo(path);

        TFileVersionInfo info;
        ASSERT_TRUE(info.LoadFromFile(path));
        TVSFixedFileInfo fixed;
        ASSERT_TRUE(info.QueryFixed(fixed));
        EXPECT_EQ(fixed.FileVersionMS, (5u << 16) | 1);
        EXPECT_EQ(fixed.FileVersionLS, (2600u << 16) | 65535);
        EXPECT_EQ(fixed.ProductVersionMS, (1u << 16) | 43);
        EXPECT_EQ(fixed.FileOS, 0x40004u);
        EXPECT_EQ(fixed.FileType, 2u);

        const auto translations = info.Translations();
        ASSERT_EQ(translations.size(), 2u);
        EXPECT_EQ(translations[0], std::make_pair(std::uint16_t(0x0407), std::uint16_t(1252)));

        std::u16string text;
        ASSERT_TRUE(info.QueryString("\\StringFileInfo\\040704E4\\CompanyName", text));
        EXPECT_EQ(Narrow(text), "Vantry GmbH");
        ASSERT_TRUE(info.QueryString("\\stringfileinfo\\040704e4\\comment", text));
        EXPECT_EQ(Narrow(text), "f\xFCr alle");
        ASSERT_TRUE(info.QueryString("\\StringFileInfo\\040904B0\\ProductVersion", text));
        EXPECT_EQ(Narrow(text), "1.43 beta");
        EXPECT_FALSE(info.QueryString("\\StringFileInfo\\040904E4\\CompanyName", text));
        EXPECT_FALSE(info.QueryString("\\StringFileInfo\\040704E4\\LegalCopyright", text));
    }
}

TEST(VersionResourceTest, FilesWithoutAVersionResourceHaveNone)
{
    TTempWindowsRoot root;
    TFileVersionInfo info;

    TPeFixture plain;
    plain.Resources = TPeFixture::NoResources;
    plain.WriteTo(root.Path() + "/plain.exe");
    EXPECT_FALSE(info.LoadFromFile(root.Path() + "/plain.exe"));

    TPeFixture other;
    other.Resources = TPeFixture::ResourcesWithoutVersion;
    other.WriteTo(root.Path() + "/other.exe");
    EXPECT_FALSE(info.LoadFromFile(root.Path() + "/other.exe"));

    std::ofstream(root.Path() + "/readme.txt") << "MZ but not really a program";
    EXPECT_FALSE(info.LoadFromFile(root.Path() + "/readme.txt"));
    EXPECT_FALSE(info.LoadFromFile(ProgramFileName())); // an ELF program
    EXPECT_FALSE(info.LoadFromFile(root.Path() + "/missing.dll"));
    EXPECT_TRUE(info.Empty());
}

TEST(VersionResourceTest, DamagedFilesAreRefusedWithoutReadingOutOfBounds)
{
    TTempWindowsRoot root;
    const std::string whole = SampleFixture(false).Build();
    TFileVersionInfo info;
    // Every truncation of a good file either still parses or is refused.
    for (std::size_t size = 0; size < whole.size(); size += 37) {
        std::ofstream(root.Path() + "/cut.dll", std::ios::binary | std::ios::trunc) << whole.substr(0, size);
        info.LoadFromFile(root.Path() + "/cut.dll");
    }
    // A version block whose lengths lie is read no further than it goes.
    std::string block = SampleFixture(false).VersionBlock();
    for (std::size_t at = 0; at < block.size(); at += 2) {
        std::string bad = block;
        bad[at] = static_cast<char>(0xFF);
        bad[at + 1] = static_cast<char>(0x7F);
        info.LoadFromBlock(bad);
        std::string value;
        info.QueryValue("\\StringFileInfo\\040704E4\\CompanyName", value);
    }
    EXPECT_TRUE(info.LoadFromBlock(block));
    EXPECT_FALSE(info.LoadFromBlock(block.substr(0, 4)));
}

} // namespace
} // namespace orvex
