// Variant rules: Null and Empty, conversions and their errors, mixed-type
// arithmetic and comparison, and variant arrays.

#include "host/Variants.h"

#include "ClassesTestUtil.h"
#include "PinnedFormatSettings.h"

#include "host/DateUtils.h"

#include <optional>
#include <ostream>

namespace orvex {
// Readable failures: a variant prints as its type code and text.
void PrintTo(const Variant& v, std::ostream* os)
{
    *os << "Variant(type 0x" << std::hex << v.VType() << std::dec;
    if (!v.IsArray() && !v.IsNull() && !v.IsEmpty())
        *os << ", \"" << VarToStr(v) << "\"";
    *os << ")";
}
} // namespace orvex

namespace orvex::testing {
namespace {

// Marks a conversion that must fail.
const std::optional<Variant> Fails;

// Same type and same value (Null and Empty compare by type alone).
void ExpectSame(const Variant& actual, const Variant& expected, const std::string& what)
{
    ASSERT_EQ(actual.VType(), expected.VType()) << what;
    if (!actual.IsNull() && !actual.IsEmpty() && !actual.IsArray()) {
        EXPECT_TRUE(actual == expected) << what << ": " << VarToStr(actual) << " vs " << VarToStr(expected);
    }
}

using VariantRules = PinnedFormatSettings;

TEST_F(VariantRules, ConversionTable)
{
    const TDateTime christmas = EncodeDate(2001, 12, 25);
    struct Case {
        Variant From;
        TVarType To;
        std::optional<Variant> Expected;
    };
    const Case cases[] = {
        {Variant(), varInteger, Variant(0)},
        {Variant(), varString, Variant("")},
        {Variant(), varBoolean, Variant(false)},
        {Variant(), varDouble, Variant(0.0)},
        {Variant(), varNull, Null()},
        {Null(), varNull, Null()},
        {Null(), varEmpty, Variant()},
        {Null(), varInteger, Fails},
        {Null(), varString, Fails},
        {Variant(5), varString, Variant("5")},
        {Variant(5), varBoolean, Variant(true)},
        {Variant(0), varBoolean, Variant(false)},
        {Variant(5), varDouble, Variant(5.0)},
        {Variant(5), varCurrency, Variant(Currency{50000})},
        {Variant(5), varSmallint, Variant::FromSmallint(5)},
        {Variant(70000), varSmallint, Fails},
        {Variant(300), varByte, Fails},
        {Variant(-1), varByte, Fails},
        {Variant(2.5), varInteger, Variant(2)}, // half to even
        {Variant(3.5), varInteger, Variant(4)},
        {Variant(-2.5), varInteger, Variant(-2)},
        {Variant(1e10), varInteger, Fails},
        {Variant(2.5), varString, Variant("2.5")},
        {Variant(" 42 "), varInteger, Variant(42)},
        {Variant("4.5"), varInteger, Variant(4)},
        {Variant("abc"), varInteger, Fails},
        {Variant(""), varInteger, Fails},
        {Variant("1.5"), varDouble, Variant(1.5)},
        {Variant("True"), varBoolean, Variant(true)},
        {Variant("false"), varBoolean, Variant(false)},
        {Variant("0"), varBoolean, Variant(false)},
        {Variant("yes"), varBoolean, Fails},
        {Variant("12/25/2001"), varDate, Variant::FromDate(christmas)},
        {Variant("x"), varDate, Fails},
        {Variant(true), varInteger, Variant(-1)},
        {Variant(true), varString, Variant("True")},
        {Variant(false), varDouble, Variant(0.0)},
        {Variant(Currency{12345}), varString, Variant("1.2345")},
        {Variant(Currency{15000}), varInteger, Variant(2)},
        {Variant(Currency{25000}), varInteger, Variant(2)},
        {Variant::FromDate(christmas), varString, Variant("12/25/2001")},
        {Variant::FromDate(christmas + 0.5), varString, Variant("12/25/2001 12:00:00 PM")},
        {Variant::FromDate(christmas), varDouble, Variant(37250.0)},
        {VarArrayOf({1, 2}), varInteger, Fails},
        {Variant(1), static_cast<TVarType>(varArray | varVariant), Fails},
    };
    for (const Case& c : cases) {
        const std::string what = (c.From.IsArray() ? "array" : VarToStr(c.From)) + " -> " + std::to_string(c.To);
        if (!c.Expected) {
            EXPECT_RAISES(VarAsType(c.From, c.To), EVariantError, "Invalid variant type conversion");
            continue;
        }
        ExpectSame(VarAsType(c.From, c.To), *c.Expected, what);
    }
}

TEST_F(VariantRules, VarToStrTurnsNullAndEmptyIntoNothing)
{
    EXPECT_EQ(VarToStr(Null()), "");
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStr(Variant(-7)), "-7");
    EXPECT_EQ(VarToStr(Variant(0.1)), "0.1");
    EXPECT_EQ(VarToStr(Variant(true)), "True");
    EXPECT_EQ(Variant("abc").AsString(), "abc");
    EXPECT_RAISES(Null().AsString(), EVariantError, "Invalid variant type conversion");
    EXPECT_RAISES(VarToStr(VarArrayOf({1})), EVariantError, "Invalid variant type conversion");
}

enum class Op { Add, Sub, Mul, Div, IntDiv, Mod, And, Or, Xor };

Variant Apply(Op op, const Variant& a, const Variant& b)
{
    switch (op) {
    case Op::Add: return a + b;
    case Op::Sub: return a - b;
    case Op::Mul: return a * b;
    case Op::Div: return a / b;
    case Op::IntDiv: return IntDiv(a, b);
    case Op::Mod: return a % b;
    case Op::And: return a & b;
    case Op::Or: return a | b;
    default: return a ^ b;
    }
}

TEST_F(VariantRules, ArithmeticTable)
{
    const TDateTime day = EncodeDate(2001, 12, 25);
    struct Case {
        Variant A;
        Op Operation;
        Variant B;
        Variant Expected;
    };
    const Case cases[] = {
        // Null and Empty
        {Null(), Op::Add, Variant(1), Null()},
        {Variant(1), Op::Mul, Null(), Null()},
        {Null(), Op::Add, Variant(), Null()},
        {Variant(), Op::Add, Variant(), Variant()},
        {Variant(), Op::Add, Variant(1), Variant(1)},
        {Variant("a"), Op::Add, Variant(), Variant("a")},
        {Variant(), Op::Sub, Variant(2.5), Variant(-2.5)},
        // strings
        {Variant("ab"), Op::Add, Variant("cd"), Variant("abcd")},
        {Variant("12"), Op::Add, Variant(3), Variant(15.0)},
        {Variant(3), Op::Add, Variant("12"), Variant(15.0)},
        {Variant("12"), Op::Sub, Variant("2"), Variant(10.0)},
        {Variant("3"), Op::Mul, Variant("4"), Variant(12.0)},
        // integers and reals
        {Variant(2), Op::Add, Variant(3), Variant(5)},
        {Variant::FromSmallint(2), Op::Add, Variant::FromSmallint(3), Variant(5)},
        {Variant::FromByte(200), Op::Add, Variant::FromByte(100), Variant(300)},
        {Variant(2147483647), Op::Add, Variant(1), Variant(2147483648.0)},
        {Variant(65536), Op::Mul, Variant(65536), Variant(4294967296.0)},
        {Variant(2.5), Op::Add, Variant(1), Variant(3.5)},
        {Variant(true), Op::Add, Variant(1), Variant(0)},
        {Variant(7), Op::Div, Variant(2), Variant(3.5)},
        {Variant(6), Op::Div, Variant(3), Variant(2.0)},
        {Variant(7), Op::IntDiv, Variant(2), Variant(3)},
        {Variant(-7), Op::IntDiv, Variant(2), Variant(-3)},
        {Variant(7.6), Op::IntDiv, Variant(2), Variant(4)},
        {Variant(7), Op::Mod, Variant(3), Variant(1)},
        {Variant(-7), Op::Mod, Variant(3), Variant(-1)},
        // currency
        {Variant(Currency{15000}), Op::Add, Variant(1), Variant(Currency{25000})},
        {Variant(Currency{15000}), Op::Mul, Variant(2.5), Variant(Currency{37500})},
        {Variant(Currency{15000}), Op::Mul, Variant(Currency{15000}), Variant(Currency{22500})},
        {Variant(Currency{10000}), Op::Div, Variant(3), Variant(Currency{3333})},
        {Variant("1.25"), Op::Add, Variant(Currency{10000}), Variant(Currency{22500})},
        // dates
        {Variant::FromDate(day), Op::Add, Variant(1), Variant::FromDate(day + 1)},
        {Variant::FromDate(day), Op::Sub, Variant(0.5), Variant::FromDate(day - 0.5)},
        {Variant::FromDate(day), Op::Sub, Variant::FromDate(day - 3), Variant(3.0)},
        {Variant::FromDate(day), Op::Mul, Variant(1), Variant(37250.0)},
        // logic
        {Variant(true), Op::And, Variant(false), Variant(false)},
        {Variant(true), Op::Or, Variant(false), Variant(true)},
        {Variant(true), Op::Xor, Variant(true), Variant(false)},
        {Variant("True"), Op::And, Variant(true), Variant(true)},
        {Variant(6), Op::And, Variant(3), Variant(2)},
        {Variant(6), Op::Or, Variant(3), Variant(7)},
        {Variant(6), Op::Xor, Variant(3), Variant(5)},
        {Null(), Op::And, Variant(true), Null()},
    };
    int row = 0;
    for (const Case& c : cases)
        ExpectSame(Apply(c.Operation, c.A, c.B), c.Expected, "row " + std::to_string(row++));

    ExpectSame(-Variant(5), Variant(-5), "negate");
    ExpectSame(-Variant(-2147483647 - 1), Variant(2147483648.0), "negate overflow");
    ExpectSame(-Variant(true), Variant(1), "negate boolean");
    ExpectSame(-Null(), Null(), "negate null");
    ExpectSame(!Variant(true), Variant(false), "not boolean");
    ExpectSame(!Variant(0), Variant(-1), "not integer");
    ExpectSame(!Variant("False"), Variant(true), "not text");
}

TEST_F(VariantRules, ArithmeticErrors)
{
    EXPECT_RAISES(Variant("ab") + Variant(1), EVariantError, "Invalid variant type conversion");
    EXPECT_RAISES(Variant("ab") - Variant("cd"), EVariantError, "Invalid variant type conversion");
    EXPECT_RAISES(Variant(1) / Variant(0), EVariantError, "Division by zero");
    EXPECT_RAISES(IntDiv(Variant(1), Variant(0)), EVariantError, "Division by zero");
    EXPECT_RAISES(Variant(1) % Variant(0.2), EVariantError, "Division by zero"); // 0.2 rounds to 0
    EXPECT_RAISES(VarArrayOf({1}) + Variant(1), EVariantError, "Invalid variant operation");
    EXPECT_RAISES(-VarArrayOf({1}), EVariantError, "Invalid variant operation");
}

TEST_F(VariantRules, ComparisonTable)
{
    const TDateTime day = EncodeDate(2001, 12, 25);
    struct Case {
        Variant A, B;
        int Sign;
    };
    const Case cases[] = {
        {Null(), Variant(5), -1},
        {Variant(5), Null(), 1},
        {Null(), Null(), 0},
        {Variant(), Null(), -1},
        {Variant(), Variant(), 0},
        {Variant(), Variant(0), -1},
        {Null(), Variant(""), -1},
        {Variant(1), Variant(2), -1},
        {Variant(2.5), Variant(2), 1},
        {Variant::FromSmallint(3), Variant(3.0), 0},
        {Variant("10"), Variant(9), 1},
        {Variant(9), Variant("10"), -1},
        {Variant("abc"), Variant("abd"), -1},
        {Variant("a"), Variant("B"), -1}, // ANSI order, not byte order
        {Variant("abc"), Variant("abc"), 0},
        {Variant(Currency{15000}), Variant(1.5), 0},
        {Variant(Currency{15000}), Variant(Currency{15001}), -1},
        {Variant(Currency{20000}), Variant(2), 0},
        {Variant(true), Variant(-1), 0},
        {Variant(true), Variant(false), -1}, // True is -1
        {Variant("True"), Variant(true), 0},
        {Variant::FromDate(day), Variant(37250), 0},
        {Variant::FromDate(day), Variant("12/26/2001"), -1},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(row++));
        EXPECT_EQ(c.A == c.B, c.Sign == 0);
        EXPECT_EQ(c.A != c.B, c.Sign != 0);
        EXPECT_EQ(c.A < c.B, c.Sign < 0);
        EXPECT_EQ(c.A > c.B, c.Sign > 0);
        EXPECT_EQ(c.A <= c.B, c.Sign <= 0);
        EXPECT_EQ(c.A >= c.B, c.Sign >= 0);
    }
    EXPECT_RAISES((void)(Variant("abc") == Variant(1)), EVariantError, "Invalid variant type conversion");
    EXPECT_RAISES((void)(VarArrayOf({1}) == VarArrayOf({1})), EVariantError, "Invalid variant operation");
}

