#include "host/forms/Buttons.h"
#include "host/forms/ComCtrls.h"
#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "host/forms/StdCtrls.h"

#include <gtest/gtest.h>

#include <memory>

namespace orvex {
namespace {

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Headless()->Reset();
        form = std::make_unique<TForm>(nullptr);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 300, 200);
    }
    template <class T>
    T* Add(TWinControl* parent = nullptr)
    {
        T* control = new T(form.get());
        control->SetParent(parent != nullptr ? parent : form.get());
        return control;
    }
    std::unique_ptr<TForm> form;
};

std::vector<std::string> Names(const TTextPropertyList& list)
{
    std::vector<std::string> names;
    for (const TTextProperty& p : list)
        names.push_back(p.Name + (p.Kind == tpLines ? "[lines]" : p.Kind == tpItems ? "[items]" : ""));
    return names;
}

TEST_F(ControlsTest, EachClassListsItsTexts)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(Names(TextPropertiesOf(Add<TLabel>())), (V{"Hint", "Caption"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TEdit>())), (V{"Hint", "Text"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TMemo>())), (V{"Hint", "Lines[lines]"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TRichEdit>())), (V{"Hint", "Lines[lines]"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TBitBtn>())), (V{"Hint", "Caption"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TCheckBox>())), (V{"Hint", "Caption"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TRadioGroup>())), (V{"Hint", "Caption", "Items[items]"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TPanel>())), (V{"Hint", "Caption"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TImage>())), (V{"Hint"}));
    EXPECT_EQ(Names(TextPropertiesOf(Add<TProgressBar>())), (V{"Hint"}));
    EXPECT_EQ(Names(TextPropertiesOf(form.get())), (V{"Hint", "Caption"}));
    TComponent component(nullptr);
    EXPECT_EQ(TextPropertiesOf(&component).Count(), 0);
}

TEST_F(ControlsTest, ATranslatorReplacesTextsThroughTheList)
{
    auto* button = Add<TButton>();
    button->SetCaption("&Next >");
    auto* memo = Add<TMemo>();
    memo->Lines()->Add("one");
    memo->Lines()->Add("two");
    for (TComponent* c : {static_cast<TComponent*>(button), static_cast<TComponent*>(memo)}) {
        for (const TTextProperty& p : TextPropertiesOf(c)) {
            if (p.Kind == tpText && !p.Get().empty())
                p.Set("[" + p.Get() + "]");
            if (p.Kind == tpLines)
                p.Strings->SetText("uno\r\ndos");
        }
    }
    EXPECT_EQ(button->Caption(), "[&Next >]");
    EXPECT_EQ(button->Hint(), "");
    EXPECT_EQ(memo->Text(), "uno\r\ndos");
}

TEST_F(ControlsTest, LabelsTakeTheSizeOfTheirText)
{
    auto* label = Add<TLabel>();
    label->SetBounds(10, 10, 200, 50);
    label->SetCaption("Save && &Exit"); // shown as "Save & Exit"
    EXPECT_EQ(label->Width(), 11 * 5);
    EXPECT_EQ(label->Height(), 13);
    label->SetCaption("two\r\nlines!");
    EXPECT_EQ(label->Width(), 6 * 5);
    EXPECT_EQ(label->Height(), 26);
    label->SetCaption("");
    EXPECT_EQ(label->Width(), 5);
    // Right-justified labels keep their right edge.
    label->SetAlignment(taRightJustify);
    label->SetCaption("abcd");
    EXPECT_EQ(label->Left() + label->Width(), 10 + 5);
    EXPECT_EQ(label->Width(), 20);
    // Without AutoSize the size stays.
    label->SetAutoSize(false);
    label->SetCaption("a much longer caption");
    EXPECT_EQ(label->Width(), 20);
    // A bigger font makes a bigger label.
    label->SetAutoSize(true);
    label->Font()->SetHeight(-22);
    EXPECT_EQ(label->Height(), 26);
}

