// The statement parsers, the select analyser and the parser engine, case by
// case: what the statement corpora do not show in their printed form (tree
// shapes, flags, tokens, restructure definitions, parameter binding, the
// ownership of nested engines).

#include "SqlStatementHarness.h"

#include "host/DBParams.h"
#include "host/DateUtils.h"

#include <gtest/gtest.h>

namespace orvex::sqltest {
namespace {

// One pre-parse (single stack) and the FROM parser run over its FROM section.
struct FromFixture {
    TVekPreParser PreParser;
    TVekFromParser Parser;

    explicit FromFixture(const std::string& Text)
    {
        PreParser.SetText(Text);
        PreParser.SetParseSingleStack(true);
        PreParser.PreParseTokens();
        Parser.Execute(TVekParserOptions{vpoExtSyntax}, PreParser.GetSection(vstFrom));
    }
};

TEST(FromParser, BuildsTheForestAndTheTableList)
{
    FromFixture f("SELECT * FROM A a1 LEFT OUTER JOIN B ON a1.x = B.y, C");
    ASSERT_FALSE(f.Parser.HasParseError()) << f.Parser.GetErrorMsg();
    ASSERT_EQ(f.Parser.Trees().size(), 2u);
    const TVekTableRefNode* join = f.Parser.Trees()[0];
    EXPECT_EQ(join, f.Parser.Root());
    EXPECT_EQ(join->JoinType(), trLeftOuterJoin);
    EXPECT_EQ(join->Left()->Text(), "A");
    EXPECT_EQ(join->Left()->CorrelationName(), "a1");
    EXPECT_EQ(join->Right()->Text(), "B");
    ASSERT_NE(join->Expr()->FirstNode(), nullptr);
    EXPECT_EQ(join->Expr()->FirstNode()->Operator(), veoEQ);
    EXPECT_EQ(f.Parser.GetExprCount(), 1);
    EXPECT_EQ(f.Parser.Trees()[1]->JoinType(), trTableName);
    ASSERT_EQ(f.Parser.TableList()->Count(), 3);
    EXPECT_EQ(f.Parser.TableList()->Items(0)->CorrelationName(), "a1");
    EXPECT_EQ(f.Parser.TableList()->Items(2)->TableName(), "C");
    EXPECT_EQ(f.Parser.CurrentTokenType(), vstEnd);

    TStringList lines;
    f.Parser.DebugDisplay(&lines);
    EXPECT_EQ(lines.Get(0), "StartTables");
    EXPECT_EQ(lines.Get(1), "tbl A   corr  a1");
    EXPECT_GE(lines.IndexOf("join jtLeftOuterJoin   inner   outer "), 0);
    EXPECT_GE(lines.IndexOf("EndTree"), 0);
}

TEST(FromParser, JoinFlagsTemporaryTablesAndSubqueries)
{
    FromFixture natural("SELECT * FROM A NATURAL JOIN B");
    ASSERT_NE(natural.Parser.Root(), nullptr);
    EXPECT_TRUE(natural.Parser.Root()->IsNaturalJoin());
    EXPECT_EQ(natural.Parser.Root()->Expr()->FirstNode(), nullptr);
    EXPECT_EQ(natural.Parser.Root()->UsingColumnList()->Count(), 0);

    FromFixture usingList("SELECT * FROM A JOIN B USING (x, y) WHERE 1 = 1");
    ASSERT_NE(usingList.Parser.Root(), nullptr);
    EXPECT_EQ(usingList.Parser.Root()->UsingColumnList()->CommaText(), "x,y");
    EXPECT_EQ(usingList.Parser.CurrentTokenType(), vstWhere);

    FromFixture temporary("SELECT * FROM TEMPORARY T");
    ASSERT_EQ(temporary.Parser.TableList()->Count(), 1);
    EXPECT_TRUE(temporary.Parser.TableList()->Items(0)->MemorySpecified());

    FromFixture subquery("SELECT * FROM (SELECT a FROM t) x");
    ASSERT_EQ(subquery.Parser.Trees().size(), 1u);
    EXPECT_EQ(subquery.Parser.Trees()[0]->JoinType(), trSubQuery);
    EXPECT_EQ(subquery.Parser.TableList()->Count(), 0);
    EXPECT_FALSE(subquery.Parser.HasParseError());
}

TEST(FromParser, AMissingParenthesisOfANestedJoinIsARecordedError)
{
    FromFixture f("SELECT * FROM (A JOIN B ON A.x = B.x\nWHERE A.x = 1");
    ASSERT_TRUE(f.Parser.HasParseError());
    EXPECT_EQ(f.Parser.GetErrorMsg(), "Missing Right Parenthesis Line 2, Character 1. Token 'WHERE'");
}

TEST(JoinPostProcessor, UsingColumnsBecomeAnOnCondition)
{
    FromFixture f("SELECT * FROM t JOIN u USING (a, b)");
    TTableList tables;
    tables.Assign(f.Parser.TableList());
    tables.Items(0)->SetTableFields(TestSchema::Standard().Fields("t"));
    tables.Items(1)->SetTableFields(TestSchema::Standard().Fields("u"));
    TJoinPostProcessor processor;
    processor.SetTableList(&tables);
    ASSERT_TRUE(processor.ProcessJoinTree(f.Parser.Root())) << processor.ErrorMsg();
    const TVekExprNode* root = f.Parser.Root()->Expr()->FirstNode();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Operator(), veoAND);
    EXPECT_EQ(root->ParserToken()->Token(), vstAnd);
    const TVekExprNode* first = root->Left();
    ASSERT_EQ(first->Operator(), veoEQ);
    EXPECT_EQ(first->DataType(), ftBoolean);
    EXPECT_EQ(first->Left()->Kind(), enkField);
    EXPECT_EQ(VarToStr(first->Left()->Data()), "a");
    EXPECT_EQ(first->Left()->DataType(), ftInteger);
    ASSERT_EQ(first->Left()->SourceTables()->Count(), 1);
    EXPECT_EQ(first->Left()->SourceTables()->Items(0)->TableName(), "t");
    EXPECT_EQ(first->Right()->SourceTables()->Items(0)->TableName(), "u");
    EXPECT_EQ(VarToStr(root->Right()->Left()->Data()), "b");
    EXPECT_EQ(root->Right()->Left()->DataSize(), 10);
}

TEST(JoinPostProcessor, AColumnOnOneSideOnlyIsAnError)
{
    FromFixture f("SELECT * FROM t JOIN u USING (c)");
    TTableList tables;
    tables.Assign(f.Parser.TableList());
    tables.Items(0)->SetTableFields(TestSchema::Standard().Fields("t"));
    tables.Items(1)->SetTableFields(TestSchema::Standard().Fields("u"));
    TJoinPostProcessor processor;
    processor.SetTableList(&tables);
    EXPECT_FALSE(processor.ProcessJoinTree(f.Parser.Root()));
    EXPECT_EQ(processor.ErrorMsg(), "Field not found in join tables: c");
    EXPECT_EQ(f.Parser.Root()->Expr()->FirstNode(), nullptr);
}

// --------------------------------------------------------------- analyser

TEST(SelectAnalyser, ColumnsOfSeveralTablesAreNumberedApart)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("SELECT * FROM t, u, mem")) << statement.Error();
    const TSelectFields* fields = statement.Analyser()->SelectFields();
    std::vector<std::string> names;
    for (int i = 0; i < fields->Count(); ++i)
        names.push_back(fields->GetItems(i)->FieldName());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d", "a_1", "x", "b_1", "a_2", "m"}));
    const TSelectFieldItem* secondA = fields->GetItems(4);
    EXPECT_EQ(secondA->SourceFieldName(), "a");
    EXPECT_EQ(secondA->SourceTableItem()->TableName(), "u");
    // A column is found by its name, or by its source field within a table.
    EXPECT_EQ(fields->FindColumn("", "A_1"), secondA);
    EXPECT_EQ(fields->FindColumn("mem", "m"), fields->GetItems(8));
    EXPECT_EQ(fields->FindColumn("u", "x"), fields->GetItems(5));
    EXPECT_EQ(fields->FindColumn("t", "zz"), nullptr);
}

