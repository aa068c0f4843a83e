#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "tests/host/PinnedFormatSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace orvex {
namespace {

class ConvertTest : public testing::PinnedFormatSettings {};

TEST_F(ConvertTest, IntegerText)
{
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-2147483648LL), "-2147483648");
    EXPECT_EQ(IntToStr(std::numeric_limits<long long>::max()), "9223372036854775807");

    const struct {
        long long Value;
        int Digits;
        const char* Expected;
    } hex[] = {
        {255, 0, "FF"},       {255, 4, "00FF"},     {0, 1, "0"},  {0, 0, "0"},
        {0x1234ABCD, 2, "1234ABCD"}, {-1, 1, "FFFFFFFF"}, {-2, 8, "FFFFFFFE"},
        {-5000000000LL, 1, "FFFFFFFED5FA0E00"}, {0x7FFFFFFFFFFFFFFFLL, 0, "7FFFFFFFFFFFFFFF"},
    };
    for (const auto& c : hex)
        EXPECT_EQ(IntToHex(c.Value, c.Digits), c.Expected) << c.Value;
}

TEST_F(ConvertTest, StrToIntReadsDecimalAndHexadecimal)
{
    const struct {
        const char* Text;
        bool Valid;
        int Value;
    } cases[] = {
        {"0", true, 0},         {"42", true, 42},          {"-42", true, -42},
        {"+7", true, 7},        {"  12", true, 12},        {"$FF", true, 255},
        {"0x1f", true, 31},     {"-$10", true, -16},       {"$FFFFFFFF", true, -1},
        {"2147483647", true, 2147483647}, {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0}, {"-2147483649", false, 0}, {"$100000000", false, 0},
        {"", false, 0},         {" ", false, 0},           {"-", false, 0},
        {"$", false, 0},        {"12 ", false, 0},         {"1e3", false, 0},
        {"12a", false, 0},      {"0x", false, 0},          {"1.0", false, 0},
    };
    for (const auto& c : cases) {
        int v = 12345;
        EXPECT_EQ(TryStrToInt(c.Text, v), c.Valid) << '"' << c.Text << '"';
        EXPECT_EQ(StrToIntDef(c.Text, -99), c.Valid ? c.Value : -99) << '"' << c.Text << '"';
        if (c.Valid) {
            EXPECT_EQ(v, c.Value) << c.Text;
            EXPECT_EQ(StrToInt(c.Text), c.Value) << c.Text;
        } else {
            try {
                StrToInt(c.Text);
                ADD_FAILURE() << '"' << c.Text << "\" was accepted";
            } catch (const EConvertError& e) {
                EXPECT_EQ(e.Message(), std::string("'") + c.Text + "' is not a valid integer value");
            }
        }
    }
}

TEST_F(ConvertTest, StrToInt64CoversTheWholeRange)
{
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<long long>::max());
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<long long>::min());
    EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(StrToInt64("5000000000"), 5000000000LL);
    EXPECT_EQ(StrToInt64Def("9223372036854775808", 3), 3);
    EXPECT_THROW(StrToInt64("x"), EConvertError);
}

TEST_F(ConvertTest, FloatToStrGivesFifteenSignificantDigits)
{
    const struct {
        double Value;
        const char* Expected;
    } cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {0.1, "0.1"},
        {100.0, "100"},
        {-2.5, "-2.5"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {0.1 + 0.2, "0.3"},
        {1e20, "1E20"},
        {-1.5e20, "-1.5E20"},
        {1e15, "1E15"},
        {123456789012345.0, "123456789012345"},
        {0.0001, "0.0001"},
        {0.00001, "1E-5"},
        {1.25e-7, "1.25E-7"},
        {1.005, "1.005"},
        {std::numeric_limits<double>::max(), "1.79769313486232E308"},
        {std::numeric_limits<double>::infinity(), "INF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FloatToStr(c.Value), c.Expected) << c.Expected;
}

TEST_F(ConvertTest, StrToFloatReadsWhatFloatToStrWrites)
{
    const struct {
        const char* Text;
        bool Valid;
        double Value;
    } cases[] = {
        {"0", true, 0.0},        {"1.5", true, 1.5},       {"-2.25", true, -2.25},
        {"+3", true, 3.0},       {" 4.5 ", true, 4.5},     {".5", true, 0.5},
        {"5.", true, 5.0},       {"1E20", true, 1e20},     {"1.25e-7", true, 1.25e-7},
        {"2E+3", true, 2000.0},  {"1e-400", true, 0.0},    {"0.000e999", true, 0.0},
        {"", false, 0},          {" ", false, 0},          {".", false, 0},
        {"1,5", false, 0},       {"1e", false, 0},         {"1e+", false, 0},
        {"abc", false, 0},       {"1.5x", false, 0},       {"1e400", false, 0},
        {"--1", false, 0},       {"1 000", false, 0},      {"INF", false, 0},
    };
    for (const auto& c : cases) {
        double v = -1;
        EXPECT_EQ(TryStrToFloat(c.Text, v), c.Valid) << '"' << c.Text << '"';
        if (c.Valid) {
            EXPECT_EQ(v, c.Value) << c.Text;
        } else {
            try {
                StrToFloat(c.Text);
                ADD_FAILURE() << '"' << c.Text << "\" was accepted";
            } catch (const EConvertError& e) {
                EXPECT_EQ(e.Message(), std::string("'") + c.Text + "' is not a valid floating point value");
            }
        }
    }
    for (double v : {0.1, -123.456, 1e-9, 6.02214076e23, 1.0 / 7.0})
        EXPECT_EQ(FloatToStr(StrToFloat(FloatToStr(v))), FloatToStr(v));
}

TEST_F(ConvertTest, StrToFloatUsesTheSettingsSeparator)
{
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(StrToFloat("1,5"), 1.5);
    double v;
    EXPECT_FALSE(TryStrToFloat("1.5", v));
}

TEST_F(ConvertTest, BoolToStr)
{
    EXPECT_EQ(BoolToStr(true), "True");
    EXPECT_EQ(BoolToStr(false), "False");
}

} // namespace
} // namespace orvex
