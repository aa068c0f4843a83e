#include "host/Streaming.h"

#include "host/FloatText.h"
#include "host/SysUtils.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace orvex {

// ------------------------------------------------------------- TPropertyList

TPropertyInfo& TPropertyList::Add(std::string Name, TPropertyKind Kind)
{
    TPropertyInfo& info = FItems.emplace_back();
    info.Name = std::move(Name);
    info.Kind = Kind;
    return info;
}

void TPropertyList::AddOrdinal(std::string Name, TPropertyKind Kind, Int64 MinValue, Int64 MaxValue,
                               std::function<Int64()> Get, std::function<void(Int64)> Set)
{
    TPropertyInfo& info = Add(std::move(Name), Kind);
    info.MinValue = MinValue;
    info.MaxValue = MaxValue;
    info.GetOrdinal = std::move(Get);
    info.SetOrdinal = std::move(Set);
}

void TPropertyList::AddInteger(std::string Name, std::function<Integer()> Get, std::function<void(Integer)> Set)
{
    AddOrdinal(
        std::move(Name), pkInteger, std::numeric_limits<Integer>::min(), std::numeric_limits<Integer>::max(),
        [Get = std::move(Get)] { return Int64{Get()}; },
        [Set = std::move(Set)](Int64 Value) { Set(static_cast<Integer>(Value)); });
}

void TPropertyList::AddCardinal(std::string Name, std::function<Cardinal()> Get, std::function<void(Cardinal)> Set)
{
    AddOrdinal(
        std::move(Name), pkInteger, 0, std::numeric_limits<Cardinal>::max(),
        [Get = std::move(Get)] { return Int64{Get()}; },
        [Set = std::move(Set)](Int64 Value) { Set(static_cast<Cardinal>(Value)); });
}

void TPropertyList::AddInt64(std::string Name, std::function<Int64()> Get, std::function<void(Int64)> Set)
{
    AddOrdinal(std::move(Name), pkInteger, std::numeric_limits<Int64>::min(), std::numeric_limits<Int64>::max(),
               std::move(Get), std::move(Set));
}

void TPropertyList::AddString(std::string Name, std::function<std::string()> Get,
                              std::function<void(const std::string&)> Set)
{
    TPropertyInfo& info = Add(std::move(Name), pkString);
    info.GetString = std::move(Get);
    info.SetString = std::move(Set);
}

void TPropertyList::AddBoolean(std::string Name, std::function<bool()> Get, std::function<void(bool)> Set)
{
    AddOrdinal(
        std::move(Name), pkBoolean, 0, 1, [Get = std::move(Get)] { return Int64{Get() ? 1 : 0}; },
        [Set = std::move(Set)](Int64 Value) { Set(Value != 0); });
}

void TPropertyList::AddEnumeration(std::string Name, std::vector<std::string> ValueNames, std::function<int()> Get,
                                   std::function<void(int)> Set)
{
    const auto count = static_cast<Int64>(ValueNames.size());
    AddOrdinal(
        std::move(Name), pkEnumeration, 0, count - 1, [Get = std::move(Get)] { return Int64{Get()}; },
        [Set = std::move(Set)](Int64 Value) { Set(static_cast<int>(Value)); });
    FItems.back().ValueNames = std::move(ValueNames);
}

void TPropertyList::AddSet(std::string Name, std::vector<std::string> ElementNames,
                           std::function<std::uint32_t()> Get, std::function<void(std::uint32_t)> Set)
{
    ORVEX_ASSERT(ElementNames.size() <= 32, "A set property holds at most 32 elements");
    const Int64 all = (Int64{1} << ElementNames.size()) - 1;
    AddOrdinal(
        std::move(Name), pkSet, 0, all, [Get = std::move(Get)] { return Int64{Get()}; },
        [Set = std::move(Set)](Int64 Value) { Set(static_cast<std::uint32_t>(Value)); });
    FItems.back().ValueNames = std::move(ElementNames);
}

void TPropertyList::AddFloat(std::string Name, std::function<double()> Get, std::function<void(double)> Set)
{
    TPropertyInfo& info = Add(std::move(Name), pkFloat);
    info.GetFloat = std::move(Get);
    info.SetFloat = std::move(Set);
}

