#include "platform/CodePage.h"


namespace orvex {

namespace {

constexpr char16_t High1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

constexpr char16_t ToUnicode(unsigned char b)
{
    return b >= 0x80 && b <= 0x9F ? High1252[b - 0x80] : static_cast<char16_t>(b);
}

constexpr char Replacement = '?';

// The byte of a code point, or '?' when the code page lacks it.
char FromUnicode(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    if (cp <= 0xFFFF)
        for (int i = 0; i < 32; ++i)
            if (High1252[i] == cp)
                return static_cast<char>(0x80 + i);
    return Replacement;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 character at s[i], advancing i. A malformed sequence
// (bad lead byte, missing or surplus continuation, overlong form, surrogate,
// beyond U+10FFFF) yields U+FFFD and consumes its longest valid prefix, at
// least one byte.
char32_t NextUtf8(std::string_view s, std::size_t& i)
{
    const unsigned char lead = static_cast<unsigned char>(s[i++]);
    if (lead < 0x80)
        return lead;
    int extra;
    char32_t cp;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size())
            return 0xFFFD;
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) != 0x80)
            return 0xFFFD;
        const char32_t next = (cp << 6) | (c & 0x3F);
        // Reject overlong forms, surrogates and values past U+10FFFF as soon as
        // the second byte shows them, so that the bad prefix stays short.
        if (k == 0) {
            const char32_t top = next << (6 * (extra - 1));
            if (top < min || (top >= 0xD800 && top <= 0xDFFF) || top > 0x10FFFF)
                return 0xFFFD;
        }
        cp = next;
        ++i;
    }
    return cp;
}

} // namespace

std::u16string Win1252ToUtf16(std::string_view s)
{
    std::u16string r;
    r.reserve(s.size());
    for (char c : s)
        r += ToUnicode(static_cast<unsigned char>(c));
    return r;
}

std::string Utf16ToWin1252(std::u16string_view s)
{
    std::string r;
    r.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            ++i; // a surrogate pair is one character, never in the code page
        r += FromUnicode(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
    return r;
}

std::string Win1252ToUtf8(std::string_view s)
{
    std::string r;
    r.reserve(s.size() + s.size() / 4);
    for (char c : s)
        AppendUtf8(r, ToUnicode(static_cast<unsigned char>(c)));
    return r;
}

bool IsValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t start = i;
        if (NextUtf8(s, i) == 0xFFFD && !(i - start == 3 && s.compare(start, 3, "\xEF\xBF\xBD") == 0))
            return false;
    }
    return true;
}

std::string Utf8ToWin1252(std::string_view s)
{
    std::string r;
    r.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size())
        r += FromUnicode(NextUtf8(s, i));
    return r;
}

} // namespace orvex
