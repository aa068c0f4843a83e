// ORDER BY, GROUP BY and data-type parsers.

#include "sql/vekMiscParsers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace orvex {

// ================================================================ numbers

bool SQLNumberToFloat(const std::string& Text, double& Value)
{
    std::size_t Start = 0;
    bool Negative = false;
    if (!Text.empty() && (Text[0] == '+' || Text[0] == '-')) {
        Negative = Text[0] == '-';
        Start = 1;
    }
    int Digits = 0;
    int Points = 0;
    for (std::size_t I = Start; I < Text.size(); ++I) {
        if (Text[I] >= '0' && Text[I] <= '9')
            ++Digits;
        else if (Text[I] == '.')
            ++Points;
        else
            return false;
    }
    if (Digits == 0 || Points > 1)
        return false;
    // from_chars wants a digit first: ".5" reads as "0.5".
    std::string Body = Text.substr(Start);
    if (Body[0] == '.')
        Body.insert(Body.begin(), '0');
    double Parsed = 0;
    const auto [Ptr, Ec] = std::from_chars(Body.data(), Body.data() + Body.size(), Parsed);
    if (Ec != std::errc() || Ptr != Body.data() + Body.size() || !std::isfinite(Parsed))
        return false;
    Value = Negative ? -Parsed : Parsed;
    return true;
}

bool SQLNumberToInteger(const std::string& Text, Integer& Value)
{
    double Parsed = 0;
    if (!SQLNumberToFloat(Text, Parsed) || Text.find('.') != std::string::npos)
        return false;
    if (Parsed < std::numeric_limits<Integer>::min() || Parsed > std::numeric_limits<Integer>::max())
        return false;
    Value = static_cast<Integer>(Parsed);
    return true;
}

// ================================================================ ORDER BY

void TOrderByItem::Assign(TPersistent* Source)
{
    auto* Other = dynamic_cast<TOrderByItem*>(Source);
    if (!Other) {
        TCollectionItem::Assign(Source);
        return;
    }
    FDescending = Other->FDescending;
    FFieldIndex = Other->FFieldIndex;
    FSortKey = Other->FSortKey;
}

TOrderByItem* TOrderByItems::AddOrderByItem(Integer FieldIndex, const std::string& SortKey, bool Descending)
{
    TOrderByItem* Item = Add();
    Item->SetFieldIndex(FieldIndex);
    Item->SetSortKey(SortKey);
    Item->SetDescending(Descending);
    return Item;
}

namespace {

bool EndsOrderByItem(TVekSQLToken Kind)
{
    return Kind == vstAscending || Kind == vstDescending || Kind == vstEnd || Kind == vstComma ||
           Kind == vstUnknown;
}

} // namespace

bool TVekOrderByParser::AtEndOfItems() const
{
    // A subquery's ORDER BY ends at its closing parenthesis.
    const TVekSQLToken Kind = CurrentTokenType();
    return Kind == vstUnknown || Kind == vstEnd || (IsSubquery() && Kind == vstRParen);
}

bool TVekOrderByParser::ExecuteOrderBy(TOrderByItems* Items, TParserStack* Stack)
{
    if (Items)
        Items->Clear();
    if (!Stack)
        return true;
    SetEndTokens({vstUnknown, vstGroupBy, vstHaving, vstOrderBy, vstEnd});
    Execute({vpoExtSyntax}, Stack);
    while (!HasParseError() && !AtEndOfItems()) {
        Integer FieldIndex = 0;
        std::string SortKey;
        if (CurrentTokenType() == vstNumber) {
            // Only a whole column number names a column.
            if (!SQLNumberToInteger(TokenName(), FieldIndex)) {
                SetError(CurrToken(), SvekInvalidToken);
                break;
            }
            NextToken();
        } else if (EndsOrderByItem(PeekAtTokenType(0)) || (IsSubquery() && PeekAtTokenType(0) == vstRParen)) {
            SortKey = TokenName();
            NextToken();
        } else {
            // The raw texts up to the item's end; parentheses of the key
            // itself (UPPER(a)) do not end it.
            int Depth = 0;
            do {
                if (CurrentTokenType() == vstLParen)
                    ++Depth;
                else if (CurrentTokenType() == vstRParen)
                    --Depth;
                SortKey += CurrToken()->RawTokenText();
                NextToken();
            } while (!EndsOrderByItem(CurrentTokenType()) && !(Depth == 0 && AtEndOfItems()));
            SortKey = Trim(SortKey);
        }
        const bool Descending = CurrentTokenType() == vstDescending;
        if (CurrentTokenType() == vstAscending || CurrentTokenType() == vstDescending)
            NextToken();
        if (Items)
            Items->AddOrderByItem(FieldIndex, SortKey, Descending);
        if (CurrentTokenType() == vstComma) {
            NextToken();
            // A comma promises a further item.
            if (AtEndOfItems())
                SetError(CurrToken(), SvekOrderByTerminateErr);
        }
    }
    return !HasParseError();
}

// ================================================================ GROUP BY

