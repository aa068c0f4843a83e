#include "setup/ordlg_StockPage.h"

namespace orvex {

void FocusIfPossible(TWinControl* control)
{
    TCustomForm* form = GetParentForm(control);
    if (form != nullptr && control->CanFocus())
        form->SetActiveControl(control);
}

namespace {

TButton* MakeButton(TStockInstallPage* page, const std::string& name, const std::string& caption, int left)
{
    auto* button = new TButton(page);
    button->SetName(name);
    button->SetParent(page);
    button->SetBounds(left, TStockInstallPage::ButtonTop, 75, 23);
    button->SetCaption(caption);
    return button;
}

} // namespace

TStockInstallPage::TStockInstallPage(TComponent* owner, const std::string& caption, bool withFinish)
    : TBaseInstallForm(owner)
{
    SetCaption(caption);
    SetClientWidth(470);
    SetClientHeight(368);
    imgTheme = new TImage(this);
    imgTheme->SetName("imgTheme");
    imgTheme->SetParent(this);
    imgTheme->SetBounds(8, 8, 121, 313);
    imgTheme->SetStretch(true);
    btnPrevious = MakeButton(this, "btnPrevious", "< Previous", 215);
    btnNext = MakeButton(this, "btnNext", "Next >", 290);
    if (withFinish)
        btnFinish = MakeButton(this, "btnFinish", "Finish", 290);
    btnCancel = MakeButton(this, "btnCancel", "Cancel", 383);
    btnPrevious->OnClick = [this](TObject*) { Previous(); };
    btnNext->OnClick = [this](TObject*) { Next(); };
    if (btnFinish != nullptr)
        btnFinish->OnClick = [this](TObject*) { Next(); };
    btnCancel->OnClick = [this](TObject*) { Cancel(); };
}

TLabel* TStockInstallPage::AddText(const std::string& name, const std::string& text, int top, int height)
{
    auto* label = new TTranslateLabel(this);
    label->SetName(name);
    label->SetParent(this);
    label->SetAutoSize(false);
    label->SetWordWrap(true);
    label->SetBounds(TextLeft, top, TextWidth, height);
    label->SetCaption(text);
    return label;
}

void TStockInstallPage::UpdateButtons()
{
    btnPrevious->SetVisible(!FKeepPreviousHidden && !IsFirstPage());
    if (btnFinish != nullptr) {
        const bool next = !IsLastPage();
        btnNext->SetVisible(next);
        btnFinish->SetVisible(!next);
    }
    // After the work there is nothing left to cancel.
    btnCancel->SetVisible(CancelOffered());
    if (btnNext->Visible())
        FocusIfPossible(btnNext);
    else if (btnFinish != nullptr && btnFinish->Visible())
        FocusIfPossible(btnFinish);
}

void TStockInstallPage::Activate()
{
    TPicture* theme = ThemePicture();
    if (theme != nullptr)
        imgTheme->Picture()->Assign(theme);
    TBaseInstallForm::Activate();
}

} // namespace orvex