TEST(SelectParser, ListsItsNodesForDiagnostics)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("SELECT u.*, t.a + 1 AS n FROM t, u")) << statement.Error();
    TStringList lines;
    statement.Engine()->SelectParser()->DebugDisplay(&lines);
    ASSERT_GE(lines.Count(), 5);
    EXPECT_EQ(lines.Get(0), "Column Group");
    EXPECT_EQ(lines.Get(1), "Output all from - u");
    EXPECT_EQ(lines.Get(2), "  Derived Column");
    EXPECT_EQ(lines.Get(3), "  RawColumnName - t.a + 1");
    EXPECT_EQ(lines.Get(4), "  Start Expr");
    const TVekSelectNode* node = statement.Engine()->SelectParser()->SelectNodes()->Next();
    EXPECT_EQ(node->OutputColumnName(), "n");
    EXPECT_EQ(node->SelectNodeType(), snSingleColumn);

    TestStatement aggregate(TestSchema::Standard());
    ASSERT_TRUE(aggregate.Parse("SELECT COUNT(*) FROM t")) << aggregate.Error();
    lines.Clear();
    aggregate.Engine()->SelectParser()->DebugDisplay(&lines);
    EXPECT_EQ(lines.Get(0), "Agg Func");
    EXPECT_EQ(lines.Get(1), "Func - COUNT :: ");
    EXPECT_EQ(aggregate.Engine()->SelectParser()->SelectNodes()->SelectNodeType(), snAggFunc);
}

