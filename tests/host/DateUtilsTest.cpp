#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "tests/host/PinnedFormatSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>

namespace orvex {
namespace {

class DateUtilsTest : public testing::PinnedFormatSettings {};

int CurrentYear()
{
    int y, m, d;
    DecodeDate(Now(), y, m, d);
    return y;
}

TEST_F(DateUtilsTest, EncodeAndDecodeDates)
{
    const struct {
        int Y, M, D;
        double Value;
    } cases[] = {
        {1899, 12, 30, 0},     {1899, 12, 31, 1},       {1900, 1, 1, 2},     {1900, 3, 1, 61},
        {1899, 12, 29, -1},    {1800, 1, 1, -36522},    {1, 1, 1, -693593},  {2000, 2, 29, 36585},
        {2024, 1, 1, 45292},   {9999, 12, 31, 2958465}, {1970, 1, 1, 25569},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeDate(c.Y, c.M, c.D), c.Value) << c.Y << "-" << c.M << "-" << c.D;
        int y, m, d;
        DecodeDate(c.Value, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.Y * 10000 + c.M * 100 + c.D) << c.Value;
    }
}

TEST_F(DateUtilsTest, NegativeValuesHoldTheTimeAsAPositiveFraction)
{
    const struct {
        double Value;
        int Y, M, D, H, N;
    } cases[] = {
        {-1.25, 1899, 12, 29, 6, 0},
        {-0.25, 1899, 12, 30, 6, 0},
        {-2.75, 1899, 12, 28, 18, 0},
        {1.5, 1899, 12, 31, 12, 0},
        {-36522.0 - 23.0 / 24 - 59.0 / 1440, 1800, 1, 1, 23, 59},
    };
    for (const auto& c : cases) {
        int y, m, d, h, n, s, ms;
        DecodeDate(c.Value, y, m, d);
        DecodeTime(c.Value, h, n, s, ms);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.Y * 10000 + c.M * 100 + c.D) << c.Value;
        EXPECT_EQ(h * 100 + n, c.H * 100 + c.N) << c.Value;
    }
    FormatSettings().ShortDateFormat = "yyyy-mm-dd";
    FormatSettings().DateSeparator = '-';
    FormatSettings().LongTimeFormat = "hh:nn:ss";
    EXPECT_EQ(DateTimeToStr(-1.25), "1899-12-29 06:00:00");
    EXPECT_EQ(StrToDateTime("1899-12-29 06:00"), -1.25);
    EXPECT_EQ(StrToDateTime("1899-12-31 12:00"), 1.5);
}

TEST_F(DateUtilsTest, EncodeTimeAndItsExactMilliseconds)
{
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    // Every millisecond of a day decodes to itself.
    for (int ms = 0; ms < 86400000; ms += 999 * 7 + 1) {
        int h, n, s, z;
        DecodeTime(EncodeDate(2003, 7, 1) + ms / MSecsPerDay, h, n, s, z);
        ASSERT_EQ(((h * 60 + n) * 60 + s) * 1000 + z, ms);
    }
    int h, n, s, z;
    DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, z);
    EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + z, 235959999);
}

TEST_F(DateUtilsTest, InvalidArgumentsToEncodeRaise)
{
    const struct {
        int Y, M, D;
    } dates[] = {{0, 1, 1}, {10000, 1, 1}, {2001, 2, 29}, {1900, 2, 29}, {2000, 13, 1}, {2000, 0, 1},
                 {2000, 4, 31}, {2000, 1, 0}};
    for (const auto& c : dates) {
        TDateTime v = 7;
        EXPECT_FALSE(TryEncodeDate(c.Y, c.M, c.D, v));
        EXPECT_EQ(v, 7);
        try {
            EncodeDate(c.Y, c.M, c.D);
            ADD_FAILURE() << c.Y << "-" << c.M << "-" << c.D;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to date encode");
        }
    }
    const struct {
        int H, N, S, Z;
    } times[] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
    for (const auto& c : times) {
        TDateTime v;
        EXPECT_FALSE(TryEncodeTime(c.H, c.N, c.S, c.Z, v));
        try {
            EncodeTime(c.H, c.N, c.S, c.Z);
            ADD_FAILURE() << c.H << ":" << c.N << ":" << c.S << "." << c.Z;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to time encode");
        }
    }
}

TEST_F(DateUtilsTest, CalendarRules)
{
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_FALSE(IsLeapYear(2023));
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2023, 4), 30);
    EXPECT_EQ(DaysInMonth(2023, 12), 31);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7); // a Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2000, 1, 1)), 7);
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 5, 13) + 0.9), 2); // a Monday, late in the day
    EXPECT_EQ(DayOfWeek(-1.25), 6);
    EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);
}

