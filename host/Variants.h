#pragma once
// The host framework's Variant: a tagged value that carries one of the types
// below and converts between them by the framework's rules.
//
// Types (the VType codes are the framework's):
//   varEmpty     unassigned; the result of an operation whose outcome is unknown
//   varNull      a database NULL
//   varSmallint  16-bit signed         varInteger  32-bit signed
//   varByte      8-bit unsigned        varDouble   double
//   varCurrency  fixed point, 4 decimals (a 64-bit count of 1/10000)
//   varDate      TDateTime             varBoolean  Boolean
//   varString    byte string (Windows-1252)
//   varArray     a one-dimensional variant array; VType is varArray or'ed with
//                the element type (varVariant for elements of any type)
//
// Conversions (VarAsType and the As... accessors):
//   - Empty converts to 0, "", False or date 0; Null converts only to Null
//     (anything else raises). VarToStr turns both into "".
//   - Booleans are -1 (True) and 0 (False) as numbers, "True"/"False" as text;
//     numbers are True when not 0; text converts when it reads "True" or
//     "False" (any case) or a number.
//   - Reals become integers by rounding half to even; a value outside the
//     target's range raises. Text converts to numbers when it holds one
//     (blanks around it allowed, the decimal separator of the format
//     settings), to dates by StrToDateTime.
//   - Every failed conversion raises EVariantError "Invalid variant type
//     conversion"; arrays convert to nothing but themselves.
//
// Operators:
//   - A Null operand makes the result Null; two Empty operands give Empty;
//     one Empty operand counts as 0 (as "" beside a string).
//   - string + string concatenates; any other operation on strings, and a
//     string beside a number, converts the string to a number first (to a
//     date beside a date, to currency beside currency).
//   - Booleans count as -1 and 0, except that and/or/xor/not of Booleans give
//     Booleans.
//   - Result types: integers give an integer (a double when the result leaves
//     the 32-bit range); a double operand gives a double; currency wins over
//     integers and doubles; date +/- number gives a date, date - date a
//     double, any other arithmetic on dates a double. "/" always divides as
//     reals (double, or currency when an operand is currency); IntDiv and Mod
//     work on integers (reals rounded). Division by zero raises EVariantError
//     "Division by zero".
//   - Comparison: Empty ranks below Null, Null below every value (two Empty
//     or two Null values are equal); strings compare by the ANSI collation
//     (AnsiCompareStr); any other pair compares as numbers after the
//     conversions above. Arrays take part in no operation ("Invalid variant
//     operation").

#include "host/SysUtils.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

namespace orvex {

using TVarType = std::uint16_t;

enum : TVarType {
    varEmpty = 0x0000,
    varNull = 0x0001,
    varSmallint = 0x0002,
    varInteger = 0x0003,
    varDouble = 0x0005,
    varCurrency = 0x0006,
    varDate = 0x0007,
    varBoolean = 0x000B,
    varVariant = 0x000C,
    varByte = 0x0011,
    varString = 0x0100,
    varTypeMask = 0x0FFF,
    varArray = 0x2000,
};

// The one error of the variant routines: failed conversions, operations on
// arrays, array bounds, division by zero.
class EVariantError : public Exception {
public:
    using Exception::Exception;
};

// Fixed point with four decimals: Value is the amount times 10000.
struct Currency {
    std::int64_t Value = 0;

    static Currency FromDouble(double v); // rounds half to even; raises EVariantError out of range
    double ToDouble() const { return static_cast<double>(Value) / 10000.0; }
    friend bool operator==(Currency a, Currency b) { return a.Value == b.Value; }
};

class Variant {
public:
    Variant() = default; // Empty
    Variant(int v) : FType(varInteger), FInt(v) {}
    Variant(double v) : FType(varDouble), FDouble(v) {}
    Variant(Currency v) : FType(varCurrency), FCurrency(v.Value) {}
    Variant(const char* v) : FType(varString), FString(v ? v : "") {}
    Variant(std::string v) : FType(varString), FString(std::move(v)) {}
    // Only a real bool becomes varBoolean (no pointer or integer sneaks in).
    template <class B, std::enable_if_t<std::is_same_v<B, bool>, int> = 0>
    Variant(B v) : FType(varBoolean), FBool(v)
    {
    }

