#include "sql/vekExecParsers.h"

#include "host/DBParams.h"
#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "sql/vekExprParser.h"
#include "sql/vekMiscParsers.h"


namespace orvex {

namespace {

inline constexpr const char* SvekInsertIncorrectlyTerminated = "Insert statement incorrectly terminated";
inline constexpr const char* SvekDeleteIncorrectlyTerminated = "Delete statement incorrectly terminated";
inline constexpr const char* SvekUpdateIncorrectlyTerminated = "Update statement incorrectly terminated";

bool IsSimpleLiteral(TVekSQLToken Token)
{
    switch (Token) {
    case vstFalse:
    case vstTrue:
    case vstValue:
    case vstStringLiteral:
    case vstNumber:
    case vstNull:
    case vstCurrentDate:
    case vstCurrentTime:
    case vstCurrentTimestamp:
        return true;
    default:
        return false;
    }
}

// The value of a simple literal token; false for a number that does not
// convert (left to the expression parser, which reports it).
bool LiteralValue(const TParserToken* Token, Variant& Value)
{
    switch (Token->Token()) {
    case vstFalse:
        Value = Variant(false);
        return true;
    case vstTrue:
        Value = Variant(true);
        return true;
    case vstValue:
    case vstStringLiteral:
        Value = Variant(Token->Text());
        return true;
    case vstNumber: {
        double number = 0;
        if (!SQLNumberToFloat(Token->Text(), number))
            return false;
        Value = Variant(number);
        return true;
    }
    case vstNull:
        Value = Null();
        return true;
    case vstCurrentDate:
        Value = Variant::FromDate(Date());
        return true;
    case vstCurrentTime:
        Value = Variant::FromDate(Time());
        return true;
    case vstCurrentTimestamp:
        Value = Variant::FromDate(Now());
        return true;
    default:
        return false;
    }
}

// The field type a literal value is taken as when it is checked against its
// target field: 16- and 32-bit integers and strings; nothing else.
TFieldType LiteralClass(const Variant& Value)
{
    switch (Value.VType()) {
    case varSmallint:
    case varInteger:
        return ftInteger;
    case varString:
        return ftString;
    default:
        return ftUnknown;
    }
}

// Whether token A stands before token B in the text.
bool TokenBefore(const TParserToken* A, const TParserToken* B)
{
    return A->LineNo() < B->LineNo() || (A->LineNo() == B->LineNo() && A->LineOffset() < B->LineOffset());
}

// Converts a literal value to the type of its target field (strings to
// dates and times); a text that is no date or time is the parser's error.
bool ConvertLiteral(TBaseParser* Parser, TVekRowConstructorElement* Element, const TInternalFieldItem* Field)
{
    const Variant& value = Element->Data();
    if (value.IsNull())
        return true;
    const TFieldType from = LiteralClass(value);
    if (from == ftUnknown || from == Field->DataType())
        return true;
    TVekDataConversionValidator validator;
    Variant converted;
    try {
        validator.PerformDataConversionToType(from, Field->DataType(), value, converted);
    } catch (const EVekDatabaseError& e) {
        const std::string format = e.ErrorCode == 10058 ? FormatSettings().LongTimeFormat : std::string("yyyy-mmm-dd");
        Parser->SetError(nullptr, e.TableMessage + " - " + Format(SvekDataFormatErrorFmt, {VarToStr(value), format}));
        return false;
    }
    Element->SetData(converted);
    return true;
}

// Takes the simple literal at Owner's current token into Element's Data and
// moves on (true); false leaves the token to an expression parser.
bool TakeLiteral(TBaseParser* Owner, TVekRowConstructorElement* Element)
{
    Variant value;
    if (!IsSimpleLiteral(Owner->CurrentTokenType()) || !LiteralValue(Owner->CurrToken(), value))
        return false;
    Element->SetData(value);
    Owner->NextToken();
    return true;
}

// Whether the expression holds a parameter (bound or not).
bool ExprHasParameter(const TVekExpr* Expr)
{
    for (const TVekExprNode* node = Expr->FirstNode(); node; node = node->Next())
        if (node->Operator() == veoPARAMETER || node->OriginalOperator() == veoPARAMETER)
            return true;
    return false;
}

// CURRENT_DATE, CURRENT_TIME and CURRENT_TIMESTAMP take the date and time
// of now.
void BindCurrentDateTime(TVekExpr* Expr)
{
    for (TVekExprNode* node = Expr->FirstNode(); node; node = node->Next()) {
        if (node->Kind() != enkConst || node->Operator() != veoFUNC2)
            continue;
        switch (node->ParserToken()->Token()) {
        case vstCurrentDate:
            node->SetData(Variant::FromDate(Date()));
            break;
        case vstCurrentTime:
            node->SetData(Variant::FromDate(Time()));
            break;
        case vstCurrentTimestamp:
            node->SetData(Variant::FromDate(Now()));
            break;
        default:
            break;
        }
    }
}

} // namespace

// ================================================ TVekRowConstructorElement

TVekRowConstructorElement::TVekRowConstructorElement(TCollection* Collection) : TCollectionItem(Collection) {}

TVekRowConstructorElement::~TVekRowConstructorElement() = default;

TVekExpr* TVekRowConstructorElement::GetExpr()
{
    if (!FExpr) {
        FExpr = std::make_unique<TVekExpr>();
        FEvaluator = std::make_unique<TExprEvaluator>();
    }
    return FExpr.get();
}

Variant TVekRowConstructorElement::GetRowData()
{
    if (FEvaluator && FEvaluator->IsPrepared())
        return FEvaluator->EvaluateValueExpr();
    return FData;
}

void TVekRowConstructorElement::Prepare(TVekExprDataProvider* DataProvider)
{
    if (!FEvaluator)
        return;
    BindCurrentDateTime(FExpr.get());
    FEvaluator->Prepare(DataProvider, FExpr->FirstNode());
    FEvaluator->SetExcludeRelopNulls(false);
}

void TVekRowConstructorElement::BindExprParams(TParams* Params)
{
    if (!FHasParameter || !Params)
        return;
    if (FExpr) {
        BindCurrentDateTime(FExpr.get());
        for (TVekExprNode* node = FExpr->FirstNode(); node; node = node->Next()) {
            if (node->Operator() != veoPARAMETER && node->OriginalOperator() != veoPARAMETER)
                continue;
            const TParam* param = Params->ParamByName(VarToStr(node->OriginalData()));
            node->SetData(param->Value());
            node->SetOperator(veoCONST2);
            node->SetKind(enkConst);
            node->SetDataType(param->DataType());
        }
        return;
    }
    if (FParamName.empty())
        FParamName = VarToStr(FData);
    FData = Params->ParamByName(FParamName)->Value();
}

TVekUpdateRowConstructorElement::TVekUpdateRowConstructorElement(TCollection* Collection)
    : TVekRowConstructorElement(Collection)
{
}

// ======================================================= TVekRowConstructor

TVekRowConstructor::TVekRowConstructor() : TCollection(ItemClassOf<TVekRowConstructorElement>()) {}

TVekRowConstructor::TVekRowConstructor(TCollectionItemClass ItemClass) : TCollection(std::move(ItemClass)) {}

void TVekRowConstructor::Prepare(TVekExprDataProvider* DataProvider)
{
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->Prepare(DataProvider);
}

void TVekRowConstructor::BindParams(TParams* Params)
{
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->HasParameter())
            GetItems(i)->BindExprParams(Params);
}

