#include "installer/cmp_TTranslator.h"

#include "host/forms/TextProperties.h"
#include "installer/cmp_TTranslateControls.h"
#include "installer/routines_Components.h"
#include "platform/WinSystem.h"

namespace orvex {

namespace {

TTranslator* GMainTranslator = nullptr;
TTranslationSite* GTranslationSite = nullptr;

constexpr std::size_t MaxStringText = 255;

[[noreturn]] void FormatError(const char* format, int line, const std::string& text)
{
    throw Exception(Format(format, {line, text}));
}

// The id of line number index: the text from start to the first ";".
Integer ParseGLID(const std::string& line, std::size_t start, int index)
{
    const std::size_t semi = line.find(';');
    const std::string id = semi == std::string::npos || semi < start ? "" : line.substr(start, semi - start);
    if (id.empty())
        FormatError("The %d'th string (%s) does not have the proper format of GLID;Text", index, line);
    int glid = 0;
    if (!TryStrToInt(id, glid))
        FormatError("The %d'th string (%s) does not have the proper format of GLID;Text or .GLID;", index, line);
    return glid;
}

// Sets a value for the length of a scope, restoring the old one after.
template <class T>
class TScopedValue {
public:
    TScopedValue(T& target, T value) : FTarget(target), FSaved(target) { target = value; }
    ~TScopedValue() { FTarget = FSaved; }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& FTarget;
    T FSaved;
};

// The placeholders of a format, one letter each ("*" for a width or
// precision taken from the arguments), so that two formats can be compared.
std::string Placeholders(const std::string& format)
{
    std::string kinds;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (++i >= format.size())
            break;
        if (format[i] == '%')
            continue;
        while (i < format.size() && (format[i] == '-' || format[i] == '.' || format[i] == '*' ||
                                     (format[i] >= '0' && format[i] <= '9'))) {
            if (format[i] == '*')
                kinds += '*';
            ++i;
        }
        if (i < format.size())
            kinds += static_cast<char>(format[i] >= 'A' && format[i] <= 'Z' ? format[i] + 32 : format[i]);
    }
    return kinds;
}

} // namespace

// ------------------------------------------------------------------ elements

TLanguageMemo::TLanguageMemo() : Lines(new TStringList) {}

TLanguageMemo::~TLanguageMemo()
{
    delete Lines;
}

void TLanguageFont::Assign(TPersistent* source)
{
    if (auto* font = dynamic_cast<TLanguageFont*>(source)) {
        Name = font->Name;
        Size = font->Size;
        Charset = font->Charset;
        Color = font->Color;
        Style = font->Style;
        return;
    }
    TPersistent::Assign(source);
}

// ------------------------------------------------------------ language text

void TLangFormatStrings::Reparse()
{
    if (FLanguage && FLanguage->Reparse)
        FLanguage->Parse();
}

template <class Load>
void TLangFormatStrings::LoadOnce(Load load)
{
    if (!FLanguage) {
        load();
        return;
    }
    {
        TScopedValue<bool> quiet(FLanguage->Reparse, false);
        load();
    }
    Reparse();
}

int TLangFormatStrings::Add(const std::string& s)
{
    const int index = TStringList::Add(s);
    Reparse();
    return index;
}

int TLangFormatStrings::AddObject(const std::string& s, TObject* obj)
{
    int index = 0;
    LoadOnce([&] { index = TStringList::AddObject(s, obj); });
    return index;
}

void TLangFormatStrings::Insert(int index, const std::string& s)
{
    TStringList::Insert(index, s);
    Reparse();
}

void TLangFormatStrings::Move(int curIndex, int newIndex)
{
    LoadOnce([&] { TStringList::Move(curIndex, newIndex); });
}

void TLangFormatStrings::Clear()
{
    TStringList::Clear();
    Reparse();
}

void TLangFormatStrings::Delete(int index)
{
    TStringList::Delete(index);
    if (!FLanguage)
        return;
    for (const auto& element : FLanguage->FStringElements)
        if (element->LineIndex > index)
            --element->LineIndex;
}

void TLangFormatStrings::SetText(const std::string& text)
{
    LoadOnce([&] { TStringList::SetText(text); });
}

void TLangFormatStrings::LoadFromFile(const std::string& fileName)
{
    LoadOnce([&] { TStringList::LoadFromFile(fileName); });
}

void TLangFormatStrings::Assign(TPersistent* source)
{
    LoadOnce([&] { TStringList::Assign(source); });
}

// ------------------------------------------------------------------ language

