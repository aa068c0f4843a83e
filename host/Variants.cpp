#include "host/Variants.h"

#include "host/DateUtils.h"

#include <cmath>
#include <limits>

namespace orvex {

const char* const SInvalidVarCast = "Invalid variant type conversion";
const char* const SInvalidVarOp = "Invalid variant operation";
const char* const SVarArrayBounds = "Variant array index out of bounds";
const char* const SDivByZero = "Division by zero";
namespace {
const char* const SVarNotArray = "Variant is not an array";
const char* const SVarArrayCreate = "Error creating variant array";

[[noreturn]] void CastError()
{
    throw EVariantError(SInvalidVarCast);
}

[[noreturn]] void OpError()
{
    throw EVariantError(SInvalidVarOp);
}

// Round half to even, as the framework's Round; raises outside the int64 range.
std::int64_t RoundToInt64(double v)
{
    if (!std::isfinite(v) || v >= 9223372036854775807.0 || v < -9223372036854775808.0)
        CastError();
    return static_cast<std::int64_t>(std::nearbyint(v));
}

// Rounds a currency count (1/10000) to whole units, half to even.
std::int64_t CurrencyToInt64(std::int64_t c)
{
    std::int64_t q = c / 10000, r = c % 10000;
    if (r > 5000 || (r == 5000 && (q & 1) != 0))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1) != 0))
        --q;
    return q;
}

bool ParseBooleanText(const std::string& s, bool& value)
{
    if (SameText(Trim(s), "True")) {
        value = true;
        return true;
    }
    if (SameText(Trim(s), "False")) {
        value = false;
        return true;
    }
    return false;
}

double ParseDouble(const std::string& s)
{
    double d = 0;
    if (!TryStrToFloat(s, d))
        CastError();
    return d;
}

} // namespace

Currency Currency::FromDouble(double v)
{
    const double scaled = v * 10000.0;
    if (!std::isfinite(scaled) || scaled >= 9223372036854775807.0 || scaled < -9223372036854775808.0)
        CastError();
    return Currency{static_cast<std::int64_t>(std::nearbyint(scaled))};
}

// The operand classes the operators work with, and the conversions behind the
// As... accessors. A friend of Variant.
class VariantOps {
public:
    enum class Kind { Empty, Null, Int, Real, Cur, Date, Str, Bool, Array };

    static Kind KindOf(const Variant& v)
    {
        if (v.IsArray())
            return Kind::Array;
        switch (v.FType) {
        case varEmpty: return Kind::Empty;
        case varNull: return Kind::Null;
        case varSmallint:
        case varInteger:
        case varByte: return Kind::Int;
        case varDouble: return Kind::Real;
        case varCurrency: return Kind::Cur;
        case varDate: return Kind::Date;
        case varString: return Kind::Str;
        case varBoolean: return Kind::Bool;
        default: OpError();
        }
    }

    static std::int64_t ToInt64(const Variant& v)
    {
        switch (KindOf(v)) {
        case Kind::Empty: return 0;
        case Kind::Int: return v.FInt;
        case Kind::Real:
        case Kind::Date: return RoundToInt64(v.FDouble);
        case Kind::Cur: return CurrencyToInt64(v.FCurrency);
        case Kind::Bool: return v.FBool ? -1 : 0;
        case Kind::Str: {
            int i = 0;
            if (TryStrToInt(v.FString, i))
                return i;
            return RoundToInt64(ParseDouble(v.FString));
        }
        default: CastError();
        }
    }

    static double ToDouble(const Variant& v)
    {
        switch (KindOf(v)) {
        case Kind::Empty: return 0;
        case Kind::Int: return v.FInt;
        case Kind::Real:
        case Kind::Date: return v.FDouble;
        case Kind::Cur: return static_cast<double>(v.FCurrency) / 10000.0;
        case Kind::Bool: return v.FBool ? -1 : 0;
        case Kind::Str: return ParseDouble(v.FString);
        default: CastError();
        }
    }