TEST_F(ControlsTest, AlignedChildrenShareTheParentsClientArea)
{
    auto* top = Add<TPanel>();
    top->SetHeight(30);
    top->SetAlign(alTop);
    auto* bottom = Add<TPanel>();
    bottom->SetHeight(20);
    bottom->SetAlign(alBottom);
    auto* left = Add<TPanel>();
    left->SetWidth(50);
    left->SetAlign(alLeft);
    auto* client = Add<TPanel>();
    client->SetAlign(alClient);
    EXPECT_EQ(top->BoundsRect(), Rect(0, 0, 300, 30));
    EXPECT_EQ(bottom->BoundsRect(), Rect(0, 180, 300, 200));
    EXPECT_EQ(left->BoundsRect(), Rect(0, 30, 50, 180));
    EXPECT_EQ(client->BoundsRect(), Rect(50, 30, 300, 180));

    form->SetBounds(0, 0, 400, 300);
    EXPECT_EQ(bottom->BoundsRect(), Rect(0, 280, 400, 300));
    EXPECT_EQ(client->BoundsRect(), Rect(50, 30, 400, 280));
    top->SetVisible(false);
    EXPECT_EQ(client->BoundsRect(), Rect(50, 0, 400, 280));

    // Inside a panel, its border and bevels are kept free.
    client->SetBorderWidth(3);
    auto* inner = Add<TPanel>(client);
    inner->SetAlign(alClient);
    EXPECT_EQ(inner->BoundsRect(), Rect(4, 4, 350 - 4, 280 - 4));
}

TEST_F(ControlsTest, FontsAndColoursFollowTheParentUntilSetOnTheControl)
{
    auto* panel = Add<TPanel>();
    auto* label = Add<TLabel>(panel);
    auto* edit = Add<TEdit>(panel);
    form->Font()->SetName("Arial");
    EXPECT_EQ(label->Font()->Name(), "Arial");
    EXPECT_EQ(edit->Font()->Name(), "Arial");
    label->Font()->SetName("Courier New");
    EXPECT_FALSE(label->ParentFont());
    form->Font()->SetHeight(-20);
    EXPECT_EQ(label->Font()->Height(), -11);
    EXPECT_EQ(edit->Font()->Height(), -20);

    panel->SetColor(clNavy);
    EXPECT_EQ(label->Color(), clNavy);    // labels take the parent's colour
    EXPECT_EQ(edit->Color(), clWindow);   // edits keep their own
}

TEST_F(ControlsTest, EditsRefuseWhatTheLimitCannotTake)
{
    auto* edit = Add<TEdit>();
    int changes = 0;
    edit->OnChange = [&](TObject*) { ++changes; };
    edit->SetMaxLength(3);
    EXPECT_TRUE(edit->TypeChar('a'));
    EXPECT_TRUE(edit->TypeChar('b'));
    EXPECT_TRUE(edit->TypeChar('c'));
    EXPECT_FALSE(edit->TypeChar('d'));
    EXPECT_EQ(edit->Text(), "abc");
    EXPECT_EQ(changes, 3);
    // A selection makes room; the caret follows the typing.
    edit->SetSelStart(1);
    edit->SetSelLength(1);
    EXPECT_TRUE(edit->TypeChar('X'));
    EXPECT_EQ(edit->Text(), "aXc");
    EXPECT_TRUE(edit->KeyDown(VK_BACK));
    EXPECT_EQ(edit->Text(), "ac");
    EXPECT_TRUE(edit->KeyDown(VK_HOME));
    EXPECT_TRUE(edit->KeyDown(VK_DELETE));
    EXPECT_EQ(edit->Text(), "c");
    // Programs are not limited; only typing is.
    edit->SetText("long text");
    EXPECT_EQ(edit->Text(), "long text");
    EXPECT_EQ(changes, 7);
    edit->SetPasswordChar('*');
    EXPECT_EQ(edit->DisplayText(), "*********");
    edit->SetReadOnly(true);
    edit->SelectAll();
    EXPECT_FALSE(edit->TypeChar('z'));
    edit->SetReadOnly(false);
    edit->SetEnabled(false);
    EXPECT_FALSE(edit->TypeChar('z'));
}

TEST_F(ControlsTest, MemoTextAndLinesAgree)
{
    auto* memo = Add<TMemo>();
    memo->SetText("a\r\nb");
    EXPECT_EQ(memo->Lines()->Count(), 2);
    memo->Lines()->Add("c");
    EXPECT_EQ(memo->Text(), "a\r\nb\r\nc");
    memo->SetSelStart(1);
    EXPECT_TRUE(memo->KeyDown(VK_RETURN));
    EXPECT_EQ(memo->Lines()->Count(), 4);
    EXPECT_EQ(memo->Lines()->Get(1), "");
}

TEST_F(ControlsTest, RadioButtonsOfOneParentExcludeEachOther)
{
    auto* a = Add<TRadioButton>();
    auto* b = Add<TRadioButton>();
    auto* panel = Add<TPanel>();
    auto* c = Add<TRadioButton>(panel);
    int clicks = 0;
    b->OnClick = [&](TObject*) { ++clicks; };
    a->SetChecked(true);
    c->SetChecked(true);
    b->SetChecked(true);
    EXPECT_FALSE(a->Checked());
    EXPECT_TRUE(b->Checked());
    EXPECT_TRUE(c->Checked()); // another parent
    EXPECT_EQ(clicks, 1);
    b->SetChecked(true);
    EXPECT_EQ(clicks, 1);
}

