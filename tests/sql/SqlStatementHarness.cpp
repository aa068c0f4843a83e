#include "SqlStatementHarness.h"

#include "host/SysUtils.h"

namespace orvex::sqltest {

// ================================================================ schema

TestSchema::TestSchema() = default;
TestSchema::~TestSchema() = default;

void TestSchema::AddTable(const std::string& Name, const std::vector<FieldSpec>& Fields, bool Memory)
{
    Table table;
    table.Fields = std::make_unique<TInternalFields>();
    table.Indexes = std::make_unique<TIndexDefs>(nullptr);
    table.Memory = Memory;
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        TInternalFieldItem* item = table.Fields->Add();
        item->SetFieldName(Fields[i].Name);
        item->SetDataType(Fields[i].Type);
        if (Fields[i].Type == ftString) {
            item->SetFieldSize(Fields[i].Size + 1);
            item->SetIsVariable(true);
        }
        item->SetFieldIndex(static_cast<Integer>(i));
        item->SetFieldNo(static_cast<Integer>(i) + 1);
    }
    table.Fields->SetDefaultOffsets();
    table.Fields->Open();
    FTables[UpperCase(Name)] = std::move(table);
}

void TestSchema::AddIndex(const std::string& Table, const std::string& Name, const std::string& Fields,
                          TIndexOptions Options)
{
    FTables.at(UpperCase(Table)).Indexes->Add(Name, Fields, Options);
}

TInternalFields* TestSchema::Fields(const std::string& Table) const
{
    const auto found = FTables.find(UpperCase(Table));
    return found == FTables.end() ? nullptr : found->second.Fields.get();
}

TIndexDefs* TestSchema::Indexes(const std::string& Table) const
{
    const auto found = FTables.find(UpperCase(Table));
    return found == FTables.end() ? nullptr : found->second.Indexes.get();
}

bool TestSchema::IsMemory(const std::string& Table) const
{
    const auto found = FTables.find(UpperCase(Table));
    return found != FTables.end() && found->second.Memory;
}

const TestSchema& TestSchema::Standard()
{
    static const TestSchema* const schema = [] {
        auto* instance = new TestSchema();
        TestSchema& s = *instance;
        s.AddTable("t", {{"a", ftInteger, 0}, {"b", ftString, 10}, {"c", ftFloat, 0}, {"d", ftDate, 0}});
        s.AddIndex("t", "", "a", ixPrimary);
        s.AddIndex("t", "ixb", "b", 0);
        s.AddTable("u", {{"a", ftInteger, 0}, {"x", ftInteger, 0}, {"b", ftString, 10}});
        s.AddTable("emp", {{"id", ftInteger, 0},
                           {"name", ftString, 20},
                           {"dept", ftInteger, 0},
                           {"salary", ftFloat, 0},
                           {"hired", ftDate, 0},
                           {"active", ftBoolean, 0},
                           {"notes", ftMemo, 0},
                           {"started", ftDateTime, 0},
                           {"bonus", ftCurrency, 0},
                           {"shift", ftTime, 0}});
        s.AddIndex("emp", "ixname", "name", ixUnique);
        s.AddTable("dept", {{"id", ftInteger, 0}, {"dname", ftString, 20}, {"budget", ftCurrency, 0}});
        s.AddTable("proj", {{"pid", ftAutoInc, 0}, {"dept", ftInteger, 0}, {"title", ftString, 30}, {"small", ftSmallint, 0}});
        std::vector<FieldSpec> wide;
        for (int i = 1; i <= 33; ++i)
            wide.push_back({"c" + std::to_string(i), ftInteger, 0});
        s.AddTable("wide", wide);
        s.AddTable("mem", {{"a", ftInteger, 0}, {"m", ftString, 5}}, true);
        return instance;
    }();
    return *schema;
}

// ============================================================= statement

TestStatement::TestStatement(const TestSchema& Schema, TestStatement* Parent)
    : FSchema(Schema), FParent(Parent), FEngine(nullptr), FAnalyser(std::make_unique<TVekSelectAnalyser>())
{
    if (!Parent) {
        FOwnEngine = std::make_unique<TVekParserEngine>();
        Bind(FOwnEngine.get());
    }
}

TestStatement::~TestStatement()
{
    // Nested statements borrow tokens of this statement's engine: they go first.
    FNested.clear();
}