void TPropertyList::AddCollection(std::string Name, TCollection* Collection)
{
    Add(std::move(Name), pkCollection).Object = Collection;
}

void TPropertyList::AddPersistent(std::string Name, TPersistent* Object)
{
    Add(std::move(Name), pkPersistent).Object = Object;
}

const TPropertyInfo* TPropertyList::Find(std::string_view Name) const
{
    for (const TPropertyInfo& info : FItems)
        if (SameText(info.Name, std::string(Name)))
            return &info;
    return nullptr;
}

namespace {

constexpr std::string_view LineEnd = "\r\n";
// Bytes of a string value per line before it is continued with " +".
constexpr std::size_t StringChunk = 64;

TPropertyList PropertiesOf(TPersistent* Object)
{
    TPropertyList list;
    Object->PublishProperties(list);
    return list;
}

std::string RootDisplayName(TComponent* Instance)
{
    return Instance->Name().empty() ? Instance->ClassName() : Instance->Name();
}

// ------------------------------------------------------------------- writing

// Printable ASCII in quotes (a quote doubled), every other byte as #nnn.
std::string QuoteBytes(std::string_view Bytes)
{
    std::string out;
    bool quoted = false;
    for (const char ch : Bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 32 && byte <= 126) {
            if (!quoted)
                out += '\'';
            quoted = true;
            out += ch;
            if (ch == '\'')
                out += '\'';
        } else {
            if (quoted)
                out += '\'';
            quoted = false;
            out += '#';
            out += std::to_string(byte);
        }
    }
    if (quoted)
        out += '\'';
    return out.empty() ? "''" : out;
}

std::string FloatToText(double Value)
{
    std::string special = floattext::Special(Value);
    if (!special.empty())
        return special;
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
    std::string text(buffer, result.ptr);
    for (char& ch : text)
        if (ch == 'e')
            ch = 'E';
    return text;
}

class TTextWriter {
public:
    std::string Write(TComponent* Instance)
    {
        const std::string& name = Instance->Name();
        Line(0, "object " + (name.empty() ? std::string() : name + ": ") + Instance->ClassName());
        WriteProperties(Instance, 1, "");
        Line(0, "end");
        return std::move(FText);
    }

private:
    void Line(int Level, std::string_view Text)
    {
        FText.append(static_cast<std::size_t>(Level) * 2, ' ');
        FText += Text;
        FText += LineEnd;
    }

    void WriteProperties(TPersistent* Object, int Level, const std::string& Prefix)
    {
        const TPropertyList list = PropertiesOf(Object);
        for (int i = 0; i < list.Count(); ++i)
            WriteProperty(list[i], Level, Prefix + list[i].Name);
    }

    void WriteProperty(const TPropertyInfo& Info, int Level, const std::string& Name)
    {
        switch (Info.Kind) {
        case pkInteger:
            Line(Level, Name + " = " + std::to_string(Info.GetOrdinal()));
            break;
        case pkBoolean:
            Line(Level, Name + (Info.GetOrdinal() != 0 ? " = True" : " = False"));
            break;
        case pkEnumeration: {
            const Int64 ordinal = Info.GetOrdinal();
            ORVEX_ASSERT(ordinal >= 0 && ordinal < static_cast<Int64>(Info.ValueNames.size()),
                         "Enumeration value out of range: " + Name);
            Line(Level, Name + " = " + Info.ValueNames[static_cast<std::size_t>(ordinal)]);
            break;
        }
        case pkSet: {
            const Int64 mask = Info.GetOrdinal();
            std::string text;
            for (std::size_t i = 0; i < Info.ValueNames.size(); ++i)
                if ((mask >> i) & 1)
                    text += (text.empty() ? "" : ", ") + Info.ValueNames[i];
            Line(Level, Name + " = [" + text + "]");
            break;
        }
        case pkFloat:
            Line(Level, Name + " = " + FloatToText(Info.GetFloat()));
            break;
        case pkString:
            WriteString(Level, Name, Info.GetString());
            break;
        case pkCollection:
            WriteCollection(Level, Name, static_cast<TCollection*>(Info.Object));
            break;
        case pkPersistent:
            if (Info.Object != nullptr)
                WriteProperties(Info.Object, Level, Name + ".");
            break;
        }
    }

