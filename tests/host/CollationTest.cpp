#include "host/SysUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

// Every single byte, every pair over a mix of letters, accents, digits and
// punctuation, and seeded random strings of every byte.
std::vector<std::string> SampleStrings()
{
    std::vector<std::string> out;
    for (int c = 0; c < 256; ++c)
        out.emplace_back(1, static_cast<char>(c));
    static const char letters[] = "aAbB\xE9\xC9" "e E0 9-_.\xDF\x9A\x8A\xFF\x9F\x00\x80\xB2";
    const std::string alphabet(letters, sizeof letters - 1);
    for (char a : alphabet)
        for (char b : alphabet)
            out.push_back(std::string{a, b});
    std::mt19937 rng(20240501);
    for (int i = 0; i < 400; ++i) {
        std::string s(rng() % 6, '\0');
        for (char& c : s)
            c = static_cast<char>(rng() % 2 ? alphabet[rng() % alphabet.size()] : rng() % 256);
        out.push_back(s);
    }
    out.emplace_back();
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

TEST(CollationTest, AnsiCompareStrIsATotalOrder)
{
    std::vector<std::string> s = SampleStrings();
    // Antisymmetric, and equal only for equal strings.
    for (const auto& a : s)
        for (const auto& b : s) {
            const int ab = AnsiCompareStr(a, b);
            ASSERT_EQ(Sign(ab), -Sign(AnsiCompareStr(b, a)));
            ASSERT_EQ(ab == 0, a == b);
        }
    // Transitive: once sorted, every earlier string is below every later one.
    std::sort(s.begin(), s.end(), [](const auto& a, const auto& b) { return AnsiCompareStr(a, b) < 0; });
    for (std::size_t i = 0; i < s.size(); ++i)
        for (std::size_t j = i + 1; j < s.size(); ++j)
            ASSERT_LT(AnsiCompareStr(s[i], s[j]), 0) << i << " " << j;
}

TEST(CollationTest, AnsiCompareTextIsTheCaseFreeLevelOfTheSameOrder)
{
    const std::vector<std::string> s = SampleStrings();
    for (const auto& a : s)
        for (const auto& b : s) {
            const int text = AnsiCompareText(a, b);
            ASSERT_EQ(Sign(text), -Sign(AnsiCompareText(b, a)));
            // Equal exactly when the strings are equal but for case ...
            ASSERT_EQ(text == 0, AnsiLowerCase(a) == AnsiLowerCase(b)) << a << " " << b;
            ASSERT_EQ(text == 0, AnsiSameText(a, b));
            // ... and where the case-free level decides, it decides both.
            if (text != 0) {
                ASSERT_EQ(Sign(text), Sign(AnsiCompareStr(a, b)));
            }
        }
}

TEST(CollationTest, FixedOrderOfRepresentativeStrings)
{
    // Control bytes, punctuation and symbols, digits, then letters with
    // accented forms beside their base letter; lower case before upper case
    // only where nothing else differs.
    const std::vector<std::string> expected = {
        "",       "\x01",   " ",      "!",      "\"",     "$",      "\x80",   "'",
        "-",      "\x96",   ".",      "@",      "_",      "~",      "\xA9",   "0",
        "1",      "\xB9",   "2",      "9",      "a",      "A",      "ab",     "aB",
        "Ab",     "AB",     "\xE0",   "\xC0",   "\xE6",   "b",      "c",      "\xE7",
        "e",      "E",      "eb",     "\xE9",   "\xC9",   "\xE9" "a", "\xC9" "a", "f",
        "\x83",   "o",      "\xF6",   "\x9C",   "\x8C",   "s",      "ss",     "\x9A",
        "\x8A",   "\xDF",   "y",      "\xFF",   "\x9F",   "z",      "\x9E",   "\x8E",
        "\xB5",
    };
    std::vector<std::string> shuffled(expected.rbegin(), expected.rend());
    std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
    std::sort(shuffled.begin(), shuffled.end(),
              [](const auto& a, const auto& b) { return AnsiCompareStr(a, b) < 0; });
    EXPECT_EQ(shuffled, expected);
}

TEST(CollationTest, CaseDecidesLastAcrossTheWholeString)
{
    EXPECT_LT(AnsiCompareStr("abc", "ABC"), 0);
    EXPECT_LT(AnsiCompareStr("Aa", "ab"), 0);  // letters first, case later
    EXPECT_LT(AnsiCompareStr("aB", "Ab"), 0);  // first case difference decides
    EXPECT_EQ(AnsiCompareText("abc", "ABC"), 0);
    EXPECT_LT(AnsiCompareText("abc", "ABCD"), 0);
    EXPECT_EQ(AnsiCompareText("\xE9t\xE9", "\xC9T\xC9"), 0);
    EXPECT_NE(AnsiCompareText("\xE9", "e"), 0); // accents are not case
    EXPECT_TRUE(AnsiSameStr("a", "a"));
    EXPECT_FALSE(AnsiSameStr("a", "A"));
}

TEST(CollationTest, ZeroTerminatedFormsCompareAtMostMaxLen)
{
    EXPECT_EQ(AnsiStrLComp("abcX", "abcY", 3), 0);
    EXPECT_LT(AnsiStrLComp("abcX", "abcY", 4), 0);
    EXPECT_LT(AnsiStrLComp("ab", "abc", 3), 0); // the terminating zero sorts first
    EXPECT_EQ(AnsiStrLComp("ab", "ab", 3), 0);
    EXPECT_LT(AnsiStrLComp("a", "A", 1), 0);
    EXPECT_EQ(AnsiStrLIComp("a", "A", 1), 0);
    EXPECT_EQ(AnsiStrLIComp("\xE9" "a", "\xC9" "A\0zz", 10), 0);
    EXPECT_LT(AnsiStrLIComp("a", "b", 5), 0);
    EXPECT_EQ(AnsiStrLIComp("x", "y", 0), 0);
    EXPECT_EQ(AnsiStrLComp(nullptr, "", 5), 0); // a null pointer reads as empty
    EXPECT_LT(AnsiStrLComp(nullptr, "a", 5), 0);
    EXPECT_GT(StrLComp("a", nullptr, 5), 0);
}

TEST(CollationTest, IndependentOfTheProcessLocale)
{
    const std::vector<std::string> s = SampleStrings();
    std::vector<int> before;
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        before.push_back(AnsiCompareStr(s[i], s[i + 1]) * 4 + AnsiCompareText(s[i], s[i + 1]));
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "sv_SE.ISO-8859-1", "tr_TR.UTF-8", "C.UTF-8"})
        if (std::setlocale(LC_ALL, name))
            break;
    std::vector<int> after;
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        after.push_back(AnsiCompareStr(s[i], s[i + 1]) * 4 + AnsiCompareText(s[i], s[i + 1]));
    const std::string upper = AnsiUpperCase("i\xE9");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(before, after);
    EXPECT_EQ(upper, "I\xC9");
}

