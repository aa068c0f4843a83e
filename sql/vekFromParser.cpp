#include "sql/vekFromParser.h"

#include "host/SysUtils.h"
#include "sql/vekExprParser.h"

namespace orvex {

const char* const CVekTableRefTypeNames[TVekTableRefTypeCount] = {
    "jtUnknown",       "jtCrossJoin",      "jtUnionJoin",     "jtInnerJoin", "jtLeftOuterJoin",
    "jtRightOuterJoin", "jtFullOuterJoin", "trSubQuery",      "trTableName",
};

namespace {

inline constexpr const char* SvekInvalidJoinSyntax = "Invalid cross join syntax - expected CROSS";
inline constexpr const char* SvekUsingMissingLParen = "Missing '(' from using join specification";
inline constexpr const char* SvekUsingMissingRParen = "Missing ')' from using join specification";
inline constexpr const char* SvekUsingListSyntax = "Invalid column list syntax in using specification";

// Whether a double-quoted name was written: a vstValue token whose raw text
// starts (after blanks) with the double quote.
bool IsDoubleQuoted(const TParserToken* Token)
{
    if (Token->Token() != vstValue)
        return false;
    const std::string raw = TrimLeft(Token->RawTokenText());
    return !raw.empty() && raw[0] == '"';
}

} // namespace

// ======================================================== TVekTableRefNode

TVekTableRefNode::TVekTableRefNode()
    : FExpr(std::make_unique<TVekExpr>()), FUsingColumnList(std::make_unique<TStringList>())
{
}

TVekTableRefNode::~TVekTableRefNode() = default;

void TVekTableRefNode::Display(const std::string& Indent, TStrings* Lines) const
{
    Lines->Add(Indent + FText + " : text - " + CVekTableRefTypeNames[FJoinType]);
    FExpr->Display(Lines);
}

void TVekTableRefNode::DisplayTree(const std::string& Indent, TStrings* Lines) const
{
    if (FLeft)
        FLeft->DisplayTree(Indent + "  ", Lines);
    Display(Indent, Lines);
    if (FRight)
        FRight->DisplayTree(Indent + "  ", Lines);
}

// ========================================================== TVekFromParser

TVekFromParser::TVekFromParser() : FTableList(std::make_unique<TTableList>())
{
    FEndTokens = TVekSQLTokens{vstWhere, vstGroupBy, vstHaving, vstUnion, vstOrderBy, vstEnd};
}

TVekFromParser::~TVekFromParser() = default;

void TVekFromParser::Clear()
{
    TBaseParser::Clear();
    FTrees.clear();
    FRoot = nullptr;
    FNodes.clear();
    FTableList->Clear();
    FDepth = 0;
    FJoinCount = 0;
}

void TVekFromParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    TBaseParser::Execute(Options, Stack);
    ParseFromClause();
}

bool TVekFromParser::IsJoinSpecifier(TVekSQLToken Token)
{
    switch (Token) {
    case vstUnion:
    case vstJoin:
    case vstInner:
    case vstOuter:
    case vstLeft:
    case vstRight:
    case vstCross:
    case vstNatural:
    case vstFull:
        return true;
    default:
        return false;
    }
}

TVekTableRefNode* TVekFromParser::NewTableRefNode(TVekTableRefType JoinType)
{
    auto node = std::make_unique<TVekTableRefNode>();
    node->SetJoinType(JoinType);
    node->SetNext(FRoot);
    FNodes.push_back(std::move(node));
    return FNodes.back().get();
}

int TVekFromParser::GetExprCount() const
{
    int count = 0;
    for (const auto& node : FNodes)
        if (IsJoinRefType(node->JoinType()) && node->Expr()->FirstNode())
            ++count;
    return count;
}

