#include "sql/vekSelectParser.h"

#include "host/SysUtils.h"
#include "sql/vekExprParser.h"

#include <cctype>

namespace orvex {

namespace {

inline constexpr const char* SvekSelectIncorrectlyTerminated = "Select clause incorrectly terminated";

} // namespace

// ========================================================== TVekSelectNode

TVekSelectNode::TVekSelectNode() : FExpr(std::make_unique<TVekExpr>()), FToken(std::make_unique<TParserToken>()) {}

TVekSelectNode::~TVekSelectNode() = default;

void TVekSelectNode::SetToken(const TParserToken* Value)
{
    FToken->AssignToken(Value);
}

void TVekSelectNode::Display(const std::string& Indent, TStrings* Lines) const
{
    switch (FSelectNodeType) {
    case snGroupColumn:
        Lines->Add(Indent + "Column Group");
        Lines->Add(Indent + "Output all from - " + FQualifier);
        break;
    case snSingleColumn:
        Lines->Add(Indent + "Derived Column");
        Lines->Add(Indent + "RawColumnName - " + FRawColumnName);
        break;
    case snAggFunc:
        Lines->Add(Indent + "Agg Func");
        Lines->Add(Indent + "Func - " + FToken->Text() + " :: " + FQualifier);
        break;
    }
    if (FExpr->FirstNode()) {
        Lines->Add(Indent + "Start Expr");
        FExpr->Display(Lines);
        Lines->Add(Indent + "End Expr");
    }
}

void TVekSelectNode::DisplayList(const std::string& Indent, TStrings* Lines) const
{
    std::string indent = Indent;
    for (const TVekSelectNode* node = this; node; node = node->Next()) {
        node->Display(indent, Lines);
        indent += "  ";
    }
}

void TVekSelectNode::DisplayTree(const std::string& Indent, TStrings* Lines) const
{
    if (FLeft)
        FLeft->DisplayTree(Indent + "  ", Lines);
    Display(Indent, Lines);
    if (FRight)
        FRight->DisplayTree(Indent + "  ", Lines);
}

// ======================================================== TVekSelectParser

TVekSelectParser::TVekSelectParser()
{
    FEndTokens = TVekSQLTokens{vstFrom, vstWhere, vstGroupBy, vstHaving, vstOrderBy, vstEnd};
}

TVekSelectParser::~TVekSelectParser()
{
    FreeNodes();
}

void TVekSelectParser::FreeNodes()
{
    TVekSelectNode* node = FHead;
    while (node) {
        TVekSelectNode* next = node->Next();
        delete node;
        node = next;
    }
    FHead = FTail = nullptr;
}

void TVekSelectParser::Clear()
{
    TBaseParser::Clear();
    FreeNodes();
}

TVekSelectNode* TVekSelectParser::NewSelectNode()
{
    auto* node = new TVekSelectNode();
    if (FTail)
        FTail->SetNext(node);
    else
        FHead = node;
    FTail = node;
    return node;
}

void TVekSelectParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    TBaseParser::Execute(Options, Stack);
    if (CurrentTokenType() == vstSelect)
        NextToken();
    FIsDistinct = CurrentTokenType() == vstDistinct;
    if (CurrentTokenType() == vstDistinct || CurrentTokenType() == vstAll)
        NextToken();
    ParseSelectList();
    if (!HasParseError() && !AtEndToken())
        SetError(FCurrToken, SvekSelectIncorrectlyTerminated);
}

void TVekSelectParser::ParseSelectList()
{
    if (CurrentTokenType() == vstMult) {
        TVekSelectNode* node = NewSelectNode();
        node->SetToken(FCurrToken);
        node->SetSelectNodeType(snGroupColumn);
        NextToken();
        return;
    }
    do {
        if (CurrentTokenType() == vstComma)
            NextToken();
        if (CurrentTokenType() == vstTableName && PeekAtTokenType(0) == vstMult) {
            TVekSelectNode* node = NewSelectNode();
            node->SetToken(FCurrToken);
            node->SetSelectNodeType(snGroupColumn);
            node->SetQualifier(TokenName());
            NextToken();
            NextToken();
        } else if (CurrentTokenType() == vstAggFunc) {
            ParseDerivedColumn(snAggFunc);
        } else {
            ParseDerivedColumn(snSingleColumn);
        }
    } while (!HasParseError() && CurrentTokenType() == vstComma);
}