TEST_F(VariantRules, ArraysHoldTypedElementsWithBounds)
{
    Variant numbers = VarArrayCreate(1, 3, varInteger);
    EXPECT_EQ(VarType(numbers), varArray | varInteger);
    EXPECT_TRUE(VarIsArray(numbers));
    EXPECT_EQ(VarArrayDimCount(numbers), 1);
    EXPECT_EQ(VarArrayLowBound(numbers, 1), 1);
    EXPECT_EQ(VarArrayHighBound(numbers, 1), 3);
    ExpectSame(numbers.GetElement(2), Variant(0), "initial element");
    numbers.PutElement(2, Variant("5")); // converted to the element type
    ExpectSame(numbers.GetElement(2), Variant(5), "converted element");
    EXPECT_RAISES(numbers.PutElement(1, Variant("x")), EVariantError, "Invalid variant type conversion");
    EXPECT_RAISES(numbers.GetElement(4), EVariantError, "Variant array index out of bounds");
    EXPECT_RAISES(numbers.GetElement(0), EVariantError, "Variant array index out of bounds");

    Variant mixed = VarArrayOf({1, "a", Null()});
    EXPECT_EQ(VarType(mixed), varArray | varVariant);
    EXPECT_EQ(VarArrayHighBound(mixed, 1), 2);
    ExpectSame(mixed.GetElement(1), Variant("a"), "mixed element");
    EXPECT_TRUE(VarIsNull(mixed.GetElement(2)));
    // Copies are values of their own.
    Variant copy = mixed;
    copy.PutElement(0, Variant(9));
    ExpectSame(mixed.GetElement(0), Variant(1), "original after copy");

    EXPECT_EQ(VarArrayDimCount(Variant(1)), 0);
    EXPECT_RAISES(VarArrayLowBound(Variant(1), 1), EVariantError, "Variant is not an array");
    EXPECT_RAISES(VarArrayHighBound(mixed, 2), EVariantError, "Variant array index out of bounds");
    EXPECT_RAISES(VarArrayCreate(0, 1, varNull), EVariantError, "Error creating variant array");
    Variant none = VarArrayCreate(0, -1, varVariant);
    EXPECT_EQ(VarArrayHighBound(none, 1), -1);
}

TEST_F(VariantRules, NullAndEmptyStayApart)
{
    EXPECT_TRUE(VarIsEmpty(Unassigned()));
    EXPECT_FALSE(VarIsNull(Unassigned()));
    EXPECT_TRUE(VarIsNull(Null()));
    EXPECT_FALSE(VarIsEmpty(Null()));
    EXPECT_EQ(VarType(Null()), varNull);
    EXPECT_EQ(VarType(Variant()), varEmpty);
    EXPECT_EQ(Variant().AsInteger(), 0);
    EXPECT_RAISES(Null().AsInteger(), EVariantError, "Invalid variant type conversion");
    EXPECT_EQ(VarToDateTime(VarFromDateTime(12.25)), 12.25);
    EXPECT_EQ(VarType(Variant::FromInt64(1LL << 40)), varDouble);
    EXPECT_EQ(VarType(Variant::FromInt64(-5)), varInteger);
}

} // namespace
} // namespace orvex::testing