    void WriteString(int Level, const std::string& Name, const std::string& Value)
    {
        if (Value.size() <= StringChunk) {
            Line(Level, Name + " = " + QuoteBytes(Value));
            return;
        }
        Line(Level, Name + " =");
        for (std::size_t pos = 0; pos < Value.size(); pos += StringChunk) {
            const bool last = pos + StringChunk >= Value.size();
            Line(Level + 1, QuoteBytes(std::string_view(Value).substr(pos, StringChunk)) + (last ? "" : " +"));
        }
    }

    void WriteCollection(int Level, const std::string& Name, TCollection* Collection)
    {
        if (Collection == nullptr || Collection->Count() == 0) {
            Line(Level, Name + " = <>");
            return;
        }
        Line(Level, Name + " = <");
        for (int i = 0; i < Collection->Count(); ++i) {
            Line(Level + 1, "item");
            WriteProperties(Collection->Items(i), Level + 2, "");
            Line(Level + 1, i + 1 == Collection->Count() ? "end>" : "end");
        }
    }

    std::string FText;
};

// ------------------------------------------------------------------- parsing

enum TTokenKind { tkEnd, tkSymbol, tkString, tkNumber, tkChar };

struct TToken {
    TTokenKind Kind = tkEnd;
    std::string Text; // the symbol, the string's bytes, the number as written, the character
    int Line = 1;
};

[[noreturn]] void SyntaxError(const std::string& Message, int Line)
{
    throw EParserError(Message + " on line " + std::to_string(Line));
}

bool IsLetter(char Ch)
{
    return (Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z') || Ch == '_';
}

bool IsDigit(char Ch)
{
    return Ch >= '0' && Ch <= '9';
}

// Splits the text into tokens. A string token joins adjacent quoted runs and
// #nnn (or #$hh) bytes; the " +" between string tokens is left to the parser.
class TLexer {
public:
    explicit TLexer(std::string_view Text) : FText(Text) {}

    std::vector<TToken> Tokens()
    {
        std::vector<TToken> tokens;
        for (;;) {
            SkipBlanks();
            TToken token;
            token.Line = FLine;
            if (FPos >= FText.size()) {
                tokens.push_back(token);
                return tokens;
            }
            const char ch = FText[FPos];
            if (IsLetter(ch)) {
                token.Kind = tkSymbol;
                while (FPos < FText.size() && (IsLetter(FText[FPos]) || IsDigit(FText[FPos]) || FText[FPos] == '.'))
                    token.Text += FText[FPos++];
            } else if (ch == '\'' || ch == '#') {
                token.Kind = tkString;
                token.Text = StringToken();
            } else if (IsDigit(ch) || (ch == '-' && FPos + 1 < FText.size() && IsDigit(FText[FPos + 1]))) {
                token.Kind = tkNumber;
                token.Text = NumberToken();
            } else if (std::string_view("=<>[],:+-(){}").find(ch) != std::string_view::npos) {
                token.Kind = tkChar;
                token.Text = std::string(1, ch);
                ++FPos;
            } else {
                SyntaxError("Invalid character #" + std::to_string(static_cast<unsigned char>(ch)), FLine);
            }
            tokens.push_back(std::move(token));
        }
    }

private:
    void SkipBlanks()
    {
        while (FPos < FText.size()) {
            const char ch = FText[FPos];
            if (ch == '\n' || (ch == '\r' && (FPos + 1 == FText.size() || FText[FPos + 1] != '\n')))
                ++FLine;
            else if (ch != ' ' && ch != '\t' && ch != '\r')
                return;
            ++FPos;
        }
    }

    std::string StringToken()
    {
        std::string bytes;
        while (FPos < FText.size() && (FText[FPos] == '\'' || FText[FPos] == '#')) {
            if (FText[FPos] == '\'') {
                ++FPos;
                for (;;) {
                    if (FPos >= FText.size() || FText[FPos] == '\r' || FText[FPos] == '\n')
                        SyntaxError("Unterminated string", FLine);
                    if (FText[FPos] == '\'') {
                        if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
                            bytes += '\'';
                            FPos += 2;
                            continue;
                        }
                        ++FPos;
                        break;
                    }
                    bytes += FText[FPos++];
                }
            } else {
                ++FPos;
                const bool hex = FPos < FText.size() && FText[FPos] == '$';
                if (hex)
                    ++FPos;
                const char* first = FText.data() + FPos;
                const char* last = FText.data() + FText.size();
                unsigned value = 0;
                const auto result = std::from_chars(first, last, value, hex ? 16 : 10);
                if (result.ptr == first)
                    SyntaxError("Character code expected after #", FLine);
                if (result.ec != std::errc() || value > 255)
                    SyntaxError("Character code out of range", FLine);
                FPos += static_cast<std::size_t>(result.ptr - first);
                bytes += static_cast<char>(value);
            }
        }
        return bytes;
    }

    // [-]digits[.digits][E[+|-]digits]
    std::string NumberToken()
    {
        const std::size_t start = FPos;
        if (FText[FPos] == '-')
            ++FPos;
        SkipDigits();
        if (FPos + 1 < FText.size() && FText[FPos] == '.' && IsDigit(FText[FPos + 1])) {
            ++FPos;
            SkipDigits();
        }
        if (FPos < FText.size() && (FText[FPos] == 'E' || FText[FPos] == 'e')) {
            std::size_t pos = FPos + 1;
            if (pos < FText.size() && (FText[pos] == '+' || FText[pos] == '-'))
                ++pos;
            if (pos >= FText.size() || !IsDigit(FText[pos]))
                SyntaxError("Invalid number", FLine);
            FPos = pos;
            SkipDigits();
        }
        if (FPos < FText.size() && (IsLetter(FText[FPos]) || FText[FPos] == '.'))
            SyntaxError("Invalid number", FLine);
        return std::string(FText.substr(start, FPos - start));
    }

    void SkipDigits()
    {
        while (FPos < FText.size() && IsDigit(FText[FPos]))
            ++FPos;
    }

    std::string_view FText;
    std::size_t FPos = 0;
    int FLine = 1;
};

