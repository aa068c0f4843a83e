// The expression parser.

#include "sql/vekExprParser.h"

namespace orvex {

namespace {

bool IsBlobFamily(TFieldType T) { return T == ftBlob || T == ftMemo || T == ftGraphic || T == ftFmtMemo; }

bool IsStringConst(const TVekExprNode* Node)
{
    return Node && Node->Kind() == enkConst && Node->Data().VType() == varString;
}

// Combined scope of two operands without the aggregate/row check.
TVekExprScopeKind CombineScopes(const TVekExprNode* L, const TVekExprNode* R)
{
    if (!L && !R)
        return vskConst;
    if (!L || !R)
        return (L ? L : R)->ScopeKind();
    if (L->ScopeKind() == vskAgg || R->ScopeKind() == vskAgg)
        return vskAgg;
    if (L->ScopeKind() == vskField || R->ScopeKind() == vskField)
        return vskField;
    return vskConst;
}

} // namespace

TVekExprParser::TVekExprParser() : FExpr(std::make_unique<TVekExpr>()), FTarget(FExpr.get()) {}

TVekExprParser::~TVekExprParser() = default;

TVekExprOperator TVekExprParser::GetOperator(const std::string& Text)
{
    if (Text == "<")
        return veoLT;
    if (Text == "<=")
        return veoLE;
    if (Text == "=")
        return veoEQ;
    if (Text == ">=")
        return veoGE;
    if (Text == ">")
        return veoGT;
    if (Text == "<>")
        return veoNE;
    if (Text == "+" || Text == "||")
        return veoADD;
    if (Text == "-")
        return veoSUB;
    if (Text == "*")
        return veoMUL;
    if (Text == "/")
        return veoDIV;
    return veoNOTDEFINED;
}

TVekExprNodeKind TVekExprParser::GetExprNodeKind(TVekExprOperator Operator)
{
    if (Operator >= veoEQ && Operator <= veoLE)
        return enkRelOperator;
    switch (Operator) {
    case veoISBLANK:
    case veoNOTBLANK:
    case veoNOT:
    case veoAND:
    case veoOR:
        return enkLogicalOperator;
    case veoFIELD2:
        return enkField;
    case veoCONST2:
        return enkConst;
    default:
        break;
    }
    if (Operator >= veoMINUS && Operator <= veoDIV)
        return enkArithOperator;
    return enkUnknown;
}

// ================================================================ plumbing

void TVekExprParser::Error(const TParserToken* Token, const std::string& Msg)
{
    SetError(Token, Msg);
    if (FTarget && FTarget->ErrorMsg().empty())
        FTarget->SetErrorMsg(ErrorMsg());
}

bool TVekExprParser::ExpectToken(TVekSQLToken Type, const std::string& Msg)
{
    if (CurrentTokenType() != Type) {
        Error(CurrToken(), Msg);
        return false;
    }
    NextToken();
    return true;
}

bool TVekExprParser::RequireOption(TVekParserOption Option, const std::string& Msg)
{
    if (!Options().Contains(Option)) {
        Error(CurrToken(), Msg);
        return false;
    }
    return true;
}

bool TVekExprParser::EnterNesting()
{
    ++FNesting;
    if (FNesting > MaxParserNesting) {
        Error(CurrToken(), SvekExprTooDeep);
        return false;
    }
    return true;
}

TVekExprNode* TVekExprParser::NewNode(TVekExprNodeKind Kind, TVekExprOperator Operator, const Variant& Data,
                                      TVekExprNode* Left, TVekExprNode* Right, const TParserToken* Token)
{
    if (HasParseError())
        return nullptr;
    return FTarget->NewNode(Kind, Operator, Data, Left, Right, Token);
}

TVekExprNode* TVekExprParser::NewBinaryNode(TVekExprNodeKind Kind, TVekExprOperator Operator,
                                            TVekExprNode* Left, TVekExprNode* Right,
                                            const TParserToken* Token)
{
    TVekExprNode* Node = NewNode(Kind, Operator, Variant(), Left, Right, Token);
    if (Node && Node->Height() > MaxExprTreeHeight) {
        Error(Token, SvekExprTooDeep);
        return nullptr;
    }
    return Node;
}

TVekExprNode* TVekExprParser::NewArithNode(TVekExprOperator Operator, TVekExprNode* Left, TVekExprNode* Right,
                                           const TParserToken* Token)
{
    TVekExprNode* Node = NewBinaryNode(enkArithOperator, Operator, Left, Right, Token);
    if (!Node)
        return nullptr;
    TypeCheckArithOp(Node);
    GetArithResultSize(Node);
    Node->SetScopeKind(CombineScopes(Left, Right));
    return Node;
}

void TVekExprParser::AddArg(TVekExprNode* Node, TVekExprNode* Arg)
{
    if (!Node || !Arg)
        return;
    Node->Args().push_back(Arg);
    Node->RecalcHeight();
    if (Node->Height() > MaxExprTreeHeight)
        Error(CurrToken(), SvekExprTooDeep);
}

void TVekExprParser::BeginExpr(TVekExpr* Target)
{
    FTarget = Target;
    FTarget->SetCaseInsensitiveMatch(FCaseInsensitiveMatch);
    FTarget->SetPartialStringComparisons(FPartialStringComparison);
    FRoot = nullptr;
    FNesting = 0;
    FAggregateDepth = 0;
}

bool TVekExprParser::IsEndOfClause() const
{
    return AtEndToken() || FValidEndTokens.Contains(CurrentTokenType());
}

// ============================================================== entry points

void TVekExprParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    TBaseParser::Execute(Options, Stack);
    FExpr = std::make_unique<TVekExpr>();
    BeginExpr(FExpr.get());
    if (!AtEndToken())
        FRoot = ParseSearchCondition();
    if (!HasParseError() && !IsEndOfClause())
        Error(CurrToken(), CurrentTokenType() == vstFieldName ? SvekInvalidToken : SvekExprTerminatedIncorrectly);
    if (FRoot && !HasParseError())
        FExpr->SetAsFirstNode(FRoot);
    FExpr->SetParsedText(ParsedText());
}

