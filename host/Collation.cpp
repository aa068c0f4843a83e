// The fixed "ANSI" collation and case mapping of Windows-1252.
//
// Every byte has a primary weight (its place in the alphabet, the same for the
// upper- and lower-case form of a letter) and a case weight (0 lower case or
// caseless, 1 upper case). Strings compare by their primary weights first,
// then by their case weights, then by their bytes: a total order that does not
// depend on the process's locale. The primary order is
//   control and undefined bytes (in byte order),
//   space and punctuation, each typographic variant beside its ASCII form,
//   other symbols,
//   digits (superscripts beside their digit),
//   letters a to z, each accented letter right after its base letter,
//   and the micro sign last.

#include "host/SysUtils.h"

#include <array>
#include <cstring>

namespace orvex {

namespace {

// Upper-case partner of a Windows-1252 letter; the byte itself otherwise.
constexpr unsigned char UpperOf(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) // à..þ except ÷
        return static_cast<unsigned char>(c - 32);
    switch (c) {
    case 0x9A: return 0x8A; // š Š
    case 0x9C: return 0x8C; // œ Œ
    case 0x9E: return 0x8E; // ž Ž
    case 0xFF: return 0x9F; // ÿ Ÿ
    default: return c;      // ß and µ have no upper case here
    }
}

constexpr unsigned char LowerOf(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) // À..Þ except ×
        return static_cast<unsigned char>(c + 32);
    switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
    }
}

// The primary order, listing each lower-case or caseless byte once; an
// upper-case letter takes the place of its lower-case form.
constexpr unsigned char PrimaryOrder[] = {
    // control characters and the bytes the code page leaves undefined
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D,
    // space, no-break space, punctuation
    ' ', 0xA0,
    '!', 0xA1,                         // ¡
    '"', 0x93, 0x94, 0x84, 0xAB, 0xBB, // “ ” „ « »
    '#',
    '$', 0x80, 0xA2, 0xA3, 0xA4, 0xA5, // € ¢ £ ¤ ¥
    '%', 0x89,                         // ‰
    '&',
    '\'', 0x91, 0x92, 0x82, 0x8B, 0x9B, 0xB4, // ‘ ’ ‚ ‹ › ´
    '(', ')',
    '*', 0xD7,       // ×
    '+', 0xB1,       // ±
    ',',
    '-', 0xAD, 0x96, 0x97, // soft hyphen – —
    '.', 0x85, 0xB7,       // … ·
    '/', 0xF7,             // ÷
    ':', ';', '<', '=', '>',
    '?', 0xBF, // ¿
    '@', '[', '\\', ']',
    '^', 0x88, // ˆ
    '_', '`', '{',
    '|', 0xA6, // ¦
    '}',
    '~', 0x98, // ˜
    // other symbols
    0x86, 0x87, 0x95, 0x99, 0xA7, 0xA8, 0xA9, 0xAC, 0xAE, 0xAF, 0xB0, 0xB6, 0xB8, 0xBC, 0xBD, 0xBE,
    // digits
    '0', '1', 0xB9, '2', 0xB2, '3', 0xB3, '4', '5', '6', '7', '8', '9',
    // letters
    'a', 0xAA, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, // ª à á â ã ä å æ
    'b',
    'c', 0xE7,       // ç
    'd', 0xF0,       // ð
    'e', 0xE8, 0xE9, 0xEA, 0xEB, // è é ê ë
    'f', 0x83,       // ƒ
    'g', 'h',
    'i', 0xEC, 0xED, 0xEE, 0xEF, // ì í î ï
    'j', 'k', 'l', 'm',
    'n', 0xF1,       // ñ
    'o', 0xBA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF8, 0x9C, // º ò ó ô õ ö ø œ
    'p', 'q', 'r',
    's', 0x9A, 0xDF, // š ß
    't', 0xFE,       // þ
    'u', 0xF9, 0xFA, 0xFB, 0xFC, // ù ú û ü
    'v', 'w', 'x',
    'y', 0xFD, 0xFF, // ý ÿ
    'z', 0x9E,       // ž
    0xB5,            // µ
};