TVekUpdateRowConstructor::TVekUpdateRowConstructor()
    : TVekRowConstructor(ItemClassOf<TVekUpdateRowConstructorElement>())
{
}

// ========================================================= TVekInsertParser

TVekInsertParser::TVekInsertParser()
    : FColumnNames(std::make_unique<TStringList>()), FRow(std::make_unique<TVekRowConstructor>()),
      FExpr(std::make_unique<TVekExpr>())
{
    FEndTokens = TVekSQLTokens{vstEnd};
}

TVekInsertParser::~TVekInsertParser() = default;

void TVekInsertParser::Clear()
{
    TBaseParser::Clear();
    FRow->Clear();
    FColumnNames->Clear();
    FExpr->Clear();
    FTableName.clear();
    FColumnsNotSpecified = false;
    FHasSelectClause = false;
}

void TVekInsertParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    TBaseParser::Execute(Options, Stack);
    if (CurrentTokenType() != vstInsert || PeekAtTokenType(0) != vstInto) {
        SetError(FCurrToken, SvekInsertStatmentSyntaxError);
        return;
    }
    NextToken();
    NextToken();
    if (!FCurrToken || AtEndToken()) {
        SetError(FCurrToken, SvekInsertIncorrectlyTerminated);
        return;
    }
    FTableName = TokenName();
    FColumnsNotSpecified = PeekAtTokenType(0) != vstLParen;
    NextToken();
    if (CurrentTokenType() == vstLParen) {
        ParseColumnNames();
        if (HasParseError())
            return;
    }
    if (CurrentTokenType() == vstValues) {
        NextToken();
        if (!TakeToken(vstLParen, SvekLParenMissing))
            return;
        ParseRowValues();
        if (HasParseError())
            return;
        if (!TakeToken(vstRParen, SvekRParenMissing))
            return;
    } else if (CurrentTokenType() == vstSelect) {
        FHasSelectClause = true;
        TVekExprNode* node = FExpr->NewNode(enkSubquery, veoSUBQUERY, Variant(TokenName()), nullptr, nullptr, FCurrToken);
        FExpr->SetAsFirstNode(node);
        // The owner parses the SELECT and leaves the token where it stopped.
        if (FOnParserNotify) {
            Variant data;
            FOnParserNotify(pntSubquery, this, FStack, node, data);
            if (!HasParseError())
                NextToken();
        }
    } else {
        SetError(FCurrToken, SvekInvalidToken);
    }
    if (!HasParseError() && FCurrToken && !AtEndToken())
        SetError(FCurrToken, SvekInsertIncorrectlyTerminated);
}

