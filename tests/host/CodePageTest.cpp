#include "host/SysUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

std::string AllBytes()
{
    std::string s;
    for (int c = 0; c < 256; ++c)
        s += static_cast<char>(c);
    return s;
}

TEST(CodePageTest, EveryByteRoundTripsThroughUtf16AndUtf8)
{
    const std::string bytes = AllBytes();
    const std::u16string wide = Win1252ToUtf16(bytes);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(Utf16ToWin1252(wide), bytes);
    EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(bytes)), bytes);
    // Each byte is its own character: no two share a code point.
    for (int a = 0; a < 256; ++a)
        for (int b = a + 1; b < 256; ++b)
            ASSERT_NE(wide[a], wide[b]) << a << " " << b;
}

TEST(CodePageTest, TheHighControlRangeFollowsTheCodePage)
{
    const struct {
        unsigned char Byte;
        char16_t Unicode;
        const char* Utf8;
    } cases[] = {
        {0x41, u'A', "A"},
        {0x80, 0x20AC, "\xE2\x82\xAC"}, // euro sign
        {0x81, 0x0081, "\xC2\x81"},     // undefined bytes keep their own value
        {0x8D, 0x008D, "\xC2\x8D"},
        {0x8F, 0x008F, "\xC2\x8F"},
        {0x90, 0x0090, "\xC2\x90"},
        {0x9D, 0x009D, "\xC2\x9D"},
        {0x83, 0x0192, "\xC6\x92"},
        {0x8A, 0x0160, "\xC5\xA0"},
        {0x92, 0x2019, "\xE2\x80\x99"},
        {0x99, 0x2122, "\xE2\x84\xA2"},
        {0x9F, 0x0178, "\xC5\xB8"},
        {0xA0, 0x00A0, "\xC2\xA0"},
        {0xE9, 0x00E9, "\xC3\xA9"},
        {0xFF, 0x00FF, "\xC3\xBF"},
    };
    for (const auto& c : cases) {
        const std::string b(1, static_cast<char>(c.Byte));
        EXPECT_EQ(Win1252ToUtf16(b), std::u16string(1, c.Unicode)) << int(c.Byte);
        EXPECT_EQ(Win1252ToUtf8(b), c.Utf8) << int(c.Byte);
        EXPECT_EQ(Utf16ToWin1252(std::u16string(1, c.Unicode)), b) << int(c.Byte);
        EXPECT_EQ(Utf8ToWin1252(c.Utf8), b) << int(c.Byte);
    }
}

TEST(CodePageTest, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    // U+0080 and U+0100 have no byte; U+1F600 is a surrogate pair, one character.
    EXPECT_EQ(Utf16ToWin1252(u"a\u0080b\u0100c\U0001F600d\u20AC"), "a?b?c?d\x80");
    EXPECT_EQ(Utf16ToWin1252(std::u16string{u'x', 0xD800, u'y', 0xDC00}), "x?y?");
    EXPECT_EQ(Utf8ToWin1252("a\xC4\x80" "b\xF0\x9F\x98\x80" "c"), "a?b?c");
}

TEST(CodePageTest, MalformedUtf8BecomesQuestionMarks)
{
    const struct {
        std::string In;
        std::string Out;
    } cases[] = {
        {"\x80", "?"},                 // stray continuation byte
        {"\xC3", "?"},                 // truncated at the end
        {"\xC3" "A", "?A"},            // truncated before another character
        {"\xC0\xAF", "??"},            // overlong '/'
        {"\xE0\x80\xAF", "???"},       // overlong, three bytes
        {"\xED\xA0\x80", "???"},       // an encoded surrogate
        {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
        {"\xE2\x82", "?"},             // truncated euro sign
        {"\xE2\x82\xAC", "\x80"},
        {"\xFF\xFE", "??"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToWin1252(c.In), c.Out) << c.In;
}

} // namespace
} // namespace orvex