TEST_F(DateUtilsTest, TimeStamps)
{
    const TTimeStamp epoch = DateTimeToTimeStamp(0);
    EXPECT_EQ(epoch.Date, DateDelta);
    EXPECT_EQ(epoch.Time, 0);
    const TTimeStamp t = DateTimeToTimeStamp(EncodeDate(2003, 7, 1) + EncodeTime(13, 14, 15, 16));
    EXPECT_EQ(t.Time, ((13 * 60 + 14) * 60 + 15) * 1000 + 16);
    EXPECT_EQ(t.Date, DateDelta + 37803);
    EXPECT_EQ(TimeStampToDateTime(t), EncodeDate(2003, 7, 1) + EncodeTime(13, 14, 15, 16));
    const TTimeStamp neg = DateTimeToTimeStamp(-1.25);
    EXPECT_EQ(neg.Date, DateDelta - 1);
    EXPECT_EQ(neg.Time, 6 * 3600000);
    EXPECT_EQ(TimeStampToDateTime(neg), -1.25);
    const double ms = TimeStampToMSecs(t);
    EXPECT_EQ(ms, (DateDelta + 37803) * MSecsPerDay + t.Time);
    const TTimeStamp back = MSecsToTimeStamp(ms);
    EXPECT_EQ(back.Date, t.Date);
    EXPECT_EQ(back.Time, t.Time);
    try {
        TimeStampToDateTime(TTimeStamp{-1, 5});
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'-1.5' is not a valid timestamp");
    }
    // Values that are no date decode as zero rather than misbehaving.
    int y, m, d;
    DecodeDate(std::nan(""), y, m, d);
    EXPECT_EQ(y + m + d, 0);
    DecodeDate(1e300, y, m, d);
    EXPECT_EQ(y + m + d, 0);
}

TEST_F(DateUtilsTest, FormatDateTimeSpecifiers)
{
    const TDateTime v = EncodeDate(2003, 7, 4) + EncodeTime(15, 5, 9, 45); // a Friday
    const TDateTime morning = EncodeDate(2003, 1, 2) + EncodeTime(0, 7, 3, 0);
    const struct {
        const char* Format;
        TDateTime Value;
        const char* Expected;
    } cases[] = {
        {"d dd ddd dddd", v, "4 04 Fri Friday"},
        {"ddddd", v, "7/4/2003"},
        {"dddddd", v, "Friday, July 4, 2003"},
        {"m mm mmm mmmm", v, "7 07 Jul July"},
        {"yy yyyy", v, "03 2003"},
        {"y", EncodeDate(1999, 1, 1), "99"},
        {"h hh n nn s ss z zzz", v, "15 15 5 05 9 09 45 045"},
        {"h:m", v, "15:5"},
        {"hh:mm", v, "15:05"},
        {"hh:nn d/m", v, "15:05 4/7"},
        {"h:nn am/pm", v, "3:05 pm"},
        {"h:nn AM/PM", morning, "12:07 AM"},
        {"h a/p", v, "3 p"},
        {"hh A/P", morning, "12 A"},
        {"h ampm", v, "3 PM"},
        {"h:nn", morning, "0:07"},
        {"h 'hours' am/pm hh", v, "3 hours pm 15"},
        {"t", v, "3:05 PM"},
        {"tt", v, "3:05:09 PM"},
        {"c", v, "7/4/2003 3:05:09 PM"},
        {"c", EncodeDate(2003, 7, 4), "7/4/2003"},
        {"\"d: \"d", v, "d: 4"},
        {"'m'm", v, "m7"},
        {"yyyy/mm/dd hh:nn:ss", v, "2003/07/04 15:05:09"},
        {"DD-MMM-YYYY", v, "04-Jul-2003"},
        {"[x] e", v, "[x] e"},
        {"'unterminated", v, "unterminated"},
        {"", v, "7/4/2003 3:05:09 PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatDateTime(c.Format, c.Value), c.Expected) << c.Format;
}

TEST_F(DateUtilsTest, FormatsFollowTheSettings)
{
    TFormatSettings& fs = FormatSettings();
    fs.DateSeparator = '.';
    fs.TimeSeparator = '-';
    fs.ShortDateFormat = "dd/mm/yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    fs.LongMonthNames[6] = "Juli";
    const TDateTime v = EncodeDate(2003, 7, 4) + EncodeTime(15, 5, 9, 0);
    EXPECT_EQ(DateTimeToStr(v), "04.07.2003 15-05-09");
    EXPECT_EQ(DateToStr(v), "04.07.2003");
    EXPECT_EQ(TimeToStr(v), "15-05-09");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 7, 4)), "04.07.2003");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 7, 4) + EncodeTime(0, 0, 0, 1)), "04.07.2003 00-00-00");
    EXPECT_EQ(FormatDateTime("mmmm", v), "Juli");
    // A format that names itself stops instead of recursing.
    fs.ShortDateFormat = "ddddd|";
    EXPECT_EQ(FormatDateTime("ddddd", v), "||");
}