    static std::int64_t ToCurrency(const Variant& v)
    {
        switch (KindOf(v)) {
        case Kind::Empty: return 0;
        case Kind::Int: return static_cast<std::int64_t>(v.FInt) * 10000;
        case Kind::Cur: return v.FCurrency;
        case Kind::Bool: return v.FBool ? -10000 : 0;
        default: return Currency::FromDouble(ToDouble(v)).Value;
        }
    }

    static TDateTime ToDate(const Variant& v)
    {
        if (KindOf(v) == Kind::Str) {
            TDateTime d = 0;
            if (!TryStrToDateTime(v.FString, d))
                CastError();
            return d;
        }
        return ToDouble(v);
    }

    static bool ToBool(const Variant& v)
    {
        switch (KindOf(v)) {
        case Kind::Empty: return false;
        case Kind::Int: return v.FInt != 0;
        case Kind::Real:
        case Kind::Date: return v.FDouble != 0;
        case Kind::Cur: return v.FCurrency != 0;
        case Kind::Bool: return v.FBool;
        case Kind::Str: {
            bool b = false;
            if (ParseBooleanText(v.FString, b))
                return b;
            return ParseDouble(v.FString) != 0;
        }
        default: CastError();
        }
    }

    static std::string ToString(const Variant& v)
    {
        switch (KindOf(v)) {
        case Kind::Empty: return {};
        case Kind::Int: return IntToStr(v.FInt);
        case Kind::Real: return FloatToStr(v.FDouble);
        case Kind::Cur: return FloatToStr(static_cast<double>(v.FCurrency) / 10000.0);
        case Kind::Date: return DateTimeToStr(v.FDouble);
        case Kind::Bool: return v.FBool ? "True" : "False";
        case Kind::Str: return v.FString;
        default: CastError();
        }
    }

    // ------------------------------------------------------------ operators

    enum class Op { Add, Sub, Mul, Div, IntDiv, Mod, And, Or, Xor };

    // One numeric operand: Int and Bool in I, Real and Date in D, Cur in C.
    struct Num {
        Kind K;
        std::int64_t I = 0;
        double D = 0;
        std::int64_t C = 0;
        double AsReal() const
        {
            return K == Kind::Int ? static_cast<double>(I)
                                  : K == Kind::Cur ? static_cast<double>(C) / 10000.0 : D;
        }
        std::int64_t AsCur() const
        {
            return K == Kind::Int ? I * 10000 : K == Kind::Cur ? C : Currency::FromDouble(D).Value;
        }
    };

    // The operand as a number; a string takes the class of the other operand
    // (date beside a date, currency beside currency, else a double).
    static Num ToNum(const Variant& v, Kind other)
    {
        Num n{KindOf(v)};
        switch (n.K) {
        case Kind::Empty: n.K = Kind::Int; break;
        case Kind::Int: n.I = v.FInt; break;
        case Kind::Bool: n.K = Kind::Int; n.I = v.FBool ? -1 : 0; break;
        case Kind::Real:
        case Kind::Date: n.D = v.FDouble; break;
        case Kind::Cur: n.C = v.FCurrency; break;
        case Kind::Str:
            if (other == Kind::Date) {
                n.K = Kind::Date;
                n.D = ToDate(v);
            } else if (other == Kind::Cur) {
                n.K = Kind::Cur;
                n.C = ToCurrency(v);
            } else {
                n.K = Kind::Real;
                n.D = ParseDouble(v.FString);
            }
            break;
        default: OpError();
        }
        return n;
    }

    static bool IsBoolLike(Kind k) { return k == Kind::Bool || k == Kind::Empty || k == Kind::Str; }

