// Labels, edits, memos, buttons, check boxes, radio buttons and group boxes.

#include "host/forms/StdCtrls.h"

#include "host/forms/Forms.h"

#include <algorithm>

namespace orvex {

// ----------------------------------------------------------------- TCustomLabel

TCustomLabel::TCustomLabel(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 65, 17);
    SetAutoSize(true);
}

void TCustomLabel::SetAlignment(TAlignment value)
{
    if (FAlignment != value) {
        FAlignment = value;
        Invalidate();
    }
}

void TCustomLabel::SetTransparent(bool value)
{
    if (FTransparent != value) {
        FTransparent = value;
        Invalidate();
    }
}

void TCustomLabel::SetWordWrap(bool value)
{
    if (FWordWrap != value) {
        FWordWrap = value;
        AdjustSize();
        Invalidate();
    }
}

std::vector<std::string> TCustomLabel::Lines(TCanvas& canvas) const
{
    std::string text = StripAccelChar(GetText());
    if (text.empty())
        text = " ";
    std::vector<std::string> paragraphs;
    std::size_t pos = 0;
    while (true) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        paragraphs.push_back(text.substr(pos, end == std::string::npos ? end : end - pos));
        if (end == std::string::npos)
            break;
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    if (!FWordWrap)
        return paragraphs;
    // Words go on a line while it fits; a word wider than the label stands alone.
    std::vector<std::string> lines;
    for (const std::string& paragraph : paragraphs) {
        std::string line;
        std::size_t at = 0;
        while (at <= paragraph.size()) {
            std::size_t blank = paragraph.find(' ', at);
            if (blank == std::string::npos)
                blank = paragraph.size();
            const std::string word = paragraph.substr(at, blank - at);
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && canvas.TextWidth(candidate) > Width()) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
            at = blank + 1;
        }
        lines.push_back(line);
    }
    return lines;
}

void TCustomLabel::AdjustSize()
{
    if (!AutoSize() || HasState(csLoading) || HasState(csDestroying))
        return;
    TCanvas& canvas = *Canvas();
    canvas.SetFont(Font());
    int width = 0;
    int height = 0;
    for (const std::string& line : Lines(canvas)) {
        const TSize extent = canvas.TextExtent(line);
        width = std::max(width, extent.cx);
        height += extent.cy;
    }
    if (FWordWrap)
        width = Width();
    int left = Left();
    if (FAlignment == taRightJustify && !FWordWrap)
        left += Width() - width;
    SetBounds(left, Top(), width, height);
}

void TCustomLabel::TextChanged()
{
    TGraphicControl::TextChanged();
    Invalidate();
}

void TCustomLabel::FontChanged()
{
    TGraphicControl::FontChanged();
    Invalidate();
}

void TCustomLabel::Notification(TComponent* component, TOperation operation)
{
    TGraphicControl::Notification(component, operation);
    if (operation == opRemove && component == FocusControl)
        FocusControl = nullptr;
}

void TCustomLabel::Paint()
{
    TCanvas& canvas = *Canvas();
    if (!FTransparent) {
        canvas.Brush()->SetColor(Color());
        canvas.FillRect(ClientRect());
    }
    canvas.Brush()->SetStyle(bsClear);
    const TRect clip = ClientRect();
    int y = 0;
    for (const std::string& line : Lines(canvas)) {
        const TSize extent = canvas.TextExtent(line);
        int x = 0;
        if (FAlignment == taRightJustify)
            x = Width() - extent.cx;
        else if (FAlignment == taCenter)
            x = (Width() - extent.cx) / 2;
        if (!Enabled()) {
            // Disabled text: an etched look.
            canvas.Font()->SetColor(clBtnHighlight);
            canvas.TextRect(clip, x + 1, y + 1, line);
            canvas.Font()->SetColor(clBtnShadow);
        }
        canvas.TextRect(clip, x, y, line);
        y += extent.cy;
    }
}

void TCustomLabel::DefineTextProperties(TTextPropertyList& list)
{
    TGraphicControl::DefineTextProperties(list);
    DefineCaption(list);
}

// ------------------------------------------------------------------ TCustomEdit

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner)
{
    InitColor(clWindow, false);
    SetTabStop(true);
    SetBounds(0, 0, 121, 21);
}

void TCustomEdit::SetMaxLength(int value)
{
    FMaxLength = std::max(0, value);
    Changed(ccState);
}

void TCustomEdit::SetPasswordChar(char value)
{
    if (FPasswordChar != value) {
        FPasswordChar = value;
        Changed(ccState);
    }
}

void TCustomEdit::SetReadOnly(bool value)
{
    if (FReadOnly != value) {
        FReadOnly = value;
        Changed(ccState);
    }
}

void TCustomEdit::SetSelStart(int value)
{
    FSelStart = std::clamp(value, 0, static_cast<int>(GetText().size()));
    FSelLength = 0;
}