// The parsed text, before anything is set.
struct TTextProperty;
using TTextProperties = std::vector<TTextProperty>;

enum TValueKind { vkString, vkNumber, vkSymbol, vkSet, vkCollection };

struct TTextProperty {
    std::string Name; // dotted for a nested persistent's property
    int Line = 0;
    TValueKind Kind = vkSymbol;
    std::string Text;                  // vkString bytes; vkNumber, vkSymbol as written ("-INF" too)
    std::vector<std::string> Elements; // vkSet
    std::vector<TTextProperties> Items; // vkCollection
};

struct TTextObject {
    std::string Name;
    TTextProperties Properties;
};

class TParser {
public:
    explicit TParser(std::string_view Text) : FTokens(TLexer(Text).Tokens()) {}

    TTextObject ParseObject()
    {
        TTextObject object;
        if (IsSymbol("inherited") || IsSymbol("inline"))
            SyntaxError("Inherited forms are not supported", Current().Line);
        ExpectSymbol("object");
        std::string name = SymbolText("Class name");
        if (IsChar(':')) {
            Next();
            object.Name = std::move(name);
            SymbolText("Class name");
        }
        object.Properties = ParseProperties();
        Next(); // end
        if (Current().Kind != tkEnd)
            SyntaxError("End of text expected", Current().Line);
        return object;
    }

private:
    const TToken& Current() const { return FTokens[FPos]; }
    void Next()
    {
        if (FPos + 1 < FTokens.size())
            ++FPos;
    }
    bool IsSymbol(std::string_view Word) const
    {
        return Current().Kind == tkSymbol && SameText(Current().Text, std::string(Word));
    }
    bool IsChar(char Ch) const { return Current().Kind == tkChar && Current().Text[0] == Ch; }

    [[noreturn]] void Expected(const std::string& What) const
    {
        const TToken& token = Current();
        std::string found = token.Kind == tkEnd ? "end of text" : "'" + token.Text + "'";
        if (token.Kind == tkString)
            found = "a string";
        SyntaxError(What + " expected but " + found + " found", token.Line);
    }
    void ExpectSymbol(std::string_view Word)
    {
        if (!IsSymbol(Word))
            Expected("'" + std::string(Word) + "'");
        Next();
    }
    void ExpectChar(char Ch)
    {
        if (!IsChar(Ch))
            Expected("'" + std::string(1, Ch) + "'");
        Next();
    }
    std::string SymbolText(const std::string& What)
    {
        if (Current().Kind != tkSymbol)
            Expected(What);
        std::string text = Current().Text;
        Next();
        return text;
    }

