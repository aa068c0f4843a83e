// Tokens, token stacks and the pre-parser.

#include "sql/vekBaseParser.h"
#include "sql/vekParserUtils.h"

namespace orvex {

void TParserToken::AssignToken(const TParserToken* Source)
{
    if (!Source || Source == this)
        return;
    FLineOffset = Source->FLineOffset;
    FLineNo = Source->FLineNo;
    FToken = Source->FToken;
    FSection = Source->FSection;
    FText = Source->FText;
    FCustomOrdinal = Source->FCustomOrdinal;
    FRawTokenText = Source->FRawTokenText;
}

// ================================================================= stacks

TParserToken* TParserStack::Pop()
{
    if (FItems.empty())
        return nullptr;
    TParserToken* Top = FItems.back();
    FItems.pop_back();
    return Top;
}

TParserToken* TParserStack::PeekAt(int I) const
{
    if (I < 0 || I >= Count())
        return nullptr;
    return FItems[FItems.size() - 1 - static_cast<std::size_t>(I)];
}

void TParserStack::SetCountTo(int N)
{
    if (N < 0)
        N = 0;
    if (N < Count())
        FItems.resize(static_cast<std::size_t>(N));
}

void TParserStack::CopyStack(const TParserStack* Source,
                             std::vector<std::unique_ptr<TParserToken>>& Owner)
{
    Clear();
    if (!Source)
        return;
    for (TParserToken* Token : Source->FItems) {
        auto Copy = std::make_unique<TParserToken>();
        Copy->AssignToken(Token);
        FItems.push_back(Copy.get());
        Owner.push_back(std::move(Copy));
    }
}

bool IsSectionToken(TVekSQLToken Token)
{
    return (Token >= vstSelect && Token <= vstForUpdate) || Token == vstInsert ||
           Token == vstDelete || Token == vstUpdate;
}

// ============================================================= pre-parser

TVekPreParser::TVekPreParser() = default;

TVekPreParser::~TVekPreParser()
{
    Clear();
    FOwnedTokens.clear();
}

void TVekPreParser::SetText(const std::string& Text)
{
    Clear();
    FText = Text;
}

void TVekPreParser::Clear()
{
    FStacks.clear();
}

TParserToken* TVekPreParser::NewToken(const TVekTokenParser& Tokenizer, TVekSQLToken Kind,
                                      const std::string& Text, TVekSQLToken Section)
{
    FOwnedTokens.push_back(std::make_unique<TParserToken>());
    TParserToken* Token = FOwnedTokens.back().get();
    Token->SetToken(Kind);
    Token->SetSection(Section);
    Token->SetText(Text);
    Token->SetLineNo(Tokenizer.LineNo());
    Token->SetLineOffset(Tokenizer.TokenLineOffset());
    Token->SetRawTokenText(Tokenizer.RawTokenText());
    return Token;
}

TVekSQLStatementType TVekPreParser::StatementTypeOf(TVekSQLToken Token)
{
    switch (Token) {
    case vstSelect:
        return vsSQLSelect;
    case vstInsert:
        return vsSQLInsert;
    case vstDelete:
        return vsSQLDelete;
    case vstUpdate:
        return vsSQLUpdate;
    case vstCreate:
    case vstDrop:
    case vstAlter:
        return vsSchemaManipulation;
    default:
        return vsSQLUnknown;
    }
}

void TVekPreParser::PreParseTokens()
{
    Clear();
    if (FParseSingleStack)
        InternalParseSingleStack();
    else
        InternalParse();
    InternalPostProcessTokens();
}

TParserStack* TVekPreParser::AddStack(TVekSQLToken Section)
{
    FStacks.push_back(std::make_unique<TParserStack>());
    TParserStack* Stack = FStacks.back().get();
    Stack->SetSection(Section);
    return Stack;
}

void TVekPreParser::QueueToken(TParserStack* Stack, const TVekTokenParser& Tokenizer, TVekSQLToken Kind,
                               const std::string& Text, TVekSQLToken Section, bool& First)
{
    Stack->Queue(NewToken(Tokenizer, Kind, Text, Section));
    if (First) {
        FSQLStatementType = StatementTypeOf(Kind);
        First = false;
    }
}

void TVekPreParser::EndParse(const TVekTokenParser& Tokenizer)
{
    if (FParseAsExprOnly)
        FSQLStatementType = vsSQLExprOnly;
    FUnparsedText = Tokenizer.GetUnparsedText();
}

void TVekPreParser::InternalParse()
{
    TVekTokenParser Tokenizer;
    Tokenizer.SetTokenString(FText);
    TParserStack* Current = FParseAsExprOnly ? AddStack(vstWhere) : nullptr;
    bool First = true;
    FSQLStatementType = vsSQLUnknown;
    std::string Text;
    for (;;) {
        const TVekSQLToken Kind = Tokenizer.GetNextToken(Text);
        const bool Final = Kind == vstEnd && Text.empty();
        if (!FParseAsExprOnly && IsSectionToken(Kind) &&
            !(Kind == vstFrom && Current && Current->Section() == vstWhere)) {
            Current = AddStack(Kind);
        } else if (Current) {
            QueueToken(Current, Tokenizer, Kind, Text, Current->Section(), First);
        }
        if (Final)
            break;
    }
    EndParse(Tokenizer);
}

void TVekPreParser::InternalParseSingleStack()
{
    TVekTokenParser Tokenizer;
    Tokenizer.SetTokenString(FText);
    TParserStack* Stack = AddStack(vstUnknown);
    bool First = true;
    FSQLStatementType = vsSQLUnknown;
    std::string Text;
    for (;;) {
        const TVekSQLToken Kind = Tokenizer.GetNextToken(Text);
        const bool Final = Kind == vstEnd && Text.empty();
        if (Kind != vstComment)
            QueueToken(Stack, Tokenizer, Kind, Text, vstSelect, First);
        if (Final)
            break;
    }
    EndParse(Tokenizer);
}

void TVekPreParser::InternalPostProcessTokens()
{
    TAggFuncMapper AggFuncs;
    TDataTypeMapper DataTypes;
    TStrFuncMapper StrFuncs;
    for (const auto& Token : FOwnedTokens) {
        switch (Token->Token()) {
        case vstAggFunc:
            Token->SetCustomOrdinal(AggFuncs.GetCustomOrdinal(Token->Text(), std::string()));
            break;
        case vstDataType:
            Token->SetCustomOrdinal(DataTypes.GetCustomOrdinal(Token->Text(), std::string()));
            break;
        case vstStrFunc:
            Token->SetCustomOrdinal(StrFuncs.GetCustomOrdinal(Token->Text(), std::string()));
            break;
        default:
            break;
        }
    }
}

TParserStack* TVekPreParser::GetSection(TVekSQLToken Section, const TParserToken* Token)
{
    ORVEX_ASSERT(IsSectionToken(Section), "Invalid section request in GetSection");
    if (FParseSingleStack && FStacks.size() == 1) {
        TParserStack* Stack = FStacks.front().get();
        const TParserToken* Top = Stack->Peek();
        const bool AtSection = (Top && Top->Token() == Section) || (Token && Token->Token() == Section);
        if (!AtSection) {
            while (TParserToken* Dropped = Stack->Pop())
                if (Dropped->Token() == Section)
                    break;
        }
        return Stack;
    }
    for (auto It = FStacks.rbegin(); It != FStacks.rend(); ++It)
        if ((*It)->Section() == Section)
            return It->get();
    return nullptr;
}

TParserStack* TVekPreParser::GetSingleStack()
{
    ORVEX_ASSERT(FParseSingleStack, "Cannot get single stack - not parsed as single stack");
    return FStacks.empty() ? nullptr : FStacks.front().get();
}

int TVekPreParser::GetSingleStackCount() const
{
    if (!FParseSingleStack || FStacks.size() != 1)
        return 0;
    return FStacks.front()->Count();
}

void TVekPreParser::SetSingleStackCountTo(int N)
{
    if (FParseSingleStack && FStacks.size() == 1)
        FStacks.front()->SetCountTo(N);
}

void TVekPreParser::GetParamList(TStrings* List) const
{
    if (!List)
        return;
    std::vector<std::string> Seen;
    for (const auto& Stack : FStacks) {
        for (int I = 0; I + 1 < Stack->Count(); ++I) {
            const TParserToken* Token = Stack->PeekAt(I);
            if (Token->Token() != vstParameter)
                continue;
            const std::string& Name = Stack->PeekAt(I + 1)->Text();
            bool Known = false;
            for (const std::string& S : Seen)
                if (AnsiSameText(S, Name)) {
                    Known = true;
                    break;
                }
            if (!Known) {
                Seen.push_back(Name);
                List->Add(Name);
            }
        }
    }
}

bool TVekPreParser::CheckParseComplete() const
{
    if (!FUnparsedText.empty())
        return false;
    for (const auto& Stack : FStacks)
        for (const TParserToken* Token : Stack->Items())
            if (Token->Token() != vstComment && !(Token->Token() == vstEnd && Token->Text().empty()))
                return false;
    return true;
}

void TVekPreParser::AssignStacks(const TVekPreParser* Source)
{
    Clear();
    if (!Source)
        return;
    for (const auto& Stack : Source->FStacks) {
        auto Copy = std::make_unique<TParserStack>();
        Copy->SetSection(Stack->Section());
        Copy->CopyStack(Stack.get(), FOwnedTokens);
        FStacks.push_back(std::move(Copy));
    }
}

void TVekPreParser::AssignPreParse(const TVekPreParser* Source)
{
    SetText(Source->FText);
    FParseAsExprOnly = Source->FParseAsExprOnly;
    FParseSingleStack = Source->FParseSingleStack;
    FSQLStatementType = Source->FSQLStatementType;
    FUnparsedText = Source->FUnparsedText;
    AssignStacks(Source);
}

void TVekPreParser::TrimStacks(const TVekPreParser* Other)
{
    ORVEX_ASSERT(Other && Other->FStacks.size() == FStacks.size(), "Stack list counts do not match");
    for (std::size_t I = 0; I < FStacks.size(); ++I)
        FStacks[I]->SetCountTo(Other->FStacks[I]->Count());
}

} // namespace orvex