bool TVekExprParser::ParseExternal(TVekExpr* Expr, TVekParserOptions Options, TParserStack* Stack,
                                   TVekExprNode* (TVekExprParser::*Parse)())
{
    FExpr = std::make_unique<TVekExpr>();
    TBaseParser::Execute(Options, Stack);
    BeginExpr(Expr);
    if (!AtEndToken())
        FRoot = (this->*Parse)();
    if (!HasParseError() && !AtEndToken() && !FValidEndTokens.Contains(CurrentTokenType()))
        Error(CurrToken(), SvekExprTerminatedIncorrectly);
    if (FRoot && !HasParseError())
        Expr->SetAsFirstNode(FRoot);
    FTarget = FExpr.get();
    return !HasParseError();
}

bool TVekExprParser::ExecuteExternalExpr(TVekExpr* Expr, TVekParserOptions Options, TParserStack* Stack)
{
    ORVEX_ASSERT(Expr != nullptr, "ExecuteExternalExpr needs an expression");
    return ParseExternal(Expr, Options, Stack, &TVekExprParser::ParseSearchCondition);
}

bool TVekExprParser::ExecuteExternalValueExpr(TVekExpr* Expr, TVekParserOptions Options, TParserStack* Stack)
{
    ORVEX_ASSERT(Expr != nullptr, "ExecuteExternalValueExpr needs an expression");
    if (!ParseExternal(Expr, Options, Stack, &TVekExprParser::ParseValueExpr))
        return false;
    RemoveCurrentTokenFromParsedText();
    Expr->SetParsedText(ParsedText());
    return true;
}

void TVekExprParser::CloneFromExpr(const TVekExpr* Expr, bool Replace, TVekExprOperator Op)
{
    const TVekExprNode* Source = Expr ? Expr->FirstNode() : nullptr;
    if (Replace) {
        FExpr->Clear();
        FTarget = FExpr.get();
        FRoot = Source ? FExpr->CloneFromTree(Source) : nullptr;
        return;
    }
    ORVEX_ASSERT(Op == veoAND || Op == veoOR, "Unsupported Expr assign operator");
    if (!Source)
        return;
    TVekExprNode* Copy = FExpr->CloneSubTree(Source);
    if (!FRoot) {
        FRoot = Copy;
    } else {
        TParserToken Token;
        Token.SetToken(Op == veoAND ? vstAnd : vstOr);
        Token.SetText(Op == veoAND ? "AND" : "OR");
        TVekExprNode* Join = FExpr->NewNode(enkLogicalOperator, Op, Variant(), FRoot, Copy, &Token);
        if (!Join)
            return;
        Join->SetDataType(ftBoolean);
        Join->SetScopeKind(CombineScopes(FRoot, Copy));
        FRoot = Join;
    }
    FExpr->SetAsFirstNode(FRoot);
}

// ================================================================== levels

TVekExprNode* TVekExprParser::ParseLogicalChain(TVekSQLToken Word, TVekExprOperator Op,
                                                TVekExprNode* (TVekExprParser::*Operand)())
{
    TVekExprNode* L = (this->*Operand)();
    while (!HasParseError() && CurrentTokenType() == Word) {
        TParserToken* Token = CurrToken();
        NextToken();
        TVekExprNode* R = (this->*Operand)();
        if (HasParseError())
            break;
        TVekExprNode* Node = NewBinaryNode(enkLogicalOperator, Op, L, R, Token);
        if (!Node)
            break;
        Node->SetDataType(ftBoolean);
        Node->SetScopeKind(CombineScopes(L, R));
        L = Node;
    }
    return HasParseError() ? nullptr : L;
}

TVekExprNode* TVekExprParser::ParseSearchCondition()
{
    TVekExprNode* Result = nullptr;
    if (EnterNesting())
        Result = ParseLogicalChain(vstOr, veoOR, &TVekExprParser::ParseBoolTerm);
    LeaveNesting();
    return Result;
}

TVekExprNode* TVekExprParser::ParseBoolTerm()
{
    return ParseLogicalChain(vstAnd, veoAND, &TVekExprParser::ParseBoolFactor);
}

TVekExprNode* TVekExprParser::ParseBoolFactor()
{
    if (CurrentTokenType() != vstNot)
        return ParsePredicate();
    TParserToken* Token = CurrToken();
    NextToken();
    TVekExprNode* Operand = ParsePredicate();
    if (HasParseError())
        return nullptr;
    TVekExprNode* Node = NewBinaryNode(enkLogicalOperator, veoNOT, Operand, nullptr, Token);
    if (Node) {
        Node->SetDataType(ftBoolean);
        Node->SetScopeKind(CombineScopes(Operand, nullptr));
    }
    return Node;
}

TVekExprNode* TVekExprParser::ParsePredicate()
{
    TVekExprNode* E = ParseExpr5();
    if (HasParseError())
        return nullptr;
    switch (CurrentTokenType()) {
    case vstCompOperator:
        if (GetExprNodeKind(GetOperator(TokenName())) == enkRelOperator)
            return ParseComparison(E);
        return E;
    case vstIsNull:
    case vstIsNotNull: {
        TParserToken* Token = CurrToken();
        const TVekExprOperator Op = CurrentTokenType() == vstIsNull ? veoISBLANK : veoNOTBLANK;
        NextToken();
        TVekExprNode* Node = NewBinaryNode(enkLogicalOperator, Op, E, nullptr, Token);
        FinishPredicate(Node, E, nullptr);
        return HasParseError() ? nullptr : Node;
    }
    case vstLike:
    case vstNotLike:
        return ParseLike(E);
    case vstBetween:
    case vstNotBetween:
        return ParseBetween(E);
    case vstIn:
    case vstNotIn:
        return ParseIn(E);
    default:
        return E;
    }
}

TVekExprNode* TVekExprParser::ParseComparison(TVekExprNode* E)
{
    TParserToken* Token = CurrToken();
    TVekExprOperator Op = GetOperator(TokenName());
    NextToken();
    if (CurrentTokenType() == vstNull) {
        Error(CurrToken(), SvekExprTypeMismatch);
        return nullptr;
    }
    TVekExprNode* R = ParseExpr5();
    if (HasParseError())
        return nullptr;
    TVekExprNode* L = E;
    if (R && R->Kind() == enkField && (!L || L->Kind() != enkField)) {
        // The field stands left: "5 < a" is kept as "a > 5".
        std::swap(L, R);
        switch (Op) {
        case veoGT:
            Op = veoLT;
            break;
        case veoLT:
            Op = veoGT;
            break;
        case veoGE:
            Op = veoLE;
            break;
        case veoLE:
            Op = veoGE;
            break;
        default:
            break;
        }
    }
    TVekExprNode* Node = NewBinaryNode(enkRelOperator, Op, L, R, Token);
    FinishPredicate(Node, L, R);
    return HasParseError() ? nullptr : Node;
}

