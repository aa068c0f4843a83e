// The tokenizer and the name mappers.

#include "sql/vekBaseParser.h"

#include <cstdint>
#include <string_view>

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

// The names the mappers know, with their ordinals.
template <typename T>
struct TMappedName {
    const char* Word;
    T Ordinal;
};

constexpr TMappedName<TVekSQLAggFunc> CAggFuncNames[] = {
    {"COUNT", vafCount}, {"AVG", vafAvg}, {"SUM", vafSum}, {"MAX", vafMax}, {"MIN", vafMin},
};

// "DOUBLE" names a type only when "PRECISION" follows (see GetDataType).
constexpr TMappedName<TFieldType> CDataTypeNames[] = {
    {"CHARACTER", ftString}, {"CHAR", ftString}, {"VARCHAR", ftString},
    {"NUMERIC", ftFloat}, {"DECIMAL", ftFloat}, {"DEC", ftFloat},
    {"INTEGER", ftInteger}, {"INT", ftInteger}, {"SMALLINT", ftSmallint},
    {"FLOAT", ftFloat}, {"REAL", ftFloat}, {"DOUBLE PRECISION", ftFloat},
    {"DATE", ftDate}, {"TIME", ftTime}, {"TIMESTAMP", ftDateTime},
};

constexpr TMappedName<TVekSQLStrFunc> CStrFuncNames[] = {
    {"UPPER", vsfUpper}, {"LOWER", vsfLower}, {"SUBSTRING", vsfSubstring}, {"TRIM", vsfTrim},
};

char AsciiUpper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }

// SameText without building a string of Name.
bool SameWord(const std::string& Word, std::string_view Name)
{
    if (Word.size() != Name.size())
        return false;
    for (std::size_t I = 0; I < Name.size(); ++I)
        if (AsciiUpper(Word[I]) != AsciiUpper(Name[I]))
            return false;
    return true;
}

template <typename T, std::size_t N>
T FindMappedName(const TMappedName<T> (&Names)[N], const std::string& Word, T Unknown)
{
    for (const TMappedName<T>& Name : Names)
        if (SameWord(Word, Name.Word))
            return Name.Ordinal;
    return Unknown;
}

// What GetSQLToken makes of a word, looked up once per word.
//
// A word may have a rule that needs the word after it (GROUP BY, IS NULL
// ...) and a class it falls back to when that word does not follow. The
// table is filled in the order GetSQLToken classifies words, and the first
// classification of a word wins, as in a chain of comparisons.
enum class TWordRule : std::uint8_t {
    None, Distinct, Is, GroupBy, ForUpdate, OrderBy, Not, PrimaryKey,
};
enum class TWordClass : std::uint8_t { None, Keyword, AggFunc, DataType, StrFunc };

struct TWordInfo {
    TWordRule Rule = TWordRule::None;
    TWordClass Class = TWordClass::None;
    TVekSQLToken Token = vstUnknown; // of a keyword
};

// The words as an open-addressed hash table over their upper-case ASCII
// spelling: comparing ignores ASCII case only, as SameText does.
class TWordTable {
public:
    TWordTable()
    {
        AddRule("DISTINCT", TWordRule::Distinct);
        AddKeywords(CSimpleKeywords1);
        AddRule("IS", TWordRule::Is);
        AddRule("GROUP", TWordRule::GroupBy);
        AddRule("FOR", TWordRule::ForUpdate);
        AddRule("ORDER", TWordRule::OrderBy);
        AddKeywords(CSimpleKeywords2);
        AddRule("NOT", TWordRule::Not);
        AddKeywords(CSimpleKeywords3);
        AddRule("PRIMARY", TWordRule::PrimaryKey);
        AddKeywords(CSimpleKeywords4);
        AddNames(CAggFuncNames, TWordClass::AggFunc);
        AddNames(CDataTypeNames, TWordClass::DataType);
        AddNames(CStrFuncNames, TWordClass::StrFunc);
    }

    // The word's entry; nullptr for a word that is none of these.
    const TWordInfo* Find(const std::string& Word) const
    {
        if (Word.empty() || Word.size() > MaxWordLength)
            return nullptr;
        char Upper[MaxWordLength];
        for (std::size_t I = 0; I < Word.size(); ++I)
            Upper[I] = AsciiUpper(Word[I]);
        const std::string_view Key(Upper, Word.size());
        for (std::size_t Slot = Hash(Key);; Slot = (Slot + 1) % SlotCount) {
            const TSlot& S = FSlots[Slot];
            if (S.Word.empty())
                return nullptr;
            if (S.Word == Key)
                return &S.Info;
        }
    }

private:
    static constexpr std::size_t MaxWordLength = 24;
    static constexpr std::size_t SlotCount = 512; // well over twice the words
    struct TSlot {
        std::string_view Word; // upper case; empty for a free slot
        TWordInfo Info;
    };