void TestStatement::Bind(TVekParserEngine* Engine)
{
    FEngine = Engine;
    FEngine->SetParserEngineNotifyEvent(
        [this](TParserNotifyType NotifyType, TVekParserEngine* Nested, TVekExprNode* Node, Variant& NotifyData) {
            OnNotify(NotifyType, Nested, Node, NotifyData);
        });
}

bool TestStatement::Fail(const std::string& Message)
{
    if (FError.empty())
        FError = Message.empty() ? std::string("(failed without a message)") : Message;
    return false;
}

bool TestStatement::FailEngine()
{
    const std::string nested = FirstNestedError();
    if (!nested.empty())
        return Fail(nested);
    return Fail(FEngine->GetErrorMsg());
}

std::string TestStatement::FirstNestedError() const
{
    for (const auto& nested : FNested)
        if (!nested->FError.empty())
            return nested->FError;
    return {};
}

bool TestStatement::Parse(const std::string& Text)
{
    FError.clear();
    FNested.clear();
    FNodeStatements.clear();
    FUnionParts.clear();
    if (Text.empty())
        return Fail(SvekEmptySQLStatement);
    FEngine->PreParseSQL(Text);
    if (!ParseByType())
        return false;
    const std::string nested = FirstNestedError();
    if (!nested.empty())
        return Fail(nested);
    // Nested statements leave this engine's stacks where they stopped, so the
    // check holds for statements with subqueries and UNION parts too.
    if (!FEngine->CheckNoTokensRemain())
        return Fail("Unrecognized tokens beyond end of statement: " + FEngine->GetCurrentPreParserTokenAsErrorFmt());
    return true;
}

bool TestStatement::ParseByType()
{
    switch (FEngine->GetSQLStatementType()) {
    case vsSQLSelect:
        return ParseSelect();
    case vsSQLInsert:
        return ParseInsert();
    case vsSQLDelete:
        return ParseDelete();
    case vsSQLUpdate:
        return ParseUpdate();
    case vsSchemaManipulation:
        return ParseSchema();
    default:
        return Fail(std::string(SvekUnrecognizedSQLStatement) + " " + FEngine->GetCurrentPreParserTokenAsErrorFmt());
    }
}

#define STEP(call)                                                                                                     \
    do {                                                                                                               \
        if (!(call))                                                                                                   \
            return FailEngine();                                                                                       \
        if (const std::string nestedError = FirstNestedError(); !nestedError.empty())                                  \
            return Fail(nestedError);                                                                                  \
    } while (false)

bool TestStatement::ParseSelect()
{
    STEP(FEngine->ParseFromClause());
    if (!CheckTableList(FEngine->TableList(), true))
        return false;
    SetupTableLists(FEngine->TableList());
    STEP(FEngine->ParseSelectClause());
    STEP(FEngine->ParseWhereClause());
    STEP(FEngine->ParseGroupByClause());
    STEP(FEngine->ParseHavingClause());
    FDistinct = FEngine->SelectParser()->IsDistinct();
    FAnalyser->SetIsDistinct(FDistinct);
    if (!FAnalyser->CheckSelect(FEngine->SelectParser()->SelectNodes(), FEngine->TableList()))
        return Fail(FAnalyser->ErrorText());
    if (!FAnalyser->CheckGroupedColumns(FEngine->GroupByItems()))
        return Fail(FAnalyser->ErrorText());
    if (!FAnalyser->CheckHavingExpr(FEngine->HavingParser()->Expr()))
        return Fail(FAnalyser->ErrorText());
    if (FIsUnionPart)
        return true;
    bool unionAll = false;
    while (FEngine->CheckForUnionStatement(false, unionAll)) {
        Variant data(unionAll);
        FEngine->ParserCallback(pntSelectUnion, FEngine->WhereParser(), nullptr, nullptr, data);
        if (const std::string nestedError = FirstNestedError(); !nestedError.empty())
            return Fail(nestedError);
        if (FEngine->WhereParser()->HasParseError())
            return Fail(FEngine->WhereParser()->GetErrorMsg());
        unionAll = false;
    }
    if (!FEngine->ErrorText().empty())
        return FailEngine();
    for (TestStatement* part : FUnionParts)
        if (!FAnalyser->ValidateUnionSelectFields(part->FAnalyser->SelectFields()))
            return Fail(FAnalyser->ErrorText());
    STEP(FEngine->ParseOrderByClause());
    if (!FAnalyser->CheckOrderByColumns(FEngine->OrderByItems()))
        return Fail(FAnalyser->ErrorText());
    return true;
}