void TVekExprParser::FinishPredicate(TVekExprNode* Node, TVekExprNode* L, TVekExprNode* R)
{
    if (!Node || HasParseError())
        return;
    const TParserToken* Token = Node->ParserToken();
    CheckDataConversions(L, R);
    if (HasParseError())
        return;
    if (!L) {
        Error(Token, SvekExprTypeMismatch);
        return;
    }
    const bool IsNullTest = Node->Operator() == veoISBLANK || Node->Operator() == veoNOTBLANK;
    const bool IsLike = Node->Operator() == veoLIKE;
    if (!IsNullTest) {
        // A blob's text may be matched by a pattern, typed as a string.
        if (IsLike && IsBlobFamily(L->DataType()) && R && R->Kind() == enkConst)
            R->SetDataType(ftString);
        if (L->DataType() == ftBytes || (IsBlobFamily(L->DataType()) && !IsLike)) {
            Error(Token, SvekExprTypeMismatch);
            return;
        }
        if (R && (R->DataType() == ftBytes || IsBlobFamily(R->DataType()))) {
            Error(Token, SvekExprTypeMismatch);
            return;
        }
    }
    Node->SetDataType(ftBoolean);
    if (R) {
        if (IsTemporal(L->DataType()) && IsStringConst(R))
            ConvertStringValueToTemporal(R, L->DataType());
        else if (IsTemporal(R->DataType()) && IsStringConst(L))
            ConvertStringValueToTemporal(L, R->DataType());
        if (HasParseError())
            return;
    }
    Node->SetScopeKind(GetScopeKind(Node, L, R));
}

TVekExprNode* TVekExprParser::ParseLike(TVekExprNode* E)
{
    TParserToken* Token = CurrToken();
    NextToken();
    TVekExprNode* R = ParseCharacterValueExpr();
    if (HasParseError())
        return nullptr;
    TVekExprNode* Escape = nullptr;
    if (CurrentTokenType() == vstEscape) {
        NextToken();
        Escape = ParseCharacterValueExpr();
        if (HasParseError())
            return nullptr;
    }
    TVekExprNode* Node = NewBinaryNode(enkNonRelPredicate, veoLIKE, E, R, Token);
    // The escape character travels with the LIKE node itself, where the
    // evaluator reads it.
    AddArg(Node, Escape);
    FinishPredicate(Node, E, R);
    return HasParseError() ? nullptr : Node;
}

TVekExprNode* TVekExprParser::ParseBetween(TVekExprNode* E)
{
    TParserToken* Token = CurrToken();
    const bool Negated = CurrentTokenType() == vstNotBetween;
    NextToken();
    TVekExprNode* Low = ParseExpr5();
    if (HasParseError())
        return nullptr;
    if (CurrentTokenType() != vstAnd) {
        Error(CurrToken(), SvekBetweenPredErr);
        return nullptr;
    }
    TParserToken* AndToken = CurrToken();
    NextToken();
    TVekExprNode* High = ParseExpr5();
    if (HasParseError())
        return nullptr;
    // The second comparison gets its own copy of E's whole subtree: a copy
    // of the node alone would share E's operands and lose a function's
    // further arguments (SUBSTRING's length), comparing another value.
    TVekExprNode* ECopy = FTarget->CloneSubTree(E);
    if (!ECopy)
        return nullptr;
    TVekExprNode* First = NewBinaryNode(enkRelOperator, Negated ? veoLT : veoGE, E, Low, Token);
    FinishPredicate(First, E, Low);
    TVekExprNode* Second = NewBinaryNode(enkRelOperator, Negated ? veoGT : veoLE, ECopy, High, Token);
    FinishPredicate(Second, ECopy, High);
    if (HasParseError())
        return nullptr;
    TVekExprNode* Join = NewBinaryNode(enkLogicalOperator, Negated ? veoOR : veoAND, First, Second, AndToken);
    if (Join) {
        Join->ParserToken()->SetToken(Negated ? vstOr : vstAnd);
        // The join keeps the BETWEEN token: the pair is one range.
        Join->TokenArgs().push_back(FTarget->AdoptToken(Token));
        Join->SetDataType(ftBoolean);
        Join->SetScopeKind(CombineScopes(First, Second));
    }
    return Join;
}

TVekExprNode* TVekExprParser::ParseIn(TVekExprNode* E)
{
    TParserToken* Token = CurrToken();
    NextToken();
    if (!ExpectToken(vstLParen, SvekLParenMissing))
        return nullptr;
    TVekExprNode* Node = NewBinaryNode(enkNonRelPredicate, veoIN, E, nullptr, Token);
    if (!Node)
        return nullptr;
    Node->SetDataType(ftBoolean);
    if (CurrentTokenType() == vstSelect) {
        if (!RequireOption(vpoSubqueries, SvekExprSubqueriesNotSupported))
            return nullptr;
        AddArg(Node, ParseSearchCondition());
    } else {
        if (CurrentTokenType() == vstRParen) {
            Error(CurrToken(), SvekEmptyINList);
            return nullptr;
        }
        while (!HasParseError()) {
            TVekExprNode* Item = ParseSearchCondition();
            if (HasParseError())
                break;
            if (E && Item && IsTemporal(E->DataType())) {
                if (IsStringConst(Item))
                    ConvertStringValueToTemporal(Item, E->DataType());
                else
                    Item->SetDataType(E->DataType());
            }
            AddArg(Node, Item);
            if (CurrentTokenType() == vstComma) {
                NextToken();
                continue;
            }
            const TVekSQLToken Kind = CurrentTokenType();
            if (Kind == vstRParen || Kind == vstEnd || Kind == vstUnknown)
                break;
            Error(CurrToken(), SvekExprNoRParenOrComma);
        }
    }
    if (HasParseError())
        return nullptr;
    if (!ExpectToken(vstRParen, SvekRParenMissing))
        return nullptr;
    Node->SetScopeKind(CombineScopes(E, nullptr));
    return Node;
}