TEST_F(DateUtilsTest, StrToDateByTheShortDateOrder)
{
    const int year = CurrentYear();
    const struct {
        const char* ShortFormat;
        char Sep;
        const char* Text;
        int Y, M, D;
    } cases[] = {
        {"m/d/yyyy", '/', "7/4/2003", 2003, 7, 4},
        {"m/d/yyyy", '/', " 07/04/2003 ", 2003, 7, 4},
        {"m/d/yyyy", '/', "7 / 4 / 2003", 2003, 7, 4},
        {"dd.mm.yyyy", '.', "4.7.2003", 2003, 7, 4},
        {"yyyy-mm-dd", '-', "2003-07-04", 2003, 7, 4},
        {"'Day' d/m/yy", '/', "4/7/2003", 2003, 7, 4},
        {"m/d/yyyy", '/', "12/31", year, 12, 31},
        {"dd.mm.yyyy", '.', "31.12", year, 12, 31},
        {"yyyy-mm-dd", '-', "12-31", year, 12, 31},
        {"m/d/yyyy", '/', "1/1/0003", 3, 1, 1},
    };
    for (const auto& c : cases) {
        FormatSettings().ShortDateFormat = c.ShortFormat;
        FormatSettings().DateSeparator = c.Sep;
        EXPECT_EQ(StrToDate(c.Text), EncodeDate(c.Y, c.M, c.D)) << c.ShortFormat << " " << c.Text;
    }
}

TEST_F(DateUtilsTest, TwoDigitYearsFallInTheCenturyWindow)
{
    const int year = CurrentYear();
    const int base = year - 50;
    for (int yy : {0, 1, 49, 50, 51, 99, base % 100, (base + 99) % 100}) {
        int expected = base / 100 * 100 + yy;
        if (expected < base)
            expected += 100;
        int y, m, d;
        DecodeDate(StrToDate("1/1/" + std::to_string(yy)), y, m, d);
        EXPECT_EQ(y, expected) << yy;
        EXPECT_GE(y, base);
        EXPECT_LE(y, base + 99);
    }
    FormatSettings().TwoDigitYearCenturyWindow = 0;
    int y, m, d;
    DecodeDate(StrToDate("1/1/99"), y, m, d);
    EXPECT_EQ(y, year / 100 * 100 + 99);
}

TEST_F(DateUtilsTest, StrToTimeAndStrToDateTime)
{
    const struct {
        const char* Text;
        int H, N, S, Z;
    } times[] = {
        {"13:45", 13, 45, 0, 0},   {"13:45:30", 13, 45, 30, 0}, {"1:02:03.456", 1, 2, 3, 456},
        {" 9:05 ", 9, 5, 0, 0},    {"3:05 PM", 15, 5, 0, 0},    {"3:05pm", 15, 5, 0, 0},
        {"12:00 AM", 0, 0, 0, 0},  {"12:30 PM", 12, 30, 0, 0},  {"AM 11:15", 11, 15, 0, 0},
        {"7 PM", 19, 0, 0, 0},     {"0:00", 0, 0, 0, 0},
    };
    for (const auto& c : times)
        EXPECT_EQ(StrToTime(c.Text), EncodeTime(c.H, c.N, c.S, c.Z)) << c.Text;

    EXPECT_EQ(StrToDateTime("7/4/2003 15:05:09"), EncodeDate(2003, 7, 4) + EncodeTime(15, 5, 9, 0));
    EXPECT_EQ(StrToDateTime("7/4/2003"), EncodeDate(2003, 7, 4));
    EXPECT_EQ(StrToDateTime("3:05 PM"), EncodeTime(15, 5, 0, 0));
    // What DateTimeToStr writes, StrToDateTime reads.
    for (TDateTime v : {EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 0), EncodeDate(2024, 2, 29),
                        EncodeDate(1850, 6, 15) - EncodeTime(8, 30, 0, 0)})
        EXPECT_EQ(StrToDateTime(DateTimeToStr(v)), v) << DateTimeToStr(v);
}

TEST_F(DateUtilsTest, InvalidTextRaisesWithTheFrameworkTexts)
{
    for (const char* text : {"", "7", "x", "7/4/2003x", "2/30/2003", "13/1/2003", "7//2003", "7-4-2003"}) {
        try {
            StrToDate(text);
            ADD_FAILURE() << text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid date");
        }
    }
    for (const char* text : {"", "25:00", "12:60", "13", "13:00 PM", "0:00 AM", "1:2:3:4", "12:30 XM", "12:"}) {
        try {
            StrToTime(text);
            ADD_FAILURE() << text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid time");
        }
    }
    for (const char* text : {"", "7/4/2003 25:00", "7/4/2003 x", "nonsense"}) {
        try {
            StrToDateTime(text);
            ADD_FAILURE() << text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid date and time");
        }
    }
    TDateTime v = 42;
    EXPECT_FALSE(TryStrToDate("x", v));
    EXPECT_FALSE(TryStrToTime("x", v));
    EXPECT_FALSE(TryStrToDateTime("x", v));
    EXPECT_EQ(v, 42);
}

TEST_F(DateUtilsTest, NowFollowsTheLocalClock)
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    const TDateTime expected = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                               EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
    const TDateTime now = Now();
    EXPECT_NEAR(now, expected, 5.0 / 86400); // within seconds of the C library's local time
    EXPECT_EQ(Date(), std::floor(Date()));
    EXPECT_GE(Time(), 0.0);
    EXPECT_LT(Time(), 1.0);
}

} // namespace
} // namespace orvex
