// The expression tree, the operator rules, the clause parsers, the
// expression parser's trees and the evaluator's subqueries and providers.

#include "../host/DatasetTestTable.h"
#include "SqlTestSupport.h"
#include "sql/vekMiscParsers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

namespace orvex {
namespace {

using namespace sqltest;

// ---------------------------------------------------------------- helpers

std::vector<ColumnDef> Columns()
{
    return {
        {"a", ftInteger, 0, Variant(3)},
        {"b", ftInteger, 0, Variant(4)},
        {"x", ftInteger, 0, Null()},
        {"name", ftString, 10, Variant("Smith")},
        {"d", ftDate, 0, Variant::FromDate(EncodeDate(2001, 12, 25))},
        {"memo", ftMemo, 0, Variant("long text")},
    };
}

// A parse of Text in expression-only mode that stays alive with its tokens.
struct Parsed {
    TVekPreParser Pre;
    TVekExprParser Parser;

    Parsed(const std::string& Text, TTableList* Tables, TVekParserOptions Options = AllOptions(),
           TParserNotifyEvent Notify = nullptr)
    {
        Pre.SetParseAsExprOnly(true);
        Pre.SetText(Text);
        Pre.PreParseTokens();
        Parser.SetTableList(Tables);
        if (Notify)
            Parser.SetParserNotifyEvent(std::move(Notify));
        Parser.Execute(Options, Pre.GetSection(vstWhere));
    }
    std::string Error() const { return Parser.HasParseError() ? Parser.GetErrorMsg() : std::string(); }
    TVekExprNode* Root() const { return Parser.Root(); }
};

// A tree in prefix form: "AND(GE(a,1),LE(a,5))", constants by value.
std::string Shape(const TVekExprNode* Node)
{
    if (!Node)
        return "-";
    std::string Name = C_STRCANOperator[Node->Operator()];
    Name = Name.substr(2); // "coEQ" -> "EQ"
    if (Node->Kind() == enkField)
        return VarToStr(Node->Data());
    if (Node->Kind() == enkConst)
        return Node->Data().IsNull() ? "NULL" : VarToStr(Node->Data());
    std::string Out = Name + "(" + Shape(Node->Left());
    if (Node->Right())
        Out += "," + Shape(Node->Right());
    for (const TVekExprNode* Arg : Node->Args())
        Out += ";" + Shape(Arg);
    return Out + ")";
}

// Subqueries read their rows from in-memory tables chosen by the name after
// FROM; the owner consumes the subquery's tokens up to its closing ")".
class SubqueryRows : public TCustomExprNodeDataProvider {
public:
    explicit SubqueryRows(std::vector<std::vector<Variant>> Rows, int Columns = 1)
    {
        for (int C = 0; C < Columns; ++C)
            FTable.FieldDefs()->Add("c" + std::to_string(C), ftInteger);
        FRows = std::move(Rows);
        SetProviderDataset(&FTable);
    }
    bool PrepareAndOpen() override
    {
        ++Opens;
        if (!FTable.Active()) {
            FTable.Open();
            for (const auto& Row : FRows) {
                if (Row.size() == 1)
                    FTable.AddRecord({Row[0]});
                else
                    FTable.AddRecord({Row[0], Row[1]});
            }
        }
        return true;
    }
    int Opens = 0;

private:
    testing::TMemTable FTable;
    std::vector<std::vector<Variant>> FRows;
};

struct SubqueryOwner {
    std::map<std::string, SubqueryRows*> Sources;
    int Outer = 0;