TVekExprNode* TVekExprParser::ParseExpr5()
{
    TVekExprNode* L = ParseExpr6();
    while (!HasParseError() && (CurrentTokenType() == vstAdd || CurrentTokenType() == vstSub ||
                                CurrentTokenType() == vstConcatenate)) {
        if (!Options().Contains(vpoExtSyntax)) {
            Error(CurrToken(), SvekExprArithNotSupported);
            break;
        }
        TParserToken* Token = CurrToken();
        const TVekExprOperator Op = GetOperator(TokenName());
        NextToken();
        TVekExprNode* R = ParseExpr6();
        if (HasParseError())
            break;
        TVekExprNode* Node = NewArithNode(Op, L, R, Token);
        if (!Node)
            break;
        L = Node;
    }
    return HasParseError() ? nullptr : L;
}

TVekExprNode* TVekExprParser::ParseExpr6()
{
    TVekExprNode* L = ParseExpr7();
    while (!HasParseError() && (CurrentTokenType() == vstMult || CurrentTokenType() == vstDiv)) {
        if (!Options().Contains(vpoExtSyntax)) {
            Error(CurrToken(), SvekExprArithNotSupported);
            break;
        }
        TParserToken* Token = CurrToken();
        const TVekExprOperator Op = CurrentTokenType() == vstMult ? veoMUL : veoDIV;
        NextToken();
        TVekExprNode* R = ParseExpr7();
        if (HasParseError())
            break;
        TVekExprNode* Node = NewBinaryNode(enkArithOperator, Op, L, R, Token);
        if (!Node)
            break;
        TypeCheckArithOp(Node);
        Node->SetScopeKind(CombineScopes(L, R));
        L = Node;
    }
    return HasParseError() ? nullptr : L;
}

TVekExprNode* TVekExprParser::ParseExpr7()
{
    if (!EnterNesting()) {
        LeaveNesting();
        return nullptr;
    }
    TVekExprNode* Node = nullptr;
    TParserToken* Token = CurrToken();
    switch (CurrentTokenType()) {
    case vstNumber: {
        double Value = 0;
        if (!SQLNumberToFloat(TokenName(), Value)) {
            Error(Token, SvekInvalidToken);
            break;
        }
        Node = NewNode(enkConst, veoCONST2, Variant(Value), nullptr, nullptr, Token);
        if (Node) {
            Node->SetScopeKind(vskConst);
            Node->SetDataType(ftFloat);
            Node->SetDataSize(0);
        }
        NextToken();
        break;
    }
    case vstValue:
    case vstStringLiteral:
        Node = NewNode(enkConst, veoCONST2, Variant(TokenName()), nullptr, nullptr, Token);
        if (Node) {
            Node->SetScopeKind(vskConst);
            Node->SetDataType(ftString);
            Node->SetDataSize(static_cast<Integer>(TokenName().size()));
        }
        NextToken();
        break;
    case vstNull:
        Node = NewNode(enkConst, veoISBLANK, Null(), nullptr, nullptr, Token);
        if (Node)
            Node->SetScopeKind(vskConst);
        NextToken();
        break;
    case vstTrue:
    case vstFalse:
        Node = NewNode(enkConst, veoCONST2, Variant(CurrentTokenType() == vstTrue), nullptr, nullptr, Token);
        if (Node) {
            Node->SetScopeKind(vskConst);
            Node->SetDataType(ftBoolean);
            Node->SetDataSize(0);
        }
        NextToken();
        break;
    case vstCurrentDate:
    case vstCurrentTime:
    case vstCurrentTimestamp: {
        const TFieldType Type = CurrentTokenType() == vstCurrentDate   ? ftDate
                                : CurrentTokenType() == vstCurrentTime ? ftTime
                                                                       : ftDateTime;
        Node = NewNode(enkConst, veoFUNC2, Variant(), nullptr, nullptr, Token);
        if (Node) {
            Node->SetScopeKind(vskConst);
            Node->SetDataType(Type);
            Node->SetDataSize(0);
        }
        NextToken();
        break;
    }
    case vstFieldName:
    case vstTableName:
        Node = ParseField();
        break;
    case vstParameter:
        Node = ParseParameter();
        break;
    case vstLParen: {
        NextToken();
        Node = ParseSearchCondition();
        if (HasParseError())
            break;
        if (CurrentTokenType() != vstRParen) {
            Error(CurrToken(), SvekRParenMissing);
            break;
        }
        NextToken();
        break;
    }
    case vstSelect:
        Node = ParseSubquery(vsqUnspecified);
        break;
    case vstExists:
        Node = ParseSubquery(vsqExists);
        break;
    case vstAll:
        Node = ParseSubquery(vsqAll);
        break;
    case vstAny:
    case vstSome:
        Node = ParseSubquery(vsqAnyOrSome);
        break;
    case vstCast:
        Node = ParseCastExpr();
        break;
    case vstExtract:
        Node = ParseExtractExpr();
        break;
    case vstAggFunc:
        Node = ParseAggregate();
        break;
    case vstStrFunc:
        Node = ParseStrFunc();
        break;
    default: {
        const TVekSQLToken Kind = CurrentTokenType();
        Error(Token, Kind == vstEnd || Kind == vstUnknown ? SvekExprTerminatedIncorrectly : SvekInvalidToken);
        break;
    }
    }
    LeaveNesting();
    return HasParseError() ? nullptr : Node;
}

// ================================================================ primaries