void TVekSelectParser::ParseDerivedColumn(TSelectNodeType NodeType)
{
    TVekSelectNode* node = NewSelectNode();
    node->SetToken(FCurrToken);
    node->SetSelectNodeType(NodeType);

    TVekExprParser parser;
    parser.SyncCurrToken(this);
    parser.SetTableList(FTableList);
    parser.SetValidateFields(FTableList && FTableList->Count() > 0);
    parser.SetValidEndTokens(TVekSQLTokens{vstEnd, vstFieldName, vstFrom, vstStringLiteral, vstComma, vstAS});
    parser.SetIsSubquery(FIsSubquery);
    parser.ExecuteExternalExpr(node->Expr(), TVekParserOptions{vpoExtSyntax, vpoSQL}, FStack);
    if (parser.HasParseError()) {
        SetError(parser.ErrorToken(), parser.ErrorMsg());
        FCurrToken = parser.CurrToken();
        return;
    }
    TVekExprNode* root = parser.Root();
    if (root)
        node->Expr()->SetAsFirstNode(root);
    if (parser.CurrToken())
        parser.RemoveCurrentTokenFromParsedText();
    if (root) {
        node->SetRawColumnName(Trim(parser.ParsedText()));
        if (root->Operator() == veoISBLANK && root->DataType() == ftUnknown)
            root->SetDataType(ftInteger);
    } else {
        node->SetRawColumnName(node->Token()->Text());
    }
    SyncCurrToken(&parser);

    if (CurrentTokenType() == vstAS)
        NextToken();
    if (CurrentTokenType() == vstFieldName || CurrentTokenType() == vstStringLiteral) {
        node->SetOutputColumnName(TokenName());
        NextToken();
    }
}

void TVekSelectParser::DebugDisplay(TStrings* Lines) const
{
    if (FHead)
        FHead->DisplayList("", Lines);
}

// ======================================================== TSelectFieldItem

TSelectFieldItem::TSelectFieldItem(TCollection* Collection) : TInternalFieldItem(Collection) {}

// Besides the physical description, the whole analysis of the column is
// copied, so that a copied result list still knows its aggregates and their
// expressions.
void TSelectFieldItem::Assign(TPersistent* Source)
{
    TInternalFieldItem::Assign(Source);
    if (auto* other = dynamic_cast<TSelectFieldItem*>(Source)) {
        FSourceTableItem = other->FSourceTableItem;
        FHasAggregateFunction = other->FHasAggregateFunction;
        FExprRoot = other->FExprRoot;
        FSourceFieldName = other->FSourceFieldName;
        FRawColumnName = other->FRawColumnName;
        FDistinctQuantifier = other->FDistinctQuantifier;
        FIsGrouped = other->FIsGrouped;
        FAggFunc = other->FAggFunc;
        FCustomQualifier = other->FCustomQualifier;
        FAggExprRoot = other->FAggExprRoot;
    }
}

// =========================================================== TSelectFields

TSelectFields::TSelectFields() : TInternalFields(ItemClassOf<TSelectFieldItem>()) {}

void TSelectFields::Assign(TPersistent* Source)
{
    if (auto* other = dynamic_cast<TSelectFields*>(Source)) {
        if (other == this)
            return;
        Clear();
        for (int i = 0; i < other->Count(); ++i)
            Add()->Assign(other->GetItems(i));
        return;
    }
    TInternalFields::Assign(Source);
}

TSelectFieldItem* TSelectFields::AddSelectField(const std::string& Name, const std::string& SourceFieldName,
                                                const TInternalFieldItem* SourceField, TTableNameItem* TableItem)
{
    TSelectFieldItem* item = Add();
    item->TInternalFieldItem::Assign(const_cast<TInternalFieldItem*>(SourceField));
    item->SetSourceTableItem(TableItem);
    item->SetFieldName(Trim(Name));
    item->SetSourceFieldName(Trim(SourceFieldName));
    if (SourceField->IsVariable())
        item->SetFieldSize(SourceField->GetWriteableFieldSize());
    return item;
}