TEST(SelectAnalyser, DistinctTakesAtMost32ColumnsOfKeyableTypes)
{
    std::string columns;
    for (int i = 1; i <= 32; ++i)
        columns += (i > 1 ? ", c" : "c") + std::to_string(i);
    TestStatement fits(TestSchema::Standard());
    EXPECT_TRUE(fits.Parse("SELECT DISTINCT " + columns + " FROM wide")) << fits.Error();
    TestStatement tooMany(TestSchema::Standard());
    EXPECT_FALSE(tooMany.Parse("SELECT DISTINCT " + columns + ", c33 FROM wide"));
    EXPECT_EQ(tooMany.Error(), "Result set colummn count exceeds DISTINCT query limit (32)");
}

TEST(SelectAnalyser, AggregateColumnsKnowTheirArgumentAndFunction)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("SELECT a, COUNT(*), SUM(DISTINCT c) s, MAX(c) + 1 FROM t GROUP BY a"))
        << statement.Error();
    const TSelectFields* fields = statement.Analyser()->SelectFields();
    ASSERT_EQ(fields->Count(), 4);
    EXPECT_TRUE(fields->GetItems(0)->IsGrouped());
    EXPECT_FALSE(fields->GetItems(0)->HasAggregateFunction());
    EXPECT_EQ(fields->GetItems(1)->AggFunc(), vafCount);
    EXPECT_EQ(fields->GetItems(1)->DataType(), ftInteger);
    EXPECT_EQ(fields->GetItems(2)->AggFunc(), vafSum);
    EXPECT_TRUE(fields->GetItems(2)->DistinctQuantifier());
    EXPECT_EQ(fields->GetItems(2)->FieldName(), "s");
    EXPECT_EQ(fields->GetItems(2)->ExprRoot()->Kind(), enkField);
    EXPECT_EQ(fields->GetItems(3)->AggFunc(), vafMax);
    ASSERT_NE(fields->GetItems(3)->AggExprRoot(), nullptr);
    EXPECT_EQ(fields->GetItems(3)->AggExprRoot()->Operator(), veoADD);
    EXPECT_TRUE(fields->ContainsAggregateColumns());
    EXPECT_TRUE(fields->ContainsGroupedOutput());
    EXPECT_EQ(statement.Engine()->GroupByItems()->Items(0)->ResultSetIndex(), 0);

    // A copy of the list keeps the analysis of every column.
    TSelectFields copy;
    copy.Assign(statement.Analyser()->SelectFields());
    ASSERT_EQ(copy.Count(), 4);
    EXPECT_EQ(copy.GetItems(2)->AggFunc(), vafSum);
    EXPECT_EQ(copy.GetItems(0)->SourceTableItem(), fields->GetItems(0)->SourceTableItem());
}