TVekExprNode* TVekExprParser::ParseField()
{
    TParserToken* TableToken = nullptr;
    if (CurrentTokenType() == vstTableName) {
        TableToken = CurrToken();
        NextToken();
        if (CurrentTokenType() != vstFieldName) {
            Error(CurrToken(), SvekInvalidToken);
            return nullptr;
        }
    }
    TParserToken* Token = CurrToken();
    const std::string FieldName = TokenName();
    const std::string TableName = TableToken ? TableToken->Text() : std::string();
    TVekExprNode* Node = NewNode(enkField, veoFIELD2, Variant(FieldName), nullptr, nullptr, Token);
    if (!Node)
        return nullptr;
    Node->SetScopeKind(vskField);
    if (TableToken)
        Node->TokenArgs().push_back(FTarget->AdoptToken(TableToken));

    const bool CanAskOwner = FIsSubquery && OnParserNotify();
    bool Found = false;
    if (FTableList && FTableList->Count() > 0) {
        TTableNameItem* Table = TableToken ? FTableList->FindTable(TableName)
                                           : FTableList->FindTableForField(FieldName);
        // Inside a subquery an alias hides its table's name: "t.x" under
        // "FROM t a" is an enclosing statement's t when one has that name in
        // scope, and only otherwise this statement's aliased t.
        if (Table && TableToken && CanAskOwner && !FTableList->FindVisibleTable(TableName) &&
            ResolveOuterReference(Node, TableName, FieldName))
            Found = true;
        else if (Table && Table->TableFields()->FindField(FieldName)) {
            Found = true;
            Node->SetDataType(Table->GetFieldType(FieldName));
            Node->SetDataSize(Table->GetFieldSize(FieldName));
            Node->SourceTables()->Add()->Assign(Table);
        } else if (FAllowResultColumnNames && FAggregateDepth == 0) {
            // Perhaps a result column: bound (or refused) once they are known.
        } else if (TableToken) {
            SetError(Token, std::string(SvekTableOrFieldNotFound) + " (" + TableName + "." + FieldName + ")");
        } else {
            SetError(Token, SvekFieldNotFound);
        }
    }
    if (!Found && CanAskOwner && ResolveOuterReference(Node, TableName, FieldName)) {
        ClearError();
        Found = true;
    }
    if (HasParseError()) {
        if (FTarget->ErrorMsg().empty())
            FTarget->SetErrorMsg(ErrorMsg());
        return nullptr;
    }
    if (FValidateFields && Node->DataType() == ftUnknown) {
        Error(Token, SvekFieldNotFound);
        return nullptr;
    }
    NextToken();
    return Node;
}

bool TVekExprParser::ResolveOuterReference(TVekExprNode* Node, const std::string& TableName,
                                           const std::string& FieldName)
{
    Variant NotifyData(TableName);
    OnParserNotify()(pntFindTableRef, this, FStack, Node, NotifyData);
    if (!VarIsTrue(NotifyData))
        return false;
    // Resolved from an enclosing query, which filled SourceTables.
    TTableNameItem* Outer = Node->SourceTables()->Count() > 0 ? Node->SourceTables()->Items(0) : nullptr;
    Node->SetDataType(Outer ? Outer->GetFieldType(FieldName) : ftUnknown);
    Node->SetDataSize(Outer ? Outer->GetFieldSize(FieldName) : -1);
    Node->SetOperator(veoOUTERFIELD);
    Node->SetKind(enkFunc);
    return true;
}

TVekExprNode* TVekExprParser::ParseParameter()
{
    if (!RequireOption(vpoParameters, SvekParamsNotSupported))
        return nullptr;
    NextToken();
    if (CurrentTokenType() != vstFieldName) {
        Error(CurrToken(), SvekParamNotFound);
        return nullptr;
    }
    TVekExprNode* Node = NewNode(enkParam, veoPARAMETER, Variant(TokenName()), nullptr, nullptr, CurrToken());
    if (Node)
        Node->SetScopeKind(vskConst);
    NextToken();
    return Node;
}

TVekExprNode* TVekExprParser::ParseSubquery(TVekSubqueryType Type)
{
    if (!RequireOption(vpoSubqueries, SvekExprSubqueriesNotSupported))
        return nullptr;
    const bool Quantified = Type != vsqUnspecified;
    if (Quantified) {
        NextToken();
        if (!ExpectToken(vstLParen, SvekLParenMissing))
            return nullptr;
        if (CurrentTokenType() != vstSelect) {
            Error(CurrToken(), SvekSelectTokenMissing);
            return nullptr;
        }
        CurrToken()->SetCustomOrdinal(Type);
    }
    TParserToken* SelectToken = CurrToken();
    // Only an owner can parse and run a subquery.
    if (!OnParserNotify()) {
        Error(SelectToken, SvekExprSubqueriesNotSupported);
        return nullptr;
    }
    TVekExprNode* Node = NewNode(enkSubquery, veoSUBQUERY, Variant(SelectToken->Text()), nullptr, nullptr,
                                 SelectToken);
    if (!Node)
        return nullptr;
    // A subquery's value does not depend on the row being grouped: it may
    // stand beside an aggregate ("HAVING COUNT(*) > (SELECT ...)").
    Node->SetScopeKind(vskConst);
    Variant NotifyData;
    OnParserNotify()(pntSubquery, this, FStack, Node, NotifyData);
    if (HasParseError())
        return nullptr;
    // The owner parsed the subquery up to its closing parenthesis.
    NextToken();
    if (Quantified && !ExpectToken(vstRParen, SvekRParenMissing))
        return nullptr;
    return Node;
}

TVekExprNode* TVekExprParser::ParseAggregate()
{
    if (!RequireOption(vpoExtSyntax, SvekExprArithNotSupported))
        return nullptr;
    TParserToken* Token = CurrToken();
    const std::size_t Raw = Token->RawTokenText().size();
    const std::size_t CallStart = ParsedText().size() >= Raw ? ParsedText().size() - Raw : 0;
    TVekExprNode* Node = NewNode(enkFunc, veoFUNC2, Variant(false), nullptr, nullptr, Token);
    if (!Node)
        return nullptr;
    Node->SetScopeKind(vskAgg);
    NextToken();
    bool Distinct = false;
    ++FAggregateDepth;
    TVekExprNode* Arg = ParseSetFunctionExpr(Distinct);
    --FAggregateDepth;
    if (HasParseError())
        return nullptr;
    Node->SetData(Variant(Distinct));
    Node->SetOriginalData(Variant(Distinct));
    if (Arg)
        AddArg(Node, Arg);
    // The aggregate's own type: COUNT an Integer; AVG and SUM a Float (an
    // average has fractions, a sum of integers outgrows 32 bits); MIN and
    // MAX the argument's type.
    switch (static_cast<TVekSQLAggFunc>(Token->CustomOrdinal())) {
    case vafMax:
    case vafMin:
        Node->SetDataType(Arg ? Arg->DataType() : ftInteger);
        Node->SetDataSize(Arg ? Arg->DataSize() : 0);
        break;
    case vafAvg:
    case vafSum:
        Node->SetDataType(ftFloat);
        Node->SetDataSize(0);
        break;
    default:
        Node->SetDataType(ftInteger);
        Node->SetDataSize(0);
        break;
    }
    if (Options().Contains(vpoExtractAggFuncExprText)) {
        std::string Call = ParsedText().substr(CallStart);
        if (CurrToken()) {
            const std::string& Raw = CurrToken()->RawTokenText();
            if (Raw.size() <= Call.size() && Call.compare(Call.size() - Raw.size(), Raw.size(), Raw) == 0)
                Call.resize(Call.size() - Raw.size());
        }
        Node->ParserToken()->SetRawTokenText(Trim(Call));
    }
    return HasParseError() ? nullptr : Node;
}

