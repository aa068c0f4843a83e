#pragma once
// The page that chooses the destination folder: an edit holding the install
// component's destination and a "&Browse" button. Typing or browsing makes
// the chosen folder the destination itself (no path specifier).

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TSelectDestinationForm : public TStockInstallPage {
public:
    explicit TSelectDestinationForm(TComponent* owner);

    TLabel* lblInfo;
    TGroupBox* gbDestination;
    TEdit* edDestination;
    TButton* btnBrowse;

    // Shows the destination (the group only while there is one).
    void Activate() override;
    // The folder browser, opened at the destination's nearest existing
    // folder; the chosen folder followed by the destination's last component
    // becomes the destination. It never creates or removes a folder.
    void Browse();

private:
    bool FShowing = false; // the edit is being filled, not typed in
};

} // namespace orvex