bool TestStatement::ParseInsert()
{
    STEP(FEngine->ParseInsertStatement());
    if (!CheckTableList(FEngine->TableList(), true))
        return false;
    SetupTableLists(FEngine->TableList());
    TVekInsertParser* parser = FEngine->InsertParser();
    TInternalFields* fields = FEngine->TableList()->Items(0)->TableFields();
    if (parser->HasSelectClause()) {
        if (FNested.size() != 1)
            return Fail("Insert select count is incorrect");
        if (!parser->ValidateSelectColumns(FNested[0]->FAnalyser->SelectFields(), fields))
            return Fail(parser->ErrorMsg());
    } else if (!parser->ValidateValueColumns(fields)) {
        return Fail(parser->ErrorMsg());
    }
    return true;
}

bool TestStatement::ParseDelete()
{
    STEP(FEngine->ParseDeleteStatement());
    if (!CheckTableList(FEngine->TableList(), true))
        return false;
    SetupTableLists(FEngine->TableList());
    return true;
}

bool TestStatement::ParseUpdate()
{
    FEngine->UpdateParser()->SetTableListValidateEvent([this](TTableList* Tables) {
        const bool ok = CheckTableList(Tables, true);
        SetupTableLists(Tables);
        return ok;
    });
    STEP(FEngine->ParseUpdateStatement());
    TVekUpdateParser* parser = FEngine->UpdateParser();
    if (!parser->ValidateValueColumns(FEngine->TableList()->Items(0)->TableFields()))
        return Fail(parser->ErrorMsg());
    return true;
}

bool TestStatement::ParseSchema()
{
    STEP(FEngine->ParseSchemaManipulationStatement());
    TVekSchemaManipulationParser* parser = FEngine->SchemaParser();
    const bool exists = CheckTableList(FEngine->TableList(), false);
    const std::string& name = parser->TableName();
    if (parser->Operation() == ddCreateTable && exists)
        return Fail(std::string(SvekTableExists) + ": " + name);
    if (parser->Operation() != ddCreateTable && !exists)
        return Fail(std::string(SvekTableNotFound) + ": " + name);
    if (!exists)
        return true;
    SetupTableLists(FEngine->TableList());
    if (!parser->ValidateTableChanges(FEngine->TableList()->Items(0)->TableFields(), FSchema.Indexes(name)))
        return Fail(parser->GetErrorMsg());
    return true;
}

bool TestStatement::ParseWhereOnly()
{
    if (!CheckTableList(FEngine->TableList(), true))
        return false;
    SetupTableLists(FEngine->TableList());
    STEP(FEngine->ParseWhereClause());
    FDistinct = FEngine->SelectParser()->IsDistinct();
    STEP(FEngine->ParseOrderByClause());
    if (!FEngine->CheckParseDone())
        return Fail("Unrecognized tokens beyond end of statement");
    return true;
}

#undef STEP

bool TestStatement::CheckTableList(TTableList* Tables, bool Report)
{
    bool all = true;
    for (int i = 0; i < Tables->Count(); ++i) {
        TTableNameItem* item = Tables->Items(i);
        const bool markedMemory = item->MemorySpecified() || item->Memory();
        bool found = false;
        if (!markedMemory && FSchema.Fields(item->TableName()) && !FSchema.IsMemory(item->TableName())) {
            item->SetMemory(false);
            found = true;
        }
        if (!found && FSchema.Fields(item->TableName()) && FSchema.IsMemory(item->TableName())) {
            item->SetMemory(true);
            found = true;
        }
        if (!found) {
            all = false;
            if (Report)
                Fail("Table not found - " + item->TableName());
        }
    }
    return all;
}

void TestStatement::SetupTableLists(TTableList* Tables)
{
    for (int i = 0; i < Tables->Count(); ++i)
        if (TInternalFields* fields = FSchema.Fields(Tables->Items(i)->TableName()))
            Tables->Items(i)->SetTableFields(fields);
}

TTableNameItem* TestStatement::FindTable(const std::string& Name)
{
    if (TTableNameItem* item = FEngine->TableList()->FindTable(Name))
        return item;
    return FParent ? FParent->FindTable(Name) : nullptr;
}