TVekExprNode* TVekExprParser::ParseStrFunc()
{
    if (!RequireOption(vpoExtSyntax, SvekExprArithNotSupported))
        return nullptr;
    TParserToken* Token = CurrToken();
    const Integer Ordinal = Token->CustomOrdinal();
    TVekExprNode* Node = NewNode(enkFunc, veoFUNC2, Variant(TokenName()), nullptr, nullptr, Token);
    if (!Node)
        return nullptr;
    NextToken();
    TVekExprNode* StringOperand = nullptr;
    switch (Ordinal) {
    case vsfSubstring: {
        if (!ExpectToken(vstLParen, SvekLParenMissing))
            return nullptr;
        TVekExprNode* S = ParseExpr5();
        if (HasParseError())
            return nullptr;
        if (CurrentTokenType() != vstFrom && CurrentTokenType() != vstComma) {
            Error(CurrToken(), SvekSUBSTRINGInvalid);
            return nullptr;
        }
        NextToken();
        TVekExprNode* Start = ParseExpr5();
        if (HasParseError())
            return nullptr;
        TVekExprNode* Length = nullptr;
        if (CurrentTokenType() == vstFor || CurrentTokenType() == vstComma) {
            NextToken();
            Length = ParseExpr5();
            if (HasParseError())
                return nullptr;
        }
        if (!ExpectToken(vstRParen, SvekRParenMissing))
            return nullptr;
        Node->SetLeft(S);
        Node->SetRight(Start);
        AddArg(Node, Length);
        StringOperand = S;
        break;
    }
    case vsfUpper:
    case vsfLower: {
        TVekExprNode* S = ParseCharacterValueExpr();
        if (HasParseError())
            return nullptr;
        Node->SetRight(S);
        StringOperand = S;
        break;
    }
    case vsfTrim: {
        if (!ExpectToken(vstLParen, SvekLParenMissing))
            return nullptr;
        TVekSQLStrFunc Spec = vsfTrimBoth;
        if (TokenSymbolIs("LEADING")) {
            Spec = vsfTrimLeading;
            NextToken();
        } else if (TokenSymbolIs("TRAILING")) {
            Spec = vsfTrimTrailing;
            NextToken();
        } else if (TokenSymbolIs("BOTH")) {
            NextToken();
        }
        Node->ParserToken()->SetCustomOrdinal(Spec);
        TVekExprNode* Chars = nullptr;
        TVekExprNode* S = nullptr;
        if (CurrentTokenType() == vstFrom) {
            NextToken();
            S = ParseExpr5();
        } else {
            TVekExprNode* First = ParseExpr5();
            if (HasParseError())
                return nullptr;
            if (CurrentTokenType() == vstFrom) {
                NextToken();
                Chars = First;
                S = ParseExpr5();
            } else {
                S = First;
            }
        }
        if (HasParseError())
            return nullptr;
        if (!ExpectToken(vstRParen, SvekRParenMissing))
            return nullptr;
        Node->SetLeft(S);
        Node->SetRight(Chars);
        StringOperand = S;
        break;
    }
    default:
        ORVEX_ASSERT(false, "StrFunc - unknown func selection");
    }
    if (Node->Height() > MaxExprTreeHeight) {
        Error(Token, SvekExprTooDeep);
        return nullptr;
    }
    Node->SetDataType(ftString);
    if (Node->DataSize() <= 0 && StringOperand)
        Node->SetDataSize(StringOperand->DataSize());
    Node->SetScopeKind(CombineScopes(Node->Left(), Node->Right()));
    return HasParseError() ? nullptr : Node;
}

TVekExprNode* TVekExprParser::ParseGeneralValueExpr(bool IsSetFunction, bool* Distinct)
{
    if (Distinct)
        *Distinct = false;
    if (CurrentTokenType() == vstLParen && PeekAtTokenType(0) == vstRParen) {
        NextToken();
        Error(CurrToken(), SvekEmptyExpr);
        return nullptr;
    }
    // A set function's parentheses are its call's; a plain value's opening
    // parenthesis belongs to the value itself, so that "(a + b) * c" reads
    // as a whole.
    const bool Paren = IsSetFunction && CurrentTokenType() == vstLParen;
    if (Paren)
        NextToken();
    TVekExprNode* Node = nullptr;
    bool Star = false;
    if (IsSetFunction) {
        if (TokenSymbolIs("DISTINCT")) {
            if (Distinct)
                *Distinct = true;
            NextToken();
        } else if (CurrentTokenType() == vstAll) {
            NextToken();
        }
        if (CurrentTokenType() == vstMult) {
            Star = true;
            NextToken();
        }
    }
    if (!Star)
        Node = ParseExpr5();
    if (HasParseError())
        return nullptr;
    if (Paren && !ExpectToken(vstRParen, SvekRParenMissing))
        return nullptr;
    return Node;
}

TVekExprNode* TVekExprParser::ParseSetFunctionExpr(bool& Distinct)
{
    return ParseGeneralValueExpr(true, &Distinct);
}