TSelectFieldItem* TSelectFields::FindField(const std::string& Name) const
{
    if (auto* item = TInternalFields::FindField(Name))
        return static_cast<TSelectFieldItem*>(item);
    const std::string name = Trim(Name);
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Trim(GetItems(i)->RawColumnName()), name))
            return GetItems(i);
    return nullptr;
}

TSelectFieldItem* TSelectFields::FindColumn(const std::string& Qualifier, const std::string& Name) const
{
    if (TSelectFieldItem* item = FindField(Name))
        return item;
    for (int i = 0; i < Count(); ++i) {
        TSelectFieldItem* item = GetItems(i);
        if (!AnsiSameText(item->SourceFieldName(), Name))
            continue;
        if (Qualifier.empty())
            return item;
        const TTableNameItem* table = item->SourceTableItem();
        if (table && (AnsiSameText(table->CorrelationName(), Qualifier) || AnsiSameText(table->TableName(), Qualifier)))
            return item;
    }
    return nullptr;
}

bool TSelectFields::ContainsAggregateColumns() const
{
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->HasAggregateFunction())
            return true;
    return false;
}

bool TSelectFields::ContainsGroupedOutput() const
{
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->IsGrouped())
            return true;
    return false;
}

// ====================================================== TVekSelectAnalyser

namespace {

// Whether a field list can hold a value of that type (what
// TInternalFieldItem::SetDataType accepts).
bool IsStorableType(TFieldType Type)
{
    switch (Type) {
    case ftString:
    case ftBytes:
    case ftBoolean:
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
        return true;
    default:
        return false;
    }
}

// A result column takes the type and size of its expression; a type that
// no field can hold (an untyped expression) stays ftUnknown.
void SetColumnType(TSelectFieldItem* Item, TFieldType Type, Integer Size)
{
    if (IsStorableType(Type))
        Item->SetDataType(Type);
    if (Size >= 0)
        Item->SetFieldSize(Size);
}

bool IsInvalidDistinctType(TFieldType Type)
{
    return Type == ftBytes || Type == ftVarBytes || (Type >= ftBlob && Type <= ftCursor)
           || (Type >= ftADT && Type <= ftDataSet);
}

// The first aggregate-function node of the tree (Left, Right and Args).
TVekExprNode* FindAggregateNode(TVekExprNode* Node, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return nullptr;
    if (Node->ParserToken()->Token() == vstAggFunc)
        return Node;
    if (TVekExprNode* found = FindAggregateNode(Node->Left(), Depth + 1))
        return found;
    if (TVekExprNode* found = FindAggregateNode(Node->Right(), Depth + 1))
        return found;
    for (TVekExprNode* arg : Node->Args())
        if (TVekExprNode* found = FindAggregateNode(arg, Depth + 1))
            return found;
    return nullptr;
}

// Removes one leading "<prefix>." (ignoring case) when present.
bool StripPrefix(std::string& Name, const std::string& Prefix)
{
    if (Prefix.empty())
        return false;
    const std::string head = AnsiLowerCase(Prefix) + ".";
    if (Name.size() >= head.size() && AnsiLowerCase(Name.substr(0, head.size())) == head) {
        Name.erase(0, head.size());
        return true;
    }
    return false;
}

void NullifyFields(TVekExprNode* Node, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return;
    if (Node->Kind() == enkField) {
        Node->SetKind(enkConst);
        Node->SetOperator(veoCONST2);
        Node->SetData(Null());
    }
    NullifyFields(Node->Left(), Depth + 1);
    NullifyFields(Node->Right(), Depth + 1);
    for (TVekExprNode* arg : Node->Args())
        NullifyFields(arg, Depth + 1);
}

} // namespace

TVekSelectAnalyser::TVekSelectAnalyser() : FSelectFields(std::make_unique<TSelectFields>()) {}

TVekSelectAnalyser::~TVekSelectAnalyser() = default;

void TVekSelectAnalyser::SetSelectFields(TSelectFields* Value)
{
    FSelectFields->Assign(Value);
}