TTableNameItem* TestStatement::FindTableForField(const std::string& Name)
{
    if (TTableNameItem* item = FEngine->TableList()->FindTableForField(Name))
        return item;
    return FParent ? FParent->FindTableForField(Name) : nullptr;
}

void TestStatement::OnNotify(TParserNotifyType NotifyType, TVekParserEngine* Engine, TVekExprNode* Node,
                             Variant& NotifyData)
{
    if (NotifyType == pntFindTableRef) {
        const std::string name = VarToStr(NotifyData);
        TTableNameItem* found = name.empty() ? nullptr : FindTable(name);
        if (!found && Node)
            found = FindTableForField(VarToStr(Node->Data()));
        if (found && Node)
            Node->SourceTables()->Add()->Assign(found);
        NotifyData = Variant(found != nullptr);
        return;
    }
    auto nested = std::make_unique<TestStatement>(FSchema, this);
    TestStatement* statement = nested.get();
    FNested.push_back(std::move(nested));
    if (NotifyType == pntSelectUnion) {
        // A UNION part stays with the engine that made it.
        statement->Bind(Engine);
        Engine->SetIsUnionSubstatement(true);
        statement->FIsUnionPart = true;
        statement->FUnionAll = NotifyData.VType() == varBoolean && NotifyData.AsBoolean();
        FUnionParts.push_back(statement);
        statement->ParseSelect();
        return;
    }
    // A subquery is taken over by its statement.
    statement->FOwnEngine.reset(FEngine->ReleaseNestedEngine(Engine));
    statement->Bind(Engine);
    Engine->SetIsSubquery(true);
    if (Node)
        FNodeStatements[Node] = statement;
    const TVekSQLStatementType type = FEngine->GetSQLStatementType();
    const bool whereOnly = (type == vsSQLDelete && FEngine->DeleteParser()->HasWhereClause())
                           || (type == vsSQLUpdate && FEngine->UpdateParser()->HasWhereClause());
    if (whereOnly) {
        statement->FWhereOnly = true;
        if (FEngine->TableList()->Count() == 1)
            Engine->TableList()->Add()->SetTableName(FEngine->TableList()->Items(0)->TableName());
        statement->ParseWhereOnly();
        return;
    }
    statement->ParseByType();
}

// ================================================================ printing

namespace {

std::string PrintValue(const Variant& Value)
{
    switch (Value.VType()) {
    case varEmpty:
        return "EMPTY";
    case varNull:
        return "NULL";
    case varBoolean:
        return Value.AsBoolean() ? "TRUE" : "FALSE";
    case varString:
        return "'" + Value.AsString() + "'";
    case varDate:
        return "date:" + FloatToStr(Value.AsDouble());
    case varDouble:
        return FloatToStr(Value.AsDouble());
    default:
        return VarToStr(Value);
    }
}

const char* OperatorText(TVekExprOperator Op)
{
    switch (Op) {
    case veoEQ: return "=";
    case veoNE: return "<>";
    case veoGT: return ">";
    case veoLT: return "<";
    case veoGE: return ">=";
    case veoLE: return "<=";
    case veoAND: return "AND";
    case veoOR: return "OR";
    case veoNOT: return "NOT";
    case veoISBLANK: return "ISNULL";
    case veoNOTBLANK: return "NOTNULL";
    case veoADD: return "+";
    case veoSUB: return "-";
    case veoMUL: return "*";
    case veoDIV: return "/";
    default: return C_STRCANOperator[Op];
    }
}

std::string TypeText(TFieldType Type, Integer Size)
{
    std::string text = FieldTypeName(Type);
    if (Type == ftString)
        text += "(" + IntToStr(Size) + ")";
    return text;
}

const char* AggName(TVekSQLAggFunc Func)
{
    static const char* const names[] = {"?AGG", "COUNT", "AVG", "SUM", "MAX", "MIN"};
    return names[Func];
}

const char* JoinName(TVekTableRefType Type)
{
    switch (Type) {
    case trCrossJoin: return "CROSS";
    case trUnionJoin: return "UNION";
    case trInnerJoin: return "INNER";
    case trLeftOuterJoin: return "LEFT";
    case trRightOuterJoin: return "RIGHT";
    case trFullOuterJoin: return "FULL";
    default: return "?";
    }
}

} // namespace

std::string TestStatement::PrintNested(const TVekExprNode* Node) const
{
    const auto found = FNodeStatements.find(Node);
    if (found == FNodeStatements.end())
        return "{?}";
    return "{" + found->second->Print() + "}";
}