TVekExprNode* TVekExprParser::ParseCharacterValueExpr()
{
    const bool Paren = CurrentTokenType() == vstLParen;
    if (Paren) {
        NextToken();
        if (CurrentTokenType() == vstRParen) {
            Error(CurrToken(), SvekEmptyExpr);
            return nullptr;
        }
    }
    TVekExprNode* L = ParseExpr7();
    while (!HasParseError() && (CurrentTokenType() == vstAdd || CurrentTokenType() == vstConcatenate)) {
        TParserToken* Token = CurrToken();
        NextToken();
        TVekExprNode* R = ParseExpr7();
        if (HasParseError())
            break;
        TVekExprNode* Node = NewArithNode(veoADD, L, R, Token);
        if (!Node)
            break;
        if (!HasParseError() && !IsString(Node->DataType())) {
            Error(Token, SvekCharExprInvalidExprDataType);
            break;
        }
        L = Node;
    }
    if (HasParseError())
        return nullptr;
    if (Paren && !ExpectToken(vstRParen, SvekRParenMissing))
        return nullptr;
    return L;
}

bool TVekExprParser::ParseDataType(TVekDataTypeParser& Parser)
{
    Parser.SetCurrToken(CurrToken());
    Parser.Execute({vpoExtSyntax}, FStack);
    Parser.ParseDataType();
    // The type's tokens were consumed from the shared stack.
    SetParsedText(ParsedText() + Parser.ParsedText());
    SetCurrToken(Parser.CurrToken());
    if (Parser.HasParseError()) {
        Error(Parser.ErrorToken(), Parser.ErrorMsg());
        return false;
    }
    return true;
}

TVekExprNode* TVekExprParser::ParseCastExpr()
{
    TParserToken* Token = CurrToken();
    NextToken();
    const bool Paren = CurrentTokenType() == vstLParen;
    if (Paren)
        NextToken();
    TVekExprNode* Value = ParseExpr5();
    if (HasParseError())
        return nullptr;
    if (!ExpectToken(vstAS, SvekMissingASOperatorInCASTExpr))
        return nullptr;
    TVekDataTypeParser TypeParser;
    if (!ParseDataType(TypeParser))
        return nullptr;
    if (Paren && !ExpectToken(vstRParen, SvekRParenMissing))
        return nullptr;
    TVekExprNode* Node = NewBinaryNode(enkFunc, veoFUNC2, nullptr, Value, Token);
    if (!Node)
        return nullptr;
    Node->SetData(Variant("CAST"));
    Node->SetOriginalData(Variant("CAST"));
    Node->SetDataType(TypeParser.DataType());
    Node->SetDataSize(TypeParser.FieldSize());
    Node->SetScopeKind(CombineScopes(Value, nullptr));
    if (Value)
        CheckDataConversionValid(Value->DataType(), TypeParser.DataType(), Token);
    return HasParseError() ? nullptr : Node;
}

TVekExprNode* TVekExprParser::ParseExtractExpr()
{
    TParserToken* Token = CurrToken();
    NextToken();
    const bool Paren = CurrentTokenType() == vstLParen;
    if (Paren)
        NextToken();
    const TVekSQLToken Field = CurrentTokenType();
    if (Field != vstYear && Field != vstMonth && Field != vstDay && Field != vstHour && Field != vstMinute &&
        Field != vstSecond) {
        Error(CurrToken(), SvekInvalidFieldinEXTRACTExpr);
        return nullptr;
    }
    NextToken();
    if (!ExpectToken(vstFrom, SvekMissingFROMinEXTRACTExpr))
        return nullptr;
    TVekExprNode* Value = ParseExpr5();
    if (HasParseError())
        return nullptr;
    if (FValidateFields && Value) {
        const TFieldType T = Value->DataType();
        const bool TimeField = Field == vstHour || Field == vstMinute || Field == vstSecond;
        if (!IsTemporal(T) || (TimeField && T != ftTime && T != ftDateTime)) {
            Error(Token, SvekInvalidValeExprInEXTRACTExpr);
            return nullptr;
        }
    }
    if (Paren && !ExpectToken(vstRParen, SvekRParenMissing))
        return nullptr;
    TVekExprNode* Node = NewBinaryNode(enkFunc, veoFUNC2, nullptr, Value, Token);
    if (!Node)
        return nullptr;
    Node->ParserToken()->SetCustomOrdinal(Field);
    Node->SetData(Variant("EXTRACT"));
    Node->SetOriginalData(Variant("EXTRACT"));
    Node->SetDataType(Field == vstSecond ? ftFloat : ftInteger);
    Node->SetDataSize(0);
    Node->SetScopeKind(CombineScopes(Value, nullptr));
    return Node;
}

// ============================================================ type checks

bool TVekExprParser::IsNumeric(TFieldType DataType)
{
    switch (DataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
        return true;
    default:
        return false;
    }
}

bool TVekExprParser::IsTemporal(TFieldType DataType)
{
    return DataType == ftDate || DataType == ftTime || DataType == ftDateTime;
}

TVekExprScopeKind TVekExprParser::GetScopeKind(TVekExprNode* Node, TVekExprNode* L, TVekExprNode* R)
{
    if (L && R) {
        if ((L->ScopeKind() == vskField && R->ScopeKind() == vskAgg) ||
            (L->ScopeKind() == vskAgg && R->ScopeKind() == vskField)) {
            Error(Node ? Node->ParserToken() : CurrToken(), SvekExprBadScope);
            return vskField;
        }
    }
    return CombineScopes(L, R);
}

void TVekExprParser::TypeCheckArithOp(TVekExprNode* Node)
{
    if (!Node || FIgnoreTypeChecks || HasParseError())
        return;
    TVekExprNode* L = Node->Left();
    TVekExprNode* R = Node->Right();
    if (!L || !R || L->Kind() == enkSubquery || R->Kind() == enkSubquery)
        return;
    if (L->Kind() == enkParam && R->Kind() == enkParam)
        return;
    if (L->Kind() == enkParam)
        L->SetDataType(R->DataType());
    else if (R->Kind() == enkParam)
        R->SetDataType(L->DataType());
    const TFieldType LT = L->DataType();
    const TFieldType RT = R->DataType();
    // Over a result column not bound yet the check waits for the binding.
    if (FAllowResultColumnNames && (LT == ftUnknown || RT == ftUnknown))
        return;
    const TVekExprOperator Op = Node->Operator();
    if (IsNumeric(LT) && IsNumeric(RT))
        Node->SetDataType(ftFloat);
    else if (IsString(LT) && IsString(RT) && Op == veoADD)
        Node->SetDataType(ftString);
    else if (Op == veoADD && ((IsTemporal(LT) && IsNumeric(RT)) || (IsNumeric(LT) && IsTemporal(RT))))
        Node->SetDataType(ftDateTime);
    else if (Op == veoSUB && IsTemporal(LT) && IsNumeric(RT))
        Node->SetDataType(LT);
    else if (Op == veoSUB && IsTemporal(LT) && IsTemporal(RT))
        Node->SetDataType(ftFloat);
    else if (Op == veoSUB && IsString(LT) && IsTemporal(RT)) {
        if (IsStringConst(L))
            ConvertStringValueToTemporal(L, RT);
        else
            L->SetDataType(RT);
        Node->SetDataType(ftFloat);
    } else
        Error(Node->ParserToken(), SvekExprTypeMismatch);
}