    TParserNotifyEvent Handler()
    {
        return [this](TParserNotifyType Type, TBaseParser*, TParserStack* Stack, TVekExprNode* Node,
                      Variant& Data) {
            if (Type == pntFindTableRef) {
                ++Outer;
                if (VarToStr(Data) == "outer") {
                    TTableNameItem* Item = Node->SourceTables()->Add();
                    Item->SetTableName("outer");
                    TInternalFieldItem* F = Item->TableFields()->Add();
                    F->SetFieldName(VarToStr(Node->Data()));
                    F->SetDataType(ftInteger);
                    Data = Variant(true);
                }
                return;
            }
            if (Type != pntSubquery)
                return;
            std::string Table;
            bool AfterFrom = false;
            int Depth = 0;
            while (TParserToken* Top = Stack->Peek()) {
                if (Top->Token() == vstRParen && Depth == 0)
                    break;
                if (Top->Token() == vstEnd && Top->Text().empty())
                    break;
                Depth += Top->Token() == vstLParen ? 1 : Top->Token() == vstRParen ? -1 : 0;
                if (AfterFrom && Table.empty())
                    Table = Top->Text();
                AfterFrom = Top->Token() == vstFrom;
                Stack->Pop();
            }
            auto It = Sources.find(Table);
            if (It != Sources.end())
                Node->SetExprNodeDataProvider(It->second);
        };
    }
};

// ======================================================= expression tree

TEST(ExprTree, CloneCopiesTheWholeTreeAndOutlivesItsSource)
{
    RowProvider Row(Columns());
    TVekExpr Copy;
    {
        Parsed P("a = 1", Row.Tables());
        ASSERT_EQ(P.Error(), "");
        TVekExpr* Source = P.Parser.Expr();
        EXPECT_EQ(Source->GetNodeCount(), 3);
        TVekExprNode* Root = Copy.CloneFromTree(P.Root());
        EXPECT_EQ(Copy.GetNodeCount(), 3);
        EXPECT_EQ(Copy.FirstNode(), Root);
        EXPECT_NE(Root, P.Root());
        EXPECT_TRUE(Root->AreNodesEquivalent(P.Root()));
    }
    // The source is gone; the copy stands alone.
    EXPECT_EQ(Shape(Copy.FirstNode()), "EQ(a,1)");

    // Arguments are copied with their own subtrees: no node is shared.
    Parsed In("a IN (b + 1, b * 2) AND name LIKE 'S%' ESCAPE '!'", Row.Tables());
    ASSERT_EQ(In.Error(), "");
    TVekExpr Deep;
    Deep.CloneFromTree(In.Root());
    EXPECT_EQ(Deep.GetNodeCount(), In.Parser.Expr()->GetNodeCount());
    std::set<const TVekExprNode*> Originals;
    for (const TVekExprNode* N = In.Parser.Expr()->FirstNode(); N; N = N->Next())
        Originals.insert(N);
    std::function<void(const TVekExprNode*)> Walk = [&](const TVekExprNode* N) {
        if (!N)
            return;
        EXPECT_EQ(Originals.count(N), 0u);
        Walk(N->Left());
        Walk(N->Right());
        for (const TVekExprNode* A : N->Args())
            Walk(A);
    };
    Walk(Deep.FirstNode());
    EXPECT_EQ(Shape(Deep.FirstNode()), "AND(IN(a;ADD(b,1);MUL(b,2)),LIKE(name,S%;!))");
}

TEST(ExprTree, EquivalenceAndConversions)
{
    RowProvider Row(Columns());
    RowProvider Other(Columns(), "U");
    Parsed P1("a = 1", Row.Tables());
    Parsed P2("a = 1", Row.Tables());
    Parsed P3("a = 1", Other.Tables());
    EXPECT_TRUE(P1.Root()->Left()->AreNodesEquivalent(P2.Root()->Left()));
    EXPECT_FALSE(P1.Root()->Left()->AreNodesEquivalent(P3.Root()->Left()));
    EXPECT_FALSE(P1.Root()->AreNodesEquivalent(nullptr));

    TVekExprNode Node;
    Node.SetData(Variant("12"));
    Node.SetAndConvertDataType(ftInteger);
    EXPECT_EQ(Node.Data().VType(), varInteger);
    EXPECT_EQ(Node.Data().AsInteger(), 12);
    Node.SetData(Null());
    Node.SetAndConvertDataType(ftString);
    EXPECT_TRUE(Node.Data().IsNull());
    EXPECT_EQ(Node.DataType(), ftString);
}

TEST(ExprTree, TableListLookups)
{
    TTableList List;
    TTableNameItem* A = List.Add();
    A->SetTableName("Orders");
    A->SetCorrelationName("o");
    EXPECT_EQ(List.FindTable(""), A);
    EXPECT_EQ(List.FindTable("O"), A);
    EXPECT_EQ(List.FindTableName("o"), nullptr);
    TTableNameItem* B = List.Add();
    B->SetTableName("Items");
    EXPECT_EQ(List.FindTable(""), nullptr);
    EXPECT_EQ(List.FindTableAndCorrelationName("orders", "O"), A);
    TInternalFieldItem* F = B->TableFields()->Add();
    F->SetFieldName("Qty");
    F->SetDataType(ftInteger);
    EXPECT_EQ(List.FindTableForField("qty"), B);
    EXPECT_EQ(B->GetFieldType("Qty"), ftInteger);
    EXPECT_EQ(B->GetFieldSize("none"), 0);
    TTableList Merged;
    TTableList Extra;
    Extra.Add()->Assign(B);
    Extra.Add()->SetTableName("New");
    Merged.MergeLists(&List, &Extra);
    EXPECT_EQ(Merged.Count(), 3);
}

// ======================================================= operator rules

TEST(OpEvaluator, NullAndUnknownRules)
{
    TVekOpEvaluator Op;
    Variant R;
    Op.EvaluateArithExprValues(veoADD, Null(), Variant(1.0), R);
    EXPECT_TRUE(R.IsEmpty());
    Op.EvaluateArithExprValues(veoADD, R, Variant(2.0), R);
    EXPECT_TRUE(R.IsEmpty()); // unknown + 2 stays unknown
    Op.EvaluateArithExprValues(veoADD, Variant("ab"), Variant("cd"), R);
    EXPECT_EQ(R.AsString(), "abcd");
    Op.EvaluateArithExprValues(veoMOD, Variant(5), Variant(2), R);
    EXPECT_TRUE(R.IsEmpty());

    const Variant Unknown;
    EXPECT_TRUE(Op.EvaluateLogicalExprAsVar(veoAND, Unknown, Variant(true)).IsEmpty());
    EXPECT_EQ(Show(Op.EvaluateLogicalExprAsVar(veoOR, Unknown, Variant(false))), "false");
    EXPECT_EQ(Show(Op.EvaluateLogicalExprAsVar(veoOR, Unknown, Variant(true))), "true");
    EXPECT_TRUE(Op.EvaluateLogicalExprAsVar(veoNOT, Unknown, Unknown).IsEmpty());
    EXPECT_EQ(Show(Op.EvaluateLogicalExprAsVar(veoISBLANK, Null(), Unknown)), "true");
    EXPECT_FALSE(Op.EvaluateLogicalExprAsBoolean(veoAND, Unknown, Variant(true)));

    EXPECT_TRUE(Op.EvaluateRelopExprAsBoolean(veoLT, Null(), Variant(5), false));
    EXPECT_FALSE(Op.EvaluateRelopExprAsBoolean(veoEQ, Null(), Variant(5), false));
    EXPECT_TRUE(Op.EvaluateRelopExprAsVar(veoLT, Null(), Variant(5), true).IsEmpty());
    EXPECT_TRUE(Op.EvaluateRelopExprAsVar(veoEQ, Null(), Variant(5), true).IsEmpty());
    // The unknown result of an operation compares like Null.
    EXPECT_TRUE(Op.EvaluateRelopExprAsBoolean(veoLT, Unknown, Variant(5), false));
    EXPECT_TRUE(Op.EvaluateRelopExprAsBoolean(veoEQ, Unknown, Null(), false));
    // Values that cannot be compared are unknown, never an error.
    EXPECT_TRUE(Op.EvaluateRelopExprAsVar(veoEQ, Variant("abc"), Variant(5), false).IsEmpty());
}

TEST(Conversions, DatesInTheShortDateOrderAndTheYmdRetry)
{
    PinnedFormats Formats;
    FormatSettings().ShortDateFormat = "dd/mm/yyyy";
    FormatSettings().DateSeparator = '/';
    TVekDataConversionValidator V;
    Variant R;
    V.ConvertStrToDateTime("25/12/2001", ftDate, R);
    EXPECT_EQ(R.AsDouble(), EncodeDate(2001, 12, 25));
    V.ConvertStrToDateTime("2001-12-25", ftDate, R);
    EXPECT_EQ(R.AsDouble(), EncodeDate(2001, 12, 25));
    V.ConvertStrToDateTime("", ftDate, R);
    EXPECT_TRUE(R.IsNull());
    try {
        V.ConvertStrToDateTime("2001-13-25", ftDate, R);
        FAIL() << "no error";
    } catch (const EVekDatabaseError& E) {
        EXPECT_EQ(E.ErrorCode, 10059);
        EXPECT_NE(std::string(E.what()).find("Value 2001-13-25 was not of the expected format yyyy-mmm-dd"),
                  std::string::npos);
    }
    V.ConvertStrToDateTime("10:30 PM", ftTime, R);
    EXPECT_DOUBLE_EQ(R.AsDouble(), EncodeTime(22, 30, 0, 0));
    V.ConvertStrToDateTime("12:15 AM", ftTime, R);
    EXPECT_DOUBLE_EQ(R.AsDouble(), EncodeTime(0, 15, 0, 0));
    V.ConvertStrToDateTime("25/12/2001 10:20:30", ftDateTime, R);
    EXPECT_DOUBLE_EQ(R.AsDouble(), EncodeDate(2001, 12, 25) + EncodeTime(10, 20, 30, 0));
    try {
        V.ConvertStrToDateTime("x", ftTime, R);
        FAIL() << "no error";
    } catch (const EVekDatabaseError& E) {
        EXPECT_EQ(E.ErrorCode, 10058);
    }
    EXPECT_TRUE(V.CheckDataConversionValid(ftString, ftDate));
    EXPECT_FALSE(V.CheckDataConversionValid(ftBoolean, ftFloat));
    EXPECT_TRUE(V.CheckDataConversionValid(ftBoolean, ftInteger));

    TVekStrToDateTimeConverter C;
    EXPECT_EQ(C.GetSDFOrder(), "DMY");
    TDateTime D = 0;
    EXPECT_TRUE(C.ConvertStrToDate("01-Jan-2030", "DMY", ftDate, D));
    EXPECT_EQ(D, EncodeDate(2030, 1, 1));
    // A day written in letters is no date.
    EXPECT_FALSE(C.ConvertStrToDate("Tuesday-Jan-2030", "DMY", ftDate, D));
    EXPECT_FALSE(C.ConvertStrToDate("31-02-2030", "DMY", ftDate, D));
    EXPECT_FALSE(C.ConvertStrToDate("1-2", "DMY", ftDate, D));
    FormatSettings().ShortDateFormat = "yyyy/m/d";
    EXPECT_EQ(C.GetSDFOrder(), "YMD");
    FormatSettings().ShortDateFormat = "m/d/yy";
    EXPECT_EQ(C.GetSDFOrder(), "MDY");
}

// ===================================================== clause parsers

TEST(MiscParsers, OrderBy)
{
    struct Case {
        const char* Sql;
        std::vector<std::tuple<int, std::string, bool>> Items;
        const char* Error;
    };
    const Case Cases[] = {
        {"SELECT a FROM t ORDER BY 2 DESC, name", {{2, "", true}, {0, "name", false}}, ""},
        {"SELECT a FROM t ORDER BY t.a", {{0, "t.a", false}}, ""},
        {"SELECT a FROM t ORDER BY UPPER(a) DESC", {{0, "UPPER(a)", true}}, ""},
        {"SELECT a FROM t ORDER BY a + b, c ASC", {{0, "a + b", false}, {0, "c", false}}, ""},
        {"SELECT a FROM t ORDER BY 1.5", {}, "Invalid token Line 1, Character 26. Token '1.5'"},
        {"SELECT a FROM t ORDER BY 99999999999", {}, "Invalid token"},
    };
    for (const Case& C : Cases) {
        TVekPreParser Pre;
        Pre.SetText(C.Sql);
        Pre.PreParseTokens();
        TOrderByItems Items;
        TVekOrderByParser Parser;
        const bool Ok = Parser.ExecuteOrderBy(&Items, Pre.GetSection(vstOrderBy));
        EXPECT_EQ(Ok, std::string(C.Error).empty()) << C.Sql;
        if (!Ok) {
            EXPECT_EQ(Parser.GetErrorMsg().substr(0, std::strlen(C.Error)), C.Error) << C.Sql;
            continue;
        }
        ASSERT_EQ(Items.Count(), static_cast<int>(C.Items.size())) << C.Sql;
        for (int I = 0; I < Items.Count(); ++I) {
            EXPECT_EQ(Items.Items(I)->FieldIndex(), std::get<0>(C.Items[I])) << C.Sql;
            EXPECT_EQ(Items.Items(I)->SortKey(), std::get<1>(C.Items[I])) << C.Sql;
            EXPECT_EQ(Items.Items(I)->Descending(), std::get<2>(C.Items[I])) << C.Sql;
        }
    }
    TVekOrderByParser Parser;
    TOrderByItems Items;
    EXPECT_TRUE(Parser.ExecuteOrderBy(&Items, nullptr));
}

TEST(MiscParsers, GroupBy)
{
    struct Case {
        const char* Sql;
        std::vector<std::pair<std::string, std::string>> Items; // table, field
        const char* Error;
    };
    const Case Cases[] = {
        {"SELECT a FROM t GROUP BY t.a, b HAVING x", {{"t", "a"}, {"", "b"}}, ""},
        {"SELECT a FROM t GROUP BY a,,b", {}, "missing column name descriptor"},
        {"SELECT a FROM t GROUP BY 1", {}, "invalid column name descriptor"},
        {"SELECT a FROM t GROUP BY a b", {}, "Group By clause incorrectly terminated"},
    };
    for (const Case& C : Cases) {
        TVekPreParser Pre;
        Pre.SetText(C.Sql);
        Pre.PreParseTokens();
        TGroupByItems Items;
        TVekGroupByParser Parser;
        const bool Ok = Parser.ExecuteGroupBy(&Items, Pre.GetSection(vstGroupBy));
        EXPECT_EQ(Ok, std::string(C.Error).empty()) << C.Sql;
        if (!Ok) {
            EXPECT_EQ(Parser.ErrorMsg(), C.Error) << C.Sql;
            continue;
        }
        ASSERT_EQ(Items.Count(), static_cast<int>(C.Items.size())) << C.Sql;
        for (int I = 0; I < Items.Count(); ++I) {
            EXPECT_EQ(Items.Items(I)->TableName(), C.Items[I].first);
            EXPECT_EQ(Items.Items(I)->FieldName(), C.Items[I].second);
        }
    }
}

TEST(MiscParsers, DataTypes)
{
    struct Case {
        const char* Text;
        bool Constraints;
        TFieldType Type;
        int Size, Scale;
        bool NotNull;
        const char* Error;
    };
    const Case Cases[] = {
        {"VARCHAR(20)", false, ftString, 20, 0, false, ""},
        {"CHAR", false, ftString, 1, 0, false, ""},
        {"CHARACTER(5)", false, ftString, 5, 0, false, ""},
        {"NUMERIC(10,2)", false, ftFloat, 10, 2, false, ""},
        {"FLOAT", false, ftFloat, 0, 0, false, ""},
        {"BLOB(0,1)", false, ftMemo, 0, 1, false, ""},
        {"BLOB(0,3)", false, ftFmtMemo, 0, 3, false, ""},
        {"BLOB(0,5)", false, ftGraphic, 0, 5, false, ""},
        {"BLOB(10)", false, ftBlob, 10, 0, false, ""},
        {"MONEY", false, ftCurrency, 0, 0, false, ""},
        {"TIMESTAMP", false, ftDateTime, 0, 0, false, ""},
        {"INT NOT NULL", true, ftInteger, 0, 0, true, ""},
        {"DATE", false, ftDate, 0, 0, false, ""},
        {"CHAR()", false, ftString, 0, 0, false, "Data type length/precision not specified"},
        {"CHAR(-1)", false, ftString, 0, 0, false, "Data type length/precision not specified"},
        {"CHAR(1.5)", false, ftString, 0, 0, false, "Data type length/precision not specified"},
        {"NUMERIC(10,-2)", false, ftFloat, 0, 0, false, "Data type scale invalid"},
        {"CHAR(5", false, ftString, 0, 0, false, "Missing Right Parenthesis"},
        {"INT NOT 5", true, ftInteger, 0, 0, false, "Invalid token"},
        {"AUTOINC", false, ftAutoInc, 0, 0, false, "Data type is invalid"},
        {"REAL", false, ftUnknown, 0, 0, false, "Unknown Datatype"},
        {"DEC(5)", false, ftUnknown, 0, 0, false, "Unknown Datatype"},
    };
    for (const Case& C : Cases) {
        TVekPreParser Pre;
        Pre.SetParseAsExprOnly(true);
        Pre.SetText(C.Text);
        Pre.PreParseTokens();
        TVekDataTypeParser Parser;
        Parser.Execute({vpoExtSyntax}, Pre.GetSection(vstWhere));
        Parser.SetAllowConstraints(C.Constraints);
        const bool Ok = Parser.ParseDataType();
        EXPECT_EQ(Parser.ErrorMsg(), C.Error) << C.Text;
        if (!Ok)
            continue;
        EXPECT_EQ(Parser.DataType(), C.Type) << C.Text;
        EXPECT_EQ(Parser.FieldSize(), C.Size) << C.Text;
        EXPECT_EQ(Parser.Scale(), C.Scale) << C.Text;
        EXPECT_EQ(Parser.NotNull(), C.NotNull) << C.Text;
    }
    // Column definitions allow AUTOINC.
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText("AUTOINC");
    Pre.PreParseTokens();
    TVekDataTypeParser Parser;
    Parser.Execute({}, Pre.GetSection(vstWhere));
    Parser.SetInvalidDataTypes({});
    EXPECT_TRUE(Parser.ParseDataType());
    EXPECT_EQ(Parser.DataType(), ftAutoInc);
}

// ===================================================== expression parser

TEST(ExprParser, TreeShapes)
{
    PinnedFormats Formats;
    RowProvider Row(Columns());
    const std::pair<const char*, const char*> Cases[] = {
        {"a BETWEEN 1 AND 5", "AND(GE(a,1),LE(a,5))"},
        {"a NOT BETWEEN 1 AND 5", "OR(LT(a,1),GT(a,5))"},
        {"5 < a", "GT(a,5)"},
        {"5 >= a", "LE(a,5)"},
        {"a = b", "EQ(a,b)"},
        {"a - 1 > b", "LT(b,SUB(a,1))"},
        {"a = 1 OR b = 2 AND NOT x IS NULL", "OR(EQ(a,1),AND(EQ(b,2),NOT(ISBLANK(x))))"},
        {"a IN (1, 2)", "IN(a;1;2)"},
        {"name LIKE 'S%' ESCAPE '!'", "LIKE(name,S%;!)"},
        {"SUBSTRING(name FROM 1 FOR 2) = 'Sm'", "EQ(FUNC2(name,1;2),Sm)"},
        {"COUNT(*) > 1", "GT(FUNC2(-),1)"},
        {"SUM(a + b) > 1", "GT(FUNC2(-;ADD(a,b)),1)"},
    };
    for (const auto& [Text, Shape_] : Cases) {
        Parsed P(Text, Row.Tables());
        EXPECT_EQ(P.Error(), "") << Text;
        EXPECT_EQ(Shape(P.Root()), Shape_) << Text;
        EXPECT_EQ(P.Parser.Expr()->FirstNode(), P.Root()) << Text;
    }
    // The second comparison of NOT BETWEEN has its own node for a.
    Parsed Not("a NOT BETWEEN 1 AND 5", Row.Tables());
    EXPECT_NE(Not.Root()->Left()->Left(), Not.Root()->Right()->Left());
    // The pair of comparisons is known as a BETWEEN, also in a copy; a plain
    // AND of the same comparisons is not.
    Parsed Range("a BETWEEN 1 AND 5", Row.Tables());
    EXPECT_TRUE(IsBetweenNode(Range.Root()));
    EXPECT_TRUE(IsBetweenNode(Not.Root()));
    EXPECT_FALSE(IsBetweenNode(Range.Root()->Left()));
    Parsed Plain("a >= 1 AND a <= 5", Row.Tables());
    EXPECT_FALSE(IsBetweenNode(Plain.Root()));
    Parsed Inner("a = 9 OR a BETWEEN 1 AND 5", Row.Tables());
    ASSERT_NE(Inner.Root(), nullptr) << Inner.Error();
    EXPECT_TRUE(IsBetweenNode(Inner.Root()->Right()));
    TVekExpr Copy;
    EXPECT_TRUE(IsBetweenNode(Copy.CloneFromTree(Range.Root())));
    // A date column compared with a text holds a date-time constant.
    Parsed Date("d = '2001-12-25'", Row.Tables());
    EXPECT_EQ(Date.Root()->Right()->Data().VType(), varDate);
    EXPECT_EQ(Date.Root()->Right()->DataType(), ftDate);
    // Integer columns take whole constants as integers, keep fractions.
    Parsed Whole("a = 3", Row.Tables());
    EXPECT_EQ(Whole.Root()->Right()->Data().VType(), varInteger);
    Parsed Fraction("a > 2.5", Row.Tables());
    EXPECT_EQ(Fraction.Root()->Right()->Data().VType(), varDouble);
}

TEST(ExprParser, OptionsAndErrors)
{
    RowProvider Row(Columns());
    struct Case {
        const char* Text;
        TVekParserOptions Options;
        const char* Error;
    };
    const Case Cases[] = {
        {"a = :p", {vpoExtSyntax}, "Parameters are not supported Line 1, Character 5. Token ':'"},
        {"a = :p", {vpoParameters}, ""},
        {"a = :5", {vpoParameters}, "Parameter name expected but none found"},
        {"EXISTS (SELECT a FROM t)", {vpoExtSyntax}, "Subqueries are not supported"},
        {"a IN (SELECT a FROM t)", {vpoExtSyntax}, "Subqueries are not supported"},
        {"EXISTS (SELECT a FROM t)", AllOptions(), "Subqueries are not supported"}, // no owner
        {"a + 1 = 2", {}, "Arithmetic operators not supported"},
        {"a * 1 = 2", {}, "Arithmetic operators not supported"},
        {"UPPER(name) = 'X'", {}, "Arithmetic operators not supported"},
        {"x = NULL", AllOptions(), "Expression data types do not match"},
        {"a-1", AllOptions(), "Expression incorrectly terminated"},
        {"memo = 'x'", AllOptions(), "Expression data types do not match"},
        {"memo LIKE 'x%'", AllOptions(), ""},
        {"memo IS NULL", AllOptions(), ""},
        {"a = 1 b", AllOptions(), "Invalid token Line 1, Character 7. Token 'b'"},
        {"a = 1 2", AllOptions(), "Expression incorrectly terminated Line 1, Character 7. Token '2'"},
        {"", AllOptions(), ""},
    };
    for (const Case& C : Cases) {
        Parsed P(C.Text, Row.Tables(), C.Options);
        EXPECT_EQ(P.Error().substr(0, std::strlen(C.Error)), C.Error) << C.Text;
        if (std::string(C.Error).empty()) {
            EXPECT_EQ(P.Error(), "") << C.Text;
        }
    }
}

TEST(ExprParser, AggregatesAndValueExpressions)
{
    RowProvider Row(Columns());
    Parsed Count("COUNT(*) > 0", Row.Tables());
    const TVekExprNode* Agg = Count.Root()->Left();
    EXPECT_TRUE(Agg->Args().empty());
    EXPECT_EQ(Agg->DataType(), ftInteger);
    EXPECT_EQ(Agg->ScopeKind(), vskAgg);
    EXPECT_EQ(Agg->ParserToken()->CustomOrdinal(), vafCount);
    Parsed Distinct("COUNT(DISTINCT a) > 0", Row.Tables());
    EXPECT_TRUE(Distinct.Root()->Left()->Data().AsBoolean());
    EXPECT_EQ(Distinct.Root()->Left()->DataType(), ftInteger);

    // The whole call as the aggregate's text.
    Parsed Text("SUM( a + b ) > 1", Row.Tables(), {vpoExtSyntax, vpoExtractAggFuncExprText});
    EXPECT_EQ(Text.Root()->Left()->ParserToken()->RawTokenText(), "SUM( a + b )");

    // A select-list item ends at "," or FROM when those may end it.
    TVekPreParser Pre;
    Pre.SetText("SELECT a + 1, b FROM t");
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Row.Tables());
    Parser.SetValidEndTokens({vstComma, vstFrom, vstEnd});
    TVekExpr Target;
    EXPECT_TRUE(Parser.ExecuteExternalValueExpr(&Target, {vpoExtSyntax}, Pre.GetSection(vstSelect)));
    EXPECT_EQ(Shape(Target.FirstNode()), "ADD(a,1)");
    EXPECT_EQ(Target.ParsedText(), " a + 1"); // raw texts, blanks included
    EXPECT_EQ(Parser.CurrentTokenType(), vstComma);