void TVekFromParser::DebugDisplay(TStrings* Lines) const
{
    Lines->Add("StartTables");
    for (int i = 0; i < FTableList->Count(); ++i) {
        const TTableNameItem* item = FTableList->Items(i);
        Lines->Add(Format("tbl %s   corr  %s", {item->TableName(), item->CorrelationName()}));
    }
    Lines->Add("EndTables");
    Lines->Add("StartJoins");
    for (const auto& node : FNodes) {
        if (!IsJoinRefType(node->JoinType()))
            continue;
        Lines->Add(Format("join %s   inner  %s outer %s",
                          {CVekTableRefTypeNames[node->JoinType()], node->InnerTable(), node->OuterTable()}));
        node->Expr()->Display(Lines);
    }
    Lines->Add("EndJoins");
    Lines->Add("StartTree");
    for (const TVekTableRefNode* tree : FTrees)
        tree->DisplayTree("", Lines);
    Lines->Add("EndTree");
}

// A leading FROM is skipped; then join chains separated by commas until an
// end token or an error. A chain that consumes nothing (a subquery in FROM,
// which the parser engine does not parse from here) ends the clause.
void TVekFromParser::ParseFromClause()
{
    if (CurrentTokenType() == vstFrom)
        NextToken();
    while (!HasParseError() && FCurrToken && !AtEndToken()) {
        const TParserToken* before = FCurrToken;
        const int countBefore = FStack ? FStack->Count() : 0;
        if (TVekTableRefNode* tree = ParseFrom1())
            FTrees.push_back(tree);
        if (HasParseError())
            break;
        if (CurrentTokenType() == vstComma) {
            NextToken();
            continue;
        }
        if (FCurrToken == before && (FStack ? FStack->Count() : 0) == countBefore)
            break;
    }
}

// UNION followed by anything but JOIN ends the FROM clause: it starts the
// next query of a UNION, not a UNION JOIN.
bool TVekFromParser::AtUnionOfQueries() const
{
    return CurrentTokenType() == vstUnion && PeekAtTokenType(0) != vstJoin;
}

TVekTableRefNode* TVekFromParser::ParseFrom1()
{
    TVekTableRefNode* left = ParseFrom2();
    while (!HasParseError() && IsJoinSpecifier(CurrentTokenType()) && !AtUnionOfQueries()) {
        if (++FJoinCount > MaxJoinChain) {
            SetError(FCurrToken, SvekExprTooDeep);
            break;
        }
        if (CurrentTokenType() == vstCross) {
            NextToken();
            if (CurrentTokenType() != vstJoin) {
                SetError(FCurrToken, SvekInvalidJoinSyntax);
                break;
            }
            NextToken();
            TVekTableRefNode* join = NewTableRefNode(trCrossJoin);
            join->SetLeft(left);
            FRoot = join;
            join->SetRight(ParseFrom2());
            left = join;
            continue;
        }
        bool natural = false;
        if (CurrentTokenType() == vstNatural) {
            natural = true;
            NextToken();
        }
        TVekTableRefType type = trInnerJoin;
        switch (CurrentTokenType()) {
        case vstLeft:
        case vstRight:
        case vstFull:
            type = CurrentTokenType() == vstLeft    ? trLeftOuterJoin
                   : CurrentTokenType() == vstRight ? trRightOuterJoin
                                                    : trFullOuterJoin;
            NextToken();
            if (CurrentTokenType() == vstOuter)
                NextToken();
            break;
        case vstInner:
            NextToken();
            break;
        case vstUnion:
            type = trUnionJoin;
            NextToken();
            break;
        default:
            break;
        }
        if (CurrentTokenType() != vstJoin) {
            SetError(FCurrToken, SvekInvalidJoinSyntax);
            break;
        }
        NextToken();
        TVekTableRefNode* join = NewTableRefNode(type);
        join->SetIsNaturalJoin(natural);
        join->SetLeft(left);
        FRoot = join;
        join->SetRight(ParseFrom2());
        left = join;
        if (HasParseError())
            break;
        if (CurrentTokenType() == vstOn)
            ParseJoinCondition(join);
        else if (CurrentTokenType() == vstUsing)
            ParseUsingList(join);
    }
    return left;
}