    // Properties up to, not including, the closing "end".
    TTextProperties ParseProperties()
    {
        TTextProperties properties;
        while (!IsSymbol("end")) {
            if (IsSymbol("object") || IsSymbol("inherited") || IsSymbol("inline"))
                SyntaxError("Nested components are not supported", Current().Line);
            TTextProperty property;
            property.Line = Current().Line;
            property.Name = SymbolText("Property name");
            ExpectChar('=');
            ParseValue(property);
            properties.push_back(std::move(property));
        }
        return properties;
    }

    void ParseValue(TTextProperty& Property)
    {
        const TToken& token = Current();
        switch (token.Kind) {
        case tkString:
            Property.Kind = vkString;
            Property.Text = token.Text;
            Next();
            while (IsChar('+')) {
                Next();
                if (Current().Kind != tkString)
                    Expected("String");
                Property.Text += Current().Text;
                Next();
            }
            return;
        case tkNumber:
        case tkSymbol:
            if (IsSymbol("end"))
                Expected("Property value");
            Property.Kind = token.Kind == tkNumber ? vkNumber : vkSymbol;
            Property.Text = token.Text;
            Next();
            return;
        case tkChar:
            break;
        case tkEnd:
            Expected("Property value");
        }
        if (IsChar('-')) { // -INF, -NAN
            Next();
            Property.Kind = vkSymbol;
            Property.Text = "-" + SymbolText("Number");
        } else if (IsChar('[')) {
            Next();
            Property.Kind = vkSet;
            while (!IsChar(']')) {
                if (!Property.Elements.empty())
                    ExpectChar(',');
                Property.Elements.push_back(SymbolText("Set element"));
            }
            Next();
        } else if (IsChar('<')) {
            Next();
            Property.Kind = vkCollection;
            while (!IsChar('>')) {
                ExpectSymbol("item");
                Property.Items.push_back(ParseProperties());
                Next(); // end
            }
            Next();
        } else if (IsChar('(') || IsChar('{')) {
            SyntaxError("Lists and binary values are not supported", token.Line);
        } else {
            Expected("Property value");
        }
    }

    std::vector<TToken> FTokens;
    std::size_t FPos = 0;
};

// ------------------------------------------------------------------- binding

// Sets the parsed properties on the objects, by their published properties.
class TBinder {
public:
    explicit TBinder(std::string RootName) : FRootName(std::move(RootName)) {}

    void SetProperties(TPersistent* Object, const TTextProperties& Properties, const std::string& Path)
    {
        const TPropertyList list = PropertiesOf(Object);
        for (const TTextProperty& property : Properties)
            SetProperty(list, property, Path);
    }

private:
    // Follows a dotted name through nested persistents to its property.
    void SetProperty(const TPropertyList& List, const TTextProperty& Property, const std::string& Path)
    {
        const std::string& name = Property.Name;
        const std::size_t dot = name.find('.');
        const TPropertyInfo* info = List.Find(std::string_view(name).substr(0, dot));
        if (dot == std::string::npos) {
            if (info == nullptr)
                Fail(Property, Path, "property does not exist");
            SetValue(*info, Property, Path);
            return;
        }
        if (info == nullptr || info->Kind != pkPersistent || info->Object == nullptr)
            Fail(Property, Path, "property " + name.substr(0, dot) + " does not exist or has no properties");
        TTextProperty rest = Property;
        rest.Name = name.substr(dot + 1);
        SetProperty(PropertiesOf(info->Object), rest, Path + name.substr(0, dot + 1));
    }

