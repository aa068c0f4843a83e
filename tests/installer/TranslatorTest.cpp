#include "host/forms/TextProperties.h"
#include "installer/cmp_TTranslateControls.h"
#include "installer/cmp_TTranslator.h"
#include "installer/exceptions_Dorvane.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace orvex {
namespace {

std::string ErrorOf(TLanguage& language, const std::string& text)
{
    try {
        language.Strings()->SetText(text);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// A component with texts of every kind, as the forms layer lists them.
class TTextComponent : public TComponent, public ITextProperties {
public:
    using TComponent::TComponent;
    std::string Caption, Hint;
    TStringList Lines, Items;
    void DefineTextProperties(TTextPropertyList& list) override
    {
        list.AddText("Caption", [this] { return Caption; }, [this](const std::string& s) { Caption = s; });
        list.AddText("Hint", [this] { return Hint; }, [this](const std::string& s) { Hint = s; });
        list.AddStrings("Lines", tpLines, &Lines);
        list.AddStrings("Items", tpItems, &Items);
    }
};

// The forms layer's side, for components and fonts of the tests.
class TFakeSite : public TTranslationSite {
public:
    std::map<TComponent*, Integer> GLIDs;
    std::map<TComponent*, TLanguageFont> Fonts;
    std::map<TComponent*, std::vector<TComponent*>> Children;
    TComponent* Form = nullptr;
    std::vector<std::string> Calls;

    bool IsForm(TComponent* c) const override { return c == Form; }
    bool IsControl(TComponent*) const override { return true; }
    bool GLIDOf(TComponent* c, Integer& glid) const override
    {
        auto it = GLIDs.find(c);
        if (it == GLIDs.end())
            return false;
        glid = it->second;
        return true;
    }
    void BeginTranslate(TComponent* c) override { Calls.push_back("begin " + c->Name()); }
    void EndTranslate(TComponent* c) override { Calls.push_back("end " + c->Name()); }
    bool GetFont(TComponent* c, TLanguageFont& font) const override
    {
        auto it = Fonts.find(c);
        if (it == Fonts.end())
            return false;
        font.Assign(const_cast<TLanguageFont*>(&it->second));
        return true;
    }
    void SetFont(TComponent* c, const TLanguageFont& font) override
    {
        Fonts[c].Assign(const_cast<TLanguageFont*>(&font));
    }
    std::vector<TComponent*> ChildControls(TComponent* c) const override
    {
        auto it = Children.find(c);
        return it == Children.end() ? std::vector<TComponent*>{} : it->second;
    }
};

class TranslatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Translator = new TTranslator(nullptr);
        Translator->lgEnglish()->Strings()->SetText("12;Next\r\n13;Cancel\r\n14;Cannot open %s\r\n#7;\r\nFirst line\r\nSecond line\r\n#");
        Translator->lgGerman()->Strings()->SetText("12;Weiter\r\n13;Abbrechen\r\n14;Kann die Datei nicht \xF6""ffnen\r\n#7;\r\nErste Zeile\r\nZweite Zeile\r\n#");
        Translator->SetTranslateIntoLanguage(dlGerman);
    }
    void TearDown() override
    {
        delete Translator;
        SetTranslationSite(nullptr);
    }
    TTempWindowsRoot Root;
    TTranslator* Translator = nullptr;
};

TEST_F(TranslatorTest, TextsTranslateByTheIdOfTheirSourceString)
{
    EXPECT_EQ(Translator->TranslateText(dlEnglish, "next"), "Weiter");
    EXPECT_EQ(Translator->TranslateText(dlEnglish, "NEXT"), "Weiter");
    EXPECT_EQ(Translator->TranslateText(dlEnglish, "Back"), "Back");
    EXPECT_EQ(Translator->TranslateById(13, "x"), "Abbrechen");
    EXPECT_EQ(Translator->TranslateById(99, "x"), "x");
    EXPECT_EQ(TranslateFromEnglish("Cancel"), "Abbrechen");

    Translator->lgGerman()->Strings()->Add("15;A;B");
    ASSERT_NE(Translator->lgGerman()->FindString(15), nullptr);
    EXPECT_EQ(Translator->lgGerman()->FindString(15)->Text, "A");

    TStringList lines, result;
    lines.Add("First line");
    lines.Add("Second line");
    Translator->TranslateMemo(dlEnglish, &lines, &result);
    ASSERT_EQ(result.Count(), 2);
    EXPECT_EQ(result[0], "Erste Zeile");
    lines.Put(1, "second line"); // a memo must match exactly
    Translator->TranslateMemo(dlEnglish, &lines, &result);
    EXPECT_EQ(result[1], "second line");

    // A language without strings leaves texts as they are.
    Translator->SetTranslateIntoLanguage(dlFrench);
    EXPECT_EQ(Translator->TranslateText(dlEnglish, "Next"), "Next");
}

TEST_F(TranslatorTest, TheTextFormatHasMemosCommentsAndCheckedIds)
{
    TLanguage& lang = *Translator->lgDanish();
    EXPECT_EQ(ErrorOf(lang, "  * a comment\r\n\r\n  #7;  \r\n one \r\n* not a memo line\r\ntwo\r\n#\r\n 3;Tre "), "");
    ASSERT_EQ(lang.MemoElements().size(), 1u);
    const TLanguageMemo& memo = *lang.MemoElements()[0];
    EXPECT_EQ(memo.GLID, 7);
    EXPECT_EQ(memo.LineIndex, 2);
    EXPECT_EQ(memo.Lines->Count(), 2);
    EXPECT_EQ(memo.Lines->Strings(0), "one");
    ASSERT_EQ(lang.StringElements().size(), 1u);
    EXPECT_EQ(lang.StringElements()[0]->Text, "Tre");

    struct TCase {
        const char* Text;
        const char* Message;
    };
    const TCase cases[] = {
        {"1;One\r\n#", "Found the end of memo marker # at line 1. Was not in a memo however"},
        {"x;Text", "The 0'th string (x;Text) does not have the proper format of GLID;Text or .GLID;"},
        {"5;", "The 0'th string (5;) does not have the proper format of GLID;Text"},
        {"5;  ;x", "The 0'th string (5;  ;x) does not have the proper format of GLID;Text"},
        {"Text", "The 0'th string (Text) does not have the proper format of GLID;Text"},
        {"1;a\r\n#;", "The 1'th string (#;) does not have the proper format of GLID;Text"},
        {"#x;", "The 0'th string (#x;) does not have the proper format of GLID;Text or .GLID;"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(ErrorOf(lang, c.Text), c.Message) << c.Text;
        EXPECT_TRUE(lang.StringElements().empty()) << c.Text;
        EXPECT_TRUE(lang.MemoElements().empty()) << c.Text;
    }
    // A long text keeps its first 255 characters.
    EXPECT_EQ(ErrorOf(lang, "1;" + std::string(300, 'x')), "");
    EXPECT_EQ(lang.FindString(1)->Text.size(), 255u);
}

TEST_F(TranslatorTest, ChangesOfTheTextReparseButDeleteOnlyMovesLines)
{
    TLanguage& lang = *Translator->lgSwedish();
    TLangFormatStrings& text = *lang.Strings();
    text.SetText("1;Ett\r\n2;Tva\r\n3;Tre\r\n4;Fyra\r\n5;Fem");
    ASSERT_EQ(lang.StringElements().size(), 5u);

    text.Delete(3);
    // Not re-parsed: five elements, the ones after line 3 one line earlier.
    ASSERT_EQ(lang.StringElements().size(), 5u);
    EXPECT_EQ(lang.FindString(3)->LineIndex, 2);
    EXPECT_EQ(lang.FindString(4)->LineIndex, 3);
    EXPECT_EQ(lang.FindString(5)->LineIndex, 3);

    text.Add("6;Sex");
    EXPECT_EQ(lang.StringElements().size(), 5u); // re-parsed: 1, 2, 3, 5, 6
    EXPECT_EQ(lang.FindString(4), nullptr);
    text.Insert(0, "7;Sju");
    EXPECT_EQ(lang.FindString(7)->LineIndex, 0);
    text.Move(0, 5);
    EXPECT_EQ(lang.FindString(7)->LineIndex, 5);
    text.Clear();
    EXPECT_TRUE(lang.StringElements().empty());

    // Loading from a file and assigning parse once at the end.
    const std::string file = Root.Path() + "/sv.txt";
    std::ofstream(file) << "8;Atta\n#9;\nrad\n#\n";
    text.LoadFromFile(file);
    EXPECT_EQ(lang.FindString(8)->Text, "Atta");
    EXPECT_NE(lang.FindMemo(9), nullptr);
    TStringList other;
    other.Add("10;Tio");
    text.Assign(&other);
    EXPECT_EQ(lang.FindString(10)->Text, "Tio");
    EXPECT_EQ(lang.FindString(8), nullptr);

    lang.Reparse = false;
    text.Add("11;Elva");
    EXPECT_EQ(lang.FindString(11), nullptr);
    lang.Reparse = true;

    // Assigning a language copies its font and strings but keeps the ident.
    Translator->SetlgSwedish(Translator->lgGerman());
    EXPECT_EQ(lang.LanguageIdent(), dlSwedish);
    EXPECT_EQ(lang.FindString(12)->Text, "Weiter");
}

TEST_F(TranslatorTest, TheUsersLanguageComesFromTheSystem)
{
    struct TCase {
        Word LangId;
        TDrvnLanguage Language;
    };
    const TCase cases[] = {
        {0x0404, dlChineseTraditional}, {0x0804, dlChineseSimplified}, {0x0407, dlGerman},
        {0x0C07, dlGerman},             {0x0414, dlNorwegianBokmal},  {0x0814, dlNorwegianNynorsk},
        {0x0416, dlPortugese},          {0x042A, dlVietnamese},       {0x041F, dlEnglish},
        {0x0409, dlEnglish},            {0x040B, dlEnglish},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(DrvnLanguageOfLangID(c.LangId), c.Language) << c.LangId;

    TWinSystemConfig config = WinSystemConfig();
    config.UILanguage = 0x041F; // Turkish
    SetWinSystemConfig(config);
    Translator->SetTranslateIntoLanguage(dlUser);
    ASSERT_NE(Translator->GetTargetLanguage(), nullptr);
    EXPECT_EQ(Translator->GetTargetLanguage()->LanguageIdent(), dlEnglish);
    config.UILanguage = 0x0407;
    SetWinSystemConfig(config);
    EXPECT_EQ(Translator->GetUserLanguage()->LanguageIdent(), dlGerman);
    EXPECT_EQ(Translator->TranslateText(dlEnglish, "Next"), "Weiter");
    EXPECT_EQ(Translator->Languages().size(), 21u);
}

TEST_F(TranslatorTest, TranslatedExceptionsKeepTheirPlaceholders)
{
    EXPECT_EQ(IEInstall("Cancel").Message(), "Abbrechen");
    EXPECT_EQ(IEInstall("Cannot open %s", {"x.dll"}).Message(), "Cannot open x.dll"); // lost its %s
    Translator->lgGerman()->Strings()->Put(2, "14;Kann %s nicht \xF6""ffnen");
    Translator->lgGerman()->Parse();
    EXPECT_EQ(IEInstall("Cannot open %s", {"x.dll"}).Message(), "Kann x.dll nicht \xF6""ffnen");
    Translator->lgGerman()->Strings()->Add("16;Datei %d");
    Translator->lgEnglish()->Strings()->Add("16;File %s");
    EXPECT_EQ(IEInstall("File %s", {"a"}).Message(), "File a"); // another type of placeholder
    EXPECT_EQ(FormatFromEnglish("100%% of %s", {"x"}), "100% of x");

    EXPECT_EQ(EAIUserAbort().Message(), "Installation aborted by the user");
    EXPECT_EQ(EUserAbortInstall().Message(), "Creating Install Aborted!");
    EXPECT_EQ(EdcDiskFull().Message(), "The disk is full");
    EXPECT_EQ(EIRCannotWriteValue("K", "I", "V").Message(), "Cannot install into registry. Key: K Ident: I Value V");
    const EProgramLauncherFailed failed("File not found", 2);
    EXPECT_EQ(failed.ErrorCode, 2);
    const ECustomDorvaneAbnormal* base = &failed;
    EXPECT_NE(dynamic_cast<const EDorvaneAbnormal*>(base), nullptr);
    IEfcSetAttributes attributes("x");
    EXPECT_NE(dynamic_cast<IEFileContainer*>(&attributes), nullptr);
    EXPECT_NE(dynamic_cast<IException*>(&attributes), nullptr);
}

TEST_F(TranslatorTest, ComponentTreesTranslateTheirTextsButNotOwnedForms)
{
    TComponent owner(nullptr);
    auto* panel = new TTextComponent(&owner);
    panel->SetName("Panel");
    panel->Caption = "Next";
    panel->Hint = "cancel";
    panel->Lines.SetText("First line\r\nSecond line");
    panel->Items.SetText("Next\r\nOther\r\n");
    auto* label = new TTextComponent(panel);
    label->SetName("Label");
    label->Caption = "Back";
    auto* form = new TTextComponent(panel);
    form->SetName("Form");
    form->Caption = "Next";

    TFakeSite site;
    site.GLIDs[label] = 13;
    site.Form = form;
    SetTranslationSite(&site);
    EXPECT_EQ(TranslateComponent(dlEnglish, &owner), dlGerman);
    EXPECT_EQ(panel->Caption, "Weiter");
    EXPECT_EQ(panel->Hint, "Abbrechen");
    EXPECT_EQ(panel->Lines.Strings(1), "Zweite Zeile");
    EXPECT_EQ(panel->Items.Strings(0), "Weiter");
    EXPECT_EQ(panel->Items.Strings(1), "Other");
    EXPECT_EQ(label->Caption, "Abbrechen"); // by its id, not by its text
    EXPECT_EQ(form->Caption, "Next");
    EXPECT_EQ(site.Calls, (std::vector<std::string>{"begin ", "begin Panel", "begin Label", "end Label",
                                                     "end Panel", "end "}));

    // A control with an id of its own (not 0) is not translated further.
    site.GLIDs[label] = -1;
    label->Caption = "Next";
    TranslateComponent(dlEnglish, label);
    EXPECT_EQ(label->Caption, "Next");

    // Into a language without strings: nothing changes, the source remains.
    panel->Caption = "Next";
    EXPECT_EQ(TranslateComponentInLanguage(dlEnglish, dlFrench, panel), dlEnglish);
    EXPECT_EQ(panel->Caption, "Next");
    EXPECT_EQ(Translator->TranslateIntoLanguage(), dlGerman);
}

TEST(TranslatorGlobalsTest, WithoutAMainTranslatorNothingChanges)
{
    ASSERT_EQ(MainTranslator(), nullptr);
    TComponent owner(nullptr);
    auto* text = new TTextComponent(&owner);
    text->Caption = "Next";
    EXPECT_EQ(TranslateComponent(dlGerman, &owner), dlGerman);
    EXPECT_EQ(TranslateComponentInLanguage(dlEnglish, dlGerman, &owner), dlEnglish);
    EXPECT_EQ(text->Caption, "Next");
    EXPECT_EQ(TranslateFromEnglish("Next"), "Next");
    SetControlFonts(text);
    EXPECT_EQ(IEInstall("Cannot open %s", {"x"}).Message(), "Cannot open x");

    // The first translator is the main one; one made by the install component
    // gives way to the next one created.
    TComponent form(nullptr);
    TTranslator* automatic = TTranslator::EnsureMainTranslator(&form);
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(automatic->Name(), "MainTranslator");
    EXPECT_EQ(TTranslator::EnsureMainTranslator(&form), automatic);
    EXPECT_EQ(MainTranslator(), automatic);
    auto* streamed = new TTranslator(&form);
    EXPECT_EQ(MainTranslator(), streamed);
    EXPECT_EQ(form.ComponentCount(), 1);
    auto* second = new TTranslator(&form);
    EXPECT_EQ(MainTranslator(), streamed);
    delete streamed;
    EXPECT_EQ(MainTranslator(), nullptr);
    delete second;
}

TEST_F(TranslatorTest, FontRulesFollowTheLanguage)
{
    struct TCase {
        TDrvnLanguage Language;
        const char* Name;
        Integer Size;
        Byte Charset;
    };
    const TCase cases[] = {
        {dlChineseSimplified, "\xB7\x73\xB2\xD3\xA9\xFA\xC5", 9, 134},
        {dlChineseTraditional, "\xB7\x73\xB2\xD3\xA9\xFA\xC5", 9, 136},
        {dlGerman, "MS Sans Serif", 8, 0},
        {dlGreek, "SGreek", 8, 0},
        {dlJapanese, "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E", 9, 128},
        {dlKorean, "\xB9\xD9\xC5\xC1", 9, 129},
        {dlHebrew, "Tahoma", 7, 177},
        {dlCzech, "Arial", 8, 238},
        {dlRussian, "Arial", 8, 204},
        {dlVietnamese, "Arial", 8, 163},
        {dlEnglish, "Arial", 8, 0},
    };
    for (const TCase& c : cases) {
        TLanguageFont font;
        font.Name = "Tahoma";
        font.Size = 7;
        ApplyLanguageFontRules(*Translator->FindLanguage(c.Language), font);
        EXPECT_EQ(font.Name, c.Name) << c.Language;
        EXPECT_EQ(font.Size, c.Size) << c.Language;
        EXPECT_EQ(font.Charset, c.Charset) << c.Language;
    }
    TLanguageFont big;
    big.Size = 12;
    ApplyLanguageFontRules(*Translator->lgKorean(), big);
    EXPECT_EQ(big.Size, 12);

    Translator->lgGreek()->FontOverride = true;
    Translator->lgGreek()->Font()->Name = "Own";
    Translator->lgGreek()->Font()->Size = 5;
    TLanguageFont font;
    ApplyLanguageFontRules(*Translator->lgGreek(), font);
    EXPECT_EQ(font.Name, "Own");
    EXPECT_EQ(font.Size, 5);

    TLanguage user(dlUser);
    EXPECT_THROW(ApplyLanguageFontRules(user, font), Exception);
}

TEST_F(TranslatorTest, SetFontsWalksWindowedControls)
{
    TComponent owner(nullptr);
    auto* window = new TComponent(&owner);
    auto* child = new TComponent(&owner);
    auto* grandchild = new TComponent(&owner);
    TFakeSite site;
    site.Fonts[window].Size = 8;
    site.Fonts[child].Size = 8;
    site.Fonts[grandchild].Size = 8;
    site.Children[window] = {child};
    site.Children[child] = {grandchild};
    SetTranslationSite(&site);

    Translator->SetFonts(window, false);
    EXPECT_EQ(site.Fonts[grandchild].Name, "MS Sans Serif"); // German rules
    // Korean has no strings: English rules, unless forced.
    Translator->SetFontsInLanguage(dlKorean, window, false);
    EXPECT_EQ(site.Fonts[child].Name, "Arial");
    EXPECT_EQ(site.Fonts[child].Charset, 0);
    SetControlFontsInLanguage(dlKorean, window, true);
    EXPECT_EQ(site.Fonts[grandchild].Name, "\xB9\xD9\xC5\xC1");
    EXPECT_EQ(site.Fonts[grandchild].Charset, 129);
    EXPECT_EQ(Translator->TranslateIntoLanguage(), dlGerman);
    Translator->SetFonts(nullptr, true); // nothing happens without a control
}

} // namespace
} // namespace orvex
