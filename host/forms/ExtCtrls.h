#pragma once
// Panels, images and radio groups.

#include "host/forms/StdCtrls.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };

// A panel: bevels, a border and a centred caption around its children.
// Aligned children fill the space inside the border and the bevels.
class TCustomPanel : public TCustomControl {
public:
    explicit TCustomPanel(TComponent* owner);

    TPanelBevel BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel value);
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool Locked = false;

    void Paint() override;
    void DefineTextProperties(TTextPropertyList& list) override;

protected:
    void AdjustClientRect(TRect& rect) override;
    void TextChanged() override;

private:
    void Layout();
    TPanelBevel FBevelInner = bvNone;
    TPanelBevel FBevelOuter = bvRaised;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TBorderStyle FBorderStyle = bsNone;
    TAlignment FAlignment = taCenter;
};

class TPanel : public TCustomPanel {
public:
    using TCustomPanel::TCustomPanel;
};

// Shows a picture: at the top-left corner, centred, or stretched over the
// control; with AutoSize the control takes the picture's size.
class TImage : public TGraphicControl {
public:
    explicit TImage(TComponent* owner);
    ~TImage() override;

    TPicture* Picture() const { return FPicture.get(); }
    void SetPicture(TPicture* value) { FPicture->Assign(value); }
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);
    bool Center() const { return FCenter; }
    void SetCenter(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);

    void Paint() override;

protected:
    void AdjustSize() override;

private:
    void PictureChanged();
    std::unique_ptr<TPicture> FPicture;
    bool FStretch = false;
    bool FCenter = false;
    bool FTransparent = false;
};

// A group box of radio buttons, one per item, laid out in columns. The user's
// click on a button sets ItemIndex and fires OnClick; a program's ItemIndex
// does not fire it.
class TCustomRadioGroup : public TCustomGroupBox {
public:
    explicit TCustomRadioGroup(TComponent* owner);
    ~TCustomRadioGroup() override;

    TStrings* Items() const;
    void SetItems(TStrings* value);
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int value);
    int Columns() const { return FColumns; }
    void SetColumns(int value);
    int ButtonCount() const { return static_cast<int>(FButtons.size()); }
    TRadioButton* Buttons(int index) const { return FButtons.at(index); }

    void DefineTextProperties(TTextPropertyList& list) override;

protected:
    void BoundsChanged(bool sized) override;
    void FontChanged() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    class TGroupButton;
    class TItemStrings;
    friend class TGroupButton;
    friend class TItemStrings;
    void ItemsChanged();
    void ArrangeButtons();
    void ButtonClicked(TRadioButton* button);
    std::unique_ptr<TItemStrings> FItems;
    std::vector<TRadioButton*> FButtons;
    int FItemIndex = -1;
    int FColumns = 1;
    bool FUpdating = false;
};

class TRadioGroup : public TCustomRadioGroup {
public:
    using TCustomRadioGroup::TCustomRadioGroup;
};

} // namespace orvex
