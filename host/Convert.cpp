// Conversion between numbers and text: integers, hexadecimal, floats, Booleans.

#include "host/DateUtils.h"
#include "host/FloatText.h"
#include "host/SysUtils.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace orvex {

namespace {

// Shortest text of a double with the framework's 15 significant digits.
constexpr int FloatToStrDigits = 15;

[[noreturn]] void InvalidInteger(const std::string& s)
{
    throw EConvertError("'" + s + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(const std::string& s)
{
    throw EConvertError("'" + s + "' is not a valid floating point value");
}

// Integer text as the framework reads it: leading blanks, a sign, decimal
// digits or hexadecimal digits after "$" or "0x"; nothing after the digits.
// Decimal values must lie in [min, max]; hexadecimal ones may use every bit of
// a `bits`-wide value and wrap into the negative range.
bool ParseInteger(const std::string& s, long long min, long long max, int bits, long long& result)
{
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= s.size())
        return false;
    const unsigned long long limit =
        hex ? (bits >= 64 ? ~0ULL : (1ULL << bits) - 1)
            : (negative ? 0ULL - static_cast<unsigned long long>(min) : static_cast<unsigned long long>(max));
    const unsigned base = hex ? 16 : 10;
    unsigned long long v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (v > (limit - digit) / base)
            return false;
        v = v * base + digit;
    }
    if (hex && bits < 64 && v > static_cast<unsigned long long>(max)) // wraps, as a register would
        v -= 1ULL << bits;
    const long long signedValue = static_cast<long long>(v);
    result = negative ? static_cast<long long>(0ULL - v) : signedValue;
    return true;
}

} // namespace

std::string IntToStr(long long value)
{
    return std::to_string(value);
}

std::string IntToHex(long long value, int digits)
{
    // A negative 32-bit value shows its 32-bit two's complement, as the
    // framework's Integer overload does; wider values their 64 bits.
    unsigned long long bitsValue =
        value < 0 && value >= INT32_MIN ? static_cast<std::uint32_t>(static_cast<std::int32_t>(value))
                                        : static_cast<unsigned long long>(value);
    char buf[17];
    char* p = buf + sizeof buf;
    do {
        const unsigned d = static_cast<unsigned>(bitsValue & 15);
        *--p = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
        bitsValue >>= 4;
    } while (bitsValue != 0);
    std::string text(p, buf + sizeof buf);
    if (digits > static_cast<int>(text.size()))
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    return text;
}

bool TryStrToInt(const std::string& s, int& value)
{
    long long v;
    if (!ParseInteger(s, INT32_MIN, INT32_MAX, 32, v))
        return false;
    value = static_cast<int>(v);
    return true;
}

int StrToInt(const std::string& s)
{
    int v;
    if (!TryStrToInt(s, v))
        InvalidInteger(s);
    return v;
}

int StrToIntDef(const std::string& s, int def)
{
    int v;
    return TryStrToInt(s, v) ? v : def;
}

long long StrToInt64(const std::string& s)
{
    long long v;
    if (!ParseInteger(s, INT64_MIN, INT64_MAX, 64, v))
        InvalidInteger(s);
    return v;
}

long long StrToInt64Def(const std::string& s, long long def)
{
    long long v;
    return ParseInteger(s, INT64_MIN, INT64_MAX, 64, v) ? v : def;
}

std::string FloatToStr(double value)
{
    return floattext::General(value, FloatToStrDigits, 0, FormatSettings().DecimalSeparator);
}

bool TryStrToFloat(const std::string& s, double& value)
{
    // Blanks around [sign] digits [separator digits] [E [sign] digits], the
    // separator from the format settings; rewritten with '.' for from_chars.
    const char sep = FormatSettings().DecimalSeparator;
    std::size_t i = 0, end = s.size();
    while (i < end && static_cast<unsigned char>(s[i]) <= ' ')
        ++i;
    while (end > i && static_cast<unsigned char>(s[end - 1]) <= ' ')
        --end;
    std::string text;
    bool negative = false;
    if (i < end && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int mantissaDigits = 0;
    int significantIntDigits = 0; // integer digits after leading zeros
    int leadingFractionZeros = 0; // zeros after the point before the first other digit
    bool seenNonZero = false;
    for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i) {
        seenNonZero = seenNonZero || s[i] != '0';
        if (seenNonZero)
            ++significantIntDigits;
        text += s[i];
        ++mantissaDigits;
    }
    if (i < end && s[i] == sep) {
        text += '.';
        for (++i; i < end && s[i] >= '0' && s[i] <= '9'; ++i) {
            if (!seenNonZero && s[i] == '0')
                ++leadingFractionZeros;
            seenNonZero = seenNonZero || s[i] != '0';
            text += s[i];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    long long exponent = 0;
    if (i < end && (s[i] == 'e' || s[i] == 'E')) {
        text += 'e';
        ++i;
        bool negativeExp = false;
        if (i < end && (s[i] == '+' || s[i] == '-')) {
            negativeExp = s[i] == '-';
            text += s[i];
            ++i;
        }
        const std::size_t expStart = i;
        for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i) {
            text += s[i];
            if (exponent < 100000)
                exponent = exponent * 10 + (s[i] - '0');
        }
        if (i == expStart)
            return false;
        if (negativeExp)
            exponent = -exponent;
    }
    if (i != end)
        return false;
    double v = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small to hold is zero; too large is an error.
        const long long magnitude =
            exponent + (significantIntDigits > 0 ? significantIntDigits : -leadingFractionZeros);
        if (magnitude > 0)
            return false;
        v = 0;
    } else if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        return false;
    }
    value = negative ? -v : v;
    return true;
}

double StrToFloat(const std::string& s)
{
    double v;
    if (!TryStrToFloat(s, v))
        InvalidFloat(s);
    return v;
}

std::string BoolToStr(bool value)
{
    return value ? "True" : "False";
}

} // namespace orvex
