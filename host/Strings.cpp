// Byte-string routines: trimming, ASCII case, byte-order comparison,
// searching and replacing, quoting, and native file names.

#include "host/SysUtils.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

// Byte comparison of two ranges, optionally folding ASCII letters to upper case.
int CompareBytes(const char* a, std::size_t na, const char* b, std::size_t nb, bool foldCase)
{
    const std::size_t n = std::min(na, nb);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (foldCase) {
            ca = static_cast<unsigned char>(AsciiUpper(static_cast<char>(ca)));
            cb = static_cast<unsigned char>(AsciiUpper(static_cast<char>(cb)));
        }
        if (ca != cb)
            return Sign(ca - cb);
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

// The file name's last '/', or npos.
std::size_t LastDelimiter(const std::string& fileName)
{
    return fileName.rfind('/');
}

// The position of the extension's '.', or npos when the name part has none.
std::size_t ExtensionDot(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    const std::size_t slash = LastDelimiter(fileName);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}

} // namespace

std::string Trim(const std::string& s)
{
    std::size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

std::string TrimLeft(const std::string& s)
{
    std::size_t first = 0;
    while (first < s.size() && IsBlank(s[first]))
        ++first;
    return s.substr(first);
}

std::string TrimRight(const std::string& s)
{
    std::size_t last = s.size();
    while (last > 0 && IsBlank(s[last - 1]))
        --last;
    return s.substr(0, last);
}

std::string UpperCase(const std::string& s)
{
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), AsciiUpper);
    return r;
}

std::string LowerCase(const std::string& s)
{
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), AsciiLower);
    return r;
}

int CompareStr(const std::string& a, const std::string& b)
{
    return CompareBytes(a.data(), a.size(), b.data(), b.size(), false);
}

int CompareText(const std::string& a, const std::string& b)
{
    return CompareBytes(a.data(), a.size(), b.data(), b.size(), true);
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CompareText(a, b) == 0;
}

int StrLComp(const char* a, const char* b, std::size_t maxLen)
{
    return CompareBytes(a, a ? strnlen(a, maxLen) : 0, b, b ? strnlen(b, maxLen) : 0, false);
}

int StrLIComp(const char* a, const char* b, std::size_t maxLen)
{
    return CompareBytes(a, a ? strnlen(a, maxLen) : 0, b, b ? strnlen(b, maxLen) : 0, true);
}

std::string StringReplace(const std::string& s, const std::string& oldPattern,
                          const std::string& newPattern, int flags)
{
    if (oldPattern.empty())
        return s;
    // Case-insensitive search runs over upper-cased copies; Windows-1252 case
    // mapping keeps every byte in its place.
    const bool ignoreCase = (flags & rfIgnoreCase) != 0;
    const std::string searchIn = ignoreCase ? AnsiUpperCase(s) : std::string();
    const std::string searchFor = ignoreCase ? AnsiUpperCase(oldPattern) : std::string();
    const std::string& hay = ignoreCase ? searchIn : s;
    const std::string& needle = ignoreCase ? searchFor : oldPattern;
    std::string result;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = hay.find(needle, from);
        if (at == std::string::npos)
            break;
        result.append(s, from, at - from);
        result += newPattern;
        from = at + needle.size();
        if ((flags & rfReplaceAll) == 0)
            break;
    }
    result.append(s, from);
    return result;
}

std::string Copy(const std::string& s, long long index, long long count)
{
    if (index < 1)
        index = 1;
    const long long size = static_cast<long long>(s.size());
    if (index > size || count <= 0)
        return {};
    return s.substr(static_cast<std::size_t>(index - 1),
                    static_cast<std::size_t>(std::min(count, size - index + 1)));
}

int Pos(const std::string& sub, const std::string& s)
{
    if (sub.empty())
        return 0;
    const std::size_t at = s.find(sub);
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string StringOfChar(char c, int count)
{
    return count > 0 ? std::string(static_cast<std::size_t>(count), c) : std::string();
}

std::string QuotedStr(const std::string& s)
{
    return AnsiQuotedStr(s, '\'');
}

std::string AnsiQuotedStr(const std::string& s, char quote)
{
    std::string r;
    r.reserve(s.size() + 2);
    r += quote;
    for (char c : s) {
        if (c == quote)
            r += quote;
        r += c;
    }
    r += quote;
    return r;
}

std::string AnsiDequotedStr(const std::string& s, char quote)
{
    // A quoted text: the opening quote, doubled quotes standing for one, the
    // closing quote; anything after it is ignored. Text that does not open
    // with the quote, or never closes, comes back as it is.
    if (s.empty() || s[0] != quote)
        return s;
    std::string r;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] != quote) {
            r += s[i];
        } else if (i + 1 < s.size() && s[i + 1] == quote) {
            r += quote;
            ++i;
        } else {
            return r;
        }
    }
    return s;
}

std::string ExtractFilePath(const std::string& fileName)
{
    const std::size_t slash = LastDelimiter(fileName);
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string& fileName)
{
    const std::size_t slash = LastDelimiter(fileName);
    if (slash == std::string::npos)
        return {};
    return fileName.substr(0, slash == 0 ? 1 : slash); // the root keeps its '/'
}

std::string ExtractFileName(const std::string& fileName)
{
    const std::size_t slash = LastDelimiter(fileName);
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& fileName)
{
    const std::size_t dot = ExtensionDot(fileName);
    return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& ext)
{
    const std::size_t dot = ExtensionDot(fileName);
    return (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path)
{
    // An empty path stays empty: it names the current directory, and a bare
    // "/" would move every name joined to it into the root.
    return path.empty() || path.back() == '/' ? path : path + '/';
}

std::string ExcludeTrailingPathDelimiter(const std::string& path)
{
    return !path.empty() && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
}

} // namespace orvex
