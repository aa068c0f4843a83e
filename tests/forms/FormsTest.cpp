#include "host/forms/Dialogs.h"
#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "host/forms/StdCtrls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace orvex {
namespace {

// A dialog with an edit, an OK button (default), a Cancel button and a button
// that does whatever a test wants.
class TSampleForm : public TForm {
public:
    explicit TSampleForm(TComponent* owner, const char* name = "SampleForm") : TForm(owner)
    {
        SetName(name);
        SetBounds(100, 100, 300, 200);
        Position = poScreenCenter;
        edName = Add<TEdit>("edName", 10, 10, 150, 21);
        btnAction = Add<TButton>("btnAction", 10, 40, 75, 25);
        btnAction->SetCaption("&Action");
        OKButton = Add<TButton>("OKButton", 100, 140, 75, 25);
        OKButton->SetCaption("&OK");
        OKButton->ModalResult = mrOk;
        OKButton->SetDefault(true);
        CancelButton = Add<TButton>("CancelButton", 190, 140, 75, 25);
        CancelButton->SetCaption("Cancel");
        CancelButton->ModalResult = mrCancel;
        CancelButton->SetCancel(true);
        OnShow = [this](TObject*) { ++Shows; };
        OnActivate = [this](TObject*) { ++Activations; };
    }
    template <class T>
    T* Add(const char* name, int left, int top, int width, int height)
    {
        T* control = new T(this);
        control->SetName(name);
        control->SetParent(this);
        control->SetBounds(left, top, width, height);
        return control;
    }
    TEdit* edName;
    TButton* btnAction;
    TButton* OKButton;
    TButton* CancelButton;
    int Shows = 0;
    int Activations = 0;
};

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Headless()->Reset();
        Application->OnException = nullptr;
        form = std::make_unique<TSampleForm>(nullptr);
    }
    void TearDown() override { Application->OnException = nullptr; }
    THeadlessBackend& script() { return *Headless(); }
    bool Logged(const std::string& line) const
    {
        const auto& log = Headless()->Log();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    std::unique_ptr<TSampleForm> form;
};

TEST_F(FormsTest, TheHeadlessScreenIsFixed)
{
    EXPECT_EQ(Screen->Width(), 1024);
    EXPECT_EQ(Screen->Height(), 768);
    EXPECT_EQ(Screen->CaptionHeight(), 18);
    EXPECT_EQ(form->ClientWidth(), 300 - 8);
    EXPECT_EQ(form->ClientHeight(), 200 - 8 - 18);
    form->SetBorderStyle(bsDialog);
    EXPECT_EQ(form->ClientWidth(), 300 - 6);
    form->SetClientHeight(150);
    EXPECT_EQ(form->Height(), 150 + 6 + 18);
}

TEST_F(FormsTest, AScriptedModalFormReturnsItsButtonsResult)
{
    script().Type("Ann").Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(form->edName->Text(), "Ann");
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Modal());
    EXPECT_EQ(form->Shows, 1);
    EXPECT_EQ(form->Activations, 1);
    EXPECT_EQ(form->Left(), (1024 - 300) / 2);
    EXPECT_EQ(form->Top(), (768 - 200) / 2);
    EXPECT_TRUE(Logged("ShowModal SampleForm"));
    EXPECT_EQ(script().PendingSteps(), 0);
}

TEST_F(FormsTest, AModalFormThatNoScriptAnswersIsCancelled)
{
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_TRUE(Logged("Cancel SampleForm (no script)"));

    // Even when OnCloseQuery never lets it close.
    int asked = 0;
    form->OnCloseQuery = [&](TObject*, bool& canClose) {
        ++asked;
        canClose = false;
    };
    script().Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(asked, 2); // the OK button's try, then the forced cancel's
}

TEST_F(FormsTest, OnCloseQueryCanKeepTheFormOpen)
{
    int asked = 0;
    form->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++asked > 1; };
    script().Click("OKButton").Click("edName").Type("later").Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(form->edName->Text(), "later");
    EXPECT_EQ(asked, 2);
}

TEST_F(FormsTest, AnExceptionInAClickHandlerReachesTheApplicationAndTheFormGoesOn)
{
    form->btnAction->OnClick = [](TObject*) { throw Exception("boom"); };
    std::vector<std::string> caught;
    TObject* from = nullptr;
    Application->OnException = [&](TObject* sender, Exception& e) {
        caught.push_back(e.Message());
        from = sender;
    };
    script().Click("btnAction").Click("edName").Type("x").Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(caught, std::vector<std::string>{"boom"});
    EXPECT_EQ(from, form->btnAction);
    EXPECT_EQ(form->edName->Text(), "x");
}