void TGroupByItem::Assign(TPersistent* Source)
{
    auto* Other = dynamic_cast<TGroupByItem*>(Source);
    if (!Other) {
        TCollectionItem::Assign(Source);
        return;
    }
    FFieldName = Other->FFieldName;
    FTableName = Other->FTableName;
    FResultSetIndex = Other->FResultSetIndex;
}

bool TVekGroupByParser::ExecuteGroupBy(TGroupByItems* Items, TParserStack* Stack)
{
    if (Items)
        Items->Clear();
    if (!Stack)
        return true;
    SetEndTokens({vstUnknown, vstHaving, vstUnion, vstOrderBy, vstEnd});
    Execute({vpoExtSyntax}, Stack);
    while (!HasParseError() && !AtEndToken()) {
        TGroupByItem* Item = Items ? Items->Add() : nullptr;
        std::string TableName, FieldName;
        if (CurrentTokenType() == vstTableName) {
            TableName = TokenName();
            NextToken();
        }
        if (CurrentTokenType() == vstFieldName) {
            FieldName = TokenName();
            NextToken();
        }
        if (Item) {
            Item->SetTableName(TableName);
            Item->SetFieldName(FieldName);
        }
        if (FieldName.empty()) {
            SetError(CurrToken(), SvekColumnNameErr);
            break;
        }
        if (CurrentTokenType() == vstComma) {
            NextToken();
            if (CurrentTokenType() == vstComma || AtEndToken()) {
                SetError(CurrToken(), SvekColumnNameMissingErr);
                break;
            }
        } else if (!AtEndToken()) {
            SetError(CurrToken(), SvekGroupByTerminateErr);
            break;
        }
    }
    return !HasParseError();
}

// =============================================================== data type

void TVekDataTypeParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    FInvalidDataTypes = {vstAutoInc};
    FNotNull = false;
    FScale = 0;
    FFieldSize = 0;
    FDataType = ftUnknown;
    if (!Stack)
        return;
    TBaseParser::Execute(Options, Stack);
}

bool TVekDataTypeParser::IsSpecifiedType(TFieldType FieldType)
{
    switch (FieldType) {
    case ftString:
    case ftFloat:
    case ftTime:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
        return true;
    default:
        return false;
    }
}

bool TVekDataTypeParser::TypeIncludesScale(TFieldType FieldType)
{
    switch (FieldType) {
    case ftFloat:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
        return true;
    default:
        return false;
    }
}

void TVekDataTypeParser::SetDefaultsForDataType(TFieldType FieldType)
{
    FScale = 0;
    FFieldSize = FieldType == ftString ? 1 : 0;
}

bool TVekDataTypeParser::ParseDataType()
{
    const TVekSQLToken Kind = CurrentTokenType();
    TFieldType Type;
    switch (Kind) {
    case vstChar:
    case vstVarChar:
        Type = ftString;
        break;
    case vstInt:
        Type = ftInteger;
        break;
    case vstSmallInt:
        Type = ftSmallint;
        break;
    case vstDate:
        Type = ftDate;
        break;
    case vstTime:
        Type = ftTime;
        break;
    case vstTimeStamp:
        Type = ftDateTime;
        break;
    case vstDecimal:
    case vstNumeric:
        Type = ftFloat;
        break;
    case vstBoolean:
        Type = ftBoolean;
        break;
    case vstMoney:
        Type = ftCurrency;
        break;
    case vstBlob:
        Type = ftBlob;
        break;
    case vstAutoInc:
        Type = ftAutoInc;
        break;
    default:
        SetError(CurrToken(), SvekDataTypeUnknown);
        return false;
    }
    if (FInvalidDataTypes.Contains(Kind)) {
        SetError(CurrToken(), SvekDataTypeInvalid);
        return false;
    }
    FDataType = Type;
    SetDefaultsForDataType(Type);
    NextToken();
    if (IsSpecifiedType(Type) && CurrentTokenType() == vstLParen) {
        NextToken();
        Integer Size = 0;
        if (CurrentTokenType() != vstNumber || !SQLNumberToInteger(TokenName(), Size) || Size < 0) {
            SetError(CurrToken(), SvekDataTypeSpecErr);
            return false;
        }
        FFieldSize = Size;
        NextToken();
        if (TypeIncludesScale(Type) && CurrentTokenType() == vstComma) {
            NextToken();
            Integer Scale = 0;
            if (CurrentTokenType() != vstNumber || !SQLNumberToInteger(TokenName(), Scale) || Scale < 0) {
                SetError(CurrToken(), SvekDataypeScaleErr);
                return false;
            }
            FScale = Scale;
            if (Type == ftBlob) {
                if (Scale == 1)
                    FDataType = ftMemo;
                else if (Scale == 3)
                    FDataType = ftFmtMemo;
                else if (Scale == 5)
                    FDataType = ftGraphic;
            }
            NextToken();
        }
        if (!TakeToken(vstRParen, SvekRParenMissing))
            return false;
    }
    if (FAllowConstraints && CurrentTokenType() == vstNot) {
        NextToken();
        if (CurrentTokenType() != vstNull) {
            SetError(CurrToken(), SvekInvalidToken);
            return false;
        }
        FNotNull = true;
        NextToken();
    }
    return !HasParseError();
}

} // namespace orvex