// "(" name {"," name} ")"
void TVekInsertParser::ParseColumnNames()
{
    NextToken();
    for (;;) {
        if (!FCurrToken || CurrentTokenType() == vstEnd)
            break;
        if (CurrentTokenType() == vstComma || CurrentTokenType() == vstRParen) {
            SetError(FCurrToken, SvekMissingColumnSpecifier);
            return;
        }
        FColumnNames->Add(TokenName());
        NextToken();
        if (CurrentTokenType() != vstComma)
            break;
        NextToken();
    }
    TakeToken(vstRParen, SvekRParenMissing);
}

// value {"," value}: simple literals directly, anything else through an
// expression parser that knows no table (a column reference is refused).
void TVekInsertParser::ParseRowValues()
{
    while (!HasParseError() && FCurrToken && !AtEndToken() && CurrentTokenType() != vstRParen) {
        if (CurrentTokenType() == vstComma) {
            SetError(FCurrToken, SvekMissingColumnSpecifier);
            return;
        }
        TVekRowConstructorElement* element = FRow->Add();
        element->SetHasParameter(CurrentTokenType() == vstParameter);
        const TVekSQLToken next = PeekAtTokenType(0);
        if ((next != vstComma && next != vstRParen) || !TakeLiteral(this, element)) {
            TVekExprParser parser;
            parser.SetValidEndTokens(TVekSQLTokens{vstComma, vstRParen});
            parser.SyncCurrToken(this);
            parser.ExecuteExternalExpr(element->GetExpr(), TVekParserOptions{vpoExtSyntax, vpoSQL, vpoParameters},
                                       FStack);
            // A parameter anywhere in the value is bound with the others.
            element->SetHasParameter(ExprHasParameter(element->GetExpr()));
            // A column reference is refused at the first one written, unless
            // the parser stopped at an error before it.
            const TParserToken* field = nullptr;
            for (TVekExprNode* node = element->GetExpr()->FirstNode(); node; node = node->Next())
                if (node->Kind() == enkField && (!field || TokenBefore(node->ParserToken(), field)))
                    field = node->ParserToken();
            if (field && !(parser.HasParseError() && parser.ErrorToken() && TokenBefore(parser.ErrorToken(), field))) {
                SetError(field, SvekInvalidToken);
                return;
            }
            if (parser.HasParseError()) {
                SetError(parser.ErrorToken(), parser.ErrorMsg());
                return;
            }
            SyncCurrToken(&parser);
        }
        if (CurrentTokenType() == vstComma) {
            NextToken();
            if (CurrentTokenType() == vstRParen) {
                SetError(FCurrToken, SvekMissingColumnSpecifier);
                return;
            }
        }
    }
}

void TVekInsertParser::CreateDefaultColumns(TInternalFields* TableFields)
{
    FColumnNames->Clear();
    for (int i = 0; i < TableFields->Count(); ++i)
        FColumnNames->Add(TableFields->GetIndex(i)->FieldName());
}

bool TVekInsertParser::CheckColumnCount(int ValueCount)
{
    if (FColumnNames->Count() == 0) {
        SetError(nullptr, SvekNoInsertColumnsSpecified);
        return false;
    }
    if (FColumnNames->Count() != ValueCount) {
        SetError(nullptr, SvekInsertColumnsCountMismatch);
        return false;
    }
    return true;
}

// The count check applies with and without a column list: a row with more or
// fewer values than the table has fields is refused.
bool TVekInsertParser::ValidateValueColumns(TInternalFields* TableFields)
{
    if (FColumnsNotSpecified)
        CreateDefaultColumns(TableFields);
    if (!CheckColumnCount(FRow->Count()))
        return false;
    if (!ValidateColumnsPresent(TableFields))
        return false;
    return ValidateAndSetDataTypes(TableFields);
}