std::string TestStatement::PrintExpr(const TVekExprNode* Node, int Depth) const
{
    if (!Node)
        return "nil";
    if (Depth > 300)
        return "...";
    const TParserToken* token = Node->ParserToken();
    auto sub = [&](const TVekExprNode* N) { return PrintExpr(N, Depth + 1); };
    auto args = [&]() {
        std::string text;
        for (std::size_t i = 0; i < Node->Args().size(); ++i)
            text += (i ? ", " : "") + sub(Node->Args()[i]);
        return text;
    };
    std::string text;
    switch (Node->Kind()) {
    case enkField: {
        std::string qualifier;
        if (Node->SourceTables()->Count() > 0)
            qualifier = Node->SourceTables()->Items(0)->TableName();
        else if (!Node->TokenArgs().empty() && Node->TokenArgs()[0])
            qualifier = Node->TokenArgs()[0]->Text();
        text = (qualifier.empty() ? "" : qualifier + ".") + VarToStr(Node->Data());
        if (!Node->Args().empty() && token->Token() != vstAggFunc)
            text += " ESCAPE " + args();
        return text;
    }
    case enkConst:
        if (Node->Operator() == veoFUNC2)
            return token->Text();
        return PrintValue(Node->Data());
    case enkParam:
        return ":" + VarToStr(Node->Data());
    case enkRelOperator:
    case enkArithOperator:
        return "(" + std::string(OperatorText(Node->Operator())) + " " + sub(Node->Left()) + " " + sub(Node->Right()) + ")";
    case enkLogicalOperator:
        if (!Node->Right())
            return "(" + std::string(OperatorText(Node->Operator())) + " " + sub(Node->Left()) + ")";
        return "(" + std::string(OperatorText(Node->Operator())) + " " + sub(Node->Left()) + " " + sub(Node->Right()) + ")";
    case enkNonRelPredicate:
        switch (token->Token()) {
        case vstLike:
            return "(LIKE " + sub(Node->Left()) + " " + sub(Node->Right()) + ")";
        case vstNotLike:
            return "(NOTLIKE " + sub(Node->Left()) + " " + sub(Node->Right()) + ")";
        case vstNotIn:
            return "(NOTIN " + sub(Node->Left()) + " [" + args() + "])";
        default:
            return "(IN " + sub(Node->Left()) + " [" + args() + "])";
        }
    case enkFunc:
        if (Node->Operator() == veoOUTERFIELD) {
            std::string qualifier;
            if (Node->SourceTables()->Count() > 0)
                qualifier = Node->SourceTables()->Items(0)->TableName() + ".";
            return "outer(" + qualifier + VarToStr(Node->Data()) + ")";
        }
        switch (token->Token()) {
        case vstAggFunc: {
            const bool distinct = Node->Data().VType() == varBoolean && Node->Data().AsBoolean();
            return std::string(AggName(static_cast<TVekSQLAggFunc>(token->CustomOrdinal()))) + "("
                   + (distinct ? "DISTINCT " : "") + (Node->Args().empty() ? "*" : args()) + ")";
        }
        case vstCast:
            return "CAST(" + sub(Node->Right()) + " AS " + TypeText(Node->DataType(), Node->DataSize()) + ")";
        case vstExtract:
            return "EXTRACT(" + std::string(CVekStrSQLTokens[token->CustomOrdinal()]) + " " + sub(Node->Right()) + ")";
        case vstStrFunc: {
            text = VarToStr(Node->Data()) + "[" + IntToStr(token->CustomOrdinal()) + "](";
            text += sub(Node->Left()) + ", " + sub(Node->Right());
            if (!Node->Args().empty())
                text += ", " + args();
            return text + ")";
        }
        default:
            return "func:" + token->Text() + "(" + sub(Node->Left()) + ", " + sub(Node->Right()) + ")";
        }
    case enkSubquery: {
        static const char* const quantifiers[] = {"", "ANY", "ALL", "EXISTS"};
        const Integer ordinal = token->CustomOrdinal();
        const char* quantifier = ordinal >= 0 && ordinal <= 3 ? quantifiers[ordinal] : "?";
        return std::string(quantifier) + PrintNested(Node);
    }
    default:
        return "?" + std::string(CVekExprNodeKindNames[Node->Kind()]);
    }
}