TEST(SelectAnalyser, UnionColumnsMustMatchInNumberAndConvert)
{
    TestStatement first(TestSchema::Standard());
    ASSERT_TRUE(first.Parse("SELECT a, d FROM t"));
    TestStatement second(TestSchema::Standard());
    ASSERT_TRUE(second.Parse("SELECT x, active FROM u, emp"));
    TestStatement third(TestSchema::Standard());
    ASSERT_TRUE(third.Parse("SELECT x FROM u"));
    EXPECT_TRUE(first.Analyser()->ValidateUnionSelectFields(nullptr));
    EXPECT_FALSE(first.Analyser()->ValidateUnionSelectFields(third.Analyser()->SelectFields()));
    EXPECT_EQ(first.Analyser()->ErrorText(), "Union statement column counts do not match");
    EXPECT_FALSE(first.Analyser()->ValidateUnionSelectFields(second.Analyser()->SelectFields()));
    EXPECT_EQ(first.Analyser()->ErrorText(), "Cannot convert type Boolean -> Date");
}

// ------------------------------------------------------ data-changing parsers

TEST(ExecParsers, LiteralsAreValuesAndExpressionsAreTrees)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("INSERT INTO t (a, b, c, d) VALUES (1.5, 'x', 2 + 3, CURRENT_DATE)"))
        << statement.Error();
    const TVekInsertParser* parser = statement.Engine()->InsertParser();
    EXPECT_FALSE(parser->ColumnsNotSpecified());
    const TVekRowConstructor* row = parser->Row();
    ASSERT_EQ(row->Count(), 4);
    // A floating-point value for an integer field is left as it is.
    EXPECT_EQ(row->GetItems(0)->Data().VType(), varDouble);
    EXPECT_DOUBLE_EQ(row->GetItems(0)->Data().AsDouble(), 1.5);
    EXPECT_FALSE(row->GetItems(0)->HasExpr());
    EXPECT_TRUE(row->GetItems(2)->HasExpr());
    const Variant today = row->GetItems(3)->Data();
    EXPECT_EQ(today.VType(), varDate);
    EXPECT_NEAR(today.AsDouble(), Date(), 1.0);

    // The expression's value comes from its evaluator once prepared.
    TVekExprDataProvider provider;
    row->GetItems(2)->Prepare(&provider);
    EXPECT_DOUBLE_EQ(row->GetItems(2)->GetRowData().AsDouble(), 5.0);
    EXPECT_EQ(row->GetItems(1)->GetRowData().AsString(), "x");
}

TEST(ExecParsers, ParametersAreBoundByName)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("INSERT INTO t (a, b) VALUES (:p, UPPER(:Q))")) << statement.Error();
    TVekRowConstructor* row = statement.Engine()->InsertParser()->Row();
    EXPECT_TRUE(row->GetItems(0)->HasParameter());
    EXPECT_TRUE(row->GetItems(1)->HasParameter()); // inside UPPER
    TParams params;
    params.CreateParam(ftInteger, "P", ptInput)->SetValue(Variant(7));
    params.CreateParam(ftString, "q", ptInput)->SetValue(Variant("low"));
    row->BindParams(&params);
    const TVekExprNode* bound = row->GetItems(0)->GetExpr()->FirstNode();
    EXPECT_EQ(bound->Kind(), enkConst);
    EXPECT_EQ(bound->Operator(), veoCONST2);
    EXPECT_EQ(bound->DataType(), ftInteger);
    EXPECT_EQ(bound->Data().AsInteger(), 7);
    TVekExprDataProvider provider;
    row->GetItems(1)->Prepare(&provider);
    EXPECT_EQ(row->GetItems(1)->GetRowData().AsString(), "LOW");

    TStringList names;
    statement.Engine()->GetParamList(&names);
    EXPECT_EQ(names.CommaText(), "p,Q");
}