bool TVekInsertParser::ValidateColumnsPresent(TInternalFields* TableFields)
{
    for (int i = 0; i < FColumnNames->Count(); ++i)
        if (!TableFields->FindField(FColumnNames->Get(i))) {
            SetError(nullptr, std::string(SvekFieldNotFound) + " : " + FColumnNames->Get(i));
            return false;
        }
    return !HasParseError();
}

bool TVekInsertParser::ValidateAndSetDataTypes(TInternalFields* TableFields)
{
    const int count = std::min(FColumnNames->Count(), FRow->Count());
    for (int i = 0; i < count; ++i) {
        const TInternalFieldItem* field = TableFields->FindField(FColumnNames->Get(i));
        if (field && !ConvertLiteral(this, FRow->GetItems(i), field))
            return false;
    }
    return !HasParseError();
}

bool TVekInsertParser::ValidateSelectColumns(TInternalFields* SelectFields, TInternalFields* TableFields)
{
    if (FColumnsNotSpecified)
        CreateDefaultColumns(TableFields);
    if (!CheckColumnCount(SelectFields->Count()))
        return false;
    if (!ValidateColumnsPresent(TableFields))
        return false;
    const int count = std::min(TableFields->Count(), SelectFields->Count());
    for (int i = 0; i < count && i < FColumnNames->Count(); ++i) {
        const TInternalFieldItem* target = TableFields->FindField(FColumnNames->Get(i));
        const TFieldType resultType = SelectFields->GetIndex(i)->DataType();
        if (!target || !CheckDataConversionValid(target->DataType(), resultType)) {
            const TFieldType targetType = target ? target->DataType() : ftUnknown;
            SetError(nullptr, std::string(SvekTypeConversionErr) + " " + FieldTypeName(targetType) + " -> "
                                  + FieldTypeName(resultType));
            return false;
        }
    }
    return !HasParseError();
}

bool TVekInsertParser::CheckDataConversionValid(TFieldType FromType, TFieldType ToType) const
{
    if (FromType == ftUnknown || ToType == ftUnknown)
        return false;
    return TVekDataConversionValidator().CheckDataConversionValid(FromType, ToType);
}

// ======================================================== WHERE hand-over

namespace {

// The WHERE of UPDATE and DELETE: a subquery node at the WHERE token, handed
// to the owner, which parses the condition with a nested engine.
void HandOverWhereClause(TBaseParser* Parser, TVekExpr* Expr)
{
    TVekExprNode* node =
        Expr->NewNode(enkSubquery, veoSUBQUERY, Variant(Parser->TokenName()), nullptr, nullptr, Parser->CurrToken());
    Expr->SetAsFirstNode(node);
    // The owner parses the condition and leaves the token where it stopped.
    if (Parser->OnParserNotify()) {
        Variant data;
        Parser->OnParserNotify()(pntSubquery, Parser, Parser->Stack(), node, data);
        if (!Parser->HasParseError())
            Parser->NextToken();
    }
}

} // namespace

// ========================================================= TVekDeleteParser

TVekDeleteParser::TVekDeleteParser() : FExpr(std::make_unique<TVekExpr>())
{
    FEndTokens = TVekSQLTokens{vstEnd};
}

TVekDeleteParser::~TVekDeleteParser() = default;

void TVekDeleteParser::Clear()
{
    TBaseParser::Clear();
    FExpr->Clear();
    FTableName.clear();
    FHasWhereClause = false;
}

void TVekDeleteParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    TBaseParser::Execute(Options, Stack);
    if (CurrentTokenType() != vstDelete || PeekAtTokenType(0) != vstFrom) {
        SetError(FCurrToken, SvekDeleteStatmentSyntaxError);
        return;
    }
    NextToken();
    NextToken();
    if (!FCurrToken || AtEndToken()) {
        SetError(FCurrToken, SvekDeleteIncorrectlyTerminated);
        return;
    }
    FTableName = TokenName();
    if (FTables)
        FTables->Add()->SetTableName(FTableName);
    NextToken();
    if (CurrentTokenType() == vstWhere) {
        FHasWhereClause = true;
        HandOverWhereClause(this, FExpr.get());
    }
    if (!HasParseError() && FCurrToken && !AtEndToken())
        SetError(FCurrToken, SvekDeleteIncorrectlyTerminated);
}

// ========================================================= TVekUpdateParser

