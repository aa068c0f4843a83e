// Key-compare routines of the B-tree and the result tables, and the LIKE
// matcher of the SQL engine.

#include "storage/vekCommon.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvex {

namespace {

// -1, 0 or 1 by < and >, never by subtraction (which overflows).
template <class T>
int CompareOrdered(T A, T B)
{
    return A < B ? -1 : (A > B ? 1 : 0);
}

std::size_t ShorterLength(Integer Len1, Integer Len2)
{
    return static_cast<std::size_t>(std::max<Integer>(0, std::min(Len1, Len2)));
}

// A key as a zero-terminated string of its own length.
std::string KeyString(const void* Key, Integer Len)
{
    if (Len <= 0)
        return {};
    return std::string(static_cast<const char*>(Key), static_cast<std::size_t>(Len));
}

// A key of 2-byte little-endian characters (Len in bytes) in the code page.
std::string WideKeyString(const void* Key, Integer Len)
{
    const Byte* bytes = static_cast<const Byte*>(Key);
    std::u16string wide(static_cast<std::size_t>(std::max<Integer>(0, Len) / 2), u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return Utf16ToWin1252(wide);
}

} // namespace

int CompareReals(double A, double B)
{
    // One total order, so that an index holding NaN keys stays sorted and
    // every key in it can be found: a NaN sorts after every number
    // (infinity included) and equals every other NaN, whatever its sign and
    // payload bits.
    const bool nanA = std::isnan(A);
    const bool nanB = std::isnan(B);
    if (nanA || nanB)
        return static_cast<int>(nanA) - static_cast<int>(nanB);
    return CompareOrdered(A, B);
}

int AscendingListSort(void* Item1, void* Item2)
{
    return CompareOrdered(reinterpret_cast<std::uintptr_t>(Item1), reinterpret_cast<std::uintptr_t>(Item2));
}

int DBASCIICompareStrings(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                          bool CaseInsensitive, bool Partial)
{
    const char* k1 = static_cast<const char*>(Key1);
    const char* k2 = static_cast<const char*>(Key2);
    const std::size_t len = ShorterLength(Len1, Len2);
    int result = CaseInsensitive ? StrLIComp(k1, k2, len) : StrLComp(k1, k2, len);
    if (result != 0 || Partial)
        return result;
    return CompareOrdered(Len1, Len2);
}

int DBANSICompareStrings(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                         bool CaseInsensitive, bool Partial)
{
    // Each key as its own zero-terminated copy; without Partial one more
    // character is compared, so the terminating zero of the shorter key
    // takes part.
    const std::string k1 = KeyString(Key1, Len1);
    const std::string k2 = KeyString(Key2, Len2);
    const std::size_t len = ShorterLength(Len1, Len2) + (Partial ? 0 : 1);
    int result = CaseInsensitive ? AnsiStrLIComp(k1.c_str(), k2.c_str(), len)
                                 : AnsiStrLComp(k1.c_str(), k2.c_str(), len);
    if (result != 0 || Partial)
        return result;
    return CompareOrdered(Len1, Len2);
}

int DBCompareWideStrings(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                         bool CaseInsensitive, bool Partial)
{
    if (Partial) {
        Len1 = std::min(Len1, Len2);
        Len2 = Len1;
    }
    const std::string s1 = WideKeyString(Key1, Len1);
    const std::string s2 = WideKeyString(Key2, Len2);
    return CaseInsensitive ? AnsiCompareText(s1, s2) : AnsiCompareStr(s1, s2);
}

bool MatchPatternedBytes(const char* Value, std::size_t Length, const char* Pattern)
{
    // The matcher walks the value once, returning to the character after the
    // latest "%" when a literal fails: "%" matches any run (also empty), "_"
    // any one character, every other character itself.
    const char* s = Value;
    const char* const End = Value + Length;
    const char* p = Pattern;
    const char* afterRun = nullptr; // pattern position after the latest "%"
    const char* runEnd = nullptr;   // value position that "%" has absorbed up to
    while (s < End && *s) {
        if (*p == '%') {
            afterRun = ++p;
            runEnd = s;
        } else if (*p == '_' || (*p && *p == *s)) {
            ++s;
            ++p;
        } else if (afterRun) {
            p = afterRun;
            s = ++runEnd;
        } else {
            return false;
        }
    }
    // The value is used up: what remains of the pattern may only be runs.
    while (*p == '%')
        ++p;
    return *p == 0;
}

bool MatchPatternedStrings(const std::string& Value, const std::string& Pattern, char /*AnyRun*/,
                           char /*SingleChar*/)
{
    // Both are taken as zero-terminated strings.
    return MatchPatternedBytes(Value.c_str(), Value.size(), Pattern.c_str());
}

} // namespace orvex
