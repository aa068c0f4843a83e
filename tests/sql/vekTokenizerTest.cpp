// The tokenizer, the pre-parser's stacks and the parser base's error rule.

#include "sql/vekBaseParser.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace orvex {
namespace {

struct Tok {
    TVekSQLToken Kind;
    std::string Text;
    bool operator==(const Tok& O) const { return Kind == O.Kind && Text == O.Text; }
};

std::ostream& operator<<(std::ostream& Os, const Tok& T)
{
    return Os << CVekStrSQLTokens[T.Kind] << " '" << T.Text << "'";
}

std::vector<Tok> Tokens(const std::string& Sql)
{
    TVekTokenParser P;
    P.SetTokenString(Sql);
    std::vector<Tok> Out;
    std::string Text;
    for (int Guard = 0; Guard < 1000; ++Guard) {
        const TVekSQLToken Kind = P.GetNextToken(Text);
        Out.push_back({Kind, Text});
        if (Kind == vstEnd && Text.empty())
            break;
    }
    return Out;
}

struct TokenCase {
    const char* Sql;
    std::vector<Tok> Expected;
};

TEST(Tokenizer, TokenKindsAndTexts)
{
    const std::vector<TokenCase> Cases = {
        {"select a.b, 't''x', \"v\", [my col], #2001-01-02# from T",
         {{vstSelect, "select"}, {vstTableName, "a"}, {vstFieldName, "b"}, {vstComma, ","},
          {vstStringLiteral, "t'x"}, {vstComma, ","}, {vstValue, "v"}, {vstComma, ","},
          {vstFieldName, "my col"}, {vstComma, ","}, {vstValue, "2001-01-02"}, {vstFrom, "from"},
          {vstFieldName, "T"}, {vstEnd, ""}}},
        {"[T].[F]", {{vstFieldName, "T"}, {vstFieldName, "F"}, {vstEnd, ""}}},
        {"'T'.x", {{vstTableName, "T"}, {vstFieldName, "x"}, {vstEnd, ""}}},
        {"a<>b", {{vstFieldName, "a"}, {vstCompOperator, "<>"}, {vstFieldName, "b"}, {vstEnd, ""}}},
        {"a=<b", {{vstFieldName, "a"}, {vstCompOperator, "=<"}, {vstFieldName, "b"}, {vstEnd, ""}}},
        {"x IS NOT NULL", {{vstFieldName, "x"}, {vstIsNotNull, "IS NOT NULL"}, {vstEnd, ""}}},
        {"x is null", {{vstFieldName, "x"}, {vstIsNull, "is null"}, {vstEnd, ""}}},
        {"x IS 5", {{vstFieldName, "x"}, {vstValue, "IS"}, {vstNumber, "5"}, {vstEnd, ""}}},
        {"x IS NOT 5",
         {{vstFieldName, "x"}, {vstValue, "IS"}, {vstNot, "NOT"}, {vstNumber, "5"}, {vstEnd, ""}}},
        {"/* never closed", {{vstComment, "/* never closed"}, {vstEnd, ""}}},
        {"a /* c */ b // rest\nc",
         {{vstFieldName, "a"}, {vstComment, "/* c */"}, {vstFieldName, "b"}, {vstComment, "// rest"},
          {vstFieldName, "c"}, {vstEnd, ""}}},
        {"-- x", {{vstSub, "-"}, {vstSub, "-"}, {vstFieldName, "x"}, {vstEnd, ""}}},
        {"a-1", {{vstFieldName, "a"}, {vstNumber, "-1"}, {vstEnd, ""}}},
        {"a - 1", {{vstFieldName, "a"}, {vstSub, "-"}, {vstNumber, "1"}, {vstEnd, ""}}},
        {"1E5", {{vstNumber, "1"}, {vstFieldName, "E5"}, {vstEnd, ""}}},
        {"1.2.3", {{vstNumber, "1.2.3"}, {vstEnd, ""}}},
        {".5 + x.y", {{vstNumber, ".5"}, {vstAdd, "+"}, {vstTableName, "x"}, {vstFieldName, "y"}, {vstEnd, ""}}},
        {"T.*", {{vstTableName, "T"}, {vstMult, "*"}, {vstEnd, ""}}},
        {"a/b", {{vstFieldName, "a"}, {vstDiv, "/"}, {vstFieldName, "b"}, {vstEnd, ""}}},
        {":date", {{vstParameter, ":"}, {vstDate, "date"}, {vstEnd, ""}}},
        {"a:b", {{vstFieldName, "a:b"}, {vstEnd, ""}}},
        {"a;b", {{vstFieldName, "a"}, {vstEnd, ";"}, {vstFieldName, "b"}, {vstEnd, ""}}},
        {"GROUP BY order by For Update",
         {{vstGroupBy, "GROUP BY"}, {vstOrderBy, "order by"}, {vstForUpdate, "For Update"},
          {vstEnd, ""}}},
        {"GROUP x FOR", {{vstFieldName, "GROUP"}, {vstFieldName, "x"}, {vstFor, "FOR"}, {vstEnd, ""}}},
        {"NOT LIKE NOT BETWEEN NOT IN NOT x",
         {{vstNotLike, "NOT LIKE"}, {vstNotBetween, "NOT BETWEEN"}, {vstNotIn, "NOT IN"},
          {vstNot, "NOT"}, {vstFieldName, "x"}, {vstEnd, ""}}},
        {"PRIMARY KEY", {{vstPrimaryKey, "PRIMARY KEY"}, {vstEnd, ""}}},
        {"a||b || c", {{vstFieldName, "a||b"}, {vstConcatenate, "||"}, {vstFieldName, "c"}, {vstEnd, ""}}},
        {"float real dec double",
         {{vstNumeric, "float"}, {vstDataType, "real"}, {vstDataType, "dec"}, {vstFieldName, "double"},
          {vstEnd, ""}}},
        {"count Upper trim", {{vstAggFunc, "count"}, {vstStrFunc, "Upper"}, {vstStrFunc, "trim"}, {vstEnd, ""}}},
        {"t.select", {{vstTableName, "t"}, {vstFieldName, "select"}, {vstEnd, ""}}},
        {"'open", {{vstFieldName, "'open"}, {vstEnd, ""}}},
        {"'open x", {{vstFieldName, "'open"}, {vstFieldName, "x"}, {vstEnd, ""}}},
        {"datetime Timestamp", {{vstTimeStamp, "datetime"}, {vstTimeStamp, "Timestamp"}, {vstEnd, ""}}},
        {"where distinct", {{vstWhere, "where"}, {vstFieldName, "distinct"}, {vstEnd, ""}}},
        {"select distinct", {{vstSelect, "select"}, {vstDistinct, "distinct"}, {vstEnd, ""}}},
        {"", {{vstEnd, ""}}},
    };
    for (const TokenCase& C : Cases)
        EXPECT_EQ(Tokens(C.Sql), C.Expected) << C.Sql;
}

// Every word the tokenizer knows, in any ASCII case; a word that only
// resembles one (longer, shorter, a letter outside ASCII) is a name.
TEST(Tokenizer, KeywordsIgnoreAsciiCaseOnly)
{
    const std::pair<const char*, TVekSQLToken> Words[] = {
        {"ALL", vstAll}, {"ASC", vstAscending}, {"ASCENDING", vstAscending}, {"DESC", vstDescending},
        {"DESCENDING", vstDescending}, {"SELECT", vstSelect}, {"AND", vstAnd}, {"OR", vstOr},
        {"LIKE", vstLike}, {"FROM", vstFrom}, {"WHERE", vstWhere}, {"HAVING", vstHaving},
        {"UNION", vstUnion}, {"PLAN", vstPlan}, {"NULL", vstNull}, {"BETWEEN", vstBetween},
        {"CASE", vstCase}, {"AS", vstAS}, {"WHEN", vstWhen}, {"THEN", vstThen}, {"NULLIF", vstNullif},
        {"COALESCE", vstCoalesce}, {"JOIN", vstJoin}, {"INNER", vstInner}, {"OUTER", vstOuter},
        {"LEFT", vstLeft}, {"RIGHT", vstRight}, {"CROSS", vstCross}, {"NATURAL", vstNatural},
        {"FULL", vstFull}, {"CAST", vstCast}, {"IN", vstIn}, {"FOR", vstFor}, {"ON", vstOn},
        {"USING", vstUsing}, {"ESCAPE", vstEscape}, {"TRUE", vstTrue}, {"FALSE", vstFalse},
        {"CHARACTER", vstChar}, {"CHAR", vstChar}, {"VARCHAR", vstVarChar}, {"INTEGER", vstInt},
        {"INT", vstInt}, {"AUTOINC", vstAutoInc}, {"SMALLINT", vstSmallInt}, {"DATE", vstDate},
        {"TIME", vstTime}, {"TIMESTAMP", vstTimeStamp}, {"DATETIME", vstTimeStamp},
        {"DECIMAL", vstDecimal}, {"NUMERIC", vstNumeric}, {"FLOAT", vstNumeric}, {"BOOLEAN", vstBoolean},
        {"MONEY", vstMoney}, {"BLOB", vstBlob}, {"EXTRACT", vstExtract}, {"YEAR", vstYear},
        {"MONTH", vstMonth}, {"DAY", vstDay}, {"HOUR", vstHour}, {"MINUTE", vstMinute},
        {"SECOND", vstSecond}, {"CURRENT_TIME", vstCurrentTime}, {"CURRENT_DATE", vstCurrentDate},
        {"CURRENT_TIMESTAMP", vstCurrentTimestamp}, {"EXISTS", vstExists}, {"ANY", vstAny},
        {"SOME", vstSome}, {"INTO", vstInto}, {"INSERT", vstInsert}, {"VALUES", vstValues},
        {"DELETE", vstDelete}, {"UPDATE", vstUpdate}, {"SET", vstSet}, {"CREATE", vstCreate},
        {"TABLE", vstTable}, {"ADD", vstAddWord}, {"DROP", vstDrop}, {"ALTER", vstAlter},
        {"COLUMN", vstColumn}, {"UNIQUE", vstUnique}, {"INDEX", vstIndex}, {"TYPE", vstType},
        {"TO", vstTo}, {"TEMPORARY", vstTemporary}, {"NOT", vstNot}, {"COUNT", vstAggFunc},
        {"AVG", vstAggFunc}, {"SUM", vstAggFunc}, {"MAX", vstAggFunc}, {"MIN", vstAggFunc},
        {"DEC", vstDataType}, {"REAL", vstDataType}, {"UPPER", vstStrFunc}, {"LOWER", vstStrFunc},
        {"SUBSTRING", vstStrFunc}, {"TRIM", vstStrFunc},
        // Names.
        {"DISTINCT", vstFieldName}, {"GROUP", vstFieldName}, {"ORDER", vstFieldName},
        {"PRIMARY", vstFieldName}, {"BY", vstFieldName}, {"KEY", vstFieldName}, {"DOUBLE", vstFieldName},
        {"PRECISION", vstFieldName}, {"SELECTS", vstFieldName}, {"SELEC", vstFieldName},
        {"CURRENT_TIMESTAMPS", vstFieldName}, {"NU\xCCL", vstFieldName}, {"S\xC9LECT", vstFieldName},
        {"COUNT_", vstFieldName}, {"A_VERY_LONG_NAME_THAT_IS_NO_KEYWORD_AT_ALL", vstFieldName},
    };
    for (const auto& [Word, Kind] : Words) {
        std::string Lower = Word, Mixed = Word;
        for (std::size_t I = 0; I < Lower.size(); ++I) {
            if (Lower[I] >= 'A' && Lower[I] <= 'Z')
                Lower[I] = static_cast<char>(Lower[I] - 'A' + 'a');
            if (I % 2 == 1)
                Mixed[I] = Lower[I];
        }
        for (const std::string& Spelling : {std::string(Word), Lower, Mixed})
            EXPECT_EQ(Tokens(Spelling + " 1"), (std::vector<Tok>{{Kind, Spelling}, {vstNumber, "1"}, {vstEnd, ""}}))
                << Spelling;
    }
}

TEST(Tokenizer, LongRunsOfCompoundStartersDoNotNest)
{
    std::string Sql;
    for (int I = 0; I < 50000; ++I)
        Sql += "NOT IS ";
    const std::vector<Tok> Result = Tokens(Sql.substr(0, 2000));
    ASSERT_FALSE(Result.empty());
    TVekTokenParser P;
    P.SetTokenString(Sql);
    std::string Text;
    int Count = 0;
    while (!(P.GetNextToken(Text) == vstEnd && Text.empty()))
        ++Count;
    EXPECT_EQ(Count, 100000);
}

TEST(Tokenizer, LinesAndColumns)
{
    TVekTokenParser P;
    P.SetTokenString("a ,b\r\n  c\n\nd");
    std::string Text;
    P.GetNextToken(Text);
    EXPECT_EQ(P.TokenLineOffset(), 1);
    P.GetNextToken(Text); // the comma keeps the column at which the call began
    EXPECT_EQ(Text, ",");
    EXPECT_EQ(P.TokenLineOffset(), 2);
    P.GetNextToken(Text);
    EXPECT_EQ(Text, "b");
    EXPECT_EQ(P.TokenLineOffset(), 4);
    P.GetNextToken(Text);
    EXPECT_EQ(Text, "c");
    EXPECT_EQ(P.LineNo(), 2);
    EXPECT_EQ(P.TokenLineOffset(), 3);
    P.GetNextToken(Text); // LF LF counts as one line break
    EXPECT_EQ(Text, "d");
    EXPECT_EQ(P.LineNo(), 3);

    // Literals are reported at their opening quote.
    P.SetTokenString("a =  'x' [y]");
    for (int I = 0; I < 3; ++I)
        P.GetNextToken(Text);
    EXPECT_EQ(Text, "x");
    EXPECT_EQ(P.TokenLineOffset(), 6);
    P.GetNextToken(Text);
    EXPECT_EQ(Text, "y");
    EXPECT_EQ(P.TokenLineOffset(), 10);
}

TEST(Tokenizer, FailedLookAheadKeepsTheTokensColumnAndRawText)
{
    TVekTokenParser P;
    P.SetTokenString("NOT   x");
    std::string Text;
    EXPECT_EQ(P.GetNextToken(Text), vstNot);
    EXPECT_EQ(P.TokenLineOffset(), 1);
    EXPECT_EQ(P.RawTokenText(), "NOT");
}

TEST(PreParser, SectionsAndParameters)
{
    TVekPreParser Pre;
    Pre.SetText("SELECT a FROM t WHERE b = :p AND c = :P");
    Pre.PreParseTokens();
    ASSERT_EQ(Pre.GetSectionCount(), 3);
    EXPECT_EQ(Pre.Stacks(0)->Section(), vstSelect);
    EXPECT_EQ(Pre.Stacks(1)->Section(), vstFrom);
    EXPECT_EQ(Pre.Stacks(2)->Section(), vstWhere);
    TParserStack* Where = Pre.GetSection(vstWhere);
    ASSERT_NE(Where, nullptr);
    std::vector<TVekSQLToken> Kinds;
    for (int I = 0; I < Where->Count(); ++I)
        Kinds.push_back(Where->PeekAt(I)->Token());
    EXPECT_EQ(Kinds, (std::vector<TVekSQLToken>{vstFieldName, vstCompOperator, vstParameter, vstFieldName,
                                                 vstAnd, vstFieldName, vstCompOperator, vstParameter,
                                                 vstFieldName, vstEnd}));
    TStringList Params;
    Pre.GetParamList(&Params);
    ASSERT_EQ(Params.Count(), 1);
    EXPECT_EQ(Params[0], "p");
}

TEST(PreParser, FromInsideWhereStaysInWhere)
{
    TVekPreParser Pre;
    Pre.SetText("SELECT EXTRACT(YEAR FROM d) FROM t");
    Pre.PreParseTokens();
    EXPECT_EQ(Pre.GetSectionCount(), 3); // SELECT, FROM (inside the list), FROM
    Pre.SetText("SELECT a FROM t WHERE EXTRACT(YEAR FROM d) = 2000");
    Pre.PreParseTokens();
    EXPECT_EQ(Pre.GetSectionCount(), 3);
    EXPECT_EQ(Pre.SQLStatementType(), vsSQLUnknown);
}

TEST(PreParser, SingleStackAndCompleteness)
{
    TVekPreParser Pre;
    Pre.SetParseSingleStack(true);
    Pre.SetText("SELECT a /* c */ FROM t;");
    Pre.PreParseTokens();
    EXPECT_EQ(Pre.SQLStatementType(), vsSQLSelect);
    TParserStack* Stack = Pre.GetSingleStack();
    ASSERT_NE(Stack, nullptr);
    EXPECT_EQ(Stack->Count(), 6); // SELECT a FROM t ; end
    Stack->SetCountTo(2);          // everything up to ";" consumed
    EXPECT_FALSE(Pre.CheckParseComplete());
    Stack->SetCountTo(1);
    EXPECT_TRUE(Pre.CheckParseComplete());

    // GetSection drops the tokens up to and including the section keyword.
    Pre.SetText("SELECT a FROM t WHERE x");
    Pre.PreParseTokens();
    TParserStack* Where = Pre.GetSection(vstWhere);
    EXPECT_EQ(Where->Peek()->Text(), "x");
    EXPECT_THROW(Pre.GetSection(vstAnd), EAssertionFailed);

    Pre.SetText("CREATE TABLE x (a int)");
    Pre.PreParseTokens();
    EXPECT_EQ(Pre.SQLStatementType(), vsSchemaManipulation);
}

TEST(PreParser, CopiesAndTrims)
{
    TVekPreParser Pre;
    Pre.SetText("SELECT a, b FROM t");
    Pre.PreParseTokens();
    TVekPreParser Copy;
    Copy.AssignStacks(&Pre);
    ASSERT_EQ(Copy.GetSectionCount(), 2);
    Copy.Stacks(0)->Pop();
    Copy.Stacks(0)->Pop();
    Pre.TrimStacks(&Copy);
    EXPECT_EQ(Pre.Stacks(0)->Peek()->Text(), "b");
    TVekPreParser Other;
    EXPECT_THROW(Pre.TrimStacks(&Other), EAssertionFailed);
}

// A copied pre-parse is what pre-parsing the same text gives.
TEST(PreParser, CopiedPreParseEqualsAFreshOne)
{
    const std::string Text = "UPDATE t SET c = 'x' -- y\n WHERE a IN (:p, 2) }";
    TVekPreParser Read;
    Read.SetParseSingleStack(true);
    Read.SetText(Text);
    Read.PreParseTokens();
    TVekPreParser Copied;
    Copied.AssignPreParse(&Read);
    EXPECT_EQ(Copied.Text(), Read.Text());
    EXPECT_TRUE(Copied.ParseSingleStack());
    EXPECT_EQ(Copied.SQLStatementType(), vsSQLUpdate);
    EXPECT_EQ(Copied.UnparsedText(), Read.UnparsedText());
    ASSERT_EQ(Copied.GetSingleStackCount(), Read.GetSingleStackCount());
    for (int I = 0; I < Read.GetSingleStackCount(); ++I) {
        const TParserToken* A = Read.GetSingleStack()->PeekAt(I);
        const TParserToken* B = Copied.GetSingleStack()->PeekAt(I);
        EXPECT_NE(A, B);
        EXPECT_EQ(B->Token(), A->Token());
        EXPECT_EQ(B->Text(), A->Text());
        EXPECT_EQ(B->RawTokenText(), A->RawTokenText());
        EXPECT_EQ(B->LineNo(), A->LineNo());
        EXPECT_EQ(B->LineOffset(), A->LineOffset());
        EXPECT_EQ(B->CustomOrdinal(), A->CustomOrdinal());
    }
}

TEST(BaseParser, FirstErrorWithPosition)
{
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText("a =\n    x");
    Pre.PreParseTokens();
    TBaseParser Parser;
    Parser.Execute(TVekParserOptions{}, Pre.GetSection(vstWhere));
    Parser.NextToken();
    Parser.NextToken();
    ASSERT_EQ(Parser.TokenName(), "x");
    Parser.SetError(Parser.CurrToken(), "Invalid token");
    Parser.SetError(nullptr, "second");
    EXPECT_EQ(Parser.GetErrorMsg(), "Invalid token Line 2, Character 5. Token 'x'");
    EXPECT_EQ(Parser.GetErrorMsgNoLine(), "Invalid token Character 5. Token 'x'");
    EXPECT_EQ(Parser.ParsedText(), "a =    x");
    Parser.NextToken();
    EXPECT_TRUE(Parser.AtEndToken());
}

} // namespace
} // namespace orvex
