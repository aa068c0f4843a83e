// The tokenizer and the name mappers.

#include "sql/vekBaseParser.h"

#include <cstring>

namespace orvex {

namespace {

bool IsBlank(char C) { return C == 9 || C == 10 || C == 13 || C == 32; }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }
bool IsQuote(char C) { return C == '"' || C == '#' || C == '\'' || C == '`' || C == '['; }

// The keywords that are one word and one token kind, beside those that need
// a look-ahead or a section (handled in GetSQLToken). Order matches the
// classification order; the first match wins.
struct TKeyword {
    const char* Word;
    TVekSQLToken Token;
};

constexpr TKeyword CSimpleKeywords1[] = {
    {"ALL", vstAll}, {"ASC", vstAscending}, {"ASCENDING", vstAscending},
    {"DESC", vstDescending}, {"DESCENDING", vstDescending}, {"SELECT", vstSelect},
    {"AND", vstAnd}, {"OR", vstOr}, {"LIKE", vstLike},
};

constexpr TKeyword CSimpleKeywords2[] = {
    {"FROM", vstFrom}, {"WHERE", vstWhere}, {"HAVING", vstHaving}, {"UNION", vstUnion},
    {"PLAN", vstPlan}, {"NULL", vstNull}, {"BETWEEN", vstBetween}, {"CASE", vstCase},
    {"AS", vstAS}, {"WHEN", vstWhen}, {"THEN", vstThen}, {"NULLIF", vstNullif},
    {"COALESCE", vstCoalesce}, {"JOIN", vstJoin}, {"INNER", vstInner}, {"OUTER", vstOuter},
    {"LEFT", vstLeft}, {"RIGHT", vstRight}, {"CROSS", vstCross}, {"NATURAL", vstNatural},
    {"FULL", vstFull}, {"CAST", vstCast},
};

constexpr TKeyword CSimpleKeywords3[] = {
    {"IN", vstIn}, {"FOR", vstFor}, {"||", vstConcatenate}, {"ON", vstOn}, {"USING", vstUsing},
    {"ESCAPE", vstEscape}, {"TRUE", vstTrue}, {"FALSE", vstFalse},
    // Type words.
    {"CHARACTER", vstChar}, {"CHAR", vstChar}, {"VARCHAR", vstVarChar}, {"INTEGER", vstInt},
    {"INT", vstInt}, {"AUTOINC", vstAutoInc}, {"SMALLINT", vstSmallInt}, {"DATE", vstDate},
    {"TIME", vstTime}, {"TIMESTAMP", vstTimeStamp}, {"DATETIME", vstTimeStamp},
    {"DECIMAL", vstDecimal}, {"NUMERIC", vstNumeric}, {"FLOAT", vstNumeric},
    {"BOOLEAN", vstBoolean}, {"MONEY", vstMoney}, {"BLOB", vstBlob},
    // Extract fields, the clock, quantifiers.
    {"EXTRACT", vstExtract}, {"YEAR", vstYear}, {"MONTH", vstMonth}, {"DAY", vstDay},
    {"HOUR", vstHour}, {"MINUTE", vstMinute}, {"SECOND", vstSecond},
    {"CURRENT_TIME", vstCurrentTime}, {"CURRENT_DATE", vstCurrentDate},
    {"CURRENT_TIMESTAMP", vstCurrentTimestamp}, {"EXISTS", vstExists}, {"ANY", vstAny},
    {"SOME", vstSome},
    // Statements.
    {"INTO", vstInto}, {"INSERT", vstInsert}, {"VALUES", vstValues}, {"DELETE", vstDelete},
    {"UPDATE", vstUpdate}, {"SET", vstSet}, {"CREATE", vstCreate}, {"TABLE", vstTable},
    {"ADD", vstAddWord}, {"DROP", vstDrop}, {"ALTER", vstAlter}, {"COLUMN", vstColumn},
    {"UNIQUE", vstUnique}, {"INDEX", vstIndex},
};

constexpr TKeyword CSimpleKeywords4[] = {
    {"TYPE", vstType}, {"TO", vstTo}, {"TEMPORARY", vstTemporary},
};

template <std::size_t N>
bool FindKeyword(const TKeyword (&List)[N], const std::string& Word, TVekSQLToken& Token)
{
    for (const TKeyword& K : List)
        if (SameText(Word, K.Word)) {
            Token = K.Token;
            return true;
        }
    return false;
}

} // namespace

