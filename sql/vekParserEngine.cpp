#include "sql/vekParserEngine.h"

#include "host/SysUtils.h"

namespace orvex {

TVekParserEngine::TVekParserEngine()
    : FPreParser(std::make_unique<TVekPreParser>()), FFromPreParser(std::make_unique<TVekPreParser>()),
      FTableList(std::make_unique<TTableList>()), FFromParser(std::make_unique<TVekFromParser>()),
      FWhereParser(std::make_unique<TVekExprParser>()), FHavingParser(std::make_unique<TVekExprParser>()),
      FSelectParser(std::make_unique<TVekSelectParser>()), FOrderByParser(std::make_unique<TVekOrderByParser>()),
      FGroupByParser(std::make_unique<TVekGroupByParser>()), FOrderByItems(std::make_unique<TOrderByItems>()),
      FGroupByItems(std::make_unique<TGroupByItems>()), FInsertParser(std::make_unique<TVekInsertParser>()),
      FDeleteParser(std::make_unique<TVekDeleteParser>()), FUpdateParser(std::make_unique<TVekUpdateParser>()),
      FSchemaParser(std::make_unique<TVekSchemaManipulationParser>())
{
    FSelectToken.SetToken(vstSelect);
    FSelectToken.SetText("SELECT");
    auto callback = [this](TParserNotifyType NotifyType, TBaseParser* Parser, TParserStack* Stack,
                           TVekExprNode* Node, Variant& NotifyData) {
        ParserCallback(NotifyType, Parser, Stack, Node, NotifyData);
    };
    FWhereParser->SetParserNotifyEvent(callback);
    FHavingParser->SetParserNotifyEvent(callback);
    FInsertParser->SetParserNotifyEvent(callback);
    FDeleteParser->SetParserNotifyEvent(callback);
    FUpdateParser->SetParserNotifyEvent(callback);
}

// The parsers hold tokens of the pre-parsers and of nested engines: the
// nested engines go first, the pre-parsers last.
TVekParserEngine::~TVekParserEngine()
{
    FNestedEngines.clear();
    FSchemaParser.reset();
    FUpdateParser.reset();
    FDeleteParser.reset();
    FInsertParser.reset();
    FGroupByParser.reset();
    FOrderByParser.reset();
    FSelectParser.reset();
    FHavingParser.reset();
    FWhereParser.reset();
    FFromParser.reset();
    FTableList.reset();
    FFromPreParser.reset();
    FPreParser.reset();
}

bool TVekParserEngine::Outcome(TBaseParser* Parser)
{
    FErrorText = Parser->ErrorMsg();
    FErrorParser = Parser->HasParseError() ? Parser : nullptr;
    return !Parser->HasParseError();
}

bool TVekParserEngine::Fail(TBaseParser* Parser, const TParserToken* Token, const std::string& Msg)
{
    Parser->SetError(Token, Msg);
    FErrorText = Parser->ErrorMsg();
    FErrorParser = Parser;
    return false;
}

std::string TVekParserEngine::GetErrorMsg() const
{
    if (FErrorParser && FErrorParser->HasParseError() && FErrorParser->ErrorMsg() == FErrorText)
        return FErrorParser->GetErrorMsg();
    return FErrorText;
}

bool TVekParserEngine::PreParseSQL(const std::string& Text)
{
    FErrorText.clear();
    FErrorParser = nullptr;
    // Parsers may still point at tokens of earlier nested engines.
    FFromParser->Clear();
    FWhereParser->Clear();
    FHavingParser->Clear();
    FSelectParser->Clear();
    FOrderByParser->Clear();
    FGroupByParser->Clear();
    FInsertParser->Clear();
    FDeleteParser->Clear();
    FUpdateParser->Clear();
    FSchemaParser->Clear();
    FNestedEngines.clear();
    FPreParser->Clear();
    FPreParser->SetText(Text);
    FPreParser->SetParseSingleStack(true);
    FPreParser->PreParseTokens();
    // The FROM parser's stack: the same tokens, copied rather than read again.
    FFromPreParser->AssignPreParse(FPreParser.get());
    FLastParser = nullptr;
    FSubqueryClosed = false;
    return true;
}

namespace {

// The index (bottom first) of the token that ends the select list at the top
// of Stack: the first FROM outside parentheses, else the closing parenthesis
// of a subquery or the end of the statement; -1 when there is none.
int FindSelectListEnd(const TParserStack* Stack)
{
    if (!Stack)
        return -1;
    const auto& items = Stack->Items();
    int depth = 0;
    for (int i = static_cast<int>(items.size()) - 1; i >= 0; --i) {
        switch (items[static_cast<std::size_t>(i)]->Token()) {
        case vstLParen:
            ++depth;
            break;
        case vstRParen:
            if (--depth < 0)
                return i;
            break;
        case vstFrom:
            if (depth == 0)
                return i;
            break;
        case vstEnd:
            return i;
        default:
            break;
        }
    }
    return -1;
}

} // namespace

// The FROM parser over Stack, from the token ListEnd where the select list
// ended (already taken from the stack): the tables follow a FROM; any other
// end (a subquery's closing parenthesis, the end of the statement, WHERE...)
// becomes the FROM parser's current token, so that it reads no table and no
// token beyond the statement.
void TVekParserEngine::RunFromParser(TParserStack* Stack, TParserToken* ListEnd, const TTableList* Resolved)
{
    FFromParser->Clear();
    FFromParser->SetIsSubquery(FIsSubquery);
    FFromParser->SetResolvedTables(Resolved);
    if (ListEnd && ListEnd->Token() != vstFrom)
        FFromParser->SetCurrToken(ListEnd);
    FFromParser->Execute(TVekParserOptions{vpoExtSyntax}, Stack);
}

bool TVekParserEngine::ParseFromClause()
{
    FTableList->Clear();
    if (!FIsSubquery || FIsUnionSubstatement)
        FSelectParser->Clear();
    // The select list is read only to move past it: its columns are resolved
    // once the tables are known, and its errors are reported then. When it
    // stops early (an untyped column in arithmetic, say), its end is found
    // by the parentheses.
    FSelectParser->SetTableList(FTableList.get());
    FSelectParser->SetIsSubquery(FIsSubquery);
    TParserStack* stack = FFromPreParser->GetSection(vstSelect, FSelectParser->CurrToken());
    const int listEnd = FindSelectListEnd(stack);
    FSelectParser->Execute(TVekParserOptions{vpoExtSyntax}, stack);
    TParserToken* endToken = FSelectParser->CurrToken();
    if (FSelectParser->HasParseError() && listEnd >= 0) {
        endToken = stack->Items()[static_cast<std::size_t>(listEnd)];
        stack->SetCountTo(listEnd);
    }
    RunFromParser(stack, endToken, nullptr);
    FSelectParser->Clear();
    bool ok = Outcome(FFromParser.get());
    // The FROM parser stops in front of a subquery used as a table, which no
    // parser of the engine reads: the statement is refused there.
    if (ok && !FFromParser->AtEndToken())
        ok = Fail(FFromParser.get(), FFromParser->CurrToken(), SvekInvalidToken);
    if (FIsSubquery && FFromParser->CurrentTokenType() == vstRParen)
        FSubqueryClosed = true;
    if (ok)
        FTableList->Assign(FFromParser->TableList());
    return ok;
}

bool TVekParserEngine::ParseSelectClause()
{
    if (!FIsSubquery)
        FSelectParser->Clear();
    FSelectParser->SetTableList(FTableList.get());
    FSelectParser->SetIsSubquery(FIsSubquery);
    FSelectParser->Execute(TVekParserOptions{vpoExtSyntax},
                           FPreParser->GetSection(vstSelect, FIsSubquery ? &FSelectToken : nullptr));
    // Moves the first pre-parser past FROM; the FROM tree the planner reads
    // is this one, its ON conditions checked against the resolved tables.
    RunFromParser(FSelectParser->Stack(), FSelectParser->CurrToken(), FTableList.get());
    if (!Outcome(FSelectParser.get()))
        return false;
    if (FFromParser->HasParseError())
        return Outcome(FFromParser.get());
    return ProcessJoins();
}

// USING lists and NATURAL joins become ON conditions over the tables' fields
// (which the owner has filled in by now).
bool TVekParserEngine::ProcessJoins()
{
    bool needed = false;
    for (const auto& node : FFromParser->Nodes())
        if (node->IsNaturalJoin() || node->UsingColumnList()->Count() > 0)
            needed = true;
    if (!needed)
        return true;
    TJoinPostProcessor processor;
    processor.SetTableList(FTableList.get());
    for (TVekTableRefNode* tree : FFromParser->Trees())
        if (!processor.ProcessJoinTree(tree))
            return Fail(FFromParser.get(), nullptr, processor.ErrorMsg());
    return true;
}

bool TVekParserEngine::ParseWhereClause()
{
    if (FSubqueryClosed)
        return true;
    if (FFromParser->CurrentTokenType() != vstWhere) {
        FWhereParser->Clear();
        FWhereParser->SyncCurrToken(FFromParser.get());
        FErrorText.clear();
        FErrorParser = nullptr;
        return true;
    }
    FWhereParser->Clear();
    FWhereParser->SetValidateFields(true);
    FWhereParser->SetIsSubquery(FIsSubquery);
    FWhereParser->SetTableList(FTableList.get());
    FWhereParser->SetValidEndTokens(TVekSQLTokens{vstGroupBy, vstHaving, vstUnion, vstOrderBy, vstEnd});
    FWhereParser->Execute(TVekParserOptions{vpoExtSyntax, vpoParameters, vpoSubqueries},
                          FPreParser->GetSection(vstWhere, FFromParser->CurrToken()));
    FLastParser = FWhereParser.get();
    if (FIsSubquery && FWhereParser->CurrentTokenType() == vstRParen)
        FSubqueryClosed = true;
    const bool ok = Outcome(FWhereParser.get());
    if (ok)
        FFromParser->SyncCurrToken(FWhereParser.get());
    return ok;
}

bool TVekParserEngine::ParseGroupByClause()
{
    FGroupByParser->Clear();
    FGroupByItems->Clear();
    if (FSubqueryClosed || FWhereParser->CurrentTokenType() != vstGroupBy)
        return true;
    FGroupByParser->SetIsSubquery(FIsSubquery);
    FGroupByParser->ExecuteGroupBy(FGroupByItems.get(), FPreParser->GetSection(vstGroupBy, FWhereParser->CurrToken()));
    FWhereParser->SyncCurrToken(FGroupByParser.get());
    FLastParser = FGroupByParser.get();
    return Outcome(FGroupByParser.get());
}

bool TVekParserEngine::ParseHavingClause()
{
    FHavingParser->Clear();
    if (FSubqueryClosed || FWhereParser->CurrentTokenType() != vstHaving)
        return true;
    if (FGroupByItems->Count() == 0)
        return Fail(FHavingParser.get(), FWhereParser->CurrToken(), SvekNoGroupByClause);
    FHavingParser->SetIsSubquery(FIsSubquery);
    // The statement's columns are typed as in WHERE, so that aggregates of
    // expressions over them are checked; other names are result columns.
    FHavingParser->SetTableList(FTableList.get());
    FHavingParser->SetAllowResultColumnNames(true);
    // A UNION may follow the HAVING of its first part.
    FHavingParser->SetValidEndTokens(TVekSQLTokens{vstOrderBy, vstUnion, vstEnd});
    FHavingParser->Execute(TVekParserOptions{vpoExtSyntax, vpoExtractAggFuncExprText, vpoSubqueries},
                           FPreParser->GetSection(vstHaving, FWhereParser->CurrToken()));
    FWhereParser->SyncCurrToken(FHavingParser.get());
    FLastParser = FHavingParser.get();
    const bool ok = Outcome(FHavingParser.get());
    if (ok && FHavingParser->Root())
        FHavingParser->Expr()->SetAsFirstNode(FHavingParser->Root());
    return ok;
}

bool TVekParserEngine::ParseOrderByClause()
{
    FOrderByParser->Clear();
    FOrderByItems->Clear();
    if (FSubqueryClosed || FWhereParser->CurrentTokenType() != vstOrderBy)
        return true;
    FOrderByParser->SetIsSubquery(FIsSubquery);
    FOrderByParser->ExecuteOrderBy(FOrderByItems.get(), FPreParser->GetSection(vstOrderBy, FWhereParser->CurrToken()));
    FWhereParser->SyncCurrToken(FOrderByParser.get());
    FLastParser = FOrderByParser.get();
    return Outcome(FOrderByParser.get());
}

bool TVekParserEngine::ParseInsertStatement()
{
    FInsertParser->Clear();
    FInsertParser->Execute(TVekParserOptions{}, FPreParser->GetSection(vstInsert, nullptr));
    FLastParser = FInsertParser.get();
    const bool ok = Outcome(FInsertParser.get());
    if (ok)
        FTableList->Add()->SetTableName(FInsertParser->TableName());
    return ok;
}

bool TVekParserEngine::ParseDeleteStatement()
{
    FDeleteParser->Clear();
    FDeleteParser->SetTables(FTableList.get());
    FDeleteParser->Execute(TVekParserOptions{}, FPreParser->GetSection(vstDelete, nullptr));
    FLastParser = FDeleteParser.get();
    return Outcome(FDeleteParser.get());
}

bool TVekParserEngine::ParseUpdateStatement()
{
    FUpdateParser->Clear();
    FUpdateParser->SetTables(FTableList.get());
    FUpdateParser->Execute(TVekParserOptions{}, FPreParser->GetSection(vstUpdate, nullptr));
    return Outcome(FUpdateParser.get()) && FErrorText.empty();
}

bool TVekParserEngine::ParseSchemaManipulationStatement()
{
    FSchemaParser->Clear();
    FSchemaParser->Execute(TVekParserOptions{}, FPreParser->GetSingleStack());
    FLastParser = FSchemaParser.get();
    const bool ok = Outcome(FSchemaParser.get());
    if (ok) {
        TTableNameItem* item = FTableList->Add();
        item->SetTableName(FSchemaParser->TableName());
        item->SetMemorySpecified(FSchemaParser->TemporaryTable());
        item->SetMemory(FSchemaParser->TemporaryTable());
    }
    return ok;
}

// The WHERE parser always stands where the last clause parsed stopped (it is
// synchronised to FROM, GROUP BY and HAVING), so it is the one asked whether
// a UNION follows.
bool TVekParserEngine::CheckForUnionStatement(bool QueryOnly, bool& UnionAll)
{
    const bool isUnion = !FSubqueryClosed && FWhereParser->CurrentTokenType() == vstUnion;
    if (!isUnion || QueryOnly)
        return isUnion;
    FHasUnionStatement = true;
    TParserStack* stack = FPreParser->GetSingleStack();
    if (!stack || stack->Count() == 0)
        return Fail(FWhereParser.get(), FWhereParser->CurrToken(), SvekUnionStatementIncorrectlyTerminated);
    if (stack->Peek()->Token() == vstAll) {
        UnionAll = true;
        stack->Pop();
    }
    if (stack->Peek() && stack->Peek()->Token() == vstSelect)
        return true;
    return Fail(FWhereParser.get(), stack->Peek() ? stack->Peek() : FWhereParser->CurrToken(),
                SvekUnionStatementIncorrectlyTerminated);
}

bool TVekParserEngine::CheckNoTokensRemain() const
{
    return FPreParser->CheckParseComplete();
}

bool TVekParserEngine::CheckParseDone() const
{
    return FPreParser->GetSingleStackCount() == 0 || FWhereParser->CurrentTokenType() == vstEnd;
}

std::string TVekParserEngine::GetCurrentPreParserTokenAsErrorFmt() const
{
    if (FPreParser->GetSingleStackCount() == 0)
        return {};
    const TParserToken* top = FPreParser->GetSingleStack()->Peek();
    if (!top)
        return {};
    return Format(" Line %d, Character %d. Token '%s'", {top->LineNo(), top->LineOffset(), top->Text()});
}

void TVekParserEngine::GetParamList(TStrings* List)
{
    ORVEX_ASSERT(List != nullptr, "Parameter list is not assigned in GetParamList");
    List->Clear();
    const std::string text = FPreParser->Text();
    FPreParser->SetText(text);
    FPreParser->SetParseSingleStack(true);
    FPreParser->PreParseTokens();
    FPreParser->GetParamList(List);
}

TVekSQLStatementType TVekParserEngine::GetSQLStatementType() const
{
    return FPreParser->SQLStatementType();
}

TVekPreParser* TVekParserEngine::FewerTokensLeft(TVekPreParser* First, TVekPreParser* Second)
{
    return First->GetSingleStackCount() < Second->GetSingleStackCount() ? First : Second;
}

void TVekParserEngine::ParserCallback(TParserNotifyType NotifyType, TBaseParser* Parser, TParserStack* Stack,
                                      TVekExprNode* Node, Variant& NotifyData)
{
    switch (NotifyType) {
    case pntSubquery:
    case pntSelectUnion:
        ParseNested(NotifyType, Parser, Node, NotifyData);
        break;
    case pntFindTableRef:
        if (FOnNotify)
            FOnNotify(NotifyType, nullptr, Node, NotifyData);
        break;
    default:
        Parser->SetError(Parser->CurrToken(), SvekInvalidToken);
        break;
    }
}

void TVekParserEngine::ParseNested(TParserNotifyType NotifyType, TBaseParser* Parser, TVekExprNode* Node,
                                   Variant& NotifyData)
{
    if (FDepth >= MaxNestedEngineDepth) {
        Parser->SetError(Parser->CurrToken(), SvekExprTooDeep);
        return;
    }
    FNestedEngines.push_back(std::make_unique<TVekParserEngine>());
    TVekParserEngine* nested = FNestedEngines.back().get();
    nested->FDepth = FDepth + 1;
    // A UNION part of a subquery ends at the subquery's closing parenthesis.
    if (NotifyType == pntSelectUnion)
        nested->FIsSubquery = FIsSubquery;
    TVekPreParser* source = FewerTokensLeft(FPreParser.get(), FFromPreParser.get());
    for (TVekPreParser* preParser : {nested->FPreParser.get(), nested->FFromPreParser.get()}) {
        preParser->SetParseSingleStack(true);
        preParser->AssignStacks(source);
        preParser->SetSQLStatementType(vsSQLSelect);
    }
    nested->FSelectParser->SyncCurrToken(Parser);
    nested->FFromParser->SyncCurrToken(Parser);

    if (FOnNotify)
        FOnNotify(NotifyType, nested, Node, NotifyData);

    if (!nested->ErrorText().empty()) {
        Parser->SetError(nullptr, nested->GetErrorMsg());
        return;
    }
    // Where the nested statement stopped: the WHERE parser follows every
    // clause after FROM; without a WHERE step, the FROM parser.
    TVekPreParser* target = FewerTokensLeft(nested->FPreParser.get(), nested->FFromPreParser.get());
    const TBaseParser* last = nested->WhereParser()->CurrToken() ? static_cast<TBaseParser*>(nested->WhereParser())
                              : nested->LastParser()             ? nested->LastParser()
                                                                 : nested->FromParser();
    TParserToken* stop = last->CurrToken();
    const int remaining = target->GetSingleStackCount();
    // This engine's own copy of the stop token, so that no parser of this
    // engine keeps a token of the nested engine.
    if (FPreParser->GetSingleStackCount() > 0 && stop) {
        const auto& items = FPreParser->GetSingleStack()->Items();
        const auto index = static_cast<std::size_t>(remaining);
        if (index < items.size()) {
            TParserToken* own = items[index];
            if (own->Token() == stop->Token() && own->LineNo() == stop->LineNo()
                && own->LineOffset() == stop->LineOffset() && own->Text() == stop->Text())
                stop = own;
        }
    }
    // A subquery's caller takes the stop token (its closing parenthesis, say)
    // itself with NextToken, so it stays on the stacks; the caller of a UNION
    // part (the owner) is given it as its current token.
    const bool leaveStop = NotifyType == pntSubquery && stop;
    for (TVekPreParser* preParser : {FPreParser.get(), FFromPreParser.get()})
        if (preParser->GetSingleStackCount() > 0)
            preParser->GetSingleStack()->SetCountTo(remaining + (leaveStop ? 1 : 0));
    if (!leaveStop) {
        Parser->SyncCurrToken(last);
        Parser->SetCurrToken(stop);
    }
}

TVekParserEngine* TVekParserEngine::ReleaseNestedEngine(TVekParserEngine* Engine)
{
    for (auto it = FNestedEngines.begin(); it != FNestedEngines.end(); ++it)
        if (it->get() == Engine) {
            TVekParserEngine* released = it->release();
            FNestedEngines.erase(it);
            return released;
        }
    return nullptr;
}

} // namespace orvex