    void SetValue(const TPropertyInfo& Info, const TTextProperty& Property, const std::string& Path)
    {
        switch (Info.Kind) {
        case pkInteger:
            Info.SetOrdinal(IntegerValue(Info, Property, Path));
            break;
        case pkBoolean:
            if (Property.Kind == vkSymbol && SameText(Property.Text, "True"))
                Info.SetOrdinal(1);
            else if (Property.Kind == vkSymbol && SameText(Property.Text, "False"))
                Info.SetOrdinal(0);
            else
                Fail(Property, Path, "True or False expected");
            break;
        case pkEnumeration:
            if (Property.Kind != vkSymbol)
                Fail(Property, Path, "enumeration value expected");
            Info.SetOrdinal(ValueIndex(Info, Property.Text, Property, Path));
            break;
        case pkSet: {
            if (Property.Kind != vkSet)
                Fail(Property, Path, "set expected");
            Int64 mask = 0;
            for (const std::string& element : Property.Elements)
                mask |= Int64{1} << ValueIndex(Info, element, Property, Path);
            Info.SetOrdinal(mask);
            break;
        }
        case pkFloat:
            Info.SetFloat(FloatValue(Property, Path));
            break;
        case pkString:
            if (Property.Kind != vkString)
                Fail(Property, Path, "string expected");
            Info.SetString(Property.Text);
            break;
        case pkCollection:
            if (Property.Kind != vkCollection)
                Fail(Property, Path, "collection expected");
            SetItems(static_cast<TCollection*>(Info.Object), Property, Path + Property.Name);
            break;
        case pkPersistent:
            Fail(Property, Path, "an object property takes no value; set its own properties");
        }
    }

    Int64 IntegerValue(const TPropertyInfo& Info, const TTextProperty& Property, const std::string& Path)
    {
        const std::string& text = Property.Text;
        Int64 value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (Property.Kind != vkNumber || result.ptr != text.data() + text.size())
            Fail(Property, Path, "integer expected");
        if (result.ec != std::errc() || value < Info.MinValue || value > Info.MaxValue)
            Fail(Property, Path, text + " is out of range");
        return value;
    }

    double FloatValue(const TTextProperty& Property, const std::string& Path)
    {
        const std::string& text = Property.Text;
        if (Property.Kind == vkSymbol) {
            const double sign = text[0] == '-' ? -1.0 : 1.0;
            const std::string word = text.substr(text[0] == '-' ? 1 : 0);
            if (SameText(word, "INF"))
                return sign * std::numeric_limits<double>::infinity();
            if (SameText(word, "NAN"))
                return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
        }
        double value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (Property.Kind != vkNumber || result.ptr != text.data() + text.size())
            Fail(Property, Path, "number expected");
        if (result.ec != std::errc())
            Fail(Property, Path, text + " is out of range");
        return value;
    }

    Int64 ValueIndex(const TPropertyInfo& Info, const std::string& Name, const TTextProperty& Property,
                     const std::string& Path)
    {
        for (std::size_t i = 0; i < Info.ValueNames.size(); ++i)
            if (SameText(Info.ValueNames[i], Name))
                return static_cast<Int64>(i);
        Fail(Property, Path, "invalid value " + Name);
    }

    void SetItems(TCollection* Collection, const TTextProperty& Property, const std::string& Path)
    {
        Collection->BeginUpdate();
        try {
            Collection->Clear();
            for (std::size_t i = 0; i < Property.Items.size(); ++i)
                SetProperties(Collection->Add(), Property.Items[i], Path + "[" + std::to_string(i) + "].");
        } catch (...) {
            Collection->EndUpdate();
            throw;
        }
        Collection->EndUpdate();
    }

    [[noreturn]] void Fail(const TTextProperty& Property, const std::string& Path, const std::string& Reason)
    {
        throw EReadError("Error reading " + FRootName + "." + Path + Property.Name + " on line " +
                         std::to_string(Property.Line) + ": " + Reason);
    }

    std::string FRootName;
};

} // namespace

std::string WriteComponentText(TComponent* Instance)
{
    return TTextWriter().Write(Instance);
}

void ReadComponentText(const std::string& Text, TComponent* Instance)
{
    const TTextObject object = TParser(Text).ParseObject();
    Instance->BeginLoading();
    try {
        if (Instance->Name() != object.Name)
            Instance->SetName(object.Name);
        TBinder(RootDisplayName(Instance)).SetProperties(Instance, object.Properties, "");
    } catch (...) {
        Instance->EndLoading();
        throw;
    }
    Instance->EndLoading();
}

} // namespace orvex