// ================================================================ mappers

int TBaseMapper::IsMemberToken(const std::string& Word, const std::string& NextWord)
{
    FWordCount = 1;
    if (GetCustomOrdinal(Word, NextWord) > 0)
        return FWordCount;
    return 0;
}

TVekSQLAggFunc TAggFuncMapper::GetAggFuncType(const std::string& Word) const
{
    if (SameText(Word, "COUNT"))
        return vafCount;
    if (SameText(Word, "AVG"))
        return vafAvg;
    if (SameText(Word, "SUM"))
        return vafSum;
    if (SameText(Word, "MAX"))
        return vafMax;
    if (SameText(Word, "MIN"))
        return vafMin;
    return vafUnknown;
}

int TAggFuncMapper::GetCustomOrdinal(const std::string& Word, const std::string&)
{
    return GetAggFuncType(Word);
}

TFieldType TDataTypeMapper::GetDataType(const std::string& Word, const std::string& NextWord)
{
    if (SameText(Word, "CHARACTER") || SameText(Word, "CHAR") || SameText(Word, "VARCHAR"))
        return ftString;
    if (SameText(Word, "NUMERIC") || SameText(Word, "DECIMAL") || SameText(Word, "DEC"))
        return ftFloat;
    if (SameText(Word, "INTEGER") || SameText(Word, "INT"))
        return ftInteger;
    if (SameText(Word, "SMALLINT"))
        return ftSmallint;
    if (SameText(Word, "FLOAT") || SameText(Word, "REAL"))
        return ftFloat;
    if (SameText(Word, "DOUBLE") && SameText(NextWord, "PRECISION")) {
        FWordCount = 2;
        return ftFloat;
    }
    if (SameText(Word, "DOUBLE PRECISION"))
        return ftFloat;
    if (SameText(Word, "DATE"))
        return ftDate;
    if (SameText(Word, "TIME"))
        return ftTime;
    if (SameText(Word, "TIMESTAMP"))
        return ftDateTime;
    return ftUnknown;
}

int TDataTypeMapper::GetCustomOrdinal(const std::string& Word, const std::string& NextWord)
{
    return GetDataType(Word, NextWord);
}

TVekSQLStrFunc TStrFuncMapper::GetFuncType(const std::string& Word) const
{
    if (SameText(Word, "UPPER"))
        return vsfUpper;
    if (SameText(Word, "LOWER"))
        return vsfLower;
    if (SameText(Word, "SUBSTRING"))
        return vsfSubstring;
    if (SameText(Word, "TRIM"))
        return vsfTrim;
    return vsfUnknown;
}

int TStrFuncMapper::GetCustomOrdinal(const std::string& Word, const std::string&)
{
    return GetFuncType(Word);
}

// ============================================================== tokenizer

void TVekTokenParser::SetTokenString(const std::string& Text)
{
    FText = Text;
    // The text ends at its first NUL character, as a zero-terminated text.
    const std::size_t Nul = FText.find('\0');
    if (Nul != std::string::npos)
        FText.resize(Nul);
    Prepare();
}

void TVekTokenParser::Prepare()
{
    FCurrChar = 0;
    FLineNo = 1;
    FLineOffset = 1;
    FTokenLineOffset = 1;
    FLastToken = vstUnknown;
    FSection = vstUnknown;
    FQualified = false;
    FTokenStart = NoStart;
    FRawTokenText.clear();
}