    static std::size_t Hash(std::string_view Key)
    {
        std::uint32_t H = 2166136261u; // FNV-1a
        for (const char C : Key)
            H = (H ^ static_cast<unsigned char>(C)) * 16777619u;
        return H % SlotCount;
    }

    // The entry of Word (written in upper case), made when missing.
    TWordInfo& Entry(std::string_view Word)
    {
        ORVEX_ASSERT(Word.size() <= MaxWordLength, "Keyword too long for the word table");
        std::size_t Slot = Hash(Word);
        while (!FSlots[Slot].Word.empty() && FSlots[Slot].Word != Word)
            Slot = (Slot + 1) % SlotCount;
        FSlots[Slot].Word = Word;
        return FSlots[Slot].Info;
    }
    void AddRule(const char* Word, TWordRule Rule)
    {
        TWordInfo& Info = Entry(Word);
        if (Info.Rule == TWordRule::None && Info.Class == TWordClass::None)
            Info.Rule = Rule;
    }
    void AddClass(const char* Word, TWordClass Class, TVekSQLToken Token)
    {
        TWordInfo& Info = Entry(Word);
        if (Info.Class == TWordClass::None) {
            Info.Class = Class;
            Info.Token = Token;
        }
    }
    template <std::size_t N>
    void AddKeywords(const TKeyword (&List)[N])
    {
        for (const TKeyword& K : List)
            AddClass(K.Word, TWordClass::Keyword, K.Token);
    }
    template <typename T, std::size_t N>
    void AddNames(const TMappedName<T> (&Names)[N], TWordClass Class)
    {
        for (const TMappedName<T>& Name : Names)
            AddClass(Name.Word, Class, vstUnknown);
    }

    TSlot FSlots[SlotCount];
};

const TWordTable& Words()
{
    static const TWordTable Table;
    return Table;
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
    return FindMappedName(CAggFuncNames, Word, vafUnknown);
}

int TAggFuncMapper::GetCustomOrdinal(const std::string& Word, const std::string&)
{
    return GetAggFuncType(Word);
}

TFieldType TDataTypeMapper::GetDataType(const std::string& Word, const std::string& NextWord)
{
    if (SameWord(Word, "DOUBLE") && SameWord(NextWord, "PRECISION")) {
        FWordCount = 2;
        return ftFloat;
    }
    return FindMappedName(CDataTypeNames, Word, ftUnknown);
}

int TDataTypeMapper::GetCustomOrdinal(const std::string& Word, const std::string& NextWord)
{
    return GetDataType(Word, NextWord);
}

TVekSQLStrFunc TStrFuncMapper::GetFuncType(const std::string& Word) const
{
    return FindMappedName(CStrFuncNames, Word, vsfUnknown);
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
    Text.assign(FText, FTokenStart, FCurrChar - FTokenStart);
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

bool TVekTokenParser::NextTokenIs(std::string_view Word, std::string& Text)
{
    const TScanState Saved = SaveState();
    std::string Next;
    FLookingAhead = true;
    NextSQLToken(Next);
    FLookingAhead = false;
    if (SameWord(Next, Word)) {
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

    const TWordInfo* Word = Words().Find(Text);
    if (!Word)
        return vstFieldName;
    switch (Word->Rule) {
    case TWordRule::None:
        break;
    case TWordRule::Distinct:
        if (FSection == vstSelect)
            return vstDistinct;
        break;
    case TWordRule::Is: {
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
    case TWordRule::GroupBy:
        if (NextTokenIs("BY", Text))
            return vstGroupBy;
        break;
    case TWordRule::ForUpdate:
        if (NextTokenIs("UPDATE", Text))
            return vstForUpdate;
        break;
    case TWordRule::OrderBy:
        if (NextTokenIs("BY", Text))
            return vstOrderBy;
        break;
    case TWordRule::Not:
        if (NextTokenIs("LIKE", Text))
            return vstNotLike;
        if (NextTokenIs("BETWEEN", Text))
            return vstNotBetween;
        if (NextTokenIs("IN", Text))
            return vstNotIn;
        return vstNot;
    case TWordRule::PrimaryKey:
        if (NextTokenIs("KEY", Text))
            return vstPrimaryKey;
        break;
    }
    switch (Word->Class) {
    case TWordClass::Keyword:
        return Word->Token;
    case TWordClass::AggFunc:
        return vstAggFunc;
    case TWordClass::DataType:
        return vstDataType;
    case TWordClass::StrFunc:
        return vstStrFunc;
    case TWordClass::None:
        break;
    }
    return vstFieldName;
}

} // namespace orvex