TEST_F(ControlsTest, RadioGroupsMakeAButtonPerItem)
{
    auto* group = Add<TRadioGroup>();
    group->SetBounds(0, 0, 200, 100);
    int clicks = 0;
    group->OnClick = [&](TObject*) { ++clicks; };
    group->Items()->Add("Yes");
    group->Items()->Add("No");
    ASSERT_EQ(group->ButtonCount(), 2);
    EXPECT_EQ(group->Buttons(1)->Caption(), "No");
    EXPECT_LT(group->Buttons(0)->Top(), group->Buttons(1)->Top());
    group->SetItemIndex(1);
    EXPECT_TRUE(group->Buttons(1)->Checked());
    EXPECT_EQ(clicks, 0); // a program's choice fires nothing
    group->Buttons(0)->SetChecked(true); // as the user's click does
    EXPECT_EQ(group->ItemIndex(), 0);
    EXPECT_FALSE(group->Buttons(1)->Checked());
    EXPECT_EQ(clicks, 1);
    group->Items()->Delete(1);
    EXPECT_EQ(group->ButtonCount(), 1);
    EXPECT_EQ(group->ItemIndex(), 0);
    group->SetItemIndex(5);
    EXPECT_EQ(group->ItemIndex(), 0);
}

TEST_F(ControlsTest, PageControlsShowTheActiveSheet)
{
    auto* pages = Add<TPageControl>();
    pages->SetBounds(0, 0, 200, 150);
    pages->SetTabHeight(0);
    auto* first = new TTabSheet(form.get());
    first->SetPageControl(pages);
    auto* second = new TTabSheet(form.get());
    second->SetPageControl(pages);
    EXPECT_EQ(pages->ActivePage(), first);
    EXPECT_TRUE(first->Visible());
    EXPECT_FALSE(second->Visible());
    EXPECT_EQ(second->BoundsRect(), Rect(0, 0, 200, 150)); // no tab row: all of it

    bool allow = false;
    int changes = 0;
    pages->OnChanging = [&](TObject*, bool& ok) { ok = allow; };
    pages->OnChange = [&](TObject*) { ++changes; };
    pages->SelectTab(1);
    EXPECT_EQ(pages->ActivePageIndex(), 0);
    allow = true;
    pages->SelectTab(1);
    EXPECT_EQ(pages->ActivePage(), second);
    EXPECT_FALSE(first->Visible());
    EXPECT_EQ(changes, 1);
    pages->SetActivePageIndex(0); // a program's change: no events
    EXPECT_EQ(changes, 1);

    pages->SetTabHeight(20);
    EXPECT_EQ(first->BoundsRect(), Rect(2, 22, 198, 148));
    EXPECT_EQ(pages->TabAt(5, 10), 0);
    delete first;
    EXPECT_EQ(pages->PageCount(), 1);
    EXPECT_EQ(pages->ActivePage(), second);
}

TEST_F(ControlsTest, TabOrderSkipsWhatCannotTakeTheFocus)
{
    auto* a = Add<TEdit>();
    auto* panel = Add<TPanel>();
    auto* b = Add<TEdit>(panel);
    auto* c = Add<TButton>();
    auto* label = Add<TLabel>();
    (void)label;
    EXPECT_EQ(c->TabOrder(), 2);
    c->SetTabOrder(0);
    EXPECT_EQ(a->TabOrder(), 1);
    EXPECT_EQ(form->FindNextControl(c, true, true), a);
    EXPECT_EQ(form->FindNextControl(a, true, true), b);
    EXPECT_EQ(form->FindNextControl(b, true, true), c);
    b->SetEnabled(false);
    EXPECT_EQ(form->FindNextControl(a, true, true), c);
    panel->SetVisible(false);
    b->SetEnabled(true);
    EXPECT_EQ(form->FindNextControl(c, false, true), a);
}

TEST_F(ControlsTest, ChildrenGoWithTheirParent)
{
    auto* panel = Add<TPanel>();
    auto* edit = Add<TEdit>(panel);
    form->SetActiveControl(edit);
    const int before = form->ComponentCount();
    delete panel;
    EXPECT_EQ(form->ComponentCount(), before - 2);
    EXPECT_EQ(form->ActiveControl(), nullptr);
    EXPECT_EQ(form->ControlCount(), 0);
}

} // namespace
} // namespace orvex