    // A parenthesised value goes on after its parenthesis.
    struct Case {
        const char* Sql;
        const char* Shape;
        const char* Error;
    };
    const Case Cases[] = {
        {"SELECT (a + b) * 2 FROM t", "MUL(ADD(a,b),2)", ""},
        {"SELECT (a) FROM t", "a", ""},
        {"SELECT ((a + 1)) - (b) FROM t", "SUB(ADD(a,1),b)", ""},
        {"SELECT () FROM t", "-", "Expression is empty"},
        {"SELECT (a + 1 FROM t", "-", "Missing Right Parenthesis"},
    };
    for (const Case& C : Cases) {
        TVekPreParser Select;
        Select.SetText(C.Sql);
        Select.PreParseTokens();
        TVekExprParser Value;
        Value.SetTableList(Row.Tables());
        Value.SetValidEndTokens({vstComma, vstFrom, vstEnd});
        TVekExpr Item;
        Value.ExecuteExternalValueExpr(&Item, {vpoExtSyntax}, Select.GetSection(vstSelect));
        EXPECT_EQ(Value.ErrorMsg(), C.Error) << C.Sql;
        if (!Value.HasParseError()) {
            EXPECT_EQ(Shape(Item.FirstNode()), C.Shape) << C.Sql;
        }
    }
}

TEST(ExprParser, CloneFromExprJoinsConditions)
{
    RowProvider Row(Columns());
    Parsed A("a = 1", Row.Tables());
    Parsed B("b = 2", Row.Tables());
    TVekExprParser Parser;
    Parser.CloneFromExpr(A.Parser.Expr(), true);
    EXPECT_EQ(Shape(Parser.Root()), "EQ(a,1)");
    Parser.CloneFromExpr(B.Parser.Expr(), false, veoOR);
    EXPECT_EQ(Shape(Parser.Root()), "OR(EQ(a,1),EQ(b,2))");
    EXPECT_EQ(Parser.Root()->ParserToken()->Token(), vstOr);
    EXPECT_THROW(Parser.CloneFromExpr(B.Parser.Expr(), false, veoADD), EAssertionFailed);
}

TEST(ExprParser, OuterReferencesAndSubqueries)
{
    RowProvider Row(Columns());
    SubqueryOwner Owner;
    // Inside a subquery an unknown column goes to the owner.
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText("outer.k = a AND nowhere.k = 1");
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Row.Tables());
    Parser.SetIsSubquery(true);
    Parser.SetParserNotifyEvent(Owner.Handler());
    Parser.Execute(AllOptions(), Pre.GetSection(vstWhere));
    EXPECT_EQ(Owner.Outer, 2);
    EXPECT_EQ(Parser.ErrorMsg(), "Table and/or field not found (nowhere.k)");