TVekUpdateParser::TVekUpdateParser()
    : FExpr(std::make_unique<TVekExpr>()), FRow(std::make_unique<TVekUpdateRowConstructor>())
{
    FEndTokens = TVekSQLTokens{vstEnd};
}

TVekUpdateParser::~TVekUpdateParser() = default;

void TVekUpdateParser::Clear()
{
    TBaseParser::Clear();
    FExpr->Clear();
    FRow->Clear();
    FTableName.clear();
    FHasWhereClause = false;
}

void TVekUpdateParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    TBaseParser::Execute(Options, Stack);
    if (!TakeToken(vstUpdate, SvekUpdateStatmentSyntaxError))
        return;
    if (!FCurrToken || AtEndToken()) {
        SetError(FCurrToken, SvekUpdateIncorrectlyTerminated);
        return;
    }
    FTableName = TokenName();
    if (FTables)
        FTables->Add()->SetTableName(FTableName);
    if (FOnValidateTableList && !FOnValidateTableList(FTables))
        SetError(FCurrToken, SvekTableOrFieldNotFound);
    NextToken();
    if (CurrentTokenType() != vstSet)
        SetError(FCurrToken, SvekUpdateStatmentSyntaxError);
    if (HasParseError())
        return;
    NextToken();
    ParseSetList();
    if (HasParseError())
        return;
    if (CurrentTokenType() == vstWhere) {
        FHasWhereClause = true;
        HandOverWhereClause(this, FExpr.get());
    }
    if (!HasParseError() && FCurrToken && !AtEndToken())
        SetError(FCurrToken, SvekUpdateIncorrectlyTerminated);
}

// column "=" value {"," column "=" value}, up to WHERE or the end.
void TVekUpdateParser::ParseSetList()
{
    while (!HasParseError() && FCurrToken && !AtEndToken() && CurrentTokenType() != vstWhere) {
        TVekUpdateRowConstructorElement* element = FRow->Add();
        if (CurrentTokenType() == vstTableName) {
            if (!AnsiSameText(TokenName(), FTableName)) {
                SetError(FCurrToken, SvekTableOrFieldNotFound);
                return;
            }
            NextToken();
        }
        if (CurrentTokenType() != vstFieldName) {
            SetError(FCurrToken, SvekUpdateMissingColumnReference);
            return;
        }
        element->SetTargetColumnName(TokenName());
        NextToken();
        if (TokenName() != "=") {
            SetError(FCurrToken, SvekMissingAssignmentToken);
            return;
        }
        NextToken();
        if (CurrentTokenType() == vstComma) {
            SetError(FCurrToken, SvekMissingColumnSpecifier);
            return;
        }
        element->SetHasParameter(CurrentTokenType() == vstParameter);
        const TVekSQLToken next = PeekAtTokenType(0);
        const bool endsHere = next == vstEnd || next == vstWhere || next == vstComma || next == vstUnknown
                              || FEndTokens.Contains(next);
        if (!endsHere || !TakeLiteral(this, element)) {
            TVekExprParser parser;
            parser.SetValidEndTokens(TVekSQLTokens{vstWhere, vstComma});
            parser.SetTableList(FTables);
            parser.SetParserNotifyEvent(FOnParserNotify);
            parser.SyncCurrToken(this);
            parser.ExecuteExternalExpr(element->GetExpr(),
                                       TVekParserOptions{vpoExtSyntax, vpoSQL, vpoParameters, vpoSubqueries}, FStack);
            element->SetHasParameter(ExprHasParameter(element->GetExpr()));
            if (parser.HasParseError()) {
                SetError(parser.ErrorToken(), parser.ErrorMsg());
                return;
            }
            SyncCurrToken(&parser);
        }
        if (CurrentTokenType() == vstComma)
            NextToken();
    }
}

bool TVekUpdateParser::ValidateValueColumns(TInternalFields* TableFields)
{
    for (int i = 0; i < FRow->Count(); ++i) {
        const std::string& name = FRow->GetItems(i)->TargetColumnName();
        if (!TableFields->FindField(name)) {
            SetError(nullptr, std::string(SvekFieldNotFound) + " : " + name);
            return false;
        }
    }
    return ValidateAndSetDataTypes(TableFields);
}

bool TVekUpdateParser::ValidateAndSetDataTypes(TInternalFields* TableFields)
{
    for (int i = 0; i < FRow->Count(); ++i) {
        TVekUpdateRowConstructorElement* element = FRow->GetItems(i);
        const TInternalFieldItem* field = TableFields->FindField(element->TargetColumnName());
        if (field && !ConvertLiteral(this, element, field))
            return false;
    }
    return !HasParseError();
}

} // namespace orvex