    static Variant Binary(Op op, const Variant& a, const Variant& b)
    {
        const Kind ka = KindOf(a), kb = KindOf(b);
        if (ka == Kind::Array || kb == Kind::Array)
            OpError();
        if (ka == Kind::Null || kb == Kind::Null)
            return Variant::Null();
        if (ka == Kind::Empty && kb == Kind::Empty)
            return Variant();
        if (op == Op::And || op == Op::Or || op == Op::Xor)
            return Logical(op, a, b, ka, kb);
        if (op == Op::Add && (ka == Kind::Str || ka == Kind::Empty) &&
            (kb == Kind::Str || kb == Kind::Empty))
            return Variant(ToString(a) + ToString(b));
        const Num x = ToNum(a, kb), y = ToNum(b, ka);
        switch (op) {
        case Op::IntDiv:
        case Op::Mod: return IntegerDivision(op, Integral(x), Integral(y));
        case Op::Div: return Divide(x, y);
        default: return Arith(op, x, y);
        }
    }

    static Variant Logical(Op op, const Variant& a, const Variant& b, Kind ka, Kind kb)
    {
        if ((ka == Kind::Bool || kb == Kind::Bool) && IsBoolLike(ka) && IsBoolLike(kb)) {
            const bool x = ToBool(a), y = ToBool(b);
            return Variant(op == Op::And ? (x && y) : op == Op::Or ? (x || y) : (x != y));
        }
        const std::int64_t x = ToInt64(a), y = ToInt64(b);
        return Variant::FromInt64(op == Op::And ? (x & y) : op == Op::Or ? (x | y) : (x ^ y));
    }

    static std::int64_t Integral(const Num& n)
    {
        switch (n.K) {
        case Kind::Int: return n.I;
        case Kind::Cur: return CurrencyToInt64(n.C);
        default: return RoundToInt64(n.D);
        }
    }

    static Variant IntegerDivision(Op op, std::int64_t x, std::int64_t y)
    {
        if (y == 0)
            throw EVariantError(SDivByZero);
        if (y == -1) // avoids the one overflowing quotient
            return op == Op::Mod ? Variant(0) : Variant::FromInt64(-x);
        return Variant::FromInt64(op == Op::Mod ? x % y : x / y);
    }

    static Variant Divide(const Num& x, const Num& y)
    {
        const double divisor = y.AsReal();
        if (divisor == 0)
            throw EVariantError(SDivByZero);
        const double q = x.AsReal() / divisor;
        if (x.K == Kind::Cur || y.K == Kind::Cur)
            return Variant(Currency::FromDouble(q));
        return Variant(q);
    }

    static Variant Arith(Op op, const Num& x, const Num& y)
    {
        auto real = [op](double p, double q) {
            return op == Op::Add ? p + q : op == Op::Sub ? p - q : p * q;
        };
        if (x.K == Kind::Date || y.K == Kind::Date) {
            const double r = real(x.AsReal(), y.AsReal());
            if (op == Op::Mul || (op == Op::Sub && x.K == Kind::Date && y.K == Kind::Date))
                return Variant(r);
            return Variant::FromDate(r);
        }
        if (x.K == Kind::Cur || y.K == Kind::Cur) {
            if (x.K == Kind::Real || y.K == Kind::Real)
                return Variant(Currency::FromDouble(real(x.AsReal(), y.AsReal())));
            const __int128 p = x.AsCur(), q = y.AsCur();
            __int128 r = op == Op::Add ? p + q : op == Op::Sub ? p - q : 0;
            if (op == Op::Mul) {
                // Scaled product: p*q has eight decimals; round back to four.
                const __int128 prod = p * q;
                r = prod / 10000;
                const __int128 rem = prod % 10000;
                if (rem >= 5000 && !(rem == 5000 && (r & 1) == 0))
                    ++r;
                else if (rem <= -5000 && !(rem == -5000 && (r & 1) == 0))
                    --r;
            }
            if (r > std::numeric_limits<std::int64_t>::max() || r < std::numeric_limits<std::int64_t>::min())
                CastError();
            return Variant(Currency{static_cast<std::int64_t>(r)});
        }
        if (x.K == Kind::Real || y.K == Kind::Real)
            return Variant(real(x.AsReal(), y.AsReal()));
        std::int64_t r = 0;
        const bool overflow = op == Op::Add   ? __builtin_add_overflow(x.I, y.I, &r)
                              : op == Op::Sub ? __builtin_sub_overflow(x.I, y.I, &r)
                                              : __builtin_mul_overflow(x.I, y.I, &r);
        if (overflow)
            return Variant(real(static_cast<double>(x.I), static_cast<double>(y.I)));
        return Variant::FromInt64(r);
    }