TEST(ExecParsers, ParametersAndCurrentDateInsideExpressionsHaveTheirValues)
{
    TParams params;
    params.CreateParam(ftInteger, "p", ptInput)->SetValue(Variant(41));
    {
        TestStatement statement(TestSchema::Standard());
        ASSERT_TRUE(statement.Parse("INSERT INTO t (a, b, d) VALUES (1 + :p, 'x', CURRENT_DATE + 1)"))
            << statement.Error();
        TVekRowConstructor* row = statement.Engine()->InsertParser()->Row();
        EXPECT_TRUE(row->GetItems(0)->HasParameter());
        row->BindParams(&params);
        TVekExprDataProvider provider;
        row->Prepare(&provider);
        EXPECT_DOUBLE_EQ(row->GetItems(0)->GetRowData().AsDouble(), 42.0);
        EXPECT_NEAR(row->GetItems(2)->GetRowData().AsDouble(), Date() + 1, 1.0);
        // Bound again with a new value.
        params.ParamByName("p")->SetValue(Variant(1));
        row->BindParams(&params);
        row->Prepare(&provider);
        EXPECT_DOUBLE_EQ(row->GetItems(0)->GetRowData().AsDouble(), 2.0);
    }
    {
        TestStatement statement(TestSchema::Standard());
        ASSERT_TRUE(statement.Parse("UPDATE t SET a = a + :p WHERE a > 0")) << statement.Error();
        TVekUpdateRowConstructor* row = statement.Engine()->UpdateParser()->Row();
        ASSERT_EQ(row->Count(), 1);
        EXPECT_TRUE(row->GetItems(0)->HasParameter());
        row->BindParams(&params);
        bool named = false;
        for (const TVekExprNode* node = row->GetItems(0)->GetExpr()->FirstNode(); node; node = node->Next())
            if (node->Kind() == enkParam)
                named = true;
        EXPECT_FALSE(named) << "a parameter node is left unbound";
    }
}

TEST(ExecParsers, TheInsertValueCountIsCheckedWithAndWithoutAColumnList)
{
    for (const char* text : {"INSERT INTO t VALUES (1, 'a', 2)", "INSERT INTO t (a, b) VALUES (1)",
                             "INSERT INTO t VALUES (1, 'a', 2, '2001-01-01', 5)"}) {
        TestStatement statement(TestSchema::Standard());
        EXPECT_FALSE(statement.Parse(text)) << text;
        EXPECT_EQ(statement.Error(), "Number of insert columns does not match number of insert values") << text;
    }
}

TEST(ExecParsers, UpdateRefusesATableTheOwnerDoesNotKnow)
{
    TVekPreParser preParser;
    preParser.SetText("UPDATE t SET a = 1");
    preParser.SetParseSingleStack(true);
    preParser.PreParseTokens();
    TTableList tables;
    TVekUpdateParser parser;
    parser.SetTables(&tables);
    parser.SetTableListValidateEvent([](TTableList* Tables) { return Tables->Count() == 0; });
    parser.Execute(TVekParserOptions{}, preParser.GetSingleStack());
    EXPECT_EQ(parser.GetErrorMsg(), "Table and/or field not found Line 1, Character 8. Token 't'");
    EXPECT_EQ(parser.Row()->Count(), 0); // the SET list is not read after an error
}

TEST(ExecParsers, WithoutAnOwnerTheWhereOfADeleteIsLeftUnparsed)
{
    TVekPreParser preParser;
    preParser.SetText("DELETE FROM t WHERE a = 1");
    preParser.SetParseSingleStack(true);
    preParser.PreParseTokens();
    TTableList tables;
    TVekDeleteParser parser;
    parser.SetTables(&tables);
    parser.Execute(TVekParserOptions{}, preParser.GetSingleStack());
    EXPECT_TRUE(parser.HasWhereClause());
    EXPECT_EQ(parser.Expr()->FirstNode()->Kind(), enkSubquery);
    EXPECT_EQ(tables.Count(), 1);
    EXPECT_EQ(parser.ErrorMsg(), "Delete statement incorrectly terminated");
}

// ------------------------------------------------------------------ schema

