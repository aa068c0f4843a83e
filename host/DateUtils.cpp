// TDateTime arithmetic: the format settings, encoding and decoding, time
// stamps and the system clock.

#include "host/DateUtils.h"
#include "host/SysUtils.h"

#include <cmath>
#include <ctime>

namespace orvex {

namespace {

constexpr int MSecsPerDayInt = 86400000;
// Beyond this many days either side of 1899-12-30 a value is no date at all
// (the framework's dates end in 9999); it decodes as zero.
constexpr double MaxDateMagnitude = 1.0e7;
// Day number (TTimeStamp.Date) of 1970-01-01, where the civil-date helpers count from.
constexpr int UnixEpochDay = 719163;

// Days since 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

} // namespace

TFormatSettings& FormatSettings()
{
    static TFormatSettings settings;
    return settings;
}

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    result = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                               static_cast<unsigned>(day)) +
                                 UnixEpochDay - DateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result)
{
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
        msec > 999)
        return false;
    result = (((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r))
        throw EConvertError("Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec)
{
    TDateTime r;
    if (!TryEncodeTime(hour, min, sec, msec, r))
        throw EConvertError("Invalid argument to time encode");
    return r;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value)
{
    if (!std::isfinite(value) || std::fabs(value) > MaxDateMagnitude)
        return {0, 0};
    // To whole milliseconds first, so that 0.99999999 of a millisecond is no
    // millisecond short. A negative value holds the day in its integer part and
    // the time of day as a positive fraction: -1.25 is 1899-12-29 06:00.
    const long long ms = std::llround(value * MSecsPerDay);
    const long long magnitude = ms < 0 ? -ms : ms;
    const long long days = magnitude / MSecsPerDayInt;
    TTimeStamp stamp;
    stamp.Time = static_cast<int>(magnitude % MSecsPerDayInt);
    stamp.Date = static_cast<int>((ms < 0 ? -days : days) + DateDelta);
    return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp)
{
    if (stamp.Time < 0 || stamp.Time >= MSecsPerDayInt || stamp.Date <= 0)
        throw EConvertError("'" + std::to_string(stamp.Time) + "." + std::to_string(stamp.Date) +
                            "' is not a valid timestamp");
    const double days = static_cast<double>(stamp.Date) - DateDelta;
    const double time = stamp.Time / MSecsPerDay;
    return days >= 0 ? days + time : days - time;
}

double TimeStampToMSecs(const TTimeStamp& stamp)
{
    return static_cast<double>(stamp.Date) * MSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs)
{
    if (!std::isfinite(msecs) || std::fabs(msecs) > MaxDateMagnitude * 2 * MSecsPerDay)
        return {0, 0};
    const long long ms = std::llround(msecs);
    TTimeStamp stamp;
    stamp.Date = static_cast<int>(ms / MSecsPerDayInt);
    stamp.Time = static_cast<int>(ms % MSecsPerDayInt);
    return stamp;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day)
{
    const TTimeStamp stamp = DateTimeToTimeStamp(value);
    if (stamp.Date <= 0) {
        year = month = day = 0;
        return;
    }
    CivilFromDays(static_cast<long long>(stamp.Date) - UnixEpochDay, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec)
{
    int t = DateTimeToTimeStamp(value).Time;
    msec = t % 1000;
    t /= 1000;
    sec = t % 60;
    t /= 60;
    min = t % 60;
    hour = t / 60;
}

int DayOfWeek(TDateTime value)
{
    // Day 1 (0001-01-01) was a Monday.
    const int date = DateTimeToTimeStamp(value).Date;
    return ((date % 7) + 7) % 7 + 1;
}

TDateTime Now()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                      static_cast<int>(ts.tv_nsec / 1000000));
}

TDateTime Date()
{
    return std::floor(Now());
}

TDateTime Time()
{
    const TDateTime now = Now();
    return now - std::floor(now);
}

} // namespace orvex
