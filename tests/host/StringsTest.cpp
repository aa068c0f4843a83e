#include "host/SysUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

TEST(StringsTest, TrimRemovesControlBytesAndSpacesOnly)
{
    const std::string s = "\t\r\n \x01" "a b\xA0\xE9 \x1F";
    EXPECT_EQ(Trim(s), "a b\xA0\xE9");
    EXPECT_EQ(TrimLeft(s), "a b\xA0\xE9 \x1F");
    EXPECT_EQ(TrimRight(s), "\t\r\n \x01" "a b\xA0\xE9");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft(""), "");
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
}

TEST(StringsTest, AsciiCaseLeavesOtherBytes)
{
    EXPECT_EQ(UpperCase("abz\xE9{}"), "ABZ\xE9{}");
    EXPECT_EQ(LowerCase("ABZ\xC9@["), "abz\xC9@[");
}

TEST(StringsTest, ByteOrderComparisons)
{
    EXPECT_LT(CompareStr("a", "b"), 0);
    EXPECT_LT(CompareStr("B", "a"), 0);
    EXPECT_LT(CompareStr("ab", "abc"), 0);
    EXPECT_LT(CompareStr("z", "\xE9"), 0); // bytes compare unsigned
    EXPECT_EQ(CompareStr("abc", "abc"), 0);
    EXPECT_EQ(CompareText("HeLLo", "hello"), 0);
    EXPECT_GT(CompareText("b", "A"), 0);
    EXPECT_LT(CompareText("a", "_"), 0); // letters fold to upper case first
    EXPECT_NE(CompareText("\xE9", "\xC9"), 0); // ASCII folding only
    EXPECT_TRUE(SameText("Orvex", "ORVEX"));
    EXPECT_FALSE(SameText("Orvex", "Orvex "));
}

TEST(StringsTest, ZeroTerminatedComparisonsStopAtMaxLen)
{
    EXPECT_EQ(StrLComp("abcX", "abcY", 3), 0);
    EXPECT_LT(StrLComp("abcX", "abcY", 4), 0);
    EXPECT_LT(StrLComp("ab", "abc", 10), 0);
    EXPECT_EQ(StrLComp("ab\0x", "ab\0y", 10), 0);
    EXPECT_EQ(StrLComp("x", "y", 0), 0);
    EXPECT_EQ(StrLIComp("ABCx", "abcy", 3), 0);
    EXPECT_GT(StrLIComp("abd", "ABC", 3), 0);
}

TEST(StringsTest, CopyIsOneBasedAndClamped)
{
    const struct {
        long long Index, Count;
        const char* Expected;
    } cases[] = {
        {1, 3, "abc"}, {2, 10, "bc"}, {0, 2, "ab"}, {-5, 1, "a"}, {3, 1, "c"},
        {4, 1, ""},    {2, 0, ""},    {2, -1, ""},  {1, 1LL << 40, "abc"}, {1LL << 40, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Copy("abc", c.Index, c.Count), c.Expected) << c.Index << "," << c.Count;
    EXPECT_EQ(Copy("", 1, 1), "");
}

TEST(StringsTest, PosAndStringOfChar)
{
    EXPECT_EQ(Pos("b", "abcb"), 2);
    EXPECT_EQ(Pos("abc", "abc"), 1);
    EXPECT_EQ(Pos("x", "abc"), 0);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("abcd", "abc"), 0);
    EXPECT_EQ(StringOfChar('-', 3), "---");
    EXPECT_EQ(StringOfChar('-', -1), "");
}

TEST(StringsTest, StringReplaceHonoursItsFlags)
{
    const struct {
        const char* S;
        const char* Old;
        const char* New;
        int Flags;
        const char* Expected;
    } cases[] = {
        {"a-b-c", "-", "+", 0, "a+b-c"},
        {"a-b-c", "-", "+", rfReplaceAll, "a+b+c"},
        {"aXbxc", "x", "", rfReplaceAll, "aXbc"},
        {"aXbxc", "x", "", rfReplaceAll | rfIgnoreCase, "abc"},
        {"aXbxc", "x", "_", rfIgnoreCase, "a_bxc"},
        {"caf\xC9 caf\xE9", "\xE9", "e", rfReplaceAll | rfIgnoreCase, "cafe cafe"},
        {"aaa", "aa", "b", rfReplaceAll, "ba"},
        {"aaa", "a", "aa", rfReplaceAll, "aaaaaa"},
        {"abc", "", "x", rfReplaceAll, "abc"},
        {"", "a", "x", rfReplaceAll, ""},
        {"abc", "abcd", "x", rfReplaceAll, "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StringReplace(c.S, c.Old, c.New, c.Flags), c.Expected) << c.S << " / " << c.Old;
}

TEST(StringsTest, QuotingRoundTrips)
{
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
    EXPECT_EQ(QuotedStr(""), "''");
    EXPECT_EQ(AnsiQuotedStr("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
    const struct {
        const char* S;
        char Quote;
        const char* Expected;
    } cases[] = {
        {"'it''s'", '\'', "it's"},
        {"''", '\'', ""},
        {"'a'b", '\'', "a"},           // text after the closing quote is ignored
        {"abc", '\'', "abc"},          // not quoted: unchanged
        {"'abc", '\'', "'abc"},        // never closed: unchanged
        {"'", '\'', "'"},
        {"", '\'', ""},
        {"\"x\"\"y\"", '"', "x\"y"},
        {"'x'", '"', "'x'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnsiDequotedStr(c.S, c.Quote), c.Expected) << c.S;
    for (const std::string s : {"", "'", "''", "a'b''c", "plain"})
        EXPECT_EQ(AnsiDequotedStr(QuotedStr(s), '\''), s);
}

TEST(StringsTest, FileNameHelpers)
{
    const struct {
        const char* Name;
        const char* Path;
        const char* Dir;
        const char* File;
        const char* Ext;
    } cases[] = {
        {"/data/db/main.vek", "/data/db/", "/data/db", "main.vek", ".vek"},
        {"main.vek", "", "", "main.vek", ".vek"},
        {"/main", "/", "/", "main", ""},
        {"/data.d/file", "/data.d/", "/data.d", "file", ""},
        {"dir/archive.tar.gz", "dir/", "dir", "archive.tar.gz", ".gz"},
        {"dir/", "dir/", "dir", "", ""},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.Name), c.Path) << c.Name;
        EXPECT_EQ(ExtractFileDir(c.Name), c.Dir) << c.Name;
        EXPECT_EQ(ExtractFileName(c.Name), c.File) << c.Name;
        EXPECT_EQ(ExtractFileExt(c.Name), c.Ext) << c.Name;
    }
    EXPECT_EQ(ChangeFileExt("/a/b.vek", ".lck"), "/a/b.lck");
    EXPECT_EQ(ChangeFileExt("/a.d/b", ".lck"), "/a.d/b.lck");
    EXPECT_EQ(ChangeFileExt("b.tar.gz", ""), "b.tar");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/"), "/a");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/a"), "/a");
}

} // namespace
} // namespace orvex