    static Variant Null();
    static Variant FromSmallint(std::int16_t v);
    static Variant FromByte(std::uint8_t v);
    static Variant FromDate(TDateTime v);
    // 64-bit integers: varInteger while they fit, else varDouble.
    static Variant FromInt64(std::int64_t v);

    TVarType VType() const { return FType; }
    bool IsEmpty() const { return FType == varEmpty; }
    bool IsNull() const { return FType == varNull; }
    bool IsArray() const { return (FType & varArray) != 0; }

    // Conversions by the rules above.
    int AsInteger() const;
    std::int16_t AsSmallint() const;
    std::uint8_t AsByte() const;
    double AsDouble() const;
    Currency AsCurrency() const;
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    std::string AsString() const;

    // Arrays (one dimension).
    int ArrayLowBound() const;
    int ArrayHighBound() const;
    Variant GetElement(int index) const;
    void PutElement(int index, const Variant& value);

    friend Variant operator+(const Variant& a, const Variant& b);
    friend Variant operator-(const Variant& a, const Variant& b);
    friend Variant operator*(const Variant& a, const Variant& b);
    friend Variant operator/(const Variant& a, const Variant& b);
    friend Variant operator%(const Variant& a, const Variant& b); // mod
    friend Variant operator&(const Variant& a, const Variant& b); // and
    friend Variant operator|(const Variant& a, const Variant& b); // or
    friend Variant operator^(const Variant& a, const Variant& b); // xor
    friend Variant operator-(const Variant& a);
    friend Variant operator!(const Variant& a); // not
    friend bool operator==(const Variant& a, const Variant& b);
    friend bool operator!=(const Variant& a, const Variant& b);
    friend bool operator<(const Variant& a, const Variant& b);
    friend bool operator>(const Variant& a, const Variant& b);
    friend bool operator<=(const Variant& a, const Variant& b);
    friend bool operator>=(const Variant& a, const Variant& b);

private:
    friend Variant VarArrayCreate(int lowBound, int highBound, TVarType elementType);
    friend Variant VarAsType(const Variant& v, TVarType varType);
    friend class VariantOps;

    TVarType FType = varEmpty;
    union {
        std::int32_t FInt = 0; // varInteger, varSmallint, varByte
        double FDouble;        // varDouble, varDate
        std::int64_t FCurrency;
        bool FBool;
    };
    std::string FString;
    std::vector<Variant> FArray;
    int FLowBound = 0;
};

Variant IntDiv(const Variant& a, const Variant& b); // the framework's div

// The framework's routines.
inline Variant Null() { return Variant::Null(); }
inline Variant Unassigned() { return Variant(); }
inline TVarType VarType(const Variant& v) { return v.VType(); }
inline bool VarIsNull(const Variant& v) { return v.IsNull(); }
inline bool VarIsEmpty(const Variant& v) { return v.IsEmpty(); }
inline bool VarIsArray(const Variant& v) { return v.IsArray(); }
Variant VarAsType(const Variant& v, TVarType varType);
std::string VarToStr(const Variant& v); // "" for Null and Empty
Variant VarFromDateTime(TDateTime v);
TDateTime VarToDateTime(const Variant& v);
// Elements start as the empty value of their type (Empty for varVariant).
Variant VarArrayCreate(int lowBound, int highBound, TVarType elementType);
Variant VarArrayOf(std::initializer_list<Variant> values); // bounds 0 .. n-1, varVariant
Variant VarArrayOf(const std::vector<Variant>& values);
int VarArrayDimCount(const Variant& v); // 1 for an array, else 0
int VarArrayLowBound(const Variant& v, int dim);
int VarArrayHighBound(const Variant& v, int dim);

// Texts of the variant errors.
extern const char* const SInvalidVarCast; // "Invalid variant type conversion"
extern const char* const SInvalidVarOp;   // "Invalid variant operation"
extern const char* const SVarArrayBounds; // "Variant array index out of bounds"
extern const char* const SDivByZero;      // "Division by zero"

} // namespace orvex