TLanguage::TLanguage(TDrvnLanguage ident)
    : FLanguageIdent(ident), FFont(new TLanguageFont), FStrings(new TLangFormatStrings(this))
{
}

TLanguage::~TLanguage() = default;

TLanguageString* TLanguage::FindString(Integer glid) const
{
    for (const auto& element : FStringElements)
        if (element->GLID == glid)
            return element.get();
    return nullptr;
}

TLanguageMemo* TLanguage::FindMemo(Integer glid) const
{
    for (const auto& element : FMemoElements)
        if (element->GLID == glid)
            return element.get();
    return nullptr;
}

void TLanguage::Parse()
{
    FStringElements.clear();
    FMemoElements.clear();
    try {
        std::unique_ptr<TLanguageMemo> memo;
        for (int i = 0; i < FStrings->Count(); ++i) {
            const std::string line = Trim(FStrings->Get(i));
            if (line.empty() || line[0] == '*')
                continue;
            if (line == "#") {
                if (!memo)
                    throw Exception(Format("Found the end of memo marker # at line %d. Was not in a memo however", {i}));
                FMemoElements.push_back(std::move(memo));
                continue;
            }
            if (memo) {
                memo->Lines->Add(line);
                continue;
            }
            if (line[0] == '#') {
                if (line.size() < 2)
                    FormatError("The %d'th string (%s) does not have the proper format of .GLID;", i, line);
                memo = std::make_unique<TLanguageMemo>();
                memo->GLID = ParseGLID(line, 1, i);
                memo->Language = this;
                memo->LineIndex = i;
                continue;
            }
            auto element = std::make_unique<TLanguageString>();
            element->GLID = ParseGLID(line, 0, i);
            const std::size_t start = line.find(';') + 1;
            const std::size_t end = line.find(';', start);
            element->Text = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (Trim(element->Text).empty())
                FormatError("The %d'th string (%s) does not have the proper format of GLID;Text", i, line);
            if (element->Text.size() > MaxStringText)
                element->Text.resize(MaxStringText);
            element->Language = this;
            element->LineIndex = i;
            FStringElements.push_back(std::move(element));
        }
    } catch (...) {
        FStringElements.clear();
        FMemoElements.clear();
        throw;
    }
}

void TLanguage::Assign(TPersistent* source)
{
    if (auto* language = dynamic_cast<TLanguage*>(source)) {
        FFont->Assign(language->FFont.get());
        FontOverride = language->FontOverride;
        FStrings->Assign(language->FStrings.get());
        return;
    }
    TPersistent::Assign(source);
}

// ---------------------------------------------------------------- translator

TTranslator::TTranslator(TComponent* owner) : TComponent(owner)
{
    for (int ident = dlChineseSimplified; ident <= dlVietnamese; ++ident)
        if (ident != dlUser)
            FLanguages.push_back(new TLanguage(static_cast<TDrvnLanguage>(ident)));
    if (GMainTranslator && GMainTranslator->FAutomatic)
        delete GMainTranslator; // clears GMainTranslator
    if (!GMainTranslator)
        GMainTranslator = this;
}

TTranslator::~TTranslator()
{
    if (GMainTranslator == this)
        GMainTranslator = nullptr;
    for (TLanguage* language : FLanguages)
        delete language;
}

TTranslator* TTranslator::EnsureMainTranslator(TComponent* owner)
{
    if (!owner)
        return nullptr;
    if (auto* existing = FindOwnedComponent<TTranslator>(owner))
        return existing;
    auto* translator = new TTranslator(owner);
    translator->SetName("MainTranslator");
    translator->FAutomatic = true;
    return translator;
}

void TTranslator::SetTranslateIntoLanguage(TDrvnLanguage value)
{
    if (value == FTranslateIntoLanguage)
        return;
    FTranslateIntoLanguage = value;
    if (OnChange)
        OnChange(this);
}

TLanguage* TTranslator::GetUserLanguage() const
{
    return FindLanguage(DrvnLanguageOfLangID(GetUserDefaultLangID()));
}

TLanguage* TTranslator::FindLanguage(TDrvnLanguage ident) const
{
    if (ident == dlUser)
        return GetUserLanguage();
    for (TLanguage* language : FLanguages)
        if (language->LanguageIdent() == ident)
            return language;
    return nullptr;
}

TLanguage* TTranslator::GetTargetLanguage() const
{
    return FindLanguage(FTranslateIntoLanguage);
}