TVekSQLToken TVekTokenParser::GetNextToken(std::string& Text)
{
    FTokenLineOffset = FLineOffset;
    FRawTokenText.clear();
    const TVekSQLToken Result = NextSQLToken(Text);
    FLastToken = Result;
    if (IsSectionToken(Result))
        FSection = Result;
    return Result;
}

void TVekTokenParser::StartToken()
{
    if (!WordUnderway())
        SetTokenStart(FCurrChar);
}

void TVekTokenParser::SetTokenStart(std::size_t P)
{
    FTokenStart = P;
    FTokenLineOffset = FLineOffset;
}

void TVekTokenParser::IncCurrChar()
{
    const char C = Curr();
    if (C == '\0')
        return;
    if (C != 13 && C != 10) {
        FRawTokenText += C;
        ++FLineOffset;
        ++FCurrChar;
        return;
    }
    ++FLineNo;
    FLineOffset = 1;
    ++FCurrChar;
    if (Curr() == 13 || Curr() == 10)
        ++FCurrChar;
}

std::string TVekTokenParser::GetUnparsedText() const
{
    if (FCurrChar >= FText.size())
        return std::string();
    return Trim(FText.substr(FCurrChar));
}

TVekSQLToken TVekTokenParser::FinishWord(std::string& Text)
{
    Text = FText.substr(FTokenStart, FCurrChar - FTokenStart);
    return GetSQLToken(Text);
}

// A quoted literal or name at the current character. Returns vstUnknown when
// the literal is not closed: the scan then goes on as for a word that began
// at the quote.
TVekSQLToken TVekTokenParser::ReadQuoted(std::string& Text)
{
    const std::size_t Open = FCurrChar;
    const char Quote = Curr();
    const char Close = Quote == '[' ? ']' : Quote;
    const bool Doubles = Quote == '\'' || Quote == '"';
    // State to return to when the literal is not closed.
    const Integer SavedLineNo = FLineNo;
    const Integer SavedLineOffset = FLineOffset;
    const std::size_t SavedRawSize = FRawTokenText.size();
    const Integer SavedTokenLineOffset = FTokenLineOffset;
    // The literal's column is its opening quote's.
    if (!WordUnderway())
        FTokenLineOffset = FLineOffset;

    IncCurrChar();
    std::string Literal;
    bool Closed = false;
    while (Curr() != '\0') {
        const char C = Curr();
        if (C == Close) {
            if (Doubles && CharAt(FCurrChar + 1) == Close) {
                Literal += C;
                IncCurrChar();
                IncCurrChar();
                continue;
            }
            IncCurrChar();
            Closed = true;
            break;
        }
        Literal += C;
        IncCurrChar();
    }
    if (!Closed) {
        FCurrChar = Open + 1;
        FLineNo = SavedLineNo;
        FLineOffset = SavedLineOffset + 1;
        FRawTokenText.resize(SavedRawSize);
        FRawTokenText += Quote;
        FTokenLineOffset = SavedTokenLineOffset;
        if (!WordUnderway()) {
            FTokenStart = Open;
            FTokenLineOffset = SavedLineOffset;
        }
        return vstUnknown;
    }
    if (Quote == '[') {
        // The characters between the brackets as they stand.
        Text = FText.substr(Open + 1, FCurrChar - Open - 2);
        return vstFieldName;
    }
    Text = Literal;
    if (FQualified)
        return vstFieldName;
    if (Curr() == '.')
        return vstTableName;
    return Quote == '\'' ? vstStringLiteral : vstValue;
}

