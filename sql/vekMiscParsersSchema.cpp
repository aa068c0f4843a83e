#include "sql/vekMiscParsersSchema.h"

#include "host/DBDefs.h"
#include "host/SysUtils.h"

namespace orvex {

namespace {

inline constexpr const char* SvekSchemaIncorrectlyTerminated = "Update statement incorrectly terminated";

// A name is written as a word or in double quotes, brackets or grave accents.
bool IsNameToken(const TParserToken* Token)
{
    return Token && (Token->Token() == vstFieldName || Token->Token() == vstValue);
}

// Whether Name names the primary index ("primary", any case).
bool IsPrimaryName(const std::string& Name)
{
    return AnsiSameText(Name, "primary");
}

} // namespace

TVekSchemaManipulationParser::TVekSchemaManipulationParser()
    : FAddedFields(std::make_unique<TInternalFields>()), FDroppedFields(std::make_unique<TInternalFields>()),
      FAlteredFields(std::make_unique<TInternalFields>()), FIndexFields(std::make_unique<TStringList>())
{
    FIndexFields->OwnsObjects = true;
    FEndTokens = TVekSQLTokens{vstUnknown, vstEnd};
}

TVekSchemaManipulationParser::~TVekSchemaManipulationParser() = default;

void TVekSchemaManipulationParser::Clear()
{
    TBaseParser::Clear();
    FColumnTokens.clear();
    FAddedFields->Clear();
    FDroppedFields->Clear();
    FAlteredFields->Clear();
    FIndexFields->Clear();
    FIndexOptions = 0;
    FOperation = ddUnknown;
    FTemporaryTable = false;
    FTableName.clear();
    FIndexName.clear();
}

void TVekSchemaManipulationParser::Execute(TVekParserOptions Options, TParserStack* Stack)
{
    FColumnTokens.clear();
    FAddedFields->Clear();
    FDroppedFields->Clear();
    FAlteredFields->Clear();
    FIndexFields->Clear();
    FIndexOptions = 0;
    FOperation = ddUnknown;
    FTemporaryTable = false;
    FTableName.clear();
    FIndexName.clear();
    TBaseParser::Execute(Options, Stack);
    switch (CurrentTokenType()) {
    case vstCreate:
        ParseCreate();
        break;
    case vstAlter:
        ParseAlter();
        break;
    case vstDrop:
        ParseDrop();
        break;
    default:
        SetError(FCurrToken, SvekInvalidToken);
        break;
    }
    if (!HasParseError() && FCurrToken && !AtEndToken())
        SetError(FCurrToken, SvekSchemaIncorrectlyTerminated);
}

bool TVekSchemaManipulationParser::TakeName(std::string& Name, const TParserToken** Token)
{
    if (!IsNameToken(FCurrToken)) {
        SetError(FCurrToken, SvekInvalidToken);
        return false;
    }
    Name = TokenName();
    if (Token)
        *Token = FCurrToken;
    NextToken();
    return true;
}

bool TVekSchemaManipulationParser::TakeTemporary()
{
    if (CurrentTokenType() != vstTemporary)
        return false;
    NextToken();
    return true;
}

bool TVekSchemaManipulationParser::TakeTableName()
{
    FTemporaryTable = TakeTemporary();
    return TakeName(FTableName);
}

void TVekSchemaManipulationParser::KeepToken(const TCollectionItem* Item, const TParserToken* Token)
{
    auto copy = std::make_unique<TParserToken>();
    copy->AssignToken(Token);
    FColumnTokens[Item] = std::move(copy);
}

const TParserToken* TVekSchemaManipulationParser::ColumnToken(const TCollectionItem* Item) const
{
    const auto found = FColumnTokens.find(Item);
    return found == FColumnTokens.end() ? nullptr : found->second.get();
}

// CREATE TABLE [TEMPORARY] name (columns [PRIMARY KEY (columns)])
// CREATE [UNIQUE] [ASC | DESC] INDEX name ON [TEMPORARY] table (columns)
void TVekSchemaManipulationParser::ParseCreate()
{
    NextToken();
    if (CurrentTokenType() == vstTable) {
        NextToken();
        if (!TakeTableName())
            return;
        FOperation = ddCreateTable;
        ParseColumnDefinitions();
        return;
    }
    if (CurrentTokenType() == vstUnique) {
        FIndexOptions |= ixUnique;
        NextToken();
    }
    if (CurrentTokenType() == vstAscending) {
        NextToken();
    } else if (CurrentTokenType() == vstDescending) {
        FIndexOptions |= ixDescending;
        NextToken();
    }
    if (!TakeToken(vstIndex, SvekInvalidCreateStatement))
        return;
    if (!TakeName(FIndexName))
        return;
    if (!TakeToken(vstOn, SvekMissingOnToken))
        return;
    if (!TakeTableName())
        return;
    FOperation = ddCreateIndex;
    ParseIndexColumns();
}

void TVekSchemaManipulationParser::ParseAlter()
{
    NextToken();
    if (!TakeToken(vstTable, SvekInvalidAlterTableStatement))
        return;
    if (!TakeTableName())
        return;
    FOperation = ddAlterTable;
    ParseAlterColumns();
}

// DROP TABLE [TEMPORARY] name | DROP INDEX [TEMPORARY] table index
void TVekSchemaManipulationParser::ParseDrop()
{
    NextToken();
    if (CurrentTokenType() == vstTable) {
        NextToken();
        if (!TakeTableName())
            return;
        FOperation = ddDropTable;
        return;
    }
    if (CurrentTokenType() == vstIndex) {
        NextToken();
        if (!TakeTableName())
            return;
        std::string index;
        if (!TakeName(index))
            return;
        if (IsPrimaryName(index))
            FIndexOptions |= ixPrimary;
        else
            FIndexName = index;
        FOperation = ddDropIndex;
        return;
    }
    SetError(FCurrToken, SvekInvalidDropStatement);
}

// "(" name type {"," name type} [PRIMARY KEY "(" columns ")"] ")"
void TVekSchemaManipulationParser::ParseColumnDefinitions()
{
    if (!TakeToken(vstLParen, SvekLParenMissing))
        return;
    for (;;) {
        if (CurrentTokenType() == vstComma || CurrentTokenType() == vstRParen) {
            SetError(FCurrToken, SvekMissingColumnSpecifier);
            return;
        }
        if (CurrentTokenType() == vstPrimaryKey)
            break;
        const TParserToken* nameToken = nullptr;
        std::string name;
        if (!TakeName(name, &nameToken))
            return;
        if (!ParseColumnDataDefinition(nameToken, FAddedFields.get()))
            return;
        if (CurrentTokenType() != vstComma)
            break;
        NextToken();
    }
    if (CurrentTokenType() == vstPrimaryKey) {
        ParsePrimaryIndexDefinition();
        if (HasParseError())
            return;
    }
    if (!TakeToken(vstRParen, SvekRParenMissing))
        return;
}

void TVekSchemaManipulationParser::ParsePrimaryIndexDefinition()
{
    NextToken();
    FIndexOptions |= ixPrimary;
    ParseIndexColumns();
}

// The type of the column named by NameToken, read by a data-type parser on
// this stack (AUTOINC allowed, NOT NULL accepted); a new item of Fields.
TInternalFieldItem* TVekSchemaManipulationParser::ParseColumnDataDefinition(const TParserToken* NameToken,
                                                                            TInternalFields* Fields)
{
    TVekDataTypeParser parser;
    parser.SetCurrToken(FCurrToken);
    parser.Execute(FOptions, FStack);
    parser.SetInvalidDataTypes(TVekSQLTokens{});
    parser.SetAllowConstraints(true);
    parser.ParseDataType();
    FCurrToken = parser.CurrToken();
    if (parser.HasParseError()) {
        // The message alone: the position is added once, from the token.
        SetError(parser.ErrorToken(), parser.ErrorMsg());
        return nullptr;
    }
    TInternalFieldItem* item = Fields->Add();
    item->SetFieldName(NameToken->Text());
    item->SetDataType(parser.DataType());
    item->SetFieldSize(parser.FieldSize());
    if (parser.Scale() >= 0)
        item->SetNumDecimalPlaces(parser.Scale());
    item->SetRequired(parser.NotNull());
    KeepToken(item, NameToken);
    return item;
}

// action {"," action}: ADD [COLUMN] name type, DROP [COLUMN] name,
// ALTER [COLUMN] name TO new-name, ALTER [COLUMN] name TYPE type.
void TVekSchemaManipulationParser::ParseAlterColumns()
{
    for (;;) {
        if (CurrentTokenType() == vstComma) {
            SetError(FCurrToken, SvekMissingColumnSpecifier);
            return;
        }
        const TVekSQLToken action = CurrentTokenType();
        if (action != vstAddWord && action != vstDrop && action != vstAlter) {
            SetError(FCurrToken, SvekInvalidToken);
            return;
        }
        NextToken();
        if (CurrentTokenType() == vstColumn)
            NextToken();
        const TParserToken* nameToken = nullptr;
        std::string name;
        if (!TakeName(name, &nameToken))
            return;
        if (action == vstAddWord) {
            if (!ParseColumnDataDefinition(nameToken, FAddedFields.get()))
                return;
        } else if (action == vstDrop) {
            TInternalFieldItem* item = FDroppedFields->Add();
            item->SetFieldName(name);
            KeepToken(item, nameToken);
        } else if (CurrentTokenType() == vstTo) {
            NextToken();
            std::string newName;
            if (!TakeName(newName))
                return;
            TInternalFieldItem* item = FAlteredFields->Add();
            item->SetSourceField(name);
            item->SetFieldName(newName);
            item->SetFieldGeneratorID(aoAlterName);
            KeepToken(item, nameToken);
        } else if (CurrentTokenType() == vstType) {
            NextToken();
            TInternalFieldItem* item = ParseColumnDataDefinition(nameToken, FAlteredFields.get());
            if (!item)
                return;
            item->SetFieldGeneratorID(aoAlterType);
        } else {
            SetError(FCurrToken, SvekInvalidToken);
            return;
        }
        if (CurrentTokenType() != vstComma)
            return;
        NextToken();
    }
}

// "(" name {"," name} ")"; "()" is accepted here and refused by validation.
void TVekSchemaManipulationParser::ParseIndexColumns()
{
    if (!TakeToken(vstLParen, SvekLParenMissing))
        return;
    if (CurrentTokenType() != vstRParen) {
        for (;;) {
            if (CurrentTokenType() == vstComma || CurrentTokenType() == vstRParen) {
                SetError(FCurrToken, SvekMissingColumnSpecifier);
                return;
            }
            const TParserToken* token = nullptr;
            std::string name;
            if (!TakeName(name, &token))
                return;
            auto* copy = new TParserToken();
            copy->AssignToken(token);
            FIndexFields->AddObject(name, copy);
            if (CurrentTokenType() != vstComma)
                break;
            NextToken();
        }
    }
    if (!TakeToken(vstRParen, SvekRParenMissing))
        return;
}

std::string TVekSchemaManipulationParser::GetIndexFieldsAsText() const
{
    std::string text;
    for (int i = 0; i < FIndexFields->Count(); ++i) {
        if (i > 0)
            text += ';';
        text += FIndexFields->Get(i);
    }
    return text;
}

// ------------------------------------------------------------- validation

void TVekSchemaManipulationParser::SetColumnError(const TInternalFieldItem* Item, const char* Msg,
                                                  const std::string& Name)
{
    SetError(ColumnToken(Item), std::string(Msg) + " : " + Name);
}

bool TVekSchemaManipulationParser::CheckAddedFields(TInternalFields* Fields)
{
    for (int i = 0; i < FAddedFields->Count(); ++i) {
        const TInternalFieldItem* item = FAddedFields->GetIndex(i);
        if (Fields->FindField(item->FieldName())) {
            SetColumnError(item, SvekDuplicateField, item->FieldName());
            return false;
        }
    }
    return true;
}

bool TVekSchemaManipulationParser::CheckDroppedFields(TInternalFields* Fields)
{
    for (int i = 0; i < FDroppedFields->Count(); ++i) {
        const TInternalFieldItem* item = FDroppedFields->GetIndex(i);
        if (!Fields->FindField(item->FieldName())) {
            SetColumnError(item, SvekFieldNotFound, item->FieldName());
            return false;
        }
    }
    return true;
}

bool TVekSchemaManipulationParser::CheckAlteredFields(TInternalFields* Fields)
{
    for (int i = 0; i < FAlteredFields->Count(); ++i) {
        const TInternalFieldItem* item = FAlteredFields->GetIndex(i);
        if (item->FieldGeneratorID() == aoAlterName) {
            if (Fields->FindField(item->FieldName())) {
                SetColumnError(item, SvekDuplicateField, item->FieldName());
                return false;
            }
            if (!Fields->FindField(item->SourceField())) {
                SetColumnError(item, SvekFieldNotFound, item->SourceField());
                return false;
            }
        } else if (!Fields->FindField(item->FieldName())) {
            SetColumnError(item, SvekFieldNotFound, item->FieldName());
            return false;
        }
    }
    return true;
}

bool TVekSchemaManipulationParser::CheckIndexFields(TInternalFields* Fields)
{
    if (FIndexFields->Count() == 0) {
        SetError(nullptr, SvekNoIndexColumnsSpecified);
        return false;
    }
    for (int i = 0; i < FIndexFields->Count(); ++i) {
        const std::string name = FIndexFields->Get(i);
        if (!Fields || !Fields->FindField(name)) {
            SetError(static_cast<TParserToken*>(FIndexFields->Objects(i)), std::string(SvekFieldNotFound) + " : " + name);
            return false;
        }
    }
    return true;
}

bool TVekSchemaManipulationParser::CheckIndexExists(TIndexDefs* IndexDefs, bool ReportIfFound)
{
    bool found = false;
    for (int i = 0; i < IndexDefs->Count() && !found; ++i) {
        const TIndexDef* def = IndexDefs->Items(i);
        if (!FIndexName.empty())
            found = AnsiSameText(def->Name(), FIndexName);
        else if ((FIndexOptions & ixPrimary) != 0)
            found = def->Name().empty() || (def->Options() & ixPrimary) != 0;
    }
    if (found && ReportIfFound)
        SetError(nullptr, SvekDuplicateIndex);
    if (!found && !ReportIfFound)
        SetError(nullptr, SvekIndexNotFound);
    return found;
}

bool TVekSchemaManipulationParser::ValidateTableChanges(TInternalFields* Fields, TIndexDefs* IndexDefs)
{
    switch (FOperation) {
    case ddAlterTable:
        if (Fields && CheckAddedFields(Fields) && CheckDroppedFields(Fields))
            CheckAlteredFields(Fields);
        break;
    case ddCreateIndex:
        ORVEX_ASSERT(IndexDefs != nullptr, "IndexDefs = nil in ValidateTableChanges");
        if (CheckIndexFields(Fields))
            CheckIndexExists(IndexDefs, true);
        break;
    case ddDropIndex:
        ORVEX_ASSERT(IndexDefs != nullptr, "IndexDefs = nil in ValidateTableChanges");
        CheckIndexExists(IndexDefs, false);
        break;
    default:
        break;
    }
    return !HasParseError();
}

// ------------------------------------------------------- applying a change

void TVekSchemaManipulationParser::SetRestructureFieldDefs(TRestructureFieldDefs* Defs)
{
    if (FOperation != ddAlterTable)
        return;
    for (int i = 0; i < FDroppedFields->Count(); ++i)
        if (TRestructureFieldDef* def = Defs->Find(FDroppedFields->GetIndex(i)->FieldName()))
            Defs->DeleteItem(def->Index());
    for (int i = 0; i < FAddedFields->Count(); ++i) {
        const TInternalFieldItem* item = FAddedFields->GetIndex(i);
        TRestructureFieldDef* def = Defs->AddAndSetFieldDef(item->FieldName(), item->DataType(), item->FieldSize());
        def->SetPrecision(item->NumDecimalPlaces());
        def->SetRequired(item->Required());
    }
    for (int i = 0; i < FAlteredFields->Count(); ++i) {
        const TInternalFieldItem* item = FAlteredFields->GetIndex(i);
        const bool rename = item->FieldGeneratorID() == aoAlterName;
        TRestructureFieldDef* def = Defs->Find(rename ? item->SourceField() : item->FieldName());
        if (!def)
            continue;
        def->SetName(item->FieldName());
        if (rename) {
            def->SetSourceFieldName(item->SourceField());
        } else {
            def->SetDataType(item->DataType());
            def->SetSize(item->FieldSize());
            def->SetPrecision(item->NumDecimalPlaces());
            def->SetRequired(item->Required());
        }
    }
}

void TVekSchemaManipulationParser::SetRestructureIndexDefs(TRestructureIndexDefs* Defs)
{
    switch (FOperation) {
    case ddDropIndex: {
        TRestructureIndexDef* def = Defs->Find(FIndexName);
        if (!def && FIndexName.empty())
            for (int i = 0; i < Defs->Count() && !def; ++i)
                if ((Defs->Items(i)->Options() & ixPrimary) != 0)
                    def = Defs->Items(i);
        if (def)
            Defs->DeleteItem(def->Index());
        break;
    }
    case ddCreateIndex: {
        TRestructureIndexDef* def = Defs->AddIndexDef();
        def->SetOptions(FIndexOptions);
        def->SetName(FIndexName);
        def->SetFields(GetIndexFieldsAsText());
        break;
    }
    case ddAlterTable:
        for (int i = 0; i < FAlteredFields->Count(); ++i) {
            const TInternalFieldItem* item = FAlteredFields->GetIndex(i);
            if (item->FieldGeneratorID() == aoAlterName)
                Defs->ReplaceFieldName(item->SourceField(), item->FieldName());
        }
        break;
    default:
        break;
    }
}

} // namespace orvex