std::string TestStatement::PrintFromTree(const TVekTableRefNode* Node, int Depth) const
{
    if (!Node)
        return "nil";
    if (Depth > 300)
        return "...";
    switch (Node->JoinType()) {
    case trTableName: {
        std::string text;
        if (const TTableNameItem* item = FEngine->TableList()->FindTableAndCorrelationName(Node->Text(), Node->CorrelationName()))
            if (item->MemorySpecified())
                text = "TEMP ";
        text += Node->Text();
        if (!Node->CorrelationName().empty())
            text += " " + Node->CorrelationName();
        return text;
    }
    case trSubQuery:
        return "(subquery)";
    default: {
        std::string text = "(" + PrintFromTree(Node->Left(), Depth + 1) + " ";
        if (Node->IsNaturalJoin())
            text += "NATURAL ";
        text += std::string(JoinName(Node->JoinType())) + " JOIN " + PrintFromTree(Node->Right(), Depth + 1);
        if (Node->UsingColumnList()->Count() > 0)
            text += " USING(" + Node->UsingColumnList()->CommaText() + ")";
        if (Node->Expr()->FirstNode())
            text += " ON " + PrintExpr(Node->Expr()->FirstNode());
        return text + ")";
    }
    }
}

std::string TestStatement::PrintSelect() const
{
    std::string text = FDistinct ? "SELECT DISTINCT cols(" : "SELECT cols(";
    const TSelectFields* fields = FAnalyser->SelectFields();
    for (int i = 0; i < fields->Count(); ++i) {
        const TSelectFieldItem* item = fields->GetItems(i);
        text += (i ? ", " : "") + item->FieldName() + ":" + TypeText(item->DataType(), item->FieldSize()) + "=";
        if (item->HasAggregateFunction()) {
            const bool star = item->ExprRoot() && item->ExprRoot()->ParserToken()->Token() == vstAggFunc
                              && item->ExprRoot()->Args().empty();
            text += std::string(AggName(item->AggFunc())) + "(" + (item->DistinctQuantifier() ? "DISTINCT " : "")
                    + (star ? "*" : PrintExpr(item->ExprRoot())) + ")";
            if (item->AggExprRoot())
                text += " in " + PrintExpr(item->AggExprRoot());
        } else if (item->SourceTableItem() && !item->ExprRoot()) {
            text += item->SourceTableItem()->TableName() + "." + item->SourceFieldName();
        } else {
            text += PrintExpr(item->ExprRoot());
        }
        if (item->IsGrouped())
            text += " grouped";
    }
    text += ") FROM(";
    const auto& trees = FEngine->FromParser()->Trees();
    for (std::size_t i = 0; i < trees.size(); ++i)
        text += (i ? "; " : "") + PrintFromTree(trees[i]);
    text += ")";
    if (FEngine->WhereParser()->Root())
        text += " WHERE(" + PrintExpr(FEngine->WhereParser()->Root()) + ")";
    const TGroupByItems* groups = FEngine->GroupByItems();
    if (groups->Count() > 0) {
        text += " GROUP(";
        for (int i = 0; i < groups->Count(); ++i) {
            const TGroupByItem* item = groups->Items(i);
            text += (i ? ", " : "") + (item->TableName().empty() ? "" : item->TableName() + ".") + item->FieldName()
                    + "#" + IntToStr(item->ResultSetIndex());
        }
        text += ")";
    }
    if (FEngine->HavingParser()->Expr() && FEngine->HavingParser()->Expr()->FirstNode())
        text += " HAVING(" + PrintExpr(FEngine->HavingParser()->Expr()->FirstNode()) + ")";
    for (const TestStatement* part : FUnionParts)
        text += std::string(part->FUnionAll ? " UNION ALL {" : " UNION {") + part->Print() + "}";
    const TOrderByItems* orders = FEngine->OrderByItems();
    if (orders->Count() > 0) {
        text += " ORDER(";
        for (int i = 0; i < orders->Count(); ++i) {
            const TOrderByItem* item = orders->Items(i);
            text += (i ? ", " : "") + (item->FieldIndex() > 0 ? IntToStr(item->FieldIndex()) : item->SortKey())
                    + (item->Descending() ? " DESC" : "");
        }
        text += ")";
    }
    return text;
}