    Parsed Outer("outer.k = a", Row.Tables(), AllOptions(), Owner.Handler());
    EXPECT_EQ(Outer.Parser.ErrorMsg(), "Table and/or field not found (outer.k)"); // not a subquery
}

// ============================================================ evaluator

TEST(Evaluator, SubqueriesThroughTheirProviders)
{
    RowProvider Row(Columns());
    SubqueryRows One({{Variant(3)}});
    SubqueryRows Two({{Variant(3)}, {Variant(5)}});
    SubqueryRows None({});
    SubqueryRows Wide({{Variant(1), Variant(2)}}, 2);
    SubqueryOwner Owner;
    Owner.Sources = {{"one", &One}, {"two", &Two}, {"none", &None}, {"wide", &Wide}};
    struct Case {
        const char* Text;
        const char* Expected;
    };
    const Case Cases[] = {
        {"EXISTS (SELECT c0 FROM one)", "true"},
        {"EXISTS (SELECT c0 FROM none)", "false"},
        {"a = (SELECT c0 FROM one)", "true"},
        {"(SELECT c0 FROM one) = a", "true"},
        {"a < (SELECT c0 FROM none)", "unknown"},
        {"a IN (SELECT c0 FROM two)", "true"},
        {"b IN (SELECT c0 FROM two)", "false"},
        {"b NOT IN (SELECT c0 FROM two)", "true"},
        {"a = ANY (SELECT c0 FROM two)", "true"},
        {"b > SOME (SELECT c0 FROM two)", "true"},
        {"a >= ALL (SELECT c0 FROM two)", "false"},
        {"a <= ALL (SELECT c0 FROM two)", "true"},
        {"a < ALL (SELECT c0 FROM none)", "true"},
        {"(SELECT c0 FROM one) = (SELECT c0 FROM one)", "true"},
        {"(SELECT c0 FROM one) = (SELECT c0 FROM none)", "unknown"},
    };
    for (const Case& C : Cases) {
        Parsed P(C.Text, Row.Tables(), AllOptions(), Owner.Handler());
        ASSERT_EQ(P.Error(), "") << C.Text;
        TExprEvaluator E;
        E.Prepare(&Row, P.Root());
        EXPECT_EQ(Show(E.EvaluateValueExpr()), C.Expected) << C.Text;
    }
    auto Raises = [&](const char* Text, int Code) {
        Parsed P(Text, Row.Tables(), AllOptions(), Owner.Handler());
        ASSERT_EQ(P.Error(), "") << Text;
        TExprEvaluator E;
        E.Prepare(&Row, P.Root());
        try {
            E.EvaluateValueExpr();
            ADD_FAILURE() << Text << ": no error";
        } catch (const EVekDatabaseError& Error) {
            EXPECT_EQ(Error.ErrorCode, Code) << Text;
        }
    };
    // A subquery may stand beside an aggregate.
    Parsed Having("COUNT(*) > (SELECT c0 FROM one)", Row.Tables(), AllOptions(), Owner.Handler());
    EXPECT_EQ(Having.Error(), "");
    EXPECT_EQ(Having.Root()->ScopeKind(), vskAgg);

    Raises("a = (SELECT c0 FROM two)", 9650);
    Raises("(SELECT c0 FROM two) = (SELECT c0 FROM one)", 9650);
    Raises("(SELECT c0 FROM two) + 1 = 1", 9650);
    Raises("(SELECT c0 FROM wide) + 1 = 1", 9656);
    Raises("CAST(a AS BLOB) IS NULL", 10000);
}

