#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "tests/host/PinnedFormatSettings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace orvex {
namespace {

class FormatTest : public testing::PinnedFormatSettings {};

struct TFormatCase {
    const char* What;
    std::string Got;
    std::string Expected;
};

void CheckCases(const std::vector<TFormatCase>& cases)
{
    for (const auto& c : cases)
        EXPECT_EQ(c.Got, c.Expected) << c.What;
}

TEST_F(FormatTest, IntegersWidthsAndPrecision)
{
    CheckCases({
        {"%d", Format("%d", {42}), "42"},
        {"%5d", Format("%5d", {42}), "   42"},
        {"%-5d|", Format("%-5d|", {42}), "42   |"},
        {"%.3d", Format("%.3d", {7}), "007"},
        {"%.3d neg", Format("%.3d", {-7}), "-007"},
        {"%6.3d", Format("%6.3d", {-7}), "  -007"},
        {"%1d", Format("%1d", {12345}), "12345"},
        {"%d min", Format("%d", {std::numeric_limits<long long>::min()}), "-9223372036854775808"},
        {"%d unsigned", Format("%d", {18446744073709551615ULL}), "18446744073709551615"},
        {"%d bool", Format("%d", {true}), "1"},
        {"%u", Format("%u", {42u}), "42"},
        {"%u neg 32", Format("%u", {-1}), "4294967295"},
        {"%u neg 64", Format("%u", {-5000000000LL}), "18446744068709551616"},
        {"%x", Format("%x", {255}), "FF"},
        {"%X", Format("%X", {255}), "FF"},
        {"%.4x", Format("%.4x", {255}), "00FF"},
        {"%x neg", Format("%x", {-1}), "FFFFFFFF"},
        {"%8x", Format("%8x", {0xABCu}), "     ABC"},
        {"%D upper type", Format("%D", {3}), "3"},
        {"%c char", Format("[%c]", {'z'}), "[z]"},
        {"%c code", Format("[%c]", {65}), "[A]"},
        {"%%", Format("100%%", {}), "100%"},
        {"no placeholders", Format("plain", {1, 2}), "plain"},
        {"empty", Format("", {}), ""},
    });
}

TEST_F(FormatTest, StringsTruncateAndJustify)
{
    const std::string text = "abcdef";
    CheckCases({
        {"%s", Format("<%s>", {"ab"}), "<ab>"},
        {"%-4s|", Format("%-4s|", {"ab"}), "ab  |"},
        {"%4s", Format("%4s|", {"ab"}), "  ab|"},
        {"%.3s", Format("%.3s", {text}), "abc"},
        {"%5.3s", Format("%5.3s|", {text}), "  abc|"},
        {"%-5.3s", Format("%-5.3s|", {text}), "abc  |"},
        {"%.0s", Format("[%.0s]", {text}), "[]"},
        {"%.10s", Format("%.10s", {text}), "abcdef"},
        {"%s char", Format("%s", {'q'}), "q"},
        {"%s view", Format("%s", {std::string_view("sv")}), "sv"},
        {"%s null", Format("[%s]", {static_cast<const char*>(nullptr)}), "[]"},
        {"%s high bytes", Format("%s", {"\xE9t\xE9"}), "\xE9t\xE9"},
        {"%s embedded percent", Format("%s", {"50%"}), "50%"},
        {"mixed", Format("%s has %d rows (%5.1f%%)", {"T1", 12, 37.25}), "T1 has 12 rows ( 37.3%)"},
    });
}

TEST_F(FormatTest, StarsAndIndexes)
{
    CheckCases({
        {"*d", Format("%*d", {5, 42}), "   42"},
        {"-*d", Format("%-*d|", {5, 42}), "42   |"},
        {"neg * width", Format("%*d|", {-5, 42}), "42   |"},
        {".*s", Format("%.*s", {2, "abcdef"}), "ab"},
        {"*.*f", Format("%*.*f", {8, 3, 3.14159}), "   3.142"},
        {"index", Format("%1:s %0:s", {"a", "b"}), "b a"},
        {"index then next", Format("%1:s %s %0:s", {"a", "b", "c"}), "b c a"},
        {"index width", Format("%0:-3s|%0:3s", {"x"}), "x  |  x"},
    });
}

TEST_F(FormatTest, FloatsFollowTheFrameworkForms)
{
    CheckCases({
        {"%f default", Format("%f", {3.14159}), "3.14"},
        {"%.2f 1.005", Format("%.2f", {1.005}), "1.01"},
        {"%.2f 2.675", Format("%.2f", {2.675}), "2.68"},
        {"%.0f half", Format("%.0f", {2.5}), "3"},
        {"%.0f neg half", Format("%.0f", {-2.5}), "-3"},
        {"%.1f 0.05", Format("%.1f", {0.05}), "0.1"},
        {"%.2f neg tiny", Format("%.2f", {-0.001}), "0.00"},
        {"%.3f", Format("%.3f", {-12.5}), "-12.500"},
        {"%.2f carry", Format("%.2f", {9.999}), "10.00"},
        {"%.5f small", Format("%.5f", {0.000123}), "0.00012"},
        {"%f zero", Format("%f", {0.0}), "0.00"},
        {"%8.2f", Format("%8.2f|", {3.14159}), "    3.14|"},
        {"%-8.2f", Format("%-8.2f|", {3.14159}), "3.14    |"},
        {"%f big", Format("%.1f", {123456789012.0}), "123456789012.0"},
        {"%n", Format("%n", {1234567.891}), "1,234,567.89"},
        {"%.0n", Format("%.0n", {-999999.5}), "-1,000,000"},
        {"%n small", Format("%n", {123.0}), "123.00"},
        {"%e", Format("%e", {1234.5}), "1.23450000000000E+003"},
        {"%.3e", Format("%.3e", {-0.00012345}), "-1.23E-004"},
        {"%.1e", Format("%.1e", {5e20}), "5E+020"},
        {"%e zero", Format("%.3e", {0.0}), "0.00E+000"},
        {"%g", Format("%g", {0.1}), "0.1"},
        {"%g int", Format("%g", {100.0}), "100"},
        {"%g big", Format("%g", {1e20}), "1E020"},
        {"%g small", Format("%g", {1.5e-10}), "1.5E-010"},
        {"%.3g", Format("%.3g", {1234.5}), "1.23E003"},
        {"%.3g fits", Format("%.3g", {123.45}), "123"},
        {"%m", Format("%m", {1234.5}), "$1,234.50"},
        {"%m neg", Format("%m", {-1234.5}), "($1,234.50)"},
        {"%.0m", Format("%.0m", {7.0}), "$7"},
        {"%f inf", Format("%f", {std::numeric_limits<double>::infinity()}), "INF"},
        {"%f -inf", Format("%f", {-std::numeric_limits<double>::infinity()}), "-INF"},
        {"%g nan", Format("%g", {std::numeric_limits<double>::quiet_NaN()}), "NAN"},
    });
}

TEST_F(FormatTest, PointersShowAllTheirHexDigits)
{
    const std::string text = Format("%p", {static_cast<const void*>(nullptr)});
    EXPECT_EQ(text, std::string(sizeof(void*) * 2, '0'));
    int anything = 0;
    const std::string p = Format("%p", {static_cast<const void*>(&anything)});
    EXPECT_EQ(p.size(), sizeof(void*) * 2);
    EXPECT_EQ(p.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST_F(FormatTest, SeparatorsComeFromTheSettings)
{
    FormatSettings().DecimalSeparator = ',';
    FormatSettings().ThousandSeparator = '.';
    FormatSettings().CurrencyString = "EUR";
    FormatSettings().CurrencyFormat = 3;
    FormatSettings().NegCurrFormat = 8;
    CheckCases({
        {"%f", Format("%.2f", {1.5}), "1,50"},
        {"%n", Format("%n", {1234.5}), "1.234,50"},
        {"%e", Format("%.2e", {1.5}), "1,5E+000"},
        {"%g", Format("%g", {0.25}), "0,25"},
        {"%m", Format("%m", {1234.5}), "1.234,50 EUR"},
        {"%m neg", Format("%m", {-2.0}), "-2,00 EUR"},
        {"FloatToStr", FloatToStr(0.5), "0,5"},
    });
}

TEST_F(FormatTest, FloatsIgnoreTheCLocale)
{
    // Whatever locale the host program sets, the text stays the same.
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if (std::setlocale(LC_ALL, name)) {
            switched = true;
            break;
        }
    const std::string text = Format("%.2f %g %e", {1.5, 0.25, 2.0});
    const std::string str = FloatToStr(1.25);
    double parsed = 0;
    const bool ok = TryStrToFloat("1.75", parsed);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, "1.50 0.25 2.00000000000000E+000");
    EXPECT_EQ(str, "1.25");
    EXPECT_TRUE(ok);
    EXPECT_EQ(parsed, 1.75);
    if (!switched)
        GTEST_LOG_(INFO) << "no other locale installed; checked under the C locale only";
}

TEST_F(FormatTest, MismatchedOrMissingArgumentsRaiseEConvertError)
{
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"%d", [] { Format("%d", {1.5}); }},
        {"%d", [] { Format("%d", {"12"}); }},
        {"%x", [] { Format("%x", {'a'}); }},
        {"%f", [] { Format("%f", {1}); }},
        {"%e", [] { Format("%e", {"1"}); }},
        {"%s", [] { Format("%s", {12}); }},
        {"%s", [] { Format("%s", {1.0}); }},
        {"%p", [] { Format("%p", {5}); }},
        {"%c", [] { Format("%c", {"ab"}); }},
        {"%d %d", [] { Format("%d %d", {1}); }},
        {"%s", [] { Format("%s", {}); }},
        {"abc %", [] { Format("abc %", {1}); }},
        {"%5", [] { Format("%5", {1}); }},
        {"%k", [] { Format("%k", {1}); }},
        {"%*d", [] { Format("%*d", {"x", 1}); }},
        {"%3:d", [] { Format("%3:d", {1}); }},
    };
    for (const auto& [fmt, call] : cases) {
        try {
            call();
            ADD_FAILURE() << fmt << " did not raise";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Format '" + fmt + "' invalid or incompatible with argument");
        }
    }
}

} // namespace
} // namespace orvex