TVekSQLToken TVekTokenParser::NextSQLToken(std::string& Text)
{
    FQualified = false;
    FTokenStart = NoStart;
    for (;;) {
        const char C = Curr();
        if (C == '\0') {
            if (WordUnderway())
                return FinishWord(Text);
            Text.clear();
            return vstEnd;
        }
        if (IsBlank(C)) {
            if (WordUnderway())
                return FinishWord(Text);
            while (IsBlank(Curr()))
                IncCurrChar();
            continue;
        }
        switch (C) {
        case ',':
        case '(':
        case ')':
        case ';':
            if (WordUnderway())
                return FinishWord(Text);
            Text.assign(1, C);
            IncCurrChar();
            return C == ',' ? vstComma : C == '(' ? vstLParen : C == ')' ? vstRParen : vstEnd;
        case '<':
        case '=':
        case '>':
            if (WordUnderway())
                return FinishWord(Text);
            StartToken();
            Text.clear();
            while (Curr() == '<' || Curr() == '=' || Curr() == '>') {
                Text += Curr();
                IncCurrChar();
            }
            return vstCompOperator;
        case '+':
        case '-':
            if (WordUnderway())
                return FinishWord(Text);
            StartToken();
            Text.assign(1, C);
            IncCurrChar();
            if (IsDigit(Curr()) || Curr() == '.') {
                while (IsDigit(Curr()) || Curr() == '.') {
                    Text += Curr();
                    IncCurrChar();
                }
                return vstNumber;
            }
            return C == '+' ? vstAdd : vstSub;
        case '*':
            if (WordUnderway())
                return FinishWord(Text);
            StartToken();
            Text = "*";
            IncCurrChar();
            return vstMult;
        case '/': {
            if (WordUnderway())
                return FinishWord(Text);
            StartToken();
            const std::size_t Start = FCurrChar;
            const char Following = CharAt(FCurrChar + 1);
            if (Following == '*') {
                IncCurrChar();
                IncCurrChar();
                while (Curr() != '\0' && !(Curr() == '*' && CharAt(FCurrChar + 1) == '/'))
                    IncCurrChar();
                if (Curr() != '\0') {
                    IncCurrChar();
                    IncCurrChar();
                }
                Text = FText.substr(Start, FCurrChar - Start);
                return vstComment;
            }
            if (Following == '/') {
                while (Curr() != '\0' && Curr() != 13 && Curr() != 10)
                    IncCurrChar();
                Text = FText.substr(Start, FCurrChar - Start);
                return vstComment;
            }
            IncCurrChar();
            Text = "/";
            return GetSQLToken(Text);
        }
        case '.':
            if (WordUnderway()) {
                Text = FText.substr(FTokenStart, FCurrChar - FTokenStart);
                return vstTableName;
            }
            if (IsDigit(CharAt(FCurrChar + 1))) {
                // ".5" is the number 0.5, not a qualifier before "5".
                StartToken();
                const std::size_t Start = FCurrChar;
                while (IsDigit(Curr()) || Curr() == '.')
                    IncCurrChar();
                Text = FText.substr(Start, FCurrChar - Start);
                return vstNumber;
            }
            FQualified = true;
            IncCurrChar();
            continue;
        case ':':
            if (WordUnderway()) {
                IncCurrChar();
                continue;
            }
            StartToken();
            Text = ":";
            IncCurrChar();
            return vstParameter;
        default:
            break;
        }
        if (IsQuote(C)) {
            const TVekSQLToken Kind = ReadQuoted(Text);
            if (Kind != vstUnknown)
                return Kind;
            continue; // not closed: a word that began at the quote
        }
        if (IsDigit(C) && !WordUnderway()) {
            StartToken();
            const std::size_t Start = FCurrChar;
            while (IsDigit(Curr()) || Curr() == '.')
                IncCurrChar();
            Text = FText.substr(Start, FCurrChar - Start);
            return vstNumber;
        }
        StartToken();
        IncCurrChar();
    }
}

TVekTokenParser::TScanState TVekTokenParser::SaveState() const
{
    return TScanState{FCurrChar,     FLineNo,     FLineOffset,       FLastToken,
                      FSection,      FQualified,  FTokenStart,       FTokenLineOffset,
                      FRawTokenText.size()};
}