    static Variant Negate(const Variant& a)
    {
        switch (KindOf(a)) {
        case Kind::Empty:
        case Kind::Null: return a;
        case Kind::Int: return Variant::FromInt64(-static_cast<std::int64_t>(a.FInt));
        case Kind::Bool: return Variant(a.FBool ? 1 : 0);
        case Kind::Real: return Variant(-a.FDouble);
        case Kind::Date: return Variant::FromDate(-a.FDouble);
        case Kind::Cur: return Variant(Currency{-a.FCurrency});
        case Kind::Str: return Variant(-ParseDouble(a.FString));
        default: OpError();
        }
    }

    static Variant Not(const Variant& a)
    {
        switch (KindOf(a)) {
        case Kind::Empty:
        case Kind::Null: return a;
        case Kind::Bool: return Variant(!a.FBool);
        case Kind::Str: {
            bool b = false;
            if (ParseBooleanText(a.FString, b))
                return Variant(!b);
            return Variant::FromInt64(~ToInt64(a));
        }
        case Kind::Array: OpError();
        default: return Variant::FromInt64(~ToInt64(a));
        }
    }

    // <0, 0, >0 by the comparison rules of the header.
    static int Compare(const Variant& a, const Variant& b)
    {
        const Kind ka = KindOf(a), kb = KindOf(b);
        if (ka == Kind::Array || kb == Kind::Array)
            OpError();
        auto rank = [](Kind k) { return k == Kind::Empty ? 0 : k == Kind::Null ? 1 : 2; };
        if (rank(ka) < 2 || rank(kb) < 2)
            return rank(ka) - rank(kb);
        if (ka == Kind::Str && kb == Kind::Str)
            return AnsiCompareStr(a.FString, b.FString);
        Num x{}, y{};
        if (ka == Kind::Str && kb == Kind::Bool) {
            x = Num{Kind::Int, ToBool(a) ? -1 : 0};
            y = ToNum(b, ka);
        } else if (kb == Kind::Str && ka == Kind::Bool) {
            x = ToNum(a, kb);
            y = Num{Kind::Int, ToBool(b) ? -1 : 0};
        } else {
            x = ToNum(a, kb);
            y = ToNum(b, ka);
        }
        if (x.K == Kind::Int && y.K == Kind::Int)
            return x.I < y.I ? -1 : x.I > y.I ? 1 : 0;
        if ((x.K == Kind::Cur || x.K == Kind::Int) && (y.K == Kind::Cur || y.K == Kind::Int)) {
            const std::int64_t p = x.AsCur(), q = y.AsCur();
            return p < q ? -1 : p > q ? 1 : 0;
        }
        const double p = x.AsReal(), q = y.AsReal();
        return p < q ? -1 : p > q ? 1 : 0;
    }

    static Variant EmptyOf(TVarType t)
    {
        switch (t) {
        case varVariant: return Variant();
        case varSmallint: return Variant::FromSmallint(0);
        case varInteger: return Variant(0);
        case varByte: return Variant::FromByte(0);
        case varDouble: return Variant(0.0);
        case varCurrency: return Variant(Currency{});
        case varDate: return Variant::FromDate(0);
        case varBoolean: return Variant(false);
        case varString: return Variant(std::string());
        default: throw EVariantError(SVarArrayCreate);
        }
    }