TEST_F(FormsTest, WithoutAHandlerTheApplicationShowsTheError)
{
    Application->SetTitle("Sample");
    int which = 0;
    form->btnAction->OnClick = [&](TObject*) {
        switch (which++) {
        case 0: throw Exception("Disk full");
        case 1: throw Exception("Really?");
        case 2: Abort();
        default: throw std::runtime_error("plain failure");
        }
    };
    script().Click("btnAction").Click("btnAction").Click("btnAction").Click("btnAction").Click(
        "CancelButton");
    EXPECT_EQ(form->ShowModal(), mrCancel);
    const auto& messages = script().Messages();
    ASSERT_EQ(messages.size(), 3u); // the silent abort shows nothing
    EXPECT_EQ(messages[0].Text, "Disk full.");
    EXPECT_EQ(messages[0].Caption, "Sample");
    EXPECT_EQ(messages[0].Flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(messages[1].Text, "Really?.");
    EXPECT_EQ(messages[2].Text, "plain failure.");
    Application->SetTitle("");
}

TEST_F(FormsTest, ScriptMistakesStopTheTestNotTheProgram)
{
    script().Click("NoSuchButton");
    EXPECT_THROW(form->ShowModal(), EHeadlessScript);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Modal());

    // What the user could not do is refused and logged, and the form goes on.
    form->OKButton->SetEnabled(false);
    script().Click("OKButton").Press(VK_RETURN).Press(VK_ESCAPE);
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_TRUE(Logged("Refused: OKButton is disabled or hidden"));
}

TEST_F(FormsTest, DialogKeysAndAccelerators)
{
    struct Case {
        std::function<void(THeadlessBackend&)> steps;
        TModalResult expected;
    };
    const Case cases[] = {
        {[](THeadlessBackend& s) { s.Press(VK_RETURN); }, mrOk},
        {[](THeadlessBackend& s) { s.Press(VK_ESCAPE); }, mrCancel},
        {[](THeadlessBackend& s) { s.Accel('o'); }, mrOk},
        {[](THeadlessBackend& s) { s.Focus("CancelButton").Press(VK_RETURN); }, mrCancel},
        {[](THeadlessBackend& s) { s.Focus("CancelButton").Press(VK_SPACE); }, mrCancel},
        {[](THeadlessBackend& s) { s.CloseForm(); }, mrCancel},
    };
    for (const Case& c : cases) {
        Headless()->Reset();
        c.steps(script());
        EXPECT_EQ(form->ShowModal(), c.expected);
        EXPECT_EQ(script().PendingSteps(), 0);
    }
}

TEST_F(FormsTest, TabMovesTheFocusAndEnteringAnEditSelectsIt)
{
    form->edName->SetText("old");
    std::vector<std::string> focus;
    auto note = [&](TCustomForm* f) { focus.push_back(f->ActiveControl()->Name()); };
    script().Do(note).Press(VK_TAB).Do(note).Press(VK_TAB, true).Do(note).Type("new").Press(VK_RETURN);
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(focus, (std::vector<std::string>{"edName", "btnAction", "edName"}));
    EXPECT_EQ(form->edName->Text(), "new");
}

TEST_F(FormsTest, MessageBoxesTakeTheirAnswersFromTheScript)
{
    script().Answer(IDYES);
    EXPECT_EQ(MessageDlg("Go on?", mtConfirmation, mbYes | mbNo), mrYes);
    EXPECT_EQ(MessageDlg("Go on?", mtConfirmation, mbYes | mbNo), mrNo);
    EXPECT_EQ(Application->MessageBox("Sure?", "Setup", MB_OKCANCEL), IDCANCEL);
    ShowMessage("Done");
    const auto& messages = script().Messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].Caption, "Confirm");
    EXPECT_TRUE(messages[0].Scripted);
    EXPECT_EQ(messages[0].Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_FALSE(messages[1].Scripted);
    EXPECT_EQ(messages[3].Flags, MB_OK | MB_ICONINFORMATION);

    // A box opened by a click takes the answer that follows the click.
    int answer = 0;
    form->btnAction->OnClick = [&](TObject*) { answer = Application->MessageBox("Q", "C", MB_YESNO); };
    script().Click("btnAction").Answer(IDYES).Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(answer, IDYES);
}

TEST_F(FormsTest, NestedModalFormsTakeTheStepsMeantForThem)
{
    TSampleForm inner(nullptr, "InnerForm");
    TModalResult innerResult = mrNone;
    form->btnAction->OnClick = [&](TObject*) { innerResult = inner.ShowModal(); };
    script()
        .Click("btnAction")
        .ForForm("InnerForm")
        .Type("deep")
        .Click("OKButton")
        .ForForm("SampleForm")
        .Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(innerResult, mrOk);
    EXPECT_EQ(inner.edName->Text(), "deep");
    EXPECT_EQ(form->Activations, 2); // again when the inner form went away

    // A step for another form cancels the one that waits.
    script().ForForm("InnerForm").Click("OKButton");
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_EQ(script().PendingSteps(), 1);
}

TEST_F(FormsTest, MisuseOfFormsIsRefused)
{
    TSampleForm other(nullptr, "Other");
    EXPECT_THROW(form->SetActiveControl(other.edName), EInvalidOperation);
    EXPECT_THROW(form->edName->SetFocus(), EInvalidOperation); // not shown yet
    form->SetVisible(true);
    EXPECT_THROW(form->ShowModal(), EInvalidOperation);
    form->edName->SetFocus();
    EXPECT_TRUE(form->edName->Focused());
    form->edName->SetVisible(false);
    EXPECT_EQ(form->ActiveControl(), nullptr);
    EXPECT_THROW(form->SetActiveControl(form->edName), EInvalidOperation);
    form->SetVisible(false);
}