void TVekExprParser::GetArithResultSize(TVekExprNode* Node)
{
    if (!Node || !IsString(Node->DataType()))
        return;
    const TVekExprNode* L = Node->Left();
    const TVekExprNode* R = Node->Right();
    if (L && R)
        Node->SetDataSize(Node->Operator() == veoADD ? std::max(L->DataSize(), 0) + std::max(R->DataSize(), 0) : 0);
    else if (L || R)
        Node->SetDataSize((L ? L : R)->DataSize());
}

void TVekExprParser::CheckDataConversionValid(TFieldType From, TFieldType To, const TParserToken* Token)
{
    if (From == ftUnknown || To == ftUnknown)
        return;
    TVekDataConversionValidator Validator;
    if (!Validator.CheckDataConversionValid(From, To))
        Error(Token, std::string(SvekTypeConversionErr) + " " + FieldTypeName(From) + " -> " + FieldTypeName(To));
}

void TVekExprParser::CheckDataConversions(TVekExprNode* A, TVekExprNode* B)
{
    if (!A || !B || HasParseError())
        return;
    TVekExprNode* Field = nullptr;
    TVekExprNode* Const = nullptr;
    if (A->Kind() == enkField && B->Kind() == enkConst) {
        Field = A;
        Const = B;
    } else if (B->Kind() == enkField && A->Kind() == enkConst) {
        Field = B;
        Const = A;
    } else {
        return;
    }
    const TFieldType Type = Field->DataType();
    if (Type == ftUnknown || Const->Operator() == veoFUNC2)
        return;
    if (IsTemporal(Type) && Const->Data().VType() == varString) {
        ConvertStringValueToTemporal(Const, Type);
        return;
    }
    // A number with a fraction keeps its value beside an integer column:
    // "a > 5.7" must not become "a > 6".
    if ((Type == ftSmallint || Type == ftInteger || Type == ftWord || Type == ftAutoInc ||
         Type == ftLargeint) &&
        Const->Data().VType() == varDouble) {
        const double V = Const->Data().AsDouble();
        if (V != static_cast<double>(static_cast<long long>(V)) || V > 2147483647.0 || V < -2147483648.0)
            return;
    }
    try {
        Const->SetAndConvertDataType(Type);
        Const->SetDataSize(Field->DataSize());
    } catch (const Exception&) {
        Error(Const->ParserToken(), std::string(SvekTypeConversionErr) + " " +
                                        FieldTypeName(Const->DataType()) + " -> " + FieldTypeName(Type));
    }
}

bool TVekExprParser::ConvertStrToDateTime(const std::string& Text, TFieldType FieldType, Variant& Result,
                                          const TParserToken* Token)
{
    TVekDataConversionValidator Validator;
    try {
        Validator.ConvertStrToDateTime(Text, FieldType, Result);
        return true;
    } catch (const EVekDatabaseError& E) {
        // The engine's conversion error becomes this parser's error.
        Error(Token, E.TableMessage + " - " + Format(SvekDataFormatErrorFmt, {Text,
                                                     E.ErrorCode == 10058 ? FormatSettings().LongTimeFormat
                                                                          : std::string("yyyy-mmm-dd")}));
        return false;
    }
}

void TVekExprParser::ConvertStringValueToTemporal(TVekExprNode* Node, TFieldType DataType)
{
    if (!Node || HasParseError())
        return;
    Variant Value;
    if (!ConvertStrToDateTime(VarToStr(Node->Data()), DataType, Value, Node->ParserToken()))
        return;
    Node->SetData(Value.IsNull() ? Value : Variant::FromDate(Value.AsDouble()));
    Node->SetDataType(DataType);
    Node->SetDataSize(0);
}

TFieldType TVekExprParser::InternalGetFieldType(const std::string& Table, const std::string& Field)
{
    return InternalGetFieldTypeFromList(FTableList, Table, Field);
}

Integer TVekExprParser::InternalGetFieldSize(const std::string& Table, const std::string& Field)
{
    return InternalGetFieldSizeFromList(FTableList, Table, Field);
}

TFieldType TVekExprParser::InternalGetFieldTypeFromList(TTableList* List, const std::string& Table,
                                                       const std::string& Field)
{
    if (!List || List->Count() == 0)
        return ftUnknown;
    TTableNameItem* Item = Table.empty() ? List->FindTableForField(Field) : List->FindTable(Table);
    if (!Item) {
        if (Table.empty())
            SetError(CurrToken(), SvekFieldNotFound);
        else
            SetError(CurrToken(), std::string(SvekTableOrFieldNotFound) + " (" + Table + "." + Field + ")");
        return ftUnknown;
    }
    return Item->GetFieldType(Field);
}

Integer TVekExprParser::InternalGetFieldSizeFromList(TTableList* List, const std::string& Table,
                                                    const std::string& Field)
{
    if (!List || List->Count() == 0)
        return -1;
    TTableNameItem* Item = Table.empty() ? List->FindTableForField(Field) : List->FindTable(Table);
    if (!Item) {
        SetError(CurrToken(), SvekFieldNotFound);
        return -1;
    }
    return Item->GetFieldSize(Field);
}

bool IsBetweenNode(const TVekExprNode* Node)
{
    if (!Node || Node->Kind() != enkLogicalOperator || Node->TokenArgs().empty() || !Node->TokenArgs()[0])
        return false;
    const TVekSQLToken Token = Node->TokenArgs()[0]->Token();
    return (Token == vstBetween && Node->Operator() == veoAND) ||
           (Token == vstNotBetween && Node->Operator() == veoOR);
}

} // namespace orvex