TEST(Evaluator, NullsExcludedAndStringComparisons)
{
    RowProvider Row(Columns());
    EXPECT_EQ(Show(ParseAndEvaluate("x IN (1, NULL)", Row).Value), "true");
    EXPECT_EQ(Show(ParseAndEvaluate("x IN (1, NULL)", Row, AllOptions(), true).Value), "false");
    EXPECT_EQ(Show(ParseAndEvaluate("x < 5", Row, AllOptions(), true).Value), "unknown");
    EXPECT_FALSE(ParseAndEvaluate("x < 5", Row, AllOptions(), true).Condition);
    EXPECT_TRUE(ParseAndEvaluate("x IS NULL", Row).Condition);

    // Case-insensitive and partial comparisons of a filter.
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText("name = 'SMI'");
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Row.Tables());
    Parser.SetCaseInsensitiveMatch(true);
    Parser.SetPartialStringComparison(true);
    Parser.Execute({}, Pre.GetSection(vstWhere));
    ASSERT_FALSE(Parser.HasParseError());
    Parser.Root()->Right()->SetPartialLength(3);
    TExprEvaluator E;
    E.Prepare(&Row, Parser.Root());
    EXPECT_TRUE(E.Evaluate());
    EXPECT_EQ(Show(E.Root()->NodeResult()), "true");
    EXPECT_EQ(Show(E.Root()->Right()->NodeResult()), "'SMI'");
    E.Reset(); // every kept result reads as Null again
    EXPECT_EQ(Show(E.Root()->NodeResult()), "null");
    EXPECT_EQ(Show(E.Root()->Right()->NodeResult()), "null");
    Row.SetValue("name", Variant("Smythe"));
    E.Reset();
    EXPECT_FALSE(E.Evaluate());

    // Without a collation string comparisons cannot run.
    RowProvider Bare(Columns());
    Bare.SetDBStringCompare(nullptr);
    Parsed P("name = 'x'", Bare.Tables());
    TExprEvaluator NoCompare;
    NoCompare.Prepare(&Bare, P.Root());
    EXPECT_THROW(NoCompare.Evaluate(), EAssertionFailed);
}