void TVekTokenParser::RestoreState(const TScanState& State)
{
    FCurrChar = State.CurrChar;
    FLineNo = State.LineNo;
    FLineOffset = State.LineOffset;
    FLastToken = State.LastToken;
    FSection = State.Section;
    FQualified = State.Qualified;
    FTokenStart = State.TokenStart;
    // The column and raw text of the token being classified stay its own
    // when the look-ahead does not match.
    FTokenLineOffset = State.TokenLineOffset;
    FRawTokenText.resize(State.RawSize);
}

bool TVekTokenParser::NextTokenIs(const std::string& Word, std::string& Text)
{
    const TScanState Saved = SaveState();
    std::string Next;
    FLookingAhead = true;
    NextSQLToken(Next);
    FLookingAhead = false;
    if (SameText(Next, Word)) {
        Text += ' ';
        Text += Next;
        return true;
    }
    RestoreState(Saved);
    return false;
}

bool TVekTokenParser::IsMapperMember(TBaseMapper& Mapper, std::string& Text)
{
    // Through the tokenizer the next word is not offered, so only one-word
    // names match.
    return Mapper.IsMemberToken(Text, std::string()) > 0;
}

bool TVekTokenParser::IsAggFunc(std::string& Text)
{
    TAggFuncMapper Mapper;
    return IsMapperMember(Mapper, Text);
}

bool TVekTokenParser::IsDataType(std::string& Text)
{
    TDataTypeMapper Mapper;
    return IsMapperMember(Mapper, Text);
}

bool TVekTokenParser::IsStrFunc(std::string& Text)
{
    TStrFuncMapper Mapper;
    return IsMapperMember(Mapper, Text);
}

TVekSQLToken TVekTokenParser::GetSQLToken(std::string& Text)
{
    if (Text.empty())
        return vstEnd;
    if (Text == "*")
        return vstMult;
    if (Text == "/")
        return vstDiv;
    if (Text == ";")
        return vstEnd;
    if (FQualified)
        return vstFieldName;
    // A look-ahead only compares the next word's text; classifying it would
    // start look-aheads of its own (and nest once per word of "NOT NOT ...").
    if (FLookingAhead)
        return vstFieldName;

    TVekSQLToken Token;
    if (FSection == vstSelect && SameText(Text, "DISTINCT"))
        return vstDistinct;
    if (FindKeyword(CSimpleKeywords1, Text, Token))
        return Token;
    if (SameText(Text, "IS")) {
        if (NextTokenIs("NULL", Text))
            return vstIsNull;
        const TScanState AfterIs = SaveState();
        if (NextTokenIs("NOT", Text) && NextTokenIs("NULL", Text))
            return vstIsNotNull;
        // Back to just after "IS".
        RestoreState(AfterIs);
        Text = FText.substr(FTokenStart, FCurrChar - FTokenStart);
        return vstValue;
    }
    if (SameText(Text, "GROUP") && NextTokenIs("BY", Text))
        return vstGroupBy;
    if (SameText(Text, "FOR") && NextTokenIs("UPDATE", Text))
        return vstForUpdate;
    if (SameText(Text, "ORDER") && NextTokenIs("BY", Text))
        return vstOrderBy;
    if (FindKeyword(CSimpleKeywords2, Text, Token))
        return Token;
    if (SameText(Text, "NOT")) {
        if (NextTokenIs("LIKE", Text))
            return vstNotLike;
        if (NextTokenIs("BETWEEN", Text))
            return vstNotBetween;
        if (NextTokenIs("IN", Text))
            return vstNotIn;
        return vstNot;
    }
    if (FindKeyword(CSimpleKeywords3, Text, Token))
        return Token;
    if (SameText(Text, "PRIMARY") && NextTokenIs("KEY", Text))
        return vstPrimaryKey;
    if (FindKeyword(CSimpleKeywords4, Text, Token))
        return Token;
    if (IsAggFunc(Text))
        return vstAggFunc;
    if (IsDataType(Text))
        return vstDataType;
    if (IsStrFunc(Text))
        return vstStrFunc;
    return vstFieldName;
}

} // namespace orvex