TEST(SchemaParser, AlterTableRewritesTheRestructureDefinitions)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("ALTER TABLE t ADD e CHAR(5) NOT NULL, DROP COLUMN b, ALTER a TO a2, ALTER c TYPE INTEGER"))
        << statement.Error();
    TVekSchemaManipulationParser* parser = statement.Engine()->SchemaParser();
    TRestructureFieldDefs fields;
    for (const char* name : {"a", "b", "c", "d"}) {
        TRestructureFieldDef* def = fields.AddAndSetFieldDef(name, ftFloat, 0);
        def->SetSourceFieldName(name);
    }
    parser->SetRestructureFieldDefs(&fields);
    ASSERT_EQ(fields.Count(), 4);
    EXPECT_EQ(fields.Items(0)->Name(), "a2");
    EXPECT_EQ(fields.Items(0)->SourceFieldName(), "a");
    EXPECT_EQ(fields.Items(1)->Name(), "c");
    EXPECT_EQ(fields.Items(1)->DataType(), ftInteger);
    EXPECT_EQ(fields.Items(2)->Name(), "d");
    EXPECT_EQ(fields.Items(3)->Name(), "e");
    EXPECT_EQ(fields.Items(3)->DataType(), ftString);
    EXPECT_EQ(fields.Items(3)->Size(), 5);
    EXPECT_TRUE(fields.Items(3)->Required());
    EXPECT_TRUE(fields.Items(3)->SourceFieldName().empty());

    TRestructureIndexDefs indexes;
    indexes.AddAndSetIndexDef("", "a", ixPrimary);
    indexes.AddAndSetIndexDef("ix2", "c;a", 0);
    parser->SetRestructureIndexDefs(&indexes);
    EXPECT_EQ(indexes.Items(0)->Fields(), "a2");
    EXPECT_EQ(indexes.Items(1)->Fields(), "c;a2");
}

TEST(SchemaParser, IndexStatementsFillTheIndexDefinitions)
{
    TestStatement create(TestSchema::Standard());
    ASSERT_TRUE(create.Parse("CREATE UNIQUE DESC INDEX IX ON t (c, d)")) << create.Error();
    TRestructureIndexDefs indexes;
    indexes.AddAndSetIndexDef("", "a", ixPrimary);
    create.Engine()->SchemaParser()->SetRestructureIndexDefs(&indexes);
    ASSERT_EQ(indexes.Count(), 2);
    EXPECT_EQ(indexes.Items(1)->Name(), "IX");
    EXPECT_EQ(indexes.Items(1)->Fields(), "c;d");
    EXPECT_EQ(indexes.Items(1)->Options(), static_cast<TIndexOptions>(ixUnique | ixDescending));

    TestStatement drop(TestSchema::Standard());
    ASSERT_TRUE(drop.Parse("DROP INDEX t Primary")) << drop.Error();
    drop.Engine()->SchemaParser()->SetRestructureIndexDefs(&indexes);
    ASSERT_EQ(indexes.Count(), 1);
    EXPECT_EQ(indexes.Items(0)->Name(), "IX");

    // The engine lists the statement's table, in memory when TEMPORARY.
    TestStatement temporary(TestSchema::Standard());
    ASSERT_TRUE(temporary.Parse("DROP TABLE TEMPORARY mem")) << temporary.Error();
    const TTableNameItem* table = temporary.Engine()->TableList()->Items(0);
    EXPECT_TRUE(table->MemorySpecified());
    EXPECT_TRUE(table->Memory());
}

TEST(SchemaParser, ValidationErrorsPointAtTheColumn)
{
    TestStatement statement(TestSchema::Standard());
    EXPECT_FALSE(statement.Parse("ALTER TABLE t ADD e INT,\n  ADD c DATE"));
    EXPECT_EQ(statement.Error(), "Field already exists : c Line 2, Character 7. Token 'c'");
}

// ------------------------------------------------------------------ engine