bool TVekSelectAnalyser::CheckSelect(TVekSelectNode* SelectNodes, TTableList* Tables)
{
    FSelectFields->Clear();
    FErrorText.clear();
    FSelectNodes = SelectNodes;
    FTables = Tables;
    // A select list without tables has no result columns: the statement
    // lacks its FROM clause.
    if (!SelectNodes || !Tables || Tables->Count() == 0) {
        FErrorText = SvekMissingTableReference;
        return false;
    }

    if (SelectNodes->Token()->Text() == "*") {
        for (int i = 0; i < Tables->Count(); ++i)
            AddTableFields(Tables->Items(i));
    } else {
        for (TVekSelectNode* node = SelectNodes; node && FErrorText.empty(); node = node->Next()) {
            if (node->SelectNodeType() == snGroupColumn) {
                if (!node->Qualifier().empty())
                    if (TTableNameItem* table = Tables->FindTable(node->Qualifier()))
                        AddTableFields(table);
            } else {
                AnalyseColumn(node);
            }
        }
    }
    if (!FErrorText.empty())
        return false;

    for (int i = 0; i < FSelectFields->Count(); ++i) {
        TSelectFieldItem* item = FSelectFields->GetItems(i);
        if (item->DataType() == ftAutoInc)
            item->SetDataType(ftInteger);
    }

    if (FIsDistinct) {
        if (FSelectFields->Count() > MaxDistinctColumns) {
            FErrorText = std::string(SvekSelectDistinctMaxColsLimit) + " (" + IntToStr(MaxDistinctColumns) + ")";
            return false;
        }
        for (int i = FSelectFields->Count() - 1; i >= 0; --i) {
            const TSelectFieldItem* item = FSelectFields->GetItems(i);
            if (IsInvalidDistinctType(item->DataType())) {
                FErrorText = std::string(SvekSelectDistinctInvalidColumnType) + " - " + item->FieldName();
                return false;
            }
        }
    }
    return true;
}