void TCustomEdit::SetSelLength(int value)
{
    FSelLength = std::clamp(value, 0, static_cast<int>(GetText().size()) - FSelStart);
}

std::string TCustomEdit::SelText() const
{
    return GetText().substr(FSelStart, FSelLength);
}

void TCustomEdit::SelectAll()
{
    FSelStart = 0;
    FSelLength = static_cast<int>(GetText().size());
}

std::string TCustomEdit::DisplayText() const
{
    const std::string text = GetText();
    return FPasswordChar != 0 ? std::string(text.size(), FPasswordChar) : text;
}

bool TCustomEdit::ReplaceSelection(const std::string& with)
{
    const std::string text = GetText();
    const int length = static_cast<int>(text.size());
    const int start = std::clamp(FSelStart, 0, length);
    const int selected = std::clamp(FSelLength, 0, length - start);
    std::string inserted = with;
    if (FMaxLength > 0) {
        // What does not fit within the limit is not taken.
        const int room = std::max(0, FMaxLength - (length - selected));
        if (static_cast<int>(inserted.size()) > room)
            inserted.resize(room);
        if (inserted.empty() && !with.empty())
            return false;
    }
    SetText(text.substr(0, start) + inserted + text.substr(start + selected));
    FSelStart = start + static_cast<int>(inserted.size());
    FSelLength = 0;
    return true;
}

bool TCustomEdit::TypeChar(char c)
{
    if (!Enabled() || FReadOnly)
        return false;
    return ReplaceSelection(std::string(1, c));
}

bool TCustomEdit::KeyDown(Word key)
{
    if (!Enabled())
        return false;
    const int length = static_cast<int>(GetText().size());
    switch (key) {
    case VK_BACK:
        if (FReadOnly || (FSelLength == 0 && FSelStart == 0))
            return false;
        if (FSelLength == 0) {
            --FSelStart;
            FSelLength = 1;
        }
        return ReplaceSelection("");
    case VK_DELETE:
        if (FReadOnly || (FSelLength == 0 && FSelStart >= length))
            return false;
        if (FSelLength == 0)
            FSelLength = 1;
        return ReplaceSelection("");
    case VK_LEFT:
        FSelStart = std::max(0, FSelStart - (FSelLength > 0 ? 0 : 1));
        FSelLength = 0;
        return true;
    case VK_RIGHT:
        FSelStart = std::min(length, FSelStart + (FSelLength > 0 ? FSelLength : 1));
        FSelLength = 0;
        return true;
    case VK_HOME:
        FSelStart = 0;
        FSelLength = 0;
        return true;
    case VK_END:
        FSelStart = length;
        FSelLength = 0;
        return true;
    default:
        return false;
    }
}

void TCustomEdit::EditedByUser(const std::string& text)
{
    if (text == GetText())
        return;
    SetText(text);
    FSelStart = static_cast<int>(GetText().size());
    FSelLength = 0;
}

void TCustomEdit::Change()
{
    if (OnChange)
        OnChange(this);
}

void TCustomEdit::TextChanged()
{
    const int length = static_cast<int>(GetText().size());
    FSelStart = std::min(FSelStart, length);
    FSelLength = std::min(FSelLength, length - FSelStart);
    TWinControl::TextChanged();
    Change();
}

void TCustomEdit::DoEnter()
{
    if (AutoSelect)
        SelectAll();
    TWinControl::DoEnter();
}

void TCustomEdit::DefineTextProperties(TTextPropertyList& list)
{
    TWinControl::DefineTextProperties(list);
    list.AddText(
        "Text", [this] { return GetText(); }, [this](const std::string& v) { SetText(v); });
}

// ------------------------------------------------------------------ TCustomMemo

class TCustomMemo::TMemoStrings : public TStringList {
public:
    explicit TMemoStrings(TCustomMemo* memo) : FMemo(memo) {}
    TCustomMemo* FMemo;

protected:
    void Changed() override
    {
        TStringList::Changed();
        if (UpdateCount() == 0 && FMemo != nullptr)
            FMemo->LinesChanged();
    }
};

TCustomMemo::TCustomMemo(TComponent* owner)
    : TCustomEdit(owner), FLines(std::make_unique<TMemoStrings>(this))
{
    AutoSelect = false;
    SetBounds(0, 0, 185, 89);
}

TCustomMemo::~TCustomMemo()
{
    FLines->FMemo = nullptr;
}

TStrings* TCustomMemo::Lines() const
{
    return FLines.get();
}

void TCustomMemo::SetLines(TStrings* value)
{
    FLines->Assign(value);
}

std::string TCustomMemo::GetText() const
{
    return FText;
}