// Every node of a condition keeps its own outcome for the record:
// comparisons and logic read as Booleans, constants as themselves, values
// as computed (unknown for Null + 1).
TEST(Evaluator, InnerNodesKeepTheirResults)
{
    RowProvider Row(StandardColumns());
    Parsed P("i > 5 AND n + 1 = 5 OR s LIKE 'H%'", Row.Tables());
    ASSERT_EQ(P.Error(), "");
    TExprEvaluator E;
    E.Prepare(&Row, P.Root());
    EXPECT_TRUE(E.Evaluate());
    const TExprEvaluatorNode* And = E.Root()->Left();
    EXPECT_EQ(Show(E.Root()->NodeResult()), "true");
    EXPECT_EQ(Show(And->NodeResult()), "false");
    EXPECT_EQ(Show(And->Left()->NodeResult()), "true");
    EXPECT_EQ(Show(And->Left()->Left()->NodeResult()), "i:7");
    EXPECT_EQ(Show(And->Left()->Right()->NodeResult()), "i:5");
    EXPECT_EQ(Show(And->Right()->NodeResult()), "false"); // Null ranks below 5
    EXPECT_EQ(Show(And->Right()->Left()->NodeResult()), "unknown");
    EXPECT_EQ(Show(E.Root()->Right()->NodeResult()), "true");
    EXPECT_EQ(Show(E.EvaluateValueExpr()), "true");
    E.Reset();
    EXPECT_EQ(Show(And->Left()->NodeResult()), "null");
    EXPECT_EQ(Show(And->Left()->Right()->NodeResult()), "null");
}

