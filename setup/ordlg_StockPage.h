#pragma once
// The layout the library's stock pages share: 470 x 368 client pixels, the
// theme picture on the left, the text on the right, and the buttons
// "< Previous", "Next >" (or another proceed caption), "Finish" on the pages
// that end a wizard, and "Cancel" along the bottom.

#include "host/forms/ComCtrls.h"
#include "installer/cmp_TTranslateControls.h"
#include "setup/dlgcmp_TBaseDlg.h"

namespace orvex {

class TStockInstallPage : public TBaseInstallForm {
public:
    // withFinish: the page has a "Finish" button in the place of "Next >".
    TStockInstallPage(TComponent* owner, const std::string& caption, bool withFinish);

    TImage* imgTheme;
    TButton* btnPrevious;
    TButton* btnNext;
    TButton* btnFinish = nullptr; // pages that end a wizard
    TButton* btnCancel;

    // "< Previous" unless this is the first page; with a "Finish" button,
    // "Next >" unless this is the last page and "Finish" exactly when "Next >"
    // is hidden; "Cancel" only while the page offers it (CancelOffered); the
    // proceed or finish button takes the focus.
    void UpdateButtons() override;
    // The theme picture, then as any page.
    void Activate() override;

    // A label of text at the right of the picture, word-wrapped.
    TLabel* AddText(const std::string& name, const std::string& text, int top, int height);

    // Where the text column begins and how wide it is.
    static constexpr int TextLeft = 140;
    static constexpr int TextWidth = 318;
    static constexpr int ButtonTop = 335;

protected:
    // Keeps "< Previous" hidden whatever the position (the reboot page).
    bool FKeepPreviousHidden = false;
};

// Focuses a control of a page when it can take the focus.
void FocusIfPossible(TWinControl* control);

} // namespace orvex
