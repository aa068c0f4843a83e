#pragma once
// Standard controls: labels, edits, memos, buttons, check boxes, radio buttons
// and group boxes.

#include "host/forms/Controls.h"

#include <memory>
#include <string>

namespace orvex {

// A text that paints itself. With AutoSize (the default) it takes the size of
// its text; a right-justified label keeps its right edge. An empty caption
// measures as one blank.
class TCustomLabel : public TGraphicControl {
public:
    explicit TCustomLabel(TComponent* owner);

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    // Focus goes here when the label's accelerator is pressed.
    TWinControl* FocusControl = nullptr;

    void Paint() override;
    void DefineTextProperties(TTextPropertyList& list) override;

protected:
    void AdjustSize() override;
    void TextChanged() override;
    void FontChanged() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    // The lines as painted: broken at line ends, and at blanks to fit the
    // width when word-wrapping.
    std::vector<std::string> Lines(TCanvas& canvas) const;
    TAlignment FAlignment = taLeftJustify;
    bool FTransparent = false;
    bool FWordWrap = false;
};

class TLabel : public TCustomLabel {
public:
    using TCustomLabel::TCustomLabel;
};

// A single-line edit. MaxLength (0: no limit) bounds what the user types;
// programs may set any text. PasswordChar (0: none) hides the text.
class TCustomEdit : public TWinControl {
public:
    explicit TCustomEdit(TComponent* owner);

    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int value);
    char PasswordChar() const { return FPasswordChar; }
    void SetPasswordChar(char value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    // Focus entering the edit selects all of its text.
    bool AutoSelect = true;

    int SelStart() const { return FSelStart; }
    int SelLength() const { return FSelLength; }
    void SetSelStart(int value);
    void SetSelLength(int value);
    std::string SelText() const;
    void SelectAll();
    void Clear() { SetText(""); }
    // The text as the control shows it (password characters in its place).
    std::string DisplayText() const;

    // The user typed a character: it replaces the selection unless the edit is
    // disabled or read-only or the result would exceed MaxLength. True when
    // taken.
    virtual bool TypeChar(char c);
    // Editing keys: VK_BACK, VK_DELETE, VK_LEFT, VK_RIGHT, VK_HOME, VK_END.
    virtual bool KeyDown(Word key);
    // The user changed the whole text through the toolkit's own editing.
    void EditedByUser(const std::string& text);

    TNotifyEvent OnChange;
    void DefineTextProperties(TTextPropertyList& list) override;
    void DoEnter() override;

protected:
    virtual void Change();
    void TextChanged() override;
    // Replaces the selection by `with` as a user edit.
    bool ReplaceSelection(const std::string& with);

private:
    int FMaxLength = 0;
    char FPasswordChar = 0;
    bool FReadOnly = false;
    int FSelStart = 0;
    int FSelLength = 0;
};

class TEdit : public TCustomEdit {
public:
    using TCustomEdit::TCustomEdit;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line edit: its text is its Lines joined with CR LF.
class TCustomMemo : public TCustomEdit {
public:
    explicit TCustomMemo(TComponent* owner);
    ~TCustomMemo() override;

    TStrings* Lines() const;
    void SetLines(TStrings* value);
    std::string GetText() const override;
    void SetText(const std::string& value) override;
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle value);
    bool WantReturns = true;

    bool KeyDown(Word key) override;
    void DefineTextProperties(TTextPropertyList& list) override;
    void DoEnter() override;

private:
    class TMemoStrings;
    friend class TMemoStrings;
    void LinesChanged();
    std::unique_ptr<TMemoStrings> FLines;
    bool FWordWrap = true;
    TScrollStyle FScrollBars = ssNone;
};

class TMemo : public TCustomMemo {
public:
    using TCustomMemo::TCustomMemo;
};

class TButtonControl : public TWinControl {
public:
    explicit TButtonControl(TComponent* owner);
    void DefineTextProperties(TTextPropertyList& list) override;
};

// A push button. Clicking it sets its form's ModalResult to its own (unless
// mrNone), then fires OnClick. Default buttons answer Enter, Cancel buttons
// Escape.
class TButton : public TButtonControl {
public:
    explicit TButton(TComponent* owner);

    bool Default() const { return FDefault; }
    void SetDefault(bool value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value);
    TModalResult ModalResult = mrNone;

    void Click() override;

private:
    bool FDefault = false;
    bool FCancel = false;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

// A check box. Changing Checked, by the user or by a program, fires OnClick.
class TCheckBox : public TButtonControl {
public:
    explicit TCheckBox(TComponent* owner);
    bool Checked() const { return FState == cbChecked; }
    void SetChecked(bool value) { SetState(value ? cbChecked : cbUnchecked); }
    TCheckBoxState State() const { return FState; }
    void SetState(TCheckBoxState value);
    // The user's click toggles it.
    void Toggle();

private:
    TCheckBoxState FState = cbUnchecked;
};

// A radio button. Checking it unchecks the radio buttons beside it (same
// parent) and fires OnClick; the user's click checks it.
class TRadioButton : public TButtonControl {
public:
    explicit TRadioButton(TComponent* owner);
    bool Checked() const { return FChecked; }
    void SetChecked(bool value);
    void Toggle() { SetChecked(true); }

private:
    bool FChecked = false;
};

// A frame with a caption around other controls.
class TCustomGroupBox : public TCustomControl {
public:
    explicit TCustomGroupBox(TComponent* owner);
    void Paint() override;
    void DefineTextProperties(TTextPropertyList& list) override;

protected:
    void AdjustClientRect(TRect& rect) override;
    void TextChanged() override;
};

class TGroupBox : public TCustomGroupBox {
public:
    using TCustomGroupBox::TCustomGroupBox;
};

} // namespace orvex