    static std::size_t Slot(const Variant& v, int index)
    {
        if (!v.IsArray())
            throw EVariantError(SVarNotArray);
        if (index < v.FLowBound || index - v.FLowBound >= static_cast<int>(v.FArray.size()))
            throw EVariantError(SVarArrayBounds);
        return static_cast<std::size_t>(index - v.FLowBound);
    }
};

using Ops = VariantOps;

// ------------------------------------------------------------------ Variant

Variant Variant::Null()
{
    Variant v;
    v.FType = varNull;
    return v;
}

Variant Variant::FromSmallint(std::int16_t x)
{
    Variant v(static_cast<int>(x));
    v.FType = varSmallint;
    return v;
}

Variant Variant::FromByte(std::uint8_t x)
{
    Variant v(static_cast<int>(x));
    v.FType = varByte;
    return v;
}

Variant Variant::FromDate(TDateTime x)
{
    Variant v(x);
    v.FType = varDate;
    return v;
}

Variant Variant::FromInt64(std::int64_t x)
{
    if (x >= std::numeric_limits<std::int32_t>::min() && x <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<int>(x));
    return Variant(static_cast<double>(x));
}

// A value of the asked type is read as it stands (no converted copy).
int Variant::AsInteger() const
{
    if (FType == varInteger)
        return FInt;
    return VarAsType(*this, varInteger).FInt;
}

std::int16_t Variant::AsSmallint() const
{
    return static_cast<std::int16_t>(VarAsType(*this, varSmallint).FInt);
}

std::uint8_t Variant::AsByte() const
{
    return static_cast<std::uint8_t>(VarAsType(*this, varByte).FInt);
}

double Variant::AsDouble() const
{
    if (FType == varDouble)
        return FDouble;
    return VarAsType(*this, varDouble).FDouble;
}

Currency Variant::AsCurrency() const
{
    return Currency{VarAsType(*this, varCurrency).FCurrency};
}

TDateTime Variant::AsDateTime() const
{
    if (FType == varDate)
        return FDouble;
    return VarAsType(*this, varDate).FDouble;
}

bool Variant::AsBoolean() const
{
    if (FType == varBoolean)
        return FBool;
    return VarAsType(*this, varBoolean).FBool;
}

std::string Variant::AsString() const
{
    if (FType == varString)
        return FString;
    return VarAsType(*this, varString).FString;
}

int Variant::ArrayLowBound() const
{
    if (!IsArray())
        throw EVariantError(SVarNotArray);
    return FLowBound;
}

int Variant::ArrayHighBound() const
{
    if (!IsArray())
        throw EVariantError(SVarNotArray);
    return FLowBound + static_cast<int>(FArray.size()) - 1;
}

Variant Variant::GetElement(int index) const
{
    return FArray[Ops::Slot(*this, index)];
}

void Variant::PutElement(int index, const Variant& value)
{
    const std::size_t slot = Ops::Slot(*this, index);
    const TVarType element = FType & varTypeMask;
    FArray[slot] = element == varVariant ? value : VarAsType(value, element);
}

Variant operator+(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Add, a, b); }
Variant operator-(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Sub, a, b); }
Variant operator*(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Mul, a, b); }
Variant operator/(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Div, a, b); }
Variant operator%(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Mod, a, b); }
Variant operator&(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::And, a, b); }
Variant operator|(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Or, a, b); }
Variant operator^(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::Xor, a, b); }
Variant IntDiv(const Variant& a, const Variant& b) { return Ops::Binary(Ops::Op::IntDiv, a, b); }
Variant operator-(const Variant& a) { return Ops::Negate(a); }
Variant operator!(const Variant& a) { return Ops::Not(a); }
bool operator==(const Variant& a, const Variant& b) { return Ops::Compare(a, b) == 0; }
bool operator!=(const Variant& a, const Variant& b) { return Ops::Compare(a, b) != 0; }
bool operator<(const Variant& a, const Variant& b) { return Ops::Compare(a, b) < 0; }
bool operator>(const Variant& a, const Variant& b) { return Ops::Compare(a, b) > 0; }
bool operator<=(const Variant& a, const Variant& b) { return Ops::Compare(a, b) <= 0; }
bool operator>=(const Variant& a, const Variant& b) { return Ops::Compare(a, b) >= 0; }

