// The base of every parser: token consumption and the first-error rule.

#include "sql/vekBaseParser.h"

namespace orvex {

void TBaseParser::Clear()
{
    FStack = nullptr;
    FOptions.Clear();
    FCurrToken = nullptr;
    FErrorMsg.clear();
    FErrorToken.reset();
    FParsedText.clear();
}

void TBaseParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    FOptions = Options;
    FStack = Stack;
    if (FCurrToken == nullptr)
        NextToken();
}

void TBaseParser::NextToken()
{
    FCurrToken = FStack ? FStack->Pop() : nullptr;
    if (FCurrToken)
        FParsedText += FCurrToken->RawTokenText();
}

bool TBaseParser::TokenSymbolIs(const std::string& S) const
{
    return FCurrToken && SameText(FCurrToken->Text(), S);
}

TVekSQLToken TBaseParser::PeekAtTokenType(int I) const
{
    const TParserToken* Token = FStack ? FStack->PeekAt(I) : nullptr;
    return Token ? Token->Token() : vstUnknown;
}

bool TBaseParser::AtEndToken() const
{
    // The stack has run out when there is no current token left.
    if (FCurrToken == nullptr)
        return true;
    const TVekSQLToken Kind = FCurrToken->Token();
    return FEndTokens.Contains(Kind) || Kind == vstUnknown || Kind == vstEnd ||
           (FIsSubquery && Kind == vstRParen);
}

bool TBaseParser::TakeToken(TVekSQLToken Type, const std::string& Msg)
{
    if (CurrentTokenType() != Type) {
        SetError(FCurrToken, Msg);
        return false;
    }
    NextToken();
    return true;
}

void TBaseParser::SetError(const TParserToken* Token, const std::string& Msg)
{
    if (HasParseError())
        return;
    // An empty message still counts as an error.
    FErrorMsg = Msg.empty() ? std::string(SvekInvalidToken) : Msg;
    FErrorToken.reset();
    if (Token) {
        FErrorToken = std::make_unique<TParserToken>();
        FErrorToken->AssignToken(Token);
    }
}

void TBaseParser::ClearError()
{
    FErrorMsg.clear();
    FErrorToken.reset();
}

std::string TBaseParser::GetErrorMsg() const
{
    if (!FErrorToken)
        return FErrorMsg;
    return FErrorMsg + Format(" Line %d, Character %d. Token '%s'",
                              {FErrorToken->LineNo(), FErrorToken->LineOffset(), FErrorToken->Text()});
}

std::string TBaseParser::GetErrorMsgNoLine() const
{
    if (!FErrorToken)
        return FErrorMsg;
    return FErrorMsg +
           Format(" Character %d. Token '%s'", {FErrorToken->LineOffset(), FErrorToken->Text()});
}

void TBaseParser::RemoveCurrentTokenFromParsedText()
{
    if (!FCurrToken)
        return;
    const std::string& Raw = FCurrToken->RawTokenText();
    if (Raw.size() <= FParsedText.size() &&
        FParsedText.compare(FParsedText.size() - Raw.size(), Raw.size(), Raw) == 0)
        FParsedText.resize(FParsedText.size() - Raw.size());
}

void TBaseParser::SyncCurrToken(const TBaseParser* Other)
{
    FCurrToken = Other ? Other->CurrToken() : nullptr;
    if (FCurrToken)
        FParsedText += ' ' + FCurrToken->RawTokenText();
}

} // namespace orvex