std::string TestStatement::Print() const
{
    if (!FError.empty())
        return "ERROR: " + FError;
    if (FWhereOnly) {
        std::string text = "WHERE(" + PrintExpr(FEngine->WhereParser()->Root()) + ")";
        const TOrderByItems* orders = FEngine->OrderByItems();
        for (int i = 0; i < orders->Count(); ++i)
            text += (i ? ", " : " ORDER(") + orders->Items(i)->SortKey() + (i + 1 == orders->Count() ? ")" : "");
        return text;
    }
    auto element = [this](TVekRowConstructorElement* Element) {
        std::string value = Element->HasExpr() ? PrintExpr(Element->GetExpr()->FirstNode()) : PrintValue(Element->Data());
        return value;
    };
    switch (FEngine->GetSQLStatementType()) {
    case vsSQLSelect:
        return PrintSelect();
    case vsSQLInsert: {
        const TVekInsertParser* parser = FEngine->InsertParser();
        std::string text = "INSERT " + parser->TableName() + " cols(" + parser->ColumnNames()->CommaText() + ")";
        if (parser->HasSelectClause())
            return text + " " + PrintNested(parser->Expr()->FirstNode());
        text += " VALUES(";
        for (int i = 0; i < parser->Row()->Count(); ++i)
            text += (i ? ", " : "") + element(parser->Row()->GetItems(i));
        return text + ")";
    }
    case vsSQLUpdate: {
        const TVekUpdateParser* parser = FEngine->UpdateParser();
        std::string text = "UPDATE " + parser->TableName() + " SET(";
        for (int i = 0; i < parser->Row()->Count(); ++i)
            text += (i ? ", " : "") + parser->Row()->GetItems(i)->TargetColumnName() + "="
                    + element(parser->Row()->GetItems(i));
        text += ")";
        if (parser->HasWhereClause())
            text += " " + PrintNested(parser->Expr()->FirstNode());
        return text;
    }
    case vsSQLDelete: {
        const TVekDeleteParser* parser = FEngine->DeleteParser();
        std::string text = "DELETE " + parser->TableName();
        if (parser->HasWhereClause())
            text += " " + PrintNested(parser->Expr()->FirstNode());
        return text;
    }
    case vsSchemaManipulation: {
        const TVekSchemaManipulationParser* parser = FEngine->SchemaParser();
        static const char* const ops[] = {"?", "CREATE TABLE", "ALTER TABLE", "CREATE INDEX", "DROP TABLE", "DROP INDEX"};
        std::string text = ops[parser->Operation()];
        if (parser->TemporaryTable())
            text += " TEMP";
        auto fields = [](const char* Label, const TInternalFields* Fields) {
            if (Fields->Count() == 0)
                return std::string();
            std::string list = std::string(" ") + Label + "(";
            for (int i = 0; i < Fields->Count(); ++i) {
                const TInternalFieldItem* item = Fields->GetIndex(i);
                list += i ? ", " : "";
                if (item->FieldGeneratorID() == aoAlterName) {
                    list += item->SourceField() + "->" + item->FieldName();
                    continue;
                }
                list += item->FieldName();
                if (item->DataType() != ftUnknown) {
                    list += " " + FieldTypeName(item->DataType()) + "/" + IntToStr(item->FieldSize());
                    if (item->NumDecimalPlaces())
                        list += "," + IntToStr(item->NumDecimalPlaces());
                }
                if (item->Required())
                    list += " NOT NULL";
            }
            return list + ")";
        };
        if (parser->Operation() == ddCreateIndex || parser->Operation() == ddDropIndex)
            text += " " + (parser->IndexName().empty() ? std::string("<primary>") : parser->IndexName()) + " ON";
        text += " " + parser->TableName();
        text += fields("add", parser->AddedFields());
        text += fields("drop", parser->DroppedFields());
        text += fields("alter", parser->AlteredFields());
        if (parser->IndexFields()->Count() > 0 || parser->Operation() == ddCreateIndex)
            text += " index(" + parser->GetIndexFieldsAsText() + ")";
        const TIndexOptions options = parser->IndexOptions();
        if (options & ixPrimary)
            text += " primary";
        if (options & ixUnique)
            text += " unique";
        if (options & ixDescending)
            text += " desc";
        return text;
    }
    default:
        return "?";
    }
}

std::string ParseAndPrint(const std::string& Text)
{
    TestStatement statement(TestSchema::Standard());
    statement.Parse(Text);
    return statement.Print();
}

} // namespace orvex::sqltest