std::string TTranslator::TranslateText(TDrvnLanguage sourceLanguage, const std::string& text) const
{
    const TLanguage* source = FindLanguage(sourceLanguage);
    const TLanguage* target = GetTargetLanguage();
    if (!source || !target)
        return text;
    for (const auto& element : source->StringElements())
        if (AnsiSameText(element->Text, text)) {
            const TLanguageString* translated = target->FindString(element->GLID);
            return translated ? translated->Text : text;
        }
    return text;
}

std::string TTranslator::TranslateById(Integer glid, const std::string& text) const
{
    const TLanguage* target = GetTargetLanguage();
    const TLanguageString* translated = target ? target->FindString(glid) : nullptr;
    return translated ? translated->Text : text;
}

void TTranslator::TranslateMemo(TDrvnLanguage sourceLanguage, TStrings* lines, TStrings* result) const
{
    result->Assign(lines);
    const TLanguage* source = FindLanguage(sourceLanguage);
    const TLanguage* target = GetTargetLanguage();
    if (!source || !target)
        return;
    for (const auto& memo : source->MemoElements())
        if (memo->Lines->Equals(lines)) {
            if (const TLanguageMemo* translated = target->FindMemo(memo->GLID))
                result->Assign(translated->Lines);
            return;
        }
}

void TTranslator::TranslateOne(TDrvnLanguage sourceLanguage, TComponent* component)
{
    TTranslationSite* site = TranslationSite();
    const bool control = site && site->IsControl(component);
    if (control)
        site->BeginTranslate(component);
    try {
        const TTextPropertyList texts = TextPropertiesOf(component);
        Integer glid = 0;
        const bool withId = site && site->GLIDOf(component, glid);
        if (withId && glid > 0)
            if (const TTextProperty* caption = texts.Find("Caption"); caption && caption->Get)
                caption->Set(TranslateById(glid, caption->Get()));
        if (!withId || glid == 0)
            for (const TTextProperty& property : texts)
                TranslateProperty(sourceLanguage, property);
        for (int i = 0; i < component->ComponentCount(); ++i) {
            TComponent* owned = component->Components(i);
            if (!site || !site->IsForm(owned))
                TranslateOne(sourceLanguage, owned);
        }
    } catch (...) {
        if (control)
            site->EndTranslate(component);
        throw;
    }
    if (control)
        site->EndTranslate(component);
}

void TTranslator::TranslateProperty(TDrvnLanguage sourceLanguage, const TTextProperty& property)
{
    switch (property.Kind) {
    case tpText:
        if (property.Get && property.Set && !SameText(property.Name, "Name")) {
            const std::string value = property.Get();
            if (!Trim(value).empty())
                property.Set(TranslateText(sourceLanguage, value));
        }
        break;
    case tpLines:
        if (property.Strings) {
            TStringList translated;
            TranslateMemo(sourceLanguage, property.Strings, &translated);
            if (!translated.Equals(property.Strings))
                property.Strings->Assign(&translated);
        }
        break;
    case tpItems:
        if (property.Strings)
            for (int i = 0; i < property.Strings->Count(); ++i)
                property.Strings->Put(i, TranslateText(sourceLanguage, property.Strings->Get(i)));
        break;
    }
}

TDrvnLanguage TTranslator::TranslateComponentTree(TDrvnLanguage sourceLanguage, TComponent* component)
{
    if (component)
        TranslateOne(sourceLanguage, component);
    const TLanguage* target = GetTargetLanguage();
    return target && target->Strings()->Count() > 0 ? FTranslateIntoLanguage : sourceLanguage;
}

TDrvnLanguage TTranslator::TranslateComponentTreeInLanguage(TDrvnLanguage sourceLanguage,
                                                            TDrvnLanguage targetLanguage, TComponent* component)
{
    TScopedValue<TDrvnLanguage> target(FTranslateIntoLanguage, targetLanguage);
    return TranslateComponentTree(sourceLanguage, component);
}

void TTranslator::ApplyFonts(TLanguage* language, TComponent* control)
{
    TTranslationSite* site = TranslationSite();
    TLanguageFont font;
    if (site->GetFont(control, font)) {
        ApplyLanguageFontRules(*language, font);
        site->SetFont(control, font);
    }
    for (TComponent* child : site->ChildControls(control))
        ApplyFonts(language, child);
}

void TTranslator::SetFonts(TComponent* control, bool force)
{
    TLanguage* language = GetTargetLanguage();
    if (!control || !language || !TranslationSite())
        return;
    if (language->Strings()->Count() == 0 && !force)
        language = FindLanguage(dlEnglish);
    ApplyFonts(language, control);
}