TVekTableRefNode* TVekFromParser::ParseFrom2()
{
    if (!FCurrToken) {
        SetError(nullptr, SvekMissingTableReference);
        return nullptr;
    }
    if (CurrentTokenType() == vstSelect
        || (CurrentTokenType() == vstLParen && PeekAtTokenType(0) == vstSelect))
        return NewTableRefNode(trSubQuery);

    if (CurrentTokenType() == vstLParen) {
        if (FDepth >= MaxParserNesting) {
            SetError(FCurrToken, SvekExprTooDeep);
            return nullptr;
        }
        NextToken();
        ++FDepth;
        TVekTableRefNode* inner = ParseFrom1();
        --FDepth;
        if (HasParseError())
            return inner;
        TakeToken(vstRParen, SvekRParenMissing);
        return inner;
    }

    bool temporary = false;
    if (CurrentTokenType() == vstTemporary) {
        temporary = true;
        NextToken();
    }
    if (!FCurrToken || (CurrentTokenType() != vstFieldName && !IsDoubleQuoted(FCurrToken))) {
        SetError(FCurrToken, SvekMissingTableReference);
        return nullptr;
    }
    TVekTableRefNode* node = NewTableRefNode(trTableName);
    node->SetText(TokenName());
    TTableNameItem* item = FTableList->Add();
    item->SetTableName(TokenName());
    item->SetMemorySpecified(temporary);
    NextToken();
    if (CurrentTokenType() == vstAS)
        NextToken();
    if (CurrentTokenType() == vstFieldName && !IsJoinSpecifier(CurrentTokenType())) {
        node->SetCorrelationName(TokenName());
        item->SetCorrelationName(TokenName());
        NextToken();
    }
    return node;
}

namespace {

// The resolved entries of the tables below Node: the tables an ON condition
// of Node may name.
void CollectJoinScope(const TVekTableRefNode* Node, const TTableList* Tables, TTableList* Scope, int Depth)
{
    if (!Node || Depth > MaxJoinChain + MaxParserNesting)
        return;
    if (Node->JoinType() == trTableName) {
        if (TTableNameItem* item = Tables->FindTableAndCorrelationName(Node->Text(), Node->CorrelationName()))
            Scope->Add()->Assign(item);
        return;
    }
    CollectJoinScope(Node->Left(), Tables, Scope, Depth + 1);
    CollectJoinScope(Node->Right(), Tables, Scope, Depth + 1);
}

} // namespace

// "ON" condition: an expression parser on the same stack, ending at the next
// clause, a comma or a join word.
void TVekFromParser::ParseJoinCondition(TVekTableRefNode* Node)
{
    NextToken();
    TVekExprParser parser;
    // Once the tables are known the condition's columns are resolved against
    // the tables of this join (an unknown one is an error at its position)
    // and typed, so that arithmetic and || over them are checked as in WHERE.
    // Before that, only the extent of the condition matters.
    TTableList scope;
    if (FResolvedTables) {
        CollectJoinScope(Node, FResolvedTables, &scope, 0);
        parser.SetTableList(&scope);
    } else {
        parser.SetIgnoreTypeChecks(true);
    }
    TVekSQLTokens ends{vstWhere, vstGroupBy, vstHaving, vstUnion, vstOrderBy, vstEnd, vstComma, vstJoin,
                       vstInner, vstOuter, vstLeft, vstRight, vstCross, vstNatural, vstFull};
    // Inside a parenthesised join the condition ends at the closing parenthesis.
    if (FDepth > 0)
        ends.Include(vstRParen);
    parser.SetValidEndTokens(ends);
    parser.SetIsSubquery(FIsSubquery);
    parser.SyncCurrToken(this);
    // Parameters are allowed: the statement binds them into join conditions.
    parser.ExecuteExternalExpr(Node->Expr(), TVekParserOptions{vpoExtSyntax, vpoParameters}, FStack);
    if (parser.HasParseError())
        SetError(parser.ErrorToken(), parser.ErrorMsg());
    FCurrToken = parser.CurrToken();
}