TEST(ParserEngine, ClausesAreParsedInTheDriversOrder)
{
    TVekParserEngine engine;
    ASSERT_TRUE(engine.PreParseSQL("SELECT a FROM t UNION ALL SELECT x FROM u"));
    EXPECT_EQ(engine.GetSQLStatementType(), vsSQLSelect);
    ASSERT_TRUE(engine.ParseFromClause());
    ASSERT_EQ(engine.TableList()->Count(), 1);
    engine.TableList()->Items(0)->SetTableFields(TestSchema::Standard().Fields("t"));
    ASSERT_TRUE(engine.ParseSelectClause()) << engine.GetErrorMsg();
    // No WHERE: true, and no condition.
    ASSERT_TRUE(engine.ParseWhereClause());
    EXPECT_EQ(engine.WhereParser()->Root(), nullptr);
    ASSERT_TRUE(engine.ParseGroupByClause());
    ASSERT_TRUE(engine.ParseHavingClause());
    bool unionAll = false;
    EXPECT_TRUE(engine.CheckForUnionStatement(true, unionAll));
    EXPECT_FALSE(unionAll);
    EXPECT_FALSE(engine.HasUnionStatement());
    EXPECT_TRUE(engine.CheckForUnionStatement(false, unionAll));
    EXPECT_TRUE(unionAll);
    EXPECT_TRUE(engine.HasUnionStatement());
    EXPECT_EQ(engine.PreParser()->GetSingleStack()->Peek()->Token(), vstSelect);
    EXPECT_FALSE(engine.CheckNoTokensRemain());
    EXPECT_EQ(engine.GetCurrentPreParserTokenAsErrorFmt(), " Line 1, Character 27. Token 'SELECT'");
}

TEST(ParserEngine, ASubqueryEndsItsEngineAtTheClosingParenthesis)
{
    TestStatement statement(TestSchema::Standard());
    ASSERT_TRUE(statement.Parse("SELECT a FROM t WHERE a IN (SELECT a FROM u) ORDER BY a")) << statement.Error();
    ASSERT_EQ(statement.Nested().size(), 1u);
    const TVekParserEngine* nested = statement.Nested()[0]->Engine();
    EXPECT_TRUE(nested->IsSubquery());
    EXPECT_TRUE(nested->SubqueryClosed());
    EXPECT_EQ(nested->OrderByItems()->Count(), 0);
    EXPECT_EQ(nested->NestingDepth(), 1);
    // The outer statement went on after the subquery.
    EXPECT_EQ(statement.Engine()->OrderByItems()->Count(), 1);
    // The statement took the nested engine over; the engine keeps none.
    EXPECT_TRUE(statement.Engine()->NestedEngines().empty());
}

TEST(ParserEngine, NestedEnginesNobodyTakesAreFreedWithTheEngine)
{
    auto engine = std::make_unique<TVekParserEngine>();
    ASSERT_TRUE(engine->PreParseSQL("SELECT a FROM t WHERE a IN (SELECT a FROM u) OR EXISTS (SELECT x FROM u)"));
    ASSERT_TRUE(engine->ParseFromClause());
    engine->TableList()->Items(0)->SetTableFields(TestSchema::Standard().Fields("t"));
    ASSERT_TRUE(engine->ParseSelectClause());
    // Without an owner the subqueries cannot be parsed: an error, and the
    // nested engine stays with this engine (the sanitizer checks it is freed).
    EXPECT_FALSE(engine->ParseWhereClause());
    EXPECT_EQ(engine->NestedEngines().size(), 1u);
    EXPECT_EQ(engine->ReleaseNestedEngine(engine.get()), nullptr);
    TVekParserEngine* nested = engine->NestedEngines()[0].get();
    std::unique_ptr<TVekParserEngine> taken(engine->ReleaseNestedEngine(nested));
    EXPECT_EQ(taken.get(), nested);
    EXPECT_TRUE(engine->NestedEngines().empty());
    engine.reset();
}

TEST(ParserEngine, HavingNeedsGroupBy)
{
    TestStatement statement(TestSchema::Standard());
    EXPECT_FALSE(statement.Parse("SELECT COUNT(*) FROM t HAVING COUNT(*) > 1"));
    EXPECT_EQ(statement.Error(), "No group by clause was specified Line 1, Character 24. Token 'HAVING'");
}

} // namespace
} // namespace orvex::sqltest