TEST_F(FormsTest, ClosingWithCaFreeFreesTheFormAfterItsLoop)
{
    auto* transient = new TSampleForm(nullptr, "Transient");
    transient->OnClose = [](TObject*, TCloseAction& action) { action = caFree; };
    const int forms = Screen->FormCount();
    script().Click("OKButton");
    EXPECT_EQ(transient->ShowModal(), mrOk);
    EXPECT_EQ(Screen->FormCount(), forms);
    Application->ProcessMessages();
    EXPECT_EQ(Screen->FormCount(), forms - 1);
}

TEST_F(FormsTest, RunShowsTheMainFormActivatesItOnceAndEndsWithIt)
{
    TSampleForm* main = nullptr;
    Application->CreateForm(main);
    ASSERT_EQ(Application->MainForm(), main);
    int firstActivations = 0;
    bool started = false;
    main->OnActivate = [&](TObject*) {
        if (!started) {
            started = true;
            ++firstActivations;
        }
        ++main->Activations;
    };
    TSampleForm dialog(nullptr, "Dialog");
    main->btnAction->OnClick = [&](TObject*) { dialog.ShowModal(); };
    script().Type("hello").Click("btnAction").ForForm("Dialog").Click("OKButton").ForForm("").CloseForm();
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(firstActivations, 1);
    EXPECT_EQ(main->Activations, 2);
    EXPECT_EQ(main->edName->Text(), "hello");
    delete main;
    EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST_F(FormsTest, TheFolderBrowserTakesItsAnswerFromTheScript)
{
    TFolderBrowse browse;
    browse.Title = "Choose";
    script().ChooseFolder("/opt/orvex").CancelFolder();
    EXPECT_TRUE(BrowseForFolder(browse));
    EXPECT_EQ(browse.Folder, "/opt/orvex");
    browse.Folder.clear();
    EXPECT_FALSE(BrowseForFolder(browse));
    EXPECT_FALSE(BrowseForFolder(browse));
    EXPECT_TRUE(browse.Folder.empty());
}

TEST_F(FormsTest, ChildFormsLiveInsideTheirHost)
{
    auto* panel = form->Add<TPanel>("pnlHost", 0, 0, 200, 100);
    panel->SetBevelOuter(bvNone);
    auto* page = new TSampleForm(form.get(), "Page");
    page->SetBorderStyle(bsNone);
    page->SetParent(panel);
    page->SetBounds(0, 0, 200, 100);
    page->SetColor(clTeal);
    page->SetVisible(true);
    EXPECT_EQ(GetParentForm(page->edName), form.get());
    EXPECT_EQ(page->ClientWidth(), 200);

    script().Focus("edName").Type("in page").Click("OKButton");
    // Names are searched depth first: the host's own edit comes first.
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_EQ(form->edName->Text(), "in page");

    const TRGBImage image = Headless()->Snapshot(form.get());
    EXPECT_EQ(image.Pixel(199, 99), clTeal);
}

TEST_F(FormsTest, SnapshotsShowEachControlsLook)
{
    form->SetBorderStyle(bsNone);
    auto* panel = form->Add<TPanel>("pnl", 10, 70, 60, 30);
    auto* label = form->Add<TLabel>("lbl", 100, 80, 0, 0);
    label->SetCaption("Hi");
    form->edName->SetColor(clMenu);
    auto* check = form->Add<TCheckBox>("chk", 200, 10, 80, 17);
    check->SetChecked(true);
    const TRGBImage image = Headless()->Snapshot(form.get());
    ASSERT_EQ(image.Width(), 300);
    const TColor face = ColorToRGB(clBtnFace);
    EXPECT_EQ(image.Pixel(5, 5), face);                            // the form
    EXPECT_EQ(image.Pixel(10 + 75, 10 + 10), ColorToRGB(clMenu));  // the edit inside
    EXPECT_EQ(image.Pixel(10, 10), ColorToRGB(clBtnShadow));       // its sunken frame
    EXPECT_EQ(image.Pixel(10, 70), clWhite);                       // the panel's raised bevel
    EXPECT_EQ(image.Pixel(69, 99), ColorToRGB(clBtnShadow));
    EXPECT_EQ(image.Pixel(40, 85), face);
    EXPECT_EQ(image.Pixel(100 + 1, 80 + 5), clBlack);              // the label's text
    EXPECT_EQ(image.Pixel(100 + 4, 80 + 5), face);
    EXPECT_EQ(image.Pixel(100, 140), clBlack);                     // the default button's frame
    EXPECT_EQ(image.Pixel(200 + 6, 10 + 8), clBlack);              // the check mark
    (void)panel;
}

} // namespace
} // namespace orvex
