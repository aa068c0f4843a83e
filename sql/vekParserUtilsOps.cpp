// Operator evaluation with the engine's NULL rules, type conversion rules and
// the reading of date and time texts.

#include "sql/vekParserUtils.h"

namespace orvex {

bool VarIsTrue(const Variant& V)
{
    if (V.VType() == varBoolean)
        return V.AsBoolean();
    if (VarIsMissing(V) || V.IsArray())
        return false;
    try {
        return V.AsBoolean();
    } catch (const Exception&) {
        return false;
    }
}

TVekTruth VarTruth(const Variant& V)
{
    if (V.VType() == varBoolean)
        return V.AsBoolean() ? TVekTruth::True : TVekTruth::False;
    if (VarIsMissing(V) || V.IsArray())
        return TVekTruth::Unknown;
    try {
        return V.AsBoolean() ? TVekTruth::True : TVekTruth::False;
    } catch (const Exception&) {
        return TVekTruth::Unknown;
    }
}

bool PlainNumber(const Variant& V, double& Value)
{
    switch (V.VType()) {
    case varDouble:
        Value = V.AsDouble();
        return true;
    case varInteger:
    case varSmallint:
    case varByte:
        Value = V.AsInteger();
        return true;
    default:
        return false;
    }
}

namespace {

TVekTruth TruthOf(bool B) { return B ? TVekTruth::True : TVekTruth::False; }

} // namespace

// ========================================================= operators

void TVekOpEvaluator::EvaluateArithExprValues(TVekExprOperator Op, const Variant& A, const Variant& B,
                                              Variant& Result) const
{
    Result = Variant();
    // An unknown operand (Null, or the Empty result of an earlier operation)
    // makes the result unknown: Null + 1 + 2 stays unknown.
    if (VarIsMissing(A) || VarIsMissing(B))
        return;
    double X, Y;
    if ((A.VType() == varDouble || B.VType() == varDouble) && PlainNumber(A, X) && PlainNumber(B, Y)) {
        // A double operand gives a double.
        switch (Op) {
        case veoMINUS:
        case veoSUB:
            Result = Variant(X - Y);
            return;
        case veoADD:
            Result = Variant(X + Y);
            return;
        case veoMUL:
            Result = Variant(X * Y);
            return;
        case veoDIV:
            if (Y != 0)
                Result = Variant(X / Y);
            return;
        default:
            return;
        }
    }
    try {
        switch (Op) {
        case veoMINUS:
        case veoSUB:
            Result = A - B;
            break;
        case veoADD:
            Result = A + B;
            break;
        case veoMUL:
            Result = A * B;
            break;
        case veoDIV:
            Result = A / B;
            break;
        default:
            break;
        }
    } catch (const Exception&) {
        // Operators never raise: an impossible operation is unknown.
        Result = Variant();
    }
}

TVekTruth TVekOpEvaluator::EvaluateLogicalTruth(TVekExprOperator Op, TVekTruth L, TVekTruth R) const
{
    switch (Op) {
    case veoNOT:
        if (L != TVekTruth::Unknown)
            return TruthOf(L == TVekTruth::False);
        break;
    case veoAND:
        if (L != TVekTruth::Unknown && R != TVekTruth::Unknown)
            return TruthOf(L == TVekTruth::True && R == TVekTruth::True);
        break;
    case veoOR:
        if (L == TVekTruth::Unknown && R == TVekTruth::Unknown)
            break;
        if (L == TVekTruth::Unknown)
            return TruthOf(R == TVekTruth::True);
        if (R == TVekTruth::Unknown)
            return TruthOf(L == TVekTruth::True);
        return TruthOf(L == TVekTruth::True || R == TVekTruth::True);
    default:
        break;
    }
    return TVekTruth::Unknown;
}

void TVekOpEvaluator::InternalEvaluateLogicalExprValues(TVekExprOperator Op, const Variant& A,
                                                        const Variant& B, Variant& Result) const
{
    switch (Op) {
    case veoISBLANK:
        Result = Variant(VarIsMissing(A));
        break;
    case veoNOTBLANK:
        Result = Variant(!VarIsMissing(A));
        break;
    default:
        Result = TruthToVar(EvaluateLogicalTruth(Op, VarTruth(A), VarTruth(B)));
        break;
    }
}

Variant TVekOpEvaluator::EvaluateLogicalExprAsVar(TVekExprOperator Op, const Variant& A,
                                                  const Variant& B) const
{
    Variant Result;
    InternalEvaluateLogicalExprValues(Op, A, B, Result);
    return Result;
}

bool TVekOpEvaluator::EvaluateLogicalExprAsBoolean(TVekExprOperator Op, const Variant& A,
                                                   const Variant& B) const
{
    return VarIsTrue(EvaluateLogicalExprAsVar(Op, A, B));
}

TVekTruth TVekOpEvaluator::EvaluateRelopTruth(TVekExprOperator Op, const Variant& A, const Variant& B,
                                              bool ExcludeNulls) const
{
    const bool AMissing = VarIsMissing(A);
    const bool BMissing = VarIsMissing(B);
    if (ExcludeNulls && (AMissing || BMissing))
        return TVekTruth::Unknown;
    if (AMissing || BMissing) {
        // Null ranks below every value; two Nulls are equal.
        const int C = AMissing && BMissing ? 0 : AMissing ? -1 : 1;
        switch (Op) {
        case veoEQ:
            return TruthOf(C == 0);
        case veoNE:
            return TruthOf(C != 0);
        case veoGT:
            return TruthOf(C > 0);
        case veoLT:
            return TruthOf(C < 0);
        case veoGE:
            return TruthOf(C >= 0);
        case veoLE:
            return TruthOf(C <= 0);
        default:
            return TVekTruth::False;
        }
    }
    double X, Y;
    if (PlainNumber(A, X) && PlainNumber(B, Y)) {
        switch (Op) {
        case veoEQ:
        case veoLIKE:
            return TruthOf(X == Y);
        case veoNE:
            return TruthOf(X != Y);
        case veoGT:
            return TruthOf(X > Y);
        case veoLT:
            return TruthOf(X < Y);
        case veoGE:
            return TruthOf(X >= Y);
        case veoLE:
            return TruthOf(X <= Y);
        default:
            return TVekTruth::False;
        }
    }
    try {
        switch (Op) {
        case veoEQ:
        case veoLIKE:
            return TruthOf(A == B);
        case veoNE:
            return TruthOf(A != B);
        case veoGT:
            return TruthOf(A > B);
        case veoLT:
            return TruthOf(A < B);
        case veoGE:
            return TruthOf(A >= B);
        case veoLE:
            return TruthOf(A <= B);
        default:
            return TVekTruth::False;
        }
    } catch (const Exception&) {
        // Values that cannot be compared (a word beside a number): unknown.
        return TVekTruth::Unknown;
    }
}

void TVekOpEvaluator::InternalEvaluateRelopExprValues(TVekExprOperator Op, const Variant& A,
                                                      const Variant& B, Variant& Result,
                                                      bool ExcludeNulls) const
{
    Result = TruthToVar(EvaluateRelopTruth(Op, A, B, ExcludeNulls));
}

Variant TVekOpEvaluator::EvaluateRelopExprAsVar(TVekExprOperator Op, const Variant& A, const Variant& B,
                                                bool ExcludeNulls) const
{
    Variant Result;
    InternalEvaluateRelopExprValues(Op, A, B, Result, ExcludeNulls);
    return Result;
}

bool TVekOpEvaluator::EvaluateRelopExprAsBoolean(TVekExprOperator Op, const Variant& A,
                                                 const Variant& B, bool ExcludeNulls) const
{
    return VarIsTrue(EvaluateRelopExprAsVar(Op, A, B, ExcludeNulls));
}

// ======================================================== conversions

bool TVekDataConversionValidator::CheckDataConversionValid(TFieldType FromType, TFieldType ToType) const
{
    if (FromType != ftBoolean)
        return true;
    return ToType != ftFloat && ToType != ftDate && ToType != ftTime && ToType != ftDateTime &&
           ToType != ftBlob;
}

void TVekDataConversionValidator::ConvertStrToDateTime(const std::string& Text, TFieldType FieldType,
                                                       Variant& Result) const
{
    static const char* const Caller = "TExprOptimizerMgr.ConvertStrToDateTime";
    if (Text.empty()) {
        Result = Null();
        return;
    }
    TVekStrToDateTimeConverter Converter;
    TDateTime DatePart = 0;
    TDateTime TimePart = 0;
    if (FieldType == ftDate || FieldType == ftDateTime) {
        if (!Converter.ConvertStrToDate(Text, TVekStrToDateTimeConverter::GetSDFOrder(), ftDate, DatePart) &&
            !Converter.ConvertStrToDate(Text, "YMD", ftDate, DatePart))
            VekDatabaseErrorFmt(10059, Caller, SvekDataFormatErrorFmt, {Text, "yyyy-mmm-dd"}, nullptr);
    }
    if (FieldType == ftTime ||
        (FieldType == ftDateTime && static_cast<int>(Text.size()) > Converter.LastPos())) {
        const int From = FieldType == ftTime ? 1 : Converter.LastPos();
        if (Converter.GetTime(Text, From, TimePart) < 0)
            VekDatabaseErrorFmt(10058, Caller, SvekDataFormatErrorFmt,
                                {Text, FormatSettings().LongTimeFormat}, nullptr);
    }
    Result = Variant(DatePart + TimePart);
}

void TVekDataConversionValidator::PerformDataConversionToType(TFieldType FromType, TFieldType ToType,
                                                              const Variant& Value, Variant& Result) const
{
    if (FromType == ftString && (ToType == ftDate || ToType == ftTime || ToType == ftDateTime)) {
        ConvertStrToDateTime(VarToStr(Value), ToType, Result);
        return;
    }
    Result = Value;
}

// ===================================================== date and time texts

namespace {

bool IsAsciiDigit(char C) { return C >= '0' && C <= '9'; }
bool IsAsciiAlnum(char C)
{
    return IsAsciiDigit(C) || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
}

// A run of digits as a number; -1 for an empty run, anything else, or a
// number too large to matter for a date or time.
int DigitsValue(const std::string& S)
{
    if (S.empty() || S.size() > 9)
        return -1;
    int Value = 0;
    for (char C : S) {
        if (!IsAsciiDigit(C))
            return -1;
        Value = Value * 10 + (C - '0');
    }
    return Value;
}

int SkipBlanks(const std::string& Text, int Pos)
{
    while (Pos >= 1 && Pos <= static_cast<int>(Text.size()) && Text[static_cast<std::size_t>(Pos - 1)] == ' ')
        ++Pos;
    return Pos;
}

} // namespace

std::string TVekStrToDateTimeConverter::GetSDFOrder()
{
    const std::string Format = UpperCase(FormatSettings().ShortDateFormat);
    const int Y = Pos("Y", Format);
    const int M = Pos("M", Format);
    const int D = Pos("D", Format);
    const std::string MD = M <= D ? "MD" : "DM";
    const bool YFirst = Y > 0 && (M == 0 || Y < M) && (D == 0 || Y < D);
    return YFirst ? "Y" + MD : MD + "Y";
}

int TVekStrToDateTimeConverter::GetDayStr(const std::string& S)
{
    if (S.empty())
        return 0;
    const std::string Capital = AnsiUpperCase(S.substr(0, 1)) + AnsiLowerCase(S.substr(1));
    for (int I = 0; I < 7; ++I)
        if (Pos(FormatSettings().LongDayNames[I], Capital) > 0)
            return I + 1;
    return 0;
}

int TVekStrToDateTimeConverter::GetMonthStr(const std::string& S)
{
    for (int I = 0; I < 12; ++I)
        if (AnsiSameText(FormatSettings().ShortMonthNames[I], S))
            return I + 1;
    return 0;
}

int TVekStrToDateTimeConverter::ScanDateStrData(const std::string& Text, int Pos, std::string& Part)
{
    Part.clear();
    const int Len = static_cast<int>(Text.size());
    while (Pos >= 1 && Pos <= Len && IsAsciiAlnum(Text[static_cast<std::size_t>(Pos - 1)])) {
        Part += Text[static_cast<std::size_t>(Pos - 1)];
        ++Pos;
    }
    return Part.empty() ? 0 : Pos;
}

int TVekStrToDateTimeConverter::ScanDateStrGap(const std::string& Text, int Pos)
{
    const int Len = static_cast<int>(Text.size());
    while (Pos >= 1 && Pos <= Len && !IsAsciiAlnum(Text[static_cast<std::size_t>(Pos - 1)]))
        ++Pos;
    return Pos > Len ? 0 : Pos;
}

int TVekStrToDateTimeConverter::ScanTimeStrData(const std::string& Text, int Pos, std::string& Part)
{
    Part.clear();
    const int Len = static_cast<int>(Text.size());
    while (Pos >= 1 && Pos <= Len && IsAsciiDigit(Text[static_cast<std::size_t>(Pos - 1)])) {
        Part += Text[static_cast<std::size_t>(Pos - 1)];
        ++Pos;
    }
    return Part.empty() ? 0 : Pos;
}

int TVekStrToDateTimeConverter::ScanTimeStrGap(const std::string& Text, int Pos)
{
    const int Len = static_cast<int>(Text.size());
    while (Pos >= 1 && Pos <= Len && !IsAsciiDigit(Text[static_cast<std::size_t>(Pos - 1)]))
        ++Pos;
    return Pos > Len ? 0 : Pos;
}

int TVekStrToDateTimeConverter::GetDate(const std::string& Text, const std::string& Order, int StartPos,
                                        TDateTime& Date)
{
    int Pos = SkipBlanks(Text, StartPos < 1 ? 1 : StartPos);
    int Day = -1, Month = -1, Year = -1;
    int Parts = 0;
    bool Valid = true;
    for (int N = 0; N < 3; ++N) {
        std::string Part;
        const int After = ScanDateStrData(Text, Pos, Part);
        if (After == 0)
            break;
        ++Parts;
        Pos = After;
        const char Role = N < static_cast<int>(Order.size()) ? Order[static_cast<std::size_t>(N)] : ' ';
        switch (Role) {
        case 'D':
            // Only digits name a day: a day written in letters is no date.
            Day = DigitsValue(Part);
            if (Day < 0)
                Valid = false;
            break;
        case 'M':
            Month = DigitsValue(Part);
            if (Month < 0)
                Month = Part.size() >= 3 ? GetMonthStr(Part) : 0;
            break;
        case 'Y': {
            Year = DigitsValue(Part);
            if (Year >= 0 && Year < 100) {
                int CurrentYear, CurrentMonth, CurrentDay;
                DecodeDate(orvex::Date(), CurrentYear, CurrentMonth, CurrentDay);
                const int Window = FormatSettings().TwoDigitYearCenturyWindow;
                const int Threshold = CurrentYear - Window;
                Year += (Threshold / 100) * 100;
                if (Window > 0 && Year < Threshold)
                    Year += 100;
            }
            break;
        }
        default:
            Valid = false;
            break;
        }
        if (N < 2) {
            const int Gap = ScanDateStrGap(Text, Pos);
            if (Gap == 0)
                break;
            Pos = Gap;
        }
    }
    if (!Valid || Parts != 3 || Month < 1 || Month > 12 || Day < 1 || Day > 31 || Year < 0)
        return -1;
    if (!TryEncodeDate(Year, Month, Day, Date))
        return -1;
    return Pos;
}

int TVekStrToDateTimeConverter::GetTime(const std::string& Text, int StartPos, TDateTime& Time)
{
    int Pos = SkipBlanks(Text, StartPos < 1 ? 1 : StartPos);
    int Values[4] = {0, 0, 0, 0};
    int Read = 0;
    int LastEnd = -1;
    for (int N = 0; N < 4; ++N) {
        std::string Part;
        const int After = ScanTimeStrData(Text, Pos, Part);
        if (After == 0)
            break;
        Values[N] = DigitsValue(Part);
        ++Read;
        Pos = After;
        LastEnd = After;
        if (N < 3) {
            const int Gap = ScanTimeStrGap(Text, Pos);
            if (Gap == 0)
                break;
            Pos = Gap;
        }
    }
    if (Read == 0)
        return -1;
    const std::string Upper = AnsiUpperCase(Text);
    const TFormatSettings& FS = FormatSettings();
    auto Contains = [&Upper](const std::string& S) { return !S.empty() && orvex::Pos(S, Upper) > 0; };
    if ((Contains("PM") || Contains(AnsiUpperCase(FS.TimePMString))) && Values[0] >= 0 && Values[0] < 12)
        Values[0] += 12;
    else if ((Contains("AM") || Contains(AnsiUpperCase(FS.TimeAMString))) && Values[0] == 12)
        Values[0] = 0;
    if (!TryEncodeTime(Values[0], Values[1], Values[2], Values[3], Time))
        return -1;
    return LastEnd;
}

bool TVekStrToDateTimeConverter::InternalConvertStrToDate(const std::string& Text, const std::string& Order,
                                                          TFieldType FieldType, int StartPos,
                                                          TDateTime& DateTime)
{
    int Pos = StartPos <= 0 ? 1 : StartPos;
    DateTime = 0;
    if (FieldType == ftDate || FieldType == ftDateTime) {
        TDateTime D = 0;
        Pos = GetDate(Text, Order.empty() ? GetSDFOrder() : Order, Pos, D);
        if (Pos > 0)
            DateTime = D;
    }
    if (Pos > 0 && (FieldType == ftTime || FieldType == ftDateTime)) {
        TDateTime T = 0;
        Pos = GetTime(Text, Pos, T);
        if (Pos > 0)
            DateTime += T;
    }
    SetLastPos(Pos);
    return Pos > 0;
}

bool TVekStrToDateTimeConverter::ConvertStrToDate(const std::string& Text, const std::string& Order,
                                                  TFieldType FieldType, TDateTime& DateTime)
{
    return InternalConvertStrToDate(Text, Order, FieldType, 1, DateTime);
}

bool TVekStrToDateTimeConverter::ConvertStrToDateFromLastPos(const std::string& Text,
                                                             const std::string& Order,
                                                             TFieldType FieldType, TDateTime& DateTime)
{
    return InternalConvertStrToDate(Text, Order, FieldType, FLastPos, DateTime);
}

} // namespace orvex