void TTranslator::SetFontsInLanguage(TDrvnLanguage language, TComponent* control, bool force)
{
    TScopedValue<TDrvnLanguage> target(FTranslateIntoLanguage, language);
    SetFonts(control, force);
}

// ------------------------------------------------------------------- globals

TTranslator* MainTranslator()
{
    return GMainTranslator;
}

TTranslationSite* TranslationSite()
{
    return GTranslationSite;
}

void SetTranslationSite(TTranslationSite* site)
{
    GTranslationSite = site;
}

TDrvnLanguage DrvnLanguageOfLangID(Word langId)
{
    const int primary = langId & 0x3FF;
    const int sub = langId >> 10;
    switch (primary) {
    case 4: return sub == 1 ? dlChineseTraditional : dlChineseSimplified;
    case 5: return dlCzech;
    case 6: return dlDanish;
    case 7: return dlGerman;
    case 8: return dlGreek;
    case 10: return dlSpanish;
    case 12: return dlFrench;
    case 13: return dlHebrew;
    case 16: return dlItalian;
    case 17: return dlJapanese;
    case 18: return dlKorean;
    case 19: return dlDutch;
    case 20: return sub == 1 ? dlNorwegianBokmal : dlNorwegianNynorsk;
    case 21: return dlPolish;
    case 22: return dlPortugese;
    case 25: return dlRussian;
    case 29: return dlSwedish;
    case 42: return dlVietnamese;
    default: return dlEnglish;
    }
}

Byte LanguageCharset(TDrvnLanguage language)
{
    switch (language) {
    case dlChineseSimplified: return 134;
    case dlChineseTraditional: return 136;
    case dlCzech:
    case dlPolish:
    case dlPortugese: return 238;
    case dlHebrew: return 177;
    case dlJapanese: return 128;
    case dlKorean: return 129;
    case dlRussian: return 204;
    case dlVietnamese: return 163;
    default: return 0;
    }
}

void ApplyLanguageFontRules(const TLanguage& language, TLanguageFont& font)
{
    const TDrvnLanguage ident = language.LanguageIdent();
    if (ident < dlChineseSimplified || ident > dlVietnamese || ident == dlUser)
        throw Exception("Unrecognized language");
    if (language.FontOverride) {
        font.Assign(language.Font());
        return;
    }
    font.Charset = LanguageCharset(ident);
    if (ident == dlHebrew)
        return; // its character set alone: no font is settled for it
    std::string name = "Arial";
    Integer minimum = 8;
    switch (ident) {
    case dlChineseSimplified:
    case dlChineseTraditional:
        name = "\xB7\x73\xB2\xD3\xA9\xFA\xC5";
        minimum = 9;
        break;
    case dlGerman: name = "MS Sans Serif"; break;
    case dlGreek: name = "SGreek"; break;
    case dlJapanese:
        name = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
        minimum = 9;
        break;
    case dlKorean:
        name = "\xB9\xD9\xC5\xC1";
        minimum = 9;
        break;
    default: break;
    }
    font.Name = name;
    if (font.Size < minimum)
        font.Size = minimum;
}

std::string TranslateFromEnglish(const std::string& text)
{
    return GMainTranslator ? GMainTranslator->TranslateText(dlEnglish, text) : text;
}

void SetControlFonts(TComponent* control, bool force)
{
    if (GMainTranslator)
        GMainTranslator->SetFonts(control, force);
}

void SetControlFontsInLanguage(TDrvnLanguage language, TComponent* control, bool force)
{
    if (GMainTranslator)
        GMainTranslator->SetFontsInLanguage(language, control, force);
}

TDrvnLanguage TranslateComponent(TDrvnLanguage sourceLanguage, TComponent* component)
{
    return GMainTranslator ? GMainTranslator->TranslateComponentTree(sourceLanguage, component) : sourceLanguage;
}

TDrvnLanguage TranslateComponentInLanguage(TDrvnLanguage sourceLanguage, TDrvnLanguage targetLanguage,
                                           TComponent* component)
{
    return GMainTranslator
               ? GMainTranslator->TranslateComponentTreeInLanguage(sourceLanguage, targetLanguage, component)
               : sourceLanguage;
}

std::string FormatFromEnglish(const std::string& format, std::initializer_list<TVarRec> args)
{
    const std::string translated = TranslateFromEnglish(format);
    if (translated != format && Placeholders(translated) == Placeholders(format)) {
        try {
            return Format(translated, args);
        } catch (const EConvertError&) {
            // fall back on the English format below
        }
    }
    return Format(format, args);
}

} // namespace orvex