TEST(CollationTest, CaseMappingOfWindows1252Letters)
{
    const struct {
        unsigned char Lower, Upper;
    } pairs[] = {
        {'a', 'A'}, {'z', 'Z'}, {0xE0, 0xC0}, {0xE9, 0xC9}, {0xF6, 0xD6}, {0xF8, 0xD8},
        {0xFE, 0xDE}, {0xFF, 0x9F}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E},
    };
    for (const auto& p : pairs) {
        EXPECT_EQ(static_cast<unsigned char>(AnsiUpperChar(static_cast<char>(p.Lower))), p.Upper);
        EXPECT_EQ(static_cast<unsigned char>(AnsiLowerChar(static_cast<char>(p.Upper))), p.Lower);
    }
    // No case: the sharp s, the micro sign, the ordinals, × and ÷, digits.
    const unsigned char caseless[] = {0xDF, 0xB5, 0xAA, 0xBA, 0xD7, 0xF7, '1', '@', 0x83};
    for (unsigned char c : caseless) {
        EXPECT_EQ(static_cast<unsigned char>(AnsiUpperChar(static_cast<char>(c))), c) << int(c);
        EXPECT_EQ(static_cast<unsigned char>(AnsiLowerChar(static_cast<char>(c))), c) << int(c);
    }
    // Mapping up and down again returns every byte that has a case.
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const char up = AnsiUpperChar(ch), low = AnsiLowerChar(ch);
        EXPECT_TRUE(up == ch || low == ch) << c;
        if (up != ch) {
            EXPECT_EQ(AnsiLowerChar(up), ch) << c;
        }
        if (low != ch) {
            EXPECT_EQ(AnsiUpperChar(low), ch) << c;
        }
    }
    EXPECT_EQ(AnsiUpperCase("stra\xDF" "e \xE9t\xE9 \x9C"), "STRA\xDF" "E \xC9T\xC9 \x8C");
    EXPECT_EQ(AnsiLowerCase("\xC0 LA \x9F"), "\xE0 la \xFF");
}

} // namespace
} // namespace orvex
