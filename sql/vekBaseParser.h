#pragma once
// The tokenizer and the base of every parser.
//
// TVekTokenParser turns SQL text (or a dataset filter) into tokens: keywords
// (with a look-ahead for the compound keywords GROUP BY, ORDER BY, FOR
// UPDATE, NOT LIKE, NOT BETWEEN, NOT IN, PRIMARY KEY, IS NULL, IS NOT NULL),
// quoted literals and names, numbers, operators, parameters and comments,
// counting lines and columns. It is the only code that looks at characters.
//
// TBaseParser consumes the tokens of one clause from a TParserStack. It keeps
// the options, the tokens at which the clause ends, and the first error only,
// with the token at which it was found; parsers never raise for bad input.

#include "sql/vekParserUtils.h"

#include <functional>
#include <string>
#include <string_view>

namespace orvex {

// ============================================================== mappers

// Names matched by a list rather than a keyword of their own. All
// comparisons ignore case.
class TBaseMapper : public TObject {
public:
    // WordCount (1) when Word is a member, else 0.
    virtual int IsMemberToken(const std::string& Word, const std::string& NextWord);
    // The member's ordinal, 0 when none.
    virtual int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) = 0;
    int WordCount() const { return FWordCount; }

protected:
    int FWordCount = 0;
};

class TAggFuncMapper : public TBaseMapper {
public:
    TVekSQLAggFunc GetAggFuncType(const std::string& Word) const;
    int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) override;
};

class TDataTypeMapper : public TBaseMapper {
public:
    TFieldType GetDataType(const std::string& Word, const std::string& NextWord);
    int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) override;
};

class TStrFuncMapper : public TBaseMapper {
public:
    TVekSQLStrFunc GetFuncType(const std::string& Word) const;
    int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) override;
};

// ============================================================ tokenizer

class TVekTokenParser : public TObject {
public:
    void SetTokenString(const std::string& Text);
    void Prepare();
    // The pre-parser's call: one token, its kind kept as LastToken (and as
    // Section for a section token).
    TVekSQLToken GetNextToken(std::string& Text);
    TVekSQLToken NextSQLToken(std::string& Text);
    TVekSQLToken GetSQLToken(std::string& Text);
    // Reads one token; when its text is Word (ignoring case) appends a blank
    // and it to Text and answers true, else restores the state.
    bool NextTokenIs(std::string_view Word, std::string& Text);
    bool IsAggFunc(std::string& Text);
    bool IsDataType(std::string& Text);
    bool IsStrFunc(std::string& Text);
    void StartToken();
    void SetTokenStart(std::size_t P);
    void IncCurrChar();
    // The rest of the text from the current character, trimmed.
    std::string GetUnparsedText() const;

    Integer LineNo() const { return FLineNo; }
    Integer LineOffset() const { return FLineOffset; }
    Integer TokenLineOffset() const { return FTokenLineOffset; }
    TVekSQLToken LastToken() const { return FLastToken; }
    TVekSQLToken Section() const { return FSection; }
    bool Qualified() const { return FQualified; }
    const std::string& RawTokenText() const { return FRawTokenText; }

private:
    static constexpr std::size_t NoStart = static_cast<std::size_t>(-1);
    // The character at P; NUL at and beyond the end of the text.
    char CharAt(std::size_t P) const { return P < FText.size() ? FText[P] : '\0'; }
    char Curr() const { return CharAt(FCurrChar); }
    bool WordUnderway() const { return FTokenStart != NoStart; }
    TVekSQLToken FinishWord(std::string& Text);
    TVekSQLToken ReadQuoted(std::string& Text);
    bool IsMapperMember(TBaseMapper& Mapper, std::string& Text);
    struct TScanState {
        std::size_t CurrChar;
        Integer LineNo;
        Integer LineOffset;
        TVekSQLToken LastToken;
        TVekSQLToken Section;
        bool Qualified;
        std::size_t TokenStart;
        Integer TokenLineOffset;
        std::size_t RawSize;
    };
    TScanState SaveState() const;
    void RestoreState(const TScanState& State);

    std::string FText;
    std::size_t FCurrChar = 0;
    Integer FLineNo = 1;
    Integer FLineOffset = 1;
    Integer FTokenLineOffset = 1;
    TVekSQLToken FLastToken = vstUnknown;
    TVekSQLToken FSection = vstUnknown;
    bool FQualified = false;
    std::size_t FTokenStart = NoStart;
    std::string FRawTokenText;
    bool FLookingAhead = false;
};