TEST(Evaluator, ResultLists)
{
    RowProvider Row(Columns());
    TCompoundList In, Out;
    for (std::intptr_t I = 1; I <= 3; ++I)
        In.Add(reinterpret_cast<void*>(I), reinterpret_cast<void*>(I * 10));
    TExprResultListGenerator Generator;
    Generator.CreateResultList(&Row, nullptr, false, &Out, &In);
    EXPECT_EQ(Out.Count(), 3);
    EXPECT_EQ(Out.List2()->Get(2), reinterpret_cast<void*>(30));

    // A provider whose rows are selected by MoveToRecord.
    class Numbers : public RowProvider {
    public:
        Numbers() : RowProvider({{"v", ftInteger, 0, Variant(0)}}) {}
        bool MoveToRecord(Integer RecNo) override
        {
            SetValue("v", Variant(RecNo * RecNo));
            return true;
        }
    } Squares;
    Parsed P("v > 3", Squares.Tables());
    Generator.CreateResultList(&Squares, P.Root(), false, &Out, &In);
    ASSERT_EQ(Out.Count(), 2);
    EXPECT_EQ(Out.Items(0), reinterpret_cast<void*>(2));

    Squares.SetDBStringCompare(nullptr);
    try {
        Generator.CreateResultList(&Squares, nullptr, false, &Out, &In);
        FAIL() << "no error";
    } catch (const EVekDatabaseError& E) {
        EXPECT_EQ(E.ErrorCode, 10065);
    }
}

