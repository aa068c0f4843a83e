#pragma once
// The translator: for each of 21 interface languages a text of numbered
// strings and memo blocks, through which the library's English messages and
// the texts of the wizard's forms are shown in the chosen language, and the
// font rules of each language.
//
// The text of a language is a list of lines:
//   "GLID;Text"   a string with the id GLID (the text ends at the next ";")
//   "#GLID;"      opens a memo block, whose lines follow up to a line "#"
//   "* ..."       a comment; blank lines are skipped.
// A text is translated from a source language by finding a string of the
// source language equal to it (ignoring case) and taking the target
// language's string with the same id.
//
// The first TTranslator created is the main translator, which the IE
// exceptions and the forms use.

#include "host/Classes.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

enum TDrvnLanguage {
    dlChineseSimplified,
    dlChineseTraditional,
    dlCzech,
    dlDanish,
    dlDutch,
    dlEnglish,
    dlFrench,
    dlGerman,
    dlGreek,
    dlHebrew,
    dlItalian,
    dlJapanese,
    dlKorean,
    dlNorwegianBokmal,
    dlNorwegianNynorsk,
    dlPolish,
    dlPortugese,
    dlRussian,
    dlSpanish,
    dlSwedish,
    dlUser, // the user's default interface language
    dlVietnamese,
};

class TLanguage;
struct TTextProperty;

class TLanguageElement : public TObject {
public:
    Integer GLID = 0;
    TLanguage* Language = nullptr;
    Integer LineIndex = 0; // the line where the element starts
};

class TLanguageString : public TLanguageElement {
public:
    std::string Text; // at most 255 characters
};

class TLanguageMemo : public TLanguageElement {
public:
    TLanguageMemo();
    ~TLanguageMemo() override;
    TStringList* Lines; // owned
};

// A font as the translator keeps and applies it.
class TLanguageFont : public TPersistent {
public:
    std::string Name = "MS Sans Serif";
    Integer Size = 8;
    Byte Charset = 1; // DEFAULT_CHARSET
    Integer Color = 0;
    Byte Style = 0;   // bold 1, italic 2, underline 4, strike-out 8
    void Assign(TPersistent* source) override;
};

// The text of one language: each change re-parses the language while its
// re-parse flag is on; Assign and LoadFromFile re-parse once at the end;
// Delete re-parses nothing but moves the start lines of the later strings.
class TLangFormatStrings : public TStringList {
public:
    explicit TLangFormatStrings(TLanguage* language) : FLanguage(language) {}

    int Add(const std::string& s) override;
    int AddObject(const std::string& s, TObject* obj) override;
    void Insert(int index, const std::string& s) override;
    void Move(int curIndex, int newIndex) override;
    void Clear() override;
    void Delete(int index) override;
    void SetText(const std::string& text) override;
    void LoadFromFile(const std::string& fileName) override;
    void Assign(TPersistent* source) override;

private:
    void Reparse();
    template <class Load>
    void LoadOnce(Load load);
    TLanguage* FLanguage;
};

class TLanguage : public TPersistent {
public:
    explicit TLanguage(TDrvnLanguage ident);
    ~TLanguage() override;

    TLanguageFont* Font() const { return FFont.get(); }
    void SetFont(TLanguageFont* value) { FFont->Assign(value); }
    bool FontOverride = false;
    TDrvnLanguage LanguageIdent() const { return FLanguageIdent; }
    TLangFormatStrings* Strings() const { return FStrings.get(); }
    void SetStrings(TStrings* value) { FStrings->Assign(value); }

    const std::vector<std::unique_ptr<TLanguageString>>& StringElements() const { return FStringElements; }
    const std::vector<std::unique_ptr<TLanguageMemo>>& MemoElements() const { return FMemoElements; }
    // The string element with that id (the first), nullptr when none.
    TLanguageString* FindString(Integer glid) const;
    TLanguageMemo* FindMemo(Integer glid) const;

    // Whether changes of Strings re-parse the text.
    bool Reparse = true;
    // Rebuilds the elements from Strings. On a format error every element is
    // dropped and the error raised.
    void Parse();

    void Assign(TPersistent* source) override;

private:
    friend class TLangFormatStrings;
    TDrvnLanguage FLanguageIdent;
    std::unique_ptr<TLanguageFont> FFont;
    std::unique_ptr<TLangFormatStrings> FStrings;
    std::vector<std::unique_ptr<TLanguageString>> FStringElements;
    std::vector<std::unique_ptr<TLanguageMemo>> FMemoElements;
};

class TTranslator : public TComponent {
public:
    explicit TTranslator(TComponent* owner);
    ~TTranslator() override;

