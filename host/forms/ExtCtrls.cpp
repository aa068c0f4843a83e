// Panels, images and radio groups.

#include "host/forms/ExtCtrls.h"

#include <algorithm>

namespace orvex {

// ----------------------------------------------------------------- TCustomPanel

TCustomPanel::TCustomPanel(TComponent* owner) : TCustomControl(owner)
{
    InitColor(clBtnFace, false);
    SetBounds(0, 0, 185, 41);
}

void TCustomPanel::Layout()
{
    Realign();
    Invalidate();
}

void TCustomPanel::SetBevelInner(TPanelBevel value)
{
    FBevelInner = value;
    Layout();
}

void TCustomPanel::SetBevelOuter(TPanelBevel value)
{
    FBevelOuter = value;
    Layout();
}

void TCustomPanel::SetBevelWidth(int value)
{
    FBevelWidth = std::max(1, value);
    Layout();
}

void TCustomPanel::SetBorderWidth(int value)
{
    FBorderWidth = std::max(0, value);
    Layout();
}

void TCustomPanel::SetBorderStyle(TBorderStyle value)
{
    FBorderStyle = value == bsNone ? bsNone : bsSingle;
    Layout();
}

void TCustomPanel::SetAlignment(TAlignment value)
{
    FAlignment = value;
    Invalidate();
}

void TCustomPanel::AdjustClientRect(TRect& rect)
{
    int inset = FBorderWidth + (FBorderStyle == bsSingle ? 1 : 0);
    if (FBevelOuter != bvNone)
        inset += FBevelWidth;
    if (FBevelInner != bvNone)
        inset += FBevelWidth;
    InflateRect(rect, -inset, -inset);
}

namespace {

void Bevel(TCanvas& canvas, TRect& rect, TPanelBevel bevel, TColor face, int width)
{
    switch (bevel) {
    case bvRaised: Frame3D(canvas, rect, clBtnHighlight, clBtnShadow, width); break;
    case bvLowered: Frame3D(canvas, rect, clBtnShadow, clBtnHighlight, width); break;
    case bvSpace: Frame3D(canvas, rect, face, face, width); break;
    default: break;
    }
}

} // namespace

void TCustomPanel::Paint()
{
    TCanvas& canvas = *Canvas();
    TRect rect = ClientRect();
    if (FBorderStyle == bsSingle)
        Frame3D(canvas, rect, clWindowFrame, clWindowFrame, 1);
    Bevel(canvas, rect, FBevelOuter, Color(), FBevelWidth);
    if (FBorderWidth > 0)
        Frame3D(canvas, rect, Color(), Color(), FBorderWidth);
    Bevel(canvas, rect, FBevelInner, Color(), FBevelWidth);
    canvas.Brush()->SetColor(Color());
    canvas.FillRect(rect);
    const std::string text = StripAccelChar(GetText());
    if (text.empty())
        return;
    const TSize extent = canvas.TextExtent(text);
    int x = rect.Left;
    if (FAlignment == taCenter)
        x = (rect.Left + rect.Right - extent.cx) / 2;
    else if (FAlignment == taRightJustify)
        x = rect.Right - extent.cx;
    canvas.Brush()->SetStyle(bsClear);
    canvas.TextRect(rect, x, (rect.Top + rect.Bottom - extent.cy) / 2, text);
}

void TCustomPanel::TextChanged()
{
    TCustomControl::TextChanged();
    Invalidate();
}

void TCustomPanel::DefineTextProperties(TTextPropertyList& list)
{
    TCustomControl::DefineTextProperties(list);
    DefineCaption(list);
}

// ----------------------------------------------------------------------- TImage

TImage::TImage(TComponent* owner) : TGraphicControl(owner), FPicture(std::make_unique<TPicture>())
{
    FPicture->OnChange = [this](TObject*) { PictureChanged(); };
    SetBounds(0, 0, 105, 105);
}

TImage::~TImage()
{
    FPicture->OnChange = nullptr;
}

void TImage::PictureChanged()
{
    if (FTransparent && FPicture->Graphic() != nullptr && !FPicture->Graphic()->Transparent())
        FPicture->Graphic()->SetTransparent(true);
    if (AutoSize())
        AdjustSize();
    Invalidate();
}

void TImage::AdjustSize()
{
    if (AutoSize() && !FPicture->Empty())
        SetBounds(Left(), Top(), FPicture->Width(), FPicture->Height());
}

void TImage::SetStretch(bool value)
{
    FStretch = value;
    Invalidate();
}

void TImage::SetCenter(bool value)
{
    FCenter = value;
    Invalidate();
}

void TImage::SetTransparent(bool value)
{
    FTransparent = value;
    if (FPicture->Graphic() != nullptr)
        FPicture->Graphic()->SetTransparent(value);
    Invalidate();
}

void TImage::Paint()
{
    TGraphic* graphic = FPicture->Graphic();
    if (graphic == nullptr || graphic->Empty())
        return;
    TRect dest = Bounds(0, 0, graphic->Width(), graphic->Height());
    if (FStretch)
        dest = ClientRect();
    else if (FCenter)
        OffsetRect(dest, (Width() - graphic->Width()) / 2, (Height() - graphic->Height()) / 2);
    Canvas()->StretchDraw(dest, graphic);
}

// ------------------------------------------------------------ TCustomRadioGroup

class TCustomRadioGroup::TGroupButton : public TRadioButton {
public:
    explicit TGroupButton(TCustomRadioGroup* group) : TRadioButton(group), FGroup(group)
    {
        SetParent(group);
    }
    void Click() override
    {
        TRadioButton::Click();
        if (Checked())
            FGroup->ButtonClicked(this);
    }

private:
    TCustomRadioGroup* FGroup;
};

class TCustomRadioGroup::TItemStrings : public TStringList {
public:
    explicit TItemStrings(TCustomRadioGroup* group) : FGroup(group) {}
    TCustomRadioGroup* FGroup;

protected:
    void Changed() override
    {
        TStringList::Changed();
        if (UpdateCount() == 0 && FGroup != nullptr)
            FGroup->ItemsChanged();
    }
};

TCustomRadioGroup::TCustomRadioGroup(TComponent* owner)
    : TCustomGroupBox(owner), FItems(std::make_unique<TItemStrings>(this))
{
}

TCustomRadioGroup::~TCustomRadioGroup()
{
    FItems->FGroup = nullptr;
    FUpdating = true;
    while (!FButtons.empty()) {
        TRadioButton* button = FButtons.back();
        FButtons.pop_back();
        delete button;
    }
}

TStrings* TCustomRadioGroup::Items() const
{
    return FItems.get();
}

void TCustomRadioGroup::SetItems(TStrings* value)
{
    FItems->Assign(value);
}

void TCustomRadioGroup::ItemsChanged()
{
    FUpdating = true;
    while (!FButtons.empty()) {
        TRadioButton* button = FButtons.back();
        FButtons.pop_back();
        delete button;
    }
    for (int i = 0; i < FItems->Count(); ++i) {
        auto* button = new TGroupButton(this);
        button->SetCaption(FItems->Get(i));
        FButtons.push_back(button);
    }
    if (FItemIndex >= ButtonCount())
        FItemIndex = -1;
    if (FItemIndex >= 0)
        FButtons[FItemIndex]->SetChecked(true);
    FUpdating = false;
    ArrangeButtons();
}

void TCustomRadioGroup::ArrangeButtons()
{
    if (FButtons.empty())
        return;
    Canvas()->SetFont(Font());
    const int textHeight = Canvas()->TextHeight("0");
    const int count = ButtonCount();
    const int perColumn = (count + FColumns - 1) / FColumns;
    const int buttonWidth = (Width() - 10) / FColumns;
    const int room = std::max(0, Height() - textHeight - 5);
    const int buttonHeight = room / perColumn;
    const int top = textHeight + 1 + (room % perColumn) / 2;
    for (int i = 0; i < count; ++i)
        FButtons[i]->SetBounds((i / perColumn) * buttonWidth + 8, (i % perColumn) * buttonHeight + top,
                               std::max(0, buttonWidth - 2), buttonHeight);
}

void TCustomRadioGroup::ButtonClicked(TRadioButton* button)
{
    if (FUpdating)
        return;
    const auto it = std::find(FButtons.begin(), FButtons.end(), button);
    if (it == FButtons.end())
        return;
    FItemIndex = static_cast<int>(it - FButtons.begin());
    Click();
}

void TCustomRadioGroup::SetItemIndex(int value)
{
    value = std::clamp(value, -1, ButtonCount() - 1);
    FUpdating = true;
    FItemIndex = value;
    for (int i = 0; i < ButtonCount(); ++i)
        if (i != value && FButtons[i]->Checked())
            FButtons[i]->SetChecked(false);
    if (value >= 0)
        FButtons[value]->SetChecked(true);
    FUpdating = false;
}

void TCustomRadioGroup::SetColumns(int value)
{
    FColumns = std::clamp(value, 1, 16);
    ArrangeButtons();
}

void TCustomRadioGroup::BoundsChanged(bool sized)
{
    TCustomGroupBox::BoundsChanged(sized);
    if (sized)
        ArrangeButtons();
}

void TCustomRadioGroup::FontChanged()
{
    TCustomGroupBox::FontChanged();
    ArrangeButtons();
}

void TCustomRadioGroup::Notification(TComponent* component, TOperation operation)
{
    TCustomGroupBox::Notification(component, operation);
    if (operation == opRemove)
        FButtons.erase(std::remove(FButtons.begin(), FButtons.end(), component), FButtons.end());
}

void TCustomRadioGroup::DefineTextProperties(TTextPropertyList& list)
{
    TCustomGroupBox::DefineTextProperties(list);
    list.AddStrings("Items", tpItems, FItems.get());
}

} // namespace orvex