// Every field of the table; a name already present gets "_1", "_2", ...
void TVekSelectAnalyser::AddTableFields(TTableNameItem* Table)
{
    const TInternalFields* fields = Table->TableFields();
    for (int i = 0; i < fields->Count(); ++i) {
        const TInternalFieldItem* field = fields->GetIndex(i);
        std::string name = field->FieldName();
        if (FSelectFields->TInternalFields::FindField(name)) {
            for (int n = 1;; ++n) {
                const std::string candidate = field->FieldName() + "_" + IntToStr(n);
                if (!FSelectFields->TInternalFields::FindField(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        FSelectFields->AddSelectField(name, field->FieldName(), field, Table);
    }
}

void TVekSelectAnalyser::AnalyseColumn(TVekSelectNode* Node)
{
    TVekExprNode* root = Node->Expr()->FirstNode();
    if (!root)
        return;
    TSelectFieldItem* item = FSelectFields->Add();
    std::string name = Trim(Node->OutputColumnName());
    if (name.empty())
        name = Trim(Node->RawColumnName());
    item->SetFieldName(name);
    // The expression's type; an aggregate's is its function's (COUNT an
    // Integer, AVG and SUM a Float, MIN and MAX their argument's).
    SetColumnType(item, root->DataType(), root->DataSize());
    item->SetRawColumnName(Node->RawColumnName());

    // An aggregate counts when the tree holds one (its chain may also hold
    // nodes the tree no longer uses).
    const bool hasAggregate = (Node->SelectNodeType() == snAggFunc || Node->Expr()->ExprContainsToken(vstAggFunc))
                              && FindAggregateNode(root, 0) != nullptr;
    item->SetHasAggregateFunction(hasAggregate);
    if (hasAggregate) {
        item->SetCustomQualifier(Node->Qualifier());
        // DISTINCT is the aggregate's own, also inside a larger expression.
        const TVekExprNode* first = FindAggregateNode(root, 0);
        item->SetDistinctQuantifier(first->Data().VType() == varBoolean && first->Data().AsBoolean());
        const bool rootIsAggregate = root->ParserToken()->Token() == vstAggFunc;
        if (rootIsAggregate && root->Args().size() == 1) {
            item->SetExprRoot(root->Args()[0]);
            item->SetAggFunc(static_cast<TVekSQLAggFunc>(root->ParserToken()->CustomOrdinal()));
        } else if (rootIsAggregate && root->Args().empty()) {
            item->SetExprRoot(root);
            item->SetAggFunc(static_cast<TVekSQLAggFunc>(root->ParserToken()->CustomOrdinal()));
        } else {
            TVekExprNode* aggregate = FindAggregateNode(root, 0);
            if (aggregate->Args().empty()) {
                // COUNT(*) inside a larger expression: the aggregate is its own
                // source expression.
                item->SetExprRoot(aggregate);
            } else {
                ORVEX_ASSERT(aggregate->Args().size() == 1, "Node expr args count is not as expected");
                item->SetExprRoot(aggregate->Args()[0]);
            }
            item->SetAggFunc(static_cast<TVekSQLAggFunc>(aggregate->ParserToken()->CustomOrdinal()));
            item->SetAggExprRoot(root);
        }
    } else {
        item->SetExprRoot(root);
    }

    if (root->Kind() == enkField && root->SourceTables()->Count() > 0) {
        TTableNameItem* table = root->SourceTables()->Items(0);
        item->SetSourceTableItem(table);
        item->SetExprRoot(nullptr);
        std::string source = Node->RawColumnName();
        if (!StripPrefix(source, table->CorrelationName()))
            StripPrefix(source, table->TableName());
        if (source.size() >= 2 && (source.front() == '"' || source.front() == '\'') && source.back() == source.front())
            source = source.substr(1, source.size() - 2);
        // A name written in a form the rule above does not undo (brackets,
        // blanks around the point) is the field the parser resolved.
        if (!table->TableFields()->FindField(source))
            source = VarToStr(root->Data());
        ORVEX_ASSERT(table->TableFields()->FindField(source) != nullptr, "The Field name cannot be found " + source);
        item->SetSourceFieldName(source);
    }
}

bool TVekSelectAnalyser::CheckGroupedColumns(TGroupByItems* Items)
{
    if (!Items)
        return true;
    for (int i = 0; i < Items->Count(); ++i) {
        TGroupByItem* group = Items->Items(i);
        group->SetResultSetIndex(-1);
        TSelectFieldItem* column = FSelectFields->FindColumn(group->TableName(), group->FieldName());
        if (!column) {
            FErrorText = std::string(SvekGroupByColumnNotFound) + " : " + group->FieldName();
            return false;
        }
        group->SetResultSetIndex(i);
        column->SetIsGrouped(true);
    }
    if (!FSelectFields->ContainsAggregateColumns() && Items->Count() == 0)
        return true;
    for (int i = 0; i < FSelectFields->Count(); ++i) {
        const TSelectFieldItem* column = FSelectFields->GetItems(i);
        if (!column->HasAggregateFunction() && !column->IsGrouped()) {
            FErrorText = std::string(SvekNonAggColumnNotInGroupBy) + " : " + column->FieldName();
            return false;
        }
    }
    return true;
}

bool TVekSelectAnalyser::CheckHavingExpr(TVekExpr* Expr)
{
    if (!Expr || !Expr->FirstNode())
        return true;
    for (TVekExprNode* node = Expr->FirstNode(); node; node = node->Next()) {
        if (node->ParserToken()->Token() != vstAggFunc || node->Args().empty())
            continue;
        const TSelectFieldItem* column = FSelectFields->FindColumn("", Trim(node->ParserToken()->RawTokenText()));
        if (!column)
            continue;
        node->SetKind(enkField);
        node->SetOperator(veoFIELD2);
        node->SetData(Variant(column->FieldName()));
        node->SetDataType(column->DataType());
        node->SetDataSize(column->FieldSize());
        for (TVekExprNode* arg : node->Args())
            NullifyFields(arg, 0);
    }
    return CheckHavingFields(Expr->FirstNode(), 0);
}

// Whether the aggregate written as Text is part of an aggregate column of
// the select list, as in "COUNT(x) + SUM(x)": its text occurs in the column's
// text, not directly after a name's character.
bool TVekSelectAnalyser::IsAggregateOfSelectList(const std::string& Text) const
{
    if (Text.empty())
        return false;
    for (int i = 0; i < FSelectFields->Count(); ++i) {
        const TSelectFieldItem* item = FSelectFields->GetItems(i);
        if (!item->HasAggregateFunction())
            continue;
        const std::string& column = item->RawColumnName();
        for (std::size_t at = column.find(Text); at != std::string::npos; at = column.find(Text, at + 1)) {
            const char before = at > 0 ? column[at - 1] : ' ';
            if (!std::isalnum(static_cast<unsigned char>(before)) && before != '_' && before != '.')
                return true;
        }
    }
    return false;
}

// Every field node of the tree (Left, Right and the arguments of functions)
// must name a result column, whose type it takes when it has none yet. The
// rule holds an aggregate of the select list as a whole: such an aggregate,
// though part of a larger column, is computed from the statement's rows, and
// its argument may name any of the tables' columns. Arithmetic over result
// columns is type-checked once they are typed.
bool TVekSelectAnalyser::CheckHavingFields(TVekExprNode* Node, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return true;
    if (Node->ParserToken()->Token() == vstAggFunc && Node->Kind() != enkField &&
        IsAggregateOfSelectList(Trim(Node->ParserToken()->RawTokenText())))
        return true;
    if (Node->Kind() == enkField) {
        std::string qualifier;
        if (!Node->TokenArgs().empty() && Node->TokenArgs()[0])
            qualifier = Node->TokenArgs()[0]->Text();
        const std::string name = VarToStr(Node->Data());
        const TSelectFieldItem* column = FSelectFields->FindColumn(qualifier, name);
        if (!column) {
            FErrorText = std::string(SvekHavingFieldNotInResult) + ": " + name;
            return false;
        }
        if (Node->DataType() == ftUnknown) {
            Node->SetDataType(column->DataType());
            Node->SetDataSize(column->FieldSize());
        }
    }
    if (!CheckHavingFields(Node->Left(), Depth + 1) || !CheckHavingFields(Node->Right(), Depth + 1))
        return false;
    for (TVekExprNode* arg : Node->Args())
        if (!CheckHavingFields(arg, Depth + 1))
            return false;
    if (Node->Kind() == enkArithOperator && Node->DataType() == ftUnknown) {
        TVekExprParser checker;
        checker.TypeCheckArithOp(Node);
        if (checker.HasParseError()) {
            FErrorText = checker.GetErrorMsg();
            return false;
        }
        checker.GetArithResultSize(Node);
    }
    return true;
}

bool TVekSelectAnalyser::CheckOrderByColumns(TOrderByItems* Items)
{
    if (!Items)
        return true;
    for (int i = 0; i < Items->Count(); ++i) {
        const TOrderByItem* order = Items->Items(i);
        if (order->FieldIndex() >= 1) {
            if (order->FieldIndex() > FSelectFields->Count()) {
                FErrorText = std::string(SvekOrderByColumnIndexOutOfRange) + " : " + IntToStr(order->FieldIndex());
                return false;
            }
            continue;
        }
        const std::string& key = order->SortKey();
        std::string qualifier;
        std::string name = key;
        const std::size_t point = key.find('.');
        if (point != std::string::npos) {
            qualifier = key.substr(0, point);
            name = key.substr(point + 1);
        }
        if (!FSelectFields->FindColumn(qualifier, name)) {
            FErrorText = std::string(SvekOrderByColumnNotPresent) + " : " + key;
            return false;
        }
    }
    return true;
}

bool TVekSelectAnalyser::ValidateUnionSelectFields(TSelectFields* OtherFields)
{
    if (!OtherFields)
        return true;
    if (OtherFields->Count() != FSelectFields->Count()) {
        FErrorText = SvekUnionColumnCountError;
        return false;
    }
    TVekDataConversionValidator validator;
    for (int i = 0; i < FSelectFields->Count(); ++i) {
        const TFieldType other = OtherFields->GetItems(i)->DataType();
        const TFieldType own = FSelectFields->GetItems(i)->DataType();
        if (!validator.CheckDataConversionValid(other, own)) {
            FErrorText = std::string(SvekTypeConversionErr) + " " + FieldTypeName(other) + " -> " + FieldTypeName(own);
            return false;
        }
    }
    return true;
}

} // namespace orvex