void TCustomMemo::SetText(const std::string& value)
{
    if (FText == value)
        return;
    FText = value;
    // The lines follow the text without reporting back.
    TMemoStrings* lines = FLines.get();
    lines->FMemo = nullptr;
    try {
        lines->SetText(value);
    } catch (...) {
        lines->FMemo = this;
        throw;
    }
    lines->FMemo = this;
    TextChanged();
}

void TCustomMemo::LinesChanged()
{
    // Lines joined by line ends, with none after the last.
    std::string text;
    for (int i = 0; i < FLines->Count(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += FLines->Get(i);
    }
    if (text != FText) {
        FText = text;
        TextChanged();
    }
}

void TCustomMemo::SetWordWrap(bool value)
{
    if (FWordWrap != value) {
        FWordWrap = value;
        Changed(ccState);
    }
}

void TCustomMemo::SetScrollBars(TScrollStyle value)
{
    if (FScrollBars != value) {
        FScrollBars = value;
        Changed(ccState);
    }
}

bool TCustomMemo::KeyDown(Word key)
{
    if (key == VK_RETURN) {
        if (!WantReturns || !Enabled() || ReadOnly())
            return false;
        return ReplaceSelection("\r\n");
    }
    return TCustomEdit::KeyDown(key);
}

void TCustomMemo::DoEnter()
{
    TWinControl::DoEnter();
}

void TCustomMemo::DefineTextProperties(TTextPropertyList& list)
{
    // A memo's text is its lines, translated as one block.
    TWinControl::DefineTextProperties(list);
    list.AddStrings("Lines", tpLines, FLines.get());
}

// ------------------------------------------------------------------- buttons

TButtonControl::TButtonControl(TComponent* owner) : TWinControl(owner)
{
    SetTabStop(true);
}

void TButtonControl::DefineTextProperties(TTextPropertyList& list)
{
    TWinControl::DefineTextProperties(list);
    DefineCaption(list);
}

TButton::TButton(TComponent* owner) : TButtonControl(owner)
{
    SetBounds(0, 0, 75, 25);
}

void TButton::SetDefault(bool value)
{
    if (FDefault != value) {
        FDefault = value;
        Changed(ccState);
    }
}

void TButton::SetCancel(bool value)
{
    if (FCancel != value) {
        FCancel = value;
        Changed(ccState);
    }
}

void TButton::Click()
{
    if (ModalResult != mrNone)
        if (TCustomForm* form = GetParentForm(this))
            form->SetModalResult(ModalResult);
    TButtonControl::Click();
}

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner)
{
    SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetState(TCheckBoxState value)
{
    if (FState == value)
        return;
    FState = value;
    Changed(ccState);
    Click();
}

void TCheckBox::Toggle()
{
    SetChecked(!Checked());
}

TRadioButton::TRadioButton(TComponent* owner) : TButtonControl(owner)
{
    SetBounds(0, 0, 113, 17);
}

void TRadioButton::SetChecked(bool value)
{
    if (FChecked == value)
        return;
    FChecked = value;
    Changed(ccState);
    if (!value)
        return;
    if (TWinControl* parent = Parent()) {
        for (int i = 0; i < parent->ControlCount(); ++i) {
            auto* sibling = dynamic_cast<TRadioButton*>(parent->Controls(i));
            if (sibling != nullptr && sibling != this && sibling->FChecked) {
                sibling->FChecked = false;
                sibling->Changed(ccState);
            }
        }
    }
    Click();
}

// ------------------------------------------------------------- TCustomGroupBox

TCustomGroupBox::TCustomGroupBox(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 185, 105);
}

void TCustomGroupBox::AdjustClientRect(TRect& rect)
{
    Canvas()->SetFont(Font());
    rect.Top += Canvas()->TextHeight("0");
    InflateRect(rect, -2, -2);
}

void TCustomGroupBox::Paint()
{
    TCanvas& canvas = *Canvas();
    canvas.Brush()->SetColor(Color());
    canvas.FillRect(ClientRect());
    const int textHeight = canvas.TextHeight("0");
    // An etched frame through the middle of the caption.
    TRect frame = Rect(1, textHeight / 2, Width(), Height());
    canvas.Brush()->SetColor(clBtnHighlight);
    canvas.FrameRect(frame);
    OffsetRect(frame, -1, -1);
    canvas.Brush()->SetColor(clBtnShadow);
    canvas.FrameRect(frame);
    const std::string text = StripAccelChar(GetText());
    if (!text.empty()) {
        canvas.Brush()->SetColor(Color());
        if (!Enabled())
            canvas.Font()->SetColor(clGrayText);
        canvas.TextOut(8, 0, text);
    }
}

void TCustomGroupBox::TextChanged()
{
    TCustomControl::TextChanged();
    Invalidate();
}

void TCustomGroupBox::DefineTextProperties(TTextPropertyList& list)
{
    TCustomControl::DefineTextProperties(list);
    DefineCaption(list);
}

} // namespace orvex