void TVekFromParser::ParseUsingList(TVekTableRefNode* Node)
{
    NextToken();
    if (!TakeToken(vstLParen, SvekUsingMissingLParen))
        return;
    for (;;) {
        if (!FCurrToken || CurrentTokenType() == vstEnd) {
            SetError(FCurrToken, SvekUsingMissingRParen);
            return;
        }
        if (CurrentTokenType() == vstComma || CurrentTokenType() == vstRParen) {
            SetError(FCurrToken, SvekUsingListSyntax);
            return;
        }
        Node->UsingColumnList()->Add(TokenName());
        NextToken();
        if (CurrentTokenType() == vstComma) {
            NextToken();
            continue;
        }
        if (CurrentTokenType() == vstRParen) {
            NextToken();
            return;
        }
        if (!FCurrToken || CurrentTokenType() == vstEnd)
            SetError(FCurrToken, SvekUsingMissingRParen);
        else
            SetError(FCurrToken, SvekUsingListSyntax);
        return;
    }
}

// ====================================================== TJoinPostProcessor

bool TJoinPostProcessor::ProcessJoinTree(TVekTableRefNode* Root)
{
    ORVEX_ASSERT(FTableList != nullptr, "TJoinPostProcessor table list is not assigned");
    ProcessNode(Root, 0);
    return FErrorMsg.empty();
}

void TJoinPostProcessor::ProcessNode(TVekTableRefNode* Node, int Depth)
{
    if (!Node || !FErrorMsg.empty())
        return;
    if (Depth > MaxJoinChain + MaxParserNesting) {
        FErrorMsg = SvekExprTooDeep;
        return;
    }
    ProcessNode(Node->Left(), Depth + 1);
    ProcessNode(Node->Right(), Depth + 1);
    if (!IsJoinRefType(Node->JoinType()) || !FErrorMsg.empty())
        return;
    ORVEX_ASSERT(Node->Left() != nullptr && Node->Right() != nullptr, "Join node sides are not assigned");
    if (Node->IsNaturalJoin() && Node->UsingColumnList()->Count() == 0)
        AddNaturalColumns(Node);
    TStringList* columns = Node->UsingColumnList();
    for (int i = 0; i < columns->Count() && FErrorMsg.empty(); ++i) {
        const std::string column = columns->Get(i);
        TVekTableRefNode* left = FindTableRefNodeForField(column, Node->Left());
        TVekTableRefNode* right = FindTableRefNodeForField(column, Node->Right());
        if (!left || !right) {
            FErrorMsg = "Field not found in join tables: " + column;
            break;
        }
        TTableNameItem* leftTable = FindJoinField(column, left->Text(), left->CorrelationName());
        TTableNameItem* rightTable =
            leftTable ? FindJoinField(column, right->Text(), right->CorrelationName()) : nullptr;
        if (!leftTable || !rightTable)
            break;
        CreateJoinExpr(leftTable, column, rightTable, column, Node);
    }
}

TTableNameItem* TJoinPostProcessor::TableOfNode(const TVekTableRefNode* Node) const
{
    TTableNameItem* item = nullptr;
    if (!Node->CorrelationName().empty())
        item = FTableList->FindTable(Node->CorrelationName());
    if (!item)
        item = FTableList->FindTable(Node->Text());
    return item;
}

TVekTableRefNode* TJoinPostProcessor::FindTableRefNodeForField(const std::string& Field, TVekTableRefNode* Node)
{
    if (!Node)
        return nullptr;
    if (Node->JoinType() == trTableName) {
        const TTableNameItem* item = TableOfNode(Node);
        if (item && item->TableFields()->FindField(Field))
            return Node;
        return nullptr;
    }
    if (!IsJoinRefType(Node->JoinType()))
        return nullptr;
    if (TVekTableRefNode* found = FindTableRefNodeForField(Field, Node->Left()))
        return found;
    return FindTableRefNodeForField(Field, Node->Right());
}

TTableNameItem* TJoinPostProcessor::FindJoinField(const std::string& Field, const std::string& TableName,
                                                  const std::string& CorrelationName)
{
    ORVEX_ASSERT(!TableName.empty() || !CorrelationName.empty(), "Neither join table/correlation names is set");
    TTableNameItem* item = FTableList->FindTableAndCorrelationName(TableName, CorrelationName);
    if (!item) {
        FErrorMsg = "Join ON field not found: " + TableName + " : " + CorrelationName;
        return nullptr;
    }
    if (!item->TableFields()->FindField(Field)) {
        FErrorMsg = "Field (" + Field + ") not found in table " + TableName;
        return nullptr;
    }
    return item;
}

