// Format: the framework's placeholder language over an "array of const".

#include "host/DateUtils.h"
#include "host/FloatText.h"
#include "host/SysUtils.h"

#include <climits>
#include <cstdint>

namespace orvex {

namespace {

constexpr int DefaultFloatPrecision = 15; // significant digits of %e and %g
constexpr int DefaultFixedDecimals = 2;   // decimals of %f and %n
constexpr int ExponentDigits = 3;         // minimum exponent digits of %e and %g

[[noreturn]] void FormatError(std::string_view fmt)
{
    throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

std::string UnsignedToText(unsigned long long v, unsigned base)
{
    char buf[24];
    char* p = buf + sizeof buf;
    do {
        const unsigned digit = static_cast<unsigned>(v % base);
        *--p = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
        v /= base;
    } while (v != 0);
    return std::string(p, buf + sizeof buf);
}

// An integer argument seen as unsigned, as %u and %x see it: a negative
// 32-bit value as its 32-bit two's complement, wider ones as 64-bit.
unsigned long long AsUnsignedBits(const TVarRec& arg)
{
    if (arg.VType() == TVarRec::Kind::Unsigned)
        return arg.AsUInt();
    const long long v = arg.AsInt();
    if (v < 0 && v >= INT32_MIN)
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
    return static_cast<unsigned long long>(v);
}

bool IsInteger(const TVarRec& arg)
{
    return arg.VType() == TVarRec::Kind::Integer || arg.VType() == TVarRec::Kind::Unsigned;
}

// Left-pads digits with zeros up to the precision (the minimum digit count).
void PadDigits(std::string& digits, int prec)
{
    if (prec > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(prec) - digits.size(), '0');
}

// A money amount placed per the currency settings.
std::string MoneyText(double value, int decimals)
{
    if (std::string special = floattext::Special(value); !special.empty())
        return special;
    const TFormatSettings& fs = FormatSettings();
    const bool negative = value < 0;
    const std::string amount = floattext::Fixed(negative ? -value : value, decimals,
                                                fs.DecimalSeparator, fs.ThousandSeparator);
    const std::string& c = fs.CurrencyString;
    // An amount that rounds to zero is shown as a positive one.
    if (!negative || amount.find_first_of("123456789") == std::string::npos) {
        switch (fs.CurrencyFormat) {
        case 1: return amount + c;
        case 2: return c + ' ' + amount;
        case 3: return amount + ' ' + c;
        default: return c + amount;
        }
    }
    switch (fs.NegCurrFormat) {
    case 1: return '-' + c + amount;
    case 2: return c + '-' + amount;
    case 3: return c + amount + '-';
    case 4: return '(' + amount + c + ')';
    case 5: return '-' + amount + c;
    case 6: return amount + '-' + c;
    case 7: return amount + c + '-';
    case 8: return '-' + amount + ' ' + c;
    case 9: return '-' + c + ' ' + amount;
    case 10: return amount + ' ' + c + '-';
    case 11: return c + ' ' + amount + '-';
    case 12: return c + ' ' + '-' + amount;
    case 13: return amount + '-' + ' ' + c;
    case 14: return '(' + c + ' ' + amount + ')';
    case 15: return '(' + amount + ' ' + c + ')';
    default: return '(' + c + amount + ')';
    }
}

class TFormatter {
public:
    TFormatter(std::string_view fmt, std::initializer_list<TVarRec> args)
        : FFmt(fmt), FArgs(args.begin()), FArgCount(args.size())
    {
    }

    std::string Run()
    {
        std::string out;
        out.reserve(FFmt.size() + 16);
        while (FPos < FFmt.size()) {
            const std::size_t pct = FFmt.find('%', FPos);
            if (pct == std::string_view::npos) {
                out.append(FFmt, FPos);
                break;
            }
            out.append(FFmt, FPos, pct - FPos);
            FPos = pct + 1;
            Placeholder(out);
        }
        return out;
    }

private:
    std::string_view FFmt;
    const TVarRec* FArgs;
    std::size_t FArgCount;
    std::size_t FPos = 0;
    std::size_t FNextArg = 0;

    const TVarRec& NextArg()
    {
        if (FNextArg >= FArgCount)
            FormatError(FFmt);
        return FArgs[FNextArg++];
    }

    // A number written in the format, or "*" taking it from the arguments.
    bool ReadNumber(int& value)
    {
        if (FPos < FFmt.size() && FFmt[FPos] == '*') {
            ++FPos;
            const TVarRec& arg = NextArg();
            if (arg.VType() != TVarRec::Kind::Integer)
                FormatError(FFmt);
            const long long v = arg.AsInt();
            value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
            return true;
        }
        if (FPos >= FFmt.size() || FFmt[FPos] < '0' || FFmt[FPos] > '9')
            return false;
        long long v = 0;
        while (FPos < FFmt.size() && FFmt[FPos] >= '0' && FFmt[FPos] <= '9') {
            v = v * 10 + (FFmt[FPos] - '0');
            if (v > INT_MAX)
                FormatError(FFmt);
            ++FPos;
        }
        value = static_cast<int>(v);
        return true;
    }

    // "%" [index ":"] ["-"] [width] ["." prec] type, the "%" already read.
    void Placeholder(std::string& out)
    {
        if (FPos < FFmt.size() && FFmt[FPos] == '%') {
            out += '%';
            ++FPos;
            return;
        }
        int first = 0;
        bool haveFirst = ReadNumber(first);
        if (haveFirst && FPos < FFmt.size() && FFmt[FPos] == ':') {
            if (first < 0)
                FormatError(FFmt);
            FNextArg = static_cast<std::size_t>(first);
            ++FPos;
            haveFirst = false;
        }
        bool left = false;
        int width = 0;
        if (haveFirst) {
            width = first;
        } else {
            if (FPos < FFmt.size() && FFmt[FPos] == '-') {
                left = true;
                ++FPos;
            }
            ReadNumber(width);
        }
        if (width < 0) { // a negative width from "*" justifies left
            left = true;
            width = width == INT_MIN ? INT_MAX : -width;
        }
        int prec = -1;
        if (FPos < FFmt.size() && FFmt[FPos] == '.') {
            ++FPos;
            if (!ReadNumber(prec))
                prec = 0;
        }
        if (FPos >= FFmt.size())
            FormatError(FFmt);
        const char type = static_cast<char>(FFmt[FPos] | 0x20); // types ignore case
        ++FPos;
        std::string text = Convert(type, prec, NextArg());
        if (width > static_cast<int>(text.size())) {
            const std::size_t fill = static_cast<std::size_t>(width) - text.size();
            if (left)
                text.append(fill, ' ');
            else
                text.insert(0, fill, ' ');
        }
        out += text;
    }

    std::string Convert(char type, int prec, const TVarRec& arg)
    {
        const TFormatSettings& fs = FormatSettings();
        switch (type) {
        case 'd': {
            if (!IsInteger(arg))
                break;
            const bool negative = arg.VType() == TVarRec::Kind::Integer && arg.AsInt() < 0;
            const unsigned long long magnitude =
                arg.VType() == TVarRec::Kind::Unsigned ? arg.AsUInt()
                : negative ? 0ULL - static_cast<unsigned long long>(arg.AsInt())
                           : static_cast<unsigned long long>(arg.AsInt());
            std::string digits = UnsignedToText(magnitude, 10);
            PadDigits(digits, prec);
            return negative ? '-' + digits : digits;
        }
        case 'u':
        case 'x': {
            if (!IsInteger(arg))
                break;
            std::string digits = UnsignedToText(AsUnsignedBits(arg), type == 'u' ? 10 : 16);
            PadDigits(digits, prec);
            return digits;
        }
        case 'e':
        case 'f':
        case 'g':
        case 'n':
        case 'm': {
            if (arg.VType() != TVarRec::Kind::Float)
                break;
            const double v = arg.AsFloat();
            switch (type) {
            case 'e':
                return floattext::Exponent(v, prec < 0 ? DefaultFloatPrecision : prec, ExponentDigits,
                                           fs.DecimalSeparator);
            case 'g':
                return floattext::General(v, prec < 0 ? DefaultFloatPrecision : prec, ExponentDigits,
                                          fs.DecimalSeparator);
            case 'f':
                return floattext::Fixed(v, prec < 0 ? DefaultFixedDecimals : prec, fs.DecimalSeparator,
                                        '\0');
            case 'n':
                return floattext::Fixed(v, prec < 0 ? DefaultFixedDecimals : prec, fs.DecimalSeparator,
                                        fs.ThousandSeparator);
            default:
                return MoneyText(v, prec < 0 ? fs.CurrencyDecimals : prec);
            }
        }
        case 's': {
            std::string text;
            if (arg.VType() == TVarRec::Kind::String)
                text = arg.AsString();
            else if (arg.VType() == TVarRec::Kind::Char)
                text = std::string(1, arg.AsChar());
            else
                break;
            if (prec >= 0 && static_cast<std::size_t>(prec) < text.size())
                text.resize(static_cast<std::size_t>(prec));
            return text;
        }
        case 'c':
            if (arg.VType() == TVarRec::Kind::Char)
                return std::string(1, arg.AsChar());
            if (arg.VType() == TVarRec::Kind::Integer && arg.AsInt() >= 0 && arg.AsInt() <= 255)
                return std::string(1, static_cast<char>(arg.AsInt()));
            break;
        case 'p': {
            if (arg.VType() != TVarRec::Kind::Pointer)
                break;
            std::string digits =
                UnsignedToText(reinterpret_cast<std::uintptr_t>(arg.AsPointer()), 16);
            PadDigits(digits, static_cast<int>(sizeof(void*) * 2));
            return digits;
        }
        default:
            break;
        }
        FormatError(FFmt);
    }
};

} // namespace

std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args)
{
    return TFormatter(fmt, args).Run();
}

} // namespace orvex
