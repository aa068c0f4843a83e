#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "installer/cmp_TTranslateControls.h"
#include "installer/cmp_TTranslator.h"
#include "installer/routines_FileSystem.h"
#include "platform/WinPaths.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

class TranslateControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Headless()->Reset();
        UseFormsTranslationSite();
        Translator = new TTranslator(nullptr);
        Translator->lgEnglish()->Strings()->SetText("12;Next\r\n13;Cancel\r\n14;Please wait");
        Translator->lgGerman()->Strings()->SetText("12;Weiter\r\n13;Abbrechen\r\n14;Bitte warten");
        Translator->SetTranslateIntoLanguage(dlGerman);
    }
    void TearDown() override
    {
        delete Translator;
        SetTranslationSite(nullptr);
        Headless()->Reset();
    }
    TTranslator* Translator = nullptr;
};

TEST_F(TranslateControlsTest, FormsTranslateByTextOrByTheControlsOwnId)
{
    TForm form(nullptr);
    form.SetCaption("Please wait");
    auto* panel = new TPanel(&form);
    panel->SetParent(&form);
    panel->SetCaption("Cancel");
    auto* label = new TTranslateLabel(&form);
    label->SetParent(panel);
    label->SetCaption("Anything");
    label->GLID = 12;
    auto* button = new TTranslateBitBtn(&form);
    button->SetParent(panel);
    button->SetCaption("Next");
    button->GLID = -1; // an id of its own: left as it is
    auto* plain = new TLabel(&form);
    plain->SetParent(&form);
    plain->SetCaption("Next");
    const int plainWidth = plain->Width();
    auto* other = new TForm(&form); // owned forms are not translated
    other->SetCaption("Next");

    EXPECT_EQ(TranslateComponent(dlEnglish, &form), dlGerman);
    EXPECT_EQ(form.Caption(), "Bitte warten");
    EXPECT_EQ(panel->Caption(), "Abbrechen");
    EXPECT_EQ(label->Caption(), "Weiter");
    EXPECT_EQ(button->Caption(), "Next");
    EXPECT_EQ(plain->Caption(), "Weiter");
    EXPECT_EQ(other->Caption(), "Next");
    // The label's auto-size was off while its text changed and is back on.
    EXPECT_TRUE(plain->AutoSize());
    EXPECT_EQ(plain->Width(), plainWidth * 6 / 4);
    EXPECT_TRUE(label->Visible());
}

TEST_F(TranslateControlsTest, FontRulesReachEveryChildControl)
{
    TForm form(nullptr);
    auto* panel = new TPanel(&form);
    panel->SetParent(&form);
    auto* label = new TTranslateLabel(&form);
    label->SetParent(panel);
    label->Font()->SetSize(6);
    SetControlFontsInLanguage(dlRussian, &form, true);
    EXPECT_EQ(form.Font()->Name(), "Arial");
    EXPECT_EQ(label->Font()->Name(), "Arial");
    EXPECT_EQ(label->Font()->Charset(), 204);
    EXPECT_EQ(label->Font()->Size(), 8); // raised to the minimum
}

TEST_F(TranslateControlsTest, TheFolderDialogCreatesTheChosenFolderUnlessRefused)
{
    TTempWindowsRoot root;
    TTempWindowsRoot::WriteFile("C:\\Existing\\file.txt", "x");
    TOpenFolderDialog dialog(nullptr);
    dialog.InitialFolder = "C:\\Existing\\Not\\There";
    Headless()->ChooseFolder("C:\\Made\\Here").ChooseFolder("C:\\Refused").CancelFolder();

    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "C:\\Made\\Here");
    EXPECT_TRUE(WinDirectoryExists("C:\\Made\\Here"));

    int asked = 0;
    dialog.OnBeforeCreateFolder = [&](TObject*, bool& create) {
        ++asked;
        create = false;
    };
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(WinDirectoryExists("C:\\Refused"));

    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "C:\\Refused"); // a cancel keeps the last choice
    // The browser shows its title.
    EXPECT_NE(Headless()->Log()[0].find("Browse for Folder"), std::string::npos);
}

} // namespace
} // namespace orvex