// --------------------------------------------------------------- routines

Variant VarAsType(const Variant& v, TVarType varType)
{
    if (v.IsArray() || (varType & varArray) != 0) {
        if (v.FType == varType)
            return v;
        CastError();
    }
    if (varType == v.FType || varType == varVariant)
        return v;
    if (varType == varEmpty)
        return Variant();
    if (varType == varNull)
        return Variant::Null();
    if (v.IsNull())
        CastError();
    switch (varType) {
    case varSmallint: {
        const std::int64_t x = Ops::ToInt64(v);
        if (x < -32768 || x > 32767)
            CastError();
        return Variant::FromSmallint(static_cast<std::int16_t>(x));
    }
    case varInteger: {
        const std::int64_t x = Ops::ToInt64(v);
        if (x < std::numeric_limits<std::int32_t>::min() || x > std::numeric_limits<std::int32_t>::max())
            CastError();
        return Variant(static_cast<int>(x));
    }
    case varByte: {
        const std::int64_t x = Ops::ToInt64(v);
        if (x < 0 || x > 255)
            CastError();
        return Variant::FromByte(static_cast<std::uint8_t>(x));
    }
    case varDouble: return Variant(Ops::ToDouble(v));
    case varCurrency: return Variant(Currency{Ops::ToCurrency(v)});
    case varDate: return Variant::FromDate(Ops::ToDate(v));
    case varBoolean: return Variant(Ops::ToBool(v));
    case varString: return Variant(Ops::ToString(v));
    default: CastError();
    }
}

std::string VarToStr(const Variant& v)
{
    if (v.IsNull() || v.IsEmpty())
        return {};
    return v.AsString();
}

Variant VarFromDateTime(TDateTime v)
{
    return Variant::FromDate(v);
}

TDateTime VarToDateTime(const Variant& v)
{
    return v.AsDateTime();
}

Variant VarArrayCreate(int lowBound, int highBound, TVarType elementType)
{
    if (highBound < lowBound - 1 || (elementType & ~varTypeMask) != 0)
        throw EVariantError(SVarArrayCreate);
    const Variant empty = Ops::EmptyOf(elementType);
    Variant v;
    v.FType = static_cast<TVarType>(varArray | elementType);
    v.FLowBound = lowBound;
    v.FArray.assign(static_cast<std::size_t>(highBound - lowBound + 1), empty);
    return v;
}

Variant VarArrayOf(std::initializer_list<Variant> values)
{
    return VarArrayOf(std::vector<Variant>(values));
}

Variant VarArrayOf(const std::vector<Variant>& values)
{
    Variant v = VarArrayCreate(0, static_cast<int>(values.size()) - 1, varVariant);
    for (std::size_t i = 0; i < values.size(); ++i)
        v.PutElement(static_cast<int>(i), values[i]);
    return v;
}

int VarArrayDimCount(const Variant& v)
{
    return v.IsArray() ? 1 : 0;
}

int VarArrayLowBound(const Variant& v, int dim)
{
    if (v.IsArray() && dim != 1)
        throw EVariantError(SVarArrayBounds);
    return v.ArrayLowBound();
}

int VarArrayHighBound(const Variant& v, int dim)
{
    if (v.IsArray() && dim != 1)
        throw EVariantError(SVarArrayBounds);
    return v.ArrayHighBound();
}

} // namespace orvex