struct TCollationTables {
    std::array<unsigned char, 256> Upper{};
    std::array<unsigned char, 256> Lower{};
    std::array<unsigned char, 256> Primary{};
    std::array<unsigned char, 256> CaseWeight{};
    bool Complete = true; // every byte placed exactly once
};

constexpr TCollationTables BuildTables()
{
    TCollationTables t;
    std::array<bool, 256> placed{};
    for (int c = 0; c < 256; ++c) {
        t.Upper[c] = UpperOf(static_cast<unsigned char>(c));
        t.Lower[c] = LowerOf(static_cast<unsigned char>(c));
    }
    int weight = 0;
    for (unsigned char c : PrimaryOrder) {
        if (placed[c] || t.Lower[c] != c)
            t.Complete = false;
        placed[c] = true;
        t.Primary[c] = static_cast<unsigned char>(weight++);
    }
    for (int c = 0; c < 256; ++c) {
        if (t.Lower[c] != c) { // an upper-case letter
            if (placed[c] || t.Upper[t.Lower[c]] != c)
                t.Complete = false;
            placed[c] = true;
            t.Primary[c] = t.Primary[t.Lower[c]];
            t.CaseWeight[c] = 1;
        }
    }
    for (bool p : placed)
        if (!p)
            t.Complete = false;
    return t;
}

constexpr TCollationTables Tables = BuildTables();
static_assert(Tables.Complete, "the collation must place every byte exactly once");

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

int CollateBytes(const unsigned char* a, std::size_t na, const unsigned char* b, std::size_t nb,
                 bool withCase)
{
    const std::size_t n = na < nb ? na : nb;
    for (std::size_t i = 0; i < n; ++i)
        if (Tables.Primary[a[i]] != Tables.Primary[b[i]])
            return Sign(Tables.Primary[a[i]] - Tables.Primary[b[i]]);
    if (na != nb)
        return na < nb ? -1 : 1;
    if (!withCase)
        return 0;
    for (std::size_t i = 0; i < n; ++i)
        if (Tables.CaseWeight[a[i]] != Tables.CaseWeight[b[i]])
            return Sign(Tables.CaseWeight[a[i]] - Tables.CaseWeight[b[i]]);
    // Primary and case weight together name the byte; kept as the last word.
    return n == 0 ? 0 : Sign(std::memcmp(a, b, n));
}

int Collate(const std::string& a, const std::string& b, bool withCase)
{
    return CollateBytes(reinterpret_cast<const unsigned char*>(a.data()), a.size(),
                        reinterpret_cast<const unsigned char*>(b.data()), b.size(), withCase);
}

int CollateZ(const char* a, const char* b, std::size_t maxLen, bool withCase)
{
    const std::size_t na = a ? strnlen(a, maxLen) : 0;
    const std::size_t nb = b ? strnlen(b, maxLen) : 0;
    return CollateBytes(reinterpret_cast<const unsigned char*>(a), na,
                        reinterpret_cast<const unsigned char*>(b), nb, withCase);
}

std::string MapBytes(const std::string& s, const std::array<unsigned char, 256>& table)
{
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(table[static_cast<unsigned char>(c)]);
    return r;
}

} // namespace

char AnsiUpperChar(char c)
{
    return static_cast<char>(Tables.Upper[static_cast<unsigned char>(c)]);
}

char AnsiLowerChar(char c)
{
    return static_cast<char>(Tables.Lower[static_cast<unsigned char>(c)]);
}

std::string AnsiUpperCase(const std::string& s)
{
    return MapBytes(s, Tables.Upper);
}

std::string AnsiLowerCase(const std::string& s)
{
    return MapBytes(s, Tables.Lower);
}

int AnsiCompareStr(const std::string& a, const std::string& b)
{
    return Collate(a, b, true);
}

int AnsiCompareText(const std::string& a, const std::string& b)
{
    return Collate(a, b, false);
}

bool AnsiSameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && Collate(a, b, false) == 0;
}

bool AnsiSameStr(const std::string& a, const std::string& b)
{
    return a == b;
}

int AnsiStrLComp(const char* a, const char* b, std::size_t maxLen)
{
    return CollateZ(a, b, maxLen, true);
}

int AnsiStrLIComp(const char* a, const char* b, std::size_t maxLen)
{
    return CollateZ(a, b, maxLen, false);
}

} // namespace orvex
