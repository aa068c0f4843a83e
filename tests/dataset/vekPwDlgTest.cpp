#include "dataset/vekPwDlg.h"

#include "host/forms/Headless.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace orvex {
namespace {

// What the dialog looked like when the user first saw it.
struct TSeen {
    std::string Caption;
    std::string Focused;
    std::string Labels[3];
    std::string Texts[3];
    bool Enabled[3] = {};
    TColor Colors[3] = {};
    TRect Bounds[5];
    TRect FormBounds;
    TRGBImage Image;
};

class LoginDialogTest : public ::testing::Test {
protected:
    void SetUp() override { Headless()->Reset(); }
    THeadlessBackend& script() { return *Headless(); }
    // A script step that notes the dialog's state.
    std::function<void(TCustomForm*)> Look()
    {
        return [this](TCustomForm* form) {
            auto* d = dynamic_cast<TVekPasswordDialog*>(form);
            ASSERT_NE(d, nullptr);
            seen.Caption = d->Caption();
            seen.Focused = d->ActiveControl() != nullptr ? d->ActiveControl()->Name() : "";
            TLabel* labels[] = {d->lblMasterKey, d->lblUsername, d->lblPassword};
            TEdit* edits[] = {d->ebMasterKey, d->ebUsername, d->ebPassword};
            for (int i = 0; i < 3; ++i) {
                seen.Labels[i] = labels[i]->Caption();
                seen.Texts[i] = edits[i]->Text();
                seen.Enabled[i] = edits[i]->Enabled();
                seen.Colors[i] = edits[i]->Color();
                seen.Bounds[i] = edits[i]->BoundsRect();
            }
            seen.Bounds[3] = d->OKButton->BoundsRect();
            seen.Bounds[4] = d->CancelButton->BoundsRect();
            seen.FormBounds = d->BoundsRect();
            seen.Image = Headless()->Snapshot(d);
        };
    }
    std::string key = "oldkey";
    std::string user = "bob";
    std::string password = "oldpw";
    TSeen seen;
};

TEST_F(LoginDialogTest, UserModeDisablesAndColoursTheKeyAndStartsInThePassword)
{
    script().Do(Look()).Type("secret").Press(VK_RETURN);
    ASSERT_TRUE(ShowVekLoginDialog("/data/shop/orders.vek", vekLoginUser, key, user, password));
    EXPECT_EQ(seen.Caption, "Database Login - orders.vek");
    EXPECT_EQ(seen.Focused, "ebPassword");
    EXPECT_FALSE(seen.Enabled[0]);
    EXPECT_TRUE(seen.Enabled[1]);
    EXPECT_TRUE(seen.Enabled[2]);
    EXPECT_EQ(seen.Colors[0], clMenu);
    EXPECT_EQ(seen.Colors[1], clWindow);
    EXPECT_EQ(seen.Texts[1], "bob");
    // The disabled key's edit shows the menu colour, the others white.
    const int x = 104 + 160, y = 14 + 10; // inside ebMasterKey, clear of its text
    EXPECT_EQ(seen.Image.Pixel(x, y), ColorToRGB(clMenu));
    EXPECT_EQ(seen.Image.Pixel(x, y + 28), clWhite);
    // OK gives back all three; the disabled one as it was given.
    EXPECT_EQ(key, "oldkey");
    EXPECT_EQ(user, "bob");
    EXPECT_EQ(password, "secret");
}

TEST_F(LoginDialogTest, TheFocusRuleAndTheEnabledEditsFollowTheMode)
{
    struct Case {
        int mode;
        const char* focused;
        bool keyEnabled, userEnabled;
    };
    const Case cases[] = {
        {vekLoginMasterKey, "ebMasterKey", true, false},
        {vekLoginUser, "ebPassword", false, true},
        {vekLoginMasterKey | vekLoginUser, "ebMasterKey", true, true},
        {0, "OKButton", false, false}, // nothing asked for: no edit takes the focus
    };
    for (const Case& c : cases) {
        Headless()->Reset();
        script().Do(Look());
        EXPECT_FALSE(ShowVekLoginDialog("x.vek", c.mode, key, user, password));
        EXPECT_EQ(seen.Focused, c.focused) << c.mode;
        EXPECT_EQ(seen.Enabled[0], c.keyEnabled) << c.mode;
        EXPECT_EQ(seen.Enabled[1], c.userEnabled) << c.mode;
        EXPECT_EQ(seen.Enabled[2], c.userEnabled) << c.mode;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(seen.Colors[i], seen.Enabled[i] ? clWindow : clMenu) << c.mode << " " << i;
    }
}

TEST_F(LoginDialogTest, CancelLeavesAllThreeValues)
{
    const std::function<void(THeadlessBackend&)> cancels[] = {
        [](THeadlessBackend& s) { s.Type("typed").Press(VK_TAB).Type("more").Click("CancelButton"); },
        [](THeadlessBackend& s) { s.Type("typed").Press(VK_ESCAPE); },
        [](THeadlessBackend& s) { s.Type("typed").CloseForm(); },
        [](THeadlessBackend&) {}, // nobody answers
    };
    for (const auto& cancel : cancels) {
        Headless()->Reset();
        cancel(script());
        EXPECT_FALSE(ShowVekLoginDialog("x.vek", 3, key, user, password));
        EXPECT_EQ(key, "oldkey");
        EXPECT_EQ(user, "bob");
        EXPECT_EQ(password, "oldpw");
    }
}

TEST_F(LoginDialogTest, AFortyFirstCharacterCannotBeTyped)
{
    const std::string forty(40, 'k');
    script().Type(forty + "X").Press(VK_TAB).Type(std::string(41, 'u')).Press(VK_TAB).Type("p").Click(
        "OKButton");
    ASSERT_TRUE(ShowVekLoginDialog("x.vek", 3, key, user, password));
    EXPECT_EQ(key, forty);
    EXPECT_EQ(user, std::string(40, 'u'));
    EXPECT_EQ(password, "p");
    const auto& log = script().Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Refused: 'X' in ebMasterKey"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Refused: 'u' in ebUsername"), 1);
}