// ========================================================== parser base

enum TVekParserOption : std::uint8_t {
    vpoExtSyntax, vpoAggregate, vpoDefaultExpr, vpoSQL, vpoParameters, vpoExtractAggFuncExprText,
    vpoSubqueries,
};
inline constexpr int TVekParserOptionCount = vpoSubqueries + 1;
using TVekParserOptions = TEnumSet<TVekParserOption, TVekParserOptionCount>;

enum TParserNotifyType : std::uint8_t { pntUnknown, pntSubquery, pntFindTableRef, pntSelectUnion };

class TBaseParser;
// Raised where a parser needs its owner (the parser engine) to parse a
// subquery, resolve an outer table reference or parse a UNION part.
using TParserNotifyEvent = std::function<void(TParserNotifyType NotifyType, TBaseParser* Parser,
                                              TParserStack* ParserStack, TVekExprNode* Node,
                                              Variant& NotifyData)>;

// The deepest nesting of parentheses, subqueries and operators a parser
// accepts; deeper input is refused with SvekExprTooDeep.
inline constexpr int MaxParserNesting = 256;
inline constexpr const char* SvekExprTooDeep = "Expression is nested too deeply";

class TBaseParser : public TObject {
public:
    // Forgets the stack, options, current token, error and parsed text.
    virtual void Clear();
    // Keeps both; takes the first token when there is no current one.
    virtual void Execute(TVekParserOptions Options, TParserStack* Stack);

    void NextToken();
    TVekSQLToken CurrentTokenType() const { return FCurrToken ? FCurrToken->Token() : vstUnknown; }
    std::string TokenName() const { return FCurrToken ? FCurrToken->Text() : std::string(); }
    bool TokenSymbolIs(const std::string& S) const;
    // The kind of the I-th token after the current one (0 = the next).
    TVekSQLToken PeekAtTokenType(int I) const;
    bool NextTokenIsLParen() const { return PeekAtTokenType(0) == vstLParen; }
    bool AtEndToken() const;

    void SetEndTokens(const TVekSQLTokens& Value) { FEndTokens = Value; }
    const TVekSQLTokens& EndTokens() const { return FEndTokens; }
    void SetIsSubquery(bool Value) { FIsSubquery = Value; }
    bool IsSubquery() const { return FIsSubquery; }
    void SetParserNotifyEvent(TParserNotifyEvent Event) { FOnParserNotify = std::move(Event); }
    const TParserNotifyEvent& OnParserNotify() const { return FOnParserNotify; }

    // Records Msg at Token unless an error is recorded already.
    void SetError(const TParserToken* Token, const std::string& Msg);
    // Steps past the current token when it is Type; otherwise records Msg
    // at the current token. False on error.
    bool TakeToken(TVekSQLToken Type, const std::string& Msg);
    void ClearError();
    bool HasParseError() const { return !FErrorMsg.empty(); }
    // The message with " Line %d, Character %d. Token '%s'" appended.
    std::string GetErrorMsg() const;
    // The message with " Character %d. Token '%s'" appended.
    std::string GetErrorMsgNoLine() const;
    const std::string& ErrorMsg() const { return FErrorMsg; }
    const TParserToken* ErrorToken() const { return FErrorToken.get(); }

    void RemoveCurrentTokenFromParsedText();
    // Takes Other's current token as its own and adds it to ParsedText.
    void SyncCurrToken(const TBaseParser* Other);

    TParserStack* Stack() const { return FStack; }
    TVekParserOptions Options() const { return FOptions; }
    void SetOptions(TVekParserOptions Value) { FOptions = Value; }
    TParserToken* CurrToken() const { return FCurrToken; }
    // Makes Token the current one without touching ParsedText (for parsers
    // that share one stack).
    void SetCurrToken(TParserToken* Token) { FCurrToken = Token; }
    const std::string& ParsedText() const { return FParsedText; }
    void SetParsedText(const std::string& Value) { FParsedText = Value; }

protected:
    TParserStack* FStack = nullptr;
    TVekParserOptions FOptions;
    TParserToken* FCurrToken = nullptr;
    std::string FErrorMsg;
    std::unique_ptr<TParserToken> FErrorToken;
    std::string FParsedText;
    TVekSQLTokens FEndTokens{vstEnd};
    bool FIsSubquery = false;
    TParserNotifyEvent FOnParserNotify;
};

} // namespace orvex