TEST(Evaluator, LikePatternMatcher)
{
    struct Case {
        const char* Value;
        const char* Pattern;
        char Escape;
        bool Match;
    };
    const Case Cases[] = {
        {"abc", "a%", 0, true},     {"abc", "%c", 0, true},      {"abc", "a_c", 0, true},
        {"abc", "a_", 0, false},    {"", "%", 0, true},          {"", "", 0, true},
        {"a", "", 0, false},        {"a%b", "a!%b", '!', true},  {"axb", "a!%b", '!', false},
        {"a_b", "a\\_b", '\\', true}, {"ab!", "ab!", '!', true}, {"aXbXc", "%X%X%", 0, true},
        {"mississippi", "%iss%ppi", 0, true}, {"mississippi", "m%ss_ss%", 0, true},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(MatchLikePattern(C.Value, C.Pattern, C.Escape), C.Match) << C.Value << " " << C.Pattern;
    // Long runs of "%" stay fast.
    EXPECT_FALSE(MatchLikePattern(std::string(5000, 'a'), std::string(200, '%') + "b", 0));
}

TEST(ExprParser, NestingIsBounded)
{
    RowProvider Row(Columns());
    const std::string Deep = std::string(20000, '(') + "1" + std::string(20000, ')');
    EXPECT_EQ(Parsed("a = " + Deep, Row.Tables()).Parser.ErrorMsg(), SvekExprTooDeep);
    std::string Long = "a = 1";
    for (int I = 0; I < 5000; ++I)
        Long += " + 1";
    EXPECT_EQ(Parsed(Long, Row.Tables()).Parser.ErrorMsg(), SvekExprTooDeep);
    std::string Ors = "a = 1";
    for (int I = 0; I < 5000; ++I)
        Ors += " OR a = 1";
    EXPECT_EQ(Parsed(Ors, Row.Tables()).Parser.ErrorMsg(), SvekExprTooDeep);
    std::string Ins = "a";
    for (int I = 0; I < 2000; ++I)
        Ins += " IN (a";
    EXPECT_EQ(Parsed(Ins, Row.Tables()).Parser.ErrorMsg(), SvekExprTooDeep);
    // Within the limits the tree evaluates.
    std::string Sum = "a";
    for (int I = 0; I < 900; ++I)
        Sum += " + 1";
    const EvalResult R = ParseAndEvaluate(Sum + " = 903", Row);
    EXPECT_EQ(R.Error, "");
    EXPECT_TRUE(R.Condition);
}

} // namespace
} // namespace orvex

namespace orvex {
namespace {

TEST(ExprTree, DiagnosticListing)
{
    sqltest::RowProvider Row({{"a", ftInteger, 0, Variant(1)}});
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText("a IN (1)");
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Row.Tables());
    Parser.Execute({}, Pre.GetSection(vstWhere));
    TStringList Lines;
    Parser.Expr()->Display(&Lines);
    EXPECT_EQ(Lines.Text(), " enkField:coFIELD2 :: stFieldName  -  a :: Integer - 4\r\n"
                            "enkNonRelPredicate:coIN :: stIn  -  IN :: Boolean - -1\r\n"
                            "Start Args\r\n"
                            "** enkConst:coCONST2 :: stNumber  -  1 :: Float - 0\r\n"
                            "End Args\r\n");
}

} // namespace
} // namespace orvex
