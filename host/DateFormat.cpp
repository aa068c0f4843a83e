// TDateTime to and from text through the format settings.

#include "host/DateUtils.h"
#include "host/SysUtils.h"

#include <cmath>

namespace orvex {

namespace {

// Nested formats (c, ddddd, dddddd, t, tt) expand this deep at most, so that a
// format naming itself cannot recurse without end.
constexpr int MaxFormatDepth = 2;

char Up(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool MatchesNoCase(std::string_view text, std::size_t at, std::string_view word)
{
    if (word.empty() || at > text.size() || text.size() - at < word.size())
        return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (Up(text[at + k]) != Up(word[k]))
            return false;
    return true;
}

void AppendNumber(std::string& out, int value, int minDigits)
{
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < minDigits)
        out.append(static_cast<std::size_t>(minDigits) - digits.size(), '0');
    out += digits;
}

class TDateTimeWriter {
public:
    explicit TDateTimeWriter(TDateTime value) : FSettings(FormatSettings())
    {
        DecodeDate(value, FYear, FMonth, FDay);
        DecodeTime(value, FHour, FMin, FSec, FMSec);
        FDayOfWeek = DayOfWeek(value);
        FMidnight = DateTimeToTimeStamp(value).Time == 0;
    }

    void Write(std::string& out, std::string_view fmt, int depth)
    {
        if (depth > MaxFormatDepth)
            return;
        char lastToken = ' ';
        std::size_t i = 0;
        while (i < fmt.size()) {
            const char c = fmt[i];
            const char token = Up(c);
            if (c == '"' || c == '\'') { // quoted literal text
                const std::size_t close = fmt.find(c, i + 1);
                const std::size_t end = close == std::string_view::npos ? fmt.size() : close;
                out.append(fmt, i + 1, end - i - 1);
                i = end == fmt.size() ? end : end + 1;
                continue;
            }
            if (c == '/') {
                out += FSettings.DateSeparator;
                ++i;
                continue;
            }
            if (c == ':') {
                out += FSettings.TimeSeparator;
                ++i;
                continue;
            }
            if (token == 'A') {
                if (!WriteAmPm(out, fmt, i))
                    out += fmt[i++];
                lastToken = token;
                continue;
            }
            if (token != 'C' && token != 'D' && token != 'M' && token != 'Y' && token != 'H' &&
                token != 'N' && token != 'S' && token != 'Z' && token != 'T') {
                out += c;
                ++i;
                continue;
            }
            std::size_t run = 1;
            while (i + run < fmt.size() && Up(fmt[i + run]) == token)
                ++run;
            if (token == 'C')
                run = 1; // each "c" stands alone
            const int count = static_cast<int>(run);
            i += run;
            switch (token) {
            case 'C':
                Write(out, FSettings.ShortDateFormat, depth + 1);
                if (!FMidnight) {
                    out += ' ';
                    Write(out, FSettings.LongTimeFormat, depth + 1);
                }
                break;
            case 'D':
                switch (count) {
                case 1: AppendNumber(out, FDay, 1); break;
                case 2: AppendNumber(out, FDay, 2); break;
                case 3: out += FSettings.ShortDayNames[FDayOfWeek - 1]; break;
                case 4: out += FSettings.LongDayNames[FDayOfWeek - 1]; break;
                case 5: Write(out, FSettings.ShortDateFormat, depth + 1); break;
                default: Write(out, FSettings.LongDateFormat, depth + 1); break;
                }
                break;
            case 'M':
                if (lastToken == 'H' && count <= 2) { // "h:mm": the minutes
                    AppendNumber(out, FMin, count);
                } else if (count <= 2) {
                    AppendNumber(out, FMonth, count);
                } else if (FMonth >= 1) {
                    out += count == 3 ? FSettings.ShortMonthNames[FMonth - 1]
                                      : FSettings.LongMonthNames[FMonth - 1];
                }
                break;
            case 'Y':
                if (count <= 2)
                    AppendNumber(out, FYear % 100, 2);
                else
                    AppendNumber(out, FYear, 4);
                break;
            case 'H': {
                int hour = FHour;
                if (TwelveHourClock(fmt, i)) {
                    hour %= 12;
                    if (hour == 0)
                        hour = 12;
                }
                AppendNumber(out, hour, count == 1 ? 1 : 2);
                break;
            }
            case 'N': AppendNumber(out, FMin, count == 1 ? 1 : 2); break;
            case 'S': AppendNumber(out, FSec, count == 1 ? 1 : 2); break;
            case 'Z': AppendNumber(out, FMSec, count == 1 ? 1 : 3); break;
            case 'T':
                Write(out, count == 1 ? FSettings.ShortTimeFormat : FSettings.LongTimeFormat, depth + 1);
                break;
            default: break;
            }
            lastToken = token;
        }
    }

private:
    const TFormatSettings& FSettings;
    int FYear, FMonth, FDay, FHour, FMin, FSec, FMSec, FDayOfWeek;
    bool FMidnight;

