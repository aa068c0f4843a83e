#pragma once
// TDateTime routines of the host framework: encode and decode, the clock,
// time stamps, and conversion to and from text through one format-settings
// object that tests can pin.

#include "host/System.h"

#include <string>

namespace orvex {

struct TFormatSettings {
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    std::string ShortDateFormat = "m/d/yyyy";
    std::string LongDateFormat = "dddd, mmmm d, yyyy";
    std::string ShortTimeFormat = "h:nn AMPM";
    std::string LongTimeFormat = "h:nn:ss AMPM";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::string ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::string LongMonthNames[12] = {"January", "February", "March",     "April",
                                      "May",     "June",     "July",      "August",
                                      "September", "October", "November", "December"};
    std::string ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::string LongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                   "Thursday", "Friday", "Saturday"};
    // Two-digit years are placed in the hundred years that begin this many
    // years before the current year (0: always the current century).
    int TwoDigitYearCenturyWindow = 50;
    // Money (the Format type "m"): the currency symbol; its place for positive
    // amounts (0 "$1", 1 "1$", 2 "$ 1", 3 "1 $") and for negative ones
    // (0 "($1)", 1 "-$1", 2 "$-1", 3 "$1-", 4 "(1$)", 5 "-1$", 6 "1-$", 7 "1$-",
    // 8 "-1 $", 9 "-$ 1", 10 "1 $-", 11 "$ 1-", 12 "$ -1", 13 "1- $", 14 "($ 1)",
    // 15 "(1 $)"); the default number of decimals.
    std::string CurrencyString = "$";
    int CurrencyFormat = 0;
    int NegCurrFormat = 0;
    int CurrencyDecimals = 2;
};

// The process-wide settings used by every routine here and by FloatToStr.
TFormatSettings& FormatSettings();

// The framework's time stamp: milliseconds of the day and days since
// 0001-01-01 plus one (1899-12-30 is day 693594).
struct TTimeStamp {
    int Time;
    int Date;
};

constexpr int DateDelta = 693594;
constexpr double MSecsPerDay = 86400000.0;

TDateTime Now();
TDateTime Date();
TDateTime Time();

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Raise EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime value); // 1 = Sunday

TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
double TimeStampToMSecs(const TTimeStamp& stamp);
TTimeStamp MSecsToTimeStamp(double msecs);

// FormatDateTime with the framework's specifiers (c d dd ddd dddd ddddd dddddd
// m mm mmm mmmm yy yyyy h hh n nn s ss z zzz t tt am/pm a/p ampm / : "..." '...').
std::string FormatDateTime(const std::string& format, TDateTime value);
std::string DateTimeToStr(TDateTime value); // "c": short date, then long time when not midnight
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
// Parse by the short date order and separators; raise EConvertError
// "'%s' is not a valid date" / "... time" / "... date and time".
TDateTime StrToDate(const std::string& s);
TDateTime StrToTime(const std::string& s);
TDateTime StrToDateTime(const std::string& s);
bool TryStrToDate(const std::string& s, TDateTime& value);
bool TryStrToTime(const std::string& s, TDateTime& value);
bool TryStrToDateTime(const std::string& s, TDateTime& value);

} // namespace orvex