TEST_F(LoginDialogTest, TheFormKeepsItsDesign)
{
    script().Do(Look());
    ShowVekLoginDialog("MEMORY", 3, key, user, password);
    EXPECT_EQ(seen.Caption, "Database Login - MEMORY");
    EXPECT_EQ(seen.Labels[0], "Database Password:");
    EXPECT_EQ(seen.Labels[1], "User name:");
    EXPECT_EQ(seen.Labels[2], "User Password:");
    EXPECT_EQ(seen.Bounds[0], Bounds(104, 14, 173, 21));
    EXPECT_EQ(seen.Bounds[1], Bounds(104, 42, 173, 21));
    EXPECT_EQ(seen.Bounds[2], Bounds(104, 76, 173, 21));
    EXPECT_EQ(seen.Bounds[3], Bounds(118, 106, 65, 21));
    EXPECT_EQ(seen.Bounds[4], Bounds(197, 106, 65, 21));
    // Centred on the 1024 x 768 screen.
    EXPECT_EQ(seen.FormBounds, Bounds((1024 - 336) / 2, (768 - 174) / 2, 336, 174));

    TVekPasswordDialog dialog(nullptr);
    EXPECT_EQ(dialog.Caption(), "Enter password");
    EXPECT_EQ(dialog.Font()->Name(), "MS Sans Serif");
    EXPECT_EQ(dialog.Font()->Height(), -11);
    EXPECT_EQ(dialog.ActiveControl(), dialog.ebUsername);
    EXPECT_EQ(dialog.ebMasterKey->PasswordChar(), '*');
    EXPECT_EQ(dialog.ebUsername->PasswordChar(), 0);
    EXPECT_EQ(dialog.ebPassword->PasswordChar(), '*');
    EXPECT_EQ(dialog.OKButton->TabOrder(), 0);
    EXPECT_EQ(dialog.CancelButton->TabOrder(), 1);
    EXPECT_EQ(dialog.ebPassword->TabOrder(), 4);
    EXPECT_TRUE(dialog.OKButton->Default());
    EXPECT_TRUE(dialog.CancelButton->Cancel());
    EXPECT_EQ(dialog.CancelButton->ModalResult, mrCancel);
}

TEST_F(LoginDialogTest, TabGoesThroughTheEditsAndOnToTheButtons)
{
    std::vector<std::string> path;
    auto note = [&](TCustomForm* f) { path.push_back(f->ActiveControl()->Name()); };
    script().Do(note).Press(VK_TAB).Do(note).Press(VK_TAB).Do(note).Press(VK_TAB).Do(note).Press(
        VK_TAB).Do(note);
    ShowVekLoginDialog("x.vek", 3, key, user, password);
    EXPECT_EQ(path, (std::vector<std::string>{"ebMasterKey", "ebUsername", "ebPassword", "OKButton",
                                              "CancelButton"}));
}

} // namespace
} // namespace orvex