bool TJoinPostProcessor::CreateJoinExpr(const TTableNameItem* LeftTable, const std::string& LeftField,
                                        const TTableNameItem* RightTable, const std::string& RightField,
                                        TVekTableRefNode* Node)
{
    TVekExpr* expr = Node->Expr();
    auto fieldNode = [expr](const TTableNameItem* Table, const std::string& Field) {
        TParserToken token;
        token.SetToken(vstFieldName);
        token.SetText(Field);
        TVekExprNode* node = expr->NewFieldNode(enkField, veoFIELD2, Variant(Field), nullptr, nullptr, &token,
                                                Table->GetFieldType(Field), Table->GetFieldSize(Field));
        node->SetScopeKind(vskField);
        // The field names its table (by its correlation name where it has
        // one), as a qualified column of the text would.
        TParserToken tableToken;
        tableToken.SetToken(vstTableName);
        tableToken.SetText(Table->CorrelationName().empty() ? Table->TableName() : Table->CorrelationName());
        node->TokenArgs().push_back(expr->AdoptToken(&tableToken));
        TTableNameItem* source = node->SourceTables()->Add();
        source->Assign(const_cast<TTableNameItem*>(Table));
        return node;
    };
    TVekExprNode* oldRoot = expr->FirstNode();
    TVekExprNode* left = fieldNode(LeftTable, LeftField);
    TVekExprNode* right = fieldNode(RightTable, RightField);
    TParserToken eqToken;
    eqToken.SetToken(vstCompOperator);
    eqToken.SetText("=");
    TVekExprNode* eq = expr->NewNode(enkRelOperator, veoEQ, Variant(), left, right, &eqToken);
    eq->SetDataType(ftBoolean);
    eq->SetScopeKind(vskField);
    TVekExprNode* root = eq;
    if (oldRoot) {
        TParserToken andToken;
        andToken.SetToken(vstAnd);
        andToken.SetText("AND");
        root = expr->NewNode(enkLogicalOperator, veoAND, Variant(), oldRoot, eq, &andToken);
        root->SetDataType(ftBoolean);
        root->SetScopeKind(vskField);
    }
    expr->SetAsFirstNode(root);
    return FErrorMsg.empty();
}

void TJoinPostProcessor::CollectTableNodes(TVekTableRefNode* Node, std::vector<TVekTableRefNode*>& Out,
                                           int Depth) const
{
    if (!Node || Depth > MaxJoinChain + MaxParserNesting)
        return;
    if (Node->JoinType() == trTableName) {
        Out.push_back(Node);
        return;
    }
    CollectTableNodes(Node->Left(), Out, Depth + 1);
    CollectTableNodes(Node->Right(), Out, Depth + 1);
}

// A NATURAL join without a USING list joins over every column name that a
// table of the left side shares with a table of the right side, in the
// order of the left side's fields.
void TJoinPostProcessor::AddNaturalColumns(TVekTableRefNode* Node)
{
    std::vector<TVekTableRefNode*> leftNodes;
    std::vector<TVekTableRefNode*> rightNodes;
    CollectTableNodes(Node->Left(), leftNodes, 0);
    CollectTableNodes(Node->Right(), rightNodes, 0);
    TStringList* columns = Node->UsingColumnList();
    for (TVekTableRefNode* leftNode : leftNodes) {
        const TTableNameItem* leftItem = TableOfNode(leftNode);
        if (!leftItem)
            continue;
        const TInternalFields* fields = leftItem->TableFields();
        for (int i = 0; i < fields->Count(); ++i) {
            const std::string& name = fields->GetIndex(i)->FieldName();
            if (columns->IndexOf(name) >= 0)
                continue;
            for (TVekTableRefNode* rightNode : rightNodes) {
                const TTableNameItem* rightItem = TableOfNode(rightNode);
                if (rightItem && rightItem->TableFields()->FindField(name)) {
                    columns->Add(name);
                    break;
                }
            }
        }
    }
}

} // namespace orvex