    // "am/pm" and "a/p" in the case written; "ampm" as the settings' texts.
    bool WriteAmPm(std::string& out, std::string_view fmt, std::size_t& i) const
    {
        const bool pm = FHour >= 12;
        if (MatchesNoCase(fmt, i, "am/pm")) {
            out.append(fmt.substr(pm ? i + 3 : i, 2));
            i += 5;
        } else if (MatchesNoCase(fmt, i, "a/p")) {
            out += fmt[pm ? i + 2 : i];
            i += 3;
        } else if (MatchesNoCase(fmt, i, "ampm")) {
            out += pm ? FSettings.TimePMString : FSettings.TimeAMString;
            i += 4;
        } else {
            return false;
        }
        return true;
    }

    // An hour shows on the 12-hour clock when an am/pm specifier follows it
    // before the next hour specifier.
    static bool TwelveHourClock(std::string_view fmt, std::size_t from)
    {
        for (std::size_t j = from; j < fmt.size(); ++j) {
            const char c = fmt[j];
            if (c == '"' || c == '\'') {
                const std::size_t close = fmt.find(c, j + 1);
                if (close == std::string_view::npos)
                    return false;
                j = close;
            } else if (Up(c) == 'H') {
                return false;
            } else if (Up(c) == 'A' && (MatchesNoCase(fmt, j, "am/pm") || MatchesNoCase(fmt, j, "a/p") ||
                                        MatchesNoCase(fmt, j, "ampm"))) {
                return true;
            }
        }
        return false;
    }
};

// ------------------------------------------------------------------ parsing

enum class TDateOrder { MDY, DMY, YMD };

// The order of day, month and year in the short date format.
TDateOrder ShortDateOrder()
{
    const std::string& f = FormatSettings().ShortDateFormat;
    for (std::size_t i = 0; i < f.size(); ++i) {
        const char c = Up(f[i]);
        if (f[i] == '"' || f[i] == '\'') {
            const std::size_t close = f.find(f[i], i + 1);
            if (close == std::string::npos)
                break;
            i = close;
        } else if (c == 'D') {
            return TDateOrder::DMY;
        } else if (c == 'M') {
            return TDateOrder::MDY;
        } else if (c == 'Y') {
            return TDateOrder::YMD;
        }
    }
    return TDateOrder::MDY;
}

int CurrentYear()
{
    int y, m, d;
    DecodeDate(Now(), y, m, d);
    return y;
}

// A cursor over the text being parsed.
class TScanner {
public:
    explicit TScanner(const std::string& s) : FText(s) {}

    std::size_t Pos = 0;

    void SkipBlanks()
    {
        while (Pos < FText.size() && FText[Pos] == ' ')
            ++Pos;
    }

    bool AtEnd() const { return Pos >= FText.size(); }

    bool Char(char c)
    {
        SkipBlanks();
        if (Pos < FText.size() && FText[Pos] == c) {
            ++Pos;
            return true;
        }
        return false;
    }

    // Up to nine decimal digits; `digits` tells how many were written.
    bool Number(int& value, int& digits)
    {
        SkipBlanks();
        value = 0;
        digits = 0;
        while (Pos < FText.size() && FText[Pos] >= '0' && FText[Pos] <= '9') {
            if (digits == 9)
                return false;
            value = value * 10 + (FText[Pos] - '0');
            ++digits;
            ++Pos;
        }
        return digits > 0;
    }