    // The language objects, one per language other than dlUser, created in
    // the order of the enumeration. Assigning one copies into it.
#define ORVEX_LANGUAGE_PROPERTY(Name)                                                              \
    TLanguage* lg##Name() const { return FindLanguage(dl##Name); }                                 \
    void Setlg##Name(TLanguage* value) { FindLanguage(dl##Name)->Assign(value); }
    ORVEX_LANGUAGE_PROPERTY(ChineseSimplified)
    ORVEX_LANGUAGE_PROPERTY(ChineseTraditional)
    ORVEX_LANGUAGE_PROPERTY(Czech)
    ORVEX_LANGUAGE_PROPERTY(Danish)
    ORVEX_LANGUAGE_PROPERTY(Dutch)
    ORVEX_LANGUAGE_PROPERTY(English)
    ORVEX_LANGUAGE_PROPERTY(French)
    ORVEX_LANGUAGE_PROPERTY(German)
    ORVEX_LANGUAGE_PROPERTY(Greek)
    ORVEX_LANGUAGE_PROPERTY(Hebrew)
    ORVEX_LANGUAGE_PROPERTY(Italian)
    ORVEX_LANGUAGE_PROPERTY(Japanese)
    ORVEX_LANGUAGE_PROPERTY(Korean)
    ORVEX_LANGUAGE_PROPERTY(NorwegianBokmal)
    ORVEX_LANGUAGE_PROPERTY(NorwegianNynorsk)
    ORVEX_LANGUAGE_PROPERTY(Polish)
    ORVEX_LANGUAGE_PROPERTY(Portugese)
    ORVEX_LANGUAGE_PROPERTY(Russian)
    ORVEX_LANGUAGE_PROPERTY(Spanish)
    ORVEX_LANGUAGE_PROPERTY(Swedish)
    ORVEX_LANGUAGE_PROPERTY(Vietnamese)
#undef ORVEX_LANGUAGE_PROPERTY

    const std::vector<TLanguage*>& Languages() const { return FLanguages; }

    TDrvnLanguage TranslateIntoLanguage() const { return FTranslateIntoLanguage; }
    void SetTranslateIntoLanguage(TDrvnLanguage value);
    // Called after TranslateIntoLanguage changed.
    TNotifyEvent OnChange;

    // The language object of the user's default interface language.
    TLanguage* GetUserLanguage() const;
    // The language object of ident (dlUser: the user's); nullptr when none.
    TLanguage* FindLanguage(TDrvnLanguage ident) const;
    TLanguage* GetTargetLanguage() const;

    std::string TranslateText(TDrvnLanguage sourceLanguage, const std::string& text) const;
    std::string TranslateById(Integer glid, const std::string& text) const;
    void TranslateMemo(TDrvnLanguage sourceLanguage, TStrings* lines, TStrings* result) const;

    // Translates the texts of a component and of every component it owns that
    // is not a form (the forms layer's text properties and its site, see
    // cmp_TTranslateControls); gives the language the component now shows.
    TDrvnLanguage TranslateComponentTree(TDrvnLanguage sourceLanguage, TComponent* component);
    TDrvnLanguage TranslateComponentTreeInLanguage(TDrvnLanguage sourceLanguage,
                                                   TDrvnLanguage targetLanguage, TComponent* component);
    // Applies the font rules of the target language to a control tree.
    void SetFonts(TComponent* control, bool force);
    void SetFontsInLanguage(TDrvnLanguage language, TComponent* control, bool force);

    // The translator an install component creates on its owner when the
    // owner holds none: named "MainTranslator", and freed by the next
    // TTranslator created, which then becomes the main translator.
    static TTranslator* EnsureMainTranslator(TComponent* owner);

private:
    void TranslateOne(TDrvnLanguage sourceLanguage, TComponent* component);
    void TranslateProperty(TDrvnLanguage sourceLanguage, const TTextProperty& property);
    void ApplyFonts(TLanguage* language, TComponent* control);
    std::vector<TLanguage*> FLanguages; // owned
    TDrvnLanguage FTranslateIntoLanguage = dlUser;
    bool FAutomatic = false;
};

// The main translator (the first created), nullptr when none.
TTranslator* MainTranslator();

// The language of a Windows language id, as the user's default interface
// language is mapped: languages without their own entry give dlEnglish.
TDrvnLanguage DrvnLanguageOfLangID(Word langId);

// The font rules of a language applied to one font: the language's own font
// when it overrides, else its character set, font name and minimum size.
// Raises "Unrecognized language" for dlUser and values outside the enumeration.
void ApplyLanguageFontRules(const TLanguage& language, TLanguageFont& font);
Byte LanguageCharset(TDrvnLanguage language);

// The unit's entry points on the main translator; without one each returns
// its input and changes nothing.
std::string TranslateFromEnglish(const std::string& text);
void SetControlFonts(TComponent* control, bool force = false);
void SetControlFontsInLanguage(TDrvnLanguage language, TComponent* control, bool force = false);
TDrvnLanguage TranslateComponent(TDrvnLanguage sourceLanguage, TComponent* component);
TDrvnLanguage TranslateComponentInLanguage(TDrvnLanguage sourceLanguage, TDrvnLanguage targetLanguage,
                                           TComponent* component);

// Formats an English format after translating it; a translation whose
// placeholders differ from the English ones (one lost, added or of another
// type), or that cannot be formatted with the arguments, gives way to the
// English format.
std::string FormatFromEnglish(const std::string& format, std::initializer_list<TVarRec> args);

} // namespace orvex
