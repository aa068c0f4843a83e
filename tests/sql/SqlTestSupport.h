#pragma once
// Helpers shared by the SQL tests: pinned date settings, a table list and a
// one-row record source written here, and parse-and-evaluate in one call.

#include "host/DateUtils.h"
#include "sql/vekExprEvaluator.h"
#include "sql/vekExprParser.h"

#include <map>
#include <memory>
#include <string>

namespace orvex::sqltest {

// Pins the format settings the parsers and conversions read, and restores
// them afterwards.
class PinnedFormats {
public:
    PinnedFormats()
        : FSaved(FormatSettings())
    {
        TFormatSettings& FS = FormatSettings();
        FS.DateSeparator = '-';
        FS.TimeSeparator = ':';
        FS.DecimalSeparator = '.';
        FS.ShortDateFormat = "yyyy-mm-dd";
        FS.LongTimeFormat = "hh:nn:ss";
        FS.ShortTimeFormat = "hh:nn";
        FS.TimeAMString = "AM";
        FS.TimePMString = "PM";
        FS.TwoDigitYearCenturyWindow = 50;
    }
    ~PinnedFormats() { FormatSettings() = FSaved; }

private:
    TFormatSettings FSaved;
};

struct ColumnDef {
    const char* Name;
    TFieldType Type;
    int Size; // for strings: characters
    Variant Value;
};

// One row of typed columns, as a table list entry and as a record source.
class RowProvider : public TVekExprDataProvider {
public:
    explicit RowProvider(const std::vector<ColumnDef>& Columns, const std::string& TableName = "T")
    {
        SetDBStringCompare(DBANSICompareStrings);
        TTableNameItem* Table = FTables.Add();
        Table->SetTableName(TableName);
        int No = 1;
        for (const ColumnDef& C : Columns) {
            for (TInternalFields* Fields : {ProviderFields(), Table->TableFields()}) {
                TInternalFieldItem* F = Fields->Add();
                F->SetFieldName(C.Name);
                F->SetDataType(C.Type);
                if (C.Type == ftString)
                    F->SetFieldSize(C.Size + 1);
                F->SetFieldNo(No);
            }
            FValues[No] = C.Value;
            ++No;
        }
    }

    Variant GetDataAsVariant(Integer FieldNo) override
    {
        auto It = FValues.find(FieldNo);
        return It == FValues.end() ? Variant() : It->second;
    }
    void SetValue(const std::string& Name, const Variant& V)
    {
        FValues[ProviderFields()->FindField(Name)->FieldNo()] = V;
    }
    TTableList* Tables() { return &FTables; }

private:
    TTableList FTables;
    std::map<Integer, Variant> FValues;
};

// One column of each kind, with a value or Null: i 7, n Null, f 2.5,
// s 'Hello', e '', z Null, d 2001-12-25, t 10:20:30.250,
// dt 2001-12-25 10:20:30, b True, c 12.34, si -3.
inline std::vector<ColumnDef> StandardColumns()
{
    return {
        {"i", ftInteger, 0, Variant(7)},
        {"n", ftInteger, 0, Null()},
        {"f", ftFloat, 0, Variant(2.5)},
        {"s", ftString, 20, Variant("Hello")},
        {"e", ftString, 20, Variant("")},
        {"z", ftString, 20, Null()},
        {"d", ftDate, 0, Variant::FromDate(EncodeDate(2001, 12, 25))},
        {"t", ftTime, 0, Variant::FromDate(EncodeTime(10, 20, 30, 250))},
        {"dt", ftDateTime, 0, Variant::FromDate(EncodeDate(2001, 12, 25) + EncodeTime(10, 20, 30, 0))},
        {"b", ftBoolean, 0, Variant(true)},
        {"c", ftCurrency, 0, Variant(Currency::FromDouble(12.34))},
        {"si", ftSmallint, 0, Variant::FromSmallint(-3)},
    };
}

struct EvalResult {
    std::string Error; // the parser's message with its position, empty when none
    Variant Value;
    TFieldType Type = ftUnknown;
    bool Condition = false; // Evaluate()
};

inline TVekParserOptions AllOptions()
{
    return {vpoExtSyntax, vpoParameters, vpoSubqueries};
}

// Parses Text as a filter condition over Provider's table and evaluates it.
inline EvalResult ParseAndEvaluate(const std::string& Text, RowProvider& Provider,
                                   TVekParserOptions Options = AllOptions(), bool ExcludeNulls = false)
{
    EvalResult Result;
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText(Text);
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Provider.Tables());
    Parser.Execute(Options, Pre.GetSection(vstWhere));
    if (Parser.HasParseError()) {
        Result.Error = Parser.GetErrorMsg();
        return Result;
    }
    if (!Parser.Root())
        return Result;
    Result.Type = Parser.Root()->DataType();
    TExprEvaluator Evaluator;
    Evaluator.SetExcludeRelopNulls(ExcludeNulls);
    Evaluator.Prepare(&Provider, Parser.Root());
    Result.Value = Evaluator.EvaluateValueExpr();
    Evaluator.Reset();
    Result.Condition = Evaluator.Evaluate();
    return Result;
}

// A value as text with its variant type: "unknown", "null", "true", "i:7",
// "si:7", "f:2.5", "c:12.34", "d:2001-12-25 00:00:00.000", "'text'".
inline std::string Show(const Variant& V)
{
    switch (V.VType()) {
    case varEmpty:
        return "unknown";
    case varNull:
        return "null";
    case varBoolean:
        return V.AsBoolean() ? "true" : "false";
    case varInteger:
    case varByte:
        return "i:" + std::to_string(V.AsInteger());
    case varSmallint:
        return "si:" + std::to_string(V.AsInteger());
    case varDouble:
        return "f:" + Format("%g", {V.AsDouble()});
    case varCurrency:
        return "c:" + Format("%g", {V.AsDouble()});
    case varDate:
        return "d:" + FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", V.AsDateTime());
    case varString:
        return "'" + V.AsString() + "'";
    default:
        return "?";
    }
}

} // namespace orvex::sqltest