    // 1 for the morning marker, 2 for the afternoon one, 0 for neither.
    int AmPm()
    {
        SkipBlanks();
        const TFormatSettings& fs = FormatSettings();
        const std::string_view words[] = {fs.TimeAMString, fs.TimePMString, "AM", "PM"};
        for (int k = 0; k < 4; ++k) {
            if (MatchesNoCase(FText, Pos, words[k])) {
                Pos += words[k].size();
                return k % 2 == 0 ? 1 : 2;
            }
        }
        return 0;
    }

private:
    const std::string& FText;
};

bool ScanDate(TScanner& sc, TDateTime& result)
{
    const char sep = FormatSettings().DateSeparator;
    int n1, n2, n3 = 0, d1, d2, d3 = 0;
    if (!sc.Number(n1, d1) || !sc.Char(sep) || !sc.Number(n2, d2))
        return false;
    int year, month, day, yearDigits;
    const TDateOrder order = ShortDateOrder();
    if (sc.Char(sep)) {
        if (!sc.Number(n3, d3))
            return false;
        switch (order) {
        case TDateOrder::YMD: year = n1, yearDigits = d1, month = n2, day = n3; break;
        case TDateOrder::DMY: day = n1, month = n2, year = n3, yearDigits = d3; break;
        default: month = n1, day = n2, year = n3, yearDigits = d3; break;
        }
    } else {
        // Two numbers: month and day (in the format's order) of this year.
        year = CurrentYear();
        yearDigits = 4;
        if (order == TDateOrder::DMY)
            day = n1, month = n2;
        else
            month = n1, day = n2;
    }
    if (yearDigits <= 2) {
        // Into the hundred years that begin TwoDigitYearCenturyWindow years ago.
        const int window = FormatSettings().TwoDigitYearCenturyWindow;
        const int base = CurrentYear() - (window > 0 ? window : 0);
        year += base / 100 * 100;
        if (window > 0 && year < base)
            year += 100;
    }
    return TryEncodeDate(year, month, day, result);
}

bool ScanTime(TScanner& sc, TDateTime& result)
{
    const TFormatSettings& fs = FormatSettings();
    int amPm = sc.AmPm();
    int hour, min = 0, sec = 0, msec = 0, digits;
    if (!sc.Number(hour, digits))
        return false;
    bool haveMinutes = false;
    if (sc.Char(fs.TimeSeparator)) {
        if (!sc.Number(min, digits))
            return false;
        haveMinutes = true;
        if (sc.Char(fs.TimeSeparator)) {
            if (!sc.Number(sec, digits))
                return false;
            if (sc.Char(fs.DecimalSeparator) && !sc.Number(msec, digits))
                return false;
        }
    }
    if (amPm == 0)
        amPm = sc.AmPm();
    if (!haveMinutes && amPm == 0)
        return false;
    if (amPm != 0) {
        if (hour < 1 || hour > 12)
            return false;
        if (hour == 12)
            hour = 0;
        if (amPm == 2)
            hour += 12;
    }
    return TryEncodeTime(hour, min, sec, msec, result);
}

bool ScanToEnd(TScanner& sc)
{
    sc.SkipBlanks();
    return sc.AtEnd();
}

[[noreturn]] void InvalidText(const std::string& s, const char* what)
{
    throw EConvertError("'" + s + "' is not a valid " + what);
}

} // namespace

std::string FormatDateTime(const std::string& format, TDateTime value)
{
    std::string out;
    TDateTimeWriter(value).Write(out, format.empty() ? std::string_view("c") : format, 0);
    return out;
}

std::string DateTimeToStr(TDateTime value)
{
    return FormatDateTime("c", value);
}

std::string DateToStr(TDateTime value)
{
    return FormatDateTime("ddddd", value);
}

std::string TimeToStr(TDateTime value)
{
    return FormatDateTime("tt", value);
}

bool TryStrToDate(const std::string& s, TDateTime& value)
{
    TScanner sc(s);
    TDateTime d;
    if (!ScanDate(sc, d) || !ScanToEnd(sc))
        return false;
    value = d;
    return true;
}

bool TryStrToTime(const std::string& s, TDateTime& value)
{
    TScanner sc(s);
    TDateTime t;
    if (!ScanTime(sc, t) || !ScanToEnd(sc))
        return false;
    value = t;
    return true;
}

bool TryStrToDateTime(const std::string& s, TDateTime& value)
{
    TScanner sc(s);
    TDateTime d, t = 0;
    if (ScanDate(sc, d) && (ScanToEnd(sc) || (ScanTime(sc, t) && ScanToEnd(sc)))) {
        // Before 1899-12-30 the time of day counts away from zero.
        value = d >= 0 ? d + t : d - t;
        return true;
    }
    return TryStrToTime(s, value);
}

TDateTime StrToDate(const std::string& s)
{
    TDateTime v;
    if (!TryStrToDate(s, v))
        InvalidText(s, "date");
    return v;
}

TDateTime StrToTime(const std::string& s)
{
    TDateTime v;
    if (!TryStrToTime(s, v))
        InvalidText(s, "time");
    return v;
}

TDateTime StrToDateTime(const std::string& s)
{
    TDateTime v;
    if (!TryStrToDateTime(s, v))
        InvalidText(s, "date and time");
    return v;
}

} // namespace orvex
