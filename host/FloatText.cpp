#include "host/FloatText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace orvex::floattext {

namespace {

// The most significant digits a double carries reliably; text shows no more.
constexpr int MaxSignificant = 15;
// A double's digits beyond this are noise of the binary value.
constexpr int MaxDigits = 17;
// Fixed notation gives way to the general form beyond this many integer digits.
constexpr int MaxFixedIntegerDigits = 18;

// A finite value as decimal digits: value = 0.D1D2D3... * 10^Exponent.
// Digits carry no trailing zeros; zero has no digits.
struct TDecimal {
    bool Negative = false;
    int Exponent = 0;
    std::string Digits;
};

// Correctly rounded to `significant` digits (1..MaxDigits).
TDecimal ToDecimal(double value, int significant)
{
    TDecimal d;
    d.Negative = std::signbit(value);
    if (value == 0.0)
        return d;
    significant = std::clamp(significant, 1, MaxDigits);
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::scientific, significant - 1);
    // "d.dddde+xx": the mantissa digits, then the exponent.
    const char* p = buf;
    for (; p != res.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            d.Digits += *p;
    int exp10 = 0;
    if (p != res.ptr) {
        ++p;
        if (*p == '+')
            ++p;
        std::from_chars(p, res.ptr, exp10);
    }
    d.Exponent = exp10 + 1;
    while (!d.Digits.empty() && d.Digits.back() == '0')
        d.Digits.pop_back();
    return d;
}

// Rounds half away from zero so that no digit remains beyond `decimals`
// places after the point.
void RoundToDecimals(TDecimal& d, int decimals)
{
    const long long keep = static_cast<long long>(d.Exponent) + decimals;
    if (keep >= static_cast<long long>(d.Digits.size()))
        return;
    if (keep < 0) {
        d.Digits.clear();
        return;
    }
    const bool up = d.Digits[static_cast<std::size_t>(keep)] >= '5';
    d.Digits.resize(static_cast<std::size_t>(keep));
    if (up) {
        int i = static_cast<int>(keep) - 1;
        for (; i >= 0; --i) {
            if (d.Digits[static_cast<std::size_t>(i)] != '9') {
                ++d.Digits[static_cast<std::size_t>(i)];
                break;
            }
            d.Digits.pop_back();
        }
        if (i < 0) { // 0.999 -> 1.00: a carry out of the first digit
            d.Digits = "1";
            ++d.Exponent;
        }
    }
    while (!d.Digits.empty() && d.Digits.back() == '0')
        d.Digits.pop_back();
}

char DigitAt(const TDecimal& d, long long i)
{
    return i >= 0 && i < static_cast<long long>(d.Digits.size()) ? d.Digits[static_cast<std::size_t>(i)]
                                                                  : '0';
}

void AppendExponent(std::string& out, int exponent, bool forceSign, int expDigits)
{
    out += 'E';
    if (exponent < 0)
        out += '-';
    else if (forceSign)
        out += '+';
    std::string digits = std::to_string(std::abs(exponent));
    if (static_cast<int>(digits.size()) < expDigits)
        out.append(static_cast<std::size_t>(expDigits) - digits.size(), '0');
    out += digits;
}

} // namespace

std::string Special(double value)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    return {};
}

std::string General(double value, int precision, int expDigits, char decimalSep)
{
    if (!std::isfinite(value))
        return Special(value);
    precision = std::clamp(precision, 1, MaxDigits);
    const TDecimal d = ToDecimal(value, precision);
    if (d.Digits.empty())
        return "0";
    std::string out;
    if (d.Negative)
        out += '-';
    const int n = static_cast<int>(d.Digits.size());
    if (d.Exponent > precision || d.Exponent < -3) {
        out += d.Digits[0];
        if (n > 1) {
            out += decimalSep;
            out.append(d.Digits, 1);
        }
        AppendExponent(out, d.Exponent - 1, false, expDigits);
        return out;
    }
    if (d.Exponent <= 0) {
        out += '0';
        out += decimalSep;
        out.append(static_cast<std::size_t>(-d.Exponent), '0');
        out += d.Digits;
        return out;
    }
    for (int i = 0; i < d.Exponent; ++i)
        out += DigitAt(d, i);
    if (n > d.Exponent) {
        out += decimalSep;
        out.append(d.Digits, static_cast<std::size_t>(d.Exponent));
    }
    return out;
}

std::string Exponent(double value, int precision, int expDigits, char decimalSep)
{
    if (!std::isfinite(value))
        return Special(value);
    precision = std::clamp(precision, 1, MaxDigits + 1);
    const TDecimal d = ToDecimal(value, std::min(precision, MaxDigits));
    std::string out;
    if (d.Negative && !d.Digits.empty())
        out += '-';
    out += DigitAt(d, 0);
    if (precision > 1) {
        out += decimalSep;
        for (int i = 1; i < precision; ++i)
            out += DigitAt(d, i);
    }
    AppendExponent(out, d.Digits.empty() ? 0 : d.Exponent - 1, true, expDigits);
    return out;
}

std::string Fixed(double value, int decimals, char decimalSep, char thousandSep)
{
    if (!std::isfinite(value))
        return Special(value);
    decimals = std::clamp(decimals, 0, MaxFixedIntegerDigits);
    TDecimal d = ToDecimal(value, MaxSignificant);
    if (d.Exponent > MaxFixedIntegerDigits)
        return General(value, MaxSignificant, 0, decimalSep);
    RoundToDecimals(d, decimals);
    std::string out;
    if (d.Negative && !d.Digits.empty()) // a value rounded to zero shows no sign
        out += '-';
    const int intDigits = std::max(d.Exponent, 0);
    if (intDigits == 0)
        out += '0';
    for (int i = 0; i < intDigits; ++i) {
        if (thousandSep != '\0' && i > 0 && (intDigits - i) % 3 == 0)
            out += thousandSep;
        out += DigitAt(d, i);
    }
    if (decimals > 0) {
        out += decimalSep;
        for (int i = 0; i < decimals; ++i)
            out += DigitAt(d, static_cast<long long>(d.Exponent) + i);
    }
    return out;
}

} // namespace orvex::floattext
